// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// The half of the transport that libsoup 2.4 and libsoup 3 share: one GET, its head judged before
// any body is read, its body read to an end that was seen, and nothing else taken. What differs
// between the two libraries is behind soup-private.h.
#include <memory>

#include "soup-private.h"

struct HttpTransport
{
  SoupSession *session;
  bool keep_alive;
  GTlsDatabase *authorities; // the only ones trusted, or NULL for the system's
  GError *distrust;          // why no server can be trusted (the authorities named cannot be read)
};

namespace
{
// The body is read in pieces of at most the size libsoup hands over, so that the progress comes
// as often as it always did.
constexpr gsize piece_size = 8192;

// How long the end of a connection that was asked to close is awaited once the announced length
// has arrived. A server that keeps it open all the same never sends that end; one that sends more
// than it announced has sent it with the body, or a moment after.
constexpr guint end_wait_ms = 500;

// One exchange's own cancellable, cancelled by the caller's and by a refusal of ours, so that a
// refused head never cancels what the caller handed in.
struct Exchange
{
  GCancellable *caller;
  GCancellable *cancellable;
  goffset max_size;
  GTlsDatabase *authorities; // given to each TLS connection before its handshake, when not NULL
  GError *refusal = nullptr;

  void refuse (GError *error)
  {
    if (refusal == nullptr)
      refusal = error;
    else
      g_error_free (error);
    g_cancellable_cancel (cancellable);
  }
};

// The libsoup 2.4 status of each failure that either library reports in one of GIO's domains,
// while the head is awaited and, where that differs, while the body is read. What neither table
// names is an I/O error.
constexpr int any_code = -1;     // in the code column: every code of the domain
constexpr int same_as_head = -2; // as the status in the body: the one while the head is awaited
constexpr struct
{
  GQuark (*domain) ();
  int code;
  int status;
  int status_in_body = same_as_head;
} failures_by_error[] = {
  { g_io_error_quark, G_IO_ERROR_CANCELLED, KIV_HTTP_ERROR_CANCELLED },
  { g_resolver_error_quark, any_code, KIV_HTTP_ERROR_CANT_RESOLVE },
  { g_io_error_quark, G_IO_ERROR_CONNECTION_REFUSED, KIV_HTTP_ERROR_CANT_CONNECT },
  { g_io_error_quark, G_IO_ERROR_HOST_UNREACHABLE, KIV_HTTP_ERROR_CANT_CONNECT },
  { g_io_error_quark, G_IO_ERROR_NETWORK_UNREACHABLE, KIV_HTTP_ERROR_CANT_CONNECT },
  { g_io_error_quark, G_IO_ERROR_PROXY_FAILED, KIV_HTTP_ERROR_CANT_CONNECT_PROXY },
  { g_io_error_quark, G_IO_ERROR_PROXY_AUTH_FAILED, KIV_HTTP_ERROR_CANT_CONNECT_PROXY },
  { g_io_error_quark, G_IO_ERROR_PROXY_NEED_AUTH, KIV_HTTP_ERROR_CANT_CONNECT_PROXY },
  { g_io_error_quark, G_IO_ERROR_PROXY_NOT_ALLOWED, KIV_HTTP_ERROR_CANT_CONNECT_PROXY },
  // An untrusted certificate, one for another host, or a connection closed under TLS.
  { g_tls_error_quark, any_code, KIV_HTTP_ERROR_TLS_FAILED },
  // The connection ended before the head was whole, or before the body's end.
  { g_io_error_quark, G_IO_ERROR_PARTIAL_INPUT, KIV_HTTP_ERROR_MALFORMED, KIV_HTTP_ERROR_IO },
};

// Sets error to the KIV_HTTP_ERROR that the library's failure stands for, with libsoup 2.4's
// transport status of the same meaning as its code.
void set_transport_error (SoupMessage *message, const GError *failure, Phase phase, GError **error)
{
  int status = library_failure_status (message, failure, phase);
  if (status < 0)
    {
      status = KIV_HTTP_ERROR_IO;
      for (const auto &entry : failures_by_error)
        if (failure->domain == entry.domain ()
            && (entry.code == any_code || failure->code == entry.code))
          {
            status = phase == Phase::body && entry.status_in_body != same_as_head
                         ? entry.status_in_body
                         : entry.status;
            break;
          }
    }
  g_set_error_literal (error, KIV_HTTP_ERROR, status, failure->message);
}

gboolean too_large (goffset max_size, GError **error)
{
  g_set_error (error, G_IO_ERROR, G_IO_ERROR_MESSAGE_TOO_LARGE,
               "Refused an answer of more than %" G_GINT64_FORMAT " bytes", gint64 (max_size));
  return FALSE;
}

AnswerHead head_of (SoupMessage *message)
{
  SoupMessageHeaders *headers = response_headers_of (message);
  return { status_of (message),
           soup_message_headers_get_list (headers, "Content-Length"),
           soup_message_headers_get_list (headers, "Content-Encoding"),
           soup_message_headers_get_one (headers, "Location"),
           soup_message_headers_get_one (headers, "Transfer-Encoding"),
           soup_message_headers_get_list (headers, "Connection"),
           soup_message_get_http_version (message) == SOUP_HTTP_1_0 };
}

// Each head, redirects' included, is judged before its body is read: a refused answer costs no
// body, and a refused redirect is never followed.
void judge_head (SoupMessage *message, gpointer data)
{
  auto *exchange = static_cast<Exchange *> (data);
  AnswerHead head = head_of (message);
  g_autofree char *url = url_of (message);
  g_autofree char *target
      = head.location != nullptr ? redirect_target (url, head.location) : nullptr;
  head.redirect_target = target;
  GError *refusal = nullptr;
  if (!check_answer_head (url, head, &refusal))
    exchange->refuse (refusal);
  else if (exchange->max_size >= 0 && head.status >= 200 && head.status <= 299
           && content_length_of (head) > exchange->max_size)
    {
      too_large (exchange->max_size, &refusal);
      exchange->refuse (refusal);
    }
}

// libsoup lets a TLS connection end without TLS's closing message, which is the one end of the
// connection that nobody on the path can fake. Versions before TLS 1.2 are refused once the
// handshake shows which one was agreed: their weaknesses let someone on the path in. A transport
// with authorities of its own gives them to the connection here, before the handshake checks the
// server's certificate.
void watch_tls (SoupMessage *, GSocketClientEvent event, GIOStream *connection, gpointer data)
{
  if (!G_IS_TLS_CONNECTION (connection))
    return;
  auto *tls = G_TLS_CONNECTION (connection);
  auto *exchange = static_cast<Exchange *> (data);
  if (event == G_SOCKET_CLIENT_TLS_HANDSHAKING)
    {
      g_tls_connection_set_require_close_notify (tls, TRUE);
      if (exchange->authorities != nullptr)
        g_tls_connection_set_database (tls, exchange->authorities);
    }
  if (event != G_SOCKET_CLIENT_TLS_HANDSHAKED)
    return;
  const GTlsProtocolVersion version = g_tls_connection_get_protocol_version (tls);
  if (version == G_TLS_PROTOCOL_VERSION_TLS_1_2 || version == G_TLS_PROTOCOL_VERSION_TLS_1_3)
    return;
  exchange->refuse (
      g_error_new (KIV_HTTP_ERROR, KIV_HTTP_ERROR_TLS_FAILED,
                   "Refused a connection that agreed on %s: TLS 1.2 or later is required",
                   version == G_TLS_PROTOCOL_VERSION_TLS_1_0   ? "TLS 1.0"
                   : version == G_TLS_PROTOCOL_VERSION_TLS_1_1 ? "TLS 1.1"
                   : version == G_TLS_PROTOCOL_VERSION_SSL_3_0 ? "SSL 3.0"
                                                               : "an unknown TLS version"));
}

// What the exchange ended with, once the library gave up: the caller's cancellation, our own
// refusal, or the library's failure.
void set_failure (const Exchange &exchange, SoupMessage *message, GError *failure, Phase phase,
                  GError **error)
{
  if (g_cancellable_set_error_if_cancelled (exchange.caller, error))
    return;
  if (exchange.refusal != nullptr)
    g_propagate_error (error, g_error_copy (exchange.refusal));
  else
    set_transport_error (message, failure, phase, error);
}

gboolean wake_when_readable (GObject *, gpointer woken)
{
  *static_cast<bool *> (woken) = true;
  return G_SOURCE_REMOVE;
}

gboolean wake_when_late (gpointer woken)
{
  *static_cast<bool *> (woken) = true;
  return G_SOURCE_REMOVE;
}

// Reads one byte of stream, waiting for it at most end_wait_ms: 1 for a byte, 0 for the end of
// the stream, -1 when the stream failed, was cancelled, sent nothing in time, or cannot be waited
// on with a bound. Bytes that have already arrived are read at once.
gssize read_byte_soon (GInputStream *stream, char *byte, GCancellable *cancellable)
{
  if (!G_IS_POLLABLE_INPUT_STREAM (stream)
      || !g_pollable_input_stream_can_poll (G_POLLABLE_INPUT_STREAM (stream)))
    return -1;
  auto *pollable = G_POLLABLE_INPUT_STREAM (stream);
  const gint64 deadline = g_get_monotonic_time () + end_wait_ms * G_TIME_SPAN_MILLISECOND;
  g_autoptr (GMainContext) context = g_main_context_new ();
  while (true)
    {
      g_autoptr (GError) failure = nullptr;
      const gssize n
          = g_pollable_input_stream_read_nonblocking (pollable, byte, 1, cancellable, &failure);
      if (n >= 0)
        return n;
      const gint64 left = deadline - g_get_monotonic_time ();
      if (!g_error_matches (failure, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK) || left <= 0)
        return -1;
      // Whichever comes first: the stream can be read (or is cancelled), or the time is up.
      bool woken = false;
      g_autoptr (GSource) readable = g_pollable_input_stream_create_source (pollable, cancellable);
      g_autoptr (GSource) late = g_timeout_source_new (guint (left / 1000) + 1);
      g_source_set_callback (readable, G_SOURCE_FUNC (wake_when_readable), &woken, nullptr);
      g_source_set_callback (late, wake_when_late, &woken, nullptr);
      g_source_attach (readable, context);
      g_source_attach (late, context);
      while (!woken)
        g_main_context_iteration (context, TRUE);
      g_source_destroy (readable);
      g_source_destroy (late);
    }
}

// The library stops reading at the announced length and drops what follows with the connection.
// On a connection that ends with the answer, whatever follows the body belongs to the answer: a
// server that sends more than it announced, so that the first bytes alone make another file, is
// refused. A connection the request asked to close is such a connection whatever the answer says
// (a server that keeps it all the same has nothing more to send on it). The connection's stream
// lies beneath the body's (each stream of the library's reads from the one below it, the lowest
// keeping what was read ahead), so it is read there: what has arrived at once, and then up to its
// end for a short while at most, since a server that keeps the connection never ends it. On a
// connection kept for another request, what follows would be the next answer: it is not looked at.
bool check_nothing_follows (GInputStream *body, const AnswerHead &head, bool keep_alive,
                            GCancellable *cancellable, GError **error)
{
  if (keep_alive && !ends_connection (head, false))
    return true;
  GInputStream *connection = body;
  while (G_IS_FILTER_INPUT_STREAM (connection)
         && G_IS_FILTER_INPUT_STREAM (
             g_filter_input_stream_get_base_stream (G_FILTER_INPUT_STREAM (connection))))
    connection = g_filter_input_stream_get_base_stream (G_FILTER_INPUT_STREAM (connection));
  char byte;
  if (connection == body || read_byte_soon (connection, &byte, cancellable) <= 0)
    return true; // the end, a connection that failed after the whole body, or no end in sight
  g_set_error_literal (error, KIV_HTTP_ERROR, KIV_HTTP_ERROR_MALFORMED,
                       "Body longer than announced: more bytes follow its Content-Length");
  return false;
}

// Reads the body to its end, handing each piece to sink as it arrives, and what follows it where
// that can be seen. *out_length is how much was handed over.
bool read_body (SoupMessage *message, GInputStream *body, const Exchange &exchange,
                const AnswerHead &head, bool keep_alive, BodySink &sink, goffset *out_length,
                GError **error)
{
  const goffset announced = content_length_of (head);
  if (!sink.begin (announced, error))
    return false;
  const std::unique_ptr<char[]> piece (new char[piece_size]);
  goffset &received = *out_length;
  while (true)
    {
      if (received == announced
          && !check_nothing_follows (body, head, keep_alive, exchange.cancellable, error))
        return false;
      g_autoptr (GError) failure = nullptr;
      const gssize n
          = g_input_stream_read (body, piece.get (), piece_size, exchange.cancellable, &failure);
      if (n < 0)
        {
          set_failure (exchange, message, failure, Phase::body, error);
          return false;
        }
      if (n == 0)
        return true;
      received += n;
      if (exchange.max_size >= 0 && received > exchange.max_size)
        return too_large (exchange.max_size, error);
      // A sink that takes a while (a slow disk) must not hold up a cancellation.
      if (g_cancellable_set_error_if_cancelled (exchange.caller, error)
          || !sink.take ({ piece.get (), gsize (n) }, error))
        return false;
    }
}

} // namespace

