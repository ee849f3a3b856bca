// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "host.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace
{
// Every byte's part in a version string. A component ends at a separator or at the end of the
// string, and comparing an ended component, byte-wise, counts its end as a NUL.
enum ByteClass : unsigned char
{
  other,
  digit,
  end_of_component, // '.', ':', '-' or the terminating NUL
};

constexpr auto byte_classes = [] {
  std::array<ByteClass, 256> classes{};
  for (int c = '0'; c <= '9'; c++)
    classes[c] = digit;
  for (unsigned char c : { '\0', '.', ':', '-' })
    classes[c] = end_of_component;
  return classes;
}();

ByteClass class_of (char c)
{
  return byte_classes[static_cast<unsigned char> (c)];
}

// Compares two digit strings by magnitude, however long they are.
int compare_numbers (std::string_view x, std::string_view y)
{
  x.remove_prefix (std::min (x.find_first_not_of ('0'), x.size ()));
  y.remove_prefix (std::min (y.find_first_not_of ('0'), y.size ()));
  if (x.size () != y.size ())
    return x.size () < y.size () ? -1 : 1;
  const int order = x.compare (y);
  return (order > 0) - (order < 0);
}

bool is_all_digits (const char *text, std::size_t length)
{
  for (std::size_t i = 0; i < length; i++)
    if (class_of (text[i]) != digit)
      return false;
  return true;
}

// Where a component ends, scanning from `from`, and whether the bytes from there to its end are
// all digits.
std::size_t end_of_component_from (const char *component, std::size_t from, bool *out_all_digits)
{
  bool digits = true;
  while (class_of (component[from]) != end_of_component)
    digits &= class_of (component[from++]) == digit;
  *out_all_digits = digits;
  return from;
}

constexpr std::size_t same_string = std::size_t (-1);

// Where a and b first differ, or same_string when they are the same string to the end.
std::size_t first_difference (const char *a, const char *b)
{
  std::size_t i = 0;
  while (a[i] == b[i])
    {
      if (a[i] == '\0')
        return same_string;
      i++;
    }
  return i;
}
} // namespace

// One pass over both strings, as installers call this in loops over many kernel releases: the
// bytes both share are stepped over together, separators included (equal bytes make equal
// components), and only the component where the two first differ is looked at as a whole, to
// choose between the numeric and the text rule.
int compare_versions (const char *a, const char *b)
{
  std::size_t i = first_difference (a, b);
  if (i == same_string)
    return 0;
  // An empty string has no components, so it orders before any other. Only the first byte can
  // show that a string is empty: later, the end is the end of an empty last component.
  if (i == 0 && (*a == '\0' || *b == '\0'))
    return int (*a != '\0') - int (*b != '\0');

  while (true)
    {
      // a and b each start a component at 0, agree before i and differ at i. Every component
      // that ends before i is equal on both sides; the one holding i starts at `start`.
      std::size_t start = i;
      while (start > 0 && class_of (a[start - 1]) != end_of_component)
        start--;
      const ByteClass a_class = class_of (a[i]);
      const ByteClass b_class = class_of (b[i]);

      std::size_t a_end = i, b_end = i;
      if (a_class != end_of_component || b_class != end_of_component)
        {
          // The components differ at i. Only all-digit components on both sides compare as
          // numbers, so a letter there or before decides by the text rule at once.
          bool a_digits = false, b_digits = false;
          if (a_class != other && b_class != other && is_all_digits (a + start, i - start))
            {
              a_end = end_of_component_from (a, i, &a_digits);
              b_end = end_of_component_from (b, i, &b_digits);
            }
          if (!a_digits || !b_digits || a_end == start || b_end == start)
            {
              // Byte-wise, an ended component reading as NUL.
              const int a_byte = a_class == end_of_component ? 0 : int (guchar (a[i]));
              const int b_byte = b_class == end_of_component ? 0 : int (guchar (b[i]));
              return a_byte - b_byte;
            }
          // Without leading zeros the longer number is larger, and at equal length the first
          // differing digit decides.
          if (a[start] != '0' && b[start] != '0')
            {
              if (a_end != b_end)
                return a_end < b_end ? -1 : 1;
              return guchar (a[i]) < guchar (b[i]) ? -1 : 1;
            }
          const int order
              = compare_numbers ({ a + start, a_end - start }, { b + start, b_end - start });
          if (order != 0)
            return order;
        }

      // Equal so far: the one with fewer components comes first.
      if (a[a_end] == '\0' || b[b_end] == '\0')
        return int (a[a_end] != '\0') - int (b[b_end] != '\0');
      a += a_end + 1;
      b += b_end + 1;
      i = first_difference (a, b);
      if (i == same_string)
        return 0;
    }
}
