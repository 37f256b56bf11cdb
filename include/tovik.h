/*
 * tovik.h - the daduzozi INI parser.
 *
 * Parses INI text held in memory into two views at once:
 *   - a flat, ordered list of key/value records whose names carry their
 *     section as a dotted prefix ("[net]" + "port = 80" gives "net.port");
 *   - a tree of named nodes made by splitting those names at every dot.
 *
 * Memory comes only from the caller's callbacks: every record and every node
 * is one block from alloc_fn, with its texts inside the block, and goes back
 * through free_fn. The library keeps no global state, reads no files, prints
 * nothing and starts no threads; one context is used by one thread at a time.
 *
 * Every stored name and value is a byte string with an explicit length that
 * is also NUL-terminated inside its block. Any byte may occur, NUL included.
 */
#ifndef TOVIK_H
#define TOVIK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Link of a circular doubly linked list. A list is a sentinel link; an empty
 * list's sentinel points to itself both ways. Records and nodes start with
 * their link, so a link pointer is also a pointer to its record or node. */
typedef struct tovik_list {
    struct tovik_list *next;
    struct tovik_list *prev;
} tovik_list;

/* Returns a block of `size` bytes aligned for pointers, or NULL to refuse. */
typedef void *(*tovik_alloc_fn)(void *user, size_t size);

/* Gives back a block that alloc_fn of the same context returned. */
typedef void (*tovik_free_fn)(void *user, void *block);

typedef struct tovik_tree_node tovik_tree_node;

/* The parser context. The caller owns its storage (any storage class); the
 * context owns every record and node through its two lists. Fields from
 * `cursor` to `section_len` are working fields of the parse call in progress:
 * the pointers among them point into the caller's buffer and mean nothing
 * once that call has returned. */
typedef struct tovik_ctx {
    int32_t state;           /* scanner state 0-9 where the last parse stopped */
    void *user;              /* passed unchanged to both callbacks */
    tovik_alloc_fn alloc_fn; /* required */
    tovik_free_fn free_fn;   /* may be NULL; tovik_deinit then refuses */
    const char *cursor;      /* next byte to examine */
    size_t remaining;        /* bytes from cursor to the end of the buffer */
    tovik_tree_node *parent; /* node the current parse files under, or NULL */
    uint32_t flags;          /* flags of the current parse */
    tovik_list *mark;        /* last record before the current parse began */
    uint32_t reserved;       /* zeroed by tovik_init, otherwise untouched */
    const char *token;       /* key or section name being scanned */
    size_t token_len;
    const char *value_start; /* value being scanned */
    size_t value_len;
    const char *section; /* current section name */
    size_t section_len;  /* its length plus one for the dot, 0 for none */
    tovik_list tree;     /* sentinel of the root nodes */
    tovik_list records;  /* sentinel of the records */
} tovik_ctx;

/* One key/value line. `name` is the full name: the current section, a dot
 * and the key, or the key alone outside any section. `value` is never NULL.
 * The texts live in the same block, right after this struct. */
typedef struct tovik_kv {
    tovik_list link;
    char *name;
    size_t name_len;
    char *value;
    size_t value_len;
} tovik_kv;

/* A tree node, with or without a value; it may have children either way.
 * `value` is NULL exactly for a node without value. `parent` is NULL for a
 * root node. The texts live in the same block, right after this struct. */
struct tovik_tree_node {
    tovik_list link;
    tovik_tree_node *parent;
    tovik_list children;
    char *name;
    size_t name_len;
    char *value;
    size_t value_len;
};

/* Parse flag: a name that is already in the tree is replaced by the later
 * value (with its whole subtree) instead of keeping the first one. */
#define TOVIK_FLAG_REPLACE 1u

/* Prepares `ctx` with empty lists and the given callbacks. Allocates nothing
 * and releases nothing: a context that still held content forgets it.
 * Returns 0, or 1 (writing nothing) when ctx or alloc_fn is NULL. */
int tovik_init(tovik_ctx *ctx, tovik_alloc_fn alloc_fn, tovik_free_fn free_fn, void *user);

/* Releases every tree node (each root's descendants first, then the root, in
 * list order) and then every record, through free_fn. The callbacks stay, so
 * the context can be parsed into again. Returns 0, or 2 (releasing nothing)
 * when ctx or its free_fn is NULL. */
int tovik_deinit(tovik_ctx *ctx);

/* tovik_parse_data_ex with flags 0. */
int tovik_parse_data(tovik_ctx *ctx, tovik_tree_node *parent, const char *data, size_t len);

/* Parses `len` bytes at `data` (no NUL needed; nothing past the end is read,
 * and nothing of the buffer is kept after the call). Appends one record per
 * complete key/value line, then files this call's records into the tree below
 * `parent` (NULL: the root). Earlier content stays and takes part in name
 * matching. A refused allocation stops the call where it is, keeping what is
 * linked. Returns 0, or 1 (changing nothing) when ctx, data or the context's
 * alloc_fn is NULL. */
int tovik_parse_data_ex(tovik_ctx *ctx, tovik_tree_node *parent, const char *data, size_t len,
                        uint32_t flags);

/* Returns the first record whose full name equals the NUL-terminated `name`
 * (compared up to the first NUL, case-sensitive), or NULL when none matches
 * or ctx or name is NULL. */
tovik_kv *tovik_find_key(tovik_ctx *ctx, const char *name);

/* Returns the record after `prev`, the first record when prev is NULL, or
 * NULL at the end, on an empty list or for a NULL ctx. */
tovik_kv *tovik_kv_iter(tovik_ctx *ctx, tovik_kv *prev);

/* Appends a node without value named by `name_len` bytes of `name` at the end
 * of parent's children (the root list when parent is NULL). No lookup is made.
 * Returns the node, or NULL when ctx, its alloc_fn or name is NULL or the
 * block is refused. */
tovik_tree_node *tovik_add_subnode(tovik_ctx *ctx, tovik_tree_node *parent, const char *name,
                                   size_t name_len);

/* Like tovik_add_subnode, with a copy of `value_len` bytes of `value` as the
 * node's value (an empty value is an empty string, not NULL). Returns NULL
 * also when value is NULL. */
tovik_tree_node *tovik_add_valuenode(tovik_ctx *ctx, tovik_tree_node *parent, const char *name,
                                     size_t name_len, const char *value, size_t value_len);

/* Returns the first child of parent (a root node when parent is NULL) whose
 * name is exactly those `name_len` bytes, or NULL. One level only: dots in
 * the name are not split. NULL also for a NULL ctx or name. */
tovik_tree_node *tovik_find_tree_node(tovik_ctx *ctx, tovik_tree_node *parent, const char *name,
                                      size_t name_len);

/* Returns the child of parent (a root node when parent is NULL) after `prev`,
 * the first one when prev is NULL, or NULL at the end, on an empty list, for
 * a NULL ctx, or when prev is not a child of parent. */
tovik_tree_node *tovik_kv_tree_iter(tovik_ctx *ctx, tovik_tree_node *parent, tovik_tree_node *prev);

/* Releases `node` with its whole subtree (descendants depth-first, children
 * before parents), unlinking each node before handing it to free_fn. A NULL
 * node releases every root node. Records are not touched. Does nothing when
 * ctx or its free_fn is NULL. */
void tovik_free_tree_node(tovik_ctx *ctx, tovik_tree_node *node);

#ifdef __cplusplus
}
#endif

#endif /* TOVIK_H */
