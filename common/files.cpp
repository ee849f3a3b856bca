// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Reading files that someone else may have put in place of a regular one: a FIFO or a device
// must never make a read wait for ever.
#include "common-private.h"

#include <fcntl.h>
#include <sys/stat.h>

UniqueFd open_regular_file (const char *path, GError **error)
{
  UniqueFd fd (open (path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd)
    {
      set_error_from_errno (error, errno, std::string ("Cannot open ") + path);
      return {};
    }
  struct stat info;
  if (fstat (fd.get (), &info) != 0)
    {
      set_error_from_errno (error, errno, std::string ("Cannot open ") + path);
      return {};
    }
  if (!S_ISREG (info.st_mode))
    {
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_NOT_REGULAR_FILE,
                   "Cannot open %s: not a regular file", path);
      return {};
    }
  // Reads from a regular file never wait anyway; whoever gets the descriptor gets it as usual.
  fcntl (fd.get (), F_SETFL, fcntl (fd.get (), F_GETFL) & ~O_NONBLOCK);
  return fd;
}

gboolean read_regular_file (const char *path, std::string *out_contents, GError **error)
{
  const UniqueFd fd = open_regular_file (path, error);
  if (!fd)
    return FALSE;
  out_contents->clear ();
  char buffer[16384];
  while (true)
    {
      const ssize_t n = retry_on_eintr ([&] { return read (fd.get (), buffer, sizeof buffer); });
      if (n < 0)
        return set_error_from_errno (error, errno, std::string ("Cannot read ") + path);
      if (n == 0)
        return TRUE;
      out_contents->append (buffer, std::size_t (n));
    }
}
