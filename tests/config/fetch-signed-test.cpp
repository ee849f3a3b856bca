// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// The signed fetch's plumbing, with a stand-in gpgv first on PATH that says what each case needs:
// what is kept, what is refused with which code, and that the kept pair changes only as a pair.
// The real gpgv on real signatures is tests/e2e/signature-test.sh's.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include "kiv-http-test.h"
#include "signature-private.h"

namespace
{
constexpr gint64 day = 86400;

gint64 now ()
{
  return g_get_real_time () / G_USEC_PER_SEC;
}

std::string validsig (gint64 created)
{
  return "[GNUPG:] VALIDSIG EF2A 2026-12-07 " + std::to_string (created) + " 0 4 0 22 10 00 EF2A\n";
}

gint64 mtime (const std::string &path)
{
  GStatBuf info;
  return g_stat (path.c_str (), &info) == 0 ? gint64 (info.st_mtime) : -1;
}

void set_mtime (const std::string &path, gint64 seconds)
{
  const struct timespec times[2] = { { 0, UTIME_OMIT }, { time_t (seconds), 0 } };
  utimensat (AT_FDCWD, path.c_str (), times, 0);
}

// What is left in the home, sorted.
std::vector<std::string> kiv_files (const Scratch &home)
{
  auto left = home.others ("");
  std::sort (left.begin (), left.end ());
  return left;
}

// A gpgv that writes, on its Nth run, what the file "status.N" of its folder holds (nothing
// when there is none), and exits with 0.
class StandInGpgv
{
public:
  StandInGpgv ()
  {
    const auto script = scratch_.path ("gpgv");
    put (script,
         "#!/bin/sh\nd=$(dirname \"$0\")\nn=$(($(cat \"$d/runs\" 2>/dev/null || echo 0) + 1))\n"
         "echo $n > \"$d/runs\"\n[ ! -e \"$d/status.$n\" ] || cat \"$d/status.$n\"\n");
    g_chmod (script.c_str (), 0755);
    g_setenv ("PATH", (scratch_.path ("") + ":" + g_getenv ("PATH")).c_str (), TRUE);
  }
  void says (std::vector<std::string> runs)
  {
    g_unlink (scratch_.path ("runs").c_str ());
    for (std::size_t i = 0; i < runs.size (); i++)
      put (scratch_.path (("status." + std::to_string (i + 1)).c_str ()), runs[i]);
  }

private:
  Scratch scratch_;
};

StandInGpgv gpgv;
const std::string served = "[Debian bookworm]\ni served\n";
const std::string signature = "a signature";

struct Fetch
{
  GBytes *bytes = nullptr;
  GError *error = nullptr;
  ~Fetch ()
  {
    g_clear_pointer (&bytes, g_bytes_unref);
    g_clear_error (&error);
  }
};

void fetch (const ConfigServer &server, const Scratch &home, const std::string &keyring, Fetch *out)
{
  const auto path = home.path (".kiv-config");
  out->bytes = fetch_signed_configuration (server.url ().c_str (), path.c_str (), keyring.c_str (),
                                           DownloadControl (), &out->error);
}
} // namespace

