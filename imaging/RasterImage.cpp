#include "imaging/RasterImage.h"

#include <cstring>

krmUInt32Number RasterImage::engineFormat(bool withAlpha) const
{
    krmUInt32Number code = krmPT_RGB;
    if (space == krmSig("GRAY"))
        code = krmPT_GRAY;
    else if (space == krmSig("CMYK"))
        code = krmPT_CMYK;
    return krmFMT_COLORSPACE(code) | krmFMT_CHANNELS(krmUInt32Number(colorChannels)) |
           krmFMT_EXTRA(withAlpha ? 1 : 0) | krmFMT_BYTES(krmUInt32Number(bytesPerSample));
}

bool RasterImage::allocate(qsizetype maxBytes)
{
    pixels.clear();
    if (width <= 0 || height <= 0 || colorChannels <= 0)
        return false;
    const qint64 line = qint64(width) * bytesPerPixel();
    if (line > maxBytes || qint64(height) > maxBytes / line)
        return false;
    bytesPerLine = qsizetype(line);
    pixels = QByteArray(bytesPerLine * height, '\0');
    return true;
}

QRgb RasterImage::rgbAt(int x, int y) const
{
    const uchar* p = scanLine(y) + qsizetype(x) * bytesPerPixel();
    auto sample = [&](int i) -> int {
        if (bytesPerSample == 2) {
            quint16 v;
            std::memcpy(&v, p + 2 * i, 2);
            return v >> 8;
        }
        return p[i];
    };
    const int a = alpha ? sample(colorChannels) : 255;
    if (space == krmSig("GRAY"))
        return qRgba(sample(0), sample(0), sample(0), a);
    if (space == krmSig("CMYK")) {
        const int k = 255 - sample(3);
        return qRgba((255 - sample(0)) * k / 255, (255 - sample(1)) * k / 255, (255 - sample(2)) * k / 255, a);
    }
    return qRgba(sample(0), sample(1), sample(2), a);
}

QImage RasterImage::toQImage() const
{
    if (isNull())
        return QImage();
    // 8-bit RGB and gray are Qt layouts already: copy whole lines.
    if (bytesPerSample == 1 && space != krmSig("CMYK") && !(space == krmSig("GRAY") && alpha)) {
        const QImage::Format format = space == krmSig("GRAY") ? QImage::Format_Grayscale8
                                      : alpha                  ? QImage::Format_RGBA8888
                                                               : QImage::Format_RGB888;
        QImage out(width, height, format);
        if (out.isNull())
            return out;
        for (int y = 0; y < height; ++y)
            std::memcpy(out.scanLine(y), scanLine(y), size_t(bytesPerLine));
        return out;
    }
    QImage out(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (out.isNull())
        return out;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = rgbAt(x, y);
    }
    return out;
}

RasterImage RasterImage::fromQImage(const QImage& image)
{
    RasterImage r;
    if (image.isNull())
        return r;
    r.width = image.width();
    r.height = image.height();
    const QImage::Format f = image.format();
    QImage source;
    if (f == QImage::Format_Grayscale8 || f == QImage::Format_Grayscale16) {
        r.space = krmSig("GRAY");
        r.colorChannels = 1;
        r.bytesPerSample = f == QImage::Format_Grayscale16 ? 2 : 1;
        source = image;
    } else {
        r.space = krmSig("RGB ");
        r.colorChannels = 3;
        r.alpha = image.hasAlphaChannel();
        // Deep formats keep their 16 bits; everything else is 8-bit RGB(A).
        const bool deep = image.depth() >= 64;
        r.bytesPerSample = deep ? 2 : 1;
        // What Qt's PNG and JPEG readers give: taken apart pixel by pixel in one pass, without
        // an intermediate copy of the whole picture (24 megapixels are 72 MB).
        if (f == QImage::Format_RGB32 || f == QImage::Format_ARGB32) {
            if (!r.allocate(kDefaultMaxImageBytes))
                return RasterImage();
            const int step = r.channels();
            const bool alpha = r.alpha;
            for (int y = 0; y < r.height; ++y) {
                const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
                uchar* out = r.scanLine(y);
                for (int x = 0; x < r.width; ++x, out += step) {
                    const QRgb p = in[x];
                    out[0] = uchar(qRed(p));
                    out[1] = uchar(qGreen(p));
                    out[2] = uchar(qBlue(p));
                    if (alpha)
                        out[3] = uchar(qAlpha(p));
                }
            }
            return r;
        }
        const QImage::Format wanted = deep ? QImage::Format_RGBA64 : r.alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888;
        source = image.format() == wanted ? image : image.convertToFormat(wanted);
    }
    if (!r.allocate(kDefaultMaxImageBytes) || source.isNull())
        return RasterImage();
    const int sourceChannels = r.space == krmSig("GRAY") ? 1 : source.format() == QImage::Format_RGB888 ? 3 : 4;
    const int bps = r.bytesPerSample;
    const int keep = r.channels();
    for (int y = 0; y < r.height; ++y) {
        const uchar* in = source.constScanLine(y);
        uchar* out = r.scanLine(y);
        if (keep == sourceChannels) {
            std::memcpy(out, in, size_t(r.width) * size_t(keep * bps));
            continue;
        }
        for (int x = 0; x < r.width; ++x)
            std::memcpy(out + x * keep * bps, in + x * sourceChannels * bps, size_t(keep * bps));
    }
    return r;
}

ImagePixels RasterImage::analysisPixels(krmProfile profile) const
{
    ImagePixels view;
    view.data = reinterpret_cast<const std::uint8_t*>(pixels.constData());
    view.width = width;
    view.height = height;
    view.bytesPerLine = std::size_t(bytesPerLine);
    view.bytesPerPixel = std::size_t(bytesPerPixel());
    view.format = engineFormat();
    view.profile = profile;
    return view;
}
