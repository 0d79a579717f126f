"""The accurate kernels against adaptive quadrature of the physics integrals
(reference.py) and against closed forms, regime by regime."""

import math

import numpy as np
import pytest
from scipy.integrate import quad

import reference as ref
from ostrel_models import kernels


@pytest.mark.parametrize("x", [1e-3, 0.3, 3.0, 20.0])
def test_closed_form_of_the_synchrotron_function_is_the_pitch_angle_average(x):
    # Validates the reference: the closed form against the average it stands for.
    assert ref.r_closed(x) == pytest.approx(ref.r_definition(x), rel=1e-8)


@pytest.mark.parametrize("points", [128, 16])
def test_synchrotron_against_quadrature(points):
    gamma, n = ref.electrons(points)
    regimes = ref.synchrotron_regimes(1.0)
    nu = np.concatenate(list(regimes.values()))
    j, alpha = kernels.synchrotron(nu, gamma, n, 1.0)
    j_ref, alpha_ref = ref.synchrotron(nu, gamma, n, 1.0)
    sizes = [len(v) for v in regimes.values()]
    assert max(ref.regime_errors(j, j_ref, sizes)) < 1e-4
    assert max(ref.regime_errors(alpha, alpha_ref, sizes)) < 1e-4


@pytest.mark.parametrize("seed", range(4))
def test_synchrotron_on_random_steep_distributions(seed):
    # Jumps of many decades between neighbouring points (indices up to +-20),
    # empty segments and fields from 1 mG to 100 G stress the choice of
    # quadrature pieces; alpha then sums terms of both signs.
    rng = np.random.default_rng(seed)
    gamma = np.unique(np.concatenate([[1.0 + rng.random()], 10 ** rng.uniform(0.5, 7, 9)]))
    n = 10 ** rng.uniform(-10, 5, len(gamma))
    n[rng.random(len(gamma)) < 0.15] = 0.0
    B = 10 ** rng.uniform(-3, 2)
    nu = np.geomspace(10 ** rng.uniform(5, 10), 10 ** rng.uniform(15, 24), 10)
    j, alpha = kernels.synchrotron(nu, gamma, n, B)
    j_ref, alpha_ref = ref.synchrotron(nu, gamma, n, B)
    assert ref.worst_relative_error(j, j_ref) < 1e-4
    assert ref.worst_relative_error(alpha, alpha_ref) < 1e-4


def test_synchrotron_ignores_empty_segments_and_the_grid_outside():
    # A zero endpoint empties its segment: the electrons between 1e3 and 1e4
    # alone emit and absorb, whatever the grid holds beyond them.
    nu = np.geomspace(1e7, 1e17, 12)
    gamma = np.array([2.0, 1e2, 1e3, 1e4, 1e5])
    n = np.array([5.0, 0.0, 1e-3, 1e-6, 0.0])
    j, alpha = kernels.synchrotron(nu, gamma, n, 0.5)
    j_ref, alpha_ref = ref.synchrotron(nu, [1e3, 1e4], [1e-3, 1e-6], 0.5)
    assert ref.worst_relative_error(j, j_ref) < 1e-4
    assert ref.worst_relative_error(alpha, alpha_ref) < 1e-4


def test_isotropic_average_of_the_pair_cross_section_is_two_phi_over_s0_squared():
    # Validates the reference's reduction of the angle integral.
    for s0 in (1.05, 3.0, 1e3):
        assert ref.isotropic_average(s0) == pytest.approx(2 * ref.phi(s0) / s0**2, rel=1e-8)


@pytest.mark.parametrize("points", [24, 6])
def test_gamma_gamma_opacity_against_quadrature(points):
    seed_nu, seed_u = ref.seed(points)
    regimes = ref.gamma_gamma_regimes(seed_nu)
    nu = np.concatenate(list(regimes.values()))
    got = kernels.gamma_gamma_opacity(nu, seed_nu, seed_u)
    want = ref.gamma_gamma_opacity(nu, seed_nu, seed_u)
    assert max(ref.regime_errors(got, want, [len(v) for v in regimes.values()])) < 1e-3


