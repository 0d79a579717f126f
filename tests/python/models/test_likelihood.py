"""Reading SEDs (upper limits, ECSV, masked rows, bad cells) and the likelihood."""

import math

import astropy.units as u
import numpy as np
import pytest
from astropy.table import MaskedColumn, Table
from scipy import integrate

from ostrel_models import read_sed
from ostrel_models.likelihood import SEDLikelihood, log_likelihood

HEADER = "energy_eV,nuFnu_erg_cm2_s,nuFnu_err_low,nuFnu_err_high,instrument"


class Fixed:
    """A model whose ν F_ν is given at each frequency (for the likelihood alone)."""

    def __init__(self, nu, flux):
        self.table = dict(zip(np.asarray(nu, float).tolist(), np.asarray(flux, float)))

    def sed(self, nu, kernels="accurate"):
        return np.array([self.table[x] for x in nu.to_value(u.Hz)]) * u.erg / u.cm**2 / u.s


def table(flux, lo, hi, ul=None, nu=None):
    n = len(flux)
    t = Table()
    t["frequency"] = (np.geomspace(1e10, 1e20, n) if nu is None else nu) * u.Hz
    for name, v in (("nuFnu", flux), ("nuFnu_err_low", lo), ("nuFnu_err_high", hi)):
        t[name] = np.asarray(v, float) * u.erg / u.cm**2 / u.s
    t["upper_limit"] = np.zeros(n, bool) if ul is None else np.asarray(ul, bool)
    return t


def test_csv_upper_limits_from_a_ul_cell_and_from_the_column(tmp_path):
    path = tmp_path / "sed.csv"
    path.write_text("# Redshift z = 0.1\n" + HEADER + ",upper_limit\n"
                    "1.0,1e-11,1e-12,1e-12,A,false\n"
                    "2.0,2e-11,UL,0,B,false\n"
                    "3.0,3e-11,0,3e-12,C,true\n"
                    "1e3,4e-12,4e-13,5e-13,D,0\n")
    t = read_sed(path)
    assert t["upper_limit"].tolist() == [False, True, True, False]
    assert t["nuFnu_err_low"][1] == 0.0 and t["nuFnu"][1] == 2e-11
    # 1 keV = 2.417989e17 Hz; sorted by frequency.
    assert t["frequency"].quantity[-1].to_value(u.Hz) == pytest.approx(2.417989242e17, rel=1e-9)
    assert t.meta["z"] == 0.1


@pytest.mark.parametrize("body, where", [
    ("1.0,abc,1e-12,1e-12,A\n", "line 4, column 2 (nuFnu_erg_cm2_s)"),
    ("1.0,1e-11,1e-12,1e-12,A\n2.0,1e-11,,1e-12,B\n", "line 5, column 3 (nuFnu_err_low)"),
    ("1.0,1e-11,1e-12,1e-12\n", "line 4: 4 cells"),
    ("1 eV,1e-11,1e-12,1e-12,A\n", "line 4, column 1 (energy_eV)"),
])
def test_an_unreadable_csv_cell_is_reported_with_its_line_and_column(tmp_path, body, where):
    path = tmp_path / "bad.csv"
    path.write_text("# a comment\n\n" + HEADER + "\n" + body)
    with pytest.raises(ValueError, match=r"bad\.csv, " + where.replace("(", r"\(")
                       .replace(")", r"\)")):
        read_sed(path)


