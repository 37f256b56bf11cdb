// The library against the literal reference parser over the benchmark
// corpora: whole, then split over two calls that graft and replace, with
// and without a request refused in the middle.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "corpus.hpp"
#include "differential.hpp"

namespace {

using tovik_differential::compare;
using tovik_differential::Scenario;

constexpr uint32_t kReplace = TOVIK_FLAG_REPLACE;

// The first `lines` lines of `text`. The literal builder walks every sibling
// for every key, so the full wide corpus (50,000 keys in one section) would
// take it minutes under the sanitizers.
std::string first_lines(const std::string &text, size_t lines) {
    size_t end = 0;
    for (size_t i = 0; i < lines && end != std::string::npos; ++i)
        end = text.find('\n', end + 1);
    return end == std::string::npos ? text : text.substr(0, end + 1);
}

std::string corpus(const std::string &name) {
    if (name == "real")
        return daduzozi_bench::make_real_corpus();
    std::string text = daduzozi_bench::make_corpus(name);
    return name == "wide" ? first_lines(text, 10000) : text;
}

// Cut at the line end nearest the middle, or at the middle of a one-line text.
size_t middle_line(const std::string &text) {
    size_t at = text.find('\n', text.size() / 2);
    return at == std::string::npos ? text.size() / 2 : at + 1;
}

void expect_alike(const std::string &name, const Scenario &scenario, const std::string &what) {
    EXPECT_EQ("", compare(scenario).difference) << name << ", " << what;
}

class DifferentialCorpus : public ::testing::TestWithParam<std::string> {};

TEST_P(DifferentialCorpus, AlikeWholeSplitAndUnderRefusals) {
    const std::string name = GetParam();
    const std::string text = corpus(name);
    if (name != "real") {
        ASSERT_FALSE(text.empty()) << name;
    }
    size_t cut = middle_line(text);
    std::string head = text.substr(0, cut), tail = text.substr(cut);

    expect_alike(name, {{{text, 0, false}}}, "one call");

    // Each run of the literal builder walks every sibling section for every key,
    // so the other cases share one scenario: split, grafted and replacing,
    // then the same with a refusal in the middle of it.
    Scenario scenario{{{head, kReplace, true}, {tail, kReplace, true}}};
    tovik_differential::Comparison clean = compare(scenario);
    EXPECT_EQ("", clean.difference) << name << ", split, grafted and replacing";
    scenario.refuse = clean.requests / 2;
    expect_alike(name, scenario, "request " + std::to_string(scenario.refuse) + " refused");
}

INSTANTIATE_TEST_SUITE_P(Corpora, DifferentialCorpus,
                         ::testing::Values("typical", "wide", "deep", "small", "real"),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                             return info.param;
                         });

} // namespace
