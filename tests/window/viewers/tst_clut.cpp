// The CLUT slice viewer: every cell of a slice is the engine's stored node under the channel's
// formatter, the sliders fix exactly the inputs outside the plane, and the 3D mode's controls,
// nodes and node information follow the stage.

#include "tests/support/ViewerTestSupport.h"

#include "window/widgets/HullWidget.h"
#include "common/signatures/Signatures.h"
#include "window/overview/TagViewers.h"
#include "window/viewers/CLutComponent.h"
#include "window/widgets/ChannelVocabulary.h"
#include "window/widgets/HoverInfoPopup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QException>
#include <QLabel>
#include <QSlider>
#include <QStackedWidget>
#include <QTest>

#include <cmath>

using namespace viewertest;

namespace {

ProfilePtr openFile(const QString& path)
{
    return ProfilePtr(krmOpenProfileFromFile(path.toLocal8Bit().constData(), "r"));
}

// A version 4 profile whose A2B0 is one 16-bit CLUT stage; `fill` sets the node values.
ProfilePtr clutProfile(krmColorSpaceSignature space, krmColorSpaceSignature pcs, int inputs, int points,
                       const std::function<void(krmUInt16Number*, krmUInt32Number)>& fill)
{
    krmStage* stage = krmStageAllocCLut16bit(nullptr, krmUInt32Number(points), krmUInt32Number(inputs), 3, nullptr);
    auto* data = static_cast<krmStageCLutData*>(krmStageData(stage));
    fill(data->Tab.T16, data->nEntries);
    // The lutAtoB form of a table: A curves, CLUT, B curves; the table is stage 1.
    krmPipeline* pipeline = krmPipelineAlloc(nullptr, krmUInt32Number(inputs), 3);
    krmPipelineInsertStage(pipeline, krmAT_END, krmStageAllocIdentityCurves(nullptr, krmUInt32Number(inputs)));
    krmPipelineInsertStage(pipeline, krmAT_END, stage);
    krmPipelineInsertStage(pipeline, krmAT_END, krmStageAllocIdentityCurves(nullptr, 3));
    ProfilePtr profile(krmCreateProfilePlaceholder(nullptr));
    krmSetProfileVersion(profile.get(), 4.3);
    krmSetProfileClass(profile.get(), inputs == 1 ? krmSig("mntr") : krmSig("scnr"));
    krmSetProfileColorSpace(profile.get(), space);
    krmSetProfilePCS(profile.get(), pcs);
    krmWriteTag(profile.get(), krmSig("A2B0"), pipeline);
    krmPipelineFree(pipeline);
    return openFromBytes(saveToBytes(profile.get()));
}

// The stored node of the cell, formatted as the table shows it.
QString expectedCell(const krmStageCLutData* clut, const TagChannels& channels, int inputs, int outputs,
                     const QVector<int>& c, int output)
{
    quint64 node = 0;
    for (int i = 0; i < inputs; ++i)
        node = node * clut->Params->nSamples[i] + quint64(c[i]);
    const quint64 entry = node * quint64(outputs) + quint64(output);
    const double value = clut->HasFloatValues ? double(clut->Tab.TFloat[entry])
                                              : channels.outputFormatters[output](clut->Tab.T16[entry]);
    return QString::number(value, 'f', 1);
}

}  // namespace

class TestCLut : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerPermissiveReading(); }

    void corpusSlicesShowStoredNodes();
    void planesAndReset();
    void labCellAndTooltip();
    void threeDControlsAndNodeInfo();
    void unshowableStagesThrow();
};

