// Contexts, memory routines, error reporting, plug-in registration and mutexes.

#include "krm_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Logged {
    krmContext ctx;
    krmUInt32Number code;
    std::string text;
};

std::vector<Logged> g_log;

void captureHandler(krmContext ctx, krmUInt32Number code, const char* text)
{
    g_log.push_back({ctx, code, text});
}

krmPluginTag makeTagPlugin(krmUInt32Number version, krmTagSignature sig)
{
    krmPluginTag p;
    memset(&p, 0, sizeof(p));
    p.base.Magic = krmPluginMagicNumber;
    p.base.ExpectedVersion = version;
    p.base.Type = krmPluginTagSig;
    p.Signature = sig;
    return p;
}

// Each test gets its own context with a capturing handler, deleted afterwards.
class ContextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        ctx = krmCreateContext(nullptr, nullptr);
        ASSERT_NE(ctx, nullptr);
        krmSetLogErrorHandlerInContext(ctx, captureHandler);
    }
    void TearDown() override { krmDeleteContext(ctx); }
    krmContext ctx = nullptr;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Plug-in registration
// ---------------------------------------------------------------------------------------------

TEST_F(ContextTest, PluginVersionAboveEngineIsRefusedWithBothVersions)
{
    krmPluginTag p = makeTagPlugin(2201, krmSig("Zzz1"));
    EXPECT_FALSE(krmRegisterPluginInContext(ctx, &p));
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].code, (krmUInt32Number)krmErrUnknownExtension);
    EXPECT_EQ(g_log[0].text, "plugin needs Corvane 2201, current version is 2200");
    EXPECT_EQ(_krmGetPluginList(ctx, krmPluginTagSig), nullptr);
}

TEST_F(ContextTest, OlderPluginVersionIsAccepted)
{
    krmPluginTag p = makeTagPlugin(2190, krmSig("Zzz1"));
    EXPECT_TRUE(krmRegisterPluginInContext(ctx, &p));
    EXPECT_TRUE(g_log.empty());
    const _krmPluginListEntry* e = _krmGetPluginList(ctx, krmPluginTagSig);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(((const krmPluginTag*)e->Plugin)->Signature, krmSig("Zzz1"));
}

TEST_F(ContextTest, BadMagicStopsTheChainButKeepsEarlierRecords)
{
    krmPluginTag first = makeTagPlugin(2200, krmSig("Zzz1"));
    krmPluginTag second = makeTagPlugin(2200, krmSig("Zzz2"));
    krmPluginTag third = makeTagPlugin(2200, krmSig("Zzz3"));
    second.base.Magic = 0x12345678;
    first.base.Next = &second.base;
    second.base.Next = &third.base;

    EXPECT_FALSE(krmRegisterPluginInContext(ctx, &first));
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].text, "Unrecognized plugin");
    EXPECT_EQ(g_log[0].code, (krmUInt32Number)krmErrUnknownExtension);

    const _krmPluginListEntry* e = _krmGetPluginList(ctx, krmPluginTagSig);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(((const krmPluginTag*)e->Plugin)->Signature, krmSig("Zzz1"));
    EXPECT_EQ(e->Next, nullptr);
}

TEST_F(ContextTest, UnknownPluginTypeIsReportedInHex)
{
    krmPluginTag p = makeTagPlugin(2200, 0);
    p.base.Type = 0xABCD1234;
    EXPECT_FALSE(krmRegisterPluginInContext(ctx, &p));
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].text, "Unrecognized plugin type 'ABCD1234'");
}

