// Inputs that a careless parser falls over: a name a million levels deep,
// very long lines and values, buffers made of one special byte, every byte
// value, and lengths whose block sizes would not fit in size_t. Every buffer
// is a heap block of exactly its length, so that a read past the end is
// caught by AddressSanitizer and valgrind. The fixture fails on any leak or
// bad release, and the structure is checked after every parse.
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "invariants.hpp"
#include "scanner_states.hpp"
#include "tracking_allocator.hpp"

namespace {

using tovik_test::ContextTest;
using tovik_test::list_is_empty;
using tovik_test::Records;
using namespace tovik_test::states;

constexpr size_t kMiB = size_t(1) << 20;
constexpr size_t kNode = sizeof(tovik_tree_node);

// A heap block of exactly `size` bytes, filled with `fill`.
class ExactBuffer {
  public:
    explicit ExactBuffer(size_t size, char fill = '\0') : bytes_(new char[size]), size_(size) {
        std::memset(bytes_.get(), fill, size);
    }
    ExactBuffer(std::string_view prefix, size_t size, char fill, std::string_view suffix)
        : ExactBuffer(size, fill) {
        std::memcpy(data(), prefix.data(), prefix.size());
        std::memcpy(data() + size - suffix.size(), suffix.data(), suffix.size());
    }
    char *data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    std::string_view view() const { return {data(), size_}; }

