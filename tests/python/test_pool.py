"""The worker pool as seen from Python: its size, determinism, failures."""

import os
import subprocess
import sys
import textwrap

import pytest

import ostrel

# A call heavy enough that the workers share it, with uneven costs per
# frequency (the high frequencies see fewer emitting electrons).
HEAVY_CALL = textwrap.dedent("""
    import math, ostrel
    gamma = [10 ** (0.1 * k) for k in range(3, 45)]
    n = [g ** -2.3 * math.exp(-g / 5e3) for g in gamma]
    freqs = [10 ** (8 + 0.25 * k) for k in range(40)]
    j, a = ostrel.syn_emissivity_full(freqs, gamma, n, 0.7, True)
""")

COUNT_WORKERS = textwrap.dedent("""
    def count_workers():
        names = []
        for tid in os.listdir("/proc/self/task"):
            with open(f"/proc/self/task/{tid}/comm") as f:
                names.append(f.read().strip())
        return names.count("ostrel-worker")
""")


def run_python(code, **env_changes):
    """Runs code in a fresh interpreter with the environment changed (None
    removes a variable) and returns its standard output."""
    env = dict(os.environ)
    for name in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS"):
        env.pop(name, None)
    for name, value in env_changes.items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    done = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout


def pool_size_with(**env):
    """W of a fresh interpreter: the calling thread evaluates too, so the
    pool has W - 1 helper threads."""
    code = "import os, ostrel\n" + COUNT_WORKERS + textwrap.dedent("""
        ostrel.syn_emissivity_full([1e9], [10.0, 20.0], [1.0, 0.5], 1.0, False)
        print(count_workers())
    """)
    return int(run_python(code, **env)) + 1


class TestPoolSize:
    def test_environment_rules(self):
        processors = pool_size_with()
        assert 1 <= processors <= len(os.sched_getaffinity(0))
        assert pool_size_with(RAYON_NUM_THREADS="1") == 1
        assert pool_size_with(RAYON_NUM_THREADS="3", RAYON_RS_NUM_CPUS="5") == 3
        # 0 asks for the processor count even when the second variable is set.
        assert pool_size_with(RAYON_NUM_THREADS="0", RAYON_RS_NUM_CPUS="5") == processors
        # Not an unsigned integer: the second variable decides.
        assert pool_size_with(RAYON_NUM_THREADS="+2", RAYON_RS_NUM_CPUS="5") == 5
        assert pool_size_with(RAYON_RS_NUM_CPUS="0") == processors

    def test_size_is_fixed_when_the_pool_is_created(self):
        code = "import os, ostrel\n" + COUNT_WORKERS + textwrap.dedent("""
            assert count_workers() == 0  # nothing at import
            ostrel.rad_cool_mono([2.0, 3.0], 1e14, 1e-9, False)
            first = count_workers()
            os.environ["RAYON_NUM_THREADS"] = "4"
            ostrel.syn_emissivity_full([1e9], [10.0, 20.0], [1.0, 0.5], 1.0, False)
            print(first, count_workers())
        """)
        assert run_python(code, RAYON_NUM_THREADS="3").split() == ["2", "2"]


@pytest.mark.parametrize("first", ["ostrel", "ostrel_models"])
def test_one_pool_for_both_modules(first):
    # Whichever module maps first creates the process's one pool; the other
    # uses it: the helpers are W - 1 threads, not twice that.
    classic = "ostrel.syn_emissivity_full([1e9], [10.0, 20.0], [1.0, 0.5], 1.0, False)\n"
    accurate = "kernels.synchrotron([1e9], [10.0, 20.0], [1.0, 0.5], 1.0)\n"
    calls = classic + accurate if first == "ostrel" else accurate + classic
    code = ("import os, ostrel\nfrom ostrel_models import kernels\n" + COUNT_WORKERS + calls +
            "print(count_workers())\n")
    assert run_python(code, RAYON_NUM_THREADS="3") == "2\n"
    assert run_python(code, RAYON_NUM_THREADS="1000") == "999\n"


def test_results_identical_for_every_pool_size():
    code = HEAVY_CALL + "print(' '.join(x.hex() for x in j + a))"
    outputs = {w: run_python(code, RAYON_NUM_THREADS=str(w)) for w in (1, 2, 3)}
    assert outputs[1] == outputs[2] == outputs[3]
    assert len(outputs[1].split()) == 80


def test_fatal_error_in_a_worker_and_the_pool_serves_on(panic_type):
    gamma = [10.0, 20.0, 40.0, 80.0]
    for _ in range(3):
        with pytest.raises(panic_type) as info:
            ostrel.syn_emissivity_full([1e8 * 3 ** k for k in range(30)], gamma,
                                       [1.0, 0.5, 0.25], 1.0, True)
        assert info.value.args == ("ndarray: index out of bounds",)
    j, a = ostrel.syn_emissivity_full([1e9, 1e10], gamma, [1.0, 0.5, 0.25, 0.125], 1.0, True)
    assert all(x > 0 for x in j + a)
