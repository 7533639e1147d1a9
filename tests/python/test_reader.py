"""The reader: files built byte by byte here, and round trips through the writer."""

import json
import os
import shutil
import struct
import warnings
from pathlib import Path

import numpy as np
import pytest

from kestrix.wfm.reader import CaptureWarning, FormatError, Keyword, read, sidecar_path

WIRE = {  # name: (BLUE format, component kind and bytes, full scale)
    "cf32": (b"CF", "f4", 0),
    "cf64": (b"CD", "f8", 0),
    "ci32": (b"CL", "i4", 2147483647),
    "ci16": (b"CI", "i2", 32767),
    "ci8": (b"CB", "i1", 127),
}
TYPES = list(WIRE)
ORDERS = ["le", "be"]
J1950 = 631152000.0


def comp_dtype(st, endian="le"):
    kind = WIRE[st][1]
    return np.dtype(("<" if endian == "le" else ">") + kind)


def quantise(x, st, headroom=0.0):
    """Independent model of the writer: (n, 2) stored components, native order."""
    gain = np.float32(10.0 ** (headroom * -0.05)) if headroom else np.float32(1.0)
    y = np.asarray(x, np.complex64).view(np.float32).reshape(-1, 2) * gain
    scale = WIRE[st][2]
    if not scale:
        return y.astype(WIRE[st][1])
    q = np.clip(y, np.float32(-1), np.float32(1)).astype(np.float64) * scale
    return np.trunc(np.nan_to_num(q, nan=0.0)).astype(WIRE[st][1])


def unit(comps, st):
    """The unit-scale complex64 a reader must return for stored components."""
    scale = WIRE[st][2]
    c = np.asarray(comps)
    f = (c.astype(np.float64) / scale).astype(np.float32) if scale else c.astype(np.float32)
    return f.reshape(-1, 2).copy().view(np.complex64).ravel()


def sample_comps(st, n=37, seed=1):
    """Stored values spanning the type's range, extremes included."""
    rng = np.random.default_rng(seed)
    scale = WIRE[st][2]
    if scale:
        c = rng.integers(-scale, scale + 1, size=(n, 2))
        c[0] = (scale, -scale)
        c[1] = (0, 1)
        return c.astype(WIRE[st][1])
    c = rng.uniform(-1.5, 1.5, size=(n, 2)).astype(WIRE[st][1])
    c[0] = (1.0, -1.0)
    c[1] = (1e-30, -0.0)
    return c


def meta_doc(st, endian, fs=None, fc=None, dt=None, annotations=()):
    g = {"core:datatype": st if st == "ci8" else f"{st}_{endian}", "core:version": "1.0.0"}
    if fs:
        g["core:sample_rate"] = fs
    cap = {"core:sample_start": 0}
    if dt:
        cap["core:datetime"] = dt
    if fc:
        cap["core:frequency"] = fc
    return json.dumps({"global": g, "captures": [cap], "annotations": list(annotations)})


