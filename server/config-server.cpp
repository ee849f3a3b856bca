// kiv-config-server: serves one configuration file, and its signature when given one, over HTTPS,
// for trying the driver and for the end-to-end tests, which point the configuration host name at
// loopback. Besides serving the file it can play a broken or hostile server, so that the
// driver's failures can be seen for real.
#include <cstdio>
#include <cstring>
#include <string_view>

#include <gio/gio.h>
#include <glib-unix.h>
#include <libsoup/soup.h>

namespace
{
constexpr const char *config_path = "/gfx/kiv-config.cfg";
constexpr const char *signature_path = "/gfx/kiv-config.cfg.sig";

enum class Mode
{
  normal,        // the file, 200
  not_found,     // 404 for every path
  redirect_loop, // 302 back to the very path that was asked for
  truncate,      // announces the full length, sends half the file, closes the connection
  plain_http,    // like normal, without TLS, for looking at the traffic
};

constexpr struct
{
  const char *name;
  Mode mode;
} mode_names[] = {
  { "normal", Mode::normal },
  { "not-found", Mode::not_found },
  { "redirect-loop", Mode::redirect_loop },
  { "truncate", Mode::truncate },
  { "plain-http", Mode::plain_http },
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
  Mode mode = Mode::normal;
};

void log_request (SoupMessage *msg, const char *path, SoupClientContext *client, guint status,
                  const char *note = "")
{
  g_printerr ("kiv-config-server: %s %s from %s: %u%s\n", msg->method, path,
              soup_client_context_get_host (client), status, note);
}

// A reply whose Content-Length promises more than the connection delivers. SoupServer always
// sends what it announces, so the connection is taken from it and the bytes are written by hand.
// "Connection: close" matters: on a connection that could be kept open, the client library sees
// the early end for what it is, while here it may take the end of the stream for the end of the
// body, which is the case the client has to catch on its own.
void send_cut_short (SoupClientContext *client, const char *contents, gsize length)
{
  g_autoptr (GIOStream) stream = soup_client_context_steal_connection (client);
  const gsize sent = length / 2;
  g_autofree char *head = g_strdup_printf ("HTTP/1.1 200 OK\r\n"
                                           "Content-Type: text/plain\r\n"
                                           "Content-Length: %" G_GSIZE_FORMAT "\r\n"
                                           "Connection: close\r\n"
                                           "\r\n",
                                           length + 100);
  GOutputStream *out = g_io_stream_get_output_stream (stream);
  g_autoptr (GError) error = nullptr;
  if (!g_output_stream_write_all (out, head, strlen (head), nullptr, nullptr, &error)
      || !g_output_stream_write_all (out, contents, sent, nullptr, nullptr, &error))
    g_printerr ("kiv-config-server: writing the cut-short reply: %s\n", error->message);
  g_io_stream_close (stream, nullptr, nullptr);
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
  const char *file = nullptr;

  if (options->mode == Mode::not_found || !find_file (*options, path, &file))
    {
      soup_message_set_status (msg, SOUP_STATUS_NOT_FOUND);
    }
  else if (options->mode == Mode::redirect_loop)
    {
      soup_message_set_redirect (msg, SOUP_STATUS_FOUND, path);
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
      else if (options->mode == Mode::truncate && msg->method == SOUP_METHOD_GET)
        {
          log_request (msg, path, client, SOUP_STATUS_OK, ", cut short");
          send_cut_short (client, contents, length);
          return;
        }
      else
        {
          const char *type
              = file == options->signature ? "application/pgp-signature" : "text/plain";
          soup_message_set_response (msg, type, SOUP_MEMORY_TAKE,
                                     static_cast<char *> (g_steal_pointer (&contents)), length);
          soup_message_set_status (msg, SOUP_STATUS_OK);
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
      "The configuration file to serve at /gfx/kiv-config.cfg", "FILE" },
    { "signature", 0, 0, G_OPTION_ARG_FILENAME, &options->signature,
      "Its signature, served at /gfx/kiv-config.cfg.sig (404 there without it)", "FILE" },
    { "address", 0, 0, G_OPTION_ARG_STRING, &options->address,
      "IP address to listen on (default 127.0.0.1)", "ADDRESS" },
    { "port", 0, 0, G_OPTION_ARG_INT, &options->port,
      "Port to listen on (default 443; 0 picks a free one)", "PORT" },
    { "mode", 0, 0, G_OPTION_ARG_STRING, &options->mode_name,
      "normal, not-found, redirect-loop, truncate or plain-http (default normal)", "MODE" },
    { "ready-file", 0, 0, G_OPTION_ARG_FILENAME, &options->ready_file,
      "Once listening, write the port number to FILE", "FILE" },
    { nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr },
  };
  g_autoptr (GOptionContext) context = g_option_context_new ("- serve the kiv configuration file");
  g_option_context_add_main_entries (context, entries, nullptr);
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
  if (options->file == nullptr && options->mode != Mode::not_found
      && options->mode != Mode::redirect_loop)
    {
      g_set_error_literal (error, G_OPTION_ERROR, G_OPTION_ERROR_FAILED, "--file is required");
      return false;
    }
  if (options->mode != Mode::plain_http && (options->cert == nullptr || options->key == nullptr))
    {
      g_set_error_literal (error, G_OPTION_ERROR, G_OPTION_ERROR_FAILED,
                           "--cert and --key are required (except in plain-http mode)");
      return false;
    }
  if (options->port < 0 || options->port > 65535)
    {
      g_set_error (error, G_OPTION_ERROR, G_OPTION_ERROR_BAD_VALUE, "Bad port %d", options->port);
      return false;
    }
  return true;
}

SoupServer *start_server (const Options &options, GError **error)
{
  g_autoptr (GTlsCertificate) certificate = nullptr;
  if (options.mode != Mode::plain_http)
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
  soup_server_add_handler (server, nullptr, serve_file, const_cast<Options *> (&options), nullptr);

  const char *address = options.address != nullptr ? options.address : "127.0.0.1";
  g_autoptr (GSocketAddress) socket_address
      = g_inet_socket_address_new_from_string (address, guint (options.port));
  if (socket_address == nullptr)
    {
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT, "Bad address %s", address);
      return nullptr;
    }
  const auto listen_options
      = options.mode == Mode::plain_http ? SoupServerListenOptions (0) : SOUP_SERVER_LISTEN_HTTPS;
  if (!soup_server_listen (server, socket_address, listen_options, error))
    return nullptr;
  return static_cast<SoupServer *> (g_steal_pointer (&server));
}

// The port actually bound: the one asked for, or the free one the system chose for port 0.
guint listening_port (SoupServer *server)
{
  GSList *uris = soup_server_get_uris (server);
  const guint port = uris != nullptr ? static_cast<SoupURI *> (uris->data)->port : 0;
  g_slist_free_full (uris, reinterpret_cast<GDestroyNotify> (soup_uri_free));
  return port;
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

  const guint port = listening_port (server);
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
