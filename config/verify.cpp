// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// The signed road of get_configuration: the configuration and its detached signature are
// downloaded beside ~/.kiv-config, gpgv checks them against the keyring the build names, and only
// a good signature no older than the kept one puts both in place.
#include <cerrno>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gio/gio.h>
#include <glib/gstdio.h>

#include "config-private.h"
#include "net-private.h"

namespace
{
void set_error_from_errno (GError **error, const char *what)
{
  const int saved_errno = errno;
  g_set_error (error, G_IO_ERROR, g_io_error_from_errno (saved_errno), "%s: %s", what,
               g_strerror (saved_errno));
}

// The bytes that will be parsed, for gpgv to read, in a file in memory that nothing else can
// reach: the downloaded file on disk could still change between the check and the parse. (A
// pipe would not do: gpgv may leave before reading all of it.) Returns -1 with error set.
int memory_file_of (std::string_view data, GError **error)
{
  const int fd = memfd_create ("kiv-config", MFD_CLOEXEC);
  if (fd < 0)
    {
      set_error_from_errno (error, "Cannot make a file in memory");
      return -1;
    }
  while (!data.empty ())
    {
      const ssize_t written = write (fd, data.data (), data.size ());
      if (written < 0 && errno == EINTR)
        continue;
      if (written <= 0)
        {
          set_error_from_errno (error, "Cannot write a file in memory");
          close (fd);
          return -1;
        }
      data.remove_prefix (std::size_t (written));
    }
  if (lseek (fd, 0, SEEK_SET) != 0)
    {
      set_error_from_errno (error, "Cannot rewind a file in memory");
      close (fd);
      return -1;
    }
  return fd;
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

  // Makes the home and puts the keyring in the form gpgv reads. Returns false with a reason.
  bool start (const char *keyring, std::string *out_reason);

  // gpgv's verdict on a detached signature of what data_fd holds from its offset on. The fd is
  // taken over and closed.
  SignatureVerdict check (const char *signature_path, int data_fd);

private:
  bool prepare_keyring (const char *keyring, std::string *out_reason);

  struct FreeString
  {
    void operator() (char *text) const { g_free (text); }
  };

  std::unique_ptr<char, FreeString> home_;
  const char *keyring_ = nullptr;                     // what gpgv reads
  std::unique_ptr<char, FreeString> decoded_keyring_; // an armoured keyring decoded, in home_
};

bool Verifier::start (const char *keyring, std::string *out_reason)
{
  g_autoptr (GError) error = nullptr;
  home_.reset (g_dir_make_tmp ("kiv-gpgv-XXXXXX", &error));
  if (home_ == nullptr)
    {
      *out_reason = std::string ("cannot make a home for gpgv: ") + error->message;
      return false;
    }
  return prepare_keyring (keyring, out_reason);
}

// gpgv reads only binary keyrings; an armoured one is decoded into the private home.
bool Verifier::prepare_keyring (const char *keyring, std::string *out_reason)
{
  g_autoptr (GError) error = nullptr;
  g_autofree char *text = nullptr;
  gsize length = 0;
  if (!g_file_get_contents (keyring, &text, &length, &error))
    {
      *out_reason = std::string ("cannot read the keyring: ") + error->message;
      return false;
    }
  keyring_ = keyring;
  const std::string_view contents (text, length);
  if (!keyring_is_armoured (contents))
    return true;

  std::string packets;
  if (!dearmor_keyring (contents, &packets))
    {
      *out_reason = std::string ("the keyring ") + keyring + " holds damaged ASCII armour";
      return false;
    }
  decoded_keyring_.reset (g_build_filename (home_.get (), "keyring.gpg", nullptr));
  if (!g_file_set_contents (decoded_keyring_.get (), packets.data (), gssize (packets.size ()),
                            &error))
    {
      *out_reason = std::string ("cannot decode the keyring: ") + error->message;
      return false;
    }
  keyring_ = decoded_keyring_.get ();
  return true;
}

// gpgv reads the data on its standard input and writes its status lines to standard output; its
// own words on standard error are not shown.
SignatureVerdict Verifier::check (const char *signature_path, int data_fd)
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
      nullptr, nullptr, data_fd, -1, -1, nullptr, nullptr, 0, &pid, nullptr, &status_fd, nullptr,
      &error);
  close (data_fd);
  if (!started)
    {
      SignatureVerdict verdict;
      verdict.reason = std::string ("cannot run gpgv: ") + error->message;
      return verdict;
    }

  std::string status;
  char buffer[4096];
  for (ssize_t n; (n = read (status_fd, buffer, sizeof buffer)) != 0;)
    if (n > 0)
      status.append (buffer, std::size_t (n));
    else if (errno != EINTR)
      break;
  close (status_fd);
  int wait_status = 0;
  pid_t reaped;
  while ((reaped = waitpid (pid, &wait_status, 0)) < 0 && errno == EINTR)
    ;
  const bool exited = reaped == pid && WIFEXITED (wait_status);
  return judge_gpgv_status (status, exited ? WEXITSTATUS (wait_status) : -1);
}

