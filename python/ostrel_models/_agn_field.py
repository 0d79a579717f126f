"""The base of the fields of the nucleus (``agn``): a field described at any
point by photon beams in the black-hole frame, scattered by the blob's
electrons with the full angular dependence and absorbing the blob's γ-rays
along their path (see the ``agn`` module docstring for the physics)."""

from __future__ import annotations

import math
from typing import Any

import numpy as np
import numpy.typing as npt
from astropy import units as u

from . import _constants as k
from . import validation
from ._agn_beams import cos_viewing, gamma_gamma_coefficient, path_nodes
from .fields import ExternalField, host_scattering

Array = npt.NDArray[np.float64]

Beams = tuple[Array, Array, Array, bool]   # ε, U, direction (K, 3), smooth


class GeometricField(ExternalField):
    """A field whose angular distribution in the black-hole frame matters."""

    isotropic = False
    #: Label of the field's component ("ec_<label>") when it has no name.
    label = "field"

    def beams(self, px: Any, pz: Any, coarse: bool = False) -> Beams:
        """Photon beams at the points (px, 0, pz) [cm] (the axis is ẑ; px and
        pz scalars or arrays of shape (P,)): ε and U of shape (P, K), the
        directions (P, K, 3), and whether they sample a continuous field.
        ``coarse`` halves the angular and spectral resolution (for the γγ
        opacity, an integral along the path as well)."""
        raise NotImplementedError

    def _flat_beams(self, px: float, pz: float) -> tuple[Array, Array, Array, bool]:
        eps, uu, d, smooth = self.beams(np.array([px]), np.array([pz]))
        return eps[0], uu[0], d[0], smooth

    def component(self) -> str:
        """Name of the field's share of the external Compton emission."""
        from ._observed import field_label
        return field_label(self, 0)

    def _host_beams(self, r: float, mu_s: float) -> tuple[Array, Array, bool]:
        """(w = ε(1 − cos ψ), U/ε²) of the beams at height r for the line of sight."""
        eps, uu, d, smooth = self._flat_beams(0.0, r)
        sin_s = math.sqrt(max(0.0, 1.0 - mu_s * mu_s))
        one_minus = 1.0 - (d[:, 0] * sin_s + d[:, 2] * mu_s)
        keep = (one_minus > 0.0) & (uu > 0.0)
        return eps[keep] * one_minus[keep], uu[keep] / eps[keep] ** 2, smooth

    def ec_sed(self, state: Any, nu_obs: Array, K: Any) -> Array:
        if not hasattr(K, "external_compton"):
            raise ValueError(f"{type(self).__name__}: external Compton on an anisotropic field "
                             "needs the accurate kernels (kernels='accurate')")
        r = getattr(state, "r", None)
        if r is None or not r > 0.0:
            raise ValueError(f"{type(self).__name__} needs the blob's distance r from the black hole")
        w, a, smooth = self._host_beams(r, cos_viewing(state.Gamma, state.doppler))
        if w.size == 0:
            return np.zeros_like(nu_obs)
        return host_scattering(state, nu_obs, lambda nu_h, g_h, n_h: K.external_compton(
            nu_h, g_h, n_h, w * k.MEC2 / k.H, a, smooth))

    def energy_density(self, r: Any) -> u.Quantity:
        """Energy density [erg cm⁻³] of the field at height r on the axis
        (black-hole frame)."""
        _, uu, _, _ = self._flat_beams(0.0, validation.positive("r", r, u.cm))
        return float(uu.sum()) * u.erg / u.cm**3

    def opacity(self, nu: Any, r: Any, z: float, theta_s: Any = 0.0) -> Array:
        """Optical depth for pair production on this field of γ-rays observed
        at frequency ν, emitted at height r on the axis towards a line of
        sight at angle θ_s to it (a Quantity angle, or radians), along their
        path from the blob to infinity.  See the module docstring."""
        nu_h = np.atleast_1d(validation.frequencies("nu", nu)) * (1.0 + float(z))
        rr = validation.positive("r", r, u.cm)
        th = theta_s.to_value(u.rad) if isinstance(theta_s, u.Quantity) else float(theta_s)
        ls, lw = path_nodes(rr, self.scale())
        eps1 = nu_h * k.H / k.MEC2
        # The depth depends on the field and the geometry only, not on the
        # electrons that a fit mostly varies: the last few are kept.
        key = (type(self).__name__, tuple(p.raw for p in self.parameters.values()),
               self._resolution(), rr, float(z), th, eps1.tobytes())
        tau = _OPACITY_CACHE.get(key)
        if tau is None:
            tau = self._opacity(eps1, rr, th)
            while len(_OPACITY_CACHE) >= 16:
                _OPACITY_CACHE.pop(next(iter(_OPACITY_CACHE)), None)
            _OPACITY_CACHE[key] = tau
        tau = tau.copy()
        return tau.reshape(np.shape(nu)) if np.ndim(nu) else tau

    def _opacity(self, eps1: Array, rr: float, th: float) -> Array:
        ls, lw = path_nodes(rr, self.scale())
        eps, uu, d, _ = self.beams(ls * math.sin(th), rr + ls * math.cos(th), coarse=True)
        cos_psi = d[..., 0] * math.sin(th) + d[..., 2] * math.cos(th)
        return gamma_gamma_coefficient(eps1, eps.ravel(), (uu * lw[:, None]).ravel(),
                                       cos_psi.ravel())

    def scale(self) -> float:
        """A length [cm] beyond which the field falls off as 1/distance²."""
        raise NotImplementedError

    def _resolution(self) -> tuple[int, ...]:
        return tuple(int(self.__dict__.get(n, 0)) for n in ("n_mu", "n_phi", "n_energy", "n_radius"))

    def own_sed(self, nu_obs: Array, z: float, distance: float, mu_s: float) -> Array | None:
        """ν F_ν [erg cm⁻² s⁻¹] of the field's own emission seen by the observer,
        or None when it has none of its own."""
        return None


_OPACITY_CACHE: dict[tuple[Any, ...], Array] = {}
