// prismet-cli as scripts and CI jobs use it: write errors, profiles whose tag data is missing,
// the versioned JSON layouts with every documented key, bounded hex output, messages, shared
// data, profile IDs, standard input and output, images and the dump.

#include "CliTestSupport.h"
#include "imaging/ImageProfiles.h"

#include <QImage>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <set>

namespace {

const QString kColord = QStringLiteral("/usr/share/color/icc/colord/");
const QString kGhostscript = QStringLiteral("/usr/share/color/icc/ghostscript/");
const QString kSrgb = kColord + QStringLiteral("sRGB.icc");

// The documented keys (cli/README.md), in order.
const QStringList kEnvelopeKeys = {"format", "command", "error"};
const QStringList kProfileKeys = {"file", "error", "image", "fileSize", "header", "idStatus", "computedId",
                                  "matrixShaper", "tagCount", "tags", "warnings"};
const QStringList kEntryKeys = {"index", "signature", "raw", "name", "private", "type",
                                "offset", "size", "readable", "linkedTo", "sharesDataWith"};
const QStringList kTagKeys = {"signature", "name", "type", "offset", "size", "linkedTo", "sharesDataWith",
                              "decoded", "content", "hex", "hexTruncated"};
const QStringList kCurveKeys = {"kind", "type", "iccFunctionType", "parameters", "entries", "table", "segments",
                                "estimatedGamma", "monotonic", "linear"};
const QStringList kTransformKeys = {"profiles", "intent", "bpc", "adaptation", "input", "output", "results"};

quint32 be32At(const QByteArray& b, qsizetype at)
{
    return (quint32(uchar(b[at])) << 24) | (quint32(uchar(b[at + 1])) << 16) | (quint32(uchar(b[at + 2])) << 8) |
           quint32(uchar(b[at + 3]));
}

void putBe32(QByteArray& b, qsizetype at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (24 - 8 * i));
}

QByteArray be32Bytes(quint32 v)
{
    QByteArray b(4, '\0');
    putBe32(b, 0, v);
    return b;
}

QByteArray textTag(const QByteArray& text)
{
    return "text" + QByteArray(4, '\0') + text + '\0';
}

// A version 4 RGB display profile holding the tags in order; tags with equal data share one block.
QByteArray makeProfile(const QList<std::pair<QByteArray, QByteArray>>& tags)
{
    QByteArray p(128, '\0');
    putBe32(p, 8, 0x04300000);
    p.replace(12, 4, "mntr");
    p.replace(16, 4, "RGB ");
    p.replace(20, 4, "XYZ ");
    p.replace(36, 4, "acsp");
    putBe32(p, 68, 0x0000F6D6);
    putBe32(p, 72, 0x00010000);
    putBe32(p, 76, 0x0000D32D);
    p += be32Bytes(quint32(tags.size()));
    QByteArray data;
    QList<std::pair<qsizetype, QByteArray>> placed;
    const qsizetype start = 132 + 12 * tags.size();
    for (const auto& [sig, bytes] : tags) {
        qsizetype offset = -1;
        for (const auto& [at, earlier] : placed)
            if (earlier == bytes)
                offset = at;
        if (offset < 0) {
            offset = start + data.size();
            placed.append({offset, bytes});
            data += bytes;
            while (data.size() % 4)
                data += '\0';
        }
        p += sig + be32Bytes(quint32(offset)) + be32Bytes(quint32(bytes.size()));
    }
    p += data;
    putBe32(p, 0, quint32(p.size()));
    return p;
}

// Every key of `keys` is in `object` (later versions may add others).
void verifyKeys(const QJsonObject& object, const QStringList& keys, const QString& where)
{
    for (const QString& key : keys)
        QVERIFY2(object.contains(key), qPrintable(where + QStringLiteral(": no '") + key + QLatin1Char('\'')));
}

// Curves anywhere in a content tree carry every curve key.
void verifyCurves(const QJsonValue& value, const QString& where)
{
    static const QStringList kinds = {"parametric", "table", "segmented", "identity"};
    if (value.isArray()) {
        for (const QJsonValue item : value.toArray())
            verifyCurves(item, where);
    } else if (value.isObject()) {
        const QJsonObject o = value.toObject();
        if (kinds.contains(o[QStringLiteral("kind")].toString()))
            verifyKeys(o, kCurveKeys, where + QStringLiteral(" curve"));
        for (auto it = o.begin(); it != o.end(); ++it)
            verifyCurves(it.value(), where);
    }
}

void verifyProfile(const QJsonObject& p, const QString& where)
{
    verifyKeys(p, kProfileKeys, where);
    QVERIFY2(p[QStringLiteral("warnings")].isArray(), qPrintable(where));
    if (!p[QStringLiteral("error")].isNull())
        return;
    for (const QJsonValue t : p[QStringLiteral("tags")].toArray()) {
        verifyKeys(t.toObject(), kEntryKeys, where);
        QVERIFY(t[QStringLiteral("sharesDataWith")].isArray());
    }
}

void verifyTag(const QJsonObject& t, const QString& where)
{
    verifyKeys(t, QStringList{"error"} + kTagKeys, where);
    verifyCurves(t[QStringLiteral("content")], where);
}

