// Black point detection (for black point compensation) and the black-preserving intents for
// CMYK-to-CMYK chains, with the K tone curve they rely on.

#include "krm_internal.h"

#include <cmath>
#include <cstring>

#define MAX_PROFILES_IN_LINK 255

static krmBool IsInkSpace(krmColorSpaceSignature Space)
{
    switch (Space) {
    case krmSig("CMY "):
    case krmSig("CMYK"):
    case krmSig("MCH1"): case krmSig("MCH2"): case krmSig("MCH3"): case krmSig("MCH4"): case krmSig("MCH5"):
    case krmSig("MCH6"): case krmSig("MCH7"): case krmSig("MCH8"): case krmSig("MCH9"): case krmSig("MCHA"):
    case krmSig("MCHB"): case krmSig("MCHC"): case krmSig("MCHD"): case krmSig("MCHE"): case krmSig("MCHF"):
    case krmSig("1CLR"): case krmSig("2CLR"): case krmSig("3CLR"): case krmSig("4CLR"): case krmSig("5CLR"):
    case krmSig("6CLR"): case krmSig("7CLR"): case krmSig("8CLR"): case krmSig("9CLR"): case krmSig("ACLR"):
    case krmSig("BCLR"): case krmSig("CCLR"): case krmSig("DCLR"): case krmSig("ECLR"): case krmSig("FCLR"):
        return true;
    default:
        return false;
    }
}

static krmBool IsLinkLikeClass(krmProfile hProfile)
{
    krmProfileClassSignature Class = krmGetProfileClass(hProfile);
    return Class == krmSig("link") || Class == krmSig("abst") || Class == krmSig("nmcl");
}

static void SetZero(krmCIEXYZ* p)
{
    p->X = p->Y = p->Z = 0.0;
}

// ---------------------------------------------------------------------------------------------
// Black point detection
// ---------------------------------------------------------------------------------------------

// The darkest colorant of the device space, measured through the profile.
static krmBool BlackPointAsDarkerColorant(krmProfile hInput, krmUInt32Number Intent, krmCIEXYZ* BlackPoint,
                                          krmUInt32Number dwFlags)
{
    const krmUInt16Number* Black;
    krmUInt32Number nChannels;
    krmCIELab Lab;
    krmContext ContextID = krmGetProfileContext(hInput);

    SetZero(BlackPoint);
    if (!krmIsIntentSupported(hInput, Intent, krmUsedAsInput)) return false;

    krmUInt32Number dwFormat = krmFormatterForColorspaceOfProfile(hInput, 2, false);
    krmColorSpaceSignature Space = krmGetProfileColorSpace(hInput);
    if (!krmEndPointsBySpace(Space, nullptr, &Black, &nChannels)) return false;
    if (nChannels != krmT_CHANNELS(dwFormat)) return false;

    // A version 2 Lab profile: the version 4 one would ask for black point compensation again.
    krmProfile hLab = krmCreateLab2Profile(ContextID, nullptr);
    if (hLab == nullptr) return false;

    krmTransform xform = krmCreateTransformWithContext(ContextID, hInput, dwFormat, hLab, krmFmtLabDouble, Intent,
                                                       krmFlagNoOptimize | krmFlagNoCache);
    if (xform == nullptr) {
        krmCloseProfile(hLab);
        return false;
    }
    krmDoTransform(xform, Black, &Lab, 1);
    krmDeleteTransform(xform);
    krmCloseProfile(hLab);

    // Clip out-of-range L*: a light black is no black; darker than L* 50 is kept at 50.
    if (Lab.L > 95 || Lab.L < 0) Lab.L = 0;
    if (Lab.L > 50) Lab.L = 50;
    Lab.a = Lab.b = 0;

    krmLab2XYZ(nullptr, BlackPoint, &Lab);
    return true;
}

