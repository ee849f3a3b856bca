// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "common-private.h"

namespace
{
struct Report
{
  ProgressRelay::Callback progress;
  gpointer user_data;
  GTask *task;
  char *message;
};

gboolean deliver (gpointer data)
{
  const auto *report = static_cast<const Report *> (data);
  report->progress (report->message, report->user_data);
  return G_SOURCE_REMOVE;
}

void free_report (gpointer data)
{
  auto *report = static_cast<Report *> (data);
  g_object_unref (report->task);
  g_free (report->message);
  g_free (report);
}
} // namespace

ProgressRelay::ProgressRelay (Callback progress, gpointer user_data, GTask *task)
    : progress_ (progress), user_data_ (user_data), task_ (task),
      context_ (g_main_context_ref_thread_default ())
{
}

ProgressRelay::~ProgressRelay ()
{
  g_main_context_unref (context_);
}

// Each report is a source of its own at the default priority, attached in order; GTask attaches
// the call's completion the same way once the work is done, so the caller sees every report
// before the result.
void ProgressRelay::relay (const char *message, gpointer self)
{
  const auto *relay = static_cast<const ProgressRelay *> (self);
  auto *report = g_new (Report, 1);
  *report = { relay->progress_, relay->user_data_, G_TASK (g_object_ref (relay->task_)),
              g_strdup (message) };
  GSource *source = g_idle_source_new ();
  g_source_set_priority (source, G_PRIORITY_DEFAULT);
  g_source_set_callback (source, deliver, report, free_report);
  g_source_attach (source, relay->context_);
  g_source_unref (source);
}
