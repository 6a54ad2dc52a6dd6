// prismet-cli gamut and roundtrip: the overlap figures, the roundtrip statistics against the
// views' own computation for the whole corpus, and the exit codes.

#include "CliTestSupport.h"
#include "common/analysis/GamutAnalysis.h"
#include "tests/support/ViewerTestSupport.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <cmath>

namespace {

const QString kColord = QStringLiteral("/usr/share/color/icc/colord/");
const QString kSrgb = kColord + QStringLiteral("sRGB.icc");

double percent(const QJsonObject& compare, const char* key)
{
    return compare.value(QLatin1String(key)).toObject().value("percent").toDouble();
}

// The offset a profile written below adds in its A2B0 and not in its B2A0.
constexpr double kOffset[3] = {0, 3, -5};

// A version 4 colour-space profile whose device space is L*a*b* itself: A2B1 adds kOffset, B2A1
// is the identity. A device roundtrip of a colour d gives d + kOffset, then d + 2 kOffset; a PCS
// roundtrip gives s + kOffset: every sample is off by exactly kOffset (away from the edges of the
// 16-bit encoding, where the device words clip). Its gamut is the L*a*b* box moved by kOffset.
QByteArray offsetLabProfile()
{
    krmProfile profile = krmCreateProfilePlaceholder(nullptr);
    krmSetProfileClass(profile, krmSig("spac"));
    krmSetProfileColorSpace(profile, krmSig("Lab "));
    krmSetProfilePCS(profile, krmSig("Lab "));
    krmSetProfileVersion(profile, 4.3);
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const double shift[3] = {kOffset[0] / 100.0, kOffset[1] / 255.0, kOffset[2] / 255.0};  // v4 encoding
    // 'mAB ' holds a matrix between M and B curves: identity curves around it.
    krmPipeline* a2b = krmPipelineAlloc(nullptr, 3, 3);
    krmPipelineInsertStage(a2b, krmAT_END, krmStageAllocToneCurves(nullptr, 3, nullptr));
    krmPipelineInsertStage(a2b, krmAT_END, krmStageAllocMatrix(nullptr, 3, 3, identity, shift));
    krmPipelineInsertStage(a2b, krmAT_END, krmStageAllocToneCurves(nullptr, 3, nullptr));
    krmPipeline* b2a = krmPipelineAlloc(nullptr, 3, 3);
    krmPipelineInsertStage(b2a, krmAT_END, krmStageAllocToneCurves(nullptr, 3, nullptr));
    // Relative colorimetric: the perceptual intent would add the reference medium's black.
    krmWriteTag(profile, krmSig("A2B1"), a2b);
    krmWriteTag(profile, krmSig("B2A1"), b2a);
    krmPipelineFree(a2b);
    krmPipelineFree(b2a);
    const QByteArray bytes = viewertest::saveToBytes(profile);
    krmCloseProfile(profile);
    return bytes;
}

// The same device space, with a B2A1 that gives four channels for its three: the pair exists
// but cannot be linked, so every roundtrip fails.
QByteArray mismatchedPairProfile()
{
    krmProfile profile = krmCreateProfilePlaceholder(nullptr);
    krmSetProfileClass(profile, krmSig("spac"));
    krmSetProfileColorSpace(profile, krmSig("Lab "));
    krmSetProfilePCS(profile, krmSig("Lab "));
    krmSetProfileVersion(profile, 4.3);
    krmPipeline* a2b = krmPipelineAlloc(nullptr, 3, 3);
    krmPipelineInsertStage(a2b, krmAT_END, krmStageAllocToneCurves(nullptr, 3, nullptr));
    krmPipeline* b2a = krmPipelineAlloc(nullptr, 3, 4);
    krmPipelineInsertStage(b2a, krmAT_END, krmStageAllocToneCurves(nullptr, 3, nullptr));
    krmPipelineInsertStage(b2a, krmAT_END, krmStageAllocCLut16bit(nullptr, 2, 3, 4, nullptr));
    krmPipelineInsertStage(b2a, krmAT_END, krmStageAllocToneCurves(nullptr, 4, nullptr));
    krmWriteTag(profile, krmSig("A2B1"), a2b);
    krmWriteTag(profile, krmSig("B2A1"), b2a);
    krmPipelineFree(a2b);
    krmPipelineFree(b2a);
    const QByteArray bytes = viewertest::saveToBytes(profile);
    krmCloseProfile(profile);
    return bytes;
}

QJsonArray range(double low, double high)
{
    return QJsonArray{low, high};
}

}  // namespace

