// Structured tag types: colorant tables, named colours, profile sequences, CRD info, UCR/BG,
// screening, video card gamma, dictionaries and 'MHC2'. Offsets inside these tags count from
// the tag start, the position of the 8-byte type base.

#include "krm_internal.h"

#include <cmath>
#include <cstring>

namespace {

krmUInt32Number tagStartOnRead(krmIOHandler* io)
{
    return io->Tell(io) - 8;
}

// Writers are called right after the container wrote the type base.
krmUInt32Number tagStartOnWrite(krmIOHandler* io)
{
    return io->Tell(io) - 8;
}

// A fixed-size name field: at most max characters kept.
bool readName(krmIOHandler* io, krmUInt32Number fieldSize, char* out, krmUInt32Number max)
{
    char buf[64];
    if (fieldSize > sizeof buf || io->Read(io, buf, fieldSize, 1) != 1)
        return false;
    krmUInt32Number n = 0;
    while (n < max && n < fieldSize && buf[n] != 0) {
        out[n] = buf[n];
        n++;
    }
    out[n] = 0;
    return true;
}

// Zero-padded, cut to the field.
bool writeName(krmIOHandler* io, krmUInt32Number fieldSize, const char* name)
{
    char buf[64] = {};
    if (fieldSize > sizeof buf)
        return false;
    if (name != nullptr)
        std::memcpy(buf, name, strnlen(name, fieldSize));  // no terminator needed: the field is fixed
    return io->Write(io, fieldSize, buf);
}

// A text with its own type base inside 'pseq' and 'psid'.
krmMLU* readEmbeddedText(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number SizeOfTag)
{
    if (SizeOfTag < 8)
        return nullptr;
    krmTagTypeSignature type = krmReadTypeBase(io);
    SizeOfTag -= 8;
    krmUInt32Number n;
    if (type == krmSig("desc"))
        return (krmMLU*)_krmType_TextDescription_Read(self, io, &n, SizeOfTag);
    if (type == krmSig("mluc"))
        return (krmMLU*)_krmType_MLU_Read(self, io, &n, SizeOfTag);
    if (type == krmSig("text"))
        return (krmMLU*)_krmType_Text_Read(self, io, &n, SizeOfTag);
    return nullptr;
}

bool writeEmbeddedText(krmTagTypeHandler* self, krmIOHandler* io, const krmMLU* text)
{
    if (self->ICCVersion >= 0x04000000)
        return krmWriteTypeBase(io, krmSig("mluc")) && _krmType_MLU_Write(self, io, (void*)text, 1);
    return krmWriteTypeBase(io, krmSig("desc")) && _krmWriteTextDescription(self, io, text, false);
}

krmUInt32Number remainingInStream(krmIOHandler* io)
{
    krmUInt32Number pos = io->Tell(io);
    return io->ReportedSize > pos ? io->ReportedSize - pos : 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// 'clrt' (ICC.1:2010 10.4)
// ---------------------------------------------------------------------------------------------

void* _krmType_ColorantTable_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                                  krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmUInt32Number count;
    if (SizeOfTag < 4 || !krmReadUInt32(io, &count))
        return nullptr;
    if (count > krmMAXCHANNELS) {
        krmSignalError(self->ContextID, krmErrRange, "Too many colorants '%d'", count);
        return nullptr;
    }
    if (count > (SizeOfTag - 4) / 38)
        return nullptr;
    krmNamedColorList* list = krmAllocNamedColorList(self->ContextID, count, 0, "", "");
    if (list == nullptr)
        return nullptr;
    for (krmUInt32Number i = 0; i < count; i++) {
        char name[33];
        krmUInt16Number pcs[3];
        if (!readName(io, 32, name, 32) || !krmReadUInt16Array(io, 3, pcs) ||
            !krmAppendNamedColor(list, name, pcs, nullptr)) {
            krmFreeNamedColorList(list);
            return nullptr;
        }
    }
    *nItems = 1;
    return list;
}

krmBool _krmType_ColorantTable_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmNamedColorList* list = (const krmNamedColorList*)Ptr;
    krmUInt32Number count = krmNamedColorCount(list);
    if (!krmWriteUInt32(io, count))
        return false;
    for (krmUInt32Number i = 0; i < count; i++) {
        char name[krmMAX_NAMED_COLOR_NAME];
        krmUInt16Number pcs[3];
        if (!krmNamedColorInfo(list, i, name, nullptr, nullptr, pcs, nullptr) || !writeName(io, 32, name) ||
            !krmWriteUInt16Array(io, 3, pcs))
            return false;
    }
    return true;
}

void* _krmType_ColorantTable_Dup(krmTagTypeHandler*, const void* Ptr, krmUInt32Number)
{
    return krmDupNamedColorList((const krmNamedColorList*)Ptr);
}

void _krmType_ColorantTable_Free(krmTagTypeHandler*, void* Ptr)
{
    krmFreeNamedColorList((krmNamedColorList*)Ptr);
}

// ---------------------------------------------------------------------------------------------
// 'ncl2' (ICC.1:2010 10.17)
// ---------------------------------------------------------------------------------------------

