"""EBL optical depths against the models' published tables.

The tables are the files the authors released (shipped by ``ebltable``); here
they are parsed with plain NumPy, independently of the interpolator the
package uses, and τ at table nodes must come back exactly (this catches a
wrong unit of energy, a model mapped to another's table, or a transposed
grid).  Values between nodes and outside the tables are checked for the
documented behaviour.
"""

import pathlib

import numpy as np
import pytest
from astropy import units as u

ebltable = pytest.importorskip("ebltable")
from ostrel_models.ebl import EBL_MODELS, ebl_opacity  # noqa: E402

DATA = pathlib.Path(ebltable.__file__).parent / "data"
MEV_PER_HZ = (1.0 * u.Hz).to_value(u.MeV, equivalencies=u.spectral())


def grid_table(name, energy_mev_per_unit):
    """(z [nz], E [MeV, nE], τ [nE, nz]) of a file with redshifts in its first
    row and energies in its first column."""
    d = np.loadtxt(DATA / name)
    return d[0, 1:], d[1:, 0] * energy_mev_per_unit, d[1:, 1:]


def franceschini_table():
    """Blocks of (E [TeV], E [eV], τ, e^τ) each after a '# redshift' line."""
    zs, blocks, rows = [], [], None
    for line in (DATA / "tau_fran08.dat").read_text().splitlines():
        if "redshift" in line:
            zs.append(float(line.split("=")[1].split()[0]))
            rows = []
            blocks.append(rows)
        elif line.strip() and not line.startswith("#"):
            rows.append([float(v) for v in line.split()])
    e = np.array([r[0] for r in blocks[0]]) * 1e6
    tau = np.array([[r[2] for r in b] for b in blocks]).T
    return np.array(zs), e, tau


TABLES = {
    "dominguez2011": lambda: grid_table("tau_dominguez11_cta.out", 1e6),   # TeV
    "finke2010": lambda: grid_table("tau_modelC_Finke.txt", 1e6),           # TeV
    "saldana-lopez2021": lambda: grid_table("tau_saldana-lopez21.out", 1e6),  # TeV
    "gilmore2012": lambda: grid_table("opdep_fiducial.dat", 1.0),           # MeV
    "franceschini2008": franceschini_table,
}


@pytest.mark.parametrize("model", sorted(EBL_MODELS))
def test_optical_depth_at_table_nodes_is_the_published_value(model):
    z, e_mev, tau = TABLES[model]()
    # Redshifts of the two campaigns' sources and a distant one; energies
    # where τ runs from ~0.05 to ~10.
    for zt in (0.03, 0.361, 1.0):
        iz = int(np.argmin(abs(z - zt)))
        col = tau[:, iz]
        sel = np.flatnonzero((col > 0.05) & (col < 10.0))[::7]
        assert sel.size >= 3
        got = ebl_opacity(e_mev[sel] / MEV_PER_HZ * u.Hz, z[iz], model)
        np.testing.assert_allclose(got, col[sel], rtol=1e-5)


def test_between_nodes_and_outside_the_table():
    model = "dominguez2011"
    z, e_mev, tau = TABLES[model]()
    iz = int(np.argmin(abs(z - 0.1)))
    i = int(np.argmin(abs(e_mev - 1e6)))
    # Half-way in log E between two nodes: between the nodes' values.
    e_mid = np.sqrt(e_mev[i] * e_mev[i + 1])
    t_mid = ebl_opacity(e_mid * u.MeV, z[iz], model)
    assert min(tau[i, iz], tau[i + 1, iz]) < t_mid < max(tau[i, iz], tau[i + 1, iz])
    # Energies and the flux factor the same whatever unit the caller uses.
    np.testing.assert_allclose(ebl_opacity(1 * u.TeV, 0.1, model),
                               ebl_opacity((1 * u.TeV).to(u.Hz, u.spectral()).value, 0.1, model))
    # Above the table's top energy or redshift: an error, never zero.
    with pytest.raises(ValueError, match="nu"):
        ebl_opacity(1e3 * u.TeV, 0.1, model)
    with pytest.raises(ValueError, match="z"):
        ebl_opacity(1 * u.TeV, 50.0, model)
    with pytest.raises(ValueError, match="model"):
        ebl_opacity(1 * u.TeV, 0.1, "kneiske2004")
    # Below the table's lowest energy: continues downward, never jumps up.
    lo = ebl_opacity([0.3, 0.6, 1.0, 1.5] * u.GeV, 2.0, "finke2010")
    assert np.all(np.diff(lo) > 0) and lo[0] > 0
    # No absorption at z = 0; τ grows with distance.
    assert ebl_opacity(1 * u.TeV, 0.0, model) == 0.0
    assert ebl_opacity(1 * u.TeV, 0.005, model) < ebl_opacity(1 * u.TeV, 0.01, model)
