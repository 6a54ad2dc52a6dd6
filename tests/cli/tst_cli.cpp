// prismet-cli: argument handling, exit codes, the JSON layouts, and the numbers it prints
// checked against the profile bytes, mathematics and the engine's own written profiles.

#include "CliTestSupport.h"
#include "cli/CliValue.h"
#include "cli/Commands.h"
#include "imaging/ImageDecoder.h"
#include "imaging/ImageProfiles.h"
#include "imaging/TiffCodec.h"

#include <krm.h>

#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

quint32 be32At(const QByteArray& b, int at)
{
    return (quint32(uchar(b[at])) << 24) | (quint32(uchar(b[at + 1])) << 16) | (quint32(uchar(b[at + 2])) << 8) |
           quint32(uchar(b[at + 3]));
}

QString hexOf(const QByteArray& b, int at, int length)
{
    return QStringLiteral("0x") + QString::fromLatin1(b.mid(at, length).toHex());
}

QVector<double> numbers(const QByteArray& line)
{
    QVector<double> v;
    for (const QByteArray& f : line.simplified().split(' '))
        if (!f.isEmpty())
            v << f.toDouble();
    return v;
}

double deltaE(const QVector<double>& a, const QVector<double>& b)
{
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

const QString kColord = QStringLiteral("/usr/share/color/icc/colord/");
const QString kGhostscript = QStringLiteral("/usr/share/color/icc/ghostscript/");

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    // Arguments and exit codes.
    void usageErrorsExitTwo_data();
    void usageErrorsExitTwo();
    void unreadableInputsExitOne_data();
    void unreadableInputsExitOne();
    void everyCommandHasHelp();
    void programStreamsAndStatus();
    void damagedProfilesNeverCrash();

    // info
    void infoJsonMatchesHeaderBytes();
    void infoReportsFailuresPerProfile();
    void infoTextListsDirectory();

    // tag
    void tagDecodesEveryCorpusTag();
    void tagNumbersMatchStoredBytes();
    void tagShowsEngineWrittenContent();
    void tagRawDumpsStoredBytes();
    void tagSignatureForms();

    // transform
    void transformWhiteToLab();
    void transformChainsOfThree();
    void transformLabCmykRoundTrip();
    void transformFormatsAndJson();
    void transformValueErrors();
    void transformNamedColorIndex();

    // convert and embedded profiles
    void convertEmbedsProfileAndMatchesTransform();
    void convertKeepsAlphaAndDepth();
    void convertUsesEmbeddedSourceProfile();
    void embeddingRoundTrips();
    void damagedImagesNeverCrash();
    void convertReadsAndWritesCmykTiffAndJpeg();

    // value tree
    void valueTreeJsonAndText();

private:
    QTemporaryDir tmp_;
};

void TestCli::initTestCase()
{
    QVERIFY(tmp_.isValid());
    QVERIFY2(QFile::exists(kColord + QStringLiteral("sRGB.icc")), "colord profiles are needed");
    QVERIFY2(QFile::exists(kGhostscript + QStringLiteral("ps_cmyk.icc")), "ghostscript profiles are needed");
}

void TestCli::usageErrorsExitTwo_data()
{
    QTest::addColumn<QStringList>("args");
    const QString srgb = kColord + QStringLiteral("sRGB.icc");
    QTest::newRow("no command") << QStringList();
    QTest::newRow("unknown command") << QStringList{QStringLiteral("inspect"), srgb};
    QTest::newRow("info without profile") << QStringList{QStringLiteral("info")};
    QTest::newRow("info unknown option") << QStringList{QStringLiteral("info"), QStringLiteral("--yaml"), srgb};
    QTest::newRow("flag given a value") << QStringList{QStringLiteral("info"), QStringLiteral("--json=1"), srgb};
    QTest::newRow("tag without signature") << QStringList{QStringLiteral("tag"), srgb};
    QTest::newRow("tag signature too long") << QStringList{QStringLiteral("tag"), srgb, QStringLiteral("descr")};
    QTest::newRow("tag bad hex") << QStringList{QStringLiteral("tag"), srgb, QStringLiteral("0xZZ")};
    QTest::newRow("transform without profile") << QStringList{QStringLiteral("transform"), QStringLiteral("--values"), QStringLiteral("1 1 1")};
    QTest::newRow("transform option without value") << QStringList{QStringLiteral("transform"), QStringLiteral("--profile")};
    QTest::newRow("transform bad intent") << QStringList{QStringLiteral("transform"), QStringLiteral("--profile"), srgb,
                                                         QStringLiteral("--intent"), QStringLiteral("7")};
    QTest::newRow("transform bad format") << QStringList{QStringLiteral("transform"), QStringLiteral("--profile"), srgb,
                                                         QStringLiteral("--in-format"), QStringLiteral("12")};
    QTest::newRow("transform adaptation out of range")
        << QStringList{QStringLiteral("transform"), QStringLiteral("--profile"), srgb, QStringLiteral("--adaptation"),
                       QStringLiteral("1.5"), QStringLiteral("--values"), QStringLiteral("1 1 1")};
    QTest::newRow("transform 8-bit Lab") << QStringList{QStringLiteral("transform"), QStringLiteral("--profile"), QStringLiteral("*lab"),
                                                        QStringLiteral("--profile"), srgb, QStringLiteral("--in-format"),
                                                        QStringLiteral("8"), QStringLiteral("--values"), QStringLiteral("1 1 1")};
    QTest::newRow("convert without profile") << QStringList{QStringLiteral("convert"), QStringLiteral("a.png"), QStringLiteral("b.png")};
    QTest::newRow("convert unknown extension") << QStringList{QStringLiteral("convert"), QStringLiteral("a.png"), QStringLiteral("b.gif"),
                                                              QStringLiteral("--profile"), srgb};
    QTest::newRow("convert one path") << QStringList{QStringLiteral("convert"), QStringLiteral("a.png"), QStringLiteral("--profile"), srgb};
    QTest::newRow("convert three paths") << QStringList{QStringLiteral("convert"), QStringLiteral("a.png"), QStringLiteral("b.png"),
                                                        QStringLiteral("c.png"), QStringLiteral("--profile"), srgb};
    QTest::newRow("tag three arguments") << QStringList{QStringLiteral("tag"), srgb, QStringLiteral("desc"), QStringLiteral("cprt")};
    QTest::newRow("dump without profile") << QStringList{QStringLiteral("dump")};
    QTest::newRow("dump unknown option") << QStringList{QStringLiteral("dump"), QStringLiteral("--raw"), srgb};
}

void TestCli::usageErrorsExitTwo()
{
    QFETCH(QStringList, args);
    const Run r = cli(args);
    QCOMPARE(r.status, int(kExitUsage));
    QVERIFY(r.out.isEmpty());
    // The reason and one line pointing at the help, never the whole help.
    const QList<QByteArray> lines = r.err.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith("prismet-cli: "));
    QVERIFY2(lines[1].startsWith("Try 'prismet-cli ") && lines[1].endsWith("--help'."), lines[1].constData());
}

