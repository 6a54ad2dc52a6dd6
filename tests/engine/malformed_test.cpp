// Hostile profiles: every file of tests/data/malformed (written by make_malformed.py there) is
// opened and all its tags are read, strictly and permissively, through a context whose memory
// functions count every byte. Each must fail or succeed as its row says, never crash, and never
// allocate more than 256 MiB at once.

#include "krm_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Counting memory functions
// ---------------------------------------------------------------------------------------------

constexpr size_t kBudget = 256u << 20;

struct Usage {
    size_t current = 0;
    size_t peak = 0;
    bool overBudget = false;  // a request that would have passed the budget was refused
};
Usage g_usage;

// Each block carries its size in front, so that free and realloc can keep the count.
constexpr size_t kHead = 16;

void* countingMalloc(krmContext, krmUInt32Number size)
{
    if (size == 0 || size > 0x80000000u)
        return nullptr;
    if (g_usage.current + size > kBudget) {
        g_usage.overBudget = true;
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHead));
    if (!block)
        return nullptr;
    std::memcpy(block, &size, sizeof(size));
    g_usage.current += size;
    if (g_usage.current > g_usage.peak)
        g_usage.peak = g_usage.current;
    return block + kHead;
}

void countingFree(krmContext, void* ptr)
{
    if (!ptr)
        return;
    auto* block = static_cast<unsigned char*>(ptr) - kHead;
    krmUInt32Number size;
    std::memcpy(&size, block, sizeof(size));
    g_usage.current -= size;
    std::free(block);
}

void* countingRealloc(krmContext ctx, void* ptr, krmUInt32Number size)
{
    if (size > 0x80000000u)
        return nullptr;
    void* fresh = countingMalloc(ctx, size);
    if (!fresh || !ptr)
        return fresh;
    krmUInt32Number old;
    std::memcpy(&old, static_cast<unsigned char*>(ptr) - kHead, sizeof(old));
    std::memcpy(fresh, ptr, old < size ? old : size);
    countingFree(ctx, ptr);
    return fresh;
}

krmPluginMemHandler g_memPlugin = {{krmPluginMagicNumber, KRM_VERSION, krmPluginMemHandlerSig, nullptr},
                                   countingMalloc, countingFree, countingRealloc, nullptr, nullptr, nullptr};

// The signature-0 tag record that makes reading permissive, chained after the memory functions.
krmPluginTag g_permissivePlugin = {{krmPluginMagicNumber, 2190, krmPluginTagSig, nullptr}, 0, {0, 0, {}, nullptr}};

std::vector<krmUInt32Number> g_codes;

void recordCode(krmContext, krmUInt32Number code, const char*)
{
    g_codes.push_back(code);
}

// ---------------------------------------------------------------------------------------------
// The corpus
// ---------------------------------------------------------------------------------------------

constexpr int kFails = -1;  // the open itself must fail
constexpr int kNoCode = -1;

struct Case {
    const char* file;
    const char* cause;
    int decoded;            // tags that decode in permissive reading, or kFails
    int firstCode;          // code of the first message, or kNoCode when no message is expected
};

