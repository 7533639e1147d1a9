"""Calls mypy --strict must refuse: one error per line marked."""

from kestrix.wfm import Writer, write_blue_header

w = Writer("cap.raw", 1e6, file_type="RAW")  # error
w = Writer("cap.raw", 1e6, sample_type="ci12")  # error
w = Writer("cap.raw", 1e6, endian="little")  # error
w = Writer("cap.raw")  # error
w.add_keyword("COMMENT", "Q", "demo")  # error
w.peak_dbfs = 0.0  # error
write_blue_header("cap.hdr", 1e6, sample_type="cf16")  # error
