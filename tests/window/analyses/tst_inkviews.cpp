// The ink separation and dot gain views: controls and stored settings, the curves against the
// shared ramp code, legend names, the dot gain graph's range and per-ink failures.

#include "window/analyses/GCRCurvesTagComponent.h"
#include "common/analysis/InkRamps.h"
#include "window/analyses/TVICurvesTagComponent.h"
#include "window/analyses/TVIGraphScene.h"
#include "window/widgets/AppSettings.h"
#include "window/widgets/CurveGraphScene.h"
#include "window/widgets/GraphicsViewer.h"

#include <krm.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGraphicsPathItem>
#include <QGraphicsRectItem>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QSettings>
#include <QtTest>

#include <memory>
#include <type_traits>

namespace {

struct ProfileClose {
    void operator()(void* p) const { krmCloseProfile(static_cast<krmProfile>(p)); }
};
using ProfilePtr = std::unique_ptr<std::remove_pointer_t<krmProfile>, ProfileClose>;

const char kCmyk[] = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

ProfilePtr open_cmyk()
{
    return ProfilePtr(krmOpenProfileFromFile(kCmyk, "r"));
}

// A six-ink output profile whose A2B0 is linear in every ink (XYZ falls in proportion to the ink)
// and whose sixth ink prints nothing.
ProfilePtr linear_six_ink_profile()
{
    ProfilePtr profile(krmCreateProfilePlaceholder(nullptr));
    krmSetProfileClass(profile.get(), krmSig("prtr"));
    krmSetProfileColorSpace(profile.get(), krmSig("MCH6"));
    krmSetProfilePCS(profile.get(), krmSig("XYZ "));
    krmSetProfileVersion(profile.get(), 4.3);
    // The pipeline's XYZ is the PCS value scaled by 32768/65535.
    const double s = 32768.0 / 65535.0;
    const double matrix[3 * 6] = {-0.30 * s, 0.0, 0.0, 0.0, -0.2 * s, 0.0,
                                  0.0, -0.35 * s, 0.0, -0.1 * s, 0.0, 0.0,
                                  0.0, 0.0, -0.30 * s, 0.0, -0.1 * s, 0.0};
    const double offset[3] = {0.9642 * s, 1.0 * s, 0.8249 * s};
    krmPipeline* pipeline = krmPipelineAlloc(nullptr, 6, 3);
    krmPipelineInsertStage(pipeline, krmAT_END, krmStageAllocMatrix(nullptr, 3, 6, matrix, offset));
    krmWriteTag(profile.get(), krmSig("A2B0"), pipeline);
    krmPipelineFree(pipeline);
    return profile;
}

QStringList legend_names(const CurveGraphScene* scene)
{
    QStringList names;
    for (QGraphicsItem* item : scene->items()) {
        if (auto* text = dynamic_cast<QGraphicsTextItem*>(item))
            names << text->toPlainText();
    }
    return names;
}

}  // namespace

class TestInkViews : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void separationCurvesAreTheSharedRamp();
    void separationControlsAndSettings();
    void dotGainOfCmyk();
    void dotGainLinearInksAndFailures();
};

void TestInkViews::initTestCase()
{
    QVERIFY2(QFile::exists(QString::fromLatin1(kCmyk)), "libgs-common is needed");
}

void TestInkViews::init()
{
    QSettings* settings = appSettings();
    for (const char* key : {"draw_MAXK", "draw_Lstar", "curve_set", "sampling_space"})
        settings->remove(QLatin1String(key));
}

