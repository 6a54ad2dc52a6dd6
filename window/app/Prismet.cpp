#include "window/app/Prismet.h"

#include "window/widgets/HullWidget.h"
#include "window/app/AboutDialog.h"
#include "window/widgets/ColorScheme.h"
#include "window/widgets/ErrorDialog.h"
#include "window/app/Preferences.h"
#include "window/app/PrismetApp.h"
#include "window/proofing/ProofingWidget.h"
#include "window/widgets/SystemColorDirectory.h"
#include "window/audit/ProfileChecks.h"
#include "window/audit/ProfileIssuesDialog.h"
#include "window/analyses/ProfileDiffDialog.h"
#include "window/analyses/GamutHullTagComponent.h"
#include "common/analysis/ImageGamut.h"
#include "window/overview/TagsListValueModel.h"
#include "window/analyses/VerificationDialog.h"
#include "window/widgets/EngineMessageCapture.h"
#include "window/overview/HeaderTableView.h"
#include "window/overview/TagsTableView.h"
#include "ui_Prismet.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QHeaderView>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QScreen>
#include <QSettings>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

namespace {

const int kMaxRecentFiles = 10;
const QSize kMinimumWindowSize(720, 480);
const int kMinimumDockWidth = 220;
// The first start opens this large, or as large as the screen's free area allows: room for the
// header and tags docks whole and a viewer beside them.
const QSize kFirstWindowSize(1280, 1000);
const int kFirstDockWidth = 360;
// A left dock narrower than this after a resize is widened again.
const int kUsableDockWidth = 300;
const char* const kErrorAccent = "#C0392B";
const char* const kInformationAccent = "#2E86C1";

QPointer<Prismet> g_errorWindow;

// Every engine message not collected by a viewer page becomes one modal dialog, shown before the
// engine call goes on with its failure result. It names the file being opened, if any: an error
// raised while opening must not blame the profile that is already open.
void show_engine_error(const QString& message)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    Prismet* window = Prismet::errorWindow();
    ErrorDialog dialog(Prismet::tr("Error"), message, window ? window->openingPath() : QString(),
                       QString::fromLatin1(kErrorAccent), false, true, window);
    dialog.exec();
}

// Viewers that compute on demand do so when their tab comes to the front.
void notify_tab_selected(QWidget* page)
{
    if (page && page->metaObject()->indexOfMethod("tabSelected()") >= 0)
        QMetaObject::invokeMethod(page, "tabSelected");
}

}  // namespace

Prismet::Prismet(QWidget* parent)
    : QMainWindow(parent)
{
    registerPrismetResources();

    startupLog("Starting Prismet class");
    setWindowTitle(tr("Corvane Prismet"));

    startupLog("Starting OpenGL");
    create_opengl_view();
    startupLog("OpenGL OK");

    setup_ui();
    connect_actions();
    startupLog("User interface setup OK");

    connect(ui_->actionCheck_conformance, &QAction::triggered, this, &Prismet::check_profile);
    compareAction_ = new QAction(tr("Compare with profile\u2026"), this);
    compareAction_->setObjectName(QStringLiteral("actionCompare_with_profile"));
    ui_->menu_File->insertAction(ui_->actionCheck_conformance, compareAction_);
    connect(compareAction_, &QAction::triggered, this, &Prismet::compare_with_profile);
    // File ▸ Verify against measurements…, beside the conformance check; needs an open profile.
    auto* verify = new QAction(tr("Verify against measurements\u2026"), this);
    verify->setObjectName("actionVerify_measurements");
    ui_->menu_File->insertAction(ui_->actionCheck_conformance, verify);
    connect(ui_->menu_File, &QMenu::aboutToShow, verify, [this, verify] { verify->setEnabled(profile_ != nullptr); });
    connect(verify, &QAction::triggered, this, [this] { VerificationDialog::run(profile_, profilePath_, this); });
    connect(ui_->headerTabView, &HeaderTableView::checkProfileRequested, this, &Prismet::check_profile);

    startupLog("Start Qt connections");
    // The tags table refreshes its colours on palette changes: see changeEvent().

    startupLog("Set window style");
    connect_tab_bar();
    startupLog("Tab Bar OK");

    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &Prismet::updateActions);
    connect(qApp, &QApplication::focusChanged, this, &Prismet::updateActions);
    startupLog("Clipboard OK");

    startupLog("Creating proofing");
    create_proofing();
    startupLog("Proofing created OK");

    setAcceptDrops(true);

    startupLog("Restoring window position");
    restore_layout();
    startupLog("Window position OK");

    startupLog("Enabling actions");
    updateActions();
    startupLog("Enhanced/Enabling actions OK");

    update_recent_files_menu();
    startupLog("Recent files updated");

    if (!g_errorWindow)
        g_errorWindow = this;
    install_engine_message_display(show_engine_error);
    startupLog("Error handler set");
}

