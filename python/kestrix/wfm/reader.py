"""Read back the captures this package writes.

``read(path)`` recognises, by content and by name:

* BLUE type-1000 files (the header starts with ``BLUE``), attached, or a
  detached ``.hdr`` header beside its ``.det`` body (either may be given);
* SigMF recordings, given by the ``.sigmf-meta`` or ``.sigmf-data`` half or
  by the base name;
* raw and CSV captures with their metadata sidecar, named by appending
  ``.sigmf-meta`` to the data path (``cap.raw`` -> ``cap.raw.sigmf-meta``)
  except that a trailing ``.sigmf-data`` is replaced;
* bare complex64 files: ``.cf32`` / ``.cfile`` (little-endian interleaved
  float32 I/Q) and ``.npy`` arrays of complex64 or complex128.

Integer samples are returned at unit scale by dividing by the writer's full
scale, 2^(n-1) - 1 (127, 32767, 2147483647), so a value q reads back as
exactly float32(q / full_scale) and +-1.0 maps to +-full scale.
"""

from __future__ import annotations

import math
import os
import re
import sys
import warnings
from collections.abc import Iterator
from typing import Any

import numpy as np

from . import _blue
from ._blue import FormatError, Keyword
from ._sigmf import format_datetime, load_meta
from ._types import DATA_SUFFIX, META_SUFFIX, WIRE_TYPES, WireType, sidecar_path, to_unit_scale

__all__ = ["read", "Capture", "Keyword", "FormatError", "CaptureWarning", "sidecar_path"]

DEFAULT_BLOCK = 1 << 18  # samples per streamed block
_CSV_CHUNK = 1 << 22  # bytes of CSV text parsed at a time


class CaptureWarning(UserWarning):
    """A capture that is readable but not as its header declares (unfinished)."""


def _warn(msg: str) -> None:
    # point the warning at the caller of read(), outside this package
    level, frame = 1, sys._getframe(1)
    here = os.path.dirname(__file__)
    while frame is not None and os.path.dirname(frame.f_code.co_filename) == here:
        level += 1
        frame = frame.f_back  # type: ignore[assignment]
    warnings.warn(msg, CaptureWarning, stacklevel=level)


