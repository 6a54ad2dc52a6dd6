#pragma once

// One entry point for every image file the program reads: PNG, JPEG and BMP through Qt's
// built-in readers, CMYK JPEG through libjpeg-turbo and TIFF through libtiff; each keeps its own
// channels and depth and the profile the file carries.

#include "imaging/ImageProfiles.h"
#include "imaging/RasterImage.h"

#include <QByteArray>
#include <QString>

#include <functional>

struct DecodeResult {
    RasterImage image;  // null on failure
    ImageKind kind = ImageKind::Unknown;
    QString error;  // why the image is null
    bool cancelled = false;  // the progress callback stopped the decoding
};

// Told, on the decoding thread, the share of the file read so far (0..100) as the decoder reads
// it; returning false stops the decoding. PNG, RGB JPEG and BMP report as they read; TIFF and
// CMYK JPEG decode in one go and are only stopped before they start.
using DecodeProgress = std::function<bool(int percent)>;

// Decodes `bytes` (the format told by their first bytes, never by a name) into at most
// `maxBytes` of pixels. RGB images from Qt are oriented by their metadata.
DecodeResult decodeImage(const QByteArray& bytes, qsizetype maxBytes = kDefaultMaxImageBytes,
                         const DecodeProgress& progress = {});
