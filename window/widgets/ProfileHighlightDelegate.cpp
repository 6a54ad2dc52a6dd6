#include "window/widgets/ProfileHighlightDelegate.h"

#include "window/widgets/ProfilePopup.h"

#include <QIcon>
#include <QPainter>

namespace {

constexpr int kMargin = 4;
constexpr int kIconSize = 24;
constexpr int kTextAfterIcon = 34;
constexpr int kRowHeight = 30;

}  // namespace

ProfileHighlightDelegate::ProfileHighlightDelegate(ProfilePopup* popup)
    : QStyledItemDelegate(popup)
    , popup_(popup)
{
}

QColor ProfileHighlightDelegate::matchBackground()
{
    return QColor(0x20, 0x60, 0xD8);
}

QColor ProfileHighlightDelegate::matchForeground()
{
    return QColor(Qt::white);
}

QSize ProfileHighlightDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(qMax(size.height(), kRowHeight));
    return size;
}

void ProfileHighlightDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const
{
    painter->save();
    const QRect rect = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    if (selected)
        painter->fillRect(rect, Qt::black);
    else
        painter->fillRect(rect, option.palette.base());

    int textLeft = rect.x() + kMargin;
    const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
    if (!icon.isNull()) {
        const QRect iconRect(rect.x() + kMargin, rect.y() + (rect.height() - kIconSize) / 2, kIconSize, kIconSize);
        icon.paint(painter, iconRect);
        textLeft = rect.x() + kTextAfterIcon;
    }

    const QColor textColor = selected ? QColor(Qt::white) : option.palette.color(QPalette::Text);
    const QRect textRect(QPoint(textLeft, rect.top()), QPoint(rect.right() - kMargin, rect.bottom()));
    const QVariant alignmentData = index.data(Qt::TextAlignmentRole);
    const Qt::Alignment alignment =
        alignmentData.isValid() ? Qt::Alignment(alignmentData.toInt()) : (Qt::AlignLeft | Qt::AlignVCenter);
    const QString text = index.data(Qt::DisplayRole).toString();
    painter->setFont(option.font);
    const QFontMetrics metrics(option.font);

    const QString search = popup_ ? popup_->searchText() : QString();
    const int at = search.isEmpty() ? -1 : text.indexOf(search, 0, Qt::CaseInsensitive);
    if (at < 0) {
        painter->setPen(textColor);
        painter->drawText(textRect, int(alignment), metrics.elidedText(text, Qt::ElideRight, textRect.width()));
        painter->restore();
        return;
    }

    // Before the match, the match on its own background, then the rest.
    const Qt::Alignment left = Qt::AlignLeft | Qt::AlignVCenter;
    const QString before = text.left(at);
    const QString match = text.mid(at, search.size());
    const QString rest = text.mid(at + search.size());
    int x = textRect.left();

    painter->setPen(textColor);
    const int beforeWidth = metrics.horizontalAdvance(before);
    painter->drawText(QRect(x, textRect.top(), beforeWidth, textRect.height()), int(left), before);
    x += beforeWidth;

    const int matchWidth = metrics.horizontalAdvance(match);
    const QRect matchRect(x, textRect.top(), matchWidth, textRect.height());
    const int lineHeight = metrics.height();
    painter->fillRect(QRect(x, matchRect.center().y() - lineHeight / 2, matchWidth, lineHeight), matchBackground());
    painter->setPen(matchForeground());
    painter->drawText(matchRect, int(left), match);
    x += matchWidth;

    painter->setPen(textColor);
    const QRect restRect(QPoint(x, textRect.top()), QPoint(rect.right() - 2 * kMargin, textRect.bottom()));
    if (restRect.width() > 0)
        painter->drawText(restRect, int(left), metrics.elidedText(rest, Qt::ElideRight, restRect.width()));
    painter->restore();
}
