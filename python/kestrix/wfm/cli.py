"""The ``wfm`` command: info, convert, plot and demo."""

from __future__ import annotations

import argparse
import contextlib
import json
import math
import os
import secrets
import signal
import sys
import time
import warnings
from collections.abc import Iterator, Sequence
from typing import Any, NoReturn

import numpy as np

from ._sigmf import parse_datetime
from ._types import CONTAINERS, DATA_SUFFIX, ENDIANS, META_SUFFIX, WIRE_TYPES, sidecar_path
from .reader import DEFAULT_BLOCK, Capture, describe, read

PROG = "wfm"


class UsageError(Exception):
    """A bad command line: reported as one line, exit status 2."""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        raise UsageError(f"{message} (see '{self.prog} --help')")


# -- formatting ---------------------------------------------------------------


def _si(value: float, unit: str) -> str:
    a = abs(value)
    for scale, prefix in ((1e9, "G"), (1e6, "M"), (1e3, "k")):
        if a >= scale:
            return f"{value / scale:.9g} {prefix}{unit}"
    return f"{value:.9g} {unit}"


def _seconds(t: float) -> str:
    a = abs(t)
    if a >= 1 or a == 0:
        return f"{t:.6g} s"
    if a >= 1e-3:
        return f"{t * 1e3:.6g} ms"
    return f"{t * 1e6:.6g} us"


def _order(cap: Capture) -> str:
    if cap.container == "csv":
        return "text"
    return {"le": "little endian", "be": "big endian", None: "no byte order"}[cap.endian]


def _info_text(name: str, d: dict[str, Any], cap: Capture) -> str:
    lines = [name]
    kind = cap.container
    extra = []
    if cap.container == "blue":
        extra.append("detached" if cap.detached else "attached")
    if not cap.complete:
        extra.append("unfinished")
    if extra:
        kind += f" ({', '.join(extra)})"
    files = [cap.path] + [p for p in (cap.meta_path, cap.header_path) if p]
    rows = [
        ("container", kind),
        ("files", ", ".join(files)),
        ("wire type", f"{cap.sample_type}, {_order(cap)}"),
        ("sample rate", _si(cap.fs, "Hz") if cap.fs else "not stated"),
        ("centre freq", _si(cap.fc, "Hz") if cap.fc else "not stated"),
        ("start time", f"{cap.datetime} ({cap.t0:.6f})" if cap.t0 is not None else "not stated"),
    ]
    samples = f"{cap.sample_count}"
    if cap.duration is not None:
        samples += f" ({_seconds(cap.duration)})"
    if cap.declared_count is not None and cap.declared_count != cap.sample_count:
        samples += f", header declares {cap.declared_count}"
    rows.append(("samples", samples))
    peak = d.get("peak_dbfs")
    rows.append(("peak", f"{peak:.2f} dBFS" if peak is not None else "no signal"))
    kws = [f"{k.tag} = {k.value!r} ({k.type}, {k.source})" for k in cap.keywords]
    rows.append(("keywords", kws[0] if kws else "none"))
    rows += [("", k) for k in kws[1:]]
    rows.append(("annotations", str(len(cap.annotations)) if cap.annotations else "none"))
    for a in cap.annotations:
        start = a.get("core:sample_start", "?")
        count = a.get("core:sample_count", "?")
        desc = f"  samples {start}+{count}"
        if "core:label" in a:
            desc += f"  {a['core:label']}"
        lo, hi = a.get("core:freq_lower_edge"), a.get("core:freq_upper_edge")
        if isinstance(lo, (int, float)) and isinstance(hi, (int, float)):
            desc += f"  {_si(lo, 'Hz')} .. {_si(hi, 'Hz')}"
        rows.append(("", desc.strip()))
    lines += [f"  {k:<12} {v}" for k, v in rows]
    return "\n".join(lines)


def cmd_info(args: argparse.Namespace) -> int:
    status = 0
    out = []
    for path in args.paths:
        try:
            cap = read(path)
            d = describe(cap)
        except (OSError, ValueError) as e:
            _error(e)
            status = 1
            continue
        if args.json:
            out.append(d)
        else:
            print(_info_text(path, d, cap), flush=True)
    if args.json:
        print(json.dumps(out, indent=2, default=str))
    return status


# -- convert --------------------------------------------------------------------