void TestCli::unreadableInputsExitOne_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QString srgb = kColord + QStringLiteral("sRGB.icc");
    const QString missing = tmp_.filePath(QStringLiteral("missing.icc"));
    // Not a profile: the engine's own message reaches standard error.
    const QString text = tmp_.filePath(QStringLiteral("text.icc"));
    QFile f(text);
    f.open(QIODevice::WriteOnly);
    f.write(QByteArray(200, 'x'));
    f.close();
    QTest::newRow("missing file") << QStringList{QStringLiteral("info"), missing} << QStringLiteral("no such file");
    QTest::newRow("not a profile") << QStringList{QStringLiteral("info"), text} << QStringLiteral("not an ICC profile");
    QTest::newRow("folder") << QStringList{QStringLiteral("tag"), tmp_.path(), QStringLiteral("desc")} << QStringLiteral("folder");
    QTest::newRow("absent tag") << QStringList{QStringLiteral("tag"), srgb, QStringLiteral("A2B0")} << QStringLiteral("has no tag 'A2B0'");
    QTest::newRow("unknown built-in") << QStringList{QStringLiteral("transform"), QStringLiteral("--profile"), QStringLiteral("*SRGB")}
                                      << QStringLiteral("unknown built-in profile");
    QTest::newRow("chain that cannot link")
        << QStringList{QStringLiteral("transform"), QStringLiteral("--profile"), srgb, QStringLiteral("--profile"),
                       kGhostscript + QStringLiteral("ps_cmyk.icc"), QStringLiteral("--profile"), QStringLiteral("*lab"),
                       QStringLiteral("--values"), QStringLiteral("1 1 1")}
        << QStringLiteral("cannot link");
    QTest::newRow("image not an image") << QStringList{QStringLiteral("convert"), text, tmp_.filePath(QStringLiteral("o.png")),
                                                       QStringLiteral("--profile"), srgb}
                                        << QStringLiteral("not a PNG, JPEG, BMP or TIFF");
    QTest::newRow("missing image") << QStringList{QStringLiteral("convert"), tmp_.filePath(QStringLiteral("none.png")),
                                                  tmp_.filePath(QStringLiteral("o.png")), QStringLiteral("--profile"), srgb}
                                   << QStringLiteral("cannot read image");
    const QString small = tmp_.filePath(QStringLiteral("small.png"));
    QImage colour(2, 2, QImage::Format_RGB888);
    colour.fill(QColor(200, 10, 10));
    colour.save(small);
    QTest::newRow("CMYK destination") << QStringList{QStringLiteral("convert"), small, tmp_.filePath(QStringLiteral("o.png")),
                                                     QStringLiteral("--profile"), kGhostscript + QStringLiteral("ps_cmyk.icc")}
                                      << QStringLiteral("gives CMYK pixels");
    QTest::newRow("CMYK source profile") << QStringList{QStringLiteral("convert"), small, tmp_.filePath(QStringLiteral("o.png")),
                                                        QStringLiteral("--profile"), srgb, QStringLiteral("--src-profile"),
                                                        kGhostscript + QStringLiteral("ps_cmyk.icc")}
                                         << QStringLiteral("the source profile is for CMYK");
    QTest::newRow("gray source, colour image") << QStringList{QStringLiteral("convert"), small, tmp_.filePath(QStringLiteral("o.png")),
                                                              QStringLiteral("--profile"), srgb, QStringLiteral("--src-profile"),
                                                              kGhostscript + QStringLiteral("sgray.icc")}
                                               << QStringLiteral("has colour pixels");
}

void TestCli::unreadableInputsExitOne()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const Run r = cli(args);
    QCOMPARE(r.status, int(kExitUnreadable));
    QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
    QVERIFY(r.err.startsWith("prismet-cli: "));
}

void TestCli::everyCommandHasHelp()
{
    for (const QString& command : {QStringLiteral("info"), QStringLiteral("tag"), QStringLiteral("transform"), QStringLiteral("convert")}) {
        const Run r = cli({command, QStringLiteral("--help")});
        QCOMPARE(r.status, int(kExitOk));
        QVERIFY(r.out.startsWith("Usage: prismet-cli " + command.toUtf8()));
    }
    const Run top = cli({QStringLiteral("--help")});
    QCOMPARE(top.status, int(kExitOk));
    QVERIFY(top.out.contains("Exit status"));
}

void TestCli::programStreamsAndStatus()
{
    // Standard input feeds transform; results on standard output, notes on standard error.
    const Run white = program({QStringLiteral("transform"), QStringLiteral("--profile"), QStringLiteral("*srgb"),
                               QStringLiteral("--profile"), QStringLiteral("*lab")},
                              "1 1 1\n# a comment\n\n0,0,0\n");
    QCOMPARE(white.status, 0);
    const QList<QByteArray> lines = white.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QCOMPARE(numbers(lines[1]), (QVector<double>{0, 0, 0}));

    const Run missing = program({QStringLiteral("info"), tmp_.filePath(QStringLiteral("none.icc"))});
    QCOMPARE(missing.status, 1);
    QVERIFY(missing.out.isEmpty());
    QVERIFY(missing.err.contains("no such file"));

    const Run usage = program({QStringLiteral("tag")});
    QCOMPARE(usage.status, 2);
}

void TestCli::damagedProfilesNeverCrash()
{
    // Every corpus profile cut short and with its tag directory scrambled: status 0 or 1, never a crash.
    int checked = 0;
    for (const QString& path : corpus()) {
        const QByteArray bytes = fileBytes(path);
        QList<QByteArray> damaged;
        for (const int length : {0, 100, 128, 132, 200, int(bytes.size() / 2), int(bytes.size() - 1)})
            damaged << bytes.left(length);
        QByteArray scrambled = bytes;
        for (int i = 132; i + 12 <= 132 + 12 * 6 && i + 12 <= scrambled.size(); i += 12) {
            scrambled[i + 4] = char(0x7F);  // offsets far past the end
            scrambled[i + 9] = char(0xFF);  // sizes past the end
        }
        damaged << scrambled;
        QByteArray lying = bytes;  // every tag's data overwritten with garbage after its type
        for (int i = 140; i < lying.size(); i += 7)
            lying[i] = char(0xFF);
        damaged << lying;
        for (const QByteArray& d : damaged) {
            const QString file = tmp_.filePath(QStringLiteral("damaged.icc"));
            QFile f(file);
            f.open(QIODevice::WriteOnly | QIODevice::Truncate);
            f.write(d);
            f.close();
            const Run info = cli({QStringLiteral("info"), QStringLiteral("--json"), file});
            QVERIFY(info.status == 0 || info.status == 1);
            // Entries past the end are dropped by the engine, and said so.
            if (info.status == 0 && d == scrambled)
                QVERIFY(info.json()[QStringLiteral("profiles")][0][QStringLiteral("warnings")].toArray().size() >= 1);
            if (info.status != 0)
                continue;
            for (const QJsonValue t : info.json()[QStringLiteral("profiles")][0][QStringLiteral("tags")].toArray()) {
                const Run tag = cli({QStringLiteral("tag"), QStringLiteral("--json"), file, t[QStringLiteral("raw")].toString()});
                QVERIFY(tag.status == 0 || tag.status == 1);
                QVERIFY(!tag.json().isEmpty());
                ++checked;
            }
        }
    }
    QVERIFY(checked > 100);
}

