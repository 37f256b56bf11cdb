// A sequence of operations on one context, driven by the input: parse calls
// on slices of it (with or without replacement, at the root or under a node),
// caller nodes added, looked up, iterated and released, deinit and reuse, a
// new tovik_init over live content, and an allocator told to refuse chosen
// requests. The invariants and the block accounting are checked after every
// step; each operation also checks its own outcome.
//
// A context without free_fn cannot give blocks back: what it lets go of (a
// replaced subtree, content forgotten by tovik_init) stays with the
// allocator, which frees it when the run ends.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_support.hpp"

namespace {

using namespace tovik_fuzz;

constexpr size_t kMaxSlice = 4096;

enum class Op {
    parse,
    add_subnode,
    add_valuenode,
    add_oversized,
    find_node,
    find_key,
    check_lookups,
    free_node,
    free_all,
    deinit,
    reinit,
    refuse_one,
    refuse_from,
    accept_all,
    kMaxValue = accept_all,
};

class OpsRun {
  public:
    explicit OpsRun(FuzzedDataProvider &input) : in_(input) { init(in_.ConsumeBool()); }

    void run() {
        while (in_.remaining_bytes() != 0) {
            Op op = in_.ConsumeEnum<Op>();
            perform(op);
            check_after(op);
        }
        finish();
    }

  private:
    void init(bool with_free_fn) {
        with_free_fn_ = with_free_fn;
        require(tovik_init(&ctx_, TrackingAllocator::alloc,
                           with_free_fn ? TrackingAllocator::release : nullptr, &heap_) == 0,
                "tovik_init refused a complete context");
    }

    void perform(Op op) {
        switch (op) {
        case Op::parse:
            return parse();
        case Op::add_subnode:
            return add_node(false);
        case Op::add_valuenode:
            return add_node(true);
        case Op::add_oversized:
            return add_oversized();
        case Op::find_node:
            return find_node();
        case Op::find_key:
            return find_key();
        case Op::check_lookups:
            require_record_lookups_agree(&ctx_);
            return require_node_lookups_agree(&ctx_);
        case Op::free_node:
            return free_node(pick_node());
        case Op::free_all:
            return free_node(nullptr);
        case Op::deinit:
            return deinit();
        case Op::reinit:
            return init(in_.ConsumeBool());
        case Op::refuse_one:
            return heap_.refuse_request(in_.ConsumeIntegralInRange<size_t>(1, 16));
        case Op::refuse_from:
            return heap_.refuse_from(in_.ConsumeIntegralInRange<size_t>(1, 16));
        case Op::accept_all:
            return heap_.accept_all();
        }
    }

    // Blocks the lists no longer reach may only appear where the library may
    // let go of them without free_fn, or where tovik_init forgets content.
    void check_after(Op op) {
        require_invariants(ctx_, heap_);
        size_t reached = tovik_test::reachable_blocks(ctx_);
        require(heap_.live_blocks() >= reached, "a reached block is not live");
        size_t unreached = heap_.live_blocks() - reached;
        require(unreached >= let_go_, "an unreached block came back");
        bool may_let_go = op == Op::reinit || (op == Op::parse && !with_free_fn_);
        require(unreached == let_go_ || may_let_go, "blocks leaked");
        let_go_ = unreached;
    }

    // Without free_fn everything stays with the allocator, which check_after
    // has just accounted for.
    void finish() {
        if (!with_free_fn_)
            return;
        heap_.accept_all();
        deinit();
        require(heap_.live_blocks() == let_go_, "blocks leaked at the end");
        require(heap_.errors.empty(), "release of a block that is not live (double or foreign)");
    }

    // A node of the tree, or null (the root list) for an index one past them.
    tovik_tree_node *pick_node() {
        std::vector<tovik_tree_node *> nodes = nodes_in_order(&ctx_);
        size_t index = in_.ConsumeIntegralInRange<size_t>(0, nodes.size());
        return index == nodes.size() ? nullptr : nodes[index];
    }

