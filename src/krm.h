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

typedef struct {
    krmFloat64Number X;
    krmFloat64Number Y;
    krmFloat64Number Z;
} krmCIEXYZ;

typedef struct {
    krmFloat64Number x;
    krmFloat64Number y;
    krmFloat64Number Y;
} krmCIExyY;

typedef struct {
    krmFloat64Number L;
    krmFloat64Number a;
    krmFloat64Number b;
} krmCIELab;

// h in degrees, 0 to 360.
typedef struct {
    krmFloat64Number L;
    krmFloat64Number C;
    krmFloat64Number h;
} krmCIELCh;

typedef struct {
    krmCIEXYZ Red;
    krmCIEXYZ Green;
    krmCIEXYZ Blue;
} krmCIEXYZTRIPLE;

typedef struct {
    krmCIExyY Red;
    krmCIExyY Green;
    krmCIExyY Blue;
} krmCIExyYTRIPLE;

// Row-major 3 x 3: v[row].n[column].
typedef struct {
    krmFloat64Number n[3];
} krmVEC3;

typedef struct {
    krmVEC3 v[3];
} krmMAT3;

// The PCS reference white (ICC.1:2010 7.2.16).
#define krmD50X 0.9642
#define krmD50Y 1.0
#define krmD50Z 0.8249

// Limits of the 16-bit encodings.
#define krmMAX_ENCODEABLE_XYZ (1.0 + 32767.0 / 32768.0)
#define krmMIN_ENCODEABLE_ab2 (-128.0)
#define krmMAX_ENCODEABLE_ab2 ((65535.0 / 256.0) - 128.0)
#define krmMIN_ENCODEABLE_ab4 (-128.0)
#define krmMAX_ENCODEABLE_ab4 (127.0)

// D50 as XYZ and as chromaticity; the default white wherever a white point argument is null.
const krmCIEXYZ* krmD50_XYZ(void);
const krmCIExyY* krmD50_xyY(void);

void krmXYZ2Lab(const krmCIEXYZ* WhitePoint, krmCIELab* Lab, const krmCIEXYZ* xyz);
void krmLab2XYZ(const krmCIEXYZ* WhitePoint, krmCIEXYZ* xyz, const krmCIELab* Lab);
// Black (X + Y + Z = 0) has no chromaticity; y = 0 has no XYZ. Callers keep out of both.
void krmXYZ2xyY(krmCIExyY* Dest, const krmCIEXYZ* Source);
void krmxyY2XYZ(krmCIEXYZ* Dest, const krmCIExyY* Source);
void krmLab2LCh(krmCIELCh* LCh, const krmCIELab* Lab);
void krmLCh2Lab(krmCIELab* Lab, const krmCIELCh* LCh);

// Colour differences: CIE 1976 and CIEDE2000 (the viewers use kL = kC = kH = 1).
krmFloat64Number krmDeltaE(const krmCIELab* Lab1, const krmCIELab* Lab2);
krmFloat64Number krmCIEDE2000(const krmCIELab* Lab1, const krmCIELab* Lab2, krmFloat64Number Kl, krmFloat64Number Kc,
                              krmFloat64Number Kh);

// 16-bit PCS encodings (ICC.1:2010 6.3.4.2 and Annex A). Encoders clamp, round and saturate.
void krmFloat2LabEncoded(krmUInt16Number wLab[3], const krmCIELab* Lab);
void krmFloat2LabEncodedV2(krmUInt16Number wLab[3], const krmCIELab* Lab);
void krmLabEncoded2Float(krmCIELab* Lab, const krmUInt16Number wLab[3]);
void krmLabEncoded2FloatV2(krmCIELab* Lab, const krmUInt16Number wLab[3]);
void krmFloat2XYZEncoded(krmUInt16Number XYZ[3], const krmCIEXYZ* fXYZ);
void krmXYZEncoded2Float(krmCIEXYZ* fXYZ, const krmUInt16Number XYZ[3]);

// Daylight chromaticity for 4000 K to 25000 K, and correlated colour temperature by Robertson's method.
krmBool krmWhitePointFromTemp(krmCIExyY* WhitePoint, krmFloat64Number TempK);
krmBool krmTempFromWhitePoint(krmFloat64Number* TempK, const krmCIExyY* WhitePoint);

// Chromatic adaptation from one white to another through a cone matrix (null means Bradford).
krmBool krmAdaptationMatrix(krmMAT3* r, const krmMAT3* ConeMatrix, const krmCIEXYZ* FromIll, const krmCIEXYZ* ToIll);
// RGB to XYZ from a white and three primaries, adapted to D50.
krmBool krmBuildRGB2XYZMatrix(krmMAT3* r, const krmCIExyY* WhitePoint, const krmCIExyYTRIPLE* Primaries);

