/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* Compiled as C with warnings as errors in CI: every public header must be valid C. */
#include "public-headers.h"
#ifdef KIV_HAVE_UI
#include "ui.h"
#endif

/* Referencing each declaration catches a header that only parses because nothing uses it. */
static void *const public_functions[] = {
  (void *) get_distro_information,
  (void *) distro_information_get_kernel_release,
  (void *) distro_information_get_machine,
  (void *) compare_versions,
  (void *) architectures_are_equivalent,
  (void *) kiv_http_error_quark,
  (void *) kiv_config_error_quark,
  (void *) http_download_file,
  (void *) get_configuration,
  (void *) get_configuration_full,
  (void *) get_configuration_async,
  (void *) get_configuration_finish,
  (void *) http_download_file_async,
  (void *) http_download_file_finish,
  (void *) kiv_http_error_get_type,
  (void *) kiv_config_error_get_type,
#ifdef KIV_HAVE_UI
  (void *) display_error,
#endif
};

int kiv_public_header_count (void);
int kiv_public_header_count (void)
{
  return (int) (sizeof public_functions / sizeof public_functions[0]);
}
