// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// check.h: what kiv-config-lint finds in a configuration file. It reads nothing but its
// arguments, so tests can hand it any text; reading files and printing live in main.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class Severity
{
  warning, // legal, but surprising
  error,   // the file certainly does not do what its author meant
};

struct Diagnostic
{
  std::size_t line; // counted from 1
  Severity severity;
  std::string message;
  bool operator== (const Diagnostic &) const = default;
};

// The text the back end reads from a file: its bytes up to the first NUL byte.
std::string_view configuration_text (std::string_view bytes);

// A line that starts a section, and the config-id of the machines that select it: the line up to
// its first "]", or empty when it has none.
struct SectionHeader
{
  std::size_t line;
  std::string_view text;
  std::string_view config_id;
};

// Every line of text that starts a section, in file order.
std::vector<SectionHeader> section_headers (std::string_view text);

// Everything surprising in a configuration file's bytes, in file order.
std::vector<Diagnostic> check_configuration (std::string_view bytes);
