/* A program outside the project, built against an installed copy of the library. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tovik.h>

static void *heap_alloc(void *user, size_t size) {
    (void)user;
    return malloc(size);
}

static void heap_free(void *user, void *block) {
    (void)user;
    free(block);
}

int main(void) {
    static const char text[] = "[net]\nport = 80\n";
    tovik_ctx ctx;
    tovik_kv *port;
    int ok;

    tovik_init(&ctx, heap_alloc, heap_free, NULL);
    tovik_parse_data(&ctx, NULL, text, sizeof text - 1);
    port = tovik_find_key(&ctx, "net.port");
    ok = port && strcmp(port->value, "80") == 0;
    printf("net.port = %s\n", port ? port->value : "(missing)");
    tovik_deinit(&ctx);
    return ok ? 0 : 1;
}
