// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// The output of the release command and the text of the Fedora release file: the same input is
// read both ways, into records that already hold values, so replacing a field is exercised too.
//
// Checked for the command output: every field read from it is a piece of the text, trimmed (a
// Fedora codename is taken from between parentheses and may keep its blanks); fields whose key
// is absent keep what they held; and reading the same output again changes nothing.
// Checked for the release file: the distributor is Fedora, the description is the whole text,
// and release and codename are either both "Unknown" or both pieces of the text, as the
// pattern decides, which is what one plain GRegex search of the pattern finds.
#include "fuzz-util.h"
#include "host-private.h"

namespace
{
const char *const placeholder = "\x01placeholder";

bool is_piece_of (std::string_view text, const char *field)
{
  return field != nullptr && text.find (field) != std::string_view::npos;
}

bool is_trimmed (std::string_view field)
{
  return field.empty ()
         || (kiv_trim_chars.find (field.front ()) == std::string_view::npos
             && kiv_trim_chars.find (field.back ()) == std::string_view::npos);
}

// A field from the output: the placeholder when its key never appeared, otherwise absent (a key
// with no colon) or a trimmed piece of the text.
void check_field (std::string_view text, const char *field, bool must_be_trimmed)
{
  if (field == nullptr || g_strcmp0 (field, placeholder) == 0)
    return;
  FUZZ_CHECK (is_piece_of (text, field));
  if (must_be_trimmed)
    FUZZ_CHECK (is_trimmed (field));
}

void check_output (const std::string &text)
{
  Record info;
  info.fill (placeholder);
  parse_release_output (text.c_str (), &info);
  check_field (text, info.distributor, true);
  check_field (text, info.description, true);
  check_field (text, info.release, true);
  check_field (text, info.codename, g_strcmp0 (info.distributor, "Fedora") != 0);

  Record again;
  again.fill (placeholder);
  parse_release_output (text.c_str (), &again);
  parse_release_output (text.c_str (), &again);
  FUZZ_CHECK (g_strcmp0 (info.distributor, again.distributor) == 0);
  FUZZ_CHECK (g_strcmp0 (info.description, again.description) == 0);
  FUZZ_CHECK (g_strcmp0 (info.release, again.release) == 0);
  FUZZ_CHECK (g_strcmp0 (info.codename, again.codename) == 0);
}

void check_file (const std::string &text)
{
  Record info;
  info.fill (placeholder);
  parse_release_file (text.c_str (), &info);
  FUZZ_CHECK (g_strcmp0 (info.distributor, "Fedora") == 0);
  FUZZ_CHECK (g_strcmp0 (info.description, text.c_str ()) == 0);

  g_autofree char *release = nullptr;
  g_autofree char *codename = nullptr;
  const bool matched = match_fedora_release (text.c_str (), &release, &codename);
  if (g_utf8_validate (text.c_str (), -1, nullptr))
    {
      const auto want = regex_groups ("Fedora\\s+release\\s+(\\d+)\\s+\\((.*?)\\)", text);
      FUZZ_CHECK (want.has_value () == matched);
      FUZZ_CHECK (!matched || ((*want)[0] == release && (*want)[1] == codename));
    }
  if (matched)
    {
      FUZZ_CHECK (is_piece_of (text, info.release) && *info.release != '\0');
      FUZZ_CHECK (is_piece_of (text, info.codename));
      FUZZ_CHECK (g_strcmp0 (info.release, release) == 0);
      FUZZ_CHECK (g_strcmp0 (info.codename, codename) == 0);
    }
  else
    {
      FUZZ_CHECK (g_strcmp0 (info.release, "Unknown") == 0);
      FUZZ_CHECK (g_strcmp0 (info.codename, "Unknown") == 0);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t *data, size_t size)
{
  const std::string text = as_c_text (data, size);
  check_output (text);
  check_file (text);
  return 0;
}
