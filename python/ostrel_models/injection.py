"""Injection of electrons into the blob: a spectral shape, a power and its
time profile.

The blob-frame injection rate per unit volume and Lorentz factor is

    Q(γ, t) = q0 · f(t) · s(γ),

with s the shape of an electron distribution (``PowerLaw``, ...), f a
dimensionless profile and q0 fixed by the power injected into the whole
blob while f = 1: L = m_e c² V ∫ γ Q dγ.

Times of the profiles are blob-frame times, plain numbers in units of the
light-crossing time R/c or Quantities of time; a callable profile receives
the blob-frame time in units of R/c.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt
from astropy import units as u

from . import validation
from .distributions import ElectronDistribution

Array = npt.NDArray[np.float64]

__all__ = ["Injection", "Profile"]


def _time(name: str, value: Any, light_crossing: float) -> float:
    """A blob-frame time in units of R/c: a Quantity of time is converted
    with the light-crossing time [s], a plain number is taken as is."""
    if isinstance(value, u.Quantity):
        x = np.asarray(validation.to_unit(name, value, u.s), dtype=float) / light_crossing
    else:
        try:
            x = np.asarray(value, dtype=float)
        except (TypeError, ValueError):
            raise TypeError(f"{name} must be a number (in R/c) or a Quantity of time, "
                            f"got {value!r}") from None
    if not np.all(np.isfinite(x)):
        raise ValueError(f"{name} must be finite")
    return x  # type: ignore[return-value]


class Profile:
    """A time profile f(t) ≥ 0 of the injection, in blob-frame time.

    Built by ``Injection.step``, ``Injection.gaussian``, ``Injection.table``
    or from a callable.  ``bind(light_crossing)`` resolves the times to units
    of R/c and returns (f, breaks, scale): the function of t [R/c], the times
    where f jumps or has a kink (the integration lands on them), and the
    shortest time over which f changes (which bounds the time step).
    """

    def __init__(self, kind: str, args: tuple[Any, ...]) -> None:
        self.kind = kind
        self.args = args

    def bind(self, light_crossing: float) -> tuple[Callable[[Array], Array], list[float], float]:
        if self.kind == "step":
            t_on = float(_time("t_on", self.args[0], light_crossing))
            t_off = float(_time("t_off", self.args[1], light_crossing))
            if not t_on < t_off:
                raise ValueError(f"step: t_on must be before t_off, got {t_on} and {t_off} R/c")
            return (lambda t: np.where((t >= t_on) & (t < t_off), 1.0, 0.0),
                    [t_on, t_off], t_off - t_on)
        if self.kind == "gaussian":
            peak = float(_time("t_peak", self.args[0], light_crossing))
            width = float(_time("width", self.args[1], light_crossing))
            if not width > 0.0:
                raise ValueError(f"gaussian: width must be positive, got {width} R/c")
            return (lambda t: np.exp(-0.5 * ((t - peak) / width) ** 2), [peak], width)
        if self.kind == "table":
            times = np.atleast_1d(_time("times", self.args[0], light_crossing)).astype(float)
            values = np.atleast_1d(np.asarray(self.args[1], dtype=float))
            if times.ndim != 1 or times.size < 2 or values.shape != times.shape:
                raise ValueError("table: times and values must be 1-D of the same length >= 2")
            if not np.all(np.diff(times) > 0.0):
                raise ValueError("table: times must be strictly increasing")
            if not (np.all(np.isfinite(values)) and np.all(values >= 0.0)):
                raise ValueError("table: values must be finite and non-negative")
            # Linear between the points, the end values held outside.
            return ((lambda t: np.interp(t, times, values)), list(times),
                    float(np.min(np.diff(times))))
        func = self.args[0]

        def call(t: Array) -> Array:
            out = np.array([float(func(float(x))) for x in np.atleast_1d(t)])
            if not (np.all(np.isfinite(out)) and np.all(out >= 0.0)):
                raise ValueError("profile: the callable returned a negative or non-finite "
                                 "factor")
            return out
        return call, [], math.inf

    def __repr__(self) -> str:
        return f"Profile.{self.kind}{self.args!r}"


class Injection:
    """Electrons injected into the blob at a blob-frame power L · f(t).

    Parameters
    ----------
    electrons : ElectronDistribution
        Spectral shape of the injected electrons, s(γ) (its normalisation is
        irrelevant).
    luminosity : Quantity [erg/s] or float (erg/s)
        Blob-frame power injected into the electrons of the whole blob while
        the profile is 1.
    profile : None, callable, Profile
        The factor f(t): None for a constant 1; a callable of the blob-frame
        time in units of R/c; or ``Injection.step(t_on, t_off)``,
        ``Injection.gaussian(t_peak, width)``, ``Injection.table(times, values)``.
    """

    def __init__(self, electrons: ElectronDistribution, luminosity: Any,
                 profile: Profile | Callable[[float], float] | None = None) -> None:
        if not isinstance(electrons, ElectronDistribution):
            raise TypeError("electrons must be an ElectronDistribution, got "
                            f"{type(electrons).__name__}")
        electrons.validate()
        self.electrons = electrons
        if isinstance(luminosity, u.Quantity):
            try:
                lum = luminosity.to_value(u.erg / u.s)
            except u.UnitConversionError:
                raise u.UnitConversionError(
                    f"luminosity: cannot convert {luminosity.unit} to erg/s") from None
        else:
            lum = luminosity
        try:
            lum = float(lum)
        except (TypeError, ValueError):
            raise TypeError(f"luminosity must be a number or a Quantity, got {luminosity!r}") \
                from None
        if not (math.isfinite(lum) and lum >= 0.0):
            raise ValueError(f"luminosity must be finite and non-negative, got {lum} erg/s")
        self.luminosity = lum * u.erg / u.s
        if profile is not None and not isinstance(profile, Profile):
            if not callable(profile):
                raise TypeError(f"profile must be None, a callable or a Profile, got {profile!r}")
            profile = Profile("callable", (profile,))
        self.profile = profile

    @staticmethod
    def step(t_on: Any, t_off: Any) -> Profile:
        """f = 1 for t_on ≤ t < t_off, 0 otherwise."""
        return Profile("step", (t_on, t_off))

    @staticmethod
    def gaussian(t_peak: Any, width: Any) -> Profile:
        """f = exp(−(t − t_peak)² / (2 width²))."""
        return Profile("gaussian", (t_peak, width))

    @staticmethod
    def table(times: Sequence[float] | Any, values: Sequence[float]) -> Profile:
        """f linear between the points (times, values), the end values held
        before the first and after the last."""
        return Profile("table", (times, values))

    def _bind(self, light_crossing: float) -> tuple[Callable[[Array], Array], list[float], float]:
        if self.profile is None:
            return (lambda t: np.ones_like(np.asarray(t, dtype=float))), [], math.inf
        return self.profile.bind(light_crossing)

    def __repr__(self) -> str:
        return (f"Injection({self.electrons!r}, luminosity={self.luminosity:.4g}, "
                f"profile={self.profile!r})")
