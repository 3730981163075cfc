#!/usr/bin/env bash
# The soak's traffic, smaller, with build/dravik under valgrind memcheck: any
# error ends the daemon with status 10, which fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh memcheck
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j 2 --target dravik dravikctl
log=$(mktemp /tmp/dravik-memcheck.XXXXXX)
status=0
python3 scripts/soak.py --cycles 5000 --datagrams 100000 --min-wraps 0 \
  --max-rss-growth-kib 100000000 -- valgrind --leak-check=full --track-fds=yes \
  --error-exitcode=10 --log-file="$log" "$PWD/build/dravik" 1 0 0 100 x || status=$?
grep -E 'ERROR SUMMARY|definitely|indirectly|possibly|still reachable|FILE DESCRIPTORS' "$log"
echo "valgrind log: $log"
exit "$status"
