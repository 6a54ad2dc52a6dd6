// Pipeline optimisation: removal of stages that cancel, and faster 16-bit evaluators for 8- and
// 16-bit formats (joined curves, an integer matrix-shaper, prelinearised or plain resampled CLUTs).
#include "krm_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr krmUInt32Number kAbsoluteColorimetric = 3;
constexpr krmUInt32Number kPrelinEntries = 4096;

// ---------------------------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------------------------

// The ICC signature of a format's colour-space code, 0 for "any".
krmColorSpaceSignature SignatureOfCode(krmUInt32Number code)
{
    static constexpr krmColorSpaceSignature kByCode[] = {
        0,             krmSig("GRAY"), krmSig("RGB "), krmSig("GRAY"), krmSig("RGB "),
        krmSig("CMY "), krmSig("CMYK"), krmSig("YCbr"), krmSig("Luv "), krmSig("XYZ "),
        krmSig("Lab "), krmSig("LuvK"), krmSig("HSV "), krmSig("HLS "), krmSig("Yxy ")};
    if (code < sizeof(kByCode) / sizeof(kByCode[0])) return kByCode[code];
    if (code >= krmPT_MCH1 && code <= krmPT_MCH15) {
        const krmUInt32Number n = code - 14;  // 1..15
        const char digit = char(n < 10 ? '0' + n : 'A' + n - 10);
        return (krmUInt32Number(krmUInt8Number(digit)) << 24) | (krmSig("xCLR") & 0xFFFFFFu);
    }
    if (code == krmPT_LabV2) return krmSig("Lab ");
    return 0;
}

void FreeStage(krmStage* s)
{
    if (s) krmStageFree(s);
}

// Unlinks every stage of a pipeline after the one given (or from the start).
void RemoveStage(krmPipeline* Lut, krmStage** link)
{
    krmStage* s = *link;
    *link = s->Next;
    s->Next = nullptr;
    krmStageFree(s);
}

bool IsEmpty(const krmPipeline* Lut) { return Lut->Elements == nullptr; }

krmStageToneCurvesData* CurvesOf(const krmStage* s) { return static_cast<krmStageToneCurvesData*>(s->Data); }
krmStageCLutData* CLutOf(const krmStage* s) { return static_cast<krmStageCLutData*>(s->Data); }
krmStageMatrixData* MatrixOf(const krmStage* s) { return static_cast<krmStageMatrixData*>(s->Data); }

bool AllCurvesAreLinear(const krmStage* s)
{
    const krmStageToneCurvesData* d = CurvesOf(s);
    for (krmUInt32Number i = 0; i < d->nCurves; i++)
        if (!krmIsToneCurveLinear(d->TheCurves[i])) return false;
    return true;
}

// A table with one 0 and one 65535 is a plain ramp; otherwise more than a twentieth of entries
// stuck at either end means the curve has collapsed.
bool IsDegenerated(const krmUInt16Number* table, krmUInt32Number n)
{
    krmUInt32Number zeros = 0, poles = 0;
    for (krmUInt32Number i = 0; i < n; i++) {
        if (table[i] == 0) zeros++;
        if (table[i] == 0xFFFF) poles++;
    }
    if (zeros == 1 && poles == 1) return false;
    return zeros > n / 20 || poles > n / 20;
}

bool IsDegeneratedCurve(const krmToneCurve* c)
{
    return IsDegenerated(krmGetToneCurveEstimatedTable(c), krmGetToneCurveEstimatedTableEntries(c));
}

// Samples the pipeline in single precision on a grey ramp: one 4096-entry word table per output.
void SampleGreyRamp(const krmPipeline* Lut, krmUInt32Number nChans, krmUInt16Number (*tables)[kPrelinEntries])
{
    krmFloat32Number in[krmMAX_STAGE_CHANNELS], out[krmMAX_STAGE_CHANNELS];
    for (krmUInt32Number i = 0; i < kPrelinEntries; i++) {
        for (krmUInt32Number j = 0; j < Lut->InputChannels; j++)
            in[j] = krmFloat32Number(i / krmFloat64Number(kPrelinEntries - 1));
        krmPipelineEvalFloat(in, out, Lut);
        for (krmUInt32Number j = 0; j < nChans; j++) tables[j][i] = krmQuickSaturateWord(out[j] * 65535.0);
    }
}

krmStage* CurveStageFromTables(krmContext ctx, krmUInt32Number n, krmUInt16Number (*tables)[kPrelinEntries])
{
    krmToneCurve* curves[krmMAXCHANNELS] = {};
    bool ok = true;
    for (krmUInt32Number i = 0; i < n && ok; i++) {
        curves[i] = krmBuildTabulatedToneCurve16(ctx, kPrelinEntries, tables[i]);
        ok = curves[i] != nullptr;
    }
    krmStage* s = ok ? krmStageAllocToneCurves(ctx, n, curves) : nullptr;
    for (krmUInt32Number i = 0; i < n; i++) krmFreeToneCurve(curves[i]);
    return s;
}

void ReplacePipeline(krmPipeline** PtrLut, krmPipeline* NewLut)
{
    krmPipelineFree(*PtrLut);
    *PtrLut = NewLut;
}

// Private data of the replacement evaluators is plain memory, copied and freed as such.
template <class T>
void FreePlain(krmContext ctx, void* data)
{
    krmFree(ctx, data);
}
template <class T>
void* DupPlain(krmContext ctx, const void* data)
{
    return krmDupMem(ctx, data, sizeof(T));
}

// ---------------------------------------------------------------------------------------------
// Fast identity
// ---------------------------------------------------------------------------------------------

void FastIdentity16(const krmUInt16Number In[], krmUInt16Number Out[], const void* Data)
{
    const krmPipeline* lut = static_cast<const krmPipeline*>(Data);
    std::memcpy(Out, In, lut->InputChannels * sizeof(krmUInt16Number));
}

