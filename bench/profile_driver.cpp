// Parses one input repeatedly with malloc/free callbacks, for a profiler.
// The callbacks are named functions of their own so that a profile shows the
// allocator's share apart from the parser's.
//   daduzozi_profile_driver INPUT [ROUNDS]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "inputs.hpp"
#include "tovik.h"

extern "C" {
__attribute__((noinline)) void *profile_alloc(void *, size_t size) { return std::malloc(size); }
__attribute__((noinline)) void profile_free(void *, void *block) { std::free(block); }
}

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s INPUT [ROUNDS]\n", argv[0]);
        return 2;
    }
    const daduzozi_bench::Input &in = daduzozi_bench::input(argv[1]);
    int rounds = argc > 2 ? std::atoi(argv[2]) : 1;
    if (in.text.empty()) {
        std::fprintf(stderr, "%s: empty input %s\n", argv[0], argv[1]);
        return 1;
    }
    for (int round = 0; round < rounds; ++round) {
        tovik_ctx ctx;
        tovik_init(&ctx, profile_alloc, profile_free, nullptr);
        tovik_parse_data_ex(&ctx, nullptr, in.text.data(), in.text.size(), 0);
        tovik_deinit(&ctx);
    }
    return 0;
}
