/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* net.h: fetching one file over HTTP or HTTPS into a local path. */
#pragma once

#include <glib.h>

#include "kiv-public.h"

G_BEGIN_DECLS

/**
 * ProgressFunc:
 * @message: what the operation is doing now
 * @user_data: (closure): the data the caller handed over with the callback
 *
 * Told what a long operation is doing. The message belongs to the caller of the callback and
 * is valid only during the call: copy it ([func@GLib.strdup]) to keep it.
 */
typedef void (*ProgressFunc) (const char *message, gpointer user_data);

/**
 * KIV_HTTP_ERROR:
 *
 * The error domain of a download whose request failed or whose answer was refused; its quark is
 * "HTTP", and [func@Kiv.http_error_quark] lists its codes.
 */
#define KIV_HTTP_ERROR (kiv_http_error_quark ())

/**
 * kiv_http_error_quark:
 *
 * The quark of the %KIV_HTTP_ERROR domain, for bindings that cannot use the macro: the domain of
 * a download whose request failed or whose answer was refused. The error's message is the reason
 * phrase of the status or says what went wrong, and its code is one of:
 *
 * - the HTTP status the server answered with, when it lies outside 200–299 (such as 404 or
 *   304);
 * - the redirect's own status (a 3xx such as 301 or 302) for a redirect from https to http,
 *   which is refused, with the refused URL in the message;
 * - 206 for a partial answer, since no range was asked for;
 * - 406 for a body in a content coding such as gzip, which is never decoded;
 * - libsoup 2.4's transport statuses, all below 100, whichever libsoup the library is built
 *   with: 1 cancelled, 2 the host name cannot be resolved, 3 the proxy's name cannot be
 *   resolved, 4 no connection, 5 no connection to the proxy, 6 TLS failed (an untrusted
 *   certificate, one for another host, or a body that ends with its connection without TLS's
 *   closing message), 7 the body's end was not seen (shorter than its Content-Length, cut off,
 *   or sent in the chunked transfer coding, which is never taken), 10 too many redirects;
 * - 8 for a URL that is not an absolute http or https URL, an answer that cannot be parsed, and
 *   an answer whose Content-Length is negative, invalid, given twice differently or exceeded by
 *   its body.
 *
 * Returns: the quark of "HTTP"
 */
KIV_PUBLIC GQuark kiv_http_error_quark (void);

/**
 * http_download_file:
 * @url: an absolute http or https URL
 * @path: (type filename): where to store the body
 * @progress: (scope call) (nullable) (closure user_data): told what the download is doing
 * @user_data: handed to every call of @progress
 * @error: a place for the error, or %NULL
 *
 * Downloads @url with a GET request and stores the body at @path. Certificates are checked
 * against the system's trusted authorities; redirects are followed, except from https to http.
 * Blocks the calling thread until the transfer has ended.
 *
 * A body is taken only once its end has been seen (its Content-Length reached, or the
 * connection closed, over TLS with TLS's own closing message), and it is stored as sent, never
 * decoded. It is written to a private staging file beside @path (".NAME.kiv-part-XXXXXX"),
 * flushed to disk and renamed over @path in one step, keeping the permission bits of the file
 * it replaces; staging files that killed runs left in that folder are removed. A 204 answer
 * stores an empty file.
 *
 * @progress is told "fetching %s", "saving to %s" and, after each chunk written,
 * "fetched %lu bytes", translated through gettext.
 *
 * On failure @error holds the file system's error (in the [error@Gio.IOErrorEnum] domain,
 * %G_IO_ERROR) when @path cannot be written, and otherwise one in the %KIV_HTTP_ERROR domain,
 * whose codes [func@Kiv.http_error_quark] lists; the file at @path is then left as it was.
 * The error is the caller's to free.
 *
 * Returns: %TRUE once the body stands at @path, %FALSE with @error set on failure
 */
KIV_PUBLIC gboolean http_download_file (const char *url, const char *path, ProgressFunc progress,
                                        gpointer user_data, GError **error);

G_END_DECLS
