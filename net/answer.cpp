// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Which answers a download accepts. Nothing here knows the HTTP library: the transport hands over
// what the answer said, and these rules decide.
#include <charconv>

#include "net-private.h"

namespace
{
constexpr guint status_no_content = 204;
constexpr guint status_partial_content = 206;
constexpr guint status_not_modified = 304;
constexpr guint status_use_proxy = 305;
constexpr guint status_not_acceptable = 406;

// The blanks around each value of a header's list.
constexpr std::string_view header_blanks = " \t";

// Calls visit with each element of a header's list of values, blanks trimmed; stops when it
// returns false.
template <typename Visit> bool each_element (std::string_view values, Visit visit)
{
  while (true)
    {
      const auto comma = values.find (',');
      if (!visit (kiv_trim (values.substr (0, comma), header_blanks)))
        return false;
      if (comma == std::string_view::npos)
        return true;
      values.remove_prefix (comma + 1);
    }
}

// A Content-Length given more than once must give the same number each time; a sign, a blank or
// anything else makes the length unknown, and so the body's end.
bool parse_content_length (std::string_view values, goffset *out_length)
{
  bool seen = false;
  return each_element (values, [&] (std::string_view element) {
    gint64 length = -1;
    const auto end = element.data () + element.size ();
    const auto [stop, failure] = std::from_chars (element.data (), end, length);
    if (element.empty () || element[0] == '-' || failure != std::errc () || stop != end
        || (seen && length != *out_length))
      return false;
    *out_length = length;
    seen = true;
    return true;
  });
}

bool is_identity (std::string_view codings)
{
  return each_element (codings, [] (std::string_view coding) {
    return coding.empty ()
           || (coding.size () == 8 && g_ascii_strncasecmp (coding.data (), "identity", 8) == 0);
  });
}

// The statuses the HTTP library follows when they come with a Location.
bool is_followed_redirect (guint status)
{
  return status >= 300 && status <= 399 && status != status_not_modified
         && status != status_use_proxy;
}

// A redirect must lead to a URL: one that the HTTP library follows nowhere is a malformed
// answer. And anyone on the path can write a cleartext answer, so a file asked for over https
// must come over https, wherever a server sends the request. What is judged is the URL the library
// follows, as it reads the Location, never a second reading of the text that could differ from it.
gboolean check_redirect (const char *url, const char *target, guint status, GError **error)
{
  if (target == nullptr)
    {
      g_set_error_literal (error, KIV_HTTP_ERROR, KIV_HTTP_ERROR_MALFORMED, "Invalid Redirect URL");
      return FALSE;
    }
  g_autofree char *from = g_uri_parse_scheme (url);
  g_autofree char *to = g_uri_parse_scheme (target);
  if (g_ascii_strcasecmp (from != nullptr ? from : "", "https") != 0
      || g_ascii_strcasecmp (to != nullptr ? to : "", "https") == 0)
    return TRUE;
  g_set_error (error, KIV_HTTP_ERROR, int (status), "Refused the redirect from https to %s",
               target);
  return FALSE;
}
} // namespace

gboolean check_answer_head (const char *url, const AnswerHead &head, GError **error)
{
  if (is_followed_redirect (head.status) && head.location != nullptr)
    return check_redirect (url, head.redirect_target, head.status, error);
  // A 204 has no body, whatever its head says; other statuses fail in check_answer.
  if (head.status < 200 || head.status > 299 || head.status == status_no_content)
    return TRUE;

  if (head.status == status_partial_content)
    {
      g_set_error_literal (error, KIV_HTTP_ERROR, int (head.status),
                           "Partial Content answer to a request for the whole file");
      return FALSE;
    }
  if (head.content_encoding != nullptr && !is_identity (head.content_encoding))
    {
      g_set_error (error, KIV_HTTP_ERROR, int (status_not_acceptable),
                   "Refused an answer in content coding '%s': the file itself was asked for",
                   head.content_encoding);
      return FALSE;
    }
  goffset length = 0;
  if (head.content_length != nullptr && !parse_content_length (head.content_length, &length))
    {
      g_set_error (error, KIV_HTTP_ERROR, KIV_HTTP_ERROR_MALFORMED,
                   "Refused an answer with Content-Length '%s'", head.content_length);
      return FALSE;
    }
  return TRUE;
}

goffset content_length_of (const AnswerHead &head)
{
  goffset length = -1;
  if (head.content_length == nullptr || !parse_content_length (head.content_length, &length))
    return -1;
  return length;
}

bool ends_connection (const AnswerHead &head, bool asked_to_close)
{
  bool keep_alive = false, close = false;
  if (head.connection != nullptr)
    each_element (head.connection, [&] (std::string_view option) {
      keep_alive |= g_ascii_strncasecmp (option.data (), "keep-alive", option.size ()) == 0
                    && option.size () == 10;
      close |= g_ascii_strncasecmp (option.data (), "close", option.size ()) == 0
               && option.size () == 5;
      return true;
    });
  return close || ((head.http_1_0 || asked_to_close) && !keep_alive);
}

gboolean check_answer (const AnswerHead &head, const char *reason, goffset body_length,
                       GError **error)
{
  if (head.status < 200 || head.status > 299)
    {
      g_set_error_literal (error, KIV_HTTP_ERROR, int (head.status), reason);
      return FALSE;
    }
  if (head.status == status_no_content || head.content_length == nullptr)
    return TRUE;
  const goffset announced = content_length_of (head); // a valid number: the head passed
  if (body_length == announced)
    return TRUE;

  if (body_length < announced)
    g_set_error (error, KIV_HTTP_ERROR, KIV_HTTP_ERROR_IO,
                 "Body cut short: %" G_GINT64_FORMAT " of %" G_GINT64_FORMAT " bytes received",
                 gint64 (body_length), gint64 (announced));
  else
    g_set_error (error, KIV_HTTP_ERROR, KIV_HTTP_ERROR_MALFORMED,
                 "Body longer than announced: %" G_GINT64_FORMAT " of %" G_GINT64_FORMAT " bytes",
                 gint64 (body_length), gint64 (announced));
  return FALSE;
}
