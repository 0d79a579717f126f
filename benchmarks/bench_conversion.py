"""Time to turn a 1,000,000-element Python argument into a vector.

The call is ic_iso_monochrome_full([], 1.0, 1.0, v, []): with no output
frequency the kernel does nothing, so the time is that of binding the
arguments and converting v.  The same values are given as an exact list, a
tuple, a NumPy float64 array (contiguous and every other element of one twice
as long), array.array('d'), a memoryview of it, and, for comparison, forms
that take the item-by-item path: a list subclass and a float32 array.
"""

from __future__ import annotations

import array
import random
from collections.abc import Callable
from typing import Any

import ostrel
from benchlib import best_time

N = 1_000_000


def per_call(arg: Any, repeats: int) -> float:
    return best_time(lambda: ostrel.ic_iso_monochrome_full([], 1.0, 1.0, arg, []), repeats)


class ListSubclass(list[float]):
    pass


def main() -> None:
    rng = random.Random(1)
    values = [rng.lognormvariate(0.0, 3.0) for _ in range(N)]
    cases: list[tuple[str, Callable[[], object], int]] = [
        ("list", lambda: values, 5),
        ("tuple", lambda: tuple(values), 5),
        ("array.array('d')", lambda: array.array("d", values), 20),
        ("memoryview of array.array", lambda: memoryview(array.array("d", values)), 20),
        ("list subclass (iterated)", lambda: ListSubclass(values), 3),
    ]
    try:
        import numpy as np
    except ImportError:
        print("numpy not importable: NumPy cases skipped")
    else:
        cases += [
            ("numpy float64", lambda: np.array(values), 20),
            ("numpy float64 [::2] of 2N", lambda: np.repeat(np.array(values), 2)[::2], 20),
            ("numpy float32 (iterated)", lambda: np.array(values, dtype=np.float32), 3),
        ]
    times: dict[str, float] = {}
    for name, make, repeats in cases:
        arg = make()
        times[name] = per_call(arg, repeats)
        print(f"{name:28s} {N} elements  {times[name] * 1e3:9.2f} ms/call"
              f"  {times[name] / N * 1e9:7.2f} ns/element")
    if "numpy float64" in times:
        print(f"list / numpy float64 time ratio: {times['list'] / times['numpy float64']:.1f}")


if __name__ == "__main__":
    main()