bool SetFastIdentity(krmPipeline* Lut)
{
    _krmPipelineSetOptimizationParameters(Lut, FastIdentity16, Lut, nullptr, nullptr);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Pre-optimisation
// ---------------------------------------------------------------------------------------------

bool RemoveIdentities(krmPipeline* Lut)
{
    bool any = false;
    krmStage** link = &Lut->Elements;
    while (*link) {
        if (krmStageImplements(*link) == krmSigIdentityElemType) {
            RemoveStage(Lut, link);
            any = true;
        } else
            link = &(*link)->Next;
    }
    return any;
}

bool RemovePairs(krmPipeline* Lut, krmStageSignature Op1, krmStageSignature Op2)
{
    bool any = false;
    krmStage** link = &Lut->Elements;
    while (*link && (*link)->Next) {
        if (krmStageImplements(*link) == Op1 && krmStageImplements((*link)->Next) == Op2) {
            RemoveStage(Lut, link);
            RemoveStage(Lut, link);
            any = true;
        } else
            link = &(*link)->Next;
    }
    return any;
}

bool JoinMatrices(krmPipeline* Lut)
{
    bool any = false;
    krmStage** link = &Lut->Elements;
    while (*link && (*link)->Next) {
        krmStage* m1 = *link;
        krmStage* m2 = m1->Next;
        if (krmStageImplements(m1) != krmSigMatrixElemType || krmStageImplements(m2) != krmSigMatrixElemType) {
            link = &m1->Next;
            continue;
        }
        const krmStageMatrixData* d1 = MatrixOf(m1);
        const krmStageMatrixData* d2 = MatrixOf(m2);
        if (d1->Offset || d2->Offset || m1->InputChannels != 3 || m1->OutputChannels != 3 || m2->InputChannels != 3 ||
            m2->OutputChannels != 3)
            return false;

        // The second applied after the first: second x first.
        krmFloat64Number r[9];
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 3; j++) {
                krmFloat64Number s = 0;
                for (int k = 0; k < 3; k++) s += d2->Double[i * 3 + k] * d1->Double[k * 3 + j];
                r[i * 3 + j] = s;
            }
        bool identity = true;
        for (int i = 0; i < 9; i++) {
            const krmFloat32Number expected = (i % 4 == 0) ? 1.0f : 0.0f;
            if (std::fabs(krmFloat32Number(r[i]) - expected) > 1e-5f) identity = false;
        }

        krmStage* product = identity ? nullptr : krmStageAllocMatrix(Lut->ContextID, 3, 3, r, nullptr);
        if (!identity && !product) return any;
        RemoveStage(Lut, link);
        RemoveStage(Lut, link);
        if (product) {
            product->Next = *link;
            *link = product;
        }
        any = true;
    }
    return any;
}

bool PreOptimize(krmPipeline* Lut)
{
    bool anyOpt = false, opt;
    do {
        opt = RemoveIdentities(Lut);
        opt |= RemovePairs(Lut, krmSigXYZ2LabElemType, krmSigLab2XYZElemType);
        opt |= RemovePairs(Lut, krmSigLab2XYZElemType, krmSigXYZ2LabElemType);
        opt |= RemovePairs(Lut, krmSigLabV4toV2, krmSigLabV2toV4);
        opt |= RemovePairs(Lut, krmSigLabV2toV4, krmSigLabV4toV2);
        opt |= RemovePairs(Lut, krmSigLab2FloatPCS, krmSigFloatPCS2Lab);
        opt |= RemovePairs(Lut, krmSigXYZ2FloatPCS, krmSigFloatPCS2XYZ);
        opt |= JoinMatrices(Lut);
        anyOpt |= opt;
    } while (opt);
    return anyOpt;
}

// ---------------------------------------------------------------------------------------------
// White fix-up
// ---------------------------------------------------------------------------------------------

bool PatchLUT(krmStage* CLUT, const krmUInt16Number At[], const krmUInt16Number Value[], krmUInt32Number nChannelsOut,
              krmUInt32Number nChannelsIn)
{
    if (CLUT->Type != krmSigCLutElemType) {
        krmSignalError(CLUT->ContextID, krmErrInternal, "(internal) Attempt to PatchLUT on non-lut stage");
        return false;
    }
    krmStageCLutData* grid = CLutOf(CLUT);
    if (grid->HasFloatValues) return false;
    const krmInterpParams* p16 = grid->Params;
    if (nChannelsIn != 1 && nChannelsIn != 3 && nChannelsIn != 4) {
        krmSignalError(CLUT->ContextID, krmErrInternal, "(internal) %d Channels are not supported on PatchLUT",
                       int(nChannelsIn));
        return false;
    }

    // Only a white that falls exactly on a node can be patched.
    krmUInt32Number index = 0;
    for (krmUInt32Number i = 0; i < nChannelsIn; i++) {
        const krmFloat64Number px = (krmFloat64Number(At[i]) * p16->Domain[i]) / 65535.0;
        const krmFloat64Number x0 = std::floor(px);
        if (px - x0 != 0) return false;
        index += p16->opta[nChannelsIn - 1 - i] * krmUInt32Number(x0);
    }
    for (krmUInt32Number i = 0; i < nChannelsOut; i++) grid->Tab.T16[index + i] = Value[i];
    return true;
}

bool FixWhiteMisalignment(krmPipeline* Lut, krmColorSpaceSignature EntryColorSpace,
                          krmColorSpaceSignature ExitColorSpace)
{
    const krmUInt16Number *whiteIn, *whiteOut;
    krmUInt32Number nIns, nOuts;
    if (!krmEndPointsBySpace(EntryColorSpace, &whiteIn, nullptr, &nIns)) return false;
    if (!krmEndPointsBySpace(ExitColorSpace, &whiteOut, nullptr, &nOuts)) return false;
    if (Lut->InputChannels != nIns || Lut->OutputChannels != nOuts) return false;

    krmUInt16Number obtained[krmMAX_STAGE_CHANNELS];
    krmPipelineEval16(whiteIn, obtained, Lut);
    bool equal = true;
    for (krmUInt32Number i = 0; i < nOuts; i++) {
        if (std::abs(int(obtained[i]) - int(whiteOut[i])) > 0xF000) return true;  // too far off to be a slip
        if (obtained[i] != whiteOut[i]) equal = false;
    }
    if (equal) return true;

    krmStage *preLin = nullptr, *clut = nullptr, *postLin = nullptr;
    if (!krmPipelineCheckAndRetrieveStages(Lut, 3, int(krmSigCurveSetElemType), int(krmSigCLutElemType),
                                           int(krmSigCurveSetElemType), &preLin, &clut, &postLin) &&
        !krmPipelineCheckAndRetrieveStages(Lut, 2, int(krmSigCurveSetElemType), int(krmSigCLutElemType), &preLin,
                                           &clut) &&
        !krmPipelineCheckAndRetrieveStages(Lut, 2, int(krmSigCLutElemType), int(krmSigCurveSetElemType), &clut,
                                           &postLin) &&
        !krmPipelineCheckAndRetrieveStages(Lut, 1, int(krmSigCLutElemType), &clut))
        return false;

    krmUInt16Number at[krmMAXCHANNELS], value[krmMAX_STAGE_CHANNELS];
    for (krmUInt32Number i = 0; i < nIns; i++)
        at[i] = preLin ? krmEvalToneCurve16(CurvesOf(preLin)->TheCurves[i], whiteIn[i]) : whiteIn[i];
    for (krmUInt32Number i = 0; i < nOuts; i++) {
        value[i] = whiteOut[i];
        if (!postLin) continue;
        krmToneCurve* inverse = krmReverseToneCurveEx(kPrelinEntries, CurvesOf(postLin)->TheCurves[i]);
        if (!inverse) continue;
        value[i] = krmEvalToneCurve16(inverse, whiteOut[i]);
        krmFreeToneCurve(inverse);
    }
    return PatchLUT(clut, at, value, nOuts, nIns);
}

