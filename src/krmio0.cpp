// Byte streams, big-endian number primitives and the ICC profile container: header, tag
// directory, lazy tag decoding and two-pass saving (ICC.1:2010 7.2, 7.3).

#include "krm_internal.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#define DEFAULT_MAX_PROFILE_VERSION 0x04400000u
#define ICC_HEADER_SIZE 128

// Four characters of a signature, for messages.
static void sigToString(char str[5], krmUInt32Number sig)
{
    str[0] = (char)(sig >> 24);
    str[1] = (char)(sig >> 16);
    str[2] = (char)(sig >> 8);
    str[3] = (char)sig;
    str[4] = 0;
}

static krmUInt32Number be32(const krmUInt8Number* p)
{
    return ((krmUInt32Number)p[0] << 24) | ((krmUInt32Number)p[1] << 16) | ((krmUInt32Number)p[2] << 8) | p[3];
}

static krmUInt16Number be16(const krmUInt8Number* p)
{
    return (krmUInt16Number)((p[0] << 8) | p[1]);
}

static void put32(krmUInt8Number* p, krmUInt32Number v)
{
    p[0] = (krmUInt8Number)(v >> 24);
    p[1] = (krmUInt8Number)(v >> 16);
    p[2] = (krmUInt8Number)(v >> 8);
    p[3] = (krmUInt8Number)v;
}

static void put16(krmUInt8Number* p, krmUInt16Number v)
{
    p[0] = (krmUInt8Number)(v >> 8);
    p[1] = (krmUInt8Number)v;
}

// =============================================================================================
// Memory handler
// =============================================================================================

typedef struct {
    krmUInt8Number* Block;
    krmUInt32Number Size;
    krmUInt32Number Pointer;
    krmBool FreeBlockOnClose;
} FILEMEM;

static krmUInt32Number MemoryRead(krmIOHandler* iohandler, void* Buffer, krmUInt32Number size, krmUInt32Number count)
{
    FILEMEM* ResData = (FILEMEM*)iohandler->stream;
    if (size == 0 || count == 0) return 0;

    krmUInt64Number len = (krmUInt64Number)size * count;
    if (len > 0xFFFFFFFFu || Buffer == nullptr || ResData->Block == nullptr ||
        (krmUInt64Number)ResData->Pointer + len > ResData->Size) {
        krmSignalError(iohandler->ContextID, krmErrRead, "Read from memory error");
        return 0;
    }

    memmove(Buffer, ResData->Block + ResData->Pointer, (size_t)len);
    ResData->Pointer += (krmUInt32Number)len;
    return count;
}

static krmBool MemorySeek(krmIOHandler* iohandler, krmUInt32Number offset)
{
    FILEMEM* ResData = (FILEMEM*)iohandler->stream;
    if (offset > ResData->Size) return false;
    ResData->Pointer = offset;
    return true;
}

static krmUInt32Number MemoryTell(krmIOHandler* iohandler)
{
    FILEMEM* ResData = (FILEMEM*)iohandler->stream;
    return ResData ? ResData->Pointer : 0;
}

static krmBool MemoryWrite(krmIOHandler* iohandler, krmUInt32Number size, const void* Ptr)
{
    FILEMEM* ResData = (FILEMEM*)iohandler->stream;
    if (ResData == nullptr || ResData->Block == nullptr) {
        krmSignalError(iohandler->ContextID, krmErrWrite, "Write to memory error");
        return false;
    }
    if (size == 0) return true;
    if (Ptr == nullptr) {
        krmSignalError(iohandler->ContextID, krmErrWrite, "Write to memory error");
        return false;
    }

    // Writes past the end of the block are cut to what fits.
    if (ResData->Pointer >= ResData->Size) return true;
    if (size > ResData->Size - ResData->Pointer) size = ResData->Size - ResData->Pointer;

    memmove(ResData->Block + ResData->Pointer, Ptr, size);
    ResData->Pointer += size;
    if (ResData->Pointer > iohandler->UsedSpace) iohandler->UsedSpace = ResData->Pointer;
    return true;
}

static krmBool MemoryClose(krmIOHandler* iohandler)
{
    FILEMEM* ResData = (FILEMEM*)iohandler->stream;
    if (ResData->FreeBlockOnClose && ResData->Block) krmFree(iohandler->ContextID, ResData->Block);
    krmFree(iohandler->ContextID, ResData);
    krmFree(iohandler->ContextID, iohandler);
    return true;
}

krmIOHandler* krmOpenIOHandlerFromMem(krmContext ContextID, void* Buffer, krmUInt32Number size, const char* AccessMode)
{
    _krmAssert(AccessMode != nullptr);

    krmIOHandler* iohandler = (krmIOHandler*)krmMallocZero(ContextID, sizeof(krmIOHandler));
    if (iohandler == nullptr) return nullptr;

    FILEMEM* fm = nullptr;
    switch (*AccessMode) {
    case 'r':
        if (Buffer == nullptr) {
            krmSignalError(ContextID, krmErrRead, "Couldn't read profile from NULL pointer");
            goto Error;
        }
        fm = (FILEMEM*)krmMallocZero(ContextID, sizeof(FILEMEM));
        if (fm == nullptr) goto Error;
        // The block is copied so that the caller may release it at once.
        fm->Block = (krmUInt8Number*)krmMalloc(ContextID, size);
        if (fm->Block == nullptr) {
            krmSignalError(ContextID, krmErrRead, "Couldn't allocate %ld bytes for profile", (long)size);
            goto Error;
        }
        memmove(fm->Block, Buffer, size);
        fm->FreeBlockOnClose = true;
        fm->Size = size;
        fm->Pointer = 0;
        iohandler->ReportedSize = size;
        break;

    case 'w':
        if (Buffer == nullptr) {
            krmSignalError(ContextID, krmErrWrite, "Couldn't write profile to NULL pointer");
            goto Error;
        }
        fm = (FILEMEM*)krmMallocZero(ContextID, sizeof(FILEMEM));
        if (fm == nullptr) goto Error;
        fm->Block = (krmUInt8Number*)Buffer;
        fm->FreeBlockOnClose = false;
        fm->Size = size;
        fm->Pointer = 0;
        iohandler->ReportedSize = 0;
        break;

    default:
        krmSignalError(ContextID, krmErrUnknownExtension, "Unknown access mode '%c'", *AccessMode);
        goto Error;
    }

    iohandler->ContextID = ContextID;
    iohandler->stream = (void*)fm;
    iohandler->UsedSpace = 0;
    iohandler->PhysicalFile[0] = 0;
    iohandler->Read = MemoryRead;
    iohandler->Seek = MemorySeek;
    iohandler->Close = MemoryClose;
    iohandler->Tell = MemoryTell;
    iohandler->Write = MemoryWrite;
    return iohandler;

Error:
    if (fm) krmFree(ContextID, fm);
    krmFree(ContextID, iohandler);
    return nullptr;
}

// =============================================================================================
// Null handler: counts bytes
// =============================================================================================

typedef struct {
    krmUInt32Number Pointer;
} FILENULL;

static krmUInt32Number NULLRead(krmIOHandler* iohandler, void* Buffer, krmUInt32Number size, krmUInt32Number count)
{
    FILENULL* ResData = (FILENULL*)iohandler->stream;
    ResData->Pointer += size * count;
    return count;
}

static krmBool NULLSeek(krmIOHandler* iohandler, krmUInt32Number offset)
{
    ((FILENULL*)iohandler->stream)->Pointer = offset;
    return true;
}

static krmUInt32Number NULLTell(krmIOHandler* iohandler)
{
    return ((FILENULL*)iohandler->stream)->Pointer;
}

static krmBool NULLWrite(krmIOHandler* iohandler, krmUInt32Number size, const void* Ptr)
{
    FILENULL* ResData = (FILENULL*)iohandler->stream;
    krmUInt32Number len = ResData->Pointer + size;
    if (len < ResData->Pointer) return false;  // past 4 GiB
    ResData->Pointer = len;
    if (ResData->Pointer > iohandler->UsedSpace) iohandler->UsedSpace = ResData->Pointer;
    return true;
}

static krmBool NULLClose(krmIOHandler* iohandler)
{
    krmFree(iohandler->ContextID, iohandler->stream);
    krmFree(iohandler->ContextID, iohandler);
    return true;
}

