#include "window/widgets/StoredDirectory.h"

#include "common/analysis/TagDirectory.h"

#include <QCoreApplication>

QString storedEntryProblem(krmUInt32Number offset, krmUInt32Number size, krmUInt32Number fileSize)
{
    if (offset == 0 || size == 0)
        return QCoreApplication::translate("StoredDirectory", "has no data (offset or size is 0)");
    if (offset >= fileSize)
        return QCoreApplication::translate("StoredDirectory", "points past the end of the file");
    if (size > fileSize - offset)
        return QCoreApplication::translate("StoredDirectory", "runs past the end of the file");
    return {};
}

StoredDirectory readStoredDirectory(krmProfile profile)
{
    const TagDirectory stored = read_tag_directory(profile);
    StoredDirectory directory;
    directory.declaredSize = stored.declaredSize;
    directory.fileSize = stored.fileSize;
    directory.cutShort = stored.cutShort;
    for (const TagDirectoryEntry& e : stored.entries) {
        StoredTagEntry entry{e.signature, e.offset, e.size, storedEntryProblem(e.offset, e.size, stored.fileSize)};
        // The engine reads no further than the size the header declares.
        if (entry.problem.isEmpty() && stored.declaredSize < stored.fileSize && stored.runsPastDeclared(e))
            entry.problem = QCoreApplication::translate("StoredDirectory", "lies past the profile size the header declares");
        directory.entries.append(entry);
    }
    return directory;
}

const StoredTagEntry* findStoredEntry(const StoredDirectory& directory, krmTagSignature signature)
{
    for (const StoredTagEntry& entry : directory.entries) {
        if (entry.signature == signature)
            return &entry;
    }
    return nullptr;
}
