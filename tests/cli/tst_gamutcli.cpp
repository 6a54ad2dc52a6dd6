// prismet-cli gamut and roundtrip: the overlap figures, the roundtrip statistics against the
// views' own computation for the whole corpus, and the exit codes.

#include "CliTestSupport.h"
#include "common/analysis/GamutAnalysis.h"

#include <QJsonArray>

namespace {

const QString kColord = QStringLiteral("/usr/share/color/icc/colord/");
const QString kSrgb = kColord + QStringLiteral("sRGB.icc");

double percent(const QJsonObject& compare, const char* key)
{
    return compare.value(QLatin1String(key)).toObject().value("percent").toDouble();
}

}  // namespace

class TestGamutCli : public QObject
{
    Q_OBJECT

private slots:
    void gamut_overlap();
    void roundtrip_matchesTheView();
    void exitCodes();
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
    QCOMPARE(gamut.value("extents").toObject().value("L").toArray().at(1).toDouble(), 100.0);
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

void TestGamutCli::exitCodes()
{
    const struct {
        QStringList args;
        int status;
        const char* message;
    } table[] = {
        {{"gamut"}, 2, "gamut needs a PROFILE"},
        {{"gamut", kSrgb, "--intent", "3"}, 2, "--intent takes"},
        {{"gamut", kSrgb, "--tag", "desc"}, 2, "--tag takes"},
        {{"gamut", kSrgb, "--tag", "A2B0"}, 1, "has no tag 'A2B0'"},
        {{"gamut", "/nonexistent.icc"}, 1, ""},
        {{"gamut", "/usr/share/color/icc/ghostscript/default_gray.icc"}, 1, "hull computation failed"},
        {{"roundtrip", kSrgb, "--worst", "x"}, 2, "--worst takes"},
        {{"roundtrip", kColord + "Crayons.icc"}, 1, "no A2B and B2A pair"},
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
