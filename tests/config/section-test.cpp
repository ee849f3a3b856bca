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
  // Only the sections the walker parses are told as selected.
  EXPECT_EQ (walked.selected, (std::set<std::size_t>{ 2, 5 }));
}

// The config-id decides which section a machine reads, so it is held to the text written out.
TEST (ConfigIdFor, JoinsDistributorAndCodename)
{
  Record record;
  record.release = g_strdup ("24.04");
  g_autofree char *absent = config_id_for (&record);
  record.distributor = g_strdup ("Ubuntu");
  record.codename = g_strdup ("noble");
  g_autofree char *id = config_id_for (&record);
  g_autofree char *none = config_id_for (nullptr);
  EXPECT_STREQ (id, "[Ubuntu noble]");
  EXPECT_STREQ (absent, "[(null) (null)]");
  EXPECT_STREQ (none, "[(null) (null)]");
}

// What a machine reads of a text, written out by hand: the header selected, the lines parsed, and
// where and why the section ends.
TEST (ParseSection, ReadsTheLinesUpToTheEndOfTheSection)
{
  const struct
  {
    const char *text, *config_id;
    std::size_t selected; // 0: no header selected, and nothing read
    std::vector<std::string> lines;
    std::size_t end_line;
    SectionEnd why;
  } cases[] = {
    { "[A]\ni a\n\ni b\n", "[A]", 1, { "i a" }, 3, SectionEnd::empty_line },
    { "[B]\n[A] x\ni a\n[C]\ni c\n", "[A]", 2, { "i a", "[C]" }, 4, SectionEnd::next_section },
    // No final line break: the end is one past the last line.
    { "[A]\ni a\ni b", "[A]", 1, { "i a", "i b" }, 4, SectionEnd::end_of_text },
    { "[A]\r\n\r\ni a\r\n", "[A]", 1, { "\r", "i a\r" }, 4, SectionEnd::empty_line },
    { "x[A]\n", "[A]", 0, {}, 0, SectionEnd::end_of_text },
  };
  for (const auto &c : cases)
    {
      g_autofree char *escaped = g_strescape (c.text, nullptr);
      SCOPED_TRACE (escaped);
      g_autoptr (Configuration) config = new_configuration ();
      LineRecorder read;
      parse_section (config, c.text, c.config_id, host, &read);
      EXPECT_EQ (read.selected, c.selected);
      EXPECT_EQ (read.lines, c.lines);
      EXPECT_EQ (read.end_line, c.end_line);
      EXPECT_EQ (read.why, c.why);
    }
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
