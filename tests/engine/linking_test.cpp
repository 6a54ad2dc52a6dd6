// Profile linking: the pipelines profiles contribute, device -> Lab -> device round trips over the
// corpus, absolute colorimetric and black point compensation rules, black point detection and
// the black-preserving intents.

#include "support/error_log.h"
#include "krm_internal.h"
#include "support/lut_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using lut_support::stageTypes;

namespace {

using error_log::captureHandler;
using error_log::g_log;
using error_log::Logged;

class LinkingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        ctx = krmCreateContext(nullptr, nullptr);
        ASSERT_NE(ctx, nullptr);
        krmSetLogErrorHandlerInContext(ctx, captureHandler);
        lab4 = krmCreateLab4Profile(ctx, nullptr);
        ASSERT_NE(lab4, nullptr);
    }
    void TearDown() override
    {
        for (krmProfile h : opened) krmCloseProfile(h);
        krmCloseProfile(lab4);
        krmDeleteContext(ctx);
    }

    krmProfile open(const std::string& name)
    {
        std::string path = name.find('/') == std::string::npos ? "/usr/share/color/icc/ghostscript/" + name : name;
        krmProfile h = krmOpenProfileFromFileInContext(ctx, path.c_str(), "r");
        EXPECT_NE(h, nullptr) << path;
        if (h) opened.push_back(h);
        return h;
    }

    krmPipeline* link(std::vector<krmProfile> chain, std::vector<krmUInt32Number> intents, bool bpc = false,
                      krmFloat64Number state = 1.0, krmUInt32Number flags = 0)
    {
        std::vector<krmBool> b(chain.size(), bpc);
        std::vector<krmFloat64Number> s(chain.size(), state);
        if (intents.size() == 1) intents.resize(chain.size(), intents[0]);
        return krmLinkProfiles(ctx, (krmUInt32Number)chain.size(), intents.data(), chain.data(), b.data(), s.data(),
                               flags);
    }

    bool logged(const std::string& text, krmUInt32Number code) const
    {
        for (const Logged& l : g_log)
            if (l.text == text && l.code == code) return true;
        return false;
    }

    krmContext ctx = nullptr;
    krmProfile lab4 = nullptr;
    std::vector<krmProfile> opened;
};

krmCIELab toLab(const krmFloat32Number v[3])
{
    return {v[0] * 100.0, v[1] * 255.0 - 128.0, v[2] * 255.0 - 128.0};
}

