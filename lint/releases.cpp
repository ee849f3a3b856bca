// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "releases.h"

#include <algorithm>
#include <array>
#include <optional>

#include <glib.h>

#include "common-private.h"
#include "text.h"

namespace
{
constexpr std::string_view blanks = " \t";

std::vector<std::string_view> split_row (std::string_view row)
{
  std::vector<std::string_view> fields;
  while (true)
    {
      const auto comma = row.find (',');
      fields.push_back (kiv_trim (row.substr (0, comma)));
      if (comma == std::string_view::npos)
        return fields;
      row.remove_prefix (comma + 1);
    }
}

bool is_date (std::string_view text)
{
  return text.size () == 10 && text[4] == '-' && text[7] == '-'
         && std::all_of (text.begin (), text.end (),
                         [] (char c) { return g_ascii_isdigit (c) || c == '-'; });
}

// What a spelling is compared by: lower case, without blanks, hyphens or underscores, so that
// "Noble Numbat", "noble-numbat" and "NOBLENUMBAT" are one.
std::string folded (std::string_view text)
{
  std::string out;
  for (const char c : text)
    if (c != ' ' && c != '\t' && c != '-' && c != '_')
      out += g_ascii_tolower (c);
  return out;
}

// The parts of a config-id: "[Ubuntu noble]" gives "Ubuntu", " " and "noble".
struct ConfigIdParts
{
  std::string_view distributor, separator, codename;
};

std::optional<ConfigIdParts> split_config_id (std::string_view config_id)
{
  if (config_id.size () < 2 || config_id.front () != '[' || config_id.back () != ']')
    return std::nullopt;
  const auto inner = config_id.substr (1, config_id.size () - 2);
  const auto blank = inner.find_first_of (blanks);
  if (blank == std::string_view::npos)
    return std::nullopt;
  auto rest = inner.substr (blank);
  const auto codename_start = std::min (rest.find_first_not_of (blanks), rest.size ());
  return ConfigIdParts{ inner.substr (0, blank), rest.substr (0, codename_start),
                        rest.substr (codename_start) };
}

// The release codename might have meant, by its spelling or its number, or else the one a slip
// of a letter or two away.
const Release *nearest_release (const Distribution &distribution, std::string_view codename)
{
  const auto wanted = folded (codename);
  if (wanted.empty ())
    return nullptr;
  for (const auto &release : distribution.releases)
    {
      const std::string_view full = release.codename, version = release.version;
      const std::array<std::string, 4> spellings
          = { folded (release.series), folded (full), folded (full.substr (0, full.find (' '))),
              folded (version.substr (0, version.find (' '))) };
      if (std::find (spellings.begin (), spellings.end (), wanted) != spellings.end ())
        return &release;
    }
  const Release *nearest = nullptr;
  std::size_t best = (wanted.size () >= 5 ? 2 : 1) + 1;
  for (const auto &release : distribution.releases)
    if (const auto distance = edit_distance (wanted, folded (release.series)); distance < best)
      best = distance, nearest = &release;
  return nearest;
}

std::string described (const Release &release)
{
  return "'" + release.series + "'"
         + (release.version.empty () ? "" : " (" + release.version + ")");
}

// Fedora's release file says "Fedora release 41 (Forty One)", and the back end takes the
// codename from between the parentheses: the number in words, or Rawhide.
std::string fedora_words (unsigned number)
{
  static const char *const ones[]
      = { "", "One", "Two", "Three", "Four", "Five", "Six", "Seven", "Eight", "Nine" };
  static const char *const teens[] = { "Ten",     "Eleven",  "Twelve",    "Thirteen", "Fourteen",
                                       "Fifteen", "Sixteen", "Seventeen", "Eighteen", "Nineteen" };
  static const char *const tens[]
      = { "", "", "Twenty", "Thirty", "Forty", "Fifty", "Sixty", "Seventy", "Eighty", "Ninety" };
  if (number < 10)
    return ones[number];
  if (number < 20)
    return teens[number - 10];
  return std::string (tens[number / 10]) + (number % 10 != 0 ? " " : "") + ones[number % 10];
}

std::optional<ReleaseFinding> judge_fedora (std::string_view config_id, const ConfigIdParts &parts)
{
  // Fedora's codenames became its numbers in words with release 21.
  constexpr unsigned first_numbered = 21, last = 99;
  const auto wanted = folded (parts.codename);
  std::string canonical, number;
  if (wanted == "rawhide")
    canonical = "Rawhide";
  for (unsigned n = first_numbered; n <= last && canonical.empty (); n++)
    if (wanted == folded (fedora_words (n)) || wanted == std::to_string (n))
      canonical = fedora_words (n), number = " (" + std::to_string (n) + ")";
  if (canonical.empty () || config_id == "[Fedora " + canonical + "]")
    return std::nullopt;
  if (parts.distributor == "Fedora" && parts.separator == " ")
    return ReleaseFinding{ "unknown-release", parts.codename,
                           "Fedora has no release '" + escaped (parts.codename)
                               + "'; did you mean '" + canonical + "'" + number + "?" };
  return ReleaseFinding{ "unknown-release", config_id,
                         "no machine has the config-id " + escaped (config_id)
                             + "; did you mean [Fedora " + canonical + "]" + number + "?" };
}

std::string support_ended (const Distribution &distribution, const Release &release,
                           std::string_view today)
{
  std::string message = "support for " + distribution.name + " " + release.series
                        + (release.version.empty () ? "" : " (" + release.version + ")")
                        + " ended on " + release.eol;
  std::string later;
  for (const auto &[column, date] : release.later)
    if (date > today)
      later += (later.empty () ? "" : ", ") + column + " " + date;
  return message + (later.empty () ? "" : "; still to come: " + later);
}
} // namespace

