#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# The driver end to end, timed beside the work it stands for, and its peak memory on a large
# configuration file, for one build or several (the library built with libsoup 2.4 and with
# libsoup 3). Runs in a private mount and network namespace (see scripts/sandbox.sh) with the
# bundled server on loopback, like scripts/run.
#
#   bench/driver-bench.sh SERVER CONFIG_HOST BUILD_DIR...
#
# Time: the mean and median of KIV_RUNS runs (40 by default) of each build's driver against the
# sample configuration, and of "lsb_release -a" followed by curl fetching the same URL, all
# interleaved so that a change in the machine's load touches each. curl is timed twice: trusting
# the machine's authorities, as the driver does (the sandbox adds its test authority to them), and
# trusting only the test authority (--cacert), which spares it reading the machine's trust store.
# Each build also pairs "lsb_release -a" with its soup-fetch (bench/soup-fetch.c): a plain session
# of the libsoup it was built with, fetching the URL into a file, the floor that the driver's own
# libraries set.
# Memory: the maximum resident set size (/usr/bin/time) of each driver fetching and parsing a
# generated 50 MiB file whose one section is this machine's, so that every line is parsed and
# nearly every value kept, the most of 3 runs, with their median time.
# Asynchronous retrieval: each build's kiv-bench-async (bench/async-bench.c), a program that runs
# a main loop and calls get_configuration_async, is timed in the same rounds as its driver, which
# does the same work (the release command, the download, the parse) and prints a small dump.
# Main loop: on the 50 MiB file, the same program runs a 10 ms timeout on its loop while
# get_configuration_async, or http_download_file_async of the same URL, runs, with and without a
# progress callback, KIV_TICK_RUNS times (5 by default) each, interleaved; it gives the largest
# interval between two moments the loop ran, whose median and maximum are shown, with how much of
# the maximum the loop's thread spent waiting for a processor that other programs held.
# Signed road: when KIV_SIGNED_DRIVER names the driver of a build with a keyring (whose path is
# KIV_CONFIG_KEYRING), the sample configuration is also served with a signature by a key made
# for the run, and that driver is timed in the same rounds, against the first build's driver.
# KIV_SIGNED_DRIVER may name one such driver per build, in the order of the builds, separated by
# ':', each set against its own build's driver. KIV_SIGNED_BASELINE may name the driver of another
# such build (an earlier commit's, say, with the same keyring path), timed in the same rounds too,
# so that a change to the signed road is measured against what it replaced, on the same machine
# at the same time. Then, where strace is installed, KIV_PHASE_RUNS runs (15 by default) of each
# signed driver and of its build's driver are cut into their steps (bench/phases.awk), whose
# medians say where the signed road's time goes.
# Pinned authorities: when KIV_PINNED_DRIVER names the driver of a build that trusts only the
# authorities of its own file (KIV_CONFIG_CA_FILE), the run's authority is put in that file and
# the driver is timed in the same rounds, set against "lsb_release -a" followed by curl, trusting
# the machine's authorities and trusting only the run's (--cacert). KIV_PINNED_DRIVER may name one
# such driver per build, separated by ':', as KIV_SIGNED_DRIVER does; where strace is installed,
# they are cut into their steps too.
set -euo pipefail
bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$bench_dir/../scripts/sandbox.sh"

