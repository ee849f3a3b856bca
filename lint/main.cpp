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
#include "releases.h"
#include "report.h"
#include "text.h"

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
           version = FALSE, list_checks = FALSE;
  char *config_id = nullptr, *kernel = nullptr, *arch = nullptr, *color = nullptr,
       *format = nullptr, *severity = nullptr;
  char **disable = nullptr, **enable = nullptr;

  Options () = default;
  Options (const Options &) = delete;
  Options &operator= (const Options &) = delete;
  ~Options ()
  {
    for (char *text : { config_id, kernel, arch, color, format, severity })
      g_free (text);
    g_strfreev (disable);
    g_strfreev (enable);
  }
};

// The reason comes from the command line, a file or a server, so a terminal obeys none of it.
int fail (const std::string &reason)
{
  fprintf (stderr, "kiv-config-lint: %s\n", terminal_text (reason).c_str ());
  return status_unusable;
}

// Why the options cannot be used together, or NULL.
const char *conflict (const Options &options)
{
  if (options.preview)
    {
      if (options.strict)
        return "--strict is for checking, not for --preview";
      if (options.format != nullptr || options.disable != nullptr || options.enable != nullptr
          || options.severity != nullptr)
        return "--format, --disable, --enable and --severity are for checking, not for --preview";
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

void print_json (JsonBuilder *builder)
{
  g_autoptr (JsonNode) root = json_builder_get_root (builder);
  printf ("%s\n", json_text (root).c_str ());
}

// Writes the diagnostics of every file as they come, so that a file with a great many of them
// needs no more memory than one, and counts them for the summary.
class Printer
{
public:
  Printer (const Options &options, const CheckOptions &check_options, Format format, bool colour)
      : options_ (options), checks_ (check_options), format_ (format), colour_ (colour)
  {
    if (format_ == Format::sarif)
      fputs (sarif_head (KIV_VERSION).c_str (), stdout);
  }

  // Prints one file's diagnostics as check_configuration finds them; returns its status.
  int check_file (const char *name, std::string_view bytes)
  {
    const std::string shown = strcmp (name, "-") == 0 ? "<stdin>" : name;
    SourceLines source (configuration_text (bytes));
    std::size_t found[3] = {};
    check_configuration (bytes, checks_, [&] (Diagnostic diagnostic) {
      found[std::size_t (diagnostic.severity)]++;
      print (shown, source, diagnostic);
    });
    for (std::size_t i = 0; i < 3; i++)
      found_[i] += found[i];
    files_ += found[0] + found[1] + found[2] > 0;
    const auto errors = found[std::size_t (Severity::error)],
               warnings = found[std::size_t (Severity::warning)];
    return errors > 0 || (options_.strict && warnings > 0) ? status_errors : status_clean;
  }

  // Ends the output, and says on standard error how much was found.
  void finish ()
  {
    if (format_ == Format::json)
      printf (has_items_ ? "\n]\n" : "[]\n");
    else if (format_ == Format::sarif)
      fputs (sarif_tail (has_items_).c_str (), stdout);
    fflush (stdout);
    const auto count = [] (std::size_t n, const char *what) {
      return std::to_string (n) + " " + what + (n == 1 ? "" : "s");
    };
    std::vector<std::string> parts;
    if (const auto n = found_[std::size_t (Severity::error)]; n > 0)
      parts.push_back (count (n, "error"));
    if (const auto n = found_[std::size_t (Severity::warning)]; n > 0)
      parts.push_back (count (n, "warning"));
    if (const auto n = found_[std::size_t (Severity::info)]; n > 0)
      parts.push_back (count (n, "info finding"));
    if (options_.quiet || parts.empty ())
      return;
    std::string summary;
    for (std::size_t i = 0; i < parts.size (); i++)
      summary += (i == 0 ? "" : i + 1 == parts.size () ? " and " : ", ") + parts[i];
    fprintf (stderr, "%s in %s\n", summary.c_str (), count (files_, "file").c_str ());
  }

private:
  void print (const std::string &shown, SourceLines &source, const Diagnostic &diagnostic)
  {
    switch (format_)
      {
      case Format::gcc:
      case Format::tty:
        {
          const Colours colours = colour_ ? colours_for (diagnostic.severity) : Colours{};
          std::size_t offset = 0, column = 1;
          source.locate (diagnostic.line, diagnostic.column, &offset, &column);
          std::string text = gcc_line (shown, diagnostic, column, colours);
          if (format_ == Format::tty)
            text
                += source_excerpt (diagnostic.line, source.line (diagnostic.line), offset, colours);
          fputs (text.c_str (), stdout);
          break;
        }
      case Format::json:
        // One object of the array that all files share, indented as a whole array would be.
        printf ("%s  %s", has_items_ ? ",\n" : "[\n",
                json_diagnostic (shown, diagnostic, 2).c_str ());
        break;
      case Format::sarif:
        printf ("%s%s", has_items_ ? ",\n" : "", sarif_result (shown, diagnostic).c_str ());
        break;
      }
    has_items_ = true;
  }

  const Options &options_;
  const CheckOptions &checks_;
  Format format_;
  bool colour_, has_items_ = false;
  std::size_t found_[3] = {}, files_ = 0;
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

// Every config-id a machine may select, and the line of its header.
struct Headers final : SectionWalker
{
  std::vector<std::pair<std::string_view, std::size_t>> config_ids;
  Configuration *section_header (std::size_t number, std::string_view, std::string_view config_id,
                                 std::size_t selected_line) override
  {
    if (!config_id.empty () && selected_line == number)
      config_ids.emplace_back (config_id, number);
    return nullptr;
  }
};

// Tells which header of text is nearest to config_id in spelling, case aside.
void suggest_header (std::string_view text, const std::string &config_id, const HostFacts &host)
{
  Headers headers;
  walk_sections (text, host, headers);
  const auto folded = [] (std::string_view id) {
    g_autofree char *lower = g_ascii_strdown (id.data (), gssize (id.size ()));
    return std::string (lower);
  };
  const auto wanted = folded (config_id);
  std::size_t best = std::string_view::npos, line = 0;
  std::string_view nearest;
  for (const auto &[id, number] : headers.config_ids)
    if (const auto distance = edit_distance (wanted, folded (id)); distance < best)
      best = distance, nearest = id, line = number;
  if (line != 0)
    fprintf (stderr, "kiv-config-lint: the nearest header is %s, at line %zu\n",
             terminal_text (nearest).c_str (), line);
}

// Writes the dump or a header line: byte for byte into a pipe or a file, as the driver writes
// it; on a terminal with everything it would obey escaped, line by line.
void write_shown (std::string_view text, bool to_terminal)
{
  if (!to_terminal)
    {
      fwrite (text.data (), 1, text.size (), stdout);
      return;
    }
  Lines lines (text);
  for (std::string_view line; lines.next (line);)
    printf ("%s\n", terminal_text (line).c_str ());
}

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

  const bool to_terminal = isatty (STDOUT_FILENO);
  g_autoptr (JsonBuilder) builder = json_builder_new ();
  json_builder_begin_array (builder);
  const auto show
      = [&] (std::string_view config_id, std::string_view header, const Configuration *config) {
          if (!options.json)
            {
              if (options.all)
                write_shown (std::string (header) + "\n", to_terminal);
              if (!to_terminal)
                {
                  dump_configuration (stdout, config);
                  return;
                }
              char *data = nullptr;
              std::size_t size = 0;
              if (FILE *memory = open_memstream (&data, &size))
                {
                  dump_configuration (memory, config);
                  fclose (memory);
                  write_shown ({ data, size }, true);
                }
              free (data);
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
                   terminal_text (strcmp (name, "-") == 0 ? "<stdin>" : name).c_str (),
                   terminal_text (config_id).c_str ());
          suggest_header (text, config_id, host);
          status = status_errors;
        }
    }

  json_builder_end_array (builder);
  if (options.json)
    print_json (builder);
  return status;
}

void list_checks ()
{
  for (const auto &check : checks)
    printf ("%-22.*s %-8s%s%.*s\n", int (check.name.size ()), check.name.data (),
            severity_name (check.severity), check.is_on_by_default ? "" : "(off by default) ",
            int (check.summary.size ()), check.summary.data ());
}

// The names --disable or --enable give, each option a name or several separated by commas;
// an empty string, or why one names no check.
std::string read_check_names (const char *option, char **values, std::vector<std::string> &out)
{
  for (char **value = values; value != nullptr && *value != nullptr; value++)
    {
      g_auto (GStrv) names = g_strsplit (*value, ",", -1);
      for (char **name = names; *name != nullptr; name++)
        {
          if (**name == '\0')
            continue;
          if (find_check (*name) != nullptr)
            {
              out.emplace_back (*name);
              continue;
            }
          std::string nearest;
          std::size_t best = 3;
          for (const auto &check : checks)
            if (const auto distance = edit_distance (*name, check.name); distance < best)
              best = distance, nearest = check.name;
          return std::string (option) + " " + *name + " names no check"
                 + (nearest.empty () ? "; --list-checks lists them"
                                     : "; did you mean " + nearest + "?");
        }
    }
  return {};
}

// Everything that decides what is checked and reported, from the options; an empty string, or
// why they cannot be used.
std::string read_check_options (const Options &options, CheckOptions &out)
{
  if (options.severity != nullptr)
    {
      const std::string_view least = options.severity;
      if (least == "error")
        out.least = Severity::error;
      else if (least == "warning")
        out.least = Severity::warning;
      else if (least != "info")
        return std::string ("--severity ") + options.severity + ": give error, warning or info";
    }
  if (auto reason = read_check_names ("--disable", options.disable, out.disabled); !reason.empty ())
    return reason;
  return read_check_names ("--enable", options.enable, out.enabled);
}

std::string today ()
{
  g_autoptr (GDateTime) now = g_date_time_new_now_local ();
  g_autofree char *text = g_date_time_format (now, "%Y-%m-%d");
  return text;
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
    { "format", 'f', 0, G_OPTION_ARG_STRING, &options.format,
      "Write the diagnostics as gcc (one line each), tty (with the source line; the default on a "
      "terminal), json or sarif",
      "FORMAT" },
    { "disable", 0, 0, G_OPTION_ARG_STRING_ARRAY, &options.disable,
      "Do not run the checks named (as in a directive); may be repeated", "NAME[,NAME...]" },
    { "enable", 0, 0, G_OPTION_ARG_STRING_ARRAY, &options.enable,
      "Run the checks named, also those off by default; may be repeated", "NAME[,NAME...]" },
    { "severity", 'S', 0, G_OPTION_ARG_STRING, &options.severity,
      "Report only diagnostics of this severity or worse: error, warning or info (the default)",
      "SEVERITY" },
    { "list-checks", 0, 0, G_OPTION_ARG_NONE, &options.list_checks,
      "List every check with its severity and what it finds, and exit", nullptr },
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
  if (options.list_checks)
    {
      list_checks ();
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
  // Scripts read the one-line form, so that is what a pipe or a file gets unless asked.
  Format format = isatty (STDOUT_FILENO) ? Format::tty : Format::gcc;
  if (options.format != nullptr && !format_named (options.format, &format))
    return fail (std::string ("--format ") + options.format + ": give gcc, tty, json or sarif");
  if (options.json && options.format != nullptr && format != Format::json)
    return fail ("--json is --format=json: give one of them");
  if (options.json)
    format = Format::json;
  CheckOptions check_options;
  if (const auto reason = read_check_options (options, check_options); !reason.empty ())
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

  // Read at every run, so that a release is known as soon as the system's data knows it.
  const ReleaseData releases = read_release_data ();
  check_options.releases = &releases;
  check_options.today = today ();
  Printer printer (options, check_options, format, colour && format <= Format::tty);
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
