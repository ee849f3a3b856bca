# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
"""libkiv.so from Python through its typelib, as an installer written in Python uses it.

callers-test.sh runs this in a sandbox whose release command reports Debian bookworm and whose
configuration server on loopback serves the section that KIV_SECTION holds.
"""
import os
import tempfile
import unittest

import gi

gi.require_version("Kiv", "0.1")
from gi.repository import Gio, GLib, Kiv  # noqa: E402

CONFIG_URL = os.environ["KIV_CONFIG_URL"]


def sign(n):
    return (n > 0) - (n < 0)


class Comparisons(unittest.TestCase):
    # Typed arguments and results: without them "1.10" against "1.9" would compare as 0.
    def test_versions_order_by_sign(self):
        for a, b, want in [
            ("1.10", "1.9", 1),
            ("3.13.0-24-generic", "3.14", -1),
            ("2-rc1", "2:rc1", 0),
            ("", "1", -1),
        ]:
            with self.subTest(a=a, b=b):
                self.assertEqual(sign(Kiv.compare_versions(a, b)), want)
                self.assertEqual(sign(Kiv.compare_versions(b, a)), -want)

    def test_architectures(self):
        for a, b, want in [
            ("x86_64", "amd64", True),
            ("i686", "i386", True),
            ("x86_64", "i386", False),
            ("armv7l", "armv7l", False),
        ]:
            with self.subTest(a=a, b=b):
                self.assertIs(Kiv.architectures_are_equivalent(a, b), want)


class DistroRecord(unittest.TestCase):
    def test_fields_and_kernel(self):
        info = Kiv.get_distro_information()
        self.assertEqual(
            (info.distributor, info.description, info.release, info.codename),
            ("Debian", "Debian GNU/Linux 12 (bookworm)", "12", "bookworm"),
        )
        self.assertEqual(info.get_kernel_release(), os.uname().release)
        self.assertEqual(info.get_machine(), os.uname().machine)


class Download(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.dir.name, "file")

    def tearDown(self):
        self.dir.cleanup()

    def test_body_and_progress(self):
        messages = []
        self.assertTrue(Kiv.http_download_file(CONFIG_URL, self.path, messages.append))
        with open(self.path) as saved:
            body = saved.read()
        self.assertEqual(body, os.environ["KIV_SECTION"])
        self.assertEqual(messages[:2], ["fetching " + CONFIG_URL, "saving to " + self.path])
        self.assertEqual(messages[-1], "fetched %d bytes" % len(body.encode()))

    def test_failures_raise_glib_errors_and_keep_the_old_file(self):
        missing_dir = os.path.join(self.dir.name, "missing", "file")
        http = GLib.quark_to_string(Kiv.http_error_quark())
        io = GLib.quark_to_string(Gio.io_error_quark())
        for url, path, domain, code in [
            (CONFIG_URL.replace("kiv-config.cfg", "missing"), self.path, http, 404),
            ("https://unresolvable.invalid/", self.path, http, 2),
            ("ftp://127.0.0.1/file", self.path, http, 8),
            (CONFIG_URL, missing_dir, io, Gio.IOErrorEnum.NOT_FOUND),
        ]:
            with self.subTest(url=url, path=path):
                with open(self.path, "w") as old:
                    old.write("older copy")
                with self.assertRaises(GLib.Error) as caught:
                    Kiv.http_download_file(url, path, None)
                self.assertEqual((caught.exception.domain, caught.exception.code), (domain, code))
                with open(self.path) as kept:
                    self.assertEqual(kept.read(), "older copy")
        self.assertEqual(http, "HTTP")