// Lab -> profile (the intent) -> profile (relative) -> Lab. The caller closes *hLab after the
// transform.
static krmTransform CreateRoundtripXForm(krmProfile hProfile, krmUInt32Number nIntent, krmProfile* phLab)
{
    krmContext ContextID = krmGetProfileContext(hProfile);
    krmProfile hLab = krmCreateLab4Profile(ContextID, nullptr);
    *phLab = hLab;
    if (hLab == nullptr) return nullptr;

    krmBool BPC[4] = {false, false, false, false};
    krmFloat64Number States[4] = {1.0, 1.0, 1.0, 1.0};
    krmProfile hProfiles[4] = {hLab, hProfile, hProfile, hLab};
    krmUInt32Number Intents[4] = {krmINTENT_RELATIVE_COLORIMETRIC, nIntent, krmINTENT_RELATIVE_COLORIMETRIC,
                                  krmINTENT_RELATIVE_COLORIMETRIC};

    krmTransform xform = krmCreateExtendedTransform(ContextID, 4, hProfiles, BPC, Intents, States, nullptr, 0,
                                                    krmFmtLabDouble, krmFmtLabDouble,
                                                    krmFlagNoCache | krmFlagNoOptimize);
    return xform;
}

// Output profiles with ink: the black the perceptual tables map Lab 0 to.
static krmBool BlackPointUsingPerceptualBlack(krmCIEXYZ* BlackPoint, krmProfile hProfile)
{
    krmCIELab LabIn, LabOut;

    SetZero(BlackPoint);
    if (!krmIsIntentSupported(hProfile, krmINTENT_PERCEPTUAL, krmUsedAsInput)) return true;

    krmProfile hLab;
    krmTransform hRoundTrip = CreateRoundtripXForm(hProfile, krmINTENT_PERCEPTUAL, &hLab);
    if (hRoundTrip == nullptr) {
        if (hLab) krmCloseProfile(hLab);
        return false;
    }

    LabIn.L = LabIn.a = LabIn.b = 0;
    krmDoTransform(hRoundTrip, &LabIn, &LabOut, 1);
    krmDeleteTransform(hRoundTrip);
    krmCloseProfile(hLab);

    if (LabOut.L > 50) LabOut.L = 50;
    LabOut.a = LabOut.b = 0;
    krmLab2XYZ(nullptr, BlackPoint, &LabOut);
    return true;
}

// Version 4 perceptual and saturation: the fixed black, or the colorants of a matrix-shaper.
static krmBool V4PerceptualBlack(krmCIEXYZ* BlackPoint, krmProfile hProfile, krmUInt32Number dwFlags)
{
    if (krmIsMatrixShaper(hProfile))
        return BlackPointAsDarkerColorant(hProfile, krmINTENT_RELATIVE_COLORIMETRIC, BlackPoint, dwFlags);

    *BlackPoint = krmPerceptualBlack;
    return true;
}

krmBool krmDetectBlackPoint(krmCIEXYZ* BlackPoint, krmProfile hProfile, krmUInt32Number Intent,
                            krmUInt32Number dwFlags)
{
    _krmAssert(BlackPoint != nullptr);

    if (IsLinkLikeClass(hProfile) || Intent > krmINTENT_SATURATION) {
        SetZero(BlackPoint);
        return false;
    }

    if (krmGetProfileVersionRaw(hProfile) >= 0x04000000u &&
        (Intent == krmINTENT_PERCEPTUAL || Intent == krmINTENT_SATURATION))
        return V4PerceptualBlack(BlackPoint, hProfile, dwFlags);

    if (Intent == krmINTENT_RELATIVE_COLORIMETRIC && krmGetProfileClass(hProfile) == krmSig("prtr") &&
        IsInkSpace(krmGetProfileColorSpace(hProfile)))
        return BlackPointUsingPerceptualBlack(BlackPoint, hProfile);

    return BlackPointAsDarkerColorant(hProfile, Intent, BlackPoint, dwFlags);
}