void* _krmType_NamedColor_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                               krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmUInt32Number vendorFlag, count, nDeviceCoords;
    char prefix[33], suffix[33];
    if (SizeOfTag < 76 || !krmReadUInt32(io, &vendorFlag) || !krmReadUInt32(io, &count) || !krmReadUInt32(io, &nDeviceCoords) ||
        !readName(io, 32, prefix, 31) || !readName(io, 32, suffix, 31))
        return nullptr;
    if (nDeviceCoords > krmMAXCHANNELS) {
        krmSignalError(self->ContextID, krmErrRange, "Too many device coordinates '%d'", nDeviceCoords);
        return nullptr;
    }
    krmNamedColorList* list = krmAllocNamedColorList(self->ContextID, count, nDeviceCoords, prefix, suffix);
    if (list == nullptr) {
        krmSignalError(self->ContextID, krmErrRange, "Too many named colors '%d'", count);
        return nullptr;
    }
    if (count > (SizeOfTag - 76) / (38 + 2 * nDeviceCoords)) {
        krmFreeNamedColorList(list);
        return nullptr;
    }
    for (krmUInt32Number i = 0; i < count; i++) {
        char name[33];
        krmUInt16Number pcs[3];
        krmUInt16Number colorant[krmMAXCHANNELS] = {};
        if (!readName(io, 32, name, 32) || !krmReadUInt16Array(io, 3, pcs) ||
            (nDeviceCoords > 0 && !krmReadUInt16Array(io, nDeviceCoords, colorant)) ||
            !krmAppendNamedColor(list, name, pcs, colorant)) {
            krmFreeNamedColorList(list);
            return nullptr;
        }
    }
    *nItems = 1;
    return list;
}

krmBool _krmType_NamedColor_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmNamedColorList* list = (const krmNamedColorList*)Ptr;
    krmUInt32Number count = krmNamedColorCount(list);
    krmUInt32Number nCoords = krmNamedColorColorantCount(list);
    if (!krmWriteUInt32(io, 0) || !krmWriteUInt32(io, count) || !krmWriteUInt32(io, nCoords) ||
        !writeName(io, 32, list->Prefix) || !writeName(io, 32, list->Suffix))
        return false;
    for (krmUInt32Number i = 0; i < count; i++) {
        char name[krmMAX_NAMED_COLOR_NAME];
        krmUInt16Number pcs[3];
        krmUInt16Number colorant[krmMAXCHANNELS] = {};
        if (!krmNamedColorInfo(list, i, name, nullptr, nullptr, pcs, colorant) || !writeName(io, 32, name) ||
            !krmWriteUInt16Array(io, 3, pcs) || (nCoords > 0 && !krmWriteUInt16Array(io, nCoords, colorant)))
            return false;
    }
    return true;
}

void* _krmType_NamedColor_Dup(krmTagTypeHandler*, const void* Ptr, krmUInt32Number)
{
    return krmDupNamedColorList((const krmNamedColorList*)Ptr);
}

void _krmType_NamedColor_Free(krmTagTypeHandler*, void* Ptr)
{
    krmFreeNamedColorList((krmNamedColorList*)Ptr);
}

// ---------------------------------------------------------------------------------------------
// 'pseq' (ICC.1:2010 10.19)
// ---------------------------------------------------------------------------------------------

void* _krmType_ProfileSequenceDesc_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                                        krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmUInt32Number count;
    if (SizeOfTag < 4 || !krmReadUInt32(io, &count) || count < 1 || count > 255)
        return nullptr;
    SizeOfTag -= 4;

    krmSequence* seq = krmAllocProfileSequence(self->ContextID, count);
    if (seq == nullptr)
        return nullptr;

    for (krmUInt32Number i = 0; i < count; i++) {
        krmPSEQDESC& d = seq->seq[i];
        if (SizeOfTag < 4 || !krmReadUInt32(io, &d.deviceMfg))
            goto Error;
        SizeOfTag -= 4;
        if (SizeOfTag < 4 || !krmReadUInt32(io, &d.deviceModel))
            goto Error;
        SizeOfTag -= 4;
        if (SizeOfTag < 8 || !krmReadUInt64(io, &d.attributes))
            goto Error;
        SizeOfTag -= 8;
        if (SizeOfTag < 4 || !krmReadUInt32(io, &d.technology))
            goto Error;
        SizeOfTag -= 4;

        krmMLU** texts[2] = {&d.Manufacturer, &d.Model};
        for (krmMLU** t : texts) {
            krmUInt32Number before = io->Tell(io);
            *t = readEmbeddedText(self, io, SizeOfTag);
            if (*t == nullptr)
                goto Error;
            krmUInt32Number used = io->Tell(io) - before;
            if (used > SizeOfTag)
                goto Error;
            SizeOfTag -= used;
        }
    }
    *nItems = 1;
    return seq;

Error:
    krmFreeProfileSequence(seq);
    return nullptr;
}

krmBool _krmType_ProfileSequenceDesc_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmSequence* seq = (const krmSequence*)Ptr;
    if (!krmWriteUInt32(io, seq->n))
        return false;
    for (krmUInt32Number i = 0; i < seq->n; i++) {
        const krmPSEQDESC& d = seq->seq[i];
        if (!krmWriteUInt32(io, d.deviceMfg) || !krmWriteUInt32(io, d.deviceModel) ||
            !krmWriteUInt64(io, d.attributes) || !krmWriteUInt32(io, d.technology) ||
            !writeEmbeddedText(self, io, d.Manufacturer) || !writeEmbeddedText(self, io, d.Model))
            return false;
    }
    return true;
}

void* _krmType_ProfileSequenceDesc_Dup(krmTagTypeHandler*, const void* Ptr, krmUInt32Number)
{
    return krmDupProfileSequence((const krmSequence*)Ptr);
}