// What the view draws is what the command line prints: the curves hold the table's values at
// every ramp position, and "Copy values" copies that table.
void TestInkViews::separationCurvesAreTheSharedRamp()
{
    const ProfilePtr profile = open_cmyk();
    GCRCurvesTagComponent view(profile.get(), krmSig("B2A0"));
    QVERIFY(!view.scene());
    view.tabSelected();
    QVERIFY(view.scene());
    QCOMPARE(view.scene()->pathItems().size(), 6);

    const auto ramp = compute_separation_ramp(profile.get(), 0, InkRamp::Neutral, RampSampling::Lab);
    QVERIFY(ramp);
    QCOMPARE(view.valuesText(), QString::fromStdString(separation_table(*ramp, InkRamp::Neutral, {"C", "M", "Y", "K"})));
    const auto& paths = view.scene()->pathItems();
    for (int k = 0; k <= 100; ++k) {
        const float t = float(k) / 100.0f;
        for (int c = 0; c < 4; ++c)
            QVERIFY(qAbs(krmEvalToneCurveFloat(paths[c]->curve(), t) - ramp->inks[c][k]) < 1e-5f);
        QVERIFY(qAbs(krmEvalToneCurveFloat(paths[4]->curve(), t) - ramp->total[k]) < 1e-5f);
        QVERIFY(qAbs(krmEvalToneCurveFloat(paths[5]->curve(), t) - ramp->obtained[k]) < 1e-5f);
    }

    // Legend: the start suffix only past position 20; the TAC with one decimal.
    const QStringList names = legend_names(view.scene());
    const char* inks[4] = {"C", "M", "Y", "K"};
    for (int c = 0; c < 4; ++c) {
        const int start = ink_start_position(ramp->inks[c]);
        const QString expected = start > 20 ? QStringLiteral("%1 (Start %2%)").arg(inks[c]).arg(start, 0, 'f', 1)
                                            : QString::fromLatin1(inks[c]);
        QVERIFY2(names.contains(expected), qPrintable(names.join(" | ")));
    }
    QVERIFY(names.contains(QStringLiteral("Total Ink (Estimated TAC %1%)").arg(krmDetectTAC(profile.get()), 0, 'f', 1)));
    QVERIFY(names.contains(QStringLiteral("Obtained L* (absolute colorimetric)")));

    // The legend sits on a card above the curves, its names in the text colour (a yellow ink
    // name on a light palette was unreadable).
    const QGraphicsRectItem* card = view.scene()->legendCard();
    QVERIFY(card);
    for (const CurveGraphScene::CurvePathItem* path : view.scene()->pathItems())
        QVERIFY(card->zValue() > path->zValue());
    for (QGraphicsItem* item : view.scene()->items()) {
        if (auto* text = dynamic_cast<QGraphicsTextItem*>(item); text && names.contains(text->toPlainText())) {
            QVERIFY(card->sceneBoundingRect().contains(text->sceneBoundingRect()));
            QVERIFY(text->toHtml().contains(QApplication::palette().color(QPalette::Text).name(), Qt::CaseInsensitive));
        }
    }
    if (const QString shots = qEnvironmentVariable("PRISMET_SCREENSHOT_DIR"); !shots.isEmpty()) {
        view.resize(1100, 700);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.grab().save(shots + QStringLiteral("/ink_separation.png"));
    }

    view.copyValuesAction()->trigger();
    QCOMPARE(QApplication::clipboard()->text(), view.valuesText());

    // Inks read in percent of the ramp, in round tens, under titled axes.
    QCOMPARE(view.scene()->tickLabels(), QStringList({"0", "10", "20", "30", "40", "50", "60", "70", "80", "90", "100"}));
    QCOMPARE(view.scene()->axes().xTitle, QStringLiteral("Ramp position (%)"));
    QCOMPARE(view.scene()->axes().yTitle, QStringLiteral("Ink (%)"));
}

void TestInkViews::separationControlsAndSettings()
{
    const ProfilePtr profile = open_cmyk();
    GCRCurvesTagComponent view(profile.get(), krmSig("B2A0"));
    view.tabSelected();
    QSettings* settings = appSettings();

    // Both extras off: one curve per ink.
    view.totalInkBox()->setChecked(false);
    view.obtainedBox()->setChecked(false);
    QCOMPARE(view.scene()->pathItems().size(), 4);
    QCOMPARE(settings->value("draw_MAXK").toBool(), false);
    QCOMPARE(settings->value("draw_Lstar").toBool(), false);
    view.obtainedBox()->setChecked(true);

    // A secondary in CAM16, then the Y primary reads b*.
    QVERIFY(!view.samplingCombo()->isEnabled());
    view.curveCombo()->setCurrentIndex(6);
    QVERIFY(view.samplingCombo()->isEnabled());
    view.samplingCombo()->setCurrentIndex(1);
    QCOMPARE(settings->value("sampling_space").toInt(), 1);
    QVERIFY(view.valuesText().startsWith(QStringLiteral("Position")));
    const auto b = compute_separation_ramp(profile.get(), 0, InkRamp::BSecondary, RampSampling::Cam16);
    QCOMPARE(view.valuesText(), QString::fromStdString(separation_table(*b, InkRamp::BSecondary, {"C", "M", "Y", "K"})));

    view.curveCombo()->setCurrentIndex(3);
    QCOMPARE(view.obtainedBox()->text(), QStringLiteral("Obtained b*"));
    QCOMPARE(view.samplingCombo()->currentIndex(), 1);
    QVERIFY(legend_names(view.scene()).contains(QStringLiteral("Obtained b* (absolute colorimetric)")));

    // The neutral axis shows "Lab", disabled, and keeps the stored CAM16 for the next ramp.
    view.curveCombo()->setCurrentIndex(0);
    QCOMPARE(view.obtainedBox()->text(), QStringLiteral("Obtained L*"));
    QCOMPARE(view.samplingCombo()->currentText(), QStringLiteral("Lab"));
    QVERIFY(!view.samplingCombo()->isEnabled());
    QCOMPARE(settings->value("sampling_space").toInt(), 1);
    QCOMPARE(settings->value("curve_set").toInt(), 0);
    view.curveCombo()->setCurrentIndex(1);
    QCOMPARE(view.samplingCombo()->currentText(), QStringLiteral("CAM16"));

    // Stored values out of range are limited; a new view starts from the settings.
    settings->setValue("curve_set", 42);
    settings->setValue("sampling_space", -3);
    GCRCurvesTagComponent again(profile.get(), krmSig("B2A0"));
    QCOMPARE(again.curveCombo()->currentIndex(), 6);
    QCOMPARE(again.samplingCombo()->currentIndex(), 0);

    // Not a B2A tag: nothing is drawn, nothing breaks.
    GCRCurvesTagComponent wrong(profile.get(), krmSig("A2B0"));
    wrong.tabSelected();
    QVERIFY(!wrong.scene());
    QVERIFY(!wrong.copyValuesAction()->isEnabled());
    // ... and the view says why rather than staying blank.
    QVERIFY(!wrong.notice()->isHidden());
    QVERIFY(wrong.notice()->text().contains(QStringLiteral("B2A")));
    QVERIFY(view.notice()->isHidden());
}

