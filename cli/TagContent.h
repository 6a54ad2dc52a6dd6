#pragma once

// Decoded tag objects as value trees: what "prismet-cli tag" prints.

#include "cli/CliValue.h"

#include <krm.h>

struct TagContentOptions {
    bool full = false;  // curve tables inside pipelines and CLUT node values
};

// The content of the object krmReadTag returned for a tag stored with `type`. `dataSize` is the
// tag's size without its 8-byte type base (array types carry no count of their own).
CliValue describeTagContent(krmProfile profile, krmTagSignature tag, krmTagTypeSignature type, const void* object,
                            krmUInt32Number dataSize, const TagContentOptions& options);

// Pieces, also used on their own.
CliValue describeText(const krmMLU* mlu);
CliValue describeCurve(const krmToneCurve* curve, bool withTable);
CliValue describePipeline(const krmPipeline* pipeline, const TagContentOptions& options);

class EngineSession;
struct LoadedProfile;
struct DirectoryEntry;
struct CliIO;

struct TagReadOptions {
    bool raw = false;     // the stored bytes only
    bool full = false;    // see TagContentOptions
    bool strict = false;  // the session reads as the conformance check does
};

// One tag as "tag" and "dump" report it: "error", then signature, name, stored type, offset,
// size, link, sharing, whether it decoded, the content, and the bytes (all with --raw, the first
// 256 when not decoded). A tag that cannot be read sets `status` to 1 and fills "error".
CliValue tagDocument(EngineSession& session, const LoadedProfile& loaded, const DirectoryEntry& entry,
                     const TagReadOptions& options, int& status);
// Its text into io.out: a heading line, handed on first, then the content or a hex dump, so that
// a long content streaming out under a CliValue::Spill comes after its heading.
void writeTagText(const CliValue& doc, CliIO& io);