    std::vector<tovik_tree_node *> children_of(tovik_tree_node *parent) {
        std::vector<tovik_tree_node *> children;
        for (tovik_tree_node *n = tovik_kv_tree_iter(&ctx_, parent, nullptr); n;
             n = tovik_kv_tree_iter(&ctx_, parent, n))
            children.push_back(n);
        return children;
    }

    std::vector<tovik_kv *> records() {
        std::vector<tovik_kv *> all;
        for (tovik_kv *kv = tovik_kv_iter(&ctx_, nullptr); kv; kv = tovik_kv_iter(&ctx_, kv))
            all.push_back(kv);
        return all;
    }

    bool last_request_refused(size_t requests_before, size_t granted_before) const {
        return heap_.requests.size() == requests_before + 1 &&
               heap_.granted.size() == granted_before;
    }

    // Earlier records stay in front, untouched; a grafted parse leaves the
    // root list alone.
    void parse() {
        tovik_tree_node *parent = pick_node();
        uint8_t flags = in_.ConsumeIntegral<uint8_t>();
        // A fixed range keeps the input's layout easy to write seeds for.
        size_t length = in_.ConsumeIntegralInRange<size_t>(0, kMaxSlice);
        std::string slice = in_.ConsumeBytesAsString(length);
        ExactCopy text(reinterpret_cast<const uint8_t *>(slice.data()), slice.size());

        std::vector<tovik_kv *> records_before = records();
        std::vector<tovik_tree_node *> roots_before = children_of(nullptr);
        int result = flags == 0
                         ? tovik_parse_data(&ctx_, parent, text.data(), text.size())
                         : tovik_parse_data_ex(&ctx_, parent, text.data(), text.size(), flags);
        require(result == 0, "the parse call did not return 0");
        std::vector<tovik_kv *> records_after = records();
        require(records_after.size() >= records_before.size() &&
                    std::equal(records_before.begin(), records_before.end(), records_after.begin()),
                "a parse call changed the records before it");
        if (parent)
            require(children_of(nullptr) == roots_before, "a grafted parse changed the roots");
    }

    void add_node(bool with_value) {
        tovik_tree_node *parent = pick_node();
        std::string name = in_.ConsumeRandomLengthString(32);
        std::string value = with_value ? in_.ConsumeRandomLengthString(32) : std::string();
        std::vector<tovik_tree_node *> siblings = children_of(parent);
        size_t requests = heap_.requests.size(), granted = heap_.granted.size();

        tovik_tree_node *node = with_value
                                    ? tovik_add_valuenode(&ctx_, parent, name.data(), name.size(),
                                                          value.data(), value.size())
                                    : tovik_add_subnode(&ctx_, parent, name.data(), name.size());
        if (!node) {
            require(last_request_refused(requests, granted), "a node was not made, unrefused");
            require(children_of(parent) == siblings, "a refused node changed its siblings");
            return;
        }
        siblings.push_back(node);
        require(children_of(parent) == siblings, "a new node is not appended at the end");
        require(node->parent == parent && children_of(node).empty(),
                "a new node has a wrong parent or children");
        require(std::string(node->name, node->name_len) == name, "a node's name was not copied");
        require(with_value ? node->value && std::string(node->value, node->value_len) == value
                           : !node->value,
                "a node's value was not copied");
    }

    // Text lengths near SIZE_MAX: the size requested, if any, must not have
    // wrapped round to something small, and nothing may be linked.
    void add_oversized() {
        tovik_tree_node *parent = pick_node();
        size_t huge = SIZE_MAX - in_.ConsumeIntegralInRange<size_t>(0, 128);
        bool huge_value = in_.ConsumeBool();
        size_t requests = heap_.requests.size();
        std::vector<tovik_tree_node *> siblings = children_of(parent);
        const char text[] = "x";
        tovik_tree_node *node = tovik_add_valuenode(&ctx_, parent, text, huge_value ? 1 : huge,
                                                    text, huge_value ? huge : 1);
        require(heap_.requests.size() == requests || heap_.requests.back() > huge,
                "a block size wrapped round");
        require(node == nullptr && children_of(parent) == siblings,
                "a node with an impossible size was made");
    }

