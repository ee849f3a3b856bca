// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// The libsoup 2.4 transport of a download: what it takes to see an answer's end for sure.
//
// libsoup 2.4 takes a connection that closes at a chunk boundary for the end of a chunked body,
// and a decoded body has no length to compare, so neither may reach the caller. The request is
// made one that excludes both and is still a plain GET that every server answers: HTTP/1.0, which
// a server must not answer with a transfer coding, and "Accept-Encoding: identity" with libsoup's
// decoder kept off the message. What is left is a body framed by its Content-Length, checked by
// check_answer, or by the end of the connection, which over TLS must be TLS's own closing message.
// A server that sends chunks to an HTTP/1.0 request all the same is refused: where its body ends
// cannot be told.
#include <gio/gio.h>
#include <libsoup/soup.h>

#include "net-private.h"

static_assert (http_error_cancelled == SOUP_STATUS_CANCELLED);
static_assert (http_error_cant_resolve == SOUP_STATUS_CANT_RESOLVE);
static_assert (http_error_cant_resolve_proxy == SOUP_STATUS_CANT_RESOLVE_PROXY);
static_assert (http_error_cant_connect == SOUP_STATUS_CANT_CONNECT);
static_assert (http_error_cant_connect_proxy == SOUP_STATUS_CANT_CONNECT_PROXY);
static_assert (http_error_tls_failed == SOUP_STATUS_SSL_FAILED);
static_assert (http_error_io == SOUP_STATUS_IO_ERROR);
static_assert (http_error_malformed == SOUP_STATUS_MALFORMED);
static_assert (http_error_too_many_redirects == SOUP_STATUS_TOO_MANY_REDIRECTS);

struct HttpTransport
{
  SoupSession *session;
};

struct HttpAnswer
{
  SoupMessage *message;
};

namespace
{
// libsoup would happily send an HTTP request for "ftp://host/" to port 21, or look up an empty
// host name for "file:///"; neither is a request anyone asked for.
SoupMessage *new_get_message (const char *url, GError **error)
{
  g_autoptr (SoupURI) uri = url != nullptr ? soup_uri_new (url) : nullptr;
  if (!SOUP_URI_VALID_FOR_HTTP (uri) || *uri->host == '\0')
    {
      g_set_error (error, KIV_HTTP_ERROR, http_error_malformed,
                   "Cannot download %s: not an absolute http or https URL",
                   url != nullptr ? url : "(null)");
      return nullptr;
    }
  SoupMessage *message = soup_message_new_from_uri (SOUP_METHOD_GET, uri);
  soup_message_set_http_version (message, SOUP_HTTP_1_0);
  soup_message_disable_feature (message, SOUP_TYPE_CONTENT_DECODER);
  soup_message_headers_replace (message->request_headers, "Accept-Encoding", "identity");
  return message;
}

AnswerHead head_of (SoupMessage *message)
{
  SoupMessageHeaders *headers = message->response_headers;
  return { message->status_code, soup_message_headers_get_list (headers, "Content-Length"),
           soup_message_headers_get_list (headers, "Content-Encoding"),
           soup_message_headers_get_one (headers, "Location") };
}

struct Exchange
{
  SoupSession *session;
  GError *refusal = nullptr;
};

// Each head, redirects' included, is judged before its body is read: a refused answer costs no
// body, and a refused redirect is never followed.
void judge_head (SoupMessage *message, gpointer data)
{
  auto *exchange = static_cast<Exchange *> (data);
  g_autofree char *url = soup_uri_to_string (soup_message_get_uri (message), FALSE);
  if (!check_answer_head (url, head_of (message), &exchange->refusal))
    soup_session_cancel_message (exchange->session, message, SOUP_STATUS_CANCELLED);
}

// libsoup lets a TLS connection end without TLS's closing message, which is the one end of the
// connection that nobody on the path can fake.
void require_tls_close (SoupMessage *, GSocketClientEvent event, GIOStream *connection, gpointer)
{
  if (event == G_SOCKET_CLIENT_TLS_HANDSHAKING && G_IS_TLS_CONNECTION (connection))
    g_tls_connection_set_require_close_notify (G_TLS_CONNECTION (connection), TRUE);
}
} // namespace

void HttpTransportFree::operator() (HttpTransport *transport) const
{
  g_object_unref (transport->session);
  g_free (transport);
}

void HttpAnswerFree::operator() (HttpAnswer *answer) const
{
  g_object_unref (answer->message);
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

  Exchange exchange{ transport->session };
  g_signal_connect (message, "got-headers", G_CALLBACK (judge_head), &exchange);
  g_signal_connect (message, "network-event", G_CALLBACK (require_tls_close), nullptr);
  const guint status = soup_session_send_message (transport->session, message);
  g_signal_handlers_disconnect_by_data (message, &exchange);
  if (exchange.refusal != nullptr)
    {
      g_propagate_error (error, exchange.refusal);
      return nullptr;
    }

  if (SOUP_STATUS_IS_SUCCESSFUL (status) && status != SOUP_STATUS_NO_CONTENT
      && soup_message_headers_get_one (message->response_headers, "Transfer-Encoding") != nullptr)
    {
      g_set_error_literal (error, KIV_HTTP_ERROR, http_error_io,
                           "Cannot tell whether the body is whole: a transfer coding in answer "
                           "to an HTTP/1.0 request");
      return nullptr;
    }
  const char *reason = message->reason_phrase != nullptr ? message->reason_phrase
                                                         : soup_status_get_phrase (status);
  if (!check_answer (head_of (message), reason, message->response_body->length, error))
    return nullptr;

  auto *answer = g_new0 (HttpAnswer, 1);
  answer->message = static_cast<SoupMessage *> (g_steal_pointer (&message));
  return HttpAnswerPtr (answer);
}

bool http_answer_visit_body (const HttpAnswer *answer, BodyVisitor visit, gpointer data)
{
  SoupMessageBody *body = answer->message->response_body;
  goffset offset = 0;
  while (true)
    {
      g_autoptr (SoupBuffer) chunk = soup_message_body_get_chunk (body, offset);
      if (chunk == nullptr)
        return true;
      offset += goffset (chunk->length);
      if (!visit (std::string_view (chunk->data, chunk->length), data))
        return false;
    }
}
