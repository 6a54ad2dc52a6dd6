// Corvane colour engine: internals shared by src/ and the engine tests. Not for the application.
#pragma once

#include "krm.h"

#include <cassert>

// Caller mistakes (null required arguments) stop the process with the condition and the file.
#define _krmAssert(cond) assert(cond)

// ==== CONTEXT-AND-CONTAINER ====

#include <ctime>

// Client chunks of a context; a null chunk means the global context's is used.
typedef enum {
    UserPtr = 0,
    Logger = 1,
    AlarmCodesContext = 2,
    AdaptationStateContext = 3,
    MemPlugin = 4,
    InterpPlugin = 5,
    CurvesPlugin = 6,
    FormattersPlugin = 7,
    TagTypePlugin = 8,
    TagPlugin = 9,
    IntentPlugin = 10,
    MPEPlugin = 11,
    OptimizationPlugin = 12,
    TransformPlugin = 13,
    MutexPlugin = 14,
    ParallelizationPlugin = 15,
    HeaderPlugin = 16,
    krmMemoryClientMax = 17
} _krmMemoryClient;

// Pool of plug-in registration data: blocks newest first, freed only as a whole.
typedef struct _krmSubAllocator_chunk_struct {
    krmUInt8Number* Block;
    krmUInt32Number BlockSize;
    krmUInt32Number Used;
    struct _krmSubAllocator_chunk_struct* next;
} _krmSubAllocator_chunk;

typedef struct {
    krmContext ContextID;
    _krmSubAllocator_chunk* h;
} _krmSubAllocator;

_krmSubAllocator* _krmCreateSubAlloc(krmContext ContextID, krmUInt32Number Initial);
void _krmSubAllocDestroy(_krmSubAllocator* s);
void* _krmSubAlloc(_krmSubAllocator* s, krmUInt32Number size);
void* _krmSubAllocDup(_krmSubAllocator* s, const void* ptr, krmUInt32Number size);

// Chunk 4: the six memory routines (and the 'memH' record that supplied them, if any).
typedef struct {
    krmMallocFnPtr MallocPtr;
    krmMallocFnPtr MallocZeroPtr;
    krmFreeFnPtr FreePtr;
    krmReallocFnPtr ReallocPtr;
    krmCallocFnPtr CallocPtr;
    krmDupFnPtr DupPtr;
    krmPluginBase* Plugin;
} _krmMemPluginChunkType;

// Chunk 1.
typedef struct {
    krmLogErrorHandlerFunction LogErrorHandler;
} _krmLogErrorChunkType;

// Chunk 2: gamut alarm codes of transforms.
typedef struct {
    krmUInt16Number AlarmCodes[16];
} _krmAlarmCodesChunkType;

// Chunk 3: default adaptation state of absolute colorimetric linking.
typedef struct {
    krmFloat64Number AdaptationState;
} _krmAdaptationStateChunkType;

// Chunk 14: per-object mutex routines.
typedef struct {
    krmCreateMutexFnPtr CreateMutexPtr;
    krmDestroyMutexFnPtr DestroyMutexPtr;
    krmLockMutexFnPtr LockMutexPtr;
    krmUnlockMutexFnPtr UnlockMutexPtr;
    krmPluginBase* Plugin;
} _krmMutexPluginChunkType;

// One registration of a list kind; lists are newest first.
struct _krmPluginListEntry {
    krmPluginBase* Plugin;
    _krmPluginListEntry* Next;
};

// Chunks 5 to 13, 15 and 16: a list head (list kinds) or the last record (single-slot kinds).
typedef struct {
    _krmPluginListEntry* List;
    krmPluginBase* Slot;
} _krmPluginChunkType;

struct _krmContext_struct {
    struct _krmContext_struct* Next;
    _krmSubAllocator* MemPool;
    void* chunks[krmMemoryClientMax];
    _krmMemPluginChunkType DefaultMemoryManager;
};

krmContext _krmContextResolve(krmContext ctx);
void* _krmContextGetClientChunk(krmContext ctx, _krmMemoryClient client);

const _krmPluginListEntry* _krmGetPluginList(krmContext ctx, krmUInt32Number pluginType);
krmPluginBase* _krmGetPluginSlot(krmContext ctx, krmUInt32Number pluginType);

