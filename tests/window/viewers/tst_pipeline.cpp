// The pipeline viewer: stage summaries, the snake layout, hover and click, and the probe, which
// must give on every connection what the engine's float evaluation of the stages so far gives,
// for every LUT tag of the real-profile corpus.

#include "tests/support/ViewerTestSupport.h"

#include "window/overview/TagViewers.h"
#include "window/widgets/GraphicsViewer.h"
#include "window/widgets/HoverInfoPopup.h"
#include "window/viewers/PipelineComponent.h"
#include "window/viewers/PipelineProbe.h"
#include "window/viewers/PipelineValueEdit.h"
#include "window/viewers/WorkflowGraphScene.h"

#include <QApplication>
#include <QClipboard>
#include <QException>
#include <QGraphicsEllipseItem>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <memory>

using namespace viewertest;

namespace {


ProfilePtr openFile(const QString& path)
{
    return ProfilePtr(krmOpenProfileFromFile(path.toLocal8Bit().constData(), "r"));
}

// The engine's float evaluation of the first `count` stages of `pipeline`.
QList<float> evaluatePrefix(const krmPipeline* pipeline, int count, const QList<float>& input)
{
    krmStage* stage = krmPipelineFirstStage(pipeline);
    TagPipelinePtr prefix(krmPipelineAlloc(nullptr, krmPipelineInputChannels(pipeline),
                                        count == 0 ? krmPipelineInputChannels(pipeline) : krmStageOutputChannels(stage)));
    krmUInt32Number outputs = krmPipelineInputChannels(pipeline);
    for (int i = 0; i < count; ++i, stage = krmStageNext(stage)) {
        krmPipelineInsertStage(prefix.get(), krmAT_END, krmStageDup(stage));
        outputs = krmStageOutputChannels(stage);
    }
    float in[16] = {};
    float out[16] = {};
    std::copy(input.begin(), input.end(), in);
    if (count == 0)
        return input;
    krmPipelineEvalFloat(in, out, prefix.get());
    return QList<float>(out, out + outputs);
}

QList<WorkflowNode> plainNodes(int count)
{
    QList<WorkflowNode> nodes;
    for (int i = 0; i < count; ++i)
        nodes << WorkflowNode{i, QStringLiteral("Stage"), QStringLiteral("<b>%1</b>").arg(i), QColor(70, 130, 180),
                              QStringLiteral("text")};
    return nodes;
}

QRectF boxRect(const WorkflowGraphScene& scene, int i)
{
    return scene.boxes()[i]->path().boundingRect();
}

}  // namespace

class TestPipeline : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerPermissiveReading(); }

    void stageSummaries();
    void layoutSnakesInRowsOfFour();
    void hoverAndClick();
    void probeFollowsTheEngineOnEveryCorpusTag();
    void probeEditsAndCopy();
};

void TestPipeline::stageSummaries()
{
    const StagePtr clut(krmStageAllocCLut16bit(nullptr, 17, 3, 4, nullptr));
    QCOMPARE(stage_summary(clut.get()),
             QStringLiteral("<center><b>Look-up table (Integer)</b></center><center><i>3 \u2192 4</i></center>"
                            "<center>17x17x17</center>"));
    const krmUInt32Number grid[2] = {5, 9};
    const StagePtr floats(krmStageAllocCLutFloatGranular(nullptr, grid, 2, 1, nullptr));
    QVERIFY(stage_summary(floats.get()).contains(QStringLiteral("(floats)</b></center><center><i>2 \u2192 1</i></center><center>5x9</center>")));

    const double m[6] = {1, 0, 0, 0, 1, 0};
    const StagePtr matrix(krmStageAllocMatrix(nullptr, 2, 3, m, nullptr));
    QCOMPARE(stage_summary(matrix.get()), QStringLiteral("<center><b>Matrix</b></center><center><i>3 \u2192 2</i></center>"));

    // Identity curves are gamma 1 functions, named as prismet-cli names them.
    const StagePtr curves(krmStageAllocIdentityCurves(nullptr, 2));
    QCOMPARE(stage_summary(curves.get()), QStringLiteral("<center><b>Tone curves</b></center><center><i>2 \u2192 2</i></center>"
                                                         "<br>[1] ICC function type 0: Y = X<sup>1</sup>"
                                                         "<br>[1] ICC function type 0: Y = X<sup>1</sup>"));
}

