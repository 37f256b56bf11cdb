// The filing pass: each record of the parse call is filed into the tree by
// splitting its name at dots. Part of the single library unit; included by
// tovik.cpp.
//
// Finding the first sibling of a name is a walk of the sibling list. So that
// one long list cannot make a parse quadratic, the pass keeps a filing index
// for the lists it has walked most. The index lives only for one parse call
// and uses no memory of its own beyond a fixed table on the stack: every
// indexed node lends it its `name` and `value` fields, whose contents the
// block layout implies (the name always follows the fixed fields, the value,
// if any, follows the name's area), and they are restored before the call
// returns and before a node is handed to free_fn.
#pragma once

#include "tree.hpp"

namespace {

// ---------------------------------------------------------------------------
// Filing index
//
// A hash table of 1,024 buckets keyed by (parent, name). Each bucket holds a
// treap: a search tree whose shape follows priorities taken from the node
// addresses, so that no input can unbalance it, and a bucket that many names
// share still answers in logarithmic time. A node's borrowed `name` field is
// its left link, its `value` field the right link with two tag bits: whether
// the node had a value, and whether it is the frontier entry of its list.
//
// Lists are indexed from the front: the indexed nodes of a list are a prefix
// of it. When the prefix stops short of the end, the first node after it, the
// frontier, is entered under a key of its own, (parent, frontier), and the
// nodes from it on are walked. So a list is in one of three conditions, each
// told by its ends:
//   - not indexed: its first node has its own fields;
//   - wholly indexed: its last node is an entry under its name;
//   - indexed up to a frontier: otherwise.
// Entries of one name are kept in list order, the first leftmost, so a
// lookup returns the first match even among duplicate siblings.

constexpr uintptr_t kHadValue = 1; // the node's value field was not null
constexpr uintptr_t kFrontier = 2; // the entry stands for its list's frontier
constexpr uintptr_t kTagBits = kHadValue | kFrontier;

bool is_lent(const tovik_tree_node *node) { return node->name != name_text(node); }

uintptr_t tags_of(const tovik_tree_node *node) {
    return reinterpret_cast<uintptr_t>(node->value) & kTagBits;
}

bool is_name_entry(const tovik_tree_node *node) {
    return is_lent(node) && !(tags_of(node) & kFrontier);
}

void lend_fields(tovik_tree_node *node, uintptr_t tag) {
    uintptr_t tags = (node->value ? kHadValue : 0) | tag;
    node->name = nullptr;
    node->value = reinterpret_cast<char *>(tags);
}

void restore_fields(tovik_tree_node *node) {
    bool had_value = tags_of(node) & kHadValue;
    node->name = name_text(node);
    node->value = had_value ? value_text(node) : nullptr;
}

// A place that holds a treap link: a bucket head, or a node's left (`name`)
// or right (`value`) field. Writing a link keeps the tag bits of the field.
using Slot = char **;

tovik_tree_node *at(Slot slot) {
    return reinterpret_cast<tovik_tree_node *>(reinterpret_cast<uintptr_t>(*slot) & ~kTagBits);
}

void put(Slot slot, tovik_tree_node *node) {
    uintptr_t tags = reinterpret_cast<uintptr_t>(*slot) & kTagBits;
    *slot = reinterpret_cast<char *>(reinterpret_cast<uintptr_t>(node) | tags);
}

Slot left_of(tovik_tree_node *node) { return &node->name; }
Slot right_of(tovik_tree_node *node) { return &node->value; }

uint64_t mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

uint32_t priority(const tovik_tree_node *node) {
    return static_cast<uint32_t>(mix(reinterpret_cast<uintptr_t>(node)) >> 32);
}

// A name under a parent, or (name null) the frontier of the parent's list.
struct IndexKey {
    const tovik_tree_node *parent;
    const char *name;
    size_t len;
};

IndexKey key_of(const tovik_tree_node *node) {
    if (tags_of(node) & kFrontier)
        return {node->parent, nullptr, 0};
    return {node->parent, name_text(node), node->name_len};
}

uint64_t hash_of(const IndexKey &key) {
    constexpr uint64_t odd = 0x9e3779b97f4a7c15ULL;
    uint64_t h = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key.parent));
    if (!key.name)
        return mix(h ^ odd);
    h ^= key.len * odd;
    const char *p = key.name;
    size_t left = key.len;
    for (; left >= sizeof(uint64_t); p += sizeof(uint64_t), left -= sizeof(uint64_t))
        h = (h ^ word_at(p)) * odd;
    if (left != 0) {
        uint64_t tail = 0;
        memcpy(&tail, p, left);
        h = (h ^ tail) * odd;
    }
    return mix(h);
}

