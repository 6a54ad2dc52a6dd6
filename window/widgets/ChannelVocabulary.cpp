#include "window/widgets/ChannelVocabulary.h"

#include "common/signatures/SignatureRange.h"
#include "window/widgets/TagAccess.h"
#include "window/widgets/ScreenColor.h"

#include <QException>
#include <QGuiApplication>
#include <QPalette>

#include <algorithm>
#include <memory>
#include <type_traits>

namespace {

struct HueSaturation {
    int hue;
    int saturation;
};

constexpr HueSaturation kAchromatic = {0, 0};

constexpr HueSaturation kGenericChannels[16] = {
    {180, 220}, {300, 220}, {60, 220},  kAchromatic, {30, 220},  {270, 220}, {150, 220}, {350, 220},
    {10, 220},  {45, 220},  {90, 220},  {120, 220},  {210, 220}, {240, 220}, {285, 220}, {325, 220},
};

struct SpaceColors {
    krmColorSpaceSignature space;
    QList<HueSaturation> channels;
};

const SpaceColors kSpaceColors[] = {
    {krmSig("RGB "), {{0, 220}, {120, 200}, {240, 220}}},
    {krmSig("CMY "), {{180, 220}, {300, 220}, {60, 220}}},
    {krmSig("CMYK"), {{180, 220}, {300, 220}, {60, 220}, kAchromatic}},
    {krmSig("Lab "), {{45, 60}, {120, 200}, {55, 200}}},
    {krmSig("XYZ "), {{0, 150}, {120, 150}, {240, 150}}},
};

HueSaturation hue_saturation(krmColorSpaceSignature space, int index)
{
    if (space == krmSig("GRAY"))
        return kAchromatic;
    for (const SpaceColors& entry : kSpaceColors) {
        if (entry.space == space && index >= 0 && index < entry.channels.size())
            return entry.channels[index];
    }
    return kGenericChannels[((index % 16) + 16) % 16];
}

struct SpaceNames {
    krmColorSpaceSignature space;
    QStringList names;
};

const SpaceNames& space_names(int i)
{
    static const SpaceNames table[] = {
        {krmSig("CMY "), {"C", "M", "Y"}},      {krmSig("CMYK"), {"C", "M", "Y", "K"}},
        {krmSig("GRAY"), {"G"}},                {krmSig("HLS "), {"H", "s", "l"}},
        {krmSig("HSV "), {"H", "s", "v"}},      {krmSig("Lab "), {"L*", "a*", "b*"}},
        {krmSig("Luv "), {"L", "u", "v"}},      {krmSig("RGB "), {"R", "G", "B"}},
        {krmSig("XYZ "), {"X", "Y", "Z"}},      {krmSig("YCbr"), {"Y", "Cb", "Cr"}},
        {krmSig("Yxy "), {"Y", "x", "y"}},
    };
    return table[i];
}
constexpr int kSpaceNameCount = 11;

const krmNamedColorList* colorant_table(krmProfile profile, krmTagSignature tag)
{
    if (!profile || !krmIsTag(profile, tag))
        return nullptr;
    const void* data = krmReadTag(profile, tag);
    // Permissive reading may decode another type under this signature: only a colorant table is one.
    if (!data || krmGetTagStoredType(profile, tag) != krmSig("clrt"))
        return nullptr;
    return static_cast<const krmNamedColorList*>(data);
}

bool is_device_link(krmProfile profile)
{
    return krmGetProfileClass(profile) == krmSig("link");
}

// Each byte of `value` lies between the matching bytes of `low` and `high`.
bool in_range(krmUInt32Number value, const char (&low)[5], const char (&high)[5])
{
    return signature_in_range(value, low, high);
}

enum class TagDirection { None, DeviceToPcs, PcsToDevice, Gamut, Preview };

TagDirection tag_direction(krmTagSignature tag)
{
    if (in_range(tag, "A2B0", "A2B2") || in_range(tag, "D2B0", "D2B3") || tag == MatrixShaperTag)
        return TagDirection::DeviceToPcs;
    if (in_range(tag, "B2A0", "B2A2") || in_range(tag, "B2D0", "B2D3") || tag == krmSig("MHC2"))
        return TagDirection::PcsToDevice;
    if (tag == krmSig("gamt"))
        return TagDirection::Gamut;
    if (in_range(tag, "pre0", "pre2"))
        return TagDirection::Preview;
    return TagDirection::None;
}

int channel_count(krmColorSpaceSignature space)
{
    return int(krmChannelsOf(space));
}

// Names and colours of the channels of `space`: the colorant table's when it has one entry per
// channel, else the defaults.
void space_channels(krmProfile profile, krmTagSignature colorantTag, krmColorSpaceSignature space, QStringList& names,
                    QList<QColor>& colors)
{
    const int n = channel_count(space);
    names = colorant_names(profile, colorantTag);
    if (names.size() != n)
        names = default_channel_names(space);
    colors = colorant_colors(profile, colorantTag);
    if (colors.size() != n) {
        colors.clear();
        for (int i = 0; i < n; ++i)
            colors << channel_color(space, i);
    }
}

void default_space_channels(krmColorSpaceSignature space, QStringList& names, QList<QColor>& colors)
{
    names = default_channel_names(space);
    colors.clear();
    for (int i = 0; i < channel_count(space); ++i)
        colors << channel_color(space, i);
}

// A formatter scaling codes linearly: code * scale + offset.
ChannelFormatter linear(double scale, double offset = 0.0)
{
    return [scale, offset](krmUInt16Number v) { return double(v) * scale + offset; };
}

}  // namespace

