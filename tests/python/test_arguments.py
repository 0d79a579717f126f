"""Binding of call arguments to parameters and their conversion to floats,
vectors and flags.

rad_trans_slab(1.0, v, zeros) returns v itself (a thin slab of unit
thickness), which makes it a window onto what a vector or a float argument
was converted to.
"""

import math
import sys

import pytest

import ostrel
from conftest import FP_CHECK, VALID_CALLS, stub_declarations


def as_vector(obj):
    """The vector that the module makes of obj, as a list."""
    return ostrel.rad_trans_slab(1.0, obj, [0.0] * 64)


def as_float(obj):
    return ostrel.rad_trans_slab(obj, [1.0], [0.0])[0]


def raises_type_error(message, function, *args, **kwargs):
    with pytest.raises(TypeError) as info:
        function(*args, **kwargs)
    assert type(info.value) is TypeError
    assert str(info.value) == message
    return info.value


FP_ARGS = VALID_CALLS["fp_findif_difu"][:8]


class TestBinding:
    @pytest.mark.parametrize("call, message", [
        (lambda: ostrel.gofb(1, 2), "gofb() takes 1 positional arguments but 2 were given"),
        (lambda: ostrel.rad_trans_blob(1, 2, 3, 4),
         "rad_trans_blob() takes 3 positional arguments but 4 were given"),
        (lambda: ostrel.fp_findif_difu(*range(10)),
         "fp_findif_difu() takes from 8 to 9 positional arguments but 10 were given"),
        # Too many positionals is reported before any keyword problem.
        (lambda: ostrel.gofb(1, 2, x=3), "gofb() takes 1 positional arguments but 2 were given"),
    ])
    def test_too_many_positional_arguments(self, call, message):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message

    def test_keyword_errors_in_the_order_given(self):
        raises_type_error("gofb() got multiple values for argument 'arg'", ostrel.gofb, 1.0,
                          arg=2.0)
        raises_type_error("gofb() got an unexpected keyword argument 'x'", ostrel.gofb, x=1.0)
        raises_type_error("gofb() got an unexpected keyword argument 'x'", ostrel.gofb, 1.0,
                          x=1, arg=2)
        raises_type_error("gofb() got multiple values for argument 'arg'", ostrel.gofb, 1.0,
                          arg=2, x=1)
        # A keyword problem comes before missing arguments.
        raises_type_error("rad_trans_blob() got an unexpected keyword argument 'radius'",
                          ostrel.rad_trans_blob, radius=1.0)

    def test_keyword_names_are_matched_exactly(self):
        for key in ("Arg", "arg\0", "ar", "\udcff"):
            with pytest.raises(TypeError, match="unexpected keyword argument"):
                ostrel.gofb(**{key: 1.0})

    @pytest.mark.parametrize("call, message", [
        (lambda: ostrel.rad_trans_blob(1.0, [1.0]),
         "rad_trans_blob() missing 1 required positional argument: 'a_nu'"),
        (lambda: ostrel.rad_trans_blob(1.0),
         "rad_trans_blob() missing 2 required positional arguments: 'j_nu' and 'a_nu'"),
        (lambda: ostrel.rad_trans_blob(),
         "rad_trans_blob() missing 3 required positional arguments: 'blob_radius', 'j_nu', "
         "and 'a_nu'"),
        (lambda: ostrel.fp_findif_difu(1.0, [1.0], gdot_in=[1.0], tesc_in=1.0, tlc=1.0),
         "fp_findif_difu() missing 3 required positional arguments: 'nin', 'din', and 'qin'"),
        (lambda: ostrel.rad_trans_blob(j_nu=[1.0]),
         "rad_trans_blob() missing 2 required positional arguments: 'blob_radius' and 'a_nu'"),
        (lambda: ostrel.ic_iso_powlaw_full([1.0], g=[1.0]),
         "ic_iso_powlaw_full() missing 2 required positional arguments: 'inu' and 'n'"),
        (lambda: ostrel.fp_findif_difu(),
         "fp_findif_difu() missing 8 required positional arguments: 'dt_in', 'gamma_bins', "
         "'nin', 'gdot_in', 'din', 'qin', 'tesc_in', and 'tlc'"),
        (lambda: ostrel.fp_findif_difu(1.0, [1.0], gdot_in=[1.0], tlc=1.0, check_params=True),
         "fp_findif_difu() missing 4 required positional arguments: 'nin', 'din', 'qin', "
         "and 'tesc_in'"),
        (lambda: ostrel.fp_findif_difu(1.0, [1.0], [1.0], [1.0], din=[1.0], tesc_in=1.0),
         "fp_findif_difu() missing 2 required positional arguments: 'qin' and 'tlc'"),
        (lambda: ostrel.syn_emissivity_full(b_field=1.0, freqs=[1.0], with_abs=True),
         "syn_emissivity_full() missing 2 required positional arguments: 'gamma_bins' "
         "and 'n_distrib'"),
        (lambda: ostrel.gofb(), "gofb() missing 1 required positional argument: 'arg'"),
    ])
    def test_missing_arguments(self, call, message):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message

    def test_binding_comes_before_conversion(self):
        raises_type_error("rad_trans_blob() missing 1 required positional argument: 'a_nu'",
                          ostrel.rad_trans_blob, "x", "y")


