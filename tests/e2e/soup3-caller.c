/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* soup3-caller URL FILE: an installer that loads libsoup 3 itself, as WebKitGTK 4.1 or GStreamer's
 * HTTP source do, and then downloads URL into FILE through the library. With a library built with
 * libsoup 3 both work and it prints what it did; a library built with libsoup 2.4 and libsoup 3
 * cannot share the process, and libsoup 3 ends it as it loads. */
#include <dlfcn.h>
#include <stdio.h>

#include <glib-object.h>

#include "net.h"

typedef GObject *(*SessionNew) (void);

int main (int argc, char **argv)
{
  if (argc != 3)
    {
      fprintf (stderr, "usage: %s URL FILE\n", argv[0]);
      return 2;
    }
  void *soup = dlopen ("libsoup-3.0.so.0", RTLD_NOW | RTLD_GLOBAL);
  SessionNew session_new = soup != NULL ? (SessionNew) dlsym (soup, "soup_session_new") : NULL;
  if (session_new == NULL)
    {
      printf ("cannot load libsoup 3: %s\n", dlerror ());
      return 1;
    }
  g_object_unref (session_new ());
  puts ("libsoup 3 in use");

  GError *error = NULL;
  if (!http_download_file (argv[1], argv[2], NULL, NULL, &error))
    {
      printf ("download failed: %s\n", error->message);
      g_error_free (error);
      return 1;
    }
  puts ("downloaded");
  return 0;
}
