#!/usr/bin/env bash
# Installs the Debian packages that Velunor's build, tests and benchmarks need.
# Runs "apt-get update" once, and only when something is missing; does nothing
# when every package is already installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3
  libcurl4-openssl-dev zlib1g-dev libpcre2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libpugixml-dev libxml2-dev libgumbo-dev
  libzip-dev libopencc-dev epubcheck zip
  clang libclang-rt-14-dev
  curl clang-format
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libqt6webenginecore6-bin qt6-translations-l10n
  xvfb xauth imagemagick fonts-noto-cjk fonts-hanazono fonts-noto-color-emoji libgl1-mesa-dri
  dpkg-dev lintian appstream desktop-file-utils
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_prefix=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_prefix=(sudo)
fi

echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_prefix[@]}" apt-get update -qq
"${sudo_prefix[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
