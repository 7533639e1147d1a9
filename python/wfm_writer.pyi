"""WfmWriter module."""

import os
from types import TracebackType
from collections.abc import Sequence
from typing import Any, Literal, SupportsFloat, SupportsIndex, final

import numpy.typing as npt

_Path = str | bytes | os.PathLike[str] | os.PathLike[bytes]
_Number = SupportsIndex | SupportsFloat

@final
class Writer:
    def __init__(
        self,
        path: _Path,
        fs: float,
        file_type: Literal["raw", "csv", "blue", "sigmf"] = "raw",
        sample_type: Literal["cf32", "cf64", "ci32", "ci16", "ci8"] = "cf32",
        endian: Literal["le", "be"] = "le",
        fc: float = 0.0,
        total: int = 0,
        headroom: float = 0.0,
        t0: float = 0.0,
        sidecar: object = True,
    ) -> None: ...
    def write(self, x: npt.ArrayLike) -> int: ...
    def flush(self) -> None: ...
    def track_clipping(self, on: int = 1) -> None: ...
    def add_keyword(
        self,
        tag: str,
        type: Literal["A", "B", "I", "L", "T", "X", "F", "D"],
        value: str | _Number | Sequence[_Number] | npt.NDArray[Any],
    ) -> None: ...
    def close(self) -> None: ...
    def destroy(self) -> None: ...
    def __enter__(self) -> "Writer": ...
    def __exit__(
        self,
        exc_type: type[BaseException] | None = None,
        exc: BaseException | None = None,
        tb: TracebackType | None = None,
        /,
    ) -> None: ...
    @property
    def clip_fraction(self) -> float: ...
    @property
    def peak_dbfs(self) -> float: ...
    @property
    def clipped(self) -> bool: ...

def write_blue_header(
    path: _Path,
    fs: float,
    sample_type: Literal["cf32", "cf64", "ci32", "ci16", "ci8"] = "cf32",
    endian: Literal["le", "be"] = "le",
    fc: float = 0.0,
    data_start: float = 0.0,
    total: int = 0,
    detached: int = 1,
    t0: float = 0.0,
) -> None: ...
