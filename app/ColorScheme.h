#pragma once

#include <QPalette>

// True when the application palette is dark: its window colour has a lightness below 128.
bool is_dark_palette();
bool is_dark_palette(const QPalette& palette);

// The dark palette used for the whole application (Fusion colours).
QPalette dark_fusion_palette();

// Applies `dark_always` (default true): the dark palette, or the platform's own palette.
void apply_color_scheme();
