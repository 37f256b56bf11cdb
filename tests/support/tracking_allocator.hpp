// Test support for the GoogleTest suites: the allocator and dumps of
// tracking_allocator_core.hpp, plus assertions and a fixture built on them.
#pragma once

#include <cstddef>
#include <vector>

#include <gtest/gtest.h>

#include "tovik.h"
#include "tracking_allocator_core.hpp"

namespace tovik_test {

// Expects the first chain.size() releases to be the chain deepest first.
inline void expect_released_bottom_up(const std::vector<void *> &released,
                                      const std::vector<tovik_tree_node *> &chain) {
    size_t n = chain.size();
    ASSERT_GE(released.size(), n);
    EXPECT_EQ(chain[n - 1], released[0]);
    EXPECT_EQ(chain[0], released[n - 1]);
    size_t out_of_order = 0;
    for (size_t i = 0; i < n; ++i)
        out_of_order += released[i] != chain[n - 1 - i];
    EXPECT_EQ(0u, out_of_order);
}

// A context on a TrackingAllocator that must end with nothing leaked and no
// bad release.
class ContextTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, tovik_init(&ctx, TrackingAllocator::alloc, TrackingAllocator::release, &heap));
    }
    void TearDown() override {
        EXPECT_EQ(0, tovik_deinit(&ctx));
        EXPECT_EQ(0u, heap.live_blocks()) << "blocks leaked";
        EXPECT_TRUE(heap.errors.empty()) << heap.errors.front();
    }

    int parse(std::string_view text, uint32_t flags = 0, tovik_tree_node *parent = nullptr) {
        return tovik_parse_data_ex(&ctx, parent, text.data(), text.size(), flags);
    }
    Records records() { return records_of(&ctx); }
    std::string tree(tovik_tree_node *parent = nullptr) { return dump_tree(&ctx, parent); }

    TrackingAllocator heap;
    tovik_ctx ctx{};
};

} // namespace tovik_test
