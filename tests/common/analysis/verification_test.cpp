// Verification against measurements: files made from a profile's own tables through the engine's
// absolute and relative intents (a second path: the expected error is interpolation only), known
// offsets on chosen patches that the statistics and the worst list must find exactly, and a table
// of files the reader must refuse with their reason.
#include "common/analysis/Verification.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

const char kCmyk[] = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
const char kSrgb[] = "/usr/share/color/icc/colord/sRGB.icc";

struct Profile {
    krmProfile p;
    explicit Profile(const char* path) : p(krmOpenProfileFromFile(path, "r")) {}
    ~Profile() { krmCloseProfile(p); }
};

enum class Values { Lab, Xyz100, Xyz1 };

// A CGATS file of `points`^channels device patches whose measured values come from the engine's
// own intent `intent` (3 absolute, 1 relative) to Lab D50, with `offsets` (ΔL*, Δa*, Δb*) added by
// patch index.
std::string make_file(krmProfile profile, int points, krmUInt32Number intent, Values values,
                      const std::map<std::size_t, std::array<double, 3>>& offsets, const char* extraHeader = "")
{
    const bool rgb = krmGetProfileColorSpace(profile) == krmSig("RGB ");
    const int channels = rgb ? 3 : 4;
    krmProfile lab = krmCreateLab4Profile(nullptr);
    krmTransform t = krmCreateTransform(profile, krmFormatterForColorspaceOfProfile(profile, 2, 0), lab, krmFmtLabDouble,
                                        intent, 0);
    EXPECT_TRUE(t);
    const std::vector<std::uint16_t> words = device_grid(channels, points);
    const std::size_t n = words.size() / std::size_t(channels);
    std::string text = "CGATS.17\n";
    text += extraHeader;
    text += "NUMBER_OF_FIELDS " + std::to_string(channels + 4) + "\nBEGIN_DATA_FORMAT\nSAMPLE_ID ";
    text += rgb ? "RGB_R RGB_G RGB_B " : "CMYK_C CMYK_M CMYK_Y CMYK_K ";
    text += values == Values::Lab ? "LAB_L LAB_A LAB_B" : "XYZ_X XYZ_Y XYZ_Z";
    text += "\nEND_DATA_FORMAT\nNUMBER_OF_SETS " + std::to_string(n) + "\nBEGIN_DATA\n";
    char line[256];
    for (std::size_t i = 0; i < n; ++i) {
        double v[3];
        krmDoTransform(t, &words[i * std::size_t(channels)], v, 1);
        if (auto o = offsets.find(i); o != offsets.end())
            for (int k = 0; k < 3; ++k)
                v[k] += o->second[std::size_t(k)];
        if (values != Values::Lab) {
            krmCIELab l{v[0], v[1], v[2]};
            krmCIEXYZ x;
            krmLab2XYZ(krmD50_XYZ(), &x, &l);
            const double scale = values == Values::Xyz100 ? 100 : 1;
            v[0] = x.X * scale, v[1] = x.Y * scale, v[2] = x.Z * scale;
        }
        std::snprintf(line, sizeof line, "P%zu", i + 1);
        text += line;
        for (int c = 0; c < channels; ++c) {
            std::snprintf(line, sizeof line, " %.4f",
                          words[i * std::size_t(channels) + std::size_t(c)] / 65535.0 * (rgb ? 255.0 : 100.0));
            text += line;
        }
        std::snprintf(line, sizeof line, " %.6f %.6f %.6f\n", v[0], v[1], v[2]);
        text += line;
    }
    text += "END_DATA\n";
    krmDeleteTransform(t);
    krmCloseProfile(lab);
    return text;
}

}  // namespace

