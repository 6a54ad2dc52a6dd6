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

// ==== CONTEXT-AND-CONTAINER (context records, I/O handlers, profile container) ====
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
// ==== END TEXT-RECORDS ====

// ==== TAG-TYPES (registry records, basic and structured tag objects) ====
// ==== END TAG-TYPES ====

// ==== CGATS ====
// ==== END CGATS ====

// ==== PIPELINES (pipelines, stages, LUT tag types) ====
// ==== END PIPELINES ====

// ==== LINKING (intents, profile linking, black point) ====
// ==== END LINKING ====

// ==== FORMATS (pixel-format words and formatters) ====
// ==== END FORMATS ====

// ==== TRANSFORMS ====
// ==== END TRANSFORMS ====

// ==== BUILTIN-PROFILES ====
// ==== END BUILTIN-PROFILES ====

// ==== OPTIMISATION ====
// ==== END OPTIMISATION ====