bool parse_release_table (std::string_view csv, Distribution &out_distribution)
{
  Lines lines (csv);
  std::string_view row;
  if (!lines.next (row))
    return false;
  const auto names = split_row (row);
  const auto column = [&] (std::string_view name) {
    return std::size_t (std::find (names.begin (), names.end (), name) - names.begin ());
  };
  const std::size_t version = column ("version"), codename = column ("codename"),
                    series = column ("series"), eol = column ("eol");
  if (series == names.size () || version == names.size () || codename == names.size ())
    return false;
  while (lines.next (row))
    {
      const auto fields = split_row (row);
      if (kiv_trim (row).empty () || series >= fields.size () || fields[series].empty ())
        continue;
      Release release{ std::string (fields[version]),
                       std::string (fields[codename]),
                       std::string (fields[series]),
                       {},
                       {} };
      if (eol < fields.size () && is_date (fields[eol]))
        release.eol = fields[eol];
      for (std::size_t i = 0; i < fields.size () && i < names.size (); i++)
        if (i != eol && names[i].starts_with ("eol-") && is_date (fields[i]))
          release.later.emplace_back (names[i], fields[i]);
      out_distribution.releases.push_back (std::move (release));
    }
  return true;
}

ReleaseData read_release_data (const char *directory)
{
  static const struct
  {
    const char *file, *distributor;
  } tables[] = { { "debian.csv", "Debian" }, { "ubuntu.csv", "Ubuntu" } };
  ReleaseData data;
  for (const auto &table : tables)
    {
      g_autofree char *path = g_build_filename (directory, table.file, nullptr);
      g_autofree char *text = nullptr;
      gsize length = 0;
      Distribution distribution{ table.distributor, {} };
      if (g_file_get_contents (path, &text, &length, nullptr)
          && parse_release_table ({ text, length }, distribution))
        data.distributions.push_back (std::move (distribution));
    }
  return data;
}

std::vector<ReleaseFinding> judge_config_id (const ReleaseData &data, std::string_view config_id,
                                             std::string_view today)
{
  const auto parts = split_config_id (config_id);
  if (!parts)
    return {};
  if (is_same_ignoring_case (parts->distributor, "Fedora"))
    {
      if (auto finding = judge_fedora (config_id, *parts))
        return { std::move (*finding) };
      return {};
    }
  const auto distribution
      = std::find_if (data.distributions.begin (), data.distributions.end (), [&] (const auto &d) {
          return is_same_ignoring_case (d.name, parts->distributor);
        });
  if (distribution == data.distributions.end () || distribution->releases.empty ())
    return {};

  const auto exact = std::find_if (distribution->releases.begin (), distribution->releases.end (),
                                   [&] (const Release &r) { return r.series == parts->codename; });
  const bool is_exact = exact != distribution->releases.end ();
  const Release *meant = is_exact ? &*exact : nearest_release (*distribution, parts->codename);
  const bool is_written_right = parts->distributor == distribution->name && parts->separator == " ";
  if (meant == nullptr)
    {
      const auto newest
          = std::find_if (distribution->releases.rbegin (), distribution->releases.rend (),
                          [] (const Release &r) { return !r.version.empty (); });
      std::string message = distribution->name + " has no release '" + escaped (parts->codename)
                            + "' that distro-info-data knows";
      if (newest != distribution->releases.rend ())
        message += "; the newest it knows is " + described (*newest);
      return { { "unknown-release", parts->codename, std::move (message) } };
    }
  if (!is_exact || !is_written_right)
    {
      if (is_written_right)
        return { { "unknown-release", parts->codename,
                   distribution->name + " has no release '" + escaped (parts->codename)
                       + "'; did you mean " + described (*meant) + "?" } };
      return { { "unknown-release", config_id,
                 "no machine has the config-id " + escaped (config_id) + "; did you mean ["
                     + distribution->name + " " + meant->series + "]"
                     + (meant->version.empty () ? "" : " (" + meant->version + ")") + "?" } };
    }
  if (!today.empty () && !meant->eol.empty () && meant->eol < today)
    return { { "ended-support", parts->codename, support_ended (*distribution, *meant, today) } };
  return {};
}
