// Built-in profiles: headers and tags, their colorimetry against the defining mathematics, the
// save-and-reopen round trip, and the total-area-coverage estimate.
#include "krm_internal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

struct Profile {
    krmProfile h;
    explicit Profile(krmProfile p) : h(p) {}
    ~Profile()
    {
        if (h) krmCloseProfile(h);
    }
    operator krmProfile() const { return h; }
};

std::vector<std::string> TagOrder(krmProfile h)
{
    std::vector<std::string> v;
    for (krmInt32Number i = 0; i < krmGetTagCount(h); i++) {
        const krmTagSignature s = krmGetTagSignature(h, krmUInt32Number(i));
        v.push_back({char(s >> 24), char(s >> 16), char(s >> 8), char(s)});
    }
    return v;
}

std::string Text(krmProfile h, const char (&tag)[5])
{
    const krmMLU* mlu = static_cast<const krmMLU*>(krmReadTag(h, krmSig(tag)));
    if (!mlu) return "<none>";
    char buf[256];
    krmMLUGetASCII(mlu, "en", "US", buf, sizeof buf);
    return buf;
}

std::vector<krmUInt8Number> Save(krmProfile h)
{
    krmUInt32Number size = 0;
    if (!krmSaveProfileToMem(h, nullptr, &size)) return {};
    std::vector<krmUInt8Number> bytes(size);
    if (!krmSaveProfileToMem(h, bytes.data(), &size)) return {};
    return bytes;
}

// Independent arithmetic for the RGB-to-XYZ matrix of a set of primaries, adapted to D50 by
// Bradford (the defining steps of ICC.1:2010 Annex E and the sRGB standard).
struct M3 {
    double m[3][3];
};
M3 Mul(const M3& a, const M3& b)
{
    M3 r{};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            for (int k = 0; k < 3; k++) r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}
