// prismet-cli inks and dotgain: options and exit codes, the table against the JSON document, and
// the neutral axis against the engine's own 16-bit B2A answer.

#include "CliTestSupport.h"

#include <krm.h>

#include <QJsonArray>
#include <QtTest>

#include <memory>
#include <type_traits>

namespace {

const QString kCmyk = QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc");
const QString kPsCmyk = QStringLiteral("/usr/share/color/icc/ghostscript/ps_cmyk.icc");
const QString kSrgb = QStringLiteral("/usr/share/color/icc/colord/sRGB.icc");

struct ProfileClose {
    void operator()(void* p) const { krmCloseProfile(static_cast<krmProfile>(p)); }
};
using ProfilePtr = std::unique_ptr<std::remove_pointer_t<krmProfile>, ProfileClose>;
struct TransformDelete {
    void operator()(void* t) const { krmDeleteTransform(static_cast<krmTransform>(t)); }
};
using TransformPtr = std::unique_ptr<std::remove_pointer_t<krmTransform>, TransformDelete>;

}  // namespace

class TestInksCli : public QObject {
    Q_OBJECT

private slots:
    void usageAndFailures_data();
    void usageAndFailures();
    void neutralAxisIsTheB2AResult_data();
    void neutralAxisIsTheB2AResult();
    void tableMatchesJson();
    void dotGainTableAndJson();
};

void TestInksCli::usageAndFailures_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("no profile") << QStringList{"inks"} << 2 << "inks needs a PROFILE";
    QTest::newRow("two profiles") << QStringList{"dotgain", kCmyk, kCmyk} << 2 << "one too many";
    QTest::newRow("absolute intent") << QStringList{"inks", "--intent", "3", kCmyk} << 2 << "--intent must be";
    QTest::newRow("unknown ramp") << QStringList{"inks", "--ramp", "K", kCmyk} << 2 << "--ramp must be";
    QTest::newRow("unknown space") << QStringList{"inks", "--space", "luv", kCmyk} << 2 << "--space must be";
    QTest::newRow("display profile") << QStringList{"inks", kSrgb} << 1 << "not an output profile";
    QTest::newRow("display dot gain") << QStringList{"dotgain", "--json", kSrgb} << 1 << "not an output profile";
    QTest::newRow("missing file") << QStringList{"dotgain", "/nonexistent.icc"} << 1 << "nonexistent";
}

void TestInksCli::usageAndFailures()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, message);
    const Run r = cli(args);
    QCOMPARE(r.status, status);
    QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
    if (args.contains(QStringLiteral("--json"))) {
        const QJsonObject doc = r.json();
        QCOMPARE(doc.value(QStringLiteral("format")).toInt(), 1);
        QVERIFY(doc.value(QStringLiteral("error")).toString().contains(message));
        QVERIFY(doc.contains(QStringLiteral("inks")));
    }
    for (const char* command : {"inks", "dotgain"}) {
        const Run help = cli({QString::fromLatin1(command), QStringLiteral("--help")});
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.startsWith(QByteArray("Usage: prismet-cli ") + command));
    }
}

void TestInksCli::neutralAxisIsTheB2AResult_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("intent");
    QTest::newRow("default_cmyk") << kCmyk << 1;
    QTest::newRow("ps_cmyk") << kPsCmyk << 0;
}

// Every position's inks are the B2A tag's 16-bit result for L* = 100 (1 - t), a* = b* = 0.
void TestInksCli::neutralAxisIsTheB2AResult()
{
    QFETCH(QString, path);
    QFETCH(int, intent);
    const Run r = cli({QStringLiteral("inks"), QStringLiteral("--json"), QStringLiteral("--intent"), QString::number(intent), path});
    QCOMPARE(r.status, 0);
    const QJsonObject doc = r.json();
    QCOMPARE(doc.value(QStringLiteral("tag")).toString(), QStringLiteral("B2A%1").arg(intent));
    QCOMPARE(doc.value(QStringLiteral("channels")).toArray().size(), 4);
    const QJsonArray positions = doc.value(QStringLiteral("positions")).toArray();
    QCOMPARE(positions.size(), 101);

    ProfilePtr profile(krmOpenProfileFromFile(path.toUtf8().constData(), "r"));
    ProfilePtr lab(krmCreateLab4Profile(krmD50_xyY()));
    TransformPtr toDevice(krmCreateTransform(lab.get(), krmFmtLabDouble, profile.get(), krmFMT_CHANNELS(4) | krmFMT_BYTES(2),
                                             krmUInt32Number(intent), krmFlagNoOptimize));
    QVERIFY(toDevice);
    for (int k = 0; k < 101; ++k) {
        const QJsonObject position = positions[k].toObject();
        const krmCIELab colour{100.0 * (1.0 - k / 100.0), 0.0, 0.0};
        QCOMPARE(position.value(QStringLiteral("lab")).toArray()[0].toDouble(), colour.L);
        krmUInt16Number words[4] = {};
        krmDoTransform(toDevice.get(), &colour, words, 1);
        const QJsonArray inks = position.value(QStringLiteral("inks")).toArray();
        for (int c = 0; c < 4; ++c)
            QCOMPARE(float(inks[c].toDouble()), float(words[c]) / 65535.0f);
    }
}

