#!/usr/bin/env bash
# Builds and runs the benchmarks, printing their figures. Not part of the tests:
# the transfer benchmarks run real transfers over pseudo-terminals and take
# a few minutes. Usage: scripts/bench.sh [NAME...]   (e.g. Codec Serial)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVDM_BENCH=ON > build.configure.log 2>&1 || { cat build.configure.log; exit 1; }
cmake --build build -j "$(nproc)"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  names=(Codec Serial Receiver Download Upload NetworkLine Gui)
fi
for name in "${names[@]}"; do
  exe=""
  for candidate in "build/bench/bench_${name}Bench" "build/bench/bench_${name}"; do
    if [ -x "${candidate}" ]; then
      exe=${candidate}
      break
    fi
  done
  if [ -z "${exe}" ]; then
    echo "== bench_${name}: not built"
    continue
  fi
  echo "== bench_${name}"
  QT_QPA_PLATFORM=offscreen "${exe}"
done
