// Linking chains of profiles into one pipeline: the intent registry, the ICC intents with
// absolute colorimetric scaling and black point compensation, and the PCS conversions between
// neighbours.

#include "krm_internal.h"

#include <cmath>
#include <cstring>

#define MAX_ENCODEABLE_XYZ 1.999969482421875
#define MAX_PROFILES_IN_LINK 255

// ---------------------------------------------------------------------------------------------
// Intent registry
// ---------------------------------------------------------------------------------------------

// The built-in intents, in search order.
static krmIntentsList DefaultIntents[] = {
    {krmINTENT_PERCEPTUAL, "Perceptual", krmDefaultICCintents, &DefaultIntents[1]},
    {krmINTENT_RELATIVE_COLORIMETRIC, "Relative colorimetric", krmDefaultICCintents, &DefaultIntents[2]},
    {krmINTENT_SATURATION, "Saturation", krmDefaultICCintents, &DefaultIntents[3]},
    {krmINTENT_ABSOLUTE_COLORIMETRIC, "Absolute colorimetric", krmDefaultICCintents, &DefaultIntents[4]},
    {krmINTENT_PRESERVE_K_ONLY_PERCEPTUAL, "Perceptual preserving black ink", krmBlackPreservingKOnlyIntents,
     &DefaultIntents[5]},
    {krmINTENT_PRESERVE_K_ONLY_RELATIVE_COLORIMETRIC, "Relative colorimetric preserving black ink",
     krmBlackPreservingKOnlyIntents, &DefaultIntents[6]},
    {krmINTENT_PRESERVE_K_ONLY_SATURATION, "Saturation preserving black ink", krmBlackPreservingKOnlyIntents,
     &DefaultIntents[7]},
    {krmINTENT_PRESERVE_K_PLANE_PERCEPTUAL, "Perceptual preserving black plane", krmBlackPreservingKPlaneIntents,
     &DefaultIntents[8]},
    {krmINTENT_PRESERVE_K_PLANE_RELATIVE_COLORIMETRIC, "Relative colorimetric preserving black plane",
     krmBlackPreservingKPlaneIntents, &DefaultIntents[9]},
    {krmINTENT_PRESERVE_K_PLANE_SATURATION, "Saturation preserving black plane", krmBlackPreservingKPlaneIntents,
     nullptr},
};

// The link function of an intent: the context's registrations first, then the built-in table.
static krmIntentFn SearchIntent(krmContext ContextID, krmUInt32Number Intent)
{
    for (const _krmPluginListEntry* e = _krmGetPluginList(ContextID, krmPluginRenderingIntentSig); e != nullptr;
         e = e->Next) {
        const krmPluginRenderingIntent* p = (const krmPluginRenderingIntent*)e->Plugin;
        if (p->Intent == Intent) return p->Link;
    }
    for (const krmIntentsList* d = DefaultIntents; d != nullptr; d = d->Next)
        if (d->Intent == Intent) return d->Link;
    return nullptr;
}

krmUInt32Number krmGetSupportedIntents(krmContext ContextID, krmUInt32Number nMax, krmUInt32Number* Codes,
                                       const char** Descriptions)
{
    krmUInt32Number nIntents = 0;

    for (const _krmPluginListEntry* e = _krmGetPluginList(ContextID, krmPluginRenderingIntentSig); e != nullptr;
         e = e->Next) {
        const krmPluginRenderingIntent* p = (const krmPluginRenderingIntent*)e->Plugin;
        if (nIntents < nMax) {
            if (Codes) Codes[nIntents] = p->Intent;
            if (Descriptions) Descriptions[nIntents] = p->Description;
        }
        nIntents++;
    }
    for (const krmIntentsList* d = DefaultIntents; d != nullptr; d = d->Next) {
        if (nIntents < nMax) {
            if (Codes) Codes[nIntents] = d->Intent;
            if (Descriptions) Descriptions[nIntents] = d->Description;
        }
        nIntents++;
    }
    return nIntents;
}

krmUInt32Number krmTranslateToICCIntent(krmUInt32Number Intent)
{
    switch (Intent) {
    case krmINTENT_PRESERVE_K_ONLY_PERCEPTUAL:
    case krmINTENT_PRESERVE_K_PLANE_PERCEPTUAL:
        return krmINTENT_PERCEPTUAL;
    case krmINTENT_PRESERVE_K_ONLY_RELATIVE_COLORIMETRIC:
    case krmINTENT_PRESERVE_K_PLANE_RELATIVE_COLORIMETRIC:
        return krmINTENT_RELATIVE_COLORIMETRIC;
    case krmINTENT_PRESERVE_K_ONLY_SATURATION:
    case krmINTENT_PRESERVE_K_PLANE_SATURATION:
        return krmINTENT_SATURATION;
    default:
        return Intent;
    }
}

