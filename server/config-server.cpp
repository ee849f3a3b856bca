// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// kiv-config-server: serves one configuration file, and its signature when given one, over HTTPS,
// for trying the driver and for the end-to-end tests, which point the configuration host name at
// loopback. Besides serving the file it can play a broken or hostile server, so that the
// driver's failures can be seen for real.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <gio/gio.h>
#include <glib-unix.h>
#include <libsoup/soup.h>

#include "generated-config.h"

namespace
{
constexpr const char *config_path = KIV_CONFIG_PATH;
constexpr const char *signature_path = KIV_CONFIG_PATH ".sig";

enum class Mode
{
  normal,        // the file, 200
  not_found,     // 404 for every path
  redirect_loop, // 302 back to the very path that was asked for
  hop,           // 302 to the same path with "?again", which gets the file
  to_http,       // over TLS, 302 to the same path on a cleartext port that serves the file
  plain_http,    // like normal, without TLS, for looking at the traffic
  // Written by hand (see hostile_reply), each ending with the connection:
  truncate,        // announces 100 bytes more than the file, sends half of it
  chunked_cut,     // half the file as one chunk, without the terminating zero-length chunk
  gzip_cut,        // the file in gzip, announced whole, sent half
  gzip_bomb,       // gzip of --bomb-mib MiB of zeros, announced and sent whole
  two_lengths,     // the file, with two different Content-Length headers (its size and 5)
  negative_length, // the file, with "Content-Length: -5"
  partial,         // 206 with the first half of the file, though no range was asked for
  no_content,      // 204 that says "Content-Length: 100"
  until_close,     // the file with no length: the end of the connection is its end
  tls_cut,         // half the file with no length, then the TCP connection closed under TLS
  longer,          // the whole file, announced 21 bytes shorter than it is
  // Written by hand piece by piece while other connections are served (see Stream), each ending
  // with the connection, with TLS's closing message over TLS:
  trickle,         // the file with its length, --trickle-bytes every --trickle-ms milliseconds
  big,             // --big-mib MiB of generated configuration lines, with their length
  big_until_close, // the same with no length: the end of the connection is its end
  // Taken from the server and kept open:
  silent, // reads the request, then never answers nor closes the connection
};

constexpr struct
{
  const char *name;
  Mode mode;
  const char *help;
} mode_names[] = {
  { "normal", Mode::normal, "the file, 200" },
  { "not-found", Mode::not_found, "404 for every path" },
  { "redirect-loop", Mode::redirect_loop, "302 back to the very path asked for" },
  { "hop", Mode::hop, "302 to the same path with \"?again\", which gets the file" },
  { "to-http", Mode::to_http, "over TLS, 302 to the same path on a cleartext port" },
  { "plain-http", Mode::plain_http, "like normal, without TLS" },
  { "truncate", Mode::truncate, "announces 100 bytes more than the file, sends half of it" },
  { "chunked-cut", Mode::chunked_cut, "half the file as one chunk, without the last chunk" },
  { "gzip-cut", Mode::gzip_cut, "the file in gzip, announced whole, sent half" },
  { "gzip-bomb", Mode::gzip_bomb, "gzip of --bomb-mib MiB of zeros, sent whole" },
  { "two-lengths", Mode::two_lengths, "the file, with two different Content-Length headers" },
  { "negative-length", Mode::negative_length, "the file, with \"Content-Length: -5\"" },
  { "partial", Mode::partial, "206 with the first half of the file, unasked" },
  { "no-content", Mode::no_content, "204 that says \"Content-Length: 100\"" },
  { "until-close", Mode::until_close, "the file with no length, ended by the connection" },
  { "tls-cut", Mode::tls_cut, "half the file with no length, TCP closed under TLS" },
  { "longer", Mode::longer, "the whole file, announced 21 bytes shorter" },
  { "trickle", Mode::trickle, "the file, --trickle-bytes every --trickle-ms ms" },
  { "big", Mode::big, "--big-mib MiB of generated configuration, with its length" },
  { "big-until-close", Mode::big_until_close, "the same, ended by the connection" },
  { "silent", Mode::silent, "reads the request, never answers nor closes" },
};

struct Options
{
  char *cert = nullptr;
  char *key = nullptr;
  char *file = nullptr;
  char *signature = nullptr;
  char *address = nullptr;
  int port = 443;
  char *mode_name = nullptr;
  char *ready_file = nullptr;
  gboolean plain = FALSE;
  int bomb_mib = 1024;
  int trickle_bytes = 4096; // 200 KiB a second with the default pace
  int trickle_ms = 20;
  int big_mib = 64;
  Mode mode = Mode::normal;
  guint cleartext_port = 0; // to-http: where the redirect points
};

void log_request (SoupMessage *msg, const char *path, SoupClientContext *client, guint status,
                  const char *note = "")
{
  g_printerr ("kiv-config-server: %s %s from %s: %u%s\n", msg->method, path,
              soup_client_context_get_host (client), status, note);
}

// gzip of `times` copies of piece, made piece by piece so that a bomb never sits in memory
// decoded.
std::string gzip (std::string_view piece, int times)
{
  g_autoptr (GZlibCompressor) compressor = g_zlib_compressor_new (G_ZLIB_COMPRESSOR_FORMAT_GZIP, 9);
  std::string out;
  char buffer[65536];
  for (int i = 0; i < times; i++)
    {
      const auto flags = i + 1 == times ? G_CONVERTER_INPUT_AT_END : G_CONVERTER_NO_FLAGS;
      std::string_view rest = piece;
      GConverterResult result;
      do
        {
          gsize read = 0, written = 0;
          result = g_converter_convert (G_CONVERTER (compressor), rest.data (), rest.size (),
                                        buffer, sizeof buffer, flags, &read, &written, nullptr);
          rest.remove_prefix (read);
          out.append (buffer, written);
        }
      while (result != G_CONVERTER_ERROR && result != G_CONVERTER_FINISHED
             && (!rest.empty () || flags == G_CONVERTER_INPUT_AT_END));
    }
  return out;
}

std::string head (const char *status_line, const std::string &fields)
{
  return std::string ("HTTP/1.1 ") + status_line + "\r\nContent-Type: text/plain\r\n" + fields
         + "Connection: close\r\n\r\n";
}

std::string length_field (gsize length)
{
  return "Content-Length: " + std::to_string (length) + "\r\n";
}

// How many bytes the longer mode sends beyond its Content-Length.
constexpr gsize longer_by = 21;

// Answers that no server library sends, and that a client must not take for the whole file.
// Each is followed by the end of the connection, so only what it says tells where it stops.
std::string hostile_reply (const Options &options, std::string_view file)
{
  const std::string half (file.substr (0, file.size () / 2));
  switch (options.mode)
    {
    case Mode::truncate:
      return head ("200 OK", length_field (file.size () + 100)) + half;
    case Mode::chunked_cut:
      {
        g_autofree char *size = g_strdup_printf ("%zx\r\n", half.size ());
        return head ("200 OK", "Transfer-Encoding: chunked\r\n") + size + half + "\r\n";
      }
    case Mode::gzip_cut:
      {
        const std::string coded = gzip (file, 1);
        return head ("200 OK", "Content-Encoding: gzip\r\n" + length_field (coded.size ()))
               + coded.substr (0, coded.size () / 2);
      }
    case Mode::gzip_bomb:
      {
        const std::string coded = gzip (std::string (1 << 20, '\0'), options.bomb_mib);
        return head ("200 OK", "Content-Encoding: gzip\r\n" + length_field (coded.size ())) + coded;
      }
    case Mode::two_lengths:
      return head ("200 OK", length_field (file.size ()) + length_field (5)) + std::string (file);
    case Mode::negative_length:
      return head ("200 OK", "Content-Length: -5\r\n") + std::string (file);
    case Mode::partial:
      {
        g_autofree char *range = g_strdup_printf ("Content-Range: bytes 0-%zu/%zu\r\n",
                                                  half.size () - 1, file.size ());
        return head ("206 Partial Content", range + length_field (half.size ())) + half;
      }
    case Mode::no_content:
      return head ("204 No Content", length_field (100));
    case Mode::until_close:
      return head ("200 OK", "") + std::string (file);
    case Mode::tls_cut:
      return head ("200 OK", "") + half;
    case Mode::longer:
      return head ("200 OK", length_field (file.size () - std::min (file.size (), longer_by)))
             + std::string (file);
    default:
      return {};
    }
}

bool is_by_hand (Mode mode)
{
  return mode >= Mode::truncate && mode <= Mode::big_until_close;
}

// SoupServer only sends what is well formed, so the connection is taken from it and the reply
// written by hand. In tls-cut mode the TCP connection is shut under TLS, without TLS's own
// closing message, as someone on the path could do.
void send_by_hand (SoupClientContext *client, const std::string &reply, bool cut_under_tls)
{
  g_autoptr (GSocket) socket = G_SOCKET (g_object_ref (soup_client_context_get_gsocket (client)));
  g_autoptr (GIOStream) stream = soup_client_context_steal_connection (client);
  GOutputStream *out = g_io_stream_get_output_stream (stream);
  g_autoptr (GError) error = nullptr;
  if (!g_output_stream_write_all (out, reply.data (), reply.size (), nullptr, nullptr, &error))
    g_printerr ("kiv-config-server: writing the reply by hand: %s\n", error->message);
  if (cut_under_tls)
    g_socket_shutdown (socket, TRUE, TRUE, nullptr);
  else
    g_io_stream_close (stream, nullptr, nullptr);
}

// An answer written by hand piece by piece, each write waited for on the main loop so that other
// connections are served meanwhile: the head, then every piece that next makes, pace_ms apart,
// then the end of the connection, which closes TLS with its closing message.
struct Stream
{
  GIOStream *connection;
  std::string piece;                        // the one being written
  std::function<bool (std::string &)> next; // puts the next piece in its argument; false at the end
  guint pace_ms;

