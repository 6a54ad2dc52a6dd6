#pragma once

// ICC profiles inside image files: finding the embedded one and embedding one, byte for byte,
// in PNG ('iCCP' chunk) and JPEG (APP2 "ICC_PROFILE" segments); TIFF's tag 34675 is read and
// written through libtiff (TiffCodec.h).

#include <QByteArray>
#include <QString>

enum class ImageKind { Unknown, Png, Jpeg, Bmp, Tiff };

// From the first bytes of a file.
ImageKind imageKindOf(const QByteArray& bytes);
const char* qtFormatOf(ImageKind kind);  // "png", "jpeg", "bmp", "tiff"

// The embedded profile's bytes, empty when there is none (or it is damaged). JPEG chunks are
// joined in number order up to the first missing one.
QByteArray embeddedProfile(const QByteArray& file, ImageKind kind);
// Where a kind of image keeps its profile, for messages ("PNG iCCP chunk"); empty for BMP.
QString embeddedProfilePlace(ImageKind kind);

// The file with `profile` embedded, replacing any profile or colour-space chunk it had; empty
// when the file is not a well-formed PNG or JPEG.
QByteArray embedProfilePng(const QByteArray& png, const QByteArray& profile);
QByteArray embedProfileJpeg(const QByteArray& jpeg, const QByteArray& profile);
