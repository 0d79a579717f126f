"""sample_sed: recovery of a known blob, reproducibility on a pool, priors, chain files."""

import multiprocessing
from concurrent.futures import ProcessPoolExecutor

import astropy.units as u
import numpy as np
import pytest
from astropy.table import Table

from ostrel_models import Blob, PowerLaw
from ostrel_models.chains import SampleResult
from ostrel_models.sampling import sample_sed

from kernel_sets import accurate  # noqa: F401  (fixture)

pytest.importorskip("emcee")

TRUTH = {"B": 0.1, "energy": 1e46, "electrons.p": 2.5}
FREE = {"B": (1e-2, 1.0), "energy": (1e44, 1e48), "electrons.p": (2.0, 3.0)}


def truth():
    return Blob(radius=1e16 * u.cm, B=TRUTH["B"] * u.G, doppler=10.0, z=0.05,
                electrons=PowerLaw(TRUTH["electrons.p"], 10.0, 1e5),
                energy=TRUTH["energy"] * u.erg, n_gamma=30, seed_per_decade=4)


def noisy_sed(kernels, rel=0.1, seed=1):
    # Synchrotron and self-Compton, each point scattered by its 10 % error.
    nu = np.geomspace(1e10, 1e25, 20) * u.Hz
    f = truth().sed(nu, kernels=kernels)
    rng = np.random.default_rng(seed)
    t = Table()
    t["frequency"] = nu
    t["nuFnu"] = f * 10 ** rng.normal(0.0, rel / np.log(10), len(nu))
    t["nuFnu_err_low"] = t["nuFnu_err_high"] = rel * t["nuFnu"]
    return t


def test_posterior_holds_the_truth_within_two_sigma_and_files_keep_the_chains(accurate,
                                                                              tmp_path):
    data = noisy_sed(accurate)
    res = sample_sed(truth(), data, FREE, nwalkers=12, nsteps=150, burn=50, seed=3,
                     progress=False, systematics=0.0, kernels=accurate)
    assert res.chain.shape == (150, 12, 3) and res.log_prob.shape == (150, 12)
    assert np.all((res.acceptance_fraction > 0.1) & (res.acceptance_fraction < 0.9))
    lo, hi = res.percentiles([2.275, 97.725])
    for i, name in enumerate(res.names):
        assert lo[i] < TRUTH[name] < hi[i], res.summary()
        # The posterior is informative: much narrower than the prior's range.
        assert hi[i] - lo[i] < 0.2 * (FREE[name][1] - FREE[name][0])
    for suffix in (".ecsv", ".fits"):
        res.write(tmp_path / f"chains{suffix}")
        back = SampleResult.read(tmp_path / f"chains{suffix}")
        np.testing.assert_array_equal(back.chain, res.chain)
        np.testing.assert_array_equal(back.log_prob, res.log_prob)
        assert back.names == res.names and back.burn == 50 and back.units[0] == u.G


def test_same_seed_gives_the_same_chains_serially_and_on_a_process_pool(accurate):
    data = noisy_sed(accurate)
    kw = dict(nwalkers=8, nsteps=20, burn=5, seed=11, progress=False, kernels=accurate)
    serial = sample_sed(truth(), data, FREE, **kw)
    # Fresh interpreters (spawn): forking a process whose kernels run helper
    # threads is not safe.
    with ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn")) as pool:
        pooled = sample_sed(truth(), data, FREE, pool=pool, **kw)
    np.testing.assert_array_equal(serial.chain, pooled.chain)
    other = sample_sed(truth(), data, FREE, **(kw | {"seed": 12}))
    assert not np.array_equal(other.chain, serial.chain)


def test_priors_log_flat_by_default_or_given_and_bounds_apply(accurate):
    # Errors of a factor 1000: the likelihood is flat and the posterior is the
    # prior.  B (a "log" parameter) is flat in log B: half the samples lie
    # below 0.1, the geometric middle of [0.01, 1] (flat in B would put 9 %
    # there); p follows the Gaussian prior it is given.
    data = noisy_sed(accurate)[::5]
    data["nuFnu_err_low"] = data["nuFnu_err_high"] = 1e3 * data["nuFnu"]
    prior = {"electrons.p": lambda p: -0.5 * ((p - 2.6) / 0.05) ** 2}
    res = sample_sed(truth(), data, FREE, nwalkers=8, nsteps=250, burn=50, seed=5,
                     progress=False, priors=prior, kernels=accurate, spread=0.2)
    b = res.samples[:, res.names.index("B")]
    p = res.samples[:, res.names.index("electrons.p")]
    assert 0.35 < np.mean(b < 0.1) < 0.65
    assert abs(np.median(p) - 2.6) < 0.03 and 0.03 < np.std(p) < 0.08
    for i, name in enumerate(res.names):
        assert np.all((res.chain[:, :, i] >= FREE[name][0]) & (res.chain[:, :, i] <= FREE[name][1]))
    with pytest.raises(ValueError, match="nwalkers"):
        sample_sed(truth(), data, FREE, nwalkers=4, nsteps=10, burn=0, progress=False)
    with pytest.raises(ValueError, match="priors"):
        sample_sed(truth(), data, FREE, priors={"doppler": lambda d: 0.0}, progress=False)
