// Lookups: context::find and context::find_record against the C functions,
// and the index against both, on every name, path and near miss of a table
// of contexts.
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cpp_support.hpp"
#include "tovik.hpp"

namespace {

using namespace std::string_view_literals;
using tovik_test::dump_tree;
using tovik_test::escaped;
using tovik_test::expect_all_released;
using tovik_test::paths_below;
using tovik_test::records_of;
using tovik_test::tracked_context;
using tovik_test::TrackingAllocator;

// What the C functions give for a dotted path: tovik_find_tree_node on each
// non-empty segment in turn, the tree builder's way of splitting names.
tovik_tree_node *c_walk(tovik_ctx *ctx, tovik_tree_node *from, const std::string &path) {
    tovik_tree_node *at = from;
    std::string segment;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '.') {
            segment += path[i];
            continue;
        }
        if (segment.empty())
            continue;
        at = tovik_find_tree_node(ctx, at, segment.data(), segment.size());
        if (!at)
            return nullptr;
        segment.clear();
    }
    return at;
}

// The first record in list order whose name has exactly these bytes.
tovik_kv *c_first_record(tovik_ctx *ctx, const std::string &name) {
    for (tovik_kv *kv = tovik_kv_iter(ctx, nullptr); kv; kv = tovik_kv_iter(ctx, kv))
        if (std::string(kv->name, kv->name_len) == name)
            return kv;
    return nullptr;
}

bool has_nul(std::string_view s) { return s.find('\0') != std::string_view::npos; }

void add_awkward_nodes(tovik::context &c) {
    tovik::node first = c.add_subnode({}, "a");
    c.add_valuenode(first, "x", "1");
    tovik::node second = c.add_subnode({}, "a");
    c.add_valuenode(second, "y", "2");
    c.add_valuenode({}, "d.e", "3");
    c.add_valuenode(c.add_subnode({}, ""), "z", "4");
    c.add_valuenode({}, "n\0ul"sv, "5");
}

struct LookupCase {
    const char *name;
    void (*build)(tovik::context &);
};

void PrintTo(const LookupCase &c, std::ostream *out) { *out << c.name; }

const LookupCase kLookupCases[] = {
    {"empty context", [](tovik::context &) {}},
    {"sections and dotted keys",
     [](tovik::context &c) {
         c.parse("top = 1\n[server]\nhost = h\nlog.level = info\nlog.file = f\n"
                 "[server.tls]\nenabled = true\n[net]\nport = 80\n");
     }},
    {"duplicate keys and sections",
     [](tovik::context &c) {
         c.parse("x = 1\nx = 2\n[s]\nk = 1\n[t]\nk = 0\n[s]\nk = 2\nj = 3\n");
     }},
    {"dotted sections meeting dotted keys",
     [](tovik::context &c) {
         c.parse("[a.b]\nc = 1\n[a]\nb.c = 2\nb = 3\nb.d = 4\n[a.b.c]\ne = 5\n");
     }},
    {"empty segments",
     [](tovik::context &c) { c.parse("a..b = 1\n.c = 2\nd. = 3\n= 4\n.. = 5\n[e.]\nf = 6\n"); }},
    {"NUL bytes in names and values",
     [](tovik::context &c) {
         c.parse("n\0a = 1\nn = 2\n[s\0t]\nk\0 = \"v\0w\"\nk = plain\n\0 = 3\n"sv);
     }},
    {"replace within one call",
     [](tovik::context &c) {
         c.parse("a = 1\na.b = 2\na = 3\nx.y = 1\nx = 2\nz = 1\nz = 2\n", {}, tovik::replace);
     }},
    {"layered calls, the last one replacing",
     [](tovik::context &c) {
         c.parse("a = 1\nb = 2\n[s]\nk = 1\n");
         c.parse("a = 9\nc = 3\n[s]\nk = 2\n");
         c.parse("a = 7\n[s]\nk = 3\nm.n = 4\n", {}, tovik::replace);
     }},
    {"grafted under caller nodes",
     [](tovik::context &c) {
         tovik::node p = c.add_subnode({}, "p");
         c.parse("[net]\nport = 80\n", p);
         c.parse("port = 1\np.net.port = 2\n");
         c.parse("r = 1\n", c.add_subnode(p, "q"));
     }},
    {"caller nodes: duplicates, dots, empty names", add_awkward_nodes},
};

// Every record name and node path, each also with its dots doubled, led and
// trailed, plus near misses.
std::vector<std::string> queries_for(const tovik::context &ctx, tovik::node from) {
    std::vector<std::string> base;
    for (tovik::record r : ctx.records())
        base.emplace_back(r.name());
    for (const auto &entry : paths_below(ctx, from))
        base.push_back(entry.path);
    std::vector<std::string> out = {"", ".", "..", "missing", "a.missing", "n", "s"};
    for (const std::string &q : base) {
        std::string doubled;
        for (char ch : q)
            doubled += ch == '.' ? std::string("..") : std::string(1, ch);
        out.insert(out.end(),
                   {q, "." + q, q + ".", doubled, q + ".missing", q.substr(0, q.size() / 2)});
    }
    return out;
}

class CppLookup : public ::testing::TestWithParam<LookupCase> {
  protected:
    void SetUp() override { GetParam().build(ctx); }
    void TearDown() override {
        ctx.clear();
        expect_all_released(heap);
    }