def test_ecsv_with_energies_in_kev_and_masked_rows(tmp_path):
    t = Table()
    t["energy"] = [1.0, 2.0, 3.0, 4.0] * u.keV
    t["nuFnu"] = MaskedColumn([1e-11, 2e-11, 3e-11, 4e-11], mask=[0, 1, 0, 0],
                              unit=u.erg / u.cm**2 / u.s)
    t["nuFnu_err_low"] = MaskedColumn([1e-12, 1e-12, 1e-12, 1e-12], mask=[0, 0, 0, 1],
                                      unit=u.erg / u.cm**2 / u.s)
    t["nuFnu_err_high"] = [1e-12] * 4 * u.erg / u.cm**2 / u.s
    t["upper_limit"] = [False, False, False, True]
    path = tmp_path / "sed.ecsv"
    t.write(path)
    got = read_sed(path)
    # The masked flux drops its row; a masked error of an upper limit does not.
    assert len(got) == 3 and got.meta["dropped_masked"] == 1
    assert got["upper_limit"].tolist() == [False, False, True]
    assert got["frequency"].quantity[0].to_value(u.Hz) == pytest.approx(2.417989242e17, rel=1e-9)
    # Masked rows of a table given directly are dropped and not counted.
    t["nuFnu_err_low"].mask[3] = False
    t.rename_column("energy", "frequency")        # energies convert by the spectral equivalency
    like = SEDLikelihood(t, 0.1)
    assert like.n_points == 3 and like.dropped == 1


def test_log_likelihood_is_a_normalised_split_normal_in_log_flux():
    # One detection with unequal errors: exp(ln L) as a function of the
    # measured log10 F integrates to one, and each side has its own width.
    s = 0.05
    lo, hi = 0.1, 0.3
    ln10 = math.log(10)
    sig_lo, sig_hi = math.hypot(lo, s) / ln10, math.hypot(hi, s) / ln10

    def like_at(logf):
        f = 10.0**logf
        t = table([f], [lo * f], [hi * f], nu=np.array([1e15]))
        return math.exp(log_likelihood(Fixed([1e15], [1.0]), t, systematics=s))

    total = integrate.quad(like_at, -3, 3, points=[0.0])[0]
    assert total == pytest.approx(1.0, rel=1e-6)
    # Model above the data (data at log F = -0.1): the upper width applies.
    assert like_at(-0.1) / like_at(0.0) == pytest.approx(math.exp(-0.5 * (0.1 / sig_hi) ** 2))
    assert like_at(0.1) / like_at(0.0) == pytest.approx(math.exp(-0.5 * (0.1 / sig_lo) ** 2))


@pytest.mark.parametrize("model_over_limit, err_high, systematics, chi2", [
    (0.5, 0.0, 0.1, 0.0),                                      # below: no penalty
    (1.0, 0.0, 0.1, 0.0),
    (2.0, 0.0, 0.1, (math.log10(2.0) * math.log(10) / 0.1) ** 2),  # above: σ = systematic
    (2.0, 0.2, 0.1, (math.log10(2.0) * math.log(10)) ** 2 / (0.2**2 + 0.1**2)),
])
def test_upper_limit_penalises_only_a_model_above_it(model_over_limit, err_high, systematics,
                                                      chi2):
    nu = np.array([1e12, 1e14])
    t = table([1.0, 5.0], [0.1, 0.5], [0.1, 5.0 * err_high], ul=[False, True], nu=nu)
    like = SEDLikelihood(t, systematics)
    model = np.array([1.0, 5.0 * model_over_limit])      # the detection fitted exactly
    assert like.chi2(model) == pytest.approx(chi2, rel=1e-12, abs=1e-300)


@pytest.mark.parametrize("make, message", [
    (lambda: SEDLikelihood(table([], [], []), 0.1), "no points"),
    (lambda: SEDLikelihood(table([1.0], [0.1], [0.1]), 10), "fraction in"),
    (lambda: SEDLikelihood(table([1.0], [0.1], [0.1]), -0.01), "fraction in"),
    (lambda: SEDLikelihood(table([1.0], [0.1], [0.1]), math.nan), "fraction in"),
    (lambda: SEDLikelihood(table([1.0, math.nan], [0.1, 0.1], [0.1, 0.1]), 0.1),
     "nuFnu must be finite and positive; row 1"),
    (lambda: SEDLikelihood(table([1.0, 1.0], [0.1, -0.1], [0.1, 0.1]), 0.1),
     "nuFnu_err_low must be finite and non-negative; row 1"),
    (lambda: SEDLikelihood(table([1.0, 1.0], [0.1, 0.1], [0.1, 0.0], ul=[0, 1]), 0.0),
     "row 1 has no error"),
])
def test_unusable_data_or_systematics_are_refused_naming_the_problem(make, message):
    with pytest.raises(ValueError, match=message):
        make()
