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

# The renderer program runs Qt WebEngine, which is not built with the sanitizers: the tests load
# pages with the plain build's.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target velunor-renderer
export VELUNOR_RENDERER_PROGRAM="$(pwd)/build/bin/velunor-renderer"

suppressions="$(pwd)/scripts/sanitizer"
export ASAN_OPTIONS="suppressions=${suppressions}/asan.supp:detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=${suppressions}/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=${suppressions}/ubsan.supp:${UBSAN_OPTIONS:-}"
browser_tests='velunor_main_window_tests|velunor_browser_panel_tests|velunor_end_to_end_tests|velunor_start_up_tests|velunor_guarded_site_tests'
ctest --test-dir build-asan --output-on-failure -j2 --timeout 600 -E "$browser_tests"
# The tests that load Qt WebEngine. When a page is destroyed, the browser engine inside it frees
# objects with a sized delete of another type's size (inside libQt6WebEngineCore, never through
# Velunor's code), and it keeps its process-wide objects until exit; its code has no frame
# pointers, so what it leaves cannot be told apart by stack (full unwinding makes these tests
# run past their time-out). The sanitizer has no per-library switch for either report, so only
# these five binaries (the start-up test runs the whole program) run without those two checks;
# every other check stays on for them, and the leak check stays on for every other test.
ASAN_OPTIONS="${ASAN_OPTIONS}:new_delete_type_mismatch=0:detect_leaks=0" \
  ctest --test-dir build-asan --output-on-failure -j2 --timeout 600 -R "$browser_tests"
