// Helpers shared by the configuration tests: owning records, list snapshots, captured logs.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <glib.h>

#include "config-private.h"
#include "configuration-ptr.h"

inline ConfigurationPtr make_configuration ()
{
  return ConfigurationPtr (new_configuration ());
}

// A list's strings, or nothing for an absent list.
using Strings = std::optional<std::vector<std::string>>;

inline Strings strings_of (const GPtrArray *list)
{
  if (list == nullptr)
    return std::nullopt;
  std::vector<std::string> out;
  for (guint i = 0; i < list->len; i++)
    out.emplace_back (static_cast<const char *> (g_ptr_array_index (list, i)));
  return out;
}

// Every list of a record by name, so a test can check that a line touched no other list.
using Lists = std::map<std::string, Strings>;

inline Lists lists_of (const Configuration *config)
{
  return {
    { "errors", strings_of (config->errors) },   { "sources", strings_of (config->sources) },
    { "keys", strings_of (config->keys) },       { "docs", strings_of (config->docs) },
    { "INSTALL", strings_of (config->INSTALL) }, { "install", strings_of (config->install) },
    { "upgrade", strings_of (config->upgrade) }, { "lts", strings_of (config->lts) },
  };
}

// What a new record holds.
inline Lists empty_lists ()
{
  Lists lists;
  for (const char *name : { "sources", "keys", "docs", "INSTALL", "install", "upgrade", "lts" })
    lists[name] = std::vector<std::string>{};
  lists["errors"] = std::nullopt;
  return lists;
}

struct LogRecord
{
  GLogLevelFlags level;
  std::string message;
  bool has_domain;
  bool operator== (const LogRecord &) const = default;
};

inline std::ostream &operator<< (std::ostream &out, const LogRecord &record)
{
  return out << "{level " << int (record.level) << ", \"" << record.message << "\""
             << (record.has_domain ? ", with a domain}" : "}");
}

// Everything logged through GLib since the last take_logs (), debug messages included.
std::vector<LogRecord> take_logs ();