// Defaults, also used to fill chunks of new contexts.
void* _krmMallocDefaultFn(krmContext ContextID, krmUInt32Number size);
void _krmFreeDefaultFn(krmContext ContextID, void* Ptr);
void _krmInstallAllocFunctions(const krmPluginMemHandler* Plugin, _krmMemPluginChunkType* ptr);

// Process-wide lock over the list of contexts (recursive).
krmBool _krmEnterGlobalLock(void);
void _krmLeaveGlobalLock(void);

// Current time in UTC; false when the clock cannot be read.
krmBool _krmGetTime(struct tm* ptr_time);

// The profile record.
typedef struct _krmProfile_struct {
    krmIOHandler* IOhandler;
    krmContext ContextID;

    struct tm Created;

    krmUInt32Number CMM;
    krmUInt32Number Version;
    krmProfileClassSignature DeviceClass;
    krmColorSpaceSignature ColorSpace;
    krmColorSpaceSignature PCS;
    krmUInt32Number RenderingIntent;
    krmPlatformSignature platform;
    krmUInt32Number flags;
    krmUInt32Number manufacturer;
    krmUInt32Number model;
    krmUInt64Number attributes;
    krmUInt32Number creator;
    krmUInt8Number ProfileID[16];

    krmUInt32Number TagCount;
    krmTagSignature TagNames[krmMAX_TABLE_TAG];
    krmTagSignature TagLinked[krmMAX_TABLE_TAG];
    krmUInt32Number TagSizes[krmMAX_TABLE_TAG];
    krmUInt32Number TagOffsets[krmMAX_TABLE_TAG];
    void* TagPtrs[krmMAX_TABLE_TAG];
    const struct _krmTagTypeHandler_struct* TagTypeHandlers[krmMAX_TABLE_TAG];

    krmBool IsWrite;
    void* UsrMutex;

    // Elements the decoded object holds (what the reader delivered, or the descriptor's count
    // for written tags); saving never asks a writer for more.
    krmUInt32Number TagElemCount[krmMAX_TABLE_TAG];
} _krmICCPROFILE;

// Index of a tag after following links, or -1.
int _krmSearchTag(_krmICCPROFILE* Icc, krmTagSignature sig, krmBool lFollowLinks);
// Appends an empty directory entry; false with "Too many tags" when full.
krmBool _krmNewTag(_krmICCPROFILE* Icc, krmTagSignature sig, int* NewPos);
krmUInt32Number _krmMaxProfileVersion(krmContext ctx);
// krmReadTag for the engine's own use of a tag's content: null unless the tag holds a type its
// descriptor lists, with at least the descriptor's element count. Permissive reading hands out
// whatever type a tag stores; code that casts the object must not meet a foreign one.
void* _krmReadTagAsDescribed(krmProfile hProfile, krmTagSignature sig);
// ==== END CONTEXT-AND-CONTAINER ====

// ==== MATHS ====

// Determinants, cone responses and parameters below this magnitude count as zero.
#define krmMATRIX_DET_TOLERANCE 0.0001

// Hue angle in degrees, 0 to 360; 0 for a = b = 0.
krmFloat64Number krmAtan2Deg(krmFloat64Number b, krmFloat64Number a);

// The Bradford cone response matrix.
const krmMAT3* krmBradfordMatrix(void);
// ==== END MATHS ====

// ==== INTERPOLATION ====

// w / 65535 in single precision, by a multiplication: the double product may differ from the
// quotient in its last bit, but every w / 65535 lies over 4000 double steps away from a float
// rounding boundary, so both round to the same float for every word (tested for all of them).
inline krmFloat32Number _krmWordToFloat(krmUInt16Number w) { return krmFloat32Number(w * (1.0 / 65535.0)); }

// Maps v * Domain (v a 16-bit input) into 16.16 fixed point: cell in the high word, fraction in the low.
inline krmUInt64Number krmToFixedDomain(krmUInt64Number a)
{
    return a + ((a + 0x7FFF) / 0xFFFF);
}

