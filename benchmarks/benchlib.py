"""Helpers shared by the benchmark scripts (not a benchmark itself: run.py
runs only bench_*.py).

The worker pool is sized once per process, from RAYON_NUM_THREADS, so a
script compares thread counts by running itself again with --measure in a
fresh interpreter per count and reading back the JSON figures it prints.
"""

from __future__ import annotations

import json
import math
import os
import subprocess
import sys
import time
from collections.abc import Callable
from typing import Any

MEASURE_FLAG = "--measure"


def log_grid(n: int, lo: float, hi: float) -> list[float]:
    """n points in geometric progression from lo to hi."""
    return [lo * (hi / lo) ** (i / (n - 1)) for i in range(n)]


def best_time(call: Callable[[], object], repeats: int) -> float:
    """The shortest wall time of `repeats` calls (inf for none)."""
    best = math.inf
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


def serve_measurement(measure: Callable[[], Any]) -> bool:
    """The child's side: when this process was started with --measure, prints
    measure()'s figures as JSON and returns True; otherwise returns False."""
    if MEASURE_FLAG not in sys.argv:
        return False
    print(json.dumps(measure()))
    return True


def measure_with_threads(script: str, threads: int) -> Any:
    """Runs script with --measure on `threads` worker threads and returns the
    figures it printed."""
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
    out = subprocess.run([sys.executable, script, MEASURE_FLAG], env=env, check=True,
                         capture_output=True, text=True)
    return json.loads(out.stdout)


def one_versus_two_threads(script: str, measure: Callable[[], dict[str, float]], title: str,
                           width: int, decimals: int) -> None:
    """main() of a script whose measure() gives seconds per call by case
    name: in the child, serves the measurement; in the parent, prints the
    milliseconds per call on one and on two worker threads and their ratio."""
    if serve_measurement(measure):
        return
    one = measure_with_threads(script, 1)
    two = measure_with_threads(script, 2)
    print(f"{title:{width}s} {'W=1 ms/call':>12s} {'W=2 ms/call':>12s} {'speed-up':>9s}")
    for name in one:
        print(f"{name:{width}s} {one[name] * 1e3:12.{decimals}f} {two[name] * 1e3:12.{decimals}f} "
              f"{one[name] / two[name]:8.2f}x")
