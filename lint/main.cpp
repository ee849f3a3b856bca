// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// kiv-config-lint: checks installer configuration files, or previews what a machine gets from
// one, through the back end's own section walk, parser and dump.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

#include <glib.h>
#include <json-glib/json-glib.h>

#include "check.h"
#include "download-private.h"
#include "dump-private.h"
#include "host-private.h"
#include "net.h"
#include "parse-private.h"

namespace
{
constexpr int status_clean = 0, status_errors = 1, status_unusable = 2;

// The most that is read of one FILE. A configuration file holds some kilobytes, and the back end
// is measured on 50 MiB; an endless stream (/dev/zero, a FIFO whose writer never stops) must end
// in a message, not in exhausted memory.
constexpr std::size_t most_mib = 128, most_bytes = most_mib << 20;

struct Options
{
  gboolean preview = FALSE, all = FALSE, json = FALSE, strict = FALSE, quiet = FALSE,
           version = FALSE;
  char *config_id = nullptr, *kernel = nullptr, *arch = nullptr, *color = nullptr;

  Options () = default;
  Options (const Options &) = delete;
  Options &operator= (const Options &) = delete;
  ~Options ()
  {
    for (char *text : { config_id, kernel, arch, color })
      g_free (text);
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

// The number of single-character edits that turn a into b.
std::size_t edit_distance (std::string_view a, std::string_view b)
{
  std::vector<std::size_t> row (b.size () + 1);
  for (std::size_t j = 0; j <= b.size (); j++)
    row[j] = j;
  for (std::size_t i = 1; i <= a.size (); i++)
    {
      std::size_t diagonal = row[0];
      row[0] = i;
      for (std::size_t j = 1; j <= b.size (); j++)
        {
          const auto replaced = diagonal + (a[i - 1] != b[j - 1]);
          diagonal = row[j];
          row[j] = std::min ({ replaced, row[j] + 1, row[j - 1] + 1 });
        }
    }
  return row[b.size ()];
}

// Why the machine the options describe is none, or an empty string.
std::string machine_mistake (const Options &options)
{
  if (options.kernel != nullptr && !g_ascii_isdigit (options.kernel[0]))
    return std::string ("--kernel ") + options.kernel
           + " is no kernel release: a release starts with a digit, as 5.15.0-91-generic does";
  if (options.arch == nullptr || arch_type (options.arch) != 0)
    return {};
  std::size_t best = std::string_view::npos;
  std::string nearest;
  for (const auto &known : known_architectures ())
    {
      const auto distance = edit_distance (options.arch, known.name);
      if (distance < best)
        best = distance, nearest.clear ();
      if (distance == best)
        nearest += (nearest.empty () ? "" : ", ") + std::string (known.name);
    }
  return std::string ("--arch ") + options.arch
         + " names no machine the back end knows; the nearest it knows: " + nearest;
}

// A file's bytes, grown with g_realloc: the C library moves a large block without copying it,
// so a stream of unknown length needs no more memory than its bytes.
struct Bytes
{
  char *data = nullptr;
  std::size_t size = 0, capacity = 0;

  Bytes () = default;
  Bytes (const Bytes &) = delete;
  Bytes &operator= (const Bytes &) = delete;
  ~Bytes () { g_free (data); }
  std::string_view view () const { return { data, size }; }
};

// All of fd, unless it holds more than most_bytes.
bool read_bounded (int fd, Bytes &out_bytes, GError **error)
{
  out_bytes.size = 0;
  struct stat status = {};
  std::size_t first = 64 * 1024;
  if (fstat (fd, &status) == 0 && S_ISREG (status.st_mode))
    first = std::min (std::size_t (status.st_size), most_bytes) + 1;
  while (true)
    {
      if (out_bytes.size == out_bytes.capacity)
        {
          out_bytes.capacity = std::min (std::max (2 * out_bytes.capacity, first), most_bytes + 1);
          out_bytes.data = static_cast<char *> (g_realloc (out_bytes.data, out_bytes.capacity));
        }
      const ssize_t got = retry_on_eintr ([&] {
        return read (fd, out_bytes.data + out_bytes.size, out_bytes.capacity - out_bytes.size);
      });
      if (got < 0)
        return set_error_from_errno (error, errno);
      if (got == 0)
        return true;
      out_bytes.size += std::size_t (got);
      if (out_bytes.size > most_bytes)
        {
          g_set_error (error, G_IO_ERROR, G_IO_ERROR_NO_SPACE,
                       "longer than %zu MiB, the most kiv-config-lint reads", most_mib);
          return false;
        }
    }
}

bool read_path (const char *path, Bytes &out_bytes, GError **error)
{
  UniqueFd fd (retry_on_eintr ([&] { return open (path, O_RDONLY | O_CLOEXEC); }));
  if (!fd)
    return set_error_from_errno (error, errno);
  return read_bounded (fd.get (), out_bytes, error);
}

// Fetches url with the back end's own download, straight into memory: a body past the bound is
// refused as it arrives, and nothing is written to disk.
bool fetch (const char *url, Bytes &out_bytes, GError **error)
{
  HttpTransportPtr transport = http_transport_new ();
  DownloadControl control;
  control.max_size = goffset (most_bytes);
  g_autoptr (GError) failure = nullptr;
  GBytes *body = download_bytes (transport.get (), url, control, &failure);
  if (body == nullptr)
    {
      if (g_error_matches (failure, G_IO_ERROR, G_IO_ERROR_MESSAGE_TOO_LARGE))
        g_set_error (error, G_IO_ERROR, G_IO_ERROR_NO_SPACE,
                     "longer than %zu MiB, the most kiv-config-lint reads", most_mib);
      else
        g_propagate_error (error, g_steal_pointer (&failure));
      return false;
    }
  g_free (out_bytes.data);
  gsize size = 0;
  out_bytes.data = static_cast<char *> (g_bytes_unref_to_data (body, &size));
  out_bytes.size = out_bytes.capacity = size;
  return true;
}

// The bytes of FILE: a path, "-" for standard input, or an http or https URL.
bool read_input (const char *name, Bytes &out_bytes, GError **error)
{
  const char *scheme = g_uri_peek_scheme (name);
  if (strcmp (name, "-") == 0)
    return read_bounded (STDIN_FILENO, out_bytes, error);
  if (g_strcmp0 (scheme, "http") == 0 || g_strcmp0 (scheme, "https") == 0)
    return fetch (name, out_bytes, error);
  return read_path (name, out_bytes, error);
}

std::string json_text (JsonNode *root)
{
  g_autoptr (JsonGenerator) generator = json_generator_new ();
  json_generator_set_root (generator, root);
  json_generator_set_pretty (generator, TRUE);
  g_autofree char *data = json_generator_to_data (generator, nullptr);
  return data;
}

void print_json (JsonBuilder *builder)
{
  g_autoptr (JsonNode) root = json_builder_get_root (builder);
  printf ("%s\n", json_text (root).c_str ());
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

// Writes the diagnostics of every file as they come, so that a file with a great many of them
// needs no more memory than one, and counts them for the summary.
class Printer
{
public:
  Printer (const Options &options, bool colour) : options_ (options), colour_ (colour) {}

  // Prints one file's diagnostics as check_configuration finds them; returns its status.
  int check_file (const char *name, std::string_view bytes)
  {
    const std::string shown = strcmp (name, "-") == 0 ? "<stdin>" : name;
    std::size_t errors = 0, warnings = 0;
    check_configuration (bytes, [&] (Diagnostic diagnostic) {
      (diagnostic.severity == Severity::error ? errors : warnings)++;
      if (options_.json)
        print_json_item (shown, diagnostic);
      else
        print_line (shown, diagnostic);
    });
    errors_ += errors, warnings_ += warnings, files_ += errors + warnings > 0;
    return errors > 0 || (options_.strict && warnings > 0) ? status_errors : status_clean;
  }

  // Ends the output, and says on standard error how much was found.
  void finish ()
  {
    if (options_.json)
      printf (has_items_ ? "\n]\n" : "[]\n");
    fflush (stdout);
    if (options_.quiet || errors_ + warnings_ == 0)
      return;
    const auto count = [] (std::size_t n, const char *what) {
      return std::to_string (n) + " " + what + (n == 1 ? "" : "s");
    };
    std::string summary;
    if (errors_ > 0)
      summary = count (errors_, "error");
    if (warnings_ > 0)
      summary += (summary.empty () ? "" : " and ") + count (warnings_, "warning");
    fprintf (stderr, "%s in %s\n", summary.c_str (), count (files_, "file").c_str ());
  }

private:
  // As GCC writes them: FILE:LINE:COLUMN: in bold, the severity in bold red or magenta.
  void print_line (const std::string &shown, const Diagnostic &diagnostic)
  {
    const char *severity = severity_name (diagnostic.severity);
    const char *on = "", *bold = "", *off = "";
    if (colour_)
      {
        on = diagnostic.severity == Severity::error ? "\033[01;31m\033[K" : "\033[01;35m\033[K";
        bold = "\033[01m\033[K", off = "\033[m\033[K";
      }
    printf ("%s%s:%zu:%zu:%s %s%s:%s %s [%s%.*s%s]\n", bold, shown.c_str (), diagnostic.line,
            diagnostic.column, off, on, severity, off, diagnostic.message.c_str (), on,
            int (diagnostic.name.size ()), diagnostic.name.data (), off);
  }

  // One object of the array that all files share, indented as a whole array would be.
  void print_json_item (const std::string &shown, const Diagnostic &diagnostic)
  {
    g_autoptr (JsonBuilder) builder = json_builder_new ();
    json_builder_begin_object (builder);
    json_builder_set_member_name (builder, "file");
    add_string (builder, shown);
    json_builder_set_member_name (builder, "line");
    json_builder_add_int_value (builder, gint64 (diagnostic.line));
    json_builder_set_member_name (builder, "column");
    json_builder_add_int_value (builder, gint64 (diagnostic.column));
    json_builder_set_member_name (builder, "severity");
    json_builder_add_string_value (builder, severity_name (diagnostic.severity));
    json_builder_set_member_name (builder, "name");
    add_string (builder, diagnostic.name);
    json_builder_set_member_name (builder, "message");
    add_string (builder, diagnostic.message);
    json_builder_end_object (builder);
    g_autoptr (JsonNode) root = json_builder_get_root (builder);
    std::string text = json_text (root);
    for (std::size_t at = text.find ('\n'); at != std::string::npos; at = text.find ('\n', at + 3))
      text.insert (at + 1, "  ");
    printf ("%s  %s", has_items_ ? ",\n" : "[\n", text.c_str ());
    has_items_ = true;
  }

  const Options &options_;
  bool colour_, has_items_ = false;
  std::size_t errors_ = 0, warnings_ = 0, files_ = 0;
};

// Whether the diagnostics are coloured: --color=always or never, or by default (auto) on a
// terminal that can show colour, unless NO_COLOR is set to something.
bool wants_colour (const char *when, bool *out_known)
{
  *out_known = true;
  if (g_strcmp0 (when, "always") == 0)
    return true;
  if (g_strcmp0 (when, "never") == 0)
    return false;
  *out_known = when == nullptr || strcmp (when, "auto") == 0;
  const char *no_colour = g_getenv ("NO_COLOR");
  return isatty (STDOUT_FILENO) && g_strcmp0 (g_getenv ("TERM"), "dumb") != 0
         && (no_colour == nullptr || no_colour[0] == '\0');
}

// "[Ubuntu jammy]", whether it was given with its brackets or without.
std::string bracketed (std::string_view config_id)
{
  std::string out (config_id);
  if (!out.starts_with ('['))
    out.insert (0, "[");
  if (!out.ends_with (']'))
    out += ']';
  return out;
}

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

struct ConfigurationDeleter
{
  void operator() (Configuration *config) const { free_configuration (config); }
};

// Every section a machine reads, each shown once its walk has ended.
template <typename Show> class EverySection final : public SectionWalker
{
public:
  explicit EverySection (Show show) : show_ (show) {}

  Configuration *section_header (std::size_t number, std::string_view header,
                                 std::string_view config_id, std::size_t selected_line) override
  {
    // A header whose config-id selects an earlier line is read by no machine.
    if (config_id.empty () || selected_line != number)
      return nullptr;
    header_ = header, config_id_ = config_id;
    config_.reset (new_configuration ());
    return config_.get ();
  }

  void section_ended (std::size_t, SectionEnd) override
  {
    if (config_ != nullptr)
      show_ (config_id_, header_, config_.get ());
    config_.reset ();
  }

private:
  Show show_;
  std::string_view header_, config_id_;
  std::unique_ptr<Configuration, ConfigurationDeleter> config_;
};

// Remembers the header line the section walk selects.
struct Selection final : ParseObserver
{
  std::size_t line = 0;
  void section_selected (std::size_t line_number, std::string_view) override { line = line_number; }
};

// The lists each machine gets, parsed and dumped as get_configuration parses and dumps them.
int preview (const char *name, std::string_view text, const Options &options)
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
                {
                  fwrite (header.data (), 1, header.size (), stdout);
                  fputc ('\n', stdout);
                }
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

  int status = status_clean;
  if (options.all)
    {
      EverySection every (show);
      walk_sections (text, host, every);
    }
  else
    {
      std::string config_id;
      if (options.config_id != nullptr)
        config_id = bracketed (options.config_id);
      else if (const DistroInformation *distro = get_distro_information ())
        {
          g_autofree char *id = config_id_for (distro);
          config_id = id;
        }
      else
        return fail ("this machine has no distribution information (neither lsb_release "
                     "nor /etc/fedora-release): give --config-id");
      g_autoptr (Configuration) config = new_configuration ();
      Selection selection;
      parse_section (config, text, config_id, host, &selection);
      show (config_id, {}, config);
      if (selection.line == 0)
        {
          fprintf (stderr,
                   "kiv-config-lint: warning: no section header of %s begins with %s, so a "
                   "machine with that config-id gets nothing from it\n",
                   strcmp (name, "-") == 0 ? "<stdin>" : name, config_id.c_str ());
          status = status_errors;
        }
    }

  json_builder_end_array (builder);
  if (options.json)
    print_json (builder);
  return status;
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
      "The machine's config-id, such as '[Ubuntu jammy]' (the brackets may be left out)", "ID" },
    { "kernel", 0, 0, G_OPTION_ARG_FILENAME, &options.kernel,
      "The machine's kernel release, such as 5.15.0-91-generic", "RELEASE" },
    { "arch", 0, 0, G_OPTION_ARG_FILENAME, &options.arch,
      "The machine's architecture as uname names it, such as i686", "MACHINE" },
    { "json", 0, 0, G_OPTION_ARG_NONE, &options.json, "Write the diagnostics or lists as JSON",
      nullptr },
    { "strict", 0, 0, G_OPTION_ARG_NONE, &options.strict, "Fail on warnings too", nullptr },
    { "quiet", 'q', 0, G_OPTION_ARG_NONE, &options.quiet,
      "Write no summary of the diagnostics on standard error", nullptr },
    { "color", 0, 0, G_OPTION_ARG_STRING, &options.color,
      "Colour the diagnostics: auto (on a terminal, the default), always or never", "WHEN" },
    { "version", 0, 0, G_OPTION_ARG_NONE, &options.version, "Print the version and exit", nullptr },
    {}, // the end of the table
  };
  g_autoptr (GOptionContext) context = g_option_context_new ("FILE...");
  g_option_context_set_summary (
      context, "Checks installer configuration files, or previews what a machine gets from one.\n"
               "FILE is a path, - for standard input, or an http or https URL.");
  g_option_context_add_main_entries (context, entries, nullptr);
  g_autoptr (GError) error = nullptr;
  if (!g_option_context_parse (context, &argc, &argv, &error))
    return fail (error->message);
  if (options.version)
    {
      printf ("kiv-config-lint %s\n", KIV_VERSION);
      return status_clean;
    }
  if (argc < 2)
    return fail ("no FILE given");
  if (const char *reason = conflict (options))
    return fail (reason);
  bool is_known_when = true;
  const bool colour = wants_colour (options.color, &is_known_when);
  if (!is_known_when)
    return fail (std::string ("--color ") + options.color + ": give auto, always or never");

