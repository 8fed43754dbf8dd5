"""tarn.open and tarn.read_banks against what the plug-ins make of the same runs."""
import gc
import re
import signal
import threading
import warnings

import numpy as np
import pytest

import tarn
from conftest import SOURCE, synth, tarn_run


def dumped_events(path):
    """EventDumper's text of a run as [(header fields, {bank: (type, values text)})]."""
    text = tarn_run(str(SOURCE / "examples" / "runfile-dump.tarn"), "--set", f"in.file={path}").stdout
    events = []
    for block in text.split("Event start:")[1:]:
        head = {k: v for k, v in re.findall(r"^  (event id|trigger mask|serial number|time stamp|data size):\s+([^\s,]+)",
                                             block, re.M)}
        banks = {}
        for name, btype, body in re.findall(r"^Bank (\w{4}), length +\d+, type +(\d+)\n((?:(?!Bank ).*\n)*)",
                                            block, re.M):
            # The run's closing messages follow the last bank's values.
            banks[name] = (int(btype), [w for w in body.split() if re.fullmatch(r"[-+0-9a-fx.e]+", w)])
        events.append((head, banks))
    return events


def same_values(btype, array, words):
    if btype in (4, 6):
        return [int(w, 16) for w in words] == array.tolist()
    if btype == 9:  # EventDumper prints eight significant digits of a float
        return [f"{float(v):.8g}" for v in array] == words
    if btype == 10:
        return np.array_equal(np.array(words, dtype=np.float64), array)
    return True  # EventDumper does not print the other types


@pytest.mark.parametrize("form", ["plain", "bank32", "swapped", "json", "gz", "lz4", "bz2", "zst"])
def test_every_form_reads_as_event_dumper_prints_it(runs, form):
    dumped = dumped_events(runs[form])
    with tarn.open(str(runs[form])) as run:
        every = list(run)
    events = [e for e in every if e.id < 0x8000]  # EventDumper prints no begin- and end-of-run events
    assert len(events) == len(dumped) > 100
    for event, (head, banks) in zip(events, dumped):
        assert int(head["event id"], 16) == event.id
        assert int(head["trigger mask"], 16) == event.trigger_mask
        assert int(head["serial number"]) == event.serial
        assert int(head["time stamp"]) == event.time
        assert int(head["data size"]) == event.data_size
        assert sorted(banks) == sorted(event.banks)
        for name, (btype, words) in banks.items():
            assert same_values(btype, event.banks[name], words), (form, event.index, name)
    assert every[0].odb["/Runinfo/Run number"] == 1
    assert every[-1].odb is not None and every[1].odb is None


def test_read_banks_matches_the_hdf5_export_and_the_events(runs, tmp_path):
    h5py = pytest.importorskip("h5py")
    path = runs["gz"]
    graph = tmp_path / "export.tarn"
    graph.write_text(f"""node in RunFile
node bt BankTranslator
node h5 Hdf5Writer
set in.file {path}
set bt.banks TDC0 SIS1
set bt.TDC0 TDC0
set bt.SIS1 SIS1
set h5.file {tmp_path / 'export.h5'}
connect in.event bt.mevent
connect bt.fevent h5.fevent
start in
""")
    tarn_run(str(graph))
    columns = tarn.read_banks(str(path), ["TDC0", "SIS1"], ids=[1, 2, 3])
    with h5py.File(tmp_path / "export.h5") as f:
        for name in ("TDC0", "SIS1"):
            col = columns[name]
            assert len(col) > 100
            np.testing.assert_array_equal(f[f"{name}/values"][:], col.values.astype(f[f"{name}/values"].dtype))
            np.testing.assert_array_equal(f[f"{name}/offsets"][:], col.offsets)
    # The same values event by event, and each entry names its event.
    with tarn.open(str(path), ids=[1, 2, 3]) as run:
        for event in run:
            k = np.searchsorted(columns["TDC0"].event, event.index)
            np.testing.assert_array_equal(columns["TDC0"][k], event.banks["TDC0"])
            assert columns["TDC0"].event[k] == event.index


def test_filters_keep_only_the_ids_and_trigger_bits_asked_for(runs):
    with tarn.open(str(runs["plain"])) as run:
        every = [(e.id, e.trigger_mask) for e in run]
    with tarn.open(str(runs["plain"]), ids=[2], trigger_mask=0) as run:
        assert [(e.id, e.trigger_mask) for e in run] == [x for x in every if x[0] == 2]
    with tarn.open(str(runs["plain"]), trigger_mask=0x2) as run:
        assert [(e.id, e.trigger_mask) for e in run] == [x for x in every if x[1] & 2]


