#pragma once

#include <QObject>
#include <QVariant>

class HullWidget;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QSpinBox;
class QWidget;

// The grid, scale and grid-division controls the gamut and roundtrip views share, bound to their
// 3D view and to the settings `hull/show_grid`, `hull/side_grids`, `hull/show_scale` and `grid_res`.
class HullViewControls : public QObject
{
    Q_OBJECT

public:
    // Creates the controls as children of `owner` and appends them to `bar`.
    HullViewControls(HullWidget* view, QWidget* owner, QBoxLayout* bar);

    QComboBox* gridCombo() const { return grid_; }
    QCheckBox* scaleCheck() const { return scale_; }
    QSpinBox* gridResSpin() const { return gridRes_; }

    // Sets the controls (signals blocked) and the view from the stored settings.
    void load();

private slots:
    void grid_changed(int index);
    void scale_changed(bool on);
    void grid_res_changed(int divisions);

private:
    HullWidget* view_;
    QComboBox* grid_ = nullptr;
    QCheckBox* scale_ = nullptr;
    QSpinBox* gridRes_ = nullptr;
};

// The application's settings store, tolerant of running without one.
QVariant hull_setting(const char* key, const QVariant& fallback);
void store_hull_setting(const char* key, const QVariant& value);