Prismet::~Prismet()
{
    // Tearing down the widgets below moves the focus and the selection; the slots of a window
    // being destroyed must not hear of it.
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(QGuiApplication::clipboard(), nullptr, this, nullptr);
    disconnect(ui_->tagsListTabView, nullptr, this, nullptr);
    ui_->tagTabbedViewer->blockSignals(true);

    clear_viewers();
    ui_->tagsListTabView->setProfile(nullptr);
    proofing_->set_profile(nullptr);
    if (profile_)
        krmCloseProfile(profile_);
    profile_ = nullptr;
    delete ui_;
}

Prismet* Prismet::errorWindow()
{
    if (g_errorWindow)
        return g_errorWindow;
    // The first window is gone (only happens in tests): any other main window will do.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<Prismet*>(widget)) {
            g_errorWindow = window;
            return window;
        }
    }
    return nullptr;
}

bool Prismet::isProfileDrop(const QList<QUrl>& urls)
{
    if (urls.size() != 1)
        return false;
    const QString path = urls.first().toLocalFile();
    if (path.isEmpty())
        return false;
    for (const QString& extension : ProfileExtensions) {
        if (path.endsWith(extension, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Construction

void Prismet::create_opengl_view()
{
    // A hidden 3D view makes the window OpenGL-capable from the start, so the 3D views shown
    // later do not recreate it. Where no OpenGL context can be made, the view holds a message
    // instead of a canvas and the window stays as it is.
    if (!HullWidget::openGLAvailable())
        startupLog("OpenGL not available");
    auto* view = new HullWidget(this);
    view->setObjectName("openglStartupView");
    view->hide();
}

void Prismet::setup_ui()
{
    ui_ = new Ui::prismetClass;
    ui_->setupUi(this);
    dataPage_ = ui_->dataTab;
    ui_->action_Manual->setShortcut(QKeySequence::HelpContents);
    ui_->action_Exit->setShortcut(QKeySequence::Quit);
    // Below these sizes the header and tags tables cut every field; a window shrunk further
    // could not give the docks back their width.
    setMinimumSize(kMinimumWindowSize);
    ui_->header->setMinimumWidth(kMinimumDockWidth);
    ui_->tagsList->setMinimumWidth(kMinimumDockWidth);
    ui_->imageProof->setMinimumWidth(kMinimumDockWidth);
    // A viewer's own minimum (a wide pipeline graph, a proofing image) must not squeeze the docks
    // until their text is cut: the tab area gives way and its pages scroll or shrink instead.
    ui_->tagTabbedViewer->setMinimumSize(200, 150);
    // The Edit menu is looked at after the focus settled: say then whether Copy can act.
    connect(ui_->menu_Edit, &QMenu::aboutToShow, this, &Prismet::updateActions);
}

void Prismet::connect_actions()
{
    connect(ui_->action_About, &QAction::triggered, this, &Prismet::about);
    connect(ui_->action_Exit, &QAction::triggered, this, &QWidget::close);
    connect(ui_->action_Manual, &QAction::triggered, this, &Prismet::user_manual);
    connect(ui_->action_Copy, &QAction::triggered, this, &Prismet::copy);
    connect(ui_->action_Open, &QAction::triggered, this, &Prismet::open);
    connect(ui_->action_Preferences, &QAction::triggered, this, &Prismet::preferences);
    connect(ui_->action_load_preview_image, &QAction::triggered, this, &Prismet::load_image);
}

void Prismet::connect_tab_bar()
{
    ui_->header_color_frame->setStyleSheet("QFrame { color: #F26B38; }");
    ui_->tags_list_color_frame->setStyleSheet("QFrame { color: #A7226E; }");
    connect(ui_->tagTabbedViewer, &QTabWidget::currentChanged, this,
            [this](int index) { notify_tab_selected(ui_->tagTabbedViewer->widget(index)); });
}

void Prismet::create_proofing()
{
    proofing_ = new ProofingWidget(this);
    ui_->imageProof->hide();
    ui_->verticalLayout_4->addWidget(proofing_);

    connect(proofing_, &ProofingWidget::image_loaded, this, [this] { show_preview_dock(true); });
    connect(proofing_, &ProofingWidget::plot_image_colours, this, &Prismet::plot_image_colours);
    connect(ui_->action_show_preview, &QAction::triggered, this,
            [this] { show_preview_dock(ui_->imageProof->isHidden()); });
    connect(ui_->imageProof, &QDockWidget::visibilityChanged, ui_->action_show_preview, &QAction::setChecked,
            Qt::DirectConnection);
}

void Prismet::restore_layout()
{
    const bool placed = restoreGeometry(appSettings()->value("pos/window_main").toByteArray());
    restoreState(appSettings()->value("state/window_main").toByteArray(), 0);
    if (!placed)
        fit_first_size();
    widen_docks();
}

void Prismet::fit_first_size()
{
    // No remembered geometry: open large enough for the header and the tags list, within the
    // screen's free area; closing remembers whatever size the user then chooses.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QSize frame = frameGeometry().size() - geometry().size();
    const QSize size = kFirstWindowSize.boundedTo(available.size() - frame).expandedTo(kMinimumWindowSize);
    resize(size);
    move(available.center() - QPoint(size.width() / 2, size.height() / 2));
    resizeDocks({ui_->header, ui_->tagsList}, {kFirstDockWidth, kFirstDockWidth}, Qt::Horizontal);
}

void Prismet::show_header_whole()
{
    // The header dock shares the left column with the tags list: give it the height its rows
    // need, up to two thirds of the column, so the ProfileID row and the Check button show.
    QTableView* view = ui_->headerTabView;
    if (ui_->header->isFloating() || ui_->tagsList->isFloating()
        || dockWidgetArea(ui_->header) != dockWidgetArea(ui_->tagsList))
        return;
    const int needed = view->verticalHeader()->length() + 2 * view->frameWidth()
                       + (ui_->header->height() - view->viewport()->height());
    const int column = ui_->header->height() + ui_->tagsList->height();
    const int wanted = std::min(needed, 2 * column / 3);
    if (ui_->header->height() < wanted)
        resizeDocks({ui_->header, ui_->tagsList}, {wanted, column - wanted}, Qt::Vertical);
}

void Prismet::widen_docks()
{
    // A window made small squeezes the docks; growing it again gives all the room to the tab
    // area. The docked left column gets a usable width back when the window has room for it.
    QList<QDockWidget*> narrow;
    for (QDockWidget* dock : {ui_->header, ui_->tagsList}) {
        if (!dock->isFloating() && dock->isVisibleTo(this) && dockWidgetArea(dock) == Qt::LeftDockWidgetArea
            && dock->width() < kUsableDockWidth)
            narrow.append(dock);
    }
    const int usable = std::min(kUsableDockWidth, width() / 3);
    if (narrow.isEmpty() || usable <= kMinimumDockWidth)
        return;
    resizeDocks(narrow, QList<int>(narrow.size(), usable), Qt::Horizontal);
}

void Prismet::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (event->size().width() > event->oldSize().width())
        widen_docks();
}

void Prismet::changeEvent(QEvent* event)
{
    // A new application palette arrives here as PaletteChange: QWidget turns the application-wide
    // event into it before changeEvent is called.
    if ((event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) && ui_)
        ui_->tagsListTabView->refreshColors();
    QMainWindow::changeEvent(event);
}

// ---------------------------------------------------------------------------------------------
// Opening profiles

void Prismet::open_filename(const QString& path)
{
    if (path.isEmpty())
        return;

    // The engine reports why an open failed through the error handler; nothing changes here.
    openingPath_ = QFileInfo(path).absoluteFilePath();
    krmProfile opened = krmOpenProfileFromFile(path.toUtf8().constData(), "r");
    openingPath_.clear();
    if (!opened)
        return;

    profilePath_ = QFileInfo(path).absoluteFilePath();

    // Viewers read from the old profile, so they go before it is closed.
    clear_viewers();
    if (profile_)
        krmCloseProfile(profile_);
    profile_ = opened;

    proofing_->set_profile(profile_);
    ui_->headerTabView->setProfile(profile_);
    ui_->tagsListTabView->setProfile(profile_);
    // The header lays its rows out for the dock's width once shown: size the dock after that.
    QTimer::singleShot(0, this, [this] { show_header_whole(); });

    disconnect(ui_->tagsListTabView, &TagsTableView::tagSelected, this, &Prismet::onTagSelected);
    connect(ui_->tagsListTabView, &TagsTableView::tagSelected, this, &Prismet::onTagSelected);

    update_title();
    appSettings()->setValue("last_open_dir", profilePath_);
    add_recent_file(profilePath_);
    updateActions();
}

void Prismet::open()
{
    open_dir(appSettings()->value("last_open_dir", system_color_directory()).toString());
}

void Prismet::open_global()
{
    open_dir(system_color_directory());
}

void Prismet::open_local()
{
    const QString folder = user_color_directory();
    if (QFileInfo(folder).isDir()) {
        open_dir(folder);
        return;
    }
    // The dialog's title says why it shows the system folder instead.
    show_open_dialog(system_color_directory(),
                     tr("Open ICC profile (your profile folder %1 does not exist; showing the system folder)").arg(folder));
}

void Prismet::open_dir(const QString& folder)
{
    show_open_dialog(folder, tr("Open ICC profile"));
}

void Prismet::show_open_dialog(const QString& folder, const QString& title)
{
    const QString path =
        QFileDialog::getOpenFileName(this, title, folder, tr("ICC profiles (*.icc *.icm *.pf);;All files (*.*)"));
    if (!path.isEmpty())
        open_filename(path);
}

void Prismet::open_recent_file()
{
    if (auto* action = qobject_cast<QAction*>(sender()))
        open_filename(action->data().toString());
}

void Prismet::update_title()
{
    QString title = tr("Corvane Prismet");
    if (!profilePath_.isEmpty())
        title += QStringLiteral(" - ") + profilePath_;
    setWindowTitle(title);
}

void Prismet::add_recent_file(const QString& path)
{
    QStringList recent = appSettings()->value("state/recent_files").toStringList();
    recent.removeAll(path);
    recent.prepend(path);
    while (recent.size() > kMaxRecentFiles)
        recent.removeLast();
    appSettings()->setValue("state/recent_files", recent);
    update_recent_files_menu();
}

void Prismet::update_recent_files_menu()
{
    QMenu* menu = ui_->recent_files_menu;
    menu->clear();

    // Files that disappeared are hidden but stay stored: they may come back (a removable disk).
    int shown = 0;
    for (const QString& path : appSettings()->value("state/recent_files").toStringList()) {
        if (!QFileInfo::exists(path))
            continue;
        QString name = QFileInfo(path).fileName();
        name.replace('&', QStringLiteral("&&"));
        QAction* action = menu->addAction(QStringLiteral("&%1  %2").arg(shown + 1).arg(name));
        action->setData(path);
        action->setToolTip(path);
        action->setStatusTip(path);
        connect(action, &QAction::triggered, this, &Prismet::open_recent_file);
        ++shown;
    }
    menu->setEnabled(shown > 0);
}

// ---------------------------------------------------------------------------------------------
// Viewer tabs

void Prismet::delete_viewer_widgets()
{
    for (ViewerTab& tab : viewers_) {
        delete tab.widget;
        tab.widget = nullptr;
        tab.title.clear();
    }
    viewers_.clear();
}

void Prismet::clear_viewers()
{
    QTabWidget* tabs = ui_->tagTabbedViewer;
    const bool wasBlocked = tabs->blockSignals(true);
    delete_viewer_widgets();
    tabs->clear();
    delete dataPage_;
    dataPage_ = new QWidget();
    tabs->addTab(dataPage_, tr("Data"));
    tabs->blockSignals(wasBlocked);
}

void Prismet::onTagSelected(krmTagSignature signature)
{
    // A viewer page may have asked for width the docks then gave up.
    QTimer::singleShot(0, this, [this] { widen_docks(); });
    QTabWidget* tabs = ui_->tagTabbedViewer;
    const bool wasBlocked = tabs->blockSignals(true);

    delete_viewer_widgets();
    viewers_ = createTagViewers(profile_, signature, this);

    tabs->clear();
    delete dataPage_;
    dataPage_ = nullptr;
    for (const ViewerTab& tab : viewers_) {
        tabs->addTab(tab.widget, tab.title);
        if (tab.widget->metaObject()->indexOfSignal("activateComponent(int)") >= 0)
            connect(tab.widget, SIGNAL(activateComponent(int)), tabs, SLOT(setCurrentIndex(int)));
    }
    if (viewers_.isEmpty()) {
        dataPage_ = new QWidget();
        tabs->addTab(dataPage_, tr("Data"));
    }
    notify_tab_selected(tabs->currentWidget());

    tabs->blockSignals(wasBlocked);
}

// ---------------------------------------------------------------------------------------------
// Actions

QWidget* Prismet::copy_target() const
{
    // While a menu or another window is active the application's focus is elsewhere; the widget
    // that will have the focus again is the window's own focus widget.
    QWidget* focus = QApplication::focusWidget();
    if (!focus || focus->window() != this)
        focus = focusWidget();
    for (QWidget* widget = focus; widget && widget != this; widget = widget->parentWidget()) {
        if (widget->metaObject()->indexOfMethod("copy()") >= 0)
            return widget;
    }
    return nullptr;
}

void Prismet::copy()
{
    if (QWidget* target = copy_target())
        QMetaObject::invokeMethod(target, "copy", Qt::DirectConnection);
}

void Prismet::updateActions()
{
    ui_->action_Copy->setEnabled(copy_target() != nullptr);
    ui_->actionCheck_conformance->setEnabled(profile_ != nullptr);
    if (compareAction_)
        compareAction_->setEnabled(profile_ != nullptr && !profilePath_.isEmpty());
    ui_->action_load_preview_image->setEnabled(proofing_ != nullptr);
}

void Prismet::change_palette()
{
    apply_color_scheme();
}

void Prismet::preferences()
{
    Preferences dialog(this);
    dialog.exec();
    if (dialog.defaultsRestored())
        layoutReset_ = true;
    change_palette();
}

void Prismet::about()
{
    AboutDialog dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        QMessageBox::aboutQt(this, QGuiApplication::applicationDisplayName());
}

void Prismet::load_image()
{
    proofing_->load_image();
}

void Prismet::show_preview_dock(bool show)
{
    ui_->imageProof->setVisible(show);
    ui_->action_show_preview->setChecked(show);
}

QString Prismet::manualPath(const QString& programFolder)
{
    // Next to the program in the build folder; under share/doc/prismet in an installed layout.
    const QStringList candidates = {programFolder + QStringLiteral("/manual.pdf"),
                                    programFolder + QStringLiteral("/../share/doc/prismet/manual.pdf")};
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile())
            return QDir::cleanPath(QFileInfo(candidate).absoluteFilePath());
    }
    return {};
}

void Prismet::user_manual()
{
    // The PDF in the system's viewer when there is one; otherwise the same text in a window of
    // our own, from the copy built into the program.
    const QString path = manualPath(QCoreApplication::applicationDirPath());
    if (path.isEmpty() || !pdfViewerInstalled() || !QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        show_manual_window();
}

bool Prismet::pdfViewerInstalled()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // xdg-open starts whether or not anything can show a PDF, and then fails out of sight: ask
    // the desktop's MIME database first. Without xdg-mime, trust the desktop services.
    const QString mime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (mime.isEmpty())
        return true;
    QProcess query;
    query.start(mime, {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("application/pdf")});
    if (!query.waitForFinished(3000))
        return true;
    return !query.readAllStandardOutput().trimmed().isEmpty();
#else
    return true;
#endif
}

void Prismet::show_manual_window()
{
    if (manualWindow_) {
        manualWindow_->show();
        manualWindow_->raise();
        manualWindow_->activateWindow();
        return;
    }
    QFile file(QStringLiteral(":/docs/manual.md"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        show_information(tr("User manual"), tr("The user manual could not be read from the program's resources."));
        return;
    }
    auto* browser = new QTextBrowser();
    browser->setAttribute(Qt::WA_DeleteOnClose);
    browser->setObjectName(QStringLiteral("manualWindow"));
    browser->setWindowTitle(tr("Prismet manual"));
    browser->setOpenExternalLinks(true);
    browser->setMarkdown(QString::fromUtf8(file.readAll()));
    browser->document()->setDocumentMargin(24);
    browser->resize(860, 900);
    manualWindow_ = browser;
    browser->show();
}

void Prismet::check_profile()
{
    if (!profile_ || profilePath_.isEmpty())
        return;
    // The check reads the file anew in contexts of its own: the open profile is not touched.
    const QList<AuditFinding> findings = runProfileChecks(QFile::encodeName(profilePath_));
    ProfileIssuesDialog dialog(profilePath_, this);
    dialog.setFindings(findings);
    dialog.exec();
}

void Prismet::compare_with_profile()
{
    if (!profile_ || profilePath_.isEmpty())
        return;
    const QString path = QFileDialog::getOpenFileName(this, tr("Compare with profile"),
                                                      QFileInfo(profilePath_).absolutePath(),
                                                      tr("ICC profiles (*.icc *.icm *.pf);;All files (*.*)"));
    if (!path.isEmpty())
        compare_with_file(path);
}

void Prismet::compare_with_file(const QString& path)
{
    if (!profile_ || profilePath_.isEmpty())
        return;
    // Both files are read anew: the diff compares what is stored, not the open profile's state.
    const auto read = [](const QString& file, std::vector<std::uint8_t>& bytes) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return false;
        const QByteArray data = f.readAll();
        bytes.assign(data.begin(), data.end());
        return true;
    };
    std::vector<std::uint8_t> a, b;
    if (!read(profilePath_, a) || !read(path, b)) {
        show_error(tr("Cannot read the profile file."), read(profilePath_, a) ? path : profilePath_);
        return;
    }
    ProfileDiff diff;
    try {
        diff = diff_profiles(a, b, {});
    } catch (const std::exception& e) {
        show_error(QString::fromUtf8(e.what()), path);
        return;
    }
    ProfileDiffDialog dialog(diff, profilePath_, QFileInfo(path).absoluteFilePath(), this);
    connect(&dialog, &ProfileDiffDialog::tagActivated, this, [this](krmTagSignature sig) { select_tag(sig); });
    dialog.exec();
}

bool Prismet::select_tag(krmTagSignature signature)
{
    TagsListValueModel* model = ui_->tagsListTabView->tagsModel();
    if (!model)
        return false;
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->signatureAt(row) == signature) {
            ui_->tagsListTabView->setCurrentIndex(model->index(row, 0));
            return true;
        }
    return false;
}

