// The library's own figures: parse and release with malloc and with an
// arena, and lookups of every key through the C calls and through the C++
// index.
#include <cstring>
#include <map>
#include <memory>
#include <string_view>

#include "measure.hpp"
#include "register.hpp"
#include "tovik.h"
#include "tovik.hpp"

namespace daduzozi_bench {
namespace {

// A context that is released when it goes out of scope.
struct HeldContext {
    tovik_ctx ctx;
    HeldContext() { tovik_init(&ctx, heap_alloc, heap_free, nullptr); }
    HeldContext(const HeldContext &) = delete;
    HeldContext &operator=(const HeldContext &) = delete;
    ~HeldContext() { tovik_deinit(&ctx); }
};

// Allocation figures of one parse, after checking them against the defined
// block sizes; false (with the benchmark skipped) when they differ.
bool count_blocks(benchmark::State &state, const Input &in) {
    const ParseAudit &audit = audit_of(in);
    if (!audit.error.empty()) {
        state.SkipWithError(audit.error.c_str());
        return false;
    }
    state.counters["allocations"] = double(audit.log.sizes.size());
    state.counters["alloc_bytes"] = double(audit.requested_bytes);
    state.counters["records"] = double(audit.defined.records);
    state.counters["nodes"] = double(audit.defined.nodes);
    if (audit.defined.records)
        state.counters["bytes_per_record"] =
            double(audit.requested_bytes) / double(audit.defined.records);
    return true;
}

// The builder walks a sibling list from its start for every new name, so n
// distinct names under one node cost n(n-1)/2 visits of earlier siblings.
void count_sibling_visits(benchmark::State &state, const Input &in) {
    if (in.name != "wide")
        return;
    double names = double(audit_of(in).defined.records);
    count_time_per(state, "ns_per_sibling_visit", names * (names - 1) / 2);
}

std::unique_ptr<HeldContext> parsed(const Input &in) {
    auto held = std::make_unique<HeldContext>();
    tovik_parse_data(&held->ctx, nullptr, in.text.data(), in.text.size());
    return held;
}

// Measured once: the benchmark runs once per repetition.
double heap_of(const Input &in) {
    static std::map<const Input *, double> known;
    auto it = known.find(&in);
    if (it == known.end())
        it = known.emplace(&in, heap_per_key_line(in, [&] { return parsed(in); })).first;
    return it->second;
}

void parse_malloc(benchmark::State &state, const Input &in) {
    if (!count_blocks(state, in))
        return;
    state.counters["heap_per_key_line"] = heap_of(in);
    for (auto _ : state) {
        tovik_ctx ctx;
        tovik_init(&ctx, heap_alloc, heap_free, nullptr);
        tovik_parse_data(&ctx, nullptr, in.text.data(), in.text.size());
        benchmark::DoNotOptimize(ctx.records.prev);
        tovik_deinit(&ctx);
    }
    count_throughput(state, in);
    count_sibling_visits(state, in);
}

// An arena is dropped whole, so the release is a reset, not tovik_deinit.
void parse_arena(benchmark::State &state, const Input &in) {
    if (!count_blocks(state, in))
        return;
    Arena arena(Arena::capacity_for(audit_of(in).log.sizes));
    for (auto _ : state) {
        tovik_ctx ctx;
        tovik_init(&ctx, Arena::alloc, Arena::release, &arena);
        tovik_parse_data(&ctx, nullptr, in.text.data(), in.text.size());
        benchmark::DoNotOptimize(ctx.records.prev);
        arena.reset();
    }
    if (arena.refused())
        state.SkipWithError("the arena was too small");
    count_throughput(state, in);
    count_sibling_visits(state, in);
}

tovik_tree_node *find_path(tovik_ctx *ctx, std::string_view path) {
    tovik_tree_node *node = nullptr;
    for (;;) {
        size_t dot = path.find('.');
        node = tovik_find_tree_node(ctx, node, path.data(), path.substr(0, dot).size());
        if (!node || dot == std::string_view::npos)
            return node;
        path.remove_prefix(dot + 1);
    }
}

// Runs `find` on every full key name; a miss fails the benchmark. The miss
// test rides along in the timed loop (a null test per lookup) rather than in
// an extra pass, which on linear lookups of a large input takes seconds.
template <typename Find>
void lookup_every_key(benchmark::State &state, const Input &in, Find &&find) {
    const KeyName *missed = nullptr;
    for (auto _ : state)
        for (const KeyName &name : in.keys) {
            auto found = find(name.full);
            benchmark::DoNotOptimize(found);
            if (!found)
                missed = &name;
        }
    if (missed)
        state.SkipWithError(("not found: " + missed->full).c_str());
    count_time_per(state, "ns_per_lookup", double(in.keys.size()));
}

void find_key(benchmark::State &state, const Input &in) {
    auto held = parsed(in);
    lookup_every_key(state, in, [&](const std::string &full) {
        return tovik_find_key(&held->ctx, full.c_str());
    });
}

void find_tree_path(benchmark::State &state, const Input &in) {
    auto held = parsed(in);
    lookup_every_key(state, in,
                     [&](const std::string &full) { return find_path(&held->ctx, full); });
}

void index_build(benchmark::State &state, const Input &in) {
    tovik::context ctx;
    ctx.parse(in.text);
    for (auto _ : state) {
        tovik::index index(ctx);
        benchmark::DoNotOptimize(index);
    }
    count_time_per(state, "ns_per_key_line", double(in.keys.size()));
}

void index_find_record(benchmark::State &state, const Input &in) {
    tovik::context ctx;
    ctx.parse(in.text);
    tovik::index index(ctx);
    lookup_every_key(state, in,
                     [&](const std::string &full) { return index.find_record(full).raw(); });
}

void index_find_path(benchmark::State &state, const Input &in) {
    tovik::context ctx;
    ctx.parse(in.text);
    tovik::index index(ctx);
    lookup_every_key(state, in, [&](const std::string &full) { return index.find(full).raw(); });
}

} // namespace

void register_ours() {
    for (const std::string &name : input_names()) {
        add_benchmark("ours_malloc", name, parse_malloc);
        add_benchmark("ours_arena", name, parse_arena);
    }
    for (const char *name : kLookupInputs) {
        add_benchmark("ours_find_key", name, find_key);
        add_benchmark("ours_tree_find", name, find_tree_path);
        add_benchmark("index_build", name, index_build);
        add_benchmark("index_find_record", name, index_find_record);
        add_benchmark("index_find_path", name, index_find_path);
    }
}

} // namespace daduzozi_bench
