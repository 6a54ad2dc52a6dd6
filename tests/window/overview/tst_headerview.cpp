// Header view: items built from the raw header bytes of real profiles, the column-pair layout,
// the "Check profile" button and copying cells.

#include "window/overview/HeaderTableView.h"
#include "window/overview/HeaderValueModel.h"
#include "common/signatures/Signatures.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTest>

#include <cmath>
#include <cstring>

namespace {

const QStringList kLabels = {"Size",       "CMM",          "Version", "Class",     "ColorSpace", "PCS",
                             "Created",    "Magic",        "Platform", "Flags",    "Manufacturer", "Model",
                             "Attributes", "Intent",       "Illuminant", "Creator", "ProfileID", ""};

QStringList corpus()
{
    QStringList files;
    for (const QString& folder : {QStringLiteral("/usr/share/color/icc/colord"),
                                  QStringLiteral("/usr/share/color/icc/ghostscript")}) {
        const QDir dir(folder);
        for (const QString& name : dir.entryList({QStringLiteral("*.icc")}, QDir::Files, QDir::Name))
            files << dir.filePath(name);
    }
    return files;
}

krmUInt32Number be32(const QByteArray& bytes, int offset)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData()) + offset;
    return (krmUInt32Number(p[0]) << 24) | (krmUInt32Number(p[1]) << 16) | (krmUInt32Number(p[2]) << 8) | p[3];
}

int be16(const QByteArray& bytes, int offset)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData()) + offset;
    return (p[0] << 8) | p[1];
}

QString valueOf(const HeaderValueModel& model, const QString& label)
{
    for (const HeaderValueModel::Item& item : model.items())
        if (item.label == label)
            return item.value;
    return QStringLiteral("<missing %1>").arg(label);
}

// A header of zeros with selected big-endian fields set.
struct RawHeader {
    krmUInt8Number bytes[128] = {};
    RawHeader& set32(int offset, krmUInt32Number value)
    {
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = krmUInt8Number(value >> (24 - 8 * i));
        return *this;
    }
    RawHeader& set16(int offset, int value)
    {
        bytes[offset] = krmUInt8Number(value >> 8);
        bytes[offset + 1] = krmUInt8Number(value);
        return *this;
    }
};

QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Base, QColor(0x23, 0x23, 0x23));
    p.setColor(QPalette::AlternateBase, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::Text, Qt::white);
    p.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::ButtonText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::ToolTipBase, QColor(0x23, 0x23, 0x23));
    p.setColor(QPalette::ToolTipText, Qt::white);
    return p;
}

} // namespace

class TestHeaderView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void corpusProfiles_data();
    void corpusProfiles();
    void valueFormats_data();
    void valueFormats();
    void unreadableHeaderShowsZeroForms();
    void tooltipsAndRoles();
    void changedProfileIdDiffers();
    void columnPairLayout();
    void widthsStayInsideTheViewport();
    void checkButtonEmits();
    void copySelectedCells();
    void replacingAndClearingTheProfile();
    void screenshots();
};

void TestHeaderView::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY2(!corpus().isEmpty(), "no ICC profiles installed under /usr/share/color/icc");
}

void TestHeaderView::corpusProfiles_data()
{
    QTest::addColumn<QString>("path");
    for (const QString& path : corpus())
        QTest::newRow(qPrintable(QFileInfo(path).fileName())) << path;
}

