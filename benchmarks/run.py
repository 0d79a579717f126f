"""Run every benchmark script in this folder and print their figures.

Each ``bench_*.py`` is a standalone script; thread-count comparisons start
their own subprocesses with RAYON_NUM_THREADS set.
"""

from __future__ import annotations

import os
import platform
import subprocess
import sys
from pathlib import Path


def machine() -> str:
    model = platform.processor() or "unknown CPU"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return f"{model}, {os.cpu_count()} logical CPUs, Python {platform.python_version()}"


def main() -> int:
    here = Path(__file__).resolve().parent
    only = set(sys.argv[1:])
    print(f"# machine: {machine()}", flush=True)
    status = 0
    for script in sorted(here.glob("bench_*.py")):
        if only and script.stem.removeprefix("bench_") not in only:
            continue
        print(f"\n## {script.stem.removeprefix('bench_')}", flush=True)
        status |= subprocess.call([sys.executable, str(script)])
    return status


if __name__ == "__main__":
    sys.exit(main())
