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
from sed_tables import synthetic

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


def K():
    from ostrel_models import kernels
    return kernels


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
    # Extreme numbers: each refused with the parameter's name and valid range.
    (lambda: _blob(B=1e-200 * u.G), ValueError, r"B must lie in \[1e-15, 1e\+15\] G"),
    (lambda: _blob(z=1e300), ValueError, r"z must lie in \[0, 1000\]"),
    (lambda: _blob(doppler=1e100), ValueError, r"doppler must lie in"),
    (lambda: _blob(radius=1e100), ValueError, r"radius must lie in \[1000, 1e\+28\] cm"),
    (lambda: PowerLaw(2.0, 10.0, 1e300), ValueError, r"gamma_max must lie in \[1, 1e\+12\]"),
    (lambda: _blob(seed_per_decade=math.inf), ValueError, r"seed_per_decade must lie in \[2, 1000\]"),
    (lambda: _blob(n_gamma="x"), TypeError, r"n_gamma must be an integer in \[8, 100000\]"),
    (lambda: _blob(n_gamma=20.5), ValueError, "n_gamma"),
    (lambda: BrokenPowerLaw(gamma_b=1e8, gamma_max=1e5), ValueError, r"gamma_b must lie in \[gamma_min"),
    (lambda: _blob(energy=None, density=np.nan), ValueError, "density must lie in"),
    # Kernel scalars beyond a double, complex input: named, never truncated.
    (lambda: K().synchrotron([1e10], [10, 100], [1, 1], 10**400), ValueError, "B: 1000.* too large"),
    (lambda: K().inverse_compton_mono([1e20], [10, 100], [1, 1], 1e15, 10**400), ValueError, "u0:"),
    (lambda: K().synchrotron(np.array([1e10 + 1j]), [10, 100], [1, 1], 1.0), TypeError, "nu: must be real"),
    (lambda: K().synchrotron([1e10], [10, 100], [1, 1], 1 + 0j), TypeError, "B: must be real"),
    (lambda: Tabulated([1, 2, 3], np.ones(3, complex)), TypeError, "n: must be real"),
    (lambda: _blob().sed(np.array([1e10 + 1j])), TypeError, "nu: must be real"),
    (lambda: _blob(B=1 + 1j), TypeError, "B must be a real number"),
    # Fields: not a field, names that clash; the classic set has no γγ opacity.
    (lambda: _blob(external=[1.0]), TypeError, "external fields must be"),
    (lambda: _blob(external=[LineField(1, 1e15, name="x"), LineField(1, 1e14, name="x")]),
     ValueError, "external: field names must differ"),
    (lambda: _blob().sed([1e10], kernels="classic", gamma_gamma=True), ValueError, "gamma_gamma"),
])
def test_bad_input_raises_an_error_naming_the_parameter(make, exc, name):
    with pytest.raises(exc, match=name):
        make()


def test_extreme_but_valid_input_gives_finite_results(accurate):
    # Frequencies up to the largest double: zero above every kinematic limit
    # (they once overflowed to NaN); parameters at the ends of their ranges
    # give finite spectra; a single field counts as a list of one.
    nu = np.array([1e8, 1e15, 1e25, 1e250, 1.7e308])
    line = LineField(1e-3 * u.erg / u.cm**3, 1e15 * u.Hz)
    sed = _blob(external=line).seds(nu, kernels=accurate)
    assert sed["total"].value[-2:].tolist() == [0.0, 0.0] and sed["ec"].value[2] > 0
    np.testing.assert_array_equal(_blob(external=[line]).sed(nu, kernels=accurate).value,
                                  sed["total"].value)
    for kw in (dict(radius=1e28 * u.cm), dict(radius=1e3 * u.cm), dict(B=1e-15), dict(B=1e15),
               dict(doppler=1e5, Gamma=6e4), dict(doppler=1e-5, Gamma=6e4), dict(z=1e3),
               dict(energy=1e80 * u.erg), dict(energy=1e-10 * u.erg), dict(distance=1 * u.cm)):
        blob = blob_with(ExpCutoffPowerLaw(2.0, 1e5, 1.0, 1e12), external=[line], **kw)
        with np.errstate(over="raise", invalid="raise", divide="raise"):
            values = blob.sed(np.geomspace(1e6, 1e30, 25), kernels=accurate).value
        assert np.all(np.isfinite(values)) and np.all(values >= 0), kw


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


# --- threads: one evaluation, one model ------------------------------------------------

def test_sed_in_threads_while_another_thread_changes_B(accurate):
    # Every result must be the single-threaded result of one of the two
    # fields, never a mixture (the seed grid of one B with the emissivity of
    # the other, say).
    import threading
    blob = _blob(n_gamma=24, external=[LineField(1e-3, 1e15)])
    nu = np.geomspace(1e9, 1e26, 40)
    expected = []
    for b in (0.1, 0.37):
        blob.B = b
        expected.append(blob.sed(nu, kernels=accurate).value)
    results, stop = [], threading.Event()

    def evaluate():
        while not stop.is_set():
            results.append(blob.sed(nu, kernels=accurate).value)

    def flip():
        i = 0
        while len(results) < 200 and i < 10**6:       # bounded: stops by itself
            blob.B = (0.1, 0.37)[i % 2]
            i += 1
        stop.set()

    threads = [threading.Thread(target=evaluate) for _ in range(3)] + [threading.Thread(target=flip)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) >= 20
    mixed = [r for r in results
             if not any(np.array_equal(r, e) for e in expected)]
    assert not mixed, f"{len(mixed)} of {len(results)} results belong to neither field"


def test_tabulated_copies_the_arrays_it_is_given():
    g = np.geomspace(10, 1e6, 30)
    n = g**-2.5
    tab = Tabulated(g, n)
    before = blob_with(tab).sed([1e12, 1e20], kernels="classic", gamma_gamma=False).value
    n[:] = 1.0
    g[-1] = 2e7
    after = blob_with(tab).sed([1e12, 1e20], kernels="classic", gamma_gamma=False).value
    np.testing.assert_array_equal(after, before)
    with pytest.raises(ValueError):
        tab._n[0] = 2.0                       # read-only inside too


def test_classic_kernels_leave_gamma_gamma_out_with_one_warning():
    from ostrel_models import _backends
    _backends._WARNED.discard("classic")
    blob = _blob()
    with pytest.warns(RuntimeWarning, match="no gamma-gamma opacity"):
        a = blob.sed([1e10, 1e26], kernels="classic")
    b = blob.sed([1e10, 1e26], kernels="classic", gamma_gamma=False)      # no warning again
    np.testing.assert_array_equal(a.value, b.value)
