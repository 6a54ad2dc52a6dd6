#include "imaging/ImageProfiles.h"

#include "imaging/TiffCodec.h"

#include <QtEndian>

#include <array>
#include <map>
#include <vector>

#include <zlib.h>

namespace {

const QByteArray kPngSignature("\x89PNG\r\n\x1a\n", 8);
const QByteArray kIccMarker("ICC_PROFILE\0", 12);
constexpr int kJpegIccChunk = 65519;  // 65535 - 2 (length) - 14 (marker, sequence, count)
// No real profile comes near this; a compressed one claiming more is refused.
constexpr qsizetype kMaxProfileBytes = qsizetype(64) << 20;

quint32 readBe32(const QByteArray& b, qsizetype at)
{
    return qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(b.constData() + at));
}

quint16 readBe16(const QByteArray& b, qsizetype at)
{
    return qFromBigEndian<quint16>(reinterpret_cast<const uchar*>(b.constData() + at));
}

void appendBe32(QByteArray& b, quint32 v)
{
    uchar buf[4];
    qToBigEndian(v, buf);
    b.append(reinterpret_cast<const char*>(buf), 4);
}

quint32 crc32(const QByteArray& data)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xFFFFFFFFu;
    for (const char ch : data)
        c = table[(c ^ static_cast<uchar>(ch)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// PNG chunks as (type, data), or false when the stream is cut or malformed.
struct PngChunk {
    QByteArray type;
    QByteArray data;
};

bool pngChunks(const QByteArray& png, std::vector<PngChunk>& chunks)
{
    if (!png.startsWith(kPngSignature))
        return false;
    qsizetype at = kPngSignature.size();
    while (at + 12 <= png.size()) {
        const quint32 length = readBe32(png, at);
        if (length > quint32(png.size() - at - 12))
            return false;
        chunks.push_back({png.mid(at + 4, 4), png.mid(at + 8, qsizetype(length))});
        at += 12 + qsizetype(length);
        if (chunks.back().type == "IEND")
            return true;
    }
    return false;
}

// Inflates a zlib stream, refusing more than `limit` bytes of output: a few kilobytes of
// compressed zeros must not become gigabytes.
QByteArray inflate_capped(const QByteArray& stream, qsizetype limit)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return QByteArray();
    QByteArray out;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.constData()));
    z.avail_in = uInt(stream.size());
    int status = Z_OK;
    while (status == Z_OK) {
        const qsizetype have = out.size();
        const qsizetype grow = qMin<qsizetype>(qMax<qsizetype>(have, 128000), limit + 1 - have);
        if (grow <= 0)
            break;
        out.resize(have + grow);
        z.next_out = reinterpret_cast<Bytef*>(out.data() + have);
        z.avail_out = uInt(grow);
        status = inflate(&z, Z_NO_FLUSH);
        out.resize(have + grow - qsizetype(z.avail_out));
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END || out.size() > limit)
        return QByteArray();
    return out;
}

// PNG 1.2 11.3.3: the first 'iCCP' chunk; name, zero byte, compression method, zlib stream.
// The CRC is not checked: a profile that does not read is refused by the engine anyway.
QByteArray pngProfile(const QByteArray& png)
{
    if (!png.startsWith(kPngSignature))
        return QByteArray();
    qsizetype at = kPngSignature.size();
    while (at + 8 <= png.size()) {
        const quint32 length = readBe32(png, at);
        if (length > quint32(png.size() - at - 8))
            return QByteArray();
        if (png.mid(at + 4, 4) == "iCCP") {
            const QByteArray data = png.mid(at + 8, qsizetype(length));
            const qsizetype zero = data.indexOf('\0');
            if (zero < 0 || zero + 1 >= data.size())
                return QByteArray();
            return inflate_capped(data.mid(zero + 2), kMaxProfileBytes);
        }
        at += 12 + qsizetype(length);
    }
    return QByteArray();
}

// ICC.1:2010 B.4: APP2 "ICC_PROFILE" segments, each with its sequence number (from 1); they are
// joined in number order up to the first missing number, whatever their order in the file.
QByteArray jpegProfile(const QByteArray& jpeg)
{
    if (jpeg.size() < 4 || uchar(jpeg[0]) != 0xFF || uchar(jpeg[1]) != 0xD8 || uchar(jpeg[2]) != 0xFF)
        return QByteArray();
    std::map<int, QByteArray> chunks;
    // From the first segment: writers that put the profile before any other segment exist.
    qsizetype at = 2;
    while (at + 1 < jpeg.size()) {
        if (uchar(jpeg[at]) != 0xFF) {
            ++at;
            continue;
        }
        const uchar marker = uchar(jpeg[at + 1]);
        at += 2;
        if (marker != 0xE2)
            continue;
        if (at + 2 > jpeg.size())
            break;
        const int length = readBe16(jpeg, at);
        at += 2;
        const QByteArray payload = jpeg.mid(at, qMax(length - 2, 0));
        at += payload.size();
        if (payload.size() > 14 && payload.startsWith("ICC_PROFILE"))
            chunks[uchar(payload[12])] = payload.mid(14);
    }
    QByteArray profile;
    for (int number = 1; chunks.count(number); ++number)
        profile += chunks[number];
    return profile;
}

} // namespace

