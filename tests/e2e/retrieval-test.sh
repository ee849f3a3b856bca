#!/usr/bin/env bash
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
  run_against "$SANDBOX/cfg"
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

# Runs the driver and checks that the local copy is what was served.
stores_the_file ()
{
  sections > /dev/null 2>&1
  cmp -s "$SANDBOX/cfg" "$HOME/.kiv-config"
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

# Refused certificates and hostile servers: exit 1 and no local copy written, or the older one
# kept as it was.
refused ()
{
  local mode=$1 cert=$2
  printf '[Debian bookworm]\ni from-the-server\n' > "$SANDBOX/cfg"
  [ "$mode" = fresh ] || printf 'older copy\n' > "$HOME/.kiv-config"
  local status=0
  debian_bookworm
  trust_test_ca
  serve_config "$SANDBOX/cfg" "${mode/fresh/normal}" "$cert"
  run_driver > "$SANDBOX/stdout" 2> "$SANDBOX/stderr" || status=$?
  [ "$status" -eq 1 ] || { echo "status $status" >&2; return 1; }
  [ "$(cat "$SANDBOX/stdout" | tail -n 1)" = "Config not found at $KIV_CONFIG_URL" ] || return 1
  grep -q "Failed to download config file '$KIV_CONFIG_URL'" "$SANDBOX/stderr" || return 1
  if [ "$mode" = fresh ]; then
    [ ! -e "$HOME/.kiv-config" ]
  else
    [ "$(cat "$HOME/.kiv-config")" = "older copy" ]
  fi
}
self_signed () { refused fresh selfsigned; }
wrong_host () { refused fresh wronghost; }
redirect_loop () { refused redirect-loop server; }
cut_short () { refused truncate server; }

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

check "the download is kept as ~/.kiv-config" in_sandbox stores_the_file
expect_run "a 404 answer" 1 "$block$not_found_line" not_found
check "a 404 answer is logged" grep -q "Failed to download config file '$KIV_CONFIG_URL'" "$e2e_scratch/stderr"
check "an unreachable server: the older copy is not used and stays" in_sandbox unreachable_with_older_copy
check "a self-signed certificate is refused" in_sandbox self_signed
check "a certificate for another host is refused" in_sandbox wrong_host
check "a redirect loop fails and keeps the older copy" in_sandbox redirect_loop
check "a body cut short fails and keeps the older copy" in_sandbox cut_short

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