def test_events_and_banks_outlive_the_iteration_and_the_run(runs):
    with tarn.open(str(runs["gz"]), ids=[1]) as run:
        kept = [(e, e.banks["TDC0"]) for e in run]
        odb = run.odb
    copies = [a.copy() for _, a in kept]
    del run
    gc.collect()
    # Memory that held later events is reused; the kept ones must not see it.
    with tarn.open(str(runs["plain"])) as other:
        for _ in other:
            pass
    for (event, array), copy in zip(kept, copies):
        np.testing.assert_array_equal(array, copy)
        np.testing.assert_array_equal(event.banks["TDC0"], copy)
    assert not kept[0][1].flags.writeable
    assert odb["/Runinfo/Run number"] == 1


@pytest.mark.parametrize("form", ["plain", "json"])
def test_run_odb_looks_up_paths_in_both_dump_forms(runs, form):
    odb = tarn.open(str(runs[form])).odb
    assert odb.form == ("JSON" if form == "json" else "XML")
    assert odb["/runinfo/run number"] == 1  # a unique case-blind match, as the ODB plug-ins allow
    assert isinstance(odb["/Runinfo"], dict)
    with pytest.raises(KeyError, match="/No/Such"):
        odb["/No/Such"]


@pytest.mark.parametrize("damage", ["truncated-data", "truncated-header", "oversize", "garbage-bank-header"])
def test_a_damaged_run_gives_the_events_before_and_then_names_file_and_place(tmp_path, damage):
    path = synth(tmp_path / "damaged.mid", "--modules", "--damage", damage, "--damage-at", "50", events=100)
    got = []
    run = tarn.open(str(path))
    if damage == "garbage-bank-header":
        # The event is whole: only its banks are damaged, and reading them must not crash.
        for event in run:
            for array in event.banks.values():
                array.tobytes()
        return
    with pytest.raises(tarn.ReadError) as error:
        for event in run:
            got.append(event)
    assert len(got) == 50
    assert error.value.file == str(path) and error.value.position > 0
    assert str(path) in str(error.value)
    with pytest.warns(tarn.ReadWarning):
        assert len(list(tarn.open(str(path), errors="warn"))) == 50
    with pytest.raises(tarn.ReadError):
        tarn.read_banks(str(path), ["TDC0"])
    with pytest.warns(tarn.ReadWarning):
        assert len(tarn.read_banks(str(path), ["TDC0"], errors="warn")["TDC0"]) == 49


def test_missing_run_and_wrong_arguments(runs, tmp_path):
    with pytest.raises(FileNotFoundError):
        tarn.open(str(tmp_path / "none.mid"))
    with pytest.raises(ValueError):
        tarn.read_banks(str(tmp_path / "none.mid"), ["TOOLONG"])
    with pytest.raises(ValueError):
        tarn.open(str(runs["plain"]), errors="ignore")


def test_read_banks_keeps_every_word_as_its_column_grows_large(tmp_path):
    path = synth(tmp_path / "large.mid", "--fill", "20000", events=300)
    column = tarn.read_banks(str(path), ["FILL"])["FILL"]
    banks = [e.banks["FILL"] for e in tarn.open(str(path)) if "FILL" in e.banks]
    assert column.values.nbytes > 4 << 20  # grown from its first block to past two huge pages
    np.testing.assert_array_equal(column.values, np.concatenate(banks))
    np.testing.assert_array_equal(np.diff(column.offsets), [len(b) for b in banks])


def test_progress_is_shown_on_the_way_and_at_the_end_only_when_asked(tmp_path, capfd):
    path = synth(tmp_path / "long.mid", events=70000)
    tarn.read_banks(str(path), ["TDC0"])
    assert capfd.readouterr().err == ""
    tarn.read_banks(str(path), ["TDC0"], progress=True)
    err = capfd.readouterr().err
    assert f"\rtarn: {path}: 65536 events, " in err  # an update while the read goes on
    assert err.endswith(f"\rtarn: {path}: 70002 events, 100%\n")


def test_ctrl_c_stops_read_banks(tmp_path):
    path = synth(tmp_path / "long.mid", "--fill", "2000", events=20000)
    timer = threading.Timer(0.3, signal.raise_signal, (signal.SIGINT,))
    timer.start()
    # Read again and again: the interrupt lands while one of the reads runs.
    with pytest.raises(KeyboardInterrupt):
        while True:
            tarn.read_banks(str(path), ["FILL"])
    timer.join()


@pytest.mark.parametrize("damage", ["zero-size", "truncated-bank-area", "truncated-bank-header",
                                    "truncated-bank-data", "bank-past-event", "bank-area-past-event", "bit-flips"])
@pytest.mark.parametrize("wide", [False, True])
def test_no_damage_crashes_or_hands_out_bytes_past_an_event(tmp_path, damage, wide):
    path = synth(tmp_path / "damaged.mid", "--modules", *(["--bank32"] if wide else []), "--damage", damage,
                 "--damage-at", "20", events=40)
    try:
        for event in tarn.open(str(path)):
            for array in event.banks.values():
                assert array.nbytes <= event.data_size
                array.tobytes()
        tarn.read_banks(str(path), ["TDC0", "ADC0", "WRDS", "DBLS"])
    except tarn.ReadError as error:
        assert error.file == str(path)
