#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# A signed build of the driver end to end: the configuration and its detached signature served over
# HTTPS on loopback, checked by the real gpgv against keys made for the run. Every refusal must
# leave the copy kept from an earlier run, and its signature, exactly as they were.
# Needs KIV_SIGNED_DRIVER, the driver of a build with a keyring, and KIV_CONFIG_KEYRING, its path.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
export KIV_DRIVER=$KIV_SIGNED_DRIVER
# A run that hangs (on a FIFO, say) is ended, and fails its case.
export KIV_DRIVER_TIMEOUT=30
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
  local day=86400 past now
  now=$(date +%s)
  past=$((now - 10 * day))
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
  # Text mode vouches for the text with its line ends made canonical, not for the bytes: the same
  # signature fits the file with CRLF line ends.
  sign_as publisher new.cfg text.sig --textmode
  sed 's/$/\r/' new.cfg > crlf.cfg
  sign_as publisher new.cfg future.sig --faked-system-time "$((now + 3652 * day))!"
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
  { cat new.sig; head -c 65536 /dev/zero; } > big.sig
  # The publisher's keys sign again in a later namespace, from a copy of this home.
  cp -R "$SANDBOX/gnupg" gnupg
  rm -f gnupg/S.*
}

# signed_serve CFG SIGNATURE KEPT [KEYRING]: the server started on CFG and its SIGNATURE (none: the
# server has no signature), with the files named KEPT (none: no files) as ~/.kiv-config and its
# signature from an earlier run, and gpgv in the driver's search path unless with_gpgv=no. The
# server reads what it serves from $SANDBOX/served.cfg and .sig for every request; serve names
# its mode and options ("normal" unless set). The function before_run names, when set, then
# changes the home or the keyring.
signed_serve ()
{
  local cfg=$1 sig=$2 kept=$3 keyring=${4:-keyring.gpg} serving signature=()
  read -ra serving <<< "${serve:-normal}"
  debian_bookworm
  trust_test_ca
  install_keyring "$KIV_KEYS/$keyring"
  [ "${with_gpgv:-yes}" = no ] || ln -s "$(command -v gpgv)" "$SANDBOX/bin/gpgv"
  if [ "$kept" != none ]; then
    cp "$KIV_KEYS/$kept.cfg" "$HOME/.kiv-config"
    cp "$KIV_KEYS/$kept.sig" "$HOME/.kiv-config.sig"
  fi
  cp "$KIV_KEYS/$cfg" "$SANDBOX/served.cfg"
  if [ "$sig" != none ]; then
    cp "$KIV_KEYS/$sig" "$SANDBOX/served.sig"
    signature=(--signature "$SANDBOX/served.sig")
  fi
  serve_config "$SANDBOX/served.cfg" "${serving[0]}" server "${signature[@]}" "${serving[@]:1}"
  [ -z "${before_run:-}" ] || "$before_run"
}

# signed_run CFG SIGNATURE KEPT [KEYRING]: signed_serve, then the signed driver.
signed_run ()
{
  signed_serve "$@"
  run_driver > "$SANDBOX/stdout" 2> "$SANDBOX/stderr"
}

# again CFG SIGNATURE: the driver once more, the server now serving CFG and SIGNATURE.
again ()
{
  cp "$KIV_KEYS/$1" "$SANDBOX/served.cfg"
  cp "$KIV_KEYS/$2" "$SANDBOX/served.sig"
  run_driver > "$SANDBOX/stdout" 2> "$SANDBOX/stderr"
}

# kiv_files: the names of the files of runs in the home, sorted, each followed by a space.
kiv_files ()
{
  find "$HOME" -mindepth 1 -maxdepth 1 -name '*kiv*' -printf '%f\n' | sort | tr '\n' ' '
}

# only_the_pair: beside the copy and its signature, nothing of a run is left in the home: no
# staging file, no lock, no signature kept aside.
only_the_pair () { [ "$(kiv_files)" = ".kiv-config .kiv-config.sig " ]; }

# home_holds CFG SIGNATURE: the copy and its signature are these files, and nothing else of a run
# is left beside them.
home_holds ()
{
  cmp -s "$KIV_KEYS/$1" "$HOME/.kiv-config" && cmp -s "$KIV_KEYS/$2" "$HOME/.kiv-config.sig" \
    && only_the_pair
}

