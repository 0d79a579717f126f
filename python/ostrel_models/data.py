"""Measured spectral energy distributions, as astropy Tables.

The package ships two multi-wavelength SEDs (their references are in the
header of each file and in ``Table.meta["comments"]``):

- ``"mrk421_2009"``: Mrk 421, the 2009 campaign, radio to TeV
  (Abdo et al. 2011, ApJ 736, 131), z = 0.030;
- ``"pks1510-089_2015b"``: PKS 1510-089, the 2015 high state, period B
  (MAGIC Collaboration, Ahnen et al. 2017, A&A 603, A29), z = 0.361.

The files are CSV with ``#`` comment lines and the columns photon energy
[eV], ν F_ν, its lower and upper 1σ errors [erg cm⁻² s⁻¹], and instrument.
"""

from __future__ import annotations

import csv
import io
import re
from importlib import resources
from pathlib import Path

import numpy as np
from astropy import units as u
from astropy.table import Table

__all__ = ["read_sed", "available_seds"]

_NUFNU = u.erg / (u.cm**2 * u.s)
_COLUMNS = ("energy_eV", "nuFnu_erg_cm2_s", "nuFnu_err_low", "nuFnu_err_high", "instrument")


def available_seds() -> list[str]:
    """Names of the SEDs shipped with the package."""
    files = resources.files(__package__).joinpath("data").iterdir()
    return sorted(f.name[:-4] for f in files if f.name.endswith(".csv"))


def read_sed(source: str | Path) -> Table:
    """Read an SED: a name of :func:`available_seds` or the path of a CSV file.

    Returns a Table with the columns ``frequency`` [Hz], ``nuFnu``,
    ``nuFnu_err_low``, ``nuFnu_err_high`` [erg cm⁻² s⁻¹] and ``instrument``,
    sorted by frequency (frequency = energy / h).  ``meta["comments"]`` holds
    the header lines (source and reference), ``meta["z"]`` the redshift when
    the header gives it.
    """
    path = Path(source)
    if path.suffix == "" and not path.exists():
        name = str(source)
        if name not in available_seds():
            raise ValueError(f"source: no SED named {name!r}; shipped: {available_seds()}")
        text = resources.files(__package__).joinpath("data", name + ".csv").read_text()
    else:
        if not path.is_file():
            raise FileNotFoundError(f"source: no such file {str(path)!r}")
        text = path.read_text()
    comments = [ln[1:].strip() for ln in text.splitlines() if ln.startswith("#")]
    rows = list(csv.reader(ln for ln in io.StringIO(text) if not ln.startswith("#") and ln.strip()))
    header, body = rows[0], rows[1:]
    if tuple(h.strip() for h in header) != _COLUMNS:
        raise ValueError(f"source: expected the columns {', '.join(_COLUMNS)}, got {header}")
    energy = np.array([float(r[0]) for r in body]) * u.eV
    table = Table()
    table["frequency"] = energy.to(u.Hz, equivalencies=u.spectral())
    table["nuFnu"] = np.array([float(r[1]) for r in body]) * _NUFNU
    table["nuFnu_err_low"] = np.array([float(r[2]) for r in body]) * _NUFNU
    table["nuFnu_err_high"] = np.array([float(r[3]) for r in body]) * _NUFNU
    table["instrument"] = [r[4].strip() for r in body]
    table.sort("frequency", kind="stable")
    table.meta["comments"] = comments
    m = re.search(r"Redshift z = ([0-9]+(?:\.[0-9]+)?)", " ".join(comments))
    if m:
        table.meta["z"] = float(m.group(1))
    return table