@pytest.mark.parametrize("index", [-12.0, 8.0, 30.0])
def test_gamma_gamma_opacity_of_a_steep_seed_segment_across_threshold(index):
    # One seed segment falling (or rising) by decades, at frequencies whose
    # threshold lies inside it: the seed's power law varies fast in the
    # threshold region, where the cross section rises from zero.
    seed_nu = np.array([1e14, 1e15])
    seed_u = np.array([1e-10, 1e-10 * 10.0**-index])
    nu_th = ref.MC2**2 / (ref.H**2 * seed_nu)
    nu = np.geomspace(1.01 * nu_th[1], 10 * nu_th[0], 8)
    got = kernels.gamma_gamma_opacity(nu, seed_nu, seed_u)
    assert np.max(np.abs(got / ref.gamma_gamma_opacity(nu, seed_nu, seed_u) - 1)) < 1e-5


def test_gamma_gamma_opacity_threshold_and_power_law():
    # Below h nu h nu'_max = (m c^2)^2 nothing is absorbed; just above, something.
    seed_nu = np.geomspace(1e5, 1e25, 41)
    q, amplitude = 1.5, 1e-30
    seed_u = amplitude * seed_nu**-q
    nu_th = ref.MC2**2 / (ref.H**2 * seed_nu[-1])
    below, above = kernels.gamma_gamma_opacity([0.999 * nu_th, 1.001 * nu_th], seed_nu, seed_u)
    assert below == 0.0 and above > 0.0
    # On an unbounded power law u = A nu'^-q, alpha = 2 sigma_T (A/h) (c nu)^q
    # int_1^inf s^-(q+1) sigma(s)/sigma_T ds / (q + 2), c = h^2 / (m c^2)^2.
    tail = quad(lambda t: math.exp(-q * t) * ref.breit_wheeler(math.exp(t)), 0, 30, epsabs=0, epsrel=1e-12,
                limit=200)[0]
    nu = np.array([1e22, 1e25, 1e28])
    c = ref.H**2 / ref.MC2**2
    want = 2 * ref.SIGMA_T * amplitude / ref.H * (c * nu) ** q * tail / (q + 2)
    assert kernels.gamma_gamma_opacity(nu, seed_nu, seed_u) == pytest.approx(want, rel=1e-6)


# --- inverse Compton and Compton cooling against quadrature of the Klein-Nishina kernel ---

def test_compton_kernels_against_quadrature_in_every_regime():
    # Output energies from the Thomson limit through the transition to the
    # Klein-Nishina tail near γ_max m c², on a coarse electron grid; losses
    # from Thomson to deep Klein-Nishina.  The kernels promise 1e-3.
    gamma, n = ref.electrons(8)
    nu0, u0 = 2.5e15, 1e-3
    regimes = ref.compton_regimes(ref.H * nu0 / ref.MC2, gamma[-1])
    nu = np.concatenate([v[::2] for v in regimes.values()])
    got = kernels.inverse_compton_mono(nu, gamma, n, nu0, u0)
    assert ref.worst_relative_error(got, ref.inverse_compton_mono(nu, gamma, n, nu0, u0)) < 1e-3
    seed_nu = np.geomspace(1e14, 1e16, 4)
    seed_u = 1e-13 * (seed_nu / 1e14) ** -1.2
    nu = np.concatenate([v[1::3] for v in ref.compton_regimes(ref.H * 1e15 / ref.MC2,
                                                               gamma[-1]).values()])
    got = kernels.inverse_compton(nu, gamma, n, seed_nu, seed_u)
    assert ref.worst_relative_error(got, ref.inverse_compton(nu, gamma, n, seed_nu, seed_u)) < 1e-3
    # Thomson from γ = 1.5 (exact, γ²β²), then 4γε from 0.04 to 4e4.
    for g, nu0 in ((np.array([1.5, 10.0, 100.0]), 1.2e12),
                   (np.array([1e3, 1e5, 1e7, 1e9]), ref.MC2 * 1e-5 / ref.H)):
        got = kernels.compton_cooling_mono(g, nu0, 1e-3)
        assert ref.worst_relative_error(got, ref.compton_cooling_mono(g, nu0, 1e-3)) < 1e-3
    g = np.geomspace(1e3, 1e8, 4)
    got = kernels.compton_cooling(g, seed_nu, seed_u)
    assert ref.worst_relative_error(got, ref.compton_cooling(g, seed_nu, seed_u)) < 1e-3