void _krmType_ProfileSequenceDesc_Free(krmTagTypeHandler*, void* Ptr)
{
    krmFreeProfileSequence((krmSequence*)Ptr);
}

// ---------------------------------------------------------------------------------------------
// 'psid' (ICC.1:2010 10.20): a position table of elements, each a profile ID and a text
// ---------------------------------------------------------------------------------------------

void* _krmType_ProfileSequenceId_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                                      krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmUInt32Number start = tagStartOnRead(io);
    krmUInt32Number count;
    if (!krmReadUInt32(io, &count) || count < 1 || count > 255)
        return nullptr;
    // The position table must fit in what the stream has left.
    if (remainingInStream(io) / 8 < count)
        return nullptr;

    krmUInt32Number offsets[255], sizes[255];
    for (krmUInt32Number i = 0; i < count; i++)
        if (!krmReadUInt32(io, &offsets[i]) || !krmReadUInt32(io, &sizes[i]))
            return nullptr;

    krmSequence* seq = krmAllocProfileSequence(self->ContextID, count);
    if (seq == nullptr)
        return nullptr;
    for (krmUInt32Number i = 0; i < count; i++) {
        krmPSEQDESC& d = seq->seq[i];
        // Each element must lie inside the tag.
        if (sizes[i] < 16 || offsets[i] + sizes[i] < offsets[i] || offsets[i] + sizes[i] > SizeOfTag + 8 ||
            !io->Seek(io, start + offsets[i]) ||
            io->Read(io, d.ProfileID, 16, 1) != 1) {
            krmFreeProfileSequence(seq);
            return nullptr;
        }
        d.Description = readEmbeddedText(self, io, sizes[i] - 16);
        if (d.Description == nullptr) {
            krmFreeProfileSequence(seq);
            return nullptr;
        }
    }
    *nItems = 1;
    return seq;
}

krmBool _krmType_ProfileSequenceId_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmSequence* seq = (const krmSequence*)Ptr;
    krmUInt32Number start = tagStartOnWrite(io);
    if (seq->n > 255 || !krmWriteUInt32(io, seq->n))
        return false;

    krmUInt32Number tablePos = io->Tell(io);
    for (krmUInt32Number i = 0; i < seq->n; i++)
        if (!krmWriteUInt32(io, 0) || !krmWriteUInt32(io, 0))
            return false;

    krmUInt32Number offsets[255], sizes[255];
    for (krmUInt32Number i = 0; i < seq->n; i++) {
        krmUInt32Number before = io->Tell(io);
        offsets[i] = before - start;
        if (!io->Write(io, 16, seq->seq[i].ProfileID) || !writeEmbeddedText(self, io, seq->seq[i].Description))
            return false;
        sizes[i] = io->Tell(io) - before;
    }

    krmUInt32Number end = io->Tell(io);
    if (!io->Seek(io, tablePos))
        return false;
    for (krmUInt32Number i = 0; i < seq->n; i++)
        if (!krmWriteUInt32(io, offsets[i]) || !krmWriteUInt32(io, sizes[i]))
            return false;
    return io->Seek(io, end);
}

void* _krmType_ProfileSequenceId_Dup(krmTagTypeHandler*, const void* Ptr, krmUInt32Number)
{
    return krmDupProfileSequence((const krmSequence*)Ptr);
}

void _krmType_ProfileSequenceId_Free(krmTagTypeHandler*, void* Ptr)
{
    krmFreeProfileSequence((krmSequence*)Ptr);
}

// ---------------------------------------------------------------------------------------------
// 'crdi' (ICC.1:2001 6.5.2): product name and four CRD names, stored under language "PS"
// ---------------------------------------------------------------------------------------------

static const char* const kCrdSections[5] = {"nm", "#0", "#1", "#2", "#3"};

void* _krmType_CrdInfo_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                            krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmMLU* mlu = krmMLUAlloc(self->ContextID, 5);
    if (mlu == nullptr)
        return nullptr;

    for (const char* code : kCrdSections) {
        krmUInt32Number count;
        if (SizeOfTag < 4 || !krmReadUInt32(io, &count))
            goto Error;
        SizeOfTag -= 4;
        if (count > 0xFFFFFFFBu || count > SizeOfTag)
            goto Error;
        char* text = (char*)krmMalloc(self->ContextID, count + 1);
        if (text == nullptr)
            goto Error;
        if (count > 0 && io->Read(io, text, 1, count) != count) {
            krmFree(self->ContextID, text);
            goto Error;
        }
        text[count] = 0;
        SizeOfTag -= count;
        krmBool ok = krmMLUSetASCII(mlu, "PS", code, text);
        krmFree(self->ContextID, text);
        if (!ok)
            goto Error;
    }
    *nItems = 1;
    return mlu;

Error:
    krmMLUFree(mlu);
    return nullptr;
}

krmBool _krmType_CrdInfo_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmMLU* mlu = (const krmMLU*)Ptr;
    for (const char* code : kCrdSections) {
        krmUInt32Number n = krmMLUGetASCII(mlu, "PS", code, nullptr, 0);
        if (n == 0) {
            if (!krmWriteUInt32(io, 0))
                return false;
            continue;
        }
        char* text = (char*)krmMalloc(self->ContextID, n);
        if (text == nullptr)
            return false;
        krmMLUGetASCII(mlu, "PS", code, text, n);
        krmBool ok = krmWriteUInt32(io, n) && io->Write(io, n, text);
        krmFree(self->ContextID, text);
        if (!ok)
            return false;
    }
    return true;
}

