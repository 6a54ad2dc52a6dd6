#include "window/app/StartupDialog.h"

#include "window/app/PrismetApp.h"
#include "window/widgets/SystemColorDirectory.h"
#include "ui_StartupDialog.h"

#include <QFileInfo>
#include <QSettings>

StartupDialog::StartupDialog(QWidget* parent)
    : QDialog(parent)
    , ui_(new Ui::startupDialog)
{
    ui_->setupUi(this);
    ui_->dontShowCB->setChecked(!appSettings()->value("state/start_dlg", true).toBool());
    const QString userFolder = user_color_directory();
    ui_->btnLocal->setToolTip(QFileInfo(userFolder).isDir()
                                  ? userFolder
                                  : tr("%1 does not exist: the system folder is shown instead").arg(userFolder));
    connect(ui_->btnGlobal, &QPushButton::clicked, this, &StartupDialog::globalPressed);
    connect(ui_->btnLocal, &QPushButton::clicked, this, &StartupDialog::localPressed);
    connect(ui_->btnAny, &QPushButton::clicked, this, &StartupDialog::anyPressed);
}

StartupDialog::~StartupDialog()
{
    delete ui_;
}

// However the dialog ends (a button, the close box, Escape), "Don't show this dialog again"
// is kept: ticking it and then choosing a folder is the common way to use it.
void StartupDialog::done(int result)
{
    appSettings()->setValue("state/start_dlg", !ui_->dontShowCB->isChecked());
    QDialog::done(result);
}

void StartupDialog::globalPressed()
{
    done(GlobalFolder);
}

void StartupDialog::localPressed()
{
    done(UserFolder);
}

void StartupDialog::anyPressed()
{
    done(AnyFolder);
}
