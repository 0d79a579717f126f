"""Energy distributions of the electrons in the blob frame.

Each shape gives the number density per unit Lorentz factor, n(γ) [cm⁻³],
up to a constant; the blob fixes the constant from the total energy in
electrons or from their total number density.  The parameters are
dimensionless (indices, Lorentz factors) and may be changed after
construction (the fitter does so by attribute name); every computation checks
them again first.

The blob computes on a logarithmic grid of γ between ``gamma_min`` and
``gamma_max``; the kernels take the distribution as a power law between grid
points, which is exact for a power law and, with the break put on the grid,
for a broken power law.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from . import validation
from .parameters import Parameter, Parameters

Array = npt.NDArray[np.float64]

__all__ = [
    "ElectronDistribution",
    "PowerLaw",
    "BrokenPowerLaw",
    "LogParabola",
    "ExpCutoffPowerLaw",
    "Tabulated",
    "powerlaw_moment",
]


#: Default description, fitting bounds, scale, frozen state and valid range of
#: the distributions' parameters, by name.  Indices span what spectra show
#: (bounds [1, 6]); Lorentz factors are fitted in the logarithm.
_LORENTZ = (1.0, 1e12)
_INDEX = (-50.0, 50.0)
SETTINGS: dict[str, dict[str, Any]] = {
    "p": dict(description="power-law index", min=1.0, max=6.0, valid=_INDEX),
    "p1": dict(description="index below the break", min=1.0, max=6.0, valid=_INDEX),
    "p2": dict(description="index above the break", min=1.0, max=6.0, valid=_INDEX),
    "q": dict(description="curvature of the log-parabola", min=0.0, max=2.0, valid=(-10.0, 10.0)),
    "gamma_min": dict(description="lowest Lorentz factor", min=1.0, max=1e5, scale="log",
                      valid=_LORENTZ),
    "gamma_max": dict(description="highest Lorentz factor", min=1e3, max=1e9, scale="log",
                      valid=_LORENTZ, frozen=True),
    "gamma_b": dict(description="Lorentz factor of the break", min=10.0, max=1e8,
                    scale="log", valid=_LORENTZ),
    "gamma_0": dict(description="pivot Lorentz factor", min=1.0, max=1e8, scale="log",
                    valid=(0.0, _LORENTZ[1]), open_low=True),
    "gamma_c": dict(description="cut-off Lorentz factor", min=10.0, max=1e9, scale="log",
                    valid=(0.0, _LORENTZ[1]), open_low=True),
}
_GENERIC = dict(description="", valid=(-math.inf, math.inf))

_REGISTRY: dict[str, type[ElectronDistribution]] = {}


def powerlaw_moment(x: Array, y: Array, k: float) -> float:
    """∫ x^k y(x) dx over the grid, y a power law between neighbouring points
    (the sum of ``powerlaw_segments``)."""
    return float(np.sum(powerlaw_segments(x, y, k)))


def powerlaw_segments(x: Array, y: Array, k: float) -> Array:
    """∫ x^k y(x) dx over each segment [x_i, x_{i+1}] of the grid, y a power
    law between neighbouring points.

    Segments where y vanishes at either end count as zero (the kernels treat
    them the same way).  On a segment with y = y0 (x/x0)^s the integral is
    x0^(k+1) y0 (r^(s+k+1) − 1)/(s+k+1) with r = x1/x0, or x0^(k+1) y0 ln r
    when s + k + 1 = 0; the first form is evaluated with expm1 to keep its
    accuracy when s + k + 1 is small.
    """
    x0, x1, y0, y1 = x[:-1], x[1:], y[:-1], y[1:]
    ok = (y0 > 0.0) & (y1 > 0.0)
    lr = np.log(x1 / x0)
    with np.errstate(divide="ignore", invalid="ignore"):
        s = np.where(ok, np.log(np.where(ok, y1 / np.where(ok, y0, 1.0), 1.0)) / lr, 0.0)
        e = s + k + 1.0
        a = e * lr
        factor = np.where(np.abs(a) > 1e-12, np.expm1(a) / np.where(e == 0.0, 1.0, e), lr)
    out: Array = np.where(ok, x0 ** (k + 1.0) * y0 * factor, 0.0)
    return out


class ElectronDistribution:
    """Base of the electron shapes: n(γ) up to a constant on [γ_min, γ_max]."""

    gamma_min: float
    gamma_max: float

    #: Parameter names, in the order of the constructor (a subclass that
    #: still names them in a tuple ``parameters`` gets them moved here).
    _parameter_names: tuple[str, ...] = ()

    def __init_subclass__(cls, **kwargs: Any) -> None:
        super().__init_subclass__(**kwargs)
        names = cls.__dict__.get("parameters")
        if isinstance(names, tuple):
            cls._parameter_names = names
            delattr(cls, "parameters")
        _REGISTRY[cls.__name__] = cls

    def __setattr__(self, name: str, value: object) -> None:
        # Parameters live in Parameter objects (shared with ``.parameters``):
        # a wrong type or a value outside the valid range is refused at once,
        # the relations between parameters are checked by validate().
        if name in self._parameter_names:
            params = self.__dict__.setdefault("_params", {})
            if name in params:
                params[name].value = value
            else:
                settings = SETTINGS.get(name, _GENERIC)
                params[name] = Parameter(name, value, **settings)
            return
        object.__setattr__(self, name, value)

    def __getattr__(self, name: str) -> Any:
        params = self.__dict__.get("_params")
        if params is not None and name in params:
            return params[name].raw
        raise AttributeError(f"{type(self).__name__!r} object has no attribute {name!r}")

    @property
    def parameters(self) -> Parameters:
        """The shape's parameters, in the order of the constructor."""
        params = self.__dict__.get("_params", {})
        return Parameters((name, params[name]) for name in self._parameter_names)

    def snapshot(self) -> ElectronDistribution:
        """An independent copy with the present values (what one evaluation of
        a model uses, so that later assignments do not reach into it).  The
        parameters are copied, other attributes shared: a subclass holding
        mutable state of its own overrides this."""
        new = object.__new__(type(self))
        new.__dict__.update(self.__dict__)
        params = {k: p.clone() for k, p in self.__dict__.get("_params", {}).items()}
        new.__dict__["_params"] = params
        # The values also as plain attributes: the copy is never assigned to,
        # and the shape's arithmetic reads them without the lookup of __getattr__.
        new.__dict__.update((k, p.raw) for k, p in params.items())
        return new

    def to_dict(self) -> dict[str, Any]:
        """The type and every parameter (value, bounds, frozen state), in plain types."""
        return {"type": type(self).__name__,
                "parameters": {k: p.to_dict() for k, p in self.parameters.items()}}

    @classmethod
    def from_dict(cls, d: dict[str, Any]) -> ElectronDistribution:
        """The distribution ``to_dict`` describes (of any registered type)."""
        kind = _REGISTRY.get(d.get("type", ""))
        if kind is None or not issubclass(kind, cls):
            raise ValueError(f"unknown electron distribution type {d.get('type')!r}")
        return kind._from_dict(d)

    @classmethod
    def _from_dict(cls, d: dict[str, Any]) -> ElectronDistribution:
        params = d.get("parameters", {})
        out = cls(**{k: v["value"] for k, v in params.items()})
        for k, v in params.items():
            out.parameters[k].apply(v)
        return out

    def validate(self) -> None:
        """Raise ValueError naming the parameter if the shape is not usable."""
        if self.gamma_min < 1.0:
            raise ValueError(f"gamma_min must be >= 1, got {self.gamma_min}")
        if not self.gamma_min < self.gamma_max:
            raise ValueError(
                f"gamma_min must be below gamma_max, got gamma_min={self.gamma_min}, "
                f"gamma_max={self.gamma_max}")

    def shape(self, gamma: Array) -> Array:
        """n(γ) up to a constant factor; zero outside [γ_min, γ_max]."""
        raise NotImplementedError

    #: Whether ln n is curved in ln γ (then the grid follows the curvature).
    _curved = False

    @property
    def default_grid_points(self) -> int:
        """Grid size the blob uses unless told otherwise: a piecewise power
        law is exact on any grid that holds its breaks (48 points), a curved
        shape needs more (120 points: a log-parabola to 1e-5, an exponential
        cutoff to a few 1e-3 in the tail of the spectrum)."""
        return 120 if self._curved else 48

    def grid(self, n: int) -> Array:
        """A grid of n points from γ_min to γ_max, with any point where the
        shape has a kink (a break) added.

        Piecewise power laws are exact on a logarithmic grid.  A curved shape
        is a power law between grid points only approximately: with
        f = ln n(γ) and x = ln γ the error on a segment of width Δx is about
        |f''| Δx²/8, which is evened out by a point density ∝ |f''|^(1/2);
        half of the points follow that density, half are spread evenly in
        ln γ.  The grid then ends where γ² n(γ) has fallen below 1e-40 of
        its maximum (an exponential cutoff leaves nothing beyond).
        """
        self.validate()
        if not self._curved:
            g = np.geomspace(self.gamma_min, self.gamma_max, n)
        else:
            g = self._curvature_grid(n)
        kinks = [k for k in self._kinks() if g[0] < k < g[-1]]
        if kinks:
            g = np.unique(np.concatenate([g, kinks]))
        return g

    def _curvature_grid(self, n: int) -> Array:
        x = np.linspace(math.log(self.gamma_min), math.log(self.gamma_max), 2049)
        with np.errstate(divide="ignore", over="ignore", invalid="ignore"):
            f = np.log(self.shape(np.exp(x)))
            weight = f + 2.0 * x
        alive = np.isfinite(weight) & (weight >= np.nanmax(np.where(np.isfinite(weight),
                                                                     weight, -np.inf)) - 92.1)
        last = int(np.nonzero(alive)[0][-1]) if np.any(alive) else x.size - 1
        x, f = x[: max(last + 1, 3)], f[: max(last + 1, 3)]
        f = np.where(np.isfinite(f), f, np.nanmin(np.where(np.isfinite(f), f, np.inf)))
        curv = np.sqrt(np.abs(np.gradient(np.gradient(f, x), x)))
        density = 0.5 / (x[-1] - x[0]) + 0.5 * curv / max(np.trapezoid(curv, x), 1e-300)
        cdf = np.concatenate([[0.0], np.cumsum(0.5 * (density[1:] + density[:-1]) * np.diff(x))])
        cdf /= cdf[-1]
        g = np.exp(np.interp(np.linspace(0.0, 1.0, n), cdf, x))
        g[0] = self.gamma_min
        return np.unique(g)

    def _kinks(self) -> Sequence[float]:
        return ()

    def __repr__(self) -> str:
        args = ", ".join(f"{p}={getattr(self, p):.6g}" for p in self._parameter_names)
        return f"{type(self).__name__}({args})"

    def _inside(self, gamma: Array) -> npt.NDArray[np.bool_]:
        g = np.asarray(gamma, dtype=float)
        return (g >= self.gamma_min) & (g <= self.gamma_max)


