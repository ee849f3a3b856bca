// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// The signed fetch: the configuration and its detached signature are downloaded beside the kept
// copy, gpgv checks them against the publisher's keyring, and only a good signature no older than
// the kept one puts both in place.
#include "signature-private.h"

#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib/gstdio.h>

#include "common-private.h"
#include "net-private.h"

namespace
{
gboolean refuse (GError **error, KivConfigError code, const std::string &reason)
{
  g_set_error_literal (error, KIV_CONFIG_ERROR, code, reason.c_str ());
  return FALSE;
}

// The bytes that will be parsed, for gpgv to read, in a file in memory that nothing else can
// reach: the downloaded file on disk could still change between the check and the parse. (A
// pipe would not do: gpgv may leave before reading all of it.)
UniqueFd memory_file_of (GBytes *bytes, GError **error)
{
  gsize size = 0;
  const auto *data = static_cast<const char *> (g_bytes_get_data (bytes, &size));
  UniqueFd fd (memfd_create ("kiv-config", MFD_CLOEXEC));
  g_autoptr (GError) failure = nullptr;
  if (!fd)
    set_error_from_errno (&failure, errno, "Cannot make a file in memory");
  else if (write_all (fd.get (), { data, size }, "Cannot write a file in memory", &failure)
           && lseek (fd.get (), 0, SEEK_SET) != 0)
    set_error_from_errno (&failure, errno, "Cannot rewind a file in memory");
  if (failure == nullptr)
    return fd;
  refuse (error, KIV_CONFIG_ERROR_UNREADABLE, failure->message);
  return {};
}

// gpgv's side of one retrieval. gpgv runs in a GnuPG home of its own, empty, private and removed
// afterwards, so that nothing of the user's own GnuPG set-up (options, keyrings, trust) counts.
class Verifier
{
public:
  Verifier () = default;
  Verifier (const Verifier &) = delete;
  Verifier &operator= (const Verifier &) = delete;
  ~Verifier ()
  {
    if (decoded_keyring_ != nullptr)
      g_unlink (decoded_keyring_.get ());
    if (home_ != nullptr)
      g_rmdir (home_.get ());
  }

  // Makes the home and puts the keyring in the form gpgv reads.
  gboolean start (const char *keyring, GError **error);

  // gpgv's verdict on a detached signature of what data_fd holds from its offset on.
  SignatureVerdict check (const char *signature_path, UniqueFd data_fd);

private:
  gboolean prepare_keyring (const char *keyring, GError **error);

  struct FreeString
  {
    void operator() (char *text) const { g_free (text); }
  };

