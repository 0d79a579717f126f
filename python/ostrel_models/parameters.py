"""Named, bounded parameters of the models, and their ordered collection.

A ``Parameter`` is where a model keeps one of its numbers: the blob's ``B``
property, a distribution's ``p`` attribute and ``blob.parameters["B"]`` read
and write the same storage.  Setting a value converts it to the parameter's
unit and checks it against the *valid range* (where the computation is
meaningful in double precision and in physics; outside it a ``ValueError``
names the parameter and the range).  The *bounds* ``min``/``max`` are only the
default search range of a fit and never block an assignment; ``scale`` says
whether a fit should step in the logarithm ("log", positive quantities that
span decades) or linearly ("linear": indices, angles, z).

``affects_sed`` is False for a parameter the spectrum does not depend on in
the model's present configuration (the blob's bulk Lorentz factor Γ while all
its external fields are isotropic in the host frame: only δ_D matters then);
a fit refuses to free such a parameter.

A ``Parameters`` collection is an ordered read-only mapping from dotted names
("B", "electrons.p1", "external[0].energy_density") to the parameters
themselves; a model builds it afresh on each access of ``.parameters`` from
the parameters it holds, so it always reflects the model's present parts.
"""

from __future__ import annotations

import collections.abc
import math
from collections.abc import Callable, Iterable, Iterator
from typing import Any

from astropy import units as u

from . import validation

__all__ = ["Parameter", "Parameters"]

_DIMENSIONLESS = u.dimensionless_unscaled


class Parameter:
    """One number of a model, with unit, bounds, scale and frozen state.

    Parameters
    ----------
    name : str
        Local name ("B", "p1", "energy_density").
    value : float or Quantity
        Initial value (a plain number is taken in ``unit``).
    unit : astropy unit or str, optional
        Unit of ``raw`` and of the bounds; dimensionless by default.
    min, max : float
        Default fitting bounds in ``unit`` (−inf/inf when open).
    frozen : bool
        Whether a fit leaves it alone unless asked.
    scale : {"log", "linear"}
    description : str
    valid : (float, float)
        Range every value must lie in, ``open_low`` excluding the lower end.
    spectral : bool
        Convert Quantities with the spectral equivalency (frequencies).
    """

    def __init__(self, name: str, value: Any, unit: Any = None, min: float = -math.inf,
                 max: float = math.inf, frozen: bool = False, scale: str = "linear",
                 description: str = "", valid: tuple[float, float] = (-math.inf, math.inf),
                 open_low: bool = False, spectral: bool = False) -> None:
        if scale not in ("log", "linear"):
            raise ValueError(f"{name}: scale must be 'log' or 'linear', got {scale!r}")
        self.name = name
        self.unit = _DIMENSIONLESS if unit is None else u.Unit(unit)
        self.min = float(min)
        self.max = float(max)
        self.frozen = bool(frozen)
        self.scale = scale
        self.description = description
        self.valid = (float(valid[0]), float(valid[1]))
        self.open_low = bool(open_low)
        self.spectral = bool(spectral)
        self._affects: bool | Callable[[], bool] = True
        self._getter: Callable[[], float] | None = None
        self._raw = math.nan
        self.value = value

    # --- the value -------------------------------------------------------------
    def check(self, value: Any) -> float:
        """``value`` as a float in ``unit`` after the parameter's checks."""
        unit = None if self.unit == _DIMENSIONLESS else self.unit
        x = validation.real(self.name, value, unit, self.spectral, finite=False)
        return validation.in_range(self.name, x, *self.valid, unit=self.unit,
                                   open_low=self.open_low)

    @property
    def raw(self) -> float:
        """The value as a plain float in ``unit``."""
        return self._getter() if self._getter is not None else self._raw

    @raw.setter
    def raw(self, value: float) -> None:
        self._raw = self.check(value)
        self._getter = None

    @property
    def value(self) -> Any:
        """A Quantity in ``unit``, or a float when dimensionless."""
        x = self.raw
        return x if self.unit == _DIMENSIONLESS else x * self.unit

    @value.setter
    def value(self, value: Any) -> None:
        self.raw = value

    def clone(self) -> Parameter:
        """An independent copy (same value, bounds and flags)."""
        new = object.__new__(type(self))
        new.__dict__.update(self.__dict__)
        return new

    @property
    def derived(self) -> bool:
        """Whether the value follows other parameters (Γ = δ_D, d_L from z)
        until it is set."""
        return self._getter is not None

    def follow(self, getter: Callable[[], float] | None) -> None:
        """Make the value follow ``getter()`` until it is set (owner's use)."""
        self._getter = getter

    @property
    def affects_sed(self) -> bool:
        """Whether the model's spectrum depends on this parameter now."""
        return self._affects() if callable(self._affects) else bool(self._affects)

    @affects_sed.setter
    def affects_sed(self, value: bool | Callable[[], bool]) -> None:
        self._affects = value

    # --- saving ----------------------------------------------------------------
    def to_dict(self) -> dict[str, Any]:
        """Plain types only (for YAML/JSON): value, unit, bounds, frozen, scale."""
        return {"name": self.name, "value": float(self.raw),
                "unit": "" if self.unit == _DIMENSIONLESS else self.unit.to_string(),
                "min": self.min, "max": self.max, "frozen": self.frozen, "scale": self.scale,
                "description": self.description}

    @classmethod
    def from_dict(cls, d: dict[str, Any]) -> Parameter:
        """A free-standing parameter from ``to_dict`` (no valid range kept)."""
        return cls(d["name"], d["value"], d.get("unit") or None, d.get("min", -math.inf),
                   d.get("max", math.inf), d.get("frozen", False), d.get("scale", "linear"),
                   d.get("description", ""))

    def apply(self, d: dict[str, Any]) -> None:
        """Take bounds, frozen state and scale (not the value) from ``to_dict``."""
        self.min = float(d.get("min", self.min))
        self.max = float(d.get("max", self.max))
        self.frozen = bool(d.get("frozen", self.frozen))
        self.scale = d.get("scale", self.scale)

    def __repr__(self) -> str:
        unit = "" if self.unit == _DIMENSIONLESS else f" {self.unit.to_string()}"
        flags = " frozen" if self.frozen else ""
        flags += " (derived)" if self.derived else ""
        return (f"Parameter({self.name} = {self.raw:.6g}{unit}, "
                f"bounds [{self.min:.3g}, {self.max:.3g}], {self.scale}{flags})")


