// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "host-private.h"
#include "kiv-test.h"

namespace
{
#define EXPECT_FIELD(field, want)                                                                  \
  do                                                                                               \
    {                                                                                              \
      const char *want_ = (want);                                                                  \
      if (want_ == nullptr)                                                                        \
        EXPECT_EQ ((field), nullptr);                                                              \
      else                                                                                         \
        {                                                                                          \
          ASSERT_NE ((field), nullptr);                                                            \
          EXPECT_STREQ ((field), want_);                                                           \
        }                                                                                          \
    }                                                                                              \
  while (0)
} // namespace

TEST (ParseReleaseOutput, ReadsTheFourKeys)
{
  Record r;
  parse_release_output ("No LSB modules are available.\n"
                        "Distributor ID:\tUbuntu\n"
                        "Description:\tUbuntu 14.04.6 LTS\n"
                        "Release:\t14.04\n"
                        "Codename:\ttrusty\n",
                        &r);
  EXPECT_FIELD (r.distributor, "Ubuntu");
  EXPECT_FIELD (r.description, "Ubuntu 14.04.6 LTS");
  EXPECT_FIELD (r.release, "14.04");
  EXPECT_FIELD (r.codename, "trusty");
}

TEST (ParseReleaseOutput, AppliesTheValueRules)
{
  Record r;
  parse_release_output ("Description: a: b:c \r\n"  // only the first colon splits
                        "Release:\n"                // nothing after the colon: empty, not absent
                        "Codename: \v x \v\n"       // a vertical tab is not trimmed
                        "distributor id: Lower\n"   // keys are case-sensitive...
                        " Distributor ID: Spaced\n" // ...and not trimmed
                        "Distributor ID :Spaced\n",
                        &r);
  EXPECT_FIELD (r.description, "a: b:c");
  EXPECT_FIELD (r.release, "");
  EXPECT_FIELD (r.codename, "\v x \v");
  EXPECT_FIELD (r.distributor, nullptr);
}

TEST (ParseReleaseOutput, LaterLinesReplaceEarlierOnes)
{
  Record r;
  parse_release_output ("Codename: first\nCodename: second\n"
                        "Release: 1\nRelease\n", // a bare key makes the field absent
                        &r);
  EXPECT_FIELD (r.codename, "second");
  EXPECT_FIELD (r.release, nullptr);
}

TEST (ParseReleaseOutput, KeepsMissingFieldsAbsent)
{
  Record r;
  parse_release_output ("Distributor ID:\tDebian\nRelease:\t12\n", &r);
  EXPECT_FIELD (r.distributor, "Debian");
  EXPECT_FIELD (r.codename, nullptr);
  EXPECT_FIELD (r.description, nullptr);

  Record empty;
  parse_release_output ("", &empty);
  EXPECT_FIELD (empty.distributor, nullptr);
}

TEST (ParseReleaseOutput, TakesFedoraCodenameFromDescription)
{
  Record r;
  parse_release_output ("Distributor ID:\tFedora\n"
                        "Description:\tFedora release 20 (Heisenbug Two)\n"
                        "Release:\t20\n"
                        "Codename:\tHeisenbugTwo\n",
                        &r);
  EXPECT_FIELD (r.codename, "Heisenbug Two");
  EXPECT_FIELD (r.release, "20");

  Record no_description;
  parse_release_output ("Distributor ID:\tFedora\nCodename:\tHeisenbug\n", &no_description);
  EXPECT_FIELD (no_description.codename, "Heisenbug");

  // Only an exact "Fedora" distributor triggers the lookup.
  Record other;
  parse_release_output ("Distributor ID:\tfedora\n"
                        "Description:\tFedora release 20 (Heisenbug)\nCodename:\tx\n",
                        &other);
  EXPECT_FIELD (other.codename, "x");
}

TEST (ParseReleaseOutput, SurvivesHostileOutput)
{
  // Thousands of lines, CR line ends, a megabyte-long value, bytes that are not UTF-8.
  std::string output;
  for (int i = 0; i < 5000; i++)
    output += "Junk line " + std::to_string (i) + "\r\n";
  output += "Distributor ID:\tFedora\r\n";
  output += "Description:\tFedora release 20 (\xff\xfe)\r\n";
  output += "Codename:\t" + std::string (1 << 20, 'c') + "\r\n";
  output += "Release:\t\xc3\x28\r\n";

  Record r;
  parse_release_output (output.c_str (), &r);
  EXPECT_FIELD (r.distributor, "Fedora");
  EXPECT_FIELD (r.release, "\xc3\x28");
  ASSERT_NE (r.codename, nullptr);
  EXPECT_EQ (strlen (r.codename), size_t (1) << 20); // invalid UTF-8 is no match, not a crash

  Record no_keys;
  parse_release_output ("\n\n\r\n:::\n", &no_keys);
  EXPECT_FIELD (no_keys.distributor, nullptr);
}

