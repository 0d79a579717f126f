"""The radiation kernels against their literal, single-threaded form.

The literal reference (tests/reference) is the algorithm as first written:
every integrand value and power-law integral recomputed where it is read,
one output bin after the other.  It is built here as a small shared library
(CMake, into build/bench) and called through ctypes; the production kernels
run through the ostrel module on one and on two worker threads, each in its
own process (the pool is sized once, from RAYON_NUM_THREADS).  The results
of all three must be the same bits; the script checks that before it prints
the times (best of a few repeats) and the speed-ups over the reference.

Workloads:
  W-syn   syn_emissivity_full, 128 frequencies 1e8 .. 1e22 Hz, 128 Lorentz
          factors 10 .. 1e6, N = gamma^-2.5 exp(-gamma/1e5), B = 1 G
  W-cool  rad_cool_pwl, 128 Lorentz factors 1 .. 1e7, seed spectrum on 128
          frequencies 1e8 .. 1e20 Hz, u = 1e-10 (nu/1e8)^-0.7 exp(-nu/1e19)
  W-ssc   ic_iso_powlaw_full, 128 output frequencies 1e14 .. 1e27 Hz, the
          W-syn electrons, the W-cool law as seed intensity on that grid
(grids 10**(a + k step)).
"""

import ctypes
import math
import shutil
import struct
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
if str(HERE) not in sys.path:  # the Python comparison tests load this file by its path
    sys.path.append(str(HERE))
from benchlib import best_time, measure_with_threads, serve_measurement  # noqa: E402

ROOT = HERE.parent
BUILD = ROOT / "build" / "bench"
LIBRARY = BUILD / "libostrel_reference_capi.so"


def decade_grid(n, a, b):
    step = (b - a) / (n - 1)
    return [10.0 ** (a + k * step) for k in range(n)]


def workloads():
    syn_freqs = decade_grid(128, 8.0, 22.0)
    gamma = decade_grid(128, 1.0, 6.0)
    n_e = [g**-2.5 * math.exp(-g / 1e5) for g in gamma]
    seed_freqs = decade_grid(128, 8.0, 20.0)
    law = lambda f: 1e-10 * (f / 1e8) ** -0.7 * math.exp(-f / 1e19)  # noqa: E731
    uu = [law(f) for f in seed_freqs]
    gg = decade_grid(128, 0.0, 7.0)
    out_freqs = decade_grid(128, 14.0, 27.0)
    inu = [law(f) for f in out_freqs]
    return {
        "W-syn  with_abs=True ": ("syn", (syn_freqs, gamma, n_e, 1.0, True)),
        "W-syn  with_abs=False": ("syn", (syn_freqs, gamma, n_e, 1.0, False)),
        "W-cool with_kn=True  ": ("cool", (gg, seed_freqs, uu, True)),
        "W-cool with_kn=False ": ("cool", (gg, seed_freqs, uu, False)),
        "W-ssc                ": ("ssc", (out_freqs, inu, gamma, n_e)),
    }


def repeats_for(seconds):
    return max(2, min(30, int(1.0 / max(seconds, 1e-6))))


def best_time_and_result(call):
    """The best of a few timed calls, the first of which also gives the
    result (the number of repeats follows from its time)."""
    start = time.perf_counter()
    result = call()
    once = time.perf_counter() - start
    return min(once, best_time(call, repeats_for(once) - 1)), result


def bits(values):
    return struct.pack(f"{len(values)}d", *values).hex()


# --- production kernels (in a child process per thread count) ---------------------


def measure_production():
    import ostrel

    kernels = {
        "syn": lambda a: [v for part in ostrel.syn_emissivity_full(*a) for v in part],
        "cool": lambda a: ostrel.rad_cool_pwl(*a),
        "ssc": lambda a: ostrel.ic_iso_powlaw_full(*a),
    }
    out = {}
    for name, (kind, args) in workloads().items():
        kernels[kind](args)  # warm-up: creates the pool
        t, result = best_time_and_result(lambda: kernels[kind](args))
        out[name] = {"time": t, "bits": bits(result)}
    return out


# --- the literal reference through ctypes -------------------------------------------


