// The small structured viewers: every field of every decoded structured tag appears on its card,
// for tags the engine writes and for those in the real-profile corpus; the data viewer picks text
// or bytes by the flag; the profile sequence becomes a chain of boxes.

#include "tests/support/ViewerTestSupport.h"

#include "window/widgets/HexViewer.h"
#include "common/signatures/Signatures.h"
#include "window/overview/TagViewers.h"
#include "window/widgets/HtmlHelpers.h"
#include "window/viewers/StructuredTagViewers.h"
#include "window/viewers/WorkflowGraphScene.h"

#include <QDateTime>
#include <QException>
#include <QLocale>
#include <QTest>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTimeZone>

#include <cstring>
#include <vector>

using namespace viewertest;

namespace {

ProfilePtr openFile(const QString& path)
{
    return ProfilePtr(krmOpenProfileFromFile(path.toLocal8Bit().constData(), "r"));
}

// The texts a card must show for the decoded tag: one per field.
QStringList expectedFields(krmProfile profile, krmTagSignature sig)
{
    const void* data = krmReadTag(profile, sig);
    const auto xyz = [](const krmCIEXYZ& v) { return format_xyz(v.X, v.Y, v.Z); };
    if (sig == krmSig("cicp")) {
        const auto* v = static_cast<const krmVideoSignal*>(data);
        return {QStringLiteral("ColourPrimaries\n") + cicp_primaries_text(v->ColourPrimaries),
                QStringLiteral("TransferCharacteristics\n") + cicp_transfer_text(v->TransferCharacteristics),
                QStringLiteral("MatrixCoefficients\n") + cicp_matrix_text(v->MatrixCoefficients),
                QStringLiteral("VideoFullRangeFlag\n%1 \u2013").arg(v->VideoFullRangeFlag)};
    }
    if (sig == krmSig("clro")) {
        const auto* v = static_cast<const krmColorantOrder*>(data);
        QStringList numbers;
        for (krmUInt32Number i = 0; i < krmChannelsOf(krmGetProfileColorSpace(profile)); ++i)
            numbers << QString::number(v->Order[i]);
        return {QStringLiteral("Channels\n") + numbers.join(QStringLiteral(", "))};
    }
    if (sig == krmSig("meas")) {
        const auto* v = static_cast<const krmMeasurement*>(data);
        return {observerName(v->Observer), xyz(v->Backing), geometryName(v->Geometry),
                QStringLiteral("%1 %").arg(v->Flare * 100, 0, 'f', 2),
                illuminantTypeName(v->IlluminantType)};
    }
    if (sig == krmSig("view")) {
        const auto* v = static_cast<const krmViewingConditions*>(data);
        return {QStringLiteral("Illuminant\n") + xyz(v->IlluminantXYZ), QStringLiteral("Surround\n") + xyz(v->SurroundXYZ),
                illuminantTypeName(v->IlluminantType)};
    }
    if (sig == krmSig("lumi")) {
        const auto* v = static_cast<const krmCIEXYZ*>(data);
        return {QStringLiteral("%1 cd/m\u00B2").arg(v->Y, 0, 'f', 2), xyz(*v)};
    }
    if (sig == krmSig("tech"))
        return {technologyName(*static_cast<const krmSignature*>(data))};
    if (sig == krmSig("ciis"))
        return {imageStateName(*static_cast<const krmSignature*>(data))};
    if (sig == krmSig("meta")) {
        QStringList fields;
        for (const krmDICTentry* e = krmDictGetEntryList(static_cast<const krmDict*>(data)); e; e = krmDictNextEntry(e))
            fields << QString::fromStdU16String(e->Name) + QLatin1Char('\n') + QString::fromStdU16String(e->Value);
        return fields;
    }
    if (sig == krmSig("scrn")) {
        const auto* v = static_cast<const krmScreening*>(data);
        QStringList fields;
        for (krmUInt32Number i = 0; i < v->nChannels; ++i)
            fields << QStringLiteral("Chan%1\n%2\n%3\n%4")
                          .arg(i + 1)
                          .arg(v->Channels[i].Frequency, 0, 'f', 2)
                          .arg(v->Channels[i].ScreenAngle, 0, 'f', 2)
                          .arg(spotShapeName(v->Channels[i].SpotShape));
        return fields;
    }
    if (sig == krmSig("calt") || sig == krmSig("dtim")) {
        const auto* v = static_cast<const krmDateTime*>(data);
        return {QLocale::system().toString(QDateTime(QDate(v->tm_year + 1900, v->tm_mon + 1, v->tm_mday),
                                                     QTime(v->tm_hour, v->tm_min, v->tm_sec), QTimeZone::utc()),
                                           QLocale::NarrowFormat)};
    }
    return {};
}

QString cardText(QWidget* widget)
{
    auto* card = qobject_cast<TagCardComponent*>(widget);
    return card ? card->browser()->toPlainText() : QString();
}

// sRGB written by the engine with every structured tag, read back.
ProfilePtr engineProfile()
{
    ProfilePtr profile(krmCreate_sRGBProfile());
    krmSetProfileVersion(profile.get(), 4.3);
    const krmVideoSignal cicp = {9, 16, 0, 1};
    krmColorantOrder order = {};
    std::memset(order.Order, 0xFF, sizeof order.Order);
    order.Order[0] = 0, order.Order[1] = 1, order.Order[2] = 2;
    const krmSignature prmg = krmSig("prmg");
    const krmSignature other = krmSig("abcd");
    const krmSignature state = krmSig("scoe");
    const krmMeasurement meas = {1, {0.5, 0.25, 0.125}, 1, 0.0125, 2};
    const krmViewingConditions view = {{95.0, 100.0, 108.0}, {19.0, 20.0, 21.0}, 1};
    const krmCIEXYZ lumi = {76.04, 80.0, 87.12};
    krmScreening screening = {};
    screening.Flag = 1;
    screening.nChannels = 1;
    screening.Channels[0] = {150.0, 45.0, 1};
    krmDict* dict = krmDictAlloc(nullptr);
    krmDictAddEntry(dict, u"model", u"X<1>", nullptr, nullptr);
    krmDictAddEntry(dict, u"maker", u"Corvane", nullptr, nullptr);
    const QByteArray text = "%!PS\n/ri 0 def";
    std::vector<krmUInt8Number> blob(sizeof(krmICCData) + std::size_t(text.size()));
    auto* data = reinterpret_cast<krmICCData*>(blob.data());
    data->len = krmUInt32Number(text.size());
    data->flag = 0;
    std::memcpy(data->data, text.constData(), std::size_t(text.size()));

    krmSequence* seq = krmAllocProfileSequence(nullptr, 2);
    seq->seq[0].technology = krmSig("CRT ");
    seq->seq[0].deviceMfg = krmSig("ABCD");
    for (krmMLU** text : {&seq->seq[0].Model, &seq->seq[0].Manufacturer})
        if (!*text)
            *text = krmMLUAlloc(nullptr, 1);
    krmMLUSetASCII(seq->seq[0].Model, "en", "US", "Model One");
    krmMLUSetASCII(seq->seq[0].Manufacturer, "en", "US", "Maker <b>");
    seq->seq[1].deviceModel = 0;

    bool ok = true;
    ok = ok && krmWriteTag(profile.get(), krmSig("cicp"), &cicp);
    ok = ok && krmWriteTag(profile.get(), krmSig("clro"), &order);
    ok = ok && krmWriteTag(profile.get(), krmSig("rig0"), &prmg);
    ok = ok && krmWriteTag(profile.get(), krmSig("rig2"), &other);
    ok = ok && krmWriteTag(profile.get(), krmSig("ciis"), &state);
    ok = ok && krmWriteTag(profile.get(), krmSig("meas"), &meas);
    ok = ok && krmWriteTag(profile.get(), krmSig("view"), &view);
    ok = ok && krmWriteTag(profile.get(), krmSig("lumi"), &lumi);
    ok = ok && krmWriteTag(profile.get(), krmSig("meta"), dict);
    ok = ok && krmWriteTag(profile.get(), krmSig("pseq"), seq);
    krmSetProfileVersion(profile.get(), 2.1);
    ok = ok && krmWriteTag(profile.get(), krmSig("scrn"), &screening);
    ok = ok && krmWriteTag(profile.get(), krmSig("ps2i"), data);
    data->flag = 1;
    ok = ok && krmWriteTag(profile.get(), krmSig("ps2s"), data);
    krmSetProfileVersion(profile.get(), 4.3);
    krmDictFree(dict);
    krmFreeProfileSequence(seq);
    return ok ? openFromBytes(saveToBytes(profile.get())) : ProfilePtr();
}

const krmTagSignature kCardTags[] = {krmSig("cicp"), krmSig("clro"), krmSig("meas"), krmSig("view"),
                                     krmSig("lumi"), krmSig("tech"), krmSig("ciis"), krmSig("meta"),
                                     krmSig("scrn"), krmSig("calt"), krmSig("dtim")};

}  // namespace

