// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// http_download_file against servers on loopback: the bundled configuration server, run as a
// process of its own, for what a server sends (and for the hostile servers it can play), and a raw
// socket for answers no server library would send. The test itself never loads an HTTP library,
// so it runs against the download built with either libsoup, with the same expectations.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gio/gio.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include "download-private.h"
#include "kiv-http-test.h"
#include "net-private.h"

namespace
{
// Several times libsoup's read size, so the body reaches us in more than one chunk.
constexpr gsize big_body_length = 200000;

std::string big_body ()
{
  std::string body (big_body_length, '\0');
  for (gsize i = 0; i < body.size (); i++)
    body[i] = char ('a' + i % 23);
  return body;
}

// HTTP statuses the servers here answer with.
constexpr int status_partial_content = 206;
constexpr int status_found = 302;
constexpr int status_not_modified = 304;
constexpr int status_not_found = 404;
constexpr int status_not_acceptable = 406;

struct Result
{
  bool ok;
  std::vector<std::string> progress;
  GError *error = nullptr;
  Result () = default;
  Result (const Result &) = delete;
  ~Result () { g_clear_error (&error); }
};

void download (const std::string &url, const std::string &path, Result *out)
{
  out->ok = http_download_file (url.c_str (), path.c_str (), record, &out->progress, &out->error);
}

GQuark http_domain ()
{
  return g_quark_from_static_string ("HTTP");
}

constexpr const char *cut_short_reply = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n"
                                        "Connection: close\r\n\r\n0123456789";

// The progress a download that failed may have reported: that it was fetching and, when the
// answer's head was taken, that it was saving and what it had fetched, since the body is written
// as it arrives.
void expect_failed_progress (const std::vector<std::string> &progress, const std::string &url,
                             const std::string &path)
{
  ASSERT_FALSE (progress.empty ());
  EXPECT_EQ (progress[0], "fetching " + url);
  if (progress.size () > 1)
    {
      EXPECT_EQ (progress[1], "saving to " + path);
      EXPECT_EQ (fetched_reports (progress).size (), progress.size () - 2);
    }
}

// A download of url into an older file that fails with the given code and a message holding
// the given text, and leaves the older file as it was with nothing beside it.
void expect_refused (const std::string &url, guint code, const char *message)
{
  SCOPED_TRACE (url);
  Scratch scratch;
  const auto path = scratch.path ("target");
  ASSERT_TRUE (put (path, "older copy"));

  Result r;
  download (url, path, &r);
  EXPECT_FALSE (r.ok);
  ASSERT_NE (r.error, nullptr);
  EXPECT_EQ (r.error->domain, http_domain ());
  EXPECT_EQ (r.error->code, int (code)) << r.error->message;
  EXPECT_NE (strstr (r.error->message, message), nullptr) << r.error->message;
  expect_failed_progress (r.progress, url, path);
  EXPECT_EQ (contents (path), "older copy");
  EXPECT_TRUE (scratch.others ("target").empty ());
}

// A download of url into an older file that succeeds and stores want, with nothing beside it.
// *out_elapsed, when given, is how long the download took.
void expect_stored (const std::string &url, const std::string &want, gint64 *out_elapsed = nullptr)
{
  SCOPED_TRACE (url);
  Scratch scratch;
  const auto path = scratch.path ("target");
  ASSERT_TRUE (put (path, "older copy"));
  Result r;
  const gint64 start = g_get_monotonic_time ();
  download (url, path, &r);
  if (out_elapsed != nullptr)
    *out_elapsed = g_get_monotonic_time () - start;
  EXPECT_TRUE (r.ok) << (r.error != nullptr ? r.error->message : "");
  const auto stored = contents (path);
  EXPECT_TRUE (stored == want) << stored.size () << " bytes stored, " << want.size () << " served";
  EXPECT_TRUE (scratch.others ("target").empty ());
}

constexpr const char *served_text = "[Debian bookworm]\ni one\ni two\n";
} // namespace

