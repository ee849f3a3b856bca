#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# kiv-config-lint end to end: its preview against the real driver's dump on several machines, a
# configuration fetched over HTTPS from a server on loopback, and its command line.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# machines_file PATH: something different for each machine below: suffixes of both families,
# kernel ranges on either side of 3, an error text with a carriage return, two distributions.
machines_file ()
{
  printf '%s\n' \
    '[Debian bookworm] # Debian 12' \
    's deb http://repo.example/debian bookworm main' \
    'i pkg:i386' 'i pkg:amd64' 'I core:x86_64' 'u helper:i686' \
    'k 0 3 i before-3' 'k 3 999999 i since-3' 'k 0 999999 k 2.6 2.7 e no 2.6 kernels' \
    $'e check the cable\r' \
    '' \
    '[Ubuntu jammy]' 'l lts' 'i gl:i386' 'x unrecognised' > "$1"
}

ubuntu_jammy ()
{
  printf 'Distributor ID:\tUbuntu\nDescription:\tUbuntu 22.04.4 LTS\nRelease:\t22.04\nCodename:\tjammy\n' \
    | fake_lsb_release
}

# same_as_driver DISTRIBUTION RUNNER... -- LINT_ARGUMENTS...: serves the file and runs the driver
# on a machine of that distribution through RUNNER (a command such as setarch i686, or env), then
# the lint's preview with LINT_ARGUMENTS, where FILE stands for the served file. The preview must
# be the driver's dump byte for byte.
same_as_driver ()
{
  local runner=() arguments=()
  "$1"
  shift
  while [ "$1" != -- ]; do
    runner+=("$1")
    shift
  done
  shift
  for argument; do
    [ "$argument" = FILE ] && argument=$SANDBOX/cfg
    arguments+=("$argument")
  done
  machines_file "$SANDBOX/cfg"
  trust_test_ca
  serve_config "$SANDBOX/cfg"
  "${runner[@]}" env PATH="$SANDBOX/bin" "$KIV_DRIVER" > /dev/null 2> "$SANDBOX/driver.err" || return 1
  dump_of "$SANDBOX/driver.err" > "$SANDBOX/want"
  PATH="$SANDBOX/bin:$PATH" "$KIV_LINT" --preview "${arguments[@]}" > "$SANDBOX/got" || return 1
  diff -u "$SANDBOX/want" "$SANDBOX/got"
}

# A URL is fetched with the back end's download straight into memory, leaving no file behind, and
# is checked as the same file on disk would be.
checks_a_url ()
{
  machines_file "$SANDBOX/cfg"
  trust_test_ca
  serve_config "$SANDBOX/cfg"
  mkdir "$SANDBOX/tmp"
  local status=0
  TMPDIR="$SANDBOX/tmp" "$KIV_LINT" "$KIV_CONFIG_URL" > "$SANDBOX/got" || status=$?
  [ "$status" -eq 1 ] || return 1
  diff -u <("$KIV_LINT" "$SANDBOX/cfg" | sed "s|^$SANDBOX/cfg:|$KIV_CONFIG_URL:|") "$SANDBOX/got" || return 1
  [ -z "$(ls -A "$SANDBOX/tmp")" ]
}

# A URL that cannot be fetched: status 2 and one line that says why.
unreachable_url ()
{
  local status=0
  "$KIV_LINT" "$KIV_CONFIG_URL" > "$SANDBOX/stdout" 2> "$SANDBOX/stderr" || status=$?
  [ "$status" -eq 2 ] && [ ! -s "$SANDBOX/stdout" ] && [ "$(wc -l < "$SANDBOX/stderr")" -eq 1 ] \
    && grep -q "^kiv-config-lint: cannot read $KIV_CONFIG_URL: " "$SANDBOX/stderr"
}

[ "${1:-}" = --definitions-only ] && return 0

kernel_2_6=$(setarch "$(uname -m)" --uname-2.6 uname -r)
check "preview: this machine, as the driver sees it" \
  in_sandbox same_as_driver debian_bookworm env -- FILE
check "preview: another distribution, by --config-id" \
  in_sandbox same_as_driver ubuntu_jammy env -- --config-id '[Ubuntu jammy]' FILE
check "preview: an i686 machine, by --arch" \
  in_sandbox same_as_driver debian_bookworm setarch i686 -- --arch i686 FILE
