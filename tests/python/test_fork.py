"""A process whose worker pool already exists forks: the child's parallel
kernels work (on a pool of its own) and give the parent's results bit for
bit, with os.fork(), with multiprocessing's "fork" start method, and when the
fork happens in a signal handler in the middle of a parallel call.

Each scenario runs in a child interpreter under a timeout, so that a child
deadlocked on a lock held at the fork fails the test instead of blocking.
"""

import os
import textwrap

import pytest

from conftest import run_child

TIMEOUT = 60

# Shared by every scenario: the three kinds of parallel kernels, results as
# hex strings (bit for bit), and the number of pool threads.
PRELUDE = textwrap.dedent("""
    import math, os, signal, sys, time, warnings
    import ostrel
    # 3.12 warns that forking a multi-threaded process may deadlock the
    # child: that is what these scenarios check.
    warnings.simplefilter("ignore", DeprecationWarning)

    gamma = [10 ** (0.1 * k) for k in range(1, 41)]
    dens = [g ** -2.3 * math.exp(-g / 5e3) for g in gamma]
    freqs = [10 ** (8 + 0.5 * k) for k in range(20)]
    seed = [1e-12 * math.sqrt(f) for f in freqs]

    def parallel_results(scale=1.0):
        j, a = ostrel.syn_emissivity_full(freqs, gamma, dens, 0.7 * scale, True)
        ic = ostrel.ic_iso_powlaw_full(freqs, seed, gamma, dens)
        cool = ostrel.rad_cool_pwl(gamma, freqs, [1e-20 * scale] * len(freqs), True)
        mono = ostrel.rad_cool_mono(gamma, 1e14, 1e-9 * scale, True)
        return " ".join(x.hex() for x in j + a + ic + cool + mono)

    # A call of at least 0.3 s: frequencies are doubled until it lasts that
    # long, whatever the speed of the machine and of the kernel.
    big = [10 ** (0.02 * k) for k in range(1, 152)]
    big_dens = [g ** -2.3 for g in big]
    long_freqs = []
    def long_call():
        if not long_freqs:
            n = 16
            while True:
                long_freqs[:] = [10 ** (8 + 8.0 * k / n) for k in range(n)]
                start = time.perf_counter()
                ostrel.syn_emissivity_full(long_freqs, big, big_dens, 0.5, True)
                if time.perf_counter() - start >= 0.3 or n >= 1 << 16:
                    break
                n *= 2
        return ostrel.syn_emissivity_full(long_freqs, big, big_dens, 0.5, True)

    def pool_threads():  # W - 1 helpers: the calling thread is the W-th
        count = 0
        for tid in os.listdir("/proc/self/task"):
            with open(f"/proc/self/task/{tid}/comm") as f:
                count += f.read().strip() == "ostrel-worker"
        return count

    def wait_child(pid):
        _, status = os.waitpid(pid, 0)
        assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0, status
""")


def run_scenario(code):
    stdout, _ = run_child(PRELUDE + textwrap.dedent(code), timeout=TIMEOUT,
                          hang="deadlock after fork?")
    return stdout.splitlines()


def test_os_fork_child_computes_the_parents_results():
    lines = run_scenario("""
        reference = parallel_results()
        assert pool_threads() == 1
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.close(read_end)
            try:
                first = parallel_results()
                second = parallel_results()
                report = f"{first == reference} {second == reference} {pool_threads()}"
            except BaseException as error:
                report = repr(error)
            os.write(write_end, report.encode())
            os._exit(0)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            print("child", pipe.read())
        wait_child(pid)
        print("parent", parallel_results() == reference, pool_threads())
    """)
    # The child builds a pool of its own (its parent's threads were not
    # copied) and the parent's pool is unchanged.
    assert lines[-2:] == ["child True True 1", "parent True 1"]


def test_fork_before_the_pool_exists_and_fork_again_in_the_child():
    lines = run_scenario("""
        pid = os.fork()
        if pid == 0:
            # No pool yet in either process: the child makes the first one.
            reference = parallel_results()
            grandchild = os.fork()
            if grandchild == 0:
                os._exit(0 if parallel_results() == reference else 1)
            wait_child(grandchild)
            os._exit(0 if parallel_results() == reference else 1)
        wait_child(pid)
        assert pool_threads() == 0
        parallel_results()
        print("ok", pool_threads())
    """)
    assert lines[-1] == "ok 1"


@pytest.mark.parametrize("use_pool", [True, False], ids=["Pool.map", "Process"])
def test_multiprocessing_fork_start_method(use_pool):
    lines = run_scenario(f"""
        import multiprocessing
        scales = [1.0, 2.0, 0.5]
        reference = [parallel_results(s) for s in scales]
        context = multiprocessing.get_context("fork")
        if {use_pool!r}:
            with context.Pool(2) as workers:
                results = workers.map(parallel_results, scales)
        else:
            queue = context.Queue()
            procs = [context.Process(target=lambda s=s: queue.put((s, parallel_results(s))))
                     for s in scales]
            for p in procs:
                p.start()
            got = dict(queue.get(timeout=50) for _ in procs)
            for p in procs:
                p.join()
                assert p.exitcode == 0
            results = [got[s] for s in scales]
        print("same", results == reference)
        print("parent", [parallel_results(s) for s in scales] == reference)
    """)
    assert lines[-2:] == ["same True", "parent True"]


@pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="AddressSanitizer's allocator is not guarded across fork() while workers run",
)
def test_fork_in_a_signal_handler_during_a_parallel_call():
    # The waiting thread runs signal handlers; one that forks leaves the
    # child inside a parallel call whose workers were not copied.  The child's
    # call must fail (not wait forever) and its next call must work; the
    # parent's call completes with the right result.
    lines = run_scenario("""
        reference_long = long_call()
        reference = parallel_results()
        child = []
        in_call = [False]
        def handler(signum, frame):
            if in_call[0] and not child:
                # Claimed before forking: a nested run of this handler (an
                # alarm during the fork) must not fork again.
                child.append(None)
                child[0] = os.fork()
        signal.signal(signal.SIGALRM, handler)
        signal.setitimer(signal.ITIMER_REAL, 0.02, 0.01)
        in_call[0] = True
        try:
            outcome = long_call() == reference_long
        except BaseException as error:
            outcome = (type(error).__name__, str(error))
        in_call[0] = False
        signal.setitimer(signal.ITIMER_REAL, 0)
        if child == [0]:
            ok = (isinstance(outcome, tuple) and outcome[0] == "PanicException"
                  and "fork" in outcome[1] and parallel_results() == reference)
            os._exit(0 if ok else 1)
        assert child and child[0] > 0, "no alarm during the call"
        wait_child(child[0])
        print("parent", outcome, parallel_results() == reference)
    """)
    assert lines[-1] == "parent True True"
