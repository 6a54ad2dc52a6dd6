// Built-in profiles made in memory (sRGB, RGB and gray from primaries and curves, the Lab and XYZ
// identities) and the total-area-coverage estimate of an output profile.
#include "krm_internal.h"

namespace {

constexpr krmUInt32Number kPerceptual = 0;

// desc and cprt as "en"/"US" multi-localized texts; written again, they replace both tags.
bool SetTextTags(krmProfile h, const char* Description)
{
    krmContext ctx = krmGetProfileContext(h);
    krmMLU* desc = krmMLUAlloc(ctx, 1);
    krmMLU* cprt = krmMLUAlloc(ctx, 1);
    bool ok = desc && cprt && krmMLUSetASCII(desc, "en", "US", Description) &&
              krmMLUSetASCII(cprt, "en", "US", "No copyright, use freely") &&
              krmWriteTag(h, krmSig("desc"), desc) && krmWriteTag(h, krmSig("cprt"), cprt);
    krmMLUFree(desc);
    krmMLUFree(cprt);
    return ok;
}

bool SetWhitePoint(krmProfile h, const krmCIExyY* WhitePoint)
{
    krmCIEXYZ wp;
    if (WhitePoint)
        krmxyY2XYZ(&wp, WhitePoint);
    else
        wp = *krmD50_XYZ();
    return krmWriteTag(h, krmSig("wtpt"), &wp);
}

krmProfile Fail(krmProfile h)
{
    krmCloseProfile(h);
    return nullptr;
}

// A 3 -> 3 pipeline of one identity stage, written as A2B0.
bool WriteIdentityA2B0(krmProfile h, krmStage* identity)
{
    krmPipeline* lut = krmPipelineAlloc(krmGetProfileContext(h), 3, 3);
    if (!lut || !identity) {
        krmPipelineFree(lut);
        if (identity) krmStageFree(identity);
        return false;
    }
    bool ok = krmPipelineInsertStage(lut, krmAT_END, identity) && krmWriteTag(h, krmSig("A2B0"), lut);
    krmPipelineFree(lut);
    return ok;
}

krmProfile CreateLabIdentity(krmContext ContextID, const krmCIExyY* WhitePoint, krmFloat64Number Version)
{
    krmProfile h = krmCreateRGBProfile(ContextID, nullptr, nullptr, nullptr);
    if (!h) return nullptr;
    krmSetProfileVersion(h, Version);
    krmSetProfileClass(h, krmSig("abst"));
    krmSetProfileColorSpace(h, krmSig("Lab "));
    krmSetProfilePCS(h, krmSig("Lab "));
    if (!SetWhitePoint(h, WhitePoint) || !SetTextTags(h, "Lab identity built-in")) return Fail(h);

    // Version 2 pipelines cannot hold bare curves in a lut16, so the identity is a 2-point CLUT.
    krmStage* identity =
        Version < 4.0 ? krmStageAllocIdentityCLut(ContextID, 3) : krmStageAllocIdentityCurves(ContextID, 3);
    if (!WriteIdentityA2B0(h, identity)) return Fail(h);
    return h;
}

}  // namespace

