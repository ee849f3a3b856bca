// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "check.h"

#include <algorithm>

#include <glib.h>

#include "host-private.h"
#include "host.h"
#include "parse-private.h"

namespace
{
// The machine the checks parse for. Without a machine name no suffixed line is dropped, so every
// suffix is reported; without a kernel release no range applies, so every range is reported and
// the checker hands each nested instruction back to the parser itself.
const HostFacts check_host = { nullptr, "" };

// Whether text starts with a valid UTF-8 character of two or more bytes.
bool starts_with_character (std::string_view text)
{
  return !text.empty () && guchar (text[0]) >= 0x80
         && g_utf8_get_char_validated (text.data (), gssize (text.size ())) <= 0x10ffff;
}

// Text from the file, fit for a one-line message: valid UTF-8 and printable ASCII stay, control
// characters, quotes, backslashes and invalid bytes are escaped as in C.
std::string escaped (std::string_view text)
{
  std::string out;
  while (!text.empty ())
    {
      const auto byte = guchar (text[0]);
      std::size_t length = 1;
      if (starts_with_character (text))
        {
          length = std::size_t (g_utf8_skip[byte]);
          out.append (text.substr (0, length));
        }
      else if (byte == '\t' || byte == '\r' || byte == '\n')
        out += byte == '\t' ? "\\t" : byte == '\r' ? "\\r" : "\\n";
      else if (byte == '"' || byte == '\'' || byte == '\\')
        out += std::string ("\\") + char (byte);
      else if (byte < 0x20 || byte >= 0x7f)
        {
          char hex[5];
          g_snprintf (hex, sizeof hex, "\\x%02x", byte);
          out += hex;
        }
      else
        out += char (byte);
      text.remove_prefix (length);
    }
  return out;
}

const char *list_name (GPtrArray *Configuration::*member)
{
  for (const auto &list : configuration_lists)
    if (list.member == member)
      return list.name;
  return "?";
}

// Checks one section as the back end reads it: the parser and the section walk report each line
// to it, and it keeps what surprises.
class SectionChecker final : public ParseObserver
{
public:
  SectionChecker (std::string_view config_id, std::vector<Diagnostic> &out)
      : config_id_ (escaped (config_id)), out_ (out)
  {
  }

  std::size_t header_line () const { return header_line_; }
  SectionEnd why_ended () const { return why_; }
  std::size_t end_line () const { return end_line_; }

  void section_selected (std::size_t line_number, std::string_view) override
  {
    header_line_ = line_number;
  }

  void section_line (std::size_t line_number, std::string_view line) override
  {
    line_ = line_number;
    // A CRLF file's blank line: the parser skips it as unrecognised, and the section goes on.
    is_lone_carriage_return_ = line == "\r";
    if (is_lone_carriage_return_)
      carriage_returns_.push_back (line_number);
  }

  void section_ended (std::size_t line_number, SectionEnd why) override
  {
    end_line_ = line_number;
    why_ = why;
    const std::size_t last_read = line_number - 1;
    for (const auto line : carriage_returns_)
      report (line, Severity::warning,
              "line holds only a carriage return, which does not end section " + config_id_
                  + (last_read > line ? "; it runs on to line " + std::to_string (last_read) : ""));
    if (!has_instruction_)
      report (header_line_, Severity::warning, "section " + config_id_ + " has no instruction");
  }

  void appended (GPtrArray *Configuration::*list, std::string_view value) override
  {
    has_instruction_ = true;
    if (value.empty ())
      report (line_, Severity::warning, std::string ("empty value in ") + list_name (list));
    else if (list == &Configuration::errors && value.ends_with ('\r'))
      report (line_, Severity::warning, "error text keeps a trailing carriage return");
  }

  void architecture_suffix (std::string_view arch, bool) override
  {
    has_instruction_ = true;
    const std::string name (arch);
    if (arch_type (name.c_str ()) == 0)
      report (line_, Severity::warning,
              "architecture suffix \"" + escaped (arch)
                  + "\" names no known architecture, so the line is kept on every machine");
  }

  void kernel_range (std::string_view, const KernelRange &range, bool applies) override
  {
    has_instruction_ = true;
    const std::string low (range.low), high (range.high);
    if (compare_versions (low.c_str (), high.c_str ()) >= 0)
      report (line_, Severity::warning,
              "kernel range " + low + " " + high
                  + " holds no kernel: its low bound is not below its high bound");
    // The range applies to no kernel here, so its instruction is checked as the parser reads it.
    if (!applies)
      {
        g_autoptr (Configuration) scratch = new_configuration ();
        parse_instruction (scratch, range.nested, check_host, this);
      }
  }

