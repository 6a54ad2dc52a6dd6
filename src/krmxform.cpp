// Transforms: creation with its checks and flags, the workers that convert buffers of pixels,
// the one-pixel cache, the gamut check with its alarm colour, and the RGB gamma estimate.
#include "krm_internal.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr krmUInt32Number kPerceptual = 0;
constexpr krmUInt32Number kRelativeColorimetric = 1;

const krmUInt16Number* AlarmCodesOf(krmContext ContextID)
{
    auto* chunk = static_cast<_krmAlarmCodesChunkType*>(_krmContextGetClientChunk(ContextID, AlarmCodesContext));
    return chunk->AlarmCodes;
}

krmFloat64Number DefaultAdaptationState(krmContext ContextID)
{
    auto* chunk =
        static_cast<_krmAdaptationStateChunkType*>(_krmContextGetClientChunk(ContextID, AdaptationStateContext));
    return chunk->AdaptationState;
}

// ---------------------------------------------------------------------------------------------
// Workers
// ---------------------------------------------------------------------------------------------

inline void CopyExtraChannels(_krmTransform_struct* p, const void* in, void* out, krmUInt32Number PixelsPerLine,
                              krmUInt32Number LineCount, const krmStride* Stride)
{
    if (p->dwOriginalFlags & krmFlagCopyAlpha) _krmHandleExtraChannels(p, in, out, PixelsPerLine, LineCount, Stride);
}

// Out-of-gamut pixels take the alarm codes on every output channel.
inline void EvalWithGamutCheck(const _krmTransform_struct* p, const krmUInt16Number* alarm,
                               const krmUInt16Number wIn[], krmUInt16Number wOut[])
{
    krmUInt16Number outOfGamut = 0;
    krmPipelineEval16(wIn, &outOfGamut, p->GamutCheck);
    if (outOfGamut > 0) {
        const krmUInt32Number n = krmPipelineOutputChannels(p->Lut);
        for (krmUInt32Number i = 0; i < n; i++) wOut[i] = alarm[i];
    } else
        krmPipelineEval16(wIn, wOut, p->Lut);
}

// The line loop shared by every 16-bit worker; Eval converts one pixel's working words.
template <class Eval>
inline void Loop16(_krmTransform_struct* p, const void* in, void* out, krmUInt32Number PixelsPerLine,
                   krmUInt32Number LineCount, const krmStride* Stride, krmUInt16Number wIn[], krmUInt16Number wOut[],
                   Eval eval)
{
    CopyExtraChannels(p, in, out, PixelsPerLine, LineCount, Stride);
    const krmUInt8Number* lineIn = static_cast<const krmUInt8Number*>(in);
    krmUInt8Number* lineOut = static_cast<krmUInt8Number*>(out);
    for (krmUInt32Number l = 0; l < LineCount; l++) {
        krmUInt8Number* accum = const_cast<krmUInt8Number*>(lineIn);
        krmUInt8Number* output = lineOut;
        for (krmUInt32Number i = 0; i < PixelsPerLine; i++) {
            accum = p->FromInput(p, wIn, accum, Stride->BytesPerPlaneIn);
            eval(wIn, wOut);
            output = p->ToOutput(p, wOut, output, Stride->BytesPerPlaneOut);
        }
        lineIn += Stride->BytesPerLineIn;
        lineOut += Stride->BytesPerLineOut;
    }
}

void NullXFORM(_krmTransform_struct* p, const void* in, void* out, krmUInt32Number PixelsPerLine,
               krmUInt32Number LineCount, const krmStride* Stride)
{
    krmUInt16Number wIn[krmMAXCHANNELS] = {};
    Loop16(p, in, out, PixelsPerLine, LineCount, Stride, wIn, wIn, [](const krmUInt16Number*, krmUInt16Number*) {});
}

void PrecalculatedXFORM(_krmTransform_struct* p, const void* in, void* out, krmUInt32Number PixelsPerLine,
                        krmUInt32Number LineCount, const krmStride* Stride)
{
    krmUInt16Number wIn[krmMAXCHANNELS] = {}, wOut[krmMAXCHANNELS] = {};
    const krmPipeline* lut = p->Lut;
    Loop16(p, in, out, PixelsPerLine, LineCount, Stride, wIn, wOut,
           [lut](const krmUInt16Number* i, krmUInt16Number* o) { krmPipelineEval16(i, o, lut); });
}

void PrecalculatedXFORMGamutCheck(_krmTransform_struct* p, const void* in, void* out, krmUInt32Number PixelsPerLine,
                                  krmUInt32Number LineCount, const krmStride* Stride)
{
    krmUInt16Number wIn[krmMAXCHANNELS] = {}, wOut[krmMAXCHANNELS] = {};
    const krmUInt16Number* alarm = AlarmCodesOf(p->ContextID);
    Loop16(p, in, out, PixelsPerLine, LineCount, Stride, wIn, wOut,
           [p, alarm](const krmUInt16Number* i, krmUInt16Number* o) { EvalWithGamutCheck(p, alarm, i, o); });
}

