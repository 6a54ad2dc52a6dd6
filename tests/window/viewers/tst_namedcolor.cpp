// The named-colour viewers: word formatting per colour space, display names, the table model
// against the engine's lists (hand-made and the corpus), colorant tables without device column,
// and the 3D cloud: one point per colour with a PCS, the clicked colour's card, grid settings.

#include "tests/support/ViewerTestSupport.h"

#include "window/widgets/HullWidget.h"
#include "common/signatures/Signatures.h"
#include "window/overview/TagViewers.h"
#include "window/widgets/AppSettings.h"
#include "window/viewers/NamedColorComponent.h"
#include "window/viewers/NamedColorGamutComponent.h"
#include "window/viewers/XYZComponent.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QException>
#include <QHeaderView>
#include <QLabel>
#include <QSettings>
#include <QSpinBox>
#include <QTableView>
#include <QTest>

#include <array>
#include <vector>

using namespace viewertest;

namespace {

struct Color {
    QByteArray name;
    std::array<krmUInt16Number, 3> pcs;
    std::array<krmUInt16Number, 4> device;
};

// A named-colour profile of CMYK devices with an 'ncl2' (or a 'clrt') written by the engine.
ProfilePtr namedProfile(const QList<Color>& colors, krmTagSignature tag = krmSig("ncl2"), const char* prefix = "Pre",
                        const char* suffix = "", krmProfileClassSignature deviceClass = krmSig("nmcl"),
                        krmColorSpaceSignature space = krmSig("CMYK"), krmColorSpaceSignature pcs = krmSig("Lab "))
{
    ProfilePtr profile(krmCreateProfilePlaceholder(nullptr));
    krmSetProfileVersion(profile.get(), 2.1);
    krmSetProfileClass(profile.get(), deviceClass);
    krmSetProfileColorSpace(profile.get(), space);
    krmSetProfilePCS(profile.get(), pcs);
    const bool colorant = tag != krmSig("ncl2");
    krmNamedColorList* list = krmAllocNamedColorList(nullptr, krmUInt32Number(colors.size()), colorant ? 0 : 4,
                                                     colorant ? "" : prefix, colorant ? "" : suffix);
    for (const Color& c : colors) {
        krmUInt16Number device[krmMAXCHANNELS] = {c.device[0], c.device[1], c.device[2], c.device[3]};
        krmAppendNamedColor(list, c.name.constData(), c.pcs.data(), device);
    }
    krmWriteTag(profile.get(), tag, list);
    krmFreeNamedColorList(list);
    return openFromBytes(saveToBytes(profile.get()));
}

const QList<Color> kColors = {
    {"Nothing", {0, 0, 0}, {1, 2, 3, 4}},
    {"Grey", {0x8000, 0x8000, 0x8000}, {65535, 0, 32768, 0}},
    {"Red", {0x8000, 0xC000, 0xB000}, {0, 65535, 65535, 0}},
    {"Blue", {0x4000, 0x9000, 0x2000}, {65535, 65535, 0, 0}},
};

}  // namespace

class TestNamedColor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerPermissiveReading(); }
    void init() { appSettings()->clear(); }

    void formatting_data();
    void formatting();
    void displayNames();
    void tableModel();
    void colorantTableHasNoDeviceColumn();
    void deviceLinkColorantsAreLab();
    void corpusListsMatchTheEngine();
    void cloudAndPopup();
    void gridSettings();
    void refusals();
};

