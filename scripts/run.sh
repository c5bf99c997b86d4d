#!/usr/bin/env bash
# Builds the program and starts it. With no receiver configured (no KAVDM_COMn
# variable set) the GUI starts in demo mode on the simulated receiver.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > build.configure.log 2>&1 || { cat build.configure.log; exit 1; }
cmake --build build -j "$(nproc)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: showing the shipped sample image with the command line instead."
  exec build/kavdm image info resources/samples/demo-firmware.stb
fi

if env | grep -q '^KAVDM_COM[0-9]*='; then
  exec build/app/kavdm-gui "$@"
fi
exec build/app/kavdm-gui --demo "$@"