// A CMYK device link in memory whose table is a curve set (gamma per channel).
krmProfile makeCMYKLink(krmContext ctx, double gamma)
{
    krmProfile h = krmCreateProfilePlaceholder(ctx);
    krmSetProfileClass(h, krmSig("link"));
    krmSetProfileColorSpace(h, krmSig("CMYK"));
    krmSetProfilePCS(h, krmSig("CMYK"));
    krmSetProfileVersion(h, 4.3);
    krmPipeline* p = krmPipelineAlloc(ctx, 4, 4);
    krmToneCurve* g = krmBuildGamma(ctx, gamma);
    krmToneCurve* c[4] = {g, g, g, g};
    krmPipelineInsertStage(p, krmAT_END, krmStageAllocToneCurves(ctx, 4, c));
    EXPECT_TRUE(krmWriteTag(h, krmSig("A2B0"), p));
    krmFreeToneCurve(g);
    krmPipelineFree(p);
    return h;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Round trips over the corpus
// ---------------------------------------------------------------------------------------------

namespace {

// A second path through a table profile, written from the ICC encodings: the stored AToB/BToA
// tables evaluated on their own, with the PCS encodings converted here.
struct ReferencePath {
    krmPipeline* a2b = nullptr;
    krmPipeline* b2a = nullptr;
    bool labPCS = false, a2bV2 = false, b2aV2 = false;

    ReferencePath(krmProfile h, krmUInt32Number intent)
    {
        const krmTagSignature A2B[] = {krmSig("A2B0"), krmSig("A2B1"), krmSig("A2B2"), krmSig("A2B1")};
        const krmTagSignature B2A[] = {krmSig("B2A0"), krmSig("B2A1"), krmSig("B2A2"), krmSig("B2A1")};
        krmTagSignature ta = krmIsTag(h, A2B[intent]) ? A2B[intent] : A2B[0];
        krmTagSignature tb = krmIsTag(h, B2A[intent]) ? B2A[intent] : B2A[0];
        const krmPipeline* a = (const krmPipeline*)krmReadTag(h, ta);
        const krmPipeline* b = (const krmPipeline*)krmReadTag(h, tb);
        if (!a || !b) return;
        labPCS = krmGetProfilePCS(h) == krmSig("Lab ");
        a2bV2 = krmGetTagStoredType(h, ta) == krmSig("mft2");
        b2aV2 = krmGetTagStoredType(h, tb) == krmSig("mft2");
        a2b = krmPipelineDup(a);
        b2a = krmPipelineDup(b);
        // Lab output tables are interpolated trilinearly.
        for (krmStage* s = krmPipelineFirstStage(b2a); s && labPCS; s = krmStageNext(s)) {
            if (krmStageType(s) != krmSigCLutElemType) continue;
            krmInterpParams* ip = ((krmStageCLutData*)krmStageData(s))->Params;
            ip->dwFlags |= krmInterpFlagTrilinear;
            krmSetInterpolationRoutine(ip->ContextID, ip);
        }
    }
    ~ReferencePath()
    {
        krmPipelineFree(a2b);
        krmPipelineFree(b2a);
    }
    bool ok() const { return a2b && b2a; }

    krmCIELab toLab(const krmFloat32Number* dev) const
    {
        krmFloat32Number v[3];
        krmPipelineEvalFloat(dev, v, a2b);
        krmCIELab Lab;
        if (labPCS && a2bV2) {
            Lab = {v[0] * 65535.0 / 652.8, v[1] * 65535.0 / 256.0 - 128.0, v[2] * 65535.0 / 256.0 - 128.0};
        } else if (labPCS) {
            Lab = {v[0] * 100.0, v[1] * 255.0 - 128.0, v[2] * 255.0 - 128.0};
        } else {
            krmCIEXYZ XYZ = {v[0] * 65535.0 / 32768.0, v[1] * 65535.0 / 32768.0, v[2] * 65535.0 / 32768.0};
            krmXYZ2Lab(nullptr, &Lab, &XYZ);
        }
        return Lab;
    }

    void fromLab(const krmCIELab& Lab, krmFloat32Number* dev) const
    {
        krmFloat32Number v[3];
        if (labPCS && b2aV2) {
            v[0] = (krmFloat32Number)(Lab.L * 652.8 / 65535.0);
            v[1] = (krmFloat32Number)((Lab.a + 128.0) * 256.0 / 65535.0);
            v[2] = (krmFloat32Number)((Lab.b + 128.0) * 256.0 / 65535.0);
        } else if (labPCS) {
            v[0] = (krmFloat32Number)(Lab.L / 100.0);
            v[1] = (krmFloat32Number)((Lab.a + 128.0) / 255.0);
            v[2] = (krmFloat32Number)((Lab.b + 128.0) / 255.0);
        } else {
            krmCIEXYZ XYZ;
            krmLab2XYZ(nullptr, &XYZ, &Lab);
            v[0] = (krmFloat32Number)(XYZ.X * 32768.0 / 65535.0);
            v[1] = (krmFloat32Number)(XYZ.Y * 32768.0 / 65535.0);
            v[2] = (krmFloat32Number)(XYZ.Z * 32768.0 / 65535.0);
        }
        krmPipelineEvalFloat(v, dev, b2a);
    }
};

struct Stats {
    double mean = 0, p95 = 0, max = 0;
};

Stats statsOf(std::vector<double> v)
{
    Stats s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    for (double d : v) s.mean += d;
    s.mean /= v.size();
    s.p95 = v[v.size() * 95 / 100];
    s.max = v.back();
    return s;
}

}  // namespace

// Device -> Lab -> device -> Lab through the linked pipelines (the built-in Lab profile as the
// colorimetric end). Matrix-shapers must close within 0.01 dE00; table profiles cannot do better
// than their own tables, so for them the relative colorimetric trip is compared, sample by
// sample, with the stored tables evaluated on their own.
TEST_F(LinkingTest, CorpusRoundTripsThroughLab)
{
    std::printf("%-22s %-6s %-3s %9s %9s %9s | %9s %9s\n", "profile", "kind", "int", "mean", "p95", "max",
                "ref mean", "max diff");
    int profilesChecked = 0;
    for (const std::string& path : lut_support::corpusProfiles()) {
        krmProfile h = open(path);
        ASSERT_NE(h, nullptr);
        krmProfileClassSignature cls = krmGetProfileClass(h);
        if (cls == krmSig("nmcl") || cls == krmSig("link") || cls == krmSig("abst")) continue;

        const krmUInt32Number nCh = krmChannelsOf(krmGetProfileColorSpace(h));
        const bool matrixShaper = krmIsMatrixShaper(h) && !krmIsTag(h, krmSig("A2B0"));
        const std::string name = path.substr(path.rfind('/') + 1);
        profilesChecked++;

        for (krmUInt32Number intent = 0; intent <= 3; intent++) {
            krmPipeline* in = krmReadInputLUT(h, intent);
            krmPipeline* out = krmReadOutputLUT(h, intent);
            EXPECT_NE(in, nullptr) << name << " intent " << intent;
            EXPECT_NE(out, nullptr) << name << " intent " << intent;
            krmPipelineFree(in);
            krmPipelineFree(out);

            krmPipeline* toLabP = link({h, lab4}, {intent});
            krmPipeline* fromLabP = link({lab4, h}, {intent});
            ASSERT_NE(toLabP, nullptr) << name << " intent " << intent;
            ASSERT_NE(fromLabP, nullptr) << name << " intent " << intent;
            ASSERT_EQ(krmPipelineInputChannels(toLabP), nCh);
            ASSERT_EQ(krmPipelineOutputChannels(fromLabP), nCh);

            std::unique_ptr<ReferencePath> ref;
            if (!matrixShaper && intent == krmINTENT_RELATIVE_COLORIMETRIC) {
                ref.reset(new ReferencePath(h, intent));
                ASSERT_TRUE(ref->ok()) << name;
            }

            const krmUInt32Number per = nCh <= 3 ? 9 : 5;
            krmUInt32Number total = 1;
            for (krmUInt32Number i = 0; i < nCh; i++) total *= per;

            std::vector<double> dE, dERef;
            double maxDiff = 0;
            for (krmUInt32Number node = 0; node < total; node++) {
                krmFloat32Number dev[16], lab1[3], dev2[16], lab2[3];
                krmUInt32Number rest = node;
                for (krmInt32Number t = (krmInt32Number)nCh - 1; t >= 0; t--) {
                    dev[t] = (rest % per) / (krmFloat32Number)(per - 1);
                    rest /= per;
                }
                krmPipelineEvalFloat(dev, lab1, toLabP);
                krmPipelineEvalFloat(lab1, dev2, fromLabP);
                krmPipelineEvalFloat(dev2, lab2, toLabP);
                krmCIELab a = toLab(lab1), b = toLab(lab2);
                dE.push_back(krmCIEDE2000(&a, &b, 1, 1, 1));

                if (ref) {
                    krmFloat32Number rdev2[16];
                    krmCIELab r1 = ref->toLab(dev);
                    ref->fromLab(r1, rdev2);
                    krmCIELab r2 = ref->toLab(rdev2);
                    dERef.push_back(krmCIEDE2000(&r1, &r2, 1, 1, 1));
                    // The linked pipelines are the tables plus exact PCS conversions.
                    EXPECT_LT(krmCIEDE2000(&a, &r1, 1, 1, 1), 0.01) << name;
                    maxDiff = std::max(maxDiff, krmCIEDE2000(&b, &r2, 1, 1, 1));
                }
            }
            Stats st = statsOf(dE);
            Stats rs = statsOf(dERef);
            std::printf("%-22s %-6s %-3u %9.5f %9.5f %9.5f | ", name.c_str(), matrixShaper ? "matrix" : "LUT", intent,
                        st.mean, st.p95, st.max);
            if (ref)
                std::printf("%9.5f %9.5f\n", rs.mean, maxDiff);
            else
                std::printf("%9s %9s\n", "-", "-");

            if (matrixShaper) {
                EXPECT_LE(st.max, 0.01) << name << " intent " << intent;
            } else if (ref) {
                EXPECT_LT(maxDiff, 0.05) << name;
                EXPECT_NEAR(st.mean, rs.mean, 0.01) << name;
            }
            EXPECT_FALSE(std::isnan(st.max)) << name << " intent " << intent;
            krmPipelineFree(toLabP);
            krmPipelineFree(fromLabP);
        }
    }
    EXPECT_GE(profilesChecked, 30);
}

// ---------------------------------------------------------------------------------------------
// What one profile contributes
// ---------------------------------------------------------------------------------------------

TEST_F(LinkingTest, SingleMatrixShaperLinksToCurvesMatrixAndLab)
{
    krmProfile h = open("/usr/share/color/icc/colord/sRGB.icc");
    krmPipeline* p = link({h}, {krmINTENT_PERCEPTUAL});
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(stageTypes(p), (std::vector<std::string>{"cvst", "matf"}));  // XYZ PCS
    EXPECT_EQ(krmPipelineInputChannels(p), 3u);
    EXPECT_EQ(krmPipelineOutputChannels(p), 3u);

    // White goes to the PCS white (D50, carried divided by 1.999969482421875).
    const krmFloat32Number white[3] = {1, 1, 1};
    krmFloat32Number xyz[3];
    krmPipelineEvalFloat(white, xyz, p);
    EXPECT_NEAR(xyz[0] * 1.999969482421875, 0.9642, 2e-3);
    EXPECT_NEAR(xyz[1] * 1.999969482421875, 1.0, 2e-3);
    EXPECT_NEAR(xyz[2] * 1.999969482421875, 0.8249, 2e-3);
    krmPipelineFree(p);

    krmSetProfilePCS(h, krmSig("Lab "));
    p = link({h}, {krmINTENT_PERCEPTUAL});
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(stageTypes(p), (std::vector<std::string>{"cvst", "matf", "l2x "}));
    krmFloat32Number lab[3];
    krmPipelineEvalFloat(white, lab, p);
    EXPECT_NEAR(lab[0], 1.0, 1e-3);
    krmPipelineFree(p);
}

TEST_F(LinkingTest, GrayMatrixShaperBothDirections)
{
    krmProfile h = open("sgray.icc");
    krmPipeline* in = krmReadInputLUT(h, 0);
    krmPipeline* out = krmReadOutputLUT(h, 0);
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(stageTypes(in), (std::vector<std::string>{"cvst", "matf"}));
    EXPECT_EQ(stageTypes(out), (std::vector<std::string>{"matf", "cvst"}));
    for (float g : {0.0f, 0.2f, 0.5f, 0.9f, 1.0f}) {
        krmFloat32Number xyz[3], back[1];
        krmPipelineEvalFloat(&g, xyz, in);
        // Gray lies on the D50 axis.
        if (g > 0) {
            EXPECT_NEAR(xyz[0] / xyz[1], 0.9642, 1e-3) << g;
        }
        krmPipelineEvalFloat(xyz, back, out);
        EXPECT_NEAR(back[0], g, 2e-3);
    }
    krmPipelineFree(in);
    krmPipelineFree(out);

    krmSetProfilePCS(h, krmSig("Lab "));
    in = krmReadInputLUT(h, 0);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(stageTypes(in), (std::vector<std::string>{"matf", "cvst"}));
    const krmFloat32Number half = 0.5f;
    krmFloat32Number lab[3];
    krmPipelineEvalFloat(&half, lab, in);
    EXPECT_NEAR(lab[1] * 255 - 128, 0.0, 0.01);  // neutral
    EXPECT_NEAR(lab[2] * 255 - 128, 0.0, 0.01);
    krmPipelineFree(in);
}

TEST_F(LinkingTest, FallbackToA2B0AndMatrixShaperForHighIntents)
{
    krmProfile lab = open("lab.icc");
    EXPECT_FALSE(krmIsCLUT(lab, 1, krmUsedAsInput));
    EXPECT_TRUE(krmIsCLUT(lab, 0, krmUsedAsInput));
    krmPipeline* p0 = krmReadInputLUT(lab, 0);
    krmPipeline* p1 = krmReadInputLUT(lab, 1);
    ASSERT_NE(p0, nullptr);
    ASSERT_NE(p1, nullptr);
    EXPECT_EQ(stageTypes(p0), stageTypes(p1));
    krmPipelineFree(p0);
    krmPipelineFree(p1);

    // A profile with both a table and the matrix-shaper tags: intent 0xFFFFFFFF asks for the shaper.
    krmProfile h = open("/usr/share/color/icc/colord/sRGB.icc");
    krmPipeline* table = krmPipelineAlloc(ctx, 3, 3);
    krmPipelineInsertStage(table, krmAT_END, krmStageAllocCLut16bit(ctx, 2, 3, 3, nullptr));
    ASSERT_TRUE(krmWriteTag(h, krmSig("A2B0"), table));
    krmPipelineFree(table);

    krmPipeline* viaTable = krmReadInputLUT(h, 0);
    krmPipeline* shaper = krmReadInputLUT(h, 0xFFFFFFFFu);
    ASSERT_NE(viaTable, nullptr);
    ASSERT_NE(shaper, nullptr);
    EXPECT_EQ(stageTypes(viaTable), std::vector<std::string>{"clut"});
    EXPECT_EQ(stageTypes(shaper), (std::vector<std::string>{"cvst", "matf"}));
    krmPipelineFree(viaTable);
    krmPipelineFree(shaper);

    // A float table wins over both, between the float normalisation stages (RGB in, XYZ out).
    const krmFloat64Number half[9] = {0.5, 0, 0, 0, 0.5, 0, 0, 0, 0.5};
    krmPipeline* floatTable = krmPipelineAlloc(ctx, 3, 3);
    krmPipelineInsertStage(floatTable, krmAT_END, krmStageAllocMatrix(ctx, 3, 3, half, nullptr));
    ASSERT_TRUE(krmWriteTag(h, krmSig("D2B0"), floatTable));
    krmPipelineFree(floatTable);
    krmPipeline* viaFloat = krmReadInputLUT(h, 0);
    ASSERT_NE(viaFloat, nullptr);
    EXPECT_EQ(stageTypes(viaFloat), (std::vector<std::string>{"matf", "matf"}));
    EXPECT_EQ(krmStageImplements(krmPipelineLastStage(viaFloat)), (krmStageSignature)krmSigXYZ2FloatPCS);
    // XYZ 1.0 (as the real number the float tag gives) is carried as 32768/65535.
    const krmFloat32Number one[3] = {1, 1, 1};
    krmFloat32Number v[3];
    krmPipelineEvalFloat(one, v, viaFloat);
    EXPECT_NEAR(v[1], 0.5 * 32768.0 / 65535.0, 1e-7);
    // The intent 1 float tag is missing: no fallback to D2B0 for profiles of this class.
    krmPipeline* rel = krmReadInputLUT(h, 1);
    ASSERT_NE(rel, nullptr);
    EXPECT_EQ(stageTypes(rel), std::vector<std::string>{"clut"});
    krmPipelineFree(rel);
    krmPipelineFree(viaFloat);
}

TEST_F(LinkingTest, Lut16LabTablesGetVersionConversionsAndTrilinearInterpolation)
{
    krmProfile cmyk = open("default_cmyk.icc");  // A2B0 lut16, B2A0 lut8, PCS Lab
    krmPipeline* in = krmReadInputLUT(cmyk, 0);
    ASSERT_NE(in, nullptr);
    std::vector<std::string> t = stageTypes(in);
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t.back(), "matf");
    EXPECT_EQ(krmStageImplements(krmPipelineLastStage(in)), (krmStageSignature)krmSigLabV2toV4);
    krmPipelineFree(in);

    krmPipeline* out = krmReadOutputLUT(cmyk, 0);
    ASSERT_NE(out, nullptr);
    EXPECT_NE(krmStageImplements(krmPipelineFirstStage(out)), (krmStageSignature)krmSigLabV4toV2);  // lut8
    for (krmStage* s = krmPipelineFirstStage(out); s; s = krmStageNext(s)) {
        if (krmStageType(s) != krmSigCLutElemType) continue;
        EXPECT_TRUE(((krmStageCLutData*)krmStageData(s))->Params->dwFlags & krmInterpFlagTrilinear);
    }
    krmPipelineFree(out);
}

