"""Stubs of the extension behind ostrel_models.kernels (arguments already
converted to contiguous 1-D float64 arrays there)."""

import numpy as np
import numpy.typing as npt

_Array = npt.NDArray[np.float64]

def synchrotron(nu: _Array, gamma: _Array, n: _Array, B: float) -> tuple[_Array, _Array]: ...
def synchrotron_cooling(gamma: _Array, B: float) -> _Array: ...
def gamma_gamma_opacity(nu: _Array, seed_nu: _Array, seed_u: _Array) -> _Array: ...
