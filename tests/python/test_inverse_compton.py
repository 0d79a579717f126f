"""Inverse-Compton emissivity through the Python interface."""

import json
import math
import os
import subprocess
import sys

import pytest

import ostrel

C = 2.99792458e10
SIGMA_T = 6.6524587321000005e-25


def logspace(lo, hi, n):
    return [10.0 ** (lo + (hi - lo) * i / (n - 1)) for i in range(n)]


GAMMA = logspace(0.0, 8.0, 161)


def power_law(p, grid=GAMMA):
    return [g ** -p for g in grid]


def thomson_monochrome(nu, p, uext, nuext):
    """Emissivity of N = gamma^-p, gamma >= sqrt(nu/(4 nuext)), in a line field."""
    big_g = nu / (4.0 * nuext)
    return uext * C * SIGMA_T / nuext * 4.0 * big_g ** ((1.0 - p) / 2.0) / ((p + 1.0) * (p + 3.0))


def test_monochrome_power_law_by_position_and_keyword():
    freqs = logspace(13.0, 16.0, 4)
    n = power_law(2.5)
    j = ostrel.ic_iso_monochrome_full(freqs, 3.0, 1e9, n, GAMMA)
    assert isinstance(j, list) and all(type(v) is float for v in j)
    for nu, value in zip(freqs, j):
        assert value == pytest.approx(thomson_monochrome(nu, 2.5, 3.0, 1e9), rel=1e-6)
    assert ostrel.ic_iso_monochrome_full(g=GAMMA, n=n, nuext=1e9, uext=3.0, freqs=freqs) == j


def test_powlaw_narrow_seed_follows_the_electron_index():
    freqs = logspace(8.0, 20.0, 121)
    inu = [0.0] * len(freqs)
    inu[30] = inu[31] = 1e-3  # one seed segment at 1e11 Hz
    g = logspace(0.0, 7.0, 351)
    j = ostrel.ic_iso_powlaw_full(freqs, inu, g, power_law(3.0, g))
    assert len(j) == len(freqs)
    # One decade (10 grid steps) apart the spectrum falls by 10^-(p-1)/2.
    for k in range(50, 100, 9):
        assert j[k + 10] / j[k] == pytest.approx(0.1, rel=1e-9)


def test_degenerate_inputs_give_zeros():
    n = power_law(2.0)
    assert ostrel.ic_iso_powlaw_full([1e12], [1.0], GAMMA, n) == [0.0]
    assert ostrel.ic_iso_powlaw_full([], [], GAMMA, n) == []
    assert ostrel.ic_iso_monochrome_full([1e12, 1e14], 1.0, 1e9, [1.0], [10.0]) == [0.0, 0.0]
    assert ostrel.ic_iso_monochrome_full([1e12], 1.0, 1e9, [0.0] * len(GAMMA), GAMMA) == [0.0]


def test_short_vectors_panic(panic_type):
    n = power_law(2.0)
    freqs = logspace(9.0, 15.0, 7)
    with pytest.raises(panic_type) as info:
        ostrel.ic_iso_powlaw_full(freqs, [1.0] * 6, GAMMA, n)
    assert info.value.args == ("ndarray: index out of bounds",)
    with pytest.raises(panic_type) as info:
        ostrel.ic_iso_monochrome_full([1e12], 1.0, 1e9, n[:-1], GAMMA)
    assert info.value.args == ("ndarray: index out of bounds",)


_THREAD_PROBE = """
import json, math, ostrel
freqs = [10.0 ** (8 + 0.1 * i) for i in range(121)]
inu = [1e-3 * (f / 1e8) ** -0.6 * math.exp(-f / 1e17) for f in freqs]
g = [10.0 ** (0.05 * i) for i in range(121)]
n = [x ** -2.3 * math.exp(-x / 1e5) for x in g]
print(json.dumps([ostrel.ic_iso_powlaw_full(freqs, inu, g, n),
                  ostrel.ic_iso_monochrome_full(freqs, 1e-2, 1e10, n, g)]))
"""


def test_results_do_not_depend_on_the_thread_count():
    outputs = []
    for threads in ("1", "2", "3"):
        env = dict(os.environ, RAYON_NUM_THREADS=threads)
        run = subprocess.run([sys.executable, "-c", _THREAD_PROBE], env=env, check=True,
                             capture_output=True, text=True)
        outputs.append(json.loads(run.stdout))
    assert outputs[0] == outputs[1] == outputs[2]
    assert any(v > 0.0 for v in outputs[0][0]) and not any(math.isnan(v) for v in outputs[0][0])