// ---------------------------------------------------------------------------------------------
// Resampled CLUTs
// ---------------------------------------------------------------------------------------------

krmInt32Number XFormSampler16(const krmUInt16Number In[], krmUInt16Number Out[], void* Cargo)
{
    const krmPipeline* Lut = static_cast<const krmPipeline*>(Cargo);
    krmFloat32Number inF[krmMAX_STAGE_CHANNELS], outF[krmMAX_STAGE_CHANNELS];
    for (krmUInt32Number i = 0; i < Lut->InputChannels; i++) inF[i] = krmFloat32Number(In[i] / 65535.0);
    krmPipelineEvalFloat(inF, outF, Lut);
    for (krmUInt32Number i = 0; i < Lut->OutputChannels; i++) Out[i] = krmQuickSaturateWord(outF[i] * 65535.0);
    return 1;
}

// The resampling evaluates the pipeline at every node, in the order and with the words
// krmStageSampleCLut16bit gives XFormSampler16, and every node gets the same words as through it.
// Two shortcuts make it several times faster:
// - a leading set of curves only ever sees the few coordinates of the grid's nodes on each input:
//   its outputs are computed once per coordinate;
// - trailing 16-bit grids and table curves only pass words through (their single-precision
//   evaluation rounds w / 65535 back to w): they run on the words, as the optimised transform does.
struct ResamplePlan {
    krmUInt32Number nInputs, nOutputs;
    krmUInt32Number nSamples[krmMAX_INPUT_DIMENSIONS];
    krmUInt16Number Node[krmMAX_INPUT_DIMENSIONS][256];    // each node coordinate's word
    krmFloat32Number First[krmMAX_INPUT_DIMENSIONS][256];  // the first stage's input or output there
    const krmStage* Float;  // first stage run in single precision
    const krmStage* Words;  // first stage run on words, null for none
};

// The trailing run of stages that can be evaluated on words, not before `from`.
const krmStage* WordTail(const krmStage* from)
{
    const krmStage* tail = nullptr;
    for (const krmStage* s = from; s; s = s->Next) {
        if (_krmStageIsCLut16(s) || _krmStageIsTableCurves(s)) {
            if (!tail) tail = s;
        } else {
            tail = nullptr;
        }
    }
    return tail;
}

// Runs the word stages from s on n nodes, `stride` words apart, each stage over all of them.
void EvalOnWords(const krmStage* s, krmUInt16Number* w, krmUInt32Number n, krmUInt32Number stride)
{
    krmUInt16Number out[krmMAX_STAGE_CHANNELS];
    for (; s; s = s->Next) {
        if (s->Type == krmSigCLutElemType) {
            const krmInterpParams* p = CLutOf(s)->Params;
            for (krmUInt32Number k = 0; k < n; k++) {
                krmUInt16Number* v = w + k * stride;
                _krmInterpEval16(p, v, out);
                for (krmUInt32Number i = 0; i < s->OutputChannels; i++) v[i] = out[i];
            }
        } else {
            const krmStageToneCurvesData* c = CurvesOf(s);
            for (krmUInt32Number k = 0; k < n; k++)
                for (krmUInt32Number i = 0; i < c->nCurves; i++)
                    w[k * stride + i] = _krmInterpEval1Input16(c->TheCurves[i]->InterpParams, w[k * stride + i]);
        }
    }
}

// Samples Lut into a 16-bit CLUT stage, as krmStageSampleCLut16bit with XFormSampler16 would.
bool SampleThrough(krmStage* clut, const krmPipeline* Lut)
{
    const krmInterpParams* params = CLutOf(clut)->Params;
    bool planned = _krmPipelineEvaluatesStages(Lut) && params->nInputs == Lut->InputChannels &&
                   params->nOutputs == Lut->OutputChannels && params->nInputs <= krmMAX_INPUT_DIMENSIONS &&
                   (Lut->Elements || Lut->InputChannels == Lut->OutputChannels) &&
                   krmCubeSize(params->nSamples, params->nInputs) > 0;
    for (krmUInt32Number i = 0; planned && i < params->nInputs; i++)
        planned = params->nSamples[i] >= 2 && params->nSamples[i] <= 256;
    if (!planned) return krmStageSampleCLut16bit(clut, XFormSampler16, const_cast<krmPipeline*>(Lut), 0);

    ResamplePlan* plan = static_cast<ResamplePlan*>(krmMallocZero(Lut->ContextID, sizeof(ResamplePlan)));
    if (!plan) return false;
    plan->nInputs = params->nInputs;
    plan->nOutputs = params->nOutputs;
    const krmStage* first = Lut->Elements;
    // Each curve depends on its own input only: one evaluation per coordinate and input.
    const bool memo = first && first->Type == krmSigCurveSetElemType && first->InputChannels == first->OutputChannels;
    plan->Float = memo ? first->Next : first;
    plan->Words = WordTail(plan->Float);
    krmFloat32Number in[krmMAX_STAGE_CHANNELS] = {}, out[krmMAX_STAGE_CHANNELS];
    for (krmUInt32Number i = 0; i < plan->nInputs; i++) {
        plan->nSamples[i] = params->nSamples[i];
        for (krmUInt32Number g = 0; g < params->nSamples[i]; g++) {
            plan->Node[i][g] = krmQuantizeVal(g, params->nSamples[i]);
            in[i] = krmFloat32Number(plan->Node[i][g] / 65535.0);
            if (memo) first->EvalPtr(in, out, first);
            plan->First[i][g] = memo ? out[i] : in[i];
        }
        in[i] = 0;
    }

    // The nodes in krmStageSampleCLut16bit's order, the last input fastest, a row of the last input
    // at a time: each stage runs over the row's nodes before the next, so the nodes' long chains of
    // arithmetic overlap instead of waiting on each other.
    krmUInt32Number stride = std::max(plan->nInputs, plan->nOutputs);
    for (const krmStage* s = Lut->Elements; s; s = s->Next)
        stride = std::max({stride, s->InputChannels, s->OutputChannels});
    const krmUInt32Number last = plan->nInputs - 1, rowLength = plan->nSamples[last];
    krmFloat32Number* row[2];
    // Two rows of single-precision values and one of words.
    row[0] = static_cast<krmFloat32Number*>(krmMalloc(Lut->ContextID, 3 * rowLength * stride * sizeof(krmFloat32Number)));
    if (!row[0]) {
        krmFree(Lut->ContextID, plan);
        return false;
    }
    row[1] = row[0] + rowLength * stride;

    krmUInt16Number* table = CLutOf(clut)->Tab.T16;
    const krmUInt32Number rows = krmCubeSize(params->nSamples, plan->nInputs) / rowLength;
    krmUInt32Number digit[krmMAX_INPUT_DIMENSIONS] = {};
    krmUInt16Number* words = reinterpret_cast<krmUInt16Number*>(row[1] + rowLength * stride);
    for (krmUInt32Number r = 0; r < rows; r++) {
        for (krmUInt32Number k = 0; k < rowLength; k++) {
            krmFloat32Number* v = row[0] + k * stride;
            for (krmUInt32Number i = 0; i < last; i++) v[i] = plan->First[i][digit[i]];
            v[last] = plan->First[last][k];
        }
        int phase = 0;
        for (const krmStage* s = plan->Float; s != plan->Words; s = s->Next, phase ^= 1)
            for (krmUInt32Number k = 0; k < rowLength; k++) s->EvalPtr(row[phase] + k * stride, row[phase ^ 1] + k * stride, s);
        if (plan->Words) {
            for (krmUInt32Number k = 0; k < rowLength; k++)
                for (krmUInt32Number i = 0; i < plan->Words->InputChannels; i++)
                    words[k * stride + i] = krmQuickSaturateWord(row[phase][k * stride + i] * 65535.0);
            EvalOnWords(plan->Words, words, rowLength, stride);
            for (krmUInt32Number k = 0; k < rowLength; k++, table += plan->nOutputs)
                for (krmUInt32Number i = 0; i < plan->nOutputs; i++) table[i] = words[k * stride + i];
        } else {
            for (krmUInt32Number k = 0; k < rowLength; k++, table += plan->nOutputs)
                for (krmUInt32Number i = 0; i < plan->nOutputs; i++) table[i] = krmQuickSaturateWord(row[phase][k * stride + i] * 65535.0);
        }
        for (krmInt32Number i = krmInt32Number(last) - 1; i >= 0 && ++digit[i] == plan->nSamples[i]; i--) digit[i] = 0;
    }
    krmFree(Lut->ContextID, row[0]);
    krmFree(Lut->ContextID, plan);
    return true;
}