void TestNamedColor::formatting_data()
{
    QTest::addColumn<quint32>("space");
    QTest::addColumn<QList<int>>("words");
    QTest::addColumn<QString>("text");
    QTest::newRow("CMYK") << krmSig("CMYK") << QList<int>{65535, 0, 32768, 0} << QStringLiteral("100.0, 0.0, 50.0, 0.0");
    QTest::newRow("Lab legacy") << krmSig("Lab ") << QList<int>{0x8000, 0x8000, 0x8000} << QStringLiteral("50.20, 0.00, 0.00");
    QTest::newRow("RGB") << krmSig("RGB ") << QList<int>{65535, 0, 257} << QStringLiteral("255.0, 0.0, 1.0");
    QTest::newRow("XYZ") << krmSig("XYZ ") << QList<int>{0x8000, 0x4000, 0} << QStringLiteral("1.0000, 0.5000, 0.0000");
    QTest::newRow("2CLR") << krmSig("2CLR") << QList<int>{65535, 6554} << QStringLiteral("100.0, 10.0");
    QTest::newRow("HSV") << krmSig("HSV ") << QList<int>{0xABCD, 0x10, 0} << QStringLiteral("0xabcd, 0x10, 0x0");
}

void TestNamedColor::formatting()
{
    QFETCH(quint32, space);
    QFETCH(QList<int>, words);
    krmUInt16Number values[krmMAXCHANNELS] = {};
    for (int i = 0; i < words.size(); ++i)
        values[i] = krmUInt16Number(words[i]);
    QTEST(format_color_words(space, values), "text");
}

void TestNamedColor::displayNames()
{
    QCOMPARE(named_color_display_name(QStringLiteral("PANTONE"), QStringLiteral("185"), QString()),
             QStringLiteral("PANTONE 185"));
    QCOMPARE(named_color_display_name(QString(), QStringLiteral("185"), QStringLiteral("C")), QStringLiteral("185 C"));
    QCOMPARE(named_color_display_name(QStringLiteral("P"), QStringLiteral("185"), QStringLiteral("C")),
             QStringLiteral("P 185 C"));
}

void TestNamedColor::tableModel()
{
    const ProfilePtr profile = namedProfile(kColors);
    QVERIFY(profile);
    NamedColorComponent viewer(profile.get(), krmSig("ncl2"));
    NamedColorTableModel* model = viewer.model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model->rowCount(), 4);
    QCOMPARE(model->columnCount(), 4);
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("PCS - ") + colorSpaceName(krmSig("Lab ")));
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Colorants - ") + colorSpaceName(krmSig("CMYK")));
    QVERIFY(!model->headerData(0, Qt::Vertical).isValid());

    // Prefix and name, no trailing blank for the empty suffix.
    QCOMPARE(model->index(1, 0).data().toString(), QStringLiteral("Pre Grey"));
    QCOMPARE(model->index(1, 1).data().toString(), QStringLiteral("50.20, 0.00, 0.00"));
    QCOMPARE(model->index(1, 2).data().toString(), QStringLiteral("100.0, 0.0, 50.0, 0.0"));
    // A mid grey is neutral on the screen.
    const QColor grey = model->index(1, 3).data(Qt::BackgroundRole).value<QColor>();
    QVERIFY(grey.isValid() && std::abs(grey.red() - grey.blue()) <= 2 && grey.red() > 90 && grey.red() < 150);
    // No PCS: empty cell, no swatch, but the device values are still shown.
    QVERIFY(!model->index(0, 1).data().isValid());
    QVERIFY(!model->index(0, 3).data(Qt::BackgroundRole).isValid());
    QVERIFY(!model->index(0, 2).data().toString().isEmpty());

    QCOMPARE(viewer.view()->horizontalHeader()->sectionResizeMode(2), QHeaderView::Stretch);
    QVERIFY(!viewer.view()->isColumnHidden(2));
    QCOMPARE(viewer.view()->horizontalHeader()->sectionSize(3), 60);
}

void TestNamedColor::colorantTableHasNoDeviceColumn()
{
    const ProfilePtr profile = namedProfile(kColors, krmSig("clrt"));
    const QList<ViewerTab> tabs = dispatchTagViewers(profile.get(), krmSig("clrt"), nullptr);
    QStringList titles;
    for (const ViewerTab& tab : tabs)
        titles << tab.title;
    QCOMPARE(titles, QStringList({QStringLiteral("Named"), QStringLiteral("Chromaticity"), QStringLiteral("Gamut")}));
    auto* viewer = qobject_cast<NamedColorComponent*>(tabs[0].widget);
    QVERIFY(viewer);
    QVERIFY(viewer->view()->isColumnHidden(2));
    QCOMPARE(viewer->view()->horizontalHeader()->sectionResizeMode(0), QHeaderView::Stretch);
    // The chromaticity tab plots the three colours that have a PCS value.
    auto* chromaticity = qobject_cast<XYZComponent*>(tabs[1].widget);
    QCOMPARE(chromaticity->scene()->diagram().points.size(), 3);
    for (const ViewerTab& tab : tabs)
        delete tab.widget;
}

