#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# Usage: install-test.sh BUILD_DIR
# Installs the build the two ways installer authors do, into a temporary directory, and checks
# what they get: the libraries with their SONAME and links, the headers, the pkg-config files,
# the driver and the lint with their manual pages, and the translation template. Then it builds
# small C programs the way an installer would, from what was installed and pkg-config alone, and
# runs them.
# The configured layout comes from the environment, set by CMake: KIV_PREFIX, KIV_LIBDIR,
# KIV_INCLUDEDIR, KIV_BINDIR, KIV_MANDIR, KIV_DATADIR, KIV_VERSION, KIV_SOVERSION,
# KIV_CONFIG_URL, KIV_HAVE_UI, KIV_HAVE_GIR, KIV_HAVE_DOCS, KIV_REFERENCE_DIR, KIV_SOURCE_DIR,
# KIV_SOUP_MODULE, CMAKE, CC and KIV_CFLAGS.
set -euo pipefail
# Output is read into variables before grep -q sees it: grep -q stops at the first match, and the
# writer it leaves behind would die of SIGPIPE and fail the whole pipeline under pipefail.

build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
status=0
fail () { echo "FAIL: $*"; status=1; }

# Absolute directories would send files outside the temporary prefix, into the real system.
for dir in "$KIV_LIBDIR" "$KIV_INCLUDEDIR" "$KIV_BINDIR" "$KIV_MANDIR" "$KIV_DATADIR" "$KIV_REFERENCE_DIR"; do
  case $dir in /*) echo "SKIP: $dir is absolute, so it cannot be installed to a test prefix"; exit 77 ;; esac
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# --- Trying a build out: cmake --install --prefix moves everything under one directory.
root=$tmp/prefix
"$CMAKE" --install "$build" --prefix "$root" >"$tmp/install.log" || { cat "$tmp/install.log"; exit 1; }
lib=$root/$KIV_LIBDIR

libraries=(kiv)
[ "$KIV_HAVE_UI" = ON ] && libraries+=(kiv-ui)
for name in "${libraries[@]}"; do
  # The development link names the SONAME link, which names the real file, so programs built
  # today keep loading libNAME.so.MAJOR when a compatible release replaces the file.
  [ "$(readlink "$lib/lib$name.so")" = "lib$name.so.$KIV_SOVERSION" ] \
    || fail "lib$name.so does not link to lib$name.so.$KIV_SOVERSION"
  [ "$(readlink "$lib/lib$name.so.$KIV_SOVERSION")" = "lib$name.so.$KIV_VERSION" ] \
    || fail "lib$name.so.$KIV_SOVERSION does not link to lib$name.so.$KIV_VERSION"
  { [ -f "$lib/lib$name.so.$KIV_VERSION" ] && [ ! -L "$lib/lib$name.so.$KIV_VERSION" ]; } \
    || fail "lib$name.so.$KIV_VERSION is not the library file"
  soname=$(readelf -d "$lib/lib$name.so.$KIV_VERSION" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  [ "$soname" = "lib$name.so.$KIV_SOVERSION" ] || fail "lib$name has SONAME '$soname'"
  [ -f "$lib/pkgconfig/$name.pc" ] || fail "$name.pc is not installed"
done

# The back end exports its public functions and nothing else: module-private helpers must not
# become something an installer can link against. Debian's symbols file is the list of them.
exports=$(nm -D --defined-only "$lib/libkiv.so" | awk '$2 ~ /^[TWiV]$/ { print $3 }' | sort | tr '\n' ' ')
expected=$(sed -n 's/^ \([A-Za-z0-9_]*\)@Base .*/\1/p' "$KIV_SOURCE_DIR/debian/libkiv0.symbols" \
  | sort | tr '\n' ' ')
[ "$exports" = "$expected" ] || fail "libkiv.so exports functions: $exports"
symbols=$(nm -DC --defined-only "$lib/libkiv.so")
for private in arch_type parse_cfg_line debug_ptr_array new_configuration debug_configuration; do
  ! grep -qw "$private" <<<"$symbols" || fail "libkiv.so exports $private"
done

headers=(kiv-public.h host.h net.h config.h)
[ "$KIV_HAVE_UI" = ON ] && headers+=(ui.h)
for header in "${headers[@]}"; do
  [ -f "$root/$KIV_INCLUDEDIR/kiv/$header" ] || fail "kiv/$header is not installed"
done
installed_headers=$(cd "$root/$KIV_INCLUDEDIR" && find . -type f | sort | tr '\n' ' ')
[ "$installed_headers" = "$(printf './kiv/%s\n' "${headers[@]}" | sort | tr '\n' ' ')" ] \
  || fail "installed headers: $installed_headers"

[ -x "$root/$KIV_BINDIR/kiv-config-check" ] || fail "kiv-config-check is not installed"
grep -q "NEEDED.*\[libkiv.so.$KIV_SOVERSION\]" <<<"$(readelf -d "$root/$KIV_BINDIR/kiv-config-check")" \
  || fail "kiv-config-check does not load libkiv.so.$KIV_SOVERSION"
