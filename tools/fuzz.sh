#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer) in
# build/fuzz and runs them over the kept corpus in tests/fuzz/corpus/<target>.
#   tools/fuzz.sh [TARGET [RUNS [libFuzzer options...]]]
# TARGET: fuzz_decode (default) or fuzz_parse; RUNS: executions (default 1000000).
# New inputs go to build/fuzz/corpus/<target>, crashes to build/fuzz/crashes/<target>; copy a
# crash into tests/fuzz/corpus/<target> once it is mended, so that the normal test run
# (the fuzz_replay test) replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
ulmar_install_deps clang libclang-rt-dev

target=${1:-fuzz_decode}
runs=${2:-1000000}
shift $(( $# > 2 ? 2 : $# ))
case "$target" in
fuzz_decode) folder=decode ;;
fuzz_parse) folder=parse ;;
*) echo "fuzz.sh: target fuzz_decode or fuzz_parse" >&2; exit 3 ;;
esac

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DULMAR_FUZZ=ON
cmake --build build/fuzz -j "${FUZZ_BUILD_JOBS:-$(nproc)}" --target "$target"

mkdir -p "build/fuzz/corpus/$folder" "build/fuzz/crashes/$folder"
# A small quarantine, short allocation stacks and no fill of new blocks: the decoder allocates
# many small strings per input, and these keep bounds checking whole at about 1.4 times the speed.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:quarantine_size_mb=16:malloc_context_size=2:max_malloc_fill_size=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
# The first corpus folder receives the new inputs; the kept corpus is only read.
"build/fuzz/tests/fuzz/$target" -runs="$runs" -max_len=300 -rss_limit_mb=4096 \
    -artifact_prefix="build/fuzz/crashes/$folder/" -print_final_stats=1 "$@" \
    "build/fuzz/corpus/$folder" "tests/fuzz/corpus/$folder"
