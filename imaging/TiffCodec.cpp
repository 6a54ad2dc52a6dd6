#include "imaging/TiffCodec.h"

#include <tiffio.h>

#include <QSysInfo>
#include <QtEndian>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// A byte stream for libtiff over a buffer: read-only over the input, growing over the output.
struct MemoryStream {
    const char* data = nullptr;
    QByteArray* sink = nullptr;
    toff_t size = 0;
    toff_t pos = 0;
    QString error;
};

tsize_t stream_read(thandle_t h, tdata_t buf, tsize_t n)
{
    auto* s = static_cast<MemoryStream*>(h);
    if (n <= 0 || s->pos >= s->size)
        return 0;
    const toff_t count = std::min<toff_t>(toff_t(n), s->size - s->pos);
    std::memcpy(buf, (s->sink ? s->sink->constData() : s->data) + s->pos, size_t(count));
    s->pos += count;
    return tsize_t(count);
}

tsize_t stream_write(thandle_t h, tdata_t buf, tsize_t n)
{
    auto* s = static_cast<MemoryStream*>(h);
    if (!s->sink || n < 0)
        return 0;
    const toff_t end = s->pos + toff_t(n);
    if (end > toff_t(s->sink->size()))
        s->sink->resize(qsizetype(end));
    std::memcpy(s->sink->data() + s->pos, buf, size_t(n));
    s->pos = end;
    s->size = std::max(s->size, end);
    return n;
}

toff_t stream_seek(thandle_t h, toff_t offset, int whence)
{
    auto* s = static_cast<MemoryStream*>(h);
    toff_t base = 0;
    if (whence == SEEK_CUR)
        base = s->pos;
    else if (whence == SEEK_END)
        base = s->size;
    const toff_t target = base + offset;
    // A reader may only seek inside its buffer; a writer may leave a hole that is filled later.
    if (!s->sink && target > s->size)
        return toff_t(-1);
    s->pos = target;
    return target;
}

int stream_close(thandle_t) { return 0; }
toff_t stream_size(thandle_t h) { return static_cast<MemoryStream*>(h)->size; }
int stream_map(thandle_t, tdata_t*, toff_t*) { return 0; }
void stream_unmap(thandle_t, tdata_t, toff_t) {}

int keep_first_error(TIFF*, void* user, const char* module, const char* fmt, va_list ap)
{
    auto* s = static_cast<MemoryStream*>(user);
    if (s->error.isEmpty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, fmt, ap);
        s->error = QString::fromUtf8(text);
    }
    return 1;
}

