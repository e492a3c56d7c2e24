#!/usr/bin/env bash
# Builds Velunor with every test and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

werror=OFF
if [ -n "${CI:-}" ]; then
  werror=ON
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELUNOR_WERROR="$werror"
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
