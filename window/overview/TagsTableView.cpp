#include "window/overview/TagsTableView.h"

#include "window/overview/LinkMarkerDelegate.h"
#include "window/overview/TagsListValueModel.h"

#include <QHeaderView>
#include <QItemSelectionModel>

TagsTableView::TagsTableView(QWidget* parent)
    : TableView(parent)
{
    horizontalHeader()->hide();
    verticalHeader()->hide();
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setTextElideMode(Qt::ElideRight);
    setWordWrap(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    // Linked tags carry a marker that the desktop's fonts may lack: it is drawn.
    setItemDelegateForColumn(1, new LinkMarkerDelegate(this));
}

void TagsTableView::setProfile(krmProfile profile)
{
    TagsListValueModel* previous = model_;
    QItemSelectionModel* previousSelection = selectionModel();

    model_ = profile ? new TagsListValueModel(profile, this) : nullptr;
    setModel(model_);
    if (model_) {
        QHeaderView* header = horizontalHeader();
        header->setStretchLastSection(false);
        header->setMinimumSectionSize(0);
        header->setSectionResizeMode(0, QHeaderView::ResizeToContents);
        header->setSectionResizeMode(1, QHeaderView::Stretch);
        connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, &TagsTableView::onSelectionChanged);
    }
    // The view leaves the old selection model to its owner, which is us.
    if (previousSelection && previousSelection != selectionModel())
        delete previousSelection;
    delete previous;
}

void TagsTableView::onSelectionChanged(const QModelIndex& current, const QModelIndex&)
{
    if (!current.isValid() || !model_)
        return;
    model_->setCurrentRow(current.row());
    emit tagSelected(model_->signatureAt(current.row()));
}

void TagsTableView::refreshColors()
{
    // Called while the new palette is still being handed to every widget, the viewers among
    // them: they are rebuilt once that is over, and once for a burst of notifications.
    if (refreshPending_)
        return;
    refreshPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            refreshPending_ = false;
            const QModelIndex current = currentIndex();
            if (current.isValid() && model_)
                emit tagSelected(model_->signatureAt(current.row()));
        },
        Qt::QueuedConnection);
}
