"""Observer-frame SED of a blob: synchrotron, self-absorption and self-Compton
at 200 frequencies, on the accurate and on the classic kernels, on one and
two worker threads (best of several calls, milliseconds per SED).

The blob is the Mrk 421 model of the README (broken power law on the model's
default grids: 48 Lorentz factors plus the break, a synchrotron seed field
of 8 points per decade).
"""

from __future__ import annotations

import sys
import warnings
from pathlib import Path

import astropy.units as u
import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
from benchlib import best_time, one_versus_two_threads  # noqa: E402

from ostrel_models import Blob, BrokenPowerLaw  # noqa: E402
from ostrel_models._backends import have_accurate  # noqa: E402


def blob() -> Blob:
    return Blob(radius=5e16 * u.cm, B=0.04 * u.G, doppler=21, z=0.03,
                electrons=BrokenPowerLaw(2.2, 4.5, 3e5, 800, 1e8), energy=1e47 * u.erg)


def measure() -> dict[str, float]:
    warnings.simplefilter("ignore", RuntimeWarning)
    b = blob()
    nu = np.logspace(8, 28, 200) * u.Hz
    out = {}
    sets = ["classic"]
    if have_accurate():
        sets.insert(0, "accurate")
    for kernels in sets:
        b.sed(nu, kernels=kernels, gamma_gamma=False)           # warm-up (tables, imports)
        repeats = 20 if kernels == "accurate" else 3
        out[f"{kernels}: syn+SSA+SSC, 200 nu"] = best_time(
            lambda k=kernels: b.sed(nu, kernels=k, gamma_gamma=False), repeats)
    if "accurate" in sets:
        out["accurate: the same + gamma-gamma"] = best_time(lambda: b.sed(nu), 20)
    return out


def main() -> None:
    one_versus_two_threads(__file__, measure, "SED of the Mrk 421 blob", 36, 2)


if __name__ == "__main__":
    main()
