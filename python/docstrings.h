// Docstrings of the wfm_writer module, in numpydoc layout.  Each begins with
// a text signature ("name(...)\n--\n\n"), which the interpreter moves to
// __text_signature__ so that inspect.signature() understands the callable;
// close and destroy share one text and so carry none.  The Examples sections
// run as doctests in a scratch working directory.
#ifndef WFM_DOCSTRINGS_H
#define WFM_DOCSTRINGS_H

inline constexpr char WFM_MODULE_DOC[] = "WfmWriter module.";

inline constexpr char WFM_WRITER_DOC[] =
"Writer(path, fs, file_type='raw', sample_type='cf32', endian='le', fc=0.0, total=0, headroom=0.0, t0=0.0, sidecar=True)\n--\n\n"
R"doc(Open a capture for writing.

Parameters
----------
path : str | os.PathLike
    Where the capture is written: a ``str``, ``bytes`` or path-like
    object, taken in the file-system encoding. For ``file_type="sigmf"``
    it must end in ``.sigmf-data``, because a SigMF capture is a
    ``<base>.sigmf-data`` plus ``<base>.sigmf-meta`` pair found by name,
    and close() writes the metadata file beside it.
fs : float
    Sample rate in Hz; required, with no default. BLUE stores it as
    ``xdelta = 1/fs``, SigMF and the raw/CSV sidecar as
    ``core:sample_rate``. Passing 0.0 says that the rate is not stated:
    BLUE then gets ``xdelta = 0`` and ``core:sample_rate`` is left out, so
    that no file ever carries a rate that nobody supplied.
file_type : Literal["raw", "csv", "blue", "sigmf"], default "raw"
    The container. "raw" is headerless interleaved I/Q, "csv" one ``I,Q``
    line per sample, "blue" the self-describing BLUE type-1000 file,
    "sigmf" a SigMF recording. BLUE and SigMF record `fs`, `fc` and `t0`
    in the capture itself; raw and CSV keep them in the sidecar.
sample_type : Literal["cf32", "cf64", "ci32", "ci16", "ci8"], default "cf32"
    The wire type. The integer types quantise +/-1.0 to full scale and can
    clip (see `track_clipping()` and `peak_dbfs`).
endian : Literal["le", "be"], default "le"
    Byte order of every number written, "le" or "be"; ignored for CSV,
    which is text.
fc : float, default 0.0
    Centre frequency in Hz; 0.0 means not stated. BLUE records it as a
    ``FREQ`` keyword, SigMF as ``captures[0]["core:frequency"]``, raw and
    CSV in the sidecar; 0.0 writes nothing in any of them, absence meaning
    "not stated".
total : int, default 0
    The expected sample count, for the BLUE header (taken modulo 2**64).
    close() patches the real count, so 0 is fine when the count cannot be
    told in advance.
headroom : float, default 0.0
    dB of output backoff, gain = 10^(-H/20), applied before quantisation:
    a single scale that changes only the absolute level, never a power
    ratio. 0 is a bit-exact no-op.
t0 : float, default 0.0
    Capture start in seconds since the UNIX epoch; 0.0 means unset.
    Optional where `fs` is required, because a capture without a
    wall-clock anchor is still readable while one without a rate is not.
    BLUE stores it as a J1950 timecode, SigMF as
    ``captures[0]["core:datetime"]``, raw and CSV in the sidecar; 0.0 is
    never written as 1970.
sidecar : bool, default True
    Write ``<path>.sigmf-meta`` beside a "raw" or "csv" capture, recording
    `fs`, `fc` and `t0`. On by default, because the caller supplied those
    values at construction and a file without them cannot be interpreted;
    only stated values are written. It is SigMF-shaped but not a SigMF
    capture: the name is appended rather than swapped (``cap.raw`` gives
    ``cap.raw.sigmf-meta``), which keeps it one-to-one with its data file
    and unable to collide with a real capture's metadata. Ignored for
    "blue", whose header carries all three values, and for "sigmf", whose
    metadata file is half the capture and cannot be turned off. Pass false
    when an extra file beside the capture would disturb a downstream glob.

Raises
------
OSError
    If construction fails, with the message "cannot open the capture for
    writing: check the path, the directory, and permissions -- and note
    that file_type="sigmf" requires a path ending in .sigmf-data, since a
    SigMF capture is a <base>.sigmf-data + <base>.sigmf-meta pair found by
    name".

Examples
--------
>>> import json
>>> import numpy as np
>>> from kestrix.wfm import Writer
>>> n = np.arange(4096)
>>> tone = (0.5 * np.exp(2j * np.pi * 0.01 * n)).astype(np.complex64)
>>> with Writer("tone.sigmf-data", 2.4e6, file_type="sigmf",
...             sample_type="ci16", fc=915e6) as w:
...     w.write(tone)
4096
>>> meta = json.load(open("tone.sigmf-meta"))
>>> meta["global"]["core:datatype"], meta["captures"][0]["core:frequency"]
('ci16_le', 915000000)
)doc";

inline constexpr char WFM_WRITE_DOC[] =
"write($self, /, x)\n--\n\n"
R"doc(write(x) -> int

Convert and write a block of samples.

Takes ``complex64`` samples at unit scale and emits them in the writer's
wire type. It may be called any number of times; the capture is the
concatenation of the blocks.

Parameters
----------
x : NDArray[np.complex64]
    The input samples. Anything NumPy can turn into ``complex64`` under its
    safe-casting rule is accepted; ``float64`` and ``complex128`` arrays
    are refused with NumPy's TypeError.

