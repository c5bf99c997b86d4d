#!/usr/bin/env bash
# Regenerates the demonstration images in resources/samples/ with `kavdm image
# make-samples` (deterministic: the same bytes every time; a unit test checks
# that the shipped files still match the generator).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
cmake -S . -B "${BUILD}" > /dev/null
cmake --build "${BUILD}" -j "$(nproc)" --target kavdm
"${BUILD}/kavdm" image make-samples resources/samples
