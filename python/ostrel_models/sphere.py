"""Radiative transfer through a homogeneous sphere, and the state of a blob
that one evaluation computes with.

- Radiation through the sphere: a homogeneous sphere of radius R, emissivity
  j' and absorption coefficient α' emits L' = 4π V j' · 3u(τ)/τ with
  τ = 2 R α' and u(τ) = 1/2 + e^−τ/τ − (1 − e^−τ)/τ² (Dermer & Menon 2009,
  *High Energy Radiation from Black Holes*, ch. 7, the synchrotron
  self-absorbed sphere; j' V 4π when thin, 4π² R² j'/α' when thick).
- Seed field of self-Compton scattering: the sphere-averaged energy density
  of the blob's own, self-absorbed synchrotron radiation,
  u'(ν') = (4π/c)(j'/α') ⟨1 − e^(−α' s)⟩, averaged over the distance s from a
  point of the sphere to its surface along a random direction, whose
  distribution is p(s) = (3/4R)(1 − s²/4R²) on [0, 2R]; thin, this is
  u' = 3π j' R / c = (9/16) L'/(π R² c), the volume average of Gould (1979);
  the value at the centre, 4π j' R / c, is 4/3 of it.  The electrons, spread
  evenly through the sphere, see the volume average.

``BlobState`` holds the plain cgs values of every parameter of a blob, read
once at the start of an evaluation, with the electron grid and density and
independent copies of the distribution and of the external fields: whatever
another thread assigns to the blob meanwhile, one evaluation computes one
model.
"""

from __future__ import annotations

import math
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from . import _constants as k
from ._observed import field_labels
from ._pair_escape import correction as pair_escape_correction
from ._pair_escape import seed_index

Array = npt.NDArray[np.float64]

__all__ = ["escape_factor", "seed_factor", "BlobState", "synchrotron_field"]


def escape_factor(tau: npt.ArrayLike) -> Array:
    """3u(τ)/τ: emerging over emitted luminosity of a homogeneous sphere.

    τ = 2Rα is the optical depth along a diameter and
    u(τ) = 1/2 + e^−τ/τ − (1 − e^−τ)/τ² (DM09 ch. 7); 1 when thin,
    3/(2τ) when thick.  Below τ = 0.1 the closed form loses digits to
    cancellation and its series 3 Σ_{m≥1} (−1)^(m+1) (m+1)/(m+2)! τ^(m−1)
    is used (eight terms: the first left out is below 1e-12 there).
    """
    def closed(tl: Array) -> Array:
        e = np.exp(-tl)
        return 3.0 / tl * (0.5 + e / tl - (-np.expm1(-tl)) / (tl * tl))

    return _series_below(tau, lambda m: (-1.0) ** (m + 1) * (m + 1) / math.factorial(m + 2),
                         3.0, closed)


def seed_factor(tau: npt.ArrayLike) -> Array:
    """⟨1 − e^(−α s)⟩ / τ for the distance s to the surface of a sphere.

    With x = s/2R distributed as (3/2)(1 − x²) on [0, 1] and τ = 2Rα:
    ⟨e^(−τx)⟩ = (3/2)[(1 − e^−τ)/τ − (2 − e^−τ(τ² + 2τ + 2))/τ³].
    The result times (4π/c) · 2R j is the sphere-averaged energy density of
    the blob's own radiation; 3/8 when thin, 1/τ when thick.  Below τ = 0.1
    the series Σ_{k≥1} (−1)^(k+1) τ^(k−1) ⟨x^k⟩ / k! with
    ⟨x^k⟩ = 3/((k+1)(k+3)) is used (eight terms).
    """
    def closed(tl: Array) -> Array:
        e = np.exp(-tl)
        mean_exp = 1.5 * (-np.expm1(-tl) / tl - (2.0 - e * (tl * tl + 2.0 * tl + 2.0)) / tl**3)
        return (1.0 - mean_exp) / tl

    return _series_below(tau, lambda m: (-1.0) ** (m + 1) * 3.0 / ((m + 1) * (m + 3) * math.factorial(m)),
                         None, closed)


