// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// download-private.h: what the modules below net/ may use to download (config/ for the
// configuration and its signature, kiv-config-lint for a FILE given as a URL), and what
// http_download_file is made of: the transport, which fetches an answer and vouches that its body
// is whole, and the downloads built on it. Never installed.
#pragma once

#include <memory>
#include <string_view>

#include <gio/gio.h>

#include "common-private.h"
#include "net.h"

// How far a download may go, and whom it tells what it does.
struct DownloadControl
{
  GCancellable *cancellable
      = nullptr;                   // once cancelled, the download ends with G_IO_ERROR_CANCELLED
  goffset max_size = -1;           // a longer body is refused; -1 sets no bound
  ProgressFunc progress = nullptr; // told what the download does, as http_download_file says
  gpointer user_data = nullptr;
  // Where set, told of each piece written in place of progress (with user_data): its "fetched"
  // message, the bytes written so far and the length the answer announced, or -1.
  void (*fetched) (const char *message, goffset received, goffset total, gpointer user_data)
      = nullptr;
  // A PEM file of the only certificate authorities a server may be certified by, for the
  // transport the download is made on (http_transport_new); NULL: the system's trusted ones.
  const char *authorities = nullptr;
  // Where set, asked (with commit_data) at the last moment before files are put in place: FALSE,
  // with error set, leaves them as they were. A caller that answers its own caller's cancellation
  // before the download can see it shuts this door in the same step, so that nothing changes after
  // its answer.
  gboolean (*may_commit) (gpointer commit_data, GError **error) = nullptr;
  gpointer commit_data = nullptr;
};

// The last check before a download's files are put in place: FALSE, with error set, once
// control's cancellable is cancelled or its may_commit refuses.
gboolean download_may_commit (const DownloadControl &control, GError **error);

// The HTTP library's side of a download (transport.cpp, with soup2.cpp or soup3.cpp). What it
// guarantees is that a body is declared whole only when its end was seen, as its Content-Length
// or the end of the connection (TLS closed as TLS says), and never decoded. One transport keeps
// its connections for several downloads.
struct HttpTransport;
struct HttpTransportFree
{
  void operator() (HttpTransport *transport) const;
};
using HttpTransportPtr = std::unique_ptr<HttpTransport, HttpTransportFree>;

// Without keep_alive, every request asks the server to close the connection after its answer,
// and bytes after a body's announced length are refused as part of a body longer than announced.
// With keep_alive, connections are kept for the next download of the transport: quicker for a
// second file from the same server. Bytes after a body's announced length are then not looked
// at, unless the answer says it closes the connection (they would start the next answer), so only
// a caller that checks the body by other means (a signature) asks for it. With authorities, a PEM
// file, servers are checked against the authorities it holds and no others, never the system's; a
// file that cannot be read fails every https download of the transport with
// KIV_HTTP_ERROR_TLS_FAILED.
HttpTransportPtr http_transport_new (bool keep_alive = false, const char *authorities = nullptr);

// Where the transport puts a body as it arrives. Nothing it is handed is whole until
// http_transport_get has returned TRUE.
class BodySink
{
public:
  virtual ~BodySink () = default;
  // The head of a successful answer was taken and its body follows (none for a 204), announced
  // as this long (-1: unknown). Called once, before any piece.
  virtual gboolean begin (goffset announced, GError **error) = 0;
  // The next piece of the body, as the library handed it over.
  virtual gboolean take (std::string_view piece, GError **error) = 0;
};

// Sends a GET for url and hands the body to sink as it arrives, at most control.max_size bytes.
// Returns FALSE with an "HTTP" error unless the answer passed check_answer_head and check_answer
// (a body cut short or longer than announced shows only once its pieces were handed over); with
// G_IO_ERROR_CANCELLED once control.cancellable is cancelled, with G_IO_ERROR_MESSAGE_TOO_LARGE for
// a longer body (as soon as its Content-Length says so, or its bytes do), and with whatever sink
// failed with.
gboolean http_transport_get (HttpTransport *transport, const char *url,
                             const DownloadControl &control, BodySink &sink, GError **error);

// Downloads url into a new staging file beside path, reporting progress as http_download_file
// does; the caller commits the file or drops it. out_body, when given, receives the bytes written
// (so that a caller need not read the file back). Returns nullptr with error set on failure.
std::unique_ptr<StagedFile> download_staged (HttpTransport *transport, const char *url,
                                             const char *path, const DownloadControl &control,
                                             GBytes **out_body, GError **error);

// Downloads url into memory, at most control.max_size bytes, with no progress reports. Returns the
// whole body, or NULL with error set.
GBytes *download_bytes (HttpTransport *transport, const char *url, const DownloadControl &control,
                        GError **error);
