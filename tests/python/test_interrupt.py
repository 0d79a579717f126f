"""Ctrl-C during a long parallel kernel ends the call with the signal's
exception, returns no partial result, and leaves the module working."""

import os
import signal
import subprocess
import sys
import textwrap
import time

SCRIPT = textwrap.dedent(
    """
    import signal, sys, time
    import ostrel

    {handler}
    # A heavy synchrotron call: many frequencies and a wide, fine grid
    # (several seconds on two threads).
    freqs = [10.0 ** (8 + 14 * k / 2999) for k in range(3000)]
    gamma = [10.0 ** (1 + 5 * i / 399) for i in range(400)]
    n = [g ** -2.5 for g in gamma]
    reference = ostrel.syn_emissivity_full(freqs[:8], gamma[:40], n[:40], 1.0, True)

    print("started", flush=True)
    start = time.monotonic()
    result = None
    try:
        result = ostrel.syn_emissivity_full(freqs, gamma, n, 1.0, True)
    except {expected} as exc:
        print("interrupted after %.2f s: %r" % (time.monotonic() - start, exc), flush=True)
    else:
        print("not interrupted", flush=True)
        sys.exit(3)
    assert result is None
    again = ostrel.syn_emissivity_full(freqs[:8], gamma[:40], n[:40], 1.0, True)
    assert again == reference
    print("ok", flush=True)
    """
)


def run_interrupted(handler: str, expected: str) -> list[str]:
    # The interpreter lock is held for the whole kernel call, so the signal has
    # to come from outside the process.
    env = dict(os.environ, RAYON_NUM_THREADS="2")
    code = SCRIPT.format(handler=handler, expected=expected)
    proc = subprocess.Popen(
        [sys.executable, "-c", code], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        text=True,
    )
    try:
        assert proc.stdout.readline().strip() == "started"
        time.sleep(0.3)
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=60)
    finally:
        proc.kill()
    assert proc.returncode == 0, err
    lines = out.strip().splitlines()
    assert lines[-1] == "ok"
    return lines


def test_sigint_raises_keyboard_interrupt_during_the_call():
    # Had the signal waited for the end of the call, the result would have been
    # assigned before the exception (the script asserts it was not).
    lines = run_interrupted("", "KeyboardInterrupt")
    assert lines[0].startswith("interrupted after")


def test_exception_of_a_custom_signal_handler_propagates():
    handler = (
        "def on_sigint(signum, frame):\n"
        "    raise TimeoutError('budget exhausted')\n"
        "signal.signal(signal.SIGINT, on_sigint)"
    )
    lines = run_interrupted(handler, "TimeoutError")
    assert "budget exhausted" in lines[0]
