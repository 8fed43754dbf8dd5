"""MIDAS run files, ODB dumps and tarn graphs, straight into numpy.

    import tarn
    with tarn.open("run00002.mid.gz", ids=[1]) as run:
        print(run.odb["/Runinfo/Run number"])
        for event in run:
            tdc = event.banks["TDC0"]          # numpy, the bank's type

    cols = tarn.read_banks("run00002.mid.gz", ["TDC0"])   # whole run, in C++
    result = tarn.Graph("examples/histograms.tarn").run()  # plug-ins, in process

See help(tarn.open), help(tarn.read_banks), help(tarn.Graph).
"""

from ._tarn import (Event, Graph, Odb, ReadError, ReadWarning, Run, __version__, open,
                    read_banks)

__all__ = ["open", "read_banks", "Graph", "Run", "Event", "Odb", "Column", "Spectrum", "Result",
           "ReadError", "ReadWarning", "__version__"]


class Column:
    """One bank or property of a whole run as a jagged column.

    The layout of the HDF5 export's groups: values, every element flat;
    offsets (int64, one more than the entries; None for a property of one
    value per event): entry k is values[offsets[k]:offsets[k+1]];
    inner_offsets (lists of lists and of strings, else None) cut values
    once more, offsets then cut inner_offsets; event (int64): the index of
    the event each entry came from.
    """

    __slots__ = ("values", "offsets", "event", "inner_offsets")

    def __init__(self, values, offsets, event, inner_offsets=None):
        self.values = values
        self.offsets = offsets
        self.event = event
        self.inner_offsets = inner_offsets

    def __len__(self):
        """The number of entries (events that hold the bank or property)."""
        return len(self.event)

    def __getitem__(self, k):
        """Entry k: its value, its values (a view), or a list of its inner lists."""
        if k < 0:
            k += len(self)
        if not 0 <= k < len(self):
            raise IndexError("entry out of range")
        if self.offsets is None:
            return self.values[k]
        if self.inner_offsets is None:
            return self.values[self.offsets[k]:self.offsets[k + 1]]
        cuts = self.inner_offsets[self.offsets[k]:self.offsets[k + 1] + 1]
        return [self.values[a:b] for a, b in zip(cuts[:-1], cuts[1:])]

    def __repr__(self):
        return f"<tarn.Column {len(self)} entries, {len(self.values)} {self.values.dtype} values>"


class Spectrum:
    """One Histogrammer spectrum as the run left it.

    counts (uint64, one per bin), edges (float64, one more: bin i is
    [edges[i], edges[i+1])), underflow, overflow, nan, entries (counting
    under- and overflow, not NaN), and mean and rms of the values inside
    the range; node, property and unit name it.
    """

    __slots__ = ("node", "property", "unit", "counts", "edges", "underflow", "overflow", "nan",
                 "entries", "mean", "rms")

    def __init__(self, node, property, unit, counts, edges, underflow, overflow, nan, entries,
                 mean, rms):
        self.node, self.property, self.unit = node, property, unit
        self.counts, self.edges = counts, edges
        self.underflow, self.overflow, self.nan, self.entries = underflow, overflow, nan, entries
        self.mean, self.rms = mean, rms

    def __repr__(self):
        return (f"<tarn.Spectrum {self.node}.{self.property}: {len(self.counts)} bins, "
                f"{self.entries} entries>")


class Result:
    """What Graph.run() gives back.

    status: 0 done, 1 a result not written or no run file to read;
    output: what the plug-ins printed; spectra: a dict of "node.property"
    to Spectrum for every Histogrammer; columns: for each output given to
    Graph.collect, a dict of property name to Column.
    """

    __slots__ = ("status", "output", "spectra", "columns")

    def __init__(self, status, output, spectra, columns=None):
        self.status, self.output, self.spectra = status, output, spectra
        self.columns = columns or {}

    def spectrum(self, name):
        """The spectrum "node.property", or of a property that only one node histograms."""
        if name in self.spectra:
            return self.spectra[name]
        found = [s for s in self.spectra.values() if s.property == name]
        if len(found) != 1:
            raise KeyError(name if not found else f"{name}: histogrammed by more than one node")
        return found[0]

    def __repr__(self):
        return f"<tarn.Result status={self.status}, {len(self.spectra)} spectra>"
