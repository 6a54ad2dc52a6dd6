#include "window/app/AboutDialog.h"

#include "window/widgets/ColorScheme.h"
#include "window/app/PrismetApp.h"
#include "ui_AboutDialog.h"

#include <QFile>

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , ui_(new Ui::about)
{
    registerPrismetResources();
    ui_->setupUi(this);
    setBackgroundRole(QPalette::Base);

    ui_->textBrowser->setSearchPaths({QStringLiteral("qrc:/"), QStringLiteral(":/")});
    ui_->textBrowser->setHtml(pageHtml());
    connect(ui_->pushButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->closeButton, &QPushButton::clicked, this, &QDialog::reject);
}

AboutDialog::~AboutDialog()
{
    delete ui_;
}

QString AboutDialog::pageHtml() const
{
    const QString name = is_dark_palette() ? QStringLiteral(":/licenses/about_dark") : QStringLiteral(":/licenses/about_light");
    QFile page(name + QStringLiteral(".htm"));
    if (!page.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(page.readAll()).replace(QStringLiteral("%1"), QStringLiteral("2.0"));
}
