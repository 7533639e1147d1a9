"""Wire types, containers and the naming rules shared by the reader and the CLI."""

from __future__ import annotations

import os
from typing import NamedTuple

import numpy as np

CONTAINERS = ("raw", "csv", "blue", "sigmf")
ENDIANS = ("le", "be")

# BLUE timecodes count seconds from 1950-01-01; UNIX time from 1970-01-01.
J1950_OFFSET = 631152000.0

META_SUFFIX = ".sigmf-meta"
DATA_SUFFIX = ".sigmf-data"


class WireType(NamedTuple):
    name: str
    blue_format: str  # BLUE "format" field
    component_bytes: int
    full_scale: int  # 0 for the float types

    @property
    def is_integer(self) -> bool:
        return self.full_scale != 0

    @property
    def sample_bytes(self) -> int:
        return 2 * self.component_bytes

    def component_dtype(self, endian: str | None) -> np.dtype:
        kind = "i" if self.is_integer else "f"
        order = ">" if endian == "be" else "<"
        if self.component_bytes == 1:
            order = "|"
        return np.dtype(f"{order}{kind}{self.component_bytes}")


WIRE_TYPES: dict[str, WireType] = {
    "cf32": WireType("cf32", "CF", 4, 0),
    "cf64": WireType("cf64", "CD", 8, 0),
    "ci32": WireType("ci32", "CL", 4, 2147483647),
    "ci16": WireType("ci16", "CI", 2, 32767),
    "ci8": WireType("ci8", "CB", 1, 127),
}
BLUE_FORMATS = {w.blue_format: w for w in WIRE_TYPES.values()}


def sidecar_path(data_path: str | os.PathLike[str]) -> str:
    """Metadata file name for a data file: x.sigmf-data gives x.sigmf-meta,
    anything else gets ".sigmf-meta" appended (cap.raw gives cap.raw.sigmf-meta)."""
    p = os.fspath(data_path)
    if p.endswith(DATA_SUFFIX):
        return p[: -len(DATA_SUFFIX)] + META_SUFFIX
    return p + META_SUFFIX


def sigmf_datatype(sample_type: str, endian: str | None) -> str:
    """SigMF datatype string: one-byte types carry no byte order."""
    if WIRE_TYPES[sample_type].component_bytes == 1:
        return sample_type
    return f"{sample_type}_{endian or 'le'}"


def to_unit_scale(values: np.ndarray, wire: WireType, out: np.ndarray | None = None) -> np.ndarray:
    """Stored (n, 2) components -> unit-scale complex64.

    Integers are divided by the writer's full scale (2^(n-1) - 1), so the
    quantised value q reads back as float32(q / full_scale)."""
    n = values.shape[0]
    if out is None:
        out = np.empty(n, dtype=np.complex64)
    pairs = out.view(np.float32).reshape(n, 2)
    if wire.is_integer:
        if wire.component_bytes == 4:
            # float64 holds every int32 exactly; divide there, round once to float32
            np.divide(values, float(wire.full_scale), out=pairs, dtype=np.float64, casting="unsafe")
        else:
            np.copyto(pairs, values, casting="unsafe")
            # float32 division is correctly rounded and int16/int8 are exact in float32
            np.divide(pairs, np.float32(wire.full_scale), out=pairs)
    else:
        np.copyto(pairs, values, casting="unsafe")
    return out
