// What a profile contributes to a link: its device-to-PCS, PCS-to-device and device-link
// pipelines, read from the LUT tags or built from the matrix-shaper tags.

#include "krm_internal.h"

#include <cstring>

#define MAX_ENCODEABLE_XYZ 1.999969482421875
#define INP_ADJ 0.5000076295109483  // 1 / MAX_ENCODEABLE_XYZ
#define OUTP_ADJ 1.999969482421875

// Tags by intent 0..3; absolute colorimetric uses the relative tables (ICC.1:2010 Table 25).
static const krmTagSignature Device2PCS16[] = {krmSig("A2B0"), krmSig("A2B1"), krmSig("A2B2"), krmSig("A2B1")};
static const krmTagSignature Device2PCSFloat[] = {krmSig("D2B0"), krmSig("D2B1"), krmSig("D2B2"), krmSig("D2B3")};
static const krmTagSignature PCS2Device16[] = {krmSig("B2A0"), krmSig("B2A1"), krmSig("B2A2"), krmSig("B2A1")};
static const krmTagSignature PCS2DeviceFloat[] = {krmSig("B2D0"), krmSig("B2D1"), krmSig("B2D2"), krmSig("B2D3")};

// ---------------------------------------------------------------------------------------------
// Tag tests
// ---------------------------------------------------------------------------------------------

krmBool krmIsCLUT(krmProfile hProfile, krmUInt32Number Intent, krmUInt32Number UsedDirection)
{
    // A device link holds one intent: the one in its header.
    if (krmGetProfileClass(hProfile) == krmSig("link")) return krmGetProfileIntent(hProfile) == Intent;

    switch (UsedDirection) {
    case krmUsedAsInput:
        if (Intent > 3) return false;
        return krmIsTag(hProfile, Device2PCS16[Intent]);
    case krmUsedAsOutput:
        if (Intent > 3) return false;
        return krmIsTag(hProfile, PCS2Device16[Intent]);
    case krmUsedAsProof:
        return krmIsIntentSupported(hProfile, Intent, krmUsedAsInput) &&
               krmIsIntentSupported(hProfile, krmINTENT_RELATIVE_COLORIMETRIC, krmUsedAsOutput);
    default:
        krmSignalError(krmGetProfileContext(hProfile), krmErrRange, "Unexpected direction (%d)", (int)UsedDirection);
        return false;
    }
}

krmBool krmIsIntentSupported(krmProfile hProfile, krmUInt32Number Intent, krmUInt32Number UsedDirection)
{
    if (krmIsCLUT(hProfile, Intent, UsedDirection)) return true;
    return krmIsMatrixShaper(hProfile);
}

// ---------------------------------------------------------------------------------------------
// White point and adaptation matrix
// ---------------------------------------------------------------------------------------------

// Version 2 display profiles stored the display's own white in wtpt; their media white is D50.
static krmBool IsV2Display(krmProfile hProfile)
{
    return krmGetProfileClass(hProfile) == krmSig("mntr") && krmGetProfileVersionRaw(hProfile) < 0x04000000u;
}

krmBool krmReadMediaWhitePoint(krmCIEXYZ* Dest, krmProfile hProfile)
{
    _krmAssert(Dest != nullptr);
    const krmCIEXYZ* Tag = (const krmCIEXYZ*)_krmReadTagAsDescribed(hProfile, krmSig("wtpt"));

    if (Tag == nullptr || IsV2Display(hProfile)) {
        *Dest = *krmD50_XYZ();
        return true;
    }
    *Dest = *Tag;
    return true;
}

