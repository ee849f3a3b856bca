// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Drives the real dialog on an X server (CTest starts a virtual one). display_error only returns
// once the dialog is closed, so a timer set up beforehand finds the dialog among the toplevel
// windows while display_error's nested loop runs, records what it sees and then ends it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "ui.h"

namespace
{
// How the dialog is ended once it has been looked at.
enum class Ending
{
  Answer,             // the user presses Close
  CloseWindow,        // the user closes the window from its frame or with Escape
  DestroyFromOutside, // other code of the caller's destroys every window, say on quit
};

// What the dialog showed while it ran.
struct Seen
{
  std::string text;
  bool has_secondary_text = true;
  bool uses_markup = true;
  bool has_title = true;
  int message_type = -1;
  int buttons = 0;
  bool has_close_response = false;
  GtkWindow *transient_for = nullptr;
  bool modal = false;
  bool screenshot_shows_something = false;
};

struct Watch
{
  explicit Watch (Ending how, std::string screenshot_path = {})
      : ending (how), screenshot (std::move (screenshot_path))
  {
  }

  Ending ending;
  std::string screenshot; // empty: take none
  guint poll_id = 0;
  guint deadline_id = 0;
  GtkWidget *dialog = nullptr;
  bool drawn = false;
  bool found = false;
  bool timed_out = false;
  Seen seen;
};

GtkWidget *find_message_dialog ()
{
  g_autoptr (GList) windows = gtk_window_list_toplevels ();
  for (GList *l = windows; l != nullptr; l = l->next)
    if (GTK_IS_MESSAGE_DIALOG (l->data))
      return GTK_WIDGET (l->data);
  return nullptr;
}

void count_buttons (GtkWidget *widget, gpointer count)
{
  if (GTK_IS_BUTTON (widget))
    ++*static_cast<int *> (count);
  else if (GTK_IS_CONTAINER (widget))
    gtk_container_forall (GTK_CONTAINER (widget), count_buttons, count);
}

// Saves what the X server shows of the dialog, for a person to look at, and tells whether it is
// more than one flat colour: a capture taken before the dialog was drawn would be.
bool save_screenshot (GtkWidget *dialog, const std::string &path)
{
  GdkWindow *window = gtk_widget_get_window (dialog);
  g_autoptr (GdkPixbuf) shot = gdk_pixbuf_get_from_window (
      window, 0, 0, gdk_window_get_width (window), gdk_window_get_height (window));
  if (shot == nullptr)
    return false;
  g_autoptr (GError) error = nullptr;
  if (!gdk_pixbuf_save (shot, path.c_str (), "png", &error, nullptr))
    ADD_FAILURE () << "cannot save " << path << ": " << error->message;

  const guchar *pixels = gdk_pixbuf_read_pixels (shot);
  const int stride = gdk_pixbuf_get_rowstride (shot);
  const int pixel_size = gdk_pixbuf_get_n_channels (shot);
  for (int y = 0; y < gdk_pixbuf_get_height (shot); y++)
    for (int x = 0; x < gdk_pixbuf_get_width (shot); x++)
      if (memcmp (pixels + y * stride + x * pixel_size, pixels, pixel_size) != 0)
        return true;
  return false;
}

void record (GtkWidget *dialog, Seen &seen)
{
  g_autofree char *text = nullptr;
  g_autofree char *secondary_text = nullptr;
  gboolean use_markup = TRUE;
  GtkMessageType type;
  g_object_get (dialog, "text", &text, "secondary-text", &secondary_text, "use-markup", &use_markup,
                "message-type", &type, nullptr);
  seen.text = text != nullptr ? text : "(null)";
  seen.has_secondary_text = secondary_text != nullptr;
  seen.uses_markup = use_markup;
  seen.message_type = type;
  // GTK itself gives message dialogs an empty title rather than none.
  const char *title = gtk_window_get_title (GTK_WINDOW (dialog));
  seen.has_title = title != nullptr && *title != '\0';
  seen.buttons = 0;
  gtk_container_forall (GTK_CONTAINER (dialog), count_buttons, &seen.buttons);
  seen.has_close_response
      = gtk_dialog_get_widget_for_response (GTK_DIALOG (dialog), GTK_RESPONSE_CLOSE) != nullptr;
  seen.transient_for = gtk_window_get_transient_for (GTK_WINDOW (dialog));
  seen.modal = gtk_window_get_modal (GTK_WINDOW (dialog));
}

void end (GtkWidget *dialog, Ending ending)
{
  switch (ending)
    {
    case Ending::Answer:
      gtk_dialog_response (GTK_DIALOG (dialog), GTK_RESPONSE_CLOSE);
      break;
    case Ending::CloseWindow:
      gtk_window_close (GTK_WINDOW (dialog));
      break;
    case Ending::DestroyFromOutside:
      gtk_widget_destroy (dialog);
      break;
    }
}

gboolean note_drawn (GtkWidget *, cairo_t *, gpointer data)
{
  static_cast<Watch *> (data)->drawn = true;
  return FALSE;
}

gboolean poll_for_dialog (gpointer data)
{
  auto *watch = static_cast<Watch *> (data);
  GtkWidget *dialog = find_message_dialog ();
  if (dialog == nullptr)
    return G_SOURCE_CONTINUE;
  if (dialog != watch->dialog)
    {
      // It may have been drawn before this timer saw it, so ask for one more frame to notice.
      watch->dialog = dialog;
      g_signal_connect_after (dialog, "draw", G_CALLBACK (note_drawn), watch);
      gtk_widget_queue_draw (dialog);
      return G_SOURCE_CONTINUE;
    }
  if (!watch->drawn)
    return G_SOURCE_CONTINUE;

  // The frame was finished in an earlier turn of the loop; let the server catch up with it.
  gdk_display_sync (gtk_widget_get_display (dialog));
  watch->found = true;
  record (dialog, watch->seen);
  if (!watch->screenshot.empty ())
    watch->seen.screenshot_shows_something = save_screenshot (dialog, watch->screenshot);
  // The dialog may outlive the watch if display_error fails to destroy it.
  g_signal_handlers_disconnect_by_data (dialog, watch);
  end (dialog, watch->ending);
  watch->poll_id = 0;
  return G_SOURCE_REMOVE;
}

// Answers whatever dialog is open, so a dialog this test cannot recognise still lets
// display_error return and the failure be reported instead of the test hanging.
gboolean give_up (gpointer data)
{
  auto *watch = static_cast<Watch *> (data);
  watch->timed_out = true;
  g_autoptr (GList) windows = gtk_window_list_toplevels ();
  for (GList *l = windows; l != nullptr; l = l->next)
    if (GTK_IS_DIALOG (l->data))
      {
        g_signal_handlers_disconnect_by_data (l->data, watch);
        gtk_dialog_response (GTK_DIALOG (l->data), GTK_RESPONSE_CLOSE);
      }
  watch->deadline_id = 0;
  return G_SOURCE_REMOVE;
}

// Runs show (which calls display_error) with the watch's timers in place.
template <typename Show> void run_watched (Watch &watch, Show show)
{
  watch.poll_id = g_timeout_add (50, poll_for_dialog, &watch);
  watch.deadline_id = g_timeout_add_seconds (20, give_up, &watch);
  show ();
  g_clear_handle_id (&watch.poll_id, g_source_remove);
  g_clear_handle_id (&watch.deadline_id, g_source_remove);
  // A dialog left behind would also be found by the next case's timer, so it goes here.
  GtkWidget *left_behind = find_message_dialog ();
  if (left_behind != nullptr)
    gtk_widget_destroy (left_behind);
  EXPECT_EQ (left_behind, nullptr) << "display_error returned without destroying its dialog";
  ASSERT_FALSE (watch.timed_out) << "no message dialog was found and closed within 20 s";
  ASSERT_TRUE (watch.found);
}

TEST (DisplayError, ShowsTheMessageLiterallyInAPlainErrorDialog)
{
  Watch watch (Ending::Answer, KIV_SCREENSHOT_DIR "/error-dialog.png");
  // The argument holds a conversion and markup of its own: both must reach the screen as typed.
  ASSERT_NO_FATAL_FAILURE (run_watched (watch, [] {
    display_error (nullptr, "Cannot save to %s: the disk is %d%% full", "/srv/<b>100%s</b>", 99);
  }));

  const Seen &seen = watch.seen;
  EXPECT_EQ (seen.text, "Cannot save to /srv/<b>100%s</b>: the disk is 99% full");
  EXPECT_FALSE (seen.uses_markup);
  EXPECT_EQ (seen.message_type, GTK_MESSAGE_ERROR);
  EXPECT_EQ (seen.buttons, 1);
  EXPECT_TRUE (seen.has_close_response);
  EXPECT_FALSE (seen.has_secondary_text);
  EXPECT_FALSE (seen.has_title);
  EXPECT_EQ (seen.transient_for, nullptr);
  EXPECT_TRUE (seen.modal);
  EXPECT_TRUE (seen.screenshot_shows_something) << "blank or missing " << watch.screenshot;
}

TEST (DisplayError, BelongsToItsParentWindow)
{
  GtkWidget *parent = gtk_window_new (GTK_WINDOW_TOPLEVEL);
  gtk_widget_show (parent);
  Watch watch (Ending::Answer);
  run_watched (watch, [parent] { display_error (GTK_WINDOW (parent), "Cannot continue"); });

  EXPECT_EQ (watch.seen.transient_for, GTK_WINDOW (parent));
  EXPECT_EQ (watch.seen.text, "Cannot continue");
  gtk_widget_destroy (parent);
}

TEST (DisplayError, ReturnsHoweverTheDialogEnds)
{
  const struct
  {
    Ending ending;
    const char *how;
  } cases[] = {
    { Ending::Answer, "Close pressed" },
    // The run ends without a response from the buttons; the dialog must still go away.
    { Ending::CloseWindow, "window closed" },
    // The dialog is already destroyed when display_error comes to destroy it.
    { Ending::DestroyFromOutside, "destroyed by other code" },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.how);
      Watch watch (c.ending);
      run_watched (watch, [] { display_error (nullptr, "Error %d", 42); });
    }
}
} // namespace

int main (int argc, char **argv)
{
  testing::InitGoogleTest (&argc, argv);
  if (!gtk_init_check (&argc, &argv))
    {
      fputs ("Cannot open a display; CTest runs this test under xvfb-run.\n", stderr);
      return 1;
    }
  return RUN_ALL_TESTS ();
}