// 3 x 3 algebra. Inverse and Solve fail on a determinant below 1e-4 in magnitude.
void krmVEC3init(krmVEC3* r, krmFloat64Number x, krmFloat64Number y, krmFloat64Number z);
void krmVEC3minus(krmVEC3* r, const krmVEC3* a, const krmVEC3* b);
void krmVEC3cross(krmVEC3* r, const krmVEC3* u, const krmVEC3* v);
krmFloat64Number krmVEC3dot(const krmVEC3* u, const krmVEC3* v);
krmFloat64Number krmVEC3length(const krmVEC3* a);
krmFloat64Number krmVEC3distance(const krmVEC3* a, const krmVEC3* b);
void krmMAT3Identity(krmMAT3* a);
krmBool krmMAT3IsIdentity(const krmMAT3* a);
void krmMAT3Multiply(krmMAT3* r, const krmMAT3* a, const krmMAT3* b);
krmBool krmMAT3Inverse(const krmMAT3* a, krmMAT3* b);
krmBool krmMAT3Solve(krmVEC3* x, const krmMAT3* a, const krmVEC3* b);
void krmMAT3Eval(krmVEC3* r, const krmMAT3* a, const krmVEC3* v);

// Channels of a colour space: unknown spaces give 3 from krmChannelsOf and -1 from krmChannelsOfColorSpace.
krmUInt32Number krmChannelsOf(krmColorSpaceSignature ColorSpace);
krmInt32Number krmChannelsOfColorSpace(krmColorSpaceSignature ColorSpace);

// The 16-bit white and black of RGB, CMY, CMYK, gray and Lab; false for other spaces. The arrays
// are static. Any output pointer may be null.
krmBool krmEndPointsBySpace(krmColorSpaceSignature Space, const krmUInt16Number** White, const krmUInt16Number** Black,
                            krmUInt32Number* nOutputs);

// Fast rounding. krmQuickFloor(v) is floor(v) after rounding v to a multiple of 1/65536; valid for
// -32768 <= v < 32767. It reads the low word of v + 1.5 * 2^36, where the fixed-point value sits.
inline krmInt32Number krmQuickFloor(krmFloat64Number val)
{
    const krmFloat64Number magic = 68719476736.0 * 1.5;
    const krmFloat64Number t = val + magic;
    krmUInt64Number bits;
    __builtin_memcpy(&bits, &t, sizeof bits);
    return krmInt32Number(krmUInt32Number(bits & 0xFFFFFFFFu)) >> 16;
}

// Rounds to the nearest word and saturates to 0..65535 (NaN gives 0).
inline krmUInt16Number krmQuickSaturateWord(krmFloat64Number d)
{
    d += 0.5;
    if (!(d > 0.0)) return 0;
    if (d >= 65535.0) return 0xFFFF;
    return krmUInt16Number(krmQuickFloor(d - 32767.0) + 32767);
}

// The 16-bit coordinate of node i of a grid of MaxSamples nodes.
inline krmUInt16Number krmQuantizeVal(krmFloat64Number i, krmUInt32Number MaxSamples)
{
    return krmQuickSaturateWord((i * 65535.0) / krmFloat64Number(MaxSamples - 1));
}
// ==== END MATHS ====

// ==== INTERPOLATION ====

#define krmMAX_INPUT_DIMENSIONS 15
// Temporary vectors of the recursive routines hold this many outputs.
#define krmMAX_STAGE_CHANNELS 128

#define krmInterpFlagFloat 0x1u       // the table holds single-precision values
#define krmInterpFlagTrilinear 0x100u  // trilinear instead of tetrahedral with 3 inputs

typedef struct _krmInterpParams_struct krmInterpParams;

typedef void (*krmInterpFn16)(const krmUInt16Number Input[], krmUInt16Number Output[], const krmInterpParams* p);
typedef void (*krmInterpFnFloat)(const krmFloat32Number Input[], krmFloat32Number Output[], const krmInterpParams* p);

typedef union {
    krmInterpFn16 Lerp16;
    krmInterpFnFloat LerpFloat;
} krmInterpFunction;

// A table's grid and its chosen routine. Nodes are stored with the last input varying fastest and
// the outputs of a node adjacent: opta[0] = outputs, opta[i] = opta[i - 1] * nSamples[inputs - i],
// so opta[0] is the stride of the last input and opta[inputs - 1] that of the first.
struct _krmInterpParams_struct {
    krmContext ContextID;
    krmUInt32Number dwFlags;
    krmUInt32Number nInputs;
    krmUInt32Number nOutputs;
    krmUInt32Number nSamples[krmMAX_INPUT_DIMENSIONS];  // grid points per input
    krmUInt32Number Domain[krmMAX_INPUT_DIMENSIONS];    // grid points - 1
    krmUInt32Number opta[krmMAX_INPUT_DIMENSIONS];      // strides, in values
    const void* Table;                                  // not owned
    krmInterpFunction Interpolation;
};

// 'inpH': a factory that offers a routine for (inputs, outputs, flags), or a null routine.
typedef krmInterpFunction (*krmInterpFnFactory)(krmUInt32Number nInputChannels, krmUInt32Number nOutputChannels,
                                               krmUInt32Number dwFlags);