def _container_for(out: str) -> str | None:
    low = out.lower()
    if low.endswith((DATA_SUFFIX, META_SUFFIX, ".sigmf")):
        return "sigmf"
    if low.endswith(".csv"):
        return "csv"
    if low.endswith((".blue", ".tmp", ".prm", ".cdif")):
        return "blue"
    if low.endswith((".raw", ".iq", ".bin", ".dat", ".cf32", ".cfile", ".cs16", ".cs8", ".sc16", ".sc8", ".det")):
        return "raw"
    return None


def _headroom_auto(cap: Capture, block: int, progress: _Progress | None) -> float:
    """Smallest backoff (dB, >= 0) that brings the finite peak to full scale."""
    peak = np.float32(0)
    for b in cap.blocks(block):
        a = np.abs(b.view(np.float32))
        a = np.where(np.isfinite(a), a, np.float32(0))
        if a.size:
            peak = max(peak, a.max())
        if progress:
            progress.advance(len(b))
    if peak <= 1:
        return 0.0
    h = 20.0 * math.log10(float(peak))
    step = 1e-9
    # the writer rounds its gain to float32 and multiplies in float32: check that
    while np.float32(peak) * np.float32(10.0 ** (h * -0.05)) > np.float32(1.0):
        h += step
        step *= 2
    return h


class _Progress:
    """A one-line progress bar on a terminal's stderr."""

    def __init__(self, total: int, label: str, stream: Any):
        self.total = max(total, 1)
        self.done = 0
        self.label = label
        self.stream = stream
        self.last = 0.0

    def advance(self, n: int) -> None:
        self.done += n
        now = time.monotonic()
        if now - self.last >= 0.2 or self.done >= self.total:
            self.last = now
            frac = min(1.0, self.done / self.total)
            bar = "#" * int(frac * 30)
            self.stream.write(f"\r{self.label} [{bar:<30}] {frac * 100:5.1f}%")
            self.stream.flush()

    def end(self) -> None:
        self.stream.write("\r" + " " * (len(self.label) + 40) + "\r")
        self.stream.flush()


@contextlib.contextmanager
def _sigterm_as_interrupt() -> Iterator[None]:
    def handler(signum: int, frame: Any) -> None:
        raise KeyboardInterrupt

    try:
        old = signal.signal(signal.SIGTERM, handler)
    except ValueError:  # not the main thread
        yield
        return
    try:
        yield
    finally:
        signal.signal(signal.SIGTERM, old)


def _remove(*paths: str | None) -> None:
    for p in paths:
        if p:
            with contextlib.suppress(FileNotFoundError):
                os.unlink(p)