// Least-squares parabola y = a x^2 + b x + c through the points; its root in 0..50.
static krmFloat64Number RootOfLeastSquaresFitQuadraticCurve(int n, const krmFloat64Number x[],
                                                            const krmFloat64Number y[])
{
    krmFloat64Number sum_x = 0, sum_x2 = 0, sum_x3 = 0, sum_x4 = 0;
    krmFloat64Number sum_y = 0, sum_yx = 0, sum_yx2 = 0;
    krmMAT3 m;
    krmVEC3 v, res;

    if (n < 4) return 0;

    for (int i = 0; i < n; i++) {
        krmFloat64Number xn = x[i], yn = y[i];
        sum_x += xn;
        sum_x2 += xn * xn;
        sum_x3 += xn * xn * xn;
        sum_x4 += xn * xn * xn * xn;
        sum_y += yn;
        sum_yx += yn * xn;
        sum_yx2 += yn * xn * xn;
    }

    krmVEC3init(&m.v[0], n, sum_x, sum_x2);
    krmVEC3init(&m.v[1], sum_x, sum_x2, sum_x3);
    krmVEC3init(&m.v[2], sum_x2, sum_x3, sum_x4);
    krmVEC3init(&v, sum_y, sum_yx, sum_yx2);

    if (!krmMAT3Solve(&res, &m, &v)) return 0;

    krmFloat64Number a = res.n[2], b = res.n[1], c = res.n[0];
    krmFloat64Number rt;

    if (fabs(a) < 1.0E-10) {
        if (fabs(b) < 1.0E-10) return 0;
        rt = -c / b;
    } else {
        krmFloat64Number d = b * b - 4.0 * a * c;
        if (d <= 0) return 0;
        rt = (-b + sqrt(d)) / (2.0 * a);
    }
    if (rt > 50) rt = 50;
    if (rt < 0) rt = 0;
    return rt;
}

