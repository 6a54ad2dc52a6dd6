// The popup with the numbers of one roundtrip sample.
#include "window/analyses/RoundtripPointPopup.h"

#include "common/analysis/GamutAnalysis.h"

#include <QColor>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

RoundtripPointPopup::RoundtripPointPopup(QWidget* view)
    : QFrame(view, Qt::Tool | Qt::FramelessWindowHint), view_(view)
{
    setObjectName(QStringLiteral("RoundtripPointPopup"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedWidth(390);
    setStyleSheet(QStringLiteral("#RoundtripPointPopup { background: #2a2a2a; border: 1px solid #555; "
                                 "border-radius: 4px; }QLabel { color: #e0e0e0; }"));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(10);
    swatch_ = new QFrame(this);
    swatch_->setFixedSize(40, 40);
    swatch_->setFrameShape(QFrame::Box);
    layout->addWidget(swatch_);

    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    title_ = new QLabel(this);
    title_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    title_->setStyleSheet(QStringLiteral(
        "QLabel { color: #b8d8ff; background: #394858; border-radius: 3px; padding: 2px 5px; }"));
    title_->setSizePolicy(QSizePolicy::Maximum, title_->sizePolicy().verticalPolicy());
    source_ = new QLabel(this);
    roundtrip_ = new QLabel(this);
    error_ = new QLabel(this);
    QFont bold = error_->font();
    bold.setWeight(QFont::Bold);
    error_->setFont(bold);
    for (QLabel* label : {title_, source_, roundtrip_, error_})
        column->addWidget(label);
    layout->addLayout(column);
}

void RoundtripPointPopup::show_point(const RoundtripResult& result, bool deviceRoundtrip, const QPoint& position)
{
    const auto f = [](double v) { return QString::number(v, 'f', 2); };
    title_->setText(deviceRoundtrip ? tr("Device roundtrip") : tr("PCS roundtrip"));
    source_->setText(tr("Source Lab:  L* %1   a* %2   b* %3")
                         .arg(f(result.source[0]), f(result.source[1]), f(result.source[2])));
    roundtrip_->setText(tr("Roundtrip:  L* %1   a* %2   b* %3")
                            .arg(f(result.roundtrip[0]), f(result.roundtrip[1]), f(result.roundtrip[2])));
    error_->setText(
        tr("\u0394E00: %1  \u0394E76: %2").arg(f(result.de00), f(delta_e76(result.source, result.roundtrip))));
    const auto channel = [](float v) { return int(std::lround(double(v) * 255.0)); };
    const QColor colour(channel(result.display[0]), channel(result.display[1]), channel(result.display[2]));
    swatch_->setStyleSheet(
        QStringLiteral("QFrame { background-color: %1; border: 1px solid #888; }").arg(colour.name()));

    adjustSize();
    const QRect bounds(view_->mapToGlobal(QPoint(0, 0)), view_->size());
    move(placement(view_->mapToGlobal(position), size(), bounds));
    show();
    raise();
}

QPoint RoundtripPointPopup::placement(const QPoint& p, const QSize& size, const QRect& bounds)
{
    int x = p.x() + 14;
    int y = p.y() + 14;
    if (x + size.width() > bounds.right())
        x = p.x() - size.width() - 14;
    if (y + size.height() > bounds.bottom())
        y = p.y() - size.height() - 14;
    // Limits applied in this order so a view smaller than the popup still shows its top left.
    x = std::max(bounds.left(), std::min(x, bounds.right() - size.width()));
    y = std::max(bounds.top(), std::min(y, bounds.bottom() - size.height()));
    return QPoint(x, y);
}