void TestCli::infoJsonMatchesHeaderBytes()
{
    const QStringList files = corpus();
    QVERIFY(files.size() >= 30);
    const Run r = cli(QStringList{QStringLiteral("info"), QStringLiteral("--json")} + files);
    QCOMPARE(r.status, int(kExitOk));
    const QJsonArray profiles = r.json()[QStringLiteral("profiles")].toArray();
    QCOMPARE(profiles.size(), files.size());

    // ICC.1:2010 7.2: the stored bytes of every header field.
    const struct {
        const char* key;
        int offset;
        int length;
    } fields[] = {{"size", 0, 4},      {"cmm", 4, 4},          {"version", 8, 4},      {"class", 12, 4},
                  {"colorSpace", 16, 4}, {"pcs", 20, 4},       {"created", 24, 12},    {"magic", 36, 4},
                  {"platform", 40, 4}, {"flags", 44, 4},       {"manufacturer", 48, 4}, {"model", 52, 4},
                  {"attributes", 56, 8}, {"intent", 64, 4},    {"illuminant", 68, 12}, {"creator", 80, 4},
                  {"profileId", 84, 16}};
    for (int i = 0; i < files.size(); ++i) {
        const QByteArray bytes = fileBytes(files[i]);
        const QJsonObject p = profiles[i].toObject();
        QCOMPARE(p[QStringLiteral("file")].toString(), files[i]);
        QCOMPARE(p[QStringLiteral("fileSize")].toInt(), int(bytes.size()));
        const QJsonObject header = p[QStringLiteral("header")].toObject();
        QCOMPARE(header.size(), int(std::size(fields)));
        for (const auto& f : fields) {
            const QJsonObject field = header[QLatin1String(f.key)].toObject();
            QVERIFY2(field[QStringLiteral("raw")].toString() == hexOf(bytes, f.offset, f.length), f.key);
            QVERIFY2(field[QStringLiteral("name")].isString(), f.key);
        }
        QCOMPARE(header[QStringLiteral("size")][QStringLiteral("value")].toInteger(), qint64(be32At(bytes, 0)));
        QCOMPARE(header[QStringLiteral("class")][QStringLiteral("value")].toString(), QString::fromLatin1(bytes.mid(12, 4)));
        QCOMPARE(header[QStringLiteral("magic")][QStringLiteral("value")].toString(), QStringLiteral("acsp"));
        // An all-zero signature has no characters: null, named "none".
        const QJsonObject manufacturer = header[QStringLiteral("manufacturer")].toObject();
        if (be32At(bytes, 48) == 0) {
            QVERIFY(manufacturer[QStringLiteral("value")].isNull());
            QCOMPARE(manufacturer[QStringLiteral("name")].toString(), QStringLiteral("none"));
        } else {
            QCOMPARE(manufacturer[QStringLiteral("value")].toString().size(), 4);
        }
        QCOMPARE(header[QStringLiteral("version")][QStringLiteral("value")].toString(),
                 QStringLiteral("%1.%2.%3").arg(uchar(bytes[8])).arg(uchar(bytes[9]) >> 4).arg(uchar(bytes[9]) & 0xF));
        const QJsonObject illuminant = header[QStringLiteral("illuminant")][QStringLiteral("value")].toObject();
        QCOMPARE(illuminant[QStringLiteral("Y")].toDouble(), qint32(be32At(bytes, 72)) / 65536.0);

        // The directory: every stored entry (none of the corpus is damaged) with its offset, size and type.
        const QJsonArray tags = p[QStringLiteral("tags")].toArray();
        QCOMPARE(p[QStringLiteral("tagCount")].toInt(), int(be32At(bytes, 128)));
        QCOMPARE(tags.size(), int(be32At(bytes, 128)));
        for (int t = 0; t < tags.size(); ++t) {
            const QJsonObject tag = tags[t].toObject();
            const int entry = 132 + 12 * t;
            QCOMPARE(tag[QStringLiteral("raw")].toString(), hexOf(bytes, entry, 4));
            QCOMPARE(tag[QStringLiteral("offset")].toInteger(), qint64(be32At(bytes, entry + 4)));
            QCOMPARE(tag[QStringLiteral("size")].toInteger(), qint64(be32At(bytes, entry + 8)));
            QCOMPARE(tag[QStringLiteral("type")].toString(), QString::fromLatin1(bytes.mid(int(be32At(bytes, entry + 4)), 4)));
            QVERIFY(tag[QStringLiteral("name")].isString());
            QVERIFY(tag[QStringLiteral("linkedTo")].isNull() || tag[QStringLiteral("linkedTo")].isString());
        }
        QVERIFY(p[QStringLiteral("warnings")].isArray());
    }
}

void TestCli::infoReportsFailuresPerProfile()
{
    const QString srgb = kColord + QStringLiteral("sRGB.icc");
    const Run r = cli({QStringLiteral("info"), QStringLiteral("--json"), srgb, tmp_.filePath(QStringLiteral("gone.icc")), QStringLiteral("*lab")});
    QCOMPARE(r.status, int(kExitUnreadable));
    const QJsonArray profiles = r.json()[QStringLiteral("profiles")].toArray();
    QCOMPARE(profiles.size(), 3);
    QVERIFY(profiles[0][QStringLiteral("error")].isNull());
    QVERIFY(profiles[1][QStringLiteral("error")].toString().contains(QStringLiteral("no such file")));
    // The built-in is shown as the engine writes it.
    QCOMPARE(profiles[2][QStringLiteral("header")][QStringLiteral("colorSpace")][QStringLiteral("value")].toString(), QStringLiteral("Lab "));
    QCOMPARE(profiles[2][QStringLiteral("header")][QStringLiteral("class")][QStringLiteral("value")].toString(), QStringLiteral("abst"));
    QCOMPARE(profiles[0][QStringLiteral("matrixShaper")].toBool(), true);
}

void TestCli::infoTextListsDirectory()
{
    const Run r = cli({QStringLiteral("info"), kColord + QStringLiteral("sRGB.icc")});
    QCOMPARE(r.status, int(kExitOk));
    QVERIFY(r.out.contains("Class:         'mntr'  Display"));
    QVERIFY(r.out.contains("Matrix shaper: yes"));
    // Shared TRC data shows as links.
    QVERIFY(r.out.contains("-> rTRC"));
}

void TestCli::tagDecodesEveryCorpusTag()
{
    int luts = 0;
    for (const QString& path : corpus()) {
        const QJsonArray tags = cli({QStringLiteral("info"), QStringLiteral("--json"), path})
                                    .json()[QStringLiteral("profiles")][0][QStringLiteral("tags")]
                                    .toArray();
        QVERIFY(!tags.isEmpty());
        for (const QJsonValue t : tags) {
            const QString sig = t[QStringLiteral("raw")].toString();
            const Run r = cli({QStringLiteral("tag"), QStringLiteral("--json"), path, sig});
            const QJsonObject doc = r.json();
            // colord's named-colour profiles (written by another CMS) carry a 'B2A0' whose M curves
            // overlap its matrix: the engine rightly refuses it. It is shown as bytes, with status 1.
            const QString name = QFileInfo(path).fileName();
            if ((name == QLatin1String("Crayons.icc") || name == QLatin1String("x11-colors.icc")) && sig == QLatin1String("0x42324130")) {
                QCOMPARE(r.status, int(kExitUnreadable));
                QVERIFY(!doc[QStringLiteral("decoded")].toBool());
                QVERIFY(doc[QStringLiteral("error")].toString().contains(QStringLiteral("Corrupted tag 'B2A0'")));
                QCOMPARE(doc[QStringLiteral("hex")].toString().size(), 2 * int(t[QStringLiteral("size")].toInteger()));
                QVERIFY(r.err.contains("Corrupted tag"));
                continue;
            }
            QVERIFY2(r.status == 0, qPrintable(path + QLatin1Char(' ') + sig + QLatin1Char(' ') + QString::fromUtf8(r.err)));
            QVERIFY2(doc[QStringLiteral("decoded")].toBool(), qPrintable(path + QLatin1Char(' ') + sig));
            QCOMPARE(doc[QStringLiteral("type")].toString(), t[QStringLiteral("type")].toString());
            const QJsonObject content = doc[QStringLiteral("content")].toObject();
            QVERIFY(!content.isEmpty());
            if (content.contains(QStringLiteral("stages"))) {
                ++luts;
                // Channel counts join from stage to stage; CLUT grids have one size per input.
                int channels = content[QStringLiteral("inputChannels")].toInt();
                for (const QJsonValue s : content[QStringLiteral("stages")].toArray()) {
                    QCOMPARE(s[QStringLiteral("inputs")].toInt(), channels);
                    channels = s[QStringLiteral("outputs")].toInt();
                    if (s[QStringLiteral("type")].toString() == QLatin1String("clut"))
                        QCOMPARE(s[QStringLiteral("gridPoints")].toArray().size(), s[QStringLiteral("inputs")].toInt());
                }
                QCOMPARE(channels, content[QStringLiteral("outputChannels")].toInt());
            }
            // Text output too.
            QCOMPARE(cli({QStringLiteral("tag"), path, sig}).status, 0);
        }
    }
    QVERIFY(luts >= 10);
}

