// The context and the parse call: set-up, release and its order, argument
// checks, the reset of the working fields, several calls into one context,
// refused allocations and the user value.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tracking_allocator.hpp"

namespace {

using tovik_test::ContextTest;
using tovik_test::escaped;
using tovik_test::list_is_empty;
using tovik_test::Records;
using tovik_test::TrackingAllocator;

constexpr unsigned char kPattern = 0xA5;

// Every byte of a context, padding included, to show that a call wrote nothing.
using Bytes = std::vector<unsigned char>;

Bytes bytes_of(const tovik_ctx &c) {
    const auto *p = reinterpret_cast<const unsigned char *>(&c);
    return Bytes(p, p + sizeof c);
}

tovik_tree_node *child(tovik_ctx &ctx, tovik_tree_node *parent, const char *name) {
    return tovik_find_tree_node(&ctx, parent, name, std::strlen(name));
}

std::vector<tovik_kv *> record_pointers(tovik_ctx &ctx) {
    std::vector<tovik_kv *> out;
    for (tovik_kv *kv = tovik_kv_iter(&ctx, nullptr); kv; kv = tovik_kv_iter(&ctx, kv))
        out.push_back(kv);
    return out;
}

// ---------------------------------------------------------------------------
// tovik_init

TEST(ContextInitTest, NullContextIsRefused) {
    TrackingAllocator heap;
    EXPECT_EQ(1, tovik_init(nullptr, TrackingAllocator::alloc, TrackingAllocator::release, &heap));
}

TEST(ContextInitTest, NullAllocFnIsRefusedAndWritesNothing) {
    TrackingAllocator heap;
    tovik_ctx c;
    std::memset(&c, kPattern, sizeof c);
    const Bytes before = bytes_of(c);
    EXPECT_EQ(1, tovik_init(&c, nullptr, TrackingAllocator::release, &heap));
    EXPECT_EQ(before, bytes_of(c));
}

TEST(ContextInitTest, SetsEveryField) {
    TrackingAllocator heap;
    tovik_ctx c;
    std::memset(&c, kPattern, sizeof c);
    ASSERT_EQ(0, tovik_init(&c, TrackingAllocator::alloc, TrackingAllocator::release, &heap));
    EXPECT_EQ(0, c.state);
    EXPECT_EQ(&heap, c.user);
    EXPECT_EQ(&TrackingAllocator::alloc, c.alloc_fn);
    EXPECT_EQ(&TrackingAllocator::release, c.free_fn);
    EXPECT_EQ(nullptr, c.cursor);
    EXPECT_EQ(0u, c.remaining);
    EXPECT_EQ(nullptr, c.parent);
    EXPECT_EQ(0u, c.flags);
    EXPECT_EQ(nullptr, c.mark);
    EXPECT_EQ(0u, c.reserved);
    EXPECT_EQ(nullptr, c.token);
    EXPECT_EQ(0u, c.token_len);
    EXPECT_EQ(nullptr, c.value_start);
    EXPECT_EQ(0u, c.value_len);
    EXPECT_EQ(nullptr, c.section);
    EXPECT_EQ(0u, c.section_len);
    EXPECT_TRUE(list_is_empty(c.tree));
    EXPECT_TRUE(list_is_empty(c.records));
    EXPECT_TRUE(heap.requests.empty());
}

TEST(ContextInitTest, NullFreeFnIsAccepted) {
    TrackingAllocator heap;
    tovik_ctx c;
    std::memset(&c, kPattern, sizeof c);
    ASSERT_EQ(0, tovik_init(&c, TrackingAllocator::alloc, nullptr, nullptr));
    EXPECT_EQ(nullptr, c.free_fn);
    EXPECT_EQ(nullptr, c.user);
    EXPECT_EQ(&TrackingAllocator::alloc, c.alloc_fn);
}

class ContextTestBase : public ContextTest {
  protected:
    // Gives back every block still live, for tests that made the context
    // lose track of its content on purpose.
    void release_everything_by_hand() {
        for (void *block : heap.granted)
            if (heap.is_live(block))
                TrackingAllocator::release(&heap, block);
    }
};

using ContextInitAgainTest = ContextTestBase;

TEST_F(ContextInitAgainTest, ForgetsOldContentWithoutReleasingIt) {
    ASSERT_EQ(0, parse("[s]\na=1\nb=2\nx"));
    ASSERT_EQ(5u, heap.live_blocks()); // two records, s, a, b
    ASSERT_EQ(2, ctx.state);

    ASSERT_EQ(0, tovik_init(&ctx, TrackingAllocator::alloc, TrackingAllocator::release, &heap));
    EXPECT_TRUE(heap.released.empty());
    EXPECT_EQ(5u, heap.live_blocks());
    EXPECT_TRUE(list_is_empty(ctx.tree));
    EXPECT_TRUE(list_is_empty(ctx.records));
    EXPECT_EQ(0, ctx.state);
    EXPECT_EQ(nullptr, ctx.cursor);
    EXPECT_EQ(nullptr, ctx.mark);
    EXPECT_EQ(nullptr, ctx.section);
    EXPECT_EQ(0u, ctx.section_len);

    release_everything_by_hand();
}

// ---------------------------------------------------------------------------
// tovik_deinit

using ContextDeinitTest = ContextTestBase;

TEST_F(ContextDeinitTest, NullContextIsRefused) { EXPECT_EQ(2, tovik_deinit(nullptr)); }

TEST_F(ContextDeinitTest, NullFreeFnIsRefusedAndReleasesNothing) {
    tovik_ctx other;
    ASSERT_EQ(0, tovik_init(&other, TrackingAllocator::alloc, nullptr, &heap));
    ASSERT_EQ(0, tovik_parse_data(&other, nullptr, "a.b=1\nc=2\n", 10));
    const Bytes before = bytes_of(other);

    EXPECT_EQ(2, tovik_deinit(&other));
    EXPECT_EQ(before, bytes_of(other));
    EXPECT_TRUE(heap.released.empty());
    EXPECT_EQ(Records({{"a.b", "1"}, {"c", "2"}}), tovik_test::records_of(&other));
    EXPECT_EQ("a{b=1} c=2", tovik_test::dump_tree(&other));

    other.free_fn = TrackingAllocator::release;
    EXPECT_EQ(0, tovik_deinit(&other));
}

TEST_F(ContextDeinitTest, ReleasesNodesDepthFirstThenRecordsInOrder) {
    ASSERT_EQ(0, parse("a.b.c=1\na.d=2\ne=3\nf.g=4\n"));
    ASSERT_EQ("a{b{c=1} d=2} e=3 f{g=4}", tree());

    tovik_tree_node *a = child(ctx, nullptr, "a");
    tovik_tree_node *b = child(ctx, a, "b");
    tovik_tree_node *c = child(ctx, b, "c");
    tovik_tree_node *d = child(ctx, a, "d");
    tovik_tree_node *e = child(ctx, nullptr, "e");
    tovik_tree_node *f = child(ctx, nullptr, "f");
    tovik_tree_node *g = child(ctx, f, "g");
    std::vector<tovik_kv *> kv = record_pointers(ctx);
    ASSERT_EQ(4u, kv.size());

    const std::vector<void *> expected = {c, b, d, a, e, g, f, kv[0], kv[1], kv[2], kv[3]};
    const Bytes before = bytes_of(ctx);
    ASSERT_EQ(0, tovik_deinit(&ctx));
    EXPECT_EQ(expected, heap.released);
    EXPECT_EQ(0u, heap.live_blocks());
    EXPECT_TRUE(list_is_empty(ctx.tree));
    EXPECT_TRUE(list_is_empty(ctx.records));

    // Only the two lists change.
    const Bytes after = bytes_of(ctx);
    EXPECT_TRUE(
        std::equal(before.begin(), before.begin() + offsetof(tovik_ctx, tree), after.begin()));
}

TEST_F(ContextDeinitTest, ContextParsesAgainWithoutInit) {
    ASSERT_EQ(0, parse("a=1\n"));
    ASSERT_EQ(0, tovik_deinit(&ctx));
    ASSERT_EQ(0, parse("[s]\nb=2\n"));
    EXPECT_EQ(Records({{"s.b", "2"}}), records());
    EXPECT_EQ("s{b=2}", tree());
}

// ---------------------------------------------------------------------------
// The parse call

// Which required argument a refused parse call lacks.
struct MissingCase {
    const char *what;
    bool null_ctx;
    bool null_data;
    bool null_alloc_fn;
    size_t len;
    bool use_ex;
};

std::ostream &operator<<(std::ostream &os, const MissingCase &c) { return os << c.what; }

class ParseArgumentTest : public ContextTestBase,
                          public ::testing::WithParamInterface<MissingCase> {};

TEST_P(ParseArgumentTest, IsRefusedAndChangesNothing) {
    const MissingCase &m = GetParam();
    ASSERT_EQ(0, parse("[s]\nk=1\nx"));
    if (m.null_alloc_fn)
        ctx.alloc_fn = nullptr;
    const Bytes before = bytes_of(ctx);
    const size_t requests = heap.requests.size();

    const char buffer[] = "z=9\n";
    tovik_ctx *target = m.null_ctx ? nullptr : &ctx;
    const char *data = m.null_data ? nullptr : buffer;
    int rc = m.use_ex ? tovik_parse_data_ex(target, nullptr, data, m.len, TOVIK_FLAG_REPLACE)
                      : tovik_parse_data(target, nullptr, data, m.len);
    EXPECT_EQ(1, rc);
    EXPECT_EQ(before, bytes_of(ctx));
    EXPECT_EQ(requests, heap.requests.size());
    EXPECT_EQ(Records({{"s.k", "1"}}), records());
    EXPECT_EQ("s{k=1}", tree());

    ctx.alloc_fn = TrackingAllocator::alloc;
}

INSTANTIATE_TEST_SUITE_P(
    Missing, ParseArgumentTest,
    ::testing::Values(MissingCase{"null ctx", true, false, false, 4, true},
                      MissingCase{"null ctx", true, false, false, 4, false},
                      MissingCase{"null data", false, true, false, 4, true},
                      MissingCase{"null data", false, true, false, 4, false},
                      MissingCase{"null data, len 0", false, true, false, 0, true},
                      MissingCase{"null alloc_fn", false, false, true, 4, true},
                      MissingCase{"null alloc_fn", false, false, true, 4, false},
                      MissingCase{"null alloc_fn, len 0", false, false, true, 0, true}));

using ParseCallTest = ContextTestBase;

TEST_F(ParseCallTest, EmptyBufferAddsNothingAndResetsWorkingFields) {
    // Leave a section, a non-zero state and a replace flag behind.
    ASSERT_EQ(0, parse("[s]\nk=1\nx", TOVIK_FLAG_REPLACE));
    ASSERT_EQ(2, ctx.state);
    ASSERT_NE(0u, ctx.section_len);
    tovik_tree_node *p = tovik_add_subnode(&ctx, nullptr, "p", 1);
    ASSERT_NE(nullptr, p);
    const size_t requests = heap.requests.size();
    tovik_list *last = ctx.records.prev;

    const char buffer[] = "z=9\n";
    EXPECT_EQ(0, tovik_parse_data_ex(&ctx, p, buffer, 0, 6u));
    EXPECT_EQ(requests, heap.requests.size());
    EXPECT_EQ(Records({{"s.k", "1"}}), records());
    EXPECT_EQ("s{k=1} p", tree());

    EXPECT_EQ(0, ctx.state);
    EXPECT_EQ(buffer, ctx.cursor);
    EXPECT_EQ(0u, ctx.remaining);
    EXPECT_EQ(p, ctx.parent);
    EXPECT_EQ(6u, ctx.flags);
    EXPECT_EQ(last, ctx.mark);
    EXPECT_EQ(nullptr, ctx.section);
    EXPECT_EQ(0u, ctx.section_len);
}

TEST_F(ParseCallTest, EmptyBufferOnEmptyListMarksTheSentinel) {
    const char buffer[] = "z=9\n";
    EXPECT_EQ(0, tovik_parse_data(&ctx, nullptr, buffer, 0));
    EXPECT_EQ(&ctx.records, ctx.mark);
    EXPECT_EQ(buffer, ctx.cursor);
    EXPECT_EQ(0, ctx.state);
    EXPECT_TRUE(list_is_empty(ctx.records));
    EXPECT_TRUE(list_is_empty(ctx.tree));
    EXPECT_TRUE(heap.requests.empty());
}

TEST_F(ParseCallTest, MarkIsTheLastRecordBeforeTheCall) {
    ASSERT_EQ(0, parse("a=1\nb=2\n"));
    EXPECT_EQ(&ctx.records, ctx.mark);
    tovik_list *b = ctx.records.prev;

    ASSERT_EQ(0, parse("c=3\nd=4\n"));
    EXPECT_EQ(b, ctx.mark);
    ASSERT_NE(ctx.records.prev, ctx.mark);
    EXPECT_EQ(Records({{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}), records());
}

TEST_F(ParseCallTest, SecondCallFilesOnlyItsOwnRecords) {
    ASSERT_EQ(0, parse("a=1\n"));
    tovik_tree_node *p = tovik_add_subnode(&ctx, nullptr, "p", 1);
    ASSERT_NE(nullptr, p);
    ASSERT_EQ(0, parse("b=2\n", 0, p));
    EXPECT_EQ(Records({{"a", "1"}, {"b", "2"}}), records());
    EXPECT_EQ("a=1 p{b=2}", tree());
}

TEST_F(ParseCallTest, SectionDoesNotCarryIntoTheNextCall) {
    ASSERT_EQ(0, parse("[s]\na=1\n"));
    ASSERT_EQ(0, parse("b=2\n"));
    EXPECT_EQ(Records({{"s.a", "1"}, {"b", "2"}}), records());
    EXPECT_EQ("s{a=1} b=2", tree());
}

TEST_F(ParseCallTest, RefusedRecordStopsScanningButFilesEarlierRecords) {
    heap.refuse_request(2);
    EXPECT_EQ(0, parse("a=1\nb=2\nc=3\n"));
    EXPECT_EQ(Records({{"a", "1"}}), records());
    EXPECT_EQ("a=1", tree());
    EXPECT_EQ(7, ctx.state);
    // record a, refused record b, then a's leaf; c is never requested
    EXPECT_EQ(3u, heap.requests.size());
}

// A refused tree node during the building pass.
struct NodeRefusalCase {
    const char *text;
    size_t refused; // 1-based request that is refused
    const char *tree;
};

std::ostream &operator<<(std::ostream &os, const NodeRefusalCase &c) {
    return os << escaped(c.text) << " refusing request " << c.refused;
}

class NodeRefusalTest : public ContextTestBase,
                        public ::testing::WithParamInterface<NodeRefusalCase> {};

TEST_P(NodeRefusalTest, KeepsRecordsAndNeverFilesTheRest) {
    const NodeRefusalCase &c = GetParam();
    heap.refuse_request(c.refused);
    EXPECT_EQ(0, parse(c.text));
    EXPECT_EQ(3u, records().size());
    EXPECT_EQ(c.tree, tree());
    EXPECT_EQ(c.refused, heap.requests.size()) << "filing went on after the refusal";

    // A later call files only its own records.
    ASSERT_EQ(0, parse("w=0\n"));
    EXPECT_EQ(4u, records().size());
    EXPECT_EQ(std::string(c.tree) + (*c.tree ? " " : "") + "w=0", tree());
}

INSTANTIATE_TEST_SUITE_P(Requests, NodeRefusalTest,
                         ::testing::Values(
                             // requests 1-3 are the records, then a, b, c
                             NodeRefusalCase{"a=1\nb=2\nc=3\n", 4, ""},
                             NodeRefusalCase{"a=1\nb=2\nc=3\n", 5, "a=1"},
                             NodeRefusalCase{"a=1\nb=2\nc=3\n", 6, "a=1 b=2"},
                             // requests 4-9 are x, a, y, b, z, c
                             NodeRefusalCase{"x.a=1\ny.b=2\nz.c=3\n", 6, "x{a=1}"},
                             NodeRefusalCase{"x.a=1\ny.b=2\nz.c=3\n", 7, "x{a=1} y"}));

TEST_F(ParseCallTest, PlainParseUsesNoFlags) {
    tovik_tree_node *p = tovik_add_subnode(&ctx, nullptr, "p", 1);
    ASSERT_NE(nullptr, p);
    ASSERT_EQ(0, tovik_parse_data_ex(&ctx, p, "x=1\n", 4, TOVIK_FLAG_REPLACE));
    ASSERT_EQ(TOVIK_FLAG_REPLACE, ctx.flags);

    const std::string_view text = "x=2\ny=1\ny=2\n";
    ASSERT_EQ(0, tovik_parse_data(&ctx, p, text.data(), text.size()));
    EXPECT_EQ(0u, ctx.flags);
    EXPECT_EQ(p, ctx.parent);
    // Without the replace flag the first value of a name stays in the tree.
    EXPECT_EQ("p{x=1 y=1}", tree());
    EXPECT_EQ(Records({{"x", "1"}, {"x", "2"}, {"y", "1"}, {"y", "2"}}), records());
}

TEST_F(ParseCallTest, PlainParseMatchesExtendedWithFlagsZero) {
    const std::string_view text = "[s]\nk=1\nk=2\n[t.u]\nv = \"q\"\nw=3";
    tovik_ctx twin;
    TrackingAllocator twin_heap;
    ASSERT_EQ(0,
              tovik_init(&twin, TrackingAllocator::alloc, TrackingAllocator::release, &twin_heap));

    ASSERT_EQ(0, tovik_parse_data(&ctx, nullptr, text.data(), text.size()));
    ASSERT_EQ(0, tovik_parse_data_ex(&twin, nullptr, text.data(), text.size(), 0));
    EXPECT_EQ(tovik_test::records_of(&twin), records());
    EXPECT_EQ(tovik_test::dump_tree(&twin), tree());
    EXPECT_EQ(twin.state, ctx.state);
    EXPECT_EQ(twin_heap.requests, heap.requests);

    EXPECT_EQ(0, tovik_deinit(&twin));
}

// ---------------------------------------------------------------------------
// The user value

struct Probe {
    TrackingAllocator heap;
    std::vector<void *> alloc_users;
    std::vector<void *> free_users;

    static void *alloc(void *user, size_t size) {
        auto *self = static_cast<Probe *>(user);
        self->alloc_users.push_back(user);
        return TrackingAllocator::alloc(&self->heap, size);
    }
    static void release(void *user, void *block) {
        auto *self = static_cast<Probe *>(user);
        self->free_users.push_back(user);
        TrackingAllocator::release(&self->heap, block);
    }
};

TEST(ContextUserTest, UserValueReachesBothCallbacks) {
    Probe probe;
    tovik_ctx c;
    ASSERT_EQ(0, tovik_init(&c, Probe::alloc, Probe::release, &probe));
    ASSERT_EQ(0, tovik_parse_data(&c, nullptr, "[s]\na=1\n", 8));
    ASSERT_EQ(0, tovik_deinit(&c));

    EXPECT_EQ(std::vector<void *>(3, &probe), probe.alloc_users); // record, s, a
    EXPECT_EQ(std::vector<void *>(3, &probe), probe.free_users);
    EXPECT_EQ(0u, probe.heap.live_blocks());
}

} // namespace
