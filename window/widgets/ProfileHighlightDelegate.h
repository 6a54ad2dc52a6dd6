#pragma once

#include <QPointer>
#include <QStyledItemDelegate>

class ProfilePopup;

// Paints the popup's items: icon, text, and the part of the text that matches the popup's
// search drawn white on blue.
class ProfileHighlightDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit ProfileHighlightDelegate(ProfilePopup* popup);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The colours of a highlighted match.
    static QColor matchBackground();
    static QColor matchForeground();

private:
    QPointer<ProfilePopup> popup_;
};
