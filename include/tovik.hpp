// tovik.hpp - C++17 layer over the daduzozi C interface (tovik.h).
//
// Header-only and built on the public C functions and record fields alone.
// Everything here is inline and allocation-free except `tovik::index`, so a
// call costs what the C call costs. Nothing throws and nothing needs RTTI:
// failures come back as `false` or as an empty view, exactly where the C
// call returns an error code or a null pointer.
//
//     tovik::context config;                 // malloc/free
//     config.parse("[net]\nport = 80\n");
//     for (tovik::record r : config.records())
//         use(r.name(), r.value());          // "net.port", "80"
//     if (tovik::node port = config.find("net.port"))
//         use(*port.value());                // "80"
//
// Texts are `std::string_view`s of the full stored length: a NUL byte inside
// a name or value is part of it. Views (record, node) and the texts they give
// stay valid until their record or node is released; ranges and iterators
// also end when their context is moved, because list ends are inside it.
#ifndef TOVIK_HPP
#define TOVIK_HPP

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory_resource>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "tovik.h"

#if __cplusplus >= 202002L && defined(__cpp_lib_ranges)
#include <ranges>
#define TOVIK_HPP_RANGES 1
#endif

namespace tovik {

inline constexpr std::uint32_t replace = TOVIK_FLAG_REPLACE;

namespace detail {

inline std::string_view text(const char *data, std::size_t len) noexcept { return {data, len}; }

// Records and nodes begin with their link, so the two addresses are one.
template <class Raw> Raw *holder_of(tovik_list *link) noexcept {
    return reinterpret_cast<Raw *>(link);
}

// Visits the non-empty segments of a dotted path, as the tree builder files
// names: leading, trailing and doubled dots name nothing. `step` takes the
// node reached so far and a segment and returns the next node, or null.
template <class Step>
tovik_tree_node *walk_path(tovik_tree_node *from, std::string_view path, Step step) noexcept {
    tovik_tree_node *at = from;
    while (!path.empty()) {
        std::size_t dot = path.find('.');
        std::string_view segment = path.substr(0, dot);
        if (!segment.empty() && !(at = step(at, segment)))
            return nullptr;
        if (dot == std::string_view::npos)
            break;
        path.remove_prefix(dot + 1);
    }
    return at;
}

// operator-> of an iterator whose elements are views made on the fly.
template <class View> struct arrow_proxy {
    View view;
    const View *operator->() const noexcept { return &view; }
};

// Forward iterator over one circular list, from its first element to the
// sentinel. Elements are yielded as views by value, so `reference` is the view.
template <class View> class list_iterator {
  public:
    using value_type = View;
    using reference = View;
    using pointer = arrow_proxy<View>;
    using difference_type = std::ptrdiff_t;
    using iterator_category = std::forward_iterator_tag;
    using iterator_concept = std::forward_iterator_tag;

    list_iterator() = default;
    explicit list_iterator(tovik_list *at) noexcept : at_(at) {}

    View operator*() const noexcept { return View(holder_of<typename View::raw_type>(at_)); }
    pointer operator->() const noexcept { return {**this}; }
    list_iterator &operator++() noexcept {
        at_ = at_->next;
        return *this;
    }
    list_iterator operator++(int) noexcept {
        list_iterator before = *this;
        at_ = at_->next;
        return before;
    }
    friend bool operator==(list_iterator a, list_iterator b) noexcept { return a.at_ == b.at_; }
    friend bool operator!=(list_iterator a, list_iterator b) noexcept { return a.at_ != b.at_; }

  private:
    tovik_list *at_ = nullptr;
};

// The elements of one list, as a cheap, non-owning view of it. A
// default-constructed range is empty.
template <class View> class list_range {
  public:
    using iterator = list_iterator<View>;
    using const_iterator = iterator;

    list_range() = default;
    explicit list_range(tovik_list *sentinel) noexcept
        : first_(sentinel->next), sentinel_(sentinel) {}

    iterator begin() const noexcept { return iterator(first_); }
    iterator end() const noexcept { return iterator(sentinel_); }
    bool empty() const noexcept { return first_ == sentinel_; }

  private:
    tovik_list *first_ = nullptr;
    tovik_list *sentinel_ = nullptr;
};

} // namespace detail

// One key/value record of the flat list: the full name ("section.key") and
// the value, both of their full stored length. A default record is empty; it
// is what a failed lookup returns. Text access needs a non-empty record.
class record {
  public:
    using raw_type = tovik_kv;