def ext_record(tag, code, values, endian="le"):
    o = "<" if endian == "le" else ">"
    tag_b = tag.encode()
    if code == "A":
        val = values.encode()
    else:
        kind = {"B": "i1", "I": "i2", "L": "i4", "T": "i4", "X": "i8", "F": "f4", "D": "f8"}[code]
        val = np.asarray(values, dtype=np.dtype(o + kind) if kind != "i1" else "i1").tobytes()
    size = -(-(8 + len(tag_b) + len(val)) // 8) * 8
    rec = struct.pack(o + "ihB", size, size - len(val), len(tag_b)) + code.encode() + val + tag_b
    return rec + bytes(size - len(rec))


def blue_file(st, endian, comps, *, fs=2.4e6, fc=0.0, t0=0.0, ext=b"", main_kw=b"",
              declared=None, detached=0, data_start=512.0):
    """A BLUE type-1000 file laid out field by field; declared=None means
    closed (data size equal to the data present), else that sample count."""
    o = "<" if endian == "le" else ">"
    data = np.asarray(comps).astype(comp_dtype(st, endian)).tobytes()
    bps = 2 * np.dtype(WIRE[st][1]).itemsize
    h = bytearray(512)
    rep = b"EEEI" if endian == "le" else b"IEEE"
    h[0:12] = b"BLUE" + rep + rep
    struct.pack_into(o + "i", h, 12, detached)
    struct.pack_into(o + "dd", h, 32, data_start, len(data) if declared is None else declared * bps)
    struct.pack_into(o + "i", h, 48, 1000)
    h[52:54] = WIRE[st][0]
    if t0:
        struct.pack_into(o + "d", h, 56, t0 + J1950)
    kw = (b"FREQ=%.17g\0" % fc if fc else b"") + main_kw
    struct.pack_into(o + "i", h, 160, len(kw))
    h[164 : 164 + len(kw)] = kw
    struct.pack_into(o + "d", h, 264, 1.0 / fs if fs else 0.0)
    struct.pack_into(o + "i", h, 272, 1)
    if detached:
        return bytes(h), data
    if declared is not None:  # close never ran: no patches, no extended header
        return bytes(h) + data
    if fc:
        ext = ext_record("FREQ", "D", [fc], endian) + ext
    body = bytes(h) + data
    if ext:
        body += bytes(-len(body) % 512)
        h2 = bytearray(body)
        struct.pack_into(o + "ii", h2, 24, len(body) // 512, len(ext))
        body = bytes(h2) + ext
    return body


def assert_csv_cf32(raw, expect):
    """Nine decimals, then rounding to float32: within 5e-10 plus one ulp."""
    raw, expect = np.asarray(raw), np.asarray(expect, np.float32)
    assert raw.dtype == np.float32
    nan = np.isnan(expect)
    assert np.array_equal(np.isnan(raw), nan)
    assert np.all(np.abs(raw - expect)[~nan] <= 5e-10 + np.spacing(np.abs(expect[~nan])))


def check_samples(cap, comps, st):
    assert cap.sample_count == len(comps) == len(cap)
    np.testing.assert_array_equal(np.asarray(cap.raw), comps)
    assert cap.samples.dtype == np.complex64
    np.testing.assert_array_equal(cap.samples, unit(comps, st))


# -- files built here -------------------------------------------------------


@pytest.mark.parametrize("endian", ORDERS)
@pytest.mark.parametrize("st", TYPES)
@pytest.mark.parametrize("container", ["raw", "sigmf", "blue"])
def test_packed_containers(tmp_path, container, st, endian):
    comps = sample_comps(st)
    fs, fc, t0 = 2.4e6, 1.2e9, 1700000000.25
    data = comps.astype(comp_dtype(st, endian)).tobytes()
    if container == "blue":
        path = tmp_path / "cap.blue"
        path.write_bytes(blue_file(st, endian, comps, fs=fs, fc=fc, t0=t0))
    else:
        path = tmp_path / ("cap.sigmf-data" if container == "sigmf" else "cap.iq")
        path.write_bytes(data)
        Path(sidecar_path(path)).write_text(meta_doc(st, endian, fs, fc, "2023-11-14T22:13:20.250000Z"))
    cap = read(path)
    assert cap.container == container
    assert (cap.sample_type, cap.fs, cap.fc) == (st, fs, fc)
    assert cap.t0 == pytest.approx(t0, abs=1e-6)
    # SigMF names no byte order for one-byte types; BLUE always does
    assert cap.endian == (None if st == "ci8" and container != "blue" else endian)
    assert cap.raw.dtype == comp_dtype(st, endian) or st == "ci8"
    check_samples(cap, comps, st)
    if container != "csv":
        assert isinstance(cap.raw, np.memmap)
    # slices, single samples and streamed blocks agree with the whole
    whole = cap.samples
    np.testing.assert_array_equal(cap[5:17:3], whole[5:17:3])
    assert cap[-1] == whole[-1]
    np.testing.assert_array_equal(np.concatenate(list(cap.blocks(10))), whole)
    np.testing.assert_array_equal(cap.read(30, 100), whole[30:])


@pytest.mark.parametrize("st", TYPES)
def test_csv_text(tmp_path, st):
    comps = sample_comps(st)
    fmt = {"cf32": "%0.9f,%0.9f\n", "cf64": "%0.17g,%0.17g\n"}.get(st, "%d,%d\n")
    path = tmp_path / "cap.csv"
    path.write_text("".join(fmt % (float(i), float(q)) if fmt[1] != "d" else fmt % (i, q) for i, q in comps))
    Path(sidecar_path(path)).write_text(meta_doc(st, "be", 1e6))
    cap = read(path)
    assert (cap.container, cap.sample_type, cap.fs) == ("csv", st, 1e6)
    if st == "cf32":
        assert_csv_cf32(cap.raw, comps)
    else:
        check_samples(cap, comps, st)
    np.testing.assert_array_equal(np.concatenate(list(cap.blocks(8))), cap.samples)
    np.testing.assert_array_equal(np.concatenate(list(cap._csv_chunks(0, len(comps), 5))), cap.raw)


def test_csv_special_values_and_unfinished_line(tmp_path):
    path = tmp_path / "cap.csv"
    path.write_text("nan,-nan\ninf,-inf\n0.5,-0.25\n0.12")
    Path(sidecar_path(path)).write_text(meta_doc("cf64", "le"))
    with pytest.warns(CaptureWarning, match="last line is unfinished"):
        cap = read(path)
    assert len(cap) == 3 and not cap.complete
    s = cap.samples
    assert np.isnan(s[0].real) and np.isnan(s[0].imag)
    assert s[1] == complex(np.inf, -np.inf) and s[2] == 0.5 - 0.25j


def test_names_resolve_to_their_capture(tmp_path):
    comps = sample_comps("ci16", 8)
    data = comps.astype("<i2").tobytes()
    meta = meta_doc("ci16", "le", 1e6)
    (tmp_path / "rec.sigmf-data").write_bytes(data)
    (tmp_path / "rec.sigmf-meta").write_text(meta)
    for given in ("rec.sigmf-data", "rec.sigmf-meta", "rec"):
        cap = read(tmp_path / given)
        assert cap.container == "sigmf" and cap.path == str(tmp_path / "rec.sigmf-data")
        assert cap.meta_path == str(tmp_path / "rec.sigmf-meta")
    # sidecar: appended to the data path, given by either file
    (tmp_path / "cap.raw").write_bytes(data)
    (tmp_path / "cap.raw.sigmf-meta").write_text(meta)
    for given in ("cap.raw", "cap.raw.sigmf-meta"):
        cap = read(tmp_path / given)
        assert cap.container == "raw" and cap.path == str(tmp_path / "cap.raw")
    # a bare data file named by its metadata's base: x -> x.sigmf-meta
    (tmp_path / "x").write_bytes(data)
    (tmp_path / "x.sigmf-meta").write_text(meta)
    assert read(tmp_path / "x").path == str(tmp_path / "x")
    assert read(tmp_path / "x.sigmf-meta").path == str(tmp_path / "x")
    # detached BLUE header, given by the header or by the body
    hdr, body = blue_file("ci16", "be", comps, detached=1, data_start=0.0, fc=915e6, declared=8)
    (tmp_path / "d.hdr").write_bytes(hdr)
    (tmp_path / "d.det").write_bytes(body)
    for given in ("d.hdr", "d.det"):
        cap = read(tmp_path / given)
        assert (cap.container, cap.detached, cap.fc, cap.endian) == ("blue", True, 915e6, "be")
        assert cap.header_path == str(tmp_path / "d.hdr") and cap.path == str(tmp_path / "d.det")
        check_samples(cap, comps, "ci16")


def test_sidecar_name_rule():
    assert sidecar_path("cap.raw") == "cap.raw.sigmf-meta"
    assert sidecar_path("d/x.sigmf-data") == "d/x.sigmf-meta"
    assert sidecar_path("x.csv") == "x.csv.sigmf-meta"
    assert sidecar_path(".sigmf-data") == ".sigmf-meta"


def test_bare_complex64_files(tmp_path):
    x = (np.arange(10) * (0.1 - 0.2j)).astype(np.complex64)
    x.tofile(tmp_path / "a.cf32")
    np.save(tmp_path / "b.npy", x.astype(">c16"))
    a = read(tmp_path / "a.cf32")
    b = read(tmp_path / "b.npy")
    assert (a.container, a.sample_type, a.fs) == ("raw", "cf32", None)
    assert (b.container, b.sample_type, b.endian) == ("npy", "cf64", "be")
    np.testing.assert_array_equal(a.samples, x)
    np.testing.assert_array_equal(b.samples, x)


@pytest.mark.parametrize("endian", ORDERS)
def test_blue_keywords(tmp_path, endian):
    recs = [ext_record("COMMENT", "A", "demo", endian), ext_record("TC_PREC", "L", [1, -2], endian),
            ext_record("B8", "B", [-1, 44], endian), ext_record("I16", "I", [7], endian),
            ext_record("X64", "X", [-(2**62)], endian), ext_record("F32", "F", [0.1], endian),
            ext_record("T32", "T", [5], endian)]
    unknown = bytearray(ext_record("SKIP", "D", [1.0], endian))
    unknown[7] = ord("Z")  # a record of an unknown type is skipped, the walk goes on
    ext = b"".join(recs[:3]) + bytes(unknown) + b"".join(recs[3:])
    path = tmp_path / "k.blue"
    path.write_bytes(blue_file("ci8", endian, sample_comps("ci8", 3), fc=1.2e9, ext=ext,
                               main_kw=b"VER=1\0CREATOR=a=b\0"))
    cap = read(path)
    assert cap.keywords == [
        Keyword("FREQ", "A", "1200000000", "main"),
        Keyword("VER", "A", "1", "main"),
        Keyword("CREATOR", "A", "a=b", "main"),
        Keyword("FREQ", "D", 1.2e9, "ext"),
        Keyword("COMMENT", "A", "demo", "ext"),
        Keyword("TC_PREC", "L", [1, -2], "ext"),
        Keyword("B8", "B", [-1, 44], "ext"),
        Keyword("I16", "I", 7, "ext"),
        Keyword("X64", "X", -(2**62), "ext"),
        Keyword("F32", "F", float(np.float32(0.1)), "ext"),
        Keyword("T32", "T", 5, "ext"),
    ]
    assert cap.fc == 1.2e9


def test_metadata_not_stated_is_none(tmp_path):
    comps = sample_comps("ci16", 4)
    path = tmp_path / "n.blue"
    path.write_bytes(blue_file("ci16", "le", comps, fs=0.0))
    cap = read(path)
    assert (cap.fs, cap.fc, cap.t0, cap.keywords, cap.duration) == (None, None, None, [], None)
    (tmp_path / "n.raw").write_bytes(comps.tobytes())
    (tmp_path / "n.raw.sigmf-meta").write_text(meta_doc("ci16", "le"))
    cap = read(tmp_path / "n.raw")
    assert (cap.fs, cap.fc, cap.t0) == (None, None, None)


@pytest.mark.parametrize("declared, extra, count", [
    (0, b"", 10),  # close never ran and no total was given
    (100, b"\x01\x02\x03", 40),  # fewer samples than declared, a partial one at the end
])
def test_unfinished_blue_reads_whole_samples(tmp_path, declared, extra, count):
    comps = sample_comps("ci16", count)
    path = tmp_path / "u.blue"
    path.write_bytes(blue_file("ci16", "le", comps, fc=1e6, declared=declared)[: 512 + 4 * count] + extra)
    with pytest.warns(CaptureWarning, match=f"declares {declared} samples but the file holds {count}"):
        cap = read(path)
    assert (cap.declared_count, cap.sample_count, cap.complete) == (declared, count, False)
    assert cap.fc == 1e6  # the header text entry written at open
    check_samples(cap, comps, "ci16")


def test_finished_blue_reads_without_warning(tmp_path):
    path = tmp_path / "f.blue"
    path.write_bytes(blue_file("cf32", "be", sample_comps("cf32", 5), fc=2e9))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        cap = read(path)
    assert cap.complete and cap.declared_count == cap.sample_count == 5


def test_large_sparse_capture_is_mapped_not_loaded(tmp_path):
    """A 6 GiB capture: slicing touches only the pages it needs."""
    path = tmp_path / "big.raw"
    n = 6 * 2**30 // 4
    tail = np.array([[123, -456], [32767, -32767]], "<i2")
    with open(path, "wb") as f:
        f.truncate(n * 4 - tail.nbytes)
        f.seek(0, 2)
        f.write(tail.tobytes())
    (tmp_path / "big.raw.sigmf-meta").write_text(meta_doc("ci16", "le", 1e6))
    cap = read(path)
    assert cap.sample_count == n
    np.testing.assert_array_equal(cap.raw[-2:], tail)
    np.testing.assert_array_equal(cap[n - 2 :], unit(tail, "ci16"))
    assert cap[0] == 0


# -- errors --------------------------------------------------------------------


def _blue_patched(offset, fmt, value, **kw):
    b = bytearray(blue_file("ci16", "le", sample_comps("ci16", 200), **kw))
    if fmt:
        struct.pack_into(fmt, b, offset, *value)
    else:
        b[offset : offset + len(value)] = value
    return bytes(b)


ERRORS = {
    "short header": (b"BLUE" + bytes(100), "BLUE header is truncated"),
    "byte order": (_blue_patched(4, "", b"XXXX"), "unknown byte order"),
    "reps differ": (_blue_patched(8, "", b"IEEE"), "byte orders differ"),
    "type": (_blue_patched(48, "<i", (2000,)), "header type 2000"),
    "format": (_blue_patched(52, "", b"SB"), "data format"),
    "keylength": (_blue_patched(160, "<i", (93,)), "keyword length 93"),
    "data start": (_blue_patched(32, "<d", (100.0,)), "data start 100 lies inside the header"),
    "ext past end": (blue_file("ci16", "le", sample_comps("ci16", 200), fc=1e9)[:-1],
                     "truncated: the extended header"),
    "ext overlaps data": (_blue_patched(40, "<d", (2000.0,), fc=1e9), "overlap the extended header"),
    "ext record": (_blue_patched(1536, "<i", (4096,), fc=1e9), "malformed extended-header keyword record"),
    "not a capture": (b"hello world, this is not a capture", "unknown format"),
}


@pytest.mark.parametrize("case", list(ERRORS))
def test_bad_files_name_the_file_and_the_fault(tmp_path, case):
    content, what = ERRORS[case]
    path = tmp_path / "bad.blue"
    path.write_bytes(content)
    with pytest.raises(FormatError, match=what) as e:
        read(path)
    assert str(path) in str(e.value)


META_ERRORS = {
    "json": ("{not json", "not valid JSON"),
    "no global": ('{"captures": []}', 'no "global" object'),
    "datatype": (meta_doc("ci16", "le").replace("ci16_le", "ri16_le"), "unsupported datatype 'ri16_le'"),
    "no order": (meta_doc("ci16", "le").replace("ci16_le", "ci16"), "does not state its byte order"),
    "channels": (meta_doc("ci16", "le").replace('"core:version"', '"core:num_channels": 2, "core:version"'),
                 "2 interleaved channels"),
    "datetime": (meta_doc("ci16", "le", dt="yesterday"), "not an ISO-8601 UTC time"),
    "rate": (meta_doc("ci16", "le").replace('"core:version"', '"core:sample_rate": "fast", "core:version"'),
             "core:sample_rate is not a number"),
}


@pytest.mark.parametrize("case", list(META_ERRORS))
def test_bad_metadata(tmp_path, case):
    text, what = META_ERRORS[case]
    (tmp_path / "m.sigmf-data").write_bytes(bytes(8))
    (tmp_path / "m.sigmf-meta").write_text(text)
    with pytest.raises(FormatError, match=what) as e:
        read(tmp_path / "m.sigmf-data")
    assert "m.sigmf-meta" in str(e.value)


def test_missing_halves_and_paths(tmp_path):
    (tmp_path / "a.sigmf-meta").write_text(meta_doc("ci16", "le"))
    with pytest.raises(FormatError, match="data file is missing"):
        read(tmp_path / "a.sigmf-meta")
    (tmp_path / "b.sigmf-data").write_bytes(bytes(8))
    with pytest.raises(FormatError, match="without its metadata file"):
        read(tmp_path / "b.sigmf-data")
    hdr, _ = blue_file("ci16", "le", sample_comps("ci16", 2), detached=1, data_start=0.0)
    (tmp_path / "c.hdr").write_bytes(hdr)
    with pytest.raises(FormatError, match="without its data file"):
        read(tmp_path / "c.hdr")
    with pytest.raises(FileNotFoundError, match="nothing"):
        read(tmp_path / "nothing")
    with pytest.raises(FormatError, match="directory"):
        read(tmp_path)


@pytest.mark.parametrize("text, st, what", [
    ("1,2\n3\n", "ci16", "line 2 is not an 'I,Q' pair"),
    ("1,2\n0.5,1\n", "ci16", "line 2: '0.5' is not a ci16 value"),
    ("1,2\n40000,1\n", "ci16", "outside the ci16 range"),
    ("1,2,3\n", "cf32", "line 1 is not an 'I,Q' pair"),
])
def test_bad_csv(tmp_path, text, st, what):
    path = tmp_path / "c.csv"
    path.write_text(text)
    Path(sidecar_path(path)).write_text(meta_doc(st, "le"))
    with pytest.raises(FormatError, match=what) as e:
        read(path).samples
    assert str(path) in str(e.value)


# -- round trips through the writer ---------------------------------------------


def wfm_writer_module():
    return pytest.importorskip("wfm_writer")


def probe_signal():
    """Input exercising the quantiser: over-range, exact full scale, halves, NaN."""
    rng = np.random.default_rng(3)
    x = (rng.standard_normal(300) + 1j * rng.standard_normal(300)) * 0.6
    x[:6] = [1.0 - 1.0j, -1.5 + 0.5j, 0.5 + 2.0j, complex(np.nan, 0.25), 0.0, 1e-7 - 1e-7j]
    return x.astype(np.complex64)


DATA_NAME = {"raw": "cap.raw", "csv": "cap.csv", "blue": "cap.blue", "sigmf": "cap.sigmf-data"}


@pytest.mark.parametrize("endian", ORDERS)
@pytest.mark.parametrize("st", TYPES)
@pytest.mark.parametrize("container", ["raw", "csv", "blue", "sigmf"])
def test_writer_round_trip(tmp_path, container, st, endian):
    ww = wfm_writer_module()
    x = probe_signal()
    path = tmp_path / DATA_NAME[container]
    fs, fc, t0, headroom = 2.4e6, 433.92e6, 1700000000.5, 1.5
    with ww.Writer(path, fs, container, st, endian, fc=fc, headroom=headroom, t0=t0) as w:
        assert w.write(x[:100]) == 100
        assert w.write(x[100:]) == 200
        if container == "blue":
            w.add_keyword("COMMENT", "A", "round trip")
            w.add_keyword("GAIN", "F", [0.5, 2.0])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        cap = read(path)
    assert (cap.container, cap.sample_type, cap.fc) == (container, st, fc)
    assert cap.fs == pytest.approx(fs, rel=1e-15)
    assert cap.t0 == pytest.approx(t0, abs=1e-6)
    expect = quantise(x, st, headroom)
    if container == "csv" and st == "cf32":
        assert_csv_cf32(cap.raw, expect)
    else:
        assert np.array_equal(cap.raw, expect, equal_nan=not WIRE[st][2])
        assert np.array_equal(cap.samples, unit(expect, st), equal_nan=True)
    if container == "blue":
        assert cap.complete and cap.declared_count == len(x)
        assert cap.endian == endian
        assert ("COMMENT", "A", "round trip", "ext") in cap.keywords
        assert ("GAIN", "F", [0.5, 2.0], "ext") in cap.keywords
    if WIRE[st][2]:  # integers come back as q / full scale: +-1.0 exactly at full scale
        q = np.asarray(cap.raw)
        assert np.all(np.abs(q) <= WIRE[st][2])
        full = np.flatnonzero(np.abs(q.ravel()) == WIRE[st][2])
        assert np.all(np.abs(cap.samples.view(np.float32)[full]) == 1.0)


@pytest.mark.parametrize("container", ["raw", "blue", "sigmf"])
def test_writer_unstated_metadata(tmp_path, container):
    ww = wfm_writer_module()
    path = tmp_path / DATA_NAME[container]
    with ww.Writer(path, 0.0, container, "ci16") as w:
        w.write(np.zeros(4, np.complex64))
    cap = read(path)
    assert (cap.fs, cap.fc, cap.t0) == (None, None, None)


def test_writer_unfinished_capture(tmp_path):
    """A copy taken after flush, before close: the declared header."""
    ww = wfm_writer_module()
    x = probe_signal()
    path = tmp_path / "live.blue"
    with ww.Writer(path, 1e6, "blue", "ci16", fc=1e8, total=1000) as w:
        w.write(x)
        w.flush()
        shutil.copy(path, tmp_path / "copy.blue")
    with pytest.warns(CaptureWarning, match="declares 1000 samples but the file holds 300"):
        cap = read(tmp_path / "copy.blue")
    assert (cap.complete, cap.fc) == (False, 1e8)
    np.testing.assert_array_equal(cap.raw, quantise(x, "ci16"))
    assert read(path).complete


def test_writer_detached_header(tmp_path):
    ww = wfm_writer_module()
    x = probe_signal()
    with ww.Writer(tmp_path / "d.det", 1e6, "raw", "ci32", "be", sidecar=False) as w:
        w.write(x)
    ww.write_blue_header(tmp_path / "d.hdr", 1e6, "ci32", "be", fc=5e9, total=len(x), t0=1.5e9)
    cap = read(tmp_path / "d.det")
    assert (cap.detached, cap.fc, cap.t0, cap.fs) == (True, 5e9, 1.5e9, 1e6)
    np.testing.assert_array_equal(cap.raw, quantise(x, "ci32"))
    assert os.path.basename(cap.header_path) == "d.hdr"
