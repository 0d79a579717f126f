"""Least-squares fit of a model's parameters to a measured SED.

The fit minimises the χ² of :mod:`ostrel_models.likelihood`: Gaussian in
log ν F_ν with asymmetric errors and a relative systematic in quadrature,
and one-sided terms for upper limits.

Parameters are named as in ``model.parameters`` (``"B"``, ``"electrons.p2"``,
``"external[0].energy_density"``) and move within finite bounds, on a
logarithmic scale for the parameters whose ``scale`` is ``"log"``, linearly
otherwise.  The search is scipy's trust-region reflective least squares with
a finite-difference Jacobian.  The uncertainties are the square roots of the
diagonal of (JᵀJ)⁻¹ at the solution, carried to the parameter's own unit
(not rescaled by χ²/dof); a parameter on a bound, or one the data do not
constrain (a column of J that vanishes, or a singular JᵀJ), gets none and is
named in ``result.at_bound`` / ``result.unconstrained``.  On request the fit
also gives profile-likelihood intervals: for a named parameter the values
where χ², minimised over the others, rises by 1 above its minimum.
The model is evaluated at the data's frequencies only.
"""

from __future__ import annotations

import math
import sys
import time
from collections.abc import Iterable
from typing import Any

import numpy as np
import numpy.typing as npt
from astropy.table import Table
from scipy import optimize

from ._free import FreeParameter, free_parameters
from .likelihood import DEFAULT_SYSTEMATICS, SEDLikelihood
from .results import FitResult

Array = npt.NDArray[np.float64]

__all__ = ["fit_sed", "FitResult", "DEFAULT_SYSTEMATICS"]

#: A parameter whose full range between its bounds moves the normalised
#: residuals by less than this (in σ, root of the summed squares) is not
#: constrained by the data.
_INSENSITIVE = 1e-3
#: Condition number of the column-normalised Jacobian above which the free
#: parameters are degenerate (a combination of them leaves χ² unchanged).
_DEGENERATE = 1e7


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


class _Problem:
    """The residuals as a function of the free parameters' positions x in [0, 1]."""

    def __init__(self, model: Any, params: list[FreeParameter], like: SEDLikelihood,
                 kernels: str, progress: _Progress) -> None:
        self.model, self.params, self.like = model, params, like
        self.kernels, self.progress = kernels, progress

    def set(self, x: Array, fixed: dict[int, float] | None = None) -> None:
        fixed = fixed or {}
        it = iter(x)
        for i, p in enumerate(self.params):
            p.set_t(fixed[i] if i in fixed else p.t_of_x(float(next(it))))

    def residuals(self, x: Array, fixed: dict[int, float] | None = None) -> Array:
        self.set(x, fixed)
        m = self.like.model_flux(self.model, self.kernels)
        if not np.all(np.isfinite(m)):
            values = ", ".join(f"{p.name}={p.param.raw:.6g}" for p in self.params)
            raise ValueError(f"model: non-finite ν F_ν at {values}")
        r = self.like.residuals(m)
        self.progress.update(float(r @ r))
        return r


def _solve(problem: _Problem, x0: Array, max_nfev: int | None,
           fixed: dict[int, float] | None = None) -> Any:
    # Start strictly inside the box, where the reflective steps are defined.
    x0 = np.clip(x0, 1e-3, 1.0 - 1e-3)
    return optimize.least_squares(lambda x: problem.residuals(x, fixed), x0, bounds=(0.0, 1.0),
                                  method="trf", diff_step=1e-4, x_scale=1.0, max_nfev=max_nfev)


def _covariance(jac: Array, params: list[FreeParameter], x: Array, skip: set[int]
                ) -> tuple[Array, list[int], list[str]]:
    """Covariance of t (the parameters' own scales) from the Jacobian in x,
    the indices the data do not constrain, and notes saying why."""
    n = len(params)
    span = np.array([p.hi_t - p.lo_t for p in params])
    norms = np.linalg.norm(jac, axis=0)
    loose, notes = [], []
    for i in range(n):
        if i not in skip and not norms[i] > _INSENSITIVE:
            loose.append(i)
            notes.append(f"{params[i].name}: moving it across its bounds changes the "
                         "residuals by less than 1e-3 σ")
    use = [i for i in range(n) if i not in skip and i not in loose]
    cov = np.full((n, n), np.nan)
    if use:
        jn = jac[:, use] / norms[use]
        _, s, vt = np.linalg.svd(jn, full_matrices=False)
        if s[0] == 0.0 or s[-1] < s[0] / _DEGENERATE:
            small = vt[s < s[0] / _DEGENERATE]
            involved = [use[k] for k in range(len(use)) if np.any(np.abs(small[:, k]) > 0.1)]
            loose.extend(involved)
            notes.append("degenerate: χ² does not change along a combination of "
                         + ", ".join(params[i].name for i in involved))
            use = [i for i in use if i not in involved]
            if use:
                jn = jac[:, use] / norms[use]
        if use:
            inv = np.linalg.inv(jn.T @ jn)
            scale = span[use] / norms[use]             # x-norm units → t
            cov[np.ix_(use, use)] = inv * np.outer(scale, scale)
    return cov, loose, notes


