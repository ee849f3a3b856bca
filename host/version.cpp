// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "host.h"

#include <array>
#include <cstddef>

// compare_versions runs in loops over many kernel releases, mostly on short strings, and is
// measured against glibc's strverscmp shape by shape (docs/performance.md, kiv-bench-versions).
// It steps over the bytes both strings share, separators included (equal bytes make equal
// components), and looks only at the component where they first differ. Each case found there
// goes on in a small function of its own, called last, which the compiler makes a jump: kept
// apart (noinline), none of them saves a register, as one larger function did on every call.

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

ByteClass class_of (guchar c)
{
  return byte_classes[c];
}

// The text rule where two components first differ: bytes compare unsigned, and a component that
// has ended reads as NUL there.
int text_order (guchar x, guchar y)
{
  const int x_byte = class_of (x) == end_of_component ? 0 : x;
  const int y_byte = class_of (y) == end_of_component ? 0 : y;
  return x_byte - y_byte;
}

// Where the run of digits that starts at `text` ends.
const guchar *end_of_digits (const guchar *text)
{
  while (class_of (*text) == digit)
    text++;
  return text;
}

// Two runs of digits without leading zeros, of equal length so far, stop side by side at x_rest
// and y_rest: at least one of them stops there. When one has ended and the other goes on to the
// end of its component, both are numbers and the longer is larger: -1 or 1. Otherwise at least
// one of them is not a number: 0.
int longer_number (const guchar *x_rest, const guchar *y_rest)
{
  const ByteClass x_after = class_of (*x_rest), y_after = class_of (*y_rest);
  if (x_after == end_of_component && y_after == digit
      && class_of (*end_of_digits (y_rest)) == end_of_component)
    return -1;
  if (y_after == end_of_component && x_after == digit
      && class_of (*end_of_digits (x_rest)) == end_of_component)
    return 1;
  return 0;
}

template <bool at_start> int order_at (const guchar *x, const guchar *y, std::size_t i);

// x and y each start a component at 0, after equal ones: the first difference decides.
[[gnu::noinline]] int order_of_rest (const guchar *x, const guchar *y)
{
  if (x[0] != y[0])
    return order_at<false> (x, y, 0);
  for (std::size_t i = 0;;)
    {
      if (x[i] == '\0')
        return 0;
      i++;
      if (x[i] != y[i]) [[unlikely]]
        return order_at<false> (x, y, i);
    }
}

// x[i] and y[i] end two equal components: the string with fewer components comes first, or the
// next components decide.
int order_after (const guchar *x, const guchar *y, std::size_t i)
{
  if (x[i] == '\0' || y[i] == '\0')
    return int (x[i] != '\0') - int (y[i] != '\0');
  return order_of_rest (x + i + 1, y + i + 1);
}

// The components that start at `start` agree before i, differ at i, and hold only digits up to
// it, with a leading zero. As numbers they compare without their leading zeros, and may be
// equal; if either is not a number, the text rule decides at i.
[[gnu::noinline]] int order_of_numbers (const guchar *x, const guchar *y, std::size_t i,
                                        std::size_t start)
{
  const guchar *x_digit = x + start, *y_digit = y + start;
  while (*x_digit == '0')
    x_digit++;
  while (*y_digit == '0')
    y_digit++;
  while (*x_digit == *y_digit && class_of (*x_digit) == digit)
    {
      x_digit++;
      y_digit++;
    }
  const ByteClass x_class = class_of (*x_digit), y_class = class_of (*y_digit);
  if (x_class == end_of_component && y_class == end_of_component)
    return order_after (x_digit, y_digit, 0); // equal numbers
  if (x_class == digit && y_class == digit)
    {
      // At equal length, the first differing significant digit decides.
      const int order = *x_digit < *y_digit ? -1 : 1;
      do
        {
          x_digit++;
          y_digit++;
        }
      while (class_of (*x_digit) == digit && class_of (*y_digit) == digit);
      if (class_of (*x_digit) == end_of_component && class_of (*y_digit) == end_of_component)
        return order;
    }
  const int order = longer_number (x_digit, y_digit);
  return order != 0 ? order : text_order (x[i], y[i]);
}

// Two runs of digits without leading zeros, the same before `from` (i <= from is where they
// first differ). If both are numbers, the longer is larger, and at equal length the digit at i
// decides; a component that goes on after its digits is text.
[[gnu::noinline]] int order_of_digits (const guchar *x, const guchar *y, std::size_t i,
                                       std::size_t from)
{
  const guchar *x_end = end_of_digits (x + from), *y_end = end_of_digits (y + from);
  if (class_of (*x_end) != end_of_component || class_of (*y_end) != end_of_component) [[unlikely]]
    return text_order (x[i], y[i]);
  if (x_end - x != y_end - y)
    return x_end - x < y_end - y ? -1 : 1;
  return x[i] < y[i] ? -1 : 1;
}

