// The profile container: header and directory reading against raw bytes, malformed inputs,
// tag reading and writing through test tag types, links, and saving (two passes, byte copies).

#include "support/error_log.h"
#include "krm_internal.h"
#include "support/lut_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <string>
#include <thread>
#include <vector>

namespace {

typedef std::vector<krmUInt8Number> Bytes;

// ---------------------------------------------------------------------------------------------
// Capturing error handler
// ---------------------------------------------------------------------------------------------

using error_log::captureHandler;
using error_log::g_log;
using error_log::Logged;

// ---------------------------------------------------------------------------------------------
// Raw bytes
// ---------------------------------------------------------------------------------------------

krmUInt32Number get32(const Bytes& b, size_t at)
{
    return ((krmUInt32Number)b[at] << 24) | ((krmUInt32Number)b[at + 1] << 16) | ((krmUInt32Number)b[at + 2] << 8) |
           b[at + 3];
}

krmUInt16Number get16(const Bytes& b, size_t at)
{
    return (krmUInt16Number)((b[at] << 8) | b[at + 1]);
}

void put32(Bytes& b, size_t at, krmUInt32Number v)
{
    if (b.size() < at + 4) b.resize(at + 4);
    b[at] = (krmUInt8Number)(v >> 24);
    b[at + 1] = (krmUInt8Number)(v >> 16);
    b[at + 2] = (krmUInt8Number)(v >> 8);
    b[at + 3] = (krmUInt8Number)v;
}

Bytes readFile(const std::string& path)
{
    Bytes b;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return b;
    krmUInt8Number buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) b.insert(b.end(), buf, buf + n);
    fclose(f);
    return b;
}

// Type data of the test type 'tst1': type base, then one 32-bit value.
Bytes tst1(krmUInt32Number value, krmUInt32Number type = krmSig("tst1"))
{
    Bytes b;
    put32(b, 0, type);
    put32(b, 4, 0);
    put32(b, 8, value);
    return b;
}

struct TagLayout {
    krmTagSignature sig;
    Bytes data;
    int shareWith = -1;  // index of an earlier tag whose data block this entry points at
};

// A well-formed profile laid out as ICC.1:2010 7.1: header, directory, 4-byte aligned data.
Bytes makeProfile(const std::vector<TagLayout>& tags, krmUInt32Number version = 0x04300000,
                  krmColorSpaceSignature space = krmSig("RGB "))
{
    Bytes b(128, 0);
    put32(b, 4, krmSig("test"));
    put32(b, 8, version);
    put32(b, 12, krmSig("mntr"));
    put32(b, 16, space);
    put32(b, 20, krmSig("XYZ "));
    put32(b, 24, (2024u << 16) | 2u);  // 2024-02-...
    put32(b, 28, (29u << 16) | 13u);   // ...29 13:...
    put32(b, 32, (14u << 16) | 15u);   // ...14:15
    put32(b, 36, krmSig("acsp"));
    put32(b, 40, krmSig("APPL"));
    put32(b, 64, 1);
    put32(b, 68, 0x0000F6D6);  // D50
    put32(b, 72, 0x00010000);
    put32(b, 76, 0x0000D32D);

    put32(b, 128, (krmUInt32Number)tags.size());
    size_t at = 132 + 12 * tags.size();
    b.resize(at, 0);
    std::vector<std::pair<krmUInt32Number, krmUInt32Number>> placed;
    for (size_t i = 0; i < tags.size(); i++) {
        krmUInt32Number off, size;
        if (tags[i].shareWith >= 0) {
            off = placed[(size_t)tags[i].shareWith].first;
            size = placed[(size_t)tags[i].shareWith].second;
        } else {
            off = (krmUInt32Number)b.size();
            size = (krmUInt32Number)tags[i].data.size();
            b.insert(b.end(), tags[i].data.begin(), tags[i].data.end());
            while (b.size() % 4) b.push_back(0);
        }
        placed.push_back({off, size});
        put32(b, 132 + 12 * i, tags[i].sig);
        put32(b, 136 + 12 * i, off);
        put32(b, 140 + 12 * i, size);
    }
    put32(b, 0, (krmUInt32Number)b.size());
    return b;
}

size_t entryAt(size_t i)
{
    return 132 + 12 * i;
}

// ---------------------------------------------------------------------------------------------
// Test tag types and tags, registered in each test's own context
// ---------------------------------------------------------------------------------------------

std::atomic<int> g_reads{0};

void* tst1Read(krmTagTypeHandler* self, krmIOHandler* io, krmUInt32Number* nItems, krmUInt32Number SizeOfTag)
{
    g_reads++;
    *nItems = 0;
    if (SizeOfTag < 4) return nullptr;
    krmUInt32Number v;
    if (!krmReadUInt32(io, &v)) return nullptr;
    krmUInt32Number* p = (krmUInt32Number*)krmMalloc(self->ContextID, sizeof(krmUInt32Number));
    if (p == nullptr) return nullptr;
    *p = v;
    *nItems = 1;
    return p;
}

krmBool tst1Write(krmTagTypeHandler* self, krmIOHandler* io, void* Ptr, krmUInt32Number nItems)
{
    return krmWriteUInt32(io, *(krmUInt32Number*)Ptr);
}

void* tst1Dup(krmTagTypeHandler* self, const void* Ptr, krmUInt32Number n)
{
    return krmDupMem(self->ContextID, Ptr, sizeof(krmUInt32Number));
}

void tst1Free(krmTagTypeHandler* self, void* Ptr)
{
    krmFree(self->ContextID, Ptr);
}

void* nullRead(krmTagTypeHandler*, krmIOHandler*, krmUInt32Number* nItems, krmUInt32Number)
{
    *nItems = 0;
    return nullptr;
}

void* nullDup(krmTagTypeHandler*, const void*, krmUInt32Number)
{
    return nullptr;
}

krmBool failingWrite(krmTagTypeHandler*, krmIOHandler*, void*, krmUInt32Number)
{
    return false;
}

krmTagTypeSignature decideUnlisted(krmFloat64Number, const void*)
{
    return krmSig("zzzz");
}

// Chooses by version: 'tst1' before 4.0, 'tsv4' from 4.0 on.
krmTagTypeSignature decideByVersion(krmFloat64Number v, const void*)
{
    return v < 4.0 ? krmSig("tst1") : krmSig("tsv4");
}

krmPluginTagType typeRecord(const char (&sig)[5], decltype(krmTagTypeHandler::ReadPtr) rd,
                            decltype(krmTagTypeHandler::WritePtr) wr, decltype(krmTagTypeHandler::DupPtr) dup)
{
    krmPluginTagType p;
    memset(&p, 0, sizeof(p));
    p.base = {krmPluginMagicNumber, 2200, krmPluginTagTypeSig, nullptr};
    p.Handler.Signature = krmSig(sig);
    p.Handler.ReadPtr = rd;
    p.Handler.WritePtr = wr;
    p.Handler.DupPtr = dup;
    p.Handler.FreePtr = tst1Free;
    return p;
}

krmPluginTag tagRecord(krmTagSignature sig, krmUInt32Number elems, std::vector<krmTagTypeSignature> types,
                       krmTagTypeSignature (*decider)(krmFloat64Number, const void*) = nullptr)
{
    krmPluginTag p;
    memset(&p, 0, sizeof(p));
    p.base = {krmPluginMagicNumber, 2200, krmPluginTagSig, nullptr};
    p.Signature = sig;
    p.Descriptor.ElemCount = elems;
    p.Descriptor.nSupportedTypes = (krmUInt32Number)types.size();
    for (size_t i = 0; i < types.size(); i++) p.Descriptor.SupportedTypes[i] = types[i];
    p.Descriptor.DecideType = decider;
    return p;
}

