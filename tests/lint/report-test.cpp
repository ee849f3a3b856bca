// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include <gtest/gtest.h>

#include <set>

#include <json-glib/json-glib.h>

#include "report.h"
#include "text.h"

namespace
{
// Parses JSON text, failing the test where it is not JSON.
JsonNode *parsed (const std::string &text)
{
  g_autoptr (JsonParser) parser = json_parser_new ();
  g_autoptr (GError) error = nullptr;
  EXPECT_TRUE (json_parser_load_from_data (parser, text.c_str (), gssize (text.size ()), &error))
      << (error != nullptr ? error->message : "") << "\n"
      << text;
  JsonNode *root = json_parser_get_root (parser);
  return root != nullptr ? json_node_copy (root) : json_node_new (JSON_NODE_NULL);
}
} // namespace

// Nothing a terminal obeys gets through: C0 and C1 controls, DEL, direction marks and overrides,
// bytes that are not UTF-8; the rest of Unicode stays as it is.
TEST (TerminalText, EscapesWhatATerminalWouldObey)
{
  const struct
  {
    std::string text, message, terminal;
  } cases[] = {
    { "\x1b]0;title\x07", "\\x1b]0;title\\x07", "\\x1b]0;title\\x07" },
    { "a\xc2\x9b"
      "31mb",
      "a\\u009b31mb", "a\\u009b31mb" }, // C1 CSI, valid UTF-8
    { "a\x9b"
      "31m",
      "a\\x9b31m", "a\\x9b31m" }, // the same byte alone
    { "\xe2\x80\xae"
      "cba",
      "\\u202ecba", "\\u202ecba" }, // right-to-left override
    { "\xe2\x81\xa6\xe2\x81\xa9\xe2\x80\x8f\xd8\x9c", "\\u2066\\u2069\\u200f\\u061c",
      "\\u2066\\u2069\\u200f\\u061c" }, // isolates and marks
    { "\x7f\r", "\\x7f\\r", "\\x7f\\r" },
    { "caf\xc3\xa9 \xe4\xb8\xad 'q' \\", "caf\xc3\xa9 \xe4\xb8\xad \\'q\\' \\\\",
      "caf\xc3\xa9 \xe4\xb8\xad 'q' \\" }, // quotes matter in messages only
    { "a\tb", "a\\tb", "a\\tb" },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.message);
      EXPECT_EQ (escaped (c.text), c.message);
      EXPECT_EQ (terminal_text (c.text), c.terminal);
    }
  EXPECT_EQ (terminal_text ("a\tb", true), "a\tb");

  // JSON keeps its meaning: the string read back is the one written.
  const std::string hostile = "\x1b[2J\xc2\x9b\xe2\x80\xae\xe2\x81\xa6 caf\xc3\xa9";
  g_autoptr (JsonBuilder) builder = json_builder_new ();
  json_builder_begin_array (builder);
  add_string (builder, hostile);
  json_builder_end_array (builder);
  g_autoptr (JsonNode) root = json_builder_get_root (builder);
  const auto text = json_text (root, 2);
  for (const char *raw : { "\x1b", "\xc2\x9b", "\xe2\x80\xae", "\xe2\x81\xa6" })
    EXPECT_EQ (text.find (raw), std::string::npos) << text;
  g_autoptr (JsonNode) back = parsed (text);
  EXPECT_STREQ (json_array_get_string_element (json_node_get_array (back), 0), hostile.c_str ());
}

// Columns as GCC counts them, and a caret under the character whatever came before it.
TEST (SourceLines, PlacesColumnsAndCarets)
{
  SourceLines source ("[A]\n\ti a:x\n\xe4\xb8\xad\xe6\x96\x87 x\n\x1b"
                      "x\nlast");
  const struct
  {
    std::size_t line, column, offset, display_column;
    std::string caret_line;
  } cases[] = {
    { 2, 2, 1, 9, "      |         ^" },      // after a tab: the next multiple of 8, plus 1
    { 3, 4, 7, 6, "      |      ^" },         // two wide characters and a blank
    { 4, 2, 1, 2, "      |     ^" },          // after ESC, shown as \x1b
    { 5, 6, 4, 6, "      |     ^" },          // past the end, where something is missing
    { 2, 6, 5, 13, "      |             ^" }, // back to an earlier line
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.caret_line);
      std::size_t offset = 0, column = 0;
      source.locate (c.line, c.column, &offset, &column);
      EXPECT_EQ (offset, c.offset);
      EXPECT_EQ (column, c.display_column);
      const auto excerpt = source_excerpt (c.line, source.line (c.line), offset, {});
      EXPECT_EQ (excerpt.substr (excerpt.find ('\n') + 1), c.caret_line + "\n");
    }

  // A long line is cut around the caret, and the file name is made safe too.
  const std::string long_line = std::string (1000, 'k') + "X" + std::string (1000, 'k');
  const auto excerpt = source_excerpt (7, long_line, 1000, {});
  EXPECT_EQ (excerpt, "    7 | ..." + std::string (60, 'k') + "X" + std::string (59, 'k')
                          + "...\n      | " + std::string (63, ' ') + "^\n");
  const Diagnostic diagnostic{ 7, 1001, Severity::info, "keyword-case", "m\x1b" };
  EXPECT_EQ (gcc_line ("a\x1b.cfg", diagnostic, 1001, {}),
             "a\\x1b.cfg:7:1001: info: m\\x1b [keyword-case]\n");
}

