// The gamut hull and roundtrip views and what they compute: sampling rules, the profile chains,
// the style setting, every LUT tag of the corpus, roundtrip modes and statistics, the popup's
// placement, and the Lab CGATS and VRML exports written through the view's menu.

#include "common/analysis/GamutAnalysis.h"
#include "window/analyses/GamutHullTagComponent.h"
#include "window/widgets/HullViewControls.h"
#include "window/analyses/RoundtripPointPopup.h"
#include "window/analyses/RoundtripTagComponent.h"
#include "krm.h"
#include "tests/window/app/AppTestSupport.h"
#include "window/widgets/AppSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <memory>
#include <sstream>

namespace {

const char kCMYK[] = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
const char kSRGB[] = "/usr/share/color/icc/colord/sRGB.icc";

struct ProfileCloser {
    void operator()(std::remove_pointer_t<krmProfile>* p) const { krmCloseProfile(p); }
};
using ProfilePtr = std::unique_ptr<std::remove_pointer_t<krmProfile>, ProfileCloser>;

ProfilePtr open(const QString& path)
{
    return ProfilePtr(krmOpenProfileFromFile(QFile::encodeName(path).constData(), "r"));
}

QStringList corpus()
{
    QStringList files;
    for (const char* folder : {"/usr/share/color/icc/colord", "/usr/share/color/icc/ghostscript"})
        for (const QString& name : QDir(QString::fromLatin1(folder)).entryList({"*.icc"}, QDir::Files))
            files << QString::fromLatin1(folder) + '/' + name;
    return files;
}

// Answers the next file dialog with `path`.
void answerFileDialog(apptest::ModalWatcher& watcher, const QString& path)
{
    watcher.setAnswer([path](QDialog* dialog) {
        if (auto* files = qobject_cast<QFileDialog*>(dialog)) {
            // done() rather than accept(): accept() may wait on the dialog's folder model, which
            // under a virtual display sometimes never answers.
            files->selectFile(path);
            QMetaObject::invokeMethod(files, "done", Q_ARG(int, QDialog::Accepted));
        } else {
            dialog->reject();
        }
    });
}

QStringList lines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n');
}

}  // namespace

class TestGamut : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { apptest::isolateSettings(); }
    void init() { appSettings()->clear(); }

    void samplingRules();
    void transformChains();
    void gamutView_styles();
    void corpus_everyLutTag();
    void roundtrip_modesAndThreshold();
    void roundtrip_unavailable();
    void statistics();
    void popupPlacement();
    void exports_cgatsAndVrml();
};

void TestGamut::samplingRules()
{
    // Grid points per channel: 12 / 5 / 4, lowered while the grid exceeds 250000 nodes.
    const std::pair<int, int> table[] = {{1, 12}, {3, 12}, {4, 5}, {6, 5}, {7, 4}, {8, 4}, {9, 3}, {12, 2}, {15, 2}};
    for (const auto& [channels, points] : table)
        QCOMPARE(device_grid_points(channels), points);
    QCOMPARE(device_grid(12, device_grid_points(12)).size() / 12, std::size_t(4096));
    QCOMPARE(device_grid(7, device_grid_points(7)).size() / 7, std::size_t(16384));

    // The last channel varies fastest; node k of n is round(k·65535/(n − 1)).
    const std::vector<std::uint16_t> grid = device_grid(3, 4);
    QCOMPARE(grid.size(), std::size_t(64 * 3));
    QCOMPARE((std::vector<std::uint16_t>(grid.begin(), grid.begin() + 6)),
             (std::vector<std::uint16_t>{0, 0, 0, 0, 0, 21845}));
    QCOMPARE((std::vector<std::uint16_t>(grid.end() - 3, grid.end())), (std::vector<std::uint16_t>{65535, 65535, 65535}));
    QVERIFY(device_grid(16, 2).empty());

    // The views count the same: sRGB's matrix-shaper 12³, a CMYK A2B0 5⁴.
    ProfilePtr srgb = open(kSRGB), cmyk = open(kCMYK);
    QVERIFY(srgb && cmyk);
    GamutHullTagComponent rgbView(srgb.get(), 0x7FFFFFF0);
    rgbView.tabSelected();
    QVERIFY(rgbView.isComputed());
    QCOMPARE(rgbView.sampleCount(), std::size_t(1728));
    RoundtripTagComponent roundtrip(cmyk.get(), krmSig("A2B0"));
    roundtrip.tabSelected();
    QCOMPARE(roundtrip.results().size(), std::size_t(625));
}