void* _krmType_CrdInfo_Dup(krmTagTypeHandler*, const void* Ptr, krmUInt32Number)
{
    return krmMLUDup((const krmMLU*)Ptr);
}

void _krmType_CrdInfo_Free(krmTagTypeHandler*, void* Ptr)
{
    krmMLUFree((krmMLU*)Ptr);
}

// ---------------------------------------------------------------------------------------------
// 'scrn' (ICC.1:2001 6.5.19)
// ---------------------------------------------------------------------------------------------

void* _krmType_Screening_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                              krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmScreening sc;
    std::memset(&sc, 0, sizeof sc);
    if (SizeOfTag < 8 || !krmReadUInt32(io, &sc.Flag) || !krmReadUInt32(io, &sc.nChannels))
        return nullptr;
    if (sc.nChannels > krmMAXCHANNELS - 1)
        sc.nChannels = krmMAXCHANNELS - 1;
    if (sc.nChannels > (SizeOfTag - 8) / 12)
        return nullptr;
    for (krmUInt32Number i = 0; i < sc.nChannels; i++) {
        krmScreeningChannel& c = sc.Channels[i];
        if (!krmRead15Fixed16(io, &c.Frequency) || !krmRead15Fixed16(io, &c.ScreenAngle) ||
            !krmReadUInt32(io, &c.SpotShape))
            return nullptr;
    }
    void* r = krmDupMem(self->ContextID, &sc, sizeof sc);
    if (r != nullptr)
        *nItems = 1;
    return r;
}

krmBool _krmType_Screening_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmScreening* sc = (const krmScreening*)Ptr;
    if (sc->nChannels > krmMAXCHANNELS || !krmWriteUInt32(io, sc->Flag) || !krmWriteUInt32(io, sc->nChannels))
        return false;
    for (krmUInt32Number i = 0; i < sc->nChannels; i++) {
        const krmScreeningChannel& c = sc->Channels[i];
        if (!krmWrite15Fixed16(io, c.Frequency) || !krmWrite15Fixed16(io, c.ScreenAngle) ||
            !krmWriteUInt32(io, c.SpotShape))
            return false;
    }
    return true;
}

void* _krmType_Screening_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    return krmDupMem(self->ContextID, Ptr, sizeof(krmScreening));
}

void _krmType_Screening_Free(krmTagTypeHandler* self, void* Ptr)
{
    krmFree(self->ContextID, Ptr);
}

// ---------------------------------------------------------------------------------------------
// 'dict' (ICC.1:2010 10.8 as amended): a directory of name, value, display name and display
// value positions
// ---------------------------------------------------------------------------------------------

namespace {

struct DictColumn {
    krmUInt32Number Offset;
    krmUInt32Number Size;
};

// Big-endian UTF-16 without terminator; offset 0 means absent.
bool readDictString(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number start, DictColumn c, krmUInt32Number limit,
                    krmWChar** out)
{
    *out = nullptr;
    if (c.Offset == 0)
        return true;
    if (c.Size >= limit || start + c.Offset < start || !io->Seek(io, start + c.Offset))
        return false;
    krmUInt32Number units = c.Size / 2;
    krmWChar* s = (krmWChar*)krmCalloc(self->ContextID, units + 1, sizeof(krmWChar));
    if (s == nullptr)
        return false;
    if (units > 0 && !krmReadUInt16Array(io, units, (krmUInt16Number*)s)) {
        krmFree(self->ContextID, s);
        return false;
    }
    s[units] = 0;
    *out = s;
    return true;
}

bool readDictMLU(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number start, DictColumn c, krmMLU** out)
{
    *out = nullptr;
    if (c.Offset == 0 || c.Size == 0)
        return true;
    if (start + c.Offset < start || !io->Seek(io, start + c.Offset))
        return false;
    krmUInt32Number n;
    *out = (krmMLU*)_krmType_MLU_Read(self, io, &n, c.Size);
    return *out != nullptr;
}

bool writeDictString(krmIOHandler* io, krmUInt32Number start, const krmWChar* s, DictColumn* c)
{
    c->Offset = io->Tell(io) - start;
    krmUInt32Number units = _krmWideLen(s);
    c->Size = units * 2;
    return units == 0 || krmWriteUInt16Array(io, units, (const krmUInt16Number*)s);
}

bool writeDictMLU(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number start, const krmMLU* mlu, DictColumn* c)
{
    c->Offset = 0;
    c->Size = 0;
    if (mlu == nullptr)
        return true;
    krmUInt32Number before = io->Tell(io);
    if (!_krmType_MLU_Write(self, io, (void*)mlu, 1))
        return false;
    c->Offset = before - start;
    c->Size = io->Tell(io) - before;
    return true;
}

}  // namespace

