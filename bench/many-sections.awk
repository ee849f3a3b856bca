# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# Prints a configuration file of at most `bytes` bytes in `sections` sections of equal size, each
# with a header of its own and separated by one empty line, cycling through the instruction kinds
# a real section holds. Nothing in it is a mistake, so a checker reads every line and reports
# nothing.
#   awk -v bytes=20971520 -v sections=20000 -f many-sections.awk
BEGIN {
  split ("s deb https://repo.example.org/kiv/debian bookworm main component-|i kiv-package-|" \
         "i kiv-library-|I kiv-core-|k 3.10 99 i kiv-kernel-|d https://docs.example.com/kiv/|" \
         "g https://repo.example.org/kiv/key-|u kiv-update-|# comment |" \
         "e Please read the release notes |l kiv-lts-", prefixes, "|")
  split ("||:i386|:amd64|||.asc||||", suffixes, "|")
  per_section = bytes / sections
  for (s = 0; s < sections; s++) {
    header = "[Distributor codename-" s "]"
    print header
    written = length (header) + 2 # and the empty line after the section
    for (i = 0; ; i++) {
      kind = i % 11 + 1
      line = prefixes[kind] s "-" i suffixes[kind]
      if (written + length (line) + 1 > per_section)
        break
      print line
      written += length (line) + 1
    }
    print ""
  }
}
