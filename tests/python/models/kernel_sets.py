"""Kernel sets for the model tests: the accurate set when it is built, and the classic one.

Imported by name into the test modules (a conftest here would shadow the
shared one of the classic tests, which they import as ``conftest``)."""

import pytest

from ostrel_models._backends import have_accurate

HAVE_ACCURATE = have_accurate()


@pytest.fixture(params=["accurate", "classic"])
def kernels(request):
    if request.param == "accurate" and not HAVE_ACCURATE:
        pytest.skip("the accurate kernels are not built (or incomplete)")
    return request.param


@pytest.fixture
def accurate():
    if not HAVE_ACCURATE:
        pytest.skip("the accurate kernels are not built (or incomplete)")
    return "accurate"