krmPluginTagType g_types[] = {
    typeRecord("tst1", tst1Read, tst1Write, tst1Dup),
    typeRecord("tsv4", tst1Read, tst1Write, tst1Dup),
    typeRecord("tbad", nullRead, tst1Write, tst1Dup),
    typeRecord("tnul", tst1Read, tst1Write, nullDup),
    typeRecord("tfwr", tst1Read, failingWrite, tst1Dup),
};

krmPluginTag g_tags[] = {
    tagRecord(krmSig("Tst1"), 1, {krmSig("tst1")}),
    tagRecord(krmSig("Tst2"), 1, {krmSig("tst1")}),
    tagRecord(krmSig("Tst3"), 1, {krmSig("tst1")}),
    tagRecord(krmSig("Tbad"), 1, {krmSig("tbad")}),
    tagRecord(krmSig("Tmny"), 2, {krmSig("tst1")}),
    tagRecord(krmSig("Tnul"), 1, {krmSig("tnul")}),
    tagRecord(krmSig("Tdec"), 1, {krmSig("tst1")}, decideUnlisted),
    tagRecord(krmSig("Tver"), 1, {krmSig("tst1"), krmSig("tsv4")}, decideByVersion),
    tagRecord(krmSig("Tfwr"), 1, {krmSig("tfwr")}),
    tagRecord(krmSig("Tnoh"), 1, {krmSig("nohd")}),  // a type nobody handles
};

krmPluginTag g_permissive = tagRecord(0, 0, {});

krmContext makeContext(bool permissive)
{
    krmContext c = krmCreateContext(nullptr, nullptr);
    krmSetLogErrorHandlerInContext(c, captureHandler);
    for (auto& t : g_types) {
        t.base.Next = nullptr;
        krmRegisterPluginInContext(c, &t);
    }
    for (auto& t : g_tags) {
        t.base.Next = nullptr;
        krmRegisterPluginInContext(c, &t);
    }
    if (permissive) {
        g_permissive.base.Next = nullptr;
        krmRegisterPluginInContext(c, &g_permissive);
    }
    return c;
}

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        ctx = makeContext(false);
        ASSERT_NE(ctx, nullptr);
    }
    void TearDown() override { krmDeleteContext(ctx); }

    krmProfile open(const Bytes& b) { return krmOpenProfileFromMemInContext(ctx, b.data(), (krmUInt32Number)b.size()); }

    static Bytes save(krmProfile h)
    {
        krmUInt32Number size = 0;
        if (!krmSaveProfileToMem(h, nullptr, &size)) return Bytes();
        Bytes out(size);
        if (!krmSaveProfileToMem(h, out.data(), &size)) return Bytes();
        return out;
    }

    std::string tempPath(const char* name)
    {
        char tmpl[] = "/tmp/krm_prof_XXXXXX";
        if (dir.empty()) dir = mkdtemp(tmpl);
        return dir + "/" + name;
    }

    krmContext ctx = nullptr;
    std::string dir;
};

// Directory entries as stored, without the ones the container drops.
struct RawEntry {
    krmTagSignature sig;
    krmUInt32Number offset, size;
};

std::vector<RawEntry> expectedDirectory(const Bytes& b)
{
    std::vector<RawEntry> out;
    krmUInt32Number usable = get32(b, 0);
    if (usable > b.size()) usable = (krmUInt32Number)b.size();
    krmUInt32Number n = get32(b, 128);
    for (krmUInt32Number i = 0; i < n; i++) {
        RawEntry e = {get32(b, entryAt(i)), get32(b, entryAt(i) + 4), get32(b, entryAt(i) + 8)};
        if (e.offset == 0 || e.size == 0) continue;
        if ((krmUInt64Number)e.offset + e.size > usable) continue;
        out.push_back(e);
    }
    return out;
}

}  // namespace

// =============================================================================================
// Real profiles
// =============================================================================================

TEST(Corpus, HeaderAndDirectoryMatchTheRawBytes)
{
    const std::vector<std::string> files = lut_support::corpusProfiles();

    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        Bytes raw = readFile(path);
        ASSERT_GE(raw.size(), 132u);

        g_log.clear();
        krmContext c = krmCreateContext(nullptr, nullptr);
        krmSetLogErrorHandlerInContext(c, captureHandler);
        krmProfile h = krmOpenProfileFromFileInContext(c, path.c_str(), "r");
        ASSERT_NE(h, nullptr) << (g_log.empty() ? "" : g_log[0].text);

        EXPECT_EQ(krmGetProfileCMM(h), get32(raw, 4));
        EXPECT_EQ(krmGetProfileVersionRaw(h), get32(raw, 8) & 0xFFFF0000u);
        EXPECT_EQ(krmGetProfileClass(h), get32(raw, 12));
        EXPECT_EQ(krmGetProfileColorSpace(h), get32(raw, 16));
        EXPECT_EQ(krmGetProfilePCS(h), get32(raw, 20));
        EXPECT_EQ(krmGetProfilePlatform(h), get32(raw, 40));
        EXPECT_EQ(krmGetProfileFlags(h), get32(raw, 44));
        EXPECT_EQ(krmGetProfileManufacturer(h), get32(raw, 48));
        EXPECT_EQ(krmGetProfileModel(h), get32(raw, 52));
        EXPECT_EQ(krmGetProfileAttributes(h), ((krmUInt64Number)get32(raw, 56) << 32) | get32(raw, 60));
        EXPECT_EQ(krmGetProfileIntent(h), get32(raw, 64));
        EXPECT_EQ(krmGetProfileCreator(h), get32(raw, 80));
        krmUInt8Number id[16];
        krmGetProfileID(h, id);
        EXPECT_EQ(memcmp(id, raw.data() + 84, 16), 0);

        struct tm t;
        ASSERT_TRUE(krmGetProfileCreationDateTime(h, &t));
        EXPECT_EQ(t.tm_year + 1900, get16(raw, 24));
        EXPECT_EQ(t.tm_mon + 1, get16(raw, 26));
        EXPECT_EQ(t.tm_mday, get16(raw, 28));
        EXPECT_EQ(t.tm_hour, get16(raw, 30));
        EXPECT_EQ(t.tm_min, get16(raw, 32));
        EXPECT_EQ(t.tm_sec, get16(raw, 34));

        std::vector<RawEntry> dirRaw = expectedDirectory(raw);
        ASSERT_EQ(krmGetTagCount(h), (krmInt32Number)dirRaw.size());
        for (size_t i = 0; i < dirRaw.size(); i++) {
            krmUInt32Number off, size;
            EXPECT_EQ(krmGetTagSignature(h, (krmUInt32Number)i), dirRaw[i].sig);
            ASSERT_TRUE(krmGetTagOffsetAndSize(h, (krmUInt32Number)i, &off, &size));
            EXPECT_EQ(off, dirRaw[i].offset);
            EXPECT_EQ(size, dirRaw[i].size);
            EXPECT_TRUE(krmIsTag(h, dirRaw[i].sig));

            // A link only ever names an earlier entry with the same data block.
            krmTagSignature to = krmTagLinkedTo(h, dirRaw[i].sig);
            if (to != 0) {
                bool found = false;
                for (size_t j = 0; j < i; j++)
                    found |= dirRaw[j].sig == to && dirRaw[j].offset == off && dirRaw[j].size == size;
                EXPECT_TRUE(found) << "link of entry " << i;
            }
        }
        // Nothing is decoded just by opening.
        EXPECT_EQ(krmGetTagStoredType(h, dirRaw.empty() ? 0 : dirRaw[0].sig), 0u);

        EXPECT_TRUE(krmCloseProfile(h));
        krmDeleteContext(c);
    }
}

