// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// The signed fetch: the configuration and its detached signature are downloaded beside the kept
// copy, gpgv checks them against the publisher's keyring, and only a good signature no older than
// the kept one puts both in place, together.
#include "signature-private.h"

#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib/gstdio.h>

#include "common-private.h"
#include "retrieve-private.h"

namespace
{
// A detached signature is a few hundred bytes; a larger file is not one, and is never stored.
constexpr goffset signature_max_size = 64 * 1024;

// A run holds the pair's lock for two renames and at most one gpgv run. A process that holds it
// far longer hangs; a call that cannot be cancelled (get_configuration) must not hang with it.
constexpr gint64 lock_wait_limit = 60 * G_USEC_PER_SEC;

gboolean refuse (GError **error, KivConfigError code, const std::string &reason)
{
  g_set_error_literal (error, KIV_CONFIG_ERROR, code, reason.c_str ());
  return FALSE;
}

// Bytes for gpgv to read, in a file in memory that nothing else can reach: the downloaded file on
// disk could still change between the check and the parse. (A pipe would not do: gpgv may leave
// before reading all of it.)
UniqueFd memory_file_of (std::string_view data, GError **error)
{
  UniqueFd fd (memfd_create ("kiv-config", MFD_CLOEXEC));
  g_autoptr (GError) failure = nullptr;
  if (!fd)
    set_error_from_errno (&failure, errno, "Cannot make a file in memory");
  else if (write_all (fd.get (), data, "Cannot write a file in memory", &failure)
           && lseek (fd.get (), 0, SEEK_SET) != 0)
    set_error_from_errno (&failure, errno, "Cannot rewind a file in memory");
  if (failure == nullptr)
    return fd;
  refuse (error, KIV_CONFIG_ERROR_UNREADABLE, failure->message);
  return {};
}

std::string_view view_of (GBytes *bytes)
{
  gsize size = 0;
  const auto *data = static_cast<const char *> (g_bytes_get_data (bytes, &size));
  return { data, size };
}

// gpgv's side of one retrieval. gpgv reads the keyring from a file in memory, as its descriptor
// 3, and is given a home beneath that file, where nothing can ever exist: so nothing of anyone's
// GnuPG set-up counts (gpgv would otherwise also trust the keys in its home's trustedkeys.kbx),
// and nothing is written to disk that a killed run could leave behind.
class Verifier
{
public:
  // Reads the keyring and puts it in the form gpgv reads: an armoured one is decoded.
  gboolean start (const char *keyring, GError **error);

