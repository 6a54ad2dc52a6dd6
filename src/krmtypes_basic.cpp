// Basic tag types: numbers, XYZ, signatures, dates, raw data, measurement and viewing
// conditions, chromaticities, colorant order, video signal, the three text types and curves.
// Byte layouts follow ICC.1:2010 clause 10 (ICC.1:2001 6.5 for 'desc').

#include "krm_internal.h"

#include <cmath>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// Shared by the fixed-size types
// ---------------------------------------------------------------------------------------------

static void* dupBytes(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number size)
{
    return krmDupMem(self->ContextID, Ptr, size);
}

static void freePlain(krmTagTypeHandler* self, void* Ptr)
{
    krmFree(self->ContextID, Ptr);
}

// The position of the type base of the tag being written (the writer is called right after it).
static krmUInt32Number tagStart(krmIOHandler* io)
{
    return io->Tell(io) - 8;
}

// ---------------------------------------------------------------------------------------------
// 'XYZ ' (ICC.1:2010 10.31), also stored under the numeric signature 0x17A505B8
// ---------------------------------------------------------------------------------------------

void* _krmType_XYZ_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    if (SizeOfTag < 12)
        return nullptr;
    krmCIEXYZ* xyz = (krmCIEXYZ*)krmMallocZero(self->ContextID, sizeof(krmCIEXYZ));
    if (xyz == nullptr)
        return nullptr;
    if (!krmReadXYZ(io, xyz)) {
        krmFree(self->ContextID, xyz);
        return nullptr;
    }
    *nItems = 1;
    return xyz;
}

krmBool _krmType_XYZ_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    return krmWriteXYZ(io, (const krmCIEXYZ*)Ptr);
}

void* _krmType_XYZ_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    return dupBytes(self, Ptr, sizeof(krmCIEXYZ));
}

void _krmType_XYZ_Free(krmTagTypeHandler* self, void* Ptr)
{
    freePlain(self, Ptr);
}

// ---------------------------------------------------------------------------------------------
// Number arrays: 'sf32', 'uf32', 'ui08', 'ui32', 'ui64' (ICC.1:2010 10.18, 10.22, 10.24-10.26).
// The count is the data size divided by the element size; a remainder is ignored.
// ---------------------------------------------------------------------------------------------

template <typename T, typename ReadFn>
static void* readArray(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number count,
                       ReadFn readOne)
{
    *nItems = 0;
    if (count > 0x80000000u / sizeof(T))
        return nullptr;
    T* values = (T*)krmCalloc(self->ContextID, count, sizeof(T));
    if (values == nullptr)
        return nullptr;
    for (krmUInt32Number i = 0; i < count; i++)
        if (!readOne(io, &values[i])) {
            krmFree(self->ContextID, values);
            return nullptr;
        }
    *nItems = count;
    return values;
}

template <typename T>
static void* dupArray(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number n)
{
    if (n == 0 || n > 0x80000000u / sizeof(T))
        return nullptr;
    return krmDupMem(self->ContextID, Ptr, n * krmUInt32Number(sizeof(T)));
}

void* _krmType_S15Fixed16_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                               krmUInt32Number SizeOfTag)
{
    return readArray<krmFloat64Number>(self, io, nItems, SizeOfTag / 4, krmRead15Fixed16);
}

krmBool _krmType_S15Fixed16_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number nItems)
{
    const krmFloat64Number* v = (const krmFloat64Number*)Ptr;
    for (krmUInt32Number i = 0; i < nItems; i++)
        if (!krmWrite15Fixed16(io, v[i]))
            return false;
    return true;
}

void* _krmType_S15Fixed16_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number n)
{
    return dupArray<krmFloat64Number>(self, Ptr, n);
}

void _krmType_S15Fixed16_Free(krmTagTypeHandler* self, void* Ptr)
{
    freePlain(self, Ptr);
}

static krmBool readU16Fixed16(krmIOHandler* io, krmFloat64Number* v)
{
    krmUInt32Number n;
    if (!krmReadUInt32(io, &n))
        return false;
    *v = n / 65536.0;
    return true;
}

void* _krmType_U16Fixed16_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                               krmUInt32Number SizeOfTag)
{
    return readArray<krmFloat64Number>(self, io, nItems, SizeOfTag / 4, readU16Fixed16);
}