krmFloat64Number krmSetAdaptationState(krmContext ContextID, krmFloat64Number d)
{
    _krmAdaptationStateChunkType* ptr =
        (_krmAdaptationStateChunkType*)_krmContextGetClientChunk(ContextID, AdaptationStateContext);
    krmFloat64Number prev = ptr->AdaptationState;
    if (d >= 0) ptr->AdaptationState = d;
    return prev;
}

// ---------------------------------------------------------------------------------------------
// Conversion between neighbours
// ---------------------------------------------------------------------------------------------

// Colour temperature of the white that a CHAD maps to D50; 0 when the CHAD cannot be inverted,
// -1 when the white has no temperature.
static krmFloat64Number CHAD2Temp(const krmMAT3* Chad)
{
    krmMAT3 m2;
    krmVEC3 d, s;
    krmCIEXYZ Dest;
    krmCIExyY DestChromaticity;
    krmFloat64Number TempK;

    if (!krmMAT3Inverse(Chad, &m2)) return 0;
    s.n[0] = krmD50X;
    s.n[1] = krmD50Y;
    s.n[2] = krmD50Z;
    krmMAT3Eval(&d, &m2, &s);

    Dest.X = d.n[0];
    Dest.Y = d.n[1];
    Dest.Z = d.n[2];
    krmXYZ2xyY(&DestChromaticity, &Dest);
    if (!krmTempFromWhitePoint(&TempK, &DestChromaticity)) return -1.0;
    return TempK;
}

// Bradford adaptation from the daylight white of a temperature to D50.
static krmBool Temp2CHAD(krmMAT3* Chad, krmFloat64Number Temp)
{
    krmCIEXYZ White;
    krmCIExyY ChromaticityOfWhite;

    if (!krmWhitePointFromTemp(&ChromaticityOfWhite, Temp)) return false;
    krmxyY2XYZ(&White, &ChromaticityOfWhite);
    return krmAdaptationMatrix(Chad, nullptr, &White, krmD50_XYZ());
}

// Absolute colorimetric scaling between two media whites, for an observer adapted to the given
// degree (1 = fully adapted to each medium, 0 = not at all).
static krmBool ComputeAbsoluteIntent(krmFloat64Number AdaptationState, const krmCIEXYZ* WhitePointIn,
                                     const krmMAT3* ChromaticAdaptationMatrixIn, const krmCIEXYZ* WhitePointOut,
                                     const krmMAT3* ChromaticAdaptationMatrixOut, krmMAT3* m)
{
    krmMAT3 Scale, m1, m2, m3, m4;

    krmVEC3init(&Scale.v[0], WhitePointIn->X / WhitePointOut->X, 0, 0);
    krmVEC3init(&Scale.v[1], 0, WhitePointIn->Y / WhitePointOut->Y, 0);
    krmVEC3init(&Scale.v[2], 0, 0, WhitePointIn->Z / WhitePointOut->Z);

    if (AdaptationState == 1.0) {
        *m = Scale;
        return true;
    }

    if (AdaptationState == 0.0) {
        krmMAT3Multiply(&m2, ChromaticAdaptationMatrixOut, &Scale);
        if (!krmMAT3Inverse(ChromaticAdaptationMatrixIn, &m4)) return false;
        krmMAT3Multiply(m, &m2, &m4);
        return true;
    }

    if (!krmMAT3Inverse(ChromaticAdaptationMatrixIn, &m1)) return false;
    krmMAT3Multiply(&m3, &m1, &Scale);

    krmFloat64Number TempSrc = CHAD2Temp(ChromaticAdaptationMatrixIn);
    krmFloat64Number TempDest = CHAD2Temp(ChromaticAdaptationMatrixOut);
    if (TempSrc < 0.0 || TempDest < 0.0) return false;

    if (krmMAT3IsIdentity(&Scale) && fabs(TempSrc - TempDest) < 0.01) {
        krmMAT3Identity(m);
        return true;
    }

    krmFloat64Number Temp = (1.0 - AdaptationState) * TempDest + AdaptationState * TempSrc;
    if (!Temp2CHAD(&m2, Temp)) return false;
    krmMAT3Multiply(m, &m3, &m2);
    return true;
}

