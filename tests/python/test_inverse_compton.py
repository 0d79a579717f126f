"""Inverse-Compton emissivity through the Python interface."""

import pytest

import ostrel
from conftest import INDEX, outputs_per_thread_count

GAMMA = [10.0 ** (0.05 * i) for i in range(161)]  # 1 .. 1e8


def test_monochrome_power_law_by_position_and_keyword():
    # N = gamma^-2.5 in a line field: j = 4 uext c sigma_T G^-0.75/(3.5 5.5 nuext),
    # G = nu/(4 nuext), while sqrt(G) is far inside the grid.
    freqs = [1e13, 1e14, 1e15, 1e16]
    n = [g**-2.5 for g in GAMMA]
    j = ostrel.ic_iso_monochrome_full(freqs, 3.0, 1e9, n, GAMMA)
    assert isinstance(j, list) and all(type(v) is float for v in j)
    for nu, value in zip(freqs, j):
        big_g = nu / 4e9
        expected = 3.0 * 2.99792458e10 * 6.6524587321000005e-25 / 1e9 * 4.0 * big_g**-0.75 / 19.25
        assert value == pytest.approx(expected, rel=1e-6)
    assert ostrel.ic_iso_monochrome_full(g=GAMMA, n=n, nuext=1e9, uext=3.0, freqs=freqs) == j
    assert ostrel.ic_iso_powlaw_full([1e12], [1.0], GAMMA, n) == [0.0]


def test_short_vectors_panic(panic_type):
    n = [g**-2.0 for g in GAMMA]
    with pytest.raises(panic_type) as info:
        ostrel.ic_iso_powlaw_full([1e9, 1e10, 1e11], [1.0, 1.0], GAMMA, n)
    assert info.value.args == (INDEX,)
    with pytest.raises(panic_type) as info:
        ostrel.ic_iso_monochrome_full([1e12], 1.0, 1e9, n[:-1], GAMMA)
    assert info.value.args == (INDEX,)


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
    outputs = outputs_per_thread_count(_THREAD_PROBE)
    assert outputs[0] == outputs[1]
    assert sum(v > 0.0 for v in outputs[0][0]) > 60
