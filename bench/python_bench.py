#!/usr/bin/env python3
"""The Python package against its baselines, side by side in one run.

    python_bench.py BUILD [RUNS]    (Debian's /usr/bin/python3; BUILD holds python/tarn)

On the TDC run of scripts/bench.sh (400 MB, 400 000 events of 1 KiB; its TDC words are the
DWORD bank FILL), each measurement in a process of its own, the pairs taken in turn and
their medians compared, since the machine is shared:
  1. iterating the events (header fields only): events/s, and against RunFile alone in tarn;
  2. read_banks of the TDC bank against `tarn run` of RunFile -> BankTranslator without a sink;
  3. read_banks against a plain-Python struct reader (timed on its first events, as a rate);
  4. read_banks' peak resident memory over the arrays it returns.
BENCH_ROUNDS sets the rounds (default 3).
"""
import os
import pathlib
import resource
import statistics
import subprocess
import sys
import time

BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build-bench").resolve()
RUNS = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else "build/bench-runs").resolve()
ROUNDS = int(os.environ.get("BENCH_ROUNDS", "3"))
PY = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
ENV = dict(os.environ, PYTHONPATH=str(BUILD / "python"))
ENV.pop("TARN_PLUGIN_PATH", None)  # the build's own modules
RUN = RUNS / "tdc-400m.mid"
EVENTS = 400000
STRUCT_EVENTS = 20000

