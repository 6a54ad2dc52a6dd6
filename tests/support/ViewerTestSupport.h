#pragma once

// Helpers shared by the viewer tests: permissive reading as the application switches it on,
// hand-made profile bytes with arbitrary tags, and the real-profile corpus.

#include <krm.h>

#include <QByteArray>
#include <QDir>
#include <QImage>
#include <QList>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <memory>
#include <type_traits>

namespace viewertest {

// The same registration the application makes at start-up: tags of any known type are decoded
// whatever their signature.
inline void registerPermissiveReading()
{
    static bool done = false;
    if (done)
        return;
    static krmPluginTag permissive = {};
    permissive.base.Magic = krmPluginMagicNumber;
    permissive.base.ExpectedVersion = 2190;
    permissive.base.Type = krmPluginTagSig;
    permissive.base.Next = nullptr;
    permissive.Signature = 0;
    krmRegisterPlugin(&permissive);
    done = true;
}

inline QByteArray be32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

inline QByteArray be16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// One directory entry. The data is laid out after the directory unless `offset` is set; `size`
// overrides the stored size.
struct RawTag {
    krmTagSignature sig = 0;
    QByteArray data;
    quint32 offset = 0;
    quint32 size = 0;
};

// A version-2 RGB display profile holding exactly `tags`, built byte by byte (ICC.1:2010 7.2).
inline QByteArray buildProfile(const QList<RawTag>& tags, quint32 version = 0x02100000)
{
    QByteArray directory = be32(quint32(tags.size()));
    QByteArray data;
    const quint32 data_start = 128 + 4 + 12 * quint32(tags.size());
    for (const RawTag& tag : tags) {
        quint32 offset = tag.offset;
        if (offset == 0) {
            offset = data_start + quint32(data.size());
            data += tag.data;
            while (data.size() % 4)
                data += '\0';
        }
        directory += be32(tag.sig) + be32(offset) + be32(tag.size ? tag.size : quint32(tag.data.size()));
    }
    QByteArray header(128, '\0');
    const quint32 total = data_start + quint32(data.size());
    qToBigEndian(total, header.data());
    qToBigEndian(version, header.data() + 8);
    qToBigEndian(krmSig("mntr"), header.data() + 12);
    qToBigEndian(krmSig("RGB "), header.data() + 16);
    qToBigEndian(krmSig("XYZ "), header.data() + 20);
    qToBigEndian(krmSig("acsp"), header.data() + 36);
    qToBigEndian(quint32(0x0000F6D6), header.data() + 68);
    qToBigEndian(quint32(0x00010000), header.data() + 72);
    qToBigEndian(quint32(0x0000D32D), header.data() + 76);
    return header + directory + data;
}

// 'text' type: the type base and the bytes with a terminator.
inline QByteArray textType(const QByteArray& text)
{
    return be32(krmSig("text")) + be32(0) + text + QByteArray(1, '\0');
}

// 'mluc' type with the given (language, country, text) records.
struct Translation {
    QByteArray language;
    QByteArray country;
    QString text;
};

inline QByteArray mlucType(const QList<Translation>& translations)
{
    QByteArray head = be32(krmSig("mluc")) + be32(0) + be32(quint32(translations.size())) + be32(12);
    QByteArray pool;
    const quint32 pool_start = 16 + 12 * quint32(translations.size());
    for (const Translation& t : translations) {
        QByteArray units;
        for (const QChar c : t.text)
            units += be16(c.unicode());
        head += t.language.leftJustified(2, '\0', true) + t.country.leftJustified(2, '\0', true) + be32(quint32(units.size())) +
                be32(pool_start + quint32(pool.size()));
        pool += units;
    }
    return head + pool;
}

struct ProfileCloser {
    void operator()(void* profile) const
    {
        if (profile)
            krmCloseProfile(static_cast<krmProfile>(profile));
    }
};
using ProfilePtr = std::unique_ptr<std::remove_pointer_t<krmProfile>, ProfileCloser>;

inline ProfilePtr openFromBytes(const QByteArray& bytes)
{
    return ProfilePtr(krmOpenProfileFromMem(bytes.constData(), krmUInt32Number(bytes.size())));
}

// Saves `profile` to memory; empty on failure.
inline QByteArray saveToBytes(krmProfile profile)
{
    krmUInt32Number size = 0;
    if (!krmSaveProfileToMem(profile, nullptr, &size) || size == 0)
        return {};
    QByteArray bytes(qsizetype(size), '\0');
    if (!krmSaveProfileToMem(profile, bytes.data(), &size))
        return {};
    return bytes;
}

inline QStringList corpusProfiles()
{
    QStringList paths;
    for (const char* folder : {"/usr/share/color/icc/colord", "/usr/share/color/icc/ghostscript"}) {
        const QDir dir(QString::fromLatin1(folder));
        for (const QString& name : dir.entryList({QStringLiteral("*.icc")}, QDir::Files, QDir::Name))
            paths << dir.filePath(name);
    }
    return paths;
}

// Relative luminance difference (0-255) between the two most different colours of an image
// region; small when text would vanish into its background.
inline int lightnessSpread(const QImage& image)
{
    int lo = 255, hi = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int l = qGray(image.pixel(x, y));
            lo = std::min(lo, l);
            hi = std::max(hi, l);
        }
    return hi - lo;
}

// An RGB display profile (version 4) whose A2B0 holds `pipeline`, written by the engine and read back.
inline ProfilePtr profileWithA2B0(krmPipeline* pipeline)
{
    ProfilePtr profile(krmCreateProfilePlaceholder(nullptr));
    krmSetProfileVersion(profile.get(), 4.3);
    krmSetProfileClass(profile.get(), krmSig("mntr"));
    krmSetProfileColorSpace(profile.get(), krmSig("RGB "));
    krmSetProfilePCS(profile.get(), krmSig("Lab "));
    krmWriteTag(profile.get(), krmSig("A2B0"), pipeline);
    return openFromBytes(saveToBytes(profile.get()));
}

// Calls `visit(path, profile, tag, stage index, stage)` for every stage of type `type` in the
// pipelines of every tag of every corpus profile (`pipelineOf` gives a tag's pipeline or null).
template <typename PipelineOf, typename Visit>
void forEachCorpusStage(krmStageSignature type, PipelineOf pipelineOf, Visit visit)
{
    for (const QString& path : corpusProfiles()) {
        const ProfilePtr profile(krmOpenProfileFromFile(path.toLocal8Bit().constData(), "r"));
        if (!profile)
            continue;
        for (krmInt32Number t = 0; t < krmGetTagCount(profile.get()); ++t) {
            const krmTagSignature sig = krmGetTagSignature(profile.get(), krmUInt32Number(t));
            const std::unique_ptr<krmPipeline, void (*)(krmPipeline*)> pipeline(pipelineOf(profile.get(), sig),
                                                                                krmPipelineFree);
            int index = 0;
            for (krmStage* stage = pipeline ? krmPipelineFirstStage(pipeline.get()) : nullptr; stage;
                 stage = krmStageNext(stage), ++index) {
                if (krmStageType(stage) == type)
                    visit(path, profile.get(), sig, index, stage);
            }
        }
    }
}

}  // namespace viewertest
