// LUT-based tag types: lut8 ('mft1'), lut16 ('mft2'), lutAtoB ('mAB '), lutBtoA ('mBA ') and
// multiProcessElements ('mpet'). Each decodes into a pipeline and is encoded from one.

#include "krm_internal.h"

#include <cctype>
#include <cmath>
#include <cstring>

#define MAX_INPUT_CHANNELS 15
#define MAX_CURVES_IN_SET 16
#define MAX_MPE_ELEMENTS 50

// ---------------------------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------------------------

static void SigToString(char str[5], krmUInt32Number sig)
{
    str[0] = (char)((sig >> 24) & 0xFF);
    str[1] = (char)((sig >> 16) & 0xFF);
    str[2] = (char)((sig >> 8) & 0xFF);
    str[3] = (char)(sig & 0xFF);
    str[4] = 0;
}

// outputs x points^inputs, or 0 on overflow (and for 0 grid points).
static krmUInt32Number uipow(krmUInt32Number n, krmUInt32Number a, krmUInt32Number b)
{
    krmUInt64Number rv = 1;
    if (a == 0) return 0;
    if (n == 0) return 0;
    for (; b > 0; b--) {
        rv *= a;
        if (rv > 0xFFFFFFFFu) return (krmUInt32Number)-1;
    }
    rv *= n;
    if (rv > 0xFFFFFFFFu) return (krmUInt32Number)-1;
    return (krmUInt32Number)rv;
}

// Bytes left in the stream after the current position.
static krmUInt32Number BytesLeft(krmIOHandler* io)
{
    krmUInt32Number pos = io->Tell(io);
    return io->ReportedSize > pos ? io->ReportedSize - pos : 0;
}

static krmBool Read16bitTables(krmContext ContextID, krmIOHandler* io, krmPipeline* lut, krmUInt32Number nChannels,
                               krmUInt32Number nEntries)
{
    krmToneCurve* Tables[krmMAXCHANNELS];

    if (nEntries <= 0) return true;  // no tables
    if (nEntries < 2) return false;  // one entry is not a curve
    if (nChannels > krmMAXCHANNELS) return false;
    if ((krmUInt64Number)nChannels * nEntries * 2 > BytesLeft(io)) return false;

    memset(Tables, 0, sizeof(Tables));
    for (krmUInt32Number i = 0; i < nChannels; i++) {
        Tables[i] = krmBuildTabulatedToneCurve16(ContextID, nEntries, nullptr);
        if (Tables[i] == nullptr) goto Error;
        if (!krmReadUInt16Array(io, nEntries, Tables[i]->Table16)) goto Error;
    }

    if (!krmPipelineInsertStage(lut, krmAT_END, krmStageAllocToneCurves(ContextID, nChannels, Tables))) goto Error;

    for (krmUInt32Number i = 0; i < nChannels; i++) krmFreeToneCurve(Tables[i]);
    return true;

Error:
    for (krmUInt32Number i = 0; i < nChannels; i++)
        if (Tables[i]) krmFreeToneCurve(Tables[i]);
    return false;
}

static krmBool Read8bitTables(krmContext ContextID, krmIOHandler* io, krmPipeline* lut, krmUInt32Number nChannels)
{
    krmUInt8Number Temp[256];
    krmToneCurve* Tables[krmMAXCHANNELS];

    if (nChannels > krmMAXCHANNELS || nChannels == 0) return false;
    memset(Tables, 0, sizeof(Tables));

    for (krmUInt32Number i = 0; i < nChannels; i++) {
        Tables[i] = krmBuildTabulatedToneCurve16(ContextID, 256, nullptr);
        if (Tables[i] == nullptr) goto Error;
        if (io->Read(io, Temp, 256, 1) != 1) goto Error;
        for (int j = 0; j < 256; j++) Tables[i]->Table16[j] = (krmUInt16Number)(Temp[j] * 257);
    }

    if (!krmPipelineInsertStage(lut, krmAT_END, krmStageAllocToneCurves(ContextID, nChannels, Tables))) goto Error;

    for (krmUInt32Number i = 0; i < nChannels; i++) krmFreeToneCurve(Tables[i]);
    return true;

Error:
    for (krmUInt32Number i = 0; i < nChannels; i++)
        if (Tables[i]) krmFreeToneCurve(Tables[i]);
    return false;
}

// Within 1/65535 of the identity, as stored in s15Fixed16.
static krmBool IsIdentityMatrix(const krmFloat64Number m[9])
{
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            krmFloat64Number id = (i == j) ? 1.0 : 0.0;
            if (fabs(m[i * 3 + j] - id) > (1.0 / 65535.0)) return false;
        }
    return true;
}

// The 8-bit value of a 16-bit one, rounded (ICC.1:2001 lut8 tables).
static inline krmUInt8Number To8(krmUInt16Number v)
{
    return (krmUInt8Number)((((krmUInt32Number)v * 65281u) + 0x800000u) >> 24);
}

// ---------------------------------------------------------------------------------------------
// lut8 'mft1' (ICC.1:2001 6.5.7)
// ---------------------------------------------------------------------------------------------

void* _krmType_LUT8_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number SizeOfTag)
{
    krmUInt8Number InputChannels, OutputChannels, CLUTpoints, Pad;
    krmFloat64Number Matrix[9];
    krmPipeline* NewLUT = nullptr;
    krmUInt8Number* Temp = nullptr;
    krmUInt16Number* T = nullptr;

    *nItems = 0;
    if (!krmReadUInt8(io, &InputChannels)) return nullptr;
    if (!krmReadUInt8(io, &OutputChannels)) return nullptr;
    if (!krmReadUInt8(io, &CLUTpoints)) return nullptr;
    if (CLUTpoints == 1) return nullptr;  // a single point is no grid
    if (!krmReadUInt8(io, &Pad)) return nullptr;

    if (InputChannels == 0 || InputChannels > MAX_INPUT_CHANNELS) return nullptr;
    if (OutputChannels == 0 || OutputChannels > MAX_INPUT_CHANNELS) return nullptr;

    NewLUT = krmPipelineAlloc(self->ContextID, InputChannels, OutputChannels);
    if (NewLUT == nullptr) return nullptr;

    for (int i = 0; i < 9; i++)
        if (!krmRead15Fixed16(io, &Matrix[i])) goto Error;

    if (InputChannels == 3 && !IsIdentityMatrix(Matrix)) {
        if (!krmPipelineInsertStage(NewLUT, krmAT_BEGIN,
                                    krmStageAllocMatrix(self->ContextID, 3, 3, Matrix, nullptr)))
            goto Error;
    }

    if (!Read8bitTables(self->ContextID, io, NewLUT, InputChannels)) goto Error;

    {
        krmUInt32Number nTabSize = uipow(OutputChannels, CLUTpoints, InputChannels);
        if (nTabSize == (krmUInt32Number)-1) goto Error;
        if (nTabSize > 0) {
            if (nTabSize > BytesLeft(io)) goto Error;
            T = (krmUInt16Number*)krmCalloc(self->ContextID, nTabSize, sizeof(krmUInt16Number));
            if (T == nullptr) goto Error;
            Temp = (krmUInt8Number*)krmMalloc(self->ContextID, nTabSize);
            if (Temp == nullptr) goto Error;
            if (io->Read(io, Temp, nTabSize, 1) != 1) goto Error;
            for (krmUInt32Number i = 0; i < nTabSize; i++) T[i] = (krmUInt16Number)(Temp[i] * 257);
            krmFree(self->ContextID, Temp);
            Temp = nullptr;

            if (!krmPipelineInsertStage(NewLUT, krmAT_END,
                                        krmStageAllocCLut16bit(self->ContextID, CLUTpoints, InputChannels,
                                                               OutputChannels, T)))
                goto Error;
            krmFree(self->ContextID, T);
            T = nullptr;
        }
    }

    if (!Read8bitTables(self->ContextID, io, NewLUT, OutputChannels)) goto Error;

    *nItems = 1;
    return NewLUT;

Error:
    krmFree(self->ContextID, Temp);
    krmFree(self->ContextID, T);
    krmPipelineFree(NewLUT);
    return nullptr;
}

