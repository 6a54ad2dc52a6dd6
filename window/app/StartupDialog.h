#pragma once

#include <QDialog>

namespace Ui {
class startupDialog;
}

// Offered at start when no profile was named: where to browse for a profile. The result code
// names the choice; 0 when the dialog was closed.
class StartupDialog : public QDialog
{
    Q_OBJECT

public:
    enum Choice { Closed = 0, AnyFolder = 1, GlobalFolder = 2, UserFolder = 3 };

    explicit StartupDialog(QWidget* parent = nullptr);
    ~StartupDialog() override;

    void done(int result) override;

public slots:
    void globalPressed();
    void localPressed();
    void anyPressed();

private:
    Ui::startupDialog* ui_ = nullptr;
};
