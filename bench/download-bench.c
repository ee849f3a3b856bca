/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* kiv-bench-download: what http_download_file costs in memory, and how soon its progress follows
 * the body, on a server of its own on 127.0.0.1.
 *
 *   kiv-bench-download [MIB] [RUNS]
 *
 * Memory: after a small download (which loads and sets up everything a download uses), the
 * process's resident size is its baseline; the kernel's peak is then reset
 * (/proc/self/clear_refs) and a MIB MiB file (64 by default) is downloaded into a temporary
 * folder. The peak above the baseline is what the download held. The server sends the file from
 * one buffer of 1 MiB, so that it adds nothing while the download runs.
 *
 * Latency: the server sends the head, waits 50 ms, notes the time and sends the first 64 KiB of
 * the body, waits again, and sends the rest. The time from that note to the first "fetched"
 * report is measured RUNS times (20 by default) for the blocking call and for the asynchronous
 * one, whose reports reach a main loop; the median and the largest are printed. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <glib/gstdio.h>

#include "net.h"

#define PIECE (1 << 20)
#define FIRST_BYTES (64 * 1024)
#define PAUSE_MS 50

typedef struct
{
  int listener;
  char *piece; /* PIECE bytes, sent again and again */
  gsize body_length;
  gboolean paced;        /* pause before the first and after the first bytes */
  gint64 first_bytes_at; /* monotonic microseconds, when paced */
} Server;

static void send_all (int fd, const char *data, gsize length)
{
  while (length > 0)
    {
      ssize_t n = send (fd, data, length, MSG_NOSIGNAL);
      if (n <= 0)
        return;
      data += n;
      length -= (gsize) n;
    }
}

/* Answers one connection: reads the request and sends the head and the body. */
static void answer (Server *server, int client)
{
  char request[4096];
  gsize have = 0;
  ssize_t n;
  while (have < sizeof request - 1
         && (n = recv (client, request + have, sizeof request - 1 - have, 0)) > 0)
    {
      have += (gsize) n;
      request[have] = '\0';
      if (strstr (request, "\r\n\r\n") != NULL)
        break;
    }
  char *head = g_strdup_printf ("HTTP/1.1 200 OK\r\nContent-Length: %" G_GSIZE_FORMAT
                                "\r\nConnection: close\r\n\r\n",
                                server->body_length);
  send_all (client, head, strlen (head));
  g_free (head);
  gsize sent = 0;
  if (server->paced)
    {
      g_usleep (PAUSE_MS * 1000);
      server->first_bytes_at = g_get_monotonic_time ();
      send_all (client, server->piece, FIRST_BYTES);
      sent = FIRST_BYTES;
      g_usleep (PAUSE_MS * 1000);
    }
  while (sent < server->body_length)
    {
      gsize length = MIN (server->body_length - sent, (gsize) PIECE);
      send_all (client, server->piece, length);
      sent += length;
    }
  close (client);
}

static gpointer serve (gpointer data)
{
  Server *server = data;
  int client;
  while ((client = accept (server->listener, NULL, NULL)) >= 0)
    answer (server, client);
  return NULL;
}

