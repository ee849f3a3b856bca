// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include <gtest/gtest.h>
#include <random>

#include "kiv-test.h"

namespace
{
const HostFacts trusty_host = { "x86_64", "3.13.0-24-generic" };

Lists parse_lines (std::initializer_list<std::string_view> lines,
                   const HostFacts &host = trusty_host)
{
  g_autoptr (Configuration) config = new_configuration ();
  for (auto line : lines)
    EXPECT_TRUE (parse_instruction (config, line, host)) << line;
  return lists_of (config);
}

// What GRegex itself finds with an unanchored search: the reference for find_kernel_range.
std::optional<std::vector<std::string>> regex_groups (const std::string &text)
{
  return ::regex_groups ("([0-9.]+)\\s+([0-9.]+)\\s+(.*)", text);
}

std::optional<std::vector<std::string>> found_groups (const std::string &text, bool is_nested)
{
  KernelRange range;
  if (!find_kernel_range (text, is_nested, &range))
    return std::nullopt;
  return std::vector<std::string>{ std::string (range.low), std::string (range.high),
                                   std::string (range.nested) };
}
} // namespace

// On a 3.13.0-24-generic kernel, low <= release < high selects the nested instruction.
TEST (KernelRange, AppliesTheNestedInstructionInRange)
{
  const struct
  {
    const char *line;
    Lists want;
  } cases[] = {
    { "k 3.10 3.14 i pkg", with ("install", { "pkg" }) },
    { "kernel 3.10 3.14 i pkg", with ("install", { "pkg" }) }, // keyword written out
    { "k 3.10\t3.14\t\ti pkg", with ("install", { "pkg" }) },
    { "k 3.14 3.16 i pkg", empty_lists () },           // release below low
    { "k 3.13 3.13.0 i pkg", empty_lists () },         // high orders before the release
    { "k 3.13.0-24-generic 4 i pkg", empty_lists () }, // a hyphen ends a bound...
    { "k 3.13.0-24 30 i pkg", empty_lists () },        // ...so the low bound here reads 24
    { "k for 3.x kernels 3.10 3.14 i pkg", with ("install", { "pkg" }) }, // after other words
    { "k 3.10 3.14", empty_lists () },    // no blank after high: no match
    { "k 3.10 3.14   ", empty_lists () }, // empty nested instruction: nothing
    { "k 3.10 3.14 e Reboot\r", with ("errors", { "Reboot" }) }, // `.` stops at the CR
    { "k 3.10 3.14 e Reboot\vnow", with ("errors", { "Reboot" }) },
    { "k 3.10 3.14 \r\n s deb x", with ("sources", { "deb x" }) }, // line breaks are blanks
    { "k 3.10 3.14 k 3.0 4 i pkg", with ("install", { "pkg" }) },  // ranges nest
    { "k 3.10 3.14 k 4 5 i pkg", empty_lists () },
    { "k 3.14 3.16 k 3.0 4 i pkg", empty_lists () },
    { "k 3.10 3.14 i pkg:amd64", empty_lists () }, // the arch filter sees the nested text
    { "k 3.10 3.14 i pkg:i386", with ("install", { "pkg:i386" }) },
    { "k 3.10 3.14 # comment", empty_lists () },
    { "k 3.10\u00a03.14 i pkg", with ("install", { "pkg" }) }, // \s knows Unicode blanks
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.line);
      EXPECT_EQ (parse_lines ({ c.line }), c.want);
    }
  take_logs ();
}

TEST (KernelRange, IncludesLowAndExcludesHigh)
{
  const HostFacts host = { "x86_64", "3.13" };
  EXPECT_EQ (parse_lines ({ "k 3.13 3.14 s low" }, host), with ("sources", { "low" }));
  EXPECT_EQ (parse_lines ({ "k 3.12 3.13 s high" }, host), empty_lists ());
  const HostFacts no_release = { "x86_64", nullptr }; // orders before every bound
  EXPECT_EQ (parse_lines ({ "k 0 1 s none" }, no_release), empty_lists ());
}

// The nested text stands for the whole line in the rules: its result and its messages.
TEST (KernelRange, NestedInstructionIsALineOfItsOwn)
{
  g_autoptr (Configuration) config = new_configuration ();
  EXPECT_TRUE (parse_instruction (config, "k 3.10 3.14 [Ubuntu utopic]", trusty_host));
  EXPECT_TRUE (parse_instruction (config, "k 3.10 3.14 x y\r", trusty_host));
  EXPECT_TRUE (parse_instruction (config, "k 3.10 3.14 i a:amd64", trusty_host));
  EXPECT_EQ (lists_of (config), empty_lists ());
  EXPECT_EQ (take_logs (),
             (std::vector<LogRecord>{
                 { G_LOG_LEVEL_WARNING, "Unrecognised config instruction: x y (120)", false },
                 { G_LOG_LEVEL_DEBUG,
                   "Skipping foreign arch instruction i a:amd64 on native x86_64", false } }));
}

