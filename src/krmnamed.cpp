// Multi-localized text, named colour lists, profile sequences and dictionaries.

#include "krm_internal.h"

#include <cstring>

// ---------------------------------------------------------------------------------------------
// Multi-localized text
// ---------------------------------------------------------------------------------------------

krmUInt16Number _krmMLUCode(const char* code)
{
    if (code == nullptr || code[0] == 0)
        return 0;
    return krmUInt16Number((krmUInt16Number(krmUInt8Number(code[0])) << 8) | krmUInt8Number(code[1]));
}

static void decodeCode(krmUInt16Number code, char out[3])
{
    out[0] = char(code >> 8);
    out[1] = char(code & 0xFF);
    out[2] = 0;
}

krmUInt32Number _krmWideLen(const krmWChar* s)
{
    krmUInt32Number n = 0;
    while (s[n] != 0)
        n++;
    return n;
}

krmMLU* krmMLUAlloc(krmContext ContextID, krmUInt32Number nItems)
{
    if (nItems == 0)
        nItems = 2;

    krmMLU* mlu = (krmMLU*)krmMallocZero(ContextID, sizeof(krmMLU));
    if (mlu == nullptr)
        return nullptr;

    mlu->ContextID = ContextID;
    mlu->Entries = (_krmMLUentry*)krmCalloc(ContextID, nItems, sizeof(_krmMLUentry));
    if (mlu->Entries == nullptr) {
        krmFree(ContextID, mlu);
        return nullptr;
    }
    mlu->AllocatedEntries = nItems;
    return mlu;
}

void krmMLUFree(krmMLU* mlu)
{
    if (mlu == nullptr)
        return;
    krmFree(mlu->ContextID, mlu->Entries);
    krmFree(mlu->ContextID, mlu->MemPool);
    krmFree(mlu->ContextID, mlu);
}

krmMLU* krmMLUDup(const krmMLU* mlu)
{
    if (mlu == nullptr)
        return nullptr;

    krmMLU* copy = krmMLUAlloc(mlu->ContextID, mlu->UsedEntries);
    if (copy == nullptr)
        return nullptr;

    if (mlu->UsedEntries > 0)
        std::memcpy(copy->Entries, mlu->Entries, mlu->UsedEntries * sizeof(_krmMLUentry));
    copy->UsedEntries = mlu->UsedEntries;

    if (mlu->PoolUsed > 0 && mlu->MemPool != nullptr) {
        copy->MemPool = krmDupMem(mlu->ContextID, mlu->MemPool, mlu->PoolUsed);
        if (copy->MemPool == nullptr) {
            krmMLUFree(copy);
            return nullptr;
        }
    }
    copy->PoolSize = mlu->PoolUsed;
    copy->PoolUsed = mlu->PoolUsed;
    return copy;
}

static krmBool growEntries(krmMLU* mlu)
{
    krmUInt32Number n = mlu->AllocatedEntries * 2;
    if (n / 2 != mlu->AllocatedEntries || n > 0x80000000u / sizeof(_krmMLUentry))
        return false;
    void* p = krmRealloc(mlu->ContextID, mlu->Entries, n * krmUInt32Number(sizeof(_krmMLUentry)));
    if (p == nullptr)
        return false;
    mlu->Entries = (_krmMLUentry*)p;
    mlu->AllocatedEntries = n;
    return true;
}

static krmBool growPool(krmMLU* mlu, krmUInt32Number needed)
{
    krmUInt32Number size = mlu->PoolSize;
    while (size - mlu->PoolUsed < needed) {
        krmUInt32Number next = (size == 0) ? 256 : size * 2;
        if (next < size || next > 0x80000000u)
            return false;
        size = next;
    }
    if (size == mlu->PoolSize)
        return true;
    void* p = krmRealloc(mlu->ContextID, mlu->MemPool, size);
    if (p == nullptr)
        return false;
    mlu->MemPool = p;
    mlu->PoolSize = size;
    return true;
}

krmBool _krmMLUAddBlock(krmMLU* mlu, const void* Block, krmUInt32Number size, krmUInt16Number LanguageCode,
                        krmUInt16Number CountryCode)
{
    if (mlu == nullptr)
        return false;

    if (mlu->UsedEntries >= mlu->AllocatedEntries && !growEntries(mlu))
        return false;

    // A translation is never replaced.
    for (krmUInt32Number i = 0; i < mlu->UsedEntries; i++)
        if (mlu->Entries[i].Language == LanguageCode && mlu->Entries[i].Country == CountryCode)
            return false;

    if (!growPool(mlu, size))
        return false;

    krmUInt32Number offset = mlu->PoolUsed;
    if (size > 0)
        std::memcpy((krmUInt8Number*)mlu->MemPool + offset, Block, size);
    mlu->PoolUsed += size;

    _krmMLUentry& e = mlu->Entries[mlu->UsedEntries++];
    e.Language = LanguageCode;
    e.Country = CountryCode;
    e.StrW = offset;
    e.Len = size;
    return true;
}

