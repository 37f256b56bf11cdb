// Test support: the scanner states as the context reports them in `state`.
#pragma once

#include <cstdint>

namespace tovik_test {

// An unscoped enum in a namespace of its own, so a table of cases can open it
// and name the states as they are.
namespace states {
enum ScannerState : int32_t {
    kLineStart = 0,
    kComment = 1,
    kKey = 2,
    kSeekEquals = 3,
    kValueStart = 4,
    kQuotedValue = 5,
    kBareValue = 6,
    kEmit = 7,
    kSectionName = 8,
    kSectionEnd = 9,
};
} // namespace states

} // namespace tovik_test