bool is_dark_palette(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

bool is_dark_palette()
{
    return is_dark_palette(QGuiApplication::palette());
}

QColor grid_color()
{
    return is_dark_palette() ? QColor(0x05, 0x05, 0x05) : QColor(0xbe, 0xbe, 0xbe);
}

QFont scene_font(int points, QFont::Weight weight)
{
    QFont font = QGuiApplication::font();
    font.setPointSize(points);
    font.setWeight(weight);
    font.setStyle(QFont::StyleNormal);
    return font;
}

QColor channel_color(krmColorSpaceSignature space, int index, ChannelShade shade)
{
    const bool light = shade == ChannelShade::Light || (shade == ChannelShade::Auto && is_dark_palette());
    const HueSaturation hs = hue_saturation(space, index);
    return QColor::fromHsl(hs.hue, hs.saturation, light ? 170 : 100, 255);
}

QStringList default_channel_names(krmColorSpaceSignature space)
{
    for (int i = 0; i < kSpaceNameCount; ++i) {
        if (space_names(i).space == space)
            return space_names(i).names;
    }
    QStringList names;
    for (int i = 1; i <= channel_count(space); ++i)
        names << QStringLiteral("C%1").arg(i);
    return names;
}

QStringList colorant_names(krmProfile profile, krmTagSignature tag)
{
    const krmNamedColorList* list = colorant_table(profile, tag);
    if (!list)
        return {};
    QStringList names;
    const krmUInt32Number count = krmNamedColorCount(list);
    for (krmUInt32Number i = 0; i < count; ++i) {
        char name[krmMAX_NAMED_COLOR_NAME] = {};
        if (!krmNamedColorInfo(list, i, name, nullptr, nullptr, nullptr, nullptr))
            return {};
        names << QString::fromUtf8(name, qsizetype(qstrnlen(name, sizeof name)));
    }
    return names;
}

QList<QColor> colorant_colors(krmProfile profile, krmTagSignature tag)
{
    const krmNamedColorList* list = colorant_table(profile, tag);
    if (!list)
        return {};

    const KrmTransformPtr toDisplay = lab_to_screen_transform();
    if (!toDisplay)
        throw QException();

    const krmColorSpaceSignature pcsSpace =
        krmGetProfilePCS(profile) == krmSig("XYZ ") ? krmSig("XYZ ") : krmSig("Lab ");
    const bool dark = is_dark_palette();
    QList<QColor> colors;
    const krmUInt32Number count = krmNamedColorCount(list);
    for (krmUInt32Number i = 0; i < count; ++i) {
        krmUInt16Number pcs[3] = {};
        if (!krmNamedColorInfo(list, i, nullptr, nullptr, nullptr, pcs, nullptr))
            return {};
        krmCIELab value = pcs_words_to_lab(pcsSpace, pcs).value_or(krmCIELab{0.0, 0.0, 0.0});
        // Dark inks vanish on a dark page and pale ones on a light page.
        value.L = dark ? std::max(value.L, 72.0) : std::min(value.L, 55.0);
        colors << screen_color(toDisplay.get(), value);
    }
    return colors;
}

namespace {

// L*a*b* over the full 16-bit range (version 4, and 8-bit tables: 255 · 257 = 65535) and in the
// version-2 16-bit encoding whose 100 sits at 0xFF00.
QList<ChannelFormatter> lab_full_range()
{
    return {linear(100.0 / 65535.0), linear(255.0 / 65535.0, -128.0), linear(255.0 / 65535.0, -128.0)};
}

QList<ChannelFormatter> lab_legacy_16()
{
    return {linear(100.0 / 65280.0), linear(1.0 / 256.0, -128.0), linear(1.0 / 256.0, -128.0)};
}

}  // namespace

QList<ChannelFormatter> get_channel_formatters(krmProfile profile, krmTagSignature tag, krmColorSpaceSignature space)
{
    if (space == krmSig("Lab ") && profile) {
        // The encoding is the tag type's, whatever the profile's version: only 'mft2' keeps the
        // legacy 16-bit one (the engine inserts its version-2 conversion for that type alone).
        // The stored type is known once the tag has been read (it stays cached).
        krmReadTag(profile, tag);
        const krmTagTypeSignature stored = krmGetTagStoredType(profile, tag);
        if (stored == krmSig("mft2"))
            return lab_legacy_16();
        if (stored == krmSig("mft1") || stored == krmSig("mAB ") || stored == krmSig("mBA "))
            return lab_full_range();
    }
    return get_channel_formatters(profile, space);
}

QList<ChannelFormatter> get_channel_formatters(krmProfile profile, krmColorSpaceSignature space)
{
    if (space == krmSig("Lab "))
        return profile && krmGetProfileVersion(profile) >= 4.0 ? lab_full_range() : lab_legacy_16();

    ChannelFormatter formatter;
    if (space == krmSig("RGB ") || space == krmSig("GRAY"))
        formatter = linear(255.0 / 65535.0);
    else if (space == krmSig("XYZ "))
        formatter = linear(1.0 / 32768.0);
    else if (space == krmSig("Luv ") || space == krmSig("YCbr") || space == krmSig("HLS ") || space == krmSig("HSV ")
             || space == krmSig("Yxy "))
        formatter = linear(1.0 / 65535.0);
    else
        formatter = linear(100.0 / 65535.0);
    const int n = space == krmSig("GRAY") ? 1 : channel_count(space);
    return QList<ChannelFormatter>(n, formatter);
}

TagIOSpaces tag_io_spaces(krmProfile profile, krmTagSignature tag)
{
    if (!profile)
        throw QException();
    const krmColorSpaceSignature device = krmGetProfileColorSpace(profile);
    const krmColorSpaceSignature pcs = krmGetProfilePCS(profile);
    switch (tag_direction(tag)) {
    case TagDirection::DeviceToPcs:
        return {device, pcs};
    case TagDirection::PcsToDevice:
        return {pcs, device};
    case TagDirection::Gamut:
        return {pcs, krmSig("GRAY")};
    case TagDirection::Preview:
        return {pcs, pcs};
    case TagDirection::None:
        break;
    }
    throw QException();
}

TagChannels describe_tag_channels(krmProfile profile, krmTagSignature tag)
{
    const TagIOSpaces spaces = tag_io_spaces(profile, tag);
    TagChannels channels;
    const TagDirection direction = tag_direction(tag);
    if (direction == TagDirection::DeviceToPcs)
        space_channels(profile, krmSig("clrt"), spaces.input, channels.inputNames, channels.inputColors);
    else
        default_space_channels(spaces.input, channels.inputNames, channels.inputColors);

    // A device link's output side is described by a colorant table of its own.
    if (direction == TagDirection::DeviceToPcs && is_device_link(profile))
        space_channels(profile, krmSig("clot"), spaces.output, channels.outputNames, channels.outputColors);
    else if (direction == TagDirection::PcsToDevice)
        space_channels(profile, krmSig("clrt"), spaces.output, channels.outputNames, channels.outputColors);
    else
        default_space_channels(spaces.output, channels.outputNames, channels.outputColors);

    channels.outputFormatters = get_channel_formatters(profile, tag, spaces.output);
    return channels;
}
