"""Calls every function a few times, successfully and failing, for a run
under a memory checker:

    PYTHONMALLOC=malloc valgrind --tool=memcheck --leak-check=full \\
        --errors-for-leak-kinds=definite python tests/valgrind_smoke.py

The interpreter's own blocks still reachable at exit are expected; a
definite loss with a frame in the ostrel extension is a leak of the module.
"""

import math
import os

os.environ.setdefault("RAYON_NUM_THREADS", "2")

import ostrel  # noqa: E402 - after the pool size is set


class Refuses:
    def __float__(self):
        raise ValueError("element refused")


GAMMA = [10.0 ** (0.25 * k) for k in range(1, 13)]
DENSITY = [g ** -2.2 for g in GAMMA]
FREQS = [10.0 ** k for k in range(8, 16)]
ZEROS = [0.0] * len(GAMMA)
RATES = [1e-8 * g * g for g in GAMMA]

CALLS = [
    lambda: ostrel.get_c(),
    lambda: ostrel.gofb(0.5),
    lambda: ostrel.gofb([0.1, 0.5, 1.0, 1.5]),
    lambda: ostrel.bofg((1.0, 2.0, math.inf)),
    lambda: ostrel.gofb("0.5"),
    lambda: ostrel.eq_59_park1995(1.0, GAMMA[:3]),
    lambda: ostrel.eq_59_park1995(1.0, "abc"),
    lambda: ostrel.fp_findif_difu(1.0, GAMMA, DENSITY, RATES, RATES, ZEROS, 1e3, 1.0),
    lambda: ostrel.fp_findif_difu(1.0, GAMMA, DENSITY[:-1] + [math.nan], RATES, RATES, ZEROS,
                                  1e3, 1.0),
    lambda: ostrel.fp_findif_difu(1.0, [1.0, 2.0, 2.0], [1.0] * 3, [0.0] * 3, [1.0] * 3,
                                  [0.0] * 3, 1e3, 1.0),
    lambda: ostrel.fp_findif_difu(1.0, GAMMA, DENSITY, RATES, RATES, ZEROS, 1e3, 1.0,
                                  check_params=0),
    lambda: ostrel.syn_emissivity_full(FREQS, GAMMA, DENSITY, 0.1, True),
    lambda: ostrel.syn_emissivity_full(FREQS, GAMMA, DENSITY[:4], 0.1, True),
    lambda: ostrel.syn_emissivity_full([1e9], [10.0, 10.0, 20.0], [1.0, 1.0, 0.5], 0.1, True),
    lambda: ostrel.syn_emissivity_full(FREQS, GAMMA, DENSITY, 0.1, 1),
    lambda: ostrel.rad_trans_blob(1e15, [1e-20] * 4, [1e-16] * 4),
    lambda: ostrel.rad_trans_blob(1.0, [1.0, 2.0], [1.0]),
    lambda: ostrel.rad_trans_slab(1e15, [1e-20] * 4, [1e-16] * 3 + [Refuses()]),
    lambda: ostrel.rad_trans_slab(1e15, j_nu=[1e-20] * 4, a_nu=[1e-16] * 4),
    lambda: ostrel.ic_iso_powlaw_full(FREQS, [1e-12 * math.sqrt(f) for f in FREQS], GAMMA,
                                      DENSITY),
    lambda: ostrel.ic_iso_powlaw_full(FREQS, [1e-12] * len(FREQS), GAMMA, DENSITY[:2]),
    lambda: ostrel.ic_iso_monochrome_full(FREQS, 1e-9, 1e14, DENSITY, GAMMA),
    lambda: ostrel.ic_iso_monochrome_full(FREQS, 1e-9, 1e14, DENSITY, 2 ** 1100),
    lambda: ostrel.rad_cool_pwl(GAMMA, FREQS, [1e-20] * len(FREQS), True),
    lambda: ostrel.rad_cool_pwl([1e4], [1e15, 1e15, 2e15], [1.0, 1.0, 0.5], True),
    lambda: ostrel.rad_cool_pwl(GAMMA, [], [], False),
    lambda: ostrel.rad_cool_mono(GAMMA, 1e14, 1e-9, True),
    lambda: ostrel.rad_cool_mono(GAMMA, 1e14, 1e-9, with_kn=True, extra=1),
]


def main():
    outcomes = {}
    for _ in range(3):
        for k, call in enumerate(CALLS):
            try:
                call()
                outcome = "result"
            except BaseException as error:  # PanicException derives from BaseException
                outcome = type(error).__name__
            assert outcomes.setdefault(k, outcome) == outcome, (k, outcome)
    kinds = sorted(set(outcomes.values()))
    print(f"valgrind smoke: {len(CALLS)} calls x 3, outcomes {kinds}")


if __name__ == "__main__":
    main()
