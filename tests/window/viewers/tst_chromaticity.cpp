// The chromaticity viewer: the spectral locus and pixel mapping, true primaries against known
// colour spaces, what each kind of tag puts on the diagram, the reference triangle and its
// settings, the palette-dependent marker colour and the horseshoe fill through the screen.

#include "tests/support/ViewerTestSupport.h"

#include "window/widgets/ColorScheme.h"
#include "common/signatures/Signatures.h"
#include "window/overview/TagViewers.h"
#include "window/widgets/BuiltinProfiles.h"
#include "window/widgets/ICCProfileSelector.h"
#include "window/widgets/AppSettings.h"
#include "window/viewers/ChromaticityDiagram.h"
#include "window/widgets/ScreenColor.h"
#include "window/viewers/XYZComponent.h"

#include <QApplication>
#include <QCheckBox>
#include <QException>
#include <QPainter>
#include <QSettings>
#include <QTest>

#include <cmath>

using namespace viewertest;

namespace {

QByteArray s15(double value)
{
    return be32(quint32(qint32(std::lround(value * 65536.0))));
}

QByteArray xyzType(double x, double y, double z)
{
    return be32(krmSig("XYZ ")) + be32(0) + s15(x) + s15(y) + s15(z);
}

// 'chrm' with phosphor/colorant type 0 and three u16Fixed16 xy pairs.
QByteArray chrmType(const QList<QPointF>& xy)
{
    QByteArray bytes = be32(krmSig("chrm")) + be32(0) + be16(3) + be16(0);
    for (const QPointF& p : xy)
        bytes += be32(quint32(std::lround(p.x() * 65536.0))) + be32(quint32(std::lround(p.y() * 65536.0)));
    return bytes;
}

ProfilePtr openFile(const char* path)
{
    return ProfilePtr(krmOpenProfileFromFile(path, "r"));
}

QImage render(XYZTagScene* scene)
{
    QImage image(800, 800, QImage::Format_RGB32);
    QPainter painter(&image);
    scene->render(&painter, QRectF(0, 0, 800, 800), scene->sceneRect());
    return image;
}

}  // namespace

class TestChromaticity : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        registerPermissiveReading();
        QApplication::setStyle(QStringLiteral("Fusion"));
    }
    void init() { appSettings()->clear(); }

    void locusAndMapping();
    void truePrimariesOfKnownSpaces();
    void sceneContents_data();
    void sceneContents();
    void colorantWithoutTransformShowsColumnOnly();
    void referenceTriangle();
    void darkPaletteMarker();
    void horseshoeFilledThroughScreen();
    void dispatchAndRefusals();
};

void TestChromaticity::locusAndMapping()
{
    const auto& locus = ChromaticityDiagram::spectral_locus();
    QCOMPARE(int(locus.size()), 65);
    QCOMPARE(ChromaticityDiagram::locus_point(380), QPointF(0.1741, 0.0050));
    QCOMPARE(ChromaticityDiagram::locus_point(520), QPointF(0.0743, 0.8338));
    QCOMPARE(ChromaticityDiagram::locus_point(700), QPointF(0.7347, 0.2653));
    for (const QPointF& p : locus)
        QVERIFY(p.x() > 0 && p.y() > 0 && p.x() + p.y() <= 1.0);

    // Planckian locus: the fit's published values near 6500 K and at the ends of its range.
    const QPointF d65 = ChromaticityDiagram::planckian_xy(6504);
    QVERIFY(std::abs(d65.x() - 0.3135) < 0.002 && std::abs(d65.y() - 0.3236) < 0.002);
    QVERIFY(std::abs(ChromaticityDiagram::planckian_xy(1667).x() - 0.5650) < 0.002);

    // No titles: the plot starts at 10 and ends 22 above the bottom, 42 from the left.
    ChromaticityDiagram diagram;
    QCOMPARE(diagram.plot_top(), 10);
    QCOMPARE(diagram.to_pixel(0, 1, 800, 800), QPoint(42, 10));
    QCOMPARE(diagram.to_pixel(1, 0, 800, 800), QPoint(42 + 757, 10 + 767));
    diagram.title = QStringLiteral("T");
    diagram.subtitle = QStringLiteral("S");
    QVERIFY(diagram.plot_top() > 10 + 20);

    // The hover read-out inverts the mapping to the pixel (within half a pixel, 0.0007), titles
    // or not, and says nothing off the plot.
    for (const QPointF& xy : {QPointF(0.3127, 0.3290), QPointF(0.64, 0.33), QPointF(0.15, 0.06)}) {
        const std::optional<QPointF> back = diagram.from_pixel(diagram.to_pixel(xy.x(), xy.y(), 800, 800), 800, 800);
        QVERIFY(back && std::abs(back->x() - xy.x()) < 7e-4 && std::abs(back->y() - xy.y()) < 7e-4);
    }
    QVERIFY(!diagram.from_pixel(QPointF(20, 400), 800, 800));
    const ProfilePtr srgb = openFile("/usr/share/color/icc/colord/sRGB.icc");
    XYZComponent white(srgb.get(), krmSig("wtpt"));
    const ChromaticityDiagram shown = white.scene()->diagram();
    const QPoint d50 = shown.to_pixel(0.3457, 0.3585, 800, 800);
    QVERIFY2(white.scene()->readoutAt(d50).startsWith(QStringLiteral("x 0.34")), qPrintable(white.scene()->readoutAt(d50)));
    QVERIFY(white.scene()->readoutAt(QPointF(5, 5)).isEmpty());
}