check "preview: a 2.6 kernel, by --kernel" \
  in_sandbox same_as_driver debian_bookworm setarch "$(uname -m)" --uname-2.6 -- \
  --kernel "$kernel_2_6" FILE
check "preview: all three at once, of a file fetched over HTTPS" \
  in_sandbox same_as_driver ubuntu_jammy setarch i686 --uname-2.6 -- \
  --config-id '[Ubuntu jammy]' --arch i686 --kernel "$kernel_2_6" "$KIV_CONFIG_URL"
check "checking a URL: the same diagnostics, named after the URL" in_sandbox checks_a_url
check "checking a URL that cannot be fetched: status 2" in_sandbox unreachable_url

# The command line reads only local files from here on, so it needs no sandbox.
# expect_lint NAME STATUS EXPECTED_STDOUT ARGUMENTS...: runs the lint and compares.
expect_lint ()
{
  local name=$1 want_status=$2 want_stdout=$3 status=0
  shift 3
  "$KIV_LINT" "$@" > "$e2e_scratch/stdout" 2> "$e2e_scratch/stderr" || status=$?
  expect_result "$name" "$status" "$want_status" "$want_stdout"
}

machines=$e2e_scratch/machines.cfg
machines_file "$machines"
warnings=$e2e_scratch/warnings.cfg
printf '[A]\ni a:armhf\n\n[B]\n' > "$warnings"
sample=$(dirname "${BASH_SOURCE[0]}")/../../data/kiv-config.cfg
unrecognised="$machines:15:1: error: unrecognised instruction 'x'; the line is skipped [unknown-instruction]$NL"
cr="$machines:10:18: warning: error text keeps a trailing carriage return [error-carriage-return]$NL"
armhf="$warnings:2:5: warning: architecture suffix \"armhf\" names no known architecture, so the line is kept on every machine [unknown-architecture]$NL"
empty_b="$warnings:4:1: warning: section [B] has no instruction [empty-section]$NL"

expect_lint "an error: status 1" 1 "$cr$unrecognised" "$machines"
expect_lint "warnings alone: status 0" 0 "$armhf$empty_b" "$warnings"
expect_lint "--strict: warnings fail too" 1 "$armhf$empty_b" --strict "$warnings"
expect_lint "standard input" 1 "${cr//$machines/<stdin>}${unrecognised//$machines/<stdin>}" - < "$machines"
expect_lint "--json diagnostics" 0 "[
  {
    \"file\" : \"$warnings\",
    \"line\" : 2,
    \"column\" : 5,
    \"severity\" : \"warning\",
    \"name\" : \"unknown-architecture\",
    \"message\" : \"architecture suffix \\\"armhf\\\" names no known architecture, so the line is kept on every machine\"
  },
  {
    \"file\" : \"$warnings\",
    \"line\" : 4,
    \"column\" : 1,
    \"severity\" : \"warning\",
    \"name\" : \"empty-section\",
    \"message\" : \"section [B] has no instruction\"
  }
]
" --json "$warnings"
expect_lint "--json without diagnostics" 0 "[]$NL" --json "$sample"

# Several files, as compilers take them: in order, the worst status, one summary for all.
expect_lint "several FILEs: in order, status 1" 1 "$armhf$empty_b$cr$unrecognised" "$warnings" "$machines"
check "... and a summary on standard error" \
  grep -qx "1 error and 3 warnings in 2 files" "$e2e_scratch/stderr"
expect_lint "a FILE that cannot be read among them: status 2, the rest checked" 2 "$armhf$empty_b" \
  "$warnings" "$e2e_scratch/missing.cfg" "$sample"
expect_lint "--quiet: no summary" 1 "$cr$unrecognised" --quiet "$machines"
check "... on standard error" test ! -s "$e2e_scratch/stderr"

# Colour as compilers show it: on a terminal unless NO_COLOR says otherwise, or when asked for.
bold=$'\e[01m\e[K' magenta=$'\e[01;35m\e[K' off=$'\e[m\e[K'
printf '[B]\n' > "$e2e_scratch/empty.cfg"
expect_lint "--color=always" 0 "${bold}$e2e_scratch/empty.cfg:1:1:$off ${magenta}warning:$off section [B] has no instruction [${magenta}empty-section$off]$NL" \
  --color=always "$e2e_scratch/empty.cfg"
