// The daduzozi INI parser: a byte scanner that appends key/value records to
// the context's record list, and a builder that files each new record into
// the tree of named nodes by splitting its name at dots.
//
// Everything works on plain records with intrusive circular lists; memory
// comes only from the caller's callbacks, one block per record or node.

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#pragma GCC visibility push(default)
#include "tovik.h"
#pragma GCC visibility pop

namespace {

// ---------------------------------------------------------------------------
// Lists

void list_init(tovik_list *sentinel) { sentinel->next = sentinel->prev = sentinel; }

bool list_empty(const tovik_list *sentinel) { return sentinel->next == sentinel; }

void list_append(tovik_list *sentinel, tovik_list *link) {
    link->prev = sentinel->prev;
    link->next = sentinel;
    sentinel->prev->next = link;
    sentinel->prev = link;
}

void list_unlink(tovik_list *link) {
    link->prev->next = link->next;
    link->next->prev = link->prev;
}

// Records and nodes begin with their link, so a link is its holder's address.
tovik_kv *as_record(tovik_list *link) { return reinterpret_cast<tovik_kv *>(link); }
tovik_tree_node *as_node(tovik_list *link) { return reinterpret_cast<tovik_tree_node *>(link); }

tovik_list *children_of(tovik_ctx *ctx, tovik_tree_node *parent) {
    return parent ? &parent->children : &ctx->tree;
}

// ---------------------------------------------------------------------------
// Blocks: fixed fields, then each text with its NUL, padded to 4 bytes.

size_t text_area(size_t len) { return (len + 1 + 3) & ~size_t(3); }

// Adds the area of a text of `len` bytes to the block size `size`; false when
// the sum would not fit in size_t, so that no wrapped size is ever requested.
bool add_text_area(size_t &size, size_t len) {
    constexpr size_t limit = SIZE_MAX - 4;
    if (len > limit || size > limit - len)
        return false;
    size += text_area(len);
    return true;
}

void *alloc_block(tovik_ctx *ctx, size_t size) { return ctx->alloc_fn(ctx->user, size); }

// ---------------------------------------------------------------------------
// Byte classes

enum ByteClass : uint8_t {
    LINE_END = 1 << 0,    // LF, CR
    BLANK = 1 << 1,       // HT, LF, VT, FF, CR, space
    VALUE_BLANK = 1 << 2, // the blanks other than line ends
    NAME_END = 1 << 3,    // ends a key: blanks, quotes, "=", "[", "]"
    HEADER_END = 1 << 4,  // ends a section name: line ends, quotes, "=", "[", "]"
};

struct ByteClassTable {
    uint8_t of[256];
};

constexpr void add_class(ByteClassTable &table, const char *bytes, uint8_t classes) {
    for (; *bytes; ++bytes)
        table.of[static_cast<unsigned char>(*bytes)] |= classes;
}

constexpr ByteClassTable make_byte_classes() {
    ByteClassTable table{};
    add_class(table, "\n\r", LINE_END | BLANK | NAME_END | HEADER_END);
    add_class(table, "\t\v\f ", BLANK | VALUE_BLANK | NAME_END);
    add_class(table, "\"'=[]", NAME_END | HEADER_END);
    return table;
}

constexpr ByteClassTable byte_classes = make_byte_classes();

bool is(unsigned char byte, uint8_t classes) { return (byte_classes.of[byte] & classes) != 0; }

// ---------------------------------------------------------------------------
// Scanner cursor. Every move keeps `cursor` and `remaining` in step; a move
// that uses up the buffer returns false and the pass ends with `state` as it is.

unsigned char current(const tovik_ctx *ctx) { return static_cast<unsigned char>(*ctx->cursor); }

bool advance_by(tovik_ctx *ctx, size_t count) {
    ctx->cursor += count;
    ctx->remaining -= count;
    return ctx->remaining != 0;
}

bool advance(tovik_ctx *ctx) { return advance_by(ctx, 1); }

#if defined(__SSE2__)
// The byte classes sixteen lanes at a time: each lane of the result is all
// ones where the byte is of the class. They must agree with the table above.
__m128i lanes_equal(__m128i bytes, char byte) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(byte)); }

__m128i line_end_lanes(__m128i bytes) {
    return _mm_or_si128(lanes_equal(bytes, '\n'), lanes_equal(bytes, '\r'));
}

