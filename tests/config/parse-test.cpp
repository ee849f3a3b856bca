// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include <gtest/gtest.h>
#include <sys/utsname.h>

#include "kiv-test.h"

namespace
{
// GLib takes one writer per process, so it is set before any test runs.
[[maybe_unused]] const bool writer_installed = record_logs ();

const HostFacts x86_64_host = { "x86_64", "3.13.0-24-generic" };
const HostFacts i686_host = { "i686", "3.13.0-24-generic" };
const HostFacts unknown_host = { nullptr, "3.13.0-24-generic" };

// Parses one line into a new record and returns what the record then holds.
Lists parse_one (std::string_view line, const HostFacts &host = x86_64_host,
                 bool *out_more = nullptr)
{
  g_autoptr (Configuration) config = new_configuration ();
  const bool more = parse_instruction (config, line, host);
  if (out_more != nullptr)
    *out_more = more;
  return lists_of (config);
}

} // namespace

// Each letter fills its own list and no other.
TEST (ParseInstruction, AppendsEachLetterToItsList)
{
  const struct
  {
    const char *line, *list, *value;
  } cases[] = {
    { "e Upgrade first", "errors", "Upgrade first" },
    { "s deb http://a.example/ trusty main", "sources", "deb http://a.example/ trusty main" },
    { "g 0123ABCD", "keys", "0123ABCD" },
    { "d http://docs.example/", "docs", "http://docs.example/" },
    { "I kiv-core", "INSTALL", "kiv-core" },
    { "i kiv-extra", "install", "kiv-extra" },
    { "u kiv-core", "upgrade", "kiv-core" },
    { "l linux-generic-lts", "lts", "linux-generic-lts" },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.line);
      bool more = false;
      EXPECT_EQ (parse_one (c.line, x86_64_host, &more), with (c.list, { c.value }));
      EXPECT_TRUE (more);
    }
  EXPECT_EQ (take_logs (), std::vector<LogRecord>{});
}

TEST (ParseInstruction, ValueStartsAfterTheFirstWord)
{
  const struct
  {
    const char *line, *list, *value;
  } cases[] = {
    { "docs http://d/", "docs", "http://d/" },    // the keyword may be written out
    { "install\tpkg", "install", "pkg" },         // a tab ends it too
    { "sources\vdeb x", "sources", "deb x" },     // so does a vertical tab
    { "d", "docs", "" },                          // no value at all: an empty one
    { "s   ", "sources", "" },                    // only blanks: empty as well
    { "s a  b", "sources", "a  b" },              // inner blanks stay
    { "s \t\v\r deb x", "sources", "deb x" },     // every blank after the word is skipped
    { "s deb x  \r", "sources", "deb x" },        // trimmed: CRLF files, trailing spaces
    { "s deb x\v", "sources", "deb x\v" },        // trimming leaves a vertical tab
    { "s deb x \f\n\t", "sources", "deb x" },     // the other trim characters go
    { "e Upgrade  \r", "errors", "Upgrade  \r" }, // errors are kept as written
    { "e", "errors", "" },                        // an empty error still creates the list
    { "e \v x", "errors", "x" },                  // skipping blanks is not trimming
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.line);
      EXPECT_EQ (parse_one (c.line), with (c.list, { c.value }));
    }
}

TEST (ParseInstruction, KeepsOrderAndDuplicates)
{
  g_autoptr (Configuration) config = new_configuration ();
  for (const char *line : { "e one", "s b", "e two", "s a", "s b" })
    parse_instruction (config, line, x86_64_host);
  EXPECT_EQ (strings_of (config->errors), (std::vector<std::string>{ "one", "two" }));
  EXPECT_EQ (strings_of (config->sources), (std::vector<std::string>{ "b", "a", "b" }));
}

TEST (ParseInstruction, SkipsListsThatAreAbsent)
{
  g_autoptr (Configuration) config = new_configuration ();
  g_clear_pointer (&config->sources, g_ptr_array_unref);
  g_clear_pointer (&config->install, g_ptr_array_unref);
  for (const char *line : { "s deb x", "i pkg:amd64", "i pkg" })
    EXPECT_TRUE (parse_instruction (config, line, x86_64_host)) << line;
  auto want = empty_lists ();
  want["sources"] = std::nullopt;
  want["install"] = std::nullopt;
  EXPECT_EQ (lists_of (config), want);
  EXPECT_EQ (take_logs (), std::vector<LogRecord>{}); // not even the arch filter's notice
}

