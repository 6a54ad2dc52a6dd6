// Pipelines and stages: the chain of curve sets, matrices, CLUTs and PCS conversions that every
// colour conversion in the engine evaluates.

#include "krm_internal.h"

#include <cmath>
#include <cstdarg>
#include <cstring>

// Largest XYZ value of the 1.15 fixed-point encoding (1 + 32767/32768); pipelines carry XYZ
// divided by it so that it fits 0..1.
#define MAX_ENCODEABLE_XYZ 1.999969482421875

// A grid may not have more nodes than this: 2^32 - 1 divided by the largest channel count.
#define MAX_GRID_NODES 286331153u

// ---------------------------------------------------------------------------------------------
// Grids
// ---------------------------------------------------------------------------------------------

krmUInt32Number krmCubeSize(const krmUInt32Number Dims[], krmUInt32Number b)
{
    krmUInt32Number rv = 1;

    _krmAssert(Dims != nullptr || b == 0);
    for (; b > 0; b--) {
        krmUInt32Number dim = Dims[b - 1];
        if (dim <= 1) return 0;
        krmUInt64Number prod = (krmUInt64Number)rv * dim;
        if (prod > 0xFFFFFFFFu) return 0;
        rv = (krmUInt32Number)prod;
        if (rv > MAX_GRID_NODES) return 0;
    }
    return rv;
}

// Coordinates of grid node 'index', last input varying fastest.
static void NodeCoordinates(krmUInt32Number index, krmUInt32Number nInputs, const krmUInt32Number nSamples[],
                            krmUInt16Number In[])
{
    krmUInt32Number rest = index;
    for (krmInt32Number t = (krmInt32Number)nInputs - 1; t >= 0; --t) {
        krmUInt32Number Colorant = rest % nSamples[t];
        rest /= nSamples[t];
        In[t] = krmQuantizeVal((krmFloat64Number)Colorant, nSamples[t]);
    }
}

