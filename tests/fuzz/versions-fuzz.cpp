// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// compare_versions on pairs of strings: the input up to its first NUL byte, and what follows up
// to the next one.
//
// Checked: the order is the one the plain reading of the rules gives (reference_compare_versions);
// swapping the arguments flips the sign; every string equals itself and an equal copy of itself;
// and the three separators are interchangeable, so writing every separator as "." in both strings
// keeps the order.
#include "fuzz-util.h"

namespace
{
std::string with_dots (std::string text)
{
  for (char &c : text)
    if (c == ':' || c == '-')
      c = '.';
  return text;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t *data, size_t size)
{
  const std::string a = as_c_text (data, size);
  const size_t b_start = std::min (size, a.size () + 1);
  const std::string b = as_c_text (data + b_start, size - b_start);

  const int order = sign (compare_versions (a.c_str (), b.c_str ()));
  FUZZ_CHECK (order == reference_compare_versions (a, b));
  FUZZ_CHECK (order == -sign (compare_versions (b.c_str (), a.c_str ())));

  const std::string a_copy = a, b_copy = b;
  FUZZ_CHECK (compare_versions (a.c_str (), a.c_str ()) == 0);
  FUZZ_CHECK (compare_versions (a.c_str (), a_copy.c_str ()) == 0);
  FUZZ_CHECK (compare_versions (b.c_str (), b_copy.c_str ()) == 0);

  FUZZ_CHECK (sign (compare_versions (with_dots (a).c_str (), with_dots (b).c_str ())) == order);
  return 0;
}
