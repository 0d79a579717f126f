"""What lies between the blob and the observer, and the external fields'
share of the electrons' losses.

- γγ absorption of the blob's γ-rays on the external fields, from the blob
  at height r to infinity along the line of sight (``agn``), and by the
  extragalactic background light (``ebl``): the observed components are the
  intrinsic ones times e^−(τ_ext + τ_EBL).  The disk's own emission, made
  far from the jet and at energies far below the pair threshold, is only
  attenuated by the EBL.
- The fields' own emission seen by the observer (the disk's "disk").
- External-Compton losses of the electrons, per field: electrons isotropic in
  the blob frame lose energy in any field as in an isotropic one with the
  field's spectrum in the blob frame summed over directions (the average of
  the loss over the electron's direction is the same); the field's beams are
  transformed to the blob frame (ε' = Γε(1 − βμ), U' = Γ²(1 − βμ)²U) and
  gathered into lines 20 a decade, and the exact Klein-Nishina losses of the
  kernels for each line are summed.
"""

from __future__ import annotations

import math
from typing import Any

import numpy as np
import numpy.typing as npt

from . import _constants as k
from ._agn_beams import cos_viewing, log_grid_share
from .distributions import powerlaw_moment
from .fields import CMB, LineField

Array = npt.NDArray[np.float64]


def field_label(field: Any, index: int) -> str:
    """Component name of a field's external Compton emission: "ec_<name>",
    or "ec_<kind>" ("ec_blr", "ec_dt", "ec_disk", "ec_ps", "ec_cmb",
    "ec_line"), numbered when two fields share it."""
    if getattr(field, "name", None):
        return f"ec_{field.name}"
    if hasattr(field, "label"):
        return f"ec_{field.label}"
    return "ec_cmb" if isinstance(field, CMB) else "ec_line"


def field_labels(fields: tuple[Any, ...]) -> list[str]:
    labels = [field_label(f, i) for i, f in enumerate(fields)]
    return [f"{lab}{i}" if labels.count(lab) > 1 else lab for i, lab in enumerate(labels)]


def external_opacity(state: Any, nu_obs: Array) -> Array:
    """Σ over the anisotropic fields of their γγ optical depth for the blob's
    γ-rays towards the observer."""
    tau = np.zeros_like(nu_obs)
    r = getattr(state, "r", None)
    fields = [f for f in state.external if hasattr(f, "opacity")]
    if not fields or r is None:
        return tau
    theta = math.acos(cos_viewing(state.Gamma, state.doppler))
    # Photons below the lowest pair threshold of any field (ε₁ε < 1/2 with
    # ε at most ~30 kT of the hottest disk ring) need no sum.
    live = nu_obs * (1.0 + state.z) * k.H / k.MEC2 > 1e-3
    if np.any(live):
        for field in fields:
            tau[live] += field.opacity(nu_obs[live], r, state.z, theta)
    return tau


def own_emission(state: Any, nu_obs: Array) -> Array | None:
    """ν F_ν of the fields' own emission seen by the observer (the disk), or None."""
    mu_s = cos_viewing(state.Gamma, state.doppler)
    total = None
    for field in state.external:
        part = field.own_sed(nu_obs, state.z, state.distance, mu_s) \
            if hasattr(field, "own_sed") else None
        if part is not None:
            total = part if total is None else total + part
    return total


def _isotropic_beams(field: Any, z: float, n_mu: int = 16) -> tuple[Array, Array, Array]:
    """Beams of a host-isotropic field: its spectrum in all directions."""
    if isinstance(field, CMB):
        nu, u_nu = field.spectrum(z)
        dln = np.gradient(np.log(nu))
        eps, uu = nu * k.H / k.MEC2, u_nu * nu * dln
    elif isinstance(field, LineField):
        eps = np.array([field._params["frequency"].raw * k.H / k.MEC2])
        uu = np.array([field._params["energy_density"].raw])
    else:
        raise TypeError(f"no beams for {field!r}")
    mu = -1.0 + (np.arange(n_mu) + 0.5) * 2.0 / n_mu
    d = np.zeros((n_mu, 3))
    d[:, 2] = mu
    return (np.repeat(eps[None, :], n_mu, 0).ravel(), (uu[None, :] / n_mu * np.ones((n_mu, 1))).ravel(),
            np.repeat(d, eps.size, axis=0))