Returns
-------
int
    The number of samples that actually landed: equal to the number passed
    on success, fewer if the write was short (a full disk, a quota). A
    short return is the per-block signal; close() reports the same failure
    for the capture as a whole.

Examples
--------
>>> import numpy as np
>>> from kestrix.wfm import Writer
>>> w = Writer("block.ci8", 1e6, sample_type="ci8", sidecar=False)
>>> w.write(np.array([0.5 + 0.25j, -1.0 - 2.0j], dtype=np.complex64))
2
>>> w.close()
>>> open("block.ci8", "rb").read()
b'?\x1f\x81\x81'
)doc";

inline constexpr char WFM_FLUSH_DOC[] =
"flush($self, /)\n--\n\n"
R"doc(flush() -> None

Make every sample written so far durable and observable to a concurrent
reader, without ending the capture.

The file is left on a sample boundary: write() emits whole samples, so a
flush between write calls lets a follower read the capture without meeting
a partial sample. A capture is not complete until close().

Raises
------
OSError
    If this or any earlier write failed: the writer's flush returned a
    non-zero status, reported as "flush failed" with the return code
    appended.

Examples
--------
>>> import os
>>> import numpy as np
>>> from kestrix.wfm import Writer
>>> w = Writer("live.cf32", 1e6, sidecar=False)
>>> w.write(np.zeros(256, np.complex64))
256
>>> w.flush()
>>> os.path.getsize("live.cf32")
2048
>>> w.close()
)doc";

inline constexpr char WFM_TRACK_CLIPPING_DOC[] =
"track_clipping($self, /, on=1)\n--\n\n"
R"doc(track_clipping(on) -> None

Enable the per-component clip *counter*, which is off by default; the
peak is always tracked.

Parameters
----------
on : int
    Non-zero enables the counter, 0 disables it.

Examples
--------
>>> import numpy as np
>>> from kestrix.wfm import Writer
>>> with Writer("loud.ci16", 1e6, sample_type="ci16", sidecar=False) as w:
...     w.track_clipping(1)
...     w.write(np.array([0.5, 2.0, -3.0, 0.25], dtype=np.complex64))
...     print(w.clipped, w.clip_fraction)
4
True 0.25
)doc";

inline constexpr char WFM_CLOSE_DOC[] =
R"doc(Release the underlying C resources immediately.

This is ordinarily unnecessary, because the resources are freed when the
object is garbage-collected. Call it to release them at a definite point,
or use the object as a context manager, which calls it on exit.

It is idempotent: calling it again on an already-released object does
nothing, and every other method raises RuntimeError once it has run.

Raises
------
OSError
    If the writer's destructor reports failure, from an explicit call and
    from ``__exit__`` alike, so a failing teardown propagates out of a
    ``with`` block.
)doc";

inline constexpr char WFM_ENTER_DOC[] =
"__enter__($self, /)\n--\n\n"
R"doc(Enter a context manager, returning this object.

It lets a Writer be used in a ``with`` statement so that its resources
are released deterministically on exit rather than at collection time.

Returns
-------
Writer
    This same object, not a copy.
)doc";

inline constexpr char WFM_EXIT_DOC[] =
"__exit__($self, /, *args)\n--\n\n"
R"doc(Exit a context manager, releasing the Writer.

Equivalent to calling ``close()``. It returns None, so an exception raised
inside the ``with`` body propagates normally and is never suppressed.

Parameters
----------
exc_type : object | None
    The exception class, ignored.
exc : object | None
    The exception instance, ignored.
tb : object | None
    The traceback object, ignored.

Raises
------
OSError
    If the writer's destructor reports failure, from an explicit call and
    from ``__exit__`` alike, so a failing teardown propagates out of a
    ``with`` block.
)doc";

inline constexpr char WFM_ADD_KEYWORD_DOC[] =
"add_keyword($self, /, tag, type, value)\n--\n\n"
"add_keyword(...) -- add a codec-typed value.";

inline constexpr char WFM_CLIP_FRACTION_DOC[] =
"Fraction (0..1) of I/Q components that saturated. Always 0.0 unless "
"`track_clipping()` was enabled before writing -- the counter is the one "
"extra per-sample compare, so it is opt-in. `peak_dbfs` is always tracked "
"and is enough to tell you clipping happened; this tells you how much.\n";

inline constexpr char WFM_PEAK_DBFS_DOC[] =
"Largest per-axis magnitude written so far, in dBFS (full scale = 0 dBFS, "
"so a value above 0 means an integer capture clipped). Always tracked. It "
"is also the remedy: back off by `ceil(peak_dbfs)` dB of `headroom` and the "
"capture fits. Float wire types never clip but still report a peak. `-inf` "
"before anything is written.\n";

inline constexpr char WFM_CLIPPED_DOC[] =
"True if an integer capture saturated -- `peak_dbfs > 0` and the wire type "
"is one of `ci32`/`ci16`/`ci8`. Always False for `cf32`/`cf64`, which "
"cannot clip: a float sample above full scale is merely loud.\n";

inline constexpr char WFM_WRITE_BLUE_HEADER_DOC[] =
"write_blue_header($module, /, path, fs, sample_type='cf32', endian='le', fc=0.0, data_start=0.0, total=0, detached=1, t0=0.0)\n--\n\n"
"Write a standalone BLUE type-1000 HCB header (the detached .hdr): 512 "
"bytes carrying the BLUE magic, byte order, data_size (total x "
"bytes-per-sample), the type-1000 tag and xdelta = 1/fs. Pair it with a "
"detached .det body of raw interleaved I/Q. Raises on a failed write.\n";

#endif // WFM_DOCSTRINGS_H
