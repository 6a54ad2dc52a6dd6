// Whole-line workers against the per-pixel ones: every path the processor offers is forced in turn
// through KRM_SIMD and must give the words of the generic workers.
#include "krm_internal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

const char* kAdobeRGB = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
const char* kCMYK = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
const char* kLab = "/usr/share/color/icc/ghostscript/lab.icc";

constexpr krmUInt32Number kCMYK8 = krmFMT_COLORSPACE(krmPT_CMYK) | krmFMT_CHANNELS(4) | krmFMT_BYTES(1);
constexpr krmUInt32Number kCMYK16 = krmFMT_COLORSPACE(krmPT_CMYK) | krmFMT_CHANNELS(4) | krmFMT_BYTES(2);
constexpr krmUInt32Number kRGBA8 = krmFMT_COLORSPACE(krmPT_RGB) | krmFMT_CHANNELS(3) | krmFMT_EXTRA(1) | krmFMT_BYTES(1);
constexpr krmUInt32Number kARGB8 = kRGBA8 | krmFMT_SWAPFIRST(1);

// Paths to compare with the generic workers, and the worker each should pick when available.
const char* const kLevels[] = {"portable", "sse2", "avx2", "avx512"};

struct SimdLevel {
    explicit SimdLevel(const char* level) { setenv("KRM_SIMD", level, 1); }
    ~SimdLevel() { unsetenv("KRM_SIMD"); }
};

struct Chain {
    std::vector<krmProfile> profiles;
    ~Chain()
    {
        for (krmProfile h : profiles) krmCloseProfile(h);
    }
};

// Converts the input under the given KRM_SIMD; the worker's name goes to *name.
std::vector<krmUInt8Number> Convert(const char* level, Chain& chain, krmUInt32Number inFmt, krmUInt32Number outFmt,
                                    krmUInt32Number flags, const std::vector<krmUInt8Number>& in, size_t pixels,
                                    std::string* name)
{
    SimdLevel force(level);
    krmTransform t = krmCreateMultiprofileTransform(nullptr, chain.profiles.data(), krmUInt32Number(chain.profiles.size()),
                                                    inFmt, outFmt, 1, flags);
    EXPECT_NE(t, nullptr);
    if (!t) return {};
    const char* n = _krmFastWorkerName(t);
    *name = n ? n : "";
    const krmUInt32Number outSize = (krmT_CHANNELS(outFmt) + krmT_EXTRA(outFmt)) * krmT_BYTES(outFmt);
    std::vector<krmUInt8Number> out(pixels * outSize, 0xA5);
    // Lines of 1000 pixels: every path meets line starts and short tails.
    const krmUInt32Number inSize = (krmT_CHANNELS(inFmt) + krmT_EXTRA(inFmt)) * krmT_BYTES(inFmt);
    for (size_t done = 0; done < pixels;) {
        const size_t n = std::min<size_t>(pixels - done, 1000 * 997);
        krmDoTransformLineStride(t, in.data() + done * inSize, out.data() + done * outSize, 1000, krmUInt32Number(n / 1000),
                                 1000 * inSize, 1000 * outSize, 0, 0);
        krmDoTransform(t, in.data() + (done + n / 1000 * 1000) * inSize, out.data() + (done + n / 1000 * 1000) * outSize,
                       krmUInt32Number(n % 1000));
        done += n;
    }
    krmDeleteTransform(t);
    return out;
}

// Every path against the generic one, byte for byte; each path must really be in use.
void ExpectAllPathsEqual(Chain& chain, krmUInt32Number inFmt, krmUInt32Number outFmt, krmUInt32Number flags,
                         const std::vector<krmUInt8Number>& in, size_t pixels, const char* kind)
{
    std::string name;
    const auto reference = Convert("generic", chain, inFmt, outFmt, flags, in, pixels, &name);
    EXPECT_EQ(name, "");
    for (const char* level : kLevels) {
        const auto out = Convert(level, chain, inFmt, outFmt, flags, in, pixels, &name);
        SCOPED_TRACE(name);
        EXPECT_EQ(name.rfind(kind, 0), 0u) << "level " << level;
        ASSERT_EQ(out.size(), reference.size());
        size_t firstDiff = 0;
        while (firstDiff < out.size() && out[firstDiff] == reference[firstDiff]) firstDiff++;
        EXPECT_EQ(firstDiff, out.size()) << "first difference at byte " << firstDiff;
    }
}

bool Open(Chain& c, std::initializer_list<const char*> paths)
{
    c.profiles.push_back(krmCreate_sRGBProfile());
    for (const char* p : paths) {
        krmProfile h = krmOpenProfileFromFile(p, "r");
        if (!h) return false;
        c.profiles.push_back(h);
    }
    return true;
}

