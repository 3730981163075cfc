#!/usr/bin/env python3
"""Soak traffic for a running dravik, through the host platform's sockets only.

Starts the daemon (its command line after --), opens the per-DPP log files
"soak.N", then interleaves subscribe/release cycles (every other one to a
terminal that cannot be opened) with log records from all four DPPs, sent on
blocking sockets so that none is dropped. Stops the daemon with SIGTERM and
checks: descriptors as at the start, RSS growth after warm-up, the size of each
ring file, and that every record of each file's last laps is there, in order,
as "dravikctl log read" gives them.
Exits 1, leaving its files, when a check fails; otherwise removes them and
exits with the daemon's status.
"""
import argparse, os, re, shutil, signal, socket, struct, subprocess, sys, tempfile, time

p = argparse.ArgumentParser()
p.add_argument("--cycles", type=int, default=100000)
p.add_argument("--datagrams", type=int, default=1000000)
p.add_argument("--min-wraps", type=int, default=5)
p.add_argument("--max-rss-growth-kib", type=int, default=256)
p.add_argument("--dravikctl", default=os.path.join(os.path.dirname(__file__), "../build/dravikctl"))
p.add_argument("daemon", nargs="+")
a = p.parse_args()

WRAP, PAD = 0x200000, "x" * 80
job = tempfile.mkdtemp(prefix="dravik-soak.")
env = dict(os.environ, DRAVIK_PLATFORM_DIR=job)
for v in ("DRAVIK_FS_ROOT", "DRAVIK_FAIL", "DRAVIK_CARD_ID"):
    env.pop(v, None)
vty, missing = job + "/vty", job + "/no/such/vty"
open(vty, "w").close()
out = open(job + "/dravik.out", "w")
daemon = subprocess.Popen(a.daemon, env=env, stdout=out, stderr=subprocess.STDOUT)

def fail(msg):
    print("soak: " + msg + " (files in " + job + ")", file=sys.stderr)
    if daemon.poll() is None:
        daemon.kill()
    sys.exit(1)

def wait_for(what, cond, seconds=60):
    end = time.time() + seconds
    while not cond():
        if daemon.poll() is not None or time.time() > end:
            fail("no " + what)
        time.sleep(0.05)

sap, xipc = job + "/vesk/930", job + "/xipc/0.37.1024"
wait_for("daemon sockets", lambda: os.path.exists(sap) and os.path.exists(xipc))
vesk = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
vesk.bind(job + "/soak.sock")
vesk.settimeout(30)
dpps = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
dpps.connect(xipc)  # blocking: a full queue makes the sender wait

def request(opcode, payload):
    vesk.sendto(struct.pack(">III", opcode, 0, 0) + payload, sap)
    return vesk.recv(20000)

def set_debug(kind, on, all_, arg, name):
    return struct.pack(">BBBxI16x", kind, on, all_, arg) + name + b"\0"

def fds():
    return len(os.listdir("/proc/%d/fd" % daemon.pid))

def rss_kib():
    for line in open("/proc/%d/status" % daemon.pid):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])

request(5000, set_debug(4, 1, 0, 0, b"soak"))
request(5000, set_debug(2, 1, 1, 0, vty.encode()))  # the report then covers every file
sent = [0] * 4

def records(n):
    for _ in range(n):
        d = sum(sent) % 4
        text = ("soak n=%09d %s" % (sent[d], PAD)).encode()
        body = struct.pack(">8xII36x", 0, 0x80) + text + b"\0"
        dpps.send(struct.pack(">HHHH6xHHH", 31, 4 * d, 39, 1, len(body), 0, 0) + body)
        sent[d] += 1

per_cycle = a.datagrams // max(a.cycles, 1)
warm = max(a.cycles // 20, 1)
for c in range(a.cycles):
    term = (vty if c % 2 == 0 else missing).encode()
    for no in (0, 1):
        request(1, struct.pack(">iBB", 1 + c % 3, c % 16, no) + term + b"\0")
    records(per_cycle)
    if c + 1 == warm:
        request(5001, b"")
        fd0, rss0 = fds(), rss_kib()
records(a.datagrams - per_cycle * a.cycles)
logs = job + "/fs/cpp/plinder_dpp_logs/"

def drained():  # the report request flushes the files
    request(5001, b"")
    return all(b"soak n=%09d " % (sent[d] - 1) in open(logs + "soak.%d" % (d + 1), "rb").read()
               for d in range(4) if sent[d])

wait_for("last records in the files", drained)

def ring(d):  # the records of DPP d's file in time order, as an operator reads them
    out = subprocess.run([a.dravikctl, "log", "read", "--dpp", str(d + 1)], env=env, check=True,
                         stdout=subprocess.PIPE).stdout
    return [int(n) for n in re.findall(rb"^\[DPP%d\] soak n=(\d+) " % (d + 1), out, re.M)]

rings = [ring(d) for d in range(4)]
fd1, rss1 = fds(), rss_kib()
daemon.send_signal(signal.SIGTERM)
status = daemon.wait(timeout=120)

problems = []
if fd1 != fd0:
    problems.append("descriptors %d at the start, %d at the end" % (fd0, fd1))
if rss1 - rss0 > a.max_rss_growth_kib:
    problems.append("RSS grew by %d KiB" % (rss1 - rss0))
line_len = len("[DPP1] soak n=000000000 " + PAD) + 1
biggest, found = 0, 0
for d in range(4):
    data = open(logs + "soak.%d" % (d + 1), "rb").read()
    stamp = max((len(l) + 1 for l in data.split(b"\n") if l.startswith(b"####")), default=0)
    biggest = max(biggest, len(data))
    if len(data) > WRAP + stamp + line_len:
        problems.append("soak.%d has %d bytes" % (d + 1, len(data)))
    seen = rings[d]
    found += len(seen)
    if not seen or seen != list(range(seen[0], sent[d])):
        problems.append("soak.%d lacks records of its last laps, or has them out of order" % (d + 1))
    if sent[d] * line_len < a.min_wraps * WRAP:
        problems.append("soak.%d wrapped fewer than %d times" % (d + 1, a.min_wraps))
print("cycles %d, datagrams %d (%s per DPP)" % (a.cycles, sum(sent), "/".join(map(str, sent))))
print("descriptors: %d after warm-up, %d at the end" % (fd0, fd1))
print("RSS: %d KiB after warm-up, %d KiB at the end (%+d KiB)" % (rss0, rss1, rss1 - rss0))
print("largest ring file: %d bytes (wrap at %d); about %.1f laps per file"
      % (biggest, WRAP, min(sent) * line_len / WRAP))
print("records of the files' last laps: %d found, none missing" % found if not problems
      or not any("lacks" in x for x in problems) else "records: some missing")
print("daemon exit status: %d" % status)
for x in problems:
    print("soak: " + x, file=sys.stderr)
if problems:
    fail("%d checks failed" % len(problems))
shutil.rmtree(job)
if status != 0:
    sys.exit(status if status > 0 else 1)
