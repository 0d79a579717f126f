"""Time-dependent one-zone synchrotron self-Compton model of a spherical blob.

A homogeneous sphere of radius R in a tangled magnetic field B is filled with
relativistic electrons injected at a constant rate as a power law
Q(gamma) = Q0 gamma^-p between gamma_min and gamma_max.  The electrons

- lose energy by synchrotron radiation, gdot = C u_B gamma^2 with
  C = (4/3) sigma_T c / (m_e c^2) and u_B = B^2 / (8 pi);
- lose energy by inverse-Compton scattering of the blob's own synchrotron
  photons (Klein-Nishina reduction included), with the seed energy density
  u_nu = 4 pi I_nu / c taken from the synchrotron intensity I_nu that emerges
  from the blob; optionally also of an external monochromatic field;
- escape on a time t_esc, a multiple of the light-crossing time R/c;
- diffuse in energy by a tiny constant coefficient (which keeps the
  Chang-Cooper weights of the solver well defined).

N(gamma) is advanced by implicit Fokker-Planck steps of a fraction of R/c.
At the output times the spectrum is computed: synchrotron emissivity and
self-absorption, the self-Compton emissivity with the synchrotron intensity
as seed field, optionally the external-Compton emissivity, and the emerging
intensity of the sphere.

Luminosity.  ostrel.rad_trans_blob returns I_nu = j_nu R / 3 for an optically
thin sphere and j_nu / (4 alpha_nu) for a thick one; in both limits the
luminosity is L_nu = 4 pi (4 pi R^2) I_nu = 16 pi^2 R^2 I_nu (thin: 4 pi j_nu
times the volume; thick: the surface 4 pi R^2 times the flux pi S_nu of a
surface of brightness S_nu = j_nu / alpha_nu).  The figure shows nu L_nu in
erg/s.  Everything is in the blob's rest frame (no Doppler boosting) and in
cgs units; times are given in units of R/c.

    python examples/ssc_blob.py                # defaults, 20-40 s on two cores
    python examples/ssc_blob.py --external     # plus an external photon field
    python examples/ssc_blob.py --help

Importing this module has no side effects; run_model() is the model itself
and is used by examples/sweep_dask.py.
"""

from __future__ import annotations

import argparse
import json
import math
import sys
import time
from collections.abc import Iterable, Sequence
from dataclasses import asdict, dataclass, fields
from pathlib import Path
from typing import Any

import numpy as np
import numpy.typing as npt

import ostrel

Array = npt.NDArray[np.float64]

C_LIGHT = ostrel.get_c()  # cm/s
ELECTRON_REST_ENERGY = 8.1871057769e-7  # m_e c^2, erg
# (4/3) sigma_T c / (m_e c^2) in cm^3 erg^-1 s^-1: gdot = C u gamma^2 in the
# Thomson regime for an isotropic field of energy density u.
THOMSON_COOLING = 3.2479641514432145e-08
# Electron gyrofrequency e B / (2 pi m_e c) per gauss, Hz/G: the synchrotron
# emission of Lorentz factor gamma peaks near nu_B gamma^2.
GYROFREQUENCY_PER_GAUSS = 2.799249e6


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
    diffusion: float = 1e-20  # energy diffusion coefficient, s^-1 (gamma^2 per s)
    external: bool = False
    u_ext: float = 1e-3  # external field energy density, erg/cm^3
    nu_ext: float = 1e15  # its frequency, Hz
    n_gamma: int = 90  # electron grid points, gamma_min/10 .. 10 gamma_max
    n_freq: int = 100  # spectrum frequencies, nu_lo .. nu_hi
    n_seed: int = 40  # frequencies of the synchrotron field used for cooling
    nu_lo: float = 1e8  # Hz
    nu_hi: float = 1e28  # Hz
    dt: float = 0.2  # time step, in R/c
    times: tuple[float, ...] = (0.4, 1.0, 3.0, 10.0, 30.0)  # output times, in R/c
    seed_every: int = 1  # steps between updates of the synchrotron cooling field


