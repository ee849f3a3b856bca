#include "net.h"

#include <gio/gio.h>
#include <glib/gi18n.h>
#include <libsoup/soup.h>

namespace
{
// Failed requests are reported in the domain callers know as KIV_HTTP_ERROR.
constexpr auto http_error_quark = kiv_http_error_quark;

// libsoup would happily send an HTTP request for "ftp://host/" to port 21, or look up an empty
// host name for "file:///"; neither is a request anyone asked for.
SoupMessage *new_get_message (const char *url, GError **error)
{
  g_autoptr (SoupURI) uri = url != nullptr ? soup_uri_new (url) : nullptr;
  if (!SOUP_URI_VALID_FOR_HTTP (uri) || *uri->host == '\0')
    {
      g_set_error (error, http_error_quark (), SOUP_STATUS_MALFORMED,
                   "Cannot download %s: not an absolute http or https URL",
                   url != nullptr ? url : "(null)");
      return nullptr;
    }
  return soup_message_new_from_uri (SOUP_METHOD_GET, uri);
}

// A connection that is closed after the response ("Connection: close", HTTP/1.0) lets libsoup
// take the end of the stream for the end of the body, so a server that dies mid-transfer would
// look successful. A decoded body has no length to compare with, so only a plain one is checked.
// Returns FALSE, with error set, when fewer bytes arrived than were announced.
gboolean check_body_is_whole (SoupMessage *msg, GError **error)
{
  if (soup_message_headers_get_encoding (msg->response_headers) != SOUP_ENCODING_CONTENT_LENGTH
      || (soup_message_get_flags (msg) & SOUP_MESSAGE_CONTENT_DECODED) != 0)
    return TRUE;

  const goffset announced = soup_message_headers_get_content_length (msg->response_headers);
  const goffset received = msg->response_body->length;
  if (received >= announced)
    return TRUE;

  g_set_error (error, http_error_quark (), SOUP_STATUS_IO_ERROR,
               "Body cut short: %" G_GINT64_FORMAT " of %" G_GINT64_FORMAT " bytes received",
               gint64 (received), gint64 (announced));
  return FALSE;
}

// Dropping the stream would close it and put the partial file in place; a close that is already
// cancelled makes GIO discard the temporary file and keep the old one.
void abandon_stream (GOutputStream *out)
{
  g_autoptr (GCancellable) abandon = g_cancellable_new ();
  g_cancellable_cancel (abandon);
  g_output_stream_close (out, abandon, nullptr);
}

// The new file takes the old one's place only in the final close, once every byte is written.
gboolean save_body (SoupMessageBody *body, const char *path, ProgressFunc progress,
                    gpointer user_data, GError **error)
{
  g_autoptr (GFile) file = g_file_new_for_path (path);
  g_autoptr (GFileOutputStream) out
      = g_file_replace (file, nullptr, FALSE, G_FILE_CREATE_REPLACE_DESTINATION, nullptr, error);
  if (out == nullptr)
    return FALSE;

  guint64 total = 0;
  for (SoupBuffer *chunk; (chunk = soup_message_body_get_chunk (body, goffset (total))) != nullptr;)
    {
      const gboolean written = g_output_stream_write_all (G_OUTPUT_STREAM (out), chunk->data,
                                                          chunk->length, nullptr, nullptr, error);
      total += chunk->length;
      soup_buffer_free (chunk);
      if (!written)
        {
          abandon_stream (G_OUTPUT_STREAM (out));
          return FALSE;
        }
      if (progress != nullptr)
        {
          g_autofree char *text = g_strdup_printf (_ ("fetched %lu bytes"), (unsigned long) total);
          progress (text, user_data);
        }
    }

  return g_output_stream_close (G_OUTPUT_STREAM (out), nullptr, error);
}
} // namespace

gboolean http_download_file (const char *url, const char *path, ProgressFunc progress,
                             gpointer user_data, GError **error)
{
  if (path == nullptr)
    {
      g_set_error_literal (error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                           "No path to save the download to");
      return FALSE;
    }

  // A plain session: libsoup follows redirects, checks certificates against the system's
  // trusted authorities and asks the system for proxies.
  g_autoptr (SoupSession) session = soup_session_new ();

  if (progress != nullptr)
    {
      g_autofree char *text = g_strdup_printf (_ ("fetching %s"), url != nullptr ? url : "(null)");
      progress (text, user_data);
    }

  g_autoptr (SoupMessage) msg = new_get_message (url, error);
  if (msg == nullptr)
    return FALSE;

  const guint status = soup_session_send_message (session, msg);
  if (!SOUP_STATUS_IS_SUCCESSFUL (status))
    {
      const char *reason
          = msg->reason_phrase != nullptr ? msg->reason_phrase : soup_status_get_phrase (status);
      g_set_error_literal (error, http_error_quark (), int (status), reason);
      return FALSE;
    }
  if (!check_body_is_whole (msg, error))
    return FALSE;

  if (progress != nullptr)
    {
      g_autofree char *text = g_strdup_printf (_ ("saving to %s"), path);
      progress (text, user_data);
    }

  return save_body (msg->response_body, path, progress, user_data, error);
}
