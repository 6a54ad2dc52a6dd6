#pragma once

#include <QDialog>

namespace Ui {
class about;
}

// The about box: the product page matching the palette, and a button that goes on to "About Qt"
// (the dialog is accepted by that button only).
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

    QString pageHtml() const;

private:
    Ui::about* ui_ = nullptr;
};
