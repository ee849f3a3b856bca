// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "report.h"

#include <algorithm>

#include "text.h"

namespace
{
// How much of a long line is shown on each side of the caret, in characters.
constexpr std::size_t excerpt_reach = 60;

// Text as a terminal shows it in a source excerpt: tabs as spaces to the next stop, what a
// terminal would obey escaped; and how wide that is.
std::string rendered (std::string_view text, std::size_t *out_width)
{
  std::string out;
  std::size_t width = 0;
  while (!text.empty ())
    {
      const std::size_t length = character_length (text);
      const auto character = text.substr (0, length);
      if (character == "\t")
        {
          const auto spaces = display_width (character, width + 1);
          out.append (spaces, ' '), width += spaces;
        }
      else if (const auto safe = terminal_text (character); safe != character)
        out += safe, width += safe.size ();
      else
        out += character, width += display_width (character, width + 1);
      text.remove_prefix (length);
    }
  *out_width = width;
  return out;
}

const char *sarif_level (Severity severity)
{
  return severity == Severity::error ? "error" : severity == Severity::warning ? "warning" : "note";
}

void add_text_object (JsonBuilder *builder, const char *member, std::string_view text)
{
  json_builder_set_member_name (builder, member);
  json_builder_begin_object (builder);
  json_builder_set_member_name (builder, "text");
  add_string (builder, text);
  json_builder_end_object (builder);
}

std::string built_text (JsonBuilder *builder, std::size_t indent)
{
  g_autoptr (JsonNode) root = json_builder_get_root (builder);
  return json_text (root, indent);
}
} // namespace

bool format_named (std::string_view name, Format *out_format)
{
  static const struct
  {
    std::string_view name;
    Format format;
  } formats[] = { { "gcc", Format::gcc },
                  { "tty", Format::tty },
                  { "json", Format::json },
                  { "sarif", Format::sarif } };
  for (const auto &known : formats)
    if (known.name == name)
      {
        *out_format = known.format;
        return true;
      }
  return false;
}

// As GCC colours them: the location bold, errors red, warnings magenta, notes cyan, carets green.
Colours colours_for (Severity severity)
{
  return { "\033[01m\033[K",
           severity == Severity::error     ? "\033[01;31m\033[K"
           : severity == Severity::warning ? "\033[01;35m\033[K"
                                           : "\033[01;36m\033[K",
           "\033[01;32m\033[K", "\033[m\033[K" };
}

std::string_view SourceLines::line (std::size_t number)
{
  if (number < number_ || number_ == 0)
    number_ = 0, next_ = 0, line_ = {};
  while (number_ < number)
    {
      number_++;
      offset_ = 0, column_ = 1, display_column_ = 1;
      if (next_ > text_.size ())
        {
          line_ = {};
          continue;
        }
      const auto end = text_.find ('\n', next_);
      line_ = text_.substr (next_, end == std::string_view::npos ? end : end - next_);
      next_ = end == std::string_view::npos ? text_.size () + 1 : end + 1;
    }
  return line_;
}

void SourceLines::locate (std::size_t number, std::size_t column, std::size_t *out_offset,
                          std::size_t *out_display_column)
{
  line (number);
  if (column < column_)
    offset_ = 0, column_ = 1, display_column_ = 1;
  while (column_ < column && offset_ < line_.size ())
    {
      const auto rest = line_.substr (offset_);
      display_column_ += display_width (rest, display_column_);
      offset_ += character_length (rest);
      column_++;
    }
  // A column past the end of the line, where a diagnostic says something is missing.
  *out_offset = offset_;
  *out_display_column = display_column_ + (column - column_);
}

std::string gcc_line (std::string_view file, const Diagnostic &diagnostic,
                      std::size_t display_column, const Colours &colours)
{
  return std::string (colours.bold) + terminal_text (file) + ":" + std::to_string (diagnostic.line)
         + ":" + std::to_string (display_column) + ":" + colours.off + " " + colours.severity
         + severity_name (diagnostic.severity) + ":" + colours.off + " "
         + terminal_text (diagnostic.message) + " [" + colours.severity
         + std::string (diagnostic.name) + colours.off + "]\n";
}

std::string source_excerpt (std::size_t number, std::string_view line, std::size_t offset,
                            const Colours &colours)
{
  offset = std::min (offset, line.size ());
  std::size_t start = offset, end = offset;
  for (std::size_t i = 0; i < excerpt_reach && start > 0; i++)
    {
      start--;
      while (start > 0 && (guchar (line[start]) & 0xc0) == 0x80)
        start--;
    }
  for (std::size_t i = 0; i < excerpt_reach && end < line.size (); i++)
    end += character_length (line.substr (end));
  std::size_t before_width = 0, after_width = 0;
  const std::string cut = start > 0 ? "..." : "";
  const auto before = cut + rendered (line.substr (start, offset - start), &before_width);
  const auto after = rendered (line.substr (offset, end - offset), &after_width);

  const auto number_text = std::to_string (number);
  const std::size_t gutter = std::max<std::size_t> (5, number_text.size ());
  return std::string (gutter - number_text.size (), ' ') + number_text + " | " + before + after
         + (end < line.size () ? "..." : "") + "\n" + std::string (gutter, ' ') + " | "
         + std::string (cut.size () + before_width, ' ') + colours.caret + "^" + colours.off + "\n";
}

