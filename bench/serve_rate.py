#!/usr/bin/env python3
"""The event rate of a run served live, with and without misbehaving clients.

Runs the same graph (examples/live.tarn on a synthesised module run) in turns:
  plain     tarn run, no server
  served    tarn run --serve, no client
  lingering tarn run --serve --linger, no client
  attacked  tarn run --serve --linger with a polling "browser" (status and every
            histogram every 100 ms), 24 stalled requests, 8 silent connections, a
            slow-loris client and 50 malformed or oversized requests a second
The first two give the process's wall-clock rate (events over the time from
start to exit): what serving itself costs. The last two give the source's own
rate from /api/status at the end (sent values over the run's time, measured by
tarn): what misbehaving clients cost the run, and the events per CPU second of
tarn's main thread, where the graph runs: the work the graph itself did, apart
from the CPU the clients and the server took from it. Medians and ratios are
printed.

usage: bench/serve_rate.py [BUILD] [--events N] [--rounds R]
"""
import json
import os
import random
import re
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
args = sys.argv[1:]
build = args[0] if args and not args[0].startswith("--") else os.path.join(root, "build")
events = int(args[args.index("--events") + 1]) if "--events" in args else 300000
rounds = int(args[args.index("--rounds") + 1]) if "--rounds" in args else 5
tarn = os.path.join(build, "bin", "tarn")
work = tempfile.mkdtemp(prefix="serve-rate-")
run = os.path.join(build, "bench-runs", f"serve-rate-{events}.mid")
if not os.path.exists(run):
    os.makedirs(os.path.dirname(run), exist_ok=True)
    subprocess.run([os.path.join(build, "bin", "midas-synth"), "--modules", "--events", str(events), run], check=True)
graph = os.path.join(root, "examples", "live.tarn")
common = ["run", graph, "--no-progress", "--set", f"in.file={run}", "--set", f"hist.prefix={work}/h"]


def get(port, path):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=10) as r:
        return r.read()


def misbehave(port, stop):
    """Every kind of bad client at once, until `stop` is set."""
    held = []

    def browser():
        while not stop.is_set():
            try:
                get(port, "/api/status")
                for h in json.loads(get(port, "/api/histograms")):
                    get(port, h["url"])
            except OSError:
                pass
            time.sleep(0.1)

    def stalled():
        for _ in range(24):
            try:
                s = socket.create_connection(("127.0.0.1", port))
                s.sendall(b"GET /api/status HTTP/1.1\r\nHost: x\r\nX-Stall: ")
                held.append(s)
            except OSError:
                pass
        for _ in range(8):
            try:
                held.append(socket.create_connection(("127.0.0.1", port)))
            except OSError:
                pass

    def slowloris():
        try:
            s = socket.create_connection(("127.0.0.1", port))
            held.append(s)
            s.sendall(b"GET / HTTP/1.1\r\n")
            while not stop.is_set():
                s.sendall(b"X")
                time.sleep(0.5)
        except OSError:
            pass

    def flood():
        rnd = random.Random(1)
        junk = [b"\x00\xff garbage\r\n\r\n", b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\n\r\n",
                b"POST /api/status HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello",
                b"GET /../../etc/passwd HTTP/1.1\r\n\r\n", b"GET / HTTP/1.1\r\n" + b"X: y\r\n" * 2000 + b"\r\n"]
        while not stop.is_set():
            try:
                s = socket.create_connection(("127.0.0.1", port), timeout=2)
                s.sendall(rnd.choice(junk))
                s.recv(4096)
                s.close()
            except OSError:
                pass
            time.sleep(0.02)

    threads = [threading.Thread(target=f, daemon=True) for f in (browser, stalled, slowloris, flood)]
    for t in threads:
        t.start()
    return held


def once(mode):
    extra = {"plain": [], "served": ["--serve", "0"]}.get(mode, ["--serve", "0", "--linger"])
    start = time.monotonic()
    p = subprocess.Popen([tarn] + common + extra, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if mode in ("plain", "served"):
        p.communicate()
        return "wall", events / (time.monotonic() - start), None
    line = ""
    while "serving" not in line:
        line = p.stderr.readline()
    port = int(re.search(r":(\d+)/", line).group(1))
    stop = threading.Event()
    held = misbehave(port, stop) if mode == "attacked" else []
    while True:
        try:  # an attacked server may refuse or drop a request now and then
            s = json.loads(get(port, "/api/status"))
            if s["state"] == "done":
                break
        except OSError:
            pass
        time.sleep(0.05)
    # utime and stime of the main thread, the one that runs the graph
    with open(f"/proc/{p.pid}/task/{p.pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    stop.set()
    p.send_signal(2)
    p.communicate()
    for h in held:
        h.close()
    return "source", s["rate"], s["events"] / cpu


modes = ("plain", "served", "lingering", "attacked")
rates = {m: [] for m in modes}
perCpu = {m: [] for m in modes}
kinds = {}
for r in range(rounds):
    for mode in modes:
        kinds[mode], rate, cpuRate = once(mode)
        rates[mode].append(rate)
        if cpuRate:
            perCpu[mode].append(cpuRate)
        print(f"round {r + 1} {mode:9s} {kinds[mode]:6s} {rate:10.0f} /s" +
              (f"   {cpuRate:10.0f} per CPU s" if cpuRate else ""), flush=True)
print(f"\nmedians over {rounds} rounds of {events} events:")
base = {"plain": "plain", "served": "plain", "lingering": "lingering", "attacked": "lingering"}
for mode in modes:
    m = statistics.median(rates[mode])
    line = f"  {mode:9s} {kinds[mode]:6s} {m:10.0f} /s   {m / statistics.median(rates[base[mode]]):.3f} of {base[mode]}"
    if perCpu[mode]:
        c = statistics.median(perCpu[mode])
        line += f";  {c:10.0f} per CPU s   {c / statistics.median(perCpu[base[mode]]):.3f} of {base[mode]}"
    print(line)
subprocess.run(["rm", "-rf", work])
