// The main window: opening and replacing profiles, recent files, drag and drop, engine errors,
// tag selection and the window's persistent layout.

#include "tests/window/app/AppTestSupport.h"

#include "window/app/Prismet.h"
#include "window/app/PrismetApp.h"
#include "window/app/StartupDialog.h"
#include "window/widgets/SystemColorDirectory.h"
#include "window/overview/HeaderTableView.h"
#include "window/overview/HeaderValueModel.h"
#include "window/overview/TagsListValueModel.h"
#include "window/overview/TagsTableView.h"
#include "window/viewers/GenericTagComponent.h"
#include "window/widgets/HexViewer.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QDockWidget>
#include <QLabel>
#include <QTemporaryDir>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QUrl>

#include <memory>

namespace {

const QString kColord = QStringLiteral("/usr/share/color/icc/colord");

QString colord(const QString& name)
{
    return kColord + QLatin1Char('/') + name;
}

QStringList tabTitles(Prismet& window)
{
    auto* tabs = window.findChild<QTabWidget*>("tagTabbedViewer");
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i)
        titles << tabs->tabText(i);
    return titles;
}

// The tab titles the viewer dispatch gives for the tag, asked directly.
QStringList viewerTitles(krmProfile profile, krmTagSignature signature)
{
    QWidget parent;
    QStringList titles;
    for (const ViewerTab& tab : createTagViewers(profile, signature, &parent))
        titles << tab.title;
    return titles;
}

QStringList recentMenuTexts(Prismet& window)
{
    QStringList texts;
    for (QAction* action : window.findChild<QMenu*>("recent_files_menu")->actions())
        texts << action->text();
    return texts;
}

QStringList storedRecentFiles()
{
    return appSettings()->value("state/recent_files").toStringList();
}

// Sends a drag carrying `urls` to the window; true when the window accepted it.
bool dragAccepted(Prismet& window, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent event(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    event.setAccepted(false);
    QCoreApplication::sendEvent(&window, &event);
    return event.isAccepted();
}

}  // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void startsEmpty();
    void openSetsTitleSettingsAndActions();
    void openingReplacesTabsWithData();
    void selectingATagRowShowsItsViewers();
    void failedOpenChangesNothing();
    void truncatedProfile_listsEveryEntryWithItsReason();
    void recentFiles_sameProfileTwiceKeepsOneEntryAtFront();
    void recentFiles_keepsTheTenNewest();
    void recentFiles_hidesMissingFilesAndNumbersConsecutively();
    void recentFiles_menuOpensTheFile();
    void drag_acceptance_data();
    void drag_acceptance();
    void drop_opensTheProfile();
    void previewDock_toggles();
    void openDialogs_startInTheirFolders();
    void close_savesLayoutUnlessDefaultsWereRestored();

private:
    std::unique_ptr<apptest::ModalWatcher> watcher_;
};

void TestMainWindow::initTestCase()
{
    apptest::isolateSettings();
    QVERIFY(QFileInfo::exists(colord("sRGB.icc")));
}

void TestMainWindow::init()
{
    appSettings()->clear();
    watcher_ = std::make_unique<apptest::ModalWatcher>();
}

void TestMainWindow::startsEmpty()
{
    Prismet window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Corvane Prismet"));
    QCOMPARE(window.objectName(), QStringLiteral("prismetClass"));
    QVERIFY(window.profile() == nullptr);
    QCOMPARE(tabTitles(window), QStringList{"Data"});
    QVERIFY(!window.findChild<QAction*>("actionCheck_conformance")->isEnabled());
    QVERIFY(!window.findChild<QMenu*>("recent_files_menu")->isEnabled());
    QVERIFY(window.findChild<QDockWidget*>("imageProof")->isHidden());
}

void TestMainWindow::openSetsTitleSettingsAndActions()
{
    Prismet window;
    const QString path = colord("sRGB.icc");
    window.open_filename(path);

    QVERIFY(window.profile() != nullptr);
    QCOMPARE(window.windowTitle(), QStringLiteral("Corvane Prismet - ") + path);
    QCOMPARE(appSettings()->value("last_open_dir").toString(), path);
    QCOMPARE(storedRecentFiles(), QStringList{path});
    QCOMPARE(recentMenuTexts(window), QStringList{"&1  sRGB.icc"});
    QVERIFY(window.findChild<QAction*>("actionCheck_conformance")->isEnabled());
    QVERIFY(window.findChild<TagsTableView*>("tagsListTabView")->model()->rowCount() > 0);
    QVERIFY2(watcher_->seen.isEmpty(), qPrintable(watcher_->messages.join('\n')));
}

