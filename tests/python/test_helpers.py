"""The speed of light and the Lorentz-factor helpers gofb and bofg."""

import math

import pytest
from hypothesis import given, strategies as st

import ostrel

INF, NAN = math.inf, math.nan


def lorentz_factor(beta):
    """1 / sqrt(1 - beta^2) in the same order of operations, NaN past |beta| = 1."""
    x = 1.0 - beta * beta
    if math.isnan(x) or x < 0.0:
        return NAN
    return INF if x == 0.0 else 1.0 / math.sqrt(x)


def speed(gamma):
    return 0.0 if gamma <= 1.0 else math.sqrt(1.0 - 1.0 / (gamma * gamma))


def same(a, b):
    return a == b or (math.isnan(a) and math.isnan(b))


def test_speed_of_light():
    c = ostrel.get_c()
    assert type(c) is float and c == 29979245800.0


class TestLorentzFactor:
    @pytest.mark.parametrize("beta, expected", [
        (0.0, 1.0), (0.6, lorentz_factor(0.6)), (-0.6, lorentz_factor(0.6)),
        (1.0, INF), (-1.0, INF), (1.5, NAN), (-2.0, NAN), (NAN, NAN), (INF, NAN),
    ])
    def test_values(self, beta, expected):
        assert same(ostrel.gofb(beta), expected)

    def test_integers_and_bools_are_floats(self):
        assert ostrel.gofb(1) == INF and type(ostrel.gofb(1)) is float
        assert ostrel.gofb(True) == INF and type(ostrel.gofb(True)) is float
        assert ostrel.gofb(0) == 1.0


class TestSpeed:
    @pytest.mark.parametrize("gamma, expected", [
        (1.0, 0.0), (0.5, 0.0), (-3.0, 0.0), (-INF, 0.0), (1.25, speed(1.25)),
        (INF, 1.0), (NAN, NAN),
    ])
    def test_values(self, gamma, expected):
        assert same(ostrel.bofg(gamma), expected)


def test_textbook_values():
    assert ostrel.gofb(0.6) == pytest.approx(1.25, rel=1e-15)
    assert ostrel.gofb(0.8) == pytest.approx(5.0 / 3.0, rel=1e-15)
    assert ostrel.bofg(1.25) == pytest.approx(0.6, rel=1e-15)


class TestFloatOrVector:
    def test_sequences_give_lists_element_by_element(self):
        assert ostrel.gofb([0.0, 0.6]) == [1.0, ostrel.gofb(0.6)]
        assert ostrel.gofb((0.1, 0.2)) == [ostrel.gofb(0.1), ostrel.gofb(0.2)]
        assert ostrel.bofg(range(1, 3)) == [0.0, ostrel.bofg(2.0)]
        assert ostrel.bofg([]) == []
        assert ostrel.gofb(()) == []

    def test_an_object_that_is_a_float_gives_a_float(self):
        class Both:
            def __float__(self):
                return 0.6

            def __getitem__(self, i):
                return [0.1, 0.2][i]

        assert ostrel.gofb(Both()) == ostrel.gofb(0.6)

    @pytest.mark.parametrize("arg", [
        "0.5", [0.1, "a"], None, {0.5: 1}, {0.5}, 10**400, [10**400],
    ], ids=repr)
    def test_neither_float_nor_vector(self, arg):
        with pytest.raises(TypeError) as info:
            ostrel.bofg(arg)
        assert type(info.value) is TypeError
        assert str(info.value) == "Argument must be a float or a list of floats."
        assert info.value.__cause__ is None

    def test_array(self):
        np = pytest.importorskip("numpy")
        assert ostrel.gofb(np.array([0.0, 0.6])) == [1.0, ostrel.gofb(0.6)]
        assert type(ostrel.gofb(np.float64(0.6))) is float


@given(st.lists(st.floats(allow_nan=True, allow_infinity=True), max_size=20))
def test_lists_apply_the_formulas_bit_for_bit(values):
    gammas = ostrel.gofb(values)
    betas = ostrel.bofg(values)
    assert len(gammas) == len(betas) == len(values)
    for x, g, b in zip(values, gammas, betas):
        assert same(g, lorentz_factor(x)) and same(g, ostrel.gofb(x))
        assert same(b, speed(x)) and same(b, ostrel.bofg(x))
