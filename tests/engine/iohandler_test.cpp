// Byte streams (memory, null, file, stdio) and the big-endian number primitives.

#include "support/error_log.h"
#include "krm_internal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using error_log::captureHandler;
using error_log::g_log;
using error_log::Logged;

class IOTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        ctx = krmCreateContext(nullptr, nullptr);
        ASSERT_NE(ctx, nullptr);
        krmSetLogErrorHandlerInContext(ctx, captureHandler);
        char tmpl[] = "/tmp/krm_io_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir + "'";
        (void)!system(cmd.c_str());
        krmDeleteContext(ctx);
    }
    std::string writeFile(const char* name, const std::vector<krmUInt8Number>& bytes)
    {
        std::string path = dir + "/" + name;
        FILE* f = fopen(path.c_str(), "wb");
        if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        return path;
    }
    krmContext ctx = nullptr;
    std::string dir;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Memory handler
// ---------------------------------------------------------------------------------------------

TEST_F(IOTest, MemoryReaderCopiesTheBlockAndStopsAtItsEnd)
{
    krmUInt8Number block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    krmIOHandler* io = krmOpenIOHandlerFromMem(ctx, block, sizeof(block), "r");
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->ReportedSize, 8u);
    block[0] = 99;  // the handler has its own copy

    krmUInt8Number buf[8] = {0};
    EXPECT_EQ(io->Read(io, buf, 2, 3), 3u);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[5], 6);
    EXPECT_EQ(io->Tell(io), 6u);

    // Zero sizes return 0 silently; passing the end is an error that moves nothing.
    EXPECT_EQ(io->Read(io, buf, 0, 5), 0u);
    EXPECT_EQ(io->Read(io, buf, 5, 0), 0u);
    EXPECT_TRUE(g_log.empty());
    EXPECT_EQ(io->Read(io, buf, 3, 1), 0u);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].code, (krmUInt32Number)krmErrRead);
    EXPECT_EQ(g_log[0].text, "Read from memory error");
    EXPECT_EQ(io->Tell(io), 6u);

    // A product that overflows 32 bits and a null destination are refused too.
    EXPECT_EQ(io->Read(io, buf, 0x10000, 0x10000), 0u);
    EXPECT_EQ(io->Read(io, nullptr, 1, 1), 0u);
    EXPECT_EQ(g_log.size(), 3u);

    EXPECT_TRUE(io->Seek(io, 8));
    EXPECT_FALSE(io->Seek(io, 9));
    EXPECT_EQ(g_log.size(), 3u);  // silent
    EXPECT_TRUE(krmCloseIOHandler(io));
}

TEST_F(IOTest, MemoryWriterCutsAtTheEndOfTheBlock)
{
    krmUInt8Number block[6];
    memset(block, 0xEE, sizeof(block));
    krmIOHandler* io = krmOpenIOHandlerFromMem(ctx, block, 4, "w");
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->ReportedSize, 0u);

    const krmUInt8Number data[3] = {1, 2, 3};
    EXPECT_TRUE(io->Write(io, 3, data));
    EXPECT_TRUE(io->Write(io, 3, data));  // only one byte fits, still a success
    EXPECT_TRUE(io->Write(io, 0, nullptr));
    EXPECT_EQ(io->UsedSpace, 4u);
    EXPECT_EQ(block[3], 1);
    EXPECT_EQ(block[4], 0xEE);  // nothing past the block

    // Rewriting the start does not lower the used space.
    EXPECT_TRUE(io->Seek(io, 0));
    EXPECT_TRUE(io->Write(io, 1, data));
    EXPECT_EQ(io->UsedSpace, 4u);

    EXPECT_FALSE(io->Write(io, 1, nullptr));
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].code, (krmUInt32Number)krmErrWrite);
    EXPECT_EQ(g_log[0].text, "Write to memory error");
    EXPECT_TRUE(krmCloseIOHandler(io));
}

