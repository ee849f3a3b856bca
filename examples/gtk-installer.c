/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* gtk-installer.c: the first step of a GTK installer. The configuration is retrieved without
 * blocking the window, a progress bar shows the share of the file received, Cancel stops the
 * retrieval, and kiv-ui's dialog says why when the file cannot be had.
 *
 *   cc gtk-installer.c $(pkg-config --cflags --libs gtk+-3.0 kiv kiv-ui)
 *   ./a.out [--close-after MS]
 *
 * It prints the last words of its status line, and exits with 0 once the configuration was
 * retrieved and 1 otherwise. With --close-after, the error dialog and then the window close by
 * themselves MS milliseconds after the retrieval has ended, so that it can run unattended. */
#include <gtk/gtk.h>
#include <kiv/config.h>
#include <kiv/ui.h>

typedef struct
{
  GtkWindow *window;
  GtkLabel *status;
  GtkProgressBar *bar;
  GtkWidget *cancel;
  GCancellable *cancellable;
  int close_after_ms;
  int exit_status;
} Installer;

/* What the retrieval is doing, in the back end's words ("fetching https://...", "fetched 8192
 * bytes"), translated as the application's catalogue says. */
static void show_message (const char *message, gpointer user_data)
{
  Installer *installer = user_data;
  gtk_label_set_text (installer->status, message);
}

/* The bytes received so far and the length the server announced, or -1 when it announced none:
 * the bar then pulses rather than guess. */
static void show_bytes (goffset received, goffset total, gpointer user_data)
{
  Installer *installer = user_data;
  if (total > 0)
    gtk_progress_bar_set_fraction (installer->bar, (double) received / (double) total);
  else
    gtk_progress_bar_pulse (installer->bar);
}

static void finish_status (Installer *installer, const char *text)
{
  gtk_label_set_text (installer->status, text);
  g_print ("%s\n", text);
}

/* --close-after: answers the dialog that is open, as a click on Close would. */
static gboolean close_dialogs (gpointer user_data)
{
  GList *windows = gtk_window_list_toplevels ();
  for (GList *l = windows; l != NULL; l = l->next)
    if (GTK_IS_DIALOG (l->data))
      gtk_dialog_response (GTK_DIALOG (l->data), GTK_RESPONSE_CLOSE);
  g_list_free (windows);
  return G_SOURCE_REMOVE;
}

static gboolean close_window (gpointer user_data)
{
  Installer *installer = user_data;
  gtk_widget_destroy (GTK_WIDGET (installer->window));
  return G_SOURCE_REMOVE;
}

static void retrieved (GObject *source, GAsyncResult *result, gpointer user_data)
{
  Installer *installer = user_data;
  g_autoptr (GError) error = NULL;
  const Configuration *config = get_configuration_finish (result, &error);

  gtk_widget_set_sensitive (installer->cancel, FALSE);
  if (config != NULL)
    {
      g_autofree char *text = g_strdup_printf ("Configuration retrieved: %u packages to install",
                                               config->install->len);
      g_print ("The bar stood at %.0f %%\n", 100 * gtk_progress_bar_get_fraction (installer->bar));
      finish_status (installer, text);
      installer->exit_status = 0;
    }
  else if (g_error_matches (error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
    finish_status (installer, "Cancelled");
  else
    {
      finish_status (installer, "The configuration could not be retrieved");
      if (installer->close_after_ms > 0)
        g_timeout_add (installer->close_after_ms, close_dialogs, NULL);
      /* The message names the configuration's URL, then says why: "https://.../kiv-config.cfg:
       * Not Found". It goes in as an argument: it may hold a '%'. */
      g_print ("%s\n", error->message);
      display_error (installer->window, "%s", error->message);
    }
  if (installer->close_after_ms > 0)
    g_timeout_add (installer->close_after_ms, close_window, installer);
}

static void cancel_clicked (GtkButton *button, gpointer user_data)
{
  Installer *installer = user_data;
  g_cancellable_cancel (installer->cancellable);
}

int main (int argc, char **argv)
{
  Installer installer = { .exit_status = 1 };
  const GOptionEntry options[] = {
    { "close-after", 0, 0, G_OPTION_ARG_INT, &installer.close_after_ms,
      "Close the dialog and the window MS milliseconds after the end", "MS" },
    { NULL },
  };
  g_autoptr (GError) error = NULL;
  if (!gtk_init_with_args (&argc, &argv, NULL, options, NULL, &error))
    {
      g_printerr ("%s\n", error->message);
      return 2;
    }

  installer.window = GTK_WINDOW (gtk_window_new (GTK_WINDOW_TOPLEVEL));
  gtk_window_set_title (installer.window, "Installer");
  gtk_window_set_default_size (installer.window, 420, -1);
  GtkWidget *box = gtk_box_new (GTK_ORIENTATION_VERTICAL, 12);
  gtk_container_set_border_width (GTK_CONTAINER (box), 18);
  installer.status = GTK_LABEL (gtk_label_new ("Retrieving the configuration"));
  gtk_label_set_xalign (installer.status, 0);
  gtk_label_set_ellipsize (installer.status, PANGO_ELLIPSIZE_MIDDLE);
  installer.bar = GTK_PROGRESS_BAR (gtk_progress_bar_new ());
  installer.cancel = gtk_button_new_with_mnemonic ("_Cancel");
  gtk_widget_set_halign (installer.cancel, GTK_ALIGN_END);
  gtk_container_add (GTK_CONTAINER (box), GTK_WIDGET (installer.status));
  gtk_container_add (GTK_CONTAINER (box), GTK_WIDGET (installer.bar));
  gtk_container_add (GTK_CONTAINER (box), installer.cancel);
  gtk_container_add (GTK_CONTAINER (installer.window), box);
  g_signal_connect (installer.window, "destroy", G_CALLBACK (gtk_main_quit), NULL);
  g_signal_connect (installer.cancel, "clicked", G_CALLBACK (cancel_clicked), &installer);
  gtk_widget_show_all (GTK_WIDGET (installer.window));

  /* Every callback runs here, on GTK's main loop: GTK may be used in all of them. */
  installer.cancellable = g_cancellable_new ();
  get_configuration_async_with_byte_progress (installer.cancellable, show_message, &installer,
                                              show_bytes, &installer, NULL, retrieved, &installer);
  gtk_main ();
  /* A window closed in the middle ends the retrieval too. */
  g_cancellable_cancel (installer.cancellable);
  g_object_unref (installer.cancellable);
  return installer.exit_status;
}
