# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# shellcheck shell=bash
# Helpers for end-to-end tests of the real kiv-config-check and kiv-config-lint. Each case runs in
# a private mount and network namespace with its own copy of /etc mounted over /etc, so it can add
# or remove release files, host names and trusted authorities without touching the machine. Only
# loopback exists inside.
#
# Needs: KIV_DRIVER (the driver binary), KIV_CONFIG_HOST and KIV_CONFIG_URL (what it was built
# with). Tests that serve a configuration also need KIV_SERVER and KIV_MAKE_CA; those of the
# lint need KIV_LINT.

set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/sandbox.sh"

# shellcheck disable=SC2034 # for the test scripts that source this file
NL=$'\n'
e2e_passed=0
e2e_failed=0
if [ -z "${SANDBOX:-}" ]; then
  # 77 tells CTest the test was skipped, not failed.
  if ! why=$(sandbox_usable); then
    echo "SKIP: $why"
    exit 77
  fi
  e2e_scratch=$(mktemp -d "${TMPDIR:-/tmp}/kiv-e2e.XXXXXX")
  trap 'rm -rf "$e2e_scratch"' EXIT
fi

# in_sandbox FUNCTION [ARGUMENTS...]: runs FUNCTION (defined in the test script) with ARGUMENTS in
# a fresh namespace. Inside, $SANDBOX is a scratch folder and HOME is $SANDBOX/home.
in_sandbox ()
{
  local fn=$1 dir name
  dir=$(mktemp -d "$e2e_scratch/case.XXXXXX")
  local vars=()
  # Sanitizer options reach the driver too, so a sanitized build is checked the same way.
  for name in $(compgen -e | grep -E '^(KIV|ASAN|LSAN|UBSAN)_'); do
    vars+=("$name=${!name}")
  done
  # A private PID namespace too: whatever the case leaves running ends with it. Its own /proc
  # lets a process find itself by the PID it sees (LeakSanitizer lists its threads there).
  # shellcheck disable=SC2016 # the shell inside the namespaces expands these
  sandbox_unshare env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin SANDBOX="$dir" "${vars[@]}" \
    KIV_E2E_SCRIPT="$(realpath "$0")" \
    /bin/bash -c '
      set -euo pipefail
      source "$KIV_E2E_SCRIPT" --definitions-only
      sandbox_enter
      rm -f /etc/fedora-release
      "$0" "$@"
    ' "$fn" "${@:2}"
}

# run_driver: the driver, with $SANDBOX/bin as its whole search path. Where KIV_DRIVER_TIMEOUT
# is set, a run that takes longer is ended (status 124): a hang then fails its case, not the test.
run_driver ()
{
  local limit=()
  [ -z "${KIV_DRIVER_TIMEOUT:-}" ] || limit=("$(command -v timeout)" -k 5 "$KIV_DRIVER_TIMEOUT")
  PATH="$SANDBOX/bin" "${limit[@]}" "$KIV_DRIVER"
}

# fake_lsb_release: the release command prints what the standard input of this call holds.
fake_lsb_release ()
{
  cat > "$SANDBOX/output"
  # shellcheck disable=SC2016 # "$1" is the generated script's argument
  printf '#!/bin/sh\n[ "$1" = -a ] || exit 2\nexec /bin/cat "%s"\n' "$SANDBOX/output" > "$SANDBOX/bin/lsb_release"
  chmod +x "$SANDBOX/bin/lsb_release"
}

# expect_run NAME STATUS EXPECTED_STDOUT FUNCTION: runs FUNCTION in a sandbox and compares its
# exit status and standard output byte for byte.
expect_run ()
{
  local name=$1 want_status=$2 want_stdout=$3 fn=$4 status=0
  in_sandbox "$fn" > "$e2e_scratch/stdout" 2> "$e2e_scratch/stderr" || status=$?
  expect_result "$name" "$status" "$want_status" "$want_stdout"
}

# expect_result NAME STATUS EXPECTED_STATUS EXPECTED_STDOUT: records a pass when a run ended with
# the expected status and wrote exactly the expected bytes to $e2e_scratch/stdout; otherwise
# shows what differs and the run's $e2e_scratch/stderr.
expect_result ()
{
  local name=$1 status=$2 want_status=$3 want_stdout=$4
  if [ "$status" -eq "$want_status" ] && cmp -s "$e2e_scratch/stdout" <(printf '%s' "$want_stdout"); then
    echo "PASS: $name"
    e2e_passed=$((e2e_passed + 1))
  else
    echo "FAIL: $name (status $status, expected $want_status)"
    diff -u <(printf '%s' "$want_stdout") "$e2e_scratch/stdout" | sed 's/^/    /'
    sed 's/^/    stderr: /' "$e2e_scratch/stderr"
    e2e_failed=$((e2e_failed + 1))
  fi
}

# check NAME COMMAND...: records a pass when COMMAND succeeds.
check ()
{
  local name=$1
  shift
  if "$@"; then
    echo "PASS: $name"
    e2e_passed=$((e2e_passed + 1))
  else
    echo "FAIL: $name"
    e2e_failed=$((e2e_failed + 1))
  fi
}

e2e_finish ()
{
  echo "$e2e_passed passed, $e2e_failed failed"
  [ "$e2e_failed" -eq 0 ]
}

# debian_bookworm: the release command of a Debian 12 machine.
debian_bookworm ()
{
  printf 'Distributor ID:\tDebian\nDescription:\tDebian GNU/Linux 12 (bookworm)\nRelease:\t12\nCodename:\tbookworm\n' \
    | fake_lsb_release
}

# names_in DIR: the names of what DIR holds, hidden ones too, one a line in byte order.
names_in ()
{
  find "$1" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort
}

# cancelled_within MS FILE: the asynchronous caller's output in FILE (tests/e2e/async-caller.c)
# says that its call was cancelled and ended less than MS ms after the cancellation.
cancelled_within ()
{
  local waited
  waited=$(sed -n 's/^ended \([0-9]*\) ms after the cancellation$/\1/p' "$2")
  grep -q '^error g-io-error-quark cancelled: ' "$2" && [ -n "$waited" ] && [ "$waited" -lt "$1" ]
}

# dump_of FILE: the configuration dump in FILE (the driver's standard error), without the
# log messages around it.
dump_of ()
{
  grep -E '^(\{|\}|  [A-Za-z]+: )' "$1"
}
