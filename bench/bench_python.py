"""Writer.write from Python against the NumPy pipeline a user would write
instead, and the per-call cost of the binding against the C call.

    bench_python.py [--rounds N] [--quick] [--c-results FILE]

With --c-results (the --tsv output of wfm_bench) the C figures join the
NumPy and binding columns in one table.
"""

import argparse
import ctypes
import os
import statistics
import tempfile
import time

import numpy as np
import wfm_writer

TYPES = ["cf32", "cf64", "ci32", "ci16", "ci8"]
SCALE = {"ci32": 2147483647.0, "ci16": 32767.0, "ci8": 127.0}
INT = {"ci32": "i4", "ci16": "i2", "ci8": "i1"}
BLOCKS = [1024, 65536, 1048576]
STREAM_BUFFER = 1 << 20


def numpy_write(f, x, sample_type, endian, gain, peak):
    """The exact semantics in NumPy: gain, peak, clamp, widen, scale,
    truncate, NaN to 0, byte order, tofile.  Returns the new peak."""
    v = x.view(np.float32) * np.float32(gain)
    a = np.abs(v).reshape(-1, 2)
    m = np.where(a[:, 0] > a[:, 1], a[:, 0], a[:, 1])
    peak = np.fmax.reduce(m, initial=peak)
    order = ">" if endian == "be" else "<"
    if sample_type == "cf32":
        out = v.astype(order + "f4", copy=False)
    elif sample_type == "cf64":
        out = v.astype(order + "f8")
    else:
        d = np.clip(v, np.float32(-1), np.float32(1)).astype(np.float64)
        d *= SCALE[sample_type]
        d[np.isnan(d)] = 0.0
        out = d.astype(order + INT[sample_type])
    out.tofile(f)
    return peak


def signal(n, seed):
    rng = np.random.default_rng(seed)
    return (rng.standard_normal(2 * n, dtype=np.float32) * np.float32(0.3)).view(np.complex64)


def time_writer(path, x, blocks, sample_type, endian):
    os.path.exists(path) and os.remove(path)
    t0 = time.perf_counter()
    w = wfm_writer.Writer(path, 1.0, file_type="raw", sample_type=sample_type, endian=endian,
                          sidecar=False)
    for _ in range(blocks):
        w.write(x)
    w.close()
    return time.perf_counter() - t0


def time_numpy(path, x, blocks, sample_type, endian):
    os.path.exists(path) and os.remove(path)
    t0 = time.perf_counter()
    peak = np.float32(0)
    with open(path, "wb", buffering=STREAM_BUFFER) as f:
        for _ in range(blocks):
            peak = numpy_write(f, x, sample_type, endian, 1.0, peak)
    return time.perf_counter() - t0


class CWriter:
    """The module's exported C interface through ctypes."""

    def __init__(self):
        lib = ctypes.CDLL(wfm_writer.__file__)
        self.create = lib.wfm_writer_create
        self.create.restype = ctypes.c_void_p
        self.create.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                ctypes.c_uint64, ctypes.c_bool, ctypes.c_double,
                                ctypes.c_double, ctypes.c_double, ctypes.c_double]
        self.write = lib.wfm_writer_write
        self.write.restype = ctypes.c_uint64
        self.write.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint64]
        self.close = lib.wfm_writer_close
        self.close.argtypes = [ctypes.c_void_p]


def time_ctypes(c, path, x, blocks, sample_type, endian):
    os.path.exists(path) and os.remove(path)
    ptr, n, write = x.ctypes.data, len(x), c.write
    t0 = time.perf_counter()
    w = c.create(path.encode(), 0, TYPES.index(sample_type), endian == "be", 0, False,
                 0.0, 0.0, 0.0, 0.0)
    for _ in range(blocks):
        write(w, ptr, n)
    c.close(w)
    return time.perf_counter() - t0