// Curves in (optional), CLUT, curves out (optional), each through its 16-bit table. The data is
// the pipeline itself, so a copy of the pipeline evaluates its own stages.
void StagedCLUTEval16(const krmUInt16Number In[], krmUInt16Number Out[], const void* Data)
{
    const krmPipeline* lut = static_cast<const krmPipeline*>(Data);
    const krmStage* s = lut->Elements;
    const krmStage* pre = nullptr;
    if (s->Type == krmSigCurveSetElemType) {
        pre = s;
        s = s->Next;
    }
    const krmStage* clut = s;
    const krmStage* post = clut->Next;
    const krmInterpParams* params = CLutOf(clut)->Params;

    krmUInt16Number tmpIn[krmMAXCHANNELS], tmpOut[krmMAX_STAGE_CHANNELS];
    const krmUInt16Number* clutIn = In;
    if (pre) {
        const krmStageToneCurvesData* c = CurvesOf(pre);
        for (krmUInt32Number i = 0; i < c->nCurves; i++) tmpIn[i] = krmEvalToneCurve16(c->TheCurves[i], In[i]);
        clutIn = tmpIn;
    }
    if (!post) {
        _krmInterpEval16(params, clutIn, Out);
        return;
    }
    _krmInterpEval16(params, clutIn, tmpOut);
    const krmStageToneCurvesData* c = CurvesOf(post);
    for (krmUInt32Number i = 0; i < c->nCurves; i++) Out[i] = krmEvalToneCurve16(c->TheCurves[i], tmpOut[i]);
}

void SetStagedCLUTEvaluator(krmPipeline* Lut) { _krmPipelineSetOptimizationParameters(Lut, StagedCLUTEval16, Lut, nullptr, nullptr); }