class TestConversionOrder:
    def test_first_bad_argument_in_parameter_order_is_reported(self):
        raises_type_error("argument 't': must be real number, not str",
                          ostrel.eq_59_park1995, "x", "abc")
        raises_type_error("argument 'g': Can't extract `str` to `Vec`",
                          ostrel.eq_59_park1995, 1.0, "abc")
        raises_type_error("argument 'n': Can't extract `str` to `Vec`",
                          ostrel.ic_iso_monochrome_full, [1.0], 1.0, 2.0, "n", [1.0])
        raises_type_error("argument 'freqs': Can't extract `str` to `Vec`",
                          ostrel.ic_iso_monochrome_full, "f", 1.0, 2.0, "n", [1.0])
        # Keyword order does not change which parameter is converted first.
        raises_type_error("argument 'freqs': Can't extract `str` to `Vec`",
                          ostrel.ic_iso_monochrome_full, n="n", g=[1.0], nuext=2.0, uext=1.0,
                          freqs="f")

    @pytest.mark.parametrize("name, position, param, kind", [
        (name, position, param, kind)
        for name, declared in stub_declarations()[1].items() if name in VALID_CALLS
        for position, (param, kind, _) in enumerate(declared) if kind != "float_or_vector"
    ])
    def test_each_parameter_has_its_kind_and_name(self, name, position, param, kind):
        args = list(VALID_CALLS[name])
        args[position] = "x"
        message = {"float": "must be real number, not str",
                   "vector": "Can't extract `str` to `Vec`",
                   "flag": "'str' object cannot be converted to 'PyBool'",
                   "optional_flag": "'str' object cannot be converted to 'PyBool'"}[kind]
        raises_type_error(f"argument '{param}': {message}", getattr(ostrel, name), *args)


class TestFloat:
    def test_accepted_kinds(self):
        class WithFloat:
            def __float__(self):
                return 2.5

        class WithIndex:
            def __index__(self):
                return 7

        class FloatSubclass(float):
            def __float__(self):  # the stored value wins for float subclasses
                return 0.0

        assert as_float(3) == 3.0
        assert as_float(True) == 1.0
        assert as_float(WithFloat()) == 2.5
        assert as_float(WithIndex()) == 7.0
        assert as_float(FloatSubclass(1.5)) == 1.5
        assert as_float(2**53 + 1) == float(2**53 + 1)
        assert math.isnan(as_float(math.nan))

    def test_interpreter_message_is_prefixed_with_the_argument_name(self):
        with pytest.raises(TypeError) as info:
            ostrel.rad_trans_blob("x", [1.0], [1.0])
        assert str(info.value).startswith("argument 'blob_radius': ")
        assert str(info.value) == "argument 'blob_radius': must be real number, not str"

    def test_errors_other_than_type_error_pass_unchanged(self):
        class Failing:
            def __float__(self):
                raise ValueError("no value")

        class TypeErrorSubclass(TypeError):
            pass

        class FailingWithSubclass:
            def __float__(self):
                raise TypeErrorSubclass("own type")

        with pytest.raises(OverflowError, match="^int too large to convert to float$"):
            as_float(10**400)
        with pytest.raises(ValueError, match="^no value$"):
            as_float(Failing())
        with pytest.raises(TypeErrorSubclass, match="^own type$"):
            as_float(FailingWithSubclass())

    def test_prefixed_error_keeps_the_cause(self):
        root = KeyError("root")

        class Failing:
            def __float__(self):
                raise TypeError("bad float") from root

        error = raises_type_error("argument 'blob_radius': bad float", ostrel.rad_trans_slab,
                                  Failing(), [1.0], [0.0])
        assert error.__cause__ is root
        assert error.__suppress_context__