// HT to CR are 0x09-0x0D: one unsigned comparison of byte - 0x09 with 4.
__m128i blank_lanes(__m128i bytes) {
    __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8(0x09));
    __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(4)), offset);
    return _mm_or_si128(control, lanes_equal(bytes, ' '));
}

__m128i punctuation_lanes(__m128i bytes) {
    __m128i quotes = _mm_or_si128(lanes_equal(bytes, '"'), lanes_equal(bytes, '\''));
    __m128i brackets = _mm_or_si128(lanes_equal(bytes, '['), lanes_equal(bytes, ']'));
    return _mm_or_si128(_mm_or_si128(quotes, brackets), lanes_equal(bytes, '='));
}

template <uint8_t classes> __m128i class_lanes(__m128i bytes) {
    static_assert(classes == LINE_END || classes == BLANK || classes == VALUE_BLANK ||
                      classes == NAME_END || classes == HEADER_END,
                  "a class without a lane test");
    if constexpr (classes == LINE_END)
        return line_end_lanes(bytes);
    else if constexpr (classes == BLANK)
        return blank_lanes(bytes);
    else if constexpr (classes == VALUE_BLANK)
        return _mm_andnot_si128(line_end_lanes(bytes), blank_lanes(bytes));
    else if constexpr (classes == NAME_END)
        return _mm_or_si128(blank_lanes(bytes), punctuation_lanes(bytes));
    else
        return _mm_or_si128(line_end_lanes(bytes), punctuation_lanes(bytes));
}

// Skips whole blocks of sixteen bytes while a full block is left, so nothing
// at or past the end of the buffer is ever loaded.
template <uint8_t classes, bool inside>
const unsigned char *skip_blocks(const unsigned char *p, const unsigned char *end) {
    while (end - p >= 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        unsigned stops = static_cast<unsigned>(_mm_movemask_epi8(class_lanes<classes>(bytes)));
        if (inside)
            stops = ~stops & 0xFFFFu;
        if (stops != 0)
            return p + __builtin_ctz(stops);
        p += 16;
    }
    return p;
}
#else
template <uint8_t, bool>
const unsigned char *skip_blocks(const unsigned char *p, const unsigned char *) {
    return p;
}
#endif

// Moves to the first byte that is (or, with `inside` set, is not) of one of
// `classes`. Runs are mostly short, so the first byte is tried on its own.
template <uint8_t classes, bool inside> bool skip_run(tovik_ctx *ctx) {
    const unsigned char *start = reinterpret_cast<const unsigned char *>(ctx->cursor);
    const unsigned char *end = start + ctx->remaining;
    const unsigned char *p = start;
    if (is(*p, classes) == inside)
        p = skip_blocks<classes, inside>(p + 1, end);
    while (p != end && is(*p, classes) == inside)
        ++p;
    return advance_by(ctx, static_cast<size_t>(p - start));
}

template <uint8_t classes> bool skip_to(tovik_ctx *ctx) { return skip_run<classes, false>(ctx); }
template <uint8_t classes> bool skip_over(tovik_ctx *ctx) { return skip_run<classes, true>(ctx); }

// The byte is most often right at the cursor or one blank away, where a call
// to memchr would cost more than looking.
bool skip_to_byte(tovik_ctx *ctx, char byte) {
    size_t near = ctx->remaining < 4 ? ctx->remaining : 4;
    for (size_t i = 0; i != near; ++i)
        if (ctx->cursor[i] == byte)
            return advance_by(ctx, i);
    const void *found = memchr(ctx->cursor + near, byte, ctx->remaining - near);
    size_t count = found ? static_cast<size_t>(static_cast<const char *>(found) - ctx->cursor)
                         : ctx->remaining;
    return advance_by(ctx, count);
}

size_t passed_since(const tovik_ctx *ctx, const char *start) {
    return static_cast<size_t>(ctx->cursor - start);
}

// ---------------------------------------------------------------------------
// Records

char *store_text(char *area, const char *text, size_t len) {
    memcpy(area, text, len);
    area[len] = '\0';
    return area;
}

