// HexViewer: 16 bytes a line with file offsets, hit testing, mouse selection in both directions,
// copy text.

#include "window/widgets/HexViewer.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTest>

namespace {

// Centre of byte `index` in the hex area and in the character area of a viewer at scroll 0.
QPoint hexPoint(const HexViewer& v, int index)
{
    const int c = v.charWidth();
    const int column = index % v.bytesPerLine();
    const int line = index / v.bytesPerLine();
    return {v.offsetAreaWidth() + c * (3 * column + 1) + c, line * v.lineHeight() + v.lineHeight() / 2};
}

QPoint charPoint(const HexViewer& v, int index)
{
    const int c = v.charWidth();
    const int column = index % v.bytesPerLine();
    const int line = index / v.bytesPerLine();
    return {v.hexAreaWidth() + c * (column + 1) + c / 2, line * v.lineHeight() + v.lineHeight() / 2};
}

void drag(HexViewer& v, QPoint from, QPoint to)
{
    QTest::mousePress(v.viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, to, v.viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(v.viewport(), &move);
    QTest::mouseRelease(v.viewport(), Qt::LeftButton, Qt::NoModifier, to);
}

QByteArray sample(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + 3);
    return bytes;
}

} // namespace

class TestHexViewer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void bytesPerLineFollowsWidth();
    void scrollRange();
    void hitTest();
    void dragSelectsTheSameBytesBothWays();
    void copyAndSelectAll();
    void setDataClearsSelection();
    void paintsWithoutData();
    void screenshot();
};

void TestHexViewer::bytesPerLineFollowsWidth()
{
    // Sixteen bytes a line at every width, so offsets stay round; a narrow view scrolls sideways
    // instead of reflowing.
    HexViewer viewer;
    viewer.show();
    const int c = viewer.charWidth();
    QVERIFY(c > 0);
    viewer.setData(sample(40), 0x1F0);
    for (const int width : {60, 300, 640, 1000}) {
        viewer.resize(width + viewer.width() - viewer.viewport()->width(), 200);
        QCoreApplication::processEvents();
        QCOMPARE(viewer.bytesPerLine(), 16);
        // The last pair of a line ends before the character column starts.
        QVERIFY(viewer.offsetAreaWidth() + c * (3 * 15 + 1) + 3 * c <= viewer.hexAreaWidth() + c);
        const int content = viewer.hexAreaWidth() + c * 18;
        QCOMPARE(viewer.horizontalScrollBar()->maximum(), std::max(0, content - viewer.viewport()->width()));
    }
    // Line k starts at the first offset plus 16·k, in eight hex digits.
    QCOMPARE(viewer.offsetText(0), QStringLiteral("000001F0"));
    QCOMPARE(viewer.offsetText(2), QStringLiteral("00000210"));

    // Scrolled sideways, a click still lands on the byte drawn under it.
    viewer.resize(200 + viewer.width() - viewer.viewport()->width(), 200);
    QCoreApplication::processEvents();
    viewer.horizontalScrollBar()->setValue(viewer.horizontalScrollBar()->maximum());
    const int shift = viewer.horizontalScrollBar()->value();
    QVERIFY(shift > 0);
    const QPoint onByte = charPoint(viewer, 17) - QPoint(shift, 0);
    QCOMPARE(viewer.byteAt(onByte), 17);
}

void TestHexViewer::scrollRange()
{
    HexViewer viewer;
    viewer.resize(800, 10 * viewer.lineHeight() + viewer.height() - viewer.viewport()->height());
    viewer.show();
    QCoreApplication::processEvents();
    const int perLine = viewer.bytesPerLine();
    const int visible = viewer.viewport()->height() / viewer.lineHeight();

    viewer.setData(QByteArray());
    QCOMPARE(viewer.verticalScrollBar()->maximum(), 0);

    viewer.setData(sample(perLine * 100 + 1));  // 101 lines
    QCOMPARE(viewer.verticalScrollBar()->maximum(), 101 - visible);
    QCOMPARE(viewer.verticalScrollBar()->pageStep(), visible);

    viewer.setData(sample(perLine));  // one line fits without scrolling
    QCOMPARE(viewer.verticalScrollBar()->maximum(), 0);
}

void TestHexViewer::hitTest()
{
    HexViewer viewer;
    viewer.resize(800, 300);
    viewer.show();
    QCoreApplication::processEvents();
    const int c = viewer.charWidth();
    QCOMPARE(viewer.byteAt(QPoint(viewer.offsetAreaWidth() + c + 1, 1)), -1);  // no data yet

    viewer.setData(sample(viewer.bytesPerLine() * 3 + 2));
    const int perLine = viewer.bytesPerLine();
    QCOMPARE(viewer.byteAt(hexPoint(viewer, 0)), 0);
    QCOMPARE(viewer.byteAt(hexPoint(viewer, perLine + 3)), perLine + 3);
    QCOMPARE(viewer.byteAt(charPoint(viewer, perLine + 3)), perLine + 3);
    QCOMPARE(viewer.byteAt(QPoint(c - 1, 1)), -1);                            // offset column
    QCOMPARE(viewer.byteAt(QPoint(viewer.offsetAreaWidth() + c - 1, 1)), -1);  // before the first pair
    QCOMPARE(viewer.byteAt(QPoint(viewer.hexAreaWidth() + c / 2, 1)), -1);     // between the areas
    QCOMPARE(viewer.byteAt(QPoint(viewer.viewport()->width() + 50, 1)), -1);  // past the last column
    // Below the data the index is cut to the last byte; above the view it stays on the first line.
    const int firstPair = viewer.offsetAreaWidth() + c + 1;
    QCOMPARE(viewer.byteAt(QPoint(firstPair, 40 * viewer.lineHeight())), int(viewer.data().size()) - 1);
    QCOMPARE(viewer.byteAt(QPoint(firstPair, -3 * viewer.lineHeight())), 0);
}