void TestPipeline::layoutSnakesInRowsOfFour()
{
    WorkflowGraphScene snake(1, QStringLiteral("Title"), QStringLiteral("Subtitle"));
    snake.setNodes(plainNodes(9));
    QCOMPARE(snake.boxes().size(), 9);
    const double p = 240;  // node width 180 + gap 60
    const QList<QPointF> expected = {{0, 0},       {p, 0},       {2 * p, 0},   {3 * p, 0},  {3 * p, 180},
                                     {2 * p, 180}, {p, 180},     {0, 180},     {3 * p, 360}};
    for (int i = 0; i < 9; ++i) {
        QCOMPARE(boxRect(snake, i), QRectF(expected[i], QSizeF(180, 140)));
    }
    // Without edge texts there are no connector dots of radius 10; the first texts add them, the
    // output dot on the right of the last box (row 2 runs left to right).
    for (int c = 1; c < 9; ++c)
        QVERIFY(!snake.connectionItems(c).isEmpty());
    QVERIFY(snake.connectionItems(0).isEmpty());
    snake.setEdgeTexts(QStringList(10, QStringLiteral("x")));
    QCOMPARE(snake.connectionItems(0).size(), 2);  // shadow and disc
    QVERIFY(snake.connectionItems(9).last()->sceneBoundingRect().contains(QPointF(3 * p + 180, 360 + 70)));
    QVERIFY(snake.sceneRect().contains(snake.itemsBoundingRect()));

    // Five nodes: the second row runs right to left and holds one box at the right end; its
    // output dot sits on the box's left side.
    WorkflowGraphScene five(1, QString(), QString());
    five.setNodes(plainNodes(5));
    five.setEdgeTexts(QStringList(6, QStringLiteral("x")));
    QCOMPARE(boxRect(five, 4).topLeft(), QPointF(3 * p, 180));
    QVERIFY(five.connectionItems(5).last()->sceneBoundingRect().contains(QPointF(3 * p, 180 + 70)));

    // One column: boxes 180 apart, at least 150 wide.
    WorkflowGraphScene column(0, QString(), QString());
    column.setNodes(plainNodes(3));
    QCOMPARE(boxRect(column, 2).top(), 360.0);
    QVERIFY(boxRect(column, 0).width() >= 150);
}

void TestPipeline::hoverAndClick()
{
    const ProfilePtr cmyk = openFile("/usr/share/color/icc/ghostscript/default_cmyk.icc");
    PipelineComponent view(cmyk.get(), krmSig("B2A0"));
    view.resize(1200, 800);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCOMPARE(view.scene()->boxes().size(), 3);

    // Clicking the third box (id 2) asks for tab 3.
    QSignalSpy activate(&view, &IProfileComponentView::activateComponent);
    const QPoint third = view.viewer()->mapFromScene(boxRect(*view.scene(), 2).center());
    QTest::mouseClick(view.viewer()->viewport(), Qt::LeftButton, {}, third);
    QCOMPARE(activate.size(), 1);
    QCOMPARE(activate.first().first().toInt(), 3);

    // The arrow into the third box shows the values after stage 2, without a popup title.
    const QList<QGraphicsItem*> second = view.scene()->connectionItems(2);
    QGraphicsItem* arrow = nullptr;
    for (QGraphicsItem* item : second) {
        if (item->type() == QGraphicsPolygonItem::Type)
            arrow = item;
    }
    QVERIFY(arrow);
    const QPoint onArrow = view.viewer()->mapFromScene(arrow->sceneBoundingRect().center());
    QSignalSpy requested(view.scene(), &WorkflowGraphScene::hoverInfoRequested);
    QSignalSpy dismissed(view.scene(), &WorkflowGraphScene::hoverInfoDismissed);
    QTest::mouseMove(view.viewer()->viewport(), onArrow);
    QTRY_VERIFY(!requested.isEmpty());
    QCOMPARE(requested.last().at(0).toString(), QString());
    QVERIFY(requested.last().at(1).toString().startsWith(QStringLiteral("<b>After stage 2</b><table>")));
    // The view hands it to its popup (which an offscreen platform may hide again at once).
    QCOMPARE(view.viewer()->hoverPopup()->shownTitle(), QString());
    QVERIFY(view.viewer()->hoverPopup()->shownText().startsWith(QStringLiteral("<b>After stage 2</b><table>")));

    // The whole final dot gives the final output, also its half lying over the last box.
    const QGraphicsItem* finalDot = nullptr;
    for (const QGraphicsItem* item : view.scene()->items())
        if (item->type() == QGraphicsEllipseItem::Type && item->zValue() >= 4 && item->data(0).toInt() == 3)
            finalDot = item;
    QVERIFY(finalDot);
    const QPointF centre = finalDot->sceneBoundingRect().center();
    for (const QPointF offset : {QPointF(0, 0), QPointF(-6, 0), QPointF(6, 0), QPointF(0, -6), QPointF(0, 6)})
        QVERIFY(view.scene()->hoverInfoAt(centre + offset).second.startsWith(QStringLiteral("<b>Final output</b>")));

    // A box shows its label and summary; the background hides the popup.
    QTest::mouseMove(view.viewer()->viewport(), view.viewer()->mapFromScene(boxRect(*view.scene(), 1).center()));
    QTRY_COMPARE(view.viewer()->hoverPopup()->shownTitle(), QStringLiteral("CLUT"));
    QVERIFY(requested.last().at(1).toString().contains(QStringLiteral("Look-up table")));
    QVERIFY(view.scene()->boxes()[1]->isHovered());
    dismissed.clear();
    QTest::mouseMove(view.viewer()->viewport(), view.viewer()->mapFromScene(view.scene()->sceneRect().topLeft() + QPointF(5, 5)));
    QTRY_VERIFY(!dismissed.isEmpty());
    QVERIFY(!view.scene()->boxes()[1]->isHovered());
}

