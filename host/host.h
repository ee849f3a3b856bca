/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* host.h: which distribution, release and kernel this machine runs, and the small comparisons
 * an installer needs to act on that (version strings, architecture names). */
#pragma once

#include <glib.h>
#include <sys/utsname.h>

#include "kiv-public.h"

G_BEGIN_DECLS

/**
 * DistroInformation:
 * @distributor: (nullable): "Distributor ID" of `lsb_release -a`, or "Fedora"
 * @description: (nullable): one-line description; the whole release file when read from one
 * @release: (nullable): release number
 * @codename: (nullable): release codename
 *
 * What the machine says about itself. An absent field is %NULL.
 *
 * The last member, `struct utsname uts`, is the kernel's identification from uname(2); C
 * callers read it directly. Language bindings cannot describe a `struct utsname`, so they read
 * the two parts an installer acts on through [method@Kiv.DistroInformation.get_kernel_release]
 * and [method@Kiv.DistroInformation.get_machine].
 */
typedef struct
{
  char *distributor;
  char *description;
  char *release;
  char *codename;
  /*< private >*/
#ifndef __GI_SCANNER__
  struct utsname uts;
#else
  /* What introspection sees instead: the same bytes, so that the record keeps its size. */
  char uts[6 * _UTSNAME_LENGTH];
#endif
} DistroInformation;

/**
 * get_distro_information:
 *
 * Finds out which distribution this machine runs, on the first call that can: it runs
 * `lsb_release -a`, or reads `/etc/fedora-release` where the command cannot be started.
 *
 * The record is process-wide and lives until the process ends: never modify or free it, and
 * keep pointers into it as long as you like. It may be called from any thread, several at
 * once: the first call that succeeds fills the record, once, and the others return it.
 *
 * Returns: (transfer none) (nullable): this machine's distribution information, or %NULL when
 *   neither the command nor the file works; a later call then tries again
 */
KIV_PUBLIC const DistroInformation *get_distro_information (void);

/**
 * distro_information_get_kernel_release:
 * @info: a record from [func@Kiv.get_distro_information]
 *
 * The running kernel's release, such as "6.1.0-18-amd64": `info->uts.release`.
 *
 * Returns: (transfer none): a string that lives as long as @info
 */
KIV_PUBLIC const char *distro_information_get_kernel_release (const DistroInformation *info);

/**
 * distro_information_get_machine:
 * @info: a record from [func@Kiv.get_distro_information]
 *
 * The kernel's name for the machine's architecture, such as "x86_64" or "i686":
 * `info->uts.machine`.
 *
 * Returns: (transfer none): a string that lives as long as @info
 */
KIV_PUBLIC const char *distro_information_get_machine (const DistroInformation *info);

/**
 * compare_versions:
 * @a: a version string, such as "3.13.0-24-generic"
 * @b: another version string, such as "3.14"
 *
 * Orders two version strings. Components are separated by '.', ':' or '-'; all-digit
 * components compare as numbers, any other as text. When one string is a prefix of the other
 * component by component, the shorter one comes first.
 *
 * Returns: negative when @a comes first, zero when they are equal, positive when @a comes
 *   after @b. Only the sign is meaningful.
 */
KIV_PUBLIC int compare_versions (const char *a, const char *b);

/**
 * architectures_are_equivalent:
 * @a: an architecture name, such as "x86_64"
 * @b: another architecture name, such as "amd64"
 *
 * Tells whether two names denote the same known architecture family, whichever naming they
 * use ("x86_64" and "amd64", or "i686" and "i386").
 *
 * Returns: %TRUE when @a and @b name the same known family. Unknown names are never
 *   equivalent, not even to themselves.
 */
KIV_PUBLIC gboolean architectures_are_equivalent (const char *a, const char *b);

G_END_DECLS
