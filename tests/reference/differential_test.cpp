// The library against the literal reference parser: tricky inputs and
// generated dialect-heavy texts, each with every flag and parent, repeated
// calls, one text split over several calls, and a refusal of every request.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "differential.hpp"
#include "long_lists.hpp"

namespace {

using namespace std::string_literals;
using tovik_differential::Call;
using tovik_differential::compare;
using tovik_differential::key_lines;
using tovik_differential::long_list_cases;
using tovik_differential::LongListCase;
using tovik_differential::Scenario;

constexpr uint32_t kReplace = TOVIK_FLAG_REPLACE;
constexpr uint32_t kHighBit = 0x80000000u; // a flag bit without meaning

// Returns false (after reporting) when the two parsers disagree.
bool alike(const Scenario &scenario, const std::string &what) {
    std::string difference = compare(scenario).difference;
    EXPECT_EQ("", difference) << what;
    return difference.empty();
}

// Refuses each request of a clean run in turn, and one past the last.
bool alike_under_every_refusal(Scenario scenario, const std::string &what) {
    size_t requests = compare(scenario).requests;
    for (size_t k = 1; k <= requests + 1; ++k) {
        scenario.refuse = k;
        if (!alike(scenario, what + ", request " + std::to_string(k) + " refused"))
            return false;
    }
    return true;
}

bool alike_single_calls(const std::string &text) {
    for (uint32_t flags : {0u, kReplace, kHighBit, kHighBit | kReplace})
        for (bool under_graft : {false, true})
            if (!alike({{{text, flags, under_graft}}},
                       "flags " + std::to_string(flags) + (under_graft ? " under graft" : "")))
                return false;
    return alike({{{text, kReplace, false}}, 0, false}, "replacing without free_fn");
}

bool alike_repeated_calls(const std::string &text) {
    const std::vector<std::vector<Call>> sequences = {
        {{text, 0, false}, {text, kReplace, true}},
        {{text, kReplace, false}, {text, 0, false}},
        {{text, 0, true}, {text, kReplace, true}, {text, kReplace, false}},
    };
    for (size_t i = 0; i < sequences.size(); ++i)
        if (!alike({sequences[i]}, "repeated calls, sequence " + std::to_string(i + 1)))
            return false;
    return true;
}

// The text cut at `cuts` places: the pieces are separate calls, and no
// section carries over from one to the next.
Scenario split(const std::string &text, const std::vector<size_t> &cuts, uint32_t flags) {
    Scenario scenario;
    size_t from = 0;
    for (size_t cut : cuts) {
        scenario.calls.push_back({text.substr(from, cut - from), flags, false});
        from = cut;
    }
    scenario.calls.push_back({text.substr(from), flags, false});
    return scenario;
}

bool alike_split(const std::string &text) {
    for (size_t cut = 1; cut < text.size(); ++cut)
        if (!alike(split(text, {cut}, cut % 2 ? kReplace : 0), "split at " + std::to_string(cut)))
            return false;
    if (text.size() >= 3)
        return alike(split(text, {text.size() / 3, 2 * text.size() / 3}, kReplace),
                     "split in three");
    return true;
}

bool alike_under_refusals(const std::string &text) {
    return alike_under_every_refusal({{{text, kReplace, false}}}, "replacing at the root") &&
           alike_under_every_refusal({{{text, 0, true}}}, "under graft") &&
           alike_under_every_refusal({{{text, 0, false}, {text, kReplace, false}}}, "two calls") &&
           alike_under_every_refusal({{{text, kReplace, false}}, 0, false},
                                     "replacing without free_fn");
}

void expect_alike_everywhere(const std::string &text) {
    SCOPED_TRACE("text \"" + tovik_test::escaped(text) + "\"");
    alike_single_calls(text) && alike_repeated_calls(text) && alike_split(text) &&
        alike_under_refusals(text);
}

// Every case in the dialect's rules where a construct starts, ends, is cut
// off by the end of the buffer, or where filing matches, replaces or grafts.
const std::string kTrickyTexts[] = {
    "",
    "a=1",
    "a=1 ",
    "a=\"x\"",
    "a=\"x",
    "a=\"",
    "a=",
    "a",
    "a ",
    "[",
    "[ ",
    "[abc",
    "[abc]",
    "[abc] tail",
    ";c",
    "#c\n",
    " \t\v\f\r\n",
    "key\nother=value\n",
    "=v\n",
    "[]\nk=v\n",
    "[a.b]\nk=v\n",
    "[a=b] junk\nk=v\n",
    "[abc\nk=v\n]\nz=1\n",
    "k = hello world\n",
    "k = v;c\nk = v ;c\nk = ;c\n",
    "]x=1\n",
    "k = \"a\\\"b\" tail\n",
    "k=\"a\\\\\"x\n",
    "k=\"\\\\\\\"\\\\\"\n",
    "k=\"\\\"\n",
    "k = \"one\ntwo\"\n",
    "k =\nz=1\n",
    "k = \n",
    "k=\"\"\n",
    "k=\"\"x\n",
    "it's = x\n",
    "a]b = 1\n",
    "\t k\t=\tv\r\n",
    "#c=1\n;d=2\nk=v #c\n",
    "[s]\nk=v\n[t]\nk=w\n",
    "k\x01=\x01v\n",
    "k=a\0b\n"s,
    "k\0=v\0w\n[s\0t]\nx=1\n"s,
    "k=a\vb\n",
    "k=\fv\n",
    "\xff\xfe=\x80\x7f\n",
    "[a]\r\nk=v\r\n\r\n[b]\rk=w\r",
    "[ net ]\nport=1\n",
    "[Desktop Entry]\nName=x\n",
    "[a b = c]\nk=v\n",
    "[\t]\nk=v\n",
    "[ a\tb \f]\nk=v\n",
    "[\v\n]k=v\n",
    "[s]\n=v\n",
    "= \n=\"\"\n",
    "a..b = 1\n.c = 2\nd. = 3\n",
    "...=1\na...=1\n.a.=1\n[.]\n.=1\n",
    "a.b.c=1\na.b.d=2\na.b=3\na=4\n",
    "[a.b]\nc=1\n[a]\nb.c=2\nb=3\n",
    "a.b=1\na=2\na.c=3\n",
    "a=2\na.b=1\na=3\na.b.c=4\n",
    "x=1\nx=2\nx=3\n",
    "[net]\nport=1\n[net]\nport=2\n",
    "[net]\nport=80\nnet=1\nport=2\n",
    "[a]\nx=1\n[b]\nx=2\n[a]\ny=3\n[b]\nx=4\n",
    "[a.b.c]\nx=1\ny.z=2\n[a.b]\nc.w=3\nc=4\n[a.b.c]\nx=5\n",
    "[s]\nk=v\n[]\nk=w\n",
    "[p.q]\nr=1\n[p]\nq=2\n[p.q]\ns=3\n",
    "[x]\na.b=1\na=2\na.b=3\n",
    "@graft=1\nk=v\n",
    "@graft.net=1\n@graft.x=2\n",
    "[@graft]\nnet=1\n",
    "k\n=\n=v\n",
    "k=v\"\n",
    "\"=\"x\"\n'k'=v\n",
    "[a]]\nk=v\n[[b]\nk=w\n",
    "[a\"b]\nk=v\n[a'b]\nk=w\n",
    "k=[v]\n[s]k=v\n",
};

TEST(Differential, TrickyTexts) {
    for (const std::string &text : kTrickyTexts)
        expect_alike_everywhere(text);
}

TEST(Differential, ManySiblingsInOneSection) {
    std::string text = "[w]\n";
    for (int i = 0; i < 200; ++i)
        text += "k" + std::to_string(i % 150) + " = " + std::to_string(i) + "\n";
    SCOPED_TRACE("200 keys, 50 of them repeated");
    alike_single_calls(text) && alike_repeated_calls(text) &&
        alike_under_every_refusal({{{text, kReplace, false}}}, "replacing");
}

TEST(Differential, LongSiblingLists) {
    for (const LongListCase &c : long_list_cases()) {
        SCOPED_TRACE(c.what);
        alike({c.calls}, "with free_fn") && alike({c.calls, 0, false}, "without free_fn");
    }
}

// Every refusal of a list that becomes indexed part way through the call,
// and of a replacing call that indexes up to a frontier and releases indexed
// nodes, with and without free_fn.
TEST(Differential, LongSiblingListsUnderEveryRefusal) {
    const std::string wide = key_lines("w", "", 120);
    const std::vector<Call> calls = {{wide}, {key_lines("w", "", 150, 40, 13, 130), kReplace}};
    alike_under_every_refusal({{{wide, kReplace}}}, "one call") &&
        alike_under_every_refusal({calls}, "two calls") &&
        alike_under_every_refusal({calls, 0, false}, "two calls without free_fn");
}

// Pieces that the dialect gives meaning to, so that random strings of them
// hit constructs and their cut-off ends far more often than random bytes.
const std::string kPieces[] = {
    "[",  "]",    "[s]", "[ a.b ]", "[@graft]", "=",     "\"",   "\\",  "\\\"", "'",     "\n",
    "\r", "\r\n", " ",   "\t",      "\v",       "\f",    ";",    "#",   ".",    "..",    "a",
    "b",  "a.b",  "net", "@graft",  "k",        "x=1\n", "a=\"", "\0"s, "\xff", "[a]\n", "v w",
};

std::string random_text(std::mt19937 &random) {
    std::string text;
    size_t pieces = 1 + random() % 30;
    for (size_t i = 0; i < pieces; ++i)
        text += kPieces[random() % std::size(kPieces)];
    return text;
}

TEST(Differential, GeneratedTexts) {
    std::mt19937 random(20261211); // fixed: every run checks the same texts
    for (int i = 0; i < 1500; ++i) {
        std::string text = random_text(random);
        SCOPED_TRACE("text \"" + tovik_test::escaped(text) + "\"");
        uint32_t flags = random() % 2 ? kReplace : 0;
        bool under_graft = random() % 2;
        size_t cut = text.empty() ? 0 : random() % text.size();
        if (!(alike_single_calls(text) &&
              alike({{{text, flags, under_graft}, {text, flags ^ kReplace, !under_graft}}},
                    "two calls") &&
              alike(split(text, {cut}, flags), "split at " + std::to_string(cut)) &&
              alike_under_every_refusal({{{text, flags, under_graft}}}, "one call")))
            return;
    }
}

} // namespace