void TestChromaticity::truePrimariesOfKnownSpaces()
{
    // The colorants of sRGB.icc are adapted to D50; undone, they are Rec. 709's primaries.
    const ProfilePtr srgb = openFile("/usr/share/color/icc/colord/sRGB.icc");
    QVERIFY(srgb);
    const QPointF expected[3] = {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}};
    const KrmProfilePtr builtin(open_profile_by_name(QStringLiteral("*srgb")));
    for (krmProfile profile : {srgb.get(), builtin.get()}) {
        const auto primaries = true_primaries(profile);
        for (int i = 0; i < 3; ++i) {
            QVERIFY2(std::abs(primaries[i].x - expected[i].x()) < 0.001 && std::abs(primaries[i].y - expected[i].y()) < 0.001,
                     qPrintable(QStringLiteral("%1: %2, %3").arg(i).arg(primaries[i].x).arg(primaries[i].y)));
        }
    }
    const KrmProfilePtr adobe(open_profile_by_name(QStringLiteral("*argb")));
    const auto green = true_primaries(adobe.get())[1];
    QVERIFY(std::abs(green.x - 0.21) < 0.001 && std::abs(green.y - 0.71) < 0.001);

    // A profile that cannot be transformed (a colour list) gives zeros.
    const ProfilePtr x11 = openFile("/usr/share/color/icc/colord/x11-colors.icc");
    const auto none = true_primaries(x11.get());
    QCOMPARE(none[0].x + none[1].y + none[2].Y, 0.0);
}

void TestChromaticity::sceneContents_data()
{
    QTest::addColumn<QByteArray>("tag");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("points");
    QTest::addColumn<bool>("planckian");
    QTest::addColumn<int>("highlight");  // of the first triangle; -3 without triangle

    const double d65[3] = {0.9505, 1.0, 1.089};
    QTest::newRow("white near D65") << QByteArray("wtpt") << xyzType(d65[0], d65[1], d65[2])
                                    << QStringLiteral("Media white")
                                    << QStringLiteral("XYZ:(0.9505, 1.0000, 1.0890) xy:(0.3127, 0.3290) %1")
                                           .arg(whitePointName(0.3127, 0.3290, 0.003))
                                    << 1 << true << -3;
    QTest::newRow("black point zero") << QByteArray("bkpt") << xyzType(0, 0, 0) << QStringLiteral("Black point")
                                      << QStringLiteral("XYZ:(0.0000, 0.0000, 0.0000) xy: undefined (XYZ is zero)") << 0
                                      << false << -3;
    QTest::newRow("chromaticity") << QByteArray("chrm") << chrmType({{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}})
                                  << QStringLiteral("Chromaticity")
                                  << QStringLiteral("R:(0.6400, 0.3300) G:(0.3000, 0.6000) B:(0.1500, 0.0600)") << 0 << false << -1;
}

