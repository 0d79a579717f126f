"""Generated calls of all twelve functions: whatever the arguments, a call
returns a result of the right shape or ends with one of the module's errors.

Two families of tests:

* arbitrary objects in every argument position (numbers of every kind,
  strings, containers, NumPy arrays, objects whose own methods raise or lie),
  positional and keyword calls, occasionally mangled bindings;
* well-typed calls whose numbers are adversarial (NaN, infinities, signed
  zeros, subnormals, huge values, zero or negative grids, equal neighbouring
  grid points, decreasing grids) and whose vectors have mismatched lengths.

Every call must end in a result of the right shape, a TypeError, an
OverflowError, the error raised by an argument's own method, or a
PanicException with one of the kernels' messages: never a crash, a hang, a
SystemError or any other exception.  A watchdog ends the process with a
traceback if one call takes more than WATCHDOG_SECONDS.

Profiles: OSTREL_FUZZ_PROFILE=ci (default, a few dozen examples per test) or
OSTREL_FUZZ_PROFILE=long (thousands).  Grid sizes are bounded per function so
that the Romberg kernels stay fast: the synchrotron kernel costs
len(freqs) x len(gamma_bins) integrations per call.
"""

import array
import faulthandler
import functools
import math
import os
import time
import warnings

import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

import ostrel
from conftest import (BROADCAST, FP_CHECK, INDEX, POLINT_FAILED, TOO_MANY_STEPS, TRIDAG,
                      panic_exception_type, stub_declarations)

try:
    import numpy as np
except ImportError:  # the NumPy cases are left out
    np = None

# Registered under names of their own so that Hypothesis' built-in "ci"
# profile, which other test files may run under, stays as it is.
_COMMON = dict(deadline=None, print_blob=True,
               suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large,
                                      HealthCheck.filter_too_much])
settings.register_profile("ostrel-fuzz-ci", max_examples=40, **_COMMON)
settings.register_profile("ostrel-fuzz-long", max_examples=3000, **_COMMON)
PROFILE = os.environ.get("OSTREL_FUZZ_PROFILE", "ci")
if PROFILE not in ("ci", "long"):
    raise RuntimeError(f"OSTREL_FUZZ_PROFILE must be 'ci' or 'long', not {PROFILE!r}")
FUZZ = settings.get_profile(f"ostrel-fuzz-{PROFILE}")

WATCHDOG_SECONDS = 60

NAN, INF = math.nan, math.inf

# Parameter names and kinds of every function, as the stubs declare them (a
# C++ test holds the stubs to the module's function table).
SIGNATURES = {name: tuple((param, kind) for param, kind, _ in declared)
              for name, declared in stub_declarations()[1].items()}
FUNCTIONS = list(SIGNATURES)

# Longest vector per argument.  The cost of the Romberg kernels grows with
# the product of their grid lengths; entries beyond a grid's length are never
# read, so the companion vectors may be long.
DEFAULT_MAX_LEN = 300
MAX_LEN = {
    ("syn_emissivity_full", "freqs"): 6,
    ("syn_emissivity_full", "gamma_bins"): 48,
    ("ic_iso_powlaw_full", "freqs"): 40,
    ("ic_iso_powlaw_full", "g"): 40,
    ("rad_cool_pwl", "gg"): 40,
    ("rad_cool_pwl", "freqs"): 40,
}


def max_len(function, param):
    return MAX_LEN.get((function, param), DEFAULT_MAX_LEN)


# The argument whose length is the length of each result list.
RESULT_LENGTH_FROM = {
    "eq_59_park1995": "g",
    "fp_findif_difu": "gamma_bins",
    "syn_emissivity_full": "freqs",
    "rad_trans_blob": "j_nu",
    "ic_iso_powlaw_full": "freqs",
    "rad_cool_pwl": "gg",
    "rad_cool_mono": "gg",
    "ic_iso_monochrome_full": "freqs",
    "rad_trans_slab": "j_nu",
}

