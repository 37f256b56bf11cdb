// The texts every benchmark reads, made once per process, with the facts the
// benchmarks check their results against.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace daduzozi_bench {

// A key line's section and key, and the record name they make together.
struct KeyName {
    std::string section;
    std::string key;
    std::string full;
};

struct Input {
    std::string name;
    std::string text;
    // The same text with every ';' comment marker turned into '#', for readers
    // that know only '#' comments.
    std::string hash_comments;
    std::vector<KeyName> keys; // every key line, in text order
};

// The generated corpora and then "real".
std::vector<std::string> input_names();

// Made on first use; an unknown name gives an empty input.
const Input &input(std::string_view name);

// A file holding the text, for readers that only open files; removed when
// the process ends.
const std::string &input_file(const Input &in);

} // namespace daduzozi_bench