class TestGamutCli : public QObject
{
    Q_OBJECT

private slots:
    void gamut_overlap();
    void roundtrip_matchesTheView();
    void gamut_figuresOfTheRealPoints();
    void roundtrip_knownOffset();
    void exitCodes();
    void init() { tmp_.reset(new QTemporaryDir); }

private:
    std::unique_ptr<QTemporaryDir> tmp_;
};

void TestGamutCli::gamut_overlap()
{
    // A gamut against itself lies wholly inside, both ways.
    Run same = cli({"gamut", "--json", kSrgb, "--compare", kSrgb});
    QCOMPARE(same.status, 0);
    QJsonObject doc = same.json();
    QCOMPARE(doc.value("format").toInt(), 1);
    QCOMPARE(doc.value("command").toString(), QString("gamut"));
    const QJsonObject gamut = doc.value("gamut").toObject();
    QCOMPARE(gamut.value("samples").toInt(), 1728);
    QCOMPARE(gamut.value("tag").toString(), QString("matrix-shaper"));
    QVERIFY(std::fabs(gamut.value("extents").toObject().value("L").toArray().at(1).toDouble() - 100.0) < 0.001);
    QVERIFY(gamut.value("volume").toDouble() > 5e5 && gamut.value("volume").toDouble() < 1.5e6);
    QCOMPARE(percent(doc.value("compare").toObject(), "other_inside_profile"), 100.0);
    QCOMPARE(percent(doc.value("compare").toObject(), "profile_inside_other"), 100.0);

    // sRGB lies (nearly) inside Adobe RGB; much of Adobe RGB lies outside sRGB.
    Run adobe = cli({"gamut", "--json", kSrgb, "--compare", kColord + "AdobeRGB1998.icc"});
    QCOMPARE(adobe.status, 0);
    const QJsonObject compare = adobe.json().value("compare").toObject();
    QVERIFY(percent(compare, "profile_inside_other") > 99.0);
    QVERIFY(percent(compare, "other_inside_profile") < 90.0);
    QVERIFY(compare.value("other_inside_profile").toObject().value("standard_error").toDouble() < 0.5);

    // Text output names the tag and the volume; a CMYK A2B0 samples 5⁴ nodes.
    Run cmyk = cli({"gamut", "/usr/share/color/icc/ghostscript/default_cmyk.icc", "--intent", "1"});
    QCOMPARE(cmyk.status, 0);
    QVERIFY(cmyk.out.contains("Tag:      A2B1 (intent 1"));
    QVERIFY(cmyk.out.contains("Samples:  625 (5 per channel)"));
}