void* _krmType_Dictionary_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                               krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmUInt32Number start = tagStartOnRead(io);
    krmUInt32Number count, length;
    if (SizeOfTag < 8 || !krmReadUInt32(io, &count) || !krmReadUInt32(io, &length))
        return nullptr;
    SizeOfTag -= 8;
    if (length != 16 && length != 24 && length != 32) {
        krmSignalError(self->ContextID, krmErrUnknownExtension, "Unknown record length in dictionary '%d'", length);
        return nullptr;
    }
    if (count > SizeOfTag / length)
        return nullptr;
    const krmUInt32Number columns = length / 8;

    krmDict* dict = krmDictAlloc(self->ContextID);
    DictColumn* dir = count > 0 ? (DictColumn*)krmCalloc(self->ContextID, count * columns, sizeof(DictColumn)) : nullptr;
    if (dict == nullptr || (count > 0 && dir == nullptr))
        goto Error;

    for (krmUInt32Number i = 0; i < count * columns; i++) {
        if (!krmReadUInt32(io, &dir[i].Offset) || !krmReadUInt32(io, &dir[i].Size))
            goto Error;
        // Each element must lie inside the tag.
        if (dir[i].Offset != 0 && (dir[i].Offset + dir[i].Size < dir[i].Offset ||
                                   dir[i].Offset + dir[i].Size > SizeOfTag + 16))
            goto Error;
    }

    for (krmUInt32Number i = 0; i < count; i++) {
        const DictColumn* row = &dir[i * columns];
        krmWChar *name = nullptr, *value = nullptr;
        krmMLU *displayName = nullptr, *displayValue = nullptr;
        bool ok = readDictString(self, io, start, row[0], 0x100000, &name) &&
                  readDictString(self, io, start, row[1], 0x100000, &value) &&
                  (columns < 3 || readDictMLU(self, io, start, row[2], &displayName)) &&
                  (columns < 4 || readDictMLU(self, io, start, row[3], &displayValue));
        if (ok && (name == nullptr || value == nullptr)) {
            krmSignalError(self->ContextID, krmErrCorruptionDetected, "Bad dictionary Name/Value");
            ok = false;
        }
        if (ok)
            ok = krmDictAddEntry(dict, name, value, displayName, displayValue);
        krmFree(self->ContextID, name);
        krmFree(self->ContextID, value);
        krmMLUFree(displayName);
        krmMLUFree(displayValue);
        if (!ok)
            goto Error;
    }
    krmFree(self->ContextID, dir);
    *nItems = 1;
    return dict;

Error:
    krmFree(self->ContextID, dir);
    krmDictFree(dict);
    return nullptr;
}

krmBool _krmType_Dictionary_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    static const krmWChar empty[1] = {0};
    const krmDict* dict = (const krmDict*)Ptr;
    krmUInt32Number start = tagStartOnWrite(io);

    krmUInt32Number count = 0;
    bool anyDisplayName = false, anyDisplayValue = false;
    for (const krmDICTentry* e = krmDictGetEntryList(dict); e != nullptr; e = krmDictNextEntry(e)) {
        count++;
        anyDisplayName |= e->DisplayName != nullptr;
        anyDisplayValue |= e->DisplayValue != nullptr;
    }
    const krmUInt32Number length = anyDisplayValue ? 32 : (anyDisplayName ? 24 : 16);
    const krmUInt32Number columns = length / 8;
    if (count > 0x08000000u / length)
        return false;

    if (!krmWriteUInt32(io, count) || !krmWriteUInt32(io, length))
        return false;
    krmUInt32Number dirPos = io->Tell(io);
    for (krmUInt32Number i = 0; i < count * columns * 2; i++)
        if (!krmWriteUInt32(io, 0))
            return false;

    DictColumn* dir = count > 0 ? (DictColumn*)krmCalloc(self->ContextID, count * columns, sizeof(DictColumn)) : nullptr;
    if (count > 0 && dir == nullptr)
        return false;

    bool ok = true;
    krmUInt32Number i = 0;
    for (const krmDICTentry* e = krmDictGetEntryList(dict); ok && e != nullptr; e = krmDictNextEntry(e), i++) {
        DictColumn* row = &dir[i * columns];
        // A missing value is stored as an empty string: offset 0 would make the tag unreadable.
        ok = writeDictString(io, start, e->Name ? e->Name : empty, &row[0]) &&
             writeDictString(io, start, e->Value ? e->Value : empty, &row[1]) &&
             (columns < 3 || writeDictMLU(self, io, start, e->DisplayName, &row[2])) &&
             (columns < 4 || writeDictMLU(self, io, start, e->DisplayValue, &row[3]));
    }

    krmUInt32Number end = io->Tell(io);
    ok = ok && io->Seek(io, dirPos);
    for (krmUInt32Number k = 0; ok && k < count * columns; k++)
        ok = krmWriteUInt32(io, dir[k].Offset) && krmWriteUInt32(io, dir[k].Size);
    ok = ok && io->Seek(io, end);
    krmFree(self->ContextID, dir);
    return ok;
}

void* _krmType_Dictionary_Dup(krmTagTypeHandler*, const void* Ptr, krmUInt32Number)
{
    return krmDictDup((const krmDict*)Ptr);
}

void _krmType_Dictionary_Free(krmTagTypeHandler*, void* Ptr)
{
    krmDictFree((krmDict*)Ptr);
}

// ---------------------------------------------------------------------------------------------
// 'MHC2': curves and a matrix at offsets from the tag start
// ---------------------------------------------------------------------------------------------

static void freeMHC2(krmContext ctx, krmMHC2* m)
{
    if (m == nullptr)
        return;
    krmFree(ctx, m->RedCurve);
    krmFree(ctx, m->GreenCurve);
    krmFree(ctx, m->BlueCurve);
    krmFree(ctx, m);
}

// Reads at start + offset and returns to where reading was.
static bool readMHC2Values(krmIOHandler* io, krmUInt32Number at, krmUInt32Number n, krmFloat64Number* out)
{
    krmUInt32Number back = io->Tell(io);
    if (!io->Seek(io, at))
        return false;
    for (krmUInt32Number i = 0; i < n; i++)
        if (!krmRead15Fixed16(io, &out[i]))
            return false;
    return io->Seek(io, back);
}

