// What the hardware and the allocator cost without any parsing: the limits
// the parser is measured against.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "measure.hpp"
#include "register.hpp"

namespace daduzozi_bench {
namespace {

size_t count_line_feeds(const std::string &text) {
    size_t lines = 0;
    const char *at = text.data();
    const char *end = at + text.size();
    while (const void *found = std::memchr(at, '\n', size_t(end - at))) {
        lines++;
        at = static_cast<const char *>(found) + 1;
    }
    return lines;
}

void memchr_scan(benchmark::State &state, const Input &in) {
    for (auto _ : state)
        benchmark::DoNotOptimize(count_line_feeds(in.text));
    count_throughput(state, in);
}

void memcpy_buffer(benchmark::State &state, const Input &in) {
    std::unique_ptr<char[]> copy(new char[in.text.size() + 1]);
    for (auto _ : state) {
        std::memcpy(copy.get(), in.text.data(), in.text.size());
        benchmark::DoNotOptimize(copy.get());
        benchmark::ClobberMemory();
    }
    count_throughput(state, in);
}

// A block per line, all kept until the end as a parser that stores lines
// would keep them.
void malloc_per_line(benchmark::State &state, const Input &in) {
    std::vector<size_t> lengths;
    size_t start = 0;
    for (size_t at = 0; at < in.text.size(); ++at)
        if (in.text[at] == '\n') {
            lengths.push_back(at - start + 1);
            start = at + 1;
        }
    std::vector<void *> blocks(lengths.size());
    for (auto _ : state) {
        for (size_t i = 0; i < lengths.size(); ++i)
            blocks[i] = std::malloc(lengths[i]);
        benchmark::DoNotOptimize(blocks.data());
        for (void *block : blocks)
            std::free(block);
    }
    count_throughput(state, in);
}

// The scan plus exactly the requests and releases one parse and release
// made, in their order: what no parser of this design can go below.
void floor_malloc(benchmark::State &state, const Input &in) {
    const BlockLog &log = audit_of(in).log;
    std::vector<void *> blocks(log.sizes.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(count_line_feeds(in.text));
        for (size_t i = 0; i < log.sizes.size(); ++i)
            blocks[i] = std::malloc(log.sizes[i]);
        benchmark::DoNotOptimize(blocks.data());
        for (size_t request : log.releases)
            std::free(blocks[request]);
    }
    count_throughput(state, in);
}

void floor_arena(benchmark::State &state, const Input &in) {
    const BlockLog &log = audit_of(in).log;
    Arena arena(Arena::capacity_for(log.sizes));
    for (auto _ : state) {
        benchmark::DoNotOptimize(count_line_feeds(in.text));
        for (size_t size : log.sizes)
            benchmark::DoNotOptimize(arena.take(size));
        arena.reset();
    }
    count_throughput(state, in);
}

} // namespace

void register_baselines() {
    for (const std::string &name : input_names()) {
        add_benchmark("memchr_scan", name, memchr_scan);
        add_benchmark("memcpy", name, memcpy_buffer);
        add_benchmark("malloc_per_line", name, malloc_per_line);
        add_benchmark("floor_malloc", name, floor_malloc);
        add_benchmark("floor_arena", name, floor_arena);
    }
}

} // namespace daduzozi_bench
