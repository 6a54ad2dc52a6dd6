// The CAM16 model against its own defining properties, and the ink separation and dot gain
// numbers against the engine's transforms on the Ghostscript CMYK profiles.
#include "common/analysis/Cam16Model.h"
#include "common/analysis/InkRamps.h"
#include "krm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <type_traits>

namespace {

struct ProfileClose {
    void operator()(void* p) const { krmCloseProfile(static_cast<krmProfile>(p)); }
};
using ProfilePtr = std::unique_ptr<std::remove_pointer_t<krmProfile>, ProfileClose>;
struct TransformDelete {
    void operator()(void* t) const { krmDeleteTransform(static_cast<krmTransform>(t)); }
};
using TransformPtr = std::unique_ptr<std::remove_pointer_t<krmTransform>, TransformDelete>;

ProfilePtr OpenGhostscript(const char* name)
{
    const std::string path = std::string("/usr/share/color/icc/ghostscript/") + name;
    ProfilePtr profile(krmOpenProfileFromFile(path.c_str(), "r"));
    EXPECT_TRUE(profile) << path << " missing (Debian package libgs-common)";
    return profile;
}

TEST(Cam16Model, WhiteGreyAndRoundTrips)
{
    const auto model = Cam16Model::create();
    ASSERT_TRUE(model);
    const auto white = model->forward({0.9642, 1.0, 0.8249});
    ASSERT_TRUE(white);
    EXPECT_NEAR(white->J, 100.0, 1e-9);
    EXPECT_LT(white->M, 2.0);  // a discounted illuminant leaves the white nearly achromatic

    const auto grey = model->forward({0.9642 * 0.2, 0.2, 0.8249 * 0.2});
    ASSERT_TRUE(grey);
    EXPECT_GT(grey->J, 20.0);
    EXPECT_LT(grey->J, 60.0);
    EXPECT_LT(grey->M, 2.0);

    // Surface colours: mixtures of the sRGB primaries (adapted to D50) from dark to full.
    const double toXyz[3][3] = {{0.4360747, 0.3850649, 0.1430804},
                                {0.2225045, 0.7168786, 0.0606169},
                                {0.0139322, 0.0971045, 0.7141733}};
    int checked = 0;
    for (double r : {0.01, 0.1, 0.3, 0.6, 1.0}) {
        for (double g : {0.01, 0.1, 0.3, 0.6, 1.0}) {
            for (double b : {0.01, 0.1, 0.3, 0.6, 1.0}) {
                const Cam16XYZ xyz{toXyz[0][0] * r + toXyz[0][1] * g + toXyz[0][2] * b,
                                   toXyz[1][0] * r + toXyz[1][1] * g + toXyz[1][2] * b,
                                   toXyz[2][0] * r + toXyz[2][1] * g + toXyz[2][2] * b};
                const auto app = model->forward(xyz);
                ASSERT_TRUE(app);
                const auto back = model->inverse(app->J, app->M, app->h);
                ASSERT_TRUE(back) << r << " " << g << " " << b;
                EXPECT_NEAR(back->X, xyz.X, 1e-9) << r << " " << g << " " << b;
                EXPECT_NEAR(back->Y, xyz.Y, 1e-9) << r << " " << g << " " << b;
                EXPECT_NEAR(back->Z, xyz.Z, 1e-9) << r << " " << g << " " << b;

                const Cam16Appearance again = Cam16Model::fromUcs(Cam16Model::toUcs(*app));
                EXPECT_NEAR(again.J, app->J, 1e-9);
                EXPECT_NEAR(again.M, app->M, 1e-9);
                if (app->M > 1e-6) {
                    EXPECT_NEAR(std::remainder(again.h - app->h, 360.0), 0.0, 1e-9);
                }
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 125);
    EXPECT_FALSE(Cam16Model::create({0.9642, 0.0, 0.8249}));
    EXPECT_FALSE(Cam16Model::create({0.9642, 1.0, 0.8249}, 0.0));
    EXPECT_FALSE(Cam16Model::create({0.9642, 1.0, 0.8249}, 0.2, -1.0));
}

// The neutral axis asks for L* 100 down to 0 and gets exactly the B2A tag's 16-bit answer; the
// obtained L* is the separated colour measured back absolute colorimetric.
TEST(InkRamps, NeutralAxisIsTheB2AResult)
{
    for (const char* name : {"default_cmyk.icc", "ps_cmyk.icc"}) {
        SCOPED_TRACE(name);
        const ProfilePtr profile = OpenGhostscript(name);
        ASSERT_TRUE(profile);
        for (int intent : {0, 1}) {
            const auto ramp = compute_separation_ramp(profile.get(), intent, InkRamp::Neutral, RampSampling::Cam16);
            ASSERT_TRUE(ramp);
            ASSERT_EQ(ramp->channels, 4);
            const ProfilePtr lab(krmCreateLab4Profile(krmD50_xyY()));
            const TransformPtr toDevice(krmCreateTransform(lab.get(), krmFmtLabDouble, profile.get(),
                                                           krmFMT_CHANNELS(4) | krmFMT_BYTES(2), krmUInt32Number(intent),
                                                           krmFlagNoOptimize));
            const TransformPtr back(krmCreateTransform(profile.get(), krmFMT_CHANNELS(4) | krmFMT_BYTES(2), lab.get(),
                                                       krmFmtLabDouble, 3, krmFlagNoOptimize));
            ASSERT_TRUE(toDevice && back);
            for (int k = 0; k < kRampPositions; ++k) {
                const krmCIELab requested{100.0 * (1.0 - k / 100.0), 0.0, 0.0};
                EXPECT_DOUBLE_EQ(ramp->requested[k].L, requested.L);
                krmUInt16Number words[4] = {};
                krmDoTransform(toDevice.get(), &requested, words, 1);
                float total = 0;
                for (int c = 0; c < 4; ++c) {
                    EXPECT_EQ(ramp->inks[c][k], float(words[c]) / 65535.0f) << k;
                    total += float(words[c]) / 65535.0f;
                }
                krmCIELab measured{};
                krmDoTransform(back.get(), words, &measured, 1);
                EXPECT_NEAR(ramp->obtained[k], measured.L / 100.0, 2e-3) << k;
                EXPECT_LE(ramp->total[k], 1.0f);
            }
            EXPECT_FLOAT_EQ(*std::max_element(ramp->total.begin(), ramp->total.end()), 1.0f);
        }
    }
}

// Primary and secondary ramps run from the paper to the solid in either sampling space.
TEST(InkRamps, PrimaryAndSecondaryRampsEndAtTheSolid)
{
    const ProfilePtr profile = OpenGhostscript("default_cmyk.icc");
    ASSERT_TRUE(profile);
    struct Case {
        InkRamp ramp;
        std::vector<int> solid;
    };
    for (const Case& c : {Case{InkRamp::CPrimary, {0}}, Case{InkRamp::YPrimary, {2}}, Case{InkRamp::BSecondary, {0, 1}}}) {
        for (RampSampling sampling : {RampSampling::Lab, RampSampling::Cam16}) {
            SCOPED_TRACE(int(c.ramp) * 10 + int(sampling));
            const auto ramp = compute_separation_ramp(profile.get(), 0, c.ramp, sampling);
            ASSERT_TRUE(ramp);
            for (int ch : c.solid)
                EXPECT_GT(ramp->inks[ch][100], 0.9f);
            EXPECT_GT(ramp->requested[0].L, ramp->requested[100].L);
            for (int ch = 0; ch < 4; ++ch)
                EXPECT_LT(ramp->inks[ch][0], 0.05f);
            if (c.ramp == InkRamp::YPrimary) {
                for (float v : ramp->obtained) {
                    EXPECT_GE(v, 0.0f);
                    EXPECT_LE(v, 1.0f);
                }
                EXPECT_GT(ramp->obtained[100], 0.3f);  // a yellow solid has a large b*
            }
        }
    }
    // Only B2A0..2 exist.
    EXPECT_FALSE(compute_separation_ramp(profile.get(), 3, InkRamp::Neutral, RampSampling::Lab));
    EXPECT_FALSE(compute_separation_ramp(nullptr, 0, InkRamp::Neutral, RampSampling::Lab));
}

TEST(InkRamps, StartPositionAndTagIntent)
{
    std::vector<float> values(101, 0.0f);
    EXPECT_EQ(ink_start_position(values), 0);
    values[35] = 0.031f;
    values[36] = 0.5f;
    EXPECT_EQ(ink_start_position(values), 35);
    values[20] = 0.04f;
    EXPECT_EQ(ink_start_position(values), 20);
    EXPECT_EQ(lut_tag_intent(krmSig("B2A2"), true), 2);
    EXPECT_EQ(lut_tag_intent(krmSig("A2B1"), false), 1);
    EXPECT_EQ(lut_tag_intent(krmSig("A2B1"), true), -1);
    EXPECT_EQ(lut_tag_intent(krmSig("B2A3"), true), -1);
}

// Dot gain of the CMYK profiles: K measured in Y, 0 at paper and solid by construction.
TEST(DotGain, CmykInksMeasuredInTheirFilter)
{
    for (const char* name : {"default_cmyk.icc", "ps_cmyk.icc"}) {
        SCOPED_TRACE(name);
        const ProfilePtr profile = OpenGhostscript(name);
        ASSERT_TRUE(profile);
        const auto channels = compute_dot_gain_values(profile.get(), 0);
        ASSERT_TRUE(channels);
        ASSERT_EQ(channels->size(), 4u);
        const int expected[4] = {0, 1, 2, 1};
        for (int c = 0; c < 4; ++c) {
            const DotGainChannel& ch = (*channels)[c];
            EXPECT_FALSE(ch.failed);
            EXPECT_EQ(ch.component, expected[c]);
            ASSERT_EQ(ch.values.size(), 101u);
            EXPECT_NEAR(ch.values[0], 0.0, 1e-9);
            EXPECT_NEAR(ch.values[100], 0.0, 1e-9);
            if (std::string(name) == "default_cmyk.icc") {
                EXPECT_GT(ch.values[50], 1.0);  // a press characterisation with real gain
            }
        }
    }
    EXPECT_FALSE(compute_dot_gain_values(nullptr, 0));
}

}  // namespace
