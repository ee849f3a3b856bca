// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Retrieves the configuration twice in one process, for the end-to-end tests: the second call
// must hand back the same record without downloading or parsing, and dump it again. Prints what
// went wrong on standard output and exits 1; prints nothing on success.
#include <cstdio>
#include <string>
#include <vector>

#include "config.h"

namespace
{
void remember (const char *message, gpointer user_data)
{
  static_cast<std::vector<std::string> *> (user_data)->push_back (message);
}

int failures = 0;

void expect (bool ok, const char *what)
{
  if (!ok)
    {
      printf ("%s\n", what);
      failures++;
    }
}
} // namespace

int main ()
{
  std::vector<std::string> messages;
  const Configuration *first = get_configuration (remember, &messages);
  expect (first != nullptr, "the first call found no configuration");
  expect (first != nullptr && first->install->len == 1, "the first call parsed no install line");

  const std::string path = std::string (g_get_home_dir ()) + "/.kiv-config";
  expect (messages.size () >= 4, "too few progress messages");
  if (messages.size () >= 4)
    {
      expect (messages.front () == "fetching " KIV_CONFIG_URL, "no 'fetching' message first");
      expect (messages[1] == "saving to " + path, "no 'saving to' message second");
      expect (messages[messages.size () - 2].starts_with ("fetched "), "no 'fetched' message");
      expect (messages.back () == "looking up [Debian bookworm] configuration",
              "no 'looking up' message last");
    }

  messages.clear ();
  const Configuration *second = get_configuration (remember, &messages);
  expect (second == first, "the second call returned another record");
  expect (messages.empty (), "the second call reported progress, so it did work again");
  return failures == 0 ? 0 : 1;
}
