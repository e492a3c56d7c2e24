#!/usr/bin/env bash
# Builds Velunor and starts it. Until the desktop window exists this starts velunor-cli, which
# runs the same jobs from the terminal; arguments are handed to it (none: its list of commands).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2

if [ $# -eq 0 ]; then
  exec build/bin/velunor-cli help
fi
exec build/bin/velunor-cli "$@"
