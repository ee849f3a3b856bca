// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// How a build with a keyring (KIV_CONFIG_KEYRING) fetches the configuration: only with a good
// signature by one of the keys in that keyring.
#include "retrieve-private.h"

#include "signature-private.h"

GBytes *fetch_configuration (const char *url, const char *path, const DownloadControl &control,
                             GError **error)
{
  return fetch_signed_configuration (url, path, KIV_CONFIG_KEYRING, control, error);
}
