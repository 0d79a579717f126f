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

With ``--geometry`` the external fields are those of the nucleus in their
geometry (``ostrel_models.agn``): a Shakura-Sunyaev disk of
L_d = 6.7e45 erg/s around 5.7e8 solar masses (Abdo et al. 2010, ApJ 721,
1425), whose own emission is the "big blue bump" of the optical-UV points;
a spherical-shell broad-line region re-emitting Lyman α at
R_BLR = 1e17 cm (L_d/1e45 erg s⁻¹)^½; a ring of dust at 1000 K at its
sublimation radius (Nenkova et al. 2008).  The blob moves with Γ = δ_D = 20
at a distance r from the black hole; the γ-rays are absorbed on the fields on
their way out and by the EBL (Domínguez et al. 2011), so the MAGIC points are
fitted too.  Free: B, the electron energy and spectrum, r and the two
reprocessed fractions ξ; fixed: the radius, δ_D, Γ and the disk (its
luminosity and mass are measured).

    python examples/fit_pks1510.py --geometry  # figure in out/fit_pks1510_agn.png
"""

from __future__ import annotations

import argparse
import time
from pathlib import Path

import astropy.units as u  # type: ignore[import-untyped]
import numpy as np

from ostrel_models import (Blob, BrokenPowerLaw, LineField, RingDustTorus, ShakuraSunyaevDisk,
                           SphericalShellBLR, fit_sed, read_sed)

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

#: Fitted with the nucleus in its geometry and the EBL: infrared to MAGIC.
FIT_BAND_AGN = (1e12 * u.Hz, 1e27 * u.Hz)

FREE_AGN = {
    "B": (0.01, 10.0),
    "energy": (1e44, 1e50),
    "electrons.p1": (1.2, 3.0),
    "electrons.p2": (2.5, 5.5),
    "electrons.gamma_b": (50.0, 1e5),
    "r": (1e17, 1e19),
    "external.blr.xi": (1e-3, 0.5),
    "external.dt.xi": (1e-3, 0.9),
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


def start_model_agn() -> Blob:
    """SSC + EC on the disk, the broad-line region and the torus in their
    geometry, with absorption on them and by the EBL (see the module
    docstring)."""
    l_disk = 6.7e45 * u.erg / u.s
    disk = ShakuraSunyaevDisk(5.7e8 * u.M_sun, l_disk, name="disk")
    blr = SphericalShellBLR(l_disk, 0.1, 1e17 * u.cm * np.sqrt(6.7), line="Lyalpha", name="blr")
    torus = RingDustTorus(l_disk, 0.2, 1000 * u.K, name="dt")
    return Blob(radius=3e16 * u.cm, B=1.0 * u.G, doppler=20.0, Gamma=20.0, z=0.361,
                electrons=BrokenPowerLaw(p1=1.9, p2=3.8, gamma_b=500.0, gamma_min=1.5,
                                         gamma_max=3e4),
                energy=1e47 * u.erg, external=[disk, blr, torus], r=1e18 * u.cm,
                ebl="dominguez2011")


def main(argv: list[str] | None = None) -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--out", type=Path, default=Path("out"), help="directory of the figure")
    ap.add_argument("--systematics", type=float, default=0.10,
                    help="relative systematic error added in quadrature (default 0.10)")
    ap.add_argument("--geometry", action="store_true",
                    help="disk, broad-line region and torus in their geometry, and the EBL")
    args = ap.parse_args(argv)
    band, free = (FIT_BAND_AGN, FREE_AGN) if args.geometry else (FIT_BAND, FREE)

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from ostrel_models.plotting import plot_sed

    data = read_sed("pks1510-089_2015b")
    nu = data["frequency"].quantity
    fitted = np.asarray((nu > band[0]) & (nu < band[1]))
    blob = start_model_agn() if args.geometry else start_model()
    print(f"PKS 1510-089 (2015, period B): {len(data)} points, {fitted.sum()} fitted; "
          f"free: {', '.join(free)}")
    t0 = time.perf_counter()
    result = fit_sed(blob, data[fitted], free, systematics=args.systematics)
    print(result.summary())
    print(f"fit time: {time.perf_counter() - t0:.1f} s")
    args.out.mkdir(parents=True, exist_ok=True)
    what = ("SSC + EC on disk, BLR and torus in their geometry, with EBL" if args.geometry
            else "SSC + EC on the BLR")
    fig = plot_sed(data, result, fitted=fitted, group=instrument_group, ylim=(1e-14, 1e-8),
                   title=f"PKS 1510-089, 2015 period B (MAGIC Coll. 2017): {what} "
                         f"(χ²/dof = {result.chi2:.1f}/{result.dof}; open: not fitted)")
    path = args.out / ("fit_pks1510_agn.png" if args.geometry else "fit_pks1510.png")
    fig.savefig(path, dpi=130, bbox_inches="tight")
    plt.close(fig)
    print(f"figure: {path}")


if __name__ == "__main__":
    main()
