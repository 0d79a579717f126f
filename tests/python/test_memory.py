"""100,000 calls of all functions, successful and failing in every way, leave
the process's memory where it was: resident size, the interpreter's
allocated blocks, the number of tracked objects and the reference counts of
the arguments."""

import gc
import os
import sys

import pytest

import ostrel

CALLS = 100_000
WARM_UP = 10_000
RESIDENT_ALLOWANCE_KIB = 4096   # allocator and page-cache noise, not leaks
UNDER_ADDRESS_SANITIZER = "libasan" in os.environ.get("LD_PRELOAD", "")
BLOCKS_ALLOWANCE = 2000         # interpreter free lists and caches


class Number:
    """An element converted through __float__."""

    def __float__(self):
        return 1.25


class OwnError(Exception):
    pass


class Raises:
    def __float__(self):
        raise OwnError("element refused")


# Arguments shared by all calls, so that their reference counts can be
# compared at the end.  Each vector is a few hundred bytes: a leak of one per
# call would be tens of MB over the run.
NUMBER = Number()
GAMMA = [10.0 ** (0.1 * k) for k in range(1, 33)]
DENSITY = [g ** -2.2 for g in GAMMA]
FREQS = [10.0 ** (8 + 0.5 * k) for k in range(8)]
RATES = [1e-8 * g * g for g in GAMMA]
DIFFUSION = [1e-9 * g * g for g in GAMMA]
ZEROS = [0.0] * 32
VALUES = [float(k) for k in range(1, 33)]
WITH_NUMBER = VALUES[:-1] + [NUMBER]
WITH_RAISES = VALUES[:-1] + [Raises()]
WITH_STR = VALUES[:-1] + ["x"]
HUGE = VALUES[:-1] + [2 ** 1100]
NAN_DENSITY = DENSITY[:-1] + [float("nan")]
EQUAL_GAMMA = GAMMA[:3] + [GAMMA[2]] + GAMMA[4:]
TRACKED = [NUMBER, GAMMA, DENSITY, FREQS, RATES, DIFFUSION, ZEROS, VALUES, WITH_NUMBER,
           WITH_RAISES, WITH_STR, HUGE, NAN_DENSITY, EQUAL_GAMMA]

fp = ostrel.fp_findif_difu

