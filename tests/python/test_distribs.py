"""The particle distributions: one Fokker-Planck step and the Park 1995 solution.

The two functions check each other.  The closed form of eq_59_park1995,

    R(p, t) = 4 pi e^-t (1/t) p^-1/2 p0^-3/2 I_3(2/(t sqrt(p p0))) exp(-(1/p + 1/p0)/t),

is the Green's function of stochastic acceleration with momentum diffusion
~ p^q and systematic gain ~ p^(q-1) (q = 3, gain parameter a = 1) and escape
in unit time,

    dR/dt = d/dp [ p^3 dR/dp - p^2 R ] - R,                         (*)

started from a delta function at p0 that holds 4 pi particles (the factor
4 pi makes it a density in momentum space).  Its parts follow the general
form: the Bessel order |(q - 1 + a)/(2 theta)| = 3 with theta = (2 - q)/2,
the argument p^theta p0^theta / (2 theta^2 t), the exponent
-(p^(2 theta) + p0^(2 theta))/(4 theta^2 t), the power
p^((1-q+a)/2) p0^((1-q-a)/2), and the escape factor e^-t.
test_park_solution_solves_its_equation checks (*) by finite differences.

fp_findif_difu advances dN/dt = d/dg [ C dN/dg + B N ] + Q - N/T with
C = D/2 and B = Gdot + (1/2) dD/dg.  Matching (*) term by term on a grid of
momenta p (the solver's variable may be any energy coordinate):
    C = p^3                  ->  D(p) = 2 p^3,
    B = -p^2 = Gdot + 3 p^2  ->  Gdot(p) = -4 p^2  (negative: a gain),
    T = 1, Q = 0, and time in units of tlc = 1.
Started from one bin at p0 holding one particle, 4 pi N must reproduce R.
"""

import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import ostrel
from conftest import BROADCAST, FP_CHECK, INDEX, POLINT_FAILED, TRIDAG

P0 = 99.99499987499375  # sqrt(100^2 - 1)


def gamma_of(p):
    return math.sqrt(p * p + 1.0)


def park(t, p):
    return ostrel.eq_59_park1995(t, [gamma_of(p)])[0]


# ----- the Park 1995 solution ------------------------------------------------

@pytest.mark.parametrize("p, t", [(50.0, 0.002), (100.0, 0.01), (300.0, 0.005), (2000.0, 0.003)])
def test_park_solution_solves_its_equation(p, t):
    hp, ht = 1e-3 * p, 1e-3 * t
    dr_dt = (park(t + ht, p) - park(t - ht, p)) / (2 * ht)

    def flux(x):
        return x**3 * (park(t, x + hp) - park(t, x - hp)) / (2 * hp) - x**2 * park(t, x)

    rhs = (flux(p + hp) - flux(p - hp)) / (2 * hp) - park(t, p)
    assert rhs == pytest.approx(dr_dt, rel=1e-3)


def test_park_floor_and_edge_cases():
    assert ostrel.eq_59_park1995(0.01, []) == []
    assert ostrel.eq_59_park1995(0.01, [1.0, 0.5]) == [1e-100, 1e-100]
    assert ostrel.eq_59_park1995(0.0, [50.0, 100.0]) == [1e-100, 1e-100]
    # Late times: the leading Bessel term is negligible, I_3 is returned as 0.
    assert ostrel.eq_59_park1995(1e3, [100.0]) == [1e-100]


@settings(max_examples=60, deadline=None)
@given(t=st.floats(-10.0, 1e3) | st.just(float("nan")),
       g=st.lists(st.floats(allow_nan=True, allow_infinity=True), max_size=8))
def test_park_values_stay_within_bounds(t, g):
    for value in ostrel.eq_59_park1995(t, g):
        assert 1e-100 <= value <= 1e200


# ----- the Fokker-Planck step ------------------------------------------------

def stretched_log_grid(n, lo, hi, stiffness):
    """Momenta uniform in s = ln p - stiffness/p, with P0 on the grid.

    The extra term refines the grid where the solution falls off like
    exp(-1/(p t)) at low momenta; at high momenta the grid is logarithmic.
    """
    def s(p):
        return math.log(p) - stiffness / p

    ds = (s(hi) - s(lo)) / (n - 1)
    k0 = round((s(P0) - s(lo)) / ds)
    grid = []
    for i in range(n):
        target = s(P0) + (i - k0) * ds
        a, b = 1e-3, 1e9
        for _ in range(100):
            m = math.sqrt(a * b)
            a, b = (m, b) if s(m) < target else (a, m)
        grid.append(math.sqrt(a * b))
    grid[k0] = P0
    return grid, k0


def evolve_from_delta(p, k0, t_end, steps):
    n = len(p)
    diffusion = [2.0 * x**3 for x in p]
    gdot = [-4.0 * x**2 for x in p]
    dist = [0.0] * n
    dist[k0] = 1.0 / (0.5 * (p[k0 + 1] - p[k0 - 1]))
    dt = t_end / steps
    for _ in range(steps):
        dist = ostrel.fp_findif_difu(dt, p, dist, gdot, diffusion, [0.0] * n, 1.0, 1.0)
    return dist


