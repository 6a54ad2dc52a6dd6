// Pixel formats: formatter lookup, the unpacking and packing rules, and extra-channel copying.
#include "krm_internal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// A transform record carrying only the two formats the formatters read.
struct FakeTransform {
    _krmTransform_struct t;
    FakeTransform(krmUInt32Number in, krmUInt32Number out)
    {
        std::memset(&t, 0, sizeof t);
        t.InputFormat = in;
        t.OutputFormat = out;
        t.dwOriginalFlags = krmFlagCopyAlpha;
    }
};

krmFormatter16 In16(krmUInt32Number fmt) { return _krmGetFormatter(nullptr, fmt, krmFormatterInput, krmPACK_FLAGS_16BITS).Fmt16; }
krmFormatter16 Out16(krmUInt32Number fmt) { return _krmGetFormatter(nullptr, fmt, krmFormatterOutput, krmPACK_FLAGS_16BITS).Fmt16; }
krmFormatterFloat InFloat(krmUInt32Number fmt) { return _krmGetFormatter(nullptr, fmt, krmFormatterInput, krmPACK_FLAGS_FLOAT).FmtFloat; }
krmFormatterFloat OutFloat(krmUInt32Number fmt) { return _krmGetFormatter(nullptr, fmt, krmFormatterOutput, krmPACK_FLAGS_FLOAT).FmtFloat; }

krmUInt32Number BytesPerSample(krmUInt32Number fmt) { return krmT_BYTES(fmt) == 0 ? 8 : krmT_BYTES(fmt); }
krmUInt32Number PixelBytes(krmUInt32Number fmt) { return (krmT_CHANNELS(fmt) + krmT_EXTRA(fmt)) * BytesPerSample(fmt); }

// Every integer layout the general and fast rows accept, without premultiplied alpha.
std::vector<krmUInt32Number> IntegerFormats()
{
    std::vector<krmUInt32Number> v;
    for (krmUInt32Number bytes : {1u, 2u})
        for (krmUInt32Number ch = 1; ch <= 8; ch++)
            for (krmUInt32Number extra = 0; extra <= 3; extra++)
                for (krmUInt32Number bits = 0; bits < 32; bits++) {
                    const krmUInt32Number swap = bits & 1, swapfirst = (bits >> 1) & 1, flavor = (bits >> 2) & 1;
                    const krmUInt32Number endian = (bits >> 3) & 1, planar = (bits >> 4) & 1;
                    if (endian && bytes == 1) continue;
                    if (planar && swapfirst && bytes == 2) continue;  // not an accepted planar word layout
                    v.push_back(krmFMT_BYTES(bytes) | krmFMT_CHANNELS(ch) | krmFMT_EXTRA(extra) | krmFMT_DOSWAP(swap) |
                                krmFMT_SWAPFIRST(swapfirst) | krmFMT_FLAVOR(flavor) | krmFMT_ENDIAN16(endian) |
                                krmFMT_PLANAR(planar));
                }
    return v;
}

// Converts Pixels pixels of a buffer with a 16-bit formatter pair, as a worker does.
void Run16(FakeTransform& ft, const std::vector<krmUInt8Number>& in, std::vector<krmUInt8Number>& out,
           krmUInt32Number pixels, std::vector<krmUInt16Number>* working = nullptr)
{
    krmFormatter16 unpack = In16(ft.t.InputFormat), pack = Out16(ft.t.OutputFormat);
    ASSERT_NE(unpack, nullptr) << std::hex << ft.t.InputFormat;
    ASSERT_NE(pack, nullptr) << std::hex << ft.t.OutputFormat;
    const krmUInt32Number strideIn = pixels * BytesPerSample(ft.t.InputFormat);
    const krmUInt32Number strideOut = pixels * BytesPerSample(ft.t.OutputFormat);
    krmUInt8Number* src = const_cast<krmUInt8Number*>(in.data());
    krmUInt8Number* dst = out.data();
    for (krmUInt32Number i = 0; i < pixels; i++) {
        krmUInt16Number w[krmMAXCHANNELS] = {};
        src = unpack(&ft.t, w, src, strideIn);
        if (working) working->insert(working->end(), w, w + krmT_CHANNELS(ft.t.InputFormat));
        dst = pack(&ft.t, w, dst, strideOut);
    }
    EXPECT_EQ(src, in.data() + (krmT_PLANAR(ft.t.InputFormat) ? pixels * BytesPerSample(ft.t.InputFormat) : in.size()));
}

std::vector<krmUInt8Number> RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<krmUInt8Number> v(n);
    for (auto& b : v) b = krmUInt8Number(rng());
    return v;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Lookup
// ---------------------------------------------------------------------------------------------

TEST(FormatterLookup, NamedFormatsHaveTheirWords)
{
    // The words are the interface: callers and saved settings hold them as numbers.
    struct Named {
        const char* name;
        krmUInt32Number fmt, word;
    };
    const Named named[] = {
        {"LabDouble", krmFmtLabDouble, 0x4A0018}, {"LabFloat", krmFmtLabFloat, 0x4A001C},
        {"Lab16", krmFmtLab16, 0xA001A},          {"XYZDouble", krmFmtXYZDouble, 0x490018},
        {"XYZ16", krmFmtXYZ16, 0x9001A},          {"RGB8", krmFmtRGB8, 0x40019},
        {"RGB16", krmFmtRGB16, 0x4001A},          {"RGBDouble", krmFmtRGBDouble, 0x440018},
        {"RGBFloat", krmFmtRGBFloat, 0x44001C},   {"BGRA8", krmFmtBGRA8, 0x44499},
        {"CMYKFloat", krmFmtCMYKFloat, 0x460024},
    };
    for (const Named& n : named) EXPECT_EQ(n.fmt, n.word) << n.name;

    // The field accessors take the words apart as their layouts say.
    EXPECT_EQ(std::vector<krmUInt32Number>({krmT_COLORSPACE(0x44499), krmT_CHANNELS(0x44499), krmT_EXTRA(0x44499),
                                            krmT_BYTES(0x44499), krmT_DOSWAP(0x44499), krmT_SWAPFIRST(0x44499)}),
              std::vector<krmUInt32Number>({4, 3, 1, 1, 1, 1}));
    EXPECT_EQ(std::vector<krmUInt32Number>({krmT_FLOAT(0x4A0018), krmT_COLORSPACE(0x4A0018), krmT_BYTES(0x4A0018)}),
              std::vector<krmUInt32Number>({1, 10, 0}));
    EXPECT_TRUE(krmIsInkSpace(krmFmtCMYKFloat));
    EXPECT_FALSE(krmIsInkSpace(krmFmtRGBFloat));
}

