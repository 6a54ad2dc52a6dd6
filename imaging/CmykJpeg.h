#pragma once

// CMYK (and YCCK) JPEG files through libjpeg-turbo, which Qt would turn into RGB without their
// profile. Adobe's writers store the inks inverted (0 = full ink); the reader turns them round, so
// the samples mean what a CMYK profile expects.

#include "imaging/RasterImage.h"

#include <QByteArray>
#include <QString>

// True when the JPEG's frame has four components (CMYK or YCCK).
bool isCmykJpeg(const QByteArray& bytes);

// The image as 8-bit CMYK, or a null image with the reason in `error`. The profile is not read
// here (see ImageProfiles.h).
RasterImage readCmykJpeg(const QByteArray& bytes, qsizetype maxBytes, QString& error);

// `image` (8-bit CMYK) as a JPEG, by default in Adobe's convention: an APP14 marker and inverted
// inks, the form Photoshop writes and CMYK JPEG readers expect. Without it the inks are stored
// as they are. Empty on failure.
QByteArray writeCmykJpeg(const RasterImage& image, int quality, bool adobe = true);
