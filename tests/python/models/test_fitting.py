"""fit_sed: what it refuses, what it flags, external-field parameters, profile
intervals, and the result's file."""

import math

import astropy.units as u
import numpy as np
import pytest
from astropy.table import MaskedColumn, Table

from ostrel_models import Blob, FitResult, LineField, PowerLaw, fit_sed

from kernel_sets import accurate  # noqa: F401  (fixture)
from sed_tables import synthetic

LN10 = math.log(10)


def blob(**kw):
    args = dict(radius=1e16 * u.cm, B=0.1 * u.G, doppler=10.0, z=0.05,
                electrons=PowerLaw(2.5, 10.0, 1e5), energy=1e40 * u.erg, n_gamma=30)
    args.update(kw)
    return Blob(**args)


# Thin synchrotron of a power law: log νF_ν = log W_e + const at these frequencies.
THIN = np.geomspace(1e12, 1e15, 6) * u.Hz
REL = np.array([0.02, 0.05, 0.1, 0.2, 0.05, 0.3])


def thin_data():
    t = synthetic(blob(), THIN, 0.0, "classic")
    t["nuFnu_err_low"] = t["nuFnu_err_high"] = REL * t["nuFnu"]
    return t


def _masked_all(t):
    t = Table(t, masked=True)
    t["nuFnu"] = MaskedColumn(t["nuFnu"], mask=np.ones(len(t), bool))
    return t


@pytest.mark.parametrize("data, free, kw, message", [
    (lambda t: t[:0], {"energy": (1e38, 1e42)}, {}, "no points"),
    (_masked_all, {"energy": (1e38, 1e42)}, {}, r"no points to fit \(6 masked"),
    (lambda t: t[:2], ["energy", "B"], {}, "2 detected points for 2 free parameters leave 0"),
    (lambda t: t, {"energy": (1e38, 1e42)}, {"systematics": 10}, "fraction"),
    (lambda t: t, {"energy": (1e38, 1e42)}, {"systematics": math.inf}, "fraction"),
    (lambda t: t, {"Gamma": (1.0, 50.0)}, {}, "'Gamma' does not change the SED"),
    (lambda t: t, {"energy": (1e38, 1e42), "electrons.p3": None}, {}, "'electrons.p3' is not"),
    (lambda t: t, {"energy": (1e42, 1e38)}, {}, "lower bound"),
    (lambda t: t, ["energy"], {"profile": ["B"]}, "profile"),
])
def test_fit_refuses_what_the_data_cannot_support(data, free, kw, message):
    with pytest.raises(ValueError, match=message):
        fit_sed(blob(), data(thin_data()), free, kernels="classic", progress=False, **kw)


def test_non_finite_data_are_refused_naming_the_row():
    t = thin_data()
    t["nuFnu"][3] = np.nan
    with pytest.raises(ValueError, match="nuFnu must be finite and positive; row 3"):
        fit_sed(blob(), t, ["energy"], kernels="classic", progress=False)


def test_error_and_profile_of_a_scale_parameter_are_the_weighted_mean_error():
    # log10 νF_ν = log10 W_e + const: χ² is a parabola in t = log10 W_e with
    # σ_t = 1/sqrt(Σ 1/σ_i²), σ_i = sqrt(s_i² + s_sys²)/ln 10.  The Jacobian
    # error is W ln10 σ_t; the profile interval W 10^(±σ_t), asymmetric in W.
    res = fit_sed(blob(), thin_data(), {"energy": (1e38, 1e42)}, systematics=0.1,
                  kernels="classic", progress=False, profile=True)
    sigma = np.sqrt(REL**2 + 0.1**2) / LN10
    sigma_t = 1.0 / math.sqrt(np.sum(sigma**-2.0))
    w = res.params["energy"].to_value(u.erg)
    assert w == pytest.approx(1e40, rel=1e-6)
    assert res.errors["energy"].to_value(u.erg) == pytest.approx(w * LN10 * sigma_t, rel=1e-3)
    lo, hi = res.intervals["energy"]
    assert lo.to_value(u.erg) == pytest.approx(w * 10**-sigma_t, rel=1e-4)
    assert hi.to_value(u.erg) == pytest.approx(w * 10**sigma_t, rel=1e-4)
    assert res.success and not res.at_bound and not res.unconstrained
    assert res.log_likelihood() == pytest.approx(
        -0.5 * res.chi2 - np.sum(np.log(math.sqrt(math.pi / 2) * 2 * sigma)))