// One JSON document with the envelope and the command's keys, whatever the status.
QJsonObject verifyDocument(const Run& r, const QString& command, const QString& where)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out, &error);
    [&] { QVERIFY2(error.error == QJsonParseError::NoError && doc.isObject(), qPrintable(where + QLatin1Char(' ') + r.out.left(200))); }();
    const QJsonObject o = doc.object();
    [&] {
        verifyKeys(o, kEnvelopeKeys, where);
        QCOMPARE(o[QStringLiteral("format")].toInt(), 1);
        QCOMPARE(o[QStringLiteral("command")].toString(), command);
        // An error is said in the document exactly when the status says one.
        QVERIFY2(o[QStringLiteral("error")].isNull() == (r.status == 0) || command == QLatin1String("info"),
                 qPrintable(where));
        if (command == QLatin1String("info")) {
            QVERIFY(o[QStringLiteral("profiles")].isArray() || r.status == 2);
            for (const QJsonValue p : o[QStringLiteral("profiles")].toArray())
                verifyProfile(p.toObject(), where);
        } else if (command == QLatin1String("tag")) {
            verifyKeys(o, QStringList{"file"} + kTagKeys, where);
            verifyCurves(o[QStringLiteral("content")], where);
        } else if (command == QLatin1String("dump")) {
            verifyKeys(o, {"profile", "tags"}, where);
            if (o[QStringLiteral("profile")].isObject())
                verifyProfile(o[QStringLiteral("profile")].toObject(), where);
            for (const QJsonValue t : o[QStringLiteral("tags")].toArray())
                verifyTag(t.toObject(), where);
        } else if (command == QLatin1String("transform")) {
            verifyKeys(o, kTransformKeys, where);
        }
    }();
    return o;
}

} // namespace

class TestScripting : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void writeErrorsExitOne_data();
    void writeErrorsExitOne();
    void convertOutputErrors();
    void cutProfilesWarnPerMissingEntry();
    void jsonIsOneDocumentWithEveryKey_data();
    void jsonIsOneDocumentWithEveryKey();
    void jsonKeysOverCorpusAndMalformed();
    void refusedTagShowsPreview();
    void messages();
    void sharedDataIsVisible();
    void curveFunctionTypes();
    void standardInputAndOutput();
    void profileIds();
    void imageProfiles();
    void dumpIsStableAndComplete();
    void saysWhatIsWrong();
    void specialOutputFiles();
    void numbersIgnoreTheLocale();
    void clutNodesInFull();

