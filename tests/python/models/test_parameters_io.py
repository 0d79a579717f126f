"""Parameters of the models (one storage with the attributes), and saving/loading."""

import math
import pickle

import astropy.units as u
import numpy as np
import pytest

import ostrel_models
from ostrel_models import (CMB, Blob, BrokenPowerLaw, ElectronDistribution, LineField,
                           LogParabola, PowerLaw, Tabulated, load_model, save_model)


def blob(**kw):
    args = dict(radius=1e16 * u.cm, B=0.1 * u.G, doppler=10.0, z=0.05,
                electrons=BrokenPowerLaw(2.0, 3.5, 1e4, 10.0, 1e6), energy=1e46 * u.erg,
                external=[CMB(), LineField(1e-3 * u.erg / u.cm**3, 10 * u.eV, name="blr")])
    args.update(kw)
    return Blob(**args)


def test_parameters_and_attributes_are_one_storage():
    b = blob()
    p = b.parameters
    # Setting through either side is seen by the other and by the SED.
    nu = [1e12, 1e24]
    before = b.sed(nu, kernels="classic", gamma_gamma=False).value
    p["B"].value = 0.3 * u.G
    assert b.B == 0.3 * u.G
    b.electrons.p1 = 2.4
    assert p["electrons.p1"].value == 2.4
    p["external.blr.energy_density"].raw = 2e-3
    field = b.external[1]
    assert field.energy_density == 2e-3 * u.erg / u.cm**3
    assert p["external[1].energy_density"] is p["external.blr.energy_density"]
    assert "external[1].energy_density" not in list(p)      # an alias, not iterated
    p["B"].value, b.electrons.p1 = 0.1, 2.0
    field.energy_density = 1e-3 * u.erg / u.cm**3
    np.testing.assert_array_equal(b.sed(nu, kernels="classic", gamma_gamma=False).value, before)
    # Attributes of fields are Quantities; a frequency converts from energy.
    assert field.frequency.unit == u.Hz
    assert field.frequency.value == pytest.approx(2.417989e15, rel=1e-6)


def test_defaults_freeze_what_a_fit_should_not_move():
    b = blob()
    assert b.parameters.free_names == [
        "radius", "B", "doppler", "energy", "electrons.p1", "electrons.p2",
        "electrons.gamma_b", "electrons.gamma_min", "external.blr.energy_density"]
    p = b.parameters
    assert (p["B"].min, p["B"].max, p["B"].scale) == (1e-4, 1e3, "log")
    assert p["electrons.p1"].scale == "linear" and p["z"].frozen and p["Gamma"].frozen
    table = p.to_table()
    assert list(table["name"]) == list(p) and table["unit"][1] == "G"


def test_gamma_affects_the_sed_only_with_fields_that_are_not_isotropic():
    b = blob()
    assert not b.parameters["Gamma"].affects_sed and b.parameters["doppler"].affects_sed
    # Indeed: Γ from 10 to 30 at the same δ leaves every component unchanged.
    nu = np.geomspace(1e10, 1e26, 12)
    before = b.seds(nu, kernels="classic", gamma_gamma=False)
    b.Gamma = 30.0
    after = b.seds(nu, kernels="classic", gamma_gamma=False)
    for name in before:
        np.testing.assert_array_equal(after[name].value, before[name].value)

    class Beam(ostrel_models.ExternalField):     # a field that depends on the angle
        def ec_sed(self, state, nu_obs, K):
            return np.full_like(nu_obs, 1e-12 * (1 - state.cos_theta))

        def transmission(self, state, nu_obs):
            return np.where(nu_obs > 1e25, 0.25, 1.0)
    b.external = [Beam()]
    assert b.sed_depends_on("Gamma")
    # A field's own emission joins the "ec" component, its absorption on the
    # way out acts on every component.
    beam = b.seds(nu, kernels="classic", gamma_gamma=False)
    cos_theta = (1 - 1 / (30.0 * 10.0)) / math.sqrt(1 - 1 / 900)
    thin = nu > 1e14                             # no self-absorption of the blob there
    np.testing.assert_allclose(beam["ec"].value[thin], 1e-12 * (1 - cos_theta)
                               * np.where(nu > 1e25, 0.25, 1.0)[thin], rtol=1e-9)
    for name in ("synchrotron", "ssc"):
        np.testing.assert_array_equal(beam[name].value,
                                      before[name].value * np.where(nu > 1e25, 0.25, 1.0))