// Appends the record for the key and value in hand; false when its block
// is refused (nothing is linked then).
bool emit_record(tovik_ctx *ctx) {
    // Section and key are disjoint parts of one buffer, so their sum fits.
    size_t name_len = ctx->section_len + ctx->token_len;
    size_t size = sizeof(tovik_kv);
    if (!add_text_area(size, name_len) || !add_text_area(size, ctx->value_len))
        return false;
    tovik_kv *kv = static_cast<tovik_kv *>(alloc_block(ctx, size));
    if (!kv)
        return false;

    char *name = reinterpret_cast<char *>(kv + 1);
    char *key = name;
    if (ctx->section_len != 0) {
        memcpy(name, ctx->section, ctx->section_len - 1);
        name[ctx->section_len - 1] = '.';
        key += ctx->section_len;
    }
    store_text(key, ctx->token, ctx->token_len);
    kv->name = name;
    kv->name_len = name_len;
    kv->value = store_text(name + text_area(name_len), ctx->value_start, ctx->value_len);
    kv->value_len = ctx->value_len;
    list_append(&ctx->records, &kv->link);
    return true;
}

// ---------------------------------------------------------------------------
// Scanner states. Each handler runs with at least one byte left and returns
// false when the pass must end: the buffer is used up or a record's block was
// refused.

enum State : int32_t {
    LINE_START,
    COMMENT,
    KEY,
    SEEK_EQUALS,
    VALUE_START,
    QUOTED_VALUE,
    BARE_VALUE,
    EMIT,
    SECTION_NAME,
    SECTION_END,
};

bool enter(tovik_ctx *ctx, State next) {
    ctx->state = next;
    return true;
}

bool on_line_start(tovik_ctx *ctx) {
    if (!skip_over<BLANK>(ctx))
        return false;
    switch (current(ctx)) {
    case ';':
    case '#':
        return enter(ctx, COMMENT);
    case '[':
        return enter(ctx, SECTION_NAME);
    default:
        return enter(ctx, KEY);
    }
}

bool on_comment(tovik_ctx *ctx) { return skip_to<LINE_END>(ctx) && enter(ctx, LINE_START); }

bool on_key(tovik_ctx *ctx) {
    ctx->token = ctx->cursor;
    bool more = skip_to<NAME_END>(ctx);
    ctx->token_len = passed_since(ctx, ctx->token);
    return more && enter(ctx, SEEK_EQUALS);
}

// The "=" may lie on a later line: everything up to it is passed over.
bool on_seek_equals(tovik_ctx *ctx) {
    if (!skip_to_byte(ctx, '='))
        return false;
    advance(ctx);
    return enter(ctx, VALUE_START);
}

bool begin_value(tovik_ctx *ctx, State next) {
    ctx->value_start = ctx->cursor;
    ctx->value_len = 0;
    return enter(ctx, next);
}

bool on_value_start(tovik_ctx *ctx) {
    if (!skip_over<VALUE_BLANK>(ctx))
        return false;
    if (is(current(ctx), LINE_END))
        return enter(ctx, LINE_START); // "k =" with nothing after it makes no record
    if (current(ctx) != '"')
        return begin_value(ctx, BARE_VALUE);
    advance(ctx);
    return begin_value(ctx, QUOTED_VALUE);
}

// Nothing is decoded: the value closes at the first quote preceded by an even
// number of backslashes counted from the start of the value.
bool on_quoted_value(tovik_ctx *ctx) {
    for (;;) {
        if (!skip_to_byte(ctx, '"'))
            return false;
        const char *quote = ctx->cursor;
        while (quote != ctx->value_start && quote[-1] == '\\')
            --quote;
        if (passed_since(ctx, quote) % 2 == 0)
            break;
        if (!advance(ctx))
            return false;
    }
    ctx->value_len = passed_since(ctx, ctx->value_start);
    return enter(ctx, EMIT);
}

// A bare value that runs to the end of the buffer ends there as though a blank
// followed it, so the last line of a file without a final newline is kept.
bool on_bare_value(tovik_ctx *ctx) {
    bool more = skip_to<BLANK>(ctx);
    ctx->value_len = passed_since(ctx, ctx->value_start);
    enter(ctx, EMIT);
    if (more)
        return true;
    emit_record(ctx); // the pass ends here whether or not the block is granted
    return false;
}

bool on_emit(tovik_ctx *ctx) {
    return emit_record(ctx) && skip_to<LINE_END>(ctx) && enter(ctx, LINE_START);
}

