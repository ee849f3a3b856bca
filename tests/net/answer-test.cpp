// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// The rules that decide which answers a download takes, held to heads and lengths that no server
// at hand would send: each row is what a hostile or broken server could say.
#include <string>

#include <gtest/gtest.h>

#include "kiv-test.h"
#include "net-private.h"

namespace
{
// GLib takes one writer per process, so it is set before any test runs. No row may make GLib
// complain: a header is the server's to write, and a warning of GLib's is a fault of ours.
[[maybe_unused]] const bool writer_installed = record_logs ();

constexpr const char *https_url = "https://127.0.0.1/gfx/kiv-config.cfg";
constexpr const char *http_url = "http://127.0.0.1/gfx/kiv-config.cfg";

// The code an error must have, or 0 for none; what its message must hold.
void expect_verdict (gboolean ok, GError *error, int want_code, const char *message)
{
  if (want_code == 0)
    {
      EXPECT_TRUE (ok) << (error != nullptr ? error->message : "");
      EXPECT_EQ (error, nullptr);
      return;
    }
  EXPECT_FALSE (ok);
  ASSERT_NE (error, nullptr);
  EXPECT_EQ (error->domain, KIV_HTTP_ERROR);
  EXPECT_EQ (error->code, want_code) << error->message;
  EXPECT_NE (std::string (error->message).find (message), std::string::npos) << error->message;
}
} // namespace

// A head is judged before any body is read: what it may refuse at once, it refuses.
TEST (CheckAnswerHead, RefusesWhatCannotBeTheWholeFileOverTheSameTrust)
{
  constexpr int malformed = KIV_HTTP_ERROR_MALFORMED;
  const struct
  {
    const char *url;
    guint status;
    const char *length, *coding, *location;
    int want_code; // 0: the head passes
    const char *message = "";
  } cases[] = {
    // A redirect from https to http is refused with its own status, wherever it points.
    { https_url, 302, nullptr, nullptr, "http://127.0.0.1/gfx/kiv-config.cfg", 302,
      "from https to http://127.0.0.1/gfx/kiv-config.cfg" },
    { https_url, 301, nullptr, nullptr, "http://mirror.example/x", 301 },
    { https_url, 303, "0", nullptr, "http://mirror.example/x", 303 },
    { https_url, 307, nullptr, nullptr, "http://127.0.0.1:8080/x", 307,
      " http://127.0.0.1:8080/x" },
    { https_url, 308, nullptr, nullptr, "HTTP://127.0.0.1/x", 308 }, // schemes ignore case
    { https_url, 300, nullptr, nullptr, "http://127.0.0.1/x", 300 },
    // Redirects that stay on https are for the HTTP library to follow.
    { https_url, 302, nullptr, nullptr, "https://127.0.0.1:8443/elsewhere", 0 },
    { https_url, 302, nullptr, nullptr, "/gfx/kiv-config.cfg?again", 0 },
    { https_url, 302, nullptr, nullptr, "again", 0 },
    { https_url, 302, nullptr, nullptr, "//mirror.example/x", 0 }, // keeps the scheme: https
    { http_url, 302, nullptr, nullptr, "http://127.0.0.1/x", 0 },  // never had TLS to lose
    { https_url, 302, nullptr, nullptr, nullptr, 0 }, // nowhere to go: the answer is judged later
    // A Location that is no URL is malformed, and judging it never makes GLib complain.
    { http_url, 302, nullptr, nullptr, "http://[::1", malformed, "Invalid Redirect URL" },
    { https_url, 301, nullptr, nullptr, "https://[::1/x", malformed },
    { https_url, 302, nullptr, nullptr, "http://;evil/", 302, "from https to http://;evil/" },
    // 304 and 305 are not followed, so their Location leads nowhere; they fail later.
    { https_url, 304, nullptr, nullptr, "http://127.0.0.1/x", 0 },
    { https_url, 305, nullptr, nullptr, "http://proxy.example/", 0 },
    // Other statuses outside 2xx are judged after the transfer, whatever their head says.
    { https_url, 404, "-5", "gzip", nullptr, 0 },
    { https_url, 500, "1, 2", nullptr, nullptr, 0 },
    // A 204 has no body, so neither its length nor its coding matters.
    { https_url, 204, "100", "gzip", nullptr, 0 },
    { https_url, 206, "10", nullptr, nullptr, 206, "Partial Content" }, // never asked for a part
    { https_url, 207, "10", nullptr, nullptr, 0 }, // a whole answer, whatever WebDAV makes of it
    // Content codings: only the file itself, as it was asked for.
    { https_url, 200, nullptr, "identity", nullptr, 0 },
    { https_url, 200, nullptr, "identity, identity", nullptr, 0 },
    { https_url, 200, nullptr, "Identity", nullptr, 0 },
    { https_url, 200, nullptr, "", nullptr, 0 }, // an empty header names no coding
    { https_url, 200, nullptr, "gzip", nullptr, 406, "'gzip'" },
    { https_url, 200, nullptr, "identity, gzip", nullptr, 406, "'identity, gzip'" },
    { https_url, 200, nullptr, "identityx", nullptr, 406 },
    // Content-Length: one non-negative decimal number, however often it is given.
    { https_url, 200, "42", nullptr, nullptr, 0 },
    { https_url, 200, "0", nullptr, nullptr, 0 },
    { https_url, 200, " 42\t", nullptr, nullptr, 0 },
    { https_url, 200, "42, 42", nullptr, nullptr, 0 }, // the header twice, with one number
    { https_url, 200, "9223372036854775807", nullptr, nullptr, 0 }, // the largest offset
    { https_url, 200, "42, 5", nullptr, nullptr, malformed, "'42, 5'" },
    { https_url, 200, "42,", nullptr, nullptr, malformed },
    { https_url, 200, "-5", nullptr, nullptr, malformed, "'-5'" },
    { https_url, 200, "+5", nullptr, nullptr, malformed },
    { https_url, 200, "", nullptr, nullptr, malformed },
    { https_url, 200, " ", nullptr, nullptr, malformed },
    { https_url, 200, "9223372036854775808", nullptr, nullptr, malformed }, // beyond 64 bits
    { https_url, 200, "99999999999999999999999", nullptr, nullptr, malformed },
    { https_url, 200, "12abc", nullptr, nullptr, malformed },
    { https_url, 200, "0x10", nullptr, nullptr, malformed },
    { https_url, 200, "4 2", nullptr, nullptr, malformed },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (std::to_string (c.status) + " length " + (c.length ? c.length : "(none)")
                    + " coding " + (c.coding ? c.coding : "(none)") + " location "
                    + (c.location ? c.location : "(none)") + " for " + c.url);
      g_autoptr (GError) error = nullptr;
      g_autofree char *target
          = c.location != nullptr ? redirect_target (c.url, c.location) : nullptr;
      const AnswerHead head{ .status = c.status,
                             .content_length = c.length,
                             .content_encoding = c.coding,
                             .location = c.location,
                             .redirect_target = target };
      const gboolean ok = check_answer_head (c.url, head, &error);
      expect_verdict (ok, error, c.want_code, c.message);
      EXPECT_EQ (take_logs (), std::vector<LogRecord>{});
    }
}

