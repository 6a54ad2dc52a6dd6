#pragma once

#include <QComboBox>

class ICCProfileSelector;

// The selector's combo box: opening it shows the selector's searchable list instead of the
// combo box's own drop-down.
class ProfileComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit ProfileComboBox(ICCProfileSelector* selector, QWidget* parent = nullptr);

    ICCProfileSelector* selector() const { return selector_; }
    void showPopup() override;

private:
    ICCProfileSelector* selector_;
};