krmIOHandler* krmOpenIOHandlerFromNull(krmContext ContextID)
{
    krmIOHandler* iohandler = (krmIOHandler*)krmMallocZero(ContextID, sizeof(krmIOHandler));
    if (iohandler == nullptr) return nullptr;

    FILENULL* fm = (FILENULL*)krmMallocZero(ContextID, sizeof(FILENULL));
    if (fm == nullptr) {
        krmFree(ContextID, iohandler);
        return nullptr;
    }

    iohandler->ContextID = ContextID;
    iohandler->stream = (void*)fm;
    iohandler->Read = NULLRead;
    iohandler->Seek = NULLSeek;
    iohandler->Close = NULLClose;
    iohandler->Tell = NULLTell;
    iohandler->Write = NULLWrite;
    return iohandler;
}

// =============================================================================================
// File and stream handlers
// =============================================================================================

static krmUInt32Number FileRead(krmIOHandler* iohandler, void* Buffer, krmUInt32Number size, krmUInt32Number count)
{
    size_t nReaded = fread(Buffer, size, count, (FILE*)iohandler->stream);
    if (nReaded != count) {
        krmSignalError(iohandler->ContextID, krmErrFile, "Read error. Got %d bytes, block should be of %d bytes",
                       (int)(nReaded * size), (int)(count * size));
        return 0;
    }
    return (krmUInt32Number)nReaded;
}

static krmBool FileSeek(krmIOHandler* iohandler, krmUInt32Number offset)
{
    if (fseeko((FILE*)iohandler->stream, (off_t)offset, SEEK_SET) != 0) {
        krmSignalError(iohandler->ContextID, krmErrFile, "Seek error; probably corrupted file");
        return false;
    }
    return true;
}

static krmUInt32Number FileTell(krmIOHandler* iohandler)
{
    off_t t = ftello((FILE*)iohandler->stream);
    if (t == -1) {
        krmSignalError(iohandler->ContextID, krmErrFile, "Tell error; probably corrupted file");
        return 0;
    }
    return (krmUInt32Number)t;
}

static krmBool FileWrite(krmIOHandler* iohandler, krmUInt32Number size, const void* Buffer)
{
    if (size == 0) return true;
    iohandler->UsedSpace += size;
    return fwrite(Buffer, size, 1, (FILE*)iohandler->stream) == 1;
}

static krmBool FileClose(krmIOHandler* iohandler)
{
    krmBool ok = fclose((FILE*)iohandler->stream) == 0;
    krmFree(iohandler->ContextID, iohandler);
    return ok;
}

// Size of an open stream, or -1.
static long long streamSize(FILE* f)
{
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) return (long long)st.st_size;

    // Not a regular file: ask the stream itself.
    off_t at = ftello(f);
    if (at < 0 || fseeko(f, 0, SEEK_END) != 0) return -1;
    off_t end = ftello(f);
    if (fseeko(f, at, SEEK_SET) != 0) return -1;
    return end < 0 ? -1 : (long long)end;
}

static void fillFileRoutines(krmIOHandler* iohandler)
{
    iohandler->Read = FileRead;
    iohandler->Seek = FileSeek;
    iohandler->Close = FileClose;
    iohandler->Tell = FileTell;
    iohandler->Write = FileWrite;
}

krmIOHandler* krmOpenIOHandlerFromFile(krmContext ContextID, const char* FileName, const char* AccessMode)
{
    _krmAssert(FileName != nullptr);
    _krmAssert(AccessMode != nullptr);

    char mode = 0;
    krmBool closeOnExec = false;
    for (const char* p = AccessMode; *p; p++) {
        switch (*p) {
        case 'r':
        case 'w':
            if (mode != 0) {
                krmSignalError(ContextID, krmErrFile, "Access mode already specified '%c'", *p);
                return nullptr;
            }
            mode = *p;
            break;
        case 'e':
            closeOnExec = true;
            break;
        default:
            krmSignalError(ContextID, krmErrFile, "Wrong access mode '%c'", *p);
            return nullptr;
        }
    }
    if (mode == 0) return nullptr;

    char fmode[4] = {mode, 'b', 0, 0};
    if (closeOnExec) fmode[2] = 'e';

    FILE* fm = fopen(FileName, fmode);
    long long fileSize = 0;
    if (mode == 'r') {
        if (fm == nullptr) {
            krmSignalError(ContextID, krmErrFile, "File '%s' not found", FileName);
            return nullptr;
        }
        fileSize = streamSize(fm);
        if (fileSize < 0) {
            fclose(fm);
            krmSignalError(ContextID, krmErrFile, "Cannot get size of file '%s'", FileName);
            return nullptr;
        }
        if (fileSize >= 0x100000000LL) {
            fclose(fm);
            krmSignalError(ContextID, krmErrFile, "File '%s' is too large", FileName);
            return nullptr;
        }
    } else if (fm == nullptr) {
        krmSignalError(ContextID, krmErrFile, "Couldn't create '%s'", FileName);
        return nullptr;
    }

    krmIOHandler* iohandler = (krmIOHandler*)krmMallocZero(ContextID, sizeof(krmIOHandler));
    if (iohandler == nullptr) {
        fclose(fm);
        return nullptr;
    }

    iohandler->ContextID = ContextID;
    iohandler->stream = (void*)fm;
    iohandler->UsedSpace = 0;
    iohandler->ReportedSize = mode == 'r' ? (krmUInt32Number)fileSize : 0;
    strncpy(iohandler->PhysicalFile, FileName, krmMAX_PATH - 1);
    iohandler->PhysicalFile[krmMAX_PATH - 1] = 0;
    fillFileRoutines(iohandler);
    return iohandler;
}

krmIOHandler* krmOpenIOHandlerFromStream(krmContext ContextID, FILE* Stream)
{
    _krmAssert(Stream != nullptr);

    long long fileSize = streamSize(Stream);
    if (fileSize < 0) {
        krmSignalError(ContextID, krmErrFile, "Cannot get size of stream");
        return nullptr;
    }
    if (fileSize >= 0x100000000LL) {
        krmSignalError(ContextID, krmErrFile, "Stream is too large");
        return nullptr;
    }

    krmIOHandler* iohandler = (krmIOHandler*)krmMallocZero(ContextID, sizeof(krmIOHandler));
    if (iohandler == nullptr) return nullptr;

    iohandler->ContextID = ContextID;
    iohandler->stream = (void*)Stream;
    iohandler->UsedSpace = 0;
    iohandler->ReportedSize = (krmUInt32Number)fileSize;
    iohandler->PhysicalFile[0] = 0;
    fillFileRoutines(iohandler);
    return iohandler;
}

krmBool krmCloseIOHandler(krmIOHandler* io)
{
    _krmAssert(io != nullptr);
    return io->Close(io);
}

// =============================================================================================
// Number primitives
// =============================================================================================

krmBool krmReadUInt8(krmIOHandler* io, krmUInt8Number* n)
{
    krmUInt8Number tmp;
    if (io->Read(io, &tmp, sizeof(krmUInt8Number), 1) != 1) return false;
    if (n != nullptr) *n = tmp;
    return true;
}

krmBool krmReadUInt16(krmIOHandler* io, krmUInt16Number* n)
{
    krmUInt8Number tmp[2];
    if (io->Read(io, tmp, 2, 1) != 1) return false;
    if (n != nullptr) *n = be16(tmp);
    return true;
}

krmBool krmReadUInt16Array(krmIOHandler* io, krmUInt32Number n, krmUInt16Number* Array)
{
    for (krmUInt32Number i = 0; i < n; i++) {
        if (!krmReadUInt16(io, Array ? Array + i : nullptr)) return false;
    }
    return true;
}

krmBool krmReadUInt32(krmIOHandler* io, krmUInt32Number* n)
{
    krmUInt8Number tmp[4];
    if (io->Read(io, tmp, 4, 1) != 1) return false;
    if (n != nullptr) *n = be32(tmp);
    return true;
}

krmBool krmReadUInt64(krmIOHandler* io, krmUInt64Number* n)
{
    krmUInt8Number tmp[8];
    if (io->Read(io, tmp, 8, 1) != 1) return false;
    if (n != nullptr) *n = ((krmUInt64Number)be32(tmp) << 32) | be32(tmp + 4);
    return true;
}

// Only zero and normal numbers within +/-1e20 are plausible in a profile.
static krmBool isStorableFloat(krmFloat32Number f)
{
    if (!(f <= 1e20f && f >= -1e20f)) return false;  // also refuses NaN
    return f == 0.0f || std::fpclassify(f) == FP_NORMAL;
}

krmBool krmReadFloat32(krmIOHandler* io, krmFloat32Number* n)
{
    krmUInt32Number tmp;
    if (!krmReadUInt32(io, &tmp)) return false;

    krmFloat32Number f;
    memcpy(&f, &tmp, sizeof(f));
    if (!isStorableFloat(f)) return false;
    if (n != nullptr) *n = f;
    return true;
}

