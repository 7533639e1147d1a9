"""Writer construction, the write conversions, metering and the lifecycle."""

import gc
import json
import os
import struct
import tracemalloc
from pathlib import Path

import numpy as np
import pytest

import wfm_writer
from conftest import samples, write_raw
from kestrix.wfm import Writer

HALF_QUARTER_CF32 = bytes.fromhex("0000003f000080be")  # (0.5, -0.25)


class PathLike:
    def __init__(self, path: Path) -> None:
        self.path = path

    def __fspath__(self) -> str:
        return str(self.path)


def test_defaults_are_raw_cf32_little_endian_with_sidecar(cap):
    with Writer(cap, 2.4e6) as w:
        assert w.write(samples(0.5 - 0.25j)) == 1
    assert cap.read_bytes() == HALF_QUARTER_CF32
    meta = json.loads((cap.parent / "cap.raw.sigmf-meta").read_text())
    assert meta["global"]["core:datatype"] == "cf32_le"
    assert meta["global"]["core:sample_rate"] == 2400000
    assert meta["captures"] == [{"core:sample_start": 0}]


@pytest.mark.parametrize("make_path", [str, os.fsencode, Path, PathLike],
                         ids=["str", "bytes", "Path", "PathLike"])
def test_path_forms(cap, make_path):
    with Writer(make_path(cap), 1e6, sidecar=False) as w:
        w.write(samples(0.5 - 0.25j))
    assert cap.read_bytes() == HALF_QUARTER_CF32


def test_arguments_by_position_and_by_keyword_agree(tmp_path):
    a, b = tmp_path / "a.csv", tmp_path / "b.csv"
    x = samples(0.5 - 1.0j)
    with Writer(a, 2.4e6, "csv", "ci16", "be", 1.2e9, 7, 6.0, 1700000000.25, True) as w:
        w.write(x)
    with Writer(sidecar=True, t0=1700000000.25, headroom=6.0, total=7, fc=1.2e9,
                endian="be", sample_type="ci16", file_type="csv", fs=2.4e6,
                path=b) as w:
        w.write(x)
    # headroom 6 dB scales by 0.5011872 before quantisation
    assert a.read_bytes() == b.read_bytes() == b"8211,-16422\n"
    meta_a = (tmp_path / "a.csv.sigmf-meta").read_text()
    assert meta_a == (tmp_path / "b.csv.sigmf-meta").read_text()
    meta = json.loads(meta_a)
    assert meta["global"]["core:datatype"] == "ci16_be"
    assert meta["captures"][0] == {"core:sample_start": 0,
                                   "core:datetime": "2023-11-14T22:13:20.250000Z",
                                   "core:frequency": 1200000000}


@pytest.mark.parametrize("sample_type, endian, expected", [
    ("cf32", "be", "3f000000be800000"),
    ("cf64", "le", "000000000000e03f000000000000d0bf"),
    ("ci32", "le", "ffffff3f010000e0"),
    ("ci16", "be", "3fffe001"),
    ("ci8", "le", "3fe1"),
])
def test_wire_type_and_byte_order_reach_the_writer(cap, sample_type, endian, expected):
    _, data = write_raw(cap, samples(0.5 - 0.25j), sample_type=sample_type, endian=endian)
    assert data == bytes.fromhex(expected)


@pytest.mark.parametrize("total, data_size", [
    (100, 800.0),
    (2**64 + 100, 800.0),  # taken modulo 2**64
    (100 - 2**64, 800.0),
])
def test_total_reaches_the_declared_blue_header(tmp_path, total, data_size):
    path = tmp_path / "cap.blue"
    w = Writer(path, 1e6, file_type="blue", total=total)
    w.flush()
    assert struct.unpack_from("<d", path.read_bytes(), 40) == (data_size,)
    w.close()
    assert struct.unpack_from("<d", path.read_bytes(), 40) == (0.0,)


@pytest.mark.parametrize("sidecar, written", [
    (True, True), (1, True), ("x", True), ([0], True),
    (False, False), (0, False), ("", False), ([], False),
])
def test_sidecar_takes_any_truth_value(cap, sidecar, written):
    Writer(cap, 1e6, sidecar=sidecar).close()
    assert (cap.parent / "cap.raw.sigmf-meta").exists() is written


def test_sigmf_capture_writes_its_metadata_pair(tmp_path):
    with Writer(tmp_path / "run1.sigmf-data", 1e6, file_type="sigmf", sidecar=False) as w:
        w.write(samples(0.5 - 0.25j))
    assert sorted(p.name for p in tmp_path.iterdir()) == ["run1.sigmf-data", "run1.sigmf-meta"]


# --- write() conversions -------------------------------------------------

STEP = np.arange(8, dtype=np.float32) / 8
GRID = (STEP[:, None] + 1j * STEP[None, :] / 2).astype(np.complex64)  # (8, 8)