def log_grid(lo: float, hi: float, n: int) -> Array:
    return np.geomspace(lo, hi, n)


def electron_grid(params: BlobParams) -> Array:
    return log_grid(max(params.gamma_min / 10.0, 1.01), 10.0 * params.gamma_max, params.n_gamma)


def injection(params: BlobParams, gamma: Array) -> Array:
    """Q(gamma) in cm^-3 s^-1 per unit gamma, normalised to l_inj.

    L_inj = V m_e c^2 Q0 int gamma^(1-p) dgamma over [gamma_min, gamma_max].
    """
    volume = 4.0 / 3.0 * math.pi * params.radius**3
    if abs(params.p - 2.0) < 1e-9:
        energy_integral = math.log(params.gamma_max / params.gamma_min)
    else:
        k = 2.0 - params.p
        energy_integral = (params.gamma_max**k - params.gamma_min**k) / k
    q0 = params.l_inj / (volume * ELECTRON_REST_ENERGY * energy_integral)
    inside = (gamma >= params.gamma_min) & (gamma <= params.gamma_max)
    return np.where(inside, q0 * gamma ** (-params.p), 0.0)


def synchrotron_intensity(nu: Array, gamma: Array, n_e: Array,
                          params: BlobParams) -> tuple[Array, Array, Array]:
    """(j_nu, alpha_nu, I_nu) of the electrons, I_nu emerging from the sphere."""
    j_nu, a_nu = ostrel.syn_emissivity_full(nu, gamma, n_e, params.b_field, True)
    i_nu = ostrel.rad_trans_blob(params.radius, j_nu, a_nu)
    return np.array(j_nu), np.array(a_nu), np.array(i_nu)


def luminosity(nu: Array, i_nu: Array, radius: float) -> Array:
    """nu L_nu in erg/s of a sphere with emerging intensity I_nu (see above)."""
    return nu * (16.0 * math.pi**2 * radius**2) * i_nu


def output_steps(params: BlobParams) -> list[int]:
    """Step count at which each output time is reached (at least one step)."""
    return [max(1, round(t / params.dt)) for t in params.times]


def external_compton_cooling(gamma: Array, params: BlobParams) -> Array:
    """Energy-loss rate (s^-1) on the external monochromatic field.

    ostrel.rad_cool_mono returns C u sqrt(gamma^2 - 1) F_KN, one factor
    gamma beta short of the loss rate C u gamma^2 beta^2 F_KN; multiplied by
    gamma beta it agrees with rad_cool_pwl for a narrow line of the same
    energy density.
    """
    rate = np.array(ostrel.rad_cool_mono(gamma, params.nu_ext, params.u_ext, True))
    return rate * np.sqrt(gamma * gamma - 1.0)


def spectrum(nu: Array, gamma: Array, n_e: Array, params: BlobParams) -> dict[str, Array]:
    """nu L_nu of each component and of their sum, erg/s."""
    j_syn, a_syn, i_syn = synchrotron_intensity(nu, gamma, n_e, params)
    j_ssc = np.array(ostrel.ic_iso_powlaw_full(nu, i_syn, gamma, n_e))
    if params.external:
        # ic_iso_monochrome_full gives the emissivity into all directions
        # (its integral over nu is the electrons' Thomson loss power per unit
        # volume); the transfer takes it per steradian, like the other two.
        j_all = ostrel.ic_iso_monochrome_full(nu, params.u_ext, params.nu_ext, n_e, gamma)
        j_ext = np.array(j_all) / (4.0 * math.pi)
    else:
        j_ext = np.zeros_like(nu)
    # Photons of every origin are absorbed by the same electrons.
    parts = {"syn": j_syn, "ssc": j_ssc, "ext": j_ext, "total": j_syn + j_ssc + j_ext}
    return {name: luminosity(nu, np.array(ostrel.rad_trans_blob(params.radius, j, a_syn)),
                             params.radius)
            for name, j in parts.items()}