void TestCli::tagNumbersMatchStoredBytes()
{
    const QString path = kColord + QStringLiteral("sRGB.icc");
    const QByteArray bytes = fileBytes(path);
    const QJsonObject dir = cli({QStringLiteral("info"), QStringLiteral("--json"), path}).json()[QStringLiteral("profiles")][0].toObject();
    auto offsetOf = [&](const QString& sig) {
        for (const QJsonValue t : dir[QStringLiteral("tags")].toArray())
            if (t[QStringLiteral("signature")].toString() == sig)
                return int(t[QStringLiteral("offset")].toInteger());
        return -1;
    };
    auto s15 = [&](int at) { return qint32(be32At(bytes, at)) / 65536.0; };

    // XYZ: three s15Fixed16 after the type base, and the chromaticity computed from them.
    const int r = offsetOf(QStringLiteral("rXYZ"));
    const QJsonObject xyz = cli({QStringLiteral("tag"), QStringLiteral("--json"), path, QStringLiteral("rXYZ")}).json()[QStringLiteral("content")].toObject();
    QCOMPARE(xyz[QStringLiteral("X")].toDouble(), s15(r + 8));
    QCOMPARE(xyz[QStringLiteral("Y")].toDouble(), s15(r + 12));
    QCOMPARE(xyz[QStringLiteral("Z")].toDouble(), s15(r + 16));
    const double sum = s15(r + 8) + s15(r + 12) + s15(r + 16);
    QVERIFY(std::fabs(xyz[QStringLiteral("x")].toDouble() - s15(r + 8) / sum) < 1e-12);

    // 'para' function 3: five parameters, engine type 4.
    const int trc = offsetOf(QStringLiteral("rTRC"));
    QCOMPARE(bytes.mid(trc, 4), QByteArray("para"));
    const QJsonObject curve = cli({QStringLiteral("tag"), QStringLiteral("--json"), path, QStringLiteral("gTRC")}).json()[QStringLiteral("content")].toObject();
    QCOMPARE(curve[QStringLiteral("kind")].toString(), QStringLiteral("parametric"));
    QCOMPARE(curve[QStringLiteral("iccFunction")].toInt(), int(be32At(bytes, trc + 8) >> 16));
    QCOMPARE(curve[QStringLiteral("type")].toInt(), curve[QStringLiteral("iccFunction")].toInt() + 1);
    const QJsonArray params = curve[QStringLiteral("parameters")].toArray();
    QCOMPARE(params.size(), 5);
    for (int i = 0; i < params.size(); ++i)
        QCOMPARE(params[i].toDouble(), s15(trc + 12 + 4 * i));

    // 'chad' (sf32): nine values, also as three rows.
    const QJsonObject chad = cli({QStringLiteral("tag"), QStringLiteral("--json"), path, QStringLiteral("chad")}).json()[QStringLiteral("content")].toObject();
    QCOMPARE(chad[QStringLiteral("values")].toArray().size(), 9);
    QCOMPARE(chad[QStringLiteral("matrix")][1][1].toDouble(), s15(offsetOf(QStringLiteral("chad")) + 8 + 16));

    // A curve table: the entries as stored.
    const QString gray = kGhostscript + QStringLiteral("sgray.icc");
    const QJsonObject grayTrc = cli({QStringLiteral("tag"), QStringLiteral("--json"), gray, QStringLiteral("kTRC")}).json();
    if (grayTrc[QStringLiteral("type")].toString() == QLatin1String("curv")) {
        const QByteArray g = fileBytes(gray);
        const int at = int(grayTrc[QStringLiteral("offset")].toInteger());
        const QJsonObject c = grayTrc[QStringLiteral("content")].toObject();
        const int count = int(be32At(g, at + 8));
        if (count > 1) {
            QCOMPARE(c[QStringLiteral("table")].toArray().size(), count);
            QCOMPARE(c[QStringLiteral("table")][count - 1].toInt(), (uchar(g[at + 12 + 2 * (count - 1)]) << 8) | uchar(g[at + 13 + 2 * (count - 1)]));
        }
    }
}

void TestCli::tagShowsEngineWrittenContent()
{
    // A profile our engine writes, with content whose decoded form is known exactly.
    krmProfile p = krmCreate_sRGBProfile(nullptr);
    QVERIFY(p);
    krmMLU* text = krmMLUAlloc(nullptr, 2);
    krmMLUSetASCII(text, "en", "US", "Proof stock A");
    const krmWChar french[] = {u'É', u'p', u'r', u'e', u'u', u'v', u'e', 0};
    krmMLUSetWide(text, "fr", "FR", french);
    QVERIFY(krmWriteTag(p, krmSig("desc"), text));
    krmMLUFree(text);

    krmNamedColorList* colors = krmAllocNamedColorList(nullptr, 2, 3, "PX ", " C");
    const krmUInt16Number pcs[3] = {0x8000, 0x8000, 0x8000};  // legacy L*a*b*: L* 50.2, a* 0, b* 0
    const krmUInt16Number device[krmMAXCHANNELS] = {0xFFFF, 0, 0x8000};
    QVERIFY(krmAppendNamedColor(colors, "Red", pcs, device));
    QVERIFY(krmAppendNamedColor(colors, "Blue", pcs, device));

    krmDict* dict = krmDictAlloc(nullptr);
    const krmWChar n1[] = {u'a', 0}, v1[] = {u'1', 0}, n2[] = {u'b', 0}, v2[] = {u'2', 0};
    krmDictAddEntry(dict, n1, v1, nullptr, nullptr);
    krmDictAddEntry(dict, n2, v2, nullptr, nullptr);
    QVERIFY(krmWriteTag(p, krmSig("meta"), dict));
    krmDictFree(dict);

    const QString file = tmp_.filePath(QStringLiteral("written.icc"));
    QVERIFY(krmSaveProfileToFile(p, file.toLocal8Bit().constData()));
    krmCloseProfile(p);

    const QJsonObject desc = cli({QStringLiteral("tag"), QStringLiteral("--json"), file, QStringLiteral("desc")}).json();
    const QJsonArray translations = desc[QStringLiteral("content")][QStringLiteral("translations")].toArray();
    QCOMPARE(translations.size(), 2);
    QCOMPARE(translations[0][QStringLiteral("language")].toString(), QStringLiteral("en"));
    QCOMPARE(translations[0][QStringLiteral("country")].toString(), QStringLiteral("US"));
    QCOMPARE(translations[0][QStringLiteral("text")].toString(), QStringLiteral("Proof stock A"));
    QCOMPARE(translations[1][QStringLiteral("text")].toString(), QString::fromUtf16(french));

    // Dictionaries list their entries in stored order.
    const QJsonArray entries = cli({QStringLiteral("tag"), QStringLiteral("--json"), file, QStringLiteral("meta")})
                                   .json()[QStringLiteral("content")][QStringLiteral("entries")]
                                   .toArray();
    QCOMPARE(entries.size(), 2);
    QStringList names;
    for (const QJsonValue e : entries)
        names << e[QStringLiteral("name")].toString() + QLatin1Char('=') + e[QStringLiteral("value")].toString();
    QVERIFY(names.contains(QStringLiteral("a=1")) && names.contains(QStringLiteral("b=2")));

    // Named colours: an 'nmcl' profile with one 'ncl2' tag.
    krmProfile named = krmCreateProfilePlaceholder(nullptr);
    krmSetProfileClass(named, krmSig("nmcl"));
    krmSetProfileColorSpace(named, krmSig("RGB "));
    krmSetProfilePCS(named, krmSig("Lab "));
    krmSetProfileVersion(named, 4.3);
    QVERIFY(krmWriteTag(named, krmSig("ncl2"), colors));
    const QString namedFile = tmp_.filePath(QStringLiteral("named.icc"));
    QVERIFY(krmSaveProfileToFile(named, namedFile.toLocal8Bit().constData()));
    krmCloseProfile(named);
    krmFreeNamedColorList(colors);

    const QJsonObject ncl = cli({QStringLiteral("tag"), QStringLiteral("--json"), namedFile, QStringLiteral("ncl2")}).json()[QStringLiteral("content")].toObject();
    QCOMPARE(ncl[QStringLiteral("prefix")].toString(), QStringLiteral("PX "));
    QCOMPARE(ncl[QStringLiteral("suffix")].toString(), QStringLiteral(" C"));
    QCOMPARE(ncl[QStringLiteral("deviceChannels")].toInt(), 3);
    const QJsonArray list = ncl[QStringLiteral("colors")].toArray();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list[1][QStringLiteral("name")].toString(), QStringLiteral("Blue"));
    QCOMPARE(list[0][QStringLiteral("device")].toArray(), (QJsonArray{65535, 0, 32768}));
    const QJsonArray lab = list[0][QStringLiteral("pcs")][QStringLiteral("Lab")].toArray();
    QVERIFY(std::fabs(lab[0].toDouble() - 0x8000 / 652.8) < 1e-9);  // legacy encoding: L* = w / 652.8
    QVERIFY(std::fabs(lab[1].toDouble()) < 1e-9);
}

