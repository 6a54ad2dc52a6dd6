#pragma once

// A chain of profiles as the transform and convert commands build it: the colour spaces at its
// two ends, and pixel formats for them.

#include "cli/CliSupport.h"

#include <krm.h>

#include <QString>

#include <memory>
#include <vector>

// How values are written on one side of a transform.
enum class ValueEncoding {
    Float,  // device values 0..1 (ink spaces 0..100 %), L*a*b*, XYZ with white Y = 1
    Bits8,  // integers 0..255
    Bits16, // integers 0..65535 (L*a*b* and XYZ in the ICC 16-bit encodings)
};

bool parseEncoding(const QString& text, ValueEncoding& encoding);
QString encodingName(ValueEncoding encoding);

// The colour space entering and leaving a chain of profiles, following the engine's rules: a
// profile met in a device space (or a device link) is used from its colour space to its PCS,
// one met in XYZ or L*a*b* from its PCS to its colour space; a named-colour profile takes an
// index.
void chainSpaces(const std::vector<krmProfile>& profiles, krmColorSpaceSignature& entry, krmColorSpaceSignature& exit);

// The pixel format of one value in `space` with `encoding`; 0 with a message in `error` when
// the space has no channel count or the encoding does not suit it.
krmUInt32Number valueFormat(krmColorSpaceSignature space, ValueEncoding encoding, QString& error);

// Space names for people: "RGB", "CMYK", "Lab".
QString spaceText(krmColorSpaceSignature space);

// The transform both transform and convert make: every profile gets the same intent, black
// point compensation and adaptation state, so equal formats give equal numbers.
krmTransform createChainTransform(krmContext context, const std::vector<krmProfile>& chain, krmUInt32Number intent,
                                  bool bpc, double adaptation, krmUInt32Number inFormat, krmUInt32Number outFormat,
                                  krmUInt32Number flags);
