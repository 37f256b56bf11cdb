// The corpora promise the same bytes everywhere and text that every reader
// compared in the benchmarks takes the same way; these tests hold them to it.
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "corpus.hpp"
#include "tracking_allocator.hpp"

namespace {

using daduzozi_bench::corpus_names;
using daduzozi_bench::make_corpus;

uint64_t fnv1a(std::string_view text) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char byte : text)
        hash = (hash ^ byte) * 0x100000001b3ull;
    return hash;
}

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

bool is_comment(std::string_view line) {
    return !line.empty() && (line[0] == ';' || line[0] == '#');
}
bool is_section(std::string_view line) { return !line.empty() && line[0] == '['; }
bool is_key_line(std::string_view line) {
    return !line.empty() && !is_comment(line) && !is_section(line);
}
size_t count_dots(std::string_view text) {
    return size_t(std::count(text.begin(), text.end(), '.'));
}

// The generators use their own random numbers and fix the order in which
// random parts are drawn, so these digests hold for every compiler and
// standard library. A deliberate change to a corpus updates its digest here.
TEST(Corpus, BytesAreTheSameOnEveryPlatform) {
    struct Case {
        const char *name;
        uint64_t digest;
    };
    const Case cases[] = {
        {"typical", 0xaa05a74e7a435a4cull},
        {"wide", 0x7db46734a9bb468cull},
        {"deep", 0x78fa6577a3b27e6dull},
        {"small", 0xc3a6d63d091374edull},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.digest, fnv1a(make_corpus(c.name))) << c.name;
}

TEST(Corpus, NamesListTheFourCorporaAndUnknownNamesGiveNothing) {
    EXPECT_EQ((std::vector<std::string>{"typical", "wide", "deep", "small"}), corpus_names());
    EXPECT_EQ("", make_corpus("huge"));
}

TEST(Corpus, TypicalHasTheShapeOfALargeServiceConfig) {
    std::string text = make_corpus("typical");
    EXPECT_GT(text.size(), 1500000u);
    EXPECT_LT(text.size(), 2500000u);
    size_t sections = 0, comments = 0, keys_in_section = 0, fewest = SIZE_MAX, most = 0;
    size_t dotted = 0, quoted = 0, lines = 0;
    auto close_section = [&] {
        if (sections) {
            fewest = std::min(fewest, keys_in_section);
            most = std::max(most, keys_in_section);
        }
        keys_in_section = 0;
    };
    for (std::string_view line : lines_of(text)) {
        lines++;
        if (is_section(line)) {
            close_section();
            sections++;
        } else if (is_comment(line)) {
            comments++;
        } else if (is_key_line(line)) {
            keys_in_section++;
            std::string_view key = line.substr(0, line.find_first_of(" ="));
            dotted += key.find('.') != std::string_view::npos;
            quoted += line.find('"') != std::string_view::npos;
        }
    }
    close_section();
    EXPECT_EQ(5000u, sections);
    EXPECT_EQ(8u, fewest);
    EXPECT_EQ(30u, most);
    EXPECT_GT(comments * 100, lines * 5);
    EXPECT_LT(comments * 100, lines * 15);
    EXPECT_GT(dotted, 0u);
    EXPECT_GT(quoted, 0u);
    EXPECT_NE(std::string::npos, text.find("\r\n"));
    EXPECT_NE(std::string::npos, text.find("\n;"));
    EXPECT_NE(std::string::npos, text.find("\n#"));
}

TEST(Corpus, WideIsOneSectionOfFiftyThousandDistinctKeys) {
    std::string text = make_corpus("wide");
    std::vector<std::string_view> lines = lines_of(text);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(is_section(lines[0]));
    std::set<std::string_view> keys;
    for (size_t i = 1; i < lines.size(); ++i) {
        ASSERT_TRUE(is_key_line(lines[i])) << lines[i];
        keys.insert(lines[i].substr(0, lines[i].find(' ')));
    }
    EXPECT_EQ(50000u, keys.size());
    EXPECT_EQ(50000u, lines.size() - 1);
}

TEST(Corpus, DeepNestsEightToTwelveLevels) {
    std::string text = make_corpus("deep");
    std::string_view section;
    size_t keys = 0;
    for (std::string_view line : lines_of(text)) {
        if (is_section(line)) {
            section = line.substr(1, line.size() - 2);
        } else if (is_key_line(line)) {
            keys++;
            size_t levels =
                count_dots(section) + 1 + count_dots(line.substr(0, line.find(' '))) + 1;
            EXPECT_GE(levels, 8u) << section << " " << line;
            EXPECT_LE(levels, 12u) << section << " " << line;
        }
    }
    EXPECT_GT(keys, 10000u);
}

TEST(Corpus, SmallIsAboutTwoAndAHalfKilobytes) {
    std::string text = make_corpus("small");
    EXPECT_GT(text.size(), 2000u);
    EXPECT_LT(text.size(), 3000u);
}

// Every key line must become exactly one record with a name of its own:
// otherwise the per-key-line figures and the lookups of every key would
// compare different work, and the readers that refuse duplicates would fail.
class CorpusParse : public tovik_test::ContextTest,
                    public ::testing::WithParamInterface<std::string> {};

TEST_P(CorpusParse, EveryKeyLineBecomesOneRecordOfADistinctName) {
    std::string text = make_corpus(GetParam());
    size_t key_lines = 0;
    for (std::string_view line : lines_of(text))
        key_lines += is_key_line(line);
    ASSERT_EQ(0, parse(text));
    std::set<std::string_view> names;
    size_t records = 0;
    for (tovik_kv *kv = tovik_kv_iter(&ctx, nullptr); kv; kv = tovik_kv_iter(&ctx, kv)) {
        records++;
        names.insert(std::string_view(kv->name, kv->name_len));
    }
    EXPECT_EQ(key_lines, records);
    EXPECT_EQ(records, names.size());
}

// Not wide: its parse is quadratic by design (seconds, minutes under
// valgrind), and its own test above already shows distinct key lines only.
INSTANTIATE_TEST_SUITE_P(Corpora, CorpusParse, ::testing::Values("typical", "deep", "small"),
                         [](const auto &info) { return info.param; });

// The real corpus depends on the machine; whatever it holds keeps to the
// lines every reader takes alike.
TEST(RealCorpus, HoldsOnlyPlainIniLines) {
    std::string text = daduzozi_bench::make_real_corpus();
    EXPECT_EQ(text, daduzozi_bench::make_real_corpus());
    if (text.empty())
        GTEST_SKIP() << "no INI-style files on this machine";
    EXPECT_EQ('\n', text.back());
    bool seen_section = false;
    for (std::string_view line : lines_of(text)) {
        EXPECT_LE(line.size(), 190u);
        std::string_view body = line.substr(std::min(line.find_first_not_of(" \t"), line.size()));
        if (body.empty() || is_comment(body))
            continue;
        EXPECT_EQ(line.size(), body.size()) << "indented: " << line;
        EXPECT_NE('\\', line.back()) << line;
        if (is_section(line)) {
            EXPECT_EQ(']', line.back()) << line;
            seen_section = true;
        } else {
            EXPECT_TRUE(seen_section) << "key before any section: " << line;
            EXPECT_NE(std::string_view::npos, line.find('=')) << line;
        }
    }
}

} // namespace
