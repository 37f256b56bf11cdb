// The ranges as C++20 ranges: concepts, range algorithms and view adaptors.
#include <algorithm>
#include <ranges>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "tovik.hpp"

namespace {

static_assert(std::forward_iterator<tovik::record_range::iterator>);
static_assert(std::forward_iterator<tovik::node_range::iterator>);
static_assert(std::ranges::forward_range<tovik::record_range>);
static_assert(std::ranges::forward_range<tovik::node_range>);
static_assert(std::ranges::common_range<tovik::record_range>);
static_assert(std::ranges::view<tovik::record_range> && std::ranges::view<tovik::node_range>);
static_assert(std::ranges::borrowed_range<tovik::record_range>);
static_assert(std::ranges::borrowed_range<tovik::node_range>);

TEST(CppRanges20, RangeAlgorithms) {
    tovik::context ctx;
    ASSERT_TRUE(ctx.parse("a = 1\n[s]\nx = 2\ny = 3\n[t]\nx = 4\n"));

    // A borrowed range: the iterator found in a temporary range stays usable.
    auto found = std::ranges::find(ctx.records(), std::string_view("3"), &tovik::record::value);
    static_assert(!std::is_same_v<decltype(found), std::ranges::dangling>);
    ASSERT_NE(ctx.records().end(), found);
    EXPECT_EQ("s.y", found->name());

    EXPECT_EQ(3, std::ranges::distance(ctx.roots()));
    EXPECT_EQ(2, std::ranges::distance(ctx.find("s").children()));
    EXPECT_TRUE(std::ranges::all_of(ctx.find("s").children(),
                                    [](tovik::node n) { return n.value().has_value(); }));
    EXPECT_TRUE(std::ranges::empty(ctx.find("a").children()));
    EXPECT_TRUE(std::ranges::empty(tovik::node_range()));
}

// clang 14 cannot instantiate libstdc++ 12's view adaptors over any range
// (std::vector included), so there they are left to the other compilers.
#if !defined(__clang__) || __clang_major__ >= 15
TEST(CppRanges20, ViewAdaptors) {
    tovik::context ctx;
    ASSERT_TRUE(ctx.parse("a = 1\n[s]\nx = 2\ny = 3\n[t]\nx = 4\n"));
    auto x_names = ctx.records() |
                   std::views::filter([](tovik::record r) { return r.name().ends_with(".x"); }) |
                   std::views::transform([](tovik::record r) { return std::string(r.name()); });
    EXPECT_EQ((std::vector<std::string>{"s.x", "t.x"}),
              std::vector<std::string>(x_names.begin(), x_names.end()));

    EXPECT_EQ(0, std::ranges::distance(tovik::node().children() | std::views::take(5)));
}
#endif

} // namespace
