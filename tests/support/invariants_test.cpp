// The invariant checker itself: corruptions made on purpose on a parsed
// context must each be reported at the right place, and every context the
// library can legitimately produce must pass without a complaint.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "invariants.hpp"
#include "tracking_allocator.hpp"

namespace {

using tovik_test::ContextTest;
using tovik_test::invariant_violations;
using tovik_test::reachable_blocks;
using tovik_test::TrackingAllocator;

// Sections, a dotted section and key, quoted and empty values, a repeated
// key, and a caller node with a graft below it (added in the fixture):
//   records 0-5: net.port=80, net.host=a b, a.b.c.d=1, a.b.empty=, net.port=81,
//                k=z (grafted)
//   tree: net{port=80 host=a b} a{b{c{d=1} empty=}} p{v=x\0y k=z}
constexpr std::string_view kSample = "[net]\nport = 80\nhost = \"a b\"\n[a.b]\nc.d = 1\n"
                                     "empty = \"\"\n[net]\nport=81\n";

// The parts of the sample that the corruptions aim at.
struct Targets {
    std::vector<tovik_kv *> records;
    tovik_tree_node *net, *port, *host, *a, *p, *v;
};

// Which form of the checker must notice a corruption: some are visible in
// the links and texts alone, others only in the block sizes the allocator
// knows.
enum class Seen { by_both, with_heap_only };

struct Corruption {
    const char *what;
    void (*apply)(tovik_ctx &, const Targets &);
    Seen seen;
    const char *expected_line;
};

const Corruption kCorruptions[] = {
    {"a record's prev link skips its predecessor",
     [](tovik_ctx &ctx, const Targets &t) { t.records[1]->link.prev = &ctx.records; },
     Seen::by_both, "records/0: next element's prev link does not lead back"},
    {"the record sentinel's prev misses the last record",
     [](tovik_ctx &ctx, const Targets &t) { ctx.records.prev = &t.records[0]->link; },
     Seen::by_both, "records/5: next element's prev link does not lead back"},
    {"a record's next link is null",
     [](tovik_ctx &, const Targets &t) { t.records[2]->link.next = nullptr; }, Seen::by_both,
     "records/2: next link is null"},
    {"the record sentinel's next is broken",
     [](tovik_ctx &ctx, const Targets &) { ctx.records.next->prev = nullptr; }, Seen::by_both,
     "records: next element's prev link does not lead back"},
    {"a record lost its value",
     [](tovik_ctx &, const Targets &t) { t.records[1]->value = nullptr; }, Seen::by_both,
     "records/1: record has a null value"},
    {"a record's name moved inside its block",
     [](tovik_ctx &, const Targets &t) { t.records[0]->name += 1; }, Seen::by_both,
     "records/0: name does not start right after the fixed fields"},
    {"a record's name lost its NUL",
     [](tovik_ctx &, const Targets &t) { t.records[0]->name[t.records[0]->name_len] = 'x'; },
     Seen::by_both, "records/0: name is not NUL-terminated at name_len"},
    {"a record's value moved to the next text area",
     [](tovik_ctx &, const Targets &t) { t.records[0]->value += 4; }, Seen::by_both,
     "records/0: value does not start right after the name area"},
    {"a record's value lost its NUL",
     [](tovik_ctx &, const Targets &t) { t.records[3]->value[t.records[3]->value_len] = 'x'; },
     Seen::by_both, "records/3: value is not NUL-terminated at value_len"},
    {"a record's name claims a longer area than its block holds",
     [](tovik_ctx &, const Targets &t) { t.records[0]->name_len += 4; }, Seen::with_heap_only,
     "records/0: block size differs from the size its texts define"},
    {"a record's value length is absurd",
     [](tovik_ctx &, const Targets &t) { t.records[4]->value_len = SIZE_MAX - 2; }, Seen::by_both,
     "records/4: text lengths overflow any block size"},
    {"the root sentinel's prev misses the last root",
     [](tovik_ctx &ctx, const Targets &t) { ctx.tree.prev = &t.net->link; }, Seen::by_both,
     "tree/2: next element's prev link does not lead back"},
    {"a child list's first link does not lead back",
     [](tovik_ctx &, const Targets &t) { t.port->link.prev = nullptr; }, Seen::by_both,
     "tree/0/children: next element's prev link does not lead back"},
    {"a sibling's prev link skips its predecessor",
     [](tovik_ctx &, const Targets &t) { t.host->link.prev = &t.net->children; }, Seen::by_both,
     "tree/0/0: next element's prev link does not lead back"},
    {"a child names another parent", [](tovik_ctx &, const Targets &t) { t.port->parent = t.a; },
     Seen::by_both, "tree/0/0: parent is not the node whose children list holds it"},
    {"a grafted child names no parent",
     [](tovik_ctx &, const Targets &t) { t.v->parent = nullptr; }, Seen::by_both,
     "tree/2/0: parent is not the node whose children list holds it"},
    {"a root node names a parent", [](tovik_ctx &, const Targets &t) { t.a->parent = t.net; },
     Seen::by_both, "tree/1: root node has a parent"},
    {"a node without value has a value length",
     [](tovik_ctx &, const Targets &t) { t.net->value_len = 3; }, Seen::by_both,
     "tree/0: node without value has a non-zero value_len"},
    {"a value node lost its value",
     [](tovik_ctx &, const Targets &t) {
         t.port->value = nullptr;
         t.port->value_len = 0;
     },
     Seen::with_heap_only, "tree/0/0: block size differs from the size its texts define"},
    {"a node without value gained one past its block",
     [](tovik_ctx &, const Targets &t) { t.net->value = t.net->name + 4; }, Seen::with_heap_only,
     "tree/0: block size differs from the size its texts define"},
    {"a node's name lost its NUL",
     [](tovik_ctx &, const Targets &t) { t.host->name[t.host->name_len] = 'x'; }, Seen::by_both,
     "tree/0/1: name is not NUL-terminated at name_len"},
    {"a node's name moved inside its block", [](tovik_ctx &, const Targets &t) { t.a->name += 2; },
     Seen::by_both, "tree/1: name does not start right after the fixed fields"},
    {"a node's value moved inside its block",
     [](tovik_ctx &, const Targets &t) { t.port->value -= 1; }, Seen::by_both,
     "tree/0/0: value does not start right after the name area"},
    {"a value holding a NUL lost its terminating NUL",
     [](tovik_ctx &, const Targets &t) { t.v->value[t.v->value_len] = 'x'; }, Seen::by_both,
     "tree/2/0: value is not NUL-terminated at value_len"},
    {"the scanner state is out of range", [](tovik_ctx &ctx, const Targets &) { ctx.state = 10; },
     Seen::by_both, "context: state is outside 0-9"},
    {"the scanner state is negative", [](tovik_ctx &ctx, const Targets &) { ctx.state = -1; },
     Seen::by_both, "context: state is outside 0-9"},
    {"the reserved word was written", [](tovik_ctx &ctx, const Targets &) { ctx.reserved = 1; },
     Seen::by_both, "context: reserved word is not zero"},
};

// The sample parsed into a tracked context; each corruption is undone from a
// snapshot of the context and of every live block before the fixture ends.
class CorruptedContext : public ContextTest {
  protected:
    void SetUp() override {
        ContextTest::SetUp();
        ASSERT_EQ(0, parse(kSample));
        tovik_tree_node *graft = tovik_add_subnode(&ctx, nullptr, "p", 1);
        ASSERT_NE(nullptr, graft);
        ASSERT_NE(nullptr, tovik_add_valuenode(&ctx, graft, "v", 1, "x\0y", 3));
        ASSERT_EQ(0, parse("k = z\n", 0, graft));
        collect_targets();
    }

