#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# Runs a test program in a network namespace of its own in which only loopback exists, so that a
# name the test expects not to resolve is never sent to the machine's name server, and no proxy
# or outside host can answer in place of the test's own servers.
# Where no namespace can be made (many package build chroots), the tests can still be listed,
# but running one reports it skipped (77) rather than let it reach the machine's network.
set -e
map=--map-root-user
[ "$(id -u)" -ne 0 ] || map=
# shellcheck disable=SC2086 # no option at all for root
if ! unshare $map --net true 2>/dev/null; then
  case " $* " in
    *" --gtest_list_tests "*) exec "$@" ;;
  esac
  echo "SKIP: no network namespace can be made here"
  exit 77
fi
# shellcheck disable=SC2086
exec unshare $map --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
