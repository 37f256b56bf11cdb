#include "diagnostics.hpp"

#include <cstdio>

namespace daduzozi_cli {

void report(const char *subject, const char *reason) {
    std::fprintf(stderr, "daduzozi: %s: %s\n", subject, reason);
}

} // namespace daduzozi_cli
