"""Writes one synthetic capture in every container and reports each file.

The capture is a QPSK burst beside a steady tone: 1 Msps, the tone at
+200 kHz, the burst at -150 kHz with 8 samples per symbol, filling the middle
half of 64k samples, over a little noise.

Usage: python demo_capture.py [OUTPUT_DIR]
"""

import sys
from pathlib import Path

import numpy as np

from kestrix.wfm import Writer

FS = 1e6
FC = 915e6
T0 = 1700000000.0
N = 1 << 16
SPS = 8
BLOCK = 4096


def synthesise(seed: int = 7) -> np.ndarray:
    rng = np.random.default_rng(seed)
    n = np.arange(N)
    tone = 0.3 * np.exp(2j * np.pi * 200e3 / FS * n)
    symbols = (rng.choice([-1.0, 1.0], N // SPS) + 1j * rng.choice([-1.0, 1.0], N // SPS))
    burst = np.repeat(symbols / np.sqrt(2), SPS) * np.exp(-2j * np.pi * 150e3 / FS * n)
    burst[: N // 4] = 0
    burst[3 * N // 4 :] = 0
    noise = 0.01 * (rng.standard_normal(N) + 1j * rng.standard_normal(N))
    return (tone + 0.5 * burst + noise).astype(np.complex64)


def write(path: Path, x: np.ndarray, **kwargs: object) -> tuple[float, bool]:
    with Writer(path, FS, fc=FC, t0=T0, **kwargs) as w:
        if kwargs.get("file_type") == "blue":
            w.add_keyword("COMMENT", "A", "QPSK burst beside a +200 kHz tone")
        for start in range(0, x.size, BLOCK):
            w.write(x[start : start + BLOCK])
        return w.peak_dbfs, w.clipped


def main() -> None:
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "demo-out")
    out.mkdir(parents=True, exist_ok=True)
    x = synthesise()
    captures = [
        ("demo.raw", {"file_type": "raw", "sample_type": "ci16"}, ["demo.raw.sigmf-meta"]),
        ("demo.csv", {"file_type": "csv", "sample_type": "cf32"}, ["demo.csv.sigmf-meta"]),
        ("demo.sigmf-data", {"file_type": "sigmf", "sample_type": "ci16"}, ["demo.sigmf-meta"]),
        ("demo.blue", {"file_type": "blue", "sample_type": "cf32"}, []),
    ]
    print(f"{'file':<22} {'bytes':>9} {'peak_dbfs':>10}  clipped")
    for name, kwargs, companions in captures:
        peak, clipped = write(out / name, x, **kwargs)
        print(f"{name:<22} {(out / name).stat().st_size:>9} {peak:>10.3f}  {clipped}")
        for extra in companions:
            print(f"{extra:<22} {(out / extra).stat().st_size:>9} {'-':>10}  -")
    print(f"written to {out}/")


if __name__ == "__main__":
    main()
