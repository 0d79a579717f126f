"""Fit the 2015 high state of PKS 1510-089 with synchrotron, self-Compton and
external Compton scattering of the broad-line region.

The data (MAGIC Collaboration, Ahnen et al. 2017, A&A 603, A29, period B) are
shipped with ostrel_models.  A blob of radius 3e16 cm moving with Doppler
factor 20 holds a broken power law of electrons; besides its own synchrotron
field (self-Compton, which makes the X-rays) they scatter the Lyman-α line
of the broad-line region, a monochromatic field isotropic in the host frame
(``LineField`` at 2.47e15 Hz), which makes the GeV gamma rays.  The energy
density of that field is a free parameter like the field strength and the
electrons' spectrum, named ``external[0].energy_density``.  The radio point
(from the extended jet) and the MAGIC points (absorbed by the extragalactic
background light, which this model leaves out) are shown but not fitted.

    python examples/fit_pks1510.py            # figure in out/fit_pks1510.png
"""

from __future__ import annotations

import argparse
import time
from pathlib import Path

import astropy.units as u  # type: ignore[import-untyped]
import numpy as np

from ostrel_models import Blob, BrokenPowerLaw, LineField, fit_sed, read_sed

#: Fitted: infrared to Fermi-LAT.
FIT_BAND = (1e12 * u.Hz, 1e25 * u.Hz)

FREE = {
    "B": (0.01, 10.0),
    "energy": (1e44, 1e50),
    "electrons.p1": (1.2, 3.0),
    "electrons.p2": (2.5, 5.5),
    "electrons.gamma_b": (50.0, 1e5),
    "external[0].energy_density": (1e-5, 10.0),
}

OPTICAL = ("SMART", "NICS", "TCS", "KVA")


def instrument_group(name: str) -> str:
    if name.startswith(OPTICAL):
        return "optical/IR (SMARTS, NICS, TCS, KVA)"
    return name


def start_model() -> Blob:
    # Lyman α of the broad-line region, 10.2 eV, at a generic energy density.
    blr = LineField(1e-2 * u.erg / u.cm**3, 2.47e15 * u.Hz)
    return Blob(radius=3e16 * u.cm, B=1.0 * u.G, doppler=20.0, z=0.361,
                electrons=BrokenPowerLaw(p1=1.9, p2=3.8, gamma_b=500.0, gamma_min=1.5,
                                         gamma_max=3e4),
                energy=1e47 * u.erg, external=[blr])


def main(argv: list[str] | None = None) -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--out", type=Path, default=Path("out"), help="directory of the figure")
    ap.add_argument("--systematics", type=float, default=0.10,
                    help="relative systematic error added in quadrature (default 0.10)")
    args = ap.parse_args(argv)

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from ostrel_models.plotting import plot_sed

    data = read_sed("pks1510-089_2015b")
    nu = data["frequency"].quantity
    fitted = np.asarray((nu > FIT_BAND[0]) & (nu < FIT_BAND[1]))
    blob = start_model()
    print(f"PKS 1510-089 (2015, period B): {len(data)} points, {fitted.sum()} fitted; "
          f"free: {', '.join(FREE)}")
    t0 = time.perf_counter()
    result = fit_sed(blob, data[fitted], FREE, systematics=args.systematics)
    print(result.summary())
    print(f"fit time: {time.perf_counter() - t0:.1f} s")
    args.out.mkdir(parents=True, exist_ok=True)
    fig = plot_sed(data, result, fitted=fitted, group=instrument_group, ylim=(1e-14, 1e-8),
                   title="PKS 1510-089, 2015 period B (MAGIC Coll. 2017): SSC + EC on the "
                         f"BLR (χ²/dof = {result.chi2:.1f}/{result.dof}; open: not fitted)")
    path = args.out / "fit_pks1510.png"
    fig.savefig(path, dpi=130, bbox_inches="tight")
    plt.close(fig)
    print(f"figure: {path}")


if __name__ == "__main__":
    main()
