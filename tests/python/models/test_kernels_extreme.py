"""Every accurate kernel on extreme but valid inputs: neighbouring values whose
ratio leaves a double, values at both ends of the double range (subnormal
ones included), grid points one ulp apart, frequencies and Lorentz factors at
the ends of their range.  Each call returns finite numbers (emissivities and
loss rates non-negative) or raises a ValueError that names an argument; the
values themselves are checked against quadrature in the C++ tests
(tests/cpp/accurate/test_extremes.cpp)."""

import numpy as np
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from ostrel_models import kernels

NAMES = ("nu", "gamma", "n", "B", "nu0", "u0", "seed_nu", "seed_u")


def _decades(lo, hi):
    return st.floats(lo, hi).map(lambda x: 10.0**x)


FREQ = _decades(-40, 50)
VALUE = st.one_of(st.just(0.0), _decades(-323.3, 308.2), st.sampled_from([5e-324, 1e-320, 1.7e308]))


@st.composite
def _table(draw, lo, hi):
    x = sorted({10.0**e for e in draw(st.lists(st.floats(lo, hi), min_size=1, max_size=5))})
    if draw(st.booleans()):  # a neighbour a few ulps away
        i = draw(st.integers(0, len(x) - 1))
        x = sorted(set(x) | {float(np.nextafter(np.nextafter(x[i], np.inf), np.inf))})
        x = [v for v in x if v <= 10.0**hi]
    return x, draw(st.lists(VALUE, min_size=len(x), max_size=len(x)))


def _finite_or_named(call, *args, non_negative=True):
    try:
        out = call(*args)
    except ValueError as err:
        assert str(err).split(":")[0] in NAMES, str(err)
        return
    for part in out if isinstance(out, tuple) else (out,):
        assert np.all(np.isfinite(part)), (call.__name__, args, part)
    first = out[0] if isinstance(out, tuple) else out
    assert not non_negative or np.all(first >= 0.0), (call.__name__, args, first)


PROBE = settings(max_examples=150, deadline=None, suppress_health_check=list(HealthCheck))


@PROBE
@given(st.lists(FREQ, min_size=1, max_size=3), _table(0, 30), _decades(-300, 300), FREQ, VALUE, _table(-40, 50))
def test_every_kernel_gives_finite_results_or_names_the_argument(nu, electrons, B, nu0, u0, seed):
    (gamma, n), (seed_nu, seed_u) = electrons, seed
    _finite_or_named(kernels.synchrotron, nu, gamma, n, B)
    _finite_or_named(kernels.synchrotron_cooling, gamma, B)
    _finite_or_named(kernels.inverse_compton_mono, nu, gamma, n, nu0, u0)
    _finite_or_named(kernels.compton_cooling_mono, gamma, nu0, u0)
    _finite_or_named(kernels.inverse_compton, nu, gamma, n, seed_nu, seed_u)
    _finite_or_named(kernels.compton_cooling, gamma, seed_nu, seed_u)
    _finite_or_named(kernels.gamma_gamma_opacity, nu, seed_nu, seed_u)


def test_the_reported_cases_are_finite():
    # A cutoff's tail of 1e-320 next to 1e-2, and a jump of 1e310.
    for n in ([1e-320, 1e-2, 1e-3], [1e-300, 1e10, 1e9]):
        j, alpha = kernels.synchrotron([1e8], [10.0, 20.0, 40.0], n, 1.0)
        assert np.isfinite(j[0]) and j[0] > 0 and np.isfinite(alpha[0])
    ic = kernels.inverse_compton_mono([1e12], [10.0, 20.0, 40.0], [1e-320, 1e-2, 1e-3], 1e9, 1e-3)
    assert np.isfinite(ic[0]) and ic[0] > 0