void TestGamutCli::roundtrip_matchesTheView()
{
    // One code path: the command's figures are the views' results summarised.
    int outputs = 0, shapers = 0;
    for (const QString& path : corpus()) {
        krmProfile profile = krmOpenProfileFromFile(QFile::encodeName(path).constData(), "r");
        QVERIFY(profile);
        const bool output = krmGetProfileClass(profile) == krmSig("prtr");
        const bool shaper = krmIsMatrixShaper(profile) && !krmIsTag(profile, krmSig("A2B0"));
        if (!output && !(shaper && krmGetProfileColorSpace(profile) == krmSig("RGB "))) {
            krmCloseProfile(profile);
            continue;
        }
        const Run run = cli({"roundtrip", "--json", "--worst", "2", path});
        const QJsonArray roundtrips = run.json().value("roundtrips").toArray();
        QVERIFY2(!roundtrips.isEmpty(), qPrintable(path));
        for (const QJsonValue& value : roundtrips) {
            const QJsonObject r = value.toObject();
            const QString tag = r.value("tag").toString();
            krmTagSignature sig = kMatrixShaperTag;
            if (tag != QLatin1String("matrix-shaper"))
                QVERIFY(parseSignature(tag, sig));
            if (!r.value("error").isNull()) {
                QVERIFY_THROWS_EXCEPTION(std::exception, compute_roundtrip(profile, sig, 0));
                continue;
            }
            const RoundtripAnalysis analysis = compute_roundtrip(profile, sig, r.value("intent").toInt());
            const RoundtripStatistics stats = roundtrip_statistics(analysis.results, 2);
            QCOMPARE(r.value("samples").toInt(), int(stats.count));
            QCOMPARE(r.value("mean").toDouble(), stats.mean);
            QCOMPARE(r.value("p95").toDouble(), stats.p95);
            QCOMPARE(r.value("max").toDouble(), stats.max);
            QCOMPARE(r.value("worst").toArray().size(), int(stats.worst.size()));
            if (sig == kMatrixShaperTag) {
                QVERIFY2(stats.mean < 0.01, qPrintable(path));
                ++shapers;
            } else {
                QCOMPARE(r.value("mode").toString(), QString(analysis.deviceRoundtrip ? "device" : "pcs"));
                ++outputs;
            }
        }
        krmCloseProfile(profile);
    }
    QVERIFY(outputs >= 6);
    QVERIFY(shapers >= 20);
}

void TestGamutCli::gamut_figuresOfTheRealPoints()
{
    // Volumes and extents describe the converted points as they are: not limited to the 16-bit
    // L*a*b* encoding, not cut to whole units. Expected figures come from closed forms (boxes) or
    // from an independent hull of the same samples (ProPhoto, ghostscript sRGB).
    const QString offset = tmp_->filePath("offset.icc");
    writeFile(offset, offsetLabProfile());
    const double nan = std::nan("");
    const struct {
        QString profile;
        QStringList options;
        int samples;
        double volume, tolerance;  // relative
        double L[2], a[2], b[2];   // NaN: not checked
    } rows[] = {
        {offset, {"--intent", "1"}, 1728, 100.0 * 255 * 255, 1e-4, {0, 100}, {-125, 130}, {-133, 122}},
        {offset, {"--intent", "1", "--grid", "3"}, 27, 100.0 * 255 * 255, 1e-4, {0, 100}, {-125, 130}, {-133, 122}},
        {kColord + "ProPhotoRGB.icc", {}, 1728, 3089860, 2e-3, {0, 100}, {-186.7, nan}, {nan, nan}},
        {"/usr/share/color/icc/ghostscript/srgb.icc", {}, 1728, nan, 0, {nan, 99.9988}, {nan, nan}, {nan, nan}},
    };
    for (const auto& row : rows) {
        const Run run = cli(QStringList{"gamut", "--json", row.profile} + row.options);
        QCOMPARE(run.status, 0);
        const QJsonObject g = run.json().value("gamut").toObject();
        QCOMPARE(g.value("samples").toInt(), row.samples);
        if (!std::isnan(row.volume))
            QVERIFY2(std::fabs(g.value("volume").toDouble() / row.volume - 1) < row.tolerance, qPrintable(row.profile));
        const QJsonObject extents = g.value("extents").toObject();
        for (const auto& [axis, want] : {std::pair{"L", row.L}, std::pair{"a", row.a}, std::pair{"b", row.b}})
            for (int k = 0; k < 2; ++k)
                if (!std::isnan(want[k]))
                    QVERIFY2(std::fabs(extents.value(axis).toArray().at(k).toDouble() - want[k]) < 0.01,
                             qPrintable(row.profile + ' ' + axis));

        // Every field is the shared code's figure, in its place.
        CliIO io;
        EngineSession session(io);
        const std::unique_ptr<LoadedProfile> loaded = loadProfile(session, row.profile);
        QVERIFY(loaded);
        krmTagSignature tag = kMatrixShaperTag;
        if (g.value("tag").toString() != QLatin1String("matrix-shaper"))
            QVERIFY(parseSignature(g.value("tag").toString(), tag));
        const int grid = row.options.contains("--grid") ? row.options.last().toInt() : 0;
        const std::unique_ptr<GamutHull> gamut = compute_gamut_hull(loaded->profile, tag, grid);
        QVERIFY(gamut);
        QCOMPARE(g.value("intent").toInt(), int(intent_of_tag(tag)));
        QCOMPARE(g.value("grid_points").toInt(), gamut->gridPoints);
        QCOMPARE(g.value("vertices").toInt(), int(gamut->measured->vertices().size()));
        QCOMPARE(g.value("faces").toInt(), int(gamut->measured->triangles().size() / 3));
        QCOMPARE(g.value("volume").toDouble(), gamut->volume);
        QCOMPARE(extents.value("L").toArray(), range(gamut->min[0], gamut->max[0]));
        QCOMPARE(extents.value("a").toArray(), range(gamut->min[1], gamut->max[1]));
        QCOMPARE(extents.value("b").toArray(), range(gamut->min[2], gamut->max[2]));
    }
    // The text rounds the same figures.
    const Run text = cli({"gamut", "--intent", "1", offset});
    QVERIFY2(text.out.contains("L*:       0.00 .. 100.00\n"
                               "a*:       -125.00 .. 130.00\n"
                               "b*:       -133.00 .. 122.00\n"),
             text.out.constData());
}

