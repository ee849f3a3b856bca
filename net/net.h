/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* net.h: fetching one file over HTTP or HTTPS into a local path. */
#pragma once

#include <gio/gio.h>

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
 * KivByteProgressFunc:
 * @received: the bytes of the body received and written so far
 * @total: the length the answer announced (its Content-Length), or -1 when it announced none
 * @user_data: (closure): the data the caller handed over with the callback
 *
 * Told how far a download has come, for a progress bar that shows a fraction: @received divided
 * by @total, when @total is not -1. @received only grows, and once the body is whole it equals
 * @total where one was announced.
 */
typedef void (*KivByteProgressFunc) (goffset received, goffset total, gpointer user_data);

/**
 * KivHttpError:
 * @KIV_HTTP_ERROR_CANCELLED: the HTTP library gave up on the exchange (a call that you cancel
 *   ends with `G_IO_ERROR_CANCELLED` ([error@Gio.IOErrorEnum]) instead)
 * @KIV_HTTP_ERROR_CANT_RESOLVE: the host name cannot be resolved
 * @KIV_HTTP_ERROR_CANT_RESOLVE_PROXY: the proxy's host name cannot be resolved
 * @KIV_HTTP_ERROR_CANT_CONNECT: no connection could be made to the host
 * @KIV_HTTP_ERROR_CANT_CONNECT_PROXY: no connection could be made to the proxy
 * @KIV_HTTP_ERROR_TLS_FAILED: TLS failed: an untrusted certificate, one for another host, a
 *   version older than TLS 1.2, or a body that ends with its connection without TLS's closing
 *   message
 * @KIV_HTTP_ERROR_IO: the body's end was not seen: it is shorter than its Content-Length, cut
 *   off, or sent in the chunked transfer coding, which is never taken
 * @KIV_HTTP_ERROR_MALFORMED: no request can be made from the URL (it is not an absolute http or
 *   https URL), or the answer is broken: it cannot be parsed, its Content-Length is negative,
 *   invalid or given twice differently, a redirect's Location leads to no URL the HTTP library
 *   would follow, or more bytes follow the body than its Content-Length announced on a connection
 *   that ends with the answer (see http_download_file())
 * @KIV_HTTP_ERROR_TOO_MANY_REDIRECTS: the redirects went on too long
 *
 * The codes of the `KIV_HTTP_ERROR` domain below 100, which say why there is no answer to take.
 * They are libsoup 2.4's transport statuses of the same meaning, whichever libsoup the library is
 * built with. Every code of 100 or more is the HTTP status of the answer that was refused:
 *
 * - the status the server answered with, when it lies outside 200–299 (such as 404 or 304),
 *   with its reason phrase as the message;
 * - the redirect's own status (a 3xx such as 301 or 302) for a redirect from https to anything
 *   but https, which is never followed, with the refused URL in the message;
 * - 206 for a partial answer, since no range was asked for;
 * - 406 for a body in a content coding such as gzip, which is never decoded.
 *
 * In Python the domain is `Kiv.HttpError`, and a status is read from the error's `code`, as
 * every [struct@GLib.Error]'s is: `e.code == 404`, or `e.matches(Kiv.HttpError.quark(), 404)`.
 * Only the codes below 100 are members of the enumeration, so `Kiv.HttpError(e.code)` raises
 * `ValueError` for an HTTP status: compare the number.
 */
typedef enum
{
  KIV_HTTP_ERROR_CANCELLED = 1,
  KIV_HTTP_ERROR_CANT_RESOLVE = 2,
  KIV_HTTP_ERROR_CANT_RESOLVE_PROXY = 3,
  KIV_HTTP_ERROR_CANT_CONNECT = 4,
  KIV_HTTP_ERROR_CANT_CONNECT_PROXY = 5,
  KIV_HTTP_ERROR_TLS_FAILED = 6,
  KIV_HTTP_ERROR_IO = 7,
  KIV_HTTP_ERROR_MALFORMED = 8,
  KIV_HTTP_ERROR_TOO_MANY_REDIRECTS = 10,
} KivHttpError;

/**
 * KIV_HTTP_ERROR:
 *
 * The error domain of a download whose request failed or whose answer was refused; its quark is
 * "HTTP", and its codes are those of [error@Kiv.HttpError] or HTTP statuses.
 */
