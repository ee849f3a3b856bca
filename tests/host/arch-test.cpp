// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include <gtest/gtest.h>

#include "host-private.h"
#include "host.h"

TEST (ArchType, KnowsOnlyExactNames)
{
  const struct
  {
    const char *name;
    int want;
  } cases[] = {
    { "amd64", 1 },   { "x86_64", 1 },  { "i386", 2 }, { "i486", 2 },
    { "i586", 2 },    { "i686", 2 },    { "", 0 },     { "AMD64", 0 }, // case matters
    { "x86_64 ", 0 },                                                  // no trimming
    { "i386-pc", 0 },                                                  // whole string only
    { "amd64\r", 0 }, // a CRLF file's suffix is not cleaned up
    { "armv7l", 0 },  { "aarch64", 0 },
  };
  for (const auto &c : cases)
    EXPECT_EQ (arch_type (c.name), c.want) << "'" << c.name << "'";
}

TEST (ArchitecturesAreEquivalent, MatchesFamiliesNotNames)
{
  EXPECT_TRUE (architectures_are_equivalent ("x86_64", "amd64"));
  EXPECT_TRUE (architectures_are_equivalent ("amd64", "x86_64"));
  EXPECT_TRUE (architectures_are_equivalent ("i686", "i386"));
  EXPECT_TRUE (architectures_are_equivalent ("i486", "i586"));
  EXPECT_FALSE (architectures_are_equivalent ("x86_64", "i386"));
  EXPECT_FALSE (architectures_are_equivalent ("i686", "amd64"));
  // Unknown names are never equivalent, not even to themselves.
  EXPECT_FALSE (architectures_are_equivalent ("armv7l", "armv7l"));
  EXPECT_FALSE (architectures_are_equivalent ("", ""));
}
