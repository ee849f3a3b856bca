// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Configuration retrieval: the configuration's bytes fetched into ~/.kiv-config, this machine's
// section parsed from them and kept for the life of the process, whichever call, on whichever
// thread, gets there first.
#include "config.h"

#include <glib/gi18n.h>

#include "dump-private.h"
#include "host-private.h"
#include "parse-private.h"
#include "retrieve-private.h"

namespace
{
// Installers keep pointers into this record, so it is made once and never freed. It is read
// without the lock (atomically) and set under it.
Configuration *kept_record = nullptr;

// Guards the setting of kept_record and the asynchronous retrieval under way, if any, with the
// calls waiting for it.
GMutex retrieval_lock;
bool retrieving = false;
GPtrArray *waiting = nullptr; // of GTask

Configuration *kept ()
{
  return static_cast<Configuration *> (g_atomic_pointer_get (&kept_record));
}

// Makes record the process-wide one, unless another call was first: then record is dropped and
// the first one is returned. Called with the lock held.
Configuration *keep_locked (Configuration *record)
{
  if (kept () == nullptr)
    g_atomic_pointer_set (&kept_record, record);
  else
    free_configuration (record);
  return kept ();
}

Configuration *keep (Configuration *record)
{
  g_mutex_lock (&retrieval_lock);
  record = keep_locked (record);
  g_mutex_unlock (&retrieval_lock);
  return record;
}

// Tells progress (when given) why the configuration at url cannot be had. The text is not
// translated.
void report_failure_to_progress (ProgressFunc progress, gpointer user_data, const char *url,
                                 const GError *error)
{
  if (progress == nullptr)
    return;
  g_autofree char *message = g_strdup_printf ("%s : %s", url, error->message);
  progress (message, user_data);
}

void log_failure (const char *url, const GError *error)
{
  if (error->domain == KIV_CONFIG_ERROR)
    g_log (nullptr, G_LOG_LEVEL_WARNING, "Failed to verify config file '%s': %s\n", url,
           error->message);
  else
    g_log (nullptr, G_LOG_LEVEL_WARNING, "Failed to download config file '%s'\n", url);
}

// One retrieval, start to end, on the calling thread: this machine's record, the file, and a new
// record parsed from its bytes, which the caller keeps. quiet is for callers that show what they
// choose: nothing is logged and the release command's own words are not shown. A failure is
// reported to progress too.
Configuration *retrieve (GCancellable *cancellable, ProgressFunc progress, gpointer user_data,
                         bool quiet, GError **error)
{
  // This machine's record comes first, so that a cancellation while the release command runs
  // leaves the files untouched. A machine without one still gets the section of "(null)".
  g_autoptr (GError) failure = nullptr;
  const DistroInformation *info = obtain_distro_information (cancellable, quiet, &failure);
  g_autoptr (GBytes) bytes = nullptr;
  if (!g_error_matches (failure, G_IO_ERROR, G_IO_ERROR_CANCELLED))
    {
      g_clear_error (&failure);
      g_autofree char *path = g_build_path ("/", g_get_home_dir (), ".kiv-config", nullptr);
      DownloadControl control;
      control.cancellable = cancellable;
      control.max_size = KIV_CONFIG_MAX_SIZE;
      control.authorities = KIV_CONFIG_CA_FILE[0] != '\0' ? KIV_CONFIG_CA_FILE : nullptr;
      control.progress = progress;
      control.user_data = user_data;
      // An older copy may still be at path; it is stale, so it is never read.
      bytes = fetch_configuration (KIV_CONFIG_URL, path, control, &failure);
    }
  if (bytes == nullptr)
    {
      report_failure_to_progress (progress, user_data, KIV_CONFIG_URL, failure);
      g_propagate_error (error, g_steal_pointer (&failure));
      return nullptr;
    }

  Configuration *record = new_configuration ();
  g_autofree char *config_id = config_id_for (info);
  if (progress != nullptr)
    {
      g_autofree char *message = g_strdup_printf (_ ("looking up %s configuration"), config_id);
      progress (message, user_data);
    }
  // The file is text: a NUL byte ends it. An observer keeps the parser from logging what it
  // skips.
  gsize size = 0;
  const auto *data = static_cast<const char *> (g_bytes_get_data (bytes, &size));
  const std::string_view text (data, size);
  ParseObserver silent;
  parse_section (record, text.substr (0, text.find ('\0')), config_id, host_facts (info),
                 quiet ? &silent : nullptr);
  return record;
}

// What an asynchronous retrieval carries to its worker thread.
struct Job
{
  ProgressRelay relay;
  GCancellable *cancellable;
  gulong cancelled_handler = 0; // while it waits for another call's retrieval
};

void free_job (gpointer data)
{
  delete static_cast<Job *> (data);
}

void start_retrieval (GTask *task);

// Stops listening for the cancellation of a call that waited: its answer is on its way.
void stop_waiting (GTask *task)
{
  auto *job = static_cast<Job *> (g_task_get_task_data (task));
  if (job->cancelled_handler != 0)
    g_cancellable_disconnect (job->cancellable, job->cancelled_handler);
  job->cancelled_handler = 0;
}

// Hands the outcome of the retrieval that just ended to the calls that waited for it, each held
// by tasks. A failure of that call's own making (it was cancelled) is not theirs: the first of
// them retrieves anew, and the others wait for it.
void answer_waiting (GPtrArray *tasks, Configuration *record, const GError *error)
{
  if (record == nullptr && g_error_matches (error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
    {
      auto *first = G_TASK (g_ptr_array_index (tasks, 0));
      stop_waiting (first);
      g_mutex_lock (&retrieval_lock);
      retrieving = true;
      if (tasks->len > 1)
        {
          waiting = g_ptr_array_new ();
          for (guint i = 1; i < tasks->len; i++)
            g_ptr_array_add (waiting, g_ptr_array_index (tasks, i));
        }
      g_mutex_unlock (&retrieval_lock);
      start_retrieval (first);
      return;
    }
  for (guint i = 0; i < tasks->len; i++)
    {
      auto *task = G_TASK (g_ptr_array_index (tasks, i));
      stop_waiting (task);
      if (record != nullptr)
        g_task_return_pointer (task, record, nullptr);
      else
        g_task_return_error (task, g_error_copy (error));
      g_object_unref (task);
    }
}

void retrieve_in_thread (GTask *task, gpointer, gpointer data, GCancellable *cancellable)
{
  auto *job = static_cast<Job *> (data);
  g_autoptr (GError) error = nullptr;
  Configuration *record = retrieve (cancellable, job->relay.func (), &job->relay, true, &error);

  g_mutex_lock (&retrieval_lock);
  if (record != nullptr)
    record = keep_locked (record);
  retrieving = false;
  g_autoptr (GPtrArray) tasks = std::exchange (waiting, nullptr);
  g_mutex_unlock (&retrieval_lock);

  if (record != nullptr)
    g_task_return_pointer (task, record, nullptr);
  else
    g_task_return_error (task, g_error_copy (error));
  if (tasks != nullptr && tasks->len > 0)
    answer_waiting (tasks, record, error);
}

// Runs task's retrieval on a worker thread; takes over the caller's reference.
void start_retrieval (GTask *task)
{
  g_task_run_in_thread (task, retrieve_in_thread);
  g_object_unref (task);
}

// A waiting call that is cancelled ends at once; the retrieval it waited for goes on.
void waiting_cancelled (GCancellable *cancellable, gpointer data)
{
  auto *task = G_TASK (data);
  g_mutex_lock (&retrieval_lock);
  const bool was_waiting = waiting != nullptr && g_ptr_array_remove_fast (waiting, task);
  g_mutex_unlock (&retrieval_lock);
  if (!was_waiting)
    return; // the retrieval ended meanwhile and answers it
  GError *error = nullptr;
  g_cancellable_set_error_if_cancelled (cancellable, &error);
  g_task_return_error (task, error);
  g_object_unref (task);
}
} // namespace

const Configuration *get_configuration (ProgressFunc progress, gpointer user_data)
{
  if (Configuration *record = kept ())
    {
      debug_configuration (record);
      return record;
    }
  g_autoptr (GError) error = nullptr;
  Configuration *record = retrieve (nullptr, progress, user_data, false, &error);
  if (record == nullptr)
    {
      log_failure (KIV_CONFIG_URL, error);
      return nullptr;
    }
  record = keep (record);
  debug_configuration (record);
  return record;
}

const Configuration *get_configuration_full (GCancellable *cancellable, ProgressFunc progress,
                                             gpointer user_data, GError **error)
{
  if (Configuration *record = kept ())
    return record;
  Configuration *record = retrieve (cancellable, progress, user_data, true, error);
  return record != nullptr ? keep (record) : nullptr;
}

void get_configuration_async (GCancellable *cancellable, ProgressFunc progress, gpointer user_data,
                              GAsyncReadyCallback callback, gpointer callback_data)
{
  GTask *task = g_task_new (nullptr, cancellable, callback, callback_data);
  g_task_set_source_tag (task, reinterpret_cast<gpointer> (get_configuration_async));
  auto *job = new Job{ ProgressRelay (progress, user_data, task), cancellable };
  g_task_set_task_data (task, job, free_job);
  // Connected before the task can wait, so that no cancellation is missed; it acts only on a
  // task on the waiting list.
  const gulong handler
      = cancellable != nullptr
            ? g_cancellable_connect (cancellable, G_CALLBACK (waiting_cancelled), task, nullptr)
            : 0;

  g_mutex_lock (&retrieval_lock);
  Configuration *record = kept ();
  bool leads = false, waits = false;
  if (record == nullptr && !retrieving)
    leads = retrieving = true;
  else if (record == nullptr && !g_cancellable_is_cancelled (cancellable))
    {
      // The list holds the reference from here on, until the retrieval answers the task.
      if (waiting == nullptr)
        waiting = g_ptr_array_new ();
      g_ptr_array_add (waiting, task);
      job->cancelled_handler = handler;
      waits = true;
    }
  g_mutex_unlock (&retrieval_lock);

  if (waits)
    return;
  if (handler != 0)
    g_cancellable_disconnect (cancellable, handler);
  if (leads)
    start_retrieval (task);
  else
    {
      GError *error = nullptr;
      if (record != nullptr)
        g_task_return_pointer (task, record, nullptr);
      else if (g_cancellable_set_error_if_cancelled (cancellable, &error))
        g_task_return_error (task, error);
      g_object_unref (task);
    }
}

const Configuration *get_configuration_finish (GAsyncResult *result, GError **error)
{
  g_return_val_if_fail (g_task_is_valid (result, nullptr), nullptr);
  return static_cast<const Configuration *> (g_task_propagate_pointer (G_TASK (result), error));
}
