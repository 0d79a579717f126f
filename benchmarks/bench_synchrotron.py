"""Time per call of syn_emissivity_full on one and two worker threads.

128 output frequencies 1e8 .. 1e22 Hz (log-spaced) from electrons
N = gamma^-2.5 exp(-gamma/1e5) on 128 Lorentz factors 10 .. 1e6 (log-spaced)
in B = 1 G, with and without the absorption coefficient.  Every segment of
every frequency is a Romberg integration of at least 513 (emission) or 1025
(absorption) integrand evaluations.

Each thread count runs in its own process (the pool is sized once, from
RAYON_NUM_THREADS); the figure is the best of a few repeats.
"""

import math

import ostrel
from benchlib import best_time, log_grid, one_versus_two_threads

REPEATS = 2


def measure():
    freqs = log_grid(128, 1e8, 1e22)
    gamma = log_grid(128, 10.0, 1e6)
    n = [g**-2.5 * math.exp(-g / 1e5) for g in gamma]
    cases = {
        "with_abs=True ": lambda: ostrel.syn_emissivity_full(freqs, gamma, n, 1.0, True),
        "with_abs=False": lambda: ostrel.syn_emissivity_full(freqs, gamma, n, 1.0, False),
    }
    return {name: best_time(call, REPEATS) for name, call in cases.items()}


if __name__ == "__main__":
    one_versus_two_threads(__file__, measure, "syn_emissivity_full", width=22, decimals=1)
