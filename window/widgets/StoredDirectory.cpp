#include "window/widgets/StoredDirectory.h"

#include <QCoreApplication>

namespace {

constexpr krmUInt32Number kHeaderSize = 128;
constexpr krmUInt32Number kEntrySize = 12;

krmUInt32Number be32(const krmUInt8Number* p)
{
    return (krmUInt32Number(p[0]) << 24) | (krmUInt32Number(p[1]) << 16) | (krmUInt32Number(p[2]) << 8) | p[3];
}

// Reads `size` bytes at `offset` only when they lie inside the file: a read past the end would be
// reported by the engine as an error of its own.
bool read_inside(krmIOHandler* io, krmUInt32Number offset, krmUInt32Number size, krmUInt8Number* out)
{
    if (offset > io->ReportedSize || size > io->ReportedSize - offset)
        return false;
    return io->Seek(io, offset) && io->Read(io, out, size, 1) == 1;
}

}  // namespace

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
    StoredDirectory directory;
    krmIOHandler* io = profile ? krmGetProfileIOHandler(profile) : nullptr;
    if (!io)
        return directory;
    const krmUInt32Number position = io->Tell(io);
    directory.fileSize = io->ReportedSize;

    krmUInt8Number word[4];
    if (read_inside(io, 0, 4, word))
        directory.declaredSize = be32(word);
    if (read_inside(io, kHeaderSize, 4, word)) {
        const krmUInt32Number count = be32(word);
        for (krmUInt32Number i = 0; i < count; ++i) {
            krmUInt8Number entry[kEntrySize];
            if (!read_inside(io, kHeaderSize + 4 + i * kEntrySize, kEntrySize, entry)) {
                directory.cutShort = true;
                break;
            }
            StoredTagEntry stored{be32(entry), be32(entry + 4), be32(entry + 8), QString()};
            stored.problem = storedEntryProblem(stored.offset, stored.size, directory.fileSize);
            // The engine reads no further than the size the header declares.
            if (stored.problem.isEmpty() && directory.declaredSize < directory.fileSize
                && stored.offset + stored.size > directory.declaredSize)
                stored.problem = QCoreApplication::translate("StoredDirectory",
                                                             "lies past the profile size the header declares");
            directory.entries.append(stored);
        }
    }
    io->Seek(io, position);
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
