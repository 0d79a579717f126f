"""Compton cooling rates through the Python interface."""

import json
import math
import os
import subprocess
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import ostrel

C_COOL = 3.2479641514432145e-08
UNWRAP_QROMB = 'called `Result::unwrap()` on an `Err` value: "qromb: too many steps"'


def test_mono_thomson_rate_and_klein_nishina_reduction():
    gg = [1.0, 2.0, 1e3, 1e6]
    thomson = ostrel.rad_cool_mono(gg, 1e12, 2e-3, False)
    assert isinstance(thomson, list) and all(type(v) is float for v in thomson)
    assert thomson[0] == 0.0
    for g, rate in zip(gg, thomson):
        assert rate == pytest.approx(C_COOL * 2e-3 * math.sqrt(g * g - 1.0), rel=1e-15)
    kn = ostrel.rad_cool_mono(gg=gg, nu0=1e12, u0=2e-3, with_kn=True)
    # b = 4 K gamma nu0 is ~2.6e-5 at gamma = 1e3 (no correction) and ~0.026
    # at gamma = 1e6.
    assert kn[:3] == thomson[:3]
    assert kn[3] == pytest.approx(thomson[3] * (1.0 + 4 * 6.53745089363765e-21 * 1e18) ** -1.5)


def test_pwl_flat_spectrum_gives_the_thomson_rate():
    gg = [1.0, 10.0, 1e4]
    rates = ostrel.rad_cool_pwl(gg, [1e9, 2e9, 5e9], [3e-12, 3e-12, 3e-12], False)
    for g, rate in zip(gg, rates):
        assert rate == pytest.approx(C_COOL * g * g * 3e-12 * 4e9, rel=1e-13)


@settings(max_examples=40, deadline=None)
@given(q=st.floats(-6.0, 6.0), cuts=st.lists(st.floats(0.02, 0.98), min_size=1, max_size=6))
def test_pwl_refining_a_power_law_keeps_the_rate(q, cuts):
    # Extra grid points on the same power law leave the Thomson integral
    # unchanged, up to the series tolerance of the narrower segments.
    nu0, nu1, u0 = 1e9, 1e11, 1e-12
    inner = sorted({nu0 * (nu1 / nu0) ** c for c in cuts})
    grid = [nu0] + [f for f in inner if nu0 < f < nu1] + [nu1]
    spectrum = [u0 * (f / nu0) ** -q for f in grid]
    coarse = ostrel.rad_cool_pwl([50.0], [nu0, nu1], [u0, spectrum[-1]], False)[0]
    fine = ostrel.rad_cool_pwl([50.0], grid, spectrum, False)[0]
    scale = C_COOL * 2500.0 * max(u0 * nu0, spectrum[-1] * nu1)
    assert fine == pytest.approx(coarse, rel=1e-9, abs=1e-6 * scale)


def test_pwl_degenerate_inputs():
    assert ostrel.rad_cool_pwl([], [], [], True) == []
    assert ostrel.rad_cool_pwl([2.0, 3.0], [1e10], [1.0], True) == [0.0, 0.0]
    assert ostrel.rad_cool_pwl([2.0], [1e10, 1e11], [0.0, 0.0], True) == [0.0]


def test_pwl_failures_panic_with_their_texts(panic_type):
    with pytest.raises(panic_type) as info:
        ostrel.rad_cool_pwl([10.0], [], [], False)
    assert info.value.args == ("ndarray: index out of bounds",)
    with pytest.raises(panic_type) as info:
        ostrel.rad_cool_pwl([10.0], [1e9, 1e10], [1.0], False)
    assert info.value.args == ("ndarray: index out of bounds",)
    # Equal neighbouring frequencies with equal u: the Romberg integration of
    # the undefined power law fails at once rather than after 2^19 points.
    with pytest.raises(panic_type) as info:
        ostrel.rad_cool_pwl([1e6], [3.8e11, 3.8e11, 4e11], [1e-12] * 3, True)
    assert info.value.args == (UNWRAP_QROMB,)
    assert math.isnan(ostrel.rad_cool_pwl([1e6], [3.8e11, 3.8e11, 4e11], [1e-12] * 3, False)[0])


_THREAD_PROBE = """
import json, math, ostrel
freqs = [10.0 ** (8 + 0.1 * i) for i in range(121)]
uu = [1e-10 * (f / 1e8) ** -0.7 * math.exp(-f / 1e19) for f in freqs]
gg = [10.0 ** (0.07 * i) for i in range(101)]
print(json.dumps([ostrel.rad_cool_pwl(gg, freqs, uu, True), ostrel.rad_cool_pwl(gg, freqs, uu, False),
                  ostrel.rad_cool_mono(gg, 1e14, 1e-3, True)]))
"""


def test_results_do_not_depend_on_the_thread_count():
    outputs = []
    for threads in ("1", "2", "3"):
        env = dict(os.environ, RAYON_NUM_THREADS=threads)
        run = subprocess.run([sys.executable, "-c", _THREAD_PROBE], env=env, check=True,
                             capture_output=True, text=True)
        outputs.append(json.loads(run.stdout))
    assert outputs[0] == outputs[1] == outputs[2]
    assert all(0.0 < kn < th for kn, th in zip(outputs[0][0][1:], outputs[0][1][1:]))