void TestCLut::corpusSlicesShowStoredNodes()
{
    int stages = 0;
    forEachCorpusStage(krmSigCLutElemType, tag_pipeline, [&](const QString& path, krmProfile profile, krmTagSignature sig,
                                                             int index, const krmStage* stage) {
        const QString where = QStringLiteral("%1 %2 stage %3").arg(path, signatureText(sig)).arg(index);
        const auto* clut = static_cast<const krmStageCLutData*>(krmStageData(stage));
        const int n = int(krmStageInputChannels(stage));
        const int m = int(krmStageOutputChannels(stage));
        const TagChannels channels = describe_tag_channels(profile, sig);

        CLutComponent viewer(profile, sig, index);
        viewer.tabSelected();
        CLutSliceModel* model = viewer.model();
        const int a = n == 1 ? 0 : n - 2;
        const int b = n == 1 ? -1 : n - 1;
        QCOMPARE(model->rowAxis(), a);
        QCOMPARE(model->columnAxis(), b);
        const auto checkSlice = [&](const QVector<int>& fixed) {
            for (int r = 0; r < model->rowCount(); ++r) {
                for (int k = 0; k < model->columnCount(); ++k) {
                    QVector<int> c = fixed;
                    c[a] = r;
                    if (b >= 0)
                        c[b] = k;
                    QCOMPARE(model->cellCoordinates(r, k), c);
                    QVERIFY2(model->index(r, k).data().toString() == expectedCell(clut, channels, n, m, c, 0),
                             qPrintable(where));
                }
            }
        };
        QVector<int> fixed;
        for (int i = 0; i < n; ++i)
            fixed << int(clut->Params->nSamples[i]) / 2;
        checkSlice(fixed);
        // Moving a slider outside the plane moves exactly that input.
        if (n >= 3) {
            viewer.slider(0)->setValue(0);
            fixed[0] = 0;
            checkSlice(fixed);
        }
        ++stages;
    });
    QVERIFY(stages > 0);
}

void TestCLut::planesAndReset()
{
    const ProfilePtr rgb = clutProfile(krmSig("RGB "), krmSig("Lab "), 3, 5, [](krmUInt16Number* t, krmUInt32Number n) {
        for (krmUInt32Number i = 0; i < n; ++i)
            t[i] = krmUInt16Number(i * 97);
    });
    QVERIFY(rgb);
    CLutComponent viewer(rgb.get(), krmSig("A2B0"), 1);
    QComboBox* planes = viewer.planeBox();
    QCOMPARE(planes->count(), 3);
    QCOMPARE(planes->itemText(0), QStringLiteral("R / G"));
    QCOMPARE(planes->itemText(1), QStringLiteral("R / B"));
    QCOMPARE(planes->itemText(2), QStringLiteral("G / B"));
    viewer.tabSelected();
    QCOMPARE(planes->currentIndex(), 2);
    QCOMPARE(viewer.slider(0)->value(), 2);
    QVERIFY(viewer.sliderRow(1)->isHidden() && viewer.sliderRow(2)->isHidden() && !viewer.sliderRow(0)->isHidden());
    // Value labels: the RGB formatter of node 2 of 5 (code 32768 → 127.5).
    QCOMPARE(viewer.valueLabel(0)->text(), QStringLiteral("127.5"));

    // Changing things, then selecting the tab again, resets plane, channel and sliders.
    planes->setCurrentIndex(0);
    viewer.channelBox()->setCurrentIndex(2);
    viewer.slider(2)->setValue(4);
    QCOMPARE(viewer.model()->channel(), 2);
    QCOMPARE(viewer.model()->cellCoordinates(0, 0)[2], 4);
    viewer.tabSelected();
    QCOMPARE(planes->currentIndex(), 2);
    QCOMPARE(viewer.channelBox()->currentIndex(), 0);
    QCOMPARE(viewer.model()->channel(), 0);
    QCOMPARE(viewer.slider(2)->value(), 2);

    // One input: one plane named after it and a single column.
    const ProfilePtr gray = clutProfile(krmSig("GRAY"), krmSig("Lab "), 1, 9, [](krmUInt16Number* t, krmUInt32Number n) {
        for (krmUInt32Number i = 0; i < n; ++i)
            t[i] = krmUInt16Number(i * 1000);
    });
    QVERIFY(gray);
    CLutComponent single(gray.get(), krmSig("A2B0"), 1);
    single.tabSelected();
    QCOMPARE(single.planeBox()->count(), 1);
    QCOMPARE(single.planeBox()->itemText(0), describe_tag_channels(gray.get(), krmSig("A2B0")).inputNames[0]);
    QCOMPARE(single.model()->rowCount(), 9);
    QCOMPARE(single.model()->columnCount(), 1);
}

