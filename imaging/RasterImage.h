#pragma once

// A decoded image in its own channels and depth: RGB, gray or CMYK samples of 8 or 16 bits
// (16-bit in host byte order), optionally followed by one alpha sample, with the bytes of the
// profile the file carried. The engine converts these samples as they are, so a CMYK or 16-bit
// image never passes through 8-bit RGB before its profile is applied.

#include "common/analysis/ImageGamut.h"

#include <krm.h>

#include <QByteArray>
#include <QImage>
#include <QString>

struct RasterImage {
    int width = 0;
    int height = 0;
    krmColorSpaceSignature space = 0;  // 'RGB ', 'GRAY' or 'CMYK'
    int colorChannels = 0;
    bool alpha = false;  // one alpha sample after the colour samples
    int bytesPerSample = 1;  // 1 or 2
    qsizetype bytesPerLine = 0;
    QByteArray pixels;
    QByteArray icc;  // the embedded profile's bytes; empty when the file has none

    bool isNull() const { return width <= 0 || height <= 0 || pixels.isEmpty(); }
    int channels() const { return colorChannels + (alpha ? 1 : 0); }
    int bytesPerPixel() const { return channels() * bytesPerSample; }
    const uchar* scanLine(int y) const { return reinterpret_cast<const uchar*>(pixels.constData()) + y * bytesPerLine; }
    uchar* scanLine(int y) { return reinterpret_cast<uchar*>(pixels.data()) + y * bytesPerLine; }

    // The engine's format word for the stored samples; `withAlpha` adds one extra sample even
    // when the image has none (buffers laid out for an alpha-copying transform).
    krmUInt32Number engineFormat() const { return engineFormat(alpha); }
    krmUInt32Number engineFormat(bool withAlpha) const;

    // Room for `width` × `height` pixels of this layout; false when the size is refused.
    bool allocate(qsizetype maxBytes);

    // The stored colour of one pixel as 8-bit RGB: RGB and gray as they are (16-bit reduced to
    // their high byte); CMYK by the plain ink formula, for swatches and unconverted views only.
    QRgb rgbAt(int x, int y) const;
    // The whole image the same way (for drawing when no transform can be made).
    QImage toQImage() const;

    // The samples as the shared image analyses read them, with the image's own `profile`.
    ImagePixels analysisPixels(krmProfile profile) const;

    // A Qt image in its nearest layout: gray 8/16, RGB 8/16, with alpha when it has one.
    static RasterImage fromQImage(const QImage& image);
};

// The largest pixel buffer a reader allocates by default (a 24-megapixel 16-bit CMYK image with
// alpha needs 240 MB).
constexpr qsizetype kDefaultMaxImageBytes = qsizetype(1) << 30;