  ~Stream () { g_object_unref (connection); }
};

void write_piece (Stream *stream);

void end_stream (Stream *stream)
{
  g_io_stream_close_async (
      stream->connection, G_PRIORITY_DEFAULT, nullptr,
      [] (GObject *connection, GAsyncResult *result, gpointer data) {
        g_io_stream_close_finish (G_IO_STREAM (connection), result, nullptr);
        delete static_cast<Stream *> (data);
      },
      stream);
}

void piece_written (GObject *out, GAsyncResult *result, gpointer data)
{
  auto *stream = static_cast<Stream *> (data);
  g_autoptr (GError) error = nullptr;
  if (!g_output_stream_write_all_finish (G_OUTPUT_STREAM (out), result, nullptr, &error))
    g_printerr ("kiv-config-server: writing the reply by hand: %s\n", error->message);
  if (error != nullptr || !stream->next (stream->piece))
    end_stream (stream);
  else if (stream->pace_ms == 0)
    write_piece (stream);
  else
    g_timeout_add (
        stream->pace_ms,
        [] (gpointer paced) {
          write_piece (static_cast<Stream *> (paced));
          return G_SOURCE_REMOVE;
        },
        stream);
}

void write_piece (Stream *stream)
{
  g_output_stream_write_all_async (g_io_stream_get_output_stream (stream->connection),
                                   stream->piece.data (), stream->piece.size (), G_PRIORITY_DEFAULT,
                                   nullptr, piece_written, stream);
}

// Starts writing a stream on the client's connection, taken from the server.
void send_stream (SoupClientContext *client, std::string head,
                  std::function<bool (std::string &)> next, guint pace_ms)
{
  auto *stream = new Stream{ soup_client_context_steal_connection (client), std::move (head),
                             std::move (next), pace_ms };
  write_piece (stream);
}

// The file in pieces of the given size.
std::function<bool (std::string &)> pieces_of (std::string_view file, gsize size)
{
  return [file = std::string (file), size, offset = gsize (0)] (std::string &piece) mutable {
    piece = file.substr (std::min (offset, file.size ()), size);
    offset += piece.size ();
    return !piece.empty ();
  };
}

// The first `lines` lines of the generated configuration, 64 KiB at a time.
std::function<bool (std::string &)> generated_lines (guint64 lines)
{
  return [lines, n = guint64 (0)] (std::string &piece) mutable {
    piece.clear ();
    for (; n < lines && piece.size () < 65536; n++)
      piece += generated_config_line (n);
    return !piece.empty ();
  };
}

// Connections the silent mode holds: never answered, closed only when the server ends.
std::vector<GIOStream *> unanswered;

// Answers a GET in one of the modes that write it by hand.
void answer_by_hand (const Options &options, SoupClientContext *client, std::string_view file)
{
  const guint64 big_lines = guint64 (options.big_mib) * generated_lines_per_mib;
  switch (options.mode)
    {
    case Mode::trickle:
      send_stream (client, head ("200 OK", length_field (file.size ())),
                   pieces_of (file, gsize (options.trickle_bytes)), guint (options.trickle_ms));
      break;
    case Mode::big:
      send_stream (client, head ("200 OK", length_field (big_lines * generated_line_length)),
                   generated_lines (big_lines), 0);
      break;
    case Mode::big_until_close:
      send_stream (client, head ("200 OK", ""), generated_lines (big_lines), 0);
      break;
    default:
      send_by_hand (client, hostile_reply (options, file), options.mode == Mode::tls_cut);
    }
}

// A redirect elsewhere on this server: "?again" for hop, the cleartext port for to-http. NULL
// when this request is served as it is.
char *redirect_target (SoupMessage *msg, const char *path, const Options &options)
{
  SoupURI *uri = soup_message_get_uri (msg);
  if (options.mode == Mode::hop && g_strcmp0 (uri->query, "again") != 0)
    return g_strdup_printf ("%s?again", path);
  if (options.mode == Mode::to_http && uri->scheme == SOUP_URI_SCHEME_HTTPS)
    return g_strdup_printf ("http://%s:%u%s", uri->host, options.cleartext_port, path);
  return nullptr;
}

// The file served at path; false for a path that has none (404).
bool find_file (const Options &options, const char *path, const char **out_file)
{
  if (strcmp (path, config_path) == 0)
    *out_file = options.file;
  else if (strcmp (path, signature_path) == 0 && options.signature != nullptr)
    *out_file = options.signature;
  else
    return false;
  return true;
}

void serve_file (SoupServer *, SoupMessage *msg, const char *path, GHashTable *,
                 SoupClientContext *client, gpointer data)
{
  const auto *options = static_cast<const Options *> (data);
  g_autofree char *target = nullptr;
  const char *file = nullptr;

  if (options->mode == Mode::silent)
    {
      // Logged first: once its connection is taken, the client context knows no address.
      log_request (msg, path, client, 0, ", never to be answered");
      unanswered.push_back (soup_client_context_steal_connection (client));
      return;
    }
  if (options->mode == Mode::not_found || !find_file (*options, path, &file))
    {
      soup_message_set_status (msg, SOUP_STATUS_NOT_FOUND);
    }
  else if (options->mode == Mode::redirect_loop)
    {
      soup_message_set_redirect (msg, SOUP_STATUS_FOUND, path);
    }
  else if ((target = redirect_target (msg, path, *options)) != nullptr)
    {
      soup_message_set_redirect (msg, SOUP_STATUS_FOUND, target);
    }
  else if (msg->method != SOUP_METHOD_GET && msg->method != SOUP_METHOD_HEAD)
    {
      soup_message_set_status (msg, SOUP_STATUS_METHOD_NOT_ALLOWED);
    }
  else
    {
      // Read for every request, so that a script may change the file while the server runs.
      g_autofree char *contents = nullptr;
      gsize length = 0;
      g_autoptr (GError) error = nullptr;
      if (!g_file_get_contents (file, &contents, &length, &error))
        {
          g_printerr ("kiv-config-server: %s\n", error->message);
          soup_message_set_status (msg, SOUP_STATUS_INTERNAL_SERVER_ERROR);
        }
      else if (is_by_hand (options->mode) && msg->method == SOUP_METHOD_GET)
        {
          log_request (msg, path, client, 0, ", answered by hand");
          answer_by_hand (*options, client, std::string_view (contents, length));
          return;
        }
      else
        {
          const char *type
              = file == options->signature ? "application/pgp-signature" : "text/plain";
          soup_message_set_response (msg, type, SOUP_MEMORY_TAKE,
                                     static_cast<char *> (g_steal_pointer (&contents)), length);
          soup_message_set_status (msg, SOUP_STATUS_OK);
          // An HTTP/1.0 client that asks to keep the connection gets it kept, as nginx and Apache
          // keep it; SoupServer keeps it only when the answer says so.
          if (soup_message_get_http_version (msg) == SOUP_HTTP_1_0
              && soup_message_headers_header_contains (msg->request_headers, "Connection",
                                                       "keep-alive"))
            soup_message_headers_replace (msg->response_headers, "Connection", "keep-alive");
        }
    }
  log_request (msg, path, client, msg->status_code);
}

bool parse_mode (const char *name, Mode *out_mode)
{
  for (const auto &entry : mode_names)
    if (g_strcmp0 (name, entry.name) == 0)
      {
        *out_mode = entry.mode;
        return true;
      }
  return false;
}

bool parse_options (int *argc, char ***argv, Options *options, GError **error)
{
  const GOptionEntry entries[] = {
    { "cert", 0, 0, G_OPTION_ARG_FILENAME, &options->cert, "PEM certificate (chain) of the server",
      "FILE" },
    { "key", 0, 0, G_OPTION_ARG_FILENAME, &options->key, "PEM private key of the certificate",
      "FILE" },
    { "file", 0, 0, G_OPTION_ARG_FILENAME, &options->file,
      "The configuration file to serve at " KIV_CONFIG_PATH, "FILE" },
    { "signature", 0, 0, G_OPTION_ARG_FILENAME, &options->signature,
      "Its signature, served at " KIV_CONFIG_PATH ".sig (404 there without it)", "FILE" },
    { "address", 0, 0, G_OPTION_ARG_STRING, &options->address,
      "IP address to listen on (default 127.0.0.1)", "ADDRESS" },
    { "port", 0, 0, G_OPTION_ARG_INT, &options->port,
      "Port to listen on (default 443; 0 picks a free one)", "PORT" },
    { "mode", 0, 0, G_OPTION_ARG_STRING, &options->mode_name,
      "How to answer: normal (the default) or one of the modes below", "MODE" },
    { "plain", 0, 0, G_OPTION_ARG_NONE, &options->plain, "Serve without TLS, in any mode",
      nullptr },
    { "bomb-mib", 0, 0, G_OPTION_ARG_INT, &options->bomb_mib,
      "Decoded size of the gzip-bomb body in MiB (default 1024)", "MIB" },
    { "trickle-bytes", 0, 0, G_OPTION_ARG_INT, &options->trickle_bytes,
      "Size of each piece in trickle mode (default 4096)", "BYTES" },
    { "trickle-ms", 0, 0, G_OPTION_ARG_INT, &options->trickle_ms,
      "Pause between two pieces in trickle mode (default 20)", "MS" },
    { "big-mib", 0, 0, G_OPTION_ARG_INT, &options->big_mib,
      "Size of the body in the big modes in MiB (default 64)", "MIB" },
    { "ready-file", 0, 0, G_OPTION_ARG_FILENAME, &options->ready_file,
      "Once listening, write the port number to FILE", "FILE" },
    { nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr },
  };
  g_autoptr (GOptionContext) context = g_option_context_new ("- serve the kiv configuration file");
  g_option_context_add_main_entries (context, entries, nullptr);
  std::string modes = "Modes:";
  for (const auto &entry : mode_names)
    modes += std::string ("\n  ") + entry.name + std::string (18 - strlen (entry.name), ' ')
             + entry.help;
  g_option_context_set_description (context, modes.c_str ());
  if (!g_option_context_parse (context, argc, argv, error))
    return false;

  if (*argc > 1)
    {
      g_set_error (error, G_OPTION_ERROR, G_OPTION_ERROR_FAILED, "Unexpected argument %s",
                   (*argv)[1]);
      return false;
    }
  if (options->mode_name != nullptr && !parse_mode (options->mode_name, &options->mode))
    {
      g_set_error (error, G_OPTION_ERROR, G_OPTION_ERROR_BAD_VALUE, "Unknown mode %s",
                   options->mode_name);
      return false;
    }
  options->plain = options->plain || options->mode == Mode::plain_http;
  if (options->file == nullptr && options->mode != Mode::not_found
      && options->mode != Mode::redirect_loop && options->mode != Mode::silent)
    {
      g_set_error_literal (error, G_OPTION_ERROR, G_OPTION_ERROR_FAILED, "--file is required");
      return false;
    }
  if (!options->plain && (options->cert == nullptr || options->key == nullptr))
    {
      g_set_error_literal (error, G_OPTION_ERROR, G_OPTION_ERROR_FAILED,
                           "--cert and --key are required (except with --plain)");
      return false;
    }
  if (options->trickle_bytes < 1 || options->trickle_ms < 0 || options->big_mib < 0)
    {
      g_set_error_literal (error, G_OPTION_ERROR, G_OPTION_ERROR_BAD_VALUE,
                           "--trickle-bytes must be positive, --trickle-ms and --big-mib not "
                           "negative");
      return false;
    }
  if (options->port < 0 || options->port > 65535)
    {
      g_set_error (error, G_OPTION_ERROR, G_OPTION_ERROR_BAD_VALUE, "Bad port %d", options->port);
      return false;
    }
  return true;
}

// The port actually bound for scheme: the one asked for, or the free one the system chose for
// port 0.
guint listening_port (SoupServer *server, const char *scheme)
{
  GSList *uris = soup_server_get_uris (server);
  guint port = 0;
  for (GSList *item = uris; item != nullptr; item = item->next)
    if (static_cast<SoupURI *> (item->data)->scheme == scheme)
      port = static_cast<SoupURI *> (item->data)->port;
  g_slist_free_full (uris, reinterpret_cast<GDestroyNotify> (soup_uri_free));
  return port;
}

SoupServer *start_server (Options &options, GError **error)
{
  g_autoptr (GTlsCertificate) certificate = nullptr;
  if (!options.plain)
    {
      certificate = g_tls_certificate_new_from_files (options.cert, options.key, error);
      if (certificate == nullptr)
        return nullptr;
    }

  g_autoptr (SoupServer) server
      = soup_server_new (SOUP_SERVER_SERVER_HEADER, "kiv-config-server",
                         SOUP_SERVER_TLS_CERTIFICATE, certificate, nullptr);
  if (server == nullptr)
    {
      g_set_error_literal (error, G_IO_ERROR, G_IO_ERROR_FAILED, "Cannot create the server");
      return nullptr;
    }
  soup_server_add_handler (server, nullptr, serve_file, &options, nullptr);

  const char *address = options.address != nullptr ? options.address : "127.0.0.1";
  g_autoptr (GSocketAddress) socket_address
      = g_inet_socket_address_new_from_string (address, guint (options.port));
  if (socket_address == nullptr)
    {
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT, "Bad address %s", address);
      return nullptr;
    }
  const auto listen_options
      = options.plain ? SoupServerListenOptions (0) : SOUP_SERVER_LISTEN_HTTPS;
  if (!soup_server_listen (server, socket_address, listen_options, error))
    return nullptr;
  if (options.mode == Mode::to_http && !options.plain)
    {
      // The cleartext side, on a free port of the same address.
      g_autoptr (GSocketAddress) cleartext = g_inet_socket_address_new_from_string (address, 0);
      if (!soup_server_listen (server, cleartext, SoupServerListenOptions (0), error))
        return nullptr;
      options.cleartext_port = listening_port (server, SOUP_URI_SCHEME_HTTP);
    }
  return static_cast<SoupServer *> (g_steal_pointer (&server));
}