# The texts with which each kernel may legitimately fail.
PANIC_TEXTS = {
    "get_c": (),
    "gofb": (),
    "bofg": (),
    "eq_59_park1995": (),
    "fp_findif_difu": (INDEX, FP_CHECK, POLINT_FAILED) + TRIDAG,
    "syn_emissivity_full": (INDEX, POLINT_FAILED),
    "rad_trans_blob": (INDEX,),
    "ic_iso_powlaw_full": (INDEX,),
    "rad_cool_pwl": (INDEX, TOO_MANY_STEPS, POLINT_FAILED),
    "rad_cool_mono": (),
    "ic_iso_monochrome_full": (INDEX,),
    "rad_trans_slab": (INDEX,),
}
PANIC_PREFIXES = {"fp_findif_difu": (BROADCAST,)}


PANIC = panic_exception_type()


# ---------------------------------------------------------------------------
# Objects that misbehave in the ways the conversion has to survive.

class OwnError(Exception):
    """Raised by an argument's own method; must reach the caller unchanged."""


class OwnBaseError(BaseException):
    """The same, outside the Exception hierarchy (like KeyboardInterrupt)."""


class FloatRaises:
    def __init__(self, error=OwnError):
        self.error = error

    def __float__(self):
        raise self.error("__float__ failed")

    def __repr__(self):
        return f"FloatRaises({self.error.__name__})"