krmBool krmReadCHAD(krmMAT3* Dest, krmProfile hProfile)
{
    _krmAssert(Dest != nullptr);
    const krmFloat64Number* Tag = (const krmFloat64Number*)_krmReadTagAsDescribed(hProfile, krmSig("chad"));

    if (Tag != nullptr) {
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 3; j++) Dest->v[i].n[j] = Tag[i * 3 + j];
        return true;
    }

    krmMAT3Identity(Dest);

    // Version 2 display profiles: adapt from the display white they store.
    if (IsV2Display(hProfile)) {
        const krmCIEXYZ* White = (const krmCIEXYZ*)_krmReadTagAsDescribed(hProfile, krmSig("wtpt"));
        if (White == nullptr) return true;
        return krmAdaptationMatrix(Dest, nullptr, White, krmD50_XYZ());
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------------------------

static krmBool InsertOrFail(krmPipeline* Lut, krmStageLoc loc, krmStage* mpe)
{
    if (mpe == nullptr) return false;
    return krmPipelineInsertStage(Lut, loc, mpe);
}

// Lab tables interpolate better trilinearly: Lab is not a cube in perceptual terms.
static krmBool ChangeInterpolationToTrilinear(krmPipeline* Lut)
{
    for (krmStage* Stage = krmPipelineFirstStage(Lut); Stage != nullptr; Stage = krmStageNext(Stage)) {
        if (krmStageType(Stage) != krmSigCLutElemType) continue;
        krmStageCLutData* CLUT = (krmStageCLutData*)krmStageData(Stage);
        CLUT->Params->dwFlags |= krmInterpFlagTrilinear;
        if (!krmSetInterpolationRoutine(krmGetPipelineContextID(Lut), CLUT->Params)) return false;
    }
    return true;
}

// Floating-point tags carry real L*a*b* / XYZ; pipelines carry the 0..1 encodings.
static krmBool NormalizeFloatIn(krmPipeline* Lut, krmColorSpaceSignature Space)
{
    krmContext ContextID = krmGetPipelineContextID(Lut);
    if (Space == krmSig("Lab ")) return InsertOrFail(Lut, krmAT_BEGIN, krmStageAllocFloatPCS2Lab(ContextID));
    if (Space == krmSig("XYZ ")) return InsertOrFail(Lut, krmAT_BEGIN, krmStageAllocFloatPCS2XYZ(ContextID));
    return true;
}

static krmBool NormalizeFloatOut(krmPipeline* Lut, krmColorSpaceSignature Space)
{
    krmContext ContextID = krmGetPipelineContextID(Lut);
    if (Space == krmSig("Lab ")) return InsertOrFail(Lut, krmAT_END, krmStageAllocLab2FloatPCS(ContextID));
    if (Space == krmSig("XYZ ")) return InsertOrFail(Lut, krmAT_END, krmStageAllocXYZ2FloatPCS(ContextID));
    return true;
}

// A copy of a float tag, between normalisation stages.
static krmPipeline* ReadFloatTag(krmProfile hProfile, krmTagSignature tag, krmColorSpaceSignature SpaceIn,
                                 krmColorSpaceSignature SpaceOut)
{
    const krmPipeline* Tag = (const krmPipeline*)_krmReadTagAsDescribed(hProfile, tag);
    if (Tag == nullptr) return nullptr;

    krmPipeline* Pipeline = krmPipelineDup(Tag);
    if (Pipeline == nullptr) return nullptr;
    if (!NormalizeFloatIn(Pipeline, SpaceIn) || !NormalizeFloatOut(Pipeline, SpaceOut)) {
        krmPipelineFree(Pipeline);
        return nullptr;
    }
    return Pipeline;
}

static krmTagSignature Pick16(krmProfile hProfile, const krmTagSignature Table[], krmUInt32Number Intent)
{
    krmTagSignature tag16 = Table[Intent];
    if (!krmIsTag(hProfile, tag16)) tag16 = Table[0];
    return tag16;
}

// ---------------------------------------------------------------------------------------------
// Device to PCS
// ---------------------------------------------------------------------------------------------

// Gray TRC to PCS (ICC.1:2010 F.2). With a Lab PCS the TRC gives L* and a*, b* come out neutral.
static krmPipeline* BuildGrayInputMatrixPipeline(krmProfile hProfile)
{
    krmContext ContextID = krmGetProfileContext(hProfile);
    const krmToneCurve* GrayTRC = (const krmToneCurve*)_krmReadTagAsDescribed(hProfile, krmSig("kTRC"));
    if (GrayTRC == nullptr) return nullptr;

    krmPipeline* Lut = krmPipelineAlloc(ContextID, 1, 3);
    if (Lut == nullptr) return nullptr;

    if (krmGetProfilePCS(hProfile) == krmSig("Lab ")) {
        // a* = b* = 0 is 0x8080 in the version 2 encoding of the pipeline.
        const krmUInt16Number Zero[2] = {0x8080, 0x8080};
        const krmFloat64Number PickLstarMatrix[] = {1, 1, 1};
        krmToneCurve* EmptyTab = krmBuildTabulatedToneCurve16(ContextID, 2, Zero);
        if (EmptyTab == nullptr) goto Error;

        krmToneCurve* LabCurves[3] = {(krmToneCurve*)GrayTRC, EmptyTab, EmptyTab};
        krmBool ok = InsertOrFail(Lut, krmAT_END, krmStageAllocMatrix(ContextID, 3, 1, PickLstarMatrix, nullptr)) &&
                     InsertOrFail(Lut, krmAT_END, krmStageAllocToneCurves(ContextID, 3, LabCurves));
        krmFreeToneCurve(EmptyTab);
        if (!ok) goto Error;
    } else {
        const krmFloat64Number GrayInputMatrix[] = {INP_ADJ * krmD50X, INP_ADJ * krmD50Y, INP_ADJ * krmD50Z};
        krmToneCurve* Curves[1] = {(krmToneCurve*)GrayTRC};
        if (!InsertOrFail(Lut, krmAT_END, krmStageAllocToneCurves(ContextID, 1, Curves)) ||
            !InsertOrFail(Lut, krmAT_END, krmStageAllocMatrix(ContextID, 3, 1, GrayInputMatrix, nullptr)))
            goto Error;
    }
    return Lut;

Error:
    krmPipelineFree(Lut);
    return nullptr;
}

// Colorant matrix with the colorants as columns (row 0 holds the three X values).
static krmBool ReadICCMatrixRGB2XYZ(krmMAT3* r, krmProfile hProfile)
{
    const krmCIEXYZ* PtrRed = (const krmCIEXYZ*)_krmReadTagAsDescribed(hProfile, krmSig("rXYZ"));
    const krmCIEXYZ* PtrGreen = (const krmCIEXYZ*)_krmReadTagAsDescribed(hProfile, krmSig("gXYZ"));
    const krmCIEXYZ* PtrBlue = (const krmCIEXYZ*)_krmReadTagAsDescribed(hProfile, krmSig("bXYZ"));
    if (PtrRed == nullptr || PtrGreen == nullptr || PtrBlue == nullptr) return false;

    krmVEC3init(&r->v[0], PtrRed->X, PtrGreen->X, PtrBlue->X);
    krmVEC3init(&r->v[1], PtrRed->Y, PtrGreen->Y, PtrBlue->Y);
    krmVEC3init(&r->v[2], PtrRed->Z, PtrGreen->Z, PtrBlue->Z);
    return true;
}

static krmBool ReadRGBCurves(krmProfile hProfile, krmToneCurve* Shapes[3])
{
    Shapes[0] = (krmToneCurve*)_krmReadTagAsDescribed(hProfile, krmSig("rTRC"));
    Shapes[1] = (krmToneCurve*)_krmReadTagAsDescribed(hProfile, krmSig("gTRC"));
    Shapes[2] = (krmToneCurve*)_krmReadTagAsDescribed(hProfile, krmSig("bTRC"));
    return Shapes[0] != nullptr && Shapes[1] != nullptr && Shapes[2] != nullptr;
}

static krmPipeline* BuildRGBInputMatrixShaper(krmProfile hProfile)
{
    krmContext ContextID = krmGetProfileContext(hProfile);
    krmMAT3 Mat;
    krmToneCurve* Shapes[3];

    if (!ReadICCMatrixRGB2XYZ(&Mat, hProfile)) return nullptr;
    if (!ReadRGBCurves(hProfile, Shapes)) return nullptr;

    // The pipeline carries XYZ divided by the largest encodable value.
    krmFloat64Number m[9];
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) m[i * 3 + j] = Mat.v[i].n[j] * INP_ADJ;

    krmPipeline* Lut = krmPipelineAlloc(ContextID, 3, 3);
    if (Lut == nullptr) return nullptr;

    if (!InsertOrFail(Lut, krmAT_END, krmStageAllocToneCurves(ContextID, 3, Shapes)) ||
        !InsertOrFail(Lut, krmAT_END, krmStageAllocMatrix(ContextID, 3, 3, m, nullptr)))
        goto Error;

    if (krmGetProfilePCS(hProfile) == krmSig("Lab ")) {
        if (!InsertOrFail(Lut, krmAT_END, krmStageAllocXYZ2Lab(ContextID))) goto Error;
    }
    return Lut;

Error:
    krmPipelineFree(Lut);
    return nullptr;
}

