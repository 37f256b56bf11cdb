/* The public header used from C99: every type, the flag and all eleven
 * functions, with a few results checked. Built with every warning an error. */
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

static void *heap_alloc(void *user, size_t size) {
    ++*(int *)user;
    return malloc(size);
}

static void heap_free(void *user, void *block) {
    --*(int *)user;
    free(block);
}

int main(void) {
    static const char text[] = "[net]\nport = 80\nport = 81\n";
    int live = 0;
    tovik_ctx ctx;
    tovik_alloc_fn alloc_fn = heap_alloc;
    tovik_free_fn free_fn = heap_free;
    tovik_kv *kv;
    tovik_tree_node *net, *port, *extra;
    tovik_list *sentinel;

    check(tovik_init(&ctx, alloc_fn, free_fn, &live) == 0, "tovik_init");
    check(TOVIK_FLAG_REPLACE == 1u, "TOVIK_FLAG_REPLACE is 1");
    check(tovik_parse_data(&ctx, NULL, text, sizeof text - 1) == 0, "tovik_parse_data");

    kv = tovik_find_key(&ctx, "net.port");
    check(kv && kv->name_len == 8 && kv->value_len == 2 && strcmp(kv->value, "80") == 0,
          "tovik_find_key net.port = 80");
    check(tovik_kv_iter(&ctx, NULL) == kv, "tovik_kv_iter first");
    kv = tovik_kv_iter(&ctx, kv);
    check(kv && strcmp(kv->value, "81") == 0 && tovik_kv_iter(&ctx, kv) == NULL,
          "tovik_kv_iter second and end");

    net = tovik_find_tree_node(&ctx, NULL, "net", 3);
    check(net && net->value == NULL && net->parent == NULL, "tree node net without value");
    port = tovik_kv_tree_iter(&ctx, net, NULL);
    check(port && port->parent == net && port->value_len == 2 && strcmp(port->value, "80") == 0,
          "tree node port = 80 under net");

    check(tovik_parse_data_ex(&ctx, net, "port = 82 ", 10, TOVIK_FLAG_REPLACE) == 0,
          "tovik_parse_data_ex");
    port = tovik_find_tree_node(&ctx, net, "port", 4);
    check(port && strcmp(port->value, "82") == 0, "replaced port = 82");

    extra = tovik_add_subnode(&ctx, NULL, "extra", 5);
    check(extra && extra->children.next == &extra->children, "tovik_add_subnode");
    check(tovik_add_valuenode(&ctx, extra, "k", 1, "v", 1) != NULL, "tovik_add_valuenode");
    tovik_free_tree_node(&ctx, extra);
    sentinel = &ctx.tree;
    check(sentinel->prev == &net->link, "tovik_free_tree_node unlinks the subtree");

    check(tovik_deinit(&ctx) == 0 && live == 0, "tovik_deinit releases every block");
    check(ctx.records.next == &ctx.records && ctx.state >= 0, "lists empty after deinit");
    return failures == 0 ? 0 : 1;
}
