// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Configuration retrieval: the configuration's bytes fetched into ~/.kiv-config, this machine's
// section parsed from them and kept for the life of the process, whichever call, on whichever
// thread, gets there first.
#include "config.h"

#include <algorithm>
#include <span>
#include <utility>
#include <vector>

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

// Guards the setting of kept_record and the asynchronous retrieval (the_retrieval below).
GMutex retrieval_lock;

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

// Which comes first in a retrieval: the file, or this machine's record.
enum class Order
{
  download_first, // as get_configuration always did
  record_first,   // so that a cancellation while the release command runs leaves the files alone
};

// This machine's record, or NULL for a machine without one (which still gets the section of
// "(null)"); NULL with error set only once cancellable is cancelled.
const DistroInformation *this_machine (GCancellable *cancellable, bool quiet, GError **error)
{
  g_autoptr (GError) failure = nullptr;
  const DistroInformation *info = obtain_distro_information (cancellable, quiet, &failure);
  if (g_error_matches (failure, G_IO_ERROR, G_IO_ERROR_CANCELLED))
    g_propagate_error (error, g_steal_pointer (&failure));
  return info;
}

// One retrieval, start to end, on the calling thread: the file and this machine's record in the
// given order, and a new record parsed from the file's bytes, which the caller keeps. control
// names the cancellable and whom to tell. quiet is for callers that show what they choose: nothing
// is logged and the release command's own words are not shown. A failure is reported to progress
// too. Once the file is in place, nothing is cancelled any more: a record comes back.
Configuration *retrieve (DownloadControl control, Order order, bool quiet, GError **error)
{
  g_autoptr (GError) failure = nullptr;
  const DistroInformation *info = nullptr;
  g_autoptr (GBytes) bytes = nullptr;
  if (order == Order::record_first)
    info = this_machine (control.cancellable, quiet, &failure);
  if (failure == nullptr)
    {
      g_autofree char *path = g_build_path ("/", g_get_home_dir (), ".kiv-config", nullptr);
      control.max_size = KIV_CONFIG_MAX_SIZE;
      control.authorities = KIV_CONFIG_CA_FILE[0] != '\0' ? KIV_CONFIG_CA_FILE : nullptr;
      // An older copy may still be at path; it is stale, so it is never read.
      bytes = fetch_configuration (KIV_CONFIG_URL, path, control, &failure);
    }
  if (bytes == nullptr)
    {
      report_failure_to_progress (control.progress, control.user_data, KIV_CONFIG_URL, failure);
      // A caller that gets the error may show it alone, in its dialog say: it names what could
      // not be had. The warning of the other callers names the URL itself.
      if (quiet)
        g_prefix_error (&failure, "%s: ", KIV_CONFIG_URL);
      g_propagate_error (error, g_steal_pointer (&failure));
      return nullptr;
    }
  if (order == Order::download_first)
    info = this_machine (nullptr, quiet, nullptr);

  Configuration *record = new_configuration ();
  g_autofree char *config_id = config_id_for (info);
  if (control.progress != nullptr)
    {
      g_autofree char *message = g_strdup_printf (_ ("looking up %s configuration"), config_id);
      control.progress (message, control.user_data);
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

// What a call of get_configuration_async carries while it waits: whom to tell what the
// retrieval does, and its handler on the caller's cancellable.
struct Waiter
{
  ProgressRelay relay;
  gulong handler = 0;
  // The last call waiting was cancelled once the work had begun to put the files in place: the
  // work's end answers it.
  bool cancelled = false;
  // The work the call was left with when that work was given up, and the source that answers
  // the call if the work has not ended within the grace below.
  GCancellable *given_up_work = nullptr;
  GSource *grace = nullptr;

  ~Waiter ()
  {
    g_clear_object (&given_up_work);
    if (grace != nullptr)
      g_source_unref (grace);
  }
};

// How long the last call cancelled waits for its work to stop before it is answered without it.
// A work sees the cancellation within milliseconds in all but a few steps that cannot be
// interrupted; meanwhile it drops its staging files and ends the program it runs, so that an
// installer that exits once answered leaves none behind.
constexpr guint cancel_grace_ms = 500;

void free_waiter (gpointer data)
{
  delete static_cast<Waiter *> (data);
}

Waiter *waiter_of (GTask *task)
{
  return static_cast<Waiter *> (g_task_get_task_data (task));
}

// Answers task with record, or error when there is none, and lets it go. Its handler goes first,
// so that a caller that resets its cancellable and cancels it again reaches nothing of it. Never
// called with the lock held: the handler takes it, and a disconnection waits for a running one.
void answer (GTask *task, Configuration *record, const GError *error)
{
  Waiter *waiter = waiter_of (task);
  if (waiter->handler != 0)
    g_cancellable_disconnect (g_task_get_cancellable (task), std::exchange (waiter->handler, 0));
  // The grace holds the task; a caller that drops its context once answered must not keep both.
  if (waiter->grace != nullptr)
    g_source_destroy (waiter->grace);
  if (record != nullptr)
    g_task_return_pointer (task, record, nullptr);
  else
    g_task_return_error (task, g_error_copy (error));
  g_object_unref (task);
}

gboolean answer_cancelled (gpointer data)
{
  auto *task = G_TASK (data);
  g_autoptr (GError) error = nullptr;
  if (!g_cancellable_set_error_if_cancelled (g_task_get_cancellable (task), &error))
    g_set_error_literal (&error, G_IO_ERROR, G_IO_ERROR_CANCELLED, "Operation was cancelled");
  answer (G_TASK (g_object_ref (task)), nullptr, error);
  return G_SOURCE_REMOVE;
}

// Answers task, cancelled, from its own context, after the reports already posted to it. Takes
// over a reference.
void answer_cancelled_soon (GTask *task)
{
  GSource *source = g_idle_source_new ();
  g_source_set_priority (source, G_PRIORITY_DEFAULT);
  g_source_set_callback (source, answer_cancelled, task, g_object_unref);
  g_source_attach (source, g_task_get_context (task));
  g_source_unref (source);
}

// The asynchronous retrieval of the process. Idle until a call asks for the configuration;
// running while its work runs on a worker thread of its own, with the calls waiting for it; kept
// once a record is kept, after which every call is answered at once. Every change of state and
// of the list happens under retrieval_lock, in one piece: no call can start a second retrieval
// beside the running one, and none can fall between two.
//
// The work has a cancellable of its own, cancelled only when every call waiting for it has been
// cancelled. A call cancelled while others wait leaves at once. The last one cancels the work.
// If the work has not yet begun to put the files in place (may_commit), it is given up in the
// same step, under the lock: it will never put them in place, it reports to no one, and the
// retrieval is idle again, so that a Retry starts a new work at once. The call is answered by the
// given-up work's end or, if the work is in a step that cannot be interrupted (reading the
// trusted authorities, say), after cancel_grace_ms by itself. If the work has begun, the call is
// answered by the work's end, with what the work ended with; calls that joined meanwhile get a
// new work if that is a cancellation.
class Retrieval
{
public:
  enum class State
  {
    idle,
    running,
    kept,
  };

  // Answers task at once, or makes it wait for the work, started if none runs. Takes over the
  // caller's reference.
  void join (GTask *task);

private:
  // Each work is known by its cancellable, which its thread holds until it ends, and which is
  // its data in the callbacks below: a work given up is no longer the running one.
  static gpointer work (gpointer cancellable);
  static gboolean may_commit (gpointer work, GError **error);
  static void cancelled (GCancellable *cancellable, gpointer task);
  static gboolean grace_ended (gpointer task);
  static void report_message (const char *text, gpointer work);
  static void report_bytes (const char *text, goffset received, goffset total, gpointer work);
  void start_locked ();
  void end (GCancellable *work, Configuration *record, const GError *error);
  // The calls waiting, as a view; with the lock held.
  std::span<GTask *const> waiting () const
  {
    if (waiting_ == nullptr)
      return {};
    return { reinterpret_cast<GTask *const *> (waiting_->pdata), waiting_->len };
  }

  // Nothing here has a destructor: a work may still run while the process exits.
  State state_ = State::idle;
  GCancellable *cancellable_ = nullptr; // the running work's
  bool committing_ = false;             // the running work has begun to put the files in place
  GPtrArray *waiting_ = nullptr;        // of GTask, each held until answered; made once
  GPtrArray *given_up_ = nullptr;       // of GTask left with a work given up; the same
};

Retrieval the_retrieval;

void Retrieval::join (GTask *task)
{
  GCancellable *cancellable = g_task_get_cancellable (task);
  // Connected before the task can wait, so that no cancellation is missed; it acts only on a task
  // on the list. One that came before runs it at once, and the test below answers the task.
  if (cancellable != nullptr)
    waiter_of (task)->handler
        = g_cancellable_connect (cancellable, G_CALLBACK (cancelled), task, nullptr);
  g_mutex_lock (&retrieval_lock);
  Configuration *record = kept ();
  const bool was_cancelled = g_cancellable_is_cancelled (cancellable);
  if (record == nullptr && !was_cancelled)
    {
      if (waiting_ == nullptr)
        waiting_ = g_ptr_array_new ();
      g_ptr_array_add (waiting_, task);
      if (state_ == State::idle)
        start_locked ();
    }
  g_mutex_unlock (&retrieval_lock);
  if (record == nullptr && !was_cancelled)
    return;
  g_autoptr (GError) error = nullptr;
  g_cancellable_set_error_if_cancelled (cancellable, &error);
  answer (task, record, error);
}

void Retrieval::start_locked ()
{
  state_ = State::running;
  committing_ = false;
  cancellable_ = g_cancellable_new ();
  g_thread_unref (g_thread_new ("kiv-retrieval", work, g_object_ref (cancellable_)));
}

gpointer Retrieval::work (gpointer data)
{
  g_autoptr (GCancellable) cancellable = G_CANCELLABLE (data);
  DownloadControl control;
  control.cancellable = cancellable;
  control.progress = report_message;
  control.fetched = report_bytes;
  control.user_data = cancellable;
  control.may_commit = may_commit;
  control.commit_data = cancellable;
  g_autoptr (GError) error = nullptr;
  Configuration *record = retrieve (control, Order::record_first, true, &error);
  the_retrieval.end (cancellable, record, error);
  return nullptr;
}

gboolean Retrieval::may_commit (gpointer work, GError **error)
{
  g_mutex_lock (&retrieval_lock);
  const bool running = work == the_retrieval.cancellable_;
  if (running)
    the_retrieval.committing_ = true;
  g_mutex_unlock (&retrieval_lock);
  if (!running)
    g_set_error_literal (error, G_IO_ERROR, G_IO_ERROR_CANCELLED, "Operation was cancelled");
  return running;
}

// Everyone waiting for the work is told, each on its own context.
void Retrieval::report_message (const char *text, gpointer work)
{
  g_mutex_lock (&retrieval_lock);
  if (work == the_retrieval.cancellable_)
    for (GTask *task : the_retrieval.waiting ())
      waiter_of (task)->relay.message (text);
  g_mutex_unlock (&retrieval_lock);
}

void Retrieval::report_bytes (const char *text, goffset received, goffset total, gpointer work)
{
  g_mutex_lock (&retrieval_lock);
  if (work == the_retrieval.cancellable_)
    for (GTask *task : the_retrieval.waiting ())
      waiter_of (task)->relay.bytes (text, received, total);
  g_mutex_unlock (&retrieval_lock);
}

void Retrieval::end (GCancellable *work, Configuration *record, const GError *error)
{
  std::vector<GTask *> answered;
  g_mutex_lock (&retrieval_lock);
  if (work != cancellable_)
    {
      // Given up: it put nothing in place, and its calls, unless the grace answered them, are
      // answered now, as cancelled.
      for (guint i = given_up_->len; i-- > 0;)
        {
          auto *task = G_TASK (g_ptr_array_index (given_up_, i));
          if (waiter_of (task)->given_up_work == work)
            {
              answered.push_back (task);
              g_ptr_array_remove_index (given_up_, i);
            }
        }
      g_mutex_unlock (&retrieval_lock);
      g_clear_pointer (&record, free_configuration); // none: it was refused the files
      for (GTask *task : answered)
        answer_cancelled_soon (task);
      return;
    }
  g_clear_object (&cancellable_);
  // Cancelled for the calls that asked; those that joined since did not, and get a new work.
  const bool cancelled
      = record == nullptr && g_error_matches (error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
  for (guint i = waiting_->len; i-- > 0;)
    {
      auto *task = G_TASK (g_ptr_array_index (waiting_, i));
      if (!cancelled || waiter_of (task)->cancelled)
        {
          answered.push_back (task);
          g_ptr_array_remove_index (waiting_, i);
        }
    }
  std::reverse (answered.begin (), answered.end ()); // in the order they came
  if (record != nullptr)
    {
      record = keep_locked (record);
      state_ = State::kept;
    }
  else
    state_ = State::idle;
  if (waiting_->len > 0)
    start_locked ();
  g_mutex_unlock (&retrieval_lock);
  for (GTask *task : answered)
    answer (task, record, error);
}

// Runs on the thread that cancelled, possibly inside the caller's own code: the task is answered
// from its own context, where its handler can be disconnected.
void Retrieval::cancelled (GCancellable *, gpointer data)
{
  // Not looked into until it is found on the list.
  auto *task = static_cast<GTask *> (data);
  GCancellable *work = nullptr;
  g_mutex_lock (&retrieval_lock);
  const auto waiting = the_retrieval.waiting ();
  const bool found = std::find (waiting.begin (), waiting.end (), task) != waiting.end ();
  const auto others = std::count_if (waiting.begin (), waiting.end (), [&] (GTask *other) {
    return other != task && !waiter_of (other)->cancelled;
  });
  // The call this acts on, still waiting and not yet cancelled.
  Waiter *waiter = found && !waiter_of (task)->cancelled ? waiter_of (task) : nullptr;
  if (waiter == nullptr)
    task = nullptr;
  else if (others > 0)
    g_ptr_array_remove (the_retrieval.waiting_, task); // its reference goes to the answer
  else if (the_retrieval.committing_)
    {
      waiter->cancelled = true;
      work = G_CANCELLABLE (g_object_ref (the_retrieval.cancellable_));
      task = nullptr;
    }
  else
    {
      // The work is given up, and the task goes with it. No call waits for it any more.
      g_ptr_array_remove (the_retrieval.waiting_, task);
      if (the_retrieval.given_up_ == nullptr)
        the_retrieval.given_up_ = g_ptr_array_new ();
      g_ptr_array_add (the_retrieval.given_up_, task);
      work = std::exchange (the_retrieval.cancellable_, nullptr);
      the_retrieval.state_ = State::idle;
      waiter->given_up_work = G_CANCELLABLE (g_object_ref (work));
      // Attached under the lock, so that no answer can come before the source is known.
      waiter->grace = g_timeout_source_new (cancel_grace_ms);
      g_source_set_callback (waiter->grace, grace_ended, g_object_ref (task), g_object_unref);
      g_source_attach (waiter->grace, g_task_get_context (task));
      task = nullptr;
    }
  g_mutex_unlock (&retrieval_lock);

  if (work != nullptr)
    {
      g_cancellable_cancel (work);
      g_object_unref (work);
    }
  if (task != nullptr)
    answer_cancelled_soon (task);
}

// A call left with a work given up, which has not ended: answered without it. The work puts
// nothing in place any more.
gboolean Retrieval::grace_ended (gpointer data)
{
  auto *task = G_TASK (data);
  g_mutex_lock (&retrieval_lock);
  const bool waiting = g_ptr_array_remove (the_retrieval.given_up_, task);
  g_mutex_unlock (&retrieval_lock);
  if (waiting)
    answer_cancelled_soon (task); // with the list's reference
  return G_SOURCE_REMOVE;
}
} // namespace

const Configuration *get_configuration (ProgressFunc progress, gpointer user_data)
{
  if (Configuration *record = kept ())
    {
      debug_configuration (record);
      return record;
    }
  DownloadControl control;
  control.progress = progress;
  control.user_data = user_data;
  g_autoptr (GError) error = nullptr;
  Configuration *record = retrieve (control, Order::download_first, false, &error);
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
  g_return_val_if_fail (cancellable == nullptr || G_IS_CANCELLABLE (cancellable), nullptr);
  if (Configuration *record = kept ())
    return record;
  DownloadControl control;
  control.cancellable = cancellable;
  control.progress = progress;
  control.user_data = user_data;
  Configuration *record = retrieve (control, Order::record_first, true, error);
  return record != nullptr ? keep (record) : nullptr;
}

void get_configuration_async_with_byte_progress (GCancellable *cancellable, ProgressFunc progress,
                                                 gpointer user_data,
                                                 KivByteProgressFunc byte_progress,
                                                 gpointer byte_data, GDestroyNotify byte_destroy,
                                                 GAsyncReadyCallback callback,
                                                 gpointer callback_data)
{
  g_return_if_fail (cancellable == nullptr || G_IS_CANCELLABLE (cancellable));
  GTask *task = g_task_new (nullptr, cancellable, callback, callback_data);
  // One tag for both forms: get_configuration_finish takes either.
  g_task_set_source_tag (task, reinterpret_cast<gpointer> (get_configuration_async));
  // The retrieval decides: a call whose files were put in place reports so, cancelled or not.
  g_task_set_check_cancellable (task, FALSE);
  g_task_set_task_data (task,
                        new Waiter{ ProgressRelay (task, progress, user_data, byte_progress,
                                                   byte_data, byte_destroy) },
                        free_waiter);
  the_retrieval.join (task);
}

void get_configuration_async (GCancellable *cancellable, ProgressFunc progress, gpointer user_data,
                              GAsyncReadyCallback callback, gpointer callback_data)
{
  get_configuration_async_with_byte_progress (cancellable, progress, user_data, nullptr, nullptr,
                                              nullptr, callback, callback_data);
}

const Configuration *get_configuration_finish (GAsyncResult *result, GError **error)
{
  g_return_val_if_fail (
      g_async_result_is_tagged (result, reinterpret_cast<gpointer> (get_configuration_async)),
      nullptr);
  return static_cast<const Configuration *> (g_task_propagate_pointer (G_TASK (result), error));
}