typedef struct {
    krmPluginBase base;
    krmInterpFnFactory InterpolatorsFactory;
} krmPluginInterpolation;

krmInterpParams* krmComputeInterpParams(krmContext ContextID, krmUInt32Number nSamples, krmUInt32Number InputChan,
                                        krmUInt32Number OutputChan, const void* Table, krmUInt32Number dwFlags);
krmInterpParams* krmComputeInterpParamsEx(krmContext ContextID, const krmUInt32Number nSamples[],
                                          krmUInt32Number InputChan, krmUInt32Number OutputChan, const void* Table,
                                          krmUInt32Number dwFlags);
void krmFreeInterpParams(krmInterpParams* p);
// Chooses the routine again for the parameters' current flags; false when none fits.
krmBool krmSetInterpolationRoutine(krmContext ContextID, krmInterpParams* p);
// ==== END INTERPOLATION ====

// ==== TONE-CURVES ====
typedef struct _krmToneCurve_struct krmToneCurve;

// The bounds of the outer segments, kept as single-precision values.
#define krmMINUS_INF (-1E22F)
#define krmPLUS_INF (+1E22F)

// One piece of a curve, covering x0 < x <= x1. Type 0 is sampled (nGridPoints values spread over
// the segment); other types are parametric, negative types the inverses of positive ones.
typedef struct {
    krmFloat32Number x0;
    krmFloat32Number x1;
    krmInt32Number Type;
    krmFloat64Number Params[10];
    krmUInt32Number nGridPoints;
    krmFloat32Number* SampledPoints;
} krmCurveSegment;

// 'parH': up to 20 parametric types with their parameter counts and one evaluator, which gets the
// signed type (negative for the inverse), the parameters and x.
#define krmMAX_TYPES_IN_PARAMETRIC_PLUGIN 20

typedef krmFloat64Number (*krmParametricCurveEvaluator)(krmInt32Number Type, const krmFloat64Number Params[10],
                                                        krmFloat64Number R);

typedef struct {
    krmPluginBase base;
    krmUInt32Number nFunctions;
    krmUInt32Number FunctionTypes[krmMAX_TYPES_IN_PARAMETRIC_PLUGIN];
    krmUInt32Number ParameterCount[krmMAX_TYPES_IN_PARAMETRIC_PLUGIN];
    krmParametricCurveEvaluator Evaluator;
} krmPluginParametricCurves;

// Constructors. Types 1 to 5 are the ICC parametric functions 0 to 4; 6 to 8, 108 and 109 are
// the engine's own (see krmBuildParametricToneCurve).
krmToneCurve* krmBuildGamma(krmContext ContextID, krmFloat64Number Gamma);
krmToneCurve* krmBuildParametricToneCurve(krmContext ContextID, krmInt32Number Type, const krmFloat64Number Params[]);
krmToneCurve* krmBuildSegmentedToneCurve(krmContext ContextID, krmUInt32Number nSegments,
                                         const krmCurveSegment Segments[]);
krmToneCurve* krmBuildTabulatedToneCurve16(krmContext ContextID, krmUInt32Number nEntries,
                                           const krmUInt16Number values[]);
krmToneCurve* krmBuildTabulatedToneCurveFloat(krmContext ContextID, krmUInt32Number nEntries,
                                              const krmFloat32Number values[]);
krmToneCurve* krmDupToneCurve(const krmToneCurve* Src);
void krmFreeToneCurve(krmToneCurve* Curve);
void krmFreeToneCurveTriple(krmToneCurve* Curve[3]);

// Reversal (analytic for a single parametric segment, else a table of nResultSamples entries)
// and joining (Y^-1 after X, sampled at nPoints).
krmToneCurve* krmReverseToneCurve(const krmToneCurve* InGamma);
krmToneCurve* krmReverseToneCurveEx(krmUInt32Number nResultSamples, const krmToneCurve* InGamma);
krmToneCurve* krmJoinToneCurve(krmContext ContextID, const krmToneCurve* X, const krmToneCurve* Y,
                               krmUInt32Number nPoints);

krmFloat32Number krmEvalToneCurveFloat(const krmToneCurve* Curve, krmFloat32Number v);
krmUInt16Number krmEvalToneCurve16(const krmToneCurve* Curve, krmUInt16Number v);

// Queries on the 16-bit table and the segments.
krmBool krmIsToneCurveLinear(const krmToneCurve* Curve);
krmBool krmIsToneCurveMonotonic(const krmToneCurve* t);
krmBool krmIsToneCurveDescending(const krmToneCurve* t);
krmBool krmIsToneCurveMultisegment(const krmToneCurve* InGamma);
// The curve's parametric type when it has exactly one segment, else 0.
krmInt32Number krmGetToneCurveParametricType(const krmToneCurve* t);
// The segment at index n, or null outside 0 .. count - 1.
const krmCurveSegment* krmGetToneCurveSegment(const krmToneCurve* t, krmInt32Number n);
krmUInt32Number krmGetToneCurveEstimatedTableEntries(const krmToneCurve* t);
const krmUInt16Number* krmGetToneCurveEstimatedTable(const krmToneCurve* t);
// Mean exponent of y = x^g over the curve, or -1 when its spread exceeds Precision.
krmFloat64Number krmEstimateGamma(const krmToneCurve* t, krmFloat64Number Precision);
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