private:
    QString tmp(const QString& name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

void TestScripting::initTestCase()
{
    QVERIFY(dir_.isValid());
    QVERIFY2(QFile::exists(kSrgb), "colord profiles are needed");
    QImage image(4, 4, QImage::Format_RGB888);
    image.fill(QColor(200, 40, 10));
    QVERIFY(image.save(tmp(QStringLiteral("plain.png"))));
}

void TestScripting::writeErrorsExitOne_data()
{
    QTest::addColumn<QStringList>("args");
    const QString lab = kGhostscript + QStringLiteral("lab.icc");
    QTest::newRow("info") << QStringList{"info", kSrgb};
    QTest::newRow("info --json") << QStringList{"info", "--json", kSrgb};
    QTest::newRow("tag") << QStringList{"tag", kSrgb, "rTRC"};
    QTest::newRow("tag --json") << QStringList{"tag", "--json", kSrgb, "rTRC"};
    QTest::newRow("tag --raw") << QStringList{"tag", "--raw", lab, "A2B0"};
    QTest::newRow("dump") << QStringList{"dump", kSrgb};
    QTest::newRow("dump --json") << QStringList{"dump", "--json", kSrgb};
    QTest::newRow("transform") << QStringList{"transform", "--profile", "*srgb", "--profile", "*lab", "--values", "1 1 1"};
    QTest::newRow("transform --json") << QStringList{"transform", "--json", "--profile", "*srgb", "--values", "1 1 1"};
    QTest::newRow("help") << QStringList{"--help"};
    QTest::newRow("convert -o -") << QStringList{"convert", tmp(QStringLiteral("plain.png")), "-o", "-", "--profile", "*srgb"};
}

void TestScripting::writeErrorsExitOne()
{
    QFETCH(QStringList, args);
    const Run full = program(args, QByteArray(), QStringLiteral("/dev/full"));
    QCOMPARE(full.status, 1);
    QVERIFY2(full.err.contains("prismet-cli: cannot write to standard output"), full.err.constData());
    // The same run on a working stream succeeds.
    QCOMPARE(program(args, QByteArray(), QStringLiteral("/dev/null")).status, 0);
}

void TestScripting::convertOutputErrors()
{
    const Run r = cli({"convert", tmp(QStringLiteral("plain.png")), tmp(QStringLiteral("no/such/folder/o.png")), "--profile", "*srgb"});
    QCOMPARE(r.status, 1);
    QVERIFY(r.err.contains("cannot write"));
    QVERIFY(!QFile::exists(tmp(QStringLiteral("no/such/folder/o.png"))));
}

void TestScripting::cutProfilesWarnPerMissingEntry()
{
    int missingSeen = 0;
    for (const QString& source : {kSrgb, kGhostscript + QStringLiteral("ps_cmyk.icc")}) {
        const QByteArray whole = fileBytes(source);
        const int count = int(be32At(whole, 128));
        QList<int> cuts = {500, 1000, 4000};
        for (int i = 0; i < count; ++i) {
            const int offset = int(be32At(whole, 136 + 12 * i));
            cuts << offset << offset + int(be32At(whole, 140 + 12 * i)) - 1;
        }
        for (const int cut : cuts) {
            const QString file = tmp(QStringLiteral("cut.icc"));
            writeFile(file, whole.left(cut));
            const QString where = QFileInfo(source).fileName() + QStringLiteral(" cut at ") + QString::number(cut);
            const Run info = cli({"info", "--json", file});
            QVERIFY2(info.status == 0, qPrintable(where + QString::fromUtf8(info.err)));
            const QJsonObject p = verifyDocument(info, QStringLiteral("info"), where)[QStringLiteral("profiles")][0].toObject();
            const QJsonArray tags = p[QStringLiteral("tags")].toArray();
            QCOMPARE(tags.size(), count);
            QCOMPARE(p[QStringLiteral("tagCount")].toInt(), count);
            const QJsonArray warnings = p[QStringLiteral("warnings")].toArray();
            int expectedWarnings = 0;
            for (const QJsonValue t : tags) {
                const qint64 end = t[QStringLiteral("offset")].toInteger() + t[QStringLiteral("size")].toInteger();
                const QString sig = t[QStringLiteral("signature")].toString();
                const bool missing = end > cut;
                QCOMPARE(t[QStringLiteral("readable")].toBool(), !missing);
                const Run tag = cli({"tag", "--json", file, t[QStringLiteral("raw")].toString()});
                if (!missing) {
                    QVERIFY2(tag.status == 0, qPrintable(where + QLatin1Char(' ') + sig));
                    continue;
                }
                ++expectedWarnings;
                ++missingSeen;
                const QString message = QStringLiteral("'%1' points past the end of the file (offset %2, size %3, file %4)")
                                            .arg(sig)
                                            .arg(t[QStringLiteral("offset")].toInteger())
                                            .arg(t[QStringLiteral("size")].toInteger())
                                            .arg(cut);
                QVERIFY2(warnings.contains(message), qPrintable(where + QLatin1Char(' ') + message));
                QVERIFY(info.err.contains(message.toUtf8()));
                // tag says where the data went, not that the tag is absent.
                QCOMPARE(tag.status, 1);
                QCOMPARE(verifyDocument(tag, QStringLiteral("tag"), where)[QStringLiteral("error")].toString(), message);
                QVERIFY(!tag.err.contains("has no tag"));
            }
            int pastEnd = 0;
            for (const QJsonValue w : warnings)
                pastEnd += w.toString().contains(QLatin1String("points past the end")) ? 1 : 0;
            QCOMPARE(pastEnd, expectedWarnings);
            // The text lists the stored count too.
            QVERIFY(cli({"info", file}).out.contains(QStringLiteral("Tags (%1):").arg(count).toUtf8()));
        }
    }
    QVERIFY(missingSeen > 50);
    // Cut inside the directory: the profile cannot be read at all.
    writeFile(tmp(QStringLiteral("cut.icc")), fileBytes(kSrgb).left(150));
    QCOMPARE(cli({"info", tmp(QStringLiteral("cut.icc"))}).status, 1);
}

void TestScripting::jsonIsOneDocumentWithEveryKey_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    const QString missing = QStringLiteral("/no/such/profile.icc");
    const QString crayons = kColord + QStringLiteral("Crayons.icc");
    QTest::newRow("info") << QStringList{"info", "--json", kSrgb, "*lab"} << 0;
    QTest::newRow("info missing") << QStringList{"info", "--json", kSrgb, missing} << 1;
    QTest::newRow("info usage") << QStringList{"info", "--json", "--yaml", kSrgb} << 2;
    QTest::newRow("info no profile") << QStringList{"info", "--json"} << 2;
    QTest::newRow("tag") << QStringList{"tag", "--json", kSrgb, "rTRC"} << 0;
    QTest::newRow("tag raw") << QStringList{"tag", "--json", "--raw", kSrgb, "rTRC"} << 0;
    QTest::newRow("tag full lut") << QStringList{"tag", "--json", "--full", kGhostscript + "lab.icc", "A2B0"} << 0;
    QTest::newRow("tag absent") << QStringList{"tag", "--json", kSrgb, "A2B0"} << 1;
    QTest::newRow("tag unreadable file") << QStringList{"tag", "--json", missing, "desc"} << 1;
    QTest::newRow("tag corrupt") << QStringList{"tag", "--json", crayons, "B2A0"} << 1;
    QTest::newRow("tag usage") << QStringList{"tag", "--json", kSrgb} << 2;
    QTest::newRow("tag bad signature") << QStringList{"tag", "--json", kSrgb, "toolong"} << 2;
    QTest::newRow("dump") << QStringList{"dump", "--json", kGhostscript + "ps_cmyk.icc"} << 0;
    QTest::newRow("dump corrupt tag") << QStringList{"dump", "--json", crayons} << 1;
    QTest::newRow("dump missing") << QStringList{"dump", "--json", missing} << 1;
    QTest::newRow("dump usage") << QStringList{"dump", "--json", kSrgb, kSrgb} << 2;
    QTest::newRow("transform") << QStringList{"transform", "--json", "--profile", "*srgb", "--profile", "*lab", "--values", "1 1 1;0 0 0"} << 0;
    QTest::newRow("transform missing") << QStringList{"transform", "--json", "--profile", missing, "--values", "1 1 1"} << 1;
    QTest::newRow("transform usage") << QStringList{"transform", "--json", "--profile", "*srgb", "--values", "1 x 1"} << 2;
}