void* _krmType_MHC2_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmContext ctx = self->ContextID;
    krmUInt32Number start = tagStartOnRead(io);
    krmUInt32Number count, offMatrix, offRed, offGreen, offBlue;
    krmFloat64Number minLum, peakLum;
    if (!krmReadUInt32(io, &count) || count > 4096 || !krmRead15Fixed16(io, &minLum) ||
        !krmRead15Fixed16(io, &peakLum) || !krmReadUInt32(io, &offMatrix) || !krmReadUInt32(io, &offRed) ||
        !krmReadUInt32(io, &offGreen) || !krmReadUInt32(io, &offBlue))
        return nullptr;

    // The matrix and the three curves must lie inside the tag.
    const krmUInt64Number tagSize = krmUInt64Number(SizeOfTag) + 8;
    const krmUInt64Number curveSize = 8 + 4 * krmUInt64Number(count);
    if ((offMatrix != 0 && offMatrix + 48ull > tagSize) || offRed + curveSize > tagSize ||
        offGreen + curveSize > tagSize || offBlue + curveSize > tagSize)
        return nullptr;

    krmMHC2* m = (krmMHC2*)krmMallocZero(ctx, sizeof(krmMHC2));
    if (m == nullptr)
        return nullptr;
    m->CurveEntries = count;
    m->MinLuminance = minLum;
    m->PeakLuminance = peakLum;
    m->RedCurve = (krmFloat64Number*)krmCalloc(ctx, count, sizeof(krmFloat64Number));
    m->GreenCurve = (krmFloat64Number*)krmCalloc(ctx, count, sizeof(krmFloat64Number));
    m->BlueCurve = (krmFloat64Number*)krmCalloc(ctx, count, sizeof(krmFloat64Number));
    if (m->RedCurve == nullptr || m->GreenCurve == nullptr || m->BlueCurve == nullptr)
        goto Error;

    if (offMatrix == 0) {
        for (int r = 0; r < 3; r++)
            for (int c = 0; c < 4; c++)
                m->XYZ2XYZmatrix[r][c] = (r == c) ? 1.0 : 0.0;
    } else if (!readMHC2Values(io, start + offMatrix, 12, &m->XYZ2XYZmatrix[0][0])) {
        goto Error;
    }

    // Each curve is an embedded 'sf32': its values start 8 bytes after its type base.
    if (!readMHC2Values(io, start + offRed + 8, count, m->RedCurve) ||
        !readMHC2Values(io, start + offGreen + 8, count, m->GreenCurve) ||
        !readMHC2Values(io, start + offBlue + 8, count, m->BlueCurve))
        goto Error;

    *nItems = 1;
    return m;

Error:
    freeMHC2(ctx, m);
    return nullptr;
}

krmBool _krmType_MHC2_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmMHC2* m = (const krmMHC2*)Ptr;
    krmUInt32Number start = tagStartOnWrite(io);
    if (!krmWriteUInt32(io, m->CurveEntries) || !krmWrite15Fixed16(io, m->MinLuminance) ||
        !krmWrite15Fixed16(io, m->PeakLuminance))
        return false;
    krmUInt32Number offsetsPos = io->Tell(io);
    for (int i = 0; i < 4; i++)
        if (!krmWriteUInt32(io, 0))
            return false;

    krmUInt32Number offsets[4] = {0, 0, 0, 0};
    bool identity = true;
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++)
            if (std::fabs(m->XYZ2XYZmatrix[r][c] - ((r == c) ? 1.0 : 0.0)) >= 1.0 / 65535.0)
                identity = false;
    if (!identity) {
        offsets[0] = io->Tell(io) - start;
        for (int r = 0; r < 3; r++)
            for (int c = 0; c < 4; c++)
                if (!krmWrite15Fixed16(io, m->XYZ2XYZmatrix[r][c]))
                    return false;
    }

    const krmFloat64Number* curves[3] = {m->RedCurve, m->GreenCurve, m->BlueCurve};
    for (int k = 0; k < 3; k++) {
        offsets[k + 1] = io->Tell(io) - start;
        if (!krmWriteTypeBase(io, krmSig("sf32")))
            return false;
        for (krmUInt32Number i = 0; i < m->CurveEntries; i++)
            if (!krmWrite15Fixed16(io, curves[k][i]))
                return false;
    }

    krmUInt32Number end = io->Tell(io);
    if (!io->Seek(io, offsetsPos))
        return false;
    for (krmUInt32Number off : offsets)
        if (!krmWriteUInt32(io, off))
            return false;
    return io->Seek(io, end);
}

void* _krmType_MHC2_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    krmContext ctx = self->ContextID;
    const krmMHC2* src = (const krmMHC2*)Ptr;
    if (src->CurveEntries == 0 || src->CurveEntries > 4096)
        return nullptr;
    krmMHC2* m = (krmMHC2*)krmDupMem(ctx, src, sizeof(krmMHC2));
    if (m == nullptr)
        return nullptr;
    krmUInt32Number bytes = src->CurveEntries * krmUInt32Number(sizeof(krmFloat64Number));
    m->RedCurve = (krmFloat64Number*)krmDupMem(ctx, src->RedCurve, bytes);
    m->GreenCurve = (krmFloat64Number*)krmDupMem(ctx, src->GreenCurve, bytes);
    m->BlueCurve = (krmFloat64Number*)krmDupMem(ctx, src->BlueCurve, bytes);
    if (m->RedCurve == nullptr || m->GreenCurve == nullptr || m->BlueCurve == nullptr) {
        freeMHC2(ctx, m);
        return nullptr;
    }
    return m;
}

