"""Independent reference values of the accurate kernels by adaptive SciPy
quadrature of the physics integrals over the same piecewise power-law inputs.

Not a test module itself: the tests import it, and ``python reference.py``
prints the table of worst relative errors by kernel and regime.
"""

from __future__ import annotations

import math

import numpy as np
from scipy.integrate import quad
from scipy.special import kve

# cgs constants (CODATA 2018, as the kernels use them).
C = 29979245800.0
H = 6.62607015e-27
M_E = 9.1093837015e-28
E_CHARGE = 4.803204712570263e-10
SIGMA_T = 6.6524587321e-25
MC2 = M_E * C * C


def power_law_segments(x, y):
    """(x0, x1, y0, p) of each segment with both values positive; y = y0 (x/x0)^-p."""
    out = []
    for i in range(len(x) - 1):
        if y[i] > 0 and y[i + 1] > 0:
            p = -math.log(y[i + 1] / y[i]) / math.log(x[i + 1] / x[i])
            out.append((x[i], x[i + 1], y[i], p))
    return out


# ---- synchrotron -------------------------------------------------------------
def r_closed(x: float) -> float:
    """Pitch-averaged synchrotron function, closed form (Crusius & Schlickeiser
    1986), evaluated with exponentially scaled Bessel functions (zero where
    e^-x underflows)."""
    if x > 750:
        return 0.0
    y = x / 2
    k43, k13 = kve(4 / 3, y), kve(1 / 3, y)
    return (x * x / 2 * k43 * k13 - 0.15 * x**3 * (k43 - k13) * (k43 + k13)) * math.exp(-x)


def r_definition(x: float) -> float:
    """1/2 int_0^pi sin^2 F(x / sin), F(z) = z int_z^inf K_5/3: the average itself."""
    def f(z):
        return z * quad(lambda t: kve(5 / 3, t) * math.exp(-t), z, math.inf, epsabs=0, epsrel=1e-12)[0]
    return quad(lambda a: math.sin(a) ** 2 * f(x / math.sin(a)), 0, math.pi, epsabs=0, epsrel=1e-11,
                limit=200)[0] / 2


def synchrotron(nu, gamma, n, B):
    """(j, alpha) from int n <P> dgamma and -int <P> gamma^2 d(n/gamma^2)/dgamma dgamma
    (the derivative inside the grid), segment by segment in ln gamma."""
    a = 1.5 * E_CHARGE * B / (2 * math.pi * M_E * C)
    cj = math.sqrt(3) * E_CHARGE**3 * B / (4 * math.pi * M_E * C * C)
    ca = math.sqrt(3) * E_CHARGE**3 * B / (8 * math.pi * M_E**2 * C * C)
    j, alpha = [], []
    for f in nu:
        sj = sa = 0.0
        for g0, g1, n0, p in power_law_segments(gamma, n):
            if f / (a * g1 * g1) > 700:
                continue
            def nr(u):
                g = math.exp(u)
                return n0 * (g / g0) ** -p * r_closed(f / (a * g * g))
            lo, hi = math.log(g0), math.log(g1)
            sj += quad(lambda u: nr(u) * math.exp(u), lo, hi, epsabs=0, epsrel=1e-10, limit=200)[0]
            sa += (p + 2) * quad(nr, lo, hi, epsabs=0, epsrel=1e-10, limit=200)[0]
        j.append(cj * sj)
        alpha.append(ca * sa / (f * f))
    return np.array(j), np.array(alpha)


# ---- pair production -----------------------------------------------------------
def breit_wheeler(s: float) -> float:
    """Pair-production cross section over sigma_T at s = (E_cm / 2 m c^2)^2."""
    if s <= 1:
        return 0.0
    b = math.sqrt(1 - 1 / s)
    return 3 / 16 * (1 - b * b) * ((3 - b**4) * math.log((1 + b) / (1 - b)) - 2 * b * (2 - b * b))


def isotropic_average(s0: float) -> float:
    """int dmu/2 (1 - mu) sigma(s0 (1 - mu) / 2) / sigma_T over the angle itself."""
    if s0 <= 1:
        return 0.0
    return quad(lambda mu: (1 - mu) / 2 * breit_wheeler(s0 * (1 - mu) / 2), -1, 1 - 2 / s0, epsabs=0,
                epsrel=1e-12, limit=400)[0]


