"""Radiation fields outside the blob that its electrons scatter ("ec").

``ExternalField`` is the base of every such field.  A field holds its
numbers as ``Parameter`` objects (``field.parameters``; attributes return
Quantities) and provides its own external-Compton emission given the state of
the blob: ``field.ec_sed(state, nu_obs, K)`` → observed ν F_ν
[erg cm⁻² s⁻¹] at the observed frequencies ``nu_obs`` (distinct, increasing,
Hz), before the blob's internal γγ absorption, which the blob applies.  A
field that absorbs the blob's radiation on its way out (pair production on
its photons) returns the transmitted fraction from
``field.transmission(state, nu_obs)``; the blob multiplies every component by
it (the default, None, absorbs nothing).
``state`` is a ``sphere.BlobState`` (plain cgs values), ``K`` the kernel set.
A field whose emission depends on the bulk Lorentz factor or the viewing
angle (one anisotropic in the host frame) keeps ``isotropic = False``.

Fields isotropic in the host galaxy's frame (``IsotropicField``: the CMB, a
monochromatic line field such as the broad-line region or the dust torus
seen from inside) share one computation: the blob's electrons, seen in the
galaxy frame and moving towards the observer, number
N(γ, Ω) = δ_D² N'(γ/δ_D) / (4πΓ) per unit γ and solid angle, each scattering
the isotropic field along its own direction (γ ≫ 1); with the arrival-time
compression Γδ_D this gives ν F_ν = ν δ_D j(ν) / d_L², j the isotropic-field
emissivity of the distribution δ_D² N'(γ/δ_D) (Dermer 1995, ApJ 446, L63;
Dermer & Menon 2009, ch. 6): the δ_D^(4+2α) beaming, which depends on δ_D
alone, not on Γ.

An off-axis blob (δ_D < 1) maps blob-frame electrons γ' < 1/δ_D to host-frame
"Lorentz factors" δ_D γ' < 1.  The relation γ = δ_D γ' is that of electrons
moving along the line of sight with γ ≫ 1; electrons that end near or below
γ = 1 are slow in the host frame and scatter the field with a power
∝ γ²β² → 0 and no boost, so the host-frame distribution is cut at γ = 1
(its density there interpolated as a power law) and the part below left out.
"""

from __future__ import annotations

import math
from collections.abc import Callable
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt
from astropy import units as u

from . import _constants as k
from .parameters import Parameter, Parameters

if TYPE_CHECKING:
    from .sphere import BlobState

Array = npt.NDArray[np.float64]

__all__ = ["ExternalField", "IsotropicField", "CMB", "LineField"]

_REGISTRY: dict[str, type[ExternalField]] = {}


