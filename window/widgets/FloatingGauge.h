#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

// A small frameless progress popup for long computations on the user-interface thread. The
// caller owns the cancel flag; "Cancel" (or Escape) sets it, and the two update calls process
// pending events, so the button works while the caller's loop runs, and return the flag.
class FloatingGauge : public QDialog
{
    Q_OBJECT

public:
    FloatingGauge(bool* cancel_flag, QWidget* parent = nullptr);

    // Shows `text` over an indeterminate bar.
    bool set_busy(const QString& text);
    // Shows `text` and `percent` (0..100).
    bool set_progress(const QString& text, int percent);

public slots:
    // Escape and closing the popup mean Cancel: the caller's loop decides when it goes away.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void build_ui();
    void apply_style();
    bool refresh();

    bool* cancel_flag_ = nullptr;
    QWidget* container_ = nullptr;
    QLabel* label_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