// Three s15Fixed16 numbers (ICC.1:2010 4.14).
krmBool krmReadXYZ(krmIOHandler* io, krmCIEXYZ* XYZ);
krmBool krmWriteXYZ(krmIOHandler* io, const krmCIEXYZ* XYZ);

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

// Objects of the basic and structured tag types, as krmReadTag returns them.

// 'dtim' (ICC.1:2010 10.7): calendar time, month 0-11, years since 1900.
typedef struct tm krmDateTime;

// 'data' (ICC.1:2010 10.6): flag 0 is ASCII, 1 binary; len bytes follow in data.
typedef struct {
    krmUInt32Number len;
    krmUInt32Number flag;
    krmUInt8Number data[1];
} krmICCData;

// 'meas' (ICC.1:2010 10.14).
typedef struct {
    krmUInt32Number Observer;
    krmCIEXYZ Backing;
    krmUInt32Number Geometry;
    krmFloat64Number Flare;
    krmUInt32Number IlluminantType;
} krmMeasurement;

// 'view' (ICC.1:2010 10.29).
typedef struct {
    krmCIEXYZ IlluminantXYZ;
    krmCIEXYZ SurroundXYZ;
    krmUInt32Number IlluminantType;
} krmViewingConditions;

// 'chrm' (ICC.1:2010 10.2): red, green and blue chromaticities, each Y 1.0.
typedef krmCIExyYTRIPLE krmPrimaries;

// 'clro' (ICC.1:2010 10.3): colorant numbers in laydown order, 0xFF in unused places.
typedef struct {
    krmUInt8Number Order[krmMAXCHANNELS];
} krmColorantOrder;

// 'cicp' (ICC.1:2022 10.3): code points of ITU-T H.273.
typedef struct {
    krmUInt8Number ColourPrimaries;
    krmUInt8Number TransferCharacteristics;
    krmUInt8Number MatrixCoefficients;
    krmUInt8Number VideoFullRangeFlag;
} krmVideoSignal;

// 'scrn' (ICC.1:2001 6.5.19).
typedef struct {
    krmFloat64Number Frequency;
    krmFloat64Number ScreenAngle;
    krmUInt32Number SpotShape;
} krmScreeningChannel;

typedef struct {
    krmUInt32Number Flag;
    krmUInt32Number nChannels;
    krmScreeningChannel Channels[krmMAXCHANNELS];
} krmScreening;

// 'bfd ' (ICC.1:2001 6.5.20): under-colour removal and black generation.
typedef struct {
    krmToneCurve* Ucr;
    krmToneCurve* Bg;
    krmMLU* Desc;
} krmUcrBg;

// 'vcgt': red, green and blue video card curves.
typedef struct {
    krmToneCurve* Curves[3];
} krmVcgtCurves;

// 'MHC2': display calibration curves (CurveEntries values each), luminances in cd/m2 and a
// 3 x 4 matrix.
typedef struct {
    krmUInt32Number CurveEntries;
    krmFloat64Number* RedCurve;
    krmFloat64Number* GreenCurve;
    krmFloat64Number* BlueCurve;
    krmFloat64Number MinLuminance;
    krmFloat64Number PeakLuminance;
    krmFloat64Number XYZ2XYZmatrix[3][4];
} krmMHC2;

// ==== END TAG-TYPES ====

// ==== CGATS ====

// CGATS.17 measurement text (also inside 'targ' tags): tables of properties and data rows.
typedef struct _krmIT8_struct krmIT8;

krmIT8* krmIT8LoadFromMem(krmContext ContextID, const void* Ptr, krmUInt32Number len);
void krmIT8Free(krmIT8* it8);

// Tables: loading leaves table 0 current. krmIT8SetTable returns the index made current, or -1.
krmUInt32Number krmIT8TableCount(krmIT8* it8);
krmInt32Number krmIT8SetTable(krmIT8* it8, krmUInt32Number nTable);
const char* krmIT8GetSheetType(krmIT8* it8);

// Properties of the current table; names compare without regard to letter case.
const char* krmIT8GetProperty(krmIT8* it8, const char* Key);
krmFloat64Number krmIT8GetPropertyDbl(krmIT8* it8, const char* Key);
const char* krmIT8GetPropertyMulti(krmIT8* it8, const char* Key, const char* SubKey);
// The name arrays belong to the object and live until it is freed.
krmUInt32Number krmIT8EnumProperties(krmIT8* it8, const char*** PropertyNames);
krmUInt32Number krmIT8EnumPropertyMulti(krmIT8* it8, const char* Key, const char*** SubpropertyNames);

