"""Shared inputs for the Python tests of ostrel."""

import ast
import inspect
import json
import math
import os
import pathlib
import subprocess
import sys

import pytest

import ostrel

# The functions in registration order with their parameter names, as the
# module reports them (the function table's text signatures).
SIGNATURES = {name: tuple(inspect.signature(getattr(ostrel, name)).parameters)
              for name in ostrel.__all__}

STUB_PATH = pathlib.Path(__file__).resolve().parents[2] / "src" / "bindings" / "ostrel" / "ostrel.pyi"

# How the stubs annotate each kind of parameter.
_STUB_KINDS = {"_Float": "float", "_Vector": "vector", "bool": "flag",
               "bool | None": "optional_flag"}


def stub_declarations():
    """(__all__, {name: ((param, kind, default), ...)}) as ostrel.pyi declares
    them; a function overloaded on a float and a vector has the kind
    "float_or_vector"."""
    tree = ast.parse(STUB_PATH.read_text())
    all_names, params = None, {}
    for node in tree.body:
        if isinstance(node, ast.Assign) and node.targets[0].id == "__all__":
            all_names = [element.value for element in node.value.elts]
        if not isinstance(node, ast.FunctionDef):
            continue
        args = node.args.args
        defaults = [None] * (len(args) - len(node.args.defaults)) + [
            ast.unparse(d) for d in node.args.defaults]
        declared = tuple((a.arg, _STUB_KINDS[ast.unparse(a.annotation)], default)
                         for a, default in zip(args, defaults))
        if node.name in params:  # the second overload: float and vector
            declared = tuple((name, "float_or_vector", default)
                             for name, _, default in declared)
        params[node.name] = declared
    return all_names, params


# The texts of the kernels' fatal errors, written once for the Python tests.
INDEX = "ndarray: index out of bounds"
BROADCAST = "ndarray: could not broadcast array from shape: "
UNWRAP = "called `Result::unwrap()` on an `Err` value: "
POLINT_FAILED = UNWRAP + '"polint: calculation failure"'
TOO_MANY_STEPS = UNWRAP + '"qromb: too many steps"'
FP_CHECK = "FP_FinDif_difu: at least one input parameter is not correctly defined"
TRIDAG = ("tridag_ser: error at code stage 1", "tridag_ser: error at code stage 2")

_GAMMA = [10.0 ** (0.25 * k) for k in range(1, 17)]  # 1.8 .. 1e4
_POWER_LAW = [1e-3 * g ** -2.2 for g in _GAMMA]
_FREQS = [10.0 ** k for k in range(8, 20)]

# One physically sensible positional call of each function with parameters.
VALID_CALLS = {
    "gofb": (0.5,),
    "bofg": (2.0,),
    "eq_59_park1995": (1.0, [1.5, 2.0, 10.0]),
    "fp_findif_difu": (1.0, _GAMMA, _POWER_LAW, [1e-8 * g * g for g in _GAMMA],
                       [1e-9 * g * g for g in _GAMMA], [0.0] * len(_GAMMA), 1e3, 1.0, True),
    "syn_emissivity_full": (_FREQS, _GAMMA, _POWER_LAW, 0.1, True),
    "rad_trans_blob": (1e15, [1e-20, 2e-20, 3e-20], [1e-16, 1e-15, 1e-14]),
    "ic_iso_powlaw_full": (_FREQS, [1e-12 * math.sqrt(f) for f in _FREQS], _GAMMA, _POWER_LAW),
    "rad_cool_pwl": (_GAMMA, _FREQS, [1e-20] * len(_FREQS), True),
    "rad_cool_mono": (_GAMMA, 1e14, 1e-9, True),
    "ic_iso_monochrome_full": (_FREQS, 1e-9, 1e14, _POWER_LAW, _GAMMA),
    "rad_trans_slab": (1e15, [1e-20, 2e-20, 3e-20], [1e-16, 1e-15, 1e-14]),
}


def outcome(function, *args, **kwargs):
    """What a call gives: ("ok", repr of the result) or (exception type, args).

    Kernels that fail end with PanicException; comparing outcomes rather than
    results lets binding tests run whether or not a kernel succeeds.
    """
    try:
        return ("ok", repr(function(*args, **kwargs)))
    except BaseException as error:  # PanicException derives from BaseException
        return (type(error).__name__, error.args)


def run_child(code, threads="2", timeout=240, hang="hang"):
    """Runs code in a fresh interpreter whose pool has `threads` workers
    (RAYON_NUM_THREADS; the pool is sized once per process) and returns its
    (stdout, stderr).  A child that fails, or is still running after `timeout`
    seconds (reported as a `hang`), fails the test."""
    env = dict(os.environ, RAYON_NUM_THREADS=threads)
    env.pop("RAYON_RS_NUM_CPUS", None)
    try:
        done = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                              text=True, timeout=timeout)
    except subprocess.TimeoutExpired as expired:
        pytest.fail(f"child interpreter still running after {timeout} s ({hang}); "
                    f"last output: {(expired.stdout or b'')[-2000:]!r}")
    assert done.returncode == 0, done.stderr[-4000:]
    return done.stdout, done.stderr


def outputs_per_thread_count(script, thread_counts=("1", "3")):
    """The JSON that script prints, run once in a fresh interpreter per worker
    count."""
    return [json.loads(run_child(script, threads=threads)[0]) for threads in thread_counts]


def panic_exception_type():
    """The PanicException class, as the module raises it."""
    try:
        ostrel.rad_trans_blob(1.0, [1.0], [])
    except BaseException as error:
        return type(error)
    raise AssertionError("reading past the end of a_nu did not fail")


@pytest.fixture(scope="session")
def panic_type():
    return panic_exception_type()
