// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// releases.h: what kiv-config-lint knows of real distributions' releases, to tell a header that
// no machine's config-id matches. Debian's and Ubuntu's come from the distro-info-data package
// at run time, so a new release needs no new lint; Fedora's codename follows from its release
// number, as /etc/fedora-release writes it.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct Release
{
  std::string version;  // "24.04 LTS"; empty for a release without a number, such as sid
  std::string codename; // "Noble Numbat"
  std::string series;   // "noble": the codename lsb_release prints
  std::string eol;      // "YYYY-MM-DD" when its support ends, or empty
  // Support that goes on after eol, by the column that dates it: {"eol-esm", "2034-04-25"}.
  std::vector<std::pair<std::string, std::string>> later;
};

struct Distribution
{
  std::string name; // the distributor lsb_release prints, such as "Ubuntu"
  std::vector<Release> releases;
};

struct ReleaseData
{
  std::vector<Distribution> distributions;
};

// Reads one of distro-info-data's tables: a header row naming the columns (version, codename,
// series, eol and further eol-... columns), then one release a row. False, with nothing added,
// for text without those columns.
bool parse_release_table (std::string_view csv, Distribution &out_distribution);

// Debian's and Ubuntu's tables from directory; a table that cannot be read is left out.
ReleaseData read_release_data (const char *directory = "/usr/share/distro-info");

// What a header's config-id (with its brackets) tells of a release.
struct ReleaseFinding
{
  std::string_view check; // "unknown-release" or "ended-support"
  std::string_view at;    // where in config_id it points
  std::string message;
};

// The findings on config_id: one naming the config-id lsb_release gives when it names a known
// distributor with a codename it never prints, or one naming the date a release's support ended
// before today ("YYYY-MM-DD"; empty for never). A distributor nothing is known of gives none.
std::vector<ReleaseFinding> judge_config_id (const ReleaseData &data, std::string_view config_id,
                                             std::string_view today);
