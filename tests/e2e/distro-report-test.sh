#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# The driver's distribution report on machines with and without the release command and the
# Fedora release file.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

debian_machine ()
{
  fake_lsb_release <<'OUT'
Distributor ID:	Debian
Description:	Debian GNU/Linux 12 (bookworm)
Release:	12
Codename:	bookworm
OUT
  run_driver
}

no_codename ()
{
  printf 'Distributor ID:\tUbuntu\nRelease:\t14.04\n' | fake_lsb_release
  run_driver
}

# The release command runs but prints nothing: a record with every field absent.
silent_command ()
{
  fake_lsb_release < /dev/null
  run_driver
}

fedora_file ()
{
  printf 'Fedora release 20 (Heisenbug)\n' > /etc/fedora-release
  run_driver
}

fedora_file_without_match ()
{
  printf 'Fedora release rawhide\n' > /etc/fedora-release
  run_driver
}

nothing_at_all ()
{
  run_driver
}

# The command reads the null device, not the driver's input, and what it writes on standard
# error is not taken for its output.
noisy_command ()
{
  cat > "$SANDBOX/bin/lsb_release" <<'SH'
#!/bin/sh
echo "No LSB modules are available." >&2
read -r line && echo "stdin was not empty: $line"
printf 'Distributor ID:\tUbuntu\nCodename:\ttrusty\nRelease:\t14.04\n'
SH
  chmod +x "$SANDBOX/bin/lsb_release"
  echo "typed input" | run_driver
}

[ "${1:-}" = --definitions-only ] && return 0

# No configuration server answers here, so every report ends with the configuration check failing.
block ()
{
  printf "Distribution:\n{\n    distributor: '%s'\n    release    : '%s'\n    codename   : '%s'\n    config-id  : [%s %s]\n}\n" \
    "$1" "$2" "$3" "$1" "$3"
  printf 'Config not found at %s\n' "$KIV_CONFIG_URL"
}

expect_run "a Debian machine" 1 "$(block Debian 12 bookworm)$NL" debian_machine
expect_run "no codename" 1 "$(block Ubuntu 14.04 '(null)')$NL" no_codename
expect_run "no keys at all" 1 "$(block '(null)' '(null)' '(null)')$NL" silent_command
expect_run "Fedora release file" 1 "$(block Fedora 20 Heisenbug)$NL" fedora_file
expect_run "Fedora release file without a match" 1 "$(block Fedora Unknown Unknown)$NL" fedora_file_without_match
expect_run "no release information" 1 $'ERROR: No distro information (!)\n' nothing_at_all
expect_run "release command on the null device" 1 "$(block Ubuntu 14.04 trusty)$NL" noisy_command
e2e_finish