gboolean quit_loop (gpointer loop)
{
  g_main_loop_quit (static_cast<GMainLoop *> (loop));
  return G_SOURCE_REMOVE;
}
} // namespace

int main (int argc, char **argv)
{
  Options options;
  g_autoptr (GError) error = nullptr;
  if (!parse_options (&argc, &argv, &options, &error))
    {
      g_printerr ("kiv-config-server: %s\n", error->message);
      return 2;
    }

  g_autoptr (SoupServer) server = start_server (options, &error);
  if (server == nullptr)
    {
      g_printerr ("kiv-config-server: %s\n", error->message);
      return 1;
    }

  const guint port
      = listening_port (server, options.plain ? SOUP_URI_SCHEME_HTTP : SOUP_URI_SCHEME_HTTPS);
  g_printerr ("kiv-config-server: listening on %s port %u (%s)\n",
              options.address != nullptr ? options.address : "127.0.0.1", port,
              options.mode_name != nullptr ? options.mode_name : "normal");
  if (options.ready_file != nullptr)
    {
      // Written whole under a temporary name and renamed, so a script that waits for the file
      // to be non-empty never reads half a number.
      g_autofree char *text = g_strdup_printf ("%u\n", port);
      if (!g_file_set_contents (options.ready_file, text, -1, &error))
        {
          g_printerr ("kiv-config-server: %s\n", error->message);
          return 1;
        }
    }

  g_autoptr (GMainLoop) loop = g_main_loop_new (nullptr, FALSE);
  g_unix_signal_add (SIGTERM, quit_loop, loop);
  g_unix_signal_add (SIGINT, quit_loop, loop);
  g_main_loop_run (loop);
  return 0;
}