// Named colours to PCS: the index picks the colour's PCS value (stored in version 2 Lab).
static krmPipeline* BuildNamedColorPipeline(krmProfile hProfile, krmBool UsePCS)
{
    krmContext ContextID = krmGetProfileContext(hProfile);
    const krmNamedColorList* nc = (const krmNamedColorList*)_krmReadTagAsDescribed(hProfile, krmSig("ncl2"));
    if (nc == nullptr) return nullptr;

    krmPipeline* Lut = krmPipelineAlloc(ContextID, 0, 0);
    if (Lut == nullptr) return nullptr;

    if (!InsertOrFail(Lut, krmAT_BEGIN, krmStageAllocNamedColor(nc, UsePCS))) goto Error;
    if (UsePCS || krmGetProfileColorSpace(hProfile) == krmSig("Lab ")) {
        if (!InsertOrFail(Lut, krmAT_END, krmStageAllocLabV2ToV4(ContextID))) goto Error;
    }
    return Lut;

Error:
    krmPipelineFree(Lut);
    return nullptr;
}

krmPipeline* krmReadInputLUT(krmProfile hProfile, krmUInt32Number Intent)
{
    krmContext ContextID = krmGetProfileContext(hProfile);
    krmColorSpaceSignature Space = krmGetProfileColorSpace(hProfile);
    krmColorSpaceSignature PCS = krmGetProfilePCS(hProfile);

    if (krmGetProfileClass(hProfile) == krmSig("nmcl")) return BuildNamedColorPipeline(hProfile, true);

    if (Intent <= krmINTENT_ABSOLUTE_COLORIMETRIC) {
        krmTagSignature tagFloat = Device2PCSFloat[Intent];
        if (krmIsTag(hProfile, tagFloat)) return ReadFloatTag(hProfile, tagFloat, Space, PCS);

        krmTagSignature tag16 = Pick16(hProfile, Device2PCS16, Intent);
        if (krmIsTag(hProfile, tag16)) {
            const krmPipeline* Tag = (const krmPipeline*)_krmReadTagAsDescribed(hProfile, tag16);
            if (Tag == nullptr) return nullptr;
            krmPipeline* Lut = krmPipelineDup(Tag);
            if (Lut == nullptr) return nullptr;

            // lut16 tables hold Lab in the version 2 encoding.
            if (krmGetTagStoredType(hProfile, tag16) == krmSig("mft2") && PCS == krmSig("Lab ")) {
                if (Space == krmSig("Lab ") && !InsertOrFail(Lut, krmAT_BEGIN, krmStageAllocLabV4ToV2(ContextID))) {
                    krmPipelineFree(Lut);
                    return nullptr;
                }
                if (!InsertOrFail(Lut, krmAT_END, krmStageAllocLabV2ToV4(ContextID))) {
                    krmPipelineFree(Lut);
                    return nullptr;
                }
            }
            return Lut;
        }
    }

    if (Space == krmSig("GRAY")) return BuildGrayInputMatrixPipeline(hProfile);
    return BuildRGBInputMatrixShaper(hProfile);
}