TEST(Corpus, SavedProfilesKeepHeaderAndTagBytes)
{
    const std::vector<std::string> files = lut_support::corpusProfiles();

    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        Bytes raw = readFile(path);
        krmProfile h = krmOpenProfileFromFile(path.c_str(), "r");
        ASSERT_NE(h, nullptr);

        krmUInt32Number size = 0;
        ASSERT_TRUE(krmSaveProfileToMem(h, nullptr, &size));
        Bytes out(size);
        ASSERT_TRUE(krmSaveProfileToMem(h, out.data(), &size));

        // Saving leaves the profile as it was: a second save is identical.
        Bytes again(size);
        ASSERT_TRUE(krmSaveProfileToMem(h, again.data(), &size));
        EXPECT_EQ(out, again);

        EXPECT_EQ(get32(out, 0), out.size());
        EXPECT_EQ(out.size() % 4, 0u);
        // Header fields other than the size are copied; the illuminant is D50.
        EXPECT_EQ(memcmp(out.data() + 4, raw.data() + 4, 4), 0);    // CMM
        EXPECT_EQ(memcmp(out.data() + 12, raw.data() + 12, 56), 0);  // class ... intent
        EXPECT_EQ(get32(out, 68), 0x0000F6D6u);
        EXPECT_EQ(get32(out, 72), 0x00010000u);
        EXPECT_EQ(get32(out, 76), 0x0000D32Du);
        EXPECT_EQ(memcmp(out.data() + 80, raw.data() + 80, 20), 0);  // creator, ID

        krmProfile back = krmOpenProfileFromMem(out.data(), (krmUInt32Number)out.size());
        ASSERT_NE(back, nullptr);
        ASSERT_EQ(krmGetTagCount(back), krmGetTagCount(h));
        for (krmInt32Number i = 0; i < krmGetTagCount(h); i++) {
            krmUInt32Number o1, s1, o2, s2;
            krmTagSignature sig = krmGetTagSignature(h, (krmUInt32Number)i);
            ASSERT_EQ(krmGetTagSignature(back, (krmUInt32Number)i), sig);
            krmGetTagOffsetAndSize(h, (krmUInt32Number)i, &o1, &s1);
            krmGetTagOffsetAndSize(back, (krmUInt32Number)i, &o2, &s2);
            EXPECT_EQ(s1, s2);
            EXPECT_EQ(o2 % 4, 0u);
            EXPECT_EQ(memcmp(raw.data() + o1, out.data() + o2, s1), 0) << "tag " << i;
            for (krmUInt32Number p = o2 + s2; p % 4; p++) EXPECT_EQ(out[p], 0);
            EXPECT_EQ(krmTagLinkedTo(back, sig), krmTagLinkedTo(h, sig));
        }
        krmCloseProfile(back);
        krmCloseProfile(h);
    }
}

TEST(Corpus, MatrixShaperProfiles)
{
    krmProfile srgb = krmOpenProfileFromFile("/usr/share/color/icc/colord/sRGB.icc", "r");
    ASSERT_NE(srgb, nullptr) << "sRGB.icc comes with the Debian package colord-data";
    EXPECT_TRUE(krmIsMatrixShaper(srgb));
    krmCloseProfile(srgb);

    krmProfile gray = krmOpenProfileFromFile("/usr/share/color/icc/ghostscript/ps_gray.icc", "r");
    ASSERT_NE(gray, nullptr) << "ps_gray.icc comes with the Debian package libgs-common";
    EXPECT_EQ(krmGetProfileColorSpace(gray), krmSig("GRAY"));
    EXPECT_EQ(krmIsMatrixShaper(gray) != 0, krmIsTag(gray, krmSig("kTRC")) != 0);
    krmCloseProfile(gray);
    krmProfile cmyk = krmOpenProfileFromFile("/usr/share/color/icc/ghostscript/ps_cmyk.icc", "r");
    ASSERT_NE(cmyk, nullptr) << "ps_cmyk.icc comes with the Debian package libgs-common";
    EXPECT_FALSE(krmIsMatrixShaper(cmyk));
    krmCloseProfile(cmyk);
}

// =============================================================================================
// Malformed headers and directories
// =============================================================================================

TEST_F(ProfileTest, MalformedInputsFailOrWarnWithTheirMessages)
{
    const Bytes good = makeProfile({{krmSig("Tst1"), tst1(1)}, {krmSig("Tst2"), tst1(2)}});

    struct Case {
        const char* cause;
        void (*mutate)(Bytes&);
        bool opens;
        krmUInt32Number code;  // of the first message
        const char* text;      // null: no message at all
    } cases[] = {
        {"valid", [](Bytes&) {}, true, 0, nullptr},
        {"bad magic", [](Bytes& b) { put32(b, 36, krmSig("acsq")); }, false, krmErrBadSignature,
         "not an ICC profile, invalid signature"},
        {"version 5.0", [](Bytes& b) { put32(b, 8, 0x05000000); }, false, krmErrUnknownExtension,
         "Unsupported profile version '0x5000000'"},
        {"version 4.4", [](Bytes& b) { put32(b, 8, 0x04400000); }, true, 0, nullptr},
        {"version 4.4 with junk in the low bytes", [](Bytes& b) { put32(b, 8, 0x0440FFFF); }, true, 0, nullptr},
        {"major byte 0x0A", [](Bytes& b) { put32(b, 8, 0x0A000000); }, false, krmErrUnknownExtension,
         "Unsupported profile version '0x9000000'"},
        {"unknown class", [](Bytes& b) { put32(b, 12, krmSig("xxxx")); }, false, krmErrUnknownExtension,
         "Unsupported device class '0x78787878'"},
        {"class 0", [](Bytes& b) { put32(b, 12, 0); }, true, 0, nullptr},
        {"101 tags", [](Bytes& b) { put32(b, 128, 101); }, false, krmErrRange, "Too many tags (101)"},
        {"entry past the end", [](Bytes& b) { put32(b, entryAt(1) + 8, 4096); }, true, krmErrCorruptionDetected,
         "'size' field in header seems incorrect."},
        {"offset + size wraps", [](Bytes& b) {
             put32(b, entryAt(1) + 4, 0xFFFFFFF0u);
             put32(b, entryAt(1) + 8, 0x20);
         }, true, krmErrCorruptionDetected, "'size' field in header seems incorrect."},
        {"header size smaller than the data", [](Bytes& b) { put32(b, 0, 160); }, true, krmErrCorruptionDetected,
         "'size' field in header seems incorrect."},
        {"header size larger than the file", [](Bytes& b) { put32(b, 0, 0x100000); }, true, 0, nullptr},
        {"duplicate signatures", [](Bytes& b) { put32(b, entryAt(1), krmSig("Tst1")); }, false, krmErrRange,
         "Duplicate tag found"},
        {"zero offset entry", [](Bytes& b) { put32(b, entryAt(1) + 4, 0); }, true, 0, nullptr},
        {"zero size entry", [](Bytes& b) { put32(b, entryAt(0) + 8, 0); }, true, 0, nullptr},
        {"directory cut short", [](Bytes& b) { b.resize(entryAt(1) + 6); put32(b, 0, (krmUInt32Number)b.size()); },
         false, krmErrRead, "Read from memory error"},
        {"header cut short", [](Bytes& b) { b.resize(100); }, false, krmErrRead, "Read from memory error"},
        {"no tag count", [](Bytes& b) { b.resize(128); }, false, krmErrRead, "Read from memory error"},
        {"entry inside the header", [](Bytes& b) { put32(b, entryAt(1) + 4, 16); }, true, 0, nullptr},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.cause);
        Bytes b = good;
        c.mutate(b);
        g_log.clear();
        krmProfile h = open(b);
        EXPECT_EQ(h != nullptr, c.opens);
        if (c.text == nullptr) {
            EXPECT_TRUE(g_log.empty()) << g_log[0].text;
        } else {
            ASSERT_EQ(g_log.size(), 1u);  // reported once
            EXPECT_EQ(g_log[0].code, c.code);
            EXPECT_EQ(g_log[0].text, c.text);
        }
        if (h) {
            // Whatever survived can be read or refused without harm.
            for (krmInt32Number i = 0; i < krmGetTagCount(h); i++) krmReadTag(h, krmGetTagSignature(h, (krmUInt32Number)i));
            krmCloseProfile(h);
        }
    }
}

