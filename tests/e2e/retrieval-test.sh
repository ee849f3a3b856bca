#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# The driver end to end over real HTTPS: a configuration server on loopback inside the namespace,
# a certificate authority made for the run, and the configuration host name pointed at loopback.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# Everything but the server's behaviour and the file it serves.
run_against ()
{
  local file=$1
  shift
  debian_bookworm
  trust_test_ca
  serve_config "$file" "$@"
  run_driver
}

sections ()
{
  printf '%s\n' \
    '# sections for other machines come first' \
    '[Ubuntu trusty]' 'i trusty-only' '' \
    '[Debian bookworm] # the header may go on' \
    's deb https://repo.example.org/debian bookworm main  ' \
    'g https://repo.example.org/key.asc' \
    'docs https://docs.example.org/' \
    'e first error' \
    'i kiv-tools' \
    'I kiv-core' \
    'u kiv-legacy' \
    'l kiv-lts' \
    '' \
    'i after-the-empty-line' \
    '[Debian bookworm]' 'i second-section-with-the-same-header' > "$SANDBOX/cfg"
  run_against "$SANDBOX/cfg" "$@"
}

crlf ()
{
  printf '%s\r\n' '[Debian bookworm]' 'i one' '' 'i after-a-lone-carriage-return' '[Debian trixie]' 'i other' \
    > "$SANDBOX/cfg"
  run_against "$SANDBOX/cfg"
}

empty_file ()
{
  : > "$SANDBOX/cfg"
  run_against "$SANDBOX/cfg"
}

older_copy ()
{
  printf 'older copy\n' > "$HOME/.kiv-config"
}

# Runs the driver against the server in mode $KIV_MODE, over an older copy with unusual permission
# bits, and checks that the local copy is what was served (nothing, for a 204), with the older
# copy's bits and nothing left beside it.
stores_the_file ()
{
  older_copy
  chmod 604 "$HOME/.kiv-config"
  sections "${KIV_MODE:-normal}" > /dev/null 2>&1 || return 1
  local served=$SANDBOX/cfg
  [ "${KIV_MODE:-}" != no-content ] || served=/dev/null
  cmp -s "$served" "$HOME/.kiv-config" && [ "$(names_in "$HOME" | grep -vx .cache)" = .kiv-config ] \
    && [ "$(stat -c %a "$HOME/.kiv-config")" = 604 ]
}

not_found ()
{
  printf '[Debian bookworm]\ni x\n' > "$SANDBOX/cfg"
  echo "older copy" > "$HOME/.kiv-config"
  run_against "$SANDBOX/cfg" not-found
}

# An unreachable server: the older copy is neither used nor touched.
unreachable_with_older_copy ()
{
  debian_bookworm
  trust_test_ca
  printf '[Debian bookworm]\ni stale\n' > "$HOME/.kiv-config"
  local status=0
  run_driver > "$SANDBOX/stdout" 2> "$SANDBOX/stderr" || status=$?
  [ "$status" -eq 1 ] && grep -qx 'Config not found at .*' "$SANDBOX/stdout" \
    && ! grep -q stale "$SANDBOX/stderr" \
    && [ "$(cat "$HOME/.kiv-config")" = "$(printf '[Debian bookworm]\ni stale')" ]
}

# Refused certificates and hostile servers: exit 1 with both messages, and the home exactly as it
# was, byte for byte: no local copy, or the older one, and nothing left beside it.
refused ()
{
  local mode=$1 cert=$2 status=0
  shift 2
  printf '[Debian bookworm]\ni from-the-server\n' > "$SANDBOX/cfg"
  cp -a "$HOME" "$SANDBOX/home-before"
  debian_bookworm
  trust_test_ca
  serve_config "$SANDBOX/cfg" "$mode" "$cert" "$@"
  PATH="$SANDBOX/bin" /usr/bin/time -f %M -o "$SANDBOX/peak-kib" "$KIV_DRIVER" \
    > "$SANDBOX/stdout" 2> "$SANDBOX/stderr" || status=$?
  [ "$status" -eq 1 ] || { echo "status $status" >&2; return 1; }
  [ "$(tail -n 1 "$SANDBOX/stdout")" = "Config not found at $KIV_CONFIG_URL" ] || return 1
  grep -q "Failed to download config file '$KIV_CONFIG_URL'" "$SANDBOX/stderr" || return 1
  diff -r --exclude=.cache "$SANDBOX/home-before" "$HOME" >&2 # the libraries' own cache may appear
}
self_signed () { refused normal selfsigned; }
wrong_host () { refused normal wronghost; }
redirect_loop () { older_copy; refused redirect-loop server; }
cut_short () { older_copy; refused truncate server; }
# The driver's peak memory stays far below what the decoded compression bomb (512 MiB) would take.
hostile ()
{
  older_copy
  refused "$KIV_MODE" server --bomb-mib 512 && [ "$(tail -n 1 "$SANDBOX/peak-kib")" -lt $((128 * 1024)) ]
}

# A home with no room left: no inode for the staging file, or no space to write it.
full_home ()
{
  mount -t tmpfs -o size=16k,nr_inodes="$([ "$KIV_FULL" = inodes ] && echo 2 || echo 3)" tmpfs "$HOME"
  older_copy
  [ "$KIV_FULL" = inodes ] || cat /dev/zero > "$HOME/filler" 2> /dev/null || true
  refused normal server
}