krmProfile krmCreateRGBProfile(krmContext ContextID, const krmCIExyY* WhitePoint, const krmCIExyYTRIPLE* Primaries,
                               krmToneCurve* const TransferFunction[3])
{
    krmProfile h = krmCreateProfilePlaceholder(ContextID);
    if (!h) return nullptr;

    krmSetProfileVersion(h, 4.4);
    krmSetProfileClass(h, krmSig("mntr"));
    krmSetProfileColorSpace(h, krmSig("RGB "));
    krmSetProfilePCS(h, krmSig("XYZ "));
    krmSetProfileIntent(h, kPerceptual);
    if (!SetTextTags(h, "RGB built-in")) return Fail(h);

    if (WhitePoint) {
        // The media white is D50 by definition; the adaptation from the real white goes to chad.
        if (!krmWriteTag(h, krmSig("wtpt"), krmD50_XYZ())) return Fail(h);
        krmCIEXYZ white;
        krmxyY2XYZ(&white, WhitePoint);
        krmMAT3 chad;
        if (!krmAdaptationMatrix(&chad, nullptr, &white, krmD50_XYZ())) return Fail(h);
        if (!krmWriteTag(h, krmSig("chad"), &chad)) return Fail(h);

        if (Primaries) {
            krmCIExyY maxWhite = *WhitePoint;
            maxWhite.Y = 1.0;
            krmMAT3 m;
            if (!krmBuildRGB2XYZMatrix(&m, &maxWhite, Primaries)) return Fail(h);
            krmCIEXYZ colorants[3];
            for (int c = 0; c < 3; c++) {
                colorants[c].X = m.v[0].n[c];
                colorants[c].Y = m.v[1].n[c];
                colorants[c].Z = m.v[2].n[c];
            }
            if (!krmWriteTag(h, krmSig("rXYZ"), &colorants[0]) || !krmWriteTag(h, krmSig("bXYZ"), &colorants[2]) ||
                !krmWriteTag(h, krmSig("gXYZ"), &colorants[1]))
                return Fail(h);
        }
    }

    if (TransferFunction) {
        if (!krmWriteTag(h, krmSig("rTRC"), TransferFunction[0])) return Fail(h);
        const krmTagSignature others[2] = {krmSig("gTRC"), krmSig("bTRC")};
        for (int c = 1; c < 3; c++) {
            // The very same curve object is stored once and shared.
            const bool ok = TransferFunction[c] == TransferFunction[0]
                                ? krmLinkTag(h, others[c - 1], krmSig("rTRC"))
                                : krmWriteTag(h, others[c - 1], TransferFunction[c]);
            if (!ok) return Fail(h);
        }
    }

    if (Primaries && !krmWriteTag(h, krmSig("chrm"), Primaries)) return Fail(h);
    return h;
}

krmProfile krmCreateRGBProfile(const krmCIExyY* WhitePoint, const krmCIExyYTRIPLE* Primaries,
                               krmToneCurve* const TransferFunction[3])
{
    return krmCreateRGBProfile(nullptr, WhitePoint, Primaries, TransferFunction);
}

krmProfile krmCreateGrayProfile(krmContext ContextID, const krmCIExyY* WhitePoint, const krmToneCurve* TransferFunction)
{
    krmProfile h = krmCreateProfilePlaceholder(ContextID);
    if (!h) return nullptr;
    krmSetProfileVersion(h, 4.4);
    krmSetProfileClass(h, krmSig("mntr"));
    krmSetProfileColorSpace(h, krmSig("GRAY"));
    krmSetProfilePCS(h, krmSig("XYZ "));
    krmSetProfileIntent(h, kPerceptual);
    if (!SetTextTags(h, "gray built-in")) return Fail(h);
    if (WhitePoint && !SetWhitePoint(h, WhitePoint)) return Fail(h);
    if (TransferFunction && !krmWriteTag(h, krmSig("kTRC"), TransferFunction)) return Fail(h);
    return h;
}

krmProfile krmCreateGrayProfile(const krmCIExyY* WhitePoint, const krmToneCurve* TransferFunction)
{
    return krmCreateGrayProfile(nullptr, WhitePoint, TransferFunction);
}

krmProfile krmCreateLab2Profile(krmContext ContextID, const krmCIExyY* WhitePoint)
{
    return CreateLabIdentity(ContextID, WhitePoint, 2.1);
}

krmProfile krmCreateLab2Profile(const krmCIExyY* WhitePoint) { return krmCreateLab2Profile(nullptr, WhitePoint); }

krmProfile krmCreateLab4Profile(krmContext ContextID, const krmCIExyY* WhitePoint)
{
    return CreateLabIdentity(ContextID, WhitePoint, 4.4);
}

krmProfile krmCreateLab4Profile(const krmCIExyY* WhitePoint) { return krmCreateLab4Profile(nullptr, WhitePoint); }