TEST_F(ProfileTest, DroppedEntriesAreLeftOutAndReportedOnce)
{
    Bytes b = makeProfile({{krmSig("Tst1"), tst1(1)}, {krmSig("Tst2"), tst1(2)}, {krmSig("Tst3"), tst1(3)}});
    put32(b, entryAt(0) + 8, 100000);
    put32(b, entryAt(2) + 4, 200000);
    krmProfile h = open(b);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(krmGetTagCount(h), 1);
    EXPECT_EQ(krmGetTagSignature(h, 0), krmSig("Tst2"));
    EXPECT_FALSE(krmIsTag(h, krmSig("Tst1")));
    krmUInt32Number* v = (krmUInt32Number*)krmReadTag(h, krmSig("Tst2"));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(*v, 2u);
    krmCloseProfile(h);
}

TEST_F(ProfileTest, HundredTagsOpen)
{
    std::vector<TagLayout> tags;
    for (int i = 0; i < 100; i++) {
        char s[5];
        snprintf(s, sizeof(s), "P%03d", i);
        TagLayout t;
        t.sig = ((krmUInt32Number)s[0] << 24) | ((krmUInt32Number)s[1] << 16) | ((krmUInt32Number)s[2] << 8) | s[3];
        t.data = tst1((krmUInt32Number)i);
        tags.push_back(t);
    }
    krmProfile h = open(makeProfile(tags));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(krmGetTagCount(h), 100);
    krmCloseProfile(h);
}

TEST_F(ProfileTest, EmptyAndMissingFilesFail)
{
    std::string empty = tempPath("empty.icc");
    fclose(fopen(empty.c_str(), "wb"));
    EXPECT_EQ(krmOpenProfileFromFileInContext(ctx, empty.c_str(), "r"), nullptr);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].code, (krmUInt32Number)krmErrFile);
    EXPECT_EQ(g_log[0].text, "Read error. Got 0 bytes, block should be of 128 bytes");

    g_log.clear();
    krmUInt8Number nothing = 0;
    EXPECT_EQ(krmOpenProfileFromMemInContext(ctx, &nothing, 0), nullptr);
    EXPECT_EQ(g_log.size(), 1u);

    g_log.clear();
    std::string missing = tempPath("missing.icc");
    EXPECT_EQ(krmOpenProfileFromFileInContext(ctx, missing.c_str(), "r"), nullptr);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].text, "File '" + missing + "' not found");
    remove(empty.c_str());
    rmdir(dir.c_str());
}

TEST_F(ProfileTest, HeaderPluginRaisesTheVersionLimitAndHooksRun)
{
    static int reads, writes;
    reads = writes = 0;
    krmPluginHeader hp = {{krmPluginMagicNumber, 2200, krmPluginHeaderSig, nullptr},
                          0x09990000,
                          [](krmProfile, krmIOHandler* io) -> krmBool {
                              reads++;
                              krmUInt32Number skip;
                              return krmReadUInt32(io, &skip);  // the container restores the position
                          },
                          [](krmProfile, krmIOHandler*) -> krmBool {
                              writes++;
                              return true;
                          }};
    ASSERT_TRUE(krmRegisterPluginInContext(ctx, &hp));

    // Each digit is capped at 9 and the low bytes are cleared.
    krmProfile h = open(makeProfile({{krmSig("Tst1"), tst1(1)}}, 0x0AAB1234));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(krmGetProfileVersionRaw(h), 0x09990000u);
    EXPECT_EQ(krmGetProfileVersion(h), 9.99);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(krmGetTagCount(h), 1);

    Bytes out = save(h);
    EXPECT_FALSE(out.empty());
    EXPECT_EQ(writes, 3);  // the size query runs pass 1 only, the real save both passes
    krmCloseProfile(h);
}

// =============================================================================================
// Shared data blocks
// =============================================================================================

TEST_F(ProfileTest, SharedBlocksLinkAsAChain)
{
    Bytes xyz = tst1(0, krmSig("XYZ "));
    xyz.resize(20, 0);
    Bytes text = tst1(0, krmSig("text"));
    krmProfile h = open(makeProfile({{krmSig("rXYZ"), xyz},
                                     {krmSig("gXYZ"), {}, 0},
                                     {krmSig("bXYZ"), {}, 0},
                                     {krmSig("cprt"), text},
                                     {krmSig("desc"), {}, 3}}));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(krmTagLinkedTo(h, krmSig("rXYZ")), 0u);
    EXPECT_EQ(krmTagLinkedTo(h, krmSig("gXYZ")), krmSig("rXYZ"));
    EXPECT_EQ(krmTagLinkedTo(h, krmSig("bXYZ")), krmSig("gXYZ"));
    // Different descriptors: separate entries though the block is shared.
    EXPECT_EQ(krmTagLinkedTo(h, krmSig("cprt")), 0u);
    EXPECT_EQ(krmTagLinkedTo(h, krmSig("desc")), 0u);
    EXPECT_EQ(krmTagLinkedTo(h, krmSig("none")), 0u);
    krmCloseProfile(h);
}

TEST_F(ProfileTest, LinkedTagsShareOneDecodedObject)
{
    g_reads = 0;
    krmProfile h = open(makeProfile({{krmSig("Tst1"), tst1(42)}, {krmSig("Tst2"), {}, 0}, {krmSig("Tst3"), {}, 0}}));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(krmTagLinkedTo(h, krmSig("Tst3")), krmSig("Tst2"));
    void* third = krmReadTag(h, krmSig("Tst3"));
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(*(krmUInt32Number*)third, 42u);
    EXPECT_EQ(krmReadTag(h, krmSig("Tst1")), third);
    EXPECT_EQ(krmReadTag(h, krmSig("Tst2")), third);
    EXPECT_EQ(g_reads, 1);
    EXPECT_EQ(krmGetTagStoredType(h, krmSig("Tst3")), krmSig("tst1"));

    // Saved again, the entries still share one block and link again on reading.
    Bytes out = save(h);
    krmProfile back = open(out);
    ASSERT_NE(back, nullptr);
    krmUInt32Number o0, s0, o2, s2;
    krmGetTagOffsetAndSize(back, 0, &o0, &s0);
    krmGetTagOffsetAndSize(back, 2, &o2, &s2);
    EXPECT_EQ(o0, o2);
    EXPECT_EQ(s0, s2);
    EXPECT_EQ(krmTagLinkedTo(back, krmSig("Tst3")), krmSig("Tst2"));
    krmCloseProfile(back);
    krmCloseProfile(h);
}

TEST_F(ProfileTest, LinkCyclesReadAsAbsent)
{
    krmProfile h = krmCreateProfilePlaceholder(ctx);
    ASSERT_TRUE(krmLinkTag(h, krmSig("Tst1"), krmSig("Tst2")));
    ASSERT_TRUE(krmLinkTag(h, krmSig("Tst2"), krmSig("Tst1")));
    EXPECT_EQ(krmReadTag(h, krmSig("Tst1")), nullptr);
    EXPECT_EQ(krmGetTagStoredType(h, krmSig("Tst1")), 0u);
    krmCloseProfile(h);
}

// =============================================================================================
// Reading tags
// =============================================================================================

