// Runs the same scenario of parse calls through the library and through the
// literal reference parser and describes everything a caller can observe:
// each allocator request and release in order, and after every call the
// result, the context fields that outlive the call, every record and every
// tree node with its block, texts and layout.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "reference_parser.hpp"
#include "tracking_allocator.hpp"

namespace tovik_differential {

using ParseFn = int (*)(tovik_ctx *, tovik_tree_node *, const char *, size_t, uint32_t);

struct Call {
    std::string text;
    uint32_t flags = 0;
    bool under_graft = false; // below the caller's node, as long as it is still in the tree
    // Value nodes the caller appends, just before the call, to the list the
    // call files into: duplicates of names the text files, for instance.
    std::vector<std::string> caller_nodes = {};
};

struct Scenario {
    std::vector<Call> calls;
    size_t refuse = 0;        // the request refused (1-based, after the set-up), 0 for none
    bool with_free_fn = true; // without it a replaced subtree is only unlinked
};

struct Outcome {
    std::vector<std::string> lines; // the observations, in the order they happened
    size_t requests = 0;            // allocator requests made by the parse calls
};

// Names every block by the order in which it was granted, so that two runs
// on different heaps can be compared, and logs each request and release with
// the context's working fields as the callback sees them. A released block
// must show its own layout: a node's name and value fields where its block
// puts them.
class Recorder {
  public:
    Recorder(std::vector<std::string> &log, const tovik_ctx &ctx) : log_(log), ctx_(ctx) {}

    static void *alloc(void *user, size_t size) {
        Recorder &self = *static_cast<Recorder *>(user);
        void *block = tovik_test::TrackingAllocator::alloc(&self.heap, size);
        if (block)
            self.ids_[block] = ++self.granted_;
        self.log_.push_back("alloc " + std::to_string(size) + " -> " + self.id(block) + " | " +
                            self.working_fields());
        return block;
    }
    static void release(void *user, void *block) {
        Recorder &self = *static_cast<Recorder *>(user);
        self.log_.push_back("free " + self.id(block) + self.layout_at_release(block) + " | " +
                            self.working_fields());
        self.ids_.erase(block);
        tovik_test::TrackingAllocator::release(&self.heap, block);
    }

    std::string id(const void *block) const {
        if (!block)
            return "null";
        auto it = ids_.find(block);
        return it == ids_.end() ? "foreign" : "#" + std::to_string(it->second);
    }

    // A pointer into one of the buffers parsed so far, as "bN+offset".
    std::string in_buffers(const char *p) const {
        if (!p)
            return "null";
        for (size_t i = 0; i < buffers.size(); ++i)
            if (p >= buffers[i].first && p <= buffers[i].first + buffers[i].second)
                return "b" + std::to_string(i + 1) + "+" + std::to_string(p - buffers[i].first);
        return "elsewhere";
    }

    std::string working_fields() const {
        return "state " + std::to_string(ctx_.state) + " cursor " + in_buffers(ctx_.cursor) +
               " remaining " + std::to_string(ctx_.remaining) + " token " + in_buffers(ctx_.token) +
               "/" + std::to_string(ctx_.token_len) + " value " + in_buffers(ctx_.value_start) +
               "/" + std::to_string(ctx_.value_len) + " section " + in_buffers(ctx_.section) + "/" +
               std::to_string(ctx_.section_len);
    }

    tovik_test::TrackingAllocator heap;
    std::vector<std::pair<const char *, size_t>> buffers; // every call's buffer, kept to the end

  private:
    // A record's name always follows its fixed fields; a node's `name` field
    // there is its parent, which is another block.
    static bool is_record(const void *block) {
        return static_cast<const tovik_kv *>(block)->name ==
               static_cast<const char *>(block) + sizeof(tovik_kv);
    }

    std::string layout_at_release(const void *block) const {
        if (is_record(block))
            return "";
        const tovik_tree_node *node = static_cast<const tovik_tree_node *>(block);
        const char *name = reinterpret_cast<const char *>(node + 1);
        const char *value = name + (node->name_len + 1 + 3) / 4 * 4;
        bool in_place = node->name == name && (!node->value || node->value == value);
        return in_place ? "" : " (name or value field not in place)";
    }