class ErrorEnumerations(unittest.TestCase):
    # The domains' codes by name, tied to their quarks, as Python code compares them.
    def test_codes_have_names(self):
        self.assertEqual(
            [(code.value_nick, int(code)) for code in (
                Kiv.HttpError.CANT_RESOLVE, Kiv.HttpError.TLS_FAILED, Kiv.HttpError.MALFORMED,
                Kiv.HttpError.TOO_MANY_REDIRECTS)],
            [("cant-resolve", 2), ("tls-failed", 6), ("malformed", 8), ("too-many-redirects", 10)])
        self.assertEqual(GLib.quark_to_string(Kiv.HttpError.quark()), "HTTP")
        self.assertEqual(
            [int(getattr(Kiv.ConfigError, name)) for name in (
                "NO_SIGNATURE", "BAD_SIGNATURE", "UNKNOWN_KEY", "EXPIRED_KEY", "REVOKED_KEY",
                "EXPIRED_SIGNATURE", "WEAK_DIGEST", "OLDER", "VERIFIER_FAILED",
                "KEYRING_UNREADABLE", "UNREADABLE", "LOCKED")],
            list(range(1, 13)))


class AsyncDownload(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.dir.name, "file")

    def tearDown(self):
        self.dir.cleanup()

    # Runs the download on a main loop; returns what the finish function said, or its error.
    def download(self, url, cancellable=None):
        loop = GLib.MainLoop()
        outcome = {}

        def done(source, result, data):
            try:
                outcome["ok"] = Kiv.http_download_file_finish(result)
            except GLib.Error as error:
                outcome["error"] = error
            outcome["data"] = data
            loop.quit()

        Kiv.http_download_file_async(url, self.path, cancellable, None, None, done, "mine")
        loop.run()
        return outcome

    def test_callback_on_the_loop(self):
        outcome = self.download(CONFIG_URL)
        self.assertEqual((outcome.get("ok"), outcome["data"]), (True, "mine"))
        with open(self.path) as saved:
            self.assertEqual(saved.read(), os.environ["KIV_SECTION"])

    # A progress bar's fraction: the totals rise to the body's length, which was announced, each
    # with the data given; the callback is let go once the call has ended.
    def test_byte_progress(self):
        loop = GLib.MainLoop()
        reports, outcome = [], []

        def done(source, result, data):
            outcome.append(Kiv.http_download_file_finish(result))
            loop.quit()

        def count(received, total, data):
            reports.append((received, total, data))

        Kiv.http_download_file_async_with_byte_progress(
            CONFIG_URL, self.path, None, None, None, count, ("bar",), done, None)
        loop.run()
        self.assertEqual(outcome, [True])
        length = len(os.environ["KIV_SECTION"].encode())
        self.assertEqual(reports[-1], (length, length, "bar"))
        self.assertEqual([r[0] for r in reports], sorted(r[0] for r in reports))

    def test_errors_by_name_and_cancellation(self):
        failed = self.download("https://unresolvable.invalid/")["error"]
        self.assertTrue(failed.matches(Kiv.HttpError.quark(), Kiv.HttpError.CANT_RESOLVE))
        cancellable = Gio.Cancellable()
        cancellable.cancel()
        cancelled = self.download(CONFIG_URL, cancellable)["error"]
        self.assertTrue(cancelled.matches(Gio.io_error_quark(), Gio.IOErrorEnum.CANCELLED))
        self.assertFalse(os.path.exists(self.path))


class Configuration(unittest.TestCase):
    def test_lists_read_as_lists_of_str(self):
        messages = []
        config = Kiv.get_configuration(messages.append)
        self.assertEqual(config.install, ["in-range", "kiv-tools"])
        self.assertEqual(config.sources, ["deb https://repo.example.org/debian bookworm main"])
        self.assertEqual(config.errors, [])  # absent in C
        self.assertEqual(messages[-1], "looking up [Debian bookworm] configuration")
        # The record is kept: a second call does no work and reports nothing.
        messages.clear()
        self.assertEqual(Kiv.get_configuration(messages.append).install, config.install)
        self.assertEqual(messages, [])

    # unittest runs this after the test above (by name): the kept record comes back on the loop.
    def test_then_the_async_call_returns_the_kept_record(self):
        loop = GLib.MainLoop()
        outcome = []

        def done(source, result, data):
            outcome.append(Kiv.get_configuration_finish(result))
            loop.quit()

        Kiv.get_configuration_async(None, None, None, done, None)
        loop.run()
        self.assertEqual(outcome[0].install, ["in-range", "kiv-tools"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
