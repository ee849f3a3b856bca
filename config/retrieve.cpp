// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Configuration retrieval: the configuration's bytes fetched into ~/.kiv-config, this machine's
// section parsed from them and kept for the life of the process.
#include "config.h"

#include <glib/gi18n.h>

#include "dump-private.h"
#include "parse-private.h"
#include "retrieve-private.h"

namespace
{
// Installers keep pointers into this record, so it is made once and never freed.
Configuration *cached_configuration = nullptr;

// Tells progress (when given) and the log why the configuration at url cannot be had. Neither
// text is translated.
void report_failure (ProgressFunc progress, gpointer user_data, const char *url,
                     const GError *error)
{
  if (progress != nullptr)
    {
      g_autofree char *message = g_strdup_printf ("%s : %s", url, error->message);
      progress (message, user_data);
    }
  if (error->domain == KIV_CONFIG_ERROR)
    g_log (nullptr, G_LOG_LEVEL_WARNING, "Failed to verify config file '%s': %s\n", url,
           error->message);
  else
    g_log (nullptr, G_LOG_LEVEL_WARNING, "Failed to download config file '%s'\n", url);
}
} // namespace

const Configuration *get_configuration (ProgressFunc progress, gpointer user_data)
{
  if (cached_configuration != nullptr)
    {
      debug_configuration (cached_configuration);
      return cached_configuration;
    }

  g_autofree char *path = g_build_path ("/", g_get_home_dir (), ".kiv-config", nullptr);
  g_autoptr (GError) error = nullptr;
  // An older copy may still be at path; it is stale, so it is never read.
  g_autoptr (GBytes) bytes
      = fetch_configuration (KIV_CONFIG_URL, path, progress, user_data, &error);
  if (bytes == nullptr)
    {
      report_failure (progress, user_data, KIV_CONFIG_URL, error);
      return nullptr;
    }

  cached_configuration = new_configuration ();

  const DistroInformation *info = get_distro_information ();
  g_autofree char *config_id = config_id_for (info);
  if (progress != nullptr)
    {
      g_autofree char *message = g_strdup_printf (_ ("looking up %s configuration"), config_id);
      progress (message, user_data);
    }

  // The file is text: a NUL byte ends it.
  gsize size = 0;
  const auto *data = static_cast<const char *> (g_bytes_get_data (bytes, &size));
  const std::string_view text (data, size);
  parse_section (cached_configuration, text.substr (0, text.find ('\0')), config_id,
                 host_facts (info));

  debug_configuration (cached_configuration);
  return cached_configuration;
}
