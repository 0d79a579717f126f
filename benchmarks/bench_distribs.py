"""Time per call of the Fokker-Planck step and of the Park 1995 solution.

fp_findif_difu: a bump at gamma = 100 under synchrotron-like losses and
momentum diffusion, advanced 1000 steps in a loop on 256 and 1024 bins.
The cost grows faster than n: the lower-edge extrapolation runs Neville's
scheme over n - 1 points (n^2/2 divisions).

eq_59_park1995: 256 Lorentz factors at t = 0.01.  The first call includes
the one-time Gamma product of the Bessel function (182005 exponentials).
"""

import math
import time

import ostrel
from benchlib import log_grid

STEPS = 1000


def bench_step(n):
    g = log_grid(n, 1.0, 1e6)
    dist = [math.exp(-0.5 * (math.log(x / 100.0) / 0.1) ** 2) for x in g]
    gdot = [1e-6 * x * x for x in g]
    diffusion = [1e-4 * x**3 for x in g]
    injection = [0.0] * n
    start = time.perf_counter()
    for _ in range(STEPS):
        dist = ostrel.fp_findif_difu(1.0, g, dist, gdot, diffusion, injection, 1e3, 1.0)
    per_call = (time.perf_counter() - start) / STEPS
    print(f"fp_findif_difu  {n:5d} bins  {STEPS} steps   {per_call * 1e6:9.1f} us/call")


def bench_park(n=256, repeats=200):
    g = log_grid(n, 2.0, 1e5)
    start = time.perf_counter()
    ostrel.eq_59_park1995(0.01, g)
    first = time.perf_counter() - start
    start = time.perf_counter()
    for _ in range(repeats):
        ostrel.eq_59_park1995(0.01, g)
    per_call = (time.perf_counter() - start) / repeats
    print(f"eq_59_park1995  {n:5d} gammas first call {first * 1e3:9.2f} ms")
    print(f"eq_59_park1995  {n:5d} gammas            {per_call * 1e6:9.1f} us/call")


if __name__ == "__main__":
    bench_step(256)
    bench_step(1024)
    bench_park()