    void collect_targets() {
        for (tovik_kv *kv = tovik_kv_iter(&ctx, nullptr); kv; kv = tovik_kv_iter(&ctx, kv))
            targets.records.push_back(kv);
        ASSERT_EQ(6u, targets.records.size());
        targets.net = tovik_find_tree_node(&ctx, nullptr, "net", 3);
        targets.a = tovik_find_tree_node(&ctx, nullptr, "a", 1);
        targets.p = tovik_find_tree_node(&ctx, nullptr, "p", 1);
        ASSERT_TRUE(targets.net && targets.a && targets.p);
        targets.port = tovik_find_tree_node(&ctx, targets.net, "port", 4);
        targets.host = tovik_find_tree_node(&ctx, targets.net, "host", 4);
        targets.v = tovik_find_tree_node(&ctx, targets.p, "v", 1);
        ASSERT_TRUE(targets.port && targets.host && targets.v);
    }

    void take_snapshot() {
        saved_ctx_ = ctx;
        for (void *block : heap.granted)
            if (heap.is_live(block)) {
                const char *bytes = static_cast<const char *>(block);
                saved_blocks_.emplace_back(block, std::string(bytes, heap.size_of(block)));
            }
    }
    void restore_snapshot() {
        ctx = saved_ctx_;
        for (auto &[block, bytes] : saved_blocks_)
            std::memcpy(block, bytes.data(), bytes.size());
    }