def fit_sed(model: Any, data: Table, free: Any = None,
            systematics: float = DEFAULT_SYSTEMATICS, kernels: str = "accurate",
            progress: bool = True, max_nfev: int | None = 400,
            profile: bool | Iterable[str] | None = None) -> FitResult:
    """Fit the free parameters of ``model`` to the SED ``data``.

    model : a model with ``parameters``, ``sed(nu, kernels=...)`` and
        ``copy()`` (a Blob); it is not changed: the fit works on a copy,
        returned as ``result.model``.  The fit starts from its current
        values (moved inside the bounds).
    data : Table with ``frequency``, ``nuFnu``, and the errors and
        ``upper_limit`` columns of :func:`~ostrel_models.read_sed`; masked
        rows are dropped.  Select rows before the call to leave points out.
    free : None (the parameters not frozen, ``model.parameters.free_names``,
        within their own bounds), a list of names, or {name: (low, high) or
        None}, bounds as numbers in the parameter's unit or as Quantities.
    systematics : relative error added in quadrature to every point, a
        fraction in [0, 1).
    kernels : the kernel set of ``model.sed``.
    progress : report the progress on standard error.
    profile : True, or names of free parameters, for profile-likelihood
        intervals (Δχ² = 1) in ``result.intervals``; each costs some tens of
        fits of the other parameters.

    Raises ValueError, naming the problem, for empty data, fewer detected
    points than free parameters plus one, a systematic outside [0, 1),
    non-finite or non-positive data, unknown parameters, parameters the SED
    does not depend on, and bad bounds.  Returns a :class:`FitResult`; see
    the module docstring for the method.
    """
    like = SEDLikelihood(data, systematics)
    work = model.copy()
    params = free_parameters(work, free)
    dof = like.n_detections - len(params)
    if dof < 1:
        raise ValueError(f"data: {like.n_detections} detected points for {len(params)} free "
                         f"parameters leave {dof} degrees of freedom; a fit needs at least 1")
    names = [p.name for p in params]
    if profile is True:
        profiled = names
    else:
        profiled = list(profile or [])
        unknown = [n for n in profiled if n not in names]
        if unknown:
            raise ValueError(f"profile: {unknown} are not free parameters of this fit ({names})")
    prog = _Progress(progress)
    problem = _Problem(work, params, like, kernels, prog)
    x0 = np.array([p.x_of_t(p.start_t) for p in params])
    t0 = time.perf_counter()
    try:
        sol = _solve(problem, x0, max_nfev)
        x = np.asarray(sol.x)
        r = problem.residuals(x)
        chi2 = float(r @ r)
        at = [i for i, xi in enumerate(x) if xi <= 1e-6 or xi >= 1.0 - 1e-6]
        cov_t, loose, notes = _covariance(np.asarray(sol.jac), params, x, set(at))
        intervals = {n: _profile(problem, params, x, chi2, names.index(n), cov_t, max_nfev)
                     for n in profiled}
    finally:
        prog.close()
    problem.set(x)                                 # leave the model at the solution
    elapsed = time.perf_counter() - t0
    m = like.model_flux(work, kernels)
    values, errors = {}, {}
    deriv = np.empty(len(params))
    for i, (p, xi) in enumerate(zip(params, x)):
        t = p.t_of_x(float(xi))
        deriv[i] = p.dvalue_dt(t)
        values[p.name] = p.quantity(p.value_of_t(t))
        errors[p.name] = p.quantity(deriv[i] * math.sqrt(cov_t[i, i])
                                    if cov_t[i, i] >= 0.0 else math.nan)
    cov = cov_t * np.outer(deriv, deriv)
    at_bound = [names[i] for i in at]
    unconstrained = [names[i] for i in loose]
    success = bool(sol.success) and not unconstrained
    message = str(sol.message)
    if sol.success and unconstrained:
        message = f"the data do not constrain {', '.join(unconstrained)}"
    return FitResult(params=values, errors=errors, chi2=chi2, dof=dof, model=work,
                     success=success, message=message, nfev=prog.count, elapsed=elapsed,
                     at_bound=at_bound, unconstrained=unconstrained,
                     residuals=np.log10(np.maximum(m, 1e-300)) - like.log_flux,
                     sigma=like.sigma(m), covariance=cov, systematics=like.systematics,
                     data=data[like.rows] if like.dropped else data, kernels=kernels,
                     bounds={p.name: (p.lo, p.hi) for p in params}, intervals=intervals,
                     constant=like.constant, notes=notes)


def _profile(problem: _Problem, params: list[FreeParameter], x_best: Array, chi2_min: float,
             i: int, cov_t: Array, max_nfev: int | None) -> tuple[Any, Any]:
    """The values of parameter i where the profile χ² reaches chi2_min + 1,
    one on each side of the best fit (None where it stays below up to the
    bound)."""
    p = params[i]
    others = [k for k in range(len(params)) if k != i]
    t_best = p.t_of_x(float(x_best[i]))
    start = x_best[others]

    def delta(t: float) -> float:
        if others:
            sol = _solve(problem, start, max_nfev, fixed={i: t})
            r = problem.residuals(sol.x, fixed={i: t})
        else:
            r = problem.residuals(np.empty(0), fixed={i: t})
        return float(r @ r) - chi2_min - 1.0

    span = p.hi_t - p.lo_t
    step0 = math.sqrt(cov_t[i, i]) if np.isfinite(cov_t[i, i]) and cov_t[i, i] > 0 else 0.05 * span
    step0 = min(max(step0, 1e-4 * span), 0.5 * span)
    out: list[Any] = []
    for sign in (-1.0, 1.0):
        edge = p.lo_t if sign < 0 else p.hi_t
        inner, step, found = t_best, step0, None
        while True:
            t = t_best + sign * step
            if (t - edge) * sign >= 0.0:
                t = edge
            d = delta(t)
            if d >= 0.0:
                found = optimize.brentq(delta, min(inner, t), max(inner, t), xtol=1e-3 * step0)
                break
            if t == edge:
                break
            inner, step = t, 2.0 * step
        out.append(None if found is None else p.quantity(p.value_of_t(found)))
    return out[0], out[1]
