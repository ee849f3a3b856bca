// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// The libsoup 3 transport of a download: what it takes to see an answer's end for sure, with the
// same codes as the libsoup 2.4 transport.
//
// libsoup 3 always asks in HTTP/1.1, which a server may answer in the chunked transfer coding, and
// it takes a connection that closes at a chunk boundary for the end of a chunked body (when the
// whole answer is read and when its stream is); nothing it shows tells the cut body from a whole
// one. So a chunked answer is refused as a body whose end cannot be seen, as the 2.4 transport
// refuses one: a server that serves a file says its Content-Length. The rest is as there: the
// request asks for "Accept-Encoding: identity" with libsoup's decoder kept off the message, and a
// body is framed by its Content-Length, checked by check_answer, or by the end of the connection,
// which over TLS must be TLS's own closing message.
//
// libsoup 3 reports a failed exchange as a GError; failures_by_error turns it into the status
// libsoup 2.4 gives the same failure, so callers see one set of codes whichever is built.
#include <gio/gio.h>
#include <libsoup/soup.h>

#include "net-private.h"

struct HttpTransport
{
  SoupSession *session;
};

struct HttpAnswer
{
  GPtrArray *pieces; // of GBytes, in the order they arrived
};

namespace
{
// The body is read in pieces of at most the size libsoup 2.4 hands over, so that the progress
// comes as often.
constexpr gsize piece_size = 8192;

constexpr int any_code = -1;      // in the table's code column: every code of the domain
constexpr int answer_status = -1; // as a status: the status of the answer the error came with
constexpr int same_as_head = -2;  // as the status in the body: the one while the head is awaited

// The libsoup 2.4 status of each failure that libsoup 3 reports as a GError, while the head is
// awaited and, where that differs, while the body is read. What it does not name is an I/O error.
constexpr struct
{
  GQuark (*domain) ();
  int code;
  int status;
  int status_in_body = same_as_head;
} failures_by_error[] = {
  { g_io_error_quark, G_IO_ERROR_CANCELLED, http_error_cancelled },
  { g_resolver_error_quark, any_code, http_error_cant_resolve },
  { g_io_error_quark, G_IO_ERROR_CONNECTION_REFUSED, http_error_cant_connect },
  { g_io_error_quark, G_IO_ERROR_HOST_UNREACHABLE, http_error_cant_connect },
  { g_io_error_quark, G_IO_ERROR_NETWORK_UNREACHABLE, http_error_cant_connect },
  { g_io_error_quark, G_IO_ERROR_PROXY_FAILED, http_error_cant_connect_proxy },
  { g_io_error_quark, G_IO_ERROR_PROXY_AUTH_FAILED, http_error_cant_connect_proxy },
  { g_io_error_quark, G_IO_ERROR_PROXY_NEED_AUTH, http_error_cant_connect_proxy },
  { g_io_error_quark, G_IO_ERROR_PROXY_NOT_ALLOWED, http_error_cant_connect_proxy },
  // An untrusted certificate, one for another host, or a connection closed under TLS.
  { g_tls_error_quark, any_code, http_error_tls_failed },
  // The connection ended before the head was whole, or before the body's end.
  { g_io_error_quark, G_IO_ERROR_PARTIAL_INPUT, http_error_malformed, http_error_io },
  { soup_session_error_quark, SOUP_SESSION_ERROR_PARSING, http_error_malformed },
  { soup_session_error_quark, SOUP_SESSION_ERROR_ENCODING, http_error_malformed },
  { soup_session_error_quark, SOUP_SESSION_ERROR_TOO_MANY_REDIRECTS,
    http_error_too_many_redirects },
  { soup_session_error_quark, SOUP_SESSION_ERROR_TOO_MANY_RESTARTS, http_error_too_many_redirects },
  // libsoup 2.4 does not follow a redirect to a URL it cannot request, nor one without a URL:
  // the redirect is the answer.
  { soup_session_error_quark, SOUP_SESSION_ERROR_REDIRECT_BAD_URI, answer_status },
  { soup_session_error_quark, SOUP_SESSION_ERROR_REDIRECT_NO_LOCATION, answer_status },
};

enum class Phase
{
  head,
  body
};

// Sets error to the KIV_HTTP_ERROR that libsoup 2.4 gives the failure libsoup 3 reported.
void set_transport_error (SoupMessage *message, const GError *failure, Phase phase, GError **error)
{
  int status = http_error_io;
  for (const auto &entry : failures_by_error)
    if (failure->domain == entry.domain ()
        && (entry.code == any_code || failure->code == entry.code))
      {
        status = phase == Phase::body && entry.status_in_body != same_as_head ? entry.status_in_body
                                                                              : entry.status;
        break;
      }
  if (status == answer_status)
    status = int (soup_message_get_status (message));
  g_set_error_literal (error, KIV_HTTP_ERROR, status, failure->message);
}

// libsoup 2.4 finds a redirect it would follow malformed when its Location is no URL at all;
// libsoup 3 hands such a redirect back as the answer.
bool has_unreadable_location (SoupMessage *message)
{
  switch (soup_message_get_status (message))
    {
    case SOUP_STATUS_MOVED_PERMANENTLY:
    case SOUP_STATUS_FOUND:
    case SOUP_STATUS_SEE_OTHER:
    case SOUP_STATUS_TEMPORARY_REDIRECT:
    case SOUP_STATUS_PERMANENT_REDIRECT:
      break;
    default:
      return false;
    }
  const char *location
      = soup_message_headers_get_one (soup_message_get_response_headers (message), "Location");
  if (location == nullptr)
    return false;
  g_autoptr (GUri) target = g_uri_parse_relative (soup_message_get_uri (message), location,
                                                  GUriFlags (SOUP_HTTP_URI_FLAGS), nullptr);
  return target == nullptr;
}

// libsoup would send an HTTP request for "ftp://host/" to port 21, or look up an empty host name
// for "file:///"; neither is a request anyone asked for.
SoupMessage *new_get_message (const char *url, GError **error)
{
  g_autoptr (GUri) uri
      = url != nullptr ? g_uri_parse (url, GUriFlags (SOUP_HTTP_URI_FLAGS), nullptr) : nullptr;
  const char *scheme = uri != nullptr ? g_uri_get_scheme (uri) : nullptr;
  const char *host = uri != nullptr ? g_uri_get_host (uri) : nullptr;
  if ((g_strcmp0 (scheme, "http") != 0 && g_strcmp0 (scheme, "https") != 0) || host == nullptr
      || *host == '\0')
    {
      g_set_error (error, KIV_HTTP_ERROR, http_error_malformed,
                   "Cannot download %s: not an absolute http or https URL",
                   url != nullptr ? url : "(null)");
      return nullptr;
    }
  SoupMessage *message = soup_message_new_from_uri (SOUP_METHOD_GET, uri);
  soup_message_disable_feature (message, SOUP_TYPE_CONTENT_DECODER);
  soup_message_headers_replace (soup_message_get_request_headers (message), "Accept-Encoding",
                                "identity");
  return message;
}

AnswerHead head_of (SoupMessage *message)
{
  SoupMessageHeaders *headers = soup_message_get_response_headers (message);
  return { soup_message_get_status (message),
           soup_message_headers_get_list (headers, "Content-Length"),
           soup_message_headers_get_list (headers, "Content-Encoding"),
           soup_message_headers_get_one (headers, "Location") };
}

struct Exchange
{
  GCancellable *cancellable;
  GError *refusal = nullptr;
};

// Each head, redirects' included, is judged before its body is read: a refused answer costs no
// body, and a refused redirect is never followed.
void judge_head (SoupMessage *message, gpointer data)
{
  auto *exchange = static_cast<Exchange *> (data);
  g_autofree char *url = g_uri_to_string (soup_message_get_uri (message));
  if (exchange->refusal == nullptr
      && !check_answer_head (url, head_of (message), &exchange->refusal))
    g_cancellable_cancel (exchange->cancellable);
}

// libsoup lets a TLS connection end without TLS's closing message, which is the one end of the
// connection that nobody on the path can fake.
void require_tls_close (SoupMessage *, GSocketClientEvent event, GIOStream *connection, gpointer)
{
  if (event == G_SOCKET_CLIENT_TLS_HANDSHAKING && G_IS_TLS_CONNECTION (connection))
    g_tls_connection_set_require_close_notify (G_TLS_CONNECTION (connection), TRUE);
}

// Reads body to its end into pieces. Returns false with error set when the end is not reached.
bool read_body (SoupMessage *message, GInputStream *body, GPtrArray *pieces, goffset *out_length,
                GError **error)
{
  *out_length = 0;
  while (true)
    {
      g_autoptr (GError) failure = nullptr;
      g_autoptr (GBytes) piece = g_input_stream_read_bytes (body, piece_size, nullptr, &failure);
      if (piece == nullptr)
        {
          set_transport_error (message, failure, Phase::body, error);
          return false;
        }
      if (g_bytes_get_size (piece) == 0)
        return true;
      *out_length += goffset (g_bytes_get_size (piece));
      g_ptr_array_add (pieces, g_steal_pointer (&piece));
    }
}
} // namespace