on_terminal () { script -qec "$(printf '%q ' "$@")" /dev/null; }
check "a terminal: colour" grep -q $'\e\\[' <(on_terminal "$KIV_LINT" "$warnings")
check "a terminal with NO_COLOR set: none" \
  test -z "$(NO_COLOR=1 on_terminal "$KIV_LINT" "$warnings" | grep $'\e\\[')"
expect_lint "--color=sometimes: status 2" 2 "" --color=sometimes "$warnings"
check "--version" grep -qx "kiv-config-lint [0-9]*\.[0-9]*\.[0-9]*" <("$KIV_LINT" --version)

# Input that never ends stops at the bound.
expect_lint "/dev/zero: status 2" 2 "" /dev/zero
check "... and one line on standard error says why" \
  grep -qx "kiv-config-lint: cannot read /dev/zero: longer than 128 MiB, the most kiv-config-lint reads" \
  "$e2e_scratch/stderr"
endless_pipe () { yes | "$KIV_LINT" - 2> /dev/null; [ "${PIPESTATUS[1]}" -eq 2 ]; }
check "an endless pipe: status 2" endless_pipe

# Each config-id once, in file order, after its header line; a repeated header is not shown.
sections=$e2e_scratch/sections.cfg
{ cat "$machines"; printf '\n[Ubuntu jammy] again\ni never-read\n'; } > "$sections"
each_section ()
{
  local id
  for id in '[Debian bookworm]' '[Ubuntu jammy]'; do
    grep -F "$id" "$sections" | head -n 1
    "$KIV_LINT" --preview --config-id "$id" "$@" "$sections"
  done
}
check "--preview --all: each section as --config-id shows it" \
  cmp -s <("$KIV_LINT" --preview --all --arch amd64 --kernel 2.6.32 "$sections") \
  <(each_section --arch amd64 --kernel 2.6.32)
expect_lint "--preview --json" 0 '[
  {
    "config-id" : "[Ubuntu jammy]",
    "lists" : {
      "errors" : null,
      "sources" : [],
      "keys" : [],
      "docs" : [],
      "INSTALL" : [],
      "install" : [],
      "upgrade" : [],
      "lts" : [
        "lts"
      ]
    }
  }
]
' --preview --json --config-id '[Ubuntu jammy]' --arch i386 "$machines"
# The machine is given as the back end knows one, or refused.
check "--config-id without its brackets: the same preview" \
  cmp -s <("$KIV_LINT" --preview --config-id 'Ubuntu jammy' "$machines") \
  <("$KIV_LINT" --preview --config-id '[Ubuntu jammy]' "$machines")
expect_lint "--config-id that no header has: status 1, the empty lists" 1 \
  "$("$KIV_LINT" --preview --config-id '[Debian bookworm]' /dev/null 2> /dev/null)$NL" \
  --preview --config-id '[Ubuntu focal]' "$machines"
check "... and a warning on standard error" \
  grep -qx "kiv-config-lint: warning: no section header of $machines begins with \[Ubuntu focal\], so a machine with that config-id gets nothing from it" \
  "$e2e_scratch/stderr"
expect_lint "--kernel that is no release: status 2" 2 "" --preview --kernel foo "$machines"
expect_lint "--arch that the back end does not know: status 2" 2 "" --preview --arch amd64x "$machines"
check "... and the message names the nearest" grep -q "nearest it knows: amd64$" "$e2e_scratch/stderr"

# Real releases, from the system's distro-info-data: a codename in the wrong case, or with a blank
# inside the brackets, reaches no machine.
releases=$e2e_scratch/releases.cfg
printf '[Ubuntu Noble]\ni a\n\n[Debian bookworm ]\ni b\n' > "$releases"
expect_lint "headers no lsb_release prints: warnings naming the codename it does" 0 \
  "$releases:1:9: warning: Ubuntu has no release 'Noble'; did you mean 'noble' (24.04 LTS)? [unknown-release]
$releases:4:9: warning: Debian has no release 'bookworm '; did you mean 'bookworm' (12)? [unknown-release]
" "$releases"
expect_lint "--disable and --severity choose by the same names" 0 "" \
  --disable=unknown-release --severity=error "$releases" "$warnings"