    // The root and every node of the tree: each lookup is tried from all of them.
    std::vector<tovik::node> lookup_starts() const {
        std::vector<tovik::node> starts = {tovik::node()};
        for (const auto &entry : paths_below(ctx))
            starts.push_back(entry.node);
        return starts;
    }

    TrackingAllocator heap;
    tovik::context ctx = tracked_context(heap);
};

TEST_P(CppLookup, FindWalksTheTreeAsTheCFunctions) {
    for (tovik::node from : lookup_starts()) {
        for (const std::string &q : queries_for(ctx, from)) {
            SCOPED_TRACE("from " + (from ? escaped(from.name()) : "the root") + ": " + escaped(q));
            tovik_tree_node *expected = c_walk(ctx.raw(), from.raw(), q);
            EXPECT_EQ(expected, ctx.find(from, q).raw());
            if (!from) {
                EXPECT_EQ(expected, ctx.find(q).raw());
            }
        }
    }
}

TEST_P(CppLookup, FindRecordIsTheFirstExactMatch) {
    bool nul_names = false;
    for (tovik::record r : ctx.records())
        nul_names |= has_nul(r.name());
    for (const std::string &q : queries_for(ctx, {})) {
        SCOPED_TRACE(escaped(q));
        tovik_kv *expected = c_first_record(ctx.raw(), q);
        EXPECT_EQ(expected, ctx.find_record(q).raw());
        // The C lookup stops at a NUL byte; without any it must agree.
        if (!nul_names && !has_nul(q)) {
            EXPECT_EQ(expected, tovik_find_key(ctx.raw(), q.c_str()));
        }
    }
}

TEST_P(CppLookup, IndexAgreesOnEveryQueryAndLeavesTheContextAlone) {
    auto records_before = records_of(ctx.raw());
    std::string tree_before = dump_tree(ctx.raw());
    size_t requests_before = heap.requests.size();
    size_t releases_before = heap.released.size();

    const tovik::index idx(ctx);

    EXPECT_EQ(records_before, records_of(ctx.raw()));
    EXPECT_EQ(tree_before, dump_tree(ctx.raw()));
    EXPECT_EQ(requests_before, heap.requests.size())
        << "the index must not allocate from the context";
    EXPECT_EQ(releases_before, heap.released.size());

    for (tovik::node from : lookup_starts()) {
        for (const std::string &q : queries_for(ctx, from)) {
            SCOPED_TRACE("from " + (from ? escaped(from.name()) : "the root") + ": " + escaped(q));
            EXPECT_EQ(ctx.find(from, q), idx.find(from, q));
            if (!from) {
                EXPECT_EQ(ctx.find(q), idx.find(q));
                EXPECT_EQ(ctx.find_record(q), idx.find_record(q));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CppLookup, ::testing::ValuesIn(kLookupCases),
                         [](const ::testing::TestParamInfo<LookupCase> &info) {
                             std::string name;
                             for (const char *p = info.param.name; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

// The rules the agreement above rests on, seen directly.
TEST(CppLookupRules, FirstMatchEmptySegmentsAndFullLengthNames) {
    tovik::context ctx;
    add_awkward_nodes(ctx);
    EXPECT_EQ("1", *ctx.find("a.x").value());
    EXPECT_FALSE(ctx.find("a.y")) << "the second a is shadowed by the first";
    EXPECT_FALSE(ctx.find("d.e")) << "a dot inside a node name is not a segment";
    EXPECT_TRUE(ctx.find_child({}, "d.e"));
    EXPECT_FALSE(ctx.find(".z")) << "an empty segment is skipped, not looked up";
    EXPECT_EQ("5", *ctx.find("n\0ul"sv).value());
    EXPECT_FALSE(ctx.find("n"));

    tovik::index idx(ctx);
    EXPECT_FALSE(idx.find("a.y"));
    EXPECT_FALSE(idx.find("d.e"));
    EXPECT_EQ("5", *idx.find("n\0ul"sv).value());

    tovik::context nul;
    ASSERT_TRUE(nul.parse("n\0a = 1\nn = 2\n"sv));
    EXPECT_EQ("2", nul.find_record("n").value()) << "names are compared in full";
    EXPECT_EQ("1", std::string_view(tovik_find_key(nul.raw(), "n")->value))
        << "while the C lookup stops at the NUL";
    EXPECT_EQ("1", tovik::index(nul).find_record("n\0a"sv).value());

    tovik::context dup;
    ASSERT_TRUE(dup.parse("x = 1\nx = 2\n[s]\nk = 1\n[s]\nk = 2\n"));
    tovik::index dup_idx(dup);
    for (const char *name : {"x", "s.k"}) {
        EXPECT_EQ("1", dup.find_record(name).value()) << name;
        EXPECT_EQ("1", dup_idx.find_record(name).value()) << name;
        EXPECT_EQ("1", *dup_idx.find(name).value()) << name;
    }
}

TEST(CppLookupRules, IndexHandlesADeepTree) {
    std::string name(99999, 'a'); // a.a.a ... a: 50,000 levels
    for (size_t i = 1; i < name.size(); i += 2)
        name[i] = '.';
    tovik::context ctx;
    ASSERT_TRUE(ctx.parse(name + " = deep\n"));
    tovik::index idx(ctx);
    ASSERT_TRUE(idx.find(name));
    EXPECT_EQ("deep", *idx.find(name).value());
    EXPECT_EQ(ctx.find(name), idx.find(name));
}

} // namespace
