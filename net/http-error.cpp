// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "net.h"

G_DEFINE_QUARK (HTTP, kiv_http_error)