const Case kCases[] = {
    {"truncated-header.icc", "the file ends inside the 128-byte header", kFails, krmErrRead},
    {"bad-magic.icc", "'acsX' instead of 'acsp' at byte 36", kFails, krmErrBadSignature},
    {"version-5.icc", "header version 5.0, above what the engine reads", kFails, krmErrUnknownExtension},
    {"tag-count-101.icc", "a directory of 101 entries", kFails, krmErrRange},
    {"tag-count-100.icc", "a directory of exactly 100 private 'text' tags", 100, kNoCode},
    {"tag-count-4g.icc", "tag count 0xFFFFFFFF", kFails, krmErrRange},
    {"directory-truncated.icc", "five entries announced, the file ends after two", kFails, krmErrRead},
    {"tag-offset-past-end.icc", "'desc' at offset 0x10000 in a 220-byte file", 2, krmErrCorruptionDetected},
    {"tag-size-near-4gib.icc", "'desc' size 0xFFFFFF80: offset + size wraps around 32 bits", 2,
     krmErrCorruptionDetected},
    {"header-size-4gib.icc", "header size field 0xFFFFFFFF; the tags lie inside the real data", 2, kNoCode},
    {"duplicate-tags.icc", "two 'wtpt' entries", kFails, krmErrRange},
    {"tag-size-below-8.icc", "'wtpt' stored in 4 bytes, less than a type base", 1, kNoCode},
    {"overlapping-tags.icc", "gTRC overlaps rTRC with another size; bTRC starts inside rTRC's table", 2, kNoCode},
    {"shared-xyz-chain.icc", "rXYZ, gXYZ and bXYZ share one block: a chain of links", 3, kNoCode},
    {"curv-32767.icc", "'curv' of 32767 entries, the largest allowed", 1, kNoCode},
    {"curv-32768.icc", "'curv' of 32768 entries", 0, krmErrCorruptionDetected},
    {"curv-count-4g.icc", "'curv' count 0xFFFFFFF0 in a 4-byte table", 0, krmErrCorruptionDetected},
    {"para-type-5.icc", "'para' function type 5", 0, krmErrUnknownExtension},
    {"mluc-outside-tag.icc", "'mluc' record of 400 bytes in a 4-byte pool", 0, krmErrCorruptionDetected},
    {"mluc-count-wraps.icc", "'mluc' record count whose 16 + 12 x count wraps to a small number", 0,
     krmErrCorruptionDetected},
    {"mluc-odd-offset.icc", "'mluc' string at an odd offset", 0, krmErrCorruptionDetected},
    {"desc-ascii-count-past-tag.icc", "'desc' ASCII count 0x7FFFF in a 6-byte text", 0, krmErrCorruptionDetected},
    {"text-unterminated.icc", "'text' without its terminating zero", 1, kNoCode},
    {"clut-grid-overflow-mft2.icc", "'mft2' of 15 inputs with 255 grid points: the node count overflows", 0,
     krmErrCorruptionDetected},
    {"clut-grid-overflow-mft1.icc", "'mft1' of 8 inputs with 255 grid points", 0, krmErrCorruptionDetected},
    {"clut-grid-overflow-mab.icc", "'mAB ' CLUT of 15 inputs with 255 grid points", 0, krmErrCorruptionDetected},
    {"mab-offset-outside.icc", "'mAB ' B-curve offset 0x7FFFFFF0", 0, krmErrCorruptionDetected},
    {"mft2-table-entries-32768.icc", "'mft2' input tables of 32768 entries", 0, krmErrCorruptionDetected},
    {"mpet-clut-overflow.icc", "'mpet' CLUT element of 15 inputs with 255 grid points", 0,
     krmErrCorruptionDetected},
    {"mpet-element-count-4g.icc", "'mpet' element count 0xFFFFFFFF", 0, krmErrCorruptionDetected},
    {"pseq-recursive.icc", "'pseq' whose entries' texts are stored as 'pseq' again", 0, krmErrCorruptionDetected},
    {"ncl2-count-4g.icc", "'ncl2' of 0x7FFFFFFF colours in a 100-byte tag", 0, krmErrRange},
    {"clrt-count-4g.icc", "'clrt' of 0x7FFFFFFF colorants in a 40-byte tag", 0, krmErrRange},
    {"dict-offset-outside.icc", "'dict' name and value offsets far past the tag", 0, krmErrCorruptionDetected},
    {"vcgt-table-huge.icc", "'vcgt' table of 3 x 65535 words in a 16-byte tag", 0, krmErrCorruptionDetected},
    {"bfd-count-huge.icc", "'bfd ' curve counts of 0x7FFFFFFF", 0, krmErrCorruptionDetected},
    {"foreign-types.icc", "A2B0 stored as 'XYZ ', rXYZ as 'curv', 'chad' of 8 numbers: permissive reading decodes them", 10,
     kNoCode},
};

std::vector<krmUInt8Number> readFile(const std::string& path)
{
    std::vector<krmUInt8Number> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    krmUInt8Number buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return bytes;
}

int readAllTags(krmProfile p)
{
    int decoded = 0;
    for (krmInt32Number i = 0; i < krmGetTagCount(p); i++) {
        const krmTagSignature sig = krmGetTagSignature(p, krmUInt32Number(i));
        if (sig != 0 && krmReadTag(p, sig) != nullptr)
            decoded++;
    }
    return decoded;
}

// Two contexts over the counting memory functions, one strict and one permissive.
class MalformedFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_usage = Usage();
        g_codes.clear();
        g_memPlugin.base.Next = nullptr;
        strict = krmCreateContext(&g_memPlugin, nullptr);
        g_memPlugin.base.Next = &g_permissivePlugin.base;
        permissive = krmCreateContext(&g_memPlugin, nullptr);
        g_memPlugin.base.Next = nullptr;
        ASSERT_NE(strict, nullptr);
        ASSERT_NE(permissive, nullptr);
        krmSetLogErrorHandlerInContext(strict, recordCode);
        krmSetLogErrorHandlerInContext(permissive, recordCode);
    }

    void TearDown() override
    {
        krmDeleteContext(strict);
        krmDeleteContext(permissive);
        EXPECT_EQ(g_usage.current, 0u) << "engine memory not given back";
        EXPECT_FALSE(g_usage.overBudget) << "an allocation would have passed 256 MiB";
        EXPECT_LT(g_usage.peak, kBudget);
    }

    krmContext strict = nullptr;
    krmContext permissive = nullptr;
};