krmBool _krmType_U16Fixed16_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number nItems)
{
    const krmFloat64Number* v = (const krmFloat64Number*)Ptr;
    for (krmUInt32Number i = 0; i < nItems; i++)
        if (!krmWriteUInt32(io, krmUInt32Number(std::floor(v[i] * 65536.0 + 0.5))))
            return false;
    return true;
}

void* _krmType_U16Fixed16_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number n)
{
    return dupArray<krmFloat64Number>(self, Ptr, n);
}

void _krmType_U16Fixed16_Free(krmTagTypeHandler* self, void* Ptr)
{
    freePlain(self, Ptr);
}

void* _krmType_UInt8_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number SizeOfTag)
{
    return readArray<krmUInt8Number>(self, io, nItems, SizeOfTag, krmReadUInt8);
}

krmBool _krmType_UInt8_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number nItems)
{
    const krmUInt8Number* v = (const krmUInt8Number*)Ptr;
    for (krmUInt32Number i = 0; i < nItems; i++)
        if (!krmWriteUInt8(io, v[i]))
            return false;
    return true;
}

void* _krmType_UInt8_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number n)
{
    return dupArray<krmUInt8Number>(self, Ptr, n);
}

void _krmType_UInt8_Free(krmTagTypeHandler* self, void* Ptr)
{
    freePlain(self, Ptr);
}

void* _krmType_UInt32_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                           krmUInt32Number SizeOfTag)
{
    return readArray<krmUInt32Number>(self, io, nItems, SizeOfTag / 4, krmReadUInt32);
}

krmBool _krmType_UInt32_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number nItems)
{
    const krmUInt32Number* v = (const krmUInt32Number*)Ptr;
    for (krmUInt32Number i = 0; i < nItems; i++)
        if (!krmWriteUInt32(io, v[i]))
            return false;
    return true;
}

void* _krmType_UInt32_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number n)
{
    return dupArray<krmUInt32Number>(self, Ptr, n);
}

void _krmType_UInt32_Free(krmTagTypeHandler* self, void* Ptr)
{
    freePlain(self, Ptr);
}

void* _krmType_UInt64_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                           krmUInt32Number SizeOfTag)
{
    return readArray<krmUInt64Number>(self, io, nItems, SizeOfTag / 8, krmReadUInt64);
}

krmBool _krmType_UInt64_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number nItems)
{
    const krmUInt64Number* v = (const krmUInt64Number*)Ptr;
    for (krmUInt32Number i = 0; i < nItems; i++)
        if (!krmWriteUInt64(io, v[i]))
            return false;
    return true;
}

void* _krmType_UInt64_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number n)
{
    return dupArray<krmUInt64Number>(self, Ptr, n);
}

void _krmType_UInt64_Free(krmTagTypeHandler* self, void* Ptr)
{
    freePlain(self, Ptr);
}

// ---------------------------------------------------------------------------------------------
// 'sig ' (ICC.1:2010 10.19) and 'dtim' (ICC.1:2010 10.7)
// ---------------------------------------------------------------------------------------------

void* _krmType_Signature_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                              krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    if (SizeOfTag < 4)
        return nullptr;
    return readArray<krmUInt32Number>(self, io, nItems, 1, krmReadUInt32);
}

krmBool _krmType_Signature_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    return krmWriteUInt32(io, *(const krmSignature*)Ptr);
}

void* _krmType_Signature_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    return dupBytes(self, Ptr, sizeof(krmSignature));
}

void _krmType_Signature_Free(krmTagTypeHandler* self, void* Ptr)
{
    freePlain(self, Ptr);
}

void* _krmType_DateTime_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                             krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    if (SizeOfTag < 12)
        return nullptr;
    krmDateTimeNumber dt;
    if (!krmReadUInt16(io, &dt.year) || !krmReadUInt16(io, &dt.month) || !krmReadUInt16(io, &dt.day) ||
        !krmReadUInt16(io, &dt.hours) || !krmReadUInt16(io, &dt.minutes) || !krmReadUInt16(io, &dt.seconds))
        return nullptr;
    krmDateTime* tm = (krmDateTime*)krmMallocZero(self->ContextID, sizeof(krmDateTime));
    if (tm == nullptr)
        return nullptr;
    krmDecodeDateTimeNumber(&dt, tm);
    *nItems = 1;
    return tm;
}

