// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// check.h: what kiv-config-lint finds in a configuration file. It reads nothing but its
// arguments, so tests can hand it any text; reading files and printing live in main.cpp.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum class Severity
{
  warning, // legal, but surprising
  error,   // the file certainly does not do what its author meant
};

// Every check by the name its diagnostics carry and a directive silences it by. The names are
// what configuration files and scripts refer to, so they never change.
inline constexpr std::string_view check_names[] = {
  "nul-byte",        "byte-order-mark",      "unknown-instruction",  "indented-header",
  "range-unmatched", "range-skips-text",     "range-not-utf8",       "range-bound",
  "empty-range",     "unread-line",          "lone-carriage-return", "repeated-section",
  "unclosed-header", "unknown-architecture", "empty-value",          "error-carriage-return",
  "empty-section",   "bad-directive",
};

struct Diagnostic
{
  std::size_t line;   // counted from 1
  std::size_t column; // in characters, counted from 1
  Severity severity;
  std::string_view name; // one of check_names
  std::string message;
  bool operator== (const Diagnostic &) const = default;
};

// The text the back end reads from a file: its bytes up to the first NUL byte.
std::string_view configuration_text (std::string_view bytes);

// Checks a configuration file's bytes in one walk over its sections, handing emit each
// diagnostic in file order (a section's own diagnostics wait for its end only while a later line
// can still change them), less those that the file's directives silence.
void check_configuration (std::string_view bytes, const std::function<void (Diagnostic)> &emit);

// The same, gathered.
std::vector<Diagnostic> check_configuration (std::string_view bytes);
