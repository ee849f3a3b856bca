// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Which lines of a configuration file a machine reads: its section, found by its config-id.
#include "parse-private.h"

namespace
{
const char *or_null (const char *text)
{
  return text != nullptr ? text : "(null)";
}
} // namespace

char *config_id_for (const DistroInformation *distro)
{
  return g_strdup_printf ("[%s %s]", or_null (distro != nullptr ? distro->distributor : nullptr),
                          or_null (distro != nullptr ? distro->codename : nullptr));
}

void parse_section (Configuration *config, std::string_view text, std::string_view config_id,
                    const HostFacts &host, ParseObserver *observer)
{
  Lines lines (text);
  std::string_view line;
  bool found = false;
  while (!found && lines.next (line))
    found = line.starts_with (config_id);
  if (!found)
    return;
  if (observer != nullptr)
    observer->section_selected (lines.number (), line);

  // The section ends before an empty line or at one that opens the next section.
  auto why = SectionEnd::end_of_text;
  while (lines.next (line))
    {
      if (line.empty ())
        {
          why = SectionEnd::empty_line;
          break;
        }
      if (observer != nullptr)
        observer->section_line (lines.number (), line);
      if (!parse_instruction (config, line, host, observer))
        {
          why = SectionEnd::next_section;
          break;
        }
    }
  if (observer != nullptr)
    observer->section_ended (lines.number () + (why == SectionEnd::end_of_text), why);
}