class ExternalField:
    """Base of the external radiation fields (see the module docstring).

    Subclasses call ``super().__init__(name)``, name their parameters in
    ``_parameter_names`` and give each a ``Parameter`` (``self._add``);
    attributes of those names read (Quantities) and write the parameters.
    Their constructors take the parameters by name and ``name=`` (what
    ``from_dict`` passes); other settings go into ``to_dict``/``from_dict``
    of their own.
    """

    #: Whether the field is isotropic in the host frame (then only δ_D matters).
    isotropic = False
    name: str | None = None
    _parameter_names: tuple[str, ...] = ()

    def __init_subclass__(cls, **kwargs: Any) -> None:
        super().__init_subclass__(**kwargs)
        _REGISTRY[cls.__name__] = cls

    def __init__(self, name: str | None = None) -> None:
        if name is not None and (not isinstance(name, str) or not name.isidentifier()):
            raise ValueError(f"name must be an identifier (letters, digits, _), got {name!r}")
        object.__setattr__(self, "name", name)
        object.__setattr__(self, "_params", {})

    def _add(self, parameter: Parameter) -> None:
        self.__dict__["_params"][parameter.name] = parameter

    def __getattr__(self, name: str) -> Any:
        params = self.__dict__.get("_params")
        if params is not None and name in params:
            return params[name].value
        raise AttributeError(f"{type(self).__name__!r} object has no attribute {name!r}")

    def __setattr__(self, name: str, value: Any) -> None:
        params = self.__dict__.get("_params")
        if params is not None and name in params:
            params[name].value = value
        else:
            object.__setattr__(self, name, value)

    @property
    def parameters(self) -> Parameters:
        params = self.__dict__.get("_params", {})
        return Parameters((n, params[n]) for n in self._parameter_names)

    def snapshot(self) -> ExternalField:
        """A copy with the present values of the parameters (one evaluation's);
        other attributes are shared, so a subclass holding mutable state of
        its own overrides this."""
        new = object.__new__(type(self))
        new.__dict__.update(self.__dict__)
        new.__dict__["_params"] = {k: p.clone() for k, p in self.__dict__["_params"].items()}
        return new

    def ec_sed(self, state: BlobState, nu_obs: Array, K: Any) -> Array:
        """Observed ν F_ν [erg cm⁻² s⁻¹] of the blob's electrons scattering
        this field, at observed frequencies ``nu_obs`` [Hz]."""
        raise NotImplementedError

    def transmission(self, state: BlobState, nu_obs: Array) -> Array | None:
        """Fraction of the blob's radiation at observed ``nu_obs`` that passes
        this field on its way out (γγ absorption), or None for no absorption
        (the default)."""
        return None

    def to_dict(self) -> dict[str, Any]:
        return {"type": type(self).__name__, "name": self.name,
                "parameters": {n: p.to_dict() for n, p in self.parameters.items()}}

    @classmethod
    def from_dict(cls, d: dict[str, Any]) -> ExternalField:
        """The field ``to_dict`` describes (of any registered type)."""
        kind = _REGISTRY.get(d.get("type", ""))
        if kind is None:
            raise ValueError(f"unknown external field type {d.get('type')!r}")
        params = d.get("parameters", {})
        field = kind(**{n: v["value"] for n, v in params.items()}, name=d.get("name"))
        for n, v in params.items():
            field.parameters[n].apply(v)
        return field

    def _repr_args(self) -> list[str]:
        out = [f"{n}={p.raw:.6g} {p.unit.to_string()}".rstrip()
               for n, p in self.parameters.items()]
        return out + ([f"name={self.name!r}"] if self.name else [])

    def __repr__(self) -> str:
        return f"{type(self).__name__}({', '.join(self._repr_args())})"


class IsotropicField(ExternalField):
    """A field isotropic in the host frame; subclasses give ``scatter``."""

    isotropic = True

    def scatter(self, nu: Array, gamma: Array, n: Array, K: Any, z: float) -> Array:
        """Emissivity per steradian [erg s⁻¹ Hz⁻¹ sr⁻¹] of ``n`` host-frame
        electrons per unit γ (not per volume) at host-frame ``nu``."""
        raise NotImplementedError

    def ec_sed(self, state: BlobState, nu_obs: Array, K: Any) -> Array:
        return host_scattering(state, nu_obs,
                               lambda nu_h, g_h, n_h: self.scatter(nu_h, g_h, n_h, K, state.z))


def host_scattering(state: BlobState, nu_obs: Array,
                    emissivity: Callable[[Array, Array, Array], Any]) -> Array:
    """Observed ν F_ν [erg cm⁻² s⁻¹] of the blob's electrons seen in the host
    frame (``host_electrons``) scattering a field along the line of sight:
    ν δ_D j(ν)/d_L² at the host-frame ν = (1 + z)ν_obs, with
    j = emissivity(ν, γ, N) per steradian of the N(γ) = δ_D² V n'(γ/δ_D)
    (see the module docstring)."""
    d = state.doppler
    nu_h = nu_obs * (1.0 + state.z)
    g_h, n_h = host_electrons(state.g, state.n, d, state.volume)
    out = np.zeros_like(nu_obs)
    if g_h.size < 2:
        return out
    j = np.asarray(emissivity(nu_h, g_h, n_h))
    live = j > 0.0
    out[live] = nu_h[live] * (d / state.distance**2) * j[live]
    return out


def planck_intensity(nu: Array, temperature: Any) -> Array:
    """B_ν(T) = (2hν³/c²)/(e^(hν/kT) − 1) [erg cm⁻² s⁻¹ Hz⁻¹ sr⁻¹] (arrays
    broadcast); zero where hν/kT > 700, below e⁻⁷⁰⁰ of the peak."""
    x = k.H * nu / (k.K_B * np.maximum(temperature, 1e-300))
    return np.where(x < 700.0, 2.0 * k.H * nu**3 / k.C**2 / np.expm1(np.minimum(x, 700.0)), 0.0)


