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
#include <unistd.h>

#include "kiv-http-test.h"
#include "kiv-test.h"
#include "net.h"

namespace
{
// What one asynchronous download did, seen from the loop.
struct AsyncRun
{
  GMainLoop *loop = g_main_loop_new (nullptr, FALSE);
  GThread *loop_thread = g_thread_self ();
  std::vector<std::string> progress;
  std::vector<std::pair<goffset, goffset>> bytes; // received, total
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

  static void on_bytes (goffset received, goffset total, gpointer data)
  {
    auto *run = static_cast<AsyncRun *> (data);
    run->bytes.emplace_back (received, total);
    run->progress_on_loop_thread &= g_thread_self () == run->loop_thread;
    // Each comes with its "fetched" text, just before.
    run->bytes_match_texts
        &= !run->progress.empty ()
           && run->progress.back () == "fetched " + std::to_string (received) + " bytes";
  }
  bool bytes_match_texts = true;

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
    http_download_file_async_with_byte_progress (url.c_str (), path.c_str (), cancellable,
                                                 on_progress, this, on_bytes, this, nullptr,
                                                 on_done, this);
    g_main_loop_run (loop);
    g_source_remove (timer);
    if (canceller != 0 && cancelled == 0)
      g_source_remove (canceller);
  }
};
} // namespace

namespace
{
// The messages without the "fetched" ones.
std::vector<std::string> words_of (const std::vector<std::string> &progress)
{
  std::vector<std::string> found;
  for (const auto &message : progress)
    if (!message.starts_with ("fetched "))
      found.push_back (message);
  return found;
}
} // namespace

// A server that sends the file in small pieces, a second or so in all: the loop ticks on, and the
// download ends as the blocking call ends, reporting the same. The "fetched" reports may coalesce:
// those that come are some of the blocking call's, the last one included, each with its numbers.
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
  EXPECT_EQ (words_of (run.progress), words_of (blocking));
  const auto fetched = fetched_reports (run.progress), all_fetched = fetched_reports (blocking);
  ASSERT_FALSE (fetched.empty ());
  EXPECT_EQ (fetched.back (), all_fetched.back ());
  EXPECT_TRUE (std::includes (all_fetched.begin (), all_fetched.end (), fetched.begin (),
                              fetched.end (), [] (const std::string &a, const std::string &b) {
                                return a.size () != b.size () ? a.size () < b.size () : a < b;
                              }));
  ASSERT_EQ (run.bytes.size (), fetched.size ());
  EXPECT_TRUE (run.bytes_match_texts);
  EXPECT_EQ (run.bytes.back (), std::make_pair (goffset (body.size ()), goffset (body.size ())));
}

// A relative path names the file in the directory of the moment of the call; the finish function
// takes only a download's result, and the call only a cancellable, as GLib's own calls check them.
TEST (HttpDownloadFileAsync, ChecksItsArgumentsWhenCalled)
{
  ConfigServer server ("normal", "body");
  Scratch scratch, elsewhere;
  g_autofree char *start = g_get_current_dir ();
  ASSERT_EQ (chdir (scratch.path ("").c_str ()), 0);
  AsyncRun run;
  http_download_file_async (server.url ().c_str (), "relative", nullptr, nullptr, nullptr,
                            AsyncRun::on_done, &run);
  const bool moved = chdir (elsewhere.path ("").c_str ()) == 0;
  g_main_loop_run (run.loop);
  ASSERT_EQ (chdir (start), 0);
  ASSERT_TRUE (moved);
  EXPECT_TRUE (run.ok);
  EXPECT_EQ (contents (scratch.path ("relative")), "body");
  EXPECT_TRUE (elsewhere.others ("").empty ());

  record_logs ();
  const GLogLevelFlags fatal = g_log_set_always_fatal (GLogLevelFlags (G_LOG_FATAL_MASK));
  g_autoptr (GTask) other = g_task_new (nullptr, nullptr, nullptr, nullptr);
  g_task_return_boolean (other, TRUE);
  EXPECT_FALSE (http_download_file_finish (G_ASYNC_RESULT (other), nullptr));
  g_autoptr (GObject) not_cancellable = G_OBJECT (g_simple_action_new ("a", nullptr));
  http_download_file_async (server.url ().c_str (), scratch.path ("x").c_str (),
                            reinterpret_cast<GCancellable *> (not_cancellable), nullptr, nullptr,
                            nullptr, nullptr);
  g_log_set_always_fatal (fatal);
  const auto logs = take_logs ();
  ASSERT_EQ (logs.size (), 2u);
  EXPECT_EQ (logs[0].level, G_LOG_LEVEL_CRITICAL);
  EXPECT_EQ (logs[1].level, G_LOG_LEVEL_CRITICAL);
  EXPECT_EQ (contents (scratch.path ("x")), "(unreadable)");
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

// An installer may show the asynchronous call's error alone, so it names the URL before the
// reason the blocking call gives; the domain and the code are the blocking call's.
TEST (HttpDownloadFileAsync, NamesTheUrlBeforeTheReason)
{
  ConfigServer missing ("not-found", "");
  ConfigServer served ("normal", "body");
  Scratch scratch;
  const struct
  {
    const char *failure;
    std::string url, path;
  } cases[] = {
    { "a 404 answer", missing.url (), scratch.path ("target") },
    { "a host name that cannot be resolved", "http://kiv-async-test.example/file",
      scratch.path ("target") },
    { "a folder that does not exist", served.url (), scratch.path ("no/such/folder") },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.failure);
      g_autoptr (GError) blocking = nullptr;
      ASSERT_FALSE (
          http_download_file (c.url.c_str (), c.path.c_str (), nullptr, nullptr, &blocking));
      AsyncRun run;
      run.download (c.url, c.path);
      ASSERT_FALSE (run.ok);
      EXPECT_EQ (run.error->domain, blocking->domain);
      EXPECT_EQ (run.error->code, blocking->code);
      EXPECT_EQ (std::string (run.error->message), c.url + ": " + blocking->message);
    }
}
