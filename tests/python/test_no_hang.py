"""Every kernel returns promptly on adversarial numbers, and a long parallel
call can be interrupted, re-entered from a signal handler or shared between
threads without a deadlock.

Calls that could hang run in a child interpreter under a timeout, so that a
hang fails the test instead of blocking the run.  The grids have the sizes
the generated tests of test_fuzz.py use.  No test asserts a tight time: a
call that needs more than CALL_LIMIT seconds counts as hung (the slowest
calls take milliseconds; run with -s to see them).
"""

import json
import textwrap

import pytest

from conftest import TOO_MANY_STEPS, run_child


CALL_LIMIT = 5.0        # seconds per call before it counts as hung

KN_FACTOR = 2.61498035745506e-20   # 4K: x = (4K gamma) nu is the Klein-Nishina parameter
NU_B_PER_GAUSS = 2799248.987233304


# ---------------------------------------------------------------------------
# Adversarial numbers, one argument at a time and all at once

# Runs in the child: builds the cases, times every call and prints one JSON
# line per call.  Vector patterns are applied at the largest size the
# generated tests use for that argument.
ADVERSARIAL_CALLS = textwrap.dedent(r"""
    import json, math, sys, time, warnings
    import ostrel

    NAN, INF = math.nan, math.inf

    def log_grid(n, start, step):
        return [start * 10.0 ** (step * k) for k in range(n)]

    def patterns(n, start, step):
        grid = log_grid(n, start, step)
        half = n // 2
        return {
            "all NaN": [NAN] * n,
            "one NaN": grid[:half] + [NAN] + grid[half + 1:],
            "one inf": grid[:half] + [INF] + grid[half + 1:],
            "-inf": [-INF] * n,
            "zeros": [0.0] * n,
            "signed zeros": [(-0.0, 0.0)[k % 2] for k in range(n)],
            "negative": [-x for x in grid],
            "equal neighbours": [grid[k - k % 2] for k in range(n)],
            "constant": [start] * n,
            "decreasing": grid[::-1],
            "subnormal": [5e-324 * (k + 1) for k in range(n)],
            "huge": [1.7976931348623157e308 / (k + 1) for k in range(n)],
            "alternating": [grid[0] if k % 2 else grid[-1] for k in range(n)],
            "one point": grid[:1],
            "empty": [],
        }

    SCALARS = {"NaN": NAN, "inf": INF, "-inf": -INF, "zero": 0.0, "-0": -0.0, "negative": -2.5,
               "huge": 1.7976931348623157e308, "subnormal": 5e-324}

    # name: (normal arguments as builders of size n, sizes, vector params, scalar params)
    gamma = lambda n: log_grid(n, 1.5, 4.0 / max(n, 1))
    density = lambda n: [g ** -2.2 for g in gamma(n)]
    freqs = lambda n: log_grid(n, 1e8, 12.0 / max(n, 1))
    KERNELS = {
        "eq_59_park1995": (lambda n: {"t": 1.0, "g": gamma(n)}, {"g": 300}),
        "fp_findif_difu": (lambda n: {"dt_in": 1.0, "gamma_bins": gamma(n), "nin": density(n),
                                      "gdot_in": [1e-8 * g * g for g in gamma(n)],
                                      "din": [1e-9 * g * g for g in gamma(n)],
                                      "qin": [0.0] * n, "tesc_in": 1e3, "tlc": 1.0},
                           {v: 300 for v in ("gamma_bins", "nin", "gdot_in", "din", "qin")}),
        "syn_emissivity_full": (lambda n: {"freqs": freqs(6), "gamma_bins": gamma(n),
                                           "n_distrib": density(n), "b_field": 0.1,
                                           "with_abs": True},
                                {"freqs": 6, "gamma_bins": 48, "n_distrib": 48}),
        "ic_iso_powlaw_full": (lambda n: {"freqs": freqs(n), "inu": [1e-12] * n,
                                          "g": gamma(n), "n": density(n)},
                               {"freqs": 40, "inu": 40, "g": 40, "n": 40}),
        "ic_iso_monochrome_full": (lambda n: {"freqs": freqs(n), "uext": 1e-9, "nuext": 1e14,
                                              "n": density(n), "g": gamma(n)},
                                   {"freqs": 300, "n": 300, "g": 300}),
        "rad_cool_pwl": (lambda n: {"gg": log_grid(n, 1e3, 3.0 / max(n, 1)),
                                    "freqs": log_grid(n, 1e13, 5.0 / max(n, 1)),
                                    "uu": [1e-20] * n, "with_kn": True},
                         {"gg": 40, "freqs": 40, "uu": 40}),
        "rad_cool_mono": (lambda n: {"gg": gamma(n), "nu0": 1e14, "u0": 1e-9, "with_kn": True},
                          {"gg": 300}),
        "rad_trans_blob": (lambda n: {"blob_radius": 1e15, "j_nu": [1e-20] * n,
                                      "a_nu": [1e-16] * n},
                           {"j_nu": 300, "a_nu": 300}),
        "rad_trans_slab": (lambda n: {"blob_radius": 1e15, "j_nu": [1e-20] * n,
                                      "a_nu": [1e-16] * n},
                           {"j_nu": 300, "a_nu": 300}),
        "gofb": (lambda n: {"arg": [0.5] * n}, {"arg": 300}),
        "bofg": (lambda n: {"arg": gamma(n)}, {"arg": 300}),
    }

    def cases():
        for name, (normal, sizes) in KERNELS.items():
            n = max(sizes.values())
            base = normal(min(sizes.values()))
            for param, value in base.items():
                if isinstance(value, float):
                    for label, x in SCALARS.items():
                        yield name, f"{param}={label}", dict(base, **{param: x})
            for label in patterns(2, 1.0, 1.0):
                # one vector spoiled at a time, then all of them together
                for spoiled in list(sizes) + ["all"]:
                    kwargs = normal(min(sizes[p] for p in sizes))
                    for param, size in sizes.items():
                        if spoiled in (param, "all"):
                            kwargs[param] = patterns(size, 1.5 if "freq" not in param else 1e8,
                                                     0.05)[label]
                    yield name, f"{spoiled}: {label}", kwargs
            for flag in ("with_abs", "with_kn"):
                if flag in base:
                    yield name, f"{flag}=False", dict(base, **{flag: False})

    def slow_integrations():
        # Klein-Nishina segments from x0 = 0.001 to x1 = 1e5: the Romberg
        # integration of (x+1)^-1.5 over eight decades samples its peak
        # poorly and needs 19 or 20 stages (up to 2^19 evaluations) per
        # segment.  8 Lorentz factors x 4 such segments.
        nu = [(1e-3, 1e5)[k % 2] / (2.61498035745506e-20 * 1e4) for k in range(8)]
        yield "rad_cool_pwl", "segments of 20 Romberg stages", {
            "gg": [1e4] * 8, "freqs": nu, "uu": [1.0] * 8, "with_kn": True}

    warnings.simplefilter("ignore")
    for name, label, kwargs in list(cases()) + list(slow_integrations()):
        start = time.perf_counter()
        try:
            getattr(ostrel, name)(**kwargs)
            outcome = "result"
        except BaseException as error:
            outcome = type(error).__name__
        seconds = time.perf_counter() - start
        print(json.dumps([name, label, outcome, seconds]), flush=True)
""")


