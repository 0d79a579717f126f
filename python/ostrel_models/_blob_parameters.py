"""The blob's own parameters: their units, fitting bounds, scales and valid
ranges, the properties that read and write them, the collection that joins
them to the distribution's and the fields' parameters, and the blob's text."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

from astropy import units as u

from . import _constants as k
from .distributions import powerlaw_moment
from .parameters import Parameters

if TYPE_CHECKING:
    from .blob import Blob

#: The blob's own parameters: unit, default fitting bounds, scale, frozen
#: state, and the range where the computation is meaningful (``valid``).
_SETTINGS: dict[str, dict[str, Any]] = {
    "radius": dict(unit=u.cm, min=1e13, max=1e19, scale="log", valid=(1e3, 1e28),
                   description="radius of the sphere, blob frame"),
    "B": dict(unit=u.G, min=1e-4, max=1e3, scale="log", valid=(1e-15, 1e15),
              description="magnetic field, blob frame"),
    "doppler": dict(min=1.0, max=100.0, scale="log", valid=(1e-5, 1e5),
                    description="Doppler factor"),
    "Gamma": dict(min=1.0, max=100.0, scale="log", valid=(1.0, 1e5), frozen=True,
                  description="bulk Lorentz factor"),
    "z": dict(min=0.0, max=10.0, valid=(0.0, 1e3), frozen=True, description="redshift"),
    "distance": dict(unit=u.cm, min=1e24, max=1e30, scale="log", valid=(1.0, 1e33),
                     frozen=True, description="luminosity distance"),
    "energy": dict(unit=u.erg, min=1e38, max=1e56, scale="log", valid=(1e-10, 1e80),
                   description="total electron energy, blob frame"),
    # density = 0 is an empty blob (the start of a flare): no electrons, no emission.
    "density": dict(unit=u.cm**-3, min=1e-6, max=1e8, scale="log", valid=(0.0, 1e40),
                    description="electron number density, blob frame"),
    "r": dict(unit=u.cm, min=1e15, max=1e21, scale="log", valid=(0.0, 1e30), open_low=True,
              description="distance of the blob from the black hole"),
}


def _plain_property(name: str, doc: str, follows: str | None = None) -> property:
    """A property reading and writing the parameter ``name``; with ``follows``
    (a method name), assigning None makes the value follow that method."""
    def fget(self: Blob) -> Any:
        return self._p[name].value

    def fset(self: Blob, value: Any) -> None:
        if value is None and follows is not None:
            self._p[name].follow(getattr(self, follows))
        else:
            self._p[name].value = value
    return property(fget, fset, doc=doc)


def _norm_property(name: str, moment: float, unit: u.UnitBase, doc: str) -> property:
    """``energy`` or ``density``: the parameter when it normalises the
    electrons, else computed from them; assigning makes it the normalisation."""
    def fget(self: Blob) -> Any:
        if self._norm == name:
            return self._p[name].value
        s = self.state()
        weight = k.MEC2 * s.volume if moment == 1.0 else 1.0
        return weight * powerlaw_moment(s.g, s.n, moment) * unit

    def fset(self: Blob, value: Any) -> None:
        self._p[name].value = value
        self._norm = name
    return property(fget, fset, doc=doc)


def blob_parameters(blob: Blob) -> Parameters:
    """``Blob.parameters``: own, "electrons.<name>", "external[i].<name>" (or
    "external.<field name>.<name>", with the index form as an alias)."""
    own = ("radius", "B", "doppler", "Gamma", "z", "distance", blob._norm) \
        + (("r",) if "r" in blob._p else ())
    items = [(name, blob._p[name]) for name in own]
    items += [(f"electrons.{n}", p) for n, p in blob._electrons.parameters.items()]
    aliases = {}
    for i, field in enumerate(blob._external):
        prefix = f"external.{field.name}" if field.name else f"external[{i}]"
        for n, p in field.parameters.items():
            items.append((f"{prefix}.{n}", p))
            if field.name:
                aliases[f"external[{i}].{n}"] = f"{prefix}.{n}"
    return Parameters(items, aliases)


def blob_repr(blob: Blob) -> str:
    """Every parameter of the blob with its unit and state, one a line."""
    params = blob.parameters
    width = max(len(name) for name in params)
    lines = []
    for name, p in params.items():
        unit = "" if p.unit == u.dimensionless_unscaled else f" {p.unit.to_string()}"
        flags = [f for f, on in (("frozen", p.frozen), ("follows", p.derived)) if on]
        note = f"  ({', '.join(flags)})" if flags else ""
        lines.append(f"  {name:<{width}} = {p.raw:.6g}{unit}{note}")
    grids = f"n_gamma={blob._n_gamma}, seed_per_decade={blob._seed_per_decade:g}"
    return (f"Blob(electrons={blob._electrons!r}, external={blob._external!r}, {grids}\n"
            + "\n".join(lines) + "\n)")
