#!/usr/bin/env bash
# Soak: 100,000 subscribe/release cycles and 1,000,000 DPP log records against
# build/dravik, then checks descriptors, memory, ring file sizes and records
# (scripts/soak.py). Arguments are passed on to soak.py (e.g. --cycles N).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j 2 --target dravik dravikctl
python3 scripts/soak.py "$@" -- "$PWD/build/dravik" 1 0 0 100 x