void TestNamedColor::deviceLinkColorantsAreLab()
{
    // An RGB to CMYK device link: its PCS field says CMYK, yet both colorant tables hold L*a*b*.
    // Cyan L* 63.61 a* -41.39 b* -48.34 must not read as the inks "63.4, 33.8, 31.1, 0.0".
    const QList<Color> colors = {{"Cyan", {41525, 22172, 20393}, {}}, {"Paper", {0xFF00, 0x8000, 0x8000}, {}}};
    for (krmTagSignature tag : {krmSig("clrt"), krmSig("clot")}) {
        const ProfilePtr link = namedProfile(colors, tag, "", "", krmSig("link"), krmSig("RGB "), krmSig("CMYK"));
        QVERIFY(link);
        NamedColorComponent table(link.get(), tag);
        QCOMPARE(table.model()->headerData(1, Qt::Horizontal).toString(),
                 QStringLiteral("PCS - ") + colorSpaceName(krmSig("Lab ")));
        QCOMPARE(table.model()->index(0, 1).data().toString(), QStringLiteral("63.61, -41.39, -48.34"));
        QVERIFY(table.model()->index(0, 3).data(Qt::BackgroundRole).isValid());
        NamedColorGamutComponent gamut(link.get(), tag);
        QCOMPARE(int(gamut.entries().size()), 2);
        QVERIFY(gamut.view()->notice().isEmpty());
        XYZComponent chromaticity(link.get(), tag);
        QCOMPARE(chromaticity.scene()->diagram().points.size(), 2);
    }
    // A list with no colour to plot says so in each view instead of staying blank.
    const ProfilePtr empty = namedProfile({{"Nothing", {0, 0, 0}, {}}}, krmSig("clrt"));
    QVERIFY(!NamedColorGamutComponent(empty.get(), krmSig("clrt")).view()->notice().isEmpty());
    QVERIFY(!XYZComponent(empty.get(), krmSig("clrt")).scene()->diagram().subtitle.isEmpty());
}

void TestNamedColor::corpusListsMatchTheEngine()
{
    int lists = 0;
    for (const QString& path : corpusProfiles()) {
        const ProfilePtr profile(krmOpenProfileFromFile(path.toUtf8().constData(), "r"));
        if (!profile)
            continue;
        for (krmTagSignature sig : {krmSig("ncl2"), krmSig("clrt"), krmSig("clot")}) {
            if (!krmIsTag(profile.get(), sig))
                continue;
            const auto* list = static_cast<const krmNamedColorList*>(krmReadTag(profile.get(), sig));
            QVERIFY2(list, qPrintable(path));
            ++lists;
            NamedColorComponent table(profile.get(), sig);
            NamedColorGamutComponent cloud(profile.get(), sig);
            const int count = int(krmNamedColorCount(list));
            QCOMPARE(table.model()->rowCount(), count);
            int withPcs = 0;
            for (int i = 0; i < count; ++i) {
                char name[krmMAX_NAMED_COLOR_NAME] = {};
                krmUInt16Number pcs[3] = {};
                QVERIFY(krmNamedColorInfo(list, krmUInt32Number(i), name, nullptr, nullptr, pcs, nullptr));
                QVERIFY2(table.model()->index(i, 0).data().toString().contains(QString::fromUtf8(name)), qPrintable(path));
                withPcs += (pcs[0] | pcs[1] | pcs[2]) != 0;
            }
            QCOMPARE(int(cloud.entries().size()), withPcs);
            QCOMPARE(cloud.view()->meshCount(), withPcs > 0 ? 1 : 0);
            if (withPcs > 0)
                QCOMPARE(int(cloud.view()->meshSource(0).vertexCount()), withPcs);
        }
    }
    QVERIFY(lists >= 2);  // x11-colors.icc and Crayons.icc at least
}

