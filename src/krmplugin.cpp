// Plug-in registration: each record of a chain goes into the list or slot of its kind.

#include "krm_internal.h"

#include <cstring>

// Where a plug-in kind is kept, and whether it is a list (newest first) or a single slot.
struct PluginKind {
    krmUInt32Number Type;
    _krmMemoryClient Client;
    bool IsList;
};

static const PluginKind kPluginKinds[] = {
    {krmPluginMemHandlerSig, MemPlugin, false},
    {krmPluginInterpolationSig, InterpPlugin, false},
    {krmPluginParametricCurveSig, CurvesPlugin, true},
    {krmPluginFormattersSig, FormattersPlugin, true},
    {krmPluginTagTypeSig, TagTypePlugin, true},
    {krmPluginTagSig, TagPlugin, true},
    {krmPluginRenderingIntentSig, IntentPlugin, true},
    {krmPluginMultiProcessElementSig, MPEPlugin, true},
    {krmPluginOptimizationSig, OptimizationPlugin, true},
    {krmPluginTransformSig, TransformPlugin, true},
    {krmPluginMutexSig, MutexPlugin, false},
    {krmPluginParalellizationSig, ParallelizationPlugin, false},
    {krmPluginHeaderSig, HeaderPlugin, false},
};

static const PluginKind* findKind(krmUInt32Number type)
{
    for (const PluginKind& k : kPluginKinds)
        if (k.Type == type) return &k;
    return nullptr;
}

const _krmPluginListEntry* _krmGetPluginList(krmContext ctx, krmUInt32Number pluginType)
{
    const PluginKind* k = findKind(pluginType);
    if (k == nullptr || !k->IsList) return nullptr;
    _krmPluginChunkType* chunk = (_krmPluginChunkType*)_krmContextGetClientChunk(ctx, k->Client);
    return chunk ? chunk->List : nullptr;
}

krmPluginBase* _krmGetPluginSlot(krmContext ctx, krmUInt32Number pluginType)
{
    const PluginKind* k = findKind(pluginType);
    if (k == nullptr || k->IsList) return nullptr;

    void* chunk = _krmContextGetClientChunk(ctx, k->Client);
    if (chunk == nullptr) return nullptr;
    switch (k->Client) {
    case MemPlugin:
        return ((_krmMemPluginChunkType*)chunk)->Plugin;
    case MutexPlugin:
        return ((_krmMutexPluginChunkType*)chunk)->Plugin;
    default:
        return ((_krmPluginChunkType*)chunk)->Slot;
    }
}

// Checks that the routines a single-slot kind requires are present.
static bool isComplete(const krmPluginBase* Plugin)
{
    switch (Plugin->Type) {
    case krmPluginMemHandlerSig: {
        const krmPluginMemHandler* p = (const krmPluginMemHandler*)Plugin;
        return p->MallocPtr && p->FreePtr && p->ReallocPtr;
    }
    case krmPluginMutexSig: {
        const krmPluginMutex* p = (const krmPluginMutex*)Plugin;
        return p->CreateMutexPtr && p->DestroyMutexPtr && p->LockMutexPtr && p->UnlockMutexPtr;
    }
    case krmPluginParalellizationSig:
        return ((const krmPluginParalellization*)Plugin)->SchedulerFn != nullptr;
    case krmPluginHeaderSig: {
        const krmPluginHeader* p = (const krmPluginHeader*)Plugin;
        return p->ReadHook && p->WriteHook;
    }
    default:
        return true;
    }
}

// Size of the records the container itself reads; those are copied into the context's pool so
// that callers may register records that do not outlive the call. Others are kept by pointer.
static krmUInt32Number copiedRecordSize(krmUInt32Number type)
{
    switch (type) {
    case krmPluginTagTypeSig:
        return sizeof(krmPluginTagType);
    case krmPluginTagSig:
        return sizeof(krmPluginTag);
    case krmPluginHeaderSig:
        return sizeof(krmPluginHeader);
    default:
        return 0;
    }
}

static krmBool registerOne(krmContext ctx, krmPluginBase* Plugin, const PluginKind* k)
{
    void* chunk = _krmContextGetClientChunk(ctx, k->Client);
    if (chunk == nullptr) return false;

    krmUInt32Number copySize = copiedRecordSize(Plugin->Type);
    if (copySize != 0) {
        krmPluginBase* copy = (krmPluginBase*)krmPluginMalloc(ctx, copySize);
        if (copy == nullptr) return false;
        memcpy(copy, Plugin, copySize);
        copy->Next = nullptr;
        Plugin = copy;
    }

    if (k->IsList) {
        _krmPluginChunkType* c = (_krmPluginChunkType*)chunk;
        _krmPluginListEntry* e = (_krmPluginListEntry*)krmPluginMalloc(ctx, sizeof(_krmPluginListEntry));
        if (e == nullptr) return false;
        e->Plugin = Plugin;
        e->Next = c->List;
        c->List = e;
        return true;
    }

    switch (k->Client) {
    case MemPlugin:
        _krmInstallAllocFunctions((const krmPluginMemHandler*)Plugin, (_krmMemPluginChunkType*)chunk);
        break;
    case MutexPlugin: {
        const krmPluginMutex* p = (const krmPluginMutex*)Plugin;
        _krmMutexPluginChunkType* m = (_krmMutexPluginChunkType*)chunk;
        m->CreateMutexPtr = p->CreateMutexPtr;
        m->DestroyMutexPtr = p->DestroyMutexPtr;
        m->LockMutexPtr = p->LockMutexPtr;
        m->UnlockMutexPtr = p->UnlockMutexPtr;
        m->Plugin = Plugin;
        break;
    }
    default:
        ((_krmPluginChunkType*)chunk)->Slot = Plugin;
        break;
    }
    return true;
}

krmBool krmRegisterPluginInContext(krmContext ContextID, void* Plug_in)
{
    krmContext ctx = _krmContextResolve(ContextID);

    for (krmPluginBase* Plugin = (krmPluginBase*)Plug_in; Plugin != nullptr; Plugin = Plugin->Next) {
        if (Plugin->Magic != krmPluginMagicNumber) {
            krmSignalError(ctx, krmErrUnknownExtension, "Unrecognized plugin");
            return false;
        }
        if (Plugin->ExpectedVersion > KRM_VERSION) {
            krmSignalError(ctx, krmErrUnknownExtension, "plugin needs Corvane %d, current version is %d",
                           (int)Plugin->ExpectedVersion, KRM_VERSION);
            return false;
        }
        const PluginKind* k = findKind(Plugin->Type);
        if (k == nullptr) {
            krmSignalError(ctx, krmErrUnknownExtension, "Unrecognized plugin type '%X'", Plugin->Type);
            return false;
        }
        if (!isComplete(Plugin)) {
            krmSignalError(ctx, krmErrUnknownExtension, "Incomplete plugin of type '%X'", Plugin->Type);
            return false;
        }
        if (!registerOne(ctx, Plugin, k)) return false;
    }
    return true;
}

krmBool krmRegisterPlugin(void* Plug_in)
{
    return krmRegisterPluginInContext(nullptr, Plug_in);
}

krmTransformWorkerFn krmGetTransformWorker(krmTransform hTransform)
{
    return hTransform ? hTransform->Worker : nullptr;
}

krmInt32Number krmGetTransformMaxWorkers(krmTransform hTransform) { return hTransform ? hTransform->MaxWorkers : 0; }

krmUInt32Number krmGetTransformWorkerFlags(krmTransform hTransform) { return hTransform ? hTransform->WorkerFlags : 0; }