krmBool _krmType_DateTime_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    krmDateTimeNumber dt;
    krmEncodeDateTimeNumber(&dt, (const krmDateTime*)Ptr);
    return krmWriteUInt16(io, dt.year) && krmWriteUInt16(io, dt.month) && krmWriteUInt16(io, dt.day) &&
           krmWriteUInt16(io, dt.hours) && krmWriteUInt16(io, dt.minutes) && krmWriteUInt16(io, dt.seconds);
}

void* _krmType_DateTime_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    return dupBytes(self, Ptr, sizeof(krmDateTime));
}

void _krmType_DateTime_Free(krmTagTypeHandler* self, void* Ptr)
{
    freePlain(self, Ptr);
}

// ---------------------------------------------------------------------------------------------
// 'data' (ICC.1:2010 10.6): a flag and the bytes
// ---------------------------------------------------------------------------------------------

static krmUInt32Number iccDataSize(krmUInt32Number len)
{
    return krmUInt32Number(offsetof(krmICCData, data)) + (len > 0 ? len : 1);
}

void* _krmType_Data_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    if (SizeOfTag < 4 || SizeOfTag - 4 > 0x7FFFFF00u)
        return nullptr;
    krmUInt32Number len = SizeOfTag - 4;
    krmICCData* d = (krmICCData*)krmMallocZero(self->ContextID, iccDataSize(len));
    if (d == nullptr)
        return nullptr;
    d->len = len;
    if (!krmReadUInt32(io, &d->flag) || (len > 0 && io->Read(io, d->data, 1, len) != len)) {
        krmFree(self->ContextID, d);
        return nullptr;
    }
    *nItems = 1;
    return d;
}

krmBool _krmType_Data_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmICCData* d = (const krmICCData*)Ptr;
    if (!krmWriteUInt32(io, d->flag))
        return false;
    return d->len == 0 || io->Write(io, d->len, d->data);
}

void* _krmType_Data_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    const krmICCData* d = (const krmICCData*)Ptr;
    if (d->len > 0x7FFFFF00u)
        return nullptr;
    return dupBytes(self, Ptr, iccDataSize(d->len));
}

void _krmType_Data_Free(krmTagTypeHandler* self, void* Ptr)
{
    freePlain(self, Ptr);
}

// ---------------------------------------------------------------------------------------------
// 'meas' (ICC.1:2010 10.14) and 'view' (ICC.1:2010 10.29)
// ---------------------------------------------------------------------------------------------

void* _krmType_Measurement_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                                krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    if (SizeOfTag < 28)
        return nullptr;
    krmMeasurement m;
    std::memset(&m, 0, sizeof m);
    if (!krmReadUInt32(io, &m.Observer) || !krmReadXYZ(io, &m.Backing) || !krmReadUInt32(io, &m.Geometry) ||
        !krmRead15Fixed16(io, &m.Flare) || !krmReadUInt32(io, &m.IlluminantType))
        return nullptr;
    void* p = krmDupMem(self->ContextID, &m, sizeof m);
    if (p != nullptr)
        *nItems = 1;
    return p;
}

krmBool _krmType_Measurement_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmMeasurement* m = (const krmMeasurement*)Ptr;
    return krmWriteUInt32(io, m->Observer) && krmWriteXYZ(io, &m->Backing) && krmWriteUInt32(io, m->Geometry) &&
           krmWrite15Fixed16(io, m->Flare) && krmWriteUInt32(io, m->IlluminantType);
}

void* _krmType_Measurement_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    return dupBytes(self, Ptr, sizeof(krmMeasurement));
}

void _krmType_Measurement_Free(krmTagTypeHandler* self, void* Ptr)
{
    freePlain(self, Ptr);
}

void* _krmType_ViewingConditions_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                                      krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    if (SizeOfTag < 28)
        return nullptr;
    krmViewingConditions v;
    std::memset(&v, 0, sizeof v);
    if (!krmReadXYZ(io, &v.IlluminantXYZ) || !krmReadXYZ(io, &v.SurroundXYZ) || !krmReadUInt32(io, &v.IlluminantType))
        return nullptr;
    void* p = krmDupMem(self->ContextID, &v, sizeof v);
    if (p != nullptr)
        *nItems = 1;
    return p;
}