def test_flags_instead_of_zero_errors():
    thin = thin_data()
    # 1) Data 1e30 times above anything the blob can give within the bounds:
    #    the model is floored far below, nothing moves the residuals.
    far = thin.copy()
    far["frequency"] = far["frequency"] * 1e16          # 1e28-1e31 Hz: beyond the reach of γ_max
    res = fit_sed(blob(), far, ["B", "electrons.p"], kernels="classic", progress=False)
    assert set(res.unconstrained) == {"B", "electrons.p"}
    assert not res.success and "± 0" not in res.summary()
    assert all(math.isnan(res.errors[n].value if hasattr(res.errors[n], "unit")
                          else res.errors[n]) for n in res.unconstrained)
    # 2) Bounds that exclude the truth: the parameter ends on a bound.
    res = fit_sed(blob(), thin, {"energy": (1e41, 1e43)}, kernels="classic", progress=False)
    assert res.at_bound == ["energy"] and "at its lower bound" in res.summary()
    assert math.isnan(res.errors["energy"].value)
    # 3) νF_ν ∝ W_e / d_L² at every frequency: the two are exactly degenerate.
    res = fit_sed(blob(), thin, {"energy": (1e38, 1e42), "distance": (1e26, 1e28)},
                  kernels="classic", progress=False)
    assert set(res.unconstrained) == {"energy", "distance"}, res.summary()
    assert "degenerate" in res.summary() and "± 0" not in res.summary()


def test_fit_frees_the_energy_density_of_an_external_field(accurate):
    # External Compton on a line field dominates the gamma rays: its energy
    # density is fitted like any other parameter, by its dotted name.
    truth = blob(B=0.5 * u.G, doppler=20.0, z=0.36, electrons=PowerLaw(2.2, 30.0, 3e4),
                 energy=1e46 * u.erg, n_gamma=30, seed_per_decade=4,
                 external=[LineField(3e-2 * u.erg / u.cm**3, 2.47e15 * u.Hz)])
    nu = np.geomspace(1e11, 1e25, 24) * u.Hz
    data = synthetic(truth, nu, 0.05, accurate)
    start = truth.copy()
    start.parameters["external[0].energy_density"].value = 3e-4 * u.erg / u.cm**3
    start.B = 0.2 * u.G
    # free=None: what is not frozen, within the parameters' own bounds.
    for name, p in start.parameters.items():
        p.frozen = name not in ("B", "energy", "external[0].energy_density")
    res = fit_sed(start, data, systematics=0.0, kernels=accurate, progress=False)
    assert res.free == ["B", "energy", "external[0].energy_density"]
    u_ext = res.params["external[0].energy_density"].to_value(u.erg / u.cm**3)
    assert u_ext == pytest.approx(3e-2, rel=1e-3), res.summary()
    assert res.chi2 < 1e-4 and res.dof == 24 - 3
    assert res.model.external[0].energy_density.to_value(u.erg / u.cm**3) == pytest.approx(
        u_ext, rel=1e-12)


def test_fit_result_file_round_trip(tmp_path):
    res = fit_sed(blob(), thin_data(), {"energy": (1e38, 1e42), "B": (1e-3, 10.0)},
                  kernels="classic", progress=False, profile=["energy"])
    path = tmp_path / "fit.ecsv"
    res.write(path)
    back = FitResult.read(path)
    assert back.free == res.free and back.chi2 == res.chi2 and back.dof == res.dof
    for n in res.free:
        assert back.params[n] == res.params[n] and (
            back.errors[n] == res.errors[n] or n in res.unconstrained)
    assert back.unconstrained == res.unconstrained and back.at_bound == res.at_bound
    assert back.intervals["energy"] == res.intervals["energy"]
    assert back.summary() == res.summary()
    np.testing.assert_array_equal(back.data["nuFnu"], res.data["nuFnu"])
    if back.model is not None:                   # the model describes itself
        nu = THIN
        np.testing.assert_array_equal(back.model.sed(nu, kernels="classic"),
                                      res.model.sed(nu, kernels="classic"))
