/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* An installer with a main loop retrieving its configuration, for async-test.sh:
 *
 *   kiv-e2e-async async [CANCEL]      get_configuration_async, cancelled after CANCEL ms if it is a
 *                                     number, or once the file CANCEL exists if it is a path
 *   kiv-e2e-async twice               two get_configuration_async calls started together
 *   kiv-e2e-async again CANCEL        as async, and once the call has ended, a Retry: the same
 *                                     cancellable, reset, for a second call
 *   kiv-e2e-async full                get_configuration_full, no main loop
 *   kiv-e2e-async retry               a call that waits for another is cancelled; once both have
 *                                     ended, its cancellable is reset and cancelled again
 *   kiv-e2e-async foreign             get_configuration_finish given another call's result, and
 *                                     get_configuration_async given what is not a cancellable
 *
 * It prints each progress message (saying if one came on another thread than the loop's), then
 * the install list or the error, as domain, value nick (or number) and message. Exit status 0
 * when a configuration was had. */
#include <stdio.h>
#include <string.h>

#include "config.h"

static GMainLoop *loop;
static GThread *loop_thread;
static GCancellable *cancellable;
static gint64 cancelled_at;
static int pending;
static gboolean retry;
static const Configuration *first_record;
static int status = 1;

static void print_progress (const char *message, gpointer user_data)
{
  (void) user_data;
  printf ("progress%s: %s\n", g_thread_self () == loop_thread ? "" : " on another thread", message);
}

/* The nick of code in the enumeration of its domain, or the number itself. */
static const char *code_name (const GError *error)
{
  static char number[16];
  GType type = G_TYPE_INVALID;
  if (error->domain == KIV_CONFIG_ERROR)
    type = KIV_TYPE_CONFIG_ERROR;
  else if (error->domain == KIV_HTTP_ERROR)
    type = KIV_TYPE_HTTP_ERROR;
  else if (error->domain == G_IO_ERROR)
    type = G_TYPE_IO_ERROR_ENUM;
  if (type != G_TYPE_INVALID)
    {
      GEnumClass *enumeration = g_type_class_ref (type);
      const GEnumValue *value = g_enum_get_value (enumeration, error->code);
      g_type_class_unref (enumeration);
      if (value != NULL)
        return value->value_nick;
    }
  g_snprintf (number, sizeof number, "%d", error->code);
  return number;
}

static void print_result (const Configuration *config, const GError *error)
{
  if (config == NULL)
    {
      printf ("error %s %s: %s\n", g_quark_to_string (error->domain), code_name (error),
              error->message);
      return;
    }
  status = 0;
  printf ("install:");
  for (guint i = 0; i < config->install->len; i++)
    printf (" %s", (const char *) g_ptr_array_index (config->install, i));
  printf ("\n");
}

static void retrieved (GObject *source, GAsyncResult *result, gpointer user_data)
{
  (void) source;
  (void) user_data;
  g_autoptr (GError) error = NULL;
  const Configuration *config = get_configuration_finish (result, &error);
  if (cancelled_at != 0)
    printf ("ended %" G_GINT64_FORMAT " ms after the cancellation\n",
            (g_get_monotonic_time () - cancelled_at) / G_TIME_SPAN_MILLISECOND);
  print_result (config, error);
  if (retry)
    {
      retry = FALSE;
      cancelled_at = 0;
      g_cancellable_reset (cancellable);
      get_configuration_async (cancellable, print_progress, NULL, retrieved, NULL);
      return;
    }
  if (first_record == NULL)
    first_record = config;
  else if (config != NULL)
    printf ("%s record\n", config == first_record ? "the same" : "ANOTHER");
  if (--pending == 0)
    g_main_loop_quit (loop);
}

/* Cancels once the file user_data names exists (or at once without one). */
static gboolean cancel (gpointer user_data)
{
  if (user_data != NULL && !g_file_test (user_data, G_FILE_TEST_EXISTS))
    return G_SOURCE_CONTINUE;
  cancelled_at = g_get_monotonic_time ();
  g_cancellable_cancel (cancellable);
  return G_SOURCE_REMOVE;
}

int main (int argc, char **argv)
{
  const char *mode = argc > 1 ? argv[1] : "async";
  cancellable = g_cancellable_new ();
  loop = g_main_loop_new (NULL, FALSE);
  loop_thread = g_thread_self ();

  if (strcmp (mode, "full") == 0)
    {
      g_autoptr (GError) error = NULL;
      const Configuration *config = get_configuration_full (NULL, print_progress, NULL, &error);
      print_result (config, error);
    }
  else if (strcmp (mode, "foreign") == 0)
    {
      GTask *other = g_task_new (NULL, NULL, NULL, NULL);
      g_task_return_boolean (other, TRUE);
      printf ("%s\n", get_configuration_finish (G_ASYNC_RESULT (other), NULL) == NULL
                          ? "another call's result refused"
                          : "another call's result TAKEN");
      get_configuration_async ((GCancellable *) other, NULL, NULL, retrieved, NULL);
      while (g_main_context_iteration (NULL, FALSE))
        ;
      printf ("%s\n", first_record == NULL && status == 1 ? "no cancellable refused"
                                                          : "no cancellable TAKEN");
      g_object_unref (other);
    }
  else if (strcmp (mode, "retry") == 0)
    {
      /* An installer's Retry button reuses the cancellable of the call it cancelled. */
      GCancellable *leader = g_cancellable_new ();
      pending = 2;
      get_configuration_async (leader, print_progress, NULL, retrieved, NULL);
      get_configuration_async (cancellable, NULL, NULL, retrieved, NULL);
      g_cancellable_cancel (cancellable);
      g_main_loop_run (loop);
      g_cancellable_reset (cancellable);
      g_cancellable_cancel (cancellable);
      while (g_main_context_iteration (NULL, FALSE))
        ;
      printf ("retried\n");
      g_object_unref (leader);
    }
  else
    {
      pending = strcmp (mode, "twice") == 0 ? 2 : 1;
      retry = strcmp (mode, "again") == 0;
      for (int i = 0; i < pending; i++)
        get_configuration_async (cancellable, print_progress, NULL, retrieved, NULL);
      if (argc > 2 && g_path_is_absolute (argv[2]))
        g_timeout_add (5, cancel, argv[2]);
      else if (argc > 2)
        g_timeout_add ((guint) g_ascii_strtoull (argv[2], NULL, 10), cancel, NULL);
      g_main_loop_run (loop);
    }
  g_main_loop_unref (loop);
  g_object_unref (cancellable);
  return status;
}
