"""A homogeneous spherical blob of relativistic electrons, seen from Earth.

Frames and notation follow Dermer & Menon 2009 (*High Energy Radiation from
Black Holes*, hereafter DM09), chapters 5-7: primed quantities are in the
blob frame, which moves with bulk Lorentz factor Γ; the observer sees it at
Doppler factor δ_D and redshift z, at luminosity distance d_L.

- Frequencies: ν' = (1 + z) ν / δ_D for radiation emitted isotropically in
  the blob frame (DM09 ch. 5).
- Flux of a blob: ν F_ν = δ_D⁴ ν' L'_ν' / (4π d_L²), with L'_ν' the blob-frame
  luminosity per unit frequency (DM09 ch. 5, the blob case, one power of δ_D
  more than a steady jet).
- Radiation through the sphere and the self-Compton seed field: ``sphere``.
- External Compton scattering: each field of ``external`` gives its own
  emission (``fields``); for fields isotropic in the host frame it depends on
  δ_D alone (the δ_D^(4+2α) beaming of Dermer 1995).
- Internal γγ absorption: opacity of the blob's own synchrotron field for
  pair production, added to the synchrotron absorption coefficient in the
  escape factor of every component (accurate kernels only: the classic set
  has no γγ opacity).

Not included: absorption by the extragalactic background light, γγ
absorption on the external fields, and the self-Compton emission of the
self-Compton photons.
"""

from __future__ import annotations

import copy
import math
from collections.abc import Iterable
from typing import Any

import numpy as np
import numpy.typing as npt
from astropy import units as u

from . import _backends, validation
from . import _constants as k
from .distributions import ElectronDistribution, powerlaw_moment
from .fields import CMB, ExternalField, LineField
from .parameters import Parameter, Parameters
from ._blob_parameters import _SETTINGS, _norm_property, _plain_property, blob_parameters, blob_repr
from ._observed import ebl_choice, ec_losses, field_labels, observed_components
from .sphere import BlobState, escape_factor, seed_factor, synchrotron_field

Array = npt.NDArray[np.float64]

__all__ = ["Blob", "CMB", "LineField", "escape_factor", "seed_factor"]

COMPONENTS = ("synchrotron", "ssc", "ec")
NUFNU_UNIT = u.erg / (u.cm**2 * u.s)

