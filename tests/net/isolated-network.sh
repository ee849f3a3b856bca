#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# Runs a test program in a network namespace of its own in which only loopback exists, so that a
# name the test expects not to resolve is never sent to the machine's name server, and no proxy
# or outside host can answer in place of the test's own servers.
# Where no namespace can be made (many package build chroots), the tests can still be listed,
# but running one reports it skipped (77) rather than let it reach the machine's network.
set -e
# The namespaces of scripts/sandbox.sh: its PID namespace also ends any server a test leaves.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/sandbox.sh"
if ! sandbox_unshare true 2>/dev/null; then
  case " $* " in
    *" --gtest_list_tests "*) exec "$@" ;;
  esac
  echo "SKIP: no network namespace can be made here"
  exit 77
fi
sandbox_unshare sh -c 'ip link set lo up && exec "$@"' sh "$@"
