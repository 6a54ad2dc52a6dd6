// The shared channel vocabulary: colours by space and shade, names, colorant tables written by
// the engine, value formatters and the input/output description of LUT-like tags.

#include "tests/support/ViewerTestSupport.h"

#include "window/widgets/ColorScheme.h"
#include "window/overview/TagViewers.h"
#include "window/widgets/ChannelVocabulary.h"

#include <QApplication>
#include <QException>
#include <QTest>

#include <array>

using namespace viewertest;

namespace {

// A CMYK output profile (version `version`) with a colorant table of `names` whose PCS values are
// the given encoded L*a*b* triples, written by the engine and read back.
ProfilePtr cmykWithColorants(const QList<QByteArray>& names, const QList<std::array<krmUInt16Number, 3>>& pcs,
                             double version = 4.3, krmTagSignature tag = krmSig("clrt"))
{
    ProfilePtr profile(krmCreateProfilePlaceholder(nullptr));
    krmSetProfileVersion(profile.get(), version);
    krmSetProfileClass(profile.get(), krmSig("prtr"));
    krmSetProfileColorSpace(profile.get(), krmSig("CMYK"));
    krmSetProfilePCS(profile.get(), krmSig("Lab "));
    krmNamedColorList* list = krmAllocNamedColorList(nullptr, krmUInt32Number(names.size()), 0, "", "");
    for (int i = 0; i < names.size(); ++i)
        krmAppendNamedColor(list, names[i].constData(), pcs[i].data(), nullptr);
    krmWriteTag(profile.get(), tag, list);
    krmFreeNamedColorList(list);
    const QByteArray bytes = saveToBytes(profile.get());
    return openFromBytes(bytes);
}

ProfilePtr openFile(const char* path)
{
    return ProfilePtr(krmOpenProfileFromFile(path, "r"));
}

}  // namespace

class TestChannelVocabulary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerPermissiveReading(); }

    void colorsFollowTableAndShade_data();
    void colorsFollowTableAndShade();
    void paletteChoosesShadeAndGrid();
    void defaultNames_data();
    void defaultNames();
    void formattersScaleCodes_data();
    void formattersScaleCodes();
    void colorantTablesNameAndColourChannels();
    void tagSpacesAndChannels();
};

void TestChannelVocabulary::colorsFollowTableAndShade_data()
{
    QTest::addColumn<quint32>("space");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("hue");
    QTest::addColumn<int>("saturation");
    QTest::newRow("RGB green") << quint32(krmSig("RGB ")) << 1 << 120 << 200;
    QTest::newRow("CMYK black is achromatic") << quint32(krmSig("CMYK")) << 3 << 0 << 0;
    QTest::newRow("Lab L*") << quint32(krmSig("Lab ")) << 0 << 45 << 60;
    QTest::newRow("XYZ Z") << quint32(krmSig("XYZ ")) << 2 << 240 << 150;
    QTest::newRow("grey every channel") << quint32(krmSig("GRAY")) << 5 << 0 << 0;
    QTest::newRow("RGB beyond its channels: generic 3") << quint32(krmSig("RGB ")) << 3 << 0 << 0;
    QTest::newRow("6 colours channel 4: generic") << quint32(krmSig("6CLR")) << 4 << 30 << 220;
    QTest::newRow("generic wraps at 16") << quint32(krmSig("FCLR")) << 17 << 300 << 220;
}

void TestChannelVocabulary::colorsFollowTableAndShade()
{
    QFETCH(quint32, space);
    QFETCH(int, index);
    QFETCH(int, hue);
    QFETCH(int, saturation);
    const QColor light = channel_color(space, index, ChannelShade::Light);
    const QColor dark = channel_color(space, index, ChannelShade::Dark);
    QCOMPARE(light.hslHue(), hue);
    QCOMPARE(light.hslSaturation(), saturation);
    QCOMPARE(light.lightness(), 170);
    QCOMPARE(dark.lightness(), 100);
    QCOMPARE(dark.alpha(), 255);
}

