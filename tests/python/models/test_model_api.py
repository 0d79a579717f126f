"""Electron distributions, the shipped data, the fit and the errors of the modelling layer."""

import math

import astropy.units as u
import numpy as np
import pytest
from astropy import constants as const
from scipy import integrate

from ostrel_models import (Blob, BrokenPowerLaw, ExpCutoffPowerLaw, LineField, LogParabola,
                           PowerLaw, Tabulated, available_seds, fit_sed, read_sed)

from kernel_sets import accurate  # noqa: F401  (fixture)

MEC2 = (const.m_e * const.c**2).cgs.value
R = 1e16
VOLUME = 4 / 3 * math.pi * R**3


def blob_with(electrons, **kw):
    args = dict(radius=R * u.cm, B=0.1 * u.G, doppler=10.0, z=0.05, electrons=electrons,
                energy=1e46 * u.erg)
    args.update(kw)
    return Blob(**args)


# --- normalisation of the electron shapes ------------------------------------------

@pytest.mark.parametrize("electrons", [
    PowerLaw(2.5, 10.0, 1e6),
    BrokenPowerLaw(1.8, 3.7, 2e4, 50.0, 1e7),
    LogParabola(2.0, 0.4, 1e3, 10.0, 1e7),
    ExpCutoffPowerLaw(2.2, 1e5, 10.0, 1e7),
], ids=lambda e: type(e).__name__)
def test_energy_and_density_normalisations_match_quadrature(electrons):
    # W_e = m_e c² V ∫ γ n dγ and N = ∫ n dγ, with n = A shape(γ): the
    # constant A read off the model must reproduce both by quadrature of the
    # smooth shape.
    for kw, moment in (({"energy": 1e46 * u.erg}, 1), ({"density": 3.0 * u.cm**-3}, 0)):
        blob = blob_with(electrons, **({"energy": None} | kw))
        g, n = blob.electron_distribution()
        inner = slice(len(g) // 3, len(g) // 3 + 1)
        a = n[inner].value[0] / electrons.shape(g[inner])[0]
        lo, hi = math.log(electrons.gamma_min), math.log(electrons.gamma_max)
        integral = integrate.quad(lambda lg: math.exp(lg) ** (moment + 1) * a
                                  * electrons.shape(np.array([math.exp(lg)]))[0],
                                  lo, hi, limit=400, epsrel=1e-9,
                                  points=[math.log(getattr(electrons, "gamma_b", 1e3))])[0]
        expected = 1e46 / (MEC2 * VOLUME) if moment == 1 else 3.0
        # The grid's power-law segments against the smooth shape: 1e-3.
        assert integral == pytest.approx(expected, rel=1e-3), kw


def test_broken_power_law_is_continuous_with_its_break_on_the_grid():
    e = BrokenPowerLaw(2.0, 4.0, 1234.5, 10.0, 1e6)
    g = e.grid(50)
    assert 1234.5 in g
    below, above = e.shape(np.array([1234.5 * (1 - 1e-12), 1234.5 * (1 + 1e-12)]))
    assert below == pytest.approx(above, rel=1e-10)
    assert e.shape(np.array([5.0, 2e6])).tolist() == [0.0, 0.0]


def test_tabulated_distribution_reproduces_a_power_law_model():
    g = np.geomspace(10, 1e6, 40)
    tab = Tabulated(g, 7.0 * g**-2.3)
    pl = PowerLaw(2.3, 10.0, 1e6)
    nu = np.geomspace(1e10, 1e20, 7) * u.Hz
    a = blob_with(tab, n_gamma=40).sed(nu, kernels="classic", component="synchrotron")
    b = blob_with(pl, n_gamma=40).sed(nu, kernels="classic", component="synchrotron")
    np.testing.assert_allclose(a.value, b.value, rtol=1e-9)


# --- shipped data -------------------------------------------------------------------

@pytest.mark.parametrize("name, rows, z, reference", [
    ("mrk421_2009", 105, 0.03, "Abdo et al. 2011, ApJ 736, 131"),
    ("pks1510-089_2015b", 42, 0.361, "A&A 603, A29"),
])
def test_shipped_seds_read_with_units_and_references(name, rows, z, reference, tmp_path):
    assert name in available_seds()
    t = read_sed(name)
    assert len(t) == rows
    assert t.meta["z"] == pytest.approx(z)
    assert any(reference in line for line in t.meta["comments"])
    assert t["frequency"].unit == u.Hz and t["nuFnu"].unit == u.erg / u.cm**2 / u.s
    assert np.all(np.diff(t["frequency"]) >= 0)
    # 1 eV is 2.418e14 Hz: the lowest Mrk 421 point, 9.51e-6 eV, is 2.30e9 Hz.
    if name == "mrk421_2009":
        assert t["frequency"][0] == pytest.approx(9.51013329578429e-06 * 2.417989242e14, rel=1e-9)
        assert t["instrument"][0] == "RATAN"
    # A file of the same form reads the same way.
    from importlib import resources
    path = tmp_path / "copy.csv"
    path.write_text(resources.files("ostrel_models").joinpath("data", name + ".csv").read_text())
    assert np.array_equal(read_sed(path)["nuFnu"], t["nuFnu"])


# --- fitting --------------------------------------------------------------------------

def synthetic(blob, nu, rel_err, kernels):
    from astropy.table import Table
    f = blob.sed(nu, kernels=kernels)
    t = Table()
    t["frequency"] = nu
    t["nuFnu"] = f
    t["nuFnu_err_low"] = rel_err * f
    t["nuFnu_err_high"] = rel_err * f
    t["instrument"] = ["synthetic"] * len(nu)
    return t


def test_fit_recovers_the_parameters_of_a_model_made_sed(accurate):
    kernels = accurate
    truth = blob_with(BrokenPowerLaw(2.1, 4.2, 5e4, 100.0, 1e7), B=0.05 * u.G, doppler=15.0,
                      energy=3e47 * u.erg, n_gamma=40, seed_per_decade=4)
    nu = np.geomspace(1e11, 1e26, 36) * u.Hz
    data = synthetic(truth, nu, 0.05, kernels)
    start = truth.copy()
    start.B, start.doppler, start.energy, start.electrons.p2 = 0.2, 8.0, 1e47, 3.5
    free = {"B": (1e-3, 1), "doppler": (5, 50), "energy": (1e45 * u.erg, 1e49 * u.erg),
            "electrons.p2": (3, 6)}
    res = fit_sed(start, data, free, systematics=0.0, kernels=kernels, progress=False)
    assert res.dof == 36 - 4
    assert res.chi2 < 1e-6
    assert res.params["B"].to_value(u.G) == pytest.approx(0.05, rel=1e-3)
    assert res.params["doppler"] == pytest.approx(15.0, rel=1e-3)
    assert res.params["energy"].to_value(u.erg) == pytest.approx(3e47, rel=1e-3)
    assert res.params["electrons.p2"] == pytest.approx(4.2, rel=1e-3)
    assert start.B.value == 0.2, "the fit must leave the caller's model alone"
    assert res.model.B.value == pytest.approx(0.05, rel=1e-3)


def test_fit_uncertainty_of_a_scale_parameter_is_the_weighted_mean_error():
    # Thin synchrotron only (negligible self-Compton): log νF_ν = log W_e + const,
    # so σ(log10 W_e) = 1/sqrt(Σ 1/σ_i²) with σ_i = sqrt(s_i² + s_sys²)/ln 10.
    kernels = "classic"
    truth = blob_with(PowerLaw(2.5, 10.0, 1e5), energy=1e40 * u.erg, n_gamma=30)
    nu = np.geomspace(1e12, 1e15, 6) * u.Hz
    data = synthetic(truth, nu, 0.0, kernels)
    rel = np.array([0.02, 0.05, 0.1, 0.2, 0.05, 0.3])
    data["nuFnu_err_low"] = data["nuFnu_err_high"] = rel * data["nuFnu"]
    res = fit_sed(truth, data, {"energy": (1e38, 1e42)}, systematics=0.1, kernels=kernels,
                  progress=False)
    sigma = np.sqrt(rel**2 + 0.1**2) / math.log(10)
    expected = 1e40 * math.log(10) / math.sqrt(np.sum(sigma**-2.0))
    assert res.errors["energy"].to_value(u.erg) == pytest.approx(expected, rel=1e-3)


# --- bad input names the parameter -----------------------------------------------------

def _blob(**kw):
    return blob_with(PowerLaw(2.5, 10.0, 1e5), **kw)


@pytest.mark.parametrize("make, exc, name", [
    (lambda: _blob(radius=-1 * u.cm), ValueError, "radius"),
    (lambda: _blob(B=1 * u.s), u.UnitConversionError, "B"),
    (lambda: _blob(energy=1 * u.G), u.UnitConversionError, "energy"),
    (lambda: _blob(doppler=30.0, Gamma=2.0), ValueError, "doppler"),
    (lambda: _blob(Gamma=0.5), ValueError, "Gamma"),
    (lambda: _blob(z=0.0), ValueError, "z"),
    (lambda: _blob(density=1 * u.cm**-3), ValueError, "energy and density"),
    (lambda: PowerLaw(2.0, 1e5, 1e3), ValueError, "gamma_min"),
    (lambda: PowerLaw(2.0, 0.5, 1e3), ValueError, "gamma_min"),
    (lambda: PowerLaw("steep", 1.0, 1e3), TypeError, "p"),
    (lambda: BrokenPowerLaw(2, 3, -1.0, 10, 1e4), ValueError, "gamma_b"),
    (lambda: Tabulated([1, 3, 2], [1, 1, 1]), ValueError, "gamma"),
    (lambda: LineField(1e-3 * u.erg / u.cm**3, 1 * u.kg), u.UnitConversionError, "frequency"),
    (lambda: _blob().sed([1e10] * u.kg), u.UnitConversionError, "nu"),
    (lambda: _blob().sed([1e10, -1.0]), ValueError, "nu"),
    (lambda: _blob().sed([1e10], component="inverse"), ValueError, "component"),
    (lambda: _blob().sed([1e10], kernels="fast"), ValueError, "kernels"),
])
def test_bad_input_raises_an_error_naming_the_parameter(make, exc, name):
    with pytest.raises(exc, match=name):
        make()


def test_a_parameter_broken_after_construction_is_caught_before_computing():
    blob = _blob()
    blob.electrons.gamma_min = 1e6
    with pytest.raises(ValueError, match="gamma_min"):
        blob.sed([1e12] * u.Hz, kernels="classic")


@pytest.mark.parametrize("free, name", [
    ({"electrons.p3": (1, 2)}, "electrons.p3"),
    ({"magnetic_field": (1, 2)}, "magnetic_field"),
    ({"electrons.grid": (1, 2)}, "electrons.grid"),
    ({"B": (1, 0.1)}, "B"),
    ({"B": (1 * u.cm, 2 * u.cm)}, "B"),
])
def test_fit_refuses_unknown_or_badly_bounded_parameters(free, name):
    data = read_sed("mrk421_2009")
    with pytest.raises(ValueError, match=name.replace(".", r"\.")):
        fit_sed(_blob(), data, free, kernels="classic", progress=False)


def test_sed_keeps_the_callers_order_and_repeated_frequencies():
    blob = _blob(n_gamma=30)
    nu = np.array([1e15, 1e11, 1e13, 1e11, 3e20, 1e13])
    ordered = blob.seds(np.sort(nu) * u.Hz, kernels="classic")
    shuffled = blob.seds(nu * u.Hz, kernels="classic")
    back = np.searchsorted(np.sort(nu), nu)
    for name in ("synchrotron", "ssc", "total"):
        np.testing.assert_array_equal(shuffled[name].value, ordered[name].value[back])
    # Energies convert by the spectral equivalency: 1 keV is 2.418e17 Hz.
    assert blob.sed(1 * u.keV, kernels="classic").value == pytest.approx(
        blob.sed(2.417989242e17 * u.Hz, kernels="classic").value, rel=1e-8)


def test_curved_shapes_get_a_grid_that_follows_their_curvature():
    # Between grid points the kernels take a power law; for an exponential
    # cutoff the grid must be dense where ln n bends and stop where nothing is
    # left: its interpolant is then within 1.5 % of the shape down to
    # γ² n = 1e-12 of the maximum, several times better than an even grid.
    e = ExpCutoffPowerLaw(2.0, 1e5, 10.0, 1e9)
    n = e.default_grid_points
    g = e.grid(n)
    assert g[0] == 10.0 and g[-1] < 1.5e7

    def worst(grid):
        x = np.geomspace(10.0, 1.5e7, 5000)
        with np.errstate(divide="ignore"):         # e^(-γ/γ_c) underflows far out
            interp = np.exp(np.interp(np.log(x), np.log(grid), np.log(e.shape(grid))))
        exact = e.shape(x)
        keep = x * x * exact > 1e-12 * np.max(x * x * exact)
        return np.max(np.abs(interp[keep] / exact[keep] - 1))
    assert worst(g) < 0.015
    assert worst(np.geomspace(10.0, 1e9, n)) > 5 * worst(g)
