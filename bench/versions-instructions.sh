#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# Instructions per call of strverscmp and of compare_versions on each shape of kiv-bench-versions,
# counted by callgrind. Unlike a time, the count does not move with the load on the machine, so it
# shows a change of a few instructions on a shared one.
#
#   bench/versions-instructions.sh BUILD_DIR [CALLS]
#
# Each function is counted alone (callgrind's --toggle-collect), over CALLS calls (100 000 by
# default) on one pair of the shape, and the count is divided by CALLS.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 BUILD_DIR [CALLS]" >&2
  exit 2
fi
bench=$1/bench/kiv-bench-versions
calls=${2:-100000}
out=$(mktemp "${TMPDIR:-/tmp}/kiv-callgrind.XXXXXX")
trap 'rm -f "$out"' EXIT

# per_call FUNCTION SHAPE: the instructions of one call, to a tenth.
per_call ()
{
  valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect="$1" \
    "$bench" --count "$2" "$calls" > /dev/null 2>&1
  awk -v calls="$calls" '/^summary:/ { printf "%.1f", $2 / calls }' "$out"
}

printf '%-20s %12s %18s %7s\n' shape strverscmp compare_versions ratio
for shape in $("$bench" --shapes); do
  theirs=$(per_call strverscmp "$shape")
  ours=$(per_call compare_versions "$shape")
  awk -v s="$shape" -v t="$theirs" -v o="$ours" 'BEGIN { printf "%-20s %12s %18s %7.2f\n", s, t, o, o / t }'
done
