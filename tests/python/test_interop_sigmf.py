"""Interoperability with the public sigmf package, both ways."""

import json

import numpy as np
import pytest

from kestrix.wfm.reader import read, sidecar_path
from test_reader import ORDERS, TYPES, WIRE, probe_signal, quantise

sigmf = pytest.importorskip("sigmf")
if not hasattr(sigmf, "fromfile"):  # the source tree's sigmf/ directory, not the package
    pytest.skip("the sigmf package is not installed", allow_module_level=True)
ww = pytest.importorskip("wfm_writer")
from sigmf import SigMFFile  # noqa: E402


def sigmf_scale(st):
    """sigmf divides integers by 2^(n-1); this writer's full scale is 2^(n-1) - 1."""
    bits = 8 * np.dtype(WIRE[st][1]).itemsize
    return 2.0 ** (bits - 1) if WIRE[st][2] else 1.0


def assert_same_samples(theirs, cap, st):
    """sigmf's samples, undone to stored values, equal ours."""
    stored = np.asarray(theirs, np.complex64).view(np.float32).reshape(-1, 2).astype(np.float64)
    stored *= sigmf_scale(st)
    ours = np.asarray(cap.raw).astype(np.float64)
    assert stored.shape == ours.shape
    if st in ("ci32", "cf64"):  # sigmf returns float32, which rounds these
        nan = np.isnan(ours)
        assert np.array_equal(np.isnan(stored), nan)
        np.testing.assert_allclose(stored[~nan], ours[~nan], rtol=2.0**-24, atol=0)
    else:
        assert np.array_equal(stored, ours, equal_nan=True)
    # and the two unit scales differ by exactly full scale / 2^(n-1)
    if WIRE[st][2]:
        ratio = WIRE[st][2] / sigmf_scale(st)
        np.testing.assert_allclose(np.asarray(theirs), cap.samples * ratio, rtol=1e-6, atol=1e-7)


@pytest.mark.parametrize("endian", ORDERS)
@pytest.mark.parametrize("st", TYPES)
def test_writer_recordings_validate_and_read_the_same(tmp_path, st, endian):
    x = probe_signal()
    path = tmp_path / "rec.sigmf-data"
    with ww.Writer(path, 2.4e6, "sigmf", st, endian, fc=1.2e9, t0=1700000000.25) as w:
        w.write(x)
    handle = sigmf.fromfile(str(tmp_path / "rec.sigmf-meta"))
    handle.validate()
    assert handle.get_global_field("core:sample_rate") == 2.4e6
    assert handle.get_captures()[0]["core:frequency"] == 1.2e9
    cap = read(path)
    assert_same_samples(handle.read_samples(), cap, st)
    assert np.array_equal(cap.raw, quantise(x, st), equal_nan=True)


@pytest.mark.parametrize("endian", ORDERS)
@pytest.mark.parametrize("st", TYPES)
@pytest.mark.parametrize("container", ["raw", "csv"])
def test_writer_sidecars_validate(tmp_path, container, st, endian):
    x = probe_signal()
    path = tmp_path / f"cap.{container}"
    with ww.Writer(path, 1e6, container, st, endian, fc=915e6, t0=1.6e9) as w:
        w.write(x)
    meta = json.loads(open(sidecar_path(path)).read())
    if container == "csv":
        SigMFFile(metadata=meta).validate()  # the text data is for no SigMF reader
        return
    # another SigMF tool opens a sidecar by pairing its metadata with the data file
    handle = SigMFFile(metadata=meta, data_file=str(path))
    handle.validate()
    assert_same_samples(handle.read_samples(), read(path), st)


SIGMF_TYPES = ["cf32_le", "cf64_be", "ci32_le", "ci16_be", "ci8", "ci16_le"]


@pytest.mark.parametrize("datatype", SIGMF_TYPES)
def test_sigmf_recordings_are_read(tmp_path, datatype):
    st = datatype.split("_")[0]
    order = "<" if not datatype.endswith("_be") else ">"
    rng = np.random.default_rng(5)
    if WIRE[st][2]:
        comps = rng.integers(-WIRE[st][2], WIRE[st][2] + 1, (50, 2))
    else:
        comps = rng.uniform(-1, 1, (50, 2))
    comps = comps.astype(np.dtype(order + WIRE[st][1]) if WIRE[st][1] != "i1" else "i1")
    data = tmp_path / "theirs.sigmf-data"
    comps.tofile(data)
    ann = {"core:freq_lower_edge": 99.9e6, "core:freq_upper_edge": 100.1e6, "core:label": "burst"}
    handle = SigMFFile(data_file=str(data), global_info={
        "core:datatype": datatype, "core:sample_rate": 48000,
        "core:version": sigmf.__specification__})
    handle.add_capture(0, metadata={"core:frequency": 100e6,
                                    "core:datetime": "2024-01-31T12:00:00.123456Z"})
    handle.add_annotation(10, 20, metadata=ann)
    handle.tofile(str(tmp_path / "theirs.sigmf-meta"))

    cap = read(tmp_path / "theirs")
    assert (cap.container, cap.sample_type, cap.fs, cap.fc) == ("sigmf", st, 48000.0, 100e6)
    assert cap.t0 == pytest.approx(1706702400.123456, abs=1e-9)
    np.testing.assert_array_equal(cap.raw, comps)
    assert len(cap.annotations) == 1
    a = cap.annotations[0]
    assert (a["core:sample_start"], a["core:sample_count"], a["core:label"]) == (10, 20, "burst")
    assert_same_samples(sigmf.fromfile(str(tmp_path / "theirs.sigmf-meta")).read_samples(), cap, st)
