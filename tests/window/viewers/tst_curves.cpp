// The curves viewer: legend descriptions of sampled, parametric and segmented curves, every
// curve tag and curve-set stage of the real-profile corpus plotted at the engine's values, stage
// naming, the copied values, and tags that cannot be shown.

#include "tests/support/ViewerTestSupport.h"

#include "window/widgets/ColorScheme.h"
#include "window/overview/TagViewers.h"
#include "window/widgets/ChannelVocabulary.h"
#include "window/widgets/CurveGraphScene.h"
#include "window/viewers/CurvesComponent.h"
#include "window/widgets/GraphicsViewer.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QException>
#include <QGraphicsTextItem>
#include <QGraphicsView>
#include <QMenu>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace viewertest;

namespace {

struct CurveFree {
    void operator()(krmToneCurve* curve) const { krmFreeToneCurve(curve); }
};
using CurvePtr = std::unique_ptr<krmToneCurve, CurveFree>;

CurvePtr parametric(int type, std::initializer_list<double> params)
{
    double values[10] = {};
    std::copy(params.begin(), params.end(), values);
    return CurvePtr(krmBuildParametricToneCurve(nullptr, type, values));
}

QStringList legendTexts(const CurveGraphScene* scene)
{
    QStringList texts;
    for (QGraphicsItem* item : scene->items(Qt::AscendingOrder)) {
        if (auto* text = dynamic_cast<QGraphicsTextItem*>(item))
            texts << text->toPlainText();
    }
    return texts;
}

// Every path point lies where the engine's float evaluation, clamped, puts it.
void verifyPaths(const CurveGraphScene* scene, const QList<const krmToneCurve*>& curves, const QString& where)
{
    QCOMPARE(scene->pathItems().size(), curves.size());
    const QRectF plot = scene->plotRect();
    for (int c = 0; c < curves.size(); ++c) {
        const QPainterPath path = scene->pathItems()[c]->path();
        QVERIFY2(path.elementCount() == 256, qPrintable(where));
        QCOMPARE(scene->pathItems()[c]->pos(), plot.topLeft());
        for (int i = 0; i < 256; ++i) {
            const double x = i / 255.0;
            const double y = std::clamp(double(krmEvalToneCurveFloat(curves[c], krmFloat32Number(x))), 0.0, 1.0);
            const QPointF point = path.elementAt(i);
            QVERIFY2(std::fabs(point.x() - plot.width() * x) < 1e-6 && std::fabs(point.y() - (1 - y) * plot.height()) < 1e-6,
                     qPrintable(QStringLiteral("%1 curve %2 sample %3").arg(where).arg(c).arg(i)));
        }
    }
}

krmStage* curveStage(int channels, double gamma)
{
    CurvePtr curve(krmBuildGamma(nullptr, gamma));
    krmToneCurve* curves[16];
    std::fill(curves, curves + 16, curve.get());
    return krmStageAllocToneCurves(nullptr, krmUInt32Number(channels), curves);
}

}  // namespace

class TestCurves : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerPermissiveReading(); }

    void descriptions();
    void corpusPathsFollowTheEngine();
    void stagesAreNamedByPosition();
    void legendCopyAndPalette();
    void readoutAndToggles();
    void unshowableTagsThrow();
};

