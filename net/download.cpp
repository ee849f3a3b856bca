// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "net.h"

#include <gio/gio.h>
#include <glib/gi18n.h>

#include "net-private.h"

namespace
{
struct Writing
{
  StagedFile *file;
  guint64 total;
  ProgressFunc progress;
  gpointer user_data;
  GByteArray *copy; // of what was written, or NULL
  GError **error;
};

gboolean write_piece (std::string_view piece, gpointer data)
{
  auto *writing = static_cast<Writing *> (data);
  if (!writing->file->write (piece, writing->error))
    return FALSE;
  if (writing->copy != nullptr)
    g_byte_array_append (writing->copy, reinterpret_cast<const guint8 *> (piece.data ()),
                         guint (piece.size ()));
  writing->total += piece.size ();
  if (writing->progress != nullptr)
    {
      g_autofree char *text
          = g_strdup_printf (_ ("fetched %lu bytes"), (unsigned long) writing->total);
      writing->progress (text, writing->user_data);
    }
  return TRUE;
}
} // namespace

std::unique_ptr<StagedFile> download_staged (HttpTransport *transport, const char *url,
                                             const char *path, ProgressFunc progress,
                                             gpointer user_data, GBytes **out_body, GError **error)
{
  if (progress != nullptr)
    {
      g_autofree char *text = g_strdup_printf (_ ("fetching %s"), url != nullptr ? url : "(null)");
      progress (text, user_data);
    }

  HttpAnswerPtr answer = http_transport_get (transport, url, error);
  if (answer == nullptr)
    return nullptr;

  if (progress != nullptr)
    {
      g_autofree char *text = g_strdup_printf (_ ("saving to %s"), path);
      progress (text, user_data);
    }

  auto staged = StagedFile::create (path, error);
  if (staged == nullptr)
    return nullptr;
  g_autoptr (GByteArray) copy = out_body != nullptr ? g_byte_array_new () : nullptr;
  Writing writing{ staged.get (), 0, progress, user_data, copy, error };
  if (!http_answer_visit_body (answer.get (), write_piece, &writing))
    return nullptr;
  if (out_body != nullptr)
    *out_body = g_byte_array_free_to_bytes (static_cast<GByteArray *> (g_steal_pointer (&copy)));
  return staged;
}

gboolean http_download_file (const char *url, const char *path, ProgressFunc progress,
                             gpointer user_data, GError **error)
{
  if (path == nullptr)
    {
      g_set_error_literal (error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                           "No path to save the download to");
      return FALSE;
    }

  HttpTransportPtr transport = http_transport_new ();
  auto staged = download_staged (transport.get (), url, path, progress, user_data, nullptr, error);
  return staged != nullptr && staged->commit (error);
}
