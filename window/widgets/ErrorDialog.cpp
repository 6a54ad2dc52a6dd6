#include "window/widgets/ErrorDialog.h"

#include "window/widgets/ColorScheme.h"
#include "window/widgets/DrawnIcons.h"

#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#if defined(PRISMET_HAVE_X11)
#include <QGuiApplication>
#include <X11/Xlib.h>
#endif

namespace {

const int kIconSize = 22;

// Rounded corners need a compositing manager; without one the translucent corners show black,
// so the card is drawn opaque instead. Only X11 can lack one.
bool translucency_available()
{
#if defined(PRISMET_HAVE_X11)
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        Display* display = x11 ? x11->display() : nullptr;
        if (!display)
            return false;
        const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
        return XGetSelectionOwner(display, XInternAtom(display, name.constData(), False)) != None;
    }
#endif
    return true;
}

}  // namespace

struct ErrorDialog::Colors {
    QString card;
    QString text;
    QString fileName;
    QString border;
};

ErrorDialog::ErrorDialog(const QString& title, const QString& message, const QString& path, const QString& accent,
                         bool question, bool error, QWidget* parent)
    : QDialog(parent)
{
    const Colors colors = is_dark_palette() ? Colors{"#2B2B2B", "#E8E8E8", "#909090", "#404040"}
                                            : Colors{"#F5F5F5", "#1A1A1A", "#606060", "#CCCCCC"};

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::Dialog);
    const bool translucent = translucency_available();
    setAttribute(Qt::WA_TranslucentBackground, translucent);
    setModal(true);
    setFixedWidth(540);
    setWindowTitle(title);

    auto* outer = new QVBoxLayout(this);
    const int margin = translucent ? 12 : 0;
    outer->setContentsMargins(margin, margin, margin, margin);

    auto* card = new QFrame(this);
    card->setObjectName("card");
    card->setStyleSheet(
        QStringLiteral("#card { background-color: %1; border-radius: 10px; border: 1px solid %2; }").arg(colors.card, colors.border));
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(0, 0, 0, 0);
    cardLayout->setSpacing(0);
    cardLayout->addWidget(build_header(title, accent, error));
    cardLayout->addLayout(build_body(message, path, accent, question, error, colors));
    outer->addWidget(card);
}

QString ErrorDialog::message() const
{
    return message_->text();
}

QWidget* ErrorDialog::build_header(const QString& title, const QString& accent, bool error)
{
    auto* header = new QFrame(this);
    header->setObjectName("header");
    header->setFixedHeight(54);
    header->setStyleSheet(QStringLiteral("QFrame { background-color: %1;  border-top-left-radius: 9px; "
                                         "border-top-right-radius: 9px; }")
                              .arg(accent));
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(14, 0, 10, 0);

    // Drawn rather than a font's symbol, which a stock desktop may not have.
    auto* icon = new QLabel(header);
    icon->setObjectName("iconLabel");
    icon->setStyleSheet("background: transparent;");
    const qreal ratio = devicePixelRatioF();
    icon->setPixmap(error ? warning_icon(kIconSize, Qt::white, ratio) : information_icon(kIconSize, Qt::white, ratio));
    auto* titleLabel = new QLabel(QStringLiteral("  ") + title, header);
    titleLabel->setObjectName("titleLabel");
    titleLabel->setStyleSheet("color: white; font-weight: bold; font-size: 14px; background: transparent;");

    auto* close = new QPushButton(QStringLiteral("\u2715"), header);
    close->setObjectName("closeButton");
    close->setFixedSize(28, 28);
    close->setCursor(Qt::PointingHandCursor);
    close->setAutoDefault(false);
    close->setStyleSheet("QPushButton { background: transparent; color: white; border: none; font-size: 13px; }"
                         "QPushButton:hover { background: rgba(255,255,255,40); border-radius: 4px; }"
                         "QPushButton:pressed { background: rgba(0,0,0,40); border-radius: 4px; }");
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    row->addWidget(icon);
    row->addWidget(titleLabel);
    row->addStretch();
    row->addWidget(close);
    return header;
}

QLayout* ErrorDialog::build_body(const QString& message, const QString& path, const QString& accent, bool question,
                                 bool error, const Colors& colors)
{
    auto* body = new QVBoxLayout();
    body->setContentsMargins(24, 20, 24, 24);
    body->setSpacing(10);

    if (!path.isEmpty()) {
        auto* file = new QLabel(QFileInfo(path).fileName(), this);
        file->setObjectName("fileLabel");
        file->setStyleSheet(QStringLiteral("color: %1; font-size: 12px; background: transparent;").arg(colors.fileName));
        body->addWidget(file);
    }

    message_ = new QLabel(this);
    message_->setObjectName("messageLabel");
    // Engine messages are plain text; never let them be read as markup.
    message_->setTextFormat(Qt::PlainText);
    message_->setText(message);
    message_->setWordWrap(true);
    message_->setMaximumWidth(480);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message_->setStyleSheet(QStringLiteral("color: %1; font-size: 13px; background: transparent;").arg(colors.text));
    body->addWidget(message_);
    body->addSpacing(14);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    if (question) {
        auto* no = new QPushButton(tr("No"), this);
        no->setObjectName("noButton");
        no->setFixedSize(96, 34);
        no->setCursor(Qt::PointingHandCursor);
        no->setAutoDefault(false);
        no->setStyleSheet(QStringLiteral("QPushButton { background: transparent; color: %1; border: 1px solid %1;  "
                                         "border-radius: 5px; font-size: 13px; font-weight: bold; }"
                                         "QPushButton:hover   { background: rgba(36,114,164,40); }"
                                         "QPushButton:pressed { background: rgba(36,114,164,80); }")
                              .arg(accent));
        connect(no, &QPushButton::clicked, this, &QDialog::reject);
        buttons->addWidget(no);
        buttons->addSpacing(8);
    }
    auto* main = new QPushButton(question ? tr("Yes") : tr("OK"), this);
    main->setObjectName("okButton");
    main->setFixedSize(96, 34);
    main->setDefault(true);
    main->setCursor(Qt::PointingHandCursor);
    const QString hover = error ? QStringLiteral("#E74C3C") : QStringLiteral("#2E86C1");
    const QString pressed = error ? QStringLiteral("#A93226") : QStringLiteral("#1A5276");
    main->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: white; border: none;  "
                                       "border-radius: 5px; font-size: 13px; font-weight: bold; }"
                                       "QPushButton:hover   { background-color: %2; }"
                                       "QPushButton:pressed { background-color: %3; }")
                            .arg(accent, hover, pressed));
    connect(main, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(main);
    body->addLayout(buttons);
    return body;
}

void ErrorDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void ErrorDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - dragOffset_);
        event->accept();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void ErrorDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        dragging_ = false;
    QDialog::mouseReleaseEvent(event);
}