// Once the transfer has ended, a status outside 2xx is the failure, and a body must be exactly
// as long as announced.
TEST (CheckAnswer, TakesOnlyASuccessWithTheWholeBody)
{
  const struct
  {
    guint status;
    const char *length;
    const char *reason;
    goffset body_length;
    int want_code; // 0: taken
    const char *message = "";
  } cases[] = {
    { 200, "10", "OK", 10, 0 },
    { 200, "0", "OK", 0, 0 },
    { 200, "10, 10", "OK", 10, 0 },
    { 299, "10", "Whatever", 10, 0 },
    { 200, nullptr, "OK", 12345, 0 }, // no length: the transport saw the end of the connection
    { 200, "5000000000", "OK", 5000000000, 0 }, // beyond 32 bits
    { 204, "100", "No Content", 0, 0 },         // a 204 has no body to measure
    { 200, "10", "OK", 4, KIV_HTTP_ERROR_IO, "4 of 10" },
    { 200, "10", "OK", 0, KIV_HTTP_ERROR_IO, "0 of 10" },
    { 200, "5000000000", "OK", 705032704, KIV_HTTP_ERROR_IO }, // the length cut to 32 bits
    { 200, "10", "OK", 31, KIV_HTTP_ERROR_MALFORMED, "31 of 10" },
    // Any other status fails with itself as the code and its reason as the message.
    { 404, "9", "Not Found", 9, 404, "Not Found" },
    { 404, "10", "Not Found", 3, 404, "Not Found" }, // the status, not the short body
    { 500, nullptr, "Internal Server Error", 0, 500, "Internal Server Error" },
    { 302, "0", "Found", 0, 302, "Found" }, // a redirect that was not followed
    { 304, nullptr, "Not Modified", 0, 304, "Not Modified" },
    { 300, nullptr, "Multiple Choices", 0, 300, "Multiple Choices" },
    { 101, nullptr, "Switching Protocols", 0, 101, "Switching Protocols" },
    { 199, nullptr, "", 0, 199, "" },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (std::to_string (c.status) + " length " + (c.length ? c.length : "(none)")
                    + " body " + std::to_string (c.body_length));
      g_autoptr (GError) error = nullptr;
      const AnswerHead head{ .status = c.status, .content_length = c.length };
      const gboolean ok = check_answer (head, c.reason, c.body_length, &error);
      expect_verdict (ok, error, c.want_code, c.message);
      if (c.status < 200 || c.status > 299)
        {
          EXPECT_STREQ (error != nullptr ? error->message : "", c.reason);
        }
      EXPECT_EQ (take_logs (), std::vector<LogRecord>{});
    }
}