// A curve set's tables as 256 bytes per channel; no set gives the identity ramp.
static krmBool Write8bitTables(krmContext ContextID, krmIOHandler* io, krmUInt32Number n,
                               const krmStageCurvesData* Tables)
{
    for (krmUInt32Number i = 0; i < n; i++) {
        if (Tables == nullptr) {
            for (int j = 0; j < 256; j++)
                if (!krmWriteUInt8(io, (krmUInt8Number)j)) return false;
            continue;
        }
        const krmToneCurve* c = Tables->TheCurves[i];
        if (c->nEntries == 2 && c->Table16[0] == 0 && c->Table16[1] == 65535) {
            for (int j = 0; j < 256; j++)
                if (!krmWriteUInt8(io, (krmUInt8Number)j)) return false;
        } else if (c->nEntries != 256) {
            krmSignalError(ContextID, krmErrRange, "LUT8 needs 256 entries on prelinearization");
            return false;
        } else {
            for (int j = 0; j < 256; j++)
                if (!krmWriteUInt8(io, To8(c->Table16[j]))) return false;
        }
    }
    return true;
}

// The stages of a lut8/lut16: [matrix] [curves] [clut] [curves], each only when present.
typedef struct {
    const krmStageMatrixData* MatMPE;
    const krmStageCurvesData* PreMPE;
    const krmStageCLutData* clut;
    const krmStageCurvesData* PostMPE;
    krmBool Leftover;
    krmBool BadMatrix;
} _LutParts;

static void SplitLut16(const krmPipeline* NewLUT, _LutParts* p)
{
    memset(p, 0, sizeof(*p));
    const krmStage* mpe = NewLUT->Elements;

    if (mpe != nullptr && mpe->Type == krmSigMatrixElemType) {
        if (mpe->InputChannels != 3 || mpe->OutputChannels != 3) p->BadMatrix = true;
        p->MatMPE = (const krmStageMatrixData*)mpe->Data;
        mpe = mpe->Next;
    }
    if (mpe != nullptr && mpe->Type == krmSigCurveSetElemType) {
        p->PreMPE = (const krmStageCurvesData*)mpe->Data;
        mpe = mpe->Next;
    }
    if (mpe != nullptr && mpe->Type == krmSigCLutElemType) {
        p->clut = (const krmStageCLutData*)mpe->Data;
        mpe = mpe->Next;
    }
    if (mpe != nullptr && mpe->Type == krmSigCurveSetElemType) {
        p->PostMPE = (const krmStageCurvesData*)mpe->Data;
        mpe = mpe->Next;
    }
    p->Leftover = (mpe != nullptr);
}

static krmBool SameGridEverywhere(const krmStageCLutData* clut)
{
    for (krmUInt32Number i = 1; i < clut->Params->nInputs; i++)
        if (clut->Params->nSamples[i] != clut->Params->nSamples[0]) return false;
    return true;
}

static krmBool WriteMatrixOrIdentity(krmIOHandler* io, const krmStageMatrixData* MatMPE)
{
    for (int i = 0; i < 9; i++) {
        krmFloat64Number v = MatMPE ? MatMPE->Double[i] : ((i % 4) == 0 ? 1.0 : 0.0);
        if (!krmWrite15Fixed16(io, v)) return false;
    }
    return true;
}

krmBool _krmType_LUT8_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems)
{
    krmPipeline* NewLUT = (krmPipeline*)Ptr;
    _LutParts p;
    krmUInt32Number clutPoints = 0;

    if (NewLUT->Elements == nullptr) {
        krmSignalError(self->ContextID, krmErrUnknownExtension, "empty LUT8 is not supported");
        return false;
    }
    SplitLut16(NewLUT, &p);
    if (p.BadMatrix) return false;
    if (p.Leftover) {
        krmSignalError(self->ContextID, krmErrUnknownExtension, "LUT is not suitable to be saved as LUT8");
        return false;
    }
    if (p.clut != nullptr) {
        if (p.clut->HasFloatValues) {
            krmSignalError(self->ContextID, krmErrNotSuitable,
                           "Cannot save floating point data, CLUT are 8 or 16 bit only");
            return false;
        }
        if (!SameGridEverywhere(p.clut)) {
            krmSignalError(self->ContextID, krmErrUnknownExtension,
                           "LUT with different samples per dimension not suitable to be saved as LUT16");
            return false;
        }
        clutPoints = p.clut->Params->nSamples[0];
        if (clutPoints > 255) return false;
    }

    if (!krmWriteUInt8(io, (krmUInt8Number)NewLUT->InputChannels)) return false;
    if (!krmWriteUInt8(io, (krmUInt8Number)NewLUT->OutputChannels)) return false;
    if (!krmWriteUInt8(io, (krmUInt8Number)clutPoints)) return false;
    if (!krmWriteUInt8(io, 0)) return false;

    if (!WriteMatrixOrIdentity(io, p.MatMPE)) return false;
    if (!Write8bitTables(self->ContextID, io, NewLUT->InputChannels, p.PreMPE)) return false;

    if (p.clut != nullptr) {
        for (krmUInt32Number j = 0; j < p.clut->nEntries; j++)
            if (!krmWriteUInt8(io, To8(p.clut->Tab.T16[j]))) return false;
    }

    if (!Write8bitTables(self->ContextID, io, NewLUT->OutputChannels, p.PostMPE)) return false;
    return true;
}

void* _krmType_LUT_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number n)
{
    return krmPipelineDup((const krmPipeline*)Ptr);
}

void _krmType_LUT_Free(krmTagTypeHandler* self, void* Ptr)
{
    krmPipelineFree((krmPipeline*)Ptr);
}

// ---------------------------------------------------------------------------------------------
// lut16 'mft2' (ICC.1:2001 6.5.8)
// ---------------------------------------------------------------------------------------------

void* _krmType_LUT16_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                          krmUInt32Number SizeOfTag)
{
    krmUInt8Number InputChannels, OutputChannels, CLUTpoints, Pad;
    krmFloat64Number Matrix[9];
    krmUInt16Number InputEntries, OutputEntries;
    krmPipeline* NewLUT = nullptr;
    krmUInt16Number* T = nullptr;

    *nItems = 0;
    if (!krmReadUInt8(io, &InputChannels)) return nullptr;
    if (!krmReadUInt8(io, &OutputChannels)) return nullptr;
    if (!krmReadUInt8(io, &CLUTpoints)) return nullptr;
    if (!krmReadUInt8(io, &Pad)) return nullptr;

    if (InputChannels == 0 || InputChannels > MAX_INPUT_CHANNELS) return nullptr;
    if (OutputChannels == 0 || OutputChannels > MAX_INPUT_CHANNELS) return nullptr;

    NewLUT = krmPipelineAlloc(self->ContextID, InputChannels, OutputChannels);
    if (NewLUT == nullptr) return nullptr;

    for (int i = 0; i < 9; i++)
        if (!krmRead15Fixed16(io, &Matrix[i])) goto Error;

    if (InputChannels == 3 && !IsIdentityMatrix(Matrix)) {
        if (!krmPipelineInsertStage(NewLUT, krmAT_END, krmStageAllocMatrix(self->ContextID, 3, 3, Matrix, nullptr)))
            goto Error;
    }

    if (!krmReadUInt16(io, &InputEntries)) goto Error;
    if (!krmReadUInt16(io, &OutputEntries)) goto Error;
    if (InputEntries > krmMaxCurveTableEntries || OutputEntries > krmMaxCurveTableEntries) goto Error;
    if (CLUTpoints == 1) goto Error;

    if (!Read16bitTables(self->ContextID, io, NewLUT, InputChannels, InputEntries)) goto Error;

    {
        krmUInt32Number nTabSize = uipow(OutputChannels, CLUTpoints, InputChannels);
        if (nTabSize == (krmUInt32Number)-1) goto Error;
        if (nTabSize > 0) {
            if ((krmUInt64Number)nTabSize * 2 > BytesLeft(io)) goto Error;
            T = (krmUInt16Number*)krmCalloc(self->ContextID, nTabSize, sizeof(krmUInt16Number));
            if (T == nullptr) goto Error;
            if (!krmReadUInt16Array(io, nTabSize, T)) goto Error;

            if (!krmPipelineInsertStage(NewLUT, krmAT_END,
                                        krmStageAllocCLut16bit(self->ContextID, CLUTpoints, InputChannels,
                                                               OutputChannels, T)))
                goto Error;
            krmFree(self->ContextID, T);
            T = nullptr;
        }
    }

    if (!Read16bitTables(self->ContextID, io, NewLUT, OutputChannels, OutputEntries)) goto Error;

    *nItems = 1;
    return NewLUT;

Error:
    krmFree(self->ContextID, T);
    krmPipelineFree(NewLUT);
    return nullptr;
}

