"""Radiation fields of the active nucleus in their geometry: the accretion
disk, the broad-line region, the dust torus and a point source behind the jet.

The blob moves along the jet axis (ẑ, the disk's normal) at height r above the
black hole; the observer's line of sight makes the angle θ_s with the axis
(cos θ_s = (1 − 1/(Γδ_D))/β, from the blob's Γ and δ_D).  Each field is
described, at any point, by a set of photon beams in the black-hole frame —
energy ε (in m_e c²), energy density U [erg cm⁻³], direction d̂ — from a
quadrature over the emitting surface and, for thermal emitters, over the
Planck spectrum:

- ``PointSourceBehindJet``: one beam along ẑ, U = L/(4π r² c);
- ``SphericalShellBLR``: a thin shell of radius R re-emitting a fraction ξ of
  the disk's luminosity in one line, each element isotropically; at distance
  x from an element dU = ξL dμ dφ/(16π² c x²), integrated in ln x, in which
  the weight is uniform (dμ = x dx/(rR)), and over φ by the midpoint rule
  (exponentially accurate for a periodic integrand); the energy density
  u(r) = ξL ln((R + r)/|R − r|)/(8π c r R) (Finke 2016, ApJ 830, 94), with
  |R − r| kept above 10⁻³ R at the shell itself, where it diverges
  logarithmically;
- ``RingDustTorus``: a thin ring of radius R_dt in the disk's plane emitting a
  fraction ξ of the disk's luminosity as a black body of temperature T; by
  default R_dt is the dust-sublimation radius of Nenkova et al. 2008
  (ApJ 685, 160, eq. 1), R_dt = 0.4 pc (L_d/10⁴⁵ erg s⁻¹)^½ (1500 K/T)^2.6;
- ``ShakuraSunyaevDisk``: a geometrically thin, optically thick disk around
  a black hole of mass M, each annulus a black body of temperature T(R) with
  σT⁴ = (3GMṀ/8πR³)(1 − √(R_in/R)) per face (Shakura & Sunyaev 1973;
  Dermer & Menon 2009, ch. 6), normalised so that the disk between R_in and
  R_out radiates ``luminosity`` (for R_in = 6 R_g and R_out → ∞ this is
  Ṁc²/12, the efficiency η = 1/12 of the default).

External Compton scattering (``ec_sed``) uses the full angular dependence of
the beams: electrons isotropic in the blob frame, γ ≫ 1, the head-on
approximation of the Klein-Nishina cross section (``kernels.external_compton``,
Dermer et al. 2009, ApJ 692, 32), valid for any Γ and δ_D.  γγ absorption of
the blob's γ-rays on a field (``opacity``) integrates the pair-production
cross section (Gould & Schréder 1967) over the beams at every point of the
photon's path from the blob to infinity (Finke 2016; Böttcher & Els 2016,
ApJ 821, 102).  The beams' sums live in ``_agn_beams``, what every field
of the nucleus does with its beams in ``_agn_field``.

Accuracy with the default resolutions (``n_mu``, ``n_phi``, ``n_energy``,
``n_radius``): the shell's scattering within 0.3 % of the isotropic field
deep inside it and of the point source far outside; thermal fields within
~1 % below the high-energy cut-off and ~2 % in it, where the Wien tail of
the seeds decides; pair opacities within 2 %.
"""

from __future__ import annotations

import math
from typing import Any

import numpy as np
import numpy.typing as npt
from astropy import units as u

from . import _constants as k
from ._agn_beams import GL4, _direction, _res, blackbody_nodes, midpoint_phi
# The opacity cache is reached as agn._OPACITY_CACHE (the benchmarks clear it).
from ._agn_field import _OPACITY_CACHE, Beams, GeometricField  # noqa: F401
from .fields import ExternalField, planck_intensity
from .parameters import Parameter

Array = npt.NDArray[np.float64]

__all__ = ["PointSourceBehindJet", "SphericalShellBLR", "RingDustTorus", "ShakuraSunyaevDisk",
           "LINES", "sublimation_radius"]

G_NEWTON, M_SUN, PC, SIGMA_SB = k.G, k.M_SUN, k.PC, k.SIGMA_SB