// The built-in one-input 16-bit interpolation: a table of Domain + 1 words at v, rounded. Curves
// evaluate through it; callers that evaluate many curve values call it directly.
inline krmUInt16Number _krmLinLerp16(const krmUInt16Number* Table, krmUInt32Number Domain, krmUInt16Number v)
{
    if (v == 0xFFFF || Domain == 0) return Table[Domain];
    const krmUInt64Number fk = krmToFixedDomain(krmUInt64Number(v) * Domain);
    const krmUInt32Number cell = krmUInt32Number(fk >> 16);
    const std::int64_t dif = std::int64_t(Table[cell + 1] - Table[cell]) * std::int64_t(fk & 0xFFFF) + 0x8000;
    return krmUInt16Number((dif >> 16) + Table[cell]);
}

// The built-in routine for a grid, without asking plug-ins; a null routine when none fits.
krmInterpFunction _krmDefaultInterpolatorsFactory(krmUInt32Number nInputChannels, krmUInt32Number nOutputChannels,
                                                  krmUInt32Number dwFlags);
// ==== END INTERPOLATION ====

// ==== TONE-CURVES ====

#define krmMAX_ENTRIES_IN_TABLE 65530

struct _krmToneCurve_struct {
    krmInterpParams* InterpParams;  // over Table16
    krmUInt32Number nSegments;
    krmCurveSegment* Segments;
    krmInterpParams** SegInterp;  // one per segment; set for sampled ones
    krmParametricCurveEvaluator* Evals;  // one per segment; set for parametric ones
    krmUInt32Number nEntries;
    krmUInt16Number* Table16;
};

// Segmented evaluation in double precision: +-1e22 for infinities, -1e22 outside every segment.
krmFloat64Number _krmEvalSegmentedFn(const krmToneCurve* g, krmFloat64Number R);
// ==== END TONE-CURVES ====

// ==== TEXT-RECORDS ====

typedef struct {
    krmUInt16Number Language;
    krmUInt16Number Country;
    krmUInt32Number StrW;  // offset of the text in the pool, bytes
    krmUInt32Number Len;  // length of the text, bytes
} _krmMLUentry;

struct _krmMLU_struct {
    krmContext ContextID;
    krmUInt32Number AllocatedEntries;
    krmUInt32Number UsedEntries;
    _krmMLUentry* Entries;
    krmUInt32Number PoolSize;
    krmUInt32Number PoolUsed;
    void* MemPool;  // code units, texts one after another without terminators
};

// Two ASCII characters packed big-endian ("en" is 0x656E); null or "" is 0.
krmUInt16Number _krmMLUCode(const char* code);

// Appends a translation given as a block of code units (size in bytes).
krmBool _krmMLUAddBlock(krmMLU* mlu, const void* Block, krmUInt32Number size, krmUInt16Number LanguageCode,
                        krmUInt16Number CountryCode);

typedef struct {
    char Name[krmMAX_NAMED_COLOR_NAME];
    krmUInt16Number PCS[3];
    krmUInt16Number DeviceColorant[krmMAXCHANNELS];
} _krmNAMEDCOLOR;

struct _krmNamedColorList_struct {
    krmUInt32Number nColors;
    krmUInt32Number Allocated;
    krmUInt32Number ColorantCount;
    char Prefix[33];
    char Suffix[33];
    _krmNAMEDCOLOR* List;
    krmContext ContextID;
};

struct _krmDict_struct {
    krmDICTentry* head;
    krmContext ContextID;
};

// Length of a zero-terminated wide string in units.
krmUInt32Number _krmWideLen(const krmWChar* s);

// ==== END TEXT-RECORDS ====

// ==== TAG-TYPES ====

// Registry lookups: the context's registrations newest first, then the built-in tables.
const krmTagTypeHandler* _krmGetTagTypeHandler(krmContext ContextID, krmTagTypeSignature sig);
const krmTagDescriptor* _krmGetTagDescriptor(krmContext ContextID, krmTagSignature sig);
// True when the context's own tag registrations include one with signature 0.
krmBool _krmIsPermissiveReading(krmContext ContextID);
// The type to write for a tag: the descriptor's decider, or its first supported type.
krmTagTypeSignature _krmDecideTagType(const krmTagDescriptor* TagDescriptor, krmFloat64Number Version,
                                      const void* Data);
krmBool _krmIsTypeSupported(const krmTagDescriptor* TagDescriptor, krmTagTypeSignature Type);

