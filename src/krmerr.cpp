// Contexts, memory, the sub-allocator, error reporting and mutexes.

#include "krm_internal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>

// Largest single allocation the default routines accept (2 GiB).
#define MAX_MEMORY_FOR_ALLOC ((krmUInt32Number)0x80000000u)
#define MAX_ERROR_MESSAGE_LEN 1024

// ---------------------------------------------------------------------------------------------
// Default memory routines
// ---------------------------------------------------------------------------------------------

void* _krmMallocDefaultFn(krmContext ContextID, krmUInt32Number size)
{
    if (size == 0 || size > MAX_MEMORY_FOR_ALLOC) return nullptr;
    return malloc(size);
}

static void* _krmMallocZeroDefaultFn(krmContext ContextID, krmUInt32Number size)
{
    void* pt = krmMalloc(ContextID, size);
    if (pt == nullptr) return nullptr;
    memset(pt, 0, size);
    return pt;
}

void _krmFreeDefaultFn(krmContext ContextID, void* Ptr)
{
    if (Ptr) free(Ptr);
}

static void* _krmReallocDefaultFn(krmContext ContextID, void* Ptr, krmUInt32Number size)
{
    // A zero size would free the block behind the caller's back; refuse it instead.
    if (size == 0 || size > MAX_MEMORY_FOR_ALLOC) return nullptr;
    return realloc(Ptr, size);
}

static void* _krmCallocDefaultFn(krmContext ContextID, krmUInt32Number num, krmUInt32Number size)
{
    if (size == 0) return nullptr;
    krmUInt32Number Total = num * size;
    if (num >= 0xFFFFFFFFu / size) return nullptr;
    if (Total < num || Total < size) return nullptr;
    if (Total > MAX_MEMORY_FOR_ALLOC) return nullptr;
    return krmMallocZero(ContextID, Total);
}

static void* _krmDupDefaultFn(krmContext ContextID, const void* Org, krmUInt32Number size)
{
    if (size > MAX_MEMORY_FOR_ALLOC) return nullptr;
    void* mem = krmMalloc(ContextID, size);
    if (mem != nullptr && Org != nullptr) memmove(mem, Org, size);
    return mem;
}

// Fills a memory chunk from a 'memH' record (null: the defaults). Optional routines not given
// are the defaults, which call back into the chunk's malloc.
void _krmInstallAllocFunctions(const krmPluginMemHandler* Plugin, _krmMemPluginChunkType* ptr)
{
    if (Plugin == nullptr) {
        ptr->MallocPtr = _krmMallocDefaultFn;
        ptr->MallocZeroPtr = _krmMallocZeroDefaultFn;
        ptr->FreePtr = _krmFreeDefaultFn;
        ptr->ReallocPtr = _krmReallocDefaultFn;
        ptr->CallocPtr = _krmCallocDefaultFn;
        ptr->DupPtr = _krmDupDefaultFn;
        ptr->Plugin = nullptr;
        return;
    }
    ptr->MallocPtr = Plugin->MallocPtr;
    ptr->FreePtr = Plugin->FreePtr;
    ptr->ReallocPtr = Plugin->ReallocPtr;
    ptr->MallocZeroPtr = Plugin->MallocZeroPtr ? Plugin->MallocZeroPtr : _krmMallocZeroDefaultFn;
    ptr->CallocPtr = Plugin->CallocPtr ? Plugin->CallocPtr : _krmCallocDefaultFn;
    ptr->DupPtr = Plugin->DupPtr ? Plugin->DupPtr : _krmDupDefaultFn;
    ptr->Plugin = (krmPluginBase*)Plugin;
}

// ---------------------------------------------------------------------------------------------
// Default mutexes: recursive, like the platform critical sections they stand for
// ---------------------------------------------------------------------------------------------

static void* defMtxCreate(krmContext id)
{
    void* mem = krmMalloc(id, sizeof(std::recursive_mutex));
    if (mem == nullptr) return nullptr;
    return new (mem) std::recursive_mutex();
}

