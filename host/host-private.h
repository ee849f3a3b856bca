// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// host-private.h: the pure pieces behind host.h, shared by host/ and its tests, never installed.
// They read nothing but their arguments, so tests can feed them any text.
#pragma once

#include <span>
#include <string_view>

#include "common-private.h"
#include "host.h"

// Fills the four strings of info from the output of "lsb_release -a", replacing what a key
// seen earlier had set. Fields whose key never appears are left as they were.
void parse_release_output (const char *output, DistroInformation *info);

// Fills the four strings of info from the text of /etc/fedora-release.
void parse_release_file (const char *text, DistroInformation *info);

// Finds the first match of the Fedora pattern "Fedora\s+release\s+(\d+)\s+\((.*?)\)" in text,
// which must be valid UTF-8: the one an unanchored GRegex search finds, with its two groups, in
// time linear in the length of text.
bool find_fedora_release (std::string_view text, std::string_view *out_release,
                          std::string_view *out_codename);

// Matches "Fedora release <number> (<codename>)" anywhere in text. Text that is not valid
// UTF-8 never matches. On a match, the out-parameters that are non-null receive new strings.
bool match_fedora_release (const char *text, char **out_release, char **out_codename);

// The architecture family of one name: 1 for 64-bit x86, 2 for 32-bit x86, 0 for any other.
int arch_type (const char *name);

// A name arch_type knows, and its family.
struct ArchitectureName
{
  const char *name;
  int family;
};

// Every name arch_type knows, in the order it looks them up.
std::span<const ArchitectureName> known_architectures ();

// get_distro_information for any thread, cancellable: finds the record unless another call
// already has, and puts it in place at once. With quiet, the release command's own words on
// standard error are not shown. NULL with error set when neither the command nor the release
// file works, or once cancellable is cancelled (the command is then killed).
const DistroInformation *obtain_distro_information (GCancellable *cancellable, bool quiet,
                                                    GError **error);
