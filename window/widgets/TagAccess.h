#pragma once

// Reading a profile's tags the way the viewers and the dispatch need them: by stored type, as a
// pipeline, stage by stage, and the directory entry's own size and type.

#include <krm.h>

#include <initializer_list>
#include <memory>

// The virtual row of the tags table that stands for a matrix-shaper profile's tags.
constexpr krmTagSignature MatrixShaperTag = 0x7FFFFFF0;

// Owns a pipeline the engine handed out.
struct TagPipelineFree {
    void operator()(krmPipeline* pipeline) const { krmPipelineFree(pipeline); }
};
using TagPipelinePtr = std::unique_ptr<krmPipeline, TagPipelineFree>;

// The pipeline of a LUT-like tag, owned by the caller: the matrix-shaper model for the virtual
// tag, the calibration of 'MHC2' as matrix and curves, otherwise a copy of the decoded pipeline.
// Null when the tag does not decode to a pipeline; throws QException when the 'MHC2' stages cannot
// be built.
krmPipeline* tag_pipeline(krmProfile profile, krmTagSignature sig);

// The decoded tag when it is stored in one of `types`: permissive reading decodes a tag with
// whatever known type it was stored in, so viewers check the type before they look. Throws
// QException when the tag is absent, unreadable or of another type.
const void* read_tag_of_type(krmProfile profile, krmTagSignature sig, std::initializer_list<krmTagTypeSignature> types);

struct StageFree {
    void operator()(krmStage* stage) const { krmStageFree(stage); }
};
using StagePtr = std::unique_ptr<krmStage, StageFree>;

// A copy of stage `index` (from 0) of the tag's pipeline; null when there is no such stage.
StagePtr tag_stage_copy(krmProfile profile, krmTagSignature sig, int index);

// The stored size of the first directory entry with this signature, 0 when absent.
krmUInt32Number stored_tag_size(krmProfile profile, krmTagSignature sig);

// The type signature stored at the start of the first directory entry with this signature;
// 0 when the tag is absent or its data cannot be reached.
krmTagTypeSignature stored_tag_type(krmProfile profile, krmTagSignature sig);