page=$root/$KIV_MANDIR/man1/kiv-config-check.1
[ -f "$page" ] || fail "kiv-config-check(1) is not installed"
# The page names the URL the driver really reads; roff writes its hyphens as \-.
[ -f "$page" ] && { grep -qF "$KIV_CONFIG_URL" <<<"$(sed 's/\\-/-/g' "$page")" || fail "the manual page does not name $KIV_CONFIG_URL"; }
[ -x "$root/$KIV_BINDIR/kiv-config-lint" ] || fail "kiv-config-lint is not installed"
[ -f "$root/$KIV_MANDIR/man1/kiv-config-lint.1" ] || fail "kiv-config-lint(1) is not installed"
[ -f "$root/$KIV_DATADIR/kiv/kiv.pot" ] || fail "kiv.pot is not installed"
if [ "$KIV_HAVE_GIR" = ON ]; then
  [ -f "$root/$KIV_DATADIR/gir-1.0/Kiv-0.1.gir" ] || fail "Kiv-0.1.gir is not installed"
  [ -f "$lib/girepository-1.0/Kiv-0.1.typelib" ] || fail "Kiv-0.1.typelib is not installed"
fi
if [ "$KIV_HAVE_DOCS" = ON ]; then
  # Devhelp finds the reference by its index, named like the folder (kiv-0.1/kiv-0.1.devhelp2),
  # which carries the API version so that the reference of another one can stand beside it.
  book=${KIV_REFERENCE_DIR##*/}
  [ "$book" = "kiv-${KIV_VERSION%.*}" ] || fail "the API reference is installed in $book"
  for page in index.html overview.html func.get_configuration.html "$book.devhelp2"; do
    [ -f "$root/$KIV_REFERENCE_DIR/$page" ] || fail "the API reference has no $page"
  done
fi

# Only the installed files and pkg-config: nothing may point back into the source or build tree.
export PKG_CONFIG_PATH=$lib/pkgconfig
[ "$(pkg-config --variable=prefix kiv)" = "$root" ] || fail "kiv.pc names prefix $(pkg-config --variable=prefix kiv)"
[ "$(pkg-config --modversion kiv)" = "$KIV_VERSION" ] || fail "kiv.pc has version $(pkg-config --modversion kiv)"
# An installer that loads libsoup itself must know which one the library loads.
[ "$(pkg-config --variable=soup kiv)" = "$KIV_SOUP_MODULE" ] \
  || fail "kiv.pc names libsoup '$(pkg-config --variable=soup kiv)', not $KIV_SOUP_MODULE"

# build_and_run PROGRAM PACKAGE: compiles PROGRAM.c as C against PACKAGE and runs it.
build_and_run ()
{
  local program=$1 package=$2 flags
  flags=$(pkg-config --cflags --libs "$package") || { fail "pkg-config knows no $package"; return; }
  case $flags in
    *"$KIV_SOURCE_DIR"* | *"$build"*) fail "$package.pc points outside the install: $flags"; return ;;
  esac
  # shellcheck disable=SC2086 # the flags are words
  "$CC" -std=c11 -Wall -Wextra -Werror -pedantic $KIV_CFLAGS "$here/$program.c" -o "$tmp/$program" $flags \
    || { fail "$program.c does not build against the installed $package"; return; }
  # The library it loads must be the installed one, not one of the build tree.
  grep -qF "$lib/lib$package.so.$KIV_SOVERSION" <<<"$(LD_LIBRARY_PATH=$lib ldd "$tmp/$program")" \
    || fail "$program does not load the installed lib$package"
  LD_LIBRARY_PATH=$lib LD_BIND_NOW=1 "$tmp/$program" || fail "$program failed"
}

build_and_run installed-api kiv
[ "$KIV_HAVE_UI" = ON ] && build_and_run installed-ui kiv-ui

# The public headers need GLib and GIO alone (cancellables, asynchronous results), so building an
# installer must not need the development files of what the library uses inside: hide libsoup's
# from pkg-config.
only_public=$tmp/pkgconfig-without-private
mkdir "$only_public"
for dir in $(pkg-config --variable pc_path pkg-config | tr : ' '); do
  for pc in "$dir"/*.pc; do
    if [ -e "$pc" ]; then
      ln -s "$pc" "$only_public/" 2>/dev/null || true # the first one found wins
    fi
  done
done
rm -f "$only_public/libsoup-2.4.pc" "$only_public/libsoup-3.0.pc"
PKG_CONFIG_LIBDIR=$only_public:$lib/pkgconfig pkg-config --cflags --libs kiv >/dev/null \
  || fail "kiv.pc needs development files that no public header needs"
# ui.h includes a header of kiv's, so kiv-ui.pc must bring in kiv.
if [ "$KIV_HAVE_UI" = ON ]; then
  grep -qx kiv <<<"$(pkg-config --print-requires --print-requires-private kiv-ui | cut -d' ' -f1)" \
    || fail "kiv-ui.pc does not require kiv"
fi

# --- Packaging: DESTDIR stages the files, and the package then puts them at the configured
# prefix, so that is the prefix the pkg-config files must name.
stage=$tmp/stage
DESTDIR=$stage "$CMAKE" --install "$build" >"$tmp/install.log" || { cat "$tmp/install.log"; exit 1; }
for name in "${libraries[@]}"; do
  pc=$stage$KIV_PREFIX/$KIV_LIBDIR/pkgconfig/$name.pc
  prefix=$(sed -n 's/^prefix=//p' "$pc")
  [ "$prefix" = "$KIV_PREFIX" ] || fail "$name.pc staged with DESTDIR names prefix '$prefix'"
done
[ -f "$stage$KIV_PREFIX/$KIV_LIBDIR/libkiv.so.$KIV_VERSION" ] || fail "DESTDIR did not stage libkiv.so"

exit $status