krmBool krmRead15Fixed16(krmIOHandler* io, krmFloat64Number* n)
{
    krmUInt32Number tmp;
    if (!krmReadUInt32(io, &tmp)) return false;
    if (n != nullptr) *n = krm15Fixed16toDouble((krmS15Fixed16Number)tmp);
    return true;
}

krmTagTypeSignature krmReadTypeBase(krmIOHandler* io)
{
    krmUInt8Number tmp[8];
    if (io->Read(io, tmp, 8, 1) != 1) return 0;
    return be32(tmp);  // the 4 reserved bytes are not checked
}

krmBool krmReadAlignment(krmIOHandler* io)
{
    krmUInt8Number Buffer[4];
    krmUInt32Number At = io->Tell(io);
    krmUInt32Number NextAligned = (At + 3u) & ~3u;
    krmUInt32Number BytesToNextAlignedPos = NextAligned - At;
    if (BytesToNextAlignedPos == 0) return true;
    if (BytesToNextAlignedPos > 4) return false;
    return io->Read(io, Buffer, BytesToNextAlignedPos, 1) == 1;
}

krmBool krmWriteUInt8(krmIOHandler* io, krmUInt8Number n)
{
    return io->Write(io, 1, &n);
}

krmBool krmWriteUInt16(krmIOHandler* io, krmUInt16Number n)
{
    krmUInt8Number tmp[2];
    put16(tmp, n);
    return io->Write(io, 2, tmp);
}

krmBool krmWriteUInt16Array(krmIOHandler* io, krmUInt32Number n, const krmUInt16Number* Array)
{
    _krmAssert(Array != nullptr);
    for (krmUInt32Number i = 0; i < n; i++) {
        if (!krmWriteUInt16(io, Array[i])) return false;
    }
    return true;
}

krmBool krmWriteUInt32(krmIOHandler* io, krmUInt32Number n)
{
    krmUInt8Number tmp[4];
    put32(tmp, n);
    return io->Write(io, 4, tmp);
}

krmBool krmWriteUInt64(krmIOHandler* io, krmUInt64Number n)
{
    krmUInt8Number tmp[8];
    put32(tmp, (krmUInt32Number)(n >> 32));
    put32(tmp + 4, (krmUInt32Number)n);
    return io->Write(io, 8, tmp);
}

krmBool krmWriteFloat32(krmIOHandler* io, krmFloat32Number n)
{
    // Refuse what could not be read back.
    if (!isStorableFloat(n)) return false;
    krmUInt32Number tmp;
    memcpy(&tmp, &n, sizeof(tmp));
    return krmWriteUInt32(io, tmp);
}

krmBool krmWrite15Fixed16(krmIOHandler* io, krmFloat64Number n)
{
    return krmWriteUInt32(io, (krmUInt32Number)krmDoubleTo15Fixed16(n));
}

krmBool krmWriteTypeBase(krmIOHandler* io, krmTagTypeSignature sig)
{
    krmUInt8Number tmp[8] = {0};
    put32(tmp, sig);
    return io->Write(io, 8, tmp);
}

krmBool krmWriteAlignment(krmIOHandler* io)
{
    krmUInt8Number Buffer[4] = {0, 0, 0, 0};
    krmUInt32Number At = io->Tell(io);
    krmUInt32Number NextAligned = (At + 3u) & ~3u;
    krmUInt32Number BytesToNextAlignedPos = NextAligned - At;
    if (BytesToNextAlignedPos == 0) return true;
    if (BytesToNextAlignedPos > 4) return false;
    return io->Write(io, BytesToNextAlignedPos, Buffer);
}

krmS15Fixed16Number krmDoubleTo15Fixed16(krmFloat64Number v)
{
    double f = floor(v * 65536.0 + 0.5);
    // Out-of-range values saturate rather than wrap.
    if (!(f >= -2147483648.0)) return INT32_MIN;
    if (f > 2147483647.0) return INT32_MAX;
    return (krmS15Fixed16Number)f;
}

krmFloat64Number krm15Fixed16toDouble(krmS15Fixed16Number fix32)
{
    return (krmFloat64Number)fix32 / 65536.0;
}

krmU8Fixed8Number krmDoubleTo8Fixed8(krmFloat64Number val)
{
    krmUInt32Number GammaFixed32 = (krmUInt32Number)krmDoubleTo15Fixed16(val);
    return (krmU8Fixed8Number)((GammaFixed32 >> 8) & 0xFFFF);
}

krmFloat64Number krm8Fixed8toDouble(krmU8Fixed8Number fixed8)
{
    return (krmFloat64Number)fixed8 / 256.0;
}

void krmDecodeDateTimeNumber(const krmDateTimeNumber* Source, struct tm* Dest)
{
    _krmAssert(Dest != nullptr);
    _krmAssert(Source != nullptr);
    memset(Dest, 0, sizeof(*Dest));
    Dest->tm_sec = Source->seconds;
    Dest->tm_min = Source->minutes;
    Dest->tm_hour = Source->hours;
    Dest->tm_mday = Source->day;
    Dest->tm_mon = Source->month - 1;
    Dest->tm_year = Source->year - 1900;
    Dest->tm_wday = -1;
    Dest->tm_yday = -1;
    Dest->tm_isdst = 0;
}

void krmEncodeDateTimeNumber(krmDateTimeNumber* Dest, const struct tm* Source)
{
    _krmAssert(Dest != nullptr);
    _krmAssert(Source != nullptr);
    Dest->seconds = (krmUInt16Number)Source->tm_sec;
    Dest->minutes = (krmUInt16Number)Source->tm_min;
    Dest->hours = (krmUInt16Number)Source->tm_hour;
    Dest->day = (krmUInt16Number)Source->tm_mday;
    Dest->month = (krmUInt16Number)(Source->tm_mon + 1);
    Dest->year = (krmUInt16Number)(Source->tm_year + 1900);
}

// =============================================================================================
// Profile record
// =============================================================================================

krmProfile krmCreateProfilePlaceholder(krmContext ContextID)
{
    _krmICCPROFILE* Icc = (_krmICCPROFILE*)krmMallocZero(ContextID, sizeof(_krmICCPROFILE));
    if (Icc == nullptr) return nullptr;

    Icc->ContextID = ContextID;
    Icc->TagCount = 0;
    Icc->Version = 0x02100000;
    Icc->CMM = krmSig("crvn");
    Icc->creator = krmSig("crvn");
    Icc->platform = krmSig("MSFT");
    Icc->DeviceClass = krmSig("mntr");

    if (!_krmGetTime(&Icc->Created)) {
        krmFree(ContextID, Icc);
        return nullptr;
    }

    Icc->UsrMutex = krmCreateMutex(ContextID);
    return (krmProfile)Icc;
}

krmContext krmGetProfileContext(krmProfile hProfile)
{
    return hProfile ? ((_krmICCPROFILE*)hProfile)->ContextID : nullptr;
}

krmIOHandler* krmGetProfileIOHandler(krmProfile hProfile)
{
    return hProfile ? ((_krmICCPROFILE*)hProfile)->IOhandler : nullptr;
}

krmUInt32Number _krmMaxProfileVersion(krmContext ctx)
{
    const krmPluginHeader* hdr = (const krmPluginHeader*)_krmGetPluginSlot(ctx, krmPluginHeaderSig);
    return hdr ? hdr->MaxVersion : DEFAULT_MAX_PROFILE_VERSION;
}

// Position of a signature in the directory, without following links.
static int searchOneTag(_krmICCPROFILE* Profile, krmTagSignature sig)
{
    if (sig == 0) return -1;  // 0 marks empty slots
    for (krmUInt32Number i = 0; i < Profile->TagCount && i < krmMAX_TABLE_TAG; i++) {
        if (sig == Profile->TagNames[i]) return (int)i;
    }
    return -1;
}

int _krmSearchTag(_krmICCPROFILE* Icc, krmTagSignature sig, krmBool lFollowLinks)
{
    int n = searchOneTag(Icc, sig);
    if (n < 0) return -1;
    if (!lFollowLinks) return n;

    // Links may chain; a cycle (only krmLinkTag can make one) is treated as absent.
    for (int hops = 0; hops <= krmMAX_TABLE_TAG; hops++) {
        krmTagSignature LinkedSig = Icc->TagLinked[n];
        if (LinkedSig == 0) return n;
        n = searchOneTag(Icc, LinkedSig);
        if (n < 0) return -1;
    }
    return -1;
}

