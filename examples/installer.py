#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
"""The first step of a GTK installer written in Python.

The configuration is retrieved without blocking the window, a progress bar shows the share of
the file received, Cancel stops the retrieval, and a dialog says why when the file cannot be had
(kiv-ui's dialog takes a printf() format, which Python cannot call: GTK's own does the same).

    python3 installer.py [--close-after MS]

It prints the last words of its status line, and exits with 0 once the configuration was
retrieved and 1 otherwise. With --close-after, the error dialog and then the window close by
themselves MS milliseconds after the retrieval has ended, so that it can run unattended.
"""
import argparse
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Kiv", "0.1")
from gi.repository import Gio, GLib, Gtk, Kiv  # noqa: E402


class Installer:
    def __init__(self, close_after_ms):
        self.close_after_ms = close_after_ms
        self.exit_status = 1
        self.cancellable = Gio.Cancellable()

        self.window = Gtk.Window(title="Installer")
        self.window.set_default_size(420, -1)
        box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=12, border_width=18)
        self.status = Gtk.Label(label="Retrieving the configuration", xalign=0)
        self.bar = Gtk.ProgressBar()
        self.cancel = Gtk.Button.new_with_mnemonic("_Cancel")
        self.cancel.set_halign(Gtk.Align.END)
        self.cancel.connect("clicked", lambda _button: self.cancellable.cancel())
        for widget in (self.status, self.bar, self.cancel):
            box.add(widget)
        self.window.add(box)
        self.window.connect("destroy", Gtk.main_quit)
        self.window.show_all()

    def start(self):
        # The text messages' callback has no function to let it go, which Python needs for a
        # callback called after this returns: None for it and its data. The byte counts' callback
        # is let go once the retrieval has ended; it needs no data here.
        Kiv.get_configuration_async_with_byte_progress(
            self.cancellable, None, None, self.show_bytes, callback=self.retrieved)

    def show_bytes(self, received, total, _data=None):
        """The bytes received and the announced length, or -1 when the server announced none."""
        if total > 0:
            self.bar.set_fraction(received / total)
        else:
            self.bar.pulse()

    def finish_status(self, text):
        self.status.set_text(text)
        print(text, flush=True)

    def retrieved(self, _source, result, _data=None):
        self.cancel.set_sensitive(False)
        try:
            config = Kiv.get_configuration_finish(result)
            print("The bar stood at %.0f %%" % (100 * self.bar.get_fraction()))
            self.finish_status("Configuration retrieved: %d packages to install"
                               % len(config.install))
            self.exit_status = 0
        except GLib.Error as error:
            if error.matches(Gio.io_error_quark(), Gio.IOErrorEnum.CANCELLED):
                self.finish_status("Cancelled")
            else:
                # The message names the configuration's URL, then says why. An HTTP status is
                # error.code (404); Kiv.HttpError names only the codes below 100.
                self.finish_status("The configuration could not be retrieved")
                print(error.message, flush=True)
                self.show_error(error.message)
        if self.close_after_ms > 0:
            GLib.timeout_add(self.close_after_ms, self.window.destroy)

    def show_error(self, message):
        dialog = Gtk.MessageDialog(transient_for=self.window, message_type=Gtk.MessageType.ERROR,
                                   buttons=Gtk.ButtonsType.CLOSE, text=message)
        if self.close_after_ms > 0:
            GLib.timeout_add(self.close_after_ms,
                             lambda: dialog.response(Gtk.ResponseType.CLOSE) and False)
        dialog.run()
        dialog.destroy()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--close-after", type=int, default=0, metavar="MS",
                        help="close the dialog and the window MS milliseconds after the end")
    arguments = parser.parse_args()
    installer = Installer(arguments.close_after)
    installer.start()
    Gtk.main()
    # A window closed in the middle ends the retrieval too.
    installer.cancellable.cancel()
    return installer.exit_status


if __name__ == "__main__":
    sys.exit(main())
