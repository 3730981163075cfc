#!/usr/bin/env python3
"""End-to-end benchmark of the log intake (run through scripts/bench.sh).

Every cell starts one receiver, has a separate sender process (bench/e2e_tool
send, blocking sendmmsg batches) push COUNT records of one payload size at it,
and measures the receiver's CPU (user + sys, read as on-CPU time from
/proc/<pid>/task/*/schedstat) from its idle start to its idle end. Receivers:

  limit        a select + recvfrom + fwrite loop into a 2 MiB ring file
               (bench/e2e_tool limit)
  limit-write  the limit plus one unbuffered 25-byte write per datagram to a
               file (the daemon's ready line as an unbuffered standard output
               writes it): what buffering the daemon's standard output saves
  dravik-null  the daemon, standard output to /dev/null
  dravik-file  the daemon, standard output to a file
               (null and file name where the daemon's standard output goes)
  base-null, base-file   the same for --baseline REV's daemon
  rsyslog      rsyslogd, imuxsock on a unix datagram socket, message-only
               template to a file

  dravik-facility  the daemon without log files: records go to the debug
               facility's log, an append-only file where every one is counted

The daemon takes DPP 1's log records and per-port debug text in turn into its
open per-DPP log file, a regular file that wraps every 2 MiB: what the ring
holds at the end is checked (newest record present, no gap). The facility row
counts every record exactly, as does rsyslog's (a plain file it only appends
to); the limit's ring is checked as the daemon's is.
Rounds interleave every receiver and size; the table gives medians, the chart
the medians with the rounds' spread (min to max).
The request round trip is measured for each daemon with its standard output to
/dev/null and to a file, against a plain datagram echo.
"""
import argparse
import csv
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

SIZES = (100, 500, 2000)
BUILD = None  # set in main: the Release build directory
SELECT_CALLS = {"23", "270"}  # select, pselect6 (x86_64)


def tool(*args):
    return [os.path.join(BUILD, "bench", "e2e_tool"), *map(str, args)]


