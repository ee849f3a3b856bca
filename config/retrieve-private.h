// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// retrieve-private.h: how retrieval gets the configuration's bytes. The build picks one of two
// ways (fetch-plain.cpp, or fetch-keyring.cpp where a keyring is built in); retrieval only knows
// this declaration. Never installed.
#pragma once

#include <gio/gio.h>

#include "config.h"
#include "download-private.h"

// Downloads url and puts it in place at path, as control says (progress reported as
// http_download_file reports it). Returns exactly the bytes put in place, or NULL with error set:
// KIV_HTTP_ERROR or G_IO_ERROR when the file cannot be downloaded or stored, KIV_CONFIG_ERROR when
// it was downloaded and refused. path is then left as it was.
GBytes *fetch_configuration (const char *url, const char *path, const DownloadControl &control,
                             GError **error);