// Data of the current table: fields (columns) by name or index, sets (rows) by index or SAMPLE_ID.
krmInt32Number krmIT8EnumDataFormat(krmIT8* it8, const char*** SampleNames);
krmInt32Number krmIT8FindDataFormat(krmIT8* it8, const char* cSample);
const char* krmIT8GetDataRowCol(krmIT8* it8, krmInt32Number row, krmInt32Number col);
krmFloat64Number krmIT8GetDataRowColDbl(krmIT8* it8, krmInt32Number row, krmInt32Number col);
const char* krmIT8GetData(krmIT8* it8, const char* cPatch, const char* cSample);
krmFloat64Number krmIT8GetDataDbl(krmIT8* it8, const char* cPatch, const char* cSample);
const char* krmIT8GetPatchName(krmIT8* it8, krmInt32Number nPatch);
krmInt32Number krmIT8GetPatchByName(krmIT8* it8, const char* cPatch);

// ==== END CGATS ====

// ==== PIPELINES (pipelines, stages, LUT tag types) ====

typedef struct _krmPipeline_struct krmPipeline;
typedef struct _krmStage_struct krmStage;

// Stage types (the kind of element) and the operations some of them implement.
enum : krmStageSignature {
    krmSigCurveSetElemType = 0x63767374,       // 'cvst'
    krmSigMatrixElemType = 0x6D617466,         // 'matf'
    krmSigCLutElemType = 0x636C7574,           // 'clut'
    krmSigBAcsElemType = 0x62414353,           // 'bACS'
    krmSigEAcsElemType = 0x65414353,           // 'eACS'
    krmSigXYZ2LabElemType = 0x6C327820,        // 'l2x ' (the XYZ-to-Lab stage)
    krmSigLab2XYZElemType = 0x78326C20,        // 'x2l ' (the Lab-to-XYZ stage)
    krmSigNamedColorElemType = 0x6E636C20,     // 'ncl '
    krmSigLabV2toV4 = 0x32203420,              // '2 4 '
    krmSigLabV4toV2 = 0x34203220,              // '4 2 '
    krmSigIdentityElemType = 0x69646E20,       // 'idn '
    krmSigLab2FloatPCS = 0x64326C20,           // 'd2l '
    krmSigFloatPCS2Lab = 0x6C326420,           // 'l2d '
    krmSigXYZ2FloatPCS = 0x64327820,           // 'd2x '
    krmSigFloatPCS2XYZ = 0x78326420,           // 'x2d '
    krmSigClipNegativesElemType = 0x636C7020,  // 'clp '
};

// Where a stage is inserted or unlinked.
typedef enum { krmAT_BEGIN = 0, krmAT_END = 1 } krmStageLoc;

// Data of a curve set stage: nCurves owned curves.
typedef struct {
    krmUInt32Number nCurves;
    krmToneCurve** TheCurves;
} krmStageCurvesData;
typedef krmStageCurvesData krmStageToneCurvesData;  // the same record under a second name

// Data of a matrix stage: rows x columns values row by row (rows = outputs), optional offset per row.
typedef struct {
    krmFloat64Number* Double;
    krmFloat64Number* Offset;
} krmStageMatrixData;

// Data of a CLUT stage: the node values in 16 bits or single precision and their grid.
typedef struct {
    union {
        void* T;
        krmUInt16Number* T16;
        krmFloat32Number* TFloat;
    } Tab;
    krmInterpParams* Params;
    krmUInt32Number nEntries;
    krmBool HasFloatValues;
} krmStageCLutData;

// Grid samplers get the node coordinates and, when sampling a CLUT, the node's values to change.
// Returning false stops the traversal.
typedef krmInt32Number (*krmSAMPLER16)(const krmUInt16Number In[], krmUInt16Number Out[], void* Cargo);
#define krmSAMPLER_INSPECT 0x01000000u  // look at the nodes without writing them back

// Pipelines: fewer than 16 input and output channels.
krmPipeline* krmPipelineAlloc(krmContext ContextID, krmUInt32Number InputChannels, krmUInt32Number OutputChannels);
void krmPipelineFree(krmPipeline* lut);
krmPipeline* krmPipelineDup(const krmPipeline* Orig);
krmContext krmGetPipelineContextID(const krmPipeline* lut);
krmUInt32Number krmPipelineInputChannels(const krmPipeline* lut);
krmUInt32Number krmPipelineOutputChannels(const krmPipeline* lut);
krmUInt32Number krmPipelineStageCount(const krmPipeline* lut);
krmStage* krmPipelineFirstStage(const krmPipeline* lut);
krmStage* krmPipelineLastStage(const krmPipeline* lut);
void krmPipelineEval16(const krmUInt16Number In[], krmUInt16Number Out[], const krmPipeline* lut);
void krmPipelineEvalFloat(const krmFloat32Number In[], krmFloat32Number Out[], const krmPipeline* lut);
// Finds device values (3 inputs, or 4 with the fourth fixed at Target[3]) giving the 3 target
// outputs, starting from Hint (or 0.3).
krmBool krmPipelineEvalReverseFloat(const krmFloat32Number Target[], krmFloat32Number Result[],
                                    const krmFloat32Number Hint[], const krmPipeline* lut);