// Reader, writer, duplicator and releaser of one tag type, named _krmType_<name>_Read and so on;
// they live beside their byte layouts in krmtypes_basic.cpp and krmtypes_struct.cpp.
#define KRM_DECLARE_TAG_TYPE(name)                                                                                  \
    void* _krmType_##name##_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,                \
                                 krmUInt32Number SizeOfTag);                                                        \
    krmBool _krmType_##name##_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems);  \
    void* _krmType_##name##_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number n);                       \
    void _krmType_##name##_Free(krmTagTypeHandler* self, void* Ptr);

// A row of the built-in handler table.
#define KRM_TYPE_HANDLER(sig, name)                                                                                 \
    {sig, _krmType_##name##_Read, _krmType_##name##_Write, _krmType_##name##_Dup, _krmType_##name##_Free, nullptr, 0}

KRM_DECLARE_TAG_TYPE(Chromaticity)
KRM_DECLARE_TAG_TYPE(ColorantOrder)
KRM_DECLARE_TAG_TYPE(S15Fixed16)
KRM_DECLARE_TAG_TYPE(U16Fixed16)
KRM_DECLARE_TAG_TYPE(Text)
KRM_DECLARE_TAG_TYPE(TextDescription)
KRM_DECLARE_TAG_TYPE(Curve)
KRM_DECLARE_TAG_TYPE(ParametricCurve)
KRM_DECLARE_TAG_TYPE(DateTime)
KRM_DECLARE_TAG_TYPE(ColorantTable)
KRM_DECLARE_TAG_TYPE(NamedColor)
KRM_DECLARE_TAG_TYPE(MLU)
KRM_DECLARE_TAG_TYPE(ProfileSequenceDesc)
KRM_DECLARE_TAG_TYPE(Signature)
KRM_DECLARE_TAG_TYPE(Measurement)
KRM_DECLARE_TAG_TYPE(Data)
KRM_DECLARE_TAG_TYPE(UcrBg)
KRM_DECLARE_TAG_TYPE(CrdInfo)
KRM_DECLARE_TAG_TYPE(Screening)
KRM_DECLARE_TAG_TYPE(ViewingConditions)
KRM_DECLARE_TAG_TYPE(XYZ)
KRM_DECLARE_TAG_TYPE(ProfileSequenceId)
KRM_DECLARE_TAG_TYPE(Dictionary)
KRM_DECLARE_TAG_TYPE(VideoSignal)
KRM_DECLARE_TAG_TYPE(vcgt)
KRM_DECLARE_TAG_TYPE(MHC2)
KRM_DECLARE_TAG_TYPE(UInt8)
KRM_DECLARE_TAG_TYPE(UInt32)
KRM_DECLARE_TAG_TYPE(UInt64)

// The body of a 'desc' after its type base; padded to 4 bytes from the type base when asked.
krmBool _krmWriteTextDescription(krmTagTypeHandler* self, krmIOHandler* io, const krmMLU* mlu, krmBool padded);

// The longest curve table the 'curv', 'mft2', 'mAB ' and 'mBA ' readers take.
constexpr krmUInt32Number krmMaxCurveTableEntries = 0x7FFF;
// Refuses (code 8) to write a curve table the readers would refuse: a profile we save must open.
krmBool _krmCurveTableWritable(krmContext ContextID, krmUInt32Number nEntries);

// ==== END TAG-TYPES ====

// ==== CGATS ====
// ==== END CGATS ====

// ==== PIPELINES ====

typedef void (*_krmStageEvalFn)(const krmFloat32Number In[], krmFloat32Number Out[], const krmStage* mpe);
typedef void* (*_krmStageDupElemFn)(krmStage* mpe);
typedef void (*_krmStageFreeElemFn)(krmStage* mpe);

struct _krmStage_struct {
    krmContext ContextID;
    krmStageSignature Type;
    krmStageSignature Implements;
    krmUInt32Number InputChannels;
    krmUInt32Number OutputChannels;
    _krmStageEvalFn EvalPtr;
    _krmStageDupElemFn DupElemPtr;
    _krmStageFreeElemFn FreePtr;
    void* Data;
    struct _krmStage_struct* Next;
};

typedef void (*_krmPipelineEval16Fn)(const krmUInt16Number In[], krmUInt16Number Out[], const void* Data);
typedef void (*_krmPipelineEvalFloatFn)(const krmFloat32Number In[], krmFloat32Number Out[], const void* Data);
typedef void (*_krmFreeUserDataFn)(krmContext ContextID, void* Data);
typedef void* (*_krmDupUserDataFn)(krmContext ContextID, const void* Data);

struct _krmPipeline_struct {
    krmStage* Elements;
    krmUInt32Number InputChannels;
    krmUInt32Number OutputChannels;
    void* Data;
    _krmPipelineEval16Fn Eval16Fn;
    _krmPipelineEvalFloatFn EvalFloatFn;
    _krmFreeUserDataFn FreeDataFn;
    _krmDupUserDataFn DupDataFn;
    krmContext ContextID;
    krmBool SaveAs8Bits;  // LUT writers use 8-bit precision ('mft1' in version 2)
};

// Any other kind of stage (plug-ins); implements equals type.
krmStage* krmStageAllocPlaceholder(krmContext ContextID, krmStageSignature Type, krmUInt32Number InputChannels,
                                   krmUInt32Number OutputChannels, _krmStageEvalFn EvalPtr,
                                   _krmStageDupElemFn DupElemPtr, _krmStageFreeElemFn FreePtr, void* Data);

// Replaces the 16-bit evaluator and its private data (pipeline optimisation).
void _krmPipelineSetOptimizationParameters(krmPipeline* Lut, _krmPipelineEval16Fn Eval16, void* PrivateData,
                                           _krmFreeUserDataFn FreePrivateDataFn, _krmDupUserDataFn DupPrivateDataFn);

typedef struct {
    krmNamedColorList* List;  // owned copy
    krmBool UsePCS;
} krmStageNamedColorData;

inline void _krmInterpEval16(const krmInterpParams* p, const krmUInt16Number In[], krmUInt16Number Out[])
{
    p->Interpolation.Lerp16(In, Out, p);
}

// The built-in one-input 16-bit routine, and a one-input evaluation that calls it without the
// indirection.
void _krmLinLerp1D(const krmUInt16Number Value[], krmUInt16Number Output[], const krmInterpParams* p);
inline krmUInt16Number _krmInterpEval1Input16(const krmInterpParams* p, krmUInt16Number v)
{
    if (p->Interpolation.Lerp16 == _krmLinLerp1D)
        return _krmLinLerp16(static_cast<const krmUInt16Number*>(p->Table), p->Domain[0], v);
    krmUInt16Number out;
    p->Interpolation.Lerp16(&v, &out, p);
    return out;
}

inline void _krmInterpEvalFloat(const krmInterpParams* p, const krmFloat32Number In[], krmFloat32Number Out[])
{
    p->Interpolation.LerpFloat(In, Out, p);
}

// LUT tag type handlers (rows of the built-in handler table).
void* _krmType_LUT8_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number SizeOfTag);
krmBool _krmType_LUT8_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems);
void* _krmType_LUT16_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                          krmUInt32Number SizeOfTag);
krmBool _krmType_LUT16_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems);
void* _krmType_LUTA2B_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                           krmUInt32Number SizeOfTag);
krmBool _krmType_LUTA2B_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems);
void* _krmType_LUTB2A_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems,
                           krmUInt32Number SizeOfTag);
