// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// report.h: the forms kiv-config-lint writes diagnostics in. Each piece is built as text here,
// so tests read exactly what a terminal, an editor or a code-scanning service would be given;
// main.cpp only decides which and writes it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <json-glib/json-glib.h>

#include "check.h"

enum class Format
{
  gcc,   // one line a diagnostic, as compilers write them
  tty,   // the same, then the source line and a caret under the column
  json,  // one array of objects
  sarif, // a SARIF 2.1.0 log, for code-scanning services and editors
};

// The format called name ("gcc", "tty", "json" or "sarif"); false for any other.
bool format_named (std::string_view name, Format *out_format);

// Escape sequences that colour the text forms, all empty for none.
struct Colours
{
  const char *bold = "", *severity = "", *caret = "", *off = "";
};
Colours colours_for (Severity severity);

// Finds the lines of a text by number and the columns in them, moving on from the last one asked
// for, so that a file's diagnostics, which come in file order, cost one walk over it however
// many of them fall on one long line.
class SourceLines
{
public:
  explicit SourceLines (std::string_view text) : text_ (text) {}

  // Line number (from 1) without its newline; empty past the end of the text.
  std::string_view line (std::size_t number);
  // Where character column `column` (from 1) of line `number` is: its byte offset and the
  // display column GCC would give it.
  void locate (std::size_t number, std::size_t column, std::size_t *out_offset,
               std::size_t *out_display_column);

private:
  std::string_view text_, line_;
  std::size_t number_ = 0, next_ = 0;
  std::size_t offset_ = 0, column_ = 1, display_column_ = 1;
};

// "FILE:LINE:COLUMN: SEVERITY: MESSAGE [NAME]\n", with FILE and MESSAGE made safe for a terminal.
std::string gcc_line (std::string_view file, const Diagnostic &diagnostic,
                      std::size_t display_column, const Colours &colours);

// The source line, cut to some columns around a long line's offset, under a gutter with its
// number, and a caret under the character at offset, as GCC shows them.
std::string source_excerpt (std::size_t number, std::string_view line, std::size_t offset,
                            const Colours &colours);

// JSON text of a node, pretty, every line after the first indented by `indent` spaces, with
// nothing a terminal obeys left raw.
std::string json_text (JsonNode *node, std::size_t indent = 0);

// A string member's value: JSON strings are UTF-8, so bytes that are not become U+FFFD.
void add_string (JsonBuilder *builder, std::string_view text);

// One diagnostic as an object of the JSON array: file, line, column, severity, name, message.
std::string json_diagnostic (std::string_view file, const Diagnostic &diagnostic,
                             std::size_t indent);

// The SARIF log, streamed: its head (the tool and every check as a rule), one result a
// diagnostic, each after a separator (",\n" but before the first), and its tail.
std::string sarif_head (std::string_view version);
std::string sarif_result (std::string_view file, const Diagnostic &diagnostic);
std::string sarif_tail (bool has_results);

// The URI reference SARIF names a FILE by: a URL as it is, a path escaped, an absolute one as a
// file URI.
std::string sarif_uri (std::string_view file);