def _series_below(tau: npt.ArrayLike, coefficient: Callable[[int], float], factor: float | None,
                  closed: Callable[[Array], Array]) -> Array:
    """A function of the optical depth: below τ = 0.1, where its closed form
    loses digits to cancellation, the series Σ_{m=1..8} c_m τ^(m−1) by
    Horner's rule (times ``factor`` if given); the closed form above."""
    t = np.asarray(tau, dtype=float)
    out = np.empty_like(t)
    small = t < 0.1
    ts = t[small]
    series = np.zeros_like(ts)
    for m in range(8, 0, -1):
        series = series * ts + coefficient(m)
    out[small] = series if factor is None else factor * series
    out[~small] = closed(t[~small])
    return out


@dataclass(frozen=True)
class BlobState:
    """Plain cgs values of a blob for one evaluation (read-only).

    radius [cm], B [G], doppler, Gamma, z, distance [cm] (luminosity
    distance), g and n: the blob-frame electron grid γ' and density
    n'(γ') [cm⁻³] (read-only arrays), electrons and external: independent
    copies of the distribution and of the fields, seed_per_decade.
    """

    radius: float
    B: float
    doppler: float
    Gamma: float
    z: float
    distance: float
    g: Array
    n: Array
    electrons: Any
    external: tuple[Any, ...]
    seed_per_decade: float
    r: float | None = None          # distance from the black hole [cm], if given

    @property
    def volume(self) -> float:
        return 4.0 / 3.0 * math.pi * self.radius**3

    @property
    def cos_theta(self) -> float:
        """Cosine of the viewing angle, from Γ and δ_D: (1 − 1/(Γδ_D))/β."""
        beta = math.sqrt(max(0.0, 1.0 - 1.0 / (self.Gamma * self.Gamma)))
        if beta == 0.0:
            return 0.0
        return min(1.0, max(-1.0, (1.0 - 1.0 / (self.Gamma * self.doppler)) / beta))


def seed_grid(state: BlobState) -> Array:
    """Blob-frame frequencies [Hz] of the self-Compton seed field: from 1e-2
    ν_B γ'_min² to 30 ν_B γ'_max², ``seed_per_decade`` points a decade."""
    nu_b = k.NU_B_PER_GAUSS * state.B
    lo = 1e-2 * nu_b * state.g[0] ** 2
    hi = 30.0 * nu_b * state.g[-1] ** 2
    n = max(16, int(math.ceil(math.log10(hi / lo) * state.seed_per_decade)) + 1)
    return np.geomspace(lo, hi, n)


def synchrotron_field(state: BlobState, K: Any, ssa: bool,
                      extra_nu: Array) -> tuple[Array, Array, Array, Array, Array]:
    """Seed grid ν', its sphere-averaged u'(ν'), and j', α' at extra_nu
    (increasing blob-frame frequencies), with the seed's α' last."""
    g, n = state.g, state.n
    seed = seed_grid(state)
    # One kernel call on the increasing union of both grids, up to
    # ν = 50 ν_c(γ_max) with ν_c = (3/2) ν_B γ²: above, the emission of
    # every electron is below e^-50 of its peak and is set to zero.
    nu_top = 75.0 * k.NU_B_PER_GAUSS * state.B * g[-1] ** 2
    below = extra_nu < nu_top
    grid = np.unique(np.concatenate([seed, extra_nu[below]]))
    j, a = K.synchrotron(grid, g, n, state.B)
    j, a = np.append(np.asarray(j), 0.0), np.append(np.asarray(a), 0.0)
    if not ssa:
        a = np.zeros_like(a)
    at_seed = np.searchsorted(grid, seed)
    at_extra = np.where(below, np.searchsorted(grid, extra_nu), grid.size)
    two_r = 2.0 * state.radius
    a_seed = a[at_seed]
    u_seed = 4.0 * math.pi / k.C * j[at_seed] * two_r * seed_factor(two_r * a_seed)
    return seed, u_seed, j[at_extra], a[at_extra], a_seed