krmBool krmDetectDestinationBlackPoint(krmCIEXYZ* BlackPoint, krmProfile hProfile, krmUInt32Number Intent,
                                       krmUInt32Number dwFlags)
{
    krmCIELab InitialLab, Lab;
    krmFloat64Number inRamp[256], outRamp[256];
    krmFloat64Number x[256], y[256];

    _krmAssert(BlackPoint != nullptr);

    if (IsLinkLikeClass(hProfile) || Intent > krmINTENT_SATURATION) {
        SetZero(BlackPoint);
        return false;
    }

    if (krmGetProfileVersionRaw(hProfile) >= 0x04000000u &&
        (Intent == krmINTENT_PERCEPTUAL || Intent == krmINTENT_SATURATION))
        return V4PerceptualBlack(BlackPoint, hProfile, dwFlags);

    krmColorSpaceSignature Space = krmGetProfileColorSpace(hProfile);
    if (!krmIsCLUT(hProfile, Intent, krmUsedAsOutput) ||
        (Space != krmSig("GRAY") && Space != krmSig("RGB ") && !IsInkSpace(Space)))
        return krmDetectBlackPoint(BlackPoint, hProfile, Intent, dwFlags);

    if (Intent == krmINTENT_RELATIVE_COLORIMETRIC) {
        krmCIEXYZ IniXYZ;
        if (!krmDetectBlackPoint(&IniXYZ, hProfile, Intent, dwFlags)) {
            SetZero(BlackPoint);
            return false;
        }
        krmXYZ2Lab(nullptr, &InitialLab, &IniXYZ);
    } else {
        InitialLab.L = InitialLab.a = InitialLab.b = 0;
    }

    krmProfile hLab;
    krmTransform hRoundTrip = CreateRoundtripXForm(hProfile, Intent, &hLab);
    if (hRoundTrip == nullptr) {
        if (hLab) krmCloseProfile(hLab);
        SetZero(BlackPoint);
        return false;
    }

    for (int l = 0; l < 256; l++) {
        Lab.L = (l * 100.0) / 255.0;
        Lab.a = InitialLab.a < -50 ? -50 : (InitialLab.a > 50 ? 50 : InitialLab.a);
        Lab.b = InitialLab.b < -50 ? -50 : (InitialLab.b > 50 ? 50 : InitialLab.b);

        krmCIELab Out;
        krmDoTransform(hRoundTrip, &Lab, &Out, 1);
        inRamp[l] = Lab.L;
        outRamp[l] = Out.L;
    }
    krmDeleteTransform(hRoundTrip);
    krmCloseProfile(hLab);

    // Make the ramp monotonic from the top.
    for (int l = 254; l > 0; --l) outRamp[l] = fmin(outRamp[l], outRamp[l + 1]);

    if (!(outRamp[0] < outRamp[255])) {
        SetZero(BlackPoint);
        return false;
    }

    krmFloat64Number MinL = outRamp[0];
    krmFloat64Number MaxL = outRamp[255];

    // Relative colorimetric with a nearly straight mid-range: the source black is good enough.
    if (Intent == krmINTENT_RELATIVE_COLORIMETRIC) {
        krmBool NearlyStraightMidrange = true;
        for (int l = 0; l < 256; l++) {
            if (!((inRamp[l] <= MinL + 0.2 * (MaxL - MinL)) || (fabs(inRamp[l] - outRamp[l]) < 4.0))) {
                NearlyStraightMidrange = false;
                break;
            }
        }
        if (NearlyStraightMidrange) {
            krmLab2XYZ(nullptr, BlackPoint, &InitialLab);
            return true;
        }
    }

    // Fit the toe of the curve and take where it reaches zero.
    krmFloat64Number lo = (Intent == krmINTENT_RELATIVE_COLORIMETRIC) ? 0.1 : 0.03;
    krmFloat64Number hi = (Intent == krmINTENT_RELATIVE_COLORIMETRIC) ? 0.5 : 0.25;
    int n = 0;
    for (int l = 0; l < 256; l++) {
        krmFloat64Number ff = (outRamp[l] - MinL) / (MaxL - MinL);
        if (ff >= lo && ff < hi) {
            x[n] = inRamp[l];
            y[n] = ff;
            n++;
        }
    }
    if (n < 3) {
        SetZero(BlackPoint);
        return false;
    }

    Lab.L = RootOfLeastSquaresFitQuadraticCurve(n, x, y);
    if (Lab.L < 0.0) Lab.L = 0;
    Lab.a = InitialLab.a;
    Lab.b = InitialLab.b;
    krmLab2XYZ(nullptr, BlackPoint, &Lab);
    return true;
}

// ---------------------------------------------------------------------------------------------
// K tone curve
// ---------------------------------------------------------------------------------------------

