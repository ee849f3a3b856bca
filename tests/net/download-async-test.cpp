// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// http_download_file_async on a GMainLoop, as a graphical installer runs it: the loop must keep
// turning while a slow server trickles the file, every report must arrive on the loop's thread,
// and a cancellation must end the download at once whatever it is waiting for.
#include <algorithm>
#include <string>
#include <vector>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "kiv-http-test.h"
#include "net.h"

namespace
{
// What one asynchronous download did, seen from the loop.
struct AsyncRun
{
  GMainLoop *loop = g_main_loop_new (nullptr, FALSE);
  GThread *loop_thread = g_thread_self ();
  std::vector<std::string> progress;
  TimedProgress timed;
  bool progress_on_loop_thread = true;
  gboolean ok = FALSE;
  GError *error = nullptr;
  GCancellable *cancellable = g_cancellable_new ();
  gint64 cancelled = 0, ended = 0;

  // The 10 ms ticks of a timer on the loop, and the longest wait between two of them.
  gint64 last_tick = 0, worst_gap = 0;
  int ticks = 0;

  AsyncRun () = default;
  AsyncRun (const AsyncRun &) = delete;
  ~AsyncRun ()
  {
    g_clear_error (&error);
    g_object_unref (cancellable);
    g_main_loop_unref (loop);
  }

  static void on_progress (const char *message, gpointer data)
  {
    auto *run = static_cast<AsyncRun *> (data);
    run->progress.emplace_back (message);
    record_timed (message, &run->timed);
    run->progress_on_loop_thread &= g_thread_self () == run->loop_thread;
  }

  static void on_done (GObject *, GAsyncResult *result, gpointer data)
  {
    auto *run = static_cast<AsyncRun *> (data);
    run->ok = http_download_file_finish (result, &run->error);
    run->ended = g_get_monotonic_time ();
    g_main_loop_quit (run->loop);
  }

  static gboolean on_tick (gpointer data)
  {
    auto *run = static_cast<AsyncRun *> (data);
    const gint64 now = g_get_monotonic_time ();
    if (run->ticks++ > 0)
      run->worst_gap = std::max (run->worst_gap, now - run->last_tick);
    run->last_tick = now;
    return G_SOURCE_CONTINUE;
  }

  // Downloads url into path on the loop, with a 10 ms timer ticking, and cancels after
  // cancel_after_ms (never when negative).
  static gboolean on_cancel (gpointer data)
  {
    auto *run = static_cast<AsyncRun *> (data);
    run->cancelled = g_get_monotonic_time ();
    g_cancellable_cancel (run->cancellable);
    return G_SOURCE_REMOVE;
  }

  void download (const std::string &url, const std::string &path, int cancel_after_ms = -1)
  {
    const guint timer = g_timeout_add (10, on_tick, this);
    const guint canceller
        = cancel_after_ms >= 0 ? g_timeout_add (guint (cancel_after_ms), on_cancel, this) : 0;
    http_download_file_async (url.c_str (), path.c_str (), cancellable, on_progress, this, on_done,
                              this);
    g_main_loop_run (loop);
    g_source_remove (timer);
    if (canceller != 0 && cancelled == 0)
      g_source_remove (canceller);
  }
};
} // namespace

// A server that sends the file in small pieces, a second or so in all: the loop ticks on, and the
// download ends as the blocking call ends, reporting the same.
TEST (HttpDownloadFileAsync, KeepsTheLoopTurningAndMatchesTheBlockingCall)
{
  const std::string body (150000, 'k');
  ConfigServer server ("trickle", body, Scheme::http,
                       { "--trickle-bytes", "8000", "--trickle-ms", "50" });
  Scratch scratch;
  AsyncRun run;
  run.download (server.url (), scratch.path ("async"));
  ASSERT_TRUE (run.ok) << run.error->message;
  EXPECT_EQ (contents (scratch.path ("async")), body);
  EXPECT_TRUE (run.progress_on_loop_thread);
  EXPECT_GT (run.ticks, 50); // the download took a second or so, and the loop saw it all
  EXPECT_LT (run.worst_gap, 100 * G_TIME_SPAN_MILLISECOND) << "the loop stood still";

  std::vector<std::string> blocking;
  ASSERT_TRUE (http_download_file (server.url ().c_str (), scratch.path ("async").c_str (), record,
                                   &blocking, nullptr));
  EXPECT_EQ (run.progress, blocking);
}

// The reports of a slow server's body reach the loop while it is sent, not after the last byte.
TEST (HttpDownloadFileAsync, ReportsTheBodyWhileTheServerSendsIt)
{
  const std::string body (150000, 'k');
  PythonFileServer slow (body, 3, 400);
  Scratch scratch;
  AsyncRun run;
  run.download (slow.url (), scratch.path ("target"));
  ASSERT_TRUE (run.ok) << run.error->message;
  EXPECT_EQ (reports_not_streamed (run.timed, run.ended, 2 * 400), "");
}

// Whatever the download waits for, a cancellation ends it within 200 ms, with the older file as
// it was and nothing beside it. Each server below holds the download at one stage for good.
TEST (HttpDownloadFileAsync, CancelsAtEveryStage)
{
  SilentNameServer names;
  StalledPort stalled;
  RawServer no_handshake (RawServer::never_answer);
  ConfigServer no_head ("silent", "");
  ConfigServer slow_body ("trickle", std::string (100000, 'k'), Scheme::http,
                          { "--trickle-bytes", "100", "--trickle-ms", "100" });
  std::string https_no_handshake = no_handshake.url ();
  https_no_handshake.replace (0, 4, "https");
  const struct
  {
    const char *stage;
    std::string url;
  } stages[] = {
    { "resolving the host name", "http://kiv-async-test.example/file" },
    { "connecting", stalled.url () },
    { "the TLS handshake", https_no_handshake },
    { "waiting for the head", no_head.url () },
    { "reading a trickling body", slow_body.url () },
  };
  ASSERT_TRUE (names.listening ());
  for (const auto &s : stages)
    {
      SCOPED_TRACE (s.stage);
      Scratch scratch;
      const auto path = scratch.path ("target");
      ASSERT_TRUE (put (path, "older copy"));
      AsyncRun run;
      run.download (s.url, path, 400);
      EXPECT_FALSE (run.ok);
      EXPECT_TRUE (g_error_matches (run.error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
          << (run.error != nullptr ? run.error->message : "no error");
      ASSERT_GT (run.cancelled, 0) << "it ended before it was cancelled";
      EXPECT_LT (run.ended - run.cancelled, 200 * G_TIME_SPAN_MILLISECOND);
      EXPECT_EQ (contents (path), "older copy");
      EXPECT_TRUE (scratch.others ("target").empty ());
    }
  EXPECT_GT (names.queries (), 0);
  EXPECT_GT (no_handshake.connections (), 0);
}
