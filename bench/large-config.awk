# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# Prints a configuration file of at least `bytes` bytes made of one section headed `id`, cycling
# through the instruction kinds a real section holds (one line in eleven is a comment, one an
# install line for the other 64-bit naming, which an x86_64 machine drops).
#   awk -v bytes=52428800 -v id='[Debian bookworm]' -f large-config.awk
BEGIN {
  print "# generated: one large section"
  print id
  written = length (id) + 32
  split ("s deb https://repo.example.org/kiv/debian bookworm main component-|i kiv-package-|" \
         "i kiv-library-|I kiv-core-|k 3.10 99 i kiv-kernel-|d https://docs.example.com/kiv/|" \
         "g https://repo.example.org/kiv/key-|u kiv-update-|# comment |" \
         "e Please read the release notes |l kiv-lts-", prefixes, "|")
  split ("||:i386|:amd64|||.asc|||\r|", suffixes, "|")
  for (i = 0; written < bytes; i++) {
    kind = i % 11 + 1
    line = prefixes[kind] i suffixes[kind]
    print line
    written += length (line) + 1
  }
}
