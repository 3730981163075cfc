#!/usr/bin/env python3
"""Time from a DPP's datagram to its record in the DPP's log file.

Starts build/dravik (or --build DIR) in a fresh platform directory, opens
per-DPP log files for DPP 1, then sends one per-port debug text at a time to
the idle daemon (from core 0, module 39, opcode 88) and polls the file until
the record is there. Prints the median and the worst of --count trials.

    python3 bench/flush_latency.py [--build build] [--count 100]
"""
import argparse
import os
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time


def dravikctl(build, env, *args):
    subprocess.run([os.path.join(build, "dravikctl"), *args], env=env, check=True,
                   stdout=subprocess.DEVNULL)


def text_datagram(text):
    # Sender XipcAddr: family 31, core 0, module 39, opcode 88; then the
    # PortDebugTextMsg: length at byte 8, text from byte 20.
    addr = struct.pack(">HHHH6sHH2s", 31, 0, 39, 88, b"", 0, 0, b"")
    body = bytearray(20) + text.encode() + b"\0"
    struct.pack_into(">I", body, 8, len(text) + 1)
    return addr + bytes(body)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--count", type=int, default=100)
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    pdir = tempfile.mkdtemp(prefix="dvk-lat-")
    env = dict(os.environ, DRAVIK_PLATFORM_DIR=pdir)
    for k in ("DRAVIK_FS_ROOT", "DRAVIK_FAIL", "DRAVIK_CARD_ID"):
        env.pop(k, None)
    out = open(os.path.join(pdir, "daemon.out"), "w")
    daemon = subprocess.Popen([os.path.join(build, "dravik"), "1", "0", "0", "100", "x"],
                              env=env, stdout=out, stderr=subprocess.STDOUT, cwd=pdir)
    try:
        sock_path = os.path.join(pdir, "xipc", "0.37.1024")
        deadline = time.monotonic() + 10
        while not os.path.exists(sock_path) and time.monotonic() < deadline:
            time.sleep(0.01)
        dravikctl(build, env, "log", "file", "lat")
        path = os.path.join(pdir, "fs/cpp/plinder_dpp_logs/lat.1")
        s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        times = []
        fd = os.open(path, os.O_RDONLY)
        for i in range(a.count):
            needle = ("lat-%06d\n" % i).encode()
            t0 = time.monotonic()
            s.sendto(text_datagram("lat-%06d" % i), sock_path)
            while needle not in os.pread(fd, 1 << 16, max(0, os.fstat(fd).st_size - 4096)):
                if time.monotonic() - t0 > 5:
                    sys.exit("record %d did not reach the file within 5 s" % i)
                time.sleep(0.0005)
            times.append((time.monotonic() - t0) * 1000)
        times.sort()
        print("send to file, %d records: median %.1f ms, worst %.1f ms" %
              (len(times), statistics.median(times), times[-1]))
    finally:
        daemon.send_signal(signal.SIGTERM)
        daemon.wait(timeout=10)


if __name__ == "__main__":
    main()
