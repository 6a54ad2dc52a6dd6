#include "window/widgets/TagAccess.h"

#include <QException>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

bool is_one_of(krmUInt32Number value, std::initializer_list<krmUInt32Number> list)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

// 'MHC2' calibration as a 3 -> 3 pipeline: the matrix (stored scaled by 65535/32768) followed by
// one tabulated curve per channel.
krmPipeline* mhc2_pipeline(krmProfile profile)
{
    const void* data = krmReadTag(profile, krmSig("MHC2"));
    if (!data || krmGetTagStoredType(profile, krmSig("MHC2")) != krmSig("MHC2"))
        return nullptr;
    const auto* mhc2 = static_cast<const krmMHC2*>(data);
    const krmContext context = krmGetProfileContext(profile);

    const double scale = 65535.0 / 32768.0;
    double matrix[9];
    double offset[3];
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column)
            matrix[row * 3 + column] = mhc2->XYZ2XYZmatrix[row][column] / scale;
        offset[row] = mhc2->XYZ2XYZmatrix[row][3] / scale;
    }

    TagPipelinePtr pipeline(krmPipelineAlloc(context, 3, 3));
    if (!pipeline)
        throw QException();
    krmStage* matrixStage = krmStageAllocMatrix(context, 3, 3, matrix, offset);
    if (!matrixStage || !krmPipelineInsertStage(pipeline.get(), krmAT_END, matrixStage))
        throw QException();

    const krmFloat64Number* arrays[3] = {mhc2->RedCurve, mhc2->GreenCurve, mhc2->BlueCurve};
    krmToneCurve* curves[3] = {};
    bool built = mhc2->CurveEntries > 0;
    for (int channel = 0; channel < 3 && built; ++channel) {
        if (!arrays[channel]) {
            built = false;
            break;
        }
        std::vector<krmUInt16Number> table(mhc2->CurveEntries);
        for (krmUInt32Number i = 0; i < mhc2->CurveEntries; ++i) {
            // Entries outside 0..1 (or not numbers) would not fit 16 bits: they are clamped.
            const double scaled = std::round(arrays[channel][i] * 65535.0);
            table[i] = krmUInt16Number(std::isnan(scaled) ? 0.0 : std::clamp(scaled, 0.0, 65535.0));
        }
        curves[channel] = krmBuildTabulatedToneCurve16(context, mhc2->CurveEntries, table.data());
        built = curves[channel] != nullptr;
    }
    krmStage* curveStage = built ? krmStageAllocToneCurves(context, 3, curves) : nullptr;
    for (krmToneCurve* curve : curves) {
        if (curve)
            krmFreeToneCurve(curve);
    }
    if (!curveStage || !krmPipelineInsertStage(pipeline.get(), krmAT_END, curveStage))
        throw QException();
    return pipeline.release();
}

bool is_pipeline_type(krmTagTypeSignature type)
{
    return is_one_of(type, {krmSig("mft1"), krmSig("mft2"), krmSig("mAB "), krmSig("mBA "), krmSig("mpet")});
}

}  // namespace

krmTagTypeSignature stored_tag_type(krmProfile profile, krmTagSignature sig)
{
    if (!profile)
        return 0;
    const krmInt32Number count = krmGetTagCount(profile);
    for (krmInt32Number i = 0; i < count; ++i) {
        if (krmGetTagSignature(profile, krmUInt32Number(i)) != sig)
            continue;
        krmUInt32Number offset = 0;
        krmUInt32Number size = 0;
        krmIOHandler* io = krmGetProfileIOHandler(profile);
        if (!krmGetTagOffsetAndSize(profile, krmUInt32Number(i), &offset, &size) || !io || !io->Seek(io, offset))
            return 0;
        return krmReadTypeBase(io);
    }
    return 0;
}

krmUInt32Number stored_tag_size(krmProfile profile, krmTagSignature sig)
{
    const krmInt32Number count = profile ? krmGetTagCount(profile) : 0;
    for (krmInt32Number i = 0; i < count; ++i) {
        krmUInt32Number offset = 0;
        krmUInt32Number size = 0;
        if (krmGetTagSignature(profile, krmUInt32Number(i)) == sig)
            return krmGetTagOffsetAndSize(profile, krmUInt32Number(i), &offset, &size) ? size : 0;
    }
    return 0;
}

StagePtr tag_stage_copy(krmProfile profile, krmTagSignature sig, int index)
{
    if (index < 0)
        return nullptr;
    const TagPipelinePtr pipeline(tag_pipeline(profile, sig));
    if (!pipeline)
        return nullptr;
    krmStage* stage = krmPipelineFirstStage(pipeline.get());
    for (int i = 0; i < index && stage; ++i)
        stage = krmStageNext(stage);
    return StagePtr(stage ? krmStageDup(stage) : nullptr);
}

krmPipeline* tag_pipeline(krmProfile profile, krmTagSignature sig)
{
    if (!profile)
        return nullptr;
    if (sig == MatrixShaperTag)
        return krmReadInputLUT(profile, 0xFFFFFFFFu);
    if (sig == krmSig("MHC2"))
        return mhc2_pipeline(profile);
    const void* data = krmReadTag(profile, sig);
    if (!data || !is_pipeline_type(krmGetTagStoredType(profile, sig)))
        return nullptr;
    return krmPipelineDup(static_cast<const krmPipeline*>(data));
}

const void* read_tag_of_type(krmProfile profile, krmTagSignature sig, std::initializer_list<krmTagTypeSignature> types)
{
    const void* data = profile ? krmReadTag(profile, sig) : nullptr;
    if (!data || !is_one_of(krmGetTagStoredType(profile, sig), types))
        throw QException();
    return data;
}