void TestInkViews::dotGainOfCmyk()
{
    const ProfilePtr profile = open_cmyk();
    TVICurvesTagComponent view(profile.get(), krmSig("A2B0"));
    view.tabSelected();
    QVERIFY(view.scene());
    QVERIFY(!view.messageLabel());
    QCOMPARE(view.scene()->curveItems().size(), 4);
    // No component suffix for CMYK; K is measured in Y like M.
    QStringList names;
    for (QGraphicsItem* item : view.scene()->items()) {
        if (auto* text = dynamic_cast<QGraphicsTextItem*>(item))
            names << text->toPlainText();
    }
    for (const char* ink : {"C", "M", "Y", "K"})
        QVERIFY2(names.contains(QString::fromLatin1(ink)), qPrintable(names.join(" | ")));
    const auto channels = compute_dot_gain_values(profile.get(), 0);
    QCOMPARE((*channels)[3].component, 1);
    QCOMPARE(view.valuesText(), QString::fromStdString(dot_gain_table(*channels, {"C", "M", "Y", "K"})));
    QVERIFY(view.scene()->rangeLow() <= 0.0);
    QCOMPARE(std::fmod(view.scene()->rangeHigh(), 5.0), 0.0);

    TVICurvesTagComponent wrong(profile.get(), krmSig("B2A0"));
    wrong.tabSelected();
    QVERIFY(!wrong.scene());
    QCOMPARE(wrong.messageLabel()->text(), QStringLiteral("Dot gain analysis unavailable for this profile."));
}

void TestInkViews::dotGainLinearInksAndFailures()
{
    // An ideal ink is flat at 0, and the range opens to -5 ... 5.
    const TVIGraphScene flat({DotGainCurve{QStringLiteral("Ideal"), Qt::red, std::vector<double>(101, 0.0)}},
                             QStringLiteral("A2B0"));
    QCOMPARE(flat.rangeLow(), -5.0);
    QCOMPARE(flat.rangeHigh(), 5.0);
    const QRectF plot = flat.plotRect();
    QCOMPARE(plot.height(), 384.0);
    const QRectF path = flat.curveItems().first()->path().boundingRect();
    QCOMPARE(path.top(), plot.center().y());
    QCOMPARE(path.bottom(), plot.center().y());

    // Gains of 12 and losses of 3 points round out to -5 ... 15.
    std::vector<double> gain(101, 0.0);
    gain[50] = 12.0;
    gain[80] = -3.0;
    const TVIGraphScene ranged({DotGainCurve{QStringLiteral("Gain"), Qt::blue, gain}}, QString());
    QCOMPARE(ranged.rangeLow(), -5.0);
    QCOMPARE(ranged.rangeHigh(), 15.0);

    // Six inks: names carry the measured component; the dead sixth ink is named below the graph.
    const ProfilePtr six = linear_six_ink_profile();
    const auto channels = compute_dot_gain_values(six.get(), 0);
    QVERIFY(channels);
    QCOMPARE(int(channels->size()), 6);
    const int components[5] = {0, 1, 2, 1, 0};
    for (int c = 0; c < 5; ++c) {
        QVERIFY(!(*channels)[c].failed);
        QCOMPARE((*channels)[c].component, components[c]);
        for (double v : (*channels)[c].values)
            QVERIFY(qAbs(v) < 0.02);  // linear up to 16-bit rounding
    }
    QVERIFY((*channels)[5].failed);

    TVICurvesTagComponent view(six.get(), krmSig("A2B0"));
    view.tabSelected();
    QVERIFY(view.scene());
    QCOMPARE(view.scene()->curveItems().size(), 5);
    QVERIFY(view.messageLabel());
    QVERIFY2(view.messageLabel()->text().startsWith(QStringLiteral("Dot gain unavailable for ")),
             qPrintable(view.messageLabel()->text()));
    QStringList names;
    for (QGraphicsItem* item : view.scene()->items()) {
        if (auto* text = dynamic_cast<QGraphicsTextItem*>(item))
            names << text->toPlainText();
    }
    QCOMPARE(names.size(), 5);
    for (const QString& name : names)
        QVERIFY2(name.endsWith(QStringLiteral(" (X)")) || name.endsWith(QStringLiteral(" (Y)"))
                     || name.endsWith(QStringLiteral(" (Z)")),
                 qPrintable(name));
    QCOMPARE(view.scene()->rangeLow(), -5.0);
    QCOMPARE(view.scene()->rangeHigh(), 5.0);
}

QTEST_MAIN(TestInkViews)
#include "tst_inkviews.moc"