TEST (ParseInstruction, StopsOnlyAtSectionHeaders)
{
  const struct
  {
    const char *line;
    bool more;
  } cases[] = {
    { "[Ubuntu trusty]", false }, // the next section begins
    { "[", false },
    { "", true }, // an empty line inside a nested range, or from a caller
    { "# a comment", true },
    { "n a note", true },
    { "\n", true },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.line);
      bool more = !c.more;
      EXPECT_EQ (parse_one (c.line, x86_64_host, &more), empty_lists ());
      EXPECT_EQ (more, c.more);
    }
  EXPECT_EQ (take_logs (), std::vector<LogRecord>{});
}

TEST (ParseInstruction, WarnsAboutUnknownLetters)
{
  const struct
  {
    const char *line, *message;
  } cases[] = {
    { "x foo", "Unrecognised config instruction: x foo (120)" },
    { "E Upgrade", "Unrecognised config instruction: E Upgrade (69)" }, // letters are exact
    { " s deb x", "Unrecognised config instruction:  s deb x (32)" },   // no leading blanks
    { "\tI pkg", "Unrecognised config instruction: \tI pkg (9)" },
    { "\r", "Unrecognised config instruction: \r (13)" }, // a CRLF file's blank line
    { "\xc3\xa9t\xc3\xa9", "Unrecognised config instruction: \xc3\xa9t\xc3\xa9 (-61)" },
    { "\x80", "Unrecognised config instruction: \x80 (-128)" },
    { "\xff x", "Unrecognised config instruction: \xff x (-1)" },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.line);
      bool more = false;
      EXPECT_EQ (parse_one (c.line, x86_64_host, &more), empty_lists ());
      EXPECT_TRUE (more);
      const LogRecord warning = { G_LOG_LEVEL_WARNING, c.message, false };
      EXPECT_EQ (take_logs (), std::vector<LogRecord>{ warning });
    }
}

// A view into a larger buffer: the parser must not read past its end.
TEST (ParseInstruction, ReadsOnlyTheGivenView)
{
  const std::string_view buffer = "x bad|i pkg:amd64|s deb x|d docs";
  g_autoptr (Configuration) config = new_configuration ();
  parse_instruction (config, buffer.substr (0, 5), x86_64_host);
  parse_instruction (config, buffer.substr (6, 11), i686_host);
  parse_instruction (config, buffer.substr (18, 7), x86_64_host);
  auto want = empty_lists ();
  want["install"] = std::vector<std::string>{ "pkg:amd64" };
  want["sources"] = std::vector<std::string>{ "deb x" };
  EXPECT_EQ (lists_of (config), want);
  const LogRecord warning
      = { G_LOG_LEVEL_WARNING, "Unrecognised config instruction: x bad (120)", false };
  EXPECT_EQ (take_logs (), std::vector<LogRecord>{ warning });
}

