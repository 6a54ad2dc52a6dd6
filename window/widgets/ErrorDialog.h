#pragma once

#include <QDialog>
#include <QPoint>

class QLabel;
class QPushButton;

// The application's message dialog: a frameless card with a coloured header, the file name the
// message is about, the message and OK (or Yes / No). Movable by dragging anywhere on it.
class ErrorDialog : public QDialog
{
    Q_OBJECT

public:
    ErrorDialog(const QString& title, const QString& message, const QString& path, const QString& accent,
                bool question, bool error, QWidget* parent = nullptr);

    QString message() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct Colors;

    QWidget* build_header(const QString& title, const QString& accent, bool error);
    QLayout* build_body(const QString& message, const QString& path, const QString& accent, bool question,
                        bool error, const Colors& colors);

    QLabel* message_ = nullptr;
    bool dragging_ = false;
    QPoint dragOffset_;
};
