#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# A signed build of the driver end to end: the configuration and its detached signature served over
# HTTPS on loopback, checked by the real gpgv against keys made for the run. Every refusal must
# leave the copy kept from an earlier run, and its signature, exactly as they were.
# Needs KIV_SIGNED_DRIVER, the driver of a build with a keyring, and KIV_CONFIG_KEYRING, its path.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
export KIV_DRIVER=$KIV_SIGNED_DRIVER
if ! command -v gpg > /dev/null || ! command -v gpgv > /dev/null; then
  echo "SKIP: keys are made with gpg and checked with gpgv (packages gnupg and gpgv)"
  exit 77
fi

# Keys and signed files, made once for all cases into $KIV_KEYS: "publisher", "expired" and
# "revoked" are in the keyring (the last with its revocation), "stranger" is not.
make_keys ()
{
  exec 2> >(grep -v 'running with faked system time' >&2)
  # Made ten days ago, so that a file can be signed in the past; one key expired after a day.
  local day=86400 past
  past=$(($(date +%s) - 10 * day))
  make_test_key publisher never --faked-system-time "$past!"
  make_test_key stranger never --faked-system-time "$past!"
  make_test_key revoked never --faked-system-time "$past!"
  make_test_key expired 1d --faked-system-time "$past!"
  cd "$KIV_KEYS" || return
  printf '[Debian bookworm]\ni older-package\n' > old.cfg
  printf '[Debian bookworm]\ni newer-package\n' > new.cfg
  sign_as publisher old.cfg old.sig --faked-system-time "$((past + 9 * day))!"
  sign_as publisher new.cfg new.sig
  sign_as publisher new.cfg new.asc --armor
  sign_as publisher new.cfg sha1.sig --digest-algo SHA1
  sign_as stranger new.cfg stranger.sig
  sign_as expired new.cfg expired.sig --faked-system-time "$((past + 60))!"
  sign_as revoked new.cfg revoked.sig
  local revoked_key
  revoked_key=$(test_gpg --with-colons --list-keys revoked@example.org | awk -F: '/^fpr/ { print $10; exit }')
  sed 's/^:-----/-----/' "$SANDBOX/gnupg/openpgp-revocs.d/$revoked_key.rev" | test_gpg --import
  test_gpg --export publisher@example.org expired@example.org revoked@example.org > keyring.gpg
  test_gpg --armor --export publisher@example.org expired@example.org revoked@example.org > keyring.asc
  { cat new.cfg; echo 'i slipped-in-after-signing'; } > changed.cfg
  # More than a pipe holds, which gpgv leaves unread when the signature file holds none.
  { cat new.cfg; head -c 1000000 /dev/zero | tr '\0' '#'; } > large.cfg
  echo 'not a signature' > junk.sig
}

# signed_run CFG SIGNATURE KEPT [KEYRING]: the signed driver against CFG and its SIGNATURE (none:
# the server has no signature), with the files named KEPT (none: no files) as ~/.kiv-config and
# its signature from an earlier run, and gpgv in the driver's search path unless with_gpgv=no.
# The server reads what it serves from $SANDBOX/served.cfg and .sig for every request.
signed_run ()
{
  local cfg=$1 sig=$2 kept=$3 keyring=${4:-keyring.gpg}
  debian_bookworm
  trust_test_ca
  install_keyring "$KIV_KEYS/$keyring"
  [ "${with_gpgv:-yes}" = no ] || ln -s "$(command -v gpgv)" "$SANDBOX/bin/gpgv"
  if [ "$kept" != none ]; then
    cp "$KIV_KEYS/$kept.cfg" "$HOME/.kiv-config"
    cp "$KIV_KEYS/$kept.sig" "$HOME/.kiv-config.sig"
  fi
  cp "$KIV_KEYS/$cfg" "$SANDBOX/served.cfg"
  if [ "$sig" = none ]; then
    serve_config "$SANDBOX/served.cfg"
  else
    cp "$KIV_KEYS/$sig" "$SANDBOX/served.sig"
    serve_config "$SANDBOX/served.cfg" normal server --signature "$SANDBOX/served.sig"
  fi
  run_driver > "$SANDBOX/stdout" 2> "$SANDBOX/stderr"
}

# home_holds CFG SIGNATURE: the copy and its signature are these files, and no staging file is
# left beside them.
home_holds ()
{
  cmp "$KIV_KEYS/$1" "$HOME/.kiv-config" && cmp "$KIV_KEYS/$2" "$HOME/.kiv-config.sig" \
    && [ "$(names_in "$HOME" | grep kiv | tr '\n' ' ')" = ".kiv-config .kiv-config.sig " ]
}