void TestScripting::jsonIsOneDocumentWithEveryKey()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    const Run r = cli(args);
    QCOMPARE(r.status, status);
    const QJsonObject doc = verifyDocument(r, args.first(), QString::fromLatin1(QTest::currentDataTag()));
    if (status == 2)
        QVERIFY(!doc[QStringLiteral("error")].toString().isEmpty());
    if (args.first() == QLatin1String("tag") && args.contains(QStringLiteral("--raw"))) {
        QCOMPARE(doc[QStringLiteral("decoded")].toBool(true), false);
        QCOMPARE(doc[QStringLiteral("hex")].toString().size(), 2 * doc[QStringLiteral("size")].toInt());
    }
}

void TestScripting::jsonKeysOverCorpusAndMalformed()
{
    QStringList files = corpus();
    for (const QFileInfo& f : QDir(QStringLiteral(PRISMET_TEST_DATA "/malformed")).entryInfoList({"*.icc"}, QDir::Files))
        files << f.absoluteFilePath();
    QVERIFY(files.size() > 60);
    const Run info = cli(QStringList{"info", "--json"} + files);
    const QJsonArray profiles = verifyDocument(info, QStringLiteral("info"), QStringLiteral("all"))[QStringLiteral("profiles")].toArray();
    QCOMPARE(profiles.size(), files.size());
    for (const QString& file : files) {
        const Run dump = cli({"dump", "--json", file});
        QVERIFY(dump.status == 0 || dump.status == 1);
        verifyDocument(dump, QStringLiteral("dump"), file);
    }
}

void TestScripting::refusedTagShowsPreview()
{
    const QByteArray big = textTag(QByteArray(700000, 'D'));
    const QString file = tmp(QStringLiteral("devd.icc"));
    writeFile(file, makeProfile({{"desc", textTag("big private tag")}, {"DevD", big}}));

    const Run strict = cli({"tag", "--strict", file, "DevD"});
    QCOMPARE(strict.status, 1);
    // The signature is what the engine does not know; the stored type is 'text'.
    QVERIFY2(strict.err.contains("Unknown tag signature 'DevD'"), strict.err.constData());
    QVERIFY(!strict.err.contains("Unknown tag type"));
    QVERIFY(strict.out.startsWith("Tag 'DevD'"));
    QVERIFY(strict.out.contains(QStringLiteral("the first 256 of %1 bytes").arg(big.size()).toUtf8()));
    QVERIFY(strict.out.count('\n') < 30);

    const QJsonObject json = verifyDocument(cli({"tag", "--json", "--strict", file, "DevD"}), QStringLiteral("tag"), "strict");
    QCOMPARE(json[QStringLiteral("type")].toString(), QStringLiteral("text"));
    QCOMPARE(json[QStringLiteral("hex")].toString(), QString::fromLatin1(big.left(256).toHex()));
    QCOMPARE(json[QStringLiteral("hexTruncated")].toBool(), true);
    QCOMPARE(json[QStringLiteral("size")].toInt(), int(big.size()));

    // --raw still gives every byte; permissive reading decodes the text.
    const QJsonObject raw = cli({"tag", "--json", "--raw", "--strict", file, "DevD"}).json();
    QCOMPARE(raw[QStringLiteral("hex")].toString().size(), 2 * int(big.size()));
    QCOMPARE(raw[QStringLiteral("hexTruncated")].toBool(true), false);
    QCOMPARE(cli({"tag", file, "DevD"}).status, 0);

    // A known signature with a type it does not allow: refused with a reason, not "no reader".
    writeFile(file, makeProfile({{"desc", textTag("x")}, {"wtpt", textTag("not an XYZ")}}));
    const Run wrongType = cli({"tag", "--strict", file, "wtpt"});
    QCOMPARE(wrongType.status, 1);
    QVERIFY2(wrongType.err.contains("--strict refuses tag 'wtpt': type 'text'"), wrongType.err.constData());
}

void TestScripting::messages()
{
    // Too many arguments are not reported as too few.
    const Run extra = cli({"tag", kSrgb, "desc", "cprt"});
    QCOMPARE(extra.status, 2);
    QVERIFY2(extra.err.contains("'cprt' is one too many"), extra.err.constData());

    // A curve type of zero bytes reads as a number, never as ''.
    const Run crayons = cli({"tag", kColord + QStringLiteral("Crayons.icc"), "B2A0"});
    QCOMPARE(crayons.status, 1);
    QVERIFY(crayons.err.contains("Unknown curve type 0x"));
    QVERIFY(!crayons.err.contains("''"));

    // Qt's image plug-ins speak through our prefix (a damaged 'iCCP' chunk makes libpng warn).
    QByteArray png = fileBytes(tmp(QStringLiteral("plain.png")));
    png = embedProfilePng(png, QByteArray(10, 'x'));
    writeFile(tmp(QStringLiteral("badiccp.png")), png);
    const Run converted = program({"convert", tmp(QStringLiteral("badiccp.png")), tmp(QStringLiteral("o.png")), "--profile",
                                   "*srgb", "--src-profile", "*srgb"});
    QCOMPARE(converted.status, 0);
    QVERIFY2(converted.err.contains("libpng"), converted.err.constData());
    for (const QByteArray& line : converted.err.trimmed().split('\n'))
        QVERIFY2(line.startsWith("prismet-cli: "), line.constData());
}