#: Rest wavelengths [Å] of the broad lines a shell can emit.
LINES = {"Lyalpha": 1215.67, "Lybeta": 1025.72, "CIV": 1549.06, "MgII": 2798.75,
         "Hbeta": 4861.35, "Halpha": 6562.80}

def sublimation_radius(disk_luminosity: float, temperature: float) -> float:
    """R_dt [cm] = 0.4 pc (L_d/10⁴⁵ erg s⁻¹)^½ (1500 K / T)^2.6 (Nenkova et al. 2008)."""
    return 0.4 * PC * math.sqrt(disk_luminosity / 1e45) * (1500.0 / temperature) ** 2.6


class PointSourceBehindJet(GeometricField):
    """A point source of luminosity L at the black hole emitting photons of
    one frequency (Dermer & Schlickeiser 1993).

    luminosity : Quantity [erg s⁻¹];  frequency : Quantity [Hz] (or an energy
    or a wavelength)
    """

    label = "ps"
    _parameter_names = ("luminosity", "frequency")

    def __init__(self, luminosity: Any, frequency: Any, name: str | None = None) -> None:
        super().__init__(name)
        self._add(Parameter("luminosity", luminosity, u.erg / u.s, min=1e40, max=1e49,
                            scale="log", valid=(0.0, 1e60), open_low=True,
                            description="luminosity of the source"))
        self._add(Parameter("frequency", frequency, u.Hz, min=1e11, max=1e19, scale="log",
                            frozen=True, valid=(0.0, 1e30), open_low=True, spectral=True,
                            description="frequency of its photons"))

    def scale(self) -> float:
        return 0.0

    def beams(self, px: Any, pz: Any, coarse: bool = False) -> Beams:
        px, pz = np.broadcast_arrays(np.atleast_1d(px), np.atleast_1d(pz))
        d, x = _direction(px[:, None], np.zeros((px.size, 1)), pz[:, None])
        uu = self._params["luminosity"].raw / (4.0 * math.pi * x * x * k.C)
        eps = np.full(uu.shape, self._params["frequency"].raw * k.H / k.MEC2)
        return eps, uu, d, False