    std::vector<std::string> &log_;
    const tovik_ctx &ctx_;
    std::unordered_map<const void *, size_t> ids_;
    size_t granted_ = 0;
};

inline std::string offset_in(const void *block, const char *text) {
    return "+" + std::to_string(text - static_cast<const char *>(block));
}

// A stored text, read only when it lies inside its block.
inline std::string stored_text(const Recorder &rec, const void *block, const char *text,
                               size_t len) {
    const char *start = static_cast<const char *>(block);
    size_t size = rec.heap.size_of(block);
    if (text < start || text >= start + size || len >= size_t(start + size - text))
        return "(pointer outside its block)";
    std::string out =
        tovik_test::escaped(std::string_view(text, len)) + "@" + offset_in(block, text);
    if (text[len] != '\0')
        out += " (no NUL)";
    return out;
}

inline std::string links_of(const tovik_list *link) {
    return link->next->prev == link && link->prev->next == link ? "" : " (broken links)";
}

inline void describe_records(tovik_ctx &ctx, const Recorder &rec, std::vector<std::string> &out) {
    for (tovik_list *link = ctx.records.next; link != &ctx.records; link = link->next) {
        const tovik_kv *kv = reinterpret_cast<const tovik_kv *>(link);
        out.push_back("record " + rec.id(kv) + " size " + std::to_string(rec.heap.size_of(kv)) +
                      " " + stored_text(rec, kv, kv->name, kv->name_len) + " = " +
                      stored_text(rec, kv, kv->value, kv->value_len) + links_of(link));
    }
}

// Pre-order without recursion, so that a name with many dots costs no stack.
inline void describe_tree(tovik_ctx &ctx, const Recorder &rec, std::vector<std::string> &out) {
    std::vector<std::pair<tovik_list *, tovik_list *>> path{{&ctx.tree, ctx.tree.next}};
    while (!path.empty()) {
        auto &[list, link] = path.back();
        if (link == list) {
            path.pop_back();
            continue;
        }
        const tovik_tree_node *node = reinterpret_cast<const tovik_tree_node *>(link);
        link = link->next;
        std::string value = node->value ? stored_text(rec, node, node->value, node->value_len)
                                        : "(none) " + std::to_string(node->value_len);
        out.push_back(std::string(path.size() - 1, ' ') + "node " + rec.id(node) + " size " +
                      std::to_string(rec.heap.size_of(node)) + " parent " + rec.id(node->parent) +
                      " " + stored_text(rec, node, node->name, node->name_len) + " = " + value +
                      links_of(&node->link));
        tovik_list *kids = const_cast<tovik_list *>(&node->children);
        path.emplace_back(kids, kids->next);
    }
}

inline void describe_context(tovik_ctx &ctx, const Recorder &rec, std::vector<std::string> &out) {
    std::string mark = ctx.mark == &ctx.records ? "records" : rec.id(ctx.mark);
    out.push_back(rec.working_fields() + " parent " + rec.id(ctx.parent) + " flags " +
                  std::to_string(ctx.flags) + " mark " + mark + " reserved " +
                  std::to_string(ctx.reserved));
}

inline bool is_root(tovik_ctx &ctx, const tovik_tree_node *node) {
    for (tovik_list *link = ctx.tree.next; link != &ctx.tree; link = link->next)
        if (link == &node->link)
            return true;
    return false;
}

inline Outcome run(ParseFn parse, const Scenario &scenario) {
    Outcome outcome;
    std::vector<std::string> &out = outcome.lines;
    tovik_ctx ctx;
    Recorder rec(out, ctx);
    tovik_init(&ctx, Recorder::alloc, scenario.with_free_fn ? Recorder::release : nullptr, &rec);
    // A caller's node to graft under, holding a caller's child whose name parsed text can reach.
    tovik_tree_node *graft = tovik_add_subnode(&ctx, nullptr, "@graft", 6);
    tovik_add_subnode(&ctx, graft, "net", 3);
    size_t setup_requests = rec.heap.requests.size();
    if (scenario.refuse != 0)
        rec.heap.refuse_request(scenario.refuse);

    // Exact-size copies, so that a read past the end is caught by ASan; all
    // kept to the end, so that fields left from an earlier call still name
    // their buffer.
    std::vector<std::unique_ptr<char[]>> copies;
    for (const Call &call : scenario.calls) {
        copies.emplace_back(new char[call.text.size()]);
        char *data = copies.back().get();
        memcpy(data, call.text.data(), call.text.size());
        rec.buffers.emplace_back(data, call.text.size());
        tovik_tree_node *parent = call.under_graft && is_root(ctx, graft) ? graft : nullptr;
        for (const std::string &name : call.caller_nodes)
            tovik_add_valuenode(&ctx, parent, name.data(), name.size(), "caller", 6);
        int result = parse(&ctx, parent, data, call.text.size(), call.flags);
        out.push_back("call returned " + std::to_string(result));
        describe_context(ctx, rec, out);
        describe_records(ctx, rec, out);
        describe_tree(ctx, rec, out);
    }
    outcome.requests = rec.heap.requests.size() - setup_requests;
    if (scenario.with_free_fn) {
        out.push_back("deinit returned " + std::to_string(tovik_deinit(&ctx)));
        out.push_back("live blocks " + std::to_string(rec.heap.live_blocks()));
    }
    for (const std::string &error : rec.heap.errors)
        out.push_back(error);
    return outcome;
}

// Empty when both describe the same thing, else the first line that differs.
inline std::string first_difference(const std::vector<std::string> &library,
                                    const std::vector<std::string> &reference) {
    size_t n = std::min(library.size(), reference.size());
    size_t i = 0;
    while (i < n && library[i] == reference[i])
        ++i;
    if (i == n && library.size() == reference.size())
        return "";
    auto line = [i](const std::vector<std::string> &lines) {
        return i < lines.size() ? lines[i].substr(0, 400) : std::string("(no more lines)");
    };
    return "line " + std::to_string(i + 1) + "\n  library:   " + line(library) +
           "\n  reference: " + line(reference);
}

struct Comparison {
    std::string difference; // empty when the two runs are alike
    size_t requests = 0;    // requests the reference made, for sweeping refusals
};

inline Comparison compare(const Scenario &scenario) {
    Outcome library = run(tovik_parse_data_ex, scenario);
    Outcome reference = run(tovik_reference::parse_data_ex, scenario);
    return {first_difference(library.lines, reference.lines), reference.requests};
}

} // namespace tovik_differential
