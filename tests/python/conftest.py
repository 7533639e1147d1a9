import struct
from pathlib import Path

import numpy as np
import pytest

from kestrix.wfm import Writer

HEADER = Path(__file__).resolve().parents[2] / "core" / "wfm_writer.h"


@pytest.fixture
def cap(tmp_path: Path) -> Path:
    """Path of a capture in a fresh directory."""
    return tmp_path / "cap.raw"


def samples(*values: complex) -> np.ndarray:
    return np.array(values, dtype=np.complex64)


def write_raw(path: Path, x: object, **kwargs: object) -> tuple[int, bytes]:
    """Writes x to a headerless cf32 capture; returns the count and the file."""
    with Writer(path, 1e6, sidecar=False, **kwargs) as w:
        n = w.write(x)
    return n, path.read_bytes()


def extended_header(data: bytes) -> bytes:
    """The extended header of a little-endian BLUE file."""
    ext_start, ext_size = struct.unpack_from("<ii", data, 24)
    return data[ext_start * 512 : ext_start * 512 + ext_size]