def run_model(params: BlobParams, progress: bool = False) -> dict[str, Array]:
    """Evolves the blob from empty and returns its state at the output times.

    Keys: gamma, nu (grids); times (R/c); n_e (times x gamma, cm^-3 per unit
    gamma); nuLnu_syn, nuLnu_ssc, nuLnu_ext, nuLnu_total (times x nu, erg/s);
    gdot_syn, gdot_ic, gdot_ext (s^-1, at the last step).
    """
    tlc = params.radius / C_LIGHT
    dt = params.dt * tlc
    t_esc = params.t_esc * tlc
    gamma = electron_grid(params)
    nu = log_grid(params.nu_lo, params.nu_hi, params.n_freq)
    # The cooling field needs only the synchrotron range: up to a few hundred
    # times the emission frequency of the most energetic electrons.
    nu_seed_hi = min(params.nu_hi, 1e3 * GYROFREQUENCY_PER_GAUSS * params.b_field * gamma[-1] ** 2)
    nu_seed = log_grid(params.nu_lo, nu_seed_hi, params.n_seed)

    q_inj = injection(params, gamma)
    diffusion = np.full_like(gamma, params.diffusion)
    u_b = params.b_field**2 / (8.0 * math.pi)
    gdot_syn = THOMSON_COOLING * u_b * gamma**2
    if params.external:
        gdot_ext = external_compton_cooling(gamma, params)
    else:
        gdot_ext = np.zeros_like(gamma)
    gdot_ic = np.zeros_like(gamma)

    steps = output_steps(params)
    n_e = np.zeros_like(gamma)
    snapshots: list[Array] = []
    seds: list[dict[str, Array]] = []
    step_range: Iterable[int] = range(1, max(steps) + 1)
    if progress:
        from tqdm import tqdm

        step_range = tqdm(step_range, desc="Fokker-Planck steps", unit="step")
    for step in step_range:
        if (step - 1) % params.seed_every == 0:
            # Self-Compton cooling on the present synchrotron field.
            _, _, i_seed = synchrotron_intensity(nu_seed, gamma, n_e, params)
            u_seed = 4.0 * math.pi * i_seed / C_LIGHT
            gdot_ic = np.array(ostrel.rad_cool_pwl(gamma, nu_seed, u_seed, True))
        gdot = gdot_syn + gdot_ic + gdot_ext
        n_e = np.array(ostrel.fp_findif_difu(dt, gamma, n_e, gdot, diffusion, q_inj, t_esc, tlc))
        for _ in range(steps.count(step)):
            snapshots.append(n_e)
            seds.append(spectrum(nu, gamma, n_e, params))

    result: dict[str, Array] = {
        "gamma": gamma,
        "nu": nu,
        "times": np.array(steps, dtype=np.float64) * params.dt,
        "n_e": np.array(snapshots),
        "gdot_syn": gdot_syn,
        "gdot_ic": gdot_ic,
        "gdot_ext": gdot_ext,
    }
    for name in ("syn", "ssc", "ext", "total"):
        result[f"nuLnu_{name}"] = np.array([sed[name] for sed in seds])
    return result


def cooling_break(result: dict[str, Array], params: BlobParams) -> float | None:
    """Lorentz factor whose cooling time equals the escape time, at the end.

    Below it electrons escape before they cool (N keeps the injected slope
    -p); above it they cool first (N steepens to -(p+1)).
    """
    gamma = result["gamma"]
    gdot = result["gdot_syn"] + result["gdot_ic"] + result["gdot_ext"]
    excess = np.log(gamma / gdot) - math.log(params.t_esc * params.radius / C_LIGHT)
    crossing = np.nonzero((excess[:-1] > 0.0) & (excess[1:] <= 0.0))[0]
    if len(crossing) == 0:
        return None
    i = int(crossing[0])
    weight = excess[i] / (excess[i] - excess[i + 1])
    return float(math.exp(math.log(gamma[i]) + weight * math.log(gamma[i + 1] / gamma[i])))


def peak(nu: Array, nu_l_nu: Array) -> tuple[float, float]:
    k = int(np.argmax(nu_l_nu))
    return float(nu[k]), float(nu_l_nu[k])


