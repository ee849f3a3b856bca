// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// compare_versions beside glibc's strverscmp on two workloads: the pairs the parser meets (a
// kernel range's bounds against the running kernel's release, and releases against each other),
// and short strings (empty ones, single components, strings that differ in their first byte,
// equal short strings), where fixed costs show. The ratio counter is compare_versions' time over
// strverscmp's on the same pairs in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host.h"

namespace
{
struct Pair
{
  std::string a, b;
};

// Releases as distributions name their kernels, and bounds as configuration files write them.
const std::vector<Pair> &kernel_pairs ()
{
  static const std::vector<Pair> all = [] {
    static const char *const flavours[] = { "generic", "amd64",    "lowlatency", "cloud-amd64",
                                            "azure",   "rt-amd64", "686-pae",    "fc39.x86_64" };
    std::mt19937 random (42); // the same pairs in every run
    const auto pick = [&] (int n) { return int (random () % unsigned (n)); };
    const auto release = [&] {
      return std::to_string (2 + pick (5)) + "." + std::to_string (pick (20)) + "."
             + std::to_string (pick (3) == 0 ? pick (200) : 0) + "-" + std::to_string (pick (1100))
             + "-" + flavours[pick (G_N_ELEMENTS (flavours))];
    };
    const auto bound = [&] {
      std::string text = std::to_string (2 + pick (5)) + "." + std::to_string (pick (20));
      if (pick (3) == 0)
        text += "." + std::to_string (pick (10));
      return text;
    };
    std::vector<Pair> out;
    for (int i = 0; i < 4096; i++)
      switch (i % 4)
        {
        case 0:
        case 1: // most comparisons: a bound against the running release
          out.push_back ({ bound (), release () });
          break;
        case 2:
          out.push_back ({ release (), release () });
          break;
        default: // equal releases run every component to the end
          {
            auto same = release ();
            out.push_back ({ same, same });
          }
        }
    return out;
  }();
  return all;
}

// Short strings in every relation that ends a comparison early, in a fixed mix.
const std::vector<Pair> &short_pairs ()
{
  static const std::vector<Pair> all = [] {
    static const Pair kinds[] = {
      { "", "" },       { "", "1" },      { "2", "" },        // no components on one side or both
      { "7", "12" },    { "9", "9" },     { "a", "b" },       // one component
      { "3.1", "4.1" }, { "1", "a1" },    { "x", "2.6" },     // differ in the first byte
      { "1.2", "1.2" }, { "2.6", "2.6" }, { "5-rc", "5-rc" }, // equal and short
    };
    std::vector<Pair> out;
    for (int i = 0; i < 4096; i++)
      out.push_back (kinds[i % std::size (kinds)]);
    return out;
  }();
  return all;
}

template <typename Compare>
double seconds_per_pass (const std::vector<Pair> &pairs, Compare compare)
{
  double best = 1e9;
  for (int run = 0; run < 20; run++)
    {
      const auto start = std::chrono::steady_clock::now ();
      int sum = 0;
      for (const auto &pair : pairs)
        sum += compare (pair.a.c_str (), pair.b.c_str ()) > 0;
      benchmark::DoNotOptimize (sum);
      best = std::min (
          best, std::chrono::duration<double> (std::chrono::steady_clock::now () - start).count ());
    }
  return best;
}

template <typename Compare>
void run_pairs (benchmark::State &state, const std::vector<Pair> &pairs, Compare compare)
{
  for (auto _ : state)
    for (const auto &pair : pairs)
      benchmark::DoNotOptimize (compare (pair.a.c_str (), pair.b.c_str ()));
  state.SetItemsProcessed (int64_t (state.iterations ()) * int64_t (pairs.size ()));
}

void BM_Strverscmp (benchmark::State &state, const std::vector<Pair> &(*pairs) ())
{
  run_pairs (state, pairs (), strverscmp);
}

void BM_CompareVersions (benchmark::State &state, const std::vector<Pair> &(*pairs) ())
{
  run_pairs (state, pairs (), compare_versions);
  // Best of twenty passes each, measured back to back, so that load on the machine touches
  // both sides of the ratio alike.
  state.counters["times_strverscmp"]
      = seconds_per_pass (pairs (), compare_versions) / seconds_per_pass (pairs (), strverscmp);
}

BENCHMARK_CAPTURE (BM_Strverscmp, kernel, kernel_pairs);
BENCHMARK_CAPTURE (BM_CompareVersions, kernel, kernel_pairs);
BENCHMARK_CAPTURE (BM_Strverscmp, short, short_pairs);
BENCHMARK_CAPTURE (BM_CompareVersions, short, short_pairs);
} // namespace

BENCHMARK_MAIN ();
