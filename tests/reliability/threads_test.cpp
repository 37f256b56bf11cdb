// Several threads parse at once, each with its own context and allocator,
// while reading the same input buffers. Every thread must end with exactly
// what the same work gives on one thread: the library keeps no state outside
// a context, so separate contexts cannot see each other. Built under
// ThreadSanitizer in CI, which reports any unsynchronised access.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "invariants.hpp"
#include "tracking_allocator.hpp"

namespace {

using tovik_test::Records;
using tovik_test::TrackingAllocator;

constexpr int kThreads = 4;
constexpr int kRounds = 3;
constexpr int kWorkloads = 2;

// A config of many sections with dotted keys, duplicates, quoted values,
// comments and CRLF lines; `variant` changes names and values throughout.
std::string make_config(int variant) {
    std::string text;
    for (int s = 0; s < 60; ++s) {
        std::string section = "svc" + std::to_string(s % 40) + ".v" + std::to_string(variant);
        text += "[" + section + "]\r\n; section " + std::to_string(s) + "\n";
        for (int k = 0; k < 12; ++k) {
            std::string n = std::to_string(k);
            text += "key" + n + " = value" + std::to_string(s * variant + k) + "\n";
            text += "path.to.k" + n + " = \"quoted " + n + "\nline\"\r\n";
        }
        text += "key0 = again\n";
    }
    return text;
}

// Everything a run leaves behind that separate contexts must not change.
struct Outcome {
    Records records;
    std::string tree;
    std::vector<size_t> requests;
    size_t released_before_deinit = 0;
    std::string violations;
    bool deinit_released_everything = false;

    bool operator==(const Outcome &o) const {
        return records == o.records && tree == o.tree && requests == o.requests &&
               released_before_deinit == o.released_before_deinit && violations == o.violations &&
               deinit_released_everything == o.deinit_released_everything;
    }
};

// Rounds of parse calls at the root and, replacing, under a node of the
// caller's; a pruned subtree; deinit and reuse of the same context. The
// outcome is that of the last round.
Outcome run_workload(const std::vector<std::string> &configs, int workload) {
    TrackingAllocator heap;
    tovik_ctx ctx{};
    tovik_init(&ctx, TrackingAllocator::alloc, TrackingAllocator::release, &heap);
    Outcome outcome;
    for (int round = 0; round < kRounds; ++round) {
        const std::string &first = configs[workload];
        const std::string &second = configs[(workload + 1) % configs.size()];
        size_t released_before = heap.released.size();
        tovik_tree_node *p = tovik_add_subnode(&ctx, nullptr, "p", 1);
        tovik_parse_data(&ctx, nullptr, first.data(), first.size());
        tovik_parse_data_ex(&ctx, p, second.data(), second.size(), TOVIK_FLAG_REPLACE);
        tovik_parse_data_ex(&ctx, nullptr, second.data(), second.size(), TOVIK_FLAG_REPLACE);
        tovik_free_tree_node(&ctx, tovik_find_tree_node(&ctx, nullptr, "svc3", 4));

        outcome.records = tovik_test::records_of(&ctx);
        outcome.tree = tovik_test::dump_tree(&ctx);
        outcome.violations = tovik_test::invariant_violations(ctx, heap);
        outcome.released_before_deinit = heap.released.size() - released_before;
        tovik_deinit(&ctx);
        outcome.deinit_released_everything = heap.live_blocks() == 0 && heap.errors.empty();
    }
    outcome.requests = heap.requests;
    return outcome;
}

TEST(ThreadsTest, SeparateContextsOnParallelThreadsMatchASingleThreadedRun) {
    std::vector<std::string> configs;
    for (int variant = 0; variant < kWorkloads; ++variant)
        configs.push_back(make_config(variant + 1));

    std::vector<Outcome> expected;
    for (int workload = 0; workload < kWorkloads; ++workload)
        expected.push_back(run_workload(configs, workload));
    ASSERT_NE(expected[0].tree, expected[1].tree) << "the workloads must differ";
    for (const Outcome &outcome : expected) {
        ASSERT_EQ("", outcome.violations);
        ASSERT_TRUE(outcome.deinit_released_everything);
        ASSERT_NE(0u, outcome.released_before_deinit) << "replacing and pruning must release";
    }

    // All threads start together, so that their parses overlap.
    std::atomic<bool> go{false};
    std::vector<Outcome> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            while (!go.load())
                std::this_thread::yield();
            seen[t] = run_workload(configs, t % kWorkloads);
        });
    go = true;
    for (std::thread &thread : threads)
        thread.join();

    for (int t = 0; t < kThreads; ++t)
        EXPECT_TRUE(seen[t] == expected[t % kWorkloads]) << "thread " << t << " differs";
}

} // namespace
