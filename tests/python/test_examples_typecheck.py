"""The examples type-check strictly against the module's stubs.

mypy reads the stubs from the source tree (src/bindings/ostrel/ostrel.pyi), so a
change to them is checked without reinstalling; the installed stub package
(ostrel-stubs) is a copy of that file.
"""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("mypy", reason="mypy is not installed")

ROOT = Path(__file__).resolve().parents[2]


def test_examples_pass_mypy_strict(request: pytest.FixtureRequest, tmp_path: Path) -> None:
    cache = getattr(request.config, "cache", None)
    cache_dir = cache.mkdir("mypy") if cache is not None else tmp_path
    env = dict(os.environ, MYPYPATH=str(ROOT / "src" / "bindings" / "ostrel"))
    run = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(cache_dir),
         str(ROOT / "examples")],
        capture_output=True, text=True, env=env, cwd=ROOT, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