    record() = default;
    explicit record(tovik_kv *raw) noexcept : raw_(raw) {}

    explicit operator bool() const noexcept { return raw_ != nullptr; }
    std::string_view name() const noexcept { return detail::text(raw_->name, raw_->name_len); }
    std::string_view value() const noexcept { return detail::text(raw_->value, raw_->value_len); }
    tovik_kv *raw() const noexcept { return raw_; }

    friend bool operator==(record a, record b) noexcept { return a.raw_ == b.raw_; }
    friend bool operator!=(record a, record b) noexcept { return a.raw_ != b.raw_; }

  private:
    tovik_kv *raw_ = nullptr;
};

// A tree node. An empty node is what a failed lookup or a refused addition
// returns; given as a parent it stands for the root. Text access needs a
// non-empty node; children() of an empty node is an empty range (the roots
// are context::roots()).
class node {
  public:
    using raw_type = tovik_tree_node;
    using range = detail::list_range<node>;

    node() = default;
    explicit node(tovik_tree_node *raw) noexcept : raw_(raw) {}

    explicit operator bool() const noexcept { return raw_ != nullptr; }
    std::string_view name() const noexcept { return detail::text(raw_->name, raw_->name_len); }
    // No value at all for a node without value; an empty value is a value.
    std::optional<std::string_view> value() const noexcept {
        if (!raw_->value)
            return std::nullopt;
        return detail::text(raw_->value, raw_->value_len);
    }
    range children() const noexcept { return raw_ ? range(&raw_->children) : range(); }
    // The empty node for a root node.
    node parent() const noexcept { return node(raw_->parent); }
    tovik_tree_node *raw() const noexcept { return raw_; }

    friend bool operator==(node a, node b) noexcept { return a.raw_ == b.raw_; }
    friend bool operator!=(node a, node b) noexcept { return a.raw_ != b.raw_; }

  private:
    tovik_tree_node *raw_ = nullptr;
};

using record_range = detail::list_range<record>;
using node_range = detail::list_range<node>;

// Owns a tovik_ctx and everything parsed or added into it; the destructor
// releases it all. Not copyable. Movable: the list sentinels live inside
// tovik_ctx, so a move re-points the list ends at the new object, and the
// moved-from context stays usable, empty, with its allocator. Views and
// index entries survive a move (blocks stay where they are); ranges and
// iterators do not.
class context {
  public:
    // Blocks from malloc, released with free.
    context() noexcept { start_empty(ctx_, heap_alloc, heap_free, nullptr); }

    // Blocks from `resource` (the default resource when null). The C release
    // callback is given no size, so each block carries its size in a prefix
    // of max_align_t's alignment. A request the resource refuses by throwing
    // is a refused allocation (the C library absorbs it); built without
    // exceptions, the resource must not throw.
    explicit context(std::pmr::memory_resource *resource) noexcept {
        if (!resource)
            resource = std::pmr::get_default_resource();
        start_empty(ctx_, resource_alloc, resource_free, resource);
    }

    // Blocks from the caller's own C callbacks. A null `free_fn` makes
    // release a no-op (for arenas dropped as a whole); a null `alloc_fn`
    // makes a context that refuses to parse or add.
    context(tovik_alloc_fn alloc_fn, tovik_free_fn free_fn, void *user) noexcept {
        start_empty(ctx_, alloc_fn, free_fn, user);
    }

    context(const context &) = delete;
    context &operator=(const context &) = delete;

    // Takes the lists and the allocator of `other`.
    context(context &&other) noexcept { take(other); }
    // Releases this context's content first, then takes the lists and the
    // allocator of `other`.
    context &operator=(context &&other) noexcept {
        if (this != &other) {
            tovik_deinit(&ctx_);
            take(other);
        }
        return *this;
    }

    ~context() { tovik_deinit(&ctx_); }

    // Appends a record per complete key/value line and files them into the
    // tree under `parent` (the root for an empty node). A refused allocation
    // stops the parse quietly, keeping what was made. False only when the C
    // call refuses: a view without storage (default-constructed) or a context
    // without allocator.
    bool parse(std::string_view text, node parent = {}, std::uint32_t flags = 0) noexcept {
        return tovik_parse_data_ex(&ctx_, parent.raw(), text.data(), text.size(), flags) == 0;
    }

    record_range records() const noexcept { return record_range(sentinel(ctx_.records)); }
    node_range roots() const noexcept { return node_range(sentinel(ctx_.tree)); }