void TestCli::tagRawDumpsStoredBytes()
{
    const QString path = kColord + QStringLiteral("AdobeRGB1998.icc");
    const QByteArray bytes = fileBytes(path);
    const QJsonObject raw = cli({QStringLiteral("tag"), QStringLiteral("--json"), QStringLiteral("--raw"), path, QStringLiteral("wtpt")}).json();
    const int offset = int(raw[QStringLiteral("offset")].toInteger());
    const int size = int(raw[QStringLiteral("size")].toInteger());
    QCOMPARE(raw[QStringLiteral("hex")].toString(), QString::fromLatin1(bytes.mid(offset, size).toHex()));
    // The layout keeps every key: nothing decoded with --raw.
    QVERIFY(raw[QStringLiteral("content")].isNull());
    QCOMPARE(raw[QStringLiteral("decoded")].toBool(true), false);

    // Text dump: offsets from the tag's place in the file, hex bytes, printable characters.
    const Run text = cli({QStringLiteral("tag"), QStringLiteral("--raw"), path, QStringLiteral("wtpt")});
    QCOMPARE(text.status, int(kExitOk));
    const QByteArray firstLine = text.out.split('\n').first();
    QVERIFY(firstLine.startsWith(QByteArray::number(offset, 16).rightJustified(8, '0')));
    QVERIFY(firstLine.contains("58 59 5a 20"));
    QVERIFY(firstLine.contains("  XYZ ...."));
}

void TestCli::tagSignatureForms()
{
    const QString path = kColord + QStringLiteral("sRGB.icc");
    const QByteArray byName = cli({QStringLiteral("tag"), QStringLiteral("--json"), path, QStringLiteral("wtpt")}).out;
    QCOMPARE(cli({QStringLiteral("tag"), QStringLiteral("--json"), path, QStringLiteral("0x77747074")}).out, byName);
    // Short signatures are padded with blanks: 'bfd' is 'bfd '.
    const Run padded = cli({QStringLiteral("tag"), path, QStringLiteral("bfd")});
    QCOMPARE(padded.status, int(kExitUnreadable));
    QVERIFY(padded.err.contains("has no tag 'bfd '"));
    // Strict reading keeps to the tag's allowed types; these tags are all standard, so it agrees.
    QCOMPARE(cli({QStringLiteral("tag"), QStringLiteral("--json"), QStringLiteral("--strict"), path, QStringLiteral("wtpt")}).out, byName);
}

void TestCli::transformWhiteToLab()
{
    for (const QString& srgb : {QStringLiteral("*srgb"), kColord + QStringLiteral("sRGB.icc")}) {
        const Run r = cli({QStringLiteral("transform"), QStringLiteral("--profile"), srgb, QStringLiteral("--profile"), QStringLiteral("*lab"),
                           QStringLiteral("--json"), QStringLiteral("--values"), QStringLiteral("1 1 1; 0 0 0")});
        QCOMPARE(r.status, int(kExitOk));
        const QJsonArray out = r.json()[QStringLiteral("results")][0][QStringLiteral("output")].toArray();
        QVERIFY2(std::fabs(out[0].toDouble() - 100.0) <= 0.01, qPrintable(srgb));
        QVERIFY(std::fabs(out[1].toDouble()) <= 0.01);
        QVERIFY(std::fabs(out[2].toDouble()) <= 0.01);
        const QJsonArray black = r.json()[QStringLiteral("results")][1][QStringLiteral("output")].toArray();
        QVERIFY(std::fabs(black[0].toDouble()) <= 0.01);
    }
    // Mid grey: sRGB 0.5 is linear 0.2140, L* = 116 * 0.2140^(1/3) - 16 = 53.389.
    const Run grey = cli({QStringLiteral("transform"), QStringLiteral("--profile"), QStringLiteral("*srgb"), QStringLiteral("--profile"),
                          QStringLiteral("*lab"), QStringLiteral("--values"), QStringLiteral("0.5 0.5 0.5")});
    const double linear = std::pow((0.5 + 0.055) / 1.055, 2.4);
    QVERIFY(std::fabs(numbers(grey.out)[0] - (116.0 * std::cbrt(linear) - 16.0)) < 0.02);
}

void TestCli::transformChainsOfThree()
{
    const QString srgb = kColord + QStringLiteral("sRGB.icc");
    const QString adobe = kColord + QStringLiteral("AdobeRGB1998.icc");
    const QString values = QStringLiteral("1 0 0; 0.2 0.6 0.9; 0.5 0.5 0.5");
    auto run = [&](const QStringList& chain) {
        QStringList args{QStringLiteral("transform"), QStringLiteral("--intent"), QStringLiteral("1"), QStringLiteral("--precision"),
                         QStringLiteral("6"), QStringLiteral("--values"), values};
        for (const QString& p : chain)
            args << QStringLiteral("--profile") << p;
        const Run r = cli(args);
        return r.status == 0 ? r.out.trimmed().split('\n') : QList<QByteArray>();
    };
    // RGB -> XYZ directly, and through Adobe RGB and back: the same XYZ.
    const QList<QByteArray> direct = run({srgb});
    const QList<QByteArray> through = run({srgb, adobe, adobe});
    QCOMPARE(direct.size(), 3);
    QCOMPARE(through.size(), 3);
    for (int i = 0; i < 3; ++i)
        QVERIFY2(deltaE(numbers(direct[i]), numbers(through[i])) < 0.002, through[i].constData());

    // sRGB -> Lab -> Lab equals sRGB -> Lab.
    const QList<QByteArray> lab = run({QStringLiteral("*srgb"), QStringLiteral("*lab")});
    const QList<QByteArray> labTwice = run({QStringLiteral("*srgb"), QStringLiteral("*lab"), QStringLiteral("*lab")});
    for (int i = 0; i < 3; ++i)
        QVERIFY(deltaE(numbers(lab[i]), numbers(labTwice[i])) < 0.01);

    // The two spaces share their red primary and white: sRGB red is pure Adobe red of linear
    // value 1 / (Y of Adobe red / Y of sRGB red) = 0.2126 / 0.2974, encoded with gamma 563/256.
    const QVector<double> red = numbers(run({srgb, adobe}).first());
    const double expected = std::pow(0.212639 / 0.297361, 256.0 / 563.0);
    QVERIFY2(std::fabs(red[0] - expected) < 0.003, run({srgb, adobe}).first().constData());
    // Green and blue vanish in linear light (the stored colorants are rounded to 1/65536).
    QVERIFY(std::pow(red[1], 563.0 / 256.0) < 1e-4 && std::pow(red[2], 563.0 / 256.0) < 1e-4);
}

void TestCli::transformLabCmykRoundTrip()
{
    const QString cmyk = kGhostscript + QStringLiteral("ps_cmyk.icc");
    const QByteArray neutrals = "30 0 0\n50 0 0\n70 0 0\n90 0 0\n";
    const QByteArray colours = "60 -20 20\n70 10 40\n60 30 20\n";
    const QStringList chain{QStringLiteral("transform"), QStringLiteral("--intent"), QStringLiteral("relative"),
                            QStringLiteral("--profile"), QStringLiteral("*lab"), QStringLiteral("--profile"), cmyk,
                            QStringLiteral("--profile"), cmyk, QStringLiteral("--profile"), QStringLiteral("*lab")};
    const Run n = cli(chain, neutrals);
    QCOMPARE(n.status, int(kExitOk));
    const QList<QByteArray> in = neutrals.trimmed().split('\n'), out = n.out.trimmed().split('\n');
    QCOMPARE(out.size(), in.size());
    for (int i = 0; i < in.size(); ++i)
        QVERIFY2(deltaE(numbers(in[i]), numbers(out[i])) < 0.5, out[i].constData());
    // In-gamut colours come back within what this coarse (5-point) table allows.
    const Run c = cli(chain, colours);
    const QList<QByteArray> cin = colours.trimmed().split('\n'), cout = c.out.trimmed().split('\n');
    for (int i = 0; i < cin.size(); ++i)
        QVERIFY2(deltaE(numbers(cin[i]), numbers(cout[i])) < 4.0, cout[i].constData());

    // The separation itself: ink percentages, white paper takes no ink, darker needs more.
    const Run sep = cli({QStringLiteral("transform"), QStringLiteral("--intent"), QStringLiteral("1"), QStringLiteral("--profile"),
                         QStringLiteral("*lab"), QStringLiteral("--profile"), cmyk, QStringLiteral("--json")},
                        "100 0 0\n50 0 0\n20 0 0\n");
    const QJsonObject doc = sep.json();
    QCOMPARE(doc[QStringLiteral("output")][QStringLiteral("space")].toString(), QStringLiteral("CMYK"));
    QCOMPARE(doc[QStringLiteral("output")][QStringLiteral("channels")].toInt(), 4);
    double previous = -1;
    for (const QJsonValue r : doc[QStringLiteral("results")].toArray()) {
        double total = 0;
        for (const QJsonValue v : r[QStringLiteral("output")].toArray()) {
            QVERIFY(v.toDouble() >= -0.001 && v.toDouble() <= 100.001);
            total += v.toDouble();
        }
        QVERIFY(total > previous);
        previous = total;
    }
    QVERIFY(doc[QStringLiteral("results")][0][QStringLiteral("output")][3].toDouble() < 1.0);
}

