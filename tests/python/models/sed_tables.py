"""Synthetic SED tables drawn from a model, shared by the model tests."""

import numpy as np
from astropy.table import Table


def synthetic(model, nu, rel_err, kernels, ul=None):
    """The model's SED at ``nu`` as a data table with relative errors ``rel_err``
    (``ul``: which points are upper limits; none by default)."""
    f = model.sed(nu, kernels=kernels)
    t = Table()
    t["frequency"] = nu
    t["nuFnu"] = f
    t["nuFnu_err_low"] = rel_err * f
    t["nuFnu_err_high"] = rel_err * f
    t["instrument"] = ["synthetic"] * len(nu)
    t["upper_limit"] = np.zeros(len(nu), bool) if ul is None else ul
    return t
