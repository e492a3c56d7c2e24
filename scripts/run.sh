#!/usr/bin/env bash
# Builds Velunor, starts the demo novel site in the background and opens the desktop window,
# so that a first search (try 春江夜话) finds something without the internet. The demo site
# stops when the window closes.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: Velunor is a desktop program and needs a display, but DISPLAY is not set." >&2
  echo "run: on a machine without one, try it on a virtual display:" >&2
  echo "run:   xvfb-run -a -s '-screen 0 1280x800x24' bash scripts/run.sh" >&2
  echo "run: the same jobs run from a terminal with build/bin/velunor-cli help" >&2
  exit 1
fi

demo_pid=""
if ! (exec 3<>/dev/tcp/127.0.0.1/8808) 2>/dev/null; then
  python3 demo/demo_site.py 8808 >/dev/null 2>&1 &
  demo_pid=$!
fi
stop_demo() {
  if [ -n "$demo_pid" ]; then
    kill "$demo_pid" 2>/dev/null || true
  fi
}
trap stop_demo EXIT

build/bin/velunor
