// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// soup-private.h: what the libsoup 2.4 and libsoup 3 transports do differently, for the half
// they share (transport.cpp). Each build compiles one of soup2.cpp and soup3.cpp; nothing
// outside net/ includes this.
#pragma once

#include <gio/gio.h>
#include <libsoup/soup.h>

#include "download-private.h"
#include "net-private.h"

// Where an exchange was when the HTTP library reported a failure: the same failure (the
// connection ending early, say) means a malformed answer while the head is awaited and a body cut
// short while the body is read.
enum class Phase
{
  head,
  body
};

// A GET for url that asks for the body as it is stored ("Accept-Encoding: identity", the
// library's decoder off), and for the connection to be closed after the answer or, with
// keep_alive, kept for the next request. NULL with a KIV_HTTP_ERROR of code 8 when url is not an
// absolute http or https URL.
SoupMessage *new_get_message (const char *url, bool keep_alive, GError **error);

// What new_get_message gives for a url it can make no request from: NULL, with code 8.
SoupMessage *refuse_url (const char *url, GError **error);

// The URL the message is at now (after any redirect); free it with g_free.
char *url_of (SoupMessage *message);

// The answer's status and headers as they stand, and its reason phrase (never NULL).
guint status_of (SoupMessage *message);
SoupMessageHeaders *response_headers_of (SoupMessage *message);
const char *reason_of (SoupMessage *message);

// The libsoup 2.4 transport status that a failure in the library's own error domain stands for,
// or -1 for a failure of another domain (GIO's, TLS's, the resolver's), which transport.cpp turns.
int library_failure_status (SoupMessage *message, const GError *failure, Phase phase);

// Why an answer in a transfer coding is refused in this build.
extern const char *const transfer_coding_refusal;
