"""ostrel models as gammapy spectral models (the ``gammapy`` extra).

``SEDModel(blob)`` is a ``gammapy.modeling.models.SpectralModel`` whose
parameters are those of the blob that change its SED, with their units,
bounds and frozen state, so that

    >>> from gammapy.modeling import Fit                         # doctest: +SKIP
    >>> from gammapy.modeling.models import SkyModel
    >>> dataset = flux_points_dataset(read_sed("mrk421_2009"), systematics=0.1)
    >>> dataset.models = SkyModel(spectral_model=SEDModel(blob), name="mrk421")
    >>> Fit().run([dataset])

fits the blob with gammapy, alone or jointly with other data sets.  gammapy
names may not contain dots or brackets: ``electrons.p1`` becomes
``electrons_p1``, ``external[0].energy_density`` ``external_0_energy_density``
(``SEDModel.names`` maps them back), and the electrons' ``energy``
``electron_energy``.

The statistics.  :func:`~ostrel_models.fit_sed` minimises χ² in log ν F_ν,
Σ (ln(M/F)/s_i)², s_i² the relative error squared plus the systematic
squared; gammapy's ``"chi2"`` statistic of a ``FluxPointsDataset`` is
Σ ((M − F)/σ_i)² in the flux itself.  With σ_i = F s_i, the flux points of
:func:`flux_points` (errors with the systematic in quadrature), the two
agree to first order in the residuals, (M − F)/F = ln(M/F) + O(ln²(M/F)):
they have the same minimum for a model that describes the data to within
the errors, and differ in the weight of outliers (gammapy's ``"distrib"``
statistic likewise matches the asymmetric errors, with the model-side
error).  Upper limits are ignored by ``"chi2"``; ``"distrib"`` takes them
as the complementary error function of gammapy, not the one-sided Gaussian
of :mod:`ostrel_models.likelihood`.
"""

from __future__ import annotations

import math
import re
from typing import Any

import numpy as np
from astropy import units as u
from astropy.table import Table

try:
    from gammapy.datasets import FluxPointsDataset
    from gammapy.estimators import FluxPoints
    from gammapy.modeling import Parameter, Parameters
    from gammapy.modeling.models import SpectralModel
except ImportError as exc:                                     # pragma: no cover
    raise ImportError("ostrel_models.gammapy needs gammapy: pip install 'ostrel[gammapy]'"
                      ) from exc

from .likelihood import DEFAULT_SYSTEMATICS, SEDLikelihood

__all__ = ["SEDModel", "flux_points", "flux_points_dataset"]

_DNDE = u.Unit("cm-2 s-1 TeV-1")


def gammapy_name(name: str) -> str:
    """A parameter name gammapy accepts: ``external[0].energy_density`` →
    ``external_0_energy_density``; the blob's ``energy`` (of the electrons)
    becomes ``electron_energy``, as ``energy`` is the argument of gammapy's
    ``evaluate``."""
    if name == "energy":
        return "electron_energy"
    return re.sub(r"_+", "_", re.sub(r"[^0-9A-Za-z_]", "_", name)).strip("_")


