// One parser context that every input of a run is parsed into.
#pragma once

#include <cstdint>

#include "tovik.h"

namespace daduzozi_cli {

// Owns a tovik context on malloc/free and releases all of it on destruction.
// The library absorbs a refused allocation and carries on with less, which
// would print an incomplete configuration as if it were whole; remembering the
// refusal lets the command fail instead.
class Document {
  public:
    Document();
    Document(const Document &) = delete;
    Document &operator=(const Document &) = delete;
    ~Document();

    // Makes the node path `dotted_path` (segments split at dots, empty ones
    // skipped, each segment's first match reused, missing ones created) the
    // node that later inputs are parsed under. False when memory ran out.
    bool set_graft_point(const char *dotted_path);

    // Parses one input. False when memory ran out, so the context is partial.
    bool parse(const char *data, size_t size, uint32_t flags);

    tovik_ctx *context() { return &context_; }

  private:
    static void *allocate(void *self, size_t size);
    static void release(void *self, void *block);

    tovik_ctx context_;
    tovik_tree_node *graft_point_ = nullptr;
    bool refused_ = false;
};

} // namespace daduzozi_cli
