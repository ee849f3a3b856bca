// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// What the libsoup 3 transport does its own way: what it takes to see an answer's end for sure,
// with the same codes as the libsoup 2.4 transport.
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
// libsoup 3 reports a failed exchange as a GError; failures of its own domain become the status
// libsoup 2.4 gives the same failure (those of GIO's domains are turned in transport.cpp), so
// callers see one set of codes whichever is built.
#include "soup-private.h"

namespace
{
constexpr int answer_status = -2; // as a status: the status of the answer the error came with

// The libsoup 2.4 status of each failure of libsoup 3's own domain.
constexpr struct
{
  int code;
  int status;
} failures_by_error[] = {
  { SOUP_SESSION_ERROR_PARSING, KIV_HTTP_ERROR_MALFORMED },
  { SOUP_SESSION_ERROR_ENCODING, KIV_HTTP_ERROR_MALFORMED },
  { SOUP_SESSION_ERROR_TOO_MANY_REDIRECTS, KIV_HTTP_ERROR_TOO_MANY_REDIRECTS },
  { SOUP_SESSION_ERROR_TOO_MANY_RESTARTS, KIV_HTTP_ERROR_TOO_MANY_REDIRECTS },
  // libsoup 2.4 does not follow a redirect to a URL it cannot request, nor one without a URL:
  // the redirect is the answer.
  { SOUP_SESSION_ERROR_REDIRECT_BAD_URI, answer_status },
  { SOUP_SESSION_ERROR_REDIRECT_NO_LOCATION, answer_status },
};
} // namespace

const char *const transfer_coding_refusal
    = "Cannot tell whether the body is whole: it came in the chunked transfer coding, whose end "
      "libsoup 3 does not check";

int library_failure_status (SoupMessage *message, const GError *failure, Phase)
{
  if (failure->domain != SOUP_SESSION_ERROR)
    return -1;
  for (const auto &entry : failures_by_error)
    if (failure->code == entry.code)
      return entry.status == answer_status ? int (status_of (message)) : entry.status;
  return KIV_HTTP_ERROR_IO;
}

// libsoup would send an HTTP request for "ftp://host/" to port 21, or look up an empty host name
// for "file:///"; neither is a request anyone asked for.
SoupMessage *new_get_message (const char *url, bool keep_alive, GError **error)
{
  g_autoptr (GUri) uri
      = url != nullptr ? g_uri_parse (url, GUriFlags (SOUP_HTTP_URI_FLAGS), nullptr) : nullptr;
  const char *scheme = uri != nullptr ? g_uri_get_scheme (uri) : nullptr;
  const char *host = uri != nullptr ? g_uri_get_host (uri) : nullptr;
  if ((g_strcmp0 (scheme, "http") != 0 && g_strcmp0 (scheme, "https") != 0) || host == nullptr
      || *host == '\0')
    return refuse_url (url, error);
  SoupMessage *message = soup_message_new_from_uri (SOUP_METHOD_GET, uri);
  soup_message_disable_feature (message, SOUP_TYPE_CONTENT_DECODER);
  soup_message_headers_replace (soup_message_get_request_headers (message), "Accept-Encoding",
                                "identity");
  // HTTP/1.1 keeps the connection after the answer unless asked not to; the request says what it
  // wants either way.
  soup_message_headers_replace (soup_message_get_request_headers (message), "Connection",
                                keep_alive ? "keep-alive" : "close");
  return message;
}

// libsoup 3 follows the Location read against the message's URI by GLib's parser, with its own
// flags, as long as that gives a URL with a host.
char *redirect_target (const char *url, const char *location)
{
  g_autoptr (GUri) base
      = url != nullptr ? g_uri_parse (url, GUriFlags (SOUP_HTTP_URI_FLAGS), nullptr) : nullptr;
  g_autoptr (GUri) target
      = base != nullptr && location != nullptr
            ? g_uri_parse_relative (base, location, GUriFlags (SOUP_HTTP_URI_FLAGS), nullptr)
            : nullptr;
  const char *host = target != nullptr ? g_uri_get_host (target) : nullptr;
  if (host == nullptr || *host == '\0')
    return nullptr;
  return g_uri_to_string (target);
}

char *url_of (SoupMessage *message)
{
  return g_uri_to_string (soup_message_get_uri (message));
}

guint status_of (SoupMessage *message)
{
  return soup_message_get_status (message);
}

SoupMessageHeaders *response_headers_of (SoupMessage *message)
{
  return soup_message_get_response_headers (message);
}

const char *reason_of (SoupMessage *message)
{
  const char *reason = soup_message_get_reason_phrase (message);
  return reason != nullptr ? reason : soup_status_get_phrase (status_of (message));
}
