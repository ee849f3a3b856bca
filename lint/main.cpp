// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// kiv-config-lint: checks an installer configuration file, or previews what a machine gets from
// it, through the back end's own section walk, parser and dump.
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

#include <glib.h>
#include <glib/gstdio.h>
#include <json-glib/json-glib.h>

#include "check.h"
#include "dump-private.h"
#include "net.h"
#include "parse-private.h"

namespace
{
constexpr int status_clean = 0, status_errors = 1, status_unusable = 2;

struct Options
{
  gboolean preview = FALSE, all = FALSE, json = FALSE, strict = FALSE;
  char *config_id = nullptr, *kernel = nullptr, *arch = nullptr;

  Options () = default;
  Options (const Options &) = delete;
  Options &operator= (const Options &) = delete;
  ~Options ()
  {
    g_free (config_id);
    g_free (kernel);
    g_free (arch);
  }
};

int fail (const std::string &reason)
{
  fprintf (stderr, "kiv-config-lint: %s\n", reason.c_str ());
  return status_unusable;
}

// Why the options cannot be used together, or NULL.
const char *conflict (const Options &options)
{
  if (options.preview)
    {
      if (options.strict)
        return "--strict is for checking, not for --preview";
      if (options.all && options.config_id != nullptr)
        return "--all previews every section: leave out --config-id";
      return nullptr;
    }
  if (options.all)
    return "--all needs --preview";
  if (options.config_id != nullptr || options.kernel != nullptr || options.arch != nullptr)
    return "--config-id, --kernel and --arch need --preview";
  return nullptr;
}

// Removes a temporary file when the scope ends, whatever happened to it.
struct TemporaryFile
{
  char *path = nullptr;
  ~TemporaryFile ()
  {
    if (path != nullptr)
      g_unlink (path);
    g_free (path);
  }
};

// Fetches url with the back end's own download, into a file of this process's own.
bool fetch (const char *url, char **out_contents, gsize *out_length, GError **error)
{
  TemporaryFile file;
  const int fd = g_file_open_tmp ("kiv-config-lint-XXXXXX", &file.path, error);
  if (fd < 0)
    return false;
  close (fd);
  return http_download_file (url, file.path, nullptr, nullptr, error)
         && g_file_get_contents (file.path, out_contents, out_length, error);
}

// The bytes of FILE: a path, "-" for standard input, or an http or https URL.
bool read_input (const char *name, std::string &out_bytes, GError **error)
{
  g_autofree char *contents = nullptr;
  gsize length = 0;
  const char *scheme = g_uri_peek_scheme (name);
  bool ok;
  if (strcmp (name, "-") == 0)
    ok = g_file_get_contents ("/dev/stdin", &contents, &length, error);
  else if (g_strcmp0 (scheme, "http") == 0 || g_strcmp0 (scheme, "https") == 0)
    ok = fetch (name, &contents, &length, error);
  else
    ok = g_file_get_contents (name, &contents, &length, error);
  if (ok)
    out_bytes.assign (contents, length);
  return ok;
}

void print_json (JsonBuilder *builder)
{
  g_autoptr (JsonNode) root = json_builder_get_root (builder);
  g_autoptr (JsonGenerator) generator = json_generator_new ();
  json_generator_set_root (generator, root);
  json_generator_set_pretty (generator, TRUE);
  gsize length = 0;
  g_autofree char *data = json_generator_to_data (generator, &length);
  fwrite (data, 1, length, stdout);
  fputc ('\n', stdout);
}

// JSON strings are UTF-8: bytes that are not become U+FFFD.
void add_string (JsonBuilder *builder, std::string_view text)
{
  g_autofree char *valid = g_utf8_make_valid (text.data (), gssize (text.size ()));
  json_builder_add_string_value (builder, valid);
}

const char *severity_name (Severity severity)
{
  return severity == Severity::error ? "error" : "warning";
}

int report (const char *name, const std::vector<Diagnostic> &diagnostics, const Options &options)
{
  const char *shown = strcmp (name, "-") == 0 ? "<stdin>" : name;
  bool has_errors = false;
  for (const auto &diagnostic : diagnostics)
    has_errors |= diagnostic.severity == Severity::error;

  if (options.json)
    {
      g_autoptr (JsonBuilder) builder = json_builder_new ();
      json_builder_begin_array (builder);
      for (const auto &diagnostic : diagnostics)
        {
          json_builder_begin_object (builder);
          json_builder_set_member_name (builder, "line");
          json_builder_add_int_value (builder, gint64 (diagnostic.line));
          json_builder_set_member_name (builder, "severity");
          json_builder_add_string_value (builder, severity_name (diagnostic.severity));
          json_builder_set_member_name (builder, "message");
          add_string (builder, diagnostic.message);
          json_builder_end_object (builder);
        }
      json_builder_end_array (builder);
      print_json (builder);
    }
  else
    for (const auto &diagnostic : diagnostics)
      printf ("%s:%zu: %s: %s\n", shown, diagnostic.line, severity_name (diagnostic.severity),
              diagnostic.message.c_str ());

  return has_errors || (options.strict && !diagnostics.empty ()) ? status_errors : status_clean;
}

// Remembers the header line the section walk selects.
struct Selection final : ParseObserver
{
  std::size_t line = 0;
  void section_selected (std::size_t line_number, std::string_view) override { line = line_number; }
};

void add_lists (JsonBuilder *builder, const Configuration *config)
{
  json_builder_begin_object (builder);
  for (const auto &list : configuration_lists)
    {
      json_builder_set_member_name (builder, list.name);
      const GPtrArray *values = config->*list.member;
      if (values == nullptr)
        {
          json_builder_add_null_value (builder);
          continue;
        }
      json_builder_begin_array (builder);
      for (guint i = 0; i < values->len; i++)
        add_string (builder, static_cast<const char *> (g_ptr_array_index (values, i)));
      json_builder_end_array (builder);
    }
  json_builder_end_object (builder);
}

// The lists each machine gets, parsed and dumped as get_configuration parses and dumps them.
int preview (std::string_view text, const Options &options)
{
  struct utsname uts = {};
  if (uname (&uts) != 0)
    return fail ("uname failed");
  // This machine unless the options describe another: uname's machine name, which the back end's
  // distribution record holds too, and the kernel release the parser itself reads.
  HostFacts host = host_facts (nullptr);
  host.machine = options.arch != nullptr ? options.arch : uts.machine;
  if (options.kernel != nullptr)
    host.kernel_release = options.kernel;

  g_autoptr (JsonBuilder) builder = json_builder_new ();
  json_builder_begin_array (builder);
  const auto show
      = [&] (std::string_view config_id, std::string_view header, const Configuration *config) {
          if (!options.json)
            {
              if (options.all)
                printf ("%.*s\n", int (header.size ()), header.data ());
              dump_configuration (stdout, config);
              return;
            }
          json_builder_begin_object (builder);
          json_builder_set_member_name (builder, "config-id");
          add_string (builder, config_id);
          json_builder_set_member_name (builder, "lists");
          add_lists (builder, config);
          json_builder_end_object (builder);
        };

  if (options.all)
    {
      // A header whose config-id selects an earlier line is read by no machine.
      for (const auto &header : section_headers (text))
        {
          if (header.config_id.empty ())
            continue;
          g_autoptr (Configuration) config = new_configuration ();
          Selection selection;
          parse_section (config, text, header.config_id, host, &selection);
          if (selection.line == header.line)
            show (header.config_id, header.text, config);
        }
    }
  else
    {
      g_autofree char *config_id = nullptr;
      if (options.config_id != nullptr)
        config_id = g_strdup (options.config_id);
      else if (const DistroInformation *distro = get_distro_information ())
        config_id = config_id_for (distro);
      else
        return fail ("this machine has no distribution information (neither lsb_release "
                     "nor /etc/fedora-release): give --config-id");
      g_autoptr (Configuration) config = new_configuration ();
      parse_section (config, text, config_id, host);
      show (config_id, {}, config);
    }

  json_builder_end_array (builder);
  if (options.json)
    print_json (builder);
  return status_clean;
}

} // namespace

