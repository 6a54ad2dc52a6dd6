#pragma once

#include <krm.h>

#include <QColor>
#include <QFont>
#include <QList>
#include <QStringList>

#include <functional>

class QPalette;

// How every pipeline-related viewer names and colours the channels of a colour space: the colour
// of channel i, the short channel names, names and colours from colorant tables, the input and
// output spaces of a LUT-like tag, and the scaling of 16-bit codes to the numbers users read.

// True when the palette's window colour has a lightness below 128 (the application palette when
// none is given).
bool is_dark_palette();
bool is_dark_palette(const QPalette& palette);

// The grid of diagrams: #050505 on a dark palette, #bebebe otherwise.
QColor grid_color();

// The application font at `points` with `weight`, upright: the text of every diagram scene.
QFont scene_font(int points, QFont::Weight weight);

// Light shades read on dark backgrounds, dark shades on light ones; Auto follows the palette.
enum class ChannelShade { Auto, Light, Dark };

// The colour of channel `index` of `space`. Spaces and channels without a colour of their own
// take a generic table of sixteen hues by index.
QColor channel_color(krmColorSpaceSignature space, int index, ChannelShade shade = ChannelShade::Auto);

// "R", "G", "B" for RGB, "L*", "a*", "b*" for Lab and so on; "C1" … "Cn" for other spaces.
QStringList default_channel_names(krmColorSpaceSignature space);

// The colorant names of a colorant table tag ('clrt' or 'clot'); empty when the profile has no
// such tag or one colorant cannot be read.
QStringList colorant_names(krmProfile profile, krmTagSignature tag);

// Display colours of the colorants of a colorant table tag, their lightness limited so that they
// stay legible on the palette; empty without the tag or when a colorant cannot be read. Throws
// QException when the transform to the display cannot be built.
QList<QColor> colorant_colors(krmProfile profile, krmTagSignature tag);

// Turns a 16-bit code of one channel into the number shown to the user.
using ChannelFormatter = std::function<double(krmUInt16Number)>;

// One formatter per channel of `space` (one for GRAY): 0..255 for RGB and grey, percent for inks,
// L*a*b* by the profile's version, XYZ in 1.15 fixed point, 0..1 for the remaining spaces.
QList<ChannelFormatter> get_channel_formatters(krmProfile profile, krmColorSpaceSignature space);
// The same for the values flowing through LUT tag `tag`: L*a*b* in the encoding of the tag's own
// type ('mft1' 8-bit, 'mft2' legacy 16-bit, 'mAB '/'mBA ' full range), by version for other tags.
QList<ChannelFormatter> get_channel_formatters(krmProfile profile, krmTagSignature tag, krmColorSpaceSignature space);

// The spaces a LUT-like tag converts from and to.
struct TagIOSpaces {
    krmColorSpaceSignature input = 0;
    krmColorSpaceSignature output = 0;
};

// Throws QException for a tag that is not LUT-like.
TagIOSpaces tag_io_spaces(krmProfile profile, krmTagSignature tag);

struct TagChannels {
    QStringList inputNames;
    QList<QColor> inputColors;
    QStringList outputNames;
    QList<QColor> outputColors;
    QList<ChannelFormatter> outputFormatters;
};

// Names and colours of the input and output channels of a LUT-like tag (from colorant tables
// when they match the space, else the defaults) and the formatters of its output space. Throws
// QException for a tag that is not LUT-like.
TagChannels describe_tag_channels(krmProfile profile, krmTagSignature tag);