// The cache is a local copy: the transform itself is never written after creation, so several
// threads may share it.
void CachedXFORM(_krmTransform_struct* p, const void* in, void* out, krmUInt32Number PixelsPerLine,
                 krmUInt32Number LineCount, const krmStride* Stride)
{
    krmUInt16Number wIn[krmMAXCHANNELS] = {}, wOut[krmMAXCHANNELS] = {};
    _krmCACHE cache = p->Cache;
    const krmPipeline* lut = p->Lut;
    Loop16(p, in, out, PixelsPerLine, LineCount, Stride, wIn, wOut,
           [lut, &cache](const krmUInt16Number* i, krmUInt16Number* o) {
               if (std::memcmp(i, cache.CacheIn, sizeof(cache.CacheIn)) == 0) {
                   std::memcpy(o, cache.CacheOut, sizeof(cache.CacheOut));
               } else {
                   krmPipelineEval16(i, o, lut);
                   std::memcpy(cache.CacheIn, i, sizeof(cache.CacheIn));
                   std::memcpy(cache.CacheOut, o, sizeof(cache.CacheOut));
               }
           });
}

void CachedXFORMGamutCheck(_krmTransform_struct* p, const void* in, void* out, krmUInt32Number PixelsPerLine,
                           krmUInt32Number LineCount, const krmStride* Stride)
{
    krmUInt16Number wIn[krmMAXCHANNELS] = {}, wOut[krmMAXCHANNELS] = {};
    _krmCACHE cache = p->Cache;
    const krmUInt16Number* alarm = AlarmCodesOf(p->ContextID);
    // The alarm codes may have changed since the cache was filled.
    EvalWithGamutCheck(p, alarm, cache.CacheIn, cache.CacheOut);
    Loop16(p, in, out, PixelsPerLine, LineCount, Stride, wIn, wOut,
           [p, alarm, &cache](const krmUInt16Number* i, krmUInt16Number* o) {
               if (std::memcmp(i, cache.CacheIn, sizeof(cache.CacheIn)) == 0) {
                   std::memcpy(o, cache.CacheOut, sizeof(cache.CacheOut));
               } else {
                   EvalWithGamutCheck(p, alarm, i, o);
                   std::memcpy(cache.CacheIn, i, sizeof(cache.CacheIn));
                   std::memcpy(cache.CacheOut, o, sizeof(cache.CacheOut));
               }
           });
}

template <bool Convert>
void FloatXFORMT(_krmTransform_struct* p, const void* in, void* out, krmUInt32Number PixelsPerLine,
                 krmUInt32Number LineCount, const krmStride* Stride)
{
    CopyExtraChannels(p, in, out, PixelsPerLine, LineCount, Stride);
    krmFloat32Number fIn[krmMAXCHANNELS] = {}, fOut[krmMAXCHANNELS] = {};
    const krmUInt16Number* alarm = AlarmCodesOf(p->ContextID);

    const krmUInt8Number* lineIn = static_cast<const krmUInt8Number*>(in);
    krmUInt8Number* lineOut = static_cast<krmUInt8Number*>(out);
    for (krmUInt32Number l = 0; l < LineCount; l++) {
        krmUInt8Number* accum = const_cast<krmUInt8Number*>(lineIn);
        krmUInt8Number* output = lineOut;
        for (krmUInt32Number i = 0; i < PixelsPerLine; i++) {
            accum = p->FromInputFloat(p, fIn, accum, Stride->BytesPerPlaneIn);
            if (!Convert) {
                output = p->ToOutputFloat(p, fIn, output, Stride->BytesPerPlaneOut);
                continue;
            }
            krmFloat32Number outOfGamut = 0;
            if (p->GamutCheck) krmPipelineEvalFloat(fIn, &outOfGamut, p->GamutCheck);
            if (outOfGamut > 0) {
                for (int c = 0; c < krmMAXCHANNELS; c++) fOut[c] = krmFloat32Number(alarm[c] / 65535.0);
            } else
                krmPipelineEvalFloat(fIn, fOut, p->Lut);
            output = p->ToOutputFloat(p, fOut, output, Stride->BytesPerPlaneOut);
        }
        lineIn += Stride->BytesPerLineIn;
        lineOut += Stride->BytesPerLineOut;
    }
}

// Transform plug-ins written for the interface before 2080 convert one line per call.
void LegacyPluginXFORM(_krmTransform_struct* p, const void* in, void* out, krmUInt32Number PixelsPerLine,
                       krmUInt32Number LineCount, const krmStride* Stride)
{
    CopyExtraChannels(p, in, out, PixelsPerLine, LineCount, Stride);
    const krmUInt8Number* lineIn = static_cast<const krmUInt8Number*>(in);
    krmUInt8Number* lineOut = static_cast<krmUInt8Number*>(out);
    for (krmUInt32Number l = 0; l < LineCount; l++) {
        p->OldXform(p, lineIn, lineOut, PixelsPerLine, Stride->BytesPerPlaneIn);
        lineIn += Stride->BytesPerLineIn;
        lineOut += Stride->BytesPerLineOut;
    }
}

// A parallelisation plug-in is handed the worker and becomes the entry point.
void ParallelXFORM(_krmTransform_struct* p, const void* in, void* out, krmUInt32Number PixelsPerLine,
                   krmUInt32Number LineCount, const krmStride* Stride)
{
    p->Scheduler(p, in, out, PixelsPerLine, LineCount, Stride);
}

