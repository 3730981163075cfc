#!/usr/bin/env bash
# Where a receiver's time goes per datagram: system calls (strace -c) or
# instructions (callgrind) of the daemon or of the limit loop over COUNT
# datagrams of SIZE text bytes, after a warm-up of 2000 (callgrind counts the
# warm-up too: divide its totals by COUNT + 2000); strace gives every system
# call's count and count per datagram (or request), write split by descriptor
# (1 is standard output) and select's time-outs apart. limit-write is the limit
# with one unbuffered write of the ready line per pass. `request` traces the
# daemon over COUNT per-port debug subscribe/release requests instead (DPPs
# played by dppsim; SIZE is not used), strace only. Uses build-bench/ as
# scripts/bench.sh leaves it; DRAVIK_BIN=PATH profiles another daemon binary,
# DRAVIK_OUT=FILE sends its standard output there instead of /dev/null.
#   bash bench/profile.sh daemon|limit|limit-write|request SIZE COUNT strace|callgrind
set -euo pipefail
[ $# -eq 4 ] || { sed -n '2,11p' "$0"; exit 2; }
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
sim=
if [ "$who" = request ]; then
  "$B/dppsim" run --dpps 4 >/dev/null &
  sim=$!
  until [ -S "$D/xipc/12.39.0" ]; do sleep 0.05; done
fi
if [ "$who" = daemon ] || [ "$who" = request ]; then
  sock=$D/xipc/0.37.1024
  "${vg[@]}" "${DRAVIK_BIN:-$B/dravik}" 1 0 0 100 x >"${DRAVIK_OUT:-/dev/null}" 2>"$D/err" &
  pid=$!
  until [ -S "$D/vesk/930" ] && [ -S "$sock" ]; do sleep 0.05; done
  if [ "$who" != request ]; then # as bench/e2e.py sets it up: a file set, DPP 1 in the map
    "$B/dravikctl" --timeout 30000 log file bench >/dev/null
    "$B/dravikctl" --timeout 30000 log dpps on 1 >/dev/null
  fi
else
  sock=$D/limit.sock
  lines=()
  [ "$who" = limit-write ] && lines=("$D/lines")
  "${vg[@]}" "$T" limit "$sock" "$D/limit.ring" "${lines[@]}" 2>"$D/err" &
  pid=$!
  until [ -S "$sock" ]; do sleep 0.05; done
fi
if [ "$who" = request ]; then
  : >"$D/vty"
  "$T" rtt "$D/vesk/930" "$D/vty" 200 >/dev/null # warm-up
else
  "$T" send "$sock" 2000 "$size" xipc >/dev/null
fi
if [ "$how" = strace ]; then
  sleep 0.3
  strace -qq -p "$pid" -o "$D/strace" &
  tracer=$!
  sleep 0.5
fi
if [ "$who" = request ]; then
  "$T" rtt "$D/vesk/930" "$D/vty" "$count" >/dev/null
else
  "$T" send "$sock" "$count" "$size" xipc 2001 >/dev/null
fi
sleep 0.5
if [ "$how" = strace ]; then
  kill -INT "$tracer"
  wait "$tracer" || true
fi
kill -TERM "$pid"
wait "$pid" || true
[ -z "$sim" ] || { kill -TERM "$sim"; wait "$sim" || true; }
if [ "$how" = strace ]; then
  unit=datagram
  [ "$who" = request ] && unit=request
  echo "system calls of $who over $count ${unit}s (count, per $unit):"
  awk -v n="$count" '
    /resumed>/ || !/^[a-z_0-9]+\(/ { next }
    { name = substr($0, 1, index($0, "(") - 1); calls[name]++; total++ }
    name == "write" { fd = substr($0, 7); fd = substr(fd, 1, index(fd, ",") - 1); by_fd[fd]++ }
    name ~ /select/ && / = 0 \(Timeout\)/ { timeouts++ }
    END {
      for (c in calls) {
        extra = ""
        if (c == "write") { for (f in by_fd) extra = extra sprintf(" fd %s: %d", f, by_fd[f]) }
        if (c ~ /select/) extra = sprintf(" time-outs: %d", timeouts)
        printf "  %-12s %7d %8.4f%s\n", c, calls[c], calls[c] / n, extra
      }
      printf "  %-12s %7d %8.4f\n", "total", total, total / n
    }' "$D/strace" | sort -k2,2nr
else callgrind_annotate "$D/cg.out" | sed -n '/PROGRAM TOTALS/,/^$/p;/file:function/,+25p'; fi
rm -rf "$D"