class SEDModel(SpectralModel):  # type: ignore[misc]
    """A model of the package (a Blob) as a gammapy spectral model.

    model : the model; the gammapy model works on a copy, ``self.model``,
        which holds the values of the last evaluation.
    free : None (the model's own frozen states and bounds), or the
        parameters to leave free, every other frozen: a list of names or, as
        for ``fit_sed``, {name: (low, high) or None} with bounds in the
        parameter's unit.
    kernels : the kernel set of ``model.sed``.

    The parameters are every parameter of ``model.parameters`` the SED
    depends on (``affects_sed``), with the unit, bounds (NaN where open)
    and frozen state of the model's; those on a ``"log"`` scale are stepped
    in their logarithm (``scale_transform="log"``).  ``evaluate`` returns
    dN/dE = ν F_ν / E² [cm⁻² s⁻¹ TeV⁻¹].
    """

    tag = ["OstrelSEDModel", "ostrel-sed"]

    def __init__(self, model: Any, free: Any = None, kernels: str = "accurate") -> None:
        self.model = model.copy()
        self.kernels = kernels
        own = self.model.parameters
        if free is not None:
            unknown = [n for n in free if n not in own]
            if unknown:
                raise ValueError(f"free: {unknown} are not parameters of the model "
                                 f"({', '.join(own)})")
        self.names: dict[str, str] = {}
        pars = []
        for name, p in own.items():
            if not p.affects_sed:
                continue
            frozen = p.frozen if free is None else name not in free
            lo, hi = p.min, p.max
            if isinstance(free, dict) and free.get(name) is not None:
                lo, hi = (float(b.to_value(p.unit)) if isinstance(b, u.Quantity) else float(b)
                          for b in free[name])
            g = gammapy_name(name)
            if g in self.names:
                raise ValueError(f"parameters {self.names[g]!r} and {name!r} have the same "
                                 f"gammapy name {g!r}")
            self.names[g] = name
            lo = lo if math.isfinite(lo) else np.nan
            hi = hi if math.isfinite(hi) else np.nan
            log = p.scale == "log" and lo > 0
            pars.append(Parameter(g, p.raw, unit=p.unit, min=lo, max=hi, frozen=frozen,
                                  interp="log" if log else "lin",
                                  scale_transform="log" if log else "lin"))
        self.default_parameters = Parameters(pars)
        super().__init__()

    def evaluate(self, energy: u.Quantity, **kwargs: Any) -> u.Quantity:
        own = self.model.parameters
        for g, q in kwargs.items():
            p = own[self.names[g]]
            x = q.to_value(p.unit) if isinstance(q, u.Quantity) else float(q)
            # Only changed values are set: a parameter that follows another
            # (Γ = δ_D until given) keeps following while frozen.
            if x != p.raw:
                p.raw = float(x)
        e = u.Quantity(energy)
        flat = e.reshape(-1)
        nufnu = self.model.sed(flat, kernels=self.kernels)
        dnde = (nufnu / flat**2).to(_DNDE)
        return dnde.reshape(e.shape)

    def to_dict(self, full_output: bool = True) -> dict[str, Any]:
        out: dict[str, Any] = super().to_dict(full_output=True)
        return out

    @classmethod
    def from_dict(cls, data: Any, **kwargs: Any) -> Any:
        raise NotImplementedError("build SEDModel from a model (save the model itself with "
                                  "ostrel_models.save_model)")


def flux_points(data: Table, systematics: float = DEFAULT_SYSTEMATICS) -> Any:
    """gammapy FluxPoints (SED type ``e2dnde``) of an SED table, with the
    relative ``systematics`` added in quadrature to each error; masked rows
    are dropped, upper limits kept as such."""
    like = SEDLikelihood(data, systematics)
    ln10 = math.log(10.0)
    order = np.argsort(like.frequency, kind="stable")
    nu = like.frequency[order]
    # gammapy's energy axis needs distinct nodes: points of several
    # instruments at one energy move apart by parts in 1e9 (the model
    # changes by as little).
    for i in range(1, len(nu)):
        if nu[i] <= nu[i - 1]:
            nu[i] = nu[i - 1] * (1.0 + 1e-9)
    energy = np.empty_like(nu)
    energy[order] = nu
    energy = (energy * u.Hz).to(u.TeV, equivalencies=u.spectral())
    t = Table()
    t["e_ref"] = energy
    unit = u.Unit("erg cm-2 s-1")
    t["e2dnde"] = like.flux * unit
    # σ± = F sqrt((e±/F)² + s²) = F ln10 σ±(log10 F).
    t["e2dnde_errn"] = like.flux * ln10 * like.sigma_low * unit
    t["e2dnde_errp"] = like.flux * ln10 * like.sigma_high * unit
    t["is_ul"] = like.upper_limit
    t["e2dnde_ul"] = np.where(like.upper_limit, like.flux, np.nan) * unit
    order = np.argsort(energy.value, kind="stable")
    t = t[order]
    t.meta["SED_TYPE"] = "e2dnde"
    return FluxPoints.from_table(t, sed_type="e2dnde")


def flux_points_dataset(data: Table, systematics: float = DEFAULT_SYSTEMATICS,
                        models: Any = None, stat_type: str = "chi2", name: str | None = None
                        ) -> Any:
    """A gammapy ``FluxPointsDataset`` of :func:`flux_points` (see the module
    docstring for how its statistic maps to that of ``fit_sed``)."""
    return FluxPointsDataset(models=models, data=flux_points(data, systematics),
                             stat_type=stat_type, name=name)
