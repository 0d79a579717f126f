"""The likelihood of a model given a measured SED.

Each detected point i (ν F_ν = F_i with lower and upper 1σ errors e⁻_i, e⁺_i)
contributes a Gaussian in log₁₀ ν F_ν whose width depends on the side of the
data the model lies:

    r_i = (log₁₀ M(ν_i) − log₁₀ F_i) / σ_i,
    σ_i = σ⁺_i if M(ν_i) > F_i else σ⁻_i,
    σ^±_i = sqrt((e^±_i / F_i)² + s²) / ln 10,

with s the relative systematic error added in quadrature.  With equal errors
this is the Gaussian of log ν F_ν that the fit has always used; with unequal
ones it is the split normal whose halves have the two errors.  The default
s = 10 % stands for the cross-calibration of instruments that observed at
different times of a campaign (data taken over months from radio to TeV,
and the variability of the source in between); with it a one-zone model that
describes the data has χ²/dof of order one.

An upper limit U_i adds a one-sided term: nothing while the model is below
the limit, and a Gaussian above it,

    r_i = max(0, log₁₀ M(ν_i) − log₁₀ U_i) / σ⁺_i,

whose width σ⁺_i is that of a detection at U_i: the point's upper error when
the table gives one (e.g. the 1σ error of the flux the limit was derived
from), the systematic alone when it does not.  A limit without either is
refused.

χ² = Σ r_i² over all points, and

    ln L = −χ²/2 − Σ_detections ln(√(π/2) (σ⁻_i + σ⁺_i)),

the log of the product of the split-normal densities of log₁₀ F_i (the upper
limits' terms are not normalised; the constant does not depend on the
model).  ``log_likelihood`` returns ln L; fits minimise χ².
"""

from __future__ import annotations

import math
from typing import Any

import numpy as np
import numpy.typing as npt
from astropy import units as u
from astropy.table import Table

from .data import NUFNU_UNIT

Array = npt.NDArray[np.float64]

__all__ = ["log_likelihood", "SEDLikelihood", "DEFAULT_SYSTEMATICS"]

#: Relative systematic error added in quadrature to every point.
DEFAULT_SYSTEMATICS = 0.10

_REQUIRED = ("frequency", "nuFnu")


def check_systematics(systematics: Any) -> float:
    """The systematic as a float in [0, 1), or ValueError."""
    try:
        s = float(systematics)
    except (TypeError, ValueError):
        raise TypeError(f"systematics must be a number (a fraction, 0.1 for 10 %), "
                        f"got {systematics!r}") from None
    if not (math.isfinite(s) and 0.0 <= s < 1.0):
        raise ValueError(f"systematics is a relative error, a fraction in [0, 1) "
                         f"(0.1 for 10 %), got {systematics!r}")
    return s


def _column(data: Table, name: str, unit: u.UnitBase, keep: np.ndarray) -> Array:
    c = data[name]
    values = c.filled(np.nan) if hasattr(c, "filled") else c
    if getattr(c, "unit", None) is not None:
        q = np.asarray(values) * c.unit
        try:
            arr = q.to_value(unit, equivalencies=u.spectral())
        except u.UnitConversionError:
            raise u.UnitConversionError(f"data: column {name} in {c.unit}, "
                                        f"not convertible to {unit}") from None
    else:
        arr = np.asarray(values)
    out: Array = np.asarray(arr, dtype=float)[keep]
    return out


def _mask(data: Table, name: str) -> np.ndarray:
    m = getattr(data[name], "mask", None)
    return np.zeros(len(data), bool) if m is None else np.asarray(m, bool).reshape(len(data))


