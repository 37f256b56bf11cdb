#include "blocks.hpp"

#include <cstdlib>
#include <map>
#include <numeric>

namespace daduzozi_bench {
namespace {

size_t text_area(size_t len) { return (len + 1 + 3) & ~size_t(3); }

void add_subtree(tovik_ctx &ctx, tovik_tree_node *parent, DefinedBlocks &sum) {
    for (tovik_tree_node *node = tovik_kv_tree_iter(&ctx, parent, nullptr); node;
         node = tovik_kv_tree_iter(&ctx, parent, node)) {
        sum.nodes++;
        sum.bytes += sizeof(tovik_tree_node) + text_area(node->name_len);
        if (node->value)
            sum.bytes += text_area(node->value_len);
        add_subtree(ctx, node, sum);
    }
}

class RecordingAllocator {
  public:
    explicit RecordingAllocator(BlockLog &log) : log_(log) {}

    static void *alloc(void *user, size_t size) {
        auto *self = static_cast<RecordingAllocator *>(user);
        void *block = std::malloc(size);
        if (block) {
            self->request_of_[block] = self->log_.sizes.size();
            self->log_.sizes.push_back(size);
        }
        return block;
    }
    static void release(void *user, void *block) {
        auto *self = static_cast<RecordingAllocator *>(user);
        auto it = self->request_of_.find(block);
        if (it != self->request_of_.end()) {
            self->log_.releases.push_back(it->second);
            self->request_of_.erase(it);
        }
        std::free(block);
    }
    size_t live_blocks() const { return request_of_.size(); }

  private:
    BlockLog &log_;
    std::map<void *, size_t> request_of_;
};

std::string mismatch(const char *what, size_t seen, size_t defined) {
    return std::string(what) + ": allocator saw " + std::to_string(seen) + ", blocks define " +
           std::to_string(defined);
}

} // namespace

void *heap_alloc(void *, size_t size) { return std::malloc(size); }
void heap_free(void *, void *block) { std::free(block); }

void *CountingHeap::alloc(void *user, size_t size) {
    auto *self = static_cast<CountingHeap *>(user);
    self->allocations++;
    self->bytes += size;
    return std::malloc(size);
}
void CountingHeap::release(void *, void *block) { std::free(block); }

Arena::Arena(size_t capacity) : base_(new unsigned char[capacity]), capacity_(capacity) {}

void *Arena::alloc(void *user, size_t size) { return static_cast<Arena *>(user)->take(size); }

size_t Arena::capacity_for(const std::vector<size_t> &sizes) {
    return std::accumulate(sizes.begin(), sizes.end(), size_t(0), [](size_t sum, size_t size) {
        return sum + ((size + alignof(void *) - 1) & ~(alignof(void *) - 1));
    });
}

DefinedBlocks defined_blocks(tovik_ctx &ctx) {
    DefinedBlocks sum;
    for (tovik_kv *kv = tovik_kv_iter(&ctx, nullptr); kv; kv = tovik_kv_iter(&ctx, kv)) {
        sum.records++;
        sum.bytes += sizeof(tovik_kv) + text_area(kv->name_len) + text_area(kv->value_len);
    }
    add_subtree(ctx, nullptr, sum);
    return sum;
}

ParseAudit audit_parse(const std::string &text) {
    ParseAudit audit;
    RecordingAllocator recorder(audit.log);
    tovik_ctx ctx;
    tovik_init(&ctx, RecordingAllocator::alloc, RecordingAllocator::release, &recorder);
    tovik_parse_data(&ctx, nullptr, text.data(), text.size());
    audit.defined = defined_blocks(ctx);
    tovik_deinit(&ctx);
    audit.requested_bytes =
        std::accumulate(audit.log.sizes.begin(), audit.log.sizes.end(), size_t(0));
    if (audit.log.sizes.size() != audit.defined.blocks())
        audit.error = mismatch("blocks", audit.log.sizes.size(), audit.defined.blocks());
    else if (audit.requested_bytes != audit.defined.bytes)
        audit.error = mismatch("bytes", audit.requested_bytes, audit.defined.bytes);
    else if (audit.log.releases.size() != audit.log.sizes.size() || recorder.live_blocks() != 0)
        audit.error =
            mismatch("released blocks", audit.log.releases.size(), audit.log.sizes.size());
    return audit;
}

} // namespace daduzozi_bench