void TestMainWindow::openingReplacesTabsWithData()
{
    Prismet window;
    window.open_filename(colord("sRGB.icc"));
    window.onTagSelected(krmSig("desc"));
    QCOMPARE(tabTitles(window), viewerTitles(window.profile(), krmSig("desc")));
    QVERIFY(tabTitles(window) != QStringList{"Data"});

    window.open_filename(colord("AdobeRGB1998.icc"));
    QCOMPARE(tabTitles(window), QStringList{"Data"});
}

void TestMainWindow::selectingATagRowShowsItsViewers()
{
    Prismet window;
    window.open_filename(colord("sRGB.icc"));
    auto* table = window.findChild<TagsTableView*>("tagsListTabView");

    // Find the 'desc' row the way a user would: by its text.
    int descRow = -1;
    for (int row = 0; row < table->model()->rowCount(); ++row) {
        if (table->model()->index(row, 0).data().toString() == "desc")
            descRow = row;
    }
    QVERIFY(descRow >= 0);
    table->setCurrentIndex(table->model()->index(descRow, 0));

    // The tabs are the ones the dispatch makes for the tag, in its order.
    const QStringList expected = viewerTitles(window.profile(), krmSig("desc"));
    QVERIFY(!expected.isEmpty());
    QCOMPARE(tabTitles(window), expected);
    QCOMPARE(window.findChild<QTabWidget*>("tagTabbedViewer")->currentIndex(), 0);
}

void TestMainWindow::failedOpenChangesNothing()
{
    QTemporaryDir dir;
    const QString broken = dir.filePath("broken.icc");
    {
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("This is a text file, not an ICC profile.\n");
    }

    Prismet window;
    const QString good = colord("sRGB.icc");
    window.open_filename(good);
    window.onTagSelected(krmSig("desc"));
    const krmProfile before = window.profile();
    const QString title = window.windowTitle();
    const QStringList tabs = tabTitles(window);
    const QStringList recent = storedRecentFiles();
    const QString lastDir = appSettings()->value("last_open_dir").toString();
    QCOMPARE(watcher_->seen.size(), 0);

    window.open_filename(broken);

    QCOMPARE(window.profile(), before);
    QCOMPARE(window.windowTitle(), title);
    QCOMPARE(tabTitles(window), tabs);
    QCOMPARE(storedRecentFiles(), recent);
    QCOMPARE(appSettings()->value("last_open_dir").toString(), lastDir);

    // The engine's reason was shown, naming the file that failed, not the one still open.
    QVERIFY(!watcher_->seen.isEmpty());
    QCOMPARE(watcher_->seen.first(), QStringLiteral("ErrorDialog"));
    QVERIFY(!watcher_->messages.first().isEmpty());
    QCOMPARE(watcher_->fileNames.first(), QStringLiteral("broken.icc"));
    QVERIFY(window.openingPath().isEmpty());
}