TEST(FastPaths, MatrixShaperAllRGB8Inputs)
{
    Chain chain;
    if (!Open(chain, {kAdobeRGB})) GTEST_SKIP() << "colord profiles missing";
    const size_t pixels = size_t(1) << 24;
    std::vector<krmUInt8Number> in(pixels * 3);
    for (size_t i = 0; i < pixels; i++) {
        in[3 * i] = krmUInt8Number(i >> 16);
        in[3 * i + 1] = krmUInt8Number(i >> 8);
        in[3 * i + 2] = krmUInt8Number(i);
    }
    ExpectAllPathsEqual(chain, krmFmtRGB8, krmFmtRGB8, 0, in, pixels, "matrix-shaper");
}

// Alpha layouts: copied alpha in front and behind, and an untouched alpha byte.
TEST(FastPaths, MatrixShaperAlphaLayouts)
{
    Chain chain;
    if (!Open(chain, {kAdobeRGB})) GTEST_SKIP() << "colord profiles missing";
    const size_t pixels = 300007;
    std::vector<krmUInt8Number> in(pixels * 4);
    std::mt19937 rng(7);
    for (auto& v : in) v = krmUInt8Number(rng());
    ExpectAllPathsEqual(chain, krmFmtBGRA8, krmFmtBGRA8, krmFlagCopyAlpha, in, pixels, "matrix-shaper");
    ExpectAllPathsEqual(chain, kARGB8, kRGBA8, krmFlagCopyAlpha, in, pixels, "matrix-shaper");
    ExpectAllPathsEqual(chain, krmFmtBGRA8, krmFmtRGB8, 0, in, pixels, "matrix-shaper");
}

// Every third code per channel, 8-bit, and random words, 16-bit, through the resampled CLUT.
TEST(FastPaths, CLUTToCMYK)
{
    Chain chain;
    if (!Open(chain, {kCMYK})) GTEST_SKIP() << "Ghostscript profiles missing";
    std::vector<krmUInt8Number> in8;
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 3)
            for (int b = 0; b < 256; b += 3) in8.insert(in8.end(), {krmUInt8Number(r), krmUInt8Number(g), krmUInt8Number(b)});
    in8.insert(in8.end(), {255, 255, 255, 255, 0, 254});
    ExpectAllPathsEqual(chain, krmFmtRGB8, kCMYK8, 0, in8, in8.size() / 3, "clut");

    const size_t pixels = 1 << 20;
    std::vector<krmUInt16Number> words(pixels * 3);
    std::mt19937 rng(11);
    for (auto& v : words) v = krmUInt16Number(rng());
    for (int i = 0; i < 12; i++) words[i] = (i % 2) ? 0xFFFF : 0;  // the grid's corners
    std::vector<krmUInt8Number> in16(words.size() * 2);
    std::memcpy(in16.data(), words.data(), in16.size());
    ExpectAllPathsEqual(chain, krmFmtRGB16, kCMYK16, 0, in16, pixels, "clut");
    ExpectAllPathsEqual(chain, krmFmtRGB16, kCMYK8, 0, in16, pixels, "clut");
}

// RGB to RGB through Lab: the prelinearised CLUT with three outputs and an alpha channel.
TEST(FastPaths, PrelinearisedCLUT)
{
    Chain chain;
    if (!Open(chain, {kLab, kAdobeRGB})) GTEST_SKIP() << "profiles missing";
    std::vector<krmUInt8Number> in;
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 3)
            for (int b = 0; b < 256; b += 3) in.insert(in.end(), {krmUInt8Number(b), krmUInt8Number(g), krmUInt8Number(r), 7});
    ExpectAllPathsEqual(chain, krmFmtBGRA8, krmFmtBGRA8, krmFlagCopyAlpha, in, in.size() / 4, "clut");
}

// Gamut checks and formats with no line worker keep the per-pixel workers.
TEST(FastPaths, OtherTransformsKeepTheGenericWorkers)
{
    Chain chain;
    if (!Open(chain, {kAdobeRGB})) GTEST_SKIP() << "colord profiles missing";
    krmTransform t = krmCreateTransform(chain.profiles[0], krmFmtRGB8, chain.profiles[1], krmFmtRGB8, 0, krmFlagNoOptimize);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(_krmFastWorkerName(t), nullptr);
    krmDeleteTransform(t);
    t = krmCreateTransform(chain.profiles[0], krmFmtRGB8, chain.profiles[1], krmFmtRGBFloat, 0, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(_krmFastWorkerName(t), nullptr);
    krmDeleteTransform(t);
}

}  // namespace
