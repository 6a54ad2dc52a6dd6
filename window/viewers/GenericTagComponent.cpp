#include "window/viewers/GenericTagComponent.h"

#include "window/widgets/HexViewer.h"
#include "window/widgets/StoredDirectory.h"

#include <QByteArray>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace {

struct RawTag {
    QByteArray bytes;
    krmUInt32Number stored_size = 0;  // as the directory gives it
    bool complete = true;             // false when fewer bytes than stored_size could be read
    QString problem;                  // why the directory entry cannot be read, if it cannot
    krmUInt32Number offset = 0;       // of the bytes shown, in the file
};

RawTag read_raw_tag(krmProfile profile, krmTagSignature sig)
{
    RawTag raw;
    krmUInt32Number offset = 0;
    const krmInt32Number count = profile ? krmGetTagCount(profile) : 0;
    krmInt32Number index = 0;
    while (index < count && krmGetTagSignature(profile, krmUInt32Number(index)) != sig)
        ++index;
    if (index >= count || !krmGetTagOffsetAndSize(profile, krmUInt32Number(index), &offset, &raw.stored_size)) {
        // The engine drops entries whose data lies outside the file; the file's directory has them.
        const StoredDirectory directory = readStoredDirectory(profile);
        const StoredTagEntry* entry = findStoredEntry(directory, sig);
        if (!entry)
            return raw;
        offset = entry->offset;
        raw.stored_size = entry->size;
        raw.problem = entry->problem;
    }
    if (raw.stored_size == 0)
        return raw;

    // The directory may point anywhere: only bytes that lie inside the file are read.
    krmIOHandler* io = krmGetProfileIOHandler(profile);
    const krmUInt32Number file_size = io ? io->ReportedSize : 0;
    const krmUInt32Number available = offset < file_size ? file_size - offset : 0;
    const krmUInt32Number wanted = std::min(raw.stored_size, available);
    raw.complete = wanted == raw.stored_size;
    if (wanted == 0)
        return raw;
    raw.bytes.resize(qsizetype(wanted));
    if (!io->Seek(io, offset) || io->Read(io, raw.bytes.data(), wanted, 1) != 1) {
        raw.bytes.clear();
        raw.complete = false;
    }
    raw.offset = offset;
    return raw;
}

}  // namespace

GenericTagComponent::GenericTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : IProfileComponentView(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    const RawTag raw = read_raw_tag(profile, sig);
    if (!raw.complete || !raw.problem.isEmpty()) {
        note_ = new QLabel(this);
        note_->setObjectName(QStringLiteral("rawNote"));
        note_->setWordWrap(true);
        note_->setContentsMargins(6, 6, 6, 6);
        QString text;
        if (!raw.problem.isEmpty())
            text = tr("The engine cannot read this tag: its directory entry %1.").arg(raw.problem) + QLatin1Char(' ');
        if (!raw.complete)
            text += raw.bytes.isEmpty()
                        ? tr("The tag's %1 bytes lie outside the file and cannot be shown.").arg(raw.stored_size)
                        : tr("The tag runs past the end of the file: %1 of its %2 bytes are shown.")
                              .arg(raw.bytes.size())
                              .arg(raw.stored_size);
        note_->setText(text.trimmed());
        layout->addWidget(note_);
    }
    if (raw.bytes.isEmpty()) {
        if (note_)
            layout->addStretch(1);
        return;
    }
    hex_ = new HexViewer(this);
    hex_->setData(raw.bytes, raw.offset);
    layout->addWidget(hex_);
}
