// The record list: block sizes and text layout of a record, full names,
// duplicates, and the two record queries.
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tracking_allocator.hpp"

namespace {

using namespace std::string_literals;
using tovik_test::ContextTest;
using tovik_test::escaped;

constexpr size_t kFixed = sizeof(tovik_kv);

tovik_kv *first_record(tovik_ctx &ctx) { return tovik_kv_iter(&ctx, nullptr); }

// ---------------------------------------------------------------------------
// Block size and layout of one record.

struct BlockCase {
    std::string text;  // one key line, possibly after a header
    std::string name;  // expected full name
    std::string value; // expected value
    size_t text_area;  // bytes requested beyond the fixed fields
};

std::ostream &operator<<(std::ostream &os, const BlockCase &c) { return os << escaped(c.text); }

class RecordBlockTest : public ContextTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(RecordBlockTest, RequestsTheRoundedSizeAndLaysOutBothTexts) {
    const BlockCase &c = GetParam();
    ASSERT_EQ(0, parse(c.text));
    ASSERT_EQ(tovik_test::Records({{c.name, c.value}}), records());

    // The scanning pass runs before any tree node is made, so the record's
    // block is the first request.
    ASSERT_FALSE(heap.requests.empty());
    EXPECT_EQ(kFixed + c.text_area, heap.requests.front());

    tovik_kv *kv = first_record(ctx);
    ASSERT_NE(nullptr, kv);
    EXPECT_EQ(kFixed + c.text_area, heap.size_of(kv));
    EXPECT_EQ(c.name.size(), kv->name_len);
    EXPECT_EQ(c.value.size(), kv->value_len);

