#pragma once

#include <krm.h>

#include <QList>
#include <QString>

class QWidget;

// One tab of the viewer area: its title and the viewer widget, owned by whoever holds the list.
struct ViewerTab {
    QString title;
    QWidget* widget = nullptr;
};

// The virtual row of the tags table that stands for a matrix-shaper profile's tags.
constexpr krmTagSignature kMatrixShaperSignature = 0x7FFFFFF0;

// The viewer tabs for one tag of the profile; never empty. The widgets are created with `parent`.
QList<ViewerTab> createTagViewers(krmProfile profile, krmTagSignature sig, QWidget* parent);

// A hexadecimal dump of `bytes`: offset, sixteen bytes in hex and their printable characters,
// one line per sixteen bytes. `base` is the offset printed for the first byte.
QString hexDumpText(const QByteArray& bytes, quint32 base = 0);
