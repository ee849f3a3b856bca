#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# Usage: translation-template-test.sh KIV_POT
# The template is what translators of an installer work from, so it must hold every message the
# back end translates, nothing else, and mark each as a C format string: gettext tools then
# refuse a translation whose directives do not match, which would otherwise crash the printf
# that fills it in.
set -euo pipefail

pot=$1

# One line per message: its flags, a tab, its msgid. The header entry (empty msgid) is skipped.
entries=$(awk '
  /^#,/        { flags = substr ($0, 4) }
  /^msgid "/   { id = substr ($0, 8, length ($0) - 8); if (id != "") print flags "\t" id; flags = "" }
' "$pot" | sort)

expected=$(printf '%s\n' \
  'c-format	fetched %lu bytes' \
  'c-format	fetching %s' \
  'c-format	looking up %s configuration' \
  'c-format	saving to %s' | sort)

if [ "$entries" != "$expected" ]; then
  echo "FAIL: $pot holds"
  echo "$entries"
  echo "but should hold"
  echo "$expected"
  exit 1
fi

# A message spread over several lines starts with an empty msgid like the header and would not
# be seen above, so there must be exactly one empty msgid besides the four.
messages=$(grep -c '^msgid ' "$pot")
if [ "$messages" != 5 ]; then
  echo "FAIL: $pot has $messages msgid lines, the header and four messages expected"
  exit 1
fi

# Two builds of the same sources must install the same template, so its creation date is not the
# build's clock: the date a package build names in SOURCE_DATE_EPOCH, or gettext's placeholder.
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  date=$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M+0000')
else
  date='YEAR-MO-DA HO:MI+ZONE'
fi
if ! grep -qxF "\"POT-Creation-Date: $date\\n\"" "$pot"; then
  echo "FAIL: $pot was created $(grep POT-Creation-Date "$pot"), not $date"
  exit 1
fi