TEST (ParseReleaseFile, TakesReleaseAndCodename)
{
  Record r;
  parse_release_file ("Fedora release 20 (Heisenbug)\n", &r);
  EXPECT_FIELD (r.distributor, "Fedora");
  EXPECT_FIELD (r.description, "Fedora release 20 (Heisenbug)\n"); // kept exactly as read
  EXPECT_FIELD (r.release, "20");
  EXPECT_FIELD (r.codename, "Heisenbug");
}

TEST (ParseReleaseFile, FallsBackToUnknown)
{
  const char *texts[] = {
    "CentOS Linux release 7.9.2009 (Core)\n", // names another distribution
    "Fedora release twenty (Heisenbug)\n",    // release is not a number
    "Fedora release 20 Heisenbug\n",          // no parentheses
    "",
    "Fedora release 20 (\xff)\n",          // not UTF-8: no match, no crash
    "Fedora release 20 (Heisenbug)\n\xff", // however far after a match the bad byte stands
  };
  for (const char *text : texts)
    {
      Record r;
      parse_release_file (text, &r);
      EXPECT_FIELD (r.distributor, "Fedora");
      EXPECT_FIELD (r.description, text);
      EXPECT_FIELD (r.release, "Unknown");
      EXPECT_FIELD (r.codename, "Unknown");
    }
}

TEST (MatchFedoraRelease, FindsThePatternAnywhere)
{
  g_autofree char *release = nullptr;
  g_autofree char *codename = nullptr;
  ASSERT_TRUE (
      match_fedora_release ("Welcome: Fedora  release\t21 (Twenty One) (x)", &release, &codename));
  EXPECT_STREQ (release, "21");
  EXPECT_STREQ (codename, "Twenty One"); // the shortest parenthesised text
  EXPECT_FALSE (match_fedora_release (nullptr, nullptr, nullptr));
}

// find_fedora_release replaces one unanchored GRegex search; on any text both must agree.
TEST (FindFedoraRelease, AgreesWithAPlainSearch)
{
  // Pieces chosen to hit the edges: the words, ASCII and Unicode blanks and digits, line breaks
  // that `.` refuses, parentheses.
  // clang-format off
  const std::vector<std::string> pieces = {
    "Fedora", "Fedora", "release", "release", " ", " ", "\t", "\n", "\r", "\v", "1", "20", "(",
    "(", ")", ")", "x", "F",
    "Fedora release 1 (",
    "\xc2\xa0",     // no-break space: \s, not a line break
    "\xd9\xa3",     // Arabic-Indic digit three: \d
    "\xc2\x85",     // next line: a line break
    "\xe2\x80\xa8", // line separator
  };
  // clang-format on
  std::mt19937 random (20131217);
  int matches = 0;
  for (int round = 0; round < 20000; round++)
    {
      const std::string text = random_text (random, pieces, 30);
      const auto want = regex_groups ("Fedora\\s+release\\s+(\\d+)\\s+\\((.*?)\\)", text);
      matches += want.has_value ();
      std::string_view release, codename;
      const auto found = find_fedora_release (text, &release, &codename)
                             ? std::optional (std::vector<std::string>{ std::string (release),
                                                                        std::string (codename) })
                             : std::nullopt;
      ASSERT_EQ (found, want) << "'" << g_strescape (text.c_str (), "") << "'";
    }
  EXPECT_GT (matches, 1000); // the pieces do produce matches, not only misses
}

// Descriptions that took a plain search minutes finish and give the plain answer.
TEST (MatchFedoraRelease, SurvivesHostileDescriptions)
{
  std::string heads;
  for (int i = 0; i < 10000; i++)
    heads += "Fedora release 1 (";
  const std::string long_name (100000, 'x');
  const struct
  {
    std::string text;
    const char *codename; // NULL: no match
  } cases[] = {
    { heads, nullptr },                   // no ')' anywhere
    { heads + "\n)", nullptr },           // the line ends before the ')'
    { heads + ")", heads.c_str () + 18 }, // the first head takes everything after it
    { heads + "\nFedora release 2 (x)", "x" },
    { "Fedora release  21 (x)", "x" }, // any run of blanks between the words
    { "Fedora" + std::string (100000, ' ') + "release 3 (x)", "x" },
    { "Fedora release 4 (" + long_name + ")", long_name.c_str () }, // longer than any window
  };
  for (const auto &c : cases)
    {
      g_autofree char *codename = nullptr;
      EXPECT_EQ (match_fedora_release (c.text.c_str (), nullptr, &codename), c.codename != nullptr);
      EXPECT_STREQ (codename, c.codename);
    }
}