void TestScripting::sharedDataIsVisible()
{
    // Ghostscript lab.icc: A2B0 and B2A0 share one block but are no link.
    const QJsonArray lab = cli({"info", "--json", kGhostscript + QStringLiteral("lab.icc")}).json()[QStringLiteral("profiles")][0][QStringLiteral("tags")].toArray();
    QJsonObject a2b0, b2a0;
    for (const QJsonValue t : lab) {
        if (t[QStringLiteral("signature")] == QLatin1String("A2B0"))
            a2b0 = t.toObject();
        if (t[QStringLiteral("signature")] == QLatin1String("B2A0"))
            b2a0 = t.toObject();
    }
    QVERIFY(a2b0[QStringLiteral("linkedTo")].isNull() && b2a0[QStringLiteral("linkedTo")].isNull());
    QCOMPARE(a2b0[QStringLiteral("sharesDataWith")].toArray(), QJsonArray{"B2A0"});
    QCOMPARE(b2a0[QStringLiteral("sharesDataWith")].toArray(), QJsonArray{"A2B0"});
    QVERIFY(cli({"info", kGhostscript + QStringLiteral("lab.icc")}).out.contains("shares data with 'B2A0'"));

    // sRGB's three TRCs: links as the engine reads them, and sharing among all three.
    const QJsonObject rTRC = cli({"tag", "--json", kSrgb, "gTRC"}).json();
    QCOMPARE(rTRC[QStringLiteral("sharesDataWith")].toArray(), (QJsonArray{"rTRC", "bTRC"}));
    QCOMPARE(rTRC[QStringLiteral("linkedTo")].toString(), QStringLiteral("rTRC"));

    // A measurement tag sharing a block with a private tag, and a tag on its own.
    const QString file = tmp(QStringLiteral("shared.icc"));
    writeFile(file, makeProfile({{"desc", textTag("own")}, {"targ", textTag("CGATS.17")}, {"Zpri", textTag("CGATS.17")}}));
    const QJsonArray tags = cli({"info", "--json", file}).json()[QStringLiteral("profiles")][0][QStringLiteral("tags")].toArray();
    QCOMPARE(tags[0][QStringLiteral("sharesDataWith")].toArray(), QJsonArray());
    QCOMPARE(tags[1][QStringLiteral("sharesDataWith")].toArray(), QJsonArray{"Zpri"});
    QCOMPARE(tags[2][QStringLiteral("sharesDataWith")].toArray(), QJsonArray{"targ"});
}

void TestScripting::curveFunctionTypes()
{
    // colord sRGB stores ICC function type 3; the engine calls it type 4.
    const QByteArray bytes = fileBytes(kSrgb);
    const QJsonObject doc = cli({"tag", "--json", kSrgb, "rTRC"}).json();
    const int offset = doc[QStringLiteral("offset")].toInt();
    const int stored = int(be32At(bytes, offset + 8) >> 16);
    QCOMPARE(stored, 3);
    const QJsonObject curve = doc[QStringLiteral("content")].toObject();
    QCOMPARE(curve[QStringLiteral("iccFunctionType")].toInt(), stored);
    QCOMPARE(curve[QStringLiteral("type")].toInt(), stored + 1);
    const QByteArray text = cli({"tag", kSrgb, "rTRC"}).out;
    QVERIFY(text.contains("ICC function type: 3"));
    QVERIFY(text.contains("type: 4"));

    // A black point of (0, 0, 0) keeps its "name" key, empty.
    const QJsonObject bkpt = cli({"tag", "--json", kGhostscript + QStringLiteral("ps_gray.icc"), "bkpt"}).json()[QStringLiteral("content")].toObject();
    QCOMPARE(bkpt[QStringLiteral("X")].toDouble(-1), 0.0);
    QVERIFY(bkpt.contains(QStringLiteral("name")) && bkpt[QStringLiteral("name")].isNull());
}

void TestScripting::standardInputAndOutput()
{
    const QByteArray srgb = fileBytes(kSrgb);
    QJsonObject fromStdin = program({"info", "--json", "-"}, srgb).json()[QStringLiteral("profiles")][0].toObject();
    QJsonObject fromFile = cli({"info", "--json", kSrgb}).json()[QStringLiteral("profiles")][0].toObject();
    QCOMPARE(fromStdin[QStringLiteral("file")].toString(), QStringLiteral("-"));
    fromStdin.remove(QStringLiteral("file"));
    fromFile.remove(QStringLiteral("file"));
    QCOMPARE(fromStdin, fromFile);
    const Run tag = program({"tag", "-", "desc"}, srgb);
    QCOMPARE(tag.status, 0);
    QVERIFY(tag.out.startsWith("Tag 'desc'"));
    QCOMPARE(cli({"info", "-"}, QByteArray()).status, 1);

    // An image converted to standard output carries the destination's bytes.
    const QString adobe = kColord + QStringLiteral("AdobeRGB1998.icc");
    const Run png = program({"convert", tmp(QStringLiteral("plain.png")), "-o", "-", "--profile", adobe});
    QCOMPARE(png.status, 0);
    QCOMPARE(imageKindOf(png.out), ImageKind::Png);
    QCOMPARE(embeddedProfile(png.out, ImageKind::Png), fileBytes(adobe));
    const Run jpeg = cli({"convert", tmp(QStringLiteral("plain.png")), "-", "--format", "jpeg", "--profile", adobe});
    QCOMPARE(jpeg.status, 0);
    QCOMPARE(embeddedProfile(jpeg.out, ImageKind::Jpeg), fileBytes(adobe));
}

