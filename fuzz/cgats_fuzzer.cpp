// Parses arbitrary text as CGATS and walks everything the reader exposes.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    krmIT8* it8 = krmIT8LoadFromMem(fuzz::StrictContext(), data, krmUInt32Number(size));
    if (!it8)
        return 0;
    const krmUInt32Number tables = krmIT8TableCount(it8);
    for (krmUInt32Number t = 0; t < tables; t++) {
        if (krmIT8SetTable(it8, t) < 0)
            continue;
        krmIT8GetSheetType(it8);
        const char** props = nullptr;
        const krmUInt32Number nProps = krmIT8EnumProperties(it8, &props);
        for (krmUInt32Number i = 0; i < nProps; i++) {
            krmIT8GetProperty(it8, props[i]);
            krmIT8GetPropertyDbl(it8, props[i]);
            const char** subs = nullptr;
            const krmUInt32Number nSubs = krmIT8EnumPropertyMulti(it8, props[i], &subs);
            for (krmUInt32Number j = 0; j < nSubs; j++)
                krmIT8GetPropertyMulti(it8, props[i], subs[j]);
        }
        const char** fields = nullptr;
        const krmInt32Number nFields = krmIT8EnumDataFormat(it8, &fields);
        for (krmInt32Number row = -1; row < 4; row++) {
            const char* patch = krmIT8GetPatchName(it8, row);
            for (krmInt32Number col = -1; col <= nFields; col++) {
                krmIT8GetDataRowCol(it8, row, col);
                krmIT8GetDataRowColDbl(it8, row, col);
                if (patch && col >= 0 && col < nFields && fields) {
                    krmIT8GetData(it8, patch, fields[col]);
                    krmIT8GetDataDbl(it8, patch, fields[col]);
                    krmIT8FindDataFormat(it8, fields[col]);
                }
            }
            if (patch)
                krmIT8GetPatchByName(it8, patch);
        }
        krmIT8GetPatchByName(it8, "A1");
        krmIT8FindDataFormat(it8, "SAMPLE_ID");
    }
    krmIT8SetTable(it8, tables + 3);
    krmIT8Free(it8);
    return 0;
}
