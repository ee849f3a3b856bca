// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "common-private.h"

struct ProgressRelay::Report
{
  ProgressRelay *relay;
  char *text;
  bool is_bytes;
  goffset received, total;
};

ProgressRelay::ProgressRelay (GTask *task, Callback progress, gpointer user_data,
                              ByteCallback byte_progress, gpointer byte_progress_data,
                              GDestroyNotify byte_progress_destroy)
    : task_ (task), progress_ (progress), user_data_ (user_data), byte_progress_ (byte_progress),
      byte_progress_data_ (byte_progress_data), byte_progress_destroy_ (byte_progress_destroy),
      context_ (g_main_context_ref (g_task_get_context (task)))
{
  g_mutex_init (&lock_);
}

ProgressRelay::~ProgressRelay ()
{
  // Every report holds the task, which holds the relay: none is left to deliver. The last
  // reference to the task may go on the worker, and a language binding's function must not run
  // there (an interpreter that is shutting down ends a thread that calls into it): it is called on
  // the task's context, at once when this thread runs it.
  if (byte_progress_destroy_ != nullptr && g_main_context_is_owner (context_))
    byte_progress_destroy_ (byte_progress_data_);
  else if (byte_progress_destroy_ != nullptr)
    {
      GSource *source = g_idle_source_new ();
      g_source_set_priority (source, G_PRIORITY_DEFAULT);
      g_source_set_callback (
          source, [] (gpointer) -> gboolean { return G_SOURCE_REMOVE; }, byte_progress_data_,
          byte_progress_destroy_);
      g_source_attach (source, context_);
      g_source_unref (source);
    }
  g_main_context_unref (context_);
  if (posting_context_ != nullptr)
    g_main_context_unref (posting_context_);
  g_mutex_clear (&lock_);
}

void ProgressRelay::message (const char *text)
{
  if (progress_ == nullptr)
    return;
  auto *report = g_new0 (Report, 1);
  *report = { this, g_strdup (text), false, 0, 0 };
  g_mutex_lock (&lock_);
  // What a byte report still waiting said came before this: it must not take a newer total.
  waiting_bytes_ = nullptr;
  g_mutex_unlock (&lock_);
  post (report);
}

void ProgressRelay::bytes (const char *text, goffset received, goffset total)
{
  if (!wanted ())
    return;
  Report *fresh = nullptr;
  g_mutex_lock (&lock_);
  if (Report *waiting = waiting_bytes_)
    {
      g_free (waiting->text);
      waiting->text = g_strdup (text);
      waiting->received = received;
      waiting->total = total;
    }
  else
    {
      fresh = waiting_bytes_ = g_new0 (Report, 1);
      *fresh = { this, g_strdup (text), true, received, total };
    }
  g_mutex_unlock (&lock_);
  // Posted outside the lock, which the caller's thread takes to deliver: a worker preempted while
  // posting must not hold the window up. Only one thread reports at a time, so posts keep their
  // order.
  if (fresh != nullptr)
    post (fresh);
}

void ProgressRelay::relay_message (const char *text, gpointer self)
{
  static_cast<ProgressRelay *> (self)->message (text);
}

void ProgressRelay::relay_bytes (const char *text, goffset received, goffset total, gpointer self)
{
  static_cast<ProgressRelay *> (self)->bytes (text, received, total);
}

// Each report is a source of the default priority on the task's context, attached in order;
// GTask attaches the call's completion the same way once the work is done, so the caller sees
// every report before the result. g_main_context_invoke_full calls at once on a thread that owns
// the context, or that may take it because it is that thread's default: a worker without a
// context of its own would take the global default one, which an installer's loop not yet running
// leaves free, and call back on the worker. So the posting thread has a context of its own for the
// call.
void ProgressRelay::post (Report *report)
{
  if (posting_context_ == nullptr)
    posting_context_ = g_main_context_new ();
  g_object_ref (task_);
  g_main_context_push_thread_default (posting_context_);
  g_main_context_invoke_full (g_task_get_context (task_), G_PRIORITY_DEFAULT, deliver, report,
                              free_report);
  g_main_context_pop_thread_default (posting_context_);
}

gboolean ProgressRelay::deliver (gpointer data)
{
  auto *report = static_cast<Report *> (data);
  ProgressRelay *relay = report->relay;
  g_autofree char *text = nullptr;
  goffset received = 0, total = 0;
  g_mutex_lock (&relay->lock_);
  if (relay->waiting_bytes_ == report)
    relay->waiting_bytes_ = nullptr; // a newer total is posted anew
  text = std::exchange (report->text, nullptr);
  received = report->received;
  total = report->total;
  g_mutex_unlock (&relay->lock_);

  if (relay->progress_ != nullptr)
    relay->progress_ (text, relay->user_data_);
  if (report->is_bytes && relay->byte_progress_ != nullptr)
    relay->byte_progress_ (received, total, relay->byte_progress_data_);
  return G_SOURCE_REMOVE;
}

void ProgressRelay::free_report (gpointer data)
{
  auto *report = static_cast<Report *> (data);
  ProgressRelay *relay = report->relay;
  GTask *task = relay->task_;
  // Undelivered where the context went first.
  g_mutex_lock (&relay->lock_);
  if (relay->waiting_bytes_ == report)
    relay->waiting_bytes_ = nullptr;
  g_mutex_unlock (&relay->lock_);
  g_free (report->text);
  g_free (report);
  g_object_unref (task); // last: it may free the relay
}
