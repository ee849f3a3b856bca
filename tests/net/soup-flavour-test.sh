#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# Usage: soup-flavour-test.sh BUILD_DIR SOUP_MODULE
# A process that loads libsoup 2.4 and libsoup 3 is ended by whichever loads second, so everything
# built here on the library (the library itself, through which the typelib's callers load it, the
# driver, the tests and the benchmarks) must load the libsoup named by SOUP_MODULE and never the
# other. Only the bundled server keeps libsoup 2.4: a program of its own that never loads the
# library.
set -euo pipefail
build=$1
case $2 in
  libsoup-2.4) want=libsoup-2.4.so.1 other=libsoup-3.0.so ;;
  libsoup-3.0) want=libsoup-3.0.so.0 other=libsoup-2.4.so ;;
  *) echo "unknown libsoup $2" >&2; exit 2 ;;
esac
status=0
fail () { echo "FAIL: $*"; status=1; }

grep -qx "$want" <<<"$(readelf -d "$build/libkiv.so" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p')" \
  || fail "libkiv.so does not link $want"

loading=()
while IFS= read -r -d '' file; do
  [ "$(head -c 4 "$file")" = $'\x7fELF' ] || continue
  [ "${file##*/}" != kiv-config-server ] || continue
  deps=$(ldd "$file" 2>/dev/null) || continue
  ! grep -qF "$other" <<<"$deps" || fail "${file#"$build"/} loads $other"
  grep -qF "$want" <<<"$deps" && loading+=("${file#"$build"/}")
done < <(find "$build" -path "$build/CMakeFiles" -prune -o -type f \( -perm -u+x -o -name '*.so*' \) -print0)

# The check must have seen what it is about.
for program in driver/kiv-config-check tests/net/kiv-net-test; do
  [[ " ${loading[*]} " == *" $program "* ]] || fail "$program does not load $want"
done
echo "${#loading[@]} files load $want"
exit $status