// The text table carries the JSON document's numbers, rounded.
void TestInksCli::tableMatchesJson()
{
    const QStringList args{QStringLiteral("inks"), QStringLiteral("--ramp"), QStringLiteral("y"), QStringLiteral("--space"),
                           QStringLiteral("cam16"), kCmyk};
    const Run text = cli(args);
    const Run json = cli(args + QStringList{QStringLiteral("--json")});
    QCOMPARE(text.status, 0);
    const QList<QByteArray> lines = text.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 102);
    QCOMPARE(lines[0], QByteArray("Position\tL*\ta*\tb*\tC\tM\tY\tK\tTotal Ink\tInk sum (%)\tObtained b*"));
    const QJsonArray positions = json.json().value(QStringLiteral("positions")).toArray();
    QCOMPARE(json.json().value(QStringLiteral("obtained")).toString(), QStringLiteral("b*"));
    for (int k = 0; k < 101; k += 10) {
        const QList<QByteArray> cells = lines[k + 1].split('\t');
        const QJsonObject position = positions[k].toObject();
        QCOMPARE(cells.size(), 11);
        QCOMPARE(cells[0].toDouble(), k / 100.0);
        const QJsonArray inks = position.value(QStringLiteral("inks")).toArray();
        for (int c = 0; c < 4; ++c)
            QVERIFY(qAbs(cells[4 + c].toDouble() - inks[c].toDouble()) < 5e-7);
        const double obtained = position.value(QStringLiteral("obtained")).toDouble();
        QVERIFY(obtained >= 0.0 && obtained <= 1.0);
        QVERIFY(qAbs(cells[10].toDouble() - obtained) < 5e-7);
    }
    // The Y solid is mostly yellow ink.
    QVERIFY(positions[100].toObject().value(QStringLiteral("inks")).toArray()[2].toDouble() > 0.9);
}

void TestInksCli::dotGainTableAndJson()
{
    const Run text = cli({QStringLiteral("dotgain"), kCmyk});
    QCOMPARE(text.status, 0);
    const QList<QByteArray> lines = text.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 102);
    QCOMPARE(lines[0], QByteArray("Nominal (%)\tC\tM\tY\tK"));
    QCOMPARE(lines[1], QByteArray("0\t0.0000\t0.0000\t0.0000\t0.0000"));
    QCOMPARE(lines[101], QByteArray("100\t0.0000\t0.0000\t0.0000\t0.0000"));

    const QJsonObject doc = cli({QStringLiteral("dotgain"), QStringLiteral("--json"), kCmyk}).json();
    const QJsonArray inks = doc.value(QStringLiteral("inks")).toArray();
    QCOMPARE(inks.size(), 4);
    const char* components[] = {"X", "Y", "Z", "Y"};
    for (int c = 0; c < 4; ++c) {
        const QJsonObject ink = inks[c].toObject();
        QCOMPARE(ink.value(QStringLiteral("component")).toString(), QString::fromLatin1(components[c]));
        const QJsonArray values = ink.value(QStringLiteral("values")).toArray();
        QCOMPARE(values.size(), 101);
        QVERIFY(qAbs(lines[51].split('\t')[c + 1].toDouble() - values[50].toDouble()) < 5e-5);
    }
}

QTEST_GUILESS_MAIN(TestInksCli)
#include "tst_inks.moc"