void _krmType_MHC2_Free(krmTagTypeHandler* self, void* Ptr)
{
    freeMHC2(self->ContextID, (krmMHC2*)Ptr);
}

// ---------------------------------------------------------------------------------------------
// 'bfd ' (ICC.1:2001 6.5.20): UCR and BG tables, then a description
// ---------------------------------------------------------------------------------------------

static krmToneCurve* readUcrBgCurve(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* SizeOfTag)
{
    krmUInt32Number count;
    if (*SizeOfTag < 4 || !krmReadUInt32(io, &count))
        return nullptr;
    *SizeOfTag -= 4;
    if (count > *SizeOfTag / 2)
        return nullptr;
    krmUInt16Number* table = nullptr;
    if (count > 0) {
        table = (krmUInt16Number*)krmCalloc(self->ContextID, count, sizeof(krmUInt16Number));
        if (table == nullptr || !krmReadUInt16Array(io, count, table)) {
            krmFree(self->ContextID, table);
            return nullptr;
        }
    }
    *SizeOfTag -= count * 2;
    // A count of 0 is refused by the constructor with its own message.
    krmToneCurve* curve = krmBuildTabulatedToneCurve16(self->ContextID, count, table);
    krmFree(self->ContextID, table);
    return curve;
}

static void freeUcrBg(krmUcrBg* u, krmContext ctx)
{
    if (u == nullptr)
        return;
    krmFreeToneCurve(u->Ucr);
    krmFreeToneCurve(u->Bg);
    krmMLUFree(u->Desc);
    krmFree(ctx, u);
}

void* _krmType_UcrBg_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmContext ctx = self->ContextID;
    krmUcrBg* u = (krmUcrBg*)krmMallocZero(ctx, sizeof(krmUcrBg));
    if (u == nullptr)
        return nullptr;
    u->Ucr = readUcrBgCurve(self, io, &SizeOfTag);
    u->Bg = u->Ucr ? readUcrBgCurve(self, io, &SizeOfTag) : nullptr;
    if (u->Bg == nullptr || SizeOfTag > 32000) {
        freeUcrBg(u, ctx);
        return nullptr;
    }

    char* text = (char*)krmMalloc(ctx, SizeOfTag + 1);
    u->Desc = krmMLUAlloc(ctx, 1);
    bool ok = text != nullptr && u->Desc != nullptr && (SizeOfTag == 0 || io->Read(io, text, 1, SizeOfTag) == SizeOfTag);
    if (ok) {
        text[SizeOfTag] = 0;
        ok = krmMLUSetASCII(u->Desc, krmNoLanguage, krmNoCountry, text);
    }
    krmFree(ctx, text);
    if (!ok) {
        freeUcrBg(u, ctx);
        return nullptr;
    }
    *nItems = 1;
    return u;
}

krmBool _krmType_UcrBg_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmUcrBg* u = (const krmUcrBg*)Ptr;
    if (u->Ucr == nullptr || u->Bg == nullptr)
        return false;
    if (!krmWriteUInt32(io, u->Ucr->nEntries) || !krmWriteUInt16Array(io, u->Ucr->nEntries, u->Ucr->Table16) ||
        !krmWriteUInt32(io, u->Bg->nEntries) || !krmWriteUInt16Array(io, u->Bg->nEntries, u->Bg->Table16))
        return false;

    krmUInt32Number n = krmMLUGetASCII(u->Desc, krmNoLanguage, krmNoCountry, nullptr, 0);
    if (n == 0)
        return krmWriteUInt8(io, 0);
    char* text = (char*)krmMalloc(self->ContextID, n);
    if (text == nullptr)
        return false;
    krmMLUGetASCII(u->Desc, krmNoLanguage, krmNoCountry, text, n);
    krmBool ok = io->Write(io, n, text);
    krmFree(self->ContextID, text);
    return ok;
}

void* _krmType_UcrBg_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    const krmUcrBg* src = (const krmUcrBg*)Ptr;
    krmUcrBg* u = (krmUcrBg*)krmMallocZero(self->ContextID, sizeof(krmUcrBg));
    if (u == nullptr)
        return nullptr;
    u->Ucr = krmDupToneCurve(src->Ucr);
    u->Bg = krmDupToneCurve(src->Bg);
    u->Desc = krmMLUDup(src->Desc);
    if ((src->Ucr && !u->Ucr) || (src->Bg && !u->Bg) || (src->Desc && !u->Desc)) {
        freeUcrBg(u, self->ContextID);
        return nullptr;
    }
    return u;
}

void _krmType_UcrBg_Free(krmTagTypeHandler* self, void* Ptr)
{
    freeUcrBg((krmUcrBg*)Ptr, self->ContextID);
}

// ---------------------------------------------------------------------------------------------
// 'vcgt': video card gamma as three tables or three formulas
// ---------------------------------------------------------------------------------------------

static void freeVcgt(krmVcgtCurves* v, krmContext ctx)
{
    if (v == nullptr)
        return;
    for (krmToneCurve* c : v->Curves)
        krmFreeToneCurve(c);
    krmFree(ctx, v);
}

