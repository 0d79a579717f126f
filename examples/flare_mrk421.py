"""A flare of Mrk 421: the fitted one-zone blob, empty at first, fed with
electrons for 2 R/c, then left to cool and empty out.

The blob is the fit of examples/fit_mrk421.py (R = 5e16 cm, B = 0.032 G,
δ_D = 22.5, z = 0.03) and the injected electrons have the fitted spectrum
(broken power law p1 = 2.47, p2 = 4.73, γ_b = 3.6e5, γ_min = 1.4e3); their
power, 1.26e41 erg/s in the blob frame, puts the fitted electron energy
(4.2e47 erg) into the blob in 2 R/c.  Synchrotron and self-Compton cooling
(Klein–Nishina, on the blob's own field as it evolves), escape in 3 R/c.

The figure (docs/flare_mrk421.png and out/flare_mrk421.png): light curves in
the optical, 2–10 keV, 0.1–100 GeV and above 200 GeV, light-travel smoothed
over the sphere; SEDs at several observer times; and the X-ray hardness
(2–10 keV over 0.5–2 keV) against the 0.5–10 keV flux, which runs round a
loop: the hard, fast-cooling electrons rise and fall first.

    python examples/flare_mrk421.py [--out out]
"""

from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path
from typing import Any

import astropy.units as u  # type: ignore[import-untyped]
import numpy as np

from ostrel_models import Blob, BrokenPowerLaw, Evolution, Injection, evolve

BANDS = {"optical (1.8-3.1 eV)": (1.8, 3.1) * u.eV, "2-10 keV": (2, 10) * u.keV,
         "0.1-100 GeV": (0.1, 100) * u.GeV, "> 200 GeV": (200 * u.GeV, None)}


def run() -> tuple[Evolution, dict[str, Any], float]:
    electrons = BrokenPowerLaw(p1=2.47, p2=4.73, gamma_b=3.6e5, gamma_min=1.4e3, gamma_max=1e8)
    blob = Blob(radius=5e16 * u.cm, B=0.032 * u.G, doppler=22.5, z=0.03,
                electrons=electrons, density=0)
    inj = Injection(electrons, luminosity=1.26e41 * u.erg / u.s, profile=Injection.step(0, 2))
    start = time.perf_counter()
    ev = evolve(blob, inj, duration=16, escape_time=3, times=np.linspace(0.25, 16, 64),
                cooling=("synchrotron", "ssc"))
    bands = {**BANDS, "soft": (0.5, 2) * u.keV}
    curves = dict(zip(bands, ev.light_curves(bands.values(), points=16)))
    return ev, curves, time.perf_counter() - start


def plot(ev: Evolution, curves: dict[str, Any], path: Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    days = ev.observer_times.to_value(u.day)
    fig, (lc, sed, loop) = plt.subplots(1, 3, figsize=(16, 5), layout="constrained")
    for name in BANDS:
        f = curves[name].value
        lc.semilogy(days, f / f.max(), label=f"{name} (peak {f.max():.2g} erg cm$^{{-2}}$ s$^{{-1}}$)")
    lc.set_ylim(1e-3, 1.5)
    lc.set_xlabel("observer time [days]")
    lc.set_ylabel("flux / its peak")
    lc.legend(fontsize=8)
    lc.set_title("light curves (light-travel smoothed)", fontsize=9)

    nu = np.logspace(10, 28, 120) * u.Hz
    picks = [4, 8, 12, 20, 32, 48, 63]
    seds = ev.sed(nu)
    colours = plt.get_cmap("viridis")(np.linspace(0, 0.9, len(picks)))
    for c, i in zip(colours, picks):
        sed.loglog(nu, np.maximum(seds[i].value, 1e-300), color=c, label=f"{days[i]:.2f} d")
    top = seds.value.max()
    sed.set_ylim(top * 1e-5, top * 3)
    sed.set_xlabel(r"$\nu$ [Hz]")
    sed.set_ylabel(r"$\nu F_\nu$ [erg cm$^{-2}$ s$^{-1}$]")
    sed.legend(fontsize=8, title="observer time")
    sed.set_title("SEDs during the flare", fontsize=9)

    hard, soft = curves["2-10 keV"].value, curves["soft"].value
    total = hard + soft
    ok = total > 1e-3 * total.max()
    loop.plot(total[ok], hard[ok] / soft[ok], "-o", ms=3)
    for i in np.nonzero(ok)[0][::8]:
        loop.annotate(f"{days[i]:.1f} d", (total[i], hard[i] / soft[i]), fontsize=7)
    loop.set_xscale("log")
    loop.set_xlabel("0.5-10 keV flux [erg cm$^{-2}$ s$^{-1}$]")
    loop.set_ylabel("hardness F(2-10 keV) / F(0.5-2 keV)")
    loop.set_title("X-ray hardness against flux", fontsize=9)
    fig.suptitle("Flare of the Mrk 421 blob: injection for 2 R/c "
                 f"({2 * ev.light_crossing_time.to_value(u.day) * 1.03 / 22.5:.2f} d observed)")
    fig.savefig(path, dpi=100)
    plt.close(fig)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=Path("out"))
    args = parser.parse_args(argv)
    args.out.mkdir(parents=True, exist_ok=True)
    ev, curves, elapsed = run()
    path = args.out / "flare_mrk421.png"
    plot(ev, curves, path)
    budget = ev.energy_budget()[-1]
    print(f"flare: {ev.steps} steps on {len(ev.gamma)} Lorentz factors, evolution, light curves "
          f"and hardness in {elapsed:.1f} s")
    for name in BANDS:
        f = curves[name]
        print(f"  {name:22s} peak {f.max():.3g} at {ev.observer_times[np.argmax(f)].to(u.day):.2f}")
    print(f"  energy at the end: injected {budget['injected']:.3g}, radiated "
          f"{budget['synchrotron'] + budget['ssc']:.3g}, escaped {budget['escaped']:.3g}, "
          f"held {budget['held']:.3g}")
    print(f"figure: {path.resolve()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
