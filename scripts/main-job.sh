#!/usr/bin/env bash
# The main job: builds dravik and its tools, then runs a short scripted
# session on the host platform in a fresh platform directory and shows what
# happens at each step — the daemon starting, a per-port debug subscription
# reaching a DPP core and listed back, DPP logging switched on for two DPPs
# with an output file, DPP traffic arriving line by line in the per-DPP log
# files, the log manager's report, and a clean shutdown.
#
# DRAVIK_BUILD_DIR=DIR uses the binaries already built in DIR (dravik,
# dravikctl, dppsim) and builds nothing. Every process the job starts is
# stopped when it ends, on success and on failure; its files stay for
# inspection, and the last line says where (with DRAVIK_JOB_CLEAN=1 they are
# removed when the job succeeds, as the test suite runs it).
set -euo pipefail
cd "$(dirname "$0")/.."

# How long any one step may take to show its result (a sanitizer build on a
# busy machine is slow); every wait polls and ends as soon as the result is there.
readonly WAIT_SECONDS=30

heading() { printf '\n== %s ==\n' "$*"; }
# Shows a command as it could be typed again: words with blanks quoted,
# newlines as $'...\n...'.
show_cmd() {
  local out='$' a
  for a in "$@"; do
    if [[ $a == *$'\n'* ]]; then
      a=${a//\'/\\\'}
      out+=" \$'${a//$'\n'/\\n}'"
    elif [[ $a =~ [[:space:]\{\}\$\*\?] || -z $a ]]; then
      out+=" '$a'"
    else
      out+=" $a"
    fi
  done
  printf '%s\n' "$out"
}
indent() { sed 's/^/    /'; }

# ---------------------------------------------------------------- build
heading "Build"
if [ -n "${DRAVIK_BUILD_DIR:-}" ]; then
  bin=$(cd "$DRAVIK_BUILD_DIR" && pwd)
  echo "using the binaries in $bin (DRAVIK_BUILD_DIR); nothing is built"
else
  bash scripts/deps.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j "$(nproc)" --target dravik dravikctl dppsim
  bin=$PWD/build
fi
for b in dravik dravikctl dppsim; do
  [ -x "$bin/$b" ] || { echo "main job: $bin/$b is missing" >&2; exit 1; }
done

# ---------------------------------------------------------------- session
job=$(mktemp -d /tmp/dravik-job.XXXXXX)
export DRAVIK_PLATFORM_DIR=$job
# A developer's shell must not change the card or fail platform calls here.
unset DRAVIK_FS_ROOT DRAVIK_FAIL DRAVIK_CARD_ID
logs=$job/fs/cpp/plinder_dpp_logs
vty=$job/vty            # a regular file stands in for the operator's terminal
: >"$vty"

pids=()
# Stops the processes this job started: SIGTERM, then SIGKILL for any that
# is still there after a while.
stop_all() {
  local p
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do
    for _ in $(seq 100); do kill -0 "$p" 2>/dev/null || break; sleep 0.05; done
    kill -KILL "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  pids=()
}
on_exit() {
  local rc=$?
  stop_all
  if [ "$rc" -ne 0 ]; then
    echo
    echo "main job FAILED (status $rc)."
    for f in dravik.out dravik.err dppsim.out dppsim.err; do
      [ -s "$job/$f" ] && { echo "-- last lines of $f:"; tail -n 15 "$job/$f" | indent; }
    done
    echo "files left for inspection in $job"
  elif [ -n "${DRAVIK_JOB_CLEAN:-}" ]; then
    rm -rf "$job"
    echo "every process of the job has ended; its files are removed"
  else
    echo "every process of the job has ended; files left for inspection in $job"
  fi
  exit "$rc"
}
trap on_exit EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() { echo "main job: $*" >&2; exit 1; }

# wait_until WHAT COMMAND...: polls COMMAND until it succeeds.
wait_until() {
  local what=$1; shift
  local deadline=$((SECONDS + WAIT_SECONDS))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "no $what within ${WAIT_SECONDS}s"
    sleep 0.05
  done
}
has_line() { grep -q -- "$2" "$1" 2>/dev/null; }
count_of() {
  local n
  n=$(grep -c -- "$2" "$1" 2>/dev/null) || true
  echo "${n:-0}"
}
alive() { kill -0 "$1" 2>/dev/null || fail "$2 has ended unexpectedly"; }

# dppsim's lines since a mark (a line count taken before a step).
sim_mark() { wc -l <"$job/dppsim.out"; }
sim_since() { tail -n "+$(($1 + 1))" "$job/dppsim.out"; }

ctl() { show_cmd dravikctl "$@"; "$bin/dravikctl" "$@" | indent; }
sim_send() { show_cmd dppsim send "$@"; "$bin/dppsim" send "$@" | indent; }

echo "platform directory: $job"

heading "The card's four DPPs come up (dppsim)"
show_cmd dppsim run --dpps 4 "&"
"$bin/dppsim" run --dpps 4 >"$job/dppsim.out" 2>"$job/dppsim.err" &
pids+=($!); sim=$!
echo "$sim" >>"$job/job.pids"
sim_ready() {
  alive "$sim" dppsim
  has_line "$job/dppsim.out" "dppsim: ready"
}
wait_until "ready line from dppsim" sim_ready
indent <"$job/dppsim.out"

heading "The daemon starts"
mark=$(sim_mark)
show_cmd dravik 1 0 0 100 x "&"
"$bin/dravik" 1 0 0 100 x >"$job/dravik.out" 2>"$job/dravik.err" &
pids+=($!); daemon=$!
echo "$daemon" >>"$job/job.pids"
daemon_ready() {
  alive "$daemon" dravik
  has_line "$job/dravik.out" "Waiting for a message..."
}
wait_until "\"Waiting for a message...\" from the daemon" daemon_ready
sed '/Waiting for a message/q' "$job/dravik.out" | grep -v ' is OK$' | indent
echo "    (the 29 lines \"DPPDEBUG_MGR_INFO: flag N is OK\" of the category check left out)"
wait_until "start-up log flags at the four DPPs" \
  test "$(sim_since "$mark" | grep -c DppFlagMsg)" -ge 4
echo "dppsim received the start-up log flags:"
sim_since "$mark" | indent

heading "A per-port debug subscription reaches a DPP core"
mark=$(sim_mark)
ctl --vty "$vty" debug nivo ipstack tcp port 3
wait_until "FlagUpdateMsg at dppsim" has_line "$job/dppsim.out" "FlagUpdateMsg on module 55"
echo "dppsim received (port 3 is DPP 1's core 2):"
sim_since "$mark" | indent
echo "listed back to the terminal:"
ctl --vty "$vty" show debug
show_cmd cat "$vty"
wait_until "the listing in $vty" has_line "$vty" "debug nivo ipstack tcp port 3"
indent <"$vty"

heading "DPP logging on for DPPs 1 and 2, into the files dbg.N"
mark=$(sim_mark)
ctl log file dbg
ctl log dpps on 1,2 --vty "$vty"
ctl log categories on all --vty "$vty"
ctl log level DEBUG
wait_until "the new log flags at DPPs 1 and 2" \
  test "$(sim_since "$mark" | grep -c 'DppFlagMsg level 7')" -ge 2
echo "dppsim received:"
sim_since "$mark" | indent

heading "DPP traffic arrives line by line in the per-DPP log files"
sim_send text --dpp 1 --core 2 $'tcp: SYN sent to 10.0.0.2:3260\n\ntcp: connection established'
sim_send log --dpp 2 --category 5 --count 20 'buffer pool refill {n}'
sim_send ipc rx --dpp 1 --opc 0x185 --src 0x1234 --dst 0x5678 --size 64 --ctrl 0x14 --ver 2 \
  --status 9 --frm-ptr 0x44556677 --frm-len 0x80
sim_send ipc tx --dpp 2 --opc 0x0042 --src 0x0001 --dst 0x0002 --size 32 --queue 3
sim_send log --dpp 1 --category 0x80 'plain record from DPP 1'
# The daemon writes the files through stream buffers; the show request seeks
# each file (which flushes it), so ask for the report until every record
# sent above has reached the files.
records_on_disk() {
  "$bin/dravikctl" log show >/dev/null || return 1
  [ "$(count_of "$logs/dbg.1" 'tcp: ')" -ge 2 ] &&
    [ "$(count_of "$logs/dbg.1" '\[RX\]')" -ge 1 ] &&
    [ "$(count_of "$logs/dbg.1" 'plain record')" -ge 1 ] &&
    [ "$(count_of "$logs/dbg.2" 'buffer pool refill')" -ge 20 ] &&
    [ "$(count_of "$logs/dbg.2" '\[TX\]')" -ge 1 ]
}
wait_until "records in the log files" records_on_disk
for n in 1 2; do
  echo "\$ cat \$DRAVIK_PLATFORM_DIR/fs/cpp/plinder_dpp_logs/dbg.$n"
  indent <"$logs/dbg.$n"
done
echo "\$ ls -l \$DRAVIK_PLATFORM_DIR/fs/var/log/external/"
ls -l "$job/fs/var/log/external/" | tail -n +2 | sed "s|$job|\$DRAVIK_PLATFORM_DIR|g" | indent

heading "The log manager's report"
ctl log show

heading "Clean shutdown"
mark=$(sim_mark)
ctl release-all
wait_until "the off-update at dppsim" has_line "$job/dppsim.out" "FlagUpdateMsg off module 55"
echo "dppsim received:"
sim_since "$mark" | indent
show_cmd kill -TERM "$daemon" "#" dravik
kill -TERM "$daemon"
status=0
wait "$daemon" || status=$?
pids=("$sim")
echo "dravik ended with status $status; its last lines:"
tail -n 3 "$job/dravik.out" | indent
[ -s "$job/dravik.err" ] && tail -n 3 "$job/dravik.err" | indent
[ "$status" -eq 0 ] || fail "dravik ended with status $status"
show_cmd kill -TERM "$sim" "#" dppsim
kill -TERM "$sim"
wait "$sim" || fail "dppsim ended with status $?"
pids=()
echo "dppsim's final state:"
sed -n '/state of the DPPs (SIGTERM/,$p' "$job/dppsim.out" | indent

heading "Done"  # the exit trap says where the job's files are
