// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "host.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "host-private.h"

// host.h shows introspection the kernel's identification as a block of six fields' bytes.
static_assert (sizeof (struct utsname) == 6 * _UTSNAME_LENGTH);

namespace
{
// Installers keep pointers into this record, so it is filled in place and never freed.
DistroInformation distro_info;
gint distro_obtained = FALSE; // read and set atomically: the record is complete once it is set

// "Fedora\s+release\s+(\d+)\s+\((.*?)\)" in two parts: the head up to the parenthesis, and
// what `.` accepts, which ends at a line break.
constexpr const char *fedora_head_source = "Fedora\\s+release\\s+(\\d+)\\s+\\(";
constexpr const char *line_source = ".*";
constexpr std::size_t first_window = 64;

void replace_field (char **field, char *value)
{
  g_free (*field);
  *field = value;
}

char **field_for_key (std::string_view key, DistroInformation *info)
{
  if (key == "Distributor ID")
    return &info->distributor;
  if (key == "Description")
    return &info->description;
  if (key == "Release")
    return &info->release;
  if (key == "Codename")
    return &info->codename;
  return nullptr;
}

// Moves a window's end past the rest of a UTF-8 character, which GRegex would take for bad text.
std::size_t character_end (std::string_view text, std::size_t at)
{
  while (at < text.size () && (guchar (text[at]) & 0xc0) == 0x80)
    at++;
  return at;
}

// Matches the head anchored at `from`, in windows of text that double only while the match
// runs into their end.
GMatchInfo *match_head (GRegex *head, std::string_view text, std::size_t from)
{
  constexpr auto flags = GRegexMatchFlags (G_REGEX_MATCH_ANCHORED | G_REGEX_MATCH_PARTIAL_HARD);
  for (std::size_t size = first_window;; size *= 2)
    {
      const auto end = character_end (text, std::min (text.size (), from + size));
      GMatchInfo *match = nullptr;
      if (g_regex_match_full (head, text.data () + from, gssize (end - from), 0, flags, &match,
                              nullptr))
        return match;
      const bool cut_by_window = g_match_info_is_partial_match (match);
      g_match_info_free (match);
      if (!cut_by_window || end == text.size ())
        return nullptr;
    }
}

// Where the text that `.` accepts from `from` stops: at a line break, or at limit if none comes
// before it.
std::size_t line_end (GRegex *line, std::string_view text, std::size_t from, std::size_t limit)
{
  for (std::size_t size = first_window;; size *= 2)
    {
      const auto end = character_end (text, std::min (limit, from + size));
      g_autoptr (GMatchInfo) match = nullptr;
      g_regex_match_full (line, text.data () + from, gssize (end - from), 0, G_REGEX_MATCH_ANCHORED,
                          &match, nullptr);
      int start = 0, stop = 0;
      g_match_info_fetch_pos (match, 0, &start, &stop);
      if (from + std::size_t (stop) < end || end == limit)
        return from + std::size_t (stop);
    }
}
} // namespace

// An unanchored search of the whole pattern runs `.*?` from every "Fedora" to the end of the
// line, which takes time quadratic in a long line of repeated "Fedora release 1 (". Here the
// codename of a head is the text up to the first ')' after it, unless a line break comes first;
// the ')' and the line break found for one head hold for every later head before them, so no
// stretch of text is searched twice.
bool find_fedora_release (std::string_view text, std::string_view *out_release,
                          std::string_view *out_codename)
{
  g_autoptr (GRegex) head
      = g_regex_new (fedora_head_source, GRegexCompileFlags (0), GRegexMatchFlags (0), nullptr);
  g_autoptr (GRegex) line
      = g_regex_new (line_source, GRegexCompileFlags (0), GRegexMatchFlags (0), nullptr);
  if (head == nullptr || line == nullptr)
    return false;

  std::size_t close = 0;      // the first ')' after the latest head's parenthesis
  std::size_t line_break = 0; // a line break with no ')' between the latest codename and it
  for (auto from = text.find ("Fedora"); from != std::string_view::npos;
       from = text.find ("Fedora", from + 1))
    {
      g_autoptr (GMatchInfo) match = match_head (head, text, from);
      int start = 0, stop = 0, digits_start = 0, digits_stop = 0;
      if (match == nullptr || !g_match_info_fetch_pos (match, 0, &start, &stop)
          || !g_match_info_fetch_pos (match, 1, &digits_start, &digits_stop))
        continue;
      const auto codename = from + std::size_t (stop);
      if (close < codename)
        close = text.find (')', codename);
      if (close == std::string_view::npos)
        return false; // nor can any later head close
      if (codename <= line_break)
        continue;
      line_break = line_end (line, text, codename, close);
      if (line_break == close)
        {
          *out_release = text.substr (from + std::size_t (digits_start),
                                      std::size_t (digits_stop - digits_start));
          *out_codename = text.substr (codename, close - codename);
          return true;
        }
    }
  return false;
}

