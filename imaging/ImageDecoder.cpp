#include "imaging/ImageDecoder.h"

#include "imaging/CmykJpeg.h"
#include "imaging/TiffCodec.h"

#include <QIODevice>
#include <QImageReader>

#include <cstring>

namespace {

// The file as Qt's readers see it: each read tells the progress callback how far the reader got,
// and fails once the callback says stop, which ends the decoding with an error. Not a QBuffer:
// the JPEG reader takes a QBuffer's bytes directly, without reading.
class ProgressDevice : public QIODevice {
public:
    ProgressDevice(const QByteArray& bytes, const DecodeProgress& progress) : bytes_(bytes), progress_(progress)
    {
        open(QIODevice::ReadOnly);
    }
    bool stopped() const { return stopped_; }
    qint64 size() const override { return bytes_.size(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (progress_ && !progress_(int(pos() * 100 / qMax<qint64>(1, size()))))
            stopped_ = true;
        if (stopped_)
            return -1;
        const qint64 n = qBound<qint64>(0, size() - pos(), maxSize);
        std::memcpy(data, bytes_.constData() + pos(), size_t(n));
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    const QByteArray& bytes_;
    const DecodeProgress& progress_;
    bool stopped_ = false;
};

RasterImage read_with_qt(const QByteArray& bytes, ImageKind kind, qsizetype maxBytes, const DecodeProgress& progress,
                         QString& error, bool& cancelled)
{
    ProgressDevice device(bytes, progress);
    QImageReader reader(&device, qtFormatOf(kind));
    // Only the reader of the detected format: never probe every installed plug-in.
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() * 8 > maxBytes) {
        error = QStringLiteral("the image is too large (%1 × %2 pixels)").arg(size.width()).arg(size.height());
        return RasterImage();
    }
    const QImage image = reader.read();
    if (device.stopped()) {
        cancelled = true;
        error = QStringLiteral("cancelled");
        return RasterImage();
    }
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

DecodeResult decodeImage(const QByteArray& bytes, qsizetype maxBytes, const DecodeProgress& progress)
{
    DecodeResult result;
    result.kind = imageKindOf(bytes);
    if (result.kind == ImageKind::Unknown) {
        result.error = QStringLiteral("not a PNG, JPEG, BMP or TIFF file");
        return result;
    }
    if (progress && !progress(0)) {
        result.cancelled = true;
        result.error = QStringLiteral("cancelled");
        return result;
    }
    switch (result.kind) {
    case ImageKind::Tiff:
        result.image = readTiff(bytes, maxBytes, result.error);
        return result;
    case ImageKind::Jpeg:
        result.image = isCmykJpeg(bytes)
                           ? readCmykJpeg(bytes, maxBytes, result.error)
                           : read_with_qt(bytes, result.kind, maxBytes, progress, result.error, result.cancelled);
        break;
    default:
        result.image = read_with_qt(bytes, result.kind, maxBytes, progress, result.error, result.cancelled);
        break;
    }
    if (!result.image.isNull())
        result.image.icc = embeddedProfile(bytes, result.kind);
    return result;
}