void TestCLut::labCellAndTooltip()
{
    // L* 50.26 in version 4 encoding, a* and b* at their codes for 0.
    const krmUInt16Number l = krmUInt16Number(std::lround(50.26 * 65535.0 / 100.0));
    const ProfilePtr profile = clutProfile(krmSig("RGB "), krmSig("Lab "), 3, 2, [&](krmUInt16Number* t, krmUInt32Number n) {
        for (krmUInt32Number i = 0; i < n; i += 3) {
            t[i] = l;
            t[i + 1] = t[i + 2] = 0x8080;
        }
    });
    CLutComponent viewer(profile.get(), krmSig("A2B0"), 1);
    viewer.tabSelected();
    const QModelIndex cell = viewer.model()->index(1, 1);
    QCOMPARE(cell.data().toString(), QStringLiteral("50.3"));
    // The node's input coordinates come first: on a 2-point grid node 1 is the top of each input.
    QCOMPARE(cell.data(Qt::ToolTipRole).toString(),
             QStringLiteral("R 255.000 [node 1], G 255.000 [node 1], B 255.000 [node 1]\nL*: 50.260\na*: 0.000\nb*: 0.000"));
    QCOMPARE(viewer.model()->headerData(1, Qt::Vertical).toString(), QStringLiteral("1"));
    QVERIFY(!viewer.model()->index(1, 1).data(Qt::DecorationRole).isValid());

    // An 8-bit table in a version 2 profile reads L*a*b* in its own encoding: the middle node of
    // default_cmyk's B2A0 is L* 50, not the 50.2 of the 16-bit legacy scale.
    const ProfilePtr cmyk = openFile(QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc"));
    int stage = 0;
    {
        std::unique_ptr<krmPipeline, void (*)(krmPipeline*)> pipeline(tag_pipeline(cmyk.get(), krmSig("B2A0")), krmPipelineFree);
        for (krmStage* s = krmPipelineFirstStage(pipeline.get()); krmStageType(s) != krmSigCLutElemType; s = krmStageNext(s))
            ++stage;
    }
    CLutComponent separation(cmyk.get(), krmSig("B2A0"), stage);
    QCOMPARE(krmGetTagStoredType(cmyk.get(), krmSig("B2A0")), krmSig("mft1"));
    separation.tabSelected();
    QCOMPARE(separation.slider(0)->maximum() % 2, 0);
    separation.slider(0)->setValue(separation.slider(0)->maximum() / 2);
    QCOMPARE(separation.valueLabel(0)->text(), QStringLiteral("50.0"));
    separation.slider(1)->setValue(separation.slider(1)->maximum());
    QCOMPARE(separation.valueLabel(1)->text(), QStringLiteral("127.0"));
}

void TestCLut::threeDControlsAndNodeInfo()
{
    const ProfilePtr cmyk = openFile(QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc"));
    QVERIFY(cmyk);
    int clutIndex = -1;
    {
        std::unique_ptr<krmPipeline, void (*)(krmPipeline*)> pipeline(tag_pipeline(cmyk.get(), krmSig("A2B0")), krmPipelineFree);
        int i = 0;
        for (krmStage* s = krmPipelineFirstStage(pipeline.get()); s; s = krmStageNext(s), ++i)
            if (krmStageType(s) == krmSigCLutElemType && krmStageInputChannels(s) == 4)
                clutIndex = i;
    }
    QVERIFY(clutIndex >= 0);

    CLutComponent viewer(cmyk.get(), krmSig("A2B0"), clutIndex);
    viewer.resize(900, 700);
    viewer.show();
    viewer.tabSelected();
    QVERIFY(!viewer.showScaleBox()->isEnabled());
    QVERIFY(!viewer.coloredNodesBox()->isEnabled());
    viewer.threeDBox()->setChecked(true);
    QCOMPARE(viewer.stack()->currentIndex(), 1);
    QVERIFY(viewer.showScaleBox()->isEnabled());
    // CMYK in, L*a*b* out: the nodes may take their output colour.
    QVERIFY(viewer.coloredNodesBox()->isEnabled());
    QVERIFY(viewer.depthBox()->isVisible());
    QCOMPARE(viewer.depthBox()->count(), 2);
    QVERIFY(viewer.channelBox()->isHidden());

    // The node cloud and the box; ids run over the slice row by row.
    HullWidget* hull = viewer.hullView();
    QCOMPARE(hull->meshCount(), 2);
    const HullRenderData& points = hull->meshSource(0);
    const int rows = viewer.model()->rowCount();
    const int columns = viewer.model()->columnCount();
    QCOMPARE(int(points.vertexCount()), rows * columns);
    QCOMPARE(points.ids.front(), 1);
    QCOMPARE(points.ids.back(), rows * columns);
    QCOMPARE(hull->meshSource(1).triangleCount(), std::size_t(12));
    for (std::size_t v = 0; v < points.vertexCount(); ++v) {
        QVERIFY(points.positions[v * 3 + 1] >= 0 && points.positions[v * 3 + 1] <= 100);
        QVERIFY(std::fabs(points.positions[v * 3 + 2]) <= 50 && std::fabs(points.positions[v * 3]) <= 50);
    }

    // Clicking node 1: the plane's first node, the other inputs at their sliders.
    viewer.show_node_info(1);
    QVERIFY(viewer.popup());
    QStringList coordinates;
    for (int i = 0; i < 4; ++i)
        coordinates << QString::number(i >= 2 ? 0 : viewer.slider(i)->value());
    QCOMPARE(viewer.popup()->shownTitle(), QStringLiteral("CLUT node (%1)").arg(coordinates.join(", ")));
    const QString text = viewer.popup()->shownText();
    QVERIFY2(text.contains("Input") && text.contains("Output") && text.contains("[node 0]"), qPrintable(text));
    QVERIFY2(text.contains(viewer.model()->tooltipText(0, 0).split('\n').first()), qPrintable(text));
    viewer.show_node_info(rows * columns + 1);
    QVERIFY(viewer.popup()->isHidden());

    // A 3-input stage in 3D mode hides the depth box and uses the third input.
    const ProfilePtr xyz = clutProfile(krmSig("RGB "), krmSig("XYZ "), 3, 3, [](krmUInt16Number* t, krmUInt32Number n) {
        std::fill(t, t + n, krmUInt16Number(0x4000));
    });
    CLutComponent rgb(xyz.get(), krmSig("A2B0"), 1);
    rgb.show();
    rgb.tabSelected();
    rgb.threeDBox()->setChecked(true);
    QVERIFY(!rgb.depthBox()->isVisible());
    QCOMPARE(rgb.depthBox()->count(), 1);
    // Neither side is L*a*b*: no node colours.
    QVERIFY(!rgb.coloredNodesBox()->isEnabled());
    viewer.threeDBox()->setChecked(false);
}

void TestCLut::unshowableStagesThrow()
{
    const ProfilePtr rgb = clutProfile(krmSig("RGB "), krmSig("Lab "), 3, 2, [](krmUInt16Number*, krmUInt32Number) {});
    for (int index : {-1, 0, 5})
        QVERIFY_THROWS_EXCEPTION(QException, CLutComponent(rgb.get(), krmSig("A2B0"), index));
    QVERIFY_THROWS_EXCEPTION(QException, CLutComponent(nullptr, krmSig("A2B0"), 1));
}

QTEST_MAIN(TestCLut)
#include "tst_clut.moc"
