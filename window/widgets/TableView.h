#pragma once

#include <QTableView>

// The table base of the overview: no sorting, single selection, read-only, and the selected
// cells copied to the clipboard as tab-separated text (Ctrl+C and a context menu).
class TableView : public QTableView
{
    Q_OBJECT

public:
    explicit TableView(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;

public slots:
    void copy();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