# show_run STATUS: what a run that failed its case did, on standard error; fails.
show_run ()
{
  echo "status $1" >&2
  cat "$SANDBOX/stdout" "$SANDBOX/stderr" >&2
  ls -lA "$HOME" >&2
  return 1
}

# was_accepted STATUS CFG SIGNATURE: the run ended with STATUS 0, dumped the file's section, and
# kept the file and its signature in place of the older ones.
was_accepted ()
{
  if [ "$1" -eq 0 ] && grep -qx '  install: \[newer-package\]' "$SANDBOX/stderr" \
    && home_holds "$2" "$3"; then
    return 0
  fi
  show_run "$1"
}

# accepted CFG SIGNATURE KEPT [KEYRING]: signed_run, and was_accepted.
accepted ()
{
  local status=0
  signed_run "$@" || status=$?
  was_accepted "$status" "$1" "$2"
}

# gave_up STATUS REASON: the run ended with STATUS 1 and the usual last line, and gave REASON in its
# warning. An empty REASON: the warning of a failed download, which gives none (the file itself
# could not be had, or not be put in place).
gave_up ()
{
  local warning="Failed to verify config file '$KIV_CONFIG_URL': "
  [ -n "$2" ] || warning="Failed to download config file '$KIV_CONFIG_URL'"
  [ "$1" -eq 1 ] && [ "$(tail -n 1 "$SANDBOX/stdout")" = "Config not found at $KIV_CONFIG_URL" ] \
    && grep -F "$warning" "$SANDBOX/stderr" | grep -qF "$2"
}

# was_refused STATUS REASON KEPT: gave_up, and left the pair named KEPT untouched.
was_refused ()
{
  if gave_up "$1" "$2" && home_holds "$3.cfg" "$3.sig"; then
    return 0
  fi
  show_run "$1"
}

# refused CFG SIGNATURE REASON [KEPT]: signed_run with the pair KEPT (old.cfg and old.sig unless
# named), refused for REASON.
refused ()
{
  local status=0
  signed_run "$1" "$2" "${4:-old}" || status=$?
  was_refused "$status" "$3" "${4:-old}"
}

# With a temporary folder of its own, to see that a run leaves nothing there: gpgv has no home.
binary_signature ()
{
  mkdir "$SANDBOX/tmp"
  TMPDIR=$SANDBOX/tmp accepted new.cfg new.sig old && [ -z "$(ls -A "$SANDBOX/tmp")" ]
}
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
text_mode () { refused new.cfg text.sig ', made in text mode: '; }
text_mode_crlf () { refused crlf.cfg text.sig ', made in text mode: '; }
# The signed build keeps the default bound, 64 MiB; the signature's is 64 KiB.
too_big () { serve='big --big-mib 65' refused new.cfg new.sig ''; }
too_big_until_close () { serve='big-until-close --big-mib 65' refused new.cfg new.sig ''; }
signature_too_big () { refused new.cfg big.sig "cannot download its signature $KIV_CONFIG_URL.sig: "; }
fifo_keyring () { before_run=keyring_fifo refused new.cfg new.sig 'cannot read the keyring: '; }
fifo_config () { before_run=config_fifo accepted new.cfg new.sig old; }
mode_000_config ()
{
  before_run=config_mode_000 accepted new.cfg new.sig old \
    && [ "$(stat -c %a "$HOME/.kiv-config")" = 0 ]
}

keyring_fifo () { rm "$KIV_CONFIG_KEYRING" && mkfifo "$KIV_CONFIG_KEYRING"; }
config_mode_000 () { chmod 000 "$HOME/.kiv-config"; }
# The kept signature newer than the offered one, so the age check asks gpgv about the kept pair,
# whose file must not be opened as if it were one.
config_fifo ()
{
  rm "$HOME/.kiv-config"
  mkfifo "$HOME/.kiv-config"
  touch -d '+1 minute' "$HOME/.kiv-config.sig"
}
config_folder ()
{
  rm "$HOME/.kiv-config"
  mkdir "$HOME/.kiv-config"
}