# On an i686 machine the filter drops the names of its own family and keeps the others.
i686_machine ()
{
  printf '%s\n' '[Debian bookworm]' 'i pkg:i386' 'i pkg:amd64' 'I core:i686' 'u up' > "$SANDBOX/cfg"
  debian_bookworm
  trust_test_ca
  serve_config "$SANDBOX/cfg"
  setarch i686 env PATH="$SANDBOX/bin" "$KIV_DRIVER"
}

# Kernel ranges against the kernel this machine really runs.
kernel_ranges ()
{
  printf '%s\n' '[Debian bookworm]' 'k 0 999999 i in-range' 'k 999999 9999999 i above' \
    'k 0 0.1 i below' > "$SANDBOX/cfg"
  run_against "$SANDBOX/cfg"
}

# A second retrieval in one process neither downloads nor parses again, but dumps again.
twice ()
{
  printf '[Debian bookworm]\ni once\n' > "$SANDBOX/cfg"
  debian_bookworm
  trust_test_ca
  serve_config "$SANDBOX/cfg"
  PATH="$SANDBOX/bin" "$KIV_TWICE"
}

[ "${1:-}" = --definitions-only ] && return 0

block="Distribution:
{
    distributor: 'Debian'
    release    : '12'
    codename   : 'bookworm'
    config-id  : [Debian bookworm]
}
"
not_found_line="Config not found at $KIV_CONFIG_URL$NL"

# expect_dump NAME STATUS STDOUT DUMP FUNCTION: like expect_run, and the dump on standard error.
expect_dump ()
{
  local name=$1 dump=$4
  expect_run "$name" "$2" "$3" "$5"
  if [ "$(dump_of "$e2e_scratch/stderr")" = "$dump" ]; then
    echo "PASS: $name (dump)"
    e2e_passed=$((e2e_passed + 1))
  else
    echo "FAIL: $name (dump)"
    diff -u <(printf '%s\n' "$dump") <(dump_of "$e2e_scratch/stderr") | sed 's/^/    /'
    e2e_failed=$((e2e_failed + 1))
  fi
}

expect_dump "the machine's section, up to the empty line" 0 "$block" '{
  errors: [first error]
  sources: [deb https://repo.example.org/debian bookworm main]
  keys: [https://repo.example.org/key.asc]
  docs: [https://docs.example.org/]
  INSTALL: [kiv-core]
  install: [kiv-tools]
  upgrade: [kiv-legacy]
  lts: [kiv-lts]
}' sections

expect_dump "CRLF line ends: a lone carriage return does not end the section" 0 "$block" '{
  errors: (nil)
  sources: []
  keys: []
  docs: []
  INSTALL: []
  install: [one after-a-lone-carriage-return]
  upgrade: []
  lts: []
}' crlf
check "CRLF line ends: the carriage return line is reported" \
  grep -q 'Unrecognised config instruction: .* (13)' "$e2e_scratch/stderr"

expect_dump "an empty file" 0 "$block" '{
  errors: (nil)
  sources: []
  keys: []
  docs: []
  INSTALL: []
  install: []
  upgrade: []
  lts: []
}' empty_file

# A 204 has no body whatever its head says; a redirect that stays on https is followed; with no
# Content-Length the end of the connection (TLS closed properly) ends the body.
for mode in normal no-content hop until-close; do
  KIV_MODE=$mode check "the download is kept as ~/.kiv-config ($mode)" in_sandbox stores_the_file
done
expect_run "a 404 answer" 1 "$block$not_found_line" not_found
check "a 404 answer is logged" grep -q "Failed to download config file '$KIV_CONFIG_URL'" "$e2e_scratch/stderr"
check "an unreachable server: the older copy is not used and stays" in_sandbox unreachable_with_older_copy
check "a self-signed certificate is refused" in_sandbox self_signed
check "a certificate for another host is refused" in_sandbox wrong_host
check "a redirect loop fails and keeps the older copy" in_sandbox redirect_loop
check "a body cut short fails and keeps the older copy" in_sandbox cut_short
for mode in chunked-cut gzip-cut gzip-bomb to-http two-lengths negative-length partial tls-cut; do
  KIV_MODE=$mode check "a hostile server ($mode) fails and keeps the older copy" in_sandbox hostile
done
for KIV_FULL in inodes space; do
  export KIV_FULL
  check "a home without $KIV_FULL left: the download fails and keeps the older copy" \
    in_sandbox full_home
done

expect_dump "an i686 machine" 0 "$block" '{
  errors: (nil)
  sources: []
  keys: []
  docs: []
  INSTALL: []
  install: [pkg:amd64]
  upgrade: [up]
  lts: []
}' i686_machine

expect_dump "kernel ranges" 0 "$block" '{
  errors: (nil)
  sources: []
  keys: []
  docs: []
  INSTALL: []
  install: [in-range]
  upgrade: []
  lts: []
}' kernel_ranges

expect_run "a second retrieval in one process" 0 "" twice
check "a second retrieval dumps again" [ "$(grep -c '^{$' "$e2e_scratch/stderr")" -eq 2 ]
e2e_finish