TEST_F(ProfileTest, StrictReadingFollowsTheDescriptors)
{
    Bytes wrongType = tst1(5, krmSig("tsv4"));
    Bytes tiny = {'t', 's', 't', '1', 0, 0, 0};
    krmProfile h = open(makeProfile({{krmSig("Tst1"), tst1(7)},
                                     {krmSig("Zpri"), tst1(8)},
                                     {krmSig("Tst2"), wrongType},
                                     {krmSig("Tst3"), tiny},
                                     {krmSig("Tbad"), tst1(0, krmSig("tbad"))},
                                     {krmSig("Tmny"), tst1(9)},
                                     {krmSig("Tnoh"), tst1(9, krmSig("nohd"))}}));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(krmGetTagStoredType(h, krmSig("Tst1")), 0u);  // nothing recorded before the first read

    struct Case {
        krmTagSignature sig;
        bool decodes;
        const char* text;  // null: no message
    } cases[] = {
        {krmSig("Tst1"), true, nullptr},
        {krmSig("Zpri"), false, "Unknown tag signature 'Zpri' found."},
        {krmSig("Tst2"), false, nullptr},  // type not listed by the descriptor
        {krmSig("Tst3"), false, nullptr},  // stored size below 8
        {krmSig("Tbad"), false, "Corrupted tag 'Tbad'"},
        {krmSig("Tmny"), false, "'Tmny' Inconsistent number of items: expected 2, got 1"},
        {krmSig("Tnoh"), false, nullptr},  // no handler for the type
        {krmSig("Absn"), false, nullptr},  // not in the profile
    };
    for (int round = 0; round < 2; round++) {  // failures leave the entry to be tried again
        for (const Case& c : cases) {
            char s[5] = {(char)(c.sig >> 24), (char)(c.sig >> 16), (char)(c.sig >> 8), (char)c.sig, 0};
            SCOPED_TRACE(s);
            g_log.clear();
            void* p = krmReadTag(h, c.sig);
            EXPECT_EQ(p != nullptr, c.decodes);
            if (c.text) {
                ASSERT_EQ(g_log.size(), 1u);
                EXPECT_EQ(g_log[0].text, c.text);
            } else {
                EXPECT_TRUE(g_log.empty());
            }
        }
    }
    EXPECT_EQ(*(krmUInt32Number*)krmReadTag(h, krmSig("Tst1")), 7u);
    EXPECT_EQ(krmGetTagStoredType(h, krmSig("Tst1")), krmSig("tst1"));
    krmCloseProfile(h);
}

TEST_F(ProfileTest, PermissiveReadingDecodesEveryKnownType)
{
    krmContext perm = makeContext(true);
    Bytes b = makeProfile({{krmSig("Zpri"), tst1(8)}, {krmSig("Tst2"), tst1(5, krmSig("tsv4"))},
                           {krmSig("Tmny"), tst1(9)}, {krmSig("Zunk"), tst1(1, krmSig("qqqq"))}});
    g_log.clear();
    krmProfile h = krmOpenProfileFromMemInContext(perm, b.data(), (krmUInt32Number)b.size());
    ASSERT_NE(h, nullptr);
    void* pri = krmReadTag(h, krmSig("Zpri"));
    ASSERT_NE(pri, nullptr);
    EXPECT_EQ(*(krmUInt32Number*)pri, 8u);
    EXPECT_NE(krmReadTag(h, krmSig("Tst2")), nullptr);
    EXPECT_NE(krmReadTag(h, krmSig("Tmny")), nullptr);
    EXPECT_EQ(krmReadTag(h, krmSig("Zunk")), nullptr);  // no handler: nothing to decode with
    EXPECT_TRUE(g_log.empty());
    krmCloseProfile(h);
    krmDeleteContext(perm);
}

TEST_F(ProfileTest, ConcurrentReadersGetTheSameObject)
{
    g_reads = 0;
    krmProfile h = open(makeProfile({{krmSig("Tst1"), tst1(3)}, {krmSig("Tst2"), tst1(4)}}));
    ASSERT_NE(h, nullptr);
    std::atomic<void*> seen1{nullptr}, seen2{nullptr};
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; i++) {
                krmTagSignature sig = (i & 1) ? krmSig("Tst1") : krmSig("Tst2");
                std::atomic<void*>& seen = (i & 1) ? seen1 : seen2;
                void* p = krmReadTag(h, sig);
                void* expected = nullptr;
                if (p == nullptr || (!seen.compare_exchange_strong(expected, p) && expected != p)) mismatches++;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(g_reads, 2);
    krmCloseProfile(h);
}

// =============================================================================================
// Writing tags
// =============================================================================================

TEST_F(ProfileTest, PlaceholderDefaults)
{
    time_t before = time(nullptr);
    krmProfile h = krmCreateProfilePlaceholder(ctx);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(krmGetProfileVersionRaw(h), 0x02100000u);
    EXPECT_EQ(krmGetProfileVersion(h), 2.1);
    EXPECT_EQ(krmGetProfileCMM(h), krmSig("crvn"));
    EXPECT_EQ(krmGetProfileCreator(h), krmSig("crvn"));
    EXPECT_EQ(krmGetProfilePlatform(h), krmSig("MSFT"));
    EXPECT_EQ(krmGetProfileClass(h), krmSig("mntr"));
    EXPECT_EQ(krmGetProfileColorSpace(h), 0u);
    EXPECT_EQ(krmGetTagCount(h), 0);
    EXPECT_EQ(krmGetProfileIOHandler(h), nullptr);
    EXPECT_EQ(krmGetProfileContext(h), ctx);

    // Created now, in UTC.
    struct tm t;
    ASSERT_TRUE(krmGetProfileCreationDateTime(h, &t));
    time_t created = timegm(&t);
    EXPECT_GE(created, before);
    EXPECT_LE(created, time(nullptr));
    krmCloseProfile(h);

    EXPECT_EQ(krmGetTagCount(nullptr), -1);
    EXPECT_EQ(krmGetProfileContext(nullptr), nullptr);
    EXPECT_EQ(krmGetProfileIOHandler(nullptr), nullptr);
    EXPECT_FALSE(krmCloseProfile(nullptr));
}

TEST_F(ProfileTest, VersionAsDecimalNumber)
{
    krmProfile h = krmCreateProfilePlaceholder(ctx);
    krmSetProfileVersion(h, 4.3);
    EXPECT_EQ(krmGetProfileVersionRaw(h), 0x04300000u);
    EXPECT_EQ(krmGetProfileVersion(h), 4.3);
    krmSetProfileVersion(h, 4.4);
    EXPECT_EQ(krmGetProfileVersionRaw(h), 0x04400000u);
    krmSetProfileVersion(h, 2.0);
    EXPECT_EQ(krmGetProfileVersionRaw(h), 0x02000000u);
    krmSetProfileVersion(h, 4.21);
    EXPECT_EQ(krmGetProfileVersionRaw(h), 0x04210000u);
    EXPECT_EQ(krmGetProfileVersion(h), 4.21);

    // Above the limit, saving fails and the profile is untouched.
    krmSetProfileVersion(h, 4.5);
    g_log.clear();
    krmUInt32Number size = 0;
    EXPECT_FALSE(krmSaveProfileToMem(h, nullptr, &size));
    EXPECT_EQ(size, 0u);
    ASSERT_FALSE(g_log.empty());
    EXPECT_EQ(g_log[0].text, "Unsupported profile version '0x4500000'");
    EXPECT_EQ(g_log[0].code, (krmUInt32Number)krmErrUnknownExtension);
    krmSetProfileVersion(h, 4.4);
    EXPECT_TRUE(krmSaveProfileToMem(h, nullptr, &size));
    krmCloseProfile(h);
}