bool match_fedora_release (const char *text, char **out_release, char **out_codename)
{
  // GRegex expects UTF-8; release text from a broken file must not reach it.
  if (text == nullptr || !g_utf8_validate (text, -1, nullptr))
    return false;

  std::string_view release, codename;
  if (!find_fedora_release (text, &release, &codename))
    return false;
  if (out_release != nullptr)
    *out_release = g_strndup (release.data (), release.size ());
  if (out_codename != nullptr)
    *out_codename = g_strndup (codename.data (), codename.size ());
  return true;
}

void parse_release_output (const char *output, DistroInformation *info)
{
  Lines lines (output);
  for (std::string_view line; lines.next (line);)
    {
      const auto colon = line.find (':');
      if (char **field = field_for_key (line.substr (0, colon), info))
        {
          // "Codename" on its own, with no colon at all, says the field is absent.
          char *value = nullptr;
          if (colon != std::string_view::npos)
            {
              const auto trimmed = kiv_trim (line.substr (colon + 1));
              value = g_strndup (trimmed.data (), trimmed.size ());
            }
          replace_field (field, value);
        }
    }

  // lsb_release on Fedora runs the codename's words together; the description spells it out.
  char *codename = nullptr;
  if (g_strcmp0 (info->distributor, "Fedora") == 0
      && match_fedora_release (info->description, nullptr, &codename))
    replace_field (&info->codename, codename);
}

void parse_release_file (const char *text, DistroInformation *info)
{
  replace_field (&info->distributor, g_strdup ("Fedora"));
  replace_field (&info->description, g_strdup (text));

  char *release = nullptr;
  char *codename = nullptr;
  if (!match_fedora_release (text, &release, &codename))
    {
      release = g_strdup ("Unknown");
      codename = g_strdup ("Unknown");
    }
  replace_field (&info->release, release);
  replace_field (&info->codename, codename);
}

const DistroInformation *obtain_distro_information (GCancellable *cancellable, bool quiet,
                                                    GError **error)
{
  if (g_atomic_int_get (&distro_obtained))
    return &distro_info;

  // Made aside and put in place at once, so that two threads asking at the same time never see
  // half a record; the first to finish fills it, and a record once filled never changes.
  DistroInformation found = {};
  uname (&found.uts);
  // Standard input is the null device, and standard error is left to the caller's terminal
  // unless the caller wants quiet.
  const char *const argv[] = { "lsb_release", "-a", nullptr };
  ProgramOptions options;
  options.quiet = quiet;
  std::string output;
  int status = 0;
  g_autoptr (GError) failure = nullptr;
  if (run_program (argv, options, cancellable, &output, &status, &failure))
    {
      parse_release_output (output.c_str (), &found);
    }
  else if (g_error_matches (failure, G_IO_ERROR, G_IO_ERROR_CANCELLED))
    {
      g_propagate_error (error, g_steal_pointer (&failure));
      return nullptr;
    }
  else
    {
      g_autofree char *text = nullptr;
      if (!g_file_get_contents ("/etc/fedora-release", &text, nullptr, error))
        return nullptr;
      parse_release_file (text, &found);
    }

  static GMutex filling;
  g_mutex_lock (&filling);
  if (!g_atomic_int_get (&distro_obtained))
    {
      distro_info = found;
      found = {};
      g_atomic_int_set (&distro_obtained, TRUE);
    }
  g_mutex_unlock (&filling);
  for (char *field : { found.distributor, found.description, found.release, found.codename })
    g_free (field);
  return &distro_info;
}

const DistroInformation *get_distro_information (void)
{
  return obtain_distro_information (nullptr, false, nullptr);
}

const char *distro_information_get_kernel_release (const DistroInformation *info)
{
  g_return_val_if_fail (info != nullptr, nullptr);
  return info->uts.release;
}

const char *distro_information_get_machine (const DistroInformation *info)
{
  g_return_val_if_fail (info != nullptr, nullptr);
  return info->uts.machine;
}