// Orders by parent, then the frontier before every name, then length and bytes.
int compare(const IndexKey &key, const tovik_tree_node *node) {
    uintptr_t own = reinterpret_cast<uintptr_t>(key.parent);
    uintptr_t other = reinterpret_cast<uintptr_t>(node->parent);
    if (own != other)
        return own < other ? -1 : 1;
    bool frontier = tags_of(node) & kFrontier;
    if (!key.name || frontier)
        return int(key.name != nullptr) - int(!frontier);
    if (key.len != node->name_len)
        return key.len < node->name_len ? -1 : 1;
    return memcmp(key.name, name_text(node), key.len);
}

class FilingIndex {
  public:
    explicit FilingIndex(tovik_ctx *ctx) : ctx_(ctx) {}
    FilingIndex(const FilingIndex &) = delete;
    FilingIndex &operator=(const FilingIndex &) = delete;

    // The first child of `parent` named by `len` bytes of `name`, or null.
    tovik_tree_node *find(tovik_tree_node *parent, const char *name, size_t len) {
        tovik_list *list = children_of(ctx_, parent);
        if (list_empty(list))
            return nullptr;
        if (!is_lent(as_node(list->next))) {
            Walk walk = walk_from_both_ends(list, name, len);
            grow_prefix(list, list->next, walk.visited);
            return walk.found;
        }
        if (Slot slot = find_slot({parent, name, len}))
            return at(slot);
        if (is_name_entry(as_node(list->prev)))
            return nullptr;
        tovik_tree_node *frontier = at(find_slot({parent, nullptr, 0}));
        Walk walk = walk_from(list, &frontier->link, name, len);
        grow_prefix(list, &frontier->link, walk.visited);
        return walk.found;
    }

    // Appends `node` to its parent's children; a wholly indexed list stays so.
    void link(tovik_tree_node *node) {
        tovik_list *list = children_of(ctx_, node->parent);
        bool wholly_indexed = !list_empty(list) && is_name_entry(as_node(list->prev));
        list_append(list, &node->link);
        if (wholly_indexed)
            enter(node, 0);
    }

    // Takes `node` out of the index before it is unlinked or released. When
    // its list lives on and the node was the frontier, the next node is.
    void forget(tovik_tree_node *node, bool list_lives_on) {
        if (!is_lent(node))
            return;
        bool was_frontier = tags_of(node) & kFrontier;
        leave(node);
        tovik_list *next = node->link.next;
        if (was_frontier && list_lives_on && next != children_of(ctx_, node->parent))
            enter(as_node(next), kFrontier);
    }

    // Gives every lent field back, also those of subtrees that a replacement
    // only unlinked; the index is empty afterwards.
    void restore_all() {
        if (!in_use_)
            return;
        for (char *&head : heads_)
            restore_treap(&head);
        in_use_ = false;
    }

  private:
    // A list is indexed further only once this call's walks have paid for
    // it: `kCostFactor` nodes walked for each node entered, and never for a
    // walk shorter than `kShortestRun`, which costs less than the index would.
    static constexpr size_t kCostFactor = 16;
    static constexpr size_t kShortestRun = 32;
    static constexpr unsigned kBucketBits = 10;

    // Counts a walk of `visited` nodes from `from`, the first node of the
    // list that is not indexed, and moves the list's frontier past them when
    // the walking so far pays for it.
    void grow_prefix(tovik_list *list, tovik_list *from, size_t visited) {
        credit_ += visited;
        if (visited < kShortestRun || credit_ / kCostFactor < visited)
            return;
        credit_ -= visited * kCostFactor;
        if (is_lent(as_node(from)))
            leave(as_node(from));
        tovik_list *link = from;
        for (size_t i = 0; i != visited && link != list; ++i, link = link->next)
            enter(as_node(link), 0);
        if (link != list)
            enter(as_node(link), kFrontier);
    }