class PowerLaw(ElectronDistribution):
    """n(γ) ∝ γ^−p for γ_min ≤ γ ≤ γ_max."""

    _parameter_names = ("p", "gamma_min", "gamma_max")

    def __init__(self, p: float = 2.0, gamma_min: float = 1e2, gamma_max: float = 1e6) -> None:
        self.p = p
        self.gamma_min = gamma_min
        self.gamma_max = gamma_max
        self.validate()

    def shape(self, gamma: Array) -> Array:
        g = np.asarray(gamma, dtype=float)
        return np.where(self._inside(g), g ** -self.p, 0.0)


class BrokenPowerLaw(ElectronDistribution):
    """n(γ) ∝ γ^−p1 below γ_b and ∝ γ_b^(p2−p1) γ^−p2 above (continuous)."""

    _parameter_names = ("p1", "p2", "gamma_b", "gamma_min", "gamma_max")

    def __init__(self, p1: float = 2.0, p2: float = 3.0, gamma_b: float = 1e4,
                 gamma_min: float = 1e2, gamma_max: float = 1e6) -> None:
        self.p1 = p1
        self.p2 = p2
        self.gamma_b = gamma_b
        self.gamma_min = gamma_min
        self.gamma_max = gamma_max
        self.validate()

    def validate(self) -> None:
        super().validate()
        if not self.gamma_min <= self.gamma_b <= self.gamma_max:
            raise ValueError(f"gamma_b must lie in [gamma_min, gamma_max] = [{self.gamma_min:.6g}, "
                             f"{self.gamma_max:.6g}], got {self.gamma_b:.6g}")

    def shape(self, gamma: Array) -> Array:
        g = np.asarray(gamma, dtype=float)
        x = g / self.gamma_b
        n = np.where(x <= 1.0, x ** -self.p1, x ** -self.p2)
        return np.where(self._inside(g), n, 0.0)

    def _kinks(self) -> Sequence[float]:
        return (self.gamma_b,)