class TestStructuredViewers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerPermissiveReading(); }

    void cardsShowEveryField();
    void cicpNamesFollowH273_data();
    void cicpNamesFollowH273();
    void enumeratedAndScreeningTexts();
    void dataTextOrBytes();
    void sequenceChain();
    void missingTagsThrow();
};

void TestStructuredViewers::cardsShowEveryField()
{
    ProfilePtr written = engineProfile();
    QVERIFY(written);
    std::vector<ProfilePtr> profiles;
    profiles.push_back(std::move(written));
    for (const QString& path : corpusProfiles())
        if (ProfilePtr p = openFile(path))
            profiles.push_back(std::move(p));

    int cards = 0;
    for (const ProfilePtr& profile : profiles) {
        for (krmTagSignature sig : kCardTags) {
            if (!krmIsTag(profile.get(), sig) || !krmReadTag(profile.get(), sig))
                continue;
            const auto tabs = dispatchTagViewers(profile.get(), sig, nullptr);
            std::unique_ptr<QWidget> owner(tabs.value(0).widget);
            const QString text = cardText(owner.get());
            QVERIFY2(!text.isEmpty(), qPrintable(signatureText(sig)));
            for (const QString& field : expectedFields(profile.get(), sig))
                QVERIFY2(text.contains(field), qPrintable(signatureText(sig) + ": " + field + " not in " + text));
            ++cards;
        }
    }
    QVERIFY(cards >= 10);

    // Engine-written values, spelled out.
    const ProfilePtr& profile = profiles.front();
    CICPTagComponent cicp(profile.get(), krmSig("cicp"));
    QVERIFY(cardText(&cicp).contains(QString::fromUtf8(
        "ColourPrimaries\n9 \u2013 BT.2020, BT.2100\nTransferCharacteristics\n16 \u2013 SMPTE ST 2084 (PQ), BT.2100\n"
        "MatrixCoefficients\n0 \u2013 Identity (RGB, GBR)\nVideoFullRangeFlag\n1 \u2013 full range")));
    ColorantOrderTagComponent order(profile.get(), krmSig("clro"));
    QVERIFY(cardText(&order).contains("0, 1, 2"));
    MetaTagComponent meta(profile.get(), krmSig("meta"));
    // Values from the file stay text: no markup gets through.
    QVERIFY(cardText(&meta).contains("X<1>"));
    QVERIFY(meta.browser()->toHtml().contains("X&lt;1&gt;"));
}

