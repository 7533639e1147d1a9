"""BLUE type-1000 header and keyword parsing."""

from __future__ import annotations

import struct
from typing import Any, NamedTuple

import numpy as np

from ._types import BLUE_FORMATS, J1950_OFFSET, WireType

HEADER_BYTES = 512
KEYWORDS_FIELD = 92

# keyword type code -> element dtype (without byte order)
KEYWORD_TYPES = {
    "A": "S1",
    "B": "i1",
    "I": "i2",
    "L": "i4",
    "T": "i4",
    "X": "i8",
    "F": "f4",
    "D": "f8",
}


class FormatError(ValueError):
    """A file that is not a capture this package can read, or a damaged one."""

    def __init__(self, path: str, what: str):
        super().__init__(f"{path}: {what}")
        self.path = path
        self.what = what


class Keyword(NamedTuple):
    tag: str
    type: str  # one-letter type code
    value: Any  # str for "A", a number for one element, a list for several
    source: str  # "main" (header text) or "ext" (extended-header record)


class BlueHeader(NamedTuple):
    endian: str
    detached: bool
    ext_start: int
    ext_size: int
    data_start: float
    data_size: float
    wire: WireType
    timecode: float
    keyword_text: bytes
    xdelta: float


def looks_like_blue(head: bytes) -> bool:
    return len(head) >= 4 and head[:4] == b"BLUE"


def parse_header(path: str, block: bytes) -> BlueHeader:
    if len(block) < HEADER_BYTES:
        raise FormatError(path, f"BLUE header is truncated ({len(block)} of {HEADER_BYTES} bytes)")
    head_rep = block[4:8]
    data_rep = block[8:12]
    if head_rep == b"EEEI":
        endian, o = "le", "<"
    elif head_rep == b"IEEE":
        endian, o = "be", ">"
    else:
        raise FormatError(path, f"BLUE header has an unknown byte order {head_rep!r}")
    if data_rep != head_rep:
        raise FormatError(
            path, f"BLUE header and data byte orders differ ({head_rep.decode()} / {data_rep!r})"
        )
    (detached, _prot, _pipe, ext_start, ext_size) = struct.unpack_from(o + "5i", block, 12)
    data_start, data_size = struct.unpack_from(o + "2d", block, 32)
    (htype,) = struct.unpack_from(o + "i", block, 48)
    fmt = block[52:54]
    (timecode,) = struct.unpack_from(o + "d", block, 56)
    (keylength,) = struct.unpack_from(o + "i", block, 160)
    (xdelta,) = struct.unpack_from(o + "d", block, 264)
    if htype != 1000:
        raise FormatError(path, f"unsupported BLUE header type {htype} (only type 1000 is read)")
    wire = BLUE_FORMATS.get(fmt.decode("ascii", "replace"))
    if wire is None:
        raise FormatError(path, f"unsupported BLUE data format {fmt!r}")
    if not 0 <= keylength <= KEYWORDS_FIELD:
        raise FormatError(path, f"BLUE keyword length {keylength} exceeds the {KEYWORDS_FIELD}-byte field")
    if ext_start < 0 or ext_size < 0 or (ext_size > 0) != (ext_start > 0):
        raise FormatError(path, f"BLUE extended header location is invalid (block {ext_start}, {ext_size} bytes)")
    if not (np.isfinite(data_start) and data_start >= 0 and data_start == int(data_start)):
        raise FormatError(path, f"BLUE data start {data_start!r} is not a byte offset")
    if not (np.isfinite(data_size) and data_size >= 0):
        raise FormatError(path, f"BLUE data size {data_size!r} is invalid")
    return BlueHeader(
        endian=endian,
        detached=detached != 0,
        ext_start=ext_start,
        ext_size=ext_size,
        data_start=data_start,
        data_size=data_size,
        wire=wire,
        timecode=timecode,
        keyword_text=bytes(block[164 : 164 + keylength]),
        xdelta=xdelta,
    )


def _text(b: bytes) -> str:
    return b.decode("utf-8", "surrogateescape")


def main_keywords(text: bytes) -> list[Keyword]:
    """Entries "TAG=value" each ended by a NUL."""
    out = []
    for entry in text.split(b"\0"):
        if not entry:
            continue
        tag, sep, value = entry.partition(b"=")
        out.append(Keyword(_text(tag), "A", _text(value), "main"))
    return out


def ext_keywords(path: str, buf: bytes, endian: str) -> list[Keyword]:
    """Walk the extended header's keyword records."""
    o = "<" if endian == "le" else ">"
    out = []
    pos = 0
    while pos < len(buf):
        avail = len(buf) - pos
        if avail < 8:
            raise FormatError(path, f"extended header ends inside a keyword record at byte {pos}")
        rec_len, nondata = struct.unpack_from(o + "ih", buf, pos)
        tag_len = buf[pos + 6]
        code = chr(buf[pos + 7])
        if rec_len < 8 or nondata < 8 or rec_len > avail or rec_len < nondata:
            raise FormatError(path, f"malformed extended-header keyword record at byte {pos}")
        vlen = rec_len - nondata
        if 8 + vlen + tag_len > rec_len:
            raise FormatError(path, f"malformed extended-header keyword record at byte {pos}")
        dt = KEYWORD_TYPES.get(code)
        if dt is not None and vlen > 0:
            elem = np.dtype(dt).itemsize
            if vlen % elem == 0:
                raw = buf[pos + 8 : pos + 8 + vlen]
                tag = _text(buf[pos + 8 + vlen : pos + 8 + vlen + tag_len])
                value: Any
                if code == "A":
                    value = _text(raw)
                else:
                    arr = np.frombuffer(raw, dtype=np.dtype(o + dt if elem > 1 else dt))
                    items = arr.tolist()
                    value = items[0] if len(items) == 1 else items
                out.append(Keyword(tag, code, value, "ext"))
        # a record of an unknown type or an uneven value length is skipped
        pos += rec_len
    return out


def blue_t0(h: BlueHeader) -> float | None:
    return h.timecode - J1950_OFFSET if h.timecode != 0 else None


def blue_fs(h: BlueHeader) -> float | None:
    return 1.0 / h.xdelta if h.xdelta != 0 else None


def blue_fc(keywords: list[Keyword]) -> float | None:
    """Centre frequency: the typed FREQ record, else the header text entry."""
    for k in keywords:
        if k.tag == "FREQ" and k.source == "ext" and k.type in ("D", "F") and not isinstance(k.value, list):
            return float(k.value)
    for k in keywords:
        if k.tag == "FREQ" and k.source == "main":
            try:
                return float(k.value)
            except ValueError:
                return None
    return None
