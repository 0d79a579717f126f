"""The integrator behind ``evolve``: grid, rates, adaptive implicit steps and
the energy bookkeeping of the time-dependent blob.

Time step.  The step is ``ostrel.fp_findif_difu``, backward Euler, stable
for any length.  Each step is taken once whole and once as two halves with
the same rates: their difference is the first-order error e of the step, and
2 N_half − N_whole (Richardson extrapolation) is second-order accurate.  e is
measured relative to N in the Lorentz factors whose γ²N is at least 1e-4 of
its maximum (the electrons that carry the energy and the emission); the next
step is h (tol/e)^½ with tol = accuracy²/2 (at most twice the last; a step
with e > 4 tol is refused and taken again shorter).  Where N changes as
e^(−t/τ) this makes h ≈ accuracy · τ: the step follows the shortest time on
which the relevant part of N changes — the rise and fall of the injection,
the cooling time at the cooling front after the injection stops, the escape
and acceleration times.  It is also never longer than accuracy × (escape,
acceleration and expansion times, the injection's time scale), nor than a
tenth of the run, and it lands exactly on the output times and the corners of the
injection profile.  Electrons that cool faster than a step (the highest
Lorentz factors) sit in their quasi-steady state, as they do physically.
The rates (the self-Compton losses on the synchrotron field of N) are
computed once per step, at its start; the three Fokker–Planck solves cost
little beside them.

Drift on a logarithmic grid.  Where drift dominates diffusion the step
carries across a cell edge the electrons of the upwind node, with the mean of
the two nodes' drift: first order, and on a grid of ratio r the steady
cooled spectrum sits where it would at a Lorentz factor (1 + r)/2r lower, an
error of several per cent at 16 points per decade.  The drifts given to the
step are therefore scaled by N(γ_e)/N_up, the density at the edge
reconstructed from the upwind node with a limited logarithmic slope (see
``_edge_factors``), taken from the present N: on a power law the flux through
each edge is then the exact one, and the steady cooled spectrum is right to
a few 1e-3 on the default grid.
"""

from __future__ import annotations

import math
import warnings
from typing import Any

import numpy as np
import numpy.typing as npt

import ostrel

from . import _backends
from . import _constants as k
from ._observed import blob_frame_field, line_cooling
from .blob import Blob
from .distributions import Tabulated, powerlaw_moment, powerlaw_segments

Array = npt.NDArray[np.float64]

# Gauss–Legendre nodes on [0, 1]: the injection profile averaged over a step
# without sampling its ends (where a step profile jumps).
_GL_X = 0.5 + 0.5 * np.array([-math.sqrt(0.6), 0.0, math.sqrt(0.6)])
_GL_W = np.array([5.0, 8.0, 5.0]) / 18.0
# A diffusion coefficient [s^-1] negligible against every drift, which keeps the
# Chang–Cooper weights of the step defined where no process diffuses.
_D_FLOOR = 1e-30


def scheme_weights(g: Array) -> Array:
    """Widths the step gives its nodes (half the two neighbouring intervals):
    Σ f_i w_i is the scheme's own ∫ f dγ."""
    d = np.diff(g)
    dp = np.append(d, d[-1])
    dm = np.insert(d, 0, d[0])
    return 0.5 * (dp + dm)


def cell_average(g: Array, x: Array, y: Array) -> Array:
    """The mean over each node's cell [γ_i − w_i⁻, γ_i + w_i⁺] (halfway to
    the neighbours, the cells of the step) of y given at the increasing points
    x, a power law between them and zero outside.

    Σ N_i w_i is then the number of the distribution, whatever its width: a
    distribution narrower than a cell, or ending inside one, fills the cells
    it overlaps with its own electrons.
    """
    d = np.diff(g)
    left = g - 0.5 * np.insert(d, 0, d[0])
    right = g + 0.5 * np.append(d, d[-1])
    if np.count_nonzero(y > 0.0) < 2:
        return np.zeros_like(g)
    # The source's points and the cell edges inside its range; a segment with
    # a zero end holds nothing (as for the kernels).
    edges = np.concatenate([left, right[-1:]])
    pts = np.unique(np.concatenate([x, edges[(edges > x[0]) & (edges < x[-1])]]))
    j = np.clip(np.searchsorted(x, pts, side="right") - 1, 0, x.size - 2)
    live = (y[j] > 0.0) & (y[j + 1] > 0.0)
    with np.errstate(divide="ignore", invalid="ignore"):
        slope = np.where(live, np.log(y[j + 1] / np.where(live, y[j], 1.0)) / np.log(x[j + 1] / x[j]),
                         0.0)
        val = np.where(live, y[j] * (pts / x[j]) ** slope, 0.0)
    val = np.where(np.isin(pts, x), np.interp(pts, x, y), val)
    cum = np.concatenate([[0.0], np.cumsum(powerlaw_segments(pts, val, 0.0))])
    at = np.interp(np.clip(edges, pts[0], pts[-1]), pts, cum)   # edges are among pts
    return np.diff(at) / (right - left)