void TestCurves::descriptions()
{
    // A pure gamma is ICC function type 0 with its one parameter, as prismet-cli tag names it
    // (AdobeRGB1998's rTRC is a 'para' of type 0 with gamma 2.19921875), never a "Sampled" table.
    const CurvePtr gamma22(krmBuildGamma(nullptr, 2.2));
    QCOMPARE(curve_description(gamma22.get()), QStringLiteral("[1] ICC function type 0: Y = X<sup>2.2</sup>"));
    const ProfilePtr adobe(krmOpenProfileFromFile("/usr/share/color/icc/colord/AdobeRGB1998.icc", "r"));
    QCOMPARE(curve_description(static_cast<const krmToneCurve*>(krmReadTag(adobe.get(), krmSig("rTRC")))),
             QStringLiteral("[1] ICC function type 0: Y = X<sup>2.199</sup>"));

    // A sampled S-curve has no single gamma: no suffix at all.
    const krmUInt16Number s[5] = {0, 2000, 32768, 63535, 65535};
    QCOMPARE(curve_description(CurvePtr(krmBuildTabulatedToneCurve16(nullptr, 5, s)).get()),
             QStringLiteral("Sampled, 5 points"));

    // Four significant digits without trailing zeros: 2.4 and 1/12.92 = 0.0774.
    QCOMPARE(curve_description(parametric(4, {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045}).get()),
             QStringLiteral("[4] ICC function type 3: Y = (0.9479X + 0.05213)<sup>2.4</sup> (X \u2265 0.04045) | Y = 0.0774X (X &lt; 0.04045)"));
    // Type 2 repeats its threshold -b/a.
    QCOMPARE(curve_description(parametric(2, {2.0, 2.0, -1.0}).get()),
             QStringLiteral("Y = (2X + -1)<sup>2</sup> (X \u2265 0.5) | Y = 0 (X &lt; 0.5)").prepend("[2] ICC function type 1: "));
    QCOMPARE(curve_description(parametric(-4, {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045}).get()),
             QStringLiteral("[-4]"));

    krmCurveSegment segments[2] = {};
    segments[0] = {-1e22f, 0.5f, 6, {1.0, 1.0, 0.0, 0.0}, 0, nullptr};
    segments[1] = {0.5f, 1e22f, 6, {1.0, 1.0, 0.0, 0.0}, 0, nullptr};
    QCOMPARE(curve_description(CurvePtr(krmBuildSegmentedToneCurve(nullptr, 2, segments)).get()),
             QStringLiteral("Multisegmented"));

    // The real sRGB curve carries its formula with the stored (rounded) parameters.
    const ProfilePtr srgb(krmOpenProfileFromFile("/usr/share/color/icc/colord/sRGB.icc", "r"));
    const auto* trc = static_cast<const krmToneCurve*>(krmReadTag(srgb.get(), krmSig("rTRC")));
    QCOMPARE(curve_description(trc),
             QStringLiteral("[4] ICC function type 3: Y = (0.9479X + 0.05214)<sup>2.4</sup> (X \u2265 0.04045) | Y = 0.07739X (X &lt; 0.04045)"));
}

void TestCurves::corpusPathsFollowTheEngine()
{
    const krmTagSignature curveTags[] = {krmSig("rTRC"), krmSig("gTRC"), krmSig("bTRC"), krmSig("kTRC"),
                                         krmSig("vcgt"), krmSig("bfd ")};
    int tagViews = 0;
    int stageViews = 0;
    for (const QString& path : corpusProfiles()) {
        const ProfilePtr profile(krmOpenProfileFromFile(path.toLocal8Bit().constData(), "r"));
        QVERIFY2(profile, qPrintable(path));
        for (krmTagSignature sig : curveTags) {
            if (!krmIsTag(profile.get(), sig))
                continue;
            CurvesComponent view(profile.get(), sig, -1);
            QList<const krmToneCurve*> curves;
            for (const auto* item : view.scene()->pathItems())
                curves << item->curve();
            verifyPaths(view.scene(), curves, path + QLatin1Char(' ') + QString::number(sig, 16));
            ++tagViews;
        }

        QList<krmTagSignature> luts;
        for (krmInt32Number i = 0; i < krmGetTagCount(profile.get()); ++i)
            luts << krmGetTagSignature(profile.get(), krmUInt32Number(i));
        luts << MatrixShaperTag;
        for (krmTagSignature sig : luts) {
            const TagPipelinePtr pipeline(sig == MatrixShaperTag || stored_tag_type(profile.get(), sig) != 0
                                           ? tag_pipeline(profile.get(), sig)
                                           : nullptr);
            if (!pipeline)
                continue;
            int index = 0;
            for (krmStage* stage = krmPipelineFirstStage(pipeline.get()); stage; stage = krmStageNext(stage), ++index) {
                if (krmStageType(stage) != krmSigCurveSetElemType)
                    continue;
                const auto* data = static_cast<const krmStageCurvesData*>(krmStageData(stage));
                CurvesComponent view(profile.get(), sig, index);
                QList<const krmToneCurve*> curves(data->TheCurves, data->TheCurves + data->nCurves);
                verifyPaths(view.scene(), curves, path + QStringLiteral(" stage %1").arg(index));
                ++stageViews;
            }
        }
    }
    QVERIFY(tagViews > 50);
    QVERIFY(stageViews > 20);
}

