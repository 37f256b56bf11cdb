// Ranges over records, root nodes and children: the same elements in the
// same order as the C iterators, standard algorithms, and empty ranges.
#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "cpp_support.hpp"
#include "tovik.hpp"

namespace {

using tovik_test::expect_all_released;
using tovik_test::tracked_context;
using tovik_test::TrackingAllocator;

using RecordIterator = tovik::record_range::iterator;
using NodeIterator = tovik::node_range::iterator;
static_assert(std::is_same_v<std::iterator_traits<RecordIterator>::iterator_category,
                             std::forward_iterator_tag>);
static_assert(std::is_same_v<std::iterator_traits<NodeIterator>::value_type, tovik::node>);
static_assert(std::is_trivially_copyable_v<tovik::record> &&
                  sizeof(tovik::record) == sizeof(void *),
              "a record view is one pointer");
static_assert(std::is_trivially_copyable_v<tovik::node> && sizeof(tovik::node) == sizeof(void *),
              "a node view is one pointer");

constexpr std::string_view kConfig =
    "a = 1\n[s]\nx = 2\ny = 3\ny = 4\n[s.deep]\nz = 5\n[t]\nw = 6\n";

std::vector<tovik_kv *> c_records(tovik_ctx *ctx) {
    std::vector<tovik_kv *> out;
    for (tovik_kv *kv = tovik_kv_iter(ctx, nullptr); kv; kv = tovik_kv_iter(ctx, kv))
        out.push_back(kv);
    return out;
}

std::vector<tovik_tree_node *> c_children(tovik_ctx *ctx, tovik_tree_node *parent) {
    std::vector<tovik_tree_node *> out;
    for (tovik_tree_node *n = tovik_kv_tree_iter(ctx, parent, nullptr); n;
         n = tovik_kv_tree_iter(ctx, parent, n))
        out.push_back(n);
    return out;
}

template <class Range> auto raw_elements(const Range &range) {
    std::vector<decltype((*range.begin()).raw())> out;
    for (auto view : range)
        out.push_back(view.raw());
    return out;
}

TEST(CppRanges, RecordsFollowTheCIterator) {
    tovik::context ctx;
    ASSERT_TRUE(ctx.parse(kConfig));
    EXPECT_EQ(c_records(ctx.raw()), raw_elements(ctx.records()));
    ASSERT_TRUE(ctx.parse("b = 7\n"));
    EXPECT_EQ(c_records(ctx.raw()), raw_elements(ctx.records())) << "after a second parse";
}

void expect_children_match(tovik::context &ctx, tovik::node parent, tovik::node_range children) {
    ASSERT_EQ(c_children(ctx.raw(), parent.raw()), raw_elements(children));
    for (tovik::node child : children) {
        EXPECT_EQ(parent, child.parent());
        expect_children_match(ctx, child, child.children());
    }
}

TEST(CppRanges, RootsAndChildrenFollowTheCIterator) {
    tovik::context ctx;
    ASSERT_TRUE(ctx.parse(kConfig));
    ASSERT_TRUE(ctx.add_valuenode(ctx.find("s"), "x", "dup"));
    expect_children_match(ctx, {}, ctx.roots());
}

TEST(CppRanges, StandardAlgorithmsAndIteratorOperations) {
    tovik::context ctx;
    ASSERT_TRUE(ctx.parse(kConfig));
    tovik::record_range records = ctx.records();

    EXPECT_EQ(6, std::distance(records.begin(), records.end()));
    EXPECT_EQ(2, std::count_if(records.begin(), records.end(),
                               [](tovik::record r) { return r.name() == "s.y"; }));
    auto four = std::find_if(records.begin(), records.end(),
                             [](tovik::record r) { return r.value() == "4"; });
    ASSERT_NE(records.end(), four);
    EXPECT_EQ("s.y", four->name());
    EXPECT_EQ("s.deep.z", std::next(four)->name());

    auto before = four;
    EXPECT_EQ(four, before++) << "post-increment yields the old position";
    EXPECT_EQ(std::next(four), before);
    auto copy = four;
    EXPECT_EQ((*++copy).raw(), (*++four).raw()) << "copies walk the same way";

    std::vector<std::string> roots;
    std::transform(ctx.roots().begin(), ctx.roots().end(), std::back_inserter(roots),
                   [](tovik::node n) { return std::string(n.name()); });
    EXPECT_EQ((std::vector<std::string>{"a", "s", "t"}), roots);

    tovik::node s = ctx.find("s");
    EXPECT_TRUE(std::equal(s.children().begin(), s.children().end(),
                           c_children(ctx.raw(), s.raw()).begin(),
                           [](tovik::node n, tovik_tree_node *raw) { return n.raw() == raw; }));
    EXPECT_EQ(RecordIterator(), RecordIterator()) << "default iterators compare equal";
}

template <class Range> void expect_empty(const char *what, const Range &range) {
    SCOPED_TRACE(what);
    EXPECT_TRUE(range.empty());
    EXPECT_EQ(range.begin(), range.end());
    EXPECT_EQ(0, std::distance(range.begin(), range.end()));
    int visited = 0;
    for (auto view : range) {
        (void)view;
        ++visited;
    }
    EXPECT_EQ(0, visited);
}

TEST(CppRanges, EveryRangeCanBeEmpty) {
    TrackingAllocator heap;
    {
        tovik::context ctx = tracked_context(heap);
        expect_empty("records of a new context", ctx.records());
        expect_empty("roots of a new context", ctx.roots());
        expect_empty("default record range", tovik::record_range());
        expect_empty("default node range", tovik::node_range());
        expect_empty("children of an empty node", tovik::node().children());

        ASSERT_TRUE(ctx.parse("[s]\nleaf = 1\n"));
        expect_empty("children of a leaf", ctx.find("s.leaf").children());
        expect_empty("children of an added node", ctx.add_subnode({}, "bare").children());

        ctx.free_tree();
        expect_empty("roots after free_tree", ctx.roots());
        EXPECT_FALSE(ctx.records().empty());
        ctx.clear();
        expect_empty("records after clear", ctx.records());
        expect_empty("roots after clear", ctx.roots());

        const tovik::context &view = ctx;
        expect_empty("records of a const context", view.records());
    }
    expect_all_released(heap);
}

} // namespace
