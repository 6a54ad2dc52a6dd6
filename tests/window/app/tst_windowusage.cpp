// What a user meets in the main window beyond opening files: damaged tags shown in place, the
// quit and copy commands, the window's sizes and docks, the visible texts and the drawn icons.

#include "tests/window/app/AppTestSupport.h"

#include "window/widgets/ErrorDialog.h"
#include "window/app/Prismet.h"
#include "window/app/PrismetApp.h"
#include "window/widgets/EngineMessageCapture.h"
#include "window/overview/HeaderTableView.h"
#include "window/widgets/HexViewer.h"
#include "window/overview/TagsListValueModel.h"
#include "window/overview/TagsTableView.h"
#include "window/viewers/GenericTagComponent.h"

#include <QAction>
#include <QClipboard>
#include <QDockWidget>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QSettings>
#include <QTabWidget>
#include <QTest>

#include <memory>

namespace {

const QString kColord = QStringLiteral("/usr/share/color/icc/colord/");

void selectTag(Prismet& window, krmTagSignature sig)
{
    auto* table = window.findChild<TagsTableView*>("tagsListTabView");
    TagsListValueModel* model = table->tagsModel();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->signatureAt(row) == sig) {
            table->setCurrentIndex(model->index(row, 0));
            return;
        }
    }
    QFAIL("tag not in the table");
}

// Collects what reaches the application's display; a capture must keep messages from it.
QStringList g_displayed;
void record_display(const QString& message)
{
    g_displayed << message;
}

}  // namespace

class TestWindowUsage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void corruptTag_messagesOnTheRawPageWithoutDialogs();
    void messageCapture_nestsAndGivesBackTheDisplay();
    void exit_quitKeyClosesTheWindow();
    void copy_followsTheFocusedWidget();
    void resizeRoundTrip_keepsUsableDocks();
    void firstStart_showsTheHeaderWhole();
    void newProfile_headerScrollsToTop();
    void menuTexts_areCorrected();
    void dialogIcons_areDrawn();

private:
    std::unique_ptr<apptest::ModalWatcher> watcher_;
};

void TestWindowUsage::initTestCase()
{
    apptest::isolateSettings();
}

void TestWindowUsage::init()
{
    appSettings()->clear();
    watcher_ = std::make_unique<apptest::ModalWatcher>();
}

void TestWindowUsage::corruptTag_messagesOnTheRawPageWithoutDialogs()
{
    // x11-colors.icc has a 'B2A0' whose curves overlap its matrix; reading it raises two engine
    // messages. Clicking it twice must raise no dialog and show them once on the raw page.
    Prismet window;
    window.open_filename(kColord + "x11-colors.icc");
    QVERIFY(window.profile());
    auto* tabs = window.findChild<QTabWidget*>("tagTabbedViewer");
    for (int click = 0; click < 2; ++click) {
        selectTag(window, krmSig("desc"));
        selectTag(window, krmSig("B2A0"));
        QCOMPARE(tabs->count(), 1);
        QCOMPARE(tabs->tabText(0), QStringLiteral("Raw"));
        auto* raw = qobject_cast<GenericTagComponent*>(tabs->widget(0));
        QVERIFY(raw && raw->hexViewer());
        const QList<QLabel*> labels = raw->findChildren<QLabel*>("engineMessages");
        QCOMPARE(labels.size(), 1);
        const QString text = labels.first()->text();
        QVERIFY2(text.contains("Corrupted tag 'B2A0'"), qPrintable(text));
        QCOMPARE(text.count("Corrupted tag 'B2A0'"), 1);
        // Above the bytes.
        QVERIFY(labels.first()->geometry().top() <= raw->hexViewer()->geometry().top());
    }
    QTest::qWait(100);
    QVERIFY2(watcher_->seen.isEmpty(), qPrintable(watcher_->seen.join(", ")));

    // A readable tag's page carries no message label.
    selectTag(window, krmSig("desc"));
    QVERIFY(tabs->widget(0)->findChildren<QLabel*>("engineMessages").isEmpty());
}

void TestWindowUsage::messageCapture_nestsAndGivesBackTheDisplay()
{
    g_displayed.clear();
    install_engine_message_display(record_display);
    krmContext context = nullptr;  // the global context, as the window's profiles use
    {
        EngineMessageCapture outer;
        krmSignalError(context, krmErrCorruptionDetected, "first");
        {
            EngineMessageCapture inner;
            krmSignalError(context, krmErrCorruptionDetected, "inner");
            krmSignalError(context, krmErrCorruptionDetected, "inner");
            QCOMPARE(inner.messages(), QStringList{"inner"});
        }
        krmSignalError(context, krmErrCorruptionDetected, "second");
        QCOMPARE(outer.messages(), (QStringList{"first", "second"}));
    }
    QVERIFY(g_displayed.isEmpty());
    krmSignalError(context, krmErrCorruptionDetected, "shown");
    QCOMPARE(g_displayed, QStringList{"shown"});
    install_engine_message_display(nullptr);
}