// Appends copies of l2's stages to l1.
krmBool krmPipelineCat(krmPipeline* l1, const krmPipeline* l2);
// Returns the previous value of the flag.
krmBool krmPipelineSetSaveAs8bitsFlag(krmPipeline* lut, krmBool On);
// The pipeline takes the stage (even when the channels do not join and false is returned).
krmBool krmPipelineInsertStage(krmPipeline* lut, krmStageLoc loc, krmStage* mpe);
// Hands the stage out through mpe, or frees it when mpe is null.
void krmPipelineUnlinkStage(krmPipeline* lut, krmStageLoc loc, krmStage** mpe);
// True when the pipeline has exactly n stages of the n given types (passed as int), in order;
// then n further arguments of type krmStage** (each may be null) receive the stages.
krmBool krmPipelineCheckAndRetrieveStages(const krmPipeline* Lut, krmUInt32Number n, ...);

// Stages.
krmStage* krmStageAllocIdentity(krmContext ContextID, krmUInt32Number nChannels);
krmStage* krmStageAllocToneCurves(krmContext ContextID, krmUInt32Number nChannels, krmToneCurve* const Curves[]);
krmStage* krmStageAllocIdentityCurves(krmContext ContextID, krmUInt32Number nChannels);
krmStage* krmStageAllocMatrix(krmContext ContextID, krmUInt32Number Rows, krmUInt32Number Cols,
                              const krmFloat64Number* Matrix, const krmFloat64Number* Offset);
krmStage* krmStageAllocCLut16bit(krmContext ContextID, krmUInt32Number nGridPoints, krmUInt32Number inputChan,
                                 krmUInt32Number outputChan, const krmUInt16Number* Table);
krmStage* krmStageAllocCLut16bitGranular(krmContext ContextID, const krmUInt32Number clutPoints[],
                                         krmUInt32Number inputChan, krmUInt32Number outputChan,
                                         const krmUInt16Number* Table);
krmStage* krmStageAllocCLutFloat(krmContext ContextID, krmUInt32Number nGridPoints, krmUInt32Number inputChan,
                                 krmUInt32Number outputChan, const krmFloat32Number* Table);
krmStage* krmStageAllocCLutFloatGranular(krmContext ContextID, const krmUInt32Number clutPoints[],
                                         krmUInt32Number inputChan, krmUInt32Number outputChan,
                                         const krmFloat32Number* Table);
krmStage* krmStageAllocIdentityCLut(krmContext ContextID, krmUInt32Number nChan);
krmStage* krmStageAllocLabV2ToV4(krmContext ContextID);
krmStage* krmStageAllocLabV4ToV2(krmContext ContextID);
krmStage* krmStageAllocLab2FloatPCS(krmContext ContextID);
krmStage* krmStageAllocFloatPCS2Lab(krmContext ContextID);
krmStage* krmStageAllocXYZ2FloatPCS(krmContext ContextID);
krmStage* krmStageAllocFloatPCS2XYZ(krmContext ContextID);
krmStage* krmStageAllocLab2XYZ(krmContext ContextID);
krmStage* krmStageAllocXYZ2Lab(krmContext ContextID);
krmStage* krmStageAllocClipNegatives(krmContext ContextID, krmUInt32Number nChannels);
// Index into a copy of the list: device values, or the three PCS values when UsePCS.
krmStage* krmStageAllocNamedColor(const krmNamedColorList* NamedColorList, krmBool UsePCS);
krmNamedColorList* krmGetNamedColorListFromStage(const krmStage* mpe);

krmStage* krmStageDup(krmStage* mpe);
void krmStageFree(krmStage* mpe);
krmStageSignature krmStageType(const krmStage* mpe);
krmStageSignature krmStageImplements(const krmStage* mpe);
krmUInt32Number krmStageInputChannels(const krmStage* mpe);
krmUInt32Number krmStageOutputChannels(const krmStage* mpe);
void* krmStageData(const krmStage* mpe);
krmContext krmGetStageContextID(const krmStage* mpe);
krmStage* krmStageNext(const krmStage* mpe);
// Evaluates one stage on its own (input- and output-channel counts of values).
void krmStageEvalFloat(const krmStage* mpe, const krmFloat32Number In[], krmFloat32Number Out[]);

