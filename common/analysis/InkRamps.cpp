#include "common/analysis/InkRamps.h"
#include "common/analysis/EngineHandles.h"

#include "common/analysis/Cam16Model.h"

#include <algorithm>
#include <charconv>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>

namespace {

// 16-bit words, n channels, no colour-space code: the device side of every transform here.
krmUInt32Number device_words_format(int channels)
{
    return krmFMT_CHANNELS(krmUInt32Number(channels)) | krmFMT_BYTES(2);
}

int device_channels(krmProfile profile)
{
    return profile ? int(krmChannelsOfColorSpace(krmGetProfileColorSpace(profile))) : -1;
}

// The channels (counted from 0) a primary or secondary ramp prints solid.
std::vector<int> solid_channels(InkRamp ramp)
{
    switch (ramp) {
    case InkRamp::CPrimary:
        return {0};
    case InkRamp::MPrimary:
        return {1};
    case InkRamp::YPrimary:
        return {2};
    case InkRamp::RSecondary:
        return {1, 2};
    case InkRamp::GSecondary:
        return {0, 2};
    case InkRamp::BSecondary:
        return {0, 1};
    case InkRamp::Neutral:
        break;
    }
    return {};
}

krmCIELab to_lab(krmTransform toLab, const krmUInt16Number* words)
{
    krmCIELab lab{};
    krmDoTransform(toLab, words, &lab, 1);
    return lab;
}

}  // namespace

int lut_tag_intent(krmTagSignature tag, bool b2a)
{
    for (int i = 0; i <= 2; ++i) {
        const char name[5] = {b2a ? 'B' : 'A', '2', b2a ? 'A' : 'B', char('0' + i), 0};
        if (tag == krmSig(name))
            return i;
    }
    return -1;
}

int ink_start_position(const std::vector<float>& values)
{
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (values[k] > 0.03f)
            return int(k);
    }
    return 0;
}

