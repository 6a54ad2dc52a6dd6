// The tags table: rows against the profile files read directly, the virtual matrix-shaper row,
// group highlighting in both palettes, link markers and the signals of the view.

#include "window/widgets/ColorScheme.h"
#include "common/signatures/Signatures.h"
#include "window/overview/TagViewers.h"
#include "window/overview/TagsListValueModel.h"
#include "window/overview/TagsTableView.h"
#include "tests/window/app/AppTestSupport.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QStyleOptionViewItem>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

struct ProfileCloser {
    void operator()(_krmProfile_struct* profile) const { krmCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<_krmProfile_struct, ProfileCloser>;

const char* const kSRGB = "/usr/share/color/icc/colord/sRGB.icc";

QStringList corpus()
{
    QStringList files;
    for (const QString folder : {"/usr/share/color/icc/colord", "/usr/share/color/icc/ghostscript"}) {
        for (const QString& name : QDir(folder).entryList({"*.icc"}, QDir::Files, QDir::Name))
            files << folder + QLatin1Char('/') + name;
    }
    return files;
}

quint32 bigEndian32(const QByteArray& bytes, qsizetype at)
{
    if (at < 0 || at + 4 > bytes.size())
        return 0;
    return (quint32(quint8(bytes[at])) << 24) | (quint32(quint8(bytes[at + 1])) << 16) |
           (quint32(quint8(bytes[at + 2])) << 8) | quint32(quint8(bytes[at + 3]));
}

ProfilePtr open(const char* path)
{
    return ProfilePtr(krmOpenProfileFromFile(path, "r"));
}

int rowOf(const TagsListValueModel& model, krmTagSignature sig)
{
    for (int row = 0; row < model.rowCount(); ++row) {
        if (model.signatureAt(row) == sig)
            return row;
    }
    return -1;
}

QPalette paletteWithWindow(const QColor& window)
{
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, window);
    return palette;
}

// Rows whose column-1 background is the given colour.
QSet<int> rowsWithBackground(const TagsListValueModel& model, const QColor& colour)
{
    QSet<int> rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QVariant brush = model.index(row, 1).data(Qt::BackgroundRole);
        if (brush.isValid() && brush.value<QBrush>().color() == colour)
            rows.insert(row);
    }
    return rows;
}

QSet<int> rowsWithForeground(const TagsListValueModel& model)
{
    QSet<int> rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        if (model.index(row, 0).data(Qt::ForegroundRole).isValid())
            rows.insert(row);
    }
    return rows;
}

// An RGB profile with three different tone curves, whose 'bTRC' then shares the data of 'rTRC',
// written and read back by the engine.
QByteArray profileWithLinkedTrc()
{
    krmToneCurve* curves[3] = {krmBuildGamma(nullptr, 1.8), krmBuildGamma(nullptr, 2.2), krmBuildGamma(nullptr, 2.4)};
    const krmCIExyY d65 = {0.3127, 0.3290, 1.0};
    const krmCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    ProfilePtr source(krmCreateRGBProfile(&d65, &primaries, curves));
    krmFreeToneCurveTriple(curves);
    if (!source || !krmLinkTag(source.get(), krmSig("bTRC"), krmSig("rTRC")))
        return {};
    krmUInt32Number size = 0;
    if (!krmSaveProfileToMem(source.get(), nullptr, &size))
        return {};
    QByteArray bytes(qsizetype(size), '\0');
    if (!krmSaveProfileToMem(source.get(), bytes.data(), &size))
        return {};
    return bytes;
}

QSet<int> rowsOf(const TagsListValueModel& model, std::initializer_list<krmTagSignature> signatures)
{
    QSet<int> rows;
    for (krmTagSignature sig : signatures) {
        if (rowOf(model, sig) >= 0)
            rows.insert(rowOf(model, sig));
    }
    return rows;
}

}  // namespace

class TestTagsList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void corpus_rowsMatchTheDirectory();
    void matrixShaperRow_andItsGroup();
    void matrixShaperRow_onlyForRgbAndGray();
    void highlighting_followsTheSelection();
    void highlighting_inTheDarkPalette();
    void linkedTag_showsTheMarker();
    void view_emitsTheSelectedSignature();
    void view_replacesItsModel();

private:
    QPalette original_;
};

void TestTagsList::initTestCase()
{
    apptest::isolateSettings();
    original_ = QApplication::palette();
    QApplication::setPalette(paletteWithWindow(QColor(240, 240, 240)));
}

void TestTagsList::cleanup()
{
    QApplication::setPalette(paletteWithWindow(QColor(240, 240, 240)));
}