class TestVector:
    def test_sequences_of_numbers(self):
        assert as_vector([1.0, 2]) == [1.0, 2.0]
        assert as_vector((1.0, 2)) == [1.0, 2.0]
        assert as_vector(range(3)) == [0.0, 1.0, 2.0]
        assert as_vector([True, False]) == [1.0, 0.0]
        assert as_vector(b"\x01\x02") == [1.0, 2.0]
        assert as_vector([]) == []
        assert as_vector(()) == []

    def test_array_of_doubles(self):
        np = pytest.importorskip("numpy")
        values = np.array([0.5, 1e-300, -2.0])
        assert as_vector(values) == [0.5, 1e-300, -2.0]
        assert as_vector(values[::-1]) == [-2.0, 1e-300, 0.5]
        assert as_vector(np.arange(3, dtype=np.int32)) == [0.0, 1.0, 2.0]

    def test_strings_are_rejected(self):
        class Text(str):
            pass

        for text in ("ab", "", Text("12")):
            raises_type_error("argument 'j_nu': Can't extract `str` to `Vec`",
                              ostrel.rad_trans_slab, 1.0, text, [0.0])

    def test_non_sequences_are_rejected_with_the_type_name(self):
        class Outer:
            class Inner:
                pass

        def generator():
            yield 1.0

        cases = [(5, "int"), (1.5, "float"), (None, "NoneType"), ({1: 2}, "dict"),
                 ({1.0}, "set"), (generator(), "generator"), (iter([1.0]), "list_iterator"),
                 (Outer.Inner(), Outer.Inner.__qualname__)]
        for obj, name in cases:
            raises_type_error(
                f"argument 'j_nu': '{name}' object cannot be converted to 'Sequence'",
                ostrel.rad_trans_slab, 1.0, obj, [0.0])
        assert Outer.Inner.__qualname__.endswith("<locals>.Outer.Inner")

    def test_bad_item_message(self):
        raises_type_error("argument 'j_nu': must be real number, not str",
                          ostrel.rad_trans_slab, 1.0, [1.0, "a"], [0.0, 0.0])
        raises_type_error("argument 'j_nu': must be real number, not list",
                          ostrel.rad_trans_slab, 1.0, ([1.0],), [0.0])
        with pytest.raises(OverflowError):
            as_vector([1.0, 10**400])

    def test_length_only_reserves_storage(self):
        class Sequence:
            """Indexable, with a length that fails or lies."""

            def __init__(self, items, length):
                self.items, self.length = items, length

            def __getitem__(self, i):
                return self.items[i]

            def __len__(self):
                if isinstance(self.length, Exception):
                    raise self.length
                return self.length

        items = [1.0, 2.0, 3.0]
        assert as_vector(Sequence(items, RuntimeError("no length"))) == items
        assert as_vector(Sequence(items, 0)) == items
        assert as_vector(Sequence(items, 2**62)) == items
        assert as_vector(Sequence(items, 2**80)) == items  # OverflowError from len()

    def test_iteration_failure_is_the_error(self):
        class Broken:
            def __getitem__(self, i):
                if i == 2:
                    raise KeyError("broken")
                return float(i)

        with pytest.raises(KeyError, match="broken"):
            as_vector(Broken())

    @pytest.mark.parametrize("make", [list, type("ListSubclass", (list,), {})],
                             ids=["list", "list subclass"])
    def test_list_changed_during_conversion(self, make):
        # Exact lists are read by index and other sequences by iteration; an
        # item that shrinks or grows the list must give the same vector both ways.
        class Shrinking:
            def __float__(self):
                del values[-1]
                return 0.5

        class Growing:
            def __float__(self):
                if len(values) < 6:
                    values.append(float(len(values)))
                return 0.25

        values = make([1.0, Shrinking(), 2.0, 3.0])
        assert as_vector(values) == [1.0, 0.5, 2.0]
        values = make([Growing(), Growing()])
        assert as_vector(values) == [0.25, 0.25, 2.0, 3.0]


class TestFlags:
    def test_only_bools_are_flags(self):
        np = pytest.importorskip("numpy")
        for obj, name in [(1, "int"), (0, "int"), (None, "NoneType"), (1.0, "float"),
                          ("True", "str"), (np.True_, type(np.True_).__qualname__)]:
            raises_type_error(
                f"argument 'with_kn': '{name}' object cannot be converted to 'PyBool'",
                ostrel.rad_cool_mono, [], 1e14, 1e-9, obj)

    def test_optional_flag(self):
        raises_type_error("argument 'check_params': 'int' object cannot be converted to 'PyBool'",
                          ostrel.fp_findif_difu, *FP_ARGS, check_params=0)
        raises_type_error("argument 'check_params': 'str' object cannot be converted to 'PyBool'",
                          ostrel.fp_findif_difu, *FP_ARGS, "no")

    def test_check_params_none_or_absent_runs_the_input_check(self):
        with_nan = list(FP_ARGS)
        with_nan[5] = [0.0, math.nan] + with_nan[5][2:]
        ostrel.fp_findif_difu(*FP_ARGS)
        for extra in ({}, {"check_params": None}, {"check_params": True}):
            assert ostrel.fp_findif_difu(*FP_ARGS, **extra) == ostrel.fp_findif_difu(*FP_ARGS)
            with pytest.raises(BaseException) as info:
                ostrel.fp_findif_difu(*with_nan, **extra)
            assert type(info.value).__name__ == "PanicException"
            assert info.value.args == (FP_CHECK,)
        result = ostrel.fp_findif_difu(*with_nan, check_params=False)
        assert type(result) is list and any(math.isnan(x) for x in result)


def test_conversion_releases_every_reference():
    # A reference kept to an item, a sequence or an error would show up here.
    item = 1.2345e300
    as_list = [item] * 50
    as_tuple = tuple(as_list)
    indexable = type("Indexable", (), {"__getitem__": as_list.__getitem__})()
    watched = (item, as_list, as_tuple, indexable)
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(200):
        as_vector(as_list)
        as_vector(as_tuple)
        as_vector(indexable)
        with pytest.raises(TypeError):
            ostrel.rad_trans_slab(1.0, as_list, as_list + ["x"])
    assert [sys.getrefcount(o) for o in watched] == before