SoupMessage *refuse_url (const char *url, GError **error)
{
  g_set_error (error, KIV_HTTP_ERROR, KIV_HTTP_ERROR_MALFORMED,
               "Cannot download %s: not an absolute http or https URL",
               url != nullptr ? url : "(null)");
  return nullptr;
}

void HttpTransportFree::operator() (HttpTransport *transport) const
{
  g_object_unref (transport->session);
  g_clear_object (&transport->authorities);
  g_clear_error (&transport->distrust);
  g_free (transport);
}

HttpTransportPtr http_transport_new (bool keep_alive, const char *authorities)
{
  // GLib deadlocks when one thread registers GTask (which takes the type lock for its interface)
  // while another runs a libsoup class initialiser, which holds that lock and asks for GTask:
  // threads that make their first transports at once, in a process that has made no task yet, met
  // it. Registered here first, GTask is whole before any of this thread's libsoup classes is.
  g_type_ensure (G_TYPE_TASK);
  // A plain session: libsoup follows redirects, checks certificates against the system's
  // trusted authorities and asks the system for proxies. With authorities of its own, the session
  // has no database at all, and each connection is given those authorities before its handshake
  // (watch_tls): a session given a database reads the system's store all the same (libsoup 2.4
  // compares the two), which is most of the cost of setting up TLS. (libsoup 3 makes each
  // connection without a database, and glib-networking then reads the system's store for it;
  // what the handshake trusts is still only the authorities given.) A connection that somehow
  // missed them has no authority to trust, so it fails; a file that cannot be read fails every
  // request before it is made.
  auto *transport = g_new0 (HttpTransport, 1);
  transport->keep_alive = keep_alive;
  if (authorities == nullptr)
    {
      transport->session = soup_session_new ();
      return HttpTransportPtr (transport);
    }
  g_autoptr (GError) failure = nullptr;
  transport->authorities = g_tls_file_database_new (authorities, &failure);
  if (transport->authorities == nullptr)
    transport->distrust
        = g_error_new (KIV_HTTP_ERROR, KIV_HTTP_ERROR_TLS_FAILED,
                       "Cannot read the trusted authorities %s: %s", authorities, failure->message);
  transport->session = soup_session_new_with_options ("tls-database", nullptr, nullptr);
  return HttpTransportPtr (transport);
}