TEST_F(IOTest, MemoryOpeningFailures)
{
    struct Case {
        const char* mode;
        void* block;
        krmUInt32Number code;
        const char* text;
    } cases[] = {
        {"r", nullptr, krmErrRead, "Couldn't read profile from NULL pointer"},
        {"w", nullptr, krmErrWrite, "Couldn't write profile to NULL pointer"},
        {"x", (void*)"abc", krmErrUnknownExtension, "Unknown access mode 'x'"},
        {"r", (void*)"abc", krmErrRead, "Couldn't allocate 0 bytes for profile"},  // size 0 below
    };
    for (const Case& c : cases) {
        g_log.clear();
        krmUInt32Number size = strcmp(c.text, "Couldn't allocate 0 bytes for profile") == 0 ? 0 : 3;
        EXPECT_EQ(krmOpenIOHandlerFromMem(ctx, c.block, size, c.mode), nullptr) << c.text;
        ASSERT_EQ(g_log.size(), 1u) << c.text;
        EXPECT_EQ(g_log[0].code, c.code);
        EXPECT_EQ(g_log[0].text, c.text);
    }
}

// ---------------------------------------------------------------------------------------------
// Null handler
// ---------------------------------------------------------------------------------------------

TEST_F(IOTest, NullHandlerCountsBytes)
{
    krmIOHandler* io = krmOpenIOHandlerFromNull(ctx);
    ASSERT_NE(io, nullptr);
    EXPECT_TRUE(krmWriteUInt32(io, 7));
    EXPECT_TRUE(krmWriteUInt16(io, 7));
    EXPECT_EQ(io->UsedSpace, 6u);
    EXPECT_EQ(io->Tell(io), 6u);
    EXPECT_EQ(io->Read(io, nullptr, 4, 2), 2u);
    EXPECT_EQ(io->Tell(io), 14u);
    EXPECT_TRUE(io->Seek(io, 2));
    EXPECT_TRUE(krmWriteUInt8(io, 1));
    EXPECT_EQ(io->UsedSpace, 6u);  // the highest position reached

    // Past 4 GiB the count cannot go.
    EXPECT_TRUE(io->Seek(io, 0xFFFFFFF0u));
    krmUInt8Number dummy[32] = {0};
    EXPECT_FALSE(io->Write(io, 32, dummy));
    EXPECT_TRUE(krmCloseIOHandler(io));
}

// ---------------------------------------------------------------------------------------------
// File handler
// ---------------------------------------------------------------------------------------------

TEST_F(IOTest, FileModeStrings)
{
    std::string path = writeFile("a.bin", {1, 2, 3});
    struct Case {
        const char* mode;
        const char* text;  // null: no message
    } cases[] = {
        {"rw", "Access mode already specified 'w'"},
        {"rr", "Access mode already specified 'r'"},
        {"rb", "Wrong access mode 'b'"},
        {"e", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        g_log.clear();
        EXPECT_EQ(krmOpenIOHandlerFromFile(ctx, path.c_str(), c.mode), nullptr) << c.mode;
        if (c.text == nullptr) {
            EXPECT_TRUE(g_log.empty()) << c.mode;
        } else {
            ASSERT_EQ(g_log.size(), 1u) << c.mode;
            EXPECT_EQ(g_log[0].code, (krmUInt32Number)krmErrFile);
            EXPECT_EQ(g_log[0].text, c.text);
        }
    }

    krmIOHandler* io = krmOpenIOHandlerFromFile(ctx, path.c_str(), "re");
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->ReportedSize, 3u);
    EXPECT_EQ(std::string(io->PhysicalFile), path);
    EXPECT_TRUE(krmCloseIOHandler(io));
}

TEST_F(IOTest, FileOpeningFailuresNameTheFile)
{
    std::string missing = dir + "/missing.icc";
    EXPECT_EQ(krmOpenIOHandlerFromFile(ctx, missing.c_str(), "r"), nullptr);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].text, "File '" + missing + "' not found");

    std::string uncreatable = dir + "/no/such/dir/out.icc";
    EXPECT_EQ(krmOpenIOHandlerFromFile(ctx, uncreatable.c_str(), "w"), nullptr);
    ASSERT_EQ(g_log.size(), 2u);
    EXPECT_EQ(g_log[1].text, "Couldn't create '" + uncreatable + "'");
    EXPECT_EQ(g_log[1].code, (krmUInt32Number)krmErrFile);
}

