// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// get_distro_information keeps process-wide state, so these cases live in a program of their own
// and run in order. The release command is a fake found through PATH.
#include <cstdlib>
#include <string>

#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include "host.h"

namespace
{
class DistroCache : public testing::Test
{
protected:
  void SetUp () override
  {
    if (g_file_test ("/etc/fedora-release", G_FILE_TEST_EXISTS))
      GTEST_SKIP () << "this machine has a release file, so the command is never missed";
    dir_ = g_dir_make_tmp ("kiv-distro-XXXXXX", nullptr);
    ASSERT_NE (dir_, nullptr);
    g_setenv ("PATH", dir_, TRUE);
  }

  void TearDown () override
  {
    if (dir_ == nullptr)
      return;
    g_autofree char *command = g_build_filename (dir_, "lsb_release", nullptr);
    g_autofree char *count = g_build_filename (dir_, "runs", nullptr);
    g_unlink (command);
    g_unlink (count);
    g_rmdir (dir_);
    g_free (dir_);
  }

  // Installs a release command that logs each run to a file beside it.
  void install_command (const char *output)
  {
    g_autofree char *path = g_build_filename (dir_, "lsb_release", nullptr);
    g_autofree char *script
        = g_strdup_printf ("#!/bin/sh\necho run >> '%s/runs'\nprintf '%s'\n", dir_, output);
    ASSERT_TRUE (g_file_set_contents (path, script, -1, nullptr));
    g_chmod (path, 0755);
  }

  int runs ()
  {
    g_autofree char *path = g_build_filename (dir_, "runs", nullptr);
    g_autofree char *text = nullptr;
    if (!g_file_get_contents (path, &text, nullptr, nullptr))
      return 0;
    return int (std::string (text).size () / 4);
  }

  char *dir_ = nullptr;
};
} // namespace

TEST_F (DistroCache, RetriesUntilObtainedThenNeverAgain)
{
  // Neither the command nor the release file: nothing, and nothing kept.
  EXPECT_EQ (get_distro_information (), nullptr);
  EXPECT_EQ (get_distro_information (), nullptr);

  install_command ("Distributor ID:\\tUbuntu\\nCodename:\\ttrusty\\n");
  const DistroInformation *info = get_distro_information ();
  ASSERT_NE (info, nullptr);
  EXPECT_STREQ (info->distributor, "Ubuntu");
  EXPECT_STREQ (info->codename, "trusty");
  EXPECT_EQ (info->release, nullptr);
  EXPECT_NE (info->uts.machine[0], '\0'); // uname filled the kernel identification
  EXPECT_EQ (runs (), 1);

  // Later calls hand back the same record without running anything.
  install_command ("Distributor ID:\\tDebian\\n");
  EXPECT_EQ (get_distro_information (), info);
  EXPECT_STREQ (info->distributor, "Ubuntu");
  EXPECT_EQ (runs (), 1);
}
