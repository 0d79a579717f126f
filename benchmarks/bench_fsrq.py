"""Observer-frame SED of a flat-spectrum radio quasar at 200 frequencies:
synchrotron, self-absorption and self-Compton, plus external Compton
scattering of a Shakura-Sunyaev disk, a spherical-shell broad-line region and
a ring of dust in their geometry, the disk's own emission, γγ absorption on
those fields along the line of sight and by the EBL — against the SSC SED of
the same blob without the nucleus (best of several calls, milliseconds per
SED, one and two worker threads).

The blob is the PKS 1510-089 model of examples/fit_pks1510.py --geometry at
its fitted values.  The pair opacity of the fields depends on the fields and
the geometry only and is kept between calls with the same ones (the usual
case in a fit that varies the electrons); "first" clears it before each call.
"""

from __future__ import annotations

import sys
import warnings
from pathlib import Path

import astropy.units as u
import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
from benchlib import best_time, one_versus_two_threads  # noqa: E402

from ostrel_models import (Blob, BrokenPowerLaw, RingDustTorus, ShakuraSunyaevDisk,  # noqa: E402
                           SphericalShellBLR)
from ostrel_models import agn  # noqa: E402


def blobs() -> tuple[Blob, Blob]:
    l_disk = 6.7e45 * u.erg / u.s
    fields = [ShakuraSunyaevDisk(5.7e8 * u.M_sun, l_disk),
              SphericalShellBLR(l_disk, 0.13, 2.6e17 * u.cm),
              RingDustTorus(l_disk, 0.013, 1000 * u.K)]
    electrons = BrokenPowerLaw(p1=1.82, p2=3.58, gamma_b=1050.0, gamma_min=1.5, gamma_max=3e4)
    common = dict(radius=3e16 * u.cm, B=0.39 * u.G, doppler=20.0, Gamma=20.0, z=0.361,
                  electrons=electrons, energy=6.75e48 * u.erg)
    return (Blob(**common, external=fields, r=4.0e17 * u.cm, ebl="dominguez2011"),
            Blob(**common))


def measure() -> dict[str, float]:
    warnings.simplefilter("ignore", RuntimeWarning)
    fsrq, ssc = blobs()
    nu = np.logspace(8, 28, 200) * u.Hz
    fsrq.sed(nu)
    ssc.sed(nu)                                    # warm-up (tables, imports)

    def first() -> None:
        agn._OPACITY_CACHE.clear()
        fsrq.sed(nu)

    return {"SSC (syn+SSA+SSC+gamma-gamma), 200 nu": best_time(lambda: ssc.sed(nu), 20),
            "FSRQ: + disk, BLR, torus, gg on them, EBL": best_time(lambda: fsrq.sed(nu), 20),
            "FSRQ, first call of a geometry": best_time(first, 10)}


def main() -> None:
    one_versus_two_threads(__file__, measure, "SED of the PKS 1510-089 blob", 44, 2)


if __name__ == "__main__":
    main()