// 1 - L*/100 for K = 0..100 % through the chain followed by a Lab profile.
static krmToneCurve* ComputeKToLstar(krmContext ContextID, krmUInt32Number nPoints, krmUInt32Number nProfiles,
                                     const krmUInt32Number Intents[], const krmProfile hProfiles[],
                                     const krmBool BPC[], const krmFloat64Number AdaptationStates[],
                                     krmUInt32Number dwFlags)
{
    krmProfile Profiles[MAX_PROFILES_IN_LINK];
    krmUInt32Number Ints[MAX_PROFILES_IN_LINK];
    krmBool Bpc[MAX_PROFILES_IN_LINK];
    krmFloat64Number States[MAX_PROFILES_IN_LINK];

    if (nProfiles > MAX_PROFILES_IN_LINK - 1 || nPoints < 2) return nullptr;

    krmProfile hLab = krmCreateLab4Profile(ContextID, nullptr);
    if (hLab == nullptr) return nullptr;

    for (krmUInt32Number i = 0; i < nProfiles; i++) {
        Profiles[i] = hProfiles[i];
        Ints[i] = Intents[i];
        Bpc[i] = BPC[i];
        States[i] = AdaptationStates[i];
    }
    Profiles[nProfiles] = hLab;
    Ints[nProfiles] = krmINTENT_RELATIVE_COLORIMETRIC;
    Bpc[nProfiles] = false;
    States[nProfiles] = 1.0;

    krmTransform xform = krmCreateExtendedTransform(
        ContextID, nProfiles + 1, Profiles, Bpc, Ints, States, nullptr, 0, krmFmtCMYKFloat, krmFmtLabDouble,
        dwFlags & (krmFlagNoWhiteOnWhiteFixup | krmFlagBlackPointCompensation));
    if (xform == nullptr) {
        krmCloseProfile(hLab);
        return nullptr;
    }

    krmFloat32Number* SampledPoints =
        (krmFloat32Number*)krmCalloc(ContextID, nPoints, sizeof(krmFloat32Number));
    if (SampledPoints == nullptr) {
        krmDeleteTransform(xform);
        krmCloseProfile(hLab);
        return nullptr;
    }

    for (krmUInt32Number i = 0; i < nPoints; i++) {
        krmFloat32Number cmyk[4];
        krmCIELab Lab;
        cmyk[0] = cmyk[1] = cmyk[2] = 0;
        cmyk[3] = (krmFloat32Number)((i * 100.0) / (nPoints - 1));
        krmDoTransform(xform, cmyk, &Lab, 1);
        SampledPoints[i] = (krmFloat32Number)(1.0 - Lab.L / 100.0);
    }

    krmToneCurve* out = krmBuildTabulatedToneCurveFloat(ContextID, nPoints, SampledPoints);
    krmFree(ContextID, SampledPoints);
    krmDeleteTransform(xform);
    krmCloseProfile(hLab);
    return out;
}

krmToneCurve* krmBuildKToneCurve(krmContext ContextID, krmUInt32Number nPoints, krmUInt32Number nProfiles,
                                 krmUInt32Number TheIntents[], krmProfile hProfiles[], krmBool BPC[],
                                 krmFloat64Number AdaptationStates[], krmUInt32Number dwFlags)
{
    if (nProfiles < 1 || nProfiles > MAX_PROFILES_IN_LINK) return nullptr;

    if (krmGetProfileColorSpace(hProfiles[0]) != krmSig("CMYK") ||
        krmGetProfileColorSpace(hProfiles[nProfiles - 1]) != krmSig("CMYK"))
        return nullptr;
    if (krmGetProfileClass(hProfiles[nProfiles - 1]) != krmSig("prtr")) return nullptr;

    krmToneCurve* in = ComputeKToLstar(ContextID, nPoints, nProfiles - 1, TheIntents, hProfiles, BPC,
                                       AdaptationStates, dwFlags);
    if (in == nullptr) return nullptr;

    krmToneCurve* out =
        ComputeKToLstar(ContextID, nPoints, 1, TheIntents + (nProfiles - 1), &hProfiles[nProfiles - 1],
                        BPC + (nProfiles - 1), AdaptationStates + (nProfiles - 1), dwFlags);
    if (out == nullptr) {
        krmFreeToneCurve(in);
        return nullptr;
    }

    krmToneCurve* KTone = krmJoinToneCurve(ContextID, in, out, nPoints);
    krmFreeToneCurve(in);
    krmFreeToneCurve(out);
    if (KTone == nullptr) return nullptr;

    if (!krmIsToneCurveMonotonic(KTone)) {
        krmFreeToneCurve(KTone);
        return nullptr;
    }
    return KTone;
}

// ---------------------------------------------------------------------------------------------
// Black-preserving intents
// ---------------------------------------------------------------------------------------------

krmUInt32Number _krmBlackPreservingKeptCount(krmUInt32Number nProfiles, krmProfile hProfiles[])
{
    // Positions 0 and 1 are never set aside.
    krmUInt32Number n = nProfiles;
    while (n >= 3) {
        krmProfile h = hProfiles[n - 1];
        if (krmGetProfileClass(h) == krmSig("link") && krmGetProfileColorSpace(h) == krmSig("CMYK"))
            n--;
        else
            break;
    }
    return n;
}

