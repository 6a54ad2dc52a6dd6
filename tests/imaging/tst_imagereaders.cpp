// The image readers shared by the proofing view and prismet-cli: every kind of file the view
// accepts, with and without its profile, decoded to the samples that were written.
#include "imaging/CmykJpeg.h"
#include "imaging/ImageDecoder.h"
#include "imaging/TiffCodec.h"

#include <tiffio.h>

#include <cstdio>  // before jpeglib.h, which uses FILE
#include <jpeglib.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTest>

Q_DECLARE_METATYPE(RasterImage)

#include <cstring>
#include <functional>
#include <vector>

namespace {

const QString kColord = QStringLiteral("/usr/share/color/icc/colord/");
const QString kGhostscript = QStringLiteral("/usr/share/color/icc/ghostscript/");

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A pattern that reaches every sample value's high and low bits.
RasterImage pattern(krmColorSpaceSignature space, int depth, bool alpha, int width = 37, int height = 11)
{
    RasterImage r;
    r.width = width;
    r.height = height;
    r.space = space;
    r.colorChannels = space == krmSig("GRAY") ? 1 : space == krmSig("CMYK") ? 4 : 3;
    r.alpha = alpha;
    r.bytesPerSample = depth / 8;
    r.allocate(kDefaultMaxImageBytes);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < r.channels(); ++c) {
                const quint32 v = (quint32(x) * 2654435761u + quint32(y) * 40503u + quint32(c) * 977u) >> 7;
                uchar* p = r.scanLine(y) + (x * r.channels() + c) * r.bytesPerSample;
                if (depth == 8) {
                    *p = uchar(v);
                } else {
                    const quint16 w = quint16(v);
                    std::memcpy(p, &w, 2);
                }
            }
    return r;
}

// 8-bit CMYK as Adobe's writers store it with YCCK coding (APP14 transform 2): libjpeg turns
// the inverted inks into Y, Cb, Cr plus K itself.
QByteArray writeYcckJpeg(const RasterImage& r)
{
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(r.width);
    info.image_height = JDIMENSION(r.height);
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, JCS_YCCK);
    // No chroma subsampling: the test pattern's steps would blur across it.
    for (int c = 0; c < 4; ++c)
        info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(size_t(r.width) * 4);
    while (info.next_scanline < info.image_height) {
        const uchar* from = r.scanLine(int(info.next_scanline));
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = uchar(255 - from[i]);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray out(reinterpret_cast<const char*>(buffer), qsizetype(size));
    std::free(buffer);
    // The marker must say YCCK, or the case would test plain CMYK again.
    const qsizetype adobe = out.indexOf("Adobe");
    return adobe > 0 && adobe + 11 < out.size() && out[adobe + 11] == 2 ? out : QByteArray();
}

QImage toQImage(const RasterImage& r)
{
    if (r.space == krmSig("GRAY")) {
        QImage q(r.width, r.height, r.bytesPerSample == 2 ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8);
        for (int y = 0; y < r.height; ++y)
            std::memcpy(q.scanLine(y), r.scanLine(y), size_t(r.bytesPerLine));
        return q;
    }
    QImage q(r.width, r.height, r.bytesPerSample == 2 ? QImage::Format_RGBA64 : QImage::Format_RGBA8888);
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            uchar* to = q.scanLine(y) + x * 4 * r.bytesPerSample;
            std::memcpy(to, r.scanLine(y) + x * r.bytesPerPixel(), size_t(r.bytesPerPixel()));
            if (!r.alpha)
                std::memset(to + 3 * r.bytesPerSample, 0xFF, size_t(r.bytesPerSample));
        }
    return r.alpha ? q : q.convertToFormat(r.bytesPerSample == 2 ? QImage::Format_RGBX64 : QImage::Format_RGB888);
}

QByteArray qtEncoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 100);
    return bytes;
}

