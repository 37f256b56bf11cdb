// Registration of the benchmarks, one per subject and input, each named
// "<subject>/<input>" (the report script reads the names that way).
#pragma once

#include <string>

#include <benchmark/benchmark.h>

#include "inputs.hpp"

namespace daduzozi_bench {

using BenchmarkFn = void (*)(benchmark::State &, const Input &);

// Registers `subject/input`; the input is made before the first run.
void add_benchmark(const std::string &subject, const std::string &input_name, BenchmarkFn fn);

// Lookups of every key are measured where a config is looked up key by key.
inline constexpr const char *kLookupInputs[] = {"small", "typical"};

void register_ours();
void register_peers();
void register_baselines();

} // namespace daduzozi_bench
