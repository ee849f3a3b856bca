// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "check.h"

#include <algorithm>
#include <memory>
#include <unordered_map>

#include <glib.h>

#include "host-private.h"
#include "host.h"
#include "parse-private.h"
#include "releases.h"
#include "text.h"

namespace
{
constexpr std::string_view byte_order_mark = "\xef\xbb\xbf";
constexpr std::string_view directive_start = "kiv-config-lint:", directive_verb = "disable=";
constexpr std::string_view blanks = " \t";

// The same for text that may be as long as a hostile line: at most its first 40 bytes.
std::string excerpt (std::string_view text)
{
  constexpr std::size_t most = 40;
  if (text.size () <= most)
    return escaped (text);
  auto end = most;
  while (end > 0 && (guchar (text[end]) & 0xc0) == 0x80)
    end--;
  return escaped (text.substr (0, end)) + "...";
}

const char *list_name (GPtrArray *Configuration::*member)
{
  for (const auto &list : configuration_lists)
    if (list.member == member)
      return list.name;
  return "?";
}

bool is_check_name (std::string_view name)
{
  return find_check (name) != nullptr;
}

const ReleaseData no_releases;

// What an author who wrote an upper-case letter (Docs, Keys, Upgrade) may have meant.
std::string letter_hint (std::string_view line)
{
  const auto word = instruction_word (line);
  if (is_same_ignoring_case (word, "key") || is_same_ignoring_case (word, "keys"))
    return " (keys are `g` lines)";
  if (line.empty () || !g_ascii_isupper (line[0]))
    return {};
  const char letter = g_ascii_tolower (line[0]);
  if (std::string_view ("esgdulkn").find (letter) == std::string_view::npos)
    return {};
  return std::string (" (instruction letters are case-sensitive: did you mean '") + letter + "'?)";
}

// A header written after blanks: the back end sees no header there.
bool is_indented_header (std::string_view line)
{
  const auto first = line.find_first_not_of (blanks);
  return first != 0 && first != std::string_view::npos && line[first] == '[';
}

// What follows "kiv-config-lint:" in a comment line, trimmed; false for any other line.
bool read_directive (std::string_view line, std::string_view &out_rest)
{
  if (!line.starts_with ('#'))
    return false;
  line = kiv_trim (line.substr (1));
  if (!line.starts_with (directive_start))
    return false;
  out_rest = kiv_trim (line.substr (directive_start.size ()));
  return true;
}

// The names a directive's rest disables, each a view into it: the word after "disable=" split
// at commas. Whatever follows that word is a comment.
template <typename Visit> void for_each_disabled (std::string_view rest, Visit visit)
{
  if (!rest.starts_with (directive_verb))
    return;
  rest.remove_prefix (directive_verb.size ());
  rest = rest.substr (0, rest.find_first_of (blanks));
  while (!rest.empty ())
    {
      const auto comma = rest.find (',');
      visit (rest.substr (0, comma));
      rest = comma == std::string_view::npos ? std::string_view{} : rest.substr (comma + 1);
    }
}

struct ConfigurationDeleter
{
  void operator() (Configuration *config) const { free_configuration (config); }
};

// Checks a whole file in one walk: the section walk and the parser report each line to it, and
// it keeps what surprises. Only the first section of each config-id is parsed, as a machine
// reads it; every line is seen, for the directives and for the lines no machine reads.
class Checker final : public SectionWalker
{
public:
  Checker (const CheckOptions &options, const std::function<void (Diagnostic)> &emit)
      : options_ (options), emit_ (emit)
  {
    host_.every_kernel = true;
  }

  void check (std::string_view bytes);

  Configuration *section_header (std::size_t number, std::string_view header,
                                 std::string_view config_id, std::size_t selected_line) override;
  void outside_line (std::size_t number, std::string_view line) override;
  void section_line (std::size_t number, std::string_view line) override;
  void section_ended (std::size_t number, SectionEnd why) override;
  void appended (GPtrArray *Configuration::*list, std::string_view value) override;
  void architecture_suffix (std::string_view arch, bool kept) override;
  void kernel_range (std::string_view arguments, const KernelRange &range, bool applies) override;
  void kernel_range_unmatched (std::string_view text) override;
  void unrecognised (std::string_view line) override;

private:
  void report (std::size_t line, std::size_t column, Severity severity, std::string_view name,
               std::string message);
  // The same at the current line, at the character where `at` starts.
  void report_at (std::string_view at, Severity severity, std::string_view name,
                  std::string message)
  {
    report (line_number_, column_of (at.data ()), severity, name, std::move (message));
  }
  std::size_t column_of (const char *at);
  bool is_silenced (std::size_t line, std::string_view name) const;
  void note_directive (std::size_t number, std::string_view line);
  void check_bound (const char *which, std::string_view bound);
  void check_release (std::string_view config_id);
  void check_first_word (std::string_view line);