def cpu_ns(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total


def peak_rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def wait_for(cond, timeout=20.0, what="a condition"):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if cond():
            return
        time.sleep(0.005)
    raise RuntimeError(f"timed out waiting for {what}")


def wait_idle(pid):
    """Blocked in select with its CPU standing still: its queue is empty."""
    def idle():
        with open(f"/proc/{pid}/syscall") as f:
            if f.read().split()[0] not in SELECT_CALLS:
                return False
        before = cpu_ns(pid)
        time.sleep(0.02)
        return cpu_ns(pid) == before
    wait_for(idle, 60, "the receiver to go idle")


def stop(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(20)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def parse_sink(text):
    f = text.split()
    return {"records": int(f[1]), "disorder": int(f[3])}


WARM_UP = 2000  # datagrams sent ahead of every measurement, not counted in it


def send(sock, count, size, kind, first=1):
    out = subprocess.run(tool("send", sock, count, size, kind, first), check=True,
                         capture_output=True, text=True).stdout
    return float(out)


def measure(pid, sock, count, size, kind, done=None, allocs=None):
    """Sends and returns (cpu s, send s, peak RSS KiB, allocations) for the cell.

    A warm-up of WARM_UP records goes first (the sink counts them too): what
    a receiver sets up at its first records is not steady state."""
    send(sock, WARM_UP, size, kind)
    if done is not None:
        done(WARM_UP)
    if done is None:
        wait_idle(pid)
    else:
        time.sleep(0.2)
    a0 = read_allocs(allocs)
    c0 = cpu_ns(pid)
    secs = send(sock, count, size, kind, WARM_UP + 1)
    if done is None:
        wait_idle(pid)
    else:
        done(WARM_UP + count)
    c1 = cpu_ns(pid)
    a1 = read_allocs(allocs)
    return (c1 - c0) / 1e9, secs, peak_rss_kib(pid), None if a0 is None else a1 - a0


def read_allocs(path):
    if path is None:
        return None
    with open(path, "rb") as f:
        return int.from_bytes(f.read(8), sys.byteorder)


def run_limit(work, count, size, lines=False):
    sock, ring = f"{work}/limit.sock", f"{work}/limit.ring"
    proc = subprocess.Popen(tool("limit", sock, ring, *([f"{work}/lines"] if lines else [])))
    try:
        wait_for(lambda: os.path.exists(sock), what="the limit's socket")
        cpu, secs, rss, _ = measure(proc.pid, sock, count, size, "xipc")
    finally:
        stop(proc)
    return cpu, secs, rss, None, ring_check(ring, WARM_UP + count)


def ring_check(path, last):
    """What the limit's ring file holds: its records' sequences in file order are the
    newest run (from the file's start up to the write position, ending at
    `last`), then the oldest run, which ends just before the newest begins.
    Returns sink-style counts; a gap shows as missing records."""
    seqs = []
    with open(path, "rb") as f:
        for line in f:
            at = line.find(b"@")
            if at >= 0 and line[at + 1:at + 11].isdigit():
                seqs.append(int(line[at + 1:at + 11]))
    cut = next((i for i in range(1, len(seqs)) if seqs[i] < seqs[i - 1]), len(seqs))
    new, old = seqs[:cut], seqs[cut:]
    run = lambda r: all(b == a + 1 for a, b in zip(r, r[1:]))
    ok = (new and new[-1] == last and run(new) and run(old) and
          (not old or old[-1] + 1 == new[0]))
    missing = 0 if ok else max(1, (last - min(seqs, default=last) + 1) - len(set(seqs)))
    return {"records": last - missing, "disorder": 0}


def read_check(env, last):
    """The daemon's ring as `dravikctl log read` gives it, oldest first, read
    while the daemon runs: every record from the oldest kept one to `last`,
    in order. Returns sink-style counts; a gap shows as missing records."""
    out = subprocess.run([os.path.join(BUILD, "dravikctl"), "log", "read", "--dpp", "1"],
                         env=env, check=True, capture_output=True).stdout
    seqs = [int(n) for n in re.findall(rb"@(\d+) ", out)]
    ok = seqs and seqs[-1] == last and all(b == a + 1 for a, b in zip(seqs, seqs[1:]))
    missing = 0 if ok else max(1, (last - min(seqs, default=last) + 1) - len(set(seqs)))
    return {"records": last - missing, "disorder": 0}


def run_dravik(binary, work, count, size, stdout_to_file, allocs=False, facility=False):
    env = dict(os.environ, DRAVIK_PLATFORM_DIR=work)
    counter = None
    if allocs:
        counter = f"{work}/allocs"
        env["DRAVIK_BENCH_ALLOCS"] = counter
        env["LD_PRELOAD"] = os.path.join(BUILD, "bench", "liballoc_count.so")
    out = open(f"{work}/daemon.out" if stdout_to_file else os.devnull, "w")
    proc = subprocess.Popen([binary, "1", "0", "0", "100", "x"], env=env, stdout=out,
                            stderr=subprocess.DEVNULL, cwd=work)
    sock = f"{work}/xipc/0.37.1024"
    try:
        wait_for(lambda: os.path.exists(sock) and os.path.exists(f"{work}/vesk/930"),
                 what="the daemon's sockets")
        if not facility:
            for words in (["file", "bench"], ["dpps", "on", "1"]):  # the report lists DPP 1
                subprocess.run([os.path.join(BUILD, "dravikctl"), "log", *words], env=env,
                               check=True, stdout=subprocess.DEVNULL)
        cpu, secs, rss, n = measure(proc.pid, sock, count, size, "xipc", allocs=counter)
        ring = None if facility else read_check(env, WARM_UP + count)
    finally:
        stop(proc)
        out.close()
    if facility:
        return cpu, secs, rss, n, parse_sink(subprocess.run(
            tool("sink", f"{work}/dbgfac/dpp_debug.log", WARM_UP + count, 60), check=True,
            capture_output=True, text=True).stdout)
    return cpu, secs, rss, n, ring


RSYSLOG_CONF = """\
global(workDirectory="{work}" maxMessageSize="8k")
module(load="imuxsock" SysSock.Use="off")
input(type="imuxsock" Socket="{sock}" RateLimit.Interval="0" CreatePath="on")
template(name="msgonly" type="string" string="%msg%\\n")
action(type="omfile" file="{work}/out.log" template="msgonly")
"""


def run_rsyslog(work, count, size):
    sock = f"{work}/log.sock"
    with open(f"{work}/rsyslog.conf", "w") as f:
        f.write(RSYSLOG_CONF.format(work=work, sock=sock))
    proc = subprocess.Popen(["rsyslogd", "-n", "-f", f"{work}/rsyslog.conf", "-i",
                             f"{work}/rsyslog.pid"], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    result = {}

    def done(records):
        result["sink"] = subprocess.run(tool("sink", f"{work}/out.log", records, 60), check=True,
                                        capture_output=True, text=True).stdout
        time.sleep(0.05)  # the last batch's bookkeeping after its write

    try:
        wait_for(lambda: os.path.exists(sock), what="rsyslog's socket")
        cpu, secs, rss, _ = measure(proc.pid, sock, count, size, "syslog", done=done)
    finally:
        stop(proc)
    return cpu, secs, rss, None, parse_sink(result["sink"])


def round_trip(binary, work, rounds, stdout_to_file):
    env = dict(os.environ, DRAVIK_PLATFORM_DIR=work)
    dpps = subprocess.Popen([os.path.join(BUILD, "dppsim"), "run", "--dpps", "4"], env=env,
                            stdout=subprocess.DEVNULL)
    wait_for(lambda: os.path.exists(f"{work}/xipc/12.39.0"), what="dppsim")
    out = open(f"{work}/daemon.out" if stdout_to_file else os.devnull, "w")
    proc = subprocess.Popen([binary, "1", "0", "0", "100", "x"], env=env,
                            stdout=out, stderr=subprocess.DEVNULL, cwd=work)
    try:
        wait_for(lambda: os.path.exists(f"{work}/vesk/930"), what="the daemon's SAP")
        wait_idle(proc.pid)
        open(f"{work}/vty", "w").close()
        res = subprocess.run(tool("rtt", f"{work}/vesk/930", f"{work}/vty", rounds),
                             check=True, capture_output=True, text=True).stdout.split()
    finally:
        stop(proc)
        stop(dpps)
        out.close()
    return float(res[1]), float(res[3])


def build_baseline(rev, root):
    """Builds REV's daemon in a temporary git worktree; returns (binary, cleanup)."""
    tree = tempfile.mkdtemp(prefix="dravik-base.")
    subprocess.run(["git", "-C", root, "worktree", "add", "--detach", tree, rev], check=True,
                   stdout=subprocess.DEVNULL)
    keep = tempfile.mkdtemp(prefix="dravik-base-bin.")

    def cleanup():
        subprocess.run(["git", "-C", root, "worktree", "remove", "--force", tree])
        shutil.rmtree(keep, ignore_errors=True)

    try:
        b = f"{tree}/build"
        subprocess.run(["cmake", "-S", tree, "-B", b, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", b, "-j2", "--target", "dravik"], check=True,
                       stdout=subprocess.DEVNULL)
        shutil.copy(f"{b}/dravik", f"{keep}/dravik")
    except BaseException:
        cleanup()
        raise
    subprocess.run(["git", "-C", root, "worktree", "remove", "--force", tree])
    return f"{keep}/dravik", lambda: shutil.rmtree(keep, ignore_errors=True)


def fmt_us(v):
    return f"{v:.2f} µs"


def write_results(out_dir, rows, rtt, allocs, notes, receivers, count):
    os.makedirs(out_dir, exist_ok=True)
    med = {}
    for (rcv, size) in {(r["receiver"], r["size"]) for r in rows}:
        cell = [r for r in rows if r["receiver"] == rcv and r["size"] == size]
        med[rcv, size] = {
            "cpu_us": statistics.median(r["cpu_us"] for r in cell),
            "cpu_min": min(r["cpu_us"] for r in cell),
            "cpu_max": max(r["cpu_us"] for r in cell),
            "rate": statistics.median(r["rate"] for r in cell),
            "lost": sum(r["lost"] for r in cell),
            "disorder": sum(r["disorder"] for r in cell),
            "rss_kib": max(r["rss_kib"] for r in cell),
        }
    with open(f"{out_dir}/e2e.csv", "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["receiver", "payload_bytes", "cpu_us_per_datagram", "ratio_to_limit",
                    "datagrams_per_s", "lost", "out_of_order", "peak_rss_kib", "rounds",
                    "cpu_us_min", "cpu_us_max"])
        for rcv in receivers:
            for size in SIZES:
                if (rcv, size) not in med:
                    continue
                m = med[rcv, size]
                w.writerow([rcv, size, f"{m['cpu_us']:.3f}",
                            f"{m['cpu_us'] / med['limit', size]['cpu_us']:.2f}",
                            f"{m['rate']:.0f}", m["lost"], m["disorder"], m["rss_kib"],
                            len([r for r in rows if r["receiver"] == rcv and r["size"] == size]),
                            f"{m['cpu_min']:.3f}", f"{m['cpu_max']:.3f}"])
    with open(f"{out_dir}/e2e.dat", "w") as f:  # the chart's data: one row per size
        # Per receiver three columns: the median and the rounds' min and max.
        f.write("payload " + " ".join(f"{r} {r}-min {r}-max" for r in receivers) + "\n")
        for size in SIZES:
            f.write(f"{size}B " + " ".join(
                " ".join(f"{med[r, size][k]:.3f}" for k in ("cpu_us", "cpu_min", "cpu_max"))
                if (r, size) in med else "- - -" for r in receivers) + "\n")
    lines = ["# End-to-end log intake benchmark", "",
             "CPU per datagram (user + sys of the receiving process ÷ datagrams), median of the "
             "rounds; × is the ratio to the limit of the same payload; then the median "
             "throughput (datagrams/s, one blocking sender process).", "",
             "| payload | " + " | ".join(receivers) + " |",
             "|---|" + "---|" * len(receivers)]
    for size in SIZES:
        cells = []
        for r in receivers:
            if (r, size) not in med:
                cells.append("—")
                continue
            m = med[r, size]
            ratio = m["cpu_us"] / med["limit", size]["cpu_us"]
            cells.append(f"{fmt_us(m['cpu_us'])} ({ratio:.2f}×), {m['rate'] / 1000:.0f}k/s")
        lines.append(f"| {size} B | " + " | ".join(cells) + " |")
    lines += ["", "Receivers: " + "; ".join(f"{r}: {LEGEND[r]}" for r in receivers
                                              if r in LEGEND) + ".", ""]
    for size in SIZES:
        have = lambda *rs: all((r, size) in med for r in rs)
        cpu = lambda r: med[r, size]["cpu_us"]
        def paired(x, y):  # the ratio within each round, whose cells ran close together
            by = {(r["receiver"], r["round"]): r["cpu_us"] for r in rows if r["size"] == size}
            v = [by[x, n] / by[y, n] for (rcv, n) in by if rcv == x and (y, n) in by]
            return f" (rounds {min(v):.2f}-{max(v):.2f})" if v else ""
        parts = [f"{x} ÷ {y} {cpu(x) / cpu(y):.3f}{paired(x, y)}"
                 for x, y in (("dravik-file", "dravik-null"), ("base-file", "base-null"),
                              ("dravik-null", "base-null"), ("dravik-file", "base-file"),
                              ("limit-write", "limit"))
                 if have(x, y)]
        lines.append(f"- {size} B: CPU per datagram, ratio of the medians (and within each "
                     "round, lowest to highest): " + "; ".join(parts) + ".")
    for size in SIZES:
        if ("rsyslog", size) in med:
            lines.append(f"- {size} B: dravik ÷ rsyslog, CPU per datagram: stdout to /dev/null "
                         f"{med['dravik-null', size]['cpu_us'] / med['rsyslog', size]['cpu_us']:.2f}, "
                         f"stdout to a file "
                         f"{med['dravik-file', size]['cpu_us'] / med['rsyslog', size]['cpu_us']:.2f}")
    lost = sum(m["lost"] for m in med.values())
    disorder = sum(m["disorder"] for m in med.values())
    lines.append(f"- Records lost over all cells: {lost}; out of order: {disorder}.")
    rss = {r: max(m["rss_kib"] for (rr, _), m in med.items() if rr == r) for r in receivers
           if any(rr == r for (rr, _) in med)}
    lines.append("- Peak RSS (VmHWM, KiB): " + ", ".join(f"{r} {v}" for r, v in rss.items()) + ".")
    for name, per in allocs.items():
        lines.append(f"- Heap allocations in steady state, {name} (stdout to /dev/null, "
                     f"{count} datagrams, counted by bench/alloc_count.cpp): "
                     + ", ".join(f"{s} B {n} in {secs:.1f} s ({n / count:.5f} per datagram)"
                                 for s, (n, secs) in per.items()) + ".")
    for name, (d, e) in rtt.items():
        lines.append(f"- Request round trip ({name}, per-port debug subscribe/release over the "
                     f"VESK socket, DPPs played by dppsim, daemon's standard output to "
                     f"{'a file' if name.endswith('-file') else '/dev/null'}): median {d:.1f} µs "
                     f"against {e:.1f} µs for a plain AF_UNIX datagram echo, {d / e:.2f}×.")
    lines.append("- Sinks: the limit and the daemon's per-DPP log file are 2 MiB rings in regular files: what each holds at the end is checked (newest record there, no gap). rsyslog and the daemon's debug facility (dravik-facility) append to regular files: every record is counted.")
    lines += [f"- {n}" for n in notes]
    lines += ["", "![CPU per datagram](e2e.png)", "", "Raw figures: [e2e.csv](e2e.csv)."]
    text = "\n".join(lines) + "\n"
    with open(f"{out_dir}/e2e.md", "w") as f:
        f.write(text)
    print(text)
    plot(out_dir, receivers)


LEGEND = {
    "limit": "select + recvfrom + buffered fwrite into a 2 MiB ring file",
    "limit-write": "the limit plus one unbuffered 25-byte write per datagram",
    "dravik-null": "this daemon, its standard output to /dev/null",
    "dravik-file": "this daemon, its standard output to a file",
    "base-null": "the baseline daemon, its standard output to /dev/null",
    "base-file": "the baseline daemon, its standard output to a file",
    "dravik-facility": "this daemon, records to the debug facility's log",
    "rsyslog": "rsyslogd, imuxsock to a file",
}


def plot(out_dir, receivers):
    if shutil.which("gnuplot") is None:
        print("gnuplot is missing: no chart drawn", file=sys.stderr)
        return
    # Boxes side by side around each payload's tick, black whiskers over
    # them; the data file's rows are the payloads, at x = 0, 1, 2.
    width = 0.8 / len(receivers)
    series = []
    for i, r in enumerate(receivers):
        x = f"($0 + {(i - (len(receivers) - 1) / 2) * width:.4f})"
        med, lo, hi = 2 + 3 * i, 3 + 3 * i, 4 + 3 * i
        series.append(f"'{out_dir}/e2e.dat' using {x}:{med}:({width:.4f}) with boxes "
                      f"lc {i + 1} title \"{r}: {LEGEND.get(r, r)}\"")
        series.append(f"'{out_dir}/e2e.dat' using {x}:{med}:{lo}:{hi} with yerrorbars "
                      "lc rgb 'black' pt 0 lw 1 notitle")
    tics = ", ".join(f'"{s} B" {i}' for i, s in enumerate(SIZES))
    script = f"""
set terminal pngcairo size 1000,640 font ',10'
set output '{out_dir}/e2e.png'
set title 'CPU per datagram by receiver and payload (bars: median of the rounds, whiskers: min to max)'
set ylabel 'µs per datagram (user + sys)'
set xtics ({tics})
set xrange [-0.6:{len(SIZES) - 0.4}]
set style fill solid 0.8 border -1
set key outside below left Left reverse maxcols 2 samplen 2
set key title "null and file: where the daemon's standard output goes"
set yrange [0:*]
set grid ytics
set datafile missing '-'
set datafile columnheaders
plot {", ".join(series)}
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def main():
    global BUILD
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", required=True, help="the Release build directory")
    ap.add_argument("--out", help="where the table, CSV and chart go (default: bench/results, "
                    "or results-quick/ in the build directory for --quick)")
    ap.add_argument("--quick", action="store_true", help="fewer datagrams and rounds")
    ap.add_argument("--count", type=int, help="datagrams per cell")
    ap.add_argument("--rounds", type=int, help="interleaved rounds")
    ap.add_argument("--baseline", metavar="REV", help="also measure REV's daemon")
    ap.add_argument("--note", action="append", default=[], help="a line added to the table")
    ap.add_argument("--receivers", help="only these receivers (comma-separated; the limit "
                    "always runs), e.g. more rounds of two that are compared")
    ap.add_argument("--skip-rtt", action="store_true", help="no request round trips")
    a = ap.parse_args()
    BUILD = os.path.abspath(a.build)
    a.out = a.out or (os.path.join(BUILD, "results-quick") if a.quick else
                      os.path.join(os.path.dirname(os.path.abspath(__file__)), "results"))
    count = a.count or (20000 if a.quick else 200000)
    rounds = a.rounds or (2 if a.quick else 5)
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    dravik = os.path.join(BUILD, "dravik")
    notes = list(a.note)
    daemons = {"dravik": dravik}
    cleanup = None
    if a.baseline:
        daemons["base"], cleanup = build_baseline(a.baseline, root)
        notes.append(f"base-*: the daemon of revision {a.baseline}; dravik-*: of the working "
                     "tree, measured in the same run.")
    cells = {"limit": lambda w, s: run_limit(w, count, s),
             "limit-write": lambda w, s: run_limit(w, count, s, lines=True)}
    for name, binary in daemons.items():
        cells[f"{name}-null"] = lambda w, s, b=binary: run_dravik(b, w, count, s, False)
        cells[f"{name}-file"] = lambda w, s, b=binary: run_dravik(b, w, count, s, True)
    cells["dravik-facility"] = lambda w, s: run_dravik(dravik, w, count, s, False, facility=True)
    if shutil.which("rsyslogd"):
        cells["rsyslog"] = lambda w, s: run_rsyslog(w, count, s)
        ver = subprocess.run(["rsyslogd", "-v"], capture_output=True, text=True).stdout
        notes.append(f"rsyslog: {ver.splitlines()[0].split(' compiled')[0].strip()}.")
    else:
        notes.append("rsyslog could not be had on this machine: not measured.")
    if a.receivers:
        wanted = set(a.receivers.split(",")) | {"limit"}
        cells = {k: v for k, v in cells.items() if k in wanted}
    receivers = list(cells)
    notes.append(f"{count} datagrams per cell, {rounds} interleaved rounds, "
                 f"{os.cpu_count()} CPUs, load average at the start "
                 f"{os.getloadavg()[0]:.2f}.")
    rtt_cells = {} if a.skip_rtt else {f"{n}-{out}": (b, out == "file")
                                       for n, b in daemons.items() for out in ("null", "file")}
    rows, rtt_runs, allocs = [], {n: [] for n in rtt_cells}, {}
    try:
        for rnd in range(rounds):
            for size in SIZES:
                order = receivers[rnd % len(receivers):] + receivers[:rnd % len(receivers)]
                for rcv in order:
                    with tempfile.TemporaryDirectory(prefix="dvkb-") as w:
                        cpu, secs, rss, _, sink = cells[rcv](w, size)
                    rows.append({"round": rnd, "receiver": rcv, "size": size,
                                 "cpu_us": cpu * 1e6 / count, "rate": count / secs,
                                 "lost": WARM_UP + count - sink["records"], "disorder": sink["disorder"],
                                 "rss_kib": rss})
                    print(f"round {rnd + 1}/{rounds} {size:5d} B {rcv:12s} "
                          f"{rows[-1]['cpu_us']:6.2f} µs/datagram {rows[-1]['rate']:9.0f}/s "
                          f"lost {rows[-1]['lost']}", flush=True)
            for name, (binary, to_file) in rtt_cells.items():
                with tempfile.TemporaryDirectory(prefix="dvkr-") as w:
                    rtt_runs[name].append(round_trip(binary, w, 1000 if a.quick else 3000,
                                                     to_file))
        for name, binary in daemons.items():
            allocs[name] = {}
            for size in SIZES:
                with tempfile.TemporaryDirectory(prefix="dvka-") as w:
                    _, secs, _, n, _ = run_dravik(binary, w, count, size, False, allocs=True)
                allocs[name][size] = n, secs
    finally:
        if cleanup:
            cleanup()
    notes.append(f"Load average at the end {os.getloadavg()[0]:.2f}.")
    rtt = {n: (statistics.median(d for d, _ in v), statistics.median(e for _, e in v))
           for n, v in rtt_runs.items()}
    write_results(os.path.abspath(a.out), rows, rtt, allocs, notes, receivers, count)
    with open(f"{a.out}/e2e-rounds.csv", "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=list(rows[0]))
        w.writeheader()
        w.writerows(rows)


if __name__ == "__main__":
    main()
