// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// net-private.h: the pure rules behind http_download_file, which answers it takes, shared by
// net/ and its tests, never installed. They read nothing but their arguments: the transport hands
// over what an answer said, and these decide. What the modules below may use to download is in
// download-private.h.
#pragma once

#include <gio/gio.h>

#include "common-private.h"
#include "net.h"

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
  // The URL the HTTP library follows for location (redirect_target), or NULL when it follows none.
  const char *redirect_target = nullptr;
};

// The URL the HTTP library built with follows when an answer to url redirects to location, read
// by the library's own parser (which drops tabs and line breaks, resolves a relative reference
// and lower-cases the scheme); NULL when it follows none, as for a Location that is no URL or has
// no host. Free it with g_free.
char *redirect_target (const char *url, const char *location);

// The length a head announces for its body, or -1 when it announces none that can be read.
goffset content_length_of (const AnswerHead &head);

// Whether the connection ends with this answer, as HTTP says it does: when the answer says close,
// and otherwise, unless the answer asks to keep it alive, when the exchange is HTTP/1.0 or the
// request asked to close it.
bool ends_connection (const AnswerHead &head, bool asked_to_close);

// Judges the head of an answer to a plain GET of url, before its body is read. Refuses a redirect
// that the library would follow nowhere (a malformed answer) or, from https, anywhere but https;
// a partial answer, a content coding other than identity, and a Content-Length that is not one
// non-negative number. Returns FALSE with an "HTTP" error then.
gboolean check_answer_head (const char *url, const AnswerHead &head, GError **error);

// Judges an answer whose transfer has ended and whose head passed check_answer_head: a status
// outside 200 to 299 is an error with the status as code and reason as message; a body shorter than
// its Content-Length is cut short. A 204 is judged without looking for a body.
gboolean check_answer (const AnswerHead &head, const char *reason, goffset body_length,
                       GError **error);
