// The floating progress popup with its Cancel button.
#include "window/widgets/FloatingGauge.h"

#include "window/widgets/ChannelVocabulary.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

FloatingGauge::FloatingGauge(bool* cancel_flag, QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Dialog)
    , cancel_flag_(cancel_flag)
{
    setAttribute(Qt::WA_TranslucentBackground);
    build_ui();
    apply_style();
}

void FloatingGauge::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    raise();
    activateWindow();
}

void FloatingGauge::build_ui()
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    container_ = new QWidget(this);
    container_->setObjectName("container");
    // Style sheets paint a plain QWidget's background only with this attribute.
    container_->setAttribute(Qt::WA_StyledBackground);
    outer->addWidget(container_);

    auto* layout = new QVBoxLayout(container_);
    layout->setContentsMargins(20, 20, 20, 20);
    container_->setMinimumWidth(280);  // room for a line of status text
    label_ = new QLabel(tr("Working"), container_);
    label_->setObjectName("gaugeLabel");
    label_->setAlignment(Qt::AlignCenter);
    bar_ = new QProgressBar(container_);
    bar_->setObjectName("gaugeBar");
    bar_->setRange(0, 100);
    bar_->setValue(0);
    cancel_ = new QPushButton(tr("Cancel"), container_);
    cancel_->setObjectName("gaugeCancel");
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addWidget(cancel_, 0, Qt::AlignCenter);

    connect(cancel_, &QPushButton::clicked, this, &FloatingGauge::reject);
}

void FloatingGauge::apply_style()
{
    container_->setStyleSheet(is_dark_palette(palette())
        ? QStringLiteral("#container { background: #2b2b2b; border-radius: 10px; }")
        : QStringLiteral("#container { background: white; border-radius: 10px; }"));
}

void FloatingGauge::reject()
{
    if (cancel_flag_)
        *cancel_flag_ = true;
}

bool FloatingGauge::set_busy(const QString& text)
{
    label_->setText(text);
    bar_->setRange(0, 0);
    return refresh();
}

bool FloatingGauge::set_progress(const QString& text, int percent)
{
    label_->setText(text);
    bar_->setRange(0, 100);
    bar_->setValue(qBound(0, percent, 100));
    return refresh();
}

bool FloatingGauge::refresh()
{
    repaint();
    QCoreApplication::processEvents();
    return cancel_flag_ && *cancel_flag_;
}