// Linear scaling of XYZ that maps the source black to the destination black, keeping D50.
static void ComputeBlackPointCompensation(const krmCIEXYZ* BlackPointIn, const krmCIEXYZ* BlackPointOut, krmMAT3* m,
                                          krmVEC3* off)
{
    const krmCIEXYZ* D50 = krmD50_XYZ();
    const krmFloat64Number In[3] = {BlackPointIn->X, BlackPointIn->Y, BlackPointIn->Z};
    const krmFloat64Number Out[3] = {BlackPointOut->X, BlackPointOut->Y, BlackPointOut->Z};
    const krmFloat64Number W[3] = {D50->X, D50->Y, D50->Z};

    krmMAT3Identity(m);
    for (int k = 0; k < 3; k++) {
        krmFloat64Number t = In[k] - W[k];
        m->v[k].n[k] = (Out[k] - W[k]) / t;
        off->n[k] = -W[k] * (Out[k] - In[k]) / t;
    }
}

static krmBool ComputeConversion(krmUInt32Number i, krmProfile hProfiles[], krmUInt32Number Intent, krmBool BPC,
                                 krmFloat64Number AdaptationState, krmMAT3* m, krmVEC3* off)
{
    krmMAT3Identity(m);
    krmVEC3init(off, 0, 0, 0);

    if (Intent == krmINTENT_ABSOLUTE_COLORIMETRIC) {
        krmCIEXYZ WhitePointIn, WhitePointOut;
        krmMAT3 ChromaticAdaptationMatrixIn, ChromaticAdaptationMatrixOut;

        if (!krmReadMediaWhitePoint(&WhitePointIn, hProfiles[i - 1])) return false;
        if (!krmReadCHAD(&ChromaticAdaptationMatrixIn, hProfiles[i - 1])) return false;
        if (!krmReadMediaWhitePoint(&WhitePointOut, hProfiles[i])) return false;
        if (!krmReadCHAD(&ChromaticAdaptationMatrixOut, hProfiles[i])) return false;

        if (!ComputeAbsoluteIntent(AdaptationState, &WhitePointIn, &ChromaticAdaptationMatrixIn, &WhitePointOut,
                                   &ChromaticAdaptationMatrixOut, m))
            return false;
    } else if (BPC) {
        krmCIEXYZ BlackPointIn = {0, 0, 0}, BlackPointOut = {0, 0, 0};

        krmDetectBlackPoint(&BlackPointIn, hProfiles[i - 1], Intent, 0);
        krmDetectDestinationBlackPoint(&BlackPointOut, hProfiles[i], Intent, 0);

        // Equal black points need no compensation; a failed detection leaves zeros.
        if (BlackPointIn.X != BlackPointOut.X || BlackPointIn.Y != BlackPointOut.Y ||
            BlackPointIn.Z != BlackPointOut.Z)
            ComputeBlackPointCompensation(&BlackPointIn, &BlackPointOut, m, off);
    }

    // Pipelines carry XYZ divided by the largest encodable value.
    for (int k = 0; k < 3; k++) off->n[k] /= MAX_ENCODEABLE_XYZ;
    return true;
}

static krmBool IsEmptyLayer(const krmMAT3* m, const krmVEC3* off)
{
    krmFloat64Number diff = 0;
    krmMAT3 Ident;

    krmMAT3Identity(&Ident);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) diff += fabs(m->v[i].n[j] - Ident.v[i].n[j]);
    for (int i = 0; i < 3; i++) diff += fabs(off->n[i]);
    return diff < 0.002;
}

static krmBool InsertOrFail(krmPipeline* Lut, krmStage* mpe)
{
    if (mpe == nullptr) return false;
    return krmPipelineInsertStage(Lut, krmAT_END, mpe);
}

static krmBool AddMatrixStage(krmPipeline* Result, const krmMAT3* m, const krmVEC3* off)
{
    krmFloat64Number mat[9], offset[3];
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) mat[i * 3 + j] = m->v[i].n[j];
        offset[i] = off->n[i];
    }
    return InsertOrFail(Result, krmStageAllocMatrix(krmGetPipelineContextID(Result), 3, 3, mat, offset));
}