TEST(FormatterLookup, EveryApplicationFormatHasBothPaths)
{
    for (krmUInt32Number f : {krmFmtLabDouble, krmFmtLabFloat, krmFmtLab16, krmFmtXYZDouble, krmFmtXYZ16, krmFmtRGB8,
                              krmFmtRGB16, krmFmtRGBDouble, krmFmtRGBFloat, krmFmtBGRA8, krmFmtCMYKFloat}) {
        EXPECT_NE(In16(f), nullptr) << std::hex << f;
        EXPECT_NE(Out16(f), nullptr) << std::hex << f;
        EXPECT_NE(InFloat(f), nullptr) << std::hex << f;
        EXPECT_NE(OutFloat(f), nullptr) << std::hex << f;
    }
}

TEST(FormatterLookup, RefusedLayouts)
{
    EXPECT_EQ(In16(krmFMT_BYTES(1)), nullptr);  // no channels
    EXPECT_EQ(Out16(krmFMT_COLORSPACE(krmPT_RGB) | krmFMT_BYTES(2)), nullptr);
    // Float input from floats accepts premultiplied alpha but not the subtractive flavor.
    EXPECT_EQ(InFloat(krmFmtRGBFloat | krmFMT_FLAVOR(1)), nullptr);
    EXPECT_NE(InFloat(krmFmtRGBFloat | krmFMT_EXTRA(1) | krmFMT_PREMUL(1)), nullptr);
    // Half floats are never written planar.
    EXPECT_EQ(OutFloat(krmFMT_FLOAT(1) | krmFMT_CHANNELS(3) | krmFMT_BYTES(2) | krmFMT_PLANAR(1)), nullptr);
    // 32-bit integers are no format at all.
    EXPECT_EQ(In16(krmFMT_CHANNELS(3) | krmFMT_BYTES(4)), nullptr);
}

TEST(FormatterLookup, OutputIgnoresTheOptimizedBit)
{
    EXPECT_EQ(Out16(krmFmtRGB8 | krmFMT_OPTIMIZED(1)), Out16(krmFmtRGB8));
    EXPECT_NE(Out16(krmFmtRGB16 | krmFMT_OPTIMIZED(1)), nullptr);
}

TEST(FormatterLookup, ProfileColorSpaceFormat)
{
    krmProfile h = krmCreateProfilePlaceholder(nullptr);
    ASSERT_NE(h, nullptr);
    krmSetProfileColorSpace(h, krmSig("CMYK"));
    EXPECT_EQ(krmFormatterForColorspaceOfProfile(h, 2, false), 0x60022u);
    EXPECT_EQ(krmFormatterForColorspaceOfProfile(h, 4, true), krmFmtCMYKFloat);
    krmSetProfileColorSpace(h, krmSig("6CLR"));
    EXPECT_EQ(krmFormatterForColorspaceOfProfile(h, 2, false), krmFMT_COLORSPACE(20) | krmFMT_CHANNELS(6) | 2u);
    krmSetProfileColorSpace(h, krmSig("????"));
    EXPECT_EQ(krmFormatterForColorspaceOfProfile(h, 2, false), 0u);
    krmCloseProfile(h);
}

TEST(FormatterLookup, ColorSpaceCodes)
{
    EXPECT_EQ(krmColorSpaceCode(krmSig("GRAY")), 3u);
    EXPECT_EQ(krmColorSpaceCode(krmSig("RGB ")), 4u);
    EXPECT_EQ(krmColorSpaceCode(krmSig("Lab ")), 10u);
    EXPECT_EQ(krmColorSpaceCode(krmSig("1CLR")), 15u);
    EXPECT_EQ(krmColorSpaceCode(krmSig("FCLR")), 29u);
    EXPECT_EQ(krmColorSpaceCode(krmSig("MCH5")), 19u);
    EXPECT_EQ(krmColorSpaceCode(krmSig("MCHA")), 24u);
    EXPECT_EQ(krmColorSpaceCode(krmSig("0CLR")), 0u);
    EXPECT_EQ(krmColorSpaceCode(krmSig("nope")), 0u);
}

// ---------------------------------------------------------------------------------------------
// Round trips
// ---------------------------------------------------------------------------------------------

