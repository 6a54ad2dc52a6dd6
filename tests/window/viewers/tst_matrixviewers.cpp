// The matrix viewers: the adaptation matrix names the illuminant it adapts from, matrix stages
// show the engine's numbers scaled to the tag encoding, and the drawing shrinks to a minimum.

#include "tests/support/ViewerTestSupport.h"

#include "common/signatures/Signatures.h"
#include "window/widgets/TableView.h"
#include "window/overview/TagViewers.h"
#include "window/viewers/MatrixComponent.h"
#include "window/viewers/MatrixWidget.h"

#include <QFontMetrics>
#include <QTest>

#include <cmath>

using namespace viewertest;

namespace {

QByteArray sf32Type(const double values[9])
{
    QByteArray bytes = be32(krmSig("sf32")) + be32(0);
    for (int i = 0; i < 9; ++i)
        bytes += be32(quint32(qint32(std::lround(values[i] * 65536.0))));
    return bytes;
}

ProfilePtr openFile(const QString& path)
{
    return ProfilePtr(krmOpenProfileFromFile(path.toLocal8Bit().constData(), "r"));
}

QString cell(const MatrixWidget* widget, int row, int column)
{
    return widget->model()->index(row, column).data().toString();
}

const double kScale = 65535.0 / 32768.0;

}  // namespace

class TestMatrixViewers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerPermissiveReading(); }

    void adaptationMatrixNamesItsIlluminant();
    void corpusAdaptationMatrices();
    void stageMatrixIsScaledWithOffsets();
    void corpusMatrixStages();
    void sizingShrinksToMinimum();
};

void TestMatrixViewers::adaptationMatrixNamesItsIlluminant()
{
    // Bradford from D65 to D50 leads back to D65; a singular matrix names nothing.
    krmCIExyY d65xyY = {0.3127, 0.3290, 1.0};
    krmCIEXYZ d65;
    krmxyY2XYZ(&d65, &d65xyY);
    krmMAT3 bradford;
    QVERIFY(krmAdaptationMatrix(&bradford, nullptr, &d65, krmD50_XYZ()));
    double values[9];
    for (int i = 0; i < 9; ++i)
        values[i] = bradford.v[i / 3].n[i % 3];
    const double singular[9] = {1, 2, 3, 2, 4, 6, 0, 0, 1};
    // A damaged 'chad' inverts to a "white" of negative X: no illuminant, no temperature.
    const double damaged[9] = {-23131.3, 0.0234, -0.0503, 0.0296, 0.9905, -0.0171, -0.0092, 0.0151, 0.7521};
    // Bradford's cone response matrix, as 'arts' stores it: not an adaptation at all.
    const double cones[9] = {0.8951, 0.2664, -0.1614, -0.7502, 1.7135, 0.0367, 0.0389, -0.0685, 1.0296};
    const QString noWhite = QStringLiteral("Not a plausible adaptation: no light source's white maps onto D50");

    struct Case {
        krmTagSignature sig;
        const double* values;
        QString subtitle;
    };
    const Case cases[] = {
        {krmSig("chad"), values, QStringLiteral("estimated illuminant ") + whitePointName(0.3127, 0.3290, 0.003)},
        {krmSig("chad"), singular, noWhite},
        {krmSig("chad"), damaged, noWhite},
        {krmSig("arts"), cones, QStringLiteral("Cone response matrix")},
    };
    QVERIFY(cases[0].subtitle.contains(QStringLiteral("D65")));
    for (const Case& c : cases) {
        const ProfilePtr profile = openFromBytes(buildProfile({{c.sig, sf32Type(c.values)}}));
        const auto tabs = dispatchTagViewers(profile.get(), c.sig, nullptr);
        QCOMPARE(tabs.size(), 1);
        std::unique_ptr<QWidget> owner(tabs[0].widget);
        auto* viewer = qobject_cast<ChadTagComponent*>(tabs[0].widget);
        QVERIFY(viewer && viewer->matrixWidget());
        QCOMPARE(viewer->matrixWidget()->subtitle(), c.subtitle);
        QCOMPARE(viewer->matrixWidget()->title(), tagName(c.sig));
        const auto* stored = static_cast<const double*>(krmReadTag(profile.get(), c.sig));
        for (int i = 0; i < 9; ++i)
            QCOMPARE(cell(viewer->matrixWidget(), i / 3, i % 3), QString::number(stored[i], 'f', 5));
        QVERIFY(!viewer->matrixWidget()->model()->hasOffsets());
        // Every number fits its column: nothing is cut to "-23131.3…".
        viewer->resize(900, 500);
        viewer->show();
        QVERIFY(QTest::qWaitForWindowExposed(viewer));
        const TableView* table = viewer->matrixWidget()->table();
        for (int i = 0; i < 9; ++i)
            QVERIFY(QFontMetrics(table->font()).horizontalAdvance(cell(viewer->matrixWidget(), i / 3, i % 3))
                    <= table->columnWidth(i % 3));
    }

    // A tag too short for nine numbers leaves the page empty rather than reading past it.
    const ProfilePtr shortTag =
        openFromBytes(buildProfile({{krmSig("chad"), be32(krmSig("sf32")) + be32(0) + be32(65536)}}));
    ChadTagComponent empty(shortTag.get(), krmSig("chad"));
    QVERIFY(!empty.matrixWidget());
}