void TestTagsList::corpus_rowsMatchTheDirectory()
{
    const QStringList files = corpus();
    QVERIFY(files.size() >= 20);
    for (const QString& path : files) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        ProfilePtr profile = open(QFile::encodeName(path).constData());
        QVERIFY2(profile, qPrintable(path));

        TagsListValueModel model(profile.get());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const quint32 count = bigEndian32(data, 128);
        const bool virtualRow = rowOf(model, MatrixShaperTag) >= 0;
        QCOMPARE(model.rowCount(), int(count) + (virtualRow ? 1 : 0));
        QCOMPARE(model.columnCount(), 2);

        // ICC.1:2010 7.3: the tag table follows the header, 12 bytes per entry.
        for (quint32 i = 0; i < count; ++i) {
            const qsizetype entry = 132 + qsizetype(i) * 12;
            const quint32 signature = bigEndian32(data, entry);
            const quint32 offset = bigEndian32(data, entry + 4);
            const quint32 size = bigEndian32(data, entry + 8);
            const QString where = path + QStringLiteral(" entry %1").arg(i);
            QCOMPARE(model.signatureAt(int(i)), signature);
            QCOMPARE(model.index(int(i), 0).data().toString(), signatureText(signature));
            QVERIFY2(model.index(int(i), 1).data().toString().startsWith(
                         tagNameForClass(signature, krmGetProfileClass(profile.get()))),
                     qPrintable(where));

            const QString tip = model.index(int(i), 0).data(Qt::ToolTipRole).toString();
            QVERIFY2(tip.contains(QStringLiteral("<i>Type:</i> '%1'").arg(signatureText(bigEndian32(data, offset)))),
                     qPrintable(where + " " + tip));
            QVERIFY2(tip.contains(QStringLiteral("<i>Offset:</i> %1 (0x%2)").arg(offset).arg(offset, 0, 16)),
                     qPrintable(where));
            QVERIFY2(tip.contains(QStringLiteral("<i>Size:</i> %1 (0x%2)").arg(size).arg(size, 0, 16)),
                     qPrintable(where));
            QCOMPARE(model.index(int(i), 0).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
                     Qt::AlignRight | Qt::AlignVCenter);
            QCOMPARE(model.index(int(i), 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
                     Qt::AlignLeft | Qt::AlignVCenter);
        }

        // Selecting every row in turn keeps the model consistent (the tester watches dataChanged).
        for (int row = 0; row < model.rowCount(); ++row)
            model.setCurrentRow(row);
    }
}

void TestTagsList::matrixShaperRow_andItsGroup()
{
    ProfilePtr profile = open(kSRGB);
    QVERIFY(profile);
    TagsListValueModel model(profile.get());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    const int last = model.rowCount() - 1;
    QCOMPARE(model.rowCount(), krmGetTagCount(profile.get()) + 1);
    QCOMPARE(model.signatureAt(last), MatrixShaperTag);
    QCOMPARE(model.index(last, 0).data().toString(), QString());
    QCOMPARE(model.index(last, 1).data().toString(), QStringLiteral("Matrix shaper"));
    QCOMPARE(model.index(last, 1).data(Qt::ToolTipRole).toString(), QStringLiteral("Matrix-shaper related tags"));
    QCOMPARE(model.groups().size(), 10);

    QSet<int> expected = {last};
    for (krmTagSignature sig : {krmSig("rXYZ"), krmSig("gXYZ"), krmSig("bXYZ"), krmSig("rTRC"), krmSig("gTRC"),
                                 krmSig("bTRC")}) {
        const int row = rowOf(model, sig);
        QVERIFY2(row >= 0, qPrintable(signatureText(sig)));
        expected.insert(row);
    }

    QCOMPARE(model.activeGroup(), -1);
    QVERIFY(rowsWithBackground(model, QColor("#d0f7ff")).isEmpty());
    model.setCurrentRow(last);
    QCOMPARE(model.activeGroup(), 0);
    QCOMPARE(rowsWithBackground(model, QColor("#d0f7ff")), expected);
    // Both columns of a highlighted row share the group colour.
    QCOMPARE(model.index(last, 0).data(Qt::BackgroundRole).value<QBrush>().color(), QColor("#d0f7ff"));
    // Outside the group, column 0 has the window brush and column 1 nothing of its own.
    const int desc = rowOf(model, krmSig("desc"));
    QVERIFY(desc >= 0);
    QCOMPARE(model.index(desc, 0).data(Qt::BackgroundRole).value<QBrush>(), QApplication::palette().brush(QPalette::Window));
    QVERIFY(!model.index(desc, 1).data(Qt::BackgroundRole).isValid());
}

