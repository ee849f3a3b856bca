#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# The calls an installer with a main loop makes (tests/e2e/async-caller.c), end to end: the
# asynchronous retrieval with its progress on the loop, two of them sharing one download, the
# quiet blocking call, a cancellation while lsb_release or gpgv runs, and each reason a signed
# build refuses a file, as the code get_configuration_finish gives.
# Needs KIV_ASYNC (the program), and for the signed cases KIV_SIGNED_LIBDIR (the folder of the
# signed build's libkiv.so, which the program loads in place of the default one) with what
# signature-test.sh needs.
source "$(dirname "${BASH_SOURCE[0]}")/signature-test.sh" --definitions-only

section="[Debian bookworm]${NL}i async-package${NL}"

serve_section ()
{
  printf '%s' "$section" > "$SANDBOX/cfg"
  debian_bookworm
  trust_test_ca
  serve_config "$SANDBOX/cfg" "$@"
}

run_async () { PATH="$SANDBOX/bin" "$KIV_ASYNC" "$@"; }

# The progress comes on the loop's thread, in the blocking call's order.
retrieved ()
{
  serve_section
  run_async async > "$SANDBOX/out" || return 1
  diff -u - "$SANDBOX/out" <<EOF
progress: fetching $KIV_CONFIG_URL
progress: saving to $HOME/.kiv-config
progress: fetched ${#section} bytes
progress: looking up [Debian bookworm] configuration
install: async-package
EOF
}

# Two calls at once: one download, one record.
twice ()
{
  serve_section
  run_async twice > "$SANDBOX/out" || return 1
  grep -qx 'install: async-package' "$SANDBOX/out" && grep -qx 'the same record' "$SANDBOX/out" \
    && [ "$(grep -c "GET /${KIV_CONFIG_URL#https://*/} " "$SANDBOX/server.log")" -eq 1 ]
}

# A Retry button: the call that waited is cancelled and ends at once, the other gets the record,
# and the same cancellable, reset and cancelled again, reaches nothing of the ended call.
retry ()
{
  serve_section
  run_async retry > "$SANDBOX/out" || return 1
  diff -u - "$SANDBOX/out" <<EOF
error g-io-error-quark cancelled: Operation was cancelled
progress: fetching $KIV_CONFIG_URL
progress: saving to $HOME/.kiv-config
progress: fetched ${#section} bytes
progress: looking up [Debian bookworm] configuration
install: async-package
retried
EOF
}

# What is not theirs, the calls refuse with a critical warning, as GLib's own calls do.
foreign ()
{
  run_async foreign > "$SANDBOX/out" 2> "$SANDBOX/err" || true
  printf "another call's result refused\nno cancellable refused\n" | diff -u - "$SANDBOX/out" \
    && [ "$(grep -c CRITICAL "$SANDBOX/err")" -eq 2 ]
}

# get_configuration_full says why in its error and nothing on standard error: no dump, no
# warning, not even the release command's own words there.
run_full ()
{
  serve_section "$1"
  printf '#!/bin/sh\necho "No LSB modules are available." >&2\nexec /bin/cat "%s"\n' \
    "$SANDBOX/output" > "$SANDBOX/bin/lsb_release"
  local status=0
  run_async full > "$SANDBOX/out" 2> "$SANDBOX/stderr" || status=$?
  [ ! -s "$SANDBOX/stderr" ] || { echo "standard error:" && cat "$SANDBOX/stderr" && return 2; } >&2
  return "$status"
}
full_is_quiet () { run_full normal && grep -qx 'install: async-package' "$SANDBOX/out"; }
full_fails_quietly ()
{
  local status=0
  run_full not-found || status=$?
  # The error names what could not be had before the reason, for an installer that shows it alone.
  [ "$status" -eq 1 ] && grep -qxF "error HTTP 404: $KIV_CONFIG_URL: Not Found" "$SANDBOX/out"
}

# cancelled_while HELPER: the named helper program sleeps (in a child of its own, which must die
# with it); a cancellation once it has started must end the retrieval at once, leave the older
# files and no process behind. "At once" is within a second: far from the helper's 30 s, and
# beyond any pause a loaded machine gives a sanitized build.
cancelled_while ()
{
  printf '#!/bin/sh\n: > "%s"\n/bin/sleep 30\n' "$SANDBOX/started" > "$SANDBOX/bin/$1"
  chmod +x "$SANDBOX/bin/$1"
  printf 'older copy' > "$HOME/.kiv-config"
  printf 'older signature' > "$HOME/.kiv-config.sig"
  local status=0
  run_async async "$SANDBOX/started" > "$SANDBOX/out" || status=$?
  sleep 0.1
  if ! { [ "$status" -eq 1 ] && cancelled_within 1000 "$SANDBOX/out" \
    && [ "$(cat "$HOME/.kiv-config")" = 'older copy' ] \
    && [ "$(cat "$HOME/.kiv-config.sig")" = 'older signature' ] \
    && [ "$(names_in "$HOME" | grep kiv | tr '\n' ' ')" = '.kiv-config .kiv-config.sig ' ] \
    && ! pgrep -x sleep > /dev/null; }; then
    cat "$SANDBOX/out" >&2
    names_in "$HOME" >&2
    pgrep -a sleep >&2
    return 1
  fi
}
cancelled_while_lsb_release () { serve_section; cancelled_while lsb_release; }
cancelled_while_gpgv ()
{
  serve_section normal server --signature "$SANDBOX/cfg"
  install_keyring "$SANDBOX/cfg"
  export LD_LIBRARY_PATH=$KIV_SIGNED_LIBDIR
  cancelled_while gpgv
}

# The keys and signatures of signature-test.sh, and a signature that has expired itself.
make_all_keys ()
{
  make_keys
  local day=86400
  sign_as publisher new.cfg expsig.sig --faked-system-time "$(($(date +%s) - 9 * day))!" \
    --default-sig-expire 1d
}

# refused_with NICK CFG SIGNATURE [KEPT [CALLER]]: the signed build refuses CFG and its SIGNATURE
# (as signature-test.sh serves them) with the code whose nick is NICK, the kept pair untouched.
# CALLER is the script in $KIV_SCRATCH that runs the program.
refused_with ()
{
  local nick=$1 status=0
  KIV_DRIVER=$KIV_SCRATCH/${5:-async-signed} signed_run "$2" "$3" "${4:-old}" || status=$?
  if ! { [ "$status" -eq 1 ] && grep -q "^error kiv-config-error-quark $nick: " "$SANDBOX/stdout" \
    && home_holds "${4:-old}.cfg" "${4:-old}.sig"; }; then
    cat "$SANDBOX/stdout" "$SANDBOX/stderr" >&2
    return 1
  fi
}
without_gpgv () { with_gpgv=no refused_with verifier-failed new.cfg new.sig; }
without_keyring () { refused_with keyring-unreadable new.cfg new.sig old async-signed-no-keyring; }

[ "${1:-}" = --definitions-only ] && return 0

check "the asynchronous retrieval reports on the loop's thread, in order" in_sandbox retrieved
check "two retrievals at once share one download and one record" in_sandbox twice
check "a Retry with the cancellable of a call that waited reaches nothing freed" in_sandbox retry
check "the finish function and the call refuse what is not theirs" in_sandbox foreign
check "get_configuration_full writes nothing on standard error" in_sandbox full_is_quiet
check "get_configuration_full fails with an error and writes nothing" in_sandbox full_fails_quietly
check "a cancellation while lsb_release runs ends it at once" in_sandbox cancelled_while_lsb_release

if [ -z "${KIV_SIGNED_LIBDIR:-}" ] || ! command -v gpgv > /dev/null; then
  echo "SKIP: the signed build's cases (no KIV_SIGNED_LIBDIR, or no gpgv)"
  e2e_finish
  exit
fi
check "a cancellation while gpgv runs ends it at once" in_sandbox cancelled_while_gpgv
export KIV_KEYS=$e2e_scratch/keys KIV_SCRATCH=$e2e_scratch
mkdir "$KIV_KEYS"
printf '#!/bin/sh\nLD_LIBRARY_PATH=%s exec %s async\n' "$KIV_SIGNED_LIBDIR" "$KIV_ASYNC" \
  > "$e2e_scratch/async-signed"
chmod +x "$e2e_scratch/async-signed"
# The program on the signed build's library; and again once the keyring the build names is gone.
# shellcheck disable=SC2016 # the keyring's path is for the script to expand, when it runs
printf '#!/bin/sh\n/bin/rm -f "$KIV_CONFIG_KEYRING"\nLD_LIBRARY_PATH=%s exec %s async\n' \
  "$KIV_SIGNED_LIBDIR" "$KIV_ASYNC" > "$e2e_scratch/async-signed-no-keyring"
chmod +x "$e2e_scratch/async-signed-no-keyring"
check "keys and signatures made for the run" in_sandbox make_all_keys
while read -r nick cfg sig kept; do
  check "get_configuration_finish gives $nick for $cfg signed $sig" \
    in_sandbox refused_with "$nick" "$cfg" "$sig" "${kept:-old}"
done <<'CASES'
bad-signature changed.cfg new.sig
bad-signature large.cfg junk.sig
unknown-key new.cfg stranger.sig
expired-key new.cfg expired.sig
revoked-key new.cfg revoked.sig
expired-signature new.cfg expsig.sig
weak-digest new.cfg sha1.sig
no-signature new.cfg none
older old.cfg old.sig new
CASES
check "get_configuration_finish gives verifier-failed without gpgv" in_sandbox without_gpgv
check "get_configuration_finish gives keyring-unreadable without the keyring" \
  in_sandbox without_keyring
e2e_finish
