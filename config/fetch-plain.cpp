// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// How a build without a keyring fetches the configuration: the download itself, whose bytes are
// the ones parsed.
#include "retrieve-private.h"

GBytes *fetch_configuration (const char *url, const char *path, const DownloadControl &control,
                             GError **error)
{
  HttpTransportPtr transport = http_transport_new (false, control.authorities);
  g_autoptr (GBytes) text = nullptr;
  auto staged = download_staged (transport.get (), url, path, control, &text, error);
  if (staged == nullptr || !download_may_commit (control, error) || !staged->commit (error))
    return nullptr;
  return static_cast<GBytes *> (g_steal_pointer (&text));
}