def build_reference():
    """Configures (once) and builds the reference library; returns its path."""
    bindir = Path(sys.executable).parent
    cmake = shutil.which("cmake", path=str(bindir)) or shutil.which("cmake")
    ninja = shutil.which("ninja", path=str(bindir)) or shutil.which("ninja")
    if cmake is None:
        raise SystemExit("bench_speedups: cmake not found (pip install cmake, or make venv)")
    if not (BUILD / "CMakeCache.txt").exists():
        configure = [cmake, "-S", str(ROOT), "-B", str(BUILD), "-DCMAKE_BUILD_TYPE=Release",
                     "-DOSTREL_BUILD_BENCHMARKS=ON", "-DOSTREL_BUILD_PYTHON=OFF",
                     "-DOSTREL_BUILD_TESTS=OFF"]
        if ninja is not None:
            configure += ["-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}"]
        subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
    subprocess.run([cmake, "--build", str(BUILD), "--target", "ostrel_reference_capi"],
                   check=True, stdout=subprocess.DEVNULL)
    return LIBRARY


class Reference:
    def __init__(self, path):
        self.lib = ctypes.CDLL(str(path))
        self.error = ctypes.create_string_buffer(256)

    @staticmethod
    def _array(values):
        return (ctypes.c_double * max(1, len(values)))(*values), len(values)

    def _check(self, status):
        if status != 0:
            raise RuntimeError(self.error.value.decode())

    def syn(self, freqs, gamma, n, b, with_abs):
        f, nf = self._array(freqs)
        g, ng = self._array(gamma)
        d, nd = self._array(n)
        j = (ctypes.c_double * max(1, nf))()
        a = (ctypes.c_double * max(1, nf))()
        self._check(self.lib.ostrel_ref_syn_emissivity_full(
            f, ctypes.c_size_t(nf), g, ctypes.c_size_t(ng), d, ctypes.c_size_t(nd),
            ctypes.c_double(b), ctypes.c_int(with_abs), j, a, self.error,
            ctypes.c_size_t(len(self.error))))
        return list(j)[:nf] + list(a)[:nf]

    def cool(self, gg, freqs, uu, with_kn):
        g, ng = self._array(gg)
        f, nf = self._array(freqs)
        u, nu = self._array(uu)
        out = (ctypes.c_double * max(1, ng))()
        self._check(self.lib.ostrel_ref_rad_cool_pwl(
            g, ctypes.c_size_t(ng), f, ctypes.c_size_t(nf), u, ctypes.c_size_t(nu),
            ctypes.c_int(with_kn), out, self.error, ctypes.c_size_t(len(self.error))))
        return list(out)[:ng]

    def ssc(self, freqs, inu, g, n):
        f, nf = self._array(freqs)
        i, ni = self._array(inu)
        e, ne = self._array(g)
        d, nd = self._array(n)
        out = (ctypes.c_double * max(1, nf))()
        self._check(self.lib.ostrel_ref_ic_iso_powlaw_full(
            f, ctypes.c_size_t(nf), i, ctypes.c_size_t(ni), e, ctypes.c_size_t(ne), d,
            ctypes.c_size_t(nd), out, self.error, ctypes.c_size_t(len(self.error))))
        return list(out)[:nf]


def measure_reference():
    ref = Reference(build_reference())
    out = {}
    for name, (kind, args) in workloads().items():
        t, result = best_time_and_result(lambda: getattr(ref, kind)(*args))
        out[name] = {"time": t, "bits": bits(result)}
    return out


def main():
    if serve_measurement(measure_production):
        return 0
    literal = measure_reference()
    one = measure_with_threads(__file__, 1)
    two = measure_with_threads(__file__, 2)
    status = 0
    print(f"{'workload':22s} {'literal ms':>11s} {'W=1 ms':>9s} {'W=2 ms':>9s} "
          f"{'W=1 gain':>9s} {'W=2 gain':>9s}  same bits")
    for name, ref in literal.items():
        same = ref["bits"] == one[name]["bits"] == two[name]["bits"]
        status |= not same
        print(f"{name:22s} {ref['time'] * 1e3:11.1f} {one[name]['time'] * 1e3:9.1f} "
              f"{two[name]['time'] * 1e3:9.1f} {ref['time'] / one[name]['time']:8.2f}x "
              f"{ref['time'] / two[name]['time']:8.2f}x  {'yes' if same else 'NO'}")
    return status


if __name__ == "__main__":
    sys.exit(main())