def test_adversarial_numbers_return_promptly():
    stdout, _ = run_child(ADVERSARIAL_CALLS, timeout=240)
    calls = [json.loads(line) for line in stdout.splitlines() if line.startswith("[")]
    assert len(calls) > 500
    slowest = {}
    for name, label, outcome, seconds in calls:
        assert outcome in ("result", "PanicException"), (name, label, outcome)
        assert seconds < CALL_LIMIT, (name, label, seconds)
        if seconds > slowest.get(name, ("", 0.0))[1]:
            slowest[name] = (label, seconds)
    # Every kernel was reached with results as well as with fatal errors.
    assert {name for name, _, outcome, _ in calls if outcome == "result"} == set(slowest)
    print(f"\n{len(calls)} adversarial calls; slowest per function:")
    for name, (label, seconds) in sorted(slowest.items(), key=lambda item: -item[1][1]):
        print(f"  {name:24s} {seconds * 1e3:9.2f} ms  ({label})")


# ---------------------------------------------------------------------------
# The early exits of the Romberg integrations

class TestSynchrotronNanIntegrand:
    """Two equal neighbouring Lorentz factors with equal densities give the
    segment the index -ln(1)/ln(1) = NaN: the integration can never converge,
    and is given up at once with the non-convergence report."""

    def test_nan_index_ends_at_once_with_the_report(self):
        code = textwrap.dedent("""
            import ostrel
            j, a = ostrel.syn_emissivity_full([1e9, 1e12], [10.0, 10.0, 20.0], [1.0, 1.0, 0.5],
                                              0.1, True)
            print(repr(j), repr(a))
        """)
        stdout, stderr = run_child(code, timeout=60)
        assert stdout.splitlines()[-1] == "[nan, nan] [nan, nan]"
        # One report per frequency and integral: RMA on stdout (its verdict on
        # stderr), ARMA on stderr.
        assert stdout.count("RMA_qromb error\n") == 2
        assert stdout.count("q      = NaN\n") == 2
        assert stderr.count("RMA_qromb: too many steps") == 4
        assert stderr.count("ARMA_qromb error\n") == 2

    def test_overflowing_integrand_ends_at_once(self):
        # gamma^(1-q) with q clamped to -8 overflows in the upper part of
        # [1e34, 1e35]: the estimates become infinite and stay so.
        code = textwrap.dedent("""
            import ostrel
            g0 = 1e34
            j, a = ostrel.syn_emissivity_full([g0 * g0 * 2799248.987233304], [g0, 10 * g0],
                                              [1.0, 1e8], 1.0, True)
            print(repr(j), repr(a))
        """)
        stdout, _ = run_child(code, timeout=60)
        assert stdout.splitlines()[-1] == "[nan] [0.0]"