void TestCli::transformFormatsAndJson()
{
    // 8-bit in, 16-bit out through the same profile: 255 is 65535, 0 is 0.
    const Run r = cli({QStringLiteral("transform"), QStringLiteral("--profile"), QStringLiteral("*srgb"), QStringLiteral("--profile"),
                       QStringLiteral("*srgb"), QStringLiteral("--in-format"), QStringLiteral("8"), QStringLiteral("--out-format"),
                       QStringLiteral("16"), QStringLiteral("--json"), QStringLiteral("--values"), QStringLiteral("255 255 255;0 0 0")});
    QCOMPARE(r.status, int(kExitOk));
    const QJsonObject doc = r.json();
    const QStringList keys{QStringLiteral("profiles"), QStringLiteral("intent"), QStringLiteral("bpc"), QStringLiteral("adaptation"),
                           QStringLiteral("input"), QStringLiteral("output"), QStringLiteral("results")};
    for (const QString& k : keys)
        QVERIFY2(doc.contains(k), qPrintable(k));
    QCOMPARE(doc[QStringLiteral("intent")][QStringLiteral("code")].toInt(), 0);
    QCOMPARE(doc[QStringLiteral("adaptation")].toDouble(), 1.0);
    QCOMPARE(doc[QStringLiteral("input")][QStringLiteral("format")].toString(), QStringLiteral("8"));
    QCOMPARE(doc[QStringLiteral("output")][QStringLiteral("space")].toString(), QStringLiteral("RGB"));
    QCOMPARE(doc[QStringLiteral("results")][0][QStringLiteral("input")].toArray(), (QJsonArray{255, 255, 255}));
    QCOMPARE(doc[QStringLiteral("results")][0][QStringLiteral("output")].toArray(), (QJsonArray{65535, 65535, 65535}));
    QCOMPARE(doc[QStringLiteral("results")][1][QStringLiteral("output")].toArray(), (QJsonArray{0, 0, 0}));

    // 16-bit Lab uses the ICC version 4 encoding: L* 100 is 0xFFFF, a* = b* = 0 is 0x8080.
    const Run lab16 = cli({QStringLiteral("transform"), QStringLiteral("--profile"), QStringLiteral("*srgb"), QStringLiteral("--profile"),
                           QStringLiteral("*lab"), QStringLiteral("--out-format"), QStringLiteral("16"), QStringLiteral("--values"),
                           QStringLiteral("1 1 1")});
    const QVector<double> w = numbers(lab16.out);
    QVERIFY(std::fabs(w[0] - 65535) <= 2 && std::fabs(w[1] - 0x8080) <= 2 && std::fabs(w[2] - 0x8080) <= 2);

    // Precision and no "-0".
    const Run p = cli({QStringLiteral("transform"), QStringLiteral("--profile"), QStringLiteral("*srgb"), QStringLiteral("--profile"),
                       QStringLiteral("*lab"), QStringLiteral("--precision"), QStringLiteral("1"), QStringLiteral("--values"), QStringLiteral("1 1 1")});
    QCOMPARE(p.out, QByteArray("100.0 0.0 0.0\n"));

    // No values: nothing to print, success.
    const Run none = cli({QStringLiteral("transform"), QStringLiteral("--profile"), QStringLiteral("*srgb")}, "\n# nothing\n");
    QCOMPARE(none.status, int(kExitOk));
    QVERIFY(none.out.isEmpty());
}

void TestCli::transformValueErrors()
{
    const QStringList base{QStringLiteral("transform"), QStringLiteral("--profile"), QStringLiteral("*srgb"), QStringLiteral("--profile"), QStringLiteral("*lab")};
    const struct {
        QByteArray input;
        const char* message;
        QStringList extra;
    } cases[] = {
        {"1 1\n", "colour 1: RGB takes 3 values, got 2", {}},
        {"1 1 1\n0.5 x 0.5\n", "colour 2: 'x' is not a number", {}},
        {"1 1 1 1\n", "takes 3 values, got 4", {}},
        {"256 0 0\n", "is not an integer from 0 to 255", {QStringLiteral("--in-format"), QStringLiteral("8")}},
        {"0.5 0 0\n", "is not an integer from 0 to 65535", {QStringLiteral("--in-format"), QStringLiteral("16")}},
        {"nan 0 0\n", "is not a number", {}},
    };
    for (const auto& c : cases) {
        const Run r = cli(base + c.extra, c.input);
        QCOMPARE(r.status, int(kExitUsage));
        QVERIFY2(r.err.contains(c.message), r.err.constData());
        // Nothing is printed when any colour is malformed.
        QVERIFY(r.out.isEmpty());
    }
}

void TestCli::transformNamedColorIndex()
{
    // The index of a named colour gives the colour's PCS value as the 'ncl2' tag lists it.
    const QString crayons = kColord + QStringLiteral("Crayons.icc");
    const QJsonArray colors = cli({QStringLiteral("tag"), QStringLiteral("--json"), crayons, QStringLiteral("ncl2")})
                                  .json()[QStringLiteral("content")][QStringLiteral("colors")]
                                  .toArray();
    QVERIFY(colors.size() > 2);
    const Run r = cli({QStringLiteral("transform"), QStringLiteral("--profile"), crayons, QStringLiteral("--profile"),
                       QStringLiteral("*lab"), QStringLiteral("--json"), QStringLiteral("--values"), QStringLiteral("0;2")});
    QCOMPARE(r.status, int(kExitOk));
    const QJsonArray results = r.json()[QStringLiteral("results")].toArray();
    for (int i = 0; i < 2; ++i) {
        const QJsonArray lab = colors[i * 2][QStringLiteral("pcs")][QStringLiteral("Lab")].toArray();
        const QJsonArray out = results[i][QStringLiteral("output")].toArray();
        for (int k = 0; k < 3; ++k)
            QVERIFY(std::fabs(lab[k].toDouble() - out[k].toDouble()) < 0.01);
    }
    // An index past the list: the engine's message and status 1.
    const Run past = cli({QStringLiteral("transform"), QStringLiteral("--profile"), crayons, QStringLiteral("--values"),
                          QString::number(colors.size())});
    QCOMPARE(past.status, int(kExitUnreadable));
    QVERIFY(past.err.contains("out of range"));
    // Fractions are no index.
    QCOMPARE(cli({QStringLiteral("transform"), QStringLiteral("--profile"), crayons, QStringLiteral("--values"), QStringLiteral("0.5")}).status,
             int(kExitUsage));
}

