// The conformance tests: each rule on an engine-written profile made for it, the registry's
// order, the capture of engine errors and cancelling between tests.

#include "tests/common/audit/AuditTestSupport.h"

#include "common/audit/AuditTestBase.h"
#include "common/signatures/Signatures.h"

#include <QtTest>

#include <algorithm>

using namespace audittest;

namespace {

const QString kCorpus = QStringLiteral("/usr/share/color/icc/");

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The engine's sRGB (version 4 display matrix-shaper) with an extra tag written by `extra`.
QByteArray srgbBytes(void (*extra)(krmProfile) = nullptr)
{
    krmProfile p = krmCreate_sRGBProfile(nullptr);
    if (extra)
        extra(p);
    const QByteArray bytes = saveToBytes(p);
    krmCloseProfile(p);
    return bytes;
}

// A progress that answers Cancel from its n-th update on (0 never), recording what it showed.
class ScriptedProgress : public AuditProgress {
public:
    explicit ScriptedProgress(int cancelAt) : cancelAt_(cancelAt) {}
    bool set_progress(const QString& text, int percent) override
    {
        shown << QStringLiteral("%1|%2").arg(text).arg(percent);
        return cancelAt_ > 0 && shown.size() >= cancelAt_;
    }
    QStringList shown;

private:
    int cancelAt_;
};

}  // namespace

class TestAuditTests : public QObject
{
    Q_OBJECT

private slots:
    void registry_runsTheFourTestsInOrder()
    {
        QStringList names;
        for (AuditTestBase* t : auditTestRegistry())
            names << QStringLiteral("QA%1 %2").arg(t->qaNumber()).arg(t->testName());
        QCOMPARE(names, QStringList({"QA120 ICC header", "QA110 Intent channels and linking", "QA100 Required tags",
                                     "QA101 Tags integrity"}));
    }

    void engineWrittenSrgb_hasNoFinding()
    {
        ProfileFiles files;
        const AuditRun run = check(files.write("srgb.icc", srgbBytes()));
        QVERIFY(run.opened);
        QCOMPARE(titles(run.findings), QStringList());
    }