class LogParabola(ElectronDistribution):
    """n(γ) ∝ (γ/γ_0)^(−p − q log10(γ/γ_0)) (Massaro et al. 2004)."""

    _curved = True

    _parameter_names = ("p", "q", "gamma_0", "gamma_min", "gamma_max")

    def __init__(self, p: float = 2.0, q: float = 0.5, gamma_0: float = 1e4,
                 gamma_min: float = 1e2, gamma_max: float = 1e7) -> None:
        self.p = p
        self.q = q
        self.gamma_0 = gamma_0
        self.gamma_min = gamma_min
        self.gamma_max = gamma_max
        self.validate()

    def validate(self) -> None:
        super().validate()
        if self.gamma_0 <= 0.0:
            raise ValueError(f"gamma_0 must be positive, got {self.gamma_0}")

    def shape(self, gamma: Array) -> Array:
        g = np.asarray(gamma, dtype=float)
        lx = np.log10(np.where(g > 0.0, g, 1.0) / self.gamma_0)
        return np.where(self._inside(g), 10.0 ** (-(self.p + self.q * lx) * lx), 0.0)


class ExpCutoffPowerLaw(ElectronDistribution):
    """n(γ) ∝ γ^−p exp(−γ/γ_c) for γ_min ≤ γ ≤ γ_max."""

    _curved = True

    _parameter_names = ("p", "gamma_c", "gamma_min", "gamma_max")

    def __init__(self, p: float = 2.0, gamma_c: float = 1e5, gamma_min: float = 1e2,
                 gamma_max: float = 1e7) -> None:
        self.p = p
        self.gamma_c = gamma_c
        self.gamma_min = gamma_min
        self.gamma_max = gamma_max
        self.validate()

    def validate(self) -> None:
        super().validate()
        if self.gamma_c <= 0.0:
            raise ValueError(f"gamma_c must be positive, got {self.gamma_c}")

    def shape(self, gamma: Array) -> Array:
        g = np.asarray(gamma, dtype=float)
        return np.where(self._inside(g), g ** -self.p * np.exp(-g / self.gamma_c), 0.0)


