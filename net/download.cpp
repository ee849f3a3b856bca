// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// A download: the transport's answer written to a staging file, with the progress reports callers
// see, and put in place.
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
  const DownloadControl &control;
  GError **error;
};

gboolean write_piece (std::string_view piece, gpointer data)
{
  auto *writing = static_cast<Writing *> (data);
  // A body of many pieces takes a while to write: a cancellation must not wait for all of it.
  if (g_cancellable_set_error_if_cancelled (writing->control.cancellable, writing->error)
      || !writing->file->write (piece, writing->error))
    return FALSE;
  writing->total += piece.size ();
  if (writing->control.progress != nullptr)
    {
      g_autofree char *text
          = g_strdup_printf (_ ("fetched %lu bytes"), (unsigned long) writing->total);
      writing->control.progress (text, writing->control.user_data);
    }
  return TRUE;
}
} // namespace

std::unique_ptr<StagedFile> download_staged (HttpTransport *transport, const char *url,
                                             const char *path, const DownloadControl &control,
                                             GBytes **out_body, GError **error)
{
  if (control.progress != nullptr)
    {
      g_autofree char *text = g_strdup_printf (_ ("fetching %s"), url != nullptr ? url : "(null)");
      control.progress (text, control.user_data);
    }

  HttpAnswerPtr answer = http_transport_get (transport, url, control, error);
  if (answer == nullptr)
    return nullptr;

  if (control.progress != nullptr)
    {
      g_autofree char *text = g_strdup_printf (_ ("saving to %s"), path);
      control.progress (text, control.user_data);
    }

  auto staged = StagedFile::create (path, error);
  if (staged == nullptr)
    return nullptr;
  Writing writing{ staged.get (), 0, control, error };
  if (!http_answer_visit_body (answer.get (), write_piece, &writing))
    return nullptr;
  if (out_body != nullptr)
    *out_body = http_answer_take_body (answer.get ());
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
  DownloadControl control;
  control.progress = progress;
  control.user_data = user_data;
  auto staged = download_staged (transport.get (), url, path, control, nullptr, error);
  return staged != nullptr && staged->commit (error);
}