class TestCoolingRombergFailure:
    """rad_cool_pwl with Klein-Nishina: two equal neighbouring frequencies with
    equal uu give q = NaN; where the segment is integrated numerically
    (0.001 <= x0 < 100) the integration fails and so does the call, promptly;
    the closed forms on either side give NaN instead."""

    CODE = textwrap.dedent("""
        import ostrel
        gamma, x0, with_kn = {gamma!r}, {x0!r}, {with_kn!r}
        nu = x0 / (2.61498035745506e-20 * gamma)
        try:
            print(repr(ostrel.rad_cool_pwl([gamma], [nu, nu, 2 * nu], [1.0, 1.0, 0.5], with_kn)))
        except BaseException as error:
            print(type(error).__name__, repr(error.args[0]))
    """)

    def outcome(self, x0, with_kn=True, gamma=1e4):
        stdout, _ = run_child(self.CODE.format(gamma=gamma, x0=x0, with_kn=with_kn), timeout=60)
        return stdout.splitlines()[-1]

    @pytest.mark.parametrize("x0", [0.002, 0.5, 2.0, 50.0])
    def test_numerical_segments_fail(self, x0):
        assert self.outcome(x0) == f"PanicException {TOO_MANY_STEPS!r}"

    @pytest.mark.parametrize("x0, with_kn", [(1e-4, True), (200.0, True), (2.0, False)])
    def test_closed_forms_give_nan(self, x0, with_kn):
        assert self.outcome(x0, with_kn) == "[nan]"


# ---------------------------------------------------------------------------
# Long parallel calls: interruption, re-entry, threads

# A synchrotron call that lasts at least LONG seconds: the number of
# frequencies is doubled until it does, whatever the speed of the machine and
# of the kernel.
LONG_CALL = textwrap.dedent("""
    import math, signal, threading, time, ostrel
    LONG = 0.3
    gamma = [10 ** (0.02 * k) for k in range(1, 202)]
    dens = [g ** -2.3 for g in gamma]
    def sized_freqs():
        n = 16
        while True:
            freqs = [10 ** (8 + 8.0 * k / n) for k in range(n)]
            start = time.perf_counter()
            ostrel.syn_emissivity_full(freqs, gamma, dens, 0.5, True)
            if time.perf_counter() - start >= LONG or n >= 1 << 16:
                return freqs
            n *= 2
    freqs = sized_freqs()
    def long_call():
        return ostrel.syn_emissivity_full(freqs, gamma, dens, 0.5, True)
    def small_call():
        return ostrel.syn_emissivity_full([1e9, 1e10], [10.0, 20.0, 40.0], [1.0, 0.5, 0.25],
                                          1.0, True)
""")


def test_signal_handler_interrupts_a_long_call():
    code = LONG_CALL + textwrap.dedent("""
        class Stop(Exception):
            pass
        def handler(signum, frame):
            raise Stop()
        signal.signal(signal.SIGALRM, handler)
        reference = small_call()
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        start = time.perf_counter()
        try:
            long_call()
            print("not interrupted")
        except Stop:
            print("interrupted after", time.perf_counter() - start)
        assert small_call() == reference   # the pool serves on
        print("ok")
    """)
    stdout, _ = run_child(code, timeout=60, threads="1")
    lines = stdout.splitlines()
    assert lines[-1] == "ok"
    assert lines[-2].startswith("interrupted after"), lines
    assert float(lines[-2].split()[-1]) < CALL_LIMIT


def test_signal_handler_may_call_the_module_during_a_long_call():
    # The handler runs on the thread that waits for the workers; its own
    # parallel call runs inline there instead of waiting on the busy pool.
    code = LONG_CALL + textwrap.dedent("""
        nested = []
        def handler(signum, frame):
            nested.append(small_call())
        reference_small = small_call()
        reference_long = long_call()
        signal.signal(signal.SIGALRM, handler)
        signal.setitimer(signal.ITIMER_REAL, 0.01, 0.01)
        result = long_call()
        signal.setitimer(signal.ITIMER_REAL, 0)
        assert result == reference_long
        assert nested and all(r == reference_small for r in nested)
        print("ok", len(nested))
    """)
    stdout, _ = run_child(code, timeout=120)
    assert stdout.splitlines()[-1].startswith("ok")


def test_threads_share_the_pool_without_deadlock():
    code = LONG_CALL + textwrap.dedent("""
        reference = small_call()
        failures = []
        def worker():
            for _ in range(30):
                if small_call() != reference:
                    failures.append("differs")
                try:
                    ostrel.rad_cool_pwl([1e4], [1e15, 1e15, 2e15], [1.0, 1.0, 0.5], True)
                except BaseException as error:
                    if type(error).__name__ != "PanicException":
                        failures.append(repr(error))
        threads = [threading.Thread(target=worker) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert not failures, failures
        print("ok")
    """)
    stdout, _ = run_child(code, timeout=120)
    assert stdout.splitlines()[-1] == "ok"