void TestWindowUsage::exit_quitKeyClosesTheWindow()
{
    Prismet window;
    auto* exit = window.findChild<QAction*>("action_Exit");
    QCOMPARE(exit->shortcut(), QKeySequence(QKeySequence::Quit));
    QCOMPARE(exit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Without a window manager nothing activates the window: say it is the active one, as
    // shortcuts only reach the active window.
    QApplication::setActiveWindow(&window);
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    QTRY_VERIFY(!window.isVisible());
}

void TestWindowUsage::copy_followsTheFocusedWidget()
{
    Prismet window;
    window.open_filename(kColord + "sRGB.icc");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* copy = window.findChild<QAction*>("action_Copy");
    auto* edit = window.findChild<QMenu*>("menu_Edit");

    // Nothing that can copy has the focus.
    window.findChild<QTabWidget*>("tagTabbedViewer")->setFocus();
    emit edit->aboutToShow();
    QVERIFY(!copy->isEnabled());

    // A table with a selection has it: Copy is offered, and copies the selected row.
    auto* table = window.findChild<TagsTableView*>("tagsListTabView");
    table->setFocus();
    selectTag(window, krmSig("cprt"));
    emit edit->aboutToShow();
    QVERIFY(copy->isEnabled());
    QGuiApplication::clipboard()->clear();
    copy->trigger();
    QVERIFY2(QGuiApplication::clipboard()->text().contains("cprt"), qPrintable(QGuiApplication::clipboard()->text()));
}

// The first start used to open at 975 x 661 with the ProfileID row and the Check button
// scrolled out of the header dock. Now every header row shows, and a viewer's minimum size
// does not squeeze the docks.
void TestWindowUsage::firstStart_showsTheHeaderWhole()
{
    Prismet window;  // no stored geometry: settings cleared by init()
    window.open_filename(kColord + "sRGB.icc");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* header = window.findChild<HeaderTableView*>("headerTabView");
    QTRY_COMPARE(header->verticalScrollBar()->maximum(), 0);
    auto* button = window.findChild<QWidget*>("checkProfileButton");
    QVERIFY(button && button->isVisible());
    QVERIFY(header->viewport()->rect().contains(button->geometry()));
    auto* tags = window.findChild<QDockWidget*>("tagsList");
    const int before = tags->width();
    window.onTagSelected(krmSig("A2B0"));
    window.onTagSelected(MatrixShaperTag);
    QTest::qWait(50);
    QVERIFY2(tags->width() >= std::min(before, 300), qPrintable(QString::number(tags->width())));

    // Tab leaves the tags table for the next control instead of walking its cells.
    auto* table = window.findChild<TagsTableView*>("tagsListTabView");
    window.activateWindow();
    table->setFocus();
    QTRY_VERIFY(table->hasFocus());
    QTest::keyClick(table, Qt::Key_Tab);
    QVERIFY(!table->hasFocus());
}

void TestWindowUsage::resizeRoundTrip_keepsUsableDocks()
{
    Prismet window;
    window.open_filename(kColord + "sRGB.icc");
    window.resize(1000, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* header = window.findChild<QDockWidget*>("header");
    auto* tags = window.findChild<QDockWidget*>("tagsList");
    // Docks squeezed as far as they go, as a small window leaves them.
    window.resizeDocks({header, tags}, {1, 1}, Qt::Horizontal);
    QTest::qWait(50);
    QVERIFY(header->width() < 280);

    window.resize(200, 150);
    QTest::qWait(100);
    QVERIFY(window.width() >= window.minimumWidth() && window.minimumWidth() >= 600);
    QVERIFY(window.height() >= window.minimumHeight() && window.minimumHeight() >= 400);
    for (QDockWidget* dock : {header, tags})
        QVERIFY2(dock->width() >= dock->minimumWidth() && dock->minimumWidth() >= 200, qPrintable(dock->objectName()));

    window.resize(1400, 980);
    QTRY_COMPARE(window.width(), 1400);
    QTest::qWait(100);
    for (QDockWidget* dock : {header, tags})
        QVERIFY2(dock->width() >= 280, qPrintable(QStringLiteral("%1 %2").arg(dock->objectName()).arg(dock->width())));
    // The "Check profile" button keeps room for its text.
    auto* button = window.findChild<QWidget*>("checkProfileButton");
    QVERIFY(button);
    QVERIFY(button->width() >= button->sizeHint().width());
}

void TestWindowUsage::newProfile_headerScrollsToTop()
{
    Prismet window;
    window.resize(900, 620);
    window.open_filename(kColord + "sRGB.icc");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* view = window.findChild<HeaderTableView*>("headerTabView");
    view->setFixedHeight(80);  // too short for the header: it scrolls
    QTest::qWait(50);
    QScrollBar* bar = view->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    bar->setValue(bar->maximum());
    window.open_filename(kColord + "AdobeRGB1998.icc");
    QCOMPARE(bar->value(), 0);
}

void TestWindowUsage::menuTexts_areCorrected()
{
    Prismet window;
    const auto action = [&window](const char* name) { return window.findChild<QAction*>(name); };
    QCOMPARE(action("action_Open")->toolTip(), QStringLiteral("Open an ICC profile to inspect"));
    QCOMPARE(action("actionCheck_conformance")->text(), QStringLiteral("Check and validate ICC profile"));
    for (QAction* each : window.findChildren<QAction*>()) {
        QVERIFY2(!each->text().contains("  ") && !each->toolTip().contains("  "), qPrintable(each->objectName()));
        QVERIFY(!each->toolTip().contains("instect"));
    }
}

void TestWindowUsage::dialogIcons_areDrawn()
{
    // The header icons are pictures, not characters a font may lack.
    for (bool error : {true, false}) {
        ErrorDialog dialog("Title", "Message", QString(), "#C0392B", false, error);
        auto* icon = dialog.findChild<QLabel*>("iconLabel");
        QVERIFY(icon);
        QVERIFY(icon->text().isEmpty());
        const QImage picture = icon->pixmap().toImage();
        QVERIFY(!picture.isNull());
        int white = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x)
                white += qAlpha(picture.pixel(x, y)) > 128 && qGray(picture.pixel(x, y)) > 200;
        }
        QVERIFY2(white > picture.width(), "the icon is drawn in white on the accent");
    }
}

QTEST_MAIN(TestWindowUsage)

#include "tst_windowusage.moc"