TEST_F(ContextTest, ListKindsAreNewestFirstAndSlotsAreReplaced)
{
    krmPluginTag a = makeTagPlugin(2200, krmSig("Zzz1"));
    krmPluginTag b = makeTagPlugin(2200, krmSig("Zzz2"));
    ASSERT_TRUE(krmRegisterPluginInContext(ctx, &a));
    ASSERT_TRUE(krmRegisterPluginInContext(ctx, &b));
    const _krmPluginListEntry* e = _krmGetPluginList(ctx, krmPluginTagSig);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(((const krmPluginTag*)e->Plugin)->Signature, krmSig("Zzz2"));
    ASSERT_NE(e->Next, nullptr);
    EXPECT_EQ(((const krmPluginTag*)e->Next->Plugin)->Signature, krmSig("Zzz1"));

    auto hook = [](krmProfile, krmIOHandler*) -> krmBool { return true; };
    krmPluginHeader h1 = {{krmPluginMagicNumber, 2200, krmPluginHeaderSig, nullptr}, 0x04400000, hook, hook};
    krmPluginHeader h2 = h1;
    h2.MaxVersion = 0x05000000;
    EXPECT_EQ(_krmGetPluginSlot(ctx, krmPluginHeaderSig), nullptr);
    ASSERT_TRUE(krmRegisterPluginInContext(ctx, &h1));
    ASSERT_TRUE(krmRegisterPluginInContext(ctx, &h2));
    const krmPluginHeader* slot = (const krmPluginHeader*)_krmGetPluginSlot(ctx, krmPluginHeaderSig);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->MaxVersion, 0x05000000u);

    // A header plug-in without both hooks is refused.
    krmPluginHeader incomplete = h1;
    incomplete.WriteHook = nullptr;
    EXPECT_FALSE(krmRegisterPluginInContext(ctx, &incomplete));
    EXPECT_EQ(_krmGetPluginSlot(ctx, krmPluginHeaderSig), &slot->base);

    // Kinds of the other shape answer null.
    EXPECT_EQ(_krmGetPluginList(ctx, krmPluginHeaderSig), nullptr);
    EXPECT_EQ(_krmGetPluginSlot(ctx, krmPluginTagSig), nullptr);
}

TEST_F(ContextTest, RecordsTheEngineReadsAreCopied)
{
    {
        krmPluginTag shortLived = makeTagPlugin(2200, krmSig("Zzz9"));
        shortLived.Descriptor.ElemCount = 3;
        ASSERT_TRUE(krmRegisterPluginInContext(ctx, &shortLived));
        memset(&shortLived, 0xCC, sizeof(shortLived));
    }
    const krmPluginTag* kept = (const krmPluginTag*)_krmGetPluginList(ctx, krmPluginTagSig)->Plugin;
    EXPECT_EQ(kept->Signature, krmSig("Zzz9"));
    EXPECT_EQ(kept->Descriptor.ElemCount, 3u);
    EXPECT_EQ(kept->base.Next, nullptr);
}

