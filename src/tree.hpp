// Tree nodes: creation, the sibling walk that finds the first node of a name,
// and release of whole subtrees. Part of the single library unit; included by
// tovik.cpp.
#pragma once

#include "blocks.hpp"

namespace {

// A filled node that is not linked yet; `value` null makes a node without value.
tovik_tree_node *new_node(tovik_ctx *ctx, tovik_tree_node *parent, const char *name,
                          size_t name_len, const char *value, size_t value_len) {
    size_t size = sizeof(tovik_tree_node);
    if (!add_text_area(size, name_len) || (value && !add_text_area(size, value_len)))
        return nullptr;
    tovik_tree_node *node = static_cast<tovik_tree_node *>(alloc_block(ctx, size));
    if (!node)
        return nullptr;
    char *area = name_text(node);
    node->parent = parent;
    list_init(&node->children);
    node->name = store_text(area, name, name_len);
    node->name_len = name_len;
    node->value = value ? store_text(area + text_area(name_len), value, value_len) : nullptr;
    node->value_len = value ? value_len : 0;
    return node;
}

// The length is compared first, then the end of the name, where siblings of
// one length usually differ ("option_14907", "option_24095"): a long name's
// last eight bytes in one load, a short name byte by byte from its end. The
// name is read where the block layout puts it, not through the `name` field,
// which the filing index may have borrowed.
bool has_name(const tovik_tree_node *node, const char *name, size_t name_len) {
    if (node->name_len != name_len)
        return false;
    const char *own = name_text(node);
    if (name_len >= sizeof(uint64_t)) {
        size_t head = name_len - sizeof(uint64_t);
        return word_at(own + head) == word_at(name + head) && memcmp(own, name, head) == 0;
    }
    for (size_t i = name_len; i != 0; --i)
        if (own[i - 1] != name[i - 1])
            return false;
    return true;
}

// The first node of a name in a sibling list, and how many nodes were looked
// at to find it (or to learn that there is none).
struct Walk {
    tovik_tree_node *found;
    size_t visited;
};

// Walks the sibling list from both ends at once: the two chains of loads do
// not depend on each other, so a long list costs half the memory round trips.
// The front walk returns the first match; a match seen from the back is only
// the answer once the front walk has passed every node before it.
Walk walk_from_both_ends(tovik_list *list, const char *name, size_t name_len) {
    tovik_list *front = list->next;
    tovik_list *back = list->prev;
    Walk walk{nullptr, 0};
    while (front != list) {
        ++walk.visited;
        if (has_name(as_node(front), name, name_len))
            return {as_node(front), walk.visited};
        if (front == back)
            break;
        ++walk.visited;
        if (has_name(as_node(back), name, name_len))
            walk.found = as_node(back);
        front = front->next;
        if (front == back)
            break;
        back = back->prev;
    }
    return walk;
}

// Walks forward from `from` (a node of `list`) to the end of the list.
Walk walk_from(tovik_list *list, tovik_list *from, const char *name, size_t name_len) {
    Walk walk{nullptr, 0};
    for (tovik_list *link = from; link != list; link = link->next) {
        ++walk.visited;
        if (has_name(as_node(link), name, name_len))
            return {as_node(link), walk.visited};
    }
    return walk;
}

// Releases `top` with its subtree in post-order, always taking the current
// first child, without recursion so that depth costs no stack. Each node is
// unlinked and then handed to `before_release` and to free_fn.
template <class BeforeRelease>
void release_subtree(tovik_ctx *ctx, tovik_tree_node *top, BeforeRelease before_release) {
    tovik_tree_node *node = top;
    for (;;) {
        while (!list_empty(&node->children))
            node = as_node(node->children.next);
        tovik_tree_node *up = node == top ? nullptr : node->parent;
        before_release(node);
        list_unlink(&node->link);
        ctx->free_fn(ctx->user, node);
        if (!up)
            return;
        node = up;
    }
}

void release_subtree(tovik_ctx *ctx, tovik_tree_node *top) {
    release_subtree(ctx, top, [](tovik_tree_node *) {});
}

void release_all_roots(tovik_ctx *ctx) {
    while (!list_empty(&ctx->tree))
        release_subtree(ctx, as_node(ctx->tree.next));
}

} // namespace
