"""Least-squares fit of a model's parameters to a measured SED.

The fit minimises χ² = Σ r_i² with the residuals in log ν F_ν,

    r_i = (log10 M(ν_i) − log10 F_i) / σ_i,
    σ_i = sqrt(s_i² + σ_sys²) / ln 10,

where s_i is the relative statistical error of point i (the mean of its lower
and upper errors over F_i) and σ_sys a relative systematic error added in
quadrature.  Its default, 10 %, stands for the cross-calibration of
instruments that observed at different times of a campaign (data taken over
months from radio to TeV, and the variability of the source in between);
with it a one-zone model that describes the data has χ²/dof of order one.

Parameters are found by name, as attribute paths of the model (``"B"``,
``"electrons.p2"``) and move within their bounds: on a logarithmic scale when
the bounds are positive and span a factor 10 or more, linearly otherwise.
The search is scipy's trust-region reflective least squares with a
finite-difference Jacobian; the uncertainties are the square roots of the
diagonal of (JᵀJ)⁻¹ at the solution, carried to the parameter's own scale
(not rescaled by χ²/dof).  The model is evaluated at the data's frequencies
only.
"""

from __future__ import annotations

import math
import sys
import time
from collections.abc import Mapping
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt
from astropy import units as u
from astropy.table import Table
from scipy import optimize

Array = npt.NDArray[np.float64]

__all__ = ["fit_sed", "FitResult", "DEFAULT_SYSTEMATICS"]

#: Relative systematic error added in quadrature to every point.
DEFAULT_SYSTEMATICS = 0.10


@dataclass
class FitResult:
    """Outcome of :func:`fit_sed`.

    params, errors : best-fit values and 1σ uncertainties by parameter name
        (Quantities for dimensional parameters)
    chi2, dof : χ² at the solution and the degrees of freedom (points − free
        parameters)
    model : a copy of the model with the best-fit values
    at_bound : names of parameters that ended on one of their bounds (their
        uncertainty is not meaningful)
    residuals : (log10 M − log10 F) at the data points
    sigma : the error of log10 F at each point, statistical and systematic
        (residuals / sigma are the normalised residuals)
    """

    params: dict[str, Any]
    errors: dict[str, Any]
    chi2: float
    dof: int
    model: Any
    success: bool
    message: str
    nfev: int
    elapsed: float
    at_bound: list[str]
    residuals: Array
    sigma: Array
    covariance: Array
    systematics: float
    data: Table = field(repr=False)

    @property
    def reduced_chi2(self) -> float:
        return self.chi2 / self.dof if self.dof > 0 else math.nan

    def summary(self) -> str:
        """The best-fit parameters with uncertainties, χ²/dof and the time."""
        lines = []
        width = max(len(n) for n in self.params)
        for name, value in self.params.items():
            err = self.errors[name]
            unit = ""
            if isinstance(value, u.Quantity):
                unit = f" {value.unit.to_string()}"
                value, err = value.value, err.value
            flag = "  (at bound)" if name in self.at_bound else ""
            lines.append(f"  {name:<{width}} = {value:11.4g} ± {err:.2g}{unit}{flag}")
        lines.append(f"  chi2/dof = {self.chi2:.1f}/{self.dof} = {self.reduced_chi2:.2f}  "
                     f"(systematic {100 * self.systematics:.0f} % in quadrature)")
        lines.append(f"  {self.nfev} model evaluations in {self.elapsed:.1f} s"
                     + ("" if self.success else f"; not converged: {self.message}"))
        return "\n".join(lines)


def _resolve(model: Any, path: str) -> tuple[Any, str]:
    """The object holding the parameter at ``path`` and its attribute name."""
    obj = model
    parts = path.split(".")
    for part in parts[:-1]:
        if part.startswith("_") or not hasattr(obj, part):
            raise ValueError(f"free: {path!r} is not a parameter of the model")
        obj = getattr(obj, part)
    name = parts[-1]
    allowed = getattr(obj, "parameters", None)
    if allowed is None:
        allowed = tuple(getattr(type(obj), "_UNITS", {})) + ("doppler", "z", "Gamma")
    if name not in allowed:
        raise ValueError(f"free: {path!r} is not a parameter of the model "
                         f"(parameters of {type(obj).__name__}: {', '.join(allowed)})")
    return obj, name