// With formats 0 the buffers are not read or written.
krmUInt8Number* PassThrough16(_krmTransform_struct*, krmUInt16Number[], krmUInt8Number* buffer, krmUInt32Number)
{
    return buffer;
}

// ---------------------------------------------------------------------------------------------
// Creation helpers
// ---------------------------------------------------------------------------------------------

krmUInt32Number NormalisedCode(krmUInt32Number code)
{
    if (code == 1) return krmPT_GRAY;
    if (code == 2) return krmPT_RGB;
    return code;
}

// A zero format suits anything; one without colour space needs the right channel count.
bool IsProperColorSpace(krmColorSpaceSignature Check, krmUInt32Number dwFormat)
{
    if (dwFormat == 0) return true;
    const krmUInt32Number space = NormalisedCode(krmT_COLORSPACE(dwFormat));
    if (space == krmPT_ANY) return krmT_CHANNELS(dwFormat) == krmChannelsOf(Check);
    const krmUInt32Number expected = krmColorSpaceCode(Check);
    if (space == expected) return true;
    return space == krmPT_LabV2 && expected == krmPT_Lab;
}

// Entry and exit spaces of a chain; false on a null profile.
bool GetXFormColorSpaces(krmUInt32Number nProfiles, krmProfile hProfiles[], krmColorSpaceSignature* Input,
                         krmColorSpaceSignature* Output)
{
    if (nProfiles == 0 || hProfiles[0] == nullptr) return false;
    krmColorSpaceSignature post = krmGetProfileColorSpace(hProfiles[0]);
    for (krmUInt32Number i = 0; i < nProfiles; i++) {
        krmProfile h = hProfiles[i];
        if (h == nullptr) return false;
        const bool isInput = post != krmSig("XYZ ") && post != krmSig("Lab ");
        const krmProfileClassSignature cls = krmGetProfileClass(h);
        krmColorSpaceSignature in, out;
        if (cls == krmSig("nmcl")) {
            in = krmSig("1CLR");
            out = nProfiles > 1 ? krmGetProfilePCS(h) : krmGetProfileColorSpace(h);
        } else if (isInput || cls == krmSig("link")) {
            in = krmGetProfileColorSpace(h);
            out = krmGetProfilePCS(h);
        } else {
            in = krmGetProfilePCS(h);
            out = krmGetProfileColorSpace(h);
        }
        if (i == 0) *Input = in;
        post = out;
    }
    *Output = post;
    return true;
}

// The media white of a profile as recorded by a transform: D50 when absent, and values stored
// in percent (96.42, 100, 82.49) brought back to 0..1.
krmCIEXYZ WhitePointOf(krmProfile h)
{
    krmCIEXYZ wp = *krmD50_XYZ();
    const krmCIEXYZ* tag = static_cast<const krmCIEXYZ*>(_krmReadTagAsDescribed(h, krmSig("wtpt")));
    if (tag) wp = *tag;
    while (wp.X > 2.0 && wp.Y > 2.0 && wp.Z > 2.0) {
        wp.X /= 10.0;
        wp.Y /= 10.0;
        wp.Z /= 10.0;
    }
    return wp;
}

krmSequence* CompileProfileSequence(krmContext ContextID, krmUInt32Number nProfiles, krmProfile hProfiles[])
{
    krmSequence* seq = krmAllocProfileSequence(ContextID, nProfiles);
    if (!seq) return nullptr;
    for (krmUInt32Number i = 0; i < nProfiles; i++) {
        krmPSEQDESC* ps = &seq->seq[i];
        krmProfile h = hProfiles[i];
        ps->deviceMfg = krmGetProfileManufacturer(h);
        ps->deviceModel = krmGetProfileModel(h);
        ps->attributes = krmGetProfileAttributes(h);
        krmGetProfileID(h, ps->ProfileID);
        const krmSignature* tech = static_cast<const krmSignature*>(_krmReadTagAsDescribed(h, krmSig("tech")));
        ps->technology = tech ? *tech : 0;

        const struct {
            krmTagSignature sig;
            krmMLU** dest;
        } texts[] = {{krmSig("dmnd"), &ps->Manufacturer}, {krmSig("dmdd"), &ps->Model}, {krmSig("desc"), &ps->Description}};
        for (const auto& t : texts) {
            const krmMLU* mlu = static_cast<const krmMLU*>(_krmReadTagAsDescribed(h, t.sig));
            if (!mlu) continue;
            *t.dest = krmMLUDup(mlu);
            if (!*t.dest) {
                krmFreeProfileSequence(seq);
                return nullptr;
            }
        }
    }
    return seq;
}

// The chain to Lab, the proof forward and reverse transforms, and the error threshold.
struct GamutChain {
    krmTransform hInput;
    krmTransform hForward;
    krmTransform hReverse;
    krmFloat64Number Threshold;
};

