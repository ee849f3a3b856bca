#include "host.h"

#include <cstring>
#include <string_view>

#include "host-private.h"

// host.h shows introspection the kernel's identification as a block of six fields' bytes.
static_assert (sizeof (struct utsname) == 6 * _UTSNAME_LENGTH);

namespace
{
// Installers keep pointers into this record, so it is filled in place and never freed.
DistroInformation distro_info;
bool distro_obtained = false;

constexpr const char *fedora_pattern = "Fedora\\s+release\\s+(\\d+)\\s+\\((.*?)\\)";

void replace_field (char **field, char *value)
{
  g_free (*field);
  *field = value;
}

char **field_for_key (std::string_view key, DistroInformation *info)
{
  if (key == "Distributor ID")
    return &info->distributor;
  if (key == "Description")
    return &info->description;
  if (key == "Release")
    return &info->release;
  if (key == "Codename")
    return &info->codename;
  return nullptr;
}
} // namespace

std::string_view kiv_trim (std::string_view text)
{
  const auto first = text.find_first_not_of (kiv_trim_chars);
  if (first == std::string_view::npos)
    return text.substr (text.size ()); // empty, but still pointing into text
  const auto last = text.find_last_not_of (kiv_trim_chars);
  return text.substr (first, last - first + 1);
}

bool match_fedora_release (const char *text, char **out_release, char **out_codename)
{
  // GRegex expects UTF-8; release text from a broken file must not reach it.
  if (text == nullptr || !g_utf8_validate (text, -1, nullptr))
    return false;

  g_autoptr (GRegex) regex
      = g_regex_new (fedora_pattern, GRegexCompileFlags (0), GRegexMatchFlags (0), nullptr);
  g_autoptr (GMatchInfo) match = nullptr;
  if (regex == nullptr || !g_regex_match (regex, text, GRegexMatchFlags (0), &match))
    return false;

  if (out_release != nullptr)
    *out_release = g_match_info_fetch (match, 1);
  if (out_codename != nullptr)
    *out_codename = g_match_info_fetch (match, 2);
  return true;
}

void parse_release_output (const char *output, DistroInformation *info)
{
  std::string_view rest (output);
  while (true)
    {
      const auto end = rest.find ('\n');
      const std::string_view line = rest.substr (0, end);

      const auto colon = line.find (':');
      if (char **field = field_for_key (line.substr (0, colon), info))
        {
          // "Codename" on its own, with no colon at all, says the field is absent.
          char *value = nullptr;
          if (colon != std::string_view::npos)
            {
              const auto trimmed = kiv_trim (line.substr (colon + 1));
              value = g_strndup (trimmed.data (), trimmed.size ());
            }
          replace_field (field, value);
        }

      if (end == std::string_view::npos)
        break;
      rest.remove_prefix (end + 1);
    }

  // lsb_release on Fedora runs the codename's words together; the description spells it out.
  char *codename = nullptr;
  if (g_strcmp0 (info->distributor, "Fedora") == 0
      && match_fedora_release (info->description, nullptr, &codename))
    replace_field (&info->codename, codename);
}

void parse_release_file (const char *text, DistroInformation *info)
{
  replace_field (&info->distributor, g_strdup ("Fedora"));
  replace_field (&info->description, g_strdup (text));

  char *release = nullptr;
  char *codename = nullptr;
  if (!match_fedora_release (text, &release, &codename))
    {
      release = g_strdup ("Unknown");
      codename = g_strdup ("Unknown");
    }
  replace_field (&info->release, release);
  replace_field (&info->codename, codename);
}

const DistroInformation *get_distro_information (void)
{
  if (distro_obtained)
    return &distro_info;

  // A failed attempt stores no strings, so clearing leaks nothing.
  memset (&distro_info, 0, sizeof distro_info);
  uname (&distro_info.uts);

  // Standard input is the null device and standard error is left to the caller's terminal.
  g_autofree char *output = nullptr;
  if (g_spawn_command_line_sync ("lsb_release -a", &output, nullptr, nullptr, nullptr))
    {
      parse_release_output (output != nullptr ? output : "", &distro_info);
    }
  else
    {
      g_autofree char *text = nullptr;
      if (!g_file_get_contents ("/etc/fedora-release", &text, nullptr, nullptr))
        return nullptr;
      parse_release_file (text, &distro_info);
    }

  distro_obtained = true;
  return &distro_info;
}

const char *distro_information_get_kernel_release (const DistroInformation *info)
{
  g_return_val_if_fail (info != nullptr, nullptr);
  return info->uts.release;
}

const char *distro_information_get_machine (const DistroInformation *info)
{
  g_return_val_if_fail (info != nullptr, nullptr);
  return info->uts.machine;
}
