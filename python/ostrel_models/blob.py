"""A homogeneous spherical blob of relativistic electrons, seen from Earth.

Frames and notation follow Dermer & Menon 2009 (*High Energy Radiation from
Black Holes*, hereafter DM09), chapters 5-7: primed quantities are in the
blob frame, which moves with bulk Lorentz factor Γ; the observer sees it at
Doppler factor δ_D and redshift z, at luminosity distance d_L.

- Frequencies: ν' = (1 + z) ν / δ_D for radiation emitted isotropically in
  the blob frame (DM09 ch. 5).
- Flux of a blob: ν F_ν = δ_D⁴ ν' L'_ν' / (4π d_L²), with L'_ν' the blob-frame
  luminosity per unit frequency (DM09 ch. 5, the blob case, one power of δ_D
  more than a steady jet).
- Radiation through the sphere: a homogeneous sphere of radius R, emissivity
  j' and absorption coefficient α' emits L' = 4π V j' · 3u(τ)/τ with
  τ = 2 R α' and u(τ) = 1/2 + e^−τ/τ − (1 − e^−τ)/τ² (DM09 ch. 7, the
  synchrotron self-absorbed sphere; j' V 4π when thin, 4π² R² j'/α' when
  thick).
- Seed field of self-Compton scattering: the sphere-averaged energy density
  of the blob's own, self-absorbed synchrotron radiation,
  u'(ν') = (4π/c)(j'/α') ⟨1 − e^(−α' s)⟩, averaged over the distance s from a
  point of the sphere to its surface along a random direction, whose
  distribution is p(s) = (3/4R)(1 − s²/4R²) on [0, 2R]; thin, this is
  u' = 3π j' R / c = (9/16) L'/(π R² c), the volume average of Gould (1979);
  the value at the centre, 4π j' R / c, is 4/3 of it.  The electrons, spread
  evenly through the sphere, see the volume average.
- External Compton scattering of a radiation field that is isotropic in the
  host galaxy's frame (the CMB at redshift z, or a monochromatic line field
  such as the broad-line region or the dust torus seen from inside): the
  blob's electrons, seen in the galaxy frame and moving towards the
  observer, number N(γ, Ω) = δ_D² N'(γ/δ_D) / (4πΓ) per unit γ and solid
  angle, each scattering the isotropic field along its own direction
  (γ ≫ 1); with the arrival-time compression Γδ_D this gives
  ν F_ν = ν δ_D j(ν) / d_L², j the isotropic-field emissivity of the
  distribution δ_D² N'(γ/δ_D) (Dermer 1995, ApJ 446, L63; DM09 ch. 6): the
  δ_D^(4+2α) beaming of an isotropic external field.
- Internal γγ absorption: opacity of the blob's own synchrotron field for
  pair production, added to the synchrotron absorption coefficient in the
  escape factor of every component.

Not included: absorption by the extragalactic background light, γγ
absorption on the external fields, and the self-Compton emission of the
self-Compton photons.
"""

from __future__ import annotations

import copy
import math
from collections.abc import Iterable, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt
from astropy import units as u

from . import _backends
from . import _constants as k
from .distributions import ElectronDistribution, powerlaw_moment

Array = npt.NDArray[np.float64]

__all__ = ["Blob", "CMB", "LineField", "escape_factor", "seed_factor"]

COMPONENTS = ("synchrotron", "ssc", "ec")
NUFNU_UNIT = u.erg / (u.cm**2 * u.s)


def _quantity(name: str, value: Any, unit: u.UnitBase) -> float:
    """The value of a parameter in ``unit``: a Quantity is converted, a plain
    number is taken to be in that unit already."""
    if isinstance(value, u.Quantity):
        try:
            x = value.to_value(unit)
        except u.UnitConversionError:
            raise u.UnitConversionError(
                f"{name}: cannot convert {value.unit} to {unit}") from None
    else:
        try:
            x = float(value)
        except (TypeError, ValueError):
            raise TypeError(f"{name} must be a number or a Quantity in {unit}, "
                            f"got {value!r}") from None
    if np.ndim(x) != 0:
        raise TypeError(f"{name} must be a scalar, got an array")
    x = float(x)
    if not math.isfinite(x):
        raise ValueError(f"{name} must be finite, got {x}")
    return x