def _parse_t0(text: str) -> float:
    try:
        return float(text)
    except ValueError:
        pass
    try:
        return parse_datetime("--t0", text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected UNIX seconds or ISO-8601 UTC, got {text!r}") from None


def _headroom_arg(text: str) -> float | str:
    if text == "auto":
        return text
    try:
        v = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected dB or 'auto', got {text!r}") from None
    if not math.isfinite(v):
        raise argparse.ArgumentTypeError(f"headroom must be finite, got {text!r}")
    return v


def _carry_annotations(meta: str, annotations: list[dict[str, Any]]) -> None:
    with open(meta, "rb") as f:
        doc = json.load(f)
    doc["annotations"] = annotations
    with open(meta, "w", encoding="ascii") as f:
        f.write(json.dumps(doc, separators=(",", ":")))


def cmd_convert(args: argparse.Namespace) -> int:
    try:
        import wfm_writer as _ww
    except ImportError as e:
        raise RuntimeError(f"convert needs the wfm_writer extension module ({e})") from None
    wfm_writer: Any = _ww
    cap = read(args.input)
    out = args.output
    container = args.file_type or _container_for(out)
    if container is None:
        raise UsageError(f"cannot tell the container from {out!r}; give --file-type ({', '.join(CONTAINERS)})")
    if container == "sigmf":
        if out.endswith(META_SUFFIX):
            out = out[: -len(META_SUFFIX)] + DATA_SUFFIX
        elif out.endswith(".sigmf"):
            out = out[: -len(".sigmf")] + DATA_SUFFIX
        elif not out.endswith(DATA_SUFFIX):
            out += DATA_SUFFIX
    sample_type = args.sample_type or cap.sample_type
    endian = args.endian or cap.endian or "le"
    fs = args.fs if args.fs is not None else cap.fs
    if not fs:
        raise UsageError(f"{args.input} states no sample rate; give --fs")
    fc = args.fc if args.fc is not None else (cap.fc or 0.0)
    t0 = args.t0 if args.t0 is not None else (cap.t0 or 0.0)
    sidecar = container == "sigmf" or (container in ("raw", "csv") and not args.no_sidecar)
    meta_final = sidecar_path(out) if container in ("raw", "csv", "sigmf") else None

    if os.path.isdir(out):
        raise UsageError(f"{out} is a directory")
    exists = [p for p in (out, meta_final if sidecar else None) if p and os.path.exists(p)]
    if exists and not args.force:
        raise UsageError(f"{exists[0]} exists (use --force to replace it)")
    outdir = os.path.dirname(out) or "."
    if not os.path.isdir(outdir):
        raise FileNotFoundError(f"{outdir}: no such directory")

    show = args.progress if args.progress is not None else sys.stderr.isatty()
    headroom = args.headroom
    if headroom == "auto":
        prog = _Progress(cap.sample_count, "finding peak", sys.stderr) if show else None
        headroom = _headroom_auto(cap, args.block, prog)
        if prog:
            prog.end()

    # write under a hidden temporary name in the target directory; rename on success
    base = os.path.basename(out)
    token = secrets.token_hex(4)
    if out.endswith(DATA_SUFFIX):
        tmp = os.path.join(outdir, f".{base[: -len(DATA_SUFFIX)]}.{token}.part{DATA_SUFFIX}")
    else:
        tmp = os.path.join(outdir, f".{base}.{token}.part")
    tmp_meta = sidecar_path(tmp) if sidecar else None

    written = 0
    w = None
    try:
        with _sigterm_as_interrupt():
            w = wfm_writer.Writer(
                tmp, fs, file_type=container, sample_type=sample_type, endian=endian,
                fc=fc, total=cap.sample_count, headroom=headroom, t0=t0, sidecar=sidecar,
            )
            w.track_clipping(1)
            if container == "blue":
                for k in cap.keywords:
                    if k.tag != "FREQ":
                        w.add_keyword(k.tag, k.type, k.value)
            prog = _Progress(cap.sample_count, "converting", sys.stderr) if show else None
            for block in cap.blocks(args.block):
                n = w.write(block)
                written += n
                if n != len(block):
                    raise OSError(f"{out}: short write after {written} samples (disk full?)")
                if prog:
                    prog.advance(n)
            if prog:
                prog.end()
            peak, clipped, frac = w.peak_dbfs, w.clipped, w.clip_fraction
            w.close()
            w = None
            if tmp_meta and cap.annotations:
                _carry_annotations(tmp_meta, cap.annotations)
            # remove a metadata file that would otherwise describe the new data wrongly
            _remove(meta_final if (meta_final and os.path.exists(meta_final)) else None)
            os.replace(tmp, out)
            if tmp_meta and meta_final:
                os.replace(tmp_meta, meta_final)
    except BaseException:
        if w is not None:
            with contextlib.suppress(OSError):
                w.destroy()
        _remove(tmp, tmp_meta)
        raise
    if cap.annotations and container == "blue":
        _warn_line(f"{len(cap.annotations)} annotations are not carried into a BLUE file")
    order = "" if container == "csv" or WIRE_TYPES[sample_type].component_bytes == 1 else f" {endian}"
    hr = f", headroom {headroom:.6g} dB" if headroom else ""
    peak_text = f"{peak:.2f} dBFS" if math.isfinite(peak) else "-inf dBFS"
    print(
        f"{out}: wrote {written} samples ({container} {sample_type}{order}{hr}); peak {peak_text};"
        f" clipped: {'yes' if clipped else 'no'}; clip fraction {frac:.6g}"
    )
    return 0


# -- plot and demo --------------------------------------------------------------------


def cmd_plot(args: argparse.Namespace) -> int:
    from .plot import plot_capture

    cap = read(args.path)
    plot_capture(cap, args.output, nfft=args.nfft)
    print(f"{args.output}: PSD and spectrogram of {cap.sample_count} samples")
    return 0


def cmd_demo(args: argparse.Namespace) -> int:
    from .demo import run

    return run(args.dir)


# -- entry point -----------------------------------------------------------------


def build_parser() -> argparse.ArgumentParser:
    p = _Parser(prog=PROG, description="Inspect, convert and plot I/Q captures.")
    sub = p.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    sub.required = True

    i = sub.add_parser("info", help="summarise captures")
    i.add_argument("paths", nargs="+", metavar="PATH")
    i.add_argument("--json", action="store_true", help="print a JSON array, one object per capture")
    i.set_defaults(func=cmd_info)

    c = sub.add_parser(
        "convert",
        help="convert a capture to another container, wire type or byte order",
        description="IN is any capture 'wfm info' reads, or a bare complex64 file (.cf32, .cfile, .npy;"
        " give --fs). The output is written under a temporary name and renamed when complete.",
    )
    c.add_argument("input", metavar="IN")
    c.add_argument("output", metavar="OUT")
    c.add_argument("-t", "--file-type", choices=CONTAINERS, help="container (default: from OUT's name)")
    c.add_argument("-s", "--sample-type", choices=tuple(WIRE_TYPES), help="wire type (default: IN's)")
    c.add_argument("-e", "--endian", choices=ENDIANS, help="byte order (default: IN's, else le)")
    c.add_argument("--fs", type=float, help="sample rate in Hz (states or overrides IN's)")
    c.add_argument("--fc", type=float, help="centre frequency in Hz")
    c.add_argument("--t0", type=_parse_t0, help="start time: UNIX seconds or ISO-8601 UTC")
    c.add_argument(
        "--headroom", type=_headroom_arg, default=0.0, metavar="DB|auto",
        help="output backoff in dB; 'auto' measures the peak first and backs off just enough not to clip",
    )
    c.add_argument("--no-sidecar", action="store_true", help="no .sigmf-meta beside a raw or CSV output")
    c.add_argument("-f", "--force", action="store_true", help="replace an existing output")
    c.add_argument("--block", type=int, default=DEFAULT_BLOCK, help=argparse.SUPPRESS)
    c.add_argument("--progress", dest="progress", action="store_true", default=None,
                   help="show a progress bar (default: when stderr is a terminal)")
    c.add_argument("--no-progress", dest="progress", action="store_false")
    c.set_defaults(func=cmd_convert)

    pl = sub.add_parser("plot", help="power spectral density and spectrogram as PNG")
    pl.add_argument("path", metavar="PATH")
    pl.add_argument("-o", "--output", required=True, metavar="FILE.png")
    pl.add_argument("--nfft", type=int, default=1024, help="FFT length (default 1024)")
    pl.set_defaults(func=cmd_plot)

    d = sub.add_parser("demo", help="write a synthetic capture in every container and check it")
    d.add_argument("dir", nargs="?", default="demo-out", metavar="DIR")
    d.set_defaults(func=cmd_demo)
    return p


def _message(e: BaseException) -> str:
    if isinstance(e, OSError) and e.strerror and e.filename:
        return f"{e.filename}: {e.strerror}"
    text = str(e) or type(e).__name__
    return " ".join(text.split())  # one line


def _error(e: BaseException | str) -> None:
    print(f"{PROG}: {e if isinstance(e, str) else _message(e)}", file=sys.stderr, flush=True)


def _warn_line(msg: str) -> None:
    print(f"{PROG}: warning: {msg}", file=sys.stderr, flush=True)


def main(argv: Sequence[str] | None = None) -> int:
    def show(message: Warning | str, category: type[Warning], *rest: Any, **kw: Any) -> None:
        _warn_line(" ".join(str(message).split()))

    with warnings.catch_warnings():
        warnings.simplefilter("always")
        warnings.showwarning = show
        try:
            args = build_parser().parse_args(argv)
            if getattr(args, "block", 1) < 1:
                raise UsageError("--block must be at least 1")
            if getattr(args, "nfft", 16) < 16:
                raise UsageError("--nfft must be at least 16")
            return int(args.func(args))
        except UsageError as e:
            _error(f"error: {e}")
            return 2
        except KeyboardInterrupt:
            _error("interrupted")
            return 130
        except BrokenPipeError:
            with contextlib.suppress(OSError):
                sys.stdout = open(os.devnull, "w")  # noqa: SIM115
            return 1
        except (OSError, ValueError, RuntimeError, ImportError) as e:
            _error(e)
            return 1
        except Exception as e:  # never a traceback on the console
            _error(f"internal error: {type(e).__name__}: {_message(e)}")
            return 1


if __name__ == "__main__":
    sys.exit(main())