class Blob:
    """A homogeneous sphere of electrons in a tangled field, moving towards us.

    Parameters
    ----------
    radius : Quantity [length]
        Radius R of the sphere in its own frame.
    B : Quantity [G]
        Magnetic field in the blob frame.
    doppler : float
        Doppler factor δ_D = 1/(Γ(1 − β cos θ)).
    z : float
        Redshift of the source.
    electrons : ElectronDistribution
        Shape of the electron distribution n'(γ') in the blob frame.
    energy : Quantity [erg], optional
        Total energy of the electrons in the blob frame,
        W_e = m_e c² V ∫ γ n'(γ) dγ, V = (4/3)πR³.
    density : Quantity [cm⁻³], optional
        Total number density of the electrons, ∫ n'(γ) dγ (give exactly one
        of ``energy`` and ``density``).
    Gamma : float, optional
        Bulk Lorentz factor (default: equal to ``doppler``, the blob seen at
        θ = 1/Γ, and following it).  With only host-isotropic external fields
        the spectrum depends on δ_D alone (``parameters["Gamma"].affects_sed``
        is then False); Γ must allow δ_D: 1/(Γ(1 + β)) ≤ δ_D ≤ Γ(1 + β).
    distance : Quantity [length], optional
        Luminosity distance; by default that of redshift z in the Planck 2018
        cosmology (astropy.cosmology.Planck18), following z.
    external : ExternalField or a sequence of them
        Radiation fields scattered by the electrons (the "ec" component).
    n_gamma : int, optional
        Points of the electron grid (a break is added to it); by default the
        distribution's ``default_grid_points``.
    seed_per_decade : float
        Points per decade of the grid of the synchrotron seed field.

    Every parameter can be changed later by assignment, directly or through
    ``blob.parameters[name].value`` (the same storage); a value outside its
    valid range is refused at once, relations between parameters are checked
    before computing.  See the module docstring for the relations used.

    Threads: every evaluation (``sed``, ``seds``, ``seed_field``,
    ``electron_losses``, ``electron_distribution``) reads all parameters once
    at its start into a ``BlobState`` (with copies of the distribution and the
    fields), so evaluations may run in several threads at once and an
    assignment made meanwhile never mixes two models: each result is that of
    the parameters before or after it.  Several assignments are not one
    atomic change — a thread that changes several parameters while others
    evaluate should give each thread its own ``copy()``.
    """

    def __init__(self, radius: Any, B: Any, doppler: float, z: float,
                 electrons: ElectronDistribution, energy: Any = None, density: Any = None,
                 Gamma: float | None = None, distance: Any = None,
                 external: ExternalField | Iterable[ExternalField] = (),
                 n_gamma: int | None = None, seed_per_decade: float = 8.0,
                 r: Any = None, ebl: str | None = None) -> None:
        if (energy is None) == (density is None):
            raise ValueError("give exactly one of energy and density")
        self._p: dict[str, Parameter] = {}
        self._dl_cache: tuple[float, float] | None = None
        for name, value in (("radius", radius), ("B", B), ("doppler", doppler), ("z", z),
                            ("Gamma", 1.0), ("distance", 1.0),
                            ("energy", 1e50 if energy is None else energy),
                            ("density", 1.0 if density is None else density)):
            self._p[name] = Parameter(name, value, **_SETTINGS[name])
        self._norm = "energy" if energy is not None else "density"
        self.Gamma = Gamma
        self.distance = distance
        self._p["Gamma"].affects_sed = self._gamma_matters
        self.electrons = electrons
        self.external = external
        self.n_gamma = n_gamma
        self.seed_per_decade = seed_per_decade
        self.r = r
        self.ebl = ebl
        self.validate()

    # --- parameters: Quantities out, Quantities or plain numbers in ----------
    radius = _plain_property("radius", "Radius of the sphere [cm], blob frame.")
    B = _plain_property("B", "Magnetic field [G], blob frame.")
    doppler = _plain_property("doppler", "Doppler factor δ_D.")
    z = _plain_property("z", "Redshift.")
    Gamma = _plain_property("Gamma", "Bulk Lorentz factor (follows doppler until set; "
                            "None restores that).", follows="_gamma_from_doppler")
    distance = _plain_property("distance", "Luminosity distance (from z by Planck18 until "
                               "set; None restores that).", follows="_distance_from_z")
    energy = _norm_property("energy", 1.0, u.erg, "Total electron energy in the blob frame, "
                            "m_e c² V ∫ γ n' dγ.")
    density = _norm_property("density", 0.0, u.cm**-3, "Total electron number density in "
                             "the blob frame, ∫ n' dγ.")

    def _gamma_from_doppler(self) -> float:
        return self._p["doppler"].raw

    def _gamma_matters(self) -> bool:
        return not all(getattr(f, "isotropic", False) for f in self._external)

    def _distance_from_z(self) -> float:
        return self._distance_at(self._p["z"].raw)

    @property
    def electrons(self) -> ElectronDistribution:
        return self._electrons

    @electrons.setter
    def electrons(self, value: ElectronDistribution) -> None:
        if not isinstance(value, ElectronDistribution):
            raise TypeError("electrons must be an ElectronDistribution, got "
                            f"{type(value).__name__}")
        self._electrons = value

    @property
    def external(self) -> list[ExternalField]:
        """The external fields (a list; assign a field or a sequence of them)."""
        return self._external

    @external.setter
    def external(self, value: ExternalField | Iterable[ExternalField]) -> None:
        fields = [value] if isinstance(value, ExternalField) else value
        try:
            fields = list(fields)
        except TypeError:
            raise TypeError("external must be an external field (CMB, LineField, ...) or a "
                            f"sequence of them, got {value!r}") from None
        for field in fields:
            if not isinstance(field, ExternalField):
                raise TypeError(f"external fields must be ExternalField objects (CMB, "
                                f"LineField, ...), got {field!r}")
        names = [f.name for f in fields if f.name]
        if len(set(names)) != len(names):
            raise ValueError(f"external: field names must differ, got {names}")
        self._external = fields

    @property
    def r(self) -> u.Quantity | None:
        """Distance of the blob from the black hole (None when not given; the
        disk, broad-line region, torus and point source of ``agn`` need it)."""
        return self._p["r"].value if "r" in self._p else None

    @r.setter
    def r(self, value: Any) -> None:
        if value is None:
            self._p.pop("r", None)
        elif "r" in self._p:
            self._p["r"].value = value
        else:
            self._p["r"] = Parameter("r", value, **_SETTINGS["r"])

    @property
    def ebl(self) -> str | None:
        """EBL model whose absorption ``sed`` applies by default (None: none);
        see ``ebl.EBL_MODELS``."""
        return self._ebl

    @ebl.setter
    def ebl(self, value: str | None) -> None:
        self._ebl = None if value is None else ebl_choice(None, value)

    @property
    def n_gamma(self) -> int | None:
        return self._n_gamma

    @n_gamma.setter
    def n_gamma(self, value: Any) -> None:
        self._n_gamma = None if value is None else validation.integer("n_gamma", value, 8, 100_000)

    @property
    def seed_per_decade(self) -> float:
        return self._seed_per_decade

    @seed_per_decade.setter
    def seed_per_decade(self, value: Any) -> None:
        x = validation.real("seed_per_decade", value, finite=False)
        self._seed_per_decade = validation.in_range("seed_per_decade", x, 2.0, 1000.0)

    @property
    def parameters(self) -> Parameters:
        """The blob's parameters, its distribution's ("electrons.<name>") and
        its fields' ("external[i].<name>", or "external.<field name>.<name>"
        for a named field, also reachable by its index)."""
        return blob_parameters(self)

    def sed_depends_on(self, name: str) -> bool:
        """Whether the spectrum depends on the parameter ``name`` now."""
        return self.parameters[name].affects_sed

    # --- checks and the state of one evaluation ----------------------------------
    @staticmethod
    def _check(v: dict[str, float], electrons: ElectronDistribution) -> None:
        electrons.validate()
        gam, d = v["Gamma"], v["doppler"]
        beta = math.sqrt(max(0.0, 1.0 - 1.0 / (gam * gam)))
        dmax = gam * (1.0 + beta)
        if d > dmax * (1.0 + 1e-12) or d < 1.0 / dmax * (1.0 - 1e-12):
            raise ValueError(f"doppler must lie between 1/(Gamma(1+beta)) and Gamma(1+beta) = "
                             f"{dmax:.6g} for Gamma = {gam:.6g}, got {d}")

    def _values(self) -> dict[str, float]:
        """Every own parameter as a plain float, each read once."""
        return {name: p.raw for name, p in self._p.items() if name != "distance"}

    def validate(self) -> None:
        """Raise ValueError naming the parameter if the blob is not usable."""
        if self._p["distance"].derived and self._p["z"].raw <= 0.0:
            raise ValueError("z must be positive unless distance is given")
        self._check(self._values(), self._electrons)

    def state(self) -> BlobState:
        """The plain values one evaluation computes with (see the class docstring)."""
        v = self._values()
        derived_distance = self._p["distance"].derived
        distance = self._p["distance"].raw if not derived_distance else math.nan
        electrons = self._electrons.snapshot()
        external = tuple(f.snapshot() for f in self._external)
        norm, n_gamma, per_decade = self._norm, self._n_gamma, self._seed_per_decade
        if self._p["Gamma"].derived:
            v["Gamma"] = v["doppler"]
        if derived_distance:
            if v["z"] <= 0.0:
                raise ValueError("z must be positive unless distance is given")
            distance = self._distance_at(v["z"])
        self._check(v, electrons)
        points = electrons.default_grid_points if n_gamma is None else n_gamma
        g = electrons.grid(points)
        shape = electrons.shape(g)
        volume = 4.0 / 3.0 * math.pi * v["radius"] ** 3
        with np.errstate(over="ignore", divide="ignore", invalid="ignore"):
            if norm == "energy":
                norm_value = v["energy"] / (k.MEC2 * volume * powerlaw_moment(g, shape, 1.0))
            else:
                norm_value = v["density"] / powerlaw_moment(g, shape, 0.0)
            n = norm_value * shape
        if norm == "density" and v["density"] == 0.0:
            norm_value, n = 1.0, np.zeros_like(shape)
        if not (math.isfinite(norm_value) and norm_value > 0.0 and np.all(np.isfinite(n))):
            raise ValueError(f"electrons: the shape integrates to zero or overflows on "
                             f"[{electrons.gamma_min:.3g}, {electrons.gamma_max:.3g}] "
                             f"(or the {norm} overflows the density)")
        g.flags.writeable = False
        n.flags.writeable = False
        return BlobState(radius=v["radius"], B=v["B"], doppler=v["doppler"], Gamma=v["Gamma"],
                         z=v["z"], distance=distance, g=g, n=n, electrons=electrons,
                         external=external, seed_per_decade=per_decade, r=v.get("r"))

    def _distance_at(self, z: float) -> float:
        cache = self._dl_cache
        if cache is None or cache[0] != z:
            from astropy.cosmology import Planck18
            cache = (z, float(Planck18.luminosity_distance(z).to_value(u.cm)) if z > 0 else 0.0)
            self._dl_cache = cache
        return cache[1]

    @property
    def viewing_angle(self) -> u.Quantity:
        """Angle θ between the motion and the line of sight, from Γ and δ_D."""
        gam, d = self._p["Gamma"].raw, self._p["doppler"].raw
        beta = math.sqrt(max(0.0, 1.0 - 1.0 / (gam * gam)))
        if beta == 0.0:
            return 90.0 * u.deg
        mu = (1.0 - 1.0 / (gam * d)) / beta
        return math.degrees(math.acos(min(1.0, max(-1.0, mu)))) * u.deg

    def electron_distribution(self) -> tuple[Array, u.Quantity]:
        """(γ', n'(γ') [cm⁻³]) on the grid the model computes with."""
        s = self.state()
        return s.g.copy(), s.n * u.cm**-3

    # --- the computation -----------------------------------------------------
    def seed_field(self, kernels: str = "accurate", ssa: bool = True) -> tuple[u.Quantity, u.Quantity]:
        """The blob-frame synchrotron field the electrons scatter (SSC).

        Returns (ν' [Hz], u'_ν' [erg cm⁻³ Hz⁻¹]), the sphere-averaged spectral
        energy density (see ``sphere``).
        """
        s = self.state()
        seed, u_seed, *_ = synchrotron_field(s, _backends.get(kernels), ssa, np.empty(0))
        return seed * u.Hz, u_seed * u.erg / u.cm**3 / u.Hz

    @staticmethod
    def _frequencies(nu: Any) -> tuple[Array, npt.NDArray[np.intp]]:
        """The distinct frequencies [Hz] in increasing order (what the kernels
        take) and the indices that give back the caller's order."""
        arr = validation.frequencies("nu", nu, one_d=True)
        distinct, back = np.unique(arr, return_inverse=True)
        return distinct, back

    def _evaluate(self, nu: Any, kernels: str, ssa: bool, gamma_gamma: bool | None,
                  want: tuple[str, ...], ebl: bool | str | None = None
                  ) -> tuple[dict[str, Array], npt.NDArray[np.intp]]:
        x, back = self._frequencies(nu)
        K = _backends.get(kernels)
        gg = _backends.gamma_gamma_wanted(K, kernels, gamma_gamma)
        state = self.state()
        return observed_components(state, x, K, ssa, gg, want, ebl_choice(self._ebl, ebl)), back

    def sed(self, nu: Any, component: str = "total", kernels: str = "accurate",
            ssa: bool = True, gamma_gamma: bool | None = None,
            ebl: bool | str | None = None) -> u.Quantity:
        """Observed ν F_ν [erg cm⁻² s⁻¹] at observed frequencies ``nu``.

        nu : Quantity [Hz] (or energies/wavelengths, by the spectral
            equivalency), or plain numbers in Hz; any order.
        component : "total", "synchrotron", "ssc" or "ec".
        kernels : "accurate" (ostrel_models.kernels) or "classic" (ostrel).
        ssa : synchrotron self-absorption through the sphere (also in the
            seed field of the self-Compton scattering).
        gamma_gamma : internal γγ absorption on the synchrotron field; by
            default on with the accurate kernels.  The classic kernels have no
            γγ opacity: with them True is refused and the default leaves it
            out (with a warning, once per process).  With it, the γ-rays
            are also absorbed on the external fields of ``agn`` on their way
            out (from r to infinity).
        ebl : None (the blob's ``ebl`` model, if any), False (no EBL
            absorption: the intrinsic flux), True (the blob's model) or the
            name of a model.

        Besides "total" and the three main components, ``component`` may be
        "disk" (the accretion disk's own emission), a field's share of the
        external Compton emission ("ec_blr", "ec_dt", "ec_disk", "ec_ps",
        "ec_cmb", "ec_line", or "ec_<name>" for a named field), or any of
        these followed by "_intrinsic": before absorption on the external
        fields and by the EBL (see ``seds``).
        """
        parts, back = self._evaluate(nu, kernels, ssa, gamma_gamma, COMPONENTS, ebl)
        if component not in parts:
            raise ValueError(f"component must be one of {sorted(parts)}, got {component!r}")
        return np.asarray(parts[component])[back] * NUFNU_UNIT

    def seds(self, nu: Any, kernels: str = "accurate", ssa: bool = True,
             gamma_gamma: bool | None = None,
             ebl: bool | str | None = None) -> dict[str, u.Quantity]:
        """All components and their total from one computation, as ``sed``:
        "synchrotron", "ssc", "ec", each field's "ec_<label>", "disk" when a
        field shines itself, "total", and, when the external fields or the EBL
        absorb, the same names with "_intrinsic" (before that absorption)."""
        parts, back = self._evaluate(nu, kernels, ssa, gamma_gamma, COMPONENTS, ebl)
        return {name: v[back] * NUFNU_UNIT for name, v in parts.items()}

    def electron_losses(self, kernels: str = "accurate", ssa: bool = True) -> dict[str, u.Quantity]:
        """Power the electrons lose [erg s⁻¹], blob frame, whole blob.

        m_e c² V ∫ n'(γ) |dγ/dt| dγ for synchrotron and for Compton
        scattering of the blob's own field (exact Klein-Nishina losses of the
        kernels); the integral uses the grid's power-law segments.
        """
        K = _backends.get(kernels)
        s = self.state()
        seed, u_seed, *_ = synchrotron_field(s, K, ssa, np.empty(0))
        syn = np.asarray(K.synchrotron_cooling(s.g, s.B))
        ssc = np.asarray(K.compton_cooling(s.g, seed, u_seed))
        out = {"synchrotron": k.MEC2 * s.volume * powerlaw_moment(s.g, s.n * syn, 0.0) * u.erg / u.s,
               "ssc": k.MEC2 * s.volume * powerlaw_moment(s.g, s.n * ssc, 0.0) * u.erg / u.s}
        if s.external:
            ec = ec_losses(s, K, field_labels(s.external))
            out.update({name: v * u.erg / u.s for name, v in ec.items()})
            out["ec"] = sum(ec.values()) * u.erg / u.s
        return out

    # --- copies, saving, display -----------------------------------------------
    def copy(self) -> Blob:
        """An independent copy (the electrons and external fields included)."""
        return copy.deepcopy(self)

    def to_dict(self) -> dict[str, Any]:
        """Everything needed to rebuild the blob, in plain types (see ``io``)."""
        from .io import blob_to_dict
        return blob_to_dict(self)

    @classmethod
    def from_dict(cls, d: dict[str, Any]) -> Blob:
        """The blob ``to_dict`` describes; its SED is bit-identical."""
        from .io import blob_from_dict
        return blob_from_dict(cls, d)

    def __repr__(self) -> str:
        return blob_repr(self)
