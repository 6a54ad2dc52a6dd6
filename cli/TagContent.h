#pragma once

// Decoded tag objects as value trees: what "prismet-cli tag" prints.

#include "cli/CliValue.h"

#include <krm.h>

struct TagContentOptions {
    bool full = false;  // curve tables inside pipelines and CLUT node values
};

// The content of the object krmReadTag returned for a tag stored with `type`. `dataSize` is the
// tag's size without its 8-byte type base (array types carry no count of their own).
CliValue describeTagContent(krmProfile profile, krmTagSignature tag, krmTagTypeSignature type, const void* object,
                            krmUInt32Number dataSize, const TagContentOptions& options);

// Pieces, also used on their own.
CliValue describeText(const krmMLU* mlu);
CliValue describeCurve(const krmToneCurve* curve, bool withTable);
CliValue describePipeline(const krmPipeline* pipeline, const TagContentOptions& options);
