// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "config.h"

#include <glib/gi18n.h>

#include "config-private.h"
#include "host.h"
#include "net.h"

namespace
{
// Installers keep pointers into this record, so it is made once and never freed.
Configuration *cached_configuration = nullptr;

const char *or_null (const char *text)
{
  return text != nullptr ? text : "(null)";
}

} // namespace

char *config_id_for (const DistroInformation *distro)
{
  return g_strdup_printf ("[%s %s]", or_null (distro != nullptr ? distro->distributor : nullptr),
                          or_null (distro != nullptr ? distro->codename : nullptr));
}

void parse_section (Configuration *config, std::string_view text, std::string_view config_id,
                    const HostFacts &host, ParseObserver *observer)
{
  Lines lines (text);
  std::string_view line;
  bool found = false;
  while (!found && lines.next (line))
    found = line.starts_with (config_id);
  if (!found)
    return;
  if (observer != nullptr)
    observer->section_selected (lines.number (), line);

  // The section ends before an empty line or at one that opens the next section.
  auto why = SectionEnd::end_of_text;
  while (lines.next (line))
    {
      if (line.empty ())
        {
          why = SectionEnd::empty_line;
          break;
        }
      if (observer != nullptr)
        observer->section_line (lines.number (), line);
      if (!parse_instruction (config, line, host, observer))
        {
          why = SectionEnd::next_section;
          break;
        }
    }
  if (observer != nullptr)
    observer->section_ended (lines.number () + (why == SectionEnd::end_of_text), why);
}

void report_failure_to_progress (ProgressFunc progress, gpointer user_data, const char *url,
                                 const char *reason)
{
  if (progress == nullptr)
    return;
  g_autofree char *message = g_strdup_printf ("%s : %s", url, reason);
  progress (message, user_data);
}

void report_download_failure (ProgressFunc progress, gpointer user_data, const GError *error)
{
  report_failure_to_progress (progress, user_data, KIV_CONFIG_URL, error->message);
  g_log (nullptr, G_LOG_LEVEL_WARNING, "Failed to download config file '%s'\n", KIV_CONFIG_URL);
}

const Configuration *get_configuration (ProgressFunc progress, gpointer user_data)
{
  if (cached_configuration != nullptr)
    {
      debug_configuration (cached_configuration);
      return cached_configuration;
    }

  g_autofree char *path = g_build_path ("/", g_get_home_dir (), ".kiv-config", nullptr);
#ifdef KIV_CONFIG_KEYRING
  g_autofree char *text
      = fetch_signed_configuration (KIV_CONFIG_URL, path, KIV_CONFIG_KEYRING, progress, user_data);
  if (text == nullptr)
    return nullptr;
#else
  g_autoptr (GError) error = nullptr;
  if (!http_download_file (KIV_CONFIG_URL, path, progress, user_data, &error))
    {
      // An older copy may still be at path; it is stale, so it is not read.
      report_download_failure (progress, user_data, error);
      return nullptr;
    }

  g_autofree char *text = nullptr;
  if (!g_file_get_contents (path, &text, nullptr, nullptr))
    return nullptr;
#endif

  cached_configuration = new_configuration ();

  const DistroInformation *info = get_distro_information ();
  g_autofree char *config_id = config_id_for (info);
  if (progress != nullptr)
    {
      g_autofree char *message = g_strdup_printf (_ ("looking up %s configuration"), config_id);
      progress (message, user_data);
    }

  // The file is text: a NUL byte ends it.
  parse_section (cached_configuration, text, config_id, host_facts (info));

  debug_configuration (cached_configuration);
  return cached_configuration;
}
