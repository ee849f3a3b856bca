#!/bin/sh
# Runs a test program in a network namespace of its own in which only loopback exists, so that a
# name the test expects not to resolve is never sent to the machine's name server, and no proxy
# or outside host can answer in place of the test's own servers.
set -e
if [ "$(id -u)" -eq 0 ]; then
  exec unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
exec unshare --map-root-user --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
