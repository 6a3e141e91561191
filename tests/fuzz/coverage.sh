#!/usr/bin/env bash
# How much of the product a fuzz corpus reaches: replays every input of
# CORPUS through a build of the whole-run target with clang's source-based
# coverage, then prints llvm-cov's report for the product's own files.
#
#   tests/fuzz/coverage.sh CORPUS [FUZZ_BUILD]
#
# FUZZ_BUILD is a configured fuzz build (default build/fuzz, as run_fuzz.sh
# makes it); its code page 932 copies of the sources (src/) are compiled
# again here, without sanitizers, into FUZZ_BUILD/coverage/.
set -euo pipefail
cd "$(dirname "$0")/../.."

corpus=${1:?usage: tests/fuzz/coverage.sh CORPUS [FUZZ_BUILD]}
build=${2:-build/fuzz}
src=$build/src
out=$build/coverage
[ -d "$src" ] || { echo "coverage: no $src: run tests/fuzz/run_fuzz.sh first" >&2; exit 1; }
cmake --build "$build" >/dev/null   # brings src/ up to date with the tree

# The product's sources, from the one list every build reads.
mapfile -t product < <(sed -n 's/^  \([a-z]*\/[a-z_0-9]*\.cpp\)$/\1/p' cmake/sources.cmake)
sources=("${product[@]}" platform/sim/*.cpp tests/fuzz/fuzz_machine.cpp tests/fuzz/fuzz_run.cpp
         tests/fuzz/fuzz_checks.cpp tests/fuzz/fuzz_whole_run.cpp)

rm -rf "$out"
mkdir -p "$out"
objects=()
for s in "${sources[@]}"; do
  o=$out/$(echo "$s" | tr / _).o
  clang++ -std=c++17 -O1 -g -I"$src" -fprofile-instr-generate -fcoverage-mapping \
    -fsanitize=fuzzer-no-link -c "$src/$s" -o "$o"
  objects+=("$o")
done
clang++ -fsanitize=fuzzer -fprofile-instr-generate "${objects[@]}" -o "$out/fuzz_whole_run_cov"

LLVM_PROFILE_FILE=$out/replay.profraw "$out/fuzz_whole_run_cov" -runs=0 "$corpus" >"$out/replay.log" 2>&1
llvm-profdata-14 merge -sparse "$out/replay.profraw" -o "$out/replay.profdata"
llvm-cov-14 report "$out/fuzz_whole_run_cov" -instr-profile="$out/replay.profdata" \
  $(printf -- "$src/%s " "${product[@]}")
echo "coverage: $(find "$corpus" -type f | wc -l) inputs replayed; details: llvm-cov-14 show $out/fuzz_whole_run_cov -instr-profile=$out/replay.profdata"