class Parameters(collections.abc.Mapping[str, Parameter]):
    """An ordered, read-only mapping of dotted names to parameters.

    ``aliases`` maps further names to keys (``external[0].energy_density`` for
    a field named "blr" whose key is ``external.blr.energy_density``); they can
    be looked up but are not iterated.
    """

    def __init__(self, items: Iterable[tuple[str, Parameter]] = (),
                 aliases: dict[str, str] | None = None) -> None:
        self._items: dict[str, Parameter] = dict(items)
        self._aliases = dict(aliases or {})

    def __getitem__(self, key: str) -> Parameter:
        try:
            return self._items[self._aliases.get(key, key)]
        except KeyError:
            raise KeyError(f"{key!r} is not a parameter of the model; parameters: "
                           f"{', '.join(self._items)}") from None

    def __contains__(self, key: object) -> bool:
        return key in self._items or key in self._aliases

    def __iter__(self) -> Iterator[str]:
        return iter(self._items)

    def __len__(self) -> int:
        return len(self._items)

    @property
    def free_names(self) -> list[str]:
        """Names of the parameters not frozen, in order."""
        return [k for k, p in self._items.items() if not p.frozen]

    def to_table(self) -> Any:
        """An astropy Table: name, value, unit, min, max, frozen, scale, affects_sed."""
        from astropy.table import Table
        rows = [(k, p.raw, "" if p.unit == _DIMENSIONLESS else p.unit.to_string(), p.min,
                 p.max, p.frozen, p.scale, p.affects_sed) for k, p in self._items.items()]
        names = ("name", "value", "unit", "min", "max", "frozen", "scale", "affects_sed")
        if not rows:
            return Table(names=names, dtype=(str, float, str, float, float, bool, str, bool))
        return Table(rows=rows, names=names)

    def to_dict(self) -> dict[str, dict[str, Any]]:
        return {k: p.to_dict() for k, p in self._items.items()}

    def __repr__(self) -> str:
        width = max((len(k) for k in self._items), default=0)
        lines = []
        for k, p in self._items.items():
            unit = "" if p.unit == _DIMENSIONLESS else f" {p.unit.to_string()}"
            flag = " (frozen)" if p.frozen else ""
            lines.append(f"  {k:<{width}} = {p.raw:.6g}{unit}{flag}")
        return "Parameters(\n" + "\n".join(lines) + "\n)" if lines else "Parameters()"