# preload_shim VARIABLE=VALUE...: the runs of the driver from here on have tests/e2e/libc-shim.c
# preloaded, with these set (a sanitized driver lets it come first). Called as a before_run hook,
# it leaves the server and whatever made the case as they are.
preload_shim ()
{
  # shellcheck disable=SC2163 # the arguments are assignments, VARIABLE=VALUE
  export LD_PRELOAD=$KIV_LIBC_SHIM "$@" \
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
}
# A home on vfat, exFAT and many FUSE and SMB mounts, whose link() fails with EPERM.
without_links () { preload_shim KIV_SHIM_NO_LINKS=1; }
config_folder_without_links () { config_folder && without_links; }
# The clock the driver reads says September 2001: a dead battery, or a live system before the
# network set the time.
clock_in_2001 () { preload_shim KIV_SHIM_CLOCK=1000000000; }

config_in_the_way_without_links () { before_run=config_folder_without_links config_in_the_way; }

# The kept pair replaced on a home without hard links: every run after the first used to fail.
home_without_links () { before_run=without_links accepted new.cfg new.sig old; }

# A pair kept while the clock was behind bounds the runs after it once the clock is right: an
# older pair played back then is refused.
clock_once_behind ()
{
  local status=0
  before_run=clock_in_2001 accepted new.cfg new.sig none || return 1
  unset LD_PRELOAD KIV_SHIM_CLOCK
  again old.cfg old.sig || status=$?
  was_refused "$status" ', before the copy already kept, signed' new
}

# A folder in the file's way: the signature goes in place first, the file cannot follow, and the
# run must leave the signature as it was (its time is the next run's bound), and nothing beside.
config_in_the_way ()
{
  local status=0 before
  before_run=${before_run:-config_folder} signed_serve new.cfg new.sig old
  before=$(stat -c %Y "$HOME/.kiv-config.sig")
  run_driver > "$SANDBOX/stdout" 2> "$SANDBOX/stderr" || status=$?
  if gave_up "$status" '' && [ -d "$HOME/.kiv-config" ] \
    && cmp "$KIV_KEYS/old.sig" "$HOME/.kiv-config.sig" \
    && [ "$(stat -c %Y "$HOME/.kiv-config.sig")" = "$before" ] && only_the_pair; then
    return 0
  fi
  show_run "$status"
}

# serve_pair PAIR: the server serves the pair PAIR (old or new) from now on, both files at once:
# it reads them through the link "pair", which is renamed over.
serve_pair ()
{
  ln -sfn "$1" "$SANDBOX/pair.next"
  mv -T "$SANDBOX/pair.next" "$SANDBOX/pair"
}

# await_signatures COUNT: waits until the server has served COUNT signatures in all.
await_signatures ()
{
  for _ in $(seq 3000); do
    [ "$(grep -c 'GET /gfx/kiv-config.cfg.sig ' "$SANDBOX/server.log")" -lt "$1" ] || return 0
    sleep 0.01
  done
}