void TestTagsList::matrixShaperRow_onlyForRgbAndGray()
{
    // A gray matrix-shaper gets the row and a group of 'kTRC' alone; a LUT-only CMYK profile does not.
    ProfilePtr gray = open("/usr/share/color/icc/ghostscript/sgray.icc");
    QVERIFY(gray);
    if (krmIsMatrixShaper(gray.get())) {
        TagsListValueModel model(gray.get());
        const int last = model.rowCount() - 1;
        QCOMPARE(model.signatureAt(last), MatrixShaperTag);
        model.setCurrentRow(last);
        QSet<int> expected = {last};
        if (rowOf(model, krmSig("kTRC")) >= 0)
            expected.insert(rowOf(model, krmSig("kTRC")));
        QCOMPARE(rowsWithBackground(model, QColor("#d0f7ff")), expected);
    }

    ProfilePtr cmyk = open("/usr/share/color/icc/ghostscript/default_cmyk.icc");
    QVERIFY(cmyk);
    TagsListValueModel model(cmyk.get());
    QCOMPARE(model.rowCount(), krmGetTagCount(cmyk.get()));
    QCOMPARE(rowOf(model, MatrixShaperTag), -1);
    QCOMPARE(model.groups().size(), 9);
}

void TestTagsList::highlighting_followsTheSelection()
{
    ProfilePtr profile = open(kSRGB);
    QVERIFY(profile);
    TagsListValueModel model(profile.get());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const int desc = rowOf(model, krmSig("desc"));
    const int cprt = rowOf(model, krmSig("cprt"));
    const int wtpt = rowOf(model, krmSig("wtpt"));
    QVERIFY(desc >= 0 && cprt >= 0 && wtpt >= 0);

    const QSet<int> descriptions =
        rowsOf(model, {krmSig("cprt"), krmSig("dmnd"), krmSig("dmdd"), krmSig("desc"), krmSig("dscm")});
    QVERIFY(descriptions.contains(desc) && descriptions.contains(cprt));

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setCurrentRow(desc);
    QCOMPARE(model.currentRow(), desc);
    QCOMPARE(rowsWithBackground(model, QColor("#FFFFBB")), descriptions);
    QSet<int> reported;
    for (const QList<QVariant>& args : changed) {
        const auto topLeft = args[0].value<QModelIndex>();
        const auto bottomRight = args[1].value<QModelIndex>();
        QCOMPARE(topLeft.column(), 0);
        QCOMPARE(bottomRight.column(), 1);
        for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
            reported.insert(row);
    }
    QCOMPARE(reported, descriptions);

    // 'wtpt' is in no group: the descriptions lose their highlighting, and their rows are reported.
    changed.clear();
    model.setCurrentRow(wtpt);
    QCOMPARE(model.activeGroup(), -1);
    QVERIFY(rowsWithBackground(model, QColor("#FFFFBB")).isEmpty());
    reported.clear();
    for (const QList<QVariant>& args : changed)
        reported.insert(args[0].value<QModelIndex>().row());
    QCOMPARE(reported, descriptions);
}

void TestTagsList::highlighting_inTheDarkPalette()
{
    QApplication::setPalette(paletteWithWindow(QColor(40, 40, 40)));
    QVERIFY(is_dark_palette());
    ProfilePtr profile = open("/usr/share/color/icc/ghostscript/default_cmyk.icc");
    QVERIFY(profile);
    TagsListValueModel model(profile.get());
    const int a2b0 = rowOf(model, krmSig("A2B0"));
    const int b2a0 = rowOf(model, krmSig("B2A0"));
    QVERIFY(a2b0 >= 0 && b2a0 >= 0);

    model.setCurrentRow(b2a0);
    QCOMPARE(rowsWithForeground(model), (QSet<int>{a2b0, b2a0}));
    QCOMPARE(model.index(a2b0, 1).data(Qt::ForegroundRole).value<QBrush>().color(), QColor("#A8E6A3"));
    // No light background in a dark palette: column 1 stays without one.
    QVERIFY(!model.index(a2b0, 1).data(Qt::BackgroundRole).isValid());

    // 'A2B1' and 'B2A1' form a group of their own.
    const int a2b1 = rowOf(model, krmSig("A2B1"));
    if (a2b1 >= 0) {
        model.setCurrentRow(a2b1);
        QVERIFY(!rowsWithForeground(model).contains(a2b0));
        QVERIFY(rowsWithForeground(model).contains(a2b1));
    }
}

