"""The module object: its functions, their metadata, and the entry function."""

import ctypes
import shutil
import subprocess
import types

import pytest

import ostrel
from conftest import SIGNATURES, VALID_CALLS, outcome, stub_declarations

NAMES = list(SIGNATURES)
STUB_ALL, STUB_PARAMS = stub_declarations()


class TestRegistry:
    def test_all_lists_the_functions_in_registration_order(self):
        assert ostrel.__all__ == STUB_ALL
        assert set(STUB_PARAMS) == set(NAMES)
        assert set(NAMES) <= set(dir(ostrel))

    @pytest.mark.parametrize("name", NAMES)
    def test_functions_are_builtins_bound_to_the_module(self, name):
        function = getattr(ostrel, name)
        assert isinstance(function, types.BuiltinFunctionType)
        assert function.__name__ == name
        assert function.__module__ == "ostrel"
        assert function.__self__ is ostrel

    @pytest.mark.parametrize("name", NAMES)
    def test_text_signature_is_the_stubs(self, name):
        params = [param + ("" if default is None else "=" + default)
                  for param, _, default in STUB_PARAMS[name]]
        assert getattr(ostrel, name).__text_signature__ == "(" + ", ".join(params) + ")"

    def test_docstrings(self):
        docs = {name: getattr(ostrel, name).__doc__ for name in NAMES}
        assert docs.pop("get_c") == (
            "Example retrieving constant from constants file can be improved by using macros")
        assert docs.pop("gofb") == "functions from srtoolkit"
        assert docs.pop("eq_59_park1995") == "functions from distribs"
        assert set(docs.values()) == {None}

    def test_module_docstring_is_one_sentence(self):
        doc = ostrel.__doc__
        assert doc and doc.endswith(".") and doc.count(". ") == 0

    def test_get_c_takes_no_arguments(self):
        with pytest.raises(TypeError, match="takes no arguments"):
            ostrel.get_c(1)
        with pytest.raises(TypeError):
            ostrel.get_c(x=1)


class TestKeywordCalls:
    @pytest.mark.parametrize("name", list(VALID_CALLS))
    def test_keywords_in_any_order_equal_the_positional_call(self, name):
        function = getattr(ostrel, name)
        args = VALID_CALLS[name]
        params = SIGNATURES[name][:len(args)]
        expected = outcome(function, *args)
        pairs = list(zip(params, args))
        for order in (pairs, pairs[::-1], pairs[1:] + pairs[:1]):
            assert outcome(function, **dict(order)) == expected
        # Mixed: the first argument by position, the rest by keyword, reversed.
        assert outcome(function, args[0], **dict(pairs[1:][::-1])) == expected

    def test_example_from_the_reference(self):
        assert ostrel.rad_trans_blob(a_nu=[0.0], j_nu=[3.0], blob_radius=2.0) == [2.0]


class TestEntryFunction:
    def test_only_the_entry_function_is_exported(self):
        nm = shutil.which("nm")
        if nm is None:
            pytest.skip("nm is not installed")
        listing = subprocess.run([nm, "-D", "--defined-only", ostrel.__file__],
                                 capture_output=True, text=True, check=True).stdout
        symbols = [line.split()[-1] for line in listing.splitlines() if line.strip()]
        assert symbols == ["PyInit_ostrel"]

    def test_second_initialisation_fails_and_the_module_keeps_working(self):
        init = ctypes.PyDLL(ostrel.__file__).PyInit_ostrel
        init.restype = ctypes.py_object
        init.argtypes = []
        for _ in range(2):
            with pytest.raises(ImportError, match="only once"):
                init()
        assert ostrel.get_c() == 29979245800.0
        assert ostrel.__all__ == NAMES


def scaled(values, factor):
    return [factor * v for v in values]


class TestKernelWiring:
    """Each argument reaches the kernel parameter it names: the kernels'
    parameter orders differ from the Python ones, and several neighbours share
    a kind, so a swap would still convert but give other numbers."""

    GAMMA = [1.0 + k for k in range(6)]
    FLAT, ZERO, WEAK_DIFFUSION = [1.0] * 6, [0.0] * 6, [1e-12] * 6

    def test_fokker_planck_time_scales(self):
        # Escape alone: N / (1 + dt/t_esc), whatever the light-crossing time.
        for dt, tesc, tlc in [(1.0, 3.0, 1.0), (1.0, 3.0, 2.0), (2.0, 6.0, 0.5)]:
            evolved = ostrel.fp_findif_difu(dt, self.GAMMA, self.FLAT, self.ZERO,
                                  self.WEAK_DIFFUSION, self.ZERO, tesc, tlc)
            assert evolved == pytest.approx([0.75] * 6, rel=1e-9)
        # Injection alone (no escape): Q dt.
        evolved = ostrel.fp_findif_difu(0.5, self.GAMMA, self.ZERO, self.ZERO,
                                        self.WEAK_DIFFUSION, [2.0] * 6, 1e200, 4.0)
        assert evolved == pytest.approx([1.0] * 6, rel=1e-9)

    def test_synchrotron_pair(self):
        freqs, gamma, n, b_field, _ = VALID_CALLS["syn_emissivity_full"]
        j_abs, a_abs = ostrel.syn_emissivity_full(freqs, gamma, n, b_field, True)
        result = ostrel.syn_emissivity_full(freqs, gamma, n, b_field, False)
        assert type(result) is tuple and len(result) == 2
        assert result[0] == j_abs and len(j_abs) == len(a_abs) == len(freqs)
        assert result[1] == [0.0] * len(freqs) and any(a > 0.0 for a in a_abs)
        assert ostrel.syn_emissivity_full(freqs, gamma, n, 2 * b_field, True)[0] != j_abs

    @pytest.mark.parametrize("name, linear_in", [
        ("ic_iso_monochrome_full", (1, 3)),  # uext, n
        ("ic_iso_powlaw_full", (1, 3)),      # inu, n
        ("rad_cool_mono", (2,)),             # u0
        ("rad_cool_pwl", (2,)),              # uu
    ])
    def test_linear_in_the_field_and_the_electrons(self, name, linear_in):
        function, args = getattr(ostrel, name), list(VALID_CALLS[name])
        base = function(*args)
        assert any(v != 0.0 for v in base)
        for position in linear_in:
            doubled = list(args)
            doubled[position] = (2.0 * args[position] if isinstance(args[position], float)
                                 else scaled(args[position], 2.0))
            assert function(*doubled) == pytest.approx(scaled(base, 2.0), rel=1e-12)
