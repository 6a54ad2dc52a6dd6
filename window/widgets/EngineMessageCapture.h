#pragma once

#include <QString>
#include <QStringList>

// Engine messages of the global context go to the application's display (a modal dialog). While
// an EngineMessageCapture lives on the user-interface thread, the messages raised there are
// collected by it instead, for callers that show them in place (the page of a tag that could not
// be read), so one click does not raise a dialog per message.

using EngineMessageDisplay = void (*)(const QString& message);

// Installs the global context's error handler: messages go to the innermost capture, else to
// `display` (null drops them). Messages from other threads are displayed on the user-interface
// thread and never captured.
void install_engine_message_display(EngineMessageDisplay display);

class EngineMessageCapture
{
public:
    EngineMessageCapture();
    ~EngineMessageCapture();
    EngineMessageCapture(const EngineMessageCapture&) = delete;
    EngineMessageCapture& operator=(const EngineMessageCapture&) = delete;

    // The messages collected so far, in order, each distinct text once.
    QStringList messages() const { return messages_; }

private:
    friend void take_engine_message(const QString& message);

    EngineMessageCapture* outer_ = nullptr;
    QStringList messages_;
};
