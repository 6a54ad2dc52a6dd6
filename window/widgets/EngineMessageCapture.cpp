#include "window/widgets/EngineMessageCapture.h"

#include <krm.h>

#include <QCoreApplication>
#include <QThread>

void take_engine_message(const QString& message);

namespace {

EngineMessageDisplay g_display = nullptr;
bool g_installed = false;
// Touched on the user-interface thread only.
EngineMessageCapture* g_innermost = nullptr;

bool on_ui_thread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void engine_message_handler(krmContext, krmUInt32Number, const char* text)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    const QString message = QString::fromUtf8(text ? text : "");
    if (!on_ui_thread()) {
        // Widgets live on the user-interface thread only.
        QMetaObject::invokeMethod(
            app,
            [message] {
                if (g_display)
                    g_display(message);
            },
            Qt::QueuedConnection);
        return;
    }
    take_engine_message(message);
}

void install_handler()
{
    if (!g_installed) {
        krmSetLogErrorHandler(engine_message_handler);
        g_installed = true;
    }
}

}  // namespace

void take_engine_message(const QString& message)
{
    if (g_innermost) {
        if (!g_innermost->messages_.contains(message))
            g_innermost->messages_.append(message);
        return;
    }
    if (g_display)
        g_display(message);
}

void install_engine_message_display(EngineMessageDisplay display)
{
    g_display = display;
    install_handler();
}

EngineMessageCapture::EngineMessageCapture()
{
    // Without a user-interface thread there is nothing to collect for.
    if (!on_ui_thread())
        return;
    install_handler();
    outer_ = g_innermost;
    g_innermost = this;
}

EngineMessageCapture::~EngineMessageCapture()
{
    if (g_innermost == this)
        g_innermost = outer_;
}
