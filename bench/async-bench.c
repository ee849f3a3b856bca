/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* kiv-bench-async: the asynchronous retrieval as a program with a main loop uses it, for
 * bench/driver-bench.sh.
 *
 *   kiv-bench-async [--progress [--work]] [--ticks] [--download URL FILE]
 *
 * Runs a GMainLoop, starts get_configuration_async() (or, with --download,
 * http_download_file_async() of URL into FILE), quits the loop in the callback and exits with 0
 * when the call succeeded, 1 otherwise (with the error on standard error). Without options it
 * does the work of kiv-config-check, with nothing printed, so that the two can be timed side by
 * side.
 *
 * --progress hands the call a progress callback that only counts the messages, so that the cost
 * of relaying them to the main loop shows. With --work the callback also does what a window's
 * does with each message, about 30 µs of work (setting a label's text and the bar's fraction), and
 * the call is the one with byte progress, whose callback is told the fraction.
 *
 * --ticks adds a 10 ms timeout to the loop, as a window's animation or redraw would be, and
 * prints on standard output how long the loop went without running it: the number of ticks and
 * the largest interval between two moments the loop was seen running. Those moments are the
 * call (the clock starts just before the asynchronous call is made, so that what the call itself
 * costs the caller counts), each tick, and the callback. A loop that is never held up shows
 * intervals of a little over 10 ms. On a busy machine part of an interval may be spent waiting
 * for a processor, the loop's thread ready to run while other programs hold both: the kernel counts
 * that time (/proc/thread-self/schedstat), and the program prints how much of the largest interval
 * it was, so that what the library holds up can be told from what the machine's load does. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "config.h"

typedef struct
{
  GMainLoop *loop;
  gboolean ok;
  guint progress_messages;
  /* The loop's pulse, with --ticks. */
  gint64 start;     /* microseconds, monotonic: just before the call */
  gint64 last_seen; /* the last moment the loop was seen running */
  gint64 worst_gap;
  gint64 worst_gap_end;     /* when the worst interval ended, from start */
  gint64 worst_gap_waiting; /* how much of it the loop's thread waited for a processor */
  guint ticks;
  int schedstat; /* /proc/thread-self/schedstat of the loop's thread, or -1 */
  gint64 last_waited;
} Run;

/* Microseconds the loop's thread has spent ready to run but waiting for a processor, or 0 when
 * the kernel does not say. */
static gint64 time_waited (const Run *run)
{
  char text[128];
  ssize_t n = run->schedstat < 0 ? -1 : pread (run->schedstat, text, sizeof text - 1, 0);
  if (n <= 0)
    return 0;
  text[n] = '\0';
  /* Nanoseconds on the processor, nanoseconds waiting for one, time slices. */
  unsigned long long running = 0, waiting = 0;
  return sscanf (text, "%llu %llu", &running, &waiting) == 2 ? (gint64) (waiting / 1000) : 0;
}

/* Notes that the loop is running now. */
static void seen_running (Run *run)
{
  const gint64 now = g_get_monotonic_time ();
  const gint64 waited = time_waited (run);
  if (now - run->last_seen > run->worst_gap)
    {
      run->worst_gap = now - run->last_seen;
      run->worst_gap_end = now - run->start;
      run->worst_gap_waiting = waited - run->last_waited;
    }
  run->last_seen = now;
  run->last_waited = waited;
}

static gboolean tick (gpointer data)
{
  Run *run = data;
  run->ticks++;
  seen_running (run);
  return G_SOURCE_CONTINUE;
}

static void count_progress (const char *message, gpointer data)
{
  (void) message;
  ((Run *) data)->progress_messages++;
}

/* About 30 µs of a processor's time, as a label's new text takes to lay out. */
static void work_a_while (void)
{
  const gint64 until = g_get_monotonic_time () + 30;
  while (g_get_monotonic_time () < until)
    ;
}

static void count_and_work (const char *message, gpointer data)
{
  count_progress (message, data);
  work_a_while ();
}

static void show_fraction (goffset received, goffset total, gpointer data)
{
  (void) received;
  (void) total;
  (void) data;
  work_a_while ();
}

static void report_error (GError *error)
{
  fprintf (stderr, "kiv-bench-async: %s\n", error->message);
  g_error_free (error);
}

static void configuration_done (GObject *source, GAsyncResult *result, gpointer data)
{
  (void) source;
  Run *run = data;
  GError *error = NULL;
  seen_running (run);
  run->ok = get_configuration_finish (result, &error) != NULL;
  if (!run->ok)
    report_error (error);
  g_main_loop_quit (run->loop);
}

static void download_done (GObject *source, GAsyncResult *result, gpointer data)
{
  (void) source;
  Run *run = data;
  GError *error = NULL;
  seen_running (run);
  run->ok = http_download_file_finish (result, &error);
  if (!run->ok)
    report_error (error);
  g_main_loop_quit (run->loop);
}

static int usage (const char *name)
{
  fprintf (stderr, "usage: %s [--progress [--work]] [--ticks] [--download URL FILE]\n", name);
  return 2;
}

int main (int argc, char **argv)
{
  gboolean progress = FALSE, ticks = FALSE, work = FALSE;
  const char *url = NULL, *file = NULL;
  for (int i = 1; i < argc; i++)
    if (strcmp (argv[i], "--progress") == 0)
      progress = TRUE;
    else if (strcmp (argv[i], "--ticks") == 0)
      ticks = TRUE;
    else if (strcmp (argv[i], "--work") == 0)
      work = TRUE;
    else if (strcmp (argv[i], "--download") == 0 && i + 2 < argc)
      {
        url = argv[++i];
        file = argv[++i];
      }
    else
      return usage (argv[0]);

  Run run = { 0 };
  run.loop = g_main_loop_new (NULL, FALSE);
  run.schedstat = -1;
  if (ticks)
    {
      g_timeout_add (10, tick, &run);
      run.schedstat = open ("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
      run.last_waited = time_waited (&run);
    }
  run.start = run.last_seen = g_get_monotonic_time ();
  ProgressFunc func = !progress ? NULL : work ? count_and_work : count_progress;
  KivByteProgressFunc fraction = progress && work ? show_fraction : NULL;
  if (url != NULL)
    http_download_file_async_with_byte_progress (url, file, NULL, func, &run, fraction, &run, NULL,
                                                 download_done, &run);
  else
    get_configuration_async_with_byte_progress (NULL, func, &run, fraction, &run, NULL,
                                                configuration_done, &run);
  g_main_loop_run (run.loop);

  if (ticks)
    printf ("ticks %u worst-gap-ms %.1f waiting-ms %.1f at-ms %.1f total-ms %.1f "
            "progress-messages %u\n",
            run.ticks, run.worst_gap / 1000.0, run.worst_gap_waiting / 1000.0,
            run.worst_gap_end / 1000.0, (run.last_seen - run.start) / 1000.0,
            run.progress_messages);
  if (run.schedstat >= 0)
    close (run.schedstat);
  g_main_loop_unref (run.loop);
  return run.ok ? 0 : 1;
}