// One table per curve, all of the set's entry count. A curve of another size is resampled to it,
// since the format has a single entry count per set.
static krmBool Write16bitTables(krmIOHandler* io, const krmStageCurvesData* Tables, krmUInt32Number nEntries)
{
    for (krmUInt32Number i = 0; i < Tables->nCurves; i++) {
        const krmToneCurve* c = Tables->TheCurves[i];
        if (c->nEntries == nEntries) {
            if (!krmWriteUInt16Array(io, nEntries, c->Table16)) return false;
        } else {
            for (krmUInt32Number j = 0; j < nEntries; j++) {
                krmUInt16Number v = krmEvalToneCurve16(c, krmQuantizeVal((krmFloat64Number)j, nEntries));
                if (!krmWriteUInt16(io, v)) return false;
            }
        }
    }
    return true;
}

static krmBool WriteIdentityTables16(krmIOHandler* io, krmUInt32Number n)
{
    for (krmUInt32Number i = 0; i < n; i++) {
        if (!krmWriteUInt16(io, 0)) return false;
        if (!krmWriteUInt16(io, 0xFFFF)) return false;
    }
    return true;
}

krmBool _krmType_LUT16_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems)
{
    krmPipeline* NewLUT = (krmPipeline*)Ptr;
    _LutParts p;
    krmUInt32Number clutPoints = 0;

    SplitLut16(NewLUT, &p);
    if (p.BadMatrix) return false;
    if (p.Leftover) {
        krmSignalError(self->ContextID, krmErrUnknownExtension, "LUT is not suitable to be saved as LUT16");
        return false;
    }
    if (p.clut != nullptr) {
        if (p.clut->HasFloatValues) {
            krmSignalError(self->ContextID, krmErrNotSuitable,
                           "Cannot save floating point data, CLUT are 8 or 16 bit only");
            return false;
        }
        if (!SameGridEverywhere(p.clut)) {
            krmSignalError(self->ContextID, krmErrUnknownExtension,
                           "LUT with different samples per dimension not suitable to be saved as LUT16");
            return false;
        }
        clutPoints = p.clut->Params->nSamples[0];
        if (clutPoints > 255) return false;
    }

    krmUInt32Number InputEntries = p.PreMPE ? p.PreMPE->TheCurves[0]->nEntries : 2;
    krmUInt32Number OutputEntries = p.PostMPE ? p.PostMPE->TheCurves[0]->nEntries : 2;
    if (!_krmCurveTableWritable(self->ContextID, InputEntries) || !_krmCurveTableWritable(self->ContextID, OutputEntries))
        return false;

    if (!krmWriteUInt8(io, (krmUInt8Number)NewLUT->InputChannels)) return false;
    if (!krmWriteUInt8(io, (krmUInt8Number)NewLUT->OutputChannels)) return false;
    if (!krmWriteUInt8(io, (krmUInt8Number)clutPoints)) return false;
    if (!krmWriteUInt8(io, 0)) return false;

    if (!WriteMatrixOrIdentity(io, p.MatMPE)) return false;

    if (!krmWriteUInt16(io, (krmUInt16Number)InputEntries)) return false;
    if (!krmWriteUInt16(io, (krmUInt16Number)OutputEntries)) return false;

    if (p.PreMPE != nullptr) {
        if (!Write16bitTables(io, p.PreMPE, InputEntries)) return false;
    } else if (!WriteIdentityTables16(io, NewLUT->InputChannels))
        return false;

    if (p.clut != nullptr) {
        if (!krmWriteUInt16Array(io, p.clut->nEntries, p.clut->Tab.T16)) return false;
    }

    if (p.PostMPE != nullptr) {
        if (!Write16bitTables(io, p.PostMPE, OutputEntries)) return false;
    } else if (!WriteIdentityTables16(io, NewLUT->OutputChannels))
        return false;

    return true;
}

// ---------------------------------------------------------------------------------------------
// lutAtoB 'mAB ' and lutBtoA 'mBA ' (ICC.1:2010 10.10, 10.11)
// ---------------------------------------------------------------------------------------------

// An embedded 'curv' or 'para' element (ICC.1:2010 10.5, 10.18).
static krmToneCurve* ReadEmbeddedCurve(krmTagTypeHandler* self, krmIOHandler* io)
{
    static const krmUInt32Number ParamsByType[] = {1, 3, 4, 5, 7};
    char String[5];
    krmTagTypeSignature BaseType = krmReadTypeBase(io);

    switch (BaseType) {
    case 0x63757276: {  // 'curv'
        krmUInt32Number Count;
        if (!krmReadUInt32(io, &Count)) return nullptr;
        if (Count == 0) return krmBuildGamma(self->ContextID, 1.0);
        if (Count == 1) {
            krmUInt16Number SingleGammaFixed;
            if (!krmReadUInt16(io, &SingleGammaFixed)) return nullptr;
            return krmBuildGamma(self->ContextID, krm8Fixed8toDouble(SingleGammaFixed));
        }
        if (Count > krmMaxCurveTableEntries) return nullptr;
        if ((krmUInt64Number)Count * 2 > BytesLeft(io)) return nullptr;
        krmToneCurve* NewGamma = krmBuildTabulatedToneCurve16(self->ContextID, Count, nullptr);
        if (NewGamma == nullptr) return nullptr;
        if (!krmReadUInt16Array(io, Count, NewGamma->Table16)) {
            krmFreeToneCurve(NewGamma);
            return nullptr;
        }
        return NewGamma;
    }
    case 0x70617261: {  // 'para'
        krmUInt16Number Type, Reserved;
        krmFloat64Number Params[10];
        if (!krmReadUInt16(io, &Type)) return nullptr;
        if (!krmReadUInt16(io, &Reserved)) return nullptr;
        if (Type > 4) {
            krmSignalError(self->ContextID, krmErrUnknownExtension, "Unknown parametric curve type '%d'", (int)Type);
            return nullptr;
        }
        memset(Params, 0, sizeof(Params));
        for (krmUInt32Number i = 0; i < ParamsByType[Type]; i++)
            if (!krmRead15Fixed16(io, &Params[i])) return nullptr;
        return krmBuildParametricToneCurve(self->ContextID, Type + 1, Params);
    }
    default:
        // A type of unprintable bytes (zeros where a curve should start) reads better as a number.
        SigToString(String, BaseType);
        if (isprint((unsigned char)String[0]) && isprint((unsigned char)String[1]) &&
            isprint((unsigned char)String[2]) && isprint((unsigned char)String[3]))
            krmSignalError(self->ContextID, krmErrUnknownExtension, "Unknown curve type '%s'", String);
        else
            krmSignalError(self->ContextID, krmErrUnknownExtension, "Unknown curve type 0x%08x", (unsigned)BaseType);
        return nullptr;
    }
}

static krmStage* ReadSetOfCurves(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number Offset,
                                 krmUInt32Number nCurves)
{
    krmToneCurve* Curves[MAX_CURVES_IN_SET];
    krmStage* Lin = nullptr;

    if (nCurves > MAX_CURVES_IN_SET) return nullptr;
    if (!io->Seek(io, Offset)) return nullptr;

    memset(Curves, 0, sizeof(Curves));
    for (krmUInt32Number i = 0; i < nCurves; i++) {
        Curves[i] = ReadEmbeddedCurve(self, io);
        if (Curves[i] == nullptr) goto Error;
        if (!krmReadAlignment(io)) goto Error;
    }
    Lin = krmStageAllocToneCurves(self->ContextID, nCurves, Curves);

Error:
    for (krmUInt32Number i = 0; i < nCurves; i++)
        if (Curves[i]) krmFreeToneCurve(Curves[i]);
    return Lin;
}