class SEDLikelihood:
    """The data of an SED prepared for repeated evaluation of χ² and ln L.

    data : Table with ``frequency`` [Hz or any spectral unit] and ``nuFnu``
        [erg cm⁻² s⁻¹] and, optionally, ``nuFnu_err_low``, ``nuFnu_err_high``
        and ``upper_limit`` (as from :func:`~ostrel_models.read_sed`).  Rows
        with a masked cell (``MaskedColumn``) are dropped and not counted;
        the errors of an upper limit may be masked.
    systematics : relative systematic error, a fraction in [0, 1).

    Raises ValueError for an empty table (after dropping masked rows),
    non-positive or non-finite frequencies and fluxes, negative or
    non-finite errors, and points without any width.
    """

    def __init__(self, data: Table, systematics: float = DEFAULT_SYSTEMATICS) -> None:
        self.systematics = s = check_systematics(systematics)
        if not isinstance(data, Table):
            raise TypeError(f"data must be an astropy Table (see read_sed), got "
                            f"{type(data).__name__}")
        missing = [c for c in _REQUIRED if c not in data.colnames]
        if missing:
            raise ValueError(f"data: missing columns {missing} (read it with read_sed)")
        n = len(data)
        ul = (np.asarray(data["upper_limit"].filled(False) if hasattr(data["upper_limit"], "filled")
                         else data["upper_limit"], dtype=bool)
              if "upper_limit" in data.colnames else np.zeros(n, bool))
        drop = _mask(data, "frequency") | _mask(data, "nuFnu")
        errs = [c for c in ("nuFnu_err_low", "nuFnu_err_high") if c in data.colnames]
        for c in errs:
            drop |= _mask(data, c) & ~ul
        keep = ~drop
        self.dropped = int(drop.sum())
        self.rows = np.flatnonzero(keep)            # rows of ``data`` that are used
        if not keep.any():
            raise ValueError("data: no points to fit" + (f" ({self.dropped} masked rows dropped)"
                                                         if self.dropped else ""))
        self.frequency = nu = _column(data, "frequency", u.Hz, keep)
        self.flux = f = _column(data, "nuFnu", NUFNU_UNIT, keep)
        self.upper_limit = ul[keep]
        err = {c: (np.nan_to_num(_column(data, c, NUFNU_UNIT, keep), nan=0.0)
                   if c in errs else np.zeros(len(f))) for c in ("nuFnu_err_low", "nuFnu_err_high")}
        for name, arr in (("frequency", nu), ("nuFnu", f)):
            bad = ~(np.isfinite(arr) & (arr > 0.0))
            if bad.any():
                raise ValueError(f"data: {name} must be finite and positive; row "
                                 f"{int(self.rows[np.argmax(bad)])} has {arr[bad][0]}")
        for name, arr in err.items():
            bad = ~(np.isfinite(arr) & (arr >= 0.0))
            if bad.any():
                raise ValueError(f"data: {name} must be finite and non-negative; row "
                                 f"{int(self.rows[np.argmax(bad)])} has {arr[bad][0]}")
        ln10 = math.log(10.0)
        self.sigma_low = np.sqrt((err["nuFnu_err_low"] / f) ** 2 + s * s) / ln10
        self.sigma_high = np.sqrt((err["nuFnu_err_high"] / f) ** 2 + s * s) / ln10
        det = ~self.upper_limit
        no_width = (det & ((self.sigma_low == 0.0) | (self.sigma_high == 0.0))) | (
            self.upper_limit & (self.sigma_high == 0.0))
        if no_width.any():
            i = int(self.rows[np.argmax(no_width)])
            raise ValueError(f"data: row {i} has no error (a point without errors, or an upper "
                             "limit without an upper error, needs systematics > 0)")
        self.log_flux = np.log10(f)
        self.unique_frequency, self._where = np.unique(nu, return_inverse=True)
        self._floor = 1e-300
        self.constant = -float(np.sum(np.log(math.sqrt(math.pi / 2.0)
                                             * (self.sigma_low[det] + self.sigma_high[det]))))

    @property
    def n_points(self) -> int:
        """Points used (detections and upper limits)."""
        return len(self.flux)

    @property
    def n_detections(self) -> int:
        return int(np.count_nonzero(~self.upper_limit))

    def model_flux(self, model: Any, kernels: str = "accurate") -> Array:
        """ν F_ν [erg cm⁻² s⁻¹] of ``model`` at the data's frequencies (each
        distinct frequency computed once)."""
        m = model.sed(self.unique_frequency * u.Hz, kernels=kernels)
        return np.asarray(m.to_value(NUFNU_UNIT), dtype=float)[self._where]

    def sigma(self, model_flux: Array) -> Array:
        """σ_i of each point for the model ``model_flux`` (the side it lies on)."""
        above = model_flux > self.flux
        return np.where(above | self.upper_limit, self.sigma_high, self.sigma_low)

    def residuals(self, model_flux: Array) -> Array:
        """r_i (see the module docstring): signed for detections, ≥ 0 for limits."""
        d = np.log10(np.maximum(model_flux, self._floor)) - self.log_flux
        r = d / self.sigma(model_flux)
        return np.where(self.upper_limit, np.maximum(r, 0.0), r)

    def chi2(self, model_flux: Array) -> float:
        r = self.residuals(model_flux)
        return float(r @ r)

    def log_likelihood(self, model_flux: Array) -> float:
        return -0.5 * self.chi2(model_flux) + self.constant


def log_likelihood(model: Any, data: Table, systematics: float = DEFAULT_SYSTEMATICS,
                   kernels: str = "accurate") -> float:
    """ln L of ``model`` (anything with ``sed(nu, kernels=...)``, e.g. a Blob)
    given the SED ``data``.

    ln L = −χ²/2 − Σ ln(√(π/2)(σ⁻_i + σ⁺_i)): a split-normal Gaussian in
    log₁₀ ν F_ν for each detection, with the relative ``systematics`` in
    quadrature, and for each upper limit no penalty below it and a Gaussian
    above it of width σ⁺ (the point's upper error with the systematic, or
    the systematic alone).  See the module docstring.
    """
    like = SEDLikelihood(data, systematics)
    return like.log_likelihood(like.model_flux(model, kernels))
