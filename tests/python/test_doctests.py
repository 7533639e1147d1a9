"""Docstrings: the fixed texts, and the Examples sections run as doctests."""

import doctest
import inspect

import pytest

import wfm_writer
from wfm_writer import Writer

EXAMPLES = ["Writer", "Writer.write", "Writer.flush", "Writer.track_clipping"]


def finder_tests() -> dict[str, doctest.DocTest]:
    tests = doctest.DocTestFinder().find(wfm_writer)
    return {t.name.removeprefix("wfm_writer."): t for t in tests if t.examples}


def test_examples_are_where_expected():
    assert sorted(finder_tests()) == sorted(EXAMPLES)


@pytest.mark.parametrize("name", EXAMPLES)
def test_examples_run(name, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    result = runner.run(finder_tests()[name])
    assert result.failed == 0 and result.attempted > 0


@pytest.mark.parametrize("obj, text", [
    (wfm_writer, "WfmWriter module."),
    (Writer.add_keyword, "add_keyword(...) -- add a codec-typed value."),
    (wfm_writer.write_blue_header,
     "Write a standalone BLUE type-1000 HCB header (the detached .hdr): 512 bytes "
     "carrying the BLUE magic, byte order, data_size (total x bytes-per-sample), the "
     "type-1000 tag and xdelta = 1/fs. Pair it with a detached .det body of raw "
     "interleaved I/Q. Raises on a failed write.\n"),
    (Writer.clip_fraction,
     "Fraction (0..1) of I/Q components that saturated. Always 0.0 unless "
     "`track_clipping()` was enabled before writing -- the counter is the one extra "
     "per-sample compare, so it is opt-in. `peak_dbfs` is always tracked and is "
     "enough to tell you clipping happened; this tells you how much.\n"),
    (Writer.peak_dbfs,
     "Largest per-axis magnitude written so far, in dBFS (full scale = 0 dBFS, so a "
     "value above 0 means an integer capture clipped). Always tracked. It is also "
     "the remedy: back off by `ceil(peak_dbfs)` dB of `headroom` and the capture "
     "fits. Float wire types never clip but still report a peak. `-inf` before "
     "anything is written.\n"),
    (Writer.clipped,
     "True if an integer capture saturated -- `peak_dbfs > 0` and the wire type is "
     "one of `ci32`/`ci16`/`ci8`. Always False for `cf32`/`cf64`, which cannot "
     "clip: a float sample above full scale is merely loud.\n"),
], ids=["module", "add_keyword", "write_blue_header", "clip_fraction", "peak_dbfs",
        "clipped"])
def test_fixed_docstrings(obj, text):
    assert obj.__doc__ == text


@pytest.mark.parametrize("obj, first_line, sections", [
    (Writer, "Open a capture for writing.", ["Parameters", "Raises", "Examples"]),
    (Writer.write, "write(x) -> int", ["Parameters", "Returns", "Examples"]),
    (Writer.flush, "flush() -> None", ["Raises", "Examples"]),
    (Writer.track_clipping, "track_clipping(on) -> None", ["Parameters", "Examples"]),
    (Writer.close, "Release the underlying C resources immediately.", ["Raises"]),
    (Writer.destroy, "Release the underlying C resources immediately.", ["Raises"]),
    (Writer.__enter__, "Enter a context manager, returning this object.", ["Returns"]),
    (Writer.__exit__, "Exit a context manager, releasing the Writer.",
     ["Parameters", "Raises"]),
])
def test_numpydoc_layout(obj, first_line, sections):
    lines = obj.__doc__.splitlines()
    assert lines[0] == first_line
    found = [lines[i - 1] for i, line in enumerate(lines)
             if i and set(line) == {"-"} and len(line) == len(lines[i - 1])]
    assert found == sections


def test_class_parameters_carry_their_annotations():
    doc = Writer.__doc__
    for entry in [
        "path : str | os.PathLike",
        "fs : float",
        'file_type : Literal["raw", "csv", "blue", "sigmf"], default "raw"',
        'sample_type : Literal["cf32", "cf64", "ci32", "ci16", "ci8"], default "cf32"',
        'endian : Literal["le", "be"], default "le"',
        "fc : float, default 0.0",
        "total : int, default 0",
        "headroom : float, default 0.0",
        "t0 : float, default 0.0",
        "sidecar : bool, default True",
    ]:
        assert f"\n{entry}\n" in doc


@pytest.mark.parametrize("obj, signature", [
    (Writer, "(path, fs, file_type='raw', sample_type='cf32', endian='le', fc=0.0, "
             "total=0, headroom=0.0, t0=0.0, sidecar=True)"),
    (Writer.write, "(self, /, x)"),
    (Writer.track_clipping, "(self, /, on=1)"),
    (Writer.add_keyword, "(self, /, tag, type, value)"),
    (wfm_writer.write_blue_header,
     "(path, fs, sample_type='cf32', endian='le', fc=0.0, data_start=0.0, total=0, "
     "detached=1, t0=0.0)"),
])
def test_text_signatures(obj, signature):
    assert str(inspect.signature(obj)) == signature