void Prismet::plot_image_colours()
{
    if (!profile_)
        return;
    std::shared_ptr<const ImageColourCloud> cloud = proofing_->image_colour_cloud();
    if (!cloud) {
        show_information(tr("Plot image colours"), tr("The image's colours cannot be converted with its profile."));
        return;
    }
    GamutHullTagComponent::set_image_cloud(std::move(cloud));
    if (show_gamut_view())
        return;
    for (krmTagSignature tag : {krmTagSignature(krmSig("A2B1")), krmTagSignature(krmSig("A2B0")),
                                krmTagSignature(krmSig("D2B0")), kMatrixShaperTag})
        if ((tag == kMatrixShaperTag ? krmIsMatrixShaper(profile_) : krmIsTag(profile_, tag)) && select_tag(tag) &&
            show_gamut_view())
            return;
    show_information(tr("Plot image colours"), tr("The profile has no gamut to plot the image's colours against."));
}

QWidget* Prismet::show_gamut_view()
{
    for (const ViewerTab& tab : viewers_)
        if (auto* gamut = qobject_cast<GamutHullTagComponent*>(tab.widget)) {
            if (ui_->tagTabbedViewer->currentWidget() != gamut)
                ui_->tagTabbedViewer->setCurrentWidget(gamut);
            else
                gamut->tabSelected();
            if (gamut->isComputed()) {
                gamut->update_view();
                gamut->view()->auto_fit();  // the image's colours may lie far outside the gamut
            }
            return gamut;
        }
    return nullptr;
}

void Prismet::show_error(const QString& message, const QString& path)
{
    ErrorDialog dialog(tr("Error"), message, path, QString::fromLatin1(kErrorAccent), false, true, this);
    dialog.exec();
}

void Prismet::show_information(const QString& title, const QString& message)
{
    // Information about the program itself: the open profile has nothing to do with it.
    ErrorDialog dialog(title, message, QString(), QString::fromLatin1(kInformationAccent), false, false, this);
    dialog.exec();
}

// ---------------------------------------------------------------------------------------------
// Events

void Prismet::closeEvent(QCloseEvent* event)
{
    // After "Restore Defaults" the next start must use the default layout again.
    if (!layoutReset_) {
        appSettings()->setValue("pos/window_main", saveGeometry());
        appSettings()->setValue("state/window_main", saveState(0));
    }
    QMainWindow::closeEvent(event);
}

void Prismet::dragEnterEvent(QDragEnterEvent* event)
{
    if (isProfileDrop(event->mimeData()->urls()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void Prismet::dragMoveEvent(QDragMoveEvent* event)
{
    if (isProfileDrop(event->mimeData()->urls()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void Prismet::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!isProfileDrop(urls)) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    open_filename(urls.first().toLocalFile());
}