class _Parameter:
    """One free parameter: where it lives, its unit, bounds and scale."""

    def __init__(self, model: Any, path: str, bounds: Any) -> None:
        self.path = path
        self.obj, self.name = _resolve(model, path)
        current = getattr(self.obj, self.name)
        self.unit = current.unit if isinstance(current, u.Quantity) else None
        value = current.value if self.unit is not None else float(current)
        try:
            lo, hi = bounds
        except (TypeError, ValueError):
            raise ValueError(f"free[{path!r}]: bounds must be a pair (low, high), "
                             f"got {bounds!r}") from None
        lo, hi = (self._plain(path, b) for b in (lo, hi))
        if not lo < hi:
            raise ValueError(f"free[{path!r}]: the lower bound {lo} must be below the upper {hi}")
        self.log = lo > 0.0 and hi / lo >= 10.0
        self.lo_t, self.hi_t = (math.log10(lo), math.log10(hi)) if self.log else (lo, hi)
        self.start = self.to_unit(self._t(value))

    def _plain(self, path: str, b: Any) -> float:
        if isinstance(b, u.Quantity):
            if self.unit is None:
                b = b.to_value(u.dimensionless_unscaled)
            else:
                try:
                    b = b.to_value(self.unit)
                except u.UnitConversionError:
                    raise u.UnitConversionError(
                        f"free[{path!r}]: cannot convert the bound's unit {b.unit} "
                        f"to {self.unit}") from None
        return float(b)

    def _t(self, value: float) -> float:
        if self.log:
            return math.log10(value) if value > 0.0 else self.lo_t
        return value

    def to_unit(self, t: float) -> float:
        """Position in [0, 1] between the bounds, on the parameter's scale."""
        return min(1.0, max(0.0, (t - self.lo_t) / (self.hi_t - self.lo_t)))

    def value(self, x: float) -> float:
        t = self.lo_t + x * (self.hi_t - self.lo_t)
        return 10.0**t if self.log else t

    def derivative(self, x: float) -> float:
        """d(value)/dx."""
        span = self.hi_t - self.lo_t
        return self.value(x) * math.log(10.0) * span if self.log else span

    def set(self, x: float) -> None:
        v = self.value(x)
        setattr(self.obj, self.name, v * self.unit if self.unit is not None else v)

    def quantity(self, v: float) -> Any:
        return v * self.unit if self.unit is not None else v


def _data_arrays(data: Table) -> tuple[Array, Array, Array]:
    missing = [c for c in ("frequency", "nuFnu", "nuFnu_err_low", "nuFnu_err_high")
               if c not in data.colnames]
    if missing:
        raise ValueError(f"data: missing columns {missing} (read it with read_sed)")

    def col(name: str, unit: u.UnitBase) -> Array:
        c = data[name]
        q = c.quantity if getattr(c, "unit", None) is not None else np.asarray(c) * unit
        return np.asarray(q.to_value(unit, equivalencies=u.spectral()), dtype=float)

    nufnu_unit = u.erg / (u.cm**2 * u.s)
    nu = col("frequency", u.Hz)
    f = col("nuFnu", nufnu_unit)
    rel = 0.5 * (col("nuFnu_err_low", nufnu_unit) + col("nuFnu_err_high", nufnu_unit)) / f
    if not (np.all(f > 0.0) and np.all(nu > 0.0) and np.all(np.isfinite(rel)) and np.all(rel >= 0)):
        raise ValueError("data: frequencies and fluxes must be positive and errors non-negative")
    return nu, f, rel


