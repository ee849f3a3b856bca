#!/usr/bin/env bash
# The driver end to end, timed beside the work it stands for, and its peak memory on a large
# configuration file. Runs in a private mount and network namespace (see scripts/sandbox.sh) with
# the bundled server on loopback, like scripts/run.
#
#   bench/driver-bench.sh DRIVER SERVER SOUP_FETCH CONFIG_HOST [RUNS]
#
# Time: the mean and median of RUNS runs (40 by default) of the driver against the sample
# configuration, and of "lsb_release -a" followed by curl fetching the same URL, interleaved so
# that a change in the machine's load touches both. curl is timed twice: trusting the machine's
# authorities, as the driver does (the sandbox adds its test authority to them), and trusting
# only the test authority (--cacert), which spares it reading the machine's trust store. A third
# pair replaces curl by SOUP_FETCH (bench/soup-fetch.c): a plain libsoup session fetching the URL
# into a file, the floor that the driver's own libraries set.
# Signed road: when KIV_SIGNED_DRIVER names the driver of a build with a keyring (whose path is
# KIV_CONFIG_KEYRING), the sample configuration is also served with a signature by a key made
# for the run, and that driver is timed in the same rounds, against the default driver.
# Memory: the maximum resident set size (/usr/bin/time) of the driver fetching and parsing a
# generated 50 MiB file whose one section is this machine's, so that every line is parsed and
# nearly every value kept.
set -euo pipefail
bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [ "${1:-}" != --inside ]; then
  if [ $# -lt 4 ]; then
    echo "usage: $0 DRIVER SERVER SOUP_FETCH CONFIG_HOST [RUNS]" >&2
    exit 2
  fi
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(--map-root-user)
  SANDBOX=$(mktemp -d "${TMPDIR:-/tmp}/kiv-bench.XXXXXX")
  trap 'rm -rf "$SANDBOX"' EXIT
  export SANDBOX KIV_DRIVER=$1 KIV_SERVER=$2 KIV_SOUP_FETCH=$3 KIV_CONFIG_HOST=$4 KIV_RUNS=${5:-40} \
    KIV_MAKE_CA=$bench_dir/../scripts/make-test-ca KIV_DATA=$bench_dir/../data/kiv-config.cfg
  unshare "${as_root[@]}" --mount --net --pid --fork --mount-proc --propagation private \
    bash "$0" --inside
  exit
fi

source "$bench_dir/../scripts/sandbox.sh"
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
lsb_then_soup () { lsb_release -a && "$KIV_SOUP_FETCH" "$url" "$SANDBOX/soup.cfg"; }

# summary NAME FILE: mean and median of the microseconds in FILE, in milliseconds.
summary ()
{
  sort -n "$2" | awk -v name="$1" '{ v[NR] = $1; sum += $1 }
    END { printf "%-40s mean %7.1f ms   median %7.1f ms\n", name, sum / NR / 1000, v[int ((NR + 1) / 2)] / 1000 }'
}
mean_of () { awk '{ s += $1 } END { print s / NR }' "$1"; }

signed=${KIV_SIGNED_DRIVER:+yes}
if [ -n "$signed" ]; then
  publish_signed "$KIV_DATA"
  "$KIV_SIGNED_DRIVER" > /dev/null 2>&1 || { echo "the signed driver fails" >&2; exit 1; }
else
  serve_config "$KIV_DATA"
fi
server=$!
"$KIV_DRIVER" > /dev/null 2>&1 || { echo "the driver fails against the sample configuration" >&2; exit 1; }
lsb_then_curl > /dev/null
lsb_then_soup > /dev/null
cmp -s "$SANDBOX/curl.cfg" "$KIV_DATA" || { echo "curl did not fetch the configuration" >&2; exit 1; }
cmp -s "$SANDBOX/soup.cfg" "$KIV_DATA" || { echo "libsoup did not fetch the configuration" >&2; exit 1; }
for _ in 1 2 3; do # warm the page cache
  micros_of "$KIV_DRIVER"; micros_of lsb_then_curl; micros_of lsb_then_curl_one_authority
  micros_of lsb_then_soup
  [ -z "$signed" ] || micros_of "$KIV_SIGNED_DRIVER"
done > /dev/null

: > "$SANDBOX/driver.times"
: > "$SANDBOX/pair.times"
: > "$SANDBOX/pair-cacert.times"
: > "$SANDBOX/pair-soup.times"
for _ in $(seq "$KIV_RUNS"); do
  micros_of "$KIV_DRIVER" >> "$SANDBOX/driver.times"
  micros_of lsb_then_curl >> "$SANDBOX/pair.times"
  micros_of lsb_then_curl_one_authority >> "$SANDBOX/pair-cacert.times"
  micros_of lsb_then_soup >> "$SANDBOX/pair-soup.times"
  [ -z "$signed" ] || micros_of "$KIV_SIGNED_DRIVER" >> "$SANDBOX/signed.times"
done
echo "End to end, $KIV_RUNS runs each, against the sample configuration:"
summary "kiv-config-check" "$SANDBOX/driver.times"
summary "lsb_release -a; curl URL" "$SANDBOX/pair.times"
summary "lsb_release -a; curl --cacert CA URL" "$SANDBOX/pair-cacert.times"
summary "lsb_release -a; soup-fetch URL" "$SANDBOX/pair-soup.times"
awk -v d="$(mean_of "$SANDBOX/driver.times")" -v p="$(mean_of "$SANDBOX/pair.times")" \
    -v c="$(mean_of "$SANDBOX/pair-cacert.times")" -v f="$(mean_of "$SANDBOX/pair-soup.times")" 'BEGIN {
  printf "driver / (lsb_release + curl):                %.2f\n", d / p
  printf "driver / (lsb_release + curl --cacert):       %.2f\n", d / c
  printf "driver / (lsb_release + soup-fetch):          %.2f\n", d / f
  printf "(lsb_release + soup-fetch) / (lsb_release + curl): %.2f\n", f / p }'
if [ -n "$signed" ]; then
  summary "kiv-config-check, signed build" "$SANDBOX/signed.times"
  awk -v d="$(mean_of "$SANDBOX/driver.times")" -v s="$(mean_of "$SANDBOX/signed.times")" \
    'BEGIN { printf "signed driver / driver:                       %.2f\n", s / d }'
fi
kill "$server"
wait "$server" 2> /dev/null || true

# Memory: a 50 MiB file with one section, this machine's.
id="[$(lsb_release -si 2> /dev/null) $(lsb_release -sc 2> /dev/null)]"
awk -v bytes=$((50 * 1024 * 1024)) -v id="$id" -f "$bench_dir/large-config.awk" > "$SANDBOX/large.cfg"
size=$(stat -c %s "$SANDBOX/large.cfg")
lines=$(wc -l < "$SANDBOX/large.cfg")
serve_config "$SANDBOX/large.cfg"
/usr/bin/time -f "%M %e" -o "$SANDBOX/large.time" "$KIV_DRIVER" > /dev/null 2>&1 \
  || { echo "the driver fails against the large configuration" >&2; exit 1; }
read -r rss_kib seconds < "$SANDBOX/large.time"
awk -v rss="$rss_kib" -v size="$size" -v s="$seconds" -v lines="$lines" 'BEGIN {
  printf "\nPeak memory on a %.1f MiB configuration (%d lines, one section for this machine):\n", size / 1048576, lines
  printf "maximum resident set size %.1f MiB = %.2f times the file, in %.1f s\n", rss / 1024, rss * 1024 / size, s }'
