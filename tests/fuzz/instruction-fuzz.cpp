// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Instruction lines through the parser, one after another into one record. The first byte picks
// the machine; the rest is split at newlines into lines, as a section's lines would be.
//
// Checked after every line: only a "[" line stops; earlier values stay where they were; a line
// appends at most one value, to the list its letter names, and that value is a piece of the line
// with no blanks left at its ends; and at the end the dump shows exactly what the lists hold.
#include <vector>

#include "fuzz-util.h"

namespace
{
constexpr std::string_view word_break_chars = " \t\n\v\f\r";
constexpr std::string_view trim_chars = " \t\n\f\r";

// What every list held before a line, by pointer: nothing may be removed, moved or replaced.
struct Snapshot
{
  std::array<std::vector<gpointer>, 8> items;
  bool had_errors;
};

Snapshot take_snapshot (const Configuration *config)
{
  Snapshot snapshot{ {}, config->errors != nullptr };
  for (size_t i = 0; i < std::size (configuration_lists); i++)
    if (const GPtrArray *list = config->*configuration_lists[i].member)
      snapshot.items[i].assign (list->pdata, list->pdata + list->len);
  return snapshot;
}

// The list a letter appends to, as an index into configuration_lists, or -1 for letters that append
// nothing.
int list_index_for (char letter)
{
  static constexpr std::string_view letters = "esgdIiul"; // in dump order
  const auto at = letters.find (letter);
  return letter == '\0' || at == std::string_view::npos ? -1 : int (at);
}

// Whether the architecture filter lets a direct install, INSTALL or upgrade line through.
bool is_kept_on (std::string_view line, const char *machine)
{
  const auto colon = line.rfind (':');
  if (colon == std::string_view::npos || machine == nullptr)
    return true;
  const std::string arch (line.substr (colon + 1));
  return !architectures_are_equivalent (machine, arch.c_str ());
}

void check_line (Configuration *config, std::string_view line, const HostFacts &host)
{
  const Snapshot before = take_snapshot (config);
  const bool more = parse_instruction (config, line, host);
  FUZZ_CHECK (more == !(line.starts_with ('[')));

  // Find what the line appended, and check that nothing earlier changed.
  int appended_to = -1;
  const char *value = nullptr;
  for (size_t i = 0; i < std::size (configuration_lists); i++)
    {
      const GPtrArray *list = config->*configuration_lists[i].member;
      const auto &old = before.items[i];
      if (list == nullptr)
        {
          FUZZ_CHECK (old.empty ());
          continue;
        }
      FUZZ_CHECK (list->len >= old.size ());
      for (size_t j = 0; j < old.size (); j++)
        FUZZ_CHECK (list->pdata[j] == old[j]);
      if (list->len == old.size ())
        continue;
      FUZZ_CHECK (list->len == old.size () + 1 && appended_to == -1);
      appended_to = int (i);
      value = static_cast<const char *> (list->pdata[old.size ()]);
    }
  // errors comes into being with its first value and not before.
  if (!before.had_errors && config->errors != nullptr)
    FUZZ_CHECK (appended_to == 0);
  for (size_t i = 1; i < std::size (configuration_lists); i++)
    FUZZ_CHECK (config->*configuration_lists[i].member != nullptr);

  const char letter = line.empty () ? '\0' : line[0];
  const int direct = list_index_for (letter);
  if (letter == 'I' || letter == 'i' || letter == 'u')
    FUZZ_CHECK (appended_to == (is_kept_on (line, host.machine) ? direct : -1));
  else if (letter != 'k') // a kernel range may append anywhere, or nothing
    FUZZ_CHECK (appended_to == direct);

  if (value == nullptr)
    return;
  const std::string_view stored (value);
  FUZZ_CHECK (line.find (stored) != std::string_view::npos);
  FUZZ_CHECK (stored.empty () || word_break_chars.find (stored.front ()) == std::string_view::npos);
  if (appended_to != 0)
    FUZZ_CHECK (stored.empty () || trim_chars.find (stored.back ()) == std::string_view::npos);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t *data, size_t size)
{
  if (size == 0)
    return 0;
  const HostFacts &host = host_for (data[0]);
  const std::string text = as_c_text (data + 1, size - 1);

  g_autoptr (Configuration) config = new_configuration ();
  std::string_view rest (text);
  while (true)
    {
      const auto end = rest.find ('\n');
      check_line (config, rest.substr (0, end), host);
      if (end == std::string_view::npos)
        break;
      rest.remove_prefix (end + 1);
    }
  check_dump_lists_everything (config);
  return 0;
}
