#pragma once

#include "window/widgets/TableView.h"

#include <krm.h>

class HeaderValueModel;
class QPushButton;

// The profile header as a grid of label/value pairs that flows into as many column pairs as the
// width allows; the last cell holds the "Check profile" button.
class HeaderTableView : public TableView
{
    Q_OBJECT

public:
    explicit HeaderTableView(QWidget* parent = nullptr);

    // Builds a new model from the profile's raw header bytes; null empties the view.
    void setProfile(krmProfile profile);

    HeaderValueModel* headerModel() const { return model_; }
    QPushButton* checkButton() const { return button_; }

signals:
    void checkProfileRequested();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateLayout();
    QPushButton* placeButton();
    void fitColumnWidths(int width);

    HeaderValueModel* model_ = nullptr;
    QPushButton* button_ = nullptr;
    bool layingOut_ = false;
};
