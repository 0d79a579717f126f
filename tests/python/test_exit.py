"""The interpreter exits cleanly (code 0, nothing on standard error) while
daemon threads are inside kernels of either module: the accurate kernels run
without the interpreter lock, and a thread that finishes one after the
interpreter began to finalize must neither retake the lock nor be ended
through a frame that cannot unwind."""

import subprocess
import sys
import textwrap

import pytest

# Each body starts daemon threads that call kernels in a loop, lets them get
# inside, and returns: the interpreter then exits with the threads running.
SETUP = """
import threading, time
import numpy as np
import astropy.units as u
import ostrel
import ostrel_models.kernels as K
from ostrel_models import Blob, PowerLaw
g = np.geomspace(10, 1e7, 60); nu = np.logspace(8, 22, 3000)
def forever(call):
    def loop():
        while True:
            call()
    threading.Thread(target=loop, daemon=True).start()
"""

ACCURATE = "lambda: K.synchrotron(nu, g, g**-2.3, 0.1)"
# Short calls, so that threads keep finishing kernels and asking for the lock
# while the interpreter finalizes.
ACCURATE_SHORT = "lambda: K.compton_cooling_mono(g, 1e10, 1e-3)"
CLASSIC = ("lambda: ostrel.syn_emissivity_full(list(nu[::10]), list(g), list(g**-2.3), 0.1, "
           "True)")
SED = ("lambda: Blob(radius=1e15 * u.cm, B=0.1 * u.G, doppler=10.0, z=0.1, "
       "electrons=PowerLaw(2.3, 10.0, 1e6), density=1.0 * u.cm**-3).sed(nu[::30] * u.Hz)")


@pytest.mark.parametrize("calls", [
    [ACCURATE],
    [ACCURATE] * 3 + [ACCURATE_SHORT] * 3,
    [ACCURATE, CLASSIC, ACCURATE_SHORT, CLASSIC],
    [SED, SED, ACCURATE_SHORT],
], ids=["one accurate", "six accurate", "both modules", "Blob.sed"])
@pytest.mark.parametrize("threads", ["1", "2"])
def test_exit_with_daemon_threads_inside_kernels(calls, threads):
    code = SETUP + "".join(f"forever({call})\n" for call in calls) + "time.sleep(0.5)\n"
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=120, env={**__import__("os").environ,
                                                      "RAYON_NUM_THREADS": threads})
    assert (done.returncode, done.stderr) == (0, "")