    Targets targets{};

  private:
    tovik_ctx saved_ctx_{};
    std::vector<std::pair<void *, std::string>> saved_blocks_;
};

TEST_F(CorruptedContext, TheUntouchedSampleHoldsEveryInvariant) {
    EXPECT_EQ("", invariant_violations(ctx));
    EXPECT_EQ("", invariant_violations(ctx, heap));
    EXPECT_EQ(heap.live_blocks(), reachable_blocks(ctx));
}

TEST_F(CorruptedContext, EveryCorruptionIsReportedWhereItWasMade) {
    take_snapshot();
    for (const Corruption &corruption : kCorruptions) {
        SCOPED_TRACE(corruption.what);
        corruption.apply(ctx, targets);
        std::string with_heap = invariant_violations(ctx, heap);
        EXPECT_NE(std::string::npos, with_heap.find(corruption.expected_line)) << with_heap;
        if (corruption.seen == Seen::by_both) {
            std::string plain = invariant_violations(ctx);
            EXPECT_NE(std::string::npos, plain.find(corruption.expected_line)) << plain;
        }
        restore_snapshot();
        ASSERT_EQ("", invariant_violations(ctx, heap)) << "snapshot not restored";
    }
}

TEST_F(CorruptedContext, BlocksOfAnotherAllocatorAreNotLive) {
    TrackingAllocator other;
    std::string violations = invariant_violations(ctx, other);
    EXPECT_NE(std::string::npos,
              violations.find("records/0: block is not a live block of the allocator"))
        << violations;
    EXPECT_NE(std::string::npos, violations.find("tree/0: block is not a live block"))
        << violations;
}

// Fifty broken records give twenty lines and a count of the rest.
TEST_F(ContextTest, AFloodOfViolationsIsCutShort) {
    std::string text;
    for (int i = 0; i < 50; ++i)
        text += "k = 1\n";
    ASSERT_EQ(0, parse(text));
    for (tovik_kv *kv = tovik_kv_iter(&ctx, nullptr); kv; kv = tovik_kv_iter(&ctx, kv))
        kv->name[kv->name_len] = 'x';
    std::string violations = invariant_violations(ctx);
    for (tovik_kv *kv = tovik_kv_iter(&ctx, nullptr); kv; kv = tovik_kv_iter(&ctx, kv))
        kv->name[kv->name_len] = '\0';

    size_t lines = 0;
    for (char c : violations)
        lines += c == '\n';
    EXPECT_EQ(21u, lines) << violations;
    EXPECT_NE(std::string::npos, violations.find("records/19: name is not NUL-terminated"));
    EXPECT_EQ(std::string::npos, violations.find("records/20:"));
    EXPECT_NE(std::string::npos, violations.find("\n... and 30 more\n"));
}

// Contexts the library can legitimately leave behind; each must pass both
// forms of the checker, and its reachable blocks must be the allocator's live
// ones apart from the subtrees a context without free_fn let go of.
struct CleanCase {
    const char *what;
    bool with_free_fn;
    void (*build)(tovik_ctx &, TrackingAllocator &);
    size_t released_by_caller; // blocks the library unlinked without free_fn
};

int parse(tovik_ctx &ctx, std::string_view text, uint32_t flags = 0,
          tovik_tree_node *parent = nullptr) {
    return tovik_parse_data_ex(&ctx, parent, text.data(), text.size(), flags);
}

const CleanCase kCleanCases[] = {
    {"a fresh context", true, [](tovik_ctx &, TrackingAllocator &) {}, 0},
    {"the sample", true, [](tovik_ctx &ctx, TrackingAllocator &) { parse(ctx, kSample); }, 0},
    {"the sample with replacement", true,
     [](tovik_ctx &ctx, TrackingAllocator &) { parse(ctx, kSample, TOVIK_FLAG_REPLACE); }, 0},
    {"every byte value in names and values", true,
     [](tovik_ctx &ctx, TrackingAllocator &) {
         std::string text;
         for (int byte = 0; byte < 256; ++byte)
             text += "k" + std::string(1, static_cast<char>(byte)) + "=\"" +
                     std::string(1, static_cast<char>(byte)) + "\"\n";
         parse(ctx, text);
     },
     0},
    {"caller nodes with a graft and empty texts", true,
     [](tovik_ctx &ctx, TrackingAllocator &) {
         tovik_tree_node *top = tovik_add_subnode(&ctx, nullptr, "", 0);
         tovik_add_valuenode(&ctx, top, "empty", 5, "", 0);
         tovik_add_valuenode(&ctx, top, "", 0, "\0", 1);
         parse(ctx, "[s]\nk = 1\n", 0, top);
         parse(ctx, "[s]\nk = 2\n", TOVIK_FLAG_REPLACE, top);
     },
     0},
    {"subtrees pruned by the caller", true,
     [](tovik_ctx &ctx, TrackingAllocator &) {
         parse(ctx, kSample);
         tovik_free_tree_node(&ctx, tovik_find_tree_node(&ctx, nullptr, "net", 3));
         tovik_tree_node *a = tovik_find_tree_node(&ctx, nullptr, "a", 1);
         tovik_free_tree_node(&ctx, tovik_find_tree_node(&ctx, a, "b", 1));
     },
     0},
    {"every root released, records kept", true,
     [](tovik_ctx &ctx, TrackingAllocator &) {
         parse(ctx, kSample);
         tovik_free_tree_node(&ctx, nullptr);
     },
     0},
    {"parsed again after deinit", true,
     [](tovik_ctx &ctx, TrackingAllocator &) {
         parse(ctx, kSample);
         tovik_deinit(&ctx);
         parse(ctx, "x.y = 1\n");
     },
     0},
    {"a record's block refused mid-scan", true,
     [](tovik_ctx &ctx, TrackingAllocator &heap) {
         heap.refuse_request(2);
         parse(ctx, kSample);
     },
     0},
    {"every request refused from the sixth on", true,
     [](tovik_ctx &ctx, TrackingAllocator &heap) {
         heap.refuse_from(6);
         parse(ctx, kSample);
     },
     0},
    {"replacement without free_fn", false,
     [](tovik_ctx &ctx, TrackingAllocator &) {
         parse(ctx, "a.b = 1\na = 2\n", TOVIK_FLAG_REPLACE);
     },
     2},
};

TEST(InvariantsOfCleanContexts, EveryLegitimateContextPasses) {
    for (const CleanCase &clean : kCleanCases) {
        SCOPED_TRACE(clean.what);
        TrackingAllocator heap;
        tovik_ctx ctx{};
        ASSERT_EQ(0, tovik_init(&ctx, TrackingAllocator::alloc,
                                clean.with_free_fn ? TrackingAllocator::release : nullptr, &heap));
        clean.build(ctx, heap);
        EXPECT_EQ("", invariant_violations(ctx));
        EXPECT_EQ("", invariant_violations(ctx, heap));
        EXPECT_EQ(heap.live_blocks() - clean.released_by_caller, reachable_blocks(ctx));
        if (clean.with_free_fn) {
            EXPECT_EQ(0, tovik_deinit(&ctx));
            EXPECT_EQ(0u, heap.live_blocks());
            EXPECT_EQ("", invariant_violations(ctx, heap));
        }
        EXPECT_TRUE(heap.errors.empty());
    }
}

void *plain_alloc(void *, size_t size) { return std::malloc(size); }
void plain_free(void *, void *block) { std::free(block); }

// A recursive walk would run out of stack long before a million levels. Plain
// malloc keeps the test quick; block sizes are checked on smaller trees above.
TEST(InvariantsOfDeepTrees, AMillionLevelTreeIsCheckedWithoutRecursion) {
    constexpr size_t depth = 1000000;
    std::string text;
    text.reserve(2 * depth + 8);
    for (size_t i = 1; i < depth; ++i)
        text += "a.";
    text += "a = 1\n";
    tovik_ctx ctx{};
    ASSERT_EQ(0, tovik_init(&ctx, plain_alloc, plain_free, nullptr));
    ASSERT_EQ(0, parse(ctx, text));
    EXPECT_EQ("", invariant_violations(ctx));

    tovik_tree_node *deepest = nullptr;
    for (tovik_tree_node *n = tovik_kv_tree_iter(&ctx, nullptr, nullptr); n;
         n = tovik_kv_tree_iter(&ctx, n, nullptr))
        deepest = n;
    ASSERT_NE(nullptr, deepest);
    ASSERT_NE(nullptr, deepest->value);
    EXPECT_EQ("1", std::string(deepest->value, deepest->value_len));
    tovik_tree_node *parent = deepest->parent;
    deepest->parent = nullptr;
    std::string violations = invariant_violations(ctx);
    deepest->parent = parent;
    EXPECT_NE(std::string::npos, violations.find("parent is not the node")) << violations;
    EXPECT_EQ(0, tovik_deinit(&ctx));
}

} // namespace