class FloatReturns:
    """__float__ returns something that is not a float (or a float subclass,
    which the interpreter accepts with a DeprecationWarning)."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value

    def __repr__(self):
        return f"FloatReturns({self.value!r})"


class FloatSub(float):
    pass


class IndexReturns:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, type) and issubclass(self.value, BaseException):
            raise self.value("__index__ failed")
        return self.value

    def __repr__(self):
        return f"IndexReturns({self.value!r})"


class FloatCallsModule:
    """__float__ calls the module again (a kernel with a worker-pool map)."""

    def __float__(self):
        j_nu, _ = ostrel.syn_emissivity_full([1e9], [10.0, 20.0], [1.0, 0.5], 1.0, False)
        return j_nu[0]

    def __repr__(self):
        return "FloatCallsModule()"


class Sequence:
    """A sequence by the interpreter's check (it has __getitem__ and __len__)
    whose length, iteration or items misbehave as configured."""

    def __init__(self, items, length=None, iter_error=None, fail_after=None):
        self.items = list(items)
        self.length = length
        self.iter_error = iter_error
        self.fail_after = fail_after

    def __len__(self):
        if isinstance(self.length, type):
            raise self.length("__len__ failed")
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, index):
        return self.items[index]

    def __iter__(self):
        if self.iter_error == "not an iterator":
            return 5
        if self.iter_error is not None:
            raise self.iter_error("__iter__ failed")
        return self._generate()

    def _generate(self):
        for k, item in enumerate(self.items):
            if self.fail_after is not None and k == self.fail_after:
                raise OwnError("iteration failed")
            yield item

    def __repr__(self):
        return (f"Sequence({self.items!r}, length={self.length!r}, "
                f"iter_error={self.iter_error!r}, fail_after={self.fail_after!r})")


class GetitemOnly:
    """The old sequence protocol: iteration by __getitem__ until IndexError."""

    def __init__(self, items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        return self.items[index]

    def __repr__(self):
        return f"GetitemOnly({self.items!r})"


class ListIterRaises(list):
    """A list subclass whose iterator fails (so not read by index)."""

    def __iter__(self):
        raise OwnError("list subclass iteration failed")


class StrSub(str):
    pass


class Shrinker:
    """An item whose __float__ empties the list that holds it."""

    def __init__(self, holder):
        self.holder = holder

    def __float__(self):
        self.holder.clear()
        return 1.5

    def __repr__(self):
        return "Shrinker(<holder>)"


class FloatAndSequence:
    """Both a number and a sequence: the float reading wins for gofb/bofg."""

    def __float__(self):
        return 0.25

    def __len__(self):
        return 2

    def __getitem__(self, index):
        return (0.5, 0.75)[index]

    def __repr__(self):
        return "FloatAndSequence()"


class UnprintableName(str):
    """A keyword name whose str() fails (the unexpected-keyword message
    prints the name)."""

    __hash__ = str.__hash__

    def __str__(self):
        raise OwnError("name refuses str()")


def _generator():
    yield 1.0


# ---------------------------------------------------------------------------
# Strategies

SPECIAL_FLOATS = [NAN, -NAN, INF, -INF, 0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308,
                  1.7976931348623157e308, -1.7976931348623157e308, 1.0, -1.0, 1.0000000001,
                  0.9999999999, 1e-100, 1e-200, 1e100, 1e200, 100.0, 1e-3, 0.75, 2.0]

adversarial_floats = st.one_of(
    st.sampled_from(SPECIAL_FLOATS),
    st.floats(),  # includes NaN, infinities and subnormals
    st.floats(min_value=1e-30, max_value=1e30),
    st.floats(min_value=1.0, max_value=1e6),
)

huge_ints = st.one_of(
    st.integers(min_value=2**1023, max_value=2**1100),
    st.integers(min_value=-2**1100, max_value=-2**1023),
    st.just(2**1024), st.just(-2**1024), st.just(10**400),
)

number_like = st.one_of(
    adversarial_floats,
    st.integers(min_value=-2**70, max_value=2**70),
    huge_ints,
    st.booleans(),
    st.builds(FloatSub, adversarial_floats),
    st.fractions(max_denominator=10**6),
    st.decimals(allow_nan=True, allow_infinity=True, places=None),
    st.complex_numbers(max_magnitude=1e10),
    st.builds(IndexReturns, st.one_of(st.integers(-10, 10), huge_ints, st.just(OwnError),
                                      st.just(OwnBaseError), st.just(1.5))),
    st.builds(FloatRaises, st.sampled_from([OwnError, OwnBaseError, TypeError, ValueError,
                                            OverflowError])),
    st.builds(FloatReturns, st.one_of(adversarial_floats, st.text(max_size=3), st.none(),
                                      st.integers(0, 5), st.builds(FloatSub, adversarial_floats))),
    st.just(FloatCallsModule()),
)

misfits = st.one_of(
    st.none(),
    st.text(max_size=6),
    st.builds(StrSub, st.text(max_size=3)),
    st.binary(max_size=6),
    st.builds(bytearray, st.binary(max_size=6)),
    st.builds(memoryview, st.binary(max_size=6)),
    st.lists(st.floats(), max_size=6).map(lambda xs: memoryview(array.array("d", xs))),
    st.binary(min_size=2, max_size=6).map(  # iterating a 2-d view raises NotImplementedError
        lambda b: memoryview(b[: 2 * (len(b) // 2)]).cast("B", shape=[2, len(b) // 2])),
    st.dictionaries(st.integers(0, 3), st.floats(), max_size=3),
    st.sets(st.integers(0, 5), max_size=3),
    st.frozensets(st.integers(0, 5), max_size=3),
    st.builds(lambda: _generator()),
    st.builds(object),
    st.just(ostrel),
    st.just(float),
    st.just(Ellipsis),
)


def vector_elements():
    # Mostly plain floats, so that many calls reach the kernels.
    return st.one_of(adversarial_floats, adversarial_floats, adversarial_floats, number_like,
                     misfits, st.lists(st.floats(), max_size=2))


def plain_vectors(max_size):
    # Long vectors of floats; short ones of anything (generating long lists
    # of arbitrary objects would take most of the test's time).
    floats_only = st.lists(adversarial_floats, max_size=max_size)
    mixed = st.lists(vector_elements(), max_size=min(max_size, 12))
    strategies = [
        floats_only, mixed, mixed,
        floats_only.map(tuple), mixed.map(tuple),
        st.lists(st.floats(), max_size=max_size).map(lambda xs: array.array("d", xs)),
        st.lists(st.integers(-128, 127), max_size=max_size).map(lambda xs: array.array("b", xs)),
        st.builds(range, st.integers(-5, 5), st.integers(-5, min(max_size, 50))),
    ]
    if np is not None:
        floats = st.lists(adversarial_floats, max_size=max_size)
        strategies += [
            floats.map(lambda xs: np.array(xs, dtype=np.float64)),
            floats.map(_float32_array),
            st.lists(st.integers(-2**40, 2**40), max_size=max_size).map(np.array),
            st.lists(st.booleans(), max_size=max_size).map(lambda xs: np.array(xs, dtype=bool)),
            st.lists(st.complex_numbers(max_magnitude=1e3), max_size=max_size).map(np.array),
            floats.map(lambda xs: np.array(xs[: 2 * (len(xs) // 2)]).reshape(-1, 2)),
            floats.map(lambda xs: np.array(xs).reshape(-1, 1)),
            adversarial_floats.map(np.array),  # 0-d
            st.lists(vector_elements(), max_size=min(max_size, 8)).map(_object_array),
        ]
    return st.one_of(*strategies)


def _float32_array(values):
    with np.errstate(over="ignore"):
        return np.array(values, dtype=np.float32)


def _object_array(items):
    """A one-dimensional NumPy array of arbitrary Python objects."""
    out = np.empty(len(items), dtype=object)
    for i, item in enumerate(items):
        out[i] = item
    return out


def odd_vectors(max_size):
    items = st.lists(adversarial_floats, max_size=max_size)
    return st.one_of(
        st.builds(Sequence, items, length=st.one_of(
            st.none(), st.sampled_from([OwnError, OwnBaseError, TypeError, OverflowError]),
            st.just(-1), st.just(2**62), st.integers(0, 2 * max_size)),
            iter_error=st.one_of(st.none(), st.sampled_from([OwnError, OwnBaseError,
                                                             "not an iterator"])),
            fail_after=st.one_of(st.none(), st.integers(0, 5))),
        st.builds(GetitemOnly, items),
        st.builds(ListIterRaises, items),
        items.map(_with_shrinker),
        st.just(FloatAndSequence()),
    )


def _with_shrinker(items):
    holder = list(items)
    holder.insert(len(holder) // 2, Shrinker(holder))
    return holder


@functools.lru_cache(maxsize=None)
def anything(max_size):
    return st.one_of(number_like, misfits, plain_vectors(max_size), odd_vectors(max_size),
                     st.lists(st.lists(st.floats(), max_size=3), max_size=3))


@functools.lru_cache(maxsize=None)
def argument(kind, size):
    """Mostly the right kind of object, sometimes anything at all."""
    if kind == "float":
        right = st.one_of(adversarial_floats, number_like)
    elif kind == "vector":
        right = st.one_of(plain_vectors(size), plain_vectors(size), odd_vectors(size))
    elif kind == "flag":
        right = st.booleans()
    elif kind == "optional_flag":
        right = st.one_of(st.booleans(), st.none())
    else:  # float_or_vector
        right = st.one_of(number_like, plain_vectors(size), odd_vectors(size))
    return st.one_of(*[right] * 6, anything(size))


@st.composite
def bound_call(draw, function, value_for, mistakes=True):
    """(args, kwargs) for `function`: each value from value_for(kind, param),
    a random split between positional and keyword arguments (keywords in a
    random order), and now and then a binding mistake."""
    params = SIGNATURES[function]
    names = [name for name, _ in params]
    values = {name: draw(value_for(kind, name)) for name, kind in params}
    if function == "fp_findif_difu" and draw(st.booleans()):
        del values["check_params"]  # optional: left out
    split = draw(st.integers(0, len(names)))
    args = [values[name] for name in names[:split] if name in values]
    keywords = [name for name in names[split:] if name in values]
    keywords = draw(st.permutations(keywords))
    kwargs = {name: values[name] for name in keywords}

    mistake = "none"
    if mistakes:
        mistake = draw(st.sampled_from(["none"] * 12 + ["drop", "extra", "unknown", "twice"]))
    if mistake == "drop" and (args or kwargs):
        if kwargs and draw(st.booleans()):
            kwargs.pop(next(iter(kwargs)))
        elif args:
            args.pop()
    elif mistake == "extra":
        args.append(draw(anything(4)))
    elif mistake == "unknown":
        kwargs[draw(st.sampled_from(["x", "freq", "b", "gamma", "\u00e9t\u00e9", "\ud800",
                                     UnprintableName("x")]))] = 1.0
    elif mistake == "twice" and args and names:
        kwargs[names[0]] = draw(anything(4))
    return args, kwargs


# ---------------------------------------------------------------------------
# The outcome check

def stable_length(obj):
    """The length of the vector that obj converts to, when it can be told
    without converting it (None for objects whose iteration may change)."""
    if type(obj) in (list, tuple):
        if any(isinstance(item, Shrinker) for item in obj):
            return None
        return len(obj)
    if type(obj) in (range, bytes, bytearray, array.array):
        return len(obj)
    if np is not None and type(obj) is np.ndarray and obj.ndim >= 1:
        return len(obj)
    return None


def is_float_list(value):
    return type(value) is list and all(type(x) is float for x in value)


def check_result(function, lengths, result):
    if function == "get_c":
        assert result == 29979245800.0 and type(result) is float
        return
    if function in ("gofb", "bofg"):
        assert type(result) is float or is_float_list(result), repr(result)
        if type(result) is list:
            length = lengths.get("arg")
            assert length is None or len(result) == length
        return
    expected = lengths.get(RESULT_LENGTH_FROM[function])
    if function == "syn_emissivity_full":
        assert type(result) is tuple and len(result) == 2, repr(result)
    parts = result if function == "syn_emissivity_full" else (result,)
    for part in parts:
        assert is_float_list(part), repr(part)
        assert expected is None or len(part) == expected, (len(part), expected)


def check_error(function, error, warnings_are_errors):
    assert not isinstance(error, SystemError), repr(error)
    if type(error) is PANIC:
        assert len(error.args) == 1, error.args
        text = error.args[0]
        assert (text in PANIC_TEXTS[function]
                or text.startswith(PANIC_PREFIXES.get(function, ()) or ("\0",))), \
            f"{function}: unexpected fatal error {text!r}"
        return
    allowed = (TypeError, OverflowError, OwnError, OwnBaseError)
    if warnings_are_errors:
        allowed += (Warning,)
    # What an argument's own methods raise themselves: Decimal("sNaN") refuses
    # __float__ with ValueError, a 2-d memoryview its iteration with
    # NotImplementedError, FloatRaises whatever it was given.
    allowed += (ValueError, NotImplementedError)
    assert isinstance(error, allowed), f"{function}: unexpected {type(error).__name__}: {error!r}"
    if type(error) is TypeError and error.args and isinstance(error.args[0], str):
        text = error.args[0]
        if text.startswith("argument '"):
            name = text[len("argument '"):].split("'", 1)[0]
            assert name in [p for p, _ in SIGNATURES[function]], text


def bind_like_the_module(function, args, kwargs):
    """Parameter name -> value, as far as the call binds (for the checks)."""
    names = [name for name, _ in SIGNATURES[function]]
    bound = dict(zip(names, args))
    bound.update({k: v for k, v in kwargs.items() if k in names})
    return bound


def snapshot(values):
    """Identities of the items of every plain list argument."""
    return [(value, list(value)) for value in values if type(value) is list]


def run_call(function, args, kwargs, warnings_are_errors=False, timings=None):
    """Calls the function under a watchdog and checks the outcome."""
    before = snapshot(list(args) + list(kwargs.values()))
    lengths = {name: stable_length(value)
               for name, value in bind_like_the_module(function, args, kwargs).items()}
    with warnings.catch_warnings():
        warnings.simplefilter("error" if warnings_are_errors else "ignore")
        faulthandler.dump_traceback_later(WATCHDOG_SECONDS, exit=True)
        start = time.perf_counter()
        try:
            result = getattr(ostrel, function)(*args, **kwargs)
            error = None
        except BaseException as caught:  # noqa: BLE001 - PanicException is a BaseException
            error = caught
        finally:
            elapsed = time.perf_counter() - start
            faulthandler.cancel_dump_traceback_later()
    if timings is not None and elapsed > timings.get(function, (0.0, None))[0]:
        timings[function] = (elapsed, (args, kwargs))
    # Shown by --hypothesis-show-statistics: how many calls reach a kernel.
    if error is None:
        event("outcome: result")
        check_result(function, lengths, result)
    else:
        event(f"outcome: {type(error).__name__}")
        check_error(function, error, warnings_are_errors)
    # The module does not write into the lists it was given.
    for value, items in before:
        if not any(isinstance(item, Shrinker) for item in items):
            assert len(value) == len(items) and all(a is b for a, b in zip(value, items))
    return error


# ---------------------------------------------------------------------------
# Tests: arbitrary objects

@pytest.mark.parametrize("function", FUNCTIONS)
@FUZZ
@given(data=st.data())
def test_arbitrary_arguments(function, data):
    if function == "get_c":
        extra = data.draw(st.lists(anything(4), max_size=2))
        kwargs = data.draw(st.dictionaries(st.sampled_from(["arg", "x"]), anything(4),
                                           max_size=1))
        error = run_call(function, extra, kwargs)
        assert (error is None) == (not extra and not kwargs)
        return
    args, kwargs = data.draw(bound_call(
        function, lambda kind, name: argument(kind, max_len(function, name))))
    warnings_are_errors = data.draw(st.booleans())
    run_call(function, args, kwargs, warnings_are_errors)


# ---------------------------------------------------------------------------
# Tests: well-typed calls with adversarial numbers

def _power_of_ten(exponent):
    return 10.0 ** exponent if exponent < 308.0 else INF


@st.composite
def adversarial_grid(draw, max_size, length=None):
    """A list of floats shaped like a grid and then spoiled: a log-spaced,
    decreasing, constant or random grid, with some points replaced by special
    values, equal neighbours, or negated."""
    n = draw(st.integers(0, max_size)) if length is None else length
    shape = draw(st.sampled_from(["log", "log", "decreasing", "constant", "random"]))
    if shape == "random":
        grid = draw(st.lists(adversarial_floats, min_size=n, max_size=n))
    else:
        start = draw(st.sampled_from([1.0, 1.5, 1e-3, 1e8, 1e14, 1e30, 0.0, -10.0]))
        step = draw(st.sampled_from([1e-9, 1e-3, 0.05, 0.5, 2.0, 40.0]))
        grid = [start * _power_of_ten(step * k) if start else step * k for k in range(n)]
        if shape == "decreasing":
            grid.reverse()
        elif shape == "constant":
            grid = [start] * n
    if grid:
        for _ in range(draw(st.integers(0, 3))):
            i = draw(st.integers(0, len(grid) - 1))
            how = draw(st.sampled_from(["special", "repeat", "negate"]))
            if how == "special":
                grid[i] = draw(st.sampled_from(SPECIAL_FLOATS))
            elif how == "repeat" and i + 1 < len(grid):
                grid[i + 1] = grid[i]
            else:
                grid[i] = -grid[i]
    return grid


@functools.lru_cache(maxsize=None)
def numeric_argument(kind, cap, length):
    """Values of the right kind with adversarial numbers.  Vector lengths are
    mostly the call's common length (so that the kernels run to the end),
    sometimes one off or arbitrary."""
    if kind == "float":
        return adversarial_floats
    if kind == "flag":
        return st.booleans()
    if kind == "optional_flag":
        return st.one_of(st.booleans(), st.none())
    common = min(length, cap)
    grid = st.one_of(adversarial_grid(cap, common), adversarial_grid(cap, common),
                     adversarial_grid(cap, max(0, common - 1)),
                     adversarial_grid(cap, min(length + 1, cap)), adversarial_grid(cap))
    if kind == "float_or_vector":
        return st.one_of(adversarial_floats, grid)
    return grid


SLOWEST = {}


@pytest.fixture(scope="module", autouse=True)
def report_slowest():
    yield
    if SLOWEST:
        print("\nslowest well-typed adversarial call per function:")
        for function, (seconds, (args, kwargs)) in sorted(SLOWEST.items(),
                                                         key=lambda item: -item[1][0]):
            shape = [len(a) if isinstance(a, list) else a for a in args] + \
                    [f"{k}={len(v) if isinstance(v, list) else v}" for k, v in kwargs.items()]
            print(f"  {function:24s} {seconds * 1e3:9.2f} ms  {shape}")


@pytest.mark.parametrize("function", [f for f in FUNCTIONS if f != "get_c"])
@FUZZ
@given(data=st.data())
def test_adversarial_numbers(function, data):
    length = data.draw(st.integers(0, DEFAULT_MAX_LEN), label="common length")
    args, kwargs = data.draw(bound_call(
        function, lambda kind, name: numeric_argument(kind, max_len(function, name), length),
        mistakes=False))
    run_call(function, args, kwargs, timings=SLOWEST)


def test_module_still_works_after_the_fuzzing():
    assert ostrel.get_c() == 29979245800.0
    assert ostrel.rad_trans_slab(2.0, [1.0], [0.0]) == [2.0]
    j_nu, a_nu = ostrel.syn_emissivity_full([1e9, 1e10], [10.0, 20.0, 40.0], [1.0, 0.5, 0.25],
                                            1.0, True)
    assert all(x > 0 for x in j_nu + a_nu)