std::optional<SeparationRamp> compute_separation_ramp(krmProfile profile, int intent, InkRamp ramp,
                                                      RampSampling sampling)
{
    const int n = device_channels(profile);
    if (n < 1 || n > 15 || intent < 0 || intent > 2)
        return std::nullopt;
    if (ramp == InkRamp::Neutral)
        sampling = RampSampling::Lab;
    const krmUInt32Number words = device_words_format(n);
    const auto ui = krmUInt32Number(intent);

    const ProfilePtr lab(krmCreateLab4Profile(krmD50_xyY()));
    if (!lab)
        return std::nullopt;
    const TransformPtr toDevice(krmCreateTransform(lab.get(), krmFmtLabDouble, profile, words, ui, krmFlagNoOptimize));
    // Separate through the B2A tag, then measure what the inks print, absolute colorimetric.
    krmProfile chain[4] = {lab.get(), profile, profile, lab.get()};
    krmBool bpc[4] = {0, 0, 0, 0};
    krmUInt32Number intents[4] = {ui, ui, 3, 3};
    krmFloat64Number adaptation[4] = {1.0, 1.0, 1.0, 1.0};
    const TransformPtr obtained(krmCreateExtendedTransform(nullptr, 4, chain, bpc, intents, adaptation, nullptr, 0,
                                                           krmFmtLabDouble, krmFmtLabDouble, krmFlagNoOptimize));
    if (!toDevice || !obtained)
        return std::nullopt;
    const std::optional<Cam16Model> model =
        sampling == RampSampling::Cam16 ? Cam16Model::create() : std::optional<Cam16Model>();

    krmCIELCh solidLCh{};
    krmCIELab paperLab{};
    Cam16Ucs paperUcs;
    Cam16Ucs solidUcs;
    if (ramp != InkRamp::Neutral) {
        const TransformPtr toLab(krmCreateTransform(profile, words, lab.get(), krmFmtLabDouble, ui, krmFlagNoOptimize));
        if (!toLab)
            return std::nullopt;
        krmUInt16Number device[krmMAXCHANNELS] = {};
        paperLab = to_lab(toLab.get(), device);
        for (int c : solid_channels(ramp))
            device[c] = 65535;
        const krmCIELab solidLab = to_lab(toLab.get(), device);
        if (sampling == RampSampling::Cam16) {
            if (!model)
                return std::nullopt;
            const auto appearance = [&](const krmCIELab& colour) -> std::optional<Cam16Appearance> {
                krmCIEXYZ xyz{};
                krmLab2XYZ(krmD50_XYZ(), &xyz, &colour);
                return model->forward({xyz.X, xyz.Y, xyz.Z});
            };
            const std::optional<Cam16Appearance> paper = appearance(paperLab);
            const std::optional<Cam16Appearance> solid = appearance(solidLab);
            if (!paper || !solid)
                return std::nullopt;
            paperUcs = Cam16Model::toUcs(*paper);
            solidUcs = Cam16Model::toUcs(*solid);
        } else {
            krmLab2LCh(&solidLCh, &solidLab);
        }
    }

    SeparationRamp result;
    result.channels = n;
    result.inks.assign(std::size_t(n), std::vector<float>(kRampPositions, 0.0f));
    result.total.assign(kRampPositions, 0.0f);
    result.inkSum.assign(kRampPositions, 0.0f);
    result.obtained.assign(kRampPositions, 0.0f);
    for (int k = 0; k < kRampPositions; ++k) {
        const double t = k / 100.0;
        krmCIELab colour{};
        if (ramp == InkRamp::Neutral) {
            colour.L = 100.0 * (1.0 - t);
        } else if (sampling == RampSampling::Lab) {
            // Only the paper's lightness counts: the ramp keeps the solid's hue from the start.
            const krmCIELCh lch{paperLab.L + (solidLCh.L - paperLab.L) * t, solidLCh.C * t, solidLCh.h};
            krmLCh2Lab(&colour, &lch);
        } else {
            const Cam16Ucs ucs{paperUcs.J + (solidUcs.J - paperUcs.J) * t, paperUcs.a + (solidUcs.a - paperUcs.a) * t,
                               paperUcs.b + (solidUcs.b - paperUcs.b) * t};
            const Cam16Appearance appearance = Cam16Model::fromUcs(ucs);
            const std::optional<Cam16XYZ> xyz = model->inverse(appearance.J, appearance.M, appearance.h);
            if (!xyz)
                return std::nullopt;
            const krmCIEXYZ engineXyz{xyz->X, xyz->Y, xyz->Z};
            krmXYZ2Lab(krmD50_XYZ(), &colour, &engineXyz);
        }
        result.requested.push_back(colour);

        krmUInt16Number device[krmMAXCHANNELS] = {};
        krmDoTransform(toDevice.get(), &colour, device, 1);
        krmCIELab measured{};
        krmDoTransform(obtained.get(), &colour, &measured, 1);
        result.obtainedLab.push_back(measured);
        for (int c = 0; c < n; ++c) {
            const float v = float(device[c]) / 65535.0f;
            result.inks[std::size_t(c)][std::size_t(k)] = v;
            result.total[std::size_t(k)] += v;
        }
        result.obtained[std::size_t(k)] = ramp == InkRamp::YPrimary
                                              ? float(std::clamp(measured.b / 128.0, 0.0, 1.0))
                                              : float(measured.L / 100.0);
    }

    for (int k = 0; k < kRampPositions; ++k)
        result.inkSum[std::size_t(k)] = result.total[std::size_t(k)] * 100.0f;
    const float largest = *std::max_element(result.total.begin(), result.total.end());
    if (largest > 0.0f) {
        for (float& v : result.total)
            v /= largest;
    }
    return result;
}

namespace {

// Fixed notation with '.' whatever LC_NUMERIC says, and no sign on a value that rounds to zero.
std::string fixed(double value, int decimals)
{
    char text[400];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (error != std::errc())
        return "nan";
    std::string result(text, end);
    if (result.size() > 1 && result[0] == '-' && result.find_first_not_of("0.", 1) == std::string::npos)
        result.erase(0, 1);
    return result;
}

}  // namespace

const char* obtained_name(InkRamp ramp)
{
    return ramp == InkRamp::YPrimary ? "Obtained b*" : "Obtained L*";
}

std::string separation_table(const SeparationRamp& ramp, InkRamp kind, const std::vector<std::string>& names)
{
    std::string text = "Position\tL*\ta*\tb*";
    for (int c = 0; c < ramp.channels; ++c)
        text += '\t' + (std::size_t(c) < names.size() ? names[std::size_t(c)] : "C" + std::to_string(c + 1));
    text += "\tTotal Ink\tInk sum (%)\t";
    text += obtained_name(kind);
    text += '\n';
    for (std::size_t k = 0; k < ramp.requested.size(); ++k) {
        text += fixed(double(k) / 100.0, 2);
        text += '\t' + fixed(ramp.requested[k].L, 4) + '\t' + fixed(ramp.requested[k].a, 4) + '\t'
                + fixed(ramp.requested[k].b, 4);
        for (const std::vector<float>& ink : ramp.inks)
            text += '\t' + fixed(ink[k], 6);
        text += '\t' + fixed(ramp.total[k], 6) + '\t' + fixed(ramp.inkSum[k], 2) + '\t' + fixed(ramp.obtained[k], 6);
        text += '\n';
    }
    return text;
}

