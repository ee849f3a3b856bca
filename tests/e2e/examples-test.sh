#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# The examples of examples/, in C and in Python, on a virtual display against the bundled server:
# the retrieval of a section that trickles in, with the bar filled by the share received, and a
# failed one, whose dialog names the URL and the reason. Each closes itself (--close-after).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The section, then enough lines after it that the file comes in many pieces.
serve_trickling ()
{
  {
    printf '[Debian bookworm]\ni example-package\n\n'
    for i in $(seq 300); do printf '[Other release %s]\n' "$i"; done
  } > "$SANDBOX/cfg"
  debian_bookworm
  trust_test_ca
  serve_config "$SANDBOX/cfg" "$1" server --trickle-bytes 1000 --trickle-ms 20
}

# run_example KIND MODE: the KIND example (c or python) against a server in MODE; its standard
# output goes to $SANDBOX/out.
run_example ()
{
  serve_trickling "$2"
  local program=("$KIV_EXAMPLE_C")
  [ "$1" = c ] || program=("$(command -v python3)" "$KIV_EXAMPLE_PY")
  local status=0
  # GTK's caches (fontconfig's among them) live until exit: a sanitized build looks for no leaks
  # in a GTK program, as the error dialog's test does not either.
  PATH="$SANDBOX/bin:$PATH" GI_TYPELIB_PATH="${KIV_TYPELIB_DIR:-}" \
    LD_LIBRARY_PATH="${KIV_LIBRARY_DIR:-}" GDK_BACKEND=x11 NO_AT_BRIDGE=1 \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
    GSETTINGS_BACKEND=memory "$KIV_XVFB_RUN" -a -s '-screen 0 640x480x24' \
    "${program[@]}" --close-after 200 > "$SANDBOX/out" 2> "$SANDBOX/err" || status=$?
  return "$status"
}

succeeds ()
{
  if ! { run_example "$1" trickle && grep -qx 'The bar stood at 100 %' "$SANDBOX/out" \
    && grep -qx 'Configuration retrieved: 1 packages to install' "$SANDBOX/out"; }; then
    cat "$SANDBOX/out" "$SANDBOX/err" >&2
    return 1
  fi
}

fails ()
{
  local status=0
  run_example "$1" not-found || status=$?
  if ! { [ "$status" -eq 1 ] && grep -qxF "$KIV_CONFIG_URL: Not Found" "$SANDBOX/out"; }; then
    cat "$SANDBOX/out" "$SANDBOX/err" >&2
    return 1
  fi
}

[ "${1:-}" = --definitions-only ] && return 0

kinds=(c)
[ -z "${KIV_EXAMPLE_PY:-}" ] || kinds+=(python)
for kind in "${kinds[@]}"; do
  check "the $kind example fills its bar and retrieves the configuration" in_sandbox succeeds "$kind"
  check "the $kind example shows why the configuration could not be had" in_sandbox fails "$kind"
done
e2e_finish
