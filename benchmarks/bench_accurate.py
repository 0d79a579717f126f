"""The accurate kernels of ostrel_models.kernels beside the classic kernels of
ostrel on the same inputs, on one and two worker threads.

Inputs (log-spaced grids of 128 points unless said otherwise):
  electrons   gamma 10 .. 1e6, n = gamma^-2.5 exp(-gamma/1e5) [cm^-3]
  synchrotron nu 1e8 .. 1e22 Hz, B = 1 G (classic: syn_emissivity_full with
              the absorption coefficient)
  seed        nu' 1e8 .. 1e20 Hz, u = 1e-10 (nu'/1e8)^-0.7 exp(-nu'/1e19)
              [erg cm^-3 Hz^-1]; monochromatic: u0 = 1e-3 erg cm^-3 at 2.5e15 Hz
  Compton     output nu 1e14 .. 1e27 Hz (the classic tabulated kernel reads its
              seed, as an intensity, on that output grid); cooling at gamma
              1 .. 1e7 (classic: with the Klein-Nishina correction)
  pairs       gamma-gamma opacity at nu 1e20 .. 1e30 Hz on the seed

"pairs" counts (gamma point, frequency) pairs of a call (for the opacity,
(frequency, seed frequency) pairs; for the tabulated Compton kernel the 128
seed frequencies come on top).  Each thread count runs in its own process
(the pools are sized once, from RAYON_NUM_THREADS); figures are the best of
repeated calls.
"""

from __future__ import annotations

import math
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
if str(HERE) not in sys.path:
    sys.path.append(str(HERE))
from benchlib import best_time, measure_with_threads, serve_measurement  # noqa: E402

# name: (pairs per call, target at W=2 [ms] or None)
CASES = {
    "synchrotron (j and alpha)": (128 * 128, 2.0),
    "inverse_compton": (128 * 128, 20.0),
    "inverse_compton_mono": (128 * 128, 1.0),
    "compton_cooling": (128 * 128, 1.0),
    "compton_cooling_mono": (128, 1.0),
    "synchrotron_cooling": (128, None),
    "gamma_gamma_opacity": (128 * 128, None),
}


def timed(call) -> float:
    call()  # warm-up: builds the pool and the tables
    once = best_time(call, 1)
    return best_time(call, max(3, min(200, int(0.5 / max(once, 1e-6)))))


def measure() -> dict[str, list[float | None]]:
    import numpy as np

    import ostrel
    from ostrel_models import kernels as acc

    gamma = np.geomspace(10.0, 1e6, 128)
    n = gamma**-2.5 * np.exp(-gamma / 1e5)
    nu_syn = np.geomspace(1e8, 1e22, 128)
    seed_nu = np.geomspace(1e8, 1e20, 128)
    seed_u = 1e-10 * (seed_nu / 1e8) ** -0.7 * np.exp(-seed_nu / 1e19)
    nu_ic = np.geomspace(1e14, 1e27, 128)
    seed_on_ic = list(1e-10 * (nu_ic / 1e8) ** -0.7 * np.exp(-nu_ic / 1e19))
    nu0, u0 = 2.5e15, 1e-3
    gamma_cool = np.geomspace(1.0, 1e7, 128)
    nu_pairs = np.geomspace(1e20, 1e30, 128)
    lists = [list(a) for a in (gamma, n, nu_syn, seed_nu, seed_u, nu_ic, gamma_cool)]
    g_l, n_l, nu_syn_l, seed_nu_l, seed_u_l, nu_ic_l, gamma_cool_l = lists

    def has(name):
        return hasattr(acc, name)

    accurate = {
        "synchrotron (j and alpha)": lambda: acc.synchrotron(nu_syn, gamma, n, 1.0),
        "inverse_compton": has("inverse_compton") and (lambda: acc.inverse_compton(nu_ic, gamma, n, seed_nu, seed_u)),
        "inverse_compton_mono": has("inverse_compton_mono") and (lambda: acc.inverse_compton_mono(nu_ic, gamma, n, nu0, u0)),
        "compton_cooling": has("compton_cooling") and (lambda: acc.compton_cooling(gamma_cool, seed_nu, seed_u)),
        "compton_cooling_mono": has("compton_cooling_mono") and (lambda: acc.compton_cooling_mono(gamma_cool, nu0, u0)),
        "synchrotron_cooling": lambda: acc.synchrotron_cooling(gamma_cool, 1.0),
        "gamma_gamma_opacity": lambda: acc.gamma_gamma_opacity(nu_pairs, seed_nu, seed_u),
    }
    classic = {
        "synchrotron (j and alpha)": lambda: ostrel.syn_emissivity_full(nu_syn_l, g_l, n_l, 1.0, True),
        "inverse_compton": lambda: ostrel.ic_iso_powlaw_full(nu_ic_l, seed_on_ic, g_l, n_l),
        "inverse_compton_mono": lambda: ostrel.ic_iso_monochrome_full(nu_ic_l, u0, nu0, n_l, g_l),
        "compton_cooling": lambda: ostrel.rad_cool_pwl(gamma_cool_l, seed_nu_l, seed_u_l, True),
        "compton_cooling_mono": lambda: ostrel.rad_cool_mono(gamma_cool_l, nu0, u0, True),
    }
    return {name: [timed(accurate[name]) if accurate[name] else None,
                   timed(classic[name]) if name in classic else None] for name in CASES}


def main() -> None:
    if serve_measurement(measure):
        return
    one = measure_with_threads(__file__, 1)
    two = measure_with_threads(__file__, 2)

    def ms(x):
        return f"{x * 1e3:9.3f}" if x is not None else f"{'-':>9s}"

    print(f"{'kernel':26s} {'pairs':>6s} | {'accurate ms':>19s} {'ns/pair':>8s} {'target':>7s} | "
          f"{'classic ms':>19s}")
    print(f"{'':26s} {'':6s} | {'W=1':>9s} {'W=2':>9s} {'W=2':>8s} {'W=2':>7s} | {'W=1':>9s} {'W=2':>9s}")
    for name, (pairs, target) in CASES.items():
        a1, c1 = one[name]
        a2, c2 = two[name]
        per_pair = f"{a2 / pairs * 1e9:8.1f}" if a2 is not None else f"{'-':>8s}"
        goal = f"{target:7.1f}" if target else f"{'-':>7s}"
        print(f"{name:26s} {pairs:6d} | {ms(a1)} {ms(a2)} {per_pair} {goal} | {ms(c1)} {ms(c2)}")
    if not all(math.isfinite(v) for row in two.values() for v in row if v is not None):
        sys.exit(1)


if __name__ == "__main__":
    main()
