#pragma once

#include "window/widgets/IProfileComponentView.h"

#include <krm.h>

#include <QColor>
#include <QString>
#include <QWidget>

#include <vector>

class HullWidget;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QSlider;
class QSpinBox;

// The small card shown beside a clicked colour of the named-colour cloud: swatch, name, L*a*b*
// and, for a point with a vector, the difference to its end.
class NamedColorPointPopup : public QWidget
{
    Q_OBJECT

public:
    explicit NamedColorPointPopup(QWidget* parent);

    // Fills the card; an invalid difference leaves its line empty.
    void setColor(const QString& name, const krmCIELab& lab, const QColor& color, const QString& difference);
    // Shows the card next to `position` (view pixels), kept inside `area` (global coordinates).
    void showAt(const QPoint& globalPosition, const QRect& area);

    QLabel* nameLabel() const { return name_; }
    QLabel* valueLabel() const { return value_; }
    QLabel* differenceLabel() const { return difference_; }
    QFrame* swatch() const { return swatch_; }

private:
    QLabel* name_ = nullptr;
    QLabel* value_ = nullptr;
    QLabel* difference_ = nullptr;
    QFrame* swatch_ = nullptr;
};

// The colours of a named-colour list or colorant table as a point cloud in the 3D L*a*b* view,
// each in its own screen colour; clicking one shows its card. Throws QException when the tag
// cannot be read; without a screen transform the view stays empty.
class NamedColorGamutComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    struct Entry {
        QString name;
        krmCIELab lab;
        QColor color;
    };

    NamedColorGamutComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);

    HullWidget* view() const { return view_; }
    NamedColorPointPopup* popup() const { return popup_; }
    const std::vector<Entry>& entries() const { return entries_; }
    QSlider* pointSizeSlider() const { return pointSize_; }
    QComboBox* gridBox() const { return gridBox_; }
    QCheckBox* scaleBox() const { return showScale_; }
    QSpinBox* gridSpin() const { return gridRes_; }

private slots:
    void show_point(int id, float l, float a, float b, float vecL, float vecA, float vecB);

private:
    void collect_colors(krmProfile profile, krmTagSignature sig, const krmNamedColorList* list);
    QWidget* build_controls();
    void load_settings();
    void connect_signals();

    HullWidget* view_ = nullptr;
    NamedColorPointPopup* popup_ = nullptr;
    QSlider* pointSize_ = nullptr;
    QComboBox* gridBox_ = nullptr;
    QCheckBox* showScale_ = nullptr;
    QSpinBox* gridRes_ = nullptr;
    std::vector<Entry> entries_;
};
