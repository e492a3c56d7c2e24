#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan and runs
# the whole test suite under them; any finding fails the run. What the sanitizers report from
# inside Qt WebEngine, which is not built with them, is suppressed in scripts/sanitizer/, each
# entry with its reason.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELUNOR_SANITIZE=address,undefined -DVELUNOR_BUILD_BENCHMARKS=OFF
cmake --build build-asan -j2

suppressions="$(pwd)/scripts/sanitizer"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=${suppressions}/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=${suppressions}/ubsan.supp:${UBSAN_OPTIONS:-}"
ctest --test-dir build-asan --output-on-failure -j2 --timeout 600