    // The first record in list order whose full name is exactly `name`, all
    // bytes compared (a NUL byte does not end the name), or an empty record.
    record find_record(std::string_view name) const noexcept {
        for (record r : records())
            if (r.name() == name)
                return r;
        return {};
    }

    // The node reached from `from` (the root when empty) by looking up each
    // segment of the dotted path among the children, first match winning,
    // as the tree builder filed it: empty segments are skipped, so "a..b"
    // is "a.b". A path without any segment gives `from` itself.
    node find(node from, std::string_view dotted_path) const noexcept {
        return node(detail::walk_path(from.raw(), dotted_path,
                                      [this](tovik_tree_node *at, std::string_view segment) {
                                          return find_child_raw(at, segment);
                                      }));
    }
    node find(std::string_view dotted_path) const noexcept { return find({}, dotted_path); }

    // The first child of `parent` (a root for an empty node) named exactly
    // `name`; dots are not split.
    node find_child(node parent, std::string_view name) const noexcept {
        return node(find_child_raw(parent.raw(), name));
    }

    // Appended after the last child of `parent` (a root for an empty node),
    // with no lookup. An empty node when the block is refused or a view has
    // no storage.
    node add_subnode(node parent, std::string_view name) noexcept {
        return node(tovik_add_subnode(&ctx_, parent.raw(), name.data(), name.size()));
    }
    node add_valuenode(node parent, std::string_view name, std::string_view value) noexcept {
        return node(tovik_add_valuenode(&ctx_, parent.raw(), name.data(), name.size(), value.data(),
                                        value.size()));
    }

    // Releases `n` with its subtree. An empty node releases nothing: a missed
    // lookup must not cost the whole tree (free_tree() does that on purpose).
    void free_node(node n) noexcept {
        if (n)
            tovik_free_tree_node(&ctx_, n.raw());
    }
    // Releases every tree node; the records stay.
    void free_tree() noexcept { tovik_free_tree_node(&ctx_, nullptr); }
    // Releases every node and record; the context can be parsed into again.
    void clear() noexcept { tovik_deinit(&ctx_); }

    tovik_ctx *raw() noexcept { return &ctx_; }
    const tovik_ctx *raw() const noexcept { return &ctx_; }

  private:
    // The C lookups only read but take a non-const context.
    tovik_ctx *reader() const noexcept { return const_cast<tovik_ctx *>(&ctx_); }
    static tovik_list *sentinel(const tovik_list &list) noexcept {
        return const_cast<tovik_list *>(&list);
    }
    tovik_tree_node *find_child_raw(tovik_tree_node *parent, std::string_view name) const noexcept {
        return tovik_find_tree_node(reader(), parent, name.data(), name.size());
    }

    static void start_empty(tovik_ctx &ctx, tovik_alloc_fn alloc_fn, tovik_free_fn free_fn,
                            void *user) noexcept {
        if (tovik_init(&ctx, alloc_fn, free_fn, user) == 0)
            return;
        // tovik_init writes nothing without an allocator; such a context can
        // never hold anything, but its lists must still be well-formed.
        ctx = tovik_ctx{};
        ctx.free_fn = free_fn;
        ctx.user = user;
        ctx.tree.next = ctx.tree.prev = &ctx.tree;
        ctx.records.next = ctx.records.prev = &ctx.records;
    }

    // The sentinel `to` replaces `from` in the list that `from` closed.
    static void adopt_list(tovik_list &to, tovik_list &from) noexcept {
        if (from.next == &from) {
            to.next = to.prev = &to;
            return;
        }
        to = from;
        to.next->prev = &to;
        to.prev->next = &to;
    }

    void take(context &other) noexcept {
        tovik_ctx &from = other.ctx_;
        ctx_ = from;
        adopt_list(ctx_.tree, from.tree);
        adopt_list(ctx_.records, from.records);
        if (from.mark == &from.records)
            ctx_.mark = &ctx_.records;
        start_empty(from, from.alloc_fn, from.free_fn, from.user);
    }

    static void *heap_alloc(void *, std::size_t size) noexcept { return std::malloc(size); }
    static void heap_free(void *, void *block) noexcept { std::free(block); }

    static constexpr std::size_t prefix = alignof(std::max_align_t);
    static_assert(prefix >= sizeof(std::size_t), "the size prefix must hold a size");

