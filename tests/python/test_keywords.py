"""Writer.add_keyword: conversions per type code, messages, and the file."""

import struct

import numpy as np
import pytest

from conftest import extended_header, samples
from kestrix.wfm import Writer


class Index:
    def __init__(self, value, action=None):
        self.value, self.action = value, action

    def __index__(self):
        if self.action:
            self.action()
        return self.value


def blue_keywords(path, *keywords, **kwargs):
    """Closes a BLUE capture holding the keywords; returns the file bytes."""
    with Writer(path, 1e6, file_type="blue", **kwargs) as w:
        for tag, code, value in keywords:
            assert w.add_keyword(tag, code, value) is None
    return path.read_bytes()


# Records of the tag "K" (4b): length, non-data length, tag length 1, code,
# the elements in little-endian order, the tag, zero padding to 8 bytes.
@pytest.mark.parametrize("code, value, record", [
    ("B", 300, "10000000 0f00 01 42  2c  4b 000000000000"),
    ("B", -1, "10000000 0f00 01 42  ff  4b 000000000000"),
    ("B", b"\x01\xff", "10000000 0e00 01 42  01ff  4b 0000000000"),
    ("B", True, "10000000 0f00 01 42  01  4b 000000000000"),
    ("I", 7, "10000000 0e00 01 49  0700  4b 0000000000"),
    ("I", [1, 2, 3], "10000000 0a00 01 49  010002000300  4b 00"),
    ("I", (70000,), "10000000 0e00 01 49  7011  4b 0000000000"),
    ("I", np.array([1, -1], np.int16), "10000000 0c00 01 49  0100ffff  4b 000000"),
    ("L", -1, "10000000 0c00 01 4c  ffffffff  4b 000000"),
    ("L", Index(258), "10000000 0c00 01 4c  02010000  4b 000000"),
    ("T", 2**32 + 5, "10000000 0c00 01 54  05000000  4b 000000"),
    ("X", -2, "18000000 1000 01 58  feffffffffffffff  4b 00000000000000"),
    ("X", 2**63 - 1, "18000000 1000 01 58  ffffffffffffff7f  4b 00000000000000"),
    ("X", -(2**63), "18000000 1000 01 58  0000000000000080  4b 00000000000000"),
    ("F", 0.1, "10000000 0c00 01 46  cdcccc3d  4b 000000"),
    ("F", 1e300, "10000000 0c00 01 46  0000807f  4b 000000"),
    ("F", 2, "10000000 0c00 01 46  00000040  4b 000000"),
    ("D", 3, "18000000 1000 01 44  0000000000000840  4b 00000000000000"),
    ("D", [0.5, True], "20000000 1000 01 44  000000000000e03f 000000000000f03f  4b 00000000000000"),
    ("A", "demo", "10000000 0c00 01 41  64656d6f  4b 000000"),
    ("A", "é", "10000000 0e00 01 41  c3a9  4b 0000000000"),
])
def test_each_code_stores_its_elements(cap, code, value, record):
    data = blue_keywords(cap, ("K", code, value))
    assert extended_header(data) == bytes.fromhex(record)


def test_the_capture_carries_its_keywords_after_close(tmp_path):
    path = tmp_path / "cap.blue"
    with Writer(path, 2.4e6, file_type="blue", fc=1.2e9) as w:
        w.write(np.zeros(1024, np.complex64))
        w.add_keyword("COMMENT", "A", "demo")
    data = path.read_bytes()
    assert len(data) == 8752
    assert data[24:32] == bytes.fromhex("11000000 30000000")  # ext_start 17, ext_size 48
    assert data[40:48] == bytes.fromhex("000000000000c040")  # data size 8192.0
    assert data[160:180] == bytes.fromhex("10000000") + b"FREQ=1200000000\0"
    assert data[8704:] == bytes.fromhex(
        "18000000 1000 04 44 00000000a3e1d141 46524551 00000000"
        "18000000 1400 07 41 64656d6f 434f4d4d454e54 0000000000")


def test_big_endian_capture_reverses_the_elements(cap):
    with Writer(cap, 1e6, file_type="blue", endian="be") as w:
        w.add_keyword("TC_PREC", "L", [1, -2])
    data = cap.read_bytes()
    ext_start, ext_size = struct.unpack_from(">ii", data, 24)
    assert data[ext_start * 512:][:ext_size] == bytes.fromhex(
        "00000018 0010 07 4c 00000001 fffffffe") + b"TC_PREC\0"