void TestCli::convertEmbedsProfileAndMatchesTransform()
{
    // An 8-bit sRGB image with a spread of colours.
    QImage image(32, 8, QImage::Format_RGB888);
    QStringList values;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c((x * 8) & 0xFF, (y * 37 + x * 3) & 0xFF, (255 - x * 5) & 0xFF);
            image.setPixelColor(x, y, c);
        }
    const QString in = tmp_.filePath(QStringLiteral("in.png"));
    QVERIFY(image.save(in));
    for (const QString& ext : {QStringLiteral("png"), QStringLiteral("jpg")}) {
        const QString out = tmp_.filePath(QStringLiteral("out.") + ext);
        const QString adobe = kColord + QStringLiteral("AdobeRGB1998.icc");
        const Run r = program({QStringLiteral("convert"), in, out, QStringLiteral("--profile"), adobe, QStringLiteral("--quality"), QStringLiteral("100")});
        QCOMPARE(r.status, 0);
        QVERIFY(r.err.contains("assuming sRGB"));

        // Qt reads the same bytes back as the image's colour space.
        QImageReader reader(out);
        const QImage converted = reader.read();
        QVERIFY(!converted.isNull());
        QCOMPARE(converted.colorSpace().iccProfile(), fileBytes(adobe));
        QCOMPARE(embeddedProfile(fileBytes(out), ext == QLatin1String("png") ? ImageKind::Png : ImageKind::Jpeg), fileBytes(adobe));
        if (ext != QLatin1String("png"))
            continue;

        // Pixels equal transform's 8-bit output for the same values.
        QStringList rows;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                rows << QStringLiteral("%1 %2 %3").arg(c.red()).arg(c.green()).arg(c.blue());
            }
        const Run t = program({QStringLiteral("transform"), QStringLiteral("--profile"), QStringLiteral("*srgb"), QStringLiteral("--profile"),
                               adobe, QStringLiteral("--in-format"), QStringLiteral("8"), QStringLiteral("--out-format"), QStringLiteral("8")},
                              rows.join(QLatin1Char('\n')).toUtf8());
        QCOMPARE(t.status, 0);
        const QList<QByteArray> lines = t.out.trimmed().split('\n');
        QCOMPARE(lines.size(), image.width() * image.height());
        const QImage rgb = converted.convertToFormat(QImage::Format_RGB888);
        int differing = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QVector<double> v = numbers(lines[y * image.width() + x]);
                const QColor c = rgb.pixelColor(x, y);
                if (c.red() != v[0] || c.green() != v[1] || c.blue() != v[2])
                    ++differing;
            }
        QCOMPARE(differing, 0);
    }
}

void TestCli::convertKeepsAlphaAndDepth()
{
    QImage image(16, 4, QImage::Format_RGBA64);
    for (int x = 0; x < 16; ++x)
        for (int y = 0; y < 4; ++y)
            image.setPixelColor(x, y, QColor::fromRgba64(x * 4000, 30000, 65535 - x * 4000, x * 4369));
    const QString in = tmp_.filePath(QStringLiteral("deep.png"));
    QVERIFY(image.save(in));
    const QString out = tmp_.filePath(QStringLiteral("deep-out.png"));
    const Run r = cli({QStringLiteral("convert"), in, out, QStringLiteral("--profile"), kColord + QStringLiteral("ProPhotoRGB.icc"),
                       QStringLiteral("--src-profile"), QStringLiteral("*srgb")});
    QCOMPARE(r.status, int(kExitOk));
    const QImage converted(out);
    QVERIFY(converted.depth() == 64);
    for (int x = 0; x < 16; ++x)
        QCOMPARE(converted.pixelColor(x, 1).rgba64().alpha(), quint16(x * 4369));
    // The colours did change: ProPhoto has wider primaries than sRGB.
    QVERIFY(converted.pixelColor(0, 0).rgba64().blue() < 65535 - 500);

    // Gray destination from colour pixels is written as a gray image.
    const QString grayOut = tmp_.filePath(QStringLiteral("gray.png"));
    QCOMPARE(cli({QStringLiteral("convert"), in, grayOut, QStringLiteral("--profile"), kGhostscript + QStringLiteral("sgray.icc")}).status,
             int(kExitOk));
    QVERIFY(QImage(grayOut).isGrayscale());
}

void TestCli::convertUsesEmbeddedSourceProfile()
{
    // A converted file carries its profile; converting it back to sRGB uses that profile.
    QImage image(4, 1, QImage::Format_RGB888);
    image.fill(QColor(200, 40, 90));
    const QString in = tmp_.filePath(QStringLiteral("plain.png"));
    QVERIFY(image.save(in));
    const QString adobeFile = tmp_.filePath(QStringLiteral("adobe.png"));
    QCOMPARE(cli({QStringLiteral("convert"), in, adobeFile, QStringLiteral("--profile"), kColord + QStringLiteral("AdobeRGB1998.icc")}).status, 0);
    const QString back = tmp_.filePath(QStringLiteral("back.png"));
    const Run r = cli({QStringLiteral("convert"), adobeFile, back, QStringLiteral("--profile"), QStringLiteral("*srgb")});
    QCOMPARE(r.status, int(kExitOk));
    QVERIFY(!r.err.contains("assuming sRGB"));
    const QColor c = QImage(back).pixelColor(0, 0);
    QVERIFY2(std::abs(c.red() - 200) <= 2 && std::abs(c.green() - 40) <= 2 && std::abs(c.blue() - 90) <= 2,
             qPrintable(c.name()));

    // BMP has no place for a profile: converted all the same, with a note.
    const QString bmp = tmp_.filePath(QStringLiteral("plain.bmp"));
    const Run toBmp = cli({QStringLiteral("convert"), adobeFile, bmp, QStringLiteral("--profile"), QStringLiteral("*srgb")});
    QCOMPARE(toBmp.status, int(kExitOk));
    QVERIFY(toBmp.err.contains("BMP files carry no profile"));
    QCOMPARE(QImage(bmp).pixelColor(0, 0), c);

    // A damaged embedded profile is an error, not a silent sRGB.
    QByteArray broken = fileBytes(adobeFile);
    const QByteArray bad = embedProfilePng(broken, QByteArray(300, 'x'));
    const QString badFile = tmp_.filePath(QStringLiteral("bad.png"));
    QFile f(badFile);
    f.open(QIODevice::WriteOnly);
    f.write(bad);
    f.close();
    const Run failed = cli({QStringLiteral("convert"), badFile, back, QStringLiteral("--profile"), QStringLiteral("*srgb")});
    QCOMPARE(failed.status, int(kExitUnreadable));
    QVERIFY(failed.err.contains("--src-profile"));
}

void TestCli::embeddingRoundTrips()
{
    QImage image(3, 3, QImage::Format_RGB888);
    image.fill(Qt::green);
    QByteArray png, jpeg;
    {
        QBuffer b(&png);
        b.open(QIODevice::WriteOnly);
        QVERIFY(image.save(&b, "png"));
        QBuffer j(&jpeg);
        j.open(QIODevice::WriteOnly);
        QVERIFY(image.save(&j, "jpeg"));
    }
    // A profile larger than one JPEG segment (65519 bytes) is split and joined again.
    const QByteArray large = fileBytes(kGhostscript + QStringLiteral("default_cmyk.icc"));
    QVERIFY(large.size() > 2 * 65519);
    const QByteArray small = fileBytes(kColord + QStringLiteral("sRGB.icc"));
    for (const QByteArray& profile : {small, large}) {
        const QByteArray p = embedProfilePng(png, profile);
        QCOMPARE(embeddedProfile(p, ImageKind::Png), profile);
        QVERIFY(!QImage::fromData(p, "png").isNull());
        const QByteArray j = embedProfileJpeg(jpeg, profile);
        QCOMPARE(embeddedProfile(j, ImageKind::Jpeg), profile);
        QVERIFY(!QImage::fromData(j, "jpeg").isNull());
        // Embedding again replaces, never adds.
        QCOMPARE(embeddedProfile(embedProfileJpeg(j, small), ImageKind::Jpeg), small);
        QCOMPARE(embeddedProfile(embedProfilePng(p, small), ImageKind::Png), small);
    }
    QCOMPARE(imageKindOf(png), ImageKind::Png);
    QCOMPARE(imageKindOf(jpeg), ImageKind::Jpeg);
    QCOMPARE(imageKindOf(QByteArray("II*\0xxxx", 8)), ImageKind::Tiff);
    QCOMPARE(imageKindOf(QByteArray("GIF89a")), ImageKind::Unknown);
    // Cut files give nothing rather than reading past their end.
    QVERIFY(embeddedProfile(embedProfilePng(png, small).left(60), ImageKind::Png).isEmpty());
    QVERIFY(embedProfilePng(png.left(20), small).isEmpty());
    QVERIFY(embeddedProfile(QByteArray("MM\0*\0\0\0\x08\0\x01\x86\x73\0\x07\x7f\xff\xff\xff\0\0\0\0", 22), ImageKind::Tiff).isEmpty());
}

