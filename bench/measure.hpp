// Counters and checks shared by the benchmarks.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

#include <benchmark/benchmark.h>

#include "blocks.hpp"
#include "inputs.hpp"

namespace daduzozi_bench {

// Bytes per second over the input, and the time per key line as
// "ns_per_key_line" (stored in seconds, as Google Benchmark inverts rates).
void count_throughput(benchmark::State &state, const Input &in);

// The time per item as counter `name`, e.g. the time per lookup.
void count_time_per(benchmark::State &state, const char *name, double items);

// The parse audit of an input, made once per process.
const ParseAudit &audit_of(const Input &in);

// Heap bytes in use (ordinary and mmapped chunks, chunk headers included).
size_t heap_in_use();

// The heap bytes that the structure `load()` returns keeps alive, per key
// line of the input: everything the parser allocated that it did not give
// back before handing over its result.
template <typename Load> double heap_per_key_line(const Input &in, Load &&load) {
    size_t before = heap_in_use();
    auto held = load();
    size_t after = heap_in_use();
    benchmark::DoNotOptimize(held);
    if (in.keys.empty() || after < before)
        return 0;
    return double(after - before) / double(in.keys.size());
}

} // namespace daduzozi_bench