void TestScripting::profileIds()
{
    // Tools that compute the ID (colord's profiles) match; Ghostscript's leave it zero.
    const QStringList files = corpus();
    const QJsonArray profiles = cli(QStringList{"info", "--json"} + files).json()[QStringLiteral("profiles")].toArray();
    for (int i = 0; i < files.size(); ++i) {
        const QString expected = files[i].startsWith(kColord) ? QStringLiteral("matches") : QStringLiteral("absent");
        QVERIFY2(profiles[i][QStringLiteral("idStatus")].toString() == expected, qPrintable(files[i]));
    }

    const QByteArray srgb = fileBytes(kSrgb);
    auto statusOf = [&](const QByteArray& bytes, Run* run = nullptr) {
        writeFile(tmp(QStringLiteral("id.icc")), bytes);
        const Run r = cli({"info", "--json", tmp(QStringLiteral("id.icc"))});
        if (run)
            *run = r;
        return r.json()[QStringLiteral("profiles")][0][QStringLiteral("idStatus")].toString();
    };
    // Flags, intent and the ID itself are left out of the digest; any other byte counts.
    QByteArray changed = srgb;
    changed[47] = char(changed[47] ^ 1);
    changed[67] = char(changed[67] ^ 2);
    QCOMPARE(statusOf(changed), QStringLiteral("matches"));
    changed = srgb;
    changed[int(srgb.size()) - 1] = char(changed[int(srgb.size()) - 1] ^ 1);
    Run differs;
    QCOMPARE(statusOf(changed, &differs), QStringLiteral("differs"));
    const QJsonObject p = differs.json()[QStringLiteral("profiles")][0].toObject();
    QVERIFY(p[QStringLiteral("computedId")].toString() != p[QStringLiteral("header")][QStringLiteral("profileId")][QStringLiteral("raw")].toString());
    QVERIFY(p[QStringLiteral("warnings")].toArray().first().toString().contains(QLatin1String("differs from the computed")));
    QVERIFY(differs.err.contains("prismet-cli: warning: the stored profile ID"));
    changed = srgb;
    changed.replace(84, 16, QByteArray(16, '\0'));
    QCOMPARE(statusOf(changed), QStringLiteral("absent"));
    // The computed ID of an absent one is what a tool would store: storing it makes it match.
    Run absent;
    statusOf(changed, &absent);
    const QString computed = absent.json()[QStringLiteral("profiles")][0][QStringLiteral("computedId")].toString();
    changed.replace(84, 16, QByteArray::fromHex(computed.mid(2).toLatin1()));
    QCOMPARE(changed, srgb);
    QVERIFY(cli({"info", kSrgb}).out.contains("(matches)"));
}

void TestScripting::imageProfiles()
{
    const QString adobe = kColord + QStringLiteral("AdobeRGB1998.icc");
    const QByteArray plain = fileBytes(tmp(QStringLiteral("plain.png")));
    writeFile(tmp(QStringLiteral("tagged.png")), embedProfilePng(plain, fileBytes(adobe)));
    QImage image(4, 4, QImage::Format_RGB888);
    image.fill(Qt::gray);
    QVERIFY(image.save(tmp(QStringLiteral("plain.jpg"))));
    writeFile(tmp(QStringLiteral("tagged.jpg")), embedProfileJpeg(fileBytes(tmp(QStringLiteral("plain.jpg"))), fileBytes(adobe)));

    const QJsonObject profile = cli({"info", "--json", adobe}).json()[QStringLiteral("profiles")][0].toObject();
    for (const auto& [name, place] : {std::pair{"tagged.png", "PNG iCCP chunk"}, std::pair{"tagged.jpg", "JPEG APP2 ICC_PROFILE segments"}}) {
        const Run r = cli({"info", "--json", tmp(QString::fromLatin1(name))});
        QCOMPARE(r.status, 0);
        const QJsonObject p = r.json()[QStringLiteral("profiles")][0].toObject();
        QCOMPARE(p[QStringLiteral("image")].toString(), QString::fromLatin1(place));
        QCOMPARE(p[QStringLiteral("fileSize")], profile[QStringLiteral("fileSize")]);
        QCOMPARE(p[QStringLiteral("header")], profile[QStringLiteral("header")]);
        QCOMPARE(p[QStringLiteral("tags")], profile[QStringLiteral("tags")]);
        QVERIFY(cli({"info", tmp(QString::fromLatin1(name))}).out.contains(QByteArray("from its ") + place));
    }
    const Run none = cli({"info", tmp(QStringLiteral("plain.png"))});
    QCOMPARE(none.status, 1);
    QVERIFY(none.err.contains("has no readable embedded profile"));
}

