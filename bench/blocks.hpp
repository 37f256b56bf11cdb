// Allocators handed to the parser by the benchmarks, and the block sizes its
// records and nodes are defined to take, computed from what they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tovik.h"

namespace daduzozi_bench {

// malloc and free as the parser's callbacks; `user` is ignored.
void *heap_alloc(void *user, size_t size);
void heap_free(void *user, void *block);

// malloc and free that also count the requests and the bytes requested.
struct CountingHeap {
    size_t allocations = 0;
    size_t bytes = 0;

    static void *alloc(void *user, size_t size);
    static void release(void *user, void *block);
};

// A bump allocator over one buffer, dropped as a whole by reset(). Blocks are
// aligned for pointers as the callbacks require; a request that does not fit
// is refused, which the benchmarks report as an error.
class Arena {
  public:
    explicit Arena(size_t capacity);

    static void *alloc(void *user, size_t size);
    static void release(void *, void *) {}

    void *take(size_t size) {
        size_t rounded = (size + alignof(void *) - 1) & ~(alignof(void *) - 1);
        if (rounded > capacity_ - used_) {
            refused_ = true;
            return nullptr;
        }
        void *block = base_.get() + used_;
        used_ += rounded;
        return block;
    }
    void reset() { used_ = 0; }
    bool refused() const { return refused_; }
    // The capacity that holds blocks of these sizes.
    static size_t capacity_for(const std::vector<size_t> &sizes);

  private:
    std::unique_ptr<unsigned char[]> base_;
    size_t capacity_;
    size_t used_ = 0;
    bool refused_ = false;
};

// What one parse and release asked of its allocator, in order: the size of
// every request, and for every release the number of the request that made
// the block.
struct BlockLog {
    std::vector<size_t> sizes;
    std::vector<size_t> releases;
};

// The bytes and blocks a context's records and tree nodes are defined to
// occupy: a fixed header plus (length + 1) rounded up to 4 for each text.
struct DefinedBlocks {
    size_t records = 0;
    size_t nodes = 0;
    size_t bytes = 0;
    size_t blocks() const { return records + nodes; }
};
DefinedBlocks defined_blocks(tovik_ctx &ctx);

// Parses `text` once into a fresh context, records the allocator traffic of
// the parse and the release, and checks the requested bytes and blocks
// against defined_blocks(). An empty `error` means they are equal.
struct ParseAudit {
    BlockLog log;
    DefinedBlocks defined;
    size_t requested_bytes = 0;
    std::string error;
};
ParseAudit audit_parse(const std::string &text);

} // namespace daduzozi_bench