void TestCli::damagedImagesNeverCrash()
{
    // Converted files (carrying a profile) cut at many lengths and with bytes overwritten.
    QImage image(20, 20, QImage::Format_RGB888);
    image.fill(QColor(10, 120, 240));
    const QString in = tmp_.filePath(QStringLiteral("whole.png"));
    QVERIFY(image.save(in));
    const QString adobe = kColord + QStringLiteral("AdobeRGB1998.icc");
    for (const QString& ext : {QStringLiteral("png"), QStringLiteral("jpg")}) {
        const QString converted = tmp_.filePath(QStringLiteral("whole-adobe.") + ext);
        QCOMPARE(cli({QStringLiteral("convert"), in, converted, QStringLiteral("--profile"), adobe}).status, 0);
        const QByteArray bytes = fileBytes(converted);
        QList<QByteArray> damaged;
        for (qsizetype length = 4; length < bytes.size(); length += bytes.size() / 23 + 1)
            damaged << bytes.left(length);
        for (qsizetype at = 20; at < qMin<qsizetype>(bytes.size(), 700); at += 37) {
            QByteArray b = bytes;
            b[at] = char(~uchar(b[at]));
            damaged << b;
        }
        for (const QByteArray& d : damaged) {
            const QString file = tmp_.filePath(QStringLiteral("damaged.") + ext);
            QFile f(file);
            f.open(QIODevice::WriteOnly | QIODevice::Truncate);
            f.write(d);
            f.close();
            const Run r = cli({QStringLiteral("convert"), file, tmp_.filePath(QStringLiteral("damaged-out.png")),
                               QStringLiteral("--profile"), QStringLiteral("*srgb")});
            QVERIFY2(r.status == 0 || r.status == 1, r.err.constData());
        }
    }
}

void TestCli::convertReadsAndWritesCmykTiffAndJpeg()
{
    // sRGB → CMYK TIFF and JPEG with the profile embedded; the inks equal transform's for the same
    // values; back to sRGB from the file's own profile lands near the start.
    QImage image(6, 2, QImage::Format_RGB888);
    for (int x = 0; x < 6; ++x)
        for (int y = 0; y < 2; ++y)
            image.setPixelColor(x, y, QColor(40 * x, 200 - 30 * x, 90 + y * 60));
    const QString in = tmp_.filePath(QStringLiteral("cmyk-in.png"));
    QVERIFY(image.save(in));
    const QString cmyk = kGhostscript + QStringLiteral("ps_cmyk.icc");
    for (const QString& ext : {QStringLiteral("tif"), QStringLiteral("jpg")}) {
        const QString out = tmp_.filePath(QStringLiteral("cmyk-out.") + ext);
        QCOMPARE(cli({QStringLiteral("convert"), in, out, QStringLiteral("--profile"), cmyk}).status, int(kExitOk));
        const DecodeResult d = decodeImage(fileBytes(out));
        QVERIFY2(!d.image.isNull(), qPrintable(d.error));
        QCOMPARE(d.image.space, krmSig("CMYK"));
        QCOMPARE(d.image.icc, fileBytes(cmyk));
        if (ext == QLatin1String("tif")) {
            const Run t = cli({QStringLiteral("transform"), QStringLiteral("--profile"), QStringLiteral("*srgb"),
                               QStringLiteral("--profile"), cmyk, QStringLiteral("--in-format"), QStringLiteral("8"),
                               QStringLiteral("--out-format"), QStringLiteral("8"), QStringLiteral("--values"),
                               QStringLiteral("%1 %2 %3").arg(40 * 3).arg(200 - 90).arg(90)});
            QCOMPARE(t.status, int(kExitOk));
            const QVector<double> inks = numbers(t.out.trimmed());
            for (int k = 0; k < 4; ++k)
                QCOMPARE(double(d.image.scanLine(0)[3 * 4 + k]), inks[k]);
        }
        const QString back = tmp_.filePath(QStringLiteral("cmyk-back.png"));
        const Run r = cli({QStringLiteral("convert"), out, back, QStringLiteral("--profile"), QStringLiteral("*srgb")});
        QCOMPARE(r.status, int(kExitOk));
        QVERIFY(!r.err.contains("assuming"));
        const QColor c = QImage(back).pixelColor(3, 0);
        QVERIFY2(std::abs(c.red() - 120) < 20 && std::abs(c.green() - 110) < 20 && std::abs(c.blue() - 90) < 20,
                 qPrintable(c.name()));
    }
    // A CMYK image without a profile needs one named; CMYK is no format for PNG.
    const RasterImage inks = decodeImage(fileBytes(tmp_.filePath(QStringLiteral("cmyk-out.tif")))).image;
    QByteArray bytes;
    QString error;
    QVERIFY(writeTiff(inks, QByteArray(), bytes, error));
    const QString untagged = tmp_.filePath(QStringLiteral("untagged.tif"));
    QFile f(untagged);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    const QString back = tmp_.filePath(QStringLiteral("untagged-back.png"));
    const Run missing = cli({QStringLiteral("convert"), untagged, back, QStringLiteral("--profile"), QStringLiteral("*srgb")});
    QCOMPARE(missing.status, int(kExitUnreadable));
    QVERIFY(missing.err.contains("--src-profile"));
    QCOMPARE(cli({QStringLiteral("convert"), untagged, back, QStringLiteral("--profile"), QStringLiteral("*srgb"),
                  QStringLiteral("--src-profile"), cmyk}).status, int(kExitOk));
    QCOMPARE(cli({QStringLiteral("convert"), in, tmp_.filePath(QStringLiteral("x.png")), QStringLiteral("--profile"), cmyk}).status,
             int(kExitUnreadable));
}

void TestCli::valueTreeJsonAndText()
{
    CliValue v = CliValue::object();
    v.set(QStringLiteral("b"), 1);
    v.set(QStringLiteral("a"), QStringLiteral("quote \" and \\ and\nline"));
    v.set(QStringLiteral("n"), std::nan(""));
    CliValue list = CliValue::array();
    CliValue item = CliValue::object();
    item.set(QStringLiteral("x"), 0.1);
    list.append(item);
    v.set(QStringLiteral("list"), list);
    v.set(QStringLiteral("b"), 2);  // replaces in place

    const QByteArray json = v.toJson();
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(json, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(o[QStringLiteral("a")].toString(), QStringLiteral("quote \" and \\ and\nline"));
    QVERIFY(o[QStringLiteral("n")].isNull());
    QCOMPARE(o[QStringLiteral("list")][0][QStringLiteral("x")].toDouble(), 0.1);  // shortest form reads back exactly
    // Keys keep their insertion order: the documented order is the printed one.
    QVERIFY(json.indexOf("\"b\"") < json.indexOf("\"a\""));
    QCOMPARE(json.count("\"b\""), 1);

    const QByteArray text = v.toText();
    QVERIFY(text.startsWith("b: 2\na: |\n  quote"));
    QVERIFY(text.contains("list:\n  - x: 0.1\n"));

    // Streamed output is the whole output: long tables nested in list items (a pipeline's stages,
    // lists of lists) spill in order, JSON and text alike.
    auto table = std::make_shared<CliRows>();
    table->columns = 3;
    for (int i = 0; i < 3 * 10000; ++i)
        table->words.push_back(std::uint16_t(i));
    CliValue stages = CliValue::array();
    for (int k = 0; k < 2; ++k) {
        CliValue stage = CliValue::object();
        stage.set(QStringLiteral("index"), k);
        stage.set(QStringLiteral("values"), CliValue::rows(table));
        CliValue inner = CliValue::array();
        inner.append(stage);
        stages.append(k ? inner : stage);
    }
    v.set(QStringLiteral("stages"), stages);
    const QByteArray wholeText = v.toText(), wholeJson = v.toJson();
    QByteArray streamed;
    int spills = 0;
    {
        const CliValue::Spill spill([&](QByteArray& part) {
            streamed += part;
            part.clear();
            ++spills;
        });
        streamed += v.toText();
        QCOMPARE(streamed, wholeText);
        streamed.clear();
        streamed += v.toJson();
        QCOMPARE(streamed, wholeJson);
    }
    QVERIFY(spills > 4);
    QVERIFY(wholeText.contains("stages:\n  - index: 0\n    values:\n      - 0 1 2\n"));
    QVERIFY(wholeText.contains("  - - index: 1\n      values:\n"));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