    Slot bucket(const IndexKey &key) {
        if (!in_use_) {
            memset(heads_, 0, sizeof heads_);
            in_use_ = true;
        }
        return &heads_[hash_of(key) >> (64 - kBucketBits)];
    }

    // The slot holding the first entry equal to `key`, or null.
    Slot find_slot(const IndexKey &key) {
        Slot found = nullptr;
        for (Slot slot = bucket(key); tovik_tree_node *node = at(slot);) {
            int order = compare(key, node);
            if (order == 0)
                found = slot;
            slot = order <= 0 ? left_of(node) : right_of(node);
        }
        return found;
    }

    // Lends the node's fields and enters it after every equal entry: nodes
    // enter in list order. Above the first node of lower priority on the
    // search path, the subtree there is split around the new node.
    void enter(tovik_tree_node *node, uintptr_t tag) {
        lend_fields(node, tag);
        IndexKey key = key_of(node);
        uint32_t rank = priority(node);
        Slot slot = bucket(key);
        while (at(slot) && priority(at(slot)) >= rank)
            slot = compare(key, at(slot)) < 0 ? left_of(at(slot)) : right_of(at(slot));
        tovik_tree_node *rest = at(slot);
        put(slot, node);
        Slot before = left_of(node);
        Slot after = right_of(node);
        while (rest) {
            if (compare(key, rest) < 0) {
                put(after, rest);
                after = left_of(rest);
                rest = at(after);
            } else {
                put(before, rest);
                before = right_of(rest);
                rest = at(before);
            }
        }
        put(before, nullptr);
        put(after, nullptr);
    }

    // Takes the entry out, joining its two subtrees in its place, and gives
    // its fields back. An entry is always the first of its key: the builder
    // only removes first matches and first children.
    void leave(tovik_tree_node *node) {
        Slot slot = find_slot(key_of(node));
        tovik_tree_node *low = at(left_of(node));
        tovik_tree_node *high = at(right_of(node));
        while (low && high) {
            if (priority(low) >= priority(high)) {
                put(slot, low);
                slot = right_of(low);
                low = at(slot);
            } else {
                put(slot, high);
                slot = left_of(high);
                high = at(slot);
            }
        }
        put(slot, low ? low : high);
        restore_fields(node);
    }

    // Empties one bucket, restoring each node: a left child is rotated up
    // until the top has none, so no stack is needed.
    static void restore_treap(Slot head) {
        tovik_tree_node *top = at(head);
        while (top) {
            tovik_tree_node *low = at(left_of(top));
            if (low) {
                put(left_of(top), at(right_of(low)));
                put(right_of(low), top);
                top = low;
            } else {
                tovik_tree_node *next = at(right_of(top));
                restore_fields(top);
                top = next;
            }
        }
        *head = nullptr;
    }

    tovik_ctx *ctx_;
    bool in_use_ = false;
    size_t credit_ = 0;
    char *heads_[size_t(1) << kBucketBits];
};

// ---------------------------------------------------------------------------
// Tree builder

struct Segment {
    const char *start;
    size_t len;
};

// The non-empty segments of a path: the bytes from `start` to `end`, where
// every segment, the last one included, ends with a dot.
class PathSegments {
  public:
    PathSegments(const char *start, const char *end) : at_(start), end_(end) {}

    bool next(Segment &segment) {
        while (at_ != end_) {
            const char *start = at_;
            const char *dot =
                static_cast<const char *>(memchr(start, '.', static_cast<size_t>(end_ - start)));
            at_ = dot + 1;
            if (dot != start) {
                segment = Segment{start, static_cast<size_t>(dot - start)};
                return true;
            }
        }
        return false;
    }

  private:
    const char *at_;
    const char *end_;
};

// Bytes of `name` up to and including its last dot; 0 without a dot.
size_t path_len_of(const char *name, size_t len) {
    while (len != 0 && name[len - 1] != '.')
        --len;
    return len;
}

