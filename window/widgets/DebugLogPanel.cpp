#include "window/widgets/DebugLogPanel.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QTime>
#include <QVBoxLayout>

namespace {

QPointer<DebugLogPanel> g_logPanel;

}  // namespace

void startupLog(const QString& message)
{
    if (g_logPanel)
        g_logPanel->append(message);
}

DebugLogPanel* startupLogPanel()
{
    return g_logPanel;
}

void setStartupLogPanel(DebugLogPanel* panel)
{
    g_logPanel = panel;
}

DebugLogPanel::DebugLogPanel()
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(tr("Prismet Startup Log"));
    resize(700, 400);
    // A diagnostic window must not keep the program alive once the main window is closed.
    setAttribute(Qt::WA_QuitOnClose, false);

    auto* layout = new QVBoxLayout(this);
    text_ = new QPlainTextEdit(this);
    text_->setReadOnly(true);
    text_->setFont(QFont("Courier New", 9));
    layout->addWidget(text_);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.left() + 10, area.bottom() - height() - 10);
    }
    show();
    refresh_now();
}

void DebugLogPanel::append(const QString& message)
{
    text_->appendPlainText(QStringLiteral("[%1] %2").arg(QTime::currentTime().toString("hh:mm:ss.zzz"), message));
    refresh_now();
}

QString DebugLogPanel::text() const
{
    return text_->toPlainText();
}

// The slow start-up steps block the event loop, so the panel paints itself at once.
void DebugLogPanel::refresh_now()
{
    repaint();
    update();
    QCoreApplication::processEvents();
}
