"""The binding of ostrel_models.kernels: argument conversion, errors that name
the argument, the interpreter lock released, results independent of the
number of worker threads, stubs that match the module."""

import ast
import hashlib
import json
import os
import subprocess
import sys
import threading
import time
from pathlib import Path

import numpy as np
import pytest

from ostrel_models import _kernels, kernels

GAMMA = [10.0, 100.0, 1000.0, 1e4]
N = [1.0, 1e-2, 1e-5, 1e-8]
NU = [1e9, 1e12, 1e15]
SEED_NU = [1e12, 1e14, 1e16]
SEED_U = [1e-12, 1e-13, 1e-15]


def test_lists_integer_and_strided_arrays_give_the_same_float64_result():
    as_list = kernels.synchrotron(NU, GAMMA, N, 1.0)
    ints = kernels.synchrotron(np.array(NU, dtype=np.int64), np.array(GAMMA, dtype=np.int32), N, 1)
    strided = kernels.synchrotron(np.repeat(NU, 2)[::2], GAMMA, np.repeat(N, 3)[::3], 1.0)
    for got in (ints, strided):
        for a, b in zip(as_list, got):
            assert a.dtype == np.float64 and a.shape == (len(NU),)
            np.testing.assert_array_equal(a, b)
    rate = kernels.synchrotron_cooling(np.array([1, 2, 3]), np.float32(2.0))
    assert rate.dtype == np.float64 and rate.shape == (3,)
    assert kernels.gamma_gamma_opacity(NU, SEED_NU, SEED_U).shape == (len(NU),)


def test_output_frequencies_are_independent_points():
    # Any order, repeats, none at all: each result is that of its frequency.
    j, alpha = kernels.synchrotron(NU, GAMMA, N, 1.0)
    j2, alpha2 = kernels.synchrotron([NU[2], NU[0], NU[2]], GAMMA, N, 1.0)
    np.testing.assert_array_equal(j2, j[[2, 0, 2]])
    np.testing.assert_array_equal(alpha2, alpha[[2, 0, 2]])
    tau = kernels.gamma_gamma_opacity([1e27, 1e25], SEED_NU, SEED_U)
    np.testing.assert_array_equal(tau, kernels.gamma_gamma_opacity([1e25, 1e27], SEED_NU, SEED_U)[::-1])
    for empty in (kernels.synchrotron([], GAMMA, N, 1.0)[0], kernels.gamma_gamma_opacity([], SEED_NU, SEED_U),
                  kernels.inverse_compton_mono([], GAMMA, N, 1e14, 1e-3)):
        assert empty.shape == (0,) and empty.dtype == np.float64


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: kernels.synchrotron([NU], GAMMA, N, 1.0), "nu: must be one-dimensional"),
        (lambda: kernels.synchrotron(NU, GAMMA, N[:3], 1.0), "n: length 3 differs from the length 4 of gamma"),
        (lambda: kernels.synchrotron(NU, GAMMA[::-1], N, 1.0), "gamma: grid is not strictly increasing"),
        (lambda: kernels.gamma_gamma_opacity([1e25, -1.0], SEED_NU, SEED_U), "nu: must be positive"),
        (lambda: kernels.synchrotron(NU, GAMMA, [1, np.nan, 1, 1], 1.0), "n: contains a non-finite value"),
        (lambda: kernels.synchrotron(NU, GAMMA, N, -1.0), "B: must be positive"),
        (lambda: kernels.synchrotron(NU, GAMMA, N, [1.0]), "B: must be a scalar"),
        (lambda: kernels.synchrotron(["x"], GAMMA, N, 1.0), "nu: could not convert"),
        (lambda: kernels.synchrotron_cooling([], 1.0), "gamma: must not be empty"),
        (lambda: kernels.gamma_gamma_opacity(NU, SEED_NU, [1, -1, 1]), "seed_u: contains a negative value"),
        (lambda: kernels.gamma_gamma_opacity(NU, [[1e12]], [1]), "seed_nu: must be one-dimensional"),
        (lambda: kernels.inverse_compton(NU, GAMMA, N, SEED_NU, SEED_U[:2]),
         "seed_u: length 2 differs from the length 3 of seed_nu"),
        (lambda: kernels.inverse_compton_mono(NU, GAMMA, N, 1e14, np.inf), "u0: must be finite"),
        (lambda: kernels.compton_cooling_mono(GAMMA, 0.0, 1.0), "nu0: must be positive"),
        (lambda: kernels.compton_cooling([[1.0]], SEED_NU, SEED_U), "gamma: must be one-dimensional"),
    ],
)
def test_bad_input_is_a_value_error_naming_the_argument(call, message):
    with pytest.raises(ValueError, match="^" + message.replace("(", r"\(")):
        call()


