#!/usr/bin/env bash
# Builds and runs the benchmarks, then writes docs/benchmarks.md and
# docs/benchmarks.svg from that run.
#
#   bench/run.sh           full run: repetitions, profile, documents
#   bench/run.sh --smoke   build and run every benchmark once (for CI); checks
#                          the allocation audits, writes no document
#
# Environment: DADUZOZI_BENCH_BUILD_DIR (default build/bench),
# DADUZOZI_BENCH_REPETITIONS (default 5). Run it on a quiet machine: the
# figures are CPU times, but caches and memory bandwidth are shared.
set -euo pipefail

cd "$(dirname "$0")/.."
mode=full
case "${1:-}" in
  "") ;;
  --smoke) mode=smoke ;;
  *) echo "usage: bench/run.sh [--smoke]" >&2; exit 2 ;;
esac
build_dir=${DADUZOZI_BENCH_BUILD_DIR:-build/bench}
repetitions=${DADUZOZI_BENCH_REPETITIONS:-5}
results_dir=$build_dir/results

packages=(cmake ninja-build g++ pkg-config python3 libbenchmark-dev libinih-dev
          libiniparser-dev libsimpleini-dev libboost-dev libglib2.0-dev)
[[ $mode == full ]] && packages+=(valgrind)

install_missing() {
  local missing=()
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [[ ${#missing[@]} -eq 0 ]] && return
  echo "installing: ${missing[*]}"
  local sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
}

build() {
  cmake --preset bench -B "$build_dir" >/dev/null
  cmake --build "$build_dir" -j2 --target daduzozi_bench daduzozi_profile_driver
}

run_benchmarks() {
  local out=$1
  shift
  "$build_dir/bench/daduzozi_bench" --benchmark_out="$out" --benchmark_out_format=json "$@"
  python3 bench/report.py check "$out"
}

profile() {
  local entry=$1 out=$2
  valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect="$entry" \
    --compress-strings=no --compress-pos=no \
    "$build_dir/bench/daduzozi_profile_driver" typical 1 2>/dev/null
}

machine_facts() {
  local compiler
  compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
  python3 - "$@" <<PY
import json, sys
json.dump({
    "cpu": """$(lscpu | sed -n 's/^Model name: *//p' | head -1)""",
    "cores": "$(nproc)",
    "compiler": """$("$compiler" --version | head -1)""",
    "commit": "$(git rev-parse --short HEAD 2>/dev/null || echo unknown)$(git diff --quiet HEAD -- src include 2>/dev/null || echo ' with uncommitted library changes')",
    "date": "$(date -u '+%Y-%m-%d %H:%M UTC')",
    "load": "$(cut -d' ' -f1-3 /proc/loadavg)",
    "command": "bench/run.sh (DADUZOZI_BENCH_REPETITIONS=$repetitions)",
}, open(sys.argv[1], "w"), indent=1)
PY
}

install_missing
build
mkdir -p "$results_dir"

if [[ $mode == smoke ]]; then
  run_benchmarks "$results_dir/smoke.json" --benchmark_min_time=0.000001
  "$build_dir/bench/daduzozi_profile_driver" small 1
  exit 0
fi

machine_facts "$results_dir/machine.json"
run_benchmarks "$results_dir/results.json" --benchmark_repetitions="$repetitions"
profile tovik_parse_data_ex "$results_dir/parse.callgrind"
profile tovik_deinit "$results_dir/release.callgrind"
python3 bench/report.py write "$results_dir/results.json" "$results_dir/machine.json" \
  "$results_dir/parse.callgrind" "$results_dir/release.callgrind" "$PWD/src/tovik.cpp" \
  docs/benchmarks.md docs/benchmarks.svg
echo "wrote docs/benchmarks.md and docs/benchmarks.svg"
