// Radiative transfer through a homogeneous source: the emerging intensity
// from an emissivity and an absorption coefficient, in cgs units.
#pragma once

#include <span>
#include <vector>

namespace ostrel::radiation {

using Spectrum = std::vector<double>;

// Emerging intensity of a homogeneous sphere of radius blob_radius [cm].
Spectrum rad_trans_blob(double blob_radius, std::span<const double> j_nu,
                        std::span<const double> a_nu);

// Emerging intensity of a homogeneous slab of thickness blob_radius [cm].
Spectrum rad_trans_slab(double blob_radius, std::span<const double> j_nu,
                        std::span<const double> a_nu);

}  // namespace ostrel::radiation