TEST_F(LinkingTest, IntentSupportAndDirections)
{
    krmProfile srgb = open("srgb.icc");
    krmProfile cmyk = open("default_cmyk.icc");
    EXPECT_TRUE(krmIsIntentSupported(srgb, 2, krmUsedAsOutput));  // matrix-shaper
    EXPECT_FALSE(krmIsCLUT(srgb, 0, krmUsedAsInput));
    EXPECT_TRUE(krmIsCLUT(cmyk, 1, krmUsedAsOutput));
    EXPECT_FALSE(krmIsCLUT(cmyk, 4, krmUsedAsOutput));
    EXPECT_TRUE(krmIsCLUT(cmyk, 0, krmUsedAsProof));

    EXPECT_FALSE(krmIsCLUT(cmyk, 0, 7));
    EXPECT_TRUE(logged("Unexpected direction (7)", krmErrRange));

    krmProfile link = makeCMYKLink(ctx, 1.5);
    krmSetProfileIntent(link, 2);
    EXPECT_TRUE(krmIsCLUT(link, 2, krmUsedAsInput));
    EXPECT_FALSE(krmIsCLUT(link, 0, krmUsedAsInput));
    krmCloseProfile(link);
}

// ---------------------------------------------------------------------------------------------
// Linking rules and messages
// ---------------------------------------------------------------------------------------------

