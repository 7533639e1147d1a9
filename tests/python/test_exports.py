"""The module's shared object exports the C interface and its init function."""

import ctypes
import re
import shutil
import subprocess

import pytest

import wfm_writer
from conftest import HEADER


def header_functions() -> set[str]:
    text = HEADER.read_text()
    return set(re.findall(r"^WFM_API\b[^;(]*?\b(\w+)\s*\(", text, re.MULTILINE))


def test_header_declares_the_interface():
    names = header_functions()
    assert {"wfm_writer_create", "wfm_kw_decode", "wfm_kw_check_standard",
            "wfm_compose_spans", "wfm_draw_range", "write_blue_header"} <= names
    assert len(names) == 25


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm")
def test_exports_exactly_the_interface_and_the_init_function():
    listing = subprocess.run(["nm", "-D", "--defined-only", wfm_writer.__file__],
                             capture_output=True, text=True, check=True).stdout
    exported = {line.split()[-1] for line in listing.splitlines() if line.strip()}
    assert exported == header_functions() | {"PyInit_wfm_writer"}


def test_uncalled_functions_are_callable_through_the_module():
    lib = ctypes.CDLL(wfm_writer.__file__)
    lib.wfm_kw_elem_size.restype = ctypes.c_uint64
    lib.wfm_kw_entry_size.restype = ctypes.c_uint64
    lib.wfm_kw_entry_size.argtypes = [ctypes.c_uint64, ctypes.c_uint64]
    assert lib.wfm_kw_elem_size(ord("D")) == 8
    assert lib.wfm_kw_entry_size(4, 8) == 24
    check = lib.wfm_kw_check_standard
    check.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_uint64]
    assert check(b"ACQTIME", ord("A"), b"12:34:56", 8) == 1