void TestGamutCli::roundtrip_knownOffset()
{
    // Every roundtrip sample comes back moved by exactly kOffset; its ΔE00 is CIEDE2000 of the
    // two colours (the engine's CIEDE2000 is pinned to Sharma, Wu and Dalal's pairs).
    const QString path = tmp_->filePath("offset.icc");
    writeFile(path, offsetLabProfile());
    const Run run = cli({"roundtrip", "--json", "--worst", "3", path});
    QVERIFY2(run.status == 0, run.err.constData());
    const QJsonArray roundtrips = run.json().value("roundtrips").toArray();
    QCOMPARE(roundtrips.size(), 2);
    krmProfile profile = krmOpenProfileFromFile(QFile::encodeName(path).constData(), "r");
    for (const QJsonValue& value : roundtrips) {
        const QJsonObject r = value.toObject();
        krmTagSignature tag = 0;
        QVERIFY(parseSignature(r.value("tag").toString(), tag));
        const RoundtripAnalysis analysis = compute_roundtrip(profile, tag);
        int interior = 0;
        for (const RoundtripResult& result : analysis.results) {
            bool inside = true;
            for (int k = 1; k < 3; ++k)
                inside = inside && result.source[k] + kOffset[k] > -127 && result.source[k] + kOffset[k] < 126;
            if (!inside)
                continue;
            ++interior;
            const krmCIELab s = {result.source[0], result.source[1], result.source[2]};
            const krmCIELab t = {s.L + kOffset[0], s.a + kOffset[1], s.b + kOffset[2]};
            for (int k = 0; k < 3; ++k)
                QVERIFY(std::fabs(result.roundtrip[k] - result.source[k] - kOffset[k]) < 0.02);
            QVERIFY(std::fabs(result.de00 - krmCIEDE2000(&s, &t, 1, 1, 1)) < 0.01);
        }
        QVERIFY(interior > 300);

        // The command's figures are the shared code's, field by field.
        const RoundtripStatistics stats = roundtrip_statistics(analysis.results, 3);
        QCOMPARE(r.value("mode").toString(), QString(analysis.deviceRoundtrip ? "device" : "pcs"));
        QCOMPARE(r.value("samples").toInt(), int(stats.count));
        QCOMPARE(r.value("grid_points").toInt(), analysis.gridPoints);
        QCOMPARE(r.value("mean").toDouble(), stats.mean);
        QCOMPARE(r.value("p95").toDouble(), stats.p95);
        QCOMPARE(r.value("max").toDouble(), stats.max);
        const QJsonArray worst = r.value("worst").toArray();
        QCOMPARE(worst.size(), 3);
        for (int i = 0; i < 3; ++i) {
            const RoundtripResult& w = analysis.results[stats.worst[std::size_t(i)]];
            const QJsonObject o = worst.at(i).toObject();
            QCOMPARE(o.value("source").toArray(), (QJsonArray{w.source[0], w.source[1], w.source[2]}));
            QCOMPARE(o.value("roundtrip").toArray(), (QJsonArray{w.roundtrip[0], w.roundtrip[1], w.roundtrip[2]}));
            QCOMPARE(o.value("de00").toDouble(), w.de00);
        }
    }
    krmCloseProfile(profile);

    // Tags sharing one table give one answer, through the profile's own PCS encoding (a version 4
    // Lab end on a version 2 table scaled the perceptual black one way only). The figures of an
    // independent computation are 1.88 / 6.49 / 9.77.
    const Run cmyk = cli({"roundtrip", "--json", "/usr/share/color/icc/ghostscript/default_cmyk.icc"});
    QCOMPARE(cmyk.status, 0);
    const QJsonArray all = cmyk.json().value("roundtrips").toArray();
    QCOMPARE(all.size(), 6);
    for (int i = 0; i < 6; ++i) {
        const QJsonObject r = all.at(i).toObject(), first = all.at(i % 2).toObject();
        for (const char* key : {"samples", "mean", "p95", "max"})
            QCOMPARE(r.value(key).toDouble(), first.value(key).toDouble());
    }
    const QJsonObject device = all.at(0).toObject();
    QVERIFY(std::fabs(device.value("mean").toDouble() - 1.88) < 0.05);
    QVERIFY(std::fabs(device.value("p95").toDouble() - 6.49) < 0.1);
    QVERIFY(std::fabs(device.value("max").toDouble() - 9.77) < 0.2);

    // A gray profile: the device figures, and why there is no hull or PCS roundtrip.
    const Run gray = cli({"roundtrip", "--json", "/usr/share/color/icc/ghostscript/default_gray.icc"});
    QCOMPARE(gray.status, 0);
    const QJsonObject g = gray.json().value("roundtrips").toArray().at(0).toObject();
    QCOMPARE(g.value("samples").toInt(), 12);
    QVERIFY(g.value("max").toDouble() < 0.01);
    QVERIFY(g.value("no_hull").toString().contains("gray profile"));
    QVERIFY(cli({"roundtrip", "/usr/share/color/icc/ghostscript/default_gray.icc"}).out.contains("PCS roundtrip skipped: a gray"));
}

