// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "kiv-test.h"

namespace
{
struct Case
{
  const char *a, *b;
  int want;
};

void expect_orders (const Case &c)
{
  SCOPED_TRACE (std::string ("'") + c.a + "' vs '" + c.b + "'");
  EXPECT_EQ (sign (compare_versions (c.a, c.b)), c.want);
  EXPECT_EQ (sign (compare_versions (c.b, c.a)), -c.want); // and the mirror image
}
// Counts a pair on which compare_versions and the plain reading disagree, showing the first ten.
void count_disagreement (const std::string &a, const std::string &b, int *disagreements)
{
  if (sign (compare_versions (a.c_str (), b.c_str ())) != reference_compare_versions (a, b)
      && ++*disagreements <= 10)
    ADD_FAILURE () << "'" << a << "' vs '" << b
                   << "': " << compare_versions (a.c_str (), b.c_str ()) << ", plainly "
                   << reference_compare_versions (a, b);
}
} // namespace

// Callers may only rely on the sign, so that is all these cases pin down.
TEST (CompareVersions, OrdersComponentByComponent)
{
  const Case cases[] = {
    { "3.10", "3.13.0-24-generic", -1 }, // 10 < 13 as numbers
    { "3.14", "3.13.0-24-generic", 1 },
    { "3.13", "3.13.0", -1 }, // an equal but shorter prefix sorts first
    { "3.13.0", "3.13.0", 0 },
    { "1.10", "1.9", 1 },    // numbers compare as numbers, not as text
    { "1.10a", "1.9a", -1 }, // ...but a letter makes the component text
    { "24a", "3", -1 },      // text rule: '2' < '3'
    { "07", "7", 0 },        // leading zeros do not count
    { "2-rc1", "2:rc1", 0 }, // the three separators are equivalent
    { "2.rc1", "2-rc1", 0 },
    { "", "1", -1 }, // the empty string has no components
    { "", "", 0 },
    { "3.", "3", 1 },        // a trailing separator adds an empty component
    { ".3", "3", -1 },       // a leading one an empty first component
    { "1..2", "1.0.2", -1 }, // empty text orders before "0"
    { "1..2", "1..2", 0 },
    { "-", "", 1 }, // two empty components against none
    { "a", "b", -1 },
    { "\xff", "a", 1 }, // bytes compare unsigned
    { "3.13.0-24-generic", "3.13.0-24-generic", 0 },
    { "3.13.0-24-generic", "3.13.0-24-lowlatency", -1 },
  };
  for (const auto &c : cases)
    expect_orders (c);
}

// Numbers of any length compare by magnitude; nothing is truncated or wrapped to 32 bits.
TEST (CompareVersions, ComparesLongNumbersExactly)
{
  const Case cases[] = {
    { "4294967297", "1", 1 },                              // 2^32 + 1 is not 1
    { "4294967296", "1", 1 },                              // 2^32 is not 0
    { "18446744073709551616", "18446744073709551615", 1 }, // beyond 64 bits
    { "99999999999999999999999999", "99999999999999999999999998", 1 },
    { "000000000000000000000000042", "42", 0 }, // long zero padding
    { "0", "00", 0 },
    { "1.18446744073709551616", "1.18446744073709551617", -1 },
    { "100000000000000000000", "99999999999999999999", 1 }, // longer is larger
  };
  for (const auto &c : cases)
    expect_orders (c);
}

// The comparison steps over matching bytes and only looks at whole components where two
// strings first differ; these pin down what it must decide there.
TEST (CompareVersions, DecidesWhereComponentsFirstDiffer)
{
  const Case cases[] = {
    { "12", "1", 1 },      // a number that goes on is larger
    { "1a", "1", 1 },      // a letter after the shared digits: text rule
    { "10", "1a", -1 },    // '0' < 'a': one side is not a number
    { "a1", "a10", -1 },   // digits after a letter are text, shorter first
    { "007.5", "7.4", 1 }, // equal numbers written differently: go on
    { "00.1", "0.1", 0 },
    { "0", "00", 0 },
    { "09", "10", -1 },   // a leading zero does not lengthen a number
    { "19", "20", -1 },   // same length: the first differing digit decides
    { "1.2", "1-3", -1 }, // different separators at the same place
    { "1.", "1:", 0 },
    { "1:", "1", 1 }, // the separator starts one more, empty, component
    { "3.13.0-24-generic", "3.13.0-24", 1 },
    { "5.10.0-28-amd64", "5.10.0-28-686", 1 }, // 'a' > '6'
    { "\3771", "\3772", -1 },                  // a shared high byte (\377) is stepped over
  };
  for (const auto &c : cases)
    expect_orders (c);
}

