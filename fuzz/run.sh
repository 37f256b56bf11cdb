#!/bin/sh
# Builds the fuzz targets with the `fuzz` preset (or reuses that build) and
# runs each for a bounded time on a work copy of its committed corpus.
#
#   fuzz/run.sh [SECONDS] [TARGET...]
#
# SECONDS defaults to 120 per target; TARGETs default to every fuzz_*
# executable of the build. Exits non-zero when any target finds a crash, a
# sanitizer report, a leak, a timeout or a failed check; prints executions,
# speed and coverage per target. Exits 0 with a message, running nothing,
# where clang's fuzzer runtime is missing.
#
# Environment:
#   DADUZOZI_FUZZ_BUILD_DIR  build directory (default: build/fuzz, the preset's)
#   DADUZOZI_FUZZ_MERGE_DIR  when set, inputs that add coverage are merged into
#                            DIR/<target>/ (the committed corpus stays as it is)
#   DADUZOZI_FUZZ_MAX_LEN    largest input tried (default 4096: multi-line
#                            constructs, several sections, deep names)
#   JOBS                     build parallelism (default 2)
set -eu

seconds=${1:-120}
[ $# -gt 0 ] && shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DADUZOZI_FUZZ_BUILD_DIR:-$root/build/fuzz}
max_len=${DADUZOZI_FUZZ_MAX_LEN:-4096}

fuzzer_runtime_works() {
    probe=$(mktemp -d)
    printf '%s\n' 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' \
        >"$probe/probe.cpp"
    if command -v clang++ >/dev/null 2>&1 &&
        clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" 2>/dev/null; then
        rm -rf "$probe"
        return 0
    fi
    rm -rf "$probe"
    return 1
}

if ! fuzzer_runtime_works; then
    echo "fuzz: SKIPPED - clang++ with the libFuzzer runtime (-fsanitize=fuzzer) is not available"
    exit 0
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    (cd "$root" && cmake --preset fuzz -B "$build" >/dev/null)
fi
cmake --build "$build" -j "${JOBS:-2}" >/dev/null

if [ $# -eq 0 ]; then
    set -- $(cd "$build/fuzz" && ls fuzz_* 2>/dev/null | sort)
fi

# Last occurrence of "<label> <number>" style figures in a libFuzzer log.
figure() { sed -n "s/.*$1 *\([0-9][0-9]*\).*/\1/p" "$2" | tail -n 1; }

failed=""
printf '%-20s %12s %9s %7s %8s %7s %8s  %s\n' target executions exec/s seconds corpus cov ft result
for target in "$@"; do
    exe="$build/fuzz/$target"
    if [ ! -x "$exe" ]; then
        echo "fuzz: no such target: $target" >&2
        failed="$failed $target"
        continue
    fi
    work="$build/fuzz-work/$target"
    rm -rf "$work/corpus"
    mkdir -p "$work/corpus" "$work/artifacts"
    if [ -d "$root/fuzz/corpus/$target" ]; then
        cp "$root/fuzz/corpus/$target"/* "$work/corpus/" 2>/dev/null || true
    fi
    log="$work/run.log"
    status=0
    "$exe" "$work/corpus" -max_total_time="$seconds" -max_len="$max_len" \
        -dict="$root/fuzz/tovik.dict" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" >"$log" 2>&1 || status=$?

    result=ok
    if [ "$status" -ne 0 ]; then
        result="FAILED (exit $status; log $log; inputs in $work/artifacts/)"
        failed="$failed $target"
    fi
    printf '%-20s %12s %9s %7s %8s %7s %8s  %s\n' "$target" \
        "$(figure 'stat::number_of_executed_units:' "$log")" \
        "$(figure 'stat::average_exec_per_sec:' "$log")" "$seconds" \
        "$(ls "$work/corpus" | wc -l)" "$(figure 'cov:' "$log")" "$(figure 'ft:' "$log")" "$result"

    if [ -n "${DADUZOZI_FUZZ_MERGE_DIR:-}" ] && [ "$status" -eq 0 ]; then
        mkdir -p "$DADUZOZI_FUZZ_MERGE_DIR/$target"
        "$exe" -merge=1 -max_len="$max_len" "$DADUZOZI_FUZZ_MERGE_DIR/$target" "$work/corpus" \
            >"$work/merge.log" 2>&1
    fi
done

if [ -n "$failed" ]; then
    echo "fuzz: FAILED:$failed" >&2
    for target in $failed; do
        grep -h -m 3 -E 'ERROR: |fuzz check failed|SUMMARY' "$build/fuzz-work/$target/run.log" \
            >&2 2>/dev/null || true
    done
    exit 1
fi
echo "fuzz: every target ran ${seconds}s without a failure"
