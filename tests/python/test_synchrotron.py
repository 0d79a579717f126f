"""syn_emissivity_full through the module: results, invariances, diagnostics."""

import math
import time

import pytest
from hypothesis import given, settings, strategies as st

import ostrel
from conftest import INDEX

NU_B_PER_GAUSS = 2799248.987233304
GAMMA = [10 ** (0.2 * k) for k in range(1, 21)]  # 1.6 .. 1e4
FREQS = [10 ** (7 + 0.5 * k) for k in range(24)]


def power_law(p, gamma=GAMMA, scale=1.0):
    return [scale * g ** -p for g in gamma]


def test_shape_and_types():
    j, a = ostrel.syn_emissivity_full(FREQS, GAMMA, power_law(2.4), 0.5, True)
    assert len(j) == len(a) == len(FREQS)
    assert all(type(x) is float for x in j + a)
    assert all(x >= 0 for x in j + a)
    assert j[10] > 0 and a[10] > 0
    empty = ostrel.syn_emissivity_full([], GAMMA, power_law(2.4), 0.5, True)
    assert empty == ([], [])


@settings(max_examples=15, deadline=None)
@given(scale=st.floats(1e-20, 1e20), stretch=st.floats(0.01, 100.0))
def test_linear_in_density_and_scales_with_field(scale, stretch):
    # j and a are linear in N.  Multiplying nu and B by one factor keeps chi;
    # j grows with nu_B and a, which carries 1/nu^2, falls as 1/factor.
    freqs = [1e9, 1e11, 1e13]
    n = power_law(2.2)
    j, a = ostrel.syn_emissivity_full(freqs, GAMMA, n, 0.3, True)
    js, as_ = ostrel.syn_emissivity_full(freqs, GAMMA, [scale * x for x in n], 0.3, True)
    assert js == pytest.approx([scale * x for x in j], rel=1e-6)
    assert as_ == pytest.approx([scale * x for x in a], rel=1e-6)
    jb, ab = ostrel.syn_emissivity_full([stretch * f for f in freqs], GAMMA, n, 0.3 * stretch, True)
    assert jb == pytest.approx([stretch * x for x in j], rel=1e-6)
    assert ab == pytest.approx([x / stretch for x in a], rel=1e-6)


def test_extra_densities_ignored_missing_ones_fatal(panic_type):
    n = power_law(2.4)
    assert (ostrel.syn_emissivity_full(FREQS, GAMMA, n + [5.0, 7.0], 0.5, True)
            == ostrel.syn_emissivity_full(FREQS, GAMMA, n, 0.5, True))
    with pytest.raises(panic_type) as info:
        ostrel.syn_emissivity_full(FREQS, GAMMA, n[:-1], 0.5, True)
    assert info.value.args == (INDEX,)


def test_undefined_index_reports_non_convergence_at_once(capfd):
    # Equal neighbouring gamma with equal densities give the index q = 0/0.
    start = time.monotonic()
    j, a = ostrel.syn_emissivity_full([NU_B_PER_GAUSS * 4], [2.0, 2.0], [3.0, 3.0], 1.0, True)
    assert time.monotonic() - start < 5
    assert math.isnan(j[0]) and math.isnan(a[0])
    block = ("chi    = 4\nq      = NaN\nga     = 2\ngb     = 2\n"
             "qromb  = NaN\ndqromb = NaN\n")
    out, err = capfd.readouterr()
    assert out == "RMA_qromb error\n" + block
    assert err == ("RMA_qromb: too many steps" + "ARMA_qromb error\n" + block
                   + "ARMA_qromb: too many steps\n")


def test_overflowing_integrand_reports_at_once(capfd):
    # gamma^(1-q) = gamma^9 overflows: the emission estimates are all +inf and
    # no extrapolation through them can converge.
    start = time.monotonic()
    j, a = ostrel.syn_emissivity_full([1e9], [1e35, 1e36], [1.0, 1e8], 1.0, True)
    assert time.monotonic() - start < 5
    assert math.isnan(j[0]) and a[0] == 0.0
    out, err = capfd.readouterr()
    assert out.startswith("RMA_qromb error\n") and out.endswith("qromb  = NaN\ndqromb = NaN\n")
    assert "q      = -8\n" in out
    assert err == "RMA_qromb: too many steps"
