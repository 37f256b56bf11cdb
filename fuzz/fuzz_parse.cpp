// One parse of arbitrary bytes, then every query, then release.
//
// The first input byte is the control byte: its bit 1 grafts the parse under
// a caller node (bit 2 makes that node a value node), and the byte with bit 1
// cleared is passed as the parse flags, so bit 0 is the replace flag and the
// bits above it must be ignored. The rest of the input is the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.hpp"

namespace {

using namespace tovik_fuzz;

constexpr uint8_t kGraft = 1u << 1;
constexpr uint8_t kGraftHasValue = 1u << 2;

tovik_tree_node *make_graft_node(tovik_ctx *ctx, uint8_t control) {
    if (!(control & kGraft))
        return nullptr;
    tovik_tree_node *node = control & kGraftHasValue
                                ? tovik_add_valuenode(ctx, nullptr, "graft", 5, "v", 1)
                                : tovik_add_subnode(ctx, nullptr, "graft", 5);
    require(node != nullptr, "the graft node was not made");
    return node;
}

// Without replacement no node is ever removed, so every path segment of
// every record (empty ones skipped) names a node below the parse's parent.
void require_every_path_filed(tovik_ctx *ctx, tovik_tree_node *top) {
    for (tovik_kv *kv = tovik_kv_iter(ctx, nullptr); kv; kv = tovik_kv_iter(ctx, kv)) {
        tovik_tree_node *node = top;
        size_t start = 0;
        for (size_t i = 0; i <= kv->name_len; ++i) {
            if (i != kv->name_len && kv->name[i] != '.')
                continue;
            if (i != start) {
                node = tovik_find_tree_node(ctx, node, kv->name + start, i - start);
                if (!node)
                    fail("a record's path is missing from the tree",
                         tovik_test::escaped(std::string(kv->name, kv->name_len)));
            }
            start = i + 1;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    uint8_t control = data[0];
    uint32_t flags = control & ~uint32_t(kGraft);
    ExactCopy text(data + 1, size - 1);

    TrackingAllocator heap;
    tovik_ctx ctx{};
    require(tovik_init(&ctx, TrackingAllocator::alloc, TrackingAllocator::release, &heap) == 0,
            "tovik_init refused a complete context");
    tovik_tree_node *graft = make_graft_node(&ctx, control);

    require(tovik_parse_data_ex(&ctx, graft, text.data(), text.size(), flags) == 0,
            "the parse call did not return 0");
    require_invariants(ctx, heap);

    size_t records = record_count(&ctx);
    std::vector<tovik_tree_node *> nodes = nodes_in_order(&ctx);
    require(records + nodes.size() == heap.live_blocks(),
            "live blocks are not exactly the records and nodes");
    require(tovik_test::reachable_blocks(ctx) == heap.live_blocks(),
            "the lists do not reach every live block");
    if (graft)
        require(nodes.front() == graft && tovik_kv_tree_iter(&ctx, nullptr, graft) == nullptr,
                "a grafted parse put nodes at the root");
    if (!(flags & TOVIK_FLAG_REPLACE))
        require_every_path_filed(&ctx, graft);
    require_record_lookups_agree(&ctx);
    require_node_lookups_agree(&ctx);

    std::vector<void *> expected_release = deinit_order(&ctx);
    size_t released_before = heap.released.size(); // replacements released some already
    require(tovik_deinit(&ctx) == 0, "tovik_deinit did not return 0");
    require(heap.live_blocks() == 0, "blocks leaked after tovik_deinit");
    require(released_since(heap, released_before) == expected_release,
            "tovik_deinit released blocks in another order");
    require_invariants(ctx, heap);
    return 0;
}
