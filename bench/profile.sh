#!/usr/bin/env bash
# Where a receiver's time goes per datagram: system calls (strace -c) or
# instructions (callgrind) of the daemon or of the limit loop over COUNT
# datagrams of SIZE text bytes, after a warm-up of 2000 (callgrind counts the
# warm-up too: divide its totals by COUNT + 2000). Uses build-bench/ as
# scripts/bench.sh leaves it; DRAVIK_BIN=PATH profiles another daemon binary,
# DRAVIK_OUT=FILE sends its standard output there instead of /dev/null.
#   bash bench/profile.sh daemon|limit SIZE COUNT strace|callgrind
set -euo pipefail
[ $# -eq 4 ] || { sed -n '2,7p' "$0"; exit 2; }
who=$1 size=$2 count=$3 how=$4
B=$(cd "$(dirname "$0")/.." && pwd)/build-bench
T=$B/bench/e2e_tool
D=$(mktemp -d /tmp/dvkp.XXXXXX)
export DRAVIK_PLATFORM_DIR=$D
vg=()
if [ "$how" = callgrind ]; then
  vg=(valgrind --tool=callgrind "--callgrind-out-file=$D/cg.out" --collect-atstart=no)
  if [ "$who" = daemon ]; then vg+=("--toggle-collect=runMainLoop*"); else vg+=("--toggle-collect=*limit*"); fi
fi
if [ "$who" = daemon ]; then
  sock=$D/xipc/0.37.1024
  "${vg[@]}" "${DRAVIK_BIN:-$B/dravik}" 1 0 0 100 x >"${DRAVIK_OUT:-/dev/null}" 2>"$D/err" &
  pid=$!
  until [ -S "$D/vesk/930" ] && [ -S "$sock" ]; do sleep 0.05; done
  "$B/dravikctl" --timeout 30000 log file bench >/dev/null
else
  sock=$D/limit.sock
  "${vg[@]}" "$T" limit "$sock" "$D/limit.ring" 2>"$D/err" &
  pid=$!
  until [ -S "$sock" ]; do sleep 0.05; done
fi
"$T" send "$sock" 2000 "$size" xipc >/dev/null
if [ "$how" = strace ]; then
  sleep 0.3
  strace -c -p "$pid" -o "$D/strace" &
  tracer=$!
  sleep 0.5
fi
"$T" send "$sock" "$count" "$size" xipc 2001 >/dev/null
sleep 0.5
if [ "$how" = strace ]; then
  kill -INT "$tracer"
  wait "$tracer" || true
fi
kill -TERM "$pid"
wait "$pid" || true
if [ "$how" = strace ]; then cat "$D/strace"; else callgrind_annotate "$D/cg.out" | sed -n '/PROGRAM TOTALS/,/^$/p;/file:function/,+25p'; fi
rm -rf "$D"