krmBool _krmType_ViewingConditions_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmViewingConditions* v = (const krmViewingConditions*)Ptr;
    return krmWriteXYZ(io, &v->IlluminantXYZ) && krmWriteXYZ(io, &v->SurroundXYZ) &&
           krmWriteUInt32(io, v->IlluminantType);
}

void* _krmType_ViewingConditions_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    return dupBytes(self, Ptr, sizeof(krmViewingConditions));
}

void _krmType_ViewingConditions_Free(krmTagTypeHandler* self, void* Ptr)
{
    freePlain(self, Ptr);
}

// ---------------------------------------------------------------------------------------------
// 'chrm' (ICC.1:2010 10.2)
// ---------------------------------------------------------------------------------------------

void* _krmType_Chromaticity_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                                 krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmUInt16Number nChans, type;
    if (!krmReadUInt16(io, &nChans))
        return nullptr;
    // Some writers put a zero before the count; those tags are four bytes too long.
    if (nChans == 0 && SizeOfTag == 32) {
        if (!krmReadUInt16(io, nullptr) || !krmReadUInt16(io, &nChans))
            return nullptr;
    }
    if (nChans != 3 || SizeOfTag < 28 || !krmReadUInt16(io, &type))
        return nullptr;

    krmPrimaries c;
    krmCIExyY* dst[3] = {&c.Red, &c.Green, &c.Blue};
    for (krmCIExyY* p : dst) {
        if (!krmRead15Fixed16(io, &p->x) || !krmRead15Fixed16(io, &p->y))
            return nullptr;
        p->Y = 1.0;
    }
    void* r = krmDupMem(self->ContextID, &c, sizeof c);
    if (r != nullptr)
        *nItems = 1;
    return r;
}

krmBool _krmType_Chromaticity_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmPrimaries* c = (const krmPrimaries*)Ptr;
    if (!krmWriteUInt16(io, 3) || !krmWriteUInt16(io, 0))
        return false;
    const krmCIExyY* src[3] = {&c->Red, &c->Green, &c->Blue};
    for (const krmCIExyY* p : src)
        if (!krmWrite15Fixed16(io, p->x) || !krmWrite15Fixed16(io, p->y))
            return false;
    return true;
}

void* _krmType_Chromaticity_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    return dupBytes(self, Ptr, sizeof(krmPrimaries));
}

void _krmType_Chromaticity_Free(krmTagTypeHandler* self, void* Ptr)
{
    freePlain(self, Ptr);
}

// ---------------------------------------------------------------------------------------------
// 'clro' (ICC.1:2010 10.3)
// ---------------------------------------------------------------------------------------------

void* _krmType_ColorantOrder_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                                  krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmUInt32Number count;
    if (SizeOfTag < 4 || !krmReadUInt32(io, &count) || count > krmMAXCHANNELS || count > SizeOfTag - 4)
        return nullptr;
    krmColorantOrder o;
    std::memset(o.Order, 0xFF, sizeof o.Order);
    if (count > 0 && io->Read(io, o.Order, 1, count) != count)
        return nullptr;
    void* r = krmDupMem(self->ContextID, &o, sizeof o);
    if (r != nullptr)
        *nItems = 1;
    return r;
}

krmBool _krmType_ColorantOrder_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmColorantOrder* o = (const krmColorantOrder*)Ptr;
    krmUInt32Number count = 0;
    for (krmUInt8Number v : o->Order)
        if (v != 0xFF)
            count++;
    if (!krmWriteUInt32(io, count))
        return false;
    return count == 0 || io->Write(io, count, o->Order);
}

void* _krmType_ColorantOrder_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    return dupBytes(self, Ptr, sizeof(krmColorantOrder));
}

void _krmType_ColorantOrder_Free(krmTagTypeHandler* self, void* Ptr)
{
    freePlain(self, Ptr);
}

// ---------------------------------------------------------------------------------------------
// 'cicp' (ICC.1:2022 10.3)
// ---------------------------------------------------------------------------------------------

