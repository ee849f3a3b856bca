// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// compare_versions beside glibc's strverscmp, on two workloads and on one pair of each shape.
//
// The workloads: the pairs the parser meets (a kernel range's bounds against the running kernel's
// release, and releases against each other), and short strings (empty ones, single components,
// strings that differ in their first byte, equal short strings), where fixed costs show. The
// shapes: one pair compared again and again, each string its own copy, so that a mix cannot hide
// a shape on which compare_versions is the slower. The ratio counter is compare_versions' time
// over strverscmp's on the same pairs in the same run.
//
//   kiv-bench-versions [BENCHMARK OPTION...]   the benchmarks
//   kiv-bench-versions --shapes                the names of the shapes
//   kiv-bench-versions --count SHAPE CALLS     calls strverscmp, then compare_versions, CALLS
//                                              times each on the pair of SHAPE, for an instruction
//                                              count under callgrind
//                                              (bench/versions-instructions.sh)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
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

// One pair of each shape of input that ends a comparison in its own way.
struct Shape
{
  const char *name, *a, *b;
};

constexpr Shape shapes[] = {
  { "bound_first", "3.14", "6.1.0-18-amd64" },    // a range bound against a release: first number
  { "bound_prefix", "6.1", "6.1.0-18-amd64" },    // ...a prefix of it
  { "bound_within", "5.15", "5.10.0-28-amd64" },  // ...differing inside a number
  { "late", "6.1.0-18-amd64", "6.1.0-21-amd64" }, // two releases that differ late
  { "late_text", "5.10.0-28-amd64", "5.10.0-28-cloud-amd64" },
  { "lengths", "1.9", "1.10" }, // numbers of different lengths
  { "lengths_late", "2.6.32.99", "2.6.32.100" },
  { "leading_zero", "22.04", "22.10" },
  { "zero_padding", "1.007", "1.7" }, // equal numbers, one written with zeros
  { "letters", "1.2a", "1.2b" },      // trailing letters
  { "letter_suffix", "2.6.32a", "2.6.32" },
  { "separators", "1.2-3", "1.2.4" }, // a separator against another
  { "trailing_separator", "3.13.", "3.13" },
  { "empty", "", "" },
  { "empty_one", "", "1.0" },
  { "equal", "6.1.0-18-amd64", "6.1.0-18-amd64" },
};

using Compare = int (*) (const char *, const char *);

// The same pair `calls` times. The pointers pass through an empty asm statement on every call,
// so the compiler can neither drop the call nor reuse one result (strverscmp is declared pure).
int compare_again (Compare compare, const std::string &a, const std::string &b, long calls)
{
  const char *x = a.c_str (), *y = b.c_str ();
  int sum = 0;
  for (long i = 0; i < calls; i++)
    {
      benchmark::DoNotOptimize (x);
      benchmark::DoNotOptimize (y);
      sum += compare (x, y) > 0;
    }
  return sum;
}

// The best time of one call, from 1 000 rounds of 5 000 calls of each function in turn, so that a
// change in the machine's load touches both.
double shape_ratio (const Shape &shape)
{
  const std::string a = shape.a, b = shape.b;
  double best[2] = { 1e9, 1e9 };
  for (int round = 0; round < 1000; round++)
    for (int side = 0; side < 2; side++)
      {
        const auto start = std::chrono::steady_clock::now ();
        benchmark::DoNotOptimize (
            compare_again (side == 0 ? compare_versions : strverscmp, a, b, 5000));
        best[side] = std::min (
            best[side],
            std::chrono::duration<double> (std::chrono::steady_clock::now () - start).count ());
      }
  return best[0] / best[1];
}

void BM_ShapeStrverscmp (benchmark::State &state, const Shape &shape)
{
  const std::string a = shape.a, b = shape.b; // each string its own copy
  for (auto _ : state)
    benchmark::DoNotOptimize (compare_again (strverscmp, a, b, 1));
}

void BM_ShapeCompareVersions (benchmark::State &state, const Shape &shape)
{
  const std::string a = shape.a, b = shape.b;
  for (auto _ : state)
    benchmark::DoNotOptimize (compare_again (compare_versions, a, b, 1));
  state.counters["times_strverscmp"] = shape_ratio (shape);
}

const Shape *find_shape (std::string_view name)
{
  for (const auto &shape : shapes)
    if (name == shape.name)
      return &shape;
  return nullptr;
}
} // namespace

int main (int argc, char **argv)
{
  if (argc == 2 && std::string_view (argv[1]) == "--shapes")
    {
      for (const auto &shape : shapes)
        std::printf ("%s\n", shape.name);
      return 0;
    }
  if (argc == 4 && std::string_view (argv[1]) == "--count")
    {
      const Shape *shape = find_shape (argv[2]);
      const long calls = std::atol (argv[3]);
      if (shape == nullptr || calls <= 0)
        {
          std::fprintf (stderr, "usage: %s --count SHAPE CALLS (--shapes lists them)\n", argv[0]);
          return 2;
        }
      const std::string a = shape->a, b = shape->b;
      benchmark::DoNotOptimize (compare_again (strverscmp, a, b, calls));
      benchmark::DoNotOptimize (compare_again (compare_versions, a, b, calls));
      return 0;
    }

  for (const auto &shape : shapes)
    {
      benchmark::RegisterBenchmark ((std::string ("BM_ShapeStrverscmp/") + shape.name).c_str (),
                                    BM_ShapeStrverscmp, shape);
      benchmark::RegisterBenchmark (
          (std::string ("BM_ShapeCompareVersions/") + shape.name).c_str (), BM_ShapeCompareVersions,
          shape);
    }
  benchmark::Initialize (&argc, argv);
  if (benchmark::ReportUnrecognizedArguments (argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks ();
  benchmark::Shutdown ();
  return 0;
}