// 3 x 3 matrix followed by a 3-element offset (ICC.1:2010 10.10.4).
static krmStage* ReadMatrix(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number Offset)
{
    krmFloat64Number dMat[9], dOff[3];

    if (!io->Seek(io, Offset)) return nullptr;
    for (int i = 0; i < 9; i++)
        if (!krmRead15Fixed16(io, &dMat[i])) return nullptr;
    for (int i = 0; i < 3; i++)
        if (!krmRead15Fixed16(io, &dOff[i])) return nullptr;
    return krmStageAllocMatrix(self->ContextID, 3, 3, dMat, dOff);
}

// CLUT with its own grid per input and 8- or 16-bit precision (ICC.1:2010 10.10.3).
static krmStage* ReadCLUT(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number Offset,
                          krmUInt32Number InputChannels, krmUInt32Number OutputChannels)
{
    krmUInt8Number gridPoints8[16];
    krmUInt32Number GridPoints[krmMAX_INPUT_DIMENSIONS];
    krmUInt8Number Precision;

    if (!io->Seek(io, Offset)) return nullptr;
    if (io->Read(io, gridPoints8, 16, 1) != 1) return nullptr;
    if (InputChannels > krmMAX_INPUT_DIMENSIONS) return nullptr;

    for (krmUInt32Number i = 0; i < 16; i++) {
        if (gridPoints8[i] == 1) return nullptr;  // a single point is no grid
        if (i < InputChannels) GridPoints[i] = gridPoints8[i];
    }

    if (!krmReadUInt8(io, &Precision)) return nullptr;
    krmUInt8Number Padding[3];
    if (io->Read(io, Padding, 3, 1) != 1) return nullptr;

    if (Precision != 1 && Precision != 2) {
        krmSignalError(self->ContextID, krmErrUnknownExtension, "Unknown precision of '%d'", (int)Precision);
        return nullptr;
    }

    krmUInt64Number nEntries = (krmUInt64Number)krmCubeSize(GridPoints, InputChannels) * OutputChannels;
    if (nEntries == 0 || nEntries * Precision > BytesLeft(io)) return nullptr;

    krmStage* CLUT = krmStageAllocCLut16bitGranular(self->ContextID, GridPoints, InputChannels, OutputChannels, nullptr);
    if (CLUT == nullptr) return nullptr;
    krmStageCLutData* Data = (krmStageCLutData*)CLUT->Data;

    if (Precision == 1) {
        for (krmUInt32Number i = 0; i < Data->nEntries; i++) {
            krmUInt8Number v;
            if (!krmReadUInt8(io, &v)) {
                krmStageFree(CLUT);
                return nullptr;
            }
            Data->Tab.T16[i] = (krmUInt16Number)(v * 257);
        }
    } else {
        if (!krmReadUInt16Array(io, Data->nEntries, Data->Tab.T16)) {
            krmStageFree(CLUT);
            return nullptr;
        }
    }
    return CLUT;
}

// Appends a stage read at a non-zero offset; the stage must join the previous one.
static krmBool AppendPart(krmPipeline* NewLUT, krmStage* mpe)
{
    if (mpe == nullptr) return false;
    return krmPipelineInsertStage(NewLUT, krmAT_END, mpe);
}

// The common head of 'mAB ' and 'mBA ' (ICC.1:2010 10.12 and 10.13): channel counts and the
// five element offsets, relative to the start of the tag.
struct LutABHeader {
    krmUInt8Number inputChan, outputChan;
    krmUInt32Number BaseOffset;
    krmUInt32Number offsetB, offsetMat, offsetM, offsetC, offsetA;
};

static krmBool ReadLutABHeader(krmIOHandler* io, LutABHeader* h)
{
    h->BaseOffset = io->Tell(io) - 8;
    krmUInt16Number Reserved;
    if (!krmReadUInt8(io, &h->inputChan) || !krmReadUInt8(io, &h->outputChan) || !krmReadUInt16(io, &Reserved))
        return false;
    if (!krmReadUInt32(io, &h->offsetB) || !krmReadUInt32(io, &h->offsetMat) || !krmReadUInt32(io, &h->offsetM) ||
        !krmReadUInt32(io, &h->offsetC) || !krmReadUInt32(io, &h->offsetA))
        return false;
    if (h->inputChan == 0 || h->inputChan > MAX_INPUT_CHANNELS) return false;
    if (h->outputChan == 0 || h->outputChan > MAX_INPUT_CHANNELS) return false;
    return true;
}

void* _krmType_LUTA2B_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                           krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    LutABHeader h;
    if (!ReadLutABHeader(io, &h)) return nullptr;
    const krmUInt8Number inputChan = h.inputChan, outputChan = h.outputChan;
    const krmUInt32Number BaseOffset = h.BaseOffset;
    const krmUInt32Number offsetB = h.offsetB, offsetMat = h.offsetMat, offsetM = h.offsetM;
    const krmUInt32Number offsetC = h.offsetC, offsetA = h.offsetA;

    krmPipeline* NewLUT = krmPipelineAlloc(self->ContextID, inputChan, outputChan);
    if (NewLUT == nullptr) return nullptr;

    if (offsetA != 0 && !AppendPart(NewLUT, ReadSetOfCurves(self, io, BaseOffset + offsetA, inputChan))) goto Error;
    if (offsetC != 0 && !AppendPart(NewLUT, ReadCLUT(self, io, BaseOffset + offsetC, inputChan, outputChan)))
        goto Error;
    if (offsetM != 0 && !AppendPart(NewLUT, ReadSetOfCurves(self, io, BaseOffset + offsetM, outputChan))) goto Error;
    if (offsetMat != 0 && !AppendPart(NewLUT, ReadMatrix(self, io, BaseOffset + offsetMat))) goto Error;
    if (offsetB != 0 && !AppendPart(NewLUT, ReadSetOfCurves(self, io, BaseOffset + offsetB, outputChan))) goto Error;

    *nItems = 1;
    return NewLUT;

Error:
    krmPipelineFree(NewLUT);
    return nullptr;
}

void* _krmType_LUTB2A_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                           krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    LutABHeader h;
    if (!ReadLutABHeader(io, &h)) return nullptr;
    const krmUInt8Number inputChan = h.inputChan, outputChan = h.outputChan;
    const krmUInt32Number BaseOffset = h.BaseOffset;
    const krmUInt32Number offsetB = h.offsetB, offsetMat = h.offsetMat, offsetM = h.offsetM;
    const krmUInt32Number offsetC = h.offsetC, offsetA = h.offsetA;

    krmPipeline* NewLUT = krmPipelineAlloc(self->ContextID, inputChan, outputChan);
    if (NewLUT == nullptr) return nullptr;

    if (offsetB != 0 && !AppendPart(NewLUT, ReadSetOfCurves(self, io, BaseOffset + offsetB, inputChan))) goto Error;
    if (offsetMat != 0 && !AppendPart(NewLUT, ReadMatrix(self, io, BaseOffset + offsetMat))) goto Error;
    if (offsetM != 0 && !AppendPart(NewLUT, ReadSetOfCurves(self, io, BaseOffset + offsetM, inputChan))) goto Error;
    if (offsetC != 0 && !AppendPart(NewLUT, ReadCLUT(self, io, BaseOffset + offsetC, inputChan, outputChan)))
        goto Error;
    if (offsetA != 0 && !AppendPart(NewLUT, ReadSetOfCurves(self, io, BaseOffset + offsetA, outputChan))) goto Error;

    *nItems = 1;
    return NewLUT;

Error:
    krmPipelineFree(NewLUT);
    return nullptr;
}

