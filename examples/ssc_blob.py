"""Time-dependent one-zone synchrotron self-Compton model of a blob, in its
own frame, with ``ostrel_models.evolve``.

A homogeneous sphere of radius R in a tangled field B, empty at first, is fed
at a constant power with a power law of electrons, Q ∝ γ^−p between γ_min
and γ_max.  The electrons cool by synchrotron radiation and by Compton
scattering of the blob's own synchrotron field (Klein–Nishina), optionally of
an external monochromatic field too, and escape in t_esc.  The spectrum at
the output times is the blob's luminosity ν L_ν [erg/s] in its own frame
(the blob is put at rest, δ_D = Γ = 1, so that ν L_ν = 4π d² ν F_ν).

    python examples/ssc_blob.py                # defaults, a few seconds
    python examples/ssc_blob.py --external     # plus an external photon field
    python examples/ssc_blob.py --help

Importing this module has no side effects; run_model() is the model itself
and is used by examples/sweep_dask.py.
"""

from __future__ import annotations

import argparse
import math
import sys
import time
from collections.abc import Sequence
from dataclasses import dataclass, fields
from pathlib import Path

import astropy.units as u  # type: ignore[import-untyped]
import numpy as np
import numpy.typing as npt

from ostrel_models import Blob, Injection, LineField, PowerLaw, evolve

Array = npt.NDArray[np.float64]

DISTANCE = 1e27  # cm: any distance, divided out again


@dataclass(frozen=True)
class BlobParams:
    """Physical and numerical parameters of the blob model."""

    b_field: float = 0.3  # G
    radius: float = 1e16  # cm
    p: float = 2.3  # injection index, Q ~ gamma^-p
    gamma_min: float = 1e2
    gamma_max: float = 1e6
    l_inj: float = 5e41  # erg/s injected into electrons (whole blob)
    t_esc: float = 3.0  # escape time, in R/c
    external: bool = False
    u_ext: float = 1e-3  # external field energy density, erg/cm^3
    nu_ext: float = 1e15  # its frequency, Hz
    per_decade: float = 16.0  # Lorentz factors per decade
    accuracy: float = 0.1  # of the adaptive time step (see ostrel_models.evolve)
    n_freq: int = 100  # spectrum frequencies, nu_lo .. nu_hi
    nu_lo: float = 1e8  # Hz
    nu_hi: float = 1e28  # Hz
    times: tuple[float, ...] = (0.4, 1.0, 3.0, 10.0, 30.0)  # output times, in R/c


def run_model(params: BlobParams) -> dict[str, Array]:
    """Evolves the blob from empty; its state at the output times.

    Keys: gamma, nu (grids); times (R/c); n_e (times x gamma, cm^-3 per unit
    gamma); nuLnu_syn, nuLnu_ssc, nuLnu_ext, nuLnu_total (times x nu, erg/s).
    """
    external = [LineField(params.u_ext, params.nu_ext)] if params.external else []
    blob = Blob(radius=params.radius * u.cm, B=params.b_field * u.G, doppler=1.0, Gamma=1.0,
                z=0.0, distance=DISTANCE * u.cm, external=external,
                electrons=PowerLaw(params.p, params.gamma_min, params.gamma_max), density=0)
    inj = Injection(PowerLaw(params.p, params.gamma_min, params.gamma_max), params.l_inj)
    ev = evolve(blob, inj, duration=max(params.times), escape_time=params.t_esc,
                times=params.times, per_decade=params.per_decade, accuracy=params.accuracy)
    nu = np.geomspace(params.nu_lo, params.nu_hi, params.n_freq)
    to_lum = 4.0 * math.pi * DISTANCE**2
    parts = {"syn": "synchrotron", "ssc": "ssc", "ext": "ec"}
    seds = [ev.blob_at(t).seds(nu) for t in params.times]
    result = {"gamma": ev.gamma, "nu": nu, "times": np.array(params.times),
              "n_e": ev.n.to_value(u.cm**-3)}
    for key, name in (*parts.items(), ("total", "total")):
        result[f"nuLnu_{key}"] = to_lum * np.array([s[name].value for s in seds])
    return result


