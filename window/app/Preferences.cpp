#include "window/app/Preferences.h"

#include "window/app/PrismetApp.h"
#include "ui_Preferences.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSettings>

namespace {

// One row per option: its key and its default, in the order the dialog writes them.
struct Option {
    const char* key;
    bool defaultValue;
    QCheckBox* Ui::preferences::*box;
};

const Option kOptions[] = {
    {"dark_always", true, &Ui::preferences::darkModeAlways},
    {"flat_color", false, &Ui::preferences::flatColor},
    {"proportional_points", false, &Ui::preferences::proportional_pointsize},
    {"raw_dump", false, &Ui::preferences::addRawDump},
    {"state/start_dlg", true, &Ui::preferences::showStartupDialog},
};

}  // namespace

Preferences::Preferences(QWidget* parent)
    : QDialog(parent)
    , ui_(new Ui::preferences)
{
    ui_->setupUi(this);
    for (const Option& option : kOptions)
        (ui_->*option.box)->setChecked(appSettings()->value(option.key, option.defaultValue).toBool());

    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &Preferences::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &Preferences::reject);
    connect(ui_->buttonBox, &QDialogButtonBox::clicked, this, &Preferences::on_button_clicked);
}

Preferences::~Preferences()
{
    delete ui_;
}

void Preferences::accept()
{
    for (const Option& option : kOptions)
        appSettings()->setValue(option.key, (ui_->*option.box)->isChecked());
    QDialog::accept();
}

void Preferences::reset_defaults()
{
    appSettings()->clear();
    appSettings()->sync();
    defaultsRestored_ = true;
    QDialog::accept();
}

void Preferences::on_button_clicked(QAbstractButton* button)
{
    if (ui_->buttonBox->buttonRole(button) == QDialogButtonBox::ResetRole)
        reset_defaults();
}
