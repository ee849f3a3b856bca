/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* Preloaded (LD_PRELOAD) into the driver by the end-to-end tests, to give it what real installers
 * meet and a namespace cannot make, each when its variable is set:
 *
 *   KIV_SHIM_NO_LINKS=1       link() and linkat() fail with EPERM, as on a home on vfat, exFAT
 *                             and many FUSE and SMB mounts
 *   KIV_SHIM_CLOCK=SECONDS    gettimeofday(), the clock GLib's g_get_real_time() reads, starts at
 *                             SECONDS since 1970 when the program first asks it, and runs on
 *
 * The clock is the one the library reads for itself. time(), which GnuTLS reads to check a
 * certificate and gpgv to check a key, is left right: the certificates and keys a test makes now
 * would not be valid yet under a clock set years back, and the download would end before the
 * signature is judged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <unistd.h>

static int no_links (void)
{
  const char *value = getenv ("KIV_SHIM_NO_LINKS");
  return value != NULL && strcmp (value, "1") == 0;
}

int link (const char *from, const char *to)
{
  if (no_links ())
    {
      errno = EPERM;
      return -1;
    }
  int (*real) (const char *, const char *)
      = (int (*) (const char *, const char *)) dlsym (RTLD_NEXT, "link");
  return real (from, to);
}

int linkat (int from_dir, const char *from, int to_dir, const char *to, int flags)
{
  if (no_links ())
    {
      errno = EPERM;
      return -1;
    }
  int (*real) (int, const char *, int, const char *, int)
      = (int (*) (int, const char *, int, const char *, int)) dlsym (RTLD_NEXT, "linkat");
  return real (from_dir, from, to_dir, to, flags);
}

int gettimeofday (struct timeval *restrict tv, void *restrict tz)
{
  static int (*real) (struct timeval *restrict, void *restrict);
  static time_t offset;
  static int started;
  if (real == NULL)
    real = (int (*) (struct timeval *restrict, void *restrict)) dlsym (RTLD_NEXT, "gettimeofday");
  const int result = real (tv, tz);
  const char *clock = getenv ("KIV_SHIM_CLOCK");
  if (result != 0 || clock == NULL)
    return result;
  if (!__atomic_exchange_n (&started, 1, __ATOMIC_SEQ_CST))
    __atomic_store_n (&offset, (time_t) strtoll (clock, NULL, 10) - tv->tv_sec, __ATOMIC_SEQ_CST);
  tv->tv_sec += __atomic_load_n (&offset, __ATOMIC_SEQ_CST);
  return result;
}
