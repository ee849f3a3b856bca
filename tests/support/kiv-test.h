// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// kiv-test.h: what the tests, fuzz targets and benchmarks share. Records they own (the product's
// records live for the whole process), snapshots of lists, the sign of a comparison, and logs
// captured through GLib's structured writer. Needs no test framework.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <glib.h>

#include "host.h"
#include "parse-private.h"

// compare_versions promises only the sign of its result.
inline int sign (int value)
{
  return (value > 0) - (value < 0);
}

// A list's strings, or nothing for an absent list.
using Strings = std::optional<std::vector<std::string>>;

inline Strings strings_of (const GPtrArray *list)
{
  if (list == nullptr)
    return std::nullopt;
  std::vector<std::string> out;
  for (guint i = 0; i < list->len; i++)
    out.emplace_back (static_cast<const char *> (g_ptr_array_index (list, i)));
  return out;
}

// Every list of a record by name, so a test can check that a line touched no other list.
using Lists = std::map<std::string, Strings>;

inline Lists lists_of (const Configuration *config)
{
  Lists lists;
  for (const auto &list : configuration_lists)
    lists[list.name] = strings_of (config->*list.member);
  return lists;
}

// What a new record holds.
inline Lists empty_lists ()
{
  g_autoptr (Configuration) config = new_configuration ();
  return lists_of (config);
}

// A new record once `name` holds `values`.
inline Lists with (const char *name, std::vector<std::string> values)
{
  auto lists = empty_lists ();
  lists[name] = std::move (values);
  return lists;
}

// Keeps the lines the section walk hands to the parser, with the header it selected and where
// and why the section ended (0 for none).
struct LineRecorder final : ParseObserver
{
  std::vector<std::string> lines;
  std::size_t selected = 0, end_line = 0;
  SectionEnd why = SectionEnd::end_of_text;
  void section_selected (std::size_t line, std::string_view) override { selected = line; }
  void section_line (std::size_t, std::string_view line) override { lines.emplace_back (line); }
  void section_ended (std::size_t line, SectionEnd reason) override
  {
    end_line = line;
    why = reason;
  }
};

// What walk_sections told of one header, with the lists and lines of its section when it is the
// one a machine selects.
struct WalkedSection
{
  std::size_t line;
  std::string header, config_id;
  std::size_t selected_line;
  Lists lists;
  std::vector<std::string> lines;
};

// Parses every section that walk_sections selects into a record of its own, as the checker and
// the preview of every section do, and notes each line it is told of.
struct SectionRecorder final : SectionWalker
{
  std::vector<WalkedSection> sections;
  std::set<std::size_t> announced, selected;
  std::unique_ptr<Configuration, void (*) (Configuration *)> config{ nullptr, free_configuration };

  Configuration *section_header (std::size_t line, std::string_view header,
                                 std::string_view config_id, std::size_t selected_line) override
  {
    announced.insert (line);
    sections.push_back (
        { line, std::string (header), std::string (config_id), selected_line, {}, {} });
    config.reset (selected_line == line ? new_configuration () : nullptr);
    return config.get ();
  }
  void section_selected (std::size_t line, std::string_view) override { selected.insert (line); }
  void section_line (std::size_t line, std::string_view text) override
  {
    announced.insert (line);
    if (config != nullptr)
      sections.back ().lines.emplace_back (text);
  }
  void section_ended (std::size_t line, SectionEnd why) override
  {
    if (why == SectionEnd::empty_line)
      announced.insert (line);
    if (config != nullptr)
      sections.back ().lists = lists_of (config.get ());
  }
  void outside_line (std::size_t line, std::string_view) override { announced.insert (line); }
};

// The number of lines in text, as Lines hands them out.
inline std::size_t line_count (std::string_view text)
{
  return text.empty () ? 0 : std::size_t (std::count (text.begin (), text.end (), '\n')) + 1;
}

