"""Bad arguments raise only the documented exceptions, and a writer released
while one of its calls is converting an argument never crashes the process."""

import os
import sys
import threading
from pathlib import Path

import numpy as np
import pytest

from kestrix.wfm import Writer, write_blue_header

# Every exception the module or its converters may raise for a bad argument.
DOCUMENTED = (TypeError, ValueError, OverflowError, OSError, RuntimeError, MemoryError)


@pytest.fixture
def in_tmp(tmp_path: Path):
    """Runs the test inside a fresh directory."""
    old = os.getcwd()
    os.chdir(tmp_path)
    yield tmp_path
    os.chdir(old)


def documented_only(call, *args, **kwargs):
    """Calls and returns the result, or None for a documented exception."""
    try:
        return call(*args, **kwargs)
    except DOCUMENTED:
        return None


try:
    import hypothesis
except ImportError:  # the NumPy 1 environment has no hypothesis
    hypothesis = None

if hypothesis is not None:
    from hypothesis import HealthCheck, given, settings
    from hypothesis import strategies as st

    # Relative file names only (no "/"), so that nothing lands outside the
    # directory the tests run in.
    names = st.text(alphabet="abc.-_\x00é", max_size=12)
    junk = st.one_of(
        st.none(),
        st.booleans(),
        st.integers(min_value=-(2**70), max_value=2**70),
        st.floats(allow_nan=True, allow_infinity=True),
        st.complex_numbers(allow_nan=True, allow_infinity=True),
        names,
        st.binary(max_size=8).filter(lambda b: b"/" not in b),
        st.lists(st.one_of(st.integers(-(2**65), 2**65), st.floats(), names), max_size=4),
        st.sampled_from(
            [
                object(),
                {},
                set(),
                (),
                iter([1, 2]),
                np.zeros(3),
                np.zeros((2, 2), np.complex64),
                np.array(5),
                np.array(["x"]),
                np.arange(4, dtype=np.int8),
                np.zeros(3, np.float32)[::2],
                Path("p.raw"),
            ]
        ),
    )
    file_types = st.one_of(st.sampled_from(["raw", "csv", "blue", "sigmf"]), junk)
    sample_types = st.one_of(st.sampled_from(["cf32", "cf64", "ci32", "ci16", "ci8"]), junk)
    endians = st.one_of(st.sampled_from(["le", "be"]), junk)
    paths = st.one_of(st.sampled_from(["cap.raw", "cap.sigmf-data", b"cap.blue", Path("c.csv")]), junk)

    SETTINGS = settings(
        max_examples=300,
        deadline=None,
        suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow],
    )


    @SETTINGS
    @given(
        path=paths,
        fs=st.one_of(st.floats(allow_nan=True), junk),
        file_type=file_types,
        sample_type=sample_types,
        endian=endians,
        rest=st.fixed_dictionaries(
            {},
            optional={
                "fc": junk,
                "total": junk,
                "headroom": junk,
                "t0": junk,
                "sidecar": junk,
            },
        ),
        blocks=st.lists(junk, max_size=3),
        keywords=st.lists(
            st.tuples(
                st.one_of(st.sampled_from(["COMMENT", "VER", "GAIN", ""]), junk),
                st.one_of(st.sampled_from(list("ABILTXFD")), junk),
                junk,
            ),
            max_size=4,
        ),
        clip=junk,
    )
    def test_random_bad_arguments_raise_only_documented_exceptions(
        in_tmp, path, fs, file_type, sample_type, endian, rest, blocks, keywords, clip
    ):
        w = documented_only(Writer, path, fs, file_type, sample_type, endian, **rest)
        if w is None:
            return
        for x in blocks:
            n = documented_only(w.write, x)
            assert n is None or isinstance(n, int)
        for tag, code, value in keywords:
            documented_only(w.add_keyword, tag, code, value)
        documented_only(w.track_clipping, clip)
        documented_only(w.flush)
        for prop in ("peak_dbfs", "clip_fraction", "clipped"):
            getattr(w, prop)
        documented_only(w.close)
        with pytest.raises(RuntimeError, match="destroyed"):
            w.write(np.zeros(1, np.complex64))


    @SETTINGS
    @given(
        path=paths,
        fs=junk,
        sample_type=sample_types,
        endian=endians,
        rest=st.fixed_dictionaries(
            {},
            optional={"fc": junk, "data_start": junk, "total": junk, "detached": junk, "t0": junk},
        ),
    )
    def test_write_blue_header_bad_arguments_raise_only_documented_exceptions(
        in_tmp, path, fs, sample_type, endian, rest
    ):
        assert documented_only(write_blue_header, path, fs, sample_type, endian, **rest) is None


class Releasing:
    """A number or array whose conversion releases the writer first."""

    def __init__(self, writer_box, value):
        self.box = writer_box
        self.value = value

    def _release(self):
        w = self.box[0]
        if w is not None:
            try:
                w.close()
            except OSError:
                pass

    def __index__(self):
        self._release()
        return int(self.value)

    def __float__(self):
        self._release()
        return float(self.value)

    def __array__(self, dtype=None, copy=None):
        self._release()
        return np.full(8, self.value, np.complex64)


@pytest.mark.parametrize("file_type", ["blue", "raw"])
def test_release_during_conversion_reaches_the_writer_as_released(tmp_path, file_type):
    box = [None]
    box[0] = w = Writer(tmp_path / "cap", 1e6, file_type=file_type, sample_type="ci16")
    assert w.write(Releasing(box, 0.5)) == 0
    box[0] = w = Writer(tmp_path / "cap", 1e6, file_type=file_type)
    with pytest.raises(ValueError, match="add_keyword failed"):
        w.add_keyword("GAIN", "D", [1.0, Releasing(box, 2.0)])
    box[0] = w = Writer(tmp_path / "cap", 1e6, file_type=file_type)
    with pytest.raises(ValueError, match="add_keyword failed"):
        w.add_keyword("TC_PREC", "L", Releasing(box, 7))
    with pytest.raises(RuntimeError, match="destroyed"):
        w.flush()


def test_close_on_another_thread_while_converting_never_crashes(tmp_path):
    """One thread writes and tags through converting objects that yield the
    interpreter; the other closes the writer meanwhile.  Every call either
    works or raises the released-writer errors."""
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    unexpected = []

    class Slow:
        def __init__(self, value):
            self.value = value

        def _spin(self):
            for _ in range(50):
                pass

        def __index__(self):
            self._spin()
            return self.value

        def __float__(self):
            self._spin()
            return float(self.value)

        def __array__(self, dtype=None, copy=None):
            self._spin()
            return np.full(64, 0.25, np.complex64)

    try:
        for round_ in range(150):
            w = Writer(tmp_path / f"c{round_ % 3}.blue", 1e6, file_type="blue", sample_type="ci8")
            go = threading.Event()

            def use():
                go.wait()
                for k in range(40):
                    try:
                        w.write(Slow(0))
                        w.add_keyword("GAIN", "D", [Slow(1), Slow(2)])
                        w.add_keyword("TC_PREC", "X", [Slow(k)] * 3)
                    except (RuntimeError, ValueError):
                        pass
                    except BaseException as e:  # pragma: no cover - reported below
                        unexpected.append(e)

            def close():
                go.wait()
                for _ in range(round_ % 7):
                    pass
                try:
                    w.close()
                except OSError:
                    pass

            threads = [threading.Thread(target=use), threading.Thread(target=close)]
            for t in threads:
                t.start()
            go.set()
            for t in threads:
                t.join()
    finally:
        sys.setswitchinterval(old)
    assert unexpected == []
