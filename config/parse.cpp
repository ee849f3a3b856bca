// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "parse-private.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <sys/utsname.h>

#include "host-private.h"
#include "host.h"

namespace
{
// The keyword ends at the first of these, and the value starts after the run of them (isspace in
// the C locale). Trimming a value removes the same set less the vertical tab.
constexpr std::string_view word_break_chars = " \t\n\v\f\r";
constexpr std::string_view bound_chars = "0123456789.";

constexpr const char *kernel_range_source = "([0-9.]+)\\s+([0-9.]+)\\s+(.*)";

// The pattern and the release it is compared with are set up together on first use and kept
// for the life of the process; nothing ever frees them.
struct KernelRangeCache
{
  GRegex *pattern;
  const char *kernel_release;
};

const KernelRangeCache &kernel_range_cache ()
{
  static const KernelRangeCache cache = [] {
    struct utsname uts = {};
    return KernelRangeCache{
      g_regex_new (kernel_range_source, GRegexCompileFlags (0), GRegexMatchFlags (0), nullptr),
      g_strdup (uname (&uts) == 0 ? uts.release : ""),
    };
  }();
  return cache;
}

// A view may point at nothing when it is empty; a list must never receive NULL for it.
char *copy_text (std::string_view text)
{
  return text.empty () ? g_strdup ("") : g_strndup (text.data (), text.size ());
}

// Install and upgrade lines may end in a colon and an architecture name. It is the lines whose
// name is equivalent to this machine's that are dropped; differing and unknown names pass.
// Configuration files are written for that rule, so it must not be "corrected".
bool is_kept_on_machine (std::string_view line, std::size_t colon, const HostFacts &host,
                         ParseObserver *observer)
{
  const char *machine = host.machine;
  if (machine == nullptr && host.find_machine != nullptr)
    machine = host.find_machine ();
  if (machine == nullptr)
    return true;

  g_autofree char *arch = copy_text (line.substr (colon + 1));
  if (!architectures_are_equivalent (machine, arch))
    return true;

  if (observer == nullptr)
    {
      g_autofree char *text = copy_text (line);
      g_log (nullptr, G_LOG_LEVEL_DEBUG, "Skipping foreign arch instruction %s on native %s", text,
             machine);
    }
  return false;
}

bool is_kept_by_architecture (std::string_view line, const HostFacts &host, ParseObserver *observer)
{
  const auto colon = line.rfind (':');
  if (colon == std::string_view::npos)
    return true;
  const bool kept = is_kept_on_machine (line, colon, host, observer);
  if (observer != nullptr)
    observer->architecture_suffix (line.substr (colon + 1), kept);
  return kept;
}

// Kernel ranges. An unanchored GRegex search of this pattern costs time quadratic in a long
// run of digits, and each call checks the UTF-8 of its whole subject: one hostile line would
// hang the installer. The search below finds the same first match in linear time. A match can
// only start where a run of bound characters starts, and whether it matches there is decided by
// the text up to the character after the second run, so only that window is handed to GRegex.

std::size_t end_of_bound (std::string_view text, std::size_t from)
{
  const auto end = text.find_first_not_of (bound_chars, from);
  return end == std::string_view::npos ? text.size () : end;
}

// Matches the pattern anchored at the start of text[from, to). Positions in the result count
// from `from`.
GMatchInfo *match_window (GRegex *pattern, std::string_view text, std::size_t from, std::size_t to)
{
  GMatchInfo *match = nullptr;
  if (g_regex_match_full (pattern, text.data () + from, gssize (to - from), 0,
                          G_REGEX_MATCH_ANCHORED, &match, nullptr))
    return match;
  g_match_info_free (match);
  return nullptr;
}

std::string_view group_in (GMatchInfo *match, int group, std::string_view text, std::size_t from)
{
  int start = -1, end = -1;
  if (!g_match_info_fetch_pos (match, group, &start, &end) || start < 0)
    return text.substr (text.size ());
  return text.substr (from + std::size_t (start), std::size_t (end - start));
}

// Where the nested instruction of a range starting at `low` begins and ends. The nested text of
// an outer range holds no character that `.` refuses, so in a range nested inside it `(.*)`
// always runs to the end and only its start needs the pattern: windows that double in size
// find it without running over the rest of the line at every level.
std::string_view nested_instruction (GRegex *pattern, std::string_view text, std::size_t low,
                                     std::size_t window_end, bool is_nested)
{
  if (!is_nested)
    {
      g_autoptr (GMatchInfo) match = match_window (pattern, text, low, text.size ());
      return match != nullptr ? group_in (match, 3, text, low) : text.substr (text.size ());
    }
  while (true)
    {
      g_autoptr (GMatchInfo) match = match_window (pattern, text, low, window_end);
      if (match == nullptr)
        return text.substr (text.size ());
      const auto start = group_in (match, 3, text, low).data () - text.data ();
      if (std::size_t (start) < window_end || window_end == text.size ())
        return text.substr (std::size_t (start));
      window_end = std::min (text.size (), low + 2 * (window_end - low));
      while (window_end < text.size () && (guchar (text[window_end]) & 0xc0) == 0x80)
        window_end++; // a window cut inside a character is not UTF-8
    }
}

// The first match in text, which must be valid UTF-8.
bool find_in_valid_text (GRegex *pattern, std::string_view text, bool is_nested,
                         KernelRange *out_range)
{
  auto low = text.find_first_of (bound_chars);
  while (low != std::string_view::npos)
    {
      const auto low_end = end_of_bound (text, low);
      const auto high = text.find_first_of (bound_chars, low_end);
      if (high == std::string_view::npos)
        return false;
      const auto high_end = end_of_bound (text, high);
      if (high_end == text.size ())
        return false; // the high bound must be followed by whitespace, and no later one can be

      const auto window_end
          = std::min (text.size (), high_end + g_utf8_skip[guchar (text[high_end])]);
      g_autoptr (GMatchInfo) match = match_window (pattern, text, low, window_end);
      if (match != nullptr)
        {
          out_range->low = text.substr (low, low_end - low);
          out_range->high = text.substr (high, high_end - high);
          out_range->nested = nested_instruction (pattern, text, low, window_end, is_nested);
          return true;
        }
      low = high;
    }
  return false;
}

bool is_running_kernel_in (const KernelRange &range, const char *kernel_release)
{
  g_autofree char *low = copy_text (range.low);
  g_autofree char *high = copy_text (range.high);
  return compare_versions (low, kernel_release) <= 0 && compare_versions (high, kernel_release) > 0;
}

// A kernel range may nest another, so the chain is followed in a loop: a hostile line of
// thousands of ranges must not exhaust the stack. The innermost instruction's result is
// ignored, so a nested "[" does not end the section.
void apply_kernel_range (Configuration *config, std::string_view line, const HostFacts &host,
                         ParseObserver *observer)
{
  const char *kernel_release = host.kernel_release != nullptr ? host.kernel_release : "";
  bool is_nested = false;
  while (!line.empty () && line[0] == 'k')
    {
      KernelRange range;
      const auto value = instruction_value (line);
      if (!find_kernel_range (value, is_nested, &range))
        {
          if (observer != nullptr)
            observer->kernel_range_unmatched (value);
          return;
        }
      const bool applies = host.every_kernel || is_running_kernel_in (range, kernel_release);
      if (observer != nullptr)
        observer->kernel_range (value, range, applies);
      if (!applies)
        return;
      line = range.nested;
      is_nested = true;
    }
  parse_instruction (config, line, host, observer);
}

void warn_unrecognised (std::string_view line, ParseObserver *observer)
{
  if (observer != nullptr)
    {
      observer->unrecognised (line);
      return;
    }
  g_autofree char *text = copy_text (line);
  g_log (nullptr, G_LOG_LEVEL_WARNING, "Unrecognised config instruction: %s (%d)", text,
         int (static_cast<signed char> (line[0])));
}

// What each first byte of a line does. Every letter the format knows is in this one table; any
// other byte is an unrecognised instruction.
enum class Action : unsigned char
{
  unrecognised,
  append_error,    // the value as it stands; errors is created by the first one
  append_trimmed,  // the value trimmed, if the list is present
  append_filtered, // the same, unless the architecture filter drops the line
  kernel_range,
  end_section,
  ignore,
};

struct Instruction
{
  char letter;
  Action action;
  GPtrArray *Configuration::*list;
};

constexpr Instruction instructions[] = {
  { 'e', Action::append_error, &Configuration::errors },
  { 's', Action::append_trimmed, &Configuration::sources },
  { 'g', Action::append_trimmed, &Configuration::keys },
  { 'd', Action::append_trimmed, &Configuration::docs },
  { 'I', Action::append_filtered, &Configuration::INSTALL },
  { 'i', Action::append_filtered, &Configuration::install },
  { 'u', Action::append_filtered, &Configuration::upgrade },
  { 'l', Action::append_trimmed, &Configuration::lts },
  { 'k', Action::kernel_range, nullptr },
  { '[', Action::end_section, nullptr },
  { '#', Action::ignore, nullptr },
  { 'n', Action::ignore, nullptr },
  { '\n', Action::ignore, nullptr },
};

// The table indexed by byte, so that each line costs one lookup.
constexpr auto instruction_for_byte = [] {
  std::array<Instruction, 256> by_byte{};
  for (const auto &instruction : instructions)
    by_byte[guchar (instruction.letter)] = instruction;
  return by_byte;
}();

} // namespace

