// Test support for the C++ layer: contexts on a TrackingAllocator, list
// consistency, and the tree's dotted paths.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tovik.hpp"
#include "tracking_allocator.hpp"

namespace tovik_test {

inline tovik::context tracked_context(TrackingAllocator &heap) {
    return tovik::context(TrackingAllocator::alloc, TrackingAllocator::release, &heap);
}

inline void expect_all_released(const TrackingAllocator &heap) {
    EXPECT_EQ(0u, heap.live_blocks()) << "blocks leaked";
    EXPECT_TRUE(heap.errors.empty()) << heap.errors.front();
}

// Both directions of a circular list agree and close at `sentinel`.
inline void expect_list_consistent(const tovik_list &sentinel) {
    const tovik_list *at = &sentinel;
    size_t steps = 0;
    do {
        ASSERT_EQ(at, at->next->prev) << "broken link after element " << steps;
        at = at->next;
    } while (at != &sentinel && ++steps < 1000000);
    EXPECT_EQ(&sentinel, at) << "list does not close at its sentinel";
}

inline void expect_lists_consistent(const tovik::context &ctx) {
    expect_list_consistent(ctx.raw()->records);
    expect_list_consistent(ctx.raw()->tree);
}

// Every node below `from` (the root for an empty node), depth first, with
// its path from there: names joined with dots as they are stored, so later
// duplicates and names holding dots or nothing are all listed.
struct NodePath {
    tovik::node node;
    std::string path;
};

inline void collect_paths(tovik::node_range children, const std::string &prefix,
                          std::vector<NodePath> &out) {
    for (tovik::node n : children) {
        std::string path =
            prefix.empty() ? std::string(n.name()) : prefix + '.' + std::string(n.name());
        out.push_back({n, path});
        collect_paths(n.children(), path, out);
    }
}

inline std::vector<NodePath> paths_below(const tovik::context &ctx, tovik::node from = {}) {
    std::vector<NodePath> out;
    collect_paths(from ? from.children() : ctx.roots(), "", out);
    return out;
}

} // namespace tovik_test