krmProfile krmCreateXYZProfile(krmContext ContextID)
{
    krmProfile h = krmCreateRGBProfile(ContextID, krmD50_xyY(), nullptr, nullptr);
    if (!h) return nullptr;
    krmSetProfileVersion(h, 4.4);
    krmSetProfileClass(h, krmSig("abst"));
    krmSetProfileColorSpace(h, krmSig("XYZ "));
    krmSetProfilePCS(h, krmSig("XYZ "));
    if (!SetTextTags(h, "XYZ identity built-in")) return Fail(h);
    if (!WriteIdentityA2B0(h, krmStageAllocIdentityCurves(ContextID, 3))) return Fail(h);
    return h;
}

krmProfile krmCreateXYZProfile(void) { return krmCreateXYZProfile(nullptr); }

krmProfile krmCreate_sRGBProfile(krmContext ContextID)
{
    // IEC 61966-2-1: D65 white, Rec. 709 primaries and the piecewise sRGB curve (ICC type 3).
    const krmCIExyY d65 = {0.3127, 0.3290, 1.0};
    const krmCIExyYTRIPLE primaries = {{0.6400, 0.3300, 1.0}, {0.3000, 0.6000, 1.0}, {0.1500, 0.0600, 1.0}};
    const krmFloat64Number params[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};

    krmToneCurve* gamma = krmBuildParametricToneCurve(ContextID, 4, params);
    if (!gamma) return nullptr;
    krmToneCurve* const curves[3] = {gamma, gamma, gamma};
    krmProfile h = krmCreateRGBProfile(ContextID, &d65, &primaries, curves);
    krmFreeToneCurve(gamma);
    if (!h) return nullptr;
    if (!SetTextTags(h, "sRGB built-in")) return Fail(h);
    return h;
}

krmProfile krmCreate_sRGBProfile(void) { return krmCreate_sRGBProfile(nullptr); }

// ---------------------------------------------------------------------------------------------
// Total area coverage
// ---------------------------------------------------------------------------------------------

namespace {

struct TACWalk {
    krmTransform hForward;
    krmUInt32Number nOutputChans;
    krmFloat32Number MaxTAC;
    krmUInt16Number MaxInput[3];
};

krmInt32Number EstimateTAC(const krmUInt16Number In[], krmUInt16Number[], void* Cargo)
{
    TACWalk* bp = static_cast<TACWalk*>(Cargo);
    krmFloat32Number roundTrip[krmMAXCHANNELS];
    krmDoTransform(bp->hForward, In, roundTrip, 1);

    krmFloat32Number sum = 0;
    for (krmUInt32Number i = 0; i < bp->nOutputChans; i++) sum += roundTrip[i];
    if (sum > bp->MaxTAC) {
        bp->MaxTAC = sum;
        for (int i = 0; i < 3; i++) bp->MaxInput[i] = In[i];
    }
    return 1;
}

}  // namespace

krmFloat64Number krmDetectTAC(krmProfile hProfile)
{
    if (krmGetProfileClass(hProfile) != krmSig("prtr")) return 0;

    const krmUInt32Number dwFormatter = krmFormatterForColorspaceOfProfile(hProfile, 4, 1);
    if (dwFormatter == 0) return 0;

    TACWalk bp = {};
    bp.nOutputChans = krmT_CHANNELS(dwFormatter);

    krmContext ctx = krmGetProfileContext(hProfile);
    krmProfile hLab = krmCreateLab4Profile(ctx, nullptr);
    if (!hLab) return 0;
    bp.hForward = krmCreateTransformWithContext(ctx, hLab, krmFmtLab16, hProfile, dwFormatter, kPerceptual,
                                                krmFlagNoOptimize | krmFlagNoCache);
    krmCloseProfile(hLab);
    if (!bp.hForward) return 0;

    // L* in 6 steps, a* and b* in 74 each.
    const krmUInt32Number gridPoints[3] = {6, 74, 74};
    if (!krmSliceSpace16(3, gridPoints, EstimateTAC, &bp)) bp.MaxTAC = 0;

    krmDeleteTransform(bp.hForward);
    return bp.MaxTAC;
}
