// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "config.h"

// Written out rather than with G_DEFINE_QUARK, whose name argument the formatter would space out
// into the quark's string.
GQuark kiv_config_error_quark (void)
{
  return g_quark_from_static_string ("kiv-config-error-quark");
}