gboolean http_transport_get (HttpTransport *transport, const char *url,
                             const DownloadControl &control, BodySink &sink, GError **error)
{
  if (g_cancellable_set_error_if_cancelled (control.cancellable, error))
    return FALSE;
  if (transport->distrust != nullptr)
    {
      g_propagate_error (error, g_error_copy (transport->distrust));
      return FALSE;
    }
  g_autoptr (SoupMessage) message = new_get_message (url, transport->keep_alive, error);
  if (message == nullptr)
    return FALSE;

  g_autoptr (GCancellable) cancellable = g_cancellable_new ();
  Exchange exchange{ control.cancellable, cancellable, control.max_size, transport->authorities };
  const gulong forward
      = control.cancellable == nullptr
            ? 0
            : g_cancellable_connect (control.cancellable,
                                     G_CALLBACK (+[] (GCancellable *, gpointer own) {
                                       g_cancellable_cancel (G_CANCELLABLE (own));
                                     }),
                                     cancellable, nullptr);
  g_signal_connect (message, "got-headers", G_CALLBACK (judge_head), &exchange);
  g_signal_connect (message, "network-event", G_CALLBACK (watch_tls), &exchange);

  g_autoptr (GError) failure = nullptr;
  g_autoptr (GInputStream) body
      = soup_session_send (transport->session, message, cancellable, &failure);
  bool ok = body != nullptr && exchange.refusal == nullptr;
  if (!ok)
    set_failure (exchange, message, failure, Phase::head, error);

  const AnswerHead head = head_of (message);
  const bool successful = SOUP_STATUS_IS_SUCCESSFUL (head.status);
  const bool has_body = successful && head.status != SOUP_STATUS_NO_CONTENT;
  if (ok && has_body && head.transfer_encoding != nullptr)
    {
      g_set_error_literal (error, KIV_HTTP_ERROR, KIV_HTTP_ERROR_IO, transfer_coding_refusal);
      ok = false;
    }
  goffset length = 0;
  if (ok && has_body)
    ok = read_body (message, body, exchange, head, transport->keep_alive, sink, &length, error);
  else if (ok && successful)
    ok = sink.begin (0, error);
  ok = ok && check_answer (head, reason_of (message), length, error);

  g_signal_handlers_disconnect_by_data (message, &exchange);
  if (forward != 0)
    g_cancellable_disconnect (control.cancellable, forward);
  g_clear_error (&exchange.refusal);
  return ok;
}