TEST_F(ContextTest, RegistrationsStayInTheirOwnContext)
{
    krmPluginTag p = makeTagPlugin(2200, krmSig("Zzz1"));
    ASSERT_TRUE(krmRegisterPluginInContext(ctx, &p));
    EXPECT_EQ(_krmGetPluginList(nullptr, krmPluginTagSig), nullptr);

    krmContext other = krmCreateContext(nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(_krmGetPluginList(other, krmPluginTagSig), nullptr);
    krmDeleteContext(other);
}

TEST(GlobalContext, DeletingTheNullContextDropsGlobalRegistrations)
{
    krmPluginTag p = makeTagPlugin(2190, 0);
    ASSERT_TRUE(krmRegisterPlugin(&p));
    EXPECT_NE(_krmGetPluginList(nullptr, krmPluginTagSig), nullptr);
    krmDeleteContext(nullptr);
    EXPECT_EQ(_krmGetPluginList(nullptr, krmPluginTagSig), nullptr);

    // The global pool comes back on demand.
    EXPECT_NE(krmPluginMalloc(nullptr, 16), nullptr);
    krmDeleteContext(nullptr);
}

TEST(ContextCreation, ChainGivenAtCreationIsRegistered)
{
    krmPluginTag p = makeTagPlugin(2200, krmSig("Zzz1"));
    krmContext c = krmCreateContext(&p, nullptr);
    ASSERT_NE(c, nullptr);
    const _krmPluginListEntry* e = _krmGetPluginList(c, krmPluginTagSig);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(((const krmPluginTag*)e->Plugin)->Signature, krmSig("Zzz1"));
    krmDeleteContext(c);
}

TEST(ContextCreation, ABadChainFailsCreation)
{
    krmPluginTag p = makeTagPlugin(2201, krmSig("Zzz1"));
    EXPECT_EQ(krmCreateContext(&p, nullptr), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Handles and user data
// ---------------------------------------------------------------------------------------------

TEST(ContextHandles, UserDataAndStaleHandlesResolveToGlobal)
{
    int marker = 0;
    krmContext c = krmCreateContext(nullptr, &marker);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(krmGetContextUserData(c), &marker);
    EXPECT_EQ(_krmContextResolve(c), c);
    krmDeleteContext(c);

    krmContext global = _krmContextResolve(nullptr);
    EXPECT_EQ(_krmContextResolve(c), global);
    EXPECT_EQ(krmGetContextUserData(c), krmGetContextUserData(nullptr));

    // Messages signalled on the stale handle reach the global handler.
    g_log.clear();
    krmSetLogErrorHandler(captureHandler);
    krmSignalError(c, krmErrRange, "stale %d", 7);
    krmSetLogErrorHandler(nullptr);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].text, "stale 7");

    // An arbitrary pointer is no context either.
    EXPECT_EQ(_krmContextResolve((krmContext)&marker), global);
}

TEST(ContextHandles, ContextsCreatedAndDeletedFromManyThreads)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&failures, t] {
            for (int i = 0; i < 200; i++) {
                int mine = t * 1000 + i;
                krmContext c = krmCreateContext(nullptr, &mine);
                if (c == nullptr || krmGetContextUserData(c) != &mine) failures++;
                void* p = krmMalloc(c, 64);
                if (p == nullptr) failures++;
                krmFree(c, p);
                krmDeleteContext(c);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

// ---------------------------------------------------------------------------------------------
// Error messages
// ---------------------------------------------------------------------------------------------

TEST_F(ContextTest, LongMessagesAreCutTo1023Characters)
{
    std::string longText(5000, 'x');
    krmSignalError(ctx, krmErrUndefined, "%s", longText.c_str());
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].text.size(), 1023u);
    EXPECT_EQ(g_log[0].ctx, ctx);

    std::string exact(1023, 'y');
    krmSignalError(ctx, krmErrUndefined, "%s", exact.c_str());
    EXPECT_EQ(g_log[1].text, exact);
}

TEST_F(ContextTest, NullHandlerRestoresSilence)
{
    krmSetLogErrorHandlerInContext(ctx, nullptr);
    krmSignalError(ctx, krmErrFile, "nobody hears this");
    EXPECT_TRUE(g_log.empty());
}

TEST_F(ContextTest, HandlersArePerContext)
{
    krmSignalError(nullptr, krmErrFile, "to the global context");
    EXPECT_TRUE(g_log.empty());
    krmSignalError(ctx, krmErrFile, "to %s", "mine");
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].code, (krmUInt32Number)krmErrFile);
    EXPECT_EQ(g_log[0].text, "to mine");
}

// ---------------------------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------------------------

TEST_F(ContextTest, AllocationLimits)
{
    EXPECT_EQ(krmMalloc(ctx, 0), nullptr);
    EXPECT_EQ(krmMalloc(ctx, 0x80000001u), nullptr);
    EXPECT_EQ(krmMallocZero(ctx, 0), nullptr);
    EXPECT_EQ(krmRealloc(ctx, nullptr, 0x80000001u), nullptr);
    EXPECT_EQ(krmDupMem(ctx, nullptr, 0x80000001u), nullptr);

    // Exactly 2 GiB is attempted (the pages are never touched).
    void* big = krmMalloc(ctx, 0x80000000u);
    EXPECT_NE(big, nullptr);
    krmFree(ctx, big);
}