def test_main_header_keyword_lands_in_the_header_text(cap):
    data = blue_keywords(cap, ("VER", "A", "1"))
    assert len(data) == 512
    assert data[160:174] == bytes.fromhex("06000000") + b"VER=1\0" + bytes(4)


def test_keywords_follow_the_order_they_were_added(cap):
    data = blue_keywords(cap, ("K", "B", 1), ("K", "B", 2))
    assert extended_header(data) == bytes.fromhex(
        "10000000 0f00 01 42 01 4b 000000000000"
        "10000000 0f00 01 42 02 4b 000000000000")


def test_keyword_arguments(cap):
    data = blue_keywords(cap)  # nothing added: no extended header
    assert len(data) == 512
    with Writer(cap, 1e6, file_type="blue") as w:
        w.add_keyword(value=[5], type="I", tag="K")
    assert extended_header(cap.read_bytes()) == bytes.fromhex("10000000 0e00 01 49 0500 4b 0000000000")


@pytest.mark.parametrize("args, error, message", [
    (("K", "a", "x"), ValueError, "unsupported code 'a'"),
    (("K", "Q", 1), ValueError, "unsupported code 'Q'"),
    (("K", "1", 1), ValueError, "unsupported code '1'"),
    (("K", "é", 1), ValueError, "unsupported code 'é'"),
    (("K", "A", b"demo"), TypeError, "value must be a str"),
    (("K", "A", 5), TypeError, "value must be a str"),
    (("K", "A", ""), ValueError, "add_keyword failed"),
    (("", "B", 1), ValueError, "add_keyword failed"),
    (("T" * 256, "B", 1), ValueError, "add_keyword failed"),
    (("K", "I", []), ValueError, "value sequence is empty"),
    (("K", "I", b""), ValueError, "value sequence is empty"),
    (("K", "I", np.array(5)), TypeError, "value must be a number or a sequence"),
])
def test_refused_keywords_raise_fixed_messages_and_add_nothing(cap, args, error, message):
    with Writer(cap, 1e6, file_type="blue") as w:
        with pytest.raises(error) as info:
            w.add_keyword(*args)
        assert str(info.value) == message
    assert len(cap.read_bytes()) == 512


@pytest.mark.parametrize("args, error", [
    (("K", "AB", "x"), TypeError),
    (("K", "", "x"), TypeError),
    ((1, "A", "x"), TypeError),
    (("K", "A"), TypeError),
    (("K\0", "A", "x"), ValueError),
    (("K", "I", "123"), TypeError),
    (("K", "I", 1.5), TypeError),
    (("K", "I", {1, 2}), TypeError),
    (("K", "I", iter([1])), TypeError),
    (("K", "X", 2**63), OverflowError),
    (("K", "B", [1, 2**64]), OverflowError),
    (("K", "F", [1.0, "x"]), TypeError),
    (("K", "D", None), TypeError),
    (("K", "A", "\udc80"), UnicodeEncodeError),
])
def test_interpreter_errors_propagate_and_add_nothing(cap, args, error):
    with Writer(cap, 1e6, file_type="blue") as w:
        with pytest.raises(error):
            w.add_keyword(*args)
    assert len(cap.read_bytes()) == 512


@pytest.mark.parametrize("file_type, name", [
    ("raw", "cap.raw"), ("csv", "cap.csv"), ("sigmf", "cap.sigmf-data")])
def test_only_blue_captures_take_keywords(tmp_path, file_type, name):
    with Writer(tmp_path / name, 1e6, file_type=file_type) as w:
        with pytest.raises(ValueError, match="^add_keyword failed$"):
            w.add_keyword("COMMENT", "A", "demo")


def test_writer_released_during_conversion_refuses_the_keyword(cap):
    w = Writer(cap, 1e6, file_type="blue")
    with pytest.raises(ValueError, match="^add_keyword failed$"):
        w.add_keyword("K", "I", [1, Index(2, w.close)])
    assert len(cap.read_bytes()) == 512
    with pytest.raises(RuntimeError, match="^destroyed$"):
        w.add_keyword("K", "I", 1)


def test_list_changed_during_conversion_is_read_as_it_was(cap):
    values = [1]
    values += [Index(2, values.clear), 3]
    data = blue_keywords(cap, ("K", "I", values))
    assert extended_header(data) == bytes.fromhex("10000000 0a00 01 49 010002000300 4b 00")