if [ "${1:-}" != --inside ]; then
  if [ $# -lt 3 ]; then
    echo "usage: $0 SERVER CONFIG_HOST BUILD_DIR..." >&2
    exit 2
  fi
  SANDBOX=$(mktemp -d "${TMPDIR:-/tmp}/kiv-bench.XXXXXX")
  trap 'rm -rf "$SANDBOX"' EXIT
  export SANDBOX KIV_SERVER=$1 KIV_CONFIG_HOST=$2 KIV_RUNS=${KIV_RUNS:-40} \
    KIV_TICK_RUNS=${KIV_TICK_RUNS:-5} KIV_PHASE_RUNS=${KIV_PHASE_RUNS:-15} \
    KIV_MAKE_CA=$bench_dir/../scripts/make-test-ca KIV_DATA=$bench_dir/../data/kiv-config.cfg
  shift 2
  sandbox_unshare bash "$0" --inside "$@"
  exit
fi
shift
builds=("$@")

sandbox_enter
trust_test_ca
url=https://$KIV_CONFIG_HOST/gfx/kiv-config.cfg

# micros_of COMMAND...: wall-clock microseconds of one run, output discarded, then the processor
# time (user and system) it and its children took, to the millisecond, in microseconds. The
# processor time hardly depends on what else the machine runs, the wall-clock time does.
micros_of ()
{
  local start end user system TIMEFORMAT='%3U %3S'
  start=$EPOCHREALTIME
  { time "$@" > /dev/null 2>&1 || true; } 2> "$SANDBOX/cpu"
  end=$EPOCHREALTIME
  read -r user system < "$SANDBOX/cpu"
  echo $((${end/./} - ${start/./})) $(((10#${user/./} + 10#${system/./}) * 1000))
}
lsb_then_curl () { lsb_release -a && curl -sS -o "$SANDBOX/curl.cfg" "$url"; }
lsb_then_curl_one_authority ()
{
  lsb_release -a && curl -sS --cacert "$SANDBOX/ca/ca.pem" -o "$SANDBOX/curl.cfg" "$url"
}
lsb_then_soup () { lsb_release -a && "$1/bench/kiv-bench-soup-fetch" "$url" "$SANDBOX/soup.cfg"; }
driver_of () { "$1/driver/kiv-config-check"; }
async_of () { "$1/bench/kiv-bench-async"; }
# name_of BUILD: which libsoup the build's library uses.
name_of ()
{
  [ "$(sed -n 's/^KIV_SOUP:STRING=//p' "$1/CMakeCache.txt")" = 3 ] && echo "libsoup 3" || echo "libsoup 2.4"
}

# summary NAME FILE: mean and median of the microseconds in FILE, in milliseconds.
summary ()
{
  sort -n "$2" | awk -v name="$1" '{ v[NR] = $1; sum += $1 }
    END { printf "%-48s mean %7.1f ms   median %7.1f ms\n", name, sum / NR / 1000, v[int ((NR + 1) / 2)] / 1000 }'
}
mean_of () { awk '{ s += $1 } END { print s / NR }' "$1"; }
cpu_mean_of () { awk '{ s += $2 } END { print s / NR }' "$1"; }
median_of () { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int ((NR + 1) / 2)] }'; }
# field_median N FILE, field_max N FILE: of the Nth field of FILE's lines.
field_median () { awk -v n="$1" '{ print $n }' "$2" | sort -g | awk '{ v[NR] = $1 } END { print v[int ((NR + 1) / 2)] }'; }
field_max () { awk -v n="$1" '{ print $n }' "$2" | sort -g | tail -n 1; }
# ratios NAME NUMERATOR_TIMES DENOMINATOR_TIMES: the ratio of the means and of the medians.
ratios ()
{
  awk -v name="$1" -v a="$(mean_of "$2")" -v b="$(mean_of "$3")" -v c="$(median_of "$2")" \
      -v d="$(median_of "$3")" -v e="$(cpu_mean_of "$2")" -v f="$(cpu_mean_of "$3")" \
      'BEGIN { printf "%-46s %.2f (medians %.2f; processor time %.2f)\n", name ":", a / b, c / d, e / f }'
}

signed_drivers=()
[ -z "${KIV_SIGNED_DRIVER:-}" ] || IFS=: read -ra signed_drivers <<< "$KIV_SIGNED_DRIVER"
pinned_drivers=()
[ -z "${KIV_PINNED_DRIVER:-}" ] || IFS=: read -ra pinned_drivers <<< "$KIV_PINNED_DRIVER"
if [ ${#pinned_drivers[@]} -gt ${#builds[@]} ]; then
  echo "KIV_PINNED_DRIVER names more pinned drivers than there are builds" >&2
  exit 2
fi
[ ${#pinned_drivers[@]} -eq 0 ] || cp "$SANDBOX/ca/ca.pem" "$KIV_CONFIG_CA_FILE"
baseline=${KIV_SIGNED_BASELINE:-}
if [ ${#signed_drivers[@]} -gt ${#builds[@]} ]; then
  echo "KIV_SIGNED_DRIVER names more signed drivers than there are builds" >&2
  exit 2
fi
if [ ${#signed_drivers[@]} -gt 0 ]; then
  publish_signed "$KIV_DATA"
  for j in "${!signed_drivers[@]}"; do
    "${signed_drivers[j]}" > /dev/null 2>&1 || { echo "the signed driver ${signed_drivers[j]} fails" >&2; exit 1; }
    : > "$SANDBOX/signed$j.times"
  done
  if [ -n "$baseline" ]; then
    "$baseline" > /dev/null 2>&1 || { echo "the baseline signed driver fails" >&2; exit 1; }
    : > "$SANDBOX/baseline.times"
  fi
else
  serve_config "$KIV_DATA"
fi
server=$!
for j in "${!pinned_drivers[@]}"; do
  "${pinned_drivers[j]}" > /dev/null 2>&1 || { echo "the pinned driver ${pinned_drivers[j]} fails" >&2; exit 1; }
  : > "$SANDBOX/pinned$j.times"
done
lsb_then_curl > /dev/null
cmp -s "$SANDBOX/curl.cfg" "$KIV_DATA" || { echo "curl did not fetch the configuration" >&2; exit 1; }
for i in "${!builds[@]}"; do
  driver_of "${builds[i]}" > /dev/null 2>&1 \
    || { echo "the driver of ${builds[i]} fails against the sample configuration" >&2; exit 1; }
  async_of "${builds[i]}" \
    || { echo "the asynchronous retrieval of ${builds[i]} fails against the sample configuration" >&2; exit 1; }
  lsb_then_soup "${builds[i]}" > /dev/null
  cmp -s "$SANDBOX/soup.cfg" "$KIV_DATA" || { echo "libsoup did not fetch the configuration" >&2; exit 1; }
  : > "$SANDBOX/driver$i.times"
  : > "$SANDBOX/async$i.times"
  : > "$SANDBOX/pair-soup$i.times"
done
: > "$SANDBOX/pair.times"
: > "$SANDBOX/pair-cacert.times"

# one_round [TIMES_SUFFIX]: each command once, in turn; with a suffix, their times are kept.
one_round ()
{
  local keep=${1:-} i
  for i in "${!builds[@]}"; do
    micros_of driver_of "${builds[i]}" >> "$SANDBOX/driver$i.times$keep"
    micros_of async_of "${builds[i]}" >> "$SANDBOX/async$i.times$keep"
    micros_of lsb_then_soup "${builds[i]}" >> "$SANDBOX/pair-soup$i.times$keep"
  done
  for i in "${!signed_drivers[@]}"; do
    micros_of "${signed_drivers[i]}" >> "$SANDBOX/signed$i.times$keep"
  done
  for i in "${!pinned_drivers[@]}"; do
    micros_of "${pinned_drivers[i]}" >> "$SANDBOX/pinned$i.times$keep"
  done
  [ -z "$baseline" ] || micros_of "$baseline" >> "$SANDBOX/baseline.times$keep"
  micros_of lsb_then_curl >> "$SANDBOX/pair.times$keep"
  micros_of lsb_then_curl_one_authority >> "$SANDBOX/pair-cacert.times$keep"
}
for _ in 1 2 3; do one_round .warm-up; done # warm the page cache
for _ in $(seq "$KIV_RUNS"); do one_round; done

echo "End to end, $KIV_RUNS runs each, against the sample configuration (load average $(cut -d' ' -f1-3 /proc/loadavg)):"
for i in "${!builds[@]}"; do
  summary "kiv-config-check ($(name_of "${builds[i]}"))" "$SANDBOX/driver$i.times"
  summary "kiv-bench-async ($(name_of "${builds[i]}"))" "$SANDBOX/async$i.times"
done
summary "lsb_release -a; curl URL" "$SANDBOX/pair.times"
summary "lsb_release -a; curl --cacert CA URL" "$SANDBOX/pair-cacert.times"
for i in "${!builds[@]}"; do
  summary "lsb_release -a; soup-fetch URL ($(name_of "${builds[i]}"))" "$SANDBOX/pair-soup$i.times"
done
for i in "${!builds[@]}"; do
  awk -v name="$(name_of "${builds[i]}")" -v d="$(mean_of "$SANDBOX/driver$i.times")" \
      -v p="$(mean_of "$SANDBOX/pair.times")" -v c="$(mean_of "$SANDBOX/pair-cacert.times")" \
      -v f="$(mean_of "$SANDBOX/pair-soup$i.times")" 'BEGIN {
    printf "%s:\n", name
    printf "  driver / (lsb_release + curl):                     %.2f\n", d / p
    printf "  driver / (lsb_release + curl --cacert):            %.2f\n", d / c
    printf "  driver / (lsb_release + soup-fetch):               %.2f\n", d / f
    printf "  (lsb_release + soup-fetch) / (lsb_release + curl): %.2f\n", f / p }'
  ratios "  get_configuration_async / driver" "$SANDBOX/async$i.times" "$SANDBOX/driver$i.times"
done
for i in "${!signed_drivers[@]}"; do
  summary "kiv-config-check, signed build ($(name_of "${builds[i]}"))" "$SANDBOX/signed$i.times"
  ratios "signed driver / driver ($(name_of "${builds[i]}"))" "$SANDBOX/signed$i.times" "$SANDBOX/driver$i.times"
done
for i in "${!pinned_drivers[@]}"; do
  summary "kiv-config-check, pinned build ($(name_of "${builds[i]}"))" "$SANDBOX/pinned$i.times"
  ratios "pinned driver / (lsb_release + curl)" "$SANDBOX/pinned$i.times" "$SANDBOX/pair.times"
  ratios "pinned driver / (lsb_release + curl --cacert)" "$SANDBOX/pinned$i.times" \
    "$SANDBOX/pair-cacert.times"
  ratios "pinned driver / driver ($(name_of "${builds[i]}"))" "$SANDBOX/pinned$i.times" \
    "$SANDBOX/driver$i.times"
done
if [ ${#signed_drivers[@]} -gt 0 ] && [ -n "$baseline" ]; then
  summary "kiv-config-check, baseline signed build" "$SANDBOX/baseline.times"
  ratios "baseline signed driver / driver ($(name_of "${builds[0]}"))" "$SANDBOX/baseline.times" "$SANDBOX/driver0.times"
  ratios "signed driver / baseline signed driver" "$SANDBOX/signed0.times" "$SANDBOX/baseline.times"
fi
for i in "${!builds[@]}"; do
  [ "$i" -eq 0 ] && continue
  awk -v a="$(name_of "${builds[i]}")" -v b="$(name_of "${builds[0]}")" \
      -v x="$(mean_of "$SANDBOX/driver$i.times")" -v y="$(mean_of "$SANDBOX/driver0.times")" \
      'BEGIN { printf "driver (%s) / driver (%s): %.2f\n", a, b, x / y }'
done

# Where the signed road's time goes: each run traced, only at the calls that mark its steps
# (seccomp filters the others out, so they run at full speed), and cut into steps.
extra_drivers=$((${#signed_drivers[@]} + ${#pinned_drivers[@]}))
if [ "$extra_drivers" -gt 0 ] && ! command -v strace > /dev/null; then
  printf '\nThe steps of the signed road need strace, which is not installed.\n'
elif [ "$extra_drivers" -gt 0 ]; then
  traced=() traced_names=()
  for i in "${!builds[@]}"; do
    [ -n "${signed_drivers[i]:-}${pinned_drivers[i]:-}" ] || continue
    traced+=("${builds[i]}/driver/kiv-config-check")
    traced_names+=("kiv-config-check ($(name_of "${builds[i]}"))")
    if [ -n "${signed_drivers[i]:-}" ]; then
      traced+=("${signed_drivers[i]}")
      traced_names+=("signed build ($(name_of "${builds[i]}"))")
    fi
    if [ -n "${pinned_drivers[i]:-}" ]; then
      traced+=("${pinned_drivers[i]}")
      traced_names+=("pinned build ($(name_of "${builds[i]}"))")
    fi
  done
  if [ -n "$baseline" ]; then
    traced+=("$baseline")
    traced_names+=("baseline signed build")
  fi
  for _ in $(seq "$KIV_PHASE_RUNS"); do
    for k in "${!traced[@]}"; do
      strace --seccomp-bpf -f -qq -ttt -T -e trace=execve,connect,fsync,wait4,exit_group \
        -o "$SANDBOX/trace" "${traced[k]}" > /dev/null 2>&1 \
        || { echo "${traced[k]} fails under strace" >&2; exit 1; }
      awk -f "$bench_dir/phases.awk" "$SANDBOX/trace" >> "$SANDBOX/phases$k"
    done
  done
  printf '\nSteps of one run under strace, medians of %d runs, in ms (load average %s):\n' \
    "$KIV_PHASE_RUNS" "$(cut -d' ' -f1-3 /proc/loadavg)"
  printf '%-32s %8s %8s %8s %8s %8s %8s %8s %8s %8s\n' "" start-up release set-up download gpgv end \
    total second fsync
  for k in "${!traced[@]}"; do
    # Each line: start-up S release R set-up U download D gpgv G end E second C fsync F total T
    printf '%-32s' "${traced_names[k]}"
    for n in 2 4 6 8 10 12 18 14 16; do
      printf ' %8.1f' "$(field_median "$n" "$SANDBOX/phases$k")"
    done
    printf '\n'
  done
fi
kill "$server"
wait "$server" 2> /dev/null || true

# Memory: a 50 MiB file with one section, this machine's.
id="[$(lsb_release -si 2> /dev/null) $(lsb_release -sc 2> /dev/null)]"
awk -v bytes=$((50 * 1024 * 1024)) -v id="$id" -f "$bench_dir/large-config.awk" > "$SANDBOX/large.cfg"
size=$(stat -c %s "$SANDBOX/large.cfg")
lines=$(wc -l < "$SANDBOX/large.cfg")
serve_config "$SANDBOX/large.cfg"
server=$!
printf '\nPeak memory on a %s MiB configuration (%d lines, one section for this machine), 3 runs each:\n' \
  "$(awk -v s="$size" 'BEGIN { printf "%.1f", s / 1048576 }')" "$lines"
for _ in 1 2 3; do
  for i in "${!builds[@]}"; do
    /usr/bin/time -a -f "%M %e" -o "$SANDBOX/large$i.time" "${builds[i]}/driver/kiv-config-check" \
      > /dev/null 2>&1 || { echo "the driver of ${builds[i]} fails against the large configuration" >&2; exit 1; }
  done
done
for i in "${!builds[@]}"; do
  sort -n -k2 "$SANDBOX/large$i.time" | awk -v name="$(name_of "${builds[i]}")" -v size="$size" '
    { rss = $1 > rss ? $1 : rss; s[NR] = $2 }
    END { printf "%-12s maximum resident set size %.1f MiB = %.2f times the file, median %.2f s\n", name, rss / 1024, rss * 1024 / size, s[2] }'
done

# The main loop while the 50 MiB file comes: the largest interval between two moments the loop
# ran, with a 10 ms timeout on it.
printf '\nMain loop with a 10 ms timeout during the %s MiB download, %d runs each (load average %s):\n' \
  "$(awk -v s="$size" 'BEGIN { printf "%.1f", s / 1048576 }')" "$KIV_TICK_RUNS" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
calls=(retrieval download)
# Without progress, with a callback that counts, and with one that works 30 µs a message.
progress_options=("" --progress "--progress --work")
for _ in $(seq "$KIV_TICK_RUNS"); do
  for i in "${!builds[@]}"; do
    for call in "${calls[@]}"; do
      for p in "${!progress_options[@]}"; do
        what=()
        [ "$call" = retrieval ] || what=(--download "$url" "$SANDBOX/download.cfg")
        # shellcheck disable=SC2086 # the options are words
        "${builds[i]}/bench/kiv-bench-async" --ticks ${progress_options[p]} "${what[@]}" \
          >> "$SANDBOX/ticks-$i-$call-$p" \
          || { echo "kiv-bench-async of ${builds[i]} fails on the large file ($call)" >&2; exit 1; }
      done
    done
  done
done
for i in "${!builds[@]}"; do
  for call in "${calls[@]}"; do
    for p in "${!progress_options[@]}"; do
      name="$(name_of "${builds[i]}"), $([ "$call" = retrieval ] && echo get_configuration_async || echo http_download_file_async)"
      [ -z "${progress_options[p]}" ] || name="$name, progress"
      [ "${progress_options[p]}" != "--progress --work" ] || name="$name at 30 µs"
      # Each line: ticks N worst-gap-ms G waiting-ms W at-ms A total-ms T progress-messages M
      runs=$SANDBOX/ticks-$i-$call-$p
      printf '%-54s worst gap median %5.1f ms, max %5.1f ms (%4.1f ms waiting for a processor); ticks %s in %s s; %s messages\n' \
        "$name" "$(field_median 4 "$runs")" "$(field_max 4 "$runs")" \
        "$(sort -g -k4 "$runs" | tail -n 1 | awk '{ print $6 }')" "$(field_median 2 "$runs")" \
        "$(field_median 10 "$runs" | awk '{ printf "%.2f", $1 / 1000 }')" "$(field_median 12 "$runs")"
    done
  done
done
kill "$server"
wait "$server" 2> /dev/null || true