void TestHeaderView::corpusProfiles()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.size() >= 128);

    krmProfile profile = krmOpenProfileFromFile(QFile::encodeName(path).constData(), "r");
    QVERIFY(profile);
    HeaderValueModel model(profile);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    QStringList labels;
    for (const HeaderValueModel::Item& item : model.items())
        labels << item.label;
    QCOMPARE(labels, kLabels);

    const krmUInt32Number size = be32(bytes, 0);
    QCOMPARE(size, krmUInt32Number(bytes.size()));
    const QString sizeText = size >= 1048576 ? QString::number(size / 1048576.0, 'f', 2) + " MB"
                             : size >= 1024  ? QString::number(size / 1024.0, 'f', 2) + " KB"
                                             : QString::number(size) + " bytes";
    QCOMPARE(valueOf(model, "Size"), sizeText);
    QCOMPARE(valueOf(model, "CMM"), cmmName(be32(bytes, 4)));

    // Major, minor and bug-fix digits of ICC.1 7.2.4, as a decimal number.
    const int major = uchar(bytes[8]), minor = uchar(bytes[9]) >> 4, fix = uchar(bytes[9]) & 15;
    QCOMPARE(valueOf(model, "Version"), QString::number(major + minor / 10.0 + fix / 100.0, 'g', 6));

    QCOMPARE(valueOf(model, "Class"), deviceClassName(be32(bytes, 12)));
    QCOMPARE(valueOf(model, "ColorSpace"), colorSpaceName(be32(bytes, 16)));
    QCOMPARE(valueOf(model, "PCS"), colorSpaceName(be32(bytes, 20)));
    const QDateTime created(QDate(be16(bytes, 24), be16(bytes, 26), be16(bytes, 28)),
                            QTime(be16(bytes, 30), be16(bytes, 32), be16(bytes, 34)));
    // Some installed profiles leave the date zero, which is no date at all.
    QCOMPARE(valueOf(model, "Created"),
             created.isValid() ? QLocale::system().toString(created, QLocale::NarrowFormat) : QString());
    QCOMPARE(valueOf(model, "Magic"), QStringLiteral("acsp"));
    QCOMPARE(valueOf(model, "Platform"), platformName(be32(bytes, 40)));
    const QStringList flagTexts = {"File, reusable", "Embedded, reusable", "File, only for embedding",
                                   "Embedded, only for embedding"};
    QCOMPARE(valueOf(model, "Flags"), flagTexts[be32(bytes, 44) & 3]);
    QCOMPARE(valueOf(model, "Manufacturer"), manufacturerName(be32(bytes, 48)));
    QCOMPARE(valueOf(model, "Model"), signatureText(be32(bytes, 52)));
    const krmUInt32Number attributes = be32(bytes, 60);
    QCOMPARE(valueOf(model, "Attributes"),
             QStringList({attributes & 1 ? "Transparency" : "Reflective", attributes & 2 ? "Matte" : "Glossy",
                          attributes & 4 ? "Negative" : "Positive", attributes & 8 ? "Black & white" : "Color"})
                 .join(", "));
    const QStringList intents = {"Perceptual", "Rel.colorimetric", "Saturation", "Abs.colorimetric"};
    const krmUInt32Number intent = be32(bytes, 64);
    QCOMPARE(valueOf(model, "Intent"), intent < 4 ? intents[intent] : QStringLiteral("Invalid!"));

    // Every installed profile declares the D50 connection-space illuminant.
    const double X = qint32(be32(bytes, 68)) / 65536.0, Y = qint32(be32(bytes, 72)) / 65536.0,
                 Z = qint32(be32(bytes, 76)) / 65536.0;
    QVERIFY(std::abs(X - 0.9642) < 0.001 && std::abs(Y - 1.0) < 0.001 && std::abs(Z - 0.8249) < 0.001);
    QCOMPARE(valueOf(model, "Illuminant"), QStringLiteral("D50"));
    QCOMPARE(valueOf(model, "Creator"), manufacturerName(be32(bytes, 80)));

    const QByteArray id = bytes.mid(84, 16);
    QString idExpected = QStringLiteral("Not computed");
    if (id.count('\0') != 16) {
        const QString hex = QString::fromLatin1(id.toHex()).toUpper();
        idExpected = hex.mid(0, 8) + '-' + hex.mid(8, 8) + '-' + hex.mid(16, 8) + '-' + hex.mid(24, 8);
    }
    // Beside the stored ID, whether it matches the profile's bytes: colord's profiles carry
    // correct IDs, Ghostscript's none.
    const QString idStatus = id.count('\0') == 16 ? QStringLiteral(" (absent)") : QStringLiteral(" (matches)");
    QCOMPARE(valueOf(model, "ProfileID"), idExpected + idStatus);

    QCOMPARE(model.items().last().value, QStringLiteral("Check profile"));
    QVERIFY(krmCloseProfile(profile));
}

