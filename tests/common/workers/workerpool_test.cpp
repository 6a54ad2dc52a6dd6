// The thread pool behind the parallel-worker plug-in: every part runs once, nested and concurrent
// calls finish, and conversions split over two threads give the bytes of one thread. Plain
// GoogleTest, so that it also runs under ThreadSanitizer (./test.sh --tsan).
#include "common/workers/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

namespace {

TEST(WorkerPool, RunsEveryPartOnceAlsoNestedAndFromSeveralThreads)
{
    prismet::WorkerPool pool(2);
    EXPECT_EQ(pool.threads(), 2u);
    std::vector<std::atomic<int>> hits(64);
    auto nested = [&](unsigned i) {
        pool.run(8, [&](unsigned j) { hits[i * 8 + j]++; });
    };
    std::thread other([&] { pool.run(4, nested); });
    pool.run(4, [&](unsigned i) { nested(i + 4); });
    other.join();
    for (auto& h : hits) EXPECT_EQ(h.load(), 1);

    prismet::WorkerPool single(1);
    int count = 0;
    single.run(5, [&](unsigned) { count++; });
    EXPECT_EQ(count, 5);
}

struct Converted {
    std::vector<krmUInt8Number> lines, oneLine;
};

// Converts the same pixels as a rectangle of lines and as one long line.
Converted Convert(krmContext ctx, krmUInt32Number outFormat, krmUInt32Number outBytes, const std::vector<krmUInt8Number>& in)
{
    krmProfile srgb = krmCreate_sRGBProfile(ctx);
    krmProfile out = krmOpenProfileFromFileInContext(ctx, "/usr/share/color/icc/ghostscript/default_cmyk.icc", "r");
    Converted c;
    if (!out) {
        krmCloseProfile(srgb);
        return c;
    }
    krmTransform t = krmCreateTransformWithContext(ctx, srgb, krmFmtBGRA8, out, outFormat, 0, 0);
    EXPECT_NE(t, nullptr);
    const krmUInt32Number width = 512, pixels = krmUInt32Number(in.size() / 4), height = pixels / width;
    c.lines.resize(size_t(pixels) * outBytes);
    c.oneLine.resize(size_t(pixels) * outBytes);
    krmDoTransformLineStride(t, in.data(), c.lines.data(), width, height, width * 4, width * outBytes, 0, 0);
    krmDoTransform(t, in.data(), c.oneLine.data(), pixels);
    krmDeleteTransform(t);
    krmCloseProfile(srgb);
    krmCloseProfile(out);
    return c;
}

TEST(WorkerPool, TwoThreadConversionsEqualOneThread)
{
    std::vector<krmUInt8Number> in(512 * 300 * 4);
    std::mt19937 rng(3);
    for (auto& v : in) v = krmUInt8Number(rng());

    const krmUInt32Number cmyk8 = krmFMT_COLORSPACE(krmPT_CMYK) | krmFMT_CHANNELS(4) | krmFMT_BYTES(1);
    const krmUInt32Number cmyk16 = krmFMT_COLORSPACE(krmPT_CMYK) | krmFMT_CHANNELS(4) | krmFMT_BYTES(2);
    krmContext plain = krmCreateContext(nullptr, nullptr);
    krmContext parallel = krmCreateContext(nullptr, nullptr);
    ASSERT_TRUE(prismet::registerParallelWorkers(parallel, 2));
    for (auto [format, bytes] : {std::pair{cmyk8, 4u}, std::pair{cmyk16, 8u}}) {
        const Converted one = Convert(plain, format, bytes, in);
        const Converted two = Convert(parallel, format, bytes, in);
        if (one.lines.empty()) GTEST_SKIP() << "Ghostscript profiles missing";
        EXPECT_TRUE(one.lines == two.lines);
        EXPECT_TRUE(one.oneLine == two.oneLine);
        EXPECT_TRUE(one.lines == one.oneLine);
    }
    krmDeleteContext(plain);
    krmDeleteContext(parallel);
}

}  // namespace
