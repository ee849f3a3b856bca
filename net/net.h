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
 * is valid only during the call: copy it (g_strdup()) to keep it.
 */
typedef void (*ProgressFunc) (const char *message, gpointer user_data);

/**
 * KIV_HTTP_ERROR:
 *
 * The error domain of a download whose request failed; its quark is "HTTP". The error's message
 * is the reason phrase of the status or says what went wrong, and its code is one of:
 *
 * - the HTTP status the server answered with, when it lies outside 200–299 (such as 404);
 * - libsoup's transport statuses, all below 100: 1 cancelled, 2 the host name cannot be
 *   resolved, 3 the proxy's name cannot be resolved, 4 no connection, 5 no connection to the
 *   proxy, 6 TLS failed (an untrusted certificate or one for another host), 7 the connection
 *   broke, or the body was shorter than its announced length, 10 too many redirects;
 * - 8 for a URL that is not an absolute http or https URL, or an answer that cannot be read.
 */
#define KIV_HTTP_ERROR (kiv_http_error_quark ())

/**
 * kiv_http_error_quark:
 *
 * The quark of the %KIV_HTTP_ERROR domain, for bindings that cannot use the macro.
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
 * Downloads @url with a GET request and stores the body at @path, replacing any file there only
 * once the whole body has been written and closed. Certificates are checked against the
 * system's trusted authorities. Blocks the calling thread until the transfer has ended.
 *
 * @progress is told "fetching %s", "saving to %s" and, after each chunk written,
 * "fetched %lu bytes", translated through gettext.
 *
 * On failure @error is set in the %KIV_HTTP_ERROR domain when the request failed, or holds the
 * file system's error when @path cannot be written; the file at @path is then left as it was.
 * The error is the caller's to free.
 *
 * Returns: %TRUE once the body stands at @path, %FALSE with @error set on failure
 */
KIV_PUBLIC gboolean http_download_file (const char *url, const char *path, ProgressFunc progress,
                                        gpointer user_data, GError **error);

G_END_DECLS