// An embedded curve: 'curv' for tables, sampled three-segment curves and inverted curves;
// 'para' for the rest.
static krmBool WriteEmbeddedCurve(krmTagTypeHandler* self, krmIOHandler* io, const krmToneCurve* Curve)
{
    static const krmUInt32Number ParamsByType[] = {0, 1, 3, 4, 5, 7};
    krmTagTypeSignature CurrentType = krmSig("para");

    if (Curve->nSegments == 0) CurrentType = krmSig("curv");
    else if (Curve->nSegments == 3 && Curve->Segments[1].Type == 0) CurrentType = krmSig("curv");
    else if (Curve->Segments[0].Type < 0) CurrentType = krmSig("curv");

    if (!krmWriteTypeBase(io, CurrentType)) return false;

    if (CurrentType == krmSig("curv")) {
        if (Curve->nSegments == 1 && Curve->Segments[0].Type == 1) {
            if (!krmWriteUInt32(io, 1)) return false;
            return krmWriteUInt16(io, krmDoubleTo8Fixed8(Curve->Segments[0].Params[0]));
        }
        if (!_krmCurveTableWritable(self->ContextID, Curve->nEntries)) return false;
        if (!krmWriteUInt32(io, Curve->nEntries)) return false;
        return krmWriteUInt16Array(io, Curve->nEntries, Curve->Table16);
    }

    if (Curve->nSegments > 1 || Curve->Segments[0].Type < 1) {
        krmSignalError(self->ContextID, krmErrUnknownExtension,
                       "Multisegment or Inverted parametric curves cannot be written");
        return false;
    }
    krmInt32Number typen = Curve->Segments[0].Type;
    if (typen > 5) {
        krmSignalError(self->ContextID, krmErrUnknownExtension, "Unsupported parametric curve");
        return false;
    }
    if (!krmWriteUInt16(io, (krmUInt16Number)(typen - 1))) return false;
    if (!krmWriteUInt16(io, 0)) return false;
    for (krmUInt32Number i = 0; i < ParamsByType[typen]; i++)
        if (!krmWrite15Fixed16(io, Curve->Segments[0].Params[i])) return false;
    return true;
}

static krmBool WriteSetOfCurves(krmTagTypeHandler* self, krmIOHandler* io, const krmStage* mpe)
{
    const krmStageCurvesData* Data = (const krmStageCurvesData*)mpe->Data;
    for (krmUInt32Number i = 0; i < Data->nCurves; i++) {
        if (!WriteEmbeddedCurve(self, io, Data->TheCurves[i])) return false;
        if (!krmWriteAlignment(io)) return false;
    }
    return true;
}

static krmBool WriteMatrix(krmIOHandler* io, const krmStage* mpe)
{
    const krmStageMatrixData* m = (const krmStageMatrixData*)mpe->Data;
    krmUInt32Number n = mpe->InputChannels * mpe->OutputChannels;

    for (krmUInt32Number i = 0; i < n; i++)
        if (!krmWrite15Fixed16(io, m->Double[i])) return false;
    for (krmUInt32Number i = 0; i < mpe->OutputChannels; i++)
        if (!krmWrite15Fixed16(io, m->Offset ? m->Offset[i] : 0)) return false;
    return true;
}

static krmBool WriteCLUT(krmTagTypeHandler* self, krmIOHandler* io, krmBool SaveAs8Bits, const krmStage* mpe)
{
    krmUInt8Number gridPoints[16];
    const krmStageCLutData* CLUT = (const krmStageCLutData*)mpe->Data;

    if (CLUT->HasFloatValues) {
        krmSignalError(self->ContextID, krmErrNotSuitable, "Cannot save floating point data, CLUT are 8 or 16 bit only");
        return false;
    }
    memset(gridPoints, 0, sizeof(gridPoints));
    for (krmUInt32Number i = 0; i < CLUT->Params->nInputs; i++) {
        if (CLUT->Params->nSamples[i] > 255) return false;
        gridPoints[i] = (krmUInt8Number)CLUT->Params->nSamples[i];
    }
    if (io->Write(io, 16, gridPoints) != true) return false;

    if (!krmWriteUInt8(io, SaveAs8Bits ? 1 : 2)) return false;
    if (!krmWriteUInt8(io, 0) || !krmWriteUInt8(io, 0) || !krmWriteUInt8(io, 0)) return false;

    if (SaveAs8Bits) {
        for (krmUInt32Number i = 0; i < CLUT->nEntries; i++)
            if (!krmWriteUInt8(io, To8(CLUT->Tab.T16[i]))) return false;
    } else if (!krmWriteUInt16Array(io, CLUT->nEntries, CLUT->Tab.T16))
        return false;

    return krmWriteAlignment(io);
}

// The five parts of an AtoB/BtoA tag, by role.
typedef struct {
    const krmStage* A;
    const krmStage* B;
    const krmStage* M;
    const krmStage* Matrix;
    const krmStage* CLUT;
} _ABParts;

static krmBool IsCurves(const krmStage* s)
{
    return s != nullptr && s->Type == krmSigCurveSetElemType;
}

// Matches the stage list against the shapes an AtoB (or BtoA) tag can hold.
static krmBool SplitAB(const krmPipeline* Lut, krmBool AtoB, _ABParts* p)
{
    const krmStage* s[6] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    krmUInt32Number n = 0;

    memset(p, 0, sizeof(*p));
    for (const krmStage* mpe = Lut->Elements; mpe != nullptr; mpe = mpe->Next) {
        if (n == 5) return false;
        s[n++] = mpe;
    }

    if (n == 0) return AtoB;  // an empty AtoB is all offsets 0; BtoA has no empty form

    if (n == 1 && IsCurves(s[0])) {
        p->B = s[0];
        return true;
    }
    if (n == 3 && IsCurves(s[0]) && IsCurves(s[2])) {
        if (s[1]->Type == krmSigMatrixElemType) {
            if (AtoB) {
                p->M = s[0];
                p->Matrix = s[1];
                p->B = s[2];
            } else {
                p->B = s[0];
                p->Matrix = s[1];
                p->M = s[2];
            }
            return true;
        }
        if (s[1]->Type == krmSigCLutElemType) {
            if (AtoB) {
                p->A = s[0];
                p->CLUT = s[1];
                p->B = s[2];
            } else {
                p->B = s[0];
                p->CLUT = s[1];
                p->A = s[2];
            }
            return true;
        }
        return false;
    }
    if (n == 5 && IsCurves(s[0]) && IsCurves(s[2]) && IsCurves(s[4])) {
        if (AtoB && s[1]->Type == krmSigCLutElemType && s[3]->Type == krmSigMatrixElemType) {
            p->A = s[0];
            p->CLUT = s[1];
            p->M = s[2];
            p->Matrix = s[3];
            p->B = s[4];
            return true;
        }
        if (!AtoB && s[1]->Type == krmSigMatrixElemType && s[3]->Type == krmSigCLutElemType) {
            p->B = s[0];
            p->Matrix = s[1];
            p->M = s[2];
            p->CLUT = s[3];
            p->A = s[4];
            return true;
        }
    }
    return false;
}

static krmBool WriteAB(krmTagTypeHandler* self, krmIOHandler* io, const krmPipeline* Lut, krmBool AtoB)
{
    _ABParts p;
    krmUInt32Number offsetB = 0, offsetMat = 0, offsetM = 0, offsetC = 0, offsetA = 0;

    if (!SplitAB(Lut, AtoB, &p)) {
        krmSignalError(self->ContextID, krmErrNotSuitable,
                       AtoB ? "LUT is not suitable to be saved as LutAToB" : "LUT is not suitable to be saved as LutBToA");
        return false;
    }
    if (p.Matrix != nullptr && (p.Matrix->InputChannels != 3 || p.Matrix->OutputChannels != 3)) {
        krmSignalError(self->ContextID, krmErrNotSuitable,
                       AtoB ? "LUT is not suitable to be saved as LutAToB" : "LUT is not suitable to be saved as LutBToA");
        return false;
    }

    krmUInt32Number BaseOffset = io->Tell(io) - 8;

    if (!krmWriteUInt8(io, (krmUInt8Number)Lut->InputChannels)) return false;
    if (!krmWriteUInt8(io, (krmUInt8Number)Lut->OutputChannels)) return false;
    if (!krmWriteUInt16(io, 0)) return false;

    krmUInt32Number DirectoryPos = io->Tell(io);
    for (int i = 0; i < 5; i++)
        if (!krmWriteUInt32(io, 0)) return false;

    if (p.A != nullptr) {
        offsetA = io->Tell(io) - BaseOffset;
        if (!WriteSetOfCurves(self, io, p.A)) return false;
    }
    if (p.CLUT != nullptr) {
        offsetC = io->Tell(io) - BaseOffset;
        if (!WriteCLUT(self, io, Lut->SaveAs8Bits, p.CLUT)) return false;
    }
    if (p.M != nullptr) {
        offsetM = io->Tell(io) - BaseOffset;
        if (!WriteSetOfCurves(self, io, p.M)) return false;
    }
    if (p.Matrix != nullptr) {
        offsetMat = io->Tell(io) - BaseOffset;
        if (!WriteMatrix(io, p.Matrix)) return false;
    }
    if (p.B != nullptr) {
        offsetB = io->Tell(io) - BaseOffset;
        if (!WriteSetOfCurves(self, io, p.B)) return false;
    }

    krmUInt32Number CurrentPos = io->Tell(io);
    if (!io->Seek(io, DirectoryPos)) return false;
    if (!krmWriteUInt32(io, offsetB)) return false;
    if (!krmWriteUInt32(io, offsetMat)) return false;
    if (!krmWriteUInt32(io, offsetM)) return false;
    if (!krmWriteUInt32(io, offsetC)) return false;
    if (!krmWriteUInt32(io, offsetA)) return false;
    return io->Seek(io, CurrentPos);
}

