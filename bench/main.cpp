// The benchmark program: ours, the peers and the baselines in one run, so
// that every ratio compares figures taken under the same load.
#include <cstdlib>

#include <benchmark/benchmark.h>

#include "register.hpp"

namespace daduzozi_bench {

void add_benchmark(const std::string &subject, const std::string &input_name, BenchmarkFn fn) {
    benchmark::RegisterBenchmark((subject + "/" + input_name).c_str(),
                                 [fn, input_name](benchmark::State &state) {
                                     const Input &in = input(input_name);
                                     if (in.text.empty()) {
                                         state.SkipWithError("empty input");
                                         return;
                                     }
                                     fn(state, in);
                                 });
}

} // namespace daduzozi_bench

int main(int argc, char **argv) {
    // GLib's slice allocator would hide GKeyFile's memory from the heap
    // figures; plain malloc makes every reader's footprint comparable.
    setenv("G_SLICE", "always-malloc", 1);
    daduzozi_bench::register_ours();
    daduzozi_bench::register_peers();
    daduzozi_bench::register_baselines();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
