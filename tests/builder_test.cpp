// Filing parsed records into the tree: dotted paths, grafting under a
// caller's node, first-wins and replacing filing across calls, refused
// blocks, replacement that never loses the old node, and very deep keys.
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tracking_allocator.hpp"

namespace {

using tovik_test::ContextTest;
using tovik_test::list_is_empty;
using tovik_test::Records;
using tovik_test::TrackingAllocator;

constexpr uint32_t kReplace = TOVIK_FLAG_REPLACE;
constexpr size_t kNode = sizeof(tovik_tree_node);

class BuilderTest : public ContextTest {};

// ---------------------------------------------------------------------------
// Filing table

struct Call {
    std::string text;
    uint32_t flags;
    bool under_p;     // parse below the node p made with tovik_add_subnode
    std::string tree; // whole tree from the root after this call
};

struct FilingCase {
    const char *label;
    std::vector<Call> calls;
    Records records; // the record list after the last call
};

void PrintTo(const FilingCase &c, std::ostream *os) { *os << c.label; }

class FilingTest : public ContextTest, public ::testing::WithParamInterface<FilingCase> {};

TEST_P(FilingTest, TreeAfterEachCall) {
    const FilingCase &c = GetParam();
    tovik_tree_node *p = nullptr;
    for (const Call &call : c.calls)
        if (call.under_p && !p) {
            p = tovik_add_subnode(&ctx, nullptr, "p", 1);
            ASSERT_NE(nullptr, p);
        }
    for (size_t i = 0; i < c.calls.size(); ++i) {
        const Call &call = c.calls[i];
        SCOPED_TRACE("call " + std::to_string(i + 1));
        EXPECT_EQ(0, parse(call.text, call.flags, call.under_p ? p : nullptr));
        EXPECT_EQ(call.tree, tree());
    }
    EXPECT_EQ(c.records, records());
}

const FilingCase kFilingCases[] = {
    {"repeat_keeps_first", {{"x=1\nx=2\n", 0, false, "x=1"}}, {{"x", "1"}, {"x", "2"}}},
    {"repeat_replaces", {{"x=1\nx=2\n", kReplace, false, "x=2"}}, {{"x", "1"}, {"x", "2"}}},
    {"other_flag_bits_ignored", {{"x=1\nx=2\n", 2, false, "x=1"}}, {{"x", "1"}, {"x", "2"}}},
    {"replace_bit_among_others", {{"x=1\nx=2\n", 3, false, "x=2"}}, {{"x", "1"}, {"x", "2"}}},
    {"empty_segments",
     {{"a..b = 1\n.c = 2\nd. = 3\n", 0, false, "a{b=1} c=2 d"}},
     {{"a..b", "1"}, {".c", "2"}, {"d.", "3"}}},
    {"empty_full_name_adds_nothing", {{"=v\n", 0, false, ""}}, {{"", "v"}}},
    {"lone_dot_adds_nothing", {{".=1\n", 0, false, ""}}, {{".", "1"}}},
    {"empty_key_in_section_makes_a_path_node", {{"[s]\n=v\n", 0, false, "s"}}, {{"s.", "v"}}},
    {"empty_value_is_a_value",
     {{"k=\"\"\nk.c=1\n", 0, false, "k={c=1}"}},
     {{"k", ""}, {"k.c", "1"}}},
    {"graft_under_parent",
     {{"[net]\nport = 80\n", 0, true, "p{net{port=80}}"}},
     {{"net.port", "80"}}},
    {"graft_beside_a_root_of_the_same_name",
     {{"net.port=1\n", 0, false, "p net{port=1}"},
      {"[net]\nport=80\n", 0, true, "p{net{port=80}} net{port=1}"}},
     {{"net.port", "1"}, {"net.port", "80"}}},
    {"earlier_calls_take_part_in_matching",
     {{"a=1\nb=2\n", 0, false, "a=1 b=2"},
      {"a=9\nc=3\n", 0, false, "a=1 b=2 c=3"},
      {"a=7\n", kReplace, false, "b=2 c=3 a=7"}},
     {{"a", "1"}, {"b", "2"}, {"a", "9"}, {"c", "3"}, {"a", "7"}}},
    {"earlier_records_are_not_filed_again",
     {{"a=1\n", 0, false, "a=1"}, {"b=2\n", kReplace, false, "a=1 b=2"}},
     {{"a", "1"}, {"b", "2"}}},
    {"leaf_after_path_keeps_the_path",
     {{"a.b=1\na=2\n", 0, false, "a{b=1}"}},
     {{"a.b", "1"}, {"a", "2"}}},
    {"leaf_after_path_replaces_the_path",
     {{"a.b=1\na=2\n", kReplace, false, "a=2"}},
     {{"a.b", "1"}, {"a", "2"}}},
    {"path_after_leaf_descends",
     {{"a=2\na.b=1\n", 0, false, "a=2{b=1}"}},
     {{"a", "2"}, {"a.b", "1"}}},
    {"path_after_leaf_descends_when_replacing",
     {{"a=2\na.b=1\n", kReplace, false, "a=2{b=1}"}},
     {{"a", "2"}, {"a.b", "1"}}},
    {"dotted_section", {{"[a.b]\nc=1\n", 0, false, "a{b{c=1}}"}}, {{"a.b.c", "1"}}},
    {"dotted_key", {{"[a]\nb.c=1\n", 0, false, "a{b{c=1}}"}}, {{"a.b.c", "1"}}},
    {"section_and_key_share_nodes",
     {{"[a.b]\nc=1\n[a]\nb.d=2\n", 0, false, "a{b{c=1 d=2}}"}},
     {{"a.b.c", "1"}, {"a.b.d", "2"}}},
    {"value_node_gains_children_in_a_later_call",
     {{"a=1\n", 0, false, "a=1"}, {"[a]\nx=2\n", 0, false, "a=1{x=2}"}},
     {{"a", "1"}, {"a.x", "2"}}},
    {"value_node_gains_children_in_the_same_call",
     {{"a=1\na.b=2\na.c=3\n", kReplace, false, "a=1{b=2 c=3}"}},
     {{"a", "1"}, {"a.b", "2"}, {"a.c", "3"}}},
    {"replaced_node_moves_to_the_end",
     {{"a=1\nb=2\na=3\n", kReplace, false, "b=2 a=3"}},
     {{"a", "1"}, {"b", "2"}, {"a", "3"}}},
    {"replacement_drops_the_whole_subtree",
     {{"a.b.c=1\na.d=2\nz=0\n", 0, false, "a{b{c=1} d=2} z=0"},
      {"a=5\n", kReplace, false, "z=0 a=5"}},
     {{"a.b.c", "1"}, {"a.d", "2"}, {"z", "0"}, {"a", "5"}}},
    {"replacement_inside_a_section",
     {{"[s]\na=1\nb=2\na=3\n", kReplace, false, "s{b=2 a=3}"}},
     {{"s.a", "1"}, {"s.b", "2"}, {"s.a", "3"}}},
    {"replacement_under_parent",
     {{"k=1\n", 0, true, "p{k=1}"},
      {"k=2\n", kReplace, false, "p{k=1} k=2"},
      {"k=3\n", kReplace, true, "p{k=3} k=2"}},
     {{"k", "1"}, {"k", "2"}, {"k", "3"}}},
};

INSTANTIATE_TEST_SUITE_P(Cases, FilingTest, ::testing::ValuesIn(kFilingCases),
                         [](const ::testing::TestParamInfo<FilingCase> &info) {
                             return info.param.label;
                         });

// ---------------------------------------------------------------------------
// Refused blocks

struct RefusalCase {
    size_t refused; // 1-based request to refuse, 0 for none
    size_t records; // records made
    std::string tree;
    size_t requests; // requests made in all
};

void PrintTo(const RefusalCase &c, std::ostream *os) { *os << "refuse #" << c.refused; }

class RefusalTest : public ContextTest, public ::testing::WithParamInterface<RefusalCase> {};

// Requests come in this order: the records x.a, y.b, z.c, then the nodes
// x, a, y, b, z, c. Any refusal ends the call where it is.
TEST_P(RefusalTest, FilingStopsAtTheRefusedBlock) {
    const RefusalCase &c = GetParam();
    if (c.refused)
        heap.refuse_request(c.refused);
    EXPECT_EQ(0, parse("x.a=1\ny.b=2\nz.c=3\n"));
    const Records all = {{"x.a", "1"}, {"y.b", "2"}, {"z.c", "3"}};
    EXPECT_EQ(Records(all.begin(), all.begin() + c.records), records());
    EXPECT_EQ(c.tree, tree());
    EXPECT_EQ(c.requests, heap.requests.size());
    EXPECT_TRUE(heap.released.empty());
}

INSTANTIATE_TEST_SUITE_P(EachRequest, RefusalTest,
                         ::testing::Values(RefusalCase{0, 3, "x{a=1} y{b=2} z{c=3}", 9},
                                           RefusalCase{1, 0, "", 1}, RefusalCase{2, 1, "x{a=1}", 4},
                                           RefusalCase{3, 2, "x{a=1} y{b=2}", 7},
                                           RefusalCase{4, 3, "", 4}, RefusalCase{5, 3, "x", 5},
                                           RefusalCase{6, 3, "x{a=1}", 6},
                                           RefusalCase{7, 3, "x{a=1} y", 7},
                                           RefusalCase{8, 3, "x{a=1} y{b=2}", 8},
                                           RefusalCase{9, 3, "x{a=1} y{b=2} z", 9}),
                         [](const ::testing::TestParamInfo<RefusalCase> &info) {
                             return info.param.refused
                                        ? "refuse_" + std::to_string(info.param.refused)
                                        : std::string("refuse_none");
                         });

TEST_F(BuilderTest, NodeSizesFollowTheSegments) {
    EXPECT_EQ(0, parse("[net.ipv4]\nport = 8080\n"));
    ASSERT_EQ(4u, heap.requests.size());
    EXPECT_EQ(kNode + 4, heap.requests[1]);     // net
    EXPECT_EQ(kNode + 8, heap.requests[2]);     // ipv4
    EXPECT_EQ(kNode + 8 + 8, heap.requests[3]); // port = 8080
    EXPECT_EQ("net{ipv4{port=8080}}", tree());
}

// ---------------------------------------------------------------------------
// Replacement

// Logs every request and release of the context in one sequence, so that the
// order between the two can be checked.
struct Event {
    char kind; // 'a' for a request, 'f' for a release
    void *block;
    bool operator==(const Event &other) const { return kind == other.kind && block == other.block; }
};

std::ostream &operator<<(std::ostream &os, const Event &e) {
    return os << e.kind << ':' << e.block;
}

class ReplaceTest : public ContextTest {
  protected:
    void SetUp() override {
        ContextTest::SetUp();
        ASSERT_EQ(0, tovik_init(&ctx, &ReplaceTest::alloc, &ReplaceTest::release, this));
    }
    static void *alloc(void *user, size_t size) {
        auto *self = static_cast<ReplaceTest *>(user);
        void *block = TrackingAllocator::alloc(&self->heap, size);
        self->events.push_back({'a', block});
        return block;
    }
    static void release(void *user, void *block) {
        auto *self = static_cast<ReplaceTest *>(user);
        self->events.push_back({'f', block});
        TrackingAllocator::release(&self->heap, block);
    }
    tovik_tree_node *child(tovik_tree_node *parent, const char *name) {
        return tovik_find_tree_node(&ctx, parent, name, std::char_traits<char>::length(name));
    }

