// Test support without a test framework: a checker of every structural
// promise a context makes between calls, for the tests and the fuzzers.
//
//   std::string invariant_violations(const tovik_ctx &ctx);
//   std::string invariant_violations(const tovik_ctx &ctx, const TrackingAllocator &heap);
//   size_t reachable_blocks(const tovik_ctx &ctx);
//
// The checks return "" when everything holds, else one line per violation
// ("records/2: value is not NUL-terminated at value_len"). Places are written
// as positions: records/i is the i-th record (from 0), tree/i/j the j-th child
// of the i-th root node. The walk is iterative, so a tree a million levels
// deep costs heap, not stack. Given the allocator, every record and node must
// also be a live block of exactly its defined size, and texts are read only
// after the block size vouches for their lengths; without it the lengths are
// trusted for the terminator reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "tovik.h"
#include "tracking_allocator_core.hpp"

namespace tovik_test {

namespace invariants_detail {

// The first few violations tell the story; a corrupted list can produce
// thousands of follow-on complaints.
constexpr size_t max_reported = 20;

// Places are described only when reported: spelling out the path of every
// node of a deep tree on the way would cost time quadratic in its depth.
class Report {
  public:
    template <class Where> void add(const Where &where, const char *what) {
        if (count_++ < max_reported)
            text_ += where() + ": " + what + "\n";
    }
    std::string str() const {
        if (count_ <= max_reported)
            return text_;
        return text_ + "... and " + std::to_string(count_ - max_reported) + " more\n";
    }

  private:
    std::string text_;
    size_t count_ = 0;
};

// A text of `len` bytes takes len + 1 bytes (its NUL) rounded up to a
// multiple of 4. False when a corrupted length makes the sum overflow.
inline bool add_text_area(size_t &size, size_t len) {
    if (size > SIZE_MAX - 8 || len > SIZE_MAX - 8 - size)
        return false;
    size += (len + 1 + 3) / 4 * 4;
    return true;
}

// What one record or node block promises about itself: the fixed fields, then
// the name area, then (when there is a value) the value area.
struct Block {
    const void *start;
    size_t fixed_size;
    const char *name;
    size_t name_len;
    bool has_value;    // false for a node without value; a record always has one
    const char *value; // checked for null by the caller
    size_t value_len;
};

// Checks the block's size and text placement; false when the block is not
// live, so that nothing more of it may be read.
template <class Where>
bool check_block(Report &report, const Where &where, const Block &block,
                 const TrackingAllocator *heap) {
    size_t defined_size = block.fixed_size;
    bool lengths_fit = add_text_area(defined_size, block.name_len) &&
                       (!block.has_value || add_text_area(defined_size, block.value_len));
    bool texts_readable = lengths_fit;
    if (!lengths_fit)
        report.add(where, "text lengths overflow any block size");
    if (heap) {
        size_t actual = heap->size_of(block.start);
        if (actual == 0) {
            report.add(where, "block is not a live block of the allocator");
            return false;
        }
        if (lengths_fit && actual != defined_size) {
            report.add(where, "block size differs from the size its texts define");
            texts_readable = false;
        }
    }

    const char *name_area = static_cast<const char *>(block.start) + block.fixed_size;
    if (block.name != name_area)
        report.add(where, "name does not start right after the fixed fields");
    else if (texts_readable && block.name[block.name_len] != '\0')
        report.add(where, "name is not NUL-terminated at name_len");

    if (!block.has_value || !block.value)
        return true;
    size_t name_area_size = 0;
    if (!add_text_area(name_area_size, block.name_len) || block.value != name_area + name_area_size)
        report.add(where, "value does not start right after the name area");
    else if (texts_readable && block.value[block.value_len] != '\0')
        report.add(where, "value is not NUL-terminated at value_len");
    return true;
}

// One step along a circular list: the element after `at`, or null when the
// list is broken there (reported) and must not be followed further.
template <class Where>
const tovik_list *step(Report &report, const Where &where, const tovik_list *at) {
    const tovik_list *next = at->next;
    if (!next) {
        report.add(where, "next link is null");
        return nullptr;
    }
    if (next->prev != at) {
        report.add(where, "next element's prev link does not lead back");
        return nullptr;
    }
    return next;
}

class Walker {
  public:
    Walker(const tovik_ctx &ctx, const TrackingAllocator *heap) : ctx_(ctx), heap_(heap) {}

    void run() {
        check_context_fields();
        walk_records();
        walk_tree();
    }
    std::string violations() const { return report_.str(); }
    size_t blocks_seen() const { return seen_.size(); }

  private:
    static std::string context_place() { return "context"; }

