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

    python examples/fit_mrk421.py                 # figure in out/fit_mrk421.png
    python examples/fit_mrk421.py --kernels classic    # the classic ostrel kernels
    python examples/fit_mrk421.py --help
"""

from __future__ import annotations

import argparse
import time
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

# Instruments grouped for the legend: name shown -> (marker, colour, instruments).
RADIO = ("RATAN", "VLBA", "Medicina", "Noto", "OVRO", "Metsahovi", "SMA")
OPTICAL = ("WIRO", "OAGH", "GASP", "GRT", "MITSuME", "NewMexicoSkies", "ROVOR")


def instrument_group(name: str) -> str:
    if name.startswith(RADIO):
        return "radio (RATAN, VLBA, OVRO, …)"
    if name.startswith(OPTICAL):
        return "optical (GASP, GRT, WIRO, …)"
    return name


STYLE = {
    "radio (RATAN, VLBA, OVRO, …)": ("o", "0.55"),
    "optical (GASP, GRT, WIRO, …)": ("s", "tab:orange"),
    "Swift/UVOT": ("D", "tab:purple"),
    "Swift/XRT": ("o", "tab:blue"),
    "RXTE/PCA": ("^", "tab:cyan"),
    "Swift/BAT": ("v", "tab:green"),
    "Fermi": ("o", "tab:red"),
    "MAGIC": ("s", "tab:brown"),
}


def start_model() -> Blob:
    return Blob(radius=5e16 * u.cm, z=0.03, electrons=BrokenPowerLaw(**START_ELECTRONS),
                **START)


def plot(result: FitResult, data: Any, fitted: npt.NDArray[np.bool_], path: Path,
         kernels: str) -> None:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    model = result.model
    nu = np.logspace(8, 28, 300) * u.Hz
    parts = model.seds(nu, kernels=kernels)
    fig, (ax, axr) = plt.subplots(2, 1, figsize=(7.5, 6.5), sharex=True,
                                  gridspec_kw={"height_ratios": [3, 1], "hspace": 0.05})
    ax.loglog(nu, parts["total"], color="k", lw=1.6, label="SSC blob, total")
    ax.loglog(nu, parts["synchrotron"], color="tab:blue", lw=1, ls="--", label="synchrotron")
    ax.loglog(nu, parts["ssc"], color="tab:red", lw=1, ls=":", label="self-Compton")

    freq = data["frequency"].quantity.to_value(u.Hz)
    flux = data["nuFnu"].value
    err = np.vstack([data["nuFnu_err_low"].value, data["nuFnu_err_high"].value])
    groups = np.array([instrument_group(n) for n in data["instrument"]])
    res_all = np.full(len(data), np.nan)
    res_all[fitted] = result.residuals / result.sigma
    for name, (marker, colour) in STYLE.items():
        sel = groups == name
        if not np.any(sel):
            continue
        face = [colour if f else "none" for f in fitted[sel]]
        ax.errorbar(freq[sel], flux[sel], yerr=err[:, sel], fmt="none", ecolor=colour, lw=0.8)
        ax.scatter(freq[sel], flux[sel], marker=marker, s=18, facecolors=face,
                   edgecolors=colour, label=name, zorder=3)
        axr.scatter(freq[sel], res_all[sel], marker=marker, s=14, facecolors=colour,
                    edgecolors=colour)
    ax.set_ylim(1e-14, 5e-9)                 # room for the legend above the data
    ax.set_ylabel(r"$\nu F_\nu$ [erg cm$^{-2}$ s$^{-1}$]")
    ax.set_title("Mrk 421, 2009 campaign (Abdo et al. 2011): one-zone SSC fit", fontsize=10)
    ax.legend(fontsize=7, ncol=2, loc="upper left", frameon=False)
    ax.text(0.99, 0.03, f"$\\chi^2$/dof = {result.chi2:.1f}/{result.dof}\n"
            "open markers: not fitted", transform=ax.transAxes, ha="right",
            va="bottom", fontsize=8)
    axr.axhline(0.0, color="k", lw=0.8)
    axr.set_xscale("log")
    axr.set_ylabel(r"(model$-$data)/$\sigma$")
    axr.set_xlabel(r"$\nu$ [Hz] (observer frame)")
    axr.set_xlim(1e8, 1e28)
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=130, bbox_inches="tight")
    plt.close(fig)


def main(argv: list[str] | None = None) -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--out", type=Path, default=Path("out"), help="directory of the figure")
    ap.add_argument("--kernels", choices=("accurate", "classic"), default=None,
                    help="kernel set (default: accurate when built; the classic one runs "
                         "on coarser grids to stay fast)")
    ap.add_argument("--systematics", type=float, default=0.10,
                    help="relative systematic error added in quadrature (default 0.10)")
    args = ap.parse_args(argv)

    if args.kernels is None:
        args.kernels = available_kernels()[0]
        if args.kernels != "accurate":
            print("note: the accurate kernels are not built here; using the classic ones")
    data = read_sed("mrk421_2009")
    fitted = np.asarray(data["frequency"].quantity >= FIT_FROM)
    blob = start_model()
    if args.kernels == "classic":
        # The classic synchrotron kernel is some fifty times slower.
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
    path = args.out / "fit_mrk421.png"
    plot(result, data, fitted, path, args.kernels)
    print(f"figure: {path}")


if __name__ == "__main__":
    main()
