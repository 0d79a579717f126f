"""Time per call of the Compton kernels on one and two worker threads.

Seed field: 128 frequencies 1e8 .. 1e20 Hz, u = 1e-10 (nu/1e8)^-0.7 exp(-nu/1e19)
(also used as the seed intensity of ic_iso_powlaw_full).

rad_cool_pwl: 128 Lorentz factors 1 .. 1e7 against that spectrum, with and
without the Klein-Nishina correction (with it, the segments with
0.001 <= b < 100 are Romberg integrations).

ic_iso_powlaw_full: 128 output frequencies 1e14 .. 1e27 Hz from electrons
N = gamma^-2.5 exp(-gamma/1e5) on 128 Lorentz factors 10 .. 1e6.

Each thread count runs in its own process (the pool is sized once, from
RAYON_NUM_THREADS); the figure is the best of several repeats.
"""

import math

import ostrel
from benchlib import best_time, log_grid, one_versus_two_threads


def measure():
    seed_freqs = log_grid(128, 1e8, 1e20)
    uu = [1e-10 * (f / 1e8) ** -0.7 * math.exp(-f / 1e19) for f in seed_freqs]
    gg = log_grid(128, 1.0, 1e7)
    out_freqs = log_grid(128, 1e14, 1e27)
    g = log_grid(128, 10.0, 1e6)
    n = [x**-2.5 * math.exp(-x / 1e5) for x in g]
    # ic_iso_powlaw_full reads the seed on the output grid; the seed spectrum
    # is tabulated there with the same law.
    inu = [1e-10 * (f / 1e8) ** -0.7 * math.exp(-f / 1e19) for f in out_freqs]
    cases = {
        "rad_cool_pwl with_kn=True ": lambda: ostrel.rad_cool_pwl(gg, seed_freqs, uu, True),
        "rad_cool_pwl with_kn=False": lambda: ostrel.rad_cool_pwl(gg, seed_freqs, uu, False),
        "ic_iso_powlaw_full        ": lambda: ostrel.ic_iso_powlaw_full(out_freqs, inu, g, n),
    }
    results = {}
    for name, call in cases.items():
        call()  # warm-up: creates the pool
        once = best_time(call, 1)
        repeats = max(3, min(50, int(0.5 / max(once, 1e-6))))
        results[name] = best_time(call, repeats)
    return results


if __name__ == "__main__":
    one_versus_two_threads(__file__, measure, "kernel", width=28, decimals=3)
