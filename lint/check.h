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
  info,    // worth knowing, never a failure
  warning, // legal, but surprising
  error,   // the file certainly does not do what its author meant
};

// One check: the name its diagnostics carry and a directive or --disable silences it by, which
// configuration files and scripts refer to, so it never changes; its severity; whether it runs
// unless asked for (--enable); and what it finds, in one line.
struct Check
{
  std::string_view name;
  Severity severity;
  bool is_on_by_default;
  std::string_view summary;
};

inline constexpr Check checks[] = {
  { "nul-byte", Severity::error, true, "a NUL byte ends the file for the back end" },
  { "byte-order-mark", Severity::error, true, "a byte order mark hides the first line" },
  { "unknown-instruction", Severity::error, true, "a line starts with no instruction letter" },
  { "indented-header", Severity::error, true, "a header after blanks is no header" },
  { "key-as-range", Severity::error, true, "a key written as a kernel range line" },
  { "range-unmatched", Severity::error, true, "a kernel range line that never applies" },
  { "range-skips-text", Severity::error, true, "a kernel range read from further on" },
  { "range-not-utf8", Severity::warning, true, "a kernel range line that is not UTF-8" },
  { "range-bound", Severity::warning, true, "a bound not read as it looks" },
  { "empty-range", Severity::warning, true, "a kernel range that holds no kernel" },
  { "unread-line", Severity::warning, true, "a line no machine reads" },
  { "lone-carriage-return", Severity::warning, true,
    "a carriage return alone does not end a section" },
  { "repeated-section", Severity::warning, true, "a header repeats an earlier config-id" },
  { "unclosed-header", Severity::warning, true, "a header without \"]\"" },
  { "unknown-release", Severity::warning, true,
    "a header names a release by a codename lsb_release never prints" },
  { "unknown-architecture", Severity::warning, true, "a suffix names no known architecture" },
  { "empty-value", Severity::warning, true, "an instruction without a value" },
  { "error-carriage-return", Severity::warning, true, "an error text ends in a carriage return" },
  { "empty-section", Severity::warning, true, "a section without an instruction" },
  { "bad-directive", Severity::warning, true, "a directive that is not understood" },
  { "keyword-case", Severity::info, true, "a keyword whose case selects another list" },
  // Off by default: its findings come and go with the date and the system's release data, not
  // with the file, and a check in CI should not change its mind overnight.
  { "ended-support", Severity::info, false, "a header names a release whose support has ended" },
};

// The check called name, or NULL.
const Check *find_check (std::string_view name);

// Severity as the diagnostics and --severity write it: "error", "warning" or "info".
const char *severity_name (Severity severity);

struct ReleaseData;

// What a check is asked for beside the file's bytes.
struct CheckOptions
{
  // What is known of real distributions' releases, or NULL for nothing.
  const ReleaseData *releases = nullptr;
  // The date support is measured against, "YYYY-MM-DD".
  std::string today;
  // Checks asked for by name, beside those on by default, and checks silenced by name.
  std::vector<std::string> enabled, disabled;
  // The least severity reported.
  Severity least = Severity::info;

  bool is_reported (const Check &check) const;
};

struct Diagnostic
{
  std::size_t line;   // counted from 1
  std::size_t column; // in characters, counted from 1
  Severity severity;
  std::string_view name; // the name of one of checks
  std::string message;
  bool operator== (const Diagnostic &) const = default;
};

// The text the back end reads from a file: its bytes up to the first NUL byte.
std::string_view configuration_text (std::string_view bytes);

// Checks a configuration file's bytes in one walk over its sections, handing emit each
// diagnostic in file order (a section's own diagnostics wait for its end only while a later line
// can still change them), less those that the file's directives silence.
void check_configuration (std::string_view bytes, const CheckOptions &options,
                          const std::function<void (Diagnostic)> &emit);

// The same, gathered; by default with the checks that are on by default and no knowledge of
// releases.
std::vector<Diagnostic> check_configuration (std::string_view bytes,
                                             const CheckOptions &options = {});
