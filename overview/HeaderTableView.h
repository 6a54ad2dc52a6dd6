#pragma once

#include "overview/TableView.h"

#include <krm.h>

// The 128-byte profile header as a table of named values.
class HeaderTableView : public TableView
{
    Q_OBJECT

public:
    explicit HeaderTableView(QWidget* parent = nullptr);

    void setProfile(krmProfile profile);

signals:
    void checkProfileRequested();

private:
    krmProfile profile_ = nullptr;
};