krmBool krmSliceSpace16(krmUInt32Number nInputs, const krmUInt32Number clutPoints[], krmSAMPLER16 Sampler,
                        void* Cargo)
{
    krmUInt16Number In[krmMAX_INPUT_DIMENSIONS + 1];

    if (nInputs >= krmMAX_INPUT_DIMENSIONS + 1 || Sampler == nullptr) return false;
    krmUInt32Number nTotalPoints = krmCubeSize(clutPoints, nInputs);
    if (nTotalPoints == 0) return false;

    for (krmUInt32Number i = 0; i < nTotalPoints; i++) {
        NodeCoordinates(i, nInputs, clutPoints, In);
        if (!Sampler(In, nullptr, Cargo)) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Stages: common allocation
// ---------------------------------------------------------------------------------------------

krmStage* krmStageAllocPlaceholder(krmContext ContextID, krmStageSignature Type, krmUInt32Number InputChannels,
                                   krmUInt32Number OutputChannels, _krmStageEvalFn EvalPtr,
                                   _krmStageDupElemFn DupElemPtr, _krmStageFreeElemFn FreePtr, void* Data)
{
    if (InputChannels > krmMAX_STAGE_CHANNELS || OutputChannels > krmMAX_STAGE_CHANNELS) return nullptr;

    krmStage* ph = (krmStage*)krmMallocZero(ContextID, sizeof(krmStage));
    if (ph == nullptr) return nullptr;

    ph->ContextID = ContextID;
    ph->Type = Type;
    ph->Implements = Type;
    ph->InputChannels = InputChannels;
    ph->OutputChannels = OutputChannels;
    ph->EvalPtr = EvalPtr;
    ph->DupElemPtr = DupElemPtr;
    ph->FreePtr = FreePtr;
    ph->Data = Data;
    ph->Next = nullptr;
    return ph;
}

void krmStageFree(krmStage* mpe)
{
    if (mpe == nullptr) return;
    if (mpe->FreePtr) mpe->FreePtr(mpe);
    krmFree(mpe->ContextID, mpe);
}

krmStage* krmStageDup(krmStage* mpe)
{
    if (mpe == nullptr) return nullptr;

    krmStage* NewMPE = krmStageAllocPlaceholder(mpe->ContextID, mpe->Type, mpe->InputChannels, mpe->OutputChannels,
                                                mpe->EvalPtr, mpe->DupElemPtr, mpe->FreePtr, nullptr);
    if (NewMPE == nullptr) return nullptr;

    NewMPE->Implements = mpe->Implements;
    if (mpe->DupElemPtr) {
        NewMPE->Data = mpe->DupElemPtr(mpe);
        if (NewMPE->Data == nullptr) {
            krmFree(mpe->ContextID, NewMPE);
            return nullptr;
        }
    }
    return NewMPE;
}

krmUInt32Number krmStageInputChannels(const krmStage* mpe)
{
    return mpe->InputChannels;
}
krmUInt32Number krmStageOutputChannels(const krmStage* mpe)
{
    return mpe->OutputChannels;
}
krmStageSignature krmStageType(const krmStage* mpe)
{
    return mpe->Type;
}
krmStageSignature krmStageImplements(const krmStage* mpe)
{
    return mpe->Implements;
}
void* krmStageData(const krmStage* mpe)
{
    return mpe->Data;
}
krmContext krmGetStageContextID(const krmStage* mpe)
{
    return mpe->ContextID;
}
krmStage* krmStageNext(const krmStage* mpe)
{
    return mpe->Next;
}

void krmStageEvalFloat(const krmStage* mpe, const krmFloat32Number In[], krmFloat32Number Out[])
{
    _krmAssert(mpe != nullptr);
    if (mpe->EvalPtr) mpe->EvalPtr(In, Out, mpe);
}

// ---------------------------------------------------------------------------------------------
// Identity, clip negatives
// ---------------------------------------------------------------------------------------------

static void EvaluateIdentity(const krmFloat32Number In[], krmFloat32Number Out[], const krmStage* mpe)
{
    memmove(Out, In, mpe->InputChannels * sizeof(krmFloat32Number));
}

krmStage* krmStageAllocIdentity(krmContext ContextID, krmUInt32Number nChans)
{
    return krmStageAllocPlaceholder(ContextID, krmSigIdentityElemType, nChans, nChans, EvaluateIdentity, nullptr,
                                    nullptr, nullptr);
}

static void EvaluateClipNegatives(const krmFloat32Number In[], krmFloat32Number Out[], const krmStage* mpe)
{
    for (krmUInt32Number i = 0; i < mpe->InputChannels; i++) {
        krmFloat32Number v = In[i];
        Out[i] = v < 0 ? 0 : v;
    }
}

krmStage* krmStageAllocClipNegatives(krmContext ContextID, krmUInt32Number nChans)
{
    return krmStageAllocPlaceholder(ContextID, krmSigClipNegativesElemType, nChans, nChans, EvaluateClipNegatives,
                                    nullptr, nullptr, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Curve sets
// ---------------------------------------------------------------------------------------------

static void EvaluateCurves(const krmFloat32Number In[], krmFloat32Number Out[], const krmStage* mpe)
{
    const krmStageCurvesData* Data = (const krmStageCurvesData*)mpe->Data;
    if (Data == nullptr || Data->TheCurves == nullptr) return;

    for (krmUInt32Number i = 0; i < Data->nCurves; i++) Out[i] = krmEvalToneCurveFloat(Data->TheCurves[i], In[i]);
}

static void CurveSetElemTypeFree(krmStage* mpe)
{
    krmStageCurvesData* Data = (krmStageCurvesData*)mpe->Data;
    if (Data == nullptr) return;

    if (Data->TheCurves != nullptr) {
        for (krmUInt32Number i = 0; i < Data->nCurves; i++)
            if (Data->TheCurves[i] != nullptr) krmFreeToneCurve(Data->TheCurves[i]);
    }
    krmFree(mpe->ContextID, Data->TheCurves);
    krmFree(mpe->ContextID, Data);
}

static void* CurveSetDup(krmStage* mpe)
{
    const krmStageCurvesData* Data = (const krmStageCurvesData*)mpe->Data;

    krmStageCurvesData* NewElem = (krmStageCurvesData*)krmMallocZero(mpe->ContextID, sizeof(*NewElem));
    if (NewElem == nullptr) return nullptr;

    NewElem->nCurves = Data->nCurves;
    NewElem->TheCurves = (krmToneCurve**)krmCalloc(mpe->ContextID, NewElem->nCurves, sizeof(krmToneCurve*));
    if (NewElem->TheCurves == nullptr) goto Error;

    for (krmUInt32Number i = 0; i < NewElem->nCurves; i++) {
        NewElem->TheCurves[i] = krmDupToneCurve(Data->TheCurves[i]);
        if (NewElem->TheCurves[i] == nullptr) goto Error;
    }
    return NewElem;

Error:
    if (NewElem->TheCurves != nullptr) {
        for (krmUInt32Number i = 0; i < NewElem->nCurves; i++)
            if (NewElem->TheCurves[i]) krmFreeToneCurve(NewElem->TheCurves[i]);
    }
    krmFree(mpe->ContextID, NewElem->TheCurves);
    krmFree(mpe->ContextID, NewElem);
    return nullptr;
}

krmStage* krmStageAllocToneCurves(krmContext ContextID, krmUInt32Number nChans, krmToneCurve* const Curves[])
{
    krmStage* NewMPE = krmStageAllocPlaceholder(ContextID, krmSigCurveSetElemType, nChans, nChans, EvaluateCurves,
                                                CurveSetDup, CurveSetElemTypeFree, nullptr);
    if (NewMPE == nullptr) return nullptr;

    krmStageCurvesData* NewElem = (krmStageCurvesData*)krmMallocZero(ContextID, sizeof(*NewElem));
    if (NewElem == nullptr) {
        krmStageFree(NewMPE);
        return nullptr;
    }
    NewMPE->Data = NewElem;

    NewElem->nCurves = nChans;
    NewElem->TheCurves = (krmToneCurve**)krmCalloc(ContextID, nChans, sizeof(krmToneCurve*));
    if (NewElem->TheCurves == nullptr) {
        krmStageFree(NewMPE);
        return nullptr;
    }

    for (krmUInt32Number i = 0; i < nChans; i++) {
        // A missing curve (or set) is the identity.
        NewElem->TheCurves[i] = (Curves == nullptr || Curves[i] == nullptr) ? krmBuildGamma(ContextID, 1.0)
                                                                              : krmDupToneCurve(Curves[i]);
        if (NewElem->TheCurves[i] == nullptr) {
            krmStageFree(NewMPE);
            return nullptr;
        }
    }
    return NewMPE;
}

krmStage* krmStageAllocIdentityCurves(krmContext ContextID, krmUInt32Number nChans)
{
    krmStage* mpe = krmStageAllocToneCurves(ContextID, nChans, nullptr);
    if (mpe == nullptr) return nullptr;
    mpe->Implements = krmSigIdentityElemType;
    return mpe;
}

// ---------------------------------------------------------------------------------------------
// Matrices
// ---------------------------------------------------------------------------------------------

static void EvaluateMatrix(const krmFloat32Number In[], krmFloat32Number Out[], const krmStage* mpe)
{
    const krmStageMatrixData* Data = (const krmStageMatrixData*)mpe->Data;

    for (krmUInt32Number i = 0; i < mpe->OutputChannels; i++) {
        krmFloat64Number Tmp = 0;
        for (krmUInt32Number j = 0; j < mpe->InputChannels; j++)
            Tmp += In[j] * Data->Double[i * mpe->InputChannels + j];
        if (Data->Offset != nullptr) Tmp += Data->Offset[i];
        Out[i] = (krmFloat32Number)Tmp;
    }
}

static void* MatrixElemDup(krmStage* mpe)
{
    const krmStageMatrixData* Data = (const krmStageMatrixData*)mpe->Data;

    krmStageMatrixData* NewElem = (krmStageMatrixData*)krmMallocZero(mpe->ContextID, sizeof(*NewElem));
    if (NewElem == nullptr) return nullptr;

    krmUInt32Number sz = mpe->InputChannels * mpe->OutputChannels;
    if (Data->Double) NewElem->Double = (krmFloat64Number*)krmDupMem(mpe->ContextID, Data->Double, sz * sizeof(krmFloat64Number));
    if (Data->Offset)
        NewElem->Offset = (krmFloat64Number*)krmDupMem(mpe->ContextID, Data->Offset,
                                                       mpe->OutputChannels * sizeof(krmFloat64Number));
    if ((Data->Double && !NewElem->Double) || (Data->Offset && !NewElem->Offset)) {
        krmFree(mpe->ContextID, NewElem->Double);
        krmFree(mpe->ContextID, NewElem->Offset);
        krmFree(mpe->ContextID, NewElem);
        return nullptr;
    }
    return NewElem;
}

static void MatrixElemTypeFree(krmStage* mpe)
{
    krmStageMatrixData* Data = (krmStageMatrixData*)mpe->Data;
    if (Data == nullptr) return;
    krmFree(mpe->ContextID, Data->Double);
    krmFree(mpe->ContextID, Data->Offset);
    krmFree(mpe->ContextID, Data);
}

krmStage* krmStageAllocMatrix(krmContext ContextID, krmUInt32Number Rows, krmUInt32Number Cols,
                              const krmFloat64Number* Matrix, const krmFloat64Number* Offset)
{
    krmUInt64Number n = (krmUInt64Number)Rows * Cols;
    if (n == 0 || n > 0xFFFFFFFFu / sizeof(krmFloat64Number)) return nullptr;
    if (Matrix == nullptr) return nullptr;

    krmStage* NewMPE = krmStageAllocPlaceholder(ContextID, krmSigMatrixElemType, Cols, Rows, EvaluateMatrix,
                                                MatrixElemDup, MatrixElemTypeFree, nullptr);
    if (NewMPE == nullptr) return nullptr;

    krmStageMatrixData* NewElem = (krmStageMatrixData*)krmMallocZero(ContextID, sizeof(*NewElem));
    if (NewElem == nullptr) goto Error;
    NewMPE->Data = NewElem;

    NewElem->Double = (krmFloat64Number*)krmCalloc(ContextID, (krmUInt32Number)n, sizeof(krmFloat64Number));
    if (NewElem->Double == nullptr) goto Error;
    for (krmUInt32Number i = 0; i < n; i++) NewElem->Double[i] = Matrix[i];

    if (Offset != nullptr) {
        NewElem->Offset = (krmFloat64Number*)krmCalloc(ContextID, Rows, sizeof(krmFloat64Number));
        if (NewElem->Offset == nullptr) goto Error;
        for (krmUInt32Number i = 0; i < Rows; i++) NewElem->Offset[i] = Offset[i];
    }
    return NewMPE;

Error:
    krmStageFree(NewMPE);
    return nullptr;
}

// A 3x3 diagonal matrix stage with an optional offset, tagged with the operation it implements.
static krmStage* AllocDiagonal(krmContext ContextID, krmStageSignature Implements, const krmFloat64Number d[3],
                               const krmFloat64Number* Offset)
{
    const krmFloat64Number m[9] = {d[0], 0, 0, 0, d[1], 0, 0, 0, d[2]};
    krmStage* mpe = krmStageAllocMatrix(ContextID, 3, 3, m, Offset);
    if (mpe != nullptr) mpe->Implements = Implements;
    return mpe;
}

krmStage* krmStageAllocLabV2ToV4(krmContext ContextID)
{
    const krmFloat64Number d[3] = {257.0 / 256.0, 257.0 / 256.0, 257.0 / 256.0};
    return AllocDiagonal(ContextID, krmSigLabV2toV4, d, nullptr);
}

krmStage* krmStageAllocLabV4ToV2(krmContext ContextID)
{
    const krmFloat64Number d[3] = {256.0 / 257.0, 256.0 / 257.0, 256.0 / 257.0};
    return AllocDiagonal(ContextID, krmSigLabV4toV2, d, nullptr);
}

krmStage* krmStageAllocLab2FloatPCS(krmContext ContextID)
{
    const krmFloat64Number d[3] = {1.0 / 100.0, 1.0 / 255.0, 1.0 / 255.0};
    const krmFloat64Number o[3] = {0, 128.0 / 255.0, 128.0 / 255.0};
    return AllocDiagonal(ContextID, krmSigLab2FloatPCS, d, o);
}

krmStage* krmStageAllocFloatPCS2Lab(krmContext ContextID)
{
    const krmFloat64Number d[3] = {100.0, 255.0, 255.0};
    const krmFloat64Number o[3] = {0, -128.0, -128.0};
    return AllocDiagonal(ContextID, krmSigFloatPCS2Lab, d, o);
}

krmStage* krmStageAllocXYZ2FloatPCS(krmContext ContextID)
{
    const krmFloat64Number k = 32768.0 / 65535.0;
    const krmFloat64Number d[3] = {k, k, k};
    return AllocDiagonal(ContextID, krmSigXYZ2FloatPCS, d, nullptr);
}

krmStage* krmStageAllocFloatPCS2XYZ(krmContext ContextID)
{
    const krmFloat64Number k = 65535.0 / 32768.0;
    const krmFloat64Number d[3] = {k, k, k};
    return AllocDiagonal(ContextID, krmSigFloatPCS2XYZ, d, nullptr);
}

// ---------------------------------------------------------------------------------------------
// CLUTs
// ---------------------------------------------------------------------------------------------

// 16-bit tables in a float pipeline: quantise, interpolate in 16 bits, scale back.
static void EvaluateCLUTfloatIn16(const krmFloat32Number In[], krmFloat32Number Out[], const krmStage* mpe)
{
    const krmStageCLutData* Data = (const krmStageCLutData*)mpe->Data;
    krmUInt16Number In16[krmMAX_STAGE_CHANNELS], Out16[krmMAX_STAGE_CHANNELS];

    for (krmUInt32Number i = 0; i < mpe->InputChannels; i++) In16[i] = krmQuickSaturateWord(In[i] * 65535.0);
    _krmInterpEval16(Data->Params, In16, Out16);
    for (krmUInt32Number i = 0; i < mpe->OutputChannels; i++) Out[i] = _krmWordToFloat(Out16[i]);
}

static void EvaluateCLUTfloat(const krmFloat32Number In[], krmFloat32Number Out[], const krmStage* mpe)
{
    const krmStageCLutData* Data = (const krmStageCLutData*)mpe->Data;
    _krmInterpEvalFloat(Data->Params, In, Out);
}

static void CLutElemTypeFree(krmStage* mpe)
{
    krmStageCLutData* Data = (krmStageCLutData*)mpe->Data;
    if (Data == nullptr) return;
    if (Data->Tab.T) krmFree(mpe->ContextID, Data->Tab.T);
    krmFreeInterpParams(Data->Params);
    krmFree(mpe->ContextID, Data);
}

static void* CLUTElemDup(krmStage* mpe)
{
    const krmStageCLutData* Data = (const krmStageCLutData*)mpe->Data;

    krmStageCLutData* NewElem = (krmStageCLutData*)krmMallocZero(mpe->ContextID, sizeof(*NewElem));
    if (NewElem == nullptr) return nullptr;

    NewElem->nEntries = Data->nEntries;
    NewElem->HasFloatValues = Data->HasFloatValues;

    if (Data->Tab.T) {
        krmUInt32Number sz = Data->HasFloatValues ? sizeof(krmFloat32Number) : sizeof(krmUInt16Number);
        NewElem->Tab.T = krmDupMem(mpe->ContextID, Data->Tab.T, Data->nEntries * sz);
        if (NewElem->Tab.T == nullptr) goto Error;
    }

    NewElem->Params = krmComputeInterpParamsEx(mpe->ContextID, Data->Params->nSamples, Data->Params->nInputs,
                                               Data->Params->nOutputs, NewElem->Tab.T, Data->Params->dwFlags);
    if (NewElem->Params == nullptr) goto Error;
    return NewElem;

Error:
    krmFree(mpe->ContextID, NewElem->Tab.T);
    krmFree(mpe->ContextID, NewElem);
    return nullptr;
}

// Allocates the stage and its table (zero-filled or copied); shared by both precisions.
static krmStage* AllocCLut(krmContext ContextID, const krmUInt32Number clutPoints[], krmUInt32Number inputChan,
                           krmUInt32Number outputChan, const void* Table, krmBool isFloat)
{
    if (inputChan > krmMAX_INPUT_DIMENSIONS) {
        krmSignalError(ContextID, krmErrRange, "Too many input channels (%d channels, max=%d)", (int)inputChan,
                       (int)krmMAX_INPUT_DIMENSIONS);
        return nullptr;
    }
    // The evaluation buffers hold krmMAX_STAGE_CHANNELS values.
    if (outputChan == 0 || outputChan > krmMAX_STAGE_CHANNELS) return nullptr;

    krmUInt32Number cube = krmCubeSize(clutPoints, inputChan);
    krmUInt64Number n = (krmUInt64Number)outputChan * cube;
    if (n == 0 || n > 0xFFFFFFFFu) return nullptr;
    krmUInt32Number elemSize = isFloat ? sizeof(krmFloat32Number) : sizeof(krmUInt16Number);

    krmStage* NewMPE =
        krmStageAllocPlaceholder(ContextID, krmSigCLutElemType, inputChan, outputChan,
                                 isFloat ? EvaluateCLUTfloat : EvaluateCLUTfloatIn16, CLUTElemDup, CLutElemTypeFree, nullptr);
    if (NewMPE == nullptr) return nullptr;

    krmStageCLutData* NewElem = (krmStageCLutData*)krmMallocZero(ContextID, sizeof(*NewElem));
    if (NewElem == nullptr) {
        krmStageFree(NewMPE);
        return nullptr;
    }
    NewMPE->Data = NewElem;
    NewElem->nEntries = (krmUInt32Number)n;
    NewElem->HasFloatValues = isFloat;

    NewElem->Tab.T = krmCalloc(ContextID, (krmUInt32Number)n, elemSize);
    if (NewElem->Tab.T == nullptr) {
        krmStageFree(NewMPE);
        return nullptr;
    }
    if (Table != nullptr) memcpy(NewElem->Tab.T, Table, (size_t)n * elemSize);

    NewElem->Params = krmComputeInterpParamsEx(ContextID, clutPoints, inputChan, outputChan, NewElem->Tab.T,
                                               isFloat ? krmInterpFlagFloat : 0);
    if (NewElem->Params == nullptr) {
        krmStageFree(NewMPE);
        return nullptr;
    }
    return NewMPE;
}

// The same number of grid points on every input, for the non-granular constructors.
static krmBool UniformGrid(krmContext ContextID, krmUInt32Number nGridPoints, krmUInt32Number inputChan,
                           krmUInt32Number Dimensions[krmMAX_INPUT_DIMENSIONS])
{
    if (inputChan > krmMAX_INPUT_DIMENSIONS) {
        krmSignalError(ContextID, krmErrRange, "Too many input channels (%d channels, max=%d)", (int)inputChan,
                       (int)krmMAX_INPUT_DIMENSIONS);
        return false;
    }
    for (krmUInt32Number i = 0; i < inputChan; i++) Dimensions[i] = nGridPoints;
    return true;
}

krmStage* krmStageAllocCLut16bitGranular(krmContext ContextID, const krmUInt32Number clutPoints[],
                                         krmUInt32Number inputChan, krmUInt32Number outputChan,
                                         const krmUInt16Number* Table)
{
    return AllocCLut(ContextID, clutPoints, inputChan, outputChan, Table, false);
}

krmStage* krmStageAllocCLut16bit(krmContext ContextID, krmUInt32Number nGridPoints, krmUInt32Number inputChan,
                                 krmUInt32Number outputChan, const krmUInt16Number* Table)
{
    krmUInt32Number Dimensions[krmMAX_INPUT_DIMENSIONS];
    if (!UniformGrid(ContextID, nGridPoints, inputChan, Dimensions)) return nullptr;
    return krmStageAllocCLut16bitGranular(ContextID, Dimensions, inputChan, outputChan, Table);
}

krmStage* krmStageAllocCLutFloatGranular(krmContext ContextID, const krmUInt32Number clutPoints[],
                                         krmUInt32Number inputChan, krmUInt32Number outputChan,
                                         const krmFloat32Number* Table)
{
    return AllocCLut(ContextID, clutPoints, inputChan, outputChan, Table, true);
}

krmStage* krmStageAllocCLutFloat(krmContext ContextID, krmUInt32Number nGridPoints, krmUInt32Number inputChan,
                                 krmUInt32Number outputChan, const krmFloat32Number* Table)
{
    krmUInt32Number Dimensions[krmMAX_INPUT_DIMENSIONS];
    if (!UniformGrid(ContextID, nGridPoints, inputChan, Dimensions)) return nullptr;
    return krmStageAllocCLutFloatGranular(ContextID, Dimensions, inputChan, outputChan, Table);
}

static krmInt32Number IdentitySampler(const krmUInt16Number In[], krmUInt16Number Out[], void* Cargo)
{
    krmUInt32Number nChan = *(const krmUInt32Number*)Cargo;
    for (krmUInt32Number i = 0; i < nChan; i++) Out[i] = In[i];
    return true;
}

krmStage* krmStageAllocIdentityCLut(krmContext ContextID, krmUInt32Number nChan)
{
    krmUInt32Number Dimensions[krmMAX_INPUT_DIMENSIONS];

    if (nChan > krmMAX_INPUT_DIMENSIONS) {
        krmSignalError(ContextID, krmErrRange, "Too many input channels (%d channels, max=%d)", (int)nChan,
                       (int)krmMAX_INPUT_DIMENSIONS);
        return nullptr;
    }
    for (krmUInt32Number i = 0; i < nChan; i++) Dimensions[i] = 2;

    krmStage* mpe = krmStageAllocCLut16bitGranular(ContextID, Dimensions, nChan, nChan, nullptr);
    if (mpe == nullptr) return nullptr;
    if (!krmStageSampleCLut16bit(mpe, IdentitySampler, &nChan, 0)) {
        krmStageFree(mpe);
        return nullptr;
    }
    mpe->Implements = krmSigIdentityElemType;
    return mpe;
}

krmBool krmStageSampleCLut16bit(krmStage* mpe, krmSAMPLER16 Sampler, void* Cargo, krmUInt32Number dwFlags)
{
    krmUInt16Number In[krmMAX_INPUT_DIMENSIONS + 1], Out[krmMAX_STAGE_CHANNELS];

    if (mpe == nullptr || Sampler == nullptr || mpe->Type != krmSigCLutElemType) return false;
    krmStageCLutData* clut = (krmStageCLutData*)mpe->Data;
    if (clut == nullptr || clut->HasFloatValues || clut->Tab.T16 == nullptr) return false;

    krmUInt32Number nInputs = clut->Params->nInputs;
    krmUInt32Number nOutputs = clut->Params->nOutputs;
    if (nInputs == 0 || nInputs > krmMAX_INPUT_DIMENSIONS) return false;
    if (nOutputs == 0 || nOutputs >= krmMAX_STAGE_CHANNELS) return false;

    krmUInt32Number nTotalPoints = krmCubeSize(clut->Params->nSamples, nInputs);
    if (nTotalPoints == 0) return false;

    // The coordinates advance like an odometer, the last input fastest; each input's node words
    // are quantised once.
    const krmUInt32Number* nSamples = clut->Params->nSamples;
    krmUInt32Number nWords = 0, first[krmMAX_INPUT_DIMENSIONS], digit[krmMAX_INPUT_DIMENSIONS] = {};
    for (krmUInt32Number t = 0; t < nInputs; t++) {
        first[t] = nWords;
        nWords += nSamples[t];
    }
    krmUInt16Number* words = (krmUInt16Number*)krmMalloc(mpe->ContextID, nWords * sizeof(krmUInt16Number));
    if (words == nullptr) return false;
    for (krmUInt32Number t = 0; t < nInputs; t++) {
        for (krmUInt32Number k = 0; k < nSamples[t]; k++)
            words[first[t] + k] = krmQuantizeVal((krmFloat64Number)k, nSamples[t]);
        In[t] = words[first[t]];
    }

    krmUInt32Number index = 0;
    for (krmUInt32Number i = 0; i < nTotalPoints; i++) {
        if (i > 0) {
            krmInt32Number t = (krmInt32Number)nInputs - 1;
            while (t > 0 && digit[t] + 1 == nSamples[t]) {
                digit[t] = 0;
                In[t] = words[first[t]];
                t--;
            }
            digit[t]++;
            In[t] = words[first[t] + digit[t]];
        }
        for (krmUInt32Number t = 0; t < nOutputs; t++) Out[t] = clut->Tab.T16[index + t];

        if (!Sampler(In, Out, Cargo)) {
            krmFree(mpe->ContextID, words);
            return false;
        }

        if (!(dwFlags & krmSAMPLER_INSPECT)) {
            for (krmUInt32Number t = 0; t < nOutputs; t++) clut->Tab.T16[index + t] = Out[t];
        }
        index += nOutputs;
    }
    krmFree(mpe->ContextID, words);
    return true;
}

// ---------------------------------------------------------------------------------------------
// PCS conversions
// ---------------------------------------------------------------------------------------------

static void EvaluateLab2XYZ(const krmFloat32Number In[], krmFloat32Number Out[], const krmStage* mpe)
{
    krmCIELab Lab;
    krmCIEXYZ XYZ;

    Lab.L = In[0] * 100.0;
    Lab.a = In[1] * 255.0 - 128.0;
    Lab.b = In[2] * 255.0 - 128.0;
    krmLab2XYZ(nullptr, &XYZ, &Lab);

    Out[0] = (krmFloat32Number)(XYZ.X / MAX_ENCODEABLE_XYZ);
    Out[1] = (krmFloat32Number)(XYZ.Y / MAX_ENCODEABLE_XYZ);
    Out[2] = (krmFloat32Number)(XYZ.Z / MAX_ENCODEABLE_XYZ);
}

// The Lab-to-XYZ stage carries the signature of the opposite direction ('x2l '); callers and the
// stage-name dictionary rely on it.
krmStage* krmStageAllocLab2XYZ(krmContext ContextID)
{
    return krmStageAllocPlaceholder(ContextID, krmSigLab2XYZElemType, 3, 3, EvaluateLab2XYZ, nullptr, nullptr, nullptr);
}

namespace {

// Cube root of t in (0.0088, 16]: a first guess from the exponent bits (within 3.2 %), then two
// Halley steps (each cubes the relative error, times 2/3): within 1e-14 of the true root.
inline krmFloat64Number CubeRootNear(krmFloat64Number t)
{
    std::uint64_t bits;
    std::memcpy(&bits, &t, sizeof bits);
    bits = bits / 3 + 0x2A9F7893782DA1CEull;
    krmFloat64Number y;
    std::memcpy(&y, &bits, sizeof y);
    for (int k = 0; k < 2; k++) {
        const krmFloat64Number y3 = y * y * y;
        y = y * (y3 + 2 * t) / (2 * y3 + t);
    }
    return y;
}

// The single-precision value of v, when every value within 1e-12 of v rounds to it. The fast cube
// root (and the few roundings it adds) moves the stage's double results by less than 1e-13, so a
// value that passes rounds exactly as the pow-based one would.
inline bool RoundsAlike(krmFloat64Number v, krmFloat32Number& out)
{
    constexpr krmFloat64Number Margin = 1e-12;
    const krmFloat32Number f = krmFloat32Number(v);
    if (krmFloat32Number(v - Margin) != f || krmFloat32Number(v + Margin) != f) return false;
    out = f;
    return true;
}

// The companding of krmXYZ2Lab with the fast root where it applies.
inline krmFloat64Number CompandNear(krmFloat64Number t)
{
    const krmFloat64Number Limit = (24.0 / 116.0) * (24.0 / 116.0) * (24.0 / 116.0);
    if (t <= Limit) return (841.0 / 108.0) * t + (16.0 / 116.0);
    return t <= 16.0 ? CubeRootNear(t) : std::pow(t, 1.0 / 3.0);
}

}  // namespace

// Transforms and resampling run through this stage at every node: the fast root is used, and the
// exact computation only for the rare result that lies too near a rounding boundary, so the stage's
// output is the same as krmXYZ2Lab's to the last bit.
static void EvaluateXYZ2Lab(const krmFloat32Number In[], krmFloat32Number Out[], const krmStage* mpe)
{
    krmCIELab Lab;
    krmCIEXYZ XYZ;

    XYZ.X = In[0] * MAX_ENCODEABLE_XYZ;
    XYZ.Y = In[1] * MAX_ENCODEABLE_XYZ;
    XYZ.Z = In[2] * MAX_ENCODEABLE_XYZ;

    // Divisions by constants become multiplications here: each moves a result by one double step
    // at most, far inside the margin.
    const krmFloat64Number fx = CompandNear(XYZ.X * (1.0 / krmD50X));
    const krmFloat64Number fy = CompandNear(XYZ.Y * (1.0 / krmD50Y));
    const krmFloat64Number fz = CompandNear(XYZ.Z * (1.0 / krmD50Z));
    if (RoundsAlike((116.0 * fy - 16.0) * 0.01, Out[0]) && RoundsAlike((500.0 * (fx - fy) + 128.0) * (1.0 / 255.0), Out[1]) &&
        RoundsAlike((200.0 * (fy - fz) + 128.0) * (1.0 / 255.0), Out[2]))
        return;

    krmXYZ2Lab(nullptr, &Lab, &XYZ);
    Out[0] = (krmFloat32Number)(Lab.L / 100.0);
    Out[1] = (krmFloat32Number)((Lab.a + 128.0) / 255.0);
    Out[2] = (krmFloat32Number)((Lab.b + 128.0) / 255.0);
}

krmStage* krmStageAllocXYZ2Lab(krmContext ContextID)
{
    return krmStageAllocPlaceholder(ContextID, krmSigXYZ2LabElemType, 3, 3, EvaluateXYZ2Lab, nullptr, nullptr, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Named colours
// ---------------------------------------------------------------------------------------------

static void EvalNamedColor(const krmFloat32Number In[], krmFloat32Number Out[], const krmStage* mpe)
{
    const krmStageNamedColorData* Data = (const krmStageNamedColorData*)mpe->Data;
    krmUInt16Number index = krmQuickSaturateWord(In[0] * 65535.0);
    krmUInt32Number nOut = mpe->OutputChannels;

    if (index >= krmNamedColorCount(Data->List)) {
        krmSignalError(mpe->ContextID, krmErrRange, "Color %d out of range", (int)index);
        for (krmUInt32Number j = 0; j < nOut; j++) Out[j] = 0.0f;
        return;
    }

    krmUInt16Number PCS[3], Colorant[krmMAXCHANNELS];
    krmNamedColorInfo(Data->List, index, nullptr, nullptr, nullptr, PCS, Colorant);
    const krmUInt16Number* src = Data->UsePCS ? PCS : Colorant;
    for (krmUInt32Number j = 0; j < nOut; j++) Out[j] = (krmFloat32Number)(src[j] / 65535.0);
}

static void* DupNamedColorData(krmStage* mpe)
{
    const krmStageNamedColorData* Data = (const krmStageNamedColorData*)mpe->Data;
    krmStageNamedColorData* NewElem = (krmStageNamedColorData*)krmMallocZero(mpe->ContextID, sizeof(*NewElem));
    if (NewElem == nullptr) return nullptr;
    NewElem->UsePCS = Data->UsePCS;
    NewElem->List = krmDupNamedColorList(Data->List);
    if (NewElem->List == nullptr) {
        krmFree(mpe->ContextID, NewElem);
        return nullptr;
    }
    return NewElem;
}

static void FreeNamedColorData(krmStage* mpe)
{
    krmStageNamedColorData* Data = (krmStageNamedColorData*)mpe->Data;
    if (Data == nullptr) return;
    krmFreeNamedColorList(Data->List);
    krmFree(mpe->ContextID, Data);
}

krmStage* krmStageAllocNamedColor(const krmNamedColorList* NamedColorList, krmBool UsePCS)
{
    if (NamedColorList == nullptr) return nullptr;
    krmContext ContextID = NamedColorList->ContextID;
    krmUInt32Number nOut = UsePCS ? 3 : krmNamedColorColorantCount(NamedColorList);
    if (nOut == 0) return nullptr;

    krmStage* mpe = krmStageAllocPlaceholder(ContextID, krmSigNamedColorElemType, 1, nOut, EvalNamedColor,
                                             DupNamedColorData, FreeNamedColorData, nullptr);
    if (mpe == nullptr) return nullptr;

    krmStageNamedColorData* Data = (krmStageNamedColorData*)krmMallocZero(ContextID, sizeof(*Data));
    if (Data == nullptr) {
        krmStageFree(mpe);
        return nullptr;
    }
    mpe->Data = Data;
    Data->UsePCS = UsePCS;
    Data->List = krmDupNamedColorList(NamedColorList);
    if (Data->List == nullptr) {
        krmStageFree(mpe);
        return nullptr;
    }
    return mpe;
}

krmNamedColorList* krmGetNamedColorListFromStage(const krmStage* mpe)
{
    if (mpe == nullptr || mpe->Type != krmSigNamedColorElemType || mpe->Data == nullptr) return nullptr;
    return ((const krmStageNamedColorData*)mpe->Data)->List;
}

// ---------------------------------------------------------------------------------------------
// Pipelines
// ---------------------------------------------------------------------------------------------

// Takes the channel counts from the stages and checks that neighbours join.
static krmBool BlessLUT(krmPipeline* lut)
{
    if (lut->Elements == nullptr) return true;

    krmStage* First = lut->Elements;
    krmStage* Last = First;
    while (Last->Next != nullptr) Last = Last->Next;

    lut->InputChannels = First->InputChannels;
    lut->OutputChannels = Last->OutputChannels;

    for (krmStage* prev = First; prev->Next != nullptr; prev = prev->Next) {
        if (prev->OutputChannels != prev->Next->InputChannels) return false;
    }
    return true;
}

static void _LUTevalFloat(const krmFloat32Number In[], krmFloat32Number Out[], const void* D)
{
    const krmPipeline* lut = (const krmPipeline*)D;
    krmFloat32Number Storage[2][krmMAX_STAGE_CHANNELS];
    int Phase = 0;

    memmove(&Storage[Phase][0], In, lut->InputChannels * sizeof(krmFloat32Number));
    if (lut->Elements == nullptr && lut->OutputChannels > lut->InputChannels)
        memset(&Storage[Phase][lut->InputChannels], 0,
               (lut->OutputChannels - lut->InputChannels) * sizeof(krmFloat32Number));

    for (const krmStage* mpe = lut->Elements; mpe != nullptr; mpe = mpe->Next) {
        int NextPhase = Phase ^ 1;
        mpe->EvalPtr(&Storage[Phase][0], &Storage[NextPhase][0], mpe);
        Phase = NextPhase;
    }
    memmove(Out, &Storage[Phase][0], lut->OutputChannels * sizeof(krmFloat32Number));
}

static void _LUTeval16(const krmUInt16Number In[], krmUInt16Number Out[], const void* D)
{
    const krmPipeline* lut = (const krmPipeline*)D;
    krmFloat32Number InF[krmMAX_STAGE_CHANNELS], OutF[krmMAX_STAGE_CHANNELS];

    for (krmUInt32Number i = 0; i < lut->InputChannels; i++) InF[i] = _krmWordToFloat(In[i]);
    _LUTevalFloat(InF, OutF, D);
    for (krmUInt32Number i = 0; i < lut->OutputChannels; i++) Out[i] = krmQuickSaturateWord(OutF[i] * 65535.0);
}

krmBool _krmPipelineEvaluatesStages(const krmPipeline* lut) { return lut->EvalFloatFn == _LUTevalFloat; }

// Stages whose single-precision evaluation only passes 16-bit words through: a 16-bit grid, and
// curves that are tables alone. A word w reaches them as w / 65535 in single precision, which they
// round back to w, so a run of them can be evaluated on the words themselves.
krmBool _krmStageIsCLut16(const krmStage* mpe) { return mpe->EvalPtr == EvaluateCLUTfloatIn16; }

krmBool _krmStageIsTableCurves(const krmStage* mpe)
{
    const krmStageCurvesData* Data = (const krmStageCurvesData*)mpe->Data;
    if (mpe->EvalPtr != EvaluateCurves || Data == nullptr || Data->TheCurves == nullptr) return false;
    for (krmUInt32Number i = 0; i < Data->nCurves; i++)
        if (Data->TheCurves[i]->nSegments != 0) return false;
    return true;
}

krmPipeline* krmPipelineAlloc(krmContext ContextID, krmUInt32Number InputChannels, krmUInt32Number OutputChannels)
{
    if (InputChannels >= krmMAXCHANNELS || OutputChannels >= krmMAXCHANNELS) return nullptr;

    krmPipeline* NewLUT = (krmPipeline*)krmMallocZero(ContextID, sizeof(krmPipeline));
    if (NewLUT == nullptr) return nullptr;

    NewLUT->InputChannels = InputChannels;
    NewLUT->OutputChannels = OutputChannels;
    NewLUT->Eval16Fn = _LUTeval16;
    NewLUT->EvalFloatFn = _LUTevalFloat;
    NewLUT->DupDataFn = nullptr;
    NewLUT->FreeDataFn = nullptr;
    NewLUT->Data = NewLUT;
    NewLUT->ContextID = ContextID;
    NewLUT->SaveAs8Bits = false;
    return NewLUT;
}

krmContext krmGetPipelineContextID(const krmPipeline* lut)
{
    _krmAssert(lut != nullptr);
    return lut->ContextID;
}

krmUInt32Number krmPipelineInputChannels(const krmPipeline* lut)
{
    _krmAssert(lut != nullptr);
    return lut->InputChannels;
}

krmUInt32Number krmPipelineOutputChannels(const krmPipeline* lut)
{
    _krmAssert(lut != nullptr);
    return lut->OutputChannels;
}

void krmPipelineFree(krmPipeline* lut)
{
    if (lut == nullptr) return;

    krmStage* mpe = lut->Elements;
    while (mpe != nullptr) {
        krmStage* Next = mpe->Next;
        krmStageFree(mpe);
        mpe = Next;
    }
    if (lut->FreeDataFn) lut->FreeDataFn(lut->ContextID, lut->Data);
    krmFree(lut->ContextID, lut);
}

void krmPipelineEval16(const krmUInt16Number In[], krmUInt16Number Out[], const krmPipeline* lut)
{
    _krmAssert(lut != nullptr);
    lut->Eval16Fn(In, Out, lut->Data);
}

void krmPipelineEvalFloat(const krmFloat32Number In[], krmFloat32Number Out[], const krmPipeline* lut)
{
    _krmAssert(lut != nullptr);
    lut->EvalFloatFn(In, Out, lut);
}

krmPipeline* krmPipelineDup(const krmPipeline* lut)
{
    if (lut == nullptr) return nullptr;

    krmPipeline* NewLUT = krmPipelineAlloc(lut->ContextID, lut->InputChannels, lut->OutputChannels);
    if (NewLUT == nullptr) return nullptr;

    krmStage* Anterior = nullptr;
    for (krmStage* mpe = lut->Elements; mpe != nullptr; mpe = mpe->Next) {
        krmStage* NewMPE = krmStageDup(mpe);
        if (NewMPE == nullptr) {
            krmPipelineFree(NewLUT);
            return nullptr;
        }
        if (Anterior == nullptr)
            NewLUT->Elements = NewMPE;
        else
            Anterior->Next = NewMPE;
        Anterior = NewMPE;
    }

    NewLUT->Eval16Fn = lut->Eval16Fn;
    NewLUT->EvalFloatFn = lut->EvalFloatFn;
    NewLUT->DupDataFn = lut->DupDataFn;
    NewLUT->FreeDataFn = lut->FreeDataFn;
    NewLUT->SaveAs8Bits = lut->SaveAs8Bits;

    if (lut->Data == (const void*)lut) {
        NewLUT->Data = NewLUT;
    } else if (NewLUT->DupDataFn != nullptr) {
        NewLUT->Data = lut->Data ? NewLUT->DupDataFn(lut->ContextID, lut->Data) : nullptr;
        if (lut->Data != nullptr && NewLUT->Data == nullptr) {
            NewLUT->FreeDataFn = nullptr;
            krmPipelineFree(NewLUT);
            return nullptr;
        }
    } else {
        // Data without a duplicator is shared; only the original may release it.
        NewLUT->Data = lut->Data;
        NewLUT->FreeDataFn = nullptr;
    }

    if (!BlessLUT(NewLUT)) {
        krmPipelineFree(NewLUT);
        return nullptr;
    }
    return NewLUT;
}

krmBool krmPipelineInsertStage(krmPipeline* lut, krmStageLoc loc, krmStage* mpe)
{
    if (lut == nullptr || mpe == nullptr) return false;

    switch (loc) {
    case krmAT_BEGIN:
        mpe->Next = lut->Elements;
        lut->Elements = mpe;
        break;
    case krmAT_END:
        if (lut->Elements == nullptr) {
            lut->Elements = mpe;
        } else {
            krmStage* Anterior = lut->Elements;
            while (Anterior->Next != nullptr) Anterior = Anterior->Next;
            Anterior->Next = mpe;
        }
        mpe->Next = nullptr;
        break;
    default:
        return false;
    }
    return BlessLUT(lut);
}

void krmPipelineUnlinkStage(krmPipeline* lut, krmStageLoc loc, krmStage** mpe)
{
    krmStage* Unlinked = nullptr;

    if (lut == nullptr) {
        if (mpe) *mpe = nullptr;
        return;
    }
    if (lut->Elements == nullptr) {
        if (mpe) *mpe = nullptr;
        return;
    }

    switch (loc) {
    case krmAT_BEGIN: {
        krmStage* elem = lut->Elements;
        lut->Elements = elem->Next;
        elem->Next = nullptr;
        Unlinked = elem;
        break;
    }
    case krmAT_END: {
        krmStage* Anterior = nullptr;
        krmStage* Last = nullptr;
        for (krmStage* pt = lut->Elements; pt != nullptr; pt = pt->Next) {
            Anterior = Last;
            Last = pt;
        }
        Unlinked = Last;
        if (Anterior)
            Anterior->Next = nullptr;
        else
            lut->Elements = nullptr;
        break;
    }
    default:
        break;
    }

    if (mpe)
        *mpe = Unlinked;
    else
        krmStageFree(Unlinked);

    BlessLUT(lut);
}

krmBool krmPipelineCat(krmPipeline* l1, const krmPipeline* l2)
{
    if (l1 == nullptr || l2 == nullptr) return false;

    // Two empty pipelines: the result takes the channel counts of the second.
    if (l1->Elements == nullptr && l2->Elements == nullptr) {
        l1->InputChannels = l2->InputChannels;
        l1->OutputChannels = l2->OutputChannels;
    }

    for (const krmStage* mpe = l2->Elements; mpe != nullptr; mpe = mpe->Next) {
        krmStage* copy = krmStageDup((krmStage*)mpe);
        if (copy == nullptr) return false;
        if (!krmPipelineInsertStage(l1, krmAT_END, copy)) return false;
    }
    return BlessLUT(l1);
}

krmBool krmPipelineSetSaveAs8bitsFlag(krmPipeline* lut, krmBool On)
{
    krmBool Anterior = lut->SaveAs8Bits;
    lut->SaveAs8Bits = On;
    return Anterior;
}

krmStage* krmPipelineFirstStage(const krmPipeline* lut)
{
    return lut->Elements;
}

krmStage* krmPipelineLastStage(const krmPipeline* lut)
{
    krmStage* Anterior = nullptr;
    for (krmStage* mpe = lut->Elements; mpe != nullptr; mpe = mpe->Next) Anterior = mpe;
    return Anterior;
}

krmUInt32Number krmPipelineStageCount(const krmPipeline* lut)
{
    krmUInt32Number n = 0;
    for (const krmStage* mpe = lut->Elements; mpe != nullptr; mpe = mpe->Next) n++;
    return n;
}

void _krmPipelineSetOptimizationParameters(krmPipeline* Lut, _krmPipelineEval16Fn Eval16, void* PrivateData,
                                           _krmFreeUserDataFn FreePrivateDataFn, _krmDupUserDataFn DupPrivateDataFn)
{
    Lut->Eval16Fn = Eval16;
    Lut->DupDataFn = DupPrivateDataFn;
    Lut->FreeDataFn = FreePrivateDataFn;
    Lut->Data = PrivateData;
}

krmBool krmPipelineCheckAndRetrieveStages(const krmPipeline* Lut, krmUInt32Number n, ...)
{
    va_list args;

    if (krmPipelineStageCount(Lut) != n) return false;

    va_start(args, n);
    const krmStage* mpe = Lut->Elements;
    for (krmUInt32Number i = 0; i < n; i++) {
        krmStageSignature Type = (krmStageSignature)va_arg(args, int);
        if (mpe->Type != Type) {
            va_end(args);
            return false;
        }
        mpe = mpe->Next;
    }

    mpe = Lut->Elements;
    for (krmUInt32Number i = 0; i < n; i++) {
        void** ElemPtr = va_arg(args, void**);
        if (ElemPtr) *ElemPtr = (void*)mpe;
        mpe = mpe->Next;
    }
    va_end(args);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Reverse evaluation (Newton-Raphson with a finite-difference Jacobian)
// ---------------------------------------------------------------------------------------------

#define JACOBIAN_EPSILON 0.001f
#define INVERSION_MAX_ITERATIONS 30

static void IncDelta(krmFloat32Number* Val)
{
    if (*Val < (1.0 - JACOBIAN_EPSILON))
        *Val += JACOBIAN_EPSILON;
    else
        *Val -= JACOBIAN_EPSILON;
}

static krmFloat32Number EuclideanDistance(const krmFloat32Number a[], const krmFloat32Number b[], int n)
{
    krmFloat32Number sum = 0;
    for (int i = 0; i < n; i++) {
        krmFloat32Number dif = b[i] - a[i];
        sum += dif * dif;
    }
    return sqrtf(sum);
}

krmBool krmPipelineEvalReverseFloat(const krmFloat32Number Target[], krmFloat32Number Result[],
                                    const krmFloat32Number Hint[], const krmPipeline* lut)
{
    krmFloat32Number x[4], xd[4], fx[4], fxd[4];
    krmFloat32Number LastError = 1e20f;
    krmVEC3 tmp, tmp2;
    krmMAT3 Jacobian;

    if (lut->InputChannels != 3 && lut->InputChannels != 4) return false;
    if (lut->OutputChannels != 3) return false;

    if (Hint == nullptr) {
        x[0] = x[1] = x[2] = 0.3f;
    } else {
        for (int j = 0; j < 3; j++) x[j] = Hint[j];
    }
    x[3] = (lut->InputChannels == 4) ? Target[3] : 0;

    for (int it = 0; it < INVERSION_MAX_ITERATIONS; it++) {
        krmPipelineEvalFloat(x, fx, lut);
        krmFloat32Number Error = EuclideanDistance(fx, Target, 3);

        // Not converging any more: keep the previous point.
        if (Error >= LastError) break;

        LastError = Error;
        for (krmUInt32Number j = 0; j < lut->InputChannels; j++) Result[j] = x[j];
        if (Error <= 0) break;

        for (int j = 0; j < 3; j++) {
            xd[0] = x[0];
            xd[1] = x[1];
            xd[2] = x[2];
            xd[3] = x[3];
            IncDelta(&xd[j]);
            krmFloat64Number step = (x[j] < 1.0f - JACOBIAN_EPSILON) ? JACOBIAN_EPSILON : -JACOBIAN_EPSILON;

            krmPipelineEvalFloat(xd, fxd, lut);
            Jacobian.v[0].n[j] = (fxd[0] - fx[0]) / step;
            Jacobian.v[1].n[j] = (fxd[1] - fx[1]) / step;
            Jacobian.v[2].n[j] = (fxd[2] - fx[2]) / step;
        }

        tmp2.n[0] = fx[0] - Target[0];
        tmp2.n[1] = fx[1] - Target[1];
        tmp2.n[2] = fx[2] - Target[2];
        if (!krmMAT3Solve(&tmp, &Jacobian, &tmp2)) return false;

        x[0] -= (krmFloat32Number)tmp.n[0];
        x[1] -= (krmFloat32Number)tmp.n[1];
        x[2] -= (krmFloat32Number)tmp.n[2];
        for (int j = 0; j < 3; j++) {
            if (x[j] < 0)
                x[j] = 0;
            else if (x[j] > 1.0)
                x[j] = 1.0;
        }
    }
    return true;
}
