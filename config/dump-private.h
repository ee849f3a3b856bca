// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// dump-private.h: the diagnostic dump of a record, as the driver shows it on standard error and
// kiv-config-lint previews it; shared by config/ and its tests, never installed.
#pragma once

#include <cstdio>

#include "config.h"

// The diagnostic dump on standard error: one list, or the whole record.
void debug_ptr_array (const char *label, GPtrArray *list);
void debug_configuration (const Configuration *config);

// The same dump of the whole record on any stream.
void dump_configuration (FILE *out, const Configuration *config);
