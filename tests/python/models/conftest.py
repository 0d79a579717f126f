"""Kernel sets for the model tests: the accurate set when it is built, and the classic one."""

import importlib.util

import pytest

HAVE_ACCURATE = importlib.util.find_spec("ostrel_models.kernels") is not None


@pytest.fixture(params=["accurate", "classic"])
def kernels(request):
    if request.param == "accurate" and not HAVE_ACCURATE:
        pytest.skip("ostrel_models.kernels is not built")
    return request.param


@pytest.fixture
def accurate():
    if not HAVE_ACCURATE:
        pytest.skip("ostrel_models.kernels is not built")
    return "accurate"