// Bytes that are not UTF-8 never reach GRegex: the range is ignored and parsing goes on.
TEST (KernelRange, IgnoresTextThatIsNotUtf8)
{
  EXPECT_EQ (parse_lines ({
                 "k 3.10 3.14 i \xff\xfe",
                 "k 3.10 3.14 i pkg\xc3",              // a sequence cut short at the end
                 "k \xc0\xaf 3.10 3.14 i pkg",         // an overlong encoding before the bounds
                 "k 3.10 3.14 k 3.0 4 i \xed\xa0\x80", // a surrogate, nested
                 "s deb x",
                 "k 3.10 3.14 i good",
             }),
             [] {
               auto lists = with ("sources", { "deb x" });
               lists["install"] = std::vector<std::string>{ "good" };
               return lists;
             }());
  EXPECT_EQ (take_logs (), std::vector<LogRecord>{});
}

// Hostile lines finish and give the plain answer: thousands of nested ranges, and bounds
// that run on for a megabyte.
TEST (KernelRange, SurvivesHostileLines)
{
  std::string nested;
  for (int i = 0; i < 100000; i++)
    nested += "k 1 9 ";
  nested += "i pkg";
  const HostFacts host = { "x86_64", "5.10" };
  EXPECT_EQ (parse_lines ({ nested }, host), with ("install", { "pkg" }));

  const std::string digits (1 << 20, '1');
  EXPECT_EQ (parse_lines ({ "k " + digits, "k " + digits + " " + digits + "s x" }, host),
             empty_lists ());
  EXPECT_EQ (parse_lines ({ "k 1." + digits + " 9 s x" }, host), with ("sources", { "x" }));
  EXPECT_EQ (parse_lines ({ "k 1 " + digits + " s y" }, host), with ("sources", { "y" }));
}

// find_kernel_range replaces one unanchored GRegex search; on any text both must agree.
TEST (FindKernelRange, AgreesWithAPlainSearch)
{
  // Pieces chosen to hit the edges: bound characters, ASCII and Unicode blanks, line breaks
  // that `.` refuses, and other text.
  // clang-format off
  const std::vector<std::string> pieces = {
    "1", "2", "0", ".", ".", " ", " ", "\t", "\r", "\n", "\v", "\f", "-", "a", "k",
    "\xc2\xa0",     // no-break space: \s, not a line break
    "\xc2\x85",     // next line: a line break
    "\xe2\x80\xa8", // line separator
    "\xe3\x80\x80", // ideographic space
    "\xc3\xa9",     // a letter
  };
  // clang-format on
  std::mt19937 random (20140417);
  int matches = 0;
  for (int round = 0; round < 20000; round++)
    {
      const std::string text = random_text (random, pieces, 40);
      const auto want = regex_groups (text);
      matches += want.has_value ();
      ASSERT_EQ (found_groups (text, false), want) << "'" << g_strescape (text.c_str (), "") << "'";

      // Nested text is what `.*` matched, so it holds no line break.
      if (want.has_value ())
        {
          const std::string inner = (*want)[2];
          ASSERT_EQ (found_groups (inner, true), regex_groups (inner))
              << "nested '" << g_strescape (inner.c_str (), "") << "'";
        }
    }
  EXPECT_GT (matches, 1000); // the pieces do produce matches, not only misses
}

// Where the pattern read from the first character stops is where a checker points: GRegex
// decides what a blank is, and offsets fall on whole characters.
TEST (KernelRangeStop, FindsTheFirstCharacterNoMatchCanTake)
{
  constexpr auto none = std::string_view::npos;
  const struct
  {
    std::string_view text;
    std::size_t want;
  } cases[] = {
    { "6.8 6.8.0-6 e x", 9 }, // a release's hyphen in a bound
    { "1 2x y", 3 },          // a letter glued to the high bound
    { "v6.1 99 i x", 0 },     // before any bound
    { "1 \xc3\xa9", 2 },      // a character of two bytes
    { "1\xc2\xa0"
      "2 \xc3\xa9",
      none },              // a no-break space is a blank, so this matches
    { "3.10 3.14", none }, // the text runs out first
    { "", none },
    { "1 x\xff", none }, // not UTF-8
  };
  for (const auto &c : cases)
    EXPECT_EQ (kernel_range_stop (c.text), c.want) << c.text;
}