class SphericalShellBLR(GeometricField):
    """A thin spherical shell of radius R re-emitting a fraction ξ of the
    disk's luminosity in one broad line (see the module docstring).

    disk_luminosity : Quantity [erg s⁻¹];  xi : float, 0 < ξ ≤ 1
    line : a name of ``LINES`` ("Lyalpha" by default) or a frequency
        (Quantity [Hz], an energy or a wavelength)
    radius : Quantity [cm]
    """

    label = "blr"
    _parameter_names = ("disk_luminosity", "xi", "frequency", "radius")

    def __init__(self, disk_luminosity: Any, xi: float, radius: Any, line: Any = "Lyalpha",
                 name: str | None = None, frequency: Any = None, n_phi: int = 12,
                 n_mu: int = 12) -> None:
        super().__init__(name)
        if frequency is None:
            if isinstance(line, str):
                if line not in LINES:
                    raise ValueError(f"line: unknown line {line!r}; known: {', '.join(LINES)}")
                frequency = (LINES[line] * u.AA).to(u.Hz, equivalencies=u.spectral())
            else:
                frequency = line
        _disk_parameters(self, disk_luminosity, xi)
        self._add(Parameter("frequency", frequency, u.Hz, min=1e13, max=1e17, scale="log",
                            frozen=True, valid=(0.0, 1e30), open_low=True, spectral=True,
                            description="frequency of the line"))
        self._add(Parameter("radius", radius, u.cm, min=1e15, max=1e20, scale="log",
                            frozen=True, valid=(0.0, 1e30), open_low=True,
                            description="radius of the shell"))
        object.__setattr__(self, "n_phi", int(n_phi))
        object.__setattr__(self, "n_mu", int(n_mu))

    def scale(self) -> float:
        return self._params["radius"].raw

    def beams(self, px: Any, pz: Any, coarse: bool = False) -> Beams:
        R = self._params["radius"].raw
        lum = self._params["xi"].raw * self._params["disk_luminosity"].raw
        px, pz = np.broadcast_arrays(np.atleast_1d(px), np.atleast_1d(pz))
        rho = np.maximum(np.hypot(px, pz), 1e-6 * R)
        x_lo, x_hi = np.maximum(abs(R - rho), 1e-3 * R), R + rho
        # n_mu pieces in ln x, whatever its range: the beams' directions span
        # the whole sky when the point is well inside the shell.
        t, w = GL4.nodes(0.0, 1.0, 1.0 / _res(self.n_mu, coarse))
        span = np.log(x_hi / x_lo)
        x = (x_lo[:, None] * np.exp(span[:, None] * t[None, :]))[:, :, None]   # (P, X, 1)
        w_x = span[:, None] * w[None, :]
        phi, w_phi = midpoint_phi(_res(self.n_phi, coarse))
        rr = rho[:, None, None]
        mu = np.clip((R * R + rr * rr - x * x) / (2.0 * rr * R), -1.0, 1.0)
        sin_re = np.sqrt(1.0 - mu * mu)
        # In the frame where the point is on the axis: from the element to it.
        lx = -R * sin_re * np.cos(phi)
        ly = -R * sin_re * np.sin(phi) * np.ones_like(mu)
        lz = (rr - R * mu) * np.ones_like(lx)
        d_loc, _ = _direction(lx, ly, lz)
        # Rotate the local axis onto the point's direction (in the x-z plane).
        ct, st = (pz / rho)[:, None, None], (px / rho)[:, None, None]
        d = np.stack([d_loc[..., 0] * ct + d_loc[..., 2] * st, d_loc[..., 1],
                      -d_loc[..., 0] * st + d_loc[..., 2] * ct], axis=-1)
        uu = (lum / (16.0 * math.pi**2 * k.C * R)) / rr * (w_x[:, :, None] * w_phi[None, None, :])
        P = rho.size
        eps = np.full((P, uu[0].size), self._params["frequency"].raw * k.H / k.MEC2)
        return eps, uu.reshape(P, -1), d.reshape(P, -1, 3), True


class RingDustTorus(GeometricField):
    """A thin ring of radius R_dt in the disk's plane re-emitting a fraction ξ
    of the disk's luminosity as a black body of temperature T.

    disk_luminosity : Quantity [erg s⁻¹];  xi : float;  temperature : Quantity [K]
    radius : Quantity [cm], optional; by default the sublimation radius of
        Nenkova et al. 2008 (``sublimation_radius``), fixed at construction.
    """

    label = "dt"
    _parameter_names = ("disk_luminosity", "xi", "temperature", "radius")

    def __init__(self, disk_luminosity: Any, xi: float, temperature: Any, radius: Any = None,
                 name: str | None = None, n_phi: int = 16, n_energy: int = 24) -> None:
        super().__init__(name)
        _disk_parameters(self, disk_luminosity, xi)
        self._add(Parameter("temperature", temperature, u.K, min=100.0, max=3000.0, scale="log",
                            frozen=True, valid=(0.0, 1e9), open_low=True,
                            description="temperature of the dust"))
        if radius is None:
            radius = sublimation_radius(self._params["disk_luminosity"].raw,
                                        self._params["temperature"].raw)
        self._add(Parameter("radius", radius, u.cm, min=1e16, max=1e21, scale="log",
                            frozen=True, valid=(0.0, 1e30), open_low=True,
                            description="radius of the ring"))
        object.__setattr__(self, "n_phi", int(n_phi))
        object.__setattr__(self, "n_energy", int(n_energy))

    def scale(self) -> float:
        return self._params["radius"].raw

    def beams(self, px: Any, pz: Any, coarse: bool = False) -> Beams:
        R = self._params["radius"].raw
        lum = self._params["xi"].raw * self._params["disk_luminosity"].raw
        px, pz = np.broadcast_arrays(np.atleast_1d(px), np.atleast_1d(pz))
        phi, w_phi = midpoint_phi(_res(self.n_phi, coarse))
        d, x = _direction(px[:, None] - R * np.cos(phi), -R * np.sin(phi) * np.ones((px.size, 1)),
                          pz[:, None] * np.ones(phi.size))
        u_ring = lum * w_phi / (2.0 * math.pi) / (4.0 * math.pi * x * x * k.C)      # (P, Φ)
        e_bb, f_bb = blackbody_nodes(self._params["temperature"].raw, _res(self.n_energy, coarse))
        P = px.size
        eps = np.broadcast_to(e_bb, (P, phi.size, e_bb.size)).reshape(P, -1)
        uu = (u_ring[:, :, None] * f_bb).reshape(P, -1)
        dd = np.broadcast_to(d[:, :, None, :], (P, phi.size, e_bb.size, 3)).reshape(P, -1, 3)
        return eps, uu, dd, True


