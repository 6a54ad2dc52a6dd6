// Corvane colour engine: the public interface.
//
// Plain records, constants and krm... free functions; no Qt. Objects belong to a krmContext
// (null means the process-wide global context). Constructors return null and predicates
// false on failure; the reason goes to the context's error handler with a numeric code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

// ---------------------------------------------------------------------------------------------
// Basic numbers and signatures
// ---------------------------------------------------------------------------------------------

#define KRM_VERSION 2200

typedef uint8_t krmUInt8Number;
typedef uint16_t krmUInt16Number;
typedef uint32_t krmUInt32Number;
typedef uint64_t krmUInt64Number;
typedef int32_t krmInt32Number;
typedef float krmFloat32Number;
typedef double krmFloat64Number;
typedef int32_t krmS15Fixed16Number;
typedef uint16_t krmU8Fixed8Number;
typedef int krmBool;

typedef krmUInt32Number krmSignature;
typedef krmUInt32Number krmTagSignature;
typedef krmUInt32Number krmTagTypeSignature;
typedef krmUInt32Number krmColorSpaceSignature;
typedef krmUInt32Number krmProfileClassSignature;
typedef krmUInt32Number krmPlatformSignature;
typedef krmUInt32Number krmStageSignature;

// A four-character ICC signature as its 32-bit value, most significant byte first.
constexpr krmUInt32Number krmSig(const char (&s)[5])
{
    return (krmUInt32Number(krmUInt8Number(s[0])) << 24) | (krmUInt32Number(krmUInt8Number(s[1])) << 16) |
           (krmUInt32Number(krmUInt8Number(s[2])) << 8) | krmUInt32Number(krmUInt8Number(s[3]));
}

#define krmMAX_PATH 256

// ---------------------------------------------------------------------------------------------
// Context, errors, memory, plug-ins and mutexes
// ---------------------------------------------------------------------------------------------

typedef struct _krmContext_struct* krmContext;

// Error codes handed to the error handler; the conformance check grades findings by them.
enum {
    krmErrUndefined = 0,
    krmErrFile = 1,
    krmErrRange = 2,
    krmErrInternal = 3,
    krmErrNull = 4,
    krmErrRead = 5,
    krmErrSeek = 6,
    krmErrWrite = 7,
    krmErrUnknownExtension = 8,
    krmErrColorSpaceCheck = 9,
    krmErrAlreadyDefined = 10,
    krmErrBadSignature = 11,
    krmErrCorruptionDetected = 12,
    krmErrNotSuitable = 13,
};

typedef void (*krmLogErrorHandlerFunction)(krmContext ContextID, krmUInt32Number ErrorCode, const char* Text);

krmContext krmCreateContext(void* Plugin, void* UserData);
void krmDeleteContext(krmContext ContextID);
void* krmGetContextUserData(krmContext ContextID);
krmBool krmRegisterPlugin(void* Plugin);
krmBool krmRegisterPluginInContext(krmContext ContextID, void* Plugin);

