"""Fit the 2009 spectral energy distribution of Mrk 421 with a one-zone SSC blob.

The data (Abdo et al. 2011, ApJ 736, 131) are shipped with ostrel_models.  A
homogeneous blob of radius R with a broken power law of electrons emits
synchrotron radiation (self-absorbed through the sphere) and scatters it
(self-Compton, exact Klein-Nishina); both are boosted by the Doppler factor
and seen at the source's redshift.  Starting from a generic blob, the fit
adjusts the field, the Doppler factor, the electrons' energy and their
spectrum.  The radius is held at 5e16 cm (a light-crossing time of about a
day in the observer frame, as the variability of the source allows), and the
radio points, which come from the extended jet as well, are shown but not
fitted.

With ``--sample`` the posterior of the same parameters is then sampled with
emcee, starting from the fit, and shown as a corner plot and as the band of
SEDs it allows (``--pool N`` spreads the walkers over N processes).

    python examples/fit_mrk421.py                 # figure in out/fit_mrk421.png
    python examples/fit_mrk421.py --kernels classic    # the classic ostrel kernels
    python examples/fit_mrk421.py --sample --pool 2    # + out/mrk421_corner.png
    python examples/fit_mrk421.py --help
"""

from __future__ import annotations

import argparse
import multiprocessing
import time
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path
from typing import Any

import astropy.units as u  # type: ignore[import-untyped]
import numpy as np
import numpy.typing as npt

from ostrel_models import (Blob, BrokenPowerLaw, FitResult, available_kernels, fit_sed,
                           read_sed)

#: Points below this frequency (radio) are not fitted.
FIT_FROM = 1e12 * u.Hz

# Generic starting point: nothing here is tuned to Mrk 421.
START = dict(B=0.1 * u.G, doppler=10.0, energy=1e47 * u.erg)
START_ELECTRONS = dict(p1=2.0, p2=4.0, gamma_b=1e5, gamma_min=300.0, gamma_max=1e8)

FREE = {
    "B": (1e-3, 1.0),
    "doppler": (5.0, 60.0),
    "energy": (1e45, 1e50),
    "electrons.p1": (1.5, 3.0),
    "electrons.p2": (3.0, 6.0),
    "electrons.gamma_b": (1e4, 1e7),
    "electrons.gamma_min": (10.0, 1e4),
}

# Instruments grouped for the legend.
RADIO = ("RATAN", "VLBA", "Medicina", "Noto", "OVRO", "Metsahovi", "SMA")
OPTICAL = ("WIRO", "OAGH", "GASP", "GRT", "MITSuME", "NewMexicoSkies", "ROVOR")


def instrument_group(name: str) -> str:
    if name.startswith(RADIO):
        return "radio (RATAN, VLBA, OVRO, …)"
    if name.startswith(OPTICAL):
        return "optical (GASP, GRT, WIRO, …)"
    return name


def start_model() -> Blob:
    return Blob(radius=5e16 * u.cm, z=0.03, electrons=BrokenPowerLaw(**START_ELECTRONS),
                **START)


def main(argv: list[str] | None = None) -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--out", type=Path, default=Path("out"), help="directory of the figures")
    ap.add_argument("--kernels", choices=("accurate", "classic"), default=None,
                    help="kernel set (default: accurate when built; the classic one runs "
                         "on coarser grids to stay fast)")
    ap.add_argument("--systematics", type=float, default=0.10,
                    help="relative systematic error added in quadrature (default 0.10)")
    ap.add_argument("--sample", action="store_true",
                    help="sample the posterior with emcee after the fit (corner plot)")
    ap.add_argument("--walkers", type=int, default=32)
    ap.add_argument("--steps", type=int, default=300)
    ap.add_argument("--burn", type=int, default=100)
    ap.add_argument("--pool", type=int, default=0,
                    help="processes to sample with (default 0: in this process)")
    args = ap.parse_args(argv)

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from ostrel_models.plotting import plot_sed

    if args.kernels is None:
        args.kernels = available_kernels()[0]
        if args.kernels != "accurate":
            print("note: the accurate kernels are not built here; using the classic ones")
    data = read_sed("mrk421_2009")
    fitted = np.asarray(data["frequency"].quantity >= FIT_FROM)
    blob = start_model()
    if args.kernels == "classic":
        # The classic synchrotron kernel is some fifty times slower; it has no
        # γγ opacity.
        blob.n_gamma, blob.seed_per_decade = 40, 4.0
    print(f"Mrk 421 (2009): {len(data)} points, {fitted.sum()} above {FIT_FROM:.0e} fitted; "
          f"{len(FREE)} free parameters, kernels '{args.kernels}'")
    t0 = time.perf_counter()
    result = fit_sed(blob, data[fitted], FREE, systematics=args.systematics,
                     kernels=args.kernels)
    elapsed = time.perf_counter() - t0
    print("best fit (1 sigma from the Jacobian):")
    print(result.summary())
    print(f"  fixed: R = {result.model.radius:.3g}, gamma_max = "
          f"{result.model.electrons.gamma_max:.3g}, z = {result.model.z}")
    print(f"fit time: {elapsed:.1f} s")
    args.out.mkdir(parents=True, exist_ok=True)
    fig = plot_sed(data, result, fitted=fitted, group=instrument_group, ylim=(1e-14, 5e-9),
                   title="Mrk 421, 2009 campaign (Abdo et al. 2011): one-zone SSC fit "
                         f"(χ²/dof = {result.chi2:.1f}/{result.dof}; open markers not fitted)")
    path = args.out / "fit_mrk421.png"
    fig.savefig(path, dpi=130, bbox_inches="tight")
    plt.close(fig)
    result.write(args.out / "fit_mrk421.ecsv", overwrite=True)
    print(f"figure: {path}; result: {args.out / 'fit_mrk421.ecsv'}")

    if args.sample:
        sample(result, data, fitted, args)


def sample(result: FitResult, data: Any, fitted: npt.NDArray[np.bool_],
           args: argparse.Namespace) -> None:
    import matplotlib.pyplot as plt

    from ostrel_models import sample_sed

    print(f"sampling: {args.walkers} walkers × {args.steps} steps"
          + (f" on {args.pool} processes" if args.pool else " in this process"))
    t0 = time.perf_counter()
    kw = dict(nwalkers=args.walkers, nsteps=args.steps, burn=args.burn, seed=1,
              systematics=args.systematics, kernels=args.kernels)
    if args.pool:
        ctx = multiprocessing.get_context("spawn")
        with ProcessPoolExecutor(args.pool, mp_context=ctx) as pool:
            chains = sample_sed(result, data[fitted], pool=pool, **kw)
    else:
        chains = sample_sed(result, data[fitted], **kw)
    print(f"sampling time: {time.perf_counter() - t0:.1f} s")
    print(chains.summary())
    chains.write(args.out / "mrk421_chains.ecsv", overwrite=True)
    fig = chains.corner()
    fig.savefig(args.out / "mrk421_corner.png", dpi=90)
    plt.close(fig)
    fig = chains.plot(data, fitted=fitted, group=instrument_group, ylim=(1e-14, 5e-9),
                      title="Mrk 421: posterior median and 16–84 % band")
    fig.savefig(args.out / "mrk421_posterior.png", dpi=130, bbox_inches="tight")
    plt.close(fig)
    print(f"figures: {args.out / 'mrk421_corner.png'}, {args.out / 'mrk421_posterior.png'}")


if __name__ == "__main__":
    main()
