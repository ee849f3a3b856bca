#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
"""Usage: reference-browser-test.py HTML_DIR

Reads the API reference in headless Chromium as a reader would, served over HTTP on 127.0.0.1
(its search loads index.json, which a browser refuses from a file: URL), and fails when:
- a term of SEARCHES typed into the search box does not list what it should;
- a page of REQUIRED lacks a link it must hold, or words it must say;
- a page, or anything a page links to or loads inside the reference, is not found;
- a link to a type of GLib, GObject or GIO does not lead to that library's online reference;
- a page logs an error in the console.
Exits 77 where Selenium, Chromium or its driver is missing, or Chromium cannot start.
"""
import functools
import http.server
import os
import sys
import tempfile
import threading
from urllib.parse import urldefrag

SKIP = 77
try:
    from selenium import webdriver
    from selenium.common.exceptions import TimeoutException, WebDriverException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("SKIP: Selenium for Python (python3-selenium) is not installed")
    sys.exit(SKIP)

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
LIBRARY_REFERENCES = (
    "https://docs.gtk.org/glib/",
    "https://docs.gtk.org/gobject/",
    "https://docs.gtk.org/gio/",
)
# What typing each term into the search box must list.
SEARCHES = {
    "download": "http_download_file",
    "display_error": "display_error: the error dialog of kiv-ui",
}
# Pages and the links they must hold (pages of the reference, or the online reference of GLib,
# GObject or GIO after the page's script has resolved them), then words they must say. An
# asynchronous call leads to its _finish, to its blocking form and to the GTK page; a failure
# leads to its error domains; the GTK page names kiv-ui and leads to the dialog.
GIO = "https://docs.gtk.org/gio/"
REQUIRED = {
    "func.get_configuration_async.html": (
        ["func.get_configuration_finish.html", "func.get_configuration_full.html",
         "gtk-installer.html", GIO + "class.Cancellable.html"], []),
    "func.http_download_file_async.html": (
        ["func.http_download_file_finish.html", "func.http_download_file.html",
         "gtk-installer.html", "error-dialog.html"], []),
    "func.get_configuration_full.html": (
        ["error.HttpError.html", "error.ConfigError.html", GIO + "error.IOErrorEnum.html",
         "const.CONFIG_URL.html", "func.get_configuration_async.html"], []),
    "func.get_configuration_finish.html": (
        ["func.get_configuration_async.html", "func.get_configuration_full.html",
         GIO + "iface.AsyncResult.html"], []),
    "func.http_download_file.html": (["error.HttpError.html", GIO + "error.IOErrorEnum.html"], []),
    "error.HttpError.html": ([], ["e.code == 404", "ValueError"]),
    "gtk-installer.html": (
        ["error-dialog.html", "error.HttpError.html", "func.get_configuration_finish.html"],
        ["kiv-ui", "libkiv-ui.so", "error.code == 404"]),
    "error-dialog.html": (["gtk-installer.html"], ["kiv-ui", "libkiv-ui.so", "kiv/ui.h"]),
    "overview.html": (["error-dialog.html"], []),
}
# Chromium would otherwise reach out for updates, field trials, safe browsing and the like; the
# host resolver rules leave it nothing but the loopback server even if something slips through.
CHROMIUM_ARGS = [
    "--headless",
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--no-proxy-server",
    "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
]


class Server(http.server.ThreadingHTTPServer):
    """Serves a folder on 127.0.0.1 and remembers every request it could not answer."""

    def __init__(self, folder):
        self.failures = []
        handler = functools.partial(self.Handler, directory=folder)
        super().__init__(("127.0.0.1", 0), handler)

    class Handler(http.server.SimpleHTTPRequestHandler):
        def do_GET(self):
            # A browser asks for a site's icon on its own; the reference has none to give.
            if self.path == "/favicon.ico":
                self.send_response(204)
                self.end_headers()
            else:
                super().do_GET()

        def log_request(self, code="-", size="-"):
            if int(code) >= 400:
                self.server.failures.append(f"{self.path}: HTTP {int(code)}")

        def log_message(self, format, *args):
            pass


