// HoverInfoPopup: placement against the screen's available area, the swatch and caption rules,
// hiding on empty content and with its anchor.

#include "window/widgets/HoverInfoPopup.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

namespace {

QFrame* swatchOf(HoverInfoPopup& popup)
{
    for (QFrame* frame : popup.findChildren<QFrame*>())
        if (!qobject_cast<QLabel*>(frame))
            return frame;
    return nullptr;
}

// The word-wrapped label is the caption; the rich-text one the text; the bold one the title.
QLabel* captionOf(HoverInfoPopup& popup)
{
    for (QLabel* label : popup.findChildren<QLabel*>())
        if (label->wordWrap())
            return label;
    return nullptr;
}

QLabel* titleOf(HoverInfoPopup& popup)
{
    for (QLabel* label : popup.findChildren<QLabel*>())
        if (label->font().bold())
            return label;
    return nullptr;
}

QRect available()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

}  // namespace

class TestHoverInfoPopup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void opensBelowRightOfThePointer();
    void opensUpAndLeftNearTheBottomRightCorner();
    void staysOnScreenEverywhere();
    void emptyContentHides();
    void swatchAndCaptionFollowTheColour();
    void hidesWithItsAnchor();

private:
    QWidget anchor_;
};

void TestHoverInfoPopup::opensBelowRightOfThePointer()
{
    HoverInfoPopup popup(&anchor_);
    const QPoint pointer = available().topLeft() + QPoint(100, 80);
    popup.show_info("Title", "Some <b>text</b>", pointer);
    QVERIFY(popup.isVisible());
    QCOMPARE(popup.pos(), pointer + QPoint(14, 14));
}

void TestHoverInfoPopup::opensUpAndLeftNearTheBottomRightCorner()
{
    HoverInfoPopup popup(&anchor_);
    const QRect area = available();
    const QPoint pointer = area.bottomRight() - QPoint(5, 5);
    popup.show_info("Title", "A line of text<br>and another one", pointer, QColor(200, 30, 40), "Red");
    QVERIFY(popup.isVisible());
    const QRect placed(popup.pos(), popup.size());
    QCOMPARE(placed.topLeft(), pointer - QPoint(popup.width() + 14, popup.height() + 14));
    QVERIFY(area.contains(placed));
    QVERIFY(!placed.contains(pointer));
}

void TestHoverInfoPopup::staysOnScreenEverywhere()
{
    HoverInfoPopup popup(&anchor_);
    const QRect area = available();
    const QString wide = QString(120, QLatin1Char('W'));
    const QList<QPoint> pointers = {area.topLeft(), area.topRight(), area.bottomLeft(), area.bottomRight(),
                                    area.center(), QPoint(area.center().x(), area.bottom()),
                                    QPoint(area.right(), area.center().y())};
    for (const QString& text : {QStringLiteral("short"), wide}) {
        for (const QPoint& pointer : pointers) {
            popup.show_info("Title", text, pointer);
            const QRect placed(popup.pos(), popup.size());
            if (placed.width() <= area.width())
                QVERIFY2(area.contains(placed), qPrintable(QStringLiteral("pointer %1,%2 text %3")
                                                               .arg(pointer.x())
                                                               .arg(pointer.y())
                                                               .arg(text.size())));
            else  // wider than the screen: its left edge stays on it
                QCOMPARE(placed.left(), area.left());
        }
    }
}

void TestHoverInfoPopup::emptyContentHides()
{
    HoverInfoPopup popup(&anchor_);
    popup.show_info("", "", available().center());
    QVERIFY(!popup.isVisible());

    popup.show_info("Title", "text", available().center());
    QVERIFY(popup.isVisible());
    popup.show_info("", "", available().center(), Qt::red, "caption");
    QVERIFY(!popup.isVisible());

    // A text without title shows, with the title label hidden.
    popup.show_info("", "only text", available().center());
    QVERIFY(popup.isVisible());
    QVERIFY(titleOf(popup));
    QVERIFY(titleOf(popup)->isHidden());
}

void TestHoverInfoPopup::swatchAndCaptionFollowTheColour()
{
    HoverInfoPopup popup(&anchor_);
    QFrame* swatch = swatchOf(popup);
    QLabel* caption = captionOf(popup);
    QVERIFY(swatch);
    QVERIFY(caption);
    QCOMPARE(swatch->size(), QSize(34, 34));
    const QPoint where = available().center();

    popup.show_info("Patch", "L* 50", where, QColor(0x20, 0x40, 0xA0), "C 90 M 60");
    QVERIFY(!swatch->isHidden());
    QVERIFY(!caption->isHidden());
    QCOMPARE(caption->text(), QStringLiteral("C 90 M 60"));
    QCOMPARE(swatch->toolTip(), QStringLiteral("C 90 M 60"));
    QCOMPARE(swatch->styleSheet(), QStringLiteral("QFrame { background: #2040a0; border: 1px solid #999; }"));
    QCOMPARE(popup.shownColor(), QColor(0x20, 0x40, 0xA0));
    const int with_swatch = popup.width();

    // A colour without caption: swatch only.
    popup.show_info("Patch", "L* 50", where, Qt::green, QString());
    QVERIFY(!swatch->isHidden());
    QVERIFY(caption->isHidden());

    // No colour: neither, even with a caption, and the popup shrinks.
    popup.show_info("Patch", "L* 50", where, QColor(), "ignored");
    QVERIFY(swatch->isHidden());
    QVERIFY(caption->isHidden());
    QVERIFY(popup.width() < with_swatch);
    QCOMPARE(popup.shownTitle(), QStringLiteral("Patch"));
    QCOMPARE(popup.shownText(), QStringLiteral("L* 50"));
}

void TestHoverInfoPopup::hidesWithItsAnchor()
{
    QWidget window;
    window.resize(200, 200);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (const QEvent::Type type : {QEvent::Hide, QEvent::Close, QEvent::WindowDeactivate}) {
        HoverInfoPopup popup(&window);
        popup.show_info("Title", "text", window.mapToGlobal(QPoint(10, 10)));
        QVERIFY(popup.isVisible());
        QEvent event(type);
        QApplication::sendEvent(&window, &event);
        QVERIFY2(!popup.isVisible(), QByteArray::number(int(type)).constData());
    }
    HoverInfoPopup popup(&window);
    popup.show_info("Title", "text", window.mapToGlobal(QPoint(10, 10)));
    window.hide();
    QVERIFY(!popup.isVisible());
}

QTEST_MAIN(TestHoverInfoPopup)
#include "tst_hoverinfopopup.moc"
