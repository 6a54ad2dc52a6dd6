// prismet-cli diff and gamut --image: which tags a change shows, the colour difference of two
// vendors' sRGB, and an image of known colours against a press gamut.
#include "CliTestSupport.h"
#include "imaging/RasterImage.h"
#include "imaging/TiffCodec.h"

#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>

namespace {

const QString kColordSrgb = QStringLiteral("/usr/share/color/icc/colord/sRGB.icc");
const QString kGhostscriptSrgb = QStringLiteral("/usr/share/color/icc/ghostscript/srgb.icc");
const QString kCmyk = QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc");
const QString kAdobe = QStringLiteral("/usr/share/color/icc/colord/AdobeRGB1998.icc");

QByteArray saved(krmProfile p)
{
    krmUInt32Number size = 0;
    krmSaveProfileToMem(p, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    krmSaveProfileToMem(p, bytes.data(), &size);
    return bytes;
}

// IEC 61966-2-1's decoding function.
double srgb_decode(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

QStringList strings(const QJsonValue& array)
{
    QStringList list;
    for (const QJsonValue& v : array.toArray())
        list << v.toString();
    return list;
}

} // namespace

class TestCompare : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        // Two copies written by our engine: one as read, one with a new description and a gamma
        // 2.0 red curve, so that exactly desc and rTRC differ.
        krmProfile p = krmOpenProfileFromFile(kColordSrgb.toLocal8Bit().constData(), "r");
        QVERIFY(p);
        // colord's three curves are one linked tag; give each its own copy first.
        for (krmTagSignature sig : {krmSig("gTRC"), krmSig("bTRC")}) {
            krmToneCurve* own = krmDupToneCurve(static_cast<const krmToneCurve*>(krmReadTag(p, krmSig("rTRC"))));
            QVERIFY(krmWriteTag(p, sig, own));
            krmFreeToneCurve(own);
        }
        writeFile(dir_.filePath(QStringLiteral("copy.icc")), saved(p));
        krmMLU* mlu = krmMLUAlloc(nullptr, 1);
        krmMLUSetASCII(mlu, "en", "US", "Changed sRGB");
        QVERIFY(krmWriteTag(p, krmSig("desc"), mlu));
        krmMLUFree(mlu);
        krmToneCurve* gamma = krmBuildGamma(nullptr, 2.0);
        QVERIFY(krmWriteTag(p, krmSig("rTRC"), gamma));
        krmFreeToneCurve(gamma);
        writeFile(dir_.filePath(QStringLiteral("changed.icc")), saved(p));
        krmCloseProfile(p);
    }