// Blanks after "[" and before the end of the name are not part of it; blanks
// inside it are.
bool on_section_name(tovik_ctx *ctx) {
    if (!advance(ctx) || !skip_over<VALUE_BLANK>(ctx))
        return false;
    ctx->token = ctx->cursor;
    bool more = skip_to<HEADER_END>(ctx);
    size_t len = passed_since(ctx, ctx->token);
    while (len != 0 && is(static_cast<unsigned char>(ctx->token[len - 1]), VALUE_BLANK))
        --len;
    ctx->token_len = len;
    return more && enter(ctx, SECTION_END);
}

// The header takes effect at once; the rest of it up to "]" (across lines)
// and then the rest of that line are passed over.
bool on_section_end(tovik_ctx *ctx) {
    ctx->section = ctx->token;
    ctx->section_len = ctx->token_len ? ctx->token_len + 1 : 0;
    return skip_to_byte(ctx, ']') && skip_to<LINE_END>(ctx) && enter(ctx, LINE_START);
}

using StateHandler = bool (*)(tovik_ctx *);

constexpr StateHandler state_handlers[] = {
    on_line_start,   // LINE_START
    on_comment,      // COMMENT
    on_key,          // KEY
    on_seek_equals,  // SEEK_EQUALS
    on_value_start,  // VALUE_START
    on_quoted_value, // QUOTED_VALUE
    on_bare_value,   // BARE_VALUE
    on_emit,         // EMIT
    on_section_name, // SECTION_NAME
    on_section_end,  // SECTION_END
};

void scan(tovik_ctx *ctx) {
    while (ctx->remaining != 0 && state_handlers[ctx->state](ctx)) {
    }
}

// ---------------------------------------------------------------------------
// Tree nodes

// A filled node that is not linked yet; `value` null makes a node without value.
tovik_tree_node *new_node(tovik_ctx *ctx, tovik_tree_node *parent, const char *name,
                          size_t name_len, const char *value, size_t value_len) {
    size_t size = sizeof(tovik_tree_node);
    if (!add_text_area(size, name_len) || (value && !add_text_area(size, value_len)))
        return nullptr;
    tovik_tree_node *node = static_cast<tovik_tree_node *>(alloc_block(ctx, size));
    if (!node)
        return nullptr;
    char *area = reinterpret_cast<char *>(node + 1);
    node->parent = parent;
    list_init(&node->children);
    node->name = store_text(area, name, name_len);
    node->name_len = name_len;
    node->value = value ? store_text(area + text_area(name_len), value, value_len) : nullptr;
    node->value_len = value ? value_len : 0;
    return node;
}

tovik_tree_node *append_node(tovik_ctx *ctx, tovik_tree_node *node) {
    if (node)
        list_append(children_of(ctx, node->parent), &node->link);
    return node;
}

uint64_t word_at(const char *p) {
    uint64_t word;
    memcpy(&word, p, sizeof word);
    return word;
}

// The length is compared first, then the end of the name, where siblings of
// one length usually differ ("option_14907", "option_24095"): a long name's
// last eight bytes in one load, a short name byte by byte from its end.
bool has_name(const tovik_tree_node *node, const char *name, size_t name_len) {
    if (node->name_len != name_len)
        return false;
    const char *own = node->name;
    if (name_len >= sizeof(uint64_t)) {
        size_t head = name_len - sizeof(uint64_t);
        return word_at(own + head) == word_at(name + head) && memcmp(own, name, head) == 0;
    }
    for (size_t i = name_len; i != 0; --i)
        if (own[i - 1] != name[i - 1])
            return false;
    return true;
}

// Walks the sibling list from both ends at once: the two chains of loads do
// not depend on each other, so a long list costs half the memory round trips.
// The front walk returns the first match; a match seen from the back is only
// the answer once the front walk has passed every node before it.
tovik_tree_node *find_child(tovik_ctx *ctx, tovik_tree_node *parent, const char *name,
                            size_t name_len) {
    tovik_list *list = children_of(ctx, parent);
    tovik_list *front = list->next;
    tovik_list *back = list->prev;
    tovik_tree_node *found_from_back = nullptr;
    while (front != list) {
        if (has_name(as_node(front), name, name_len))
            return as_node(front);
        if (front == back)
            break;
        if (has_name(as_node(back), name, name_len))
            found_from_back = as_node(back);
        front = front->next;
        if (front == back)
            break;
        back = back->prev;
    }
    return found_from_back;
}