    // Name right after the fixed fields, value at the next multiple of 4.
    char *block = reinterpret_cast<char *>(kv);
    size_t name_area = (c.name.size() + 1 + 3) / 4 * 4;
    EXPECT_EQ(block + kFixed, kv->name);
    EXPECT_EQ(kv->name + name_area, kv->value);
    EXPECT_EQ('\0', kv->name[kv->name_len]);
    EXPECT_EQ('\0', kv->value[kv->value_len]);
    EXPECT_LE(kv->value + kv->value_len + 1, block + heap.size_of(kv));
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, RecordBlockTest,
    ::testing::Values(
        // name 5 (+1 → 8), value 2 (+1 → 4)
        BlockCase{"[net]\na = 80\n", "net.a", "80", 8 + 4},
        // the name's NUL fits exactly, then needs a new word
        BlockCase{"abc=1\n", "abc", "1", 4 + 4}, BlockCase{"abcd=1\n", "abcd", "1", 8 + 4},
        BlockCase{"abcdefg=1\n", "abcdefg", "1", 8 + 4},
        BlockCase{"abcdefgh=1\n", "abcdefgh", "1", 12 + 4},
        // the same boundaries for the value
        BlockCase{"k=xyz\n", "k", "xyz", 4 + 4}, BlockCase{"k=wxyz\n", "k", "wxyz", 4 + 8},
        BlockCase{"k=1234567\n", "k", "1234567", 4 + 8},
        BlockCase{"k=12345678\n", "k", "12345678", 4 + 12},
        // empty texts still take one word each
        BlockCase{"=v\n", "", "v", 4 + 4}, BlockCase{"k=\"\"\n", "k", "", 4 + 4},
        // a section prefix counts with its dot
        BlockCase{"[a]\nb=1\n", "a.b", "1", 4 + 4}, BlockCase{"[ab]\nc=1\n", "ab.c", "1", 8 + 4},
        BlockCase{"[s]\n=\"\"\n", "s.", "", 4 + 4},
        BlockCase{"[a.b]\ncd=\"x y\"\n", "a.b.cd", "x y", 8 + 4}));

// ---------------------------------------------------------------------------
// Full names and stored bytes.

class RecordTest : public ContextTest {};

TEST_F(RecordTest, FullNamesCarryTheCurrentSectionOrNone) {
    ASSERT_EQ(0, parse("top=0\n[net]\nport=80\n[a.b]\nc=1\n[]\nbare=2\n"));
    EXPECT_EQ(
        tovik_test::Records({{"top", "0"}, {"net.port", "80"}, {"a.b.c", "1"}, {"bare", "2"}}),
        records());
}

TEST_F(RecordTest, EmptyKeyInSectionGivesSectionAndDot) {
    ASSERT_EQ(0, parse("[s]\n= v\n"));
    tovik_kv *kv = first_record(ctx);
    ASSERT_NE(nullptr, kv);
    EXPECT_EQ(2u, kv->name_len);
    EXPECT_STREQ("s.", kv->name);
    EXPECT_STREQ("v", kv->value);
    EXPECT_EQ(kv, tovik_find_key(&ctx, "s."));
}

TEST_F(RecordTest, NulInsideValueIsStoredWhole) {
    ASSERT_EQ(0, parse("k=a\0b\n"s));
    tovik_kv *kv = first_record(ctx);
    ASSERT_NE(nullptr, kv);
    EXPECT_EQ(3u, kv->value_len);
    EXPECT_EQ(0, std::memcmp(kv->value, "a\0b\0", 4));
    EXPECT_EQ(kFixed + 4 + 4, heap.requests.front());
}

TEST_F(RecordTest, DuplicatesStayInTextOrderAcrossCalls) {
    ASSERT_EQ(0, parse("k=1\nk=2\n"));
    ASSERT_EQ(0, parse("k=3\n"));
    EXPECT_EQ(tovik_test::Records({{"k", "1"}, {"k", "2"}, {"k", "3"}}), records());
    tovik_kv *found = tovik_find_key(&ctx, "k");
    ASSERT_NE(nullptr, found);
    EXPECT_STREQ("1", found->value);
    EXPECT_EQ(first_record(ctx), found);
}

TEST_F(RecordTest, RecordsAreLinkedBothWaysAroundTheSentinel) {
    ASSERT_EQ(0, parse("a=1\nb=2\nc=3\n"));
    std::vector<tovik_list *> links;
    for (tovik_list *l = ctx.records.next; l != &ctx.records && links.size() < 10; l = l->next)
        links.push_back(l);
    ASSERT_EQ(3u, links.size());
    EXPECT_EQ(&ctx.records, links[0]->prev);
    EXPECT_EQ(links[0], links[1]->prev);
    EXPECT_EQ(links[1], links[2]->prev);
    EXPECT_EQ(links[2], ctx.records.prev);
}

// ---------------------------------------------------------------------------
// tovik_find_key

struct FindCase {
    std::string text;  // buffer parsed first
    const char *query; // NUL-terminated name looked up
    const char *value; // value of the record expected, or nullptr for none
};

std::ostream &operator<<(std::ostream &os, const FindCase &c) {
    return os << '"' << c.query << "\" in " << escaped(c.text);
}

class FindKeyTest : public ContextTest, public ::testing::WithParamInterface<FindCase> {};

TEST_P(FindKeyTest, FindsTheFirstRecordWithThatName) {
    const FindCase &c = GetParam();
    ASSERT_EQ(0, parse(c.text));
    tovik_kv *kv = tovik_find_key(&ctx, c.query);
    if (!c.value) {
        EXPECT_EQ(nullptr, kv);
        return;
    }
    ASSERT_NE(nullptr, kv);
    EXPECT_EQ(std::string(c.value), tovik_test::text(kv->value, kv->value_len));
}

INSTANTIATE_TEST_SUITE_P(
    Names, FindKeyTest,
    ::testing::Values(
        FindCase{"a=1\nb=2\na=3\n", "a", "1"}, FindCase{"a=1\nb=2\na=3\n", "b", "2"},
        FindCase{"a=1\n", "c", nullptr},
        // case-sensitive
        FindCase{"Key=1\n", "Key", "1"}, FindCase{"Key=1\n", "key", nullptr},
        FindCase{"KEY=1\nkey=2\n", "key", "2"},
        // the section prefix is part of the name
        FindCase{"[s]\nk=1\n", "s.k", "1"}, FindCase{"[s]\nk=1\n", "k", nullptr},
        FindCase{"k=0\n[s]\nk=1\n", "k", "0"}, FindCase{"[s]\nk=1\n", "s", nullptr},
        // whole names only, neither a prefix nor an extension matches
        FindCase{"[s]\nk=1\n", "s.", nullptr}, FindCase{"[s]\nkk=1\n", "s.k", nullptr},
        FindCase{"[s]\nk=1\n", "s.kk", nullptr},
        // the empty name
        FindCase{"a=1\n=2\n", "", "2"}, FindCase{"a=1\n", "", nullptr},
        // names compare up to their first NUL: "a\0b" is found as "a", ahead of a later "a"
        FindCase{"a\0b=1\na=2\n"s, "a", "1"}, FindCase{"a=2\na\0b=1\n"s, "a", "2"},
        FindCase{"a\0b=1\n"s, "a\0b", "1"}, FindCase{"a\0b=1\n"s, "ab", nullptr}));

TEST_F(RecordTest, FindKeyOnEmptyListGivesNull) { EXPECT_EQ(nullptr, tovik_find_key(&ctx, "a")); }

TEST_F(RecordTest, FindKeyWithNullArgumentsGivesNull) {
    ASSERT_EQ(0, parse("a=1\n"));
    EXPECT_EQ(nullptr, tovik_find_key(nullptr, "a"));
    EXPECT_EQ(nullptr, tovik_find_key(&ctx, nullptr));
}

// ---------------------------------------------------------------------------
// tovik_kv_iter

TEST_F(RecordTest, IterWithNullContextGivesNull) {
    ASSERT_EQ(0, parse("a=1\n"));
    EXPECT_EQ(nullptr, tovik_kv_iter(nullptr, nullptr));
    EXPECT_EQ(nullptr, tovik_kv_iter(nullptr, first_record(ctx)));
}

TEST_F(RecordTest, IterOnEmptyListGivesNull) { EXPECT_EQ(nullptr, tovik_kv_iter(&ctx, nullptr)); }

TEST_F(RecordTest, IterWalksThreeRecordsThenStops) {
    ASSERT_EQ(0, parse("x=1\n[s]\ny=2\nz=3\n"));
    tovik_kv *first = tovik_kv_iter(&ctx, nullptr);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(reinterpret_cast<tovik_kv *>(ctx.records.next), first);
    EXPECT_STREQ("x", first->name);

    tovik_kv *second = tovik_kv_iter(&ctx, first);
    ASSERT_NE(nullptr, second);
    EXPECT_STREQ("s.y", second->name);

    tovik_kv *third = tovik_kv_iter(&ctx, second);
    ASSERT_NE(nullptr, third);
    EXPECT_STREQ("s.z", third->name);
    EXPECT_EQ(reinterpret_cast<tovik_kv *>(ctx.records.prev), third);

    EXPECT_EQ(nullptr, tovik_kv_iter(&ctx, third));
}

} // namespace
