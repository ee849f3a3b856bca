#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
"""Usage: callback-ctypes.py SCANNED_GIR GIR

Copies the scanner's GIR, giving each callback of the namespace its C type.

g-ir-scanner writes a callback's c:type only when it differs from the callback's name, and the
name of an unprefixed callback (ProgressFunc) is its C type. Readers that take C types from the
GIR, gi-docgen among them, then know none: the reference would declare "void (* None) (...)", give
every parameter of the callback's type as "Type: None", and its search would fail on the null.
Everything else is copied byte for byte: dh_girepository reads the file line by line.
"""
import re
import sys
import xml.etree.ElementTree as ET

CORE = "{http://www.gtk.org/introspection/core/1.0}"
C_TYPE = "{http://www.gtk.org/introspection/c/1.0}type"

# The start tag of a callback of the namespace, which the scanner indents by four spaces; a
# callback that types a record's field sits deeper, and has no C type of its own.
CALLBACK = re.compile(r'^(    <callback name="([^"]+)")([^>]*>)', re.MULTILINE)


def with_ctype(match: re.Match) -> str:
    start, name, rest = match.groups()
    if "c:type=" in rest:
        return match.group(0)
    return f'{start} c:type="{name}"{rest}'


def main(scanned: str, gir: str) -> int:
    with open(scanned, encoding="utf-8") as f:
        text = CALLBACK.sub(with_ctype, f.read())
    # Should the scanner lay its output out differently, fail here rather than ship callbacks
    # without a C type again.
    namespace = ET.fromstring(text).find(CORE + "namespace")
    missing = [c.get("name") for c in namespace.findall(CORE + "callback") if C_TYPE not in c.attrib]
    if missing:
        print(f"{scanned}: no C type given to the callbacks {', '.join(missing)}", file=sys.stderr)
        return 1
    with open(gir, "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
