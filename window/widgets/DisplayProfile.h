#pragma once

#include <krm.h>

#include <QByteArray>

// The screen's colour profile, never null: the profile the desktop published for the screen
// (on X11 the root window's _ICC_PROFILE property), else the engine's sRGB. Bytes the engine
// refuses also give sRGB, since every caller draws with the result at once. Owned by the caller.
krmProfile display_profile();

// The raw profile bytes the platform publishes for the screen; empty when there are none.
QByteArray display_profile_bytes();
