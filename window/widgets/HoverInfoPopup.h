#pragma once

#include <QColor>
#include <QPoint>
#include <QString>
#include <QWidget>

class QFrame;
class QLabel;

// A small floating card near the pointer: a bold title over rich text, and optionally a colour
// swatch with a caption. It never takes focus or mouse input, never leaves the screen's available
// area, and hides itself when its anchor widget is hidden, closed or its window deactivated.
class HoverInfoPopup : public QWidget
{
    Q_OBJECT

public:
    explicit HoverInfoPopup(QWidget* anchor);

    QColor shownColor() const { return color_; }
    QString shownCaption() const { return caption_; }
    QString shownTitle() const;
    QString shownText() const;

public slots:
    // An invalid colour shows no swatch. An empty title with empty text hides the popup.
    void show_info(const QString& title, const QString& rich_text, const QPoint& global_position,
                   const QColor& color = QColor(), const QString& caption = QString());

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build_ui();
    void apply_style();
    void fill(const QString& title, const QString& rich_text, const QColor& color, const QString& caption);
    void place(const QPoint& global_position);

    QWidget* anchor_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* text_ = nullptr;
    QFrame* swatch_ = nullptr;
    QLabel* caption_label_ = nullptr;
    QColor color_;
    QString caption_;
};
