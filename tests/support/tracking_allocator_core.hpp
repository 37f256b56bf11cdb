// Test support without a test framework, so that fuzzers can share it: an
// allocator that records every request and release, can refuse chosen
// requests, and reports leaks, double releases and foreign blocks; plus
// compact dumps of a context's records and tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tovik.h"

namespace tovik_test {

class TrackingAllocator {
  public:
    TrackingAllocator() = default;
    TrackingAllocator(const TrackingAllocator &) = delete;
    TrackingAllocator &operator=(const TrackingAllocator &) = delete;
    ~TrackingAllocator() {
        for (auto &entry : live_)
            std::free(entry.first);
    }

    static void *alloc(void *user, size_t size) {
        return static_cast<TrackingAllocator *>(user)->on_alloc(size);
    }
    static void release(void *user, void *block) {
        static_cast<TrackingAllocator *>(user)->on_release(block);
    }

    // Refuses the k-th request (1-based, counted from now on) and no other.
    void refuse_request(size_t k) { refused_.insert(requests.size() + k); }
    // Refuses every request from the k-th one (1-based, counted from now on).
    void refuse_from(size_t k) { refuse_from_ = requests.size() + k; }
    void accept_all() {
        refused_.clear();
        refuse_from_ = 0;
    }

    size_t live_blocks() const { return live_.size(); }
    size_t live_bytes() const {
        size_t total = 0;
        for (auto &entry : live_)
            total += entry.second;
        return total;
    }
    // Size of a live block, or 0 when the block is not live.
    size_t size_of(const void *block) const {
        auto it = live_.find(const_cast<void *>(block));
        return it == live_.end() ? 0 : it->second;
    }
    bool is_live(const void *block) const { return size_of(block) != 0; }

    std::vector<size_t> requests;    // every requested size, refused ones included
    std::vector<void *> granted;     // every block handed out, in order
    std::vector<void *> released;    // every block given back, in order
    std::vector<std::string> errors; // double or foreign releases

  private:
    void *on_alloc(size_t size) {
        requests.push_back(size);
        size_t index = requests.size();
        if (refused_.count(index) || (refuse_from_ != 0 && index >= refuse_from_))
            return nullptr;
        // malloc can only fail beyond PTRDIFF_MAX, and a sanitizer's malloc
        // aborts the run instead, so such a request is refused here.
        if (size > static_cast<size_t>(PTRDIFF_MAX))
            return nullptr;
        void *block = std::malloc(size == 0 ? 1 : size);
        if (!block)
            return nullptr;
        live_[block] = size == 0 ? 1 : size;
        granted.push_back(block);
        return block;
    }
    void on_release(void *block) {
        released.push_back(block);
        auto it = live_.find(block);
        if (it == live_.end()) {
            errors.push_back("release of a block that is not live");
            return;
        }
        live_.erase(it);
        std::free(block);
    }

    std::map<void *, size_t> live_;
    std::set<size_t> refused_;
    size_t refuse_from_ = 0;
};

// Bytes shown with C escapes, so that failures with control bytes stay readable.
inline std::string escaped(std::string_view s) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\v':
            out += "\\v";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        default:
            if (c < 0x20 || c >= 0x7f) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

inline bool list_is_empty(const tovik_list &sentinel) {
    return sentinel.next == &sentinel && sentinel.prev == &sentinel;
}

using Record = std::pair<std::string, std::string>;
using Records = std::vector<Record>;

inline std::string text(const char *p, size_t n) { return p ? std::string(p, n) : std::string(); }

// Every record of the context, in list order, as (full name, value) bytes.
inline Records records_of(tovik_ctx *ctx) {
    Records out;
    for (tovik_kv *kv = tovik_kv_iter(ctx, nullptr); kv; kv = tovik_kv_iter(ctx, kv))
        out.emplace_back(text(kv->name, kv->name_len), text(kv->value, kv->value_len));
    return out;
}

// The tree below `parent` as one line: siblings separated by a space, a value
// node as name=value, children in braces. "a{b=1} c=2 d" is a value-less a
// with the child b = 1, then the root leaf c = 2, then a value-less d.
inline std::string dump_tree(tovik_ctx *ctx, tovik_tree_node *parent = nullptr) {
    std::string out;
    for (tovik_tree_node *n = tovik_kv_tree_iter(ctx, parent, nullptr); n;
         n = tovik_kv_tree_iter(ctx, parent, n)) {
        if (!out.empty())
            out += ' ';
        out += text(n->name, n->name_len);
        if (n->value)
            out += '=' + text(n->value, n->value_len);
        if (n->children.next != &n->children)
            out += '{' + dump_tree(ctx, n) + '}';
    }
    return out;
}

} // namespace tovik_test