    // Either the name of an existing child or made-up bytes.
    void find_node() {
        tovik_tree_node *parent = pick_node();
        std::vector<tovik_tree_node *> children = children_of(parent);
        std::string name;
        if (!children.empty() && in_.ConsumeBool()) {
            tovik_tree_node *child =
                children[in_.ConsumeIntegralInRange<size_t>(0, children.size() - 1)];
            name.assign(child->name, child->name_len);
        } else {
            name = in_.ConsumeRandomLengthString(32);
        }
        tovik_tree_node *expected = nullptr;
        for (tovik_tree_node *child : children)
            if (std::string(child->name, child->name_len) == name) {
                expected = child;
                break;
            }
        require(tovik_find_tree_node(&ctx_, parent, name.data(), name.size()) == expected,
                "tovik_find_tree_node missed the first child of that name");
    }

    void find_key() {
        std::vector<tovik_kv *> all = records();
        std::string name =
            !all.empty() && in_.ConsumeBool()
                ? std::string(all[in_.ConsumeIntegralInRange<size_t>(0, all.size() - 1)]->name)
                : in_.ConsumeRandomLengthString(32);
        tovik_kv *expected = nullptr;
        for (tovik_kv *kv : all)
            if (std::strcmp(kv->name, name.c_str()) == 0) {
                expected = kv;
                break;
            }
        require(tovik_find_key(&ctx_, name.c_str()) == expected,
                "tovik_find_key missed the first record of that name");
    }

    // Without free_fn nothing may change; with it, exactly the subtree goes,
    // in release order.
    void free_node(tovik_tree_node *node) {
        std::vector<tovik_tree_node *> doomed = release_order(&ctx_, node);
        std::vector<tovik_kv *> records_before = records();
        size_t live = heap_.live_blocks(), released = heap_.released.size();
        tovik_tree_node *parent = node ? node->parent : nullptr;
        std::vector<tovik_tree_node *> siblings = children_of(parent);

        tovik_free_tree_node(&ctx_, node);
        require(records() == records_before, "releasing nodes changed the records");
        if (!with_free_fn_) {
            require(heap_.live_blocks() == live && children_of(parent) == siblings,
                    "tovik_free_tree_node without free_fn changed something");
            return;
        }
        require(released_since(heap_, released) ==
                    std::vector<void *>(doomed.begin(), doomed.end()),
                "tovik_free_tree_node released other blocks or in another order");
        if (node)
            siblings.erase(std::find(siblings.begin(), siblings.end(), node));
        else
            siblings.clear();
        require(children_of(parent) == siblings, "the released node's siblings changed");
    }

    void deinit() {
        std::vector<void *> order = deinit_order(&ctx_);
        size_t live = heap_.live_blocks(), released = heap_.released.size();
        int result = tovik_deinit(&ctx_);
        if (!with_free_fn_) {
            require(result == 2 && heap_.live_blocks() == live,
                    "tovik_deinit without free_fn did not refuse");
            return;
        }
        require(result == 0, "tovik_deinit did not return 0");
        require(released_since(heap_, released) == order,
                "tovik_deinit released other blocks or in another order");
        require(tovik_test::reachable_blocks(ctx_) == 0, "tovik_deinit left content");
    }

    FuzzedDataProvider &in_;
    TrackingAllocator heap_;
    tovik_ctx ctx_{};
    bool with_free_fn_ = false;
    size_t let_go_ = 0; // live blocks that no list reaches any more
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    OpsRun(input).run();
    return 0;
}
