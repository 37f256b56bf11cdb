// Shared by the fuzz targets: checks that end the run with a readable reason,
// an input copy that lets the address sanitizer see any read past its end,
// tree walks through the public iterator, and lookups compared with plain
// walks of the lists.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "invariants.hpp"
#include "tovik.h"
#include "tracking_allocator_core.hpp"

namespace tovik_fuzz {

using tovik_test::TrackingAllocator;

// abort() makes libFuzzer keep the input as a crash, like a sanitizer report.
[[noreturn]] inline void fail(const char *what, const std::string &detail = {}) {
    std::fprintf(stderr, "fuzz check failed: %s\n%s\n", what, detail.c_str());
    std::abort();
}

inline void require(bool holds, const char *what) {
    if (!holds)
        fail(what);
}

inline void require_invariants(const tovik_ctx &ctx, const TrackingAllocator &heap) {
    std::string violations = tovik_test::invariant_violations(ctx, heap);
    if (!violations.empty())
        fail("context invariants broken", violations);
    require(heap.errors.empty(), "release of a block that is not live (double or foreign)");
}

// The input in a heap block of exactly its length: the fuzzer's own buffer
// may be followed by readable bytes, this one is not.
class ExactCopy {
  public:
    ExactCopy(const uint8_t *bytes, size_t len)
        : data_(static_cast<char *>(std::malloc(len))), len_(len) {
        require(data_ != nullptr, "no memory for the input copy");
        if (len != 0)
            std::memcpy(data_, bytes, len);
    }
    ExactCopy(const ExactCopy &) = delete;
    ExactCopy &operator=(const ExactCopy &) = delete;
    ~ExactCopy() { std::free(data_); }

    const char *data() const { return data_; }
    size_t size() const { return len_; }

  private:
    char *data_;
    size_t len_;
};

// The nodes of the subtree below `top` (every root when top is null) in the
// order the library releases them: for each child, its descendants depth
// first in sibling order, then the child itself. `top` comes last if given.
inline std::vector<tovik_tree_node *> release_order(tovik_ctx *ctx, tovik_tree_node *top) {
    std::vector<tovik_tree_node *> order;
    std::vector<std::pair<tovik_tree_node *, tovik_tree_node *>> stack{{top, nullptr}};
    while (!stack.empty()) {
        tovik_tree_node *node = stack.back().first;
        tovik_tree_node *child = tovik_kv_tree_iter(ctx, node, stack.back().second);
        if (child) {
            stack.back().second = child;
            stack.emplace_back(child, nullptr);
            continue;
        }
        if (node)
            order.push_back(node);
        stack.pop_back();
    }
    return order;
}

// What tovik_deinit hands to free_fn, in order: the whole tree as
// tovik_free_tree_node releases it, then every record in list order.
inline std::vector<void *> deinit_order(tovik_ctx *ctx) {
    std::vector<void *> order;
    for (tovik_tree_node *node : release_order(ctx, nullptr))
        order.push_back(node);
    for (tovik_kv *kv = tovik_kv_iter(ctx, nullptr); kv; kv = tovik_kv_iter(ctx, kv))
        order.push_back(kv);
    return order;
}

inline std::vector<void *> released_since(const TrackingAllocator &heap, size_t count_before) {
    return std::vector<void *>(heap.released.begin() + static_cast<std::ptrdiff_t>(count_before),
                               heap.released.end());
}

// Every node, parents before children, siblings in order.
inline std::vector<tovik_tree_node *> nodes_in_order(tovik_ctx *ctx) {
    std::vector<tovik_tree_node *> order;
    std::vector<std::pair<tovik_tree_node *, tovik_tree_node *>> stack{{nullptr, nullptr}};
    while (!stack.empty()) {
        tovik_tree_node *child = tovik_kv_tree_iter(ctx, stack.back().first, stack.back().second);
        if (!child) {
            stack.pop_back();
            continue;
        }
        stack.back().second = child;
        order.push_back(child);
        stack.emplace_back(child, nullptr);
    }
    return order;
}

inline size_t record_count(tovik_ctx *ctx) {
    size_t count = 0;
    for (tovik_kv *kv = tovik_kv_iter(ctx, nullptr); kv; kv = tovik_kv_iter(ctx, kv))
        ++count;
    return count;
}

// tovik_find_key compares up to the first NUL, so a name with a NUL inside
// is found under its part before that NUL, and so is every record sharing it.
inline void require_record_lookups_agree(tovik_ctx *ctx) {
    std::unordered_map<std::string, tovik_kv *> first_of_name;
    for (tovik_kv *kv = tovik_kv_iter(ctx, nullptr); kv; kv = tovik_kv_iter(ctx, kv)) {
        std::string key(kv->name); // up to the first NUL
        tovik_kv *expected = first_of_name.emplace(key, kv).first->second;
        if (tovik_find_key(ctx, kv->name) != expected)
            fail("tovik_find_key does not return the first record of a name",
                 tovik_test::escaped(key));
    }
}

// Within each sibling list, a lookup by a node's exact name bytes finds the
// first sibling with those bytes; a node is never reported as the child of
// a list that does not hold it.
inline void require_sibling_lookups_agree(tovik_ctx *ctx, tovik_tree_node *parent) {
    std::unordered_map<std::string, tovik_tree_node *> first_of_name;
    for (tovik_tree_node *node = tovik_kv_tree_iter(ctx, parent, nullptr); node;
         node = tovik_kv_tree_iter(ctx, parent, node)) {
        std::string name(node->name, node->name_len);
        tovik_tree_node *expected = first_of_name.emplace(name, node).first->second;
        if (tovik_find_tree_node(ctx, parent, node->name, node->name_len) != expected)
            fail("tovik_find_tree_node does not return the first sibling of a name",
                 tovik_test::escaped(name));
        require(tovik_kv_tree_iter(ctx, node, node) == nullptr,
                "a node is iterated as a child of itself");
        if (parent)
            require(tovik_kv_tree_iter(ctx, nullptr, node) == nullptr,
                    "a child node is iterated as a root");
    }
}

inline void require_node_lookups_agree(tovik_ctx *ctx) {
    require_sibling_lookups_agree(ctx, nullptr);
    for (tovik_tree_node *node : nodes_in_order(ctx))
        require_sibling_lookups_agree(ctx, node);
}

} // namespace tovik_fuzz