krmBool _krmType_LUTB2A_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems);
void* _krmType_MPE_Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number SizeOfTag);
krmBool _krmType_MPE_Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems);
void* _krmType_LUT_Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number n);
void _krmType_LUT_Free(krmTagTypeHandler* self, void* Ptr);
// ==== END PIPELINES ====

// ==== LINKING ====

// An entry of an intent registry: the built-in table is a chain of these, searched in order.
typedef struct _krmIntentsList {
    krmUInt32Number Intent;
    char Description[256];
    krmIntentFn Link;
    struct _krmIntentsList* Next;
} krmIntentsList;

// Black-preserving intents: how many profiles, from the start, build the preserving table; the
// trailing CMYK device links after them (never positions 0 and 1) are applied afterwards.
krmUInt32Number _krmBlackPreservingKeptCount(krmUInt32Number nProfiles, krmProfile hProfiles[]);
// ==== END LINKING ====

// ==== FORMATS ====

// The formatter for a format word, asking the context's 'frmH' plug-ins before the built-in
// tables; a null routine when none fits. dwFlags is krmPACK_FLAGS_16BITS or krmPACK_FLAGS_FLOAT.
krmFormatter _krmGetFormatter(krmContext ContextID, krmUInt32Number Type, krmFormatterDirection Dir,
                              krmUInt32Number dwFlags);