void TestCurves::stagesAreNamedByPosition()
{
    // Curves, CLUT, curves, matrix, curves (the order of 'mAB '): the first stage names the RGB
    // inputs, the middle one is generic, the last one names the L*a*b* outputs.
    TagPipelinePtr pipeline(krmPipelineAlloc(nullptr, 3, 3));
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    krmPipelineInsertStage(pipeline.get(), krmAT_END, curveStage(3, 2.2));
    krmPipelineInsertStage(pipeline.get(), krmAT_END, krmStageAllocIdentityCLut(nullptr, 3));
    krmPipelineInsertStage(pipeline.get(), krmAT_END, curveStage(3, 1.8));
    krmPipelineInsertStage(pipeline.get(), krmAT_END, krmStageAllocMatrix(nullptr, 3, 3, identity, nullptr));
    krmPipelineInsertStage(pipeline.get(), krmAT_END, curveStage(3, 1.0));
    const ProfilePtr profile = profileWithA2B0(pipeline.get());
    QVERIFY(profile);
    const TagPipelinePtr stored(tag_pipeline(profile.get(), krmSig("A2B0")));
    QCOMPARE(krmPipelineStageCount(stored.get()), 5u);

    const struct {
        int stage;
        QStringList prefixes;
        QColor first;
    } cases[] = {
        {0, {"R: ", "G: ", "B: "}, channel_color(krmSig("RGB "), 0)},
        {2, {"Curve 1: ", "Curve 2: ", "Curve 3: "}, channel_color(0, 0)},
        {4, {"L*: ", "a*: ", "b*: "}, channel_color(krmSig("Lab "), 0)},
    };
    for (const auto& c : cases) {
        CurvesComponent view(profile.get(), krmSig("A2B0"), c.stage);
        const QStringList legend = legendTexts(view.scene());
        QCOMPARE(legend.size(), 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY2(legend[i].startsWith(c.prefixes[i]), qPrintable(legend[i]));
        QCOMPARE(view.scene()->pathItems()[0]->color(), c.first);
    }

    // The only stage of a one-stage pipeline takes the input names.
    TagPipelinePtr single(krmPipelineAlloc(nullptr, 3, 3));
    krmPipelineInsertStage(single.get(), krmAT_END, curveStage(3, 2.2));
    const ProfilePtr one = profileWithA2B0(single.get());
    const TagPipelinePtr oneStored(tag_pipeline(one.get(), krmSig("A2B0")));
    QVERIFY(oneStored);
    QCOMPARE(krmPipelineStageCount(oneStored.get()), 1u);
    QVERIFY(legendTexts(CurvesComponent(one.get(), krmSig("A2B0"), 0).scene())[0].startsWith("R: "));
}

void TestCurves::legendCopyAndPalette()
{
    const ProfilePtr srgb(krmOpenProfileFromFile("/usr/share/color/icc/colord/sRGB.icc", "r"));
    const QPalette original = QApplication::palette();
    QApplication::setPalette(dark_fusion_palette());
    CurvesComponent dark(srgb.get(), krmSig("rTRC"), -1);
    QPalette light;
    light.setColor(QPalette::Window, QColor(240, 240, 240));
    QApplication::setPalette(light);
    CurvesComponent bright(srgb.get(), krmSig("rTRC"), -1);
    QApplication::setPalette(original);

    QVERIFY(legendTexts(dark.scene()).first().startsWith(QStringLiteral("R: [4] ICC function type 3: Y = (0.9479X")));
    QVERIFY(dark.scene()->pathItems()[0]->color().lightness() > bright.scene()->pathItems()[0]->color().lightness());
    QCOMPARE(dark.scene()->sceneRect(), QRectF(0, 0, 1024, 512));
    QVERIFY(dark.scene()->topMargin() > 28);  // the title makes room for itself

    // "Copy values": header, then the 256 plotted samples.
    QVERIFY(dark.viewer()->contextMenu()->actions().contains(dark.copyValuesAction()));
    dark.copyValuesAction()->trigger();
    const QStringList lines = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 257);
    QCOMPARE(lines[0], QStringLiteral("Input\tR"));
    QCOMPARE(lines[1], QStringLiteral("0.000000\t0.000000"));
    QCOMPARE(lines[256], QStringLiteral("1.000000\t1.000000"));
    const auto* trc = static_cast<const krmToneCurve*>(krmReadTag(srgb.get(), krmSig("rTRC")));
    const QStringList middle = lines[129].split('\t');
    QCOMPARE(middle[0].toDouble(), std::round(128 / 255.0 * 1e6) / 1e6);
    QVERIFY(std::fabs(middle[1].toDouble() - krmEvalToneCurveFloat(trc, 128 / 255.0f)) < 1e-6);

    // Axes read 0 to 1 in tenths, as "Copy values" does, under their titles.
    QCOMPARE(dark.scene()->tickLabels().first(), QStringLiteral("0.0"));
    QCOMPARE(dark.scene()->tickLabels()[5], QStringLiteral("0.5"));
    QCOMPARE(dark.scene()->tickLabels().last(), QStringLiteral("1.0"));
    QCOMPARE(dark.scene()->axes().xTitle, QStringLiteral("Input"));
    QCOMPARE(dark.scene()->axes().yTitle, QStringLiteral("Output"));
}