void TestHexViewer::dragSelectsTheSameBytesBothWays()
{
    HexViewer viewer;
    viewer.resize(800, 300);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    const QByteArray bytes = sample(3 * viewer.bytesPerLine());
    viewer.setData(bytes);
    const int last = int(bytes.size()) - 1;

    drag(viewer, hexPoint(viewer, 2), hexPoint(viewer, last));
    const QString forward = viewer.selectedText();
    QCOMPARE(viewer.selectionStart(), 2);
    QCOMPARE(viewer.selectionEnd(), last);

    drag(viewer, charPoint(viewer, last), hexPoint(viewer, 2));
    QCOMPARE(viewer.selectionStart(), last);
    QCOMPARE(viewer.selectionEnd(), 2);
    QCOMPARE(viewer.selectedText(), forward);
    QCOMPARE(forward, QString::fromLatin1(bytes.mid(2).toHex(' ').toUpper()));

    // A click between the areas keeps the old selection and starts no drag.
    QTest::mouseClick(viewer.viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(viewer.hexAreaWidth() + viewer.charWidth() / 2, 5));
    QCOMPARE(viewer.selectionStart(), last);
    QCOMPARE(viewer.selectionEnd(), 2);
}

void TestHexViewer::copyAndSelectAll()
{
    HexViewer viewer;
    viewer.resize(800, 300);
    viewer.show();
    QApplication::clipboard()->setText(QStringLiteral("untouched"));
    viewer.select_all();  // no data: nothing to select
    viewer.copy();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("untouched"));

    viewer.setData(QByteArray::fromHex("0AFF1041"));
    viewer.copy();  // no selection yet
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("untouched"));

    drag(viewer, hexPoint(viewer, 2), hexPoint(viewer, 0));
    viewer.copy();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("0A FF 10"));

    viewer.select_all();
    viewer.copy();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("0A FF 10 41"));

    viewer.setFocus();
    QApplication::clipboard()->clear();
    QTest::keySequence(&viewer, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("0A FF 10 41"));
}

void TestHexViewer::setDataClearsSelection()
{
    HexViewer viewer;
    viewer.setData(sample(64));
    viewer.select_all();
    QCOMPARE(viewer.selectionEnd(), 63);
    viewer.setData(sample(8));
    QCOMPARE(viewer.selectionStart(), -1);
    QCOMPARE(viewer.selectionEnd(), -1);
    QCOMPARE(viewer.selectedText(), QString());
}

void TestHexViewer::paintsWithoutData()
{
    // An empty tag paints the plain base colour; 0x41 and 0x0A paint glyphs in both areas.
    HexViewer viewer;
    viewer.resize(800, 120);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    const QImage empty = viewer.viewport()->grab().toImage();
    const QRgb base = empty.pixel(1, 1);
    for (int y = 0; y < empty.height(); y += 3)
        for (int x = 0; x < empty.width(); x += 3)
            QCOMPARE(empty.pixel(x, y), base);

    viewer.setData(QByteArray::fromHex("410A"));
    const QImage painted = viewer.viewport()->grab().toImage();
    auto inkIn = [&](int x0, int x1) {
        for (int y = 0; y < viewer.lineHeight(); ++y)
            for (int x = x0; x < x1; ++x)
                if (painted.pixel(x, y) != base)
                    return true;
        return false;
    };
    const int c = viewer.charWidth();
    QVERIFY(inkIn(0, viewer.offsetAreaWidth()));                                // "00000000"
    QVERIFY(inkIn(viewer.offsetAreaWidth() + c, viewer.offsetAreaWidth() + 3 * c));  // "41"
    QVERIFY(inkIn(viewer.hexAreaWidth() + c, viewer.hexAreaWidth() + 2 * c));  // "A"
    QVERIFY(inkIn(viewer.hexAreaWidth() + 2 * c, viewer.hexAreaWidth() + 3 * c));  // "." for 0x0A
}

// A picture of a dump with a selection for a person to look at; written only when
// PRISMET_SCREENSHOT_DIR names a folder.
void TestHexViewer::screenshot()
{
    const QString folder = qEnvironmentVariable("PRISMET_SCREENSHOT_DIR");
    if (folder.isEmpty())
        QSKIP("set PRISMET_SCREENSHOT_DIR to write screenshots");
    QDir().mkpath(folder);
    QFile file(QStringLiteral("/usr/share/color/icc/colord/sRGB.icc"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    HexViewer viewer;
    viewer.resize(760, 260);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    viewer.setData(file.readAll().left(600), 0);
    drag(viewer, hexPoint(viewer, 5), charPoint(viewer, 2 * viewer.bytesPerLine() + 3));
    QVERIFY(viewer.grab().save(folder + QStringLiteral("/hexviewer.png")));
}

QTEST_MAIN(TestHexViewer)
#include "tst_hexviewer.moc"
