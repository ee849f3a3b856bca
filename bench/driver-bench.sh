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
# Signed road: when KIV_SIGNED_DRIVER names the driver of a build with a keyring (whose path is
# KIV_CONFIG_KEYRING), the sample configuration is also served with a signature by a key made
# for the run, and that driver is timed in the same rounds, against the first build's driver.
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

# micros_of COMMAND...: wall-clock microseconds of one run, output discarded.
micros_of ()
{
  local start=$EPOCHREALTIME end
  "$@" > /dev/null 2>&1 || true
  end=$EPOCHREALTIME
  echo $((${end/./} - ${start/./}))
}
lsb_then_curl () { lsb_release -a && curl -sS -o "$SANDBOX/curl.cfg" "$url"; }
lsb_then_curl_one_authority ()
{
  lsb_release -a && curl -sS --cacert "$SANDBOX/ca/ca.pem" -o "$SANDBOX/curl.cfg" "$url"
}
lsb_then_soup () { lsb_release -a && "$1/bench/kiv-bench-soup-fetch" "$url" "$SANDBOX/soup.cfg"; }
driver_of () { "$1/driver/kiv-config-check"; }
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

signed=${KIV_SIGNED_DRIVER:+yes}
if [ -n "$signed" ]; then
  publish_signed "$KIV_DATA"
  "$KIV_SIGNED_DRIVER" > /dev/null 2>&1 || { echo "the signed driver fails" >&2; exit 1; }
  : > "$SANDBOX/signed.times"
else
  serve_config "$KIV_DATA"
fi
server=$!
lsb_then_curl > /dev/null
cmp -s "$SANDBOX/curl.cfg" "$KIV_DATA" || { echo "curl did not fetch the configuration" >&2; exit 1; }
for i in "${!builds[@]}"; do
  driver_of "${builds[i]}" > /dev/null 2>&1 \
    || { echo "the driver of ${builds[i]} fails against the sample configuration" >&2; exit 1; }
  lsb_then_soup "${builds[i]}" > /dev/null
  cmp -s "$SANDBOX/soup.cfg" "$KIV_DATA" || { echo "libsoup did not fetch the configuration" >&2; exit 1; }
  : > "$SANDBOX/driver$i.times"
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
    micros_of lsb_then_soup "${builds[i]}" >> "$SANDBOX/pair-soup$i.times$keep"
  done
  [ -z "$signed" ] || micros_of "$KIV_SIGNED_DRIVER" >> "$SANDBOX/signed.times$keep"
  micros_of lsb_then_curl >> "$SANDBOX/pair.times$keep"
  micros_of lsb_then_curl_one_authority >> "$SANDBOX/pair-cacert.times$keep"
}
for _ in 1 2 3; do one_round .warm-up; done # warm the page cache
for _ in $(seq "$KIV_RUNS"); do one_round; done

echo "End to end, $KIV_RUNS runs each, against the sample configuration:"
for i in "${!builds[@]}"; do
  summary "kiv-config-check ($(name_of "${builds[i]}"))" "$SANDBOX/driver$i.times"
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
done
if [ -n "$signed" ]; then
  summary "kiv-config-check, signed build" "$SANDBOX/signed.times"
  awk -v d="$(mean_of "$SANDBOX/driver0.times")" -v s="$(mean_of "$SANDBOX/signed.times")" \
    'BEGIN { printf "signed driver / driver:                       %.2f\n", s / d }'
fi
for i in "${!builds[@]}"; do
  [ "$i" -eq 0 ] && continue
  awk -v a="$(name_of "${builds[i]}")" -v b="$(name_of "${builds[0]}")" \
      -v x="$(mean_of "$SANDBOX/driver$i.times")" -v y="$(mean_of "$SANDBOX/driver0.times")" \
      'BEGIN { printf "driver (%s) / driver (%s): %.2f\n", a, b, x / y }'
done
kill "$server"
wait "$server" 2> /dev/null || true

# Memory: a 50 MiB file with one section, this machine's.
id="[$(lsb_release -si 2> /dev/null) $(lsb_release -sc 2> /dev/null)]"
awk -v bytes=$((50 * 1024 * 1024)) -v id="$id" -f "$bench_dir/large-config.awk" > "$SANDBOX/large.cfg"
size=$(stat -c %s "$SANDBOX/large.cfg")
lines=$(wc -l < "$SANDBOX/large.cfg")
serve_config "$SANDBOX/large.cfg"
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
