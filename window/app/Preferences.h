#pragma once

#include <QDialog>

class QAbstractButton;

namespace Ui {
class preferences;
}

// Edits the user options kept in the settings store. OK writes them, Cancel writes nothing,
// Restore Defaults forgets every stored setting.
class Preferences : public QDialog
{
    Q_OBJECT

public:
    explicit Preferences(QWidget* parent = nullptr);
    ~Preferences() override;

    // True once Restore Defaults has emptied the settings store.
    bool defaultsRestored() const { return defaultsRestored_; }

public slots:
    void accept() override;
    void reset_defaults();

private:
    void on_button_clicked(QAbstractButton* button);

    Ui::preferences* ui_ = nullptr;
    bool defaultsRestored_ = false;
};