def components(state: BlobState, nu_obs: Array, K: Any, ssa: bool, gamma_gamma: bool,
               want: tuple[str, ...]) -> dict[str, Array]:
    """Observed ν F_ν [erg cm⁻² s⁻¹] of the components ``want`` ("synchrotron",
    "ssc", "ec") at distinct increasing observed frequencies ``nu_obs``.

    ν F_ν = δ⁴ ν' L'_ν' / (4π d_L²) with L' = 4π V j' · escape (Dermer & Menon
    2009, ch. 5); every component leaves through the sphere's escape factor
    for synchrotron self-absorption plus, with ``gamma_gamma``, the pair
    opacity of the synchrotron field.  Frequencies above every kinematic limit
    give zero (their blob-frame value may even overflow).
    """
    g, n = state.g, state.n
    d = state.doppler
    with np.errstate(over="ignore"):
        nu_c = nu_obs * ((1.0 + state.z) / d)        # blob-frame frequencies
    seed, u_seed, j_syn, a_syn, _ = synchrotron_field(state, K, ssa, nu_c)
    # The highest photon energy of any component: γ'_max m_e c² (Compton) or
    # far in the synchrotron tail; above, no absorption is computed either.
    top = max(g[-1] * k.MEC2 / k.H, 75.0 * k.NU_B_PER_GAUSS * state.B * g[-1] ** 2) * 4.0
    alpha = a_syn.copy()
    a_gg = np.zeros_like(alpha)
    if gamma_gamma:
        live = nu_c < top
        if np.any(live):
            a_gg[live] = np.asarray(K.gamma_gamma_opacity(nu_c[live], seed, u_seed))
            alpha += a_gg
    esc = escape_factor(2.0 * state.radius * alpha)
    # Where pair absorption dominates, the escape through the synchrotron
    # field's own geometry (outgoing seed photons near the surface; see
    # ``_pair_escape``); self-absorption and pair absorption do not overlap
    # in frequency in practice.
    gg = a_gg > a_syn
    if np.any(gg):
        index = seed_index(nu_c[gg], seed, u_seed)
        esc[gg] *= pair_escape_correction(2.0 * state.radius * a_gg[gg], index)
    # δ⁴ V / d_L² first: ν' j' is finite wherever j' is not zero.
    scale = d**4 * state.volume / state.distance**2

    out: dict[str, Array] = {}
    if "synchrotron" in want:
        out["synchrotron"] = _flux(scale, nu_c, j_syn, esc)
    if "ssc" in want:
        j_ssc = np.zeros_like(nu_c)
        # Self-Compton emission lies below the kinematic limit γ_max m_e c²/h;
        # from the lowest seed (itself far below the synchrotron peak and
        # self-absorbed) γ_min scatters to ~γ_min² ν_seed, and below a
        # hundredth of that the emission is left out.
        lo = 1e-2 * seed[0] * g[0] ** 2
        hi = g[-1] * k.MEC2 / k.H
        sel = (nu_c > lo) & (nu_c < hi)
        if np.any(sel):
            j_ssc[sel] = K.inverse_compton(nu_c[sel], g, n, seed, u_seed)
        out["ssc"] = _flux(scale, nu_c, j_ssc, esc)
    if "ec" in want:
        ec = np.zeros_like(nu_obs)
        for field, label in zip(state.external, field_labels(state.external)):
            part = field.ec_sed(state, nu_obs, K) * esc
            out[label] = part              # each field's share ("ec_blr", ...)
            ec += part
        out["ec"] = ec
    # Absorption outside the blob by a field on the way out (γγ on a
    # broad-line region, say): every component passes through it.
    for field in state.external:
        t = field.transmission(state, nu_obs)
        if t is not None:
            out = {name: values * t for name, values in out.items()}
    return out


def _flux(scale: float, nu: Array, j: Array, esc: Array) -> Array:
    out = np.zeros_like(nu)
    live = j > 0.0
    out[live] = scale * (nu[live] * j[live]) * esc[live]
    return out