void* _krmType_VideoSignal_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                                krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    if (SizeOfTag != 4)
        return nullptr;
    krmVideoSignal v;
    if (!krmReadUInt8(io, &v.ColourPrimaries) || !krmReadUInt8(io, &v.TransferCharacteristics) ||
        !krmReadUInt8(io, &v.MatrixCoefficients) || !krmReadUInt8(io, &v.VideoFullRangeFlag))
        return nullptr;
    void* r = krmDupMem(self->ContextID, &v, sizeof v);
    if (r != nullptr)
        *nItems = 1;
    return r;
}

krmBool _krmType_VideoSignal_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmVideoSignal* v = (const krmVideoSignal*)Ptr;
    return krmWriteUInt8(io, v->ColourPrimaries) && krmWriteUInt8(io, v->TransferCharacteristics) &&
           krmWriteUInt8(io, v->MatrixCoefficients) && krmWriteUInt8(io, v->VideoFullRangeFlag);
}

void* _krmType_VideoSignal_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    return dupBytes(self, Ptr, sizeof(krmVideoSignal));
}

void _krmType_VideoSignal_Free(krmTagTypeHandler* self, void* Ptr)
{
    freePlain(self, Ptr);
}

// ---------------------------------------------------------------------------------------------
// Text types. All three decode into a krmMLU.
// ---------------------------------------------------------------------------------------------

static void freeMLU(krmTagTypeHandler*, void* Ptr)
{
    krmMLUFree((krmMLU*)Ptr);
}

static void* dupMLU(krmTagTypeHandler*, const void* Ptr)
{
    return krmMLUDup((const krmMLU*)Ptr);
}

// 'text' (ICC.1:2010 10.24): the whole data is the text.
void* _krmType_Text_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    if (SizeOfTag == 0xFFFFFFFFu || SizeOfTag > 0x7FFFFFF0u)
        return nullptr;

    krmMLU* mlu = krmMLUAlloc(self->ContextID, 1);
    if (mlu == nullptr)
        return nullptr;
    char* text = (char*)krmMalloc(self->ContextID, SizeOfTag + 1);
    if (text == nullptr) {
        krmMLUFree(mlu);
        return nullptr;
    }
    if (SizeOfTag > 0 && io->Read(io, text, 1, SizeOfTag) != SizeOfTag) {
        krmFree(self->ContextID, text);
        krmMLUFree(mlu);
        return nullptr;
    }
    text[SizeOfTag] = 0;
    krmBool ok = krmMLUSetASCII(mlu, krmNoLanguage, krmNoCountry, text);
    krmFree(self->ContextID, text);
    if (!ok) {
        krmMLUFree(mlu);
        return nullptr;
    }
    *nItems = 1;
    return mlu;
}

krmBool _krmType_Text_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmMLU* mlu = (const krmMLU*)Ptr;
    krmUInt32Number size = krmMLUGetASCII(mlu, krmNoLanguage, krmNoCountry, nullptr, 0);
    if (size == 0)
        return false;
    char* text = (char*)krmMalloc(self->ContextID, size);
    if (text == nullptr)
        return false;
    krmMLUGetASCII(mlu, krmNoLanguage, krmNoCountry, text, size);
    krmBool ok = io->Write(io, size, text);
    krmFree(self->ContextID, text);
    return ok;
}

void* _krmType_Text_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    return dupMLU(self, Ptr);
}

void _krmType_Text_Free(krmTagTypeHandler* self, void* Ptr)
{
    freeMLU(self, Ptr);
}