def phi(s0: float) -> float:
    """int_1^s0 s sigma(s) / sigma_T ds, in t = ln(s - 1) (smooth at threshold,
    where the integrand starts as e^(3t/2)): 2 Phi / s0^2 is the isotropic average."""
    if s0 <= 1:
        return 0.0
    def integrand(t):
        dm = math.exp(t)
        return (1 + dm) * breit_wheeler(1 + dm) * dm
    return quad(integrand, -60.0, math.log(s0 - 1), epsabs=0, epsrel=1e-10, limit=400)[0]


def gamma_gamma_opacity(nu, seed_nu, seed_u):
    """2 sigma_T int (u / h) Phi(s0) / s0^2 dln nu' over the seed segments."""
    out = []
    for f in nu:
        total = 0.0
        w_th = math.log(MC2 * MC2 / (H * H * f))
        for x0, x1, u0, q in power_law_segments(seed_nu, seed_u):
            lo, hi = max(math.log(x0), w_th), math.log(x1)
            if lo >= hi:
                continue
            def integrand(w):
                s0 = H * H * f * math.exp(w) / (MC2 * MC2)
                return u0 * math.exp(-q * (w - math.log(x0))) / H * phi(s0) / (s0 * s0)
            total += quad(integrand, lo, hi, epsabs=0, epsrel=1e-10, limit=200)[0]
        out.append(2 * SIGMA_T * total)
    return np.array(out)


# ---- inverse Compton (isotropic Klein-Nishina kernel) ----------------------------
R0_SQ = 3 * SIGMA_T / (8 * math.pi)  # classical electron radius squared


def kn_kernel(e1: float, eps: float, g: float) -> float:
    """Scattered photons per unit time and unit dimensionless energy e1 of an
    electron gamma = g in a unit density of photons of energy eps (energies in
    m c^2): Blumenthal & Gould 1970, eq. 2.48, zero outside 1/(4 g^2) <= q <= 1.
    With energies in m c^2 the prefactor is 2 pi r0^2 c / (g^2 eps), which gives
    the Thomson power (4/3) sigma_T c g^2 eps (test_models_accuracy checks it)."""
    big_gamma = 4 * eps * g
    if e1 >= g:
        return 0.0
    q = e1 / (big_gamma * (g - e1))
    if q > 1 or q < 1 / (4 * g * g):
        return 0.0
    f = 2 * q * math.log(q) + (1 + 2 * q) * (1 - q) + (big_gamma * q) ** 2 * (1 - q) / (2 * (1 + big_gamma * q))
    return 2 * math.pi * R0_SQ * C / (g * g * eps) * f


def kn_gamma_min(e1: float, eps: float) -> float:
    """Smallest gamma that scatters eps up to e1 (q = 1)."""
    return e1 / 2 * (1 + math.sqrt(1 + 1 / (eps * e1)))


def inverse_compton_mono(nu, gamma, n, nu0, u0):
    """Emissivity per steradian: (h nu / 4 pi) (h / m c^2) int n(gamma) K(e1, eps0, gamma)
    n_ph dgamma, n_ph = u0 / (h nu0), by segments in ln gamma."""
    eps = H * nu0 / MC2
    n_ph = u0 / (H * nu0)
    out = []
    for f in nu:
        e1 = H * f / MC2
        g_lo = kn_gamma_min(e1, eps)
        total = 0.0
        for g0, g1, n0, p in power_law_segments(gamma, n):
            lo, hi = math.log(max(g0, g_lo)), math.log(g1)
            if lo >= hi:
                continue
            total += quad(lambda u: n0 * (math.exp(u) / g0) ** -p * kn_kernel(e1, eps, math.exp(u)) * math.exp(u),
                          lo, hi, epsabs=0, epsrel=1e-10, limit=200)[0]
        out.append(H * f / (4 * math.pi) * H / MC2 * n_ph * total)
    return np.array(out)


def inverse_compton(nu, gamma, n, seed_nu, seed_u):
    """The same on a tabulated seed: the monochromatic result integrated over the
    seed's power-law segments in ln nu' (photon density u / h per unit ln nu')."""
    out = []
    for f in nu:
        total = 0.0
        for x0, x1, u0, q in power_law_segments(seed_nu, seed_u):
            def per_ln_nu(w):
                nu_s = math.exp(w)
                u_nu = u0 * (nu_s / x0) ** -q
                return inverse_compton_mono([f], gamma, n, nu_s, u_nu * nu_s)[0]
            total += quad(per_ln_nu, math.log(x0), math.log(x1), epsabs=0, epsrel=1e-8, limit=100)[0]
        out.append(total)
    return np.array(out)