// default_cmyk.icc (183 KB) cut at 1,000 bytes: its six LUT entries point past the end. The file
// still opens, and nothing of its directory may vanish from view.
void TestMainWindow::truncatedProfile_listsEveryEntryWithItsReason()
{
    QFile whole(QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc"));
    if (!whole.open(QIODevice::ReadOnly))
        QSKIP("libgs-common is needed");
    const QByteArray bytes = whole.readAll();
    QTemporaryDir dir;
    const QString cut = dir.filePath(QStringLiteral("cut.icc"));
    QFile out(cut);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(bytes.left(1000));
    out.close();

    // The directory as the file stores it, read here independently of the model.
    auto be32 = [&](int at) {
        return quint32(quint8(bytes[at])) << 24 | quint32(quint8(bytes[at + 1])) << 16
               | quint32(quint8(bytes[at + 2])) << 8 | quint8(bytes[at + 3]);
    };
    const int count = int(be32(128));
    QStringList reasons;  // what each row must say, from the stored offset and size
    for (int i = 0; i < count; ++i) {
        const quint32 offset = be32(128 + 4 + 12 * i + 4), size = be32(128 + 4 + 12 * i + 8);
        reasons << (offset >= 1000 ? QStringLiteral("points past the end of the file")
                    : offset + size > 1000 ? QStringLiteral("runs past the end of the file")
                                           : QString());
    }
    QCOMPARE(reasons.count(QString()), 3);  // 'desc', 'cprt', 'wtpt' lie inside

    Prismet window;
    window.open_filename(colord("sRGB.icc"));
    window.open_filename(cut);
    QCOMPARE(window.profilePath(), QFileInfo(cut).absoluteFilePath());
    QCOMPARE(storedRecentFiles().value(0), QFileInfo(cut).absoluteFilePath());

    const TagsListValueModel* model = window.findChild<TagsTableView*>("tagsListTabView")->tagsModel();
    QVERIFY(model);
    QCOMPARE(int(model->entries().size()), count);
    for (int row = 0; row < count; ++row) {
        const QString shown = model->index(row, 1).data().toString();
        QCOMPARE(model->entries()[row].signature, krmTagSignature(be32(128 + 4 + 12 * row)));
        QCOMPARE(model->entries()[row].problem, reasons[row]);
        QVERIFY2(reasons[row].isEmpty() ? !shown.contains("unreadable") : shown.contains(reasons[row]),
                 qPrintable(shown));
    }

    // The header's size against the file's.
    const auto* header = window.findChild<HeaderTableView*>("headerTabView")->headerModel();
    QCOMPARE(header->items().first().value, QStringLiteral("183.09 KB, file 1000 bytes"));

    // An unreadable entry opens its Raw page, which says why it is empty.
    const krmTagSignature lost = model->entries()[reasons.indexOf("points past the end of the file")].signature;
    window.onTagSelected(lost);
    QCOMPARE(tabTitles(window), QStringList{"Raw"});
    auto* raw = window.findChild<GenericTagComponent*>();
    QVERIFY(raw && raw->noteLabel());
    QVERIFY2(raw->noteLabel()->text().contains(QStringLiteral("points past the end of the file")),
             qPrintable(raw->noteLabel()->text()));

    const QString pictures = qEnvironmentVariable("PRISMET_SCREENSHOT_DIR");
    if (!pictures.isEmpty()) {  // for a person to look at
        window.resize(1200, 800);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(200);
        window.grab().save(pictures + QStringLiteral("/truncated_lost.png"));
        window.onTagSelected(model->entries()[reasons.indexOf("runs past the end of the file")].signature);
        QTest::qWait(100);
        window.grab().save(pictures + QStringLiteral("/truncated_partial.png"));
    }
}

void TestMainWindow::recentFiles_sameProfileTwiceKeepsOneEntryAtFront()
{
    Prismet window;
    const QString a = colord("sRGB.icc");
    const QString b = colord("AdobeRGB1998.icc");
    window.open_filename(a);
    window.open_filename(b);
    window.open_filename(a);
    QCOMPARE(storedRecentFiles(), (QStringList{a, b}));
    QCOMPARE(recentMenuTexts(window), (QStringList{"&1  sRGB.icc", "&2  AdobeRGB1998.icc"}));
}

void TestMainWindow::recentFiles_keepsTheTenNewest()
{
    const QStringList all = QDir(kColord).entryList({"*.icc"}, QDir::Files, QDir::Name);
    QVERIFY(all.size() >= 11);
    Prismet window;
    QStringList opened;
    for (int i = 0; i < 11; ++i) {
        opened.prepend(colord(all[i]));
        window.open_filename(colord(all[i]));
    }
    QVERIFY2(watcher_->seen.isEmpty(), qPrintable(watcher_->messages.join('\n')));
    QCOMPARE(storedRecentFiles(), opened.mid(0, 10));
    QCOMPARE(window.findChild<QMenu*>("recent_files_menu")->actions().size(), 10);
    QVERIFY(recentMenuTexts(window).last().startsWith("&10  "));
}

void TestMainWindow::recentFiles_hidesMissingFilesAndNumbersConsecutively()
{
    QTemporaryDir dir;
    QStringList copies;
    for (const QString name : {"sRGB.icc", "AdobeRGB1998.icc", "ProPhotoRGB.icc"}) {
        copies << dir.filePath(name);
        QVERIFY(QFile::copy(colord(name), copies.last()));
    }
    {
        Prismet window;
        for (const QString& path : copies)
            window.open_filename(path);
    }
    QVERIFY(QFile::remove(copies[1]));

    Prismet window;
    QCOMPARE(recentMenuTexts(window), (QStringList{"&1  ProPhotoRGB.icc", "&2  sRGB.icc"}));
    QCOMPARE(window.findChild<QMenu*>("recent_files_menu")->actions().first()->data().toString(), copies[2]);
    // The vanished file stays stored: it may come back.
    QCOMPARE(storedRecentFiles().size(), 3);

    for (const QString& path : copies)
        QFile::remove(path);
    Prismet empty;
    QVERIFY(!empty.findChild<QMenu*>("recent_files_menu")->isEnabled());
}

void TestMainWindow::recentFiles_menuOpensTheFile()
{
    Prismet window;
    window.open_filename(colord("sRGB.icc"));
    window.open_filename(colord("AdobeRGB1998.icc"));
    window.findChild<QMenu*>("recent_files_menu")->actions().at(1)->trigger();
    QCOMPARE(window.profilePath(), colord("sRGB.icc"));
    QCOMPARE(storedRecentFiles().first(), colord("sRGB.icc"));
}

void TestMainWindow::drag_acceptance_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<bool>("accepted");
    const QUrl icc = QUrl::fromLocalFile("/tmp/a.icc");
    QTest::newRow("one .icc") << QList<QUrl>{icc} << true;
    QTest::newRow("upper-case .ICM") << QList<QUrl>{QUrl::fromLocalFile("/tmp/B.ICM")} << true;
    QTest::newRow(".pf") << QList<QUrl>{QUrl::fromLocalFile("/tmp/c.pf")} << true;
    QTest::newRow(".txt") << QList<QUrl>{QUrl::fromLocalFile("/tmp/a.txt")} << false;
    QTest::newRow("extension inside the name") << QList<QUrl>{QUrl::fromLocalFile("/tmp/a.icc.txt")} << false;
    QTest::newRow("two profiles") << QList<QUrl>{icc, QUrl::fromLocalFile("/tmp/b.icc")} << false;
    QTest::newRow("web address") << QList<QUrl>{QUrl("https://example.com/a.icc")} << false;
    QTest::newRow("no files") << QList<QUrl>{} << false;
}

