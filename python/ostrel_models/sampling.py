"""Posterior distributions of a model's parameters given an SED, by MCMC.

:func:`sample_sed` runs the affine-invariant ensemble sampler of ``emcee``
(Foreman-Mackey et al. 2013, PASP 125, 306) on

    ln P(θ) = ln L(θ) + ln π(θ),

L the likelihood of :mod:`ostrel_models.likelihood` and π the prior: flat
between the bounds of each free parameter on its own scale (flat in log₁₀ of
the value, i.e. ∝ 1/value, for parameters whose ``scale`` is ``"log"``;
flat in the value for ``"linear"`` ones) unless given.  The walkers move in
those scales (log₁₀ value or value), start in a small ball around the
model's current values (a least-squares fit is a good start) and are run
for ``nsteps``; the first ``burn`` steps are left out of the summaries.

Needs the ``fit`` extra: ``pip install ostrel[fit]`` (emcee, corner, tqdm).
"""

from __future__ import annotations

import math
from collections.abc import Callable, Mapping
from typing import Any

import numpy as np
from astropy.table import Table

from ._free import free_parameters
from .chains import SampleResult
from .likelihood import DEFAULT_SYSTEMATICS, SEDLikelihood

__all__ = ["sample_sed", "SampleResult"]


class LogPosterior:
    """ln P of the positions of the walkers (picklable, for process pools).

    theta : the free parameters on their own scales (log₁₀ value or value).
    """

    def __init__(self, model: Any, free: Any, data: Table, systematics: float,
                 kernels: str, priors: Mapping[str, Callable[[float], float]] | None) -> None:
        self.model = model.copy()
        self.params = free_parameters(self.model, free)
        self.free = {p.name: (p.lo, p.hi) for p in self.params}
        self.like = SEDLikelihood(data, systematics)
        self.kernels = kernels
        names = [p.name for p in self.params]
        self.priors = dict(priors or {})
        unknown = [n for n in self.priors if n not in names]
        if unknown:
            raise ValueError(f"priors: {unknown} are not free parameters ({names})")
        for n, f in self.priors.items():
            if not callable(f):
                raise TypeError(f"priors[{n!r}] must be a function of the value returning "
                                f"ln π, got {f!r}")

    # The free parameters are views of the model's; a copy sent to another
    # process takes the model and finds them again there.
    def __getstate__(self) -> dict[str, Any]:
        return {k: v for k, v in self.__dict__.items() if k != "params"}

    def __setstate__(self, state: dict[str, Any]) -> None:
        self.__dict__.update(state)
        self.params = free_parameters(self.model, self.free)

    def __call__(self, theta: np.ndarray) -> float:
        lp = 0.0
        for p, t in zip(self.params, theta):
            if not (p.lo_t <= t <= p.hi_t):
                return -math.inf
            p.set_t(float(t))
            if p.name in self.priors:
                lp += float(self.priors[p.name](p.value_of_t(float(t))))
                if not math.isfinite(lp):
                    return -math.inf
        m = self.like.model_flux(self.model, self.kernels)
        if not np.all(np.isfinite(m)):
            return -math.inf
        return lp + self.like.log_likelihood(m)


def sample_sed(model: Any, data: Table, free: Any = None, nwalkers: int = 32,
               nsteps: int = 2000, burn: int = 500,
               priors: Mapping[str, Callable[[float], float]] | None = None,
               seed: int | None = None, pool: Any = None, progress: bool = True,
               systematics: float = DEFAULT_SYSTEMATICS, kernels: str = "accurate",
               spread: float = 1e-3) -> SampleResult:
    """Sample the posterior of the free parameters of ``model`` given ``data``.

    model : a model with ``parameters``, ``sed`` and ``copy()`` (a Blob), or
        a :class:`~ostrel_models.FitResult` (its model and free parameters
        are used, and its bounds unless ``free`` is given).  Not changed.
    data, free, systematics, kernels : as for :func:`~ostrel_models.fit_sed`
        (free=None: the parameters not frozen, within their bounds).
    nwalkers : walkers of the ensemble, at least twice the free parameters.
    nsteps, burn : steps of every walker, and the first steps left out of
        the summaries (the chains keep them).
    priors : {name: f} with f(value) = ln π(value) (value a plain number in
        the parameter's unit) replacing the flat prior of that parameter;
        the bounds still apply.
    seed : the same seed gives the same chains, serially or on any pool.
    pool : anything with a ``map(f, iterable)`` (a ``multiprocessing.Pool``,
        a ``concurrent.futures`` executor, a Dask ``Client.get_executor()``):
        the walkers of each half-step are evaluated in parallel.
    progress : a progress bar (tqdm).
    spread : the walkers start at the model's values plus a Gaussian of
        this standard deviation times the width of the bounds, on the
        parameters' scales.

    Returns a :class:`SampleResult`.
    """
    import emcee

    if hasattr(model, "params") and hasattr(model, "model") and hasattr(model, "bounds"):
        result = model
        model = result.model
        if free is None:
            free = dict(result.bounds)
    post = LogPosterior(model, free, data, systematics, kernels, priors)
    params = post.params
    ndim = len(params)
    if int(nwalkers) < 2 * ndim:
        raise ValueError(f"nwalkers must be at least twice the {ndim} free parameters, "
                         f"got {nwalkers}")
    if not 0 <= int(burn) < int(nsteps):
        raise ValueError(f"burn must lie in [0, nsteps) = [0, {nsteps}), got {burn}")
    nwalkers, nsteps, burn = int(nwalkers), int(nsteps), int(burn)
    rng = np.random.default_rng(seed)
    lo = np.array([p.lo_t for p in params])
    hi = np.array([p.hi_t for p in params])
    start = np.array([p.start_t for p in params])
    width = spread * (hi - lo)
    p0 = start + width * rng.standard_normal((nwalkers, ndim))
    # Reflect the walkers that start outside the bounds back inside.
    p0 = np.where(p0 < lo, 2 * lo - p0, p0)
    p0 = np.where(p0 > hi, 2 * hi - p0, p0)
    p0 = np.clip(p0, lo, hi)
    sampler = emcee.EnsembleSampler(nwalkers, ndim, post, pool=pool)
    # emcee draws its proposals from its own RandomState, in this process.
    sampler.random_state = np.random.RandomState(rng.integers(2**32 - 1)).get_state()
    sampler.run_mcmc(p0, nsteps, progress=progress)
    chain = sampler.get_chain()
    log_prob = sampler.get_log_prob()
    tau = np.asarray(sampler.get_autocorr_time(discard=burn, tol=0, quiet=True), dtype=float)
    return SampleResult._from_emcee(
                        names=[p.name for p in params], units=[p.unit for p in params],
                        log_scale=[p.log for p in params], chain_t=chain,
                        bounds=[(p.lo, p.hi) for p in params],
                        log_prob=log_prob, acceptance_fraction=sampler.acceptance_fraction,
                        autocorr_time=tau, burn=burn, model=post.model, data=data,
                        systematics=post.like.systematics, kernels=kernels, seed=seed)
