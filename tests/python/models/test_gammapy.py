"""SEDModel: the blob as a gammapy spectral model, fitted by gammapy's Fit."""

import astropy.units as u
import numpy as np
import pytest

pytest.importorskip("gammapy")
pytest.importorskip("iminuit")

from gammapy.modeling import Fit  # noqa: E402
from gammapy.modeling.models import SkyModel  # noqa: E402

from ostrel_models import Blob, BrokenPowerLaw, LineField, fit_sed, read_sed  # noqa: E402
from ostrel_models.gammapy import SEDModel, flux_points, flux_points_dataset  # noqa: E402

from kernel_sets import accurate  # noqa: E402,F401  (fixture)


def mrk421_start():
    # The shape of the electrons at a 7-parameter fit of these points; the
    # field, Doppler factor, energy and upper index start from generic values.
    return Blob(radius=5e16 * u.cm, B=0.1 * u.G, doppler=10.0, z=0.03, energy=1e47 * u.erg,
                electrons=BrokenPowerLaw(p1=2.47, p2=4.0, gamma_b=3.6e5, gamma_min=1370.0,
                                         gamma_max=1e8))


def test_parameters_carry_names_units_bounds_and_frozen_states(accurate):
    blob = Blob(radius=3e16 * u.cm, B=1.0 * u.G, doppler=20.0, z=0.361, energy=1e47 * u.erg,
                electrons=BrokenPowerLaw(1.9, 3.8, 500.0, 1.5, 3e4),
                external=[LineField(1e-2 * u.erg / u.cm**3, 2.47e15 * u.Hz)])
    model = SEDModel(blob, free={"B": (0.01, 10.0), "external[0].energy_density": None})
    pars = model.parameters
    ext = pars["external_0_energy_density"]
    assert ext.unit == u.erg / u.cm**3 and ext.value == 1e-2 and not ext.frozen
    assert ext.min == blob.parameters["external[0].energy_density"].min
    assert (pars["B"].min, pars["B"].max, pars["B"].frozen) == (0.01, 10.0, False)
    assert pars["electron_energy"].frozen and pars["electron_energy"].unit == u.erg
    assert "Gamma" not in pars.names          # the SED does not depend on it here
    assert model.names["external_0_energy_density"] == "external[0].energy_density"
    # dN/dE = νF_ν / E², and a parameter set through gammapy reaches the blob.
    pars["B"].value = 0.5
    e = np.geomspace(1e-6, 1.0, 5) * u.TeV
    blob.B = 0.5 * u.G
    expected = (blob.sed(e, kernels=accurate) / e**2).to_value("cm-2 s-1 TeV-1")
    np.testing.assert_allclose(model(e).to_value("cm-2 s-1 TeV-1"), expected, rtol=1e-12)


def test_gammapy_fit_of_mrk421_agrees_with_fit_sed_within_errors(accurate):
    data = read_sed("mrk421_2009")
    data = data[np.asarray(data["frequency"].quantity >= 1e12 * u.Hz)]
    free = {"B": (1e-3, 1.0), "doppler": (5.0, 60.0), "energy": (1e45, 1e50),
            "electrons.p2": (3.0, 6.0)}
    ours = fit_sed(mrk421_start(), data, free, systematics=0.1, kernels=accurate,
                   progress=False)
    # Points with the systematic in quadrature; gammapy's χ² in flux is ours
    # in log flux to first order in the residuals.
    points = flux_points(data, systematics=0.1)
    assert len(points.energy_ref) == len(data)
    dataset = flux_points_dataset(data, systematics=0.1)
    model = SEDModel(mrk421_start(), free=free, kernels=accurate)
    dataset.models = SkyModel(spectral_model=model, name="mrk421")
    result = Fit().run([dataset])
    assert result.success
    for gname, name in model.names.items():
        if name not in free:
            continue
        value = model.parameters[gname].value
        ref, err = (getattr(x, "value", x) for x in (ours.params[name], ours.errors[name]))
        assert abs(value - ref) < err, (name, value, ref, err)
    assert result.total_stat == pytest.approx(ours.chi2, rel=0.1)
