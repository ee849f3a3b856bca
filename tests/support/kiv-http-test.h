// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// kiv-http-test.h: what the tests of downloads share: servers on loopback (the bundled
// configuration server run as a process of its own, and a raw socket for answers no server
// library would send), a scratch folder, and the progress a download reports. Nothing here loads
// an HTTP library, so a program using it runs against the download built with either libsoup.
// Needs no test framework: a server that cannot start says so on standard error and has port 0.
//
// Linking this kit sets GIO_USE_PROXY_RESOLVER=dummy before main: a proxy named in the
// environment would carry the tests' requests off the machine.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gio/gio.h>

// A private folder, removed with whatever the test left in it.
class Scratch
{
public:
  Scratch ();
  ~Scratch ();
  Scratch (const Scratch &) = delete;
  Scratch &operator= (const Scratch &) = delete;

  std::string path (const char *name) const;
  // Everything in the folder but the name given, such as a temporary file left behind.
  std::vector<std::string> others (std::string_view keep) const;

private:
  char *dir_;
};

// A file's bytes, or "(unreadable)".
std::string contents (const std::string &path);

// Writes text to path; false when it cannot.
bool put (const std::string &path, std::string_view text);

// A ProgressFunc that appends each message to the std::vector<std::string> its data points to.
void record (const char *message, gpointer user_data);

// Progress messages with the monotonic time each arrived at.
struct TimedProgress
{
  std::vector<std::string> messages;
  std::vector<gint64> times;
};

// A ProgressFunc that appends each message and its time to the TimedProgress its data points to.
void record_timed (const char *message, gpointer user_data);

// Why a download that ended at end, from a server that paused pause_ms in all while sending, did
// not report its body while it came, or an empty string: the first "fetched" report must come
// most of the pauses before the end. (How soon it follows the first bytes is for bench/ to
// measure: a loaded machine delays a thread by more than that.)
std::string reports_not_streamed (const TimedProgress &progress, gint64 end, int pause_ms);

// The "fetched N bytes" reports among the progress messages, in order.
std::vector<std::string> fetched_reports (const std::vector<std::string> &progress);

// A certificate and its key, in one PEM text, for 127.0.0.1 and localhost. Trusted by nobody, so
// a client that checks certificates must refuse it unless a test trusts it (TrustingSelfSigned).
extern const char *const self_signed_pem;

// A certificate authority that certified nothing the tests serve: trusted alone, it makes every
// server here an untrusted one.
extern const char *const other_authority_pem;

// For as long as it lives, the process trusts self_signed_pem and nothing else.
class TrustingSelfSigned
{
public:
  TrustingSelfSigned ();
  ~TrustingSelfSigned ();
  TrustingSelfSigned (const TrustingSelfSigned &) = delete;
  TrustingSelfSigned &operator= (const TrustingSelfSigned &) = delete;

private:
  Scratch scratch_;
};

// Sends the same bytes in answer to every connection on 127.0.0.1 and closes it, whatever the
// bytes promise, or with keep_open holds it open after them while the server lives, whatever the
// request asked; or, made with never_answer, accepts every connection and then neither sends
// anything nor closes it, as a server that hangs does.
class RawServer
{
public:
  struct NeverAnswer
  {
  };
  static constexpr NeverAnswer never_answer{};

  explicit RawServer (std::string reply, bool keep_open = false);
  explicit RawServer (NeverAnswer);
  ~RawServer ();
  RawServer (const RawServer &) = delete;
  RawServer &operator= (const RawServer &) = delete;

  std::string url () const;
  // How many connections it has accepted so far.
  int connections () const { return connections_; }

private:
  void start ();
  void serve ();

  std::string reply_;
  bool answers_ = true, keep_open_ = false;
  int fd_ = -1;
  guint16 port_ = 0;
  std::atomic<int> connections_ = 0;
  std::vector<int> held_; // the connections never answered, closed with the server
  std::thread thread_;
};

// A port on 127.0.0.1 where connect() hangs. The listener's queue of connections waiting to be
// accepted is filled with connections the kit makes and never accepts; the kernel then drops every
// further SYN, so a client stays in SYN_SENT, retrying, for about two minutes before it fails.
class StalledPort
{
public:
  StalledPort ();
  ~StalledPort ();
  StalledPort (const StalledPort &) = delete;
  StalledPort &operator= (const StalledPort &) = delete;

