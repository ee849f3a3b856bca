#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
"""Serves one file at every path with Python's own http.server, its HTTP/1.1 handler and nothing
more: what a configuration author starts to try a file. With --pause-ms, the body goes out in
--pieces pieces with that pause before each one after the first. Like the bundled server, it
writes the port it listens on to the ready file once listening, and runs until it is killed."""

import argparse
import http.server
import os
import sys
import time


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--file", required=True, help="the body of every answer")
    parser.add_argument("--port", type=int, default=0, help="0 (the default) picks a free one")
    parser.add_argument("--ready-file", help="once listening, write the port number to it")
    parser.add_argument("--pieces", type=int, default=1, help="pieces the body is sent in")
    parser.add_argument("--pause-ms", type=int, default=0, help="pause before each later piece")
    return parser.parse_args()


def handler_for(body, pieces, pause):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            size = -(-len(body) // pieces)
            for start in range(0, len(body), size):
                if start > 0:
                    time.sleep(pause)
                self.wfile.write(body[start:start + size])
                self.wfile.flush()

        def log_message(self, *_):
            pass

    return Handler


def main():
    arguments = parse_arguments()
    with open(arguments.file, "rb") as file:
        body = file.read()
    handler = handler_for(body, max(arguments.pieces, 1), arguments.pause_ms / 1000)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", arguments.port), handler)
    if arguments.ready_file:
        # Renamed into place, so a reader never sees half a number.
        with open(arguments.ready_file + ".part", "w") as ready:
            ready.write(f"{server.server_address[1]}\n")
        os.rename(arguments.ready_file + ".part", arguments.ready_file)
    print(f"python-file-server: listening on port {server.server_address[1]}", file=sys.stderr)
    server.serve_forever()


if __name__ == "__main__":
    main()