void TestChannelVocabulary::paletteChoosesShadeAndGrid()
{
    const QPalette original = QApplication::palette();
    QApplication::setPalette(dark_fusion_palette());
    QVERIFY(is_dark_palette());
    QCOMPARE(grid_color(), QColor("#050505"));
    QCOMPARE(channel_color(krmSig("RGB "), 0), channel_color(krmSig("RGB "), 0, ChannelShade::Light));

    QPalette light;
    light.setColor(QPalette::Window, QColor(240, 240, 240));
    QApplication::setPalette(light);
    QVERIFY(!is_dark_palette());
    QCOMPARE(grid_color(), QColor("#bebebe"));
    QCOMPARE(channel_color(krmSig("RGB "), 0), channel_color(krmSig("RGB "), 0, ChannelShade::Dark));
    QApplication::setPalette(original);
}

void TestChannelVocabulary::defaultNames_data()
{
    QTest::addColumn<quint32>("space");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("CMYK") << quint32(krmSig("CMYK")) << QStringList{"C", "M", "Y", "K"};
    QTest::newRow("GRAY") << quint32(krmSig("GRAY")) << QStringList{"G"};
    QTest::newRow("Lab") << quint32(krmSig("Lab ")) << QStringList{"L*", "a*", "b*"};
    QTest::newRow("YCbr") << quint32(krmSig("YCbr")) << QStringList{"Y", "Cb", "Cr"};
    QTest::newRow("5 colours") << quint32(krmSig("5CLR")) << QStringList{"C1", "C2", "C3", "C4", "C5"};
}

void TestChannelVocabulary::defaultNames()
{
    QFETCH(quint32, space);
    QFETCH(QStringList, names);
    QCOMPARE(default_channel_names(space), names);
}

void TestChannelVocabulary::formattersScaleCodes_data()
{
    QTest::addColumn<quint32>("space");
    QTest::addColumn<double>("version");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("code");
    QTest::addColumn<QList<double>>("values");
    QTest::newRow("RGB full") << quint32(krmSig("RGB ")) << 4.3 << 3 << 65535 << QList<double>{255, 255, 255};
    QTest::newRow("GRAY is one channel") << quint32(krmSig("GRAY")) << 4.3 << 1 << 65535 << QList<double>{255};
    QTest::newRow("CMYK percent") << quint32(krmSig("CMYK")) << 4.3 << 4 << 65535 << QList<double>{100, 100, 100, 100};
    QTest::newRow("XYZ 1.15") << quint32(krmSig("XYZ ")) << 4.3 << 3 << 32768 << QList<double>{1, 1, 1};
    QTest::newRow("Lab v2 white") << quint32(krmSig("Lab ")) << 2.1 << 3 << 65280 << QList<double>{100, 127, 127};
    QTest::newRow("Lab v2 zero a*") << quint32(krmSig("Lab ")) << 2.1 << 3 << 32768 << QList<double>{100.0 * 32768 / 65280, 0, 0};
    QTest::newRow("Lab v4 white") << quint32(krmSig("Lab ")) << 4.0 << 3 << 65535 << QList<double>{100, 127, 127};
    QTest::newRow("Yxy unit") << quint32(krmSig("Yxy ")) << 4.3 << 3 << 65535 << QList<double>{1, 1, 1};
}

void TestChannelVocabulary::formattersScaleCodes()
{
    QFETCH(quint32, space);
    QFETCH(double, version);
    QFETCH(int, channels);
    QFETCH(int, code);
    QFETCH(QList<double>, values);
    ProfilePtr profile(krmCreateProfilePlaceholder(nullptr));
    krmSetProfileVersion(profile.get(), version);
    const QList<ChannelFormatter> formatters = get_channel_formatters(profile.get(), space);
    QCOMPARE(formatters.size(), channels);
    for (int i = 0; i < channels; ++i)
        QVERIFY2(qAbs(formatters[i](krmUInt16Number(code)) - values[i]) < 1e-9, qPrintable(QString::number(i)));
}