TEST(Verification, FindsExactlyThePlantedErrors)
{
    struct Case {
        const char* profile;
        int points;
        krmUInt32Number intent;  // the engine intent the measurements come from
        Values values;
        const char* header;  // what makes the file media-relative, if anything
        bool relative;       // --relative
    } cases[] = {
        {kCmyk, 4, 3, Values::Lab, "", false},
        {kCmyk, 4, 3, Values::Xyz100, "", false},
        {kCmyk, 4, 1, Values::Lab, "# these values are media-relative\n", false},
        {kCmyk, 4, 1, Values::Xyz1, "MEDIA_RELATIVE \"TRUE\"\n", false},
        {kCmyk, 4, 1, Values::Lab, "", true},
        {kSrgb, 5, 3, Values::Xyz100, "", false},
    };
    // Offsets far above the interpolation error, of different sizes so the order is known.
    const std::map<std::size_t, std::array<double, 3>> offsets = {
        {7, {4, 0, 0}}, {40, {0, 0, -9}}, {61, {2, 3, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.profile) + " intent " + std::to_string(c.intent) + " " + c.header);
        Profile profile(c.profile);
        ASSERT_TRUE(profile.p);
        const MeasurementSet set = read_measurements(make_file(profile.p, c.points, c.intent, c.values, offsets, c.header),
                                                     krmGetProfileColorSpace(profile.p));
        EXPECT_EQ(set.mediaRelative, *c.header != 0);
        VerificationOptions options;
        options.relative = c.relative;
        options.worst = 3;
        const VerificationReport report = verify_profile(profile.p, set, options);
        EXPECT_EQ(report.relative, c.intent == 1);
        // Every other patch: interpolation error only.
        double others = 0;
        for (std::size_t i = 0; i < report.patches.size(); ++i)
            if (!offsets.count(i))
                others = std::max(others, report.patches[i].de00);
        EXPECT_LT(others, 0.05);
        // The planted patches: the ΔE of the offset itself, and the worst list in its order.
        std::vector<std::pair<double, std::size_t>> planted;
        for (const auto& [index, o] : offsets) {
            const double* m = set.patches[index].lab;
            const krmCIELab measured{m[0], m[1], m[2]}, clean{m[0] - o[0], m[1] - o[1], m[2] - o[2]};
            const double de00 = krmCIEDE2000(&measured, &clean, 1, 1, 1);
            EXPECT_NEAR(report.patches[index].de00, de00, 0.05) << index;
            EXPECT_NEAR(report.patches[index].de76, std::hypot(o[0], o[1], o[2]), 0.05) << index;
            planted.emplace_back(-de00, index);
        }
        std::sort(planted.begin(), planted.end());
        const std::vector<std::size_t> expectedOrder = {planted[0].second, planted[1].second, planted[2].second};
        EXPECT_EQ(report.worst, expectedOrder);
        EXPECT_NEAR(report.de00.max, -planted[0].first, 0.05);
        EXPECT_EQ(report.de00.count, set.patches.size());
        // Three planted among 256 or 125: the nearest-rank 95th percentile is a clean patch.
        EXPECT_LT(report.de00.p95, 0.05);
        double sum = 0;
        for (const PatchVerification& p : report.patches)
            sum += p.de00;
        EXPECT_NEAR(report.de00.mean, sum / double(report.patches.size()), 1e-12);
    }

    // Absolute measurements read as media-relative differ by the paper's colour (default_cmyk's
    // media white is far from D50).
    Profile cmyk(kCmyk);
    const MeasurementSet absolute = read_measurements(make_file(cmyk.p, 3, 3, Values::Lab, {}), krmSig("CMYK"));
    VerificationOptions relative;
    relative.relative = true;
    EXPECT_GT(verify_profile(cmyk.p, absolute, relative).de00.mean, 2.0);
}

TEST(Verification, StatisticsAndThresholds)
{
    // Nearest rank over 1..20: the 19th value; over one value, that value.
    std::vector<double> ramp;
    for (int i = 20; i >= 1; --i)
        ramp.push_back(i);
    const ErrorStatistics s = error_statistics(ramp);
    EXPECT_EQ(s.p95, 19);
    EXPECT_EQ(s.max, 20);
    EXPECT_DOUBLE_EQ(s.mean, 10.5);
    EXPECT_EQ(error_statistics({2.5}).p95, 2.5);

    ErrorThresholds t;
    std::string error;
    ASSERT_TRUE(parse_thresholds("max=20,mean=10", t, error));
    EXPECT_TRUE(exceeded_thresholds(t, s).size() == 1 && exceeded_thresholds(t, s)[0].rfind("mean", 0) == 0);
    ASSERT_TRUE(parse_thresholds("p95=18.5", t, error));
    EXPECT_EQ(exceeded_thresholds(t, s).size(), 1u);
    for (const char* bad : {"", "mean", "mean=", "mean=x", "avg=1", "max=-1", "mean=1,"})
        EXPECT_FALSE(parse_thresholds(bad, t, error)) << bad;
}

