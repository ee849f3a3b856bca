// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// The retrieval under every interleaving an installer can make, for stress-test.sh:
//
//   kiv-e2e-stress ROUNDS SEED OLD NEW [pair]
//
// Each round is a fresh process (forked, so the record is not yet kept) whose threads mix
// get_configuration, get_configuration_full and get_configuration_async calls, cancel them at
// random moments (before, during and just after their end), and reset and reuse a cancelled
// cancellable for a retry. Before each round the home holds the files of the folder OLD ("cfg",
// and "sig" with pair); the server serves those of NEW. A round passes when every asynchronous
// call was answered exactly once, on its own thread; every call that succeeded holds the kept
// record, parsed from NEW; the files were at every moment old or new, never anything else; and
// they are NEW's after a round where a call succeeded and OLD's after one where none did. Prints
// what failed and exits 1 at the first failing round; the round's standard error follows.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "config.h"

namespace
{
namespace fs = std::filesystem;
using std::chrono::microseconds;

std::string read_all (const fs::path &path)
{
  std::ifstream in (path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf ();
  return in ? text.str () : std::string ("(none)");
}

struct Files
{
  std::string cfg, sig;
};

Files files_in (const fs::path &dir, bool pair)
{
  return { read_all (dir / "cfg"), pair ? read_all (dir / "sig") : std::string () };
}

// What one round saw; each thread adds to it.
struct Round
{
  Files old_files, new_files;
  bool pair = false;
  fs::path home;
  std::mutex lock;
  std::vector<std::string> failures;
  std::vector<const Configuration *> successes;
  int calls = 0, cancelled = 0, retries = 0;

  void fail (const std::string &what)
  {
    std::lock_guard<std::mutex> hold (lock);
    failures.push_back (what);
  }

  void outcome (const Configuration *record, const GError *error)
  {
    std::lock_guard<std::mutex> hold (lock);
    calls++;
    if (record != nullptr)
      successes.push_back (record);
    else if (g_error_matches (error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
      cancelled++;
    else
      failures.push_back (std::string ("a call failed: ") + error->message);
  }
};

// Cancels cancellable after a random pause, from a thread of its own.
std::thread cancel_later (GCancellable *cancellable, int max_us, std::mt19937 &random)
{
  const int pause = int (random () % unsigned (max_us));
  g_object_ref (cancellable);
  return std::thread ([cancellable, pause] {
    std::this_thread::sleep_for (microseconds (pause));
    g_cancellable_cancel (cancellable);
    g_object_unref (cancellable);
  });
}

void blocking_call (Round &round)
{
  const Configuration *record = get_configuration (nullptr, nullptr);
  g_autoptr (GError) error = record == nullptr
                                 ? g_error_new_literal (G_IO_ERROR, G_IO_ERROR_FAILED, "no record")
                                 : nullptr;
  round.outcome (record, error);
}

void full_call (Round &round, std::mt19937 random)
{
  g_autoptr (GCancellable) cancellable = g_cancellable_new ();
  std::thread canceller = cancel_later (cancellable, 60000, random);
  g_autoptr (GError) error = nullptr;
  const Configuration *record = get_configuration_full (cancellable, nullptr, nullptr, &error);
  round.outcome (record, error);
  canceller.join ();
}

// One asynchronous call, and what it saw on its thread.
struct AsyncCall
{
  Round *round;
  GThread *thread;
  GCancellable *cancellable;
  std::mt19937 *random;
  std::atomic<int> answers = 0;
  goffset last_received = 0;
  bool retry = false; // a cancelled call is tried again with the same cancellable
  AsyncCall *again = nullptr;
};

void start (AsyncCall *call);

void check_thread (AsyncCall *call, const char *what)
{
  if (g_thread_self () != call->thread)
    call->round->fail (std::string (what) + " came on another thread");
}

void on_progress (const char *, gpointer data)
{
  check_thread (static_cast<AsyncCall *> (data), "a progress message");
}

void on_bytes (goffset received, goffset total, gpointer data)
{
  auto *call = static_cast<AsyncCall *> (data);
  check_thread (call, "a byte report");
  if (received < call->last_received || (total >= 0 && received > total))
    call->round->fail ("byte reports out of order");
  call->last_received = received;
}

gboolean cancel_now (gpointer data)
{
  g_cancellable_cancel (G_CANCELLABLE (data));
  return G_SOURCE_REMOVE;
}

void on_done (GObject *, GAsyncResult *result, gpointer data)
{
  auto *call = static_cast<AsyncCall *> (data);
  check_thread (call, "an answer");
  call->answers++;
  g_autoptr (GError) error = nullptr;
  const Configuration *record = get_configuration_finish (result, &error);
  call->round->outcome (record, error);
  std::mt19937 &random = *call->random;
  if (record == nullptr && call->retry)
    {
      // A Retry button: the same cancellable, reset, for a new call that may be cancelled too.
      g_cancellable_reset (call->cancellable);
      call->again = new AsyncCall{ call->round, call->thread, call->cancellable, call->random };
      {
        std::lock_guard<std::mutex> hold (call->round->lock);
        call->round->retries++;
      }
      start (call->again);
    }
  else if (random () % 2 == 0)
    {
      // Cancelled just after the end, and again after a reset: nothing may answer twice.
      g_cancellable_cancel (call->cancellable);
      g_cancellable_reset (call->cancellable);
      g_cancellable_cancel (call->cancellable);
    }
}

void start (AsyncCall *call)
{
  std::mt19937 &random = *call->random;
  call->retry = random () % 3 == 0;
  get_configuration_async_with_byte_progress (call->cancellable, on_progress, call, on_bytes, call,
                                              nullptr, on_done, call);
  if (random () % 3 != 0)
    {
      GSource *timer = g_timeout_source_new (random () % 60);
      g_source_set_callback (timer, cancel_now, g_object_ref (call->cancellable), g_object_unref);
      g_source_attach (timer, g_main_context_get_thread_default ());
      g_source_unref (timer);
    }
}

bool answered (const AsyncCall *call)
{
  return call->answers > 0 && (call->again == nullptr || answered (call->again));
}

void check_answered_once (Round &round, const AsyncCall *call)
{
  if (call->answers != 1)
    round.fail ("an asynchronous call was answered " + std::to_string (call->answers) + " times");
  if (call->again != nullptr)
    check_answered_once (round, call->again);
}

void free_calls (AsyncCall *call)
{
  if (call->again != nullptr)
    free_calls (call->again);
  delete call;
}

// A thread with a main loop of its own, as an installer's window has, making one to three calls.
void async_calls (Round &round, std::mt19937 random)
{
  GMainContext *context = g_main_context_new ();
  g_main_context_push_thread_default (context);
  std::vector<AsyncCall *> calls;
  std::vector<std::thread> cancellers;
  const int count = 1 + int (random () % 3);
  for (int i = 0; i < count; i++)
    {
      calls.push_back (new AsyncCall{ &round, g_thread_self (), g_cancellable_new (), &random });
      start (calls.back ());
      if (random () % 4 == 0)
        cancellers.push_back (cancel_later (calls.back ()->cancellable, 60000, random));
    }
  while (!std::all_of (calls.begin (), calls.end (), answered))
    g_main_context_iteration (context, TRUE);
  for (auto &canceller : cancellers)
    canceller.join ();
  // Whatever else is still on its way would come now.
  const gint64 until = g_get_monotonic_time () + 20 * G_TIME_SPAN_MILLISECOND;
  while (g_get_monotonic_time () < until)
    if (!g_main_context_iteration (context, FALSE))
      g_usleep (1000);
  for (AsyncCall *call : calls)
    {
      // A Retry after everything ended: the cancellable reaches nothing of the calls it served.
      g_cancellable_cancel (call->cancellable);
      g_cancellable_reset (call->cancellable);
      g_cancellable_cancel (call->cancellable);
      while (g_main_context_iteration (context, FALSE))
        ;
      check_answered_once (round, call);
      g_object_unref (call->cancellable);
      free_calls (call);
    }
  g_main_context_pop_thread_default (context);
  g_main_context_unref (context);
}

// Looks at the files all through the round: each is always the old one or the new one.
void watch_files (Round &round, const std::atomic<bool> &done)
{
  const fs::path cfg = round.home / ".kiv-config", sig = round.home / ".kiv-config.sig";
  while (!done)
    {
      const std::string text = read_all (cfg);
      if (text != round.old_files.cfg && text != round.new_files.cfg)
        round.fail ("the configuration was neither the old one nor the new one: " + text);
      const std::string signature = round.pair ? read_all (sig) : std::string ();
      if (signature != round.old_files.sig && signature != round.new_files.sig)
        round.fail ("the signature was neither the old one nor the new one");
      std::this_thread::sleep_for (microseconds (500));
    }
}

void check_end (Round &round)
{
  const Files found{ read_all (round.home / ".kiv-config"),
                     round.pair ? read_all (round.home / ".kiv-config.sig") : std::string () };
  const bool is_new = found.cfg == round.new_files.cfg && found.sig == round.new_files.sig;
  const bool is_old = found.cfg == round.old_files.cfg && found.sig == round.old_files.sig;
  if (!round.successes.empty () && !is_new)
    round.fail ("a call succeeded, but the files are not the new pair");
  if (round.successes.empty () && !is_old)
    round.fail ("no call succeeded, but the files are not the old pair");
  for (const auto &entry : fs::directory_iterator (round.home))
    {
      const auto name = entry.path ().filename ().string ();
      if (name.find ("kiv") != std::string::npos && name != ".kiv-config"
          && name != ".kiv-config.sig")
        round.fail ("left in the home: " + name);
    }
  if (round.successes.empty ())
    return;
  const Configuration *kept = get_configuration_full (nullptr, nullptr, nullptr, nullptr);
  for (const Configuration *record : round.successes)
    if (record != kept)
      round.fail ("a call that succeeded holds another record than the kept one");
  if (kept == nullptr || kept->install->len != 1
      || g_strcmp0 (static_cast<const char *> (g_ptr_array_index (kept->install, 0)),
                    "newer-package")
             != 0)
    round.fail ("the kept record is not the new file's");
}

int run_round (Round &round, unsigned seed)
{
  std::mt19937 random (seed);
  std::atomic<bool> done = false;
  std::thread watcher (watch_files, std::ref (round), std::cref (done));
  std::vector<std::thread> threads;
  const int count = 2 + int (random () % 4);
  for (int i = 0; i < count; i++)
    switch (random () % 5)
      {
      case 0:
        threads.emplace_back (blocking_call, std::ref (round));
        break;
      case 1:
        threads.emplace_back (full_call, std::ref (round), std::mt19937 (random ()));
        break;
      default:
        threads.emplace_back (async_calls, std::ref (round), std::mt19937 (random ()));
      }
  for (auto &thread : threads)
    thread.join ();
  done = true;
  watcher.join ();
  check_end (round);
  for (const auto &failure : round.failures)
    printf ("round with seed %u: %s\n", seed, failure.c_str ());
  printf ("calls %d succeeded %zu cancelled %d retries %d\n", round.calls, round.successes.size (),
          round.cancelled, round.retries);
  return round.failures.empty () ? 0 : 1;
}

// The home as it is before every round: OLD's files, nothing else, the signature's time kept.
void reset_home (const fs::path &home, const fs::path &old_dir, bool pair)
{
  fs::remove_all (home);
  fs::create_directories (home);
  fs::copy_file (old_dir / "cfg", home / ".kiv-config");
  if (pair)
    {
      fs::copy_file (old_dir / "sig", home / ".kiv-config.sig");
      fs::last_write_time (home / ".kiv-config.sig", fs::last_write_time (old_dir / "sig"));
    }
}
} // namespace

int main (int argc, char **argv)
{
  if (argc < 5)
    {
      fprintf (stderr, "usage: %s ROUNDS SEED OLD NEW [pair]\n", argv[0]);
      return 2;
    }
  const int rounds = atoi (argv[1]);
  const unsigned seed = unsigned (strtoul (argv[2], nullptr, 10));
  const fs::path old_dir = argv[3], new_dir = argv[4];
  const bool pair = argc > 5 && std::string (argv[5]) == "pair";
  const fs::path home = g_get_home_dir ();
  const std::string log = (fs::temp_directory_path () / "kiv-stress-round.log").string ();
  int calls = 0;
  for (int i = 0; i < rounds; i++)
    {
      reset_home (home, old_dir, pair);
      fflush (stdout);
      int out[2];
      if (pipe (out) != 0)
        return 2;
      const pid_t child = fork ();
      if (child == 0)
        {
          // The blocking call dumps the record on standard error: kept for a failing round.
          const int err = open (log.c_str (), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
          dup2 (err, 2);
          dup2 (out[1], 1);
          Round round;
          round.old_files = files_in (old_dir, pair);
          round.new_files = files_in (new_dir, pair);
          round.pair = pair;
          round.home = home;
          const int status = run_round (round, seed + unsigned (i));
          fflush (stdout);
          exit (status);
        }
      close (out[1]);
      std::string said;
      char buffer[4096];
      for (ssize_t n; (n = read (out[0], buffer, sizeof buffer)) > 0;)
        said.append (buffer, size_t (n));
      close (out[0]);
      int status = 0;
      waitpid (child, &status, 0);
      int round_calls = 0;
      if (const auto at = said.rfind ("calls "); at != std::string::npos)
        sscanf (said.c_str () + at, "calls %d", &round_calls);
      calls += round_calls;
      if (!WIFEXITED (status) || WEXITSTATUS (status) != 0)
        {
          printf ("round %d of %d failed (status %d):\n%s", i + 1, rounds, status, said.c_str ());
          printf ("its standard error:\n%s\n", read_all (log).c_str ());
          return 1;
        }
    }
  printf ("%d rounds, %d calls, all kept their promises\n", rounds, calls);
  return 0;
}
