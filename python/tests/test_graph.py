"""tarn.Graph: the plug-ins run in the process, their spectra against the CSV files they write."""
import csv
import os
import signal
import threading

import numpy as np
import pytest

import tarn
from conftest import SOURCE, synth


def csv_spectrum(path):
    with open(path) as f:
        rows = list(csv.DictReader(f))
    bins = [r for r in rows if r["low"] not in ("-inf", "nan") and r["high"] != "inf"]
    under = next(int(r["count"]) for r in rows if r["low"] == "-inf")
    over = next(int(r["count"]) for r in rows if r["high"] == "inf")
    edges = [float(r["low"]) for r in bins] + [float(bins[-1]["high"])]
    return np.array([int(r["count"]) for r in bins]), np.array(edges), under, over


def test_a_graph_file_gives_the_spectra_its_csv_files_hold(runs, tmp_path):
    g = tarn.Graph(str(SOURCE / "examples" / "histograms.tarn"))
    g.set("in.file", str(runs["gz"]))
    g.set("hist.prefix", str(tmp_path / "run"))
    g.set("h5.file", str(tmp_path / "run.h5"))
    result = g.run()
    assert result.status == 0
    assert sorted(result.spectra) == ["hist.ADCChannel", "hist.ADCValue", "hist.TDCChannel", "hist.TDCValue"]
    for name, spectrum in result.spectra.items():
        counts, edges, under, over = csv_spectrum(tmp_path / f"run_{name.split('.')[1]}.csv")
        np.testing.assert_array_equal(spectrum.counts, counts)
        np.testing.assert_array_equal(spectrum.edges, edges)
        assert (spectrum.underflow, spectrum.overflow) == (under, over)
        assert spectrum.entries == counts.sum() + under + over > 0
    assert result.spectrum("ADCValue") is result.spectra["hist.ADCValue"]
    with pytest.raises(ValueError, match="has run already"):
        g.run()


def test_a_graph_built_in_python_prints_and_reports_a_missing_run(runs, tmp_path):
    g = tarn.Graph()
    g.node("in", "RunFile", file=str(runs["plain"]))
    g.node("dump", "EventDumper", option="a")
    g.connect("in.event", "dump.event")
    g.start("in")
    result = g.run()
    assert result.status == 0
    assert result.output.count("Event start:") == 200
    missing = tarn.Graph()
    missing.node("in", "RunFile", file=str(tmp_path / "none.mid"))
    missing.start("in")
    assert missing.run().status == 1


def test_unknown_plugin_port_or_setting_is_a_value_error_naming_it(runs):
    g = tarn.Graph()
    with pytest.raises(ValueError, match="NoSuchPlugin"):
        g.node("x", "NoSuchPlugin")
    g.node("in", "RunFile")
    with pytest.raises(ValueError, match="nosuch"):
        g.set("in.nosuch", 1)
    with pytest.raises(ValueError, match="follow"):
        g.set("in.follow", "perhaps")
    with pytest.raises(ValueError, match="nowhere"):
        g.connect("in.event", "nowhere.event")
    with pytest.raises(ValueError, match="ghost"):
        g.start("ghost")


def test_ctrl_c_stops_the_graph_and_raises_keyboard_interrupt(tmp_path):
    # A run without its end: followed, it waits for more for ever, so only Ctrl-C ends this graph.
    path = synth(tmp_path / "open.mid", "--modules", events=2000)
    with tarn.open(str(path)) as run:
        last = list(run)[-1]
    size = path.stat().st_size - 16 - last.data_size
    os.truncate(path, size)
    g = tarn.Graph()
    g.node("in", "RunFile", file=str(path), follow=True)
    g.node("unpack", "CompositeUnpacker")
    g.node("hist", "Histogrammer", properties="ADCValue", prefix=str(tmp_path / "h"))
    g.connect("in.event", "unpack.event")
    g.connect("unpack.fevent", "hist.fevent")
    g.start("in")
    timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        g.run()
    timer.join()
    # The nodes were destroyed and wrote what they had, as tarn run does on Ctrl-C.
    assert (tmp_path / "h_ADCValue.csv").exists()


def test_collected_strand_events_are_what_the_hdf5_export_writes(runs, tmp_path):
    h5py = pytest.importorskip("h5py")
    g = tarn.Graph(str(SOURCE / "examples" / "histograms.tarn"))
    g.set("in.file", str(runs["gz"]))
    g.set("hist.prefix", str(tmp_path / "run"))
    g.set("h5.file", str(tmp_path / "run.h5"))
    g.collect("unpack.fevent")
    with pytest.raises(ValueError, match="collected already"):
        g.collect("unpack.fevent")
    with pytest.raises(ValueError, match="not strand events"):
        g.collect("in.event")
    columns = g.run().columns["unpack.fevent"]
    with h5py.File(tmp_path / "run.h5") as f:
        # The file also holds the MIDAS event headers of its own "midas" input.
        assert sorted(columns) == sorted(k for k in f if not k.startswith("midas_"))
        for name, col in columns.items():
            for part in ("values", "offsets", "inner_offsets", "event"):
                mine = getattr(col, part)
                assert (mine is None) == (part not in f[name]), (name, part)
                if mine is not None:
                    np.testing.assert_array_equal(mine, f[name][part][:], err_msg=f"{name}/{part}")


def test_collected_dword_lists_are_the_unsigned_words_of_the_bank(runs):
    # BankTranslator keeps a DWORD bank in a signed list; the words of a V1190
    # trailer (0x8...) must still come out as the unsigned numbers they are.
    g = tarn.Graph()
    g.node("in", "RunFile", file=str(runs["gz"]))
    g.node("bt", "BankTranslator", banks="TDC0", TDC0="TDC0")
    g.connect("in.event", "bt.mevent")
    g.start("in")
    g.collect("bt.fevent")
    mine = g.run().columns["bt.fevent"]["TDC0"]
    words = tarn.read_banks(str(runs["gz"]), ["TDC0"])["TDC0"]
    assert mine.values.dtype == np.uint32 and mine.values.max() >= 0x80000000
    np.testing.assert_array_equal(mine.values, words.values)
