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
// or an empty string. A signature is kept with its creation time as its modification time, so a
// new one no older than that needs no more. Should it be older, gpgv checks the kept pair for its
// true time: a copy of the files may have moved the modification time on. A kept pair that no
// longer checks out (the copy was edited, or its key was dropped from the keyring), or whose files
// are not regular files, sets no bound. FALSE with error set only once cancelled.
gboolean find_refusal_of_older (Verifier &verifier, gint64 created, const char *path,
                                const char *signature_path, GCancellable *cancellable,
                                std::string *out_refusal, GError **error)
{
  out_refusal->clear ();
  const gint64 stored = modification_time (signature_path);
  if (created >= stored)
    return TRUE;
  const UniqueFd kept = open_regular_file (path, nullptr);
  const UniqueFd kept_signature = open_regular_file (signature_path, nullptr);
  SignatureVerdict verdict;
  if (kept && kept_signature
      && !verifier.check (kept_signature.get (), kept.get (), cancellable, &verdict, error))
    return FALSE;
  *out_refusal = refusal_of_older (created, bound_of_kept_pair (verdict.created, stored));
  return TRUE;
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

gboolean PairLock::acquire (std::string path, GCancellable *cancellable, GError **error)
{
  while (true)
    {
      UniqueFd fd (open (path.c_str (), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
      if (!fd)
        return set_error_from_errno (error, errno, "Cannot lock " + path);
      // Another run holds it for a moment (two renames and, at most, one gpgv run): wait in short
      // steps, so that a cancellation is seen at once.
      while (flock (fd.get (), LOCK_EX | LOCK_NB) != 0)
        {
          if (errno != EWOULDBLOCK && errno != EINTR)
            return set_error_from_errno (error, errno, "Cannot lock " + path);
          if (g_cancellable_set_error_if_cancelled (cancellable, error))
            return FALSE;
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

// Puts the signature and then the file in place as one: until the file is in place, the old
// signature is kept aside (a second name for it), and should the file's rename fail it is put back,
// so that a failed run leaves both as they were. Runs inside the pair's lock, which also makes
// the name kept aside this run's own (a killed run's is removed first).
gboolean commit_pair (StagedFile &signature, StagedFile &config, GError **error)
{
  if (!signature.prepare (error) || !config.prepare (error))
    return FALSE;
  const std::string kept_aside = std::string (signature.destination ()) + ".kiv-old";
  g_unlink (kept_aside.c_str ());
  const bool had_signature = link (signature.destination (), kept_aside.c_str ()) == 0;
  if (!had_signature && errno != ENOENT)
    return set_error_from_errno (error, errno,
                                 std::string ("Cannot keep aside ") + signature.destination ());
  if (!signature.commit (error))
    {
      g_unlink (kept_aside.c_str ());
      return FALSE;
    }
  if (!config.commit (error))
    {
      if (had_signature)
        rename (kept_aside.c_str (), signature.destination ());
      else
        g_unlink (signature.destination ());
      return FALSE;
    }
  g_unlink (kept_aside.c_str ());
  return TRUE;
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
  HttpTransportPtr transport = http_transport_new (true);
  g_autoptr (GBytes) text = nullptr;
  auto config = download_staged (transport.get (), url, path, control, &text, error);
  if (config == nullptr)
    return nullptr;
  g_autoptr (GError) failure = nullptr;
  DownloadControl signature_control = control;
  signature_control.max_size = signature_max_size;
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
  // The next run reads the bound from there; should this fail, it asks gpgv.
  const gint64 stored = time_to_store (verdict.created, g_get_real_time () / G_USEC_PER_SEC);
  const struct timespec times[2] = { { 0, UTIME_OMIT }, { time_t (stored), 0 } };
  utimensat (AT_FDCWD, signature->path (), times, 0);
  if (g_cancellable_set_error_if_cancelled (control.cancellable, error)
      || !commit_pair (*signature, *config, error))
    return nullptr;
  return static_cast<GBytes *> (g_steal_pointer (&text));
}
