#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the GUI need.
# Safe to run again: only missing packages are installed.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev libcli11-dev nlohmann-json3-dev zlib1g-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-liberation fonts-dejavu-core
  clang
  dpkg-dev file
  ser2net
  # manual pages, the Debian packages (scripts/package.sh) and their checks
  help2man debhelper fakeroot lintian appstream desktop-file-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