// The suffix names the package's architecture; the one equivalent to this machine's is dropped.
TEST (ArchitectureFilter, DropsLinesForTheNativeFamily)
{
  const struct
  {
    const HostFacts *host;
    const char *line, *list;
    bool kept;
    const char *value;
  } cases[] = {
    { &x86_64_host, "i pkg:amd64", "install", false, nullptr },
    { &x86_64_host, "I pkg:x86_64", "INSTALL", false, nullptr },
    { &x86_64_host, "u pkg:amd64", "upgrade", false, nullptr },
    { &x86_64_host, "i pkg:i386", "install", true, "pkg:i386" },         // the suffix is stored
    { &x86_64_host, "i pkg", "install", true, "pkg" },                   // no colon, no filter
    { &x86_64_host, "i pkg:armhf", "install", true, "pkg:armhf" },       // unknown family
    { &x86_64_host, "i pkg:", "install", true, "pkg:" },                 // empty name
    { &x86_64_host, "i a:amd64:i386", "install", true, "a:amd64:i386" }, // only the last colon
    { &x86_64_host, "i a:i386:amd64", "install", false, nullptr },
    { &x86_64_host, "i pkg:AMD64", "install", true, "pkg:AMD64" },   // names are exact
    { &x86_64_host, "i pkg:amd64\r", "install", true, "pkg:amd64" }, // CRLF: class 0, trimmed
    { &x86_64_host, "i pkg:amd64 ", "install", true, "pkg:amd64" },
    { &x86_64_host, "install:amd64 pkg", "install", true, "pkg" }, // the keyword counts too
    { &x86_64_host, "install:amd64", "install", false, nullptr },
    { &i686_host, "i pkg:i386", "install", false, nullptr },
    { &i686_host, "i pkg:amd64", "install", true, "pkg:amd64" },
    { &i686_host, "i pkg", "install", true, "pkg" },
    { &unknown_host, "i pkg:amd64", "install", true, "pkg:amd64" }, // no machine: keep all
    { &unknown_host, "I pkg:i386", "INSTALL", true, "pkg:i386" },
    { &x86_64_host, "s deb x:amd64", "sources", true, "deb x:amd64" }, // other lists pass
    { &x86_64_host, "l x:amd64", "lts", true, "x:amd64" },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (std::string (c.line) + " on "
                    + (c.host->machine != nullptr ? c.host->machine : "(unknown)"));
      EXPECT_EQ (parse_one (c.line, *c.host), c.kept ? with (c.list, { c.value }) : empty_lists ());
      const auto logged = take_logs ();
      if (c.kept)
        EXPECT_EQ (logged, std::vector<LogRecord>{});
      else
        EXPECT_EQ (logged,
                   (std::vector<LogRecord>{ { G_LOG_LEVEL_DEBUG,
                                              std::string ("Skipping foreign arch instruction ")
                                                  + c.line + " on native " + c.host->machine,
                                              false } }));
    }
}

// parse_cfg_line is parse_instruction with this machine's facts.
TEST (ParseCfgLine, UsesThisMachine)
{
  struct utsname uts = {};
  ASSERT_EQ (uname (&uts), 0);
  const DistroInformation *distro = get_distro_information ();

  const HostFacts host = this_machine ();
  EXPECT_STREQ (host.kernel_release, uts.release);
  if (distro != nullptr)
    EXPECT_STREQ (host.machine, uts.machine);
  else
    EXPECT_EQ (host.machine, nullptr);

  g_autoptr (Configuration) config = new_configuration ();
  const std::string native_line = std::string ("i native:") + uts.machine;
  EXPECT_TRUE (parse_cfg_line (config, native_line.c_str ()));
  EXPECT_TRUE (parse_cfg_line (config, "i plain"));
  // Kernel releases start with a number well below these bounds.
  EXPECT_TRUE (parse_cfg_line (config, "k 0 99999 s in range"));
  EXPECT_TRUE (parse_cfg_line (config, "k 99999 999999 s above"));
  EXPECT_FALSE (parse_cfg_line (config, "[Next section]"));

  std::vector<std::string> install{ "plain" };
  // A machine of an unknown family never drops anything, even its own name.
  if (distro == nullptr || !architectures_are_equivalent (uts.machine, uts.machine))
    install.insert (install.begin (), native_line.substr (2));
  EXPECT_EQ (strings_of (config->install), install);
  EXPECT_EQ (strings_of (config->sources), std::vector<std::string>{ "in range" });
  take_logs ();
}

// Without lsb_release and /etc/fedora-release there is no distribution information; the parser
// must then keep every suffixed line rather than crash or guess. Run in a fresh process so no
// earlier test has filled the process-wide record.
TEST (ParseCfgLine, KeepsSuffixedLinesWithoutDistroInformation)
{
  if (g_file_test ("/etc/fedora-release", G_FILE_TEST_EXISTS))
    GTEST_SKIP () << "this machine has /etc/fedora-release";
  GTEST_FLAG_SET (death_test_style, "threadsafe");
  EXPECT_EXIT (
      {
        g_setenv ("PATH", "/nonexistent", TRUE);
        if (get_distro_information () != nullptr)
          _exit (2);
        g_autoptr (Configuration) config = new_configuration ();
        for (const char *line : { "i a:amd64", "i b:i386", "I c:x86_64", "u d:i686" })
          parse_cfg_line (config, line);
        const bool kept_all
            = config->install->len == 2 && config->INSTALL->len == 1 && config->upgrade->len == 1;
        _exit (kept_all ? 0 : 1);
      },
      testing::ExitedWithCode (0), "");
}