// 'desc' (ICC.1:2001 6.5.17): ASCII, then optionally Unicode and ScriptCode parts.
void* _krmType_TextDescription_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                                    krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    if (SizeOfTag < 4)
        return nullptr;

    krmUInt32Number asciiCount;
    if (!krmReadUInt32(io, &asciiCount))
        return nullptr;
    SizeOfTag -= 4;
    if (asciiCount > 0x7FFFF || asciiCount > SizeOfTag)
        return nullptr;

    krmMLU* mlu = krmMLUAlloc(self->ContextID, 1);
    if (mlu == nullptr)
        return nullptr;
    char* text = (char*)krmMalloc(self->ContextID, asciiCount + 1);
    if (text == nullptr) {
        krmMLUFree(mlu);
        return nullptr;
    }
    if (asciiCount > 0 && io->Read(io, text, 1, asciiCount) != asciiCount) {
        krmFree(self->ContextID, text);
        krmMLUFree(mlu);
        return nullptr;
    }
    text[asciiCount] = 0;
    SizeOfTag -= asciiCount;
    krmBool ok = krmMLUSetASCII(mlu, krmNoLanguage, krmNoCountry, text);
    krmFree(self->ContextID, text);
    if (!ok) {
        krmMLUFree(mlu);
        return nullptr;
    }

    // Whatever follows is optional: a shortfall from here on keeps what was read.
    *nItems = 1;
    if (SizeOfTag < 8)
        return mlu;
    krmUInt32Number unicodeLang, unicodeCount;
    if (!krmReadUInt32(io, &unicodeLang) || !krmReadUInt32(io, &unicodeCount))
        return mlu;
    SizeOfTag -= 8;

    if (unicodeCount > 0 && unicodeCount <= 0x7FFFF && unicodeCount <= SizeOfTag / 2) {
        krmWChar* wide = (krmWChar*)krmCalloc(self->ContextID, unicodeCount + 1, sizeof(krmWChar));
        if (wide == nullptr)
            return mlu;
        if (!krmReadUInt16Array(io, unicodeCount, (krmUInt16Number*)wide)) {
            krmFree(self->ContextID, wide);
            return mlu;
        }
        wide[unicodeCount] = 0;
        krmMLUSetWide(mlu, "\xFF\xFF", "\xFF\xFF", wide);
        krmFree(self->ContextID, wide);
        SizeOfTag -= unicodeCount * 2;
    }

    if (SizeOfTag < 70)
        return mlu;
    krmUInt16Number scriptCode;
    krmUInt8Number scriptCount;
    if (!krmReadUInt16(io, &scriptCode) || !krmReadUInt8(io, &scriptCount))
        return mlu;
    krmUInt8Number scratch[67];
    if (io->Read(io, scratch, 1, sizeof scratch) != sizeof scratch) {
        krmMLUFree(mlu);
        *nItems = 0;
        return nullptr;
    }
    return mlu;
}

krmBool _krmType_TextDescription_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    return _krmWriteTextDescription(self, io, (const krmMLU*)Ptr, true);
}

// Inside 'pseq' the elements follow each other unpadded: a reader could not tell padding from the
// next element.
krmBool _krmWriteTextDescription(krmTagTypeHandler* self, krmIOHandler* io, const krmMLU* mlu, krmBool padded)
{
    krmContext ctx = self->ContextID;
    krmUInt32Number start = tagStart(io);

    // n counts the terminator; the Unicode part uses the same count.
    krmUInt32Number n = krmMLUGetASCII(mlu, krmNoLanguage, krmNoCountry, nullptr, 0);
    if (n == 0)
        n = 1;
    if (n > 0x7FFFF)
        return false;

    char* text = (char*)krmMallocZero(ctx, n);
    krmWChar* wide = (krmWChar*)krmCalloc(ctx, n, sizeof(krmWChar));
    krmBool ok = text != nullptr && wide != nullptr;
    if (ok) {
        krmMLUGetASCII(mlu, krmNoLanguage, krmNoCountry, text, n);
        krmMLUGetWide(mlu, "\xFF\xFF", "\xFF\xFF", wide, n * krmUInt32Number(sizeof(krmWChar)));
        wide[n - 1] = 0;
        ok = krmWriteUInt32(io, n) && io->Write(io, n, text) && krmWriteUInt32(io, 0) && krmWriteUInt32(io, n) &&
             krmWriteUInt16Array(io, n, (const krmUInt16Number*)wide) && krmWriteUInt16(io, 0) &&
             krmWriteUInt8(io, 0);
        krmUInt8Number zeros[67] = {};
        ok = ok && io->Write(io, sizeof zeros, zeros);
        krmUInt32Number pad = padded ? (4 - (io->Tell(io) - start) % 4) % 4 : 0;
        ok = ok && (pad == 0 || io->Write(io, pad, zeros));
    }
    krmFree(ctx, text);
    krmFree(ctx, wide);
    return ok;
}

void* _krmType_TextDescription_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    return dupMLU(self, Ptr);
}

void _krmType_TextDescription_Free(krmTagTypeHandler* self, void* Ptr)
{
    freeMLU(self, Ptr);
}

