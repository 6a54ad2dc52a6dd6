#include "window/overview/HeaderTableView.h"

#include "window/overview/HeaderValueModel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QResizeEvent>

#include <algorithm>

namespace {

const char* const kButtonStyle =
    "QPushButton { background-color: #1673c9; color: white; border: none; padding: 4px 12px; }"
    "QPushButton:hover { background-color: #1264af; }"
    "QPushButton:pressed { background-color: #0e528f; }";

} // namespace

HeaderTableView::HeaderTableView(QWidget* parent)
    : TableView(parent)
{
    horizontalHeader()->hide();
    verticalHeader()->hide();
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTextElideMode(Qt::ElideRight);
    setWordWrap(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
}

void HeaderTableView::setProfile(krmProfile profile)
{
    HeaderValueModel* previous = model_;
    button_ = nullptr;
    model_ = profile ? new HeaderValueModel(profile, this) : nullptr;
    setModel(model_);
    delete previous;
    updateLayout();
    // A new profile is read from its first field.
    scrollToTop();
}

void HeaderTableView::resizeEvent(QResizeEvent* event)
{
    TableView::resizeEvent(event);
    updateLayout();
}

void HeaderTableView::updateLayout()
{
    // Column widths can toggle the vertical scroll bar, which resizes the viewport again.
    if (!model_ || layingOut_)
        return;
    layingOut_ = true;
    const int width = viewport()->width();
    model_->fitColumnPairs(width, fontMetrics());
    button_ = placeButton();
    fitColumnWidths(width);
    layingOut_ = false;
}

QPushButton* HeaderTableView::placeButton()
{
    auto* cell = new QWidget;
    auto* layout = new QHBoxLayout(cell);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* button = new QPushButton(tr("Check profile"), cell);
    button->setObjectName(QStringLiteral("checkProfileButton"));
    button->setFlat(true);
    button->setFocusPolicy(Qt::TabFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setToolTip(tr("Check ICC profile conformance"));
    button->setStyleSheet(QString::fromLatin1(kButtonStyle));
    connect(button, &QPushButton::clicked, this, &HeaderTableView::checkProfileRequested);

    layout->addWidget(button, 0, Qt::AlignLeft | Qt::AlignVCenter);
    layout->addStretch();
    setIndexWidget(model_->buttonIndex(), cell);
    return button;
}

void HeaderTableView::fitColumnWidths(int width)
{
    QHeaderView* header = horizontalHeader();
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(0);

    const int columns = model_->columnCount();
    const int buttonColumn = model_->buttonIndex().column();
    QList<int> widths(columns, 0);
    long long labels = 0;
    long long values = 0;
    for (int column = 0; column < columns; ++column) {
        header->setSectionResizeMode(column, QHeaderView::Fixed);
        int w = std::max(0, sizeHintForColumn(column));
        if (column == buttonColumn && button_)
            w = std::max(w, button_->sizeHint().width());
        widths[column] = w;
        (column % 2 == 0 ? labels : values) += w;
    }

    // Labels get at most half the width; values share what is left. Integer scaling keeps the
    // sum inside the budget so no horizontal scrolling is ever needed.
    const long long labelBudget = std::min<long long>(std::max(0, width / 2), labels);
    const long long valueBudget = std::max<long long>(0, width - labelBudget);
    for (int column = 0; column < columns; ++column) {
        long long w = widths[column];
        if (column % 2 == 0 && labels > labelBudget)
            w = w * labelBudget / labels;
        else if (column % 2 == 1 && values > valueBudget)
            w = w * valueBudget / values;
        setColumnWidth(column, int(w));
    }

    header->setStretchLastSection(true);
    resizeRowsToContents();
    const QModelIndex buttonCell = model_->buttonIndex();
    if (button_ && buttonCell.isValid()) {
        const int needed = button_->sizeHint().height();
        if (rowHeight(buttonCell.row()) < needed)
            setRowHeight(buttonCell.row(), needed);
    }
}