krmBool _krmNewTag(_krmICCPROFILE* Icc, krmTagSignature sig, int* NewPos)
{
    if (Icc->TagCount >= krmMAX_TABLE_TAG) {
        krmSignalError(Icc->ContextID, krmErrRange, "Too many tags (%d)", krmMAX_TABLE_TAG);
        return false;
    }
    int i = (int)Icc->TagCount++;
    Icc->TagNames[i] = sig;
    Icc->TagLinked[i] = 0;
    Icc->TagSizes[i] = 0;
    Icc->TagOffsets[i] = 0;
    Icc->TagPtrs[i] = nullptr;
    Icc->TagTypeHandlers[i] = nullptr;
    Icc->TagElemCount[i] = 0;
    *NewPos = i;
    return true;
}

// Frees the decoded object of an entry through the handler that made it.
static void freeTagObject(_krmICCPROFILE* Icc, int i)
{
    void* Ptr = Icc->TagPtrs[i];
    if (Ptr == nullptr) return;

    const krmTagTypeHandler* TypeHandler = Icc->TagTypeHandlers[i];
    if (TypeHandler != nullptr && TypeHandler->FreePtr != nullptr) {
        krmTagTypeHandler LocalTypeHandler = *TypeHandler;
        LocalTypeHandler.ContextID = Icc->ContextID;
        LocalTypeHandler.ICCVersion = Icc->Version;
        LocalTypeHandler.FreePtr(&LocalTypeHandler, Ptr);
    } else {
        krmFree(Icc->ContextID, Ptr);
    }
    Icc->TagPtrs[i] = nullptr;
}

// Two tags may share stored data when they would decode it the same way.
static krmBool compatibleTypes(const krmTagDescriptor* desc1, const krmTagDescriptor* desc2)
{
    if (desc1 == nullptr || desc2 == nullptr) return false;
    if (desc1->nSupportedTypes != desc2->nSupportedTypes) return false;
    if (desc1->ElemCount != desc2->ElemCount) return false;

    krmUInt32Number n = desc1->nSupportedTypes > krmMAX_TYPES_IN_PLUGIN ? krmMAX_TYPES_IN_PLUGIN : desc1->nSupportedTypes;
    for (krmUInt32Number i = 0; i < n; i++) {
        if (desc1->SupportedTypes[i] != desc2->SupportedTypes[i]) return false;
    }
    return true;
}

// Caps each of major, minor and bug-fix digits at 9 (ICC.1:2010 7.2.4).
static krmUInt32Number validatedVersion(krmUInt32Number DWord)
{
    krmUInt8Number b[4];
    put32(b, DWord);
    if (b[0] > 0x09) b[0] = 0x09;
    krmUInt8Number temp1 = (krmUInt8Number)(b[1] & 0xF0);
    krmUInt8Number temp2 = (krmUInt8Number)(b[1] & 0x0F);
    if (temp1 > 0x90U) temp1 = 0x90U;
    if (temp2 > 0x09U) temp2 = 0x09U;
    b[1] = (krmUInt8Number)(temp1 | temp2);
    b[2] = 0;
    b[3] = 0;
    return be32(b);
}

static krmBool validDeviceClass(krmProfileClassSignature cl)
{
    static const char* const kClasses[] = {"scnr", "mntr", "prtr", "link", "abst", "spac",
                                           "nmcl", "cenc", "mid ", "mlnk", "mvis"};
    if (cl == 0) return true;
    for (const char* c : kClasses) {
        if (cl == (((krmUInt32Number)(krmUInt8Number)c[0] << 24) | ((krmUInt32Number)(krmUInt8Number)c[1] << 16) |
                   ((krmUInt32Number)(krmUInt8Number)c[2] << 8) | (krmUInt32Number)(krmUInt8Number)c[3]))
            return true;
    }
    return false;
}

// Reads and checks the 128-byte header and the tag directory (ICC.1:2010 7.2, 7.3).
static krmBool readHeader(_krmICCPROFILE* Icc)
{
    krmIOHandler* io = Icc->IOhandler;
    krmUInt8Number h[ICC_HEADER_SIZE];

    if (io->Read(io, h, ICC_HEADER_SIZE, 1) != 1) return false;

    if (be32(h + 36) != krmSig("acsp")) {
        krmSignalError(Icc->ContextID, krmErrBadSignature, "not an ICC profile, invalid signature");
        return false;
    }

    krmUInt32Number HeaderSize = be32(h + 0);
    Icc->CMM = be32(h + 4);
    Icc->DeviceClass = be32(h + 12);
    Icc->ColorSpace = be32(h + 16);
    Icc->PCS = be32(h + 20);
    Icc->RenderingIntent = be32(h + 64);
    Icc->platform = be32(h + 40);
    Icc->flags = be32(h + 44);
    Icc->manufacturer = be32(h + 48);
    Icc->model = be32(h + 52);
    Icc->creator = be32(h + 80);
    Icc->attributes = ((krmUInt64Number)be32(h + 56) << 32) | be32(h + 60);

    Icc->Version = validatedVersion(be32(h + 8));
    if (Icc->Version > _krmMaxProfileVersion(Icc->ContextID)) {
        krmSignalError(Icc->ContextID, krmErrUnknownExtension, "Unsupported profile version '0x%x'", Icc->Version);
        return false;
    }
    if (!validDeviceClass(Icc->DeviceClass)) {
        krmSignalError(Icc->ContextID, krmErrUnknownExtension, "Unsupported device class '0x%x'", Icc->DeviceClass);
        return false;
    }

    if (HeaderSize >= io->ReportedSize) HeaderSize = io->ReportedSize;

    krmDateTimeNumber dt;
    dt.year = be16(h + 24);
    dt.month = be16(h + 26);
    dt.day = be16(h + 28);
    dt.hours = be16(h + 30);
    dt.minutes = be16(h + 32);
    dt.seconds = be16(h + 34);
    krmDecodeDateTimeNumber(&dt, &Icc->Created);
    memmove(Icc->ProfileID, h + 84, 16);

    const krmPluginHeader* hook = (const krmPluginHeader*)_krmGetPluginSlot(Icc->ContextID, krmPluginHeaderSig);
    if (hook != nullptr && hook->ReadHook != nullptr) {
        krmUInt32Number pos = io->Tell(io);
        if (!hook->ReadHook((krmProfile)Icc, io)) return false;
        if (!io->Seek(io, pos)) return false;
    }

    krmUInt32Number TagCount;
    if (!krmReadUInt32(io, &TagCount)) return false;
    if (TagCount > krmMAX_TABLE_TAG) {
        krmSignalError(Icc->ContextID, krmErrRange, "Too many tags (%d)", (int)TagCount);
        return false;
    }

    krmBool sizeWarning = false;
    Icc->TagCount = 0;
    for (krmUInt32Number i = 0; i < TagCount; i++) {
        krmUInt32Number sig, offset, size;
        if (!krmReadUInt32(io, &sig)) return false;
        if (!krmReadUInt32(io, &offset)) return false;
        if (!krmReadUInt32(io, &size)) return false;

        if (offset == 0 || size == 0) continue;  // placeholders some writers leave

        if (offset + size < offset || offset + size > HeaderSize) {
            sizeWarning = true;
            continue;
        }

        krmUInt32Number n = Icc->TagCount;
        Icc->TagNames[n] = sig;
        Icc->TagOffsets[n] = offset;
        Icc->TagSizes[n] = size;
        Icc->TagLinked[n] = 0;
        Icc->TagPtrs[n] = nullptr;
        Icc->TagTypeHandlers[n] = nullptr;

        // Entries sharing one block become links when both tags decode it the same way; the
        // last earlier match wins, so a shared block forms a chain.
        for (krmUInt32Number j = 0; j < n; j++) {
            if (Icc->TagOffsets[j] == offset && Icc->TagSizes[j] == size) {
                if (compatibleTypes(_krmGetTagDescriptor(Icc->ContextID, Icc->TagNames[j]),
                                    _krmGetTagDescriptor(Icc->ContextID, sig))) {
                    Icc->TagLinked[n] = Icc->TagNames[j];
                }
            }
        }
        Icc->TagCount++;
    }

    for (krmUInt32Number i = 0; i < Icc->TagCount; i++) {
        for (krmUInt32Number j = 0; j < Icc->TagCount; j++) {
            if (i != j && Icc->TagNames[i] == Icc->TagNames[j]) {
                krmSignalError(Icc->ContextID, krmErrRange, "Duplicate tag found");
                return false;
            }
        }
    }

    if (sizeWarning) {
        krmSignalError(Icc->ContextID, krmErrCorruptionDetected, "'size' field in header seems incorrect.");
    }
    return true;
}