// Releases `top` with its subtree in post-order, always taking the current
// first child, without recursion so that depth costs no stack. Each node is
// unlinked before it is handed to free_fn.
void release_subtree(tovik_ctx *ctx, tovik_tree_node *top) {
    tovik_tree_node *node = top;
    for (;;) {
        while (!list_empty(&node->children))
            node = as_node(node->children.next);
        tovik_tree_node *up = node == top ? nullptr : node->parent;
        list_unlink(&node->link);
        ctx->free_fn(ctx->user, node);
        if (!up)
            return;
        node = up;
    }
}

void release_all_roots(tovik_ctx *ctx) {
    while (!list_empty(&ctx->tree))
        release_subtree(ctx, as_node(ctx->tree.next));
}

// ---------------------------------------------------------------------------
// Tree builder

struct Segment {
    const char *start;
    size_t len;
};

// Finds or creates the path node for one segment; null when its block is refused.
tovik_tree_node *descend(tovik_ctx *ctx, tovik_tree_node *parent, Segment segment) {
    tovik_tree_node *node = find_child(ctx, parent, segment.start, segment.len);
    return node ? node
                : append_node(ctx, new_node(ctx, parent, segment.start, segment.len, nullptr, 0));
}

// Without free_fn a replaced subtree is only unlinked: its blocks stay with
// the caller's allocator.
void drop_subtree(tovik_ctx *ctx, tovik_tree_node *top) {
    if (ctx->free_fn)
        release_subtree(ctx, top);
    else
        list_unlink(&top->link);
}

// The first value filed for a name wins unless the parse replaces. A
// replacing leaf's block is obtained before the old node goes, so a refusal
// leaves the old node where it was.
bool file_leaf(tovik_ctx *ctx, tovik_tree_node *parent, const tovik_kv *kv, Segment leaf) {
    tovik_tree_node *existing = find_child(ctx, parent, leaf.start, leaf.len);
    if (existing && !(ctx->flags & TOVIK_FLAG_REPLACE))
        return true;
    tovik_tree_node *node = new_node(ctx, parent, leaf.start, leaf.len, kv->value, kv->value_len);
    if (!node)
        return false;
    if (existing)
        drop_subtree(ctx, existing);
    append_node(ctx, node);
    return true;
}

// The path of the record filed last: its name up to and including the last
// dot, and the node that path leads to. Within one parse call nodes are only
// appended, and a replacement releases only children of the node a record's
// path leads to, so every node on the remembered path stays the first match
// for its segment. The next record therefore starts from the longest path
// prefix the two names share instead of from the top: consecutive keys of one
// section look up nothing but their leaf.
struct FiledPath {
    const char *name;
    size_t len;
    tovik_tree_node *node;
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

// Non-empty segments among the dot-terminated bytes from `start` to `end`.
size_t segments_between(const char *start, const char *end) {
    size_t count = 0;
    for (const char *dot; start != end; start = dot + 1) {
        dot = static_cast<const char *>(memchr(start, '.', static_cast<size_t>(end - start)));
        count += dot != start;
    }
    return count;
}

tovik_tree_node *ancestor(tovik_tree_node *node, size_t levels) {
    for (; levels != 0; --levels)
        node = node->parent;
    return node;
}

// Files one record: every dotted segment but the last names a path node (empty
// segments are skipped), the last one the leaf. False when a block is refused.
bool file_record(tovik_ctx *ctx, const tovik_kv *kv, FiledPath &last) {
    if (!kv->name || kv->name_len == 0)
        return true;
    const char *name = kv->name;
    size_t path_len = path_len_of(name, kv->name_len);
    size_t shared = shared_path_len(name, path_len, last.name, last.len);
    tovik_tree_node *node =
        ancestor(last.node, segments_between(last.name + shared, last.name + last.len));
    const char *end = name + path_len;
    for (const char *start = name + shared, *dot; start != end; start = dot + 1) {
        dot = static_cast<const char *>(memchr(start, '.', static_cast<size_t>(end - start)));
        if (dot == start)
            continue;
        node = descend(ctx, node, Segment{start, static_cast<size_t>(dot - start)});
        if (!node)
            return false;
    }
    last = FiledPath{name, path_len, node};
    if (path_len == kv->name_len)
        return true;
    return file_leaf(ctx, node, kv, Segment{end, kv->name_len - path_len});
}

void build_tree(tovik_ctx *ctx) {
    FiledPath last{"", 0, ctx->parent};
    for (tovik_list *link = ctx->mark->next; link != &ctx->records; link = link->next)
        if (!file_record(ctx, as_record(link), last))
            return;
}

// Next element after `prev` in `list`, the first when prev is null.
tovik_list *next_in(tovik_list *list, tovik_list *prev) {
    tovik_list *next = prev ? prev->next : list->next;
    return next == list ? nullptr : next;
}

} // namespace