std::string dot_gain_table(const std::vector<DotGainChannel>& channels, const std::vector<std::string>& names)
{
    std::string text = "Nominal (%)";
    for (const DotGainChannel& channel : channels) {
        if (!channel.failed)
            text += '\t' + (std::size_t(channel.channel) < names.size() ? names[std::size_t(channel.channel)] : "?");
    }
    text += '\n';
    for (int k = 0; k < kRampPositions; ++k) {
        text += std::to_string(k);
        for (const DotGainChannel& channel : channels) {
            if (!channel.failed)
                text += '\t' + fixed(channel.values[std::size_t(k)], 4);
        }
        text += '\n';
    }
    return text;
}

std::string dot_gain_name(const std::string& base, const DotGainChannel& channel)
{
    return channel.componentInName ? base + " (" + xyz_component_name(channel.component) + ")" : base;
}

const char* xyz_component_name(int component)
{
    static const char* const names[3] = {"X", "Y", "Z"};
    return names[std::clamp(component, 0, 2)];
}

std::optional<std::vector<DotGainChannel>> compute_dot_gain_values(krmProfile profile, int intent)
{
    const int n = device_channels(profile);
    const ProfilePtr xyzProfile(krmCreateXYZProfile());
    if (!xyzProfile || n < 4 || n > 15 || intent < 0 || intent > 2)
        return std::nullopt;
    const TransformPtr toXyz(krmCreateTransform(profile, device_words_format(n), xyzProfile.get(), krmFmtXYZDouble,
                                                krmUInt32Number(intent), krmFlagNoOptimize));
    if (!toXyz)
        return std::nullopt;
    const auto measure = [&](const krmUInt16Number* device) {
        krmCIEXYZ xyz{};
        krmDoTransform(toXyz.get(), device, &xyz, 1);
        return std::array<double, 3>{xyz.X, xyz.Y, xyz.Z};
    };

    const krmUInt16Number zeros[krmMAXCHANNELS] = {};
    const std::array<double, 3> paper = measure(zeros);
    const bool cmyk = krmGetProfileColorSpace(profile) == krmSig("CMYK");
    std::vector<DotGainChannel> channels;
    for (int c = 0; c < n; ++c) {
        DotGainChannel channel;
        channel.channel = c;
        channel.componentInName = !cmyk;
        krmUInt16Number device[krmMAXCHANNELS] = {};
        device[c] = 65535;
        const std::array<double, 3> solid = measure(device);
        if (cmyk) {
            // Each ink is read where a densitometer filter would see it; K in Y.
            static const int fixed[4] = {0, 1, 2, 1};
            channel.component = fixed[c];
        } else {
            channel.component = 0;
            for (int g = 1; g < 3; ++g) {
                if (std::fabs(paper[g] - solid[g]) > std::fabs(paper[channel.component] - solid[channel.component]))
                    channel.component = g;
            }
        }
        const int g = channel.component;
        const double d = paper[g] - solid[g];
        if (!std::isfinite(d) || std::fabs(d) < 1e-9) {
            channel.failed = true;
            channels.push_back(std::move(channel));
            continue;
        }
        for (int k = 0; k < kRampPositions; ++k) {
            device[c] = krmUInt16Number(std::lround(k * 65535.0 / 100.0));
            const double value = (paper[g] - measure(device)[g]) * 100.0 / d - k;
            if (!std::isfinite(value)) {
                channel.failed = true;
                break;
            }
            channel.values.push_back(value);
        }
        channels.push_back(std::move(channel));
    }
    return channels;
}

std::vector<std::string> ink_channel_names(krmProfile profile)
{
    const krmColorSpaceSignature space = profile ? krmGetProfileColorSpace(profile) : 0;
    const int n = device_channels(profile);
    std::vector<std::string> names;
    if (n < 1)
        return names;
    const void* data = krmIsTag(profile, krmSig("clrt")) ? krmReadTag(profile, krmSig("clrt")) : nullptr;
    if (data && krmGetTagStoredType(profile, krmSig("clrt")) == krmSig("clrt")) {
        const auto* list = static_cast<const krmNamedColorList*>(data);
        if (int(krmNamedColorCount(list)) == n) {
            for (krmUInt32Number i = 0; i < krmUInt32Number(n); ++i) {
                char name[krmMAX_NAMED_COLOR_NAME] = {};
                if (!krmNamedColorInfo(list, i, name, nullptr, nullptr, nullptr, nullptr))
                    break;
                names.emplace_back(name, strnlen(name, sizeof name));
            }
            if (int(names.size()) == n)
                return names;
        }
        names.clear();
    }
    if (space == krmSig("CMYK"))
        return {"C", "M", "Y", "K"};
    for (int i = 0; i < n; ++i)
        names.push_back("C" + std::to_string(i + 1));
    return names;
}
