// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Which lines of a configuration file a machine reads: its section, found by its config-id.
#include "parse-private.h"

#include <unordered_map>

namespace
{
const char *or_null (const char *text)
{
  return text != nullptr ? text : "(null)";
}

// The lines of a section after its header, up to the line that ends it, which is left in line:
// an empty line, a line that starts the next section, or none at the end of the text. Each line
// is announced, then parsed into config; without a record the lines are only walked.
SectionEnd walk_section_body (Lines &lines, std::string_view &line, Configuration *config,
                              const HostFacts &host, ParseObserver *observer)
{
  while (lines.next (line))
    {
      if (line.empty ())
        return SectionEnd::empty_line;
      if (observer != nullptr)
        observer->section_line (lines.number (), line);
      const bool goes_on = config != nullptr ? parse_instruction (config, line, host, observer)
                                             : !starts_section (line);
      if (!goes_on)
        return SectionEnd::next_section;
    }
  return SectionEnd::end_of_text;
}

void report_end (const Lines &lines, SectionEnd why, ParseObserver *observer)
{
  if (observer != nullptr)
    observer->section_ended (lines.number () + (why == SectionEnd::end_of_text), why);
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
  report_end (lines, walk_section_body (lines, line, config, host, observer), observer);
}

// A header's config-id ends at its first "]", so the first line that begins with it is the
// first header with the same config-id: that is the header parse_section selects, and a map
// of the config-ids seen so far tells it in one pass.
void walk_sections (std::string_view text, const HostFacts &host, SectionWalker &walker)
{
  std::unordered_map<std::string_view, std::size_t> first_header;
  Lines lines (text);
  std::string_view line;
  bool has_line = lines.next (line);
  while (has_line)
    {
      if (!starts_section (line))
        {
          walker.outside_line (lines.number (), line);
          has_line = lines.next (line);
          continue;
        }
      const auto number = lines.number ();
      const auto close = line.find (']');
      const auto config_id
          = close == std::string_view::npos ? line.substr (0, 0) : line.substr (0, close + 1);
      const auto selected
          = config_id.empty () ? 0 : first_header.try_emplace (config_id, number).first->second;
      Configuration *config = walker.section_header (number, line, config_id, selected);
      if (config != nullptr)
        walker.section_selected (number, line);
      const auto why = walk_section_body (lines, line, config, host, &walker);
      report_end (lines, why, &walker);
      has_line = why == SectionEnd::next_section || lines.next (line);
    }
}