// 'mluc' (ICC.1:2010 10.15). Offsets count from the type base; the strings are taken to follow
// the records contiguously.
void* _krmType_MLU_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmUInt32Number count, recLen;
    if (!krmReadUInt32(io, &count) || !krmReadUInt32(io, &recLen))
        return nullptr;
    if (recLen != 12) {
        krmSignalError(self->ContextID, krmErrUnknownExtension, "multiLocalizedUnicodeType of len != 12 is not supported.");
        return nullptr;
    }
    if (SizeOfTag < 8 || count > (SizeOfTag - 8) / 12)
        return nullptr;

    krmMLU* mlu = krmMLUAlloc(self->ContextID, count);
    if (mlu == nullptr)
        return nullptr;
    if (count == 0) {
        *nItems = 1;
        return mlu;
    }

    const krmUInt32Number headerSize = 16 + 12 * count;
    krmUInt32Number poolEnd = 0;
    for (krmUInt32Number i = 0; i < count; i++) {
        krmUInt16Number lang, cntry;
        krmUInt32Number len, offset;
        if (!krmReadUInt16(io, &lang) || !krmReadUInt16(io, &cntry) || !krmReadUInt32(io, &len) ||
            !krmReadUInt32(io, &offset))
            goto Error;
        if ((offset & 1) != 0 || offset < headerSize || offset + len < offset || offset + len > SizeOfTag + 8)
            goto Error;
        krmUInt32Number begin = offset - headerSize;
        if (begin + len > poolEnd)
            poolEnd = begin + len;
        mlu->Entries[i].Language = lang;
        mlu->Entries[i].Country = cntry;
        mlu->Entries[i].StrW = begin;
        mlu->Entries[i].Len = len;
    }
    mlu->UsedEntries = count;

    if ((poolEnd & 1) != 0)
        goto Error;
    if (poolEnd > 0) {
        mlu->MemPool = krmMalloc(self->ContextID, poolEnd);
        if (mlu->MemPool == nullptr || !krmReadUInt16Array(io, poolEnd / 2, (krmUInt16Number*)mlu->MemPool))
            goto Error;
    }
    mlu->PoolSize = poolEnd;
    mlu->PoolUsed = poolEnd;
    *nItems = 1;
    return mlu;

Error:
    krmMLUFree(mlu);
    return nullptr;
}

krmBool _krmType_MLU_Write(krmTagTypeHandler*, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmMLU* mlu = (const krmMLU*)Ptr;
    if (mlu == nullptr)
        return krmWriteUInt32(io, 0) && krmWriteUInt32(io, 12);

    if (!krmWriteUInt32(io, mlu->UsedEntries) || !krmWriteUInt32(io, 12))
        return false;
    const krmUInt32Number headerSize = 16 + 12 * mlu->UsedEntries;
    for (krmUInt32Number i = 0; i < mlu->UsedEntries; i++) {
        const _krmMLUentry& e = mlu->Entries[i];
        if (!krmWriteUInt16(io, e.Language) || !krmWriteUInt16(io, e.Country) || !krmWriteUInt32(io, e.Len) ||
            !krmWriteUInt32(io, e.StrW + headerSize))
            return false;
    }
    return mlu->PoolUsed < 2 || krmWriteUInt16Array(io, mlu->PoolUsed / 2, (const krmUInt16Number*)mlu->MemPool);
}

void* _krmType_MLU_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number)
{
    return dupMLU(self, Ptr);
}

void _krmType_MLU_Free(krmTagTypeHandler* self, void* Ptr)
{
    freeMLU(self, Ptr);
}

// ---------------------------------------------------------------------------------------------
// Curves: 'curv' (ICC.1:2010 10.5), also under the numeric signature 0x9478EE00, and 'para'
// (ICC.1:2010 10.16)
// ---------------------------------------------------------------------------------------------