def blob_frame_lines(eps: Array, uu: Array, mu: Array, Gamma: float,
                     per_decade: float = 20.0) -> tuple[Array, Array]:
    """(ν' [Hz], U' [erg cm⁻³]): beams seen from a blob moving along ẑ with Γ,
    summed over directions and gathered into lines on a logarithmic grid of
    ``per_decade`` a decade (each beam shared between its two neighbouring
    lines, linearly in log ν', which keeps its energy)."""
    beta = math.sqrt(max(0.0, 1.0 - 1.0 / Gamma**2))
    f = Gamma * (1.0 - beta * mu)
    keep = (uu > 0.0) & (f > 0.0)
    nu_p, u_p = eps[keep] * f[keep] * k.MEC2 / k.H, uu[keep] * f[keep] ** 2
    return log_grid_share(nu_p, u_p, per_decade)


def blob_frame_field(field: Any, z: float, Gamma: float, r: float | None) -> tuple[Array, Array]:
    """(ν' [Hz], U' [erg cm⁻³]): the field seen from the blob at height r
    moving with Γ, as lines 20 a decade (``blob_frame_lines``); the fields
    of ``agn`` need r, the host-isotropic ones not."""
    if hasattr(field, "beams"):
        if r is None:
            raise ValueError(f"{type(field).__name__} needs the blob's distance r")
        eps, uu, d, _ = field._flat_beams(0.0, r)
    else:
        eps, uu, d = _isotropic_beams(field, z)
    if not np.any(uu > 0.0):
        return np.empty(0), np.empty(0)
    return blob_frame_lines(eps, uu, d[:, 2], Gamma)


def line_cooling(g: Array, lines: tuple[Array, Array], K: Any) -> Array:
    """Klein-Nishina loss rate −dγ/dt [s⁻¹] at the Lorentz factors g of
    electrons isotropic in a field of isotropic lines (ν' [Hz], U' [erg cm⁻³])."""
    return sum((np.asarray(K.compton_cooling_mono(g, nu1, u1))
                for nu1, u1 in zip(*lines) if u1 > 0.0), np.zeros_like(g))


def ec_losses(state: Any, K: Any, labels: list[str]) -> dict[str, float]:
    """External-Compton power lost by the electrons [erg s⁻¹], blob frame,
    per field (see the module docstring)."""
    out: dict[str, float] = {}
    r = getattr(state, "r", None)
    for field, label in zip(state.external, labels):
        lines = blob_frame_field(field, state.z, state.Gamma, r)
        cool = line_cooling(state.g, lines, K)
        out[label] = k.MEC2 * state.volume * powerlaw_moment(state.g, state.n * cool, 0.0)
    return out


def observed_components(state: Any, nu_obs: Array, K: Any, ssa: bool, gamma_gamma: bool,
                        want: tuple[str, ...], ebl_model: str | None) -> dict[str, Array]:
    """The blob's components (``sphere.components``), each field's share of
    "ec", the fields' own emission ("disk") and the total, absorbed on the
    external fields (with ``gamma_gamma``) and by the EBL (with a model);
    when either absorbs, the same names + "_intrinsic" before it."""
    from .ebl import ebl_opacity
    from .sphere import components

    parts = components(state, nu_obs, K, ssa, gamma_gamma, want)
    main: list[str] = [name for name in ("synchrotron", "ssc", "ec") if name in parts]
    disk = own_emission(state, nu_obs)
    if disk is not None:
        parts["disk"] = disk
        main.append("disk")
    parts["total"] = sum((parts[name] for name in main), np.zeros_like(nu_obs))
    tau_ext = external_opacity(state, nu_obs) if gamma_gamma else None
    tau_ebl = ebl_opacity(nu_obs, state.z, ebl_model) if ebl_model else None
    if tau_ext is None and tau_ebl is None:
        return parts
    zero = np.zeros_like(nu_obs)
    a_blob = np.exp(-((zero if tau_ext is None else tau_ext) + (zero if tau_ebl is None else tau_ebl)))
    a_disk = np.exp(-(zero if tau_ebl is None else tau_ebl))
    out = {f"{name}_intrinsic": v for name, v in parts.items()}
    for name, v in parts.items():
        if name != "total":
            out[name] = v * (a_disk if name == "disk" else a_blob)
    out["total"] = sum((out[name] for name in main), np.zeros_like(nu_obs))
    return out


def ebl_choice(blob_model: str | None, ebl: bool | str | None) -> str | None:
    """The EBL model an evaluation uses: the blob's for None or True (True
    requires one), none for False, or the model named."""
    from .ebl import EBL_MODELS
    if ebl is None or ebl is True:
        if ebl is True and blob_model is None:
            raise ValueError("ebl=True: the blob has no EBL model (set blob.ebl)")
        return blob_model
    if ebl is False:
        return None
    if ebl not in EBL_MODELS:
        raise ValueError(f"ebl: unknown EBL model {ebl!r}; known: {', '.join(EBL_MODELS)}")
    return str(ebl)