krmBool _krmType_LUTA2B_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems)
{
    return WriteAB(self, io, (const krmPipeline*)Ptr, true);
}

krmBool _krmType_LUTB2A_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems)
{
    return WriteAB(self, io, (const krmPipeline*)Ptr, false);
}

// ---------------------------------------------------------------------------------------------
// multiProcessElements 'mpet' (ICC.1:2010 10.14, 11)
// ---------------------------------------------------------------------------------------------

// Segmented curve 'curf' (ICC.1:2010 11.2.1.1).
static krmToneCurve* ReadSegmentedCurve(krmTagTypeHandler* self, krmIOHandler* io)
{
    static const krmUInt32Number ParamsByType[] = {4, 5, 5};
    krmUInt16Number Count, Reserved;
    krmCurveSegment* Segments = nullptr;
    krmToneCurve* Curve = nullptr;
    krmFloat32Number PrevBreak = krmMINUS_INF;
    char String[5];

    if (krmReadTypeBase(io) != krmSig("curf")) return nullptr;
    if (!krmReadUInt16(io, &Count)) return nullptr;
    if (!krmReadUInt16(io, &Reserved)) return nullptr;
    if (Count < 1) return nullptr;
    if (((krmUInt64Number)Count - 1) * 4 > BytesLeft(io)) return nullptr;

    Segments = (krmCurveSegment*)krmCalloc(self->ContextID, Count, sizeof(krmCurveSegment));
    if (Segments == nullptr) return nullptr;

    for (krmUInt32Number i = 0; i < (krmUInt32Number)Count - 1; i++) {
        Segments[i].x0 = PrevBreak;
        if (!krmReadFloat32(io, &Segments[i].x1)) goto Error;
        PrevBreak = Segments[i].x1;
    }
    Segments[Count - 1].x0 = PrevBreak;
    Segments[Count - 1].x1 = krmPLUS_INF;

    for (krmUInt32Number i = 0; i < Count; i++) {
        krmTagTypeSignature ElementSig = krmReadTypeBase(io);
        if (ElementSig == krmSig("parf")) {
            krmUInt16Number Type;
            if (!krmReadUInt16(io, &Type)) goto Error;
            if (!krmReadUInt16(io, &Reserved)) goto Error;
            if (Type > 2) goto Error;
            Segments[i].Type = Type + 6;
            for (krmUInt32Number j = 0; j < ParamsByType[Type]; j++) {
                krmFloat32Number f;
                if (!krmReadFloat32(io, &f)) goto Error;
                Segments[i].Params[j] = f;
            }
        } else if (ElementSig == krmSig("samf")) {
            krmUInt32Number n;
            if (!krmReadUInt32(io, &n)) goto Error;
            if (n == 0 || (krmUInt64Number)n * 4 > BytesLeft(io)) goto Error;
            // The first point is the curve's value where the segment starts; it is filled in below.
            Segments[i].Type = 0;
            Segments[i].nGridPoints = n + 1;
            Segments[i].SampledPoints =
                (krmFloat32Number*)krmCalloc(self->ContextID, n + 1, sizeof(krmFloat32Number));
            if (Segments[i].SampledPoints == nullptr) goto Error;
            for (krmUInt32Number j = 1; j <= n; j++)
                if (!krmReadFloat32(io, &Segments[i].SampledPoints[j])) goto Error;
        } else {
            SigToString(String, ElementSig);
            krmSignalError(self->ContextID, krmErrUnknownExtension, "Unknown curve element type '%s' found.", String);
            goto Error;
        }
    }

    Curve = krmBuildSegmentedToneCurve(self->ContextID, Count, Segments);
    if (Curve == nullptr) goto Error;

    {
        // Fill the implicit first points from the curve as built, then rebuild so that the
        // 16-bit table agrees with the segments.
        krmBool Fixed = false;
        for (krmUInt32Number i = 0; i < Count; i++) {
            if (Segments[i].Type == 0) {
                Segments[i].SampledPoints[0] = krmEvalToneCurveFloat(Curve, Segments[i].x0);
                Fixed = true;
            }
        }
        if (Fixed) {
            krmFreeToneCurve(Curve);
            Curve = krmBuildSegmentedToneCurve(self->ContextID, Count, Segments);
        }
    }

Error:
    for (krmUInt32Number i = 0; i < Count; i++) krmFree(self->ContextID, Segments[i].SampledPoints);
    krmFree(self->ContextID, Segments);
    return Curve;
}

// Reads a position table of n elements (offsets from BaseOffset) and calls ElementFn on each.
typedef krmBool (*PositionTableEntryFn)(krmTagTypeHandler* self, krmIOHandler* io, void* Cargo, krmUInt32Number n,
                                        krmUInt32Number SizeOfTag);

static krmBool ReadPositionTable(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number Count,
                                 krmUInt32Number BaseOffset, void* Cargo, PositionTableEntryFn ElementFn)
{
    krmUInt32Number* ElementOffsets = nullptr;
    krmUInt32Number* ElementSizes = nullptr;
    krmBool rc = false;

    if (Count == 0) return true;
    if (BytesLeft(io) / 8 < Count) return false;

    ElementOffsets = (krmUInt32Number*)krmCalloc(self->ContextID, Count, sizeof(krmUInt32Number));
    ElementSizes = (krmUInt32Number*)krmCalloc(self->ContextID, Count, sizeof(krmUInt32Number));
    if (ElementOffsets == nullptr || ElementSizes == nullptr) goto Done;

    for (krmUInt32Number i = 0; i < Count; i++) {
        if (!krmReadUInt32(io, &ElementOffsets[i])) goto Done;
        if (!krmReadUInt32(io, &ElementSizes[i])) goto Done;
        if ((krmUInt64Number)ElementOffsets[i] + BaseOffset > 0xFFFFFFFFu) goto Done;
        ElementOffsets[i] += BaseOffset;
    }
    for (krmUInt32Number i = 0; i < Count; i++) {
        if (!io->Seek(io, ElementOffsets[i])) goto Done;
        if (!ElementFn(self, io, Cargo, i, ElementSizes[i])) goto Done;
    }
    rc = true;

Done:
    krmFree(self->ContextID, ElementOffsets);
    krmFree(self->ContextID, ElementSizes);
    return rc;
}

static krmBool ReadMPECurve(krmTagTypeHandler* self, krmIOHandler* io, void* Cargo, krmUInt32Number n,
                            krmUInt32Number SizeOfTag)
{
    krmToneCurve** GammaTables = (krmToneCurve**)Cargo;
    GammaTables[n] = ReadSegmentedCurve(self, io);
    return GammaTables[n] != nullptr;
}

// Curve set element 'cvst' (ICC.1:2010 11.2.1).
static void* Type_MPEcurve_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                                krmUInt32Number SizeOfTag)
{
    krmUInt16Number InputChans, OutputChans;
    krmStage* mpe = nullptr;

    *nItems = 0;
    krmUInt32Number BaseOffset = io->Tell(io) - 8;
    if (!krmReadUInt16(io, &InputChans)) return nullptr;
    if (!krmReadUInt16(io, &OutputChans)) return nullptr;
    if (InputChans != OutputChans) return nullptr;
    if (InputChans == 0 || InputChans > MAX_INPUT_CHANNELS) return nullptr;

    krmToneCurve** GammaTables = (krmToneCurve**)krmCalloc(self->ContextID, InputChans, sizeof(krmToneCurve*));
    if (GammaTables == nullptr) return nullptr;

    if (ReadPositionTable(self, io, InputChans, BaseOffset, GammaTables, ReadMPECurve))
        mpe = krmStageAllocToneCurves(self->ContextID, InputChans, GammaTables);

    for (krmUInt32Number i = 0; i < InputChans; i++) krmFreeToneCurve(GammaTables[i]);
    krmFree(self->ContextID, GammaTables);

    *nItems = (mpe != nullptr) ? 1 : 0;
    return mpe;
}

