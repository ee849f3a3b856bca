/* net.h: fetching one file over HTTP or HTTPS into a local path. */
#pragma once

#include <glib.h>

#include "kiv-public.h"

G_BEGIN_DECLS

/* Told what a long operation is doing. The message belongs to the caller of the callback and
 * is valid only during the call. */
typedef void (*ProgressFunc) (const char *message, gpointer user_data);

/* Downloads url (an absolute http or https URL) with a GET request and stores the body at path,
 * replacing any file there only once the whole body has been written and closed. Certificates
 * are checked against the system's trusted authorities. Blocks until the transfer has ended.
 * progress may be NULL; it is told "fetching %s", "saving to %s" and "fetched %lu bytes" after
 * each chunk written (translated through gettext); user_data is handed to every progress call.
 * Returns FALSE with error set on failure: domain "HTTP" with the HTTP or libsoup status as
 * code for a failed request (SOUP_STATUS_MALFORMED for a URL that cannot be requested,
 * SOUP_STATUS_IO_ERROR for a body shorter than its announced length), or the file system's
 * error when path cannot be written; the file at path is then left as it was. */
KIV_PUBLIC gboolean http_download_file (const char *url, const char *path, ProgressFunc progress,
                                        gpointer user_data, GError **error);

G_END_DECLS