// A SARIF 2.1.0 log has what the standard's schema requires of each object it holds, so that
// code-scanning services take it; every result names a rule the tool lists.
TEST (Sarif, HoldsWhatTheSchemaRequires)
{
  const Diagnostic diagnostics[] = {
    { 3, 5, Severity::error, "unknown-instruction", "unrecognised instruction 'x'" },
    { 1, 9, Severity::info, "ended-support", "support for \xe2\x80\xae ended" },
  };
  for (const bool empty : { false, true })
    {
      std::string log = sarif_head ("1.2.3");
      for (std::size_t i = 0; !empty && i < std::size (diagnostics); i++)
        log += (i > 0 ? ",\n" : "")
               + sarif_result (i == 0 ? "dir/a b.cfg" : "/abs/c:d.cfg", diagnostics[i]);
      log += sarif_tail (!empty);
      g_autoptr (JsonNode) root = parsed (log);
      JsonObject *sarif = json_node_get_object (root);
      ASSERT_NE (sarif, nullptr);
      EXPECT_STREQ (json_object_get_string_member (sarif, "version"), "2.1.0");
      JsonArray *runs = json_object_get_array_member (sarif, "runs");
      ASSERT_EQ (json_array_get_length (runs), 1u);
      JsonObject *run = json_array_get_object_element (runs, 0);
      JsonObject *driver
          = json_object_get_object_member (json_object_get_object_member (run, "tool"), "driver");
      EXPECT_STREQ (json_object_get_string_member (driver, "name"), "kiv-config-lint");
      EXPECT_STREQ (json_object_get_string_member (run, "columnKind"), "unicodeCodePoints");

      std::set<std::string> rule_ids;
      JsonArray *rules = json_object_get_array_member (driver, "rules");
      for (guint i = 0; i < json_array_get_length (rules); i++)
        {
          JsonObject *rule = json_array_get_object_element (rules, i);
          rule_ids.insert (json_object_get_string_member (rule, "id"));
          EXPECT_TRUE (json_object_has_member (
              json_object_get_object_member (rule, "shortDescription"), "text"));
        }
      EXPECT_EQ (rule_ids.size (), std::size (checks));

      JsonArray *results = json_object_get_array_member (run, "results");
      ASSERT_EQ (json_array_get_length (results), empty ? 0u : 2u);
      const char *uris[] = { "dir/a%20b.cfg", "file:///abs/c%3Ad.cfg" };
      const char *levels[] = { "error", "note" };
      for (guint i = 0; i < json_array_get_length (results); i++)
        {
          JsonObject *result = json_array_get_object_element (results, i);
          EXPECT_TRUE (rule_ids.contains (json_object_get_string_member (result, "ruleId")));
          EXPECT_STREQ (json_object_get_string_member (result, "level"), levels[i]);
          EXPECT_STREQ (json_object_get_string_member (
                            json_object_get_object_member (result, "message"), "text"),
                        diagnostics[i].message.c_str ());
          JsonObject *location = json_object_get_object_member (
              json_array_get_object_element (json_object_get_array_member (result, "locations"), 0),
              "physicalLocation");
          EXPECT_STREQ (json_object_get_string_member (
                            json_object_get_object_member (location, "artifactLocation"), "uri"),
                        uris[i]);
          JsonObject *region = json_object_get_object_member (location, "region");
          EXPECT_EQ (json_object_get_int_member (region, "startLine"),
                     gint64 (diagnostics[i].line));
          EXPECT_EQ (json_object_get_int_member (region, "startColumn"),
                     gint64 (diagnostics[i].column));
        }
    }
}