  // A section's diagnostics wait while one on an earlier line may still come: the one at its
  // header when it turns out to hold no instruction, and those at lines holding only a carriage
  // return, which say how far it runs on.
  bool is_holding () const
  {
    return is_checking_ && (!has_instruction_ || !carriage_returns_.empty ());
  }
  void found_instruction ()
  {
    has_instruction_ = true;
    if (!is_holding ())
      flush ();
  }
  void flush ();

  const CheckOptions &options_;
  const std::function<void (Diagnostic)> &emit_;
  HostFacts host_ = { nullptr, "" };
  std::unique_ptr<Configuration, ConfigurationDeleter> scratch_{ new_configuration () };

  // The line being read, and a column already counted in it.
  std::string_view line_;
  std::size_t line_number_ = 0, counted_bytes_ = 0, counted_column_ = 1;

  // The section being read.
  bool is_checking_ = false, has_instruction_ = false, is_lone_carriage_return_ = false;
  // The line is a key written as a kernel range: what the range checks would say misleads.
  bool is_key_as_range_ = false;
  // Lines after a header written after blanks, up to an empty line: its diagnostic covers them.
  bool is_after_indented_header_ = false;
  std::size_t header_line_ = 0;
  std::string section_name_;
  std::vector<std::size_t> carriage_returns_;
  std::vector<Diagnostic> pending_;
  std::string unread_reason_ = "no section header comes before it";

