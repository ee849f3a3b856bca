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
  goffset announced;
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
  const DownloadControl &control = writing->control;
  if (control.progress != nullptr || control.fetched != nullptr)
    {
      g_autofree char *text
          = g_strdup_printf (_ ("fetched %lu bytes"), (unsigned long) writing->total);
      if (control.fetched != nullptr)
        control.fetched (text, goffset (writing->total), writing->announced, control.user_data);
      else
        control.progress (text, control.user_data);
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
  Writing writing{ staged.get (), 0, http_answer_announced_length (answer.get ()), control, error };
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

namespace
{
// What an asynchronous download carries to its worker thread.
struct Job
{
  char *url;
  char *path;
  ProgressRelay relay;
};

void free_job (gpointer data)
{
  auto *job = static_cast<Job *> (data);
  g_free (job->url);
  g_free (job->path);
  delete job;
}

void download_in_thread (GTask *task, gpointer, gpointer data, GCancellable *cancellable)
{
  auto *job = static_cast<Job *> (data);
  HttpTransportPtr transport = http_transport_new ();
  DownloadControl control;
  control.cancellable = cancellable;
  if (job->relay.wanted ())
    {
      control.progress = ProgressRelay::relay_message;
      control.fetched = ProgressRelay::relay_bytes;
      control.user_data = &job->relay;
    }
  GError *error = nullptr;
  auto staged = download_staged (transport.get (), job->url, job->path, control, nullptr, &error);
  // The last moment to give up: once renamed, the new file stands, and the call says so whenever
  // the caller cancelled (the task does not check its cancellable).
  if (staged != nullptr && !g_cancellable_set_error_if_cancelled (cancellable, &error)
      && staged->commit (&error))
    g_task_return_boolean (task, TRUE);
  else
    {
      // The caller may show the error alone, in its dialog say: it names what could not be had.
      g_prefix_error (&error, "%s: ", job->url != nullptr ? job->url : "(null)");
      g_task_return_error (task, error);
    }
}

// path as it names a file now: a relative path is taken from the current directory of the moment
// of the call, which the caller may change while the download runs.
char *absolute_path (const char *path)
{
  if (g_path_is_absolute (path))
    return g_strdup (path);
  g_autofree char *here = g_get_current_dir ();
  return g_build_filename (here, path, nullptr);
}
} // namespace

void http_download_file_async_with_byte_progress (
    const char *url, const char *path, GCancellable *cancellable, ProgressFunc progress,
    gpointer user_data, KivByteProgressFunc byte_progress, gpointer byte_progress_data,
    GAsyncReadyCallback callback, gpointer callback_data)
{
  g_return_if_fail (cancellable == nullptr || G_IS_CANCELLABLE (cancellable));
  g_autoptr (GTask) task = g_task_new (nullptr, cancellable, callback, callback_data);
  // One tag for both forms: http_download_file_finish takes either.
  g_task_set_source_tag (task, reinterpret_cast<gpointer> (http_download_file_async));
  g_task_set_check_cancellable (task, FALSE);
  if (path == nullptr)
    {
      g_task_return_new_error (task, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                               "No path to save the download to");
      return;
    }
  g_task_set_task_data (
      task,
      new Job{ g_strdup (url), absolute_path (path),
               ProgressRelay (task, progress, user_data, byte_progress, byte_progress_data) },
      free_job);
  g_task_run_in_thread (task, download_in_thread);
}

void http_download_file_async (const char *url, const char *path, GCancellable *cancellable,
                               ProgressFunc progress, gpointer user_data,
                               GAsyncReadyCallback callback, gpointer callback_data)
{
  http_download_file_async_with_byte_progress (url, path, cancellable, progress, user_data, nullptr,
                                               nullptr, callback, callback_data);
}

gboolean http_download_file_finish (GAsyncResult *result, GError **error)
{
  g_return_val_if_fail (
      g_async_result_is_tagged (result, reinterpret_cast<gpointer> (http_download_file_async)),
      FALSE);
  return g_task_propagate_boolean (G_TASK (result), error);
}
