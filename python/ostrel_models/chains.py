"""The chains of :func:`~ostrel_models.sample_sed`, their summaries, plots and files."""

from __future__ import annotations

from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import numpy as np
import numpy.typing as npt
from astropy import units as u
from astropy.table import Table

Array = npt.NDArray[np.float64]

__all__ = ["SampleResult"]


@dataclass
class SampleResult:
    """Chains of an ensemble MCMC run over the free parameters of a model.

    names, units : the free parameters and their units
    log_scale : whether each parameter was sampled in log₁₀ of its value
    bounds : the (low, high) bounds of each, in its unit
    chain : (nsteps, nwalkers, nparams) positions, in the parameters' units
        (not their logarithms)
    log_prob : (nsteps, nwalkers) ln P at each position
    acceptance_fraction : (nwalkers,) accepted fraction of the proposals
    autocorr_time : (nparams,) integrated autocorrelation time of each
        parameter in steps, after the burn-in (from emcee; reliable only when
        the chains are some 50 times longer)
    burn : the first steps left out of :attr:`samples` and the summaries
    model : a copy of the model (set to the posterior medians by
        :meth:`median_model`)
    """

    names: list[str]
    units: list[Any]
    log_scale: list[bool]
    bounds: list[tuple[float, float]]
    chain: Array
    log_prob: Array
    acceptance_fraction: Array
    autocorr_time: Array
    burn: int
    model: Any = None
    data: Table | None = field(default=None, repr=False)
    systematics: float = 0.1
    kernels: str = "accurate"
    seed: int | None = None

    def __post_init__(self) -> None:
        self.chain = np.asarray(self.chain, dtype=float)
        self.log_prob = np.asarray(self.log_prob, dtype=float)
        if self.chain.ndim != 3 or self.chain.shape[2] != len(self.names):
            raise ValueError(f"chain must have the shape (nsteps, nwalkers, {len(self.names)}), "
                             f"got {self.chain.shape}")

    @classmethod
    def _from_emcee(cls, names: list[str], units: list[Any], log_scale: list[bool],
                    chain_t: Array, **kw: Any) -> SampleResult:
        chain = np.where(np.asarray(log_scale), 10.0**chain_t, chain_t)
        return cls(names=names, units=units, log_scale=log_scale, chain=chain, **kw)

    @property
    def samples(self) -> Array:
        """(n, nparams) positions after the burn-in, all walkers."""
        return self.chain[self.burn:].reshape(-1, len(self.names))

    def percentiles(self, q: Any = (16.0, 50.0, 84.0)) -> Array:
        """Percentiles of each parameter after the burn-in, (len(q), nparams)."""
        out: Array = np.percentile(self.samples, q, axis=0)
        return out

    def _quantity(self, i: int, v: Any) -> Any:
        unit = self.units[i]
        return v if unit is None or unit == u.dimensionless_unscaled else v * unit

    @property
    def medians(self) -> dict[str, Any]:
        """Posterior medians by name (Quantities for dimensional parameters)."""
        med = self.percentiles([50.0])[0]
        return {n: self._quantity(i, med[i]) for i, n in enumerate(self.names)}

    def median_model(self) -> Any:
        """A copy of the model with every free parameter at its median."""
        m = self.model.copy()
        for n, v in zip(self.names, self.percentiles([50.0])[0]):
            m.parameters[n].raw = float(v)
        return m

    def summary(self) -> str:
        """Medians and 16/84 % intervals, acceptance and autocorrelation."""
        lo, med, hi = self.percentiles()
        width = max(len(n) for n in self.names)
        lines = []
        for i, n in enumerate(self.names):
            unit = self.units[i]
            us = "" if unit is None or unit == u.dimensionless_unscaled else f" {unit}"
            lines.append(f"  {n:<{width}} = {med[i]:11.4g} (+{hi[i] - med[i]:.2g} "
                         f"-{med[i] - lo[i]:.2g}){us}   τ = {self.autocorr_time[i]:.0f} steps")
        nsteps, nwalkers = self.chain.shape[:2]
        lines.append(f"  {nwalkers} walkers × {nsteps} steps, first {self.burn} left out; "
                     f"acceptance {np.mean(self.acceptance_fraction):.2f} "
                     f"({np.min(self.acceptance_fraction):.2f}–"
                     f"{np.max(self.acceptance_fraction):.2f})")
        short = [n for n, t in zip(self.names, self.autocorr_time)
                 if not (np.isfinite(t) and (nsteps - self.burn) > 50 * t)]
        if short:
            lines.append(f"  note: chains shorter than 50 autocorrelation times for "
                         f"{', '.join(short)}: run longer before trusting the intervals")
        return "\n".join(lines)

    def corner(self, **kwargs: Any) -> Any:
        """Corner plot of the samples after the burn-in (the ``corner``
        package); logarithmic parameters are shown as log₁₀ of the value."""
        import corner

        data = np.where(np.asarray(self.log_scale), np.log10(self.samples), self.samples)
        labels = [f"log10 {n}" if lg else n for n, lg in zip(self.names, self.log_scale)]
        kwargs.setdefault("labels", labels)
        kwargs.setdefault("quantiles", [0.16, 0.5, 0.84])
        kwargs.setdefault("show_titles", True)
        kwargs.setdefault("title_kwargs", {"fontsize": 8})
        return corner.corner(data, **kwargs)

    def plot(self, data: Table | None = None, n_draws: int = 100, seed: int = 0,
             **kwargs: Any) -> Any:
        """The data with the median model and the 16–84 % band of ν F_ν over
        ``n_draws`` posterior samples; see :func:`~ostrel_models.plotting.plot_sed`."""
        from .plotting import plot_sed

        data = self.data if data is None else data
        rng = np.random.default_rng(seed)
        s = self.samples
        draws = s[rng.choice(len(s), size=min(n_draws, len(s)), replace=False)]
        return plot_sed(data, self.median_model(), systematics=self.systematics,
                        kernels=self.kernels, band=(self.names, draws), **kwargs)

    # --- files -------------------------------------------------------------------

    def to_table(self) -> Table:
        """One row per step and walker: step, walker, the parameters, ln P."""
        nsteps, nwalkers, _ = self.chain.shape
        t = Table()
        t["step"] = np.repeat(np.arange(nsteps), nwalkers)
        t["walker"] = np.tile(np.arange(nwalkers), nsteps)
        for i, n in enumerate(self.names):
            t[n] = self.chain[:, :, i].reshape(-1)
            if self.units[i] is not None and self.units[i] != u.dimensionless_unscaled:
                t[n].unit = self.units[i]
        t["log_prob"] = self.log_prob.reshape(-1)
        t.meta.update(dict(names=list(self.names), log_scale=[bool(x) for x in self.log_scale],
                           bounds=[[float(a), float(b)] for a, b in self.bounds],
                           acceptance_fraction=[float(x) for x in self.acceptance_fraction],
                           autocorr_time=[float(x) for x in self.autocorr_time],
                           burn=int(self.burn), systematics=float(self.systematics),
                           kernels=self.kernels, seed=self.seed))
        return t

    def write(self, path: str | Path, overwrite: bool = False) -> None:
        """Write the chains to ECSV (``.ecsv``) or FITS (``.fits``), by suffix."""
        path = Path(path)
        fmt = {".ecsv": "ascii.ecsv", ".fits": "fits", ".fit": "fits"}.get(path.suffix.lower())
        if fmt is None:
            raise ValueError(f"path: write chains to .ecsv or .fits, got {path.name!r}")
        t = self.to_table()
        if fmt == "fits":                      # FITS headers take scalars only
            import json
            t.meta = {"OSTREL": json.dumps(t.meta)}
        t.write(str(path), format=fmt, overwrite=overwrite)

    @classmethod
    def read(cls, path: str | Path) -> SampleResult:
        """Chains written by :meth:`write` (the model is not stored)."""
        t = Table.read(str(path))
        meta = dict(t.meta)
        if "OSTREL" in meta:
            import json
            meta = json.loads(meta["OSTREL"])
        names = list(meta["names"])
        nsteps = int(np.max(t["step"])) + 1
        nwalkers = int(np.max(t["walker"])) + 1
        chain = np.stack([np.asarray(t[n], float).reshape(nsteps, nwalkers) for n in names],
                         axis=-1)
        units = [t[n].unit if t[n].unit is not None else u.dimensionless_unscaled for n in names]
        return cls(names=names, units=units, log_scale=list(meta["log_scale"]),
                   bounds=[tuple(b) for b in meta["bounds"]], chain=chain,
                   log_prob=np.asarray(t["log_prob"], float).reshape(nsteps, nwalkers),
                   acceptance_fraction=np.asarray(meta["acceptance_fraction"]),
                   autocorr_time=np.asarray(meta["autocorr_time"]), burn=int(meta["burn"]),
                   systematics=float(meta["systematics"]), kernels=meta["kernels"],
                   seed=meta.get("seed"))

