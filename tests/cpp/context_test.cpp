// The owning context: construction with each kind of allocator, moves,
// parsing and tree edits through it, and release.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory_resource>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cpp_support.hpp"
#include "tovik.hpp"

namespace {

using tovik_test::dump_tree;
using tovik_test::expect_all_released;
using tovik_test::expect_lists_consistent;
using tovik_test::Records;
using tovik_test::records_of;
using tovik_test::tracked_context;
using tovik_test::TrackingAllocator;

constexpr std::string_view kConfig =
    "top = 1\n[net]\nport = 80\nhost = example\n[net.tls]\non = yes\n";
constexpr std::string_view kConfigTree = "top=1 net{port=80 host=example tls{on=yes}}";

Records records_of(tovik::context &ctx) { return records_of(ctx.raw()); }
std::string tree_of(tovik::context &ctx) { return dump_tree(ctx.raw()); }

TEST(CppContext, DefaultContextParsesWithMalloc) {
    tovik::context ctx;
    ASSERT_TRUE(ctx.parse(kConfig));
    EXPECT_EQ(kConfigTree, tree_of(ctx));
    EXPECT_EQ(4u, records_of(ctx).size());
}

TEST(CppContext, ParseReportsOnlyTheCRefusals) {
    TrackingAllocator heap;
    {
        tovik::context ctx = tracked_context(heap);
        EXPECT_TRUE(ctx.parse(""));
        EXPECT_FALSE(ctx.parse(std::string_view())) << "a view without storage is a null buffer";
        EXPECT_TRUE(ctx.parse("a = 1\n"));
        EXPECT_EQ((Records{{"a", "1"}}), records_of(ctx));

        tovik::context no_allocator(nullptr, nullptr, nullptr);
        EXPECT_FALSE(no_allocator.parse("a = 1\n"));
        EXPECT_FALSE(no_allocator.add_subnode({}, "a"));
        EXPECT_TRUE(no_allocator.records().empty());
        EXPECT_TRUE(no_allocator.roots().empty());
        expect_lists_consistent(no_allocator);
    }
    expect_all_released(heap);
}

TEST(CppContext, ParseGraftsUnderAParentAndPassesFlags) {
    TrackingAllocator heap;
    {
        tovik::context ctx = tracked_context(heap);
        tovik::node p = ctx.add_subnode({}, "p");
        ASSERT_TRUE(p);
        ASSERT_TRUE(ctx.parse("[net]\nport = 80\nport = 81\n", p));
        EXPECT_EQ("p{net{port=80}}", tree_of(ctx));
        ASSERT_TRUE(ctx.parse("[net]\nport = 82\n", p, tovik::replace));
        EXPECT_EQ("p{net{port=82}}", tree_of(ctx));
    }
    expect_all_released(heap);
}

TEST(CppContext, DestructorReleasesEveryBlockOnce) {
    TrackingAllocator heap;
    {
        tovik::context ctx = tracked_context(heap);
        ASSERT_TRUE(ctx.parse(kConfig));
        ctx.add_valuenode(ctx.find("net"), "extra", "x");
        EXPECT_EQ(heap.granted.size(), heap.live_blocks());
    }
    EXPECT_EQ(heap.granted.size(), heap.released.size());
    expect_all_released(heap);
}

TEST(CppContext, TreeEditsFreeNodeFreeTreeAndClear) {
    TrackingAllocator heap;
    {
        tovik::context ctx = tracked_context(heap);
        ASSERT_TRUE(ctx.parse(kConfig));

        ctx.free_node(ctx.find("missing"));
        EXPECT_EQ(kConfigTree, tree_of(ctx)) << "an empty node must release nothing";

        ctx.free_node(ctx.find("net.tls"));
        EXPECT_EQ("top=1 net{port=80 host=example}", tree_of(ctx));

        ctx.free_tree();
        EXPECT_TRUE(ctx.roots().empty());
        EXPECT_EQ(4u, records_of(ctx).size()) << "records are not part of the tree";

        ctx.clear();
        EXPECT_TRUE(ctx.records().empty());
        EXPECT_EQ(0u, heap.live_blocks());
        ASSERT_TRUE(ctx.parse("again = 1\n"));
        EXPECT_EQ("again=1", tree_of(ctx));
    }
    expect_all_released(heap);
}

TEST(CppContext, AddedNodesAndTheirViews) {
    TrackingAllocator heap;
    {
        tovik::context ctx = tracked_context(heap);
        tovik::node a = ctx.add_subnode({}, "a");
        tovik::node b = ctx.add_valuenode(a, "b", "2");
        tovik::node empty_value = ctx.add_valuenode(a, "e", "");
        ASSERT_TRUE(a && b && empty_value);
        EXPECT_EQ("a{b=2 e=}", tree_of(ctx));

        EXPECT_EQ(std::nullopt, a.value());
        EXPECT_EQ(std::optional<std::string_view>("2"), b.value());
        ASSERT_TRUE(empty_value.value().has_value()) << "an empty value is still a value";
        EXPECT_TRUE(empty_value.value()->empty());

        EXPECT_FALSE(a.parent());
        EXPECT_EQ(a, b.parent());
        EXPECT_EQ(b.raw(), tovik_find_tree_node(ctx.raw(), a.raw(), "b", 1));
        EXPECT_EQ(a, ctx.find_child({}, "a"));

        EXPECT_FALSE(ctx.add_subnode(a, std::string_view())) << "null name";
        EXPECT_FALSE(ctx.add_valuenode(a, "v", std::string_view())) << "null value";
        EXPECT_EQ("a{b=2 e=}", tree_of(ctx));
    }
    expect_all_released(heap);
}

TEST(CppContext, ViewsGiveTextsOfTheirFullLength) {
    using namespace std::string_view_literals;
    TrackingAllocator heap;
    {
        tovik::context ctx = tracked_context(heap);
        ASSERT_TRUE(ctx.parse("[s\0t]\nk\0x = \"v\0w\"\n"sv));
        ASSERT_EQ(1, std::distance(ctx.records().begin(), ctx.records().end()));
        tovik::record r = *ctx.records().begin();
        EXPECT_EQ("s\0t.k\0x"sv, r.name());
        EXPECT_EQ("v\0w"sv, r.value());
        EXPECT_EQ(ctx.raw()->records.next, &r.raw()->link);

        tovik::node leaf = ctx.find("s\0t.k\0x"sv);
        ASSERT_TRUE(leaf);
        EXPECT_EQ("k\0x"sv, leaf.name());
        EXPECT_EQ(std::optional<std::string_view>("v\0w"sv), leaf.value());
        EXPECT_EQ("s\0t"sv, leaf.parent().name());
    }
    expect_all_released(heap);
}

TEST(CppContext, ArenaWithoutReleaseCallback) {
    alignas(std::max_align_t) static unsigned char arena[4096];
    struct Bump {
        size_t used = 0;
        static void *alloc(void *user, size_t size) {
            Bump &bump = *static_cast<Bump *>(user);
            size_t start =
                (bump.used + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
            if (size > sizeof arena - start)
                return nullptr;
            bump.used = start + size;
            return arena + start;
        }
    } bump;
    tovik::context ctx(Bump::alloc, nullptr, &bump);
    ASSERT_TRUE(ctx.parse(kConfig));
    EXPECT_EQ(kConfigTree, tree_of(ctx));
    ctx.clear();
    EXPECT_EQ(4u, records_of(ctx).size()) << "without a release callback nothing is released";
    EXPECT_GT(bump.used, 0u);
}

bool points_into(const void *p, const tovik::context &ctx) {
    auto at = reinterpret_cast<std::uintptr_t>(p),
         start = reinterpret_cast<std::uintptr_t>(ctx.raw());
    return at >= start && at < start + sizeof(tovik_ctx);
}

// Moves. The source and the target have separate allocators, so every block
// must go back to the allocator it came from, whichever object holds it.
struct MoveCase {
    const char *name;
    std::string_view source; // what the source holds before the move
    bool assign;             // move-assign instead of move-construct
    std::string_view target; // what an assigned-to target held
};

const MoveCase kMoveCases[] = {
    {"construct from empty", "", false, ""},
    {"construct from full", kConfig, false, ""},
    {"assign empty to empty", "", true, ""},
    {"assign full to empty", kConfig, true, ""},
    {"assign empty to full", "", true, "old = 1\n[o]\nx = 2\n"},
    {"assign full to full", kConfig, true, "old = 1\n[o]\nx = 2\n"},
};

void PrintTo(const MoveCase &c, std::ostream *out) { *out << c.name; }

class CppContextMove : public ::testing::TestWithParam<MoveCase> {};

TEST_P(CppContextMove, ListsFollowTheObjectAndBothStayUsable) {
    const MoveCase &c = GetParam();
    TrackingAllocator source_heap, target_heap;
    {
        tovik::context source = tracked_context(source_heap);
        ASSERT_TRUE(source.parse(c.source));
        Records records_before = records_of(source);
        std::string tree_before = tree_of(source);

        std::optional<tovik::context> moved_to;
        if (c.assign) {
            moved_to.emplace(tracked_context(target_heap));
            ASSERT_TRUE(moved_to->parse(c.target));
            *moved_to = std::move(source);
            EXPECT_EQ(0u, target_heap.live_blocks()) << "the target's old content is released";
        } else {
            moved_to.emplace(std::move(source));
        }
        tovik::context &target = *moved_to;

        expect_lists_consistent(target);
        expect_lists_consistent(source);
        EXPECT_FALSE(points_into(target.raw()->mark, source))
            << "the parse mark still names the source";
        EXPECT_EQ(records_before, records_of(target));
        EXPECT_EQ(tree_before, tree_of(target));
        EXPECT_TRUE(source.records().empty());
        EXPECT_TRUE(source.roots().empty());

        // The target keeps growing its lists from the moved sentinels.
        ASSERT_TRUE(target.parse("[later]\nk = v\n"));
        ASSERT_TRUE(target.add_valuenode({}, "added", "1"));
        expect_lists_consistent(target);
        EXPECT_EQ("v", target.find_record("later.k").value());
        EXPECT_EQ("1", *target.find("added").value());
        EXPECT_EQ(records_before.size() + 1, records_of(target).size());
        EXPECT_EQ(0u, target_heap.live_blocks())
            << "the target allocates with the source's allocator";

        // The source starts over with its own allocator.
        ASSERT_TRUE(source.parse("fresh = 1\n"));
        EXPECT_EQ("fresh=1", tree_of(source));
        expect_lists_consistent(source);

        target.clear();
        EXPECT_TRUE(target.records().empty());
        expect_lists_consistent(target);
    }
    expect_all_released(source_heap);
    expect_all_released(target_heap);
}

INSTANTIATE_TEST_SUITE_P(Cases, CppContextMove, ::testing::ValuesIn(kMoveCases),
                         [](const ::testing::TestParamInfo<MoveCase> &info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

TEST(CppContext, SelfMoveAssignmentKeepsTheContent) {
    TrackingAllocator heap;
    {
        tovik::context ctx = tracked_context(heap);
        ASSERT_TRUE(ctx.parse(kConfig));
        tovik::context &same = ctx;
        ctx = std::move(same);
        expect_lists_consistent(ctx);
        EXPECT_EQ(kConfigTree, tree_of(ctx));
    }
    expect_all_released(heap);
}

TEST(CppContext, ViewsAndIndexSurviveAMove) {
    tovik::context source;
    ASSERT_TRUE(source.parse(kConfig));
    tovik::node port = source.find("net.port");
    tovik::record top = source.find_record("top");
    tovik::index idx(source);

    tovik::context target(std::move(source));
    EXPECT_EQ(port, target.find("net.port"));
    EXPECT_EQ(top, target.find_record("top"));
    EXPECT_EQ(port, idx.find("net.port"));
    EXPECT_EQ(top, idx.find_record("top"));
    EXPECT_EQ("80", *port.value());
}

// A std::pmr resource that checks every release against its request and can
// refuse, by throwing as resources do, from a chosen request on.
class CountingResource : public std::pmr::memory_resource {
  public:
    struct Request {
        size_t bytes;
        size_t alignment;
    };
    std::vector<Request> requests;
    std::map<void *, Request> live;
    size_t mismatched_releases = 0;
    size_t refuse_from = SIZE_MAX; // 0-based request number

  private:
    void *do_allocate(size_t bytes, size_t alignment) override {
        requests.push_back({bytes, alignment});
        if (requests.size() > refuse_from)
            throw std::bad_alloc();
        void *block = std::pmr::new_delete_resource()->allocate(bytes, alignment);
        live[block] = {bytes, alignment};
        return block;
    }
    void do_deallocate(void *block, size_t bytes, size_t alignment) override {
        auto it = live.find(block);
        if (it == live.end() || it->second.bytes != bytes || it->second.alignment != alignment) {
            ++mismatched_releases;
            return;
        }
        live.erase(it);
        std::pmr::new_delete_resource()->deallocate(block, bytes, alignment);
    }
    bool do_is_equal(const std::pmr::memory_resource &other) const noexcept override {
        return this == &other;
    }
};

bool aligned(const void *p, size_t alignment) {
    return reinterpret_cast<std::uintptr_t>(p) % alignment == 0;
}

TEST(CppContextPmr, EveryBlockIsReturnedWithItsSizeAndAlignment) {
    CountingResource resource;
    TrackingAllocator heap; // the same input through plain callbacks, for the C block sizes
    {
        tovik::context pmr_ctx(&resource);
        tovik::context c_ctx = tracked_context(heap);
        ASSERT_TRUE(pmr_ctx.parse(kConfig));
        ASSERT_TRUE(c_ctx.parse(kConfig));
        EXPECT_EQ(kConfigTree, tree_of(pmr_ctx));

        ASSERT_EQ(heap.requests.size(), resource.requests.size());
        for (size_t i = 0; i < heap.requests.size(); ++i) {
            EXPECT_EQ(heap.requests[i] + alignof(std::max_align_t), resource.requests[i].bytes)
                << i;
            EXPECT_EQ(alignof(std::max_align_t), resource.requests[i].alignment) << i;
        }
        for (tovik::record r : pmr_ctx.records())
            EXPECT_TRUE(aligned(r.raw(), alignof(std::max_align_t)));
        for (const auto &entry : tovik_test::paths_below(pmr_ctx))
            EXPECT_TRUE(aligned(entry.node.raw(), alignof(std::max_align_t)));

        pmr_ctx.free_node(pmr_ctx.find("net.tls"));
        EXPECT_EQ(resource.requests.size() - 2, resource.live.size());
    }
    EXPECT_TRUE(resource.live.empty());
    EXPECT_EQ(0u, resource.mismatched_releases);
}

TEST(CppContextPmr, AThrowingResourceIsARefusedAllocation) {
    CountingResource resource;
    resource.refuse_from = 2; // two records, then nothing
    {
        tovik::context ctx(&resource);
        EXPECT_TRUE(ctx.parse("a = 1\nb = 2\nc = 3\n"));
        EXPECT_EQ((Records{{"a", "1"}, {"b", "2"}}), records_of(ctx));
        EXPECT_TRUE(ctx.roots().empty());
        EXPECT_FALSE(ctx.add_subnode({}, "n"));
    }
    EXPECT_TRUE(resource.live.empty());
    EXPECT_EQ(0u, resource.mismatched_releases);

    tovik::context refusing(std::pmr::null_memory_resource());
    EXPECT_TRUE(refusing.parse(kConfig));
    EXPECT_TRUE(refusing.records().empty());
}

TEST(CppContextPmr, MonotonicBufferHoldsEverything) {
    alignas(std::max_align_t) static std::byte buffer[16384];
    std::pmr::monotonic_buffer_resource arena(buffer, sizeof buffer,
                                              std::pmr::null_memory_resource());
    tovik::context ctx(&arena);
    ASSERT_TRUE(ctx.parse(kConfig));
    ASSERT_TRUE(ctx.parse("[net]\nport = 81\n", {}, tovik::replace));
    EXPECT_EQ("top=1 net{host=example tls{on=yes} port=81}", tree_of(ctx));
    auto inside = [&](const void *p) { return p >= buffer && p < buffer + sizeof buffer; };
    for (tovik::record r : ctx.records())
        EXPECT_TRUE(inside(r.raw()));
    for (const auto &entry : tovik_test::paths_below(ctx))
        EXPECT_TRUE(inside(entry.node.raw()));
    ctx.clear();
    ASSERT_TRUE(ctx.parse("again = 1\n"));
    EXPECT_EQ("again=1", tree_of(ctx));
}

TEST(CppContextPmr, MoveAssignmentCarriesTheResource) {
    CountingResource resource;
    TrackingAllocator heap;
    {
        tovik::context target = tracked_context(heap);
        ASSERT_TRUE(target.parse("old = 1\n"));
        tovik::context source(&resource);
        ASSERT_TRUE(source.parse(kConfig));
        target = std::move(source);
        EXPECT_EQ(0u, heap.live_blocks());
        ASSERT_TRUE(target.parse("more = 1\n"));
        EXPECT_EQ(0u, heap.live_blocks()) << "the moved context allocates from the resource";
    }
    EXPECT_TRUE(resource.live.empty());
    EXPECT_EQ(0u, resource.mismatched_releases);
    expect_all_released(heap);
}

} // namespace