// True for the built-in formatters of plain integer samples (any order, extra channels, flavour,
// byte order), false for the Lab version 2, float and plug-in ones.
krmBool _krmIsPlainIntegerFormatter(krmFormatter16 f, krmFormatterDirection Dir);

// Copies the extra (alpha) channels of a rectangle from input to output, converting sample types.
void _krmHandleExtraChannels(struct _krmTransform_struct* p, const void* in, void* out,
                             krmUInt32Number PixelsPerLine, krmUInt32Number LineCount, const krmStride* Stride);

// IEEE 754 binary16 conversions.
krmFloat32Number _krmHalf2Float(krmUInt16Number h);
krmUInt16Number _krmFloat2Half(krmFloat32Number flt);

// ==== END FORMATS ====

// ==== TRANSFORMS ====

struct _krmTransform_struct;

// The last pixel converted at creation: 16 input words and their 16 output words.
typedef struct {
    krmUInt16Number CacheIn[krmMAXCHANNELS];
    krmUInt16Number CacheOut[krmMAXCHANNELS];
} _krmCACHE;

// A worker converts a rectangle of pixels.
typedef void (*_krmTransform2Fn)(struct _krmTransform_struct* CMMcargo, const void* InputBuffer, void* OutputBuffer,
                                 krmUInt32Number PixelsPerLine, krmUInt32Number LineCount, const krmStride* Stride);
// Workers of transform plug-ins written for the interface before 2080: one line per call.
typedef void (*_krmTransformFn)(struct _krmTransform_struct* CMMcargo, const void* InputBuffer, void* OutputBuffer,
                                krmUInt32Number Size, krmUInt32Number Stride);
typedef void (*_krmSchedulerFn)(struct _krmTransform_struct* CMMcargo, const void* InputBuffer, void* OutputBuffer,
                                krmUInt32Number PixelsPerLine, krmUInt32Number LineCount, const krmStride* Stride);

// 'zfmH': a transform factory may take over a pipeline; it may change the formats and flags.
typedef krmBool (*_krmTransformFactory)(_krmTransformFn* xform, void** UserData, _krmFreeUserDataFn* FreePrivateDataFn,
                                        krmPipeline** Lut, krmUInt32Number* InputFormat,
                                        krmUInt32Number* OutputFormat, krmUInt32Number* dwFlags);
typedef krmBool (*_krmTransform2Factory)(_krmTransform2Fn* xform, void** UserData,
                                         _krmFreeUserDataFn* FreePrivateDataFn, krmPipeline** Lut,
                                         krmUInt32Number* InputFormat, krmUInt32Number* OutputFormat,
                                         krmUInt32Number* dwFlags);
typedef struct {
    krmPluginBase base;
    union {
        _krmTransformFactory legacy_xform;  // ExpectedVersion below 2080
        _krmTransform2Factory xform;
    } factories;
} krmPluginTransform;

struct _krmTransform_struct {
    krmUInt32Number InputFormat;
    krmUInt32Number OutputFormat;

    _krmTransform2Fn xform;  // the worker chosen at creation

    krmFormatter16 FromInput;
    krmFormatter16 ToOutput;
    krmFormatterFloat FromInputFloat;
    krmFormatterFloat ToOutputFloat;

    _krmCACHE Cache;

    struct _krmPipeline_struct* Lut;  // owned
    struct _krmPipeline_struct* GamutCheck;  // owned, optional

    krmNamedColorList* InputColorant;  // optional copies
    krmNamedColorList* OutputColorant;

    krmColorSpaceSignature EntryColorSpace;
    krmColorSpaceSignature ExitColorSpace;
    krmCIEXYZ EntryWhitePoint;
    krmCIEXYZ ExitWhitePoint;

    krmSequence* Sequence;  // with krmFlagKeepSequence

    krmUInt32Number dwOriginalFlags;
    krmUInt32Number RenderingIntent;

    krmContext ContextID;
    void* UserData;
    _krmFreeUserDataFn FreeUserData;