void TestPipeline::probeFollowsTheEngineOnEveryCorpusTag()
{
    int probed = 0;
    for (const QString& path : corpusProfiles()) {
        const ProfilePtr profile = openFile(path);
        QList<krmTagSignature> tags{MatrixShaperTag};
        for (krmInt32Number i = 0; i < krmGetTagCount(profile.get()); ++i)
            tags << krmGetTagSignature(profile.get(), krmUInt32Number(i));
        for (krmTagSignature sig : tags) {
            const QList<ViewerTab> tabs = createTagViewers(profile.get(), sig, nullptr);
            auto* view = qobject_cast<PipelineComponent*>(tabs.first().widget);
            const TagPipelinePtr pipeline(stored_tag_type(profile.get(), sig) || sig == MatrixShaperTag
                                           ? tag_pipeline(profile.get(), sig)
                                           : nullptr);
            // Every tag with a pipeline gets the graph, never the raw fallback.
            QVERIFY2(!pipeline == !view, qPrintable(path + QLatin1Char(' ') + QString::number(sig, 16)));
            if (view) {
                const QString where = path + QLatin1Char(' ') + QString::number(sig, 16);
                const int stages = int(krmPipelineStageCount(pipeline.get()));
                QCOMPARE(view->scene()->boxes().size(), stages);
                for (int i = 0; i < stages; ++i)
                    QCOMPARE(view->scene()->boxes()[i]->nodeId(), i);
                QCOMPARE(tabs.size() > stages, true);  // the stage tabs follow the graph

                PipelineProbe* probe = view->probe();
                QVERIFY2(probe, qPrintable(where));
                const ChannelSet& input = probe->channelSets().first();
                QList<float> normalised;
                for (int i = 0; i < probe->edits().size(); ++i) {
                    const double x = 0.2 + 0.15 * i;
                    probe->edits()[i]->setValue(input.display(i, x));
                    normalised << float(input.normalise(i, probe->edits()[i]->value()));
                }
                QCOMPARE(probe->values(0), normalised);
                for (int k = 1; k <= stages; ++k) {
                    const QList<float> expected = evaluatePrefix(pipeline.get(), k, normalised);
                    const QList<float> shown = probe->values(k);
                    QCOMPARE(shown.size(), expected.size());
                    for (int c = 0; c < shown.size(); ++c)
                        QVERIFY2(std::fabs(shown[c] - expected[c]) <= 1e-6f * std::max(1.0f, std::fabs(expected[c])),
                                 qPrintable(QStringLiteral("%1 after stage %2 channel %3").arg(where).arg(k).arg(c)));
                }
                const QStringList texts = view->scene()->edgeTexts();
                QCOMPARE(texts.size(), stages + 1);
                QCOMPARE(texts.last(), edge_value_table(probe->channelSets().last(), QStringLiteral("Final output"),
                                                        evaluatePrefix(pipeline.get(), stages, normalised)));
                ++probed;
            }
            for (const ViewerTab& tab : tabs)
                delete tab.widget;
        }
    }
    QVERIFY(probed >= 40);
}