  // The back end logs what it skips; the diagnostics say it better, and a preview shows only the
  // lists. Critical messages still show: they mean a fault in this program.
  g_log_set_writer_func (
      [] (GLogLevelFlags level, const GLogField *fields, gsize n_fields, gpointer user_data) {
        if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL)) == 0)
          return G_LOG_WRITER_HANDLED;
        return g_log_writer_default (level, fields, n_fields, user_data);
      },
      nullptr, nullptr);

  Bytes bytes;
  if (options.preview)
    {
      if (argc != 2)
        return fail ("--preview reads one FILE");
      if (const auto mistake = machine_mistake (options); !mistake.empty ())
        return fail (mistake);
      if (!read_input (argv[1], bytes, &error))
        return fail (std::string ("cannot read ") + argv[1] + ": " + error->message);
      return preview (argv[1], configuration_text (bytes.view ()), options);
    }

  Printer printer (options, colour);
  int status = status_clean;
  for (int i = 1; i < argc; i++)
    {
      g_clear_error (&error);
      if (!read_input (argv[i], bytes, &error))
        {
          fflush (stdout);
          fail (std::string ("cannot read ") + argv[i] + ": " + error->message);
          status = status_unusable;
          continue;
        }
      status = std::max (status, printer.check_file (argv[i], bytes.view ()));
    }
  printer.finish ();
  return status;
}
