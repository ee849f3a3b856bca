// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// A download: the transport's answer written to a staging file, with the progress reports callers
// see, and put in place.
#include "net.h"

#include <memory>
#include <utility>

#include <gio/gio.h>
#include <glib/gi18n.h>

#include "download-private.h"

namespace
{
void report (const DownloadControl &control, const char *text)
{
  if (control.progress != nullptr)
    control.progress (text, control.user_data);
}

// Told after each piece of the body is written, with the total so far and the length the answer
// announced (-1: none), while the body arrives.
void report_fetched (const DownloadControl &control, guint64 total, goffset announced)
{
  if (control.progress == nullptr && control.fetched == nullptr)
    return;
  g_autofree char *text = g_strdup_printf (_ ("fetched %lu bytes"), (unsigned long) total);
  if (control.fetched != nullptr)
    control.fetched (text, goffset (total), announced, control.user_data);
  else
    report (control, text);
}

// Writes the body to a staging file as it arrives: the file is made once the answer's head is
// taken ("saving to"), and each piece is reported once written. The body is kept in memory too
// when the caller wants its bytes.
class StagingSink : public BodySink
{
public:
  StagingSink (const char *path, const DownloadControl &control, bool keep_bytes)
      : path_ (path), control_ (control), bytes_ (keep_bytes ? g_byte_array_new () : nullptr)
  {
  }
  ~StagingSink () override
  {
    if (bytes_ != nullptr)
      g_byte_array_unref (bytes_);
  }

  gboolean begin (goffset announced, GError **error) override
  {
    announced_ = announced;
    {
      g_autofree char *text = g_strdup_printf (_ ("saving to %s"), path_);
      report (control_, text);
    }
    staged_ = StagedFile::create (path_, error);
    return staged_ != nullptr;
  }

  gboolean take (std::string_view piece, GError **error) override
  {
    if (!staged_->write (piece, error))
      return FALSE;
    if (bytes_ != nullptr)
      g_byte_array_append (bytes_, reinterpret_cast<const guint8 *> (piece.data ()),
                           guint (piece.size ()));
    total_ += piece.size ();
    report_fetched (control_, total_, announced_);
    return TRUE;
  }

  std::unique_ptr<StagedFile> take_file () { return std::move (staged_); }
  GBytes *take_bytes () { return g_byte_array_free_to_bytes (std::exchange (bytes_, nullptr)); }

private:
  const char *path_;
  const DownloadControl &control_;
  GByteArray *bytes_;
  std::unique_ptr<StagedFile> staged_;
  guint64 total_ = 0;
  goffset announced_ = -1;
};

// Keeps the body in memory, nothing else.
class MemorySink : public BodySink
{
public:
  ~MemorySink () override
  {
    if (bytes_ != nullptr)
      g_byte_array_unref (bytes_);
  }

  gboolean begin (goffset announced, GError **) override
  {
    // What is announced is within the bound (the transport refuses more), so it is had at once;
    // an unknown length grows as it comes.
    bytes_ = announced > 0 && announced <= G_MAXUINT ? g_byte_array_sized_new (guint (announced))
                                                     : g_byte_array_new ();
    return TRUE;
  }

  gboolean take (std::string_view piece, GError **error) override
  {
    if (piece.size () > G_MAXUINT - bytes_->len)
      {
        g_set_error_literal (error, G_IO_ERROR, G_IO_ERROR_MESSAGE_TOO_LARGE,
                             "Refused an answer of more than 4 GiB held in memory");
        return FALSE;
      }
    g_byte_array_append (bytes_, reinterpret_cast<const guint8 *> (piece.data ()),
                         guint (piece.size ()));
    return TRUE;
  }

  GBytes *take_bytes () { return g_byte_array_free_to_bytes (std::exchange (bytes_, nullptr)); }

private:
  GByteArray *bytes_ = nullptr;
};
} // namespace

std::unique_ptr<StagedFile> download_staged (HttpTransport *transport, const char *url,
                                             const char *path, const DownloadControl &control,
                                             GBytes **out_body, GError **error)
{
  {
    g_autofree char *text = g_strdup_printf (_ ("fetching %s"), url != nullptr ? url : "(null)");
    report (control, text);
  }
  StagingSink sink (path, control, out_body != nullptr);
  if (!http_transport_get (transport, url, control, sink, error))
    return nullptr;
  if (out_body != nullptr)
    *out_body = sink.take_bytes ();
  return sink.take_file ();
}

GBytes *download_bytes (HttpTransport *transport, const char *url, const DownloadControl &control,
                        GError **error)
{
  MemorySink sink;
  if (!http_transport_get (transport, url, control, sink, error))
    return nullptr;
  return sink.take_bytes ();
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

gboolean download_may_commit (const DownloadControl &control, GError **error)
{
  return !g_cancellable_set_error_if_cancelled (control.cancellable, error)
         && (control.may_commit == nullptr || control.may_commit (control.commit_data, error));
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
  if (staged != nullptr && download_may_commit (control, &error) && staged->commit (&error))
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
    gpointer user_data, KivByteProgressFunc byte_progress, gpointer byte_data,
    GDestroyNotify byte_destroy, GAsyncReadyCallback callback, gpointer callback_data)
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
               ProgressRelay (task, progress, user_data, byte_progress, byte_data, byte_destroy) },
      free_job);
  g_task_run_in_thread (task, download_in_thread);
}

void http_download_file_async (const char *url, const char *path, GCancellable *cancellable,
                               ProgressFunc progress, gpointer user_data,
                               GAsyncReadyCallback callback, gpointer callback_data)
{
  http_download_file_async_with_byte_progress (url, path, cancellable, progress, user_data, nullptr,
                                               nullptr, nullptr, callback, callback_data);
}

gboolean http_download_file_finish (GAsyncResult *result, GError **error)
{
  g_return_val_if_fail (
      g_async_result_is_tagged (result, reinterpret_cast<gpointer> (http_download_file_async)),
      FALSE);
  return g_task_propagate_boolean (G_TASK (result), error);
}
