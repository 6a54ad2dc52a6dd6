#pragma once

// An image's colours against a profile's gamut: the pixels (at most 100000, taken evenly in
// raster order) through the image's own profile to L*a*b* (relative colorimetric), which of them
// fall outside the profile's hull, and the CIEDE2000 error of the outside ones' roundtrip through
// the profile (relative colorimetric). No Qt, so `prismet-cli gamut --image` and the Gamut view's
// point cloud are one computation.

#include "common/analysis/GamutAnalysis.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr std::size_t kImageGamutSamples = 100000;

// An image's sampled colours in L*a*b* (three per sample), as the proofing dock sends them to the
// Gamut views.
struct ImageColourCloud {
    std::string name;
    std::size_t pixels = 0;
    std::vector<double> lab;
};

// The image's samples as stored: `format` is the engine's format word of one pixel (alpha as an
// extra channel), `bytesPerPixel` its size.
struct ImagePixels {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::size_t bytesPerLine = 0;
    std::size_t bytesPerPixel = 0;
    krmUInt32Number format = 0;
    krmProfile profile = nullptr;  // the image's own profile
};

// The pixel indices (y·width + x) the analysis takes: all of them up to `limit`, else `limit`
// evenly spaced in raster order (index ⌊i·N/limit⌋), so the same image gives the same samples.
std::vector<std::size_t> image_sample_indices(std::size_t pixels, std::size_t limit = kImageGamutSamples);

struct ImageGamutResult {
    std::size_t pixels = 0;   // in the image
    std::size_t samples = 0;  // analysed
    std::size_t outside = 0;  // samples outside the hull
    double outsideShare = 0;  // outside / samples, 0..1
    std::vector<double> lab;              // L*, a*, b* per sample
    std::vector<std::uint8_t> isOutside;  // 1 per sample outside the hull
    RoundtripStatistics roundtrip;        // over the outside samples (worst: indices into trips)
    std::vector<RoundtripResult> trips;   // per outside sample, in the order of the samples
};

// The samples through the image's profile to L*a*b* (relative colorimetric), three per sample.
// Throws Exception when the transform cannot be made.
std::vector<double> image_lab_samples(const ImagePixels& image, std::size_t limit = kImageGamutSamples);

// The samples' verdict against the measured hull of `gamut` (a sample within one step of its grid
// counts as inside: the grid rounds the gamut's own corners by up to half a step); with `profile`,
// also the roundtrip of the outside ones through it. `pixels` is the image's pixel count.
ImageGamutResult judge_image_samples(std::vector<double> lab, std::size_t pixels, const GamutHull& gamut,
                                     krmProfile profile);

// Both steps: the analysis against `gamut` (the profile's gamut through the tag the caller shows) and the
// roundtrip through `profile`. Throws Exception with the reason when a transform cannot be made.
ImageGamutResult analyse_image_gamut(const ImagePixels& image, krmProfile profile, const GamutHull& gamut,
                                     std::size_t limit = kImageGamutSamples);