    static void *resource_alloc(void *user, std::size_t size) noexcept {
        if (size > SIZE_MAX - prefix)
            return nullptr;
        void *base =
            allocate_or_null(static_cast<std::pmr::memory_resource *>(user), size + prefix);
        if (!base)
            return nullptr;
        std::memcpy(base, &size, sizeof size);
        return static_cast<char *>(base) + prefix;
    }
    static void resource_free(void *user, void *block) noexcept {
        char *base = static_cast<char *>(block) - prefix;
        std::size_t size;
        std::memcpy(&size, base, sizeof size);
        static_cast<std::pmr::memory_resource *>(user)->deallocate(base, size + prefix, prefix);
    }
    static void *allocate_or_null(std::pmr::memory_resource *resource, std::size_t bytes) noexcept {
#if defined(__cpp_exceptions)
        try {
            return resource->allocate(bytes, prefix);
        } catch (...) {
            return nullptr; // must not unwind through the C library
        }
#else
        return resource->allocate(bytes, prefix);
#endif
    }

    tovik_ctx ctx_;
};

// Constant-time lookups over a parsed context, built once in one walk of
// its records and its tree. Answers exactly what context::find_record and
// context::find answer (first match wins, full-length names, empty path
// segments skipped), in time independent of the number of records and
// siblings: a path costs one hash probe per segment.
//
// Unlike the rest of this header it allocates, through std::pmr hash maps
// on `resource` (the default resource when null), and without exceptions an
// exhausted resource ends the program. It reads the context and never
// changes it. It points at records and nodes, not at the context: it stays
// right across a move of the context, and must be rebuilt after any change
// to its content (parse, add, free, clear).
class index {
  public:
    explicit index(const context &ctx, std::pmr::memory_resource *resource = nullptr)
        : records_(resource ? resource : std::pmr::get_default_resource()),
          children_(resource ? resource : std::pmr::get_default_resource()) {
        for (record r : ctx.records())
            records_.emplace(r.name(), r.raw());
        add_tree(ctx);
    }

    record find_record(std::string_view name) const noexcept {
        auto it = records_.find(name);
        return it == records_.end() ? record() : record(it->second);
    }

    node find(node from, std::string_view dotted_path) const noexcept {
        return node(detail::walk_path(from.raw(), dotted_path,
                                      [this](tovik_tree_node *at, std::string_view segment) {
                                          auto it = children_.find(child_key{at, segment});
                                          return it == children_.end() ? nullptr : it->second;
                                      }));
    }
    node find(std::string_view dotted_path) const noexcept { return find({}, dotted_path); }

  private:
    struct child_key {
        const tovik_tree_node *parent;
        std::string_view name;
        bool operator==(const child_key &other) const noexcept {
            return parent == other.parent && name == other.name;
        }
    };
    struct child_hash {
        // Spreads the parent's address, whose low bits are alignment zeros.
        static constexpr std::size_t golden = static_cast<std::size_t>(0x9e3779b97f4a7c15ull);
        std::size_t operator()(const child_key &key) const noexcept {
            std::size_t h = std::hash<std::string_view>()(key.name);
            return h ^ (std::hash<const void *>()(key.parent) * golden + (h << 6) + (h >> 2));
        }
    };

    // Every node goes in, keyed by its parent, so lookups from any node
    // agree too; of same-named siblings the first one keeps the key. The
    // walk is pre-order and needs no stack (trees may be very deep): down to
    // the first child, else on to the next sibling, climbing at list ends.
    void add_tree(const context &ctx) {
        tovik_list *roots_end = const_cast<tovik_list *>(&ctx.raw()->tree);
        tovik_tree_node *parent = nullptr;
        tovik_list *at = roots_end->next;
        for (;;) {
            if (at == (parent ? &parent->children : roots_end)) {
                if (!parent)
                    return;
                at = parent->link.next;
                parent = parent->parent;
                continue;
            }
            tovik_tree_node *n = detail::holder_of<tovik_tree_node>(at);
            children_.emplace(child_key{parent, node(n).name()}, n);
            if (n->children.next != &n->children) {
                parent = n;
                at = n->children.next;
            } else {
                at = at->next;
            }
        }
    }

    std::pmr::unordered_map<std::string_view, tovik_kv *> records_;
    std::pmr::unordered_map<child_key, tovik_tree_node *, child_hash> children_;
};

} // namespace tovik

#if defined(TOVIK_HPP_RANGES)
// The ranges are views: cheap to copy, and their iterators outlive them.
namespace std::ranges {
template <class View> inline constexpr bool enable_view<tovik::detail::list_range<View>> = true;
template <class View>
inline constexpr bool enable_borrowed_range<tovik::detail::list_range<View>> = true;
} // namespace std::ranges
#endif

#endif // TOVIK_HPP