// Writes the header and directory (ICC.1:2010 7.2, 7.3); UsedSpace is the file size.
static krmBool writeHeader(_krmICCPROFILE* Icc, krmUInt32Number UsedSpace)
{
    krmUInt32Number MaxVersion = _krmMaxProfileVersion(Icc->ContextID);
    if (Icc->Version > MaxVersion) {
        krmSignalError(Icc->ContextID, krmErrUnknownExtension, "Unsupported profile version '0x%x'", Icc->Version);
        return false;
    }

    krmUInt8Number h[ICC_HEADER_SIZE];
    memset(h, 0, sizeof(h));
    put32(h + 0, UsedSpace);
    put32(h + 4, Icc->CMM);
    put32(h + 8, Icc->Version);
    put32(h + 12, Icc->DeviceClass);
    put32(h + 16, Icc->ColorSpace);
    put32(h + 20, Icc->PCS);

    krmDateTimeNumber dt;
    krmEncodeDateTimeNumber(&dt, &Icc->Created);
    put16(h + 24, dt.year);
    put16(h + 26, dt.month);
    put16(h + 28, dt.day);
    put16(h + 30, dt.hours);
    put16(h + 32, dt.minutes);
    put16(h + 34, dt.seconds);

    put32(h + 36, krmSig("acsp"));
    put32(h + 40, Icc->platform);
    put32(h + 44, Icc->flags);
    put32(h + 48, Icc->manufacturer);
    put32(h + 52, Icc->model);
    put32(h + 56, (krmUInt32Number)(Icc->attributes >> 32));
    put32(h + 60, (krmUInt32Number)Icc->attributes);
    put32(h + 64, Icc->RenderingIntent);

    // PCS illuminant: D50 as s15Fixed16.
    put32(h + 68, 0x0000F6D6u);
    put32(h + 72, 0x00010000u);
    put32(h + 76, 0x0000D32Du);

    put32(h + 80, Icc->creator);
    memmove(h + 84, Icc->ProfileID, 16);

    krmIOHandler* io = Icc->IOhandler;
    if (!io->Write(io, ICC_HEADER_SIZE, h)) return false;

    const krmPluginHeader* hook = (const krmPluginHeader*)_krmGetPluginSlot(Icc->ContextID, krmPluginHeaderSig);
    if (hook != nullptr && hook->WriteHook != nullptr) {
        krmUInt32Number pos = io->Tell(io);
        if (!hook->WriteHook((krmProfile)Icc, io)) return false;
        if (!io->Seek(io, pos)) return false;
    }

    krmUInt32Number Count = 0;
    for (krmUInt32Number i = 0; i < Icc->TagCount; i++) {
        if (Icc->TagNames[i] != 0) Count++;
    }
    if (!krmWriteUInt32(io, Count)) return false;

    for (krmUInt32Number i = 0; i < Icc->TagCount; i++) {
        if (Icc->TagNames[i] == 0) continue;
        if (!krmWriteUInt32(io, Icc->TagNames[i])) return false;
        if (!krmWriteUInt32(io, Icc->TagOffsets[i])) return false;
        if (!krmWriteUInt32(io, Icc->TagSizes[i])) return false;
    }
    return true;
}

// =============================================================================================
// Opening and closing
// =============================================================================================

krmProfile krmOpenProfileFromFileInContext(krmContext ContextID, const char* lpFileName, const char* sAccess)
{
    _krmAssert(lpFileName != nullptr);
    _krmAssert(sAccess != nullptr);

    _krmICCPROFILE* NewIcc = (_krmICCPROFILE*)krmCreateProfilePlaceholder(ContextID);
    if (NewIcc == nullptr) return nullptr;

    // Upper-case R and W are accepted as the first mode character.
    char mode[8];
    strncpy(mode, sAccess, sizeof(mode) - 1);
    mode[sizeof(mode) - 1] = 0;
    if (mode[0] == 'W') mode[0] = 'w';
    if (mode[0] == 'R') mode[0] = 'r';

    NewIcc->IOhandler = krmOpenIOHandlerFromFile(ContextID, lpFileName, mode);
    if (NewIcc->IOhandler == nullptr) goto Error;

    if (mode[0] == 'w') {
        NewIcc->IsWrite = true;
        return (krmProfile)NewIcc;
    }
    if (!readHeader(NewIcc)) goto Error;
    return (krmProfile)NewIcc;

Error:
    krmCloseProfile((krmProfile)NewIcc);
    return nullptr;
}

krmProfile krmOpenProfileFromFile(const char* ICCProfile, const char* sAccess)
{
    return krmOpenProfileFromFileInContext(nullptr, ICCProfile, sAccess);
}

krmProfile krmOpenProfileFromMemInContext(krmContext ContextID, const void* MemPtr, krmUInt32Number dwSize)
{
    _krmICCPROFILE* NewIcc = (_krmICCPROFILE*)krmCreateProfilePlaceholder(ContextID);
    if (NewIcc == nullptr) return nullptr;

    NewIcc->IOhandler = krmOpenIOHandlerFromMem(ContextID, (void*)MemPtr, dwSize, "r");
    if (NewIcc->IOhandler == nullptr || !readHeader(NewIcc)) {
        krmCloseProfile((krmProfile)NewIcc);
        return nullptr;
    }
    return (krmProfile)NewIcc;
}

krmProfile krmOpenProfileFromMem(const void* MemPtr, krmUInt32Number dwSize)
{
    return krmOpenProfileFromMemInContext(nullptr, MemPtr, dwSize);
}

krmProfile krmOpenProfileFromStreamInContext(krmContext ContextID, FILE* ICCProfile, const char* sAccess)
{
    _krmAssert(sAccess != nullptr);

    // The profile owns the stream from this call on; closing its handler closes the stream, so
    // a failure before the handler exists closes it too, and the caller never has to guess.
    _krmICCPROFILE* NewIcc = (_krmICCPROFILE*)krmCreateProfilePlaceholder(ContextID);
    if (NewIcc == nullptr) {
        fclose(ICCProfile);
        return nullptr;
    }

    NewIcc->IOhandler = krmOpenIOHandlerFromStream(ContextID, ICCProfile);
    if (NewIcc->IOhandler == nullptr) {
        fclose(ICCProfile);
        goto Error;
    }

    if (*sAccess == 'w' || *sAccess == 'W') {
        NewIcc->IsWrite = true;
        return (krmProfile)NewIcc;
    }
    if (!readHeader(NewIcc)) goto Error;
    return (krmProfile)NewIcc;

Error:
    krmCloseProfile((krmProfile)NewIcc);
    return nullptr;
}

krmProfile krmOpenProfileFromStream(FILE* ICCProfile, const char* sAccess)
{
    return krmOpenProfileFromStreamInContext(nullptr, ICCProfile, sAccess);
}

krmBool krmCloseProfile(krmProfile hProfile)
{
    _krmICCPROFILE* Icc = (_krmICCPROFILE*)hProfile;
    if (Icc == nullptr) return false;

    krmBool rc = true;

    // A profile opened for writing is saved now, through the stream it was opened with: a
    // stdio stream has no name, and a stored name may have been cut to 255 characters.
    krmBool removeOnFailure = false;
    if (Icc->IsWrite && Icc->IOhandler != nullptr) {
        Icc->IsWrite = false;
        rc &= krmSaveProfileToIOHandler(hProfile, Icc->IOhandler) != 0;
        const char* name = Icc->IOhandler->PhysicalFile;
        removeOnFailure = !rc && name[0] != 0 && strlen(name) < krmMAX_PATH - 1;
    }

    for (krmUInt32Number i = 0; i < Icc->TagCount && i < krmMAX_TABLE_TAG; i++) freeTagObject(Icc, (int)i);

    if (Icc->IOhandler != nullptr) {
        char name[krmMAX_PATH];
        memcpy(name, Icc->IOhandler->PhysicalFile, krmMAX_PATH);
        rc &= krmCloseIOHandler(Icc->IOhandler);
        if (removeOnFailure) remove(name);  // leave no half-written file
    }

    krmDestroyMutex(Icc->ContextID, Icc->UsrMutex);
    krmFree(Icc->ContextID, Icc);
    return rc;
}

// =============================================================================================
// Saving
// =============================================================================================

// Points each linked entry at the data of the entry it links to.
static void setLinkedTags(_krmICCPROFILE* Icc)
{
    for (krmUInt32Number i = 0; i < Icc->TagCount; i++) {
        krmTagSignature lnk = Icc->TagLinked[i];
        if (lnk == 0 || Icc->TagNames[i] == 0) continue;
        // Follow the chain to the entry that holds the data, whatever the directory order.
        int j = _krmSearchTag(Icc, lnk, true);
        if (j >= 0) {
            Icc->TagOffsets[i] = Icc->TagOffsets[j];
            Icc->TagSizes[i] = Icc->TagSizes[j];
        } else {
            // A link to nothing carries no data.
            Icc->TagOffsets[i] = 0;
            Icc->TagSizes[i] = 0;
        }
    }
}