TEST (FetchSignedConfiguration, KeepsOnlyAGoodPairNoOlderThanTheKeptOne)
{
  ConfigServer server ("normal", served, Scheme::http, { "--signature", "/dev/null" });
  Scratch files;
  put (files.path ("keyring"), "keys");
  const gint64 kept_at = now () - 10 * day, ahead = now () + 3650 * day;
  constexpr gint64 year_2001 = 1000000000;
  const struct
  {
    const char *what;
    std::vector<std::string> gpgv; // what each run says: the new pair's check, the kept pair's
    gint64 kept_mtime;             // of the kept signature
    gint64 kept_file_mtime;        // of the kept file; -1: now
    gint64 created;                // the new signature's time, which it is kept with
    int want_code;                 // 0: taken
  } cases[] = {
    { "newer than the kept one", { validsig (now () - day) }, kept_at, -1, now () - day, 0 },
    { "the same time again", { validsig (kept_at) }, kept_at, -1, kept_at, 0 },
    { "older: gpgv is asked for the kept pair's time",
      { validsig (kept_at - day), validsig (kept_at) },
      kept_at,
      -1,
      kept_at - day,
      KIV_CONFIG_ERROR_OLDER },
    { "older than a copy's time, but not than the kept signature's",
      { validsig (kept_at - day), validsig (kept_at - 2 * day) },
      kept_at,
      -1,
      kept_at - day,
      0 },
    { "a kept pair that no longer checks out sets no bound",
      { validsig (kept_at - day), "[GNUPG:] BADSIG 95 Good\n" },
      kept_at,
      -1,
      kept_at - day,
      0 },
    { "dated ten years ahead: taken, and kept with its own time",
      { validsig (ahead) },
      kept_at,
      -1,
      ahead,
      0 },
    { "after one kept from the future: bounded by when that was kept",
      { validsig (kept_at + day), validsig (ahead) },
      ahead,
      kept_at,
      kept_at + day,
      0 },
    { "before one kept from the future was kept",
      { validsig (kept_at - day), validsig (ahead) },
      ahead,
      kept_at,
      kept_at - day,
      KIV_CONFIG_ERROR_OLDER },
    { "kept by an earlier version while the clock read 2001",
      { validsig (kept_at - day), validsig (kept_at) },
      year_2001,
      year_2001,
      kept_at - day,
      KIV_CONFIG_ERROR_OLDER },
    { "refused", { "[GNUPG:] BADSIG 95 Good\n" }, kept_at, -1, 0, KIV_CONFIG_ERROR_BAD_SIGNATURE },
    { "no verdict", { "" }, kept_at, -1, 0, KIV_CONFIG_ERROR_VERIFIER_FAILED },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.what);
      Scratch home;
      const auto path = home.path (".kiv-config"), sig_path = home.path (".kiv-config.sig");
      put (path, "older copy");
      put (sig_path, "older signature");
      set_mtime (sig_path, c.kept_mtime);
      if (c.kept_file_mtime >= 0)
        set_mtime (path, c.kept_file_mtime);
      gpgv.says (c.gpgv);

      Fetch f;
      fetch (server, home, files.path ("keyring"), &f);
      EXPECT_EQ (kiv_files (home), (std::vector<std::string>{ ".kiv-config", ".kiv-config.sig" }));
      if (c.want_code == 0)
        {
          if (f.bytes == nullptr)
            {
              ADD_FAILURE () << f.error->message;
              continue;
            }
          EXPECT_EQ (std::string (static_cast<const char *> (g_bytes_get_data (f.bytes, nullptr)),
                                  g_bytes_get_size (f.bytes)),
                     served);
          EXPECT_EQ (contents (path), served);
          EXPECT_EQ (contents (sig_path), "");
          EXPECT_EQ (mtime (sig_path), c.created);
          continue;
        }
      if (f.error == nullptr)
        {
          ADD_FAILURE () << "taken";
          continue;
        }
      EXPECT_TRUE (g_error_matches (f.error, KIV_CONFIG_ERROR, c.want_code)) << f.error->message;
      EXPECT_EQ (contents (path), "older copy");
      EXPECT_EQ (contents (sig_path), "older signature");
    }
}

