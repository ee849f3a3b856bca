// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include <gtest/gtest.h>

#include "check.h"
#include "kiv-test.h"
#include "releases.h"

namespace
{
// The parser logs what it skips; the diagnostics are what is checked here.
[[maybe_unused]] const bool writer_installed = record_logs ();

Diagnostic error (std::size_t line, std::size_t column, std::string_view name, std::string message)
{
  return { line, column, Severity::error, name, std::move (message) };
}

Diagnostic warning (std::size_t line, std::size_t column, std::string_view name,
                    std::string message)
{
  return { line, column, Severity::warning, name, std::move (message) };
}

Diagnostic info (std::size_t line, std::size_t column, std::string_view name, std::string message)
{
  return { line, column, Severity::info, name, std::move (message) };
}

// A few rows of distro-info-data's tables as the package writes them, CRLF and all.
ReleaseData test_releases ()
{
  ReleaseData data;
  data.distributions.push_back ({ "Debian", {} });
  EXPECT_TRUE (parse_release_table (
      "version,codename,series,created,release,eol,eol-lts,eol-elts\r\n"
      "11,Bullseye,bullseye,2019-07-06,2021-08-14,2024-08-14,2026-08-31,2031-06-30\r\n"
      "12,Bookworm,bookworm,2021-08-14,2023-06-10,2026-07-11,2028-06-30,2033-06-30\r\n"
      "13,Trixie,trixie,2023-06-10,2025-08-09,2028-08-09,2030-06-30,2035-06-30\r\n"
      ",Sid,sid,1993-08-16\r\n",
      data.distributions.back ()));
  data.distributions.push_back ({ "Ubuntu", {} });
  EXPECT_TRUE (parse_release_table (
      "version,codename,series,created,release,eol,eol-server,eol-esm\n"
      "20.04 LTS,Focal Fossa,focal,2019-10-17,2020-04-23,2025-05-29,2025-05-29,2030-04-23\n"
      "22.04 LTS,Jammy Jellyfish,jammy,2021-10-14,2022-04-21,2027-06-01,2027-06-01,2032-04-21\n"
      "24.04 LTS,Noble Numbat,noble,2023-10-12,2024-04-25,2029-05-31,2029-05-31,2034-04-25\n",
      data.distributions.back ()));
  return data;
}

// What the tables below check with: the releases above, a fixed day, every check.
const CheckOptions &test_options ()
{
  static const ReleaseData releases = test_releases ();
  static const CheckOptions options{
    &releases, "2026-01-01", { "ended-support" }, {}, Severity::info
  };
  return options;
}

} // namespace

void PrintTo (const Diagnostic &diagnostic, std::ostream *out)
{
  *out << diagnostic.line << ":" << diagnostic.column << ": " << severity_name (diagnostic.severity)
       << ": " << diagnostic.message << " [" << diagnostic.name << "]";
}

