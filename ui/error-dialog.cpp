// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "ui.h"

#include <cstdarg>

void display_error (GtkWindow *parent, const char *format, ...)
{
  g_return_if_fail (format != nullptr);

  va_list args;
  va_start (args, format);
  g_autofree char *message = g_strdup_vprintf (format, args);
  va_end (args);

  // The message goes in as an argument, never as the format: text from the caller's data, such
  // as a path or a server's reply, may well hold a '%'.
  //
  // GTK drops its own reference when the dialog is destroyed, which other code of the caller's
  // may do while the dialog runs (closing every window on quit, say); ours keeps the destroy
  // below from touching freed memory.
  g_autoptr (GtkWidget) dialog = GTK_WIDGET (g_object_ref (gtk_message_dialog_new (
      parent, GtkDialogFlags (0), GTK_MESSAGE_ERROR, GTK_BUTTONS_CLOSE, "%s", message)));
  gtk_dialog_run (GTK_DIALOG (dialog));
  gtk_widget_destroy (dialog);
}