// Grids: node count (0 when a dimension is below 2 or the grid is too large), traversal.
krmUInt32Number krmCubeSize(const krmUInt32Number Dims[], krmUInt32Number b);
krmBool krmStageSampleCLut16bit(krmStage* mpe, krmSAMPLER16 Sampler, void* Cargo, krmUInt32Number dwFlags);
krmBool krmSliceSpace16(krmUInt32Number nInputs, const krmUInt32Number clutPoints[], krmSAMPLER16 Sampler,
                        void* Cargo);

// 'mpeH': a multi-process element type. The reader returns a krmStage*; the writer gets one.
typedef struct {
    krmPluginBase base;
    krmTagTypeHandler Handler;
} krmPluginMultiProcessElement;
// ==== END PIPELINES ====

// ==== LINKING (intents, profile linking, black point) ====

// ICC rendering intents, and the black-preserving intents for CMYK-to-CMYK chains.
#define krmINTENT_PERCEPTUAL 0u
#define krmINTENT_RELATIVE_COLORIMETRIC 1u
#define krmINTENT_SATURATION 2u
#define krmINTENT_ABSOLUTE_COLORIMETRIC 3u
#define krmINTENT_PRESERVE_K_ONLY_PERCEPTUAL 10u
#define krmINTENT_PRESERVE_K_ONLY_RELATIVE_COLORIMETRIC 11u
#define krmINTENT_PRESERVE_K_ONLY_SATURATION 12u
#define krmINTENT_PRESERVE_K_PLANE_PERCEPTUAL 13u
#define krmINTENT_PRESERVE_K_PLANE_RELATIVE_COLORIMETRIC 14u
#define krmINTENT_PRESERVE_K_PLANE_SATURATION 15u

// Directions for the tag tests.
#define krmUsedAsInput 0u
#define krmUsedAsOutput 1u
#define krmUsedAsProof 2u

// The fixed black point of version 4 perceptual tables (ICC.1:2010 Annex C).
#define krmPERCEPTUAL_BLACK_X 0.00336
#define krmPERCEPTUAL_BLACK_Y 0.0034731
#define krmPERCEPTUAL_BLACK_Z 0.00287
constexpr krmCIEXYZ krmPerceptualBlack = {krmPERCEPTUAL_BLACK_X, krmPERCEPTUAL_BLACK_Y, krmPERCEPTUAL_BLACK_Z};

// A link function: one intent, bpc flag and adaptation state per profile. The result belongs
// to the caller.
typedef krmPipeline* (*krmIntentFn)(krmContext ContextID, krmUInt32Number nProfiles, krmUInt32Number TheIntents[],
                                    krmProfile hProfiles[], krmBool BPC[], krmFloat64Number AdaptationStates[],
                                    krmUInt32Number dwFlags);

// 'intH'
typedef struct {
    krmPluginBase base;
    krmUInt32Number Intent;
    krmIntentFn Link;
    char Description[256];
} krmPluginRenderingIntent;

// Profile tests.
krmBool krmIsCLUT(krmProfile hProfile, krmUInt32Number Intent, krmUInt32Number UsedDirection);
krmBool krmIsIntentSupported(krmProfile hProfile, krmUInt32Number Intent, krmUInt32Number UsedDirection);

// Media white (D50 when absent, and for version 2 display profiles) and adaptation matrix.
krmBool krmReadMediaWhitePoint(krmCIEXYZ* Dest, krmProfile hProfile);
krmBool krmReadCHAD(krmMAT3* Dest, krmProfile hProfile);

// What one profile contributes; an intent above 3 gives the matrix-shaper. Owned by the caller.
krmPipeline* krmReadInputLUT(krmProfile hProfile, krmUInt32Number Intent);
krmPipeline* krmReadOutputLUT(krmProfile hProfile, krmUInt32Number Intent);
krmPipeline* krmReadDevicelinkLUT(krmProfile hProfile, krmUInt32Number Intent);

// Links 1..255 profiles with the link function of the first intent.
krmPipeline* krmLinkProfiles(krmContext ContextID, krmUInt32Number nProfiles, krmUInt32Number TheIntents[],
                             krmProfile hProfiles[], krmBool BPC[], krmFloat64Number AdaptationStates[],
                             krmUInt32Number dwFlags);
krmPipeline* krmDefaultICCintents(krmContext ContextID, krmUInt32Number nProfiles, krmUInt32Number TheIntents[],
                                  krmProfile hProfiles[], krmBool BPC[], krmFloat64Number AdaptationStates[],
                                  krmUInt32Number dwFlags);
krmPipeline* krmBlackPreservingKOnlyIntents(krmContext ContextID, krmUInt32Number nProfiles,
                                            krmUInt32Number TheIntents[], krmProfile hProfiles[], krmBool BPC[],
                                            krmFloat64Number AdaptationStates[], krmUInt32Number dwFlags);
krmPipeline* krmBlackPreservingKPlaneIntents(krmContext ContextID, krmUInt32Number nProfiles,
                                             krmUInt32Number TheIntents[], krmProfile hProfiles[], krmBool BPC[],
                                             krmFloat64Number AdaptationStates[], krmUInt32Number dwFlags);

