// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include <gtest/gtest.h>

#include "check.h"
#include "kiv-test.h"

namespace
{
// The parser logs what it skips; the diagnostics are what is checked here.
[[maybe_unused]] const bool writer_installed = record_logs ();

Diagnostic error (std::size_t line, std::string message)
{
  return { line, Severity::error, std::move (message) };
}

Diagnostic warning (std::size_t line, std::string message)
{
  return { line, Severity::warning, std::move (message) };
}

} // namespace

void PrintTo (const Diagnostic &diagnostic, std::ostream *out)
{
  *out << diagnostic.line << (diagnostic.severity == Severity::error ? ": error: " : ": warning: ")
       << diagnostic.message;
}

// Each file holds one trap, and the diagnostics name its line and say what the back end does.
TEST (CheckConfiguration, FindsEachTrapAtItsLine)
{
  using namespace std::string_literals;
  const std::string never_applies = "kernel range does not match \"<low> <high> <instruction>\" "
                                    "with a blank after each bound, so it never applies";
  const struct
  {
    std::string file;
    std::vector<Diagnostic> want;
  } cases[] = {
    { "[A]\ni a\nx b\n", { error (3, "unrecognised instruction 'x'; the line is skipped") } },
    { "[A]\ni a\n\ti a\n", { error (3, "unrecognised instruction '\\t'; the line is skipped") } },
    { "[A]\n\xc3\xa9t\xc3\xa9\ni a\n",
      { error (2, "unrecognised instruction '\xc3\xa9'; the line is skipped") } },
    // Nested instructions are checked whatever kernel they are meant for.
    { "[A]\nk 1 2 k 3 4 x\n", { error (2, "unrecognised instruction 'x'; the line is skipped") } },
    { "[A]\ni a\nk 3.10 3.14\n", { error (3, never_applies) } },
    { "[A]\nk 1 2 k 3 4i a\n", { error (2, never_applies) } },
    { "[A]\nk 1 2 i \xff\n",
      { error (2, never_applies), warning (2, "kernel range text is not valid UTF-8") } },
    // Nothing after a NUL byte is read, not even a trap.
    { "[A]\ni a\ni b\0\nx c\n"s,
      { error (3, "NUL byte: the back end reads no further, so the rest of the file is "
                  "ignored") } },
    { "\0"s,
      { error (1, "NUL byte: the back end reads no further, so the rest of the file is "
                  "ignored") } },
    { "[A]\ni a\n\n# a comment is fine\ni b\n\n[B]\ni c\n",
      { warning (5, "line is never read: section [A] ended at the empty line 3") } },
    { "i a\n[A]\ni b\n", { warning (1, "line is never read: no section header comes before it") } },
    { "[A]\r\ni a\r\n\r\ni b\r\n[B]\r\ni c\r\n",
      { warning (3, "line holds only a carriage return, which does not end section [A]; it "
                    "runs on to line 4") } },
    { "[A]\ni a\n\r\n[B]\ni b\n",
      { warning (3, "line holds only a carriage return, which does not end section [A]") } },
    { "[A]\nk 5.10 5.4 i a\n",
      { warning (2, "kernel range 5.10 5.4 holds no kernel: its low bound is not below its high "
                    "bound") } },
    { "[A]\ni a\n\n[B]\ni b\n\n[A] again\ni c\n",
      { warning (7, "section header [A] repeats line 1; only the section at line 1 is read") } },
    { "[A\ni a\n", { warning (1, "section header has no \"]\", so no config-id selects it") } },
    { "[A]\ni a:armhf\n",
      { warning (2, "architecture suffix \"armhf\" names no known architecture, so the line "
                    "is kept on every machine") } },
    { "[A]\ni a:amd64\r\n",
      { warning (2, "architecture suffix \"amd64\\r\" names no known architecture, so the "
                    "line is kept on every machine") } },
    { "[A]\nd\n", { warning (2, "empty value in docs") } },
    { "[A]\nk 1 2 e \n", { warning (2, "empty value in errors") } },
    { "[A]\ne Upgrade first\r\n", { warning (2, "error text keeps a trailing carriage return") } },
    { "[A]\n# todo\n\n[B]\ni a\n", { warning (1, "section [A] has no instruction") } },
    { "[A]\n[B]\ni a\n", { warning (1, "section [A] has no instruction") } },
  };
  for (const auto &c : cases)
    {
      g_autofree char *file = g_strescape (c.file.c_str (), nullptr);
      SCOPED_TRACE (file);
      EXPECT_EQ (check_configuration (c.file), c.want);
    }
}

// Well-formed files raise nothing: every instruction kind, ranges that apply to some kernel,
// suffixes of both families, and sections kept apart by one empty line.
TEST (CheckConfiguration, PassesWellFormedFiles)
{
  const std::string file = "# comment\n"
                           "[Debian bookworm] # comment\n"
                           "e Upgrade first\n"
                           "s deb http://a.example/ bookworm main\n"
                           "g http://a.example/key.asc\n"
                           "docs http://a.example/docs\n"
                           "I core:i386\n"
                           "i tools:amd64\n"
                           "u helper\n"
                           "l lts\n"
                           "k 5.10 6.1 k 5 6 i legacy:x86_64\n"
                           "n note\n"
                           "\n"
                           "[Ubuntu jammy]\n"
                           "i tools\n"
                           "[Ubuntu noble]\n"
                           "i tools\n";
  EXPECT_EQ (check_configuration (file), std::vector<Diagnostic>{});

  g_autofree char *sample = nullptr;
  gsize length = 0;
  ASSERT_TRUE (g_file_get_contents (KIV_SAMPLE_CONFIG, &sample, &length, nullptr));
  EXPECT_EQ (check_configuration ({ sample, length }), std::vector<Diagnostic>{});
}

// Diagnostics come in file order, across sections and the lines between them.
TEST (CheckConfiguration, ReportsInFileOrder)
{
  const auto diagnostics = check_configuration ("[A]\nx\n\ni dead\n[B]\n[A]\nk 2 1 i a\n");
  std::vector<std::size_t> lines;
  for (const auto &diagnostic : diagnostics)
    lines.push_back (diagnostic.line);
  EXPECT_EQ (lines, (std::vector<std::size_t>{ 1, 2, 4, 5, 6 }));
}

TEST (SectionHeaders, TakeTheConfigIdUpToTheFirstBracket)
{
  const auto headers = section_headers ("# c\n[A b] x]\ni\n[C\n[D]\r\n");
  ASSERT_EQ (headers.size (), 3u);
  EXPECT_EQ (headers[0].line, 2u);
  EXPECT_EQ (headers[0].text, "[A b] x]");
  EXPECT_EQ (headers[0].config_id, "[A b]");
  EXPECT_EQ (headers[1].config_id, "");
  EXPECT_EQ (headers[2].config_id, "[D]");
}
