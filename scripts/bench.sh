#!/usr/bin/env bash
# Builds (Release, in build-bench/) and runs the end-to-end benchmark of the log
# intake (bench/e2e.py: the daemon against a plain receive-and-write loop and
# rsyslog); results go to bench/results/. Options are e2e.py's: --quick,
# --baseline REV, --count N, --rounds N. `--micro [ARGS]` runs the Google
# Benchmark micro-benchmark of the intake's hot functions instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh bench
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRAVIK_BENCH=ON >/dev/null
cmake --build build-bench -j 2 --target dravik dravikctl dppsim intake_bench e2e_tool alloc_count
if [ "${1:-}" = "--micro" ]; then
  shift
  exec build-bench/bench/intake_bench "$@"
fi
exec python3 bench/e2e.py --build build-bench "$@"
