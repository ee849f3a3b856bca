/* soup-fetch URL FILE: what the driver's HTTP stack alone costs. A plain libsoup session fetches
 * URL and the body is written to FILE, with none of the driver's own work around it, so that the
 * driver's time can be set beside the floor its libraries set, and not only beside curl's. */
#include <stdio.h>

#include <libsoup/soup.h>

int main (int argc, char **argv)
{
  if (argc != 3)
    {
      fprintf (stderr, "usage: %s URL FILE\n", argv[0]);
      return 2;
    }
  SoupSession *session = soup_session_new ();
  SoupMessage *msg = soup_message_new (SOUP_METHOD_GET, argv[1]);
  int status = 1;
  if (msg != NULL && SOUP_STATUS_IS_SUCCESSFUL (soup_session_send_message (session, msg)))
    {
      SoupBuffer *body = soup_message_body_flatten (msg->response_body);
      FILE *out = fopen (argv[2], "wb");
      if (out != NULL && fwrite (body->data, 1, body->length, out) == body->length
          && fclose (out) == 0)
        status = 0;
      soup_buffer_free (body);
    }
  if (msg != NULL)
    g_object_unref (msg);
  g_object_unref (session);
  return status;
}
