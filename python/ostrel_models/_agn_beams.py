"""Quadratures behind the fields of ``agn``: Gauss-Legendre nodes, the
Planck spectrum as a few energy nodes, the photon path, and the pair-production
absorption coefficient of a set of beams."""

from __future__ import annotations

import functools
import math

import numpy as np
import numpy.typing as npt

from . import _constants as k

Array = npt.NDArray[np.float64]


class GL4:
    """Four-point Gauss-Legendre rule on pieces of an interval."""

    x = np.array([-0.8611363115940526, -0.3399810435848563, 0.3399810435848563, 0.8611363115940526])
    w = np.array([0.3478548451374638, 0.6521451548625461, 0.6521451548625461, 0.3478548451374638])

    @classmethod
    def nodes(cls, a: float, b: float, width: float, cuts: tuple[float, ...] = ()) -> tuple[Array, Array]:
        """Nodes and weights of ∫_a^b on pieces no wider than ``width``,
        with extra piece boundaries at ``cuts``."""
        edges = [a] + sorted(c for c in cuts if a < c < b) + [b]
        xs, ws = [], []
        for lo, hi in zip(edges[:-1], edges[1:]):
            n = max(1, int(math.ceil((hi - lo) / width - 1e-9)))
            e = np.linspace(lo, hi, n + 1)
            mid, half = 0.5 * (e[1:] + e[:-1]), 0.5 * np.diff(e)
            xs.append((mid[:, None] + half[:, None] * cls.x[None, :]).ravel())
            ws.append((half[:, None] * cls.w[None, :]).ravel())
        return np.concatenate(xs), np.concatenate(ws)


def midpoint_phi(n: int) -> tuple[Array, Array]:
    """Azimuths on [0, π] by the midpoint rule, with weights summing to 2π:
    the fields are mirror-symmetric about the plane of the axis and the line
    of sight, and the rule is exponentially accurate for periodic integrands."""
    phi = (np.arange(n) + 0.5) * math.pi / n
    return phi, np.full(n, 2.0 * math.pi / n)


def blackbody_nodes(temperature: float, n: int) -> tuple[Array, Array]:
    """Photon energies ε [m_e c²] and energy fractions (summing to 1) of a
    black body: Gauss-Legendre in ln x, x = hν/kT from 0.01 to 50, of
    (15/π⁴) x⁴/(e^x − 1); the tails beyond hold 4e-7 of the energy (the Wien
    tail matters for pair production far above the threshold of the peak),
    and the fractions are scaled to sum to one."""
    x, f = _planck_nodes(n)
    return x * k.K_B * temperature / k.MEC2, f


@functools.lru_cache(maxsize=8)
def _planck_nodes(n: int) -> tuple[Array, Array]:
    t, w = GL4.nodes(math.log(0.01), math.log(50.0), math.log(5000.0) / max(1, n // 4))
    x = np.exp(t)
    f = w * 15.0 / math.pi**4 * x**4 / np.expm1(x)
    return x, f / f.sum()


def cos_viewing(Gamma: float, doppler: float) -> float:
    """cos θ_s of the line of sight from δ_D = 1/(Γ(1 − β cos θ_s))."""
    beta = math.sqrt(max(0.0, 1.0 - 1.0 / (Gamma * Gamma)))
    if beta == 0.0:
        return 0.0
    return min(1.0, max(-1.0, (1.0 - 1.0 / (Gamma * doppler)) / beta))


def sigma_gg(s: Array) -> Array:
    """Pair-production cross section [cm²] at s = ε₁ε(1 − cos ψ)/2 (the
    square of the centre-of-momentum energy over (m_e c²)², over four):
    (3σ_T/16)(1 − β²)[(3 − β⁴) ln((1 + β)/(1 − β)) − 2β(2 − β²)],
    β = √(1 − 1/s), zero below threshold (Gould & Schréder 1967)."""
    s = np.asarray(s, dtype=float)
    out = np.zeros_like(s)
    live = s > 1.0
    b2 = 1.0 - 1.0 / s[live]
    b = np.sqrt(b2)
    out[live] = (3.0 * k.SIGMA_T / 16.0) * (1.0 - b2) * (
        (3.0 - b2 * b2) * np.log1p(2.0 * b / (1.0 - b)) - 2.0 * b * (2.0 - b2))
    return out


def gamma_gamma_coefficient(eps1: Array, eps: Array, uu: Array, cos_psi: Array,
                            per_decade: float = 40.0) -> Array:
    """Absorption coefficient [cm⁻¹] of photons of energies ε₁ [m_e c²]
    moving along a direction at angle ψ_k to beams of energy ε_k and energy
    density U_k: Σ_k (1 − cos ψ_k) U_k/(ε_k m_e c²) σ_γγ(ε₁ w_k/2) with
    w_k = ε_k(1 − cos ψ_k), the only way a beam enters the cross section.
    The beams are first gathered on a grid of ``per_decade`` points a decade
    in w (each shared between its two nodes, linearly in ln w); the cross
    section changes little over 6 % in s except at its threshold."""
    one_minus = 1.0 - cos_psi
    keep = (one_minus > 1e-300) & (uu > 0.0)
    w = eps[keep] * one_minus[keep]
    c = one_minus[keep] * uu[keep] / (eps[keep] * k.MEC2)
    eps1 = np.asarray(eps1, dtype=float)
    out = np.zeros(eps1.shape)
    if w.size == 0:
        return out
    live = eps1 * w.max() / 2.0 > 1.0
    if not np.any(live):
        return out
    grid, weight = log_grid_share(w, c, per_decade)
    out[live] = sigma_gg(eps1[live, None] * grid[None, :] / 2.0) @ weight
    return out


def log_grid_share(x: Array, weight: Array, per_decade: float) -> tuple[Array, Array]:
    """(grid, shares): the points x > 0 with their weights gathered on a
    logarithmic grid of ``per_decade`` points a decade from min(x) to max(x),
    each weight shared between its two neighbouring nodes linearly in log x
    (which keeps the sum of the weights and their mean log x)."""
    lo, hi = math.log10(x.min()), math.log10(x.max())
    n = max(2, int(math.ceil((hi - lo) * per_decade)) + 1)
    pos = (np.log10(x) - lo) / max(hi - lo, 1e-300) * (n - 1)
    i = np.clip(np.floor(pos).astype(int), 0, n - 2)
    t = pos - i
    shares = np.zeros(n)
    np.add.at(shares, i, weight * (1.0 - t))
    np.add.at(shares, i + 1, weight * t)
    grid = np.logspace(lo, hi, n) if hi > lo else np.full(n, x.max())
    return grid, shares


def path_nodes(r: float, scale: float, reach: float = 1e3) -> tuple[Array, Array]:
    """Path lengths l [cm] from the blob at height r and weights of ∫_0^∞ dl,
    by Gauss-Legendre in t = ln(r + l) up to ``reach`` times the larger of r
    and the field's scale (beyond, the field falls as 1/l² and adds below
    ~1/reach of the depth), with a piece boundary where the path passes the
    field's scale."""
    top = reach * max(r, scale)
    cuts = (math.log(scale),) if scale > r else ()
    t, w = GL4.nodes(math.log(r), math.log(r + top), 0.5, cuts)
    ex = np.exp(t)
    return ex - r, w * ex


def _res(n: int, coarse: bool) -> int:
    return max(4, n // 2) if coarse else n


def _direction(vx: Array, vy: Array, vz: Array) -> tuple[Array, Array]:
    x = np.sqrt(vx * vx + vy * vy + vz * vz)
    return np.stack([vx / x, vy / x, vz / x], axis=-1), x
