#include "cli/ColorChain.h"
#include "cli/Commands.h"
#include "imaging/CmykJpeg.h"
#include "imaging/ImageDecoder.h"
#include "imaging/TiffCodec.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

#include <cstring>

namespace {

const char kConvertHelp[] =
    "Usage: prismet-cli convert IN OUT --profile DST [OPTIONS]\n"
    "       prismet-cli convert IN -o OUT --profile DST [OPTIONS]\n"
    "\n"
    "Converts a PNG, JPEG, BMP or TIFF image (RGB, gray or CMYK) to the destination profile and\n"
    "writes it in the format named by OUT's extension (.png, .jpg/.jpeg, .bmp, .tif/.tiff),\n"
    "embedding DST where the format allows (PNG, JPEG, TIFF). The source profile is --src-profile,\n"
    "else the one embedded in IN, else sRGB (RGB and gray images; CMYK ones need a profile).\n"
    "Alpha is kept; 16-bit PNG and TIFF images stay 16-bit. CMYK output goes to TIFF or JPEG.\n"
    "\n"
    "Options:\n"
    "  --profile DST       destination profile (a path or *srgb, *lab, *lab2, *xyz); RGB, gray or\n"
    "                      (TIFF and JPEG output) CMYK\n"
    "  --src-profile SRC   source profile, overriding the embedded one\n"
    "  --intent N          rendering intent 0-3 or its name (default 0, perceptual)\n"
    "  --bpc               black point compensation\n"
    "  --quality Q         JPEG quality 0-100 (default 95)\n"
    "  -o, --output OUT    the output image; - writes it to standard output (PNG unless --format)\n"
    "  --format F          png, jpeg, bmp or tiff instead of OUT's extension\n"
    "  --no-optimize       use the linked pipeline as it is, without optimisation\n"
    "  --help              this text\n"
    "\n"
    "Example:\n"
    "  prismet-cli convert photo.jpg proof.tif --profile cmyk.icc --bpc\n";

ImageKind kindFromExtension(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("png"))
        return ImageKind::Png;
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return ImageKind::Jpeg;
    if (suffix == QLatin1String("bmp"))
        return ImageKind::Bmp;
    if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff"))
        return ImageKind::Tiff;
    return ImageKind::Unknown;
}

bool qtCanWrite(ImageKind kind)
{
    return QImageWriter::supportedImageFormats().contains(qtFormatOf(kind));
}

std::unique_ptr<LoadedProfile> profileFromBytes(EngineSession& session, const QString& name, const QByteArray& bytes)
{
    auto loaded = std::make_unique<LoadedProfile>();
    loaded->name = name;
    loaded->bytes = bytes;
    loaded->profile = krmOpenProfileFromMemInContext(session.context(), bytes.constData(), krmUInt32Number(bytes.size()));
    if (!loaded->profile)
        return nullptr;
    return loaded;
}

int colorChannelsOf(krmColorSpaceSignature space)
{
    if (space == krmSig("GRAY"))
        return 1;
    return space == krmSig("CMYK") ? 4 : 3;
}

// The image laid out for a profile of `space`: gray pixels widened to RGB, or RGB pixels whose
// channels are all equal narrowed to gray. False when the pixels do not fit the space.
bool fitToSpace(RasterImage& image, krmColorSpaceSignature space)
{
    if (image.space == space)
        return true;
    const bool toRgb = image.space == krmSig("GRAY") && space == krmSig("RGB ");
    const bool toGray = image.space == krmSig("RGB ") && space == krmSig("GRAY");
    if (!toRgb && !toGray)
        return false;
    RasterImage out = image;
    out.space = space;
    out.colorChannels = colorChannelsOf(space);
    if (!out.allocate(kDefaultMaxImageBytes))
        return false;
    const int bps = image.bytesPerSample;
    for (int y = 0; y < image.height; ++y) {
        const uchar* in = image.scanLine(y);
        uchar* o = out.scanLine(y);
        for (int x = 0; x < image.width; ++x, in += image.bytesPerPixel(), o += out.bytesPerPixel()) {
            if (toRgb) {
                for (int c = 0; c < 3; ++c)
                    std::memcpy(o + c * bps, in, size_t(bps));
            } else {
                if (std::memcmp(in, in + bps, size_t(bps)) != 0 || std::memcmp(in, in + 2 * bps, size_t(bps)) != 0)
                    return false;
                std::memcpy(o, in, size_t(bps));
            }
            if (image.alpha)
                std::memcpy(o + out.colorChannels * bps, in + image.colorChannels * bps, size_t(bps));
        }
    }
    image = out;
    return true;
}