void TestNamedColor::cloudAndPopup()
{
    const ProfilePtr profile = namedProfile(kColors);
    NamedColorGamutComponent viewer(profile.get(), krmSig("ncl2"));
    viewer.resize(600, 500);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QCOMPARE(int(viewer.entries().size()), 3);
    const HullRenderData& cloud = viewer.view()->meshSource(0);
    QCOMPARE(viewer.view()->meshMode(0), MeshPoints);
    // Axis order b*, L*, a*; ids count the plotted colours from 1.
    QCOMPARE(cloud.ids, std::vector<std::int32_t>({1, 2, 3}));
    QCOMPARE(cloud.positions[1], float(viewer.entries()[0].lab.L));

    // The third plotted point is the third plotted colour, though one colour was skipped.
    viewer.view()->emit_point_info(3);
    NamedColorPointPopup* popup = viewer.popup();
    QVERIFY(popup->isVisible());
    QCOMPARE(popup->objectName(), QStringLiteral("NamedColorPointPopup"));
    QCOMPARE(popup->nameLabel()->text(), QStringLiteral("Pre Blue"));
    const krmCIELab& blue = viewer.entries()[2].lab;
    QCOMPARE(popup->valueLabel()->text(), QStringLiteral("L* %1   a* %2   b* %3")
                                              .arg(QString::number(blue.L, 'f', 2), QString::number(blue.a, 'f', 2),
                                                   QString::number(blue.b, 'f', 2)));
    QVERIFY(popup->differenceLabel()->text().isEmpty());
    QVERIFY(popup->swatch()->styleSheet().contains(viewer.entries()[2].color.name()));
    // Kept inside the view.
    const QRect area(viewer.view()->mapToGlobal(QPoint(0, 0)), viewer.view()->size());
    QVERIFY(area.contains(popup->geometry().topLeft()));

    viewer.view()->emit_point_info(0);
    QVERIFY(!popup->isVisible());
}

void TestNamedColor::gridSettings()
{
    appSettings()->setValue(QStringLiteral("hull/show_grid"), true);
    appSettings()->setValue(QStringLiteral("hull/side_grids"), true);
    appSettings()->setValue(QStringLiteral("named_color_point_size"), 50);
    const ProfilePtr profile = namedProfile(kColors);
    NamedColorGamutComponent viewer(profile.get(), krmSig("ncl2"));
    QCOMPARE(viewer.gridBox()->currentText(), QStringLiteral("Full grids"));
    QVERIFY(viewer.view()->sideGridsShown());
    QCOMPARE(viewer.view()->dotSize(), 5.0f);
    QCOMPARE(viewer.gridSpin()->value(), 8);

    viewer.gridBox()->setCurrentIndex(0);
    QCOMPARE(appSettings()->value(QStringLiteral("hull/show_grid")).toBool(), false);
    QCOMPARE(appSettings()->value(QStringLiteral("hull/side_grids")).toBool(), false);
    QVERIFY(!viewer.view()->showGrid());
}

void TestNamedColor::refusals()
{
    const ProfilePtr profile = openFromBytes(buildProfile({{krmSig("ncl2"), textType("not a list")}}));
    QVERIFY_THROWS_EXCEPTION(QException, NamedColorComponent(profile.get(), krmSig("ncl2")));
    QVERIFY_THROWS_EXCEPTION(QException, NamedColorGamutComponent(profile.get(), krmSig("ncl2")));
    QVERIFY_THROWS_EXCEPTION(QException, NamedColorComponent(profile.get(), krmSig("clrt")));
    QVERIFY_THROWS_EXCEPTION(QException, XYZComponent(profile.get(), krmSig("ncl2")));
}

QTEST_MAIN(TestNamedColor)
#include "tst_namedcolor.moc"
