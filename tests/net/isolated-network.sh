#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# Runs a test program in a network namespace of its own in which only loopback exists, so that no
# proxy or outside host can answer in place of the test's own servers, and in a mount namespace
# of its own in which /etc/resolv.conf names 127.0.0.1 as the only name server, so that a name
# lookup never leaves the namespace: with nothing on port 53 it fails at once, and a test that
# wants a lookup to hang starts a name server there that never answers (kiv-http-test.h).
# Where no namespace can be made (many package build chroots), the tests can still be listed,
# but running one reports it skipped (77) rather than let it reach the machine's network.
set -e
# The namespaces of scripts/sandbox.sh: its PID namespace also ends any server a test leaves.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/sandbox.sh"
if ! why=$(sandbox_usable); then
  case " $* " in
    *" --gtest_list_tests "*) exec "$@" ;;
  esac
  echo "SKIP: $why"
  exit 77
fi
run=$(mktemp -d "${TMPDIR:-/tmp}/kiv-isolated.XXXXXX")
trap 'rm -rf "$run"' EXIT
echo 'nameserver 127.0.0.1' > "$run/resolv.conf"
# Without /etc/resolv.conf the resolver asks 127.0.0.1 anyway.
# shellcheck disable=SC2016 # the shell inside the namespaces expands these
sandbox_unshare sh -c '
  set -e
  if [ -e /etc/resolv.conf ]; then mount --bind "$1" /etc/resolv.conf; fi
  ip link set lo up
  shift
  exec "$@"' sh "$run/resolv.conf" "$@"
