#pragma once

// The tag directory as the file stores it, every entry included: the engine drops entries whose
// data lies outside the file, and the window still lists them with the reason.

#include <krm.h>

#include <QList>
#include <QString>

struct StoredTagEntry {
    krmTagSignature signature = 0;
    krmUInt32Number offset = 0;
    krmUInt32Number size = 0;
    QString problem;  // why the data cannot be read; empty when it lies inside the file
};

struct StoredDirectory {
    krmUInt32Number declaredSize = 0;  // the header's size field
    krmUInt32Number fileSize = 0;      // the bytes the file holds
    QList<StoredTagEntry> entries;     // in directory order
    bool cutShort = false;             // the directory itself runs past the end of the file
};

// Reads the header's size field and the directory of the open profile through its I/O handler,
// never past the end of the file; the handler's position is kept.
StoredDirectory readStoredDirectory(krmProfile profile);

// Classifies one entry against a file of `fileSize` bytes; empty when its data lies inside.
QString storedEntryProblem(krmUInt32Number offset, krmUInt32Number size, krmUInt32Number fileSize);

// The first stored entry with this signature, or null.
const StoredTagEntry* findStoredEntry(const StoredDirectory& directory, krmTagSignature signature);
