// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// The half of the transport that libsoup 2.4 and libsoup 3 share: one GET, its head judged before
// any body is read, its body read to an end that was seen, and nothing else taken. What differs
// between the two libraries is behind soup-private.h.
#include <algorithm>
#include <utility>

#include "soup-private.h"

struct HttpTransport
{
  SoupSession *session;
  bool keep_alive;
  GTlsDatabase *authorities; // the only ones trusted, or NULL for the system's
  GError *distrust;          // why no server can be trusted (the authorities named cannot be read)
};

struct HttpAnswer
{
  GByteArray *body;
  GArray *piece_ends; // of gsize: where each piece the library handed over ends in body
  goffset announced;  // the head's Content-Length, or -1
};

namespace
{
// The body is read in pieces of at most the size libsoup hands over, so that the progress comes
// as often as it always did.
constexpr gsize piece_size = 8192;

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
  const AnswerHead head = head_of (message);
  g_autofree char *url = url_of (message);
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

// The library stops reading at the announced length and drops what follows with the connection.
// On a connection that ends with the answer, whatever follows the body belongs to the answer: a
// server that sends more than it announced, so that the first bytes alone make another file, is
// refused. The connection's stream lies beneath the body's (each stream of the library's reads
// from the one below it, the lowest keeping what was read ahead), so it is read there, up to its
// end. On a connection kept for another request, what follows would be the next answer: it is
// not looked at.
bool check_nothing_follows (GInputStream *body, const AnswerHead &head, bool keep_alive,
                            GCancellable *cancellable, GError **error)
{
  if (!ends_connection (head, !keep_alive))
    return true;
  GInputStream *connection = body;
  while (G_IS_FILTER_INPUT_STREAM (connection)
         && G_IS_FILTER_INPUT_STREAM (
             g_filter_input_stream_get_base_stream (G_FILTER_INPUT_STREAM (connection))))
    connection = g_filter_input_stream_get_base_stream (G_FILTER_INPUT_STREAM (connection));
  char byte;
  if (connection == body || g_input_stream_read (connection, &byte, 1, cancellable, nullptr) <= 0)
    return true; // the end, or a connection that failed after the whole body
  g_set_error_literal (error, KIV_HTTP_ERROR, KIV_HTTP_ERROR_MALFORMED,
                       "Body longer than announced: more bytes follow its Content-Length");
  return false;
}

// Reads the body to its end into answer, and what follows it where that can be seen. The body is
// held in one buffer, which cannot pass 4 GiB: a longer body is refused, never wrapped around.
bool read_body (SoupMessage *message, GInputStream *body, const Exchange &exchange,
                const AnswerHead &head, bool keep_alive, HttpAnswer *answer, GError **error)
{
  const goffset announced = content_length_of (head);
  while (true)
    {
      if (goffset (answer->body->len) == announced
          && !check_nothing_follows (body, head, keep_alive, exchange.cancellable, error))
        return false;
      const gsize old_length = answer->body->len;
      if (old_length > G_MAXUINT - piece_size)
        return too_large (goffset (G_MAXUINT - piece_size), error);
      g_byte_array_set_size (answer->body, guint (old_length + piece_size));
      g_autoptr (GError) failure = nullptr;
      const gssize n = g_input_stream_read (body, answer->body->data + old_length, piece_size,
                                            exchange.cancellable, &failure);
      g_byte_array_set_size (answer->body, guint (old_length + std::max<gssize> (n, 0)));
      if (n < 0)
        {
          set_failure (exchange, message, failure, Phase::body, error);
          return false;
        }
      if (n == 0)
        return true;
      if (exchange.max_size >= 0 && goffset (answer->body->len) > exchange.max_size)
        return too_large (exchange.max_size, error);
      const gsize end = answer->body->len;
      g_array_append_val (answer->piece_ends, end);
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

void HttpAnswerFree::operator() (HttpAnswer *answer) const
{
  if (answer->body != nullptr)
    g_byte_array_unref (answer->body);
  g_array_unref (answer->piece_ends);
  g_free (answer);
}

HttpTransportPtr http_transport_new (bool keep_alive, const char *authorities)
{
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

HttpAnswerPtr http_transport_get (HttpTransport *transport, const char *url,
                                  const DownloadControl &control, GError **error)
{
  if (g_cancellable_set_error_if_cancelled (control.cancellable, error))
    return nullptr;
  if (transport->distrust != nullptr)
    {
      g_propagate_error (error, g_error_copy (transport->distrust));
      return nullptr;
    }
  g_autoptr (SoupMessage) message = new_get_message (url, transport->keep_alive, error);
  if (message == nullptr)
    return nullptr;

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
  HttpAnswerPtr answer (g_new0 (HttpAnswer, 1));
  answer->body = g_byte_array_new ();
  answer->piece_ends = g_array_new (FALSE, FALSE, sizeof (gsize));

  g_autoptr (GError) failure = nullptr;
  g_autoptr (GInputStream) body
      = soup_session_send (transport->session, message, cancellable, &failure);
  bool ok = body != nullptr && exchange.refusal == nullptr;
  if (!ok)
    set_failure (exchange, message, failure, Phase::head, error);

  const AnswerHead head = head_of (message);
  const bool has_body
      = SOUP_STATUS_IS_SUCCESSFUL (head.status) && head.status != SOUP_STATUS_NO_CONTENT;
  if (ok && has_body && head.transfer_encoding != nullptr)
    {
      g_set_error_literal (error, KIV_HTTP_ERROR, KIV_HTTP_ERROR_IO, transfer_coding_refusal);
      ok = false;
    }
  if (ok && has_body)
    ok = read_body (message, body, exchange, head, transport->keep_alive, answer.get (), error);
  ok = ok && check_answer (head, reason_of (message), goffset (answer->body->len), error);
  answer->announced = content_length_of (head);

  g_signal_handlers_disconnect_by_data (message, &exchange);
  if (forward != 0)
    g_cancellable_disconnect (control.cancellable, forward);
  g_clear_error (&exchange.refusal);
  return ok ? std::move (answer) : nullptr;
}

bool http_answer_visit_body (const HttpAnswer *answer, BodyVisitor visit, gpointer data)
{
  gsize start = 0;
  for (guint i = 0; i < answer->piece_ends->len; i++)
    {
      const gsize end = g_array_index (answer->piece_ends, gsize, i);
      if (!visit ({ reinterpret_cast<const char *> (answer->body->data) + start, end - start },
                  data))
        return false;
      start = end;
    }
  return true;
}

goffset http_answer_announced_length (const HttpAnswer *answer)
{
  return answer->announced;
}

GBytes *http_answer_take_body (HttpAnswer *answer)
{
  return g_byte_array_free_to_bytes (std::exchange (answer->body, nullptr));
}