void TestScripting::dumpIsStableAndComplete()
{
    const Run first = program({"dump", kSrgb});
    QCOMPARE(first.status, 0);
    QCOMPARE(program({"dump", kSrgb}).out, first.out);
    // Every tag in directory order, once.
    const QByteArray bytes = fileBytes(kSrgb);
    qsizetype at = 0;
    for (int i = 0; i < int(be32At(bytes, 128)); ++i) {
        const QByteArray heading = "\nTag '" + bytes.mid(132 + 12 * i, 4) + "'";
        const qsizetype next = first.out.indexOf(heading);
        QVERIFY2(next > at, heading.constData());
        at = next;
    }
    // Whatever cannot be decoded is said, and the rest is still there.
    const Run crayons = cli({"dump", "--json", kColord + QStringLiteral("Crayons.icc")});
    QCOMPARE(crayons.status, 1);
    const QJsonObject doc = crayons.json();
    const QJsonArray tags = doc[QStringLiteral("tags")].toArray();
    QCOMPARE(tags.size(), doc[QStringLiteral("profile")][QStringLiteral("tagCount")].toInt());
    int failed = 0;
    for (const QJsonValue t : tags)
        failed += t[QStringLiteral("error")].isNull() ? 0 : 1;
    QCOMPARE(failed, 1);
    QCOMPARE(doc[QStringLiteral("error")].toString(), QStringLiteral("1 of %1 tags cannot be read").arg(tags.size()));
}


void TestScripting::saysWhatIsWrong()
{
    // Each row: the command, standard input, the status, a text standard error must hold, and
    // (when the row asks for --json) the document's "error" holds it too.
    const QString cmyk = kGhostscript + QStringLiteral("default_cmyk.icc");
    const QString cut = tmp(QStringLiteral("cut100k.icc"));
    writeFile(cut, fileBytes(cmyk).left(100000));
    const QString tiny = tmp(QStringLiteral("tiny.icc"));
    writeFile(tiny, fileBytes(cmyk).left(100));
    const QString empty = tmp(QStringLiteral("empty-folder"));
    QVERIFY(QDir().mkpath(empty));
    const QByteArray srgb = fileBytes(kSrgb);
    const char* pastEnd = "'B2A0' points past the end of the file (offset 41896, size 145588, file 100000)";
    const struct {
        QStringList args;
        QByteArray input;
        int status;
        const char* message;
    } rows[] = {
        // A tag cut off by the end of the file is named as such, not as absent.
        {{"inks", "--json", cut}, {}, 1, pastEnd},
        {{"roundtrip", "--json", cut}, {}, 1, pastEnd},
        {{"gamut", "--json", "--tag", "B2A0", cut}, {}, 1, pastEnd},
        {{"transform", "--json", "--profile", "*lab", "--profile", cut, "--values", "50 0 0"}, {}, 1, pastEnd},
        {{"gamut", "--json", tiny}, {}, 1, "it is 100 bytes long, shorter than the 128-byte header"},
        {{"check", "--json", empty}, {}, 1, "no profiles found"},
        {{"check", "--json", tmp(QStringLiteral("no-such.icc"))}, {}, 1, "cannot open profile"},
        {{"check", "-"}, srgb, 0, ""},
        {{"info", "--json", "-", "-"}, srgb, 2, "standard input ('-') can be read only once"},
        {{"gamut", "--json", "-", "--compare", "-"}, srgb, 2, "standard input ('-') can be read only once"},
        {{"transform", "--json", "--profile", "-", "--profile", "-"}, srgb, 2, "can be read only once"},
        {{"gamut", "--compare", "--json", kSrgb}, {}, 2, "option --compare needs a value"},
        {{"roundtrip", "--worst", "--json", kSrgb}, {}, 2, "option --worst needs a value"},
        {{"gamut", "--json", "--grid", "1", kSrgb}, {}, 2, "--grid takes a whole number from 2 to 255"},
        {{"gamut", "--json", "--grid", "60", cmyk}, {}, 2, "at most 2000000"},
    };
    for (const auto& row : rows) {
        const Run r = cli(row.args, row.input);
        const QString where = row.args.join(QLatin1Char(' '));
        QVERIFY2(r.status == row.status, qPrintable(where + QStringLiteral(": status %1 ").arg(r.status) + r.err));
        QVERIFY2(r.err.contains(row.message), qPrintable(where + QStringLiteral(": ") + r.err));
        if (row.args.contains(QStringLiteral("--json")))
            QVERIFY2(r.json().value(QStringLiteral("error")).toString().contains(QLatin1String(row.message)),
                     qPrintable(where));
    }
    // check - reads the profile from standard input and reports it as "-".
    const Run fromStdin = cli({"check", "--json", "-"}, srgb);
    QCOMPARE(fromStdin.json()[QStringLiteral("files")][0][QStringLiteral("file")].toString(), QStringLiteral("-"));
    QVERIFY(fromStdin.json()[QStringLiteral("files")][0][QStringLiteral("error")].isNull());
}

