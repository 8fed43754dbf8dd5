"""Runs made with midas-synth and the tarn runner of the build under test (TARN_BUILD)."""
import os
import pathlib
import subprocess

import pytest

BUILD = pathlib.Path(os.environ.get("TARN_BUILD", pathlib.Path(__file__).parents[2] / "build"))
SOURCE = pathlib.Path(__file__).parents[2]


def synth(path, *options, events=200):
    subprocess.run([str(BUILD / "bin" / "midas-synth"), "--events", str(events), *options, str(path)],
                   check=True, capture_output=True)
    return path


def tarn_run(*args, cwd=None):
    return subprocess.run([str(BUILD / "bin" / "tarn"), "run", *args], cwd=cwd, check=True,
                          capture_output=True, text=True)


@pytest.fixture(scope="session")
def runs(tmp_path_factory):
    """Every form of run file, all of the same events: compressions, 32-bit banks, swapped bytes, JSON ODB."""
    d = tmp_path_factory.mktemp("runs")
    forms = {
        "plain": synth(d / "plain.mid", "--modules"),
        "bank32": synth(d / "bank32.mid", "--modules", "--bank32"),
        "swapped": synth(d / "swapped.mid", "--modules", "--swapped"),
        "json": synth(d / "json.mid", "--modules", "--odb", "json"),
    }
    for ending in ("gz", "lz4", "bz2", "zst"):
        forms[ending] = synth(d / f"run.mid.{ending}", "--modules")
    return forms
