from datetime import datetime
from typing import Any, Dict, Iterable, Iterator, List, Optional, Union

import numpy as np
import numpy.typing as npt

__version__: str

class ReadError(OSError):
    file: str
    position: int

class ReadWarning(RuntimeWarning): ...

class Odb:
    form: str
    parsed: bool
    text: bytes
    def __getitem__(self, path: str) -> Any: ...
    def __contains__(self, path: str) -> bool: ...
    def get(self, path: str, default: Any = ...) -> Any: ...

class Event:
    id: int
    trigger_mask: int
    serial: int
    time: int
    datetime: datetime
    data_size: int
    index: int
    banks: Dict[str, npt.NDArray[Any]]
    odb: Optional[Odb]

class Run:
    path: str
    closed: bool
    odb: Optional[Odb]
    def __iter__(self) -> Iterator[Event]: ...
    def __next__(self) -> Event: ...
    def __enter__(self) -> "Run": ...
    def __exit__(self, *args: Any) -> bool: ...
    def close(self) -> None: ...

def open(path: str, ids: Optional[Iterable[int]] = ..., trigger_mask: int = ...,
         errors: str = ...) -> Run: ...

class Column:
    values: npt.NDArray[Any]
    offsets: Optional[npt.NDArray[np.int64]]
    event: npt.NDArray[np.int64]
    inner_offsets: Optional[npt.NDArray[np.int64]]
    def __init__(self, values: npt.NDArray[Any], offsets: Optional[npt.NDArray[np.int64]],
                 event: npt.NDArray[np.int64], inner_offsets: Optional[npt.NDArray[np.int64]] = ...) -> None: ...
    def __len__(self) -> int: ...
    def __getitem__(self, k: int) -> Any: ...

def read_banks(path: str, banks: List[str], ids: Optional[Iterable[int]] = ..., trigger_mask: int = ...,
               progress: bool = ..., errors: str = ...) -> Dict[str, Column]: ...

class Spectrum:
    node: str
    property: str
    unit: str
    counts: npt.NDArray[np.uint64]
    edges: npt.NDArray[np.float64]
    underflow: int
    overflow: int
    nan: int
    entries: int
    mean: float
    rms: float

class Result:
    status: int
    output: str
    spectra: Dict[str, Spectrum]
    columns: Dict[str, Dict[str, Column]]
    def spectrum(self, name: str) -> Spectrum: ...

class Graph:
    nodes: List[str]
    def __init__(self, file: Optional[str] = ...) -> None: ...
    def node(self, name: str, type: str, **settings: Any) -> None: ...
    def set(self, port: str, value: Union[str, int, float, bool, Iterable[Any]]) -> None: ...
    def connect(self, output: str, input: str) -> None: ...
    def start(self, node: str) -> None: ...
    def collect(self, output: str) -> None: ...
    def run(self) -> Result: ...