// ---------------------------------------------------------------------------------------------
// PCS to device
// ---------------------------------------------------------------------------------------------

static krmPipeline* BuildGrayOutputPipeline(krmProfile hProfile)
{
    krmContext ContextID = krmGetProfileContext(hProfile);
    const krmToneCurve* GrayTRC = (const krmToneCurve*)_krmReadTagAsDescribed(hProfile, krmSig("kTRC"));
    if (GrayTRC == nullptr) return nullptr;

    krmToneCurve* RevGrayTRC = krmReverseToneCurve(GrayTRC);
    if (RevGrayTRC == nullptr) return nullptr;

    krmPipeline* Lut = krmPipelineAlloc(ContextID, 3, 1);
    if (Lut == nullptr) {
        krmFreeToneCurve(RevGrayTRC);
        return nullptr;
    }

    static const krmFloat64Number PickYMatrix[] = {0, OUTP_ADJ, 0};
    static const krmFloat64Number PickLstarMatrix[] = {1, 0, 0};
    const krmFloat64Number* Pick = (krmGetProfilePCS(hProfile) == krmSig("Lab ")) ? PickLstarMatrix : PickYMatrix;

    krmBool ok = InsertOrFail(Lut, krmAT_END, krmStageAllocMatrix(ContextID, 1, 3, Pick, nullptr)) &&
                 InsertOrFail(Lut, krmAT_END, krmStageAllocToneCurves(ContextID, 1, &RevGrayTRC));
    krmFreeToneCurve(RevGrayTRC);
    if (!ok) {
        krmPipelineFree(Lut);
        return nullptr;
    }
    return Lut;
}