def compton_cooling_mono(gamma, nu0, u0):
    """-dgamma/dt = n_ph int (e1 - eps) K(e1, eps, gamma) de1 (energies in m c^2)
    with the kernel of kn_kernel, whose neglected terms are O(1/gamma) (below
    1e-5 for gamma >= 1e3); exact Thomson limit for 4 gamma eps < 1e-5."""
    eps = H * nu0 / MC2
    n_ph = u0 / (H * nu0)
    out = []
    for g in gamma:
        big_gamma = 4 * eps * g
        if big_gamma < 1e-5:
            out.append(4 / 3 * SIGMA_T * C * (g * g - 1) * u0 / MC2)
            continue
        e_max = big_gamma * g / (1 + big_gamma)
        lo, hi = math.log(eps), math.log(e_max)
        total = quad(lambda w: (math.exp(w) - eps) * kn_kernel(math.exp(w), eps, g) * math.exp(w), lo, hi,
                     epsabs=0, epsrel=1e-10, limit=400, points=[hi - 1e-3])[0]
        out.append(n_ph * total)
    return np.array(out)


def compton_cooling(gamma, seed_nu, seed_u):
    """The same integrated over the seed's power-law segments in ln nu'."""
    out = []
    for g in gamma:
        total = 0.0
        for x0, x1, u0, q in power_law_segments(seed_nu, seed_u):
            def per_ln_nu(w):
                nu_s = math.exp(w)
                return compton_cooling_mono([g], nu_s, u0 * (nu_s / x0) ** -q * nu_s)[0]
            total += quad(per_ln_nu, math.log(x0), math.log(x1), epsabs=0, epsrel=1e-9, limit=100)[0]
        out.append(total)
    return np.array(out)


# ---- comparison ----------------------------------------------------------------
def worst_relative_error(got, want, floor=1e-6):
    """Largest |got/want - 1| where want exceeds floor times its maximum."""
    got, want = np.asarray(got), np.asarray(want)
    mask = np.abs(want) > floor * np.max(np.abs(want))
    return float(np.max(np.abs(got[mask] / want[mask] - 1)))


def log_grid(count, lo, hi, endpoint=True):
    return np.geomspace(lo, hi, count, endpoint=endpoint)


# Inputs shared by the tests and the table: electrons and seed fields of blazar
# models, on fine and coarse grids.
def electrons(points):
    gamma = log_grid(points, 10.0, 1e6)
    return gamma, gamma**-2.5 * np.exp(-gamma / 1e5)


def seed(points):
    seed_nu = log_grid(points, 1e10, 1e17)
    return seed_nu, 1e-12 * (seed_nu / 1e10) ** -0.7 * np.exp(-seed_nu / 1e16)


def regime_errors(got, want, sizes):
    """Worst relative error of each consecutive batch of outputs, where the
    reference exceeds 1e-6 of the batch's maximum."""
    out, start = [], 0
    for size in sizes:
        out.append(worst_relative_error(got[start:start + size], want[start:start + size]))
        start += size
    return out


def synchrotron_regimes(B):
    """Frequencies by x at gamma_max = 1e6: << 1 (power law, self-absorbed), ~ 1
    (the cut-off), >> 1 (the exponential tail)."""
    a = 1.5 * E_CHARGE * B / (2 * math.pi * M_E * C)
    return {
        "x(gamma_max) < 0.1": log_grid(8, 1e8, 0.1 * a * 1e12, False),
        "0.1 < x(gamma_max) < 10": log_grid(8, 0.1 * a * 1e12, 10 * a * 1e12, False),
        "x(gamma_max) > 10 (tail)": log_grid(8, 10 * a * 1e12, 1e22),
    }


def gamma_gamma_regimes(seed_nu):
    """Frequencies by s0max = h nu h nu'_max / (m c^2)^2."""
    nu_th = MC2 * MC2 / (H * H * seed_nu[-1])
    return {
        "threshold (1 < s0max < 2)": log_grid(4, 1.01 * nu_th, 2 * nu_th, False),
        "2 < s0max < 1e4": log_grid(4, 2 * nu_th, 1e4 * nu_th, False),
        "s0max > 1e4": log_grid(4, 1e4 * nu_th, 1e8 * nu_th),
    }


