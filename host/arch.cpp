// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "host.h"

#include <cstring>

#include "host-private.h"

namespace
{
constexpr ArchitectureName families[] = {
  { "amd64", 1 }, { "x86_64", 1 }, { "i386", 2 }, { "i486", 2 }, { "i586", 2 }, { "i686", 2 },
};
} // namespace

std::span<const ArchitectureName> known_architectures ()
{
  return families;
}

int arch_type (const char *name)
{
  for (const auto &entry : families)
    if (strcmp (name, entry.name) == 0)
      return entry.family;
  return 0;
}

gboolean architectures_are_equivalent (const char *a, const char *b)
{
  const int family = arch_type (a);
  return family != 0 && family == arch_type (b);
}
