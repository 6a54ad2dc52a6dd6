#include "common/audit/RawProfile.h"

#include "common/signatures/Signatures.h"
#include "common/analysis/TagDirectory.h"

#include <QCoreApplication>
#include <QtEndian>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("RawProfile", text);
}

krmUInt32Number be32(const QByteArray& bytes, qsizetype at)
{
    return at + 4 <= bytes.size() ? qFromBigEndian<quint32>(bytes.constData() + at) : 0;
}

} // namespace

RawProfile RawProfile::read(krmProfile profile)
{
    RawProfile raw;
    krmIOHandler* io = profile ? krmGetProfileIOHandler(profile) : nullptr;
    if (!io || io->ReportedSize == 0)
        return raw;
    const krmUInt32Number position = io->Tell(io);
    QByteArray bytes(qsizetype(io->ReportedSize), '\0');
    const bool ok = io->Seek(io, 0) && io->Read(io, bytes.data(), io->ReportedSize, 1) == 1;
    io->Seek(io, position);
    if (!ok)
        return raw;
    raw.bytes = bytes;
    raw.directory = read_tag_directory(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                       std::size_t(bytes.size())).entries;
    return raw;
}

const RawTagEntry* RawProfile::find(krmTagSignature signature) const
{
    for (const RawTagEntry& e : directory)
        if (e.signature == signature)
            return &e;
    return nullptr;
}

QString RawProfile::placementProblem(const RawTagEntry& e) const
{
    const qint64 end = qint64(e.offset) + qint64(e.size);
    const qint64 declared = be32(bytes, 0);
    const QString sig = signatureText(e.signature);
    if (end > bytes.size())
        return tr("'%1' points past the end of the file (offset %2, size %3, file %4).")
            .arg(sig).arg(e.offset).arg(e.size).arg(bytes.size());
    if (end > declared)
        return tr("'%1' lies past the profile size in the header (offset %2, size %3, header %4).")
            .arg(sig).arg(e.offset).arg(e.size).arg(declared);
    return QString();
}

QString RawProfile::dataPlace(krmTagSignature signature) const
{
    const RawTagEntry* e = find(signature);
    return e ? QLatin1Char(' ') + tr("Its data starts at byte %1 and holds %2 bytes.").arg(e->offset).arg(e->size)
             : QString();
}
