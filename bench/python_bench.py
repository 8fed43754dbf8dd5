#!/usr/bin/env python3
"""The Python package against its baselines, side by side in one run.

    python_bench.py BUILD [RUNS]    (Debian's /usr/bin/python3; BUILD holds python/tarn)

On the TDC run of scripts/bench.sh (400 MB, 400 000 events of 1 KiB; its TDC words are the
DWORD bank FILL), each measurement in a process of its own, the pairs taken in turn and
their medians compared, since the machine is shared:
  1. iterating the events (header fields only): events/s, and against RunFile alone in tarn;
  2. read_banks of the TDC bank against `tarn run` of RunFile -> BankTranslator without a sink;
  3. read_banks against a plain-Python struct reader, event by event, every word unpacked into
     a list (on its first events, as a rate); and, with no target, against a faster reader of
     the whole run in 16 MiB chunks, struct over the headers and array.frombytes for the words,
     giving the same three numpy columns (checked equal), also each reader's second call in one
     process;
  4. read_banks' peak resident memory over the arrays it returns.
Each row gives wall time and CPU time (user + system, of the work alone for a Python child),
and the page faults of the work. BENCH_ROUNDS sets the rounds (default 3).
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
LIST_EVENTS = 20000

# Each Python child prints, for its own work, wall seconds, CPU seconds and page faults first:
# the interpreter's start and numpy's import (about 0.1 s) are no part of a reader's speed;
# whole-process times are shown too. Then what it read, compared between the readers.
MEASURE = """
import resource, sys, time
def usage():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return time.perf_counter(), r.ru_utime + r.ru_stime, r.ru_minflt + r.ru_majflt
def report(before, *what):
    after = usage()
    print(*(a - b for a, b in zip(after, before)), *what)
start = usage()
"""
ITERATE = MEASURE + """
import tarn
start = usage()
n = 0
for e in tarn.open(sys.argv[1]):
    e.id; e.serial; e.time
    n += 1
report(start, n)
"""
READ_BANKS = MEASURE + """
import tarn
start = usage()
c = tarn.read_banks(sys.argv[1], ["FILL"])["FILL"]
kept = c.values.nbytes + c.offsets.nbytes + c.event.nbytes
report(start, len(c), kept, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss,
       int(c.values.sum()), int(c.offsets[-1]), int(c.event.sum()))
