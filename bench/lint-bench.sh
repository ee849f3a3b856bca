#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# kiv-config-lint on large and hostile files: the median wall time and the most resident memory
# (/usr/bin/time) of KIV_RUNS runs (3 by default) of checking each:
#   - 20 MiB in 20 000 sections (bench/many-sections.awk), which must take under 2 s and under
#     3 times its size in memory: the checker walks the file once, however many sections it has;
#   - 1 MiB of distinct one-line sections, the most sections for the size, each of them a
#     warning (a section without instruction);
#   - one kernel range line nesting 50 000 ranges, each of them checked;
#   - /dev/zero, which never ends and is refused at the 128 MiB bound (status 2).
#
#   bench/lint-bench.sh LINT
set -euo pipefail
bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ $# -ne 1 ]; then
  echo "usage: $0 LINT" >&2
  exit 2
fi
lint=$1 runs=${KIV_RUNS:-3}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kiv-lint-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

awk -v bytes=20971520 -v sections=20000 -f "$bench_dir/many-sections.awk" > "$scratch/sections.cfg"
awk 'BEGIN { for (i = 0; written < 1048576; i++) { line = "[Id " i "]"; print line
             written += length (line) + 1 } }' > "$scratch/one-line-sections.cfg"
awk 'BEGIN { printf "[Debian bookworm]\n"; for (i = 0; i < 50000; i++) printf "k 0 9 "
             print "i kiv-nested" }' > "$scratch/nested.cfg"

# measure NAME FILE [GOAL_SECONDS GOAL_TIMES_SIZE]: one line of figures, and whether the goals
# are met.
measure ()
{
  local name=$1 file=$2 goal_seconds=${3:-} goal_times=${4:-} seconds=() most_kib=0 run
  local status size
  for ((run = 0; run < runs; run++)); do
    status=0
    /usr/bin/time -f '%e %M' -o "$scratch/time" "$lint" --quiet "$file" > /dev/null 2>&1 \
      || status=$?
    read -r s kib < <(tail -n 1 "$scratch/time") # after a line on a status other than 0
    seconds+=("$s")
    [ "$kib" -gt "$most_kib" ] && most_kib=$kib
  done
  size=$(stat -L -c %s "$file" 2> /dev/null || echo 0)
  [ -f "$file" ] || size=$((128 << 20)) # what is read of an endless file
  local median
  median=$(printf '%s\n' "${seconds[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  awk -v name="$name" -v size="$size" -v s="$median" -v kib="$most_kib" -v status="$status" \
    -v goal_s="$goal_seconds" -v goal_x="$goal_times" 'BEGIN {
      times = kib * 1024 / size
      printf "%-34s %7.1f MiB  %6.2f s  %7.1f MiB = %4.2f x the file  status %d", name,
        size / 1048576, s, kib / 1024, times, status
      if (goal_s != "")
        printf "  goal under %s s and %s x: %s", goal_s, goal_x,
          (s < goal_s && times < goal_x) ? "met" : "MISSED"
      printf "\n"
    }'
}

echo "kiv-config-lint, median of $runs runs and the most memory:"
measure "20 000 sections" "$scratch/sections.cfg" 2 3
measure "distinct one-line sections" "$scratch/one-line-sections.cfg"
measure "50 000 nested kernel ranges" "$scratch/nested.cfg"
measure "/dev/zero (refused at the bound)" /dev/zero