void TestStructuredViewers::enumeratedAndScreeningTexts()
{
    const ProfilePtr profile = engineProfile();
    QVERIFY(profile);
    struct Case {
        krmTagSignature sig;
        QString text;
    };
    const Case cases[] = {{krmSig("rig0"), "Perceptual reference medium gamut PRMG"},
                          {krmSig("rig2"), "Non-standard reference medium gamut"},
                          {krmSig("ciis"), imageStateName(krmSig("scoe"))}};
    for (const Case& c : cases) {
        EnumeratedTagComponent viewer(profile.get(), c.sig);
        QVERIFY2(cardText(&viewer).contains(c.text), qPrintable(cardText(&viewer)));
    }

    ScreeningTagComponent screening(profile.get(), krmSig("scrn"));
    const auto* stored = static_cast<const krmScreening*>(krmReadTag(profile.get(), krmSig("scrn")));
    QVERIFY(screening_body(*stored).startsWith("<h3>Default Screens,  In inches</h3> "));
    QVERIFY2(cardText(&screening).contains("Chan1\n150.00\n45.00\n" + spotShapeName(1)), qPrintable(cardText(&screening)));

    // Flag 0: the heading names the unit only.
    QByteArray bytes = be32(krmSig("scrn")) + be32(0) + be32(0) + be32(1) + be32(150u << 16) + be32(45u << 16) + be32(1);
    const ProfilePtr plain = openFromBytes(buildProfile({{krmSig("scrn"), bytes}}));
    ScreeningTagComponent noDefault(plain.get(), krmSig("scrn"));
    QVERIFY(screening_body(*static_cast<const krmScreening*>(krmReadTag(plain.get(), krmSig("scrn"))))
                .startsWith("<h3> In inches</h3> "));
    QVERIFY(!cardText(&noDefault).contains("Default Screens"));
    QVERIFY(cardText(&noDefault).contains("In inches"));
}

void TestStructuredViewers::dataTextOrBytes()
{
    const ProfilePtr profile = engineProfile();
    DataTagComponent text(profile.get(), krmSig("ps2i"));
    QVERIFY(text.textView() && !text.hexViewer());
    QCOMPARE(text.textView()->toPlainText(), QStringLiteral("%!PS\n/ri 0 def"));
    QCOMPARE(text.textView()->lineWrapMode(), QTextEdit::NoWrap);
    DataTagComponent binary(profile.get(), krmSig("ps2s"));
    QVERIFY(binary.hexViewer() && !binary.textView());
    QCOMPARE(binary.hexViewer()->data(), QByteArray("%!PS\n/ri 0 def"));
}