class Capture:
    """One capture opened for reading.

    Attributes
    ----------
    path : str
        The file holding the samples.
    meta_path, header_path : str or None
        The SigMF metadata / sidecar file, the detached BLUE header.
    container : {"raw", "csv", "blue", "sigmf", "npy"}
    detached : bool
        A BLUE header in a file of its own.
    sample_type : {"cf32", "cf64", "ci32", "ci16", "ci8"}
    endian : {"le", "be"} or None
        None where the container does not state it (one-byte types in SigMF).
    fs, fc, t0 : float or None
        Sample rate (Hz), centre frequency (Hz), start (UNIX seconds); None
        where not stated.
    keywords : list of Keyword
        BLUE main-header text (source "main") and extended-header records
        (source "ext") as (tag, type code, value, source).
    annotations : list of dict
        SigMF annotations.
    sample_count : int
        Whole samples in the file.
    declared_count : int or None
        BLUE: the samples the header declares.
    complete : bool
        False for a capture whose header and data disagree (close never ran).
    """

    def __init__(self) -> None:
        self.path = ""
        self.meta_path: str | None = None
        self.header_path: str | None = None
        self.container = "raw"
        self.detached = False
        self.sample_type = "cf32"
        self.endian: str | None = "le"
        self.fs: float | None = None
        self.fc: float | None = None
        self.t0: float | None = None
        self.keywords: list[Keyword] = []
        self.annotations: list[dict[str, Any]] = []
        self.captures: list[dict[str, Any]] = []
        self.sample_count = 0
        self.declared_count: int | None = None
        self.complete = True
        self.data_offset = 0
        self._raw: np.ndarray | None = None
        self._csv: np.ndarray | None = None

    # -- description --------------------------------------------------------

    @property
    def wire(self) -> WireType:
        return WIRE_TYPES[self.sample_type]

    @property
    def dtype(self) -> np.dtype:
        """dtype of one stored component."""
        if self.container == "csv":
            return self.wire.component_dtype("le").newbyteorder("=")
        return self.wire.component_dtype(self.endian)

    @property
    def duration(self) -> float | None:
        return self.sample_count / self.fs if self.fs else None

    @property
    def datetime(self) -> str | None:
        return format_datetime(self.t0) if self.t0 is not None else None

    def __len__(self) -> int:
        return self.sample_count

    def __repr__(self) -> str:
        order = f" {self.endian}" if self.endian else ""
        return (
            f"<Capture {self.container} {self.sample_type}{order} {self.sample_count} samples"
            f" fs={self.fs} fc={self.fc} path={self.path!r}>"
        )

    def __enter__(self) -> Capture:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> None:
        """Drop the memory map (it is also dropped with the object)."""
        self._raw = None
        self._csv = None

    # -- samples ------------------------------------------------------------

    @property
    def raw(self) -> np.ndarray:
        """Stored values, shape (sample_count, 2): column 0 is I, 1 is Q, in
        the wire type and byte order. Memory-mapped read-only for binary
        containers, so slices of a capture larger than memory are cheap; CSV
        text is parsed on first use."""
        if self.container == "csv":
            if self._csv is None:
                parts = list(self._csv_chunks(0, self.sample_count))
                self._csv = (
                    np.concatenate(parts) if parts else np.empty((0, 2), self.dtype)
                )
            return self._csv
        if self._raw is None:
            if self.sample_count == 0:
                self._raw = np.empty((0, 2), self.dtype)
            else:
                self._raw = np.memmap(
                    self.path,
                    dtype=self.dtype,
                    mode="r",
                    offset=self.data_offset,
                    shape=(self.sample_count, 2),
                )
        return self._raw

    @property
    def samples(self) -> np.ndarray:
        """All samples as unit-scale complex64 (loaded into memory; slice the
        capture, ``cap[a:b]``, or iterate ``blocks()`` for large files)."""
        return to_unit_scale(self.raw, self.wire)

    def __getitem__(self, key: int | slice) -> Any:
        """Unit-scale complex64 of one sample or a slice, converted on demand."""
        if isinstance(key, slice):
            return to_unit_scale(self.raw[key], self.wire)
        row = np.asarray(self.raw[key]).reshape(1, 2)
        return to_unit_scale(row, self.wire)[0]

    def read(self, start: int = 0, count: int | None = None) -> np.ndarray:
        """Samples [start, start + count) as unit-scale complex64, read with
        plain file reads (no mapping stays resident)."""
        start = max(0, min(start, self.sample_count))
        if count is None:
            count = self.sample_count - start
        count = max(0, min(count, self.sample_count - start))
        parts = list(self.blocks(max(count, 1), start=start, count=count))
        return parts[0] if len(parts) == 1 else np.concatenate(parts) if parts else np.empty(0, np.complex64)

    def blocks(
        self, size: int = DEFAULT_BLOCK, start: int = 0, count: int | None = None
    ) -> Iterator[np.ndarray]:
        """Unit-scale complex64 blocks of at most ``size`` samples, streamed
        from the file with bounded memory."""
        if size < 1:
            raise ValueError("block size must be at least 1")
        end = self.sample_count if count is None else min(self.sample_count, start + count)
        if self.container == "csv":
            if self._csv is not None:
                for a in range(start, end, size):
                    yield to_unit_scale(self._csv[a : min(end, a + size)], self.wire)
                return
            for chunk in self._csv_chunks(start, end - start, size):
                yield to_unit_scale(chunk, self.wire)
            return
        bps = self.wire.sample_bytes
        with open(self.path, "rb", buffering=0) as f:
            f.seek(self.data_offset + start * bps)
            pos = start
            while pos < end:
                n = min(size, end - pos)
                buf = bytearray(n * bps)
                got = f.readinto(buf)
                if got != n * bps:
                    raise FormatError(self.path, f"file shrank while reading (sample {pos + got // bps})")
                comps = np.frombuffer(buf, dtype=self.dtype).reshape(n, 2)
                yield to_unit_scale(comps, self.wire)
                pos += n

    def peak(self) -> float:
        """Largest |I| or |Q| at unit scale, NaNs ignored (one streamed pass)."""
        peak = 0.0
        for block in self.blocks():
            if block.size:
                m = float(np.fmax.reduce(np.abs(block.view(np.float32)), initial=0.0))
                if m > peak:
                    peak = m
        return peak

    def peak_dbfs(self) -> float:
        p = self.peak()
        return 20.0 * math.log10(p) if p > 0 else -math.inf

    # -- CSV text -------------------------------------------------------------

    def _csv_chunks(self, start: int, count: int, size: int = 1 << 20) -> Iterator[np.ndarray]:
        """Parse the CSV lines [start, start + count) as (n, 2) arrays."""
        dt = self.dtype
        parse_dt = np.int64 if self.wire.is_integer else np.float64
        line = 0
        end = start + count
        pending: list[np.ndarray] = []
        pending_n = 0
        with open(self.path, "rb") as f:
            tail = b""
            while line < end:
                data = f.read(_CSV_CHUNK)
                if not data:
                    break
                data = tail + data
                cut = data.rfind(b"\n") + 1
                tail = data[cut:]
                body = data[:cut]
                if not body:
                    continue
                nlines = body.count(b"\n")
                if line + nlines <= start:
                    line += nlines
                    continue
                if not _CSV_BODY.fullmatch(body):
                    raise FormatError(self.path, f"line {line + _bad_csv_line(body) + 1} is not an 'I,Q' pair")
                fields = body.replace(b"\n", b",").split(b",")[:-1]
                try:
                    vals = np.array(fields).astype(parse_dt)
                except (ValueError, OverflowError):
                    bad = _bad_csv_value(fields, parse_dt)
                    raise FormatError(
                        self.path,
                        f"line {line + bad // 2 + 1}: {fields[bad].decode(errors='replace')!r} is not"
                        f" a {self.sample_type} value",
                    ) from None
                pairs = vals.reshape(-1, 2)
                lo = max(0, start - line)
                hi = min(nlines, end - line)
                line += nlines
                pairs = pairs[lo:hi]
                if self.wire.is_integer:
                    fs = self.wire.full_scale
                    if pairs.size and (pairs.max() > fs or pairs.min() < -fs - 1):
                        raise FormatError(self.path, f"a value near line {line} is outside the {self.sample_type} range")
                pending.append(pairs.astype(dt))
                pending_n += len(pairs)
                while pending_n >= size:
                    allp = np.concatenate(pending) if len(pending) > 1 else pending[0]
                    yield allp[:size]
                    rest = allp[size:]
                    pending = [rest] if len(rest) else []
                    pending_n = len(rest)
        if pending_n:
            yield np.concatenate(pending) if len(pending) > 1 else pending[0]