void TestGamut::transformChains()
{
    ProfilePtr cmyk = open(kCMYK), v4 = open(kSRGB);
    const struct {
        krmProfile profile;
        krmTagSignature tag;
        krmUInt32Number intent;
        bool chain;
        bool labV4;
    } table[] = {
        {cmyk.get(), krmSig("A2B0"), 0, false, false},  // version 2.1: the Lab v2 profile
        {cmyk.get(), krmSig("B2A1"), 1, true, false},   // PCS to device through five profiles
        {cmyk.get(), krmSig("A2B2"), 2, false, false},
        {v4.get(), 0x7FFFFFF0, 1, false, true},
    };
    for (const auto& row : table) {
        const std::unique_ptr<GamutTransform> t = GamutTransform::build(row.profile, row.tag);
        QVERIFY(t);
        QCOMPARE(t->intent(), row.intent);
        QCOMPARE(t->fiveProfileChain(), row.chain);
        QCOMPARE(t->labV4(), row.labV4);
    }
    QCOMPARE(intent_of_tag(krmSig("D2B3")), 3u);
    QCOMPARE(intent_of_tag(krmSig("B2D0")), 0u);
    QVERIFY(!GamutTransform::build(nullptr, krmSig("A2B0")));
}

void TestGamut::gamutView_styles()
{
    ProfilePtr cmyk = open(kCMYK);
    GamutHullTagComponent view(cmyk.get(), krmSig("A2B0"));
    // Out-of-range stored styles show "Solid" and are written back as 1.
    for (int stored : {0, 5}) {
        appSettings()->setValue("gamut_view", stored);
        view.tabSelected();
        QCOMPARE(view.styleCombo()->currentText(), QString("Solid"));
        QCOMPARE(appSettings()->value("gamut_view").toInt(), 1);
        QCOMPARE(view.view()->meshCount(), 1);
        QCOMPARE(view.view()->meshMode(0), MeshSolid);
    }
    // Style 2 draws solid then wireframe, 3 the wireframe alone; the choice is stored.
    view.styleCombo()->setCurrentIndex(1);
    QCOMPARE(view.view()->meshCount(), 2);
    QCOMPARE(view.view()->meshMode(1), MeshWireframe);
    view.styleCombo()->setCurrentIndex(2);
    QCOMPARE(view.view()->meshCount(), 1);
    QCOMPARE(view.view()->meshMode(0), MeshWireframe);
    QCOMPARE(appSettings()->value("gamut_view").toInt(), 3);
    // Style 4 draws every sample as a point, which the CGATS export then writes.
    view.styleCombo()->setCurrentIndex(3);
    QCOMPARE(view.view()->meshCount(), 1);
    QCOMPARE(view.view()->meshMode(0), MeshPoints);
    QCOMPARE(view.view()->meshVertexCount(0), view.sampleCount());
    view.styleCombo()->setCurrentIndex(2);

    // Grids: "Full grids" stores both keys and shows the side grids; the spin box sets divisions.
    view.controls()->gridCombo()->setCurrentIndex(2);
    QVERIFY(appSettings()->value("hull/side_grids").toBool());
    QVERIFY(view.view()->sideGridsShown());
    view.controls()->gridResSpin()->setValue(11);
    QCOMPARE(view.view()->gridRes(), 11);
    QCOMPARE(appSettings()->value("grid_res").toInt(), 11);

    // A one-ink profile has a line, not a volume, for a gamut: the view says so instead of
    // showing empty axes.
    ProfilePtr grayToK = open("/usr/share/color/icc/ghostscript/gray_to_k.icc");
    GamutHullTagComponent line(grayToK.get(), krmSig("B2A0"));
    line.tabSelected();
    QCOMPARE(line.view()->meshCount(), 0);
    QCOMPARE(line.view()->notice(), QString("No gamut hull to draw: All points are collinear."));
    QVERIFY(view.view()->notice().isEmpty());

    // A fresh view reads the stored style.
    GamutHullTagComponent again(cmyk.get(), krmSig("A2B0"));
    again.tabSelected();
    QCOMPARE(again.styleCombo()->currentData().toInt(), 3);
    QCOMPARE(again.controls()->gridCombo()->currentIndex(), 2);
}