TEST_F(ContextTest, CallocRefusesOverflowingProducts)
{
    EXPECT_EQ(krmCalloc(ctx, 0, 16), nullptr);
    EXPECT_EQ(krmCalloc(ctx, 16, 0), nullptr);
    EXPECT_EQ(krmCalloc(ctx, 0x10000, 0x10000), nullptr);    // wraps to 0
    EXPECT_EQ(krmCalloc(ctx, 0x10001, 0x10001), nullptr);    // wraps to a small number
    EXPECT_EQ(krmCalloc(ctx, 0xFFFFFFFFu, 1), nullptr);      // count >= 0xFFFFFFFF / size
    EXPECT_EQ(krmCalloc(ctx, 0x40000001u, 2), nullptr);      // above 2 GiB

    krmUInt8Number* p = (krmUInt8Number*)krmCalloc(ctx, 100, 3);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 300; i++) ASSERT_EQ(p[i], 0);
    krmFree(ctx, p);
}

TEST_F(ContextTest, DupAndReallocKeepContents)
{
    const char src[] = "colour";
    char* d = (char*)krmDupMem(ctx, src, sizeof(src));
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d, "colour");
    d = (char*)krmRealloc(ctx, d, 1000);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d, "colour");

    // A zero-size realloc is refused and leaves the block with the caller.
    EXPECT_EQ(krmRealloc(ctx, d, 0), nullptr);
    EXPECT_STREQ(d, "colour");
    krmFree(ctx, d);
    krmFree(ctx, nullptr);
}

namespace {
std::atomic<int> g_mallocs{0};
std::atomic<int> g_frees{0};
void* countingMalloc(krmContext, krmUInt32Number size)
{
    g_mallocs++;
    return malloc(size);
}
void countingFree(krmContext, void* p)
{
    g_frees++;
    free(p);
}
void* countingRealloc(krmContext, void* p, krmUInt32Number size)
{
    return realloc(p, size);
}
}  // namespace

