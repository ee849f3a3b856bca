// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// net-private.h: the pieces behind http_download_file, shared by net/, config/ and their tests,
// never installed. A download is three separable steps: the transport fetches an answer and
// vouches that its body is whole, the checks say which answers are acceptable, and a staged file
// takes the body and puts it in place only when told to.
#pragma once

#include <memory>
#include <string_view>

#include <gio/gio.h>

#include "common-private.h"
#include "net.h"

// A new file being written in the directory of its destination, private (0600) until it is
// committed. Until then the destination is untouched; dropping the object discards the file.
class StagedFile
{
public:
  // Makes the staging file beside destination, after removing the staging files that killed
  // runs left in that directory. Returns nullptr with a G_IO_ERROR when it cannot be made.
  static std::unique_ptr<StagedFile> create (const char *destination, GError **error);

  ~StagedFile ();
  StagedFile (const StagedFile &) = delete;
  StagedFile &operator= (const StagedFile &) = delete;

  // The staging file, for reading what was written before it is committed.
  const char *path () const { return path_; }

  const char *destination () const { return destination_; }

  gboolean write (std::string_view data, GError **error);

  // Gives the file the permission bits of the file it replaces (or those of a new file) and
  // flushes it to the disk: what can fail before anything changes. On failure the file is
  // discarded.
  gboolean prepare (GError **error);

  // Prepares the file if that is not done yet, and renames it over the destination. On failure the
  // file is discarded and the destination left as it was.
  gboolean commit (GError **error);

private:
  StagedFile (char *path, char *destination, UniqueFd fd);
  void discard ();

  char *path_;
  char *destination_;
  UniqueFd fd_; // open and locked until the file is committed or discarded
  bool prepared_ = false;
};

// The head of an answer as it arrived. Each header holds all its values in the order they came,
// joined by ", " (as libsoup lists them), or is NULL when absent.
struct AnswerHead
{
  guint status = 0;
  const char *content_length = nullptr;
  const char *content_encoding = nullptr;
  const char *location = nullptr;
  const char *transfer_encoding = nullptr;
  const char *connection = nullptr;
  bool http_1_0 = false; // the exchange is HTTP/1.0: the answer's version, or the request's
};

// The length a head announces for its body, or -1 when it announces none that can be read.
goffset content_length_of (const AnswerHead &head);

// Whether the connection ends with this answer, as HTTP says it does: when the answer says close,
// and otherwise, unless the answer asks to keep it alive, when the exchange is HTTP/1.0 or the
// request asked to close it.
bool ends_connection (const AnswerHead &head, bool asked_to_close);

// Judges the head of an answer to a plain GET of url, before its body is read. Refuses a redirect
// from https to http, a partial answer, a content coding other than identity, and a
// Content-Length that is not one non-negative number. Returns FALSE with an "HTTP" error then.
gboolean check_answer_head (const char *url, const AnswerHead &head, GError **error);

// Judges an answer whose transfer has ended and whose head passed check_answer_head: a status
// outside 200 to 299 is an error with the status as code and reason as message; a body shorter than
// its Content-Length is cut short. A 204 is judged without looking for a body.
gboolean check_answer (const AnswerHead &head, const char *reason, goffset body_length,
                       GError **error);

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
};

// The HTTP library's side of a download (transport.cpp, with soup2.cpp or soup3.cpp). What it
// guarantees is that an answer reaches the caller only when its body's end was seen, as its
// Content-Length or the end of the connection (TLS closed as TLS says), and never decoded. One
// transport keeps its connections for several downloads.
struct HttpTransport;
struct HttpTransportFree
{
  void operator() (HttpTransport *transport) const;
};
using HttpTransportPtr = std::unique_ptr<HttpTransport, HttpTransportFree>;

// With keep_alive, connections are kept for the next download of the transport: quicker for a
// second file from the same server. Bytes after a body's announced length are then not looked
// at (they would start the next answer), so only a caller that checks the body by other means
// (a signature) asks for it. With authorities, a PEM file, servers are checked against the
// authorities it holds and no others, never the system's; a file that cannot be read fails every
// https download of the transport with KIV_HTTP_ERROR_TLS_FAILED.
HttpTransportPtr http_transport_new (bool keep_alive = false, const char *authorities = nullptr);

// A successful answer whose body is whole, received into memory.
struct HttpAnswer;
struct HttpAnswerFree
{
  void operator() (HttpAnswer *answer) const;
};
using HttpAnswerPtr = std::unique_ptr<HttpAnswer, HttpAnswerFree>;

// Sends a GET for url and waits for the whole answer, at most control.max_size bytes of body.
// Returns nullptr with an "HTTP" error unless the answer passed check_answer_head and
// check_answer; with G_IO_ERROR_CANCELLED once control.cancellable is cancelled, and with
// G_IO_ERROR_MESSAGE_TOO_LARGE for a longer body (as soon as its Content-Length says so, or its
// bytes do).
HttpAnswerPtr http_transport_get (HttpTransport *transport, const char *url,
                                  const DownloadControl &control, GError **error);

// Calls visit with each piece of the body in the order it arrived, until one call returns
// false; returns false then.
using BodyVisitor = gboolean (*) (std::string_view piece, gpointer data);
bool http_answer_visit_body (const HttpAnswer *answer, BodyVisitor visit, gpointer data);

// The length of the body that the answer's head announced, or -1 when it announced none.
goffset http_answer_announced_length (const HttpAnswer *answer);

// The whole body, taken from the answer, which holds none afterwards.
GBytes *http_answer_take_body (HttpAnswer *answer);

// Downloads url into a new staging file beside path, reporting progress as http_download_file
// does; the caller commits the file or drops it. out_body, when given, receives the bytes written
// (so that a caller need not read the file back). Returns nullptr with error set on failure.
std::unique_ptr<StagedFile> download_staged (HttpTransport *transport, const char *url,
                                             const char *path, const DownloadControl &control,
                                             GBytes **out_body, GError **error);