def start_chromium(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in CHROMIUM_ARGS + [f"--user-data-dir={profile}"]:
        options.add_argument(arg)
    # Chromium's sandbox cannot run as root.
    if os.geteuid() == 0:
        options.add_argument("--no-sandbox")
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)


def console_errors(driver, where):
    return [f"{where}: console: {entry['message']}" for entry in driver.get_log("browser")
            if entry["level"] == "SEVERE"]


def search(driver, term):
    """Types TERM into the search box and returns the names of the results."""
    box = driver.find_element(By.ID, "search-input")
    # The box answers only once the page has loaded the index, which nothing on the page shows:
    # type again until results appear.
    for _ in range(10):
        box.clear()
        box.send_keys(term)
        try:
            links = WebDriverWait(driver, 2).until(
                lambda d: d.find_elements(By.CSS_SELECTOR, "#search-results a"))
            return [link.text for link in links]
        except TimeoutException:
            pass
    return []


def read_every_page(driver, base):
    """Follows every link inside the reference from its front page; returns what is wrong, and
    for each page the links it holds and its text."""
    problems, pages = [], {}
    queue, seen = [base + "index.html"], {base + "index.html"}
    while queue:
        page = queue.pop()
        driver.get(page)
        problems += console_errors(driver, page)
        # After the page has loaded, so its script has resolved the links to other libraries.
        links = driver.execute_script(
            "return Array.from(document.querySelectorAll('a[href]'),"
            " a => [a.href, a.dataset.namespace || ''])")
        # An image that is there but does not load (a broken PNG) shows no size.
        broken = driver.execute_script(
            "return Array.from(document.images).filter(i => i.naturalWidth == 0).map(i => i.src)")
        problems += [f"{page}: the image {src} does not load" for src in broken]
        pages[page] = ({urldefrag(href).url for href, _ in links},
                       driver.find_element(By.TAG_NAME, "body").text)
        for href, namespace in links:
            target = urldefrag(href).url
            if namespace and not target.startswith(LIBRARY_REFERENCES):
                problems.append(f"{page}: the link to a {namespace} type leads to '{href}'")
            elif target.startswith(base) and target not in seen:
                seen.add(target)
                queue.append(target)
    return problems, pages


def check_required(pages, base):
    """What REQUIRED asks of each page, against what read_every_page found there."""
    problems = []
    for name, (links, words) in REQUIRED.items():
        if base + name not in pages:
            problems.append(f"{name} cannot be reached from the front page")
            continue
        held, text = pages[base + name]
        for link in links:
            if (link if link.startswith("https:") else base + link) not in held:
                problems.append(f"{name} has no link to {link}")
        for word in words:
            if word not in text:
                problems.append(f"{name} does not say '{word}'")
    return problems


def main(folder):
    if not (os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)):
        print("SKIP: Chromium or its driver (chromium, chromium-driver) is not installed")
        return SKIP
    server = Server(folder)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_address[1]}/"
    with tempfile.TemporaryDirectory() as profile:
        try:
            driver = start_chromium(profile)
        except WebDriverException as error:
            print(f"SKIP: Chromium cannot start: {error.msg}")
            return SKIP
        try:
            problems = []
            for term, wanted in SEARCHES.items():
                driver.get(base + "index.html")
                names = search(driver, term)
                problems += console_errors(driver, f"the search for '{term}'")
                if wanted not in names:
                    problems.append(f"searching '{term}' finds {names}, not {wanted}")
            found, pages = read_every_page(driver, base)
            problems += found + check_required(pages, base)
        finally:
            driver.quit()
    server.shutdown()
    problems += server.failures
    # A retried search or a file that every page loads would repeat the same complaint.
    problems = list(dict.fromkeys(problems))
    for problem in problems:
        print(f"FAIL: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