void TestPipeline::probeEditsAndCopy()
{
    const ProfilePtr cmyk = openFile("/usr/share/color/icc/ghostscript/default_cmyk.icc");
    QVERIFY(krmGetProfileVersion(cmyk.get()) < 4.0);
    QCOMPARE(krmGetProfilePCS(cmyk.get()), krmSig("Lab "));
    PipelineComponent view(cmyk.get(), krmSig("B2A0"));
    PipelineProbe* probe = view.probe();
    QCOMPARE(probe->panel()->title(), QStringLiteral("Pipeline evaluation"));
    QCOMPARE(probe->edits().size(), 3);

    // An 8-bit 'mft1' table in a version 2 profile: L*a*b* in the 8-bit encoding (L* 100 is
    // 255, a* is the byte minus 128), not the 16-bit legacy one. Everything starts at 0.
    QCOMPARE(krmGetTagStoredType(cmyk.get(), krmSig("B2A0")), krmSig("mft1"));
    for (const PipelineValueEdit* edit : probe->edits())
        QCOMPARE(edit->value(), 0.0);
    QCOMPARE(probe->channelSets().first().normalise(0, 100.0), 1.0);
    QCOMPARE(probe->channelSets().first().normalise(1, 127.0), 1.0);
    // Each field names its range in that encoding.
    QStringList labels;
    for (const PipelineValueEdit* edit : probe->edits())
        for (const QLabel* label : probe->panel()->findChildren<QLabel*>())
            if (label->buddy() == edit)
                labels << label->text();
    QCOMPARE(labels, QStringList({QStringLiteral("L* (0\u2013100)"), QStringLiteral("a* (-128\u2013127)"),
                                  QStringLiteral("b* (-128\u2013127)")}));
    // L* 50, a* 10, b* -20 separates to C 59.93 M 61.08 Y 20.61 K 1.98 by the table's own encoding.
    const double lab[3] = {50.0, 10.0, -20.0};
    const double separated[4] = {59.93, 61.08, 20.61, 1.98};
    for (int i = 0; i < 3; ++i)
        probe->edits()[i]->setValue(lab[i]);
    const int last = int(probe->channelSets().size()) - 1;
    for (int i = 0; i < 4; ++i) {
        const double shown = probe->channelSets().last().display(i, probe->values(last)[i]);
        QVERIFY2(std::fabs(shown - separated[i]) < 0.03, qPrintable(QString::number(shown)));
    }
    for (PipelineValueEdit* edit : probe->edits())
        edit->setValue(0.0);
    QCOMPARE(probe->edits()[0]->sizeHint(), probe->edits()[0]->minimumSizeHint());

    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QApplication::setActiveWindow(&view);
    // Typing alone does not evaluate; Return does, and moves on, the last edit wrapping.
    PipelineValueEdit* first = probe->edits()[0];
    first->setFocus();
    QTRY_VERIFY(first->hasFocus());
    first->selectAll();
    QTest::keyClicks(first, QStringLiteral("50"));
    QCOMPARE(probe->values(0)[0], 0.0f);
    QTest::keyClick(first, Qt::Key_Return);
    QCOMPARE(probe->values(0)[0], 0.5f);
    QTRY_VERIFY(probe->edits()[1]->hasFocus());
    QTest::keyClick(probe->edits()[1], Qt::Key_Return);
    QTRY_VERIFY(probe->edits()[2]->hasFocus());
    QTest::keyClick(probe->edits()[2], Qt::Key_Return);
    QTRY_VERIFY(first->hasFocus());

    // "Copy final output": the ink names, then the inks as the table shows them.
    probe->copy_final_output();
    const QStringList lines = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("C\tM\tY\tK"));
    const ChannelSet& output = probe->channelSets().last();
    const QList<float> inks = probe->values(int(probe->channelSets().size()) - 1);
    QCOMPARE(lines[1].split('\t').first(), QString::number(output.display(0, inks[0]), 'f', 2));
    QVERIFY(view.viewer()->contextMenu()->actions().last()->text() == QStringLiteral("Copy final output"));
}

QTEST_MAIN(TestPipeline)
#include "tst_pipeline.moc"
