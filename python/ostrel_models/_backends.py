"""The two kernel sets behind the blob model, with one calling convention.

Both sets are reached through the interface of ``ostrel_models.kernels``
(cgs, NumPy float64, emissivities per steradian, seeds as spectral energy
density on their own grid).  ``"accurate"`` is that module itself;
``"classic"`` adapts the functions of the ``ostrel`` extension module:

- ``ic_iso_powlaw_full`` wants the seed as an intensity I = c u / 4π on its
  own output grid, so the seed grid and the requested frequencies are merged
  into one grid (the seed a power law between its points, zero outside);
- ``ic_iso_monochrome_full`` returns the emissivity into all directions,
  divided here by 4π;
- ``rad_cool_mono`` returns C u γβ F_KN, multiplied here by γβ;
- the classic set has no synchrotron loss rate (the closed form
  (4/3) σ_T c u_B γ²β² / m_e c² is used) and no γγ opacity: its namespace has
  no ``gamma_gamma_opacity``, and ``gamma_gamma_wanted`` decides what a model
  does then (the classic set never calls the accurate one behind the user's
  back).
"""

from __future__ import annotations

import math
import warnings
from types import SimpleNamespace
from typing import Any

import numpy as np

from . import _constants as k

__all__ = ["get", "available_kernels", "have_accurate", "gamma_gamma_wanted"]

_CACHE: dict[str, Any] = {}


#: The kernels the blob model calls.
REQUIRED = ("synchrotron", "synchrotron_cooling", "inverse_compton", "inverse_compton_mono",
            "compton_cooling", "compton_cooling_mono", "gamma_gamma_opacity")


def have_accurate() -> bool:
    """Whether ostrel_models.kernels is built with every kernel the model needs."""
    try:
        _accurate()
    except ImportError:
        return False
    return True


def _accurate() -> Any:
    try:
        from . import kernels  # type: ignore[attr-defined]
    except ImportError as exc:  # pragma: no cover - depends on the build
        raise ImportError(
            "the accurate kernels (ostrel_models.kernels) are not built in this installation; "
            "use kernels='classic'") from exc
    missing = [name for name in REQUIRED if not hasattr(kernels, name)]
    if missing:
        raise ImportError(f"ostrel_models.kernels lacks {', '.join(missing)}; "
                          "use kernels='classic'")
    return kernels


def _classic() -> SimpleNamespace:
    import ostrel

    def synchrotron(nu, gamma, n, B):
        j, a = ostrel.syn_emissivity_full(nu, gamma, n, float(B), True)
        return np.asarray(j), np.asarray(a)

    def _seed_on(nu, seed_nu, seed_u):
        # Seed u as a power law between its points, zero outside, at nu.
        out = np.zeros_like(nu)
        inside = (nu >= seed_nu[0]) & (nu <= seed_nu[-1])
        pos = seed_u > 0.0
        if np.count_nonzero(pos) >= 2:
            lu = np.interp(np.log(nu[inside]), np.log(seed_nu[pos]), np.log(seed_u[pos]))
            out[inside] = np.exp(lu)
        return out

    def inverse_compton(nu, gamma, n, seed_nu, seed_u):
        nu = np.asarray(nu, dtype=float)
        grid = np.unique(np.concatenate([seed_nu, nu]))
        inu = k.C / (4.0 * math.pi) * _seed_on(grid, np.asarray(seed_nu), np.asarray(seed_u))
        j = np.asarray(ostrel.ic_iso_powlaw_full(grid, inu, gamma, n))
        return j[np.searchsorted(grid, nu)]

    def inverse_compton_mono(nu, gamma, n, nu0, u0):
        j = ostrel.ic_iso_monochrome_full(nu, float(u0), float(nu0), n, gamma)
        return np.asarray(j) / (4.0 * math.pi)

    def compton_cooling(gamma, seed_nu, seed_u):
        return np.asarray(ostrel.rad_cool_pwl(gamma, seed_nu, seed_u, True))

    def compton_cooling_mono(gamma, nu0, u0):
        g = np.asarray(gamma, dtype=float)
        gb = np.sqrt(np.maximum(g * g - 1.0, 0.0))
        return np.asarray(ostrel.rad_cool_mono(g, float(nu0), float(u0), True)) * gb

    def synchrotron_cooling(gamma, B):
        g = np.asarray(gamma, dtype=float)
        return k.THOMSON_LOSS * B * B / (8.0 * math.pi) * (g * g - 1.0)

    return SimpleNamespace(
        synchrotron=synchrotron, inverse_compton=inverse_compton,
        inverse_compton_mono=inverse_compton_mono, compton_cooling=compton_cooling,
        compton_cooling_mono=compton_cooling_mono, synchrotron_cooling=synchrotron_cooling)


def available_kernels() -> list[str]:
    """The kernel sets the model can use here: "accurate" (when built) and "classic"."""
    return (["accurate"] if have_accurate() else []) + ["classic"]


def get(name: str) -> Any:
    """The kernel set ``"accurate"`` or ``"classic"``."""
    if name not in ("accurate", "classic"):
        raise ValueError(f"kernels must be 'accurate' or 'classic', got {name!r}")
    if name not in _CACHE:
        _CACHE[name] = _accurate() if name == "accurate" else _classic()
    return _CACHE[name]


_WARNED: set[str] = set()


def gamma_gamma_wanted(K: Any, kernels: str, gamma_gamma: bool | None) -> bool:
    """Whether a model adds the γγ opacity of kernel set ``K`` (named ``kernels``).

    ``None`` (the default of the models) means "when the set has it".  A set
    without it (the classic one) refuses ``True`` with a ValueError, and for
    ``None`` leaves the absorption out with a RuntimeWarning, once per process
    and set, so that existing scripts keep running.
    """
    if hasattr(K, "gamma_gamma_opacity"):
        return True if gamma_gamma is None else bool(gamma_gamma)
    if gamma_gamma:
        raise ValueError(f"gamma_gamma: the {kernels} kernels have no gamma-gamma opacity; "
                         "pass gamma_gamma=False, or use kernels='accurate'")
    if gamma_gamma is None and kernels not in _WARNED:
        _WARNED.add(kernels)
        warnings.warn(f"the {kernels} kernels have no gamma-gamma opacity: internal "
                      "absorption is left out (pass gamma_gamma=False to say so)",
                      RuntimeWarning, stacklevel=4)
    return False
