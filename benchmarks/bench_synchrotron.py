"""Time per call of syn_emissivity_full on one and two worker threads.

128 output frequencies 1e8 .. 1e22 Hz (log-spaced) from electrons
N = gamma^-2.5 exp(-gamma/1e5) on 128 Lorentz factors 10 .. 1e6 (log-spaced)
in B = 1 G, with and without the absorption coefficient.  Every segment of
every frequency is a Romberg integration of at least 513 (emission) or 1025
(absorption) integrand evaluations.

Each thread count runs in its own process (the pool is sized once, from
RAYON_NUM_THREADS); the figure is the best of a few repeats.
"""

import json
import math
import os
import subprocess
import sys
import time

import ostrel

REPEATS = 2


def log_grid(n, lo, hi):
    return [lo * (hi / lo) ** (i / (n - 1)) for i in range(n)]


def best_time(call, repeats):
    best = math.inf
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


def measure():
    freqs = log_grid(128, 1e8, 1e22)
    gamma = log_grid(128, 10.0, 1e6)
    n = [g**-2.5 * math.exp(-g / 1e5) for g in gamma]
    cases = {
        "with_abs=True ": lambda: ostrel.syn_emissivity_full(freqs, gamma, n, 1.0, True),
        "with_abs=False": lambda: ostrel.syn_emissivity_full(freqs, gamma, n, 1.0, False),
    }
    return {name: best_time(call, REPEATS) for name, call in cases.items()}


def run_with_threads(threads):
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
    out = subprocess.run([sys.executable, __file__, "--measure"], env=env, check=True,
                         capture_output=True, text=True)
    return json.loads(out.stdout)


def main():
    if "--measure" in sys.argv:
        print(json.dumps(measure()))
        return
    one = run_with_threads(1)
    two = run_with_threads(2)
    print(f"{'syn_emissivity_full':22s} {'W=1 ms/call':>12s} {'W=2 ms/call':>12s} {'speed-up':>9s}")
    for name in one:
        print(f"{name:22s} {one[name] * 1e3:12.1f} {two[name] * 1e3:12.1f} "
              f"{one[name] / two[name]:8.2f}x")


if __name__ == "__main__":
    main()