// A colour round-tripped through the gamut profile twice: one that drifts on the first trip much
// more than on the second is out of gamut.
krmUInt16Number GamutValue(const krmCIELab& labIn1, const krmCIELab& labOut1, const krmCIELab& labOut2,
                           krmFloat64Number thr)
{
    const krmFloat64Number dE1 = krmDeltaE(&labIn1, &labOut1);
    const krmFloat64Number dE2 = krmDeltaE(&labOut1, &labOut2);
    if (dE1 < thr && dE2 < thr) return 0;
    if (dE1 < thr && dE2 > thr) return 0;
    if (dE1 > thr && dE2 < thr) return krmQuickSaturateWord(dE1 - thr);
    const krmFloat64Number ratio = dE2 == 0.0 ? dE1 : dE1 / dE2;
    return ratio > thr ? krmQuickSaturateWord(ratio - thr) : 0;
}

// Fills the gamut check's grid, many nodes per call of each transform: the transforms convert
// pixel by pixel alike however many they are given, and a context's parallel workers can share
// a large call.
bool SampleGamut(krmContext ContextID, krmStage* clut, const GamutChain& chain, krmUInt32Number nIn,
                 krmUInt32Number nGamut)
{
    const krmInterpParams* params = static_cast<const krmStageCLutData*>(clut->Data)->Params;
    krmUInt16Number* table = static_cast<krmStageCLutData*>(clut->Data)->Tab.T16;
    const krmUInt32Number total = krmCubeSize(params->nSamples, nIn);
    if (total == 0 || !table) return false;
    constexpr krmUInt32Number kBatch = 32768;  // enough for the parallel workers to split
    const krmUInt32Number batch = std::min(total, kBatch);
    krmUInt16Number* words = static_cast<krmUInt16Number*>(krmMalloc(ContextID, batch * (nIn + nGamut) * sizeof(krmUInt16Number)));
    krmCIELab* lab = static_cast<krmCIELab*>(krmMalloc(ContextID, 3 * batch * sizeof(krmCIELab)));
    if (!words || !lab) {
        krmFree(ContextID, words);
        krmFree(ContextID, lab);
        return false;
    }
    krmUInt16Number* proof = words + batch * nIn;
    krmCIELab *in1 = lab, *out1 = lab + batch, *out2 = lab + 2 * batch;
    // The nodes in krmStageSampleCLut16bit's order: the last input fastest.
    krmUInt32Number digit[krmMAX_INPUT_DIMENSIONS] = {};
    for (krmUInt32Number first = 0; first < total; first += batch) {
        const krmUInt32Number n = std::min(batch, total - first);
        for (krmUInt32Number k = 0; k < n; k++) {
            for (krmUInt32Number ch = 0; ch < nIn; ch++)
                words[k * nIn + ch] = krmQuantizeVal(digit[ch], params->nSamples[ch]);
            for (krmInt32Number ch = krmInt32Number(nIn) - 1; ch >= 0 && ++digit[ch] == params->nSamples[ch]; ch--)
                digit[ch] = 0;
        }
        krmDoTransform(chain.hInput, words, in1, n);
        krmDoTransform(chain.hForward, in1, proof, n);
        krmDoTransform(chain.hReverse, proof, out1, n);
        krmDoTransform(chain.hForward, out1, proof, n);
        krmDoTransform(chain.hReverse, proof, out2, n);
        for (krmUInt32Number k = 0; k < n; k++) table[first + k] = GamutValue(in1[k], out1[k], out2[k], chain.Threshold);
    }
    krmFree(ContextID, words);
    krmFree(ContextID, lab);
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Gamut check
// ---------------------------------------------------------------------------------------------

krmPipeline* _krmCreateGamutCheckPipeline(krmContext ContextID, krmProfile hProfiles[], krmBool BPC[],
                                          krmUInt32Number Intents[], krmFloat64Number AdaptationStates[],
                                          krmUInt32Number nGamutPCSposition, krmProfile hGamut)
{
    if (nGamutPCSposition <= 0 || nGamutPCSposition > 255) {
        krmSignalError(ContextID, krmErrRange, "Wrong position of PCS. 1..255 expected, %d found.",
                       int(nGamutPCSposition));
        return nullptr;
    }

    krmProfile hLab = krmCreateLab4Profile(ContextID, nullptr);
    if (!hLab) return nullptr;

    GamutChain chain = {};
    chain.Threshold = krmIsMatrixShaper(hGamut) ? 1.0 : 5.0;

    krmProfile profiles[256];
    krmBool bpc[256];
    krmUInt32Number intents[256];
    krmFloat64Number states[256];
    for (krmUInt32Number i = 0; i < nGamutPCSposition; i++) {
        profiles[i] = hProfiles[i];
        bpc[i] = BPC[i];
        intents[i] = Intents[i];
        states[i] = AdaptationStates[i];
    }
    profiles[nGamutPCSposition] = hLab;
    bpc[nGamutPCSposition] = 0;
    intents[nGamutPCSposition] = kRelativeColorimetric;
    states[nGamutPCSposition] = 1.0;

    const krmColorSpaceSignature gamutSpace = krmGetProfileColorSpace(hGamut);
    const krmUInt32Number gamutChannels = krmChannelsOf(gamutSpace);
    const krmUInt32Number gamutFormat = krmFMT_CHANNELS(gamutChannels) | krmFMT_BYTES(2);
    const krmUInt32Number nGridPoints = krmReasonableGridpoints(gamutSpace, krmFlagHighResPrecalc);
    const krmUInt32Number inChannels = krmChannelsOf(krmGetProfileColorSpace(hProfiles[0]));

    chain.hInput = krmCreateExtendedTransform(ContextID, nGamutPCSposition + 1, profiles, bpc, intents, states,
                                              nullptr, 0, krmFMT_CHANNELS(inChannels) | krmFMT_BYTES(2),
                                              krmFmtLabDouble, krmFlagNoCache);
    chain.hForward = krmCreateTransformWithContext(ContextID, hLab, krmFmtLabDouble, hGamut, gamutFormat,
                                                   kRelativeColorimetric, krmFlagNoCache);
    chain.hReverse = krmCreateTransformWithContext(ContextID, hGamut, gamutFormat, hLab, krmFmtLabDouble,
                                                   kRelativeColorimetric, krmFlagNoCache);

    krmPipeline* gamutCheck = nullptr;
    if (chain.hInput && chain.hForward && chain.hReverse) {
        gamutCheck = krmPipelineAlloc(ContextID, inChannels, 1);
        krmStage* clut = gamutCheck ? krmStageAllocCLut16bit(ContextID, nGridPoints, inChannels, 1, nullptr) : nullptr;
        if (!clut || !krmPipelineInsertStage(gamutCheck, krmAT_BEGIN, clut) ||
            !SampleGamut(ContextID, clut, chain, inChannels, gamutChannels)) {
            krmPipelineFree(gamutCheck);
            gamutCheck = nullptr;
        }
    }

    if (chain.hInput) krmDeleteTransform(chain.hInput);
    if (chain.hForward) krmDeleteTransform(chain.hForward);
    if (chain.hReverse) krmDeleteTransform(chain.hReverse);
    krmCloseProfile(hLab);
    return gamutCheck;
}

// ---------------------------------------------------------------------------------------------
// Allocation and creation
// ---------------------------------------------------------------------------------------------

namespace {

// Takes the pipeline and the gamut check (optional) in every case; the gamut check is in place
// before the worker is chosen, so that a line worker can take it over too.
_krmTransform_struct* AllocEmptyTransform(krmContext ContextID, krmPipeline* lut, krmPipeline* gamutCheck,
                                          krmUInt32Number Intent, krmUInt32Number* InputFormat,
                                          krmUInt32Number* OutputFormat, krmUInt32Number* dwFlags)
{
    _krmTransform_struct* p = static_cast<_krmTransform_struct*>(krmMallocZero(ContextID, sizeof(_krmTransform_struct)));
    if (!p) {
        krmPipelineFree(lut);
        krmPipelineFree(gamutCheck);
        return nullptr;
    }
    p->Lut = lut;
    p->GamutCheck = gamutCheck;
    p->ContextID = ContextID;

    if (lut && !(*dwFlags & krmFlagNoOptimize)) {
        // Transform plug-ins first: the first that accepts supplies the worker.
        for (const _krmPluginListEntry* e = _krmGetPluginList(ContextID, krmPluginTransformSig); e; e = e->Next) {
            const krmPluginTransform* plugin = reinterpret_cast<const krmPluginTransform*>(e->Plugin);
            const bool legacy = plugin->base.ExpectedVersion < 2080;
            bool accepted;
            if (legacy)
                accepted = plugin->factories.legacy_xform &&
                           plugin->factories.legacy_xform(&p->OldXform, &p->UserData, &p->FreeUserData, &p->Lut,
                                                          InputFormat, OutputFormat, dwFlags);
            else
                accepted = plugin->factories.xform && plugin->factories.xform(&p->xform, &p->UserData,
                                                                              &p->FreeUserData, &p->Lut,
                                                                              InputFormat, OutputFormat, dwFlags);
            if (!accepted) continue;

            p->InputFormat = *InputFormat;
            p->OutputFormat = *OutputFormat;
            p->dwOriginalFlags = *dwFlags;
            p->FromInput = _krmGetFormatter(ContextID, *InputFormat, krmFormatterInput, krmPACK_FLAGS_16BITS).Fmt16;
            p->ToOutput = _krmGetFormatter(ContextID, *OutputFormat, krmFormatterOutput, krmPACK_FLAGS_16BITS).Fmt16;
            p->FromInputFloat =
                _krmGetFormatter(ContextID, *InputFormat, krmFormatterInput, krmPACK_FLAGS_FLOAT).FmtFloat;
            p->ToOutputFloat =
                _krmGetFormatter(ContextID, *OutputFormat, krmFormatterOutput, krmPACK_FLAGS_FLOAT).FmtFloat;
            if (legacy) p->xform = LegacyPluginXFORM;
            p->RenderingIntent = Intent;
            return p;
        }
    }
    // Unoptimised pipelines still lose what cancels out (the optimiser stops there for them).
    if (lut) krmOptimizePipeline(ContextID, &p->Lut, Intent, InputFormat, OutputFormat, dwFlags);

    if (krmT_FLOAT(*InputFormat) || krmT_FLOAT(*OutputFormat)) {
        p->FromInputFloat = _krmGetFormatter(ContextID, *InputFormat, krmFormatterInput, krmPACK_FLAGS_FLOAT).FmtFloat;
        p->ToOutputFloat = _krmGetFormatter(ContextID, *OutputFormat, krmFormatterOutput, krmPACK_FLAGS_FLOAT).FmtFloat;
        if (!p->FromInputFloat || !p->ToOutputFloat) {
            krmSignalError(ContextID, krmErrUnknownExtension, "Unsupported raster format");
            krmDeleteTransform(p);
            return nullptr;
        }
        p->xform = (*dwFlags & krmFlagNullTransform) ? FloatXFORMT<false> : FloatXFORMT<true>;
    } else {
        if (*InputFormat == 0 && *OutputFormat == 0) {
            p->FromInput = p->ToOutput = PassThrough16;
            *dwFlags |= krmFlagCanChangeFormatter;
        } else {
            p->FromInput = _krmGetFormatter(ContextID, *InputFormat, krmFormatterInput, krmPACK_FLAGS_16BITS).Fmt16;
            p->ToOutput = _krmGetFormatter(ContextID, *OutputFormat, krmFormatterOutput, krmPACK_FLAGS_16BITS).Fmt16;
            if (!p->FromInput || !p->ToOutput) {
                krmSignalError(ContextID, krmErrUnknownExtension, "Unsupported raster format");
                krmDeleteTransform(p);
                return nullptr;
            }
            const krmUInt32Number bytesIn = krmT_BYTES(*InputFormat);
            if (bytesIn == 0 || bytesIn >= 2) *dwFlags |= krmFlagCanChangeFormatter;
        }

        if (*dwFlags & krmFlagNullTransform)
            p->xform = NullXFORM;
        else if (*dwFlags & krmFlagNoCache)
            p->xform = (*dwFlags & krmFlagGamutCheck) ? PrecalculatedXFORMGamutCheck : PrecalculatedXFORM;
        else
            p->xform = (*dwFlags & krmFlagGamutCheck) ? CachedXFORMGamutCheck : CachedXFORM;
        if (_krmTransform2Fn fast = _krmChooseFastWorker(p, *InputFormat, *OutputFormat, *dwFlags)) p->xform = fast;
    }

    if ((*dwFlags & krmFlagCopyAlpha) && krmT_EXTRA(*InputFormat) != krmT_EXTRA(*OutputFormat)) {
        krmSignalError(ContextID, krmErrNotSuitable, "Mismatched alpha channels");
        krmDeleteTransform(p);
        return nullptr;
    }

    p->InputFormat = *InputFormat;
    p->OutputFormat = *OutputFormat;
    p->dwOriginalFlags = *dwFlags;
    p->RenderingIntent = Intent;

    if (const krmPluginParalellization* par = reinterpret_cast<const krmPluginParalellization*>(
            _krmGetPluginSlot(ContextID, krmPluginParalellizationSig))) {
        if (par->SchedulerFn) {
            p->Worker = p->xform;
            p->MaxWorkers = par->MaxWorkers;
            p->WorkerFlags = par->WorkerFlags;
            p->Scheduler = reinterpret_cast<_krmSchedulerFn>(par->SchedulerFn);
            p->xform = ParallelXFORM;
        }
    }
    return p;
}

krmUInt32Number BytesPerSample(krmUInt32Number fmt) { return krmT_BYTES(fmt) == 0 ? 8 : krmT_BYTES(fmt); }

}  // namespace

krmTransform krmCreateExtendedTransform(krmContext ContextID, krmUInt32Number nProfiles, krmProfile hProfiles[],
                                        krmBool BPC[], krmUInt32Number Intents[], krmFloat64Number AdaptationStates[],
                                        krmProfile hGamutProfile, krmUInt32Number nGamutPCSposition,
                                        krmUInt32Number InputFormat, krmUInt32Number OutputFormat,
                                        krmUInt32Number dwFlags)
{
    if (nProfiles <= 0 || nProfiles > 255) {
        krmSignalError(ContextID, krmErrRange, "Wrong number of profiles. 1..255 expected, %d found.", int(nProfiles));
        return nullptr;
    }

    if (dwFlags & krmFlagNullTransform)
        return AllocEmptyTransform(ContextID, nullptr, nullptr, kPerceptual, &InputFormat, &OutputFormat, &dwFlags);

    if (dwFlags & krmFlagGamutCheck) {
        if (hGamutProfile == nullptr)
            dwFlags &= ~krmFlagGamutCheck;
        else if (nGamutPCSposition < 1 || nGamutPCSposition >= nProfiles) {
            krmSignalError(ContextID, krmErrRange, "Wrong gamut PCS position '%d'", int(nGamutPCSposition));
            return nullptr;
        }
    }

    if (krmT_FLOAT(InputFormat) || krmT_FLOAT(OutputFormat)) dwFlags |= krmFlagNoCache;

    krmColorSpaceSignature entry = 0, exit = 0;
    if (!GetXFormColorSpaces(nProfiles, hProfiles, &entry, &exit)) {
        krmSignalError(ContextID, krmErrNull, "NULL input profiles on transform");
        return nullptr;
    }
    if (!IsProperColorSpace(entry, InputFormat)) {
        krmSignalError(ContextID, krmErrColorSpaceCheck, "Wrong input color space on transform");
        return nullptr;
    }
    if (!IsProperColorSpace(exit, OutputFormat)) {
        krmSignalError(ContextID, krmErrColorSpaceCheck, "Wrong output color space on transform");
        return nullptr;
    }

    // Near-linear 16-bit RGB keeps the linked pipeline: resampling would lose the shadows.
    if (entry == krmSig("RGB ") && krmT_BYTES(InputFormat) == 2 && !(dwFlags & krmFlagNoOptimize)) {
        const krmFloat64Number gamma = krmDetectRGBProfileGamma(hProfiles[0], 0.1);
        if (gamma > 0 && gamma < 1.6) dwFlags |= krmFlagNoOptimize;
    }

    krmPipeline* lut = krmLinkProfiles(ContextID, nProfiles, Intents, hProfiles, BPC, AdaptationStates, dwFlags);
    if (!lut) {
        // What failed was said where it failed; this names the request.
        krmSignalError(ContextID, krmErrNotSuitable, "Couldn't link the %u profiles for intent %u",
                       (unsigned)nProfiles, (unsigned)Intents[0]);
        return nullptr;
    }
    if (krmInt32Number(krmPipelineInputChannels(lut)) != krmChannelsOfColorSpace(entry) ||
        krmInt32Number(krmPipelineOutputChannels(lut)) != krmChannelsOfColorSpace(exit)) {
        krmPipelineFree(lut);
        krmSignalError(ContextID, krmErrNotSuitable, "Channel count doesn't match. Profile is corrupted");
        return nullptr;
    }

    krmPipeline* gamutCheck = nullptr;
    if (dwFlags & krmFlagGamutCheck) {
        gamutCheck = _krmCreateGamutCheckPipeline(ContextID, hProfiles, BPC, Intents, AdaptationStates,
                                                  nGamutPCSposition, hGamutProfile);
        if (!gamutCheck) {
            krmSignalError(ContextID, krmErrNull, "Could't create gamut check on transform");
            krmPipelineFree(lut);
            return nullptr;
        }
    }

    const krmUInt32Number lastIntent = Intents[nProfiles - 1];
    _krmTransform_struct* p =
        AllocEmptyTransform(ContextID, lut, gamutCheck, lastIntent, &InputFormat, &OutputFormat, &dwFlags);
    if (!p) return nullptr;

    p->EntryColorSpace = entry;
    p->ExitColorSpace = exit;
    p->RenderingIntent = lastIntent;
    p->EntryWhitePoint = WhitePointOf(hProfiles[0]);
    p->ExitWhitePoint = WhitePointOf(hProfiles[nProfiles - 1]);

    // Colorant tables: the first profile's, and the last one's (its output table for a link).
    if (const krmNamedColorList* in = static_cast<const krmNamedColorList*>(_krmReadTagAsDescribed(hProfiles[0], krmSig("clrt"))))
        p->InputColorant = krmDupNamedColorList(in);
    krmProfile last = hProfiles[nProfiles - 1];
    const krmTagSignature outTag = krmGetProfileClass(last) == krmSig("link") ? krmSig("clot") : krmSig("clrt");
    if (const krmNamedColorList* out = static_cast<const krmNamedColorList*>(_krmReadTagAsDescribed(last, outTag)))
        p->OutputColorant = krmDupNamedColorList(out);

    if (dwFlags & krmFlagKeepSequence) p->Sequence = CompileProfileSequence(ContextID, nProfiles, hProfiles);

    if (!(dwFlags & krmFlagNoCache)) {
        std::memset(&p->Cache, 0, sizeof(p->Cache));
        if (p->GamutCheck)
            EvalWithGamutCheck(p, AlarmCodesOf(ContextID), p->Cache.CacheIn, p->Cache.CacheOut);
        else
            krmPipelineEval16(p->Cache.CacheIn, p->Cache.CacheOut, p->Lut);
    }
    return p;
}

krmTransform krmCreateMultiprofileTransform(krmContext ContextID, krmProfile hProfiles[], krmUInt32Number nProfiles,
                                            krmUInt32Number InputFormat, krmUInt32Number OutputFormat,
                                            krmUInt32Number Intent, krmUInt32Number dwFlags)
{
    if (nProfiles <= 0 || nProfiles > 255) {
        krmSignalError(ContextID, krmErrRange, "Wrong number of profiles. 1..255 expected, %d found.", int(nProfiles));
        return nullptr;
    }
    krmBool bpc[256];
    krmUInt32Number intents[256];
    krmFloat64Number states[256];
    const krmFloat64Number state = DefaultAdaptationState(ContextID);
    for (krmUInt32Number i = 0; i < nProfiles; i++) {
        bpc[i] = (dwFlags & krmFlagBlackPointCompensation) ? 1 : 0;
        intents[i] = Intent;
        states[i] = state;
    }
    return krmCreateExtendedTransform(ContextID, nProfiles, hProfiles, bpc, intents, states, nullptr, 0, InputFormat,
                                      OutputFormat, dwFlags);
}

krmTransform krmCreateTransformWithContext(krmContext ContextID, krmProfile Input, krmUInt32Number InputFormat,
                                           krmProfile Output, krmUInt32Number OutputFormat, krmUInt32Number Intent,
                                           krmUInt32Number dwFlags)
{
    krmProfile profiles[2] = {Input, Output};
    return krmCreateMultiprofileTransform(ContextID, profiles, Output == nullptr ? 1 : 2, InputFormat, OutputFormat,
                                          Intent, dwFlags);
}

krmTransform krmCreateTransform(krmProfile Input, krmUInt32Number InputFormat, krmProfile Output,
                                krmUInt32Number OutputFormat, krmUInt32Number Intent, krmUInt32Number dwFlags)
{
    return krmCreateTransformWithContext(Input ? krmGetProfileContext(Input) : nullptr, Input, InputFormat, Output,
                                         OutputFormat, Intent, dwFlags);
}

void krmDeleteTransform(krmTransform hTransform)
{
    _krmAssert(hTransform != nullptr);
    _krmTransform_struct* p = hTransform;
    krmContext ctx = p->ContextID;
    krmPipelineFree(p->GamutCheck);
    krmPipelineFree(p->Lut);
    krmFreeNamedColorList(p->InputColorant);
    krmFreeNamedColorList(p->OutputColorant);
    if (p->Sequence) krmFreeProfileSequence(p->Sequence);
    if (p->UserData && p->FreeUserData) p->FreeUserData(ctx, p->UserData);
    _krmFreeFastWorker(p);
    krmFree(ctx, p);
}

void krmDoTransform(krmTransform Transform, const void* InputBuffer, void* OutputBuffer, krmUInt32Number Size)
{
    _krmTransform_struct* p = Transform;
    krmStride stride;
    stride.BytesPerLineIn = 0;
    stride.BytesPerLineOut = 0;
    stride.BytesPerPlaneIn = Size * BytesPerSample(p->InputFormat);
    stride.BytesPerPlaneOut = Size * BytesPerSample(p->OutputFormat);
    p->xform(p, InputBuffer, OutputBuffer, Size, 1, &stride);
}

void krmDoTransformLineStride(krmTransform Transform, const void* InputBuffer, void* OutputBuffer,
                              krmUInt32Number PixelsPerLine, krmUInt32Number LineCount, krmUInt32Number BytesPerLineIn,
                              krmUInt32Number BytesPerLineOut, krmUInt32Number BytesPerPlaneIn,
                              krmUInt32Number BytesPerPlaneOut)
{
    _krmTransform_struct* p = Transform;
    const krmStride stride = {BytesPerLineIn, BytesPerLineOut, BytesPerPlaneIn, BytesPerPlaneOut};
    p->xform(p, InputBuffer, OutputBuffer, PixelsPerLine, LineCount, &stride);
}

krmContext krmGetTransformContext(krmTransform hTransform) { return hTransform ? hTransform->ContextID : nullptr; }
krmUInt32Number krmGetTransformInputFormat(krmTransform hTransform) { return hTransform ? hTransform->InputFormat : 0; }
krmUInt32Number krmGetTransformOutputFormat(krmTransform hTransform)
{
    return hTransform ? hTransform->OutputFormat : 0;
}

void krmSetAlarmCodes(krmContext ContextID, const krmUInt16Number AlarmCodes[16])
{
    std::memcpy(const_cast<krmUInt16Number*>(AlarmCodesOf(ContextID)), AlarmCodes, 16 * sizeof(krmUInt16Number));
}

void krmGetAlarmCodes(krmContext ContextID, krmUInt16Number AlarmCodes[16])
{
    std::memcpy(AlarmCodes, AlarmCodesOf(ContextID), 16 * sizeof(krmUInt16Number));
}

krmFloat64Number krmDetectRGBProfileGamma(krmProfile hProfile, krmFloat64Number Threshold)
{
    if (krmGetProfileColorSpace(hProfile) != krmSig("RGB ")) return -1;
    const krmProfileClassSignature cls = krmGetProfileClass(hProfile);
    if (cls != krmSig("scnr") && cls != krmSig("mntr") && cls != krmSig("prtr") && cls != krmSig("spac")) return -1;

    krmContext ctx = krmGetProfileContext(hProfile);
    krmProfile hXYZ = krmCreateXYZProfile(ctx);
    if (!hXYZ) return -1;
    krmTransform xform = krmCreateTransformWithContext(ctx, hProfile, krmFmtRGB16, hXYZ, krmFmtXYZDouble,
                                                       kRelativeColorimetric, krmFlagNoOptimize);
    krmCloseProfile(hXYZ);
    if (!xform) return -1;

    krmUInt16Number rgb[256][3];
    krmCIEXYZ xyz[256];
    for (int i = 0; i < 256; i++) rgb[i][0] = rgb[i][1] = rgb[i][2] = krmUInt16Number(i * 257);
    krmDoTransform(xform, rgb, xyz, 256);
    krmDeleteTransform(xform);

    krmFloat32Number y[256];
    for (int i = 0; i < 256; i++) y[i] = krmFloat32Number(xyz[i].Y);
    krmToneCurve* curve = krmBuildTabulatedToneCurveFloat(ctx, 256, y);
    if (!curve) return -1;
    const krmFloat64Number gamma = krmEstimateGamma(curve, Threshold);
    krmFreeToneCurve(curve);
    return gamma;
}