// A TIFF written by libtiff itself in the layouts our own writer never makes: planar or tiled.
QByteArray libtiffFile(const RasterImage& r, bool planar, bool tiled, bool minIsWhite = false)
{
    const QString path = QDir::temp().filePath(QStringLiteral("prismet-tst-%1.tif").arg(QCoreApplication::applicationPid()));
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    const int spp = r.channels();
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(r.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(r.height));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(spp));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(r.bytesPerSample * 8));
    const uint16_t photometric = r.space == krmSig("GRAY") ? (minIsWhite ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK)
                                 : r.space == krmSig("CMYK") ? PHOTOMETRIC_SEPARATED : PHOTOMETRIC_RGB;
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    if (r.alpha) {
        uint16_t kind = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), &kind);
    }
    if (!r.icc.isEmpty())
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(r.icc.size()), r.icc.constData());
    const int bps = r.bytesPerSample;
    auto sample = [&](int x, int y, int c) { return r.scanLine(y) + (x * spp + c) * bps; };
    if (tiled) {
        const int tw = 16, th = 16;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, uint32_t(tw));
        TIFFSetField(tif, TIFFTAG_TILELENGTH, uint32_t(th));
        std::vector<uchar> tile(size_t(tw * th * spp * bps));
        for (int plane = 0; plane < (planar ? spp : 1); ++plane)
            for (int ty = 0; ty < r.height; ty += th)
                for (int tx = 0; tx < r.width; tx += tw) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (int y = ty; y < std::min(ty + th, r.height); ++y)
                        for (int x = tx; x < std::min(tx + tw, r.width); ++x)
                            for (int c = 0; c < (planar ? 1 : spp); ++c) {
                                const int at = planar ? ((y - ty) * tw + (x - tx)) : (((y - ty) * tw + (x - tx)) * spp + c);
                                std::memcpy(&tile[size_t(at * bps)], sample(x, y, planar ? plane : c), size_t(bps));
                            }
                    TIFFWriteTile(tif, tile.data(), uint32_t(tx), uint32_t(ty), 0, uint16_t(plane));
                }
    } else {
        std::vector<uchar> line(size_t(r.width * spp * bps));
        for (int plane = 0; plane < (planar ? spp : 1); ++plane)
            for (int y = 0; y < r.height; ++y) {
                for (int x = 0; x < r.width; ++x)
                    for (int c = 0; c < (planar ? 1 : spp); ++c)
                        std::memcpy(&line[size_t(((planar ? x : x * spp + c)) * bps)], sample(x, y, planar ? plane : c), size_t(bps));
                TIFFWriteScanline(tif, line.data(), uint32_t(y), uint16_t(plane));
            }
    }
    TIFFClose(tif);
    const QByteArray bytes = fileBytes(path);
    QFile::remove(path);
    return bytes;
}

