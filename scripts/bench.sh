#!/usr/bin/env bash
# Builds and runs the benchmarks (an optimised build in build-bench/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
dpkg -s libbenchmark-dev >/dev/null 2>&1 || {
  [ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
  ${sudo_cmd:-} apt-get update -q && ${sudo_cmd:-} apt-get install -y -q libbenchmark-dev
}
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRAVIK_BENCH=ON >/dev/null
cmake --build build-bench -j "$(nproc)" --target intake_bench
build-bench/bench/intake_bench "$@"