  private:
    std::unique_ptr<char[]> bytes_;
    size_t size_;
};

bool is_blank(unsigned char byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }

// Fills `size` bytes from `at` by cycling through every byte value that may
// stand in a bare value (all but the blanks), quotes, brackets, "=", the
// comment markers and NUL among them.
void fill_with_non_blanks(char *at, size_t size) {
    std::vector<char> alphabet;
    for (int byte = 0; byte < 256; ++byte)
        if (!is_blank(static_cast<unsigned char>(byte)))
            alphabet.push_back(static_cast<char>(byte));
    for (size_t i = 0; i < size; ++i)
        at[i] = alphabet[i % alphabet.size()];
}

class HostileInputTest : public ContextTest {
  protected:
    void parse_buffer(const ExactBuffer &buffer, uint32_t flags = 0) {
        ASSERT_EQ(0, parse(buffer.view(), flags));
        ASSERT_EQ("", tovik_test::invariant_violations(ctx, heap));
    }
    // The only record, checked without copying its texts.
    void expect_single_record(std::string_view name, std::string_view value) {
        tovik_kv *kv = tovik_kv_iter(&ctx, nullptr);
        ASSERT_NE(nullptr, kv);
        EXPECT_EQ(nullptr, tovik_kv_iter(&ctx, kv)) << "more than one record";
        EXPECT_EQ(name, std::string_view(kv->name, kv->name_len));
        ASSERT_EQ(value.size(), kv->value_len);
        EXPECT_EQ(0, std::memcmp(value.data(), kv->value, value.size())) << "value bytes differ";
    }
};

// ---------------------------------------------------------------------------
// A million dots

constexpr size_t kDots = 1000000;

TEST_F(HostileInputTest, MillionLevelNameIsFiledIteratedAndReleasedFromItsTop) {
    // "d.d.d...d=1\n": one path node per segment, the last one the leaf.
    ExactBuffer buffer(2 * kDots + 4, '.');
    for (size_t i = 0; i <= kDots; ++i)
        buffer.data()[2 * i] = 'd';
    std::memcpy(buffer.data() + 2 * kDots + 1, "=1\n", 3);
    ASSERT_NO_FATAL_FAILURE(parse_buffer(buffer));

    tovik_kv *record = tovik_kv_iter(&ctx, nullptr);
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(2 * kDots + 1, record->name_len);
    std::vector<tovik_tree_node *> chain;
    chain.reserve(kDots + 1);
    size_t misshapen = 0;
    for (tovik_tree_node *n = tovik_kv_tree_iter(&ctx, nullptr, nullptr); n;
         n = tovik_kv_tree_iter(&ctx, n, nullptr)) {
        chain.push_back(n);
        // A node alone in its list has the list's sentinel on both sides.
        misshapen += n->name_len != 1 || n->name[0] != 'd' || n->link.next != n->link.prev;
    }
    ASSERT_EQ(kDots + 1, chain.size());
    EXPECT_EQ(0u, misshapen) << "every level holds one node named d without siblings";
    ASSERT_NE(nullptr, chain.back()->value);
    EXPECT_EQ("1", std::string(chain.back()->value, chain.back()->value_len));
    EXPECT_EQ(nullptr, chain[kDots - 1]->value);

    tovik_free_tree_node(&ctx, chain.front());
    EXPECT_TRUE(list_is_empty(ctx.tree));
    ASSERT_EQ(kDots + 1, heap.released.size());
    tovik_test::expect_released_bottom_up(heap.released, chain);
    EXPECT_EQ("", tovik_test::invariant_violations(ctx, heap));
    EXPECT_EQ(record, tovik_kv_iter(&ctx, nullptr)) << "records stay when the tree goes";

    EXPECT_EQ(0, tovik_deinit(&ctx));
    ASSERT_EQ(kDots + 2, heap.released.size());
    EXPECT_EQ(record, heap.released.back());
}

TEST_F(HostileInputTest, MillionDotsAloneMakeARecordAndNoNode) {
    ExactBuffer buffer("", kDots + 3, '.', "=1\n");
    ASSERT_NO_FATAL_FAILURE(parse_buffer(buffer));
    ASSERT_NO_FATAL_FAILURE(expect_single_record(buffer.view().substr(0, kDots), "1"));
    EXPECT_TRUE(list_is_empty(ctx.tree));
    EXPECT_EQ(1u, heap.requests.size());
}

// ---------------------------------------------------------------------------
// Long lines and values

TEST_F(HostileInputTest, SixtyFourMebibyteLineIsOneRecord) {
    // No line end: the bare value runs into the end of the buffer.
    ExactBuffer buffer("key=", 64 * kMiB, '\0', "");
    fill_with_non_blanks(buffer.data() + 4, buffer.size() - 4);
    ASSERT_NO_FATAL_FAILURE(parse_buffer(buffer));
    std::string_view value = buffer.view().substr(4);
    ASSERT_NO_FATAL_FAILURE(expect_single_record("key", value));
    EXPECT_EQ(kEmit, ctx.state);

    tovik_tree_node *leaf = tovik_find_tree_node(&ctx, nullptr, "key", 3);
    ASSERT_NE(nullptr, leaf);
    ASSERT_NE(nullptr, leaf->value);
    ASSERT_EQ(value.size(), leaf->value_len);
    EXPECT_EQ(0, std::memcmp(value.data(), leaf->value, value.size()));
    EXPECT_EQ(nullptr, tovik_kv_tree_iter(&ctx, nullptr, leaf));
}

struct LongValueCase {
    const char *label;
    const char *head; // up to the value
    const char *tail; // after the value
    bool quoted;      // a quoted value may hold blanks and line ends
};

void PrintTo(const LongValueCase &c, std::ostream *os) { *os << c.label; }

class LongValueTest : public HostileInputTest,
                      public ::testing::WithParamInterface<LongValueCase> {};

TEST_P(LongValueTest, EightMebibyteValueIsKeptWhole) {
    const LongValueCase &c = GetParam();
    const std::string_view head = c.head, tail = c.tail;
    ExactBuffer buffer(head, head.size() + 8 * kMiB + tail.size(), '\0', tail);
    char *value = buffer.data() + head.size();
    if (c.quoted) {
        // Lines of every byte but the quote and the backslash.
        for (size_t i = 0; i < 8 * kMiB; ++i) {
            char byte = static_cast<char>(i % 256);
            value[i] = byte == '"' || byte == '\\' ? '\n' : byte;
        }
    } else {
        fill_with_non_blanks(value, 8 * kMiB);
    }
    ASSERT_NO_FATAL_FAILURE(parse_buffer(buffer));
    const std::string expected(value, 8 * kMiB);
    EXPECT_EQ((Records{{"big.data.blob", expected}, {"big.data.after", "1"}}), records());
    EXPECT_EQ("big{data{blob=" + expected + " after=1}}", tree());
}

INSTANTIATE_TEST_SUITE_P(
    Values, LongValueTest,
    ::testing::Values(LongValueCase{"bare", "[big.data]\nblob = ", "\nafter = 1\n", false},
                      LongValueCase{"quoted", "[big.data]\nblob = \"", "\" tail\nafter = 1\n",
                                    true}),
    [](const ::testing::TestParamInfo<LongValueCase> &info) { return info.param.label; });

// ---------------------------------------------------------------------------
// Sixteen mebibytes of one byte

// A record whose value is the buffer less `value_head` leading and
// `value_tail` trailing bytes.
struct SliceRecord {
    const char *name;
    size_t value_head;
    size_t value_tail;
};

struct FillCase {
    const char *label;
    const char *prefix;
    char fill; // every byte between prefix and suffix
    const char *suffix;
    int32_t state; // where the scanner stops
    std::optional<SliceRecord> record;
};

void PrintTo(const FillCase &c, std::ostream *os) { *os << c.label; }

class FillTest : public HostileInputTest, public ::testing::WithParamInterface<FillCase> {};

TEST_P(FillTest, GivesWhatTheDialectSays) {
    const FillCase &c = GetParam();
    ExactBuffer buffer(c.prefix, 16 * kMiB, c.fill, c.suffix);
    ASSERT_NO_FATAL_FAILURE(parse_buffer(buffer));
    EXPECT_EQ(c.state, ctx.state);
    if (!c.record) {
        EXPECT_TRUE(list_is_empty(ctx.records));
        EXPECT_TRUE(heap.requests.empty());
        return;
    }
    std::string_view value = buffer.view().substr(c.record->value_head);
    value.remove_suffix(c.record->value_tail);
    ASSERT_NO_FATAL_FAILURE(expect_single_record(c.record->name, value));
}

const FillCase kFillCases[] = {
    // An unclosed header: everything after the first "[" looks for "]".
    {"open_brackets", "", '[', "", kSectionEnd, std::nullopt},
    // Each quote ends an empty key; no "=" ever follows.
    {"double_quotes", "", '"', "", kSeekEquals, std::nullopt},
    // One key that runs into the end of the buffer.
    {"backslashes", "", '\\', "", kKey, std::nullopt},
    {"nul_bytes", "", '\0', "", kKey, std::nullopt},
    // An empty key, then a bare value of all the other "=" up to the end.
    {"equals_signs", "", '=', "", kEmit, SliceRecord{"", 1, 0}},
    {"carriage_returns", "", '\r', "", kLineStart, std::nullopt},
    // The closing quote follows an odd run of backslashes, so it is escaped
    // and the value never closes; one blank more makes the run even.
    {"odd_backslash_run_in_quotes", "k=\"", '\\', "\"\n", kQuotedValue, std::nullopt},
    {"even_backslash_run_in_quotes", "k= \"", '\\', "\"\n", kLineStart, SliceRecord{"k", 4, 2}},
};

INSTANTIATE_TEST_SUITE_P(Buffers, FillTest, ::testing::ValuesIn(kFillCases),
                         [](const ::testing::TestParamInfo<FillCase> &info) {
                             return info.param.label;
                         });

// ---------------------------------------------------------------------------
// Every byte value

// The bytes from `first` to `last` inclusive, counting up or down.
std::string byte_run(int first, int last) {
    std::string out;
    int step = first <= last ? 1 : -1;
    for (int byte = first;; byte += step) {
        out += static_cast<char>(byte);
        if (byte == last)
            return out;
    }
}

struct EveryByteCase {
    const char *label;
    int first, last; // the buffer: every byte value once, from first to last
    int32_t state;
    std::string name, value; // the one record
};

void PrintTo(const EveryByteCase &c, std::ostream *os) { *os << c.label; }

class EveryByteTest : public HostileInputTest,
                      public ::testing::WithParamInterface<EveryByteCase> {};

TEST_P(EveryByteTest, GivesOneRecordAndOneLeaf) {
    const EveryByteCase &c = GetParam();
    std::string bytes = byte_run(c.first, c.last);
    ExactBuffer buffer(bytes, bytes.size(), '\0', "");
    ASSERT_NO_FATAL_FAILURE(parse_buffer(buffer));
    EXPECT_EQ((Records{{c.name, c.value}}), records());
    EXPECT_EQ(c.name + "=" + c.value, tree());
    EXPECT_EQ(c.state, ctx.state);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, EveryByteTest,
    ::testing::Values(
        // The key ends at HT; the value follows the "=" and runs to the end.
        EveryByteCase{"ascending", 0x00, 0xff, kEmit, byte_run(0x00, 0x08), byte_run(0x3e, 0xff)},
        // The key ends at "]"; the value ends at the space; after the CR the
        // bytes below HT start a key that runs into the end.
        EveryByteCase{"descending", 0xff, 0x00, kKey, byte_run(0xff, 0x5e), byte_run(0x3c, 0x21)}),
    [](const ::testing::TestParamInfo<EveryByteCase> &info) { return info.param.label; });

// ---------------------------------------------------------------------------
// Lengths near SIZE_MAX

// The largest block size that a length can produce: a multiple of 4.
constexpr size_t kLargestBlock = SIZE_MAX - 3;

struct HugeLengthCase {
    const char *label;
    size_t name_len;
    std::optional<size_t> value_len; // none: tovik_add_subnode
    size_t request;                  // the size alloc_fn must see; 0 when it must not be called
};

void PrintTo(const HugeLengthCase &c, std::ostream *os) { *os << c.label; }

class HugeLengthTest : public HostileInputTest,
                       public ::testing::WithParamInterface<HugeLengthCase> {};

// The lengths are never read through: every request is refused.
TEST_P(HugeLengthTest, IsRefusedWithoutAWrappedRequest) {
    const HugeLengthCase &c = GetParam();
    static const char bytes[] = "xy";
    tovik_tree_node *p = tovik_add_subnode(&ctx, nullptr, "p", 1);
    ASSERT_NE(nullptr, p);
    heap.refuse_from(1);
    const std::vector<size_t> expected_requests =
        c.request ? std::vector<size_t>{c.request, c.request} : std::vector<size_t>{};
    for (tovik_tree_node *parent : {static_cast<tovik_tree_node *>(nullptr), p}) {
        tovik_tree_node *made =
            c.value_len ? tovik_add_valuenode(&ctx, parent, bytes, c.name_len, bytes, *c.value_len)
                        : tovik_add_subnode(&ctx, parent, bytes, c.name_len);
        EXPECT_EQ(nullptr, made);
    }
    EXPECT_EQ(expected_requests,
              std::vector<size_t>(heap.requests.begin() + 1, heap.requests.end()));
    EXPECT_EQ("p", tree()) << "nothing may be linked";
    EXPECT_TRUE(list_is_empty(p->children));
    EXPECT_EQ("", tovik_test::invariant_violations(ctx, heap));
}

// A node's fixed fields, then the name's area; a value's area after it.
constexpr size_t kLongestName = kLargestBlock - kNode - 1;
constexpr size_t kLongestValue = kLargestBlock - kNode - 4 - 1; // after a one-byte name

INSTANTIATE_TEST_SUITE_P(
    Lengths, HugeLengthTest,
    ::testing::Values(HugeLengthCase{"subnode_size_max", SIZE_MAX, std::nullopt, 0},
                      HugeLengthCase{"subnode_name_area_wraps", SIZE_MAX - 3, std::nullopt, 0},
                      HugeLengthCase{"subnode_one_past_the_largest", kLongestName + 1, std::nullopt,
                                     0},
                      HugeLengthCase{"subnode_largest", kLongestName, std::nullopt, kLargestBlock},
                      HugeLengthCase{"valuenode_name_size_max", SIZE_MAX, 0, 0},
                      HugeLengthCase{"valuenode_value_size_max", 1, SIZE_MAX, 0},
                      HugeLengthCase{"valuenode_halves", SIZE_MAX / 2, SIZE_MAX / 2, 0},
                      HugeLengthCase{"valuenode_one_past_the_largest", 1, kLongestValue + 1, 0},
                      HugeLengthCase{"valuenode_largest", 1, kLongestValue, kLargestBlock}),
    [](const ::testing::TestParamInfo<HugeLengthCase> &info) { return info.param.label; });

} // namespace