TEST_F(ProfileTest, WrittenTagsSurviveSavingAndReopening)
{
    krmProfile h = krmCreateProfilePlaceholder(ctx);
    krmSetProfileVersion(h, 4.3);
    krmSetProfileClass(h, krmSig("prtr"));
    krmSetProfileColorSpace(h, krmSig("CMYK"));
    krmSetProfilePCS(h, krmSig("Lab "));
    krmSetProfileIntent(h, 2);
    krmSetProfileAttributes(h, 0x0000000100000002ull);
    krmSetProfileModel(h, 0x11223344);
    krmSetProfileManufacturer(h, krmSig("KRMT"));
    krmSetProfileFlags(h, 3);
    const krmUInt8Number id[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    krmSetProfileID(h, id);

    krmUInt32Number a = 0xDEADBEEF, b2 = 17;
    ASSERT_TRUE(krmWriteTag(h, krmSig("Tst1"), &a));
    ASSERT_TRUE(krmWriteTag(h, krmSig("Tst2"), &b2));
    a = 0;  // the profile keeps its own copy
    EXPECT_EQ(*(krmUInt32Number*)krmReadTag(h, krmSig("Tst1")), 0xDEADBEEFu);
    EXPECT_EQ(krmGetTagStoredType(h, krmSig("Tst1")), krmSig("tst1"));

    // Rewriting replaces the object.
    krmUInt32Number c = 99;
    ASSERT_TRUE(krmWriteTag(h, krmSig("Tst2"), &c));
    EXPECT_EQ(krmGetTagCount(h), 2);

    Bytes out = save(h);
    ASSERT_EQ(out.size(), 128u + 4 + 2 * 12 + 2 * 12);
    // Directory then data, 'tst1' type base with reserved zeros.
    EXPECT_EQ(get32(out, 128), 2u);
    EXPECT_EQ(get32(out, entryAt(0)), krmSig("Tst1"));
    EXPECT_EQ(get32(out, entryAt(0) + 4), 156u);
    EXPECT_EQ(get32(out, entryAt(0) + 8), 12u);
    EXPECT_EQ(get32(out, 156), krmSig("tst1"));
    EXPECT_EQ(get32(out, 160), 0u);
    EXPECT_EQ(get32(out, 164), 0xDEADBEEFu);
    EXPECT_EQ(get32(out, 176), 99u);

    krmProfile back = open(out);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(krmGetProfileVersionRaw(back), 0x04300000u);
    EXPECT_EQ(krmGetProfileClass(back), krmSig("prtr"));
    EXPECT_EQ(krmGetProfileColorSpace(back), krmSig("CMYK"));
    EXPECT_EQ(krmGetProfilePCS(back), krmSig("Lab "));
    EXPECT_EQ(krmGetProfileIntent(back), 2u);
    EXPECT_EQ(krmGetProfileAttributes(back), 0x0000000100000002ull);
    EXPECT_EQ(krmGetProfileModel(back), 0x11223344u);
    EXPECT_EQ(krmGetProfileManufacturer(back), krmSig("KRMT"));
    EXPECT_EQ(krmGetProfileFlags(back), 3u);
    EXPECT_EQ(krmGetProfileCMM(back), krmSig("crvn"));
    EXPECT_EQ(krmGetProfileCreator(back), krmSig("crvn"));
    krmUInt8Number idBack[16];
    krmGetProfileID(back, idBack);
    EXPECT_EQ(memcmp(idBack, id, 16), 0);
    struct tm t1, t2;
    krmGetProfileCreationDateTime(h, &t1);
    krmGetProfileCreationDateTime(back, &t2);
    EXPECT_EQ(timegm(&t1), timegm(&t2));
    EXPECT_EQ(*(krmUInt32Number*)krmReadTag(back, krmSig("Tst1")), 0xDEADBEEFu);
    EXPECT_EQ(*(krmUInt32Number*)krmReadTag(back, krmSig("Tst2")), 99u);

    krmCloseProfile(back);

    // A decoded tag and an unread one mixed: the unread one is copied, the decoded one rewritten.
    back = open(out);
    ASSERT_NE(krmReadTag(back, krmSig("Tst2")), nullptr);
    EXPECT_EQ(save(back), out);
    krmCloseProfile(back);
    krmCloseProfile(h);
}

TEST_F(ProfileTest, DeciderChoosesTheTypeByVersion)
{
    krmProfile h = krmCreateProfilePlaceholder(ctx);
    krmUInt32Number v = 5;
    krmSetProfileVersion(h, 2.4);
    ASSERT_TRUE(krmWriteTag(h, krmSig("Tver"), &v));
    Bytes v2 = save(h);
    krmSetProfileVersion(h, 4.2);
    Bytes v4 = save(h);  // the type is chosen again when saving
    EXPECT_EQ(get32(v2, get32(v2, entryAt(0) + 4)), krmSig("tst1"));
    EXPECT_EQ(get32(v4, get32(v4, entryAt(0) + 4)), krmSig("tsv4"));
    krmCloseProfile(h);
}

TEST_F(ProfileTest, WriteFailuresLeaveTheDirectoryConsistent)
{
    krmProfile h = krmCreateProfilePlaceholder(ctx);
    krmUInt32Number v = 1;

    // No descriptor: the appended slot stays empty, counts, and is not saved.
    g_log.clear();
    EXPECT_FALSE(krmWriteTag(h, krmSig("Qqqq"), &v));
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].text, "Unsupported tag '51717171'");
    EXPECT_EQ(g_log[0].code, (krmUInt32Number)krmErrUnknownExtension);
    EXPECT_EQ(krmGetTagCount(h), 1);
    EXPECT_EQ(krmGetTagSignature(h, 0), 0u);

    g_log.clear();
    EXPECT_FALSE(krmWriteTag(h, krmSig("Tdec"), &v));
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].text, "Unsupported type 'zzzz' for tag 'Tdec'");

    g_log.clear();
    EXPECT_FALSE(krmWriteTag(h, krmSig("Tnoh"), &v));
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].text, "Unsupported type 'nohd' for tag 'Tnoh'");

    g_log.clear();
    EXPECT_FALSE(krmWriteTag(h, krmSig("Tnul"), &v));
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].text, "Malformed struct in type 'tnul' for tag 'Tnul'");
    EXPECT_EQ(g_log[0].code, (krmUInt32Number)krmErrCorruptionDetected);
    EXPECT_TRUE(krmIsTag(h, krmSig("Tnul")));
    EXPECT_EQ(krmReadTag(h, krmSig("Tnul")), nullptr);

    ASSERT_TRUE(krmWriteTag(h, krmSig("Tst1"), &v));
    Bytes out = save(h);
    krmProfile back = open(out);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(krmIsTag(back, krmSig("Tst1")));
    EXPECT_FALSE(krmIsTag(back, krmSig("Tdec")));
    EXPECT_FALSE(krmIsTag(back, krmSig("Tnul")));  // written with no data, dropped on reading
    krmCloseProfile(back);

    // A writer that fails aborts saving.
    ASSERT_TRUE(krmWriteTag(h, krmSig("Tfwr"), &v));
    g_log.clear();
    krmUInt32Number size = 0;
    EXPECT_FALSE(krmSaveProfileToMem(h, nullptr, &size));
    ASSERT_FALSE(g_log.empty());
    EXPECT_EQ(g_log.back().text, "Couldn't write type 'tfwr'");
    EXPECT_EQ(g_log.back().code, (krmUInt32Number)krmErrWrite);
    krmCloseProfile(h);
}

