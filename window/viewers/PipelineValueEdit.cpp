#include "window/viewers/PipelineValueEdit.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QTimer>

PipelineValueEdit::PipelineValueEdit(QWidget* parent) : QDoubleSpinBox(parent) {}

QSize PipelineValueEdit::sizeHint() const
{
    ensurePolished();
    const QFontMetrics metrics(font());
    const QString widest = QStringLiteral("-999.") + QString(decimals(), QLatin1Char('9'));
    const QSize content(metrics.horizontalAdvance(widest) + 4, metrics.height());
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    return style()->sizeFromContents(QStyle::CT_SpinBox, &option, content, this);
}

QSize PipelineValueEdit::minimumSizeHint() const
{
    return sizeHint();
}

void PipelineValueEdit::keyPressEvent(QKeyEvent* event)
{
    QDoubleSpinBox::keyPressEvent(event);
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && next_) {
        next_->setFocus(Qt::TabFocusReason);
        next_->selectAll();
    }
}

void PipelineValueEdit::focusInEvent(QFocusEvent* event)
{
    QDoubleSpinBox::focusInEvent(event);
    // Selecting at once would be undone by the click that gave the focus.
    QTimer::singleShot(0, this, &QAbstractSpinBox::selectAll);
}
