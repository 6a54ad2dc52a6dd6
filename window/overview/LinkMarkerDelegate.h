#pragma once

#include <QStyledItemDelegate>

// Paints item texts that hold the link marker "🔗" with the marker drawn as chain links, so the
// tags table shows it whatever fonts the desktop has. Other texts are painted as usual.
class LinkMarkerDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
