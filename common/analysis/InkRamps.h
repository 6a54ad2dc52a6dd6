#pragma once

// The numbers behind the ink separation and dot gain views, shared with prismet-cli: plain C++
// over the engine, no Qt.

#include <krm.h>

#include <optional>
#include <string>
#include <vector>

constexpr int kRampPositions = 101;

// Ramps in the order of the view's "Curves:" combo box.
enum class InkRamp { Neutral = 0, CPrimary, MPrimary, YPrimary, RSecondary, GSecondary, BSecondary };
enum class RampSampling { Lab = 0, Cam16 = 1 };

struct SeparationRamp {
    int channels = 0;
    std::vector<krmCIELab> requested;       // the ramp's colours, paper (or white) to solid (or black)
    std::vector<std::vector<float>> inks;   // [channel][position], 0..1
    std::vector<float> total;               // sum of the inks, divided by its largest value when above 0
    std::vector<float> inkSum;              // sum of the inks in percent, not scaled
    std::vector<float> obtained;            // L*/100, or b*/128 within 0..1 on the Y primary ramp
    std::vector<krmCIELab> obtainedLab;     // what the separated colour measures (absolute colorimetric)
};

// Walks the ramp through the profile's B2A tag of `intent` (0..2). Empty on any failure.
std::optional<SeparationRamp> compute_separation_ramp(krmProfile profile, int intent, InkRamp ramp,
                                                      RampSampling sampling);

// The first position whose value exceeds 0.03, 0 when none does.
int ink_start_position(const std::vector<float>& values);

// Tab-separated table of a ramp, one line per position: the position (0..1), the requested
// L*a*b*, every ink and the total ink as drawn (0..1), the ink sum in percent and the obtained
// value. `names` names the channels in order.
std::string separation_table(const SeparationRamp& ramp, InkRamp kind, const std::vector<std::string>& names);

// "Obtained b*" on the Y primary ramp, "Obtained L*" otherwise.
const char* obtained_name(InkRamp ramp);

// The intent digit of a 'B2An' or 'A2Bn' tag (n = 0..2); -1 for other tags.
int lut_tag_intent(krmTagSignature tag, bool b2a);

struct DotGainChannel {
    int channel = 0;
    int component = 1;           // the XYZ component measured: 0 X, 1 Y, 2 Z
    bool failed = false;
    bool componentInName = false;  // outside CMYK the measured component is part of the ink's name
    std::vector<double> values;  // tone value increase in percentage points at 0, 1, ... 100 %
};

// Single-ink ramps through the profile's A2B tag of `intent`, one entry per channel in order.
// Empty when the whole analysis is impossible (no XYZ profile, channel count outside 4..15,
// no transform); failing channels come back with `failed` set.
std::optional<std::vector<DotGainChannel>> compute_dot_gain_values(krmProfile profile, int intent);

// Tab-separated table of the channels that did not fail: the nominal ink in percent, then each
// channel's tone value increase in percentage points. `names` has one name per channel.
std::string dot_gain_table(const std::vector<DotGainChannel>& channels, const std::vector<std::string>& names);

// The ink's name as the graph and the tables show it: `base`, followed by " (X)", " (Y)" or
// " (Z)" when the component is part of the name.
std::string dot_gain_name(const std::string& base, const DotGainChannel& channel);

// "X", "Y" or "Z".
const char* xyz_component_name(int component);

// Ink names for the command line: the colorant table's names when it has one per channel, else
// C, M, Y, K for CMYK and "C1" ... "Cn" otherwise.
std::vector<std::string> ink_channel_names(krmProfile profile);
