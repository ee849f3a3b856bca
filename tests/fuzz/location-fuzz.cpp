// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// The Location of a redirect from https, as whatever bytes a server sends: the URL the download
// judges is the one the HTTP library built with follows, so whatever the check lets through must
// lead to https when the library reads it, and whatever it refuses as a downgrade must not.
//
// Checked: the verdict is a pass, a refusal with the redirect's status, or a malformed answer (8);
// a pass has a target that the library reads as https with a host; a refusal with the status has
// a target that is not https.
#include <libsoup/soup.h>

#include "fuzz-util.h"
#include "net-private.h"

namespace
{
constexpr guint status_found = 302;

// The URLs a redirect may come from; the first input byte picks one.
constexpr const char *bases[] = {
  "https://127.0.0.1/gfx/kiv-config.cfg",
  "https://[::1]:8443/a/b/c?query#fragment",
  "https://mirror.example/",
};

// Whether the library built with reads url as an https URL with a host.
bool library_reads_https (const char *url)
{
#if SOUP_CHECK_VERSION(2, 99, 0)
  g_autoptr (GUri) uri = g_uri_parse (url, GUriFlags (SOUP_HTTP_URI_FLAGS), nullptr);
  const char *host = uri != nullptr ? g_uri_get_host (uri) : nullptr;
  return uri != nullptr && g_strcmp0 (g_uri_get_scheme (uri), "https") == 0 && host != nullptr
         && *host != '\0';
#else
  g_autoptr (SoupURI) uri = soup_uri_new (url);
  return uri != nullptr && uri->scheme == SOUP_URI_SCHEME_HTTPS && uri->host != nullptr
         && *uri->host != '\0';
#endif
}
} // namespace

// libsoup 2.4 makes a quark of every scheme it reads, and GLib keeps each full table of quarks
// (it leaves the old one behind by design, so that lookups need no lock): a fuzzer that reads
// thousands of schemes meets that. Only those allocations are let go; full stacks are needed to
// tell them apart, as GLib is built without frame pointers.
extern "C" const char *__lsan_default_suppressions ()
{
  return "leak:g_intern_string\nleak:g_intern_static_string\nleak:g_quark_from_string\n";
}

extern "C" const char *__asan_default_options ()
{
  return "fast_unwind_on_malloc=0";
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t *data, size_t size)
{
  if (size == 0)
    return 0;
  const char *base = bases[data[0] % G_N_ELEMENTS (bases)];
  const std::string location = as_c_text (data + 1, size - 1);
  g_autofree char *target = redirect_target (base, location.c_str ());
  const AnswerHead head{ .status = status_found,
                         .location = location.c_str (),
                         .redirect_target = target };
  g_autoptr (GError) error = nullptr;
  if (check_answer_head (base, head, &error))
    {
      FUZZ_CHECK (error == nullptr);
      FUZZ_CHECK (target != nullptr && library_reads_https (target));
      return 0;
    }
  FUZZ_CHECK (error != nullptr && error->domain == KIV_HTTP_ERROR);
  FUZZ_CHECK (error->code == int (status_found) || error->code == KIV_HTTP_ERROR_MALFORMED);
  FUZZ_CHECK (error->code == KIV_HTTP_ERROR_MALFORMED || !library_reads_https (target));
  return 0;
}