// Each way a number decides gives exactly -1, 0 or 1.
TEST (CompareVersions, NumericResultsAreUnitSteps)
{
  const Case cases[] = {
    { "1.10", "1.9", 1 },     // longer
    { "4294967296", "1", 1 }, // longer, from the first byte
    { "3.9", "3.4", 1 },      // one digit each
    { "5.15", "5.10.0", 1 },  // inside a number both share the start of
    { "22.04", "22.10", -1 }, // a leading zero, fewer digits that count
    { "007.5", "7.4", 1 },    // equal numbers written differently: the next decide
    { "1.007", "1.7", 0 },    { "0001", "010", -1 }, // zeros on both sides
    { "3.13", "3.13.0", -1 },                        // fewer components
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (std::string ("'") + c.a + "' vs '" + c.b + "'");
      EXPECT_EQ (compare_versions (c.a, c.b), c.want);
      EXPECT_EQ (compare_versions (c.b, c.a), -c.want);
    }
}

TEST (CompareVersions, HandlesVeryLongInput)
{
  std::string many_components;
  for (int i = 0; i < 100000; i++)
    many_components += "1.";
  std::string longer = many_components + "1";
  EXPECT_EQ (sign (compare_versions (many_components.c_str (), longer.c_str ())), -1);
  EXPECT_EQ (compare_versions (longer.c_str (), longer.c_str ()), 0);

  const std::string huge_number (1 << 20, '9');
  EXPECT_EQ (sign (compare_versions (huge_number.c_str (), "1")), 1);
}

// Every pair of short strings over the bytes that matter (digits with a leading zero, each
// separator, a letter, a high byte) must order as the plain reading of the rules says: the
// tables above cannot list every place where the fast path might decide wrongly.
TEST (CompareVersions, AgreesWithThePlainReadingOnEveryShortPair)
{
  const auto all_strings = [] (std::string_view alphabet, std::size_t max_length) {
    std::vector<std::string> out{ "" };
    for (std::size_t start = 0; out[start].size () < max_length; start++)
      for (const char c : alphabet)
        out.push_back (out[start] + c);
    return out;
  };
  int disagreements = 0;
  for (const auto &[alphabet, max_length] :
       { std::pair{ std::string_view ("019.:-a\xff"), std::size_t (3) },
         std::pair{ std::string_view ("01.a"), std::size_t (5) } })
    {
      const auto strings = all_strings (alphabet, max_length);
      for (const auto &a : strings)
        for (const auto &b : strings)
          count_disagreement (a, b, &disagreements);
    }
  EXPECT_EQ (disagreements, 0);
}

// Longer strings than the exhaustive test above reaches, sharing a start as releases of one
// kernel do, so that the comparison decides deep inside a component: in the middle of a number,
// after leading zeros, after a letter, at a separator against another.
TEST (CompareVersions, AgreesWithThePlainReadingOnLongerPairs)
{
  const std::vector<std::string> pieces
      = { "0", "00", "1", "7", "10", "99", "a", "rc", ".", "-", ":", "\xff" };
  std::mt19937 random (20260101); // the same pairs in every run
  int disagreements = 0;
  for (int n = 0; n < 100000; n++)
    {
      const std::string shared = random_text (random, pieces, 6);
      const std::string a = shared + random_text (random, pieces, 4);
      const std::string b = shared + random_text (random, pieces, 4);
      count_disagreement (a, b, &disagreements);
    }
  EXPECT_EQ (disagreements, 0);
}
