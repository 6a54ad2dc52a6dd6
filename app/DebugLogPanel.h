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
