"""Memory stays flat over thousands of create/write/tag/release cycles that
also take every error path of the module."""

import ctypes
import ctypes.util
import gc
import os
import sys
from pathlib import Path

import numpy as np
import pytest

from kestrix.wfm import Writer, write_blue_header

pytestmark = pytest.mark.skipif(
    bool(os.environ.get("WFM_SANITIZED")) or not sys.platform.startswith("linux"),
    reason="measures the process's own allocator and resident set (Linux, no sanitizer runtime)",
)

X = np.linspace(-1.5, 1.5, 512).astype(np.complex64)


def expect(exc, call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except exc:
        return
    raise AssertionError(f"{call} did not raise {exc}")


def cycle(d: Path, i: int) -> None:
    """One round of every success and failure path."""
    with Writer(d / "cap.blue", 1e6, file_type="blue", sample_type="ci16", fc=1e9, t0=1.5) as w:
        w.track_clipping()
        w.write(X)
        w.add_keyword("COMMENT", "A", "leak check " * 8)
        w.add_keyword("VER", "A", "1")
        w.add_keyword("GAIN", "D", [1.0, 2.0, 3.0])
        w.add_keyword("TC_PREC", "I", (1, 2))
        w.flush()
        expect(ValueError, w.add_keyword, "X", "Q", 1)
        expect(ValueError, w.add_keyword, "", "A", "x")
        expect(ValueError, w.add_keyword, "X", "I", [])
        expect(TypeError, w.add_keyword, "X", "I", [1, "a"])
        expect(TypeError, w.add_keyword, "X", "A", b"x")
        expect(OverflowError, w.add_keyword, "X", "X", 2**64)
        expect(TypeError, w.write, np.zeros(4))
        expect(ValueError, w.write, ["x"])
        _ = (w.peak_dbfs, w.clip_fraction, w.clipped)
    expect(RuntimeError, w.write, X)
    expect(RuntimeError, w.add_keyword, "X", "A", "x")
    expect(RuntimeError, w.flush)
    w.close()

    with Writer(d / "cap.sigmf-data", 1e6, file_type="sigmf", fc=2e9, t0=1.7e9) as w:
        w.write(X[:16])
        expect(ValueError, w.add_keyword, "COMMENT", "A", "x")
    w = Writer(str(d / "cap.csv"), 0.0, file_type="csv", sample_type="ci8")
    w.write(X[:8])
    del w  # released by deallocation

    # A close that fails: the metadata file's name is taken by a directory.
    w = Writer(d / "busy.raw", 1e6)
    w.write(X)
    expect(OSError, w.close)

    expect(ValueError, Writer, d / "x", 1e6, file_type="RAW")
    expect(ValueError, Writer, d / "x", 1e6, sample_type="ci4")
    expect(ValueError, Writer, d / "x", 1e6, endian="middle")
    expect(OSError, Writer, d / "x.raw", 1e6, file_type="sigmf")
    expect(OSError, Writer, d / "missing" / "x.raw", 1e6)
    expect(TypeError, Writer, d / "x", "fast")
    expect(ValueError, Writer, "a\0b", 1e6)

    write_blue_header(d / "det.hdr", 1e6, total=i)
    expect(ValueError, write_blue_header, d / "det.hdr", 1e6, sample_type="x")
    expect(ValueError, write_blue_header, d / "det.hdr", 1e6, endian="x")
    expect(RuntimeError, write_blue_header, d / "missing" / "det.hdr", 1e6)


class MallInfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in (
            "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks",
            "fsmblks", "uordblks", "fordblks", "keepcost",
        )
    ]


def heap_in_use() -> int | None:
    """Bytes the C allocator has handed out and not had back (glibc)."""
    libc = ctypes.CDLL(ctypes.util.find_library("c"))
    if not hasattr(libc, "mallinfo2"):
        return None
    libc.mallinfo2.restype = MallInfo2
    m = libc.mallinfo2()
    return m.uordblks + m.hblkhd


def resident() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_memory_stays_flat_over_many_cycles(tmp_path):
    (tmp_path / "busy.raw.sigmf-meta").mkdir()
    rounds, per_round = 5, 1200
    samples = []
    for r in range(rounds):
        for i in range(per_round):
            cycle(tmp_path, i)
        gc.collect()
        samples.append((resident(), heap_in_use(), sys.getallocatedblocks()))
    # The first round warms caches and allocator pools; compare the rest.
    rss = [s[0] for s in samples[1:]]
    heap = [s[1] for s in samples[1:]]
    blocks = [s[2] for s in samples[1:]]
    cycles = (rounds - 1) * per_round
    # 4 800 cycles: even 64 bytes lost per cycle would be 300 KiB.
    assert rss[-1] - rss[0] < 1024 * 1024, f"resident set grew: {rss}"
    if heap[0] is not None:
        assert heap[-1] - heap[0] < 16 * cycles, f"C heap grew: {heap}"
    assert blocks[-1] - blocks[0] < cycles // 10, f"Python objects accumulate: {blocks}"