#define KIV_HTTP_ERROR (kiv_http_error_quark ())

/**
 * kiv_http_error_quark:
 *
 * The quark of the `KIV_HTTP_ERROR` domain, for bindings that cannot use the macro: the domain of
 * a download whose request failed or whose answer was refused. [error@Kiv.HttpError] says what its
 * codes mean.
 *
 * Returns: the quark of "HTTP"
 */
KIV_PUBLIC GQuark kiv_http_error_quark (void);

/**
 * KIV_TYPE_HTTP_ERROR:
 *
 * The [alias@GObject.Type] of [error@Kiv.HttpError].
 */
#define KIV_TYPE_HTTP_ERROR (kiv_http_error_get_type ())
KIV_PUBLIC GType kiv_http_error_get_type (void) G_GNUC_CONST;

/**
 * http_download_file:
 * @url: an absolute http or https URL
 * @path: (type filename): where to store the body
 * @progress: (scope call) (nullable) (closure user_data): told what the download is doing
 * @user_data: handed to every call of @progress
 * @error: a place for the error, or %NULL
 *
 * Downloads @url with a GET request and stores the body at @path. Certificates are checked
 * against the system's trusted authorities; redirects are followed, except from https to
 * anything but https. What is judged is the URL the HTTP library follows, as it reads the
 * Location itself, however that is spelled. Blocks the calling thread until the transfer has
 * ended.
 *
 * A body is taken only once its end has been seen (its Content-Length reached, or the
 * connection closed, over TLS with TLS's own closing message), and it is stored as sent, never
 * decoded. The request says "Connection: close", so whatever follows the Content-Length on that
 * connection belongs to this answer: once the announced length has arrived, what else has
 * arrived is looked at, and the end of the connection awaited for half a second at most (a server
 * that keeps the connection all the same never ends it). Bytes beyond the Content-Length are
 * refused with %KIV_HTTP_ERROR_MALFORMED, whatever the answer's Connection header says. The
 * signed retrieval of a build with a keyring (get_configuration()) fetches the file and its
 * signature over one kept connection: there bytes beyond the Content-Length are looked at only
 * when the answer says it closes the connection, since they would otherwise begin the next answer,
 * and the signature vouches for the bytes.
 *
 * The body is written as it arrives, piece by piece, to a private staging file beside @path
 * (".NAME.kiv-part-XXXXXX"), and held in memory no more than a piece at a time. Only once it is
 * known whole is it flushed to disk and renamed over @path in one step, keeping the permission
 * bits of the file it replaces; staging files that killed runs left in that folder are removed.
 * A 204 answer stores an empty file.
 *
 * @progress is told "fetching %s", then "saving to %s" once the answer's head is taken and,
 * after each piece of the body is written, "fetched %lu bytes", translated through gettext: the
 * reports follow the transfer. A body that then turns out cut short, or is refused, may so have
 * shown "saving to" and some "fetched" reports before the failure; the file at @path is still
 * left as it was.
 *
 * On failure @error holds the file system's error (in GIO's [error@Gio.IOErrorEnum] domain,
 * `G_IO_ERROR`) when @path cannot be written, and otherwise one in the [error@Kiv.HttpError]
 * domain (`KIV_HTTP_ERROR`), whose code is the HTTP status or a transport failure and whose
 * message is the reason phrase (such as "Not Found"); the file at @path is then left as it was.
 * The error is the caller's to free.
 *
 * It may be called from any thread, and from several at once.
 *
 * Returns: %TRUE once the body stands at @path, %FALSE with @error set on failure
 */
KIV_PUBLIC gboolean http_download_file (const char *url, const char *path, ProgressFunc progress,
                                        gpointer user_data, GError **error);