void HttpTransportFree::operator() (HttpTransport *transport) const
{
  g_object_unref (transport->session);
  g_free (transport);
}

void HttpAnswerFree::operator() (HttpAnswer *answer) const
{
  g_ptr_array_unref (answer->pieces);
  g_free (answer);
}

HttpTransportPtr http_transport_new (void)
{
  // A plain session: libsoup follows redirects, checks certificates against the system's
  // trusted authorities and asks the system for proxies.
  auto *transport = g_new0 (HttpTransport, 1);
  transport->session = soup_session_new ();
  return HttpTransportPtr (transport);
}

HttpAnswerPtr http_transport_get (HttpTransport *transport, const char *url, GError **error)
{
  g_autoptr (SoupMessage) message = new_get_message (url, error);
  if (message == nullptr)
    return nullptr;

  g_autoptr (GCancellable) cancellable = g_cancellable_new ();
  Exchange exchange{ cancellable };
  g_signal_connect (message, "got-headers", G_CALLBACK (judge_head), &exchange);
  g_signal_connect (message, "network-event", G_CALLBACK (require_tls_close), nullptr);
  g_autoptr (GError) failure = nullptr;
  g_autoptr (GInputStream) body
      = soup_session_send (transport->session, message, cancellable, &failure);
  g_signal_handlers_disconnect_by_data (message, &exchange);
  if (exchange.refusal != nullptr)
    {
      g_propagate_error (error, exchange.refusal);
      return nullptr;
    }
  if (body == nullptr)
    {
      set_transport_error (message, failure, Phase::head, error);
      return nullptr;
    }
  if (has_unreadable_location (message))
    {
      g_set_error_literal (error, KIV_HTTP_ERROR, http_error_malformed, "Invalid Redirect URL");
      return nullptr;
    }

  const AnswerHead head = head_of (message);
  const char *reason = soup_message_get_reason_phrase (message);
  if (reason == nullptr)
    reason = soup_status_get_phrase (head.status);
  const bool has_body
      = SOUP_STATUS_IS_SUCCESSFUL (head.status) && head.status != SOUP_STATUS_NO_CONTENT;
  if (has_body
      && soup_message_headers_get_one (soup_message_get_response_headers (message),
                                       "Transfer-Encoding")
             != nullptr)
    {
      g_set_error_literal (error, KIV_HTTP_ERROR, http_error_io,
                           "Cannot tell whether the body is whole: it came in the chunked "
                           "transfer coding, whose end libsoup 3 does not check");
      return nullptr;
    }

  auto *answer = g_new0 (HttpAnswer, 1);
  answer->pieces
      = g_ptr_array_new_with_free_func (reinterpret_cast<GDestroyNotify> (g_bytes_unref));
  HttpAnswerPtr owned (answer);
  goffset length = 0;
  if (has_body && !read_body (message, body, answer->pieces, &length, error))
    return nullptr;
  if (!check_answer (head, reason, length, error))
    return nullptr;
  return owned;
}

bool http_answer_visit_body (const HttpAnswer *answer, BodyVisitor visit, gpointer data)
{
  for (guint i = 0; i < answer->pieces->len; i++)
    {
      auto *piece = static_cast<GBytes *> (g_ptr_array_index (answer->pieces, i));
      gsize size = 0;
      const auto *bytes = static_cast<const char *> (g_bytes_get_data (piece, &size));
      if (!visit (std::string_view (bytes, size), data))
        return false;
    }
  return true;
}
