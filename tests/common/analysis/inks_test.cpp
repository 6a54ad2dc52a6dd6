// The CAM16 model against outside figures, and the ink separation and dot gain
// numbers against the engine's transforms on the Ghostscript CMYK profiles.
#include "common/analysis/Cam16Model.h"
#include "common/analysis/InkRamps.h"
#include "krm.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Published-style worked values for the analysis's viewing conditions (D50 white, La 31.83 cd/m²,
// Yb 20 %, average surround, illuminant discounted), computed outside this code base with an
// independent CAM16 implementation. Every correlate is checked, so a slip in one stage (the
// hue-dependent eccentricity, the chroma or brightness scaling) shows in its own column.
TEST(Cam16Model, WorkedValuesAndTheInverse)
{
    struct Row {
        double X, Y, Z, J, C, h, M, s, Q;
    };
    const Row rows[] = {
        {0.9642, 1.0, 0.8249, 100.000000000, 0.000000000, 0.0, 0.000000000, 0.000000000, 188.080259439},
        {0.2, 0.2, 0.2, 41.595597171, 10.916264424, 299.575794249, 9.366081732, 27.787247103, 121.301702689},
        {0.4, 0.3, 0.1, 53.469596852, 47.721258155, 34.844631795, 40.944519744, 54.563165199, 137.529755215},
        {0.4360747, 0.2225045, 0.0139322, 47.204209563, 112.122981540, 27.749359669, 96.200766890, 86.282451708, 129.221143557},
        {0.3850649, 0.7168786, 0.0971045, 79.444327183, 105.309701624, 142.837616901, 90.355018374, 73.415677148, 167.638845343},
        {0.1430804, 0.0606169, 0.7141733, 22.900150624, 87.329642305, 284.297530939, 74.928247952, 91.241327740, 90.004118883},
        {0.05, 0.04, 0.12, 17.388028095, 39.487349747, 288.567216235, 33.879881501, 65.725931587, 78.427501876},
        {0.7, 0.75, 0.2, 85.103148667, 43.762102881, 102.171872338, 37.547591047, 46.519284335, 173.506611953},
        {0.3, 0.4, 0.6, 59.164289130, 51.483984203, 223.218699441, 44.172913482, 55.257534314, 144.668187565},
        {0.18, 0.12, 0.05, 32.740538809, 48.680287094, 20.640083630, 41.767360148, 62.298193078, 107.618299735},
        {0.6, 0.5, 0.55, 70.083701190, 37.385919687, 338.838939772, 32.076868590, 45.135693280, 157.453286427},
        {0.02, 0.025, 0.015, 12.896225975, 13.504928318, 152.553398556, 11.587138009, 41.419115811, 67.542095793},
    };
    const auto model = Cam16Model::create();
    ASSERT_TRUE(model);
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.X << " " << r.Y << " " << r.Z);
        const auto app = model->forward({r.X, r.Y, r.Z});
        ASSERT_TRUE(app);
        EXPECT_NEAR(app->J, r.J, 1e-4);
        EXPECT_NEAR(app->C, r.C, 1e-4);
        EXPECT_NEAR(app->M, r.M, 1e-4);
        EXPECT_NEAR(app->s, r.s, 1e-4);
        EXPECT_NEAR(app->Q, r.Q, 1e-4);
        if (r.C > 1e-3)  // the white's hue is undefined
            EXPECT_NEAR(std::remainder(app->h - r.h, 360.0), 0.0, 1e-4);

        // The inverse and the UCS round trip land back on the same colour.
        const auto back = model->inverse(app->J, app->M, app->h);
        ASSERT_TRUE(back);
        EXPECT_NEAR(back->X, r.X, 1e-9);
        EXPECT_NEAR(back->Y, r.Y, 1e-9);
        EXPECT_NEAR(back->Z, r.Z, 1e-9);
        const Cam16Appearance again = Cam16Model::fromUcs(Cam16Model::toUcs(*app));
        EXPECT_NEAR(again.J, app->J, 1e-9);
        EXPECT_NEAR(again.M, app->M, 1e-9);
    }
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

// Each primary and secondary ramp runs from the paper to the solid of its own inks: red is
// magenta + yellow, green cyan + yellow, blue cyan + magenta, and the other inks stay near zero
// there, in either sampling space.
TEST(InkRamps, RampsEndAtTheSolidOfTheirInks)
{
    const ProfilePtr profile = OpenGhostscript("default_cmyk.icc");
    ASSERT_TRUE(profile);
    struct Case {
        InkRamp ramp;
        std::vector<int> solid;  // 0 C, 1 M, 2 Y, 3 K
    };
    for (const Case& c : {Case{InkRamp::CPrimary, {0}}, Case{InkRamp::MPrimary, {1}}, Case{InkRamp::YPrimary, {2}},
                          Case{InkRamp::RSecondary, {1, 2}}, Case{InkRamp::GSecondary, {0, 2}},
                          Case{InkRamp::BSecondary, {0, 1}}}) {
        for (RampSampling sampling : {RampSampling::Lab, RampSampling::Cam16}) {
            SCOPED_TRACE(int(c.ramp) * 10 + int(sampling));
            const auto ramp = compute_separation_ramp(profile.get(), 0, c.ramp, sampling);
            ASSERT_TRUE(ramp);
            for (int ch = 0; ch < 4; ++ch) {
                const bool own = std::find(c.solid.begin(), c.solid.end(), ch) != c.solid.end();
                if (own)
                    EXPECT_GT(ramp->inks[ch][100], 0.9f) << "ink " << ch;
                else
                    EXPECT_LT(ramp->inks[ch][100], 0.1f) << "ink " << ch;
                EXPECT_LT(ramp->inks[ch][0], 0.05f);
            }
            EXPECT_GT(ramp->requested[0].L, ramp->requested[100].L);
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
