#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
"""Serves one fixed HTTP answer, the file given with its length, over TLS 1.1 only (TLS 1.0 with
--tls1.0) on 127.0.0.1, so that a test can see whether a client takes a file over a protocol
version that no longer protects it. Like the bundled server, it writes the port it listens on to
the ready file once listening, and runs until it is killed."""

import argparse
import os
import socket
import ssl
import sys
import warnings


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cert", required=True, help="PEM certificate (chain) of the server")
    parser.add_argument("--key", required=True, help="PEM private key of the certificate")
    parser.add_argument("--file", required=True, help="the body of every answer")
    parser.add_argument("--port", type=int, default=0, help="0 (the default) picks a free one")
    parser.add_argument("--ready-file", help="once listening, write the port number to it")
    parser.add_argument("--tls1.0", dest="tls1_0", action="store_true",
                        help="TLS 1.0 only instead of TLS 1.1 only")
    return parser.parse_args()


def old_tls_context(arguments):
    # Python warns that these versions are deprecated, which is why they are served here.
    warnings.simplefilter("ignore", DeprecationWarning)
    version = ssl.TLSVersion.TLSv1 if arguments.tls1_0 else ssl.TLSVersion.TLSv1_1
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = version
    context.maximum_version = version
    # OpenSSL 3 refuses anything older than TLS 1.2 at its default security level.
    context.set_ciphers("DEFAULT:@SECLEVEL=0")
    context.load_cert_chain(arguments.cert, arguments.key)
    return context


def answer_one(connection, answer):
    request = b""
    while b"\r\n\r\n" not in request:
        data = connection.recv(4096)
        if not data:
            return
        request += data
    connection.sendall(answer)
    connection.unwrap()  # TLS's closing message, so the end of the answer is certain


def main():
    arguments = parse_arguments()
    context = old_tls_context(arguments)
    with open(arguments.file, "rb") as file:
        body = file.read()
    answer = (b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n"
              b"Connection: close\r\n\r\n" % len(body)) + body

    with socket.create_server(("127.0.0.1", arguments.port)) as listener:
        port = listener.getsockname()[1]
        print(f"old-tls-server: listening on 127.0.0.1 port {port}", file=sys.stderr)
        if arguments.ready_file:
            # Renamed into place, so a reader never sees half a number.
            with open(arguments.ready_file + ".part", "w") as ready:
                ready.write(f"{port}\n")
            os.rename(arguments.ready_file + ".part", arguments.ready_file)
        while True:
            client, _ = listener.accept()
            client.settimeout(10)
            try:
                with context.wrap_socket(client, server_side=True) as connection:
                    answer_one(connection, answer)
            except (OSError, ssl.SSLError) as error:
                print(f"old-tls-server: {error}", file=sys.stderr)
            finally:
                client.close()


if __name__ == "__main__":
    main()
