#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for about a minute
# (FUZZ_SECONDS to change that). Not part of CI. A crash leaves its input in
# build-fuzz/artifacts/: copy it into tests/fuzz/regressions/ (named
# <target>-<what>) so the unit tests replay it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${FUZZ_SECONDS:-60}
BUILD=build-fuzz
mkdir -p "${BUILD}"
cmake -S . -B "${BUILD}" -DCMAKE_CXX_COMPILER=clang++ -DKAVDM_FUZZ=ON -DKAVDM_GUI=OFF -DKAVDM_TESTS=OFF \
  -DKAVDM_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo > "${BUILD}/configure.log" 2>&1 || { cat "${BUILD}/configure.log"; exit 1; }
cmake --build "${BUILD}" -j "$(nproc)" --target fuzz_StbDecoderFuzz fuzz_ImageScanFuzz fuzz_EngineScheduleFuzz

mkdir -p "${BUILD}/artifacts" "${BUILD}/corpus/StbDecoderFuzz" "${BUILD}/corpus/ImageScanFuzz" \
  "${BUILD}/corpus/EngineScheduleFuzz"
# Small seeds keep the fuzzer fast: the start of each sample stream (a length prefix and code).
for stb in resources/samples/*.stb; do head -c 2048 "${stb}" > "${BUILD}/corpus/StbDecoderFuzz/$(basename "${stb}")"; done
cp tests/fuzz/regressions/StbDecoderFuzz-* "${BUILD}/corpus/StbDecoderFuzz/" 2>/dev/null || true
cp tests/fuzz/regressions/ImageScanFuzz-* "${BUILD}/corpus/ImageScanFuzz/" 2>/dev/null || true
printf '\001\200\001\001\001\001\000\000\001\000' > "${BUILD}/corpus/ImageScanFuzz/seed-modules"
# A download and an upload without faults (the choices run out at once).
printf '\000' > "${BUILD}/corpus/EngineScheduleFuzz/download"
printf '\001' > "${BUILD}/corpus/EngineScheduleFuzz/upload"

status=0
for target in StbDecoderFuzz:4096 ImageScanFuzz:512 EngineScheduleFuzz:256; do
  max_len=${target#*:}
  target=${target%%:*}
  echo "== ${target}: ${SECONDS_PER_TARGET} s"
  "${BUILD}/tests/fuzz/fuzz_${target}" "${BUILD}/corpus/${target}" -max_total_time="${SECONDS_PER_TARGET}" \
    -max_len="${max_len}" -rss_limit_mb=4096 -artifact_prefix="${BUILD}/artifacts/${target}-" -print_final_stats=1 || status=1
done
exit ${status}