// The converted image as Qt writes it: gray 8/16, RGB 8/16 with or without alpha.
QImage toQtImage(const RasterImage& r)
{
    QImage::Format format = QImage::Format_RGB888;
    const bool gray = r.space == krmSig("GRAY");
    if (gray)
        format = r.bytesPerSample == 2 ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8;
    else if (r.bytesPerSample == 2)
        format = r.alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64;
    else if (r.alpha)
        format = QImage::Format_RGBA8888;
    QImage out(r.width, r.height, format);
    if (out.isNull())
        return out;
    const int bps = r.bytesPerSample;
    const int outChannels = gray ? 1 : (bps == 2 || r.alpha ? 4 : 3);
    for (int y = 0; y < r.height; ++y) {
        const uchar* in = r.scanLine(y);
        uchar* o = out.scanLine(y);
        if (outChannels == r.channels()) {
            std::memcpy(o, in, size_t(r.width) * size_t(r.bytesPerPixel()));
            continue;
        }
        for (int x = 0; x < r.width; ++x) {  // RGBX64: opaque padding after the colours
            std::memcpy(o + x * 8, in + x * r.bytesPerPixel(), 6);
            std::memset(o + x * 8 + 6, 0xFF, 2);
        }
    }
    return out;
}

} // namespace

int runConvert(const QStringList& args, CliIO& io)
{
    CliArgs options({QStringLiteral("bpc"), QStringLiteral("no-optimize"), QStringLiteral("help")},
                    {QStringLiteral("profile"), QStringLiteral("src-profile"), QStringLiteral("intent"),
                     QStringLiteral("quality"), QStringLiteral("output"), QStringLiteral("format")});
    CommandOutput result(io, "convert", {});
    auto usage = [&](const QString& message) { return result.usage(message); };
    // "-o OUT" is the short form of "--output OUT".
    QStringList expanded = args;
    for (QString& arg : expanded) {
        if (arg == QLatin1String("--"))
            break;
        if (arg == QLatin1String("-o"))
            arg = QStringLiteral("--output");
    }
    if (!options.parse(expanded))
        return usage(options.errorText());
    if (options.isSet(QStringLiteral("help"))) {
        io.out += kConvertHelp;
        return kExitOk;
    }
    QStringList paths = options.positionals();
    if (options.isSet(QStringLiteral("output")))
        paths << options.value(QStringLiteral("output"));
    if (paths.size() < 2)
        return usage(QStringLiteral("convert needs an input and an output image"));
    if (paths.size() > 2)
        return usage(QStringLiteral("convert takes one input and one output image; '%1' is one too many").arg(paths[2]));
    if (!options.isSet(QStringLiteral("profile")))
        return usage(QStringLiteral("convert needs a destination --profile"));
    const QString inPath = paths[0];
    const QString outPath = paths[1];
    const bool toStdout = outPath == QLatin1String("-");
    krmUInt32Number intent = krmINTENT_PERCEPTUAL;
    if (options.isSet(QStringLiteral("intent")) &&
        (!parseIntent(options.value(QStringLiteral("intent")), intent) || intent > 3))
        return usage(QStringLiteral("'%1' is not a rendering intent 0-3").arg(options.value(QStringLiteral("intent"))));
    int quality = 95;
    if (options.isSet(QStringLiteral("quality"))) {
        bool ok = false;
        quality = options.value(QStringLiteral("quality")).toInt(&ok);
        if (!ok || quality < 0 || quality > 100)
            return usage(QStringLiteral("--quality takes a number from 0 to 100"));
    }
    // The format: --format, else OUT's extension; PNG on standard output.
    ImageKind outKind = toStdout ? ImageKind::Png : kindFromExtension(outPath);
    if (options.isSet(QStringLiteral("format"))) {
        outKind = kindFromExtension(QStringLiteral("x.") + options.value(QStringLiteral("format")));
        if (outKind == ImageKind::Unknown)
            return usage(QStringLiteral("'%1' is not an image format (png, jpeg, bmp or tiff)").arg(options.value(QStringLiteral("format"))));
    }
    if (outKind == ImageKind::Unknown)
        return usage(QStringLiteral("'%1': the output's extension must be .png, .jpg, .jpeg, .bmp, .tif or .tiff").arg(outPath));
    if (outKind != ImageKind::Tiff && !qtCanWrite(outKind)) {
        io.error(QStringLiteral("this system's Qt cannot write %1 images (its image-format plug-in is not installed)")
                     .arg(QString::fromLatin1(qtFormatOf(outKind)).toUpper()));
        return kExitUnreadable;
    }

    // The image, with the same readers as the proofing view.
    QByteArray fileBytes;
    QString readError;
    if (!readFileBytes(inPath, fileBytes, QStringLiteral("image"), readError)) {
        io.error(readError);
        return kExitUnreadable;
    }
    DecodeResult decoded = decodeImage(fileBytes);
    if (decoded.image.isNull()) {
        io.error(QStringLiteral("cannot read image '%1': %2").arg(inPath, decoded.error));
        return kExitUnreadable;
    }
    RasterImage image = decoded.image;

    // The profiles.
    EngineSession session(io);
    std::unique_ptr<LoadedProfile> source;
    if (options.isSet(QStringLiteral("src-profile"))) {
        source = loadProfile(session, options.value(QStringLiteral("src-profile")));
        if (!source)
            return kExitUnreadable;
    } else if (!image.icc.isEmpty()) {
        source = profileFromBytes(session, QStringLiteral("embedded profile"), image.icc);
        if (!source) {
            io.error(QStringLiteral("cannot read the profile embedded in '%1'; name one with --src-profile").arg(inPath));
            return kExitUnreadable;
        }
    } else if (image.space == krmSig("CMYK")) {
        io.error(QStringLiteral("'%1' is a CMYK image without a profile; name its profile with --src-profile").arg(inPath));
        return kExitUnreadable;
    } else {
        io.note(QStringLiteral("'%1' has no embedded profile; assuming sRGB").arg(inPath));
        source = loadProfile(session, QStringLiteral("*srgb"));
        if (!source)
            return kExitUnreadable;
    }
    std::unique_ptr<LoadedProfile> destination = loadProfile(session, options.value(QStringLiteral("profile")));
    if (!destination)
        return kExitUnreadable;

    std::vector<krmProfile> chain{source->profile, destination->profile};
    krmColorSpaceSignature entry = 0, exit = 0;
    chainSpaces(chain, entry, exit);
    if (entry != krmSig("RGB ") && entry != krmSig("GRAY") && entry != krmSig("CMYK")) {
        io.error(QStringLiteral("the source profile is for %1, but the image's pixels are %2")
                     .arg(spaceText(entry), spaceText(image.space)));
        return kExitUnreadable;
    }
    if (!fitToSpace(image, entry)) {
        io.error(QStringLiteral("the source profile is for %1, but '%2' has %3 pixels")
                     .arg(spaceText(entry), inPath, image.space == krmSig("RGB ") ? QStringLiteral("colour") : spaceText(image.space)));
        return kExitUnreadable;
    }
    const bool cmykOut = exit == krmSig("CMYK") && (outKind == ImageKind::Tiff || outKind == ImageKind::Jpeg);
    if (exit != krmSig("RGB ") && exit != krmSig("GRAY") && !cmykOut) {
        io.error(QStringLiteral("the destination profile gives %1 pixels; image files are written as RGB or gray (and CMYK as TIFF or JPEG)")
                     .arg(spaceText(exit)));
        return kExitUnreadable;
    }

    RasterImage output;
    output.width = image.width;
    output.height = image.height;
    output.space = exit;
    output.colorChannels = colorChannelsOf(exit);
    output.bytesPerSample = image.bytesPerSample == 2 && outKind != ImageKind::Jpeg && outKind != ImageKind::Bmp ? 2 : 1;
    output.alpha = image.alpha && outKind != ImageKind::Jpeg && !(exit == krmSig("GRAY") && outKind != ImageKind::Tiff);
    if (image.alpha && !output.alpha)
        io.note(QStringLiteral("the alpha channel is dropped"));
    if (!output.allocate(kDefaultMaxImageBytes)) {
        io.error(QStringLiteral("'%1' is too large to convert").arg(inPath));
        return kExitUnreadable;
    }
    krmUInt32Number flags = output.alpha ? krmFlagCopyAlpha : 0;
    if (options.isSet(QStringLiteral("no-optimize")))
        flags |= krmFlagNoOptimize;
    krmTransform transform = createChainTransform(session.context(), chain, intent, options.isSet(QStringLiteral("bpc")),
                                                  krmSetAdaptationState(session.context(), -1.0), image.engineFormat(),
                                                  output.engineFormat(), flags);
    if (!transform) {
        io.error(QStringLiteral("the engine cannot link the source and destination profiles"));
        return kExitUnreadable;
    }
    krmDoTransformLineStride(transform, image.pixels.constData(), output.pixels.data(), krmUInt32Number(image.width),
                             krmUInt32Number(image.height), krmUInt32Number(image.bytesPerLine),
                             krmUInt32Number(output.bytesPerLine), 0, 0);
    krmDeleteTransform(transform);

    QByteArray encoded;
    if (outKind == ImageKind::Tiff) {
        QString error;
        if (!writeTiff(output, destination->bytes, encoded, error)) {
            io.error(QStringLiteral("cannot encode '%1': %2").arg(outPath, error));
            return kExitUnreadable;
        }
    } else if (exit == krmSig("CMYK")) {
        encoded = embedProfileJpeg(writeCmykJpeg(output, quality), destination->bytes);
    } else {
        // Qt's writers embed only profiles Qt itself understands: PNG and JPEG get the exact bytes
        // afterwards.
        QBuffer outBuffer(&encoded);
        outBuffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&outBuffer, qtFormatOf(outKind));
        if (outKind == ImageKind::Jpeg)
            writer.setQuality(quality);
        if (!writer.write(toQtImage(output))) {
            io.error(QStringLiteral("cannot encode '%1': %2").arg(outPath, writer.errorString()));
            return kExitUnreadable;
        }
        outBuffer.close();
        if (outKind == ImageKind::Png)
            encoded = embedProfilePng(encoded, destination->bytes);
        else if (outKind == ImageKind::Jpeg)
            encoded = embedProfileJpeg(encoded, destination->bytes);
    }
    if (encoded.isEmpty()) {
        io.error(QStringLiteral("cannot embed the profile in '%1'").arg(outPath));
        return kExitUnreadable;
    }
    if (outKind == ImageKind::Bmp)
        io.note(QStringLiteral("BMP files carry no profile; '%1' is written without one").arg(outPath));
    else if (embeddedProfile(encoded, outKind) != destination->bytes)
        io.note(QStringLiteral("the image writer could not embed the destination profile in '%1'").arg(outPath));

    if (toStdout) {
        // Written (and checked) with the rest of standard output when the run ends.
        io.out += encoded;
        return kExitOk;
    }
    // The file appears only complete: a full disk or a closed folder leaves no half image behind.
    QSaveFile file(outPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(encoded) != encoded.size() || !file.commit()) {
        io.error(QStringLiteral("cannot write '%1': %2").arg(outPath, file.errorString()));
        return kExitUnreadable;
    }
    return kExitOk;
}
