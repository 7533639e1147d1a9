"""The installed package's type information, as mypy --strict sees it."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("mypy")

HERE = Path(__file__).parent


def test_mypy_accepts_the_example_and_refuses_the_misuse(tmp_path):
    run = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental",
         "--cache-dir", str(tmp_path), "--no-error-summary",
         str(HERE / "typing_example.py"), str(HERE / "typing_misuse.py")],
        capture_output=True, text=True, cwd=tmp_path)
    errors = {(Path(f).name, int(n)) for f, n in
              re.findall(r"^(.*?):(\d+): error:", run.stdout, re.MULTILINE)}
    misuse = (HERE / "typing_misuse.py").read_text().splitlines()
    expected = {("typing_misuse.py", i) for i, line in enumerate(misuse, 1)
                if line.endswith("# error")}
    assert errors == expected, run.stdout
