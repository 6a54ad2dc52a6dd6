#include "overview/TagViewers.h"

#include "overview/Signatures.h"

#include <QByteArray>
#include <algorithm>
#include <QFontDatabase>
#include <QPlainTextEdit>

namespace {

// Larger tags are shown up to this many bytes; a text box of millions of lines helps nobody.
const krmUInt32Number kMaxDumpBytes = 1024 * 1024;

struct TagBytes {
    QByteArray bytes;
    krmUInt32Number offset = 0;
    krmUInt32Number size = 0;
    QString problem;  // why the bytes could not be read, empty on success
};

TagBytes read_tag_bytes(krmProfile profile, krmTagSignature sig)
{
    TagBytes result;
    const krmInt32Number count = profile ? krmGetTagCount(profile) : 0;
    krmInt32Number index = 0;
    while (index < count && krmGetTagSignature(profile, krmUInt32Number(index)) != sig)
        ++index;
    if (index >= count) {
        result.problem = QObject::tr("The profile has no tag '%1'.").arg(signatureText(sig));
        return result;
    }
    if (!krmGetTagOffsetAndSize(profile, krmUInt32Number(index), &result.offset, &result.size)) {
        result.problem = QObject::tr("The tag directory entry of '%1' cannot be read.").arg(signatureText(sig));
        return result;
    }

    krmIOHandler* io = krmGetProfileIOHandler(profile);
    if (!io) {
        result.problem = QObject::tr("The profile's bytes are not available.");
        return result;
    }
    // The directory may point anywhere; only bytes inside the file are read.
    if (result.offset >= io->ReportedSize || result.size > io->ReportedSize - result.offset) {
        result.problem = QObject::tr("The tag lies outside the file: offset %1, size %2, file size %3.")
                             .arg(result.offset)
                             .arg(result.size)
                             .arg(io->ReportedSize);
        return result;
    }
    const krmUInt32Number wanted = std::min(result.size, kMaxDumpBytes);
    result.bytes.resize(qsizetype(wanted));
    if (wanted > 0 && (!io->Seek(io, result.offset) || io->Read(io, result.bytes.data(), wanted, 1) != 1)) {
        result.bytes.clear();
        result.problem = QObject::tr("The tag's bytes cannot be read.");
    }
    return result;
}

QString raw_text(krmProfile profile, krmTagSignature sig)
{
    if (!profile)
        return QObject::tr("No profile is open.");
    if (sig == kMatrixShaperSignature)
        return QObject::tr("This profile is a matrix-shaper: its colorant tags (rXYZ, gXYZ, bXYZ) and tone "
                           "curves (rTRC, gTRC, bTRC or kTRC) together convert device colours to the PCS. "
                           "Select one of those tags to see its bytes.");

    const TagBytes tag = read_tag_bytes(profile, sig);
    if (!tag.problem.isEmpty())
        return tag.problem;

    QString text = QObject::tr("Tag '%1': %2 bytes at offset %3 (0x%4)")
                       .arg(signatureText(sig))
                       .arg(tag.size)
                       .arg(tag.offset)
                       .arg(tag.offset, 0, 16);
    if (tag.size > krmUInt32Number(tag.bytes.size()))
        text += QObject::tr(", first %1 bytes shown").arg(tag.bytes.size());
    text += QStringLiteral("\n\n");
    text += hexDumpText(tag.bytes, tag.offset);
    return text;
}

}  // namespace

QString hexDumpText(const QByteArray& bytes, quint32 base)
{
    static const char digits[] = "0123456789abcdef";
    QString text;
    text.reserve(bytes.size() / 16 * 80 + 80);
    for (qsizetype line = 0; line < bytes.size(); line += 16) {
        text += QStringLiteral("%1  ").arg(quint64(base) + quint64(line), 8, 16, QChar('0'));
        QString ascii;
        for (qsizetype i = line; i < line + 16; ++i) {
            if (i < bytes.size()) {
                const auto b = static_cast<unsigned char>(bytes[i]);
                text += QChar::fromLatin1(digits[b >> 4]);
                text += QChar::fromLatin1(digits[b & 0xF]);
                text += QChar(' ');
                ascii += (b >= 0x20 && b < 0x7F) ? QChar::fromLatin1(char(b)) : QChar('.');
            } else {
                text += QStringLiteral("   ");
            }
            if (i == line + 7)
                text += QChar(' ');
        }
        text += QStringLiteral(" ") + ascii + QChar('\n');
    }
    return text;
}

QList<ViewerTab> createTagViewers(krmProfile profile, krmTagSignature sig, QWidget* parent)
{
    auto* view = new QPlainTextEdit(parent);
    view->setObjectName("rawTagView");
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->setPlainText(raw_text(profile, sig));
    return {ViewerTab{QObject::tr("Raw"), view}};
}