// Matrix element 'matf' (ICC.1:2010 11.2.3): values output by output, then the offsets.
static void* Type_MPEmatrix_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                                 krmUInt32Number SizeOfTag)
{
    krmUInt16Number InputChans, OutputChans;
    krmFloat64Number Matrix[MAX_INPUT_CHANNELS * MAX_INPUT_CHANNELS];
    krmFloat64Number Offsets[MAX_INPUT_CHANNELS];

    *nItems = 0;
    if (!krmReadUInt16(io, &InputChans)) return nullptr;
    if (!krmReadUInt16(io, &OutputChans)) return nullptr;
    if (InputChans == 0 || InputChans >= krmMAXCHANNELS) return nullptr;
    if (OutputChans == 0 || OutputChans >= krmMAXCHANNELS) return nullptr;

    krmUInt32Number nElems = (krmUInt32Number)InputChans * OutputChans;
    for (krmUInt32Number i = 0; i < nElems; i++) {
        krmFloat32Number v;
        if (!krmReadFloat32(io, &v)) return nullptr;
        Matrix[i] = v;
    }
    for (krmUInt32Number i = 0; i < OutputChans; i++) {
        krmFloat32Number v;
        if (!krmReadFloat32(io, &v)) return nullptr;
        Offsets[i] = v;
    }

    krmStage* mpe = krmStageAllocMatrix(self->ContextID, OutputChans, InputChans, Matrix, Offsets);
    *nItems = (mpe != nullptr) ? 1 : 0;
    return mpe;
}

// CLUT element 'clut' (ICC.1:2010 11.2.2): single-precision node values.
static void* Type_MPEclut_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                               krmUInt32Number SizeOfTag)
{
    krmUInt16Number InputChans, OutputChans;
    krmUInt8Number Dimensions8[16];
    krmUInt32Number GridPoints[krmMAX_INPUT_DIMENSIONS];

    *nItems = 0;
    if (!krmReadUInt16(io, &InputChans)) return nullptr;
    if (!krmReadUInt16(io, &OutputChans)) return nullptr;
    if (InputChans == 0 || InputChans > MAX_INPUT_CHANNELS) return nullptr;
    if (OutputChans == 0 || OutputChans > MAX_INPUT_CHANNELS) return nullptr;

    if (io->Read(io, Dimensions8, sizeof(krmUInt8Number), 16) != 16) return nullptr;
    for (krmUInt32Number i = 0; i < InputChans; i++) {
        if (Dimensions8[i] == 1) return nullptr;  // a single point is no grid
        GridPoints[i] = Dimensions8[i];
    }

    krmUInt64Number nEntries = (krmUInt64Number)krmCubeSize(GridPoints, InputChans) * OutputChans;
    if (nEntries == 0 || nEntries * 4 > BytesLeft(io)) return nullptr;

    krmStage* mpe = krmStageAllocCLutFloatGranular(self->ContextID, GridPoints, InputChans, OutputChans, nullptr);
    if (mpe == nullptr) return nullptr;

    krmStageCLutData* clut = (krmStageCLutData*)mpe->Data;
    for (krmUInt32Number i = 0; i < clut->nEntries; i++) {
        if (!krmReadFloat32(io, &clut->Tab.TFloat[i])) {
            krmStageFree(mpe);
            return nullptr;
        }
    }
    *nItems = 1;
    return mpe;
}

// Segmented curve writer: break points, then each segment as 'parf' or 'samf'.
static krmBool WriteSegmentedCurve(krmIOHandler* io, const krmToneCurve* g)
{
    static const krmUInt32Number ParamsByType[] = {4, 5, 5};
    const krmCurveSegment* Segments = g->Segments;
    krmUInt32Number nSegments = g->nSegments;

    if (nSegments == 0 || nSegments > 0xFFFF) return false;
    if (!krmWriteTypeBase(io, krmSig("curf"))) return false;
    if (!krmWriteUInt16(io, (krmUInt16Number)nSegments)) return false;
    if (!krmWriteUInt16(io, 0)) return false;

    for (krmUInt32Number i = 0; i < nSegments - 1; i++)
        if (!krmWriteFloat32(io, Segments[i].x1)) return false;

    for (krmUInt32Number i = 0; i < nSegments; i++) {
        const krmCurveSegment* ActualSeg = Segments + i;
        if (ActualSeg->Type == 0) {
            if (ActualSeg->nGridPoints < 2) return false;
            if (!krmWriteTypeBase(io, krmSig("samf"))) return false;
            if (!krmWriteUInt32(io, ActualSeg->nGridPoints - 1)) return false;
            for (krmUInt32Number j = 1; j < ActualSeg->nGridPoints; j++)
                if (!krmWriteFloat32(io, ActualSeg->SampledPoints[j])) return false;
        } else {
            if (ActualSeg->Type < 6 || ActualSeg->Type > 8) return false;
            krmInt32Number Type = ActualSeg->Type - 6;
            if (!krmWriteTypeBase(io, krmSig("parf"))) return false;
            if (!krmWriteUInt16(io, (krmUInt16Number)Type)) return false;
            if (!krmWriteUInt16(io, 0)) return false;
            for (krmUInt32Number j = 0; j < ParamsByType[Type]; j++)
                if (!krmWriteFloat32(io, (krmFloat32Number)ActualSeg->Params[j])) return false;
        }
    }
    return true;
}

static krmBool Type_MPEcurve_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems)
{
    const krmStage* mpe = (const krmStage*)Ptr;
    const krmStageCurvesData* Curves = (const krmStageCurvesData*)mpe->Data;
    krmUInt32Number n = Curves->nCurves;

    krmUInt32Number BaseOffset = io->Tell(io) - 8;
    if (!krmWriteUInt16(io, (krmUInt16Number)mpe->InputChannels)) return false;
    if (!krmWriteUInt16(io, (krmUInt16Number)mpe->InputChannels)) return false;

    // Position table (ICC.1:2010 11.2.1): zero pairs now, filled in after the curves.
    krmUInt32Number DirectoryPos = io->Tell(io);
    for (krmUInt32Number i = 0; i < n; i++) {
        if (!krmWriteUInt32(io, 0) || !krmWriteUInt32(io, 0)) return false;
    }

    krmUInt32Number Offsets[MAX_CURVES_IN_SET], Sizes[MAX_CURVES_IN_SET];
    if (n > MAX_CURVES_IN_SET) return false;
    for (krmUInt32Number i = 0; i < n; i++) {
        krmUInt32Number Before = io->Tell(io);
        Offsets[i] = Before - BaseOffset;
        if (!WriteSegmentedCurve(io, Curves->TheCurves[i])) return false;
        Sizes[i] = io->Tell(io) - Before;
    }

    krmUInt32Number CurrentPos = io->Tell(io);
    if (!io->Seek(io, DirectoryPos)) return false;
    for (krmUInt32Number i = 0; i < n; i++) {
        if (!krmWriteUInt32(io, Offsets[i]) || !krmWriteUInt32(io, Sizes[i])) return false;
    }
    return io->Seek(io, CurrentPos);
}

static krmBool Type_MPEmatrix_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems)
{
    const krmStage* mpe = (const krmStage*)Ptr;
    const krmStageMatrixData* Matrix = (const krmStageMatrixData*)mpe->Data;

    if (!krmWriteUInt16(io, (krmUInt16Number)mpe->InputChannels)) return false;
    if (!krmWriteUInt16(io, (krmUInt16Number)mpe->OutputChannels)) return false;

    krmUInt32Number nElems = mpe->InputChannels * mpe->OutputChannels;
    for (krmUInt32Number i = 0; i < nElems; i++)
        if (!krmWriteFloat32(io, (krmFloat32Number)Matrix->Double[i])) return false;
    for (krmUInt32Number i = 0; i < mpe->OutputChannels; i++)
        if (!krmWriteFloat32(io, Matrix->Offset ? (krmFloat32Number)Matrix->Offset[i] : 0.0f)) return false;
    return true;
}