expect_lint "--disable with a name no check has: status 2" 2 "" --disable=unknown-releases "$releases"
check "... and the message names the nearest" grep -q "did you mean unknown-release?$" "$e2e_scratch/stderr"
printf '[Debian bullseye]\ni a\n' > "$e2e_scratch/ended.cfg"
expect_lint "a release whose support ended: nothing unless asked for" 0 "" "$e2e_scratch/ended.cfg"
check "... and with --enable=ended-support, an info finding with the date" \
  grep -q "^$e2e_scratch/ended.cfg:1:9: info: support for Debian bullseye (11) ended on 2024-08-14" \
  <("$KIV_LINT" --enable=ended-support "$e2e_scratch/ended.cfg")
expect_lint "--severity that is none: status 2" 2 "" --severity=style "$releases"
manual_page=$(dirname "$KIV_LINT")/kiv-config-lint.1
every_check_in_manual ()
{
  local name
  for name in $("$KIV_LINT" --list-checks | cut -d ' ' -f 1); do
    # roff writes each hyphen of a name as \-
    grep -qF ".BR ${name//-/\\-} " "$manual_page" || { echo "not in the manual: $name"; return 1; }
  done
}
check "--list-checks: every check, each in the manual page" every_check_in_manual

sarif_log ()
{
  # status 1: machines holds an error
  { "$KIV_LINT" --format=sarif "$machines" "$warnings" || true; } | python3 -c '
import json, sys
log = json.load(sys.stdin)
rules = {rule["id"] for rule in log["runs"][0]["tool"]["driver"]["rules"]}
results = log["runs"][0]["results"]
assert log["version"] == "2.1.0" and len(results) == 4, results
assert all(r["ruleId"] in rules and r["message"]["text"] for r in results)'
}
check "--format=sarif: one run, a result for each diagnostic of every file" sarif_log

# On a terminal: the source line and a caret, and nothing the file holds that the terminal
# would obey; into a pipe, the preview is the dump byte for byte.
hostile=$e2e_scratch/hostile.cfg
printf '[A]\ne \033]0;owned\a \302\233 \342\200\256 text\nx \033[2J\n' > "$hostile"
check "a terminal: the tty form, with the source line and a caret" \
  cmp -s <(NO_COLOR=1 on_terminal "$KIV_LINT" -q "$warnings" | tr -d '\r') \
  <(printf '%s\n' "$warnings:2:5: warning: architecture suffix \"armhf\" names no known architecture, so the line is kept on every machine [unknown-architecture]" \
    '    2 | i a:armhf' '      |     ^' \
    "$warnings:4:1: warning: section [B] has no instruction [empty-section]" '    4 | [B]' '      | ^')
no_raw_controls () { ! LC_ALL=C grep -q $'\033\\|\302\233\\|\342\200\256' <("$@"); }
check "a terminal: no control from the file in the diagnostics" \
  no_raw_controls env NO_COLOR=1 script -qec "$(printf '%q ' "$KIV_LINT" -q "$hostile")" /dev/null
check "a terminal: none in the preview either" \
  no_raw_controls script -qec "$(printf '%q ' "$KIV_LINT" --preview --config-id A "$hostile")" /dev/null
check "a pipe: the preview keeps every byte" \
  grep -qF $'errors: [\033]0;owned\a \302\233 \342\200\256 text]' <("$KIV_LINT" --preview --config-id A "$hostile")
expect_lint "--config-id that no header has, but nearly: status 1" 1 \
  "$("$KIV_LINT" --preview --config-id '[Debian bookworm]' /dev/null 2> /dev/null)$NL" \
  --preview --config-id '[ubuntu jamy]' "$machines"
check "... and the nearest header is named" \
  grep -qx "kiv-config-lint: the nearest header is \[Ubuntu jammy\], at line 12" "$e2e_scratch/stderr"

expect_lint "no FILE: status 2" 2 ""
expect_lint "--all without --preview: status 2" 2 "" --all "$machines"
expect_lint "a file that cannot be read: status 2" 2 "" "$e2e_scratch/missing.cfg"
check "... and one line on standard error says why" \
  grep -qx "kiv-config-lint: cannot read $e2e_scratch/missing.cfg: .*" "$e2e_scratch/stderr"
e2e_finish
