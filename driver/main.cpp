// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// kiv-config-check: shows what the configuration back end finds on this machine.
#include <cstdio>

#include "config.h"
#include "host.h"

namespace
{
const char *or_null (const char *text)
{
  return text != nullptr ? text : "(null)";
}
} // namespace

int main ()
{
  const DistroInformation *info = get_distro_information ();
  if (info == nullptr)
    {
      puts ("ERROR: No distro information (!)");
      return 1;
    }

  printf ("Distribution:\n{\n"
          "    distributor: '%s'\n"
          "    release    : '%s'\n"
          "    codename   : '%s'\n"
          "    config-id  : [%s %s]\n"
          "}\n",
          or_null (info->distributor), or_null (info->release), or_null (info->codename),
          or_null (info->distributor), or_null (info->codename));

  // The configuration check: the lists themselves are dumped on standard error.
  if (get_configuration (nullptr, nullptr) == nullptr)
    {
      printf ("Config not found at %s\n", KIV_CONFIG_URL);
      return 1;
    }
  return 0;
}
