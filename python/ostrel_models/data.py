"""Measured spectral energy distributions, as astropy Tables.

The package ships two multi-wavelength SEDs (their references are in the
header of each file and in ``Table.meta["comments"]``):

- ``"mrk421_2009"``: Mrk 421, the 2009 campaign, radio to TeV
  (Abdo et al. 2011, ApJ 736, 131), z = 0.030;
- ``"pks1510-089_2015b"``: PKS 1510-089, the 2015 high state, period B
  (MAGIC Collaboration, Ahnen et al. 2017, A&A 603, A29), z = 0.361.

The files are CSV with ``#`` comment lines and the columns photon energy
[eV], ν F_ν, its lower and upper 1σ errors [erg cm⁻² s⁻¹], and instrument,
optionally followed by a column ``upper_limit`` (true/false, 1/0).  A cell
``UL`` in either error column makes the point an upper limit on ν F_ν at the
given value (that error is then taken as 0).

:func:`read_sed` also reads ECSV tables (``.ecsv``, or any file that starts
with the ``# %ECSV`` line) with the columns ``frequency`` (or ``energy`` or
``wavelength``, any unit the spectral equivalency converts), ``nuFnu``, and
optionally ``nuFnu_err_low``, ``nuFnu_err_high``, ``instrument`` and
``upper_limit``; masked cells drop their row (see :func:`read_sed`).
"""

from __future__ import annotations

import csv
import io
import re
from importlib import resources
from pathlib import Path
from typing import Any

import numpy as np
from astropy import units as u
from astropy.table import MaskedColumn, Table

__all__ = ["read_sed", "available_seds", "NUFNU_UNIT"]

NUFNU_UNIT = u.erg / (u.cm**2 * u.s)
_COLUMNS = ("energy_eV", "nuFnu_erg_cm2_s", "nuFnu_err_low", "nuFnu_err_high", "instrument")
_TRUE = {"true", "t", "yes", "1", "ul"}
_FALSE = {"false", "f", "no", "0", ""}


def available_seds() -> list[str]:
    """Names of the SEDs shipped with the package."""
    files = resources.files(__package__).joinpath("data").iterdir()
    return sorted(f.name[:-4] for f in files if f.name.endswith(".csv"))


def read_sed(source: str | Path) -> Table:
    """Read an SED: a name of :func:`available_seds`, or the path of a CSV or
    ECSV file (see the module docstring for the columns).

    Returns a Table sorted by frequency with the columns ``frequency`` [Hz],
    ``nuFnu``, ``nuFnu_err_low``, ``nuFnu_err_high`` [erg cm⁻² s⁻¹],
    ``instrument`` and ``upper_limit`` (bool).  ``meta["comments"]`` holds the
    header lines (source and reference), ``meta["z"]`` the redshift when the
    header gives it, ``meta["ebl_corrected"]`` whether its TeV points are
    corrected for EBL absorption (None: unknown, as for both shipped SEDs), and ``meta["dropped_masked"]`` the number of rows left
    out because a cell they need is masked (an error of an upper limit may
    be masked).  A cell that cannot be read raises ``ValueError`` naming the
    file, its line and its column.
    """
    path = Path(source)
    if path.suffix == "" and not path.exists():
        name = str(source)
        if name not in available_seds():
            raise ValueError(f"source: no SED named {name!r}; shipped: {available_seds()}")
        text = resources.files(__package__).joinpath("data", name + ".csv").read_text()
        where = name
    else:
        if not path.is_file():
            raise FileNotFoundError(f"source: no such file {str(path)!r}")
        text = path.read_text()
        where = str(path)
    if path.suffix.lower() == ".ecsv" or text.startswith("# %ECSV"):
        table = _from_ecsv(Table.read(text, format="ascii.ecsv"), where)
    else:
        table = _from_csv(text, where)
    table.sort("frequency", kind="stable")
    comments = table.meta.get("comments", [])
    m = re.search(r"Redshift z = ([0-9]+(?:\.[0-9]+)?)", " ".join(comments))
    if m and "z" not in table.meta:
        table.meta["z"] = float(m.group(1))
    # Whether the TeV points are corrected for EBL absorption: True, False or
    # None (unknown); with None, fit them both ways (``Blob(ebl=...)``).
    e = re.search(r"EBL-corrected: (yes|no|unknown)", " ".join(comments))
    if e and "ebl_corrected" not in table.meta:
        table.meta["ebl_corrected"] = {"yes": True, "no": False}.get(e.group(1))
    return table