TEST(MemoryPlugin, ContextUsesAndFreesItselfWithItsOwnRoutines)
{
    g_mallocs = 0;
    g_frees = 0;
    krmPluginMemHandler mh;
    memset(&mh, 0, sizeof(mh));
    mh.base = {krmPluginMagicNumber, 2200, krmPluginMemHandlerSig, nullptr};
    mh.MallocPtr = countingMalloc;
    mh.FreePtr = countingFree;
    mh.ReallocPtr = countingRealloc;

    krmContext c = krmCreateContext(&mh, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(_krmGetPluginSlot(c, krmPluginMemHandlerSig), &mh.base);
    int afterCreate = g_mallocs;
    EXPECT_GE(afterCreate, 1);

    // Optional routines default to ones built on the given malloc.
    void* z = krmMallocZero(c, 32);
    void* k = krmCalloc(c, 4, 8);
    void* d = krmDupMem(c, "abc", 4);
    EXPECT_EQ(g_mallocs, afterCreate + 3);
    EXPECT_EQ(((krmUInt8Number*)z)[31], 0);
    EXPECT_STREQ((char*)d, "abc");
    krmFree(c, z);
    krmFree(c, k);
    krmFree(c, d);

    // The global context is untouched.
    void* g = krmMalloc(nullptr, 16);
    EXPECT_EQ(g_mallocs, afterCreate + 3);
    krmFree(nullptr, g);

    krmDeleteContext(c);
    EXPECT_EQ(g_mallocs.load(), g_frees.load());
}

TEST(MemoryPlugin, IncompleteMemoryPluginIsNotUsed)
{
    krmPluginMemHandler mh;
    memset(&mh, 0, sizeof(mh));
    mh.base = {krmPluginMagicNumber, 2200, krmPluginMemHandlerSig, nullptr};
    mh.MallocPtr = countingMalloc;  // no free, no realloc
    EXPECT_EQ(krmCreateContext(&mh, nullptr), nullptr);
}

TEST_F(ContextTest, PluginPoolGrowsAndAligns)
{
    std::vector<krmUInt8Number*> blocks;
    for (int i = 1; i <= 200; i++) {
        krmUInt8Number* p = (krmUInt8Number*)krmPluginMalloc(ctx, (krmUInt32Number)i);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(((uintptr_t)p) % 8, 0u);
        memset(p, i & 0xFF, (size_t)i);
        blocks.push_back(p);
    }
    // Nothing overlapped: each block still holds its own byte.
    for (int i = 1; i <= 200; i++) {
        for (int j = 0; j < i; j++) ASSERT_EQ(blocks[(size_t)i - 1][j], (krmUInt8Number)(i & 0xFF));
    }
    // A request larger than twice the newest block gets a block of its own.
    krmUInt8Number* big = (krmUInt8Number*)krmPluginMalloc(ctx, 100000);
    ASSERT_NE(big, nullptr);
    memset(big, 0xAB, 100000);
    EXPECT_EQ(krmPluginMalloc(ctx, 0), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Mutexes
// ---------------------------------------------------------------------------------------------

namespace {
int g_created, g_locked, g_unlocked, g_destroyed;
int g_fakeMutex;
void* fakeCreate(krmContext)
{
    g_created++;
    return &g_fakeMutex;
}
void fakeDestroy(krmContext, void*)
{
    g_destroyed++;
}
krmBool fakeLock(krmContext, void*)
{
    g_locked++;
    return true;
}
void fakeUnlock(krmContext, void*)
{
    g_unlocked++;
}
}  // namespace

TEST_F(ContextTest, DefaultMutexIsRecursive)
{
    void* m = krmCreateMutex(ctx);
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(krmLockMutex(ctx, m));
    EXPECT_TRUE(krmLockMutex(ctx, m));
    krmUnlockMutex(ctx, m);
    krmUnlockMutex(ctx, m);
    krmDestroyMutex(ctx, m);
}

TEST_F(ContextTest, MutexPluginReplacesTheRoutines)
{
    g_created = g_locked = g_unlocked = g_destroyed = 0;
    krmPluginMutex mp = {{krmPluginMagicNumber, 2200, krmPluginMutexSig, nullptr},
                         fakeCreate, fakeDestroy, fakeLock, fakeUnlock};
    ASSERT_TRUE(krmRegisterPluginInContext(ctx, &mp));

    void* m = krmCreateMutex(ctx);
    EXPECT_EQ(m, &g_fakeMutex);
    EXPECT_TRUE(krmLockMutex(ctx, m));
    krmUnlockMutex(ctx, m);
    krmDestroyMutex(ctx, m);
    EXPECT_EQ(g_created, 1);
    EXPECT_EQ(g_locked, 1);
    EXPECT_EQ(g_unlocked, 1);
    EXPECT_EQ(g_destroyed, 1);

    // A profile made in the context takes its mutex from there.
    krmProfile h = krmCreateProfilePlaceholder(ctx);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(g_created, 2);
    krmCloseProfile(h);
    EXPECT_EQ(g_destroyed, 2);

    krmPluginMutex partial = mp;
    partial.UnlockMutexPtr = nullptr;
    EXPECT_FALSE(krmRegisterPluginInContext(ctx, &partial));
}

// ---------------------------------------------------------------------------------------------
// Default chunks
// ---------------------------------------------------------------------------------------------

TEST_F(ContextTest, DefaultChunksOfANewContext)
{
    auto* alarms = (_krmAlarmCodesChunkType*)_krmContextGetClientChunk(ctx, AlarmCodesContext);
    ASSERT_NE(alarms, nullptr);
    EXPECT_EQ(alarms->AlarmCodes[0], 0x7F00);
    EXPECT_EQ(alarms->AlarmCodes[2], 0x7F00);
    EXPECT_EQ(alarms->AlarmCodes[3], 0);

    auto* adapt = (_krmAdaptationStateChunkType*)_krmContextGetClientChunk(ctx, AdaptationStateContext);
    ASSERT_NE(adapt, nullptr);
    EXPECT_EQ(adapt->AdaptationState, 1.0);

    // Chunks are the context's own: changing them leaves the global context alone.
    alarms->AlarmCodes[0] = 1;
    auto* globalAlarms = (_krmAlarmCodesChunkType*)_krmContextGetClientChunk(nullptr, AlarmCodesContext);
    EXPECT_EQ(globalAlarms->AlarmCodes[0], 0x7F00);
}
