#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>

#include "window/widgets/AppSettings.h"
#include "window/widgets/DebugLogPanel.h"

class QSettings;
class QSplashScreen;
class Prismet;


// File name endings accepted as ICC profiles (drag and drop, open dialogs).
extern const QStringList ProfileExtensions;

// Makes the compiled-in pictures and pages available; safe to call more than once.
void registerPrismetResources();

// The first command-line positional argument when it names an existing file, as an absolute
// path; empty otherwise. `arguments` includes the program name, as QCoreApplication gives it.
QString startupProfileFromArguments(const QStringList& arguments);

// Why the first command-line positional argument cannot be opened ("does not exist", "is not a
// file"); empty when there is none or it names an existing file.
QString startupArgumentProblem(const QStringList& arguments);

class PrismetApp : public QApplication
{
    Q_OBJECT

public:
    PrismetApp(int& argc, char** argv);
    ~PrismetApp() override;

    Prismet* mainWindow() const { return main_; }
    QString startupProfilePath() const { return startupProfile_; }

public slots:
    void doneSplash();

private:
    void create_log_panel_if_requested();
    void set_identity();
    void show_splash();
    void run_startup_dialog();

    Prismet* main_ = nullptr;
    QSettings* settings_ = nullptr;
    QSplashScreen* splash_ = nullptr;
    QString startupProfile_;
    QString startupProblem_;
    QString startupArgument_;
};