void TestChromaticity::sceneContents()
{
    QFETCH(QByteArray, tag);
    QFETCH(QByteArray, data);
    const krmTagSignature sig = krmSig(tag.constData()[0] == 'w' ? "wtpt" : tag.constData()[0] == 'b' ? "bkpt" : "chrm");
    const ProfilePtr profile = openFromBytes(buildProfile({{sig, data}}));
    QVERIFY(profile);
    XYZComponent viewer(profile.get(), sig);
    const ChromaticityDiagram diagram = viewer.scene()->diagram();
    QTEST(diagram.title, "title");
    QTEST(diagram.subtitle, "text");
    QTEST(int(diagram.points.size()), "points");
    QTEST(diagram.planckian, "planckian");
    QFETCH(int, highlight);
    QCOMPARE(int(diagram.triangles.size()), highlight == -3 ? 0 : 1);
    if (highlight != -3)
        QCOMPARE(diagram.triangles[0].highlight, highlight);
    if (!diagram.points.isEmpty())
        QCOMPARE(diagram.points[0].color, QColor(Qt::white));
}

void TestChromaticity::colorantWithoutTransformShowsColumnOnly()
{
    // Colorants alone, without curves: no transform, so no true chromaticity in the text.
    const ProfilePtr bare = openFromBytes(buildProfile({{krmSig("gXYZ"), xyzType(0.3851, 0.7169, 0.0971)}}));
    XYZComponent bareViewer(bare.get(), krmSig("gXYZ"));
    QCOMPARE(bareViewer.scene()->diagram().subtitle, QStringLiteral("Matrix column [0.3851 0.7169 0.0971]"));

    // A whole profile: the triangle marks only the own vertex, the title has the channel colour.
    const ProfilePtr srgb = openFile("/usr/share/color/icc/colord/sRGB.icc");
    XYZComponent viewer(srgb.get(), krmSig("gXYZ"));
    const ChromaticityDiagram diagram = viewer.scene()->diagram();
    QCOMPARE(diagram.title, QStringLiteral("Green colorant"));
    QVERIFY(diagram.subtitle.endsWith(QStringLiteral("True chromaticity xy:(0.300, 0.600)")));
    QCOMPARE(diagram.triangles.size(), 1);
    QCOMPARE(diagram.triangles[0].highlight, 1);
    QCOMPARE(diagram.titleColor, channel_color(krmSig("RGB "), 1));
}

void TestChromaticity::referenceTriangle()
{
    const ProfilePtr srgb = openFile("/usr/share/color/icc/colord/sRGB.icc");
    {
        XYZComponent viewer(srgb.get(), krmSig("rXYZ"));
        QVERIFY(!viewer.referenceBox()->isChecked());
        QVERIFY(!viewer.selector()->isEnabled());
        QCOMPARE(viewer.scene()->diagram().triangles.size(), 1);

        viewer.selector()->selectProfile(QStringLiteral("*argb"));
        viewer.referenceBox()->setChecked(true);
        QVERIFY(viewer.selector()->isEnabled());
        const ChromaticityDiagram diagram = viewer.scene()->diagram();
        QCOMPARE(diagram.triangles.size(), 2);
        const DiagramTriangle& reference = diagram.triangles[1];
        QCOMPARE(reference.style, Qt::DashDotLine);
        QCOMPARE(reference.color, QColor(80, 80, 80));
        QCOMPARE(reference.highlight, -2);
        QVERIFY(std::abs(reference.green.x() - 0.21) < 0.001);
    }
    // The box state and the choice outlive the viewer.
    QCOMPARE(appSettings()->value(QStringLiteral("cmp_on")).toBool(), true);
    QCOMPARE(appSettings()->value(QStringLiteral("cmp_prf")).toString(), QStringLiteral("*argb"));
    XYZComponent again(srgb.get(), krmSig("rXYZ"));
    QVERIFY(again.referenceBox()->isChecked());
    QVERIFY(again.scene()->referenceShown());

    // Checked, but a reference that gives no primaries: nothing extra is drawn.
    again.scene()->setReference(true, {});
    QImage withZero = render(again.scene());
    again.scene()->setReference(false, {});
    QCOMPARE(render(again.scene()), withZero);
}

