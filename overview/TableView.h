#pragma once

#include <QTableView>

// A table view whose selected cells can be copied as text (Ctrl+C and a context menu).
class TableView : public QTableView
{
    Q_OBJECT

public:
    explicit TableView(QWidget* parent = nullptr);
};
