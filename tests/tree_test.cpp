// Tree nodes: block layout, lookups, iteration, release order, null
// arguments, sizes that would not fit in size_t, and very deep subtrees.
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tracking_allocator.hpp"

namespace {

using namespace std::string_literals;
using tovik_test::ContextTest;
using tovik_test::list_is_empty;
using tovik_test::TrackingAllocator;

constexpr size_t kFixed = sizeof(tovik_tree_node);

// Bytes a text of `len` bytes takes inside a block: itself, its NUL, padding to 4.
constexpr size_t area(size_t len) { return (len + 1 + 3) / 4 * 4; }

// A context whose release callback checks, for every node it receives, that
// the node has no children left and is no longer in its sibling list, and
// that this list is still consistent both ways. Nodes get labels when they
// are made, so release orders read as names.
class TreeTest : public ContextTest {
  protected:
    void SetUp() override {
        ContextTest::SetUp();
        ASSERT_EQ(0, tovik_init(&ctx, &TreeTest::alloc, &TreeTest::release, this));
    }
    void TearDown() override {
        checking_ = false; // records are released too from here on
        ContextTest::TearDown();
    }

    static void *alloc(void *user, size_t size) {
        return TrackingAllocator::alloc(&static_cast<TreeTest *>(user)->heap, size);
    }
    static void release(void *user, void *block) {
        auto *self = static_cast<TreeTest *>(user);
        if (self->checking_)
            self->check_released_node(static_cast<tovik_tree_node *>(block));
        TrackingAllocator::release(&self->heap, block);
    }

    void check_released_node(tovik_tree_node *node) {
        EXPECT_TRUE(list_is_empty(node->children))
            << label_of(node) << " is released while it still has children";
        const tovik_list *list = node->parent ? &node->parent->children : &ctx.tree;
        const tovik_list *link = list;
        for (size_t steps = 0; steps < 100000; ++steps) {
            if (link->next->prev != link) {
                ADD_FAILURE() << "sibling list broken when " << label_of(node) << " is released";
                return;
            }
            link = link->next;
            if (link == list)
                return;
            if (link == &node->link) {
                ADD_FAILURE() << label_of(node) << " is still linked when it is released";
                return;
            }
        }
        ADD_FAILURE() << "sibling list of " << label_of(node) << " does not close";
    }

    tovik_tree_node *sub(tovik_tree_node *parent, std::string_view name) {
        tovik_tree_node *node = tovik_add_subnode(&ctx, parent, name.data(), name.size());
        EXPECT_NE(nullptr, node) << "add_subnode " << name;
        labels_[node] = std::string(name);
        return node;
    }
    tovik_tree_node *val(tovik_tree_node *parent, std::string_view name, std::string_view value) {
        tovik_tree_node *node =
            tovik_add_valuenode(&ctx, parent, name.data(), name.size(), value.data(), value.size());
        EXPECT_NE(nullptr, node) << "add_valuenode " << name;
        labels_[node] = std::string(name);
        return node;
    }
    std::string label_of(const void *node) const {
        auto it = labels_.find(node);
        return it == labels_.end() ? "?" : it->second;
    }
    void label(const void *node, std::string name) { labels_[node] = std::move(name); }
    std::vector<std::string> released_labels() const {
        std::vector<std::string> out;
        for (void *block : heap.released)
            out.push_back(label_of(block));
        return out;
    }

  private:
    bool checking_ = true;
    std::map<const void *, std::string> labels_;
};

using Labels = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Block size and layout

struct BlockCase {
    const char *label;
    std::string name;
    std::optional<std::string> value; // none: a node without value
    size_t text_bytes;                // block size minus the fixed fields
};

void PrintTo(const BlockCase &c, std::ostream *os) { *os << c.label; }

class NodeBlockTest : public ContextTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(NodeBlockTest, BlockHoldsBothTextsRightAfterTheFixedFields) {
    const BlockCase &c = GetParam();
    tovik_tree_node *p = tovik_add_subnode(&ctx, nullptr, "p", 1);
    ASSERT_NE(nullptr, p);
    tovik_tree_node *first = tovik_add_subnode(&ctx, p, "first", 5);
    ASSERT_NE(nullptr, first);