// Each file holds one trap, and the diagnostics name its line and column and say what the back
// end does.
TEST (CheckConfiguration, FindsEachTrapAtItsLine)
{
  using namespace std::string_literals;
  const std::string never_applies = "kernel range does not match \"<low> <high> <instruction>\" "
                                    "with a blank after each bound, so it never applies";
  const auto stops_at = [&] (std::string character) {
    return never_applies + ": it stops at '" + character
           + "', which is neither part of a bound (digits and dots) nor a blank";
  };
  const auto glued = [] (std::string bound, std::string character) {
    return "low bound " + bound + " is read without the '" + character
           + "' glued before it: a bound holds only digits and dots";
  };
  const std::string nul = "NUL byte: the back end reads no further, so the rest of the file is "
                          "ignored";
  const std::string unknown = "unknown-instruction", unread = "unread-line";
  const struct
  {
    std::string file;
    std::vector<Diagnostic> want;
  } cases[] = {
    { "[A]\ni a\nx b\n",
      { error (3, 1, unknown, "unrecognised instruction 'x'; the line is skipped") } },
    { "[A]\ni a\n\ti a\n",
      { error (3, 1, unknown, "unrecognised instruction '\\t'; the line is skipped") } },
    { "[A]\n\xc3\xa9t\xc3\xa9\ni a\n",
      { error (2, 1, unknown, "unrecognised instruction '\xc3\xa9'; the line is skipped") } },
    // Nested instructions are checked whatever kernel they are meant for.
    { "[A]\nk 1 2 k 3 4 x\n",
      { error (2, 13, unknown, "unrecognised instruction 'x'; the line is skipped") } },
    // Nothing follows the high bound: the column is past the end.
    { "[A]\ni a\nk 3.10 3.14\n", { error (3, 12, "range-unmatched", never_applies) } },
    { "[A]\nk 1 2 k 3 4i a\n", { error (2, 12, "range-unmatched", stops_at ("i")) } },
    // The hyphen of a release, not a missing blank, is what stops the pattern.
    { "[A]\nk 6.8 6.8.0-6 e x\n", { error (2, 12, "range-unmatched", stops_at ("-")) } },
    { "[A]\nk 1 2 i \xff\n",
      { error (2, 10, "range-unmatched", never_applies),
        warning (2, 9, "range-not-utf8", "kernel range text is not valid UTF-8") } },
    // The unanchored pattern skips what does not fit and reads the bounds further on; what
    // was glued to the low bound is named.
    { "[A]\nk 6,1 99 i x\n",
      { error (2, 3, "range-skips-text", "range read as 1..99: '6,' before it is skipped"),
        warning (2, 4, "range-bound", glued ("1", ",")) } },
    { "[A]\nk v6.1 99 i x\n",
      { error (2, 3, "range-skips-text", "range read as 6.1..99: 'v' before it is skipped"),
        warning (2, 3, "range-bound", glued ("6.1", "v")) } },
    { "[A]\nk 6.1-3 99 i x\n",
      { error (2, 3, "range-skips-text", "range read as 3..99: '6.1-' before it is skipped"),
        warning (2, 6, "range-bound", glued ("3", "-")) } },
    { "[A]\nk x 1 2 i x\n",
      { error (2, 3, "range-skips-text", "range read as 1..2: 'x ' before it is skipped") } },
    // In a nested range too; columns count characters, not bytes.
    { "[A]\nk 0 9 k \xc3\xa9"
      "1 2 i x\n",
      { error (2, 9, "range-skips-text", "range read as 1..2: '\xc3\xa9' before it is skipped"),
        warning (2, 9, "range-bound", glued ("1", "\xc3\xa9")) } },
    { "[A]\nk 6..1 99 i x\n",
      { warning (2, 5, "range-bound",
                 "low bound 6..1 has an empty component where '.' follows another: the version "
                 "order sorts it below every number") } },
    { "[A]\nk 5. 6 i x\n",
      { warning (2, 4, "range-bound",
                 "low bound 5. has an empty component where '.' ends it: the version order "
                 "sorts it below every number") } },
    // Nothing after a NUL byte is read, not even a trap.
    { "[A]\ni a\ni b\0\nx c\n"s, { error (3, 4, "nul-byte", nul) } },
    { "\0"s, { error (1, 1, "nul-byte", nul) } },
    // The mark hides the header, so no line is read.
    { "\xef\xbb\xbf[A]\ni a\n",
      { error (1, 1, "byte-order-mark",
               "byte order mark at the start: the back end reads it as part of the first line, "
               "which is then no section header"),
        warning (1, 1, unread, "line is never read: no section header comes before it"),
        warning (2, 1, unread, "line is never read: no section header comes before it") } },
    { "[A]\ni a\n\t[B]\ni b\n",
      { error (3, 1, "indented-header",
               "a header must start in column 1; the line is skipped and section [A] goes on "
               "past it") } },
    // One diagnostic for the header, none for the lines it was meant to head.
    { "[A]\ni a\n\n [B]\ni b\ni c\n\ni d\n",
      { error (4, 1, "indented-header",
               "a header must start in column 1; neither it nor the lines after it up to an "
               "empty line are read"),
        warning (8, 1, unread,
                 "line is never read: no section header comes after the empty line 7") } },
    // A keyword written out selects by its first letter.
    { "[A]\nkey https://a.example/key.gpg\n",
      { error (2, 1, "key-as-range", "this is a kernel range line (`k`); keys are `g` lines") } },
    { "[A]\nk  https://a.example/2024.1 5 i x\n",
      { error (2, 4, "key-as-range",
               "a kernel range line (`k`) whose value is a URL; did you mean `g`?") } },
    { "[A]\nInstall a\niNSTALL b\nINSTALL c\ninstall d\n",
      { info (2, 1, "keyword-case",
              "'Install' selects the INSTALL list (`I`), not the install list"),
        info (3, 1, "keyword-case",
              "'iNSTALL' selects the install list (`i`), not the INSTALL list") } },
    { "[A]\ni a\nDocs b\nKeys c\n",
      { error (3, 1, unknown,
               "unrecognised instruction 'D'; the line is skipped (instruction letters are "
               "case-sensitive: did you mean 'd'?)"),
        error (4, 1, unknown,
               "unrecognised instruction 'K'; the line is skipped (keys are `g` lines)") } },
    // Headers that no machine's config-id matches, though they name a real release.
    { "[Ubuntu Noble]\ni a\n",
      { warning (1, 9, "unknown-release",
                 "Ubuntu has no release 'Noble'; did you mean 'noble' (24.04 LTS)?") } },
    { "[Ubuntu noble ] # trailing blank\ni a\n",
      { warning (1, 9, "unknown-release",
                 "Ubuntu has no release 'noble '; did you mean 'noble' (24.04 LTS)?") } },
    { "[Debian BOOK-WORM]\ni a\n\n[Debian 12]\ni a\n\n[Ubuntu Jammy Jellyfish]\ni a\n",
      { warning (1, 9, "unknown-release",
                 "Debian has no release 'BOOK-WORM'; did you mean 'bookworm' (12)?"),
        warning (4, 9, "unknown-release",
                 "Debian has no release '12'; did you mean 'bookworm' (12)?"),
        warning (7, 9, "unknown-release",
                 "Ubuntu has no release 'Jammy Jellyfish'; did you mean 'jammy' (22.04 LTS)?") } },
    { "[Ubuntu nbole]\ni a\n\n[Ubuntu zz]\ni a\n",
      { warning (1, 9, "unknown-release",
                 "Ubuntu has no release 'nbole'; did you mean 'noble' (24.04 LTS)?"),
        warning (4, 9, "unknown-release",
                 "Ubuntu has no release 'zz' that distro-info-data knows; the newest it knows is "
                 "'noble' (24.04 LTS)") } },
    { "[ubuntu noble]\ni a\n\n[Debian\tsid]\ni a\n",
      { warning (1, 1, "unknown-release",
                 "no machine has the config-id [ubuntu noble]; did you mean [Ubuntu noble] "
                 "(24.04 LTS)?"),
        warning (4, 1, "unknown-release",
                 "no machine has the config-id [Debian\\tsid]; did you mean [Debian sid]?") } },
    // Fedora's codename is its number in words, as its release file writes it.
    { "[Fedora FortyOne]\ni a\n\n[Fedora 40]\ni a\n\n[fedora Rawhide]\ni a\n",
      { warning (1, 9, "unknown-release",
                 "Fedora has no release 'FortyOne'; did you mean 'Forty One' (41)?"),
        warning (4, 9, "unknown-release", "Fedora has no release '40'; did you mean 'Forty' (40)?"),
        warning (
            7, 1, "unknown-release",
            "no machine has the config-id [fedora Rawhide]; did you mean [Fedora Rawhide]?") } },
    { "[Debian bullseye]\ni a\n",
      { info (1, 9, "ended-support",
              "support for Debian bullseye (11) ended on 2024-08-14; still to come: eol-lts "
              "2026-08-31, eol-elts 2031-06-30") } },
    { "[A]\ni a\n\n# a comment is fine\ni b\n\n[B]\ni c\n",
      { warning (5, 1, unread, "line is never read: section [A] ended at the empty line 3") } },
    { "i a\n[A]\ni b\n",
      { warning (1, 1, unread, "line is never read: no section header comes before it") } },
    { "[A]\r\ni a\r\n\r\ni b\r\n[B]\r\ni c\r\n",
      { warning (3, 1, "lone-carriage-return",
                 "line holds only a carriage return, which does not end section [A]; it "
                 "runs on to line 4") } },
    { "[A]\ni a\n\r\n[B]\ni b\n",
      { warning (3, 1, "lone-carriage-return",
                 "line holds only a carriage return, which does not end section [A]") } },
    { "[A]\nk 5 6. i x\n",
      { warning (2, 6, "range-bound",
                 "high bound 6. has an empty component where '.' ends it: the version order "
                 "sorts it below every number") } },
    { "[A]\nk .5 6 i x\n",
      { warning (2, 3, "range-bound",
                 "low bound .5 has an empty component where '.' starts it: the version order "
                 "sorts it below every number") } },
    { "[A]\nk 5 5 i a\n",
      { warning (2, 3, "empty-range",
                 "kernel range 5 5 holds no kernel: its low bound is not below its high bound") } },
    { "[A]\nk 5.10 5.4 i a\n",
      { warning (2, 3, "empty-range",
                 "kernel range 5.10 5.4 holds no kernel: its low bound is not below its high "
                 "bound") } },
    // A section nobody reads still ends, and what follows its end is read by nobody either.
    { "[A]\ni a\n\n[B]\ni b\n\n[A] again\ni c\n\ni d\n",
      { warning (7, 1, "repeated-section",
                 "section header [A] repeats line 1; only the section at line 1 is read"),
        warning (10, 1, unread, "line is never read: section [A] ended at the empty line 9") } },
    { "[A\ni a\n\ni b\n",
      { warning (1, 1, "unclosed-header",
                 "section header has no \"]\", so no config-id selects it"),
        warning (4, 1, unread, "line is never read: section [A ended at the empty line 3") } },
    { "[A]\ni a:armhf\n",
      { warning (2, 5, "unknown-architecture",
                 "architecture suffix \"armhf\" names no known architecture, so the line "
                 "is kept on every machine") } },
    { "[A]\ni \xc3\xa9:armhf\n", // the column counts the character before it once
      { warning (2, 5, "unknown-architecture",
                 "architecture suffix \"armhf\" names no known architecture, so the line "
                 "is kept on every machine") } },
    { "[A]\ni a:amd64\r\n",
      { warning (2, 5, "unknown-architecture",
                 "architecture suffix \"amd64\\r\" names no known architecture, so the "
                 "line is kept on every machine") } },
    { "[A]\nd\n", { warning (2, 2, "empty-value", "empty value in docs") } },
    { "[A]\nk 1 2 e \n", { warning (2, 9, "empty-value", "empty value in errors") } },
    { "[A]\ne Upgrade first\r\n",
      { warning (2, 16, "error-carriage-return", "error text keeps a trailing carriage return") } },
    { "[A]\n# todo\n\n[B]\ni a\n",
      { warning (1, 1, "empty-section", "section [A] has no instruction") } },
    { "[A]\n[B]\ni a\n", { warning (1, 1, "empty-section", "section [A] has no instruction") } },
  };
  for (const auto &c : cases)
    {
      g_autofree char *file = g_strescape (c.file.c_str (), nullptr);
      SCOPED_TRACE (file);
      const auto got = check_configuration (c.file, test_options ());
      EXPECT_EQ (got, c.want);
      // A check has one severity, the one --list-checks, --severity and SARIF's rules give it.
      for (const auto &diagnostic : got)
        EXPECT_EQ (diagnostic.severity, find_check (diagnostic.name)->severity) << diagnostic.name;
    }
}

