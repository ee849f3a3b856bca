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


if __name__ == "__main__":
    unittest.main(verbosity=2)