int maxDifference(const RasterImage& a, const RasterImage& b)
{
    int worst = 0;
    for (qsizetype i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
        worst = std::max(worst, std::abs(int(uchar(a.pixels[i])) - int(uchar(b.pixels[i]))));
    return worst;
}

// Writes an input to the seed folder of the image fuzz target when PRISMET_IMAGE_SEEDS names one.
void keepSeed(const QString& name, const QByteArray& bytes)
{
    const QString folder = qEnvironmentVariable("PRISMET_IMAGE_SEEDS");
    if (folder.isEmpty())
        return;
    QFile f(QDir(folder).filePath(name));
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

} // namespace

class TestImageReaders : public QObject
{
    Q_OBJECT

private slots:
    void decodesOwnChannelsAndDepth_data();
    void decodesOwnChannelsAndDepth();
    void jpegChunksJoinInNumberOrder();
    void pngWithoutProfileAndCompressedBombs();
    void tiffWriterRoundTrips();
    void damagedFilesNeverCrash();
    void progressRisesAndStopStops();
};

void TestImageReaders::decodesOwnChannelsAndDepth_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<RasterImage>("expected");
    QTest::addColumn<int>("tolerance");
    const QByteArray rgbProfile = fileBytes(kColord + QStringLiteral("AdobeRGB1998.icc"));
    const QByteArray grayProfile = fileBytes(kGhostscript + QStringLiteral("sgray.icc"));
    const QByteArray cmykProfile = fileBytes(kGhostscript + QStringLiteral("default_cmyk.icc"));
    QVERIFY(!rgbProfile.isEmpty() && !grayProfile.isEmpty() && !cmykProfile.isEmpty());

    struct Case {
        const char* name;
        krmColorSpaceSignature space;
        int depth;
        bool alpha;
        std::function<QByteArray(const RasterImage&)> write;
        int tolerance;
    };
    const auto png = [](const RasterImage& r) {
        const QByteArray plain = qtEncoded(toQImage(r), "png");
        return r.icc.isEmpty() ? plain : embedProfilePng(plain, r.icc);
    };
    const auto tiff = [](const RasterImage& r) {
        QByteArray out;
        QString error;
        writeTiff(r, r.icc, out, error);
        return out;
    };
    const Case cases[] = {
        {"png rgb8", krmSig("RGB "), 8, false, png, 0},
        {"png rgba8", krmSig("RGB "), 8, true, png, 0},
        {"png rgb16", krmSig("RGB "), 16, false, png, 0},
        {"png rgba16", krmSig("RGB "), 16, true, png, 0},
        {"png gray8", krmSig("GRAY"), 8, false, png, 0},
        {"png gray16", krmSig("GRAY"), 16, false, png, 0},
        {"tiff rgb8", krmSig("RGB "), 8, false, tiff, 0},
        {"tiff rgba16", krmSig("RGB "), 16, true, tiff, 0},
        {"tiff gray16", krmSig("GRAY"), 16, false, tiff, 0},
        {"tiff cmyk8", krmSig("CMYK"), 8, false, tiff, 0},
        {"tiff cmyk16", krmSig("CMYK"), 16, false, tiff, 0},
        {"tiff cmyk8 planar", krmSig("CMYK"), 8, false, [](const RasterImage& r) { return libtiffFile(r, true, false); }, 0},
        {"tiff rgb16 planar tiled", krmSig("RGB "), 16, false, [](const RasterImage& r) { return libtiffFile(r, true, true); }, 0},
        {"tiff cmyka8 tiled", krmSig("CMYK"), 8, true, [](const RasterImage& r) { return libtiffFile(r, false, true); }, 0},
        {"tiff gray8 planar", krmSig("GRAY"), 8, false, [](const RasterImage& r) { return libtiffFile(r, true, false); }, 0},
        // JPEG is lossy: within a few steps of what was written.
        {"jpeg cmyk adobe", krmSig("CMYK"), 8, false,
         [](const RasterImage& r) { return r.icc.isEmpty() ? writeCmykJpeg(r, 100) : embedProfileJpeg(writeCmykJpeg(r, 100), r.icc); }, 40},
        {"jpeg ycck adobe", krmSig("CMYK"), 8, false,
         [](const RasterImage& r) { return r.icc.isEmpty() ? writeYcckJpeg(r) : embedProfileJpeg(writeYcckJpeg(r), r.icc); }, 40},
        {"jpeg cmyk plain", krmSig("CMYK"), 8, false,
         [](const RasterImage& r) { return r.icc.isEmpty() ? writeCmykJpeg(r, 100, false) : embedProfileJpeg(writeCmykJpeg(r, 100, false), r.icc); }, 40},
    };
    for (const Case& c : cases) {
        for (const bool tagged : {false, true}) {
            RasterImage r = c.space == krmSig("CMYK") && c.tolerance ? pattern(c.space, c.depth, c.alpha, 64, 16)
                                                                     : pattern(c.space, c.depth, c.alpha);
            if (c.tolerance) {
                // Smooth ramps: a JPEG keeps them within a few steps.
                for (int y = 0; y < r.height; ++y)
                    for (int x = 0; x < r.width; ++x)
                        for (int k = 0; k < 4; ++k)
                            r.scanLine(y)[x * 4 + k] = uchar((x * 4 + k * 40 + y * 3) & 0xFF);
            }
            if (tagged)
                r.icc = c.space == krmSig("GRAY") ? grayProfile : c.space == krmSig("CMYK") ? cmykProfile : rgbProfile;
            const QByteArray file = c.write(r);
            const QString name = QStringLiteral("%1 %2").arg(QLatin1String(c.name), tagged ? QStringLiteral("tagged") : QStringLiteral("untagged"));
            keepSeed(QString(name).replace(QLatin1Char(' '), QLatin1Char('-')), file);
            QTest::newRow(qPrintable(name)) << file << r << (c.tolerance ? 12 : 0);
        }
    }
    // A JPEG in RGB goes through Qt's reader; it carries its APP2 profile all the same.
    const RasterImage rgb = pattern(krmSig("RGB "), 8, false);
    const QByteArray jpeg = embedProfileJpeg(qtEncoded(toQImage(rgb), "jpeg"), rgbProfile);
    RasterImage fromQt = RasterImage::fromQImage(QImage::fromData(jpeg, "jpeg"));
    fromQt.icc = rgbProfile;
    keepSeed(QStringLiteral("jpeg-rgb8-tagged"), jpeg);
    QTest::newRow("jpeg rgb8 tagged") << jpeg << fromQt << 0;
}