krmBool krmMLUSetASCII(krmMLU* mlu, const char LanguageCode[3], const char CountryCode[3], const char* ASCIIString)
{
    if (mlu == nullptr || ASCIIString == nullptr)
        return false;

    size_t len = std::strlen(ASCIIString);
    if (len == 0)
        len = 1;  // an empty text is stored as one zero unit
    if (len > 0x3FFFFFFF)
        return false;

    krmWChar* units = (krmWChar*)krmCalloc(mlu->ContextID, krmUInt32Number(len), sizeof(krmWChar));
    if (units == nullptr)
        return false;
    // Bytes are sign-extended, so 0x80-0xFF become 0xFF80-0xFFFF.
    for (size_t i = 0; i < len; i++)
        units[i] = krmWChar(krmUInt16Number(krmInt32Number(int8_t(ASCIIString[i]))));

    krmBool ok = _krmMLUAddBlock(mlu, units, krmUInt32Number(len * sizeof(krmWChar)), _krmMLUCode(LanguageCode),
                                 _krmMLUCode(CountryCode));
    krmFree(mlu->ContextID, units);
    return ok;
}

krmBool krmMLUSetWide(krmMLU* mlu, const char LanguageCode[3], const char CountryCode[3], const krmWChar* WideString)
{
    static const krmWChar empty[1] = {0};
    if (mlu == nullptr || WideString == nullptr)
        return false;

    krmUInt32Number len = _krmWideLen(WideString);
    if (len > 0x3FFFFFFF)
        return false;
    if (len == 0)
        return _krmMLUAddBlock(mlu, empty, sizeof(krmWChar), _krmMLUCode(LanguageCode), _krmMLUCode(CountryCode));
    return _krmMLUAddBlock(mlu, WideString, len * krmUInt32Number(sizeof(krmWChar)), _krmMLUCode(LanguageCode),
                           _krmMLUCode(CountryCode));
}

// The exact language and country, else the first entry of that language, else the first entry.
static const krmWChar* findTranslation(const krmMLU* mlu, const char LanguageCode[3], const char CountryCode[3],
                                       krmUInt32Number* len)
{
    if (mlu == nullptr || mlu->AllocatedEntries == 0 || mlu->UsedEntries == 0)
        return nullptr;

    krmUInt16Number lang = _krmMLUCode(LanguageCode);
    krmUInt16Number cntry = _krmMLUCode(CountryCode);

    int best = -1;
    for (krmUInt32Number i = 0; i < mlu->UsedEntries; i++) {
        const _krmMLUentry& e = mlu->Entries[i];
        if (e.Language == lang) {
            if (best == -1)
                best = int(i);
            if (e.Country == cntry) {
                best = int(i);
                break;
            }
        }
    }
    if (best == -1)
        best = 0;

    const _krmMLUentry& e = mlu->Entries[best];
    if (e.StrW > mlu->PoolSize || e.Len > mlu->PoolSize - e.StrW || mlu->MemPool == nullptr)
        return nullptr;
    *len = e.Len;
    return (const krmWChar*)((const krmUInt8Number*)mlu->MemPool + e.StrW);
}

krmUInt32Number krmMLUGetASCII(const krmMLU* mlu, const char LanguageCode[3], const char CountryCode[3], char* Buffer,
                               krmUInt32Number BufferSize)
{
    krmUInt32Number len = 0;
    const krmWChar* w = findTranslation(mlu, LanguageCode, CountryCode, &len);
    if (w == nullptr)
        return 0;

    krmUInt32Number units = len / krmUInt32Number(sizeof(krmWChar));
    if (Buffer == nullptr)
        return units + 1;
    if (BufferSize == 0)
        return 0;

    krmUInt32Number n = units < BufferSize - 1 ? units : BufferSize - 1;
    for (krmUInt32Number i = 0; i < n; i++)
        Buffer[i] = (w[i] < 255) ? char(w[i]) : '?';
    Buffer[n] = 0;
    return n + 1;
}