bool OptimizeByResampling(krmPipeline** PtrLut, krmUInt32Number Intent, krmUInt32Number* InputFormat,
                          krmUInt32Number* OutputFormat, krmUInt32Number* dwFlags)
{
    if (krmT_FLOAT(*InputFormat) || krmT_FLOAT(*OutputFormat)) return false;
    const krmColorSpaceSignature inSpace = SignatureOfCode(krmT_COLORSPACE(*InputFormat));
    const krmColorSpaceSignature outSpace = SignatureOfCode(krmT_COLORSPACE(*OutputFormat));
    if (inSpace == 0 || outSpace == 0) return false;

    // 16-bit Lab would lose precision on a grid.
    const krmUInt32Number inCode = krmT_COLORSPACE(*InputFormat);
    if ((inCode == krmPT_Lab || inCode == krmPT_LabV2) && krmT_BYTES(*InputFormat) == 2 &&
        !(*dwFlags & krmFlagForceCLUT))
        return false;

    krmPipeline* src = *PtrLut;
    krmContext ctx = src->ContextID;
    const krmUInt32Number nGridPoints = IsEmpty(src) ? 2 : krmReasonableGridpoints(inSpace, *dwFlags);

    krmStage *preLin = nullptr, *postLin = nullptr;
    if ((*dwFlags & krmFlagCLUTPreLinearization) && src->Elements &&
        src->Elements->Type == krmSigCurveSetElemType && !AllCurvesAreLinear(src->Elements))
        krmPipelineUnlinkStage(src, krmAT_BEGIN, &preLin);
    if ((*dwFlags & krmFlagCLUTPostLinearization) && krmPipelineLastStage(src) &&
        krmPipelineLastStage(src)->Type == krmSigCurveSetElemType && !AllCurvesAreLinear(krmPipelineLastStage(src)))
        krmPipelineUnlinkStage(src, krmAT_END, &postLin);

    auto putBack = [&]() {
        if (preLin) krmPipelineInsertStage(src, krmAT_BEGIN, preLin);
        if (postLin) krmPipelineInsertStage(src, krmAT_END, postLin);
        return false;
    };

    const krmUInt32Number nIn = preLin ? preLin->InputChannels : src->InputChannels;
    const krmUInt32Number nOut = postLin ? postLin->OutputChannels : src->OutputChannels;
    const krmUInt32Number clutIn = IsEmpty(src) ? nIn : src->InputChannels;
    const krmUInt32Number clutOut = IsEmpty(src) ? nOut : src->OutputChannels;

    krmPipeline* dest = krmPipelineAlloc(ctx, nIn, nOut);
    if (!dest) return putBack();
    krmStage* clut = krmStageAllocCLut16bit(ctx, nGridPoints, clutIn, clutOut, nullptr);
    if (!clut || !krmPipelineInsertStage(dest, krmAT_END, clut) ||
        !SampleThrough(clut, src)) {
        krmPipelineFree(dest);
        return putBack();
    }
    if (preLin && !krmPipelineInsertStage(dest, krmAT_BEGIN, preLin)) {
        preLin = nullptr;  // the destination took it
        krmPipelineFree(dest);
        return putBack();
    }
    if (postLin && !krmPipelineInsertStage(dest, krmAT_END, postLin)) {
        postLin = nullptr;
        krmPipelineFree(dest);
        return putBack();
    }

    if (Intent == kAbsoluteColorimetric) *dwFlags |= krmFlagNoWhiteOnWhiteFixup;
    if (!(*dwFlags & krmFlagNoWhiteOnWhiteFixup)) FixWhiteMisalignment(dest, inSpace, outSpace);

    SetStagedCLUTEvaluator(dest);

    ReplacePipeline(PtrLut, dest);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Prelinearised CLUT for RGB
// ---------------------------------------------------------------------------------------------

// 8-bit RGB input: for each byte value of each channel, the linearised value's cell offset, the
// offset of its upper neighbour and its fraction are looked up once; the tetrahedral step is the
// 16-bit one of the CLUT (ICC.1:2010 interpolation as the engine does it). The data holds its own
// copy of the node values, so a copied pipeline stays valid.
using Prelin8Data = _krmPrelin8Data;

void Prelin8Eval16(const krmUInt16Number In[], krmUInt16Number Out[], const void* Data)
{
    const Prelin8Data* d = static_cast<const Prelin8Data*>(Data);
    const krmUInt32Number r = In[0] >> 8, g = In[1] >> 8, b = In[2] >> 8;
    const krmInt32Number rx = d->Rest[0][r], ry = d->Rest[1][g], rz = d->Rest[2][b];
    const krmUInt32Number X1 = d->Upper[0][r], Y1 = d->Upper[1][g], Z1 = d->Upper[2][b];
    const krmUInt16Number* base = d->Table + d->Base[0][r] + d->Base[1][g] + d->Base[2][b];

    krmUInt32Number A, B;
    krmInt32Number rp, rq, rs;
    if (rx >= ry) {
        if (ry >= rz)
            A = X1, B = X1 + Y1, rp = rx, rq = ry, rs = rz;
        else if (rz < rx)
            A = X1, B = X1 + Z1, rp = rx, rq = rz, rs = ry;
        else
            A = Z1, B = X1 + Z1, rp = rz, rq = rx, rs = ry;
    } else {
        if (rx >= rz)
            A = Y1, B = X1 + Y1, rp = ry, rq = rx, rs = rz;
        else if (rz > ry)
            A = Z1, B = Y1 + Z1, rp = rz, rq = ry, rs = rx;
        else
            A = Y1, B = Y1 + Z1, rp = ry, rq = rz, rs = rx;
    }
    const krmUInt32Number C = X1 + Y1 + Z1;
    for (krmUInt32Number o = 0; o < d->nOutputs; o++) {
        const int64_t c0 = base[o];
        const int64_t c1 = int64_t(base[A + o]) - c0;
        const int64_t c2 = int64_t(base[B + o]) - base[A + o];
        const int64_t c3 = int64_t(base[C + o]) - base[B + o];
        const int64_t t = c1 * rp + c2 * rq + c3 * rs + 0x8001;
        Out[o] = krmUInt16Number(c0 + ((t + (t >> 16)) >> 16));
    }
}

krmUInt32Number Prelin8Size(krmUInt32Number nValues)
{
    return krmUInt32Number(offsetof(Prelin8Data, Table) + nValues * sizeof(krmUInt16Number));
}
void FreePrelin8(krmContext ctx, void* data) { krmFree(ctx, data); }
void* DupPrelin8(krmContext ctx, const void* data)
{
    return krmDupMem(ctx, data, Prelin8Size(static_cast<const Prelin8Data*>(data)->nValues));
}

// Only for a tetrahedral 16-bit CLUT of 3 inputs; otherwise the staged evaluator stays.
void SetPrelin8Evaluator(krmPipeline* Lut, const krmStage* prelin, const krmStage* clut)
{
    const krmStageCLutData* grid = CLutOf(clut);
    const krmInterpParams* p = grid->Params;
    if (grid->HasFloatValues || p->nInputs != 3 || (p->dwFlags & krmInterpFlagTrilinear)) return;
    Prelin8Data* d = static_cast<Prelin8Data*>(krmMalloc(Lut->ContextID, Prelin8Size(grid->nEntries)));
    if (!d) return;
    d->nOutputs = p->nOutputs;
    d->nValues = grid->nEntries;
    std::memcpy(d->Table, grid->Tab.T16, grid->nEntries * sizeof(krmUInt16Number));
    for (int c = 0; c < 3; c++) {
        const krmUInt32Number domain = p->Domain[c], stride = p->opta[2 - c];
        for (int v = 0; v < 256; v++) {
            const krmUInt16Number lin = krmEvalToneCurve16(CurvesOf(prelin)->TheCurves[c], krmUInt16Number(v * 257));
            const krmUInt64Number f = krmToFixedDomain(krmUInt64Number(lin) * domain);
            d->Base[c][v] = krmUInt32Number(f >> 16) * stride;
            d->Rest[c][v] = krmInt32Number(f & 0xFFFF);
            d->Upper[c][v] = (lin == 0xFFFF || domain == 0) ? 0 : stride;
        }
    }
    _krmPipelineSetOptimizationParameters(Lut, Prelin8Eval16, d, FreePrelin8, DupPrelin8);
}

void SlopeLimiting(krmUInt16Number* table, krmUInt32Number n)
{
    const krmUInt32Number atBegin = krmUInt32Number(std::floor(n * 0.02 + 0.5));
    const krmUInt32Number atEnd = n - atBegin - 1;
    const bool descending = table[n - 1] < table[0];
    const krmFloat64Number beginVal = descending ? 65535.0 : 0.0;
    const krmFloat64Number endVal = descending ? 0.0 : 65535.0;

    krmFloat64Number val = table[atBegin];
    krmFloat64Number slope = (val - beginVal) / atBegin;
    krmFloat64Number beta = val - slope * atBegin;
    for (krmUInt32Number i = 0; i < atBegin; i++) table[i] = krmQuickSaturateWord(i * slope + beta);

    val = table[atEnd];
    slope = (endVal - val) / atBegin;
    beta = val - slope * atEnd;
    for (krmUInt32Number i = atEnd; i < n; i++) table[i] = krmQuickSaturateWord(i * slope + beta);
}

bool OptimizeByComputingLinearization(krmPipeline** PtrLut, krmUInt32Number Intent, krmUInt32Number* InputFormat,
                                      krmUInt32Number* OutputFormat, krmUInt32Number* dwFlags)
{
    if (krmT_FLOAT(*InputFormat) || krmT_FLOAT(*OutputFormat)) return false;
    if (SignatureOfCode(krmT_COLORSPACE(*InputFormat)) != krmSig("RGB ") ||
        SignatureOfCode(krmT_COLORSPACE(*OutputFormat)) != krmSig("RGB "))
        return false;
    if (krmT_PLANAR(*InputFormat) || krmT_PLANAR(*OutputFormat)) return false;
    const bool is8bitInput = krmT_BYTES(*InputFormat) == 1;
    if (!is8bitInput && !(*dwFlags & krmFlagCLUTPreLinearization)) return false;

    krmPipeline* src = *PtrLut;
    krmContext ctx = src->ContextID;
    if (src->InputChannels != 3 || src->OutputChannels != 3) return false;

    if (krmStage* last = krmPipelineLastStage(src); last && last->Type == krmSigCurveSetElemType) {
        const krmStageToneCurvesData* d = CurvesOf(last);
        for (krmUInt32Number i = 0; i < d->nCurves; i++)
            if (IsDegeneratedCurve(d->TheCurves[i])) return false;
    }

    static thread_local krmUInt16Number tables[3][kPrelinEntries];
    SampleGreyRamp(src, 3, tables);
    for (int t = 0; t < 3; t++) {
        SlopeLimiting(tables[t], kPrelinEntries);
        if (IsDegenerated(tables[t], kPrelinEntries)) return false;
    }

    krmStage* prelin = CurveStageFromTables(ctx, 3, tables);
    if (!prelin) return false;
    for (int t = 0; t < 3; t++)
        if (!krmIsToneCurveMonotonic(CurvesOf(prelin)->TheCurves[t])) {
            krmStageFree(prelin);
            return false;
        }

    // The incoming pipeline behind the inverse of the linearisation is what the CLUT holds.
    krmToneCurve* reversed[3] = {};
    bool ok = true;
    for (int t = 0; t < 3 && ok; t++) {
        reversed[t] = krmReverseToneCurveEx(kPrelinEntries, CurvesOf(prelin)->TheCurves[t]);
        ok = reversed[t] != nullptr;
    }
    krmPipeline* lutPlusCurves = ok ? krmPipelineDup(src) : nullptr;
    krmStage* reverseStage = lutPlusCurves ? krmStageAllocToneCurves(ctx, 3, reversed) : nullptr;
    for (int t = 0; t < 3; t++) krmFreeToneCurve(reversed[t]);
    if (!reverseStage || !krmPipelineInsertStage(lutPlusCurves, krmAT_BEGIN, reverseStage)) {
        krmPipelineFree(lutPlusCurves);
        krmStageFree(prelin);
        return false;
    }

    const krmUInt32Number nGridPoints = krmReasonableGridpoints(krmSig("RGB "), *dwFlags);
    krmPipeline* dest = krmPipelineAlloc(ctx, 3, 3);
    krmStage* clut = dest ? krmStageAllocCLut16bit(ctx, nGridPoints, 3, 3, nullptr) : nullptr;
    if (!clut || !krmPipelineInsertStage(dest, krmAT_END, prelin) || !krmPipelineInsertStage(dest, krmAT_END, clut) ||
        !SampleThrough(clut, lutPlusCurves)) {
        if (!dest) krmStageFree(prelin);
        if (dest && !clut) krmStageFree(prelin);
        krmPipelineFree(dest);
        krmPipelineFree(lutPlusCurves);
        return false;
    }
    krmPipelineFree(lutPlusCurves);

    if (Intent == kAbsoluteColorimetric) *dwFlags |= krmFlagNoWhiteOnWhiteFixup;
    if (!(*dwFlags & krmFlagNoWhiteOnWhiteFixup) &&
        !FixWhiteMisalignment(dest, krmSig("RGB "), krmSig("RGB "))) {
        krmPipelineFree(dest);
        return false;
    }

    // After the white patch, so that the 8-bit evaluator's copy of the nodes has it.
    SetStagedCLUTEvaluator(dest);
    if (is8bitInput) SetPrelin8Evaluator(dest, prelin, clut);
    ReplacePipeline(PtrLut, dest);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Joined curves
// ---------------------------------------------------------------------------------------------

struct Curves16Data {
    krmUInt32Number nCurves;
    krmUInt32Number nElements;  // 256 or 65536
    krmUInt16Number Table[1];  // nCurves * nElements
};

void FastEvaluateCurves8(const krmUInt16Number In[], krmUInt16Number Out[], const void* Data)
{
    const Curves16Data* d = static_cast<const Curves16Data*>(Data);
    for (krmUInt32Number i = 0; i < d->nCurves; i++) Out[i] = d->Table[i * 256 + (In[i] >> 8)];
}

void FastEvaluateCurves16(const krmUInt16Number In[], krmUInt16Number Out[], const void* Data)
{
    const Curves16Data* d = static_cast<const Curves16Data*>(Data);
    for (krmUInt32Number i = 0; i < d->nCurves; i++) Out[i] = d->Table[i * 65536 + In[i]];
}

krmUInt32Number Curves16Size(krmUInt32Number nCurves, krmUInt32Number nElements)
{
    return krmUInt32Number(offsetof(Curves16Data, Table) + nCurves * nElements * sizeof(krmUInt16Number));
}

void FreeCurves16(krmContext ctx, void* data) { krmFree(ctx, data); }
void* DupCurves16(krmContext ctx, const void* data)
{
    const Curves16Data* d = static_cast<const Curves16Data*>(data);
    return krmDupMem(ctx, data, Curves16Size(d->nCurves, d->nElements));
}

bool OptimizeByJoiningCurves(krmPipeline** PtrLut, krmUInt32Number, krmUInt32Number* InputFormat,
                             krmUInt32Number* OutputFormat, krmUInt32Number* dwFlags)
{
    if (krmT_FLOAT(*InputFormat) || krmT_FLOAT(*OutputFormat)) return false;
    krmPipeline* src = *PtrLut;
    if (IsEmpty(src)) return false;
    for (const krmStage* s = src->Elements; s; s = s->Next)
        if (s->Type != krmSigCurveSetElemType) return false;

    krmContext ctx = src->ContextID;
    const krmUInt32Number n = src->InputChannels;
    if (n != src->OutputChannels || n == 0 || n > krmMAXCHANNELS) return false;

    krmUInt16Number(*tables)[kPrelinEntries] =
        static_cast<krmUInt16Number(*)[kPrelinEntries]>(krmMalloc(ctx, n * kPrelinEntries * sizeof(krmUInt16Number)));
    if (!tables) return false;
    SampleGreyRamp(src, n, tables);
    krmStage* joined = CurveStageFromTables(ctx, n, tables);
    krmFree(ctx, tables);
    if (!joined) return false;

    krmPipeline* dest = krmPipelineAlloc(ctx, n, n);
    if (!dest) {
        krmStageFree(joined);
        return false;
    }

    bool allLinear = AllCurvesAreLinear(joined);
    if (allLinear) {
        krmStageFree(joined);
        if (!krmPipelineInsertStage(dest, krmAT_END, krmStageAllocIdentity(ctx, n)) || !SetFastIdentity(dest)) {
            krmPipelineFree(dest);
            return false;
        }
    } else {
        if (!krmPipelineInsertStage(dest, krmAT_END, joined)) {
            krmPipelineFree(dest);
            return false;
        }
        const krmUInt32Number nElements = krmT_BYTES(*InputFormat) == 1 ? 256 : 65536;
        Curves16Data* d = static_cast<Curves16Data*>(krmMalloc(ctx, Curves16Size(n, nElements)));
        if (!d) {
            krmPipelineFree(dest);
            return false;
        }
        d->nCurves = n;
        d->nElements = nElements;
        for (krmUInt32Number c = 0; c < n; c++)
            for (krmUInt32Number k = 0; k < nElements; k++)
                d->Table[c * nElements + k] = krmEvalToneCurve16(
                    CurvesOf(joined)->TheCurves[c], krmUInt16Number(nElements == 256 ? k * 257 : k));
        _krmPipelineSetOptimizationParameters(dest, nElements == 256 ? FastEvaluateCurves8 : FastEvaluateCurves16, d,
                                              FreeCurves16, DupCurves16);
    }

    *dwFlags |= krmFlagNoCache;
    ReplacePipeline(PtrLut, dest);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Integer matrix-shaper
// ---------------------------------------------------------------------------------------------

using MatShaper8Data = _krmMatShaper8Data;

krmInt32Number DoubleTo1Fixed14(krmFloat64Number x) { return krmInt32Number(std::floor(x * 16384.0 + 0.5)); }

void MatShaperEval16(const krmUInt16Number In[], krmUInt16Number Out[], const void* Data)
{
    const MatShaper8Data* p = static_cast<const MatShaper8Data*>(Data);
    const int64_t v[3] = {p->Shaper1[0][In[0] & 0xFF], p->Shaper1[1][In[1] & 0xFF],
                                 p->Shaper1[2][In[2] & 0xFF]};
    for (int i = 0; i < 3; i++) {
        int64_t l = (p->Mat[i][0] * v[0] + p->Mat[i][1] * v[1] + p->Mat[i][2] * v[2] + p->Off[i] + 0x2000) >> 14;
        if (l < 0) l = 0;
        if (l > 16384) l = 16384;
        Out[i] = p->Shaper2[i][l];
    }
}

bool OptimizeMatrixShaper(krmPipeline** PtrLut, krmUInt32Number Intent, krmUInt32Number* InputFormat,
                          krmUInt32Number* OutputFormat, krmUInt32Number* dwFlags)
{
    if (krmT_FLOAT(*InputFormat) || krmT_FLOAT(*OutputFormat)) return false;
    if (krmT_CHANNELS(*InputFormat) != 3 || krmT_CHANNELS(*OutputFormat) != 3) return false;
    if (krmT_BYTES(*InputFormat) != 1) return false;

    krmPipeline* src = *PtrLut;
    krmContext ctx = src->ContextID;
    if (src->InputChannels != 3 || src->OutputChannels != 3) return false;

    krmStage *curve1 = nullptr, *matrix1 = nullptr, *matrix2 = nullptr, *curve2 = nullptr;
    krmFloat64Number m[9];
    const krmFloat64Number* offset = nullptr;
    auto is3x3 = [](const krmStage* s) { return s->InputChannels == 3 && s->OutputChannels == 3; };

    if (krmPipelineCheckAndRetrieveStages(src, 4, int(krmSigCurveSetElemType), int(krmSigMatrixElemType),
                                          int(krmSigMatrixElemType), int(krmSigCurveSetElemType), &curve1, &matrix1,
                                          &matrix2, &curve2)) {
        if (!is3x3(matrix1) || !is3x3(matrix2) || MatrixOf(matrix1)->Offset) return false;
        const krmFloat64Number* a = MatrixOf(matrix1)->Double;
        const krmFloat64Number* b = MatrixOf(matrix2)->Double;
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 3; j++) {
                krmFloat64Number s = 0;
                for (int k = 0; k < 3; k++) s += b[i * 3 + k] * a[k * 3 + j];
                m[i * 3 + j] = s;
            }
        offset = MatrixOf(matrix2)->Offset;
    } else if (krmPipelineCheckAndRetrieveStages(src, 3, int(krmSigCurveSetElemType), int(krmSigMatrixElemType),
                                                 int(krmSigCurveSetElemType), &curve1, &matrix1, &curve2)) {
        if (!is3x3(matrix1)) return false;
        std::memcpy(m, MatrixOf(matrix1)->Double, sizeof m);
        offset = MatrixOf(matrix1)->Offset;
    } else
        return false;

    krmMAT3 mat;
    for (int i = 0; i < 9; i++) mat.v[i / 3].n[i % 3] = m[i];
    const bool identity = krmMAT3IsIdentity(&mat) && !offset;

    krmPipeline* dest = krmPipelineAlloc(ctx, 3, 3);
    if (!dest) return false;
    krmStage* c1 = krmStageDup(curve1);
    krmStage* c2 = krmStageDup(curve2);
    krmStage* mStage = identity ? nullptr : krmStageAllocMatrix(ctx, 3, 3, m, offset);
    bool ok = c1 && c2 && (identity || mStage);
    ok = ok && krmPipelineInsertStage(dest, krmAT_END, c1);
    c1 = nullptr;
    if (ok && mStage) {
        ok = krmPipelineInsertStage(dest, krmAT_END, mStage);
        mStage = nullptr;
    }
    if (ok) {
        ok = krmPipelineInsertStage(dest, krmAT_END, c2);
        c2 = nullptr;
    }
    FreeStage(c1);
    FreeStage(c2);
    FreeStage(mStage);
    if (!ok) {
        krmPipelineFree(dest);
        return false;
    }

    if (identity) {
        // Only curves are left: join them.
        if (!OptimizeByJoiningCurves(&dest, Intent, InputFormat, OutputFormat, dwFlags)) {
            krmPipelineFree(dest);
            return false;
        }
        ReplacePipeline(PtrLut, dest);
        return true;
    }

    *dwFlags |= krmFlagNoCache;
    if (!krmT_PREMUL(*InputFormat) && !krmT_PREMUL(*OutputFormat)) {
        MatShaper8Data* p = static_cast<MatShaper8Data*>(krmMallocZero(ctx, sizeof(MatShaper8Data)));
        if (!p) {
            krmPipelineFree(dest);
            return false;
        }
        const krmStageToneCurvesData* in = CurvesOf(dest->Elements);
        const krmStageToneCurvesData* out = CurvesOf(krmPipelineLastStage(dest));
        const bool is8bitOutput = krmT_BYTES(*OutputFormat) == 1;
        for (int c = 0; c < 3; c++) {
            for (int i = 0; i < 256; i++) {
                const krmFloat64Number v = krmEvalToneCurveFloat(in->TheCurves[c], krmFloat32Number(i / 255.0));
                p->Shaper1[c][i] = v < 131072.0 ? DoubleTo1Fixed14(v) : 0x7FFFFFFF;
            }
            for (int i = 0; i <= 16384; i++) {
                krmFloat64Number x = i / 16384.0;
                if (x < 0) x = 0;
                if (x > 1) x = 1;
                krmUInt16Number w =
                    krmQuickSaturateWord(krmEvalToneCurveFloat(out->TheCurves[c], krmFloat32Number(x)) * 65535.0);
                if (is8bitOutput) w = krmUInt16Number(((krmUInt32Number(w) * 65281u + 0x800000u) >> 24) * 257u);
                p->Shaper2[c][i] = w;
            }
            for (int j = 0; j < 3; j++) p->Mat[c][j] = DoubleTo1Fixed14(m[c * 3 + j]);
            p->Off[c] = offset ? DoubleTo1Fixed14(offset[c]) : 0;
        }
        if (is8bitOutput) *OutputFormat |= krmFMT_OPTIMIZED(1);
        _krmPipelineSetOptimizationParameters(dest, MatShaperEval16, p, FreePlain<MatShaper8Data>,
                                              DupPlain<MatShaper8Data>);
    }
    ReplacePipeline(PtrLut, dest);
    return true;
}

typedef bool (*BuiltinOptimization)(krmPipeline** PtrLut, krmUInt32Number Intent, krmUInt32Number* InputFormat,
                                    krmUInt32Number* OutputFormat, krmUInt32Number* dwFlags);

// Tried in this order; the first that succeeds ends the search.
const BuiltinOptimization kBuiltinOptimizations[] = {
    OptimizeByJoiningCurves,
    OptimizeMatrixShaper,
    OptimizeByComputingLinearization,
    OptimizeByResampling,
};

bool HasNamedColorStage(const krmPipeline* Lut)
{
    for (const krmStage* s = Lut->Elements; s; s = s->Next)
        if (s->Type == krmSigNamedColorElemType) return true;
    return false;
}

}  // namespace

const _krmMatShaper8Data* _krmOptimizedMatShaper(const krmPipeline* Lut)
{
    return Lut && Lut->Eval16Fn == MatShaperEval16 ? static_cast<const _krmMatShaper8Data*>(Lut->Data) : nullptr;
}

const krmInterpParams* _krmOptimizedPlainCLUT(const krmPipeline* Lut)
{
    if (!Lut || Lut->Eval16Fn != StagedCLUTEval16) return nullptr;
    const krmStage* s = Lut->Elements;
    if (!s || s->Next || s->Type != krmSigCLutElemType || CLutOf(s)->HasFloatValues) return nullptr;
    return CLutOf(s)->Params;
}

const _krmPrelin8Data* _krmOptimizedPrelin8(const krmPipeline* Lut)
{
    return Lut && Lut->Eval16Fn == Prelin8Eval16 ? static_cast<const _krmPrelin8Data*>(Lut->Data) : nullptr;
}

krmUInt32Number krmReasonableGridpoints(krmColorSpaceSignature ColorSpace, krmUInt32Number dwFlags)
{
    if (dwFlags & 0x00FF0000u) return (dwFlags >> 16) & 0xFFu;
    const krmUInt32Number nChannels = krmChannelsOf(ColorSpace);
    if (dwFlags & krmFlagHighResPrecalc) return nChannels > 4 ? 7 : (nChannels == 4 ? 23 : 49);
    if (dwFlags & krmFlagLowResPrecalc) return nChannels > 4 ? 6 : (nChannels == 1 ? 33 : 17);
    return nChannels > 4 ? 7 : (nChannels == 4 ? 17 : 33);
}

krmBool krmOptimizePipeline(krmContext ContextID, krmPipeline** PtrLut, krmUInt32Number Intent,
                            krmUInt32Number* InputFormat, krmUInt32Number* OutputFormat, krmUInt32Number* dwFlags)
{
    if (!PtrLut || !*PtrLut) return false;

    if (*dwFlags & krmFlagForceCLUT) {
        PreOptimize(*PtrLut);
        return OptimizeByResampling(PtrLut, Intent, InputFormat, OutputFormat, dwFlags);
    }

    if (IsEmpty(*PtrLut)) return SetFastIdentity(*PtrLut);
    if (HasNamedColorStage(*PtrLut)) return false;

    const bool anyOpt = PreOptimize(*PtrLut);
    if (IsEmpty(*PtrLut)) return SetFastIdentity(*PtrLut);
    if (*dwFlags & krmFlagNoOptimize) return false;

    for (const _krmPluginListEntry* e = _krmGetPluginList(ContextID, krmPluginOptimizationSig); e; e = e->Next) {
        const krmPluginOptimization* plugin = reinterpret_cast<const krmPluginOptimization*>(e->Plugin);
        if (plugin->OptimizePtr && plugin->OptimizePtr(PtrLut, Intent, InputFormat, OutputFormat, dwFlags))
            return true;
    }

    for (BuiltinOptimization opt : kBuiltinOptimizations)
        if (opt(PtrLut, Intent, InputFormat, OutputFormat, dwFlags)) return true;

    return anyOpt;
}