// Whatever stands at the names only the signed fetch makes, the lock and the signature kept aside,
// was left by a killed run or by hand: it is cleared (a link, never what it leads to) and the pair
// is taken, or, a folder that holds something, the error names it. Nothing waits on a FIFO.
TEST (FetchSignedConfiguration, ClearsWhatStandsAtItsOwnNames)
{
  ConfigServer server ("normal", served, Scheme::http, { "--signature", "/dev/null" });
  Scratch files;
  put (files.path ("keyring"), "keys");
  put (files.path ("elsewhere"), "someone's file");
  enum class Odd
  {
    file,
    folder,
    full_folder,
    link,
    dangling_link,
    fifo
  };
  // Each at the lock's name and at the name of the signature kept aside: a file is a killed
  // run's; a link leads to a file of someone's, which stays as it was; a folder that holds
  // something is not ours to empty, and is named in the error.
  struct Case
  {
    const char *name;
    Odd odd;
  };
  std::vector<Case> cases;
  for (const char *name : { ".kiv-config.lock", ".kiv-config.sig.kiv-old" })
    for (Odd odd :
         { Odd::file, Odd::folder, Odd::full_folder, Odd::link, Odd::dangling_link, Odd::fifo })
      cases.push_back ({ name, odd });
  for (const auto &c : cases)
    {
      SCOPED_TRACE (std::string (c.name) + " " + std::to_string (int (c.odd)));
      Scratch home;
      const auto odd = home.path (c.name);
      put (home.path (".kiv-config"), "older copy");
      put (home.path (".kiv-config.sig"), "older signature");
      set_mtime (home.path (".kiv-config.sig"), now () - 10 * day);
      switch (c.odd)
        {
        case Odd::file:
          put (odd, "stale");
          break;
        case Odd::folder:
        case Odd::full_folder:
          g_mkdir (odd.c_str (), 0700);
          if (c.odd == Odd::full_folder)
            put (odd + "/notes", "someone's notes");
          break;
        case Odd::link:
          symlink (files.path ("elsewhere").c_str (), odd.c_str ());
          break;
        case Odd::dangling_link:
          symlink (files.path ("nothing").c_str (), odd.c_str ());
          break;
        case Odd::fifo:
          mkfifo (odd.c_str (), 0600);
          break;
        }
      gpgv.says ({ validsig (now () - day) });

      Fetch f;
      fetch (server, home, files.path ("keyring"), &f);
      EXPECT_EQ (contents (files.path ("elsewhere")), "someone's file");
      if (c.odd == Odd::full_folder)
        {
          if (f.error == nullptr)
            {
              ADD_FAILURE () << "taken";
              continue;
            }
          EXPECT_NE (strstr (f.error->message, odd.c_str ()), nullptr) << f.error->message;
          EXPECT_EQ (contents (home.path (".kiv-config")), "older copy");
          EXPECT_EQ (contents (home.path (".kiv-config.sig")), "older signature");
          EXPECT_EQ (contents (odd + "/notes"), "someone's notes");
          continue;
        }
      if (f.bytes == nullptr)
        {
          ADD_FAILURE () << f.error->message;
          continue;
        }
      EXPECT_EQ (contents (home.path (".kiv-config")), served);
      EXPECT_EQ (kiv_files (home), (std::vector<std::string>{ ".kiv-config", ".kiv-config.sig" }));
    }
}

// Whatever fails, and whatever odd file stands in the way, the kept pair stays a pair and
// nothing waits for ever.
TEST (FetchSignedConfiguration, LeavesThePairAsItWasOnFailure)
{
  ConfigServer server ("normal", served, Scheme::http, { "--signature", "/dev/null" });
  ConfigServer large_signature ("normal", served, Scheme::http,
                                { "--signature", "/proc/self/exe" }); // far over 64 KiB
  Scratch files;
  put (files.path ("keyring"), "keys");
  mkfifo (files.path ("fifo").c_str (), 0600);

  // The file's rename fails: the old signature is put back.
  {
    Scratch home;
    g_mkdir (home.path (".kiv-config").c_str (), 0700);
    put (home.path (".kiv-config.sig"), "older signature");
    gpgv.says ({ validsig (now ()) });
    Fetch f;
    fetch (server, home, files.path ("keyring"), &f);
    EXPECT_EQ (f.bytes, nullptr);
    EXPECT_EQ (contents (home.path (".kiv-config.sig")), "older signature");
    EXPECT_EQ (kiv_files (home), (std::vector<std::string>{ ".kiv-config", ".kiv-config.sig" }));
  }
  // A FIFO in place of the kept copy sets no bound; one in place of the keyring is unreadable.
  {
    Scratch home;
    mkfifo (home.path (".kiv-config").c_str (), 0600);
    put (home.path (".kiv-config.sig"), "older signature");
    gpgv.says ({ validsig (now () - 3650 * day) }); // older than the kept signature's time
    Fetch f;
    fetch (server, home, files.path ("keyring"), &f);
    ASSERT_NE (f.bytes, nullptr) << f.error->message; // else the read below waits on the FIFO
    EXPECT_EQ (contents (home.path (".kiv-config")), served);
  }
  const struct
  {
    const ConfigServer &server;
    std::string keyring;
    int code;
  } refusals[] = {
    { server, files.path ("fifo"), KIV_CONFIG_ERROR_KEYRING_UNREADABLE },
    { server, files.path ("missing"), KIV_CONFIG_ERROR_KEYRING_UNREADABLE },
    { large_signature, files.path ("keyring"), KIV_CONFIG_ERROR_NO_SIGNATURE },
  };
  for (const auto &r : refusals)
    {
      SCOPED_TRACE (r.keyring);
      Scratch home;
      put (home.path (".kiv-config"), "older copy");
      Fetch f;
      fetch (r.server, home, r.keyring, &f);
      ASSERT_NE (f.error, nullptr);
      EXPECT_TRUE (g_error_matches (f.error, KIV_CONFIG_ERROR, r.code)) << f.error->message;
      EXPECT_EQ (home.others (""), std::vector<std::string>{ ".kiv-config" });
    }
}
