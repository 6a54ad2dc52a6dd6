#include "imaging/ImageDecoder.h"

#include "imaging/CmykJpeg.h"
#include "imaging/TiffCodec.h"

#include <QBuffer>
#include <QImageReader>

namespace {

RasterImage read_with_qt(const QByteArray& bytes, ImageKind kind, qsizetype maxBytes, QString& error)
{
    QByteArray copy = bytes;  // shares the data; QBuffer wants a non-const array
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, qtFormatOf(kind));
    // Only the reader of the detected format: never probe every installed plug-in.
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() * 8 > maxBytes) {
        error = QStringLiteral("the image is too large (%1 × %2 pixels)").arg(size.width()).arg(size.height());
        return RasterImage();
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        error = reader.errorString();
        return RasterImage();
    }
    RasterImage r = RasterImage::fromQImage(image);
    if (r.isNull())
        error = QStringLiteral("the image is too large");
    return r;
}

} // namespace

DecodeResult decodeImage(const QByteArray& bytes, qsizetype maxBytes)
{
    DecodeResult result;
    result.kind = imageKindOf(bytes);
    switch (result.kind) {
    case ImageKind::Unknown:
        result.error = QStringLiteral("not a PNG, JPEG, BMP or TIFF file");
        return result;
    case ImageKind::Tiff:
        result.image = readTiff(bytes, maxBytes, result.error);
        return result;
    case ImageKind::Jpeg:
        result.image = isCmykJpeg(bytes) ? readCmykJpeg(bytes, maxBytes, result.error)
                                         : read_with_qt(bytes, result.kind, maxBytes, result.error);
        break;
    default:
        result.image = read_with_qt(bytes, result.kind, maxBytes, result.error);
        break;
    }
    if (!result.image.isNull())
        result.image.icc = embeddedProfile(bytes, result.kind);
    return result;
}
