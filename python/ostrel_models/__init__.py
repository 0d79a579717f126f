"""Accurate radiation kernels and observer-frame emission models of relativistic electrons.

``ostrel_models.kernels`` holds the accurate radiation kernels (cgs, NumPy).
On top of them: electron distributions, a relativistically moving blob whose
spectral energy distribution is computed in the observer frame with astropy
units, the SEDs of two blazars shipped as package data, and a least-squares
fit of the blob to a measured SED.

    >>> import numpy as np, astropy.units as u
    >>> from ostrel_models import Blob, BrokenPowerLaw, read_sed, fit_sed
    >>> electrons = BrokenPowerLaw(p1=2.2, p2=4.5, gamma_b=3e5, gamma_min=800, gamma_max=1e8)
    >>> blob = Blob(radius=5e16 * u.cm, B=0.04 * u.G, doppler=21, z=0.03,
    ...             electrons=electrons, energy=1e47 * u.erg)
    >>> blob.sed(np.logspace(8, 28, 200) * u.Hz)          # doctest: +SKIP
"""

from ._version import __version__
from ._backends import available_kernels
from .blob import Blob
from .fields import CMB, ExternalField, IsotropicField, LineField
from .agn import PointSourceBehindJet, RingDustTorus, ShakuraSunyaevDisk, SphericalShellBLR
from .ebl import EBL_MODELS, ebl_opacity
from .io import load_model, save_model
from .parameters import Parameter, Parameters
from .data import available_seds, read_sed
from .distributions import (BrokenPowerLaw, ElectronDistribution, ExpCutoffPowerLaw,
                            LogParabola, PowerLaw, Tabulated)
from .evolution import Evolution, evolve
from .fitting import DEFAULT_SYSTEMATICS, FitResult, fit_sed
from .injection import Injection
from .likelihood import log_likelihood
from .sampling import SampleResult, sample_sed

__all__ = [
    "__version__",
    "Blob", "CMB", "LineField", "ExternalField", "IsotropicField",
    "ShakuraSunyaevDisk", "SphericalShellBLR", "RingDustTorus", "PointSourceBehindJet",
    "ebl_opacity", "EBL_MODELS",
    "Parameter", "Parameters", "save_model", "load_model",
    "ElectronDistribution", "PowerLaw", "BrokenPowerLaw", "LogParabola", "ExpCutoffPowerLaw",
    "Tabulated",
    "read_sed", "available_seds",
    "fit_sed", "FitResult", "DEFAULT_SYSTEMATICS",
    "log_likelihood", "sample_sed", "SampleResult",
    "available_kernels",
    "Injection", "evolve", "Evolution",
]
