#include "window/widgets/HoverInfoPopup.h"

#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Distance between the pointer and the popup's nearest corner.
const int kPointerGap = 14;

}  // namespace

HoverInfoPopup::HoverInfoPopup(QWidget* anchor)
    : QWidget(anchor, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
    , anchor_(anchor)
{
    setObjectName(QStringLiteral("HoverInfoPopup"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    build_ui();
    apply_style();
    if (anchor_)
        anchor_->installEventFilter(this);
}

void HoverInfoPopup::build_ui()
{
    title_ = new QLabel(this);
    QFont title_font = title_->font();
    title_font.setWeight(QFont::Bold);
    title_->setFont(title_font);

    text_ = new QLabel(this);
    text_->setTextFormat(Qt::RichText);
    QFont text_font = text_->font();
    if (text_font.pointSizeF() > 0)
        text_font.setPointSizeF(text_font.pointSizeF() + 1);
    else
        text_font.setPixelSize(text_font.pixelSize() + 1);
    text_->setFont(text_font);

    swatch_ = new QFrame(this);
    swatch_->setFrameShape(QFrame::Box);
    swatch_->setFixedSize(34, 34);
    swatch_->hide();

    caption_label_ = new QLabel(this);
    caption_label_->setWordWrap(true);
    caption_label_->hide();

    auto* swatch_column = new QVBoxLayout;
    swatch_column->setContentsMargins(0, 0, 0, 0);
    swatch_column->setSpacing(4);
    swatch_column->addWidget(swatch_, 0, Qt::AlignTop);
    swatch_column->addWidget(caption_label_, 0, Qt::AlignTop);
    swatch_column->addStretch(1);

    auto* text_column = new QVBoxLayout;
    text_column->setContentsMargins(0, 0, 0, 0);
    text_column->setSpacing(4);
    text_column->addWidget(title_);
    text_column->addWidget(text_);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(10, 10, 10, 10);
    grid->setHorizontalSpacing(10);
    grid->addLayout(swatch_column, 0, 0);
    grid->addLayout(text_column, 0, 1);
}

void HoverInfoPopup::apply_style()
{
    const QPalette pal = palette();
    const QColor base = pal.color(QPalette::ToolTipBase);
    const QColor text = pal.color(QPalette::ToolTipText);
    setStyleSheet(QStringLiteral("#HoverInfoPopup { background: %1; border: 1px solid %2; }"
                                 "#HoverInfoPopup QLabel { color: %3; }")
                      .arg(base.name(QColor::HexRgb), text.darker(160).name(QColor::HexRgb),
                           text.name(QColor::HexRgb)));
    // A style sheet paints the background of a plain QWidget only with this attribute.
    setAttribute(Qt::WA_StyledBackground);
}

QString HoverInfoPopup::shownTitle() const
{
    return title_->text();
}

QString HoverInfoPopup::shownText() const
{
    return text_->text();
}

void HoverInfoPopup::show_info(const QString& title, const QString& rich_text, const QPoint& global_position,
                               const QColor& color, const QString& caption)
{
    if (title.isEmpty() && rich_text.isEmpty()) {
        hide();
        return;
    }
    if (title != title_->text() || rich_text != text_->text() || color != color_ || caption != caption_)
        fill(title, rich_text, color, caption);
    place(global_position);
    show();
    raise();
}

void HoverInfoPopup::fill(const QString& title, const QString& rich_text, const QColor& color, const QString& caption)
{
    title_->setText(title);
    title_->setVisible(!title.isEmpty());
    text_->setText(rich_text);

    const bool has_swatch = color.isValid();
    swatch_->setVisible(has_swatch);
    swatch_->setToolTip(caption);
    caption_label_->setText(caption);
    caption_label_->setVisible(has_swatch && !caption.isEmpty());
    if (has_swatch)
        swatch_->setStyleSheet(
            QStringLiteral("QFrame { background: %1; border: 1px solid #999; }").arg(color.name(QColor::HexRgb)));

    color_ = color;
    caption_ = caption;
    adjustSize();
}

void HoverInfoPopup::place(const QPoint& global_position)
{
    const QScreen* screen = QGuiApplication::screenAt(global_position);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QSize size = this->size();
    QPoint pos = global_position + QPoint(kPointerGap, kPointerGap);
    if (!screen) {
        move(pos);
        return;
    }

    const QRect area = screen->availableGeometry();
    const int left = area.x();
    const int top = area.y();
    const int right = area.x() + area.width();  // one past the last column
    const int bottom = area.y() + area.height();
    if (pos.x() + size.width() > right)
        pos.setX(global_position.x() - size.width() - kPointerGap);
    if (pos.y() + size.height() > bottom)
        pos.setY(global_position.y() - size.height() - kPointerGap);
    pos.setX(std::clamp(pos.x(), left, std::max(left, right - size.width())));
    pos.setY(std::clamp(pos.y(), top, std::max(top, bottom - size.height())));
    move(pos);
}

bool HoverInfoPopup::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == anchor_) {
        switch (event->type()) {
        case QEvent::Hide:
        case QEvent::Close:
        case QEvent::WindowDeactivate:
            hide();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