    // Plug-in workers.
    _krmTransformFn OldXform;
    _krmTransform2Fn Worker;
    krmInt32Number MaxWorkers;
    krmUInt32Number WorkerFlags;
    _krmSchedulerFn Scheduler;  // from a parallelisation plug-in

    struct _krmFastWorker* Fast;  // owned tables of a whole-line worker, or null
};

// Whole-line workers for chunky 8- and 16-bit layouts over an optimised pipeline (krmfast.cpp).
// Returns the worker and sets p->Fast, or null when the formats or the pipeline do not allow one.
_krmTransform2Fn _krmChooseFastWorker(_krmTransform_struct* p, krmUInt32Number InputFormat,
                                      krmUInt32Number OutputFormat, krmUInt32Number dwFlags);
void _krmFreeFastWorker(_krmTransform_struct* p);
// Which whole-line worker a transform uses ("matrix-shaper avx2", "clut portable"...), or null.
const char* _krmFastWorkerName(krmTransform t);

// One 16-bit CLUT output per node: 0 in gamut, else how far out (chain 0..n-1 proofed through hGamut).
krmPipeline* _krmCreateGamutCheckPipeline(krmContext ContextID, krmProfile hProfiles[], krmBool BPC[],
                                          krmUInt32Number Intents[], krmFloat64Number AdaptationStates[],
                                          krmUInt32Number nGamutPCSposition, krmProfile hGamut);

// ==== END TRANSFORMS ====

// ==== BUILTIN-PROFILES ====
// ==== END BUILTIN-PROFILES ====

// ==== OPTIMISATION ====

// Replaces the pipeline by a faster equivalent where one applies; may set the optimized bit of the
// output format and add krmFlagNoCache or krmFlagNoWhiteOnWhiteFixup to the flags.
krmBool krmOptimizePipeline(krmContext ContextID, krmPipeline** PtrLut, krmUInt32Number Intent,
                            krmUInt32Number* InputFormat, krmUInt32Number* OutputFormat, krmUInt32Number* dwFlags);

// 'optH': an optimisation tried before the built-in ones.
typedef krmBool (*_krmOPToptimizeFn)(krmPipeline** Lut, krmUInt32Number Intent, krmUInt32Number* InputFormat,
                                     krmUInt32Number* OutputFormat, krmUInt32Number* dwFlags);
typedef struct {
    krmPluginBase base;
    _krmOPToptimizeFn OptimizePtr;
} krmPluginOptimization;

// Private data of the optimised evaluators that whole-line workers read (null for other pipelines).
// The integer matrix-shaper: values in 1.14 fixed point.
typedef struct {
    krmInt32Number Shaper1[3][256];
    krmInt32Number Mat[3][3];
    krmInt32Number Off[3];
    krmUInt16Number Shaper2[3][16385];
} _krmMatShaper8Data;
const _krmMatShaper8Data* _krmOptimizedMatShaper(const krmPipeline* Lut);
// A resampled pipeline that is a lone 16-bit CLUT stage: its interpolation parameters.
const krmInterpParams* _krmOptimizedPlainCLUT(const krmPipeline* Lut);
// The prelinearised 8-bit RGB CLUT: per input byte the cell offset, upper-neighbour offset and
// fraction, and its own copy of the nodes.
typedef struct {
    krmUInt32Number nOutputs;
    krmUInt32Number Base[3][256];   // cell offset, in values
    krmUInt32Number Upper[3][256];  // offset of the upper neighbour from the cell
    krmInt32Number Rest[3][256];    // fraction, 0..65535
    krmUInt32Number nValues;
    krmUInt16Number Table[1];  // nValues node values
} _krmPrelin8Data;
const _krmPrelin8Data* _krmOptimizedPrelin8(const krmPipeline* Lut);
// True when the pipeline's single-precision evaluation runs its stages one after the other.
krmBool _krmPipelineEvaluatesStages(const krmPipeline* lut);
krmBool _krmStageIsCLut16(const krmStage* mpe);
krmBool _krmStageIsTableCurves(const krmStage* mpe);
// True when the parameters use the built-in 16-bit tetrahedral routine.
krmBool _krmIsTetrahedral16(const krmInterpParams* p);
// True when the parameters use the built-in 16-bit routine for four inputs.
krmBool _krmIsEval4Inputs16(const krmInterpParams* p);

// ==== END OPTIMISATION ====