def test_step_reproduces_park_solution():
    # Backward Euler is first order in dt; two runs (500 and 1000 steps)
    # extrapolated to dt -> 0 leave mainly the spatial error of 400 bins.
    t_end = 1e-3
    p, k0 = stretched_log_grid(400, 17.0, 3e5, 200.0)
    coarse = evolve_from_delta(p, k0, t_end, 500)
    fine = evolve_from_delta(p, k0, t_end, 1000)
    exact = ostrel.eq_59_park1995(t_end, [gamma_of(x) for x in p])
    peak = max(exact)
    compared = 0
    for x, n1, n2, r in zip(p, coarse, fine, exact):
        if r > 1e-6 * peak:
            extrapolated = 2.0 * n2 - n1
            assert 4.0 * math.pi * extrapolated == pytest.approx(r, rel=0.04), x
            compared += 1
    assert compared > 250  # the solution spans about 21 < p < 3e4


def test_step_errors(panic_type):
    g, ones, zero = [1.0, 2.0, 3.0], [1.0] * 3, [0.0] * 3
    nan = float("nan")
    with pytest.raises(panic_type, match=FP_CHECK):
        ostrel.fp_findif_difu(1.0, g, ones, zero, ones, [0.0, nan, 0.0], 1.0, 1.0)
    with pytest.raises(panic_type, match=FP_CHECK):
        ostrel.fp_findif_difu(nan, g, ones, zero, ones, zero, 1.0, 1.0, None)
    with pytest.raises(panic_type, match=INDEX):
        ostrel.fp_findif_difu(1.0, [1.0], [1.0], [0.0], [1.0], [0.0], 1.0, 1.0)
    with pytest.raises(panic_type) as info:
        ostrel.fp_findif_difu(1.0, [1.0, 2.0, 3.0, 3.0], [1.0] * 4, [0.0] * 4, [1.0] * 4,
                              [0.0] * 4, 1.0, 1.0)
    assert str(info.value) == POLINT_FAILED
    # Two bins with D = 4 and dt = 1: diagonal 4 + 1/T, off-diagonals -2.
    for tesc, message in zip((-0.25, -0.5), TRIDAG):
        with pytest.raises(panic_type, match=message):
            ostrel.fp_findif_difu(1.0, [1.0, 2.0], [1.0, 1.0], [0.0, 0.0], [4.0, 4.0],
                                  [0.0, 0.0], tesc, 1.0)


def test_step_check_switch():
    g, ones, zero = [1.0, 2.0, 3.0], [1.0] * 3, [0.0] * 3
    result = ostrel.fp_findif_difu(1.0, g, ones, zero, ones, [0.0, float("nan"), 0.0], 1.0, 1.0,
                                   False)
    assert isinstance(result, list) and len(result) == 3
    assert math.isnan(result[1])
    with pytest.raises(TypeError) as info:
        ostrel.fp_findif_difu(1.0, g, ones, zero, ones, zero, 1.0, 1.0, 0)
    assert str(info.value) == "argument 'check_params': 'int' object cannot be converted to 'PyBool'"


def test_step_single_value_nin_or_qin_is_broadcast(panic_type):
    g = [1.0, 2.0, 4.0, 8.0]
    gdot, diffusion = [0.1, 0.2, 0.4, 0.8], [1.0, 2.0, 3.0, 5.0]
    full = ostrel.fp_findif_difu(0.1, g, [2.0] * 4, gdot, diffusion, [0.5] * 4, 10.0, 1.0)
    assert ostrel.fp_findif_difu(0.1, g, [2.0], gdot, diffusion, [0.5] * 4, 10.0, 1.0) == full
    assert ostrel.fp_findif_difu(0.1, g, [2.0] * 4, gdot, diffusion, [0.5], 10.0, 1.0) == full
    with pytest.raises(panic_type, match=INDEX):
        ostrel.fp_findif_difu(0.1, g, [2.0], gdot, diffusion, [0.5], 10.0, 1.0)
    with pytest.raises(panic_type) as info:
        ostrel.fp_findif_difu(0.1, g, [2.0] * 4, gdot, diffusion, [0.5] * 2, 10.0, 1.0)
    assert info.value.args == (BROADCAST + "[2] to: [4]",)


def test_step_rates_longer_than_the_grid(panic_type):
    g, ones = [1.0, 2.0, 4.0, 8.0], [1.0] * 4
    for gdot, diffusion in (([0.0] * 4, [1.0] * 5), ([0.0] * 6, ones)):
        with pytest.raises(panic_type) as info:
            ostrel.fp_findif_difu(0.1, g, ones, gdot, diffusion, ones, 10.0, 1.0)
        assert info.value.args == (BROADCAST + f"[{max(len(gdot), len(diffusion))}] to: [4]",)
