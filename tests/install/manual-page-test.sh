#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# Usage: manual-page-test.sh PAGE
# A manual page with a roff mistake still renders, only wrongly, so any warning fails the test.
set -euo pipefail

page=$1
warnings=$(groff -ww -man -Tutf8 -z "$page" 2>&1)
if [ -n "$warnings" ]; then
  echo "FAIL: groff warns about $page:"
  echo "$warnings"
  exit 1
fi
if command -v man >/dev/null; then
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "FAIL: man warns about $page:"
    echo "$warnings"
    exit 1
  fi
fi
