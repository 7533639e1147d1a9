"""SigMF metadata: datatype strings, start times and the metadata document."""

from __future__ import annotations

import calendar
import datetime
import json
import math
import re
import time
from typing import Any, NamedTuple

from ._blue import FormatError
from ._types import WIRE_TYPES

_DATETIME = re.compile(
    r"^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:\.(\d+))?(Z|[+-]00:?00)?$"
)


class SigmfMeta(NamedTuple):
    sample_type: str
    endian: str | None
    fs: float | None
    fc: float | None
    t0: float | None
    annotations: list[dict[str, Any]]
    captures: list[dict[str, Any]]
    global_: dict[str, Any]
    dataset: str | None  # core:dataset, a data file named by the metadata


def parse_datatype(path: str, datatype: Any) -> tuple[str, str | None]:
    if not isinstance(datatype, str):
        raise FormatError(path, "metadata has no core:datatype string")
    name, _, order = datatype.partition("_")
    wire = WIRE_TYPES.get(name)
    supported = "cf32, cf64, ci32, ci16, ci8 with _le or _be"
    if wire is None:
        raise FormatError(path, f"unsupported datatype {datatype!r} (supported: {supported})")
    if wire.component_bytes == 1:
        if order not in ("", "le", "be"):
            raise FormatError(path, f"unsupported datatype {datatype!r}")
        return name, None
    if order not in ("le", "be"):
        raise FormatError(path, f"datatype {datatype!r} does not state its byte order")
    return name, order


def parse_datetime(path: str, text: Any) -> float:
    """ISO-8601 UTC text -> UNIX seconds, the fraction kept to the digit."""
    m = _DATETIME.match(text) if isinstance(text, str) else None
    if not m:
        raise FormatError(path, f"core:datetime {text!r} is not an ISO-8601 UTC time")
    y, mo, d, h, mi, s = (int(g) for g in m.groups()[:6])
    try:
        datetime.datetime(y, mo, d, h, mi, s)
        whole = calendar.timegm((y, mo, d, h, mi, s, 0, 0, 0))
    except (ValueError, OverflowError) as e:
        raise FormatError(path, f"core:datetime {text!r} is out of range") from e
    frac = m.group(7) or ""
    return whole + (int(frac) / 10 ** len(frac) if frac else 0.0)


def format_datetime(t0: float) -> str:
    """UNIX seconds -> the writer's "YYYY-MM-DDTHH:MM:SS.ffffffZ" (truncated)."""
    s = math.floor(t0)
    us = int((t0 - s) * 1e6)
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(s)) + f".{us:06d}Z"


def _number(path: str, obj: dict[str, Any], key: str) -> float | None:
    v = obj.get(key)
    if v is None:
        return None
    if isinstance(v, bool) or not isinstance(v, (int, float)):
        raise FormatError(path, f"{key} is not a number ({v!r})")
    return float(v) if v != 0 else None


def load_meta(path: str) -> SigmfMeta:
    try:
        with open(path, "rb") as f:
            text = f.read()
    except OSError as e:
        raise FormatError(path, f"cannot read the metadata file ({e.strerror})") from e
    try:
        doc = json.loads(text)
    except (ValueError, UnicodeDecodeError) as e:
        raise FormatError(path, f"metadata is not valid JSON ({e})") from e
    if not isinstance(doc, dict) or not isinstance(doc.get("global"), dict):
        raise FormatError(path, 'metadata has no "global" object')
    glob = doc["global"]
    captures = doc.get("captures", [])
    annotations = doc.get("annotations", [])
    if not isinstance(captures, list) or not all(isinstance(c, dict) for c in captures):
        raise FormatError(path, '"captures" is not an array of objects')
    if not isinstance(annotations, list) or not all(isinstance(a, dict) for a in annotations):
        raise FormatError(path, '"annotations" is not an array of objects')
    sample_type, endian = parse_datatype(path, glob.get("core:datatype"))
    channels = glob.get("core:num_channels", 1)
    if channels != 1:
        raise FormatError(path, f"{channels} interleaved channels are not supported")
    if any(c.get("core:header_bytes") for c in captures):
        raise FormatError(path, "captures with core:header_bytes are not supported")
    first = captures[0] if captures else {}
    dt = first.get("core:datetime")
    dataset = glob.get("core:dataset")
    return SigmfMeta(
        sample_type=sample_type,
        endian=endian,
        fs=_number(path, glob, "core:sample_rate"),
        fc=_number(path, first, "core:frequency"),
        t0=parse_datetime(path, dt) if dt is not None else None,
        annotations=annotations,
        captures=captures,
        global_=glob,
        dataset=dataset if isinstance(dataset, str) else None,
    )