TEST_F(ProfileTest, FailedRewriteKeepsTheStoredData)
{
    krmProfile h = open(makeProfile({{krmSig("Tdec"), tst1(6)}}));
    ASSERT_NE(h, nullptr);
    krmUInt32Number v = 1;
    EXPECT_FALSE(krmWriteTag(h, krmSig("Tdec"), &v));
    krmUInt32Number off, size;
    ASSERT_TRUE(krmGetTagOffsetAndSize(h, 0, &off, &size));
    EXPECT_EQ(krmGetTagSignature(h, 0), krmSig("Tdec"));
    EXPECT_EQ(size, 12u);
    void* p = krmReadTag(h, krmSig("Tdec"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*(krmUInt32Number*)p, 6u);
    krmCloseProfile(h);
}

TEST_F(ProfileTest, DeletingKeepsAnEmptySlot)
{
    krmProfile h = open(makeProfile({{krmSig("Tst1"), tst1(1)}, {krmSig("Tst2"), tst1(2)}}));
    ASSERT_NE(h, nullptr);
    ASSERT_NE(krmReadTag(h, krmSig("Tst1")), nullptr);
    EXPECT_TRUE(krmWriteTag(h, krmSig("Tst1"), nullptr));
    EXPECT_FALSE(krmWriteTag(h, krmSig("Tst1"), nullptr));  // already gone
    EXPECT_EQ(krmGetTagCount(h), 2);
    EXPECT_FALSE(krmIsTag(h, krmSig("Tst1")));
    EXPECT_EQ(krmReadTag(h, krmSig("Tst1")), nullptr);

    Bytes out = save(h);
    EXPECT_EQ(get32(out, 128), 1u);
    krmProfile back = open(out);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(krmGetTagCount(back), 1);
    EXPECT_EQ(*(krmUInt32Number*)krmReadTag(back, krmSig("Tst2")), 2u);
    krmCloseProfile(back);
    krmCloseProfile(h);
}

TEST_F(ProfileTest, DirectoryHoldsAtMostHundredEntries)
{
    krmProfile h = krmCreateProfilePlaceholder(ctx);
    for (krmUInt32Number i = 0; i < 100; i++) ASSERT_TRUE(krmLinkTag(h, krmSig("L000") + i, krmSig("Tst1")));
    g_log.clear();
    EXPECT_FALSE(krmLinkTag(h, krmSig("Tst2"), krmSig("Tst1")));
    krmUInt32Number v = 1;
    EXPECT_FALSE(krmWriteTag(h, krmSig("Tst1"), &v));
    ASSERT_EQ(g_log.size(), 2u);
    EXPECT_EQ(g_log[0].text, "Too many tags (100)");
    EXPECT_EQ(g_log[0].code, (krmUInt32Number)krmErrRange);
    EXPECT_EQ(g_log[1].text, "Too many tags (100)");

    // Re-linking an existing entry needs no new slot.
    EXPECT_TRUE(krmLinkTag(h, krmSig("L000"), krmSig("Tst2")));
    EXPECT_EQ(krmTagLinkedTo(h, krmSig("L000")), krmSig("Tst2"));
    EXPECT_EQ(krmGetTagSignature(h, 100), 0u);
    EXPECT_EQ(krmGetTagSignature(h, 99), krmSig("L000") + 99);
    EXPECT_FALSE(krmGetTagOffsetAndSize(h, 100, nullptr, nullptr));
    krmCloseProfile(h);
}

TEST_F(ProfileTest, LinkTagSharesDataWhenSaved)
{
    krmProfile h = krmCreateProfilePlaceholder(ctx);
    krmUInt32Number v = 77;
    ASSERT_TRUE(krmWriteTag(h, krmSig("Tst1"), &v));
    ASSERT_TRUE(krmLinkTag(h, krmSig("Tst2"), krmSig("Tst1")));
    EXPECT_EQ(krmReadTag(h, krmSig("Tst2")), krmReadTag(h, krmSig("Tst1")));

    Bytes out = save(h);
    EXPECT_EQ(out.size(), 128u + 4 + 24 + 12);
    EXPECT_EQ(get32(out, entryAt(0) + 4), get32(out, entryAt(1) + 4));
    EXPECT_EQ(get32(out, entryAt(0) + 8), get32(out, entryAt(1) + 8));
    krmProfile back = open(out);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(krmTagLinkedTo(back, krmSig("Tst2")), krmSig("Tst1"));
    EXPECT_EQ(*(krmUInt32Number*)krmReadTag(back, krmSig("Tst2")), 77u);
    krmCloseProfile(back);
    krmCloseProfile(h);
}

TEST_F(ProfileTest, SavingIntoATooSmallBlockFails)
{
    krmProfile h = krmCreateProfilePlaceholder(ctx);
    krmUInt32Number v = 1;
    ASSERT_TRUE(krmWriteTag(h, krmSig("Tst1"), &v));
    krmUInt32Number need = 0;
    ASSERT_TRUE(krmSaveProfileToMem(h, nullptr, &need));
    Bytes small(need - 4, 0xEE);
    krmUInt32Number size = need - 4;
    EXPECT_FALSE(krmSaveProfileToMem(h, small.data(), &size));
    Bytes exact(need);
    size = need;
    EXPECT_TRUE(krmSaveProfileToMem(h, exact.data(), &size));
    krmCloseProfile(h);
}

TEST_F(ProfileTest, MatrixShaperIsDecidedByTheDirectory)
{
    auto profileWith = [&](krmColorSpaceSignature space, std::vector<const char*> sigs) {
        std::vector<TagLayout> tags;
        for (const char* s : sigs) {
            TagLayout t;
            t.sig = ((krmUInt32Number)(krmUInt8Number)s[0] << 24) | ((krmUInt32Number)(krmUInt8Number)s[1] << 16) |
                    ((krmUInt32Number)(krmUInt8Number)s[2] << 8) | (krmUInt8Number)s[3];
            t.data = tst1(0, krmSig("junk"));  // never decoded
            tags.push_back(t);
        }
        return makeProfile(tags, 0x04300000, space);
    };
    struct Case {
        krmColorSpaceSignature space;
        std::vector<const char*> tags;
        bool shaper;
    } cases[] = {
        {krmSig("GRAY"), {"kTRC"}, true},
        {krmSig("GRAY"), {"rTRC"}, false},
        {krmSig("RGB "), {"rXYZ", "gXYZ", "bXYZ", "rTRC", "gTRC", "bTRC"}, true},
        {krmSig("RGB "), {"rXYZ", "gXYZ", "bXYZ", "rTRC", "gTRC"}, false},
        {krmSig("CMYK"), {"rXYZ", "gXYZ", "bXYZ", "rTRC", "gTRC", "bTRC", "kTRC"}, false},
    };
    for (const Case& c : cases) {
        krmProfile h = open(profileWith(c.space, c.tags));
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(krmIsMatrixShaper(h) != 0, c.shaper) << c.tags.size();
        EXPECT_EQ(krmGetTagStoredType(h, krmSig("rXYZ")), 0u);  // nothing decoded
        krmCloseProfile(h);
    }
    EXPECT_FALSE(krmIsMatrixShaper(nullptr));
}

// =============================================================================================
// Files and streams
// =============================================================================================

TEST_F(ProfileTest, WriteModeSavesOnClose)
{
    for (const char* mode : {"w", "W"}) {
        std::string path = tempPath("out.icc");
        krmProfile h = krmOpenProfileFromFileInContext(ctx, path.c_str(), mode);
        ASSERT_NE(h, nullptr) << mode;
        krmUInt32Number v = 31;
        ASSERT_TRUE(krmWriteTag(h, krmSig("Tst1"), &v));
        EXPECT_TRUE(krmCloseProfile(h));

        krmProfile back = krmOpenProfileFromFileInContext(ctx, path.c_str(), "r");
        ASSERT_NE(back, nullptr) << mode;
        EXPECT_EQ(*(krmUInt32Number*)krmReadTag(back, krmSig("Tst1")), 31u);
        krmCloseProfile(back);
        remove(path.c_str());
    }

    // A profile that cannot be saved leaves no file behind.
    std::string bad = tempPath("bad.icc");
    krmProfile h = krmOpenProfileFromFileInContext(ctx, bad.c_str(), "w");
    ASSERT_NE(h, nullptr);
    krmSetProfileVersion(h, 4.5);
    EXPECT_FALSE(krmCloseProfile(h));
    EXPECT_EQ(fopen(bad.c_str(), "rb"), nullptr);
    rmdir(dir.c_str());
}

// Regression: saving over the file a profile was read from truncated it before its unread tags
// were copied, and the failed save then removed the file.
TEST_F(ProfileTest, SavingOverTheSourceFileKeepsItsTags)
{
    std::string path = tempPath("same.icc");
    Bytes original = makeProfile({{krmSig("Tst1"), tst1(5)}, {krmSig("Tst2"), tst1(6)}});
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(original.data(), 1, original.size(), f);
    fclose(f);

    krmProfile h = krmOpenProfileFromFileInContext(ctx, path.c_str(), "r");
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(krmSaveProfileToFile(h, path.c_str()));
    krmCloseProfile(h);
    EXPECT_EQ(readFile(path), original);
    remove(path.c_str());
    rmdir(dir.c_str());
}

TEST_F(ProfileTest, StreamsReadAndWrite)
{
    std::string path = tempPath("stream.icc");
    FILE* f = fopen(path.c_str(), "w+b");
    ASSERT_NE(f, nullptr);
    krmProfile h = krmOpenProfileFromStreamInContext(ctx, f, "w");
    ASSERT_NE(h, nullptr);
    krmUInt32Number v = 12;
    ASSERT_TRUE(krmWriteTag(h, krmSig("Tst1"), &v));
    EXPECT_TRUE(krmCloseProfile(h));  // closes the stream

    f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    krmProfile back = krmOpenProfileFromStreamInContext(ctx, f, "r");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(*(krmUInt32Number*)krmReadTag(back, krmSig("Tst1")), 12u);
    krmCloseProfile(back);
    remove(path.c_str());
    rmdir(dir.c_str());
}

// A stream whose size cannot be found (a pipe) is refused; the call closes it all the same, as
// it does for every later failure, so a caller never leaks or double-closes it.
TEST_F(ProfileTest, RefusedStreamIsClosedByTheCall)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FILE* f = fdopen(fds[0], "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(krmOpenProfileFromStreamInContext(ctx, f, "r"), nullptr);
    EXPECT_EQ(fcntl(fds[0], F_GETFD), -1);  // the read end is closed
    close(fds[1]);
}

// =============================================================================================
// With the engine's own tag types
// =============================================================================================

namespace {
Bytes textType(const char* s)
{
    Bytes b = tst1(0, krmSig("text"));
    b.resize(8);
    b.insert(b.end(), s, s + strlen(s) + 1);
    return b;
}
}  // namespace

TEST_F(ProfileTest, SharedXYZBlockDecodesOnceAndSharedTextTwice)
{
    Bytes xyz = tst1(0, krmSig("XYZ "));
    xyz.resize(8);
    for (krmUInt32Number v : {0x0000F6D6u, 0x00010000u, 0x0000D32Du}) put32(xyz, xyz.size(), v);
    krmProfile h = open(makeProfile({{krmSig("rXYZ"), xyz},
                                     {krmSig("gXYZ"), {}, 0},
                                     {krmSig("bXYZ"), {}, 0},
                                     {krmSig("cprt"), textType("shared")},
                                     {krmSig("desc"), {}, 3}}));
    ASSERT_NE(h, nullptr);
    const krmCIEXYZ* r = (const krmCIEXYZ*)krmReadTag(h, krmSig("rXYZ"));
    ASSERT_NE(r, nullptr) << (g_log.empty() ? "" : g_log[0].text);
    EXPECT_EQ(krmReadTag(h, krmSig("gXYZ")), r);
    EXPECT_EQ(krmReadTag(h, krmSig("bXYZ")), r);
    EXPECT_EQ(r->X, 0xF6D6 / 65536.0);
    EXPECT_EQ(r->Y, 1.0);

    void* cprt = krmReadTag(h, krmSig("cprt"));
    void* desc = krmReadTag(h, krmSig("desc"));
    ASSERT_NE(cprt, nullptr);
    ASSERT_NE(desc, nullptr);
    EXPECT_NE(cprt, desc);
    EXPECT_EQ(krmGetTagStoredType(h, krmSig("desc")), krmSig("text"));
    char buf[32];
    krmMLUGetASCII((const krmMLU*)desc, krmNoLanguage, krmNoCountry, buf, sizeof(buf));
    EXPECT_STREQ(buf, "shared");
    krmCloseProfile(h);
}

TEST_F(ProfileTest, PrivateTextTagNeedsPermissiveReading)
{
    Bytes b = makeProfile({{krmSig("Zpri"), textType("private")}});
    krmProfile h = open(b);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(krmReadTag(h, krmSig("Zpri")), nullptr);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].text, "Unknown tag signature 'Zpri' found.");
    EXPECT_EQ(g_log[0].code, (krmUInt32Number)krmErrUnknownExtension);
    krmCloseProfile(h);

    krmContext perm = makeContext(true);
    h = krmOpenProfileFromMemInContext(perm, b.data(), (krmUInt32Number)b.size());
    ASSERT_NE(h, nullptr);
    const krmMLU* mlu = (const krmMLU*)krmReadTag(h, krmSig("Zpri"));
    ASSERT_NE(mlu, nullptr);
    char buf[32];
    krmMLUGetASCII(mlu, krmNoLanguage, krmNoCountry, buf, sizeof(buf));
    EXPECT_STREQ(buf, "private");
    krmCloseProfile(h);
    krmDeleteContext(perm);
}

