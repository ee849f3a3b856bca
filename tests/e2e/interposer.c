/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* An installer whose own functions happen to share the back end's names. They must never stand
 * in for the library's: the library's internal calls bind inside it. This program defines its own
 * versions, exports them (it is linked with -rdynamic) so that a library calling through the
 * dynamic linker would pick them, then retrieves the configuration and prints the install list.
 * Its versions would fail the download, find no distribution, keep nothing in a kernel range and
 * never drop a line of this machine's architecture. */
#include <stdio.h>

#include "config.h"
#include "host.h"

static int replaced_calls;

int compare_versions (const char *a, const char *b)
{
  (void) a, (void) b;
  replaced_calls++;
  return 0;
}

gboolean architectures_are_equivalent (const char *a, const char *b)
{
  (void) a, (void) b;
  replaced_calls++;
  return FALSE;
}

const DistroInformation *get_distro_information (void)
{
  replaced_calls++;
  return NULL;
}

gboolean http_download_file (const char *url, const char *path, ProgressFunc progress,
                             gpointer user_data, GError **error)
{
  (void) url, (void) path, (void) progress, (void) user_data;
  replaced_calls++;
  g_set_error_literal (error, G_FILE_ERROR, G_FILE_ERROR_FAILED, "the caller's own download");
  return FALSE;
}

int main (void)
{
  const Configuration *config = get_configuration (NULL, NULL);
  if (config == NULL)
    puts ("no configuration");
  else
    for (guint i = 0; i < config->install->len; i++)
      puts (g_ptr_array_index (config->install, i));
  printf ("calls to the caller's functions: %d\n", replaced_calls);
  return 0;
}
