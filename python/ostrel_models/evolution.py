"""The time-dependent blob: electrons injected, cooled, accelerated and let
escape, and the flare seen from Earth.

In the blob frame the number of electrons per unit Lorentz factor in the
whole blob, N(γ, t) = V n(γ, t), obeys

    ∂N/∂t = ∂/∂γ [ D ∂N/∂γ + (γ̇_loss − γ̇_sys − A) N ] − N/t_esc + V Q(γ, t),

with the energy losses γ̇_loss of synchrotron radiation, Compton scattering
of the blob's own synchrotron field as it evolves (Klein–Nishina losses of
the accurate kernels at every step) and of the external fields, and
adiabatic expansion; systematic acceleration γ̇_sys = γ/t_sys; stochastic
acceleration with momentum diffusion D = γ^q/(2 t_acc) and its drift
A = a D/γ (q = a = 2, hard-sphere scattering: D = γ²/(2 t_acc), A = γ/t_acc).
Working with N rather than n keeps the number of electrons fixed while the
blob expands.  Each step is one implicit Fokker–Planck step of the classic
module (``ostrel.fp_findif_difu``, backward Euler with Chang–Cooper fluxes).

Observer frame: t_obs = t (1 + z)/δ_D; the flux at t_obs adds the slices of
the sphere perpendicular to the line of sight, at depth x ∈ [0, 2R] with
weight ∝ x(2R − x), each seen as the blob was a time x/c earlier (blob
frame), i.e. delayed by x(1 + z)/(δ_D c) (Chiaberge & Ghisellini 1999, MNRAS
306, 551).  Before t = 0 the blob is taken to have held its initial state.
"""

from __future__ import annotations

import math
from collections.abc import Iterable, Mapping
from typing import Any

import numpy as np
import numpy.typing as npt
from astropy import units as u
from astropy.table import QTable

from . import _constants as k
from . import validation
from ._stepper import Stepper
from .blob import Blob
from .distributions import Tabulated, powerlaw_moment
from .injection import Injection, _time

Array = npt.NDArray[np.float64]

__all__ = ["evolve", "Evolution"]

COOLING = ("synchrotron", "ssc", "external")


def _output_times(times: Any, duration: float, light_crossing: float) -> Array:
    if times is None:
        return np.linspace(0.0, duration, 51)[1:]
    t = np.atleast_1d(_time("times", times, light_crossing)).astype(float)
    if t.ndim != 1 or t.size == 0:
        raise ValueError("times must be a non-empty one-dimensional sequence")
    if np.any(t < 0.0) or np.any(t > duration * (1.0 + 1e-12)):
        raise ValueError(f"times must lie in [0, duration = {duration:g} R/c]")
    d = np.diff(t)
    if np.any(d == 0.0):
        raise ValueError(f"times: duplicate output time {t[1:][d == 0.0][0]:g} R/c")
    if np.any(d < 0.0):
        raise ValueError("times must be in increasing order")
    return np.minimum(t, duration)


def _options(name: str, value: Any, keys: dict[str, float | None]) -> dict[str, float | None]:
    """A mapping of named numbers with defaults; a plain number sets the first key."""
    out = dict(keys)
    if value is None:
        return out
    if not isinstance(value, Mapping):
        value = {next(iter(keys)): value}
    for key, x in value.items():
        if key not in keys:
            raise ValueError(f"{name}: unknown key {key!r}; expected one of {sorted(keys)}")
        out[key] = x
    return out