void TestHeaderView::valueFormats_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<krmUInt32Number>("field");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("value");
    QTest::newRow("3,000,000 bytes") << 0 << krmUInt32Number(3000000) << "Size" << "2.86 MB";
    QTest::newRow("1023 bytes") << 0 << krmUInt32Number(1023) << "Size" << "1023 bytes";
    QTest::newRow("1024 bytes") << 0 << krmUInt32Number(1024) << "Size" << "1.00 KB";
    QTest::newRow("3 GiB") << 0 << krmUInt32Number(3221225472u) << "Size" << "3.00 GB";
    QTest::newRow("largest size") << 0 << krmUInt32Number(0xFFFFFFFFu) << "Size" << "4.00 GB";
    QTest::newRow("flags 0") << 44 << krmUInt32Number(0) << "Flags" << "File, reusable";
    QTest::newRow("flags 3") << 44 << krmUInt32Number(3) << "Flags" << "Embedded, only for embedding";
    QTest::newRow("flags high bits ignored") << 44 << krmUInt32Number(0xFFFF0002u) << "Flags"
                                             << "File, only for embedding";
    QTest::newRow("intent 3") << 64 << krmUInt32Number(3) << "Intent" << "Abs.colorimetric";
    QTest::newRow("intent 7") << 64 << krmUInt32Number(7) << "Intent" << "Invalid!";
    QTest::newRow("unknown class") << 12 << krmSig("zzzz") << "Class" << "zzzz";
    QTest::newRow("private creator") << 80 << krmSig("crvn") << "Creator" << "Corvane";
    QTest::newRow("model text") << 52 << krmUInt32Number(0x41420000) << "Model" << "AB";
}

void TestHeaderView::valueFormats()
{
    QFETCH(int, offset);
    QFETCH(krmUInt32Number, field);
    QFETCH(QString, label);
    QFETCH(QString, value);
    RawHeader header;
    header.set32(offset, field);
    const HeaderValueModel model(header.bytes, 4.3, 0x04300000);
    QCOMPARE(valueOf(model, label), value);
}

void TestHeaderView::unreadableHeaderShowsZeroForms()
{
    const RawHeader zero;
    const HeaderValueModel model(zero.bytes, 0.0, 0);
    QCOMPARE(valueOf(model, "Size"), QStringLiteral("0 bytes"));
    QCOMPARE(valueOf(model, "CMM"), QString());
    QCOMPARE(valueOf(model, "Magic"), QString());
    QCOMPARE(valueOf(model, "Intent"), QStringLiteral("Perceptual"));
    QCOMPARE(valueOf(model, "ProfileID"), QStringLiteral("Not computed"));
    QCOMPARE(valueOf(model, "Created"), QString());  // year 0, month 0 is no date
    QCOMPARE(valueOf(model, "Version"), QStringLiteral("0"));
    // A black illuminant must not be divided by zero; it reads as the origin of the diagram.
    const QString illuminant = valueOf(model, "Illuminant");
    QVERIFY2(!illuminant.contains(QLatin1String("nan"), Qt::CaseInsensitive), qPrintable(illuminant));

    RawHeader badDate;
    badDate.set16(24, 2024).set16(26, 13).set16(28, 1);
    QCOMPARE(valueOf(HeaderValueModel(badDate.bytes, 2.1, 0x02100000), "Created"), QString());
    RawHeader badTime;
    badTime.set16(24, 2024).set16(26, 2).set16(28, 29).set16(30, 24);
    QCOMPARE(valueOf(HeaderValueModel(badTime.bytes, 2.1, 0x02100000), "Created"), QString());

    // krmGetProfileIOHandler of a null profile is null: the model still has every item.
    const HeaderValueModel none(static_cast<krmProfile>(nullptr));
    QCOMPARE(none.items().size(), kLabels.size());
    QCOMPARE(valueOf(none, "Size"), QStringLiteral("0 bytes"));
}