void TestStructuredViewers::sequenceChain()
{
    const ProfilePtr profile = engineProfile();
    const auto tabs = dispatchTagViewers(profile.get(), krmSig("pseq"), nullptr);
    QCOMPARE(tabs.size(), 1);
    std::unique_ptr<QWidget> owner(tabs[0].widget);
    auto* viewer = qobject_cast<ProfileSeqComponent*>(owner.get());
    QVERIFY(viewer && viewer->scene());
    const QList<WorkflowNode>& nodes = viewer->scene()->nodes();
    QCOMPARE(nodes.size(), 2);
    QCOMPARE(nodes[0].label, QStringLiteral("Model One"));
    QCOMPARE(nodes[0].color, QColor(60, 120, 60));
    QVERIFY(nodes[0].summary.startsWith("<center>" + technologyName(krmSig("CRT ")).toHtmlEscaped() + "</center>"));
    QVERIFY2(nodes[0].summary.endsWith("<br><i>Maker &lt;b&gt;</i>"), qPrintable(nodes[0].summary));
    QCOMPARE(nodes[0].content.toString(), nodes[0].summary);
    QCOMPARE(nodes[1].label, QStringLiteral("ICC Profile"));
    QCOMPARE(viewer->scene()->boxes().size(), 2);
    QCOMPARE(viewer->scene()->hoverInfoAt(viewer->scene()->boxes()[1]->sceneBoundingRect().center()).first,
             QStringLiteral("ICC Profile"));

    // Text records: NULs go, a missing record reads "(null)".
    QCOMPARE(sequence_text(nullptr), QStringLiteral("(null)"));

    // Another tag: an empty page.
    ProfileSeqComponent other(profile.get(), krmSig("meas"));
    QVERIFY(!other.scene());
}

void TestStructuredViewers::missingTagsThrow()
{
    const ProfilePtr profile = engineProfile();
    const ProfilePtr empty = openFromBytes(buildProfile({}));
    QVERIFY_THROWS_EXCEPTION(QException, CICPTagComponent(empty.get(), krmSig("cicp")));
    QVERIFY_THROWS_EXCEPTION(QException, DataTagComponent(empty.get(), krmSig("ps2i")));
    QVERIFY_THROWS_EXCEPTION(QException, ProfileSeqComponent(empty.get(), krmSig("pseq")));
    // A tag stored in another type than the viewer reads.
    QVERIFY_THROWS_EXCEPTION(QException, MeasurementTagComponent(profile.get(), krmSig("view")));
    QVERIFY_THROWS_EXCEPTION(QException, SingleXYZTagComponent(nullptr, krmSig("lumi")));
}

// Names from ITU-T H.273's code point tables, typed from the recommendation.
void TestStructuredViewers::cicpNamesFollowH273_data()
{
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("expected");
    QTest::newRow("primaries 1") << cicp_primaries_text(1) << "1 \u2013 BT.709, sRGB";
    QTest::newRow("primaries 9") << cicp_primaries_text(9) << "9 \u2013 BT.2020, BT.2100";
    QTest::newRow("primaries 12") << cicp_primaries_text(12) << "12 \u2013 SMPTE EG 432-1 (Display P3)";
    QTest::newRow("primaries 22") << cicp_primaries_text(22) << "22 \u2013 EBU Tech. 3213-E";
    QTest::newRow("primaries 3") << cicp_primaries_text(3) << "3 \u2013 reserved";
    QTest::newRow("transfer 13") << cicp_transfer_text(13) << "13 \u2013 IEC 61966-2-1 (sRGB)";
    QTest::newRow("transfer 16") << cicp_transfer_text(16) << "16 \u2013 SMPTE ST 2084 (PQ), BT.2100";
    QTest::newRow("transfer 18") << cicp_transfer_text(18) << "18 \u2013 ARIB STD-B67 (HLG), BT.2100";
    QTest::newRow("transfer 8") << cicp_transfer_text(8) << "8 \u2013 Linear";
    QTest::newRow("transfer 19") << cicp_transfer_text(19) << "19 \u2013 reserved";
    QTest::newRow("matrix 0") << cicp_matrix_text(0) << "0 \u2013 Identity (RGB, GBR)";
    QTest::newRow("matrix 14") << cicp_matrix_text(14) << "14 \u2013 BT.2100 ICtCp";
    QTest::newRow("matrix 3") << cicp_matrix_text(3) << "3 \u2013 reserved";
}

void TestStructuredViewers::cicpNamesFollowH273()
{
    QFETCH(QString, shown);
    QFETCH(QString, expected);
    QCOMPARE(shown, expected);
}

QTEST_MAIN(TestStructuredViewers)
#include "tst_structuredviewers.moc"