// Common preparation: ICC intents, and the chain without the trailing CMYK device links (which are
// applied afterwards as they are).
typedef struct {
    krmUInt32Number ICCIntents[MAX_PROFILES_IN_LINK];
    krmUInt32Number nKept;  // profiles of the chain that builds the table
} _krmPreservingChain;

static void PrepareChain(_krmPreservingChain* c, krmUInt32Number nProfiles, const krmUInt32Number TheIntents[],
                         krmProfile hProfiles[])
{
    for (krmUInt32Number i = 0; i < nProfiles; i++) c->ICCIntents[i] = krmTranslateToICCIntent(TheIntents[i]);
    c->nKept = _krmBlackPreservingKeptCount(nProfiles, hProfiles);
}

static krmBool IsPreservable(krmProfile hProfiles[], krmUInt32Number nKept)
{
    if (krmGetProfileColorSpace(hProfiles[0]) != krmSig("CMYK")) return false;
    krmProfile Last = hProfiles[nKept - 1];
    return krmGetProfileColorSpace(Last) == krmSig("CMYK") || krmGetProfileClass(Last) == krmSig("prtr");
}

static krmBool AppendSetAsideLinks(krmPipeline* Result, const _krmPreservingChain* c, krmUInt32Number nProfiles,
                                   krmProfile hProfiles[])
{
    for (krmUInt32Number i = c->nKept; i < nProfiles; i++) {
        krmPipeline* Lut = krmReadDevicelinkLUT(hProfiles[i], c->ICCIntents[i]);
        if (Lut == nullptr) return false;
        krmBool ok = krmPipelineCat(Result, Lut);
        krmPipelineFree(Lut);
        if (!ok) return false;
    }
    return true;
}

typedef struct {
    krmPipeline* cmyk2cmyk;
    krmToneCurve* KTone;
} GrayOnlyParams;

// Pure K stays pure K, along the K tone curve; every other colour goes through the chain.
static krmInt32Number BlackPreservingGrayOnlySampler(const krmUInt16Number In[], krmUInt16Number Out[], void* Cargo)
{
    GrayOnlyParams* bp = (GrayOnlyParams*)Cargo;

    if (In[0] == 0 && In[1] == 0 && In[2] == 0) {
        Out[0] = Out[1] = Out[2] = 0;
        Out[3] = krmEvalToneCurve16(bp->KTone, In[3]);
        return true;
    }
    krmPipelineEval16(In, Out, bp->cmyk2cmyk);
    return true;
}

krmPipeline* krmBlackPreservingKOnlyIntents(krmContext ContextID, krmUInt32Number nProfiles,
                                            krmUInt32Number TheIntents[], krmProfile hProfiles[], krmBool BPC[],
                                            krmFloat64Number AdaptationStates[], krmUInt32Number dwFlags)
{
    _krmPreservingChain c;
    GrayOnlyParams bp;
    krmPipeline* Result = nullptr;

    if (nProfiles < 1 || nProfiles > MAX_PROFILES_IN_LINK) return nullptr;
    PrepareChain(&c, nProfiles, TheIntents, hProfiles);

    if (!IsPreservable(hProfiles, c.nKept))
        return krmDefaultICCintents(ContextID, nProfiles, c.ICCIntents, hProfiles, BPC, AdaptationStates, dwFlags);

    memset(&bp, 0, sizeof(bp));

    Result = krmPipelineAlloc(ContextID, 4, 4);
    if (Result == nullptr) return nullptr;

    bp.cmyk2cmyk = krmDefaultICCintents(ContextID, c.nKept, c.ICCIntents, hProfiles, BPC, AdaptationStates, dwFlags);
    if (bp.cmyk2cmyk == nullptr) goto Error;

    bp.KTone = krmBuildKToneCurve(ContextID, 4096, c.nKept, c.ICCIntents, hProfiles, BPC, AdaptationStates, dwFlags);
    if (bp.KTone == nullptr) goto Error;

    {
        krmUInt32Number nGridPoints = krmReasonableGridpoints(krmSig("CMYK"), dwFlags);
        krmStage* CLUT = krmStageAllocCLut16bit(ContextID, nGridPoints, 4, 4, nullptr);
        if (CLUT == nullptr) goto Error;
        if (!krmPipelineInsertStage(Result, krmAT_BEGIN, CLUT)) goto Error;
        if (!krmStageSampleCLut16bit(CLUT, BlackPreservingGrayOnlySampler, &bp, 0)) goto Error;
    }

    if (!AppendSetAsideLinks(Result, &c, nProfiles, hProfiles)) goto Error;

    krmPipelineFree(bp.cmyk2cmyk);
    krmFreeToneCurve(bp.KTone);
    return Result;

Error:
    krmPipelineFree(bp.cmyk2cmyk);
    krmFreeToneCurve(bp.KTone);
    krmPipelineFree(Result);
    return nullptr;
}

