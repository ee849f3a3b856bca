/* net.h: fetching one file over HTTP or HTTPS into a local path. */
#pragma once

#include <glib.h>

#include "kiv-public.h"

G_BEGIN_DECLS

/* Told what a long operation is doing. The message belongs to the caller of the callback and
 * is valid only during the call. */
typedef void (*ProgressFunc) (const char *message, gpointer user_data);

/* Downloads url (an absolute http or https URL) with a GET request and stores the body at path.
 * A body is taken only once its end has been seen (its Content-Length reached, or the connection
 * closed, over TLS with TLS's own closing message), and it is stored as sent, never decoded. It
 * is written to a private staging file beside path (".NAME.kiv-part-XXXXXX"), flushed to disk and
 * renamed over path in one step, keeping the permission bits of the file it replaces; staging
 * files that killed runs left in that folder are removed. Certificates are checked against the
 * system's trusted authorities; redirects are followed, except from https to http. Blocks until
 * the transfer has ended. A 204 answer stores an empty file.
 * progress may be NULL; it is told "fetching %s", "saving to %s" and "fetched %lu bytes" after
 * each chunk written (translated through gettext); user_data is handed to every progress call.
 * Returns FALSE with error set on failure, and the file at path is then left as it was. error is
 * the file system's (G_IO_ERROR) when path cannot be written, and otherwise of domain "HTTP" with
 * one of these codes:
 *   an HTTP status outside 200-299, or libsoup's transport status below 100 (such as
 *     SOUP_STATUS_CANT_RESOLVE, or SOUP_STATUS_SSL_FAILED when a body that ends with its
 *     connection ends without TLS's closing message), with the reason phrase as message;
 *   the redirect's own status (a 3xx such as 301 or 302) for a redirect from https to http,
 *     with the refused URL in the message;
 *   206 (SOUP_STATUS_PARTIAL_CONTENT) for a partial answer, since no range was asked for;
 *   406 (SOUP_STATUS_NOT_ACCEPTABLE) for a body in a content coding such as gzip;
 *   7 (SOUP_STATUS_IO_ERROR) for a body whose end was not seen: shorter than its
 *     Content-Length, cut off, or sent in a transfer coding (chunked) that the request excludes;
 *   8 (SOUP_STATUS_MALFORMED) for a URL that cannot be requested, an answer libsoup cannot
 *     parse, and an answer whose Content-Length is negative, invalid, given twice differently
 *     or exceeded by its body. */
KIV_PUBLIC gboolean http_download_file (const char *url, const char *path, ProgressFunc progress,
                                        gpointer user_data, GError **error);

G_END_DECLS