    void check_context_fields() {
        if (ctx_.state < 0 || ctx_.state > 9)
            report_.add(context_place, "state is outside 0-9");
        if (ctx_.reserved != 0)
            report_.add(context_place, "reserved word is not zero");
    }

    // A block reached twice means two lists share an element; following it
    // again could loop for ever.
    template <class Where> bool first_visit(const Where &where, const void *block) {
        if (seen_.insert(block).second)
            return true;
        report_.add(where, "element is reached a second time");
        return false;
    }

    void walk_records() {
        const tovik_list *sentinel = &ctx_.records;
        const tovik_list *at = sentinel;
        for (size_t index = 0;; ++index) {
            auto where = [index] { return "records/" + std::to_string(index); };
            auto where_at = [index] {
                return index ? "records/" + std::to_string(index - 1) : std::string("records");
            };
            const tovik_list *next = step(report_, where_at, at);
            if (!next || next == sentinel || !first_visit(where, next))
                return;
            const tovik_kv *kv = reinterpret_cast<const tovik_kv *>(next);
            if (!kv->value)
                report_.add(where, "record has a null value");
            Block block{kv,   sizeof(tovik_kv), kv->name,     kv->name_len,
                        true, kv->value,        kv->value_len};
            if (!check_block(report_, where, block, heap_))
                return;
            at = next;
        }
    }

    // A position in one sibling list: the list's sentinel and owner, the
    // element last visited and how many were visited.
    struct Frame {
        const tovik_list *sentinel;
        const tovik_tree_node *owner;
        const tovik_list *at;
        size_t visited;
    };

    std::string path_of_current() const {
        std::string path = "tree";
        for (const Frame &frame : frames_)
            path += "/" + std::to_string(frame.visited - 1);
        return path;
    }

    std::string path_of_list() const {
        std::string path = "tree";
        for (size_t i = 0; i + 1 < frames_.size(); ++i)
            path += "/" + std::to_string(frames_[i].visited - 1);
        return path == "tree" ? "tree" : path + "/children";
    }

    void walk_tree() {
        frames_.push_back(Frame{&ctx_.tree, nullptr, &ctx_.tree, 0});
        while (!frames_.empty()) {
            Frame &frame = frames_.back();
            bool from_sentinel = frame.visited == 0;
            auto where_at = [this, from_sentinel] {
                return from_sentinel ? path_of_list() : path_of_current();
            };
            const tovik_list *next = step(report_, where_at, frame.at);
            if (!next || next == frame.sentinel) {
                frames_.pop_back();
                continue;
            }
            frame.at = next;
            ++frame.visited;
            const tovik_tree_node *node = reinterpret_cast<const tovik_tree_node *>(next);
            auto where = [this] { return path_of_current(); };
            if (!first_visit(where, node) || !check_node(where, node, frame.owner)) {
                frames_.pop_back();
                continue;
            }
            frames_.push_back(Frame{&node->children, node, &node->children, 0});
        }
    }

    template <class Where>
    bool check_node(const Where &where, const tovik_tree_node *node, const tovik_tree_node *owner) {
        if (node->parent != owner)
            report_.add(where, owner ? "parent is not the node whose children list holds it"
                                     : "root node has a parent");
        if (!node->value && node->value_len != 0)
            report_.add(where, "node without value has a non-zero value_len");
        return check_block(report_, where,
                           Block{node, sizeof(tovik_tree_node), node->name, node->name_len,
                                 node->value != nullptr, node->value, node->value_len},
                           heap_);
    }

    const tovik_ctx &ctx_;
    const TrackingAllocator *heap_;
    Report report_;
    std::unordered_set<const void *> seen_;
    std::vector<Frame> frames_;
};

inline Walker walked(const tovik_ctx &ctx, const TrackingAllocator *heap) {
    Walker walker(ctx, heap);
    walker.run();
    return walker;
}

} // namespace invariants_detail

// "" when every list, record and node of `ctx` keeps its structural promises,
// else a readable list of what is broken and where.
inline std::string invariant_violations(const tovik_ctx &ctx) {
    return invariants_detail::walked(ctx, nullptr).violations();
}

// The same, and every record and node must be a live block of `heap` of
// exactly the size its texts define.
inline std::string invariant_violations(const tovik_ctx &ctx, const TrackingAllocator &heap) {
    return invariants_detail::walked(ctx, &heap).violations();
}

// Distinct records and nodes reachable from the context's two lists (as far
// as the links can be followed), to compare with an allocator's live blocks.
inline size_t reachable_blocks(const tovik_ctx &ctx) {
    return invariants_detail::walked(ctx, nullptr).blocks_seen();
}

} // namespace tovik_test