void TestChromaticity::darkPaletteMarker()
{
    const ProfilePtr profile = openFromBytes(buildProfile({{krmSig("chrm"), chrmType({{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}})}}));
    const QPalette original = QApplication::palette();
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? dark_fusion_palette() : QPalette(Qt::white));
        XYZComponent viewer(profile.get(), krmSig("chrm"));
        const QImage image = render(viewer.scene());
        const ChromaticityDiagram diagram = viewer.scene()->diagram();
        const QPoint red = diagram.to_pixel(0.64, 0.33, 800, 800);
        // The middle of the marker ring (diameter 12, pen 4), right of the vertex.
        const QColor ring = image.pixelColor(red + QPoint(6, 0));
        QCOMPARE(ring, dark ? QColor(255, 140, 140) : QColor(110, 0, 0));
    }
    QApplication::setPalette(original);
}

void TestChromaticity::horseshoeFilledThroughScreen()
{
    const ProfilePtr profile = openFromBytes(buildProfile({{krmSig("bkpt"), xyzType(0, 0, 0)}}));
    XYZComponent viewer(profile.get(), krmSig("bkpt"));
    const QImage image = render(viewer.scene());
    const ChromaticityDiagram diagram = viewer.scene()->diagram();

    // The PCS white D50 is neutral on the screen; outside the horseshoe is the page.
    const QColor white = image.pixelColor(diagram.to_pixel(0.3457, 0.3585, 800, 800));
    QVERIFY2(std::abs(white.red() - white.green()) <= 3 && std::abs(white.green() - white.blue()) <= 3,
             qPrintable(white.name()));
    QCOMPARE(image.pixelColor(diagram.to_pixel(0.05, 0.05, 800, 800)), diagram.background);

    // The fill is what the screen transform gives for the pixel's chromaticity.
    const KrmTransformPtr toScreen = xyz_to_screen_transform();
    const QPoint at = diagram.to_pixel(0.2, 0.5, 800, 800);
    const double x = double(at.x() - 42) / 757.0;
    const double y = 1.0 - double(at.y() - diagram.plot_top()) / (800 - diagram.plot_top() - 22 - 1);
    const krmCIEXYZ xyz{x, y, 1 - x - y};
    krmUInt16Number words[3];
    krmFloat2XYZEncoded(words, &xyz);
    krmUInt8Number rgb[3];
    krmDoTransform(toScreen.get(), words, rgb, 1);
    QCOMPARE(image.pixelColor(at), QColor(rgb[0], rgb[1], rgb[2]));
}

void TestChromaticity::dispatchAndRefusals()
{
    const ProfilePtr profile = openFromBytes(buildProfile({{krmSig("wtpt"), xyzType(0.9642, 1.0, 0.8249)},
                                                           {krmSig("lumi"), xyzType(80, 80, 80)},
                                                           {krmSig("bXYZ"), textType("not a colorant")}}));
    const QList<ViewerTab> tabs = dispatchTagViewers(profile.get(), krmSig("wtpt"), nullptr);
    QCOMPARE(tabs.size(), 1);
    QCOMPARE(tabs[0].title, QStringLiteral("XYZ"));
    QVERIFY(qobject_cast<XYZComponent*>(tabs[0].widget));
    delete tabs[0].widget;

    QVERIFY_THROWS_EXCEPTION(QException, XYZComponent(profile.get(), krmSig("lumi")));
    QVERIFY_THROWS_EXCEPTION(QException, XYZComponent(profile.get(), krmSig("rXYZ")));  // absent
    QVERIFY_THROWS_EXCEPTION(QException, XYZComponent(profile.get(), krmSig("bXYZ")));  // wrong type
    QVERIFY_THROWS_EXCEPTION(QException, XYZComponent(nullptr, krmSig("wtpt")));
}

QTEST_MAIN(TestChromaticity)
#include "tst_chromaticity.moc"