// Both components start at i with a digit, one of them with a zero. That one is the smaller
// number if its digits run no longer than the other's, as it has fewer significant ones;
// otherwise the values decide.
[[gnu::noinline]] int order_with_zero (const guchar *x, const guchar *y, std::size_t i)
{
  const guchar *x_end = end_of_digits (x + i + 1), *y_end = end_of_digits (y + i + 1);
  if (class_of (*x_end) != end_of_component || class_of (*y_end) != end_of_component)
    return text_order (x[i], y[i]);
  if (x[i] == '0' && y[i] != '0' && x_end - x <= y_end - y)
    return -1;
  if (y[i] == '0' && x[i] != '0' && y_end - y <= x_end - x)
    return 1;
  return order_of_numbers (x, y, i, i);
}

// The component that holds i began before it, on the bytes both strings share (x[i - 1] is a
// digit or a letter): it is a number on both sides only if those bytes are all digits.
[[gnu::noinline]] int order_in_component (const guchar *x, const guchar *y, std::size_t i)
{
  // Most often a number of two digits that differ in the second: it began one byte before i,
  // without a zero.
  if (class_of (x[i - 1]) == digit && x[i - 1] != '0'
      && (i == 1 || class_of (x[i - 2]) == end_of_component))
    return order_of_digits (x, y, i, i);
  std::size_t start = i - 1;
  if (class_of (x[start]) == digit)
    {
      while (start > 0 && class_of (x[start - 1]) == digit)
        start--;
      if (start == 0 || class_of (x[start - 1]) == end_of_component)
        return x[start] == '0' ? order_of_numbers (x, y, i, start) : order_of_digits (x, y, i, i);
    }
  return text_order (x[i], y[i]);
}

// x and y each start a component at 0, agree before i and differ at i; neither is empty. When
// i is 0 at the start of the strings, at_start is true; otherwise the byte before x + i is part of
// x, or the separator before it.
template <bool at_start>
[[gnu::noinline]] int order_at (const guchar *x, const guchar *y, std::size_t i)
{
  const guchar cx = x[i], cy = y[i];
  const ByteClass x_class = class_of (cx), y_class = class_of (cy);
  // Whether the component that holds i began before it, on the bytes both strings share.
  const auto began_before = [&] { return !at_start && class_of ((x + i)[-1]) != end_of_component; };
  if (x_class == digit && y_class == digit) [[likely]]
    {
      if (began_before ()) [[unlikely]]
        return order_in_component (x, y, i);
      // Both components start at i.
      if (cx == '0' || cy == '0') [[unlikely]]
        return order_with_zero (x, y, i);
      // One digit each, as in most release numbers, or longer runs.
      if (class_of (x[i + 1]) == end_of_component && class_of (y[i + 1]) == end_of_component)
        return cx < cy ? -1 : 1;
      return order_of_digits (x, y, i, i + 1);
    }
  // A letter makes its component text, and then the first difference decides.
  if (x_class == other || y_class == other)
    return text_order (cx, cy);
  if (x_class == y_class)
    {
      // Two ends of equal components: the string with fewer comes first, or the next ones
      // decide, most often at their first byte.
      if (cx == '\0' || cy == '\0')
        return int (cx != '\0') - int (cy != '\0');
      if (x[i + 1] != y[i + 1])
        return order_at<false> (x + i + 1, y + i + 1, 0);
      return order_of_rest (x + i + 1, y + i + 1);
    }
  // A digit against the end of a component, which may have begun before i.
  if (began_before ())
    return order_in_component (x, y, i);
  return text_order (cx, cy); // an empty component orders first
}
} // namespace

int compare_versions (const char *a, const char *b)
{
  const auto *x = reinterpret_cast<const guchar *> (a);
  const auto *y = reinterpret_cast<const guchar *> (b);
  if (x[0] != y[0])
    {
      // An empty string has no components, so it orders before any other. Only the first byte
      // can show that a string is empty: later, the end is the end of an empty last component.
      if (x[0] == '\0' || y[0] == '\0')
        return int (x[0] != '\0') - int (y[0] != '\0');
      return order_at<true> (x, y, 0);
    }
  // The bytes both share, written so that each costs one jump back and the first difference none.
  for (std::size_t i = 0;;)
    {
      if (x[i] == '\0')
        return 0;
      i++;
      if (x[i] != y[i]) [[unlikely]]
        return order_at<false> (x, y, i);
    }
}
