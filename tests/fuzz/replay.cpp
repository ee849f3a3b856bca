// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Runs a fuzz target over its kept corpus without libFuzzer, so that an ordinary build (with
// either libsoup) holds every input found so far to the target's properties.
//
//   kiv-replay-TARGET CORPUS_FOLDER
#include <cstdint>
#include <cstdio>
#include <string>

#include <glib.h>

extern "C" int LLVMFuzzerInitialize (int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput (const uint8_t *data, size_t size);

int main (int argc, char **argv)
{
  if (argc != 2)
    {
      fprintf (stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
      return 2;
    }
  LLVMFuzzerInitialize (&argc, &argv);
  g_autoptr (GDir) dir = g_dir_open (argv[1], 0, nullptr);
  if (dir == nullptr)
    {
      fprintf (stderr, "%s: cannot read %s\n", argv[0], argv[1]);
      return 2;
    }
  int replayed = 0;
  while (const char *name = g_dir_read_name (dir))
    {
      g_autofree char *path = g_build_filename (argv[1], name, nullptr);
      g_autofree char *contents = nullptr;
      gsize length = 0;
      if (!g_file_get_contents (path, &contents, &length, nullptr))
        continue;
      LLVMFuzzerTestOneInput (reinterpret_cast<const uint8_t *> (contents), length);
      replayed++;
    }
  printf ("%d inputs replayed\n", replayed);
  return replayed > 0 ? 0 : 1;
}