void TestHeaderView::changedProfileIdDiffers()
{
    QFile file(QStringLiteral("/usr/share/color/icc/colord/sRGB.icc"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    bytes[200] = char(bytes[200] ^ 1);  // one byte of the tag data
    krmProfile profile = krmOpenProfileFromMem(bytes.constData(), krmUInt32Number(bytes.size()));
    QVERIFY(profile);
    const HeaderValueModel model(profile);
    const QString value = valueOf(model, "ProfileID");
    QVERIFY2(value.startsWith(QStringLiteral("6209E0EE-E05D1DA9-DF7B4E3C-2DA33F62 (differs: computed ")), qPrintable(value));
    QVERIFY(!value.endsWith(QStringLiteral("6209E0EE-E05D1DA9-DF7B4E3C-2DA33F62)")));
    QVERIFY(krmCloseProfile(profile));
}

void TestHeaderView::tooltipsAndRoles()
{
    RawHeader header;
    header.set32(0, 1024).set32(4, krmSig("ADBE")).set32(44, 1);
    HeaderValueModel model(header.bytes, 4.3, 0x04300000);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    const QModelIndex sizeLabel = model.index(0, 0), sizeValue = model.index(0, 1);
    const QModelIndex cmmLabel = model.index(1, 0), cmmValue = model.index(1, 1);
    QCOMPARE(sizeValue.data(Qt::ToolTipRole).toString(), QStringLiteral("1.00 KB"));
    QCOMPARE(sizeLabel.data(Qt::ToolTipRole).toString(), QStringLiteral("Size"));
    QCOMPARE(cmmValue.data().toString(), QStringLiteral("Adobe CMM"));
    QCOMPARE(cmmValue.data(Qt::ToolTipRole).toString(),
             QStringLiteral("<center><b>CMM</b></center><i>Signature:</i> 'ADBE'"));
    QCOMPARE(cmmLabel.data(Qt::ToolTipRole), cmmValue.data(Qt::ToolTipRole));
    QCOMPARE(model.index(2, 1).data(Qt::ToolTipRole).toString(),
             QStringLiteral("<center><b>Version</b></center><i>Hex:</i> '0x04300000'"));
    QCOMPARE(model.index(9, 1).data(Qt::ToolTipRole).toString(),
             QStringLiteral("<center><b>Flags</b></center><i>Hex:</i> '0x00000001'"));
    QCOMPARE(model.index(17, 1).data(Qt::ToolTipRole).toString(), QStringLiteral("Check ICC profile conformance"));

    QCOMPARE(cmmLabel.data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    QCOMPARE(cmmValue.data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignLeft | Qt::AlignVCenter));
    QCOMPARE(cmmLabel.data(Qt::BackgroundRole).value<QBrush>(), QGuiApplication::palette().brush(QPalette::Window));
    QVERIFY(!cmmValue.data(Qt::BackgroundRole).isValid());

    // Four pairs: 18 items take 5 rows, and the last row ends in two empty pairs.
    QFontMetrics metrics(QApplication::font());
    int pairs = 0;
    for (int width = 1; pairs != 4 && width < 5000; width += 5) {
        model.fitColumnPairs(width, metrics);
        pairs = model.columnPairCount();
    }
    QCOMPARE(pairs, 4);
    QCOMPARE(model.rowCount(), 5);
    QCOMPARE(model.index(4, 4).data().toString(), QString());
    QVERIFY(!model.index(4, 5).data(Qt::ToolTipRole).isValid());
    QCOMPARE(model.buttonIndex(), model.index(4, 3));
    QCOMPARE(model.buttonIndex().data().toString(), QStringLiteral("Check profile"));
}

void TestHeaderView::columnPairLayout()
{
    krmProfile profile = krmOpenProfileFromFile("/usr/share/color/icc/colord/sRGB.icc", "r");
    QVERIFY(profile);
    HeaderTableView view;
    view.setProfile(profile);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    view.resize(60, 600);
    QCoreApplication::processEvents();
    QCOMPARE(view.headerModel()->columnPairCount(), 1);
    QCOMPARE(view.model()->rowCount(), 18);
    QCOMPARE(view.model()->columnCount(), 2);

    view.resize(6000, 200);
    QCoreApplication::processEvents();
    QCOMPARE(view.headerModel()->columnPairCount(), 18);
    QCOMPARE(view.model()->rowCount(), 1);
    QCOMPARE(view.model()->columnCount(), 36);

    // In between the pairs grow with the width and never shrink.
    int previous = 1;
    for (int width = 200; width <= 3000; width += 100) {
        view.resize(width, 400);
        QCoreApplication::processEvents();
        const int pairs = view.headerModel()->columnPairCount();
        QVERIFY2(pairs >= previous, qPrintable(QStringLiteral("%1 pairs at %2 px").arg(pairs).arg(width)));
        previous = pairs;
        QCOMPARE(view.headerModel()->buttonIndex().data().toString(), QStringLiteral("Check profile"));
        QVERIFY(view.indexWidget(view.headerModel()->buttonIndex()));
    }
    view.setProfile(nullptr);
    QVERIFY(krmCloseProfile(profile));
}

void TestHeaderView::widthsStayInsideTheViewport()
{
    krmProfile profile = krmOpenProfileFromFile("/usr/share/color/icc/ghostscript/default_cmyk.icc", "r");
    QVERIFY(profile);
    HeaderTableView view;
    view.setProfile(profile);
    view.show();
    for (int width : {40, 180, 320, 700, 1500}) {
        view.resize(width, 500);
        QCoreApplication::processEvents();
        const int columns = view.model()->columnCount();
        int sum = 0;
        for (int column = 0; column + 1 < columns; ++column)
            sum += view.columnWidth(column);
        QVERIFY2(sum <= view.viewport()->width(),
                 qPrintable(QStringLiteral("%1 px of columns in %2 px").arg(sum).arg(view.viewport()->width())));
        QCOMPARE(view.horizontalScrollBar()->maximum(), 0);
        const QModelIndex button = view.headerModel()->buttonIndex();
        QVERIFY(view.rowHeight(button.row()) >= view.checkButton()->sizeHint().height());
    }
    view.setProfile(nullptr);
    QVERIFY(krmCloseProfile(profile));
}

void TestHeaderView::checkButtonEmits()
{
    krmProfile profile = krmOpenProfileFromFile("/usr/share/color/icc/ghostscript/srgb.icc", "r");
    QVERIFY(profile);
    HeaderTableView view;
    QSignalSpy spy(&view, &HeaderTableView::checkProfileRequested);
    view.setProfile(profile);
    view.resize(300, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QPushButton* button = view.checkButton();
    QVERIFY(button);
    QCOMPARE(button->text(), QStringLiteral("Check profile"));
    QCOMPARE(button->toolTip(), QStringLiteral("Check ICC profile conformance"));
    QCOMPARE(button->focusPolicy(), Qt::TabFocus);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(spy.count(), 1);

    // The button is placed anew after a relayout and still works.
    view.resize(1200, 200);
    QCoreApplication::processEvents();
    QVERIFY(view.checkButton() && view.checkButton() != button);
    QTest::mouseClick(view.checkButton(), Qt::LeftButton);
    QCOMPARE(spy.count(), 2);
    view.setProfile(nullptr);
    QVERIFY(krmCloseProfile(profile));
}

void TestHeaderView::copySelectedCells()
{
    krmProfile profile = krmOpenProfileFromFile("/usr/share/color/icc/colord/AdobeRGB1998.icc", "r");
    QVERIFY(profile);
    HeaderTableView view;
    view.setProfile(profile);
    view.resize(120, 600);
    view.show();
    QCoreApplication::processEvents();
    QCOMPARE(view.headerModel()->columnPairCount(), 1);

    QApplication::clipboard()->setText(QStringLiteral("untouched"));
    view.copy();  // nothing selected
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("untouched"));

    const QModelIndex classValue = view.model()->index(3, 1);
    view.selectionModel()->select(classValue, QItemSelectionModel::ClearAndSelect);
    view.copy();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("Display"));

    // Ctrl+C on the focused view copies the same way.
    QApplication::clipboard()->clear();
    view.setFocus();
    QTest::keySequence(&view, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("Display"));

    // A block of cells, selected in reverse, comes out row by row, tab separated.
    QStandardItemModel grid(2, 3);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            grid.setItem(r, c, new QStandardItem(QStringLiteral("r%1c%2").arg(r).arg(c)));
    TableView table;
    table.setModel(&grid);
    table.selectionModel()->select(QItemSelection(grid.index(1, 2), grid.index(0, 1)), QItemSelectionModel::Select);
    table.copy();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("r0c1\tr0c2\nr1c1\tr1c2"));
    QCOMPARE(table.editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(!table.isSortingEnabled());
    QVERIFY(table.horizontalHeader()->stretchLastSection());
    QVERIFY(!table.currentIndex().isValid());

    view.setProfile(nullptr);
    QVERIFY(krmCloseProfile(profile));
}

void TestHeaderView::replacingAndClearingTheProfile()
{
    krmProfile first = krmOpenProfileFromFile("/usr/share/color/icc/ghostscript/default_gray.icc", "r");
    krmProfile second = krmOpenProfileFromFile("/usr/share/color/icc/colord/ProPhotoRGB.icc", "r");
    QVERIFY(first && second);
    HeaderTableView view;
    QVERIFY(!view.model());
    view.setProfile(first);
    QPointer<HeaderValueModel> old = view.headerModel();
    QCOMPARE(old->items().at(4).value, QStringLiteral("Gray"));
    view.setProfile(second);
    QVERIFY(old.isNull());  // the previous model is deleted with its profile's values
    QCOMPARE(view.headerModel()->items().at(4).value, QStringLiteral("RGB"));
    view.setProfile(nullptr);
    QVERIFY(!view.model());
    QVERIFY(krmCloseProfile(first));
    QVERIFY(krmCloseProfile(second));
}

// Pictures of the dock for a version 2 and a version 4 profile in light and dark palettes, for
// a person to look at; written only when PRISMET_SCREENSHOT_DIR names a folder.
void TestHeaderView::screenshots()
{
    const QString folder = qEnvironmentVariable("PRISMET_SCREENSHOT_DIR");
    if (folder.isEmpty())
        QSKIP("set PRISMET_SCREENSHOT_DIR to write screenshots");
    QDir().mkpath(folder);

    const QPalette original = QApplication::palette();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const struct {
        const char* name;
        const char* path;
    } profiles[] = {{"v2", "/usr/share/color/icc/ghostscript/default_rgb.icc"},
                    {"v4", "/usr/share/color/icc/colord/sRGB.icc"}};
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
        for (const auto& entry : profiles) {
            krmProfile profile = krmOpenProfileFromFile(entry.path, "r");
            QVERIFY(profile);
            for (const int width : {320, 1400}) {
                HeaderTableView view;
                view.setProfile(profile);
                view.resize(width, width > 1000 ? 110 : 480);
                view.show();
                QVERIFY(QTest::qWaitForWindowExposed(&view));
                const QString file = QStringLiteral("%1/header_%2_%3_%4.png")
                                         .arg(folder, entry.name, dark ? "dark" : "light")
                                         .arg(width);
                QVERIFY(view.grab().save(file));
                view.setProfile(nullptr);
            }
            QVERIFY(krmCloseProfile(profile));
        }
    }
    QApplication::setPalette(original);
}

QTEST_MAIN(TestHeaderView)
#include "tst_headerview.moc"
