#!/usr/bin/env bash
# Installs the Debian package that scripts/package.sh built, as a user would (apt install), and
# uses it from a fresh home folder: velunor-cli --version, a search and a download against the
# demo site, then the window started from its menu entry on a virtual display. Checks that the
# user's files landed in the XDG folders only and that nothing the package installed changed.
# Removes the package at the end, whatever happened.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo_prefix=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_prefix=(sudo)
fi
package=$(ls "$PWD"/build/velunor_*.deb)
home=$(mktemp -d)
demo_pid=""
finish() {
  if [ -n "$demo_pid" ]; then
    kill "$demo_pid" 2>/dev/null || true
  fi
  "${sudo_prefix[@]}" apt-get remove -y -qq velunor >/dev/null || true
  rm -rf "$home"
}
trap finish EXIT

export DEBIAN_FRONTEND=noninteractive
"${sudo_prefix[@]}" apt-get install -y -qq "$package" >/dev/null
# A fresh user: a home folder of their own and no XDG folder named.
as_user=(env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME
         HOME="$home")

"${as_user[@]}" velunor-cli --version
"${as_user[@]}" velunor-cli paths

if ! (exec 3<>/dev/tcp/127.0.0.1/8808) 2>/dev/null; then
  python3 demo/demo_site.py 8808 >/dev/null 2>&1 &
  demo_pid=$!
  for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/8808) 2>/dev/null && break
    sleep 0.1
  done
fi
search=$(cd / && "${as_user[@]}" velunor-cli search 春江夜话)
echo "$search"
grep -q '1\. 春江夜话' <<<"$search"
# The demo's third chapter always fails (to show the reader's reload link), so the download
# ends with a failure; it must still have finished.
download=$(cd / && "${as_user[@]}" velunor-cli download 1 2>&1) || true
echo "$download"
grep -q '下载完成' <<<"$download"
"${as_user[@]}" velunor-cli shelf | grep -q '^ *1 .*春江夜话'

# The user's files: in the four XDG folders of the program, nowhere else in the home folder.
stray=$(cd "$home" && find . -type f ! -path './.config/velunor/*' ! -path './.local/share/velunor/*' \
          ! -path './.cache/velunor/*' ! -path './.local/state/velunor/*')
if [ -n "$stray" ]; then
  echo "check_package: files outside the XDG folders: $stray" >&2
  exit 1
fi
test -f "$home/.local/share/velunor/BookShelf.xml"
ls "$home/.local/share/velunor/Novel/"*/*/ContentsPage.html >/dev/null
# Nothing the package installed was changed or added to.
if dpkg --verify velunor | grep .; then
  echo "check_package: installed files changed" >&2
  exit 1
fi

# The window, started from its menu entry; it is up once it has mapped its window. It ends
# with the virtual display.
# A picture of it is left in build/installed-window.png.
HOME="$home" xvfb-run -a -s '-screen 0 1280x800x24' bash -c '
  gtk-launch org.velunor.Velunor
  for _ in $(seq 60); do
    if xwininfo -root -tree | grep -q '"Velunor"'; then
      sleep 3
      import -window root "'"$PWD"'/build/installed-window.png"
      exit 0
    fi
    sleep 1
  done
  echo "check_package: the window did not appear" >&2
  exit 1'
echo "check_package: the installed package works"
