"""wfm_writer.write_blue_header: the detached header file."""

import os
from pathlib import Path

import pytest

from wfm_writer import write_blue_header


def header(fields: dict[int, str]) -> bytes:
    """512 zero bytes with the given hex fields at their offsets."""
    block = bytearray(512)
    for offset, text in fields.items():
        value = bytes.fromhex(text)
        block[offset:offset + len(value)] = value
    return bytes(block)


DEFAULTS = header({
    0: "424c5545 45454549 45454549",  # BLUE, EEEI, EEEI
    12: "01000000",                   # detached
    48: "e8030000 4346",              # type 1000, CF
    264: "8dedb5a0f7c6b03e",          # xdelta 1e-6
    272: "01000000",                  # xunits
})

EVERYTHING_BIG_ENDIAN = header({
    0: "424c5545 49454545 49454545",  # BLUE, IEEE, IEEE
    12: "00000001",
    32: "4090000000000000",           # data start 1024.0
    40: "4044000000000000",           # data size 10 x 4 bytes
    48: "000003e8 4349",              # type 1000, CI
    56: "41e15e51d0000000",           # timecode 1700000000 + 631152000
    160: "00000010" + b"FREQ=1200000000\0".hex(),
    264: "3eb0c6f7a0b5ed8d",
    272: "00000001",
})


def test_defaults_write_a_detached_little_endian_cf32_header(tmp_path):
    path = tmp_path / "cap.hdr"
    assert write_blue_header(path, 1e6) is None
    assert path.read_bytes() == DEFAULTS


@pytest.mark.parametrize("args, kwargs", [
    ((1e6, "ci16", "be", 1.2e9, 1024.0, 10, 5, 1700000000.0), {}),
    ((), {"t0": 1700000000.0, "detached": 5, "total": 10, "data_start": 1024.0,
          "fc": 1.2e9, "endian": "be", "sample_type": "ci16", "fs": 1e6}),
], ids=["positional", "keywords"])
def test_every_argument_reaches_the_header(tmp_path, args, kwargs):
    path = tmp_path / "cap.hdr"
    write_blue_header(path, *args, **kwargs)
    assert path.read_bytes() == EVERYTHING_BIG_ENDIAN


@pytest.mark.parametrize("make_path", [str, os.fsencode, Path])
def test_path_forms(tmp_path, make_path):
    path = tmp_path / "cap.hdr"
    write_blue_header(make_path(path), 1e6)
    assert path.read_bytes() == DEFAULTS


@pytest.mark.parametrize("kwargs, message", [
    ({"sample_type": "CF32"},
     "invalid sample_type 'CF32' (choices: cf32, cf64, ci32, ci16, ci8)"),
    ({"sample_type": "ci4", "endian": "xx"},
     "invalid sample_type 'ci4' (choices: cf32, cf64, ci32, ci16, ci8)"),
    ({"endian": "big"}, "invalid endian 'big' (choices: le, be)"),
])
def test_bad_codes_raise_before_any_file_is_touched(tmp_path, kwargs, message):
    path = tmp_path / "cap.hdr"
    path.write_bytes(b"keep")
    with pytest.raises(ValueError) as info:
        write_blue_header(path, 1e6, **kwargs)
    assert str(info.value) == message
    assert path.read_bytes() == b"keep"


def test_failed_write_raises_runtime_error(tmp_path):
    with pytest.raises(RuntimeError) as info:
        write_blue_header(tmp_path / "missing" / "cap.hdr", 1e6)
    assert str(info.value) == "write_blue_header failed (rc=-1)"


@pytest.mark.parametrize("args, kwargs, error", [
    (("cap.hdr",), {}, TypeError),
    (("cap.hdr", 1e6), {"detached": 1.5}, TypeError),
    (("cap.hdr", 1e6), {"file_type": "raw"}, TypeError),
    (("cap\0.hdr", 1e6), {}, ValueError),
])
def test_parse_errors_are_the_interpreters(tmp_path, monkeypatch, args, kwargs, error):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(error):
        write_blue_header(*args, **kwargs)
    assert list(tmp_path.iterdir()) == []