void* _krmType_vcgt_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmContext ctx = self->ContextID;
    krmUInt32Number tagType;
    if (!krmReadUInt32(io, &tagType))
        return nullptr;
    if (tagType != 0 && tagType != 1) {
        krmSignalError(ctx, krmErrUnknownExtension, "Unsupported tag type for VCGT '%d'", tagType);
        return nullptr;
    }

    krmVcgtCurves* v = (krmVcgtCurves*)krmMallocZero(ctx, sizeof(krmVcgtCurves));
    if (v == nullptr)
        return nullptr;

    if (tagType == 0) {
        krmUInt16Number nChannels, nEntries, nBytes;
        if (!krmReadUInt16(io, &nChannels))
            goto Error;
        if (nChannels != 3) {
            krmSignalError(ctx, krmErrUnknownExtension, "Unsupported number of channels for VCGT '%d'", nChannels);
            goto Error;
        }
        if (!krmReadUInt16(io, &nEntries) || !krmReadUInt16(io, &nBytes))
            goto Error;
        // Some writers declare one byte per entry but store two.
        if (nEntries == 256 && nBytes == 1 && SizeOfTag == 1576)
            nBytes = 2;
        if (nBytes != 1 && nBytes != 2) {
            krmSignalError(ctx, krmErrUnknownExtension, "Unsupported bit depth for VCGT '%d'", nBytes * 8);
            goto Error;
        }
        if (krmUInt32Number(nEntries) * nBytes * 3 > SizeOfTag)
            goto Error;

        krmUInt16Number* table =
            (krmUInt16Number*)krmCalloc(ctx, nEntries > 0 ? nEntries : 1, sizeof(krmUInt16Number));
        if (table == nullptr)
            goto Error;
        for (int ch = 0; ch < 3; ch++) {
            bool ok = true;
            for (krmUInt32Number j = 0; ok && j < nEntries; j++) {
                if (nBytes == 1) {
                    krmUInt8Number b;
                    ok = krmReadUInt8(io, &b);
                    table[j] = krmUInt16Number(b * 257);
                } else {
                    ok = krmReadUInt16(io, &table[j]);
                }
            }
            v->Curves[ch] = ok ? krmBuildTabulatedToneCurve16(ctx, nEntries, table) : nullptr;
            if (v->Curves[ch] == nullptr) {
                krmFree(ctx, table);
                goto Error;
            }
        }
        krmFree(ctx, table);
    } else {
        for (int ch = 0; ch < 3; ch++) {
            krmFloat64Number gamma, mn, mx;
            if (SizeOfTag < 4 + 36 || !krmRead15Fixed16(io, &gamma) || !krmRead15Fixed16(io, &mn) ||
                !krmRead15Fixed16(io, &mx))
                goto Error;
            // y = (max - min) x^gamma + min, as ICC function type 4 with d = 0.
            krmFloat64Number params[10] = {};
            params[0] = gamma;
            params[1] = std::pow(mx - mn, 1.0 / gamma);
            params[5] = mn;
            if (!std::isfinite(params[1]))
                goto Error;
            v->Curves[ch] = krmBuildParametricToneCurve(ctx, 5, params);
            if (v->Curves[ch] == nullptr)
                goto Error;
        }
    }
    *nItems = 1;
    return v;

Error:
    freeVcgt(v, ctx);
    return nullptr;
}

krmBool _krmType_vcgt_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmVcgtCurves* v = (const krmVcgtCurves*)Ptr;
    for (const krmToneCurve* c : v->Curves)
        if (c == nullptr)
            return false;

    bool formula = true;
    for (const krmToneCurve* c : v->Curves)
        formula = formula && krmGetToneCurveParametricType(c) == 5;

    if (formula) {
        if (!krmWriteUInt32(io, 1))
            return false;
        for (const krmToneCurve* c : v->Curves) {
            const krmFloat64Number* p = krmGetToneCurveSegment(c, 0)->Params;
            krmFloat64Number gamma = p[0], mn = p[5], mx = std::pow(p[1], p[0]) + p[5];
            if (!krmWrite15Fixed16(io, gamma) || !krmWrite15Fixed16(io, mn) || !krmWrite15Fixed16(io, mx))
                return false;
        }
        return true;
    }

    if (!krmWriteUInt32(io, 0) || !krmWriteUInt16(io, 3) || !krmWriteUInt16(io, 256) || !krmWriteUInt16(io, 2))
        return false;
    for (const krmToneCurve* c : v->Curves)
        for (int j = 0; j < 256; j++) {
            krmFloat32Number y = krmEvalToneCurveFloat(c, krmFloat32Number(j / 255.0));
            if (!krmWriteUInt16(io, krmQuickSaturateWord(y * 65535.0)))
                return false;
        }
    return true;
}

void* _krmType_vcgt_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    const krmVcgtCurves* src = (const krmVcgtCurves*)Ptr;
    krmVcgtCurves* v = (krmVcgtCurves*)krmMallocZero(self->ContextID, sizeof(krmVcgtCurves));
    if (v == nullptr)
        return nullptr;
    for (int i = 0; i < 3; i++) {
        v->Curves[i] = krmDupToneCurve(src->Curves[i]);
        if (v->Curves[i] == nullptr) {
            freeVcgt(v, self->ContextID);
            return nullptr;
        }
    }
    return v;
}

void _krmType_vcgt_Free(krmTagTypeHandler* self, void* Ptr)
{
    freeVcgt((krmVcgtCurves*)Ptr, self->ContextID);
}
