// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// How long reading a Fedora release text takes when it is hostile: the release pattern must stay
// linear in the text's length. The release file is read whole, line breaks and all, so it is the
// harder case; the command's description is one line of it.
#include <benchmark/benchmark.h>

#include <string>

#include "host-private.h"

namespace
{
// Kinds of text, by the benchmark's second argument: head repeated to the length, then tail.
constexpr struct
{
  const char *head, *tail;
} kinds[] = {
  // The one ')' comes after a line break, so every head is tried and its codename runs to that
  // line break: a plain search takes time quadratic in the length.
  { "Fedora release 1 (", "\n)" },
  { "Fedora release 1 (", ")" },   // the first head matches, with all the rest as codename
  { "Fedora release 1 (\n", ")" }, // every head is tried, and each line ends at once
  { "Fedora release 1 ", ")" },    // every head is tried, and none has its '('
};

void BM_HostileReleaseText (benchmark::State &state)
{
  const auto &kind = kinds[state.range (1)];
  std::string text;
  while (text.size () < std::size_t (state.range (0)))
    text += kind.head;
  text += kind.tail;
  for (auto _ : state)
    {
      DistroInformation info{};
      parse_release_file (text.c_str (), &info);
      for (char *field : { info.distributor, info.description, info.release, info.codename })
        g_free (field);
    }
  state.SetBytesProcessed (int64_t (state.iterations ()) * int64_t (text.size ()));
}
BENCHMARK (BM_HostileReleaseText)
    ->ArgsProduct ({ benchmark::CreateRange (16 << 10, 1 << 20, 4), { 0, 1, 2, 3 } })
    ->Unit (benchmark::kMillisecond);

// 180 KiB of the first kind: a plain search of the pattern took 25 s on it.
BENCHMARK (BM_HostileReleaseText)->Args ({ 180 << 10, 0 })->Unit (benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN ();
