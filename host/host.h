/* host.h: which distribution, release and kernel this machine runs, and the small comparisons
 * an installer needs to act on that (version strings, architecture names). */
#pragma once

#include <glib.h>
#include <sys/utsname.h>

#include "kiv-public.h"

G_BEGIN_DECLS

/* What the machine says about itself. An absent field is NULL. */
typedef struct
{
  char *distributor;  /* "Distributor ID" of lsb_release -a, or "Fedora" */
  char *description;  /* one-line description; the whole release file when read from one */
  char *release;      /* release number */
  char *codename;     /* release codename */
  struct utsname uts; /* the kernel's identification, from uname(2) */
} DistroInformation;

/* Returns this machine's distribution information, finding it out on the first call that can:
 * it runs "lsb_release -a", or reads /etc/fedora-release where the command cannot be started.
 * Returns NULL when neither works; a later call then tries again.
 * The record is process-wide and lives until the process ends: never modify or free it. */
KIV_PUBLIC const DistroInformation *get_distro_information (void);

/* Orders two version strings such as "3.13.0-24-generic" and "3.14": negative when a comes
 * first, zero when they are equal, positive when a comes after b. Only the sign is meaningful.
 * Components are separated by '.', ':' or '-'; all-digit components compare as numbers. */
KIV_PUBLIC int compare_versions (const char *a, const char *b);

/* TRUE when a and b name the same known architecture family, whichever naming they use
 * ("x86_64" and "amd64", or "i686" and "i386"). Unknown names are never equivalent, not even
 * to themselves. */
KIV_PUBLIC gboolean architectures_are_equivalent (const char *a, const char *b);

G_END_DECLS
