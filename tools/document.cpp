#include "document.hpp"

#include <cstdlib>
#include <cstring>

namespace daduzozi_cli {

Document::Document() { tovik_init(&context_, allocate, release, this); }

Document::~Document() { tovik_deinit(&context_); }

void *Document::allocate(void *self, size_t size) {
    void *block = std::malloc(size);
    if (!block)
        static_cast<Document *>(self)->refused_ = true;
    return block;
}

void Document::release(void *, void *block) { std::free(block); }

bool Document::set_graft_point(const char *dotted_path) {
    tovik_tree_node *node = nullptr;
    const char *segment = dotted_path;
    for (;;) {
        size_t length = std::strcspn(segment, ".");
        if (length > 0) {
            tovik_tree_node *found = tovik_find_tree_node(&context_, node, segment, length);
            node = found ? found : tovik_add_subnode(&context_, node, segment, length);
            if (!node)
                return false;
        }
        if (segment[length] == '\0')
            break;
        segment += length + 1;
    }
    graft_point_ = node;
    return true;
}

bool Document::parse(const char *data, size_t size, uint32_t flags) {
    tovik_parse_data_ex(&context_, graft_point_, data, size, flags);
    return !refused_;
}

} // namespace daduzozi_cli