def _positive(name: str, value: Any, unit: u.UnitBase) -> float:
    x = _quantity(name, value, unit)
    if x <= 0.0:
        raise ValueError(f"{name} must be positive, got {x} {unit}")
    return x


# --- radiative transfer through a homogeneous sphere ------------------------

def escape_factor(tau: npt.ArrayLike) -> Array:
    """3u(τ)/τ: emerging over emitted luminosity of a homogeneous sphere.

    τ = 2Rα is the optical depth along a diameter and
    u(τ) = 1/2 + e^−τ/τ − (1 − e^−τ)/τ² (DM09 ch. 7); 1 when thin,
    3/(2τ) when thick.  Below τ = 0.1 the closed form loses digits to
    cancellation and its series 3 Σ_{m≥1} (−1)^(m+1) (m+1)/(m+2)! τ^(m−1)
    is used (eight terms: the first left out is below 1e-12 there).
    """
    t = np.asarray(tau, dtype=float)
    out = np.empty_like(t)
    small = t < 0.1
    ts = t[small]
    series = np.zeros_like(ts)
    for m in range(8, 0, -1):
        series = series * ts + (-1.0) ** (m + 1) * (m + 1) / math.factorial(m + 2)
    out[small] = 3.0 * series
    tl = t[~small]
    e = np.exp(-tl)
    out[~small] = 3.0 / tl * (0.5 + e / tl - (-np.expm1(-tl)) / (tl * tl))
    return out


def seed_factor(tau: npt.ArrayLike) -> Array:
    """⟨1 − e^(−α s)⟩ / τ for the distance s to the surface of a sphere.

    With x = s/2R distributed as (3/2)(1 − x²) on [0, 1] and τ = 2Rα:
    ⟨e^(−τx)⟩ = (3/2)[(1 − e^−τ)/τ − (2 − e^−τ(τ² + 2τ + 2))/τ³].
    The result times (4π/c) · 2R j is the sphere-averaged energy density of
    the blob's own radiation; 3/8 when thin, 1/τ when thick.  Below τ = 0.1
    the series Σ_{k≥1} (−1)^(k+1) τ^(k−1) ⟨x^k⟩ / k! with
    ⟨x^k⟩ = 3/((k+1)(k+3)) is used (eight terms).
    """
    t = np.asarray(tau, dtype=float)
    out = np.empty_like(t)
    small = t < 0.1
    ts = t[small]
    series = np.zeros_like(ts)
    for m in range(8, 0, -1):
        series = series * ts + (-1.0) ** (m + 1) * 3.0 / ((m + 1) * (m + 3) * math.factorial(m))
    out[small] = series
    tl = t[~small]
    e = np.exp(-tl)
    mean_exp = 1.5 * (-np.expm1(-tl) / tl - (2.0 - e * (tl * tl + 2.0 * tl + 2.0)) / tl**3)
    out[~small] = (1.0 - mean_exp) / tl
    return out


# --- external photon fields --------------------------------------------------

class CMB:
    """The cosmic microwave background at the blob's redshift, isotropic in
    the host frame: a black body of temperature T₀(1 + z), T₀ = 2.7255 K."""

    def spectrum(self, z: float, n: int = 48) -> tuple[Array, Array]:
        """(ν [Hz], u_ν [erg cm⁻³ Hz⁻¹]) of the field in the host frame."""
        t = k.T_CMB0 * (1.0 + z)
        x = np.geomspace(1e-3, 40.0, n)            # hν/kT; the ends hold < 1e-7 of u
        nu = x * k.K_B * t / k.H
        u_nu = 8.0 * math.pi * k.H * nu**3 / k.C**3 / np.expm1(x)
        return nu, u_nu

    def __repr__(self) -> str:
        return "CMB()"