void* _krmType_Curve_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmUInt32Number count;
    if (SizeOfTag < 4 || !krmReadUInt32(io, &count))
        return nullptr;
    if (count > 0 && count > (SizeOfTag - 4) / 2)
        return nullptr;

    krmToneCurve* curve = nullptr;
    if (count == 0) {
        const krmFloat64Number linear[1] = {1.0};
        curve = krmBuildParametricToneCurve(self->ContextID, 1, linear);
    } else if (count == 1) {
        krmUInt16Number g;
        if (!krmReadUInt16(io, &g))
            return nullptr;
        const krmFloat64Number gamma[1] = {krm8Fixed8toDouble(g)};
        curve = krmBuildParametricToneCurve(self->ContextID, 1, gamma);
    } else if (count <= krmMaxCurveTableEntries) {
        krmUInt16Number* table = (krmUInt16Number*)krmCalloc(self->ContextID, count, sizeof(krmUInt16Number));
        if (table == nullptr)
            return nullptr;
        if (krmReadUInt16Array(io, count, table))
            curve = krmBuildTabulatedToneCurve16(self->ContextID, count, table);
        krmFree(self->ContextID, table);
    }
    if (curve != nullptr)
        *nItems = 1;
    return curve;
}

krmBool _krmCurveTableWritable(krmContext ContextID, krmUInt32Number nEntries)
{
    if (nEntries <= krmMaxCurveTableEntries) return true;
    krmSignalError(ContextID, krmErrUnknownExtension,
                   "Curve of %u entries cannot be saved: curve tables hold at most %u entries", (unsigned)nEntries,
                   (unsigned)krmMaxCurveTableEntries);
    return false;
}

krmBool _krmType_Curve_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmToneCurve* curve = (const krmToneCurve*)Ptr;
    if (curve->nSegments == 1 && curve->Segments[0].Type == 1)
        return krmWriteUInt32(io, 1) && krmWriteUInt16(io, krmDoubleTo8Fixed8(curve->Segments[0].Params[0]));
    return _krmCurveTableWritable(self->ContextID, curve->nEntries) && krmWriteUInt32(io, curve->nEntries) &&
           krmWriteUInt16Array(io, curve->nEntries, curve->Table16);
}

void* _krmType_Curve_Dup(krmTagTypeHandler*, const void* Ptr, krmUInt32Number)
{
    return krmDupToneCurve((const krmToneCurve*)Ptr);
}

void _krmType_Curve_Free(krmTagTypeHandler*, void* Ptr)
{
    krmFreeToneCurve((krmToneCurve*)Ptr);
}

// Parameters of ICC function types 0 to 4 (engine types 1 to 5).
static const int kParamCount[5] = {1, 3, 4, 5, 7};

void* _krmType_ParametricCurve_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                                    krmUInt32Number SizeOfTag)
{
    *nItems = 0;
    krmUInt16Number type, reserved;
    if (!krmReadUInt16(io, &type) || !krmReadUInt16(io, &reserved))
        return nullptr;
    if (type >= 5) {
        krmSignalError(self->ContextID, krmErrUnknownExtension, "Unknown parametric curve type '%d'", type);
        return nullptr;
    }
    if (SizeOfTag < 4 + 4 * krmUInt32Number(kParamCount[type]))
        return nullptr;
    krmFloat64Number params[10] = {};
    for (int i = 0; i < kParamCount[type]; i++)
        if (!krmRead15Fixed16(io, &params[i]))
            return nullptr;
    krmToneCurve* curve = krmBuildParametricToneCurve(self->ContextID, type + 1, params);
    if (curve != nullptr)
        *nItems = 1;
    return curve;
}

krmBool _krmType_ParametricCurve_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number)
{
    const krmToneCurve* curve = (const krmToneCurve*)Ptr;
    if (curve->nSegments != 1 || curve->Segments[0].Type < 1) {
        krmSignalError(self->ContextID, krmErrUnknownExtension,
                       "Multisegment or Inverted parametric curves cannot be written");
        return false;
    }
    int type = curve->Segments[0].Type;
    if (type >= 6) {
        krmSignalError(self->ContextID, krmErrUnknownExtension, "Unsupported parametric curve");
        return false;
    }
    if (!krmWriteUInt16(io, krmUInt16Number(type - 1)) || !krmWriteUInt16(io, 0))
        return false;
    for (int i = 0; i < kParamCount[type - 1]; i++)
        if (!krmWrite15Fixed16(io, curve->Segments[0].Params[i]))
            return false;
    return true;
}

void* _krmType_ParametricCurve_Dup(krmTagTypeHandler*, const void* Ptr, krmUInt32Number)
{
    return krmDupToneCurve((const krmToneCurve*)Ptr);
}

void _krmType_ParametricCurve_Free(krmTagTypeHandler*, void* Ptr)
{
    krmFreeToneCurve((krmToneCurve*)Ptr);
}