  std::unique_ptr<char, FreeString> home_;
  const char *keyring_ = nullptr;                     // what gpgv reads
  std::unique_ptr<char, FreeString> decoded_keyring_; // an armoured keyring decoded, in home_
};

gboolean Verifier::start (const char *keyring, GError **error)
{
  g_autoptr (GError) failure = nullptr;
  home_.reset (g_dir_make_tmp ("kiv-gpgv-XXXXXX", &failure));
  if (home_ == nullptr)
    return refuse (error, KIV_CONFIG_ERROR_VERIFIER_FAILED,
                   std::string ("cannot make a home for gpgv: ") + failure->message);
  return prepare_keyring (keyring, error);
}

// gpgv reads only binary keyrings; an armoured one is decoded into the private home.
gboolean Verifier::prepare_keyring (const char *keyring, GError **error)
{
  g_autoptr (GError) failure = nullptr;
  g_autofree char *text = nullptr;
  gsize length = 0;
  if (!g_file_get_contents (keyring, &text, &length, &failure))
    return refuse (error, KIV_CONFIG_ERROR_KEYRING_UNREADABLE,
                   std::string ("cannot read the keyring: ") + failure->message);
  keyring_ = keyring;
  const std::string_view contents (text, length);
  if (!keyring_is_armoured (contents))
    return TRUE;

  std::string packets;
  if (!dearmor_keyring (contents, &packets))
    return refuse (error, KIV_CONFIG_ERROR_KEYRING_UNREADABLE,
                   std::string ("the keyring ") + keyring + " holds damaged ASCII armour");
  decoded_keyring_.reset (g_build_filename (home_.get (), "keyring.gpg", nullptr));
  if (!g_file_set_contents (decoded_keyring_.get (), packets.data (), gssize (packets.size ()),
                            &failure))
    return refuse (error, KIV_CONFIG_ERROR_KEYRING_UNREADABLE,
                   std::string ("cannot decode the keyring: ") + failure->message);
  keyring_ = decoded_keyring_.get ();
  return TRUE;
}

// gpgv reads the data on its standard input and writes its status lines to standard output; its
// own words on standard error are not shown.
SignatureVerdict Verifier::check (const char *signature_path, UniqueFd data_fd)
{
  const char *argv[] = { "gpgv", "--homedir", home_.get (),   "--keyring", keyring_, "--status-fd",
                         "1",    "--",        signature_path, "-",         nullptr };
  GPid pid = 0;
  int status_fd = -1;
  g_autoptr (GError) error = nullptr;
  const gboolean started = g_spawn_async_with_pipes_and_fds (
      nullptr, argv, nullptr,
      GSpawnFlags (G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDERR_TO_DEV_NULL
                   | G_SPAWN_CLOEXEC_PIPES),
      nullptr, nullptr, data_fd.get (), -1, -1, nullptr, nullptr, 0, &pid, nullptr, &status_fd,
      nullptr, &error);
  data_fd.reset ();
  if (!started)
    {
      SignatureVerdict verdict;
      verdict.reason = std::string ("cannot run gpgv: ") + error->message;
      return verdict;
    }

  const UniqueFd status_pipe (status_fd);
  std::string status;
  char buffer[4096];
  for (ssize_t n;
       (n = retry_on_eintr ([&] { return read (status_pipe.get (), buffer, sizeof buffer); })) > 0;)
    status.append (buffer, std::size_t (n));
  int wait_status = 0;
  const pid_t reaped = retry_on_eintr ([&] { return waitpid (pid, &wait_status, 0); });
  const bool exited = reaped == pid && WIFEXITED (wait_status);
  return judge_gpgv_status (status, exited ? WEXITSTATUS (wait_status) : -1);
}

// The modification time of a file, or -1 when there is none.
gint64 modification_time (const char *path)
{
  GStatBuf info;
  return g_stat (path, &info) == 0 ? gint64 (info.st_mtime) : -1;
}

// Why a good signature made at created may not replace the pair kept at path and signature_path,
// or an empty string. A signature is put in place with its creation time as its modification
// time, so a new one no older than that needs no more. Should it be older, gpgv checks the kept
// pair for its true time: a copy of the files may have moved the modification time on. A kept
// pair that no longer checks out (the copy was edited, or its key was dropped from the keyring)
// sets no bound.
std::string refusal_of_older_than_kept (Verifier &verifier, gint64 created, const char *path,
                                        const char *signature_path)
{
  if (created >= modification_time (signature_path))
    return {};
  UniqueFd kept_fd (open (path, O_RDONLY | O_CLOEXEC));
  const gint64 kept
      = kept_fd ? verifier.check (signature_path, std::move (kept_fd)).created : gint64 (-1);
  return refusal_of_older (created, kept);
}
} // namespace

GBytes *fetch_signed_configuration (const char *url, const char *path, const char *keyring,
                                    ProgressFunc progress, gpointer user_data, GError **error)
{
  g_autofree char *sig_url = g_strconcat (url, ".sig", nullptr);
  g_autofree char *sig_path = g_strconcat (path, ".sig", nullptr);
  Verifier verifier;
  if (!verifier.start (keyring, error))
    return nullptr;

  // One transport for both downloads, so that the second can reuse what the first set up.
  HttpTransportPtr transport = http_transport_new ();
  g_autoptr (GBytes) text = nullptr;
  DownloadControl control;
  control.progress = progress;
  control.user_data = user_data;
  auto config = download_staged (transport.get (), url, path, control, &text, error);
  if (config == nullptr)
    return nullptr;
  g_autoptr (GError) failure = nullptr;
  auto signature
      = download_staged (transport.get (), sig_url, sig_path, control, nullptr, &failure);
  if (signature == nullptr)
    {
      refuse (error, KIV_CONFIG_ERROR_NO_SIGNATURE,
              std::string ("cannot download its signature ") + sig_url + ": " + failure->message);
      return nullptr;
    }

  UniqueFd data_fd = memory_file_of (text, error);
  if (!data_fd)
    return nullptr;
  const SignatureVerdict verdict = verifier.check (signature->path (), std::move (data_fd));
  if (!verdict.good)
    {
      refuse (error, verdict.code, verdict.reason);
      return nullptr;
    }
  const std::string too_old
      = refusal_of_older_than_kept (verifier, verdict.created, path, sig_path);
  if (!too_old.empty ())
    {
      refuse (error, KIV_CONFIG_ERROR_OLDER, too_old);
      return nullptr;
    }
  // The next run reads the bound from there; should this fail, it asks gpgv.
  const struct timespec times[2] = { { 0, UTIME_OMIT }, { time_t (verdict.created), 0 } };
  utimensat (AT_FDCWD, signature->path (), times, 0);

  // The signature first: should the second rename fail, the kept pair no longer checks out, and
  // the next run still takes only a good signature, with no bound on its age.
  if (!signature->commit (error) || !config->commit (error))
    return nullptr;
  return static_cast<GBytes *> (g_steal_pointer (&text));
}
