#pragma once

// Ranges of four-character signatures, header-only and without Qt so the engine-side analyses
// use it too.

#include <krm.h>

// Each byte of `value` lies between the matching bytes of `low` and `high`: ("A2B0", "A2B2")
// accepts A2B0, A2B1 and A2B2, ("1CLR", "9CLR") the colour counts 1 to 9.
constexpr bool signature_in_range(krmUInt32Number value, const char (&low)[5], const char (&high)[5])
{
    for (int i = 0; i < 4; ++i) {
        const auto byte = krmUInt8Number(value >> (24 - 8 * i));
        if (byte < krmUInt8Number(low[i]) || byte > krmUInt8Number(high[i]))
            return false;
    }
    return true;
}
