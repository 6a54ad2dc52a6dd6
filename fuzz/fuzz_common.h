// Shared pieces of the fuzz targets: quiet contexts, one strict and one permissive.
#pragma once

#include "krm.h"

namespace fuzz {

// Messages are expected by the thousand; discard them.
inline void QuietHandler(krmContext, krmUInt32Number, const char*) {}

// A context whose tag reading is strict (no signature-0 tag registration).
inline krmContext StrictContext()
{
    static krmContext ctx = [] {
        krmContext c = krmCreateContext(nullptr, nullptr);
        krmSetLogErrorHandlerInContext(c, QuietHandler);
        return c;
    }();
    return ctx;
}

// A context with the application's start-up registration: a tag record with signature 0, which
// makes tag reading permissive.
inline krmContext PermissiveContext()
{
    static krmPluginTag permissive = {{krmPluginMagicNumber, 2190, krmPluginTagSig, nullptr}, 0, {0, 0, {}, nullptr}};
    static krmContext ctx = [] {
        krmContext c = krmCreateContext(&permissive, nullptr);
        krmSetLogErrorHandlerInContext(c, QuietHandler);
        return c;
    }();
    return ctx;
}

// Decodes every tag of the directory; returns how many decoded.
inline int ReadAllTags(krmProfile p)
{
    int decoded = 0;
    const krmInt32Number n = krmGetTagCount(p);
    for (krmInt32Number i = 0; i < n; i++) {
        const krmTagSignature sig = krmGetTagSignature(p, krmUInt32Number(i));
        if (sig == 0)
            continue;
        if (krmReadTag(p, sig) != nullptr)
            decoded++;
        // A second read must come from the cache (or fail the same way again).
        krmReadTag(p, sig);
        krmGetTagStoredType(p, sig);
        krmTagLinkedTo(p, sig);
    }
    krmIsMatrixShaper(p);
    return decoded;
}

}  // namespace fuzz
