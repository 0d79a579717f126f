"""Grid fit of the blob model to an SED, one model run per task on Dask.

A synthetic "observed" spectrum is made by the blob model itself
(examples/ssc_blob.py) at known parameters, optionally with log-normal
scatter, and the model is then run at every point of a grid of magnetic
field B and injection index p.  Each point scores

    chi^2 = sum over detected frequencies of
            (log10 nuLnu_model - log10 nuLnu_observed)^2 / sigma^2

with sigma in dex; "detected" are the frequencies where the observed nu L_nu
is above 1e-4 of its peak.  The module keeps no state between calls, so every
grid point is an independent task: by default on a LocalCluster of two
single-threaded worker processes, or on any running scheduler given by
--scheduler tcp://host:port.  The results do not depend on where or with how
many threads a task runs: a distributed sweep equals a serial one bit for bit.

    python examples/sweep_dask.py
    python examples/sweep_dask.py --b-values 0.1 0.2 0.3 0.5 --p-values 2.0 2.3 2.6
    python examples/sweep_dask.py --scheduler tcp://10.0.0.1:8786
"""

# Client, LocalCluster and Client.gather carry no annotations in
# dask.distributed; everything else here is checked strictly.
# mypy: disable-error-code="no-untyped-call"

from __future__ import annotations

import argparse
import math
import sys
import time
from collections.abc import Callable, Iterable, Sequence
from contextlib import ExitStack
from dataclasses import dataclass, replace
from pathlib import Path
from typing import TYPE_CHECKING

import numpy as np

from ssc_blob import Array, BlobParams, run_model

if TYPE_CHECKING:
    from dask.distributed import Client

# Short runs: a coarse grid and long adaptive implicit steps, up to about three
# escape times, where the spectrum is close to its steady state.
SWEEP_MODEL = BlobParams(per_decade=8, n_freq=48, accuracy=0.2, times=(9.0,))
DETECTION_FRACTION = 1e-4  # frequencies below this fraction of the peak are not fitted
FLOOR = 1e-300  # keeps log10 finite where a model spectrum is zero


@dataclass(frozen=True)
class GridPoint:
    b_field: float
    p: float
    chi2: float
    sed: Array  # nu L_nu at the last output time, erg/s


def model_sed(params: BlobParams) -> Array:
    """nu L_nu of the whole spectrum at the last output time."""
    sed: Array = run_model(params)["nuLnu_total"][-1]
    return sed


def observe(params: BlobParams, scatter_dex: float, seed: int) -> Array:
    """The model spectrum with reproducible log-normal scatter."""
    sed = model_sed(params)
    noise = np.random.default_rng(seed).normal(0.0, scatter_dex, size=sed.shape)
    observed: Array = sed * 10.0**noise
    return observed


def chi_square(model: Array, observed: Array, sigma_dex: float) -> float:
    detected = observed > DETECTION_FRACTION * float(np.max(observed))
    residual = np.log10(np.maximum(model[detected], FLOOR)) - np.log10(observed[detected])
    return float(np.sum((residual / sigma_dex) ** 2))


def fit_point(params: BlobParams, observed: Array, sigma_dex: float) -> GridPoint:
    """One task: run the model at one grid point and score it."""
    sed = model_sed(params)
    return GridPoint(params.b_field, params.p, chi_square(sed, observed, sigma_dex), sed)


def grid(base: BlobParams, b_values: Sequence[float], p_values: Sequence[float]) -> list[BlobParams]:
    return [replace(base, b_field=b, p=p) for p in p_values for b in b_values]


# Runs fit_point over the grid: the builtin map, or a Dask client's map.
Mapper = Callable[[Callable[[BlobParams], GridPoint], list[BlobParams]], Iterable[GridPoint]]


def sweep(points: list[BlobParams], observed: Array, sigma_dex: float,
          mapper: Mapper = map) -> list[GridPoint]:
    def task(params: BlobParams) -> GridPoint:
        return fit_point(params, observed, sigma_dex)

    return list(mapper(task, points))


