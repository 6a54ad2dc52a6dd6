#pragma once

#include "window/widgets/IProfileComponentView.h"

#include <krm.h>

class HexViewer;
class QLabel;

// The raw bytes of a tag as stored in the file, in a hex dump. Never throws: a tag that is absent
// or empty leaves the page empty, and a directory entry pointing past the end of the file shows
// the bytes that exist together with a note.
class GenericTagComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    GenericTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);

    // Null when the page is empty.
    HexViewer* hexViewer() const { return hex_; }
    // Null unless the stored bytes could not all be read.
    QLabel* noteLabel() const { return note_; }

private:
    HexViewer* hex_ = nullptr;
    QLabel* note_ = nullptr;
};
