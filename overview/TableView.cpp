#include "overview/TableView.h"

TableView::TableView(QWidget* parent)
    : QTableView(parent)
{
}
