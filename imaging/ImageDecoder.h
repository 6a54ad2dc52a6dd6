#pragma once

// One entry point for every image file the program reads: PNG, JPEG and BMP through Qt's
// built-in readers, CMYK JPEG through libjpeg-turbo and TIFF through libtiff; each keeps its own
// channels and depth and the profile the file carries.

#include "imaging/ImageProfiles.h"
#include "imaging/RasterImage.h"

#include <QByteArray>
#include <QString>

struct DecodeResult {
    RasterImage image;  // null on failure
    ImageKind kind = ImageKind::Unknown;
    QString error;  // why the image is null
};

// Decodes `bytes` (the format told by their first bytes, never by a name) into at most
// `maxBytes` of pixels. RGB images from Qt are oriented by their metadata.
DecodeResult decodeImage(const QByteArray& bytes, qsizetype maxBytes = kDefaultMaxImageBytes);
