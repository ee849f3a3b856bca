// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include <gtest/gtest.h>

#include "dump-private.h"
#include "kiv-test.h"

namespace
{
std::string dump (const Configuration *config)
{
  testing::internal::CaptureStderr ();
  debug_configuration (config);
  return testing::internal::GetCapturedStderr ();
}

std::string dump_list (const char *label, GPtrArray *list)
{
  testing::internal::CaptureStderr ();
  debug_ptr_array (label, list);
  return testing::internal::GetCapturedStderr ();
}
} // namespace

TEST (DebugConfiguration, WritesEveryListInOrder)
{
  g_autoptr (Configuration) config = new_configuration ();
  g_ptr_array_add (config->sources, g_strdup ("deb http://a.example/ trusty main"));
  g_ptr_array_add (config->sources, g_strdup ("deb http://b.example/ trusty universe"));
  g_ptr_array_add (config->install, g_strdup ("kiv-core"));
  EXPECT_EQ (dump (config), "{\n"
                            "  errors: (nil)\n"
                            "  sources: [deb http://a.example/ trusty main deb "
                            "http://b.example/ trusty universe]\n"
                            "  keys: []\n"
                            "  docs: []\n"
                            "  INSTALL: []\n"
                            "  install: [kiv-core]\n"
                            "  upgrade: []\n"
                            "  lts: []\n"
                            "}\n");
}

TEST (DebugPtrArray, SeparatesItemsWithSingleSpaces)
{
  g_autoptr (GPtrArray) list = g_ptr_array_new_with_free_func (g_free);
  EXPECT_EQ (dump_list ("errors", nullptr), "  errors: (nil)\n"); // absent is not empty
  EXPECT_EQ (dump_list ("errors", list), "  errors: []\n");
  g_ptr_array_add (list, g_strdup ("Upgrade first\r"));
  EXPECT_EQ (dump_list ("errors", list), "  errors: [Upgrade first\r]\n"); // written as stored
  g_ptr_array_add (list, g_strdup (""));
  g_ptr_array_add (list, g_strdup ("%s"));
  EXPECT_EQ (dump_list ("errors", list), "  errors: [Upgrade first\r  %s]\n");
}

// A large configuration's list line is written in pieces; the pieces must join up exactly,
// whatever byte the boundaries fall on.
TEST (DebugPtrArray, WritesLongListsWhole)
{
  for (const std::size_t value_length : { std::size_t (1), std::size_t (7), std::size_t (4095),
                                          std::size_t (16384), std::size_t (40000) })
    {
      SCOPED_TRACE (value_length);
      g_autoptr (GPtrArray) list = g_ptr_array_new_with_free_func (g_free);
      std::string want = "  lts: [";
      for (int i = 0; i < 3000 && want.size () < 200000; i++)
        {
          std::string value (value_length, char ('a' + i % 26));
          value += std::to_string (i);
          if (i > 0)
            want += ' ';
          want += value;
          g_ptr_array_add (list, g_strdup (value.c_str ()));
        }
      want += "]\n";
      EXPECT_EQ (dump_list ("lts", list), want);
    }
}
