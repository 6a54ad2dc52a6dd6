#pragma once

#include <QWidget>

class QPlainTextEdit;

// The start-up log window: a small always-on-top window that shows each start-up step as it
// happens, for diagnosing a slow or failing start. Only created when Shift or Control is held.
class DebugLogPanel : public QWidget
{
    Q_OBJECT

public:
    DebugLogPanel();

    void append(const QString& message);
    QString text() const;

private:
    void refresh_now();

    QPlainTextEdit* text_ = nullptr;
};

// Appends a time-stamped line to the start-up log window; does nothing when the window was not
// requested (Shift or Control held at start).
void startupLog(const QString& message);

// The window startupLog writes to, null when none was requested; it may close (and delete itself)
// at any time.
DebugLogPanel* startupLogPanel();
void setStartupLogPanel(DebugLogPanel* panel);
