"""A flare of the time-dependent blob against one steady SED, on one and two
worker threads (seconds).

The flare: the Mrk 421 blob of the README, empty at t = 0, a broken power
law injected for 2 R/c, synchrotron and self-Compton cooling on the default
grids, to 30 R/c with 50 snapshots (the evolution alone; SEDs are computed
on request).  The steady SED: the same blob, 200 frequencies.
"""

from __future__ import annotations

import sys
import time
from pathlib import Path

import astropy.units as u
import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
from benchlib import best_time, measure_with_threads, serve_measurement  # noqa: E402

from ostrel_models import Blob, BrokenPowerLaw, Injection, evolve  # noqa: E402


def electrons() -> BrokenPowerLaw:
    return BrokenPowerLaw(2.47, 4.73, 3.6e5, 1.4e3, 1e8)


def measure() -> dict[str, float]:
    steady = Blob(radius=5e16 * u.cm, B=0.032 * u.G, doppler=22.5, z=0.03,
                  electrons=electrons(), energy=4.2e47 * u.erg)
    nu = np.logspace(8, 28, 200) * u.Hz
    steady.sed(nu)
    sed = best_time(lambda: steady.sed(nu), 10)
    empty = steady.copy()
    empty.density = 0.0
    inj = Injection(electrons(), 1e43 * u.erg / u.s, Injection.step(0, 2))
    start = time.perf_counter()
    ev = evolve(empty, inj, duration=30, escape_time=3, times=np.linspace(0.6, 30, 50),
                cooling=("synchrotron", "ssc"))
    flare = time.perf_counter() - start
    return {"sed": sed, "flare": flare, "steps": ev.steps, "gamma": len(ev.gamma)}


def main() -> None:
    if serve_measurement(measure):
        return
    print(f"{'':44s} {'W=1':>10s} {'W=2':>10s}")
    one, two = measure_with_threads(__file__, 1), measure_with_threads(__file__, 2)
    print(f"{'steady SED, 200 frequencies [ms]':44s} {one['sed'] * 1e3:10.2f} {two['sed'] * 1e3:10.2f}")
    print(f"{'flare to 30 R/c, SSC cooling, 50 snapshots [s]':44s} {one['flare']:10.2f} "
          f"{two['flare']:10.2f}")
    print(f"{'flare / steady SED':44s} {one['flare'] / one['sed']:10.0f} "
          f"{two['flare'] / two['sed']:10.0f}")
    print(f"({two['steps']} steps on {two['gamma']} Lorentz factors)")


if __name__ == "__main__":
    main()
