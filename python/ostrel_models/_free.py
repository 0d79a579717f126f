"""The free parameters of a fit or a sampling run, taken from ``model.parameters``.

Each free parameter moves between two finite bounds on its own scale: the
fit and the sampler work with t = log₁₀(value) for ``"log"`` parameters and
t = value for ``"linear"`` ones, and the least-squares search with
x = (t − t_lo)/(t_hi − t_lo) in [0, 1].
"""

from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from typing import Any

import numpy as np
from astropy import units as u

__all__ = ["FreeParameter", "free_parameters"]


class FreeParameter:
    """One free parameter of a model: its name, unit, bounds and scale."""

    def __init__(self, model: Any, name: str, bounds: Any) -> None:
        params = model.parameters
        if name not in params:
            raise ValueError(f"free: {name!r} is not a parameter of the model "
                             f"(its parameters: {', '.join(params)})")
        self.name = name
        self.param = p = params[name]
        if getattr(p, "affects_sed", True) is False:
            raise ValueError(f"free: {name!r} does not change the SED of this model (nothing in "
                             "it depends on this parameter), so the data cannot constrain it; "
                             "leave it out of free (or freeze it)")
        self.unit = p.unit
        self.log = p.scale == "log"
        if bounds is None:
            lo, hi = p.min, p.max
        else:
            try:
                lo, hi = bounds
            except (TypeError, ValueError):
                raise ValueError(f"free[{name!r}]: bounds must be a pair (low, high) or None, "
                                 f"got {bounds!r}") from None
            lo, hi = self._plain(lo), self._plain(hi)
        if not (math.isfinite(lo) and math.isfinite(hi)):
            raise ValueError(f"free[{name!r}]: the bounds ({lo}, {hi}) must be finite; "
                             "give them as free={name: (low, high)}")
        if not lo < hi:
            raise ValueError(f"free[{name!r}]: the lower bound {lo} must be below the upper {hi}")
        if self.log and lo <= 0.0:
            raise ValueError(f"free[{name!r}]: a parameter on a log scale needs a positive "
                             f"lower bound, got {lo}")
        self.lo, self.hi = lo, hi
        self.lo_t: float = math.log10(lo) if self.log else lo
        self.hi_t: float = math.log10(hi) if self.log else hi
        start = float(p.raw)
        if not math.isfinite(start):
            raise ValueError(f"free[{name!r}]: the starting value {start} is not finite")
        self.start_t = min(self.hi_t, max(self.lo_t, self.t_of(start)))

    def _plain(self, b: Any) -> float:
        if isinstance(b, u.Quantity):
            try:
                b = b.to_value(self.unit)
            except u.UnitConversionError:
                raise u.UnitConversionError(
                    f"free[{self.name!r}]: cannot convert the bound's unit {b.unit} "
                    f"to {self.unit}") from None
        try:
            return float(b)
        except (TypeError, ValueError):
            raise ValueError(f"free[{self.name!r}]: a bound must be a number, got {b!r}") from None

    # t: the parameter's own scale; x: position in [0, 1] between the bounds.
    def t_of(self, value: float) -> float:
        if self.log:
            return math.log10(value) if value > 0.0 else -math.inf
        return value

    def value_of_t(self, t: float) -> float:
        return 10.0**t if self.log else t

    def x_of_t(self, t: float) -> float:
        return (t - self.lo_t) / (self.hi_t - self.lo_t)

    def t_of_x(self, x: float) -> float:
        return self.lo_t + x * (self.hi_t - self.lo_t)

    def dvalue_dt(self, t: float) -> float:
        return self.value_of_t(t) * math.log(10.0) if self.log else 1.0

    def set_t(self, t: float) -> None:
        self.param.raw = self.value_of_t(t)

    def quantity(self, v: float) -> Any:
        return v if self.unit == u.dimensionless_unscaled else v * self.unit


def free_parameters(model: Any, free: Any) -> list[FreeParameter]:
    """Resolve ``free`` (None, a sequence of names or {name: bounds or None})
    against ``model.parameters``."""
    if not hasattr(model, "parameters"):
        raise TypeError(f"model: {type(model).__name__} has no parameters collection")
    if free is None:
        names = list(model.parameters.free_names)
        if not names:
            raise ValueError("free: every parameter of the model is frozen; unfreeze some "
                             "(model.parameters[name].frozen = False) or name them in free")
        items: list[tuple[str, Any]] = [(n, None) for n in names]
    elif isinstance(free, Mapping):
        items = list(free.items())
    elif isinstance(free, Sequence) and not isinstance(free, str):
        items = [(n, None) for n in free]
    else:
        raise TypeError(f"free must be None, a list of names or a dict {{name: (low, high)}}, "
                        f"got {free!r}")
    if not items:
        raise ValueError("free: give at least one parameter to fit")
    names = [n for n, _ in items]
    if len(set(names)) != len(names):
        raise ValueError(f"free: a parameter is named twice in {names}")
    return [FreeParameter(model, n, b) for n, b in items]


def set_all(params: Sequence[FreeParameter], t: np.ndarray) -> None:
    for p, ti in zip(params, t):
        p.set_t(float(ti))
