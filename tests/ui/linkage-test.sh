#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# Usage: linkage-test.sh LIBKIV_UI LIBKIV DRIVER
# Installers without a graphical front end must be able to use libkiv.so and the driver on a
# machine without GTK, so only libkiv-ui.so may need it; and libkiv-ui.so exports display_error
# alone, so nothing private becomes an interface someone relies on.
set -u
ui=$1 kiv=$2 driver=$3
status=0

needs_gtk ()
{
  readelf -d "$1" | grep -q 'NEEDED.*libgtk-3'
}

needs_gtk "$ui" || { echo "FAIL: $ui does not link GTK"; status=1; }
for binary in "$kiv" "$driver"; do
  ! needs_gtk "$binary" || { echo "FAIL: $binary links GTK"; status=1; }
done

exports=$(nm -D --defined-only "$ui" | awk '$2 == "T" { print $3 }' | sort | tr '\n' ' ')
[ "$exports" = "display_error " ] || { echo "FAIL: $ui exports: $exports"; status=1; }

exit $status