    std::vector<Event> events;
};

TEST_F(ReplaceTest, RefusedLeafLeavesTheOldSubtreeInPlaceAndStopsFiling) {
    ASSERT_EQ(0, parse("a.x=1\na.y=2\nb=3\n"));
    ASSERT_EQ("a{x=1 y=2} b=3", tree());
    tovik_tree_node *a = child(nullptr, "a");
    tovik_tree_node *x = child(a, "x");
    tovik_tree_node *y = child(a, "y");
    tovik_tree_node *b = child(nullptr, "b");
    ASSERT_TRUE(a && x && y && b);

    // Requests: record a, record c, then the new leaf a (refused).
    size_t requested = heap.requests.size();
    heap.refuse_request(3);
    EXPECT_EQ(0, parse("a=9\nc=4\n", kReplace));

    EXPECT_TRUE(heap.released.empty());
    EXPECT_EQ(requested + 3, heap.requests.size()) << "nothing may be requested after the refusal";
    EXPECT_EQ("a{x=1 y=2} b=3", tree());
    EXPECT_EQ(&a->link, ctx.tree.next);
    EXPECT_EQ(&b->link, a->link.next);
    EXPECT_EQ(&x->link, a->children.next);
    EXPECT_EQ(&y->link, a->children.prev);
    EXPECT_EQ(a, x->parent);
    EXPECT_EQ(nullptr, a->value);
    EXPECT_EQ((Records{{"a.x", "1"}, {"a.y", "2"}, {"b", "3"}, {"a", "9"}, {"c", "4"}}), records());
}

TEST_F(ReplaceTest, NewLeafIsRequestedBeforeTheOldSubtreeIsReleased) {
    ASSERT_EQ(0, parse("a.x=1\na.y.z=2\nb=3\n"));
    ASSERT_EQ("a{x=1 y{z=2}} b=3", tree());
    tovik_tree_node *a = child(nullptr, "a");
    tovik_tree_node *x = child(a, "x");
    tovik_tree_node *y = child(a, "y");
    tovik_tree_node *z = child(y, "z");
    ASSERT_TRUE(a && x && y && z);
    events.clear();
    size_t requested = heap.requests.size();

    EXPECT_EQ(0, parse("a=9\n", kReplace));

    tovik_kv *record = tovik_kv_iter(&ctx, nullptr);
    for (int i = 0; i < 3 && record; ++i)
        record = tovik_kv_iter(&ctx, record);
    ASSERT_NE(nullptr, record);
    tovik_tree_node *leaf = child(nullptr, "a");
    ASSERT_NE(nullptr, leaf);
    const std::vector<Event> expected = {{'a', record}, {'a', leaf}, {'f', x},
                                         {'f', z},      {'f', y},    {'f', a}};
    EXPECT_EQ(expected, events);
    ASSERT_EQ(requested + 2, heap.requests.size());
    EXPECT_EQ(kNode + 4 + 4, heap.requests.back());
    EXPECT_EQ("b=3 a=9", tree());
    EXPECT_EQ(&leaf->link, ctx.tree.prev);
    EXPECT_EQ(nullptr, leaf->parent);
}

TEST_F(BuilderTest, ReplacementWithoutReleaseCallbackUnlinksTheOldSubtree) {
    tovik_ctx no_free{};
    ASSERT_EQ(0, tovik_init(&no_free, TrackingAllocator::alloc, nullptr, &heap));
    const char first[] = "a.x=1\nb=2\n";
    const char second[] = "a=9\n";
    ASSERT_EQ(0, tovik_parse_data(&no_free, nullptr, first, sizeof first - 1));
    ASSERT_EQ("a{x=1} b=2", tovik_test::dump_tree(&no_free));
    tovik_tree_node *old_a = tovik_find_tree_node(&no_free, nullptr, "a", 1);
    ASSERT_NE(nullptr, old_a);
    tovik_tree_node *old_x = tovik_find_tree_node(&no_free, old_a, "x", 1);
    ASSERT_NE(nullptr, old_x);

    EXPECT_EQ(0, tovik_parse_data_ex(&no_free, nullptr, second, sizeof second - 1, kReplace));

    EXPECT_EQ("b=2 a=9", tovik_test::dump_tree(&no_free));
    EXPECT_TRUE(heap.released.empty());
    EXPECT_TRUE(heap.is_live(old_a));
    EXPECT_TRUE(heap.is_live(old_x));
    tovik_tree_node *new_a = tovik_find_tree_node(&no_free, nullptr, "a", 1);
    ASSERT_NE(nullptr, new_a);
    EXPECT_NE(old_a, new_a);
    EXPECT_EQ((Records{{"a.x", "1"}, {"b", "2"}, {"a", "9"}}), tovik_test::records_of(&no_free));

    bool old_still_linked = false;
    for (tovik_tree_node *n = tovik_kv_tree_iter(&no_free, nullptr, nullptr); n;
         n = tovik_kv_tree_iter(&no_free, nullptr, n))
        old_still_linked |= n == old_a;
    ASSERT_FALSE(old_still_linked) << "the replaced node must leave the tree";

    // The unlinked blocks are ours now; the rest goes through deinit.
    TrackingAllocator::release(&heap, old_x);
    TrackingAllocator::release(&heap, old_a);
    no_free.free_fn = TrackingAllocator::release;
    EXPECT_EQ(0, tovik_deinit(&no_free));
}

// ---------------------------------------------------------------------------
// Very deep keys

constexpr size_t kDots = 1000000;

class DeepKeyTest : public ContextTest {
  protected:
    // "a.a.a...a=1": one node per segment, the last one the leaf.
    void parse_deep_key() {
        std::string text = "a";
        text.reserve(2 * kDots + 4);
        for (size_t i = 0; i < kDots; ++i)
            text += ".a";
        text += "=1\n";
        ASSERT_EQ(0, parse(text));
        ASSERT_EQ(kDots + 2, heap.requests.size()) << "one record and one block per node";

        chain.reserve(kDots + 1);
        tovik_tree_node *node = tovik_kv_tree_iter(&ctx, nullptr, nullptr);
        while (node) {
            chain.push_back(node);
            ASSERT_EQ(1u, node->name_len);
            ASSERT_EQ('a', node->name[0]);
            tovik_tree_node *next = tovik_kv_tree_iter(&ctx, node, nullptr);
            if (next) {
                ASSERT_EQ(nullptr, tovik_kv_tree_iter(&ctx, node, next)) << "one child per level";
            }
            node = next;
        }
        ASSERT_EQ(kDots + 1, chain.size());
        ASSERT_NE(nullptr, chain.back()->value);
        EXPECT_EQ("1", std::string(chain.back()->value, chain.back()->value_len));
        EXPECT_EQ(nullptr, chain[kDots - 1]->value);
    }
    void expect_chain_released_bottom_up() {
        tovik_test::expect_released_bottom_up(heap.released, chain);
    }

    std::vector<tovik_tree_node *> chain;
};

TEST_F(DeepKeyTest, MillionDotKeyParsesAndDeinitReleasesIt) {
    ASSERT_NO_FATAL_FAILURE(parse_deep_key());
    tovik_kv *record = tovik_kv_iter(&ctx, nullptr);
    ASSERT_NE(nullptr, record);

    EXPECT_EQ(0, tovik_deinit(&ctx));
    ASSERT_EQ(kDots + 2, heap.released.size());
    expect_chain_released_bottom_up();
    EXPECT_EQ(record, heap.released.back()) << "records go after the tree";
    EXPECT_TRUE(list_is_empty(ctx.tree));
    EXPECT_TRUE(list_is_empty(ctx.records));
}

TEST_F(DeepKeyTest, ReplacingAMillionLevelPathReleasesItBottomUp) {
    ASSERT_NO_FATAL_FAILURE(parse_deep_key());
    EXPECT_EQ(0, parse("a=2\n", kReplace));
    // The tree dump below recurses per level, so it runs only once the chain is gone.
    ASSERT_EQ(kDots + 1, heap.released.size());
    expect_chain_released_bottom_up();
    EXPECT_EQ("a=2", tree());
}

} // namespace