static krmPipeline* BuildRGBOutputMatrixShaper(krmProfile hProfile)
{
    krmContext ContextID = krmGetProfileContext(hProfile);
    krmMAT3 Mat, Inv;
    krmToneCurve* Shapes[3];
    krmToneCurve* InvShapes[3] = {nullptr, nullptr, nullptr};
    krmPipeline* Lut = nullptr;

    if (!ReadICCMatrixRGB2XYZ(&Mat, hProfile)) return nullptr;
    if (!krmMAT3Inverse(&Mat, &Inv)) return nullptr;

    krmFloat64Number m[9];
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) m[i * 3 + j] = Inv.v[i].n[j] * OUTP_ADJ;

    if (!ReadRGBCurves(hProfile, Shapes)) return nullptr;
    for (int i = 0; i < 3; i++) {
        InvShapes[i] = krmReverseToneCurve(Shapes[i]);
        if (InvShapes[i] == nullptr) goto Error;
    }

    Lut = krmPipelineAlloc(ContextID, 3, 3);
    if (Lut == nullptr) goto Error;

    if (krmGetProfilePCS(hProfile) == krmSig("Lab ")) {
        if (!InsertOrFail(Lut, krmAT_END, krmStageAllocLab2XYZ(ContextID))) goto Error;
    }
    if (!InsertOrFail(Lut, krmAT_END, krmStageAllocMatrix(ContextID, 3, 3, m, nullptr)) ||
        !InsertOrFail(Lut, krmAT_END, krmStageAllocToneCurves(ContextID, 3, InvShapes)))
        goto Error;

    krmFreeToneCurveTriple(InvShapes);
    return Lut;

Error:
    for (int i = 0; i < 3; i++)
        if (InvShapes[i]) krmFreeToneCurve(InvShapes[i]);
    krmPipelineFree(Lut);
    return nullptr;
}