    void diff_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("differing");  // "*" skips the check
        QTest::addColumn<double>("meanBelow");       // of the first colour comparison; < 0: none expected
        QTest::newRow("itself") << kColordSrgb << kColordSrgb << 0 << QStringList() << 1e-9;
        QTest::newRow("description and red curve changed")
            << QStringLiteral("copy.icc") << QStringLiteral("changed.icc") << 3
            << QStringList{QStringLiteral("desc"), QStringLiteral("rTRC")} << 5.0;
        // Two vendors' sRGB, the one v4 (mluc, parametric curves, chad), the other v2 (desc, tables).
        QTest::newRow("colord v4 against ghostscript v2 sRGB")
            << kColordSrgb << kGhostscriptSrgb << 3 << QStringList{QStringLiteral("*")} << 0.5;
        QTest::newRow("RGB against CMYK") << kColordSrgb << kCmyk << 3 << QStringList{QStringLiteral("*")} << -1.0;
    }

    void diff()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, status);
        QFETCH(QStringList, differing);
        QFETCH(double, meanBelow);
        const auto path = [&](const QString& p) { return p.startsWith(QLatin1Char('/')) ? p : dir_.filePath(p); };
        const Run run = cli({QStringLiteral("diff"), QStringLiteral("--json"), path(a), path(b)});
        QCOMPARE(run.status, status);
        const QJsonObject d = run.json().value(QStringLiteral("diff")).toObject();
        QCOMPARE(d.value(QStringLiteral("identical")).toBool(), status == 0);
        QStringList tags;
        for (const QJsonValue& t : d.value(QStringLiteral("differing_tags")).toArray())
            tags << t.toObject().value(QStringLiteral("tag")).toString();
        if (differing != QStringList{QStringLiteral("*")})
            QCOMPARE(tags.join(QLatin1Char(',')), differing.join(QLatin1Char(',')));
        const QJsonArray colour = d.value(QStringLiteral("colour")).toArray();
        if (meanBelow < 0) {
            QVERIFY(colour.isEmpty());
            QVERIFY(!d.value(QStringLiteral("colour_note")).toString().isEmpty());
            return;
        }
        QVERIFY(!colour.isEmpty());
        const QJsonObject c = colour.first().toObject();
        QVERIFY2(c.value(QStringLiteral("mean")).toDouble() < meanBelow, qPrintable(QString::number(c.value(QStringLiteral("mean")).toDouble())));
        QVERIFY(c.value(QStringLiteral("p95")).toDouble() <= c.value(QStringLiteral("max")).toDouble());
    }

    // The decoded differences against figures from outside the code.
    void diff_details()
    {
        Run run = cli({QStringLiteral("diff"), QStringLiteral("--json"), dir_.filePath(QStringLiteral("copy.icc")),
                       dir_.filePath(QStringLiteral("changed.icc"))});
        QJsonObject d = run.json().value(QStringLiteral("diff")).toObject();
        const QJsonArray tags = d.value(QStringLiteral("differing_tags")).toArray();
        QCOMPARE(tags.size(), 2);
        QVERIFY(tags[0].toObject().value(QStringLiteral("summary")).toString().endsWith(QLatin1String("\"Changed sRGB\"")));
        // The largest gap between the sRGB decoding function and x^2.
        double expected = 0;
        for (int i = 0; i <= 100000; ++i) {
            const double x = i / 100000.0;
            expected = std::max(expected, std::fabs(srgb_decode(x) - x * x));
        }
        QVERIFY(std::fabs(tags[1].toObject().value(QStringLiteral("max_difference")).toDouble() - expected) < 2e-4);
        // Only red changed: the worst device values have red at a middle level, blue and green anything.
        const QJsonObject worst = d.value(QStringLiteral("colour")).toArray().first().toObject()
                                      .value(QStringLiteral("worst")).toArray().first().toObject();
        const double red = worst.value(QStringLiteral("device")).toArray().first().toDouble();
        QVERIFY2(red > 0.05 && red < 0.95, qPrintable(QString::number(red)));

        // The v2/v4 pair: the version and the description's type are named; ignored fields are not.
        run = cli({QStringLiteral("diff"), QStringLiteral("--json"), QStringLiteral("--ignore-header"),
                   QStringLiteral("date,id"), kColordSrgb, kGhostscriptSrgb});
        d = run.json().value(QStringLiteral("diff")).toObject();
        QStringList fields;
        for (const QJsonValue& h : d.value(QStringLiteral("header")).toArray())
            fields << h.toObject().value(QStringLiteral("field")).toString();
        QVERIFY(fields.contains(QStringLiteral("version")));
        QVERIFY(!fields.contains(QStringLiteral("date")) && !fields.contains(QStringLiteral("id")));
        QCOMPARE(strings(d.value(QStringLiteral("ignored_header"))), (QStringList{QStringLiteral("date"), QStringLiteral("id")}));
        QCOMPARE(strings(d.value(QStringLiteral("only_in_b"))), QStringList{QStringLiteral("bkpt")});
        for (const QJsonValue& t : d.value(QStringLiteral("differing_tags")).toArray())
            if (t.toObject().value(QStringLiteral("tag")) == QStringLiteral("desc")) {
                QCOMPARE(t.toObject().value(QStringLiteral("type_a")).toString(), QStringLiteral("mluc"));
                QCOMPARE(t.toObject().value(QStringLiteral("type_b")).toString(), QStringLiteral("desc"));
                QCOMPARE(t.toObject().value(QStringLiteral("kind")).toString(), QStringLiteral("text"));
            }
        QCOMPARE(cli({QStringLiteral("diff"), QStringLiteral("--ignore-header"), QStringLiteral("colour"), kColordSrgb,
                      kColordSrgb}).status, 2);
    }

    // Bands of sRGB blue, green and mid grey against a press gamut: blue and green lie
    // outside, grey inside; images above 100000 pixels are sampled evenly.
    void image_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("samples");
        QTest::newRow("every pixel") << 100 << 10 << 1000;
        QTest::newRow("sampled") << 400 << 300 << 100000;
    }

    void image()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, samples);
        QImage img(width, height, QImage::Format_RGB888);
        // Bands across, so that samples bunched at the top would tilt the share.
        for (int y = 0; y < height; ++y) {
            const QRgb c = y < height * 3 / 10 ? qRgb(0, 0, 255) : (y < height * 6 / 10 ? qRgb(0, 255, 0) : qRgb(128, 128, 128));
            for (int x = 0; x < width; ++x)
                img.setPixel(x, y, c);
        }
        const QString file = dir_.filePath(QStringLiteral("stripes.png"));
        QVERIFY(img.save(file));
        const Run run = cli({QStringLiteral("gamut"), QStringLiteral("--json"), QStringLiteral("--image"), file, kCmyk});
        QCOMPARE(run.status, 0);
        const QJsonObject i = run.json().value(QStringLiteral("image")).toObject();
        QCOMPARE(i.value(QStringLiteral("pixels")).toInt(), width * height);
        QCOMPARE(i.value(QStringLiteral("samples")).toInt(), samples);
        // Exactly the blue and green columns' share of the samples.
        QVERIFY2(std::fabs(i.value(QStringLiteral("outside_percent")).toDouble() - 60.0) < 0.01,
                 qPrintable(QString::number(i.value(QStringLiteral("outside_percent")).toDouble())));
        const QJsonObject trip = i.value(QStringLiteral("roundtrip")).toObject();
        QCOMPARE(trip.value(QStringLiteral("samples")).toInt(), i.value(QStringLiteral("outside")).toInt());
        // Outside colours come back clipped: far from where they were.
        QVERIFY(trip.value(QStringLiteral("mean")).toDouble() > 5);
    }

    // The colours at the very edge of a gamut are inside it: an image of the primaries,
    // secondaries, white and black in a profile, judged against that profile, has nothing outside,
    // however the hull's grid rounds its corners.
    void imageAtTheGamutEdge()
    {
        const QRgb colours[] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(0, 255, 255),
                                qRgb(255, 0, 255), qRgb(255, 255, 0), qRgb(255, 255, 255), qRgb(0, 0, 0)};
        for (const QString& profile : {kColordSrgb, kGhostscriptSrgb, kAdobe}) {
            QFile icc(profile);
            QVERIFY(icc.open(QIODevice::ReadOnly));
            QImage img(8, 1, QImage::Format_RGB888);
            for (int x = 0; x < 8; ++x)
                img.setPixel(x, 0, colours[x]);
            img.setColorSpace(QColorSpace::fromIccProfile(icc.readAll()));
            const QString file = dir_.filePath(QStringLiteral("corners.png"));
            QVERIFY(img.save(file));
            const Run run = cli({QStringLiteral("gamut"), QStringLiteral("--json"), QStringLiteral("--image"), file, profile});
            QCOMPARE(run.status, 0);
            const QJsonObject i = run.json().value(QStringLiteral("image")).toObject();
            QCOMPARE(i.value(QStringLiteral("image_profile")).toString(), QStringLiteral("embedded"));
            QCOMPARE(i.value(QStringLiteral("samples")).toInt(), 8);
            QVERIFY2(i.value(QStringLiteral("outside")).toInt() == 0, qPrintable(profile));
        }
    }

    // An untagged CMYK image: refused, naming the option, until its profile is assigned; then its
    // inks, solids included, lie inside that very profile's gamut.
    void imageWithAssignedProfile()
    {
        RasterImage r;
        r.width = 5;
        r.height = 1;
        r.space = krmSig("CMYK");
        r.colorChannels = 4;
        r.bytesPerSample = 1;
        r.allocate(kDefaultMaxImageBytes);
        const uchar inks[5][4] = {{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {255, 255, 255, 255}, {0, 0, 0, 0}};
        std::memcpy(r.scanLine(0), inks, sizeof inks);
        QByteArray bytes;
        QString error;
        QVERIFY(writeTiff(r, QByteArray(), bytes, error));
        const QString file = dir_.filePath(QStringLiteral("inks.tif"));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
        out.close();

        const Run refused = cli({QStringLiteral("gamut"), QStringLiteral("--image"), file, kCmyk});
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.err.contains("--image-profile"), refused.err.constData());
        const Run run = cli({QStringLiteral("gamut"), QStringLiteral("--json"), QStringLiteral("--image"), file,
                             QStringLiteral("--image-profile"), kCmyk, kCmyk});
        QCOMPARE(run.status, 0);
        const QJsonObject i = run.json().value(QStringLiteral("image")).toObject();
        QCOMPARE(i.value(QStringLiteral("image_profile")).toString(), QStringLiteral("assigned (%1)").arg(kCmyk));
        QCOMPARE(i.value(QStringLiteral("samples")).toInt(), 5);
        QCOMPARE(i.value(QStringLiteral("outside")).toInt(), 0);
        // The option needs an image.
        QCOMPARE(cli({QStringLiteral("gamut"), QStringLiteral("--image-profile"), kCmyk, kCmyk}).status, 2);
    }

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestCompare)
#include "tst_compare.moc"