# (expected outcome, call).  None means a result; otherwise the exception
# class name.
CASES = [
    # results
    (None, lambda: ostrel.get_c()),
    (None, lambda: ostrel.gofb(0.5)),
    (None, lambda: ostrel.gofb(VALUES)),
    (None, lambda: ostrel.bofg(tuple(VALUES))),
    (None, lambda: ostrel.eq_59_park1995(1.0, GAMMA[:4])),
    (None, lambda: fp(1.0, GAMMA, DENSITY, RATES, DIFFUSION, ZEROS, 1e3, 1.0)),
    (None, lambda: fp(1.0, GAMMA, NAN_DENSITY, RATES, DIFFUSION, ZEROS, 1e3, 1.0, False)),
    (None, lambda: ostrel.syn_emissivity_full(FREQS[:2], GAMMA[:4], DENSITY, 1.0, True)),
    (None, lambda: ostrel.rad_trans_blob(1e15, WITH_NUMBER, VALUES)),
    (None, lambda: ostrel.rad_trans_slab(blob_radius=1e15, a_nu=VALUES, j_nu=VALUES)),
    (None, lambda: ostrel.ic_iso_powlaw_full(FREQS, VALUES, GAMMA[:8], DENSITY)),
    (None, lambda: ostrel.ic_iso_monochrome_full(FREQS, 1e-9, 1e14, DENSITY, GAMMA)),
    (None, lambda: ostrel.rad_cool_pwl(GAMMA[:4], FREQS, VALUES, True)),
    (None, lambda: ostrel.rad_cool_mono(GAMMA, 1e14, 1e-9, True)),
    # argument errors, some after other vectors were already converted
    ("TypeError", lambda: ostrel.rad_trans_blob(1.0, VALUES)),
    ("TypeError", lambda: ostrel.rad_trans_blob(1.0, VALUES, VALUES, VALUES)),
    ("TypeError", lambda: ostrel.rad_trans_slab(1.0, VALUES, a_nu=VALUES, extra=1)),
    ("TypeError", lambda: ostrel.rad_trans_slab(1.0, VALUES, VALUES, blob_radius=2.0)),
    ("TypeError", lambda: ostrel.rad_trans_blob(1.0, VALUES, WITH_STR)),
    ("TypeError", lambda: ostrel.rad_trans_blob(1.0, VALUES, "ab")),
    ("TypeError", lambda: ostrel.ic_iso_powlaw_full(FREQS, VALUES, GAMMA, 5)),
    ("TypeError", lambda: ostrel.syn_emissivity_full(FREQS, GAMMA, DENSITY, 1.0, 1)),
    ("TypeError", lambda: fp(1.0, GAMMA, DENSITY, RATES, DIFFUSION, ZEROS, 1e3, 1.0, 0)),
    ("TypeError", lambda: ostrel.gofb([0.1, "a"])),
    ("TypeError", lambda: ostrel.bofg(None)),
    ("OwnError", lambda: ostrel.rad_cool_pwl(GAMMA, FREQS, WITH_RAISES, True)),
    ("OverflowError", lambda: ostrel.ic_iso_monochrome_full(FREQS, 1.0, 1.0, DENSITY, HUGE)),
    # fatal errors of the kernels, on the calling thread and on workers
    ("PanicException", lambda: ostrel.rad_trans_blob(1.0, VALUES, ZEROS[:8])),
    ("PanicException", lambda: ostrel.syn_emissivity_full(FREQS, GAMMA, DENSITY[:8], 1.0, True)),
    ("PanicException", lambda: ostrel.ic_iso_powlaw_full(FREQS, VALUES, GAMMA, DENSITY[:4])),
    ("PanicException", lambda: ostrel.rad_cool_pwl(GAMMA, [], VALUES, False)),
    ("PanicException", lambda: ostrel.rad_cool_pwl([1e4], [1e15, 1e15, 2e15], [1.0, 1.0, 0.5],
                                                   True)),
    ("PanicException", lambda: fp(1.0, GAMMA, NAN_DENSITY, RATES, DIFFUSION, ZEROS, 1e3, 1.0)),
    ("PanicException", lambda: fp(1.0, EQUAL_GAMMA, DENSITY, RATES, DIFFUSION, ZEROS, 1e3, 1.0)),
    ("PanicException", lambda: fp(1.0, GAMMA, DENSITY[:5], RATES, DIFFUSION, ZEROS, 1e3, 1.0)),
]


def run(count):
    for k in range(count):
        expected, call = CASES[k % len(CASES)]
        try:
            call()
            outcome = None
        except BaseException as error:  # PanicException derives from BaseException
            outcome = type(error).__name__
        if outcome != expected:
            raise AssertionError(f"case {k % len(CASES)}: {outcome} instead of {expected}")


def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def reference_counts():
    return [sys.getrefcount(obj) for obj in TRACKED]


class quiet:
    """Sends file descriptors 1 and 2 to /dev/null (each fatal error writes a
    notice to standard error)."""

    def __enter__(self):
        sys.stdout.flush()
        sys.stderr.flush()
        self.saved = [os.dup(1), os.dup(2)]
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, 1)
        os.dup2(null, 2)
        os.close(null)

    def __exit__(self, *exc):
        os.dup2(self.saved[0], 1)
        os.dup2(self.saved[1], 2)
        for fd in self.saved:
            os.close(fd)


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_memory_is_flat_over_many_calls():
    with quiet():
        run(WARM_UP)  # fills free lists, the pool and the exception class
        gc.collect()
        resident = resident_kib()
        blocks = sys.getallocatedblocks()
        objects = len(gc.get_objects())
        refcounts = reference_counts()

        run(CALLS)
        gc.collect()
        resident_growth = resident_kib() - resident
        blocks_growth = sys.getallocatedblocks() - blocks
        objects_growth = len(gc.get_objects()) - objects
        refcount_changes = [after - before
                            for after, before in zip(reference_counts(), refcounts)]

    print(f"\nafter {CALLS} calls: resident {resident_growth:+d} KiB, "
          f"allocated blocks {blocks_growth:+d}, tracked objects {objects_growth:+d}")
    assert refcount_changes == [0] * len(TRACKED)
    assert objects_growth <= 10
    assert blocks_growth < BLOCKS_ALLOWANCE
    if not UNDER_ADDRESS_SANITIZER:  # its quarantine holds freed memory for a while
        assert resident_growth < RESIDENT_ALLOWANCE_KIB