class LineField:
    """A monochromatic radiation field isotropic in the host frame (a
    broad-line region or dust torus seen from inside).

    energy_density : Quantity [erg cm⁻³], host frame
    frequency      : Quantity [Hz] (or anything convertible by the spectral
                     equivalency, e.g. an energy or a wavelength)
    """

    def __init__(self, energy_density: Any, frequency: Any) -> None:
        self.energy_density = _positive("energy_density", energy_density, u.erg / u.cm**3)
        if isinstance(frequency, u.Quantity):
            try:
                frequency = frequency.to(u.Hz, equivalencies=u.spectral())
            except u.UnitConversionError:
                raise u.UnitConversionError(
                    f"frequency: cannot convert {frequency.unit} to Hz") from None
        self.frequency = _positive("frequency", frequency, u.Hz)

    def __repr__(self) -> str:
        return f"LineField({self.energy_density:.3g} erg/cm3, {self.frequency:.3g} Hz)"


# --- the blob ----------------------------------------------------------------

class Blob:
    """A homogeneous sphere of electrons in a tangled field, moving towards us.

    Parameters
    ----------
    radius : Quantity [length]
        Radius R of the sphere in its own frame.
    B : Quantity [G]
        Magnetic field in the blob frame.
    doppler : float
        Doppler factor δ_D = 1/(Γ(1 − β cos θ)).
    z : float
        Redshift of the source.
    electrons : ElectronDistribution
        Shape of the electron distribution n'(γ') in the blob frame.
    energy : Quantity [erg], optional
        Total energy of the electrons in the blob frame,
        W_e = m_e c² V ∫ γ n'(γ) dγ, V = (4/3)πR³.
    density : Quantity [cm⁻³], optional
        Total number density of the electrons, ∫ n'(γ) dγ (give exactly one
        of ``energy`` and ``density``).
    Gamma : float, optional
        Bulk Lorentz factor (default: equal to ``doppler``, the blob seen at
        θ = 1/Γ).  The components depend on δ_D only; Γ must allow δ_D,
        δ_D ≤ Γ(1 + β).
    distance : Quantity [length], optional
        Luminosity distance; by default that of redshift z in the Planck 2018
        cosmology (astropy.cosmology.Planck18).
    external : sequence of CMB or LineField
        Radiation fields isotropic in the host frame, scattered by the
        electrons (the "ec" component).
    n_gamma : int, optional
        Points of the electron grid (a break is added to it); by default the
        distribution's ``default_grid_points``.
    seed_per_decade : float
        Points per decade of the grid of the synchrotron seed field.

    Every parameter can be changed later by assignment; ``sed`` checks them
    all before computing.  See the module docstring for the relations used.
    """

    _UNITS = {"radius": u.cm, "B": u.G, "energy": u.erg, "density": u.cm**-3,
              "distance": u.cm}

    def __init__(self, radius: Any, B: Any, doppler: float, z: float,
                 electrons: ElectronDistribution, energy: Any = None, density: Any = None,
                 Gamma: float | None = None, distance: Any = None,
                 external: Iterable[CMB | LineField] = (), n_gamma: int | None = None,
                 seed_per_decade: float = 8.0) -> None:
        self.radius = radius
        self.B = B
        self.doppler = doppler
        self.z = z
        self.electrons = electrons
        if (energy is None) == (density is None):
            raise ValueError("give exactly one of energy and density")
        self._norm: tuple[str, float] = ("energy", 1.0)
        if energy is not None:
            self.energy = energy
        else:
            self.density = density
        self.Gamma = Gamma
        self.distance = distance
        self.external = list(external)
        self.n_gamma = None if n_gamma is None else int(n_gamma)
        self.seed_per_decade = float(seed_per_decade)
        self._dl_cache: tuple[float, float] | None = None
        self.validate()

    # Parameters: Quantities out, Quantities or plain cgs numbers in.
    @property
    def radius(self) -> u.Quantity:
        return self._radius * u.cm

    @radius.setter
    def radius(self, value: Any) -> None:
        self._radius = _positive("radius", value, u.cm)

    @property
    def B(self) -> u.Quantity:
        return self._B * u.G

    @B.setter
    def B(self, value: Any) -> None:
        self._B = _positive("B", value, u.G)

    @property
    def doppler(self) -> float:
        return self._doppler

    @doppler.setter
    def doppler(self, value: Any) -> None:
        self._doppler = _positive("doppler", value, u.dimensionless_unscaled)

    @property
    def z(self) -> float:
        return self._z

    @z.setter
    def z(self, value: Any) -> None:
        x = _quantity("z", value, u.dimensionless_unscaled)
        if x < 0.0:
            raise ValueError(f"z must be >= 0, got {x}")
        self._z = x

    @property
    def Gamma(self) -> float:
        return self._doppler if self._Gamma is None else self._Gamma

    @Gamma.setter
    def Gamma(self, value: Any) -> None:
        if value is None:
            self._Gamma = None
            return
        x = _quantity("Gamma", value, u.dimensionless_unscaled)
        if x < 1.0:
            raise ValueError(f"Gamma must be >= 1, got {x}")
        self._Gamma = x

    @property
    def distance(self) -> u.Quantity:
        return self._luminosity_distance() * u.cm

    @distance.setter
    def distance(self, value: Any) -> None:
        self._distance = None if value is None else _positive("distance", value, u.cm)

    @property
    def energy(self) -> u.Quantity:
        """Total electron energy in the blob frame, m_e c² V ∫ γ n' dγ."""
        g, n = self._electrons()
        return k.MEC2 * self._volume() * powerlaw_moment(g, n, 1.0) * u.erg

    @energy.setter
    def energy(self, value: Any) -> None:
        self._norm = ("energy", _positive("energy", value, u.erg))

    @property
    def density(self) -> u.Quantity:
        """Total electron number density in the blob frame, ∫ n' dγ."""
        g, n = self._electrons()
        return powerlaw_moment(g, n, 0.0) * u.cm**-3

    @density.setter
    def density(self, value: Any) -> None:
        # Zero is an empty blob (the start of a flare): no electrons, no emission.
        x = _quantity("density", value, u.cm**-3)
        if x < 0.0:
            raise ValueError(f"density must be non-negative, got {x} {u.cm**-3}")
        self._norm = ("density", x)

    # --- checks and derived quantities ---------------------------------------

    def validate(self) -> None:
        """Raise ValueError naming the parameter if the blob is not usable."""
        if not isinstance(self.electrons, ElectronDistribution):
            raise TypeError("electrons must be an ElectronDistribution, got "
                            f"{type(self.electrons).__name__}")
        self.electrons.validate()
        gam = self.Gamma
        beta = math.sqrt(max(0.0, 1.0 - 1.0 / (gam * gam)))
        dmax = gam * (1.0 + beta)
        if self._doppler > dmax * (1.0 + 1e-12) or self._doppler < 1.0 / dmax * (1.0 - 1e-12):
            raise ValueError(f"doppler must lie between 1/(Gamma(1+beta)) and Gamma(1+beta) = "
                             f"{dmax:.6g} for Gamma = {gam:.6g}, got {self._doppler}")
        if self._distance is None and self._z <= 0.0:
            raise ValueError("z must be positive unless distance is given")
        if self.n_gamma is not None and self.n_gamma < 8:
            raise ValueError(f"n_gamma must be at least 8, got {self.n_gamma}")
        if not self.seed_per_decade >= 2.0:
            raise ValueError(f"seed_per_decade must be at least 2, got {self.seed_per_decade}")
        for field in self.external:
            if not isinstance(field, (CMB, LineField)):
                raise TypeError(f"external fields must be CMB or LineField, got {field!r}")

    @property
    def viewing_angle(self) -> u.Quantity:
        """Angle θ between the motion and the line of sight, from Γ and δ_D."""
        gam = self.Gamma
        beta = math.sqrt(max(0.0, 1.0 - 1.0 / (gam * gam)))
        if beta == 0.0:
            return 90.0 * u.deg
        mu = (1.0 - 1.0 / (gam * self._doppler)) / beta
        return math.degrees(math.acos(min(1.0, max(-1.0, mu)))) * u.deg

    def _volume(self) -> float:
        return 4.0 / 3.0 * math.pi * self._radius**3

    def _luminosity_distance(self) -> float:
        if self._distance is not None:
            return self._distance
        if self._dl_cache is None or self._dl_cache[0] != self._z:
            from astropy.cosmology import Planck18
            self._dl_cache = (self._z, float(Planck18.luminosity_distance(self._z).to_value(u.cm)))
        return self._dl_cache[1]

    def _electrons(self) -> tuple[Array, Array]:
        """Grid γ' and the normalised density n'(γ') [cm⁻³ per unit γ]."""
        points = self.electrons.default_grid_points if self.n_gamma is None else self.n_gamma
        g = self.electrons.grid(points)
        shape = self.electrons.shape(g)
        kind, value = self._norm
        if value == 0.0:
            return g, np.zeros_like(shape)
        if kind == "energy":
            norm = value / (k.MEC2 * self._volume() * powerlaw_moment(g, shape, 1.0))
        else:
            norm = value / powerlaw_moment(g, shape, 0.0)
        if not (math.isfinite(norm) and norm > 0.0):
            raise ValueError("electrons: the shape integrates to zero or overflows on "
                             f"[{self.electrons.gamma_min:.3g}, {self.electrons.gamma_max:.3g}]")
        return g, norm * shape

    def electron_distribution(self) -> tuple[Array, u.Quantity]:
        """(γ', n'(γ') [cm⁻³]) on the grid the model computes with."""
        g, n = self._electrons()
        return g, n * u.cm**-3

    def _seed_grid(self, g: Array) -> Array:
        nu_b = k.NU_B_PER_GAUSS * self._B
        lo = 1e-2 * nu_b * g[0] ** 2
        hi = 30.0 * nu_b * g[-1] ** 2
        n = max(16, int(math.ceil(math.log10(hi / lo) * self.seed_per_decade)) + 1)
        return np.geomspace(lo, hi, n)

    # --- the computation -----------------------------------------------------

    def _synchrotron_field(self, K: Any, g: Array, n: Array, ssa: bool,
                           extra_nu: Array) -> tuple[Array, Array, Array, Array, Array]:
        """Seed grid ν', its sphere-averaged u'(ν'), and j', α' at extra_nu."""
        seed = self._seed_grid(g)
        # One kernel call on the increasing union of both grids, up to
        # ν = 50 ν_c(γ_max) with ν_c = (3/2) ν_B γ²: above, the emission of
        # every electron is below e^-50 of its peak and is set to zero.
        nu_top = 75.0 * k.NU_B_PER_GAUSS * self._B * g[-1] ** 2
        grid = np.unique(np.concatenate([seed, extra_nu[extra_nu < nu_top]]))
        j, a = K.synchrotron(grid, g, n, self._B)
        j, a = np.append(np.asarray(j), 0.0), np.append(np.asarray(a), 0.0)
        if not ssa:
            a = np.zeros_like(a)
        at_seed = np.searchsorted(grid, seed)
        at_extra = np.where(extra_nu < nu_top, np.searchsorted(grid, extra_nu), grid.size)
        two_r = 2.0 * self._radius
        a_seed = a[at_seed]
        u_seed = 4.0 * math.pi / k.C * j[at_seed] * two_r * seed_factor(two_r * a_seed)
        return seed, u_seed, j[at_extra], a[at_extra], a_seed

    def seed_field(self, kernels: str = "accurate", ssa: bool = True) -> tuple[u.Quantity, u.Quantity]:
        """The blob-frame synchrotron field the electrons scatter (SSC).

        Returns (ν' [Hz], u'_ν' [erg cm⁻³ Hz⁻¹]), the sphere-averaged spectral
        energy density (see the module docstring).
        """
        self.validate()
        g, n = self._electrons()
        seed, u_seed, *_ = self._synchrotron_field(_backends.get(kernels), g, n, ssa,
                                                   np.empty(0))
        return seed * u.Hz, u_seed * u.erg / u.cm**3 / u.Hz

    def _components(self, nu_obs: Array, kernels: str, ssa: bool,
                    gamma_gamma: bool, want: Sequence[str]) -> dict[str, Array]:
        self.validate()
        K = _backends.get(kernels)
        g, n = self._electrons()
        d = self._doppler
        zp1 = 1.0 + self._z
        nu_c = nu_obs * zp1 / d                       # blob-frame frequencies
        seed, u_seed, j_syn, a_syn, _ = self._synchrotron_field(K, g, n, ssa, nu_c)

        out: dict[str, Array] = {}
        alpha = a_syn.copy()
        if gamma_gamma:
            alpha += np.asarray(K.gamma_gamma_opacity(nu_c, seed, u_seed))
        esc = escape_factor(2.0 * self._radius * alpha)
        dl2 = self._luminosity_distance() ** 2
        vol = self._volume()
        # ν F_ν = δ⁴ ν' L'_ν' / (4π d_L²) with L' = 4π V j' · escape.
        to_flux = d**4 * nu_c * vol * esc / dl2

        if "synchrotron" in want:
            out["synchrotron"] = to_flux * j_syn
        if "ssc" in want:
            j_ssc = np.zeros_like(nu_c)
            # Self-Compton emission lies below the kinematic limit γ_max m_e c²/h;
            # from the lowest seed (itself far below the synchrotron peak and
            # self-absorbed) γ_min scatters to ~γ_min² ν_seed, and below a
            # hundredth of that the emission is left out.
            lo = 1e-2 * seed[0] * g[0] ** 2
            hi = g[-1] * k.MEC2 / k.H
            sel = (nu_c > lo) & (nu_c < hi)
            if np.any(sel):
                j_ssc[sel] = K.inverse_compton(nu_c[sel], g, n, seed, u_seed)
            out["ssc"] = to_flux * j_ssc
        if "ec" in want:
            ec = np.zeros_like(nu_c)
            if self.external:
                nu_h = nu_obs * zp1
                g_h = d * g
                n_h = d * d * vol * n                 # δ² N'(γ/δ), per unit host-frame γ
                for field in self.external:
                    if isinstance(field, CMB):
                        s_nu, s_u = field.spectrum(self._z)
                        sel = nu_h > s_nu[0]
                        if np.any(sel):
                            ec[sel] += K.inverse_compton(nu_h[sel], g_h, n_h, s_nu, s_u)
                    else:
                        sel = nu_h > field.frequency
                        if np.any(sel):
                            ec[sel] += K.inverse_compton_mono(nu_h[sel], g_h, n_h,
                                                              field.frequency,
                                                              field.energy_density)
                # ν F_ν = ν δ_D j(ν) / d_L², j per steradian of δ² N'(γ/δ).
                ec = nu_h * d * ec / dl2 * esc
            out["ec"] = ec
        return out

    def _frequencies(self, nu: Any) -> tuple[Array, Array]:
        """The distinct frequencies [Hz] in increasing order (what the kernels
        take) and the indices that give back the caller's order."""
        if isinstance(nu, u.Quantity):
            try:
                x = nu.to_value(u.Hz, equivalencies=u.spectral())
            except u.UnitConversionError:
                raise u.UnitConversionError(f"nu: cannot convert {nu.unit} to Hz") from None
        else:
            x = nu
        arr = np.atleast_1d(np.asarray(x, dtype=float))
        if arr.ndim != 1:
            raise ValueError(f"nu must be one-dimensional, got shape {arr.shape}")
        if not (np.all(np.isfinite(arr)) and np.all(arr > 0.0)):
            raise ValueError("nu must be finite and positive")
        distinct, back = np.unique(arr, return_inverse=True)
        return distinct, back

    def sed(self, nu: Any, component: str = "total", kernels: str = "accurate",
            ssa: bool = True, gamma_gamma: bool = True) -> u.Quantity:
        """Observed ν F_ν [erg cm⁻² s⁻¹] at observed frequencies ``nu``.

        nu : Quantity [Hz] (or energies/wavelengths, by the spectral
            equivalency), or plain numbers in Hz; any order.
        component : "total", "synchrotron", "ssc" or "ec".
        kernels : "accurate" (ostrel_models.kernels) or "classic" (ostrel).
        ssa : synchrotron self-absorption through the sphere (also in the
            seed field of the self-Compton scattering).
        gamma_gamma : internal γγ absorption on the synchrotron field.
        """
        if component != "total" and component not in COMPONENTS:
            raise ValueError(f"component must be 'total' or one of {COMPONENTS}, "
                             f"got {component!r}")
        x, back = self._frequencies(nu)
        want = COMPONENTS if component == "total" else (component,)
        parts = self._components(x, kernels, ssa, gamma_gamma, want)
        values = sum(parts.values()) if component == "total" else parts[component]
        return np.asarray(values)[back] * NUFNU_UNIT

    def seds(self, nu: Any, kernels: str = "accurate", ssa: bool = True,
             gamma_gamma: bool = True) -> dict[str, u.Quantity]:
        """All components and their total from one computation, as ``sed``."""
        x, back = self._frequencies(nu)
        parts = self._components(x, kernels, ssa, gamma_gamma, COMPONENTS)
        parts["total"] = sum(parts.values())
        return {name: v[back] * NUFNU_UNIT for name, v in parts.items()}

    def electron_losses(self, kernels: str = "accurate", ssa: bool = True) -> dict[str, u.Quantity]:
        """Power the electrons lose [erg s⁻¹], blob frame, whole blob.

        m_e c² V ∫ n'(γ) |dγ/dt| dγ for synchrotron and for Compton
        scattering of the blob's own field (exact Klein-Nishina losses of the
        kernels); the integral uses the grid's power-law segments.
        """
        self.validate()
        K = _backends.get(kernels)
        g, n = self._electrons()
        seed, u_seed, *_ = self._synchrotron_field(K, g, n, ssa, np.empty(0))
        vol = self._volume()
        syn = np.asarray(K.synchrotron_cooling(g, self._B))
        ssc = np.asarray(K.compton_cooling(g, seed, u_seed))
        return {"synchrotron": k.MEC2 * vol * _segment_integral(g, n * syn) * u.erg / u.s,
                "ssc": k.MEC2 * vol * _segment_integral(g, n * ssc) * u.erg / u.s}

    def copy(self) -> Blob:
        """An independent copy (the electrons and external fields included)."""
        return copy.deepcopy(self)

    def __repr__(self) -> str:
        kind, value = self._norm
        unit = "erg" if kind == "energy" else "cm-3"
        return (f"Blob(radius={self._radius:.4g} cm, B={self._B:.4g} G, doppler={self._doppler:.4g}, "
                f"z={self._z:.4g}, electrons={self.electrons!r}, {kind}={value:.4g} {unit}, "
                f"Gamma={self.Gamma:.4g}, external={self.external!r})")


def _segment_integral(x: Array, y: Array) -> float:
    """∫ y dx, y a power law between grid points (zero where it vanishes)."""
    return powerlaw_moment(x, y, 0.0)
