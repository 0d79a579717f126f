"""Absorption of γ-rays by the extragalactic background light (EBL).

A γ-ray of observed energy E from a source at redshift z meets the
ultraviolet-to-infrared background on its way and makes pairs with it; the
flux that arrives is the emitted one times e^−τ(E, z).  The optical depths
are those the models' authors published as tables of τ on a grid of
(E, z), read and interpolated by the package ``ebltable`` (linear in τ,
linear in z and in log E between the table's nodes):

======================  ===================================================
name                    model
======================  ===================================================
``"franceschini2008"``  Franceschini, Rodighiero & Vaccari 2008, A&A 487, 837
``"dominguez2011"``     Domínguez et al. 2011, MNRAS 410, 2556
``"finke2010"``         Finke, Razzaque & Dermer 2010, ApJ 712, 238 (model C)
``"saldana-lopez2021"`` Saldana-Lopez et al. 2021, MNRAS 507, 5144
``"gilmore2012"``       Gilmore et al. 2012, MNRAS 422, 3189 (fiducial)
======================  ===================================================

Outside a table:

- above its highest energy or its highest redshift, or at z < 0:
  ``ValueError`` naming the range;
- below its lowest energy (1 GeV for all but Franceschini et al., 20 GeV):
  τ continues as the power law through the two lowest nodes of positive τ
  at that redshift, with an index of at least 1, so it keeps falling
  towards low energies (the EBL is transparent there: τ(1 GeV) < 10⁻² up
  to z ≈ 2 in these models); where the table's lowest energies hold τ = 0,
  so does the extrapolation;
- between z = 0 (where τ = 0) and the table's first redshift (0.01, or
  0.001 for Franceschini et al.), τ is interpolated linearly in z, as the
  optical depth of a nearby source grows in proportion to its distance.
"""

from __future__ import annotations

import functools
import math
from typing import Any

import numpy as np
import numpy.typing as npt
from astropy import units as u

from . import validation

__all__ = ["EBL_MODELS", "ebl_opacity"]

Array = npt.NDArray[np.float64]

# Our names of the models and the names under which ebltable reads them.
EBL_MODELS = {
    "franceschini2008": "franceschini",
    "dominguez2011": "dominguez",
    "finke2010": "finke",
    "saldana-lopez2021": "saldana-lopez",
    "gilmore2012": "gilmore",
}

_GEV_PER_HZ = (1.0 * u.Hz).to_value(u.GeV, equivalencies=u.spectral())


@functools.lru_cache(maxsize=None)
def _table(model: str) -> Any:
    if model not in EBL_MODELS:
        raise ValueError(f"model: unknown EBL model {model!r}; known: {', '.join(EBL_MODELS)}")
    try:
        from ebltable.tau_from_model import OptDepth
    except ImportError as err:   # pragma: no cover - a dependency of the package
        raise ImportError("EBL absorption needs the package 'ebltable' "
                          "(pip install ebltable)") from err
    return OptDepth.readmodel(EBL_MODELS[model])


def table_range(model: str) -> tuple[u.Quantity, float]:
    """(lowest and highest energy of the table, highest redshift) of a model."""
    t = _table(model)
    e = 10.0 ** np.asarray(t._x)[[0, -1]]   # ebltable keeps log10(E / GeV)
    return e * u.GeV, float(np.asarray(t._y)[-1])


def _tau_at(t: Any, z: float, e_gev: Array) -> Array:
    """The table's interpolated τ at energies inside its range (any order)."""
    if e_gev.size == 0:
        return np.empty(0)
    order = np.argsort(e_gev)
    out = np.empty_like(e_gev)
    out[order] = np.atleast_1d(t.evaluate(e_gev[order], z))
    return np.maximum(out, 0.0)


def ebl_opacity(nu: Any, z: float, model: str = "dominguez2011") -> Array:
    """Optical depth τ(ν, z) of the EBL for γ-rays observed at frequency ν.

    Parameters
    ----------
    nu : Quantity [Hz] (or an energy or wavelength, by the spectral
        equivalency), or plain numbers in Hz; any shape.
    z : float
        Redshift of the source.
    model : str
        One of ``EBL_MODELS`` (see the module docstring for the papers).

    Returns
    -------
    ndarray of the shape of ``nu``: τ, so that the observed flux is the
    emitted one times e^−τ.  Raises ``ValueError`` above the table's highest
    energy or redshift; below its lowest energy, see the module docstring.
    """
    t = _table(model)
    x = validation.frequencies("nu", nu)
    zf = float(z)
    (e_lo, e_hi), z_hi = table_range(model)
    e_lo_v, e_hi_v = e_lo.to_value(u.GeV), e_hi.to_value(u.GeV)
    if not (math.isfinite(zf) and 0.0 <= zf <= z_hi):
        raise ValueError(f"z: the {model} table covers 0 <= z <= {z_hi:g}, got {zf}")
    e = np.atleast_1d(x * _GEV_PER_HZ).astype(float)
    if np.any(e > e_hi_v * (1.0 + 1e-9)):
        raise ValueError(f"nu: the {model} table ends at {e_hi_v / 1e3:.4g} TeV "
                         f"({e_hi_v / _GEV_PER_HZ:.4g} Hz); got up to {e.max() / 1e3:.4g} TeV")
    tau = np.zeros_like(e)
    if zf == 0.0:
        return tau.reshape(np.shape(x))
    inside = e >= e_lo_v
    tau[inside] = _tau_at(t, zf, np.minimum(e[inside], e_hi_v))
    if np.any(~inside):
        nodes = 10.0 ** np.asarray(t._x)
        low = _tau_at(t, zf, nodes[:8])
        pos = np.flatnonzero(low > 0.0)
        if pos.size >= 2 and pos[0] == 0:
            i0, i1 = pos[0], pos[1]
            slope = max(1.0, math.log(low[i1] / low[i0]) / math.log(nodes[i1] / nodes[i0]))
            tau[~inside] = low[i0] * (e[~inside] / nodes[i0]) ** slope
    return tau.reshape(np.shape(x))