void TestGamut::corpus_everyLutTag()
{
    // Every LUT tag (and matrix-shaper) either has no transform or gives a hull inside L*a*b*.
    int hulls = 0;
    for (const QString& path : corpus()) {
        ProfilePtr p = open(path);
        QVERIFY2(p, qPrintable(path));
        std::vector<krmTagSignature> tags;
        for (krmTagSignature sig : {krmSig("A2B0"), krmSig("A2B1"), krmSig("A2B2"), krmSig("B2A0"), krmSig("B2A1"),
                                    krmSig("B2A2"), krmSig("D2B0"), krmSig("B2D0")})
            if (krmIsTag(p.get(), sig))
                tags.push_back(sig);
        if (krmIsMatrixShaper(p.get()))
            tags.push_back(kMatrixShaperTag);
        for (krmTagSignature tag : tags) {
            std::unique_ptr<GamutHull> gamut;
            try {
                gamut = compute_gamut_hull(p.get(), tag);
            } catch (const HullException&) {
                continue;  // a degenerate gamut (grey profiles): the view logs it and stays empty
            }
            if (!gamut)
                continue;
            ++hulls;
            for (const HullPoint& v : gamut->hull->vertices()) {
                QVERIFY2(v.x >= 0 && v.x <= 100 && v.y >= -128 && v.y <= 127 && v.z >= -128 && v.z <= 127,
                         qPrintable(path));
            }
            QVERIFY(hull_volume(*gamut->hull) > 0);
        }
    }
    QVERIFY(hulls > 25);
}

void TestGamut::roundtrip_modesAndThreshold()
{
    ProfilePtr cmyk = open(kCMYK);
    RoundtripTagComponent device(cmyk.get(), krmSig("A2B0"));
    device.thresholdSpin()->setValue(0);
    device.tabSelected();
    QVERIFY(device.isComputed());
    QVERIFY(device.isDeviceRoundtrip());
    QVERIFY(device.messageLabel()->isHidden());
    // Threshold 0: every sample a point, with the translucent hull after it.
    QCOMPARE(device.view()->meshCount(), 2);
    QCOMPARE(device.view()->meshMode(0), MeshPoints);
    QCOMPARE(device.view()->meshSource(0).vertexCount(), device.results().size());
    QCOMPARE(device.view()->meshMode(1), MeshTranslucent);
    // Threshold 100: no point qualifies; without the hull nothing is drawn.
    device.thresholdSpin()->setValue(100);
    QCOMPARE(device.view()->meshCount(), 1);
    device.referenceCheck()->setChecked(false);
    QCOMPARE(device.view()->meshCount(), 0);
    QCOMPARE(appSettings()->value("roundtrip_threshold").toDouble(), 100.0);
    QCOMPARE(appSettings()->value("roundtrip_reference").toBool(), false);

    // The statistics line: the command line's mean, 95th percentile and max, and the count drawn.
    device.thresholdSpin()->setValue(1.5);
    const RoundtripStatistics stats = roundtrip_statistics(device.results(), 0);
    const std::size_t drawn = device.view()->meshSource(0).vertexCount();
    QVERIFY(drawn > 0 && drawn < stats.count);
    QCOMPARE(device.statisticsLabel()->text(),
             QString("%1 samples: \u0394E00 mean %2, 95th percentile %3, max %4; %5 at or above 1.5")
                 .arg(stats.count)
                 .arg(stats.mean, 0, 'f', 2)
                 .arg(stats.p95, 0, 'f', 2)
                 .arg(stats.max, 0, 'f', 2)
                 .arg(drawn));

    // The vectors run from the source to the returned colour, in view order (b*, L*, a*).
    device.thresholdSpin()->setValue(0);
    const HullRenderData& cloud = device.view()->meshSource(0);
    const RoundtripResult& r = device.results()[7];
    QCOMPARE(cloud.positions[7 * 3], float(r.source[2]));
    QCOMPARE(cloud.normals[7 * 3 + 1], float(r.roundtrip[0]));
    QCOMPARE(cloud.ids[7], 8);

    // PCS roundtrip: a 4-unit L*a*b* grid inside the gamut, never outside the L*a*b* range.
    RoundtripTagComponent pcs(cmyk.get(), krmSig("B2A0"));
    pcs.tabSelected();
    QVERIFY(pcs.isComputed());
    QVERIFY(!pcs.isDeviceRoundtrip());
    QVERIFY(!pcs.results().empty());
    for (const RoundtripResult& s : pcs.results()) {
        QVERIFY(s.source[0] >= 0 && s.source[0] <= 100);
        QVERIFY(s.source[1] >= -128 && s.source[1] <= 127 && s.source[2] >= -128 && s.source[2] <= 127);
        QVERIFY(s.de00 >= 0);
    }

    // A click on a point opens the popup with its numbers; id 0 hides it.
    device.resize(800, 600);
    device.show();
    QVERIFY(QTest::qWaitForWindowExposed(&device));
    emit device.view()->point_clicked(8, 0, 0, 0, 0, 0, 0);
    QVERIFY(device.popup()->isVisible());
    QCOMPARE(device.popup()->titleLabel()->text(), QString("Device roundtrip"));
    QVERIFY(device.popup()->sourceLabel()->text().startsWith(
        QString("Source Lab:  L* %1").arg(r.source[0], 0, 'f', 2)));
    QVERIFY(device.popup()->errorLabel()->text().startsWith(QString("\u0394E00: %1").arg(r.de00, 0, 'f', 2)));
    emit device.view()->point_clicked(0, 0, 0, 0, 0, 0, 0);
    QVERIFY(!device.popup()->isVisible());
}

