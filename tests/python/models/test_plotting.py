"""plot_sed: the sign and the width of the residuals, limits as arrows, instruments."""

import math
import warnings

import astropy.units as u
import numpy as np
import pytest
from astropy.table import Table

pytest.importorskip("matplotlib")
import matplotlib  # noqa: E402

matplotlib.use("Agg")

from ostrel_models import Blob, PowerLaw  # noqa: E402
from ostrel_models.plotting import plot_sed  # noqa: E402


def test_residuals_are_data_minus_model_over_sigma_with_the_systematic():
    blob = Blob(radius=1e16 * u.cm, B=0.1 * u.G, doppler=10.0, z=0.05,
                electrons=PowerLaw(2.5, 10.0, 1e5), energy=1e40 * u.erg, n_gamma=30)
    nu = np.array([1e12, 1e13, 1e14]) * u.Hz
    m = blob.sed(nu, kernels="classic", gamma_gamma=False).value
    t = Table()
    t["frequency"] = nu
    # Twice the model (errors 20 % / 5 %), half the model (5 % / 20 %), and
    # an upper limit at twice the model.
    t["nuFnu"] = m * [2.0, 0.5, 2.0] * u.erg / u.cm**2 / u.s
    t["nuFnu_err_low"] = t["nuFnu"] * [0.2, 0.05, 0.0]
    t["nuFnu_err_high"] = t["nuFnu"] * [0.05, 0.2, 0.0]
    t["instrument"] = ["A", "B", "A"]
    t["upper_limit"] = [False, False, True]
    with warnings.catch_warnings():              # the classic kernels have no γγ opacity
        warnings.simplefilter("ignore", RuntimeWarning)
        fig = plot_sed(t, blob, systematics=0.1, kernels="classic")
    ax, axr = fig.axes
    assert "syst" in axr.get_ylabel() and "data" in axr.get_ylabel().split("model")[0]
    points = np.concatenate([c.get_offsets() for c in axr.collections if len(c.get_offsets())])
    got = dict(zip(points[:, 0], points[:, 1]))
    # The model lies below the first point: its lower error applies, and so on.
    lg2 = math.log10(2.0) * math.log(10.0)
    assert got[1e12] == pytest.approx(lg2 / math.hypot(0.2, 0.1), rel=1e-6)
    assert got[1e13] == pytest.approx(-lg2 / math.hypot(0.2, 0.1), rel=1e-6)
    assert got[1e14] == pytest.approx(lg2 / 0.1, rel=1e-6)
    labels = ax.get_legend_handles_labels()[1]
    assert {"A", "B", "model, total", "synchrotron"} <= set(labels)
    # The limit is drawn as a downward arrow below its value, at its frequency.
    arrows = [line.get_xydata() for line in ax.lines
              if line.get_marker() == matplotlib.markers.CARETDOWNBASE]
    assert len(arrows) == 1 and arrows[0][0, 0] == 1e14 and arrows[0][0, 1] < t["nuFnu"][2]
