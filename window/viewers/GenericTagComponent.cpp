#include "window/viewers/GenericTagComponent.h"

#include "window/widgets/HexViewer.h"

#include <QByteArray>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace {

struct RawTag {
    QByteArray bytes;
    krmUInt32Number stored_size = 0;  // as the directory gives it
    bool complete = true;             // false when fewer bytes than stored_size could be read
};

RawTag read_raw_tag(krmProfile profile, krmTagSignature sig)
{
    RawTag raw;
    const krmInt32Number count = profile ? krmGetTagCount(profile) : 0;
    krmInt32Number index = 0;
    while (index < count && krmGetTagSignature(profile, krmUInt32Number(index)) != sig)
        ++index;
    krmUInt32Number offset = 0;
    if (index >= count || !krmGetTagOffsetAndSize(profile, krmUInt32Number(index), &offset, &raw.stored_size)
        || raw.stored_size == 0)
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
    return raw;
}

}  // namespace

GenericTagComponent::GenericTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : IProfileComponentView(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    const RawTag raw = read_raw_tag(profile, sig);
    if (!raw.complete) {
        note_ = new QLabel(this);
        note_->setWordWrap(true);
        note_->setContentsMargins(6, 6, 6, 6);
        note_->setText(raw.bytes.isEmpty()
                           ? tr("The tag's %1 bytes lie outside the file and cannot be shown.").arg(raw.stored_size)
                           : tr("The tag runs past the end of the file: %1 of its %2 bytes are shown.")
                                 .arg(raw.bytes.size())
                                 .arg(raw.stored_size));
        layout->addWidget(note_);
    }
    if (raw.bytes.isEmpty()) {
        if (note_)
            layout->addStretch(1);
        return;
    }
    hex_ = new HexViewer(this);
    hex_->setData(raw.bytes);
    layout->addWidget(hex_);
}
