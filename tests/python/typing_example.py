"""A typical caller, type-checked with mypy --strict."""

import numpy as np

import wfm_writer
from kestrix.wfm import Writer, write_blue_header


def capture(path: str) -> tuple[int, float, bool]:
    with Writer(path, 2.4e6, file_type="blue", sample_type="ci16", endian="be",
                fc=915e6, t0=1.7e9) as w:
        n = w.write(np.zeros(64, np.complex64))
        w.track_clipping()
        w.add_keyword("COMMENT", "A", "demo")
        w.add_keyword("GAIN", "D", [1.0, 2.0])
        w.flush()
        peak: float = w.peak_dbfs
        clipped: bool = w.clipped
    write_blue_header(path + ".hdr", 2.4e6, sample_type="ci8", total=n)
    other: wfm_writer.Writer = Writer(path, 1e6, sidecar=False)
    other.destroy()
    return n, peak, clipped
