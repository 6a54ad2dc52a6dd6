#include "window/widgets/TableView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>

#include <algorithm>

TableView::TableView(QWidget* parent)
    : QTableView(parent)
{
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Nothing here is edited: Tab leaves the table for the next control, the arrows move inside.
    setTabKeyNavigation(false);
}

void TableView::setModel(QAbstractItemModel* model)
{
    // Rows as tight as the style allows; the model decides its own heights afterwards.
    verticalHeader()->setDefaultSectionSize(verticalHeader()->minimumSectionSize());
    QTableView::setModel(model);
    if (model) {
        const int columns = model->columnCount();
        for (int column = 0; column + 1 < columns; ++column)
            resizeColumnToContents(column);
    }
    horizontalHeader()->setStretchLastSection(true);
    setCurrentIndex(QModelIndex());
}

void TableView::copy()
{
    const QItemSelectionModel* selection = selectionModel();
    if (!selection)
        return;
    QModelIndexList cells = selection->selectedIndexes();
    if (cells.isEmpty())
        return;

    std::sort(cells.begin(), cells.end(), [](const QModelIndex& a, const QModelIndex& b) {
        return a.row() != b.row() ? a.row() < b.row() : a.column() < b.column();
    });

    QString text;
    int row = cells.first().row();
    bool firstInRow = true;
    for (const QModelIndex& cell : cells) {
        if (cell.row() != row) {
            text += QLatin1Char('\n');
            row = cell.row();
            firstInRow = true;
        }
        if (!firstInRow)
            text += QLatin1Char('\t');
        text += cell.data(Qt::DisplayRole).toString();
        firstInRow = false;
    }
    QApplication::clipboard()->setText(text);
}

void TableView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copyAction = menu.addAction(QIcon::fromTheme(QStringLiteral("edit-copy")), tr("&Copy"));
    copyAction->setShortcut(QKeySequence::Copy);
    connect(copyAction, &QAction::triggered, this, &TableView::copy);
    menu.exec(event->globalPos());
}

void TableView::keyPressEvent(QKeyEvent* event)
{
    // QTableView's own Ctrl+C copies only the current cell; copy the whole selection instead.
    if (event == QKeySequence::Copy) {
        copy();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}