void TestCurves::readoutAndToggles()
{
    // sRGB's three coinciding curves: the read-out gives each at the pointer, and a click on a
    // legend line hides its curve (and drops it from the read-out).
    const ProfilePtr srgb(krmOpenProfileFromFile("/usr/share/color/icc/colord/sRGB.icc", "r"));
    const auto* trc = static_cast<const krmToneCurve*>(krmReadTag(srgb.get(), krmSig("rTRC")));
    CurveGraphScene scene(1024, 512,
                          {CurveEntry{trc, "R", QColor(Qt::red)}, CurveEntry{trc, "G", QColor(Qt::green)},
                           CurveEntry{trc, "B", QColor(Qt::blue)}},
                          256, QString(), QString());
    const QRectF plot = scene.plotRect();
    const QPointF half(plot.left() + plot.width() / 2, plot.center().y());
    const QString value = QString::number(krmEvalToneCurveFloat(trc, 0.5f), 'f', 3);
    QCOMPARE(scene.readoutAt(half), QStringLiteral("Input 0.500   R %1   G %1   B %1").arg(value));
    QVERIFY(scene.readoutAt(QPointF(plot.left() - 5, plot.top() + 5)).isEmpty());
    scene.showReadout(half);
    QVERIFY(scene.readoutItem()->isVisible());

    QGraphicsView view(&scene);
    view.resize(1100, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QGraphicsItem* legendG = nullptr;
    for (QGraphicsItem* item : scene.items())
        if (auto* text = dynamic_cast<QGraphicsTextItem*>(item); text && text->toPlainText() == QStringLiteral("G"))
            legendG = text;
    QVERIFY(legendG);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.mapFromScene(legendG->sceneBoundingRect().center()));
    QVERIFY(!scene.isCurveVisible(1) && !scene.pathItems()[1]->isVisible());
    QVERIFY(scene.isCurveVisible(0) && scene.isCurveVisible(2));
    QCOMPARE(scene.readoutAt(half), QStringLiteral("Input 0.500   R %1   B %1").arg(value));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.mapFromScene(legendG->sceneBoundingRect().center()));
    QVERIFY(scene.isCurveVisible(1));
}

void TestCurves::unshowableTagsThrow()
{
    const auto throws = [](krmProfile profile, krmTagSignature sig, int stage) {
        try {
            CurvesComponent view(profile, sig, stage);
        } catch (const QException&) {
            return true;
        }
        return false;
    };
    // An 'rTRC' that holds XYZ numbers is not a curve, even though permissive reading decodes it.
    const QByteArray xyz = be32(krmSig("XYZ ")) + be32(0) + be32(0xF6D6) + be32(0x10000) + be32(0xD32D);
    const ProfilePtr wrongType = openFromBytes(buildProfile({{krmSig("rTRC"), xyz}}));
    QVERIFY(wrongType);
    QVERIFY(throws(wrongType.get(), krmSig("rTRC"), -1));
    QVERIFY(throws(wrongType.get(), krmSig("gTRC"), -1));  // absent

    const ProfilePtr cmyk(krmOpenProfileFromFile("/usr/share/color/icc/ghostscript/default_cmyk.icc", "r"));
    QVERIFY(!throws(cmyk.get(), krmSig("B2A0"), 0));
    QVERIFY(throws(cmyk.get(), krmSig("B2A0"), 1));   // the CLUT
    QVERIFY(throws(cmyk.get(), krmSig("B2A0"), 99));  // past the end
    QVERIFY(throws(cmyk.get(), krmSig("desc"), 0));   // no pipeline
}

QTEST_MAIN(TestCurves)
#include "tst_curves.moc"
