"""Figures of measured SEDs and models (matplotlib; the ``examples`` extra)."""

from __future__ import annotations

from collections.abc import Callable, Sequence
from typing import Any

import numpy as np
from astropy import units as u
from astropy.table import Table

from .data import NUFNU_UNIT
from .likelihood import DEFAULT_SYSTEMATICS, SEDLikelihood

__all__ = ["plot_sed"]

_MARKERS = "osD^v<>pPhX*"
_COMPONENT_STYLE = {"synchrotron": ("tab:blue", "--", "synchrotron"),
                    "ssc": ("tab:red", ":", "self-Compton"),
                    "ec": ("tab:green", "-.", "external Compton")}


def plot_sed(data: Table, model_or_result: Any = None, components: bool = True,
             residuals: bool = True, *, systematics: float | None = None,
             kernels: str | None = None, nu: Any = None, fitted: Any = None,
             group: Callable[[str], str] | None = None, band: Any = None,
             title: str | None = None, ylim: Any = None) -> Any:
    """A figure of the SED ``data`` with a model and the residuals.

    data : Table as from :func:`~ostrel_models.read_sed`; points are drawn by
        instrument (``group`` maps an instrument name to the legend entry it
        joins), upper limits as downward arrows.
    model_or_result : a model (a Blob), a :class:`~ostrel_models.FitResult`
        (its model, systematic and kernels), a
        :class:`~ostrel_models.SampleResult` (the posterior medians, with the
        16–84 % band), or None for the data alone.
    components : also draw the model's components (``model.seds``).
    residuals : a lower panel with (data − model)/σ in log ν F_ν, σ the
        point's error on the side of the model with the systematic in
        quadrature (as in the likelihood); for upper limits (limit −
        model)/σ, open triangles.
    systematics, kernels : override those of the result (defaults 0.1,
        "accurate").
    nu : frequencies of the model curve (default 1e8–1e28 Hz, 300 points).
    fitted : boolean mask over the rows of ``data``: rows not fitted are
        drawn with open markers.
    band : (names, draws): the 16–84 % band of ν F_ν of the model with the
        parameters ``names`` set to each row of ``draws``.

    Returns the matplotlib Figure.
    """
    import matplotlib.pyplot as plt

    model = model_or_result
    if model is not None and hasattr(model, "median_model"):        # a SampleResult
        if band is None:
            rng = np.random.default_rng(0)
            s = model.samples
            band = (model.names, s[rng.choice(len(s), size=min(100, len(s)), replace=False)])
        systematics = model.systematics if systematics is None else systematics
        kernels = model.kernels if kernels is None else kernels
        model = model.median_model()
    elif model is not None and hasattr(model, "chi2") and hasattr(model, "model"):
        systematics = model.systematics if systematics is None else systematics
        kernels = model.kernels if kernels is None else kernels
        model = model.model
    systematics = DEFAULT_SYSTEMATICS if systematics is None else systematics
    kernels = kernels or "accurate"
    like = SEDLikelihood(data, systematics)
    rows = like.rows
    nu_d, f = like.frequency, like.flux
    inst = (np.asarray(data["instrument"], dtype=str)[rows] if "instrument" in data.colnames
            else np.full(len(rows), "data"))
    groups = np.array([group(n) for n in inst]) if group else inst
    used = (np.ones(len(rows), bool) if fitted is None
            else np.asarray(fitted, dtype=bool)[rows])
    err_lo = _errors(data, "nuFnu_err_low", rows)
    err_hi = _errors(data, "nuFnu_err_high", rows)
    ul = like.upper_limit

    with_res = residuals and model is not None
    if with_res:
        fig, (ax, axr) = plt.subplots(2, 1, figsize=(7.5, 6.5), sharex=True,
                                      gridspec_kw={"height_ratios": [3, 1], "hspace": 0.05})
    else:
        fig, ax = plt.subplots(figsize=(7.5, 5.0))
    if model is not None:
        grid = np.logspace(8, 28, 300) * u.Hz if nu is None else u.Quantity(nu, u.Hz)
        if band is not None:
            names, draws = band
            lo, hi = _band(model, names, draws, grid, kernels)
            ax.fill_between(grid.value, lo, hi, color="0.8", lw=0, label="posterior 16–84 %")
        if components:
            parts = model.seds(grid, kernels=kernels)
            ax.loglog(grid, parts["total"].to_value(NUFNU_UNIT), color="k", lw=1.6,
                      label="model, total")
            for name, v in parts.items():
                # Of the components before absorption outside the blob, the total.
                if name == "total" or not np.any(v.value > 0) or (
                        name.endswith("_intrinsic") and name != "total_intrinsic"):
                    continue
                colour, ls, label = _COMPONENT_STYLE.get(name, (None, "--", name))
                if name == "total_intrinsic":
                    colour, ls, label = "0.5", ":", "total before γγ on the fields and EBL"
                ax.loglog(grid, v.to_value(NUFNU_UNIT), color=colour, ls=ls, lw=1, label=label)
        else:
            ax.loglog(grid, model.sed(grid, kernels=kernels).to_value(NUFNU_UNIT), color="k",
                      lw=1.6, label="model")

    colours = plt.rcParams["axes.prop_cycle"].by_key()["color"]
    order = list(dict.fromkeys(groups[np.argsort(nu_d, kind="stable")]))
    if with_res:
        m = like.model_flux(model, kernels)
        norm = (like.log_flux - np.log10(np.maximum(m, 1e-300))) / like.sigma(m)
        # The scale follows the fitted points; the others are clipped to its edge.
        top = 1.25 * max(3.0, float(np.max(np.abs(norm[used]), initial=0.0)))
        norm = np.clip(norm, -0.97 * top, 0.97 * top)
    for k, name in enumerate(order):
        sel = groups == name
        colour, marker = colours[k % len(colours)], _MARKERS[k % len(_MARKERS)]
        det, lim = sel & ~ul, sel & ul
        face = np.array([colour if x else "none" for x in used], dtype=object)
        if det.any():
            ax.errorbar(nu_d[det], f[det], yerr=[err_lo[det], err_hi[det]], fmt="none",
                        ecolor=colour, lw=0.8)
            ax.scatter(nu_d[det], f[det], marker=marker, s=18, facecolors=list(face[det]),
                       edgecolors=colour, label=name, zorder=3)
        if lim.any():
            ax.errorbar(nu_d[lim], f[lim], yerr=0.4 * f[lim], uplims=True, fmt="none",
                        ecolor=colour, lw=0.8, label=None if det.any() else f"{name} (limit)")
            ax.scatter(nu_d[lim], f[lim], marker="_", s=40, color=colour, zorder=3)
        if with_res:
            axr.scatter(nu_d[det], norm[det], marker=marker, s=14, facecolors=list(face[det]),
                        edgecolors=colour)
            axr.scatter(nu_d[lim], norm[lim], marker="v", s=18, facecolors="none",
                        edgecolors=colour)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_ylabel(r"$\nu F_\nu$ [erg cm$^{-2}$ s$^{-1}$]")
    if ylim is not None:
        ax.set_ylim(*ylim)
    else:
        top = max(np.max(f), 0.0)
        ax.set_ylim(np.min(f) / 30.0, top * 30.0)
    if title:
        ax.set_title(title, fontsize=10)
    ax.legend(fontsize=7, ncol=2, loc="upper left", frameon=False)
    last = ax
    if with_res:
        axr.axhline(0.0, color="k", lw=0.8)
        axr.set_ylim(-top, top)
        axr.set_ylabel(r"(data$-$model)/$\sigma$" + "\n"
                       + rf"$\sigma$: stat. $\oplus$ {100 * systematics:.3g} % syst.", fontsize=8)
        last = axr
    last.set_xlabel(r"$\nu$ [Hz] (observer frame)")
    return fig


def _errors(data: Table, name: str, rows: np.ndarray) -> np.ndarray:
    if name not in data.colnames:
        return np.zeros(len(rows))
    c = data[name]
    v = c.filled(0.0) if hasattr(c, "filled") else c
    q = np.asarray(v, float) * (c.unit or NUFNU_UNIT)
    out: np.ndarray = np.nan_to_num(q.to_value(NUFNU_UNIT)[rows])
    return out


def _band(model: Any, names: Sequence[str], draws: np.ndarray, grid: Any,
          kernels: str) -> tuple[np.ndarray, np.ndarray]:
    work = model.copy()
    curves = []
    for row in np.atleast_2d(draws):
        for n, v in zip(names, row):
            work.parameters[n].raw = float(v)
        curves.append(work.sed(grid, kernels=kernels).to_value(NUFNU_UNIT))
    lo, hi = np.percentile(np.array(curves), [16.0, 84.0], axis=0)
    return lo, hi