// Copies an entry's stored bytes from the profile as it was before saving; nothing when that
// profile had no stream or no data for the entry.
static krmBool copyStoredTag(_krmICCPROFILE* Icc, _krmICCPROFILE* FileOrig, krmUInt32Number i)
{
    krmIOHandler* io = Icc->IOhandler;
    krmUInt32Number Begin = Icc->TagOffsets[i];
    krmUInt32Number TagSize = FileOrig->TagSizes[i];

    Icc->TagSizes[i] = 0;
    if (FileOrig->IOhandler != nullptr && TagSize > 0) {
        if (!FileOrig->IOhandler->Seek(FileOrig->IOhandler, FileOrig->TagOffsets[i])) return false;

        void* Mem = krmMalloc(Icc->ContextID, TagSize);
        if (Mem == nullptr) return false;
        if (FileOrig->IOhandler->Read(FileOrig->IOhandler, Mem, TagSize, 1) != 1 || !io->Write(io, TagSize, Mem)) {
            krmFree(Icc->ContextID, Mem);
            return false;
        }
        krmFree(Icc->ContextID, Mem);

        Icc->TagSizes[i] = io->UsedSpace - Begin;
        if (!krmWriteAlignment(io)) return false;
    }
    if (Icc->TagSizes[i] == 0) Icc->TagOffsets[i] = 0;
    return true;
}

// Writes every tag with data of its own; FileOrig is the profile as it was before saving.
static krmBool saveTags(_krmICCPROFILE* Icc, _krmICCPROFILE* FileOrig)
{
    krmIOHandler* io = Icc->IOhandler;
    krmFloat64Number Version = krmGetProfileVersion((krmProfile)Icc);

    for (krmUInt32Number i = 0; i < Icc->TagCount; i++) {
        if (Icc->TagNames[i] == 0) continue;
        if (Icc->TagLinked[i] != 0) continue;

        krmUInt32Number Begin = Icc->TagOffsets[i] = io->UsedSpace;
        void* Data = Icc->TagPtrs[i];

        // Never decoded: copy the stored bytes verbatim.
        if (Data == nullptr) {
            if (!copyStoredTag(Icc, FileOrig, i)) return false;
            continue;
        }

        // Permissive reading decodes tags whose type their descriptor does not list (or that
        // have no descriptor). Such an object is read-only and no writer chosen by the
        // descriptor can hold it: keep its stored bytes.
        const krmTagDescriptor* TagDescriptor = _krmGetTagDescriptor(Icc->ContextID, Icc->TagNames[i]);
        const krmTagTypeHandler* Decoder = Icc->TagTypeHandlers[i];
        krmBool describable = TagDescriptor != nullptr &&
                              (Decoder == nullptr || _krmIsTypeSupported(TagDescriptor, Decoder->Signature));
        if (!describable && FileOrig->IOhandler != nullptr && FileOrig->TagSizes[i] > 0) {
            if (!copyStoredTag(Icc, FileOrig, i)) return false;
            continue;
        }
        if (TagDescriptor == nullptr) {
            // No way to encode it: the directory records no data for this entry.
            Icc->TagOffsets[i] = 0;
            Icc->TagSizes[i] = 0;
            continue;
        }

        krmTagTypeSignature Type = _krmDecideTagType(TagDescriptor, Version, Data);
        const krmTagTypeHandler* TypeHandler = _krmGetTagTypeHandler(Icc->ContextID, Type);
        if (TypeHandler == nullptr || TypeHandler->WritePtr == nullptr) {
            krmSignalError(Icc->ContextID, krmErrInternal, "(Internal) no handler for tag %x", Icc->TagNames[i]);
            Icc->TagOffsets[i] = 0;
            Icc->TagSizes[i] = 0;
            continue;
        }

        if (!krmWriteTypeBase(io, TypeHandler->Signature)) return false;

        // An object read permissively may hold fewer elements than the descriptor asks for.
        krmUInt32Number nItems = TagDescriptor->ElemCount;
        if (Icc->TagElemCount[i] < nItems) nItems = Icc->TagElemCount[i];

        krmTagTypeHandler LocalTypeHandler = *TypeHandler;
        LocalTypeHandler.ContextID = Icc->ContextID;
        LocalTypeHandler.ICCVersion = Icc->Version;
        if (!LocalTypeHandler.WritePtr(&LocalTypeHandler, io, Data, nItems)) {
            char String[5];
            sigToString(String, TypeHandler->Signature);
            krmSignalError(Icc->ContextID, krmErrWrite, "Couldn't write type '%s'", String);
            return false;
        }

        Icc->TagSizes[i] = io->UsedSpace - Begin;
        if (!krmWriteAlignment(io)) return false;
    }
    return true;
}

krmUInt32Number krmSaveProfileToIOHandler(krmProfile hProfile, krmIOHandler* io)
{
    _krmICCPROFILE* Icc = (_krmICCPROFILE*)hProfile;
    _krmAssert(Icc != nullptr);

    if (!krmLockMutex(Icc->ContextID, Icc->UsrMutex)) return 0;

    // The record is restored afterwards, on success and on failure.
    _krmICCPROFILE* Keep = (_krmICCPROFILE*)krmDupMem(Icc->ContextID, Icc, sizeof(_krmICCPROFILE));
    if (Keep == nullptr) {
        krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
        return 0;
    }

    krmUInt32Number UsedSpace = 0;
    krmIOHandler* PrevIO = Icc->IOhandler = krmOpenIOHandlerFromNull(Icc->ContextID);
    if (PrevIO == nullptr) goto Error;

    // Pass 1: sizes and offsets only.
    if (!writeHeader(Icc, 0)) goto Error;
    if (!saveTags(Icc, Keep)) goto Error;
    UsedSpace = PrevIO->UsedSpace;

    // Pass 2: the real thing, with the directory computed above.
    if (io != nullptr) {
        Icc->IOhandler = io;
        setLinkedTags(Icc);
        if (!writeHeader(Icc, UsedSpace)) goto Error;
        if (!saveTags(Icc, Keep)) goto Error;
    }

    memmove(Icc, Keep, sizeof(_krmICCPROFILE));
    krmFree(Icc->ContextID, Keep);
    if (!krmCloseIOHandler(PrevIO)) UsedSpace = 0;
    krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
    return UsedSpace;

Error:
    if (PrevIO != nullptr) krmCloseIOHandler(PrevIO);
    memmove(Icc, Keep, sizeof(_krmICCPROFILE));
    krmFree(Icc->ContextID, Keep);
    krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
    return 0;
}

krmBool krmSaveProfileToFile(krmProfile hProfile, const char* FileName)
{
    krmContext ContextID = krmGetProfileContext(hProfile);

    // Encode into memory first: the file may be the one the profile's unread tags come from,
    // and opening it for writing truncates it.
    krmUInt32Number size = 0;
    if (!krmSaveProfileToMem(hProfile, nullptr, &size)) return false;
    void* block = krmMalloc(ContextID, size);
    if (block == nullptr) return false;
    if (!krmSaveProfileToMem(hProfile, block, &size)) {
        krmFree(ContextID, block);
        return false;
    }

    krmIOHandler* io = krmOpenIOHandlerFromFile(ContextID, FileName, "w");
    if (io == nullptr) {
        krmFree(ContextID, block);
        return false;
    }
    krmBool rc = io->Write(io, size, block);
    rc &= krmCloseIOHandler(io);
    krmFree(ContextID, block);
    if (!rc) remove(FileName);  // leave no half-written file
    return rc;
}

krmBool krmSaveProfileToMem(krmProfile hProfile, void* MemPtr, krmUInt32Number* BytesNeeded)
{
    _krmAssert(BytesNeeded != nullptr);
    krmContext ContextID = krmGetProfileContext(hProfile);

    if (MemPtr == nullptr) {
        *BytesNeeded = krmSaveProfileToIOHandler(hProfile, nullptr);
        return *BytesNeeded != 0;
    }

    krmIOHandler* io = krmOpenIOHandlerFromMem(ContextID, MemPtr, *BytesNeeded, "w");
    if (io == nullptr) return false;

    krmUInt32Number Written = krmSaveProfileToIOHandler(hProfile, io);
    krmBool rc = Written != 0;
    rc &= krmCloseIOHandler(io);

    // A block too small holds a cut profile: that is not a successful save.
    if (Written > *BytesNeeded) rc = false;
    return rc;
}

// =============================================================================================
// Header accessors
// =============================================================================================