std::string json_text (JsonNode *node, std::size_t indent)
{
  g_autoptr (JsonGenerator) generator = json_generator_new ();
  json_generator_set_root (generator, node);
  json_generator_set_pretty (generator, TRUE);
  g_autofree char *data = json_generator_to_data (generator, nullptr);
  std::string text = json_terminal_safe (data);
  const std::string margin (indent, ' ');
  for (std::size_t at = text.find ('\n'); at != std::string::npos && indent > 0;
       at = text.find ('\n', at + 1 + indent))
    text.insert (at + 1, margin);
  return text;
}

void add_string (JsonBuilder *builder, std::string_view text)
{
  g_autofree char *valid = g_utf8_make_valid (text.data (), gssize (text.size ()));
  json_builder_add_string_value (builder, valid);
}

std::string json_diagnostic (std::string_view file, const Diagnostic &diagnostic,
                             std::size_t indent)
{
  g_autoptr (JsonBuilder) builder = json_builder_new ();
  json_builder_begin_object (builder);
  json_builder_set_member_name (builder, "file");
  add_string (builder, file);
  json_builder_set_member_name (builder, "line");
  json_builder_add_int_value (builder, gint64 (diagnostic.line));
  json_builder_set_member_name (builder, "column");
  json_builder_add_int_value (builder, gint64 (diagnostic.column));
  json_builder_set_member_name (builder, "severity");
  json_builder_add_string_value (builder, severity_name (diagnostic.severity));
  json_builder_set_member_name (builder, "name");
  add_string (builder, diagnostic.name);
  json_builder_set_member_name (builder, "message");
  add_string (builder, diagnostic.message);
  json_builder_end_object (builder);
  return built_text (builder, indent);
}

std::string sarif_head (std::string_view version)
{
  g_autoptr (JsonBuilder) builder = json_builder_new ();
  json_builder_begin_object (builder);
  json_builder_set_member_name (builder, "driver");
  json_builder_begin_object (builder);
  json_builder_set_member_name (builder, "name");
  json_builder_add_string_value (builder, "kiv-config-lint");
  json_builder_set_member_name (builder, "version");
  add_string (builder, version);
  json_builder_set_member_name (builder, "rules");
  json_builder_begin_array (builder);
  for (const auto &check : checks)
    {
      json_builder_begin_object (builder);
      json_builder_set_member_name (builder, "id");
      add_string (builder, check.name);
      add_text_object (builder, "shortDescription", check.summary);
      json_builder_set_member_name (builder, "defaultConfiguration");
      json_builder_begin_object (builder);
      json_builder_set_member_name (builder, "enabled");
      json_builder_add_boolean_value (builder, check.is_on_by_default);
      json_builder_set_member_name (builder, "level");
      json_builder_add_string_value (builder, sarif_level (check.severity));
      json_builder_end_object (builder);
      json_builder_end_object (builder);
    }
  json_builder_end_array (builder);
  json_builder_end_object (builder);
  json_builder_end_object (builder);
  return "{\n  \"$schema\" : \"https://json.schemastore.org/sarif-2.1.0.json\",\n"
         "  \"version\" : \"2.1.0\",\n  \"runs\" : [\n    {\n      \"tool\" : "
         + built_text (builder, 6)
         + ",\n      \"columnKind\" : \"unicodeCodePoints\",\n      \"results\" : [\n";
}

std::string sarif_result (std::string_view file, const Diagnostic &diagnostic)
{
  g_autoptr (JsonBuilder) builder = json_builder_new ();
  json_builder_begin_object (builder);
  json_builder_set_member_name (builder, "ruleId");
  add_string (builder, diagnostic.name);
  json_builder_set_member_name (builder, "level");
  json_builder_add_string_value (builder, sarif_level (diagnostic.severity));
  add_text_object (builder, "message", diagnostic.message);
  json_builder_set_member_name (builder, "locations");
  json_builder_begin_array (builder);
  json_builder_begin_object (builder);
  json_builder_set_member_name (builder, "physicalLocation");
  json_builder_begin_object (builder);
  json_builder_set_member_name (builder, "artifactLocation");
  json_builder_begin_object (builder);
  json_builder_set_member_name (builder, "uri");
  add_string (builder, sarif_uri (file));
  json_builder_end_object (builder);
  json_builder_set_member_name (builder, "region");
  json_builder_begin_object (builder);
  json_builder_set_member_name (builder, "startLine");
  json_builder_add_int_value (builder, gint64 (diagnostic.line));
  json_builder_set_member_name (builder, "startColumn");
  json_builder_add_int_value (builder, gint64 (diagnostic.column));
  json_builder_end_object (builder);
  json_builder_end_object (builder);
  json_builder_end_object (builder);
  json_builder_end_array (builder);
  json_builder_end_object (builder);
  return "        " + built_text (builder, 8);
}

std::string sarif_tail (bool has_results)
{
  return std::string (has_results ? "\n" : "") + "      ]\n    }\n  ]\n}\n";
}

std::string sarif_uri (std::string_view file)
{
  const std::string name (file);
  const char *scheme = g_uri_peek_scheme (name.c_str ());
  if (g_strcmp0 (scheme, "http") == 0 || g_strcmp0 (scheme, "https") == 0)
    return name;
  // A colon stays escaped, so that a relative path is never read as a scheme.
  g_autofree char *path = g_uri_escape_string (name.c_str (), "!$&'()*+,;=@/", FALSE);
  return (file.starts_with ('/') ? "file://" : "") + std::string (path);
}
