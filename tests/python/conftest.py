"""Shared inputs for the Python tests of ostrel."""

import json
import math
import os
import subprocess
import sys

import pytest

import ostrel

# The twelve functions in registration order with their parameter names.
SIGNATURES = {
    "get_c": (),
    "gofb": ("arg",),
    "bofg": ("arg",),
    "eq_59_park1995": ("t", "g"),
    "fp_findif_difu": ("dt_in", "gamma_bins", "nin", "gdot_in", "din", "qin", "tesc_in", "tlc",
                       "check_params"),
    "syn_emissivity_full": ("freqs", "gamma_bins", "n_distrib", "b_field", "with_abs"),
    "rad_trans_blob": ("blob_radius", "j_nu", "a_nu"),
    "ic_iso_powlaw_full": ("freqs", "inu", "g", "n"),
    "rad_cool_pwl": ("gg", "freqs", "uu", "with_kn"),
    "rad_cool_mono": ("gg", "nu0", "u0", "with_kn"),
    "ic_iso_monochrome_full": ("freqs", "uext", "nuext", "n", "g"),
    "rad_trans_slab": ("blob_radius", "j_nu", "a_nu"),
}

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


def outputs_per_thread_count(script, thread_counts=("1", "3")):
    """The JSON that script prints, run once in a fresh interpreter per worker
    count (RAYON_NUM_THREADS); the pool is sized once per process."""
    outputs = []
    for threads in thread_counts:
        env = dict(os.environ, RAYON_NUM_THREADS=threads)
        run = subprocess.run([sys.executable, "-c", script], env=env, check=True,
                             capture_output=True, text=True)
        outputs.append(json.loads(run.stdout))
    return outputs


@pytest.fixture(scope="session")
def panic_type():
    """The PanicException class, as the module raises it."""
    try:
        ostrel.rad_trans_blob(1.0, [1.0], [])
    except BaseException as error:
        return type(error)
    raise AssertionError("reading past the end of a_nu did not fail")