TEST_F(IOTest, FileShortReadReportsBytes)
{
    std::string path = writeFile("short.bin", {1, 2, 3});
    krmIOHandler* io = krmOpenIOHandlerFromFile(ctx, path.c_str(), "r");
    ASSERT_NE(io, nullptr);
    krmUInt8Number buf[8];
    EXPECT_EQ(io->Read(io, buf, 8, 1), 0u);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].text, "Read error. Got 0 bytes, block should be of 8 bytes");
    EXPECT_TRUE(krmCloseIOHandler(io));

    io = krmOpenIOHandlerFromFile(ctx, path.c_str(), "r");
    EXPECT_EQ(io->Read(io, buf, 1, 5), 0u);
    EXPECT_EQ(g_log[1].text, "Read error. Got 3 bytes, block should be of 5 bytes");
    EXPECT_TRUE(krmCloseIOHandler(io));
}

TEST_F(IOTest, FileWriteThenReadBack)
{
    std::string path = dir + "/w.bin";
    krmIOHandler* io = krmOpenIOHandlerFromFile(ctx, path.c_str(), "w");
    ASSERT_NE(io, nullptr);
    EXPECT_TRUE(krmWriteUInt32(io, 0xCAFEBABE));
    EXPECT_TRUE(io->Write(io, 0, nullptr));
    EXPECT_EQ(io->UsedSpace, 4u);
    EXPECT_TRUE(krmCloseIOHandler(io));

    io = krmOpenIOHandlerFromFile(ctx, path.c_str(), "r");
    ASSERT_NE(io, nullptr);
    krmUInt32Number v = 0;
    EXPECT_TRUE(krmReadUInt32(io, &v));
    EXPECT_EQ(v, 0xCAFEBABEu);
    EXPECT_TRUE(krmCloseIOHandler(io));
}

TEST_F(IOTest, LongPathsAreCutTo255Characters)
{
    std::string name(240, 'n');
    std::string path = dir + "/" + name;  // longer than 255 in total
    ASSERT_GT(path.size(), 255u);
    std::string p = writeFile(name.c_str(), {0});
    krmIOHandler* io = krmOpenIOHandlerFromFile(ctx, p.c_str(), "r");
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(strlen(io->PhysicalFile), 255u);
    EXPECT_EQ(std::string(io->PhysicalFile), path.substr(0, 255));
    EXPECT_TRUE(krmCloseIOHandler(io));
}

TEST_F(IOTest, StreamHandlerReportsItsSize)
{
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    fwrite("0123456789", 1, 10, f);
    rewind(f);
    krmIOHandler* io = krmOpenIOHandlerFromStream(ctx, f);
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->ReportedSize, 10u);
    EXPECT_EQ(io->Tell(io), 0u);  // the size query leaves the position alone
    char c;
    EXPECT_EQ(io->Read(io, &c, 1, 1), 1u);
    EXPECT_EQ(c, '0');
    EXPECT_TRUE(krmCloseIOHandler(io));  // closes the stream too
}

// ---------------------------------------------------------------------------------------------
// Number primitives
// ---------------------------------------------------------------------------------------------