TEST_F(LinkingTest, LinkMessages)
{
    krmProfile srgb = open("srgb.icc");
    EXPECT_EQ(link({srgb, lab4}, {7}), nullptr);
    EXPECT_TRUE(logged("Unsupported intent '7'", krmErrUnknownExtension));

    std::vector<krmProfile> many(256, srgb);
    std::vector<krmUInt32Number> intents(256, 0);
    std::vector<krmBool> bpc(256, false);
    std::vector<krmFloat64Number> states(256, 1.0);
    EXPECT_EQ(krmLinkProfiles(ctx, 256, intents.data(), many.data(), bpc.data(), states.data(), 0), nullptr);
    EXPECT_TRUE(logged("Couldn't link '256' profiles", krmErrRange));
    EXPECT_EQ(krmLinkProfiles(ctx, 0, intents.data(), many.data(), bpc.data(), states.data(), 0), nullptr);
    EXPECT_TRUE(logged("Couldn't link '0' profiles", krmErrRange));

    // CMYK to Lab, then a device link that expects CMYK.
    krmProfile cmyk = open("default_cmyk.icc");
    krmProfile dl = makeCMYKLink(ctx, 1.0);
    EXPECT_EQ(link({cmyk, dl}, {0}), nullptr);
    EXPECT_TRUE(logged("ColorSpace mismatch: profile 2 of the chain takes 'CMYK' but receives 'Lab '", krmErrColorSpaceCheck));
    krmCloseProfile(dl);
}

TEST_F(LinkingTest, NoNegativesFlagClipsDeviceOutput)
{
    krmProfile srgb = open("srgb.icc");
    krmPipeline* p = link({lab4, srgb}, {1}, false, 1.0, krmFlagNoNegatives);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(stageTypes(p).back(), "clp ");
    // A saturated Lab blue lies outside sRGB: red and green come out negative without the clip.
    const krmFloat32Number blue[3] = {0.3f, (128 + 60) / 255.0f, (128 - 110) / 255.0f};
    krmFloat32Number rgb[3];
    krmPipelineEvalFloat(blue, rgb, p);
    for (float v : rgb) EXPECT_GE(v, 0.0f);
    krmPipelineFree(p);

    krmPipeline* q = link({srgb, lab4}, {1}, false, 1.0, krmFlagNoNegatives);
    ASSERT_NE(q, nullptr);
    EXPECT_NE(stageTypes(q).back(), "clp ");  // Lab output is not clipped
    krmPipelineFree(q);
}

TEST_F(LinkingTest, AbsoluteColorimetricWithEqualWhitesAddsNoLayer)
{
    krmProfile rgb = open("/usr/share/color/icc/colord/sRGB.icc");
    krmProfile cmyk = open("default_cmyk.icc");

    auto countMatrices = [](const krmPipeline* p) {
        std::vector<std::string> t = stageTypes(p);
        return std::count(t.begin(), t.end(), std::string("matf"));
    };

    // The printer's paper is not D50: absolute colorimetric scales between the two whites.
    krmCIEXYZ paper;
    ASSERT_TRUE(krmReadMediaWhitePoint(&paper, cmyk));
    krmPipeline* scaled = link({rgb, cmyk}, {krmINTENT_ABSOLUTE_COLORIMETRIC});
    krmPipeline* relative = link({rgb, cmyk}, {krmINTENT_RELATIVE_COLORIMETRIC});
    ASSERT_NE(scaled, nullptr);
    ASSERT_NE(relative, nullptr);
    krmCIEXYZ rgbWhite;
    ASSERT_TRUE(krmReadMediaWhitePoint(&rgbWhite, rgb));
    if (fabs(paper.X - rgbWhite.X) + fabs(paper.Y - rgbWhite.Y) + fabs(paper.Z - rgbWhite.Z) > 0.002) {
        EXPECT_EQ(countMatrices(scaled), countMatrices(relative) + 1);
    }
    krmPipelineFree(scaled);

    // Equal whites and full adaptation: the scaling is the identity and adds nothing.
    ASSERT_TRUE(krmWriteTag(cmyk, krmSig("wtpt"), &rgbWhite));
    krmPipeline* same = link({rgb, cmyk}, {krmINTENT_ABSOLUTE_COLORIMETRIC});
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(stageTypes(same), stageTypes(relative));
    krmPipelineFree(same);
    krmPipelineFree(relative);
}

TEST_F(LinkingTest, AdaptationStateRulesOfAbsoluteColorimetric)
{
    const krmFloat32Number in[3] = {0.8f, 0.4f, 0.2f};

    // A display whose CHAD adapts its own white to D50, seen by observers adapted to different
    // degrees: 1 sees the PCS white, 0 the display's own white (states between: the closed-form
    // test below).
    krmProfile warm = open("/usr/share/color/icc/colord/Gamma5000K.icc");
    krmPipeline* full = link({warm, lab4}, {krmINTENT_ABSOLUTE_COLORIMETRIC}, false, 1.0);
    krmPipeline* none = link({warm, lab4}, {krmINTENT_ABSOLUTE_COLORIMETRIC}, false, 0.0);
    ASSERT_NE(full, nullptr);
    ASSERT_NE(none, nullptr);

    krmMAT3 chad;
    ASSERT_TRUE(krmReadCHAD(&chad, warm));
    krmFloat32Number a[3], b[3];
    krmPipelineEvalFloat(in, a, full);
    krmPipelineEvalFloat(in, b, none);
    ASSERT_FALSE(krmMAT3IsIdentity(&chad));
    krmCIELab la = toLab(a), lb = toLab(b);
    EXPECT_GT(krmDeltaE(&la, &lb), 1.0);

    // Unadapted, the display white is the white the CHAD started from: inverse(CHAD) . D50.
    // Fully adapted it stays the PCS white.
    krmMAT3 inv;
    ASSERT_TRUE(krmMAT3Inverse(&chad, &inv));
    krmVEC3 d50 = {{krmD50X, krmD50Y, krmD50Z}}, src;
    krmMAT3Eval(&src, &inv, &d50);
    krmCIEXYZ srcXYZ = {src.n[0], src.n[1], src.n[2]};
    krmCIELab expectWhite;
    krmXYZ2Lab(nullptr, &expectWhite, &srcXYZ);

    const krmFloat32Number white[3] = {1, 1, 1};
    krmFloat32Number w[3];
    krmPipelineEvalFloat(white, w, none);
    krmCIELab gotWhite = toLab(w);
    EXPECT_LT(krmCIEDE2000(&gotWhite, &expectWhite, 1, 1, 1), 0.05);
    krmPipelineEvalFloat(white, w, full);
    EXPECT_NEAR(toLab(w).a, 0.0, 0.05);
    EXPECT_NEAR(toLab(w).b, 0.0, 0.05);

    krmPipelineFree(full);
    krmPipelineFree(none);
}