// A distribution record the caller owns, unlike the process-wide one: its strings are freed
// with it.
struct Record : DistroInformation
{
  Record () : DistroInformation () {}
  ~Record ()
  {
    for (char *field : { distributor, description, release, codename })
      g_free (field);
  }
  Record (const Record &) = delete;
  Record &operator= (const Record &) = delete;

  // Sets all four strings to copies of text.
  void fill (const char *text)
  {
    for (char **field : { &distributor, &description, &release, &codename })
      {
        g_free (*field);
        *field = g_strdup (text);
      }
  }
};

// One message logged through GLib.
struct LogRecord
{
  GLogLevelFlags level;
  std::string message;
  bool has_domain;
  bool operator== (const LogRecord &) const = default;
};

inline std::ostream &operator<< (std::ostream &out, const LogRecord &record)
{
  return out << "{level " << int (record.level) << ", \"" << record.message << "\""
             << (record.has_domain ? ", with a domain}" : "}");
}

inline std::vector<LogRecord> &recorded_logs ()
{
  static std::vector<LogRecord> logs;
  return logs;
}

// Sends everything logged through GLib, debug messages included, to recorded_logs. GLib takes one
// writer per process, so a test program calls this once, before its first test.
inline bool record_logs ()
{
  g_log_set_writer_func (
      [] (GLogLevelFlags level, const GLogField *fields, gsize n_fields, gpointer) {
        LogRecord record{ GLogLevelFlags (level & G_LOG_LEVEL_MASK), {}, false };
        for (gsize i = 0; i < n_fields; i++)
          {
            const std::string_view key = fields[i].key;
            if (key == "MESSAGE")
              record.message = static_cast<const char *> (fields[i].value);
            else if (key == "GLIB_DOMAIN")
              record.has_domain = true;
          }
        recorded_logs ().push_back (record);
        return G_LOG_WRITER_HANDLED;
      },
      nullptr, nullptr);
  return true;
}

// Everything logged since the last call.
inline std::vector<LogRecord> take_logs ()
{
  return std::exchange (recorded_logs (), {});
}

// The version order written the plain way, to hold compare_versions to: split both strings into
// components at '.', ':' and '-' (an empty string has none), compare component by component, and
// let the string with fewer components come first when all shared ones are equal. Two non-empty
// all-digit components compare as numbers of any length; any other pair compares byte-wise as
// unsigned text. Returns -1, 0 or 1.
inline int reference_compare_versions (std::string_view a, std::string_view b)
{
  const auto split = [] (std::string_view text) {
    std::vector<std::string_view> components;
    if (text.empty ())
      return components;
    while (true)
      {
        const auto end = text.find_first_of (".:-");
        components.push_back (text.substr (0, end));
        if (end == std::string_view::npos)
          return components;
        text.remove_prefix (end + 1);
      }
  };
  const auto is_number = [] (std::string_view text) {
    return !text.empty () && text.find_first_not_of ("0123456789") == std::string_view::npos;
  };
  const auto without_leading_zeros = [] (std::string_view digits) {
    return digits.substr (std::min (digits.find_first_not_of ('0'), digits.size ()));
  };

  const auto x = split (a), y = split (b);
  for (std::size_t i = 0; i < std::min (x.size (), y.size ()); i++)
    {
      int order;
      if (is_number (x[i]) && is_number (y[i]))
        {
          const auto m = without_leading_zeros (x[i]), n = without_leading_zeros (y[i]);
          order = m.size () != n.size () ? (m.size () < n.size () ? -1 : 1) : sign (m.compare (n));
        }
      else
        {
          // std::string_view compares bytes as char_traits<char> does, which is unsigned.
          order = sign (x[i].compare (y[i]));
        }
      if (order != 0)
        return order;
    }
  return sign (int (x.size ()) - int (y.size ()));
}

// The linear searches for the kernel range and Fedora release patterns are held to GRegex itself.
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
