/* Reads an INI file, parses it with daduzozi and prints its records and its
 * tree. Usage: tovik_example [FILE]   (default: examples/sample.ini) */
#include <stdio.h>
#include <stdlib.h>

#include "tovik.h"

static void *heap_alloc(void *user, size_t size) {
    (void)user;
    return malloc(size);
}

static void heap_free(void *user, void *block) {
    (void)user;
    free(block);
}

/* The whole file in one malloc'd buffer; NULL when it cannot be read. */
static char *read_file(const char *path, size_t *len) {
    FILE *file = fopen(path, "rb");
    char *data = NULL;
    size_t used = 0, size = 0, got;
    if (!file)
        return NULL;
    do {
        if (used == size) {
            char *grown = realloc(data, size = size ? size * 2 : 4096);
            if (!grown) {
                free(data);
                fclose(file);
                return NULL;
            }
            data = grown;
        }
        got = fread(data + used, 1, size - used, file);
        used += got;
    } while (got != 0);
    if (ferror(file)) {
        free(data);
        data = NULL;
    }
    fclose(file);
    *len = used;
    return data;
}

static void print_pair(const char *name, size_t name_len, const char *value, size_t value_len) {
    fwrite(name, 1, name_len, stdout);
    if (value) {
        fputs(" = ", stdout);
        fwrite(value, 1, value_len, stdout);
    }
    putchar('\n');
}

static void print_tree(tovik_ctx *ctx, tovik_tree_node *parent, int depth) {
    tovik_tree_node *node = NULL;
    while ((node = tovik_kv_tree_iter(ctx, parent, node)) != NULL) {
        printf("%*s", 2 * depth, "");
        print_pair(node->name, node->name_len, node->value, node->value_len);
        print_tree(ctx, node, depth + 1);
    }
}

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "examples/sample.ini";
    tovik_ctx ctx;
    tovik_kv *kv = NULL;
    size_t len = 0;
    char *data = read_file(path, &len);
    if (!data) {
        fprintf(stderr, "tovik_example: cannot read %s\n", path);
        return 1;
    }

    tovik_init(&ctx, heap_alloc, heap_free, NULL);
    tovik_parse_data(&ctx, NULL, data, len);
    free(data); /* every name and value was copied into its record or node */

    puts("records:");
    while ((kv = tovik_kv_iter(&ctx, kv)) != NULL)
        print_pair(kv->name, kv->name_len, kv->value, kv->value_len);
    puts("tree:");
    print_tree(&ctx, NULL, 0);

    tovik_deinit(&ctx);
    return 0;
}