    tovik_tree_node *node = c.value ? tovik_add_valuenode(&ctx, p, c.name.data(), c.name.size(),
                                                          c.value->data(), c.value->size())
                                    : tovik_add_subnode(&ctx, p, c.name.data(), c.name.size());
    ASSERT_NE(nullptr, node);

    ASSERT_EQ(3u, heap.requests.size());
    EXPECT_EQ(kFixed + c.text_bytes, heap.requests.back());
    EXPECT_EQ(kFixed + c.text_bytes, heap.size_of(node));

    char *text_area = reinterpret_cast<char *>(node) + kFixed;
    EXPECT_EQ(text_area, node->name);
    ASSERT_EQ(c.name.size(), node->name_len);
    EXPECT_EQ(c.name, std::string(node->name, node->name_len));
    EXPECT_EQ('\0', node->name[node->name_len]);
    if (c.value) {
        EXPECT_EQ(text_area + area(c.name.size()), node->value);
        ASSERT_EQ(c.value->size(), node->value_len);
        EXPECT_EQ(*c.value, std::string(node->value, node->value_len));
        EXPECT_EQ('\0', node->value[node->value_len]);
    } else {
        EXPECT_EQ(nullptr, node->value);
        EXPECT_EQ(0u, node->value_len);
    }

    EXPECT_EQ(p, node->parent);
    EXPECT_TRUE(list_is_empty(node->children));
    // Appended after `first`, last in p's children.
    EXPECT_EQ(&first->link, node->link.prev);
    EXPECT_EQ(&node->link, first->link.next);
    EXPECT_EQ(&p->children, node->link.next);
    EXPECT_EQ(&node->link, p->children.prev);
    EXPECT_EQ(nullptr, p->parent);
    EXPECT_EQ(&p->link, ctx.tree.next);
    EXPECT_EQ(&p->link, ctx.tree.prev);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, NodeBlockTest,
    ::testing::Values(BlockCase{"four_byte_name_no_value", "abcd", std::nullopt, 8},
                      BlockCase{"two_byte_name_six_byte_value", "ab", "abcdef"s, 4 + 8},
                      BlockCase{"two_byte_name_empty_value", "ab", ""s, 4 + 4},
                      BlockCase{"three_byte_name_no_value", "abc", std::nullopt, 4},
                      BlockCase{"empty_name_no_value", "", std::nullopt, 4},
                      BlockCase{"empty_name_empty_value", "", ""s, 4 + 4},
                      BlockCase{"seven_byte_name_three_byte_value", "abcdefg", "xyz"s, 8 + 4},
                      BlockCase{"eight_byte_name_four_byte_value", "abcdefgh", "wxyz"s, 12 + 8},
                      BlockCase{"nul_and_high_bytes_kept", "a\0\xff"s, "\0v\x80\0"s, 4 + 8}),
    [](const ::testing::TestParamInfo<BlockCase> &info) { return info.param.label; });

TEST_F(TreeTest, ValueNodeNeedsAValueButAcceptsAnEmptyOne) {
    EXPECT_EQ(nullptr, tovik_add_valuenode(&ctx, nullptr, "k", 1, nullptr, 0));
    EXPECT_EQ(nullptr, tovik_add_valuenode(&ctx, nullptr, "k", 1, nullptr, 3));
    EXPECT_EQ(nullptr, tovik_add_valuenode(&ctx, nullptr, nullptr, 1, "v", 1));
    EXPECT_EQ(nullptr, tovik_add_subnode(&ctx, nullptr, nullptr, 1));
    EXPECT_TRUE(heap.requests.empty());
    EXPECT_TRUE(list_is_empty(ctx.tree));

    // A zero length with a real pointer gives an empty string, not NULL.
    tovik_tree_node *node = tovik_add_valuenode(&ctx, nullptr, "k", 1, "ignored", 0);
    ASSERT_NE(nullptr, node);
    ASSERT_NE(nullptr, node->value);
    EXPECT_EQ(0u, node->value_len);
    EXPECT_EQ('\0', node->value[0]);
    EXPECT_EQ("k=", tree());
}

// ---------------------------------------------------------------------------
// Lookup

TEST_F(TreeTest, FindComparesLengthAndEveryByte) {
    tovik_tree_node *a = sub(nullptr, "a");
    tovik_tree_node *ab = sub(nullptr, "ab");
    tovik_tree_node *a_nul_b = sub(nullptr, "a\0b"s);
    tovik_tree_node *a_nul_c = sub(nullptr, "a\0c"s);
    tovik_tree_node *high = sub(nullptr, "\xff\x80");
    tovik_tree_node *upper = sub(nullptr, "A");
    tovik_tree_node *empty = sub(nullptr, "");
    tovik_tree_node *dotted = sub(nullptr, "a.b");
    tovik_tree_node *b_under_a = sub(a, "b");

    struct Query {
        const char *what;
        std::string_view name;
        tovik_tree_node *expected;
    };
    const std::vector<Query> queries = {
        {"one byte", "a", a},
        {"prefix of nothing longer", "ab", ab},
        {"only the given length is read", std::string_view("abX", 2), ab},
        {"NUL inside, first", std::string_view("a\0b", 3), a_nul_b},
        {"NUL inside, second", std::string_view("a\0c", 3), a_nul_c},
        {"NUL inside, no match", std::string_view("a\0d", 3), nullptr},
        {"shorter than every NUL name", std::string_view("a\0", 2), nullptr},
        {"high bytes", "\xff\x80", high},
        {"high byte prefix", "\xff", nullptr},
        {"case kept", "A", upper},
        {"empty name", "", empty},
        {"longer than any name", "abc", nullptr},
        {"a dotted name is one name", "a.b", dotted},
        {"children are not searched", "b", nullptr},
    };
    for (const Query &q : queries) {
        SCOPED_TRACE(q.what);
        EXPECT_EQ(q.expected, tovik_find_tree_node(&ctx, nullptr, q.name.data(), q.name.size()));
    }
    EXPECT_EQ(b_under_a, tovik_find_tree_node(&ctx, a, "b", 1));
    EXPECT_EQ(nullptr, tovik_find_tree_node(&ctx, a, "a", 1));
}

TEST_F(TreeTest, FindSearchesOneLevelAndDoesNotSplitDots) {
    tovik_tree_node *x = sub(nullptr, "x");
    tovik_tree_node *y = sub(x, "y");
    sub(y, "z");

    EXPECT_EQ(nullptr, tovik_find_tree_node(&ctx, nullptr, "x.y", 3));
    EXPECT_EQ(nullptr, tovik_find_tree_node(&ctx, x, "y.z", 3));
    EXPECT_EQ(nullptr, tovik_find_tree_node(&ctx, nullptr, "y", 1));
    EXPECT_EQ(nullptr, tovik_find_tree_node(&ctx, x, "z", 1));
    EXPECT_EQ(y, tovik_find_tree_node(&ctx, x, "y", 1));
}

TEST_F(TreeTest, SameNameSiblingsAreBothKeptAndFindGivesTheEarlier) {
    tovik_tree_node *p = sub(nullptr, "p");
    tovik_tree_node *first = val(p, "k", "1");
    tovik_tree_node *other = val(p, "j", "0");
    tovik_tree_node *second = val(p, "k", "2");

    EXPECT_EQ(first, tovik_find_tree_node(&ctx, p, "k", 1));
    EXPECT_EQ(first, tovik_kv_tree_iter(&ctx, p, nullptr));
    EXPECT_EQ(other, tovik_kv_tree_iter(&ctx, p, first));
    EXPECT_EQ(second, tovik_kv_tree_iter(&ctx, p, other));
    EXPECT_EQ(nullptr, tovik_kv_tree_iter(&ctx, p, second));
    EXPECT_EQ("p{k=1 j=0 k=2}", tree());
}

// ---------------------------------------------------------------------------
// Iteration

TEST_F(TreeTest, IterWalksOneListAndRejectsAForeignPrev) {
    EXPECT_EQ(nullptr, tovik_kv_tree_iter(&ctx, nullptr, nullptr)) << "empty root list";

    tovik_tree_node *a = sub(nullptr, "a");
    tovik_tree_node *c = sub(a, "c");
    tovik_tree_node *d = sub(a, "d");
    tovik_tree_node *b = sub(nullptr, "b");
    tovik_tree_node *e = val(b, "e", "1");
    tovik_tree_node *f = val(nullptr, "f", "2");

    struct Step {
        const char *what;
        tovik_ctx *context;
        tovik_tree_node *parent;
        tovik_tree_node *prev;
        tovik_tree_node *expected;
    };
    const std::vector<Step> steps = {
        {"null context", nullptr, nullptr, nullptr, nullptr},
        {"null context with a node", nullptr, a, c, nullptr},
        {"first root", &ctx, nullptr, nullptr, a},
        {"second root", &ctx, nullptr, a, b},
        {"third root", &ctx, nullptr, b, f},
        {"after the last root", &ctx, nullptr, f, nullptr},
        {"first child", &ctx, a, nullptr, c},
        {"second child", &ctx, a, c, d},
        {"after the last child", &ctx, a, d, nullptr},
        {"prev is a child of another node", &ctx, a, e, nullptr},
        {"root list with a child as prev", &ctx, nullptr, c, nullptr},
        {"root list with a deeper child as prev", &ctx, nullptr, e, nullptr},
        {"a root as its own prev", &ctx, a, a, nullptr},
        {"a root as prev under a node", &ctx, a, b, nullptr},
        {"value node without children", &ctx, f, nullptr, nullptr},
        {"subnode without children", &ctx, c, nullptr, nullptr},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        EXPECT_EQ(s.expected, tovik_kv_tree_iter(s.context, s.parent, s.prev));
    }
}

// ---------------------------------------------------------------------------
// Release

TEST_F(TreeTest, FreeReleasesChildrenThenTheNodeAndRelinksItsSiblings) {
    tovik_tree_node *r1 = sub(nullptr, "r1");
    tovik_tree_node *m = sub(nullptr, "m");
    val(m, "c1", "1");
    val(m, "c2", "2");
    tovik_tree_node *r2 = sub(nullptr, "r2");
    size_t requested = heap.requests.size();

    tovik_free_tree_node(&ctx, m);

    EXPECT_EQ((Labels{"c1", "c2", "m"}), released_labels());
    EXPECT_EQ(&r2->link, r1->link.next);
    EXPECT_EQ(&r1->link, r2->link.prev);
    EXPECT_EQ(&r1->link, ctx.tree.next);
    EXPECT_EQ(&r2->link, ctx.tree.prev);
    EXPECT_EQ("r1 r2", tree());
    EXPECT_EQ(requested, heap.requests.size());
}

TEST_F(TreeTest, FreeOfAMiddleChildKeepsTheOtherChildrenLinked) {
    tovik_tree_node *q = sub(nullptr, "q");
    tovik_tree_node *u = val(q, "u", "1");
    tovik_tree_node *v = sub(q, "v");
    val(v, "deep", "x");
    tovik_tree_node *w = val(q, "w", "3");

    tovik_free_tree_node(&ctx, v);

    EXPECT_EQ((Labels{"deep", "v"}), released_labels());
    EXPECT_EQ(&w->link, u->link.next);
    EXPECT_EQ(&u->link, w->link.prev);
    EXPECT_EQ(&u->link, q->children.next);
    EXPECT_EQ(&w->link, q->children.prev);
    EXPECT_EQ("q{u=1 w=3}", tree());
}

TEST_F(TreeTest, FreeGoesDepthFirstInSiblingOrderChildrenBeforeParents) {
    tovik_tree_node *a = sub(nullptr, "a");
    tovik_tree_node *b = sub(a, "b");
    val(b, "c", "1");
    tovik_tree_node *d = sub(b, "d");
    val(d, "e", "2");
    tovik_tree_node *f = val(a, "f", "3");
    val(f, "g", "4");
    tovik_tree_node *h = sub(nullptr, "h");
    val(h, "i", "5");
    ASSERT_EQ("a{b{c=1 d{e=2}} f=3{g=4}} h{i=5}", tree());

    tovik_free_tree_node(&ctx, a);
    EXPECT_EQ((Labels{"c", "e", "d", "b", "g", "f", "a"}), released_labels());
    EXPECT_EQ("h{i=5}", tree());

    heap.released.clear();
    tovik_free_tree_node(&ctx, nullptr);
    EXPECT_EQ((Labels{"i", "h"}), released_labels());
    EXPECT_TRUE(list_is_empty(ctx.tree));
}

TEST_F(TreeTest, FreeAllReleasesEveryRootAndLeavesRecordsAlone) {
    ASSERT_EQ(0, parse("k=v\n"));
    tovik_tree_node *k = tovik_find_tree_node(&ctx, nullptr, "k", 1);
    ASSERT_NE(nullptr, k);
    label(k, "k");
    sub(nullptr, "r2");
    val(nullptr, "r3", "3");
    tovik_kv *record = tovik_find_key(&ctx, "k");
    ASSERT_NE(nullptr, record);

    tovik_free_tree_node(&ctx, nullptr);

    EXPECT_EQ((Labels{"k", "r2", "r3"}), released_labels());
    EXPECT_TRUE(list_is_empty(ctx.tree));
    EXPECT_EQ("", tree());
    EXPECT_TRUE(heap.is_live(record));
    EXPECT_EQ(record, tovik_find_key(&ctx, "k"));
    EXPECT_EQ((tovik_test::Records{{"k", "v"}}), records());
}

// ---------------------------------------------------------------------------
// Null arguments

TEST_F(TreeTest, AddWithoutContextOrAllocatorGivesNullAndAllocatesNothing) {
    EXPECT_EQ(nullptr, tovik_add_subnode(nullptr, nullptr, "a", 1));
    EXPECT_EQ(nullptr, tovik_add_valuenode(nullptr, nullptr, "a", 1, "v", 1));

    tovik_ctx no_alloc{};
    ASSERT_EQ(0,
              tovik_init(&no_alloc, TrackingAllocator::alloc, TrackingAllocator::release, &heap));
    no_alloc.alloc_fn = nullptr;
    EXPECT_EQ(nullptr, tovik_add_subnode(&no_alloc, nullptr, "a", 1));
    EXPECT_EQ(nullptr, tovik_add_valuenode(&no_alloc, nullptr, "a", 1, "v", 1));
    EXPECT_TRUE(list_is_empty(no_alloc.tree));

    EXPECT_TRUE(heap.requests.empty());
    EXPECT_TRUE(list_is_empty(ctx.tree));
}

TEST_F(TreeTest, FindWithoutContextOrNameGivesNull) {
    tovik_tree_node *a = sub(nullptr, "a");
    sub(a, "b");
    EXPECT_EQ(nullptr, tovik_find_tree_node(nullptr, nullptr, "a", 1));
    EXPECT_EQ(nullptr, tovik_find_tree_node(nullptr, a, "b", 1));
    EXPECT_EQ(nullptr, tovik_find_tree_node(&ctx, nullptr, nullptr, 0));
    EXPECT_EQ(nullptr, tovik_find_tree_node(&ctx, nullptr, nullptr, 1));
    EXPECT_EQ(nullptr, tovik_find_tree_node(&ctx, a, nullptr, 1));
}

TEST_F(TreeTest, FreeWithoutContextOrReleaseCallbackDoesNothing) {
    tovik_tree_node *a = sub(nullptr, "a");
    sub(a, "b");
    tovik_free_tree_node(nullptr, a);
    tovik_free_tree_node(nullptr, nullptr);
    EXPECT_TRUE(heap.released.empty());
    EXPECT_EQ("a{b}", tree());

    tovik_ctx no_free{};
    ASSERT_EQ(0, tovik_init(&no_free, TrackingAllocator::alloc, nullptr, &heap));
    tovik_tree_node *x = tovik_add_subnode(&no_free, nullptr, "x", 1);
    ASSERT_NE(nullptr, x);
    ASSERT_NE(nullptr, tovik_add_valuenode(&no_free, x, "y", 1, "1", 1));
    tovik_free_tree_node(&no_free, x);
    tovik_free_tree_node(&no_free, nullptr);
    EXPECT_TRUE(heap.released.empty());
    EXPECT_EQ("x{y=1}", tovik_test::dump_tree(&no_free));

    no_free.free_fn = TrackingAllocator::release;
    EXPECT_EQ(0, tovik_deinit(&no_free));
}

// ---------------------------------------------------------------------------
// Sizes that do not fit in size_t

// The exact block size, or nothing when it exceeds SIZE_MAX.
std::optional<size_t> exact_block_size(size_t name_len, std::optional<size_t> value_len) {
    auto text = [](size_t len) -> std::optional<size_t> {
        if (len > SIZE_MAX - 4)
            return std::nullopt;
        return (len + 4) / 4 * 4;
    };
    std::optional<size_t> name = text(name_len);
    if (!name || *name > SIZE_MAX - kFixed)
        return std::nullopt;
    size_t size = kFixed + *name;
    if (value_len) {
        std::optional<size_t> value = text(*value_len);
        if (!value || *value > SIZE_MAX - size)
            return std::nullopt;
        size += *value;
    }
    return size;
}

struct HugeCase {
    const char *label;
    size_t name_len;
    std::optional<size_t> value_len; // none: a node without value
};

void PrintTo(const HugeCase &c, std::ostream *os) { *os << c.label; }

class HugeNodeTest : public ContextTest, public ::testing::WithParamInterface<HugeCase> {};

TEST_P(HugeNodeTest, SizeIsNeverWrapped) {
    const HugeCase &c = GetParam();
    // Tiny real buffers: nothing may be read from them before the block is
    // granted, and every request below is refused.
    static const char name[] = "nm";
    static const char value[] = "vl";
    heap.refuse_from(1);

    tovik_tree_node *node =
        c.value_len ? tovik_add_valuenode(&ctx, nullptr, name, c.name_len, value, *c.value_len)
                    : tovik_add_subnode(&ctx, nullptr, name, c.name_len);

    EXPECT_EQ(nullptr, node);
    EXPECT_TRUE(list_is_empty(ctx.tree));
    std::optional<size_t> exact = exact_block_size(c.name_len, c.value_len);
    if (exact) {
        // Refusing it up front is as good as asking for the right size.
        EXPECT_TRUE(heap.requests.empty() || heap.requests == std::vector<size_t>{*exact})
            << "requested " << heap.requests.front() << ", the block takes " << *exact;
    } else {
        EXPECT_TRUE(heap.requests.empty())
            << "a block size that does not fit was requested as " << heap.requests.front();
    }
}

constexpr size_t kMax = SIZE_MAX;
constexpr size_t kHalf = SIZE_MAX / 2;
// Largest lengths whose block still fits, given a 1-byte name for values.
constexpr size_t kNameFits = SIZE_MAX - kFixed - 4;
constexpr size_t kValueFits = SIZE_MAX - kFixed - 4 - 4;

INSTANTIATE_TEST_SUITE_P(
    Limits, HugeNodeTest,
    ::testing::Values(HugeCase{"name_max", kMax, std::nullopt},
                      HugeCase{"name_max_minus_1", kMax - 1, std::nullopt},
                      HugeCase{"name_max_minus_2", kMax - 2, std::nullopt},
                      HugeCase{"name_max_minus_3", kMax - 3, std::nullopt},
                      HugeCase{"name_max_minus_4", kMax - 4, std::nullopt},
                      HugeCase{"name_fits_exactly", kNameFits, std::nullopt},
                      HugeCase{"name_one_past_fitting", kNameFits + 1, std::nullopt},
                      HugeCase{"name_just_over_fixed_fields", kMax - kFixed, std::nullopt},
                      HugeCase{"valuenode_name_max", kMax, size_t{1}},
                      HugeCase{"valuenode_name_max_minus_4", kMax - 4, size_t{1}},
                      HugeCase{"value_max", 1, kMax}, HugeCase{"value_max_minus_1", 1, kMax - 1},
                      HugeCase{"value_max_minus_2", 1, kMax - 2},
                      HugeCase{"value_max_minus_3", 1, kMax - 3},
                      HugeCase{"value_max_minus_4", 1, kMax - 4},
                      HugeCase{"value_fits_exactly", 1, kValueFits},
                      HugeCase{"value_one_past_fitting", 1, kValueFits + 1},
                      HugeCase{"both_half_sum_wraps", kHalf, kHalf},
                      HugeCase{"both_half_sum_fits", kHalf, kHalf - 100},
                      HugeCase{"name_and_value_max", kMax, kMax},
                      HugeCase{"name_fits_value_empty_wraps", kNameFits, size_t{0}}),
    [](const ::testing::TestParamInfo<HugeCase> &info) { return info.param.label; });

// ---------------------------------------------------------------------------
// Very deep subtrees

constexpr size_t kDepth = 1000000;

class DeepChainTest : public ContextTest {
  protected:
    // n0 -> n1 -> ... one child per level, then a second root `z`.
    void build_chain() {
        chain.reserve(kDepth);
        tovik_tree_node *parent = nullptr;
        for (size_t i = 0; i < kDepth; ++i) {
            parent = tovik_add_subnode(&ctx, parent, "n", 1);
            ASSERT_NE(nullptr, parent) << "level " << i;
            chain.push_back(parent);
        }
        z = tovik_add_valuenode(&ctx, nullptr, "z", 1, "1", 1);
        ASSERT_NE(nullptr, z);
    }
    // The chain must come back deepest first, the top last.
    void expect_chain_released_bottom_up() {
        tovik_test::expect_released_bottom_up(heap.released, chain);
    }

    std::vector<tovik_tree_node *> chain;
    tovik_tree_node *z = nullptr;
};

TEST_F(DeepChainTest, FreeReleasesAMillionLevelsBottomUp) {
    ASSERT_NO_FATAL_FAILURE(build_chain());
    tovik_free_tree_node(&ctx, chain[0]);
    EXPECT_EQ(kDepth, heap.released.size());
    expect_chain_released_bottom_up();
    EXPECT_EQ(&z->link, ctx.tree.next);
    EXPECT_EQ(&z->link, ctx.tree.prev);
    EXPECT_EQ("z=1", tree());
}

TEST_F(DeepChainTest, DeinitReleasesAMillionLevelsBottomUp) {
    ASSERT_NO_FATAL_FAILURE(build_chain());
    EXPECT_EQ(0, tovik_deinit(&ctx));
    ASSERT_EQ(kDepth + 1, heap.released.size());
    expect_chain_released_bottom_up();
    EXPECT_EQ(z, heap.released.back());
    EXPECT_TRUE(list_is_empty(ctx.tree));
}

} // namespace
