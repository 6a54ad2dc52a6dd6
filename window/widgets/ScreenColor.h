#pragma once

#include <krm.h>

#include <QColor>

#include <memory>
#include <optional>
#include <type_traits>

// Colours for the screen: the transforms from the PCS to the display profile that swatches and
// diagrams paint with (so they are right on a calibrated screen), and the decoding of the PCS
// words that named-colour lists and colorant tables store.

struct KrmProfileClose {
    void operator()(void* profile) const { krmCloseProfile(static_cast<krmProfile>(profile)); }
};
using KrmProfilePtr = std::unique_ptr<std::remove_pointer_t<krmProfile>, KrmProfileClose>;

struct KrmTransformDelete {
    void operator()(void* transform) const { krmDeleteTransform(static_cast<krmTransform>(transform)); }
};
using KrmTransformPtr = std::unique_ptr<std::remove_pointer_t<krmTransform>, KrmTransformDelete>;

// L*a*b* doubles (the version 4 identity profile) to 8-bit RGB of `display_profile`, perceptual,
// unoptimised. Null when it cannot be built.
KrmTransformPtr lab_to_screen_transform();

// 16-bit XYZ (the built-in XYZ profile) to 8-bit RGB of `display_profile`, perceptual. Null when
// it cannot be built.
KrmTransformPtr xyz_to_screen_transform();

// The opaque screen colour of one L*a*b* value through a transform from lab_to_screen_transform.
QColor screen_color(krmTransform labToScreen, const krmCIELab& lab);

// The L*a*b* of a named colour's PCS words: legacy 16-bit L*a*b* for an L*a*b* PCS, XYZ against
// D50 for an XYZ PCS. Nothing when all three words are 0 (no colour given) or the PCS is neither.
std::optional<krmCIELab> pcs_words_to_lab(krmColorSpaceSignature pcs, const krmUInt16Number words[3]);