/**
 * http_download_file_async:
 * @url: an absolute http or https URL
 * @path: (type filename): where to store the body
 * @cancellable: (nullable): a [class@Gio.Cancellable], or %NULL
 * @progress: (nullable) (type gpointer): told what the download is doing; %NULL from language
 *   bindings
 * @user_data: (nullable): handed to every call of @progress
 * @callback: (scope async) (closure callback_data): called once the download has ended
 * @callback_data: handed to @callback
 *
 * The download of [func@Kiv.http_download_file], without blocking the calling thread: it runs on
 * a worker thread, and @progress (with the same messages, in the same order) and then @callback
 * are called on the thread-default main context of the thread that called this, never on another
 * thread. Call [func@Kiv.http_download_file_finish] from @callback for the result. [Using kiv
 * from a GTK installer](gtk-installer.html) shows the pattern with the configuration.
 *
 * The result says what happened to the file. Cancelling @cancellable ends the download at
 * whatever it is doing (resolving the host name, connecting, the TLS handshake, waiting for the
 * answer, reading its body) with `G_IO_ERROR_CANCELLED` ([error@Gio.IOErrorEnum]), and a call
 * that ends so has left the file at @path byte for byte as it was, with nothing beside it. A
 * download that had already put the new file in place when the cancellation came reports
 * success: the file is then the new one.
 *
 * A relative @path is taken from the current directory at the time of this call, whatever the
 * caller does with its directory later.
 *
 * So that a fast download never holds up the window, its "fetched" reports coalesce: at most one
 * waits on the main context, and a newer total replaces it. Every other message comes, in order,
 * and the last report of the body's length comes before @callback. The blocking
 * [func@Kiv.http_download_file] is told of every piece.
 *
 * Its error has the domain and code that [func@Kiv.http_download_file] gives, and a message that
 * names @url before that call's, as in "https://example.org/file: Not Found", so that it may be
 * shown alone (in [the error dialog](error-dialog.html), say).
 *
 * @progress is called many times and has no function to free @user_data, which language
 * bindings need for such a callback: from them it is always %NULL. They can follow the download
 * with [func@Kiv.http_download_file_async_with_byte_progress].
 */
KIV_PUBLIC void http_download_file_async (const char *url, const char *path,
                                          GCancellable *cancellable, ProgressFunc progress,
                                          gpointer user_data, GAsyncReadyCallback callback,
                                          gpointer callback_data);

/**
 * http_download_file_async_with_byte_progress:
 * @url: an absolute http or https URL
 * @path: (type filename): where to store the body
 * @cancellable: (nullable): a [class@Gio.Cancellable], or %NULL
 * @progress: (nullable) (type gpointer): told what the download is doing; %NULL from language
 *   bindings
 * @user_data: (nullable): handed to every call of @progress
 * @byte_progress: (nullable) (scope notified) (closure byte_data) (destroy byte_destroy): told the
 * bytes received and the length announced, after each piece written
 * @byte_data: handed to every call of @byte_progress
 * @byte_destroy: (nullable): called with @byte_data once the call has ended and
 *   @byte_progress will not be called again, or %NULL
 * @callback: (scope async) (closure callback_data): called once the download has ended
 * @callback_data: handed to @callback
 *
 * [func@Kiv.http_download_file_async], also telling @byte_progress how far the body has come, so
 * that a progress bar can show a fraction. @byte_progress is called on the same main context as
 * @progress, each time together with a "fetched" message, and its reports coalesce the same way:
 * a bar follows the newest total without ever holding up the window. Call
 * [func@Kiv.http_download_file_finish] from @callback for the result.
 */
KIV_PUBLIC void http_download_file_async_with_byte_progress (
    const char *url, const char *path, GCancellable *cancellable, ProgressFunc progress,
    gpointer user_data, KivByteProgressFunc byte_progress, gpointer byte_data,
    GDestroyNotify byte_destroy, GAsyncReadyCallback callback, gpointer callback_data);

/**
 * http_download_file_finish:
 * @result: the [iface@Gio.AsyncResult] handed to the callback of
 *   [func@Kiv.http_download_file_async] or [func@Kiv.http_download_file_async_with_byte_progress]
 * @error: a place for the error, or %NULL
 *
 * The result of a download started with [func@Kiv.http_download_file_async] or
 * [func@Kiv.http_download_file_async_with_byte_progress]; any other result is refused with a
 * critical warning.
 *
 * Returns: %TRUE once the body stands at the path, %FALSE with @error set as for
 *   [func@Kiv.http_download_file], or `G_IO_ERROR_CANCELLED` ([error@Gio.IOErrorEnum])
 */
KIV_PUBLIC gboolean http_download_file_finish (GAsyncResult *result, GError **error);

G_END_DECLS