// 10 and 13 give 0, 11 and 14 give 1, 12 and 15 give 2; others pass unchanged.
krmUInt32Number krmTranslateToICCIntent(krmUInt32Number Intent);

// Intents known in a context (registered ones first): returns the total, fills up to nMax.
krmUInt32Number krmGetSupportedIntents(krmContext ContextID, krmUInt32Number nMax, krmUInt32Number* Codes,
                                       const char** Descriptions);

// Default adaptation state of the context; a negative d only queries. Returns the previous value.
krmFloat64Number krmSetAdaptationState(krmContext ContextID, krmFloat64Number d);

// Black points in XYZ relative to D50 (white Y = 1); 0, 0, 0 and false when they cannot be found.
krmBool krmDetectBlackPoint(krmCIEXYZ* BlackPoint, krmProfile hProfile, krmUInt32Number Intent,
                            krmUInt32Number dwFlags);
krmBool krmDetectDestinationBlackPoint(krmCIEXYZ* BlackPoint, krmProfile hProfile, krmUInt32Number Intent,
                                       krmUInt32Number dwFlags);

// K to L* through the chain joined with the inverse of the last profile's K to L*.
krmToneCurve* krmBuildKToneCurve(krmContext ContextID, krmUInt32Number nPoints, krmUInt32Number nProfiles,
                                 krmUInt32Number TheIntents[], krmProfile hProfiles[], krmBool BPC[],
                                 krmFloat64Number AdaptationStates[], krmUInt32Number dwFlags);
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

// For parallelisation plug-ins ('prlH'): the worker a scheduler splits the rectangle over (it may be
// called from several threads at once on disjoint parts), and the settings of the registration.
typedef void (*krmTransformWorkerFn)(krmTransform Transform, const void* InputBuffer, void* OutputBuffer,
                                     krmUInt32Number PixelsPerLine, krmUInt32Number LineCount,
                                     const krmStride* Stride);
krmTransformWorkerFn krmGetTransformWorker(krmTransform hTransform);
krmInt32Number krmGetTransformMaxWorkers(krmTransform hTransform);
krmUInt32Number krmGetTransformWorkerFlags(krmTransform hTransform);
krmUInt32Number krmGetTransformInputFormat(krmTransform hTransform);
krmUInt32Number krmGetTransformOutputFormat(krmTransform hTransform);

// Out-of-gamut colour of gamut-checking transforms: 16 words per context.
void krmSetAlarmCodes(krmContext ContextID, const krmUInt16Number AlarmCodes[16]);
void krmGetAlarmCodes(krmContext ContextID, krmUInt16Number AlarmCodes[16]);

// Gamma of an RGB profile's grey axis, or -1 when it cannot be estimated within Threshold.
krmFloat64Number krmDetectRGBProfileGamma(krmProfile hProfile, krmFloat64Number Threshold);

// ==== END TRANSFORMS ====

// ==== BUILTIN-PROFILES ====

// Profiles made in memory. Each comes in a form taking a context and one using the default
// context; the caller closes the result with krmCloseProfile. Null on any failure.
krmProfile krmCreateRGBProfile(krmContext ContextID, const krmCIExyY* WhitePoint, const krmCIExyYTRIPLE* Primaries,
                               krmToneCurve* const TransferFunction[3]);
krmProfile krmCreateRGBProfile(const krmCIExyY* WhitePoint, const krmCIExyYTRIPLE* Primaries,
                               krmToneCurve* const TransferFunction[3]);
krmProfile krmCreateGrayProfile(krmContext ContextID, const krmCIExyY* WhitePoint, const krmToneCurve* TransferFunction);
krmProfile krmCreateGrayProfile(const krmCIExyY* WhitePoint, const krmToneCurve* TransferFunction);
krmProfile krmCreateLab2Profile(krmContext ContextID, const krmCIExyY* WhitePoint);
krmProfile krmCreateLab2Profile(const krmCIExyY* WhitePoint);
krmProfile krmCreateLab4Profile(krmContext ContextID, const krmCIExyY* WhitePoint);
krmProfile krmCreateLab4Profile(const krmCIExyY* WhitePoint);
krmProfile krmCreateXYZProfile(krmContext ContextID);
krmProfile krmCreateXYZProfile(void);
krmProfile krmCreate_sRGBProfile(krmContext ContextID);
krmProfile krmCreate_sRGBProfile(void);

// Total area coverage of an output profile in percent (the largest ink sum over a Lab grid); 0
// when it cannot be estimated.
krmFloat64Number krmDetectTAC(krmProfile hProfile);

// ==== END BUILTIN-PROFILES ====

// ==== OPTIMISATION ====

// Grid points per input for CLUTs sampled in a colour space under the transform flags.
krmUInt32Number krmReasonableGridpoints(krmColorSpaceSignature ColorSpace, krmUInt32Number dwFlags);

// ==== END OPTIMISATION ====
