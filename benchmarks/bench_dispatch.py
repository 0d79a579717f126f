"""Cost of handing small maps to the worker pool, and the CPU an idle process uses.

Each call is timed on its own (perf_counter_ns around the call), in three
spacings: back to back; 2 ms apart, the caller busy in Python in between (as
a user's loop that does its own work between calls); and 2 ms apart, the
caller asleep in between (time.sleep).  2 ms is long enough for a worker that
spins only briefly to have parked, so that the call pays for waking it.  A
sleeping caller also finds its own processor and caches cold (on a virtual
machine the virtual processor may have been descheduled): gofb shows that
floor, which has nothing to do with the pool.  The calls:

- rad_cool_mono on 1 Lorentz factor (the work is well below 1 us: the time
  is argument conversion plus the hand-off),
- rad_cool_mono on 256 Lorentz factors (a few us of work),
- rad_cool_pwl in the Thomson limit on 128 Lorentz factors x 128 seed
  frequencies,
- ic_iso_monochrome_full with 64 frequencies x 64 Lorentz factors,
- gofb(0.5), which does not use the pool: the floor of a call from Python.

The cost of the hand-off itself is the time of rad_cool_mono on 1 Lorentz
factor less that of the same call on none (the wrapper, its conversions and
the kernel's entry, but no map): the two calls alternate in one loop, each
with its own spacing, so that both meet the same state of the machine, and
the "excess" column gives the difference of their medians.

Idle: after a parallel call the process sleeps for one second; the CPU time
the process (all its threads) used in that second is printed in ms.  A pool
whose threads spin before parking may use a little; one that never parks
would use about a second per spinning thread.

Each thread count runs in its own process (the pool is sized once, from
RAYON_NUM_THREADS).  Figures are min / median / 90th percentile in us.
"""

from __future__ import annotations

import math
import time

import ostrel
from benchlib import log_grid, measure_with_threads, serve_measurement

BACK_TO_BACK_CALLS = 2000
SPACED_CALLS = 300
SPACING_S = 0.002


def cases():
    one_gamma = [1e3]
    gammas = log_grid(256, 1.5, 1e7)
    seed_freqs = log_grid(128, 1e8, 1e20)
    uu = [1e-10 * (f / 1e8) ** -0.7 * math.exp(-f / 1e19) for f in seed_freqs]
    gg = log_grid(128, 1.5, 1e7)
    freqs = log_grid(64, 1e10, 1e26)
    g = log_grid(64, 10.0, 1e6)
    n = [x**-2.5 * math.exp(-x / 1e5) for x in g]
    return {
        "rad_cool_mono, 1 gamma": lambda: ostrel.rad_cool_mono(one_gamma, 1e14, 1e-9, True),
        "rad_cool_mono, 0 gamma": lambda: ostrel.rad_cool_mono([], 1e14, 1e-9, True),
        "rad_cool_mono, 256 gamma": lambda: ostrel.rad_cool_mono(gammas, 1e14, 1e-9, True),
        "rad_cool_pwl Thomson, 128x128": lambda: ostrel.rad_cool_pwl(gg, seed_freqs, uu, False),
        "ic_iso_monochrome_full, 64x64": lambda: ostrel.ic_iso_monochrome_full(
            freqs, 1e-9, 1e14, n, g),
        "gofb(0.5) (no pool)": lambda: ostrel.gofb(0.5),
    }


def call_times_us(calls_of_round, rounds: int, spacing: float, sleep: bool) -> list[list[float]]:
    """Times of each call of calls_of_round, called in turn `rounds` times."""
    clock = time.perf_counter_ns
    times = [[] for _ in calls_of_round]
    for _ in range(rounds):
        for call, record in zip(calls_of_round, times):
            if spacing and sleep:
                time.sleep(spacing)
            elif spacing:
                until = clock() + int(spacing * 1e9)
                while clock() < until:
                    pass
            start = clock()
            call()
            record.append((clock() - start) * 1e-3)
    return times


def summary(times: list[float]) -> tuple[float, float, float]:
    ordered = sorted(times)
    return (ordered[0], ordered[len(ordered) // 2], ordered[(9 * len(ordered)) // 10])


def idle_cpu_ms(call) -> float:
    """CPU time of the whole process in the second after a parallel call."""
    call()
    start = time.process_time()
    time.sleep(1.0)
    return (time.process_time() - start) * 1e3


SPACINGS = {
    "back-to-back": (BACK_TO_BACK_CALLS, 0.0, False),
    "2 ms busy": (SPACED_CALLS, SPACING_S, False),
    "2 ms asleep": (SPACED_CALLS, SPACING_S, True),
}


def measure():
    figures = {}
    all_cases = cases()
    control = all_cases.pop("rad_cool_mono, 0 gamma")
    for name, call in all_cases.items():
        for _ in range(50):  # creates the pool and warms the caches
            call()
        figures[name] = {}
        for spacing, (rounds, gap, sleep) in SPACINGS.items():
            if name == "rad_cool_mono, 1 gamma":
                times, control_times = call_times_us([call, control], rounds, gap, sleep)
                excess = summary(times)[1] - summary(control_times)[1]
            else:
                (times,) = call_times_us([call], rounds, gap, sleep)
                excess = None
            figures[name][spacing] = (*summary(times), excess)
    mono = cases()["rad_cool_mono, 256 gamma"]
    figures["idle"] = min(idle_cpu_ms(mono) for _ in range(2))
    return figures


def main() -> None:
    if serve_measurement(measure):
        return
    runs = {w: measure_with_threads(__file__, w) for w in (1, 2)}
    width = 30
    print(f"{'call (us per call)':{width}s} {'W':>2s} {'spacing':>13s} "
          f"{'min':>9s} {'median':>9s} {'p90':>9s} {'excess':>9s}")
    for name in runs[1]:
        if name == "idle":
            continue
        for w, figures in runs.items():
            for spacing, (lo, mid, p90, excess) in figures[name].items():
                extra = f"{excess:9.2f}" if excess is not None else f"{'':9s}"
                print(f"{name:{width}s} {w:2d} {spacing:>13s} {lo:9.2f} {mid:9.2f} {p90:9.2f} "
                      f"{extra}")
    for w, figures in runs.items():
        print(f"idle: CPU time in the second after a call, W={w}: {figures['idle']:.2f} ms")


if __name__ == "__main__":
    main()