void TestMainWindow::drag_acceptance()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(bool, accepted);
    Prismet window;
    QCOMPARE(dragAccepted(window, urls), accepted);
}

void TestMainWindow::drop_opensTheProfile()
{
    Prismet window;
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(colord("sRGB.icc"))});
    // A drop goes to the widget that accepted the drag's entry.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    QCOMPARE(window.profilePath(), colord("sRGB.icc"));
    QVERIFY(drop.isAccepted());
}

void TestMainWindow::previewDock_toggles()
{
    Prismet window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* dock = window.findChild<QDockWidget*>("imageProof");
    auto* action = window.findChild<QAction*>("action_show_preview");
    QVERIFY(dock->isHidden());
    QVERIFY(!action->isChecked());

    action->trigger();
    QVERIFY(dock->isVisible());
    QVERIFY(action->isChecked());

    action->trigger();
    QVERIFY(dock->isHidden());
    QVERIFY(!action->isChecked());

    // Images can be loaded for proofing, and the dock holds the proofing view.
    QVERIFY(window.findChild<QAction*>("action_load_preview_image")->isEnabled());
    QVERIFY(dock->findChild<QWidget*>("proofingWidget"));
}

void TestMainWindow::openDialogs_startInTheirFolders()
{
    // The user's folder is $XDG_DATA_HOME/icc: present, it is where "user" starts; absent, the
    // dialog says so and starts in the system folder.
    QTemporaryDir data;
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    const QString userFolder = data.filePath("icc");

    Prismet window;
    QStringList folders;
    QStringList titles;
    watcher_->setAnswer([&](QDialog* dialog) {
        if (auto* files = qobject_cast<QFileDialog*>(dialog)) {
            folders << files->directory().absolutePath();
            titles << files->windowTitle();
        }
        dialog->reject();
    });
    const auto userButtonTip = [] {
        StartupDialog dialog;
        return dialog.findChild<QPushButton*>("btnLocal")->toolTip();
    };
    window.open_global();
    window.open_local();
    QVERIFY(userButtonTip().contains("does not exist"));
    QVERIFY(QDir().mkpath(userFolder));
    window.open_local();
    QCOMPARE(userButtonTip(), userFolder);
    QCOMPARE(user_color_directory(), userFolder);
    qputenv("XDG_DATA_HOME", savedData);

    QCOMPARE(folders.size(), 3);
    QCOMPARE(folders[0], system_color_directory());
    QCOMPARE(titles[0], QStringLiteral("Open ICC profile"));
    QCOMPARE(folders[1], system_color_directory());
    QVERIFY2(titles[1].contains(userFolder) && titles[1].contains("does not exist"), qPrintable(titles[1]));
    QCOMPARE(folders[2], userFolder);
    QCOMPARE(titles[2], QStringLiteral("Open ICC profile"));
    QVERIFY(window.profile() == nullptr);  // cancelling opens nothing
}

void TestMainWindow::close_savesLayoutUnlessDefaultsWereRestored()
{
    {
        Prismet window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.close();
    }
    QVERIFY(!appSettings()->value("pos/window_main").toByteArray().isEmpty());
    QVERIFY(!appSettings()->value("state/window_main").toByteArray().isEmpty());

    Prismet window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    watcher_->setAnswer([](QDialog* dialog) {
        auto* buttons = dialog->findChild<QDialogButtonBox*>("buttonBox");
        QVERIFY(buttons);
        buttons->button(QDialogButtonBox::RestoreDefaults)->click();
    });
    window.preferences();
    QCOMPARE(watcher_->seen, QStringList{"Preferences"});
    window.close();
    QVERIFY(!appSettings()->contains("pos/window_main"));
    QVERIFY(!appSettings()->contains("state/window_main"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
