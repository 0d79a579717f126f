"""Compton cooling rates through the Python interface."""

import math

import pytest

import ostrel
from conftest import INDEX, TOO_MANY_STEPS, outputs_per_thread_count

C_COOL = 3.2479641514432145e-08


def test_rates_by_position_and_keyword():
    gg = [1.0, 2.0, 1e6]
    mono = ostrel.rad_cool_mono(gg, 1e12, 2e-3, False)
    assert isinstance(mono, list) and all(type(v) is float for v in mono)
    assert mono == [C_COOL * 2e-3 * math.sqrt(g * g - 1.0) for g in gg]
    # b = 4 K gamma nu0 ~ 0.026 at gamma = 1e6: the (1 + b)^-1.5 reduction.
    kn = ostrel.rad_cool_mono(gg=gg, nu0=1e12, u0=2e-3, with_kn=True)
    assert kn[:2] == mono[:2]
    assert kn[2] == pytest.approx(mono[2] * (1.0 + 4 * 6.53745089363765e-21 * 1e18) ** -1.5)
    # A flat segment: C gamma^2 u dnu.
    pwl = ostrel.rad_cool_pwl(gg, [1e9, 2e9, 5e9], [3e-12, 3e-12, 3e-12], False)
    assert pwl == pytest.approx([C_COOL * g * g * 3e-12 * 4e9 for g in gg], rel=1e-13)
    assert ostrel.rad_cool_pwl(uu=[3e-12] * 3, with_kn=False, gg=gg, freqs=[1e9, 2e9, 5e9]) == pwl
    assert ostrel.rad_cool_pwl([], [], [], True) == []


def test_failures_panic_with_their_texts(panic_type):
    for freqs, uu in (([], []), ([1e9, 1e10], [1.0])):
        with pytest.raises(panic_type) as info:
            ostrel.rad_cool_pwl([10.0], freqs, uu, False)
        assert info.value.args == (INDEX,)
    # Equal neighbouring frequencies with equal u leave the index undefined;
    # at b ~ 0.01 its Romberg integration cannot converge.
    with pytest.raises(panic_type) as info:
        ostrel.rad_cool_pwl([1e6], [3.8e11, 3.8e11, 4e11], [1e-12] * 3, True)
    assert info.value.args == (TOO_MANY_STEPS,)


_THREAD_PROBE = """
import json, math, ostrel
freqs = [10.0 ** (8 + 0.1 * i) for i in range(121)]
uu = [1e-10 * (f / 1e8) ** -0.7 * math.exp(-f / 1e19) for f in freqs]
gg = [10.0 ** (0.07 * i) for i in range(101)]
print(json.dumps([ostrel.rad_cool_pwl(gg, freqs, uu, True), ostrel.rad_cool_pwl(gg, freqs, uu, False),
                  ostrel.rad_cool_mono(gg, 1e14, 1e-3, True)]))
"""


def test_results_do_not_depend_on_the_thread_count():
    outputs = outputs_per_thread_count(_THREAD_PROBE)
    assert outputs[0] == outputs[1]
    assert all(0.0 < kn < th for kn, th in zip(outputs[0][0][1:], outputs[0][1][1:]))