krmUInt32Number krmMLUGetWide(const krmMLU* mlu, const char LanguageCode[3], const char CountryCode[3], krmWChar* Buffer,
                              krmUInt32Number BufferSize)
{
    krmUInt32Number len = 0;
    const krmWChar* w = findTranslation(mlu, LanguageCode, CountryCode, &len);
    if (w == nullptr)
        return 0;

    if (Buffer == nullptr)
        return len + krmUInt32Number(sizeof(krmWChar));
    if (BufferSize <= 1)
        return 0;

    // Whole units only, so the terminator always lands on a unit boundary.
    krmUInt32Number n = len < BufferSize - 2 ? len : BufferSize - 2;
    n &= ~krmUInt32Number(1);
    std::memcpy(Buffer, w, n);
    Buffer[n / 2] = 0;
    return n + krmUInt32Number(sizeof(krmWChar));
}

// One code point from UTF-16 at w[*i] (advancing *i); lone surrogates become U+FFFD.
static krmUInt32Number nextCodePoint(const krmWChar* w, krmUInt32Number units, krmUInt32Number* i)
{
    krmUInt32Number c = w[(*i)++];
    if (c >= 0xD800 && c <= 0xDBFF) {
        if (*i < units && w[*i] >= 0xDC00 && w[*i] <= 0xDFFF) {
            krmUInt32Number lo = w[(*i)++];
            return 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        }
        return 0xFFFD;
    }
    if (c >= 0xDC00 && c <= 0xDFFF)
        return 0xFFFD;
    return c;
}

