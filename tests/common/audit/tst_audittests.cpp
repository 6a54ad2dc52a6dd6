// The conformance tests: each rule on an engine-written profile made for it, the registry's
// order, the capture of engine errors and cancelling between tests.

#include "tests/common/audit/AuditTestSupport.h"

#include "common/audit/AuditTestBase.h"
#include "common/signatures/Signatures.h"

#include <QtTest>

#include <algorithm>
#include <functional>
#include <vector>

using namespace audittest;

namespace {

const QString kCorpus = QStringLiteral("/usr/share/color/icc/");

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

// The bytes of `p`, which is closed.
QByteArray bytesOf(krmProfile p)
{
    const QByteArray bytes = saveToBytes(p);
    krmCloseProfile(p);
    return bytes;
}

QByteArray patched(QByteArray bytes, int offset, quint32 value)
{
    patch32(bytes, offset, value);
    return bytes;
}

// A CMYK printer of `version` with intent-0 tables; `more` adds tags before it is written.
QByteArray cmykPrinter(double version, std::initializer_list<LutSpec> luts, void (*more)(krmProfile) = nullptr)
{
    krmProfile p = lutProfile(krmSig("prtr"), krmSig("CMYK"), version, luts);
    if (more)
        more(p);
    return bytesOf(p);
}

void writeMatrix(krmProfile p, const krmMAT3& m)
{
    krmFloat64Number values[9];
    for (int i = 0; i < 9; ++i)
        values[i] = m.v[i / 3].n[i % 3];
    krmWriteTag(p, krmSig("chad"), values);
}

// The D65 to D50 Bradford matrix written as 'chad' and `white` as 'wtpt', on the engine's sRGB
// marked version 2.
QByteArray srgbWithAdaptation(double scale, const krmCIEXYZ& white, double version)
{
    krmProfile p = krmCreate_sRGBProfile(nullptr);
    krmSetProfileVersion(p, version);
    krmCIEXYZ d65 = {0.95047, 1.0, 1.08883};
    krmMAT3 m;
    krmAdaptationMatrix(&m, nullptr, &d65, krmD50_XYZ());
    for (auto& row : m.v)
        for (double& x : row.n)
            x *= scale;
    writeMatrix(p, m);
    krmWriteTag(p, krmSig("wtpt"), &white);
    return bytesOf(p);
}

// A signature the CMM list has and the manufacturer list lacks.
quint32 cmmOnlySignature()
{
    for (const SignatureEntry& e : cmmDictionary())
        if (!isRegisteredManufacturer(e.signature))
            return e.signature;
    return 0;
}

struct RuleRow {
    const char* name;
    std::function<QByteArray()> make;
    QStringList expected;  // codes(): "<code> <Severity> [<related>]"
};

const krmCIEXYZ kD65 = {0.95047, 1.0, 1.08883};

const std::vector<RuleRow>& ruleRows()
{
    static const std::vector<RuleRow> rows = {
        {"clean v4 sRGB", [] { return srgbBytes(); }, {}},
        // Header.
        {"unlisted CMM", [] { return patched(srgbBytes(), 4, krmSig("zq9x")); }, {"HDR-CMM-UNLISTED Information [zq9x]"}},
        {"unlisted manufacturer", [] { return patched(srgbBytes(), 48, krmSig("zq9x")); },
         {"HDR-MANUFACTURER-UNLISTED Information [zq9x]"}},
        {"creator from the CMM list", [] { return patched(srgbBytes(), 80, cmmOnlySignature()); }, {}},
        {"unlisted creator", [] { return patched(srgbBytes(), 80, krmSig("zq9x")); }, {"HDR-CREATOR-UNLISTED Information [zq9x]"}},
        {"flags 3", [] { return patched(srgbBytes(), 44, 3); }, {}},
        {"flags bit 16", [] { return patched(srgbBytes(), 44, 0x00010000); }, {"HDR-FLAGS Warning [Header flags]"}},
        {"attribute bit 32", [] { return patched(srgbBytes(), 56, 1); }, {}},
        {"attribute bit 4", [] { return patched(srgbBytes(), 60, 0x10); }, {"HDR-ATTRIBUTES Warning [Device attributes]"}},
        {"intent 3", [] { return patched(srgbBytes(), 64, 3); }, {}},
        {"intent 4", [] { return patched(srgbBytes(), 64, 4); }, {"HDR-INTENT Warning [Rendering intent]"}},
        {"illuminant Z one unit off", [] { return patched(srgbBytes(), 76, 0x0000D32E); },
         {"HDR-ILLUMINANT Warning [PCS illuminant]"}},
        {"last reserved byte", [] { return patched(srgbBytes(), 124, 1); }, {"HDR-RESERVED Warning [Reserved header]"}},
        {"profile ID of the bytes",
         [] {
             QByteArray b = srgbBytes();
             b.replace(84, 16, computeProfileId(b));
             return b;
         },
         {}},
        {"profile ID, then a byte changed",
         [] {
             QByteArray b = srgbBytes();
             b.replace(84, 16, computeProfileId(b));
             b[b.size() - 1] = char(b[b.size() - 1] ^ 1);
             return b;
         },
         {"HDR-ID-MISMATCH Error [Profile ID]"}},
        // Required and applicable tags.
        {"CMYK printer with the intent-0 tables only",
         [] { return cmykPrinter(2.4, {{krmSig("A2B0"), 4, 3}, {krmSig("B2A0"), 3, 4}}); },
         {"TAG-MISSING-INTENT Information [A2B1]", "TAG-MISSING-INTENT Information [A2B2]",
          "TAG-MISSING-INTENT Information [B2A1]", "TAG-MISSING-INTENT Information [B2A2]",
          "TAG-MISSING-GAMUT Information [gamt]"}},
        {"CMYK printer without A2B0",
         [] { return cmykPrinter(2.4, {{krmSig("A2B1"), 4, 3}, {krmSig("B2A0"), 3, 4}}); },
         {"TAG-MISSING Error [A2B0]", "TAG-MISSING Error [A2B2]", "TAG-MISSING-INTENT Information [B2A1]",
          "TAG-MISSING-INTENT Information [B2A2]", "TAG-MISSING-GAMUT Information [gamt]"}},
        {"sRGB with a gray curve",
         [] {
             return srgbBytes([](krmProfile p) {
                 krmToneCurve* gamma = krmBuildGamma(nullptr, 2.2);
                 krmWriteTag(p, krmSig("kTRC"), gamma);
                 krmFreeToneCurve(gamma);
             });
         },
         {"TAG-NOT-APPLICABLE Warning [kTRC]"}},
        // The version edges: intent links are a version 4 rule, from 4.0 on.
        {"A2B0 linked to A2B1, version 2.4",
         [] { return cmykPrinter(2.4, {{krmSig("A2B1"), 4, 3}, {krmSig("B2A0"), 3, 4}},
                                 [](krmProfile p) { krmLinkTag(p, krmSig("A2B0"), krmSig("A2B1")); }); },
         {"TAG-MISSING-INTENT Information [A2B2]", "TAG-MISSING-INTENT Information [B2A1]",
          "TAG-MISSING-INTENT Information [B2A2]", "TAG-MISSING-GAMUT Information [gamt]"}},
        {"A2B0 linked to A2B1, version 4.0",
         [] { return cmykPrinter(4.0, {{krmSig("A2B1"), 4, 3}, {krmSig("B2A0"), 3, 4}},
                                 [](krmProfile p) { krmLinkTag(p, krmSig("A2B0"), krmSig("A2B1")); }); },
         {"LUT-LINK Error [A2B0]", "TAG-MISSING-INTENT Information [A2B2]", "TAG-MISSING-INTENT Information [B2A1]",
          "TAG-MISSING-INTENT Information [B2A2]", "TAG-MISSING-GAMUT Information [gamt]"}},
        {"A2B0 linked to A2B1, version 4.4",
         [] { return cmykPrinter(4.4, {{krmSig("A2B1"), 4, 3}, {krmSig("B2A0"), 3, 4}},
                                 [](krmProfile p) { krmLinkTag(p, krmSig("A2B0"), krmSig("A2B1")); }); },
         {"LUT-LINK Error [A2B0]", "TAG-MISSING-INTENT Information [A2B2]", "TAG-MISSING-INTENT Information [B2A1]",
          "TAG-MISSING-INTENT Information [B2A2]", "TAG-MISSING-GAMUT Information [gamt]"}},
        {"CMYK B2A0 with three outputs",
         [] { return cmykPrinter(2.4, {{krmSig("A2B0"), 4, 3}, {krmSig("B2A0"), 3, 3}}); },
         {"LUT-CHANNELS Error [B2A0]", "TAG-MISSING-INTENT Information [A2B1]", "TAG-MISSING-INTENT Information [A2B2]",
          "TAG-MISSING-INTENT Information [B2A1]", "TAG-MISSING-INTENT Information [B2A2]",
          "TAG-MISSING-GAMUT Information [gamt]"}},
        // A perceptual table reaching L* 0 ignores the version 4 reference medium black; the
        // saturation round trip is the same one unless the profile has saturation tables.
        {"perceptual black at L* 0, version 4.0",
         [] { return cmykPrinter(4.0, {{krmSig("A2B0"), 4, 3, 0}, {krmSig("B2A0"), 3, 4}}); },
         {"BLACK-POINT Warning [Perceptual V4 PCS]", "TAG-MISSING-INTENT Information [A2B1]",
          "TAG-MISSING-INTENT Information [A2B2]", "TAG-MISSING-INTENT Information [B2A1]",
          "TAG-MISSING-INTENT Information [B2A2]", "TAG-MISSING-GAMUT Information [gamt]"}},
        {"perceptual and saturation black at L* 0, version 4.4",
         [] {
             return cmykPrinter(4.4, {{krmSig("A2B0"), 4, 3, 0}, {krmSig("B2A0"), 3, 4}, {krmSig("A2B2"), 4, 3, 0},
                                      {krmSig("B2A2"), 3, 4}});
         },
         {"BLACK-POINT Warning [Perceptual V4 PCS]", "BLACK-POINT Warning [Saturation V4 PCS]",
          "TAG-MISSING-INTENT Information [A2B1]", "TAG-MISSING-INTENT Information [B2A1]",
          "TAG-MISSING-GAMUT Information [gamt]"}},
        {"perceptual black at L* 0, version 2.4",
         [] { return cmykPrinter(2.4, {{krmSig("A2B0"), 4, 3, 0}, {krmSig("B2A0"), 3, 4}}); },
         {"TAG-MISSING-INTENT Information [A2B1]", "TAG-MISSING-INTENT Information [A2B2]",
          "TAG-MISSING-INTENT Information [B2A1]", "TAG-MISSING-INTENT Information [B2A2]",
          "TAG-MISSING-GAMUT Information [gamt]"}},
        // Integrity: a file cut inside its last tag says so, once, instead of "missing".
        // 'B2A1' shares the cut block: one finding for both, and neither is called missing.
        {"cut inside B2A0",
         [] {
             const QByteArray b = cmykPrinter(2.4, {{krmSig("A2B0"), 4, 3}, {krmSig("B2A0"), 3, 4}},
                                              [](krmProfile p) { krmLinkTag(p, krmSig("B2A1"), krmSig("B2A0")); });
             return b.left(b.size() - 8);
         },
         {"ENGINE-ERROR Error [ICC header]", "TAG-MISSING-INTENT Information [A2B1]", "TAG-MISSING-INTENT Information [A2B2]",
          "TAG-MISSING Error [B2A2]", "TAG-MISSING-GAMUT Information [gamt]", "TAG-PAST-END Error [B2A0]"}},
        {"text under 'lumi' and an unknown signature",
         [] {
             QByteArray b = srgbBytes([](krmProfile p) {
                 writeText(p, krmSig("scrd"), "second");
                 writeText(p, krmSig("vued"), "third");
             });
             renameTag(b, krmSig("scrd"), krmSig("lumi"));
             renameTag(b, krmSig("vued"), krmSig("zq9x"));
             return b;
         },
         {"TAG-UNREADABLE Error [lumi]", "ENGINE-UNSUPPORTED Warning [zq9x]"}},
        // Plausibility of the adaptation and the colorants.
        {"version 2 measured white with its Bradford 'chad'", [] { return srgbWithAdaptation(1.0, kD65, 2.4); }, {}},
        {"version 2 measured white, 'chad' scaled by 1.01", [] { return srgbWithAdaptation(1.01, kD65, 2.4); },
         {"CHAD-WHITE Error [chad]"}},
        {"version 4 D50 white, 'chad' scaled by 1.01", [] { return srgbWithAdaptation(1.01, *krmD50_XYZ(), 4.3); },
         {"CHAD-WHITE Error [chad]"}},
        {"version 4 D50 white with its Bradford 'chad'", [] { return srgbWithAdaptation(1.0, *krmD50_XYZ(), 4.3); }, {}},
        {"red colorant X + 0.003",
         [] {
             return srgbBytes([](krmProfile p) {
                 krmCIEXYZ red = *static_cast<const krmCIEXYZ*>(krmReadTag(p, krmSig("rXYZ")));
                 red.X += 0.003;
                 krmWriteTag(p, krmSig("rXYZ"), &red);
             });
         },
         {"COLORANT-SUM Warning [rXYZ gXYZ bXYZ]"}},
        {"version 2 colorants summing to the measured white",
         [] {
             krmProfile p = krmCreate_sRGBProfile(nullptr);
             krmSetProfileVersion(p, 2.4);
             krmWriteTag(p, krmSig("wtpt"), &kD65);
             krmMAT3 m;
             krmAdaptationMatrix(&m, nullptr, &kD65, krmD50_XYZ());
             krmMAT3 back;
             krmMAT3Inverse(&m, &back);
             writeMatrix(p, m);
             for (const char* sig : {"rXYZ", "gXYZ", "bXYZ"}) {
                 const krmTagSignature t = krmSig(sig[0] == 'r' ? "rXYZ" : sig[0] == 'g' ? "gXYZ" : "bXYZ");
                 const krmCIEXYZ c = *static_cast<const krmCIEXYZ*>(krmReadTag(p, t));
                 krmVEC3 v = {{c.X, c.Y, c.Z}}, u;
                 krmMAT3Eval(&u, &back, &v);
                 const krmCIEXYZ unadapted = {u.n[0], u.n[1], u.n[2]};
                 krmWriteTag(p, t, &unadapted);
             }
             return bytesOf(p);
         },
         {}},
    };
    return rows;
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
    void registry_runsTheTestsInOrder()
    {
        QStringList names;
        for (AuditTestBase* t : auditTestRegistry())
            names << QStringLiteral("QA%1 %2").arg(t->qaNumber()).arg(t->testName());
        QCOMPARE(names, QStringList({"QA120 ICC header", "QA110 Intent channels and linking", "QA100 Required tags",
                                     "QA101 Tags integrity", "QA130 Colorimetric plausibility"}));
    }

    // Each rule once: a profile written by the engine with one planted defect, and every
    // finding the check then makes, with its code and severity.
    void rules_data()
    {
        QTest::addColumn<int>("row");
        for (size_t i = 0; i < ruleRows().size(); ++i)
            QTest::newRow(ruleRows()[i].name) << int(i);
    }

    void rules()
    {
        QFETCH(int, row);
        const RuleRow& r = ruleRows()[size_t(row)];
        ProfileFiles files;
        const AuditRun run = check(files.write("rule.icc", r.make()));
        QVERIFY(run.opened);
        const QStringList found = codes(run.findings);
        QVERIFY2(found == r.expected, qPrintable(QStringLiteral("found: ") + found.join(QStringLiteral("; "))));
        for (const AuditFinding& f : run.findings)
            QVERIFY2(auditRuleCodes().contains(f.code), qPrintable(f.code));
    }

    // The texts users read for the rules whose wording matters.
    void messages_nameWhatIsWrong()
    {
        auto message = [](const QByteArray& bytes, const QString& code) {
            ProfileFiles files;
            for (const AuditFinding& f : check(files.write("m.icc", bytes)).findings)
                if (f.code == code)
                    return f.message;
            return QString();
        };
        const std::vector<RuleRow>& rows = ruleRows();
        auto rowBytes = [&](const char* name) {
            return std::find_if(rows.begin(), rows.end(), [&](const RuleRow& r) { return qstrcmp(r.name, name) == 0; })->make();
        };
        QCOMPARE(message(rowBytes("unlisted CMM"), "HDR-CMM-UNLISTED"),
                 QStringLiteral("The profile header contains a CMM signature 'zq9x' that is not in Prismet's list of "
                                "ICC-registered signatures."));
        const QByteArray cut = rowBytes("cut inside B2A0");
        QVERIFY(message(cut, "TAG-PAST-END")
                    .startsWith(QStringLiteral("'B2A0' points past the end of the file (offset ")));
        QVERIFY(message(cut, "TAG-PAST-END").endsWith(QStringLiteral("file %1). The same data is used by 'B2A1'.").arg(cut.size())));
        QVERIFY(message(rowBytes("profile ID, then a byte changed"), "HDR-ID-MISMATCH")
                    .endsWith(QStringLiteral("the file was altered after it was written.")));
        QVERIFY(message(rowBytes("text under 'lumi' and an unknown signature"), "TAG-UNREADABLE")
                    .startsWith(QStringLiteral("Prismet could not read this tag. Its data starts at byte ")));
        // Findings about a tag say where its data lies.
        QVERIFY(message(rowBytes("CMYK B2A0 with three outputs"), "LUT-CHANNELS")
                    .startsWith(QStringLiteral("BToA0 has 3 input chans and 3 output chans, but 3 input chans and 4 output "
                                               "chans are required by CMYK color space. Its data starts at byte ")));
        QVERIFY(message(rowBytes("sRGB with a gray curve"), "TAG-NOT-APPLICABLE").contains(QStringLiteral(" Its data starts at byte ")));
    }

    // The system's own profiles pass at the warning level unless really broken: colord's two
    // named-colour profiles, whose 'B2A0' is corrupt, are the only ones.
    void systemProfiles_passAtWarningLevel()
    {
        QStringList failing;
        for (const QString& folder : {kCorpus + "colord", kCorpus + "ghostscript"})
            for (const QString& name : QDir(folder).entryList({"*.icc"}, QDir::Files, QDir::Name))
                for (const AuditFinding& f : check(folder + "/" + name).findings)
                    if (f.severity >= AuditWarning && !failing.contains(name))
                        failing << name;
        QCOMPARE(failing, QStringList({"Crayons.icc", "x11-colors.icc"}));
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

    void integrity_skipsPrivateTags()
    {
        const SignatureEntry* privateTag = nullptr;
        for (const SignatureEntry& e : tagDictionary())
            if (e.isPrivate && !privateTag)
                privateTag = &e;
        QVERIFY(privateTag);
        // Text under a private signature whose registered type is something else.
        QByteArray bytes = srgbBytes([](krmProfile p) { writeText(p, krmSig("targ"), "first"); });
        QVERIFY(renameTag(bytes, krmSig("targ"), privateTag->signature));
        ProfileFiles files;
        QCOMPARE(codes(check(files.write("tags.icc", bytes)).findings), QStringList());
    }

    void engineErrors_becomeFindingsOfTheTestThatRaisedThem()
    {
        // Every test opens the file and fails the same way: reported once.
        const AuditRun run = check(QStringLiteral("/nonexistent/folder/profile.icc"));
        QVERIFY(!run.opened);
        QCOMPARE(codes(run.findings), QStringList{"ENGINE-FILE Fatal [ICC header]"});
        QCOMPARE(run.findings[0].title, QStringLiteral("Issue found"));

        // colord's named-colour profiles store a 'B2A0' that strict reading refuses: the engine's
        // words are kept, the tag and where its data starts added.
        const AuditRun named = check(kCorpus + "colord/Crayons.icc");
        QVERIFY(named.opened);
        QVERIFY(codes(named.findings).contains(QStringLiteral("ENGINE-ERROR Error [B2A0]")));
        QVERIFY(std::any_of(named.findings.begin(), named.findings.end(), [](const AuditFinding& f) {
            return f.message == QLatin1String("Corrupted tag 'B2A0' (data at byte 5332)");
        }));
    }

    void progress_textsAndCancelBetweenTests()
    {
        QByteArray bytes = srgbBytes();
        patch32(bytes, 64, 4);  // one header finding
        ProfileFiles files;
        const QString path = files.write("intent.icc", bytes);

        ScriptedProgress complete(0);
        const AuditRun full = runAuditTests(QFile::encodeName(path), &complete);
        QCOMPARE(complete.shown, QStringList({"Checking ICC profile (1 of 5)\nQA120: ICC header|0",
                                              "Checking ICC profile (2 of 5)\nQA110: Intent channels and linking|20",
                                              "Checking ICC profile (3 of 5)\nQA100: Required tags|40",
                                              "Checking ICC profile (4 of 5)\nQA101: Tags integrity|60",
                                              "Checking ICC profile (5 of 5)\nQA130: Colorimetric plausibility|80",
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
                                                "The report is incomplete. Only completed checks are included.", QString(),
                                                "CHECK-CANCELLED"}));
    }

};

QTEST_GUILESS_MAIN(TestAuditTests)
#include "tst_audittests.moc"