def evolve(blob: Blob, injection: Injection | None, duration: Any, escape_time: Any = math.inf,
           times: Any = None, cooling: Iterable[str] = COOLING, adiabatic: Any = None,
           acceleration: Any = None, *, gamma: Any = None, per_decade: float = 16.0,
           accuracy: float = 0.1) -> Evolution:
    """Evolve the electrons of ``blob`` under injection, cooling, acceleration
    and escape.

    Parameters
    ----------
    blob : Blob
        The blob at t = 0: geometry, field, Doppler factor, redshift, external
        fields and its electrons (``density=0`` for an empty blob).
    injection : Injection or None
        Electrons injected while the blob evolves.
    duration, escape_time : float (units of R/c) or Quantity of time
        Blob-frame duration of the run and escape time (inf: none).
    times : sequence, optional
        Output times in [0, duration], strictly increasing; by default 50
        evenly spaced.  The integration lands exactly on each.
    cooling : iterable of "synchrotron", "ssc", "external"
        The radiative losses to include.  "external": Klein–Nishina losses on
        every external field as ``Blob.electron_losses`` has them, the fields
        of ``agn`` seen from the blob's distance ``r`` (which stays fixed).
    adiabatic : None, float or mapping {"beta": β_exp, "m": m}
        Expansion R(t) = R₀ + β_exp c t with B ∝ R^−m (m = 1 by default): the
        adiabatic loss γ̇ = (Ṙ/R)(γ² − 1)/γ, and B and R of every snapshot.
    acceleration : None, or mapping with "systematic" (t_sys), "stochastic"
        (t_acc), "q", "a" (times in R/c or Quantities; a plain number is
        t_acc of stochastic acceleration), see the module docstring.
    gamma : array, optional
        The Lorentz-factor grid; by default ``per_decade`` points per decade
        from below the lowest Lorentz factor the electrons cool to, over the
        range of the initial and injected electrons, with their limits and
        breaks on the grid.
    accuracy : float
        The step is about ``accuracy`` times the time on which N changes
        where the electrons hold their energy (its first-order error,
        ~accuracy²/2, is measured by step doubling and removed by Richardson
        extrapolation), at most ``accuracy`` times the escape, acceleration
        and expansion times and the injection's time scale, and at most a
        tenth of the run (see ``ostrel_models._stepper``).

    Returns
    -------
    Evolution
    """
    if not isinstance(blob, Blob):
        raise TypeError(f"blob must be a Blob, got {type(blob).__name__}")
    blob.validate()
    if injection is not None and not isinstance(injection, Injection):
        raise TypeError(f"injection must be an Injection or None, got {injection!r}")
    cooling = tuple(cooling)
    for name in cooling:
        if name not in COOLING:
            raise ValueError(f"cooling: unknown process {name!r}; expected some of {COOLING}")
    radius = blob.radius.to_value(u.cm)
    tlc = radius / k.C
    t_end = float(_time("duration", duration, tlc))
    if not t_end > 0.0:
        raise ValueError(f"duration must be positive, got {t_end} R/c")
    no_escape = not isinstance(escape_time, u.Quantity) and escape_time in (None, math.inf)
    t_esc = math.inf if no_escape else float(_time("escape_time", escape_time, tlc))
    if not t_esc > 0.0:
        raise ValueError(f"escape_time must be positive, got {t_esc} R/c")
    out_times = _output_times(times, t_end, tlc)
    exp = _options("adiabatic", adiabatic, {"beta": 0.0, "m": 1.0})
    if not 0.0 <= float(exp["beta"]) < 1.0:                      # type: ignore[arg-type]
        raise ValueError(f"adiabatic: beta must lie in [0, 1), got {exp['beta']}")
    acc = _options("acceleration", acceleration,
                   {"stochastic": None, "systematic": None, "q": 2.0, "a": 2.0})
    for key in ("stochastic", "systematic"):
        if acc[key] is not None:
            acc[key] = float(_time(f"acceleration {key}", acc[key], tlc))
            if not acc[key] > 0.0:                                 # type: ignore[operator]
                raise ValueError(f"acceleration: {key} time must be positive")
    stepper = Stepper(blob, injection, cooling, t_esc, exp, acc, gamma, per_decade, t_end)
    states_t, states_n, budget = stepper.run(out_times, t_end, accuracy)
    return Evolution(blob, stepper, out_times, states_t, states_n, budget)