namespace {

using Mat = std::array<std::array<double, 3>, 3>;
using Vec = std::array<double, 3>;

Mat mul(const Mat& a, const Mat& b)
{
    Mat r{};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            for (int k = 0; k < 3; k++) r[i][j] += a[i][k] * b[k][j];
    return r;
}

Vec mul(const Mat& a, const Vec& v)
{
    Vec r{};
    for (int i = 0; i < 3; i++)
        for (int k = 0; k < 3; k++) r[i] += a[i][k] * v[k];
    return r;
}

Mat inverse(const Mat& m)
{
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    Mat r{};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            const int a = (j + 1) % 3, b = (j + 2) % 3, c = (i + 1) % 3, d = (i + 2) % 3;
            r[i][j] = (m[a][c] * m[b][d] - m[a][d] * m[b][c]) / det;
        }
    return r;
}

// Bradford (Lam 1985): the cone responses of both whites, scaled per cone.
Mat bradford(const Vec& from, const Vec& to)
{
    const Mat cone = {{{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
    const Vec a = mul(cone, from), b = mul(cone, to);
    const Mat scale = {{{b[0] / a[0], 0, 0}, {0, b[1] / a[1], 0}, {0, 0, b[2] / a[2]}}};
    return mul(inverse(cone), mul(scale, cone));
}

// CIE daylight of correlated colour temperature T (4000 to 25000 K), Y = 1 (CIE 15:2004 3.1).
Vec daylightWhite(double T)
{
    const double t = 1.0 / T;
    const double x = T <= 7000 ? 0.244063 + 0.09911e3 * t + 2.9678e6 * t * t - 4.6070e9 * t * t * t
                               : 0.237040 + 0.24748e3 * t + 1.9018e6 * t * t - 2.0064e9 * t * t * t;
    const double y = -3.0 * x * x + 2.870 * x - 0.275;
    return {x / y, 1.0, (1.0 - x - y) / y};
}

// A linear RGB display (version 4) with its own media white and an adaptation from daylight of
// temperature T to D50, read back from its bytes.
krmProfile adaptedDisplay(krmContext ctx, const krmCIEXYZ& white, double T)
{
    const krmCIExyY d50 = {0.3457, 0.3585, 1.0};
    const krmCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    krmToneCurve* linear = krmBuildGamma(ctx, 1.0);
    krmToneCurve* curves[3] = {linear, linear, linear};
    krmProfile p = krmCreateRGBProfile(ctx, &d50, &primaries, curves);
    krmFreeToneCurve(linear);
    krmSetProfileVersion(p, 4.3);
    krmWriteTag(p, krmSig("wtpt"), &white);
    const Mat chad = bradford(daylightWhite(T), {krmD50X, krmD50Y, krmD50Z});
    krmFloat64Number values[9];
    for (int i = 0; i < 9; i++) values[i] = chad[i / 3][i % 3];
    krmWriteTag(p, krmSig("chad"), values);
    krmUInt32Number size = 0;
    krmSaveProfileToMem(p, nullptr, &size);
    std::vector<char> bytes(size);
    krmSaveProfileToMem(p, bytes.data(), &size);
    krmCloseProfile(p);
    return krmOpenProfileFromMemInContext(ctx, bytes.data(), size);
}

} // namespace

// Partial adaptation mixes the two colour temperatures: T = (1 − s)·Tout + s·Tin, with the
// Bradford adaptation from daylight of T, the white scaling and the source's inverse adaptation.
// Written out here independently (Bradford, the daylight locus, the matrices); the whites and
// temperatures differ so that swapping them, or s and 1 − s, moves the result far off.
TEST_F(LinkingTest, PartialAdaptationAgainstItsClosedForm)
{
    const double tIn = 6500, tOut = 4000;
    const krmCIEXYZ whiteIn = {0.95, 0.98, 0.80}, whiteOut = {0.97, 1.0, 0.86};
    krmProfile in = adaptedDisplay(ctx, whiteIn, tIn);
    krmProfile out = adaptedDisplay(ctx, whiteOut, tOut);
    ASSERT_TRUE(in && out);
    Mat rgbToXyz{};
    const krmTagSignature colorants[3] = {krmSig("rXYZ"), krmSig("gXYZ"), krmSig("bXYZ")};
    for (int c = 0; c < 3; c++) {
        const auto* xyz = static_cast<const krmCIEXYZ*>(krmReadTag(in, colorants[c]));
        ASSERT_NE(xyz, nullptr);
        rgbToXyz[0][c] = xyz->X;
        rgbToXyz[1][c] = xyz->Y;
        rgbToXyz[2][c] = xyz->Z;
    }
    const Mat scale = {{{whiteIn.X / whiteOut.X, 0, 0}, {0, whiteIn.Y / whiteOut.Y, 0}, {0, 0, whiteIn.Z / whiteOut.Z}}};
    const Mat chadIn = bradford(daylightWhite(tIn), {krmD50X, krmD50Y, krmD50Z});
    for (double state : {0.25, 0.6}) {
        SCOPED_TRACE(state);
        const double t = (1 - state) * tOut + state * tIn;
        // Composed as the linker composes it (inverse source adaptation, white scaling, then the
        // mixed adaptation, applied right to left); at s = 0 this agrees with the unadapted case
        // up to the order of the scaling, since Bradford matrices commute with each other.
        const Mat m = mul(inverse(chadIn), mul(scale, bradford(daylightWhite(t), {krmD50X, krmD50Y, krmD50Z})));
        krmPipeline* lut = link({in, out}, {krmINTENT_ABSOLUTE_COLORIMETRIC}, false, state);
        ASSERT_NE(lut, nullptr);
        for (const Vec& rgb : {Vec{0.8, 0.4, 0.2}, Vec{0.2, 0.5, 0.7}, Vec{0.5, 0.5, 0.5}}) {
            const Vec expected = mul(inverse(rgbToXyz), mul(m, mul(rgbToXyz, rgb)));
            const krmFloat32Number src[3] = {krmFloat32Number(rgb[0]), krmFloat32Number(rgb[1]), krmFloat32Number(rgb[2])};
            krmFloat32Number got[3];
            krmPipelineEvalFloat(src, got, lut);
            for (int c = 0; c < 3; c++) EXPECT_NEAR(got[c], expected[c], 5e-4) << c;
        }
        krmPipelineFree(lut);
    }
    krmCloseProfile(in);
    krmCloseProfile(out);
}

TEST_F(LinkingTest, WhitePointAndAdaptationOfVersion2Displays)
{
    krmProfile v2 = open("srgb.icc");  // version 2.1 display
    krmCIEXYZ w;
    ASSERT_TRUE(krmReadMediaWhitePoint(&w, v2));
    EXPECT_DOUBLE_EQ(w.X, 0.9642);
    EXPECT_DOUBLE_EQ(w.Z, 0.8249);

    const krmCIEXYZ* stored = (const krmCIEXYZ*)krmReadTag(v2, krmSig("wtpt"));
    ASSERT_NE(stored, nullptr);
    krmMAT3 chad, expect;
    ASSERT_TRUE(krmReadCHAD(&chad, v2));
    ASSERT_TRUE(krmAdaptationMatrix(&expect, nullptr, stored, krmD50_XYZ()));
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) EXPECT_DOUBLE_EQ(chad.v[i].n[j], expect.v[i].n[j]);

    // The CHAD maps the display white to D50.
    krmVEC3 s = {{stored->X, stored->Y, stored->Z}}, d;
    krmMAT3Eval(&d, &chad, &s);
    EXPECT_NEAR(d.n[0], 0.9642, 1e-4);
    EXPECT_NEAR(d.n[2], 0.8249, 1e-4);

    // No wtpt at all: D50.
    krmProfile empty = krmCreateProfilePlaceholder(ctx);
    krmSetProfileClass(empty, krmSig("prtr"));
    ASSERT_TRUE(krmReadMediaWhitePoint(&w, empty));
    EXPECT_DOUBLE_EQ(w.Y, 1.0);
    ASSERT_TRUE(krmReadCHAD(&chad, empty));
    EXPECT_TRUE(krmMAT3IsIdentity(&chad));
    krmCloseProfile(empty);
}

TEST_F(LinkingTest, AdaptationStateIsPerContext)
{
    EXPECT_DOUBLE_EQ(krmSetAdaptationState(ctx, -1), 1.0);
    EXPECT_DOUBLE_EQ(krmSetAdaptationState(ctx, 0.25), 1.0);
    EXPECT_DOUBLE_EQ(krmSetAdaptationState(ctx, -1), 0.25);
    krmContext other = krmCreateContext(nullptr, nullptr);
    EXPECT_DOUBLE_EQ(krmSetAdaptationState(other, -1), 1.0);
    krmDeleteContext(other);
}

// ---------------------------------------------------------------------------------------------
// Black point compensation
// ---------------------------------------------------------------------------------------------

namespace {
// Whether any matrix stage of the pipeline carries an offset that is not zero (the BPC layer).
bool hasOffsetLayer(const krmPipeline* p)
{
    for (krmStage* s = krmPipelineFirstStage(p); s; s = krmStageNext(s)) {
        if (krmStageType(s) != krmSigMatrixElemType) continue;
        const krmStageMatrixData* m = (const krmStageMatrixData*)krmStageData(s);
        if (m->Offset && (m->Offset[0] != 0 || m->Offset[1] != 0 || m->Offset[2] != 0)) return true;
    }
    return false;
}
}  // namespace

TEST_F(LinkingTest, BlackPointCompensationRulesByIntentAndVersion)
{
    krmProfile v4lut = open("gray_to_k.icc");  // version 4.2 CMYK output with tables

    // Intent 0 on a version 4 profile always compensates, asked or not.
    krmPipeline* p0 = link({lab4, v4lut}, {0}, false);
    ASSERT_NE(p0, nullptr);
    EXPECT_TRUE(hasOffsetLayer(p0));
    krmPipelineFree(p0);

    // Intent 3 never does, even when asked.
    krmPipeline* p3 = link({lab4, v4lut}, {3}, true);
    krmPipeline* p3off = link({lab4, v4lut}, {3}, false);
    ASSERT_NE(p3, nullptr);
    ASSERT_NE(p3off, nullptr);
    EXPECT_FALSE(hasOffsetLayer(p3));
    EXPECT_EQ(stageTypes(p3), stageTypes(p3off));
    krmPipelineFree(p3);
    krmPipelineFree(p3off);

    // Intent 1 compensates only when asked.
    krmPipeline* p1 = link({lab4, v4lut}, {1}, false);
    ASSERT_NE(p1, nullptr);
    EXPECT_FALSE(hasOffsetLayer(p1));
    krmPipelineFree(p1);
}

// Black point compensation in closed form. The source is sRGB with its tone curves raised to
// 0.9 x + 0.1, so its black is 0.1 D50; compensation maps each XYZ axis linearly so that this black
// lands on the destination's black and D50 stays, which puts grey v at v D50 + (1 - v) BPout.
TEST_F(LinkingTest, CompensationScalesBetweenTheBlackPointsInClosedForm)
{
    const krmCIExyY d65 = {0.3127, 0.3290, 1.0};
    const krmCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    const krmFloat64Number raised[3] = {1.0, 0.9, 0.1};  // (0.9 x + 0.1)^1
    krmToneCurve* curve = krmBuildParametricToneCurve(ctx, 2, raised);
    krmToneCurve* curves[3] = {curve, curve, curve};
    krmProfile src = krmCreateRGBProfile(ctx, &d65, &primaries, curves);
    krmFreeToneCurve(curve);
    ASSERT_NE(src, nullptr);
    opened.push_back(src);
    const krmCIEXYZ* d50 = krmD50_XYZ();

    krmCIEXYZ bpIn;
    ASSERT_TRUE(krmDetectBlackPoint(&bpIn, src, 1, 0));
    EXPECT_NEAR(bpIn.X, 0.1 * d50->X, 1e-4);
    EXPECT_NEAR(bpIn.Y, 0.1, 1e-4);
    EXPECT_NEAR(bpIn.Z, 0.1 * d50->Z, 1e-4);
    const double greys[] = {0.0, 0.25, 0.5, 1.0};

    // To sRGB, whose black is 0: grey v becomes v D50, that is sRGB's own encoding of v.
    krmProfile srgb = krmCreate_sRGBProfile(ctx);
    opened.push_back(srgb);
    krmTransform toSrgb = krmCreateTransformWithContext(ctx, src, krmFmtRGBDouble, srgb, krmFmtRGBDouble, 1,
                                                        krmFlagBlackPointCompensation);
    ASSERT_NE(toSrgb, nullptr);
    for (double v : greys) {
        const double in[3] = {v, v, v};
        double out[3];
        krmDoTransform(toSrgb, in, out, 1);
        const double want = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
        for (int k = 0; k < 3; k++) EXPECT_NEAR(out[k], want, 1e-3) << "grey " << v << " channel " << k;
    }
    krmDeleteTransform(toSrgb);

    // To a printer with a black above 0: compare with sending the formula's XYZ through the same
    // printer tables without compensation.
    krmProfile cmyk = open("default_cmyk.icc");
    ASSERT_NE(cmyk, nullptr);
    krmCIEXYZ bpOut;
    ASSERT_TRUE(krmDetectDestinationBlackPoint(&bpOut, cmyk, 1, 0));
    EXPECT_GT(bpOut.Y, 0.01);
    krmProfile xyz = krmCreateXYZProfile(ctx);
    opened.push_back(xyz);
    krmTransform compensated = krmCreateTransformWithContext(ctx, src, krmFmtRGBDouble, cmyk, krmFmtCMYKFloat, 1,
                                                             krmFlagBlackPointCompensation);
    krmTransform measured = krmCreateTransformWithContext(ctx, xyz, krmFmtXYZDouble, cmyk, krmFmtCMYKFloat, 1, 0);
    ASSERT_NE(compensated, nullptr);
    ASSERT_NE(measured, nullptr);
    for (double v : greys) {
        const double in[3] = {v, v, v};
        const krmCIEXYZ want = {v * d50->X + (1 - v) * bpOut.X, v * d50->Y + (1 - v) * bpOut.Y,
                                v * d50->Z + (1 - v) * bpOut.Z};
        float got[4], expected[4];
        krmDoTransform(compensated, in, got, 1);
        krmDoTransform(measured, &want, expected, 1);
        for (int k = 0; k < 4; k++) EXPECT_NEAR(got[k], expected[k], 0.1) << "grey " << v << " ink " << k;  // percent
    }
    krmDeleteTransform(compensated);
    krmDeleteTransform(measured);
}

// ---------------------------------------------------------------------------------------------
// Black point detection
// ---------------------------------------------------------------------------------------------

TEST_F(LinkingTest, BlackPointDetection)
{
    krmCIEXYZ bp;

    // Version 4 table profile, perceptual: the fixed version 4 black.
    krmProfile v4lut = open("gray_to_k.icc");
    ASSERT_TRUE(krmDetectBlackPoint(&bp, v4lut, 0, 0));
    EXPECT_DOUBLE_EQ(bp.X, 0.00336);
    EXPECT_DOUBLE_EQ(bp.Y, 0.0034731);
    EXPECT_DOUBLE_EQ(bp.Z, 0.00287);
    ASSERT_TRUE(krmDetectDestinationBlackPoint(&bp, v4lut, 2, 0));
    EXPECT_DOUBLE_EQ(bp.Y, 0.0034731);

    // Links, abstract profiles and absolute colorimetric have none.
    EXPECT_FALSE(krmDetectBlackPoint(&bp, lab4, 1, 0));
    EXPECT_EQ(bp.X + bp.Y + bp.Z, 0.0);
    EXPECT_FALSE(krmDetectBlackPoint(&bp, v4lut, 3, 0));
    EXPECT_FALSE(krmDetectDestinationBlackPoint(&bp, v4lut, 3, 0));

    // A matrix-shaper's black is its darkest colorant, neutral, on the L* axis.
    krmProfile srgb = open("srgb.icc");
    ASSERT_TRUE(krmDetectBlackPoint(&bp, srgb, 1, 0));
    krmCIELab lab;
    krmXYZ2Lab(nullptr, &lab, &bp);
    EXPECT_GE(lab.L, 0.0);
    EXPECT_LE(lab.L, 50.0);
    EXPECT_NEAR(lab.a, 0.0, 1e-6);
    EXPECT_NEAR(lab.b, 0.0, 1e-6);

    // A printer: black lies between the darkest Lab the tables produce and L* 50, neutral.
    krmProfile cmyk = open("default_cmyk.icc");
    for (krmUInt32Number intent : {0u, 1u, 2u}) {
        ASSERT_TRUE(krmDetectBlackPoint(&bp, cmyk, intent, 0)) << intent;
        krmXYZ2Lab(nullptr, &lab, &bp);
        EXPECT_GT(lab.L, 0.0) << intent;
        EXPECT_LE(lab.L, 50.0) << intent;
        EXPECT_NEAR(lab.a, 0.0, 1e-6);
        ASSERT_TRUE(krmDetectDestinationBlackPoint(&bp, cmyk, intent, 0)) << intent;
        krmXYZ2Lab(nullptr, &lab, &bp);
        EXPECT_GE(lab.L, 0.0) << intent;
        EXPECT_LE(lab.L, 50.0) << intent;
    }
}

// ---------------------------------------------------------------------------------------------
// Black-preserving intents
// ---------------------------------------------------------------------------------------------

TEST_F(LinkingTest, OnlyTrailingLinksFromPositionTwoAreSetAside)
{
    krmProfile cmyk = open("default_cmyk.icc");
    krmProfile l1 = makeCMYKLink(ctx, 1.2);
    krmProfile l2 = makeCMYKLink(ctx, 0.8);
    krmProfile l3 = makeCMYKLink(ctx, 1.1);

    krmProfile chain3[3] = {cmyk, l1, l2};
    EXPECT_EQ(_krmBlackPreservingKeptCount(3, chain3), 2u);  // position 1 stays
    krmProfile chain2[2] = {l1, l2};
    EXPECT_EQ(_krmBlackPreservingKeptCount(2, chain2), 2u);
    krmProfile chain4[4] = {cmyk, cmyk, l1, l2};
    EXPECT_EQ(_krmBlackPreservingKeptCount(4, chain4), 2u);
    krmProfile mixed[4] = {cmyk, cmyk, l1, cmyk};
    EXPECT_EQ(_krmBlackPreservingKeptCount(4, mixed), 4u);
    krmProfile lab[3] = {cmyk, cmyk, lab4};
    EXPECT_EQ(_krmBlackPreservingKeptCount(3, lab), 3u);

    krmCloseProfile(l1);
    krmCloseProfile(l2);
    krmCloseProfile(l3);
}

TEST_F(LinkingTest, KOnlyIntentKeepsPureBlackPure)
{
    krmProfile src = open("default_cmyk.icc");
    krmProfile dst = open("ps_cmyk.icc");

    krmPipeline* p = link({src, dst}, {krmINTENT_PRESERVE_K_ONLY_RELATIVE_COLORIMETRIC});
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(stageTypes(p), std::vector<std::string>{"clut"});
    EXPECT_EQ(krmPipelineInputChannels(p), 4u);
    EXPECT_EQ(krmPipelineOutputChannels(p), 4u);

    krmPipeline* plain = link({src, dst}, {krmINTENT_RELATIVE_COLORIMETRIC});
    ASSERT_NE(plain, nullptr);
    int plainUsesCMY = 0;
    for (int k = 0; k <= 16; k++) {
        krmUInt16Number in[4] = {0, 0, 0, krmQuantizeVal(k, 17)}, out[4], ref[4];
        krmPipelineEval16(in, out, p);
        EXPECT_EQ(out[0], 0);
        EXPECT_EQ(out[1], 0);
        EXPECT_EQ(out[2], 0);
        krmPipelineEval16(in, ref, plain);
        if (ref[0] + ref[1] + ref[2] > 0) plainUsesCMY++;
    }
    // Other colours follow the ordinary link.
    krmUInt16Number in[4] = {krmQuantizeVal(8, 17), krmQuantizeVal(4, 17), krmQuantizeVal(12, 17), 0}, a[4], b[4];
    krmPipelineEval16(in, a, p);
    krmPipelineEval16(in, b, plain);
    for (int i = 0; i < 4; i++) EXPECT_NEAR(a[i], b[i], 2);
    std::printf("ordinary link puts CMY into %d of 17 pure-K steps\n", plainUsesCMY);
    krmPipelineFree(plain);
    krmPipelineFree(p);

    // A trailing CMYK link is applied after the table.
    krmProfile dl = makeCMYKLink(ctx, 2.0);
    krmPipeline* withLink = link({src, dst, dl}, {krmINTENT_PRESERVE_K_ONLY_PERCEPTUAL});
    ASSERT_NE(withLink, nullptr);
    EXPECT_EQ(stageTypes(withLink), (std::vector<std::string>{"clut", "cvst"}));
    krmPipelineFree(withLink);
    krmCloseProfile(dl);

    // Not CMYK to CMYK: the ordinary ICC link. (Relative colorimetric: the black-preserving
    // numbers do not force compensation on version 4 profiles, perceptual 0 would.)
    krmProfile srgb = open("srgb.icc");
    krmPipeline* rgb = link({srgb, dst}, {krmINTENT_PRESERVE_K_ONLY_RELATIVE_COLORIMETRIC});
    krmPipeline* rgbPlain = link({srgb, dst}, {krmINTENT_RELATIVE_COLORIMETRIC});
    ASSERT_NE(rgb, nullptr);
    ASSERT_NE(rgbPlain, nullptr);
    EXPECT_EQ(stageTypes(rgb), stageTypes(rgbPlain));
    krmPipelineFree(rgb);
    krmPipelineFree(rgbPlain);
}

TEST_F(LinkingTest, KToneCurveIsMonotonicAndNeedsAPrinterAtTheEnd)
{
    krmProfile src = open("default_cmyk.icc");
    krmProfile dst = open("ps_cmyk.icc");
    krmProfile chain[2] = {src, dst};
    krmUInt32Number intents[2] = {1, 1};
    krmBool bpc[2] = {false, false};
    krmFloat64Number states[2] = {1, 1};

    krmToneCurve* k = krmBuildKToneCurve(ctx, 256, 2, intents, chain, bpc, states, 0);
    ASSERT_NE(k, nullptr);
    EXPECT_TRUE(krmIsToneCurveMonotonic(k));
    EXPECT_LT(krmEvalToneCurveFloat(k, 0.0f), 0.05f);
    EXPECT_GT(krmEvalToneCurveFloat(k, 1.0f), 0.5f);
    krmFreeToneCurve(k);

    krmProfile srgb = open("srgb.icc");
    krmProfile bad[2] = {src, srgb};
    EXPECT_EQ(krmBuildKToneCurve(ctx, 256, 2, intents, bad, bpc, states, 0), nullptr);
}

TEST_F(LinkingTest, KPlaneIntentLimitsInkAndNeedsCoverage)
{
    krmProfile src = open("default_cmyk.icc");
    krmProfile dst = open("default_cmyk.icc");

    krmPipeline* p = link({src, dst}, {krmINTENT_PRESERVE_K_PLANE_PERCEPTUAL});
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(stageTypes(p), std::vector<std::string>{"clut"});
    const double maxTAC = krmDetectTAC(dst) / 100.0;
    ASSERT_GT(maxTAC, 0.0);
    for (int i = 0; i <= 4; i++)
        for (int k = 0; k <= 4; k++) {
            krmUInt16Number in[4] = {krmQuantizeVal(i, 5), krmQuantizeVal(4 - i, 5), krmQuantizeVal(i, 5),
                                     krmQuantizeVal(k, 5)},
                            out[4];
            krmPipelineEval16(in, out, p);
            double sum = (out[0] + out[1] + out[2] + out[3]) / 65535.0;
            EXPECT_LE(sum, maxTAC + 0.02) << i << " " << k;
        }
    krmPipelineFree(p);

    // A destination without a perceptual output table has no coverage to limit to.
    krmProfile noTac = open("ps_cmyk.icc");
    ASSERT_TRUE(krmWriteTag(noTac, krmSig("B2A0"), nullptr));
    EXPECT_EQ(krmDetectTAC(noTac), 0.0);
    EXPECT_EQ(link({src, noTac}, {krmINTENT_PRESERVE_K_PLANE_PERCEPTUAL}), nullptr);
}

TEST_F(LinkingTest, IntentRegistryAndTranslation)
{
    krmUInt32Number codes[32];
    const char* names[32];
    krmUInt32Number n = krmGetSupportedIntents(ctx, 32, codes, names);
    ASSERT_EQ(n, 10u);
    EXPECT_EQ(codes[3], 3u);
    EXPECT_STREQ(names[3], "Absolute colorimetric");
    EXPECT_EQ(codes[9], 15u);
    EXPECT_STREQ(names[9], "Saturation preserving black plane");

    EXPECT_EQ(krmTranslateToICCIntent(10), 0u);
    EXPECT_EQ(krmTranslateToICCIntent(14), 1u);
    EXPECT_EQ(krmTranslateToICCIntent(15), 2u);
    EXPECT_EQ(krmTranslateToICCIntent(3), 3u);
    EXPECT_EQ(krmTranslateToICCIntent(99), 99u);
}

namespace {
int g_pluginCalls = 0;
krmPipeline* pluginLink(krmContext ContextID, krmUInt32Number, krmUInt32Number[], krmProfile[], krmBool[],
                        krmFloat64Number[], krmUInt32Number)
{
    g_pluginCalls++;
    krmPipeline* p = krmPipelineAlloc(ContextID, 3, 3);
    krmPipelineInsertStage(p, krmAT_END, krmStageAllocIdentity(ContextID, 3));
    return p;
}
}  // namespace

TEST_F(LinkingTest, RegisteredIntentsComeFirst)
{
    krmPluginRenderingIntent plugin;
    memset(&plugin, 0, sizeof(plugin));
    plugin.base.Magic = krmPluginMagicNumber;
    plugin.base.ExpectedVersion = 2200;
    plugin.base.Type = krmPluginRenderingIntentSig;
    plugin.Intent = 1;  // replaces relative colorimetric in this context
    plugin.Link = pluginLink;
    strcpy(plugin.Description, "Mine");
    ASSERT_TRUE(krmRegisterPluginInContext(ctx, &plugin));

    krmProfile srgb = open("srgb.icc");
    g_pluginCalls = 0;
    krmPipeline* p = link({srgb, lab4}, {1});
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(g_pluginCalls, 1);
    EXPECT_EQ(stageTypes(p), std::vector<std::string>{"idn "});
    krmPipelineFree(p);

    krmUInt32Number codes[16];
    const char* names[16];
    EXPECT_EQ(krmGetSupportedIntents(ctx, 16, codes, names), 11u);
    EXPECT_STREQ(names[0], "Mine");
}
