#!/usr/bin/env python3
"""How long the live page takes to answer, alone and under a connection attack.

Starts `tarn run --serve 0 --linger` on a short paced graph and times GET / and
GET /api/status, each on a fresh connection:
  quiet     no other client
  attacked  TRICKLE connections that send a GET with `Content-Length: 1000000`
            and then one byte of its body a second (each reopened when the
            server closes it), and IDLE connections that send nothing (also
            reopened), all held for the whole phase
Both phases run against the same server in the same run; the medians and the
worst of each are printed, and the attacked ones as ratios of the quiet ones.
The time of a request that is not answered within 10 s counts as 10 s.

usage: bench/serve_attack.py [BUILD] [--trickle N] [--idle N] [--seconds S]
"""
import os
import re
import resource
import selectors
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
args = sys.argv[1:]
build = args[0] if args and not args[0].startswith("--") else os.path.join(root, "build")


def option(name, default):
    return type(default)(args[args.index(name) + 1]) if name in args else default


trickle = option("--trickle", 16)
idle = option("--idle", 1000)
seconds = option("--seconds", 20.0)
tarn = os.path.join(build, "bin", "tarn")

# Each held connection is a descriptor here and one in tarn.
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
need = trickle + idle + 256
if soft < need:
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(need, hard), hard))
    if hard < need:
        sys.exit(f"needs {need} file descriptors, the hard limit is {hard}")


def timed_get(port, path, limit=10.0):
    """Seconds until the whole answer of GET `path` came, and its status line."""
    start = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=limit) as s:
            s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
            data = b""
            while True:
                left = limit - (time.monotonic() - start)
                if left <= 0:
                    break
                s.settimeout(left)
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
    except OSError:
        data = b""
    spent = min(time.monotonic() - start, limit)
    return spent, data.split(b"\r\n", 1)[0].decode(errors="replace")


class Attack:
    """Trickling and idle connections, reopened as the server closes them."""

    def __init__(self, port):
        self.port, self.stop = port, threading.Event()
        self.selector = selectors.DefaultSelector()  # the idle ones, readable once closed
        self.trickling = {}  # socket: when it was opened
        self.reopened, self.lifetimes = 0, []
        self.thread = threading.Thread(target=self.hold, daemon=True)

    def open(self, kind):
        try:
            s = socket.create_connection(("127.0.0.1", self.port), timeout=2)
            s.setblocking(False)
        except OSError:
            return False
        if kind == "trickle":
            s.send(b"GET /api/status HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000\r\n\r\n")
            self.trickling[s] = time.monotonic()
        else:
            self.selector.register(s, selectors.EVENT_READ)
        return True

    def hold(self):
        missing = {"trickle": trickle, "idle": idle}
        next_byte = time.monotonic()
        while not self.stop.is_set():
            for kind in missing:
                while missing[kind] > 0 and not self.stop.is_set() and self.open(kind):
                    missing[kind] -= 1
            for key, _ in self.selector.select(timeout=0.1):
                self.selector.unregister(key.fileobj)
                key.fileobj.close()
                missing["idle"] += 1
                self.reopened += 1
            if time.monotonic() < next_byte:
                continue
            # A byte of the body a second, answered or not, until the server
            # has closed the connection (a send then fails).
            next_byte += 1.0
            for s, opened in list(self.trickling.items()):
                try:
                    s.send(b"x")
                except OSError:
                    self.lifetimes.append(time.monotonic() - opened)
                    del self.trickling[s]
                    s.close()
                    missing["trickle"] += 1
                    self.reopened += 1
        for s in list(self.trickling) + [k.fileobj for k in self.selector.get_map().values()]:
            s.close()

    def held(self):
        return len(self.trickling) + len(self.selector.get_map())


def phase(port, name, until):
    times, statuses = [], set()
    while time.monotonic() < until:
        for path in ("/", "/api/status"):
            spent, status = timed_get(port, path)
            times.append(spent)
            statuses.add(status)
        time.sleep(0.2)
    print(f"{name:9s} {len(times):4d} requests  median {statistics.median(times) * 1000:8.1f} ms"
          f"  worst {max(times) * 1000:8.1f} ms  {sorted(statuses)}", flush=True)
    return times


work = tempfile.mkdtemp(prefix="serve-attack-")
graph = os.path.join(work, "live.tarn")
with open(graph, "w") as f:
    f.write(f"node gen StrandEventGenerator\nnode hist Histogrammer\nset gen.steps 100\n"
            f"set hist.prefix {work}/out\nconnect gen.fevent hist.fevent\nstart gen\n")
p = subprocess.Popen([tarn, "run", graph, "--no-progress", "--serve", "0", "--linger"],
                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
try:
    line = ""
    while "serving" not in line:
        line = p.stderr.readline()
        if not line and p.poll() is not None:
            sys.exit("tarn ended before serving")
    port = int(re.search(r":(\d+)/", line).group(1))
    quiet = phase(port, "quiet", time.monotonic() + seconds / 2)
    attack = Attack(port)
    attack.thread.start()
    ready = time.monotonic() + 30
    while attack.held() < trickle + idle and time.monotonic() < ready:
        time.sleep(0.1)
    print(f"attack: {attack.held()} connections held", flush=True)
    attacked = phase(port, "attacked", time.monotonic() + seconds)
    print(f"attack: {attack.held()} connections held, {attack.reopened} reopened after the server closed them")
    if attack.lifetimes:
        print(f"trickling connections closed after {statistics.median(attack.lifetimes):.1f} s (median),"
              f" {max(attack.lifetimes):.1f} s at most")
    else:
        print("no trickling connection was closed")
    attack.stop.set()
    attack.thread.join()
    for what, f in (("median", statistics.median), ("worst", max)):
        print(f"attacked/quiet {what}: {f(attacked) / f(quiet):.1f}")
finally:
    p.send_signal(2)
    p.communicate(timeout=30)
    subprocess.run(["rm", "-rf", work])