# The extension itself, called past the Python wrappers: what would lose
# information (an imaginary part, a number beyond a double, a second axis) or
# is no real number is refused with the argument's name.
@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: _kernels.synchrotron(NU, GAMMA, N, 10**400), OverflowError, "B: too large for a double"),
        (lambda: _kernels.compton_cooling_mono(GAMMA, 1e10, -(10**400)), OverflowError, "u0: too large"),
        (lambda: _kernels.synchrotron(NU, GAMMA, N, 1 + 2j), TypeError, "B: must be real"),
        (lambda: _kernels.synchrotron(NU, GAMMA, N, np.complex64(1)), TypeError, "B: must be real"),
        (lambda: _kernels.synchrotron(NU, GAMMA, N, "1"), TypeError, "B: must be a real number, got str"),
        (lambda: _kernels.synchrotron(np.array(NU) + 0j, GAMMA, N, 1.0), TypeError, "nu: must be real"),
        (lambda: _kernels.inverse_compton(NU, GAMMA, N, SEED_NU, [1e-12 + 1j, 0, 0]), TypeError,
         "seed_u: must be real"),
        (lambda: _kernels.synchrotron(["x"], GAMMA, N, 1.0), TypeError, "nu: must be an array of real"),
        (lambda: _kernels.synchrotron(NU, [[10.0, 100.0]], N, 1.0), ValueError, "gamma: must be one-dim"),
        (lambda: _kernels.gamma_gamma_opacity(NU, SEED_NU, [10**400, 1, 1]), TypeError, "seed_u: must be an"),
    ],
)
def test_the_extension_refuses_what_it_cannot_read_faithfully(call, error, message):
    with pytest.raises(error, match="^" + message):
        call()


def test_the_extension_converts_what_it_can_read_faithfully():
    # Lists, integers and strided arrays: the same float64 values.
    j = _kernels.synchrotron(np.array(NU), np.array(GAMMA), np.array(N), 1.0)[0]
    for args in [(NU, GAMMA, N, 1), (np.array(NU, dtype=np.int64), np.array(GAMMA, dtype=np.int32),
                                      np.repeat(N, 2)[::2], np.float32(1.0))]:
        np.testing.assert_array_equal(_kernels.synchrotron(*args)[0], j)


def test_the_interpreter_lock_is_released_while_a_kernel_runs():
    # Another Python thread makes progress in the middle of a long call only
    # if the lock is released.  Were it held, that thread could run only in a
    # slice just before the kernel starts or after it returns, never in the
    # middle half of the call.
    nu = np.geomspace(1e8, 1e20, 3000)
    gamma = np.geomspace(1.0, 1e7, 3000)
    n = gamma**-2.0
    stamps, done = [], threading.Event()

    def ticker():
        while not done.is_set():
            stamps.append(time.perf_counter())
            time.sleep(0.001)

    ticking = threading.Thread(target=ticker)
    ticking.start()
    try:
        time.sleep(0.01)
        start = time.perf_counter()
        _kernels.synchrotron(nu, gamma, n, 1.0)
        end = time.perf_counter()
    finally:
        done.set()
        ticking.join()
    quarter = (end - start) / 4
    assert any(start + quarter < t < end - quarter for t in stamps)


PROBE = """
import hashlib, json
import numpy as np
from ostrel_models import kernels
gamma = np.geomspace(1.0, 1e7, 97)
n = gamma**-2.3 * np.exp(-gamma / 3e6)
nu = np.geomspace(1e7, 1e27, 101)
seed_nu = np.geomspace(1e9, 1e18, 53)
seed_u = 1e-12 * (seed_nu / 1e9)**-0.8
out = list(kernels.synchrotron(nu, gamma, n, 0.3)) + [
    kernels.gamma_gamma_opacity(nu, seed_nu, seed_u), kernels.synchrotron_cooling(gamma, 0.3),
    kernels.inverse_compton(nu, gamma, n, seed_nu, seed_u), kernels.inverse_compton_mono(nu, gamma, n, 1e14, 1e-3),
    kernels.compton_cooling(gamma, seed_nu, seed_u), kernels.compton_cooling_mono(gamma, 1e14, 1e-3)]
print(json.dumps([hashlib.sha256(a.tobytes()).hexdigest() for a in out]))
"""


def test_results_are_the_same_bits_for_every_number_of_threads():
    digests = []
    for threads in ("1", "2", "3"):
        env = dict(os.environ, RAYON_NUM_THREADS=threads)
        out = subprocess.run([sys.executable, "-c", PROBE], env=env, check=True, capture_output=True, text=True)
        digests.append(json.loads(out.stdout))
    assert digests[0] == digests[1] == digests[2]


def test_stubs_and_documentation_match_the_module():
    stub = ast.parse((Path(_kernels.__file__).parent / "_kernels.pyi").read_text())
    stubbed = {node.name for node in stub.body if isinstance(node, ast.FunctionDef)}
    public = {name for name in dir(_kernels) if not name.startswith("_")}
    assert stubbed == public == set(kernels.__all__)
    for name in kernels.__all__:
        doc = getattr(kernels, name).__doc__
        assert "Returns" in doc and "[" in doc, name  # units in brackets
    assert (Path(kernels.__file__).parent / "py.typed").exists()
