#pragma once

// The profile file's bytes and its tag directory as stored: the engine drops directory entries
// whose data lies past the end, and the checks must name those instead of calling them missing.

#include <krm.h>

#include <QByteArray>
#include <QString>

#include <vector>

#include "common/analysis/TagDirectory.h"

using RawTagEntry = TagDirectoryEntry;

struct RawProfile {
    QByteArray bytes;                    // the whole file
    std::vector<RawTagEntry> directory;  // every entry the file holds, in stored order

    // Read through the profile's own I/O handler, which is left where it was.
    static RawProfile read(krmProfile profile);

    const RawTagEntry* find(krmTagSignature signature) const;
    // Why the entry's data cannot be read from the file ("'B2A0' points past the end of the
    // file …"), or empty when it lies inside.
    QString placementProblem(const RawTagEntry& entry) const;
    // " Its data starts at byte N and holds M bytes." for a tag of the directory, else empty:
    // appended to the messages of findings about that tag.
    QString dataPlace(krmTagSignature signature) const;
};