TEST_F(IOTest, NumbersAreBigEndianAndRoundTrip)
{
    krmUInt8Number block[64];
    memset(block, 0xEE, sizeof(block));
    krmIOHandler* w = krmOpenIOHandlerFromMem(ctx, block, sizeof(block), "w");
    ASSERT_NE(w, nullptr);
    const krmUInt16Number arr[3] = {0x0102, 0xFFFF, 0};
    krmCIEXYZ xyz = {0.9642, 1.0, 0.8249};
    EXPECT_TRUE(krmWriteUInt8(w, 0xAB));
    EXPECT_TRUE(krmWriteUInt16(w, 0x0102));
    EXPECT_TRUE(krmWriteUInt32(w, 0x01020304));
    EXPECT_TRUE(krmWriteUInt64(w, 0x0102030405060708ull));
    EXPECT_TRUE(krmWriteUInt16Array(w, 3, arr));
    EXPECT_TRUE(krmWriteFloat32(w, -1.5f));
    EXPECT_TRUE(krmWrite15Fixed16(w, -1.0));
    EXPECT_TRUE(krmWriteXYZ(w, &xyz));
    EXPECT_TRUE(krmWriteTypeBase(w, krmSig("XYZ ")));
    EXPECT_TRUE(krmWriteAlignment(w));
    krmUInt32Number used = w->UsedSpace;
    EXPECT_TRUE(krmCloseIOHandler(w));

    // Byte layout, most significant first.
    const krmUInt8Number expectHead[] = {0xAB, 0x01, 0x02, 0x01, 0x02, 0x03, 0x04, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(memcmp(block, expectHead, sizeof(expectHead)), 0);
    // -1.0 as s15Fixed16 is 0xFFFF0000; the PCS white as s15Fixed16 is 0x0000F6D6 ...
    const krmUInt8Number minusOne[] = {0xFF, 0xFF, 0x00, 0x00};
    EXPECT_EQ(memcmp(block + 1 + 2 + 4 + 8 + 6 + 4, minusOne, 4), 0);
    const krmUInt8Number d50x[] = {0x00, 0x00, 0xF6, 0xD6};
    EXPECT_EQ(memcmp(block + 29, d50x, 4), 0);
    // ... then type base 'XYZ ' with 4 zero bytes, then alignment to 4.
    EXPECT_EQ(memcmp(block + 41, "XYZ \0\0\0\0", 8), 0);
    EXPECT_EQ(used, 52u);
    EXPECT_EQ(block[49], 0);
    EXPECT_EQ(block[51], 0);

    krmIOHandler* r = krmOpenIOHandlerFromMem(ctx, block, used, "r");
    ASSERT_NE(r, nullptr);
    krmUInt8Number u8;
    krmUInt16Number u16, back[3];
    krmUInt32Number u32;
    krmUInt64Number u64;
    krmFloat32Number f;
    krmFloat64Number d;
    krmCIEXYZ xyzBack;
    EXPECT_TRUE(krmReadUInt8(r, &u8));
    EXPECT_TRUE(krmReadUInt16(r, &u16));
    EXPECT_TRUE(krmReadUInt32(r, &u32));
    EXPECT_TRUE(krmReadUInt64(r, &u64));
    EXPECT_TRUE(krmReadUInt16Array(r, 3, back));
    EXPECT_TRUE(krmReadFloat32(r, &f));
    EXPECT_TRUE(krmRead15Fixed16(r, &d));
    EXPECT_TRUE(krmReadXYZ(r, &xyzBack));
    EXPECT_EQ(krmReadTypeBase(r), krmSig("XYZ "));
    EXPECT_TRUE(krmReadAlignment(r));
    EXPECT_EQ(r->Tell(r), used);
    EXPECT_EQ(krmReadTypeBase(r), 0u);  // nothing left

    EXPECT_EQ(u8, 0xAB);
    EXPECT_EQ(u16, 0x0102);
    EXPECT_EQ(u32, 0x01020304u);
    EXPECT_EQ(u64, 0x0102030405060708ull);
    EXPECT_EQ(back[1], 0xFFFF);
    EXPECT_EQ(f, -1.5f);
    EXPECT_EQ(d, -1.0);
    // s15Fixed16 keeps values to within half a step.
    EXPECT_NEAR(xyzBack.X, 0.9642, 0.5 / 65536);
    EXPECT_NEAR(xyzBack.Z, 0.8249, 0.5 / 65536);
    EXPECT_EQ(xyzBack.Y, 1.0);
    EXPECT_TRUE(krmCloseIOHandler(r));
}

TEST_F(IOTest, UInt16ArrayWithoutDestinationSkips)
{
    krmUInt8Number block[6] = {0, 1, 0, 2, 0, 3};
    krmIOHandler* r = krmOpenIOHandlerFromMem(ctx, block, 6, "r");
    EXPECT_TRUE(krmReadUInt16Array(r, 2, nullptr));
    krmUInt16Number v;
    EXPECT_TRUE(krmReadUInt16(r, &v));
    EXPECT_EQ(v, 3);
    EXPECT_FALSE(krmReadUInt16Array(r, 1, nullptr));  // past the end
    krmCloseIOHandler(r);
}

TEST_F(IOTest, Float32ReadingRefusesImplausibleValues)
{
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float value;
        bool accepted;
    } cases[] = {
        {0.0f, true},
        {-0.0f, true},
        {1e20f, true},
        {-1e20f, true},
        {1.17549435e-38f, true},  // smallest normal
        {1e21f, false},
        {-1e21f, false},
        {inf, false},
        {-inf, false},
        {std::numeric_limits<float>::quiet_NaN(), false},
        {1e-40f, false},  // subnormal
    };
    for (const Case& c : cases) {
        krmUInt32Number bits;
        memcpy(&bits, &c.value, 4);
        krmUInt8Number block[4] = {(krmUInt8Number)(bits >> 24), (krmUInt8Number)(bits >> 16),
                                   (krmUInt8Number)(bits >> 8), (krmUInt8Number)bits};
        krmIOHandler* r = krmOpenIOHandlerFromMem(ctx, block, 4, "r");
        krmFloat32Number f = 123.0f;
        EXPECT_EQ(krmReadFloat32(r, &f) != 0, c.accepted) << c.value;
        krmCloseIOHandler(r);
    }
}