TEST(Verification, RefusesFilesWithTheirReason)
{
    const auto file = [](const std::string& fields, const std::string& row) {
        std::size_t n = 1;
        for (char c : fields)
            n += c == ' ';
        return "CGATS.17\nNUMBER_OF_FIELDS " + std::to_string(n) + "\nBEGIN_DATA_FORMAT\n" + fields +
               "\nEND_DATA_FORMAT\nNUMBER_OF_SETS 1\nBEGIN_DATA\n" + row + "\nEND_DATA\n";
    };
    const std::string cmyk = "SAMPLE_ID CMYK_C CMYK_M CMYK_Y CMYK_K ";
    struct Case {
        std::string text;
        krmColorSpaceSignature space;
        const char* reason;
    } cases[] = {
        {"hello world, not CGATS", krmSig("CMYK"), "not a readable CGATS file"},
        {file("SAMPLE_ID LAB_L LAB_A LAB_B", "A 50 0 0"), krmSig("CMYK"), "no device fields"},
        {file("SAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B", "A 1 2 3 50 0 0"), krmSig("CMYK"),
         "device space is CMYK (fields CMYK_C, CMYK_M, CMYK_Y, CMYK_K) but the file has RGB_R"},
        {file(cmyk + "LAB_L LAB_A LAB_B", "A 0 0 0 0 50 0 0"), krmSig("RGB "), "device space is RGB"},
        {file(cmyk + "SPECTRAL_NM", "A 0 0 0 0 500"), krmSig("CMYK"), "no colorimetric fields"},
        {file(cmyk + "LAB_L LAB_A", "A 0 0 0 0 50 0"), krmSig("CMYK"), "only some of LAB_L"},
        {file(cmyk + "LAB_L LAB_A LAB_B", "A 0 0 150 0 50 0 0"), krmSig("CMYK"), "unknown units: CMYK values run"},
        {file("SAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B", "A 0 300 0 50 0 0"), krmSig("RGB "),
         "unknown units: RGB values run"},
        {file(cmyk + "XYZ_X XYZ_Y XYZ_Z", "A 0 0 0 0 96 500 82"), krmSig("CMYK"), "unknown units: XYZ"},
        {file(cmyk + "LAB_L LAB_A LAB_B", "A 0 0 0 0 5000 0 0"), krmSig("CMYK"), "unknown units: patch A"},
        {file(cmyk + "LAB_L LAB_A LAB_B", "A 0 0 0 0 fifty 0 0"), krmSig("CMYK"), "patch A: LAB_L is not a number"},
    };
    for (const Case& c : cases) {
        try {
            read_measurements(c.text, c.space);
            ADD_FAILURE() << "accepted: " << c.reason;
        } catch (const Exception& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
    }
    // Of several tables the first that can be verified is read: a calibration table before the
    // measurements, or a table of another device space, is passed over.
    const std::string twoTables = file("SAMPLE_ID RGB_R RGB_G RGB_B", "A 1 2 3") + "\n" +
                                  file(cmyk + "LAB_L LAB_A LAB_B", "B 10 20 30 40 50 1 2") + "\n" +
                                  file(cmyk + "LAB_L LAB_A LAB_B", "C 0 0 0 0 90 0 0");
    const MeasurementSet second = read_measurements(twoTables, krmSig("CMYK"));
    EXPECT_EQ(second.table, 2);
    EXPECT_EQ(second.tables, 3);
    ASSERT_EQ(second.patches.size(), 1u);
    EXPECT_EQ(second.patches[0].id, "B");
    EXPECT_EQ(second.patches[0].unit[3], 0.4);
    EXPECT_EQ(second.patches[0].lab[0], 50);
    // None usable: the first table's reason.
    try {
        read_measurements(file("SAMPLE_ID RGB_R RGB_G RGB_B", "A 1 2 3") + "\n" + file(cmyk + "SPECTRAL_NM", "B 0 0 0 0 500"),
                          krmSig("CMYK"));
        ADD_FAILURE() << "accepted";
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find("device space is CMYK"), std::string::npos) << e.what();
    }
    // Gray and n-colour fields are found by their names; 0..255 RGB is scaled.
    EXPECT_EQ(read_measurements(file("GRAY_K LAB_L LAB_A LAB_B", "40 50 0 0"), krmSig("GRAY")).patches[0].unit[0], 0.4);
    EXPECT_EQ(read_measurements(file("5CLR_1 5CLR_2 5CLR_3 5CLR_4 5CLR_5 LAB_L LAB_A LAB_B", "0 0 0 0 50 50 0 0"),
                                krmSig("5CLR"))
                  .patches[0]
                  .unit[4],
              0.5);
    EXPECT_EQ(read_measurements(file("RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B", "255 51 0 50 0 0"), krmSig("RGB "))
                  .patches[0]
                  .unit[1],
              0.2);
}
