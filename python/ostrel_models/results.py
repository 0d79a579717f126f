"""The result of a least-squares fit of an SED, its summary and its file.

``FitResult.write("fit.ecsv")`` writes one row per free parameter (value,
1σ error, bounds, flags, profile-likelihood interval) with the fit's
statistics, the covariance, the data and the fitted model (when the model
can describe itself, ``model.to_dict()``) in the table's metadata;
``FitResult.read`` gives the result back.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import numpy as np
import numpy.typing as npt
from astropy import units as u
from astropy.table import Table

Array = npt.NDArray[np.float64]

__all__ = ["FitResult"]

_DATA_COLUMNS = ("frequency", "nuFnu", "nuFnu_err_low", "nuFnu_err_high", "instrument",
                 "upper_limit")


def _plain(q: Any) -> float:
    return float(q.value) if isinstance(q, u.Quantity) else float(q)


@dataclass
class FitResult:
    """Outcome of :func:`~ostrel_models.fit_sed`.

    params, errors : best-fit values and 1σ uncertainties by parameter name
        (Quantities for dimensional parameters).  The error is NaN where the
        data do not give one: for a parameter on a bound and for an
        unconstrained one.
    chi2, dof : χ² at the solution and the degrees of freedom (detected
        points − free parameters; upper limits are not counted)
    model : a copy of the model with the best-fit values
    success : the search converged and every parameter is constrained
    at_bound : names of the parameters that ended on one of their bounds
    unconstrained : names of the parameters the data do not constrain at the
        solution: the SED does not change with them over their bounds, or
        they are degenerate with others (the Jacobian is singular)
    residuals : (log10 M − log10 F) at the data points used, in dex
    sigma : σ of log10 F at each point, statistical and systematic, on the
        side of the data the model lies (residuals / sigma are the
        normalised residuals)
    covariance : covariance of the parameters in their units, from the
        Jacobian at the solution (NaN rows for the parameters above)
    intervals : {name: (low, high)} profile-likelihood 1σ intervals
        (Δχ² = 1) of the parameters asked for; a side is None when χ² does
        not rise by 1 before the bound
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
    unconstrained: list[str]
    residuals: Array
    sigma: Array
    covariance: Array
    systematics: float
    data: Table = field(repr=False)
    kernels: str = "accurate"
    bounds: dict[str, tuple[float, float]] = field(default_factory=dict)
    intervals: dict[str, tuple[Any, Any]] = field(default_factory=dict)
    constant: float = 0.0
    notes: list[str] = field(default_factory=list)
    # ``data``: the rows used (masked rows dropped), in the order of
    # ``residuals`` and ``sigma``.

    @property
    def reduced_chi2(self) -> float:
        return self.chi2 / self.dof if self.dof > 0 else math.nan

    @property
    def free(self) -> list[str]:
        """Names of the free parameters, in the order of the fit."""
        return list(self.params)

    def log_likelihood(self, model: Any = None) -> float:
        """ln L at the solution (or of ``model`` on the same data and
        systematic); see :mod:`ostrel_models.likelihood`."""
        if model is None:
            return -0.5 * self.chi2 + self.constant
        from .likelihood import log_likelihood
        return log_likelihood(model, self.data, self.systematics, kernels=self.kernels)

    def summary(self) -> str:
        """The best-fit parameters with uncertainties and flags, χ²/dof and the time."""
        lines = []
        width = max(len(n) for n in self.params)
        for name, value in self.params.items():
            err = self.errors[name]
            unit = ""
            if isinstance(value, u.Quantity):
                unit = f" {value.unit.to_string()}"
            v, e = _plain(value), _plain(err)
            if name in self.at_bound:
                lo, hi = self.bounds.get(name, (math.nan, math.nan))
                side = "lower" if abs(v - lo) <= abs(v - hi) else "upper"
                text = f"{v:11.4g}{unit}  at its {side} bound: no error (the best fit may lie beyond)"
            elif name in self.unconstrained:
                text = f"{v:11.4g}{unit}  unconstrained by the data: no error"
            else:
                text = f"{v:11.4g} ± {e:.2g}{unit}"
            if name in self.intervals:
                lo_i, hi_i = self.intervals[name]
                lo_s = "bound" if lo_i is None else f"{_plain(lo_i):.4g}"
                hi_s = "bound" if hi_i is None else f"{_plain(hi_i):.4g}"
                text += f"   profile 1σ: [{lo_s}, {hi_s}]"
            lines.append(f"  {name:<{width}} = {text}")
        lines.append(f"  chi2/dof = {self.chi2:.1f}/{self.dof} = {self.reduced_chi2:.2f}  "
                     f"(systematic {100 * self.systematics:.3g} % in quadrature)")
        lines.append(f"  {self.nfev} model evaluations in {self.elapsed:.1f} s"
                     + ("" if self.success else f"; not a usable fit: {self.message}"))
        lines.extend(f"  note: {n}" for n in self.notes)
        return "\n".join(lines)

    def plot(self, **kwargs: Any) -> Any:
        """The data, the fitted model and the residuals; see
        :func:`ostrel_models.plotting.plot_sed`."""
        from .plotting import plot_sed
        return plot_sed(self.data, self, **kwargs)

    # --- file ------------------------------------------------------------------

    def to_table(self) -> Table:
        names = list(self.params)
        rows = []
        for n in names:
            v, e = self.params[n], self.errors[n]
            unit = v.unit.to_string() if isinstance(v, u.Quantity) else "dimensionless"
            lo_b, hi_b = self.bounds.get(n, (math.nan, math.nan))
            lo_i, hi_i = self.intervals.get(n, (math.nan, math.nan))
            rows.append((n, _plain(v), _plain(e), unit, lo_b, hi_b, n in self.at_bound,
                         n in self.unconstrained,
                         math.nan if lo_i is None else _plain(lo_i),
                         math.nan if hi_i is None else _plain(hi_i)))
        t = Table(rows=rows, names=("name", "value", "error", "unit", "min", "max", "at_bound",
                                    "unconstrained", "profile_low", "profile_high"),
                  dtype=(str, float, float, str, float, float, bool, bool, float, float))
        t.meta["fit"] = dict(chi2=float(self.chi2), dof=int(self.dof),
                             systematics=float(self.systematics), kernels=self.kernels,
                             success=bool(self.success), message=self.message,
                             nfev=int(self.nfev), elapsed=float(self.elapsed),
                             constant=float(self.constant), notes=list(self.notes),
                             profiled=list(self.intervals),
                             covariance=np.asarray(self.covariance, float).tolist(),
                             residuals=np.asarray(self.residuals, float).tolist(),
                             sigma=np.asarray(self.sigma, float).tolist())
        data = {}
        for c in _DATA_COLUMNS:
            if c in self.data.colnames:
                col = self.data[c]
                values = col.filled(np.nan) if hasattr(col, "filled") and col.dtype.kind == "f" \
                    else col
                data[c] = dict(values=np.asarray(values).tolist(),
                               unit=None if col.unit is None else col.unit.to_string())
        t.meta["data"] = data
        to_dict = getattr(self.model, "to_dict", None)
        if callable(to_dict):
            t.meta["model"] = to_dict()
            t.meta["model_class"] = type(self.model).__name__
        try:
            from . import __version__
            t.meta["ostrel_models_version"] = __version__
        except ImportError:
            pass
        return t

    def write(self, path: str | Path, overwrite: bool = False) -> None:
        """Write the result to an ECSV file (see the module docstring)."""
        self.to_table().write(str(path), format="ascii.ecsv", overwrite=overwrite)

    @classmethod
    def read(cls, path: str | Path) -> FitResult:
        """A result written by :meth:`write`.  The model is rebuilt when the
        file holds its description; otherwise ``model`` is None."""
        t = Table.read(str(path), format="ascii.ecsv")
        meta = t.meta["fit"]
        params, errors, bounds, intervals = {}, {}, {}, {}
        at_bound, unconstrained = [], []
        for row in t:
            name, unit = str(row["name"]), str(row["unit"]).strip()
            scale = None if unit in ("dimensionless", "", "--") else u.Unit(unit)

            def q(x: float, scale: Any = scale) -> Any:
                return x * scale if scale is not None else float(x)
            params[name], errors[name] = q(row["value"]), q(row["error"])
            bounds[name] = (float(row["min"]), float(row["max"]))
            if row["at_bound"]:
                at_bound.append(name)
            if row["unconstrained"]:
                unconstrained.append(name)
            if name in meta.get("profiled", []):
                lo_i, hi_i = (None if not np.isfinite(x) else q(x)
                              for x in (row["profile_low"], row["profile_high"]))
                intervals[name] = (lo_i, hi_i)
        data = Table()
        for c, d in t.meta.get("data", {}).items():
            values = np.asarray(d["values"])
            data[c] = values * u.Unit(d["unit"]) if d["unit"] else values
        model = None
        if "model" in t.meta:
            model = _model_from_dict(t.meta.get("model_class", "Blob"), t.meta["model"])
        return cls(params=params, errors=errors, chi2=meta["chi2"], dof=meta["dof"],
                   model=model, success=meta["success"], message=meta["message"],
                   nfev=meta["nfev"], elapsed=meta["elapsed"], at_bound=at_bound,
                   unconstrained=unconstrained, residuals=np.asarray(meta["residuals"]),
                   sigma=np.asarray(meta["sigma"]), covariance=np.asarray(meta["covariance"]),
                   systematics=meta["systematics"], data=data, kernels=meta["kernels"],
                   bounds=bounds, intervals=intervals, constant=meta["constant"],
                   notes=list(meta.get("notes", [])))


def _model_from_dict(cls_name: str, d: Any) -> Any:
    from . import blob
    cls = getattr(blob, cls_name, None)
    from_dict = getattr(cls, "from_dict", None)
    return from_dict(d) if callable(from_dict) else None