def _edge_factors(g: Array, N: Array, downward: npt.NDArray[np.bool_]) -> Array:
    """Edge factors that turn the step's upwind flux B_e N_up into B_e N(γ_e).

    The step carries across the edge γ_e = (γ_i + γ_{i+1})/2 the electrons of
    the upwind node, N_up: first order.  N(γ_e) is taken as the power law from
    N_up with the logarithmic slope of the edge's two nodes or of the upwind
    node's other side, whichever is smaller, and none where they differ in
    sign (the minmod limiter: no new extremum, exact on a power law); the
    ratio N(γ_e)/N_up is kept within [1/2, 2].
    """
    lg = np.log(g)
    with np.errstate(divide="ignore", invalid="ignore"):
        ln = np.log(np.where(N > 0.0, N, np.nan))
    s = np.diff(ln) / np.diff(lg)                      # slope across each edge
    s = np.where(np.isfinite(s), s, np.nan)
    above = np.append(s[1:], np.nan)                   # the upper node's other side
    below = np.insert(s[:-1], 0, np.nan)               # the lower node's other side
    other = np.where(downward, above, below)
    same = np.sign(s) == np.sign(other)
    lim = np.where(same & np.isfinite(s) & np.isfinite(other),
                   np.where(np.abs(s) < np.abs(other), s, other), 0.0)
    ge = np.log(0.5 * (g[:-1] + g[1:]))
    up = np.where(downward, lg[1:], lg[:-1])
    return np.clip(np.exp(lim * (ge - up)), 0.5, 2.0)


def _nodes_for_edges(edge: Array) -> Array:
    """Node values whose neighbour means are ``edge``: the step uses a drift
    only through the mean of the two nodes of each edge, so any edge drift
    can be given to it (g_0 = T_0, g_{i+1} = 2 T_i − g_i; the nodes alternate
    about the edges, which the step never sees)."""
    out = np.empty(edge.size + 1)
    out[0] = edge[0]
    for i, value in enumerate(edge):
        out[i + 1] = 2.0 * value - out[i]
    return out