static inline _krmICCPROFILE* ICC(krmProfile h)
{
    _krmAssert(h != nullptr);
    return (_krmICCPROFILE*)h;
}

krmProfileClassSignature krmGetProfileClass(krmProfile hProfile) { return ICC(hProfile)->DeviceClass; }
void krmSetProfileClass(krmProfile hProfile, krmProfileClassSignature sig) { ICC(hProfile)->DeviceClass = sig; }
krmColorSpaceSignature krmGetProfileColorSpace(krmProfile hProfile) { return ICC(hProfile)->ColorSpace; }
void krmSetProfileColorSpace(krmProfile hProfile, krmColorSpaceSignature sig) { ICC(hProfile)->ColorSpace = sig; }
krmColorSpaceSignature krmGetProfilePCS(krmProfile hProfile) { return ICC(hProfile)->PCS; }
void krmSetProfilePCS(krmProfile hProfile, krmColorSpaceSignature pcs) { ICC(hProfile)->PCS = pcs; }
krmUInt32Number krmGetProfileIntent(krmProfile hProfile) { return ICC(hProfile)->RenderingIntent; }
void krmSetProfileIntent(krmProfile hProfile, krmUInt32Number Intent) { ICC(hProfile)->RenderingIntent = Intent; }
krmUInt32Number krmGetProfileVersionRaw(krmProfile hProfile) { return ICC(hProfile)->Version; }
krmUInt64Number krmGetProfileAttributes(krmProfile hProfile) { return ICC(hProfile)->attributes; }
void krmSetProfileAttributes(krmProfile hProfile, krmUInt64Number Flags) { ICC(hProfile)->attributes = Flags; }
krmUInt32Number krmGetProfileModel(krmProfile hProfile) { return ICC(hProfile)->model; }
void krmSetProfileModel(krmProfile hProfile, krmUInt32Number model) { ICC(hProfile)->model = model; }
krmUInt32Number krmGetProfileManufacturer(krmProfile hProfile) { return ICC(hProfile)->manufacturer; }
void krmSetProfileManufacturer(krmProfile hProfile, krmUInt32Number m) { ICC(hProfile)->manufacturer = m; }
krmUInt32Number krmGetProfileFlags(krmProfile hProfile) { return ICC(hProfile)->flags; }
void krmSetProfileFlags(krmProfile hProfile, krmUInt32Number Flags) { ICC(hProfile)->flags = Flags; }
krmUInt32Number krmGetProfileCreator(krmProfile hProfile) { return ICC(hProfile)->creator; }
krmUInt32Number krmGetProfileCMM(krmProfile hProfile) { return ICC(hProfile)->CMM; }
krmPlatformSignature krmGetProfilePlatform(krmProfile hProfile) { return ICC(hProfile)->platform; }

void krmGetProfileID(krmProfile hProfile, krmUInt8Number* ProfileID)
{
    _krmAssert(ProfileID != nullptr);
    memmove(ProfileID, ICC(hProfile)->ProfileID, 16);
}

void krmSetProfileID(krmProfile hProfile, const krmUInt8Number* ProfileID)
{
    _krmAssert(ProfileID != nullptr);
    memmove(ICC(hProfile)->ProfileID, ProfileID, 16);
}

krmBool krmGetProfileCreationDateTime(krmProfile hProfile, struct tm* Dest)
{
    if (hProfile == nullptr || Dest == nullptr) return false;
    *Dest = ICC(hProfile)->Created;
    return true;
}

// Reads the digits of 'in' in one base as digits of another (0x0430 <-> 430).
static krmUInt32Number baseToBase(krmUInt32Number in, int BaseIn, int BaseOut)
{
    char Buff[100];
    int len = 0;
    while (in > 0 && len < 100) {
        Buff[len++] = (char)(in % (krmUInt32Number)BaseIn);
        in /= (krmUInt32Number)BaseIn;
    }
    krmUInt32Number out = 0;
    for (int i = len - 1; i >= 0; --i) out = out * (krmUInt32Number)BaseOut + (krmUInt32Number)Buff[i];
    return out;
}

krmFloat64Number krmGetProfileVersion(krmProfile hProfile)
{
    krmUInt32Number n = ICC(hProfile)->Version >> 16;
    return baseToBase(n, 16, 10) / 100.0;
}

void krmSetProfileVersion(krmProfile hProfile, krmFloat64Number Version)
{
    // 4.3 -> 430 -> 0x0430 -> 0x04300000
    double r = floor(Version * 100.0 + 0.5);
    if (r < 0) r = 0;
    if (r > 9999) r = 9999;
    ICC(hProfile)->Version = baseToBase((krmUInt32Number)r, 10, 16) << 16;
}

// =============================================================================================
// Directory
// =============================================================================================

krmInt32Number krmGetTagCount(krmProfile hProfile)
{
    if (hProfile == nullptr) return -1;
    return (krmInt32Number)ICC(hProfile)->TagCount;
}

krmTagSignature krmGetTagSignature(krmProfile hProfile, krmUInt32Number n)
{
    _krmICCPROFILE* Icc = (_krmICCPROFILE*)hProfile;
    if (Icc == nullptr || n >= Icc->TagCount || n >= krmMAX_TABLE_TAG) return 0;
    return Icc->TagNames[n];
}

krmBool krmGetTagOffsetAndSize(krmProfile hProfile, krmUInt32Number n, krmUInt32Number* Offset, krmUInt32Number* Size)
{
    _krmICCPROFILE* Icc = (_krmICCPROFILE*)hProfile;
    if (Icc == nullptr || n >= Icc->TagCount || n >= krmMAX_TABLE_TAG) return false;
    if (Offset) *Offset = Icc->TagOffsets[n];
    if (Size) *Size = Icc->TagSizes[n];
    return true;
}

krmBool krmIsTag(krmProfile hProfile, krmTagSignature sig)
{
    if (hProfile == nullptr) return false;
    return _krmSearchTag(ICC(hProfile), sig, false) >= 0;
}

krmTagSignature krmTagLinkedTo(krmProfile hProfile, krmTagSignature sig)
{
    if (hProfile == nullptr) return 0;
    int n = _krmSearchTag(ICC(hProfile), sig, false);
    if (n < 0) return 0;
    return ICC(hProfile)->TagLinked[n];
}

krmTagTypeSignature krmGetTagStoredType(krmProfile hProfile, krmTagSignature sig)
{
    _krmICCPROFILE* Icc = (_krmICCPROFILE*)hProfile;
    if (Icc == nullptr) return 0;
    if (!krmLockMutex(Icc->ContextID, Icc->UsrMutex)) return 0;
    int n = _krmSearchTag(Icc, sig, true);
    krmTagTypeSignature t = 0;
    if (n >= 0 && Icc->TagTypeHandlers[n] != nullptr) t = Icc->TagTypeHandlers[n]->Signature;
    krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
    return t;
}

void* _krmReadTagAsDescribed(krmProfile hProfile, krmTagSignature sig)
{
    void* Obj = krmReadTag(hProfile, sig);
    if (Obj == nullptr) return nullptr;
    _krmICCPROFILE* Icc = (_krmICCPROFILE*)hProfile;
    const krmTagDescriptor* TagDescriptor = _krmGetTagDescriptor(Icc->ContextID, sig);
    if (TagDescriptor == nullptr) return nullptr;
    if (!krmLockMutex(Icc->ContextID, Icc->UsrMutex)) return nullptr;
    const int n = _krmSearchTag(Icc, sig, true);
    const bool ok = n >= 0 && Icc->TagPtrs[n] == Obj && Icc->TagTypeHandlers[n] != nullptr &&
                    _krmIsTypeSupported(TagDescriptor, Icc->TagTypeHandlers[n]->Signature) &&
                    Icc->TagElemCount[n] >= TagDescriptor->ElemCount;
    krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
    return ok ? Obj : nullptr;
}

krmBool krmIsMatrixShaper(krmProfile hProfile)
{
    if (hProfile == nullptr) return false;
    switch (krmGetProfileColorSpace(hProfile)) {
    case krmSig("GRAY"):
        return krmIsTag(hProfile, krmSig("kTRC"));
    case krmSig("RGB "):
        return krmIsTag(hProfile, krmSig("rXYZ")) && krmIsTag(hProfile, krmSig("gXYZ")) &&
               krmIsTag(hProfile, krmSig("bXYZ")) && krmIsTag(hProfile, krmSig("rTRC")) &&
               krmIsTag(hProfile, krmSig("gTRC")) && krmIsTag(hProfile, krmSig("bTRC"));
    default:
        return false;
    }
}

// =============================================================================================
// Reading, writing and linking tags
// =============================================================================================