static guint16 listen_on_loopback (Server *server)
{
  struct sockaddr_in address = { 0 };
  socklen_t length = sizeof address;
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
  server->listener = socket (AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (server->listener < 0 || bind (server->listener, (struct sockaddr *) &address, length) != 0
      || listen (server->listener, 8) != 0
      || getsockname (server->listener, (struct sockaddr *) &address, &length) != 0)
    return 0;
  return ntohs (address.sin_port);
}

/* A field of /proc/self/status, in KiB. */
static long status_kib (const char *field)
{
  g_autofree char *status = NULL;
  if (!g_file_get_contents ("/proc/self/status", &status, NULL, NULL))
    return -1;
  const char *line = strstr (status, field);
  return line != NULL ? strtol (line + strlen (field), NULL, 10) : -1;
}

typedef struct
{
  gint64 first_fetched; /* monotonic microseconds, 0 until the first "fetched" report */
  GMainLoop *loop;
  gboolean ok;
} Watch;

static void on_progress (const char *message, gpointer data)
{
  Watch *watch = data;
  if (watch->first_fetched == 0 && g_str_has_prefix (message, "fetched "))
    watch->first_fetched = g_get_monotonic_time ();
}

static void on_done (GObject *source, GAsyncResult *result, gpointer data)
{
  Watch *watch = data;
  (void) source;
  watch->ok = http_download_file_finish (result, NULL);
  g_main_loop_quit (watch->loop);
}

static int compare (const void *a, const void *b)
{
  gint64 x = *(const gint64 *) a, y = *(const gint64 *) b;
  return x < y ? -1 : x > y;
}

/* The median and the largest of RUNS first-report latencies, in milliseconds. */
static gboolean measure_latency (Server *server, const char *url, const char *path, int runs,
                                 gboolean async)
{
  gint64 *latencies = g_new (gint64, runs);
  for (int i = 0; i < runs; i++)
    {
      Watch watch = { 0 };
      if (async)
        {
          watch.loop = g_main_loop_new (NULL, FALSE);
          http_download_file_async (url, path, NULL, on_progress, &watch, on_done, &watch);
          g_main_loop_run (watch.loop);
          g_main_loop_unref (watch.loop);
        }
      else
        watch.ok = http_download_file (url, path, on_progress, &watch, NULL);
      if (!watch.ok || watch.first_fetched == 0)
        {
          g_free (latencies);
          return FALSE;
        }
      latencies[i] = watch.first_fetched - server->first_bytes_at;
    }
  qsort (latencies, (size_t) runs, sizeof *latencies, compare);
  printf ("first \"fetched\" report after the first body bytes, %s call: median %.1f ms, "
          "largest %.1f ms (%d runs)\n",
          async ? "asynchronous" : "blocking", (double) latencies[runs / 2] / 1000,
          (double) latencies[runs - 1] / 1000, runs);
  g_free (latencies);
  return TRUE;
}

int main (int argc, char **argv)
{
  const int mib = argc > 1 ? atoi (argv[1]) : 64;
  const int runs = argc > 2 ? atoi (argv[2]) : 20;
  /* A proxy named in the environment must not carry the requests off the machine. */
  g_setenv ("GIO_USE_PROXY_RESOLVER", "dummy", TRUE);
  Server server = { .piece = g_malloc (PIECE) };
  for (gsize i = 0; i < PIECE; i++)
    server.piece[i] = "kiv download bench\n"[i % 19];
  const guint16 port = listen_on_loopback (&server);
  if (port == 0 || mib <= 0 || runs <= 0)
    {
      fprintf (stderr, "kiv-bench-download: cannot listen on 127.0.0.1\n");
      return 1;
    }
  g_autoptr (GThread) thread = g_thread_new ("server", serve, &server);
  g_autofree char *dir = g_dir_make_tmp ("kiv-bench-download.XXXXXX", NULL);
  g_autofree char *path = g_build_filename (dir, "file", NULL);
  g_autofree char *url = g_strdup_printf ("http://127.0.0.1:%u/file", port);

  server.body_length = 4096;
  if (!http_download_file (url, path, NULL, NULL, NULL))
    return 1;
  const long baseline = status_kib ("VmRSS:");
  g_file_set_contents ("/proc/self/clear_refs", "5", 1, NULL); /* resets VmHWM to VmRSS */
  server.body_length = (gsize) mib << 20;
  const gint64 start = g_get_monotonic_time ();
  if (!http_download_file (url, path, NULL, NULL, NULL))
    return 1;
  const double seconds = (double) (g_get_monotonic_time () - start) / G_USEC_PER_SEC;
  const long peak = status_kib ("VmHWM:");
  printf ("http_download_file, %d MiB: peak %.1f MiB above the baseline of %.1f MiB "
          "(%.2f s)\n",
          mib, (double) (peak - baseline) / 1024, (double) baseline / 1024, seconds);

  server.body_length = 4 * FIRST_BYTES;
  server.paced = TRUE;
  gboolean ok = measure_latency (&server, url, path, runs, FALSE)
                && measure_latency (&server, url, path, runs, TRUE);
  g_unlink (path);
  g_rmdir (dir);
  return ok ? 0 : 1;
}