M3 Inv(const M3& a)
{
    const auto& m = a.m;
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    M3 r;
    r.m[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det;
    r.m[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
    r.m[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
    r.m[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det;
    r.m[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
    r.m[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
    r.m[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det;
    r.m[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
    r.m[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
    return r;
}
M3 Bradford(const double src[3], const double dst[3])
{
    const M3 b = {{{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
    double rs[3], rd[3];
    for (int i = 0; i < 3; i++) {
        rs[i] = b.m[i][0] * src[0] + b.m[i][1] * src[1] + b.m[i][2] * src[2];
        rd[i] = b.m[i][0] * dst[0] + b.m[i][1] * dst[1] + b.m[i][2] * dst[2];
    }
    M3 d{};
    for (int i = 0; i < 3; i++) d.m[i][i] = rd[i] / rs[i];
    return Mul(Inv(b), Mul(d, b));
}
const double kD50[3] = {0.9642, 1.0, 0.8249};
const double kD65[3] = {0.3127 / 0.3290, 1.0, (1 - 0.3127 - 0.3290) / 0.3290};

M3 sRGBToD50()
{
    const double x[3] = {0.64, 0.30, 0.15}, y[3] = {0.33, 0.60, 0.06};
    M3 p;
    for (int c = 0; c < 3; c++) {
        p.m[0][c] = x[c];
        p.m[1][c] = y[c];
        p.m[2][c] = 1 - x[c] - y[c];
    }
    const M3 pi = Inv(p);
    double s[3];
    for (int i = 0; i < 3; i++) s[i] = pi.m[i][0] * kD65[0] + pi.m[i][1] * kD65[1] + pi.m[i][2] * kD65[2];
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) p.m[r][c] *= s[c];
    return Mul(Bradford(kD65, kD50), p);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Headers and tags
// ---------------------------------------------------------------------------------------------

TEST(BuiltinProfiles, LabIdentities)
{
    Profile lab4(krmCreateLab4Profile(nullptr));
    ASSERT_NE(lab4.h, nullptr);
    EXPECT_EQ(krmGetProfileVersionRaw(lab4), 0x04400000u);
    EXPECT_EQ(krmGetProfileClass(lab4), krmSig("abst"));
    EXPECT_EQ(krmGetProfileColorSpace(lab4), krmSig("Lab "));
    EXPECT_EQ(krmGetProfilePCS(lab4), krmSig("Lab "));
    EXPECT_EQ(TagOrder(lab4), (std::vector<std::string>{"desc", "cprt", "wtpt", "A2B0"}));
    EXPECT_EQ(Text(lab4, "desc"), "Lab identity built-in");
    EXPECT_EQ(Text(lab4, "cprt"), "No copyright, use freely");

    // The identity maps a colour to itself in a float transform.
    krmTransform t = krmCreateTransform(lab4, krmFmtLabDouble, nullptr, krmFmtLabDouble, 1, krmFlagNoOptimize);
    ASSERT_NE(t, nullptr);
    krmCIELab in = {50, 20, -30}, out;
    krmDoTransform(t, &in, &out, 1);
    EXPECT_NEAR(out.L, 50, 1e-4);
    EXPECT_NEAR(out.a, 20, 1e-4);
    EXPECT_NEAR(out.b, -30, 1e-4);
    krmDeleteTransform(t);

    const krmPipeline* a2b = static_cast<const krmPipeline*>(krmReadTag(lab4, krmSig("A2B0")));
    ASSERT_NE(a2b, nullptr);
    EXPECT_EQ(krmStageImplements(krmPipelineFirstStage(a2b)), krmSigIdentityElemType);

    Profile lab2(krmCreateLab2Profile(nullptr));
    ASSERT_NE(lab2.h, nullptr);
    EXPECT_EQ(krmGetProfileVersionRaw(lab2), 0x02100000u);
    EXPECT_EQ(TagOrder(lab2), (std::vector<std::string>{"desc", "cprt", "wtpt", "A2B0"}));
    const krmPipeline* a2b2 = static_cast<const krmPipeline*>(krmReadTag(lab2, krmSig("A2B0")));
    ASSERT_NE(a2b2, nullptr);
    EXPECT_EQ(krmStageType(krmPipelineFirstStage(a2b2)), krmSigCLutElemType);
    EXPECT_EQ(krmStageImplements(krmPipelineFirstStage(a2b2)), krmSigIdentityElemType);

    // A white point of their own.
    const krmCIExyY d65 = {0.3127, 0.3290, 1.0};
    Profile lab65(krmCreateLab4Profile(&d65));
    const krmCIEXYZ* wp = static_cast<const krmCIEXYZ*>(krmReadTag(lab65, krmSig("wtpt")));
    ASSERT_NE(wp, nullptr);
    EXPECT_NEAR(wp->X, kD65[0], 1e-9);
    EXPECT_NEAR(wp->Z, kD65[2], 1e-9);
}

TEST(BuiltinProfiles, XYZIdentity)
{
    Profile xyz(krmCreateXYZProfile(nullptr));
    ASSERT_NE(xyz.h, nullptr);
    EXPECT_EQ(krmGetProfileVersionRaw(xyz), 0x04400000u);
    EXPECT_EQ(krmGetProfileClass(xyz), krmSig("abst"));
    EXPECT_EQ(krmGetProfileColorSpace(xyz), krmSig("XYZ "));
    EXPECT_EQ(TagOrder(xyz), (std::vector<std::string>{"desc", "cprt", "wtpt", "chad", "A2B0"}));
    EXPECT_EQ(Text(xyz, "desc"), "XYZ identity built-in");
    const krmFloat64Number* chad = static_cast<const krmFloat64Number*>(krmReadTag(xyz, krmSig("chad")));
    ASSERT_NE(chad, nullptr);
    for (int i = 0; i < 9; i++) EXPECT_NEAR(chad[i], i % 4 == 0 ? 1.0 : 0.0, 1e-9) << i;
}

TEST(BuiltinProfiles, RGBTagsAndSharedCurves)
{
    const krmCIExyY d65 = {0.3127, 0.3290, 1.0};
    const krmCIExyYTRIPLE prim = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    krmToneCurve* g = krmBuildGamma(nullptr, 2.2);
    krmToneCurve* g2 = krmBuildGamma(nullptr, 1.8);

    krmToneCurve* const same[3] = {g, g, g};
    Profile shared(krmCreateRGBProfile(&d65, &prim, same));
    ASSERT_NE(shared.h, nullptr);
    EXPECT_EQ(TagOrder(shared), (std::vector<std::string>{"desc", "cprt", "wtpt", "chad", "rXYZ", "bXYZ", "gXYZ",
                                                          "rTRC", "gTRC", "bTRC", "chrm"}));
    EXPECT_EQ(krmTagLinkedTo(shared, krmSig("gTRC")), krmSig("rTRC"));
    EXPECT_EQ(krmTagLinkedTo(shared, krmSig("bTRC")), krmSig("rTRC"));
    EXPECT_EQ(krmReadTag(shared, krmSig("gTRC")), krmReadTag(shared, krmSig("rTRC")));
    EXPECT_EQ(Text(shared, "desc"), "RGB built-in");
    EXPECT_EQ(krmGetProfileVersionRaw(shared), 0x04400000u);
    EXPECT_EQ(krmGetProfileIntent(shared), 0u);

    krmToneCurve* const mixed[3] = {g, g2, g};
    Profile separate(krmCreateRGBProfile(&d65, &prim, mixed));
    EXPECT_EQ(krmTagLinkedTo(separate, krmSig("gTRC")), 0u);
    EXPECT_EQ(krmTagLinkedTo(separate, krmSig("bTRC")), krmSig("rTRC"));  // the same object as the first

    // Nothing but text without white point, primaries or curves.
    Profile bare(krmCreateRGBProfile(nullptr, nullptr, nullptr));
    EXPECT_EQ(TagOrder(bare), (std::vector<std::string>{"desc", "cprt"}));
    krmFreeToneCurve(g);
    krmFreeToneCurve(g2);
}

TEST(BuiltinProfiles, Gray)
{
    Profile bare(krmCreateGrayProfile(nullptr, nullptr));
    ASSERT_NE(bare.h, nullptr);
    EXPECT_EQ(TagOrder(bare), (std::vector<std::string>{"desc", "cprt"}));
    krmCIEXYZ wp;
    ASSERT_TRUE(krmReadMediaWhitePoint(&wp, bare));
    EXPECT_NEAR(wp.X, 0.9642, 1e-9);
    EXPECT_NEAR(wp.Z, 0.8249, 1e-9);

    krmToneCurve* g = krmBuildGamma(nullptr, 2.2);
    Profile full(krmCreateGrayProfile(krmD50_xyY(), g));
    krmFreeToneCurve(g);
    EXPECT_EQ(TagOrder(full), (std::vector<std::string>{"desc", "cprt", "wtpt", "kTRC"}));
    EXPECT_EQ(krmGetProfileColorSpace(full), krmSig("GRAY"));
    EXPECT_EQ(Text(full, "desc"), "gray built-in");
    EXPECT_TRUE(krmIsMatrixShaper(full));
}

// ---------------------------------------------------------------------------------------------
// sRGB colorimetry
// ---------------------------------------------------------------------------------------------

TEST(BuiltinsRGB, HeaderAndAdaptation)
{
    Profile s(krmCreate_sRGBProfile());
    ASSERT_NE(s.h, nullptr);
    EXPECT_EQ(Text(s, "desc"), "sRGB built-in");
    EXPECT_EQ(krmGetProfileClass(s), krmSig("mntr"));
    EXPECT_EQ(krmTagLinkedTo(s, krmSig("bTRC")), krmSig("rTRC"));
    EXPECT_EQ(krmGetToneCurveParametricType(static_cast<const krmToneCurve*>(krmReadTag(s, krmSig("rTRC")))), 4);

    const krmCIEXYZ* wp = static_cast<const krmCIEXYZ*>(krmReadTag(s, krmSig("wtpt")));
    EXPECT_NEAR(wp->X, 0.9642, 1e-9);
    // chad maps D65 to D50.
    const krmFloat64Number* chad = static_cast<const krmFloat64Number*>(krmReadTag(s, krmSig("chad")));
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(chad[3 * i] * kD65[0] + chad[3 * i + 1] * kD65[1] + chad[3 * i + 2] * kD65[2], kD50[i], 1e-6);

    // Bradford itself, against the arithmetic above: any white maps to D50, so only the
    // off-white directions show a wrong cone matrix, and they need the tight tolerance.
    const M3 bradford = Bradford(kD65, kD50);
    const krmCIEXYZ d65 = {kD65[0], kD65[1], kD65[2]};
    krmMAT3 m;
    ASSERT_TRUE(krmAdaptationMatrix(&m, nullptr, &d65, krmD50_XYZ()));
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) {
            EXPECT_NEAR(m.v[r].n[c], bradford.m[r][c], 1e-6) << r << " " << c;
            EXPECT_NEAR(chad[3 * r + c], bradford.m[r][c], 1e-6) << r << " " << c;
        }
}

TEST(BuiltinsRGB, WhiteAndPrimariesInD50)
{
    Profile s(krmCreate_sRGBProfile());
    Profile xyz(krmCreateXYZProfile());
    const M3 expected = sRGBToD50();

    for (krmUInt32Number flags : {0u, krmFlagNoOptimize}) {
        krmTransform t = krmCreateTransform(s, krmFmtRGBDouble, xyz, krmFmtXYZDouble, 1, flags);
        ASSERT_NE(t, nullptr);
        const double rgb[4][3] = {{1, 1, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        krmCIEXYZ out[4];
        krmDoTransform(t, rgb, out, 4);
        krmDeleteTransform(t);
        for (int k = 0; k < 3; k++) EXPECT_NEAR((&out[0].X)[k], kD50[k], 1e-4) << "white " << k;
        for (int c = 0; c < 3; c++)
            for (int k = 0; k < 3; k++) EXPECT_NEAR((&out[c + 1].X)[k], expected.m[k][c], 1e-4) << c << " " << k;
    }

    // The curve: 0.5 is 0.2140 in linear light.
    krmTransform t = krmCreateTransform(s, krmFmtRGBDouble, xyz, krmFmtXYZDouble, 1, 0);
    const double grey[3] = {0.5, 0.5, 0.5};
    krmCIEXYZ out;
    krmDoTransform(t, grey, &out, 1);
    krmDeleteTransform(t);
    EXPECT_NEAR(out.Y, 0.21404, 1e-4);
}

// ---------------------------------------------------------------------------------------------
// Save and reopen
// ---------------------------------------------------------------------------------------------

TEST(BuiltinProfiles, SurviveSaveAndReopen)
{
    std::vector<krmProfile> all = {krmCreate_sRGBProfile(), krmCreateLab2Profile(nullptr),
                                   krmCreateLab4Profile(nullptr), krmCreateXYZProfile(),
                                   krmCreateGrayProfile(krmD50_xyY(), nullptr)};
    for (krmProfile h : all) {
        ASSERT_NE(h, nullptr);
        const auto first = Save(h);
        ASSERT_FALSE(first.empty());
        Profile back(krmOpenProfileFromMem(first.data(), krmUInt32Number(first.size())));
        ASSERT_NE(back.h, nullptr);
        EXPECT_EQ(TagOrder(back), TagOrder(h));
        EXPECT_EQ(krmGetProfileVersionRaw(back), krmGetProfileVersionRaw(h));
        EXPECT_EQ(krmGetProfileClass(back), krmGetProfileClass(h));
        EXPECT_EQ(krmGetProfileColorSpace(back), krmGetProfileColorSpace(h));
        EXPECT_EQ(krmGetProfilePCS(back), krmGetProfilePCS(h));
        for (krmInt32Number i = 0; i < krmGetTagCount(h); i++) {
            const krmTagSignature sig = krmGetTagSignature(h, krmUInt32Number(i));
            // Shared data comes back shared (a reopened file chains its links in directory order).
            EXPECT_EQ(krmTagLinkedTo(back, sig) != 0, krmTagLinkedTo(h, sig) != 0);
            if (krmTagLinkedTo(h, sig)) {
                EXPECT_EQ(krmReadTag(back, sig), krmReadTag(back, krmTagLinkedTo(h, sig)));
            }
            // Decode every tag so that saving again encodes it anew.
            EXPECT_NE(krmReadTag(back, sig), nullptr) << std::hex << sig;
        }
        EXPECT_EQ(Save(back), first);
        EXPECT_EQ(Text(back, "desc"), Text(h, "desc"));
        krmCloseProfile(h);
    }
}

// ---------------------------------------------------------------------------------------------
// Total area coverage
// ---------------------------------------------------------------------------------------------

TEST(TotalAreaCoverage, OutputProfilesOnly)
{
    Profile s(krmCreate_sRGBProfile());
    EXPECT_EQ(krmDetectTAC(s), 0.0);
    Profile lab(krmCreateLab4Profile(nullptr));
    EXPECT_EQ(krmDetectTAC(lab), 0.0);

    for (const char* path : {"/usr/share/color/icc/ghostscript/default_cmyk.icc",
                             "/usr/share/color/icc/ghostscript/ps_cmyk.icc"}) {
        Profile cmyk(krmOpenProfileFromFile(path, "r"));
        ASSERT_NE(cmyk.h, nullptr);
        ASSERT_EQ(krmGetProfileClass(cmyk), krmSig("prtr"));
        const double tac = krmDetectTAC(cmyk);
        EXPECT_GT(tac, 150.0) << path;
        EXPECT_LE(tac, 400.0) << path;

        // No node of the grid, black included, reaches more ink than the estimate.
        krmTransform t = krmCreateTransform(lab, krmFmtLab16, cmyk, krmFmtCMYKFloat, 0, krmFlagNoOptimize);
        ASSERT_NE(t, nullptr);
        const krmUInt16Number nodes[3][3] = {{0, 32896, 32896}, {13107, 32896, 32896}, {0, 0, 65535}};
        for (const auto& n : nodes) {
            float ink[4];
            krmDoTransform(t, n, ink, 1);
            EXPECT_LE(ink[0] + ink[1] + ink[2] + ink[3], tac + 1e-3) << path;
        }
        krmDeleteTransform(t);
    }
}