// ---------------------------------------------------------------------------
// Exported interface

extern "C" {

int tovik_init(tovik_ctx *ctx, tovik_alloc_fn alloc_fn, tovik_free_fn free_fn, void *user) {
    if (!ctx || !alloc_fn)
        return 1;
    *ctx = tovik_ctx{};
    ctx->user = user;
    ctx->alloc_fn = alloc_fn;
    ctx->free_fn = free_fn;
    list_init(&ctx->tree);
    list_init(&ctx->records);
    return 0;
}

int tovik_deinit(tovik_ctx *ctx) {
    if (!ctx || !ctx->free_fn)
        return 2;
    release_all_roots(ctx);
    while (!list_empty(&ctx->records)) {
        tovik_list *first = ctx->records.next;
        list_unlink(first);
        ctx->free_fn(ctx->user, first);
    }
    return 0;
}

int tovik_parse_data_ex(tovik_ctx *ctx, tovik_tree_node *parent, const char *data, size_t len,
                        uint32_t flags) {
    if (!ctx || !data || !ctx->alloc_fn)
        return 1;
    ctx->cursor = data;
    ctx->remaining = len;
    ctx->section = nullptr;
    ctx->section_len = 0;
    ctx->state = LINE_START;
    ctx->parent = parent;
    ctx->mark = ctx->records.prev;
    ctx->flags = flags;
    scan(ctx);
    build_tree(ctx);
    return 0;
}

int tovik_parse_data(tovik_ctx *ctx, tovik_tree_node *parent, const char *data, size_t len) {
    return tovik_parse_data_ex(ctx, parent, data, len, 0);
}

tovik_kv *tovik_find_key(tovik_ctx *ctx, const char *name) {
    if (!ctx || !name)
        return nullptr;
    for (tovik_list *link = ctx->records.next; link != &ctx->records; link = link->next)
        if (strcmp(as_record(link)->name, name) == 0)
            return as_record(link);
    return nullptr;
}

tovik_kv *tovik_kv_iter(tovik_ctx *ctx, tovik_kv *prev) {
    if (!ctx)
        return nullptr;
    tovik_list *next = next_in(&ctx->records, prev ? &prev->link : nullptr);
    return next ? as_record(next) : nullptr;
}

tovik_tree_node *tovik_add_subnode(tovik_ctx *ctx, tovik_tree_node *parent, const char *name,
                                   size_t name_len) {
    if (!ctx || !ctx->alloc_fn || !name)
        return nullptr;
    return append_node(ctx, new_node(ctx, parent, name, name_len, nullptr, 0));
}

tovik_tree_node *tovik_add_valuenode(tovik_ctx *ctx, tovik_tree_node *parent, const char *name,
                                     size_t name_len, const char *value, size_t value_len) {
    if (!ctx || !ctx->alloc_fn || !name || !value)
        return nullptr;
    return append_node(ctx, new_node(ctx, parent, name, name_len, value, value_len));
}

tovik_tree_node *tovik_find_tree_node(tovik_ctx *ctx, tovik_tree_node *parent, const char *name,
                                      size_t name_len) {
    if (!ctx || !name)
        return nullptr;
    return find_child(ctx, parent, name, name_len);
}

tovik_tree_node *tovik_kv_tree_iter(tovik_ctx *ctx, tovik_tree_node *parent,
                                    tovik_tree_node *prev) {
    if (!ctx || (prev && prev->parent != parent))
        return nullptr;
    tovik_list *next = next_in(children_of(ctx, parent), prev ? &prev->link : nullptr);
    return next ? as_node(next) : nullptr;
}

void tovik_free_tree_node(tovik_ctx *ctx, tovik_tree_node *node) {
    if (!ctx || !ctx->free_fn)
        return;
    if (node)
        release_subtree(ctx, node);
    else
        release_all_roots(ctx);
}

} // extern "C"
