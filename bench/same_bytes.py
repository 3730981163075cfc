#!/usr/bin/env python3
"""Runs two dravik binaries on the same stream of requests, datagrams and
signals and compares what they write: standard output and standard error in
one stream (their relative order included), and every per-DPP log file.

    python3 bench/same_bytes.py OLD_BUILD_DIR NEW_BUILD_DIR

Both runs use NEW_BUILD_DIR's dravikctl and dppsim. The clock of the time
stamps is frozen with libfaketime (Debian's faketime), so the files can be
compared byte for byte; the monotonic clock runs. Each phase waits until the
daemon has passed its loop once per message (its ready lines counted), so
requests and datagrams meet the daemon in the same order in both runs.
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
READY = b"Waiting for a message...\n"


def run(build, tools, last_signal):
    d = tempfile.mkdtemp(prefix="dvk-same-")
    env = dict(os.environ, DRAVIK_PLATFORM_DIR=d, TZ="UTC", LD_PRELOAD=FAKETIME,
               FAKETIME="2026-01-02 03:04:05", FAKETIME_DONT_FAKE_MONOTONIC="1",
               DRAVIK_CARD_ID="40")
    tool_env = {k: v for k, v in env.items() if k not in ("LD_PRELOAD", "FAKETIME")}
    out_path = os.path.join(d, "daemon.out")
    out = open(out_path, "wb")
    daemon = subprocess.Popen([os.path.join(build, "dravik"), "1", "0", "0", "100", "x"],
                              env=env, stdout=out, stderr=subprocess.STDOUT, cwd=d)
    passes = 1

    def ready(n):
        deadline = time.monotonic() + 60
        while open(out_path, "rb").read().count(READY) < n:
            if time.monotonic() > deadline:
                sys.exit("%s: the daemon did not get to pass %d" % (build, n))
            time.sleep(0.01)

    def ctl(*args, messages=1):
        nonlocal passes
        subprocess.run([os.path.join(tools, "dravikctl"), "--timeout", "10000", *args],
                       env=tool_env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        passes += messages
        ready(passes)

    def sim(*args, count):
        nonlocal passes
        subprocess.run([os.path.join(tools, "dppsim"), "send", *args], env=tool_env, check=True,
                       stdout=subprocess.DEVNULL)
        passes += count
        ready(passes)

    ready(1)
    term = os.path.join(d, "vty")
    open(term, "w").close()
    ctl("debug", "nivo", "ipstack", "tcp", "port", "3", "--vty", term)
    ctl("debug", "nivo", "ipstack", "udp", "port", "3", "--vty", term)
    ctl("show", "debug", "--vty", term)
    ctl("log", "file", "same")
    ctl("log", "dpps", "on", "1,2")
    ctl("log", "categories", "on", "5", "--filters", "1,0,0,0x10")
    ctl("log", "level", "DEBUG")
    sim("log", "--dpp", "1", "--category", "5", "--count", "30000",
        "record {n} of a stream long enough to wrap the ring at two MiB ........", count=30000)
    sim("text", "--dpp", "2", "--core", "1", "line one\nline two\n\nline three", count=1)
    sim("log", "--dpp", "2", "--category", "3", "--count", "50", "rx {n}\nsecond line", count=50)
    ctl("log", "show")
    ctl("no", "debug", "nivo", "ipstack", "tcp", "port", "3", "--vty", term)
    ctl("log", "file", "other")
    sim("log", "--dpp", "1", "--category", "7", "--count", "10", "after {n}", count=10)
    ctl("release-all")
    daemon.send_signal(last_signal)
    daemon.wait(timeout=30)
    out.close()
    files = {}
    logs = os.path.join(d, "fs/cpp/plinder_dpp_logs")
    for name in sorted(os.listdir(logs)):
        files[name] = open(os.path.join(logs, name), "rb").read()
    files["vty (the listing's terminal)"] = open(term, "rb").read().replace(d.encode(), b"<dir>")
    # The one difference the runs are meant to have: their directory.
    return open(out_path, "rb").read().replace(d.encode(), b"<dir>"), files, daemon.returncode


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    old, new = (os.path.abspath(a) for a in sys.argv[1:])
    same = True
    # SIGHUP: a heartbeat, then the interrupted wait ends the loop.
    for sig in (signal.SIGHUP, signal.SIGTERM, signal.SIGINT):
        print("-- ending with %s" % signal.Signals(sig).name)
        same &= compare(run(old, new, sig), run(new, new, sig))
    sys.exit(0 if same else 1)


def compare(a, b):
    (a_out, a_files, a_rc), (b_out, b_files, b_rc) = a, b
    same = True
    print("exit status: old %s, new %s" % (a_rc, b_rc))
    same &= a_rc == b_rc
    print("stdout+stderr: %d bytes, %s" % (len(a_out), "identical" if a_out == b_out else
                                          "DIFFERENT (new: %d bytes)" % len(b_out)))
    same &= a_out == b_out
    for name in sorted(set(a_files) | set(b_files)):
        x, y = a_files.get(name), b_files.get(name)
        print("%s: %s bytes, %s" % (name, len(x or b""), "identical" if x == y else "DIFFERENT"))
        same &= x == y
    return same


if __name__ == "__main__":
    main()
