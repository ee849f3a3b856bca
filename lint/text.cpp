// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "text.h"

#include <algorithm>
#include <vector>

namespace
{
constexpr std::size_t tab_stop = 8;

// The character text starts with, or (gunichar) -1 for a byte that starts none.
gunichar first_character (std::string_view text)
{
  if (text.empty () || guchar (text[0]) < 0x80)
    return text.empty () ? gunichar (-1) : guchar (text[0]);
  const gunichar c = g_utf8_get_char_validated (text.data (), gssize (text.size ()));
  return c <= 0x10ffff ? c : gunichar (-1);
}

void append_escape (std::string &out, std::string_view character)
{
  char code[11];
  const gunichar c = first_character (character);
  if (c == '\t' || c == '\r' || c == '\n')
    out += c == '\t' ? "\\t" : c == '\r' ? "\\r" : "\\n";
  else if (c == gunichar (-1) || c < 0x80)
    {
      g_snprintf (code, sizeof code, "\\x%02x", guchar (character[0]));
      out += code;
    }
  else
    {
      g_snprintf (code, sizeof code, "\\u%04x", c);
      out += code;
    }
}

// Both escapes: every unsafe character and invalid byte, and whatever else `also` names.
template <typename Also> std::string escape (std::string_view text, Also also)
{
  std::string out;
  out.reserve (text.size ());
  while (!text.empty ())
    {
      const std::size_t length = character_length (text);
      const gunichar c = first_character (text);
      if (c == gunichar (-1) || is_unsafe_character (c))
        {
          if (c == '\t' && also ('\t') == 0)
            out += '\t';
          else
            append_escape (out, text);
        }
      else if (c < 0x80 && also (char (c)) != 0)
        out += std::string ("\\") + char (c);
      else
        out.append (text.substr (0, length));
      text.remove_prefix (length);
    }
  return out;
}
} // namespace

std::size_t character_length (std::string_view text)
{
  return !text.empty () && guchar (text[0]) >= 0x80 && first_character (text) != gunichar (-1)
             ? std::size_t (g_utf8_skip[guchar (text[0])])
             : 1;
}

bool is_unsafe_character (gunichar c)
{
  return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x061c || c == 0x200e || c == 0x200f
         || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

std::string escaped (std::string_view text)
{
  return escape (text, [] (char c) { return c == '"' || c == '\'' || c == '\\' || c == '\t'; });
}

std::string terminal_text (std::string_view text, bool tabs_stay)
{
  return escape (text, [tabs_stay] (char c) { return c == '\t' && !tabs_stay; });
}

std::string json_terminal_safe (std::string_view json)
{
  std::string out;
  out.reserve (json.size ());
  while (!json.empty ())
    {
      const std::size_t length = character_length (json);
      const gunichar c = first_character (json);
      // JSON itself escapes the C0 controls; what is left are the others.
      if (c != gunichar (-1) && c >= 0x7f && is_unsafe_character (c))
        {
          char code[7];
          g_snprintf (code, sizeof code, "\\u%04x", c);
          out += code;
        }
      else
        out.append (json.substr (0, length));
      json.remove_prefix (length);
    }
  return out;
}

std::size_t display_width (std::string_view character, std::size_t column)
{
  const gunichar c = first_character (character);
  if (c == '\t')
    return tab_stop - (column - 1) % tab_stop;
  if (c == gunichar (-1) || c < 0x80)
    return 1;
  if (g_unichar_iswide (c))
    return 2;
  return g_unichar_iszerowidth (c) ? 0 : 1;
}

std::size_t display_column (std::string_view line, std::size_t at)
{
  std::size_t column = 1;
  for (std::size_t offset = 0; offset < at && offset < line.size ();)
    {
      const auto rest = line.substr (offset);
      column += display_width (rest, column);
      offset += character_length (rest);
    }
  return column;
}

bool is_same_ignoring_case (std::string_view a, std::string_view b)
{
  return a.size () == b.size () && g_ascii_strncasecmp (a.data (), b.data (), a.size ()) == 0;
}

std::size_t edit_distance (std::string_view a, std::string_view b)
{
  // Three rows of the optimal string alignment table: two back, one back and this one.
  std::vector<std::size_t> before (b.size () + 1), last (b.size () + 1), row (b.size () + 1);
  for (std::size_t j = 0; j <= b.size (); j++)
    last[j] = j;
  for (std::size_t i = 1; i <= a.size (); i++)
    {
      row[0] = i;
      for (std::size_t j = 1; j <= b.size (); j++)
        {
          row[j] = std::min ({ last[j - 1] + (a[i - 1] != b[j - 1]), last[j] + 1, row[j - 1] + 1 });
          if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
            row[j] = std::min (row[j], before[j - 2] + 1);
        }
      std::swap (before, last);
      std::swap (last, row);
    }
  return last[b.size ()];
}