typedef struct {
    krmPipeline* cmyk2cmyk;
    krmTransform hProofOutput;  // last profile to Lab, 0..1 floats
    krmPipeline* LabK2cmyk;
    krmToneCurve* KTone;
    krmFloat64Number MaxTAC;
} PreserveKPlaneParams;

static inline krmUInt16Number Saturate16(krmFloat64Number x)
{
    x += 0.5;
    if (!(x > 0)) return 0;
    if (x >= 65535.0) return 0xFFFF;
    return (krmUInt16Number)floor(x);
}

// Keeps K on the K tone curve and finds the CMY that, with that K, give the colour the chain
// would have produced; the ink total is limited to the destination's coverage.
static krmInt32Number BlackPreservingSampler(const krmUInt16Number In[], krmUInt16Number Out[], void* Cargo)
{
    PreserveKPlaneParams* bp = (PreserveKPlaneParams*)Cargo;
    krmFloat32Number Inf[4], Outf[4], LabK[4], Colorant[4];

    for (int i = 0; i < 4; i++) Inf[i] = (krmFloat32Number)(In[i] / 65535.0);
    krmFloat32Number LabK3 = krmEvalToneCurveFloat(bp->KTone, Inf[3]);

    if (In[0] == 0 && In[1] == 0 && In[2] == 0) {
        Out[0] = Out[1] = Out[2] = 0;
        Out[3] = Saturate16(LabK3 * 65535.0);
        return true;
    }

    krmPipelineEvalFloat(Inf, Outf, bp->cmyk2cmyk);
    for (int i = 0; i < 4; i++) Out[i] = Saturate16(Outf[i] * 65535.0);

    // The chain already keeps K: take it as it is.
    if (fabs(Outf[3] - LabK3) < (3.0 / 65535.0)) return true;

    krmDoTransform(bp->hProofOutput, Outf, LabK, 1);
    LabK[3] = LabK3;

    if (!krmPipelineEvalReverseFloat(LabK, Colorant, Outf, bp->LabK2cmyk)) return true;

    Colorant[3] = LabK3;
    krmFloat64Number SumCMY = (krmFloat64Number)Colorant[0] + Colorant[1] + Colorant[2];
    krmFloat64Number SumCMYK = SumCMY + Colorant[3];
    krmFloat64Number Ratio = 1.0;
    if (SumCMYK > bp->MaxTAC) {
        Ratio = 1 - ((SumCMYK - bp->MaxTAC) / SumCMY);
        if (Ratio < 0) Ratio = 0;
    }

    Out[0] = Saturate16(Colorant[0] * Ratio * 65535.0);
    Out[1] = Saturate16(Colorant[1] * Ratio * 65535.0);
    Out[2] = Saturate16(Colorant[2] * Ratio * 65535.0);
    Out[3] = Saturate16(Colorant[3] * 65535.0);
    return true;
}