# Drivers at once, round after round, each round from the older pair kept (a copy, so that every
# run's age check asks gpgv about it): the server serves the older pair to the first half of
# them, then swaps to the newer for the rest. gpgv, slowed at random as on a
# busy machine, lets one run's checks overlap another's renames in any order. The newer runs take
# their pair; an older run takes its own or, once a newer is kept, is refused for its age; and the
# home ends every round with the newer pair, whole, and nothing else.
concurrent_runs ()
{
  local drivers=4 round n pids status served
  for n in old new; do
    mkdir "$SANDBOX/$n"
    cp "$KIV_KEYS/$n.cfg" "$SANDBOX/$n/cfg"
    cp "$KIV_KEYS/$n.sig" "$SANDBOX/$n/sig"
  done
  ln -s old "$SANDBOX/pair"
  with_gpgv=no signed_serve old.cfg old.sig none
  ln -sf pair/cfg "$SANDBOX/served.cfg"
  ln -sf pair/sig "$SANDBOX/served.sig"
  # shellcheck disable=SC2016 # the pause is drawn as gpgv starts
  printf '#!/bin/bash\n/bin/sleep "$((RANDOM %% 300))e-3"\nexec %s "$@"\n' "$(command -v gpgv)" \
    > "$SANDBOX/bin/gpgv"
  chmod +x "$SANDBOX/bin/gpgv"
  for round in $(seq 20); do
    cp "$KIV_KEYS/old.cfg" "$HOME/.kiv-config"
    cp "$KIV_KEYS/old.sig" "$HOME/.kiv-config.sig"
    serve_pair old
    served=$(grep -c 'GET /gfx/kiv-config.cfg.sig ' "$SANDBOX/server.log" || true)
    pids=()
    for n in $(seq "$drivers"); do
      if [ "$n" -eq $((drivers / 2 + 1)) ]; then
        await_signatures $((served + drivers / 2))
        serve_pair new
      fi
      run_driver > "$SANDBOX/stdout.$n" 2> "$SANDBOX/stderr.$n" &
      pids+=($!)
    done
    for n in $(seq "$drivers"); do
      status=0
      wait "${pids[n - 1]}" || status=$?
      mv "$SANDBOX/stdout.$n" "$SANDBOX/stdout"
      mv "$SANDBOX/stderr.$n" "$SANDBOX/stderr"
      if [ "$n" -gt $((drivers / 2)) ] && [ "$status" -eq 0 ] \
        && grep -qx '  install: \[newer-package\]' "$SANDBOX/stderr"; then
        continue
      elif [ "$n" -le $((drivers / 2)) ] \
        && { { [ "$status" -eq 0 ] && grep -qx '  install: \[older-package\]' "$SANDBOX/stderr"; } \
          || gave_up "$status" ', before the copy already kept, signed'; }; then
        continue
      fi
      echo "round $round, driver $n of $drivers:" >&2
      show_run "$status" || return 1
    done
    if ! home_holds new.cfg new.sig; then
      echo "after round $round, the home holds:" >&2
      ls -lA --full-time "$HOME" >&2
      return 1
    fi
  done
}

# A signature dated ten years ahead is taken, but bounds the next run by when it was kept, not by
# its date: a release signed afterwards with the right time is taken too.
future_signature ()
{
  local status=0
  accepted new.cfg future.sig old || return 1
  if [ "$(stat -c %Y "$HOME/.kiv-config.sig")" -le "$(date +%s)" ]; then
    echo "the signature is not kept with its own time, ahead of the clock" >&2
    ls -l --full-time "$HOME" >&2
    return 1
  fi
  use_test_keys "$KIV_KEYS/gnupg"
  sign_as publisher "$KIV_KEYS/new.cfg" "$KIV_KEYS/now.sig"
  again new.cfg now.sig || status=$?
  was_accepted "$status" new.cfg now.sig
}

# A file taken by one run bounds the next, which is offered the older file, then the same again.
next_run ()
{
  local status=0
  accepted new.cfg new.sig none || return 1
  again old.cfg old.sig || status=$?
  was_refused "$status" ', before the copy already kept, signed' new || return 1
  again new.cfg new.sig
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
check "a text-mode signature is refused" in_sandbox text_mode
check "the file with CRLF line ends under a text-mode signature is refused" in_sandbox text_mode_crlf
check "a signature dated in the future does not hold back the next release" in_sandbox future_signature
check "a file over the bound, with its length, is refused" in_sandbox too_big
check "a file over the bound, ended by the connection, is refused" in_sandbox too_big_until_close
check "a signature over 64 KiB is refused" in_sandbox signature_too_big
check "a FIFO as the keyring is refused at once" in_sandbox fifo_keyring
check "a FIFO as the kept file does not stop the run" in_sandbox fifo_config
check "a kept file of mode 000 is replaced, keeping its mode" in_sandbox mode_000_config
check "a run that cannot put the file in place leaves the signature as it was" in_sandbox config_in_the_way
check "a home without hard links keeps the pair run after run" in_sandbox home_without_links
check "... and a run that cannot put the file there leaves the signature as it was" \
  in_sandbox config_in_the_way_without_links
check "a pair kept while the clock read 2001 refuses an older one once the clock is right" \
  in_sandbox clock_once_behind
check "drivers at once, as the pair served changes, keep a whole pair, never an older one" \
  in_sandbox concurrent_runs
e2e_finish
