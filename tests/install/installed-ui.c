/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* A graphical installer in miniature: built by the install test against the installed kiv-ui
 * alone. It never initialises GTK and opens no dialog; loading it proves the dynamic linker
 * finds display_error in the installed library. */
#include <kiv/ui.h>

void (*const kiv_display_error) (GtkWindow *, const char *, ...) = display_error;

int main (void)
{
  return kiv_display_error != NULL ? 0 : 1;
}
