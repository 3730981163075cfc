#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, ASan + UBSan) in build-fuzz/ and runs
# each for SECONDS (default 600), starting from its corpus in fuzz/corpus/.
# New inputs go to build-fuzz/corpus/; a crash leaves its input in
# build-fuzz/ and ends the script with a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
bash scripts/deps.sh fuzz
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDRAVIK_FUZZ=ON \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j 2 --target wire_fuzz request_fuzz sequence_fuzz
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
for h in wire_fuzz request_fuzz sequence_fuzz; do
  work=build-fuzz/corpus/$h
  mkdir -p "$work"
  echo "== $h: ${seconds}s"
  log=build-fuzz/$h.log
  if ! (cd build-fuzz && "fuzz/$h" -max_total_time="$seconds" -timeout=10 -max_len=8192 \
    -close_fd_mask=3 -print_final_stats=1 "corpus/$h" "../fuzz/corpus/$h" </dev/null) >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $h failed; its input is in build-fuzz/ (see $log)" >&2
    exit 1
  fi
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|number_of_executed_units|peak_rss' "$log"
done