// Integer layouts: pack(unpack(x)) gives back every colour sample; extra samples are left alone.
TEST(FormatterRoundTrip, IntegerLayoutsKeepColourSamples)
{
    const krmUInt32Number pixels = 7;
    for (krmUInt32Number fmt : IntegerFormats()) {
        FakeTransform ft(fmt, fmt);
        const auto in = RandomBytes(PixelBytes(fmt) * pixels, fmt);
        std::vector<krmUInt8Number> out(in.size(), 0xEE);
        Run16(ft, in, out, pixels);

        // Where the colour samples live, as the extra-channel layout computes it from the other side.
        std::vector<krmUInt8Number> expect = in;
        const krmUInt32Number b = BytesPerSample(fmt), n = krmT_CHANNELS(fmt), e = krmT_EXTRA(fmt);
        for (krmUInt32Number p = 0; p < pixels; p++)
            for (krmUInt32Number slot = 0; slot < n + e; slot++) {
                const bool extraFirst = krmT_DOSWAP(fmt) != krmT_SWAPFIRST(fmt);
                const bool isExtra = extraFirst ? slot < e : slot >= n;
                for (krmUInt32Number k = 0; k < b; k++) {
                    const size_t at = krmT_PLANAR(fmt) ? slot * pixels * b + p * b + k : (p * (n + e) + slot) * b + k;
                    if (isExtra) expect[at] = 0xEE;
                }
            }
        ASSERT_EQ(out, expect) << "format 0x" << std::hex << fmt;
    }
}

// Floating layouts: words -> samples -> words is exact for floats and doubles.
TEST(FormatterRoundTrip, FloatingSamplesKeepWords)
{
    for (krmUInt32Number bytes : {0u, 4u})
        for (krmUInt32Number space : {krmPT_RGB, krmPT_CMYK, krmPT_ANY})
            for (krmUInt32Number flags : {0u, krmFMT_FLAVOR(1), krmFMT_DOSWAP(1), krmFMT_PLANAR(1),
                                          krmFMT_EXTRA(1) | krmFMT_SWAPFIRST(1)}) {
                const krmUInt32Number fmt = krmFMT_FLOAT(1) | krmFMT_COLORSPACE(space) | krmFMT_CHANNELS(4) |
                                            krmFMT_BYTES(bytes) | flags;
                FakeTransform ft(fmt, fmt);
                krmFormatter16 pack = Out16(fmt), unpack = In16(fmt);
                ASSERT_NE(pack, nullptr);
                ASSERT_NE(unpack, nullptr);
                krmUInt8Number buf[64] = {};
                for (krmUInt32Number v = 0; v < 65536; v += 97) {
                    krmUInt16Number w[16] = {krmUInt16Number(v), krmUInt16Number(65535 - v), 0, 65535}, r[16] = {};
                    pack(&ft.t, w, buf, BytesPerSample(fmt));
                    unpack(&ft.t, r, buf, BytesPerSample(fmt));
                    for (int c = 0; c < 4; c++) ASSERT_EQ(r[c], w[c]) << std::hex << fmt << " " << v;
                }
            }
}