int main (int argc, char **argv)
{
  Options options;
  const GOptionEntry entries[] = {
    { "preview", 0, 0, G_OPTION_ARG_NONE, &options.preview,
      "Print the lists one machine gets from FILE instead of checking it", nullptr },
    { "all", 0, 0, G_OPTION_ARG_NONE, &options.all,
      "With --preview: every section of FILE, each after its header line", nullptr },
    { "config-id", 0, 0, G_OPTION_ARG_FILENAME, &options.config_id,
      "The machine's config-id, such as '[Ubuntu jammy]'", "ID" },
    { "kernel", 0, 0, G_OPTION_ARG_FILENAME, &options.kernel,
      "The machine's kernel release, such as 5.15.0-91-generic", "RELEASE" },
    { "arch", 0, 0, G_OPTION_ARG_FILENAME, &options.arch,
      "The machine's architecture as uname names it, such as i686", "MACHINE" },
    { "json", 0, 0, G_OPTION_ARG_NONE, &options.json, "Write the diagnostics or lists as JSON",
      nullptr },
    { "strict", 0, 0, G_OPTION_ARG_NONE, &options.strict, "Fail on warnings too", nullptr },
    {}, // the end of the table
  };
  g_autoptr (GOptionContext) context = g_option_context_new ("FILE");
  g_option_context_set_summary (
      context, "Checks an installer configuration file, or previews what a machine gets from it.\n"
               "FILE is a path, - for standard input, or an http or https URL.");
  g_option_context_add_main_entries (context, entries, nullptr);
  g_autoptr (GError) error = nullptr;
  if (!g_option_context_parse (context, &argc, &argv, &error))
    return fail (error->message);
  if (argc != 2)
    return fail (argc < 2 ? "no FILE given" : "more than one FILE given");
  if (const char *reason = conflict (options))
    return fail (reason);

  // The back end logs what it skips; the diagnostics say it better, and a preview shows only the
  // lists. Critical messages still show: they mean a fault in this program.
  g_log_set_writer_func (
      [] (GLogLevelFlags level, const GLogField *fields, gsize n_fields, gpointer user_data) {
        if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL)) == 0)
          return G_LOG_WRITER_HANDLED;
        return g_log_writer_default (level, fields, n_fields, user_data);
      },
      nullptr, nullptr);

  const char *name = argv[1];
  std::string bytes;
  if (!read_input (name, bytes, &error))
    return fail (std::string ("cannot read ") + name + ": " + error->message);

  if (options.preview)
    return preview (configuration_text (bytes), options);
  return report (name, check_configuration (bytes), options);
}