class _Progress:
    """A one-line progress report on standard error, at most 5 times a second."""

    def __init__(self, enabled: bool) -> None:
        self.enabled = enabled
        self.count = 0
        self.best = math.inf
        self.t0 = time.perf_counter()
        self.last = 0.0

    def update(self, chi2: float) -> None:
        self.count += 1
        self.best = min(self.best, chi2)
        now = time.perf_counter()
        if self.enabled and now - self.last > 0.2:
            self.last = now
            sys.stderr.write(f"\r  fitting: {self.count:4d} model evaluations, "
                             f"best chi2 {self.best:10.2f}, {now - self.t0:5.1f} s")
            sys.stderr.flush()

    def close(self) -> None:
        if self.enabled:
            sys.stderr.write("\r" + " " * 72 + "\r")
            sys.stderr.flush()


def fit_sed(model: Any, data: Table, free: Mapping[str, Any],
            systematics: float = DEFAULT_SYSTEMATICS, kernels: str = "accurate",
            progress: bool = True, max_nfev: int | None = 400) -> FitResult:
    """Fit the named parameters of ``model`` to the SED ``data``.

    model : a model with ``sed(nu, kernels=...)`` and ``copy()`` (a Blob);
        it is not changed: the fit works on a copy, returned as
        ``result.model``.
    data : Table with ``frequency``, ``nuFnu``, ``nuFnu_err_low`` and
        ``nuFnu_err_high`` (as from :func:`read_sed`); select rows before
        the call to leave points out.
    free : {attribute path: (low, high)}, bounds as numbers in the unit of the
        parameter's current value or as Quantities.  The fit starts from the
        model's current values (moved inside the bounds).
    systematics : relative error added in quadrature to every point.
    progress : report the progress on standard error.

    Returns a :class:`FitResult`.  See the module docstring for the method.
    """
    if not free:
        raise ValueError("free: give at least one parameter to fit")
    if not (math.isfinite(systematics) and systematics >= 0.0):
        raise ValueError(f"systematics must be a non-negative number, got {systematics}")
    work = model.copy()
    params = [_Parameter(work, path, bounds) for path, bounds in free.items()]
    nu, f, rel = _data_arrays(data)
    sigma = np.sqrt(rel**2 + systematics**2) / math.log(10.0)
    if not np.all(sigma > 0.0):
        raise ValueError("data: a point without error needs systematics > 0")
    log_f = np.log10(f)
    nu_u, where = np.unique(nu, return_inverse=True)   # evaluate each frequency once
    floor = 1e-30 * f
    prog = _Progress(progress)

    def residuals(x: Array) -> Array:
        for p, xi in zip(params, x):
            p.set(float(xi))
        m = work.sed(nu_u * u.Hz, kernels=kernels).to_value(u.erg / (u.cm**2 * u.s))[where]
        r = (np.log10(np.maximum(m, floor)) - log_f) / sigma
        prog.update(float(r @ r))
        return r

    x0 = np.array([p.start for p in params])
    # Start strictly inside the box, where the reflective steps are defined.
    x0 = np.clip(x0, 1e-3, 1.0 - 1e-3)
    t0 = time.perf_counter()
    try:
        sol = optimize.least_squares(residuals, x0, bounds=(0.0, 1.0), method="trf",
                                     diff_step=1e-4, x_scale=1.0, max_nfev=max_nfev)
    finally:
        prog.close()
    elapsed = time.perf_counter() - t0
    r = residuals(sol.x)
    chi2 = float(r @ r)
    jac = np.asarray(sol.jac)
    cov_x = np.linalg.pinv(jac.T @ jac)
    scale = np.array([p.derivative(float(xi)) for p, xi in zip(params, sol.x)])
    cov = cov_x * np.outer(scale, scale)
    values, errors, at_bound = {}, {}, []
    for i, (p, xi) in enumerate(zip(params, sol.x)):
        values[p.path] = p.quantity(p.value(float(xi)))
        errors[p.path] = p.quantity(abs(math.sqrt(max(cov[i, i], 0.0))))
        if xi <= 1e-6 or xi >= 1.0 - 1e-6:
            at_bound.append(p.path)
    return FitResult(params=values, errors=errors, chi2=chi2, dof=len(f) - len(params),
                     model=work, success=bool(sol.success), message=str(sol.message),
                     nfev=prog.count, elapsed=elapsed, at_bound=at_bound,
                     residuals=r * sigma, sigma=sigma, covariance=cov,
                     systematics=systematics, data=data)