def read_c_results(path):
    rows = {}
    if not path:
        return rows
    with open(path) as f:
        head = f.readline().rstrip("\n").split("\t")
        for line in f:
            r = dict(zip(head, line.rstrip("\n").split("\t")))
            rows[(r["kind"], r["type"], r["order"], int(r["block"]))] = r
    return rows


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--c-results")
    args = ap.parse_args()
    c_rows = read_c_results(args.c_results)
    total = 1 << (21 if args.quick else 23)
    ctyp = CWriter()
    tmp = tempfile.mkdtemp(prefix="wfm-bench-py-")
    path = os.path.join(tmp, "bench.out")

    print(f"Packed writes, {args.rounds} rounds of {total} samples each; NumPy {np.__version__}")
    hdr = ("type", "bo", "block", "Msample/s", "in GB/s", "x floor", "scalar x fl", "devnull",
           "compute", "py Msample/s", "numpy x py", "py/call", "py/C call", "py/ctypes")
    sub = ("", "", "", "(min)", "(min)", "best / med", "best / med", "x scalar", "Gsample/s",
           "(min)", "best / med", "us (min)", "", "")
    fmt = "{:<5} {:<2} {:>7} | {:>9} {:>7} | {:<11} | {:<11} | {:>8} | {:>9} | {:>12} {:<13} | {:>8} {:>9} {:>9}"
    print(fmt.format(*hdr))
    print(fmt.format(*sub))
    for st in TYPES:
        for endian in ("le", "be"):
            for bs in BLOCKS:
                x = signal(bs, 11)
                blocks = total // bs
                py, npy, ct = [], [], []
                for _ in range(args.rounds):
                    py.append(time_writer(path, x, blocks, st, endian))
                    npy.append(time_numpy(path, x, blocks, st, endian))
                    ct.append(time_ctypes(ctyp, path, x, blocks, st, endian))
                ratio = [n / p for n, p in zip(npy, py)]
                c = c_rows.get(("packed", st, endian, bs))
                per_call = min(py) / blocks
                cols = [st, endian, bs]
                if c:
                    cols += [f"{1 / float(c['writer_s_per_sample_min']) / 1e6:.0f}",
                             f"{8 / float(c['writer_s_per_sample_min']) / 1e9:.2f}",
                             f"{float(c['floor_ratio_best']):.2f} / {float(c['floor_ratio_med']):.2f}",
                             f"{float(c['scalar_ratio_best']):.2f} / {float(c['scalar_ratio_med']):.2f}",
                             f"{float(c['devnull_speedup_med']):.1f}",
                             f"{float(c['compute_gsps']):.2f}"]
                    c_call = f"{per_call / float(c['per_call_s_min']):.2f}"
                else:
                    cols += ["-"] * 6
                    c_call = "-"
                cols += [f"{bs * blocks / min(py) / 1e6:.0f}",
                         f"{min(npy) / min(py):.1f} / {statistics.median(ratio):.1f}",
                         f"{per_call * 1e6:.1f}", c_call, f"{min(py) / min(ct):.2f}"]
                print(fmt.format(*cols), flush=True)
    os.path.exists(path) and os.remove(path)
    os.rmdir(tmp)

    if c_rows:
        print(f"\nCSV (from the C run)")
        print("{:<5} {:>7} | {:>9} | {:<15}".format("type", "block", "Mline/s", "fprintf x writer"))
        print("{:<5} {:>7} | {:>9} | {:<15}".format("", "", "(min)", "best / med"))
        for st in TYPES:
            for bs in (1024, 65536):
                c = c_rows.get(("csv", st, "le", bs))
                if c:
                    print("{:<5} {:>7} | {:>9.1f} | {:5.2f} / {:5.2f}".format(
                        st, bs, 1 / float(c["writer_s_per_sample_min"]) / 1e6,
                        float(c["floor_ratio_best"]), float(c["floor_ratio_med"])))
    print("\nx floor: writer time / floor time (fwrite of converted bytes through a 1 MiB stream "
          "buffer); devnull: scalar reference / writer time into /dev/null;\ncompute: converters "
          "alone, in cache; numpy x py: NumPy pipeline time / Writer.write time, end to end;\n"
          "py/C call: Writer.write per call / wfm_writer_write per call in C; py/ctypes: the "
          "same against ctypes calls of the module's C symbols.")


if __name__ == "__main__":
    main()