@pytest.mark.parametrize("x, expected", [
    pytest.param(samples(0.5 - 0.25j), HALF_QUARTER_CF32, id="complex64"),
    pytest.param(np.array([0.5, -0.25], np.float32), "0000003f00000000000080be00000000",
                 id="float32-as-I"),
    pytest.param(np.array([1, -2], np.int16), "0000803f00000000000000c000000000", id="int16"),
    pytest.param(np.array([True]), "0000803f00000000", id="bool"),
    pytest.param([0.5 - 0.25j, 1j], "0000003f000080be000000000000803f", id="list"),
    pytest.param((0.5, -0.25), "0000003f00000000000080be00000000", id="tuple"),
    pytest.param(0.5 - 0.25j, HALF_QUARTER_CF32, id="python-scalar"),
    pytest.param(np.float64(0.5), "0000003f00000000", id="numpy-scalar"),
    pytest.param(np.array(0.5 - 0.25j, np.complex64), HALF_QUARTER_CF32, id="0-d"),
    pytest.param(samples(0.5 - 0.25j).astype(">c8"), HALF_QUARTER_CF32, id="byte-swapped"),
    pytest.param(np.zeros(0, np.complex64), "", id="empty"),
    pytest.param(np.zeros((3, 0), np.complex64), "", id="empty-2d"),
])
def test_write_converts_to_complex64(cap, x, expected):
    n, data = write_raw(cap, x)
    expected = bytes.fromhex(expected) if isinstance(expected, str) else expected
    assert (n, data) == (len(expected) // 8, expected)


@pytest.mark.parametrize("x, order", [
    pytest.param(GRID, GRID.ravel(), id="2-d-row-major"),
    pytest.param(np.asfortranarray(GRID), GRID.ravel(), id="fortran-order"),
    pytest.param(GRID.ravel()[::3], GRID.ravel()[::3], id="strided"),
    pytest.param(GRID[:, ::-2], GRID[:, ::-2].ravel(), id="negative-strides"),
])
def test_write_emits_any_layout_in_row_major_order(cap, x, order):
    n, data = write_raw(cap, x)
    assert n == order.size
    np.testing.assert_array_equal(np.frombuffer(data, "<c8"), order)


def test_unaligned_view_is_written_correctly(cap):
    raw = bytearray(1) + samples(0.5 - 0.25j, 1j).tobytes()
    view = np.frombuffer(raw, np.complex64, offset=1)
    assert not view.flags.aligned
    assert write_raw(cap, view) == (2, HALF_QUARTER_CF32 + bytes.fromhex("000000000000803f"))


@pytest.mark.parametrize("dtype", [np.float64, np.complex128, np.int32, np.uint32, np.int64])
def test_unsafe_casts_are_refused_and_write_nothing(cap, dtype):
    with Writer(cap, 1e6, sidecar=False) as w:
        with pytest.raises(TypeError, match="according to the rule 'safe'"):
            w.write(np.zeros(16, dtype))
    assert cap.read_bytes() == b""


@pytest.mark.parametrize("x, error", [
    (["a"], ValueError),
    ([1, object()], TypeError),
    (object(), TypeError),
])
def test_non_numbers_raise_numpy_errors(cap, x, error):
    with Writer(cap, 1e6, sidecar=False) as w:
        with pytest.raises(error):
            w.write(x)
    assert cap.read_bytes() == b""


def test_contiguous_complex64_is_written_without_a_copy(cap):
    block = np.ones(1 << 17, np.complex64)  # 1 MiB
    with Writer(cap, 1e6, sidecar=False) as w:
        tracemalloc.start()
        try:
            for x, copied in ((block, False), (block.real.copy(), True)):
                tracemalloc.reset_peak()
                before = tracemalloc.get_traced_memory()[0]
                assert w.write(x) == block.size
                grew = tracemalloc.get_traced_memory()[1] - before
                assert (grew >= block.nbytes) is copied
        finally:
            tracemalloc.stop()


# --- metering -------------------------------------------------------------

def test_meter_before_any_write(cap):
    with Writer(cap, 1e6, sample_type="ci16") as w:
        assert w.peak_dbfs == float("-inf")
        assert w.clip_fraction == 0.0
        assert w.clipped is False


@pytest.mark.parametrize("sample_type, clipped", [("ci16", True), ("cf32", False)])
def test_peak_and_clipped(cap, sample_type, clipped):
    with Writer(cap, 1e6, sample_type=sample_type) as w:
        w.write(samples(0.5 - 2.0j))
        assert w.peak_dbfs == 6.020599913279624
        assert w.clipped is clipped
        assert w.clip_fraction == 0.0  # counter off


@pytest.mark.parametrize("args, kwargs, fraction", [
    ((), {}, 0.375),
    ((1,), {}, 0.375),
    ((), {"on": 5}, 0.375),
    ((0,), {}, 0.0),
    ((-1,), {}, 0.375),
])
def test_track_clipping_switch(cap, args, kwargs, fraction):
    with Writer(cap, 1e6, sample_type="ci16") as w:
        assert w.track_clipping(*args, **kwargs) is None
        w.write(samples(2 + 0j, -1.5 + 1j, 0.5 + 3j, 1 - 1j))
        assert w.clip_fraction == fraction


def test_track_clipping_refuses_a_float(cap):
    with Writer(cap, 1e6) as w:
        with pytest.raises(TypeError):
            w.track_clipping(1.5)


# --- lifecycle --------------------------------------------------------------

def test_with_returns_the_same_object_and_releases_it(cap):
    w = Writer(cap, 1e6)
    with w as entered:
        assert entered is w
    with pytest.raises(RuntimeError, match="^destroyed$"):
        w.flush()


def test_exit_does_not_suppress_the_body_exception(cap):
    with pytest.raises(KeyError):
        with Writer(cap, 1e6) as w:
            raise KeyError("body")
    with pytest.raises(RuntimeError, match="^destroyed$"):
        w.peak_dbfs


@pytest.mark.parametrize("release", ["close", "destroy", "__exit__"])
def test_release_finalises_and_is_idempotent(cap, release):
    w = Writer(cap, 1e6)
    w.write(samples(0.5 - 0.25j))
    assert getattr(w, release)() is None
    assert cap.read_bytes() == HALF_QUARTER_CF32
    assert (cap.parent / "cap.raw.sigmf-meta").exists()
    assert w.close() is None
    assert w.destroy() is None
    assert w.__exit__(None, None, None) is None
    assert w.__exit__() is None
    with w as again:
        assert again is w


@pytest.mark.parametrize("call", [
    lambda w: w.write(samples(0j)),
    lambda w: w.write(),
    lambda w: w.write(x=1, bogus=2),
    lambda w: w.flush(),
    lambda w: w.track_clipping(),
    lambda w: w.track_clipping(1.5),
    lambda w: w.add_keyword("COMMENT", "A", "x"),
    lambda w: w.add_keyword(),
    lambda w: w.peak_dbfs,
    lambda w: w.clip_fraction,
    lambda w: w.clipped,
], ids=["write", "write-no-arg", "write-bad-args", "flush", "track_clipping",
        "track_clipping-bad-arg", "add_keyword", "add_keyword-no-args",
        "peak_dbfs", "clip_fraction", "clipped"])
@pytest.mark.parametrize("state", ["released", "unopened"])
def test_operations_without_a_writer_raise_destroyed(cap, call, state):
    if state == "released":
        w = Writer(cap, 1e6)
        w.close()
    else:
        w = Writer.__new__(Writer)
        assert w.close() is None
    with pytest.raises(RuntimeError, match="^destroyed$"):
        call(w)


def test_dropping_the_last_reference_finalises(tmp_path):
    path = tmp_path / "cap.blue"
    w = Writer(path, 1e6, file_type="blue")
    w.write(samples(0.5 - 0.25j, 0j))
    del w
    gc.collect()
    data = path.read_bytes()
    assert len(data) == 512 + 16
    assert struct.unpack_from("<d", data, 40) == (16.0,)


def test_second_init_finalises_the_open_capture_first(tmp_path):
    first, second = tmp_path / "first.raw", tmp_path / "second.raw"
    w = Writer(first, 1e6)
    w.write(samples(0.5 - 0.25j))
    assert w.__init__(second, 1e6, sidecar=False) is None
    assert first.read_bytes() == HALF_QUARTER_CF32
    assert (tmp_path / "first.raw.sigmf-meta").exists()
    w.write(samples(0.5 - 0.25j, 0.5 - 0.25j))
    w.close()
    assert second.read_bytes() == HALF_QUARTER_CF32 * 2


def test_second_init_with_a_bad_argument_keeps_the_open_capture(cap):
    w = Writer(cap, 1e6, sidecar=False)
    with pytest.raises(ValueError):
        w.__init__(cap, 1e6, file_type="nope")
    w.write(samples(0.5 - 0.25j))
    w.close()
    assert cap.read_bytes() == HALF_QUARTER_CF32


# --- the type ---------------------------------------------------------------

@pytest.mark.parametrize("name", ["peak_dbfs", "clip_fraction", "clipped"])
def test_properties_are_read_only(cap, name):
    with Writer(cap, 1e6) as w:
        with pytest.raises(AttributeError):
            setattr(w, name, 0)
        with pytest.raises(AttributeError):
            delattr(w, name)


def test_instances_take_no_new_attributes(cap):
    with Writer(cap, 1e6) as w:
        with pytest.raises(AttributeError):
            w.extra = 1
        assert not hasattr(w, "__dict__")


def test_writer_cannot_be_subclassed():
    with pytest.raises(TypeError):
        type("Sub", (Writer,), {})


def test_module_attributes():
    assert Writer is wfm_writer.Writer
    assert Writer.__module__ == "wfm_writer"
    assert Writer.__qualname__ == "Writer"
    assert [n for n in dir(wfm_writer) if not n.startswith("__")] == ["Writer",
                                                                    "write_blue_header"]
    assert Writer.destroy.__doc__ == Writer.close.__doc__
