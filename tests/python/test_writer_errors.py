"""The Writer's exceptions and their messages."""

import json
import subprocess
import sys
import textwrap

import pytest

from conftest import samples
from kestrix.wfm import Writer

OPEN_FAILED = (
    "cannot open the capture for writing: check the path, the directory, and "
    "permissions -- and note that file_type=\"sigmf\" requires a path ending in "
    ".sigmf-data, since a SigMF capture is a <base>.sigmf-data + "
    "<base>.sigmf-meta pair found by name"
)
FINALISE_FAILED = ("failed to finalise the capture: the trailing header patch "
                   "or extended header was not written")


@pytest.mark.parametrize("kwargs, message", [
    ({"file_type": "RAW"},
     """file_type must be one of "raw", "csv", "blue", "sigmf", got 'RAW'"""),
    ({"file_type": "wav", "sample_type": "s16", "endian": "middle"},
     """file_type must be one of "raw", "csv", "blue", "sigmf", got 'wav'"""),
    ({"sample_type": "CI16", "endian": "middle"},
     """sample_type must be one of "cf32", "cf64", "ci32", "ci16", "ci8", got 'CI16'"""),
    ({"endian": "BE"}, """endian must be one of "le", "be", got 'BE'"""),
    ({"endian": "é"}, """endian must be one of "le", "be", got 'é'"""),
])
def test_bad_codes_raise_value_error_and_touch_no_file(cap, kwargs, message):
    with pytest.raises(ValueError) as info:
        Writer(cap, 1e6, **kwargs)
    assert str(info.value) == message
    assert list(cap.parent.iterdir()) == []


@pytest.mark.parametrize("name", ["cap.sigmf-dat", "cap.SIGMF-DATA", "cap.raw", "x"])
def test_sigmf_path_rule_refuses_before_opening(tmp_path, name):
    with pytest.raises(OSError) as info:
        Writer(tmp_path / name, 1e6, file_type="sigmf")
    assert str(info.value) == OPEN_FAILED
    assert list(tmp_path.iterdir()) == []


def test_unopenable_path_raises_the_open_error(tmp_path):
    with pytest.raises(OSError) as info:
        Writer(tmp_path / "missing" / "cap.raw", 1e6)
    assert str(info.value) == OPEN_FAILED
    assert info.value.errno is None


@pytest.mark.parametrize("args, kwargs, error", [
    ((), {}, TypeError),
    (("p",), {}, TypeError),                      # fs is required
    (("p", "fast"), {}, TypeError),
    (("p", 1e6), {"file_type": 2}, TypeError),
    (("p", 1e6), {"total": 1.0}, TypeError),
    (("p", 1e6), {"bogus": 1}, TypeError),
    (("p", 1e6, "raw"), {"file_type": "raw"}, TypeError),
    ((3, 1e6), {}, TypeError),
    (("p\0q", 1e6), {}, ValueError),
    (("p", 1e6), {"file_type": "raw\0"}, ValueError),
], ids=["nothing", "no-fs", "fs-str", "file_type-int", "total-float", "unknown-keyword",
        "given-twice", "path-int", "path-nul", "text-nul"])
def test_parse_errors_are_the_interpreters(tmp_path, monkeypatch, args, kwargs, error):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(error):
        Writer(*args, **kwargs)
    assert list(tmp_path.iterdir()) == []


def test_exit_refuses_keyword_arguments(cap):
    with Writer(cap, 1e6) as w:
        with pytest.raises(TypeError):
            w.__exit__(exc_type=None)


def test_failed_finalisation_raises_once_and_empties_the_slot(cap):
    # A directory where the sidecar should go makes its creation fail.
    (cap.parent / "cap.raw.sigmf-meta").mkdir()
    w = Writer(cap, 1e6)
    w.write(samples(0.5))
    with pytest.raises(OSError) as info:
        w.close()
    assert str(info.value) == FINALISE_FAILED
    assert w.close() is None
    with pytest.raises(RuntimeError, match="^destroyed$"):
        w.flush()


def test_failed_finalisation_propagates_out_of_with(cap):
    (cap.parent / "cap.raw.sigmf-meta").mkdir()
    with pytest.raises(OSError, match="^failed to finalise the capture"):
        with Writer(cap, 1e6) as w:
            w.write(samples(0.5))


def test_second_init_reports_the_failed_finalisation_and_opens_nothing(tmp_path):
    first, second = tmp_path / "first.raw", tmp_path / "second.raw"
    (tmp_path / "first.raw.sigmf-meta").mkdir()
    w = Writer(first, 1e6)
    with pytest.raises(OSError, match="^failed to finalise the capture"):
        w.__init__(second, 1e6)
    assert not second.exists()
    with pytest.raises(RuntimeError, match="^destroyed$"):
        w.write(samples(0.5))


# A child process whose files may not grow beyond 4096 bytes, with the
# signal that would otherwise kill it ignored, so writes come up short.
SHORT_WRITE = """
import json, resource, signal, sys
import numpy as np
from kestrix.wfm import Writer

signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.RLIM_INFINITY))
path = sys.argv[1]
report = {}
w = Writer(path, 1e6, sample_type="ci16")
report["written"] = w.write(np.zeros(4096, np.complex64))
for step in ("flush", "flush", "close", "close"):
    try:
        getattr(w, step)()
        report.setdefault(step, []).append(None)
    except OSError as e:
        report.setdefault(step, []).append(str(e))
w = Writer(path, 1e6, sidecar=False)
w.write(np.zeros(4096, np.complex64))
del w  # finalisation fails, silently
print(json.dumps(report))
"""


def test_short_write_is_reported_by_flush_and_close(cap):
    child = subprocess.run([sys.executable, "-c", textwrap.dedent(SHORT_WRITE), str(cap)],
                           capture_output=True, text=True, check=True)
    report = json.loads(child.stdout)
    assert report["flush"] == ["flush failed (rc=-1)"] * 2
    assert report["close"] == [FINALISE_FAILED, None]
    assert child.stderr == ""
    assert cap.stat().st_size == 4096
    assert not (cap.parent / "cap.raw.sigmf-meta").exists()
