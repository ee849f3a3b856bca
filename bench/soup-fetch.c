/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* soup-fetch URL FILE: what the driver's HTTP stack alone costs. A plain libsoup session fetches
 * URL and the body is written to FILE, with none of the driver's own work around it, so that the
 * driver's time can be set beside the floor its libraries set, and not only beside curl's. It is
 * built with the libsoup the library is built with (KIV_SOUP). */
#include <stdio.h>

#include <libsoup/soup.h>

/* The body of a successful answer to a GET for url, or NULL. */
static GBytes *fetch (SoupSession *session, const char *url)
{
  SoupMessage *msg = soup_message_new (SOUP_METHOD_GET, url);
  GBytes *body = NULL;
  if (msg == NULL)
    return NULL;
#if SOUP_MAJOR_VERSION >= 3
  body = soup_session_send_and_read (session, msg, NULL, NULL);
  if (body != NULL && !SOUP_STATUS_IS_SUCCESSFUL (soup_message_get_status (msg)))
    g_clear_pointer (&body, g_bytes_unref);
#else
  if (SOUP_STATUS_IS_SUCCESSFUL (soup_session_send_message (session, msg)))
    {
      SoupBuffer *flat = soup_message_body_flatten (msg->response_body);
      body = soup_buffer_get_as_bytes (flat);
      soup_buffer_free (flat);
    }
#endif
  g_object_unref (msg);
  return body;
}

int main (int argc, char **argv)
{
  if (argc != 3)
    {
      fprintf (stderr, "usage: %s URL FILE\n", argv[0]);
      return 2;
    }
  SoupSession *session = soup_session_new ();
  GBytes *body = fetch (session, argv[1]);
  int status = 1;
  if (body != NULL)
    {
      gsize length = 0;
      const void *data = g_bytes_get_data (body, &length);
      FILE *out = fopen (argv[2], "wb");
      if (out != NULL && fwrite (data, 1, length, out) == length && fclose (out) == 0)
        status = 0;
      g_bytes_unref (body);
    }
  g_object_unref (session);
  return status;
}