# accepted CFG SIGNATURE KEPT [KEYRING]: status 0, the file's section dumped, and the file and its
# signature kept in place of the older ones.
accepted ()
{
  signed_run "$@" || { cat "$SANDBOX/stderr" >&2; return 1; }
  grep -qx '  install: \[newer-package\]' "$SANDBOX/stderr" && home_holds "$1" "$2"
}

# was_refused STATUS REASON KEPT: the run ended with STATUS 1 and the usual last line, gave REASON
# in its warning, and left the pair named KEPT untouched.
was_refused ()
{
  local status=$1 reason=$2 kept=$3
  if ! { [ "$status" -eq 1 ] && [ "$(tail -n 1 "$SANDBOX/stdout")" = "Config not found at $KIV_CONFIG_URL" ] \
    && grep -F "Failed to verify config file '$KIV_CONFIG_URL': " "$SANDBOX/stderr" | grep -qF "$reason" \
    && home_holds "$kept.cfg" "$kept.sig"; }; then
    echo "status $status" >&2
    cat "$SANDBOX/stdout" "$SANDBOX/stderr" >&2
    return 1
  fi
}

# refused CFG SIGNATURE REASON [KEPT]: signed_run with the pair KEPT (old.cfg and old.sig unless
# named), refused for REASON.
refused ()
{
  local status=0
  signed_run "$1" "$2" "${4:-old}" || status=$?
  was_refused "$status" "$3" "${4:-old}"
}

binary_signature () { accepted new.cfg new.sig old; }
armoured_signature () { accepted new.cfg new.asc none keyring.asc; }
changed_file () { refused changed.cfg new.sig 'bad signature by key'; }
unknown_key () { refused new.cfg stranger.sig ', which is not in the keyring'; }
expired_key () { refused new.cfg expired.sig ', which has expired'; }
revoked_key () { refused new.cfg revoked.sig ', which has been revoked'; }
not_a_signature () { refused large.cfg junk.sig 'no OpenPGP signature in the signature file'; }
sha1 () { refused new.cfg sha1.sig 'the signature uses the weak digest SHA-1'; }
no_signature () { refused new.cfg none "cannot download its signature $KIV_CONFIG_URL.sig: Not Found"; }
rollback () { refused old.cfg old.sig ', before the copy already kept, signed' new; }
no_gpgv () { with_gpgv=no refused new.cfg new.sig 'cannot run gpgv: '; }
same_again () { accepted new.cfg new.sig new; }

# A file taken by one run bounds the next, which is offered the older file, then the same again.
next_run ()
{
  local status=0
  accepted new.cfg new.sig none || return 1
  cp "$KIV_KEYS/old.cfg" "$SANDBOX/served.cfg"
  cp "$KIV_KEYS/old.sig" "$SANDBOX/served.sig"
  run_driver > "$SANDBOX/stdout" 2> "$SANDBOX/stderr" || status=$?
  was_refused "$status" ', before the copy already kept, signed' new || return 1
  cp "$KIV_KEYS/new.cfg" "$SANDBOX/served.cfg"
  cp "$KIV_KEYS/new.sig" "$SANDBOX/served.sig"
  run_driver > "$SANDBOX/stdout" 2> "$SANDBOX/stderr"
}

[ "${1:-}" = --definitions-only ] && return 0

export KIV_KEYS=$e2e_scratch/keys
mkdir "$KIV_KEYS"
check "keys and signatures made for the run" in_sandbox make_keys
check "a good signature replaces the older copy and its signature" in_sandbox binary_signature
check "an armoured signature, with an armoured keyring" in_sandbox armoured_signature
check "the same signed file again is taken" in_sandbox same_again
check "a file changed after signing is refused" in_sandbox changed_file
check "a signature by a key not in the keyring is refused" in_sandbox unknown_key
check "a signature by an expired key is refused" in_sandbox expired_key
check "a signature by a revoked key is refused" in_sandbox revoked_key
check "a SHA-1 signature is refused" in_sandbox sha1
check "a file that is not a signature is refused" in_sandbox not_a_signature
check "no signature on the server is refused" in_sandbox no_signature
check "an older signed file than the kept one is refused" in_sandbox rollback
check "a file taken bounds the next run" in_sandbox next_run
check "without gpgv nothing is taken" in_sandbox no_gpgv
e2e_finish
