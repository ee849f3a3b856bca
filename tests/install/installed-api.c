/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* An installer in miniature: built by the install test from the installed headers and
 * libraries alone, found through pkg-config. It is C on purpose, since installers written in C
 * include the same headers. */
#include <stdio.h>
#include <string.h>

#include <kiv/config.h>
#include <kiv/host.h>
#include <kiv/net.h>

/* Taking every function's address makes the link fail if the library stops exporting one. */
const DistroInformation *(*const kiv_distro) (void) = get_distro_information;
const char *(*const kiv_kernel_release) (const DistroInformation *)
    = distro_information_get_kernel_release;
const char *(*const kiv_machine) (const DistroInformation *) = distro_information_get_machine;
GQuark (*const kiv_http_error) (void) = kiv_http_error_quark;
int (*const kiv_compare) (const char *, const char *) = compare_versions;
gboolean (*const kiv_equivalent) (const char *, const char *) = architectures_are_equivalent;
gboolean (*const kiv_download) (const char *, const char *, ProgressFunc, gpointer, GError **)
    = http_download_file;
const Configuration *(*const kiv_configuration) (ProgressFunc, gpointer) = get_configuration;

static int failures;

static void check (int ok, const char *what)
{
  if (!ok)
    {
      fprintf (stderr, "FAIL: %s\n", what);
      failures++;
    }
}

int main (void)
{
  check (compare_versions ("1.10", "1.9") > 0, "1.10 orders after 1.9");
  check (compare_versions ("3.13.0-24-generic", "3.14") < 0, "a 3.13 kernel orders before 3.14");
  check (compare_versions ("2.6", "2.6") == 0, "equal versions compare equal");

  check (architectures_are_equivalent ("x86_64", "amd64"), "x86_64 and amd64 are one family");
  check (!architectures_are_equivalent ("x86_64", "i386"), "x86_64 and i386 are not");

  check (strcmp (g_quark_to_string (KIV_HTTP_ERROR), "HTTP") == 0, "the HTTP domain is \"HTTP\"");

  /* The test machine has lsb_release (scripts/packages installs it). */
  const DistroInformation *info = get_distro_information ();
  check (info != NULL, "the distribution is identified");
  if (info != NULL)
    {
      check (info->distributor != NULL, "the distributor is known");
      check (info->uts.machine[0] != '\0', "the kernel names the machine");
      check (get_distro_information () == info, "the record is the same on every call");
      printf ("%s %s on %s\n", info->distributor ? info->distributor : "(null)",
              info->codename ? info->codename : "(null)", info->uts.machine);
    }
  return failures == 0 ? 0 : 1;
}
