#!/usr/bin/env bash
# Builds Velunor and starts the desktop program, which needs a display.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: Velunor is a desktop program and needs a display, but DISPLAY is not set." >&2
  echo "run: on a machine without one, try it on a virtual display:" >&2
  echo "run:   xvfb-run -a -s '-screen 0 1280x800x24' build/bin/velunor" >&2
  echo "run: the same jobs run from a terminal with build/bin/velunor-cli help" >&2
  exit 1
fi
exec build/bin/velunor