void TestGamut::roundtrip_unavailable()
{
    ProfilePtr cmyk = open(kCMYK);
    RoundtripTagComponent view(cmyk.get(), krmSig("D2B0"));
    view.tabSelected();
    QVERIFY(!view.isComputed());
    QVERIFY(!view.messageLabel()->isHidden());
    QCOMPARE(view.messageLabel()->text(),
             QString("Roundtrip analysis unavailable: The matching LUT tag is not available"));
    QVERIFY(view.view()->isHidden());

    // Matrix-shapers (the command line's fallback) invert exactly, up to 16-bit device words.
    ProfilePtr srgb = open(kSRGB);
    const RoundtripAnalysis a = compute_roundtrip(srgb.get(), kMatrixShaperTag, 0);
    QCOMPARE(a.results.size(), std::size_t(1728));
    QVERIFY(roundtrip_statistics(a.results, 0).mean < 0.01);

    // A gray profile: the device roundtrip stands; the view says why no hull is drawn.
    ProfilePtr gray = open("/usr/share/color/icc/ghostscript/default_gray.icc");
    RoundtripTagComponent grayView(gray.get(), kMatrixShaperTag);
    grayView.tabSelected();
    QVERIFY(grayView.isComputed());
    QCOMPARE(grayView.results().size(), std::size_t(12));
    QVERIFY(!grayView.messageLabel()->isHidden());
    QVERIFY(grayView.messageLabel()->text().startsWith("No gamut hull: a gray profile"));
}

void TestGamut::statistics()
{
    std::vector<RoundtripResult> results(20);
    for (std::size_t i = 0; i < results.size(); ++i)
        results[i].de00 = double((i * 7) % 20);  // 0..19 shuffled
    const RoundtripStatistics s = roundtrip_statistics(results, 3);
    QCOMPARE(s.count, std::size_t(20));
    QCOMPARE(s.mean, 9.5);
    QCOMPARE(s.max, 19.0);
    QCOMPARE(s.p95, 18.0);  // nearest rank 19 of 20
    QCOMPARE(s.worst.size(), std::size_t(3));
    QCOMPARE(results[s.worst[0]].de00, 19.0);
    QCOMPARE(results[s.worst[2]].de00, 17.0);
    QCOMPARE(roundtrip_statistics({}, 5).count, std::size_t(0));
    QCOMPARE(roundtrip_count_at_least(results, 15.0), std::size_t(5));  // 15..19
    QCOMPARE(roundtrip_count_at_least(results, 19.5), std::size_t(0));

    const double a[3] = {50, 0, 0}, b[3] = {53, 4, 0};
    QCOMPARE(delta_e76(a, b), 5.0);
}

void TestGamut::popupPlacement()
{
    const QRect view(100, 100, 800, 600);  // right edge 899, bottom 699
    const QSize size(390, 100);
    const struct {
        QPoint p;
        QPoint expected;
    } table[] = {
        {{200, 200}, {214, 214}},  // below right of the point
        {{800, 200}, {396, 214}},  // near the right edge: flips left
        {{200, 650}, {214, 536}},  // near the bottom: flips up
        {{120, 690}, {134, 576}},
    };
    for (const auto& row : table)
        QCOMPARE(RoundtripPointPopup::placement(row.p, size, view), row.expected);
}