// A directive silences the checks it names on the next line, or in the whole file when it comes
// before the first header; it is checked itself.
TEST (CheckConfiguration, HonoursDirectives)
{
  const std::string directive = "# kiv-config-lint: disable=";
  const auto choosing = [] (std::vector<std::string> enabled, std::vector<std::string> disabled,
                            Severity least) {
    return CheckOptions{ nullptr, "2026-01-01", std::move (enabled), std::move (disabled), least };
  };
  const struct
  {
    std::string file;
    std::vector<std::size_t> lines_reported;
    CheckOptions options = {};
  } cases[] = {
    { "[A]\ni a\n" + directive + "unknown-instruction\nx\ny\n", { 5 } },
    // Only the named check.
    { "[A]\ni a\n" + directive + "empty-value\nx\n", { 4 } },
    // Directives on the lines before add up; a trailing comment is fine.
    { "[A]\ni a\n" + directive + "unknown-instruction  # old tool\n" + directive
          + "empty-value\nx\n",
      {} },
    { "[A]\ni a\n" + directive + "repeated-section\n[A]\n", {} },
    { directive + "unread-line,empty-value\ni a\n[A]\nd\n\ni b\n", {} },
    // Before the first header it holds for the lines before it too; later, only for the next.
    { "i a\n" + directive + "unread-line\n[A]\ni b\n\ni c\n", {} },
    { "[A]\ni a\n\n" + directive + "unread-line\ni b\ni c\n", { 6 } },
    // The command line chooses by the same names, and by severity.
    { "[A]\ni a\nx\n\ni b\n", { 5 }, choosing ({}, { "unknown-instruction" }, Severity::info) },
    { "[A]\ni a\nx\nInstall b\n\ni b\n", { 3 }, choosing ({}, {}, Severity::error) },
    { "[A]\ni a\nx\nInstall b\n\ni b\n", { 3, 6 }, choosing ({}, {}, Severity::warning) },
    // A check that is off runs when asked for, unless it is also silenced.
    { "[Debian 12]\ni a\n", {}, choosing ({ "ended-support" }, {}, Severity::info) },
    { "[Debian bullseye]\ni a\n", { 1 }, test_options () },
    { "[Debian bullseye]\ni a\n", {}, choosing ({}, {}, Severity::info) },
    { "[Debian bullseye]\ni a\n",
      {},
      CheckOptions{ test_options ().releases,
                    "2026-01-01",
                    { "ended-support" },
                    { "ended-support" },
                    Severity::info } },
  };
  for (const auto &c : cases)
    {
      g_autofree char *file = g_strescape (c.file.c_str (), nullptr);
      SCOPED_TRACE (file);
      std::vector<std::size_t> lines;
      for (const auto &diagnostic : check_configuration (c.file, c.options))
        lines.push_back (diagnostic.line);
      EXPECT_EQ (lines, c.lines_reported);
    }

  EXPECT_EQ (check_configuration ("[A]\ni a\n" + directive + "unknown-instrucion\nx\n"),
             (std::vector<Diagnostic>{
                 warning (3, 28, "bad-directive", "directive names no check 'unknown-instrucion'"),
                 error (4, 1, "unknown-instruction",
                        "unrecognised instruction 'x'; the line is skipped") }));
  EXPECT_EQ (check_configuration ("# kiv-config-lint: enable=x\n[A]\ni a\n"),
             (std::vector<Diagnostic>{
                 warning (1, 20, "bad-directive",
                          "directive 'enable=x' is not understood: write disable=NAME[,NAME]") }));
}

// Hostile lines are checked like any other: a chain of 50 000 ranges costs no recursion.
TEST (CheckConfiguration, SurvivesHostileLines)
{
  std::string chain = "[A]\n";
  for (int i = 0; i < 50000; i++)
    chain += "k 0 9 ";
  chain += "x\n";
  EXPECT_EQ (check_configuration (chain),
             (std::vector<Diagnostic>{ error (2, 300001, "unknown-instruction",
                                              "unrecognised instruction 'x'; the line is "
                                              "skipped") }));
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
  EXPECT_EQ (check_configuration (file, test_options ()), std::vector<Diagnostic>{});

  g_autofree char *sample = nullptr;
  gsize length = 0;
  ASSERT_TRUE (g_file_get_contents (KIV_SAMPLE_CONFIG, &sample, &length, nullptr));
  CheckOptions sample_options = test_options ();
  sample_options.enabled.clear (); // bullseye's and focal's support has ended
  EXPECT_EQ (check_configuration ({ sample, length }, sample_options), std::vector<Diagnostic>{});
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
