// Opens a profile from memory, decodes every tag strictly and permissively, saves it to memory,
// reopens the saved bytes and decodes every tag again.
#include <cstdlib>
#include <vector>

#include "fuzz_common.h"

namespace {

// A saved profile can legitimately be larger than its source (re-encoded tags), but not by
// orders of magnitude; anything bigger would be an allocation fault of its own.
constexpr krmUInt32Number kMaxSaved = 64u << 20;

void RoundTrip(krmContext ctx, const uint8_t* data, size_t size)
{
    krmProfile p = krmOpenProfileFromMemInContext(ctx, data, krmUInt32Number(size));
    if (!p)
        return;
    fuzz::ReadAllTags(p);

    krmUInt32Number needed = 0;
    if (krmSaveProfileToMem(p, nullptr, &needed) && needed > 0 && needed <= kMaxSaved) {
        std::vector<uint8_t> saved(needed);
        krmUInt32Number written = needed;
        if (krmSaveProfileToMem(p, saved.data(), &written)) {
            if (krmProfile again = krmOpenProfileFromMemInContext(ctx, saved.data(), written)) {
                fuzz::ReadAllTags(again);
                krmCloseProfile(again);
            }
        }
    }
    krmCloseProfile(p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    RoundTrip(fuzz::StrictContext(), data, size);
    RoundTrip(fuzz::PermissiveContext(), data, size);
    return 0;
}
