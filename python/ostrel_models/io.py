"""Saving and loading models: plain dictionaries and YAML files.

``model.to_dict()`` gives plain types only (numbers, strings, lists, dicts):
every parameter with its value, unit, bounds, frozen state and scale, the
electron distribution, the external fields, the grids (``n_gamma``,
``seed_per_decade``), and the package version that wrote it.  Values are the
doubles the model holds, written with ``repr`` (YAML keeps all 17 digits),
so ``load_model(save_model(m))`` computes a bit-identical SED.

    >>> save_model(blob, "m.yaml")                       # doctest: +SKIP
    >>> same = load_model("m.yaml")                      # doctest: +SKIP
"""

from __future__ import annotations

import os
from typing import Any

from astropy import units as u

from ._version import __version__
from .distributions import _REGISTRY as _DISTRIBUTIONS
from .distributions import ElectronDistribution
from .fields import _REGISTRY as _FIELDS
from .fields import ExternalField

__all__ = ["save_model", "load_model", "model_from_dict", "blob_to_dict", "blob_from_dict"]

_OWN = ("radius", "B", "doppler", "Gamma", "z", "distance", "energy", "density")


def blob_to_dict(blob: Any) -> dict[str, Any]:
    """The dictionary of ``Blob.to_dict`` (see the module docstring)."""
    names = [n for n in _OWN if n not in ("energy", "density")] + [blob._norm] \
        + (["r"] if "r" in blob._p else [])
    return {
        "type": type(blob).__name__,
        "version": __version__,
        "parameters": {n: blob._p[n].to_dict() for n in names},
        # Γ follows δ_D and d_L follows z until they are set.
        "follows": [n for n in ("Gamma", "distance") if blob._p[n].derived],
        "electrons": blob.electrons.to_dict(),
        "external": [f.to_dict() for f in blob.external],
        "grids": {"n_gamma": blob.n_gamma, "seed_per_decade": float(blob.seed_per_decade)},
        "ebl": blob.ebl,
    }


def _value(d: dict[str, Any]) -> Any:
    unit = d.get("unit") or ""
    return d["value"] * u.Unit(unit) if unit else d["value"]


def blob_from_dict(cls: type, d: dict[str, Any]) -> Any:
    """The blob of ``blob_to_dict`` (of class ``cls``)."""
    p = d["parameters"]
    follows = set(d.get("follows", ()))
    norm = "energy" if "energy" in p else "density"
    grids = d.get("grids", {})
    blob = cls(radius=_value(p["radius"]), B=_value(p["B"]), doppler=_value(p["doppler"]),
               z=_value(p["z"]), electrons=ElectronDistribution.from_dict(d["electrons"]),
               **{norm: _value(p[norm])},
               Gamma=None if "Gamma" in follows else _value(p["Gamma"]),
               distance=None if "distance" in follows else _value(p["distance"]),
               external=[ExternalField.from_dict(f) for f in d.get("external", ())],
               n_gamma=grids.get("n_gamma"), seed_per_decade=grids.get("seed_per_decade", 8.0),
               r=_value(p["r"]) if "r" in p else None, ebl=d.get("ebl"))
    for name, pd in p.items():
        blob._p[name].apply(pd)
    return blob


def _subclasses(cls: type[Any]) -> list[type[Any]]:
    out: list[type[Any]] = [cls]
    for sub in cls.__subclasses__():
        out += _subclasses(sub)
    return out


def model_from_dict(d: dict[str, Any]) -> Any:
    """A blob, electron distribution or external field from its ``to_dict``."""
    from .blob import Blob
    kind = d.get("type")
    if kind in _DISTRIBUTIONS:
        return ElectronDistribution.from_dict(d)
    if kind in _FIELDS:
        return ExternalField.from_dict(d)
    for cls in _subclasses(Blob):
        if cls.__name__ == kind:
            return cls.from_dict(d)
    raise ValueError(f"unknown model type {kind!r}")


def save_model(model: Any, path: str | os.PathLike[str]) -> None:
    """Write ``model.to_dict()`` to a YAML file."""
    import yaml
    d = model.to_dict()
    d.setdefault("version", __version__)
    with open(path, "w", encoding="utf-8") as f:
        yaml.safe_dump(d, f, sort_keys=False, allow_unicode=True)


def load_model(path: str | os.PathLike[str]) -> Any:
    """The model a YAML file of ``save_model`` describes."""
    import yaml
    with open(path, encoding="utf-8") as f:
        d = yaml.safe_load(f)
    if not isinstance(d, dict) or "type" not in d:
        raise ValueError(f"{os.fspath(path)}: not a saved model (no 'type' at the top)")
    return model_from_dict(d)