// The PCS conversion between the space the chain is in and the space the next pipeline expects.
static krmBool AddConversion(krmPipeline* Result, krmColorSpaceSignature InPCS, krmColorSpaceSignature OutPCS,
                             const krmMAT3* m, const krmVEC3* off)
{
    krmContext ContextID = krmGetPipelineContextID(Result);
    const krmColorSpaceSignature XYZ = krmSig("XYZ "), Lab = krmSig("Lab ");

    if (InPCS == XYZ) {
        if (OutPCS == XYZ) return IsEmptyLayer(m, off) || AddMatrixStage(Result, m, off);
        if (OutPCS == Lab) {
            if (!IsEmptyLayer(m, off) && !AddMatrixStage(Result, m, off)) return false;
            return InsertOrFail(Result, krmStageAllocXYZ2Lab(ContextID));
        }
        return false;
    }
    if (InPCS == Lab) {
        if (OutPCS == XYZ) {
            if (!InsertOrFail(Result, krmStageAllocLab2XYZ(ContextID))) return false;
            return IsEmptyLayer(m, off) || AddMatrixStage(Result, m, off);
        }
        if (OutPCS == Lab) {
            if (IsEmptyLayer(m, off)) return true;
            return InsertOrFail(Result, krmStageAllocLab2XYZ(ContextID)) && AddMatrixStage(Result, m, off) &&
                   InsertOrFail(Result, krmStageAllocXYZ2Lab(ContextID));
        }
        return false;
    }
    return InPCS == OutPCS;
}

