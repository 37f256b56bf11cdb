// The line scanner: which bytes become records, with which names and values,
// and the state the scanner is left in when the buffer runs out.
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "scanner_states.hpp"
#include "tracking_allocator.hpp"

namespace {

using namespace std::string_literals;
using tovik_test::ContextTest;
using tovik_test::escaped;
using tovik_test::Records;
using namespace tovik_test::states;

// Parses `len` bytes from a heap block of exactly that size, so that a read
// at or past the end is a heap overflow under AddressSanitizer.
int parse_exact_copy(tovik_ctx &ctx, const char *data, size_t len) {
    std::unique_ptr<char[]> copy(new char[len]);
    if (len != 0)
        std::memcpy(copy.get(), data, len);
    return tovik_parse_data(&ctx, nullptr, copy.get(), len);
}

struct ScanCase {
    const char *label;
    std::string text;
    Records records;
    int32_t state;
};

std::ostream &operator<<(std::ostream &os, const ScanCase &c) {
    return os << c.label << ": \"" << escaped(c.text) << '"';
}

class ScanTest : public ContextTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(ScanTest, MakesTheRecordsAndStopsInTheState) {
    const ScanCase &c = GetParam();
    ASSERT_EQ(0, parse_exact_copy(ctx, c.text.data(), c.text.size()));
    EXPECT_EQ(c.records, records());
    EXPECT_EQ(c.state, ctx.state);
}

const std::vector<ScanCase> kScanCases = {
    // Bare values. One that runs into the end of the buffer ends there, as if
    // a blank followed it.
    {"BareValueAtEnd", "a=1", {{"a", "1"}}, kEmit},
    {"BareValueThenBlankAtEnd", "a=1 ", {{"a", "1"}}, kEmit},
    {"BareValueThenWordAtEnd", "k = hello world", {{"k", "hello"}}, kEmit},
    {"BareValueEndsAtBlank", "k = hello world\n", {{"k", "hello"}}, kLineStart},
    {"MarkerInsideBareValue", "k = v;c\n", {{"k", "v;c"}}, kLineStart},
    {"MarkerAfterBareValue", "k = v ;c\n", {{"k", "v"}}, kLineStart},
    {"MarkerStartsBareValue", "k = ;c\n", {{"k", ";c"}}, kLineStart},
    {"VerticalTabEndsBareValue", "k=ab\vcd\n", {{"k", "ab"}}, kLineStart},
    {"FormFeedBeforeValueSkipped", "k=\fv\n", {{"k", "v"}}, kLineStart},
    {"ControlByteInKeyAndValue", "\x01k\x01=\x01v\x01\n", {{"\x01k\x01", "\x01v\x01"}}, kLineStart},
    {"NulInsideValue", "k=a\0b\n"s, {{"k", "a\0b"s}}, kLineStart},
    {"NulInsideKey", "k\0y=v\n"s, {{"k\0y"s, "v"}}, kLineStart},
    {"HighBytesAreText", "\xff\x80=\xfe\x7f\n", {{"\xff\x80", "\xfe\x7f"}}, kLineStart},

    // Quoted values.
    {"QuotedValueAtEnd", "a=\"x\"", {{"a", "x"}}, kEmit},
    {"EmptyQuotedValue", "k=\"\"\n", {{"k", ""}}, kLineStart},
    {"QuotedValueSpansLines", "k = \"one\ntwo\"\n", {{"k", "one\ntwo"}}, kLineStart},
    {"QuotedValueKeepsCr", "k=\"a\rb\"\r", {{"k", "a\rb"}}, kLineStart},
    {"QuotedValueKeepsBlanks", "k= \" a b \" tail\n", {{"k", " a b "}}, kLineStart},
    {"EscapedQuoteKept", "k = \"a\\\"b\" tail\n", {{"k", "a\\\"b"}}, kLineStart},
    // Runs of 0 to 4 backslashes before a quote: an even run closes the value.
    {"NoBackslashBeforeQuote", "k=\"a\"b\"\n", {{"k", "a"}}, kLineStart},
    {"OneBackslashBeforeQuote", "k=\"a\\\"b\"\n", {{"k", "a\\\"b"}}, kLineStart},
    {"TwoBackslashesBeforeQuote", "k=\"a\\\\\"x\n", {{"k", "a\\\\"}}, kLineStart},
    {"ThreeBackslashesBeforeQuote", "k=\"a\\\\\\\"b\"\n", {{"k", "a\\\\\\\"b"}}, kLineStart},
    {"FourBackslashesBeforeQuote", "k=\"a\\\\\\\\\"b\"\n", {{"k", "a\\\\\\\\"}}, kLineStart},
    {"BackslashFirstInValue", "k=\"\\\"x\"\n", {{"k", "\\\"x"}}, kLineStart},
    {"BackslashNotBeforeQuote", "k=\"a\\b\"\n", {{"k", "a\\b"}}, kLineStart},
    {"UnclosedQuotedValue", "a=\"x", {}, kQuotedValue},
    {"LoneOpeningQuote", "a=\"", {}, kQuotedValue},
    {"EscapedQuoteAtEnd", "a=\"x\\\"", {}, kQuotedValue},

    // Keys, and the search for "=".
    {"EqualsOnLaterLine", "key\nother=value\n", {{"key", "value"}}, kLineStart},
    {"EqualsPastCommentLine", "key\n; note\nother = v\n", {{"key", "v"}}, kLineStart},
    {"EqualsInsideCommentLine", "key\n#a=b\n", {{"key", "b"}}, kLineStart},
    {"EmptyKey", "=v\n", {{"", "v"}}, kLineStart},
    {"BracketStartsNoKey", "]x=1\n", {{"", "1"}}, kLineStart},
    {"ApostropheEndsKey", "it's = x\n", {{"it", "x"}}, kLineStart},
    {"BracketEndsKey", "a]b = 1\n", {{"a", "1"}}, kLineStart},
    {"QuoteEndsKey", "a\"b=1\n", {{"a", "1"}}, kLineStart},
    {"BlanksAroundKeyAndValue", "\t k\t=\tv\r\n", {{"k", "v"}}, kLineStart},
    {"NoValueBeforeLineEnd", "k =\nz=1\n", {{"z", "1"}}, kLineStart},
    {"OnlyBlanksBeforeLineEnd", "k = \n", {}, kLineStart},
    {"KeyAtEnd", "key", {}, kKey},
    {"KeyAfterRecordAtEnd", "a=1\nbc", {{"a", "1"}}, kKey},
    {"KeyThenBlankAtEnd", "key ", {}, kSeekEquals},
    {"KeyThenLineEndAtEnd", "key\n", {}, kSeekEquals},
    {"KeyThenMoreLinesAtEnd", "key\nmore words\n;c\n", {}, kSeekEquals},
    {"ApostropheKeyAtEnd", "it's", {}, kSeekEquals},
    {"EqualsAtEnd", "k=", {}, kValueStart},
    {"EqualsThenBlanksAtEnd", "k = \t\f", {}, kValueStart},
    {"EqualsOnLaterLineAtEnd", "k\n=", {}, kValueStart},

    // Comments, blank lines and line ends.
    {"Empty", "", {}, kLineStart},
    {"OnlyBlanks", "\n\r\n \t\v\f", {}, kLineStart},
    {"CommentLinesSkipped", "#c=1\n;d=2\nk=v #c\n", {{"k", "v"}}, kLineStart},
    {"IndentedComment", "  ; a=1\nk=v\n", {{"k", "v"}}, kLineStart},
    {"CommentAtEnd", "a=1\n# note", {{"a", "1"}}, kComment},
    {"LoneMarkerAtEnd", "k=v\n;", {{"k", "v"}}, kComment},
    {"CrLineEnds", "a=1\rb=2\r", {{"a", "1"}, {"b", "2"}}, kLineStart},
    {"CrLfLineEnds", "a=1\r\nb=2\r\n", {{"a", "1"}, {"b", "2"}}, kLineStart},
    {"RepeatedKeysKept", "k=1\nk=2\n", {{"k", "1"}, {"k", "2"}}, kLineStart},

    // Section headers.
    {"EmptyHeader", "[]\nk=v\n", {{"k", "v"}}, kLineStart},
    {"DottedHeader", "[a.b]\nk=v\n", {{"a.b.k", "v"}}, kLineStart},
    {"HeaderNameEndsAtEquals", "[a=b] junk\nk=v\n", {{"a.k", "v"}}, kLineStart},
    {"HeaderNameEndsAtQuote", "[a\"b]\nk=v\n", {{"a.k", "v"}}, kLineStart},
    {"HeaderNameEndsAtApostrophe", "[it's]\nk=v\n", {{"it.k", "v"}}, kLineStart},
    {"HeaderNameEndsAtBracket", "[a[b]\nk=v\n", {{"a.k", "v"}}, kLineStart},
    {"HeaderSkipCrossesLines", "[abc\nk=v\n]\nz=1\n", {{"abc.z", "1"}}, kLineStart},
    {"HeaderSkipCrossesCrLines", "[abc\rk=v\r]\rz=1\r", {{"abc.z", "1"}}, kLineStart},
    {"SectionsChange", "[s]\nk=v\n[t]\nk=w\n", {{"s.k", "v"}, {"t.k", "w"}}, kLineStart},
    {"EmptyHeaderClears", "[s]\na=1\n[]\nb=2\n", {{"s.a", "1"}, {"b", "2"}}, kLineStart},
    // Blanks between the brackets: trimmed around the name, kept inside it.
    {"BlanksAroundHeaderName", "[ net ]\nport = 80\n", {{"net.port", "80"}}, kLineStart},
    {"BlankInsideHeaderName",
     "[Desktop Entry]\nName=x\n",
     {{"Desktop Entry.Name", "x"}},
     kLineStart},
    {"BlankOnlyHeaderClears", "[s]\na=1\n[ ]\nb=2\n", {{"s.a", "1"}, {"b", "2"}}, kLineStart},
    {"BlankHeaderNameEndsAtEquals", "[a b = c]\nk=v\n", {{"a b.k", "v"}}, kLineStart},
    {"TabVtFfTrimmed", "[\t\v\f n\tt \f\v\t]\nk=v\n", {{"n\tt.k", "v"}}, kLineStart},
    {"BlankHeaderNameEndsAtLineEnd", "[ ab c \nk=v\n]\nz=1\n", {{"ab c.z", "1"}}, kLineStart},
    {"BlanksThenLineEndClears", "[s]\n[  \nk=v\n]\nz=1\n", {{"z", "1"}}, kLineStart},
    {"BlanksThenEqualsClears", "[s]\n[ =x]\nk=v\n", {{"k", "v"}}, kLineStart},
    {"LoneBracketAtEnd", "[", {}, kSectionName},
    {"HeaderNameAtEnd", "k=v\n[abc", {{"k", "v"}}, kSectionName},
    {"HeaderBlanksAtEnd", "[ \t", {}, kSectionName},
    {"HeaderBlankNameAtEnd", "[ ab c", {}, kSectionName},
    {"HeaderClosedAtEnd", "[abc]", {}, kSectionEnd},
    {"HeaderJunkAtEnd", "[abc] junk", {}, kSectionEnd},
    {"HeaderWithoutCloseAtEnd", "[abc\nk=v\n", {}, kSectionEnd},
};

INSTANTIATE_TEST_SUITE_P(Buffers, ScanTest, ::testing::ValuesIn(kScanCases),
                         [](const ::testing::TestParamInfo<ScanCase> &info) {
                             return std::string(info.param.label);
                         });

// A section header sets the prefix of this parse call only: every call
// starts without a section.
TEST_F(ContextTest, SectionDoesNotCarryIntoTheNextCall) {
    ASSERT_EQ(0, parse("[s]\na=1\n"));
    ASSERT_EQ(0, parse("b=2\n"));
    EXPECT_EQ(Records({{"s.a", "1"}, {"b", "2"}}), records());
    EXPECT_EQ(kLineStart, ctx.state);
}

// A bare value cut by the end of the buffer whose record is refused leaves
// the same state as a recorded one, and nothing is made.
TEST_F(ContextTest, RefusedLastLineRecordLeavesEmitState) {
    heap.refuse_from(1);
    ASSERT_EQ(0, parse("a=1"));
    EXPECT_TRUE(records().empty());
    EXPECT_EQ(kEmit, ctx.state);
    EXPECT_EQ(1u, heap.requests.size()) << "the record was never requested";
}

// A refused record ends the scan at once: later lines give nothing even when
// the allocator would accept them again.
TEST_F(ContextTest, RefusedRecordStopsTheScan) {
    heap.refuse_request(2);
    ASSERT_EQ(0, parse("a=1\nb=2\nc=3\n"));
    EXPECT_EQ(Records({{"a", "1"}}), records());
    EXPECT_EQ(kEmit, ctx.state);
}

// The buffer is the first `len` bytes of a longer text whose next bytes would
// change the result if they were read.
struct PrefixCase {
    const char *label;
    const char *text;
    size_t len;
    Records records;
    int32_t state;
};

std::ostream &operator<<(std::ostream &os, const PrefixCase &c) {
    return os << c.label << ": " << c.len << " bytes of \"" << escaped(c.text) << '"';
}

class PrefixTest : public ContextTest, public ::testing::WithParamInterface<PrefixCase> {};

TEST_P(PrefixTest, ReadsNothingPastTheLength) {
    const PrefixCase &c = GetParam();
    ASSERT_LT(c.len, std::strlen(c.text));

    // In place, with the rest of the text right behind the buffer.
    ASSERT_EQ(0, tovik_parse_data(&ctx, nullptr, c.text, c.len));
    EXPECT_EQ(c.records, records());
    EXPECT_EQ(c.state, ctx.state);
    ASSERT_EQ(0, tovik_deinit(&ctx));

    // From a block of exactly the buffer's size.
    ASSERT_EQ(0, parse_exact_copy(ctx, c.text, c.len));
    EXPECT_EQ(c.records, records());
    EXPECT_EQ(c.state, ctx.state);
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, PrefixTest,
    ::testing::Values(PrefixCase{"InsideBareValue", "a=12 b", 3, {{"a", "1"}}, kEmit},
                      PrefixCase{"BeforeValue", "a=1 b", 2, {}, kValueStart},
                      PrefixCase{"BeforeEquals", "key=1\n", 3, {}, kKey},
                      PrefixCase{"BeforeClosingQuote", "k=\"x\"\n", 4, {}, kQuotedValue},
                      PrefixCase{"AfterBackslash", "k=\"x\\\"\"\n", 5, {}, kQuotedValue},
                      PrefixCase{"BeforeHeaderClose", "[net]\nk=v\n", 4, {}, kSectionName},
                      PrefixCase{"InsideComment", "k=v\n# c\nz=1\n", 6, {{"k", "v"}}, kComment},
                      PrefixCase{"EmptyPrefix", "a=1\n", 0, {}, kLineStart}),
    [](const ::testing::TestParamInfo<PrefixCase> &info) { return std::string(info.param.label); });

} // namespace