def host_electrons(g: Array, n: Array, doppler: float, volume: float) -> tuple[Array, Array]:
    """Host-frame grid δγ' and number δ² V n'(γ') per unit γ, cut at γ = 1
    (see the module docstring); an empty grid when nothing is left."""
    g_h = doppler * g
    n_h = doppler * doppler * volume * n
    if g_h[0] >= 1.0:
        return g_h, n_h
    i = int(np.searchsorted(g_h, 1.0))           # first point at or above γ = 1
    if i >= g_h.size:
        return g_h[:0], n_h[:0]
    if g_h[i] == 1.0:
        return g_h[i:], n_h[i:]
    lo, hi = n_h[i - 1], n_h[i]
    if lo > 0.0 and hi > 0.0:
        s = math.log(hi / lo) / math.log(g_h[i] / g_h[i - 1])
        at_one = lo * (1.0 / g_h[i - 1]) ** s
    else:
        at_one = 0.0
    return np.concatenate([[1.0], g_h[i:]]), np.concatenate([[at_one], n_h[i:]])


class CMB(IsotropicField):
    """The cosmic microwave background at the blob's redshift, isotropic in
    the host frame: a black body of temperature T₀(1 + z), T₀ = 2.7255 K
    (no free parameters: the temperature follows the blob's z)."""

    def spectrum(self, z: float, n: int = 224) -> tuple[Array, Array]:
        """(ν [Hz], u_ν [erg cm⁻³ Hz⁻¹]) of the field in the host frame.

        The kernels take the table as a power law between its points; the
        error of that, of order (Δ ln x)²/8 times the curvature of the Planck
        curve, is 7e-4 of the energy density with 224 points (1.5e-2 with 48).
        """
        t = k.T_CMB0 * (1.0 + z)
        x = np.geomspace(1e-3, 40.0, n)            # hν/kT; the ends hold < 1e-7 of u
        nu = x * k.K_B * t / k.H
        return nu, 4.0 * math.pi / k.C * planck_intensity(nu, t)

    def scatter(self, nu: Array, gamma: Array, n: Array, K: Any, z: float) -> Array:
        s_nu, s_u = self.spectrum(z)
        out = np.zeros_like(nu)
        # Scattered photons lie above the lowest seed and below γ_max m_e c²
        # plus the highest seed energy.
        sel = (nu > s_nu[0]) & (nu < gamma[-1] * k.MEC2 / k.H + s_nu[-1])
        if np.any(sel):
            out[sel] = K.inverse_compton(nu[sel], gamma, n, s_nu, s_u)
        return out


class LineField(IsotropicField):
    """A monochromatic radiation field isotropic in the host frame (a
    broad-line region or dust torus seen from inside).

    energy_density : Quantity [erg cm⁻³], host frame
    frequency      : Quantity [Hz] (or anything convertible by the spectral
                     equivalency, e.g. an energy or a wavelength)
    name           : str, optional; the blob then names the parameters
                     ``external.<name>.energy_density``
    """

    _parameter_names = ("energy_density", "frequency")

    def __init__(self, energy_density: Any, frequency: Any, name: str | None = None) -> None:
        super().__init__(name)
        self._add(Parameter("energy_density", energy_density, u.erg / u.cm**3, min=1e-8,
                            max=10.0, scale="log", valid=(0.0, 1e30), open_low=True,
                            description="energy density in the host frame"))
        self._add(Parameter("frequency", frequency, u.Hz, min=1e11, max=1e17, scale="log",
                            frozen=True, valid=(0.0, 1e30), open_low=True, spectral=True,
                            description="frequency of the line"))

    def scatter(self, nu: Array, gamma: Array, n: Array, K: Any, z: float) -> Array:
        nu0 = self._params["frequency"].raw
        u0 = self._params["energy_density"].raw
        out = np.zeros_like(nu)
        sel = (nu > nu0) & (nu < gamma[-1] * k.MEC2 / k.H + nu0)
        if np.any(sel):
            out[sel] = K.inverse_compton_mono(nu[sel], gamma, n, nu0, u0)
        return out