static void defMtxDestroy(krmContext id, void* mtx)
{
    if (mtx == nullptr) return;
    static_cast<std::recursive_mutex*>(mtx)->~recursive_mutex();
    krmFree(id, mtx);
}

static krmBool defMtxLock(krmContext id, void* mtx)
{
    try {
        static_cast<std::recursive_mutex*>(mtx)->lock();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

static void defMtxUnlock(krmContext id, void* mtx)
{
    static_cast<std::recursive_mutex*>(mtx)->unlock();
}

// ---------------------------------------------------------------------------------------------
// Default chunks and the global context
// ---------------------------------------------------------------------------------------------

static void DefaultLogErrorHandlerFunction(krmContext ContextID, krmUInt32Number ErrorCode, const char* Text)
{
    // Silent by default: callers install their own handler.
}

static _krmLogErrorChunkType LogErrorChunk = {DefaultLogErrorHandlerFunction};
static _krmAlarmCodesChunkType AlarmCodesChunk = {{0x7F00, 0x7F00, 0x7F00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}};
static _krmAdaptationStateChunkType AdaptationStateChunk = {1.0};
static _krmPluginChunkType InterpPluginChunk = {nullptr, nullptr};
static _krmPluginChunkType CurvesPluginChunk = {nullptr, nullptr};
static _krmPluginChunkType FormattersPluginChunk = {nullptr, nullptr};
static _krmPluginChunkType TagTypePluginChunk = {nullptr, nullptr};
static _krmPluginChunkType TagPluginChunk = {nullptr, nullptr};
static _krmPluginChunkType IntentPluginChunk = {nullptr, nullptr};
static _krmPluginChunkType MPEPluginChunk = {nullptr, nullptr};
static _krmPluginChunkType OptimizationPluginChunk = {nullptr, nullptr};
static _krmPluginChunkType TransformPluginChunk = {nullptr, nullptr};
static _krmMutexPluginChunkType MutexChunk = {defMtxCreate, defMtxDestroy, defMtxLock, defMtxUnlock, nullptr};
static _krmPluginChunkType ParallelizationPluginChunk = {nullptr, nullptr};
static _krmPluginChunkType HeaderPluginChunk = {nullptr, nullptr};

// The pristine defaults, copied into new contexts and restored on deletion.
static const _krmLogErrorChunkType kLogErrorDefault = {DefaultLogErrorHandlerFunction};
static const _krmAlarmCodesChunkType kAlarmCodesDefault = {
    {0x7F00, 0x7F00, 0x7F00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}};
static const _krmAdaptationStateChunkType kAdaptationStateDefault = {1.0};
static const _krmPluginChunkType kPluginChunkDefault = {nullptr, nullptr};
static const _krmMutexPluginChunkType kMutexDefault = {defMtxCreate, defMtxDestroy, defMtxLock, defMtxUnlock, nullptr};

static struct _krmContext_struct globalContext = {
    nullptr,  // Next
    nullptr,  // MemPool: created on first use
    {
        nullptr,  // UserPtr
        &LogErrorChunk,
        &AlarmCodesChunk,
        &AdaptationStateChunk,
        &globalContext.DefaultMemoryManager,  // the context's own copy of the routines
        &InterpPluginChunk,
        &CurvesPluginChunk,
        &FormattersPluginChunk,
        &TagTypePluginChunk,
        &TagPluginChunk,
        &IntentPluginChunk,
        &MPEPluginChunk,
        &OptimizationPluginChunk,
        &TransformPluginChunk,
        &MutexChunk,
        &ParallelizationPluginChunk,
        &HeaderPluginChunk,
    },
    {_krmMallocDefaultFn, _krmMallocZeroDefaultFn, _krmFreeDefaultFn, _krmReallocDefaultFn, _krmCallocDefaultFn,
     _krmDupDefaultFn, nullptr},
};

// Head of the list of live contexts, guarded by the process-wide lock.
static struct _krmContext_struct* _krmContextPoolHead = nullptr;

// ---------------------------------------------------------------------------------------------
// Process-wide lock
// ---------------------------------------------------------------------------------------------

static std::recursive_mutex& globalLock()
{
    // Function-local static: initialised exactly once even when threads race.
    static std::recursive_mutex m;
    return m;
}

krmBool _krmEnterGlobalLock(void)
{
    try {
        globalLock().lock();
    } catch (const std::system_error&) {
        krmSignalError(nullptr, krmErrInternal, "Mutex lock failed");
        return false;
    }
    return true;
}

void _krmLeaveGlobalLock(void)
{
    globalLock().unlock();
}

// ---------------------------------------------------------------------------------------------
// Context resolution and chunks
// ---------------------------------------------------------------------------------------------

// Searches the list without taking the lock (callers hold it).
static struct _krmContext_struct* resolveLocked(krmContext ContextID)
{
    for (struct _krmContext_struct* ctx = _krmContextPoolHead; ctx != nullptr; ctx = ctx->Next) {
        if (ctx == ContextID) return ctx;
    }
    return &globalContext;
}

krmContext _krmContextResolve(krmContext ContextID)
{
    if (ContextID == nullptr) return &globalContext;

    // Unknown and stale handles silently resolve to the global context.
    std::lock_guard<std::recursive_mutex> guard(globalLock());
    return resolveLocked(ContextID);
}

void* _krmContextGetClientChunk(krmContext ContextID, _krmMemoryClient mc)
{
    if ((int)mc < 0 || mc >= krmMemoryClientMax) {
        krmSignalError(ContextID, krmErrInternal, "Bad context client -- possible corruption");
        _krmAssert(0);
        return globalContext.chunks[UserPtr];
    }

    struct _krmContext_struct* ctx = _krmContextResolve(ContextID);
    void* ptr = ctx->chunks[mc];
    if (ptr != nullptr) return ptr;

    // A context without this chunk uses the global default.
    return globalContext.chunks[mc];
}

// ---------------------------------------------------------------------------------------------
// Memory entry points
// ---------------------------------------------------------------------------------------------

static _krmMemPluginChunkType* memChunk(krmContext ContextID)
{
    return (_krmMemPluginChunkType*)_krmContextGetClientChunk(ContextID, MemPlugin);
}

void* krmMalloc(krmContext ContextID, krmUInt32Number size)
{
    return memChunk(ContextID)->MallocPtr(ContextID, size);
}

void* krmMallocZero(krmContext ContextID, krmUInt32Number size)
{
    return memChunk(ContextID)->MallocZeroPtr(ContextID, size);
}

void* krmCalloc(krmContext ContextID, krmUInt32Number num, krmUInt32Number size)
{
    return memChunk(ContextID)->CallocPtr(ContextID, num, size);
}

void* krmRealloc(krmContext ContextID, void* Ptr, krmUInt32Number size)
{
    return memChunk(ContextID)->ReallocPtr(ContextID, Ptr, size);
}

void krmFree(krmContext ContextID, void* Ptr)
{
    if (Ptr != nullptr) memChunk(ContextID)->FreePtr(ContextID, Ptr);
}

void* krmDupMem(krmContext ContextID, const void* Org, krmUInt32Number size)
{
    return memChunk(ContextID)->DupPtr(ContextID, Org, size);
}

// ---------------------------------------------------------------------------------------------
// Sub-allocator
// ---------------------------------------------------------------------------------------------

static _krmSubAllocator_chunk* _krmCreateSubAllocChunk(krmContext ContextID, krmUInt32Number Initial)
{
    if (Initial == 0) Initial = 20 * 1024;

    _krmSubAllocator_chunk* chunk =
        (_krmSubAllocator_chunk*)krmMallocZero(ContextID, sizeof(_krmSubAllocator_chunk));
    if (chunk == nullptr) return nullptr;

    chunk->Block = (krmUInt8Number*)krmMalloc(ContextID, Initial);
    if (chunk->Block == nullptr) {
        krmFree(ContextID, chunk);
        return nullptr;
    }
    chunk->BlockSize = Initial;
    chunk->Used = 0;
    chunk->next = nullptr;
    return chunk;
}

_krmSubAllocator* _krmCreateSubAlloc(krmContext ContextID, krmUInt32Number Initial)
{
    _krmSubAllocator* sub = (_krmSubAllocator*)krmMallocZero(ContextID, sizeof(_krmSubAllocator));
    if (sub == nullptr) return nullptr;

    sub->ContextID = ContextID;
    sub->h = _krmCreateSubAllocChunk(ContextID, Initial);
    if (sub->h == nullptr) {
        krmFree(ContextID, sub);
        return nullptr;
    }
    return sub;
}

void _krmSubAllocDestroy(_krmSubAllocator* sub)
{
    if (sub == nullptr) return;
    _krmSubAllocator_chunk* n;
    for (_krmSubAllocator_chunk* chunk = sub->h; chunk != nullptr; chunk = n) {
        n = chunk->next;
        krmFree(sub->ContextID, chunk->Block);
        krmFree(sub->ContextID, chunk);
    }
    krmFree(sub->ContextID, sub);
}

void* _krmSubAlloc(_krmSubAllocator* sub, krmUInt32Number size)
{
    if (size == 0 || size > MAX_MEMORY_FOR_ALLOC) return nullptr;
    size = (size + 7u) & ~7u;  // 8-byte alignment

    krmUInt32Number Free = sub->h->BlockSize - sub->h->Used;
    if (size > Free) {
        krmUInt32Number newSize = sub->h->BlockSize * 2;
        if (newSize < size) newSize = size;

        _krmSubAllocator_chunk* chunk = _krmCreateSubAllocChunk(sub->ContextID, newSize);
        if (chunk == nullptr) return nullptr;
        chunk->next = sub->h;
        sub->h = chunk;
    }

    krmUInt8Number* ptr = sub->h->Block + sub->h->Used;
    sub->h->Used += size;
    return (void*)ptr;
}

void* _krmSubAllocDup(_krmSubAllocator* s, const void* ptr, krmUInt32Number size)
{
    if (ptr == nullptr) return nullptr;
    void* NewPtr = _krmSubAlloc(s, size);
    if (NewPtr != nullptr) memcpy(NewPtr, ptr, size);
    return NewPtr;
}

void* krmPluginMalloc(krmContext ContextID, krmUInt32Number size)
{
    struct _krmContext_struct* ctx = _krmContextResolve(ContextID);

    if (ctx->MemPool == nullptr) {
        if (ctx == &globalContext) {
            ctx->MemPool = _krmCreateSubAlloc(nullptr, 2 * 1024);
            if (ctx->MemPool == nullptr) return nullptr;
        } else {
            krmSignalError(ContextID, krmErrCorruptionDetected, "NULL memory pool on context");
            return nullptr;
        }
    }
    return _krmSubAlloc(ctx->MemPool, size);
}

// ---------------------------------------------------------------------------------------------
// Contexts
// ---------------------------------------------------------------------------------------------

// The first 'memH' record of a chain that this engine accepts, or null.
static const krmPluginMemHandler* findMemPlugin(void* PluginBundle)
{
    for (krmPluginBase* Plugin = (krmPluginBase*)PluginBundle; Plugin != nullptr; Plugin = Plugin->Next) {
        if (Plugin->Magic == krmPluginMagicNumber && Plugin->ExpectedVersion <= KRM_VERSION &&
            Plugin->Type == krmPluginMemHandlerSig) {
            const krmPluginMemHandler* mh = (const krmPluginMemHandler*)Plugin;
            if (mh->MallocPtr && mh->FreePtr && mh->ReallocPtr) return mh;
        }
    }
    return nullptr;
}

// Fills every chunk but 0 and 4 with a pool copy of its default.
static krmBool fillDefaultChunks(struct _krmContext_struct* ctx)
{
    _krmSubAllocator* p = ctx->MemPool;

    ctx->chunks[Logger] = _krmSubAllocDup(p, &kLogErrorDefault, sizeof(kLogErrorDefault));
    ctx->chunks[AlarmCodesContext] = _krmSubAllocDup(p, &kAlarmCodesDefault, sizeof(kAlarmCodesDefault));
    ctx->chunks[AdaptationStateContext] =
        _krmSubAllocDup(p, &kAdaptationStateDefault, sizeof(kAdaptationStateDefault));
    ctx->chunks[MutexPlugin] = _krmSubAllocDup(p, &kMutexDefault, sizeof(kMutexDefault));

    const _krmMemoryClient pluginChunks[] = {InterpPlugin,   CurvesPlugin,       FormattersPlugin,
                                             TagTypePlugin,  TagPlugin,          IntentPlugin,
                                             MPEPlugin,      OptimizationPlugin, TransformPlugin,
                                             ParallelizationPlugin, HeaderPlugin};
    for (_krmMemoryClient c : pluginChunks)
        ctx->chunks[c] = _krmSubAllocDup(p, &kPluginChunkDefault, sizeof(kPluginChunkDefault));

    for (int i = 1; i < krmMemoryClientMax; i++) {
        if (i == MemPlugin) continue;
        if (ctx->chunks[i] == nullptr) return false;
    }
    return true;
}

// Restores every plug-in client (chunks 4 to 16) of a context to its default.
static void resetPluginChunks(struct _krmContext_struct* ctx)
{
    for (int i = InterpPlugin; i <= HeaderPlugin; i++) {
        if (i == MutexPlugin) continue;
        _krmPluginChunkType* c = (_krmPluginChunkType*)ctx->chunks[i];
        if (c) *c = kPluginChunkDefault;
    }
    _krmMutexPluginChunkType* m = (_krmMutexPluginChunkType*)ctx->chunks[MutexPlugin];
    if (m) *m = kMutexDefault;

    // The context keeps the routines it was made with; the global context goes back to the defaults.
    if (ctx == &globalContext) _krmInstallAllocFunctions(nullptr, &ctx->DefaultMemoryManager);
    ctx->chunks[MemPlugin] = &ctx->DefaultMemoryManager;
}

krmContext krmCreateContext(void* Plugin, void* UserData)
{

    // Make sure the process-wide lock can be taken before anything else.
    if (!_krmEnterGlobalLock()) return nullptr;
    _krmLeaveGlobalLock();

    _krmMemPluginChunkType fakeContextMem;
    _krmInstallAllocFunctions(findMemPlugin(Plugin), &fakeContextMem);

    struct _krmContext_struct* ctx =
        (struct _krmContext_struct*)fakeContextMem.MallocPtr(nullptr, sizeof(struct _krmContext_struct));
    if (ctx == nullptr) return nullptr;
    memset(ctx, 0, sizeof(struct _krmContext_struct));

    // The context frees itself with the routines that allocated it; set them before it is visible.
    ctx->DefaultMemoryManager = fakeContextMem;
    ctx->chunks[MemPlugin] = &ctx->DefaultMemoryManager;
    ctx->chunks[UserPtr] = UserData;

    if (!_krmEnterGlobalLock()) {
        ctx->DefaultMemoryManager.FreePtr(nullptr, ctx);
        return nullptr;
    }
    ctx->Next = _krmContextPoolHead;
    _krmContextPoolHead = ctx;
    _krmLeaveGlobalLock();

    ctx->MemPool = _krmCreateSubAlloc(ctx, 22 * sizeof(void*));
    if (ctx->MemPool == nullptr || !fillDefaultChunks(ctx)) {
        krmDeleteContext(ctx);
        return nullptr;
    }

    if (!krmRegisterPluginInContext(ctx, Plugin)) {
        krmDeleteContext(ctx);
        return nullptr;
    }
    return ctx;
}

void krmDeleteContext(krmContext ContextID)
{

    if (ContextID == nullptr) {
        // The global context stays; its registrations and pool go.
        resetPluginChunks(&globalContext);
        if (globalContext.MemPool) {
            _krmSubAllocDestroy(globalContext.MemPool);
            globalContext.MemPool = nullptr;
        }
        return;
    }

    struct _krmContext_struct* ctx = _krmContextResolve(ContextID);
    if (ctx == &globalContext) return;  // unknown or already deleted: nothing of ours to free

    _krmMemPluginChunkType fakeContext = ctx->DefaultMemoryManager;

    // Chunks live in the pool; clear them before the pool goes.
    resetPluginChunks(ctx);
    if (ctx->MemPool) _krmSubAllocDestroy(ctx->MemPool);
    ctx->MemPool = nullptr;

    if (_krmEnterGlobalLock()) {
        if (_krmContextPoolHead == ctx) {
            _krmContextPoolHead = ctx->Next;
        } else {
            for (struct _krmContext_struct* prev = _krmContextPoolHead; prev != nullptr; prev = prev->Next) {
                if (prev->Next == ctx) {
                    prev->Next = ctx->Next;
                    break;
                }
            }
        }
        _krmLeaveGlobalLock();
    }

    fakeContext.FreePtr(nullptr, ctx);
}

void* krmGetContextUserData(krmContext ContextID)
{
    return _krmContextResolve(ContextID)->chunks[UserPtr];
}

// ---------------------------------------------------------------------------------------------
// Error reporting
// ---------------------------------------------------------------------------------------------

void krmSetLogErrorHandlerInContext(krmContext ContextID, krmLogErrorHandlerFunction Fn)
{
    _krmLogErrorChunkType* lhg = (_krmLogErrorChunkType*)_krmContextGetClientChunk(ContextID, Logger);
    if (lhg == nullptr) return;
    lhg->LogErrorHandler = Fn ? Fn : DefaultLogErrorHandlerFunction;
}

void krmSetLogErrorHandler(krmLogErrorHandlerFunction Fn)
{
    krmSetLogErrorHandlerInContext(nullptr, Fn);
}

void krmSignalError(krmContext ContextID, krmUInt32Number ErrorCode, const char* ErrorText, ...)
{
    char Buffer[MAX_ERROR_MESSAGE_LEN];
    va_list args;
    va_start(args, ErrorText);
    vsnprintf(Buffer, MAX_ERROR_MESSAGE_LEN, ErrorText, args);  // at most 1023 characters
    va_end(args);
    Buffer[MAX_ERROR_MESSAGE_LEN - 1] = 0;

    _krmLogErrorChunkType* lhg = (_krmLogErrorChunkType*)_krmContextGetClientChunk(ContextID, Logger);
    if (lhg->LogErrorHandler) lhg->LogErrorHandler(ContextID, ErrorCode, Buffer);
}

// ---------------------------------------------------------------------------------------------
// Per-object mutexes
// ---------------------------------------------------------------------------------------------

void* krmCreateMutex(krmContext ContextID)
{
    _krmMutexPluginChunkType* ptr = (_krmMutexPluginChunkType*)_krmContextGetClientChunk(ContextID, MutexPlugin);
    if (ptr->CreateMutexPtr == nullptr) return nullptr;
    return ptr->CreateMutexPtr(ContextID);
}

void krmDestroyMutex(krmContext ContextID, void* mtx)
{
    _krmMutexPluginChunkType* ptr = (_krmMutexPluginChunkType*)_krmContextGetClientChunk(ContextID, MutexPlugin);
    if (ptr->DestroyMutexPtr != nullptr && mtx != nullptr) ptr->DestroyMutexPtr(ContextID, mtx);
}

krmBool krmLockMutex(krmContext ContextID, void* mtx)
{
    _krmMutexPluginChunkType* ptr = (_krmMutexPluginChunkType*)_krmContextGetClientChunk(ContextID, MutexPlugin);
    if (ptr->LockMutexPtr == nullptr || mtx == nullptr) return true;
    return ptr->LockMutexPtr(ContextID, mtx);
}

void krmUnlockMutex(krmContext ContextID, void* mtx)
{
    _krmMutexPluginChunkType* ptr = (_krmMutexPluginChunkType*)_krmContextGetClientChunk(ContextID, MutexPlugin);
    if (ptr->UnlockMutexPtr != nullptr && mtx != nullptr) ptr->UnlockMutexPtr(ContextID, mtx);
}

// ---------------------------------------------------------------------------------------------
// Clock
// ---------------------------------------------------------------------------------------------

krmBool _krmGetTime(struct tm* ptr_time)
{
    time_t now = time(nullptr);
    if (now == (time_t)-1) return false;
    struct tm* t = gmtime_r(&now, ptr_time);
    return t != nullptr;
}