def summary(result: dict[str, Array], params: BlobParams) -> str:
    """The headline numbers of the last output time."""
    nu = result["nu"]
    nu_syn, l_syn = peak(nu, result["nuLnu_syn"][-1])
    nu_ssc, l_ssc = peak(nu, result["nuLnu_ssc"][-1])
    gamma_break = cooling_break(result, params)
    lines = [
        f"t = {result['times'][-1]:g} R/c:",
        f"  synchrotron peak   nu = {nu_syn:.3g} Hz, nu L_nu = {l_syn:.3g} erg/s",
        f"  self-Compton peak  nu = {nu_ssc:.3g} Hz, nu L_nu = {l_ssc:.3g} erg/s"
        f"  (ratio {l_ssc / l_syn:.3g})",
        "  cooling break      gamma = "
        + ("none on the grid" if gamma_break is None else f"{gamma_break:.3g}"),
    ]
    if params.external:
        nu_ext, l_ext = peak(nu, result["nuLnu_ext"][-1])
        lines.append(f"  external Compton   nu = {nu_ext:.3g} Hz, nu L_nu = {l_ext:.3g} erg/s")
    return "\n".join(lines)


def plot(result: dict[str, Array], params: BlobParams, path: Path) -> None:
    """Two panels: gamma^2 N(gamma), and nu L_nu with its components."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    gamma, nu, times = result["gamma"], result["nu"], result["times"]
    fig, (left, right) = plt.subplots(1, 2, figsize=(13, 5.2), layout="constrained")
    colours = plt.get_cmap("viridis")(np.linspace(0.0, 0.9, len(times)))
    tiny = 1e-300  # keeps zeros off the log axes

    for k, t in enumerate(times):
        label = f"t = {t:g} R/c"
        left.loglog(gamma, np.maximum(gamma**2 * result["n_e"][k], tiny), color=colours[k],
                    label=label)
        right.loglog(nu, np.maximum(result["nuLnu_total"][k], tiny), color=colours[k], label=label)
    last = len(times) - 1
    right.loglog(nu, np.maximum(result["nuLnu_syn"][last], tiny), color="tab:red", ls=":",
                 lw=1.2, label=f"synchrotron, t = {times[last]:g} R/c")
    right.loglog(nu, np.maximum(result["nuLnu_ssc"][last], tiny), color="tab:blue", ls="--",
                 lw=1.2, label=f"self-Compton, t = {times[last]:g} R/c")
    if params.external:
        right.loglog(nu, np.maximum(result["nuLnu_ext"][last], tiny), color="tab:orange",
                     ls="-.", lw=1.2, label=f"external Compton, t = {times[last]:g} R/c")

    left.axvspan(params.gamma_min, params.gamma_max, color="grey", alpha=0.08, lw=0)
    gamma_break = cooling_break(result, params)
    if gamma_break is not None:
        left.axvline(gamma_break, color="grey", ls=":", lw=1,
                     label=rf"$t_{{cool}} = t_{{esc}}$ at t = {times[-1]:g} R/c")

    n_peak = float(np.max(gamma**2 * result["n_e"]))
    left.set_ylim(n_peak * 1e-6, n_peak * 3)
    left.set_xlim(gamma[0], gamma[-1])
    left.set_xlabel(r"Lorentz factor $\gamma$")
    left.set_ylabel(r"$\gamma^2 N(\gamma)$  [cm$^{-3}$]")
    left.set_title("electrons (shaded: injected range)", fontsize=9)
    left.legend(fontsize=8)

    l_peak = float(np.max(result["nuLnu_total"]))
    right.set_ylim(l_peak * 1e-8, l_peak * 3)
    right.set_xlim(nu[0], nu[-1])
    right.set_xlabel(r"frequency $\nu$  [Hz]")
    right.set_ylabel(r"$\nu L_\nu$  [erg s$^{-1}$]")
    right.set_title(f"spectrum of the blob (rest frame), B = {params.b_field:g} G, "
                    f"R = {params.radius:.3g} cm", fontsize=9)
    right.legend(fontsize=8, loc="lower center")
    fig.savefig(path, dpi=110)
    plt.close(fig)


def parse_args(argv: Sequence[str] | None = None) -> tuple[BlobParams, Path]:
    defaults = BlobParams()
    parser = argparse.ArgumentParser(
        description="Time-dependent one-zone synchrotron self-Compton model of a blob.",
        formatter_class=argparse.ArgumentDefaultsHelpFormatter)
    physics = parser.add_argument_group("physics (cgs, rest frame of the blob)")
    physics.add_argument("--b-field", type=float, default=defaults.b_field, help="B [G]")
    physics.add_argument("--radius", type=float, default=defaults.radius, help="R [cm]")
    physics.add_argument("--p", type=float, default=defaults.p, help="injection index")
    physics.add_argument("--gamma-min", type=float, default=defaults.gamma_min)
    physics.add_argument("--gamma-max", type=float, default=defaults.gamma_max)
    physics.add_argument("--l-inj", type=float, default=defaults.l_inj,
                         help="power injected into electrons [erg/s]")
    physics.add_argument("--t-esc", type=float, default=defaults.t_esc,
                         help="escape time [R/c]")
    physics.add_argument("--diffusion", type=float, default=defaults.diffusion,
                         help="energy diffusion coefficient [s^-1]")
    physics.add_argument("--external", action="store_true",
                         help="add a monochromatic external photon field")
    physics.add_argument("--u-ext", type=float, default=defaults.u_ext,
                         help="external field energy density [erg/cm^3]")
    physics.add_argument("--nu-ext", type=float, default=defaults.nu_ext,
                         help="external field frequency [Hz]")
    numerics = parser.add_argument_group("numerics")
    numerics.add_argument("--n-gamma", type=int, default=defaults.n_gamma)
    numerics.add_argument("--n-freq", type=int, default=defaults.n_freq)
    numerics.add_argument("--n-seed", type=int, default=defaults.n_seed,
                          help="frequencies of the synchrotron field used for cooling")
    numerics.add_argument("--nu-range", type=float, nargs=2, default=(defaults.nu_lo,
                                                                       defaults.nu_hi),
                          metavar=("NU_LO", "NU_HI"), help="[Hz]")
    numerics.add_argument("--dt", type=float, default=defaults.dt, help="time step [R/c]")
    numerics.add_argument("--times", type=float, nargs="+", default=list(defaults.times),
                          help="output times [R/c]; the run ends at the last")
    numerics.add_argument("--seed-every", type=int, default=defaults.seed_every,
                          help="steps between updates of the self-Compton cooling rate")
    parser.add_argument("--out", type=Path, default=Path("out"), help="output folder")
    args = parser.parse_args(argv)

    if args.dt <= 0 or min(args.times) <= 0 or args.seed_every < 1:
        parser.error("--dt, --times and --seed-every must be positive")
    if not 1.0 < args.gamma_min < args.gamma_max:
        parser.error("need 1 < gamma_min < gamma_max")
    names = {f.name for f in fields(BlobParams)}
    values = {k: v for k, v in vars(args).items() if k in names}
    values["times"] = tuple(sorted(args.times))
    values["nu_lo"], values["nu_hi"] = args.nu_range
    return BlobParams(**values), args.out


def main(argv: Sequence[str] | None = None) -> int:
    params, out = parse_args(argv)
    out.mkdir(parents=True, exist_ok=True)
    start = time.perf_counter()
    result = run_model(params, progress=True)
    elapsed = time.perf_counter() - start

    figure = out / "ssc_blob.png"
    numbers = out / "ssc_blob.npz"
    plot(result, params, figure)
    arrays: dict[str, Any] = {"params": np.array(json.dumps(asdict(params))), **result}
    np.savez(numbers, **arrays)
    print(summary(result, params))
    print(f"model run: {elapsed:.1f} s, {output_steps(params)[-1]} steps")
    print(f"figure:  {figure.resolve()}")
    print(f"numbers: {numbers.resolve()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