class Evolution:
    """The result of ``evolve``: snapshots of the electrons, and the flare in
    the observer frame computed from them on request.

    Attributes
    ----------
    times, observer_times : Quantity [s]
        Blob-frame times of the snapshots and the observer times
        t (1 + z)/δ_D at which their light arrives (from the blob's near side).
    light_crossing_time : Quantity [s]
        R₀/c, the unit of plain-number times.
    gamma : array
        Lorentz-factor grid.
    n : Quantity [cm⁻³], shape (n_times, n_gamma)
        Electron density per unit γ at the snapshots.
    steps : int
        Time steps taken (each one whole and two half Fokker–Planck steps).
    """

    def __init__(self, blob: Blob, stepper: Stepper, out_times: Array, states_t: Array,
                 states_n: Array, budget: dict[str, Array]) -> None:
        self._blob = blob.copy()
        self._stepper = stepper
        self._tlc = stepper.tlc
        self._t = out_times * self._tlc                      # s
        self._states_t = states_t * self._tlc                # every step, s
        self._states_n = states_n                            # N = V n, per unit γ
        self._budget = budget
        self.gamma = stepper.g.copy()
        self.steps = len(states_t) - 1
        at = np.searchsorted(self._states_t, self._t * (1 - 1e-12))
        self._snap = at
        vol = np.array([stepper.volume(t) for t in out_times])
        self.n = states_n[at] / vol[:, None] * u.cm**-3

    def __repr__(self) -> str:
        return (f"Evolution({self._t.size} snapshots to {self._t[-1] / self._tlc:.4g} R/c, "
                f"{self.steps} steps, {self.gamma.size} Lorentz factors "
                f"{self.gamma[0]:.3g}..{self.gamma[-1]:.3g})")

    @property
    def times(self) -> u.Quantity:
        return self._t * u.s

    @property
    def observer_times(self) -> u.Quantity:
        return self._t * (1.0 + self._blob.z) / self._blob.doppler * u.s

    @property
    def light_crossing_time(self) -> u.Quantity:
        return self._tlc * u.s

    def _state(self, t: float) -> Array:
        """N at blob-frame time t [s], linear in t between the steps taken."""
        ts = self._states_t
        if t <= ts[0]:
            return self._states_n[0]
        i = int(np.searchsorted(ts, t))
        if i >= ts.size:
            if t > ts[-1] * (1 + 1e-12):
                raise ValueError(f"t = {t / self._tlc:g} R/c is after the end of the run")
            return self._states_n[-1]
        if ts[i] == t:
            return self._states_n[i]
        w = (t - ts[i - 1]) / (ts[i] - ts[i - 1])
        return (1.0 - w) * self._states_n[i - 1] + w * self._states_n[i]

    def blob_at(self, t: Any) -> Blob:
        """A Blob with the electrons (and R, B) at blob-frame time t (R/c or
        a Quantity); between steps the electrons are interpolated linearly."""
        tr = float(_time("t", t, self._tlc))
        return self._blob_at_seconds(max(tr, 0.0) * self._tlc)

    def _blob_at_seconds(self, t: float) -> Blob:
        st = self._stepper
        radius, field = st.radius(t / self._tlc), st.field(t / self._tlc)
        b = self._blob.copy()
        b.radius, b.B = radius * u.cm, field * u.G
        n = np.maximum(self._state(t), 0.0) / st.volume(t / self._tlc)
        if np.any(n > 0.0):
            b.electrons = Tabulated(self.gamma, n)
            b.density = powerlaw_moment(self.gamma, n, 0.0) * u.cm**-3
        else:
            b.density = 0.0 * u.cm**-3
        return b

    def _seds_at(self, t_blob: Array, nu: Any, **kwargs: Any) -> Array:
        return np.array([self._blob_at_seconds(float(t)).sed(nu, **kwargs).value
                         for t in t_blob])

    def sed(self, nu: Any, smoothing: bool = True, **kwargs: Any) -> u.Quantity:
        """Observed ν F_ν [erg cm⁻² s⁻¹], shape (n_times, n_nu), at the
        observer times of the snapshots.

        nu : observed frequencies, as for ``Blob.sed``.
        smoothing : average over the light-travel delays across the sphere.
            The emission is computed at the steps taken (at least every
            R/(10c)) and taken linear in time between them; the average of
            that over the slices, weight x(2R − x), is exact.
        kwargs : passed to ``Blob.sed`` (component, kernels, ssa, gamma_gamma).
        """
        if not smoothing:
            return self._seds_at(self._t, nu, **kwargs) * (u.erg / u.cm**2 / u.s)
        reach = np.array([2.0 * self._stepper.radius(t / self._tlc) / k.C for t in self._t])
        sample = _sample_times(self._states_t, self._t, float(reach.max()),
                               self._tlc / 10.0)
        weights = _window_weights(sample, self._t, reach)
        s = self._seds_at(sample, nu, **kwargs)                  # (n_sample, n_nu)
        return weights @ s * (u.erg / u.cm**2 / u.s)

    def light_curve(self, band: Any, smoothing: bool = True, points: int = 24,
                    **kwargs: Any) -> tuple[u.Quantity, u.Quantity]:
        """Band-integrated flux ∫ F_ν dν [erg cm⁻² s⁻¹] against observer time.

        band : (lo, hi) as a Quantity in Hz, eV, keV, Å, ... (or plain Hz); hi
            may be inf or None, for the band above lo (up to the kinematic limit
            δ_D γ_max m_e c²/(1 + z) of the grid).
        points : frequencies across the band (log-spaced; trapezoid in ln ν).
        Returns (observer_times, flux).
        """
        return self.observer_times, self.light_curves([band], smoothing, points, **kwargs)[0]

    def light_curves(self, bands: Iterable[Any], smoothing: bool = True, points: int = 24,
                     **kwargs: Any) -> list[u.Quantity]:
        """The fluxes of several bands (as ``light_curve``), from one
        computation of the SEDs; a list of arrays over the observer times."""
        top = self._blob.doppler * self.gamma[-1] * k.MEC2 / k.H / (1.0 + self._blob.z)
        grids = []
        for band in bands:
            lo, hi = band[0], band[1]
            lo_hz = validation.real("band", lo, u.Hz, spectral=True, finite=False)
            hi_hz = top if hi is None else validation.real("band", hi, u.Hz, spectral=True,
                                                           finite=False)
            lo_hz, hi_hz = sorted((lo_hz, min(hi_hz, top) if math.isinf(hi_hz) else hi_hz))
            if not 0.0 < lo_hz < hi_hz:
                raise ValueError(f"band: need 0 < lo < hi, got {lo_hz:.4g} and {hi_hz:.4g} Hz")
            grids.append(np.geomspace(lo_hz, hi_hz, max(points, 2)))
        nufnu = self.sed(np.concatenate(grids), smoothing=smoothing, **kwargs).value
        out, start = [], 0
        for nu in grids:
            part = nufnu[:, start:start + nu.size]
            start += nu.size
            flux = np.sum(0.5 * (part[:, 1:] + part[:, :-1]) * np.diff(np.log(nu)), axis=1)
            out.append(flux * (u.erg / u.cm**2 / u.s))
        return out

    def energy_budget(self) -> QTable:
        """Blob-frame energy of the electrons [erg] at the snapshots: held, and
        since t = 0 injected, escaped, lost to each process (synchrotron, ssc,
        external, adiabatic) and gained by acceleration.

        initial + injected + accelerated = held + escaped + losses, to the
        accuracy of the scheme (the losses are the energy the Fokker–Planck
        fluxes move down the grid, the gains what they move up).
        """
        at = self._snap
        table = QTable()
        table["time"] = self.times
        table["observer_time"] = self.observer_times
        for name, values in self._budget.items():
            table[name] = values[at] * u.erg
        return table