def plot(result: dict[str, Array], params: BlobParams, path: Path) -> None:
    """Two panels: gamma^2 N(gamma), and nu L_nu with its components."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    gamma, nu, times = result["gamma"], result["nu"], result["times"]
    fig, (left, right) = plt.subplots(1, 2, figsize=(13, 5.2), layout="constrained")
    colours = plt.get_cmap("viridis")(np.linspace(0.0, 0.9, len(times)))
    tiny = 1e-300
    for c, t, n, lum in zip(colours, times, result["n_e"], result["nuLnu_total"]):
        left.loglog(gamma, np.maximum(gamma**2 * n, tiny), color=c, label=f"t = {t:g} R/c")
        right.loglog(nu, np.maximum(lum, tiny), color=c, label=f"t = {t:g} R/c")
    for key, style, label in (("syn", ":", "synchrotron"), ("ssc", "--", "self-Compton"),
                              ("ext", "-.", "external Compton")):
        if key != "ext" or params.external:
            right.loglog(nu, np.maximum(result[f"nuLnu_{key}"][-1], tiny), "k", ls=style, lw=1,
                         label=f"{label}, t = {times[-1]:g} R/c")
    n_peak = float(np.max(gamma**2 * result["n_e"]))
    left.set_ylim(n_peak * 1e-6, n_peak * 3)
    left.set_xlabel(r"Lorentz factor $\gamma$")
    left.set_ylabel(r"$\gamma^2 N(\gamma)$  [cm$^{-3}$]")
    left.legend(fontsize=8)
    l_peak = float(np.max(result["nuLnu_total"]))
    right.set_ylim(l_peak * 1e-8, l_peak * 3)
    right.set_xlabel(r"frequency $\nu$  [Hz]")
    right.set_ylabel(r"$\nu L_\nu$  [erg s$^{-1}$]")
    right.set_title(f"blob frame, B = {params.b_field:g} G, R = {params.radius:.3g} cm",
                    fontsize=9)
    right.legend(fontsize=8, loc="lower center")
    fig.savefig(path, dpi=110)
    plt.close(fig)


def parse_args(argv: Sequence[str] | None = None) -> tuple[BlobParams, Path]:
    defaults = BlobParams()
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0],
                                     formatter_class=argparse.ArgumentDefaultsHelpFormatter)
    for f in fields(BlobParams):
        if f.name == "external":
            parser.add_argument("--external", action="store_true",
                                help="add a monochromatic external photon field")
        elif f.name == "times":
            parser.add_argument("--times", type=float, nargs="+", default=list(defaults.times),
                                help="output times [R/c], increasing")
        else:
            parser.add_argument("--" + f.name.replace("_", "-"), type=type(getattr(defaults, f.name)),
                                default=getattr(defaults, f.name))
    parser.add_argument("--out", type=Path, default=Path("out"), help="output folder")
    args = vars(parser.parse_args(argv))
    out = args.pop("out")
    args["times"] = tuple(args["times"])
    return BlobParams(**args), out


def main(argv: Sequence[str] | None = None) -> int:
    params, out = parse_args(argv)
    out.mkdir(parents=True, exist_ok=True)
    start = time.perf_counter()
    result = run_model(params)
    elapsed = time.perf_counter() - start
    figure = out / "ssc_blob.png"
    plot(result, params, figure)
    np.savez(out / "ssc_blob.npz", **result)  # type: ignore[arg-type]
    k = int(np.argmax(result["nuLnu_syn"][-1])), int(np.argmax(result["nuLnu_ssc"][-1]))
    nu = result["nu"]
    print(f"t = {result['times'][-1]:g} R/c: synchrotron peak {nu[k[0]]:.3g} Hz, "
          f"{result['nuLnu_syn'][-1][k[0]]:.3g} erg/s; self-Compton peak {nu[k[1]]:.3g} Hz, "
          f"{result['nuLnu_ssc'][-1][k[1]]:.3g} erg/s")
    print(f"model run: {elapsed:.1f} s\nfigure: {figure.resolve()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
