#include "cli/ColorChain.h"
#include "cli/Commands.h"
#include "cli/ImageProfiles.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

namespace {

const char kConvertHelp[] =
    "Usage: prismet-cli convert IN OUT --profile DST [OPTIONS]\n"
    "       prismet-cli convert IN -o OUT --profile DST [OPTIONS]\n"
    "\n"
    "Converts a PNG, JPEG, BMP or TIFF image to the destination profile and writes it in the\n"
    "format named by OUT's extension (.png, .jpg/.jpeg, .bmp, .tif/.tiff), embedding DST where\n"
    "the format allows (PNG, JPEG, TIFF). The source profile is --src-profile, else the one\n"
    "embedded in IN, else sRGB. Alpha is kept; 16-bit PNG and TIFF images stay 16-bit.\n"
    "\n"
    "Options:\n"
    "  --profile DST       destination profile (a path or *srgb, *lab, *lab2, *xyz); RGB or gray\n"
    "  --src-profile SRC   source profile, overriding the embedded one\n"
    "  --intent N          rendering intent 0-3 or its name (default 0, perceptual)\n"
    "  --bpc               black point compensation\n"
    "  --quality Q         JPEG quality 0-100 (default 95)\n"
    "  -o, --output OUT    the output image; - writes it to standard output (PNG unless --format)\n"
    "  --format F          png, jpeg, bmp or tiff instead of OUT's extension\n"
    "  --no-optimize       use the linked pipeline as it is, without optimisation\n"
    "  --help              this text\n";

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

bool qtCanRead(ImageKind kind)
{
    return QImageReader::supportedImageFormats().contains(qtFormatOf(kind));
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

bool isDeep(QImage::Format f)
{
    return f == QImage::Format_RGBA64 || f == QImage::Format_RGBX64 || f == QImage::Format_RGBA64_Premultiplied ||
           f == QImage::Format_Grayscale16;
}

// Pixel layout of the working images: QImage format and the engine's format word.
struct Layout {
    QImage::Format qt;
    krmUInt32Number engine;
};

Layout layoutFor(krmColorSpaceSignature space, bool deep, bool alpha)
{
    const krmUInt32Number bytes = deep ? 2 : 1;
    if (space == krmSig("GRAY")) {
        return {deep ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8,
                krmFMT_COLORSPACE(krmPT_GRAY) | krmFMT_CHANNELS(1) | krmFMT_BYTES(bytes)};
    }
    // RGBA8888 and RGBA64 keep R, G, B, A in memory order; 16-bit samples in host order.
    if (alpha || deep) {
        return {deep ? QImage::Format_RGBA64 : QImage::Format_RGBA8888,
                krmFMT_COLORSPACE(krmPT_RGB) | krmFMT_CHANNELS(3) | krmFMT_EXTRA(1) | krmFMT_BYTES(bytes)};
    }
    return {QImage::Format_RGB888, krmFmtRGB8};
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
    if (!qtCanWrite(outKind)) {
        io.error(QStringLiteral("this system's Qt cannot write %1 images (its image-format plug-in is not installed)")
                     .arg(QString::fromLatin1(qtFormatOf(outKind)).toUpper()));
        return kExitUnreadable;
    }

    // The image.
    QByteArray fileBytes;
    QString readError;
    if (!readFileBytes(inPath, fileBytes, QStringLiteral("image"), readError)) {
        io.error(readError);
        return kExitUnreadable;
    }
    const ImageKind inKind = imageKindOf(fileBytes);
    if (inKind == ImageKind::Unknown) {
        io.error(QStringLiteral("cannot read image '%1': not a PNG, JPEG, BMP or TIFF file").arg(inPath));
        return kExitUnreadable;
    }
    if (!qtCanRead(inKind)) {
        io.error(QStringLiteral("this system's Qt cannot read %1 images (its image-format plug-in is not installed)")
                     .arg(QString::fromLatin1(qtFormatOf(inKind)).toUpper()));
        return kExitUnreadable;
    }
    QBuffer inBuffer(&fileBytes);
    inBuffer.open(QIODevice::ReadOnly);
    QImageReader reader(&inBuffer, qtFormatOf(inKind));
    // Only the reader of the detected format: never probe every installed plug-in.
    reader.setAutoDetectImageFormat(false);
    QImage image = reader.read();
    if (image.isNull()) {
        io.error(QStringLiteral("cannot read image '%1': %2").arg(inPath, reader.errorString()));
        return kExitUnreadable;
    }

    // The profiles.
    EngineSession session(io);
    std::unique_ptr<LoadedProfile> source;
    if (options.isSet(QStringLiteral("src-profile"))) {
        source = loadProfile(session, options.value(QStringLiteral("src-profile")));
        if (!source)
            return kExitUnreadable;
    } else {
        QByteArray embedded = embeddedProfile(fileBytes, inKind);
        if (embedded.isEmpty())
            embedded = image.colorSpace().iccProfile();
        if (embedded.isEmpty()) {
            io.note(QStringLiteral("'%1' has no embedded profile; assuming sRGB").arg(inPath));
            source = loadProfile(session, QStringLiteral("*srgb"));
        } else {
            source = profileFromBytes(session, QStringLiteral("embedded profile"), embedded);
            if (!source) {
                io.error(QStringLiteral("cannot read the profile embedded in '%1'; name one with --src-profile").arg(inPath));
                return kExitUnreadable;
            }
        }
        if (!source)
            return kExitUnreadable;
    }
    std::unique_ptr<LoadedProfile> destination = loadProfile(session, options.value(QStringLiteral("profile")));
    if (!destination)
        return kExitUnreadable;

    std::vector<krmProfile> chain{source->profile, destination->profile};
    krmColorSpaceSignature entry = 0, exit = 0;
    chainSpaces(chain, entry, exit);
    if (entry != krmSig("RGB ") && entry != krmSig("GRAY")) {
        io.error(QStringLiteral("the source profile is for %1, but the image's pixels are RGB or gray").arg(spaceText(entry)));
        return kExitUnreadable;
    }
    if (exit != krmSig("RGB ") && exit != krmSig("GRAY")) {
        io.error(QStringLiteral("the destination profile gives %1 pixels; image files are written as RGB or gray")
                     .arg(spaceText(exit)));
        return kExitUnreadable;
    }
    if (entry == krmSig("GRAY") && !image.allGray()) {
        io.error(QStringLiteral("the source profile is gray but '%1' has colour pixels").arg(inPath));
        return kExitUnreadable;
    }

    const bool deep = isDeep(image.format()) && outKind != ImageKind::Jpeg && outKind != ImageKind::Bmp;
    const bool alpha = image.hasAlphaChannel() && entry == krmSig("RGB ") && exit == krmSig("RGB ") &&
                       outKind != ImageKind::Jpeg;
    const Layout inLayout = layoutFor(entry, deep, alpha);
    const Layout outLayout = layoutFor(exit, deep, alpha);
    if (image.hasAlphaChannel() && !alpha)
        io.note(QStringLiteral("the alpha channel is dropped"));

    QImage input = image.convertToFormat(inLayout.qt);
    input.setColorSpace(QColorSpace());
    QImage output(input.size(), outLayout.qt);
    const bool copyAlpha = krmT_EXTRA(inLayout.engine) > 0 && krmT_EXTRA(outLayout.engine) > 0;
    krmUInt32Number flags = copyAlpha ? krmFlagCopyAlpha : 0;
    if (options.isSet(QStringLiteral("no-optimize")))
        flags |= krmFlagNoOptimize;
    krmTransform transform = createChainTransform(session.context(), chain, intent, options.isSet(QStringLiteral("bpc")),
                                                  krmSetAdaptationState(session.context(), -1.0), inLayout.engine,
                                                  outLayout.engine, flags);
    if (!transform) {
        io.error(QStringLiteral("the engine cannot link the source and destination profiles"));
        return kExitUnreadable;
    }
    krmDoTransformLineStride(transform, input.constBits(), output.bits(), krmUInt32Number(input.width()),
                             krmUInt32Number(input.height()), krmUInt32Number(input.bytesPerLine()),
                             krmUInt32Number(output.bytesPerLine()), 0, 0);
    krmDeleteTransform(transform);
    if (deep && !alpha && exit == krmSig("RGB "))
        output = output.convertToFormat(QImage::Format_RGBX64);

    // Qt's writers embed only profiles Qt itself understands; PNG and JPEG get the exact bytes
    // afterwards, TIFF relies on Qt.
    if (outKind == ImageKind::Tiff) {
        const QColorSpace space = QColorSpace::fromIccProfile(destination->bytes);
        if (space.isValid())
            output.setColorSpace(space);
    }
    QByteArray encoded;
    {
        QBuffer outBuffer(&encoded);
        outBuffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&outBuffer, qtFormatOf(outKind));
        if (outKind == ImageKind::Jpeg)
            writer.setQuality(quality);
        if (!writer.write(output)) {
            io.error(QStringLiteral("cannot encode '%1': %2").arg(outPath, writer.errorString()));
            return kExitUnreadable;
        }
    }
    if (outKind == ImageKind::Png)
        encoded = embedProfilePng(encoded, destination->bytes);
    else if (outKind == ImageKind::Jpeg)
        encoded = embedProfileJpeg(encoded, destination->bytes);
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