def _window_weights(sample: Array, snaps: Array, reach: Array) -> Array:
    """Matrix W with (W S)_i the light-travel average at snapshot i of the
    emission S, linear in time between the sample times and S(0) before 0.

    The slice at depth x is seen at s = t − x/c; with T = 2R/c the weight is
    (t − s)(T − t + s), normalised by T³/6.  On each sample interval the
    integrand is a cubic in s, which two Gauss–Legendre points integrate
    exactly.
    """
    gx = np.array([-1.0, 1.0]) / math.sqrt(3.0)
    W = np.zeros((snaps.size, sample.size))
    for i, (t, T) in enumerate(zip(snaps, reach)):
        lo = t - T
        if lo < 0.0:                       # the part of the sphere seen before t = 0
            a, b = t, T                    # as depths x/c
            x = 0.5 * (a + b) + 0.5 * (b - a) * gx
            W[i, 0] += 0.5 * (b - a) * float(np.sum(x * (T - x)))
        for j in range(sample.size - 1):
            a, b = max(sample[j], lo), min(sample[j + 1], t)
            if a >= b:
                continue
            s = 0.5 * (a + b) + 0.5 * (b - a) * gx
            w = 0.5 * (b - a) * (t - s) * (T - t + s)
            f = (s - sample[j]) / (sample[j + 1] - sample[j])
            W[i, j] += float(np.sum(w * (1.0 - f)))
            W[i, j + 1] += float(np.sum(w * f))
        W[i] /= T**3 / 6.0
    return W


def _sample_times(steps: Array, snaps: Array, reach: float, spacing: float) -> Array:
    """Times at which the emission is computed for the light-travel average:
    t = 0, the snapshots and, inside the windows [t_i − reach, t_i], the steps
    taken (at most one per ``spacing``, or per quarter of t while t is
    shorter than 4 spacings), with gaps wider than ``spacing``
    filled evenly (the electrons there interpolated between steps)."""
    lo = snaps - reach
    keep = [0.0]
    for t in steps:
        # Early on, where the blob fills from its initial state and its
        # emission can change in any way, the steps are kept closer.
        if np.any((t >= lo) & (t <= snaps)) and t - keep[-1] >= min(spacing, 0.25 * t):
            keep.append(float(t))
    base = np.unique(np.concatenate([keep, snaps]))
    fill: list[float] = []
    for a, b in zip(base[:-1], base[1:]):
        inside = np.any((b >= lo) & (a <= snaps))
        if inside and b - a > 1.5 * spacing:
            m = int(math.ceil((b - a) / spacing))
            fill.extend(np.linspace(a, b, m + 1)[1:-1])
    return np.unique(np.concatenate([base, fill]))