// The modification time of a file, or -1 when there is none.
gint64 modification_time (const char *path)
{
  GStatBuf info;
  return g_stat (path, &info) == 0 ? gint64 (info.st_mtime) : -1;
}

std::string utc_time (gint64 seconds)
{
  g_autoptr (GDateTime) time = g_date_time_new_from_unix_utc (seconds);
  g_autofree char *text
      = time != nullptr ? g_date_time_format (time, "%Y-%m-%d %H:%M:%S UTC") : nullptr;
  return text != nullptr ? text : std::to_string (seconds);
}

// An older file, even one the publisher signed, may say what the publisher has since taken back
// (an archive key revoked, a package pulled): it never replaces a newer one. Returns why a good
// signature made at created may not replace the pair kept at path and signature_path, or an
// empty string.
// A signature is put in place with its creation time as its modification time, so a new one no
// older than that needs no more. Should it be older, gpgv checks the kept pair for its true time:
// a copy of the files may have moved the modification time on. A kept pair that no longer checks
// out (the copy was edited, or its key was dropped from the keyring) sets no bound.
std::string refusal_of_older (Verifier &verifier, gint64 created, const char *path,
                              const char *signature_path)
{
  if (created >= modification_time (signature_path))
    return {};
  const int kept_fd = open (path, O_RDONLY | O_CLOEXEC);
  const gint64 kept = kept_fd >= 0 ? verifier.check (signature_path, kept_fd).created : -1;
  if (created >= kept)
    return {};
  return "signed " + utc_time (created) + ", before the copy already kept, signed "
         + utc_time (kept);
}

// The configuration cannot be had and the reason is its signature's. Like the report of a failed
// download, the text is not translated.
void report_refusal (ProgressFunc progress, gpointer user_data, const char *url,
                     const std::string &reason)
{
  report_failure_to_progress (progress, user_data, url, reason.c_str ());
  g_log (nullptr, G_LOG_LEVEL_WARNING, "Failed to verify config file '%s': %s\n", url,
         reason.c_str ());
}
} // namespace

char *fetch_signed_configuration (const char *url, const char *path, const char *keyring,
                                  ProgressFunc progress, gpointer user_data)
{
  g_autofree char *sig_url = g_strconcat (url, ".sig", nullptr);
  g_autofree char *sig_path = g_strconcat (path, ".sig", nullptr);
  std::string reason;
  Verifier verifier;
  if (!verifier.start (keyring, &reason))
    {
      report_refusal (progress, user_data, url, reason);
      return nullptr;
    }

  // One transport for both downloads, so that the second can reuse what the first set up.
  g_autoptr (GError) error = nullptr;
  HttpTransportPtr transport = http_transport_new ();
  auto config = download_staged (transport.get (), url, path, progress, user_data, &error);
  if (config == nullptr)
    {
      report_download_failure (progress, user_data, error);
      return nullptr;
    }
  auto signature
      = download_staged (transport.get (), sig_url, sig_path, progress, user_data, &error);
  if (signature == nullptr)
    {
      report_refusal (progress, user_data, url,
                      std::string ("cannot download its signature ") + sig_url + ": "
                          + error->message);
      return nullptr;
    }

  g_autofree char *text = nullptr;
  gsize length = 0;
  if (!g_file_get_contents (config->path (), &text, &length, nullptr))
    return nullptr;
  const int data_fd = memory_file_of ({ text, length }, &error);
  const SignatureVerdict verdict = data_fd >= 0 ? verifier.check (signature->path (), data_fd)
                                                : SignatureVerdict{ false, -1, error->message };
  if (!verdict.good)
    {
      report_refusal (progress, user_data, url, verdict.reason);
      return nullptr;
    }

  const std::string too_old = refusal_of_older (verifier, verdict.created, path, sig_path);
  if (!too_old.empty ())
    {
      report_refusal (progress, user_data, url, too_old);
      return nullptr;
    }
  // The next run reads the bound from there; should this fail, it asks gpgv.
  const struct timespec times[2] = { { 0, UTIME_OMIT }, { time_t (verdict.created), 0 } };
  utimensat (AT_FDCWD, signature->path (), times, 0);

  // The signature first: should the second rename fail, the kept pair no longer checks out, and
  // the next run still takes only a good signature, with no bound on its age.
  if (!signature->commit (&error) || !config->commit (&error))
    {
      report_download_failure (progress, user_data, error);
      return nullptr;
    }
  return static_cast<char *> (g_steal_pointer (&text));
}
