"""Capture writer for complex baseband (I/Q) samples, and its reader."""

from wfm_writer import Writer, write_blue_header

from .reader import Capture, CaptureWarning, FormatError, Keyword, read, sidecar_path

__all__ = [
    "Writer",
    "write_blue_header",
    "read",
    "Capture",
    "CaptureWarning",
    "FormatError",
    "Keyword",
    "sidecar_path",
]
