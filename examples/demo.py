"""A short tour of ostrel: one electron population through the whole chain.

Electrons are injected as a power law, cooled and evolved by implicit
Fokker-Planck steps, and their synchrotron and inverse-Compton emission is
turned into the intensity emerging from a spherical blob.
"""

from __future__ import annotations

import math

import ostrel


def logspace(a: float, b: float, n: int) -> list[float]:
    return [10.0 ** (a + (b - a) * k / (n - 1)) for k in range(n)]


def main() -> None:
    print(f"speed of light: {ostrel.get_c()} cm/s")
    print(f"gofb(0.6) = {ostrel.gofb(0.6)},  bofg(1.25) = {ostrel.bofg(1.25)}")

    # Electron grid and a power-law injection of index 2.5 up to 1e5.
    gamma = logspace(0.0, 6.0, 96)
    q_inj = [1e-2 * g**-2.5 * math.exp(-g / 1e5) if g >= 10.0 else 0.0 for g in gamma]
    n_e = [0.0] * len(gamma)

    b_field, radius = 0.1, 1e16  # G, cm
    tlc = radius / ostrel.get_c()  # light-crossing time [s]
    u_b = b_field**2 / (8.0 * math.pi)
    freqs = logspace(8.0, 26.0, 96)

    # Synchrotron cooling: gdot = C u_B gamma^2 with the Thomson coefficient.
    cool = 3.2479641514432145e-08
    gdot = [cool * u_b * g * g for g in gamma]
    diffusion = [1e-30] * len(gamma)
    for _ in range(50):
        n_e = ostrel.fp_findif_difu(tlc, gamma, n_e, gdot, diffusion, q_inj, tlc, tlc)
    peak = max(range(len(n_e)), key=lambda i: n_e[i] * gamma[i] ** 2)
    print(f"after 50 light-crossing times: gamma^2 N peaks at gamma = {gamma[peak]:.3g}")

    j_syn, a_syn = ostrel.syn_emissivity_full(freqs, gamma, n_e, b_field, True)
    i_syn = ostrel.rad_trans_blob(radius, j_syn, a_syn)
    j_ssc = ostrel.ic_iso_powlaw_full(freqs, i_syn, gamma, n_e)
    i_ssc = ostrel.rad_trans_blob(radius, j_ssc, [0.0] * len(freqs))
    j_ext = ostrel.ic_iso_monochrome_full(freqs, 1e-3, 1e15, n_e, gamma)

    print(f"{'nu [Hz]':>10} {'nu I_syn':>11} {'nu I_ssc':>11} {'j_ext':>11}")
    for k in range(0, len(freqs), 8):
        nu = freqs[k]
        print(f"{nu:10.3e} {nu * i_syn[k]:11.3e} {nu * i_ssc[k]:11.3e} {j_ext[k]:11.3e}")

    u_seed = [4.0 * math.pi / ostrel.get_c() * i for i in i_syn]
    ic_cool = ostrel.rad_cool_pwl(gamma, freqs, u_seed, True)
    ext_cool = ostrel.rad_cool_mono(gamma, 1e15, 1e-3, True)
    print(f"SSC cooling rate at gamma = 1e4: {ic_cool[64]:.3e} 1/s, "
          f"external: {ext_cool[64]:.3e} 1/s")

    park = ostrel.eq_59_park1995(1.0, [10.0, 100.0, 1000.0])
    print(f"Park (1995) eq. 59 at t = 1: {park}")
    print(f"slab of the same emissivity: {ostrel.rad_trans_slab(radius, j_syn[:3], a_syn[:3])}")


if __name__ == "__main__":
    main()
