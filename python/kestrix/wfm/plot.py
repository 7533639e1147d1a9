"""Power spectral density and spectrogram of a capture, drawn headless."""

from __future__ import annotations

import os
import secrets

import numpy as np

from .reader import Capture

MAX_FRAMES = 512  # spectrogram columns; frames are spread over long captures


def spectra(cap: Capture, nfft: int = 1024, max_frames: int = MAX_FRAMES) -> tuple[np.ndarray, np.ndarray]:
    """Frame starts and their periodograms (|FFT|^2 of Hann-windowed frames,
    shifted so that frequency increases from -fs/2), shape (frames, nfft)."""
    n = cap.sample_count
    if n < 2:
        raise ValueError(f"{cap.path}: {n} samples are too few to plot")
    nfft = min(nfft, 1 << (n.bit_length() - 1))
    count = n // nfft
    starts = np.arange(count) * nfft
    if count > max_frames:
        starts = np.linspace(0, n - nfft, max_frames).astype(np.int64)
    win = np.hanning(nfft).astype(np.float32)
    out = np.empty((len(starts), nfft), np.float64)
    for i, s in enumerate(starts):
        x = cap.read(int(s), nfft)
        x = np.where(np.isfinite(x), x, 0)
        out[i] = np.abs(np.fft.fftshift(np.fft.fft(x * win))) ** 2
    # scale to power per hertz (per cycle/sample when no rate is stated)
    out /= float(np.sum(win.astype(np.float64) ** 2)) * (cap.fs or 1.0)
    return starts, out


def plot_capture(cap: Capture, path: str, nfft: int = 1024) -> None:
    """Write a PNG: PSD above, spectrogram below. Axes in Hz (absolute when
    the centre frequency is known) and seconds (samples when no rate)."""
    try:
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        from matplotlib.figure import Figure
    except ImportError:
        raise RuntimeError("plot needs matplotlib: pip install matplotlib") from None

    starts, power = spectra(cap, nfft)
    nfft = power.shape[1]
    fs = cap.fs
    freqs = np.fft.fftshift(np.fft.fftfreq(nfft, d=1.0 / fs if fs else 1.0))
    if fs and cap.fc:
        freqs = freqs + cap.fc
    fscale, funit = 1.0, "cycles/sample"
    if fs:
        top = float(np.max(np.abs(freqs)))
        fscale, funit = next(((s, u) for s, u in ((1e9, "GHz"), (1e6, "MHz"), (1e3, "kHz")) if top >= s), (1.0, "Hz"))
    f_axis = freqs / fscale
    tunit = "s" if fs else "samples"

    floor = 1e-20
    psd_db = 10 * np.log10(np.maximum(power.mean(axis=0), floor))
    power_db = 10 * np.log10(np.maximum(power, floor))
    finite = power_db[power_db > 10 * np.log10(floor)]
    vmax = float(np.max(finite)) if finite.size else 0.0
    vmin = max(float(np.percentile(finite, 5)) if finite.size else vmax - 100, vmax - 120)

    fig = Figure(figsize=(10, 8), layout="constrained")
    FigureCanvasAgg(fig)
    ax1, ax2 = fig.subplots(2, 1, height_ratios=(1, 2))
    ax1.plot(f_axis, psd_db, linewidth=0.8)
    ax1.set_xlim(f_axis[0], f_axis[-1])
    ax1.set_xlabel(f"frequency ({funit})" + (" absolute" if fs and cap.fc else ""))
    ax1.set_ylabel("PSD (dBFS/Hz)" if fs else "PSD (dBFS per cycle/sample)")
    ax1.grid(True, alpha=0.3)
    title = f"{os.path.basename(cap.meta_path or cap.header_path or cap.path)}: {cap.container}"
    title += f" {cap.sample_type}, {cap.sample_count} samples"
    if fs:
        title += f" at {fs:g} Hz"
    if cap.datetime:
        title += f", start {cap.datetime}"
    ax1.set_title(title)
    t_end = cap.sample_count / fs if fs else float(cap.sample_count)
    half = (f_axis[1] - f_axis[0]) / 2 if nfft > 1 else 0.5
    im = ax2.imshow(
        power_db,
        aspect="auto",
        origin="lower",
        interpolation="nearest",
        extent=(f_axis[0] - half, f_axis[-1] + half, 0.0, t_end),
        vmin=vmin,
        vmax=vmax,
        cmap="viridis",
    )
    ax2.set_xlabel(f"frequency ({funit})")
    ax2.set_ylabel(f"time ({tunit})")
    fig.colorbar(im, ax=ax2, label="dBFS/Hz" if fs else "dBFS")

    # render to a temporary name beside the target, then rename
    d = os.path.dirname(path) or "."
    tmp = os.path.join(d, f".{os.path.basename(path)}.{secrets.token_hex(4)}.part")
    try:
        fig.savefig(tmp, format="png", dpi=100)
        os.replace(tmp, path)
    except BaseException:
        if os.path.exists(tmp):
            os.unlink(tmp)
        raise
