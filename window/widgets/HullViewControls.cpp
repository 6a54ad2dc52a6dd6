// Grid and scale controls shared by the 3D analysis views.
#include "window/widgets/HullViewControls.h"

#include "window/widgets/HullWidget.h"
#include "window/widgets/AppSettings.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>

QVariant hull_setting(const char* key, const QVariant& fallback)
{
    QSettings* settings = appSettings();
    return settings ? settings->value(QLatin1String(key), fallback) : fallback;
}

void store_hull_setting(const char* key, const QVariant& value)
{
    if (QSettings* settings = appSettings())
        settings->setValue(QLatin1String(key), value);
}

HullViewControls::HullViewControls(HullWidget* view, QWidget* owner, QBoxLayout* bar) : QObject(owner), view_(view)
{
    grid_ = new QComboBox(owner);
    grid_->setObjectName(QStringLiteral("hullGrids"));
    grid_->addItems({tr("No grids"), tr("Base grid"), tr("Full grids")});
    bar->addWidget(grid_);

    scale_ = new QCheckBox(tr("Show scale"), owner);
    scale_->setObjectName(QStringLiteral("hullScale"));
    bar->addWidget(scale_);

    gridRes_ = new QSpinBox(owner);
    gridRes_->setObjectName(QStringLiteral("hullGridRes"));
    gridRes_->setRange(4, 12);
    gridRes_->setToolTip(tr("Grid sampling rate"));
    bar->addWidget(gridRes_);

    connect(grid_, &QComboBox::currentIndexChanged, this, &HullViewControls::grid_changed);
    connect(scale_, &QCheckBox::toggled, this, &HullViewControls::scale_changed);
    connect(gridRes_, &QSpinBox::valueChanged, this, &HullViewControls::grid_res_changed);
}

void HullViewControls::load()
{
    const bool baseGrid = hull_setting("hull/show_grid", true).toBool();
    const bool sideGrids = hull_setting("hull/side_grids", false).toBool();
    const bool showScale = hull_setting("hull/show_scale", false).toBool();
    const int gridRes = hull_setting("grid_res", 8).toInt();

    const QSignalBlocker b1(grid_), b2(scale_), b3(gridRes_);
    grid_->setCurrentIndex(!baseGrid ? 0 : (sideGrids ? 2 : 1));
    scale_->setChecked(showScale);
    gridRes_->setValue(gridRes);
    view_->set_side_grids(sideGrids);
    view_->set_show_scale(showScale);
    view_->set_show_grid(baseGrid);
    view_->set_grid_res(gridRes_->value());
}

void HullViewControls::grid_changed(int index)
{
    store_hull_setting("hull/show_grid", index != 0);
    store_hull_setting("hull/side_grids", index == 2);
    view_->set_side_grids(index == 2);
    view_->set_show_grid(index != 0);
}

void HullViewControls::scale_changed(bool on)
{
    store_hull_setting("hull/show_scale", on);
    view_->set_show_scale(on);
}

void HullViewControls::grid_res_changed(int divisions)
{
    store_hull_setting("grid_res", divisions);
    view_->set_grid_res(divisions);
}
