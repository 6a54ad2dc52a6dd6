// What the gamut view draws and exports: hull vertices at the measured L*a*b* values (not the
// whole units the hull is found on), the sample cloud, and named points in Lab CGATS.
#include "common/analysis/GamutAnalysis.h"
#include "krm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

namespace {

constexpr krmTagSignature kMatrixShaper = 0x7FFFFFF0;

}  // namespace

TEST(GamutExport, HullVerticesKeepTheMeasuredValues)
{
    krmProfile srgb = krmCreate_sRGBProfile();
    ASSERT_NE(srgb, nullptr);
    const std::unique_ptr<GamutHull> gamut = compute_gamut_hull(srgb, kMatrixShaper);
    krmCloseProfile(srgb);
    ASSERT_TRUE(gamut);
    ASSERT_EQ(gamut->labs.size(), gamut->samples * 3);

    const HullRenderData whole = gamut->hull->get_render_data();
    const HullRenderData exact = exact_render_data(*gamut);
    ASSERT_EQ(exact.positions.size(), whole.positions.size());
    ASSERT_EQ(exact.indices, whole.indices);
    int fractional = 0;
    for (std::size_t i = 0; i < exact.positions.size(); i += 3) {
        // Each vertex is one of the samples, and truncates to the whole-unit vertex it replaces.
        bool sample = false;
        for (std::size_t s = 0; s < gamut->labs.size() && !sample; s += 3)
            sample = gamut->labs[s] == exact.positions[i + 1] && gamut->labs[s + 1] == exact.positions[i + 2]
                     && gamut->labs[s + 2] == exact.positions[i];
        EXPECT_TRUE(sample) << "vertex " << i / 3;
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(std::trunc(exact.positions[i + k]), whole.positions[i + k]);
            fractional += exact.positions[i + k] != std::trunc(exact.positions[i + k]) ? 1 : 0;
        }
    }
    EXPECT_GT(fractional, int(exact.positions.size()) / 2);

    // The VRML carries the fractions too.
    std::ostringstream vrml;
    write_vrml(vrml, exact);
    EXPECT_NE(vrml.str().find('.', vrml.str().find("point [")), std::string::npos);

    const HullRenderData cloud = sample_cloud(*gamut);
    ASSERT_EQ(cloud.vertexCount(), gamut->samples);
    EXPECT_EQ(cloud.positions[1], gamut->labs[0]);  // L* stands up
    EXPECT_EQ(cloud.ids.back(), int(gamut->samples));
}

TEST(GamutExport, NamedPointsKeepTheirNames)
{
    HullRenderData points;
    points.positions = {-20.5f, 50.25f, 10.0f, 0.0f, 90.0f, 1.5f};  // b*, L*, a*
    points.names = {"Pantone \"Red\" 032", "White"};
    std::ostringstream out;
    write_lab_cgats(out, points);
    const std::string text = out.str();
    EXPECT_NE(text.find("NUMBER_OF_FIELDS 5\n"), std::string::npos);
    EXPECT_NE(text.find("SAMPLE_ID SAMPLE_NAME LAB_L LAB_A LAB_B\n"), std::string::npos);
    EXPECT_NE(text.find("1 \"Pantone 'Red' 032\" 50.250000 10.000000 -20.500000\n"), std::string::npos);
    EXPECT_NE(text.find("2 \"White\" 90.000000 1.500000 0.000000\n"), std::string::npos);

    points.names.clear();  // unnamed points keep the Patch_ ids
    std::ostringstream plain;
    write_lab_cgats(plain, points);
    EXPECT_NE(plain.str().find("Patch_2 90.000000 1.500000 0.000000\n"), std::string::npos);
}
