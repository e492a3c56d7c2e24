#!/usr/bin/env bash
# Builds the tests of the threaded modules (worker pool, fetcher, site layer, search, library,
# velunor-cli and its renderer client) with ThreadSanitizer in build-tsan and runs them; any data
# race fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELUNOR_SANITIZE=thread \
  -DVELUNOR_BUILD_BENCHMARKS=OFF
cmake --build build-tsan -j2 --target velunor_pool_tests velunor_net_tests velunor_results_tests \
  velunor_site_tests velunor_search_tests velunor_library_tests velunor_cli_tests velunor-cli \
  velunor_browser_page_tests

# The browser is not built with the sanitizer (its reports are not Velunor's): the tests load
# pages with the renderer program of the plain build, and check velunor-cli's side of it.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target velunor-renderer
export VELUNOR_RENDERER_PROGRAM="$PWD/build/bin/velunor-renderer"

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
build-tsan/bin/velunor_pool_tests
# First alone, so that twenty threads set up libcurl and the DNS cache together, then the rest.
build-tsan/bin/velunor_net_tests --gtest_filter='FetcherTest.TwentyThreadsFetchAtOnce'
build-tsan/bin/velunor_net_tests
build-tsan/bin/velunor_results_tests
build-tsan/bin/velunor_site_tests
build-tsan/bin/velunor_search_tests
build-tsan/bin/velunor_library_tests
# The command tests run the instrumented velunor-cli, so its own threads are checked too; a race
# there makes the program exit with TSan's status and the test fail.
build-tsan/bin/velunor_cli_tests
# velunor-cli's side of the renderer program: the loads of several threads share one child.
build-tsan/bin/velunor_browser_page_tests
