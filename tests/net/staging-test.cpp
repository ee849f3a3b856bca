// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// The staging file a download is written to: the destination changes only on commit, and no
// staging file outlives its writer, even one that was killed.
#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include "kiv-http-test.h"
#include "net-private.h"

namespace
{
unsigned mode_of (const std::string &path)
{
  struct stat st;
  return stat (path.c_str (), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string base_name (const char *path)
{
  g_autofree char *name = g_path_get_basename (path);
  return name;
}
} // namespace

// Until the commit the destination is as it was and the new bytes are private; after it they are
// the destination, with the permission bits of the file they replaced, or a new file's.
TEST (StagedFile, CommitPutsTheBytesInPlace)
{
  const std::string long_name (240, 'n'); // too long to be kept whole in a staging name
  const struct
  {
    std::string name;
    int older_mode; // -1: no older file
    mode_t umask;
    std::vector<std::string> pieces;
    unsigned want_mode;
  } cases[] = {
    { "target", 0604, 022, { "new ", "copy" }, 0604 },
    { "target", 0640, 077, { "new copy" }, 0640 }, // the umask is for new files only
    { "target", 0755, 022, {}, 0755 },             // nothing written: an empty file
    { "target", -1, 022, { "new copy" }, 0644 },
    { "target", -1, 027, { "new copy" }, 0640 },
    { ".hidden", 0600, 022, { "new copy" }, 0600 },
    { long_name, 0644, 022, { "new copy" }, 0644 },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.name.substr (0, 10) + " " + std::to_string (c.older_mode));
      Scratch scratch;
      const auto path = scratch.path (c.name.c_str ());
      if (c.older_mode >= 0)
        {
          ASSERT_TRUE (put (path, "older copy"));
          g_chmod (path.c_str (), c.older_mode);
        }
      const mode_t saved = umask (c.umask);
      g_autoptr (GError) error = nullptr;
      auto staged = StagedFile::create (path.c_str (), &error);
      ASSERT_NE (staged, nullptr) << error->message;
      std::string written;
      for (const auto &piece : c.pieces)
        {
          EXPECT_TRUE (staged->write (piece, &error));
          written += piece;
        }
      EXPECT_EQ (contents (staged->path ()), written);
      EXPECT_EQ (mode_of (staged->path ()), 0600u);
      EXPECT_EQ (scratch.others (c.name), std::vector<std::string>{ base_name (staged->path ()) });
      EXPECT_EQ (contents (path), c.older_mode >= 0 ? "older copy" : "(unreadable)");

      EXPECT_TRUE (staged->commit (&error));
      umask (saved);
      EXPECT_EQ (error, nullptr);
      EXPECT_EQ (contents (path), written);
      EXPECT_EQ (mode_of (path), c.want_mode);
      EXPECT_TRUE (scratch.others (c.name).empty ());
    }
}

// A download that fails drops its staging file, committed or not, and nothing of it remains.
TEST (StagedFile, DroppedUncommittedLeavesNothing)
{
  for (const bool older : { true, false })
    {
      SCOPED_TRACE (older);
      Scratch scratch;
      const auto path = scratch.path ("target");
      if (older)
        {
          ASSERT_TRUE (put (path, "older copy"));
        }
      auto staged = StagedFile::create (path.c_str (), nullptr);
      ASSERT_NE (staged, nullptr);
      EXPECT_TRUE (staged->write ("new copy", nullptr));
      staged.reset ();
      EXPECT_EQ (contents (path), older ? "older copy" : "(unreadable)");
      EXPECT_TRUE (scratch.others ("target").empty ());
    }
}

// A killed writer leaves its staging file behind; the next one made in that folder removes it,
// but never the file of a writer still at work.
TEST (StagedFile, CreateRemovesTheFileOfAKilledRun)
{
  Scratch scratch;
  const auto path = scratch.path ("target");
  const pid_t child = fork ();
  ASSERT_GE (child, 0);
  if (child == 0)
    {
      auto staged = StagedFile::create (path.c_str (), nullptr);
      if (staged != nullptr)
        staged->write ("half a download", nullptr);
      raise (SIGKILL); // no destructor runs
    }
  int status = 0;
  ASSERT_EQ (waitpid (child, &status, 0), child);
  ASSERT_TRUE (WIFSIGNALED (status));
  ASSERT_EQ (scratch.others ("").size (), 1u) << "the killed run made no staging file";

  auto first = StagedFile::create (path.c_str (), nullptr);
  ASSERT_NE (first, nullptr);
  EXPECT_EQ (scratch.others (""), std::vector<std::string>{ base_name (first->path ()) });
  auto second = StagedFile::create (path.c_str (), nullptr); // a second download at work
  ASSERT_NE (second, nullptr);
  auto found = scratch.others ("");
  std::sort (found.begin (), found.end ());
  std::vector<std::string> want = { base_name (first->path ()), base_name (second->path ()) };
  std::sort (want.begin (), want.end ());
  EXPECT_EQ (found, want);
}