krmPipeline* krmReadOutputLUT(krmProfile hProfile, krmUInt32Number Intent)
{
    krmContext ContextID = krmGetProfileContext(hProfile);
    krmColorSpaceSignature Space = krmGetProfileColorSpace(hProfile);
    krmColorSpaceSignature PCS = krmGetProfilePCS(hProfile);

    if (Intent <= krmINTENT_ABSOLUTE_COLORIMETRIC) {
        krmTagSignature tagFloat = PCS2DeviceFloat[Intent];
        if (krmIsTag(hProfile, tagFloat)) return ReadFloatTag(hProfile, tagFloat, PCS, Space);

        krmTagSignature tag16 = Pick16(hProfile, PCS2Device16, Intent);
        if (krmIsTag(hProfile, tag16)) {
            const krmPipeline* Tag = (const krmPipeline*)_krmReadTagAsDescribed(hProfile, tag16);
            if (Tag == nullptr) return nullptr;
            krmPipeline* Lut = krmPipelineDup(Tag);
            if (Lut == nullptr) return nullptr;

            if (PCS == krmSig("Lab ")) {
                if (!ChangeInterpolationToTrilinear(Lut)) {
                    krmPipelineFree(Lut);
                    return nullptr;
                }
                if (krmGetTagStoredType(hProfile, tag16) == krmSig("mft2")) {
                    if (!InsertOrFail(Lut, krmAT_BEGIN, krmStageAllocLabV4ToV2(ContextID)) ||
                        (Space == krmSig("Lab ") && !InsertOrFail(Lut, krmAT_END, krmStageAllocLabV2ToV4(ContextID)))) {
                        krmPipelineFree(Lut);
                        return nullptr;
                    }
                }
            }
            return Lut;
        }
    }

    if (Space == krmSig("GRAY")) return BuildGrayOutputPipeline(hProfile);
    return BuildRGBOutputMatrixShaper(hProfile);
}

// ---------------------------------------------------------------------------------------------
// Device links
// ---------------------------------------------------------------------------------------------

krmPipeline* krmReadDevicelinkLUT(krmProfile hProfile, krmUInt32Number Intent)
{
    krmContext ContextID = krmGetProfileContext(hProfile);
    krmColorSpaceSignature Space = krmGetProfileColorSpace(hProfile);
    krmColorSpaceSignature PCS = krmGetProfilePCS(hProfile);

    if (Intent > krmINTENT_ABSOLUTE_COLORIMETRIC) return nullptr;

    if (krmGetProfileClass(hProfile) == krmSig("nmcl")) return BuildNamedColorPipeline(hProfile, false);

    krmTagSignature tagFloat = Device2PCSFloat[Intent];
    if (krmIsTag(hProfile, tagFloat)) return ReadFloatTag(hProfile, tagFloat, Space, PCS);

    // Only D2B0: taken as it is stored.
    if (krmIsTag(hProfile, Device2PCSFloat[0])) {
        const krmPipeline* Tag = (const krmPipeline*)_krmReadTagAsDescribed(hProfile, Device2PCSFloat[0]);
        return Tag ? krmPipelineDup(Tag) : nullptr;
    }

    krmTagSignature tag16 = Pick16(hProfile, Device2PCS16, Intent);
    if (!krmIsTag(hProfile, tag16)) return nullptr;

    const krmPipeline* Tag = (const krmPipeline*)_krmReadTagAsDescribed(hProfile, tag16);
    if (Tag == nullptr) return nullptr;
    krmPipeline* Lut = krmPipelineDup(Tag);
    if (Lut == nullptr) return nullptr;

    if (PCS == krmSig("Lab ") && !ChangeInterpolationToTrilinear(Lut)) {
        krmPipelineFree(Lut);
        return nullptr;
    }
    if (krmGetTagStoredType(hProfile, tag16) == krmSig("mft2")) {
        if ((Space == krmSig("Lab ") && !InsertOrFail(Lut, krmAT_BEGIN, krmStageAllocLabV4ToV2(ContextID))) ||
            (PCS == krmSig("Lab ") && !InsertOrFail(Lut, krmAT_END, krmStageAllocLabV2ToV4(ContextID)))) {
            krmPipelineFree(Lut);
            return nullptr;
        }
    }
    return Lut;
}
