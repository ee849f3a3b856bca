// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// generated-config.h: the configuration the bundled server's big modes send, made line by line so
// that no size of it sits in memory, and made again by the tests that check what was stored. A
// section headed [Debian bookworm] whose lines cycle through the instruction kinds a real section
// holds. Every line is generated_line_length bytes, so a MiB holds whole lines.
#pragma once

#include <string>

#include <glib.h>

constexpr gsize generated_line_length = 32;
constexpr guint64 generated_lines_per_mib = (1 << 20) / generated_line_length;

// Line n of the text, its '\n' included.
inline std::string generated_config_line (guint64 n)
{
  static const char *const kinds[]
      = { "i kiv-package-", "I kiv-core-", "u kiv-update-", "l kiv-lts-", "# comment " };
  std::string line = n == 0 ? "[Debian bookworm] # generated" : kinds[n % G_N_ELEMENTS (kinds)];
  const std::string number = n == 0 ? "" : std::to_string (n);
  // A header is padded with blanks, an instruction's number with zeros.
  line.append (generated_line_length - 1 - line.size () - number.size (), n == 0 ? ' ' : '0');
  return line + number + '\n';
}