ImageKind imageKindOf(const QByteArray& bytes)
{
    if (bytes.startsWith(kPngSignature))
        return ImageKind::Png;
    if (bytes.size() >= 3 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xD8 && uchar(bytes[2]) == 0xFF)
        return ImageKind::Jpeg;
    if (bytes.startsWith("BM"))
        return ImageKind::Bmp;
    if (bytes.startsWith(QByteArray("II*\0", 4)) || bytes.startsWith(QByteArray("MM\0*", 4)))
        return ImageKind::Tiff;
    return ImageKind::Unknown;
}

const char* qtFormatOf(ImageKind kind)
{
    switch (kind) {
    case ImageKind::Png: return "png";
    case ImageKind::Jpeg: return "jpeg";
    case ImageKind::Bmp: return "bmp";
    case ImageKind::Tiff: return "tiff";
    default: return "";
    }
}

QByteArray embeddedProfile(const QByteArray& file, ImageKind kind)
{
    switch (kind) {
    case ImageKind::Png: return pngProfile(file);
    case ImageKind::Jpeg: return jpegProfile(file);
    case ImageKind::Tiff: return tiffProfile(file);
    default: return QByteArray();
    }
}

QString embeddedProfilePlace(ImageKind kind)
{
    switch (kind) {
    case ImageKind::Png: return QStringLiteral("PNG iCCP chunk");
    case ImageKind::Jpeg: return QStringLiteral("JPEG APP2 ICC_PROFILE segments");
    case ImageKind::Tiff: return QStringLiteral("TIFF tag 34675");
    default: return QString();
    }
}

QByteArray embedProfilePng(const QByteArray& png, const QByteArray& profile)
{
    std::vector<PngChunk> chunks;
    if (!pngChunks(png, chunks) || chunks.empty() || chunks.front().type != "IHDR")
        return QByteArray();
    // PNG 1.2 11.3.3: iCCP goes before PLTE and IDAT and replaces sRGB, gAMA and cHRM.
    QByteArray payload("ICC profile");
    payload += '\0';
    payload += '\0';  // compression method: deflate
    payload += qCompress(profile, 9).mid(4);  // drop qCompress's size prefix: a plain zlib stream

    QByteArray out = kPngSignature;
    auto writeChunk = [&out](const QByteArray& type, const QByteArray& data) {
        appendBe32(out, quint32(data.size()));
        out += type;
        out += data;
        appendBe32(out, crc32(type + data));
    };
    for (const PngChunk& c : chunks) {
        if (c.type == "iCCP" || c.type == "sRGB" || c.type == "gAMA" || c.type == "cHRM")
            continue;
        writeChunk(c.type, c.data);
        if (c.type == "IHDR")
            writeChunk("iCCP", payload);
    }
    return out;
}

QByteArray embedProfileJpeg(const QByteArray& jpeg, const QByteArray& profile)
{
    if (jpeg.size() < 4 || uchar(jpeg[0]) != 0xFF || uchar(jpeg[1]) != 0xD8)
        return QByteArray();
    // Copy the leading segments without old ICC segments; the profile goes after JFIF/Exif.
    QByteArray head("\xFF\xD8", 2);
    qsizetype at = 2;
    QByteArray segments;
    bool inserted = false;
    const int count = int((profile.size() + kJpegIccChunk - 1) / kJpegIccChunk);
    if (count > 255)
        return QByteArray();
    auto iccSegments = [&] {
        QByteArray s;
        for (int i = 0; i < count; ++i) {
            const QByteArray part = profile.mid(qsizetype(i) * kJpegIccChunk, kJpegIccChunk);
            const int length = int(part.size()) + 16;
            s += '\xFF';
            s += '\xE2';
            s += char(length >> 8);
            s += char(length & 0xFF);
            s += kIccMarker;
            s += char(i + 1);
            s += char(count);
            s += part;
        }
        return s;
    };
    while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xFF) {
        const uchar marker = uchar(jpeg[at + 1]);
        if (marker < 0xE0 || marker > 0xEF)  // past the application segments
            break;
        const quint16 length = readBe16(jpeg, at + 2);
        if (length < 2 || at + 2 + length > jpeg.size())
            return QByteArray();
        const QByteArray segment = jpeg.mid(at, 2 + length);
        const bool isIcc = marker == 0xE2 && length >= 16 && jpeg.mid(at + 4, 12) == kIccMarker;
        if (!isIcc) {
            if (!inserted && marker != 0xE0 && marker != 0xE1) {
                segments += iccSegments();
                inserted = true;
            }
            segments += segment;
        }
        at += 2 + length;
    }
    if (!inserted)
        segments += iccSegments();
    return head + segments + jpeg.mid(at);
}
