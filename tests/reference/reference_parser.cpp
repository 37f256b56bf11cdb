// The literal parse call. Every rule is written out the long way on purpose:
// byte tests are comparisons, each step moves one byte, and each record's
// path is looked up from the top of the tree.
#include "reference_parser.hpp"

#include <string.h>

namespace tovik_reference {
namespace {

// ---------------------------------------------------------------------------
// Lists and blocks

void append(tovik_list *sentinel, tovik_list *link) {
    link->next = sentinel;
    link->prev = sentinel->prev;
    sentinel->prev->next = link;
    sentinel->prev = link;
}

void unlink(tovik_list *link) {
    link->prev->next = link->next;
    link->next->prev = link->prev;
}

tovik_list *children(tovik_ctx *ctx, tovik_tree_node *node) {
    return node ? &node->children : &ctx->tree;
}

size_t rounded(size_t len) { return (len + 1 + 3) / 4 * 4; }

// A size that would wrap is refused like a failed allocation.
bool grow(size_t &size, size_t len) {
    if (len > SIZE_MAX - 4 || size > SIZE_MAX - 4 - len)
        return false;
    size += rounded(len);
    return true;
}

void copy_text(char *to, const char *from, size_t len) {
    if (len != 0)
        memcpy(to, from, len);
    to[len] = '\0';
}

// ---------------------------------------------------------------------------
// Byte classes

bool is_line_end(unsigned char c) { return c == 0x0A || c == 0x0D; }
bool is_blank(unsigned char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x20; }
bool is_value_blank(unsigned char c) { return is_blank(c) && !is_line_end(c); }
bool is_quote_or_bracket(unsigned char c) {
    return c == '"' || c == '\'' || c == '=' || c == '[' || c == ']';
}
bool is_name_terminator(unsigned char c) { return is_blank(c) || is_quote_or_bracket(c); }
// Blanks inside a section name belong to it.
bool is_header_terminator(unsigned char c) { return is_line_end(c) || is_quote_or_bracket(c); }

// ---------------------------------------------------------------------------
// Scanner

unsigned char at(const tovik_ctx *ctx) { return static_cast<unsigned char>(*ctx->cursor); }

// One byte on; false when that used up the buffer, ending the pass.
bool advance(tovik_ctx *ctx) {
    ++ctx->cursor;
    --ctx->remaining;
    return ctx->remaining != 0;
}

bool emit(tovik_ctx *ctx) {
    size_t name_len = ctx->token_len + ctx->section_len;
    size_t size = sizeof(tovik_kv);
    if (!grow(size, name_len) || !grow(size, ctx->value_len))
        return false;
    tovik_kv *kv = static_cast<tovik_kv *>(ctx->alloc_fn(ctx->user, size));
    if (!kv)
        return false;
    char *area = reinterpret_cast<char *>(kv) + sizeof(tovik_kv);
    kv->name = area;
    kv->value = area + rounded(name_len);
    size_t at_key = 0;
    if (ctx->section_len > 0) {
        memcpy(area, ctx->section, ctx->section_len - 1);
        area[ctx->section_len - 1] = '.';
        at_key = ctx->section_len;
    }
    copy_text(area + at_key, ctx->token, ctx->token_len);
    copy_text(kv->value, ctx->value_start, ctx->value_len);
    kv->name_len = name_len;
    kv->value_len = ctx->value_len;
    append(&ctx->records, &kv->link);
    return true;
}

bool line_start(tovik_ctx *ctx) {
    for (;;) {
        unsigned char c = at(ctx);
        if (c == ';' || c == '#') {
            ctx->state = 1;
            return true;
        }
        if (c == '[') {
            ctx->state = 8;
            return true;
        }
        if (!is_blank(c)) {
            ctx->state = 2;
            return true;
        }
        if (!advance(ctx))
            return false;
    }
}

bool comment(tovik_ctx *ctx) {
    while (!is_line_end(at(ctx)))
        if (!advance(ctx))
            return false;
    ctx->state = 0;
    return true;
}

bool key(tovik_ctx *ctx) {
    ctx->token = ctx->cursor;
    ctx->token_len = 0;
    while (!is_name_terminator(at(ctx)))
        if (!advance(ctx))
            return false;
    ctx->token_len = static_cast<size_t>(ctx->cursor - ctx->token);
    ctx->state = 3;
    return true;
}

bool seek_equals(tovik_ctx *ctx) {
    for (;;) {
        unsigned char c = at(ctx);
        ++ctx->cursor;
        --ctx->remaining;
        if (c == '=') {
            ctx->state = 4;
            return true;
        }
        if (ctx->remaining == 0)
            return false;
    }
}

bool value_start(tovik_ctx *ctx) {
    for (;;) {
        unsigned char c = at(ctx);
        if (is_line_end(c)) {
            ctx->state = 0;
            return true;
        }
        if (!is_value_blank(c))
            break;
        if (!advance(ctx))
            return false;
    }
    if (at(ctx) == '"') {
        ++ctx->cursor;
        --ctx->remaining;
        ctx->state = 5;
    } else {
        ctx->state = 6;
    }
    ctx->value_start = ctx->cursor;
    ctx->value_len = 0;
    return true;
}

bool quoted_value(tovik_ctx *ctx) {
    int parity = 0;
    for (;;) {
        unsigned char c = at(ctx);
        parity ^= 1;
        if (c != '\\') {
            if (parity == 1 && c == '"') {
                ctx->value_len = static_cast<size_t>(ctx->cursor - ctx->value_start);
                ctx->state = 7;
                return true;
            }
            parity = 0;
        }
        if (!advance(ctx))
            return false;
    }
}

// The last line of a buffer without a final line end still counts: its bare
// value ends at the end of the buffer and is emitted there.
bool bare_value(tovik_ctx *ctx) {
    while (!is_blank(at(ctx))) {
        if (!advance(ctx)) {
            ctx->value_len = static_cast<size_t>(ctx->cursor - ctx->value_start);
            ctx->state = 7;
            emit(ctx);
            return false;
        }
    }
    ctx->value_len = static_cast<size_t>(ctx->cursor - ctx->value_start);
    ctx->state = 7;
    return true;
}

bool emit_line(tovik_ctx *ctx) {
    if (!emit(ctx))
        return false;
    while (!is_line_end(at(ctx)))
        if (!advance(ctx))
            return false;
    ctx->state = 0;
    return true;
}

// Blanks after "[" and at the end of the name are trimmed; blanks inside stay.
bool section_name(tovik_ctx *ctx) {
    ++ctx->cursor;
    --ctx->remaining;
    if (ctx->remaining == 0)
        return false;
    while (is_value_blank(at(ctx)))
        if (!advance(ctx))
            return false;
    ctx->token = ctx->cursor;
    ctx->token_len = 0;
    while (!is_header_terminator(at(ctx)))
        if (!advance(ctx))
            return false;
    size_t len = static_cast<size_t>(ctx->cursor - ctx->token);
    while (len > 0 && is_value_blank(static_cast<unsigned char>(ctx->token[len - 1])))
        --len;
    ctx->token_len = len;
    ctx->state = 9;
    return true;
}

bool section_end(tovik_ctx *ctx) {
    ctx->section = ctx->token;
    ctx->section_len = ctx->token_len == 0 ? 0 : ctx->token_len + 1;
    while (at(ctx) != ']')
        if (!advance(ctx))
            return false;
    while (!is_line_end(at(ctx)))
        if (!advance(ctx))
            return false;
    ctx->state = 0;
    return true;
}

bool run_state(tovik_ctx *ctx) {
    switch (ctx->state) {
    case 0:
        return line_start(ctx);
    case 1:
        return comment(ctx);
    case 2:
        return key(ctx);
    case 3:
        return seek_equals(ctx);
    case 4:
        return value_start(ctx);
    case 5:
        return quoted_value(ctx);
    case 6:
        return bare_value(ctx);
    case 7:
        return emit_line(ctx);
    case 8:
        return section_name(ctx);
    default:
        return section_end(ctx);
    }
}

// ---------------------------------------------------------------------------
// Builder

tovik_tree_node *make_node(tovik_ctx *ctx, tovik_tree_node *parent, const char *name,
                           size_t name_len, const char *value, size_t value_len) {
    size_t size = sizeof(tovik_tree_node);
    if (!grow(size, name_len) || (value && !grow(size, value_len)))
        return nullptr;
    tovik_tree_node *node = static_cast<tovik_tree_node *>(ctx->alloc_fn(ctx->user, size));
    if (!node)
        return nullptr;
    char *area = reinterpret_cast<char *>(node) + sizeof(tovik_tree_node);
    node->parent = parent;
    node->children.next = node->children.prev = &node->children;
    node->name = area;
    node->name_len = name_len;
    copy_text(area, name, name_len);
    node->value = nullptr;
    node->value_len = 0;
    if (value) {
        node->value = area + rounded(name_len);
        node->value_len = value_len;
        copy_text(node->value, value, value_len);
    }
    return node;
}

tovik_tree_node *lookup(tovik_ctx *ctx, tovik_tree_node *parent, const char *name,
                        size_t name_len) {
    tovik_list *list = children(ctx, parent);
    for (tovik_list *link = list->next; link != list; link = link->next) {
        tovik_tree_node *node = reinterpret_cast<tovik_tree_node *>(link);
        if (node->name_len == name_len && memcmp(node->name, name, name_len) == 0)
            return node;
    }
    return nullptr;
}

// Children first, depth-first in sibling order, each unlinked before release.
void release(tovik_ctx *ctx, tovik_tree_node *top) {
    tovik_tree_node *node = top;
    for (;;) {
        while (node->children.next != &node->children)
            node = reinterpret_cast<tovik_tree_node *>(node->children.next);
        tovik_tree_node *up = node == top ? nullptr : node->parent;
        unlink(&node->link);
        ctx->free_fn(ctx->user, node);
        if (!up)
            return;
        node = up;
    }
}

// The new leaf is requested before the old node goes, so a refusal keeps the
// old one. Without free_fn the old subtree can only be unlinked.
bool file_leaf(tovik_ctx *ctx, tovik_tree_node *parent, const char *name, size_t name_len,
               const tovik_kv *kv) {
    tovik_tree_node *found = lookup(ctx, parent, name, name_len);
    if (found && (ctx->flags & TOVIK_FLAG_REPLACE) == 0)
        return true;
    tovik_tree_node *leaf = make_node(ctx, parent, name, name_len, kv->value, kv->value_len);
    if (!leaf)
        return false;
    if (found) {
        if (ctx->free_fn)
            release(ctx, found);
        else
            unlink(&found->link);
    }
    append(children(ctx, parent), &leaf->link);
    return true;
}

bool file(tovik_ctx *ctx, const tovik_kv *kv) {
    if (!kv->name || kv->name_len == 0)
        return true;
    tovik_tree_node *node = ctx->parent;
    size_t segment = 0;
    for (size_t i = 0; i < kv->name_len; ++i) {
        if (kv->name[i] != '.')
            continue;
        if (i > segment) {
            tovik_tree_node *next = lookup(ctx, node, kv->name + segment, i - segment);
            if (!next) {
                next = make_node(ctx, node, kv->name + segment, i - segment, nullptr, 0);
                if (!next)
                    return false;
                append(children(ctx, node), &next->link);
            }
            node = next;
        }
        segment = i + 1;
    }
    if (segment == kv->name_len)
        return true;
    return file_leaf(ctx, node, kv->name + segment, kv->name_len - segment, kv);
}

} // namespace

int parse_data_ex(tovik_ctx *ctx, tovik_tree_node *parent, const char *data, size_t len,
                  uint32_t flags) {
    if (!ctx || !data || !ctx->alloc_fn)
        return 1;
    ctx->cursor = data;
    ctx->remaining = len;
    ctx->section = nullptr;
    ctx->section_len = 0;
    ctx->state = 0;
    ctx->parent = parent;
    ctx->mark = ctx->records.prev;
    ctx->flags = flags;
    while (ctx->remaining != 0 && run_state(ctx)) {
    }
    // The mark is the last record before this call, or the sentinel itself.
    for (tovik_list *link = ctx->mark->next; link != &ctx->records; link = link->next)
        if (!file(ctx, reinterpret_cast<tovik_kv *>(link)))
            break;
    return 0;
}

} // namespace tovik_reference