void krmSetLogErrorHandler(krmLogErrorHandlerFunction Fn);
void krmSetLogErrorHandlerInContext(krmContext ContextID, krmLogErrorHandlerFunction Fn);
void krmSignalError(krmContext ContextID, krmUInt32Number ErrorCode, const char* ErrorText, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

void* krmMalloc(krmContext ContextID, krmUInt32Number size);
void* krmMallocZero(krmContext ContextID, krmUInt32Number size);
void* krmCalloc(krmContext ContextID, krmUInt32Number num, krmUInt32Number size);
void* krmRealloc(krmContext ContextID, void* Ptr, krmUInt32Number NewSize);
void krmFree(krmContext ContextID, void* Ptr);
void* krmDupMem(krmContext ContextID, const void* Org, krmUInt32Number size);
void* krmPluginMalloc(krmContext ContextID, krmUInt32Number size);

void* krmCreateMutex(krmContext ContextID);
void krmDestroyMutex(krmContext ContextID, void* mtx);
krmBool krmLockMutex(krmContext ContextID, void* mtx);
void krmUnlockMutex(krmContext ContextID, void* mtx);

// Plug-in records. Every record starts with a krmPluginBase.
#define krmPluginMagicNumber 0x61637070u  // 'acpp'
#define krmPluginMemHandlerSig 0x6D656D48u  // 'memH'
#define krmPluginInterpolationSig 0x696E7048u  // 'inpH'
#define krmPluginParametricCurveSig 0x70617248u  // 'parH'
#define krmPluginFormattersSig 0x66726D48u  // 'frmH'
#define krmPluginTagTypeSig 0x74797048u  // 'typH'
#define krmPluginTagSig 0x74616748u  // 'tagH'
#define krmPluginRenderingIntentSig 0x696E7448u  // 'intH'
#define krmPluginMultiProcessElementSig 0x6D706548u  // 'mpeH'
#define krmPluginOptimizationSig 0x6F707448u  // 'optH'
#define krmPluginTransformSig 0x7A666D48u  // 'zfmH'
#define krmPluginMutexSig 0x6D747A48u  // 'mtzH'
#define krmPluginParalellizationSig 0x70726C48u  // 'prlH'
#define krmPluginHeaderSig 0x68647248u  // 'hdrH'

typedef struct _krmPluginBase_struct {
    krmUInt32Number Magic;
    krmUInt32Number ExpectedVersion;
    krmUInt32Number Type;
    struct _krmPluginBase_struct* Next;
} krmPluginBase;

// 'memH': malloc, free and realloc are required; the others default to routines built on malloc.
typedef void* (*krmMallocFnPtr)(krmContext ContextID, krmUInt32Number size);
typedef void (*krmFreeFnPtr)(krmContext ContextID, void* Ptr);
typedef void* (*krmReallocFnPtr)(krmContext ContextID, void* Ptr, krmUInt32Number NewSize);
typedef void* (*krmCallocFnPtr)(krmContext ContextID, krmUInt32Number num, krmUInt32Number size);
typedef void* (*krmDupFnPtr)(krmContext ContextID, const void* Org, krmUInt32Number size);

typedef struct {
    krmPluginBase base;
    krmMallocFnPtr MallocPtr;
    krmFreeFnPtr FreePtr;
    krmReallocFnPtr ReallocPtr;
    krmMallocFnPtr MallocZeroPtr;
    krmCallocFnPtr CallocPtr;
    krmDupFnPtr DupPtr;
} krmPluginMemHandler;

// 'mtzH': all four routines are required.
typedef void* (*krmCreateMutexFnPtr)(krmContext ContextID);
typedef void (*krmDestroyMutexFnPtr)(krmContext ContextID, void* mtx);
typedef krmBool (*krmLockMutexFnPtr)(krmContext ContextID, void* mtx);
typedef void (*krmUnlockMutexFnPtr)(krmContext ContextID, void* mtx);

typedef struct {
    krmPluginBase base;
    krmCreateMutexFnPtr CreateMutexPtr;
    krmDestroyMutexFnPtr DestroyMutexPtr;
    krmLockMutexFnPtr LockMutexPtr;
    krmUnlockMutexFnPtr UnlockMutexPtr;
} krmPluginMutex;

// 'prlH': parallel worker settings; the scheduler is required. The engine keeps the record only.
typedef void (*krmParallelSchedulerFnPtr)(void* Transform, const void* InputBuffer, void* OutputBuffer,
                                          krmUInt32Number PixelsPerLine, krmUInt32Number LineCount,
                                          const void* Stride);

typedef struct {
    krmPluginBase base;
    krmInt32Number MaxWorkers;
    krmUInt32Number WorkerFlags;
    krmParallelSchedulerFnPtr SchedulerFn;
} krmPluginParalellization;

// Profiles and byte streams (records in the CONTEXT-AND-CONTAINER section).
typedef struct _krmProfile_struct* krmProfile;
typedef struct _krmIOHandler_struct krmIOHandler;

// ==== CONTEXT-AND-CONTAINER (context records, I/O handlers, profile container) ====

// A byte stream over a file, a memory block, a standard I/O stream or nothing. Read returns the
// count of blocks read (0 on failure); every routine reports its own errors.
struct _krmIOHandler_struct {
    void* stream;
    krmContext ContextID;
    krmUInt32Number UsedSpace;
    krmUInt32Number ReportedSize;
    char PhysicalFile[krmMAX_PATH];

    krmUInt32Number (*Read)(krmIOHandler* iohandler, void* Buffer, krmUInt32Number size, krmUInt32Number count);
    krmBool (*Seek)(krmIOHandler* iohandler, krmUInt32Number offset);
    krmBool (*Close)(krmIOHandler* iohandler);
    krmUInt32Number (*Tell)(krmIOHandler* iohandler);
    krmBool (*Write)(krmIOHandler* iohandler, krmUInt32Number size, const void* Buffer);
};

krmIOHandler* krmOpenIOHandlerFromFile(krmContext ContextID, const char* FileName, const char* AccessMode);
krmIOHandler* krmOpenIOHandlerFromMem(krmContext ContextID, void* Buffer, krmUInt32Number size, const char* AccessMode);
krmIOHandler* krmOpenIOHandlerFromNull(krmContext ContextID);
krmIOHandler* krmOpenIOHandlerFromStream(krmContext ContextID, FILE* Stream);
krmBool krmCloseIOHandler(krmIOHandler* io);

// Big-endian number primitives (ICC.1:2010 4.2 - 4.14). Each returns false when the stream fails.
krmBool krmReadUInt8(krmIOHandler* io, krmUInt8Number* n);
krmBool krmReadUInt16(krmIOHandler* io, krmUInt16Number* n);
krmBool krmReadUInt16Array(krmIOHandler* io, krmUInt32Number n, krmUInt16Number* Array);
krmBool krmReadUInt32(krmIOHandler* io, krmUInt32Number* n);
krmBool krmReadUInt64(krmIOHandler* io, krmUInt64Number* n);
krmBool krmReadFloat32(krmIOHandler* io, krmFloat32Number* n);
krmBool krmRead15Fixed16(krmIOHandler* io, krmFloat64Number* n);
krmTagTypeSignature krmReadTypeBase(krmIOHandler* io);
krmBool krmReadAlignment(krmIOHandler* io);

krmBool krmWriteUInt8(krmIOHandler* io, krmUInt8Number n);
krmBool krmWriteUInt16(krmIOHandler* io, krmUInt16Number n);
krmBool krmWriteUInt16Array(krmIOHandler* io, krmUInt32Number n, const krmUInt16Number* Array);
krmBool krmWriteUInt32(krmIOHandler* io, krmUInt32Number n);
krmBool krmWriteUInt64(krmIOHandler* io, krmUInt64Number n);
krmBool krmWriteFloat32(krmIOHandler* io, krmFloat32Number n);
krmBool krmWrite15Fixed16(krmIOHandler* io, krmFloat64Number n);
krmBool krmWriteTypeBase(krmIOHandler* io, krmTagTypeSignature sig);
krmBool krmWriteAlignment(krmIOHandler* io);
// krmReadXYZ / krmWriteXYZ are in the TAG-TYPES section, after krmCIEXYZ.

krmS15Fixed16Number krmDoubleTo15Fixed16(krmFloat64Number v);
krmFloat64Number krm15Fixed16toDouble(krmS15Fixed16Number fix32);
krmU8Fixed8Number krmDoubleTo8Fixed8(krmFloat64Number val);
krmFloat64Number krm8Fixed8toDouble(krmU8Fixed8Number fixed8);

// ICC dateTimeNumber (ICC.1:2010 4.2): six big-endian 16-bit fields.
typedef struct {
    krmUInt16Number year;
    krmUInt16Number month;
    krmUInt16Number day;
    krmUInt16Number hours;
    krmUInt16Number minutes;
    krmUInt16Number seconds;
} krmDateTimeNumber;

// Host-order fields to calendar time and back (month - 1 / + 1, year - 1900 / + 1900).
void krmDecodeDateTimeNumber(const krmDateTimeNumber* Source, struct tm* Dest);
void krmEncodeDateTimeNumber(krmDateTimeNumber* Dest, const struct tm* Source);

// 'hdrH': header hooks; both hooks are required. MaxVersion is an encoded version (0x04400000).
typedef krmBool (*krmHeaderHookFnPtr)(krmProfile Profile, krmIOHandler* io);

typedef struct {
    krmPluginBase base;
    krmUInt32Number MaxVersion;
    krmHeaderHookFnPtr ReadHook;
    krmHeaderHookFnPtr WriteHook;
} krmPluginHeader;

#define krmMAX_TABLE_TAG 100

// Profiles. Objects returned by krmReadTag belong to the profile.
krmProfile krmCreateProfilePlaceholder(krmContext ContextID);
krmProfile krmOpenProfileFromFile(const char* FileName, const char* sAccess);
krmProfile krmOpenProfileFromFileInContext(krmContext ContextID, const char* FileName, const char* sAccess);
krmProfile krmOpenProfileFromMem(const void* MemPtr, krmUInt32Number dwSize);
krmProfile krmOpenProfileFromMemInContext(krmContext ContextID, const void* MemPtr, krmUInt32Number dwSize);
krmProfile krmOpenProfileFromStream(FILE* ICCProfile, const char* sAccess);
krmProfile krmOpenProfileFromStreamInContext(krmContext ContextID, FILE* ICCProfile, const char* sAccess);
krmBool krmCloseProfile(krmProfile hProfile);

krmUInt32Number krmSaveProfileToIOHandler(krmProfile hProfile, krmIOHandler* io);
krmBool krmSaveProfileToMem(krmProfile hProfile, void* MemPtr, krmUInt32Number* BytesNeeded);
krmBool krmSaveProfileToFile(krmProfile hProfile, const char* FileName);

krmContext krmGetProfileContext(krmProfile hProfile);
krmIOHandler* krmGetProfileIOHandler(krmProfile hProfile);

// Header fields.
krmProfileClassSignature krmGetProfileClass(krmProfile hProfile);
void krmSetProfileClass(krmProfile hProfile, krmProfileClassSignature sig);
krmColorSpaceSignature krmGetProfileColorSpace(krmProfile hProfile);
void krmSetProfileColorSpace(krmProfile hProfile, krmColorSpaceSignature sig);
krmColorSpaceSignature krmGetProfilePCS(krmProfile hProfile);
void krmSetProfilePCS(krmProfile hProfile, krmColorSpaceSignature pcs);
krmUInt32Number krmGetProfileIntent(krmProfile hProfile);
void krmSetProfileIntent(krmProfile hProfile, krmUInt32Number Intent);
krmUInt32Number krmGetProfileVersionRaw(krmProfile hProfile);
krmFloat64Number krmGetProfileVersion(krmProfile hProfile);
void krmSetProfileVersion(krmProfile hProfile, krmFloat64Number Version);
krmUInt64Number krmGetProfileAttributes(krmProfile hProfile);
void krmSetProfileAttributes(krmProfile hProfile, krmUInt64Number Flags);
krmUInt32Number krmGetProfileModel(krmProfile hProfile);
void krmSetProfileModel(krmProfile hProfile, krmUInt32Number model);
krmUInt32Number krmGetProfileManufacturer(krmProfile hProfile);
void krmSetProfileManufacturer(krmProfile hProfile, krmUInt32Number manufacturer);
krmUInt32Number krmGetProfileFlags(krmProfile hProfile);
void krmSetProfileFlags(krmProfile hProfile, krmUInt32Number Flags);
krmUInt32Number krmGetProfileCreator(krmProfile hProfile);
krmUInt32Number krmGetProfileCMM(krmProfile hProfile);
krmPlatformSignature krmGetProfilePlatform(krmProfile hProfile);
void krmGetProfileID(krmProfile hProfile, krmUInt8Number* ProfileID);
void krmSetProfileID(krmProfile hProfile, const krmUInt8Number* ProfileID);
krmBool krmGetProfileCreationDateTime(krmProfile hProfile, struct tm* Dest);

// Tag directory.
krmInt32Number krmGetTagCount(krmProfile hProfile);
krmTagSignature krmGetTagSignature(krmProfile hProfile, krmUInt32Number n);
krmBool krmIsTag(krmProfile hProfile, krmTagSignature sig);
krmTagSignature krmTagLinkedTo(krmProfile hProfile, krmTagSignature sig);
krmBool krmGetTagOffsetAndSize(krmProfile hProfile, krmUInt32Number n, krmUInt32Number* Offset, krmUInt32Number* Size);
krmTagTypeSignature krmGetTagStoredType(krmProfile hProfile, krmTagSignature sig);
krmBool krmIsMatrixShaper(krmProfile hProfile);

void* krmReadTag(krmProfile hProfile, krmTagSignature sig);
krmBool krmWriteTag(krmProfile hProfile, krmTagSignature sig, const void* data);
krmBool krmLinkTag(krmProfile hProfile, krmTagSignature sig, krmTagSignature dest);
// ==== END CONTEXT-AND-CONTAINER ====

// ==== MATHS (colour-space maths, white points, matrices) ====
// ==== END MATHS ====

// ==== INTERPOLATION ====
// ==== END INTERPOLATION ====

// ==== TONE-CURVES ====
typedef struct _krmToneCurve_struct krmToneCurve;

// The curve's parametric type when it has exactly one segment, else 0.
krmInt32Number krmGetToneCurveParametricType(const krmToneCurve* t);
// ==== END TONE-CURVES ====

// ==== TEXT-RECORDS (MLU, named colour lists, sequences, dictionaries) ====

// Wide text is UTF-16: 16-bit code units, terminated by a zero unit.
typedef char16_t krmWChar;

// Language and country codes are two ASCII characters ("en", "US"); null or "" means none.
#define krmNoLanguage "\0\0"
#define krmNoCountry "\0\0"

#define krmMAXCHANNELS 16
#define krmMAX_NAMED_COLOR_NAME 256

// Multi-localized text: one translation per language/country pair.
typedef struct _krmMLU_struct krmMLU;

krmMLU* krmMLUAlloc(krmContext ContextID, krmUInt32Number nItems);
krmMLU* krmMLUDup(const krmMLU* mlu);
void krmMLUFree(krmMLU* mlu);
krmBool krmMLUSetASCII(krmMLU* mlu, const char LanguageCode[3], const char CountryCode[3], const char* ASCIIString);
krmBool krmMLUSetWide(krmMLU* mlu, const char LanguageCode[3], const char CountryCode[3], const krmWChar* WideString);
krmUInt32Number krmMLUGetASCII(const krmMLU* mlu, const char LanguageCode[3], const char CountryCode[3], char* Buffer,
                               krmUInt32Number BufferSize);
// BufferSize is in bytes; the result counts bytes including the terminating zero unit.
krmUInt32Number krmMLUGetWide(const krmMLU* mlu, const char LanguageCode[3], const char CountryCode[3], krmWChar* Buffer,
                              krmUInt32Number BufferSize);
krmUInt32Number krmMLUGetUTF8(const krmMLU* mlu, const char LanguageCode[3], const char CountryCode[3], char* Buffer,
                              krmUInt32Number BufferSize);
krmUInt32Number krmMLUTranslationsCount(const krmMLU* mlu);
krmBool krmMLUTranslationCodes(const krmMLU* mlu, krmUInt32Number idx, char LanguageCode[3], char CountryCode[3]);

// Named colour lists ('ncl2') and colorant tables ('clrt').
typedef struct _krmNamedColorList_struct krmNamedColorList;

krmNamedColorList* krmAllocNamedColorList(krmContext ContextID, krmUInt32Number n, krmUInt32Number ColorantCount,
                                          const char* Prefix, const char* Suffix);
krmNamedColorList* krmDupNamedColorList(const krmNamedColorList* v);
void krmFreeNamedColorList(krmNamedColorList* v);
krmBool krmAppendNamedColor(krmNamedColorList* v, const char* Name, const krmUInt16Number PCS[3],
                            const krmUInt16Number Colorant[krmMAXCHANNELS]);
krmUInt32Number krmNamedColorCount(const krmNamedColorList* v);
krmUInt32Number krmNamedColorColorantCount(const krmNamedColorList* v);
// Name needs krmMAX_NAMED_COLOR_NAME bytes, Prefix and Suffix 33; Colorant krmMAXCHANNELS values.
krmBool krmNamedColorInfo(const krmNamedColorList* v, krmUInt32Number nColor, char* Name, char* Prefix, char* Suffix,
                          krmUInt16Number* PCS, krmUInt16Number* Colorant);

// Profile sequence descriptions ('pseq', 'psid').
typedef struct {
    krmSignature deviceMfg;
    krmSignature deviceModel;
    krmUInt64Number attributes;
    krmSignature technology;
    krmUInt8Number ProfileID[16];
    krmMLU* Manufacturer;
    krmMLU* Model;
    krmMLU* Description;
} krmPSEQDESC;

typedef struct {
    krmUInt32Number n;
    krmContext ContextID;
    krmPSEQDESC* seq;
} krmSequence;

krmSequence* krmAllocProfileSequence(krmContext ContextID, krmUInt32Number n);
krmSequence* krmDupProfileSequence(const krmSequence* pseq);
void krmFreeProfileSequence(krmSequence* pseq);

// Name/value dictionaries ('dict'). Iteration starts at the entry added last.
typedef struct _krmDICTentry_struct {
    struct _krmDICTentry_struct* Next;
    krmMLU* DisplayName;
    krmMLU* DisplayValue;
    krmWChar* Name;
    krmWChar* Value;
} krmDICTentry;

typedef struct _krmDict_struct krmDict;

krmDict* krmDictAlloc(krmContext ContextID);
void krmDictFree(krmDict* hDict);
krmDict* krmDictDup(const krmDict* hDict);
krmBool krmDictAddEntry(krmDict* hDict, const krmWChar* Name, const krmWChar* Value, const krmMLU* DisplayName,
                        const krmMLU* DisplayValue);
const krmDICTentry* krmDictGetEntryList(const krmDict* hDict);
const krmDICTentry* krmDictNextEntry(const krmDICTentry* e);

// ==== END TEXT-RECORDS ====

// ==== TAG-TYPES (registry records, basic and structured tag objects) ====

// A tag type handler. The registry holds shared records; each call gets a copy that carries the
// calling profile's context and encoded version. SizeOfTag excludes the 8-byte type base.
typedef struct _krmTagTypeHandler_struct {
    krmTagTypeSignature Signature;
    void* (*ReadPtr)(struct _krmTagTypeHandler_struct* self, krmIOHandler* io, krmUInt32Number* nItems,
                     krmUInt32Number SizeOfTag);
    krmBool (*WritePtr)(struct _krmTagTypeHandler_struct* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems);
    void* (*DupPtr)(struct _krmTagTypeHandler_struct* self, const void* Ptr, krmUInt32Number n);
    void (*FreePtr)(struct _krmTagTypeHandler_struct* self, void* Ptr);
    krmContext ContextID;
    krmUInt32Number ICCVersion;
} krmTagTypeHandler;

#define krmMAX_TYPES_IN_PLUGIN 20

// What a tag signature may hold. The first supported type is the default for writing; the
// decider, when present, chooses by profile version (a decimal number such as 4.3).
typedef struct {
    krmUInt32Number ElemCount;
    krmUInt32Number nSupportedTypes;
    krmTagTypeSignature SupportedTypes[krmMAX_TYPES_IN_PLUGIN];
    krmTagTypeSignature (*DecideType)(krmFloat64Number ICCVersion, const void* Data);
} krmTagDescriptor;

// 'typH'
typedef struct {
    krmPluginBase base;
    krmTagTypeHandler Handler;
} krmPluginTagType;

// 'tagH'. A record with Signature 0 names no tag: it switches its context to permissive reading.
typedef struct {
    krmPluginBase base;
    krmTagSignature Signature;
    krmTagDescriptor Descriptor;
} krmPluginTag;
// ==== END TAG-TYPES ====

// ==== CGATS ====
// ==== END CGATS ====

// ==== PIPELINES (pipelines, stages, LUT tag types) ====

typedef struct _krmPipeline_struct krmPipeline;
typedef struct _krmStage_struct krmStage;
// ==== END PIPELINES ====

// ==== LINKING (intents, profile linking, black point) ====
// ==== END LINKING ====

// ==== FORMATS (pixel-format words and formatters) ====

// The pixel-format word, lowest bit first: bytes 0-2 (0 = 8, double), channels 3-6, extra 7-9,
// swap 10, endian16 11, planar 12, flavor 13, swapfirst 14, colour space 16-20, optimized 21,
// float 22, premultiplied 23.
constexpr krmUInt32Number krmFMT_BYTES(krmUInt32Number b) { return b & 7u; }
constexpr krmUInt32Number krmFMT_CHANNELS(krmUInt32Number n) { return (n & 15u) << 3; }
constexpr krmUInt32Number krmFMT_EXTRA(krmUInt32Number n) { return (n & 7u) << 7; }
constexpr krmUInt32Number krmFMT_DOSWAP(krmUInt32Number s) { return (s & 1u) << 10; }
constexpr krmUInt32Number krmFMT_ENDIAN16(krmUInt32Number e) { return (e & 1u) << 11; }
constexpr krmUInt32Number krmFMT_PLANAR(krmUInt32Number p) { return (p & 1u) << 12; }
constexpr krmUInt32Number krmFMT_FLAVOR(krmUInt32Number f) { return (f & 1u) << 13; }
constexpr krmUInt32Number krmFMT_SWAPFIRST(krmUInt32Number s) { return (s & 1u) << 14; }
constexpr krmUInt32Number krmFMT_COLORSPACE(krmUInt32Number c) { return (c & 31u) << 16; }
constexpr krmUInt32Number krmFMT_OPTIMIZED(krmUInt32Number o) { return (o & 1u) << 21; }
constexpr krmUInt32Number krmFMT_FLOAT(krmUInt32Number f) { return (f & 1u) << 22; }
constexpr krmUInt32Number krmFMT_PREMUL(krmUInt32Number p) { return (p & 1u) << 23; }

constexpr krmUInt32Number krmT_BYTES(krmUInt32Number w) { return w & 7u; }
constexpr krmUInt32Number krmT_CHANNELS(krmUInt32Number w) { return (w >> 3) & 15u; }
constexpr krmUInt32Number krmT_EXTRA(krmUInt32Number w) { return (w >> 7) & 7u; }
constexpr krmUInt32Number krmT_DOSWAP(krmUInt32Number w) { return (w >> 10) & 1u; }
constexpr krmUInt32Number krmT_ENDIAN16(krmUInt32Number w) { return (w >> 11) & 1u; }
constexpr krmUInt32Number krmT_PLANAR(krmUInt32Number w) { return (w >> 12) & 1u; }
constexpr krmUInt32Number krmT_FLAVOR(krmUInt32Number w) { return (w >> 13) & 1u; }
constexpr krmUInt32Number krmT_SWAPFIRST(krmUInt32Number w) { return (w >> 14) & 1u; }
constexpr krmUInt32Number krmT_COLORSPACE(krmUInt32Number w) { return (w >> 16) & 31u; }
constexpr krmUInt32Number krmT_OPTIMIZED(krmUInt32Number w) { return (w >> 21) & 1u; }
constexpr krmUInt32Number krmT_FLOAT(krmUInt32Number w) { return (w >> 22) & 1u; }
constexpr krmUInt32Number krmT_PREMUL(krmUInt32Number w) { return (w >> 23) & 1u; }

// Colour-space codes of the format word.
enum {
    krmPT_ANY = 0,
    krmPT_GRAY = 3,
    krmPT_RGB = 4,
    krmPT_CMY = 5,
    krmPT_CMYK = 6,
    krmPT_YCbCr = 7,
    krmPT_Luv = 8,
    krmPT_XYZ = 9,
    krmPT_Lab = 10,
    krmPT_LuvK = 11,
    krmPT_HSV = 12,
    krmPT_HLS = 13,
    krmPT_Yxy = 14,
    krmPT_MCH1 = 15,  // MCH1..MCHF are 15..29
    krmPT_MCH15 = 29,
    krmPT_LabV2 = 30,
};

// The code of an ICC colour-space signature; 0 for an unknown one.
krmUInt32Number krmColorSpaceCode(krmColorSpaceSignature ColorSpace);

// Ink spaces (CMY, CMYK, MCH5..MCHF) carry floating-point samples in percent (0..100).
krmBool krmIsInkSpace(krmUInt32Number Format);

// Formats used by the application.
constexpr krmUInt32Number krmFmtLabDouble = 0x4A0018;  // 3 doubles L*, a*, b*
constexpr krmUInt32Number krmFmtLabFloat = 0x4A001C;  // 3 floats L*, a*, b*
constexpr krmUInt32Number krmFmtLab16 = 0xA001A;  // 3 words, Lab version 4 encoding
constexpr krmUInt32Number krmFmtXYZDouble = 0x490018;  // 3 doubles X, Y, Z (white Y = 1)
constexpr krmUInt32Number krmFmtXYZ16 = 0x9001A;  // 3 words, 1.15 fixed point
constexpr krmUInt32Number krmFmtRGB8 = 0x40019;
constexpr krmUInt32Number krmFmtRGB16 = 0x4001A;
constexpr krmUInt32Number krmFmtRGBDouble = 0x440018;
constexpr krmUInt32Number krmFmtRGBFloat = 0x44001C;
constexpr krmUInt32Number krmFmtBGRA8 = 0x44499;  // memory order B, G, R, A
constexpr krmUInt32Number krmFmtCMYKFloat = 0x460024;  // 4 floats in percent

// Float bit, colour-space code, channel count and bytes of the profile's colour space; 0 when
// the space has no channel count.
krmUInt32Number krmFormatterForColorspaceOfProfile(krmProfile hProfile, krmUInt32Number nBytes, krmBool lIsFloat);

// Formatters unpack one pixel at Buffer into working values and return the next position
// (or pack working values to Buffer). Stride is the plane stride in bytes for planar formats.
struct _krmTransform_struct;
typedef krmUInt8Number* (*krmFormatter16)(struct _krmTransform_struct* CMMcargo, krmUInt16Number Values[],
                                          krmUInt8Number* Buffer, krmUInt32Number Stride);
typedef krmUInt8Number* (*krmFormatterFloat)(struct _krmTransform_struct* CMMcargo, krmFloat32Number Values[],
                                             krmUInt8Number* Buffer, krmUInt32Number Stride);
typedef union {
    krmFormatter16 Fmt16;
    krmFormatterFloat FmtFloat;
} krmFormatter;

typedef enum { krmFormatterInput = 0, krmFormatterOutput = 1 } krmFormatterDirection;
#define krmPACK_FLAGS_16BITS 0x0u
#define krmPACK_FLAGS_FLOAT 0x1u

// 'frmH': a factory asked before the built-in tables.
typedef krmFormatter (*krmFormatterFactory)(krmUInt32Number Type, krmFormatterDirection Dir,
                                            krmUInt32Number dwFlags);
typedef struct {
    krmPluginBase base;
    krmFormatterFactory FormattersFactory;
} krmPluginFormatters;

// ==== END FORMATS ====

// ==== TRANSFORMS ====

// A conversion of pixel buffers between profiles; owned by the caller (krmDeleteTransform).
typedef struct _krmTransform_struct* krmTransform;

// Transform flags.
#define krmFlagCLUTPostLinearization 0x0001u
#define krmFlagForceCLUT 0x0002u
#define krmFlagNoWhiteOnWhiteFixup 0x0004u
#define krmFlagCLUTPreLinearization 0x0010u
#define krmFlagNoCache 0x0040u
#define krmFlagKeepSequence 0x0080u
#define krmFlagNoOptimize 0x0100u
#define krmFlagNullTransform 0x0200u
#define krmFlagHighResPrecalc 0x0400u
#define krmFlagLowResPrecalc 0x0800u
#define krmFlagGamutCheck 0x1000u
#define krmFlagBlackPointCompensation 0x2000u
#define krmFlagSoftProofing 0x4000u
#define krmFlagNoNegatives 0x8000u
#define krmFlagCanChangeFormatter 0x02000000u
#define krmFlagCopyAlpha 0x04000000u
// Grid points for every CLUT built for the transform (0 = chosen from the colour space).
constexpr krmUInt32Number krmFlagGridPoints(krmUInt32Number n) { return (n & 0xFFu) << 16; }

// Bytes per line and per plane of a rectangle of pixels.
typedef struct {
    krmUInt32Number BytesPerLineIn;
    krmUInt32Number BytesPerLineOut;
    krmUInt32Number BytesPerPlaneIn;
    krmUInt32Number BytesPerPlaneOut;
} krmStride;

krmTransform krmCreateExtendedTransform(krmContext ContextID, krmUInt32Number nProfiles, krmProfile hProfiles[],
                                        krmBool BPC[], krmUInt32Number Intents[], krmFloat64Number AdaptationStates[],
                                        krmProfile hGamutProfile, krmUInt32Number nGamutPCSposition,
                                        krmUInt32Number InputFormat, krmUInt32Number OutputFormat,
                                        krmUInt32Number dwFlags);
krmTransform krmCreateMultiprofileTransform(krmContext ContextID, krmProfile hProfiles[], krmUInt32Number nProfiles,
                                            krmUInt32Number InputFormat, krmUInt32Number OutputFormat,
                                            krmUInt32Number Intent, krmUInt32Number dwFlags);
// Output may be null: a transform through the input profile alone.
krmTransform krmCreateTransformWithContext(krmContext ContextID, krmProfile Input, krmUInt32Number InputFormat,
                                           krmProfile Output, krmUInt32Number OutputFormat, krmUInt32Number Intent,
                                           krmUInt32Number dwFlags);
krmTransform krmCreateTransform(krmProfile Input, krmUInt32Number InputFormat, krmProfile Output,
                                krmUInt32Number OutputFormat, krmUInt32Number Intent, krmUInt32Number dwFlags);
void krmDeleteTransform(krmTransform hTransform);

// Converts one line of Size pixels.
void krmDoTransform(krmTransform Transform, const void* InputBuffer, void* OutputBuffer, krmUInt32Number Size);
void krmDoTransformLineStride(krmTransform Transform, const void* InputBuffer, void* OutputBuffer,
                              krmUInt32Number PixelsPerLine, krmUInt32Number LineCount, krmUInt32Number BytesPerLineIn,
                              krmUInt32Number BytesPerLineOut, krmUInt32Number BytesPerPlaneIn,
                              krmUInt32Number BytesPerPlaneOut);

krmContext krmGetTransformContext(krmTransform hTransform);
krmUInt32Number krmGetTransformInputFormat(krmTransform hTransform);
krmUInt32Number krmGetTransformOutputFormat(krmTransform hTransform);

// Out-of-gamut colour of gamut-checking transforms: 16 words per context.
void krmSetAlarmCodes(krmContext ContextID, const krmUInt16Number AlarmCodes[16]);
void krmGetAlarmCodes(krmContext ContextID, krmUInt16Number AlarmCodes[16]);

// Gamma of an RGB profile's grey axis, or -1 when it cannot be estimated within Threshold.
krmFloat64Number krmDetectRGBProfileGamma(krmProfile hProfile, krmFloat64Number Threshold);

// ==== END TRANSFORMS ====

// ==== BUILTIN-PROFILES ====
// ==== END BUILTIN-PROFILES ====

// ==== OPTIMISATION ====
// ==== END OPTIMISATION ====