void TestImageReaders::decodesOwnChannelsAndDepth()
{
    QFETCH(QByteArray, file);
    QFETCH(RasterImage, expected);
    QFETCH(int, tolerance);
    QVERIFY(!file.isEmpty());
    const DecodeResult d = decodeImage(file);
    QVERIFY2(!d.image.isNull(), qPrintable(d.error));
    QCOMPARE(d.image.width, expected.width);
    QCOMPARE(d.image.height, expected.height);
    QCOMPARE(d.image.space, expected.space);
    QCOMPARE(d.image.bytesPerSample, expected.bytesPerSample);
    QCOMPARE(d.image.alpha, expected.alpha);
    QCOMPARE(d.image.icc, expected.icc);
    if (tolerance == 0)
        QVERIFY(d.image.pixels == expected.pixels);
    else
        QVERIFY2(maxDifference(d.image, expected) <= tolerance, qPrintable(QString::number(maxDifference(d.image, expected))));
}

void TestImageReaders::jpegChunksJoinInNumberOrder()
{
    // Three APP2 chunks of a made-up profile, written in the order 3, 1, 2.
    const QByteArray base = qtEncoded(toQImage(pattern(krmSig("RGB "), 8, false)), "jpeg");
    const QByteArray parts[] = {QByteArray(100, 'a'), QByteArray(80, 'b'), QByteArray(60, 'c')};
    auto segment = [](int number, const QByteArray& data) {
        QByteArray s("\xFF\xE2", 2);
        const int length = int(data.size()) + 16;
        s += char(length >> 8);
        s += char(length & 0xFF);
        s += QByteArray("ICC_PROFILE\0", 12);
        s += char(number);
        s += char(3);
        return s + data;
    };
    auto withSegments = [&](const QList<int>& order) {
        QByteArray out = base.left(2);
        for (int n : order)
            out += segment(n, parts[n - 1]);
        return out + base.mid(2);
    };
    QCOMPARE(embeddedProfile(withSegments({3, 1, 2}), ImageKind::Jpeg), parts[0] + parts[1] + parts[2]);
    // Chunk 2 missing: only chunk 1 is used; no chunk 1: nothing.
    QCOMPARE(embeddedProfile(withSegments({3, 1}), ImageKind::Jpeg), parts[0]);
    QVERIFY(embeddedProfile(withSegments({2, 3}), ImageKind::Jpeg).isEmpty());
    keepSeed(QStringLiteral("jpeg-app2-out-of-order"), withSegments({3, 1, 2}));
}

void TestImageReaders::pngWithoutProfileAndCompressedBombs()
{
    const QByteArray plain = qtEncoded(toQImage(pattern(krmSig("RGB "), 8, false)), "png");
    const DecodeResult d = decodeImage(plain);
    QVERIFY(!d.image.isNull());
    QVERIFY(d.image.icc.isEmpty());
    // 200 MB of zeros compress to about 200 kB: refused instead of inflated.
    const QByteArray bomb = embedProfilePng(plain, QByteArray(200 << 20, '\0'));
    QVERIFY(!bomb.isEmpty() && bomb.size() < (1 << 20));
    QVERIFY(embeddedProfile(bomb, ImageKind::Png).isEmpty());
    // A BMP has no profile.
    const QByteArray bmp = qtEncoded(toQImage(pattern(krmSig("RGB "), 8, false)), "bmp");
    QCOMPARE(decodeImage(bmp).kind, ImageKind::Bmp);
    QVERIFY(decodeImage(bmp).image.icc.isEmpty());
    keepSeed(QStringLiteral("bmp-rgb8"), bmp);
}

