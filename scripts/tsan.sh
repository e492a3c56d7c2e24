#!/usr/bin/env bash
# Builds the worker pool and fetcher tests with ThreadSanitizer in build-tsan and runs them; any
# data race fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELUNOR_SANITIZE=thread \
  -DVELUNOR_BUILD_BENCHMARKS=OFF
cmake --build build-tsan -j2 --target velunor_pool_tests velunor_net_tests

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
build-tsan/bin/velunor_pool_tests
# First alone, so that twenty threads set up libcurl and the DNS cache together, then the rest.
build-tsan/bin/velunor_net_tests --gtest_filter='FetcherTest.TwentyThreadsFetchAtOnce'
build-tsan/bin/velunor_net_tests