  // gpgv's verdict on the detached signature in signature_fd over what data_fd holds from its
  // offset on. FALSE with error set only once cancellable is cancelled.
  gboolean check (int signature_fd, int data_fd, GCancellable *cancellable,
                  SignatureVerdict *out_verdict, GError **error);

private:
  UniqueFd keyring_;
};

gboolean Verifier::start (const char *keyring, GError **error)
{
  g_autoptr (GError) failure = nullptr;
  std::string contents;
  if (!read_regular_file (keyring, &contents, &failure))
    return refuse (error, KIV_CONFIG_ERROR_KEYRING_UNREADABLE,
                   std::string ("cannot read the keyring: ") + failure->message);
  // gpgv reads only binary keyrings.
  std::string packets;
  if (keyring_is_armoured (contents) && !dearmor_keyring (contents, &packets))
    return refuse (error, KIV_CONFIG_ERROR_KEYRING_UNREADABLE,
                   std::string ("the keyring ") + keyring + " holds damaged ASCII armour");
  keyring_ = memory_file_of (packets.empty () ? contents : packets, &failure);
  if (!keyring_)
    return refuse (error, KIV_CONFIG_ERROR_KEYRING_UNREADABLE,
                   std::string ("cannot decode the keyring: ") + failure->message);
  return TRUE;
}

// gpgv reads the data on its standard input and writes its status lines to standard output; its
// own words on standard error are not shown.
gboolean Verifier::check (int signature_fd, int data_fd, GCancellable *cancellable,
                          SignatureVerdict *out_verdict, GError **error)
{
  const char *const argv[]
      = { "gpgv", "--homedir", "/dev/fd/3/home", "--keyring", "/dev/fd/3", "--status-fd",
          "1",    "--",        "/dev/fd/4",      "-",         nullptr };
  ProgramOptions options;
  options.stdin_fd = data_fd;
  options.fds = { keyring_.get (), signature_fd };
  options.quiet = true;
  std::string status;
  int exit_status = -1;
  g_autoptr (GError) failure = nullptr;
  if (!run_program (argv, options, cancellable, &status, &exit_status, &failure))
    {
      if (g_error_matches (failure, G_IO_ERROR, G_IO_ERROR_CANCELLED))
        {
          g_propagate_error (error, g_steal_pointer (&failure));
          return FALSE;
        }
      *out_verdict = {};
      out_verdict->reason = std::string ("cannot run gpgv: ") + failure->message;
      return TRUE;
    }
  *out_verdict = judge_gpgv_status (status, exit_status);
  return TRUE;
}

// The modification time of a regular file, or -1 when there is none.
gint64 modification_time (const char *path)
{
  GStatBuf info;
  return g_stat (path, &info) == 0 && S_ISREG (info.st_mode) ? gint64 (info.st_mtime) : -1;
}

// Why a good signature made at created may not replace the pair kept at path and signature_path,
// or an empty string. The kept signature's modification time is its creation time, so a new one
// no older than that needs no more, where that time can be taken for it (see
// is_newer_than_stored). Otherwise gpgv checks the kept pair for its true time. A kept pair that
// no longer checks out (the copy was edited, or its key was dropped from the keyring), or whose
// files are not regular files, sets no bound. FALSE with error set only once cancelled.
gboolean find_refusal_of_older (Verifier &verifier, gint64 created, const char *path,
                                const char *signature_path, GCancellable *cancellable,
                                std::string *out_refusal, GError **error)
{
  out_refusal->clear ();
  const KeptPairTimes kept{ modification_time (signature_path), modification_time (path) };
  if (is_newer_than_stored (created, kept))
    return TRUE;
  const UniqueFd kept_file = open_regular_file (path, nullptr);
  const UniqueFd kept_signature = open_regular_file (signature_path, nullptr);
  SignatureVerdict verdict;
  if (kept_file && kept_signature
      && !verifier.check (kept_signature.get (), kept_file.get (), cancellable, &verdict, error))
    return FALSE;
  const gint64 now = g_get_real_time () / G_USEC_PER_SEC;
  *out_refusal = refusal_of_older (created, bound_of_kept_pair (verdict.created, kept.file, now));
  return TRUE;
}

// Clears a name that only this code makes (the lock, the signature kept aside) of whatever a
// killed run or a person left there: a file, a link (never followed), a FIFO, an empty folder.
// A folder that holds something is not ours to empty: the error names it.
// role says what the name is for, in the error.
gboolean clear_name (const std::string &path, const char *role, GError **error)
{
  if (g_unlink (path.c_str ()) == 0 || errno == ENOENT)
    return TRUE;
  if ((errno == EISDIR || errno == EPERM) && (g_rmdir (path.c_str ()) == 0 || errno == ENOENT))
    return TRUE;
  return set_error_from_errno (error, errno,
                               "Cannot remove " + path + ", which stands in the way of " + role);
}

// Runs that check and keep a pair beside path take turns: the age check and the two renames are
// one critical section, so that after any interleaving of runs the kept pair belongs together and
// is no older than any pair a run before kept. The lock is a file of its own, removed by its
// holder when done; a run that opened it meanwhile finds it gone and locks the new one.
class PairLock
{
public:
  PairLock () = default;
  PairLock (const PairLock &) = delete;
  PairLock &operator= (const PairLock &) = delete;
  ~PairLock ()
  {
    if (fd_)
      g_unlink (path_.c_str ()); // while still holding it, then the descriptor closes
  }

