#pragma once

// A profile's tag directory as the file stores it, every entry included: the engine drops entries
// whose data lies outside the file, and the window, the check and the command line name them
// instead of calling the tags missing. Each caller words the problem its own way.

#include <krm.h>

#include <cstddef>
#include <cstdint>
#include <vector>

struct TagDirectoryEntry {
    krmTagSignature signature = 0;
    krmUInt32Number offset = 0;
    krmUInt32Number size = 0;
};

struct TagDirectory {
    krmUInt32Number declaredSize = 0;  // the header's size field (0 when the file is shorter)
    krmUInt32Number fileSize = 0;      // the bytes the file holds
    std::vector<TagDirectoryEntry> entries;  // in stored order
    bool cutShort = false;                   // the directory itself runs past the end of the file

    const TagDirectoryEntry* find(krmTagSignature signature) const;

    static bool hasNoData(const TagDirectoryEntry& e) { return e.offset == 0 || e.size == 0; }
    bool startsPastEnd(const TagDirectoryEntry& e) const { return e.offset >= fileSize; }
    bool runsPastEnd(const TagDirectoryEntry& e) const { return std::uint64_t(e.offset) + e.size > fileSize; }
    bool runsPastDeclared(const TagDirectoryEntry& e) const { return std::uint64_t(e.offset) + e.size > declaredSize; }
};

// ICC.1:2010 7.2–7.3 from the file's bytes.
TagDirectory read_tag_directory(const std::uint8_t* bytes, std::size_t size);
// The same through the open profile's I/O handler, reading only the header's size field and the
// directory, never past the end of the file; the handler's position is kept.
TagDirectory read_tag_directory(krmProfile profile);