"""
IMPORT_ONLY = """
import resource, tarn, numpy
print(0, 0, 0, 0, 0, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""
# A faster reader than most physicists write, as a harder comparison: the file in large
# chunks, struct over the headers only, the bank's words gathered by array (a copy each, no
# Python number per word), numpy at the end.
STRUCT_READER = MEASURE + """
import array, struct
import numpy as np
start = usage()
EVENT, BANKS = struct.Struct("<HHIII"), struct.Struct("<II")
BANK16, BANK32 = struct.Struct("<4sHH"), struct.Struct("<4sII")
values, counts, events = array.array("I"), [], []
index = 0
with open(sys.argv[1], "rb") as f:
    buf, at = b"", 0
    while True:
        if len(buf) - at >= 16:
            eid, mask, serial, stamp, size = EVENT.unpack_from(buf, at)
            if at + 16 + size <= len(buf):
                if eid < 0x8000:
                    total, flags = BANKS.unpack_from(buf, at + 16)
                    bank, head = (BANK32, 12) if flags & 0x10 else (BANK16, 8)
                    p, last = at + 24, at + 24 + total
                    while p < last:
                        name, btype, bsize = bank.unpack_from(buf, p)
                        p += head
                        if name == b"FILL":
                            values.frombytes(view[p:p + bsize])
                            counts.append(bsize // 4)
                            events.append(index)
                        p += (bsize + 7) & ~7
                at += 16 + size
                index += 1
                continue
        more = f.read(1 << 24)
        if not more:
            break
        buf, at = buf[at:] + more, 0
        view = memoryview(buf)
values = np.frombuffer(values, dtype=np.uint32)
offsets = np.zeros(len(counts) + 1, np.int64)
np.cumsum(counts, out=offsets[1:])
events = np.array(events, dtype=np.int64)
report(start, len(events), 0, 0, int(values.sum()), int(offsets[-1]), int(events.sum()))
"""
# The plain struct reader: event by event, struct over the headers and the words, each word a
# Python int in a list. Timed on the first LIST_EVENTS events as a rate: the whole run would
# hold 10^8 Python ints, only slowing it further.
LIST_READER = MEASURE + """
import struct
start = usage()
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
report(start, index)
"""
# A reader's code run twice in one process, the second timed: its memory is then what the
# first call gave back, rather than pages the process never had.
SECOND_CALL = "import gc, sys; code = sys.argv.pop(1); exec(code, {}); gc.collect(); exec(code, {})"

BANKS_GRAPH = "node in RunFile\nnode bt BankTranslator\nset bt.banks FILL\nset bt.FILL Tdc\n" \
              "connect in.event bt.mevent\nstart in\n"
ALONE_GRAPH = "node in RunFile\nstart in\n"


def measure(cmd):
    """Wall and CPU seconds and page faults of the work (a Python child's own, tarn's whole run), the
    whole process's wall seconds, and what the child printed after its figures."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    out = subprocess.run(cmd, env=ENV, check=True, capture_output=True, text=True).stdout.splitlines()[-1].split()
    whole = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if cmd[0] == PY:  # the last line: a second call's
        return float(out[0]), float(out[1]), float(out[2]), whole, out[3:]
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    return whole, cpu, float(after.ru_minflt - before.ru_minflt), whole, []


def in_turn(*cmds):
    """Each command's medians (wall, CPU, faults, whole wall) over ROUNDS rounds taken in turn, and
    what each printed in its first round."""
    taken = [[measure(c) for c in cmds] for _ in range(ROUNDS)]
    return [([statistics.median(r[i][k] for r in taken) for k in range(4)], taken[0][i][4])
            for i in range(len(cmds))]


def row(what, a, b, ratio, cpu_ratio, target, ok=None):
    """One row; `ok` None for a row with no target."""
    verdict = "" if ok is None else "met" if ok else "NOT MET"
    print(f"{what:<60} {a:<14} {b:<14} {ratio:<7} {cpu_ratio:<7} {target:<10} {verdict}")


def faults(what, a, b):
    row(f"  page faults of the work: {what}", f"{a[2]:.0f}", f"{b[2]:.0f}", "", "", "")


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
    mb = RUN.stat().st_size / 1e6

    print(f"\nPython package on {RUN.name} ({mb:.0f} MB), medians of {ROUNDS} rounds taken in turn; "
          "ratio: throughput of B over A, by wall time and by CPU time.\n")
    print(f"{'measured (A vs B)':<60} {'A':<14} {'B':<14} {'ratio':<7} {'by CPU':<7} {'target':<10}")
    (alone, _), (it, _) = in_turn(tarn_run("py-alone.tarn"), [PY, "-c", ITERATE, str(RUN)])
    rate = events / it[0]
    row("iterate events: tarn run RunFile alone vs tarn.open loop", f"{events / alone[0] / 1e6:.2f} M ev/s",
        f"{rate / 1e6:.2f} M ev/s", f"{alone[0] / it[0]:.2f}", f"{alone[1] / it[1]:.2f}", ">= 2 M/s", rate >= 2e6)
    row("  the same, whole python3 process", "", f"{events / it[3] / 1e6:.2f} M ev/s", f"{alone[0] / it[3]:.2f}",
        "", "")
    (bt, _), (rb, _) = in_turn(tarn_run("py-banks.tarn"), [PY, "-c", READ_BANKS, str(RUN)])
    row("TDC bank: tarn run RunFile->BankTranslator vs read_banks", f"{mb / bt[0]:.0f} MB/s", f"{mb / rb[0]:.0f} MB/s",
        f"{bt[0] / rb[0]:.2f}", f"{bt[1] / rb[1]:.2f}", ">= 0.8", bt[0] / rb[0] >= 0.8)
    row("  the same, whole python3 process", "", f"{mb / rb[3]:.0f} MB/s", f"{bt[0] / rb[3]:.2f}", "", "")
    faults("tarn run vs read_banks (whole tarn process)", bt, rb)
    (st, st_out), (rb, rb_out), (ls, _) = in_turn([PY, "-c", STRUCT_READER, str(RUN)], [PY, "-c", READ_BANKS, str(RUN)],
                                                  [PY, "-c", LIST_READER, str(RUN), str(LIST_EVENTS)])
    if [st_out[0]] + st_out[3:] != [rb_out[0]] + rb_out[3:]:
        sys.exit(f"the struct reader and read_banks read different columns: {st_out} vs {rb_out}")
    ratio = events / rb[0] / (LIST_EVENTS / ls[0])
    row(f"TDC bank: struct reader ({LIST_EVENTS} ev) vs read_banks", f"{LIST_EVENTS / ls[0] / 1e3:.0f} k ev/s",
        f"{events / rb[0] / 1e3:.0f} k ev/s", f"{ratio:.1f}", f"{events / rb[1] / (LIST_EVENTS / ls[1]):.1f}",
        ">= 20", ratio >= 20)
    row("TDC bank: array reader vs read_banks", f"{events / st[0] / 1e3:.0f} k ev/s",
        f"{events / rb[0] / 1e3:.0f} k ev/s", f"{st[0] / rb[0]:.1f}", f"{st[1] / rb[1]:.1f}", "")
    faults("array reader vs read_banks", st, rb)
    (st2, _), (rb2, _) = in_turn([PY, "-c", SECOND_CALL, STRUCT_READER, str(RUN)],
                                 [PY, "-c", SECOND_CALL, READ_BANKS, str(RUN)])
    row("  the same, each the second call in its process", f"{events / st2[0] / 1e3:.0f} k ev/s",
        f"{events / rb2[0] / 1e3:.0f} k ev/s", f"{st2[0] / rb2[0]:.1f}", f"{st2[1] / rb2[1]:.1f}", "")
    faults("second calls: array reader vs read_banks", st2, rb2)
    base = measure([PY, "-c", IMPORT_ONLY])[4]
    got = measure([PY, "-c", READ_BANKS, str(RUN)])[4]
    base_kib, kept, peak_kib = int(base[2]), float(got[1]), float(got[2])
    over = peak_kib - base_kib - kept / 1024
    row("read_banks peak resident over import: arrays vs peak", f"{kept / 2**20:.0f} MiB arrays",
        f"{(peak_kib - base_kib) / 1024:.0f} MiB", f"{over / 1024:+.0f} MiB", "", "<= 64 MiB", over <= 64 * 1024)


if __name__ == "__main__":
    main()
