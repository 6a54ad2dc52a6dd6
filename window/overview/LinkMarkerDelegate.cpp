#include "window/overview/LinkMarkerDelegate.h"

#include "window/widgets/DrawnIcons.h"

#include <QApplication>
#include <QPainter>

namespace {

const QString kLinkMarker = QStringLiteral("\U0001F517");

}  // namespace

void LinkMarkerDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    const qsizetype at = item.text.indexOf(kLinkMarker);
    if (at < 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QString before = item.text.left(at);
    const QString after = item.text.mid(at + kLinkMarker.size());

    // Background, selection and focus as the style draws them, then the text in three pieces.
    // The text's place is asked while the item still has its text: without one it has none.
    const QWidget* widget = item.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget).adjusted(margin, 0, -margin, 0);
    item.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
    const QPalette::ColorGroup group = !(item.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (item.state & QStyle::State_Active) ? QPalette::Normal
                                                                             : QPalette::Inactive;
    const QColor color =
        item.palette.color(group, (item.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text);

    painter->save();
    painter->setFont(item.font);
    painter->setPen(color);
    const QFontMetrics metrics(item.font);
    const int flags = int(Qt::AlignLeft | Qt::AlignVCenter) | Qt::TextSingleLine;

    const QString first = metrics.elidedText(before, item.textElideMode, text.width());
    painter->drawText(text, flags, first);
    text.setLeft(text.left() + metrics.horizontalAdvance(first));

    const int side = metrics.ascent();
    const int gap = std::max(1, side / 6);
    if (text.width() >= side + gap) {
        draw_link_marker(painter, QRectF(text.left() + gap, text.center().y() - side / 2.0 + 0.5, side, side), color);
        text.setLeft(text.left() + side + 2 * gap);
        painter->drawText(text, flags, metrics.elidedText(after, item.textElideMode, std::max(0, text.width())));
    }
    painter->restore();
}
