#pragma once

#include "window/widgets/ChannelVocabulary.h"  // is_dark_palette

#include <QPalette>

// The dark palette used for the whole application (Fusion colours).
QPalette dark_fusion_palette();

// Applies `dark_always` (default true): the dark palette, or the platform's own palette.
void apply_color_scheme();
