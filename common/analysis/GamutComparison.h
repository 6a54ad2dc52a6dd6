#pragma once

// Two gamuts in one view or one report: the tag the second profile is sampled through, and the
// two overlap shares with their standard errors, as prismet-cli gamut --compare prints them and
// the Gamut view's legend states them.

#include "common/analysis/GamutAnalysis.h"

// Seeded points per direction of the overlap estimate.
constexpr int kOverlapPoints = 200000;

// The tag a profile's gamut is sampled through for an intent: A2B<intent>, else A2B0, else the
// matrix-shaper; 0 when it has none of them.
krmTagSignature gamut_tag_for_intent(krmProfile profile, krmUInt32Number intent);

struct OverlapShare {
    double share = 0;          // 0..1
    int points = 0;            // estimate's sample size
    double standardError = 0;  // binomial, 0..1
};

struct GamutOverlap {
    OverlapShare profileInsideOther;  // "A inside B"
    OverlapShare otherInsideProfile;  // "B inside A"
};

GamutOverlap gamut_overlap(const Hull& profile, const Hull& other, int points = kOverlapPoints);
