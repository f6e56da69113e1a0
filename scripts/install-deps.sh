#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Brenwick need (only the missing ones).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  clang libclang-rt-14-dev
  qt6-base-dev libjpeg62-turbo-dev libx11-dev libssl-dev
  xvfb xauth fonts-dejavu-core
  xorriso genisoimage python3 python3-pycdlib p7zip-full libarchive-tools
  growisofs wodim sg3-utils
  file lintian desktop-file-utils man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