  // 0 when the queue could not be filled.
  guint16 port () const { return port_; }
  std::string url () const;

private:
  int listener_ = -1;
  guint16 port_ = 0;
  std::vector<int> queued_;
};

// A name server on 127.0.0.1:53 that reads every query and answers none, so that a lookup waits
// until it is cancelled (or, uncancelled, until the resolver gives up after some ten seconds).
// isolated-network.sh names 127.0.0.1 as the only name server; without this server nothing
// listens there and a lookup fails at once. Port 53 can be had only in the test's own namespace.
class SilentNameServer
{
public:
  SilentNameServer ();
  ~SilentNameServer ();
  SilentNameServer (const SilentNameServer &) = delete;
  SilentNameServer &operator= (const SilentNameServer &) = delete;

  bool listening () const { return fd_ >= 0; }
  // How many queries it has read so far.
  int queries () const { return queries_; }

private:
  int fd_ = -1;
  std::atomic<int> queries_ = 0;
  std::thread thread_;
};

enum class Scheme
{
  http,
  https // with self_signed_pem as the server's certificate
};

// The body the bundled server sends in its big modes with --big-mib mib.
std::string generated_config (int mib);

// A server program run for a test: started with "--port 0 --ready-file FILE" added to its
// arguments, waited for until it has written its port to FILE, and ended with the object.
class ServerProcess
{
public:
  ServerProcess () = default;
  ~ServerProcess ();
  ServerProcess (const ServerProcess &) = delete;
  ServerProcess &operator= (const ServerProcess &) = delete;

  // Runs argv (a program, looked up in PATH, and its arguments) with its standard error silenced
  // and ready_file as its ready file; false, said on standard error, if it did not start within
  // five seconds.
  bool start (std::vector<std::string> argv, const std::string &ready_file);
  // Runs argv as start does, for a program that cannot write a ready file: it is told to listen on
  // port, and waited for until it accepts a connection there.
  bool start_on_port (const std::vector<std::string> &argv, guint16 port);
  // 0 until it has started.
  guint port () const { return port_; }

private:
  bool spawn (const std::vector<std::string> &argv);

  GSubprocess *process_ = nullptr;
  guint port_ = 0;
};

// A port of 127.0.0.1 that was free a moment ago, for a server that cannot pick its own.
guint16 free_loopback_port ();

// The bundled configuration server (server/config-server.cpp) in one of its modes, on a free
// port of 127.0.0.1, serving file_text at KIV_CONFIG_PATH, with any further options given.
class ConfigServer
{
public:
  ConfigServer (const char *mode, std::string_view file_text, Scheme scheme = Scheme::http,
                const std::vector<std::string> &options = {});

  std::string url (std::string_view path = KIV_CONFIG_PATH) const;

private:
  Scratch scratch_;
  const std::string scheme_;
  ServerProcess process_;
};

// tests/support/old-tls-server.py on a free port of 127.0.0.1: a server that speaks TLS 1.1 only
// (or TLS 1.0 only), shows self_signed_pem, and answers every request with file_text. OpenSSL
// takes these versions only at its lowest security level, which the script asks for.
class OldTlsServer
{
public:
  enum class Version
  {
    tls1_0,
    tls1_1
  };
  explicit OldTlsServer (std::string_view file_text, Version version = Version::tls1_1);

  std::string url () const;

private:
  Scratch scratch_;
  ServerProcess process_;
};

// tests/support/python-file-server.py, Python's own http.server with its HTTP/1.1 handler, on a
// free port of 127.0.0.1, answering every GET with file_text and its length; in pieces pieces with
// pause_ms before each one after the first.
class PythonFileServer
{
public:
  explicit PythonFileServer (std::string_view file_text, int pieces = 1, int pause_ms = 0);

  std::string url () const;

private:
  Scratch scratch_;
  ServerProcess process_;
};

// nginx (Debian's nginx-light), as a distribution configures nothing more than a root, run in the
// foreground as one process on a free port of 127.0.0.1 and serving file_text at KIV_CONFIG_PATH.
// Its port is 0 when no nginx can be run here.
class NginxServer
{
public:
  explicit NginxServer (std::string_view file_text);

  bool running () const { return process_.port () != 0; }
  std::string url () const;

private:
  Scratch scratch_;
  ServerProcess process_;
};