void TestTagsList::linkedTag_showsTheMarker()
{
    const QByteArray bytes = profileWithLinkedTrc();
    QVERIFY(!bytes.isEmpty());
    ProfilePtr profile(krmOpenProfileFromMem(bytes.constData(), krmUInt32Number(bytes.size())));
    QVERIFY(profile);
    TagsListValueModel model(profile.get());
    const int blue = rowOf(model, krmSig("bTRC"));
    const int red = rowOf(model, krmSig("rTRC"));
    QVERIFY(blue >= 0 && red >= 0);
    QCOMPARE(model.index(blue, 1).data().toString(),
             QStringLiteral("Blue TRC") + QStringLiteral(" \u2192\U0001F517") + QStringLiteral("Red TRC"));
    QCOMPARE(model.index(red, 1).data().toString(), QStringLiteral("Red TRC"));
    QCOMPARE(model.entries()[blue].linkedTo, krmSig("rTRC"));

    // The view draws the marker itself: ink where the marker stands, between the arrow and
    // the linked name, whatever the fonts have.
    TagsTableView view;
    view.setProfile(profile.get());
    view.resize(400, 300);
    QStyleOptionViewItem option;
    option.initFrom(&view);
    option.widget = &view;
    option.rect = QRect(0, 0, 300, view.fontMetrics().height() + 6);
    option.font = view.font();
    option.palette.setColor(QPalette::Base, Qt::white);
    option.palette.setColor(QPalette::Text, Qt::black);
    const auto paintRow = [&](int row) {
        QImage image(option.rect.size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        view.itemDelegateForColumn(1)->paint(&painter, option, model.index(row, 1));
        return image;
    };
    const auto inkIn = [](const QImage& image, int left, int right) {
        int ink = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = std::max(0, left); x < std::min(image.width(), right); ++x)
                ink += qGray(image.pixel(x, y)) < 160;
        }
        return ink;
    };
    const QImage linked = paintRow(blue);
    const int arrowEnd = view.fontMetrics().horizontalAdvance(QStringLiteral("Blue TRC \u2192"));
    const int side = view.fontMetrics().ascent();
    QVERIFY2(inkIn(linked, arrowEnd + 3, arrowEnd + side) > side, "no marker drawn");
    QVERIFY(inkIn(linked, arrowEnd + side + 4, 300) > 0);  // the linked name follows
    // A row without a link is painted as before: text only.
    QVERIFY(inkIn(paintRow(red), 0, 300) > 0);
}

void TestTagsList::view_emitsTheSelectedSignature()
{
    ProfilePtr profile = open(kSRGB);
    QVERIFY(profile);
    TagsTableView view;
    view.setProfile(profile.get());
    QVERIFY(view.horizontalHeader()->isHidden());
    QVERIFY(view.verticalHeader()->isHidden());
    QCOMPARE(view.horizontalHeader()->sectionResizeMode(1), QHeaderView::Stretch);
    QVERIFY(!view.horizontalHeader()->stretchLastSection());

    QSignalSpy selected(&view, &TagsTableView::tagSelected);
    QVERIFY(!view.currentIndex().isValid());
    const int desc = rowOf(*view.tagsModel(), krmSig("desc"));
    view.setCurrentIndex(view.model()->index(desc, 1));
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.takeFirst().at(0).value<krmTagSignature>(), krmSig("desc"));
    QCOMPARE(view.tagsModel()->currentRow(), desc);

    const int last = view.model()->rowCount() - 1;
    view.setCurrentIndex(view.model()->index(last, 0));
    QCOMPARE(selected.takeFirst().at(0).value<krmTagSignature>(), MatrixShaperTag);

    // The palette changed: the current tag is announced again, once for a burst of changes, after
    // the palette has reached every widget.
    view.refreshColors();
    view.refreshColors();
    QCOMPARE(selected.size(), 0);
    QTRY_COMPARE(selected.size(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.takeFirst().at(0).value<krmTagSignature>(), MatrixShaperTag);
}

void TestTagsList::view_replacesItsModel()
{
    ProfilePtr first = open(kSRGB);
    ProfilePtr second = open("/usr/share/color/icc/ghostscript/default_cmyk.icc");
    QVERIFY(first && second);
    TagsTableView view;
    QSignalSpy selected(&view, &TagsTableView::tagSelected);

    view.setProfile(first.get());
    QPointer<QAbstractItemModel> oldModel = view.model();
    view.setCurrentIndex(view.model()->index(0, 0));
    QCOMPARE(selected.size(), 1);

    view.setProfile(second.get());
    QVERIFY(oldModel.isNull());
    QCOMPARE(view.model()->rowCount(), krmGetTagCount(second.get()));
    QVERIFY(!view.currentIndex().isValid());
    QCOMPARE(view.tagsModel()->activeGroup(), -1);
    // Nothing current: a palette change announces nothing.
    view.refreshColors();
    QCoreApplication::processEvents();
    QCOMPARE(selected.size(), 1);

    // The new selection model is the one that reports.
    view.setCurrentIndex(view.model()->index(1, 0));
    QCOMPARE(selected.size(), 2);
    QCOMPARE(selected.last().at(0).value<krmTagSignature>(), krmGetTagSignature(second.get(), 1));

    view.setProfile(nullptr);
    QVERIFY(view.tagsModel() == nullptr);
    view.refreshColors();
    QCoreApplication::processEvents();
    QCOMPARE(selected.size(), 2);
}

QTEST_MAIN(TestTagsList)
#include "tst_tagslist.moc"
