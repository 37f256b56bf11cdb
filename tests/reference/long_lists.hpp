// Long sibling lists, where the filing pass indexes the lists it walks most:
// misses and hits, at the root, in a section and under the caller's node,
// replacements of indexed nodes and of the owners of indexed lists, and
// duplicate names that the caller added. Shared by the differential tests
// and the tests that check that a broken copy of the library is caught.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "differential.hpp"

namespace tovik_differential {

// Long sibling lists, where the filing pass indexes the lists it walks most.
// `keys` lines "PREFIXk<i> = <i>" for i = first, first + step, ... (mod
// `modulo`), after an optional section header.
inline std::string key_lines(const std::string &header, const std::string &prefix, size_t keys,
                             size_t first = 0, size_t step = 1, size_t modulo = SIZE_MAX) {
    std::string text = header.empty() ? "" : "[" + header + "]\n";
    for (size_t i = 0, k = first; i < keys; ++i, k = (k + step) % modulo)
        text += prefix + "k" + std::to_string(k) + " = " + std::to_string(i) + "\n";
    return text;
}

// Path nodes with children lists long enough to be indexed themselves, so
// that a replacement releases (or unlinks) indexed lists with their owner.
inline std::string nested_lists(size_t owners, size_t children) {
    std::string text = "[w]\n";
    for (size_t o = 0; o < owners; ++o)
        text += key_lines("", "k" + std::to_string(o * 7) + ".", children);
    return text;
}

struct LongListCase {
    const char *what;
    std::vector<Call> calls;
};

inline const std::vector<LongListCase> &long_list_cases() {
    const std::string wide = key_lines("w", "", 600);
    static const std::vector<LongListCase> cases = {
        {"one section, all misses", {{wide}}},
        {"root list, all misses", {{key_lines("", "", 600)}}},
        {"under the graft node, replacing", {{wide, TOVIK_FLAG_REPLACE, true}}},
        {"repeats in one call", {{key_lines("w", "", 900, 0, 7, 450)}}},
        {"repeats in one call, replacing",
         {{key_lines("w", "", 900, 0, 7, 450), TOVIK_FLAG_REPLACE}}},
        // The second call starts with an unindexed list and hits deep in it,
        // so the list is indexed up to a frontier and walked beyond it.
        {"scattered hits in a later call", {{wide}, {key_lines("w", "", 700, 300, 37, 650)}}},
        {"scattered hits in a later call, replacing",
         {{wide}, {key_lines("w", "", 700, 300, 37, 650), TOVIK_FLAG_REPLACE}}},
        {"hits and misses, three calls",
         {{wide}, {key_lines("w", "", 500, 550, 1), TOVIK_FLAG_REPLACE}, {wide, 0}}},
        {"replacing owners of indexed lists", {{nested_lists(40, 60)}, {wide, TOVIK_FLAG_REPLACE}}},
        {"replacing owners in the same call",
         {{nested_lists(40, 60) + key_lines("w", "", 300, 0, 7), TOVIK_FLAG_REPLACE}}},
        {"duplicates the caller added",
         {{wide, 0, false, {"w", "w"}},
          {key_lines("w", "", 300, 100, 3), TOVIK_FLAG_REPLACE, false, {"w"}}}},
        {"duplicate siblings the caller added to an indexed list",
         {{wide},
          {"[w]\nk5=a\nk700=b\n" + key_lines("w", "", 200, 400, 1),
           TOVIK_FLAG_REPLACE,
           false,
           {"w"}}}},
        {"caller duplicates in the list filed into",
         {{key_lines("", "", 400), 0, true, {"k3", "k3", "k399", "k1000"}},
          {key_lines("", "", 500, 0, 3, 1001), TOVIK_FLAG_REPLACE, true, {"k3", "k1000"}}}},
        {"long names",
         {{key_lines("w", "a_rather_long_option_name_", 300)},
          {key_lines("w", "a_rather_long_option_name_", 300, 7, 11, 320), TOVIK_FLAG_REPLACE}}},
        {"many long sections at the root", {{[] {
             std::string text;
             for (int s = 0; s < 80; ++s)
                 text += key_lines("s" + std::to_string(s * 13 % 71), "", 40);
             return text;
         }()}}},
    };
    return cases;
}

} // namespace tovik_differential