// The longest prefix of two paths (each empty or ending with a dot) that ends
// with a dot in both. One path is most often a prefix of the other: the same
// section, or a dotted key going into or coming out of it.
size_t shared_path_len(const char *a, size_t a_len, const char *b, size_t b_len) {
    size_t n = a_len < b_len ? a_len : b_len;
    if (memcmp(a, b, n) == 0)
        return n;
    size_t i = 0;
    while (a[i] == b[i])
        ++i;
    return path_len_of(a, i);
}

tovik_tree_node *ancestor(tovik_tree_node *node, const char *path, const char *path_end) {
    PathSegments segments(path, path_end);
    for (Segment segment; segments.next(segment);)
        node = node->parent;
    return node;
}

class TreeBuilder {
  public:
    TreeBuilder(tovik_ctx *ctx, FilingIndex &index)
        : ctx_(ctx), index_(index), last_{"", 0, ctx->parent} {}

    // Files one record: every dotted segment but the last names a path node
    // (empty segments are skipped), the last one the leaf. False when a
    // block is refused.
    bool file(const tovik_kv *kv) {
        if (!kv->name || kv->name_len == 0)
            return true;
        const char *name = kv->name;
        size_t path_len = path_len_of(name, kv->name_len);
        size_t shared = shared_path_len(name, path_len, last_.name, last_.len);
        tovik_tree_node *node = ancestor(last_.node, last_.name + shared, last_.name + last_.len);
        PathSegments segments(name + shared, name + path_len);
        for (Segment segment; segments.next(segment);)
            if (!(node = descend(node, segment)))
                return false;
        last_ = FiledPath{name, path_len, node};
        if (path_len == kv->name_len)
            return true;
        return file_leaf(node, kv, Segment{name + path_len, kv->name_len - path_len});
    }

  private:
    // The path of the record filed last: its name up to and including the
    // last dot, and the node that path leads to. Within one parse call nodes
    // are only appended, and a replacement releases only children of the
    // node a record's path leads to, so every node on the remembered path
    // stays the first match for its segment. The next record therefore
    // starts from the longest path prefix the two names share instead of
    // from the top: consecutive keys of one section look up nothing but
    // their leaf.
    struct FiledPath {
        const char *name;
        size_t len;
        tovik_tree_node *node;
    };

    // Finds or creates the path node for one segment; null when its block is refused.
    tovik_tree_node *descend(tovik_tree_node *parent, Segment segment) {
        if (tovik_tree_node *node = index_.find(parent, segment.start, segment.len))
            return node;
        tovik_tree_node *node = new_node(ctx_, parent, segment.start, segment.len, nullptr, 0);
        if (node)
            index_.link(node);
        return node;
    }

    // The first value filed for a name wins unless the parse replaces. A
    // replacing leaf's block is obtained before the old node goes, so a
    // refusal leaves the old node where it was.
    bool file_leaf(tovik_tree_node *parent, const tovik_kv *kv, Segment leaf) {
        tovik_tree_node *existing = index_.find(parent, leaf.start, leaf.len);
        if (existing && !(ctx_->flags & TOVIK_FLAG_REPLACE))
            return true;
        tovik_tree_node *node =
            new_node(ctx_, parent, leaf.start, leaf.len, kv->value, kv->value_len);
        if (!node)
            return false;
        if (existing)
            drop_subtree(existing);
        index_.link(node);
        return true;
    }

    // Without free_fn a replaced subtree is only unlinked: its blocks stay
    // with the caller's allocator, and the index gives their fields back
    // when the call ends.
    void drop_subtree(tovik_tree_node *top) {
        if (ctx_->free_fn) {
            release_subtree(ctx_, top, [this, top](tovik_tree_node *node) {
                index_.forget(node, node == top);
            });
        } else {
            index_.forget(top, true);
            list_unlink(&top->link);
        }
    }

    tovik_ctx *ctx_;
    FilingIndex &index_;
    FiledPath last_;
};

void build_tree(tovik_ctx *ctx) {
    FilingIndex index(ctx);
    TreeBuilder builder(ctx, index);
    for (tovik_list *link = ctx->mark->next; link != &ctx->records; link = link->next)
        if (!builder.file(as_record(link)))
            break;
    index.restore_all();
}

} // namespace
