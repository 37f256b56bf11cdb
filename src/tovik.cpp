// The daduzozi INI parser: a byte scanner that appends key/value records to
// the context's record list, and a builder that files each new record into
// the tree of named nodes by splitting its name at dots.
//
// Everything works on plain records with intrusive circular lists; memory
// comes only from the caller's callbacks, one block per record or node. The
// library is this one unit; its layers, each read top-down, are
//   blocks.hpp   lists and the one-block layout of records and nodes
//   scanner.hpp  byte classes and the scanning pass
//   tree.hpp     node creation, sibling walks and subtree release
//   filing.hpp   the filing pass with its per-call index
// and this file holds the exported functions.

#pragma GCC visibility push(default)
#include "tovik.h"
#pragma GCC visibility pop

#include "filing.hpp"
#include "scanner.hpp"

namespace {

// Appends a caller's node; `value` null makes a node without value.
tovik_tree_node *add_node(tovik_ctx *ctx, tovik_tree_node *parent, const char *name,
                          size_t name_len, const char *value, size_t value_len) {
    tovik_tree_node *node = new_node(ctx, parent, name, name_len, value, value_len);
    if (node)
        list_append(children_of(ctx, parent), &node->link);
    return node;
}

} // namespace

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
    release_list(ctx, &ctx->records);
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
    Scanner(ctx).run();
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
    return add_node(ctx, parent, name, name_len, nullptr, 0);
}

tovik_tree_node *tovik_add_valuenode(tovik_ctx *ctx, tovik_tree_node *parent, const char *name,
                                     size_t name_len, const char *value, size_t value_len) {
    if (!ctx || !ctx->alloc_fn || !name || !value)
        return nullptr;
    return add_node(ctx, parent, name, name_len, value, value_len);
}

// A plain walk: the filing index exists only inside a parse call.
tovik_tree_node *tovik_find_tree_node(tovik_ctx *ctx, tovik_tree_node *parent, const char *name,
                                      size_t name_len) {
    if (!ctx || !name)
        return nullptr;
    return walk_from_both_ends(children_of(ctx, parent), name, name_len).found;
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