void* krmReadTag(krmProfile hProfile, krmTagSignature sig)
{
    _krmICCPROFILE* Icc = ICC(hProfile);
    _krmAssert(Icc != nullptr);

    char String[5];
    krmUInt32Number ElemCount = 0;
    const krmTagDescriptor* TagDescriptor = nullptr;

    if (!krmLockMutex(Icc->ContextID, Icc->UsrMutex)) return nullptr;

    int n = _krmSearchTag(Icc, sig, true);
    if (n < 0) {
        krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
        return nullptr;
    }

    krmBool permissive = _krmIsPermissiveReading(Icc->ContextID);

    // Already decoded: shared with every earlier caller, so a mismatch must not free it.
    if (Icc->TagPtrs[n] != nullptr) {
        void* Ptr = Icc->TagPtrs[n];
        const krmTagTypeHandler* Handler = Icc->TagTypeHandlers[n];
        krmBool ok = Handler != nullptr && Handler->Signature != 0;
        if (ok && !permissive) {
            TagDescriptor = _krmGetTagDescriptor(Icc->ContextID, sig);
            ok = TagDescriptor != nullptr && _krmIsTypeSupported(TagDescriptor, Handler->Signature);
        }
        krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
        return ok ? Ptr : nullptr;
    }

    {
        krmUInt32Number TagOffset = Icc->TagOffsets[n];
        krmUInt32Number TagSize = Icc->TagSizes[n];
        if (TagSize < 8) goto Error;

        krmIOHandler* io = Icc->IOhandler;
        if (io == nullptr) {
            krmSignalError(Icc->ContextID, krmErrCorruptionDetected, "Corrupted built-in profile.");
            goto Error;
        }
        if (!io->Seek(io, TagOffset)) goto Error;

        if (!permissive) {
            TagDescriptor = _krmGetTagDescriptor(Icc->ContextID, sig);
            if (TagDescriptor == nullptr) {
                sigToString(String, sig);
                krmSignalError(Icc->ContextID, krmErrUnknownExtension, "Unknown tag signature '%s' found.", String);
                goto Error;
            }
        }

        krmTagTypeSignature BaseType = krmReadTypeBase(io);
        if (BaseType == 0) goto Error;
        if (!permissive && !_krmIsTypeSupported(TagDescriptor, BaseType)) goto Error;

        const krmTagTypeHandler* TypeHandler = _krmGetTagTypeHandler(Icc->ContextID, BaseType);
        if (TypeHandler == nullptr || TypeHandler->ReadPtr == nullptr) goto Error;

        TagSize -= 8;
        Icc->TagTypeHandlers[n] = TypeHandler;

        krmTagTypeHandler LocalTypeHandler = *TypeHandler;
        LocalTypeHandler.ContextID = Icc->ContextID;
        LocalTypeHandler.ICCVersion = Icc->Version;
        Icc->TagPtrs[n] = LocalTypeHandler.ReadPtr(&LocalTypeHandler, io, &ElemCount, TagSize);
        Icc->TagElemCount[n] = ElemCount;

        if (Icc->TagPtrs[n] == nullptr) {
            sigToString(String, sig);
            krmSignalError(Icc->ContextID, krmErrCorruptionDetected, "Corrupted tag '%s'", String);
            goto Error;
        }

        if (!permissive && ElemCount < TagDescriptor->ElemCount) {
            sigToString(String, sig);
            krmSignalError(Icc->ContextID, krmErrCorruptionDetected,
                           "'%s' Inconsistent number of items: expected %d, got %d", String,
                           (int)TagDescriptor->ElemCount, (int)ElemCount);
            goto Error;
        }

        krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
        return Icc->TagPtrs[n];
    }

Error:
    // The entry stays; a later read tries again.
    freeTagObject(Icc, n);
    krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
    return nullptr;
}

krmBool krmWriteTag(krmProfile hProfile, krmTagSignature sig, const void* data)
{
    _krmICCPROFILE* Icc = ICC(hProfile);
    _krmAssert(Icc != nullptr);

    char TypeString[5], SigString[5];
    int i;

    if (!krmLockMutex(Icc->ContextID, Icc->UsrMutex)) return false;

    if (data == nullptr) {
        // Deleting keeps the slot as an empty placeholder.
        i = _krmSearchTag(Icc, sig, false);
        if (i >= 0) {
            freeTagObject(Icc, i);
            Icc->TagNames[i] = 0;
            Icc->TagLinked[i] = 0;
            krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
            return true;
        }
        krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
        return false;
    }

    i = _krmSearchTag(Icc, sig, false);
    if (i >= 0) {
        freeTagObject(Icc, i);
    } else if (!_krmNewTag(Icc, 0, &i)) {
        krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
        return false;
    }

    Icc->TagLinked[i] = 0;

    {
        const krmTagDescriptor* TagDescriptor = _krmGetTagDescriptor(Icc->ContextID, sig);
        if (TagDescriptor == nullptr) {
            krmSignalError(Icc->ContextID, krmErrUnknownExtension, "Unsupported tag '%x'", sig);
            goto Error;
        }

        krmFloat64Number Version = krmGetProfileVersion(hProfile);
        krmTagTypeSignature Type = _krmDecideTagType(TagDescriptor, Version, data);

        const krmTagTypeHandler* TypeHandler =
            _krmIsTypeSupported(TagDescriptor, Type) ? _krmGetTagTypeHandler(Icc->ContextID, Type) : nullptr;
        if (TypeHandler == nullptr || TypeHandler->DupPtr == nullptr) {
            sigToString(TypeString, Type);
            sigToString(SigString, sig);
            krmSignalError(Icc->ContextID, krmErrUnknownExtension, "Unsupported type '%s' for tag '%s'", TypeString,
                           SigString);
            goto Error;
        }

        Icc->TagTypeHandlers[i] = TypeHandler;
        Icc->TagNames[i] = sig;
        Icc->TagSizes[i] = 0;
        Icc->TagOffsets[i] = 0;

        krmTagTypeHandler LocalTypeHandler = *TypeHandler;
        LocalTypeHandler.ContextID = Icc->ContextID;
        LocalTypeHandler.ICCVersion = Icc->Version;
        Icc->TagPtrs[i] = LocalTypeHandler.DupPtr(&LocalTypeHandler, data, TagDescriptor->ElemCount);
        Icc->TagElemCount[i] = TagDescriptor->ElemCount;

        if (Icc->TagPtrs[i] == nullptr) {
            sigToString(TypeString, TypeHandler->Signature);
            sigToString(SigString, sig);
            krmSignalError(Icc->ContextID, krmErrCorruptionDetected, "Malformed struct in type '%s' for tag '%s'",
                           TypeString, SigString);
            goto Error;
        }
    }

    krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
    return true;

Error:
    krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
    return false;
}

krmBool krmLinkTag(krmProfile hProfile, krmTagSignature sig, krmTagSignature dest)
{
    _krmICCPROFILE* Icc = ICC(hProfile);
    _krmAssert(Icc != nullptr);

    if (!krmLockMutex(Icc->ContextID, Icc->UsrMutex)) return false;

    int i = _krmSearchTag(Icc, sig, false);
    if (i >= 0) {
        freeTagObject(Icc, i);
    } else if (!_krmNewTag(Icc, sig, &i)) {
        krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
        return false;
    }

    Icc->TagNames[i] = sig;
    Icc->TagLinked[i] = dest;
    Icc->TagPtrs[i] = nullptr;
    Icc->TagTypeHandlers[i] = nullptr;
    Icc->TagSizes[i] = 0;
    Icc->TagOffsets[i] = 0;
    Icc->TagElemCount[i] = 0;

    krmUnlockMutex(Icc->ContextID, Icc->UsrMutex);
    return true;
}

// =============================================================================================
// XYZ numbers
// =============================================================================================

krmBool krmReadXYZ(krmIOHandler* io, krmCIEXYZ* XYZ)
{
    krmFloat64Number X, Y, Z;
    if (!krmRead15Fixed16(io, &X) || !krmRead15Fixed16(io, &Y) || !krmRead15Fixed16(io, &Z)) return false;
    if (XYZ != nullptr) {
        XYZ->X = X;
        XYZ->Y = Y;
        XYZ->Z = Z;
    }
    return true;
}

krmBool krmWriteXYZ(krmIOHandler* io, const krmCIEXYZ* XYZ)
{
    _krmAssert(XYZ != nullptr);
    return krmWrite15Fixed16(io, XYZ->X) && krmWrite15Fixed16(io, XYZ->Y) && krmWrite15Fixed16(io, XYZ->Z);
}