int ignore_warning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Opens the stream with libtiff's messages kept in it instead of printed.
TIFF* open_stream(MemoryStream& stream, const char* mode, qsizetype maxBytes)
{
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, keep_first_error, &stream);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignore_warning, &stream);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(maxBytes));
    TIFF* tif = TIFFClientOpenExt("image", mode, &stream, stream_read, stream_write, stream_seek, stream_close,
                                  stream_size, stream_map, stream_unmap, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

struct TiffCloser {
    TIFF* tif;
    ~TiffCloser()
    {
        if (tif)
            TIFFClose(tif);
    }
};

// Where one decoded block (a line or tile of one plane or of all samples) goes in the image.
struct Layout {
    int samplesPerPixel = 0;  // samples in the file per pixel
    int keep = 0;             // samples kept per pixel (colours and alpha)
    int bytesPerSample = 1;
    bool planar = false;
    bool invert = false;  // MINISWHITE: 0 is white
};

// Copies `count` pixels starting at column x0 of row y from a decoded block of plane `plane`
// (every plane when contiguous) into the image.
void copy_pixels(RasterImage& image, const Layout& l, const uchar* from, int x0, int y, int count, int plane)
{
    const int bps = l.bytesPerSample;
    uchar* to = image.scanLine(y) + qsizetype(x0) * image.bytesPerPixel();
    const int first = l.planar ? plane : 0;
    const int last = l.planar ? plane + 1 : l.keep;
    const int step = l.planar ? 1 : l.samplesPerPixel;
    if (first >= l.keep)
        return;
    for (int x = 0; x < count; ++x) {
        for (int s = first; s < last; ++s) {
            const uchar* src = from + (qsizetype(x) * step + (s - first)) * bps;
            uchar* dst = to + (qsizetype(x) * l.keep + s) * bps;
            std::memcpy(dst, src, size_t(bps));
        }
    }
    if (l.invert) {
        // Gray stored 0 = white: turn it around so that samples mean what the profile expects.
        for (int x = 0; x < count; ++x) {
            uchar* dst = to + qsizetype(x) * l.keep * bps;
            if (bps == 1) {
                dst[0] = uchar(255 - dst[0]);
            } else {
                quint16 v;
                std::memcpy(&v, dst, 2);
                v = quint16(65535 - v);
                std::memcpy(dst, &v, 2);
            }
        }
    }
}

bool read_strips(TIFF* tif, RasterImage& image, const Layout& l)
{
    const tmsize_t lineSize = TIFFScanlineSize(tif);
    if (lineSize <= 0)
        return false;
    const qsizetype needed = qsizetype(image.width) * (l.planar ? 1 : l.samplesPerPixel) * l.bytesPerSample;
    if (lineSize < needed)
        return false;
    std::vector<uchar> line(static_cast<size_t>(lineSize));
    const int planes = l.planar ? l.samplesPerPixel : 1;
    for (int plane = 0; plane < planes; ++plane) {
        if (l.planar && plane >= l.keep)
            break;
        for (int y = 0; y < image.height; ++y) {
            if (TIFFReadScanline(tif, line.data(), uint32_t(y), uint16_t(plane)) < 0)
                return false;
            copy_pixels(image, l, line.data(), 0, y, image.width, plane);
        }
    }
    return true;
}

bool read_tiles(TIFF* tif, RasterImage& image, const Layout& l)
{
    uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
    const tmsize_t tileSize = TIFFTileSize(tif);
    if (tileWidth == 0 || tileHeight == 0 || tileSize <= 0)
        return false;
    const qint64 needed = qint64(tileWidth) * tileHeight * (l.planar ? 1 : l.samplesPerPixel) * l.bytesPerSample;
    if (tileSize < needed)
        return false;
    std::vector<uchar> tile(static_cast<size_t>(tileSize));
    const qsizetype tileLine = qsizetype(tileWidth) * (l.planar ? 1 : l.samplesPerPixel) * l.bytesPerSample;
    const int planes = l.planar ? std::min(l.samplesPerPixel, l.keep) : 1;
    for (int plane = 0; plane < planes; ++plane) {
        for (uint32_t ty = 0; ty < uint32_t(image.height); ty += tileHeight) {
            for (uint32_t tx = 0; tx < uint32_t(image.width); tx += tileWidth) {
                if (TIFFReadTile(tif, tile.data(), tx, ty, 0, uint16_t(plane)) < 0)
                    return false;
                const int count = int(std::min<uint32_t>(tileWidth, uint32_t(image.width) - tx));
                const uint32_t rows = std::min<uint32_t>(tileHeight, uint32_t(image.height) - ty);
                for (uint32_t r = 0; r < rows; ++r)
                    copy_pixels(image, l, tile.data() + qsizetype(r) * tileLine, int(tx), int(ty + r), count, plane);
            }
        }
    }
    return true;
}

// Any other kind of TIFF, through libtiff's own RGBA conversion (8 bits, top row first).
bool read_as_rgba(TIFF* tif, RasterImage& image, qsizetype maxBytes)
{
    image.space = krmSig("RGB ");
    image.colorChannels = 3;
    image.alpha = true;
    image.bytesPerSample = 1;
    if (!image.allocate(maxBytes))
        return false;
    if (!TIFFReadRGBAImageOriented(tif, uint32_t(image.width), uint32_t(image.height),
                                   reinterpret_cast<uint32_t*>(image.pixels.data()), ORIENTATION_TOPLEFT, 0))
        return false;
    // libtiff packs A, B, G, R from the most significant byte: R, G, B, A in little-endian memory.
    if (QSysInfo::ByteOrder == QSysInfo::BigEndian) {
        auto* p = reinterpret_cast<uint32_t*>(image.pixels.data());
        for (qsizetype i = 0, n = qsizetype(image.width) * image.height; i < n; ++i)
            p[i] = qFromLittleEndian(p[i]);
    }
    return true;
}

} // namespace