# Each Python child prints the seconds of its own work first: the interpreter's start and
# numpy's import (about 0.1 s) are no part of a reader's speed; whole-process times are shown too.
ITERATE = """
import sys, time, tarn
start = time.perf_counter()
n = 0
for e in tarn.open(sys.argv[1]):
    e.id; e.serial; e.time
    n += 1
print(time.perf_counter() - start, n)
"""
READ_BANKS = """
import resource, sys, time, tarn
start = time.perf_counter()
c = tarn.read_banks(sys.argv[1], ["FILL"])["FILL"]
took = time.perf_counter() - start
kept = c.values.nbytes + c.offsets.nbytes + c.event.nbytes
print(took, len(c), kept, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""
IMPORT_ONLY = """
import resource, tarn, numpy
print(0, 0, 0, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""
# What a physicist writes without tarn: struct over the file, event by event, bank by bank.
STRUCT_READER = """
import struct, sys, time
start = time.perf_counter()
limit = int(sys.argv[2])
values, offsets, events = [], [0], []
with open(sys.argv[1], "rb") as f:
    index = 0
    while index < limit:
        head = f.read(16)
        if len(head) < 16:
            break
        eid, mask, serial, stamp, size = struct.unpack("<HHIII", head)
        data = f.read(size)
        if eid < 0x8000:
            total, flags = struct.unpack_from("<II", data, 0)
            wide = flags & 0x10
            at, end = 8, 8 + total
            while at < end:
                if wide:
                    name, btype, bsize = struct.unpack_from("<4sII", data, at); at += 12
                else:
                    name, btype, bsize = struct.unpack_from("<4sHH", data, at); at += 8
                if name == b"FILL":
                    values.extend(struct.unpack_from("<%dI" % (bsize // 4), data, at))
                    offsets.append(len(values)); events.append(index)
                at += (bsize + 7) & ~7
        index += 1
print(time.perf_counter() - start, index)
"""
BANKS_GRAPH = "node in RunFile\nnode bt BankTranslator\nset bt.banks FILL\nset bt.FILL Tdc\n" \
              "connect in.event bt.mevent\nstart in\n"
ALONE_GRAPH = "node in RunFile\nstart in\n"


def timed(cmd):
    start = time.perf_counter()
    out = subprocess.run(cmd, env=ENV, check=True, capture_output=True, text=True).stdout
    return time.perf_counter() - start, out


def own(cmd):
    """The seconds a Python child gives for its own work, and its whole-process seconds."""
    whole, out = timed(cmd)
    return float(out.split()[0]), whole


def pair(a, b):
    """Medians of A and B, taken in turn: (work, whole process) of each; tarn's work is its whole run."""
    ta, tb = [], []
    for _ in range(ROUNDS):
        ta.append(own(a) if a[0] == PY else (timed(a)[0],) * 2)
        tb.append(own(b))
    med = lambda xs, i: statistics.median(x[i] for x in xs)
    return med(ta, 0), med(tb, 0), med(ta, 1), med(tb, 1)


def row(what, a, b, ratio, target, ok):
    print(f"{what:<58} {a:<16} {b:<16} {ratio:<8} {target:<10} {'met' if ok else 'NOT MET'}")


def main():
    RUNS.mkdir(parents=True, exist_ok=True)
    if not RUN.exists():
        part = RUNS / ("part-" + RUN.name)
        subprocess.run([str(BUILD / "bin" / "midas-synth"), "--events", str(EVENTS), "--fill", "1024", str(part)],
                       check=True)
        part.rename(RUN)
    (RUNS / "py-banks.tarn").write_text(BANKS_GRAPH)
    (RUNS / "py-alone.tarn").write_text(ALONE_GRAPH)
    tarn = str(BUILD / "bin" / "tarn")
    tarn_run = lambda graph: [tarn, "run", str(RUNS / graph), "--no-progress", "--set", f"in.file={RUN}"]
    subprocess.run(["cat", str(RUN)], stdout=subprocess.DEVNULL, check=True)  # page cache warm
    events = EVENTS + 2

    print(f"\nPython package on {RUN.name} ({RUN.stat().st_size / 1e6:.0f} MB), medians of {ROUNDS} rounds "
          "taken in turn; ratio: throughput of B over A.\n")
    print(f"{'measured (A vs B)':<58} {'A':<16} {'B':<16} {'ratio':<8} {'target':<10}")
    alone, it, _, it_whole = pair(tarn_run("py-alone.tarn"), [PY, "-c", ITERATE, str(RUN)])
    rate = events / it
    row("iterate events: tarn run RunFile alone vs tarn.open loop", f"{events / alone / 1e6:.2f} M ev/s",
        f"{rate / 1e6:.2f} M ev/s", f"{alone / it:.2f}", ">= 2 M/s", rate >= 2e6)
    row("  the same, whole python3 process", "", f"{events / it_whole / 1e6:.2f} M ev/s", f"{alone / it_whole:.2f}",
        "", True)
    bt, rb, _, rb_whole = pair(tarn_run("py-banks.tarn"), [PY, "-c", READ_BANKS, str(RUN)])
    mb = RUN.stat().st_size / 1e6
    row("TDC bank: tarn run RunFile->BankTranslator vs read_banks", f"{mb / bt:.0f} MB/s", f"{mb / rb:.0f} MB/s",
        f"{bt / rb:.2f}", ">= 0.8", bt / rb >= 0.8)
    row("  the same, whole python3 process", "", f"{mb / rb_whole:.0f} MB/s", f"{bt / rb_whole:.2f}", "", True)
    st, rb2, _, _ = pair([PY, "-c", STRUCT_READER, str(RUN), str(STRUCT_EVENTS)], [PY, "-c", READ_BANKS, str(RUN)])
    struct_rate, rb_rate = STRUCT_EVENTS / st, events / rb2
    row(f"TDC bank: struct reader ({STRUCT_EVENTS} events) vs read_banks", f"{struct_rate / 1e3:.0f} k ev/s",
        f"{rb_rate / 1e3:.0f} k ev/s", f"{rb_rate / struct_rate:.1f}", ">= 20", rb_rate / struct_rate >= 20)
    _, base = timed([PY, "-c", IMPORT_ONLY])
    _, got = timed([PY, "-c", READ_BANKS, str(RUN)])
    base_kib = int(base.split()[3])
    _, _, kept, peak_kib = (float(x) for x in got.split())
    over = peak_kib - base_kib - kept / 1024
    row("read_banks peak resident over import: arrays vs peak", f"{kept / 2**20:.0f} MiB arrays",
        f"{(peak_kib - base_kib) / 1024:.0f} MiB", f"{over / 1024:+.0f} MiB", "<= 64 MiB", over <= 64 * 1024)


if __name__ == "__main__":
    main()