static krmBool ColorSpaceIsCompatible(krmColorSpaceSignature a, krmColorSpaceSignature b)
{
    if (a == b) return true;
    if (a == krmSig("4CLR") && b == krmSig("CMYK")) return true;
    if (a == krmSig("CMYK") && b == krmSig("4CLR")) return true;
    if (a == krmSig("XYZ ") && b == krmSig("Lab ")) return true;
    if (a == krmSig("Lab ") && b == krmSig("XYZ ")) return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// The ICC intents
// ---------------------------------------------------------------------------------------------

krmPipeline* krmDefaultICCintents(krmContext ContextID, krmUInt32Number nProfiles, krmUInt32Number TheIntents[],
                                  krmProfile hProfiles[], krmBool BPC[], krmFloat64Number AdaptationStates[],
                                  krmUInt32Number dwFlags)
{
    krmPipeline* Lut = nullptr;
    krmMAT3 m;
    krmVEC3 off;
    const krmColorSpaceSignature XYZ = krmSig("XYZ "), Lab = krmSig("Lab ");

    if (nProfiles == 0 || nProfiles > MAX_PROFILES_IN_LINK) return nullptr;

    krmPipeline* Result = krmPipelineAlloc(ContextID, 0, 0);
    if (Result == nullptr) return nullptr;

    krmColorSpaceSignature CurrentColorSpace = krmGetProfileColorSpace(hProfiles[0]);

    for (krmUInt32Number i = 0; i < nProfiles; i++) {
        krmProfile hProfile = hProfiles[i];
        krmProfileClassSignature ClassSig = krmGetProfileClass(hProfile);
        krmBool lIsDeviceLink = (ClassSig == krmSig("link") || ClassSig == krmSig("abst"));
        krmBool lIsInput =
            (i == 0 && !lIsDeviceLink) || (CurrentColorSpace != XYZ && CurrentColorSpace != Lab);
        krmUInt32Number Intent = TheIntents[i];
        krmColorSpaceSignature ColorSpaceIn, ColorSpaceOut;

        if (lIsInput || lIsDeviceLink) {
            ColorSpaceIn = krmGetProfileColorSpace(hProfile);
            ColorSpaceOut = krmGetProfilePCS(hProfile);
        } else {
            ColorSpaceIn = krmGetProfilePCS(hProfile);
            ColorSpaceOut = krmGetProfileColorSpace(hProfile);
        }

        if (!ColorSpaceIsCompatible(ColorSpaceIn, CurrentColorSpace)) {
            krmSignalError(ContextID, krmErrColorSpaceCheck, "ColorSpace mismatch: profile %u of the chain takes '%c%c%c%c' but receives '%c%c%c%c'",
                           (unsigned)i + 1, (char)(ColorSpaceIn >> 24), (char)(ColorSpaceIn >> 16), (char)(ColorSpaceIn >> 8),
                           (char)ColorSpaceIn, (char)(CurrentColorSpace >> 24), (char)(CurrentColorSpace >> 16),
                           (char)(CurrentColorSpace >> 8), (char)CurrentColorSpace);
            goto Error;
        }

        if (lIsDeviceLink || (ClassSig == krmSig("nmcl") && nProfiles == 1)) {
            Lut = krmReadDevicelinkLUT(hProfile, Intent);
            if (Lut == nullptr) {
                krmSignalError(ContextID, krmErrNotSuitable, "Profile %u of the chain has no readable device link table for intent %u",
                               (unsigned)i + 1, (unsigned)Intent);
                goto Error;
            }

            if (ClassSig == krmSig("abst") && i > 0) {
                if (!ComputeConversion(i, hProfiles, Intent, BPC[i], AdaptationStates[i], &m, &off)) goto Error;
            } else {
                krmMAT3Identity(&m);
                krmVEC3init(&off, 0, 0, 0);
            }
            if (!AddConversion(Result, CurrentColorSpace, ColorSpaceIn, &m, &off)) goto Error;
        } else if (lIsInput) {
            Lut = krmReadInputLUT(hProfile, Intent);
            if (Lut == nullptr) {
                krmSignalError(ContextID, krmErrNotSuitable,
                               "Profile %u of the chain has no readable device-to-PCS table for intent %u", (unsigned)i + 1,
                               (unsigned)Intent);
                goto Error;
            }
        } else {
            Lut = krmReadOutputLUT(hProfile, Intent);
            if (Lut == nullptr) {
                krmSignalError(ContextID, krmErrNotSuitable,
                               "Profile %u of the chain has no readable PCS-to-device table for intent %u", (unsigned)i + 1,
                               (unsigned)Intent);
                goto Error;
            }
            if (!ComputeConversion(i, hProfiles, Intent, BPC[i], AdaptationStates[i], &m, &off)) goto Error;
            if (!AddConversion(Result, CurrentColorSpace, ColorSpaceIn, &m, &off)) goto Error;
        }

        if (!krmPipelineCat(Result, Lut)) goto Error;
        krmPipelineFree(Lut);
        Lut = nullptr;

        CurrentColorSpace = ColorSpaceOut;
    }

    // Clip negatives for device spaces where they make no sense.
    if (dwFlags & krmFlagNoNegatives) {
        if (CurrentColorSpace == krmSig("GRAY") || CurrentColorSpace == krmSig("RGB ") ||
            CurrentColorSpace == krmSig("CMYK")) {
            krmStage* clip = krmStageAllocClipNegatives(ContextID, krmChannelsOf(CurrentColorSpace));
            if (!InsertOrFail(Result, clip)) goto Error;
        }
    }

    if ((krmInt32Number)krmPipelineOutputChannels(Result) != krmChannelsOfColorSpace(CurrentColorSpace)) goto Error;
    return Result;

Error:
    krmPipelineFree(Lut);
    krmPipelineFree(Result);
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Linking
// ---------------------------------------------------------------------------------------------

krmPipeline* krmLinkProfiles(krmContext ContextID, krmUInt32Number nProfiles, krmUInt32Number TheIntents[],
                             krmProfile hProfiles[], krmBool BPC[], krmFloat64Number AdaptationStates[],
                             krmUInt32Number dwFlags)
{
    krmBool LocalBPC[MAX_PROFILES_IN_LINK];

    _krmAssert(TheIntents != nullptr && hProfiles != nullptr && BPC != nullptr && AdaptationStates != nullptr);
    if (nProfiles <= 0 || nProfiles > MAX_PROFILES_IN_LINK) {
        krmSignalError(ContextID, krmErrRange, "Couldn't link '%d' profiles", (int)nProfiles);
        return nullptr;
    }

    // Absolute colorimetric never compensates; version 4 perceptual and saturation tables are
    // made for a fixed black, so they always do. The caller's array is left as it was.
    for (krmUInt32Number i = 0; i < nProfiles; i++) {
        LocalBPC[i] = BPC[i];
        if (TheIntents[i] == krmINTENT_ABSOLUTE_COLORIMETRIC) LocalBPC[i] = false;
        if (TheIntents[i] == krmINTENT_PERCEPTUAL || TheIntents[i] == krmINTENT_SATURATION) {
            if (krmGetProfileVersionRaw(hProfiles[i]) >= 0x04000000u) LocalBPC[i] = true;
        }
    }

    krmIntentFn Link = SearchIntent(ContextID, TheIntents[0]);
    if (Link == nullptr) {
        krmSignalError(ContextID, krmErrUnknownExtension, "Unsupported intent '%d'", (int)TheIntents[0]);
        return nullptr;
    }
    return Link(ContextID, nProfiles, TheIntents, hProfiles, LocalBPC, AdaptationStates, dwFlags);
}