static krmUInt32Number encodeUTF8(krmUInt32Number cp, char out[4])
{
    if (cp < 0x80) {
        out[0] = char(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = char(0xC0 | (cp >> 6));
        out[1] = char(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = char(0xE0 | (cp >> 12));
        out[1] = char(0x80 | ((cp >> 6) & 0x3F));
        out[2] = char(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (cp >> 18));
    out[1] = char(0x80 | ((cp >> 12) & 0x3F));
    out[2] = char(0x80 | ((cp >> 6) & 0x3F));
    out[3] = char(0x80 | (cp & 0x3F));
    return 4;
}

krmUInt32Number krmMLUGetUTF8(const krmMLU* mlu, const char LanguageCode[3], const char CountryCode[3], char* Buffer,
                              krmUInt32Number BufferSize)
{
    krmUInt32Number len = 0;
    const krmWChar* w = findTranslation(mlu, LanguageCode, CountryCode, &len);
    if (w == nullptr)
        return 0;
    if (Buffer != nullptr && BufferSize == 0)
        return 0;

    krmUInt32Number units = len / krmUInt32Number(sizeof(krmWChar));
    krmUInt32Number written = 0;
    krmUInt32Number i = 0;
    while (i < units && w[i] != 0) {
        char bytes[4];
        krmUInt32Number n = encodeUTF8(nextCodePoint(w, units, &i), bytes);
        if (Buffer != nullptr) {
            if (written + n + 1 > BufferSize)
                break;
            std::memcpy(Buffer + written, bytes, n);
        }
        written += n;
    }
    if (Buffer != nullptr)
        Buffer[written] = 0;
    return written + 1;
}

krmUInt32Number krmMLUTranslationsCount(const krmMLU* mlu)
{
    return mlu == nullptr ? 0 : mlu->UsedEntries;
}

krmBool krmMLUTranslationCodes(const krmMLU* mlu, krmUInt32Number idx, char LanguageCode[3], char CountryCode[3])
{
    if (mlu == nullptr || idx >= mlu->UsedEntries)
        return false;
    if (LanguageCode != nullptr)
        decodeCode(mlu->Entries[idx].Language, LanguageCode);
    if (CountryCode != nullptr)
        decodeCode(mlu->Entries[idx].Country, CountryCode);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Named colour lists
// ---------------------------------------------------------------------------------------------

// Capacity doubles from 64; above 102400 it is refused, so a list holds at most 65536 colours.
static krmBool growNamedColorList(krmNamedColorList* v, krmUInt32Number wanted)
{
    krmUInt32Number size = v->Allocated;
    while (size < wanted) {
        size = (size == 0) ? 64 : size * 2;
        if (size > 102400)
            return false;
    }
    if (size == v->Allocated)
        return true;
    void* p = krmRealloc(v->ContextID, v->List, size * krmUInt32Number(sizeof(_krmNAMEDCOLOR)));
    if (p == nullptr)
        return false;
    v->List = (_krmNAMEDCOLOR*)p;
    v->Allocated = size;
    return true;
}

static void copyCut(char* dst, const char* src, size_t max)
{
    size_t n = 0;
    if (src != nullptr)
        while (n < max && src[n] != 0) {
            dst[n] = src[n];
            n++;
        }
    dst[n] = 0;
}

krmNamedColorList* krmAllocNamedColorList(krmContext ContextID, krmUInt32Number n, krmUInt32Number ColorantCount,
                                          const char* Prefix, const char* Suffix)
{
    if (ColorantCount > krmMAXCHANNELS)
        return nullptr;

    krmNamedColorList* v = (krmNamedColorList*)krmMallocZero(ContextID, sizeof(krmNamedColorList));
    if (v == nullptr)
        return nullptr;
    v->ContextID = ContextID;
    v->ColorantCount = ColorantCount;
    copyCut(v->Prefix, Prefix, 32);
    copyCut(v->Suffix, Suffix, 32);

    if (!growNamedColorList(v, n == 0 ? 1 : n)) {
        krmFreeNamedColorList(v);
        return nullptr;
    }
    return v;
}

void krmFreeNamedColorList(krmNamedColorList* v)
{
    if (v == nullptr)
        return;
    krmFree(v->ContextID, v->List);
    krmFree(v->ContextID, v);
}

krmNamedColorList* krmDupNamedColorList(const krmNamedColorList* v)
{
    if (v == nullptr || v->ColorantCount > krmMAXCHANNELS)
        return nullptr;

    krmNamedColorList* copy = krmAllocNamedColorList(v->ContextID, v->nColors, v->ColorantCount, v->Prefix, v->Suffix);
    if (copy == nullptr)
        return nullptr;
    if (v->nColors > 0)
        std::memcpy(copy->List, v->List, v->nColors * sizeof(_krmNAMEDCOLOR));
    copy->nColors = v->nColors;
    return copy;
}

// A refused growth leaves the list as it was: a failed append never costs the colours already held.
krmBool krmAppendNamedColor(krmNamedColorList* v, const char* Name, const krmUInt16Number PCS[3],
                            const krmUInt16Number Colorant[krmMAXCHANNELS])
{
    if (v == nullptr)
        return false;
    if (v->nColors >= v->Allocated && !growNamedColorList(v, v->nColors + 1))
        return false;

    _krmNAMEDCOLOR& c = v->List[v->nColors];
    std::memset(&c, 0, sizeof(c));
    copyCut(c.Name, Name, krmMAX_NAMED_COLOR_NAME - 1);
    for (int i = 0; i < 3; i++)
        c.PCS[i] = PCS == nullptr ? 0 : PCS[i];
    for (krmUInt32Number i = 0; i < v->ColorantCount; i++)
        c.DeviceColorant[i] = Colorant == nullptr ? 0 : Colorant[i];
    v->nColors++;
    return true;
}

krmUInt32Number krmNamedColorCount(const krmNamedColorList* v)
{
    return v == nullptr ? 0 : v->nColors;
}

krmUInt32Number krmNamedColorColorantCount(const krmNamedColorList* v)
{
    return v == nullptr ? 0 : v->ColorantCount;
}

krmBool krmNamedColorInfo(const krmNamedColorList* v, krmUInt32Number nColor, char* Name, char* Prefix, char* Suffix,
                          krmUInt16Number* PCS, krmUInt16Number* Colorant)
{
    if (v == nullptr || nColor >= v->nColors)
        return false;

    const _krmNAMEDCOLOR& c = v->List[nColor];
    if (Name != nullptr)
        std::strcpy(Name, c.Name);
    if (Prefix != nullptr)
        std::strcpy(Prefix, v->Prefix);
    if (Suffix != nullptr)
        std::strcpy(Suffix, v->Suffix);
    if (PCS != nullptr)
        std::memcpy(PCS, c.PCS, sizeof(c.PCS));
    if (Colorant != nullptr)
        std::memcpy(Colorant, c.DeviceColorant, v->ColorantCount * sizeof(krmUInt16Number));
    return true;
}

// ---------------------------------------------------------------------------------------------
// Profile sequences
// ---------------------------------------------------------------------------------------------

krmSequence* krmAllocProfileSequence(krmContext ContextID, krmUInt32Number n)
{
    if (n == 0 || n > 255)
        return nullptr;

    krmSequence* s = (krmSequence*)krmMallocZero(ContextID, sizeof(krmSequence));
    if (s == nullptr)
        return nullptr;
    s->ContextID = ContextID;
    s->seq = (krmPSEQDESC*)krmCalloc(ContextID, n, sizeof(krmPSEQDESC));
    if (s->seq == nullptr) {
        krmFree(ContextID, s);
        return nullptr;
    }
    s->n = n;
    return s;
}

void krmFreeProfileSequence(krmSequence* pseq)
{
    if (pseq == nullptr)
        return;
    for (krmUInt32Number i = 0; i < pseq->n && pseq->seq != nullptr; i++) {
        krmMLUFree(pseq->seq[i].Manufacturer);
        krmMLUFree(pseq->seq[i].Model);
        krmMLUFree(pseq->seq[i].Description);
    }
    krmFree(pseq->ContextID, pseq->seq);
    krmFree(pseq->ContextID, pseq);
}

krmSequence* krmDupProfileSequence(const krmSequence* pseq)
{
    if (pseq == nullptr)
        return nullptr;

    krmSequence* s = krmAllocProfileSequence(pseq->ContextID, pseq->n);
    if (s == nullptr)
        return nullptr;

    for (krmUInt32Number i = 0; i < pseq->n; i++) {
        const krmPSEQDESC& src = pseq->seq[i];
        krmPSEQDESC& dst = s->seq[i];
        dst.deviceMfg = src.deviceMfg;
        dst.deviceModel = src.deviceModel;
        dst.attributes = src.attributes;
        dst.technology = src.technology;
        std::memcpy(dst.ProfileID, src.ProfileID, sizeof(dst.ProfileID));
        dst.Manufacturer = krmMLUDup(src.Manufacturer);
        dst.Model = krmMLUDup(src.Model);
        dst.Description = krmMLUDup(src.Description);
        if ((src.Manufacturer && !dst.Manufacturer) || (src.Model && !dst.Model) ||
            (src.Description && !dst.Description)) {
            krmFreeProfileSequence(s);
            return nullptr;
        }
    }
    return s;
}

// ---------------------------------------------------------------------------------------------
// Dictionaries
// ---------------------------------------------------------------------------------------------

krmDict* krmDictAlloc(krmContext ContextID)
{
    krmDict* d = (krmDict*)krmMallocZero(ContextID, sizeof(krmDict));
    if (d == nullptr)
        return nullptr;
    d->ContextID = ContextID;
    return d;
}

static void freeEntry(krmContext ctx, krmDICTentry* e)
{
    krmMLUFree(e->DisplayName);
    krmMLUFree(e->DisplayValue);
    krmFree(ctx, e->Name);
    krmFree(ctx, e->Value);
    krmFree(ctx, e);
}

void krmDictFree(krmDict* hDict)
{
    if (hDict == nullptr)
        return;
    krmDICTentry* e = hDict->head;
    while (e != nullptr) {
        krmDICTentry* next = e->Next;
        freeEntry(hDict->ContextID, e);
        e = next;
    }
    krmFree(hDict->ContextID, hDict);
}

static krmWChar* dupWide(krmContext ctx, const krmWChar* s)
{
    if (s == nullptr)
        return nullptr;
    krmUInt32Number len = _krmWideLen(s);
    if (len >= 0x3FFFFFFF)
        return nullptr;
    return (krmWChar*)krmDupMem(ctx, s, (len + 1) * krmUInt32Number(sizeof(krmWChar)));
}

krmBool krmDictAddEntry(krmDict* hDict, const krmWChar* Name, const krmWChar* Value, const krmMLU* DisplayName,
                        const krmMLU* DisplayValue)
{
    _krmAssert(hDict != nullptr);
    _krmAssert(Name != nullptr);

    krmContext ctx = hDict->ContextID;
    krmDICTentry* e = (krmDICTentry*)krmMallocZero(ctx, sizeof(krmDICTentry));
    if (e == nullptr)
        return false;

    e->Name = dupWide(ctx, Name);
    e->Value = dupWide(ctx, Value);
    e->DisplayName = krmMLUDup(DisplayName);
    e->DisplayValue = krmMLUDup(DisplayValue);
    if (e->Name == nullptr || (Value && !e->Value) || (DisplayName && !e->DisplayName) ||
        (DisplayValue && !e->DisplayValue)) {
        freeEntry(ctx, e);
        return false;
    }

    e->Next = hDict->head;
    hDict->head = e;
    return true;
}

krmDict* krmDictDup(const krmDict* hDict)
{
    if (hDict == nullptr)
        return nullptr;
    krmDict* d = krmDictAlloc(hDict->ContextID);
    if (d == nullptr)
        return nullptr;
    for (const krmDICTentry* e = hDict->head; e != nullptr; e = e->Next) {
        if (!krmDictAddEntry(d, e->Name, e->Value, e->DisplayName, e->DisplayValue)) {
            krmDictFree(d);
            return nullptr;
        }
    }
    return d;
}

const krmDICTentry* krmDictGetEntryList(const krmDict* hDict)
{
    return hDict == nullptr ? nullptr : hDict->head;
}

const krmDICTentry* krmDictNextEntry(const krmDICTentry* e)
{
    return e == nullptr ? nullptr : e->Next;
}
