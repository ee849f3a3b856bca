// The reference that the linear pattern searches are held to, shared by their tests.
#pragma once

#include <optional>
#include <random>
#include <string>
#include <vector>

#include <glib.h>

// What one unanchored GRegex search of pattern finds in text: the text of each group, or nothing
// when there is no match.
inline std::optional<std::vector<std::string>> regex_groups (const char *pattern,
                                                             const std::string &text)
{
  g_autoptr (GRegex) regex
      = g_regex_new (pattern, GRegexCompileFlags (0), GRegexMatchFlags (0), nullptr);
  g_autoptr (GMatchInfo) match = nullptr;
  if (!g_regex_match_full (regex, text.data (), gssize (text.size ()), 0, GRegexMatchFlags (0),
                           &match, nullptr))
    return std::nullopt;
  std::vector<std::string> groups;
  for (int i = 1; i <= g_regex_get_capture_count (regex); i++)
    {
      g_autofree char *group = g_match_info_fetch (match, i);
      groups.emplace_back (group);
    }
  return groups;
}

// A text of up to most_pieces pieces picked at random.
inline std::string random_text (std::mt19937 &random, const std::vector<std::string> &pieces,
                                int most_pieces)
{
  std::uniform_int_distribution<std::size_t> pick (0, pieces.size () - 1);
  std::string text;
  for (int n = std::uniform_int_distribution<int> (0, most_pieces) (random); n > 0; n--)
    text += pieces[pick (random)];
  return text;
}
