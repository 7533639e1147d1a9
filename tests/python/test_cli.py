"""The wfm command: info, convert (streamed, atomic), plot and demo."""

import json
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import pytest

import kestrix.wfm.reader as reader_mod
from kestrix.wfm.cli import main
from kestrix.wfm.reader import read
from test_reader import ORDERS, TYPES, assert_csv_cf32, meta_doc, probe_signal, quantise, unit

ww = pytest.importorskip("wfm_writer")
RealWriter = ww.Writer

PKG_ROOT = Path(reader_mod.__file__).resolve().parents[2]
OUT_NAME = {"raw": "out.raw", "csv": "out.csv", "blue": "out.blue", "sigmf": "out.sigmf-data"}


def wfm(*args):
    """The command as a user runs it, in a subprocess; returns (rc, stdout, stderr)."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(PKG_ROOT), os.environ.get("PYTHONPATH", "")]))
    p = subprocess.run([sys.executable, "-m", "kestrix.wfm", *map(str, args)], capture_output=True,
                       text=True, env=env)
    return p.returncode, p.stdout, p.stderr


def run(capsys, *args):
    rc = main([str(a) for a in args])
    out, err = capsys.readouterr()
    return rc, out, err


@pytest.fixture
def blue_in(tmp_path):
    path = tmp_path / "in.blue"
    with ww.Writer(path, 2.4e6, "blue", "ci16", "be", fc=1.2e9, t0=1700000000.25) as w:
        w.write(probe_signal())
        w.add_keyword("COMMENT", "A", "from the test")
        w.add_keyword("TC_PREC", "L", [1, -2])
    return path


def test_info_text_and_json(capsys, blue_in, tmp_path):
    rc, out, err = run(capsys, "info", blue_in)
    assert rc == 0 and err == ""
    for text in ("blue (attached)", "ci16, big endian", "2.4 MHz", "1.2 GHz", "2023-11-14T22:13:20.250000Z",
                 "300 (125 us)", "dBFS", "COMMENT = 'from the test' (A, ext)", "TC_PREC = [1, -2] (L, ext)"):
        assert text in out
    rc, out, _ = run(capsys, "info", "--json", blue_in, blue_in)
    d = json.loads(out)
    assert len(d) == 2 and d[0]["container"] == "blue" and d[0]["samples"] == 300
    assert (d[0]["fs"], d[0]["fc"], d[0]["t0"], d[0]["endian"]) == (2.4e6, 1.2e9, 1700000000.25, "be")
    peak = np.abs(read(blue_in).samples.view(np.float32)).max()
    assert d[0]["peak_dbfs"] == pytest.approx(20 * np.log10(peak))
    assert {"tag": "TC_PREC", "type": "L", "value": [1, -2], "source": "ext"} in d[0]["keywords"]


def test_info_reports_each_bad_path_and_goes_on(capsys, blue_in, tmp_path):
    (tmp_path / "junk.bin").write_bytes(b"\x00\x01junk")
    rc, out, err = run(capsys, "info", tmp_path / "missing", blue_in, tmp_path / "junk.bin")
    assert rc == 1 and str(blue_in) in out
    lines = err.strip().splitlines()
    assert len(lines) == 2 and "missing" in lines[0] and "junk.bin: unknown format" in lines[1]


def test_info_warns_about_an_unfinished_capture(capsys, tmp_path):
    with ww.Writer(tmp_path / "live.blue", 1e6, "blue", "ci8", total=50) as w:
        w.write(probe_signal()[:20])
        w.flush()
        (tmp_path / "copy.blue").write_bytes((tmp_path / "live.blue").read_bytes())
    rc, out, err = run(capsys, "info", tmp_path / "copy.blue")
    assert rc == 0 and "unfinished" in out and "header declares 50" in out
    assert err.startswith("wfm: warning:") and err.count("\n") == 1


@pytest.mark.parametrize("endian", ORDERS)
@pytest.mark.parametrize("st", TYPES)
@pytest.mark.parametrize("container", ["raw", "csv", "blue", "sigmf"])
def test_convert_to_every_container_type_and_order(capsys, blue_in, tmp_path, container, st, endian):
    out = tmp_path / OUT_NAME[container]
    rc, stdout, err = run(capsys, "convert", blue_in, out, "-s", st, "-e", endian)
    assert rc == 0, err
    assert f"wrote 300 samples ({container} {st}" in stdout and "clipped: " in stdout
    cap = read(out)
    src = read(blue_in)
    assert (cap.container, cap.sample_type, cap.fs, cap.fc, cap.t0) == (container, st, src.fs, src.fc, src.t0)
    expect = quantise(src.samples, st)
    if container == "csv" and st == "cf32":
        assert_csv_cf32(cap.raw, expect)
    else:
        np.testing.assert_array_equal(cap.raw, expect)
    if container == "blue":
        assert cap.endian == endian
        assert [k for k in cap.keywords if k.tag != "FREQ"] == [k for k in src.keywords if k.tag != "FREQ"]
    # only the capture itself beside the input: no temporary files left
    names = sorted(os.listdir(tmp_path))
    expect_names = {"raw": ["out.raw", "out.raw.sigmf-meta"], "csv": ["out.csv", "out.csv.sigmf-meta"],
                    "blue": ["out.blue"], "sigmf": ["out.sigmf-data", "out.sigmf-meta"]}[container]
    assert names == sorted(["in.blue", *expect_names])


def test_convert_headroom_auto_fits_full_scale(capsys, tmp_path):
    x = (np.exp(2j * np.pi * 0.01 * np.arange(5000)) * 2.0).astype(np.complex64)
    np.save(tmp_path / "loud.npy", x)
    rc, out, _ = run(capsys, "convert", tmp_path / "loud.npy", tmp_path / "a.sigmf-data", "-s", "ci16", "--fs", "1e6")
    assert rc == 0 and "clipped: yes" in out
    rc, out, _ = run(capsys, "convert", tmp_path / "loud.npy", tmp_path / "b.blue", "-s", "ci16", "--fs", "1e6",
                     "--headroom", "auto")
    assert rc == 0 and "clipped: no" in out and "headroom 6.02" in out
    q = np.abs(read(tmp_path / "b.blue").raw)
    assert q.max() >= 32766  # backed off just enough, not more


def test_convert_bare_input_needs_a_rate(capsys, tmp_path):
    x = probe_signal()
    x.tofile(tmp_path / "x.cfile")
    rc, _, err = run(capsys, "convert", tmp_path / "x.cfile", tmp_path / "y.raw")
    assert rc == 2 and "states no sample rate; give --fs" in err
    rc, _, _ = run(capsys, "convert", tmp_path / "x.cfile", tmp_path / "y", "-t", "sigmf", "--fs", "5e5",
                   "--fc", "1e8", "--t0", "2024-01-31T12:00:00.5Z")
    assert rc == 0
    cap = read(tmp_path / "y")
    assert (cap.container, cap.fs, cap.fc, cap.t0) == ("sigmf", 5e5, 1e8, 1706702400.5)
    assert np.array_equal(cap.samples, x, equal_nan=True)


def test_convert_carries_annotations(capsys, tmp_path):
    comps = np.arange(64, dtype="<i2").reshape(-1, 2)
    ann = [{"core:sample_start": 3, "core:sample_count": 10, "core:label": "qpsk", "synvox:sps": 8}]
    (tmp_path / "a.sigmf-data").write_bytes(comps.tobytes())
    (tmp_path / "a.sigmf-meta").write_text(meta_doc("ci16", "le", 1e6, annotations=ann))
    rc, _, _ = run(capsys, "convert", tmp_path / "a.sigmf-meta", tmp_path / "b.raw", "-s", "ci8")
    assert rc == 0
    cap = read(tmp_path / "b.raw")
    assert cap.annotations == ann
    np.testing.assert_array_equal(cap.raw, quantise(unit(comps, "ci16"), "ci8"))


CONVERT_ERRORS = [
    (["convert", "{d}/nope.raw", "{d}/o.raw"], 1, "nope.raw: no such capture"),
    (["convert", "{in}", "{d}/o.xyz"], 2, "cannot tell the container"),
    (["convert", "{in}", "{d}/o.raw", "-s", "ci12"], 2, "invalid choice: 'ci12'"),
    (["convert", "{in}", "{d}/o.raw", "--headroom", "loud"], 2, "expected dB or 'auto'"),
    (["convert", "{in}", "{d}/no/such/dir/o.raw"], 1, "no such directory"),
    (["convert", "{in}", "{in}"], 2, "exists (use --force"),
    (["convert", "{in}", "{d}/o.raw", "--t0", "noon"], 2, "--t0"),
    (["plot", "{in}"], 2, "required: -o"),
    (["frobnicate"], 2, "invalid choice: 'frobnicate'"),
    ([], 2, "required: COMMAND"),
]


@pytest.mark.parametrize("args, rc, what", CONVERT_ERRORS, ids=[" ".join(a[:1] + a[-1:]) for a, *_ in CONVERT_ERRORS])
def test_bad_arguments_give_one_line(blue_in, tmp_path, args, rc, what):
    code, out, err = wfm(*[a.format(d=tmp_path, **{"in": blue_in}) for a in args])
    assert code == rc
    assert what in err and err.count("\n") == 1 and err.startswith("wfm: ")
    assert "Traceback" not in err
    assert not (tmp_path / "o.raw").exists()


class _InterruptingWriter:
    """Delegates to the real writer and is interrupted on the third block."""

    def __init__(self, *a, **kw):
        self._w = RealWriter(*a, **kw)
        self._blocks = 0

    def write(self, x):
        self._blocks += 1
        if self._blocks == 3:
            raise KeyboardInterrupt
        return self._w.write(x)

    def __getattr__(self, name):
        return getattr(self._w, name)


@pytest.mark.parametrize("out_name", ["out.sigmf-data", "out.raw", "out.blue"])
def test_interrupted_convert_leaves_no_output(capsys, monkeypatch, blue_in, tmp_path, out_name):
    monkeypatch.setattr(ww, "Writer", _InterruptingWriter)
    before = sorted(os.listdir(tmp_path))
    rc, _, err = run(capsys, "convert", blue_in, tmp_path / out_name, "--block", "16")
    assert rc == 130 and "interrupted" in err
    assert sorted(os.listdir(tmp_path)) == before
    # an existing output is left as it was when the replacement is interrupted
    (tmp_path / out_name).write_bytes(b"old")
    rc, _, _ = run(capsys, "convert", blue_in, tmp_path / out_name, "--block", "16", "--force")
    assert rc == 130 and (tmp_path / out_name).read_bytes() == b"old"


# -- a large conversion, in a subprocess --------------------------------------------

BIG_SAMPLES = 40 * 2**20  # 320 MiB of cf32


@pytest.fixture(scope="module")
def big_input(tmp_path_factory):
    """A loud raw cf32 capture written block by block (never whole in memory)."""
    d = tmp_path_factory.mktemp("big")
    path = d / "big.raw"
    with ww.Writer(path, 10e6, "raw", "cf32", fc=2.4e9) as w:
        step = 4 * 2**20
        k = np.arange(step)
        for i in range(BIG_SAMPLES // step):
            w.write((1.5 * np.exp(2j * np.pi * (0.01 * (k + i * step) % 1.0))).astype(np.complex64))
    return path


# The peak resident set of the command itself, read from /proc at its exit:
# ru_maxrss of a child also counts the parent's pages it held between fork and exec.
_MEASURED = (
    "import sys\n"
    "from kestrix.wfm.cli import main\n"
    "rc = main(sys.argv[1:])\n"
    "hwm = next(l for l in open('/proc/self/status') if l.startswith('VmHWM:'))\n"
    "print(int(hwm.split()[1]) * 1024, file=sys.stderr)\n"
    "sys.exit(rc)\n"
)


def _run_measured(args):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(PKG_ROOT), os.environ.get("PYTHONPATH", "")]))
    p = subprocess.run([sys.executable, "-c", _MEASURED, *map(str, args)], env=env, capture_output=True, text=True)
    *err, rss = p.stderr.strip().splitlines() or [""]
    return p.returncode, p.stdout, "\n".join(err), int(rss) if rss.isdigit() else None


@pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs /proc")
@pytest.mark.skipif(bool(os.environ.get("WFM_SANITIZED")), reason="sanitizer shadow memory inflates RSS")
def test_large_conversion_streams_in_bounded_memory(big_input, tmp_path):
    out = tmp_path / "big.sigmf-data"
    rc, stdout, err, rss = _run_measured(["convert", big_input, out, "-s", "ci16", "--headroom", "auto"])
    assert rc == 0, err
    assert f"wrote {BIG_SAMPLES} samples" in stdout and "clipped: no" in stdout
    assert rss is not None and rss < 100 * 2**20, f"peak RSS {rss / 2**20:.0f} MiB"
    cap = read(out)
    assert (cap.sample_count, cap.fs, cap.fc) == (BIG_SAMPLES, 10e6, 2.4e9)
    src = read(big_input)
    gain_db = float(stdout.split("headroom ")[1].split(" dB")[0])
    tail = slice(BIG_SAMPLES - 1000, None)
    expect = quantise(src[tail], "ci16", gain_db)
    assert np.abs(cap.raw[tail].astype(int) - expect).max() <= 1  # headroom printed to 3 decimals


def test_terminated_convert_leaves_no_output(big_input, tmp_path):
    out_dir = tmp_path / "out"
    out_dir.mkdir()
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(PKG_ROOT), os.environ.get("PYTHONPATH", "")]))
    p = subprocess.Popen([sys.executable, "-m", "kestrix.wfm", "convert", str(big_input),
                          str(out_dir / "x.sigmf-data"), "-s", "ci16"], env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    # wait until the temporary output exists, then stop the conversion
    while p.poll() is None and not any(n.endswith(".part.sigmf-data") for n in os.listdir(out_dir)):
        time.sleep(0.01)
    p.send_signal(signal.SIGTERM)
    _, err = p.communicate()
    if p.returncode == 0:
        pytest.skip("the conversion finished before the signal arrived")
    assert p.returncode == 130 and b"interrupted" in err and b"Traceback" not in err
    assert os.listdir(out_dir) == []


# -- plot and demo ---------------------------------------------------------------------


@pytest.mark.parametrize("fs", [1e6, 0.0])
def test_plot_writes_a_png(tmp_path, fs):
    pytest.importorskip("matplotlib")
    src = tmp_path / "p.sigmf-data"
    with ww.Writer(src, fs, "sigmf", "ci16", fc=1e8 if fs else 0.0) as w:
        w.write(probe_signal())
    rc, out, err = wfm("plot", src, "-o", tmp_path / "p.png", "--nfft", "64")
    assert rc == 0, err
    assert (tmp_path / "p.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert sorted(os.listdir(tmp_path)) == ["p.png", "p.sigmf-data", "p.sigmf-meta"]


def test_demo_writes_and_checks_every_container(tmp_path):
    rc, out, err = wfm("demo", tmp_path / "demo")
    assert rc == 0, out + err
    assert "all captures read back correctly" in out and "FAIL" not in out
    for container in ("raw", "csv", "blue", "sigmf", "blue (detached)"):
        assert f"  {container} " in out
    names = set(os.listdir(tmp_path / "demo"))
    assert {"demo.raw", "demo.csv", "demo.blue", "demo.sigmf-data", "demo.sigmf-meta", "demo.hdr", "demo.det"} <= names