void TestMatrixViewers::corpusAdaptationMatrices()
{
    int seen = 0;
    for (const QString& path : corpusProfiles()) {
        const ProfilePtr profile = openFile(path);
        if (!profile || !krmIsTag(profile.get(), krmSig("chad")))
            continue;
        ChadTagComponent viewer(profile.get(), krmSig("chad"));
        QVERIFY2(viewer.matrixWidget(), qPrintable(path));
        // Every real adaptation passes the plausibility test that damaged ones fail.
        QVERIFY2(viewer.matrixWidget()->subtitle().startsWith(QStringLiteral("estimated illuminant ")), qPrintable(path));
        const auto* stored = static_cast<const double*>(krmReadTag(profile.get(), krmSig("chad")));
        for (int i = 0; i < 9; ++i)
            QCOMPARE(cell(viewer.matrixWidget(), i / 3, i % 3), QString::number(stored[i], 'f', 5));
        ++seen;
    }
    QVERIFY(seen > 0);
}

void TestMatrixViewers::stageMatrixIsScaledWithOffsets()
{
    const double m[9] = {0.5, -0.25, 0, 0, 1, 0, 0, 0, 1};
    const double offsets[3] = {0.125, 0, -0.5};
    // lutAtoB always stores offsets (here zeros when none were given).
    for (const bool withOffsets : {false, true}) {
        // The lutAtoB form of a matrix: M curves, matrix, B curves.
        krmPipeline* pipeline = krmPipelineAlloc(nullptr, 3, 3);
        krmPipelineInsertStage(pipeline, krmAT_END, krmStageAllocIdentityCurves(nullptr, 3));
        krmPipelineInsertStage(pipeline, krmAT_END, krmStageAllocMatrix(nullptr, 3, 3, m, withOffsets ? offsets : nullptr));
        krmPipelineInsertStage(pipeline, krmAT_END, krmStageAllocIdentityCurves(nullptr, 3));
        const ProfilePtr profile = profileWithA2B0(pipeline);
        krmPipelineFree(pipeline);
        QVERIFY(profile);

        MatrixComponent viewer(profile.get(), krmSig("A2B0"), 1);
        MatrixWidget* widget = viewer.matrixWidget();
        QVERIFY(widget);
        QCOMPARE(widget->subtitle(), QStringLiteral("Stage 2"));
        QCOMPARE(cell(widget, 0, 0), QStringLiteral("0.99998"));
        QCOMPARE(cell(widget, 0, 1), QStringLiteral("-0.49999"));
        QVERIFY(widget->model()->hasOffsets());
        viewer.resize(900, 600);
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        QVERIFY(widget->offsetsDrawn());
        if (withOffsets) {
            QCOMPARE(widget->model()->offsets().size(), 3);
            QCOMPARE(QString::number(widget->model()->offsets()[2], 'f', 5), QStringLiteral("-0.99998"));
            // The plus sign sits between the matrix and the offset column.
            const QRect table = widget->table()->geometry();
            QVERIFY(widget->plusCentre().x() > table.right() && widget->plusCentre().x() < widget->offsetRect().left());
        }
    }

    // No stage, or a stage that is not a matrix: an empty page.
    QVERIFY(!MatrixComponent(nullptr, krmSig("A2B0"), -1).matrixWidget());
    {
        krmPipeline* pipeline = krmPipelineAlloc(nullptr, 3, 3);
        krmPipelineInsertStage(pipeline, krmAT_END, krmStageAllocIdentityCurves(nullptr, 3));
        const ProfilePtr curvesOnly = profileWithA2B0(pipeline);
        krmPipelineFree(pipeline);
        QVERIFY(!MatrixComponent(curvesOnly.get(), krmSig("A2B0"), 0).matrixWidget());
        QVERIFY(!MatrixComponent(curvesOnly.get(), krmSig("A2B0"), 3).matrixWidget());
    }
}

