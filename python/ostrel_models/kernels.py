"""Accurate radiation kernels of relativistic electrons, in cgs units.

Every function takes NumPy-compatible 1-D sequences (lists, integer or float
arrays) and returns new ``float64`` arrays.  Electron densities ``n`` are per
unit Lorentz factor [cm^-3] on the increasing grid ``gamma``; between two grid
points the distribution is the power law through both points (exact for a
power law), a segment with a zero endpoint holds no electrons, there are none
outside the grid, and a grid of one point holds none.  A tabulated seed field
(``seed_u`` [erg cm^-3 Hz^-1] on ``seed_nu`` [Hz]) is interpolated the same way.

Output frequencies ``nu`` are independent points (any order, repeats allowed).
Inputs are checked before any work: lengths that differ, a grid that is not
strictly increasing, or a non-finite or negative value raise ``ValueError``
naming the argument; complex input is a ``TypeError`` (never truncated to its
real part) and a scalar too large for a double (``10**400``) a ``ValueError``
naming the argument.  The computation runs on the package's worker pool
(``RAYON_NUM_THREADS`` threads, read once per process) with the interpreter
lock released; results do not depend on the number of threads.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import Union

import numpy as np
import numpy.typing as npt

from . import _kernels
from .validation import scalar as _scalar
from .validation import vector as _vector

__all__ = [
    "compton_cooling",
    "compton_cooling_mono",
    "external_compton",
    "gamma_gamma_opacity",
    "inverse_compton",
    "inverse_compton_mono",
    "synchrotron",
    "synchrotron_cooling",
]

ArrayLike = Union[npt.ArrayLike, Sequence[float]]
FloatArray = npt.NDArray[np.float64]


def synchrotron(nu: ArrayLike, gamma: ArrayLike, n: ArrayLike, B: float) -> tuple[FloatArray, FloatArray]:
    """Synchrotron emissivity and absorption coefficient of isotropic electrons.

    Parameters
    ----------
    nu : array_like, shape (F,)
        Frequencies [Hz], in any order.
    gamma : array_like, shape (G,)
        Electron Lorentz factors, strictly increasing, at least 1.
    n : array_like, shape (G,)
        Electron density per unit Lorentz factor [cm^-3] at ``gamma``.
    B : float
        Magnetic field [G].

    Returns
    -------
    j : ndarray, shape (F,)
        Emissivity per steradian [erg s^-1 cm^-3 Hz^-1 sr^-1].
    alpha : ndarray, shape (F,)
        Absorption coefficient [cm^-1].

    Notes
    -----
    The single-particle power is averaged over isotropic pitch angles in closed
    form (Crusius & Schlickeiser 1986, A&A 164, L16), tabulated once per process
    to 1e-7, and integrated over each power-law segment of ``n`` by Gauss
    quadrature to 1e-4 relative or better.  The absorption coefficient uses the
    derivative of n/gamma^2 inside the grid (Rybicki & Lightman 1979, eq. 6.52);
    the steps of ``n`` to zero at the ends of the grid are not counted.  The
    kernel is that of ultra-relativistic electrons (gamma >> 1).
    """
    return _kernels.synchrotron(_vector("nu", nu), _vector("gamma", gamma), _vector("n", n), _scalar("B", B))


def synchrotron_cooling(gamma: ArrayLike, B: float) -> FloatArray:
    """Synchrotron energy-loss rate of electrons with isotropic pitch angles.

    Parameters
    ----------
    gamma : array_like, shape (G,)
        Lorentz factors, strictly increasing, at least 1.
    B : float
        Magnetic field [G].

    Returns
    -------
    ndarray, shape (G,)
        -dgamma/dt [s^-1] = (4/3) sigma_T c beta^2 gamma^2 U_B / (m_e c^2),
        U_B = B^2 / (8 pi) (Rybicki & Lightman 1979, eq. 6.7b).
    """
    return _kernels.synchrotron_cooling(_vector("gamma", gamma), _scalar("B", B))


def gamma_gamma_opacity(nu: ArrayLike, seed_nu: ArrayLike, seed_u: ArrayLike) -> FloatArray:
    """Absorption coefficient for pair production on an isotropic photon field.

    Parameters
    ----------
    nu : array_like, shape (F,)
        Frequencies of the absorbed photons [Hz], in any order.
    seed_nu : array_like, shape (S,)
        Frequencies of the seed field [Hz], strictly increasing.
    seed_u : array_like, shape (S,)
        Spectral energy density of the seed field [erg cm^-3 Hz^-1] at
        ``seed_nu``.

    Returns
    -------
    ndarray, shape (F,)
        Absorption coefficient [cm^-1]: the Breit-Wheeler cross section averaged
        over an isotropic field (Gould & Schreder 1967, Phys. Rev. 155, 1404;
        Brown, Mikaelian & Gould 1973, Astrophys. Lett. 14, 203), integrated over the seed
        spectrum to 1e-3 relative or better.  Zero below the threshold
        h nu h nu' = (m_e c^2)^2 for every seed photon.
    """
    return _kernels.gamma_gamma_opacity(_vector("nu", nu), _vector("seed_nu", seed_nu), _vector("seed_u", seed_u))


def inverse_compton(nu: ArrayLike, gamma: ArrayLike, n: ArrayLike, seed_nu: ArrayLike,
                    seed_u: ArrayLike) -> FloatArray:
    """Inverse-Compton emissivity of isotropic electrons in an isotropic seed field.

    Parameters
    ----------
    nu : array_like, shape (F,)
        Frequencies of the scattered photons [Hz], in any order.
    gamma : array_like, shape (G,)
        Electron Lorentz factors, strictly increasing, at least 1.
    n : array_like, shape (G,)
        Electron density per unit Lorentz factor [cm^-3] at ``gamma``.
    seed_nu : array_like, shape (S,)
        Frequencies of the seed field [Hz], strictly increasing.
    seed_u : array_like, shape (S,)
        Spectral energy density of the seed field [erg cm^-3 Hz^-1] at
        ``seed_nu``.

    Returns
    -------
    ndarray, shape (F,)
        Emissivity per steradian [erg s^-1 cm^-3 Hz^-1 sr^-1], from the exact
        isotropic Klein-Nishina kernel (Jones 1968, Phys. Rev. 167, 1159;
        Blumenthal & Gould 1970, Rev. Mod. Phys. 42, 237, eq. 2.48), to 1e-3
        relative or better up to gamma_max m_e c^2.
    """
    return _kernels.inverse_compton(_vector("nu", nu), _vector("gamma", gamma), _vector("n", n),
                                    _vector("seed_nu", seed_nu), _vector("seed_u", seed_u))


def inverse_compton_mono(nu: ArrayLike, gamma: ArrayLike, n: ArrayLike, nu0: float, u0: float) -> FloatArray:
    """Inverse-Compton emissivity of isotropic electrons in a monochromatic
    isotropic seed field.

    Parameters
    ----------
    nu : array_like, shape (F,)
        Frequencies of the scattered photons [Hz], in any order.
    gamma : array_like, shape (G,)
        Electron Lorentz factors, strictly increasing, at least 1.
    n : array_like, shape (G,)
        Electron density per unit Lorentz factor [cm^-3] at ``gamma``.
    nu0 : float
        Frequency of the seed photons [Hz].
    u0 : float
        Energy density of the seed field [erg cm^-3].

    Returns
    -------
    ndarray, shape (F,)
        Emissivity per steradian [erg s^-1 cm^-3 Hz^-1 sr^-1] (exact isotropic
        Klein-Nishina kernel, Blumenthal & Gould 1970, eq. 2.48), to 1e-3
        relative or better.
    """
    return _kernels.inverse_compton_mono(_vector("nu", nu), _vector("gamma", gamma), _vector("n", n),
                                         _scalar("nu0", nu0), _scalar("u0", u0))


def compton_cooling(gamma: ArrayLike, seed_nu: ArrayLike, seed_u: ArrayLike) -> FloatArray:
    """Compton energy-loss rate of electrons in an isotropic seed field.

    Parameters
    ----------
    gamma : array_like, shape (G,)
        Electron Lorentz factors, strictly increasing, at least 1.
    seed_nu : array_like, shape (S,)
        Frequencies of the seed field [Hz], strictly increasing.
    seed_u : array_like, shape (S,)
        Spectral energy density of the seed field [erg cm^-3 Hz^-1] at
        ``seed_nu``.

    Returns
    -------
    ndarray, shape (G,)
        -dgamma/dt [s^-1], the exact Klein-Nishina loss for isotropic photons
        (Jones 1965, Phys. Rev. 137, B1306): (4/3) sigma_T c gamma^2 beta^2
        U / (m_e c^2) in the Thomson limit; to 1e-3 relative or better.
    """
    return _kernels.compton_cooling(_vector("gamma", gamma), _vector("seed_nu", seed_nu),
                                    _vector("seed_u", seed_u))


def compton_cooling_mono(gamma: ArrayLike, nu0: float, u0: float) -> FloatArray:
    """Compton energy-loss rate of electrons in a monochromatic isotropic seed field.

    Parameters
    ----------
    gamma : array_like, shape (G,)
        Electron Lorentz factors, strictly increasing, at least 1.
    nu0 : float
        Frequency of the seed photons [Hz].
    u0 : float
        Energy density of the seed field [erg cm^-3].

    Returns
    -------
    ndarray, shape (G,)
        -dgamma/dt [s^-1], the exact Klein-Nishina loss for isotropic photons
        (Jones 1965); (4/3) sigma_T c gamma^2 beta^2 u0 / (m_e c^2) in the
        Thomson limit; to 1e-3 relative or better.
    """
    return _kernels.compton_cooling_mono(_vector("gamma", gamma), _scalar("nu0", nu0), _scalar("u0", u0))


def external_compton(nu: ArrayLike, gamma: ArrayLike, n: ArrayLike, w_nu: ArrayLike,
                     w_a: ArrayLike, smooth: bool = True) -> FloatArray:
    """Inverse-Compton emissivity of electrons moving along the line of sight
    in an anisotropic photon field given as a set of beams.

    Parameters
    ----------
    nu : array_like, shape (F,)
        Frequencies of the scattered photons [Hz], in any order.
    gamma : array_like, shape (G,)
        Lorentz factors of the electrons, strictly increasing, at least 1.
    n : array_like, shape (G,)
        Number of electrons per unit Lorentz factor at ``gamma`` (a density
        [cm^-3] gives an emissivity per volume).
    w_nu : array_like, shape (K,)
        For each beam, ε (1 − cos ψ) m_e c²/h [Hz]: its photon energy times one
        minus the cosine of its angle ψ to the line of sight, as a frequency.
    w_a : array_like, shape (K,)
        For each beam, U/ε² [erg cm^-3]: its energy density over the square of
        its photon energy in units of m_e c².
    smooth : bool
        The beams are nodes of a quadrature over a continuous field (each is
        spread over its cell in ln w), or exact beams (a point source).

    Returns
    -------
    ndarray, shape (F,)
        Emissivity per steradian [erg s^-1 Hz^-1 sr^-1] towards the observer,
        from the head-on approximation of the Klein-Nishina cross section
        (Dermer & Menon 2009, eq. 6.32; Dermer et al. 2009, ApJ 692, 32):
        exact in the Thomson regime for γ ≫ 1, and within a few per cent of the
        full cross section deep in the Klein-Nishina regime.
    """
    return _kernels.external_compton(_vector("nu", nu), _vector("gamma", gamma), _vector("n", n),
                                     _vector("w_nu", w_nu), _vector("w_a", w_a), bool(smooth))