_CSV_BODY = re.compile(rb"(?:[^,\n]+,[^,\n]+\n)*")
_CSV_FIRST = re.compile(rb"[-+0-9.a-zA-Z]+,[-+0-9.a-zA-Z]+\n")
_CSV_CHARS = frozenset(b"0123456789+-.,eEinfaINFA\n")


def _bad_csv_line(body: bytes) -> int:
    for i, ln in enumerate(body.split(b"\n")):
        if not re.fullmatch(rb"[^,]+,[^,]+", ln):
            return i
    return 0


def _bad_csv_value(fields: list[bytes], dt: Any) -> int:
    for i, f in enumerate(fields):
        try:
            np.array([f]).astype(dt)
        except (ValueError, OverflowError):
            return i
    return 0


def _looks_like_csv(head: bytes) -> bool:
    if not head or not set(head[:4096]) <= _CSV_CHARS:
        return False
    return _CSV_FIRST.match(head) is not None


def _read_head(path: str, n: int) -> bytes:
    try:
        with open(path, "rb") as f:
            return f.read(n)
    except IsADirectoryError:
        raise FormatError(path, "is a directory, not a capture") from None


def _size(path: str) -> int:
    return os.stat(path).st_size


# -- opening ----------------------------------------------------------------


def read(path: str | os.PathLike[str]) -> Capture:
    """Open a capture for reading; see the module docstring for what is
    recognised. Raises FileNotFoundError when nothing matches the path and
    FormatError (a ValueError) for an unknown, truncated or inconsistent
    file; warns CaptureWarning for an unfinished capture, which is read up to
    its last whole sample."""
    p = os.fspath(path)
    if isinstance(p, bytes):
        p = os.fsdecode(p)
    if p.endswith(META_SUFFIX):
        return _open_meta(p)
    if not os.path.exists(p):
        for cand in (p + META_SUFFIX, p + DATA_SUFFIX):
            if os.path.exists(cand):
                return read(cand)
        raise FileNotFoundError(f"{p}: no such capture (nor {p}{META_SUFFIX})")
    if os.path.isdir(p):
        raise FormatError(p, "is a directory, not a capture")
    head = _read_head(p, _blue.HEADER_BYTES)
    if _blue.looks_like_blue(head):
        return _open_blue(p, head)
    if p.endswith(".det"):
        hdr = p[: -len(".det")] + ".hdr"
        if os.path.exists(hdr):
            return _open_blue(hdr, _read_head(hdr, _blue.HEADER_BYTES), body=p)
    meta = sidecar_path(p)
    if os.path.exists(meta):
        return _open_meta(meta, data=p)
    low = p.lower()
    if low.endswith((".cf32", ".cfile")):
        return _bare(p, "raw", "cf32", "le", 0)
    if low.endswith(".npy"):
        return _open_npy(p)
    if p.endswith(DATA_SUFFIX):
        raise FormatError(p, f"SigMF data without its metadata file {meta}")
    raise FormatError(p, f"unknown format: not a BLUE file, and no metadata file {meta} beside it")


