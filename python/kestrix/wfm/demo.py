"""The demo: a synthetic multi-signal capture written in every container,
read back and checked against an independent model of the quantiser."""

from __future__ import annotations

import math
import os
import sys
from typing import Any, TextIO

import numpy as np

from ._types import WIRE_TYPES
from .reader import Capture, read

FS = 1e6
FC = 915e6
T0 = 1700000000.25
N = 1 << 16
HEADROOM = 3.0
COMMENT = "wfm demo: tone, QPSK burst, chirp"


def synthesize(n: int = N, fs: float = FS, seed: int = 7) -> np.ndarray:
    """A tone throughout, a QPSK burst, a chirp in the second half, light noise."""
    rng = np.random.default_rng(seed)
    t = np.arange(n) / fs
    x = 0.3 * np.exp(2j * np.pi * 50e3 * t)
    # QPSK at 125 kbaud (8 samples per symbol), 200 kHz below the centre
    sps, a, b = 8, n // 8, n * 5 // 8
    symbols = np.exp(1j * (np.pi / 4 + np.pi / 2 * rng.integers(0, 4, (b - a) // sps + 1)))
    burst = np.repeat(symbols, sps)[: b - a]
    x[a:b] += 0.4 * burst * np.exp(-2j * np.pi * 200e3 * t[a:b])
    # linear chirp from -400 kHz to +400 kHz
    c = n // 2
    tc = t[c:] - t[c]
    span = tc[-1] if len(tc) > 1 else 1.0
    k = 800e3 / span
    x[c:] += 0.4 * np.exp(2j * np.pi * (-400e3 * tc + 0.5 * k * tc**2))
    x += 0.01 * (rng.standard_normal(n) + 1j * rng.standard_normal(n))
    return np.asarray(x, dtype=np.complex64)


def expected(x: np.ndarray, sample_type: str, headroom: float) -> np.ndarray:
    """What the writer stores, as (n, 2) components: gain in float32, then
    clamp, scale and truncate toward zero for the integer types."""
    gain = np.float32(10.0 ** (headroom * -0.05)) if headroom else np.float32(1.0)
    y = x.view(np.float32).reshape(-1, 2) * gain
    wire = WIRE_TYPES[sample_type]
    if not wire.is_integer:
        return np.asarray(y, dtype=np.float64 if sample_type == "cf64" else np.float32)
    clamped = np.clip(y, np.float32(-1), np.float32(1)).astype(np.float64) * wire.full_scale
    return np.asarray(np.trunc(np.nan_to_num(clamped, nan=0.0)), dtype=f"i{wire.component_bytes}")


CASES = (
    # file name, container, wire type, byte order
    ("demo.raw", "raw", "ci16", "le"),
    ("demo.csv", "csv", "ci16", "le"),
    ("demo.blue", "blue", "ci16", "be"),
    ("demo.sigmf-data", "sigmf", "ci16", "le"),
    ("demo.det", "blue-detached", "cf32", "le"),
)


def _write(path: str, container: str, st: str, endian: str, x: np.ndarray) -> tuple[float, bool]:
    import wfm_writer as _ww

    wfm_writer: Any = _ww

    if container == "blue-detached":
        body = path
        with wfm_writer.Writer(body, FS, "raw", st, endian, headroom=HEADROOM, sidecar=False) as w:
            w.write(x)
            peak, clipped = w.peak_dbfs, w.clipped
        hdr = path[: -len(".det")] + ".hdr"
        wfm_writer.write_blue_header(hdr, FS, st, endian, fc=FC, total=len(x), t0=T0)
        return peak, clipped
    with wfm_writer.Writer(path, FS, container, st, endian, fc=FC, total=len(x), headroom=HEADROOM, t0=T0) as w:
        if container == "blue":
            w.add_keyword("COMMENT", "A", COMMENT)
        w.write(x)
        peak, clipped = w.peak_dbfs, w.clipped
    return peak, clipped


def check(cap: Capture, x: np.ndarray, st: str, container: str) -> list[str]:
    """Mismatches between a capture read back and what was written."""
    bad = []
    if cap.sample_type != st:
        bad.append(f"wire type {cap.sample_type}")
    if cap.sample_count != len(x):
        bad.append(f"{cap.sample_count} samples")
        return bad
    if cap.fs is None or abs(cap.fs - FS) > 1e-6 * FS:
        bad.append(f"fs {cap.fs}")
    if cap.fc != FC:
        bad.append(f"fc {cap.fc}")
    if cap.t0 is None or abs(cap.t0 - T0) > 1e-6:
        bad.append(f"t0 {cap.t0}")
    want = expected(x, st, HEADROOM)
    got = np.asarray(cap.raw)
    if container == "csv" and not WIRE_TYPES[st].is_integer:
        ok = np.allclose(got, want, rtol=0, atol=1e-9)
    else:
        ok = np.array_equal(got.astype(want.dtype), want)
    if not ok:
        bad.append("stored values differ")
    if container == "blue" and not any(k.tag == "COMMENT" and k.value == COMMENT for k in cap.keywords):
        bad.append("COMMENT keyword missing")
    return bad


def run(directory: str = "demo-out", out: TextIO | None = None) -> int:
    stream = out or sys.stdout
    os.makedirs(directory, exist_ok=True)
    x = synthesize()
    headers = ("file", "container", "wire type", "samples", "duration", "peak dBFS", "clipped", "check")
    rows = []
    failures = 0
    for name, container, st, endian in CASES:
        path = os.path.join(directory, name)
        peak, clipped = _write(path, container, st, endian, x)
        cap = read(path)
        bad = check(cap, x, st, container)
        failures += bool(bad)
        order = "" if container == "csv" or st == "ci8" else f" {endian}"
        rows.append((
            name if container != "blue-detached" else f"{name[:-4]}.hdr + .det",
            cap.container + (" (detached)" if cap.detached else ""),
            f"{st}{order}",
            str(cap.sample_count),
            f"{cap.duration * 1e3:.3f} ms" if cap.duration else "-",
            f"{peak:.2f}" if math.isfinite(peak) else "-inf",
            "yes" if clipped else "no",
            "ok" if not bad else "FAIL: " + "; ".join(bad),
        ))
    widths = [max(len(h), *(len(r[i]) for r in rows)) for i, h in enumerate(headers)]
    print(
        f"wfm demo: {N} samples at {FS:g} Hz around {FC:g} Hz (tone, QPSK burst, chirp),"
        f" {HEADROOM:g} dB headroom, in {directory}",
        file=stream,
    )
    for r in (headers, tuple("-" * w for w in widths), *rows):
        print("  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip(), file=stream)
    print("files:", file=stream)
    for entry in sorted(os.scandir(directory), key=lambda e: e.name):
        if entry.is_file():
            print(f"  {entry.name:<24} {entry.stat().st_size:>9} bytes", file=stream)
    print("all captures read back correctly" if not failures else f"{failures} captures FAILED", file=stream)
    return 1 if failures else 0