// Whatever went wrong before the body was in hand, the caller's older file must survive it.
TEST (HttpDownloadFile, FailedRequestKeepsTheOlderFile)
{
  ConfigServer server ("normal", served_text);
  ConfigServer loop ("redirect-loop", served_text);
  RawServer cut_short (cut_short_reply);
  RawServer cut_short_kept_alive ("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789");
  RawServer chunk_cut_inside ("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                              "Connection: close\r\n\r\n5\r\nhello\r\n10\r\nabc");
  RawServer chunk_size_cut ("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                            "Connection: close\r\n\r\n5\r\nhello\r\n1");
  RawServer headers_cut ("HTTP/1.1 200 OK\r\nContent-Le");
  RawServer no_answer ("");
  // Whole, but in the chunked transfer coding, which the request either excludes or whose end
  // the HTTP library does not check.
  RawServer chunked ("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                     "Connection: close\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
  // Redirects that cannot be followed: the redirect is the answer, or malformed.
  RawServer to_nowhere ("HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n");
  RawServer to_ftp ("HTTP/1.1 302 Found\r\nLocation: ftp://127.0.0.1/f\r\n"
                    "Content-Length: 0\r\n\r\n");
  RawServer to_no_url ("HTTP/1.1 302 Found\r\nLocation: http://[::1\r\nContent-Length: 0\r\n\r\n");

  const struct
  {
    std::string url;
    int code;
    const char *message; // what the message must hold, if anything in particular
  } cases[] = {
    { server.url ("/missing"), status_not_found, "Not Found" }, // the reason phrase
    { "http://kiv-download-test.invalid/file", KIV_HTTP_ERROR_CANT_RESOLVE,
      "" }, // stays on the host
    { "http://127.0.0.1:1/file", KIV_HTTP_ERROR_CANT_CONNECT, "" },
    { loop.url (), KIV_HTTP_ERROR_TOO_MANY_REDIRECTS, "" },
    // libsoup takes the end of a closing connection for the end of the body: 10 of 100 bytes
    { cut_short.url (), KIV_HTTP_ERROR_IO, "cut short" },
    // the same on a connection that could stay open, which libsoup itself sees as cut short
    { cut_short_kept_alive.url (), KIV_HTTP_ERROR_IO, "" },
    { chunk_cut_inside.url (), KIV_HTTP_ERROR_IO, "" }, // inside the data of a chunk
    { chunk_size_cut.url (), KIV_HTTP_ERROR_IO, "" },   // inside the size line of a chunk
    { chunked.url (), KIV_HTTP_ERROR_IO, "whether the body is whole" },
    { headers_cut.url (), KIV_HTTP_ERROR_MALFORMED, "" },
    { no_answer.url (), KIV_HTTP_ERROR_MALFORMED, "" },
    { to_nowhere.url (), status_found, "" },
    { to_ftp.url (), status_found, "" },
    { to_no_url.url (), KIV_HTTP_ERROR_MALFORMED, "" },
  };
  for (const auto &c : cases)
    expect_refused (c.url, c.code, c.message);
}

// Answers that are not the whole file as the server has it, from the bundled server's hostile
// modes; none may replace the older file.
TEST (HttpDownloadFile, RefusesWhatIsNotTheWholeFile)
{
  RawServer not_modified ("HTTP/1.1 304 Not Modified\r\nContent-Length: 100\r\n\r\n");
  expect_refused (not_modified.url (), status_not_modified, "Not Modified"); // no body awaited

  const struct
  {
    const char *mode;
    int code;
    const char *message;
  } cases[] = {
    { "chunked-cut", KIV_HTTP_ERROR_IO, "" }, // no zero-length chunk: its end is not known
    { "gzip-cut", status_not_acceptable, "gzip" },
    { "gzip-bomb", status_not_acceptable, "gzip" }, // 64 KiB that would make 64 MiB
    { "two-lengths", KIV_HTTP_ERROR_MALFORMED, "Content-Length" },
    { "negative-length", KIV_HTTP_ERROR_MALFORMED, "-5" },
    { "partial", status_partial_content, "Partial" },
    // 21 bytes more than announced, then the end of the connection: the first bytes alone would
    // make another file
    { "longer", KIV_HTTP_ERROR_MALFORMED, "longer than announced" },
  };
  for (const auto &c : cases)
    expect_refused (ConfigServer (c.mode, served_text).url (), c.code, c.message);
}

// Every framing that shows where the body ends is taken as it is.
TEST (HttpDownloadFile, TakesEveryBodyWhoseEndIsKnown)
{
  const std::vector<std::string> two_mib = { "--big-mib", "2" };
  const struct
  {
    const char *mode;
    std::string want;
    std::vector<std::string> options;
  } cases[] = {
    { "normal", served_text, {} },
    { "until-close", served_text, {} }, // no length: the end of the connection ends it
    { "no-content", "", {} },           // a 204 has no body, whatever its length says
    { "hop", served_text, {} },
    { "big", generated_config (2), two_mib },             // far more than one read
    { "big-until-close", generated_config (2), two_mib }, // and with no length
    // a pause after every few bytes, even inside the head's last line break
    { "trickle", served_text, { "--trickle-bytes", "3", "--trickle-ms", "2" } },
  };
  for (const auto &c : cases)
    expect_stored (ConfigServer (c.mode, served_text, Scheme::http, c.options).url (), c.want);
}

// Over TLS, nobody on the path may have a say: not by a redirect to cleartext, nor by closing
// the connection under TLS. Redirects that stay on https are followed.
TEST (HttpDownloadFile, KeepsToTheTrustOfHttps)
{
  if (!g_tls_backend_supports_tls (g_tls_backend_get_default ()))
    GTEST_SKIP () << "no TLS backend (glib-networking)";
  TrustingSelfSigned trust;
  expect_stored (ConfigServer ("hop", big_body (), Scheme::https).url (), big_body ());
  // The message names the refused URL, on the server's cleartext port.
  expect_refused (ConfigServer ("to-http", served_text, Scheme::https).url (), status_found,
                  "from https to http://127.0.0.1:");
  expect_refused (ConfigServer ("tls-cut", served_text, Scheme::https).url (),
                  KIV_HTTP_ERROR_TLS_FAILED, "");
  expect_stored (ConfigServer ("until-close", served_text, Scheme::https).url (), served_text);
  expect_stored (
      ConfigServer ("big-until-close", served_text, Scheme::https, { "--big-mib", "1" }).url (),
      generated_config (1));
  expect_refused (ConfigServer ("longer", served_text, Scheme::https).url (),
                  KIV_HTTP_ERROR_MALFORMED, "longer than announced");
  // TLS before 1.2 lets someone on the path in, whatever the certificate says.
  expect_refused (OldTlsServer (served_text).url (), KIV_HTTP_ERROR_TLS_FAILED, "TLS 1.1");
  expect_refused (OldTlsServer (served_text, OldTlsServer::Version::tls1_0).url (),
                  KIV_HTTP_ERROR_TLS_FAILED, "TLS 1.0");
}

TEST (HttpDownloadFile, RefusesAnUntrustedCertificate)
{
  if (!g_tls_backend_supports_tls (g_tls_backend_get_default ()))
    GTEST_SKIP () << "no TLS backend (glib-networking)";
  ConfigServer server ("normal", served_text, Scheme::https);
  Scratch scratch;

  Result r;
  download (server.url (), scratch.path ("target"), &r);
  EXPECT_FALSE (r.ok);
  ASSERT_NE (r.error, nullptr);
  EXPECT_EQ (r.error->domain, http_domain ());
  EXPECT_EQ (r.error->code, KIV_HTTP_ERROR_TLS_FAILED) << r.error->message;
  EXPECT_TRUE (scratch.others ("").empty ());
}

// A transport given authorities of its own trusts those and no others: not the system's (here
// the self-signed certificate the process trusts), and none at all when their file cannot be read.
// Without them it keeps the system's, as http_download_file does.
TEST (HttpTransport, TrustsOnlyTheAuthoritiesItIsGiven)
{
  if (!g_tls_backend_supports_tls (g_tls_backend_get_default ()))
    GTEST_SKIP () << "no TLS backend (glib-networking)";
  ConfigServer server ("normal", served_text, Scheme::https);
  Scratch files;
  put (files.path ("server.pem"), self_signed_pem);
  put (files.path ("other.pem"), other_authority_pem);
  const struct
  {
    const char *authorities; // in files; NULL: none of the transport's own
    bool system_trusts;      // the server's certificate
    const char *refusal;     // NULL: taken
  } cases[] = {
    { "server.pem", false, nullptr },
    { "other.pem", true, "" },
    { "missing.pem", true, "Cannot read the trusted authorities " },
    { nullptr, true, nullptr },
    { nullptr, false, "" },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (std::string (c.authorities != nullptr ? c.authorities : "the system's")
                    + (c.system_trusts ? ", the system trusting the server" : ""));
      std::optional<TrustingSelfSigned> trust;
      if (c.system_trusts)
        trust.emplace ();
      const auto authorities = c.authorities != nullptr ? files.path (c.authorities) : "";
      HttpTransportPtr transport
          = http_transport_new (false, c.authorities != nullptr ? authorities.c_str () : nullptr);
      g_autoptr (GError) error = nullptr;
      auto staged
          = download_staged (transport.get (), server.url ().c_str (),
                             files.path ("target").c_str (), DownloadControl (), nullptr, &error);
      if (c.refusal == nullptr)
        {
          EXPECT_NE (staged, nullptr) << error->message;
          continue;
        }
      ASSERT_EQ (staged, nullptr);
      EXPECT_TRUE (g_error_matches (error, KIV_HTTP_ERROR, KIV_HTTP_ERROR_TLS_FAILED))
          << error->message;
      EXPECT_TRUE (g_str_has_prefix (error->message, c.refusal)) << error->message;
    }
}

// Anything that is not an absolute http or https URL fails before anything is sent.
TEST (HttpDownloadFile, RefusesWhatIsNotAnHttpUrl)
{
  const char *const urls[] = {
    "",                     // empty
    "not a url",            // no scheme at all
    "ftp://127.0.0.1/file", // libsoup would send HTTP to the FTP port
    "file:///etc/hostname", // no host; libsoup would look up an empty name
    "http://",              // a scheme and nothing else
    "https://[::1/file",    // an unclosed IPv6 literal
  };
  for (const char *url : urls)
    {
      SCOPED_TRACE (url);
      Scratch scratch;
      Result r;
      download (url, scratch.path ("target"), &r);
      EXPECT_FALSE (r.ok);
      ASSERT_NE (r.error, nullptr);
      EXPECT_EQ (r.error->domain, http_domain ());
      EXPECT_EQ (r.error->code, KIV_HTTP_ERROR_MALFORMED);
      EXPECT_TRUE (scratch.others ("").empty ());
    }

  g_autoptr (GError) error = nullptr;
  EXPECT_FALSE (http_download_file (nullptr, "/nonexistent/x", nullptr, nullptr, &error));
  EXPECT_NE (error, nullptr);
  EXPECT_FALSE (http_download_file ("http://127.0.0.1:1/", nullptr, nullptr, nullptr, nullptr));
}

// However the body is paced, it is stored whole, and each piece is reported with the total so far.
TEST (HttpDownloadFile, StoresABodyOfSeveralChunks)
{
  const bool have_tls = g_tls_backend_supports_tls (g_tls_backend_get_default ());
  TrustingSelfSigned trust;
  const std::vector<std::string> paced = { "--trickle-bytes", "20000", "--trickle-ms", "30" };
  const struct
  {
    const char *mode;
    Scheme scheme;
    std::vector<std::string> options;
    gint64 least_ms; // the pauses the server makes
  } cases[] = {
    { "normal", Scheme::http, {}, 0 },
    { "trickle", Scheme::http, paced, 9 * 30 }, // ten pieces
    { "trickle", Scheme::https, paced, 9 * 30 },
  };
  for (const auto &c : cases)
    {
      if (c.scheme == Scheme::https && !have_tls)
        continue;
      ConfigServer server (c.mode, big_body (), c.scheme, c.options);
      SCOPED_TRACE (server.url ());
      Scratch scratch;
      const auto path = scratch.path ("target");
      ASSERT_TRUE (put (path, "older copy"));

      Result r;
      const gint64 start = g_get_monotonic_time ();
      download (server.url (), path, &r);
      EXPECT_GE (g_get_monotonic_time () - start, c.least_ms * 1000);
      ASSERT_TRUE (r.ok) << r.error->message;
      EXPECT_EQ (contents (path), big_body ());
      EXPECT_TRUE (scratch.others ("target").empty ());

      ASSERT_GE (r.progress.size (), 4u);
      EXPECT_EQ (r.progress[0], "fetching " + server.url ());
      EXPECT_EQ (r.progress[1], "saving to " + path);
      const auto fetched = fetched_reports (r.progress);
      EXPECT_EQ (fetched.size (), r.progress.size () - 2);
      EXPECT_GE (fetched.size (), 2u) << "the body came in one chunk; the test proves less";
      unsigned long previous = 0;
      for (const auto &message : fetched)
        {
          unsigned long total = 0;
          ASSERT_EQ (sscanf (message.c_str (), "fetched %lu bytes", &total), 1) << message;
          EXPECT_GT (total, previous) << message;
          previous = total;
        }
      EXPECT_EQ (fetched.back (), "fetched " + std::to_string (big_body_length) + " bytes");
    }
}

TEST (HttpDownloadFile, EmptyBodyEmptiesTheFile)
{
  ConfigServer server ("normal", "");
  Scratch scratch;
  const auto path = scratch.path ("target");
  ASSERT_TRUE (put (path, "older copy"));

  Result r;
  download (server.url (), path, &r);
  EXPECT_TRUE (r.ok);
  EXPECT_EQ (contents (path), "");
  EXPECT_EQ (r.progress,
             (std::vector<std::string>{ "fetching " + server.url (), "saving to " + path }));
}

TEST (HttpDownloadFile, WorksWithoutProgressOrError)
{
  ConfigServer server ("normal", big_body ());
  Scratch scratch;
  const auto path = scratch.path ("target");
  EXPECT_TRUE (
      http_download_file (server.url ().c_str (), path.c_str (), nullptr, nullptr, nullptr));
  EXPECT_EQ (contents (path), big_body ());
  EXPECT_FALSE (http_download_file (server.url ("/missing").c_str (), path.c_str (), nullptr,
                                    nullptr, nullptr));
  EXPECT_EQ (contents (path), big_body ());
}

TEST (HttpDownloadFile, MissingFolderFailsAfterTheAnswer)
{
  ConfigServer server ("normal", big_body ());
  Scratch scratch;
  const auto path = scratch.path ("no-such-folder/target");

  Result r;
  download (server.url (), path, &r);
  EXPECT_FALSE (r.ok);
  ASSERT_NE (r.error, nullptr);
  EXPECT_TRUE (g_error_matches (r.error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND)) << r.error->message;
  EXPECT_EQ (r.progress,
             (std::vector<std::string>{ "fetching " + server.url (), "saving to " + path }));
}

// The process may write no file larger than a few bytes, so writing the body fails halfway.
TEST (HttpDownloadFile, FailedWriteKeepsTheOlderFile)
{
  ConfigServer server ("normal", big_body ());
  Scratch scratch;
  const auto path = scratch.path ("target");
  ASSERT_TRUE (put (path, "older copy"));

  rlimit saved{};
  getrlimit (RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 1;
  const auto saved_handler = signal (SIGXFSZ, SIG_IGN); // EFBIG instead of death
  ASSERT_EQ (setrlimit (RLIMIT_FSIZE, &small), 0);
  Result r;
  download (server.url (), path, &r);
  setrlimit (RLIMIT_FSIZE, &saved);
  signal (SIGXFSZ, saved_handler);

  EXPECT_FALSE (r.ok);
  ASSERT_NE (r.error, nullptr);
  EXPECT_EQ (r.error->domain, G_IO_ERROR) << r.error->message;
  EXPECT_EQ (contents (path), "older copy");
  EXPECT_TRUE (scratch.others ("target").empty ()); // no temporary file left
  EXPECT_TRUE (fetched_reports (r.progress).empty ());
}

// The close puts the new file in place; here a folder has taken the file's name meanwhile.
TEST (HttpDownloadFile, FailedCloseIsAFailure)
{
  ConfigServer server ("normal", big_body ());
  Scratch scratch;
  const auto path = scratch.path ("target");
  ASSERT_TRUE (put (path, "older copy"));

  struct Sabotage
  {
    std::string path;
    bool done = false;
  } sabotage{ path };
  auto on_progress = [] (const char *message, gpointer data) {
    auto *s = static_cast<Sabotage *> (data);
    if (!s->done && g_str_has_prefix (message, "fetched "))
      {
        s->done = true;
        g_unlink (s->path.c_str ());
        g_mkdir (s->path.c_str (), 0700);
        g_file_set_contents ((s->path + "/keep").c_str (), "", 0, nullptr);
      }
  };
  g_autoptr (GError) error = nullptr;
  EXPECT_FALSE (
      http_download_file (server.url ().c_str (), path.c_str (), on_progress, &sabotage, &error));
  EXPECT_NE (error, nullptr);
  EXPECT_TRUE (g_file_test (path.c_str (), G_FILE_TEST_IS_DIR));
  EXPECT_TRUE (scratch.others ("target").empty ()); // no temporary file left
}

// A staging file left by a killed run is removed; one that a live run holds locked is not, nor
// anything that merely looks like one.
TEST (HttpDownloadFile, RemovesOnlyAbandonedStagingFiles)
{
  ConfigServer server ("normal", big_body ());
  Scratch scratch;
  const char *const kept[] = {
    ".target.kiv-part-Live01",  // locked below, as its writer would
    "target.kiv-part-AbCdEf",   // not hidden
    ".target.kiv-part-AbCdEfG", // seven random characters
    ".goutputstream-AbCdEf",
    // Only this destination's own names: another file's staging file is that download's to
    // judge, and a name that merely looks like one may be anybody's.
    ".other.kiv-part-123456",
    ".notes.kiv-part-backup",
    ".target.kiv-part-Ab-dEf",
  };
  for (const char *name : kept)
    ASSERT_TRUE (put (scratch.path (name), "kept"));
  ASSERT_TRUE (put (scratch.path (".target.kiv-part-AbCdEf"), "abandoned"));
  const int live = open (scratch.path (kept[0]).c_str (), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ (flock (live, LOCK_EX), 0);

  Result r;
  download (server.url (), scratch.path ("target"), &r);
  close (live);
  EXPECT_TRUE (r.ok);
  auto left = scratch.others ("target");
  std::sort (left.begin (), left.end ());
  std::vector<std::string> want (std::begin (kept), std::end (kept));
  std::sort (want.begin (), want.end ());
  EXPECT_EQ (left, want);
}

// Another download to the same file while this one is writing: each puts a whole body in place,
// and the one that finishes last wins.
TEST (HttpDownloadFile, TwoDownloadsToOneFileBothSucceed)
{
  ConfigServer server ("normal", big_body ());
  ConfigServer empty ("normal", "");
  Scratch scratch;
  struct Second
  {
    std::string url, path;
    bool started = false, ok = false;
  } second{ empty.url (), scratch.path ("target") };
  auto on_progress = [] (const char *message, gpointer data) {
    auto *s = static_cast<Second *> (data);
    if (!s->started && g_str_has_prefix (message, "fetched "))
      {
        s->started = true;
        s->ok = http_download_file (s->url.c_str (), s->path.c_str (), nullptr, nullptr, nullptr);
      }
  };
  EXPECT_TRUE (http_download_file (server.url ().c_str (), second.path.c_str (), on_progress,
                                   &second, nullptr));
  EXPECT_TRUE (second.ok);
  EXPECT_TRUE (contents (second.path) == big_body ());
  EXPECT_TRUE (scratch.others ("target").empty ());
}

// The body is private while it is written; once in place it has the permission bits of the file
// it replaced, or those the umask gives a new file.
TEST (HttpDownloadFile, KeepsThePermissionBitsOfTheFileItReplaces)
{
  ConfigServer server ("normal", big_body ());
  const struct
  {
    int older_mode; // -1: no older file
    mode_t umask;
    unsigned want;
  } cases[] = { { 0604, 022, 0604 }, { 0640, 077, 0640 }, { -1, 022, 0644 }, { -1, 027, 0640 } };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.older_mode);
      Scratch scratch;
      const auto path = scratch.path ("target");
      if (c.older_mode >= 0)
        {
          ASSERT_TRUE (put (path, "older copy"));
          g_chmod (path.c_str (), c.older_mode);
        }
      // While the body is written, the only other file in the folder is the staging file.
      struct Watch
      {
        const Scratch &scratch;
        std::vector<unsigned> modes;
      } watch{ scratch, {} };
      auto on_progress = [] (const char *, gpointer data) {
        auto *w = static_cast<Watch *> (data);
        struct stat st;
        for (const auto &name : w->scratch.others ("target"))
          if (stat (w->scratch.path (name.c_str ()).c_str (), &st) == 0)
            w->modes.push_back (st.st_mode & 07777);
      };
      const mode_t saved = umask (c.umask);
      EXPECT_TRUE (
          http_download_file (server.url ().c_str (), path.c_str (), on_progress, &watch, nullptr));
      umask (saved);
      struct stat st;
      ASSERT_EQ (stat (path.c_str (), &st), 0);
      EXPECT_EQ (st.st_mode & 07777, c.want);
      EXPECT_FALSE (watch.modes.empty ());
      EXPECT_EQ (watch.modes, std::vector<unsigned> (watch.modes.size (), 0600u));
    }
}

// Servers nobody here wrote, as a configuration author starts them, and the bundled one: each
// serves the same files whole, and at once, since each closes the connection as asked.
TEST (HttpDownloadFile, ServesTheSameFilesFromServersOfEveryKind)
{
  for (const std::string &file : { std::string (served_text), big_body () })
    {
      PythonFileServer python (file);
      NginxServer nginx (file);
      ConfigServer bundled ("normal", file);
      if (!nginx.running ())
        ADD_FAILURE () << "nginx (nginx-light) did not start";
      for (const auto &url : { python.url (), nginx.url (), bundled.url () })
        {
          gint64 elapsed = 0;
          expect_stored (url, file, &elapsed);
          EXPECT_LT (elapsed, 400 * G_TIME_SPAN_MILLISECOND) << url;
        }
    }
}

// A server that keeps the connection open whatever the request asked: bytes past the announced
// length are refused even though it says keep-alive, and a body of just that length is taken
// after a short wait for an end that never comes.
TEST (HttpDownloadFile, AConnectionAskedToCloseEndsWithItsAnswer)
{
  const struct
  {
    const char *reply;
    int refused_code; // 0: the body "hello" is stored
  } cases[] = {
    { "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: keep-alive\r\n\r\nhello, and more",
      KIV_HTTP_ERROR_MALFORMED },
    { "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello, and more", KIV_HTTP_ERROR_MALFORMED },
    { "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: keep-alive\r\n\r\nhello", 0 },
    { "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 0 }, // as Python's http.server
    { "HTTP/1.0 200 OK\r\nContent-Length: 5\r\nConnection: keep-alive\r\n\r\nhello", 0 },
  };
  for (const auto &c : cases)
    {
      RawServer server (c.reply, true);
      const gint64 start = g_get_monotonic_time ();
      if (c.refused_code != 0)
        expect_refused (server.url (), guint (c.refused_code), "longer than announced");
      else
        expect_stored (server.url (), "hello");
      EXPECT_LT (g_get_monotonic_time () - start, G_TIME_SPAN_SECOND) << c.reply;
    }
}

// A slow server's body is reported as it arrives: the first report comes with the first bytes,
// long before the last ones are sent.
TEST (HttpDownloadFile, ReportsTheBodyWhileTheServerSendsIt)
{
  PythonFileServer slow (big_body (), 3, 400);
  Scratch scratch;
  TimedProgress progress;
  ASSERT_TRUE (http_download_file (slow.url ().c_str (), scratch.path ("target").c_str (),
                                   record_timed, &progress, nullptr));
  EXPECT_EQ (reports_not_streamed (progress, g_get_monotonic_time (), 2 * 400), "");
  EXPECT_EQ (contents (scratch.path ("target")), big_body ());
}