  // The checks silenced for the whole file, and for the line after each run of directives.
  std::vector<std::string_view> silenced_in_file_;
  std::unordered_map<std::size_t, std::vector<std::string_view>> silenced_after_;
};

void Checker::check (std::string_view bytes)
{
  const auto text = configuration_text (bytes);
  // The directives before the first header hold for the whole file, lines before them included.
  Lines head (text);
  for (std::string_view line; head.next (line) && !starts_section (line);)
    if (std::string_view rest; read_directive (line, rest))
      for_each_disabled (rest, [&] (std::string_view name) { silenced_in_file_.push_back (name); });

  if (text.starts_with (byte_order_mark))
    report (1, 1, Severity::error, "byte-order-mark",
            std::string ("byte order mark at the start: the back end reads it as part of the "
                         "first line")
                + (text.substr (byte_order_mark.size ()).starts_with ('[')
                       ? ", which is then no section header"
                       : ""));

  walk_sections (text, host_, *this);
  flush ();

  if (text.size () < bytes.size ())
    {
      const auto last_line = text.substr (text.rfind ('\n') + 1);
      line_ = last_line;
      line_number_ = std::size_t (std::count (text.begin (), text.end (), '\n')) + 1;
      report_at (last_line.substr (last_line.size ()), Severity::error, "nul-byte",
                 "NUL byte: the back end reads no further, so the rest of the file is ignored");
    }
}

void Checker::report (std::size_t line, std::size_t column, Severity severity,
                      std::string_view name, std::string message)
{
  const Check *check = find_check (name);
  if (check == nullptr || !options_.is_reported (*check) || is_silenced (line, name))
    return;
  Diagnostic diagnostic{ line, column, severity, name, std::move (message) };
  if (is_holding ())
    {
      pending_.push_back (std::move (diagnostic));
      return;
    }
  flush ();
  emit_ (std::move (diagnostic));
}

void Checker::flush ()
{
  std::stable_sort (pending_.begin (), pending_.end (),
                    [] (const Diagnostic &a, const Diagnostic &b) { return a.line < b.line; });
  for (auto &diagnostic : pending_)
    emit_ (std::move (diagnostic));
  pending_.clear ();
}

// Counted on from the last column asked for in the same line, since a line of many nested
// ranges asks for many columns, left to right.
std::size_t Checker::column_of (const char *at)
{
  if (at < line_.data () || at > line_.data () + line_.size ())
    return 1;
  const auto offset = std::size_t (at - line_.data ());
  if (offset < counted_bytes_)
    counted_bytes_ = 0, counted_column_ = 1;
  while (counted_bytes_ < offset)
    {
      counted_bytes_ += character_length (line_.substr (counted_bytes_));
      counted_column_++;
    }
  return counted_column_;
}

bool Checker::is_silenced (std::size_t line, std::string_view name) const
{
  const auto has = [&] (const std::vector<std::string_view> &names) {
    return std::find (names.begin (), names.end (), name) != names.end ();
  };
  if (has (silenced_in_file_))
    return true;
  const auto directives = silenced_after_.find (line - 1);
  return directives != silenced_after_.end () && has (directives->second);
}

// A directive silences its checks for the next line; directives on the lines just before it
// add theirs.
void Checker::note_directive (std::size_t number, std::string_view line)
{
  std::string_view rest;
  if (!read_directive (line, rest))
    return;
  if (!rest.starts_with (directive_verb))
    {
      report_at (rest, Severity::warning, "bad-directive",
                 "directive '" + excerpt (rest) + "' is not understood: write disable=NAME[,NAME]");
      return;
    }
  std::vector<std::string_view> names;
  for_each_disabled (rest, [&] (std::string_view name) {
    if (is_check_name (name))
      names.push_back (name);
    else
      report_at (name, Severity::warning, "bad-directive",
                 "directive names no check '" + excerpt (name) + "'");
  });
  if (const auto before = silenced_after_.find (number - 1); before != silenced_after_.end ())
    names.insert (names.end (), before->second.begin (), before->second.end ());
  silenced_after_[number] = std::move (names);
}

Configuration *Checker::section_header (std::size_t number, std::string_view header,
                                        std::string_view config_id, std::size_t selected_line)
{
  line_ = header, line_number_ = number, counted_bytes_ = 0, counted_column_ = 1;
  if (config_id.empty ())
    {
      section_name_ = escaped (header);
      report (number, 1, Severity::warning, "unclosed-header",
              "section header has no \"]\", so no config-id selects it");
      return nullptr;
    }
  section_name_ = escaped (config_id);
  if (selected_line != number)
    {
      const auto winner = std::to_string (selected_line);
      report (number, 1, Severity::warning, "repeated-section",
              "section header " + section_name_ + " repeats line " + winner
                  + "; only the section at line " + winner + " is read");
      return nullptr;
    }
  is_after_indented_header_ = false;
  check_release (config_id);
  is_checking_ = true, has_instruction_ = false, header_line_ = number;
  return scratch_.get ();
}

void Checker::outside_line (std::size_t number, std::string_view line)
{
  line_ = line, line_number_ = number, counted_bytes_ = 0, counted_column_ = 1;
  note_directive (number, line);
  if (line.empty () && is_after_indented_header_)
    {
      is_after_indented_header_ = false;
      unread_reason_ = "no section header comes after the empty line " + std::to_string (number);
    }
  if (is_indented_header (line))
    {
      report (number, 1, Severity::error, "indented-header",
              "a header must start in column 1; neither it nor the lines after it up to an "
              "empty line are read");
      is_after_indented_header_ = true;
    }
  else if (!is_comment (line) && !is_after_indented_header_)
    report (number, 1, Severity::warning, "unread-line", "line is never read: " + unread_reason_);
}

void Checker::section_line (std::size_t number, std::string_view line)
{
  line_ = line, line_number_ = number, counted_bytes_ = 0, counted_column_ = 1;
  note_directive (number, line);
  if (!is_checking_)
    return;
  // Nothing needs the values once they are checked, and a section may be the whole file.
  for (const auto &list : configuration_lists)
    if (GPtrArray *values = scratch_.get ()->*list.member; values != nullptr && values->len > 0)
      g_ptr_array_set_size (values, 0);
  // A CRLF file's blank line: the parser skips it as unrecognised, and the section goes on.
  is_lone_carriage_return_ = line == "\r";
  if (is_lone_carriage_return_)
    carriage_returns_.push_back (number);
  check_first_word (line);
}

void Checker::check_release (std::string_view config_id)
{
  for (auto &finding :
       judge_config_id (options_.releases != nullptr ? *options_.releases : no_releases, config_id,
                        options_.today))
    if (const Check *check = find_check (finding.check))
      report_at (finding.at, check->severity, check->name, std::move (finding.message));
}

// The parser goes by the first byte, but authors write the keyword out: where the word says one
// thing and the letter does another, say so.
void Checker::check_first_word (std::string_view line)
{
  is_key_as_range_ = false;
  // Only k, I and i lines are looked at, so most lines cost a byte's test.
  if (line.empty () || (line[0] != 'k' && line[0] != 'I' && line[0] != 'i'))
    return;
  const auto word = instruction_word (line);
  if (word.starts_with ('k'))
    {
      const auto value = instruction_value (line);
      const auto colon = value.substr (0, 8).find ("://");
      const auto scheme = value.substr (0, colon);
      if (is_same_ignoring_case (word, "key") || is_same_ignoring_case (word, "keys"))
        report_at (line, Severity::error, "key-as-range",
                   "this is a kernel range line (`k`); keys are `g` lines");
      else if (colon != std::string_view::npos
               && (is_same_ignoring_case (scheme, "http")
                   || is_same_ignoring_case (scheme, "https")))
        report_at (value, Severity::error, "key-as-range",
                   "a kernel range line (`k`) whose value is a URL; did you mean `g`?");
      else
        return;
      is_key_as_range_ = true;
    }
  else if (is_same_ignoring_case (word, "install") && word != "install" && word != "INSTALL")
    {
      const bool is_upper = word.starts_with ('I');
      report_at (line, Severity::info, "keyword-case",
                 "'" + escaped (word) + "' selects the " + (is_upper ? "INSTALL" : "install")
                     + " list (`" + word[0] + "`), not the " + (is_upper ? "install" : "INSTALL")
                     + " list");
    }
}

void Checker::section_ended (std::size_t number, SectionEnd why)
{
  if (is_checking_)
    {
      const std::size_t last_read = number - 1;
      for (const auto line : carriage_returns_)
        report (
            line, 1, Severity::warning, "lone-carriage-return",
            "line holds only a carriage return, which does not end section " + section_name_
                + (last_read > line ? "; it runs on to line " + std::to_string (last_read) : ""));
      if (!has_instruction_)
        report (header_line_, 1, Severity::warning, "empty-section",
                "section " + section_name_ + " has no instruction");
      is_checking_ = false;
      carriage_returns_.clear ();
      flush ();
    }
  if (why == SectionEnd::empty_line)
    unread_reason_
        = "section " + section_name_ + " ended at the empty line " + std::to_string (number);
}

void Checker::appended (GPtrArray *Configuration::*list, std::string_view value)
{
  found_instruction ();
  if (value.empty ())
    report_at (value, Severity::warning, "empty-value",
               std::string ("empty value in ") + list_name (list));
  else if (list == &Configuration::errors && value.ends_with ('\r'))
    report_at (value.substr (value.size () - 1), Severity::warning, "error-carriage-return",
               "error text keeps a trailing carriage return");
}

void Checker::architecture_suffix (std::string_view arch, bool)
{
  found_instruction ();
  const std::string name (arch);
  if (arch_type (name.c_str ()) == 0)
    report_at (arch, Severity::warning, "unknown-architecture",
               "architecture suffix \"" + escaped (arch)
                   + "\" names no known architecture, so the line is kept on every machine");
}

// A bound is read as digits and dots, but the version order splits it at each dot, and an empty
// component compares as text, below every number: "6..1" is not 6.1, and ".5" is below 0.
void Checker::check_bound (const char *which, std::string_view bound)
{
  std::size_t at;
  const char *how;
  if (bound.starts_with ('.'))
    at = 0, how = "starts it";
  else if (at = bound.find (".."); at != std::string_view::npos)
    at++, how = "follows another";
  else if (bound.ends_with ('.'))
    at = bound.size () - 1, how = "ends it";
  else
    return;
  report_at (bound.substr (at), Severity::warning, "range-bound",
             std::string (which) + " bound " + excerpt (bound)
                 + " has an empty component where '.' " + how
                 + ": the version order sorts it below every number");
}

// Every range applies to the checker's machine, so the parser goes on to the nested instruction
// itself, and a line of thousands of ranges costs no more than for an installer.
void Checker::kernel_range (std::string_view arguments, const KernelRange &range, bool)
{
  found_instruction ();
  if (is_key_as_range_)
    return;
  const auto low = excerpt (range.low), high = excerpt (range.high);
  if (range.low.data () != arguments.data ())
    {
      const auto skipped
          = arguments.substr (0, std::size_t (range.low.data () - arguments.data ()));
      report_at (arguments, Severity::error, "range-skips-text",
                 "range read as " + low + ".." + high + ": '" + excerpt (skipped)
                     + "' before it is skipped");
      // What is glued to the bound tells why: a comma for a dot, a "v", a sign, the hyphen of
      // a release.
      auto last = skipped.size () - 1;
      while (last > 0 && (guchar (skipped[last]) & 0xc0) == 0x80)
        last--;
      const auto glued = skipped.substr (last);
      if (!g_unichar_isspace (g_utf8_get_char_validated (glued.data (), gssize (glued.size ()))))
        report_at (glued, Severity::warning, "range-bound",
                   "low bound " + low + " is read without the '" + escaped (glued)
                       + "' glued before it: a bound holds only digits and dots");
    }
  // Left to right, so that the columns of a long chain are counted once.
  const std::string low_text (range.low), high_text (range.high);
  if (compare_versions (low_text.c_str (), high_text.c_str ()) >= 0)
    report_at (range.low, Severity::warning, "empty-range",
               "kernel range " + low + " " + high
                   + " holds no kernel: its low bound is not below its high bound");
  check_bound ("low", range.low);
  check_bound ("high", range.high);
}

void Checker::kernel_range_unmatched (std::string_view text)
{
  found_instruction ();
  if (is_key_as_range_)
    return;
  std::string message = "kernel range does not match \"<low> <high> <instruction>\" with a blank "
                        "after each bound, so it never applies";
  const auto stop = kernel_range_stop (text);
  auto at = text.substr (text.size ());
  if (stop != std::string_view::npos)
    {
      at = text.substr (stop);
      message += ": it stops at '" + escaped (at.substr (0, character_length (at)))
                 + "', which is neither part of a bound (digits and dots) nor a blank";
    }
  report_at (at, Severity::error, "range-unmatched", std::move (message));
  const char *valid_end = nullptr;
  if (!g_utf8_validate (text.data (), gssize (text.size ()), &valid_end))
    report (line_number_, column_of (valid_end), Severity::warning, "range-not-utf8",
            "kernel range text is not valid UTF-8");
}

void Checker::unrecognised (std::string_view line)
{
  if (is_lone_carriage_return_)
    return;
  if (line.data () == line_.data () && is_indented_header (line))
    {
      report (line_number_, 1, Severity::error, "indented-header",
              "a header must start in column 1; the line is skipped and section " + section_name_
                  + " goes on past it");
      return;
    }
  // The letter is a byte, but a whole character reads better where the line starts with one.
  report_at (line, Severity::error, "unknown-instruction",
             "unrecognised instruction '" + escaped (line.substr (0, character_length (line)))
                 + "'; the line is skipped" + letter_hint (line));
}

} // namespace

std::string_view configuration_text (std::string_view bytes)
{
  return bytes.substr (0, bytes.find ('\0'));
}

const Check *find_check (std::string_view name)
{
  for (const auto &check : checks)
    if (check.name == name)
      return &check;
  return nullptr;
}

const char *severity_name (Severity severity)
{
  return severity == Severity::error ? "error" : severity == Severity::warning ? "warning" : "info";
}

bool CheckOptions::is_reported (const Check &check) const
{
  const auto has = [&] (const std::vector<std::string> &names) {
    return std::find (names.begin (), names.end (), check.name) != names.end ();
  };
  return (check.is_on_by_default || has (enabled)) && !has (disabled) && check.severity >= least;
}

void check_configuration (std::string_view bytes, const CheckOptions &options,
                          const std::function<void (Diagnostic)> &emit)
{
  Checker (options, emit).check (bytes);
}

std::vector<Diagnostic> check_configuration (std::string_view bytes, const CheckOptions &options)
{
  std::vector<Diagnostic> out;
  check_configuration (bytes, options,
                       [&] (Diagnostic diagnostic) { out.push_back (std::move (diagnostic)); });
  return out;
}
