#include "overview/TagsTableView.h"

#include "overview/Signatures.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStandardItemModel>

namespace {

enum Column { SignatureColumn, TypeColumn, OffsetColumn, SizeColumn, ColumnCount };
const int kSignatureRole = Qt::UserRole + 1;

// The type signature stored in the first four bytes of the tag's data; 0 when unreadable.
krmTagTypeSignature stored_type(krmProfile profile, krmUInt32Number offset)
{
    krmIOHandler* io = krmGetProfileIOHandler(profile);
    if (!io || !io->Seek(io, offset))
        return 0;
    return krmReadTypeBase(io);
}

QStandardItem* number_item(krmUInt32Number value)
{
    auto* item = new QStandardItem(QString::number(value));
    item->setToolTip(QStringLiteral("0x%1").arg(value, 0, 16));
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

}  // namespace

TagsTableView::TagsTableView(QWidget* parent)
    : QTableView(parent)
    , model_(new QStandardItemModel(0, ColumnCount, this))
{
    model_->setHorizontalHeaderLabels({tr("Tag"), tr("Type"), tr("Offset"), tr("Size")});
    setModel(model_);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setStretchLastSection(true);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) { on_current_changed(current); });
}

void TagsTableView::setProfile(krmProfile profile)
{
    // Rebuilding the rows must not announce a selection: the window has just cleared its tabs.
    const bool wasBlocked = blockSignals(true);
    model_->removeRows(0, model_->rowCount());
    const krmInt32Number count = profile ? krmGetTagCount(profile) : 0;
    for (krmInt32Number i = 0; i < count; ++i) {
        const krmTagSignature signature = krmGetTagSignature(profile, krmUInt32Number(i));
        krmUInt32Number offset = 0;
        krmUInt32Number size = 0;
        const bool located = krmGetTagOffsetAndSize(profile, krmUInt32Number(i), &offset, &size);
        const krmTagTypeSignature type = located ? stored_type(profile, offset) : 0;

        auto* signatureItem = new QStandardItem(signatureText(signature));
        signatureItem->setData(signature, kSignatureRole);
        QString tip = tagName(signature);
        const krmTagSignature linked = krmTagLinkedTo(profile, signature);
        if (linked)
            tip += QStringLiteral("\n") + tr("Shares its data with '%1'").arg(signatureText(linked));
        signatureItem->setToolTip(tip);
        auto* typeItem = new QStandardItem(type ? signatureText(type) : QString());
        model_->appendRow({signatureItem, typeItem, number_item(offset), number_item(size)});
    }
    resizeColumnsToContents();
    // Sizing to contents overrides the stretch of the last column until the next resize.
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setStretchLastSection(true);
    blockSignals(wasBlocked);
}

void TagsTableView::refreshColors()
{
    const QModelIndex current = currentIndex();
    if (current.isValid())
        emit tagSelected(signature_at(current.row()));
}

void TagsTableView::on_current_changed(const QModelIndex& current)
{
    if (current.isValid())
        emit tagSelected(signature_at(current.row()));
}

krmTagSignature TagsTableView::signature_at(int row) const
{
    if (row < 0 || row >= model_->rowCount())
        return 0;
    return model_->item(row, SignatureColumn)->data(kSignatureRole).toUInt();
}