RasterImage readTiff(const QByteArray& bytes, qsizetype maxBytes, QString& error)
{
    MemoryStream stream;
    stream.data = bytes.constData();
    stream.size = toff_t(bytes.size());
    TIFF* tif = open_stream(stream, "rm", maxBytes);
    if (!tif) {
        error = stream.error.isEmpty() ? QStringLiteral("not a readable TIFF file") : stream.error;
        return RasterImage();
    }
    TiffCloser closer{tif};

    RasterImage image;
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 1, photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT, inkSet = INKSET_CMYK;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    uint16_t extraCount = 0;
    uint16_t* extraKinds = nullptr;
    TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds);
    uint32_t iccSize = 0;
    void* iccData = nullptr;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccSize, &iccData) && iccData && iccSize > 0)
        image.icc = QByteArray(static_cast<const char*>(iccData), qsizetype(iccSize));

    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) {
        error = QStringLiteral("the TIFF file gives no image size");
        return RasterImage();
    }
    image.width = int(width);
    image.height = int(height);

    Layout l;
    l.samplesPerPixel = samples;
    l.planar = planar == PLANARCONFIG_SEPARATE;
    if (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) {
        image.space = krmSig("GRAY");
        image.colorChannels = 1;
        l.invert = photometric == PHOTOMETRIC_MINISWHITE;
    } else if (photometric == PHOTOMETRIC_RGB) {
        image.space = krmSig("RGB ");
        image.colorChannels = 3;
    } else if (photometric == PHOTOMETRIC_SEPARATED && inkSet == INKSET_CMYK) {
        image.space = krmSig("CMYK");
        image.colorChannels = 4;
    }
    const bool direct = image.colorChannels > 0 && (bits == 8 || bits == 16) && sampleFormat == SAMPLEFORMAT_UINT &&
                        samples >= image.colorChannels;
    if (!direct) {
        if (image.space == krmSig("CMYK") || photometric == PHOTOMETRIC_SEPARATED) {
            error = QStringLiteral("%1-bit separated TIFF images with %2 samples are not supported").arg(bits).arg(samples);
            return RasterImage();
        }
        image.icc = image.space == 0 || image.space == krmSig("RGB ") ? image.icc : QByteArray();
        if (!read_as_rgba(tif, image, maxBytes)) {
            error = stream.error.isEmpty() ? QStringLiteral("cannot decode this kind of TIFF image") : stream.error;
            return RasterImage();
        }
        return image;
    }
    const int extras = samples - image.colorChannels;
    image.alpha = extras >= 1 && extraCount >= 1 && extraKinds &&
                  (extraKinds[0] == EXTRASAMPLE_ASSOCALPHA || extraKinds[0] == EXTRASAMPLE_UNASSALPHA);
    image.bytesPerSample = bits / 8;
    l.keep = image.channels();
    l.bytesPerSample = image.bytesPerSample;
    if (!image.allocate(maxBytes)) {
        error = QStringLiteral("the image is too large (%1 × %2 pixels)").arg(width).arg(height);
        return RasterImage();
    }
    const bool ok = TIFFIsTiled(tif) ? read_tiles(tif, image, l) : read_strips(tif, image, l);
    if (!ok) {
        error = stream.error.isEmpty() ? QStringLiteral("the TIFF image data is damaged") : stream.error;
        return RasterImage();
    }
    return image;
}

QByteArray tiffProfile(const QByteArray& bytes)
{
    MemoryStream stream;
    stream.data = bytes.constData();
    stream.size = toff_t(bytes.size());
    TIFF* tif = open_stream(stream, "rm", kDefaultMaxImageBytes);
    if (!tif)
        return QByteArray();
    TiffCloser closer{tif};
    uint32_t size = 0;
    void* data = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_ICCPROFILE, &size, &data) || !data)
        return QByteArray();
    return QByteArray(static_cast<const char*>(data), qsizetype(size));
}

bool writeTiff(const RasterImage& image, const QByteArray& icc, QByteArray& out, QString& error)
{
    out.clear();
    if (image.isNull()) {
        error = QStringLiteral("no image to write");
        return false;
    }
    MemoryStream stream;
    stream.sink = &out;
    TIFF* tif = open_stream(stream, "w", kDefaultMaxImageBytes);
    if (!tif) {
        error = stream.error;
        return false;
    }
    uint16_t photometric = PHOTOMETRIC_RGB;
    if (image.space == krmSig("GRAY"))
        photometric = PHOTOMETRIC_MINISBLACK;
    else if (image.space == krmSig("CMYK"))
        photometric = PHOTOMETRIC_SEPARATED;
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(image.width)) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(image.height)) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(image.channels())) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(image.bytesPerSample * 8)) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
              TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
              TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    if (ok && image.space == krmSig("CMYK"))
        ok = TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
    if (ok && image.alpha) {
        uint16_t kind = EXTRASAMPLE_UNASSALPHA;
        ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), &kind);
    }
    if (ok && !icc.isEmpty())
        ok = TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(icc.size()), icc.constData());
    std::vector<uchar> line(size_t(image.bytesPerLine));
    for (int y = 0; ok && y < image.height; ++y) {
        // libtiff may encode in place: hand it a copy of the line.
        std::memcpy(line.data(), image.scanLine(y), line.size());
        ok = TIFFWriteScanline(tif, line.data(), uint32_t(y), 0) >= 0;
    }
    TIFFClose(tif);
    if (!ok) {
        error = stream.error.isEmpty() ? QStringLiteral("libtiff could not write the image") : stream.error;
        out.clear();
    }
    out.truncate(qsizetype(stream.size));
    return ok;
}