def test_gamma_and_distance_follow_until_set():
    b = blob(z=0.1)
    d1 = b.distance
    b.doppler = 12.0
    assert b.Gamma == 12.0 and b.parameters["Gamma"].derived
    b.z = 0.2
    assert b.distance > 1.9 * d1
    b.distance = 1e27 * u.cm
    b.z = 0.3
    assert b.distance == 1e27 * u.cm
    # A copy follows its own doppler, not the original's.
    c = b.copy()
    c.doppler = 5.0
    assert (c.Gamma, b.Gamma) == (5.0, 12.0)
    b.distance = None
    assert b.distance > 2 * d1


@pytest.mark.parametrize("make", [
    lambda: blob(),
    lambda: blob(electrons=LogParabola(2.1, 0.3, 1e4, 30.0, 1e7), density=2 * u.cm**-3,
                 energy=None, Gamma=15.0, distance=3e26 * u.cm, n_gamma=77,
                 seed_per_decade=11, external=LineField(3e-4, 3e13, name="torus")),
    lambda: blob(electrons=Tabulated(np.geomspace(10, 1e6, 30),
                                     np.geomspace(10, 1e6, 30) ** -2.3 / 3.0)),
], ids=["broken, cmb+blr", "logparabola, density, torus", "tabulated"])
def test_saved_and_loaded_models_give_bit_identical_seds(make, tmp_path):
    b = make()
    b.parameters["B"].frozen = True
    b.parameters["radius"].min = 3e14
    path = tmp_path / "m.yaml"
    save_model(b, path)
    c = load_model(path)
    assert type(c) is Blob and c is not b
    nu = np.geomspace(1e8, 1e28, 40)
    kernels = "accurate" if ostrel_models.available_kernels()[0] == "accurate" else "classic"
    np.testing.assert_array_equal(c.sed(nu, kernels=kernels, gamma_gamma=False).value,
                                  b.sed(nu, kernels=kernels, gamma_gamma=False).value)
    assert [(k, p.raw, p.min, p.max, p.frozen, p.derived) for k, p in c.parameters.items()] == \
           [(k, p.raw, p.min, p.max, p.frozen, p.derived) for k, p in b.parameters.items()]
    assert (c.n_gamma, c.seed_per_decade) == (b.n_gamma, b.seed_per_decade)
    # The plain dictionary and pickling (process pools) keep the model too.
    assert Blob.from_dict(b.to_dict()).to_dict() == b.to_dict()
    assert pickle.loads(pickle.dumps(b)).to_dict() == b.to_dict()
    assert path.read_text().startswith("type: Blob\nversion: " + ostrel_models.__version__)


def test_distributions_and_fields_save_on_their_own():
    e = PowerLaw(2.7, 30.0, 1e7)
    e.parameters["p"].max = 4.0
    e2 = ElectronDistribution.from_dict(e.to_dict())
    assert repr(e2) == repr(e) and e2.parameters["p"].max == 4.0
    with pytest.raises(ValueError, match="unknown"):
        ElectronDistribution.from_dict({"type": "Nope"})
    f = LineField(2e-4 * u.erg / u.cm**3, 1 * u.micron, name="torus")
    f2 = ostrel_models.ExternalField.from_dict(f.to_dict())
    assert repr(f2) == repr(f) and f2.parameters["frequency"].frozen