def _open_meta(meta: str, data: str | None = None) -> Capture:
    if not os.path.exists(meta):
        raise FileNotFoundError(f"{meta}: no such metadata file")
    m = load_meta(meta)
    if data is None:
        base = meta[: -len(META_SUFFIX)]
        tried = []
        if m.dataset:
            tried.append(os.path.join(os.path.dirname(meta), m.dataset))
        tried += [base + DATA_SUFFIX, base]
        data = next((c for c in tried if os.path.isfile(c)), None)
        if data is None:
            raise FormatError(meta, "the data file is missing (looked for " + ", ".join(tried) + ")")
    cap = Capture()
    cap.path = data
    cap.meta_path = meta
    cap.sample_type, cap.endian = m.sample_type, m.endian
    cap.fs, cap.fc, cap.t0 = m.fs, m.fc, m.t0
    cap.annotations, cap.captures = m.annotations, m.captures
    head = _read_head(data, 4096)
    if data.lower().endswith(".csv") or _looks_like_csv(head):
        if head and not _CSV_FIRST.match(head):
            raise FormatError(data, "line 1 is not an 'I,Q' pair")
        cap.container = "csv"
        _count_csv(cap)
    else:
        cap.container = "sigmf" if data.endswith(DATA_SUFFIX) else "raw"
        _count_packed(cap, _size(data), 0)
    return cap


def _count_packed(cap: Capture, size: int, offset: int) -> None:
    bps = cap.wire.sample_bytes
    cap.data_offset = offset
    avail = size - offset
    cap.sample_count = avail // bps
    extra = avail % bps
    if extra:
        cap.complete = False
        _warn(
            f"{cap.path}: ends {extra} bytes into a sample (unfinished capture?);"
            f" reading its {cap.sample_count} whole samples"
        )


def _count_csv(cap: Capture) -> None:
    n = 0
    last = b"\n"
    with open(cap.path, "rb") as f:
        while True:
            data = f.read(_CSV_CHUNK)
            if not data:
                break
            n += data.count(b"\n")
            last = data[-1:]
    cap.sample_count = n
    if last != b"\n":
        cap.complete = False
        _warn(f"{cap.path}: the last line is unfinished; reading its {n} whole lines")


def _bare(path: str, container: str, st: str, endian: str, offset: int) -> Capture:
    cap = Capture()
    cap.path = path
    cap.container = container
    cap.sample_type, cap.endian = st, endian
    _count_packed(cap, _size(path), offset)
    return cap


def _open_npy(path: str) -> Capture:
    from numpy.lib import format as npformat

    with open(path, "rb") as f:
        try:
            version = npformat.read_magic(f)
            reader = {(1, 0): npformat.read_array_header_1_0, (2, 0): npformat.read_array_header_2_0}
            shape, fortran, dtype = reader[version](f) if version in reader else (None, None, None)
        except (ValueError, KeyError) as e:
            raise FormatError(path, f"not a valid .npy file ({e})") from None
        offset = f.tell()
    if shape is None or dtype is None:
        raise FormatError(path, f"unsupported .npy version {version}")
    kinds = {np.dtype(np.complex64): "cf32", np.dtype(np.complex128): "cf64"}
    st = kinds.get(dtype.newbyteorder("="))
    if st is None or len(shape) != 1:
        raise FormatError(path, f".npy must hold a 1-D complex64 or complex128 array, not {dtype} {shape}")
    endian = "be" if dtype.byteorder == ">" else "le"
    cap = _bare(path, "npy", st, endian, offset)
    if cap.sample_count < shape[0]:
        cap.complete = False
        _warn(f"{path}: the array declares {shape[0]} samples but the file holds {cap.sample_count}")
    cap.sample_count = min(cap.sample_count, shape[0])
    return cap