    void header_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<quint32>("value");
        QTest::addColumn<QStringList>("expected");
        const QString cmmSig = signatureText(cmmDictionary()[0].signature);
        QTest::newRow("registered CMM") << 4 << quint32(cmmDictionary()[0].signature) << QStringList();
        QTest::newRow("unregistered CMM") << 4 << krmSig("zq9x") << QStringList{"Unregistered CMM signature [zq9x]"};
        QTest::newRow("unregistered manufacturer")
            << 48 << krmSig("zq9x") << QStringList{"Unregistered manufacturer signature [zq9x]"};
        QTest::newRow("flags 3") << 44 << quint32(3) << QStringList();
        QTest::newRow("flags 0x00010000") << 44 << quint32(0x00010000) << QStringList{"Reserved profile flags are set [Header flags]"};
        QTest::newRow("attribute bit 32") << 56 << quint32(1) << QStringList();
        QTest::newRow("attribute bit 3") << 60 << quint32(8) << QStringList();
        QTest::newRow("attribute bit 4")
            << 60 << quint32(0x10) << QStringList{"Reserved device attribute bits are set [Device attributes]"};
        QTest::newRow("intent 3") << 64 << quint32(3) << QStringList();
        QTest::newRow("intent 4") << 64 << quint32(4) << QStringList{"Invalid header rendering intent [Rendering intent]"};
        QTest::newRow("illuminant X one unit off")
            << 68 << quint32(0x0000F6D5) << QStringList{"Incorrect PCS illuminant [PCS illuminant]"};
        QTest::newRow("illuminant Z one unit off")
            << 76 << quint32(0x0000D32E) << QStringList{"Incorrect PCS illuminant [PCS illuminant]"};
        QTest::newRow("unregistered creator") << 80 << krmSig("zq9x") << QStringList{"Unregistered creator signature [zq9x]"};
        QTest::newRow("last reserved byte") << 124 << quint32(1) << QStringList{"Reserved header bytes are not zero [Reserved header]"};
        QTest::newRow("first reserved byte")
            << 100 << quint32(0x01000000) << QStringList{"Reserved header bytes are not zero [Reserved header]"};
    }

    void header()
    {
        QFETCH(int, offset);
        QFETCH(quint32, value);
        QFETCH(QStringList, expected);
        QByteArray bytes = srgbBytes();
        patch32(bytes, offset, value);
        ProfileFiles files;
        const AuditRun run = check(files.write("patched.icc", bytes));
        QCOMPARE(titles(run.findings, 120), expected);
        QCOMPARE(titles(run.findings).size(), expected.size());
    }

    void requiredTags_cmykPrinterWithTwoLuts()
    {
        ProfileFiles files;
        const LutSpec luts[] = {{krmSig("A2B0"), 4, 3}, {krmSig("B2A0"), 3, 4}};
        const QString complete = files.write(
            "cmyk.icc", lutProfile(krmSig("prtr"), krmSig("CMYK"), 2.1, {luts[0], luts[1]}));
        const QStringList missing = {"Required tag is missing [A2B1]", "Required tag is missing [A2B2]",
                                     "Required tag is missing [B2A1]", "Required tag is missing [B2A2]",
                                     "Required tag is missing [gamt]"};
        const AuditRun run = check(complete);
        QCOMPARE(titles(run.findings), missing);
        QCOMPARE(run.findings[0].message, QStringLiteral("The profile does not contain the required AToB1 Proof Rel.Col. tag."));

        // Without text and white point those come first, in that order.
        const QString bare = files.write(
            "bare.icc", lutProfile(krmSig("prtr"), krmSig("CMYK"), 2.1, {luts[0], luts[1]}, false));
        QCOMPARE(titles(check(bare).findings, 100),
                 QStringList({"Required tag is missing [desc]", "Required tag is missing [cprt]",
                              "Required tag is missing [wtpt]"}) + missing);
    }

    void requiredTags_byClass_data()
    {
        QTest::addColumn<quint32>("deviceClass");
        QTest::addColumn<quint32>("space");
        QTest::addColumn<QStringList>("missing");
        QTest::newRow("scnr RGB LUT") << krmSig("scnr") << krmSig("RGB ") << QStringList{"A2B0"};
        QTest::newRow("mntr RGB LUT") << krmSig("mntr") << krmSig("RGB ") << QStringList{"A2B0", "B2A0"};
        QTest::newRow("mntr gray") << krmSig("mntr") << krmSig("GRAY") << QStringList{"kTRC"};
        QTest::newRow("prtr gray") << krmSig("prtr") << krmSig("GRAY") << QStringList{"kTRC"};
        QTest::newRow("prtr 6CLR") << krmSig("prtr") << krmSig("6CLR")
                                   << QStringList{"A2B0", "A2B1", "A2B2", "B2A0", "B2A1", "B2A2", "gamt", "clrt"};
        QTest::newRow("prtr MCH1") << krmSig("prtr") << krmSig("MCH1")
                                   << QStringList{"A2B0", "A2B1", "A2B2", "B2A0", "B2A1", "B2A2", "gamt", "clrt"};
        QTest::newRow("prtr 1CLR") << krmSig("prtr") << krmSig("1CLR")
                                   << QStringList{"A2B0", "A2B1", "A2B2", "B2A0", "B2A1", "B2A2", "gamt"};
        QTest::newRow("link 5CLR") << krmSig("link") << krmSig("5CLR") << QStringList{"pseq", "A2B0", "clrt"};
        QTest::newRow("abst") << krmSig("abst") << krmSig("Lab ") << QStringList{"A2B0"};
        QTest::newRow("spac") << krmSig("spac") << krmSig("Lab ") << QStringList{"A2B0", "B2A0"};
        QTest::newRow("nmcl") << krmSig("nmcl") << krmSig("RGB ") << QStringList{"ncl2"};
        QTest::newRow("other class") << krmSig("zzzz") << krmSig("RGB ") << QStringList();
    }

    void requiredTags_byClass()
    {
        QFETCH(quint32, deviceClass);
        QFETCH(quint32, space);
        QFETCH(QStringList, missing);
        ProfileFiles files;
        const AuditRun run = check(files.write("class.icc", lutProfile(deviceClass, space, 2.1, {})));
        QStringList expected;
        for (const QString& sig : missing)
            expected << QStringLiteral("Required tag is missing [%1]").arg(sig);
        // An unknown class also draws the engine's warning when the file is opened.
        QCOMPARE(titles(run.findings, 100).filter(QStringLiteral("Required tag is missing")), expected);
    }

    void requiredTags_publicTagNotApplicable()
    {
        ProfileFiles files;
        // An RGB display matrix-shaper with a gray curve.
        const QString rgb = files.write("rgb-ktrc.icc", srgbBytes([](krmProfile p) {
            krmToneCurve* gamma = krmBuildGamma(nullptr, 2.2);
            krmWriteTag(p, krmSig("kTRC"), gamma);
            krmFreeToneCurve(gamma);
        }));
        const AuditRun rgbRun = check(rgb);
        QCOMPARE(titles(rgbRun.findings), QStringList{"Public tag is not applicable [kTRC]"});
        QCOMPARE(rgbRun.findings[0].message,
                 QStringLiteral("The profile contains the public Gray TRC tag, whose use is not defined for this profile class."));

        // A gray printer with a gamut tag.
        krmProfile gray = lutProfile(krmSig("prtr"), krmSig("GRAY"), 2.1, {{krmSig("gamt"), 3, 1}});
        krmToneCurve* gamma = krmBuildGamma(nullptr, 2.2);
        krmWriteTag(gray, krmSig("kTRC"), gamma);
        krmFreeToneCurve(gamma);
        QCOMPARE(titles(check(files.write("gray-gamt.icc", gray)).findings), QStringList{"Public tag is not applicable [gamt]"});

        // An abstract profile may hold only 'A2B0'; 'D2B0' is never examined.
        const QString abst = files.write("abst.icc", lutProfile(krmSig("abst"), krmSig("Lab "), 2.1,
                                                                 {{krmSig("A2B0"), 3, 3}, {krmSig("B2A0"), 3, 3}}));
        QCOMPARE(titles(check(abst).findings, 100), QStringList{"Public tag is not applicable [B2A0]"});
    }

    void intentLinks_data()
    {
        QTest::addColumn<double>("version");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("v4 A2B0 -> A2B1") << 4.3 << "A2B1" << QStringList{"Invalid rendering intent link [A2B0]"};
        QTest::newRow("v4 A2B0 -> A2B2") << 4.3 << "A2B2" << QStringList();
        QTest::newRow("v2 A2B0 -> A2B1") << 2.1 << "A2B1" << QStringList();
    }

    void intentLinks()
    {
        QFETCH(double, version);
        QFETCH(QString, target);
        QFETCH(QStringList, expected);
        const krmTagSignature targetSig = krmSig(target == QLatin1String("A2B1") ? "A2B1" : "A2B2");
        // The target comes first in the directory, so that the shared entry reads back as a link.
        krmProfile p = lutProfile(krmSig("prtr"), krmSig("CMYK"), version,
                                  {{targetSig, 4, 3}, {krmSig("B2A0"), 3, 4}});
        QVERIFY(krmLinkTag(p, krmSig("A2B0"), targetSig));
        ProfileFiles files;
        const AuditRun run = check(files.write("linked.icc", p));
        QStringList links;
        for (const AuditFinding& f : run.findings)
            if (f.title == QLatin1String("Invalid rendering intent link")) {
                links << QStringLiteral("%1 [%2]").arg(f.title, f.related);
                QVERIFY(f.message.startsWith(QStringLiteral("AToB0 is linked to AToB1. In ICC v4 profiles")));
                QCOMPARE(f.severity, int(AuditError));
            }
        QCOMPARE(links, expected);
    }

    void channelCounts_cmykB2A0WithThreeOutputs()
    {
        ProfileFiles files;
        const AuditRun run = check(files.write(
            "b2a0-3x3.icc", lutProfile(krmSig("prtr"), krmSig("CMYK"), 2.1, {{krmSig("A2B0"), 4, 3}, {krmSig("B2A0"), 3, 3}})));
        QCOMPARE(titles(run.findings, 110), QStringList{"Invalid pipeline channel count [B2A0]"});
        const AuditFinding f = *std::find_if(run.findings.begin(), run.findings.end(),
                                             [](const AuditFinding& f) { return f.qaNumber == 110; });
        QCOMPARE(f.message, QStringLiteral("BToA0 has 3 input chans and 3 output chans, but 3 input chans and 4 output chans "
                                           "are required by CMYK color space."));
    }

    void blackPoint_onlyForVersion4()
    {
        // Ghostscript's CMYK profile (version 4) brings black back below L* 0 in both round trips;
        // the same bytes marked version 2 get neither finding.
        const QByteArray v4 = fileBytes(kCorpus + "ghostscript/ps_cmyk.icc");
        QVERIFY(!v4.isEmpty());
        QByteArray v2 = v4;
        patch32(v2, 8, 0x02100000);
        ProfileFiles files;
        const QList<AuditFinding> v4Findings = check(files.write("v4.icc", v4)).findings;
        QCOMPARE(titles(v4Findings, 110), QStringList({"Inconsistent black point scaling [Perceptual V4 PCS]",
                                                       "Inconsistent black point scaling [Saturation V4 PCS]"}));
        const AuditFinding saturation = *std::find_if(v4Findings.begin(), v4Findings.end(), [](const AuditFinding& f) {
            return f.related == QLatin1String("Saturation V4 PCS");
        });
        QCOMPARE(saturation.message, QStringLiteral("Saturation round trip from PCS indicates inconsistent black point scaling."));
        QCOMPARE(saturation.severity, int(AuditWarning));
        QCOMPARE(titles(check(files.write("v2.icc", v2)).findings, 110), QStringList());
    }

    void integrity_readsAndWritesPublicTagsOnly()
    {
        const SignatureEntry* privateTag = nullptr;
        for (const SignatureEntry& e : tagDictionary())
            if (e.isPrivate && !privateTag)
                privateTag = &e;
        QVERIFY(privateTag);
        // Text under a private signature, under 'lumi' (which only takes XYZ) and under a
        // signature nobody registered.
        QByteArray bytes = srgbBytes([](krmProfile p) {
            writeText(p, krmSig("targ"), "first");
            writeText(p, krmSig("scrd"), "second");
            writeText(p, krmSig("vued"), "third");
        });
        QVERIFY(renameTag(bytes, krmSig("targ"), privateTag->signature));
        QVERIFY(renameTag(bytes, krmSig("scrd"), krmSig("lumi")));
        QVERIFY(renameTag(bytes, krmSig("vued"), krmSig("zq9x")));
        ProfileFiles files;
        const AuditRun run = check(files.write("tags.icc", bytes));
        // The unknown signature is reported by the engine, so not again as unreadable.
        QCOMPARE(titles(run.findings), QStringList({"Tag cannot be read [lumi]", "Issue found [Tags integrity]"}));
        QCOMPARE(run.findings[0].message, QStringLiteral("Corvane could not read this tag."));
        QCOMPARE(run.findings[1].severity, int(AuditWarning));
        QVERIFY(run.findings[1].message.contains(QStringLiteral("zq9x")));
    }

    void engineErrors_becomeFindingsOfTheTestThatRaisedThem()
    {
        const AuditRun run = check(QStringLiteral("/nonexistent/folder/profile.icc"));
        QVERIFY(!run.opened);
        QCOMPARE(run.findings.size(), 4);
        QStringList related;
        for (const AuditFinding& f : run.findings) {
            QCOMPARE(f.severity, int(AuditFatal));
            QCOMPARE(f.title, QStringLiteral("Issue found"));
            QVERIFY(!f.message.isEmpty());
            related << f.related;
        }
        QCOMPARE(related, QStringList({"ICC header", "Intent channels and linking", "Required tags", "Tags integrity"}));

        // colord's named-colour profiles store a 'B2A0' that strict reading refuses.
        for (const char* name : {"colord/Crayons.icc", "colord/x11-colors.icc"}) {
            const AuditRun named = check(kCorpus + name);
            QVERIFY(named.opened);
            QVERIFY2(titles(named.findings, 101).contains(QStringLiteral("Issue found [Tags integrity]")), name);
            QVERIFY(std::any_of(named.findings.begin(), named.findings.end(),
                                [](const AuditFinding& f) { return f.message.contains(QStringLiteral("'B2A0'")); }));
        }
    }

    void progress_textsAndCancelBetweenTests()
    {
        QByteArray bytes = srgbBytes();
        patch32(bytes, 64, 4);  // one header finding
        ProfileFiles files;
        const QString path = files.write("intent.icc", bytes);

        ScriptedProgress complete(0);
        const AuditRun full = runAuditTests(QFile::encodeName(path), &complete);
        QCOMPARE(complete.shown, QStringList({"Checking ICC profile (1 of 4)\nQA120: ICC header|0",
                                              "Checking ICC profile (2 of 4)\nQA110: Intent channels and linking|25",
                                              "Checking ICC profile (3 of 4)\nQA100: Required tags|50",
                                              "Checking ICC profile (4 of 4)\nQA101: Tags integrity|75",
                                              "Profile check complete|100"}));
        QVERIFY(!full.cancelled);

        // Cancel pressed while the second test runs is seen before the third starts.
        ScriptedProgress cancelling(3);
        const AuditRun cut = runAuditTests(QFile::encodeName(path), &cancelling);
        QVERIFY(cut.cancelled);
        QCOMPARE(cancelling.shown.size(), 3);
        QCOMPARE(cut.findings.size(), 2);
        QCOMPARE(cut.findings[0].title, QStringLiteral("Invalid header rendering intent"));
        QCOMPARE(cut.findings[1], (AuditFinding{0, AuditInformation, "Profile check cancelled",
                                                "The report is incomplete. Only completed checks are included.", QString()}));
    }

    void header_unregisteredSignatureIsQuotedByItsCharacters()
    {
        QByteArray bytes = srgbBytes();
        patch32(bytes, 4, krmSig("zq9x"));
        ProfileFiles files;
        const AuditRun run = check(files.write("cmm.icc", bytes));
        QCOMPARE(run.findings.size(), 1);
        const AuditFinding& f = run.findings[0];
        QCOMPARE(f.qaNumber, 120);
        QCOMPARE(f.severity, int(AuditWarning));
        QCOMPARE(f.message, QStringLiteral("The profile header contains a CMM signature 'zq9x' that is not registered by the ICC."));
    }
};

QTEST_GUILESS_MAIN(TestAuditTests)
#include "tst_audittests.moc"