// A length that cannot be read is unknown, never none: the body then ends with the connection.
TEST (ContentLengthOf, ReadsOneNumberOrUnknown)
{
  const struct
  {
    const char *length;
    goffset want;
  } cases[] = {
    { "42", 42 }, { "0", 0 },  { "7, 7", 7 },  { nullptr, -1 },
    { "", -1 },   { "x", -1 }, { "1, 2", -1 },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.length != nullptr ? c.length : "(none)");
      EXPECT_EQ (content_length_of (AnswerHead{ .status = 200, .content_length = c.length }),
                 c.want);
    }
}

// Bytes after a body's announced length can belong to it only where the connection ends with the
// answer; on a kept connection they would start the next one.
TEST (EndsConnection, FollowsTheVersionAndTheConnectionHeader)
{
  const struct
  {
    bool http_1_0;
    const char *connection;
    bool asked_to_close;
    bool want;
  } cases[] = {
    { true, nullptr, false, true }, // HTTP/1.0 closes unless asked otherwise
    { true, "Keep-Alive", false, false },
    { true, "keep-alive, Upgrade", false, false }, // a list, in any case
    { true, "keep-alivex", false, true },          // a token, not a prefix
    { true, "keep", false, true },                 // nor a prefix of one
    { true, "Upgrade, ", false, true },            // an empty element asks for nothing
    { false, " , ", false, false },
    { true, "Keep-Alive, close", false, true }, // close wins
    { false, nullptr, false, false },           // HTTP/1.1 keeps unless told otherwise
    { false, "close", false, true },
    { false, "Upgrade, CLOSE", false, true },
    { false, "closed", false, false },
    { false, "", false, false },
    { false, nullptr, true, true },       // the server does as the request asked
    { false, "keep-alive", true, false }, // unless it says otherwise
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (std::string (c.http_1_0 ? "HTTP/1.0 " : "HTTP/1.1 ")
                    + (c.connection ? c.connection : "(no Connection)")
                    + (c.asked_to_close ? ", asked to close" : ""));
      const AnswerHead head{ .status = 200, .connection = c.connection, .http_1_0 = c.http_1_0 };
      EXPECT_EQ (ends_connection (head, c.asked_to_close), c.want);
    }
}

// However a Location spells its way to cleartext, what the HTTP library would follow is what is
// judged: from https, a redirect is taken only to https.
TEST (CheckAnswerHead, NoSpellingOfALocationLeadsToHttp)
{
  const char *const locations[] = {
    "ht\ttp://127.0.0.1/x",  "http\t://127.0.0.1/x", "h\r\nttp://127.0.0.1/x",
    "http:\t//127.0.0.1/x",  " http://127.0.0.1/x",  "http://127.0.0.1/x ",
    "\thttp://127.0.0.1/x",  "HTTP://127.0.0.1/x",   "hTtP://127.0.0.1/x",
    "http:\\\\127.0.0.1\\x", "\\\\127.0.0.1\\x",     "http:127.0.0.1/x",
    "http:/127.0.0.1/x",     "http:///127.0.0.1/x",  "%68ttp://127.0.0.1/x",
    "http%3A//127.0.0.1/x",  "//127.0.0.1/x",        "https://127.0.0.1/x",
    "http://%zz/",
  };
  for (const char *location : locations)
    {
      SCOPED_TRACE (location);
      g_autofree char *target = redirect_target (https_url, location);
      const AnswerHead head{ .status = 302, .location = location, .redirect_target = target };
      g_autoptr (GError) error = nullptr;
      if (check_answer_head (https_url, head, &error))
        {
          ASSERT_NE (target, nullptr);
          EXPECT_TRUE (g_str_has_prefix (target, "https://")) << target;
        }
      else
        EXPECT_TRUE (error->code == 302 || error->code == KIV_HTTP_ERROR_MALFORMED);
    }
  // The plainest spelling still reaches the check.
  g_autofree char *plain = redirect_target (https_url, "http://127.0.0.1/x");
  EXPECT_STREQ (plain, "http://127.0.0.1/x");
}
