#pragma once

// TIFF files through libtiff: 8- and 16-bit RGB, gray and CMYK, contiguous or planar, in strips
// or tiles, with the profile of tag 34675; other kinds (palette, YCbCr, 1-bit) as 8-bit RGB.

#include "imaging/RasterImage.h"

#include <QByteArray>
#include <QString>

// The image, or a null image with the reason in `error`.
RasterImage readTiff(const QByteArray& bytes, qsizetype maxBytes, QString& error);

// The profile of tag 34675 (ICC.1:2010 B.4), empty when there is none or the file is not TIFF.
QByteArray tiffProfile(const QByteArray& bytes);

// `image` as a deflate-compressed TIFF with `icc` embedded (when not empty); false with the
// reason in `error`.
bool writeTiff(const RasterImage& image, const QByteArray& icc, QByteArray& out, QString& error);