def _open_blue(hdr_path: str, head: bytes, body: str | None = None) -> Capture:
    h = _blue.parse_header(hdr_path, head)
    cap = Capture()
    cap.container = "blue"
    cap.sample_type, cap.endian = h.wire.name, h.endian
    cap.fs, cap.t0 = _blue.blue_fs(h), _blue.blue_t0(h)
    cap.keywords = _blue.main_keywords(h.keyword_text)
    bps = h.wire.sample_bytes
    cap.declared_count = int(h.data_size) // bps
    size = _size(hdr_path)
    if h.ext_size:
        ext_off = h.ext_start * _blue.HEADER_BYTES
        if ext_off + h.ext_size > size:
            raise FormatError(
                hdr_path,
                f"truncated: the extended header ({h.ext_size} bytes at {ext_off}) ends past the end of the"
                f" file ({size} bytes)",
            )
        with open(hdr_path, "rb") as f:
            f.seek(ext_off)
            cap.keywords += _blue.ext_keywords(hdr_path, f.read(h.ext_size), h.endian)
    cap.fc = _blue.blue_fc(cap.keywords)
    offset = int(h.data_start)

    if h.detached or body is not None:
        if body is None:
            stem = hdr_path[: -len(".hdr")] if hdr_path.endswith(".hdr") else hdr_path
            body = stem + ".det"
            if not os.path.isfile(body):
                raise FormatError(hdr_path, f"detached BLUE header without its data file {body}")
        cap.detached = True
        cap.header_path = hdr_path
        cap.path = body
        avail = _size(body) - offset
        if avail < 0:
            raise FormatError(body, f"shorter than the data start {offset} its header {hdr_path} gives")
        cap.data_offset = offset
        cap.sample_count = avail // bps
        # a detached header is written once; a data size of 0 states nothing
        if h.data_size and (h.data_size != avail):
            cap.complete = False
            _warn(
                f"{body}: the header {hdr_path} declares {cap.declared_count} samples but the file holds"
                f" {cap.sample_count}; reading {cap.sample_count}"
            )
        elif avail % bps:
            cap.complete = False
            _warn(f"{body}: ends {avail % bps} bytes into a sample; reading {cap.sample_count} whole samples")
        return cap

    cap.path = hdr_path
    cap.data_offset = offset
    if offset < _blue.HEADER_BYTES:
        raise FormatError(hdr_path, f"BLUE data start {offset} lies inside the header")
    if h.ext_size:
        # close ran: the header's data size is final and must fit before the extended header
        data_end = offset + h.data_size
        if data_end > h.ext_start * _blue.HEADER_BYTES:
            raise FormatError(
                hdr_path,
                f"inconsistent: {int(h.data_size)} data bytes from {offset} overlap the extended header"
                f" at {h.ext_start * _blue.HEADER_BYTES}",
            )
        if h.data_size % bps:
            raise FormatError(hdr_path, f"inconsistent: data size {int(h.data_size)} is not whole samples")
        cap.sample_count = cap.declared_count
        return cap
    avail = size - offset
    if avail < 0:
        raise FormatError(hdr_path, f"truncated: {size} bytes, shorter than the data start {offset}")
    cap.sample_count = avail // bps
    if avail != h.data_size or avail % bps:
        cap.complete = False
        part = f" and {avail % bps} bytes of a partial one" if avail % bps else ""
        _warn(
            f"{hdr_path}: unfinished capture: the header declares {cap.declared_count} samples but the file"
            f" holds {cap.sample_count}{part}; reading {cap.sample_count}"
        )
    return cap


def describe(cap: Capture, peak: bool = True) -> dict[str, Any]:
    """A JSON-ready summary of a capture."""
    d: dict[str, Any] = {
        "path": cap.path,
        "meta_path": cap.meta_path,
        "header_path": cap.header_path,
        "container": cap.container,
        "detached": cap.detached,
        "sample_type": cap.sample_type,
        "endian": cap.endian,
        "fs": cap.fs,
        "fc": cap.fc,
        "t0": cap.t0,
        "datetime": cap.datetime,
        "samples": cap.sample_count,
        "declared_samples": cap.declared_count,
        "complete": cap.complete,
        "duration": cap.duration,
        "keywords": [k._asdict() for k in cap.keywords],
        "annotations": cap.annotations,
    }
    if peak:
        p = cap.peak_dbfs()
        d["peak_dbfs"] = p if math.isfinite(p) else None
    return d

