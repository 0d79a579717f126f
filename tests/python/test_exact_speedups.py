"""The module's synchrotron, inverse-Compton and cooling kernels against the
literal reference, bit for bit, on generated inputs.

The reference is the shared library that the speed-up benchmark builds
(build/bench; `make test` and `make bench` build it); without it these tests
are skipped.  The C++ suite makes the same comparison on its own generated
inputs; this one also takes the module's conversions and worker threads.
"""

import importlib.util
import math
import struct
from pathlib import Path

import pytest
from hypothesis import given, settings, strategies as st

import ostrel

_BENCH = Path(__file__).resolve().parents[2] / "benchmarks" / "bench_speedups.py"
_spec = importlib.util.spec_from_file_location("bench_speedups", _BENCH)
bench = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(bench)

if not bench.LIBRARY.exists():
    pytest.skip("literal reference not built (make reference builds it)", allow_module_level=True)

REF = bench.Reference(bench.LIBRARY)


def same(got, want):
    """Equal bits, two NaNs counting as equal (the sign of a NaN made from two
    NaN operands is up to the compiler's operand order)."""
    if len(got) != len(want):
        return False
    for x, y in zip(got, want):
        if math.isnan(x) and math.isnan(y):
            continue
        if struct.pack("d", x) != struct.pack("d", y):
            return False
    return True


def compare(kernel, reference, *args):
    try:
        want = ("ok", reference(*args))
    except RuntimeError as error:
        want = ("error", str(error))
    try:
        got = ("ok", kernel(*args))
    except BaseException as error:  # PanicException derives from BaseException
        got = ("error", str(error))
    assert got[0] == want[0], (got, want)
    if got[0] == "ok":
        assert same(got[1], want[1]), (got, want)
    else:
        assert got[1] == want[1]


def grid(lo, span, n):
    step = span / (n - 1) if n > 1 else 0.0
    return [10.0 ** (lo + k * step) for k in range(n)]


@st.composite
def spectra(draw, xs, floor):
    """A x^-p exp(-x/cutoff) on xs with zeros, floor values and drops mixed in."""
    scale = 10.0 ** draw(st.floats(-12, 6))
    p = draw(st.floats(-3, 6))
    cutoff = (xs[-1] if xs else 1.0) * 10.0 ** draw(st.floats(-3, 1))
    out = []
    for x in xs:
        kind = draw(st.sampled_from(["law"] * 8 + ["zero", "floor", "drop", "flat"]))
        y = scale * x**-p * math.exp(-x / cutoff)
        if kind == "zero":
            y = 0.0
        elif kind == "floor":
            y = floor
        elif kind == "drop":
            y *= 1e-30
        elif kind == "flat" and out:
            y = out[-1]
        out.append(y)
    return out


@st.composite
def grids(draw, lo, hi, max_points):
    n = draw(st.integers(1, max_points))
    g = grid(draw(st.floats(lo, hi)), draw(st.floats(0.01, 7.0)), n)
    if n >= 3 and draw(st.booleans()):
        k = draw(st.integers(1, n - 1))
        g[k] = g[k - 1]
    return g


@settings(max_examples=40, deadline=None)
@given(data=st.data())
def test_synchrotron(data):
    gamma = data.draw(grids(0.0, 3.0, 12))
    n = data.draw(spectra(gamma, 1e-100))
    freqs = data.draw(st.lists(st.floats(5.0, 30.0).map(lambda e: 10.0**e), min_size=1, max_size=4))
    b = 10.0 ** data.draw(st.floats(-6, 6))
    with_abs = data.draw(st.booleans())
    compare(lambda *a: [v for part in ostrel.syn_emissivity_full(*a) for v in part], REF.syn,
            freqs, gamma, n, b, with_abs)


@settings(max_examples=60, deadline=None)
@given(data=st.data())
def test_inverse_compton(data):
    freqs = data.draw(grids(6.0, 16.0, 25))
    inu = data.draw(spectra(freqs, 1e-200))
    g = data.draw(grids(0.0, 3.0, 25))
    n = data.draw(spectra(g, 1e-200))
    compare(ostrel.ic_iso_powlaw_full, REF.ssc, freqs, inu, g, n)


@settings(max_examples=60, deadline=None)
@given(data=st.data())
def test_cooling(data):
    gg = data.draw(grids(0.0, 3.0, 20))
    freqs = data.draw(grids(6.0, 18.0, 25))
    uu = data.draw(spectra(freqs, 1e-100 / 2.6e-17))
    compare(ostrel.rad_cool_pwl, REF.cool, gg, freqs, uu, data.draw(st.booleans()))