void TestChannelVocabulary::colorantTablesNameAndColourChannels()
{
    QPalette light;
    light.setColor(QPalette::Window, QColor(240, 240, 240));
    const QPalette original = QApplication::palette();

    // Pale yellow (L* 90) and dark blue (L* 20), legacy encoding: L* = code * 100 / 65280.
    const QList<std::array<krmUInt16Number, 3>> pcs = {
        {{krmUInt16Number(65280 * 0.9), 0x8000 - 20 * 256, 0x8000 + 90 * 256}},
        {{krmUInt16Number(65280 * 0.2), 0x8000 + 10 * 256, 0x8000 - 60 * 256}},
        {{krmUInt16Number(65280 * 0.5), 0x8000, 0x8000}},
        {{krmUInt16Number(65280 * 0.1), 0x8000, 0x8000}},
    };
    const ProfilePtr profile = cmykWithColorants({"Yellowish", "Navy", "Grey", "Deep"}, pcs);
    QVERIFY(profile);
    QCOMPARE(colorant_names(profile.get(), krmSig("clrt")), (QStringList{"Yellowish", "Navy", "Grey", "Deep"}));
    QVERIFY(colorant_names(profile.get(), krmSig("clot")).isEmpty());

    // L* is limited for legibility: at most 55 on a light page, at least 72 on a dark one.
    QApplication::setPalette(light);
    const QList<QColor> onLight = colorant_colors(profile.get(), krmSig("clrt"));
    QApplication::setPalette(dark_fusion_palette());
    const QList<QColor> onDark = colorant_colors(profile.get(), krmSig("clrt"));
    QApplication::setPalette(original);
    QCOMPARE(onLight.size(), 4);
    QCOMPARE(onDark.size(), 4);
    for (int i = 0; i < 4; ++i)
        QVERIFY2(onDark[i].lightness() > onLight[i].lightness(), qPrintable(QString::number(i)));
    QVERIFY(onLight[0].red() > onLight[0].blue());  // yellow stays yellow
    QVERIFY(onDark[1].blue() > onDark[1].red());    // navy stays blue

    // The table has one name per CMYK channel: B2A outputs and A2B inputs use it.
    const TagChannels b2a = describe_tag_channels(profile.get(), krmSig("B2A0"));
    QCOMPARE(b2a.inputNames, (QStringList{"L*", "a*", "b*"}));
    QCOMPARE(b2a.outputNames, (QStringList{"Yellowish", "Navy", "Grey", "Deep"}));
    QCOMPARE(b2a.outputFormatters.size(), 4);
    QCOMPARE(describe_tag_channels(profile.get(), krmSig("A2B1")).inputNames, b2a.outputNames);

    // A table whose size does not match the space falls back to the default names.
    const ProfilePtr three = cmykWithColorants({"A", "B", "C"}, pcs.mid(0, 3));
    QCOMPARE(describe_tag_channels(three.get(), krmSig("B2A0")).outputNames, (QStringList{"C", "M", "Y", "K"}));
    QCOMPARE(describe_tag_channels(three.get(), krmSig("B2A0")).outputColors[3], channel_color(krmSig("CMYK"), 3));
}

void TestChannelVocabulary::tagSpacesAndChannels()
{
    const ProfilePtr cmyk = openFile("/usr/share/color/icc/ghostscript/default_cmyk.icc");
    QVERIFY(cmyk);
    const TagIOSpaces b2a = tag_io_spaces(cmyk.get(), krmSig("B2A0"));
    QCOMPARE(b2a.input, krmGetProfilePCS(cmyk.get()));
    QCOMPARE(b2a.output, krmSig("CMYK"));
    const TagIOSpaces gamt = tag_io_spaces(cmyk.get(), krmSig("gamt"));
    QCOMPARE(gamt.output, krmSig("GRAY"));
    QCOMPARE(tag_io_spaces(cmyk.get(), krmSig("pre1")).output, krmGetProfilePCS(cmyk.get()));

    const ProfilePtr srgb = openFile("/usr/share/color/icc/colord/sRGB.icc");
    const TagChannels shaper = describe_tag_channels(srgb.get(), MatrixShaperTag);
    QCOMPARE(shaper.inputNames, (QStringList{"R", "G", "B"}));
    QCOMPARE(shaper.outputNames, (QStringList{"X", "Y", "Z"}));
    QCOMPARE(shaper.inputColors[2], channel_color(krmSig("RGB "), 2));
    QCOMPARE(shaper.outputFormatters[0](32768), 1.0);

    bool threw = false;
    try {
        tag_io_spaces(srgb.get(), krmSig("rTRC"));
    } catch (const QException&) {
        threw = true;
    }
    QVERIFY(threw);
}

QTEST_MAIN(TestChannelVocabulary)
#include "tst_channelvocabulary.moc"
