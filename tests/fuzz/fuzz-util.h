// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Helpers shared by the fuzz targets: silence, owned records, and a failure that libFuzzer keeps.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include <glib.h>

#include "dump-private.h"
#include "kiv-test.h"

// A broken property aborts, so libFuzzer saves the input as a crash; the message says which.
#define FUZZ_CHECK(condition)                                                                      \
  do                                                                                               \
    {                                                                                              \
      if (!(condition))                                                                            \
        {                                                                                          \
          fprintf (stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);        \
          abort ();                                                                                \
        }                                                                                          \
    }                                                                                              \
  while (0)

// Warnings about unrecognised lines would flood the output and slow every run to a crawl, so
// every target starts with GLib's logging silenced. Each target is a program of its own that
// includes this header once.
extern "C" int LLVMFuzzerInitialize (int *, char ***)
{
  g_log_set_writer_func (
      [] (GLogLevelFlags, const GLogField *, gsize, gpointer) { return G_LOG_WRITER_HANDLED; },
      nullptr, nullptr);
  return 0;
}

// The text a C string made from these bytes holds: the product reads lines and files as
// NUL-terminated text, so nothing after a NUL byte ever reaches it.
inline std::string as_c_text (const uint8_t *data, size_t size)
{
  const auto *text = reinterpret_cast<const char *> (data);
  return std::string (text, strnlen (text, size));
}

// Machines the parser may run on; the first input byte picks one, so every input is tried on a
// 64-bit, a 32-bit, an unknown and an unidentified machine, and against odd kernel releases.
inline const HostFacts &host_for (uint8_t selector)
{
  static constexpr HostFacts hosts[] = {
    { "x86_64", "3.13.0-24-generic" },
    { "i686", "3.13.0-24-generic" },
    { "armv7l", "6.1.0-18-armmp" },
    { nullptr, "5.10.0" },
    { "x86_64", "" },
    { "i386", "3..13-rc1" },
  };
  return hosts[selector % G_N_ELEMENTS (hosts)];
}

// What debug_configuration writes, captured by pointing stderr at a memory stream for the call.
inline std::string dump_of (const Configuration *config)
{
  char *buffer = nullptr;
  size_t length = 0;
  FILE *memory = open_memstream (&buffer, &length);
  if (memory == nullptr)
    abort ();
  FILE *saved = stderr;
  stderr = memory;
  debug_configuration (config);
  stderr = saved;
  fclose (memory);
  std::string out (buffer, length);
  free (buffer);
  return out;
}

// The dump must show every list with exactly the strings it holds, in order, so that what the
// parser appended is what a reader of the dump sees.
inline void check_dump_lists_everything (const Configuration *config)
{
  std::string want = "{\n";
  for (const auto &[label, member] : configuration_lists)
    {
      const GPtrArray *list = config->*member;
      want += std::string ("  ") + label + ": ";
      if (list == nullptr)
        {
          want += "(nil)\n";
          continue;
        }
      want += '[';
      for (guint i = 0; i < list->len; i++)
        {
          if (i > 0)
            want += ' ';
          want += static_cast<const char *> (g_ptr_array_index (list, i));
        }
      want += "]\n";
    }
  want += "}\n";
  FUZZ_CHECK (dump_of (config) == want);
}
