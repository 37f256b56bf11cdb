// Lists and blocks: the intrusive circular lists that hold every record and
// node, and the one-block layout (fixed fields, then each text with its NUL,
// padded to 4 bytes). Part of the single library unit; included by tovik.cpp.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "tovik.h"

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

// Next element after `prev` in `list`, the first when prev is null.
tovik_list *next_in(tovik_list *list, tovik_list *prev) {
    tovik_list *next = prev ? prev->next : list->next;
    return next == list ? nullptr : next;
}

// Records and nodes begin with their link, so a link is its holder's address.
tovik_kv *as_record(tovik_list *link) { return reinterpret_cast<tovik_kv *>(link); }
tovik_tree_node *as_node(tovik_list *link) { return reinterpret_cast<tovik_tree_node *>(link); }

tovik_list *children_of(tovik_ctx *ctx, tovik_tree_node *parent) {
    return parent ? &parent->children : &ctx->tree;
}

// Unlinks and releases the first element of `list` until it is empty.
void release_list(tovik_ctx *ctx, tovik_list *list) {
    while (!list_empty(list)) {
        tovik_list *first = list->next;
        list_unlink(first);
        ctx->free_fn(ctx->user, first);
    }
}

// ---------------------------------------------------------------------------
// Blocks

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

char *store_text(char *area, const char *text, size_t len) {
    memcpy(area, text, len);
    area[len] = '\0';
    return area;
}

// A node's name always starts right after its fixed fields, and its value,
// when it has one, right after the name's area. The filing index relies on
// this to lend both pointer fields out during a parse call.
char *name_text(const tovik_tree_node *node) {
    return reinterpret_cast<char *>(const_cast<tovik_tree_node *>(node) + 1);
}

char *value_text(const tovik_tree_node *node) {
    return name_text(node) + text_area(node->name_len);
}

uint64_t word_at(const char *p) {
    uint64_t word;
    memcpy(&word, p, sizeof word);
    return word;
}

} // namespace