void TestGamut::exports_cgatsAndVrml()
{
    QTemporaryDir dir;
    apptest::ModalWatcher watcher;

    // Three points: NUMBER_OF_SETS 3, Patch_1..Patch_3, read back by our CGATS reader.
    HullRenderData points;
    const float labs[3][3] = {{50, -12, 30}, {10.5f, 0, -1}, {99, 127, -128}};
    for (const auto& lab : labs)
        points.positions.insert(points.positions.end(), {lab[2], lab[0], lab[1]});
    HullWidget widget;
    widget.add_mesh(points, MeshPoints);
    const QString cgats = dir.filePath("points.cgats");
    answerFileDialog(watcher, cgats);
    QMetaObject::invokeMethod(&widget, "on_export_lab_cgats");
    const QStringList text = lines(cgats);
    QCOMPARE(text.mid(0, 7), (QStringList{"CGATS.17", "NUMBER_OF_FIELDS 4", "BEGIN_DATA_FORMAT",
                                          "SAMPLE_ID LAB_L LAB_A LAB_B", "END_DATA_FORMAT", "NUMBER_OF_SETS 3",
                                          "BEGIN_DATA"}));
    QCOMPARE(text[7], QString("Patch_1 50.000000 -12.000000 30.000000"));
    QCOMPARE(text[10], QString("END_DATA"));
    QFile file(cgats);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    krmIT8* it8 = krmIT8LoadFromMem(nullptr, bytes.constData(), krmUInt32Number(bytes.size()));
    QVERIFY(it8);
    QCOMPARE(krmIT8GetPropertyDbl(it8, "NUMBER_OF_SETS"), 3.0);
    for (int i = 0; i < 3; ++i) {
        const QByteArray patch = "Patch_" + QByteArray::number(i + 1);
        QCOMPARE(krmIT8GetDataDbl(it8, patch, "LAB_L"), double(labs[i][0]));
        QCOMPARE(krmIT8GetDataDbl(it8, patch, "LAB_B"), double(labs[i][2]));
    }
    krmIT8Free(it8);

    // A tetrahedron: 4 point lines (the last without a comma), 4 colours, 4 faces ending ", -1".
    Hull hull;
    for (const HullPoint& p : {HullPoint{10, 0, 0}, HullPoint{90, 0, 0}, HullPoint{50, 40, 0}, HullPoint{50, 0, 40}})
        hull.add_point(p);
    hull.compute();
    HullWidget surface;
    surface.add_mesh(hull.get_render_data(), MeshSolid);
    const QString wrl = dir.filePath("hull.wrl");
    answerFileDialog(watcher, wrl);
    QMetaObject::invokeMethod(&surface, "on_export_vrml");
    const QStringList vrml = lines(wrl);
    QCOMPARE(vrml.value(0), QString("#VRML V2.0 utf8"));
    QCOMPARE(vrml.value(14), QString("          description \"default view\""));
    QCOMPARE(vrml.value(39), QString("          point ["));
    const QStringList pointLines = vrml.mid(40, 4);
    QCOMPARE(pointLines.filter(QRegularExpression("^            \\S+ \\S+ \\S+,$")).size(), 3);
    QVERIFY(!pointLines[3].endsWith(','));
    QCOMPARE(vrml.value(44), QString("          ]"));
    QCOMPARE(vrml.mid(48, 4).filter(QRegularExpression("^            [0-9.e-]+ [0-9.e-]+ [0-9.e-]+,?$")).size(), 4);
    QCOMPARE(vrml.value(54), QString("        coordIndex ["));
    QCOMPARE(vrml.mid(55, 4).filter(QRegularExpression("^          \\d+, \\d+, \\d+, -1$")).size(), 4);
    QCOMPARE(vrml.mid(59), (QStringList{"        ]", "      }", "    }", "  ]", "}", ""}));
    // Default stream formatting: 100, not 100.000000.
    QVERIFY(vrml.mid(40, 4).join(' ').contains(" 90 "));

    // Failures: an unwritable path and a view without a surface.
    watcher.seen.clear();
    answerFileDialog(watcher, dir.filePath("missing/hull.wrl"));
    QMetaObject::invokeMethod(&surface, "on_export_vrml");
    QCOMPARE(watcher.seen.value(1), QString("QMessageBox"));
    std::ostringstream empty;
    QVERIFY_THROWS_EXCEPTION(HullException, write_vrml(empty, HullRenderData()));
}

QTEST_MAIN(TestGamut)
#include "tst_gamut.moc"