def _from_csv(text: str, where: str) -> Table:
    comments = [ln[1:].strip() for ln in text.splitlines() if ln.startswith("#")]
    numbered = [(i + 1, ln) for i, ln in enumerate(text.splitlines())
                if ln.strip() and not ln.startswith("#")]
    if not numbered:
        raise ValueError(f"{where}: no header line")
    rows = list(csv.reader(ln for _, ln in numbered))
    header = tuple(h.strip() for h in rows[0])
    has_ul = header[len(_COLUMNS):] == ("upper_limit",)
    if header[:len(_COLUMNS)] != _COLUMNS or len(header) > len(_COLUMNS) + has_ul:
        raise ValueError(f"{where}: expected the columns {', '.join(_COLUMNS)} "
                         f"[, upper_limit], got {', '.join(header)}")
    ncol = len(header)
    energy, flux, lo, hi, inst, ul = [], [], [], [], [], []
    for (line, _), row in zip(numbered[1:], rows[1:]):
        if len(row) != ncol:
            raise ValueError(f"{where}, line {line}: {len(row)} cells, expected {ncol}")

        def number(col: int) -> float:
            cell = row[col].strip()
            try:
                return float(cell)
            except ValueError:
                raise ValueError(f"{where}, line {line}, column {col + 1} ({header[col]}): "
                                 f"cannot read {cell!r} as a number") from None

        limit = False
        errors = []
        for col in (2, 3):
            if row[col].strip().upper() == "UL":
                limit = True
                errors.append(0.0)
            else:
                errors.append(number(col))
        if has_ul:
            flag = row[ncol - 1].strip().lower()
            if flag not in _TRUE | _FALSE:
                raise ValueError(f"{where}, line {line}, column {ncol} (upper_limit): "
                                 f"cannot read {row[ncol - 1]!r} as true or false")
            limit = limit or flag in _TRUE
        energy.append(number(0))
        flux.append(number(1))
        lo.append(errors[0])
        hi.append(errors[1])
        inst.append(row[4].strip())
        ul.append(limit)
    table = Table()
    table["frequency"] = (np.array(energy, dtype=float) * u.eV).to(u.Hz, equivalencies=u.spectral())
    table["nuFnu"] = np.array(flux, dtype=float) * NUFNU_UNIT
    table["nuFnu_err_low"] = np.array(lo, dtype=float) * NUFNU_UNIT
    table["nuFnu_err_high"] = np.array(hi, dtype=float) * NUFNU_UNIT
    table["instrument"] = np.array(inst, dtype=str)
    table["upper_limit"] = np.array(ul, dtype=bool)
    table.meta["comments"] = comments
    table.meta["dropped_masked"] = 0
    return table


def _from_ecsv(raw: Table, where: str) -> Table:
    names = raw.colnames
    axis = next((c for c in ("frequency", "energy", "wavelength") if c in names), None)
    if axis is None or "nuFnu" not in names:
        raise ValueError(f"{where}: an SED table needs a column frequency (or energy or "
                         f"wavelength) and a column nuFnu; got {', '.join(names)}")
    n = len(raw)
    ul = _bool_column(raw, "upper_limit", where) if "upper_limit" in names else np.zeros(n, bool)
    drop = _masked(raw[axis]) | _masked(raw["nuFnu"])
    for c in ("nuFnu_err_low", "nuFnu_err_high"):
        if c in names:
            drop |= _masked(raw[c]) & ~ul
    keep = ~drop
    table = Table()
    table["frequency"] = _quantity(raw, axis, u.Hz, where)[keep]
    table["nuFnu"] = _quantity(raw, "nuFnu", NUFNU_UNIT, where)[keep]
    for c in ("nuFnu_err_low", "nuFnu_err_high"):
        if c in names:
            q = _quantity(raw, c, NUFNU_UNIT, where, fill=0.0)
        else:
            q = np.zeros(n) * NUFNU_UNIT
        table[c] = q[keep]
    inst = (np.asarray(raw["instrument"].filled("") if isinstance(raw["instrument"], MaskedColumn)
                       else raw["instrument"], dtype=str)
            if "instrument" in names else np.full(n, "", dtype=str))
    table["instrument"] = inst[keep]
    table["upper_limit"] = ul[keep]
    table.meta.update({k: v for k, v in raw.meta.items() if k != "comments"})
    table.meta["comments"] = list(raw.meta.get("comments", []))
    table.meta["dropped_masked"] = int(drop.sum())
    return table


def _masked(col: Any) -> np.ndarray:
    mask = getattr(col, "mask", None)
    if mask is None:
        return np.zeros(len(col), dtype=bool)
    return np.asarray(mask, dtype=bool).reshape(len(col))


def _quantity(raw: Table, name: str, unit: u.UnitBase, where: str,
              fill: float = np.nan) -> u.Quantity:
    col = raw[name]
    values = col.filled(fill) if isinstance(col, MaskedColumn) else col
    try:
        arr = np.asarray(values, dtype=float)
    except ValueError as exc:
        raise ValueError(f"{where}, column {name}: {exc}") from None
    if col.unit is None:
        raise ValueError(f"{where}, column {name}: needs a unit convertible to {unit}")
    try:
        return (arr * col.unit).to(unit, equivalencies=u.spectral())
    except u.UnitConversionError:
        raise u.UnitConversionError(f"{where}, column {name}: cannot convert {col.unit} "
                                    f"to {unit}") from None


def _bool_column(raw: Table, name: str, where: str) -> np.ndarray:
    col = raw[name]
    values = col.filled(False) if isinstance(col, MaskedColumn) else col
    if np.asarray(values).dtype == bool:
        return np.asarray(values, dtype=bool)
    out = []
    for i, v in enumerate(values):
        s = str(v).strip().lower()
        if s not in _TRUE | _FALSE:
            raise ValueError(f"{where}, row {i + 1}, column {name}: cannot read {v!r} as "
                             "true or false")
        out.append(s in _TRUE)
    return np.array(out, dtype=bool)
