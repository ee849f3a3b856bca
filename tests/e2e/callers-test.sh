#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# Programs that use the library as installers do, each retrieving a section from the
# configuration server on loopback: a Python script through the typelib, a C program with
# functions of its own that share the library's names, and one that loads libsoup 3 itself.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# A kernel range that holds on any kernel and one that never does, a line for this machine's own
# architecture (dropped) and a plain one.
KIV_SECTION="[Debian bookworm]
s deb https://repo.example.org/debian bookworm main
k 0 999999 i in-range
k 0 0.1 i below
i own:$(uname -m)
i kiv-tools
"
export KIV_SECTION

serve_section ()
{
  printf '%s' "$KIV_SECTION" > "$SANDBOX/cfg"
  debian_bookworm
  trust_test_ca
  serve_config "$SANDBOX/cfg"
}

interposer ()
{
  serve_section
  PATH="$SANDBOX/bin" "$KIV_INTERPOSER"
}

python_script ()
{
  serve_section
  local python
  python=$(command -v python3)
  PATH="$SANDBOX/bin" GI_TYPELIB_PATH="$KIV_TYPELIB_DIR" LD_LIBRARY_PATH="$KIV_LIBRARY_DIR" \
    "$python" "$KIV_PYTHON_TEST"
}

soup3_caller ()
{
  serve_section
  PATH="$SANDBOX/bin" "$KIV_SOUP3_CALLER" "$KIV_CONFIG_URL" "$HOME/file"
}

# Built with libsoup 2.4, the library cannot share a process with libsoup 3, which ends it.
soup3_caller_ends ()
{
  local status=0
  soup3_caller > "$SANDBOX/out" 2>&1 || status=$?
  [ "$status" -ne 0 ] && grep -q 'Using libsoup2 and libsoup3 in the same process is not supported' \
    "$SANDBOX/out" && ! grep -q downloaded "$SANDBOX/out"
}

[ "${1:-}" = --definitions-only ] && return 0

expect_run "a caller's same-named functions do not replace the library's" 0 \
  "in-range${NL}kiv-tools${NL}calls to the caller's functions: 0${NL}" interposer

if [ -n "${KIV_TYPELIB_DIR:-}" ]; then
  check "Python through introspection" in_sandbox python_script
else
  echo "SKIP: Python through introspection (built without KIV_BUILD_GIR)"
fi
if ! /sbin/ldconfig -p | grep -q 'libsoup-3\.0\.so\.0 '; then
  echo "SKIP: a program that loads libsoup 3 (libsoup 3 is not installed)"
elif [ "$KIV_SOUP" = 3 ]; then
  expect_run "a program that loads libsoup 3 downloads through the library" 0 \
    "libsoup 3 in use${NL}downloaded${NL}" soup3_caller
else
  check "a program that loads libsoup 3 cannot use the library built with libsoup 2.4" \
    in_sandbox soup3_caller_ends
fi
e2e_finish