class MalformedProfile : public MalformedFile, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override
    {
        MalformedFile::SetUp();
        bytes = readFile(std::string(PRISMET_TEST_DATA) + "/malformed/" + GetParam().file);
        ASSERT_FALSE(bytes.empty()) << GetParam().file;
    }

    std::vector<krmUInt8Number> bytes;
};

TEST_P(MalformedProfile, OpensAndReadsAsExpected)
{
    const Case& c = GetParam();
    SCOPED_TRACE(std::string(c.file) + ": " + c.cause);

    krmProfile p = krmOpenProfileFromMemInContext(permissive, bytes.data(), krmUInt32Number(bytes.size()));
    if (c.decoded == kFails) {
        EXPECT_EQ(p, nullptr);
        ASSERT_FALSE(g_codes.empty()) << "a failed open must say why";
        EXPECT_EQ(int(g_codes.front()), c.firstCode);
        krmCloseProfile(p);
        return;
    }
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(readAllTags(p), c.decoded);
    // Cached decodes and repeated failures must give the same answer again.
    EXPECT_EQ(readAllTags(p), c.decoded);
    if (c.firstCode == kNoCode)
        EXPECT_TRUE(g_codes.empty()) << "first message code " << g_codes.front();
    else {
        ASSERT_FALSE(g_codes.empty());
        EXPECT_EQ(int(g_codes.front()), c.firstCode);
    }

    // Whatever opened must save, and the saved bytes must open and decode the same tags.
    krmUInt32Number needed = 0;
    ASSERT_TRUE(krmSaveProfileToMem(p, nullptr, &needed));
    std::vector<krmUInt8Number> saved(needed);
    ASSERT_TRUE(krmSaveProfileToMem(p, saved.data(), &needed));
    krmProfile again = krmOpenProfileFromMemInContext(permissive, saved.data(), needed);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(readAllTags(again), c.decoded);
    krmCloseProfile(again);
    krmCloseProfile(p);

    // Strict reading never decodes more than permissive reading.
    krmProfile s = krmOpenProfileFromMemInContext(strict, bytes.data(), krmUInt32Number(bytes.size()));
    ASSERT_NE(s, nullptr);
    EXPECT_LE(readAllTags(s), c.decoded);
    krmCloseProfile(s);
}

// Permissive reading (the application's) hands out a tag of any type it stores. Linking must
// not take an 'XYZ ' stored under A2B0 for a pipeline, a curve under rXYZ for a colorant, or an
// 8-number 'chad' for a matrix: every transform through such a profile fails cleanly.
TEST_F(MalformedFile, TransformsRefuseTagsOfForeignTypes)
{
    const std::vector<krmUInt8Number> bytes = readFile(std::string(PRISMET_TEST_DATA) + "/malformed/foreign-types.icc");
    krmProfile p = krmOpenProfileFromMemInContext(permissive, bytes.data(), krmUInt32Number(bytes.size()));
    ASSERT_NE(p, nullptr);
    krmProfile srgb = krmCreate_sRGBProfile(permissive);
    krmProfile lab = krmCreateLab4Profile(permissive, nullptr);
    for (krmUInt32Number intent = 0; intent < 4; intent++) {
        SCOPED_TRACE(intent);
        EXPECT_EQ(krmCreateTransformWithContext(permissive, p, krmFmtRGB16, srgb, krmFmtRGB16, intent, 0), nullptr);
        EXPECT_EQ(krmCreateTransformWithContext(permissive, srgb, krmFmtRGB16, p, krmFmtRGB16, intent, 0), nullptr);
        EXPECT_EQ(krmCreateTransformWithContext(permissive, p, krmFmtRGB16, lab, krmFmtLabDouble, intent, 0), nullptr);
    }
    krmCloseProfile(lab);
    krmCloseProfile(srgb);
    krmCloseProfile(p);
}