def dask_mapper(client: "Client") -> Mapper:
    """Maps over the grid with one Dask task per point, results in grid order."""

    def mapper(task: Callable[[BlobParams], GridPoint],
               points: list[BlobParams]) -> list[GridPoint]:
        # pure=False: every point is computed, none is taken from a cache.
        futures = client.map(task, points, pure=False)
        results: list[GridPoint] = client.gather(futures)
        return results

    return mapper


def ship_examples(client: "Client") -> None:
    """Makes this module and the model importable on every worker."""
    here = Path(__file__).resolve().parent
    for name in ("ssc_blob.py", "sweep_dask.py"):
        client.upload_file(str(here / name))


def table(results: list[GridPoint], b_values: Sequence[float], p_values: Sequence[float]) -> str:
    by_point = {(r.b_field, r.p): r.chi2 for r in results}
    width = 11
    lines = ["chi^2".ljust(8) + "".join(f"B={b:g} G".rjust(width) for b in b_values)]
    for p in p_values:
        lines.append(f"p={p:g}".ljust(8)
                     + "".join(f"{by_point[(b, p)]:{width}.4g}" for b in b_values))
    return "\n".join(lines)


def parse_args(argv: Sequence[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.ArgumentDefaultsHelpFormatter)
    parser.add_argument("--scheduler", help="address of a running Dask scheduler, "
                        "e.g. tcp://host:8786 (default: start a LocalCluster)")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster worker processes")
    parser.add_argument("--threads-per-worker", type=int, default=1,
                        help="LocalCluster tasks per worker process")
    parser.add_argument("--kernel-threads", type=int, default=1,
                        help="ostrel worker threads per LocalCluster process (RAYON_NUM_THREADS)")
    parser.add_argument("--b-values", type=float, nargs="+", default=[0.1, 0.2, 0.3, 0.5],
                        help="grid of B [G]")
    parser.add_argument("--p-values", type=float, nargs="+", default=[2.0, 2.3, 2.6],
                        help="grid of injection indices")
    parser.add_argument("--true-b", type=float, default=0.3, help="B of the observed SED [G]")
    parser.add_argument("--true-p", type=float, default=2.3, help="p of the observed SED")
    parser.add_argument("--scatter", type=float, default=0.05,
                        help="log-normal scatter of the observed SED [dex]")
    parser.add_argument("--sigma", type=float, default=0.1,
                        help="uncertainty of each observed point [dex]")
    parser.add_argument("--seed", type=int, default=1, help="random seed of the scatter")
    return parser.parse_args(argv)


def main(argv: Sequence[str] | None = None) -> int:
    from dask.distributed import Client, LocalCluster

    args = parse_args(argv)
    truth = replace(SWEEP_MODEL, b_field=args.true_b, p=args.true_p)
    observed = observe(truth, args.scatter, args.seed)
    points = grid(SWEEP_MODEL, args.b_values, args.p_values)

    with ExitStack() as stack:
        if args.scheduler:
            client = stack.enter_context(Client(args.scheduler))
        else:
            # Worker processes with one kernel thread each: the tasks, not
            # the kernels, share out the cores.
            cluster = stack.enter_context(LocalCluster(
                n_workers=args.workers, threads_per_worker=args.threads_per_worker,
                processes=True, dashboard_address=None,
                env={"RAYON_NUM_THREADS": str(args.kernel_threads)}))
            client = stack.enter_context(Client(cluster))
        workers = len(client.scheduler_info()["workers"])
        print(f"{workers} workers, {len(points)} grid points")
        ship_examples(client)
        start = time.perf_counter()
        results = sweep(points, observed, args.sigma, dask_mapper(client))
        elapsed = time.perf_counter() - start

    best = min(results, key=lambda r: r.chi2)
    detected = int(np.sum(observed > DETECTION_FRACTION * np.max(observed)))
    print(table(results, args.b_values, args.p_values))
    print(f"best fit: B = {best.b_field:g} G, p = {best.p:g}, chi^2 = {best.chi2:.4g} "
          f"for {detected} frequencies (true: B = {args.true_b:g} G, p = {args.true_p:g})")
    print(f"sweep: {elapsed:.1f} s")
    return 0 if math.isfinite(best.chi2) else 1


if __name__ == "__main__":
    sys.exit(main())