def compton_regimes(eps, gamma_max):
    """Output energies e1 = h nu / m c^2 by the Klein-Nishina parameter of the
    electrons that make them: Thomson (4 eps gamma << 1), transition, and the
    Klein-Nishina tail up to gamma_max m c^2."""
    return {
        "Thomson (e1 < 0.0025/eps)": log_grid(6, 10 * eps, 0.0025 / eps, False) * MC2 / H,
        "transition (e1 < 1/eps)": log_grid(6, 0.0025 / eps, 1 / eps, False) * MC2 / H,
        "KN tail (e1 to 0.99 gamma_max)": log_grid(6, 1 / eps, 0.99 * gamma_max) * MC2 / H,
    }


def main() -> None:
    from ostrel_models import kernels

    print(f"{'kernel':20s} {'regime':38s} {'worst rel. error':>16s}")
    for points in (128, 16):
        gamma, n = electrons(points)
        regimes = synchrotron_regimes(1.0)
        nu = np.concatenate(list(regimes.values()))
        got, want = kernels.synchrotron(nu, gamma, n, 1.0), synchrotron(nu, gamma, n, 1.0)
        for label, g, w in (("synchrotron j", got[0], want[0]), ("synchrotron alpha", got[1], want[1])):
            for name, e in zip(regimes, regime_errors(g, w, [8] * 3)):
                print(f"{label:20s} {name + f', {points} gamma':38s} {e:16.2e}")
    for points in (24, 6):
        seed_nu, seed_u = seed(points)
        regimes = gamma_gamma_regimes(seed_nu)
        nu = np.concatenate(list(regimes.values()))
        got = kernels.gamma_gamma_opacity(nu, seed_nu, seed_u)
        want = gamma_gamma_opacity(nu, seed_nu, seed_u)
        for name, e in zip(regimes, regime_errors(got, want, [4] * 3)):
            print(f"{'gamma_gamma_opacity':20s} {name + f', {points} seed':38s} {e:16.2e}")
    if not hasattr(kernels, "inverse_compton_mono"):
        return
    nu0, u0 = 2.5e15, 1e-3
    for points in (32, 8):
        gamma, n = electrons(points)
        regimes = compton_regimes(H * nu0 / MC2, gamma[-1])
        nu = np.concatenate(list(regimes.values()))
        got = kernels.inverse_compton_mono(nu, gamma, n, nu0, u0)
        want = inverse_compton_mono(nu, gamma, n, nu0, u0)
        for name, e in zip(regimes, regime_errors(got, want, [6] * 3)):
            print(f"{'inverse_compton_mono':20s} {name + f', {points} gamma':38s} {e:16.2e}")
    seed_nu = log_grid(6, 1e14, 1e16)
    seed_u = 1e-13 * (seed_nu / 1e14) ** -1.2
    gamma, n = electrons(12)
    regimes = compton_regimes(H * 1e15 / MC2, gamma[-1])
    nu = np.concatenate([v[::2] for v in regimes.values()])
    got = kernels.inverse_compton(nu, gamma, n, seed_nu, seed_u)
    want = inverse_compton(nu, gamma, n, seed_nu, seed_u)
    for name, e in zip(regimes, regime_errors(got, want, [3] * 3)):
        print(f"{'inverse_compton':20s} {name + ', 12 gamma, 6 seed':38s} {e:16.2e}")
    # Cooling: Thomson (exact, gamma from 1), then by 4 gamma eps.
    gamma_cool = {
        "Thomson, gamma 1 .. 100": np.array([1.0, 1.001, 1.5, 10.0, 100.0]),
        "4 gamma eps 0.04 .. 4": log_grid(5, 1e3, 1e5),
        "4 gamma eps 40 .. 4e4 (deep KN)": log_grid(5, 1e6, 1e9),
    }
    for name, g in gamma_cool.items():
        nu0 = 1.2e12 if name.startswith("Thomson") else MC2 * 1e-5 / H
        got = kernels.compton_cooling_mono(g, nu0, 1e-3)
        e = worst_relative_error(got[g > 1], compton_cooling_mono(g, nu0, 1e-3)[g > 1])
        print(f"{'compton_cooling_mono':20s} {name:38s} {e:16.2e}")
        if got[0] != 0.0 and g[0] == 1.0:
            print("   (not zero at gamma = 1)")
    seed_nu = log_grid(5, 1e14, 1e16)
    seed_u = 1e-13 * (seed_nu / 1e14) ** -1.2
    g = log_grid(6, 1e3, 1e8)
    e = worst_relative_error(kernels.compton_cooling(g, seed_nu, seed_u), compton_cooling(g, seed_nu, seed_u))
    print(f"{'compton_cooling':20s} {'gamma 1e3 .. 1e8, seed 1e14 .. 1e16 Hz':38s} {e:16.2e}")


if __name__ == "__main__":
    main()
