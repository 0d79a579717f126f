"""The one set of input checks of the modelling layer.

Every public entry point (the kernels, the distributions, the fields, the
blob and its parameters) turns what a user passes into plain cgs floats or
float64 arrays here, and every refusal names the argument and, where there is
one, the valid range:

- ``real(name, value, unit)``: a real scalar, a Quantity converted to ``unit``
  or a plain number taken to be in it; finite; not complex, not an array.
- ``in_range(name, x, lo, hi)``: lo ≤ x ≤ hi (``open_low``: lo < x).
- ``integer(name, value, lo, hi)``: an integral number in [lo, hi].
- ``frequencies(name, value)``: frequencies in Hz (a Quantity of frequency,
  energy or wavelength, or plain numbers in Hz), finite and positive.
- ``vector(name, value)`` / ``scalar(name, value)``: what the kernels take — a
  contiguous 1-D float64 array and a float (range checks stay in the kernels,
  which know them).

Errors are ``TypeError`` for a value of the wrong kind (a string, a complex
number, an array where a scalar is wanted), ``astropy.units.UnitConversionError``
for a wrong unit, and ``ValueError`` otherwise (out of range, not finite, too
large for a double).
"""

from __future__ import annotations

import math
import numbers
from typing import Any

import numpy as np
import numpy.typing as npt
from astropy import units as u

Array = npt.NDArray[np.float64]

__all__ = ["real", "positive", "in_range", "integer", "vector", "scalar", "to_unit",
           "frequencies"]


def _short(value: Any) -> str:
    text = str(value)
    return text if len(text) < 16 else f"{text[:6]}...({len(text)} digits)"


def _plain_float(name: str, value: Any) -> float:
    """A real scalar as a float: complex, arrays, strings and None are refused;
    a number too large for a double (an integer 10**400) is a ValueError."""
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be a real number, got a boolean {value!r}")
    if isinstance(value, (complex, np.complexfloating)):
        raise TypeError(f"{name} must be a real number, got the complex {value!r}")
    if np.ndim(value) != 0:
        raise TypeError(f"{name} must be a scalar, got an array of shape {np.shape(value)}")
    if isinstance(value, np.ndarray):
        if value.dtype.kind == "c":
            raise TypeError(f"{name} must be a real number, got the complex {value!r}")
        value = value.item()
    if not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number, got {value!r}")
    try:
        return float(value)
    except OverflowError:
        raise ValueError(f"{name} = {_short(value)} is too large for a double "
                         "(at most 1.8e308)") from None


def to_unit(name: str, value: Any, unit: u.UnitBase | None, spectral: bool = False) -> Any:
    """``value`` (a Quantity) as a plain number or array in ``unit``; a plain
    value is returned as it is (taken to be in ``unit`` already)."""
    if not isinstance(value, u.Quantity):
        return value
    target = u.dimensionless_unscaled if unit is None else unit
    try:
        return value.to_value(target, equivalencies=u.spectral() if spectral else [])
    except u.UnitConversionError:
        raise u.UnitConversionError(f"{name}: cannot convert {value.unit} to {target}") from None


def real(name: str, value: Any, unit: u.UnitBase | None = None, spectral: bool = False,
         finite: bool = True) -> float:
    """A real scalar in ``unit`` (see the module docstring), finite unless
    ``finite`` is False (then ``in_range`` says what is allowed)."""
    x = _plain_float(name, to_unit(name, value, unit, spectral))
    if finite and not math.isfinite(x):
        raise ValueError(f"{name} must be finite, got {x}")
    return x


def in_range(name: str, x: float, lo: float, hi: float, unit: u.UnitBase | None = None,
             open_low: bool = False) -> float:
    """``x`` if it lies in [lo, hi] (or (lo, hi] with ``open_low``), else a
    ValueError naming ``name`` and the range."""
    inside = (lo < x <= hi) if open_low else (lo <= x <= hi)       # False for NaN
    if not inside:
        text = "" if unit is None or unit == u.dimensionless_unscaled else f" {unit}"
        bracket = "(" if open_low else "["
        raise ValueError(f"{name} must lie in {bracket}{lo:.6g}, {hi:.6g}]{text}, got {x:.6g}")
    return x


def positive(name: str, value: Any, unit: u.UnitBase | None = None, spectral: bool = False) -> float:
    """A finite real scalar above zero."""
    x = real(name, value, unit, spectral)
    if not x > 0.0:
        raise ValueError(f"{name} must be positive, got {x:.6g}")
    return x


def frequencies(name: str, value: Any, one_d: bool = False) -> Array:
    """Frequencies [Hz] as a float array of the shape of ``value`` (1-D, by
    ``vector``, with ``one_d``): a Quantity by the spectral equivalency,
    plain numbers taken in Hz; every one finite and positive."""
    x = to_unit(name, value, u.Hz, spectral=True)
    arr = vector(name, np.atleast_1d(np.asarray(x))) if one_d else np.asarray(x, dtype=float)
    if not (np.all(np.isfinite(arr)) and np.all(arr > 0.0)):
        raise ValueError(f"{name} must be finite and positive")
    return arr


def integer(name: str, value: Any, lo: int, hi: int) -> int:
    """An integral number (an int, or a float with no fraction) in [lo, hi]."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be an integer in [{lo}, {hi}], got {value!r}")
    x = in_range(name, real(name, value, finite=False), lo, hi)
    if x != math.floor(x):
        raise ValueError(f"{name} must be an integer in [{lo}, {hi}], got {x}")
    return int(x)


def vector(name: str, value: npt.ArrayLike) -> Array:
    """``value`` as a contiguous 1-D float64 array, or an error naming it.

    Complex input is refused (its imaginary part would be dropped); so are
    strings and objects that are not numbers.  Finiteness and ranges are
    checked by the kernels, which name the argument too.
    """
    try:
        raw = np.asarray(value)
    except (TypeError, ValueError) as err:
        raise TypeError(f"{name}: {err}") from None
    if raw.dtype.kind == "c":
        raise TypeError(f"{name}: must be real, got a complex array")
    if raw.dtype.kind not in "biuf":
        try:
            raw = raw.astype(np.float64)
        except (TypeError, ValueError) as err:
            raise type(err)(f"{name}: {err}") from None
    if raw.ndim != 1:
        raise ValueError(f"{name}: must be one-dimensional, got an array of {raw.ndim} dimensions")
    with np.errstate(over="ignore"):
        array = np.ascontiguousarray(raw, dtype=np.float64)
    return array


def scalar(name: str, value: Any) -> float:
    """``value`` as a float, or an error "name: why" (see ``real``; infinities
    and NaN pass, the kernels refuse them with their own words)."""
    if np.ndim(value) != 0:
        raise ValueError(f"{name}: must be a scalar, got an array of shape {np.shape(value)}")
    if isinstance(value, (complex, np.complexfloating)) or np.iscomplexobj(value):
        raise TypeError(f"{name}: must be real, got the complex {value!r}")
    try:
        return float(value)
    except OverflowError:
        raise ValueError(f"{name}: {_short(value)} is too large for a double (at most 1.8e308)") from None
    except (TypeError, ValueError) as err:
        raise type(err)(f"{name}: {err}") from None
