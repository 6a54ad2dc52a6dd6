// A profile's tag directory as stored, read from bytes or through the profile's I/O handler.
#include "common/analysis/TagDirectory.h"

#include <algorithm>
#include <functional>

namespace {

constexpr krmUInt32Number kHeaderSize = 128;
constexpr krmUInt32Number kEntrySize = 12;

krmUInt32Number be32(const krmUInt8Number* p)
{
    return (krmUInt32Number(p[0]) << 24) | (krmUInt32Number(p[1]) << 16) | (krmUInt32Number(p[2]) << 8) | p[3];
}

// `read` fills `size` bytes at `offset`, or says they do not lie inside the file.
using Reader = std::function<bool(krmUInt32Number offset, krmUInt32Number size, krmUInt8Number* out)>;

TagDirectory read_with(krmUInt32Number fileSize, const Reader& read)
{
    TagDirectory directory;
    directory.fileSize = fileSize;
    krmUInt8Number word[4];
    if (read(0, 4, word))
        directory.declaredSize = be32(word);
    if (!read(kHeaderSize, 4, word))
        return directory;
    const krmUInt32Number count = be32(word);
    for (krmUInt32Number i = 0; i < count; ++i) {
        krmUInt8Number entry[kEntrySize];
        const std::uint64_t at = kHeaderSize + 4 + std::uint64_t(i) * kEntrySize;
        if (at + kEntrySize > fileSize || !read(krmUInt32Number(at), kEntrySize, entry)) {
            directory.cutShort = true;
            break;
        }
        directory.entries.push_back(TagDirectoryEntry{be32(entry), be32(entry + 4), be32(entry + 8)});
    }
    return directory;
}

bool inside(krmUInt32Number fileSize, krmUInt32Number offset, krmUInt32Number size)
{
    return offset <= fileSize && size <= fileSize - offset;
}

}  // namespace

const TagDirectoryEntry* TagDirectory::find(krmTagSignature signature) const
{
    for (const TagDirectoryEntry& entry : entries) {
        if (entry.signature == signature)
            return &entry;
    }
    return nullptr;
}

TagDirectory read_tag_directory(const std::uint8_t* bytes, std::size_t size)
{
    const krmUInt32Number fileSize = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : krmUInt32Number(size);
    return read_with(fileSize, [&](krmUInt32Number offset, krmUInt32Number count, krmUInt8Number* out) {
        if (!bytes || !inside(fileSize, offset, count))
            return false;
        std::copy(bytes + offset, bytes + offset + count, out);
        return true;
    });
}

TagDirectory read_tag_directory(krmProfile profile)
{
    krmIOHandler* io = profile ? krmGetProfileIOHandler(profile) : nullptr;
    if (!io)
        return {};
    const krmUInt32Number position = io->Tell(io);
    // A read past the end would be reported by the engine as an error of its own.
    TagDirectory directory = read_with(io->ReportedSize, [io](krmUInt32Number offset, krmUInt32Number count,
                                                              krmUInt8Number* out) {
        return inside(io->ReportedSize, offset, count) && io->Seek(io, offset) && io->Read(io, out, count, 1) == 1;
    });
    io->Seek(io, position);
    return directory;
}