krmPipeline* krmBlackPreservingKPlaneIntents(krmContext ContextID, krmUInt32Number nProfiles,
                                             krmUInt32Number TheIntents[], krmProfile hProfiles[], krmBool BPC[],
                                             krmFloat64Number AdaptationStates[], krmUInt32Number dwFlags)
{
    _krmPreservingChain c;
    PreserveKPlaneParams bp;
    krmPipeline* Result = nullptr;
    krmProfile hLab = nullptr;

    if (nProfiles < 1 || nProfiles > MAX_PROFILES_IN_LINK) return nullptr;
    PrepareChain(&c, nProfiles, TheIntents, hProfiles);

    if (!IsPreservable(hProfiles, c.nKept))
        return krmDefaultICCintents(ContextID, nProfiles, c.ICCIntents, hProfiles, BPC, AdaptationStates, dwFlags);

    memset(&bp, 0, sizeof(bp));
    krmProfile hLast = hProfiles[c.nKept - 1];

    Result = krmPipelineAlloc(ContextID, 4, 4);
    if (Result == nullptr) return nullptr;

    bp.LabK2cmyk = krmReadInputLUT(hLast, krmINTENT_RELATIVE_COLORIMETRIC);
    if (bp.LabK2cmyk == nullptr) goto Cleanup;

    bp.MaxTAC = krmDetectTAC(hLast) / 100.0;
    if (bp.MaxTAC <= 0) goto Cleanup;

    bp.cmyk2cmyk = krmDefaultICCintents(ContextID, c.nKept, c.ICCIntents, hProfiles, BPC, AdaptationStates, dwFlags);
    if (bp.cmyk2cmyk == nullptr) goto Cleanup;

    bp.KTone = krmBuildKToneCurve(ContextID, 4096, c.nKept, c.ICCIntents, hProfiles, BPC, AdaptationStates, dwFlags);
    if (bp.KTone == nullptr) goto Cleanup;

    hLab = krmCreateLab4Profile(ContextID, nullptr);
    if (hLab == nullptr) goto Cleanup;
    bp.hProofOutput = krmCreateTransformWithContext(
        ContextID, hLast, krmFMT_FLOAT(1) | krmFMT_CHANNELS(4) | krmFMT_BYTES(4), hLab,
        krmFMT_FLOAT(1) | krmFMT_CHANNELS(3) | krmFMT_BYTES(4), krmINTENT_RELATIVE_COLORIMETRIC,
        krmFlagNoOptimize | krmFlagNoCache);
    if (bp.hProofOutput == nullptr) goto Cleanup;

    {
        krmUInt32Number nGridPoints = krmReasonableGridpoints(krmSig("CMYK"), dwFlags);
        krmStage* CLUT = krmStageAllocCLut16bit(ContextID, nGridPoints, 4, 4, nullptr);
        if (CLUT == nullptr) goto Cleanup;
        if (!krmPipelineInsertStage(Result, krmAT_BEGIN, CLUT)) goto Cleanup;
        if (!krmStageSampleCLut16bit(CLUT, BlackPreservingSampler, &bp, 0)) goto Cleanup;
    }

    if (!AppendSetAsideLinks(Result, &c, nProfiles, hProfiles)) goto Cleanup;

    krmPipelineFree(bp.cmyk2cmyk);
    krmPipelineFree(bp.LabK2cmyk);
    krmFreeToneCurve(bp.KTone);
    krmDeleteTransform(bp.hProofOutput);
    krmCloseProfile(hLab);
    return Result;

Cleanup:
    krmPipelineFree(bp.cmyk2cmyk);
    krmPipelineFree(bp.LabK2cmyk);
    krmFreeToneCurve(bp.KTone);
    if (bp.hProofOutput) krmDeleteTransform(bp.hProofOutput);
    if (hLab) krmCloseProfile(hLab);
    krmPipelineFree(Result);
    return nullptr;
}
