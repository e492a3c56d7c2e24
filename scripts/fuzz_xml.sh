#!/usr/bin/env bash
# Builds the XML fuzz target with clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# build-fuzz/ and runs it for the given number of seconds (default 60). The seeds are the cases
# kept in fuzz/corpus/xml/ (inputs that were once slow or broken) and the XML test fixtures;
# what the fuzzer finds goes into build-fuzz/corpus/xml/, never into the source tree.
# Usage: scripts/fuzz_xml.sh [SECONDS]
set -euo pipefail

seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
corpus="$build/corpus/xml"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELUNOR_BUILD_FUZZERS=ON -DVELUNOR_BUILD_TESTS=OFF -DVELUNOR_BUILD_BENCHMARKS=OFF \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
cmake --build "$build" --target velunor_xml_fuzzer

mkdir -p "$corpus"
if [ -d "$root/tests/data/xml" ]; then
  cp -n "$root"/tests/data/xml/* "$corpus"/ 2>/dev/null || true
fi
cd "$build"
"$build/bin/velunor_xml_fuzzer" "$corpus" "$root/fuzz/corpus/xml" -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1