class Stepper:
    """The grid, the rates and the time stepping of one ``evolve`` call
    (cgs inside; plain-number times in units of R₀/c)."""

    def __init__(self, blob: Blob, injection: Any, cooling: tuple[str, ...], t_esc: float,
                 exp: dict[str, Any], acc: dict[str, Any], gamma: Any, per_decade: float,
                 t_end: float) -> None:
        self.K = _backends.get("accurate")
        self.R0 = blob.radius.to_value("cm")
        self.B0 = blob.B.to_value("G")
        self.tlc = self.R0 / k.C
        self.beta, self.m = float(exp["beta"]), float(exp["m"])
        self.t_esc = t_esc * self.tlc                                  # s
        self.t_sys = None if acc["systematic"] is None else acc["systematic"] * self.tlc
        self.t_acc = None if acc["stochastic"] is None else acc["stochastic"] * self.tlc
        self.q, self.a = float(acc["q"]), float(acc["a"])
        self.cooling = cooling
        self.injection = injection
        self._work = blob.copy()
        self._lines = self._external_lines(blob) if "external" in cooling else []
        dists = [blob.electrons] + ([injection.electrons] if injection is not None else [])
        self.g = self._grid(dists, gamma, per_decade, t_end)
        self.w = scheme_weights(self.g)
        self.N0 = self._initial(blob)
        # The external fields do not change while the blob neither moves nor
        # changes speed: their losses are computed once.
        self._external = (sum((line_cooling(self.g, lines, self.K) for lines in self._lines),
                              np.zeros_like(self.g)) if self._lines else None)
        if injection is not None:
            e = injection.electrons
            src = e.grid(max(e.default_grid_points, 200))
            shape = cell_average(self.g, src, np.asarray(e.shape(src), dtype=float))
            lum = injection.luminosity.to_value("erg/s")
            denom = k.MEC2 * np.sum(self.g * shape * self.w)
            self.q_shape = shape * (lum / denom if denom > 0.0 else 0.0)   # per s per γ
            self.profile, self.breaks, self.profile_scale = injection._bind(self.tlc)
        else:
            self.q_shape = np.zeros_like(self.g)
            self.profile, self.breaks, self.profile_scale = (lambda t: 0.0 * t), [], math.inf

    # --- geometry ------------------------------------------------------------
    def radius(self, t_rc: float) -> float:
        return self.R0 * (1.0 + self.beta * t_rc)

    def field(self, t_rc: float) -> float:
        return self.B0 * (1.0 + self.beta * t_rc) ** (-self.m)

    def volume(self, t_rc: float) -> float:
        return 4.0 / 3.0 * math.pi * self.radius(t_rc) ** 3

    # --- set-up ----------------------------------------------------------------
    def _grid(self, dists: list[Any], gamma: Any, per_decade: float, t_end: float) -> Array:
        if gamma is not None:
            g = np.asarray(gamma, dtype=float)
            if g.ndim != 1 or g.size < 8 or not np.all(np.diff(g) > 0.0) or g[0] < 1.0:
                raise ValueError("gamma must be an increasing 1-D grid of >= 8 points >= 1")
            return g
        lo = min(d.gamma_min for d in dists)
        hi = max(d.gamma_max for d in dists)
        # The Thomson loss coefficient b (γ̇ = bγ²) of the field and the external
        # fields, and the adiabatic rate: the lowest γ the electrons reach.
        b = k.THOMSON_LOSS * self.B0**2 / (8.0 * math.pi) if "synchrotron" in self.cooling else 0.0
        if "external" in self.cooling:
            b += k.THOMSON_LOSS * sum(float(np.sum(lines[1])) for lines in self._lines)
        if "ssc" in self.cooling:
            b *= 4.0          # self-Compton is not known before the run; a margin
        t = t_end * self.tlc
        reach = lo / (1.0 + b * lo * t) * math.exp(-self.beta * t_end)
        # Two grid spacings beyond the distributions, so that none ends on the
        # last node (whose cell would reach out of the grid), and room for what
        # acceleration does: e^(t/t_sys) of systematic, a decade either way of
        # stochastic acceleration.
        margin = 10.0 ** (2.0 / per_decade)
        bottom = max(1.0, min(0.5 * reach, lo / margin))
        hi *= margin
        if self.t_sys is not None:
            hi *= min(1e4, 3.0 * math.exp(t_end * self.tlc / self.t_sys))
        if self.t_acc is not None:
            bottom, hi = max(1.0, bottom / 10.0), hi * 10.0
        n = max(8, int(math.ceil(math.log10(hi / bottom) * per_decade)) + 1)
        g = np.geomspace(bottom, hi, n)
        kinks = sorted({x for d in dists for x in (d.gamma_min, d.gamma_max, *d._kinks())})
        dl = math.log(g[1] / g[0])
        keep = [x for x in g if all(abs(math.log(x / c)) > 0.3 * dl for c in kinks)]
        return np.unique(np.concatenate([keep, [c for c in kinks if bottom <= c <= hi]]))

    def _initial(self, blob: Blob) -> Array:
        g0, n0 = blob.electron_distribution()
        n0 = n0.to_value("cm-3")
        return cell_average(self.g, g0, n0) * self.volume(0.0)

    def _external_lines(self, blob: Blob) -> list[tuple[Array, Array]]:
        """Each external field seen from the blob at its distance r with its
        Γ, as isotropic lines (ν' [Hz], U' [erg cm⁻³]): the beams of the field
        summed over directions (electrons isotropic in the blob frame lose
        energy as in an isotropic field of that spectrum), the same as for
        ``Blob.electron_losses``."""
        s = blob.state()
        return [blob_frame_field(field, s.z, s.Gamma, s.r) for field in s.external]

    # --- rates -------------------------------------------------------------------
    def losses(self, t_rc: float, N: Array) -> dict[str, Array]:
        """Energy-loss rates −dγ/dt [s^-1] of each process at time t."""
        g, K = self.g, self.K
        out: dict[str, Array] = {}
        field = self.field(t_rc)
        if "synchrotron" in self.cooling:
            out["synchrotron"] = np.asarray(K.synchrotron_cooling(g, field))
        if "ssc" in self.cooling:
            out["ssc"] = self._ssc(t_rc, N, field)
        if self._external is not None:
            out["external"] = self._external
        if self.beta > 0.0:
            rate = self.beta * k.C / self.radius(t_rc)
            out["adiabatic"] = rate * (g * g - 1.0) / g
        return out

    def _ssc(self, t_rc: float, N: Array, field: float) -> Array:
        n = np.maximum(N, 0.0) / self.volume(t_rc)
        # The field comes from the Lorentz factors that hold electrons: below
        # 1e-16 of the largest γ²n they add nothing to it, and leaving them out
        # narrows the seed grid (after the injection stops, by decades).
        e = self.g**2 * n
        held = np.nonzero(e > 1e-16 * e.max())[0] if e.max() > 0.0 else np.empty(0, int)
        if held.size < 2:
            return np.zeros_like(self.g)
        part = slice(max(held[0] - 1, 0), min(held[-1] + 2, self.g.size))
        g, n = self.g[part], n[part]
        work = self._work
        work.radius, work.B = self.radius(t_rc), field
        work.electrons = Tabulated(g, n)
        density = powerlaw_moment(g, n, 0.0)
        if not density > 0.0:
            return np.zeros_like(self.g)
        work.density = density
        nu, u_nu = work.seed_field()
        return np.asarray(self.K.compton_cooling(self.g, nu.value, u_nu.value))

    def gains(self) -> tuple[Array, Array, Array]:
        """(systematic gain γ/t_sys, stochastic drift A + dD/dγ, D) [s^-1]; the
        mean energy gain of stochastic acceleration is ⟨A + dD/dγ⟩."""
        g = self.g
        sys_gain = g / self.t_sys if self.t_sys is not None else np.zeros_like(g)
        if self.t_acc is None:
            return sys_gain, np.zeros_like(g), np.zeros_like(g)
        d = g**self.q / (2.0 * self.t_acc)
        return sys_gain, (self.a + self.q) * d / g, d

    # --- the run -----------------------------------------------------------------
    def run(self, out_times: Array, t_end: float,
            accuracy: float) -> tuple[Array, Array, dict[str, Array]]:
        if not 0.0 < accuracy <= 0.5:
            raise ValueError(f"accuracy must lie in (0, 0.5], got {accuracy}")
        tlc, g, w = self.tlc, self.g, self.w
        dg = np.diff(g)
        sys_gain, sto_drift, diff = self.gains()
        # The step's D is twice the diffusion coefficient of ∂/∂γ(D ∂N/∂γ); its own
        # drift term dD/dγ/2 is taken back out of the losses given to it.
        d_step = 2.0 * diff + _D_FLOOR
        t_esc_step = self.t_esc if math.isfinite(self.t_esc) else 1e300
        bound = [self.t_esc, self.profile_scale * tlc]
        bound += [x for x in (self.t_sys, self.t_acc) if x is not None]
        if self.beta > 0.0:
            bound.append(self.R0 / (self.beta * k.C))
        h_max = min(accuracy * min(bound), t_end * tlc / 10.0)
        land = np.unique(np.concatenate([out_times, [b for b in self.breaks if 0 < b < t_end],
                                         [t_end]])) * tlc
        tol = 0.5 * accuracy * accuracy

        def advance(N0: Array, t0: float, step: float, gdot: Array, edges: dict[str, Array],
                    sys_edge: Array) -> tuple[Array, dict[str, float]]:
            """One backward-Euler step and the energy it moves [erg]."""
            t_rc = t0 / tlc
            f = float(np.dot(_GL_W, self.profile(t_rc + _GL_X * step / tlc)))
            Q = f * self.q_shape
            new = np.asarray(ostrel.fp_findif_difu(step, g, N0, gdot, d_step, Q,
                                                   t_esc_step, tlc))
            # Energy moved through each edge by each drift, upwind node's N.
            net = 0.5 * (gdot[1:] + gdot[:-1]) + 0.5 * (d_step[1:] - d_step[:-1]) / dg
            up = np.where(net > 0.0, new[1:], new[:-1])
            inc = dict.fromkeys(names, 0.0)
            for name, rate in edges.items():
                inc[name] = step * k.MEC2 * float(np.sum(rate * up * dg))
            inc["accelerated"] = step * k.MEC2 * (
                float(np.sum(sys_edge * up * dg))
                + float(np.sum(sto_drift * new * w)))
            inc["injected"] = step * k.MEC2 * float(np.sum(g * Q * w))
            if math.isfinite(self.t_esc):
                inc["escaped"] = step / self.t_esc * k.MEC2 * float(np.sum(g * new * w))
            return new, inc

        t, N = 0.0, self.N0.copy()
        h = 0.01 * h_max
        times, states = [0.0], [N.copy()]
        names = ("injected", "escaped", "synchrotron", "ssc", "external", "adiabatic",
                 "accelerated")
        acc = dict.fromkeys(names, 0.0)
        budget: dict[str, list[float]] = {name: [0.0] for name in names}
        budget["held"] = [k.MEC2 * float(np.sum(g * N * w))]
        for target in land:
            while t < target * (1.0 - 1e-14):
                rest = target - t
                step = rest if rest <= 1.2 * h else (0.5 * rest if rest < 2.0 * h else h)
                landed, short = step == rest, step < h
                loss = self.losses(t / tlc, N)
                drift = sum(loss.values(), np.zeros_like(g)) - sys_gain - sto_drift
                down = 0.5 * (drift[1:] + drift[:-1]) + 0.5 * np.diff(d_step) / dg > 0.0
                c = _edge_factors(g, N, down)
                edges = {name: 0.5 * (rate[1:] + rate[:-1]) * c for name, rate in loss.items()}
                sys_edge = 0.5 * (sys_gain[1:] + sys_gain[:-1]) * c
                sto_edge = 0.5 * (sto_drift[1:] + sto_drift[:-1])
                gdot = _nodes_for_edges(sum(edges.values(), np.zeros_like(dg))
                                        - sys_edge - sto_edge)
                # One step and two half steps with the same rates: their difference
                # is the error of the first order, and 2 N_half − N_full removes it.
                full, inc_f = advance(N, t, step, gdot, edges, sys_edge)
                half, inc_1 = advance(N, t, 0.5 * step, gdot, edges, sys_edge)
                half, inc_2 = advance(half, t + 0.5 * step, 0.5 * step, gdot, edges, sys_edge)
                big = np.maximum(np.maximum(half, N), 0.0)
                weight = g * g * big
                sig = (weight >= 1e-4 * max(float(weight.max()), 1e-300)) & (big > 0.0)
                err = float(np.max(np.abs(half - full)[sig] / big[sig])) if np.any(sig) else 0.0
                factor = 2.0 if err == 0.0 else min(2.0, max(0.25, math.sqrt(tol / err)))
                if err > 4.0 * tol and step > 1e-6 * h_max:
                    h = step * factor                       # refused: again, shorter
                    continue
                # A step cut short to land on a time does not shrink the next one.
                h = min(h_max, max(h, step * factor) if (short and err <= tol) else step * factor)
                N = np.maximum(2.0 * half - full, 0.0)
                for name in names:
                    acc[name] += 2.0 * (inc_1[name] + inc_2[name]) - inc_f[name]
                t = target if landed else t + step
                times.append(t)
                states.append(N.copy())
                for name in names:
                    budget[name].append(acc[name])
                budget["held"].append(k.MEC2 * float(np.sum(g * N * w)))
        # Electrons that reach the lowest node leave the grid through its lower
        # edge, with energy the budget does not hold: say so.
        low = max(float(np.max(st[:2] * (g * w)[:2])) / max(float(np.sum(st * g * w)), 1e-300)
                  for st in states)
        if low > 1e-3:
            warnings.warn(f"electrons reach the bottom of the Lorentz-factor grid (γ = {g[0]:.3g}, "
                          f"{low:.1e} of the energy in its lowest two nodes): pass gamma= with a "
                          "lower start", RuntimeWarning, stacklevel=3)
        out = {name: np.asarray(values) for name, values in budget.items()}
        return np.asarray(times) / tlc, np.asarray(states), out
