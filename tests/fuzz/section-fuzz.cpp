// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Whole configuration files through the section parser. The first byte picks the machine and
// the config-id looked for; the rest is the file's text.
//
// Checked: the record equals the one made by feeding the selected section's lines to the line
// parser one by one, with the section found and ended here by a separate, naive reading of the
// file layout; every stored value is a piece of one of those lines; an observer changes nothing
// and is shown those lines; the dump shows exactly what the lists hold; and one walk over every
// section of the file reads each selected one as parse_section does.
#include <algorithm>
#include <vector>

#include "fuzz-util.h"

namespace
{
std::vector<std::string_view> split_lines (std::string_view text)
{
  std::vector<std::string_view> lines;
  if (text.empty ())
    return lines;
  size_t start = 0;
  while (true)
    {
      const auto end = text.find ('\n', start);
      lines.push_back (text.substr (start, end == std::string_view::npos ? end : end - start));
      if (end == std::string_view::npos)
        return lines;
      start = end + 1;
    }
}

// The body of the first section whose header begins with config_id: the lines after the header
// up to an empty line or the end. A line opening another section is included: the line parser
// is what says it ends the section.
std::vector<std::string_view> section_body (std::string_view text, std::string_view config_id)
{
  const auto lines = split_lines (text);
  std::vector<std::string_view> body;
  size_t i = 0;
  while (i < lines.size () && !lines[i].starts_with (config_id))
    i++;
  for (i++; i < lines.size () && !lines[i].empty (); i++)
    body.push_back (lines[i]);
  return body;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t *data, size_t size)
{
  if (size == 0)
    return 0;
  // The empty config-id and "[" stand for a machine without distribution information, whose
  // config-id still has to select something sensible.
  static constexpr std::string_view config_ids[]
      = { "[Debian bookworm]", "[Ubuntu trusty]", "[(null) (null)]", "[", "" };
  const HostFacts &host = host_for (data[0]);
  const auto config_id = config_ids[(data[0] >> 4) % G_N_ELEMENTS (config_ids)];
  const std::string text = as_c_text (data + 1, size - 1);

  g_autoptr (Configuration) config = new_configuration ();
  parse_section (config, text, config_id, host);

  const auto body = section_body (text, config_id);
  g_autoptr (Configuration) reference = new_configuration ();
  for (const auto line : body)
    if (!parse_instruction (reference, line, host))
      break;

  const Lists lists = lists_of (config);
  FUZZ_CHECK (lists == lists_of (reference));

  // An observer sees the lines the section parser reads and changes nothing.
  g_autoptr (Configuration) observed = new_configuration ();
  LineRecorder recorder;
  parse_section (observed, text, config_id, host, &recorder);
  FUZZ_CHECK (lists_of (observed) == lists);
  FUZZ_CHECK (recorder.lines.size () <= body.size ());
  FUZZ_CHECK (std::equal (recorder.lines.begin (), recorder.lines.end (), body.begin ()));
  for (const auto &[name, values] : lists)
    for (const auto &value : values.value_or (std::vector<std::string>{}))
      {
        bool found = false;
        for (const auto line : body)
          if (line.find (value) != std::string_view::npos)
            {
              found = true;
              break;
            }
        FUZZ_CHECK (found);
      }
  check_dump_lists_everything (config);

  // One walk over the whole file reads every section a machine selects as parse_section reads
  // the section of its config-id, and tells of every line.
  SectionRecorder walked;
  walk_sections (text, host, walked);
  for (const auto &section : walked.sections)
    if (section.selected_line == section.line)
      {
        g_autoptr (Configuration) alone = new_configuration ();
        LineRecorder alone_lines;
        parse_section (alone, text, section.config_id, host, &alone_lines);
        FUZZ_CHECK (section.lists == lists_of (alone));
        FUZZ_CHECK (section.lines == alone_lines.lines);
      }
  FUZZ_CHECK (walked.announced.size () == line_count (text));
  return 0;
}
