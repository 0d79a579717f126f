"""A grid sweep on Dask workers gives the serial results bit for bit.

The workers are separate processes with one kernel thread each, while the
serial run uses this process's own pool, so the comparison also covers the
independence of the results from where and on how many threads they run.
"""

from __future__ import annotations

import os
import sys
from dataclasses import replace
from pathlib import Path

import pytest

distributed = pytest.importorskip("dask.distributed", reason="dask.distributed is not installed")
np = pytest.importorskip("numpy")

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "examples"))
import ssc_blob  # noqa: E402
import sweep_dask  # noqa: E402

TINY = ssc_blob.BlobParams(per_decade=6, n_freq=16, accuracy=0.3, times=(2.0,))
B_VALUES, P_VALUES = (0.2, 0.3), (2.1, 2.5)


def test_distributed_sweep_equals_serial_sweep():
    observed = sweep_dask.observe(replace(TINY, b_field=0.3, p=2.5), 0.05, seed=3)
    points = sweep_dask.grid(TINY, B_VALUES, P_VALUES)
    serial = sweep_dask.sweep(points, observed, 0.1)

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None,
                                  env={"RAYON_NUM_THREADS": "1"}) as cluster, \
            distributed.Client(cluster) as client:
        # a lambda is shipped by value and reads the worker's own environment
        kernel_threads = client.run(lambda: os.environ.get("RAYON_NUM_THREADS"))
        assert set(kernel_threads.values()) == {"1"}
        sweep_dask.ship_examples(client)
        spread = sweep_dask.sweep(points, observed, 0.1, sweep_dask.dask_mapper(client))

    assert [(r.b_field, r.p) for r in spread] == [(p.b_field, p.p) for p in points]
    for mine, theirs in zip(serial, spread):
        assert mine.sed.tobytes() == theirs.sed.tobytes()
        assert mine.chi2 == theirs.chi2
    # the grid point the observation was made at fits best
    best = min(serial, key=lambda r: r.chi2)
    assert (best.b_field, best.p) == (0.3, 2.5)


def test_chi_square_counts_only_detected_frequencies():
    observed = np.array([1e40, 1e39, 1e35, 0.0])  # the last two below 1e-4 of the peak
    model = np.array([1e41, 1e39, 0.0, 5.0])
    assert sweep_dask.chi_square(model, observed, 0.5) == pytest.approx((1.0 / 0.5) ** 2)
    assert sweep_dask.chi_square(observed, observed, 0.1) == 0.0