class ShakuraSunyaevDisk(GeometricField):
    """A Shakura-Sunyaev accretion disk (see the module docstring).

    mass : Quantity [g] (e.g. in u.M_sun);  luminosity : Quantity [erg s⁻¹]
    eta : accretion efficiency, giving the accretion rate Ṁ = L/(η c²)
    r_in, r_out : inner and outer radius, in gravitational radii GM/c² (plain
        numbers) or Quantities of length.

    Besides its photons as seeds, the disk's own multi-temperature black-body
    emission is a component of the blob's SED ("disk").
    """

    label = "disk"
    _parameter_names = ("mass", "luminosity", "eta", "r_in", "r_out")

    def __init__(self, mass: Any, luminosity: Any, eta: float = 1.0 / 12.0, r_in: Any = 6.0,
                 r_out: Any = 200.0, name: str | None = None, n_radius: int = 12,
                 n_phi: int = 10, n_energy: int = 12) -> None:
        super().__init__(name)
        self._add(Parameter("mass", mass, u.g, min=1e38, max=1e44, scale="log", frozen=True,
                            valid=(0.0, 1e50), open_low=True, description="black-hole mass"))
        self._add(Parameter("luminosity", luminosity, u.erg / u.s, min=1e42, max=1e48,
                            scale="log", valid=(0.0, 1e60), open_low=True,
                            description="luminosity of the disk"))
        self._add(Parameter("eta", eta, u.dimensionless_unscaled, min=0.01, max=0.5,
                            scale="linear", frozen=True, valid=(0.0, 1.0), open_low=True,
                            description="accretion efficiency"))
        r_g = G_NEWTON * self._params["mass"].raw / k.C**2
        radii = [v.to_value(u.cm) / r_g if isinstance(v, u.Quantity) else float(v)
                 for v in (r_in, r_out)]
        for n, v in zip(("r_in", "r_out"), radii):
            self._add(Parameter(n, v, u.dimensionless_unscaled, min=1.0, max=1e5, scale="log",
                                frozen=True, valid=(1.0, 1e8),
                                description=f"{'inner' if n == 'r_in' else 'outer'} radius "
                                            "in gravitational radii"))
        if not radii[0] < radii[1]:
            raise ValueError(f"r_in must be below r_out, got {radii[0]} and {radii[1]}")
        for n, v in (("n_radius", n_radius), ("n_phi", n_phi), ("n_energy", n_energy)):
            object.__setattr__(self, n, int(v))

    @property
    def gravitational_radius(self) -> u.Quantity:
        return G_NEWTON * self._params["mass"].raw / k.C**2 * u.cm

    @property
    def accretion_rate(self) -> u.Quantity:
        """Ṁ = L/(η c²) [g s⁻¹]."""
        return self._params["luminosity"].raw / (self._params["eta"].raw * k.C**2) * u.g / u.s

    def scale(self) -> float:
        return self._params["r_out"].raw * self.gravitational_radius.value

    def temperature(self, R: Array) -> Array:
        """T(R) [K] at radii R in gravitational radii (zero inside r_in)."""
        rin, rout = self._params["r_in"].raw, self._params["r_out"].raw
        r_g = self.gravitational_radius.value
        # ∫ 2 faces · 2πR dR R⁻³(1 − √(R_in/R)) from R_in to R_out, in R_g units.
        shape = 4.0 * math.pi * ((1.0 / rin - 1.0 / rout)
                                 - (2.0 / 3.0) * math.sqrt(rin) * (rin**-1.5 - rout**-1.5))
        c = self._params["luminosity"].raw / (shape * r_g**2)     # F = c R⁻³(1 − √(R_in/R))
        R = np.asarray(R, dtype=float)
        flux = c * R**-3.0 * np.clip(1.0 - np.sqrt(rin / np.maximum(R, rin)), 0.0, None)
        return (flux / SIGMA_SB) ** 0.25

    def _rings(self, n: int) -> tuple[Array, Array]:
        """Radii [R_g] and weights of ∫ dR (Gauss-Legendre in ln R, R dR)."""
        rin, rout = self._params["r_in"].raw, self._params["r_out"].raw
        t, w = GL4.nodes(math.log(rin), math.log(rout), math.log(rout / rin) / max(1, n // 4))
        R = np.exp(t)
        return R, w * R

    def beams(self, px: Any, pz: Any, coarse: bool = False) -> Beams:
        r_g = self.gravitational_radius.value
        px, pz = np.broadcast_arrays(np.atleast_1d(px), np.atleast_1d(pz))
        R, wR = self._rings(_res(self.n_radius, coarse))
        phi, w_phi = midpoint_phi(_res(self.n_phi, coarse))
        Rc = (R * r_g)[None, :, None]
        ppx, ppz = px[:, None, None], pz[:, None, None]
        d, x = _direction(ppx - Rc * np.cos(phi), -Rc * np.sin(phi) * np.ones_like(ppx),
                          ppz * np.ones((1, R.size, phi.size)))               # (P, R, Φ)
        temp = self.temperature(R)
        # Intensity σT⁴/π over c, times the solid angle dA cos θ/x² of the element.
        u_el = (SIGMA_SB * temp**4 / (math.pi * k.C) * wR * r_g**2)[None, :, None] \
            * w_phi * np.abs(ppz) / x**3
        e_bb, f_bb = blackbody_nodes(1.0, _res(self.n_energy, coarse))
        P, shape = px.size, (px.size, R.size, phi.size, e_bb.size)
        eps = np.broadcast_to(temp[None, :, None, None] * e_bb, shape).reshape(P, -1)
        uu = (u_el[..., None] * f_bb).reshape(P, -1)
        dd = np.broadcast_to(d[:, :, :, None, :], shape + (3,)).reshape(P, -1, 3)
        return eps, uu, dd, True

    def own_sed(self, nu_obs: Array, z: float, distance: float, mu_s: float) -> Array:
        """ν F_ν of the disk seen at cos i = μ_s: ν cos i ∫ 2πR B_ν(T(R)) dR / d_L²
        at the emitted frequency ν(1 + z)."""
        r_g = self.gravitational_radius.value
        rin, rout = self._params["r_in"].raw, self._params["r_out"].raw
        # Simpson's rule in ln R; the profile is smooth but for the √ at R_in,
        # which the fine grid there resolves.
        t = np.linspace(math.log(rin), math.log(rout), 161)
        R = np.exp(t)
        temp = self.temperature(R)
        nu = nu_obs * (1.0 + z)
        out = np.zeros_like(nu_obs)
        live = k.H * nu < 700.0 * k.K_B * temp.max()          # beyond, below e⁻⁷⁰⁰
        if not np.any(live):
            return out
        b_nu = planck_intensity(nu[live, None], temp[None, :])
        integrand = 2.0 * math.pi * (R * r_g) ** 2 * b_nu         # R dR = R² dln R
        from scipy.integrate import simpson
        out[live] = nu[live] * max(mu_s, 0.0) * simpson(integrand, x=t, axis=1) / distance**2
        return out


def _disk_parameters(field: ExternalField, disk_luminosity: Any, xi: float) -> None:
    field._add(Parameter("disk_luminosity", disk_luminosity, u.erg / u.s, min=1e42, max=1e48,
                         scale="log", frozen=True, valid=(0.0, 1e60), open_low=True,
                         description="luminosity of the accretion disk"))
    field._add(Parameter("xi", xi, u.dimensionless_unscaled, min=1e-4, max=1.0, scale="linear",
                         valid=(0.0, 1.0), open_low=True,
                         description="fraction of the disk's luminosity reprocessed"))