void TestImageReaders::tiffWriterRoundTrips()
{
    // Every layout our writer makes reads back sample for sample, the profile with it; a
    // MINISWHITE gray file reads as ordinary gray (0 black).
    const RasterImage gray = pattern(krmSig("GRAY"), 8, false);
    RasterImage inverted = gray;
    for (qsizetype i = 0; i < inverted.pixels.size(); ++i)
        inverted.pixels[i] = char(255 - uchar(inverted.pixels[i]));
    const DecodeResult d = decodeImage(libtiffFile(inverted, false, false, true));
    QVERIFY(d.image.pixels == gray.pixels);
    QCOMPARE(tiffProfile(libtiffFile(gray, false, false)), QByteArray());
}

void TestImageReaders::damagedFilesNeverCrash()
{
    const QByteArray profile = fileBytes(kColord + QStringLiteral("sRGB.icc"));
    RasterImage cmyk = pattern(krmSig("CMYK"), 16, false, 40, 30);
    cmyk.icc = profile;
    QByteArray tiff;
    QString error;
    QVERIFY(writeTiff(cmyk, profile, tiff, error));
    RasterImage cmyk8 = pattern(krmSig("CMYK"), 8, false, 40, 30);
    const QList<QByteArray> files = {tiff, embedProfileJpeg(writeCmykJpeg(cmyk8, 90), profile),
                                     embedProfilePng(qtEncoded(toQImage(pattern(krmSig("RGB "), 16, true)), "png"), profile)};
    for (const QByteArray& bytes : files) {
        for (qsizetype length = 0; length < bytes.size(); length += bytes.size() / 41 + 1) {
            const DecodeResult d = decodeImage(bytes.left(length));
            QVERIFY(d.image.isNull() || !d.image.pixels.isEmpty());
        }
        for (qsizetype at = 2; at < bytes.size(); at += 53) {
            QByteArray b = bytes;
            b[at] = char(~uchar(b[at]));
            const DecodeResult d = decodeImage(b);
            QVERIFY(d.image.isNull() || d.image.pixels.size() == d.image.bytesPerLine * d.image.height);
        }
    }
}

QTEST_GUILESS_MAIN(TestImageReaders)
#include "tst_imagereaders.moc"

// The proofing view decodes on a thread and shows the decoder's progress with a Cancel button:
// progress rises to the end of the file, and a stop ends the decoding with no image.
void TestImageReaders::progressRisesAndStopStops()
{
    const RasterImage big = pattern(krmSig("RGB "), 8, false, 640, 480);
    QByteArray tiff;
    QString error;
    QVERIFY(writeTiff(big, QByteArray(), tiff, error));
    struct Case {
        const char* name;
        QByteArray file;
        bool reportsAsItReads;
    } const cases[] = {
        {"png", qtEncoded(toQImage(big), "png"), true},
        {"jpeg", qtEncoded(toQImage(big), "jpeg"), true},
        {"tiff", tiff, false},
    };
    for (const Case& c : cases) {
        QList<int> seen;
        const DecodeResult whole = decodeImage(c.file, kDefaultMaxImageBytes, [&](int percent) {
            seen.append(percent);
            return true;
        });
        QVERIFY2(!whole.image.isNull() && !whole.cancelled, c.name);
        QVERIFY2(!seen.isEmpty() && seen.first() == 0, c.name);
        QVERIFY2(std::is_sorted(seen.begin(), seen.end()), c.name);
        if (c.reportsAsItReads)
            QVERIFY2(seen.size() > 3 && seen.last() >= 50 && seen.last() <= 100, c.name);

        // Stopped at the first report past the start, or before the start where the decoder
        // cannot be stopped midway.
        int calls = 0;
        int stopAt = 0;
        const DecodeResult stopped = decodeImage(c.file, kDefaultMaxImageBytes, [&](int percent) {
            ++calls;
            if (!stopAt && (percent > 0 || !c.reportsAsItReads))
                stopAt = calls;
            return !stopAt;
        });
        QVERIFY2(stopped.cancelled && stopped.image.isNull(), c.name);
        // The decoder gives up at the first refused read, not at the end of the file.
        QVERIFY2(stopAt > 0 && calls <= stopAt + 2, c.name);
        if (c.reportsAsItReads)
            QVERIFY2(calls < seen.size(), c.name);
    }
}
