// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Files that must never be half-written: a new file is written to a staging file in the
// destination's directory, so that one rename puts the whole of it in place.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gio/gio.h>
#include <glib/gstdio.h>

#include "common-private.h"

namespace
{
// Staging files are named ".<destination's name>.kiv-part-XXXXXX", hidden like the configuration
// file. A writer locks its file from creation until it is renamed or removed, so a file of this
// form whose lock can be taken belongs to a run that was killed.
constexpr std::string_view staging_marker = ".kiv-part-";
constexpr std::size_t random_length = 6;
// Keeps the staging name within NAME_MAX however long the destination's name is.
constexpr int longest_name_kept = 200;

// The name of a staging file for a destination named name, up to its random part.
std::string staging_prefix (std::string_view name)
{
  return std::string (name[0] == '.' ? "" : ".") + std::string (name.substr (0, longest_name_kept))
         + std::string (staging_marker);
}

// Only the names this destination's own downloads make: a file that merely looks like one
// (".notes.kiv-part-backup", another file's staging file) is not this download's to remove.
bool is_staging_name (std::string_view name, std::string_view prefix)
{
  return name.size () == prefix.size () + random_length && name.starts_with (prefix)
         && std::all_of (name.begin () + prefix.size (), name.end (),
                         [] (char c) { return g_ascii_isalnum (c); });
}

// Removes the file only if its lock can be taken and the name still leads to the file locked: a
// writer that made its file a moment ago but has not locked it yet finds it unlinked and makes
// another.
void remove_if_abandoned (const char *dir, const char *name)
{
  g_autofree char *path = g_build_filename (dir, name, nullptr);
  const UniqueFd fd (open (path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd)
    return;
  struct stat locked;
  if (flock (fd.get (), LOCK_EX | LOCK_NB) == 0 && fstat (fd.get (), &locked) == 0
      && S_ISREG (locked.st_mode) && names_open_file (path, fd.get ()))
    g_unlink (path);
}

void remove_abandoned_files (const char *dir, std::string_view prefix)
{
  g_autoptr (GDir) listing = g_dir_open (dir, 0, nullptr);
  if (listing == nullptr)
    return;
  while (const char *name = g_dir_read_name (listing))
    if (is_staging_name (name, prefix))
      remove_if_abandoned (dir, name);
}

void lock (int fd)
{
  retry_on_eintr ([fd] { return flock (fd, LOCK_EX); });
}

// The permission bits a newly created file gets: 0666 less the umask. The kernel reports the
// umask in /proc; asking umask() itself would change it for every thread for a moment.
unsigned fresh_file_mode ()
{
  g_autofree char *status = nullptr;
  if (!g_file_get_contents ("/proc/self/status", &status, nullptr, nullptr))
    return 0600;
  const char *line = strstr (status, "\nUmask:");
  if (line == nullptr)
    return 0600;
  std::string_view value (line + strlen ("\nUmask:"));
  value.remove_prefix (std::min (value.find_first_not_of (" \t"), value.size ()));
  unsigned mask = 0;
  if (std::from_chars (value.data (), value.data () + value.size (), mask, 8).ec != std::errc ())
    return 0600;
  return 0666 & ~mask;
}
} // namespace

bool names_open_file (const char *path, int fd)
{
  struct stat held, named;
  return fstat (fd, &held) == 0 && lstat (path, &named) == 0 && held.st_dev == named.st_dev
         && held.st_ino == named.st_ino;
}

StagedFile::StagedFile (char *path, char *destination, UniqueFd fd)
    : path_ (path), destination_ (destination), fd_ (std::move (fd))
{
}

StagedFile::~StagedFile ()
{
  discard ();
  g_free (path_);
  g_free (destination_);
}

std::unique_ptr<StagedFile> StagedFile::create (const char *destination, GError **error)
{
  g_autofree char *dir = g_path_get_dirname (destination);
  g_autofree char *name = g_path_get_basename (destination);
  const std::string prefix = staging_prefix (name);
  remove_abandoned_files (dir, prefix);

  for (int attempt = 0; attempt < 10; attempt++)
    {
      g_autofree char *path = g_strdup_printf ("%s/%sXXXXXX", dir, prefix.c_str ());
      UniqueFd fd (g_mkstemp_full (path, O_RDWR | O_CLOEXEC, 0600));
      if (!fd)
        {
          set_error_from_errno (error, errno,
                                std::string ("Cannot create a file beside ") + destination);
          return nullptr;
        }
      lock (fd.get ());
      struct stat created;
      if (fstat (fd.get (), &created) == 0 && created.st_nlink > 0)
        return std::unique_ptr<StagedFile> (
            new StagedFile (g_steal_pointer (&path), g_strdup (destination), std::move (fd)));
      // else another run took it for abandoned before the lock was on
    }
  g_set_error (error, G_IO_ERROR, G_IO_ERROR_BUSY, "Cannot keep a file beside %s", destination);
  return nullptr;
}

gboolean StagedFile::write (std::string_view data, GError **error)
{
  return write_all (fd_.get (), data, std::string ("Cannot write ") + path_, error);
}

gboolean StagedFile::prepare (GError **error)
{
  if (prepared_)
    return TRUE;
  struct stat old;
  const unsigned mode = lstat (destination_, &old) == 0 && S_ISREG (old.st_mode)
                            ? unsigned (old.st_mode) & 07777
                            : fresh_file_mode ();
  if (fchmod (fd_.get (), mode) != 0 || fsync (fd_.get ()) != 0)
    {
      const int saved_errno = errno;
      discard ();
      return set_error_from_errno (
          error, saved_errno, std::string ("Cannot put the download in place at ") + destination_);
    }
  prepared_ = true;
  return TRUE;
}

gboolean StagedFile::commit (GError **error)
{
  if (!prepare (error))
    return FALSE;
  if (rename (path_, destination_) != 0)
    {
      const int saved_errno = errno;
      discard ();
      return set_error_from_errno (
          error, saved_errno, std::string ("Cannot put the download in place at ") + destination_);
    }
  // The name is gone with the rename, so the lock can go too.
  fd_.reset ();
  return TRUE;
}

void StagedFile::discard ()
{
  if (!fd_)
    return;
  g_unlink (path_); // while still locked, so no other run can mistake the file for its own
  fd_.reset ();
}
