// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include <gtest/gtest.h>

#include "kiv-test.h"

namespace
{
const HostFacts host = { "x86_64", "5.15.0-91-generic" };
} // namespace

TEST (SectionHeaders, TakeTheConfigIdUpToTheFirstBracket)
{
  SectionRecorder walked;
  walk_sections ("# c\n[A b] x]\ni\n[C\n[D]\r\n[A b]]\n", host, walked);
  const auto &sections = walked.sections;
  ASSERT_EQ (sections.size (), 4u);
  EXPECT_EQ (sections[0].line, 2u);
  EXPECT_EQ (sections[0].header, "[A b] x]");
  EXPECT_EQ (sections[0].config_id, "[A b]");
  EXPECT_EQ (sections[1].config_id, "");
  EXPECT_EQ (sections[1].selected_line, 0u);
  EXPECT_EQ (sections[2].config_id, "[D]");
  // A later header with the same config-id is never selected.
  EXPECT_EQ (sections[3].selected_line, 2u);
}

// One walk over the whole text reads each selected section exactly as parse_section reads the
// section of its config-id, and tells of every line.
TEST (WalkSections, ReadsEachSectionAsParseSectionDoes)
{
  const std::string texts[] = {
    "# c\n[A]\ni a\nI core:amd64\nx\n[B] b\ni b\n\ni never\n[A]\ni again\n",
    "[A]\r\ni a\r\n\r\ni b\r\n[B]\ni c", // no empty line, no final line break
    "[A]\nk 5 6 [B]\nk 5 6 i kernel\nk 1 2 i old\n[B\ni d\n\n\n[B\n[C]\ne \n",
    "\n\n[A]\n\n\n[A]\ni e\n[]\n[\n",
    "",
  };
  for (const auto &text : texts)
    {
      g_autofree char *escaped = g_strescape (text.c_str (), nullptr);
      SCOPED_TRACE (escaped);
      SectionRecorder walked;
      walk_sections (text, host, walked);
      for (const auto &section : walked.sections)
        {
          if (section.selected_line != section.line)
            continue;
          SCOPED_TRACE (section.config_id);
          g_autoptr (Configuration) config = new_configuration ();
          LineRecorder lines;
          parse_section (config, text, section.config_id, host, &lines);
          EXPECT_EQ (section.lists, lists_of (config));
          EXPECT_EQ (section.lines, lines.lines);
        }
      EXPECT_EQ (walked.announced.size (), line_count (text));
    }
}
