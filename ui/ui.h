/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* ui.h: telling the user of a graphical installer that something failed. */
#pragma once

#include <gtk/gtk.h>

#include "kiv-public.h"

G_BEGIN_DECLS

/**
 * display_error:
 * @parent: (nullable): the window the dialog belongs to
 * @format: a printf() format for the message
 * @...: the format's arguments
 *
 * Shows the message made from @format and its arguments in a modal error dialog with a single
 * Close button, and returns once the user has closed it. What @format produces is shown
 * literally, '%' and '<' included. The caller has initialised GTK and calls this on GTK's
 * thread; it runs a nested main loop.
 */
KIV_PUBLIC void display_error (GtkWindow *parent, const char *format, ...) G_GNUC_PRINTF (2, 3);

G_END_DECLS