Configuration *new_configuration (void)
{
  // Every list but errors exists from the start, so a line whose list is absent can only be an
  // error line.
  Configuration *config = g_new0 (Configuration, 1);
  for (const auto &instruction : instructions)
    if (instruction.list != nullptr && instruction.action != Action::append_error)
      config->*instruction.list = g_ptr_array_new_with_free_func (g_free);
  return config;
}

void free_configuration (Configuration *config)
{
  if (config == nullptr)
    return;
  for (const auto &list : configuration_lists)
    if (config->*list.member != nullptr)
      g_ptr_array_unref (config->*list.member);
  g_free (config);
}

bool find_kernel_range (std::string_view text, bool text_is_nested, KernelRange *out_range)
{
  GRegex *pattern = kernel_range_cache ().pattern;
  // GRegex reads past the end of what is not UTF-8, and such text can match nothing.
  if (pattern == nullptr || text.empty ()
      || (!text_is_nested && !g_utf8_validate (text.data (), gssize (text.size ()), nullptr)))
    return false;
  return find_in_valid_text (pattern, text, text_is_nested, out_range);
}

std::size_t kernel_range_stop (std::string_view text)
{
  GRegex *pattern = kernel_range_cache ().pattern;
  if (pattern == nullptr || !g_utf8_validate (text.data (), gssize (text.size ()), nullptr))
    return std::string_view::npos;
  // Whether some match could start with the first `length` bytes of text: a partial match says
  // that more text could complete it. No prefix that fails can be saved by a longer one, so the
  // character where they start failing is found by halving.
  const auto can_start_match = [&] (std::size_t length) {
    g_autoptr (GMatchInfo) match = nullptr;
    const bool matched = g_regex_match_full (
        pattern, text.data (), gssize (length), 0,
        GRegexMatchFlags (G_REGEX_MATCH_ANCHORED | G_REGEX_MATCH_PARTIAL_HARD), &match, nullptr);
    return matched || g_match_info_is_partial_match (match);
  };
  if (text.empty () || can_start_match (text.size ()))
    return std::string_view::npos;
  const auto next_character
      = [&] (std::size_t at) { return at + std::size_t (g_utf8_skip[guchar (text[at])]); };
  std::size_t good = 0, bad = text.size (); // good can start a match (an empty text can), bad not
  while (next_character (good) < bad)
    {
      auto middle = good + (bad - good) / 2;
      while ((guchar (text[middle]) & 0xc0) == 0x80)
        middle--; // a prefix cut inside a character is not UTF-8
      if (middle <= good)
        middle = next_character (good);
      (can_start_match (middle) ? good : bad) = middle;
    }
  return good;
}

