#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# The retrieval calls under every interleaving an installer can make (tests/e2e/stress-caller.cpp):
# rounds of threads that mix get_configuration, get_configuration_full and get_configuration_async,
# cancel at random moments and retry with the same cancellable, against a server that trickles the
# file; then the same with the signed build's library and a gpgv that takes its time. Each round
# checks that every call was answered once, that the files were never anything but the old pair
# or the new one, and that every success holds the kept record.
# Needs KIV_STRESS (the program), and for the signed rounds KIV_SIGNED_LIBDIR (the folder of the
# signed build's libkiv.so) and KIV_CONFIG_KEYRING. KIV_STRESS_ROUNDS and KIV_STRESS_SEED replay a
# run; with KIV_STRESS_VALGRIND set, a few rounds run under valgrind's memcheck instead.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# stress [pair]: the rounds, against the plain library or, with pair, the signed one.
stress ()
{
  local pair=${1:-} runner=()
  debian_bookworm
  trust_test_ca
  mkdir "$SANDBOX/old" "$SANDBOX/new"
  printf '[Debian bookworm]\ni older-package\n' > "$SANDBOX/old/cfg"
  # Several pieces of the trickle: the section, then lines no machine selects.
  { printf '[Debian bookworm]\ni newer-package\n\n'; seq -f '# line %g' 100; } > "$SANDBOX/new/cfg"
  local serving=("$SANDBOX/new/cfg" trickle server --trickle-bytes 128 --trickle-ms 2)
  if [ -n "$pair" ]; then
    make_test_key publisher 2> /dev/null
    test_gpg --export publisher@example.org > "$SANDBOX/keyring.gpg"
    install_keyring "$SANDBOX/keyring.gpg"
    sign_as publisher "$SANDBOX/old/cfg" "$SANDBOX/old/sig"
    touch -d '1 day ago' "$SANDBOX/old/sig"
    sign_as publisher "$SANDBOX/new/cfg" "$SANDBOX/new/sig"
    printf '#!/bin/sh\n/bin/sleep 0.02\nexec %s "$@"\n' "$(command -v gpgv)" > "$SANDBOX/bin/gpgv"
    chmod +x "$SANDBOX/bin/gpgv"
    serving+=(--signature "$SANDBOX/new/sig")
    export LD_LIBRARY_PATH=$KIV_SIGNED_LIBDIR
  fi
  serve_config "${serving[@]}"
  if [ -n "${KIV_STRESS_VALGRIND:-}" ]; then
    # Each round's process is a fork, which memcheck follows; any error ends it with 99.
    local kinds=definite,indirect
    runner=("$(command -v valgrind)" --tool=memcheck --suppressions="$KIV_E2E_DIR/memcheck.supp"
      --run-libc-freeres=no --leak-check=full --errors-for-leak-kinds="$kinds"
      --error-exitcode=99 --num-callers=40 --log-file="$SANDBOX/memcheck.%p.log")
  fi
  local status=0
  PATH="$SANDBOX/bin" TMPDIR=$SANDBOX "${runner[@]}" "$KIV_STRESS" "$KIV_STRESS_ROUNDS" \
    "$KIV_STRESS_SEED" "$SANDBOX/old" "$SANDBOX/new" "$pair" || status=$?
  if [ "$status" -ne 0 ] && [ -n "${KIV_STRESS_VALGRIND:-}" ]; then
    grep -L 'ERROR SUMMARY: 0 errors' "$SANDBOX"/memcheck.*.log | xargs -r cat
  fi
  return "$status"
}

[ "${1:-}" = --definitions-only ] && return 0

KIV_E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rounds=100
[ -z "${KIV_STRESS_VALGRIND:-}" ] || rounds=3
export KIV_E2E_DIR KIV_STRESS_ROUNDS=${KIV_STRESS_ROUNDS:-$rounds}
export KIV_STRESS_SEED=${KIV_STRESS_SEED:-$(date +%s)}
echo "seed $KIV_STRESS_SEED, $KIV_STRESS_ROUNDS rounds each"
check "every call keeps its promises, round after round" in_sandbox stress
if [ -z "${KIV_SIGNED_LIBDIR:-}" ] || ! command -v gpgv > /dev/null || ! command -v gpg > /dev/null; then
  echo "SKIP: the signed build's rounds (no KIV_SIGNED_LIBDIR, or no gpg and gpgv)"
else
  check "every call keeps its promises with a signed pair and a slow gpgv" in_sandbox stress pair
fi
e2e_finish
