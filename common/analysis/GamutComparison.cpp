// The gamut comparison shared by prismet-cli gamut --compare and the Gamut view.
#include "common/analysis/GamutComparison.h"

#include <cmath>

krmTagSignature gamut_tag_for_intent(krmProfile profile, krmUInt32Number intent)
{
    for (krmTagSignature candidate : {krmTagSignature(krmSig("A2B0") + intent), krmTagSignature(krmSig("A2B0"))})
        if (krmIsTag(profile, candidate))
            return candidate;
    return krmIsMatrixShaper(profile) ? kMatrixShaperTag : 0;
}

namespace {

OverlapShare share_of(const Hull& inner, const Hull& outer, int points)
{
    OverlapShare s;
    s.share = hull_share_inside(inner, outer, points, &s.points);
    s.standardError = s.points > 0 ? std::sqrt(s.share * (1 - s.share) / s.points) : 0.0;
    return s;
}

} // namespace

GamutOverlap gamut_overlap(const Hull& profile, const Hull& other, int points)
{
    GamutOverlap o;
    o.otherInsideProfile = share_of(other, profile, points);
    o.profileInsideOther = share_of(profile, other, points);
    return o;
}
