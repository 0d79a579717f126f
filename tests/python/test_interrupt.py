"""Ctrl-C during a long parallel kernel of either module ends the call with
the signal's exception, returns no partial result, leaves no helper thread
busy, and leaves the module working.

The classic module holds the interpreter lock for the whole call and runs the
signal handlers while it waits for the workers; the accurate binding releases
the lock and takes it back every few milliseconds on the main thread to run
them.  Every call below takes seconds to tens of seconds on two threads; the
child times the same call on a twentieth of its points first, and a call that
is not cut short well before its end (a signal handled only once the call
returned) fails the test."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

SCRIPT = textwrap.dedent(
    """
    import os, signal, sys, time
    import numpy as np
    import ostrel
    import ostrel_models.kernels as K

    {handler}
    g = np.geomspace(10, 1e7, 200); n = g**-2.3
    seed_nu = np.geomspace(1e8, 1e20, 200); seed_u = seed_nu**-1.5

    def long_call(m):
        return {call}

    start = time.monotonic()
    long_call(0.05)
    full = (time.monotonic() - start) / 0.05

    def helpers_asleep():
        # The helpers spin briefly after a map, then sleep.
        for _ in range(200):
            states = []
            for tid in os.listdir("/proc/self/task"):
                with open(f"/proc/self/task/{{tid}}/comm") as f:
                    name = f.read().strip()
                with open(f"/proc/self/task/{{tid}}/stat") as f:
                    state = f.read().rsplit(")", 1)[1].split()[0]
                if name == "ostrel-worker":
                    states.append(state)
            if states and all(s == "S" for s in states):
                return True
            time.sleep(0.01)
        return False

    reference = K.synchrotron(np.logspace(8, 20, 8), g, n, 0.1)[0]
    classic_reference = ostrel.syn_emissivity_full([1e9, 1e12], list(g[:40]), list(n[:40]), 1.0, True)
    print("started", flush=True)
    result = None
    start = time.monotonic()
    try:
        result = long_call(1)
    except {expected} as exc:
        print("interrupted: %r" % (exc,), flush=True)
    else:
        print("not interrupted", flush=True)
        sys.exit(3)
    took = time.monotonic() - start
    assert result is None
    assert took < full / 4, (took, full)
    assert helpers_asleep()
    assert np.array_equal(K.synchrotron(np.logspace(8, 20, 8), g, n, 0.1)[0], reference)
    assert ostrel.syn_emissivity_full([1e9, 1e12], list(g[:40]), list(n[:40]), 1.0, True) == classic_reference
    print("ok", flush=True)
    """
)

# Each call on int(m * size) points: m = 1 is the long call, m = 0.05 its sample.
LONG_CALLS = {
    "classic synchrotron": "ostrel.syn_emissivity_full([10.0 ** (8 + 14 * k / 2999) for k in "
                           "range(int(m * 3000))], [10.0 ** (1 + 5 * i / 399) for i in range(400)], "
                           "[10.0 ** (-2.5 - 12.5 * i / 399) for i in range(400)], 1.0, True)",
    "synchrotron": "K.synchrotron(np.logspace(8, 22, int(m * 1_000_000)), g, n, 0.1)",
    "inverse_compton": "K.inverse_compton(np.logspace(8, 26, int(m * 200_000)), g, n, seed_nu, seed_u)",
    "inverse_compton_mono": "K.inverse_compton_mono(np.logspace(8, 26, int(m * 3_000_000)), g, n, 1e10, "
                            "1e-3)",
    "compton_cooling": "K.compton_cooling(np.geomspace(1, 1e8, int(m * 2_000_000)), seed_nu, seed_u)",
    "gamma_gamma_opacity": "K.gamma_gamma_opacity(np.logspace(8, 30, int(m * 3_000_000)), seed_nu, seed_u)",
}


def run_interrupted(call: str, handler: str = "", expected: str = "KeyboardInterrupt") -> str:
    # The signal comes from outside the process, as Ctrl-C does.
    env = dict(os.environ, RAYON_NUM_THREADS="2")
    code = SCRIPT.format(handler=handler, expected=expected, call=call)
    proc = subprocess.Popen([sys.executable, "-c", code], env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    try:
        assert proc.stdout.readline().strip() == "started"
        time.sleep(0.3)
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=60)
    finally:
        proc.kill()
    assert proc.returncode == 0, out + err
    lines = out.strip().splitlines()
    assert lines[-1] == "ok"
    return lines[0]


@pytest.mark.parametrize("kernel", list(LONG_CALLS))
def test_sigint_raises_keyboard_interrupt_during_the_call(kernel):
    assert run_interrupted(LONG_CALLS[kernel]).startswith("interrupted")


@pytest.mark.parametrize("kernel", ["classic synchrotron", "synchrotron"])
def test_exception_of_a_custom_signal_handler_propagates(kernel):
    handler = (
        "def on_sigint(signum, frame):\n"
        "    raise TimeoutError('budget exhausted')\n"
        "signal.signal(signal.SIGINT, on_sigint)"
    )
    line = run_interrupted(LONG_CALLS[kernel], handler, "TimeoutError")
    assert "budget exhausted" in line