void TestGamutCli::exitCodes()
{
    const QString mismatched = tmp_->filePath("mismatched.icc");
    writeFile(mismatched, mismatchedPairProfile());
    const struct {
        QStringList args;
        int status;
        const char* message;
    } table[] = {
        {{"gamut"}, 2, "gamut needs a PROFILE"},
        {{"gamut", kSrgb, "--intent", "3"}, 2, "--intent takes"},
        {{"gamut", kSrgb, "--tag", "desc"}, 2, "--tag takes"},
        {{"gamut", kSrgb, "--tag", "A2B0"}, 1, "has no 'A2B0' tag"},
        {{"gamut", "/nonexistent.icc"}, 1, ""},
        {{"gamut", "/usr/share/color/icc/ghostscript/default_gray.icc"}, 1, "hull computation failed"},
        {{"roundtrip", kSrgb, "--worst", "x"}, 2, "--worst takes"},
        {{"roundtrip", kColord + "Crayons.icc"}, 1, "no A2B and B2A pair"},
        {{"roundtrip", mismatched}, 1, "Could not create the selected BToA transform"},
    };
    for (const auto& row : table) {
        const Run text = cli(row.args);
        QCOMPARE(text.status, row.status);
        QVERIFY2(text.err.contains(row.message), text.err.constData());
        // With --json the document is there whatever happens, its error filled in.
        const Run json = cli(QStringList(row.args) << "--json");
        QCOMPARE(json.status, row.status);
        QVERIFY(!json.json().value("error").isNull());
    }
}

QTEST_GUILESS_MAIN(TestGamutCli)
#include "tst_gamutcli.moc"
