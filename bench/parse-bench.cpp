// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// How long the instruction parser takes over a large section, and whether hostile lines keep
// the cost linear in their length.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <string_view>

#include "parse-private.h"

namespace
{
const HostFacts host = { "x86_64", "3.13.0-24-generic" };

// One million lines cycling through the instruction kinds a real section holds; one line in
// ten is a kernel range, every other one of them in range for the host above.
const std::string &section ()
{
  static const std::string text = [] {
    static constexpr struct
    {
      const char *prefix, *suffix;
    } kinds[] = {
      { "s deb http://archive.example/ubuntu trusty main universe ", "" },
      { "i kiv-package-", "" },
      { "i kiv-library-", ":i386" },
      { "INSTALL kiv-core-", ":amd64" }, // dropped on x86_64, with a debug message
      { nullptr, nullptr },              // the kernel range
      { "d http://docs.example/kiv/", "" },
      { "g 0x", "ABCDEF" },
      { "u kiv-update-", "  \r" },
      { "# comment ", "" },
      { "e Please upgrade first ", "\r" },
    };
    std::string out;
    for (int i = 0; i < 1000000; i++)
      {
        const auto &kind = kinds[i % 10];
        if (kind.prefix != nullptr)
          out += kind.prefix + std::to_string (i) + kind.suffix;
        else
          out += (i % 20 < 10 ? "k 3.10 3.14 i kiv-kernel-" : "k 3.14 3.16 i kiv-next-")
                 + std::to_string (i);
        out += '\n';
      }
    return out;
  }();
  return text;
}

template <typename Visit> void for_each_line (std::string_view text, Visit visit)
{
  Lines lines (text);
  for (std::string_view line; lines.next (line);)
    visit (line);
}

double split_seconds ()
{
  static const double seconds = [] {
    double best = 1e9;
    for (int run = 0; run < 5; run++)
      {
        const auto start = std::chrono::steady_clock::now ();
        std::size_t bytes = 0;
        for_each_line (section (), [&] (std::string_view line) { bytes += line.size (); });
        benchmark::DoNotOptimize (bytes);
        best = std::min (
            best,
            std::chrono::duration<double> (std::chrono::steady_clock::now () - start).count ());
      }
    return best;
  }();
  return seconds;
}

void BM_SplitSection (benchmark::State &state)
{
  const auto &text = section ();
  for (auto _ : state)
    {
      std::size_t lines = 0;
      for_each_line (text, [&] (std::string_view line) {
        benchmark::DoNotOptimize (line.data ());
        lines++;
      });
      benchmark::DoNotOptimize (lines);
    }
  state.SetBytesProcessed (int64_t (state.iterations ()) * int64_t (text.size ()));
}
BENCHMARK (BM_SplitSection)->Unit (benchmark::kMillisecond);

// Splitting, parsing every line into a new record; freeing the record is not timed.
void BM_ParseSection (benchmark::State &state)
{
  const auto &text = section ();
  double parse_seconds = 0;
  for (auto _ : state)
    {
      const auto start = std::chrono::steady_clock::now ();
      Configuration *config = new_configuration ();
      for_each_line (text, [&] (std::string_view line) { parse_instruction (config, line, host); });
      parse_seconds
          += std::chrono::duration<double> (std::chrono::steady_clock::now () - start).count ();
      state.PauseTiming ();
      free_configuration (config);
      state.ResumeTiming ();
    }
  state.SetBytesProcessed (int64_t (state.iterations ()) * int64_t (text.size ()));
  state.counters["lines"] = 1e6;
  state.counters["times_split"] = parse_seconds / double (state.iterations ()) / split_seconds ();
}
BENCHMARK (BM_ParseSection)->Unit (benchmark::kMillisecond);

// One kernel range line of length n whose bounds run on and never match.
void BM_HostileBounds (benchmark::State &state)
{
  const std::string line = "k " + std::string (std::size_t (state.range (0)), '1') + " 2s x";
  for (auto _ : state)
    {
      Configuration *config = new_configuration ();
      parse_instruction (config, line, host);
      free_configuration (config);
    }
  state.SetComplexityN (state.range (0));
}
BENCHMARK (BM_HostileBounds)->RangeMultiplier (4)->Range (1 << 10, 1 << 20)->Complexity ();

// Kernel ranges nested n / 6 deep, all in range.
void BM_HostileNesting (benchmark::State &state)
{
  std::string line;
  while (line.size () < std::size_t (state.range (0)))
    line += "k 1 9 ";
  line += "i pkg";
  for (auto _ : state)
    {
      Configuration *config = new_configuration ();
      parse_instruction (config, line, host);
      free_configuration (config);
    }
  state.SetComplexityN (state.range (0));
}
BENCHMARK (BM_HostileNesting)->RangeMultiplier (4)->Range (1 << 10, 1 << 20)->Complexity ();
} // namespace

BENCHMARK_MAIN ();