TEST_F(IOTest, AlignmentIsRelativeToThePosition)
{
    krmUInt8Number block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    krmIOHandler* r = krmOpenIOHandlerFromMem(ctx, block, 8, "r");
    for (krmUInt32Number start = 0; start <= 4; start++) {
        ASSERT_TRUE(r->Seek(r, start));
        EXPECT_TRUE(krmReadAlignment(r));
        EXPECT_EQ(r->Tell(r), (start + 3) & ~3u) << start;
    }
    krmCloseIOHandler(r);

    krmIOHandler* n = krmOpenIOHandlerFromNull(ctx);
    krmWriteUInt8(n, 1);
    EXPECT_TRUE(krmWriteAlignment(n));
    EXPECT_EQ(n->UsedSpace, 4u);
    EXPECT_TRUE(krmWriteAlignment(n));
    EXPECT_EQ(n->UsedSpace, 4u);
    krmCloseIOHandler(n);
}

TEST(FixedPoint, Conversions)
{
    EXPECT_EQ(krmDoubleTo15Fixed16(1.0), 0x10000);
    EXPECT_EQ(krmDoubleTo15Fixed16(-1.0), (krmS15Fixed16Number)0xFFFF0000);
    EXPECT_EQ(krmDoubleTo15Fixed16(0.5 / 65536.0), 1);          // rounds half up
    EXPECT_EQ(krmDoubleTo15Fixed16(-0.5 / 65536.0), 0);
    EXPECT_EQ(krmDoubleTo15Fixed16(0.9642), 0xF6D6);             // D50 X in a profile header
    EXPECT_EQ(krmDoubleTo15Fixed16(0.8249), 0xD32D);
    EXPECT_EQ(krmDoubleTo15Fixed16(32767.99998), 0x7FFFFFFF);
    EXPECT_EQ(krmDoubleTo15Fixed16(1e12), 0x7FFFFFFF);           // saturates, no wrap
    EXPECT_EQ(krmDoubleTo15Fixed16(-1e12), (krmS15Fixed16Number)0x80000000);

    // Every s15Fixed16 survives a trip through double.
    for (krmS15Fixed16Number v : {0, 1, -1, 0x7FFFFFFF, (krmS15Fixed16Number)0x80000000, 12345678})
        EXPECT_EQ(krmDoubleTo15Fixed16(krm15Fixed16toDouble(v)), v);

    // u8Fixed8 (the 'curv' gamma): 2.2 is 0x0233.
    EXPECT_EQ(krmDoubleTo8Fixed8(2.2), 0x0233);
    EXPECT_EQ(krmDoubleTo8Fixed8(1.0), 0x0100);
    EXPECT_DOUBLE_EQ(krm8Fixed8toDouble(0x0233), 563.0 / 256.0);
    for (int v = 0; v < 0x10000; v += 7) EXPECT_EQ(krmDoubleTo8Fixed8(krm8Fixed8toDouble((krmU8Fixed8Number)v)), v);
}

TEST(DateTime, CalendarConversionRoundTrips)
{
    krmDateTimeNumber n = {2026, 12, 9, 5, 29, 59};
    struct tm t;
    krmDecodeDateTimeNumber(&n, &t);
    EXPECT_EQ(t.tm_year, 126);
    EXPECT_EQ(t.tm_mon, 11);
    EXPECT_EQ(t.tm_mday, 9);
    EXPECT_EQ(t.tm_hour, 5);
    EXPECT_EQ(t.tm_min, 29);
    EXPECT_EQ(t.tm_sec, 59);
    krmDateTimeNumber back;
    krmEncodeDateTimeNumber(&back, &t);
    EXPECT_EQ(memcmp(&back, &n, sizeof(n)), 0);
}