INSTANTIATE_TEST_SUITE_P(Corpus, MalformedProfile, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name = info.param.file;
                             name = name.substr(0, name.find('.'));
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

// ---------------------------------------------------------------------------------------------
// Hostile curve tables: reversal stays exact and fast
// ---------------------------------------------------------------------------------------------

// Reversal by the plain interval scan: for each output the first interval holding y, searched
// from the top for tables that rise overall and from the bottom otherwise; flat intervals give
// their far end; outputs with no interval reuse the last line.
std::vector<krmUInt16Number> reverseByScan(const std::vector<krmUInt16Number>& t, krmUInt32Number n)
{
    std::vector<krmUInt16Number> out(n);
    const int domain = int(t.size()) - 1;
    const bool fromTop = t.front() < t.back();
    const bool descending = t.back() < t.front();
    double a = 0, b = 0;
    for (krmUInt32Number i = 0; i < n; i++) {
        const double y = double(i) * 65535.0 / (n - 1);
        int j = -1;
        for (int k = 0; k < domain && j < 0; k++) {
            const int at = fromTop ? domain - 1 - k : k;
            const double lo = std::min(t[at], t[at + 1]), hi = std::max(t[at], t[at + 1]);
            if (y >= lo && y <= hi)
                j = at;
        }
        if (j >= 0) {
            const double x1 = t[j], x2 = t[j + 1];
            const double y1 = j * 65535.0 / domain, y2 = (j + 1) * 65535.0 / domain;
            if (x1 == x2) {
                out[i] = krmQuickSaturateWord(descending ? y1 : y2);
                continue;
            }
            a = (y2 - y1) / (x2 - x1);
            b = y2 - a * x2;
        }
        out[i] = krmQuickSaturateWord(a * y + b);
    }
    return out;
}

// A table of the largest size a 'curv' tag may hold used to take seconds to reverse (every
// output scanned the whole table); zig-zags, plateaus and falling tables must still give
// exactly what the plain scan gives.
TEST(HostileCurves, ReversalMatchesPlainScan)
{
    unsigned seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) & 0xFFFFu;
    };
    std::vector<std::vector<krmUInt16Number>> tables;
    std::vector<krmUInt16Number> rising(32767), zigzag(1000), falling(700), plateau(300), noisy(5000);
    for (size_t i = 0; i < rising.size(); i++)
        rising[i] = krmUInt16Number(i * 2);
    for (size_t i = 0; i < zigzag.size(); i++)
        zigzag[i] = krmUInt16Number(next());
    for (size_t i = 0; i < falling.size(); i++)
        falling[i] = krmUInt16Number(65535 - i * 90 + (next() % 200));
    for (size_t i = 0; i < plateau.size(); i++)
        plateau[i] = krmUInt16Number(i < 100 ? 0 : i < 200 ? 30000 : 65535);
    for (size_t i = 0; i < noisy.size(); i++)
        noisy[i] = krmUInt16Number(std::min<unsigned>(65535, i * 13 + next() % 3000));
    tables = {rising, zigzag, falling, plateau, noisy, {7, 7}, {65535, 0, 65535}};

    for (const auto& t : tables) {
        SCOPED_TRACE(t.size());
        krmToneCurve* curve = krmBuildTabulatedToneCurve16(nullptr, krmUInt32Number(t.size()), t.data());
        ASSERT_NE(curve, nullptr);
        // The plain scan is itself quadratic: keep the largest table to fewer outputs.
        for (krmUInt32Number n : {2u, 257u, t.size() > 10000 ? 300u : 4096u}) {
            krmToneCurve* reversed = krmReverseToneCurveEx(n, curve);
            ASSERT_NE(reversed, nullptr);
            const std::vector<krmUInt16Number> expected = reverseByScan(t, n);
            ASSERT_EQ(reversed->nEntries, n);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reversed->Table16)) << "entries " << n;
            krmFreeToneCurve(reversed);
        }
        krmFreeToneCurve(curve);
    }
}

// ---------------------------------------------------------------------------------------------
// Hostile CGATS text
// ---------------------------------------------------------------------------------------------

std::vector<std::string> g_texts;

void recordText(krmContext, krmUInt32Number, const char* text)
{
    g_texts.push_back(text);
}

// A 'targ' tag is text from the profile's author: its includes must never name a network share.
TEST(HostileText, IncludeOfNetworkPathIsRefused)
{
    krmContext ctx = krmCreateContext(nullptr, nullptr);
    krmSetLogErrorHandlerInContext(ctx, recordText);
    for (const char* path : {"\\\\server\\share\\target.txt", "//server/share/target.txt"}) {
        g_texts.clear();
        const std::string text = std::string("CGATS.17\n.INCLUDE \"") + path + "\"\n";
        EXPECT_EQ(krmIT8LoadFromMem(ctx, text.data(), krmUInt32Number(text.size())), nullptr);
        ASSERT_EQ(g_texts.size(), 1u);
        EXPECT_NE(g_texts[0].find("not found"), std::string::npos) << g_texts[0];
    }
    krmDeleteContext(ctx);
}

}  // namespace