  void kernel_range_unmatched (std::string_view text) override
  {
    has_instruction_ = true;
    report (line_, Severity::error,
            "kernel range does not match \"<low> <high> <instruction>\" with a blank after "
            "each bound, so it never applies");
    if (!g_utf8_validate (text.data (), gssize (text.size ()), nullptr))
      report (line_, Severity::warning, "kernel range text is not valid UTF-8");
  }

  void unrecognised (std::string_view line) override
  {
    if (is_lone_carriage_return_)
      return;
    // The letter is a byte, but a whole character reads better where the line starts with one.
    const auto first
        = starts_with_character (line) ? std::size_t (g_utf8_skip[guchar (line[0])]) : 1;
    report (line_, Severity::error,
            "unrecognised instruction '" + escaped (line.substr (0, first))
                + "'; the line is skipped");
  }

private:
  void report (std::size_t line, Severity severity, std::string message)
  {
    out_.push_back ({ line, severity, std::move (message) });
  }

  std::string config_id_;
  std::vector<Diagnostic> &out_;
  std::size_t header_line_ = 0, line_ = 0, end_line_ = 0;
  SectionEnd why_ = SectionEnd::end_of_text;
  bool has_instruction_ = false, is_lone_carriage_return_ = false;
  std::vector<std::size_t> carriage_returns_;
};

// Lines that no section walk reads, from index `first` up to the next section header: each
// instruction among them is reported with why.
void report_unread (const std::vector<std::string_view> &lines, std::size_t first,
                    const std::string &why, std::vector<Diagnostic> &out)
{
  for (std::size_t i = first; i < lines.size () && !starts_section (lines[i]); i++)
    if (!is_comment (lines[i]))
      out.push_back ({ i + 1, Severity::warning, "line is never read: " + why });
}

} // namespace

std::string_view configuration_text (std::string_view bytes)
{
  return bytes.substr (0, bytes.find ('\0'));
}

std::vector<SectionHeader> section_headers (std::string_view text)
{
  std::vector<SectionHeader> headers;
  Lines lines (text);
  std::string_view line;
  while (lines.next (line))
    if (starts_section (line))
      {
        const auto close = line.find (']');
        headers.push_back (
            { lines.number (), line,
              close == std::string_view::npos ? std::string_view{} : line.substr (0, close + 1) });
      }
  return headers;
}

std::vector<Diagnostic> check_configuration (std::string_view bytes)
{
  std::vector<Diagnostic> out;
  const auto text = configuration_text (bytes);

  std::vector<std::string_view> lines;
  Lines splitter (text);
  for (std::string_view line; splitter.next (line);)
    lines.push_back (line);
  if (text.size () < bytes.size ())
    out.push_back ({ std::max<std::size_t> (lines.size (), 1), Severity::error,
                     "NUL byte: the back end reads no further, so the rest of the file is "
                     "ignored" });

  const auto headers = section_headers (text);
  report_unread (lines, 0, "no section header comes before it", out);

  // Each header's section is walked as a machine with its config-id walks it. Where the walk
  // selects an earlier line, that section is the one read, and this one never is.
  for (const auto &header : headers)
    {
      if (header.config_id.empty ())
        {
          out.push_back ({ header.line, Severity::warning,
                           "section header has no \"]\", so no config-id selects it" });
          continue;
        }

      std::vector<Diagnostic> found;
      SectionChecker checker (header.config_id, found);
      g_autoptr (Configuration) scratch = new_configuration ();
      parse_section (scratch, text, header.config_id, check_host, &checker);
      if (checker.header_line () != header.line)
        {
          const auto winner = std::to_string (checker.header_line ());
          out.push_back ({ header.line, Severity::warning,
                           "section header " + escaped (header.config_id) + " repeats line "
                               + winner + "; only the section at line " + winner + " is read" });
          continue;
        }
      out.insert (out.end (), found.begin (), found.end ());
      if (checker.why_ended () == SectionEnd::empty_line)
        report_unread (lines, checker.end_line (),
                       "section " + escaped (header.config_id) + " ended at the empty line "
                           + std::to_string (checker.end_line ()),
                       out);
    }

  std::stable_sort (out.begin (), out.end (),
                    [] (const Diagnostic &a, const Diagnostic &b) { return a.line < b.line; });
  return out;
}