void TestScripting::specialOutputFiles()
{
    // What is not a regular file is written into, never replaced.
    const QStringList convert = {"convert", tmp(QStringLiteral("plain.png")), "--profile", "*srgb", "--format", "png"};
    const Run full = cli(QStringList(convert) << QStringLiteral("/dev/full"));
    QCOMPARE(full.status, 1);
    QVERIFY2(full.err.contains("cannot write '/dev/full'"), full.err.constData());
    struct stat st;
    QCOMPARE(::stat("/dev/full", &st), 0);
    QVERIFY(S_ISCHR(st.st_mode));

    const QString fifo = tmp(QStringLiteral("pipe.png"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QProcess reader;
    reader.start(QStringLiteral("cat"), {fifo});
    QVERIFY(reader.waitForStarted());
    const Run piped = cli(QStringList(convert) << fifo);
    QCOMPARE(piped.status, 0);
    QVERIFY(reader.waitForFinished(10000));
    QCOMPARE(imageKindOf(reader.readAllStandardOutput()), ImageKind::Png);
    QCOMPARE(::stat(QFile::encodeName(fifo).constData(), &st), 0);
    QVERIFY(S_ISFIFO(st.st_mode));
}

void TestScripting::numbersIgnoreTheLocale()
{
    // A German locale of our own (this machine may have none installed): decimal commas there
    // must not reach the tables; nor may "-0.0000".
    const QString locales = tmp(QStringLiteral("locales"));
    QDir().mkpath(locales);
    QProcess make;
    make.start(QStringLiteral("localedef"), {"-i", "de_DE", "-f", "UTF-8", locales + QStringLiteral("/de_DE.UTF-8")});
    if (!make.waitForFinished(60000) || make.exitCode() != 0)
        QSKIP("localedef cannot build de_DE.UTF-8 here");
    const QString cmyk = kGhostscript + QStringLiteral("default_cmyk.icc");
    for (const QStringList& args : {QStringList{"dotgain", cmyk}, QStringList{"inks", cmyk}, QStringList{"inks", "--ramp", "C", cmyk},
                                    QStringList{"roundtrip", "--intent", "1", cmyk}}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LOCPATH"), locales);
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("de_DE.UTF-8"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("de_DE.UTF-8"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(PRISMET_CLI), args);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY2(QRegularExpression(QStringLiteral("\\d\\.\\d")).match(QString::fromUtf8(out)).hasMatch(), qPrintable(args.join(' ')));
        QVERIFY2(!QRegularExpression(QStringLiteral("\\d,\\d")).match(QString::fromUtf8(out)).hasMatch(), qPrintable(args.join(' ')));
        QVERIFY2(!out.contains("-0.00\t") && !out.contains("-0.0000"), qPrintable(args.join(' ')));
    }
}

void TestScripting::clutNodesInFull()
{
    // CLUT nodes are printed from the table itself (kept raw, not as a tree): node n, output o
    // of this 3³ table holds (3n + o)·100, a 16-bit CLUT and a float one alike.
    for (const bool floats : {false, true}) {
        krmProfile profile = krmCreateProfilePlaceholder(nullptr);
        krmSetProfileClass(profile, krmSig("scnr"));
        krmSetProfileColorSpace(profile, krmSig("RGB "));
        krmSetProfilePCS(profile, krmSig("Lab "));
        krmSetProfileVersion(profile, floats ? 4.3 : 2.4);
        krmStage* clut = floats ? krmStageAllocCLutFloat(nullptr, 3, 3, 3, nullptr)
                                : krmStageAllocCLut16bit(nullptr, 3, 3, 3, nullptr);
        auto* data = static_cast<krmStageCLutData*>(krmStageData(clut));
        for (krmUInt32Number i = 0; i < data->nEntries; ++i) {
            if (floats)
                data->Tab.TFloat[i] = float(i) / 128.0f;
            else
                data->Tab.T16[i] = krmUInt16Number(i * 100);
        }
        // Float nodes live in a multiProcessElements tag (D2B0), 16-bit ones in a lut16 (A2B0).
        const QString tag = floats ? QStringLiteral("D2B0") : QStringLiteral("A2B0");
        krmPipeline* pipeline = krmPipelineAlloc(nullptr, 3, 3);
        krmPipelineInsertStage(pipeline, krmAT_END, clut);
        QVERIFY(krmWriteTag(profile, floats ? krmSig("D2B0") : krmSig("A2B0"), pipeline));
        const QString file = tmp(QStringLiteral("clut.icc"));
        QVERIFY(krmSaveProfileToFile(profile, QFile::encodeName(file).constData()));
        krmPipelineFree(pipeline);
        krmCloseProfile(profile);

        QJsonArray rows;
        const QJsonObject content = cli({"tag", "--json", "--full", file, tag}).json().value(QStringLiteral("content")).toObject();
        for (const QJsonValue stage : content.value(QStringLiteral("stages")).toArray())
            if (stage.toObject().value(QStringLiteral("type")).toString() == QLatin1String("clut"))
                rows = stage.toObject().value(QStringLiteral("values")).toArray();
        QCOMPARE(rows.size(), 27);
        const QString text = QString::fromUtf8(cli({"tag", "--full", file, tag}).out);
        for (int n = 0; n < 27; ++n) {
            const double scale = floats ? 1.0 / 128 : 100;
            QCOMPARE(rows.at(n).toArray(), (QJsonArray{(3 * n) * scale, (3 * n + 1) * scale, (3 * n + 2) * scale}));
            const auto number = [&](int k) { return QString::number(k * scale, 'g', 8); };
            QVERIFY2(text.contains(QStringLiteral("- %1 %2 %3\n").arg(number(3 * n), number(3 * n + 1), number(3 * n + 2))),
                     qPrintable(QString::number(n)));
        }
    }
}

QTEST_GUILESS_MAIN(TestScripting)
#include "tst_scripting.moc"
