"""Vectors read through the buffer protocol equal those read item by item.

rad_trans_slab(1.0, v, zeros) gives back v[k] * 1.0 for every k, which keeps
every bit of a finite value, an infinity, a signed zero, a subnormal and a
quiet NaN's payload, so it shows the vector a conversion produced.  Each
object is compared with the same object behind a wrapper whose only way in is
iteration, i.e. the general conversion path.
"""

from __future__ import annotations

import array
import math
import struct

import pytest

import ostrel

try:
    import numpy as np
except ImportError:  # the array.array and memoryview cases still run
    np = None

needs_numpy = pytest.mark.skipif(np is None, reason="numpy is not importable")


class Iterated:
    """A sequence that is read only by iterating the object it wraps."""

    def __init__(self, obj):
        self.obj = obj

    def __len__(self):
        return len(self.obj)

    def __getitem__(self, i):
        return self.obj[i]

    def __iter__(self):
        return iter(self.obj)


def echo(v):
    """The vector that conversion makes of v, as exact bits (or the error)."""
    try:
        out = ostrel.rad_trans_slab(1.0, v, [0.0] * 64)
    except BaseException as error:  # PanicException included
        return type(error), error.args
    return struct.pack(f"<{len(out)}d", *out)


def assert_same_as_iterated(v):
    assert echo(v) == echo(Iterated(v))


def from_bits(*patterns):
    return [struct.unpack("<d", struct.pack("<Q", p))[0] for p in patterns]


class Float(float):
    pass


# NaNs with payloads and both signs, signed zeros and infinities, the
# smallest and largest subnormals, the extreme normals, ordinary values.
SPECIAL = from_bits(0x7FF8000000000001, 0xFFF8DEADBEEF0000, 0x7FFC000000000000) + [
    0.0, -0.0, math.inf, -math.inf, 5e-324, -5e-324, 2.225073858507201e-308,
    2.2250738585072014e-308, 1.7976931348623157e308, 1.0, -3.5, 1e-300,
]


def test_array_of_doubles_keeps_every_bit():
    values = array.array("d", SPECIAL)
    expected = struct.pack(f"<{len(SPECIAL)}d", *SPECIAL)
    assert echo(values) == expected
    assert echo(memoryview(values)) == expected
    assert echo(memoryview(values)[::-3]) == echo(Iterated(memoryview(values)[::-3]))
    assert echo(SPECIAL) == expected  # the exact-list path
    assert echo(tuple(SPECIAL)) == expected


def test_lists_of_float_subclasses_and_numbers_match_iteration():
    mixed = [Float(2.5), 3, True, Float("nan"), -0.0, 10**300]
    assert_same_as_iterated(mixed)
    assert_same_as_iterated(tuple(mixed))


def test_byte_buffers_take_the_general_path():
    # bytes, bytearray and their memoryviews export unsigned bytes: each item
    # is an int, converted to a float
    for v in (b"\x01\xff", bytearray(b"\x01\xff"), memoryview(b"\x01\xff")):
        assert echo(v) == struct.pack("<2d", 1.0, 255.0)
    # the same eight bytes seen as one double only through a 'd' view
    raw = struct.pack("<d", 1.5)
    assert echo(memoryview(raw).cast("d")) == raw


def test_other_array_types_take_the_general_path():
    for code in "fiqbB":
        assert_same_as_iterated(array.array(code, [1, 2, 3]))
    assert echo(array.array("f", [0.1])) == struct.pack("<d", float(array.array("f", [0.1])[0]))


def test_python_level_overrides_are_honoured():
    class Doubling(array.array):
        def __iter__(self):
            return (2.0 * x for x in super().__iter__())

    assert echo(Doubling("d", [1.0, 2.0])) == struct.pack("<2d", 2.0, 4.0)

    class Plain(array.array):
        pass

    assert echo(Plain("d", [1.0, 2.0])) == struct.pack("<2d", 1.0, 2.0)


def test_buffers_are_released():
    # A resizable exporter refuses to resize while a buffer is held.
    for code in "dfB":
        values = array.array(code, [1, 2])
        echo(values)
        values.append(3)
    grown = bytearray(b"\x01")
    echo(grown)
    grown.append(2)


def test_multidimensional_memoryview_keeps_the_general_path_error():
    grid = memoryview(array.array("d", [1.0, 2.0, 3.0, 4.0])).cast("B").cast("d", (2, 2))
    assert_same_as_iterated(grid)
    with pytest.raises(NotImplementedError):
        ostrel.rad_trans_slab(1.0, grid, [0.0] * 4)


@needs_numpy
def test_numpy_float64_layouts():
    base = np.array(SPECIAL * 3)
    expected = echo(list(base))
    assert echo(base) == expected
    assert echo(np.asfortranarray(base)) == expected
    assert echo(memoryview(base)) == expected
    assert echo(base.astype(">f8")) == expected  # byte-swapped: iterated
    views = [
        base[::2],
        base[::-1],
        base[5:1:-2],
        np.broadcast_to(np.float64(-0.0), (7,)),  # stride 0
        np.array([[1.0, 2.0], [3.0, 4.0]])[:, 1],  # column of a C array
        np.frombuffer(bytes(1) + base.tobytes(), dtype="<f8", offset=1),  # misaligned
        np.array([], dtype=np.float64),
        np.empty((0,), dtype=np.float64)[::-1],
    ]
    for view in views:
        assert echo(view) == echo(list(view)) == echo(Iterated(view))


@needs_numpy
def test_numpy_other_dtypes_and_shapes_take_the_general_path():
    cases = [
        np.array([0.1, -0.0, np.nan], dtype=np.float32),
        np.array([1, -2, 2**62], dtype=np.int64),
        np.array([True, False]),
        np.array([1.5, 2, Float(3.5)], dtype=object),
        np.array([1.0, 2.0], dtype=np.longdouble),
        np.array(2.0),  # 0-d: its iteration fails
        np.ones((2, 3)),  # 2-D: rows are not floats
        np.ones((1, 1)),  # a 1x1 row does not convert either
    ]
    for case in cases:
        assert_same_as_iterated(case)
    with pytest.raises(TypeError, match=r"^argument 'j_nu': "):
        ostrel.rad_trans_slab(1.0, np.ones((2, 3)), [0.0] * 2)


@needs_numpy
def test_masked_array_follows_its_own_item_access():
    masked = np.ma.masked_array([1.0, 2.0, 3.0], mask=[False, True, False])
    with pytest.warns(UserWarning):  # float(masked) warns and gives NaN
        out = echo(masked)
        assert out == echo(Iterated(masked))
    assert math.isnan(struct.unpack("<3d", out)[1])  # not the raw 2.0 underneath


@needs_numpy
def test_numpy_arrays_in_every_vector_argument():
    gamma = np.geomspace(2.0, 1e4, 24)
    n_e = 1e-3 * gamma**-2.2
    freqs = np.geomspace(1e8, 1e19, 12)
    as_lists = ostrel.syn_emissivity_full(list(freqs), list(gamma), list(n_e), 0.1, True)
    assert ostrel.syn_emissivity_full(freqs, gamma, n_e, 0.1, True) == as_lists
    assert ostrel.bofg(gamma) == ostrel.bofg(list(gamma))