class Tabulated(ElectronDistribution):
    """n(γ) given at points, a power law between them, zero outside.

    ``gamma`` must increase and the values must be non-negative; the
    distribution spans the tabulated range, so γ_min and γ_max are the first
    and last points (read-only).
    """

    def __init__(self, gamma: npt.ArrayLike, n: npt.ArrayLike) -> None:
        # Copies, read-only: the caller may reuse its arrays, and a model
        # evaluation in another thread must never see them change.
        g = np.array(validation.vector("gamma", getattr(gamma, "value", gamma)), dtype=float)
        v = np.array(validation.vector("n", getattr(n, "value", n)), dtype=float)
        g.flags.writeable = False
        v.flags.writeable = False
        if g.ndim != 1 or g.size < 2:
            raise ValueError("gamma must be a one-dimensional array of at least 2 points")
        if v.shape != g.shape:
            raise ValueError(f"n must have the shape of gamma {g.shape}, got {v.shape}")
        if not (np.all(np.isfinite(g)) and np.all(np.diff(g) > 0.0) and g[0] >= 1.0):
            raise ValueError("gamma must be finite, >= 1 and strictly increasing")
        if not (np.all(np.isfinite(v)) and np.all(v >= 0.0)) or not np.any(v > 0.0):
            raise ValueError("n must be finite, non-negative and not all zero")
        object.__setattr__(self, "_g", g)
        object.__setattr__(self, "_n", v)

    @property
    def gamma_min(self) -> float:  # type: ignore[override]
        return float(self._g[0])

    @property
    def gamma_max(self) -> float:  # type: ignore[override]
        return float(self._g[-1])

    def shape(self, gamma: Array) -> Array:
        g = np.asarray(gamma, dtype=float)
        lg, ln = np.log(self._g), np.log(np.where(self._n > 0.0, self._n, 1e-300))
        out = np.exp(np.interp(np.log(np.clip(g, self._g[0], self._g[-1])), lg, ln))
        out[out < 1e-290] = 0.0
        return np.where(self._inside(g), out, 0.0)

    def grid(self, n: int) -> Array:
        # The tabulated points themselves, so that no interpolation is added.
        return self._g.copy()

    def snapshot(self) -> Tabulated:
        return self                      # immutable: its arrays are private copies

    def to_dict(self) -> dict[str, Any]:
        return {"type": "Tabulated", "gamma": [float(x) for x in self._g],
                "n": [float(x) for x in self._n]}

    @classmethod
    def _from_dict(cls, d: dict[str, Any]) -> Tabulated:
        return cls(d["gamma"], d["n"])

    def __repr__(self) -> str:
        return f"Tabulated({self._g.size} points, gamma {self.gamma_min:.3g}..{self.gamma_max:.3g})"
