"""Numerical kernels for time-dependent radiative models of relativistic electrons."""

from collections.abc import Iterator
from typing import Protocol, SupportsFloat, SupportsIndex, overload

__all__ = [
    "get_c",
    "gofb",
    "bofg",
    "eq_59_park1995",
    "fp_findif_difu",
    "syn_emissivity_full",
    "rad_trans_blob",
    "ic_iso_powlaw_full",
    "rad_cool_pwl",
    "rad_cool_mono",
    "ic_iso_monochrome_full",
    "rad_trans_slab",
]

_Float = SupportsFloat | SupportsIndex

class _Vector(Protocol):
    """A sequence of numbers: list, tuple, range, array.array, a NumPy array...

    Anything indexable whose iteration yields numbers is read as a vector
    (str excepted, which no stub can rule out but the call rejects).
    """

    def __getitem__(self, index: int, /) -> object: ...
    def __iter__(self) -> Iterator[_Float]: ...

def get_c() -> float:
    """Speed of light in cm/s."""

# The vector forms come first: a NumPy array also has __float__, but one
# with a dimension converts as a vector (a 0-d array gives a float).
@overload
def gofb(arg: _Vector) -> list[float]: ...
@overload
def gofb(arg: _Float) -> float: ...
@overload
def bofg(arg: _Vector) -> list[float]: ...
@overload
def bofg(arg: _Float) -> float: ...
def eq_59_park1995(t: _Float, g: _Vector) -> list[float]: ...
def fp_findif_difu(
    dt_in: _Float,
    gamma_bins: _Vector,
    nin: _Vector,
    gdot_in: _Vector,
    din: _Vector,
    qin: _Vector,
    tesc_in: _Float,
    tlc: _Float,
    check_params: bool | None = None,
) -> list[float]: ...
def syn_emissivity_full(
    freqs: _Vector,
    gamma_bins: _Vector,
    n_distrib: _Vector,
    b_field: _Float,
    with_abs: bool,
) -> tuple[list[float], list[float]]: ...
def rad_trans_blob(blob_radius: _Float, j_nu: _Vector, a_nu: _Vector) -> list[float]: ...
def rad_trans_slab(blob_radius: _Float, j_nu: _Vector, a_nu: _Vector) -> list[float]: ...
def ic_iso_powlaw_full(freqs: _Vector, inu: _Vector, g: _Vector, n: _Vector) -> list[float]: ...
def ic_iso_monochrome_full(
    freqs: _Vector, uext: _Float, nuext: _Float, n: _Vector, g: _Vector
) -> list[float]: ...
def rad_cool_pwl(gg: _Vector, freqs: _Vector, uu: _Vector, with_kn: bool) -> list[float]: ...
def rad_cool_mono(gg: _Vector, nu0: _Float, u0: _Float, with_kn: bool) -> list[float]: ...
