#include "window/app/PrismetApp.h"

#include "window/widgets/ColorScheme.h"
#include "window/widgets/DebugLogPanel.h"
#include "window/app/Prismet.h"
#include "window/app/StartupDialog.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>
#include <QSplashScreen>
#include <QTimer>

const QStringList ProfileExtensions = {QStringLiteral(".icc"), QStringLiteral(".icm"), QStringLiteral(".pf")};

namespace {

const char* const kVersion = "2.0";

}  // namespace

void registerPrismetResources()
{
    static bool registered = false;
    if (!registered) {
        Q_INIT_RESOURCE(resources);
        registered = true;
    }
}

namespace {

// The first positional argument, empty when there is none.
QString first_positional(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("profile"), QCoreApplication::translate("PrismetApp", "ICC profile to open on startup"),
                                 QStringLiteral("[profile]"));
    // Only parse: unknown options are not an error worth stopping for.
    parser.parse(arguments);
    const QStringList positional = parser.positionalArguments();
    return positional.isEmpty() ? QString() : positional.first();
}

}  // namespace

QString startupProfileFromArguments(const QStringList& arguments)
{
    const QString path = first_positional(arguments);
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || !info.isFile())
        return {};
    return info.absoluteFilePath();
}

QString startupArgumentProblem(const QStringList& arguments)
{
    const QString path = first_positional(arguments);
    if (path.isEmpty())
        return {};
    const QFileInfo info(path);
    if (!info.exists())
        return PrismetApp::tr("The file %1 does not exist.").arg(info.absoluteFilePath());
    if (!info.isFile())
        return PrismetApp::tr("%1 is not a file.").arg(info.absoluteFilePath());
    return {};
}

PrismetApp::PrismetApp(int& argc, char** argv)
    : QApplication(argc, argv)
{
    create_log_panel_if_requested();
    startupLog("PrismetApp ctor started");

    set_identity();

    settings_ = createAppSettings(this);
    startupLog("Settings created");

    setStyle(QStringLiteral("Fusion"));

    startupProfile_ = startupProfileFromArguments(arguments());
    startupProblem_ = startupArgumentProblem(arguments());
    if (!startupProblem_.isEmpty())
        startupArgument_ = first_positional(arguments());
    startupLog("Parsed command-line");

    show_splash();
    startupLog("Show splash screen");

    main_ = new Prismet();
    main_->hide();
    startupLog("Done splash screen");

    QTimer::singleShot(1500, this, &PrismetApp::doneSplash);
}

PrismetApp::~PrismetApp()
{
    delete splash_;
    splash_ = nullptr;
    delete main_;
    main_ = nullptr;
    delete settings_;
    delete startupLogPanel();
}

void PrismetApp::create_log_panel_if_requested()
{
    const Qt::KeyboardModifiers held = queryKeyboardModifiers();
    if (held & (Qt::ShiftModifier | Qt::ControlModifier)) {
        delete startupLogPanel();
        auto* panel = new DebugLogPanel();
        panel->setAttribute(Qt::WA_DeleteOnClose);
        setStartupLogPanel(panel);
    }
}

void PrismetApp::set_identity()
{
    setOrganizationName(QString::fromLatin1(OrganisationName));
    setApplicationVersion(QString::fromLatin1(kVersion));
    setOrganizationDomain(QStringLiteral("corvane.com"));
    setApplicationName(QString::fromLatin1(ApplicationName));
    // Lets Wayland compositors and task bars match the window with the installed menu entry.
    setDesktopFileName(QStringLiteral("com.corvane.Prismet"));
    setQuitOnLastWindowClosed(true);

    registerPrismetResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icon/prismet.png"), QSize(256, 256));
    for (int size : {16, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/icon/prismet_%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
}

void PrismetApp::show_splash()
{
    splash_ = new QSplashScreen(QPixmap(QStringLiteral(":/images/logo.png")),
                                Qt::SplashScreen | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint);
    QFont font = QApplication::font();
    font.setPointSize(12);
    font.setWeight(QFont::Normal);
    font.setStyle(QFont::StyleNormal);
    splash_->setFont(font);
    splash_->showMessage(tr("Version %1 ").arg(QString::fromLatin1(kVersion)) + "\n\n" +
                             tr("Copyright \u00A9 2026 Corvane. All rights reserved.") + "\n\n\n\n",
                         Qt::AlignBottom | Qt::AlignHCenter, Qt::white);
    splash_->show();
}

void PrismetApp::doneSplash()
{
    startupLog("Get timer splash screen");

    // The splash closes once the main window is up. QSplashScreen::finish() would wait up to a
    // second for the window to report itself exposed, which some X servers never do promptly.
    main_->show();
    if (splash_) {
        splash_->close();
        delete splash_;
        splash_ = nullptr;
    }
    startupLog("Show prismet window");

    apply_color_scheme();
    startupLog("Change palette");

    // A file named on the command line that is not there is said, then start-up goes on as
    // without one.
    if (!startupProblem_.isEmpty())
        main_->show_error(startupProblem_, startupArgument_);

    if (!startupProfile_.isEmpty())
        main_->open_filename(startupProfile_);
    else if (appSettings()->value("state/start_dlg", true).toBool())
        run_startup_dialog();

    startupLog("Startup sequence success");
}

void PrismetApp::run_startup_dialog()
{
    StartupDialog dialog(main_);
    dialog.setWindowModality(Qt::ApplicationModal);
    switch (dialog.exec()) {
    case StartupDialog::AnyFolder:
        main_->open();
        break;
    case StartupDialog::GlobalFolder:
        main_->open_global();
        break;
    case StartupDialog::UserFolder:
        main_->open_local();
        break;
    default:
        break;
    }
}
