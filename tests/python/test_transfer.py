"""Emerging intensity of a homogeneous sphere (rad_trans_blob) and slab
(rad_trans_slab) from emissivity j and absorption coefficient alpha.

The reference values are computed here in the kernels' order of operations,
so that the branch taken at each optical-depth threshold shows in the bits.
"""

import math

import pytest

import ostrel
from conftest import INDEX

NAN, INF = math.nan, math.inf


def sphere_t(tau, form):
    if form == "exact":
        return 0.5 * (1.0 - 2.0 * (1.0 - math.exp(-tau) * (tau + 1.0)) / (tau * tau))
    if form == "large":
        return -1.0 / (tau * tau) + 0.5
    return (tau * tau) * (-0.125) + tau / 3.0  # two-term series


def sphere(j, radius, tau, form):
    return (j * radius * ((sphere_t(tau, form) * 3.0) / tau)) / 3.0


def blob(radius, j, alpha):
    return ostrel.rad_trans_blob(radius, [j], [alpha])[0]


def slab(radius, j, alpha):
    return ostrel.rad_trans_slab(radius, [j], [alpha])[0]


class TestLimits:
    @pytest.mark.parametrize("alpha", [0.0, -1.0, -INF, NAN, 1e-300])
    def test_optically_thin(self, alpha):
        # Zero, negative and NaN absorption all count as transparent.
        j, radius = 3e-20, 7e14
        assert blob(radius, j, alpha) == (j * radius) / 3.0
        assert slab(radius, j, alpha) == j * radius

    @pytest.mark.parametrize("alpha", [1e-8, 1e-4, 1.0])
    def test_optically_thick(self, alpha):
        # Deep inside, the intensity saturates at the source function.
        j, radius = 2e-18, 1e15  # tau from 2e7 upwards
        assert blob(radius, j, alpha) == pytest.approx(j / (4.0 * alpha), rel=1e-12)
        assert slab(radius, j, alpha) == pytest.approx(j / alpha, rel=1e-12)

    def test_infinite_depth_gives_zero_escape(self):
        assert blob(1.0, 1.0, INF) == 0.0
        assert slab(1.0, 1.0, INF) == 0.0

    def test_intensity_grows_with_size_towards_saturation(self):
        j, alpha = 1.0, 1.0
        radii = [10.0 ** (k / 4.0) for k in range(-48, 16)]
        spheres = [blob(r, j, alpha) for r in radii]
        slabs = [slab(r, j, alpha) for r in radii]
        assert all(a < b for a, b in zip(spheres, spheres[1:]))
        # The slab reaches j/alpha to the bit once e^-tau is below rounding.
        assert all(a < b or a == b == j / alpha for a, b in zip(slabs, slabs[1:]))
        assert spheres[-1] < j / (4.0 * alpha) and slabs[-1] == j / alpha
        # A sphere of radius R is less bright than a slab of thickness R.
        assert all(s < p for s, p in zip(spheres, slabs))


class TestSphereBranches:
    # Radius 0.5 makes the diameter 1, so tau equals alpha exactly.
    J, R = 3.0, 0.5

    def test_thin_threshold_is_inclusive(self):
        assert blob(self.R, self.J, 1e-10) == (self.J * self.R) / 3.0
        above = math.nextafter(1e-10, 1.0)
        assert blob(self.R, self.J, above) == sphere(self.J, self.R, above, "series")
        assert blob(self.R, self.J, above) != (self.J * self.R) / 3.0

    # Near 100 the exact and the large-depth forms agree to the bit (e^-100 is
    # far below rounding), so there the values rather than the branch are checked.
    @pytest.mark.parametrize("tau, form", [
        (1e-6, "series"), (math.nextafter(0.01, 0.0), "series"),
        (0.01, "exact"), (0.5, "exact"), (3.0, "exact"), (40.0, "exact"), (100.0, "exact"),
        (math.nextafter(100.0, INF), "large"), (1e4, "large"),
    ])
    def test_form_used_at_each_depth(self, tau, form):
        assert blob(self.R, self.J, tau) == sphere(self.J, self.R, tau, form)

    def test_series_and_exact_form_differ_at_the_lower_break(self):
        # The omitted tau^3/30 term makes the escape factor step by ~1e-5.
        series = sphere(self.J, self.R, 0.01, "series")
        exact = sphere(self.J, self.R, 0.01, "exact")
        assert series != exact
        assert abs(series / exact - 1.0) == pytest.approx(0.01**2 / 10.0, rel=0.1)
        assert blob(self.R, self.J, 0.01) == exact


class TestSlab:
    @pytest.mark.parametrize("tau", [math.nextafter(1e-10, 1.0), 1e-3, 0.7, 30.0, 1e5])
    def test_escape_factor(self, tau):
        j, radius = 2.5, 4.0
        alpha = tau / radius
        depth = alpha * radius
        assert slab(radius, j, alpha) == (j * radius) * ((1.0 - math.exp(-depth)) / depth)

    def test_thin_threshold_is_inclusive(self):
        assert slab(1.0, 2.5, 1e-10) == 2.5


class TestVectors:
    @pytest.mark.parametrize("kernel", [ostrel.rad_trans_blob, ostrel.rad_trans_slab])
    def test_entries_are_independent_and_in_order(self, kernel):
        j = [1e-20, 5e-21, 0.0, 7e-19]
        alpha = [0.0, 1e-14, 3e-15, 1e-10]
        radius = 3e14
        together = kernel(radius, j, alpha)
        assert together == [kernel(radius, [jk], [ak])[0] for jk, ak in zip(j, alpha)]

    @pytest.mark.parametrize("kernel", [ostrel.rad_trans_blob, ostrel.rad_trans_slab])
    def test_extra_absorption_entries_are_ignored(self, kernel):
        j, alpha = [1.0, 2.0], [0.5, 0.25]
        assert kernel(2.0, j, alpha + [NAN, 1e300, -1.0]) == kernel(2.0, j, alpha)

    @pytest.mark.parametrize("kernel", [ostrel.rad_trans_blob, ostrel.rad_trans_slab])
    def test_empty_emissivity_reads_no_absorption(self, kernel):
        assert kernel(1.0, [], []) == []
        assert kernel(1.0, [], [1.0]) == []

    @pytest.mark.parametrize("kernel", [ostrel.rad_trans_blob, ostrel.rad_trans_slab])
    def test_short_absorption_is_fatal(self, kernel, panic_type):
        with pytest.raises(panic_type) as info:
            kernel(1.0, [1.0, 2.0, 3.0], [0.0, 0.0])
        assert info.value.args == (INDEX,)
