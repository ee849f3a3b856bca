#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# A build that trusts only the authorities of its own file (KIV_CONFIG_CA_FILE), end to end: its
# driver and get_configuration_async on its library, against the bundled server on loopback
# certified by an authority the system trusts, or by the one the build's file holds.
# Needs KIV_PINNED_DRIVER and KIV_PINNED_LIBDIR (that build's driver and library folder),
# KIV_CONFIG_CA_FILE (the file it names), and KIV_ASYNC (tests/e2e/async-caller.c).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
export KIV_DRIVER=$KIV_PINNED_DRIVER

# pinned_run PINNED SYSTEM: this machine's section served with a certificate by an authority made
# for the run, which the system's store holds when SYSTEM is yes; the build's file holds that
# authority (PINNED "run"), another one made for the run ("other"), or is missing ("none"). Then
# the driver, with its output and status in $SANDBOX/driver, and the asynchronous call in
# $SANDBOX/async.
pinned_run ()
{
  local status=0
  debian_bookworm
  printf '[Debian bookworm]\ni pinned-package\n' > "$SANDBOX/served.cfg"
  "$KIV_MAKE_CA" "$SANDBOX/ca" "$KIV_CONFIG_HOST" > /dev/null
  "$KIV_MAKE_CA" "$SANDBOX/other" "$KIV_CONFIG_HOST" > /dev/null
  printf '127.0.0.1 %s\n' "$KIV_CONFIG_HOST" >> /etc/hosts
  [ "$2" = no ] || cat "$SANDBOX/ca/ca.pem" >> /etc/ssl/certs/ca-certificates.crt
  [ "$1" = none ] || cp "$SANDBOX/$([ "$1" = run ] && echo ca || echo other)/ca.pem" "$KIV_CONFIG_CA_FILE"
  serve_config "$SANDBOX/served.cfg"
  run_driver > "$SANDBOX/driver" 2>&1 || status=$?
  echo "status $status" >> "$SANDBOX/driver"
  rm -f "$HOME/.kiv-config"
  LD_LIBRARY_PATH=$KIV_PINNED_LIBDIR "$KIV_ASYNC" async > "$SANDBOX/async" 2>&1 || true
}

show_runs () { cat "$SANDBOX/driver" "$SANDBOX/async" >&2; return 1; }

# taken PINNED SYSTEM: both calls had the section.
taken ()
{
  pinned_run "$@"
  if ! { grep -qx 'status 0' "$SANDBOX/driver" \
    && grep -qx '  install: \[pinned-package\]' "$SANDBOX/driver" \
    && grep -qx 'install: pinned-package' "$SANDBOX/async"; }; then
    show_runs
  fi
}

# refused PINNED SYSTEM MESSAGE: neither call had it, and the error is TLS's (6), with MESSAGE.
refused ()
{
  pinned_run "$1" "$2"
  if ! { grep -qx 'status 1' "$SANDBOX/driver" \
    && grep -qF "error HTTP tls-failed: $KIV_CONFIG_URL: $3" "$SANDBOX/async" && [ ! -e "$HOME/.kiv-config" ]; }; then
    show_runs
  fi
}

# The build's authorities are a pipe that the library opens and that never says a word: nothing
# can interrupt that read. A cancelled asynchronous call still ends at once (within the half
# second a stuck step is given, and a loaded machine's pauses), and a Retry, made once the
# authorities are a file again, gets the configuration without waiting for the stuck work.
stuck_then_retried ()
{
  debian_bookworm
  printf '[Debian bookworm]\ni pinned-package\n' > "$SANDBOX/served.cfg"
  "$KIV_MAKE_CA" "$SANDBOX/ca" "$KIV_CONFIG_HOST" > /dev/null
  printf '127.0.0.1 %s\n' "$KIV_CONFIG_HOST" >> /etc/hosts
  serve_config "$SANDBOX/served.cfg"
  rm -f "$KIV_CONFIG_CA_FILE"
  mkfifo "$KIV_CONFIG_CA_FILE"
  # Its writer's open returns once the library has opened the pipe for reading.
  {
    exec 3> "$KIV_CONFIG_CA_FILE"
    rm "$KIV_CONFIG_CA_FILE"
    cp "$SANDBOX/ca/ca.pem" "$KIV_CONFIG_CA_FILE"
    : > "$SANDBOX/opened"
    exec sleep 30
  } &
  LD_LIBRARY_PATH=$KIV_PINNED_LIBDIR timeout -k 5 30 "$KIV_ASYNC" again "$SANDBOX/opened" \
    > "$SANDBOX/async" 2>&1 || true
  if ! { cancelled_within 2000 "$SANDBOX/async" \
    && grep -qx 'install: pinned-package' "$SANDBOX/async"; }; then
    cat "$SANDBOX/async" >&2
    return 1
  fi
}

[ "${1:-}" = --definitions-only ] && return 0

check "a server certified only by an authority of the system's is refused" \
  in_sandbox refused other yes ''
check "a server certified by the build's own authority is taken, though the system lacks it" \
  in_sandbox taken run no
check "the build's authorities missing, no server is trusted, not even by the system's" \
  in_sandbox refused none yes "Cannot read the trusted authorities $KIV_CONFIG_CA_FILE: "
check "a cancellation ends the call while the authorities cannot be read, and a Retry starts anew" \
  in_sandbox stuck_then_retried
e2e_finish