bool parse_instruction (Configuration *config, std::string_view line, const HostFacts &host,
                        ParseObserver *observer)
{
  if (line.empty ())
    return true;

  const Instruction &instruction = instruction_for_byte[guchar (line[0])];
  GPtrArray *list = instruction.list != nullptr ? config->*instruction.list : nullptr;
  std::string_view value;
  switch (instruction.action)
    {
    case Action::append_error:
      if (list == nullptr)
        list = config->*instruction.list = g_ptr_array_new_with_free_func (g_free);
      value = instruction_value (line);
      break;

    case Action::append_trimmed:
      if (list == nullptr)
        return true;
      value = kiv_trim (instruction_value (line));
      break;

    case Action::append_filtered:
      if (list == nullptr || !is_kept_by_architecture (line, host, observer))
        return true;
      value = kiv_trim (instruction_value (line));
      break;

    case Action::kernel_range:
      apply_kernel_range (config, line, host, observer);
      return true;

    case Action::end_section:
      return false;

    case Action::ignore:
      return true;

    case Action::unrecognised:
      warn_unrecognised (line, observer);
      return true;
    }

  g_ptr_array_add (list, copy_text (value));
  if (observer != nullptr)
    observer->appended (instruction.list, value);
  return true;
}

bool starts_section (std::string_view line)
{
  return !line.empty () && instruction_for_byte[guchar (line[0])].action == Action::end_section;
}

bool is_comment (std::string_view line)
{
  return line.empty () || instruction_for_byte[guchar (line[0])].action == Action::ignore;
}

HostFacts host_facts (const DistroInformation *distro)
{
  return HostFacts{
    distro != nullptr ? distro->uts.machine : nullptr,
    kernel_range_cache ().kernel_release,
  };
}

HostFacts this_machine (void)
{
  return host_facts (get_distro_information ());
}

gboolean parse_cfg_line (Configuration *config, const char *line)
{
  g_return_val_if_fail (config != nullptr, TRUE);
  g_return_val_if_fail (line != nullptr, TRUE);

  // Only a line with an architecture suffix needs the machine, so only such a line asks for it:
  // without distribution information every lookup runs lsb_release again.
  HostFacts host = host_facts (nullptr);
  host.find_machine = [] () -> const char * {
    const DistroInformation *distro = get_distro_information ();
    return distro != nullptr ? distro->uts.machine : nullptr;
  };
  return parse_instruction (config, line, host);
}

std::string_view instruction_word (std::string_view line)
{
  return line.substr (0, line.find_first_of (word_break_chars));
}

std::string_view instruction_value (std::string_view line)
{
  const auto word_end = instruction_word (line).size ();
  if (word_end == line.size ())
    return line.substr (line.size ());
  const auto start = line.find_first_not_of (word_break_chars, word_end + 1);
  return line.substr (start == std::string_view::npos ? line.size () : start);
}
