#include "overview/HeaderTableView.h"

HeaderTableView::HeaderTableView(QWidget* parent)
    : TableView(parent)
{
}

void HeaderTableView::setProfile(krmProfile profile)
{
    profile_ = profile;
}