static krmBool Type_MPEclut_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems)
{
    const krmStage* mpe = (const krmStage*)Ptr;
    const krmStageCLutData* clut = (const krmStageCLutData*)mpe->Data;
    krmUInt8Number Dimensions8[16];

    if (mpe->InputChannels > MAX_INPUT_CHANNELS) return false;
    if (!clut->HasFloatValues) return false;  // only single-precision tables fit this element

    if (!krmWriteUInt16(io, (krmUInt16Number)mpe->InputChannels)) return false;
    if (!krmWriteUInt16(io, (krmUInt16Number)mpe->OutputChannels)) return false;

    memset(Dimensions8, 0, sizeof(Dimensions8));
    for (krmUInt32Number i = 0; i < mpe->InputChannels; i++) {
        if (clut->Params->nSamples[i] > 255) return false;
        Dimensions8[i] = (krmUInt8Number)clut->Params->nSamples[i];
    }
    if (!io->Write(io, 16, Dimensions8)) return false;

    for (krmUInt32Number i = 0; i < clut->nEntries; i++)
        if (!krmWriteFloat32(io, clut->Tab.TFloat[i])) return false;
    return true;
}

// Built-in elements, searched after the context's 'mpeH' registrations. 'bACS' and 'eACS' are
// known but carry nothing.
static const krmTagTypeHandler SupportedMPEtypes[] = {
    {krmSigBAcsElemType, nullptr, nullptr, nullptr, nullptr, nullptr, 0},
    {krmSigEAcsElemType, nullptr, nullptr, nullptr, nullptr, nullptr, 0},
    {krmSigCurveSetElemType, Type_MPEcurve_Read, Type_MPEcurve_Write, nullptr, nullptr, nullptr, 0},
    {krmSigMatrixElemType, Type_MPEmatrix_Read, Type_MPEmatrix_Write, nullptr, nullptr, nullptr, 0},
    {krmSigCLutElemType, Type_MPEclut_Read, Type_MPEclut_Write, nullptr, nullptr, nullptr, 0},
};

static const krmTagTypeHandler* GetMPEHandler(krmContext ContextID, krmUInt32Number Type)
{
    for (const _krmPluginListEntry* e = _krmGetPluginList(ContextID, krmPluginMultiProcessElementSig); e != nullptr;
         e = e->Next) {
        const krmPluginMultiProcessElement* p = (const krmPluginMultiProcessElement*)e->Plugin;
        if (p->Handler.Signature == Type) return &p->Handler;
    }
    for (const krmTagTypeHandler& h : SupportedMPEtypes)
        if (h.Signature == Type) return &h;
    return nullptr;
}

static krmBool ReadMPEElem(krmTagTypeHandler* self, krmIOHandler* io, void* Cargo, krmUInt32Number n,
                           krmUInt32Number SizeOfTag)
{
    krmPipeline* NewLUT = (krmPipeline*)Cargo;
    char String[5];
    krmUInt32Number nItems;

    krmUInt32Number ElementSig = krmReadTypeBase(io);
    const krmTagTypeHandler* h = GetMPEHandler(self->ContextID, ElementSig);
    if (h == nullptr) {
        SigToString(String, ElementSig);
        krmSignalError(self->ContextID, krmErrUnknownExtension, "Unknown MPE type '%s' found.", String);
        return false;
    }
    if (h->ReadPtr == nullptr) return true;  // known, carries no stage

    krmTagTypeHandler Local = *h;
    Local.ContextID = self->ContextID;
    Local.ICCVersion = self->ICCVersion;
    krmStage* mpe = (krmStage*)Local.ReadPtr(&Local, io, &nItems, SizeOfTag >= 8 ? SizeOfTag - 8 : 0);
    if (mpe == nullptr) return false;
    return krmPipelineInsertStage(NewLUT, krmAT_END, mpe);
}

void* _krmType_MPE_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number SizeOfTag)
{
    krmUInt16Number InputChans, OutputChans;
    krmUInt32Number ElementCount;

    *nItems = 0;
    krmUInt32Number BaseOffset = io->Tell(io) - 8;

    if (!krmReadUInt16(io, &InputChans)) return nullptr;
    if (!krmReadUInt16(io, &OutputChans)) return nullptr;
    if (InputChans == 0 || InputChans > MAX_INPUT_CHANNELS) return nullptr;
    if (OutputChans == 0 || OutputChans > MAX_INPUT_CHANNELS) return nullptr;
    if (!krmReadUInt32(io, &ElementCount)) return nullptr;
    if (ElementCount > MAX_MPE_ELEMENTS) return nullptr;

    krmPipeline* NewLUT = krmPipelineAlloc(self->ContextID, InputChans, OutputChans);
    if (NewLUT == nullptr) return nullptr;

    if (!ReadPositionTable(self, io, ElementCount, BaseOffset, NewLUT, ReadMPEElem)) goto Error;
    if (InputChans != NewLUT->InputChannels || OutputChans != NewLUT->OutputChannels) goto Error;

    *nItems = 1;
    return NewLUT;

Error:
    krmPipelineFree(NewLUT);
    return nullptr;
}

krmBool _krmType_MPE_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems)
{
    krmPipeline* Lut = (krmPipeline*)Ptr;
    krmUInt32Number ElemCount = krmPipelineStageCount(Lut);
    krmUInt32Number* ElementOffsets = nullptr;
    krmUInt32Number* ElementSizes = nullptr;
    krmBool rc = false;
    char String[5];

    krmUInt32Number BaseOffset = io->Tell(io) - 8;

    if (!krmWriteUInt16(io, (krmUInt16Number)Lut->InputChannels)) return false;
    if (!krmWriteUInt16(io, (krmUInt16Number)Lut->OutputChannels)) return false;
    if (!krmWriteUInt32(io, ElemCount)) return false;

    krmUInt32Number DirectoryPos = io->Tell(io);
    for (krmUInt32Number i = 0; i < ElemCount; i++) {
        if (!krmWriteUInt32(io, 0) || !krmWriteUInt32(io, 0)) return false;
    }
    if (ElemCount == 0) return true;

    ElementOffsets = (krmUInt32Number*)krmCalloc(self->ContextID, ElemCount, sizeof(krmUInt32Number));
    ElementSizes = (krmUInt32Number*)krmCalloc(self->ContextID, ElemCount, sizeof(krmUInt32Number));
    if (ElementOffsets == nullptr || ElementSizes == nullptr) goto Done;

    {
        krmUInt32Number i = 0;
        for (const krmStage* Elem = Lut->Elements; Elem != nullptr; Elem = Elem->Next, i++) {
            const krmTagTypeHandler* h = GetMPEHandler(self->ContextID, Elem->Type);
            if (h == nullptr || h->WritePtr == nullptr) {
                SigToString(String, Elem->Type);
                krmSignalError(self->ContextID, krmErrUnknownExtension, "Found unknown MPE type '%s'", String);
                goto Done;
            }
            krmUInt32Number Before = io->Tell(io);
            ElementOffsets[i] = Before - BaseOffset;
            if (!krmWriteTypeBase(io, Elem->Type)) goto Done;

            krmTagTypeHandler Local = *h;
            Local.ContextID = self->ContextID;
            Local.ICCVersion = self->ICCVersion;
            if (!Local.WritePtr(&Local, io, (void*)Elem, 1)) goto Done;
            if (!krmWriteAlignment(io)) goto Done;
            ElementSizes[i] = io->Tell(io) - Before;
        }
    }

    {
        krmUInt32Number CurrentPos = io->Tell(io);
        if (!io->Seek(io, DirectoryPos)) goto Done;
        for (krmUInt32Number i = 0; i < ElemCount; i++) {
            if (!krmWriteUInt32(io, ElementOffsets[i]) || !krmWriteUInt32(io, ElementSizes[i])) goto Done;
        }
        if (!io->Seek(io, CurrentPos)) goto Done;
    }
    rc = true;

Done:
    krmFree(self->ContextID, ElementOffsets);
    krmFree(self->ContextID, ElementSizes);
    return rc;
}
