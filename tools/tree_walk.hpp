// Depth-first walk of the whole tree, shared by the tree and JSON printers.
#pragma once

#include <cstddef>
#include <cstdio>

#include "tovik.h"

namespace daduzozi_cli {

// Calls, in document order:
//   visitor.enter(node, depth, has_children) for every node;
//   visitor.leave(node, depth) after the last descendant of a node that has
//   children;
//   visitor.between_siblings() between two consecutive siblings.
// Loops over parent links instead of recursing: a name with a million dots
// makes a million levels, which no call stack would hold.
template <typename Visitor> void walk_tree(tovik_ctx *context, Visitor &visitor) {
    tovik_tree_node *node = tovik_kv_tree_iter(context, nullptr, nullptr);
    size_t depth = 0;
    while (node) {
        tovik_tree_node *child = tovik_kv_tree_iter(context, node, nullptr);
        visitor.enter(*node, depth, child != nullptr);
        if (child) {
            node = child;
            ++depth;
            continue;
        }
        while (node) {
            tovik_tree_node *next = tovik_kv_tree_iter(context, node->parent, node);
            if (next) {
                visitor.between_siblings();
                node = next;
                break;
            }
            node = node->parent;
            if (node)
                visitor.leave(*node, --depth);
        }
    }
}

// Two spaces per level.
inline void write_indent(FILE *out, size_t depth) {
    static const char spaces[] = "                                                                ";
    size_t count = 2 * depth;
    while (count > 0) {
        size_t chunk = count < sizeof spaces - 1 ? count : sizeof spaces - 1;
        std::fwrite(spaces, 1, chunk, out);
        count -= chunk;
    }
}

} // namespace daduzozi_cli
