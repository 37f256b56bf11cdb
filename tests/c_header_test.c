/* The public header used from C99: every type, the flag and all eleven
 * functions, with a few results checked. Built with every warning an error. */
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tovik.h"

static int failures;

static void check(int ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "c_header_test: %s\n", what);
        ++failures;
    }
}

/* Counts live blocks and remembers the size of the first request. */
typedef struct heap {
    int live;
    size_t first_size;
} heap;

static void *heap_alloc(void *user, size_t size) {
    heap *h = (heap *)user;
    if (h->first_size == 0)
        h->first_size = size;
    ++h->live;
    return malloc(size);
}

static void heap_free(void *user, void *block) {
    --((heap *)user)->live;
    free(block);
}

int main(void) {
    static const char text[] = "[net]\nport = 80\nport = 81\n";
    heap h = {0, 0};
    tovik_ctx ctx;
    tovik_alloc_fn alloc_fn = heap_alloc;
    tovik_free_fn free_fn = heap_free;
    tovik_kv *kv;
    tovik_tree_node *net, *port, *extra;
    tovik_list *sentinel;

    check(TOVIK_FLAG_REPLACE == 1u, "TOVIK_FLAG_REPLACE is 1");
    check(offsetof(tovik_kv, link) == 0 && offsetof(tovik_tree_node, link) == 0,
          "records and nodes start with their link");

    check(tovik_init(&ctx, alloc_fn, free_fn, &h) == 0, "tovik_init");
    check(ctx.state == 0 && ctx.reserved == 0 && ctx.user == &h && ctx.records.next == &ctx.records,
          "fresh context");
    check(tovik_parse_data(&ctx, NULL, text, sizeof text - 1) == 0, "tovik_parse_data");

    /* net.port = 80: the name (8 bytes + NUL) takes 12, the value (2 + NUL) 4. */
    kv = tovik_find_key(&ctx, "net.port");
    check(kv && kv->name_len == 8 && kv->value_len == 2 && strcmp(kv->value, "80") == 0,
          "tovik_find_key net.port = 80");
    check(kv && kv->name == (char *)kv + sizeof(tovik_kv) && kv->value == kv->name + 12,
          "record texts follow the fixed fields");
    check(h.first_size == sizeof(tovik_kv) + 12 + 4, "record block size");
    check(tovik_kv_iter(&ctx, NULL) == kv, "tovik_kv_iter first");
    kv = tovik_kv_iter(&ctx, kv);
    check(kv && strcmp(kv->value, "81") == 0 && tovik_kv_iter(&ctx, kv) == NULL,
          "tovik_kv_iter second and end");

    net = tovik_find_tree_node(&ctx, NULL, "net", 3);
    check(net && net->value == NULL && net->parent == NULL &&
              net->name == (char *)net + sizeof(tovik_tree_node),
          "tree node net without value");
    port = net ? tovik_kv_tree_iter(&ctx, net, NULL) : NULL;
    check(port && port->parent == net && port->value_len == 2 && strcmp(port->value, "80") == 0 &&
              tovik_kv_tree_iter(&ctx, net, port) == NULL,
          "only port = 80 under net (the first value wins)");

    check(tovik_parse_data_ex(&ctx, net, "port = 82 ", 10, TOVIK_FLAG_REPLACE) == 0,
          "tovik_parse_data_ex");
    port = tovik_find_tree_node(&ctx, net, "port", 4);
    check(port && strcmp(port->value, "82") == 0, "replaced port = 82");

    extra = tovik_add_subnode(&ctx, NULL, "extra", 5);
    check(extra && extra->value == NULL && extra->children.next == &extra->children,
          "tovik_add_subnode");
    check(tovik_add_valuenode(&ctx, extra, "k", 1, "v", 1) != NULL, "tovik_add_valuenode");
    tovik_free_tree_node(&ctx, extra);
    sentinel = &ctx.tree;
    check(net && sentinel->prev == &net->link && sentinel->next == &net->link,
          "tovik_free_tree_node unlinks the subtree");

    check(tovik_deinit(&ctx) == 0 && h.live == 0, "tovik_deinit releases every block");
    check(ctx.records.next == &ctx.records && ctx.tree.next == &ctx.tree,
          "lists empty after deinit");
    return failures == 0 ? 0 : 1;
}