  gboolean acquire (std::string path, GCancellable *cancellable, GError **error);

private:
  std::string path_;
  UniqueFd fd_;
};

// Whether something other than a regular file stands at path: never a lock file, nor a signature
// of ours.
bool is_in_the_way (const char *path)
{
  struct stat named;
  return lstat (path, &named) == 0 && !S_ISREG (named.st_mode);
}

// A lock file is only ever a regular file made by open: anything else at its name (a link, a
// folder, a FIFO) was left by someone else and is cleared away, never followed or waited on.
gboolean PairLock::acquire (std::string path, GCancellable *cancellable, GError **error)
{
  const gint64 deadline = g_get_monotonic_time () + lock_wait_limit;
  for (int cleared = 0;;)
    {
      UniqueFd fd (
          open (path.c_str (), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
      const int open_errno = errno;
      struct stat held;
      if (!fd || fstat (fd.get (), &held) != 0 || !S_ISREG (held.st_mode))
        {
          if (!is_in_the_way (path.c_str ()))
            {
              if (!fd)
                return set_error_from_errno (error, open_errno, "Cannot lock " + path);
              continue; // it was replaced meanwhile
            }
          if (cleared++ == 10)
            return set_error_from_errno (error, EEXIST, "Cannot lock " + path);
          if (!clear_name (path, "the lock", error))
            return FALSE;
          continue;
        }
      // Another run holds it for a moment (two renames and, at most, one gpgv run): wait in short
      // steps, so that a cancellation is seen at once.
      while (flock (fd.get (), LOCK_EX | LOCK_NB) != 0)
        {
          if (errno != EWOULDBLOCK && errno != EINTR)
            return set_error_from_errno (error, errno, "Cannot lock " + path);
          if (g_cancellable_set_error_if_cancelled (cancellable, error))
            return FALSE;
          if (g_get_monotonic_time () > deadline)
            return refuse (error, KIV_CONFIG_ERROR_LOCKED,
                           "another process has held " + path + " for "
                               + std::to_string (lock_wait_limit / G_USEC_PER_SEC)
                               + " seconds: the configuration cannot be put in place");
          g_usleep (5000);
        }
      if (names_open_file (path.c_str (), fd.get ()))
        {
          path_ = std::move (path);
          fd_ = std::move (fd);
          return TRUE;
        }
    }
}

// How the old signature waits while the new pair goes in place.
enum class Aside
{
  none,   // there was none (or a folder, which the signature's rename will not replace)
  linked, // a second name for it
  moved,  // its only name, moved: a file system without hard links (vfat, exFAT, many FUSE and
          // SMB mounts) refuses link(), often with EPERM
};

// Keeps the signature at signature aside at the name aside, made free first (a killed run's is
// removed, whatever else stands there is cleared or named in the error).
gboolean keep_aside (const char *signature, const std::string &aside, Aside *out_how,
                     GError **error)
{
  *out_how = Aside::none;
  if (!clear_name (aside, "the signature kept aside", error))
    return FALSE;
  struct stat old;
  if (lstat (signature, &old) != 0)
    return errno == ENOENT ? TRUE
                           : set_error_from_errno (error, errno,
                                                   std::string ("Cannot keep aside ") + signature);
  if (S_ISDIR (old.st_mode))
    return TRUE;
  if (link (signature, aside.c_str ()) == 0)
    *out_how = Aside::linked;
  else if (rename (signature, aside.c_str ()) == 0)
    *out_how = Aside::moved;
  else if (errno != ENOENT)
    return set_error_from_errno (error, errno, std::string ("Cannot keep aside ") + signature);
  return TRUE;
}

// Puts the signature and then the file in place as one: until the file is in place, the old
// signature is kept aside, and should either rename fail it is put back, so that a failed run
// leaves both as they were. Runs inside the pair's lock, which also makes the name kept aside this
// run's own.
gboolean commit_pair (StagedFile &signature, StagedFile &config, GError **error)
{
  if (!signature.prepare (error) || !config.prepare (error))
    return FALSE;
  const std::string kept_aside = std::string (signature.destination ()) + ".kiv-old";
  Aside how;
  if (!keep_aside (signature.destination (), kept_aside, &how, error))
    return FALSE;
  const bool committed = signature.commit (error);
  if (committed && config.commit (error))
    {
      if (how != Aside::none)
        g_unlink (kept_aside.c_str ());
      return TRUE;
    }
  if (how == Aside::moved || (committed && how == Aside::linked))
    rename (kept_aside.c_str (), signature.destination ());
  else if (how == Aside::linked)
    g_unlink (kept_aside.c_str ());
  else if (committed)
    g_unlink (signature.destination ());
  return FALSE;
}
} // namespace

GBytes *fetch_signed_configuration (const char *url, const char *path, const char *keyring,
                                    const DownloadControl &control, GError **error)
{
  g_autofree char *sig_url = g_strconcat (url, ".sig", nullptr);
  g_autofree char *sig_path = g_strconcat (path, ".sig", nullptr);
  Verifier verifier;
  if (!verifier.start (keyring, error))
    return nullptr;

  // One transport for both downloads, whose connection the second reuses: gpgv checks the bytes
  // themselves, so nothing is lost by not seeing the end of the connection.
  HttpTransportPtr transport = http_transport_new (true, control.authorities);
  g_autoptr (GBytes) text = nullptr;
  auto config = download_staged (transport.get (), url, path, control, &text, error);
  if (config == nullptr)
    return nullptr;
  g_autoptr (GError) failure = nullptr;
  DownloadControl signature_control = control;
  signature_control.max_size = signature_max_size;
  // A progress bar follows the file: the signature's few hundred bytes are told only in words.
  signature_control.fetched = nullptr;
  auto signature
      = download_staged (transport.get (), sig_url, sig_path, signature_control, nullptr, &failure);
  if (signature == nullptr)
    {
      if (g_error_matches (failure, G_IO_ERROR, G_IO_ERROR_CANCELLED))
        g_propagate_error (error, g_steal_pointer (&failure));
      else
        refuse (error, KIV_CONFIG_ERROR_NO_SIGNATURE,
                std::string ("cannot download its signature ") + sig_url + ": " + failure->message);
      return nullptr;
    }

  const UniqueFd data_fd = memory_file_of (view_of (text), error);
  const UniqueFd signature_fd
      = data_fd ? open_regular_file (signature->path (), error) : UniqueFd ();
  SignatureVerdict verdict;
  if (!signature_fd
      || !verifier.check (signature_fd.get (), data_fd.get (), control.cancellable, &verdict,
                          error))
    return nullptr;
  if (!verdict.good)
    {
      refuse (error, verdict.code, verdict.reason);
      return nullptr;
    }

  PairLock lock;
  std::string too_old;
  if (!lock.acquire (std::string (path) + ".lock", control.cancellable, error)
      || !find_refusal_of_older (verifier, verdict.created, path, sig_path, control.cancellable,
                                 &too_old, error))
    return nullptr;
  if (!too_old.empty ())
    {
      refuse (error, KIV_CONFIG_ERROR_OLDER, too_old);
      return nullptr;
    }
  // The next run reads the bound from there; should this fail, it asks gpgv. The signature's own
  // time, even one ahead of this machine's clock: whether a clock is wrong is judged when the
  // time is used, by the clock of that moment.
  const struct timespec times[2] = { { 0, UTIME_OMIT }, { time_t (verdict.created), 0 } };
  utimensat (AT_FDCWD, signature->path (), times, 0);
  if (!download_may_commit (control, error) || !commit_pair (*signature, *config, error))
    return nullptr;
  return static_cast<GBytes *> (g_steal_pointer (&text));
}