void TestMatrixViewers::corpusMatrixStages()
{
    int seen = 0;
    forEachCorpusStage(krmSigMatrixElemType, tag_pipeline, [&](const QString& path, krmProfile profile, krmTagSignature sig,
                                                               int index, const krmStage* stage) {
        const auto* data = static_cast<const krmStageMatrixData*>(krmStageData(stage));
        const int rows = int(krmStageOutputChannels(stage));
        const int columns = int(krmStageInputChannels(stage));
        MatrixComponent viewer(profile, sig, index);
        const QString where = QStringLiteral("%1 %2 stage %3").arg(path, signatureText(sig)).arg(index);
        QVERIFY2(viewer.matrixWidget(), qPrintable(where));
        const MatrixTableModel* model = viewer.matrixWidget()->model();
        QCOMPARE(model->rowCount(), rows);
        QCOMPARE(model->columnCount(), columns);
        for (int i = 0; i < rows * columns; ++i)
            QCOMPARE(cell(viewer.matrixWidget(), i / columns, i % columns), QString::number(data->Double[i] * kScale, 'f', 5));
        QCOMPARE(model->hasOffsets(), data->Offset != nullptr);
        for (int r = 0; data->Offset && r < rows; ++r)
            QCOMPARE(model->offsets()[r], data->Offset[r] * kScale);
        ++seen;
    });
    QVERIFY(seen > 0);
}

void TestMatrixViewers::sizingShrinksToMinimum()
{
    const QVector<double> values = {-1, 0, 1, 2, 3, 4};
    MatrixWidget widget(2, 3, values, {0.5, 0.25}, QStringLiteral("T"), QStringLiteral("S"));
    widget.resize(1400, 900);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QCOMPARE(widget.fontPointSize(), 14);
    QCOMPARE(widget.bracketDepth(), 22.0);
    QCOMPARE(cell(&widget, 0, 0), QStringLiteral("-1.00000"));
    QVERIFY(widget.offsetsDrawn());

    // Without offsets: no plus sign, no offset column.
    MatrixWidget bare(2, 3, values, {}, QStringLiteral("T"), QString());
    bare.resize(900, 600);
    bare.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bare));
    QVERIFY(!bare.offsetsDrawn());
    QVERIFY(bare.offsetRect().isNull());

    widget.resize(60, 40);
    QTRY_COMPARE(widget.fontPointSize(), 8);
    QCOMPARE(widget.bracketDepth(), 10.0);
    QCOMPARE(widget.table()->columnWidth(0), 40);
    QCOMPARE(widget.table()->rowHeight(0), 20);
    QCOMPARE(widget.table()->geometry().size(), QSize(3 * 40, 2 * 20));
}

QTEST_MAIN(TestMatrixViewers)
#include "tst_matrixviewers.moc"