// The float path: samples -> floats -> samples.
TEST(FormatterRoundTrip, FloatPathKeepsSamples)
{
    for (krmUInt32Number fmt : {krmFmtRGB8, krmFmtRGB16, krmFmtBGRA8, krmFmtRGBFloat, krmFmtRGBDouble, krmFmtCMYKFloat,
                                krmFmtLabDouble, krmFmtLabFloat, krmFmtXYZDouble}) {
        FakeTransform ft(fmt, fmt);
        krmFormatterFloat unpack = InFloat(fmt), pack = OutFloat(fmt);
        const krmUInt32Number n = krmT_CHANNELS(fmt);
        for (int trial = 0; trial < 200; trial++) {
            krmUInt8Number in[64] = {}, out[64] = {};
            std::mt19937 rng(trial);
            for (krmUInt32Number c = 0; c < n + krmT_EXTRA(fmt); c++) {
                const double r = (rng() % 1001) / 1000.0;
                switch (BytesPerSample(fmt)) {
                case 1: in[c] = krmUInt8Number(rng()); break;
                case 2: { krmUInt16Number w = krmUInt16Number(rng()); std::memcpy(in + 2 * c, &w, 2); break; }
                case 4: { float f = float(r * (krmIsInkSpace(fmt) ? 100 : 1)); std::memcpy(in + 4 * c, &f, 4); break; }
                default: {
                    double d = fmt == krmFmtLabDouble ? (c == 0 ? r * 100 : r * 255 - 128) : r * 1.9;
                    std::memcpy(in + 8 * c, &d, 8);
                }
                }
            }
            krmFloat32Number w[16] = {};
            unpack(&ft.t, w, in, 0);
            pack(&ft.t, w, out, 0);
            const krmUInt32Number bytes = n * BytesPerSample(fmt);
            for (krmUInt32Number k = 0; k < bytes; k += BytesPerSample(fmt)) {
                if (BytesPerSample(fmt) <= 2)
                    ASSERT_EQ(std::memcmp(in + k, out + k, BytesPerSample(fmt)), 0) << std::hex << fmt;
                else if (BytesPerSample(fmt) == 4) {
                    float a, b;
                    std::memcpy(&a, in + k, 4);
                    std::memcpy(&b, out + k, 4);
                    ASSERT_NEAR(a, b, 1e-4 * (1 + std::fabs(a))) << std::hex << fmt;
                } else {
                    double a, b;
                    std::memcpy(&a, in + k, 8);
                    std::memcpy(&b, out + k, 8);
                    ASSERT_NEAR(a, b, 2e-5 * (1 + std::fabs(a))) << std::hex << fmt;
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Exact rules
// ---------------------------------------------------------------------------------------------

TEST(FormatterRules, ByteAndWordScaling)
{
    FakeTransform ft(krmFmtRGB8, krmFmtRGB8);
    krmUInt8Number px[3] = {0x80, 0x00, 0xFF};
    krmUInt16Number w[16] = {};
    In16(krmFmtRGB8)(&ft.t, w, px, 0);
    EXPECT_EQ(w[0], 0x8080);
    EXPECT_EQ(w[1], 0);
    EXPECT_EQ(w[2], 0xFFFF);

    krmUInt16Number words[3] = {0x8080, 0x807F, 0x8180};
    krmUInt8Number out[3];
    Out16(krmFmtRGB8)(&ft.t, words, out, 0);
    EXPECT_EQ(out[0], 0x80);
    EXPECT_EQ(out[1], 0x80);  // (w * 65281 + 2^23) >> 24 rounds
    EXPECT_EQ(out[2], 0x81);

    // Subtractive bytes.
    const krmUInt32Number cmykRev = krmFMT_COLORSPACE(krmPT_CMYK) | krmFMT_CHANNELS(4) | krmFMT_BYTES(1) | krmFMT_FLAVOR(1);
    FakeTransform fr(cmykRev, cmykRev);
    krmUInt8Number ink[4] = {0, 0x10, 0xFF, 0x80};
    In16(cmykRev)(&fr.t, w, ink, 0);
    EXPECT_EQ(w[0], 0xFFFF);
    EXPECT_EQ(w[1], 0xFFFF - 0x1010);
    EXPECT_EQ(w[2], 0);
    EXPECT_EQ(w[3], 0xFFFF - 0x8080);
}

TEST(FormatterRules, WordsToDoubles)
{
    FakeTransform ft(krmFmtRGB16, krmFmtRGBDouble);
    krmUInt16Number w[16] = {0x8000, 0, 0xFFFF};
    double out[3];
    Out16(krmFmtRGBDouble)(&ft.t, w, reinterpret_cast<krmUInt8Number*>(out), 0);
    EXPECT_NEAR(out[0], 0.500007629, 1e-9);
    EXPECT_EQ(out[1], 0.0);
    EXPECT_EQ(out[2], 1.0);

    const krmUInt32Number rev = krmFmtRGBDouble | krmFMT_FLAVOR(1);
    FakeTransform fr(krmFmtRGB16, rev);
    Out16(rev)(&fr.t, w, reinterpret_cast<krmUInt8Number*>(out), 0);
    EXPECT_NEAR(out[0], 1 - 0.500007629, 1e-9);
    EXPECT_EQ(out[2], 0.0);

    // Ink spaces are in percent.
    FakeTransform fc(krmFmtCMYKFloat, krmFmtCMYKFloat);
    krmUInt16Number ink[16] = {65535, 32768, 0, 655};
    float pct[4];
    Out16(krmFmtCMYKFloat)(&fc.t, ink, reinterpret_cast<krmUInt8Number*>(pct), 0);
    EXPECT_FLOAT_EQ(pct[0], 100.0f);
    EXPECT_NEAR(pct[1], 50.0008, 1e-3);
    EXPECT_NEAR(pct[3], 0.99947, 1e-4);
    krmUInt16Number back[16];
    In16(krmFmtCMYKFloat)(&fc.t, back, reinterpret_cast<krmUInt8Number*>(pct), 0);
    EXPECT_EQ(back[0], 65535);
    EXPECT_EQ(back[3], 655);
}

TEST(FormatterRules, BGRA8ChannelOrder)
{
    FakeTransform ft(krmFmtBGRA8, krmFmtBGRA8);
    krmUInt8Number px[4] = {0x10, 0x20, 0x30, 0x40};  // B, G, R, A
    krmUInt16Number w[16] = {};
    krmUInt8Number* next = In16(krmFmtBGRA8)(&ft.t, w, px, 0);
    EXPECT_EQ(next, px + 4);
    EXPECT_EQ(w[0], 0x3030);
    EXPECT_EQ(w[1], 0x2020);
    EXPECT_EQ(w[2], 0x1010);

    krmUInt8Number out[4] = {0, 0, 0, 0x99};
    Out16(krmFmtBGRA8)(&ft.t, w, out, 0);
    EXPECT_EQ(out[0], 0x10);
    EXPECT_EQ(out[2], 0x30);
    EXPECT_EQ(out[3], 0x99);  // alpha is only written by the alpha copy

    krmFloat32Number f[16] = {};
    InFloat(krmFmtBGRA8)(&ft.t, f, px, 0);
    EXPECT_FLOAT_EQ(f[0], 0x30 / 255.0f);
    EXPECT_FLOAT_EQ(f[2], 0x10 / 255.0f);
}

TEST(FormatterRules, SwapFirstWithoutExtraRotates)
{
    // 3 bytes stored as (c1, c2, c0): swapfirst alone moves the first stored sample to the end.
    const krmUInt32Number fmt = krmFMT_CHANNELS(3) | krmFMT_BYTES(1) | krmFMT_SWAPFIRST(1);
    FakeTransform ft(fmt, fmt);
    krmUInt8Number px[3] = {1, 2, 3};
    krmUInt16Number w[16] = {};
    In16(fmt)(&ft.t, w, px, 0);
    EXPECT_EQ(w[0], 2 * 257);
    EXPECT_EQ(w[1], 3 * 257);
    EXPECT_EQ(w[2], 1 * 257);
    krmUInt8Number out[3];
    Out16(fmt)(&ft.t, w, out, 0);
    EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{1, 2, 3}));
}

TEST(FormatterRules, PlanarSamplesArePlanesApart)
{
    const krmUInt32Number fmt = krmFmtRGB16 | krmFMT_PLANAR(1);
    FakeTransform ft(fmt, fmt);
    krmUInt16Number planes[6] = {1, 2, 3, 4, 5, 6};  // R R G G B B for two pixels
    krmUInt16Number w[16] = {};
    krmUInt8Number* p = reinterpret_cast<krmUInt8Number*>(planes);
    p = In16(fmt)(&ft.t, w, p, 4);
    EXPECT_EQ(p, reinterpret_cast<krmUInt8Number*>(planes) + 2);
    EXPECT_EQ(w[0], 1);
    EXPECT_EQ(w[1], 3);
    EXPECT_EQ(w[2], 5);
    In16(fmt)(&ft.t, w, p, 4);
    EXPECT_EQ(w[2], 6);
}

TEST(FormatterRules, Endian16)
{
    const krmUInt32Number fmt = krmFmtRGB16 | krmFMT_ENDIAN16(1);
    FakeTransform ft(fmt, fmt);
    krmUInt8Number px[6] = {0x12, 0x34, 0, 0, 0xFF, 0x00};
    krmUInt16Number w[16] = {};
    In16(fmt)(&ft.t, w, px, 0);
    EXPECT_EQ(w[0], 0x1234);  // big-endian whatever the machine
    EXPECT_EQ(w[2], 0xFF00);
}

TEST(FormatterRules, PremultipliedAlpha)
{
    const krmUInt32Number fmt = krmFmtRGB8 | krmFMT_EXTRA(1) | krmFMT_PREMUL(1);
    FakeTransform ft(fmt, fmt);
    krmUInt8Number px[4] = {64, 128, 200, 128};  // R, G, B premultiplied by A = 128
    krmUInt16Number w[16] = {};
    In16(fmt)(&ft.t, w, px, 0);
    const krmUInt32Number a = 128 * 257, fixed = a + (a + 32767) / 65535;
    EXPECT_EQ(w[0], std::min<krmUInt32Number>(65535, (64u * 257 * 65536) / fixed));
    EXPECT_EQ(w[1], std::min<krmUInt32Number>(65535, (128u * 257 * 65536) / fixed));
    EXPECT_EQ(w[2], 65535);  // 200 over an alpha of 128 saturates

    krmUInt8Number out[4] = {0, 0, 0, 128};
    Out16(fmt)(&ft.t, w, out, 0);
    EXPECT_NEAR(out[0], 64, 1);
    EXPECT_NEAR(out[1], 128, 1);
    EXPECT_EQ(out[2], 128);

    // Zero alpha leaves the colour unscaled on input and blacks it out on output.
    krmUInt8Number clear[4] = {10, 20, 30, 0};
    In16(fmt)(&ft.t, w, clear, 0);
    EXPECT_EQ(w[0], 10 * 257);
    Out16(fmt)(&ft.t, w, clear, 0);
    EXPECT_EQ(clear[0], 0);

    // Float path: divided by alpha.
    const krmUInt32Number ffmt = krmFmtRGBFloat | krmFMT_EXTRA(1) | krmFMT_PREMUL(1);
    FakeTransform ff(ffmt, ffmt);
    float fpx[4] = {0.25f, 0.5f, 0.0f, 0.5f};
    krmFloat32Number f[16] = {};
    InFloat(ffmt)(&ff.t, f, reinterpret_cast<krmUInt8Number*>(fpx), 0);
    EXPECT_FLOAT_EQ(f[0], 0.5f);
    EXPECT_FLOAT_EQ(f[1], 1.0f);
}

TEST(FormatterRules, LabAndXYZEncodings)
{
    FakeTransform ft(krmFmtLabDouble, krmFmtLabDouble);
    double lab[3] = {100, 0, 0};
    krmUInt16Number w[16] = {};
    In16(krmFmtLabDouble)(&ft.t, w, reinterpret_cast<krmUInt8Number*>(lab), 0);
    EXPECT_EQ(w[0], 65535);
    EXPECT_EQ(w[1], 32896);
    EXPECT_EQ(w[2], 32896);
    double out[3];
    krmUInt16Number mid[3] = {32768, 0, 65535};
    Out16(krmFmtLabDouble)(&ft.t, mid, reinterpret_cast<krmUInt8Number*>(out), 0);
    EXPECT_NEAR(out[0], 32768 / 655.35, 1e-9);
    EXPECT_NEAR(out[1], -128, 1e-9);
    EXPECT_NEAR(out[2], 65535 / 257.0 - 128, 1e-9);

    double clipped[3] = {150, -300, 300};
    In16(krmFmtLabDouble)(&ft.t, w, reinterpret_cast<krmUInt8Number*>(clipped), 0);
    EXPECT_EQ(w[0], 65535);
    EXPECT_EQ(w[1], 0);
    EXPECT_EQ(w[2], 65535);

    // Float path encodings.
    krmFloat32Number f[16];
    double lab2[3] = {50, 20, -30};
    InFloat(krmFmtLabDouble)(&ft.t, f, reinterpret_cast<krmUInt8Number*>(lab2), 0);
    EXPECT_FLOAT_EQ(f[0], 0.5f);
    EXPECT_FLOAT_EQ(f[1], 148.0f / 255.0f);
    EXPECT_FLOAT_EQ(f[2], 98.0f / 255.0f);

    FakeTransform fx(krmFmtXYZDouble, krmFmtXYZDouble);
    double xyz[3] = {0.9642, 1.0, 0.8249};
    In16(krmFmtXYZDouble)(&fx.t, w, reinterpret_cast<krmUInt8Number*>(xyz), 0);
    EXPECT_EQ(w[0], krmQuickSaturateWord(0.9642 * 32768));
    EXPECT_EQ(w[1], 32768);
    double dark[3] = {0.5, 0.0, 0.5};
    In16(krmFmtXYZDouble)(&fx.t, w, reinterpret_cast<krmUInt8Number*>(dark), 0);
    EXPECT_EQ(w[0], 0);
    EXPECT_EQ(w[2], 0);
    double big[3] = {3, 1, -1};
    In16(krmFmtXYZDouble)(&fx.t, w, reinterpret_cast<krmUInt8Number*>(big), 0);
    EXPECT_EQ(w[0], 65535);
    EXPECT_EQ(w[2], 0);
    InFloat(krmFmtXYZDouble)(&fx.t, f, reinterpret_cast<krmUInt8Number*>(xyz), 0);
    EXPECT_FLOAT_EQ(f[1], float(1.0 / 1.999969482421875));

    // Lab with an extra channel, chunky: the formatter steps over it.
    const krmUInt32Number labA = krmFmtLabDouble | krmFMT_EXTRA(1);
    FakeTransform fa(labA, labA);
    double px[8] = {100, 0, 0, 7, 0, 0, 0, 7};
    krmUInt8Number* next = In16(labA)(&fa.t, w, reinterpret_cast<krmUInt8Number*>(px), 0);
    EXPECT_EQ(next, reinterpret_cast<krmUInt8Number*>(px + 4));
}

TEST(FormatterRules, LabVersion2)
{
    const krmUInt32Number v2w = krmFMT_COLORSPACE(krmPT_LabV2) | krmFMT_CHANNELS(3) | krmFMT_BYTES(2);
    FakeTransform ft(v2w, v2w);
    krmUInt16Number px[3] = {0xFF00, 0x8000, 0};
    krmUInt16Number w[16] = {};
    In16(v2w)(&ft.t, w, reinterpret_cast<krmUInt8Number*>(px), 0);
    EXPECT_EQ(w[0], 0xFFFF);
    EXPECT_EQ(w[1], 0x8080);
    EXPECT_EQ(w[2], 0);
    krmUInt16Number back[3];
    Out16(v2w)(&ft.t, w, reinterpret_cast<krmUInt8Number*>(back), 0);
    EXPECT_EQ(back[0], 0xFF00);
    EXPECT_EQ(back[1], 0x8000);

    krmFloat32Number f[16];
    InFloat(v2w)(&ft.t, f, reinterpret_cast<krmUInt8Number*>(px), 0);
    EXPECT_FLOAT_EQ(f[0], 1.0f);
    f[0] = 1.0f;
    f[1] = 128.0f / 255.0f;
    f[2] = 0;
    OutFloat(v2w)(&ft.t, f, reinterpret_cast<krmUInt8Number*>(back), 0);
    EXPECT_EQ(back[0], 0xFF00);  // L* 100 in the version 2 encoding
    EXPECT_EQ(back[1], 0x8000);

    const krmUInt32Number v2b = krmFMT_COLORSPACE(krmPT_LabV2) | krmFMT_CHANNELS(3) | krmFMT_BYTES(1);
    krmUInt8Number b[3] = {255, 128, 0};
    In16(v2b)(&ft.t, w, b, 0);
    EXPECT_EQ(w[0], 0xFFFF);
    EXPECT_EQ(w[1], 0x8080);

    // ALab bytes: the alpha byte comes first, L*, a*, b* after it; the formatters leave it alone.
    const krmUInt32Number alab = 0x1E4099;
    FakeTransform fa(alab, alab);
    const krmUInt8Number px8[4] = {0x11, 200, 100, 50};
    krmUInt8Number* next = In16(alab)(&fa.t, w, const_cast<krmUInt8Number*>(px8), 0);
    EXPECT_EQ(next, px8 + 4);
    EXPECT_EQ(std::vector<int>(w, w + 3), (std::vector<int>{200 * 257, 100 * 257, 50 * 257}));
    InFloat(alab)(&fa.t, f, const_cast<krmUInt8Number*>(px8), 0);
    EXPECT_FLOAT_EQ(f[0], 200 * 257 / 65535.0f);
    EXPECT_FLOAT_EQ(f[1], 100 / 255.0f);
    EXPECT_FLOAT_EQ(f[2], 50 / 255.0f);
    krmUInt8Number out8[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(Out16(alab)(&fa.t, w, out8, 0), out8 + 4);
    EXPECT_EQ(std::vector<int>(out8, out8 + 5), (std::vector<int>{0xEE, 200, 100, 50, 0xEE}));
}

TEST(FormatterRules, HalfFloats)
{
    EXPECT_EQ(_krmFloat2Half(1.0f), 0x3C00);
    EXPECT_EQ(_krmFloat2Half(0.5f), 0x3800);
    EXPECT_EQ(_krmFloat2Half(-2.0f), 0xC000);
    EXPECT_EQ(_krmFloat2Half(65504.0f), 0x7BFF);
    EXPECT_EQ(_krmFloat2Half(65520.0f), 0x7C00);  // rounds up to infinity
    EXPECT_EQ(_krmFloat2Half(std::ldexp(1.0f, -24)), 0x0001);  // smallest subnormal
    EXPECT_EQ(_krmFloat2Half(1.0f + std::ldexp(1.0f, -11)), 0x3C00);  // tie to even
    EXPECT_EQ(_krmFloat2Half(1.0f + 3 * std::ldexp(1.0f, -11)), 0x3C02);
    EXPECT_FLOAT_EQ(_krmHalf2Float(0x3555), 0.333251953125f);
    EXPECT_TRUE(std::isinf(_krmHalf2Float(0x7C00)));
    // Every finite half survives the trip through float.
    for (krmUInt32Number h = 0; h < 65536; h++) {
        if ((h & 0x7C00) == 0x7C00) continue;
        ASSERT_EQ(_krmFloat2Half(_krmHalf2Float(krmUInt16Number(h))), h) << h;
    }

    const krmUInt32Number halfRGB = krmFMT_FLOAT(1) | krmFMT_COLORSPACE(krmPT_RGB) | krmFMT_CHANNELS(3) | krmFMT_BYTES(2);
    FakeTransform ft(halfRGB, halfRGB);
    krmUInt16Number px[3] = {0x3C00, 0x3800, 0x0000};
    krmUInt16Number w[16];
    In16(halfRGB)(&ft.t, w, reinterpret_cast<krmUInt8Number*>(px), 0);
    EXPECT_EQ(w[0], 65535);
    EXPECT_EQ(w[1], 32768);
    EXPECT_EQ(w[2], 0);
    krmUInt16Number out[3];
    krmFloat32Number f[16] = {1.0f, 0.5f, 0.25f};
    OutFloat(halfRGB)(&ft.t, f, reinterpret_cast<krmUInt8Number*>(out), 0);
    EXPECT_EQ(out[0], 0x3C00);
    EXPECT_EQ(out[2], 0x3400);
}

// The fast rows and the general rows give the same words: the general rows are reached through
// the premultiplied bit, which with an opaque alpha (or no alpha) changes nothing.
TEST(FormatterRules, FastRowsEqualGeneralRows)
{
    const krmUInt32Number pixels = 16;
    int compared = 0;
    for (krmUInt32Number fmt : IntegerFormats()) {
        if (krmT_PLANAR(fmt)) continue;
        const krmUInt32Number general = fmt | krmFMT_PREMUL(1);
        if (In16(fmt) == In16(general)) continue;  // not a fast row
        compared++;
        FakeTransform ff(fmt, fmt), fg(general, general);
        auto in = RandomBytes(PixelBytes(fmt) * pixels, fmt * 7);
        // Opaque alpha for the premultiplied reading.
        const bool extraFirst = krmT_DOSWAP(fmt) != krmT_SWAPFIRST(fmt);
        const krmUInt32Number b = krmT_BYTES(fmt), n = krmT_CHANNELS(fmt), e = krmT_EXTRA(fmt);
        for (krmUInt32Number p = 0; p < pixels && e > 0; p++) {
            const krmUInt32Number slot = extraFirst ? e - 1 : n;
            std::memset(&in[(p * (n + e) + slot) * b], 0xFF, b);
        }
        std::vector<krmUInt8Number> outF(in.size(), 0), outG(in.size(), 0);
        std::vector<krmUInt16Number> wF, wG;
        outF = in;
        outG = in;
        Run16(ff, in, outF, pixels, &wF);
        Run16(fg, in, outG, pixels, &wG);
        ASSERT_EQ(wF, wG) << "format 0x" << std::hex << fmt;
        ASSERT_EQ(outF, outG) << "format 0x" << std::hex << fmt;
    }
    EXPECT_GE(compared, 30);
}

TEST(FormatterRules, GreyFillsThreeWorkingValues)
{
    const krmUInt32Number gray = krmFMT_COLORSPACE(krmPT_GRAY) | krmFMT_CHANNELS(1) | krmFMT_BYTES(1);
    FakeTransform ft(gray, gray);
    krmUInt8Number px = 0x42;
    krmUInt16Number w[16] = {};
    In16(gray)(&ft.t, w, &px, 0);
    EXPECT_EQ(w[0], 0x4242);
    EXPECT_EQ(w[1], 0x4242);
    EXPECT_EQ(w[2], 0x4242);
}

// ---------------------------------------------------------------------------------------------
// Extra channels
// ---------------------------------------------------------------------------------------------

namespace {
std::string gLastError;
krmUInt32Number gLastCode = 0;
void Capture(krmContext, krmUInt32Number code, const char* text)
{
    gLastCode = code;
    gLastError = text;
}
}  // namespace

TEST(ExtraChannels, ConvertsBetweenSampleTypes)
{
    const krmUInt32Number rgba8 = krmFmtRGB8 | krmFMT_EXTRA(1);
    const krmUInt32Number rgba16 = krmFmtRGB16 | krmFMT_EXTRA(1);
    const krmUInt32Number rgba16se = rgba16 | krmFMT_ENDIAN16(1);
    const krmUInt32Number rgbaHalf = krmFMT_FLOAT(1) | krmFMT_CHANNELS(3) | krmFMT_BYTES(2) | krmFMT_EXTRA(1);
    const krmUInt32Number rgbaFloat = krmFmtRGBFloat | krmFMT_EXTRA(1);
    const krmUInt32Number rgbaDouble = krmFmtRGBDouble | krmFMT_EXTRA(1);
    krmStride stride = {0, 0, 0, 0};

    auto alphaOut = [&](krmUInt32Number inFmt, const void* inPixel, krmUInt32Number outFmt) {
        FakeTransform ft(inFmt, outFmt);
        krmUInt8Number out[64] = {};
        _krmHandleExtraChannels(&ft.t, inPixel, out, 1, 1, &stride);
        return std::vector<krmUInt8Number>(out + 3 * BytesPerSample(outFmt), out + 4 * BytesPerSample(outFmt));
    };
    auto asBytes = [](const auto& v) {
        const krmUInt8Number* p = reinterpret_cast<const krmUInt8Number*>(&v);
        return std::vector<krmUInt8Number>(p, p + sizeof v);
    };

    krmUInt8Number px8[4] = {0, 0, 0, 0x80};
    EXPECT_EQ(alphaOut(rgba8, px8, rgba8), asBytes(krmUInt8Number(0x80)));
    EXPECT_EQ(alphaOut(rgba8, px8, rgba16), asBytes(krmUInt16Number(0x8080)));
    EXPECT_EQ(alphaOut(rgba8, px8, rgba16se), asBytes(krmUInt16Number(0x8080)));
    EXPECT_EQ(alphaOut(rgba8, px8, rgbaFloat), asBytes(float(128 / 255.0)));
    EXPECT_EQ(alphaOut(rgba8, px8, rgbaDouble), asBytes(128 / 255.0));
    EXPECT_EQ(alphaOut(rgba8, px8, rgbaHalf), asBytes(_krmFloat2Half(float(128 / 255.0))));

    krmUInt16Number px16[4] = {0, 0, 0, 0x1234};
    EXPECT_EQ(alphaOut(rgba16, px16, rgba8), asBytes(krmUInt8Number((0x1234u * 65281 + 8388608) >> 24)));
    EXPECT_EQ(alphaOut(rgba16, px16, rgba16se), asBytes(krmUInt16Number(0x3412)));
    EXPECT_EQ(alphaOut(rgba16se, px16, rgba16), asBytes(krmUInt16Number(0x3412)));

    double pxd[4] = {0, 0, 0, 0.5};
    EXPECT_EQ(alphaOut(rgbaDouble, pxd, rgba8), asBytes(krmUInt8Number(128)));  // floor(127.5 + 0.5)
    EXPECT_EQ(alphaOut(rgbaDouble, pxd, rgba16), asBytes(krmUInt16Number(32768)));
    double pxBig[4] = {0, 0, 0, 7.0};
    EXPECT_EQ(alphaOut(rgbaDouble, pxBig, rgba8), asBytes(krmUInt8Number(255)));
    float pxf[4] = {0, 0, 0, 0.25f};
    EXPECT_EQ(alphaOut(rgbaFloat, pxf, rgbaHalf), asBytes(krmUInt16Number(0x3400)));
    krmUInt16Number pxh[4] = {0, 0, 0, 0x3800};
    EXPECT_EQ(alphaOut(rgbaHalf, pxh, rgbaDouble), asBytes(0.5));
}

TEST(ExtraChannels, FollowsEachLayout)
{
    // ARGB words in, BGRA bytes out, two lines of two pixels with padded lines.
    const krmUInt32Number argb16 = krmFmtRGB16 | krmFMT_EXTRA(1) | krmFMT_SWAPFIRST(1);
    FakeTransform ft(argb16, krmFmtBGRA8);
    krmUInt16Number in[2][10] = {{0x0101, 1, 2, 3, 0x0202, 1, 2, 3, 0, 0}, {0x0303, 1, 2, 3, 0x0404, 1, 2, 3, 0, 0}};
    krmUInt8Number out[2][12] = {};
    krmStride stride = {sizeof in[0], sizeof out[0], 0, 0};
    _krmHandleExtraChannels(&ft.t, in, out, 2, 2, &stride);
    EXPECT_EQ(out[0][3], 1);
    EXPECT_EQ(out[0][7], 2);
    EXPECT_EQ(out[1][3], 3);
    EXPECT_EQ(out[1][7], 4);
    EXPECT_EQ(out[0][0], 0);  // colour bytes untouched

    // Planar with two extra channels.
    const krmUInt32Number planar = krmFmtRGB8 | krmFMT_EXTRA(2) | krmFMT_PLANAR(1);
    const krmUInt32Number chunky = krmFmtRGB8 | krmFMT_EXTRA(2);
    FakeTransform fp(planar, chunky);
    krmUInt8Number pin[5 * 3] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 11, 12, 20, 21, 22};
    krmUInt8Number pout[3 * 5] = {};
    krmStride ps = {0, 0, 3, 0};
    _krmHandleExtraChannels(&fp.t, pin, pout, 3, 1, &ps);
    EXPECT_EQ(pout[3], 10);
    EXPECT_EQ(pout[4], 20);
    EXPECT_EQ(pout[8], 11);
    EXPECT_EQ(pout[9], 21);
    EXPECT_EQ(pout[14], 22);
}

TEST(ExtraChannels, MismatchesAndUnknownWidths)
{
    krmStride stride = {0, 0, 0, 0};
    krmUInt8Number in[8] = {1, 2, 3, 4, 5, 6, 7, 8}, out[8] = {};
    FakeTransform diff(krmFmtRGB8 | krmFMT_EXTRA(1), krmFmtRGB8 | krmFMT_EXTRA(2));
    _krmHandleExtraChannels(&diff.t, in, out, 1, 1, &stride);
    EXPECT_EQ(std::vector<int>(out, out + 8), std::vector<int>(8, 0));

    krmContext ctx = krmCreateContext(nullptr, nullptr);
    krmSetLogErrorHandlerInContext(ctx, Capture);
    const krmUInt32Number int32 = krmFMT_CHANNELS(1) | krmFMT_BYTES(4) | krmFMT_EXTRA(1);
    FakeTransform bad(int32, int32);
    bad.t.ContextID = ctx;
    gLastError.clear();
    _krmHandleExtraChannels(&bad.t, in, out, 1, 1, &stride);
    EXPECT_EQ(gLastCode, krmUInt32Number(krmErrUnknownExtension));
    EXPECT_EQ(gLastError, "Unrecognized alpha channel width");
    krmDeleteContext(ctx);
}

// A formatter plug-in is asked before the built-in tables.
namespace {
krmUInt8Number* PluginUnroll(_krmTransform_struct*, krmUInt16Number w[], krmUInt8Number* p, krmUInt32Number)
{
    w[0] = 4242;
    return p + 1;
}
krmFormatter PluginFactory(krmUInt32Number Type, krmFormatterDirection Dir, krmUInt32Number flags)
{
    krmFormatter f;
    f.Fmt16 = (Type == krmFmtRGB8 && Dir == krmFormatterInput && flags == krmPACK_FLAGS_16BITS) ? PluginUnroll : nullptr;
    return f;
}
}  // namespace

TEST(FormatterLookup, PluginsComeFirst)
{
    krmPluginFormatters plugin = {{krmPluginMagicNumber, 2200, krmPluginFormattersSig, nullptr}, PluginFactory};
    krmContext ctx = krmCreateContext(&plugin, nullptr);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(_krmGetFormatter(ctx, krmFmtRGB8, krmFormatterInput, krmPACK_FLAGS_16BITS).Fmt16, PluginUnroll);
    EXPECT_EQ(_krmGetFormatter(ctx, krmFmtRGB16, krmFormatterInput, krmPACK_FLAGS_16BITS).Fmt16, In16(krmFmtRGB16));
    EXPECT_EQ(_krmGetFormatter(nullptr, krmFmtRGB8, krmFormatterInput, krmPACK_FLAGS_16BITS).Fmt16, In16(krmFmtRGB8));
    krmDeleteContext(ctx);
}
