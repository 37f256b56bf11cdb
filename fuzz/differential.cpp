// The library against the literal reference parser on fuzz input: every
// observable effect of a short scenario of parse calls must be the same.
//
// Input: two control bytes, then the text.
//   byte 0, bits 0-3: replace and graft flags of the first and second call
//           bit 4: the second call parses the rest of a split text (else the
//                  whole text again)
//           bit 5: the context has no free_fn
//           bit 6: one request is refused
//   byte 1: where the text is split, in 256ths; with bit 6, which request
//           (1-256) is refused
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../tests/reference/differential.hpp"

namespace {

tovik_differential::Scenario scenario_from(const uint8_t *data, size_t size) {
    uint8_t control = data[0];
    uint8_t amount = data[1];
    std::string text(reinterpret_cast<const char *>(data) + 2, size - 2);
    auto call = [control](std::string piece, int index) {
        uint32_t flags = (control >> (2 * index)) & 1 ? TOVIK_FLAG_REPLACE : 0;
        bool under_graft = (control >> (2 * index + 1)) & 1;
        return tovik_differential::Call{std::move(piece), flags, under_graft};
    };
    tovik_differential::Scenario scenario;
    if (control & 0x10) {
        size_t cut = text.size() * amount / 256;
        scenario.calls = {call(text.substr(0, cut), 0), call(text.substr(cut), 1)};
    } else {
        scenario.calls = {call(text, 0), call(text, 1)};
    }
    scenario.with_free_fn = !(control & 0x20);
    scenario.refuse = control & 0x40 ? size_t(amount) + 1 : 0;
    return scenario;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2)
        return 0;
    std::string difference = tovik_differential::compare(scenario_from(data, size)).difference;
    if (!difference.empty()) {
        fprintf(stderr, "library and reference differ at %s\n", difference.c_str());
        abort();
    }
    return 0;
}
