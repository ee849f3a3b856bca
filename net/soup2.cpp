// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// What the libsoup 2.4 transport does its own way: what it takes to see an answer's end for sure.
//
// libsoup 2.4 takes a connection that closes at a chunk boundary for the end of a chunked body,
// and a decoded body has no length to compare, so neither may reach the caller. The request is
// made one that excludes both and is still a plain GET that every server answers: HTTP/1.0, which
// a server must not answer with a transfer coding, and "Accept-Encoding: identity" with libsoup's
// decoder kept off the message. What is left is a body framed by its Content-Length, checked by
// check_answer, or by the end of the connection, which over TLS must be TLS's own closing message.
// A server that sends chunks to an HTTP/1.0 request all the same is refused: where its body ends
// cannot be told.
#include "soup-private.h"

static_assert (int (KIV_HTTP_ERROR_CANCELLED) == int (SOUP_STATUS_CANCELLED));
static_assert (int (KIV_HTTP_ERROR_CANT_RESOLVE) == int (SOUP_STATUS_CANT_RESOLVE));
static_assert (int (KIV_HTTP_ERROR_CANT_RESOLVE_PROXY) == int (SOUP_STATUS_CANT_RESOLVE_PROXY));
static_assert (int (KIV_HTTP_ERROR_CANT_CONNECT) == int (SOUP_STATUS_CANT_CONNECT));
static_assert (int (KIV_HTTP_ERROR_CANT_CONNECT_PROXY) == int (SOUP_STATUS_CANT_CONNECT_PROXY));
static_assert (int (KIV_HTTP_ERROR_TLS_FAILED) == int (SOUP_STATUS_SSL_FAILED));
static_assert (int (KIV_HTTP_ERROR_IO) == int (SOUP_STATUS_IO_ERROR));
static_assert (int (KIV_HTTP_ERROR_MALFORMED) == int (SOUP_STATUS_MALFORMED));
static_assert (int (KIV_HTTP_ERROR_TOO_MANY_REDIRECTS) == int (SOUP_STATUS_TOO_MANY_REDIRECTS));

const char *const transfer_coding_refusal = "Cannot tell whether the body is whole: a transfer "
                                            "coding in answer to an HTTP/1.0 request";

// libsoup 2.4 reports its transport failures with their status as the code, and an answer it
// cannot read as a request error.
int library_failure_status (SoupMessage *, const GError *failure, Phase)
{
  if (failure->domain == SOUP_HTTP_ERROR)
    return failure->code;
  if (failure->domain == SOUP_REQUEST_ERROR)
    return KIV_HTTP_ERROR_MALFORMED;
  return -1;
}

// libsoup would happily send an HTTP request for "ftp://host/" to port 21, or look up an empty
// host name for "file:///"; neither is a request anyone asked for.
SoupMessage *new_get_message (const char *url, bool keep_alive, GError **error)
{
  g_autoptr (SoupURI) uri = url != nullptr ? soup_uri_new (url) : nullptr;
  if (!SOUP_URI_VALID_FOR_HTTP (uri) || *uri->host == '\0')
    return refuse_url (url, error);
  SoupMessage *message = soup_message_new_from_uri (SOUP_METHOD_GET, uri);
  soup_message_set_http_version (message, SOUP_HTTP_1_0);
  soup_message_disable_feature (message, SOUP_TYPE_CONTENT_DECODER);
  soup_message_headers_replace (message->request_headers, "Accept-Encoding", "identity");
  // HTTP/1.0 would close the connection after the answer unless asked not to, but libsoup adds
  // "Connection: Keep-Alive" to such a request on its own, and many servers keep the connection
  // for it. So the request always says what it wants.
  soup_message_headers_replace (message->request_headers, "Connection",
                                keep_alive ? "keep-alive" : "close");
  return message;
}

// libsoup 2.4 follows the Location read against the message's URI, as long as that gives a URL
// with a host; one whose host is empty ("//" alone) leads nowhere either.
char *redirect_target (const char *url, const char *location)
{
  if (url == nullptr || location == nullptr)
    return nullptr;
  g_autoptr (SoupURI) base = soup_uri_new (url);
  g_autoptr (SoupURI) target = base != nullptr ? soup_uri_new_with_base (base, location) : nullptr;
  if (target == nullptr || target->host == nullptr || *target->host == '\0')
    return nullptr;
  return soup_uri_to_string (target, FALSE);
}

char *url_of (SoupMessage *message)
{
  return soup_uri_to_string (soup_message_get_uri (message), FALSE);
}

guint status_of (SoupMessage *message)
{
  return message->status_code;
}

SoupMessageHeaders *response_headers_of (SoupMessage *message)
{
  return message->response_headers;
}

const char *reason_of (SoupMessage *message)
{
  return message->reason_phrase != nullptr ? message->reason_phrase
                                           : soup_status_get_phrase (message->status_code);
}
