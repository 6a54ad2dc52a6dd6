#include "window/widgets/ProfileComboBox.h"

#include "window/widgets/ICCProfileSelector.h"

ProfileComboBox::ProfileComboBox(ICCProfileSelector* selector, QWidget* parent)
    : QComboBox(parent)
    , selector_(selector)
{
}

void ProfileComboBox::showPopup()
{
    if (selector_)
        selector_->showProfilePopup();
}