// Regression: a short 'chad' read permissively was written back with the descriptor's nine
// elements, reading past the three the object holds.
TEST_F(ProfileTest, PermissiveShortArrayIsSavedWithWhatItHolds)
{
    Bytes chad = tst1(0x10000, krmSig("sf32"));
    put32(chad, 12, 0x20000);
    put32(chad, 16, 0x30000);
    krmContext perm = makeContext(true);
    Bytes b = makeProfile({{krmSig("chad"), chad}});
    krmProfile h = krmOpenProfileFromMemInContext(perm, b.data(), (krmUInt32Number)b.size());
    ASSERT_NE(h, nullptr);
    ASSERT_NE(krmReadTag(h, krmSig("chad")), nullptr);
    Bytes out = save(h);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(get32(out, entryAt(0) + 8), 20u);
    EXPECT_EQ(memcmp(out.data() + get32(out, entryAt(0) + 4), chad.data(), chad.size()), 0);
    krmCloseProfile(h);
    krmDeleteContext(perm);
}

// Regression: a tag read permissively with a type its descriptor does not list ('meta' holding
// 'text') was handed to the writer of the descriptor's type on saving and crashed it; a private
// tag that had been viewed lost its data.
TEST_F(ProfileTest, PermissivelyDecodedTagsAreSavedAsStored)
{
    krmContext perm = makeContext(true);
    Bytes meta = textType("not a dictionary");
    Bytes priv = textType("private");
    Bytes b = makeProfile({{krmSig("meta"), meta}, {krmSig("Zpri"), priv}});
    krmProfile h = krmOpenProfileFromMemInContext(perm, b.data(), (krmUInt32Number)b.size());
    ASSERT_NE(h, nullptr);
    ASSERT_NE(krmReadTag(h, krmSig("meta")), nullptr);
    ASSERT_NE(krmReadTag(h, krmSig("Zpri")), nullptr);
    Bytes out = save(h);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(get32(out, entryAt(0) + 8), meta.size());
    EXPECT_EQ(memcmp(out.data() + get32(out, entryAt(0) + 4), meta.data(), meta.size()), 0);
    EXPECT_EQ(get32(out, entryAt(1) + 8), priv.size());
    EXPECT_EQ(memcmp(out.data() + get32(out, entryAt(1) + 4), priv.data(), priv.size()), 0);
    krmCloseProfile(h);
    krmDeleteContext(perm);
}
